#include "tests/win32/dialog_driver.h"

#include <chrono>

namespace korvane::testing {

bool PumpUntil(HWND dialog, const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsWindow(dialog) || !IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

RECT ControlPlace(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return RECT{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

RECT FromDialogUnits(HWND dialog, int x, int y, int width, int height) {
  // Place and size are converted each on its own, as the dialog manager
  // converts a template's items.
  RECT r{x, y, width, height};
  MapDialogRect(dialog, &r);
  return r;
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::vector<int> TabOrder(HWND dialog) {
  std::vector<int> ids;
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  for (HWND at = first; at != nullptr && ids.size() < 16;) {
    ids.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(dialog, at, FALSE);
    if (at == first)
      break;
  }
  return ids;
}

std::vector<int> ChildOrder(HWND dialog) {
  std::vector<int> ids;
  for (HWND at = GetWindow(dialog, GW_CHILD); at != nullptr; at = GetWindow(at, GW_HWNDNEXT))
    ids.push_back(GetDlgCtrlID(at));
  return ids;
}

namespace {

struct Search {
  HWND owner;
  const char* caption;
  HWND found;
};

// A stdcall function (on 32-bit Windows a lambda is not one).
BOOL CALLBACK MatchDialog(HWND window, LPARAM data) {
  auto& s = *reinterpret_cast<Search*>(data);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::string(className) == "#32770" && GetWindow(window, GW_OWNER) == s.owner &&
      IsWindowVisible(window) && WindowText(window) == s.caption) {
    s.found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindOwnedDialog(HWND owner, const char* caption) {
  Search search{owner, caption, nullptr};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

WhenShown::WhenShown(HWND owner, const char* caption, std::function<void(HWND)> act, int timeoutMs)
    : thread_([this, owner, caption = std::string(caption), act = std::move(act), timeoutMs] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!cancelled_.load() && std::chrono::steady_clock::now() < end) {
          if (HWND dialog = FindOwnedDialog(owner, caption.c_str())) {
            found_.store(true);
            act(dialog);
            return;
          }
          Sleep(10);
        }
      }) {}

WhenShown::~WhenShown() {
  cancelled_.store(true);
  thread_.join();
}

}  // namespace korvane::testing
