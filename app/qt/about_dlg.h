// The About box: the program's icon, its name and version, and OK.
#pragma once

#include <QDialog>

namespace korvane {

// The version the build keeps in one place, the project's.
inline constexpr const char* kProgramVersion = KORVANE_VERSION;

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);
};

}  // namespace korvane
