// The Window interface on the native main dialog. A call from the window
// thread is carried out directly; a worker's call is sent to the dialog
// (SendMessage, WM_WINDOW_CALL) and the worker waits until the window thread
// has carried it out, so a worker never runs ahead of what the user sees. A
// posted step is WM_WORKFLOW with the step code, posted, never sent.
//
// The open-file dialog runs on the worker that asks for it, owned by the
// main dialog, which it disables while it is open.
//
// Once StopCalls has been called (the window is going away and is about to
// join the workers), every later call from a worker returns at once without
// touching a control, and the window thread answers the calls still on their
// way (PumpUntil) while it waits for the workers to end: a worker blocked in
// SendMessage while the window thread joins it would never return.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "run/window.h"

namespace korvane {

// Carries a const std::function<void()>* in lParam; the window thread runs it.
constexpr UINT WM_WINDOW_CALL = WM_APP + 1;

class Win32Window final : public Window {
 public:
  Win32Window() = default;

  // The dialog and its thread, once the dialog exists.
  void Attach(HWND dialog);
  HWND Dialog() const { return dialog_; }

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

  // Window thread: the handler of WM_WINDOW_CALL.
  void RunCall(LPARAM call) const;
  // Window thread: the dialog's WM_SETCURSOR; true while the wait cursor holds.
  bool KeepWaitCursor() const;

  // Window thread: turns later worker calls into no-ops and cancels an open
  // file dialog.
  void StopCalls();
  bool CallsStopped() const { return stopped_.load(std::memory_order_acquire); }
  // Window thread: answers calls sent meanwhile, and keeps cancelling the file
  // dialog, until done() is true.
  void PumpUntil(const std::function<bool()>& done);

 private:
  // Runs work on the window thread; false when the calls have been stopped.
  bool Run(const std::function<void()>& work);
  void CancelFileDialog() const;

  HWND dialog_ = nullptr;
  DWORD windowThread_ = 0;
  std::atomic<bool> stopped_{false};
  // The worker thread showing the open-file dialog, 0 when none does.
  std::atomic<DWORD> fileDialogThread_{0};
  HCURSOR savedCursor_ = nullptr;  // window thread only
  bool waiting_ = false;           // window thread only
};

}  // namespace korvane
