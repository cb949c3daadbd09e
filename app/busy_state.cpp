#include "app/busy_state.h"

#include "app/window.h"

namespace korvane {

void BusyState::EnterBusy() {
  std::lock_guard lock(mutex_);
  const int before = counter_.fetch_add(1, std::memory_order_acq_rel);
  if (before != 0 || window_ == nullptr)
    return;  // nested: nothing visible changes
  window_->SetWaitCursor();
  cursorSaved_ = true;
  for (int id : {kExitButton, kUnusedButton1009, kUnusedButton1010, kRescanButton, kOpenButton}) {
    window_->HideButton(id);
  }
}

void BusyState::LeaveBusy() {
  std::lock_guard lock(mutex_);
  if (counter_.load(std::memory_order_acquire) > 1) {
    counter_.fetch_sub(1, std::memory_order_acq_rel);
    return;  // an outer enter is still in force
  }
  // Never below 0: a leave without an enter still ends the busy state.
  counter_.store(0, std::memory_order_release);
  if (window_ == nullptr)
    return;
  if (cursorSaved_) {
    window_->RestoreCursor();
    cursorSaved_ = false;
  }
  window_->ShowButton(kExitButton);
}

}  // namespace korvane
