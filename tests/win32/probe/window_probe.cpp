// korvane-window-probe: reads the running korvane-update.exe's main dialog
// from outside, through the platform's own calls, for the keyboard-driven run
// of scripts/test-windows.
//
//   korvane-window-probe log       prints the log control's text
//   korvane-window-probe buttons   prints "id shown|hidden text" per button
//   korvane-window-probe close     asks the dialog to close (WM_CLOSE)
//
// Exit status 0, or 1 when the dialog is not there, 64 for a bad command.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// WM_GETTEXT itself: GetWindowText does not ask a window of another process.
std::string Text(HWND window) {
  static char text[65536];
  text[0] = '\0';
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2)
    return 64;
  // The log's own bytes: no second CR before each LF.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argv[1];
  HWND dialog = FindWindowA("#32770", "Aldermark Korvane Update Utility");
  if (dialog == nullptr)
    return 1;
  if (command == "log") {
    std::fputs(Text(GetDlgItem(dialog, 1004)).c_str(), stdout);
  } else if (command == "buttons") {
    for (int id : {1012, 1011, 1010, 1009, 1008}) {
      HWND button = GetDlgItem(dialog, id);
      std::printf("%d %s %s\n", id, IsWindowVisible(button) ? "shown" : "hidden",
                  Text(button).c_str());
    }
  } else if (command == "close") {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  } else {
    return 64;
  }
  return 0;
}
