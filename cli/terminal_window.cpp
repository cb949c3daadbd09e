#include "cli/terminal_window.h"

#include <algorithm>
#include <chrono>

namespace korvane {

void TerminalWindow::SetUpdateFile(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  updateFile_ = std::move(path);
}

std::optional<int> TerminalWindow::WaitForStep(int timeoutMs) {
  std::unique_lock lock(mutex_);
  posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !steps_.empty(); });
  if (steps_.empty())
    return std::nullopt;
  const int step = steps_.front();
  steps_.pop_front();
  return step;
}

void TerminalWindow::FinishOutput() {
  std::lock_guard lock(mutex_);
  if (pendingCr_ || lineOpen_)
    out_ << '\n';
  pendingCr_ = lineOpen_ = false;
  out_.flush();
}

void TerminalWindow::LogSetSelection(std::size_t from, std::size_t to) {
  std::lock_guard lock(mutex_);
  selFrom_ = std::min(from, shownLength_);
  selTo_ = std::min(std::max(to, selFrom_), shownLength_);
}

void TerminalWindow::LogReplaceSelection(std::string_view text) {
  std::lock_guard lock(mutex_);
  // Printed text cannot be taken back: a removal only shortens what the
  // control holds, and text lands on screen when it is appended at the end.
  if (selTo_ == shownLength_ && selFrom_ == selTo_)
    Print(text);
  shownLength_ = shownLength_ - (selTo_ - selFrom_) + text.size();
  selFrom_ = selTo_ = selFrom_ + text.size();
}

void TerminalWindow::Print(std::string_view text) {
  for (char c : text) {
    if (pendingCr_) {
      pendingCr_ = false;
      if (c == '\n') {
        out_ << '\n';
        lineOpen_ = false;
        continue;
      }
      out_ << '\r';
    }
    if (c == '\r') {
      pendingCr_ = true;
      continue;
    }
    out_ << c;
    lineOpen_ = c != '\n';
  }
  out_.flush();
}

void TerminalWindow::PostStep(int step) {
  {
    std::lock_guard lock(mutex_);
    steps_.push_back(step);
  }
  posted_.notify_one();
}

std::optional<std::string> TerminalWindow::ChooseUpdateFile() {
  std::lock_guard lock(mutex_);
  return updateFile_;
}

DeviceChoice TerminalWindow::ChooseDevice(const std::string&, const std::string&) {
  return DeviceChoice{IDCANCEL, -1};
}

bool TerminalWindow::AskOkCancel(std::string_view, std::string_view) {
  // Nobody can answer: the careful answer.
  return false;
}

}  // namespace korvane
