// RtMidi reports an error either by throwing or, once an error callback is
// installed, through that callback and a normal return. Every RtMidi object we
// make gets a slot as its callback, so a failure is seen the same way both
// times and nothing reaches stderr.
#pragma once

#include <mutex>
#include <string>

#include <rtmidi/RtMidi.h>

namespace korvane::rtmidi_backend {

class ErrorSlot {
 public:
  void Attach(RtMidi& midi) { midi.setErrorCallback(&ErrorSlot::Record, this); }

  void Clear() {
    std::lock_guard lock(mutex_);
    failed_ = false;
  }

  // Anything reported since the last Clear, warnings included.
  bool Failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
  }

 private:
  // RtMidi may report from its own thread as well as from the caller's.
  static void Record(RtMidiError::Type, const std::string&, void* self) {
    auto* slot = static_cast<ErrorSlot*>(self);
    std::lock_guard lock(slot->mutex_);
    slot->failed_ = true;
  }

  mutable std::mutex mutex_;
  bool failed_ = false;
};

}  // namespace korvane::rtmidi_backend
