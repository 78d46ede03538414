#include "data/variant.h"

#include <cstdio>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/packet.h"

namespace dg::data {
namespace {

TEST(VariantTest, ConversionsOfEachKind) {
  EXPECT_EQ(Variant(42).ToInt32(), 42);
  EXPECT_EQ(Variant("17").ToInt32(), 17);
  EXPECT_DOUBLE_EQ(Variant("1,5").ToDouble(), 1.5);
  EXPECT_EQ(Variant(2.5).ToString(), "2.5");
  EXPECT_EQ(Variant().ToString(), "");
  EXPECT_EQ(Variant(DateTime::FromParts(2024, 5, 1)).ToString(), "2024-05-01T00:00:00");
  EXPECT_TRUE(Variant("true").ToBool());
}

TEST(VariantTest, ConversionErrorsNameTheKind) {
  struct Case {
    Variant value;
    std::function<void(const Variant&)> convert;
    std::string kind;
  } cases[] = {
      {Variant("abc"), [](const Variant& v) { v.ToInt32(); }, "(String)"},
      {Variant::Null(), [](const Variant& v) { v.ToDouble(); }, "(Null)"},
      {Variant(DataPacket{}), [](const Variant& v) { v.ToString(); }, "(Packet)"},
      {Variant(std::int64_t{1} << 40), [](const Variant& v) { v.ToInt32(); }, "32-bit"},
      {Variant("31/02/2024"), [](const Variant& v) { v.ToDateTime(); }, "(String)"},
  };
  for (const auto& c : cases) {
    try {
      c.convert(c.value);
      ADD_FAILURE() << "no error for " << c.value.DebugString();
    } catch (const VariantConversionError& e) {
      EXPECT_NE(std::string(e.what()).find(c.kind), std::string::npos) << e.what();
    }
  }
}

TEST(VariantTest, ArrayIndexOutsideBoundsNamesIndexAndBounds) {
  VariantArray a(0, 5);
  a[5] = Variant("x");
  EXPECT_EQ(a.High(), 5);
  try {
    a.At(6);
    FAIL();
  } catch (const VariantIndexError& e) {
    EXPECT_STREQ(e.what(), "Variant array index 6 outside bounds 0..5");
  }
  VariantArray one_based({Variant(1), Variant(2)}, 1);
  EXPECT_EQ(one_based[2].ToInt32(), 2);
  EXPECT_THROW(one_based[0], VariantIndexError);
}

TEST(VariantTest, ReferencesReachTheCallersVariables) {
  bool flag = false;
  std::string text;
  const Variant b = Variant::RefTo(&flag);
  const Variant s = Variant::RefTo(&text);
  *b.ToBoolRef() = true;
  *s.ToStringRef() = "0001";
  EXPECT_TRUE(flag);
  EXPECT_EQ(text, "0001");
  EXPECT_THROW(b.ToStringRef(), VariantConversionError);
  EXPECT_THROW(Variant(5).ToBoolRef(), VariantConversionError);
  EXPECT_THROW(VariantToJson(s), PacketError);
}

TEST(VariantTest, DateTimeRoundTripsThroughTexts) {
  const DateTime d = DateTime::FromParts(1999, 12, 31, 23, 59, 58);
  EXPECT_EQ(DateTime::FromIso(d.ToIso()), d);
  EXPECT_EQ(d.ToBrazilian(), "31/12/1999 23:59:58");
  EXPECT_EQ(DateTime::FromBrazilian("01/03/2024").ToIso(), "2024-03-01T00:00:00");
  EXPECT_EQ(DateTime::FromParts(1960, 2, 29).ToIso(), "1960-02-29T00:00:00");
  EXPECT_THROW(DateTime::FromIso("2023-02-29"), Error);
  EXPECT_THROW(DateTime::FromIso("2023-01-01T25:00:00"), Error);
}

// The ISO text is written digit by digit for years 0 to 9999; it must be
// the text of the general format, and read back to the same instant.
TEST(VariantTest, IsoTextOfEveryPartOfTheDayAndOfFarYears) {
  auto general = [](const DateTime& t) {
    const int ms = static_cast<int>(((t.Millis() % 1000) + 1000) % 1000);
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.Year(),
                                t.Month(), t.Day(), t.Hour(), t.Minute(), t.Second());
    if (ms) std::snprintf(buf + n, sizeof buf - n, ".%03d", ms);
    return std::string(buf);
  };
  constexpr std::int64_t kDay = 86'400'000;
  EXPECT_EQ(DateTime::FromParts(2026, 12, 10, 3, 4, 5, 7).ToIso(), "2026-12-10T03:04:05.007");
  EXPECT_EQ(DateTime::FromParts(9999, 12, 31, 23, 59, 59).ToIso(), "9999-12-31T23:59:59");
  const std::int64_t first = DateTime::FromParts(1, 1, 1).Millis();
  EXPECT_EQ(DateTime::FromMillis(first - 366 * kDay).ToIso(), "0000-01-01T00:00:00");
  EXPECT_EQ(DateTime::FromMillis(first - 367 * kDay).ToIso(), "-001-12-31T00:00:00");
  EXPECT_EQ(DateTime::FromMillis(DateTime::FromParts(9999, 12, 31).Millis() + kDay).ToIso(),
            "10000-01-01T00:00:00");
  const std::int64_t start = DateTime::FromParts(1899, 12, 30).Millis();
  for (std::int64_t step = 0; step < 5000; ++step) {
    // Hours, minutes, seconds and milliseconds of all sizes, over millennia.
    const DateTime t = DateTime::FromMillis(start + step * (kDay - 1) + step * step * 7'919'113);
    SCOPED_TRACE(general(t));
    EXPECT_EQ(t.ToIso(), general(t));
    EXPECT_EQ(DateTime::FromIso(t.ToIso()), t);
  }
}

TEST(VariantTest, WireFormRoundTripsEveryKind) {
  DataPacket p;
  p.fields = {{"A", FieldType::String, 3}};
  p.rows = {{Variant("abc")}};
  const Variant values[] = {Variant(),
                            Variant::Null(),
                            Variant(true),
                            Variant(7),
                            Variant(2.0),
                            Variant("ção"),
                            Variant(DateTime::FromParts(2024, 1, 2, 3, 4, 5)),
                            Variant(p),
                            Variant(VariantArray({Variant(1), Variant("a")}, 0))};
  for (const auto& v : values) {
    const Variant back = VariantFromJson(nlohmann::json::parse(VariantToJson(v).dump()));
    EXPECT_EQ(back, v) << v.DebugString();
    EXPECT_EQ(back.Kind(), v.Kind()) << v.DebugString();
  }
}

}  // namespace
}  // namespace dg::data
