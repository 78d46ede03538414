// The route's picture: reading the server's points, the scale, and what is
// drawn for stops with and without coordinates.
#include "screen/route_picture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <map>

#include "screen/testing/recording_server.h"
#include "ui/canvas.h"
#include "ui/form.h"

namespace dg::screen {
namespace {

using data::Variant;

data::DataPacket Points(const std::vector<std::vector<Variant>>& rows) {
  return testing::Table({"TIPO", "NRORDENTREGRADE", "NOME", "LATITUDE", "LONGITUDE", "TRAJETO"},
                        rows);
}

TEST(RoutePictureTest, PointsReadCoordinatesAndRoadLinesDefensively) {
  const auto points = RoutePicturePoints(Points({
      {"F", "", "Filial", -22.9, -47.06, ""},
      {"C", "001", "Um", -22.91, -47.07, "-22.905,-47.065;-22.908,-47.068"},
      // Out of range: unknown, never drawn off the picture.
      {"C", "002", "Dois", 95.0, -47.1, ""},
      {"C", "", "Três", Variant::Null(), Variant::Null(), ""},
      // A road line that cannot be read is a straight line.
      {"R", "", "Retorno", -22.8, -47.1, "-22.85,x;-22.8,-47.1"},
      {"R", "", "Longe", -22.8, 181.0, "91,0"},
  }));
  ASSERT_EQ(points.size(), 6u);
  EXPECT_EQ(points[0].kind, 'F');
  EXPECT_TRUE(points[0].line.empty());
  EXPECT_EQ(points[1].line.size(), 2u);
  EXPECT_DOUBLE_EQ(points[1].line[1].second, -47.068);
  EXPECT_FALSE(points[2].Located());
  EXPECT_FALSE(points[3].Located());
  EXPECT_TRUE(points[4].Located());
  EXPECT_TRUE(points[4].line.empty());
  EXPECT_FALSE(points[5].Located());
  EXPECT_TRUE(points[5].line.empty());
}

TEST(RoutePictureTest, ScaleBarIsARoundLengthNearTheAskedPixels) {
  EXPECT_EQ(ScaleBar(0.01, 100), std::make_pair(1.0, std::string("1 km")));
  EXPECT_EQ(ScaleBar(0.021, 100).second, "2 km");
  EXPECT_EQ(ScaleBar(0.0048, 100).second, "500 m");
  EXPECT_EQ(ScaleBar(0.9, 100).second, "100 km");
  EXPECT_EQ(ScaleBar(0, 100).second, "");
  EXPECT_EQ(ScaleBar(std::numeric_limits<double>::infinity(), 100).second, "");
}

TEST(RoutePictureTest, DrawsLocatedStopsAndLegsAndListsTheOthers) {
  const auto points = RoutePicturePoints(Points({
      {"F", "", "Filial", -22.9, -47.06, ""},
      {"C", "002", "Um", -22.91, -47.07, "-22.905,-47.065"},
      {"C", "", "Sem Mapa", Variant::Null(), Variant::Null(), ""},
      {"C", "  7", "Dois", -22.95, -47.1, ""},
      {"R", "", "Retorno", -22.8, -47.1, ""},
  }));
  ui::RecordingCanvas canvas;
  DrawRoutePicture(canvas, {0, 0, 300, 300}, points);
  const std::string drawn = canvas.Joined();
  // Three legs between four located points; the road line bends the first.
  int legs = 0;
  for (const std::string& op : canvas.Ops()) {
    if (op.rfind("line ", 0) == 0 && op.find(',') != std::string::npos) ++legs;
  }
  EXPECT_GE(legs, 3 + 1 + 2);  // legs, scale bar, north arrow
  EXPECT_NE(drawn.find(" 2 |"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find(" 7 |"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("Filial"), std::string::npos);
  EXPECT_NE(drawn.find("Retorno"), std::string::npos);
  EXPECT_NE(drawn.find("Sem localização: Sem Mapa"), std::string::npos) << drawn;
  // Every marker lies inside the picture.
  for (const std::string& op : canvas.Ops()) {
    if (op.rfind("ellipse ", 0) != 0) continue;
    int l = 0, t = 0, r = 0, b = 0;
    ASSERT_EQ(std::sscanf(op.c_str(), "ellipse %d,%d,%d,%d", &l, &t, &r, &b), 4) << op;
    EXPECT_TRUE(l >= 0 && t >= 0 && r <= 300 && b <= 300) << op;
  }
}

TEST(RoutePictureTest, NoStopsOrNoCoordinatesSaySoInsteadOfDrawing) {
  ui::RecordingCanvas empty;
  DrawRoutePicture(empty, {0, 0, 200, 200}, {});
  EXPECT_NE(empty.Joined().find("Nenhum local de entrega"), std::string::npos);

  ui::RecordingCanvas unlocated;
  DrawRoutePicture(unlocated, {0, 0, 200, 200},
                   RoutePicturePoints(Points({{"C", "1", "Só", Variant::Null(), 1.0, ""}})));
  EXPECT_NE(unlocated.Joined().find("Nenhum ponto da rota tem coordenadas"), std::string::npos);
  EXPECT_EQ(unlocated.Joined().find("ellipse"), std::string::npos);

  // One single place: a picture all the same, no division by a zero span.
  ui::RecordingCanvas single;
  DrawRoutePicture(single, {0, 0, 200, 200},
                   RoutePicturePoints(Points({{"F", "", "Filial", -22.9, -47.06, ""},
                                              {"C", "1", "Aqui", -22.9, -47.06, ""}})));
  EXPECT_NE(single.Joined().find("ellipse"), std::string::npos);
  // Too small to draw: nothing but the paper.
  ui::RecordingCanvas tiny;
  DrawRoutePicture(tiny, {0, 0, 30, 30},
                   RoutePicturePoints(Points({{"C", "1", "Aqui", -22.9, -47.06, ""}})));
  EXPECT_EQ(tiny.Joined().find("ellipse"), std::string::npos);
}

bool Overlap(const ui::Rect& a, const ui::Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

std::string Where(const ui::Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// Fourteen stops of a town's day, five of them in one block: every number
// can be read, none lies over another or off the picture, and each names
// its client.
TEST(RoutePictureTest, FourteenStopsEveryNumberReadable) {
  std::vector<std::vector<Variant>> rows = {{"F", "", "Filial", -21.17, -47.81, ""}};
  const double spots[14][2] = {
      {-21.180, -47.800},   {-21.185, -47.790},   {-21.190, -47.795},   {-21.200, -47.780},
      {-21.210, -47.770},   {-21.205, -47.760},   {-21.150, -47.700},    // 7 on the far edge
      {-21.195, -47.785},   {-21.1951, -47.7851}, {-21.1952, -47.7849},  // one block
      {-21.1950, -47.7853}, {-21.1953, -47.7850}, {-21.230, -47.820},   {-21.240, -47.830}};
  for (int k = 0; k < 14; ++k) {
    rows.push_back({"C", std::to_string(k + 1), "Cliente " + std::to_string(k + 1), spots[k][0],
                    spots[k][1], ""});
  }
  rows.push_back({"R", "", "Filial", -21.17, -47.81, ""});
  const auto points = RoutePicturePoints(Points(rows));
  for (const ui::Rect area : {ui::Rect{0, 0, 380, 400}, ui::Rect{0, 0, 520, 640}}) {
    ui::RecordingCanvas canvas;
    const auto markers = DrawRoutePicture(canvas, area, points, {"Veículo 1003 - Truck"});
    EXPECT_NE(canvas.Joined().find("Veículo 1003 - Truck"), std::string::npos);
    std::vector<const RouteMarker*> stops;
    for (const RouteMarker& m : markers) {
      if (m.hint.rfind("Cliente ", 0) == 0) stops.push_back(&m);
    }
    ASSERT_EQ(stops.size(), 14u);
    for (std::size_t a = 0; a < stops.size(); ++a) {
      const ui::Rect& r = stops[a]->label;
      EXPECT_TRUE(r.left >= area.left && r.top >= area.top && r.right <= area.right &&
                  r.bottom <= area.bottom)
          << stops[a]->hint << " clipped at " << Where(r);
      for (std::size_t b = a + 1; b < stops.size(); ++b) {
        EXPECT_FALSE(Overlap(r, stops[b]->label))
            << stops[a]->hint << " over " << stops[b]->hint << ": " << Where(r);
      }
      // The name over its number.
      const ui::Point centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
      EXPECT_EQ(RouteMarkerHint(markers, centre), stops[a]->hint);
    }
  }
}

TEST(RoutePictureTest, LabelsFindFreePlacesOrStayInside) {
  // Three points on one spot, and one on the edge.
  const std::vector<ui::Point> at = {{50, 50}, {50, 50}, {51, 50}, {99, 1}};
  const auto boxes = PlaceLabels(at, {10, 10, 10, 10}, {0, 0, 100, 100}, {{70, 40, 90, 60}});
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(Where(boxes[0]), "40,40,61,61");  // its own place was free
  for (std::size_t a = 0; a < boxes.size(); ++a) {
    EXPECT_TRUE(boxes[a].left >= 0 && boxes[a].top >= 0 && boxes[a].right <= 100 &&
                boxes[a].bottom <= 100)
        << Where(boxes[a]);
    EXPECT_FALSE(Overlap(boxes[a], {70, 40, 90, 60})) << Where(boxes[a]);
    for (std::size_t b = a + 1; b < boxes.size(); ++b) {
      EXPECT_FALSE(Overlap(boxes[a], boxes[b])) << Where(boxes[a]) << " " << Where(boxes[b]);
    }
  }
  // No room at all: on the point, inside the picture.
  EXPECT_EQ(Where(PlaceLabels({{2, 2}}, {10}, {0, 0, 15, 15}, {})[0]), "0,0,21,21");
}

TEST(RoutePictureTest, StopsWithoutNumberAreOnNoLeg) {
  const auto points = RoutePicturePoints(Points({
      {"F", "", "Filial", -22.90, -47.06, ""},
      {"C", "1", "Um", -22.91, -47.07, ""},
      {"C", "", "Sem Ordem", -22.99, -47.00, ""},
      {"R", "", "Filial", -22.90, -47.06, ""},
  }));
  ui::RecordingCanvas canvas;
  const auto markers = DrawRoutePicture(canvas, {0, 0, 300, 300}, points);
  ui::Point loose{};
  for (const RouteMarker& m : markers) {
    if (m.hint == "Sem Ordem") loose = m.at;
  }
  const std::string at = std::to_string(loose.x) + "," + std::to_string(loose.y);
  int legs = 0;
  for (const std::string& op : canvas.Ops()) {
    if (op.rfind("line ", 0) != 0) continue;
    EXPECT_EQ(op.find(" " + at), std::string::npos) << op;
    ++legs;
  }
  EXPECT_EQ(legs, 2 + 1 + 2);  // there and back, the scale bar, the north arrow
  EXPECT_NE(canvas.Joined().find(" ? |"), std::string::npos) << canvas.Joined();
  EXPECT_NE(canvas.Joined().find("Parada sem ordem de entrega"), std::string::npos);

  // Before any stop is numbered there is no route to draw: markers only.
  const auto loose_only = RoutePicturePoints(Points({
      {"F", "", "Filial", -22.90, -47.06, ""},
      {"C", "", "A", -22.91, -47.07, ""},
      {"C", "", "B", -22.95, -47.02, ""},
  }));
  ui::RecordingCanvas none;
  DrawRoutePicture(none, {0, 0, 300, 300}, loose_only);
  int lines = 0;
  for (const std::string& op : none.Ops()) lines += op.rfind("line ", 0) == 0;
  EXPECT_EQ(lines, 1 + 2);  // the scale bar and the north arrow
}

TEST(RoutePictureTest, ZoomSpreadsThePointsAboutTheCursor) {
  // Two stops in the middle of the picture, the branch and a far stop at
  // its corners.
  const auto points = RoutePicturePoints(Points({
      {"F", "", "Filial", -22.90, -47.06, ""},
      {"C", "1", "Um", -22.930, -47.030, ""},
      {"C", "2", "Dois", -22.934, -47.026, ""},
      {"C", "3", "Longe", -22.96, -47.00, ""},
  }));
  auto where = [&](const RoutePictureView& view) {
    ui::RecordingCanvas canvas;
    std::map<std::string, ui::Point> at;
    for (const RouteMarker& m : DrawRoutePicture(canvas, {0, 0, 400, 400}, points, view)) {
      at[m.hint] = m.at;
    }
    return at;
  };
  const auto whole = where({});
  ui::Form form{"frmMapa"};
  ui::PaintBox& box = form.Add<ui::PaintBox>("pbxRota");
  const ui::Point um = whole.at("Um");
  box.ZoomAt(2, um.x, um.y, {0, 0, 400, 400});
  const auto near = where({"", box.zoom, box.pan_x, box.pan_y});
  EXPECT_DOUBLE_EQ(box.zoom, 2);
  // The point under the cursor stays; the others move away twice as far.
  EXPECT_NEAR(near.at("Um").x, um.x, 1);
  EXPECT_NEAR(near.at("Um").y, um.y, 1);
  EXPECT_NEAR(near.at("Dois").x - um.x, 2 * (whole.at("Dois").x - um.x), 2);
  box.ZoomAt(0.1, 0, 0, {0, 0, 400, 400});  // out past the whole picture
  EXPECT_EQ(box.zoom, 1);
  EXPECT_EQ(box.pan_x, 0);
}

}  // namespace
}  // namespace dg::screen
