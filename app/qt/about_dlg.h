// The About box: the program's icon, its name and version, and OK.
#pragma once

#include <QDialog>

namespace korvane {

inline constexpr const char* kAboutCaption = "About KORVANEUPDATE";
inline constexpr const char* kAboutText = "KORVANEUPDATE Version 1.0";
inline constexpr const char* kAboutMenuText = "&About KORVANEUPDATE...";
// The version the build keeps in one place, the project's.
inline constexpr const char* kProgramVersion = KORVANE_VERSION;

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);
};

}  // namespace korvane
