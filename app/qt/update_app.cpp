#include "app/qt/update_app.h"

#include <QApplication>

#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/update_dlg.h"

namespace korvane {

CUpdateApp::CUpdateApp() {
  // No display name: Qt would add it to the caption of every window.
  QApplication::setApplicationName("KORVANEUPDATE");
  QApplication::setApplicationVersion(kProgramVersion);
  QApplication::setDesktopFileName("korvane-update");
  QApplication::setWindowIcon(AppIcon());
}

int CUpdateApp::InitInstance(MidiServices& midi, std::optional<std::string> startFile) {
  CUpdateDlg dialog(midi);
  if (startFile)
    dialog.OpenAtStart(std::move(*startFile));
  dialog.exec();  // its result is not looked at
  return 0;
}

}  // namespace korvane
