#include "app/win32/win32_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <array>

#include "app/win32/device_select_dlg.h"
#include "run/steps.h"

namespace korvane {

namespace {

// A stdcall function (on 32-bit Windows a lambda is not one).
BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

}  // namespace

void Win32Window::Attach(HWND dialog) {
  dialog_ = dialog;
  windowThread_ = GetWindowThreadProcessId(dialog, nullptr);
}

bool Win32Window::Run(const std::function<void()>& work) {
  if (GetCurrentThreadId() == windowThread_) {
    work();
    return true;
  }
  if (CallsStopped() || dialog_ == nullptr)
    return false;
  // RunCall sets ran only when the calls have not been stopped meanwhile.
  bool ran = false;
  const std::function<void()> call = [&] {
    work();
    ran = true;
  };
  SendMessageA(dialog_, WM_WINDOW_CALL, 0, reinterpret_cast<LPARAM>(&call));
  return ran;
}

void Win32Window::RunCall(LPARAM call) const {
  if (!CallsStopped())
    (*reinterpret_cast<const std::function<void()>*>(call))();
}

void Win32Window::LogSetSelection(std::size_t from, std::size_t to) {
  Run([&] {
    SendDlgItemMessageA(dialog_, kLogControl, EM_SETSEL, static_cast<WPARAM>(from),
                        static_cast<LPARAM>(to));
  });
}

void Win32Window::LogReplaceSelection(std::string_view text) {
  const std::string copy(text);  // EM_REPLACESEL wants a terminated text
  Run([&] {
    SendDlgItemMessageA(dialog_, kLogControl, EM_REPLACESEL, FALSE,
                        reinterpret_cast<LPARAM>(copy.c_str()));
  });
}

void Win32Window::LogScrollCaret() {
  Run([&] { SendDlgItemMessageA(dialog_, kLogControl, EM_SCROLLCARET, 0, 0); });
}

void Win32Window::ProgressSetRange(int low, int high) {
  Run([&] { SendDlgItemMessageA(dialog_, kProgressBar, PBM_SETRANGE32, low, high); });
}

void Win32Window::ProgressSetPosition(int position) {
  Run([&] { SendDlgItemMessageA(dialog_, kProgressBar, PBM_SETPOS, position, 0); });
}

void Win32Window::ProgressStep() {
  // The step is one piece (set when the dialog starts); past the end the bar
  // starts over.
  Run([&] { SendDlgItemMessageA(dialog_, kProgressBar, PBM_STEPIT, 0, 0); });
}

void Win32Window::ProgressEnable(bool enabled) {
  Run([&] { EnableWindow(GetDlgItem(dialog_, kProgressBar), enabled ? TRUE : FALSE); });
}

void Win32Window::SetButtonText(int id, std::string_view text) {
  const std::string copy(text);
  Run([&] { SetDlgItemTextA(dialog_, id, copy.c_str()); });
}

void Win32Window::ShowButton(int id) {
  // 1009 and 1010 have no role and stay hidden for good.
  if (id == kUnusedButton1009 || id == kUnusedButton1010)
    return;
  Run([&] { ShowWindow(GetDlgItem(dialog_, id), SW_SHOW); });
}

void Win32Window::HideButton(int id) {
  Run([&] { ShowWindow(GetDlgItem(dialog_, id), SW_HIDE); });
}

void Win32Window::SetWaitCursor() {
  Run([&] {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (!waiting_)
      savedCursor_ = previous;
    waiting_ = true;
  });
}

void Win32Window::RestoreCursor() {
  Run([&] {
    if (!waiting_)
      return;
    waiting_ = false;
    SetCursor(savedCursor_);
    savedCursor_ = nullptr;
  });
}

bool Win32Window::KeepWaitCursor() const {
  if (!waiting_)
    return false;
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  return true;
}

void Win32Window::PostStep(int step) {
  PostMessageA(dialog_, WM_WORKFLOW, static_cast<WPARAM>(step), 0);
}

std::optional<std::string> Win32Window::ChooseUpdateFile() {
  if (CallsStopped())
    return std::nullopt;
  // 260 characters with the terminator; no flags of our own, so a name that
  // does not exist is accepted (the load reports it).
  std::array<char, 260> name{};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog_;
  ofn.lpstrFilter = "SysEx Files (*.syx)\0*.syx\0";
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrDefExt = "syx";
  fileDialogThread_.store(GetCurrentThreadId(), std::memory_order_release);
  // The window may have stopped the calls while the thread id was not yet
  // known; StopCalls' pump cancels the dialog then.
  const BOOL chosen = CallsStopped() ? FALSE : GetOpenFileNameA(&ofn);
  fileDialogThread_.store(0, std::memory_order_release);
  if (!chosen || CallsStopped())
    return std::nullopt;
  return std::string(name.data());
}

DeviceChoice Win32Window::ChooseDevice(const std::vector<FoundDevice>& devices,
                                       const std::string& filePath) {
  DeviceChoice choice;
  Run([&] { choice = RunDeviceSelectDialog(dialog_, devices, filePath); });
  return choice;
}

bool Win32Window::AskOkCancel(std::string_view caption, std::string_view text) {
  const std::string captionCopy(caption), textCopy(text);
  bool ok = false;
  Run([&] {
    ok = MessageBoxA(dialog_, textCopy.c_str(), captionCopy.c_str(), MB_OKCANCEL) == IDOK;
  });
  return ok;
}

void Win32Window::StopCalls() {
  stopped_.store(true, std::memory_order_release);
  CancelFileDialog();
}

void Win32Window::CancelFileDialog() const {
  const DWORD thread = fileDialogThread_.load(std::memory_order_acquire);
  if (thread == 0)
    return;
  EnumThreadWindows(thread, CancelDialog, 0);
}

void Win32Window::PumpUntil(const std::function<bool()>& done) {
  while (!done()) {
    // Answers the calls sent to this thread's windows, nothing else: the
    // dialog is going away and takes no more input.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    CancelFileDialog();
  }
}

}  // namespace korvane
