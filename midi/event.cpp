#include "midi/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace korvane {
namespace {

// One lock and one condition for every event: a wait on several events then
// needs no registration, and Set() stays a constant amount of work.
std::mutex& HubMutex() {
  static std::mutex mutex;
  return mutex;
}

std::condition_variable& HubCondition() {
  static std::condition_variable condition;
  return condition;
}

// Index of the lowest set event, or -1.
int LowestSet(std::span<ManualResetEvent* const> events) {
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i]->IsSet())
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

void ManualResetEvent::Set() {
  {
    // Storing under the lock closes the gap between a waiter's test and its sleep.
    std::lock_guard lock(HubMutex());
    signalled_.store(true, std::memory_order_release);
  }
  HubCondition().notify_all();
}

std::uint32_t WaitForEvent(const ManualResetEvent& event, std::uint32_t timeoutMs) {
  ManualResetEvent* const one[] = {const_cast<ManualResetEvent*>(&event)};
  return WaitForAnyEvent(one, timeoutMs);
}

std::uint32_t WaitForAnyEvent(std::span<ManualResetEvent* const> events, std::uint32_t timeoutMs) {
  if (events.empty())
    return WAIT_FAILED;
  for (ManualResetEvent* event : events) {
    if (event == nullptr)
      return WAIT_FAILED;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(HubMutex());
  int index = LowestSet(events);
  while (index < 0) {
    if (HubCondition().wait_until(lock, deadline) == std::cv_status::timeout) {
      index = LowestSet(events);
      break;
    }
    index = LowestSet(events);
  }
  return index < 0 ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<std::uint32_t>(index);
}

}  // namespace korvane
