// Drawing surface for the per-cell drawing of grids, pictures, the Image
// control, and the pictures a PaintBox's owner draws.
//
// A Canvas is given to a grid for the length of one paint (DataGrid::PaintCell);
// the Qt view implements it over its painter, tests use RecordingCanvas.
// Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/control.h"

namespace dg::ui {

// A rectangle; right and bottom are exclusive. Intentionally copyable.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// A point in pixels. Intentionally copyable.
struct Point {
  int x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// A small bitmap. `name` says where it came from (for traces and
// recordings). Intentionally copyable.
class Picture {
 public:
  Picture() = default;
  Picture(std::string name, int width, int height, Color fill);
  const std::string& Name() const { return name_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  bool IsEmpty() const { return width_ == 0 || height_ == 0; }
  // REQUIRES: 0 <= x < Width(), 0 <= y < Height().
  Color Pixel(int x, int y) const;
  void SetPixel(int x, int y, Color c);

 private:
  std::string name_;
  int width_ = 0, height_ = 0;
  std::vector<Color> pixels_;
};

// Olive, the background of the built-in pictures, drawn as transparent.
inline constexpr Color kOlive{128, 128, 0};

// Named bitmap source. Built in: "check" (a white box with a black tick) and
// "uncheck" (an empty white box), 16 x 16 on olive; "warning" (37 x 38, a
// warning sign on olive). Throws Error naming an unknown picture.
Picture LoadPicture(const std::string& name);
// Adds or replaces a named picture (process-wide).
void RegisterPicture(const Picture& picture);

class Canvas {
 public:
  virtual ~Canvas() = default;
  Color BrushColor() const { return brush_; }
  virtual void SetBrushColor(Color c) { brush_ = c; }
  const Font& CurrentFont() const { return font_; }
  virtual void SetFont(const Font& f) { font_ = f; }
  // Fills the rectangle with the brush colour.
  virtual void FillRect(const Rect& rect) = 0;
  // Writes text with its top-left corner at (x, y), clipped to `clip`.
  virtual void TextRect(const Rect& clip, int x, int y, const std::string& text) = 0;
  // Copies the `source` part of the picture into `dest`; source pixels of
  // the `transparent` colour take the brush colour.
  virtual void BrushCopy(const Rect& dest, const Picture& picture, const Rect& source,
                         Color transparent) = 0;

  // Lines and outlines: colour and width in pixels.
  Color PenColor() const { return pen_; }
  int PenWidth() const { return pen_width_; }
  virtual void SetPen(Color c, int width) {
    pen_ = c;
    pen_width_ = width;
  }
  // Straight lines from point to point with the pen (nothing for fewer than
  // two points).
  virtual void Polyline(const std::vector<Point>& points) = 0;
  // The ellipse inside `rect`, filled with the brush, outlined with the pen.
  virtual void Ellipse(const Rect& rect) = 0;
  // Text with its top-left corner at (x, y) over what is drawn already, in
  // the font's colour (black when the font names none).
  virtual void Text(int x, int y, const std::string& text) = 0;
  // Width of the text in the current font, in pixels.
  virtual int TextWidth(const std::string& text) const = 0;

 private:
  Color brush_{255, 255, 255};
  Color pen_{0, 0, 0};
  int pen_width_ = 1;
  Font font_;
};

// Records every drawing call as a compact line:
//   "brush 255,255,225"  "fill 0,0,40,18"  "text 2,2 [0,0,40,18] abc"
//   "copy check 1,0,17,18 <- 0,0,16,18 transparent 128,128,0"
//   "pen 0,0,255 2"  "line 1,2 3,4 5,6"  "ellipse 0,0,8,8"  "at 2,2 abc"
// Text is measured as 7 pixels a character.
class RecordingCanvas : public Canvas {
 public:
  void SetBrushColor(Color c) override;
  void FillRect(const Rect& rect) override;
  void TextRect(const Rect& clip, int x, int y, const std::string& text) override;
  void BrushCopy(const Rect& dest, const Picture& picture, const Rect& source,
                 Color transparent) override;
  void SetPen(Color c, int width) override;
  void Polyline(const std::vector<Point>& points) override;
  void Ellipse(const Rect& rect) override;
  void Text(int x, int y, const std::string& text) override;
  int TextWidth(const std::string& text) const override;
  const std::vector<std::string>& Ops() const { return ops_; }
  // All lines joined by " | ".
  std::string Joined() const;
  void Clear() { ops_.clear(); }

 private:
  std::vector<std::string> ops_;
};

// A surface its owner draws on: the view calls Paint with a canvas the size
// of the control whenever it shows the control; takes no focus.
class PaintBox : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  // Draws the control on `canvas`, whose origin is the control's top-left
  // corner and whose size is `size` (right and bottom are width and height).
  std::function<void(PaintBox&, Canvas& canvas, const Rect& size)> on_paint;
  void Paint(Canvas& canvas, const Rect& size) {
    if (on_paint) on_paint(*this, canvas, size);
  }
  // Asks the views to paint the control again (its picture changed).
  void Invalidate() { Changed(); }

  // A picture the clerk may zoom and move: the views then turn the wheel
  // and a drag into `zoom` and `pan_x`, `pan_y`, and paint again. The owner
  // draws its picture scaled by `zoom` about the centre of the box, then
  // moved by the pan in pixels.
  bool zoomable = false;
  double zoom = 1;
  double pan_x = 0, pan_y = 0;
  // Zooms by `factor` keeping the picture's point under (x, y) where it is;
  // the zoom stays between 1 and 64 (the whole picture, at 1, is centred).
  void ZoomAt(double factor, int x, int y, const Rect& size);
  // Back to the whole picture.
  void ResetView() {
    zoom = 1;
    pan_x = pan_y = 0;
  }

  // The text the views show over the point (x, y) of the box (a tooltip);
  // the control's hint when the owner names none there.
  std::function<std::string(PaintBox&, Point at)> on_hint_at;
  std::string HintAt(Point at) {
    std::string text = on_hint_at ? on_hint_at(*this, at) : std::string();
    return text.empty() ? hint : text;
  }
};

// A picture on a form; takes no focus. Hidden images serve as picture
// sources for cell drawing.
class Image : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  Picture picture;
  bool transparent = false;
  bool stretch = false;
};

}  // namespace dg::ui
