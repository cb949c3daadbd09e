#include "cli/run_log_window.h"

namespace korvane {

void SharedLines::Write(const std::string& prefix, const std::string& line) {
  std::lock_guard lock(mutex_);
  out_ << prefix << line << '\n' << std::flush;
}

RunLogWindow::RunLogWindow(SharedLines* lines, std::string prefix, bool printFromStart)
    : lines_(lines), prefix_(std::move(prefix)), printing_(printFromStart) {}

void RunLogWindow::PrintFromHere() {
  // The last line so far is ended now, so that the run's own text starts a
  // new one.
  echo_.BreakLine();
  pending_.str({});
  printing_ = true;
}

void RunLogWindow::Finish() {
  echo_.Finish();
  Flush();
}

void RunLogWindow::LogSetSelection(std::size_t from, std::size_t to) {
  echo_.SetSelection(from, to);
}

void RunLogWindow::LogReplaceSelection(std::string_view text) {
  echo_.ReplaceSelection(text);
  Flush();
}

void RunLogWindow::Flush() {
  if (!printing_)
    return;
  std::string text = pending_.str();
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    if (lines_ != nullptr)
      lines_->Write(prefix_, text.substr(start, end - start));
  }
  pending_.str(text.substr(start));
  pending_.seekp(0, std::ios::end);
}

}  // namespace korvane
