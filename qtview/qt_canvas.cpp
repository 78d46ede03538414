#include "qtview/qt_canvas.h"

#include <QFontMetrics>
#include <QPen>
#include <QPolygon>

#include "qtview/view_support.h"

namespace dg::qtview {

namespace {

QRect QtRect(const ui::Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

bool Dark(ui::Color c) { return c.r * 299 + c.g * 587 + c.b * 114 < 128 * 1000; }

}  // namespace

QFont QtFont(const ui::Font& font, const QFont& base) {
  QFont f(base);
  f.setBold(font.bold);
  if (font.height > 0) f.setPixelSize(font.height);
  return f;
}

QtCanvas::QtCanvas(QPainter& painter, const QFont& base_font)
    : painter_(painter), base_font_(base_font) {}

void QtCanvas::FillRect(const ui::Rect& rect) {
  painter_.fillRect(QtRect(rect), QtColor(BrushColor()));
}

void QtCanvas::TextRect(const ui::Rect& clip, int x, int y, const std::string& text) {
  FillRect(clip);
  painter_.save();
  const QRect box = QtRect(clip);
  painter_.setClipRect(box);
  painter_.setFont(QtFont(CurrentFont(), base_font_));
  QColor pen = Dark(BrushColor()) ? Qt::white : Qt::black;
  if (CurrentFont().color != ui::ColorName::Default) {
    pen = QtColor(ui::ResolveColor(CurrentFont().color));
  }
  painter_.setPen(pen);
  const QFontMetrics metrics(painter_.font());
  painter_.drawText(QPoint(x, y + metrics.ascent()), QtText(text));
  painter_.restore();
}

void QtCanvas::BrushCopy(const ui::Rect& dest, const ui::Picture& picture, const ui::Rect& source,
                         ui::Color transparent) {
  if (picture.IsEmpty()) return;
  const QImage image = PictureImage(picture, transparent, BrushColor());
  // Only the part of the source that lies on the picture is copied, one to
  // one; the rest of the destination keeps what was drawn before.
  const QRect from = QtRect(source).intersected(image.rect());
  const QRect to(dest.left, dest.top, std::min(from.width(), dest.Width()),
                 std::min(from.height(), dest.Height()));
  painter_.drawImage(to, image, QRect(from.topLeft(), to.size()));
}

void QtCanvas::Polyline(const std::vector<ui::Point>& points) {
  if (points.size() < 2) return;
  QPolygon line;
  for (const ui::Point& p : points) line << QPoint(p.x, p.y);
  painter_.save();
  painter_.setPen(
      QPen(QtColor(PenColor()), PenWidth(), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter_.drawPolyline(line);
  painter_.restore();
}

void QtCanvas::Ellipse(const ui::Rect& rect) {
  painter_.save();
  painter_.setPen(QPen(QtColor(PenColor()), PenWidth()));
  painter_.setBrush(QtColor(BrushColor()));
  painter_.drawEllipse(QtRect(rect));
  painter_.restore();
}

void QtCanvas::Text(int x, int y, const std::string& text) {
  painter_.save();
  painter_.setFont(QtFont(CurrentFont(), base_font_));
  painter_.setPen(CurrentFont().color == ui::ColorName::Default
                      ? QColor(Qt::black)
                      : QtColor(ui::ResolveColor(CurrentFont().color)));
  const QFontMetrics metrics(painter_.font());
  painter_.drawText(QPoint(x, y + metrics.ascent()), QtText(text));
  painter_.restore();
}

int QtCanvas::TextWidth(const std::string& text) const {
  return QFontMetrics(QtFont(CurrentFont(), base_font_)).horizontalAdvance(QtText(text));
}

QImage PictureImage(const ui::Picture& picture, std::optional<ui::Color> transparent,
                    ui::Color replacement) {
  QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      ui::Color c = picture.Pixel(x, y);
      if (transparent && c == *transparent) c = replacement;
      image.setPixel(x, y, qRgb(c.r, c.g, c.b));
    }
  }
  return image;
}

}  // namespace dg::qtview
