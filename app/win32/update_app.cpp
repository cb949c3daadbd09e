#include "app/win32/update_app.h"

#include <windows.h>

#include <commctrl.h>

#include "app/win32/update_dlg.h"

namespace korvane {

int CUpdateApp::InitInstance(MidiServices& midi) {
  // The progress bar's window class.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  CUpdateDlg dialog(midi);
  dialog.DoModal();  // its result is not looked at
  return 0;
}

}  // namespace korvane
