// The window seam for the page: every call shows its effect on the page
// through page.js on the browser's main thread, and returns once it is shown.
// The log control's text and selection are kept here, in bytes as the engine
// counts them, and the page is handed the whole text after each change.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "run/window.h"
#include "web/page/page_events.h"

namespace korvane::web {

class WebWindow final : public Window {
 public:
  explicit WebWindow(PageEvents& events) : events_(events) {}

  // The file the page holds for the next open-file dialog: the user chose or
  // dropped it before the Open click that asks for it.
  void SetUpdateFile(std::string path);
  // The device dialog's answer (none: cancelled), from the browser's main thread.
  void AnswerDevice(DeviceChoice choice);

  void LogSetSelection(std::size_t from, std::size_t to) override;
  void LogReplaceSelection(std::string_view text) override;
  void LogScrollCaret() override;
  void ProgressSetRange(int low, int high) override;
  void ProgressSetPosition(int position) override;
  void ProgressStep() override;
  void ProgressEnable(bool enabled) override;
  void SetButtonText(int id, std::string_view text) override;
  void ShowButton(int id) override;
  void HideButton(int id) override;
  void SetWaitCursor() override;
  void RestoreCursor() override;
  void PostStep(int step) override;
  std::optional<std::string> ChooseUpdateFile() override;
  DeviceChoice ChooseDevice(const std::vector<FoundDevice>& devices,
                            const std::string& filePath) override;
  bool AskOkCancel(std::string_view caption, std::string_view text) override;

 private:
  void ShowProgress();

  PageEvents& events_;
  std::mutex mutex_;
  std::string control_;
  std::size_t selFrom_ = 0, selTo_ = 0;
  int low_ = 0, high_ = 100, position_ = 0;
  bool enabled_ = true;
  std::optional<std::string> file_;
  std::condition_variable answered_;
  std::optional<DeviceChoice> answer_;
};

}  // namespace korvane::web
