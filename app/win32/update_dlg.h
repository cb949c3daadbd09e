// The main dialog (template 102): the panel picture under the log, the
// progress bar and the column of push buttons. It owns the update state and
// hands posted steps, button clicks, the close guards, the first paint and
// its own end to the workflow.
//
// The program runs it modally (DoModal); tests create it modeless (Create)
// and pump its messages themselves. Either way, the dialog's end (the cancel
// or accept command) destroys the window, and WM_DESTROY releases
// everything once every worker has stopped.
#pragma once

#include <windows.h>

#include <memory>

#include "app/win32/panel_bitmap.h"
#include "app/win32/win32_window.h"
#include "run/update_state.h"
#include "workflow/workflow.h"

namespace korvane {

class CUpdateDlg {
 public:
  explicit CUpdateDlg(MidiServices& midi);
  ~CUpdateDlg();
  CUpdateDlg(const CUpdateDlg&) = delete;
  CUpdateDlg& operator=(const CUpdateDlg&) = delete;

  // Runs the dialog to its end; IDOK, IDCANCEL, or -1 when it cannot start.
  INT_PTR DoModal();
  // Creates the dialog modeless and shows it; nullptr when it cannot.
  HWND Create();

  HWND Hwnd() const { return window_.Dialog(); }
  UpdateState& State() { return *state_; }
  // The dialog's end: its result, and whether everything was released.
  bool Ended() const { return ended_; }
  INT_PTR Result() const { return result_; }
  bool Released() const { return released_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnSysCommand(WPARAM command);
  bool OnPaint();
  bool OnCommand(WPARAM wParam);
  void End(INT_PTR result);
  void OnDestroy();
  void StopWindowCalls();

  HICON icon_ = nullptr;       // shared from the resources: never destroyed
  HICON smallIcon_ = nullptr;  // the same
  OwnedBitmap panel_;
  bool modal_ = false;
  bool ended_ = false;
  bool released_ = false;
  INT_PTR result_ = 0;
  Win32Window window_;
  // Declared after the window: the state logs through it until it is gone.
  std::unique_ptr<UpdateState> state_;
  Workflow workflow_;
};

}  // namespace korvane
