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

}  // namespace
}  // namespace dg::map
