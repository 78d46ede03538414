// Offscreen rendering: the canvas over QPainter, and a whole form with a
// custom-drawn check-box column.
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "qtview/form_view.h"
#include "qtview/grid_view.h"
#include "qtview/qt_canvas.h"
#include "qtview/qtview.h"
#include "ui/canvas.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::qtview {
namespace {

QRgb Rgb(ui::Color c) { return qRgb(c.r, c.g, c.b); }

TEST(QtCanvasTest, DrawsWhatTheToolkitAsks) {
  const ui::Color red{200, 0, 0}, white{255, 255, 255};
  QImage image(40, 20, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    QtCanvas canvas(painter, QFont());
    canvas.SetBrushColor(red);
    // Opaque text: the clip rectangle takes the brush; nothing outside it.
    canvas.TextRect(ui::Rect{0, 0, 20, 20}, 2, 2, "W");
    // The picture's olive background takes the brush colour.
    canvas.SetBrushColor(white);
    canvas.BrushCopy(ui::Rect{21, 0, 37, 20}, ui::LoadPicture("check"), ui::Rect{0, 0, 16, 20},
                     ui::kOlive);
  }
  struct Case {
    int x, y;
    QRgb want;
    const char* what;
  } cases[] = {
      {19, 19, Rgb(red), "clip filled with the brush"},
      {20, 5, qRgb(255, 255, 255), "outside the clip untouched"},
      {21, 0, qRgb(255, 255, 255), "olive corner drawn in the brush colour"},
      {22, 1, qRgb(0, 0, 0), "box frame"},
      {21 + 6, 9, qRgb(0, 0, 0), "tick"},
      {21 + 9, 12, qRgb(255, 255, 255), "inside the box"},
      {38, 5, qRgb(255, 255, 255), "right of the picture untouched"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, image.pixel(c.x, c.y)) << c.what;
  // The glyph itself: some pixel of the text cell is not the brush.
  bool ink = false;
  for (int y = 0; y < 20 && !ink; ++y) {
    for (int x = 0; x < 20 && !ink; ++x) ink = image.pixel(x, y) != Rgb(red);
  }
  EXPECT_TRUE(ink);
}

// A small order form: a bold caption on a top bar, and a grid of vehicles
// whose mark column draws a ticked or an empty box instead of its value.
class RenderTest : public ::testing::Test {
 protected:
  RenderTest() {
    ds.AddField("IDMARCADO", data::FieldType::String, 1);
    ds.AddField("DSTIPOVEIC", data::FieldType::String, 50);
    ds.CreateDataSet();
    for (auto [mark, name] : {std::pair{"S", "Truck"}, {"N", "Van"}, {"?", "Bike"}}) {
      ds.Append();
      ds.FieldByName("IDMARCADO").SetAsString(mark);
      ds.FieldByName("DSTIPOVEIC").SetAsString(name);
      ds.Post();
    }
    ds.First();
    source.SetDataSet(&ds);
    form.SetCaption("Pedidos");
    form.client_width = 400;
    form.client_height = 220;
    auto& bar = form.Add<ui::Panel>("panTopo");
    bar.align = ui::Align::Top;
    bar.height = 30;
    caption = &form.Add<ui::Label>("lblTitulo", &bar);
    caption->SetCaption("Transportadora");
    caption->font.bold = true;
    caption->left = 8;
    caption->top = 8;
    grid = &form.Add<ui::DataGrid>("dbgCarros");
    grid->left = 10;
    grid->top = 40;
    grid->width = 300;
    grid->height = 120;
    grid->color = ui::ColorName::InfoTip;
    grid->SetDataSource(&source);
    grid->AddColumn("IDMARCADO").width = 40;
    grid->AddColumn("DSTIPOVEIC").width = 150;
    grid->options.always_show_selection = false;
    grid->on_draw_column_cell = [](ui::DataGrid& g, const ui::Rect& rect, int, ui::GridColumn& col,
                                   ui::DrawState) {
      if (col.FieldName() != "IDMARCADO") return;
      const std::string mark = col.Field()->AsString();
      ui::Picture picture;
      if (mark == "S") picture = ui::LoadPicture("check");
      if (mark == "N") picture = ui::LoadPicture("uncheck");
      ui::Canvas& canvas = g.CurrentCanvas();
      canvas.FillRect(rect);
      if (picture.IsEmpty()) return;
      canvas.BrushCopy(
          ui::Rect{rect.left + 1, rect.top, rect.left + 1 + picture.Width(), rect.bottom}, picture,
          ui::Rect{0, 0, picture.Width(), rect.Height()}, ui::kOlive);
    };
  }

  // Where a cell lies in the form's picture.
  QRect CellRect(FormView& view, int row, int column) {
    auto* grid_view = static_cast<GridView*>(view.WidgetOf(*grid));
    const QRect cell = grid_view->visualRect(grid_view->model()->index(row, column));
    return QRect(grid_view->viewport()->mapTo(&view, cell.topLeft()), cell.size());
  }

  data::ClientDataset ds{"cdscCarrosPedido"};
  data::DataSource source;
  ui::Form form{"frmPedidos"};
  ui::Label* caption;
  ui::DataGrid* grid;
};

TEST_F(RenderTest, FormWithACustomDrawnColumnRendersToPng) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("form.png").toStdString();
  ASSERT_TRUE(RenderFormToPng(form, path));
  QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(400, image.width());
  EXPECT_EQ(220, image.height());
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3) {
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 5u) << "a blank picture";

