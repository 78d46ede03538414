#include "mapmodule/map_module.h"

#include <gtest/gtest.h>

namespace dg::map {
namespace {

using data::DataPacket;
using data::Variant;

// A hand-over of a route of `stops` rows whose first route text is `first`.
data::VariantArray HandOverOf(int stops, const std::string& first) {
  DataPacket route;
  route.fields = {{"CDFILIAL", data::FieldType::String, 4},
                  {"NRGRADEDISTR", data::FieldType::String, 10},
                  {"CDVIATURA", data::FieldType::String, 10}};
  for (int i = 0; i < stops; ++i)
    route.rows.push_back({Variant("0001"), Variant("17"), Variant("V1")});
  DataPacket texts;
  for (const char* f : {"STROTA1", "STROTA2", "STROTA3", "STROTA4", "STROTA5"}) {
    texts.fields.push_back({f, data::FieldType::Memo, 0});
  }
  texts.rows.push_back({Variant(first), Variant(""), Variant(""), Variant(""), Variant("")});
  return data::VariantArray(
      {Variant(0), Variant("G"), Variant("C2"), Variant(route), Variant(texts)}, 0);
}

// The route goes back to the point the screen's texts end with: the first
// text's last piece when the texts hold one piece more than the stops.
TEST(HandOverTest, ReturnAddressIsTheLastLegTheTextsName) {
  struct Case {
    int stops;
    const char* first;
    const char* want;
  } cases[] = {
      {2, "from: filial to: rua um to: rua dois to: garagem da transp", "garagem da transp"},
      {2, "from: filial to: rua um to: rua dois", ""},        // no return leg
      {3, "from: filial to: rua um to: rua dois to: x", ""},  // the route changed
      {1, "from: filial to: rua um to: ", ""},                // an empty return address
      {0, "", ""},
  };
  for (const Case& c : cases) {
    const HandOver h = ReadHandOver(HandOverOf(c.stops, c.first));
    EXPECT_EQ(c.stops, h.stops);
    EXPECT_EQ(c.want, ReturnAddress(h)) << c.first;
  }
}

std::vector<RoutePoint> PointsOf(const std::string& kinds) {
  std::vector<RoutePoint> points;
  for (char k : kinds) {
    RoutePoint p;
    p.kind = k == 'F' ? PointKind::Branch : k == 'R' ? PointKind::Return : PointKind::Stop;
    points.push_back(p);
  }
  return points;
}

// The note that the route changed counts stops on both sides: the return
// leg the screen named by the current item's flag may differ from the one
// the server reads from the vehicle without the route having changed.
TEST(HandOverTest, RouteChangedOnlyWhenTheStopsDiffer) {
  const std::string four = "from: f to: a to: b to: c to: d";
  struct Case {
    const char* first;
    const char* on_server;
    bool changed;
  } cases[] = {
      {"from: f to: a to: b to: c to: d", "FCCCCR", false},  // the server adds its return
      {"from: f to: a to: b to: c to: d to: f", "FCCCC", false},
      {"from: f to: a to: b to: c to: d to: f", "FCCCCR", false},
      {"from: f to: a to: b to: c to: d", "FCCCCCR", true},  // a stop more on the server
      {"from: f to: a to: b to: c to: d to: f", "FCCCR", true},
      {"", "FCCCCR", false},  // no texts: nothing to compare
  };
  for (const Case& c : cases) {
    const HandOver h = ReadHandOver(HandOverOf(4, c.first));
    const std::string note = RouteChangedNote(h, PointsOf(c.on_server));
    EXPECT_EQ(c.changed, !note.empty()) << c.first << " / " << c.on_server << ": " << note;
  }
  EXPECT_EQ(
      "\nAtenção: a rota mudou depois de montada (4 paradas nos textos da rota, 5 no servidor).",
      RouteChangedNote(ReadHandOver(HandOverOf(4, four)), PointsOf("FCCCCCR")));
}

}  // namespace
}  // namespace dg::map
