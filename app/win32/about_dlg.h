// The About box (template 100): the program's icon, name and version, and OK.
#pragma once

#include <windows.h>

namespace korvane {

class CAboutDlg {
 public:
  explicit CAboutDlg(HWND owner) : owner_(owner) {}
  // Runs the box modally until OK (or Escape) ends it.
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  HWND owner_;
};

}  // namespace korvane