  // The same layout as the rendered one: find the cells.
  FormView view(form, false);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  const QRect ticked = CellRect(view, 0, 0);
  const QRect empty_box = CellRect(view, 1, 0);
  const QRect no_box = CellRect(view, 2, 0);
  ASSERT_GT(ticked.width(), 20);
  const QRgb back = Rgb(ui::ResolveColor(ui::ColorName::InfoTip));
  const QPoint tick(1 + 6, 9);  // a pixel of the tick within the picture
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(ticked.topLeft() + tick));
  EXPECT_EQ(qRgb(255, 255, 255), image.pixel(empty_box.topLeft() + tick));
  EXPECT_EQ(qRgb(0, 0, 0), image.pixel(empty_box.topLeft() + QPoint(2, 1)));  // the box frame
  // Right of the picture the cell keeps the brush: the value ("S", "N") is
  // not drawn under the picture; a value that is no mark draws nothing.
  for (const QRect& cell : {ticked, empty_box, no_box}) {
    for (int x = 18; x < cell.width() - 1; ++x) {
      for (int y = 1; y < cell.height() - 1; ++y) {
        ASSERT_EQ(back, image.pixel(cell.topLeft() + QPoint(x, y))) << x << "," << y;
      }
    }
  }
  // The plain column shows its value; the bold caption is drawn.
  const QRect name = CellRect(view, 0, 1);
  bool ink = false;
  for (int x = 1; x < 40 && !ink; ++x) {
    for (int y = 1; y < name.height() - 1 && !ink; ++y) {
      ink = image.pixel(name.topLeft() + QPoint(x, y)) != back;
    }
  }
  EXPECT_TRUE(ink) << "the vehicle name";
  QWidget* label = view.WidgetOf(*caption);
  ASSERT_NE(nullptr, label);
  EXPECT_TRUE(label->font().bold());
  const QRect area(label->mapTo(&view, QPoint(0, 0)), label->size());
  const QRgb bar = image.pixel(area.topLeft() + QPoint(0, area.height() - 1));
  int inked = 0;
  for (int x = area.left(); x <= area.right(); ++x) {
    for (int y = area.top(); y <= area.bottom(); ++y) inked += image.pixel(x, y) != bar;
  }
  EXPECT_GT(inked, 40) << "the caption";
}

TEST_F(RenderTest, RenderingFiresNothingAndKeepsTheCurrentRecord) {
  int scrolls = 0, changes = 0;
  ds.SetRecNo(2);
  ds.after_scroll = [&](data::ClientDataset&) { ++scrolls; };
  form.on_control_changed = [&](ui::Control&) { ++changes; };
  QTemporaryDir dir;
  ASSERT_TRUE(RenderFormToPng(form, dir.filePath("a.png").toStdString()));
  EXPECT_EQ(2, ds.RecNo());
  EXPECT_EQ(0, scrolls);
  EXPECT_TRUE(form.on_control_changed);  // left in place
  EXPECT_FALSE(RenderFormToPng(form, "/nonexistent-dir/x.png"));
}

}  // namespace
}  // namespace dg::qtview
