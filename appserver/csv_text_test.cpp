#include "appserver/csv_text.h"

#include <gtest/gtest.h>

namespace dg::server::csv {
namespace {

// Records as "line:cell|cell / line:cell".
std::string Show(const Table& t) {
  std::string out = std::string(1, t.separator) + " " + std::to_string(t.header.line) + ":";
  const auto cells = [&](const Record& r) {
    std::string s;
    for (std::size_t i = 0; i < r.cells.size(); ++i) s += (i ? "|" : "") + r.cells[i];
    return s;
  };
  out += cells(t.header);
  for (const Record& r : t.records) out += " / " + std::to_string(r.line) + ":" + cells(r);
  return out;
}

int ErrorLine(const std::string& bytes) {
  try {
    ParseTable(DecodeText(bytes));
  } catch (const CsvError& e) {
    return e.line();
  }
  return -1;
}

TEST(CsvTextTest, Encodings) {
  Encoding e;
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"
                       "a;Ribeirão",
                       &e),
            "a;Ribeirão");
  EXPECT_EQ(e, Encoding::Utf8WithBom);
  EXPECT_EQ(DecodeText("a;Ribeirão", &e), "a;Ribeirão");
  EXPECT_EQ(e, Encoding::Utf8);
  EXPECT_EQ(DecodeText("Ribeir\xE3o;\x80 10;\x93x\x94", &e), "Ribeirão;€ 10;“x”");
  EXPECT_EQ(e, Encoding::Windows1252);
  // What cannot be read as text says so, with the line where it can.
  EXPECT_EQ(ErrorLine("\xFF\xFE"
                      "a\0;\0"),
            0);
  EXPECT_EQ(ErrorLine("PK\x03\x04rest"), 0);
  EXPECT_EQ(ErrorLine(std::string("a;b\nc;d\ne\0f", 11)), 3);
  EXPECT_EQ(ErrorLine("a;b\n\x81;c"), 2);  // undefined in Windows-1252
  EXPECT_EQ(ErrorLine("\xEF\xBB\xBF"
                      "a;b\nRibeir\xE3o"),
            2);  // marked UTF-8, is not
}

TEST(CsvTextTest, RecordsSeparatorsAndQuotes) {
  EXPECT_EQ(Show(ParseTable("a;b\r\n1;2\r\n")), "; 1:a|b / 2:1|2");
  EXPECT_EQ(Show(ParseTable("a,b\n1,\"2,5\"\n")), ", 1:a|b / 2:1|2,5");
  EXPECT_EQ(Show(ParseTable("a\tb\n1\t2")), "\t 1:a|b / 2:1|2");
  EXPECT_EQ(Show(ParseTable("sep=,\na;b,c\n1;2,3\n")), ", 2:a;b|c / 3:1;2|3");
  // A quoted cell keeps separators, quotes and line breaks; the next record
  // counts the lines it took.
  EXPECT_EQ(Show(ParseTable("a;b\n\"x;\"\"y\"\"\";\"two\nlines\"\n3;4\n")),
            "; 1:a|b / 2:x;\"y\"|two\nlines / 4:3|4");
  // Blank records are left out; old Mac line ends count as lines.
  EXPECT_EQ(Show(ParseTable("a;b\r;\r\r1;2\r")), "; 1:a|b / 4:1|2");
  EXPECT_EQ(Show(ParseTable("a;b\n1")), "; 1:a|b / 2:1");
  EXPECT_EQ(ErrorLine("a;b\n1;2\n3;\"open\n4;5\n"), 3);
  EXPECT_EQ(ErrorLine(""), 0);
  EXPECT_EQ(ErrorLine(" ; \n1;2"), 0);
}

TEST(CsvTextTest, Numbers) {
  const auto C = DecimalMark::Comma, P = DecimalMark::Point;
  struct Case {
    const char* text;
    DecimalMark mark;
    std::optional<double> value;
  } cases[] = {
      {"1.234,5", C, 1234.5}, {"1.234,5", P, 1234.5},  // both marks: their order decides
      {"1,234.5", C, 1234.5}, {"10,5", C, 10.5},      {"10,5", P, 10.5},   {"1.500", C, 1500},
      {"1.500", P, 1.5},      {"1,500", P, 1500},     {"0.024", C, 0.024}, {"-0,25", C, -0.25},
      {" 7 ", C, 7},          {"12,5,1", C, {}},      {"1.23.4", C, {}},   {"4,57E+13", C, {}},
      {"R$ 10", C, {}},       {"abc", C, {}},         {"", C, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDecimal(c.text, c.mark), c.value) << c.text;
  }
}

TEST(CsvTextTest, DecimalMarkOfAFile) {
  using V = std::vector<std::string_view>;
  const auto C = DecimalMark::Comma, P = DecimalMark::Point;
  EXPECT_EQ(GuessDecimalMark(V{"10,5", "3"}, ','), C);
  EXPECT_EQ(GuessDecimalMark(V{"0.024", "3.000"}, ';'), P);
  EXPECT_EQ(GuessDecimalMark(V{"16.5", "3000"}, ';'), P);
  EXPECT_EQ(GuessDecimalMark(V{"1.234,5"}, ','), C);
  EXPECT_EQ(GuessDecimalMark(V{"1.234.567"}, ','), C);
  // Nothing says, or both do: the separator decides.
  EXPECT_EQ(GuessDecimalMark(V{"3.000", "12"}, ';'), C);
  EXPECT_EQ(GuessDecimalMark(V{"3.000", "12"}, ','), P);
  EXPECT_EQ(GuessDecimalMark(V{"10,5", "0.25"}, ';'), C);
  EXPECT_EQ(GuessDecimalMark(V{}, '\t'), C);
}

TEST(CsvTextTest, Dates) {
  struct Case {
    const char* text;
    std::optional<std::string> iso;
  } cases[] = {
      {"15/07/2025", "2025-07-15T00:00:00"},
      {"5/7/2025", "2025-07-05T00:00:00"},
      {"2025-07-15", "2025-07-15T00:00:00"},
      {"2025-07-15 08:30", "2025-07-15T08:30:00"},
      {"2025-07-15T08:30:15", "2025-07-15T08:30:15"},
      {"15/07/2025 08:30:00", "2025-07-15T08:30:00"},
      {" 29/02/2024 ", "2024-02-29T00:00:00"},
      {"29/02/2025", {}},
      {"31/04/2025", {}},
      {"15/07/25", {}},
      {"2025-13-01", {}},
      {"15-07-2025", {}},
      {"hoje", {}},
      {"15/07/2025 25:00", {}},
      {"15/07/2025x", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseDate(c.text), c.iso) << c.text;
}

}  // namespace
}  // namespace dg::server::csv
