#include "ui/canvas.h"

#include <algorithm>
#include <map>

#include "data/errors.h"
#include "ui/text.h"

namespace dg::ui {

Picture::Picture(std::string name, int width, int height, Color fill)
    : name_(std::move(name)),
      width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width * height), fill) {}

Color Picture::Pixel(int x, int y) const {
  return pixels_[static_cast<std::size_t>(y * width_ + x)];
}

void Picture::SetPixel(int x, int y, Color c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y * width_ + x)] = c;
}

namespace {

constexpr Color kWhite{255, 255, 255};
constexpr Color kBlack{0, 0, 0};

// A 14 x 14 white box with a black frame at (1, 1) of a 16 x 16 olive tile.
Picture Box(const std::string& name) {
  Picture p(name, 16, 16, kOlive);
  for (int y = 1; y <= 14; ++y) {
    for (int x = 1; x <= 14; ++x) {
      const bool frame = x == 1 || x == 14 || y == 1 || y == 14;
      p.SetPixel(x, y, frame ? kBlack : kWhite);
    }
  }
  return p;
}

Picture Check() {
  Picture p = Box("check");
  // The tick: down from (4, 7) to (6, 9), then up to (11, 4); two pixels thick.
  for (int i = 0; i <= 2; ++i) {
    p.SetPixel(4 + i, 7 + i, kBlack);
    p.SetPixel(4 + i, 8 + i, kBlack);
  }
  for (int i = 0; i <= 5; ++i) {
    p.SetPixel(6 + i, 9 - i, kBlack);
    p.SetPixel(6 + i, 10 - i, kBlack);
  }
  return p;
}

Picture Warning() {
  Picture p("warning", 37, 38, kOlive);
  const Color yellow{255, 220, 0};
  // A triangle with its apex at the top centre, an exclamation mark inside.
  for (int y = 2; y < 36; ++y) {
    const int half = (y - 2) / 2 + 1;
    for (int x = 18 - half; x <= 18 + half; ++x) {
      const bool edge = x == 18 - half || x == 18 + half || y == 35;
      p.SetPixel(x, y, edge ? kBlack : yellow);
    }
  }
  for (int y = 12; y < 27; ++y) {
    p.SetPixel(18, y, kBlack);
    p.SetPixel(19, y, kBlack);
  }
  for (int y = 29; y < 32; ++y) {
    p.SetPixel(18, y, kBlack);
    p.SetPixel(19, y, kBlack);
  }
  return p;
}

std::map<std::string, Picture>& Registry() {
  static std::map<std::string, Picture> pictures = {
      {"check", Check()}, {"uncheck", Box("uncheck")}, {"warning", Warning()}};
  return pictures;
}

std::string Str(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

std::string Str(Color c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

}  // namespace

Picture LoadPicture(const std::string& name) {
  auto& pictures = Registry();
  auto it = pictures.find(name);
  if (it == pictures.end()) throw Error("no picture named \"" + name + "\"");
  return it->second;
}

void RegisterPicture(const Picture& picture) { Registry()[picture.Name()] = picture; }

void RecordingCanvas::SetBrushColor(Color c) {
  Canvas::SetBrushColor(c);
  ops_.push_back("brush " + Str(c));
}

void RecordingCanvas::FillRect(const Rect& rect) { ops_.push_back("fill " + Str(rect)); }

void RecordingCanvas::TextRect(const Rect& clip, int x, int y, const std::string& text) {
  ops_.push_back("text " + std::to_string(x) + "," + std::to_string(y) + " [" + Str(clip) + "] " +
                 text);
}

void RecordingCanvas::BrushCopy(const Rect& dest, const Picture& picture, const Rect& source,
                                Color transparent) {
  ops_.push_back("copy " + picture.Name() + " " + Str(dest) + " <- " + Str(source) +
                 " transparent " + Str(transparent));
}

void RecordingCanvas::SetPen(Color c, int width) {
  Canvas::SetPen(c, width);
  ops_.push_back("pen " + Str(c) + " " + std::to_string(width));
}

void RecordingCanvas::Polyline(const std::vector<Point>& points) {
  std::string line = "line";
  for (const Point& p : points) line += " " + std::to_string(p.x) + "," + std::to_string(p.y);
  ops_.push_back(line);
}

void RecordingCanvas::Ellipse(const Rect& rect) { ops_.push_back("ellipse " + Str(rect)); }

void RecordingCanvas::Text(int x, int y, const std::string& text) {
  ops_.push_back("at " + std::to_string(x) + "," + std::to_string(y) + " " + text);
}

int RecordingCanvas::TextWidth(const std::string& text) const {
  return 7 * static_cast<int>(text.size());
}

std::string RecordingCanvas::Joined() const { return JoinTexts(ops_, " | "); }

void PaintBox::ZoomAt(double factor, int x, int y, const Rect& size) {
  const double next = std::clamp(zoom * factor, 1.0, 64.0);
  if (next == 1.0) {
    ResetView();
    return;
  }
  const double cx = x - (size.left + size.right) / 2.0, cy = y - (size.top + size.bottom) / 2.0;
  pan_x = cx - (cx - pan_x) * next / zoom;
  pan_y = cy - (cy - pan_y) * next / zoom;
  zoom = next;
}

}  // namespace dg::ui
