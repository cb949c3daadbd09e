// What reaches the page's window thread: steps the engine posts, and what the
// user does on the page (the browser's main thread pushes those). The window
// thread takes them one at a time, as a window's message loop would.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace korvane::web {

struct PageEvent {
  enum Kind { kStep, kButton, kPaint, kDevicesChanged, kClose };
  Kind kind;
  int value = 0;
};

class PageEvents {
 public:
  void Push(PageEvent event) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(event);
    }
    ready_.notify_one();
  }
  PageEvent Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !queue_.empty(); });
    PageEvent event = queue_.front();
    queue_.pop_front();
    return event;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<PageEvent> queue_;
};

}  // namespace korvane::web
