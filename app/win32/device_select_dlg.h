// The device selection dialog (template 142): the devices that answered the
// scan, in list order, over the update file's path. OK returns the last
// selected entry's index (-1 when none was selected); Cancel and Escape
// cancel. Window thread only.
#pragma once

#include <windows.h>

#include <string>

#include "run/window.h"

namespace korvane {

class CDeviceSelectDlg {
 public:
  // deviceList: NUL-terminated entries ended by an empty one. Both texts are
  // borrowed for the dialog's run.
  CDeviceSelectDlg(const std::string& deviceList, const std::string& filePath, HWND parent)
      : m_deviceList(deviceList), m_filePath(filePath), parent_(parent) {}

  // Runs the dialog modally: IDOK or IDCANCEL (also when it cannot be shown).
  INT_PTR DoModal();

  const std::string& m_deviceList;
  int m_chosenIndex = -1;
  const std::string& m_filePath;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);

  HWND parent_;
};

// Runs a CDeviceSelectDlg and returns its result and choice.
DeviceChoice RunDeviceSelectDialog(HWND parent, const std::string& deviceList,
                                   const std::string& filePath);

}  // namespace korvane
