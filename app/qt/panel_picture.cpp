#include "app/qt/panel_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "app/panel_description.h"

namespace korvane {

namespace {

QColor ToColour(panel::Rgb c) {
  return QColor(c.r, c.g, c.b);
}

QPointF ToPoint(panel::Point p) {
  return QPointF(p.x, p.y);
}

QRectF ToRect(const panel::Rect& r) {
  return QRectF(r.x, r.y, r.width, r.height);
}

QBrush ToBrush(const panel::Fill& fill) {
  switch (fill.kind) {
    case panel::Fill::kSolid:
      return QBrush(ToColour(fill.colour));
    case panel::Fill::kLinear: {
      QLinearGradient g(ToPoint(fill.start), ToPoint(fill.end));
      for (const panel::Stop& s : fill.stops)
        g.setColorAt(s.at, ToColour(s.colour));
      return QBrush(g);
    }
    case panel::Fill::kRadial: {
      QRadialGradient g(ToPoint(fill.start), fill.radius);
      for (const panel::Stop& s : fill.stops)
        g.setColorAt(s.at, ToColour(s.colour));
      return QBrush(g);
    }
    case panel::Fill::kNone:
      break;
  }
  return QBrush(Qt::NoBrush);
}

QPen ToPen(const std::optional<panel::Pen>& pen) {
  if (!pen)
    return QPen(Qt::NoPen);
  return QPen(ToColour(pen->colour), pen->width, Qt::SolidLine,
              pen->roundCap ? Qt::RoundCap : Qt::SquareCap);
}

QFont ToFont(const panel::TextStyle& style) {
  QFont font("Sans Serif");
  font.setPixelSize(static_cast<int>(style.pixelSize));
  font.setBold(style.bold);
  font.setLetterSpacing(QFont::AbsoluteSpacing, style.letterSpacing);
  return font;
}

class QtPanelCanvas final : public panel::PanelCanvas {
 public:
  explicit QtPanelCanvas(QPainter& p) : p_(p) {}

  void FillRect(const panel::Rect& r, const panel::Fill& fill) override {
    p_.fillRect(ToRect(r), ToBrush(fill));
  }
  void DrawRect(const panel::Rect& r, const std::optional<panel::Pen>& pen,
                const panel::Fill& fill) override {
    Set(pen, fill);
    p_.drawRect(ToRect(r));
  }
  void DrawRoundedRect(const panel::Rect& r, double radius, const std::optional<panel::Pen>& pen,
                       const panel::Fill& fill) override {
    Set(pen, fill);
    p_.drawRoundedRect(ToRect(r), radius, radius);
  }
  void DrawEllipse(panel::Point centre, double rx, double ry, const std::optional<panel::Pen>& pen,
                   const panel::Fill& fill) override {
    Set(pen, fill);
    p_.drawEllipse(ToPoint(centre), rx, ry);
  }
  void DrawLine(panel::Point from, panel::Point to, const panel::Pen& pen) override {
    p_.setPen(ToPen(pen));
    p_.drawLine(ToPoint(from), ToPoint(to));
  }
  void DrawText(panel::Point origin, std::string_view text,
                const panel::TextStyle& style) override {
    SetText(style);
    p_.drawText(ToPoint(origin), FromText(text));
  }
  void DrawCentredText(const panel::Rect& r, std::string_view text,
                       const panel::TextStyle& style) override {
    SetText(style);
    p_.drawText(ToRect(r), Qt::AlignCenter, FromText(text));
  }

 private:
  static QString FromText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  }
  void Set(const std::optional<panel::Pen>& pen, const panel::Fill& fill) {
    p_.setPen(ToPen(pen));
    p_.setBrush(ToBrush(fill));
  }
  void SetText(const panel::TextStyle& style) {
    p_.setFont(ToFont(style));
    p_.setPen(ToColour(style.colour));
  }

  QPainter& p_;
};

}  // namespace

void PanelPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(width() / panel::kWidth, height() / panel::kHeight);
  QtPanelCanvas canvas(p);
  panel::DescribePanel(canvas);
}

}  // namespace korvane
