#include "app/qt/app_icon.h"

// The resources live in a static library: they are registered by hand.
static void InitKorvaneResources() {
  Q_INIT_RESOURCE(korvane);
}

namespace korvane {

QIcon AppIcon() {
  static const bool registered = (InitKorvaneResources(), true);
  (void)registered;
  QIcon icon;
  icon.addFile(":/korvane/icon32.xpm", QSize(32, 32));
  icon.addFile(":/korvane/icon16.xpm", QSize(16, 16));
  return icon;
}

}  // namespace korvane
