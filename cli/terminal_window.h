// The window seam for a terminal: the log is printed as it grows, the file
// dialog answers with a path given beforehand, and posted steps are queued for
// the main thread, which plays the window thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "app/window.h"

namespace korvane {

class TerminalWindow final : public Window {
 public:
  explicit TerminalWindow(std::ostream& out) : out_(out) {}

  // The answer of the next file dialogs; none answers as a cancel.
  void SetUpdateFile(std::optional<std::string> path);
  // The oldest posted step, waiting up to timeoutMs for one.
  std::optional<int> WaitForStep(int timeoutMs);
  // Ends the last printed line, if the log left one open.
  void FinishOutput();

  void LogSetSelection(std::size_t from, std::size_t to) override;
  void LogReplaceSelection(std::string_view text) override;
  void LogScrollCaret() override {}
  void ProgressSetRange(int, int) override {}
  void ProgressSetPosition(int) override {}
  void ProgressStep() override {}
  void ProgressEnable(bool) override {}
  void SetButtonText(int, std::string_view) override {}
  void ShowButton(int) override {}
  void HideButton(int) override {}
  void SetWaitCursor() override {}
  void RestoreCursor() override {}
  void PostStep(int step) override;
  std::optional<std::string> ChooseUpdateFile() override;
  DeviceChoice ChooseDevice(const std::string& deviceList, const std::string& filePath) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;

 private:
  void Print(std::string_view text);

  // Log calls come from workers, steps are taken on the main thread.
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<int> steps_;
  std::ostream& out_;
  std::optional<std::string> updateFile_;
  std::size_t shownLength_ = 0;  // characters of the log control so far
  std::size_t selFrom_ = 0, selTo_ = 0;
  bool pendingCr_ = false;  // a CR printed text ended with; an LF may follow
  bool lineOpen_ = false;   // something printed since the last line break
};

}  // namespace korvane
