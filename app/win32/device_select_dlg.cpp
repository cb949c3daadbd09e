#include "app/win32/device_select_dlg.h"

#include "app/win32/resource.h"

namespace korvane {

INT_PTR CDeviceSelectDlg::DoModal() {
  const INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DEVICE_SELECT), parent_,
                      DialogProc, reinterpret_cast<LPARAM>(this));
  return result == IDOK ? IDOK : IDCANCEL;
}

void CDeviceSelectDlg::OnInitDialog(HWND dialog) {
  // The list is not sorted, so an entry's place in the list is its index.
  for (const std::string& entry : m_entries) {
    SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(entry.c_str()));
  }
  SetDlgItemTextA(dialog, IDC_FILE_NAME, m_filePath.c_str());
}

INT_PTR CALLBACK CDeviceSelectDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    reinterpret_cast<CDeviceSelectDlg*>(lParam)->OnInitDialog(dialog);
    return TRUE;  // the focus goes to the first control in the tab order
  }
  auto* self = reinterpret_cast<CDeviceSelectDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr || message != WM_COMMAND)
    return FALSE;
  const int id = LOWORD(wParam);
  if (id == IDC_DEVICE_LIST && HIWORD(wParam) == LBN_SELCHANGE) {
    // A click, the arrow keys or a double-click: the selection is the
    // choice; nothing closes the dialog but OK, Cancel and Escape.
    self->m_chosenIndex =
        static_cast<int>(SendDlgItemMessageA(dialog, IDC_DEVICE_LIST, LB_GETCURSEL, 0, 0));
    return TRUE;
  }
  if (id == IDOK || id == IDCANCEL) {
    EndDialog(dialog, id);
    return TRUE;
  }
  return FALSE;
}

DeviceChoice RunDeviceSelectDialog(HWND parent, const std::vector<FoundDevice>& devices,
                                   const std::string& filePath) {
  const std::vector<std::string> entries = DeviceEntries(devices);
  CDeviceSelectDlg dialog(entries, filePath, parent);
  const bool accepted = dialog.DoModal() == IDOK;
  return ChoiceOfDialog(accepted, dialog.m_chosenIndex);
}

}  // namespace korvane
