// The busy state that workers hold while they must not be disturbed: the wait
// cursor shows and the five buttons are hidden. Enters nest.
//
// Workers change it from their threads; the close guards read the counter on
// the window thread, so the counter is atomic. A lock serialises an enter and
// a leave that meet (the check worker leaving while the scan worker enters), so
// the visible effects always match the counter.
#pragma once

#include <atomic>
#include <mutex>

namespace korvane {

class Window;

class BusyState {
 public:
  explicit BusyState(Window* window = nullptr) : window_(window) {}

  void EnterBusy();
  void LeaveBusy();
  int Counter() const { return counter_.load(std::memory_order_acquire); }
  bool IsBusy() const { return Counter() != 0; }

 private:
  std::mutex mutex_;
  Window* window_;
  std::atomic<int> counter_{0};
  bool cursorSaved_ = false;
};

}  // namespace korvane
