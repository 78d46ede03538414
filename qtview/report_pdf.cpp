// A ui::Report laid out on A4 pages and written as PDF with Qt's own PDF
// support: black text and rules on white (group rows on a light grey that
// prints in black and white), the section's title at the top of each page
// and the footer with "Página i de n" at the bottom.
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <numeric>

#include "data/errors.h"
#include "data/file_target.h"
#include "qtview/qtview.h"
#include "qtview/view_support.h"

namespace dg::qtview {
namespace {

constexpr int kDpi = 300;
// Points (1/72 inch) in device pixels.
constexpr double Pt(double points) { return points * kDpi / 72.0; }
constexpr double Mm(double mm) { return mm / 25.4 * kDpi; }

enum FontRole { kTitle, kHeading, kBody, kBodyBold, kSmall, kFontCount };

// One thing drawn on a page.
struct Op {
  enum class Kind { Text, Line, Fill } kind = Kind::Text;
  QRectF rect;  // a line runs from the rect's top left to its bottom right
  QString text;
  FontRole font = kBody;
  int flags = 0;
  double width = 0;  // of a line
};

struct Page {
  std::size_t section = 0;
  std::vector<Op> ops;
};

class PdfLayout {
 public:
  PdfLayout(QPaintDevice& device, const ui::Report& report) : device_(device), report_(report) {
    const QString family = QFontDatabase::families().contains(QStringLiteral("DejaVu Sans"))
                               ? QStringLiteral("DejaVu Sans")
                               : QFont().family();
    const double sizes[kFontCount] = {11.5, 10, 8, 8, 7};
    for (int i = 0; i < kFontCount; ++i) {
      fonts_[i] = QFont(family);
      fonts_[i].setPointSizeF(sizes[i]);
      fonts_[i].setBold(i == kTitle || i == kHeading || i == kBodyBold);
    }
    const double width = Mm(210), height = Mm(297);
    body_ = QRectF(Mm(14), Mm(12) + HeaderHeight(), width - Mm(28),
                   height - Mm(12) - HeaderHeight() - Mm(14) - FooterHeight());
  }

  std::vector<Page> Run() {
    for (std::size_t s = 0; s < report_.sections.size(); ++s) {
      section_ = s;
      NewPage();
      for (const ui::ReportBlock& block : report_.sections[s].blocks) Block(block);
    }
    return std::move(pages_);
  }

  const QFont& Font(FontRole role) const { return fonts_[role]; }
  double HeaderHeight() const { return Metrics(kTitle).height() * 2 + Pt(6); }
  double FooterHeight() const { return Metrics(kSmall).height() + Pt(6); }

  // The height of `text` wrapped into `width`.
  double TextHeight(const QString& text, FontRole font, double width) const {
    if (text.isEmpty()) return Metrics(font).height();
    return Metrics(font)
        .boundingRect(QRectF(0, 0, width, 1e9), Qt::TextWordWrap | Qt::AlignLeft, text)
        .height();
  }

 private:
  QFontMetricsF Metrics(FontRole role) const { return QFontMetricsF(fonts_[role], &device_); }

  void NewPage() {
    pages_.push_back({section_, {}});
    y_ = body_.top();
  }
  bool Fits(double height) const { return y_ + height <= body_.bottom() + 0.5; }
  // Starts a new page unless `height` fits below; the page must not be new
  // already (a block taller than a page is cut by the page's end).
  void Room(double height) {
    if (!Fits(height) && y_ > body_.top()) NewPage();
  }

  void Text(const QRectF& rect, const QString& text, FontRole font, int flags) {
    pages_.back().ops.push_back({Op::Kind::Text, rect, text, font, flags | Qt::TextWordWrap, 0});
  }
  void Line(double x1, double y, double x2, double width) {
    pages_.back().ops.push_back(
        {Op::Kind::Line, QRectF(QPointF(x1, y), QPointF(x2, y)), {}, kBody, 0, width});
  }
  void Fill(const QRectF& rect) {
    pages_.back().ops.push_back({Op::Kind::Fill, rect, {}, kBody, 0, 0});
  }

  void Block(const ui::ReportBlock& b) {
    switch (b.kind) {
      case ui::ReportBlock::Kind::Heading: {
        const QString text = QtText(b.text);
        const double h = TextHeight(text, kHeading, body_.width());
        // A heading is kept with some of what follows it.
        Room(Pt(9) + h + Pt(40));
        if (y_ > body_.top()) y_ += Pt(9);
        Text(QRectF(body_.left(), y_, body_.width(), h), text, kHeading, Qt::AlignLeft);
        y_ += h + Pt(3);
        break;
      }
      case ui::ReportBlock::Kind::Paragraph:
        for (const QString& line : QtText(b.text).split(QLatin1Char('\n'))) {
          const double h = TextHeight(line, kBody, body_.width());
          Room(h);
          if (!line.isEmpty()) {
            Text(QRectF(body_.left(), y_, body_.width(), h), line, kBody, Qt::AlignLeft);
          }
          y_ += h + Pt(1);
        }
        break;
      case ui::ReportBlock::Kind::Fields:
        Fields(b);
        break;
      case ui::ReportBlock::Kind::Table:
        Table(b);
        break;
    }
  }

