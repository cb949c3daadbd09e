// One updater per port. MIDI ports on Linux and macOS are shared: nothing
// stops a second updater from sending into the same controller, which would
// interleave two firmware streams. Each port we open is locked with an
// advisory lock (flock) on a file named for it in one folder for the whole
// machine, chosen without the environment, so updaters of every user and
// session (desktop, ssh, sudo, cron) see each other's locks. The lock is held
// from open to close; the kernel releases it when the process ends, however
// it ends. The file is removed when its port is released, so the folder
// holds at most one file per port in use.
//
// A port another updater holds answers as WinMM does for a port held
// elsewhere: MMSYSERR_ALLOCATED. So does a port whose lock cannot be taken
// for any other reason: an unlocked port could be sent into twice, so it is
// not used, and the reason is said once (BackendNotice).
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

// /run/lock/korvane-update where /run/lock is open to all as /tmp is, else
// /tmp/korvane-update.
std::string PortLockFolder();

class PortLock {
 public:
  enum class Outcome {
    kHeld,    // the lock is ours
    kBusy,    // another holder has it
    kFailed,  // it could not be taken; Failure() says why
  };

  PortLock() : PortLock(PortLockFolder()) {}
  // Another folder than the machine's: for tests only.
  explicit PortLock(std::string folder) : folder_(std::move(folder)) {}
  ~PortLock();
  PortLock(PortLock&& other) noexcept;
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Tries to take the lock named key without waiting; on kHeld this object
  // holds it until it is destroyed or released.
  Outcome Take(std::string_view key);
  // Removes the lock file, then lets the lock go.
  void Release();
  bool Held() const { return fd_ >= 0; }
  // After kFailed: the path and the system's reason, "path: reason".
  const std::string& Failure() const { return failure_; }

 private:
  enum class Attempt { kHeld, kBusy, kFailed, kReplaced };
  Attempt TakeOnce(const std::string& path);
  Attempt Fail(const std::string& path, const std::string& reason);

  std::string folder_;
  std::string path_;  // of the file held
  std::string failure_;
  int fd_ = -1;
};

// What opening the port named portName answers for its lock: MMSYSERR_NOERROR
// with lock holding it, or MMSYSERR_ALLOCATED when another updater holds it
// or it cannot be taken (said once, through BackendNotice).
MMRESULT LockForOpen(PortLock& lock, std::string_view key, std::string_view portName);

// The key of a port: its MIDI system, direction and name, and for JACK the
// server's name, since ports of two servers are different ports.
std::string PortLockKey(std::string_view api, bool input, std::string_view portName);

// The lock file's name for a key: safe characters only, bounded in length,
// different keys giving different names.
std::string PortLockFileName(std::string_view key);

}  // namespace korvane::rtmidi_backend
