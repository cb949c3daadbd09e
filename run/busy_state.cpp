#include "run/busy_state.h"

#include "run/window.h"

namespace korvane {

void BusyState::EnterBusy() {
  std::uint64_t turn = 0;
  Change change = Change::kNone;
  {
    std::lock_guard lock(mutex_);
    turn = nextTurn_++;
    // Nested: nothing visible changes.
    if (counter_.fetch_add(1, std::memory_order_acq_rel) == 0)
      change = Change::kToBusy;
  }
  Show(turn, change);
}

void BusyState::LeaveBusy() {
  std::uint64_t turn = 0;
  Change change = Change::kNone;
  {
    std::lock_guard lock(mutex_);
    turn = nextTurn_++;
    if (counter_.load(std::memory_order_acquire) > 1) {
      counter_.fetch_sub(1, std::memory_order_acq_rel);  // an outer enter is still in force
    } else {
      // Never below 0: a leave without an enter still ends the busy state.
      counter_.store(0, std::memory_order_release);
      change = Change::kToIdle;
    }
  }
  Show(turn, change);
}

void BusyState::Show(std::uint64_t turn, Change change) {
  {
    std::unique_lock lock(mutex_);
    turnDone_.wait(lock, [&] { return shownTurns_ == turn; });
  }
  if (window_ != nullptr && change == Change::kToBusy) {
    window_->SetWaitCursor();
    cursorSaved_ = true;
    for (int id : {kExitButton, kUnusedButton1009, kUnusedButton1010, kRescanButton, kOpenButton})
      window_->HideButton(id);
  } else if (window_ != nullptr && change == Change::kToIdle) {
    if (cursorSaved_) {
      window_->RestoreCursor();
      cursorSaved_ = false;
    }
    window_->ShowButton(kExitButton);
  }
  {
    std::lock_guard lock(mutex_);
    ++shownTurns_;
  }
  turnDone_.notify_all();
}

}  // namespace korvane