  void Fields(const ui::ReportBlock& b) {
    const int columns = b.field_columns;
    const double gap = Pt(10);
    const double cell = (body_.width() - gap * (columns - 1)) / columns;
    const double label_width = cell * 0.38;
    for (std::size_t first = 0; first < b.fields.size(); first += columns) {
      double h = 0;
      for (std::size_t k = first; k < std::min(first + columns, b.fields.size()); ++k) {
        h = std::max({h, TextHeight(QtText(b.fields[k].first), kBodyBold, label_width),
                      TextHeight(QtText(b.fields[k].second), kBody, cell - label_width)});
      }
      Room(h);
      for (std::size_t k = first; k < std::min(first + columns, b.fields.size()); ++k) {
        const double x = body_.left() + static_cast<double>(k - first) * (cell + gap);
        Text(QRectF(x, y_, label_width - Pt(3), h), QtText(b.fields[k].first), kBodyBold,
             Qt::AlignLeft);
        Text(QRectF(x + label_width, y_, cell - label_width, h), QtText(b.fields[k].second), kBody,
             Qt::AlignLeft);
      }
      y_ += h + Pt(2);
    }
  }

  struct TableGeometry {
    std::vector<double> x, width;
  };

  double RowHeight(const ui::ReportBlock& b, const TableGeometry& g, const ui::ReportRow& row,
                   FontRole font) const {
    const double pad = Pt(2);
    if (row.style == ui::RowStyle::Group) {
      return TextHeight(QtText(row.cells.empty() ? "" : row.cells[0]), font,
                        body_.width() - 2 * pad) +
             2 * Pt(2);
    }
    double h = Metrics(font).height();
    for (std::size_t c = 0; c < row.cells.size() && c < g.width.size(); ++c) {
      h = std::max(h, TextHeight(QtText(row.cells[c]), font, g.width[c] - 2 * pad));
    }
    return h + 2 * Pt(1.5);
  }

  static FontRole RowFont(const ui::ReportRow& row) {
    return row.style == ui::RowStyle::Normal ? kBody : kBodyBold;
  }

  void Row(const TableGeometry& g, const ui::ReportRow& row, const std::vector<int>& flags,
           double h) {
    const double pad = Pt(2);
    const FontRole font = RowFont(row);
    if (row.style == ui::RowStyle::Group) {
      Fill(QRectF(body_.left(), y_, body_.width(), h));
      Line(body_.left(), y_, body_.right(), Pt(0.6));
      Text(QRectF(body_.left() + pad, y_ + Pt(2), body_.width() - 2 * pad, h - 2 * Pt(2)),
           QtText(row.cells.empty() ? "" : row.cells[0]), font, Qt::AlignLeft);
    } else {
      if (row.style == ui::RowStyle::Total) Line(body_.left(), y_, body_.right(), Pt(0.4));
      for (std::size_t c = 0; c < row.cells.size() && c < g.width.size(); ++c) {
        Text(QRectF(g.x[c] + pad, y_ + Pt(1.5), g.width[c] - 2 * pad, h - 2 * Pt(1.5)),
             QtText(row.cells[c]), font, flags[c]);
      }
    }
    y_ += h;
  }

  void Table(const ui::ReportBlock& b) {
    TableGeometry g;
    double total = 0;
    for (const ui::ReportColumn& c : b.columns) total += c.width > 0 ? c.width : 0;
    double x = body_.left();
    std::vector<int> flags;
    for (const ui::ReportColumn& c : b.columns) {
      const double w = total > 0 ? body_.width() * std::max(0.0, c.width) / total : 0;
      g.x.push_back(x);
      g.width.push_back(w);
      flags.push_back(static_cast<int>(QtAlignment(c.align)));
      x += w;
    }
    ui::ReportRow titles{ui::RowStyle::Normal, {}};
    for (const ui::ReportColumn& c : b.columns) titles.cells.push_back(c.title);
    const double title_height = RowHeight(b, g, titles, kBodyBold);
    const auto header = [&] {
      Line(body_.left(), y_, body_.right(), Pt(0.8));
      const double pad = Pt(2);
      for (std::size_t c = 0; c < titles.cells.size(); ++c) {
        Text(QRectF(g.x[c] + pad, y_ + Pt(1.5), g.width[c] - 2 * pad, title_height - 2 * Pt(1.5)),
             QtText(titles.cells[c]), kBodyBold, flags[c]);
      }
      y_ += title_height;
      Line(body_.left(), y_, body_.right(), Pt(0.8));
    };
    const double first_row = b.rows.empty() ? 0 : RowHeight(b, g, b.rows[0], RowFont(b.rows[0]));
    Room(title_height + first_row);
    header();
    for (std::size_t r = 0; r < b.rows.size(); ++r) {
      const ui::ReportRow& row = b.rows[r];
      const double h = RowHeight(b, g, row, RowFont(row));
      // A group row goes with the row after it.
      double need = h;
      if (row.style == ui::RowStyle::Group && r + 1 < b.rows.size()) {
        need += RowHeight(b, g, b.rows[r + 1], RowFont(b.rows[r + 1]));
      }
      if (!Fits(need)) {
        Line(body_.left(), y_, body_.right(), Pt(0.8));
        NewPage();
        header();
      }
      Row(g, row, flags, h);
    }
    Line(body_.left(), y_, body_.right(), Pt(0.8));
    y_ += Pt(4);
  }

