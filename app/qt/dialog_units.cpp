#include "app/qt/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <algorithm>

namespace korvane {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width over both alphabets, rounded as the template
  // conversion has always rounded it.
  const int width =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  baseX_ = std::max(1, (width / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.height());
}

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(8);
  return font;
}

}  // namespace korvane
