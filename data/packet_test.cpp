#include "data/packet.h"

#include <gtest/gtest.h>

#include "data/dataset.h"

namespace dg::data {
namespace {

DataPacket Sample() {
  DataPacket p;
  p.fields = {{"NRPEDIDO", FieldType::String, 10, true, false},
              {"QTDEAEXP", FieldType::Double, 0},
              {"NRSEQ", FieldType::String, 2, false, true},
              {"DTENTPED", FieldType::DateTime, 0},
              {"NRITEM", FieldType::Integer, 0},
              {"DSITEMPED", FieldType::Memo, 0}};
  p.rows = {
      {"P1", 2.5, "01", DateTime::FromParts(2024, 5, 1, 8, 30), std::int64_t{3}, "ação"},
      {"P2", Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()}};
  return p;
}

TEST(PacketTest, RoundTripOfATableAndItsChangeLog) {
  const DataPacket table = Sample();
  EXPECT_EQ(DecodePacket(EncodePacket(table)), table);

  ClientDataset ds;
  ds.LoadPacket(table);
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(4);
  ds.Post();
  ds.Append();
  ds.FieldByName("NRPEDIDO").SetValue("P3");
  ds.Post();
  ds.First();
  ds.Next();
  ds.Delete();
  const DataPacket delta = ds.Delta();
  ASSERT_EQ(delta.changes.size(), 3u);
  const DataPacket decoded = DecodePacket(EncodePacket(delta));
  EXPECT_EQ(decoded, delta);
  EXPECT_EQ(decoded.changes[0].old_values[1], Variant(2.5));
  EXPECT_EQ(decoded.changes[0].new_values[1], Variant(4.0));
  EXPECT_EQ(decoded.changes[1].state, RowState::Inserted);
  EXPECT_EQ(decoded.changes[2].state, RowState::Deleted);

  // The whole contents go back and forth through a variant as well.
  ClientDataset copy;
  copy.SetData(Variant(DecodePacket(EncodePacket(ds.Data()))));
  EXPECT_EQ(copy.Data(), ds.Data());
}

TEST(PacketTest, MalformedPacketsAreClearErrors) {
  const std::string good = EncodePacket(Sample());
  const std::string delta =
      EncodePacket(DataPacket{DataPacket::Kind::Delta, Sample().fields, {}, {}});
  auto replace = [&](const std::string& from, const std::string& to, const std::string& base = {}) {
    std::string s = base.empty() ? good : base;
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
  };
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  } cases[] = {
      {"truncated", good.substr(0, good.size() / 2), "malformed JSON"},
      {"empty", "", "malformed JSON"},
      {"number beyond a double", replace("2.5", "8E888"), "malformed JSON"},
      {"not an object", "[1,2]", "not an object"},
      {"no format tag", replace("\"dg-packet\"", "\"other\""), "format tag"},
      {"future version", replace("\"version\":1", "\"version\":2"), "unsupported version"},
      {"unknown type", replace("\"type\":\"double\"", "\"type\":\"money\""),
       "unknown field type \"money\""},
      {"absurd size", replace("\"size\":10", "\"size\":999999999"), "absurd size"},
      {"negative size", replace("\"size\":10", "\"size\":-1"), "absurd size"},
      {"text in a number", replace("2.5", "\"2.5\""), "expects a number"},
      {"number in a text", replace("\"P1\"", "7"), "expects a text"},
      {"bad date", replace("2024-05-01T08:30:00", "2024-13-01T08:30:00"), "invalid date-time"},
      {"fraction in an integer", replace(",3,", ",3.5,"), "expects an integer"},
      {"short row", replace(",\"ação\"]", "]"), "row 1 has 5 cells for 6 fields"},
      {"long row", replace(",\"ação\"]", ",\"ação\",1]"), "row 1 has 7 cells for 6 fields"},
      {"text too long", replace("\"P1\"", "\"P1234567890\""),
       "longer than field NRPEDIDO (size 10)"},
      {"rows not a list", replace("\"rows\":", "\"rows\":7,\"x\":"), "row list missing"},
      {"duplicate field", replace("\"name\":\"QTDEAEXP\"", "\"name\":\"NRPEDIDO\""),
       "duplicate field"},
      {"unknown row state", replace("\"changes\":[]", "\"changes\":[{\"state\":\"moved\"}]", delta),
       "unknown row state"},
      {"change without old values",
       replace("\"changes\":[]", "\"changes\":[{\"state\":\"deleted\"}]", delta),
       "without old values"},
  };
  for (const auto& c : cases) {
    try {
      DecodePacket(c.text);
      ADD_FAILURE() << c.name;
    } catch (const PacketError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace dg::data