  QPaintDevice& device_;
  const ui::Report& report_;
  QFont fonts_[kFontCount];
  QRectF body_;
  std::vector<Page> pages_;
  std::size_t section_ = 0;
  double y_ = 0;
};

void Paint(QPainter& painter, const PdfLayout& layout, const ui::Report& report,
           const std::vector<Page>& pages, QPdfWriter& writer) {
  // Page numbers count within each section.
  std::vector<int> count(report.sections.size(), 0), number(pages.size(), 0);
  for (std::size_t p = 0; p < pages.size(); ++p) number[p] = ++count[pages[p].section];

  const double left = Mm(14), right = Mm(210) - Mm(14);
  for (std::size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) writer.newPage();
    const Page& page = pages[p];
    painter.setPen(QPen(Qt::black, Pt(0.8)));
    // Header: the section's title.
    const QString title = QtText(report.sections[page.section].title);
    painter.setFont(layout.Font(kTitle));
    const double title_h = layout.TextHeight(title, kTitle, right - left);
    painter.drawText(QRectF(left, Mm(12), right - left, title_h), Qt::AlignLeft | Qt::TextWordWrap,
                     title);
    const double rule = Mm(12) + layout.HeaderHeight() - Pt(4);
    painter.drawLine(QPointF(left, rule), QPointF(right, rule));
    // Footer: the report's footer and the page number.
    painter.setFont(layout.Font(kSmall));
    const double foot = Mm(297) - Mm(14) - layout.FooterHeight() + Pt(6);
    painter.setPen(QPen(Qt::black, Pt(0.4)));
    painter.drawLine(QPointF(left, foot - Pt(3)), QPointF(right, foot - Pt(3)));
    const QString page_text =
        QStringLiteral("Página %1 de %2").arg(number[p]).arg(count[page.section]);
    painter.drawText(QRectF(left, foot, right - left, layout.FooterHeight()),
                     Qt::AlignRight | Qt::AlignTop, page_text);
    const QFontMetricsF small(layout.Font(kSmall), &writer);
    const double room = right - left - small.horizontalAdvance(page_text) - Pt(12);
    painter.drawText(QRectF(left, foot, room, layout.FooterHeight()), Qt::AlignLeft | Qt::AlignTop,
                     small.elidedText(QtText(report.footer), Qt::ElideRight, room));
    // The page's body.
    for (const Op& op : page.ops) {
      switch (op.kind) {
        case Op::Kind::Text:
          painter.setFont(layout.Font(op.font));
          painter.setPen(Qt::black);
          painter.drawText(op.rect, op.flags, op.text);
          break;
        case Op::Kind::Line:
          painter.setPen(QPen(Qt::black, op.width));
          painter.drawLine(op.rect.topLeft(), op.rect.bottomRight());
          break;
        case Op::Kind::Fill:
          painter.fillRect(op.rect, QColor(225, 225, 225));
          break;
      }
    }
  }
}

}  // namespace

void WriteReportPdf(const ui::Report& report, const std::string& path) {
  EnsureApplication();
  // Written beside the target and renamed, so no reader meets half a file;
  // a pipe to the printer or /dev/stdout is written into instead.
  const bool in_place = data::WrittenInPlace(path);
  const std::string part = in_place ? path : path + ".part";
  {
    QPdfWriter writer(QtText(part));
    writer.setResolution(kDpi);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    writer.setTitle(QtText(report.title));
    writer.setCreator(QStringLiteral("EXP03200"));
    QPainter painter;
    if (!painter.begin(&writer)) {
      if (!in_place) std::remove(part.c_str());
      throw Error("cannot write the PDF " + path);
    }
    PdfLayout layout(writer, report);
    const std::vector<Page> pages = layout.Run();
    Paint(painter, layout, report, pages, writer);
    if (!painter.end()) {
      if (!in_place) std::remove(part.c_str());
      throw Error("cannot write the PDF " + path);
    }
  }
  if (in_place) return;
  std::error_code ec;
  std::filesystem::rename(part, path, ec);
  if (ec) {
    std::remove(part.c_str());
    throw Error("cannot write the PDF " + path + ": " + ec.message());
  }
}

}  // namespace dg::qtview
