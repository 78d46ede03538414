#include "data/sql_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "data/errors.h"
#include "data/packet.h"

namespace dg::data {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

TEST(NumberSqlParams, BothStylesPassOverLiteralsNamesCommentsAndCasts) {
  struct Case {
    SqlParamStyle style;
    std::string sql, want, names;
    int count;
  } cases[] = {
      {SqlParamStyle::kPositional, "SELECT a FROM t WHERE b = ? AND c IN (?, ?)",
       "SELECT a FROM t WHERE b = $1 AND c IN ($2, $3)", "", 3},
      {SqlParamStyle::kPositional, "WHERE a = 'it''s ?' AND \"odd?\" = ?",
       "WHERE a = 'it''s ?' AND \"odd?\" = $1", "", 1},
      {SqlParamStyle::kPositional, "-- isn't it?\nSELECT ? -- trailing?",
       "-- isn't it?\nSELECT $1 -- trailing?", "", 1},
      {SqlParamStyle::kPositional, "SELECT :a, x::int", "SELECT :a, x::int", "", 0},
      {SqlParamStyle::kNamed, "a = :x OR b = :X OR c = :y_2", "a = $1 OR b = $1 OR c = $2", "x,y_2",
       2},
      {SqlParamStyle::kNamed, "x::text = :v AND ':no' = 'it''s :no' AND \"we:ird\" = ?",
       "x::text = $1 AND ':no' = 'it''s :no' AND \"we:ird\" = ?", "v", 1},
      {SqlParamStyle::kNamed, "-- :not, a parameter's name\nSELECT :v",
       "-- :not, a parameter's name\nSELECT $1", "v", 1},
      {SqlParamStyle::kNamed, "a = : b AND c = ':'", "a = : b AND c = ':'", "", 0},
  };
  for (const Case& c : cases) {
    const NumberedSql n = NumberSqlParams(c.sql, c.style);
    EXPECT_EQ(c.want, n.text) << c.sql;
    EXPECT_EQ(c.names, Joined(n.names)) << c.sql;
    EXPECT_EQ(c.count, n.count) << c.sql;
  }
}

TEST(NumberSqlParams, RefusesAQuoteNeverClosed) {
  // Whatever follows an open quote is neither text nor parameters for sure:
  // both styles refuse it instead of sending a guess.
  for (const char* sql : {"SELECT 'open ?", "SELECT \"name :v", "a = 'it''s"}) {
    for (SqlParamStyle style : {SqlParamStyle::kPositional, SqlParamStyle::kNamed}) {
      try {
        NumberSqlParams(sql, style);
        ADD_FAILURE() << sql << " was numbered";
      } catch (const Error& e) {
        EXPECT_EQ("unclosed quote in [" + std::string(sql) + "]", e.what());
      }
    }
  }
}

TEST(SqlParamText, ScalarsAsTextAndEverythingElseRefused) {
  const std::pair<Variant, std::optional<std::string>> sent[] = {
      {Variant(), std::nullopt},
      {Variant::Null(), std::nullopt},
      {Variant(true), "-1"},  // the host's true, as stored rows have always held it
      {Variant(std::int64_t{-9'007'199'254'740'993}), "-9007199254740993"},
      {Variant(0.1), "0.1"},
      {Variant(1e300), "1e+300"},
      {Variant(std::nan("")), "NaN"},
      {Variant(-std::numeric_limits<double>::infinity()), "-Infinity"},
      {Variant("Três"), "Três"},
      {Variant(DateTime::FromParts(2025, 6, 10, 8, 30)),
       DateTime::FromParts(2025, 6, 10, 8, 30).ToIso()},
  };
  for (const auto& [value, want] : sent) EXPECT_EQ(want, SqlParamText(value)) << value.ToString();

  bool flag = false;
  std::string text;
  const std::pair<const char*, Variant> refused[] = {
      {"NUL", Variant(std::string("a\0b", 3))}, {"Array", Variant(VariantArray({Variant(1)}))},
      {"Packet", Variant(DataPacket())},        {"reference", Variant::RefTo(&flag)},
      {"reference", Variant::RefTo(&text)},
  };
  for (const auto& [why, value] : refused) {
    try {
      SqlParamText(value);
      ADD_FAILURE() << why << " was sent";
    } catch (const Error& e) {
      if (std::string(why) != "reference") {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(why)) << e.what();
      }
    }
  }
}

TEST(IsPostgresUrl, OnlyThePostgresSchemesAtTheStart) {
  const std::pair<const char*, bool> addresses[] = {{"postgresql://u@127.0.0.1:5432/db", true},
                                                    {"postgres://127.0.0.1/db", true},
                                                    {"/tmp/exp.db", false},
                                                    {"exp.db", false},
                                                    {"postgresqlx://h/db", false},
                                                    {"file:postgresql://x", false}};
  for (const auto& [db, want] : addresses) EXPECT_EQ(want, IsPostgresUrl(db)) << db;
}

}  // namespace
}  // namespace dg::data
