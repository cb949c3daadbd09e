#include "app/win32/update_dlg.h"

#include <commctrl.h>

#include "app/win32/about_dlg.h"
#include "app/win32/resource.h"
#include "run/steps.h"

namespace korvane {

namespace {

HICON LoadProgramIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                       IMAGE_ICON, GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_SHARED));
}

// A dialog procedure's answer to a message whose result is not its return value.
INT_PTR Answer(HWND dialog, LRESULT result) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

// The log's window procedure before ours; the same for every edit control.
WNDPROC g_editProc = nullptr;

// Enter on the log is the accept command and Escape the cancel command, as on
// any control that is not a push button: a multi-line edit asks the dialog
// manager for every key and would keep Enter to itself, and turn Escape into
// a close request, which is dropped without a question while busy.
LRESULT CALLBACK LogProc(HWND log, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
    const WORD command = wParam == VK_RETURN ? IDOK : IDCANCEL;
    SendMessageA(GetParent(log), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    return 0;
  }
  if (message == WM_CHAR && (wParam == '\r' || wParam == 0x1B))
    return 0;
  return CallWindowProcA(g_editProc, log, message, wParam, lParam);
}

}  // namespace

CUpdateDlg::CUpdateDlg(MidiServices& midi)
    : icon_(LoadProgramIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(LoadProgramIcon(SM_CXSMICON, SM_CYSMICON)),
      state_(std::make_unique<UpdateState>(midi, window_)),
      // Exit posts the close request: it arrives like the close box's.
      workflow_(*state_, [this] { PostMessageA(Hwnd(), WM_CLOSE, 0, 0); }) {}

CUpdateDlg::~CUpdateDlg() {
  // A window still open (a test's dialog) goes the usual way first.
  if (Hwnd() != nullptr && IsWindow(Hwnd()))
    DestroyWindow(Hwnd());
  // The user declined the release, or the dialog never ran: workers still
  // must stop before the state they use goes.
  workflow_.Shutdown([this] { StopWindowCalls(); });
}

INT_PTR CUpdateDlg::DoModal() {
  modal_ = true;
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_KORVANEUPDATE_DIALOG),
                         nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CUpdateDlg::Create() {
  modal_ = false;
  return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_KORVANEUPDATE_DIALOG),
                            nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CUpdateDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CUpdateDlg*>(lParam);
    self->window_.Attach(dialog);
    self->OnInitDialog();
    return TRUE;  // the focus goes to the first control that takes it
  }
  auto* self = reinterpret_cast<CUpdateDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
  return self == nullptr ? FALSE : self->OnMessage(message, wParam, lParam);
}

INT_PTR CUpdateDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WORKFLOW:
      // Steps still queued when the window has gone find nothing to work on.
      if (!released_)
        workflow_.HandleStep(static_cast<int>(wParam));
      return Answer(Hwnd(), 0);
    case WM_WINDOW_CALL:
      window_.RunCall(lParam);
      return Answer(Hwnd(), 0);
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUTBOX)
        return FALSE;
      OnSysCommand(wParam);
      return TRUE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_SETCURSOR:
      return window_.KeepWaitCursor() ? Answer(Hwnd(), TRUE) : FALSE;
    case WM_CLOSE:
      // Dropped without a word while busy; otherwise the dialog manager
      // turns it into the cancel command.
      return workflow_.CloseAllowed() ? FALSE : TRUE;
    case WM_COMMAND:
      return OnCommand(wParam) ? TRUE : FALSE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void CUpdateDlg::OnInitDialog() {
  HWND dialog = Hwnd();
  // Each step of the bar is one piece of the file.
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETSTEP, 1, 0);

  if (HMENU menu = GetSystemMenu(dialog, FALSE)) {
    char text[64] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text) > 0) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
    }
  }
  HWND log = GetDlgItem(dialog, IDC_LOG);
  g_editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogProc)));

  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  // The picture control reaches a little past the client area; the picture
  // fills the client area and the control's bitmap covers the control.
  HWND picture = GetDlgItem(dialog, IDC_PANEL);
  RECT control{}, client{};
  GetClientRect(picture, &control);
  GetClientRect(dialog, &client);
  panel_ = RenderPanelBitmap({control.right, control.bottom}, {client.right, client.bottom});
  if (panel_) {
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(panel_.get()));
  }
}

void CUpdateDlg::OnSysCommand(WPARAM) {
  CAboutDlg about(Hwnd());
  about.DoModal();
}

bool CUpdateDlg::OnPaint() {
  HWND dialog = Hwnd();
  if (IsIconic(dialog)) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(dialog, &client);
    DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, icon_);
    EndPaint(dialog, &paint);
    return true;
  }
  if (!released_)
    workflow_.OnPaint(IsWindowVisible(dialog) != FALSE);
  return false;  // the default painting follows
}

bool CUpdateDlg::OnCommand(WPARAM wParam) {
  // The filter every command passes: the cancel command while busy asks.
  if (wParam == IDCANCEL && !workflow_.PassCommand(IDCANCEL))
    return true;
  const int id = LOWORD(wParam);
  if (id == IDOK || id == IDCANCEL) {
    End(id);
    return true;
  }
  if (HIWORD(wParam) == BN_CLICKED &&
      (id == kOpenButton || id == kRescanButton || id == kExitButton)) {
    workflow_.OnButton(id);
    return true;
  }
  return false;
}

void CUpdateDlg::End(INT_PTR result) {
  if (ended_)
    return;
  ended_ = true;
  result_ = result;
  if (modal_) {
    EndDialog(Hwnd(), result);
  } else {
    DestroyWindow(Hwnd());
  }
}

void CUpdateDlg::OnDestroy() {
  ended_ = true;
  released_ = workflow_.Destroy([this] { StopWindowCalls(); });
}

void CUpdateDlg::StopWindowCalls() {
  window_.StopCalls();
  window_.PumpUntil([this] { return !state_->workers.AnyRunning(); });
}

}  // namespace korvane
