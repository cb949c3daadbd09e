#include "cli/terminal_window.h"

namespace korvane {

TerminalWindow::TerminalWindow(std::ostream& out, TerminalSetup setup)
    : out_(out),
      setup_(setup),
      echo_(out, setup.outIsTerminal),
      meter_(setup.progress ? *setup.progress : out, setup.progress != nullptr) {}

void TerminalWindow::FinishOutput() {
  std::lock_guard lock(mutex_);
  meter_.Hide();
  echo_.Finish();
}

bool TerminalWindow::DeviceRefused() {
  std::lock_guard lock(mutex_);
  return deviceRefused_;
}

void TerminalWindow::LogSetSelection(std::size_t from, std::size_t to) {
  std::lock_guard lock(mutex_);
  echo_.SetSelection(from, to);
}

void TerminalWindow::LogReplaceSelection(std::string_view text) {
  std::lock_guard lock(mutex_);
  // The bar sits after the log's last character; it makes room for new text.
  meter_.Hide();
  echo_.ReplaceSelection(text);
  meter_.Draw();
}

void TerminalWindow::ProgressSetRange(int low, int high) {
  std::lock_guard lock(mutex_);
  meter_.SetRange(low, high);
}

void TerminalWindow::ProgressSetPosition(int position) {
  std::lock_guard lock(mutex_);
  meter_.SetPosition(position);
}

void TerminalWindow::ProgressStep() {
  std::lock_guard lock(mutex_);
  meter_.Step();
}

void TerminalWindow::ProgressEnable(bool enabled) {
  std::lock_guard lock(mutex_);
  meter_.Enable(enabled);
}

DeviceChoice TerminalWindow::ChooseDevice(const std::vector<FoundDevice>& devices,
                                          const std::string&) {
  std::lock_guard lock(mutex_);
  // The list and a question need lines of their own.
  meter_.Hide();
  echo_.BreakLine();
  const DevicePromptAnswer answer =
      PromptForDevice(devices, setup_.device, *setup_.in, out_, *setup_.err);
  deviceRefused_ = answer.deviceRefused;
  return answer.choice;
}

bool TerminalWindow::AskOkCancel(std::string_view, std::string_view) {
  // Nobody can answer: the careful answer.
  return false;
}

}  // namespace korvane
