// The window seam for a terminal: the log is printed as it grows, the progress
// bar drawn on a terminal, the file dialog answers with a path given
// beforehand, the device dialog follows the terminal's rules, and posted steps
// are queued for the main thread, which plays the window thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/device_prompt.h"
#include "cli/log_echo.h"
#include "cli/progress_meter.h"
#include "run/window.h"

namespace korvane {

struct TerminalSetup {
  // The log's stream is a terminal: a line the log takes back is rewritten.
  bool outIsTerminal = false;
  // Where the progress bar is drawn; none draws no bar.
  std::ostream* progress = nullptr;
  DevicePromptSettings device;
  std::istream* in = &std::cin;
  std::ostream* err = &std::cerr;
};

class TerminalWindow final : public Window {
 public:
  explicit TerminalWindow(std::ostream& out, TerminalSetup setup = {});

  // The answer of the next file dialogs; none answers as a cancel.
  void SetUpdateFile(std::optional<std::string> path);
  // The oldest posted step, waiting up to timeoutMs for one.
  std::optional<int> WaitForStep(int timeoutMs);
  // Prints what the log still holds back and ends the last line.
  void FinishOutput();
  // The device choice refused the --device argument: it named no entry or
  // several. The run then ends as one without a device, not as a cancel.
  bool DeviceRefused();

  void LogSetSelection(std::size_t from, std::size_t to) override;
  void LogReplaceSelection(std::string_view text) override;
  void LogScrollCaret() override {}
  void ProgressSetRange(int low, int high) override;
  void ProgressSetPosition(int position) override;
  void ProgressStep() override;
  void ProgressEnable(bool enabled) override;
  void SetButtonText(int, std::string_view) override {}
  void ShowButton(int) override {}
  void HideButton(int) override {}
  void SetWaitCursor() override {}
  void RestoreCursor() override {}
  void PostStep(int step) override;
  std::optional<std::string> ChooseUpdateFile() override;
  DeviceChoice ChooseDevice(const std::vector<FoundDevice>& devices,
                            const std::string& filePath) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;

 private:
  // Log and progress calls come from workers, steps are taken on the main
  // thread.
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<int> steps_;
  std::ostream& out_;
  TerminalSetup setup_;
  LogEcho echo_;
  ProgressMeter meter_;
  std::optional<std::string> updateFile_;
  bool deviceRefused_ = false;
};

}  // namespace korvane
