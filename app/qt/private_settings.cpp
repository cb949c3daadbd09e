#include "app/qt/private_settings.h"

#include <QSettings>

namespace korvane {

PrivateSettings::PrivateSettings() {
  // Without a folder of its own: below /dev/null, where nothing can be created.
  const QString path = folder_.isValid() ? folder_.path() : QStringLiteral("/dev/null");
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
}

}  // namespace korvane
