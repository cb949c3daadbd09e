// A Window that records every control operation in order and keeps the state
// the operations leave behind (the log control's text, button texts and
// visibility, the progress bar, the cursor), with scripted answers for the
// dialogs. Posted steps are queued for the test to hand to the step handler.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/window.h"

namespace korvane::testing {

struct WindowOp {
  enum Kind {
    kLogSelect,
    kLogReplace,
    kLogScroll,
    kProgressRange,
    kProgressPosition,
    kProgressStep,
    kProgressEnable,
    kButtonText,
    kButtonShow,
    kButtonHide,
    kWaitCursor,
    kRestoreCursor,
    kPostStep,
    kChooseFile,
    kChooseDevice,
    kAsk,
  };
  Kind kind;
  long a = 0;  // control id, position, range low, step code, enabled flag
  long b = 0;  // selection end, range high
  std::string text;
};

class RecordingWindow : public Window {
 public:
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

  // Scripted answers.
  std::optional<std::string> fileAnswer;
  DeviceChoice deviceAnswer = 0;
  bool askAnswer = true;
  // Setting the progress bar's range throws, as a window that breaks down.
  bool rangeThrows = false;
  // Setting the progress bar to this position throws: a breakdown in the
  // middle of a block, once firmware went out.
  std::optional<int> positionThrows;

  // What the operations left behind.
  std::vector<WindowOp> Ops() const;
  std::string ControlText() const;
  bool ButtonVisible(int id) const;
  std::string ButtonText(int id) const;
  int ProgressPosition() const;
  int ProgressLow() const;
  int ProgressHigh() const;
  bool ProgressEnabled() const;
  bool WaitCursorShown() const;
  // The device list text and path the last device dialog was given.
  std::vector<FoundDevice> LastDevices() const;
  std::string LastDevicePath() const;

  // Posted steps not yet taken, oldest first.
  std::optional<int> TakePostedStep();
  // Waits until a step has been posted or the time-out passes.
  std::optional<int> WaitForPostedStep(int timeoutMs);
  std::vector<int> PostedSteps() const;  // every step posted so far

  void ClearOps();

 private:
  void Record(WindowOp op);

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<WindowOp> ops_;
  std::string control_;
  std::size_t selFrom_ = 0, selTo_ = 0;
  std::map<int, bool> visible_;
  std::map<int, std::string> texts_;
  int progressLow_ = 0, progressHigh_ = 100, progressPos_ = 0;
  bool progressEnabled_ = true;
  bool waitCursor_ = false;
  std::deque<int> pending_;
  std::vector<int> allPosted_;
  std::vector<FoundDevice> lastDevices_;
  std::string lastDevicePath_;
};

}  // namespace korvane::testing
