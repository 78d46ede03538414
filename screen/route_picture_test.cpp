// The route's picture: reading the server's points, the scale, and what is
// drawn for stops with and without coordinates.
#include "screen/route_picture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "screen/testing/recording_server.h"
#include "ui/canvas.h"

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

}  // namespace
}  // namespace dg::screen
