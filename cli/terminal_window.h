// The window seam for a terminal: the log is printed as it grows, the progress
// bar drawn on a terminal, the file dialog answers with a path given
// on the command line, the device dialog follows the terminal's rules. The
// steps are called in order (workflow/steps_in_order.h), so posts are dropped.
#pragma once

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
  void PostStep(int) override {}
  // The file comes with the command; a dialog would be a cancel.
  std::optional<std::string> ChooseUpdateFile() override { return std::nullopt; }
  DeviceChoice ChooseDevice(const std::vector<FoundDevice>& devices,
                            const std::string& filePath) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;

 private:
  // Log and progress calls come from the transfer's and the runs' threads.
  std::mutex mutex_;
  std::ostream& out_;
  TerminalSetup setup_;
  LogEcho echo_;
  ProgressMeter meter_;
  bool deviceRefused_ = false;
};

}  // namespace korvane
