#include "app/qt/panel_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace korvane {

namespace {

// The picture is drawn on the dialog's own grid: 254 by 207 units.
constexpr double kWidth = 254.0;
constexpr double kHeight = 207.0;

void DrawKnob(QPainter& p, QPointF centre, double radius, double turn) {
  // Scale ticks around the knob, from seven to five o'clock.
  p.setPen(QPen(QColor(150, 156, 166), 0.5));
  for (int i = 0; i <= 10; ++i) {
    const double a = (225.0 - i * 27.0) * M_PI / 180.0;
    const QPointF dir(std::cos(a), -std::sin(a));
    p.drawLine(centre + dir * (radius + 1.2), centre + dir * (radius + 2.6));
  }
  QRadialGradient body(centre - QPointF(radius / 3, radius / 3), radius * 1.6);
  body.setColorAt(0.0, QColor(96, 100, 108));
  body.setColorAt(1.0, QColor(18, 19, 22));
  p.setPen(QPen(QColor(8, 8, 10), 0.6));
  p.setBrush(body);
  p.drawEllipse(centre, radius, radius);
  const double a = (225.0 - turn * 270.0) * M_PI / 180.0;
  const QPointF dir(std::cos(a), -std::sin(a));
  p.setPen(QPen(QColor(236, 238, 240), 0.9, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre + dir * (radius * 0.25), centre + dir * (radius * 0.9));
}

void DrawPadButton(QPainter& p, QRectF r, bool lit) {
  QLinearGradient face(r.topLeft(), r.bottomLeft());
  face.setColorAt(0.0, QColor(120, 124, 132));
  face.setColorAt(1.0, QColor(70, 73, 80));
  p.setPen(QPen(QColor(20, 20, 24), 0.5));
  p.setBrush(face);
  p.drawRoundedRect(r, 1.2, 1.2);
  const QPointF led(r.center().x(), r.top() - 2.2);
  p.setPen(Qt::NoPen);
  p.setBrush(lit ? QColor(255, 120, 40) : QColor(70, 40, 30));
  p.drawEllipse(led, 0.9, 0.9);
}

void DrawRecess(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(12, 13, 15), 0.8));
  p.setBrush(QColor(34, 36, 41));
  p.drawRoundedRect(r, 2.0, 2.0);
  p.setPen(QPen(QColor(92, 97, 106), 0.5));
  p.drawLine(r.bottomLeft() + QPointF(2, 0.4), r.bottomRight() + QPointF(-2, 0.4));
}

}  // namespace

void PanelPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(width() / kWidth, height() / kHeight);

  // The case and its brushed face.
  QLinearGradient face(0, 0, 0, kHeight);
  face.setColorAt(0.0, QColor(74, 79, 88));
  face.setColorAt(0.5, QColor(54, 58, 65));
  face.setColorAt(1.0, QColor(38, 41, 47));
  p.fillRect(QRectF(0, 0, kWidth, kHeight), face);
  p.setPen(QPen(QColor(110, 116, 126), 0.6));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(2, 2, kWidth - 4, kHeight - 4), 4, 4);
  for (QPointF screw : {QPointF(6, 6), QPointF(kWidth - 6, 6), QPointF(6, kHeight - 6),
                        QPointF(kWidth - 6, kHeight - 6)}) {
    p.setPen(QPen(QColor(20, 20, 24), 0.4));
    p.setBrush(QColor(140, 146, 156));
    p.drawEllipse(screw, 1.6, 1.6);
    p.drawLine(screw - QPointF(1.1, 0), screw + QPointF(1.1, 0));
  }

  // The maker's name and the model.
  QFont font("Sans Serif");
  font.setPixelSize(7);
  font.setBold(true);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
  p.setFont(font);
  p.setPen(QColor(222, 226, 232));
  p.drawText(QPointF(15, 13), "KORVANE");
  font.setPixelSize(5);
  font.setBold(false);
  p.setFont(font);
  p.setPen(QColor(170, 176, 186));
  p.drawText(QPointF(62, 13), "MIDI CONTROLLER");

  // Two rows of eight knobs.
  const double turns[2][8] = {{0.2, 0.5, 0.8, 0.35, 0.65, 0.1, 0.9, 0.5},
                              {0.6, 0.3, 0.5, 0.75, 0.15, 0.45, 0.85, 0.25}};
  for (int row = 0; row < 2; ++row) {
    for (int i = 0; i < 8; ++i) {
      DrawKnob(p, QPointF(24 + i * 22.3, 30 + row * 24), 6.5, turns[row][i]);
    }
  }

  // The display and its buttons on the right.
  DrawRecess(p, QRectF(196, 17, 43, 20));
  QLinearGradient lcd(196, 19, 196, 35);
  lcd.setColorAt(0.0, QColor(150, 196, 120));
  lcd.setColorAt(1.0, QColor(104, 150, 84));
  p.setPen(Qt::NoPen);
  p.setBrush(lcd);
  p.drawRect(QRectF(198.5, 19.5, 38, 15));
  font.setPixelSize(5);
  p.setFont(font);
  p.setPen(QColor(30, 52, 28));
  p.drawText(QRectF(198.5, 19.5, 38, 15), Qt::AlignCenter, "UPDATE");
  for (int i = 0; i < 3; ++i)
    DrawPadButton(p, QRectF(198 + i * 14, 48, 10, 7), i == 0);
  for (int i = 0; i < 3; ++i)
    DrawPadButton(p, QRectF(198 + i * 14, 66, 10, 7), i == 2);

  // Recesses behind the log with its progress bar, and behind the buttons.
  DrawRecess(p, QRectF(12, 76, 185, 108));
  DrawRecess(p, QRectF(195, 89, 45, 87));

  // A row of eight pads along the bottom edge.
  for (int i = 0; i < 8; ++i)
    DrawPadButton(p, QRectF(17 + i * 22.3, 192, 14, 8), i % 3 == 0);
}

}  // namespace korvane
