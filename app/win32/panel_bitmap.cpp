#include "app/win32/panel_bitmap.h"

// GDI+'s headers want min and max from windows.h and the COM base types.
#include <objidl.h>
#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <string>
#include <vector>

#include "app/panel_description.h"

namespace korvane {

namespace {

namespace gp = Gdiplus;

// GDI+ for the rest of the program's life, started on the first picture.
class GdiplusSession {
 public:
  GdiplusSession() {
    gp::GdiplusStartupInput input;
    ok_ = gp::GdiplusStartup(&token_, &input, nullptr) == gp::Ok;
  }
  ~GdiplusSession() {
    if (ok_)
      gp::GdiplusShutdown(token_);
  }
  bool Ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

gp::Color ToColour(panel::Rgb c) {
  return gp::Color(255, c.r, c.g, c.b);
}

gp::PointF ToPoint(panel::Point p) {
  return gp::PointF(static_cast<gp::REAL>(p.x), static_cast<gp::REAL>(p.y));
}

gp::REAL Real(double v) {
  return static_cast<gp::REAL>(v);
}

// Colours and positions of a gradient's stops; for a path gradient the
// positions run from the edge (0) to the centre (1), the other way round.
void StopArrays(const std::vector<panel::Stop>& stops, bool fromEdge,
                std::vector<gp::Color>& colours, std::vector<gp::REAL>& positions) {
  for (std::size_t i = 0; i < stops.size(); ++i) {
    const panel::Stop& s = fromEdge ? stops[stops.size() - 1 - i] : stops[i];
    colours.push_back(ToColour(s.colour));
    positions.push_back(Real(fromEdge ? 1.0 - s.at : s.at));
  }
}

std::unique_ptr<gp::Brush> ToBrush(const panel::Fill& fill) {
  switch (fill.kind) {
    case panel::Fill::kSolid:
      return std::make_unique<gp::SolidBrush>(ToColour(fill.colour));
    case panel::Fill::kLinear: {
      if (fill.stops.size() < 2)
        return nullptr;
      auto brush = std::make_unique<gp::LinearGradientBrush>(ToPoint(fill.start), ToPoint(fill.end),
                                                             ToColour(fill.stops.front().colour),
                                                             ToColour(fill.stops.back().colour));
      std::vector<gp::Color> colours;
      std::vector<gp::REAL> positions;
      StopArrays(fill.stops, false, colours, positions);
      brush->SetInterpolationColors(colours.data(), positions.data(),
                                    static_cast<INT>(colours.size()));
      // Past its ends the gradient mirrors, which keeps the end colours at
      // the edges of the shapes it fills.
      brush->SetWrapMode(gp::WrapModeTileFlipXY);
      return brush;
    }
    case panel::Fill::kRadial: {
      if (fill.stops.size() < 2)
        return nullptr;
      gp::GraphicsPath circle;
      circle.AddEllipse(Real(fill.start.x - fill.radius), Real(fill.start.y - fill.radius),
                        Real(2 * fill.radius), Real(2 * fill.radius));
      auto brush = std::make_unique<gp::PathGradientBrush>(&circle);
      brush->SetCenterPoint(ToPoint(fill.start));
      gp::Color centre = ToColour(fill.stops.front().colour);
      gp::Color edge = ToColour(fill.stops.back().colour);
      brush->SetCenterColor(centre);
      INT count = 1;
      brush->SetSurroundColors(&edge, &count);
      if (fill.stops.size() > 2) {
        std::vector<gp::Color> colours;
        std::vector<gp::REAL> positions;
        StopArrays(fill.stops, true, colours, positions);
        brush->SetInterpolationColors(colours.data(), positions.data(),
                                      static_cast<INT>(colours.size()));
      }
      return brush;
    }
    case panel::Fill::kNone:
      break;
  }
  return nullptr;
}

std::unique_ptr<gp::Pen> ToPen(const panel::Pen& pen) {
  auto result = std::make_unique<gp::Pen>(ToColour(pen.colour), Real(pen.width));
  const gp::LineCap cap = pen.roundCap ? gp::LineCapRound : gp::LineCapSquare;
  result->SetLineCap(cap, cap, gp::DashCapFlat);
  return result;
}

// The platform's sans serif face: the first of these that is installed, else
// the one GDI+ names its generic sans serif.
std::unique_ptr<gp::FontFamily> SansSerif() {
  for (const wchar_t* name : {L"Microsoft Sans Serif", L"Tahoma", L"Arial"}) {
    auto family = std::make_unique<gp::FontFamily>(name);
    if (family->IsAvailable())
      return family;
  }
  gp::GpFontFamily* generic = nullptr;
  if (gp::DllExports::GdipGetGenericFontFamilySansSerif(&generic) != gp::Ok || !generic)
    return nullptr;
  WCHAR name[LF_FACESIZE] = {};
  if (gp::DllExports::GdipGetFamilyName(generic, name, LANG_NEUTRAL) != gp::Ok)
    return nullptr;
  auto family = std::make_unique<gp::FontFamily>(name);
  return family->IsAvailable() ? std::move(family) : nullptr;
}

class GdiplusCanvas final : public panel::PanelCanvas {
 public:
  explicit GdiplusCanvas(gp::Graphics& g) : g_(g), family_(SansSerif()) {}

