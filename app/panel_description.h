// The panel picture under the main dialog's controls, described once for
// every window that shows it: a controller's front panel with rows of knobs
// and buttons, a display and recesses behind the log and the button column.
//
// The description draws on the dialog's own grid (254 by 207 dialog units)
// through PanelCanvas; each window renders it with its own painter, scaled so
// that the picture fills the dialog whatever the font made of its size.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace korvane::panel {

inline constexpr double kWidth = 254.0;
inline constexpr double kHeight = 207.0;

struct Rgb {
  std::uint8_t r, g, b;
};

struct Point {
  double x, y;
};

struct Rect {
  double x, y, width, height;
};

struct Stop {
  double at;  // 0 at the gradient's start (or centre), 1 at its end (or edge)
  Rgb colour;
};

// How a shape is filled: nothing, one colour, a linear gradient from start to
// end, or a radial one around start with the given radius. Beyond its ends a
// gradient keeps its end colours.
struct Fill {
  enum Kind { kNone, kSolid, kLinear, kRadial };
  Kind kind = kNone;
  Rgb colour{};
  Point start{}, end{};
  double radius = 0;
  std::vector<Stop> stops;

  static Fill None() { return {}; }
  static Fill Solid(Rgb c) { return {kSolid, c, {}, {}, 0, {}}; }
  static Fill Linear(Point from, Point to, std::vector<Stop> stops) {
    return {kLinear, {}, from, to, 0, std::move(stops)};
  }
  static Fill Radial(Point centre, double radius, std::vector<Stop> stops) {
    return {kRadial, {}, centre, {}, radius, std::move(stops)};
  }
};

// An outline: its width in dialog units; line ends are square unless round.
struct Pen {
  Rgb colour;
  double width;
  bool roundCap = false;
};

// Text in the platform's sans serif face; letterSpacing is added after every
// character.
struct TextStyle {
  double pixelSize;
  bool bold;
  double letterSpacing;
  Rgb colour;
};

class PanelCanvas {
 public:
  virtual ~PanelCanvas() = default;
  // A rectangle filled edge to edge, with no outline.
  virtual void FillRect(const Rect& r, const Fill& fill) = 0;
  virtual void DrawRect(const Rect& r, const std::optional<Pen>& pen, const Fill& fill) = 0;
  virtual void DrawRoundedRect(const Rect& r, double radius, const std::optional<Pen>& pen,
                               const Fill& fill) = 0;
  virtual void DrawEllipse(Point centre, double rx, double ry, const std::optional<Pen>& pen,
                           const Fill& fill) = 0;
  virtual void DrawLine(Point from, Point to, const Pen& pen) = 0;
  // Text whose baseline starts at origin.
  virtual void DrawText(Point origin, std::string_view text, const TextStyle& style) = 0;
  // Text centred in r, across and down.
  virtual void DrawCentredText(const Rect& r, std::string_view text, const TextStyle& style) = 0;
};

// Draws the whole picture, back to front.
void DescribePanel(PanelCanvas& canvas);

}  // namespace korvane::panel
