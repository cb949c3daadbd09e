#include "app/panel_description.h"

#include <cmath>
#include <numbers>

namespace korvane::panel {

namespace {

Point Add(Point a, Point b) {
  return {a.x + b.x, a.y + b.y};
}

Point Scaled(Point a, double f) {
  return {a.x * f, a.y * f};
}

// The unit vector at an angle in degrees, counter-clockwise from three o'clock
// (the picture's y axis points down).
Point Direction(double degrees) {
  const double a = degrees * std::numbers::pi / 180.0;
  return {std::cos(a), -std::sin(a)};
}

void Knob(PanelCanvas& c, Point centre, double radius, double turn) {
  // Scale ticks around the knob, from seven to five o'clock.
  const Pen tick{{150, 156, 166}, 0.5};
  for (int i = 0; i <= 10; ++i) {
    const Point dir = Direction(225.0 - i * 27.0);
    c.DrawLine(Add(centre, Scaled(dir, radius + 1.2)), Add(centre, Scaled(dir, radius + 2.6)),
               tick);
  }
  c.DrawEllipse(centre, radius, radius, Pen{{8, 8, 10}, 0.6},
                Fill::Radial({centre.x - radius / 3, centre.y - radius / 3}, radius * 1.6,
                             {{0.0, {96, 100, 108}}, {1.0, {18, 19, 22}}}));
  const Point dir = Direction(225.0 - turn * 270.0);
  c.DrawLine(Add(centre, Scaled(dir, radius * 0.25)), Add(centre, Scaled(dir, radius * 0.9)),
             Pen{{236, 238, 240}, 0.9, true});
}

void PadButton(PanelCanvas& c, const Rect& r, bool lit) {
  c.DrawRoundedRect(r, 1.2, Pen{{20, 20, 24}, 0.5},
                    Fill::Linear({r.x, r.y}, {r.x, r.y + r.height},
                                 {{0.0, {120, 124, 132}}, {1.0, {70, 73, 80}}}));
  const Rgb led = lit ? Rgb{255, 120, 40} : Rgb{70, 40, 30};
  c.DrawEllipse({r.x + r.width / 2, r.y - 2.2}, 0.9, 0.9, std::nullopt, Fill::Solid(led));
}

void Recess(PanelCanvas& c, const Rect& r) {
  c.DrawRoundedRect(r, 2.0, Pen{{12, 13, 15}, 0.8}, Fill::Solid({34, 36, 41}));
  const double bottom = r.y + r.height + 0.4;
  c.DrawLine({r.x + 2, bottom}, {r.x + r.width - 2, bottom}, Pen{{92, 97, 106}, 0.5});
}

}  // namespace

void DescribePanel(PanelCanvas& c) {
  // The case and its brushed face.
  c.FillRect({0, 0, kWidth, kHeight},
             Fill::Linear({0, 0}, {0, kHeight},
                          {{0.0, {74, 79, 88}}, {0.5, {54, 58, 65}}, {1.0, {38, 41, 47}}}));
  c.DrawRoundedRect({2, 2, kWidth - 4, kHeight - 4}, 4, Pen{{110, 116, 126}, 0.6}, Fill::None());
  for (Point screw :
       {Point{6, 6}, Point{kWidth - 6, 6}, Point{6, kHeight - 6}, Point{kWidth - 6, kHeight - 6}}) {
    const Pen slot{{20, 20, 24}, 0.4};
    c.DrawEllipse(screw, 1.6, 1.6, slot, Fill::Solid({140, 146, 156}));
    c.DrawLine({screw.x - 1.1, screw.y}, {screw.x + 1.1, screw.y}, slot);
  }

  // The maker's name and the model.
  c.DrawText({15, 13}, "KORVANE", TextStyle{7, true, 1.2, {222, 226, 232}});
  c.DrawText({62, 13}, "MIDI CONTROLLER", TextStyle{5, false, 1.2, {170, 176, 186}});

  // Two rows of eight knobs.
  const double turns[2][8] = {{0.2, 0.5, 0.8, 0.35, 0.65, 0.1, 0.9, 0.5},
                              {0.6, 0.3, 0.5, 0.75, 0.15, 0.45, 0.85, 0.25}};
  for (int row = 0; row < 2; ++row) {
    for (int i = 0; i < 8; ++i)
      Knob(c, {24 + i * 22.3, 30.0 + row * 24}, 6.5, turns[row][i]);
  }

  // The display and its buttons on the right.
  Recess(c, {196, 17, 43, 20});
  c.DrawRect({198.5, 19.5, 38, 15}, std::nullopt,
             Fill::Linear({196, 19}, {196, 35}, {{0.0, {150, 196, 120}}, {1.0, {104, 150, 84}}}));
  c.DrawCentredText({198.5, 19.5, 38, 15}, "UPDATE", TextStyle{5, false, 1.2, {30, 52, 28}});
  for (int i = 0; i < 3; ++i)
    PadButton(c, {198.0 + i * 14, 48, 10, 7}, i == 0);
  for (int i = 0; i < 3; ++i)
    PadButton(c, {198.0 + i * 14, 66, 10, 7}, i == 2);

  // Recesses behind the log with its progress bar, and behind the buttons.
  Recess(c, {12, 76, 185, 108});
  Recess(c, {195, 89, 45, 87});

  // A row of eight pads along the bottom edge.
  for (int i = 0; i < 8; ++i)
    PadButton(c, {17 + i * 22.3, 192, 14, 8}, i % 3 == 0);
}

}  // namespace korvane::panel
