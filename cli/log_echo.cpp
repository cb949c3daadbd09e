#include "cli/log_echo.h"

#include <algorithm>

namespace korvane {

namespace {
constexpr std::string_view kBreak = "\r\n";
// Erase the line the cursor is on, and the same after moving one line up.
constexpr std::string_view kEraseLine = "\r\x1b[K";
constexpr std::string_view kEraseLineAbove = "\r\x1b[K\x1b[A";
}  // namespace

void LogEcho::SetSelection(std::size_t from, std::size_t to) {
  selFrom_ = std::min(from, text_.size());
  selTo_ = std::min(std::max(to, selFrom_), text_.size());
}

void LogEcho::ReplaceSelection(std::string_view text) {
  const std::size_t from = std::min(selFrom_, text_.size());
  const std::size_t to = std::min(std::max(selTo_, from), text_.size());
  if (from < printed_) {
    // Text already shown is taken back.
    const std::size_t lineStart = [&] {
      const std::size_t lf = from == 0 ? std::string::npos : text_.rfind('\n', from - 1);
      return lf == std::string::npos ? std::size_t{0} : lf + 1;
    }();
    if (terminal_ && !brokenEarly_) {
      const auto lines = std::count(text_.begin() + static_cast<std::ptrdiff_t>(lineStart),
                                    text_.begin() + static_cast<std::ptrdiff_t>(printed_), '\n');
      for (long i = 0; i < lines; ++i)
        out_ << kEraseLineAbove;
      out_ << kEraseLine;
      printed_ = lineStart;
      lineOpen_ = false;
    } else {
      // Printed lines stay printed; what replaces them follows.
      printed_ = from;
    }
  }
  text_.replace(from, to - from, text);
  selFrom_ = selTo_ = from + text.size();
  if (terminal_)
    ShowOnTerminal();
  else
    ShowFinalLines();
  out_.flush();
}

void LogEcho::ShowOnTerminal() {
  std::size_t end = text_.size();
  // A CR at the very end may be the first half of a line break.
  if (end > printed_ && text_[end - 1] == '\r')
    --end;
  Emit(printed_, end);
  printed_ = end;
}

void LogEcho::ShowFinalLines() {
  // Only the last line can be taken back; everything before its break is final.
  const std::size_t lastBreak = text_.rfind(kBreak);
  if (lastBreak == std::string::npos || lastBreak <= printed_)
    return;
  Emit(printed_, lastBreak);
  printed_ = lastBreak;
}

void LogEcho::BreakLine() {
  Emit(printed_, text_.size());
  printed_ = text_.size();
  if (lineOpen_) {
    out_ << '\n';
    lineOpen_ = false;
    brokenEarly_ = true;
  }
  out_.flush();
}

void LogEcho::Emit(std::size_t from, std::size_t to) {
  if (brokenEarly_ && from < to) {
    // The break printed early stands for the text's next break.
    if (text_.compare(from, kBreak.size(), kBreak) == 0)
      from += kBreak.size();
    brokenEarly_ = false;
  }
  for (std::size_t i = from; i < to; ++i) {
    const char c = text_[i];
    if (c == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n')
      continue;  // CR LF prints as one line break
    out_ << c;
    lineOpen_ = c != '\n';
  }
}

}  // namespace korvane
