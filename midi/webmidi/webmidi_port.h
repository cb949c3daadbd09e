// One open Web MIDI port of either direction: its WinMM callback and, for an
// input, the queue of headers waiting for SysEx.
//
// Locking: mutex_ guards the queue, the flags and the count of callbacks under
// way. The browser's main thread takes it to deliver a message, so nothing
// that holds it may wait for the main thread (no proxied call under it).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "midi/header_queue.h"
#include "midi/winmm.h"

namespace korvane::webmidi {

class WebMidiPort {
 public:
  WebMidiPort(std::uintptr_t handle, bool input, DWORD_PTR callback, DWORD_PTR instance)
      : handle_(handle), input_(input), callback_(callback), instance_(instance) {}
  WebMidiPort(const WebMidiPort&) = delete;
  WebMidiPort& operator=(const WebMidiPort&) = delete;

  MMRESULT Start();
  MMRESULT Stop();
  MMRESULT Reset();
  MMRESULT Prepare(MIDIHDR& header);
  MMRESULT Unprepare(MIDIHDR& header);
  MMRESULT AddBuffer(MIDIHDR& header);
  // Refuses while a header is queued; then waits until no callback is under
  // way, after which only the close message calls back.
  MMRESULT BeginClose();

  // On the browser's main thread: a message the port received.
  void Deliver(const std::uint8_t* data, std::size_t length) noexcept;
  // Marks a header sent and calls MOM_DONE (output).
  void Sent(MIDIHDR& header) noexcept;

  void Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) noexcept;

 private:
  const std::uintptr_t handle_;
  const bool input_;
  const DWORD_PTR callback_;
  const DWORD_PTR instance_;

  std::mutex mutex_;
  std::condition_variable idle_;
  HeaderQueue queue_;
  bool started_ = false;
  bool closed_ = false;
  int notifying_ = 0;
  std::uint32_t startMs_ = 0;
};

}  // namespace korvane::webmidi
