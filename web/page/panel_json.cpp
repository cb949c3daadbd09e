#include "web/page/panel_json.h"

#include <cstdio>
#include <string_view>

#include "app/panel_description.h"

namespace korvane::web {

namespace {

using namespace korvane::panel;

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

std::string Colour(Rgb c) {
  char text[16];
  std::snprintf(text, sizeof text, "\"#%02x%02x%02x\"", c.r, c.g, c.b);
  return text;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string OfFill(const Fill& f) {
  std::string out = "{\"kind\":" + std::to_string(static_cast<int>(f.kind));
  out += ",\"colour\":" + Colour(f.colour);
  out += ",\"start\":[" + Number(f.start.x) + "," + Number(f.start.y) + "]";
  out += ",\"end\":[" + Number(f.end.x) + "," + Number(f.end.y) + "]";
  out += ",\"radius\":" + Number(f.radius) + ",\"stops\":[";
  for (std::size_t i = 0; i < f.stops.size(); ++i)
    out += (i ? "," : "") + std::string("[") + Number(f.stops[i].at) + "," +
           Colour(f.stops[i].colour) + "]";
  return out + "]}";
}

std::string OfPen(const std::optional<Pen>& pen) {
  if (!pen)
    return "null";
  return "{\"colour\":" + Colour(pen->colour) + ",\"width\":" + Number(pen->width) +
         ",\"round\":" + (pen->roundCap ? "true" : "false") + "}";
}

std::string OfRect(const Rect& r) {
  return "[" + Number(r.x) + "," + Number(r.y) + "," + Number(r.width) + "," + Number(r.height) +
         "]";
}

std::string OfStyle(const TextStyle& s) {
  return "{\"size\":" + Number(s.pixelSize) + ",\"bold\":" + (s.bold ? "true" : "false") +
         ",\"spacing\":" + Number(s.letterSpacing) + ",\"colour\":" + Colour(s.colour) + "}";
}

class JsonCanvas final : public PanelCanvas {
 public:
  std::string Text() const { return "[" + ops_ + "]"; }

  void FillRect(const Rect& r, const Fill& fill) override {
    Add("{\"op\":\"rect\",\"rect\":" + OfRect(r) + ",\"pen\":null,\"fill\":" + OfFill(fill) + "}");
  }
  void DrawRect(const Rect& r, const std::optional<Pen>& pen, const Fill& fill) override {
    Add("{\"op\":\"rect\",\"rect\":" + OfRect(r) + ",\"pen\":" + OfPen(pen) +
        ",\"fill\":" + OfFill(fill) + "}");
  }
  void DrawRoundedRect(const Rect& r, double radius, const std::optional<Pen>& pen,
                       const Fill& fill) override {
    Add("{\"op\":\"round\",\"rect\":" + OfRect(r) + ",\"radius\":" + Number(radius) +
        ",\"pen\":" + OfPen(pen) + ",\"fill\":" + OfFill(fill) + "}");
  }
  void DrawEllipse(Point c, double rx, double ry, const std::optional<Pen>& pen,
                   const Fill& fill) override {
    Add("{\"op\":\"ellipse\",\"centre\":[" + Number(c.x) + "," + Number(c.y) +
        "],\"rx\":" + Number(rx) + ",\"ry\":" + Number(ry) + ",\"pen\":" + OfPen(pen) +
        ",\"fill\":" + OfFill(fill) + "}");
  }
  void DrawLine(Point from, Point to, const Pen& pen) override {
    Add("{\"op\":\"line\",\"from\":[" + Number(from.x) + "," + Number(from.y) + "],\"to\":[" +
        Number(to.x) + "," + Number(to.y) + "],\"pen\":" + OfPen(pen) + "}");
  }
  void DrawText(Point origin, std::string_view text, const TextStyle& style) override {
    Add("{\"op\":\"text\",\"at\":[" + Number(origin.x) + "," + Number(origin.y) +
        "],\"text\":" + Quoted(text) + ",\"style\":" + OfStyle(style) + "}");
  }
  void DrawCentredText(const Rect& r, std::string_view text, const TextStyle& style) override {
    Add("{\"op\":\"centred\",\"rect\":" + OfRect(r) + ",\"text\":" + Quoted(text) +
        ",\"style\":" + OfStyle(style) + "}");
  }

 private:
  void Add(const std::string& op) { ops_ += (ops_.empty() ? "" : ",") + op; }
  std::string ops_;
};

}  // namespace

std::string PanelAsJson() {
  JsonCanvas canvas;
  DescribePanel(canvas);
  return canvas.Text();
}

}  // namespace korvane::web
