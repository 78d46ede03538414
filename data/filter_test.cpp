// The filter on its own, over the rows of a packet: which rows pass, and
// how malformed texts and texts that do not fit the table are refused.
#include "data/filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dg::data {
namespace {

struct Table {
  std::vector<FieldDef> fields;
  std::vector<std::vector<Variant>> rows;
};

struct Row : FilterRow {
  explicit Row(const std::vector<Variant>& c) : cells(c) {}
  const Variant& Cell(int index, Variant&) const override { return cells[index]; }
  const std::vector<Variant>& cells;
};

// Items as the screen sends them; row 4 has no values at all.
Table Items() {
  Table t;
  t.fields = {{"IDCHECK", FieldType::String, 1},
              {"NRPEDIDO", FieldType::String, 10},
              {"QTDEAEXP", FieldType::Double, 0},
              {"NRSEQ", FieldType::Integer, 0},
              {"DTENTPED", FieldType::DateTime, 0}};
  t.rows = {
      {Variant("S"), Variant("P1"), Variant(2.5), Variant(std::int64_t{1}),
       Variant(DateTime::FromParts(2025, 6, 10))},
      {Variant("N"), Variant("D'AVILA"), Variant(10.0), Variant(std::int64_t{2}),
       Variant(DateTime::FromParts(2025, 6, 11))},
      {Variant("S"), Variant("P3"), Variant(0.0), Variant(std::int64_t{3}),
       Variant(DateTime::FromParts(2025, 6, 12))},
      {Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()},
  };
  return t;
}

// The 1-based numbers of the rows that pass, e.g. "1 3".
std::string Passing(const std::string& text, const Table& t = Items()) {
  FilterExpression f = FilterExpression::Parse(text);
  f.Bind(t.fields);
  std::string out;
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    if (!f.Matches(Row(t.rows[r]))) continue;
    out += (out.empty() ? "" : " ") + std::to_string(r + 1);
  }
  return out;
}

TEST(FilterTest, RowsThatPass) {
  struct Case {
    const char* text;
    const char* rows;
  } cases[] = {
      {"", "1 2 3 4"},
      {"   ", "1 2 3 4"},
      {"IDCHECK = 'S'", "1 3"},
      {"IDCHECK <> 'S'", "2 4"},  // no value reads as the empty text
      {"IDCHECK = ''", "4"},
      {"idcheck = 'S' and NRPEDIDO <> 'P3'", "1"},
      {"IDCHECK = 'N' OR NRPEDIDO = 'P3'", "2 3"},
      {"IDCHECK = 'N' OR IDCHECK = 'S' AND NRPEDIDO = 'P1'", "1 2"},  // AND binds tighter
      {"(IDCHECK = 'N' OR IDCHECK = 'S') AND NRPEDIDO = 'P1'", "1"},
      {"NRPEDIDO = 'D''AVILA'", "2"},
      {"[NRPEDIDO] = 'P1'", "1"},
      {"QTDEAEXP > 2", "1 2"},
      {"QTDEAEXP >= 2.5", "1 2"},
      {"QTDEAEXP < 2.5", "3"},  // no value equals no number
      {"QTDEAEXP <= 0", "3"},
      {"QTDEAEXP = '10'", "2"},  // a quoted number is converted to the field's type
      {"QTDEAEXP <> 10", "1 3 4"},
      {"NRSEQ = 2", "2"},
      {"NRSEQ > -1", "1 2 3"},
      {"DTENTPED = '11/06/2025'", "2"},
      {"DTENTPED >= '2025-06-11'", "2 3"},
      {"NRPEDIDO > 'P'", "1 3"},  // texts compare by their bytes
  };
  for (const Case& c : cases) EXPECT_EQ(c.rows, Passing(c.text)) << c.text;
}

TEST(FilterTest, MalformedTextIsRefusedWithItsPosition) {
  struct Case {
    const char* text;
    const char* reason;
  } cases[] = {
      {"IDCHECK ~ 'S'", "comparison operator expected at position 9"},
      {"IDCHECK = 'S", "unterminated text literal at position 13"},
      {"IDCHECK = S", "literal expected at position 11"},
      {"IDCHECK = 'S' AND", "field name expected at position 18"},
      {"IDCHECK = 'S' NRPEDIDO = 'P1'", "unexpected text at position 15"},
      {"(IDCHECK = 'S'", "missing ) at position 15"},
      {"[] = 'S'", "bad field name at position 1"},
      {"1A = 'S'", "field name expected at position 1"},
      {"= 'S'", "field name expected at position 1"},
      {"QTDEAEXP = -", "literal expected at position 12"},
  };
  for (const Case& c : cases) {
    try {
      FilterExpression::Parse(c.text);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const FilterError& e) {
      EXPECT_EQ(c.reason, e.Reason()) << c.text;
      EXPECT_EQ(std::string("invalid filter \"") + c.text + "\": " + c.reason, e.what());
    }
  }
}

TEST(FilterTest, TextThatDoesNotFitTheTableIsRefusedWhenBound) {
  struct Case {
    const char* text;
    const char* reason;
  } cases[] = {
      {"IDCHEK = 'S'", "filter field IDCHEK not found"},
      {"IDCHECK = 'S' OR NOPE = 'X'", "filter field NOPE not found"},
      {"QTDEAEXP = 'muito'", "filter value 'muito' does not fit field QTDEAEXP"},
      {"DTENTPED = 'ontem'", "filter value 'ontem' does not fit field DTENTPED"},
  };
  const Table t = Items();
  for (const Case& c : cases) {
    FilterExpression f = FilterExpression::Parse(c.text);
    try {
      f.Bind(t.fields);
      ADD_FAILURE() << c.text << " was bound";
    } catch (const FilterError& e) {
      EXPECT_EQ(c.reason, e.Reason()) << c.text;
    }
    EXPECT_FALSE(f.Bound()) << c.text;
  }
}

// A packet from outside may carry a cell of another kind than its field
// says: it is compared for what it is, never read as the field's kind.
TEST(FilterTest, CellOfAnotherKindThanItsFieldIsComparedSafely) {
  Table t = Items();
  t.rows[0][2] = Variant("2.5");  // text in the number field
  t.rows[1][0] = Variant(7.0);    // number in the text field
  EXPECT_EQ("1 2", Passing("QTDEAEXP > 2", t));
  EXPECT_EQ("1 3", Passing("IDCHECK = 'S'", t));
  EXPECT_EQ("2 4", Passing("IDCHECK <> 'S'", t));
}

TEST(FilterTest, FieldIndexesNameEveryTerm) {
  FilterExpression f = FilterExpression::Parse("NRSEQ = 1 OR (IDCHECK = 'S' AND NRSEQ = 2)");
  f.Bind(Items().fields);
  EXPECT_EQ((std::vector<int>{3, 0, 3}), f.FieldIndexes());
  EXPECT_TRUE(FilterExpression::Parse("").FieldIndexes().empty());
}

}  // namespace
}  // namespace dg::data
