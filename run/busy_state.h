// The busy state that workers hold while they must not be disturbed: the wait
// cursor shows and the five buttons are hidden. Enters nest.
//
// Workers change it from their threads; the close guards read the counter on
// the window thread, so the counter is atomic. The window is called outside
// the lock: each enter and leave takes a turn under the lock, and their
// visible effects follow in the order of the turns (the check worker leaving
// while the scan worker enters must not end with Exit shown while busy).
// Only the threads that enter and leave wait for a turn, never the window
// thread, so a worker waiting on a window call cannot hold it up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
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
  enum class Change { kNone, kToBusy, kToIdle };
  // Runs the change's window calls once the turns before it are done.
  void Show(std::uint64_t turn, Change change);

  std::mutex mutex_;  // guards the turns

  std::condition_variable turnDone_;
  Window* window_;
  std::atomic<int> counter_{0};
  std::uint64_t nextTurn_ = 0;
  std::uint64_t shownTurns_ = 0;
  bool cursorSaved_ = false;  // only the thread whose turn it is touches it
};

// Holds the busy state for a worker's scope: entered at once, left at the end
// of the scope or at Leave(), whichever comes first, also when the worker
// ends by an exception.
class BusyScope {
 public:
  explicit BusyScope(BusyState& busy) : busy_(&busy) { busy.EnterBusy(); }
  ~BusyScope() { Leave(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

  void Leave() {
    if (busy_ != nullptr)
      busy_->LeaveBusy();
    busy_ = nullptr;
  }

 private:
  BusyState* busy_;
};

}  // namespace korvane
