// The Window interface on the Qt main dialog. A call from the window thread
// is carried out directly; a call from a worker is queued to the window
// thread and the worker waits until it has been carried out, so that the
// worker never runs ahead of what the user sees. A posted step becomes a
// WorkflowEvent for the dialog.
//
// Once StopCalls has been called (the window is going away and is about to
// join the workers), a waiting worker is released and every later call from a
// worker returns at once without touching a widget: a worker blocked on the
// window while the window thread joins it would never return.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "run/window.h"

class QFileDialog;
class QProgressBar;
class QPushButton;
class QWidget;

namespace korvane {

class LogView;

// The posted step: the private window message of the workflow.
class WorkflowEvent : public QEvent {
 public:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x100);
  explicit WorkflowEvent(int step) : QEvent(kType), step_(step) {}
  int Step() const { return step_; }

 private:
  int step_;
};

class QtWindow : public QObject, public Window {
 public:
  QtWindow(QWidget* dialog, LogView& log, QProgressBar* progress,
           std::map<int, QPushButton*> buttons);

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

  // Window thread, before the dialog shows: the next file choice answers
  // with path instead of showing the open-file dialog, once.
  void SetStartFile(std::string path) { startFile_ = std::move(path); }

  // Window thread: releases waiting workers and turns later worker calls
  // into no-ops; closes an open file dialog as a cancel.
  void StopCalls();
  bool CallsStopped() const { return stopped_.load(std::memory_order_acquire); }

 private:
  // Runs work on the window thread and returns its result, or fallback when
  // the calls have been stopped.
  template <class R>
  R Call(std::function<R()> work, R fallback);
  void Run(std::function<void()> work);

  void ShowProgress();
  std::optional<std::string> RunFileDialog();

  QWidget* dialog_;
  LogView& log_;
  QProgressBar* progress_;
  std::map<int, QPushButton*> buttons_;
  int progressLow_ = 0, progressHigh_ = 100, progressPos_ = 0;
  int overrideCursors_ = 0;
  QPointer<QFileDialog> fileDialog_;
  std::optional<std::string> startFile_;  // window thread only

  std::mutex mutex_;
  std::condition_variable finished_;
  std::atomic<bool> stopped_{false};
};

}  // namespace korvane
