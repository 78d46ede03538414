#include "ui/layout.h"

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "ui/form.h"
#include "ui/grid.h"

namespace dg::ui {
namespace {

// Every control wants 100 x 20 unless told otherwise; the view shows every
// control but those listed as hidden.
class FakeMeasures : public LayoutMeasures {
 public:
  bool Shown(const Control& c) const override { return !unshown.contains(&c); }
  Size DefaultSize(const Control& c) const override {
    auto it = sizes.find(&c);
    return it != sizes.end() ? it->second : Size{100, 20};
  }
  int ContentWidth(const Control& c) const override {
    auto it = text_widths.find(&c);
    return it != text_widths.end() ? it->second : 0;
  }

  std::set<const Control*> unshown;
  std::map<const Control*, Size> sizes;
  std::map<const Control*, int> text_widths;
};

Control& Placed(Form& form, const std::string& name, Control* parent, Align align, int left,
                int top, int width, int height) {
  Control& c = form.Add<Panel>(name, parent);
  c.align = align;
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  return c;
}

Rect Box(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

// The rectangles by control name, and the order they were placed in.
struct Laid {
  std::map<std::string, Rect> rects;
  std::vector<std::string> order;
};

Laid Lay(const Control& parent, Rect client, const LayoutMeasures& measures,
         const SplitterShares& shares = {}) {
  Laid laid;
  for (const Placement& p : LayoutChildren(parent, client, measures, shares)) {
    laid.rects[p.control->Name()] = p.rect;
    laid.order.push_back(p.control->Name());
  }
  return laid;
}

TEST(LayoutTest, AlignedControlsTakeTheirSidesInOrder) {
  Form form("frm");
  FakeMeasures m;
  // Created out of order: the side and the coordinate on it decide, not
  // the order of creation.
  Placed(form, "client", nullptr, Align::Client, 0, 0, 0, 0);
  Placed(form, "right", nullptr, Align::Right, 0, 0, 60, 0);
  Placed(form, "left", nullptr, Align::Left, 0, 0, 50, 0);
  Placed(form, "bottom", nullptr, Align::Bottom, 0, 0, 0, 40);
  Placed(form, "top2", nullptr, Align::Top, 0, 10, 0, 20);
  Placed(form, "top1", nullptr, Align::Top, 0, 0, 0, 30);
  Placed(form, "hidden", nullptr, Align::Top, 0, 5, 0, 50).SetVisible(false);
  m.unshown.insert(&Placed(form, "unshown", nullptr, Align::Left, 0, 0, 70, 0));

  const Laid laid = Lay(form, Box(10, 5, 400, 300), m);
  EXPECT_EQ(laid.order,
            (std::vector<std::string>{"top1", "top2", "bottom", "left", "right", "client"}));
  EXPECT_EQ(laid.rects.at("top1"), Box(10, 5, 400, 30));
  EXPECT_EQ(laid.rects.at("top2"), Box(10, 35, 400, 20));
  EXPECT_EQ(laid.rects.at("bottom"), Box(10, 265, 400, 40));
  EXPECT_EQ(laid.rects.at("left"), Box(10, 55, 50, 210));
  EXPECT_EQ(laid.rects.at("right"), Box(350, 55, 60, 210));
  EXPECT_EQ(laid.rects.at("client"), Box(60, 55, 290, 210));

  // Two on the bottom: the lower one (larger top) nearest the edge; two on
  // the right: the one further right nearest the edge.
  Form two("frm2");
  Placed(two, "b_up", nullptr, Align::Bottom, 0, 100, 0, 10);
  Placed(two, "b_low", nullptr, Align::Bottom, 0, 200, 0, 10);
  Placed(two, "r_in", nullptr, Align::Right, 100, 0, 20, 0);
  Placed(two, "r_out", nullptr, Align::Right, 300, 0, 20, 0);
  const Laid sides = Lay(two, Box(0, 0, 200, 100), m);
  EXPECT_EQ(sides.rects.at("b_low"), Box(0, 90, 200, 10));
  EXPECT_EQ(sides.rects.at("b_up"), Box(0, 80, 200, 10));
  EXPECT_EQ(sides.rects.at("r_out"), Box(180, 0, 20, 80));
  EXPECT_EQ(sides.rects.at("r_in"), Box(160, 0, 20, 80));
}

TEST(LayoutTest, SizesTheScreenSetAreKeptAndTheOthersFilledIn) {
  Form form("frm");
  FakeMeasures m;
  // A side control left at width 0 gets 150; a bar left at height 0 gets
  // its default height, or, holding controls, what they need.
  Placed(form, "side", nullptr, Align::Left, 0, 0, 0, 0);
  Placed(form, "plain_bar", nullptr, Align::Top, 0, 0, 0, 0);
  Control& bar = Placed(form, "bar", nullptr, Align::Top, 0, 30, 0, 0);
  Placed(form, "in_bar", &bar, Align::None, 4, 12, 80, 22);
  // Placed by coordinates: kept, as wide as its text needs, never narrower.
  Control& label = Placed(form, "label", nullptr, Align::None, 300, 200, 40, 0);
  m.text_widths[&label] = 90;
  Control& wide = Placed(form, "wide", nullptr, Align::None, 300, 240, 120, 15);
  m.text_widths[&wide] = 90;

  const Laid laid = Lay(form, Box(0, 0, 500, 400), m);
  EXPECT_EQ(laid.rects.at("plain_bar"), Box(0, 0, 500, 20));
  EXPECT_EQ(laid.rects.at("bar"), Box(0, 20, 500, 12 + 22 + 6));
  EXPECT_EQ(laid.rects.at("side"), Box(0, 60, 150, 340));
  EXPECT_EQ(laid.rects.at("label"), Box(300, 200, 90, 20));
  EXPECT_EQ(laid.rects.at("wide"), Box(300, 240, 120, 15));
  // The child of the bar is its own level: it is not placed with the form's.
  EXPECT_FALSE(laid.rects.contains("in_bar"));
  EXPECT_EQ(Lay(bar, Box(0, 0, 500, 40), m).rects.at("in_bar"), Box(4, 12, 80, 22));

  // A bar whose controls need little is still 25 high.
  Form small("frm2");
  Control& low = Placed(small, "low", nullptr, Align::Bottom, 0, 0, 0, 0);
  Placed(small, "tiny", &low, Align::None, 0, 2, 10, 5);
  EXPECT_EQ(Lay(small, Box(0, 0, 100, 100), m).rects.at("low"), Box(0, 75, 100, 25));

  // Controls the screen placed nowhere line up side by side, not on top of
  // each other; one alone stays at the corner.
  Form flow("frm3");
  Placed(flow, "a", nullptr, Align::None, 0, 0, 30, 10);
  Placed(flow, "b", nullptr, Align::None, 0, 0, 40, 10);
  const Laid row = Lay(flow, Box(0, 0, 300, 100), m);
  EXPECT_EQ(row.rects.at("a"), Box(2, 2, 30, 10));
  EXPECT_EQ(row.rects.at("b"), Box(34, 2, 40, 10));
  Form one("frm4");
  Placed(one, "a", nullptr, Align::None, 0, 0, 30, 10);
  EXPECT_EQ(Lay(one, Box(5, 5, 300, 100), m).rects.at("a"), Box(5, 5, 30, 10));
}

// A form designed 400 wide: a list on the left beside a splitter, a
// details panel on the right without one, the rest for the client.
class GrowingWindowTest : public ::testing::Test {
 protected:
  GrowingWindowTest() : form("frm") {
    form.client_width = 400;
    Placed(form, "list", nullptr, Align::Left, 0, 0, 100, 0);
    Control& bar = form.Add<Splitter>("split");
    bar.align = Align::Left;
    bar.left = 100;
    bar.width = 3;
    Placed(form, "details", nullptr, Align::Right, 0, 0, 80, 0);
    Placed(form, "rest", nullptr, Align::Client, 0, 0, 0, 0);
  }

  Form form;
  FakeMeasures m;
};

TEST_F(GrowingWindowTest, TheSideBesideASplitterKeepsItsShareTheOthersTheirWidth) {
  EXPECT_EQ(DesignWidth(*form.Find("rest"), m), 400 - 100 - 3 - 80);

  const Laid designed = Lay(form, Box(0, 0, 400, 300), m);
  EXPECT_EQ(designed.rects.at("list").Width(), 100);
  EXPECT_EQ(designed.rects.at("rest").Width(), 217);

  const Laid grown = Lay(form, Box(0, 0, 800, 300), m);
  EXPECT_EQ(grown.rects.at("list"), Box(0, 0, 200, 300));
  EXPECT_EQ(grown.rects.at("split"), Box(200, 0, 3, 300));
  EXPECT_EQ(grown.rects.at("details"), Box(720, 0, 80, 300));
  EXPECT_EQ(grown.rects.at("rest"), Box(203, 0, 517, 300));

  // Smaller than designed: the list keeps its designed width.
  EXPECT_EQ(Lay(form, Box(0, 0, 300, 300), m).rects.at("list").Width(), 100);
}

TEST_F(GrowingWindowTest, TheClerksShareWinsWithinTheRoomTheOthersKeep) {
  const Control* list = form.Find("list");
  EXPECT_EQ(Lay(form, Box(0, 0, 800, 300), m, {{list, 0.25}}).rects.at("list").Width(), 200);
  EXPECT_EQ(Lay(form, Box(0, 0, 1000, 300), m, {{list, 0.25}}).rects.at("list").Width(), 250);
  // The others keep 60 pixels; the list keeps 30.
  EXPECT_EQ(Lay(form, Box(0, 0, 800, 300), m, {{list, 0.99}}).rects.at("list").Width(), 740);
  EXPECT_EQ(Lay(form, Box(0, 0, 800, 300), m, {{list, 0.01}}).rects.at("list").Width(), 30);
  EXPECT_EQ(ClampSideWidth(10, 20), 20);

  // Without a visible splitter on its side the share plays no part.
  form.Find("split")->SetVisible(false);
  EXPECT_FALSE(BesideSplitter(*list));
  EXPECT_EQ(Lay(form, Box(0, 0, 800, 300), m, {{list, 0.5}}).rects.at("list").Width(), 100);
}

TEST(LayoutTest, AGridAboveFixedControlsTakesTheRoomTheWindowGains) {
  Form form("frm");
  FakeMeasures m;
  Control& grid = form.Add<DataGrid>("grid");
  grid.align = Align::Top;
  grid.height = 100;
  Control& filters = Placed(form, "filters", nullptr, Align::Client, 0, 0, 0, 0);
  Placed(form, "edit", &filters, Align::None, 8, 10, 90, 20);
  Placed(form, "status", nullptr, Align::Bottom, 0, 0, 0, 18);

  for (int height : {300, 500}) {
    const Laid laid = Lay(form, Box(0, 0, 400, height), m);
    // The panel keeps what its controls need (their bottom and 8), the
    // status bar its height; the grid the rest.
    EXPECT_EQ(laid.rects.at("filters").Height(), 38) << height;
    EXPECT_EQ(laid.rects.at("status").Height(), 18) << height;
    EXPECT_EQ(laid.rects.at("grid"), Box(0, 0, 400, height - 18 - 38)) << height;
  }
  // Smaller than what everything needs: the grid keeps its own height.
  EXPECT_EQ(Lay(form, Box(0, 0, 400, 120), m).rects.at("grid").Height(), 100);

  // A panel holding an aligned control grows itself; the grid keeps its
  // height.
  Placed(form, "memo", &filters, Align::Client, 0, 0, 0, 0);
  EXPECT_EQ(Lay(form, Box(0, 0, 400, 500), m).rects.at("grid").Height(), 100);
  EXPECT_EQ(Lay(form, Box(0, 0, 400, 500), m).rects.at("filters").Height(), 500 - 100 - 18);
}

}  // namespace
}  // namespace dg::ui
