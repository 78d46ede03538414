#include "data/format.h"

#include <gtest/gtest.h>

namespace dg::data {
namespace {

TEST(FormatTest, PatternsOfTheScreen) {
  struct Case {
    const char* pattern;
    double value;
    const char* text;
  } cases[] = {
      {"0.000", 2.0005, "2,001"},  // half away from zero on the decimal value
      {"0.000", -2.0005, "-2,001"},
      {"0.000", 0, "0,000"},
      {"0.000", -0.0004, "0,000"},  // no sign on a value that rounds to zero
      {"0.000", 1234.5, "1234,500"},
      {"#,###0.000", 1234.5, "1.234,500"},
      {"#,###0.000", 1234567.25, "1.234.567,250"},
      {"#,###0.000", -1234567.25, "-1.234.567,250"},
      {"#,###0.000", 0.5, "0,500"},
      {"#,##0.00", 999.995, "1.000,00"},
      {"#,##0.00", 123, "123,00"},
      {"#,##0.00", -0.125, "-0,13"},
      {"0.00000", 1.0 / 3, "0,33333"},
      {"0.00000", -12.345678, "-12,34568"},
      {"0.00", 1e15, "1000000000000000,00"},
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"#.##", 0.5, ",5"},
      {"0.0#", 1.25, "1,25"},
      {"0.0#", 1.2, "1,2"},
      {"R$ #,##0.00", 10, "R$ 10,00"},
      {"", 1234.5, "1234,5"},
      {"", -0.1, "-0,1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatNumber(c.pattern, c.value), c.text) << c.pattern << " " << c.value;
}

TEST(FormatTest, SeparatorsAreConfigurable) {
  const NumberSeparators us{'.', ','};
  EXPECT_EQ(FormatNumber("#,###0.000", 1234.5, us), "1,234.500");
  EXPECT_EQ(ParseNumber("1,234.5", us), 1234.5);
}

TEST(FormatTest, RoundDecimalUsesTheShortestDecimal) {
  EXPECT_EQ(RoundDecimal(2.0005, 3), 2.001);
  EXPECT_EQ(RoundDecimal(-2.0005, 3), -2.001);
  EXPECT_EQ(RoundDecimal(1.005, 2), 1.01);
  EXPECT_EQ(RoundDecimal(0.1 + 0.2, 2), 0.3);
  EXPECT_EQ(RoundDecimal(9.9999, 3), 10.0);
  EXPECT_EQ(RoundDecimal(12.5, 0), 13.0);
}

TEST(FormatTest, ParseNumberAsTyped) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"1.234,5", 1234.5},      {"10", 10.0},
      {" -0,25 ", -0.25},       {",5", 0.5},
      {"1.234.567", 1234567.0}, {"+3", 3.0},
      {"", std::nullopt},       {"  ", std::nullopt},
      {"abc", std::nullopt},    {"1,2,3", std::nullopt},
      {"12.34", std::nullopt},  {"1.2345", std::nullopt},
      {".123", std::nullopt},   {"1e5", std::nullopt},
      {"-", std::nullopt},      {"1 000", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace dg::data
