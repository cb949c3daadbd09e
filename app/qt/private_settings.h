// Qt's own dialogs remember things between runs in the user's settings (the
// file dialog its folders, history and view, in QtProject.conf). The program
// keeps nothing between runs: while a PrivateSettings lives, Qt's user
// settings go into a temporary folder of its own, removed with it.
//
// Window thread only; nothing else in the program uses Qt's settings. Where
// Qt's settings are the platform's own store (the registry on Windows, the
// preferences on macOS) it cannot redirect them.
#pragma once

#include <QTemporaryDir>

namespace korvane {

class PrivateSettings {
 public:
  PrivateSettings();
  PrivateSettings(const PrivateSettings&) = delete;
  PrivateSettings& operator=(const PrivateSettings&) = delete;

 private:
  QTemporaryDir folder_;
};

}  // namespace korvane
