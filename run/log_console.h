// The log: a growing text buffer, CR LF line breaks as the messages carry
// them, mirrored into the window's log control by handing it only the new text.
//
// The text is read by front ends at any time, so the buffer is guarded by a
// lock; the window is called outside it, so that reading the text on the
// window thread never waits for a worker that waits for the window. The
// control gets each change in the order the buffer took them as long as one
// thread logs at a time, which the workflow's order of steps ensures.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace korvane {

class Window;

class LogConsole {
 public:
  static constexpr std::size_t kBlockSize = 4096;

  explicit LogConsole(Window* window = nullptr) : window_(window) {}

  void AppendLog(std::string_view text);
  // Removes the last CR LF (searched from the end down to position 1) and
  // everything after it.
  void RemoveLastLogLine();

  std::string Text() const;
  std::size_t Capacity() const;
  // Frees the block: the log is empty again and the next append starts anew.
  void Release();

 private:
  bool GrowFor(std::size_t needed);

  mutable std::mutex mutex_;
  Window* window_;
  std::unique_ptr<char[]> block_;
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
};

}  // namespace korvane
