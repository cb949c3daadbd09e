// The device selection dialog (template 142): the devices that answered the
// scan, in list order, over the update file's path. OK returns the last
// selected entry's index (-1 when none was selected); Cancel and Escape
// cancel. Window thread only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "run/window.h"

namespace korvane {

class CDeviceSelectDlg {
 public:
  // entries: the device list's entries, shown in this order. Both are
  // borrowed for the dialog's run.
  CDeviceSelectDlg(const std::vector<std::string>& entries, const std::string& filePath,
                   HWND parent)
      : m_entries(entries), m_filePath(filePath), parent_(parent) {}

  // Runs the dialog modally: IDOK or IDCANCEL (also when it cannot be shown).
  INT_PTR DoModal();

  const std::vector<std::string>& m_entries;
  int m_chosenIndex = -1;
  const std::string& m_filePath;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);

  HWND parent_;
};

// Runs a CDeviceSelectDlg over the devices' entries and returns the choice.
DeviceChoice RunDeviceSelectDialog(HWND parent, const std::vector<FoundDevice>& devices,
                                   const std::string& filePath);

}  // namespace korvane
