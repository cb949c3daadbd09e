// The log: a growing text buffer, CR LF line breaks as the messages carry
// them, mirrored into the window's log control by handing it only the new text.
//
// Callers never overlap in the workflow, but the text is also read by front
// ends at any time, so the buffer is guarded by a lock. The lock is held across
// the control update so that the control never shows a partly applied change;
// the window thread never logs while a worker does.
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
