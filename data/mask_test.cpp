#include "data/mask.h"

#include <gtest/gtest.h>

#include "data/errors.h"

namespace dg::data {
namespace {

TEST(MaskTest, FormatAndYield) {
  struct Case {
    const char* mask;
    const char* value;
    const char* shown;
    const char* yielded;
  } cases[] = {
      {"lll 9999;0; ", "ABC1234", "ABC 1234", "ABC1234"},
      {"lll 9999;0; ", "AB", "AB      ", "AB"},
      {"99.999.999/9999-99;0; ", "12345678000199", "12.345.678/0001-99", "12345678000199"},
      {"999.999.999-99;0; ", "12345678909", "123.456.789-09", "12345678909"},
      {"999.999.999-99;1; ", "123.456.789-09", "123.456.789-09", "123.456.789-09"},
      {"9.99.999;0;_", "123456", "1.23.456", "123456"},
      {"9.99.999;0;_", "1234", "1.23.4__", "1234"},
      {"!999;1; ", "12", " 12", " 12"},
      {"!999;0; ", "12", " 12", "12"},
      {">lll;0;_", "abc", "ABC", "ABC"},
      {"\\(99\\);0;_", "12", "(12)", "12"},
      {"9999", "12", "12__", "12  "},  // literals kept by default: blanks stay
  };
  for (const auto& c : cases) {
    const EditMask mask(c.mask);
    EXPECT_EQ(mask.Format(c.value), c.shown) << c.mask;
    EXPECT_EQ(mask.Yield(c.shown), c.yielded) << c.mask;
  }
}

// Typing goes through the mask as a clerk's keys do: punctuation that falls
// on the mask's literal is taken as it, what a position refuses is dropped.
TEST(MaskTest, TypingTakesLiteralsAndRefusesWhatAPositionDoesNot) {
  struct Case {
    const char* mask;
    const char* typed;
    const char* shown;
  } cases[] = {
      {"99.999.999/9999-99;0; ", "11.222.333/0001-81", "11.222.333/0001-81"},
      {"99.999.999/9999-99;0; ", " 11.222.333/0001-81", "11.222.333/0001-81"},
      {"99.999.999/9999-99;0; ", "11222333000181", "11.222.333/0001-81"},
      {"99.999.999/9999-99;0; ", "11222333000181999", "11.222.333/0001-81"},
      {"999.999.999-99;0; ", "123.456.789-09", "123.456.789-09"},
      {"999.999.999-99;0; ", "123 456 789 09", "123.456.789-09"},
      {"!999;1; ", "1", "  1"},
      {"!999;1; ", "12", " 12"},
      {"!999;1; ", "1234", "123"},
      {"!999;1; ", "AB", "   "},
      {"!999;1; ", "1A2", " 12"},
      {"lll 9999;0; ", "abc 1234", "abc 1234"},
      {"lll 9999;0; ", "ABC1234", "ABC 1234"},
      {"lll 9999;0; ", "1ABC", "ABC     "},
      {">lll;0;_", "aÇ1b", "AÇB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EditMask(c.mask).Type(c.typed), c.shown) << c.mask << " " << c.typed;
  }
  EXPECT_EQ(EditMask("99.999.999/9999-99;0; ").Yield("11.222.333/0001-81"), "11222333000181");
  // A lead byte followed by a long run of continuation bytes is one broken
  // character: refused by a letter position, what follows still taken.
  EXPECT_EQ(EditMask("l9;0; ").Type("\xC3" + std::string(35, '\x80') + "a7"), "a7");
}

TEST(MaskTest, SectionsAndAcceptedCharacters) {
  const EditMask plate("lll 9999;0; ");
  EXPECT_FALSE(plate.KeepLiterals());
  EXPECT_EQ(plate.Blank(), ' ');
  EXPECT_TRUE(plate.Accepts(0, U'A'));
  EXPECT_TRUE(plate.Accepts(1, U'Ç'));
  EXPECT_FALSE(plate.Accepts(2, U'1'));
  EXPECT_FALSE(plate.Accepts(3, U' '));  // the literal blank
  EXPECT_TRUE(plate.Accepts(4, U'7'));
  EXPECT_FALSE(plate.Accepts(4, U'x'));
  EXPECT_FALSE(plate.Accepts(8, U'1'));
  EXPECT_TRUE(EditMask("!999;1; ").KeepLiterals());
  EXPECT_EQ(EditMask("999").Blank(), '_');
}

TEST(MaskTest, MalformedMasksAreErrors) {
  for (const char* bad : {"99\\", "99;2;_", "99;0;__"}) EXPECT_THROW(EditMask{bad}, Error) << bad;
}

}  // namespace
}  // namespace dg::data
