// QtCanvas: the toolkit's drawing surface over a QPainter, for the per-cell
// drawing of grids and the pictures of paint boxes. Lives for one paint; the painter is not owned
// and must outlive it. TextRect is opaque: it fills the clip rectangle with the brush first, then
// writes the text in the font's colour (black, or white on a dark brush when the font names no
// colour). Not copyable.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <optional>

#include "ui/canvas.h"

namespace dg::qtview {

class QtCanvas : public ui::Canvas {
 public:
  QtCanvas(QPainter& painter, const QFont& base_font);
  QtCanvas(const QtCanvas&) = delete;
  QtCanvas& operator=(const QtCanvas&) = delete;

  void FillRect(const ui::Rect& rect) override;
  void TextRect(const ui::Rect& clip, int x, int y, const std::string& text) override;
  void BrushCopy(const ui::Rect& dest, const ui::Picture& picture, const ui::Rect& source,
                 ui::Color transparent) override;
  void Polyline(const std::vector<ui::Point>& points) override;
  void Ellipse(const ui::Rect& rect) override;
  void Text(int x, int y, const std::string& text) override;
  int TextWidth(const std::string& text) const override;

 private:
  QPainter& painter_;
  QFont base_font_;
};

// The picture as an image; pixels of `transparent`, when given, become
// `replacement`.
QImage PictureImage(const ui::Picture& picture, std::optional<ui::Color> transparent = {},
                    ui::Color replacement = {});

}  // namespace dg::qtview
