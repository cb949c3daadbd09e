#include "run/log_console.h"

#include <cstring>
#include <new>

#include "run/window.h"

namespace korvane {

bool LogConsole::GrowFor(std::size_t needed) {
  // The block grows in whole steps of 4096 bytes until the text and its
  // terminator fit; a text of any length only takes more steps.
  std::size_t capacity = capacity_ == 0 ? kBlockSize : capacity_;
  while (needed >= capacity)
    capacity += kBlockSize;
  if (block_ && capacity == capacity_)
    return true;
  std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
  if (!grown)
    return false;
  std::memset(grown.get(), 0, capacity);
  if (block_)
    std::memcpy(grown.get(), block_.get(), capacity_);
  block_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

void LogConsole::AppendLog(std::string_view text) {
  std::size_t start = 0;
  {
    std::lock_guard lock(mutex_);
    // Without memory the text is dropped and the log stays as it was.
    if (!GrowFor(length_ + text.size()))
      return;
    start = length_;
    std::memcpy(block_.get() + start, text.data(), text.size());
    length_ += text.size();
    block_[length_] = '\0';
  }
  if (window_) {
    window_->LogSetSelection(start, start);
    window_->LogReplaceSelection(text);
    window_->LogScrollCaret();
  }
}

void LogConsole::RemoveLastLogLine() {
  std::size_t cut = 0;
  std::size_t oldLength = 0;
  {
    std::lock_guard lock(mutex_);
    // Position 0 is never examined: a CR there cannot end a line.
    for (std::size_t i = length_ == 0 ? 0 : length_ - 1; i >= 1; --i) {
      if (block_[i - 1] == '\r' && block_[i] == '\n') {
        if (i - 1 == 0)
          return;
        cut = i - 1;
        oldLength = length_;
        block_[cut] = '\0';
        length_ = cut;
        break;
      }
    }
  }
  if (oldLength == 0 || !window_)
    return;
  window_->LogSetSelection(cut, oldLength);
  window_->LogReplaceSelection("");
  window_->LogScrollCaret();
}

std::string LogConsole::Text() const {
  std::lock_guard lock(mutex_);
  return block_ ? std::string(block_.get(), length_) : std::string();
}

std::size_t LogConsole::Capacity() const {
  std::lock_guard lock(mutex_);
  return capacity_;
}

void LogConsole::Release() {
  std::lock_guard lock(mutex_);
  block_.reset();
  capacity_ = 0;
  length_ = 0;
}

}  // namespace korvane
