// Drives the native dialogs the way the platform sees them: pumps the window
// thread's messages through the dialog manager, reads controls back with the
// platform's own calls, and acts on a modal dialog from a helper thread once
// it shows (the window thread is then inside the dialog's own loop).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace korvane::testing {

// Pumps this thread's messages until done() holds or timeoutMs pass.
bool PumpUntil(HWND dialog, const std::function<bool()>& done, int timeoutMs = 30000);

// A control's place and size in pixels, relative to the dialog's client area;
// and the same in dialog units, converted the way the dialog manager does.
RECT ControlPlace(HWND dialog, int id);
RECT FromDialogUnits(HWND dialog, int x, int y, int width, int height);

std::string WindowText(HWND window);
// The control ids in the order the dialog's Tab key visits them.
std::vector<int> TabOrder(HWND dialog);
// The control ids in the dialog's child order (the template's order).
std::vector<int> ChildOrder(HWND dialog);

// A visible dialog window owned by owner with the caption, or nullptr.
HWND FindOwnedDialog(HWND owner, const char* caption);

// Waits on its own thread for a dialog owned by owner with the caption, then
// runs act on it. found() tells whether it showed; the destructor joins.
class WhenShown {
 public:
  WhenShown(HWND owner, const char* caption, std::function<void(HWND)> act, int timeoutMs = 30000);
  ~WhenShown();
  bool Found() const { return found_.load(); }

 private:
  std::atomic<bool> found_{false};
  std::atomic<bool> cancelled_{false};
  std::thread thread_;
};

}  // namespace korvane::testing
