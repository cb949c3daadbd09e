// Manual-reset events and the waits on them, in the shape of the kernel calls
// that the engine was laid out for. Set() is safe to call from a MIDI driver's
// callback thread: it takes a short lock and never allocates.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

// The wait results; on Windows the platform's own.
#include "midi/winmm.h"

namespace korvane {

class ManualResetEvent {
 public:
  ManualResetEvent() = default;
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset() { signalled_.store(false, std::memory_order_release); }
  bool IsSet() const { return signalled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> signalled_{false};
};

// Waits until the event is set or the time-out passes: WAIT_OBJECT_0 or WAIT_TIMEOUT.
std::uint32_t WaitForEvent(const ManualResetEvent& event, std::uint32_t timeoutMs);

// Waits until any of the events is set: WAIT_OBJECT_0 + the lowest index that is
// set, WAIT_TIMEOUT, or WAIT_FAILED for an empty set or a null entry.
std::uint32_t WaitForAnyEvent(std::span<ManualResetEvent* const> events, std::uint32_t timeoutMs);

}  // namespace korvane
