// One updater per port. MIDI ports on Linux and macOS are shared: nothing
// stops a second updater from sending into the same controller, which would
// interleave two firmware streams. Each port we open is locked with an
// advisory lock (flock) on a file named for it under the user's runtime
// directory, held from open to close; the kernel releases it when the process
// ends, however it ends. A port another updater holds answers as WinMM does
// for a port held elsewhere: MMSYSERR_ALLOCATED.
#pragma once

#include <string>
#include <string_view>

namespace korvane::rtmidi_backend {

class PortLock {
 public:
  enum class Outcome {
    kHeld,         // the lock is ours
    kBusy,         // another holder has it
    kUnavailable,  // no safe place for lock files: the port opens unlocked
  };

  PortLock() = default;
  ~PortLock();
  PortLock(PortLock&& other) noexcept;
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Tries to take the lock named key without waiting; on kHeld this object
  // holds it until it is destroyed or released.
  Outcome Take(std::string_view key);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The key of a port: its MIDI system, direction and name, and for JACK the
// server's name, since ports of two servers are different ports.
std::string PortLockKey(std::string_view api, bool input, std::string_view portName);

// The lock file's name for a key: safe characters only, bounded in length,
// different keys giving different names.
std::string PortLockFileName(std::string_view key);

}  // namespace korvane::rtmidi_backend
