// The log control's text echoed to a stream as the log grows. CR LF is a line
// break. The log only ever takes back its last line (a block line replaced by
// the next one); on a terminal such a line is rewritten in place, elsewhere a
// line is printed once it can no longer be taken back, so that a file or pipe
// gets every final line exactly once.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace korvane {

class LogEcho {
 public:
  LogEcho(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  // The control's selection and its replacement, as the log console makes them.
  void SetSelection(std::size_t from, std::size_t to);
  void ReplaceSelection(std::string_view text);

  // Prints what is still pending and ends the line; later text starts a new one.
  void BreakLine();
  // The same at the end of the run.
  void Finish() { BreakLine(); }

  const std::string& Text() const { return text_; }

 private:
  void ShowOnTerminal();
  void ShowFinalLines();
  void Emit(std::size_t from, std::size_t to);

  std::ostream& out_;
  const bool terminal_;
  std::string text_;  // the control's text
  std::size_t selFrom_ = 0, selTo_ = 0;
  // Characters of text_ already on the output; on a terminal the screen shows
  // exactly text_[0, printed_).
  std::size_t printed_ = 0;
  // A line break was printed that the text does not hold yet: the next CR LF
  // of the text is that break.
  bool brokenEarly_ = false;
  bool lineOpen_ = false;  // something printed since the last line break
};

}  // namespace korvane
