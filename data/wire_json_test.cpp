// The wire writer writes what the document's dump() writes, failures
// included; the readers take the writer's form and read every text they
// take as the general decoder does.
#include "data/wire_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "data/json_text.h"
#include "data/packet.h"

namespace dg::data {
namespace {

DataPacket Table() {
  DataPacket p;
  p.fields = {{"NRPEDIDO", FieldType::String, 10, true, false},
              {"CDFIXO", FieldType::String, 4, false, true},
              {"QT", FieldType::Double},
              {"N", FieldType::Integer},
              {"DT", FieldType::DateTime},
              {"OBS", FieldType::Memo}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  p.rows = {
      {Variant("P1"), Variant("AB"), Variant(2.5), Variant(std::int64_t{7}),
       Variant(DateTime::FromParts(2025, 6, 10)), Variant("plain")},
      {Variant::Null(), Variant(), Variant(-0.0), Variant(-3),
       Variant(DateTime::FromParts(2025, 6, 10, 13, 4, 5, 120)),
       Variant("tab\t \"quoted\" back\\slash \x01 ção")},
      // Cells of another kind than their field's are written converted; a
      // number that is not finite goes as null.
      {Variant(42), Variant::Null(), Variant(nan), Variant(2.0), Variant("2025-06-11"),
       Variant(1e21)},
      {Variant("x"), Variant::Null(), Variant(1e-7), Variant::Null(), Variant::Null(),
       Variant(0.1)},
      {Variant("y"), Variant::Null(), Variant(123456789012345678.0), Variant(INT64_MIN),
       Variant::Null(), Variant(std::string("\xc3\xa9 ok"))},
  };
  return p;
}

DataPacket Delta() {
  DataPacket p;
  p.kind = DataPacket::Kind::Delta;
  p.fields = {{"K", FieldType::String, 4}, {"Q", FieldType::Double}};
  p.changes = {{RowState::Modified, {Variant("a"), Variant(1.0)}, {Variant("a"), Variant(2.0)}},
               {RowState::Inserted, {}, {Variant("b"), Variant(3.5)}},
               {RowState::Deleted, {Variant("c"), Variant::Null()}, {}}};
  return p;
}

std::vector<Variant> Samples() {
  return {Variant(),
          Variant::Null(),
          Variant(true),
          Variant(false),
          Variant(0),
          Variant(INT64_MAX),
          Variant(-12),
          Variant(0.0),
          Variant(-0.0),
          Variant(1.5),
          Variant(1e300),
          Variant(5e-324),
          Variant(100.0),
          Variant(""),
          Variant("IDCHECK = 'S'"),
          Variant("linha\nnova \x7f \x1f"),
          Variant("Rodovi\xc3\xa1rio"),
          Variant(DateTime::FromParts(2024, 5, 1, 8, 30)),
          Variant(Table()),
          Variant(Delta()),
          Variant(VariantArray({Variant(Table()), Variant(1), Variant("a")}, 0)),
          Variant(VariantArray({Variant(VariantArray({Variant(1)}, -3))}, 1)),
          Variant(VariantArray()),
          Variant(DataPacket())};
}

std::string Written(const Variant& v, WireWriter::BadText bad = WireWriter::BadText::Throw) {
  return WireWriter(bad).Value(v).Take();
}

TEST(WireWriter, WritesTheBytesTheDocumentDumpsTo) {
  for (const Variant& v : Samples()) {
    EXPECT_EQ(VariantToJson(v).dump(), Written(v)) << v.DebugString();
  }
  // Texts that are not UTF-8: mended as the library mends them, or refused
  // with its failure once the whole value was written.
  const Variant bad("caf\xe9 \xc3");
  const std::string mended =
      VariantToJson(bad).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  EXPECT_EQ(mended, Written(bad, WireWriter::BadText::Replace));
  std::string want, got;
  try {
    VariantToJson(bad).dump();
  } catch (const nlohmann::json::exception& e) {
    want = e.what();
  }
  try {
    Written(bad);
  } catch (const nlohmann::json::exception& e) {
    got = e.what();
  }
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(want, got);
}

TEST(WireWriter, RefusesWhatTheDocumentRefusesWithTheSameText) {
  DataPacket short_row = Table();
  short_row.rows[1].pop_back();
  DataPacket bad_number = Table();
  bad_number.rows[0][2] = Variant("not a number");
  bool flag = false;
  const Variant refused[] = {Variant(std::numeric_limits<double>::infinity()),
                             Variant::RefTo(&flag), Variant(short_row), Variant(bad_number),
                             Variant(VariantArray({Variant(1), Variant(std::nan(""))}, 0))};
  for (const Variant& v : refused) {
    std::string want, got;
    try {
      VariantToJson(v).dump();
    } catch (const std::exception& e) {
      want = e.what();
    }
    try {
      Written(v);
    } catch (const std::exception& e) {
      got = e.what();
    }
    EXPECT_FALSE(want.empty()) << v.DebugString();
    EXPECT_EQ(want, got) << v.DebugString();
  }
}

// The general decoder's reading of a text, or "refused".
std::string General(const std::string& text, Variant* out) {
  try {
    *out = VariantFromJson(ParseJson(text));
    return "";
  } catch (const Error& e) {
    return e.what();
  }
}

TEST(WireReader, TakesTheWritersFormAndReadsItAsTheGeneralDecoderDoes) {
  for (const Variant& v : Samples()) {
    const std::string text = Written(v);
    Variant general, fast;
    ASSERT_EQ("", General(text, &general)) << text.substr(0, 200);
    // Change logs are left to the general decoder.
    const bool delta = text.find("\"kind\":\"delta\"") != std::string::npos;
    EXPECT_EQ(!delta, TryReadWireVariant(text, &fast)) << text.substr(0, 200);
    if (!delta) {
      EXPECT_EQ(general, fast) << text.substr(0, 200);
    }
  }
}

TEST(WireReader, LeavesEveryOtherFormToTheGeneralDecoder) {
  const std::string fields =
      R"("fields":[{"name":"A","size":2,"type":"string"},{"name":"Q","size":0,"type":"double"}])";
  auto packet = [&](const std::string& rows, const std::string& tail = "") {
    return R"({"packet":{)" + fields + R"(,"format":"dg-packet","kind":"table","rows":)" + rows +
           R"(,"version":1)" + tail + "}}";
  };
  // Each either declined, or read as the general decoder reads it.
  const std::string texts[] = {
      packet(R"([["ab",1],[null,2.5],["x",18446744073709551615]])"),
      packet(R"([["abc",1]])"),   // longer than its field
      packet(R"([["ab","1"]])"),  // a text in a number field
      packet(R"([["ab",1,2]])"),  // a cell too many
      packet(R"([["ab"]])"),      // a cell missing
      packet(R"([["ab",true]])"),
      packet(R"([["ab",1]])", R"(,"zz":1)"),  // a key the general decoder ignores
      R"({"packet":{"format":"dg-packet",)" + fields + R"(,"kind":"table","rows":[],"version":1}})",
      R"({"packet":{)" + fields + R"(,"format":"dg-packet","kind":"table","rows":[],"version":2}})",
      R"({"packet":{)" + fields +
          R"(,"format":"dg-packet","kind":"table","rows":[],"version":1.0}})",
      R"({"packet":{)" + fields + R"(,"format":"other","kind":"table","rows":[],"version":1}})",
      R"({"packet":{"fields":[{"name":"A","type":"string"},{"name":"A","type":"memo"}],"format":"dg-packet","kind":"table","rows":[],"version":1}})",
      R"({"packet":{"fields":[{"name":"A","size":-1,"type":"string"}],"format":"dg-packet","kind":"table","rows":[],"version":1}})",
      R"({"packet":{"fields":[{"name":"A","type":"text"}],"format":"dg-packet","kind":"table","rows":[],"version":1}})",
      R"({"packet":{"fields":[{"name":"D","type":"datetime"}],"format":"dg-packet","kind":"table","rows":[["2025-02-30"]],"version":1}})",
      R"({"array":[1,2],"low":3})",
      R"({"low":3,"array":[1,2]})",
      R"({"array":[1,2],"low":3000000})",
      R"({"array":[1,2],"low":1.5})",
      R"({"array":[1],"empty":true})",
      R"({"array":5})",
      R"({"empty":false})",
      R"({"empty":true,"empty":true})",
      R"({"date":"2024-01-02T03:04:05"})",
      R"({"date":"yesterday"})",
      R"({"date":5})",
      R"({})",
      R"([1,2])",
      R"(1e999)",
      R"(18446744073709551615)",
      R"(9223372036854775807)",
      R"(-9223372036854775808)",
      R"("\u00e7\ud83d\ude00")",
      R"({"array":[[1]]})",
      R"({"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[{"array":[1]}]}]}]}]}]}]}]}]}]}]}]}]}]}]}]}]})",
      R"({"array":[1],})",
      R"(1 2)",
  };
  for (const std::string& text : texts) {
    Variant general, fast;
    const std::string refusal = General(text, &general);
    if (!TryReadWireVariant(text, &fast)) continue;
    EXPECT_EQ("", refusal) << text;
    EXPECT_EQ(general, fast) << text;
  }
  Variant v;
  EXPECT_TRUE(TryReadWireVariant(packet(R"([["ab",1],[null,2.5]])"), &v));
  EXPECT_FALSE(TryReadWireVariant(packet(R"([["ab",1]])", R"(,"zz":1)"), &v));
}

TEST(WireReader, ReadsACallBodyOnlyWithExactlyItsMembersInOrder) {
  std::string server, method;
  std::vector<Variant> args;
  const WireMember members[] = {
      {"args", nullptr, nullptr, &args}, {"method", &method}, {"server", &server}};
  EXPECT_TRUE(
      TryReadWireObject(R"({"args":[1,"a",{"empty":true}],"method":"M","server":"S"})", members));
  EXPECT_EQ("M", method);
  EXPECT_EQ("S", server);
  EXPECT_EQ((std::vector<Variant>{Variant(1), Variant("a"), Variant()}), args);
  for (const char* text :
       {R"({"method":"M","args":[],"server":"S"})", R"({"args":[],"server":"S"})",
        R"({"args":[],"method":"M"})", R"({"args":[],"method":"M","server":"S","x":1})",
        R"({"args":{},"method":"M","server":"S"})", R"({"args":[],"method":5,"server":"S"})",
        R"({"args":[[1]],"method":"M","server":"S"})", R"([])", "",
        R"({"args":[],"method":"M","server":"S"} x)"}) {
    EXPECT_FALSE(TryReadWireObject(text, members)) << text;
  }
}

}  // namespace
}  // namespace dg::data
