// Room for the clerk: where a screen opens, and how its grids and the
// controls beside splitters take the room of a larger window.
#include "qtview/window_place.h"

#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "qtview/form_view.h"
#include "ui/canvas.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::qtview {
namespace {

TEST(OpeningGeometryTest, LargerThanDesignedOnTheScreenAndKeptWhereItFits) {
  const QSize design(1169, 405);
  const QRect screen(0, 0, 1600, 1000);
  struct Case {
    std::optional<QRect> saved;
    QRect want;
    const char* what;
  } cases[] = {
      {std::nullopt, QRect(80, 50, 1440, 900), "nine tenths of the screen, centred"},
      {QRect(10, 20, 1300, 700), QRect(10, 20, 1300, 700), "as the clerk left it"},
      {QRect(10, 20, 800, 300), QRect(10, 20, 1169, 405), "never below the designed size"},
      // The screen got smaller since: the window fits it again.
      {QRect(900, 600, 1500, 900), QRect(100, 100, 1500, 900), "moved back onto the screen"},
      {QRect(100, 100, 2400, 1400), QRect(0, 0, 1600, 1000), "no larger than the screen"},
      {QRect(3000, 2000, 1200, 500), QRect(80, 50, 1440, 900), "off every screen: anew"},
  };
  for (const Case& c : cases) EXPECT_EQ(OpeningGeometry(design, screen, c.saved), c.want) << c.what;
  // A screen smaller than the design: the whole screen.
  EXPECT_EQ(OpeningGeometry(design, QRect(0, 0, 1024, 380), std::nullopt), QRect(0, 0, 1024, 380));
}

// A form as the screen lays out its order tab and its route tab: a grid on
// top of a panel of fixed controls, and a picture right of a memo with a
// splitter between.
class RoomTest : public ::testing::Test {
 protected:
  RoomTest() {
    form_.client_width = 600;
    form_.client_height = 300;
    auto& left = form_.Add<ui::Panel>("panLeft");
    left.align = ui::Align::Left;
    left.width = 200;
    grid_ = &form_.Add<ui::DataGrid>("dbgList", &left);
    grid_->align = ui::Align::Top;
    grid_->height = 150;
    auto& strip = form_.Add<ui::Panel>("panStrip", &left);
    strip.align = ui::Align::Client;
    auto& label = form_.Add<ui::Label>("lblStrip", &strip);
    label.SetCaption("Alocar");
    label.left = 8;
    label.top = 8;
    label.height = 13;
    auto& split = form_.Add<ui::Splitter>("splLeft");
    split.align = ui::Align::Left;
    split.width = 4;
    auto& right = form_.Add<ui::Panel>("panRight");
    right.align = ui::Align::Client;
    picture_ = &form_.Add<ui::PaintBox>("pbxPicture", &right);
    picture_->align = ui::Align::Right;
    picture_->width = 240;
    splitter_ = &form_.Add<ui::Splitter>("splPicture", &right);
    splitter_->align = ui::Align::Right;
    splitter_->width = 4;
    auto& memo = form_.Add<ui::Memo>("memText", &right);
    memo.align = ui::Align::Client;
  }
  int Width(FormView& view, const ui::Control& c) { return view.WidgetOf(c)->width(); }
  int Height(FormView& view, const ui::Control& c) { return view.WidgetOf(c)->height(); }

  ui::Form form_{"frmRoom"};
  ui::DataGrid* grid_ = nullptr;
  ui::PaintBox* picture_ = nullptr;
  ui::Splitter* splitter_ = nullptr;
};

TEST_F(RoomTest, GridsAndSplitPanelsGrowWithTheWindow) {
  FormView view(form_, /*interactive=*/true);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  EXPECT_EQ(view.DesignWidth(*picture_->Parent()), 396);
  // At the designed size, as designed.
  EXPECT_EQ(Width(view, *picture_), 240);
  EXPECT_EQ(Width(view, *form_.Find("panLeft")), 200);

  view.resize(1200, 700);
  view.Refresh();
  // Twice as wide: each side keeps its share.
  EXPECT_EQ(Width(view, *form_.Find("panLeft")), 400);
  EXPECT_NEAR(Width(view, *picture_), 240.0 * (1200 - 400 - 4) / 396, 2);
  // The list takes the height, the strip of fixed controls keeps what it
  // needs.
  EXPECT_GT(Height(view, *grid_), 550);
  EXPECT_GE(Height(view, *form_.Find("panStrip")), 8 + 13);

  // The clerk widens the picture by dragging its splitter to the left; the
  // share is kept as the window changes, and can be kept between runs.
  const int before = Width(view, *picture_);
  view.DragSplitter(*splitter_, -100);
  EXPECT_EQ(Width(view, *picture_), before + 100);
  const double share = view.SplitterShares().at("pbxPicture");
  view.resize(1000, 700);
  view.Refresh();
  const int room = view.WidgetOf(*picture_->Parent())->width();
  EXPECT_NEAR(Width(view, *picture_), share * room, 2);

  FormView again(form_, /*interactive=*/true);
  again.setAttribute(Qt::WA_DontShowOnScreen);
  again.show();
  again.resize(1000, 700);
  again.SetSplitterShares({{"pbxPicture", share}, {"memText", 0.5}, {"nothing", 0.5}});
  again.Refresh();
  EXPECT_EQ(Width(again, *picture_), Width(view, *picture_));
  EXPECT_EQ(again.SplitterShares().size(), 1u);  // only a control beside a splitter

  // A drag never squeezes a side to nothing.
  view.DragSplitter(*splitter_, -5000);
  EXPECT_LE(Width(view, *picture_), view.WidgetOf(*picture_->Parent())->width() - 60);
}

// The clerk's gestures on a picture that zooms: the wheel zooms about the
// cursor, a drag moves it, a double click shows it whole, and the tooltip
// names what is under the cursor.
TEST_F(RoomTest, APictureZoomsMovesAndNamesWhatIsUnderTheCursor) {
  picture_->zoomable = true;
  picture_->on_hint_at = [](ui::PaintBox&, ui::Point at) {
    return at.x < 20 ? std::string("Mercado Um") : std::string();
  };
  FormView view(form_, /*interactive=*/true);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.show();
  QWidget* w = view.WidgetOf(*picture_);
  const QPointF at(100, 100);
  QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &wheel);
  EXPECT_DOUBLE_EQ(picture_->zoom, 1.25);

  const double x = picture_->pan_x, y = picture_->pan_y;
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  QTest::mouseMove(w, QPoint(80, 40));
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(80, 40));
  EXPECT_DOUBLE_EQ(picture_->pan_x - x, 30);
  EXPECT_DOUBLE_EQ(picture_->pan_y - y, -10);
  QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  EXPECT_EQ(picture_->zoom, 1);
  EXPECT_EQ(picture_->pan_x, 0);

  QHelpEvent over(QEvent::ToolTip, QPoint(10, 10), w->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(w, &over);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("Mercado Um"));
  // Where the owner names nothing, the control's hint.
  picture_->hint = "Roda do mouse: aproximar";
  QHelpEvent elsewhere(QEvent::ToolTip, QPoint(100, 10), w->mapToGlobal(QPoint(100, 10)));
  QApplication::sendEvent(w, &elsewhere);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("Roda do mouse: aproximar"));
}

}  // namespace
}  // namespace dg::qtview
