// The program's icon (32 and 16 pixels) from the resources.
#pragma once

#include <QIcon>

namespace korvane {

QIcon AppIcon();

}  // namespace korvane
