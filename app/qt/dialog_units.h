// Dialog units: the layout unit of the dialog templates, a quarter of the
// dialog font's average character width across and an eighth of its height
// down, so that a layout keeps its proportions with whatever font is at hand.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace korvane {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const { return (units * baseX_ + 2) / 4; }
  int Y(int units) const { return (units * baseY_ + 4) / 8; }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }

 private:
  int baseX_;
  int baseY_;
};

// The font every dialog of the program is laid out in: the system's sans
// serif at 8 points.
QFont DialogFont();

}  // namespace korvane