  void FillRect(const panel::Rect& r, const panel::Fill& fill) override {
    if (auto brush = ToBrush(fill))
      g_.FillRectangle(brush.get(), Real(r.x), Real(r.y), Real(r.width), Real(r.height));
  }
  void DrawRect(const panel::Rect& r, const std::optional<panel::Pen>& pen,
                const panel::Fill& fill) override {
    FillRect(r, fill);
    if (pen)
      g_.DrawRectangle(ToPen(*pen).get(), Real(r.x), Real(r.y), Real(r.width), Real(r.height));
  }
  void DrawRoundedRect(const panel::Rect& r, double radius, const std::optional<panel::Pen>& pen,
                       const panel::Fill& fill) override {
    const gp::REAL d = Real(2 * radius);
    const gp::REAL left = Real(r.x), top = Real(r.y);
    const gp::REAL right = Real(r.x + r.width) - d, bottom = Real(r.y + r.height) - d;
    gp::GraphicsPath path;
    path.AddArc(left, top, d, d, 180, 90);
    path.AddArc(right, top, d, d, 270, 90);
    path.AddArc(right, bottom, d, d, 0, 90);
    path.AddArc(left, bottom, d, d, 90, 90);
    path.CloseFigure();
    Draw(path, pen, fill);
  }
  void DrawEllipse(panel::Point centre, double rx, double ry, const std::optional<panel::Pen>& pen,
                   const panel::Fill& fill) override {
    gp::GraphicsPath path;
    path.AddEllipse(Real(centre.x - rx), Real(centre.y - ry), Real(2 * rx), Real(2 * ry));
    Draw(path, pen, fill);
  }
  void DrawLine(panel::Point from, panel::Point to, const panel::Pen& pen) override {
    g_.DrawLine(ToPen(pen).get(), ToPoint(from), ToPoint(to));
  }
  void DrawText(panel::Point origin, std::string_view text,
                const panel::TextStyle& style) override {
    Spaced(origin.x, origin.y, text, style);
  }
  void DrawCentredText(const panel::Rect& r, std::string_view text,
                       const panel::TextStyle& style) override {
    gp::REAL ascent = 0, descent = 0;
    if (!Metrics(style, ascent, descent))
      return;
    const double width = Spaced(0, 0, text, style, false);
    const double top = r.y + (r.height - (ascent + descent)) / 2;
    Spaced(r.x + (r.width - width) / 2, top + ascent, text, style);
  }

 private:
  void Draw(gp::GraphicsPath& path, const std::optional<panel::Pen>& pen, const panel::Fill& fill) {
    if (auto brush = ToBrush(fill))
      g_.FillPath(brush.get(), &path);
    if (pen)
      g_.DrawPath(ToPen(*pen).get(), &path);
  }

  static INT Style(const panel::TextStyle& style) {
    return style.bold ? gp::FontStyleBold : gp::FontStyleRegular;
  }

  bool Metrics(const panel::TextStyle& style, gp::REAL& ascent, gp::REAL& descent) const {
    if (!family_)
      return false;
    const INT s = Style(style);
    const gp::REAL em = family_->GetEmHeight(s);
    if (em == 0)
      return false;
    ascent = Real(style.pixelSize) * family_->GetCellAscent(s) / em;
    descent = Real(style.pixelSize) * family_->GetCellDescent(s) / em;
    return true;
  }

  // Draws (or only measures) text one character at a time, each followed by
  // the letter spacing, with its baseline at y; returns the width it took.
  double Spaced(double x, double baseline, std::string_view text, const panel::TextStyle& style,
                bool draw = true) {
    gp::REAL ascent = 0, descent = 0;
    if (!Metrics(style, ascent, descent))
      return 0;
    gp::Font font(family_.get(), Real(style.pixelSize), Style(style), gp::UnitWorld);
    const gp::StringFormat* format = gp::StringFormat::GenericTypographic();
    gp::SolidBrush brush(ToColour(style.colour));
    double at = x;
    for (char c : text) {
      const wchar_t letter[2] = {static_cast<wchar_t>(static_cast<unsigned char>(c)), 0};
      gp::RectF box;
      g_.MeasureString(letter, 1, &font, gp::PointF(0, 0), format, &box);
      if (draw) {
        g_.DrawString(letter, 1, &font, gp::PointF(Real(at), Real(baseline) - ascent), format,
                      &brush);
      }
      // A space measures nothing in the typographic format: a quarter em.
      at += (c == ' ' ? style.pixelSize / 4 : box.Width) + style.letterSpacing;
    }
    return at - x;
  }

  gp::Graphics& g_;
  std::unique_ptr<gp::FontFamily> family_;
};

}  // namespace

OwnedBitmap RenderPanelBitmap(SIZE size, SIZE picture) {
  static GdiplusSession session;
  if (!session.Ok() || size.cx <= 0 || size.cy <= 0 || picture.cx <= 0 || picture.cy <= 0)
    return nullptr;
  gp::Bitmap bitmap(size.cx, size.cy, PixelFormat32bppARGB);
  if (bitmap.GetLastStatus() != gp::Ok)
    return nullptr;
  {
    gp::Graphics g(&bitmap);
    g.SetSmoothingMode(gp::SmoothingModeAntiAlias);
    g.SetTextRenderingHint(gp::TextRenderingHintAntiAlias);
    g.ScaleTransform(Real(picture.cx / panel::kWidth), Real(picture.cy / panel::kHeight));
    GdiplusCanvas canvas(g);
    panel::DescribePanel(canvas);
  }
  HBITMAP result = nullptr;
  if (bitmap.GetHBITMAP(gp::Color(255, 0, 0, 0), &result) != gp::Ok)
    return nullptr;
  return OwnedBitmap(result);
}

}  // namespace korvane
