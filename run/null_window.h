// A window with nothing to show: every control call does nothing, dialogs
// answer Cancel. For benchmarks and fuzzing, where the window costs nothing,
// and as the base of a window that shows only some of it.
#pragma once

#include "run/window.h"

namespace korvane {

class NullWindow : public Window {
 public:
  void LogSetSelection(std::size_t, std::size_t) override {}
  void LogReplaceSelection(std::string_view) override {}
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
  void PostStep(int) override {}
  std::optional<std::string> ChooseUpdateFile() override { return std::nullopt; }
  DeviceChoice ChooseDevice(const std::vector<FoundDevice>&, const std::string&) override {
    return {};
  }
  bool AskOkCancel(std::string_view, std::string_view) override { return false; }
};

}  // namespace korvane
