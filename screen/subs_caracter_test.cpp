#include "screen/subs_caracter.h"

#include <gtest/gtest.h>

namespace dg::screen {
namespace {

TEST(SubsCaracterTest, WorkedAddresses) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"RUA SÃO JOÃO, Nº 120 - CENTRO", "rua sao joao   120   centro"},
      {"Av. Brasil, 1.500", "av brasil  1500"},
      {"Rua São João", "rua são joão"},
      {"PRAÇA 3º ANDAR 10°", "praca 3 andar 10"},
      {"Ñº", ""},
      {"", ""},
      {"nº 5", " 5"},
      {"N.º 7", " 7"},  // the dot goes first, then "Nº" goes whole
      {"a_b-c,d", "a b c d"},
      {"ç ã é ü", "ç ã é ü"},  // lower-case accented letters are left alone
  };
  for (const auto& c : cases) EXPECT_EQ(SubsCaracter(c.in), c.out) << c.in;
}

TEST(SubsCaracterTest, EveryMappedCapitalAndItsLowerCase) {
  const struct {
    const char* capital;
    const char* lower;
    const char* base;
  } table[] = {
      {"Ç", "ç", "c"}, {"Ã", "ã", "a"}, {"Á", "á", "a"}, {"À", "à", "a"}, {"Â", "â", "a"},
      {"Ò", "ò", "o"}, {"Ô", "ô", "o"}, {"Õ", "õ", "o"}, {"Ó", "ó", "o"}, {"Í", "í", "i"},
      {"Ì", "ì", "i"}, {"Î", "î", "i"}, {"É", "é", "e"}, {"È", "è", "e"}, {"Ê", "ê", "e"},
      {"Ú", "ú", "u"}, {"Ù", "ù", "u"}, {"Û", "û", "u"}, {"Ü", "ü", "u"}, {"Ñ", "ñ", "n"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(SubsCaracter(std::string("X") + row.capital + "Y"), std::string("x") + row.base + "y")
        << row.capital;
    EXPECT_EQ(SubsCaracter(std::string("X") + row.lower + "Y"), std::string("x") + row.lower + "y")
        << row.lower;
  }
}

TEST(SubsCaracterTest, InvalidUtf8PassesThroughUnchanged) {
  const std::string bad = std::string("AB") + '\xC7' + "C" + '\xFF';
  EXPECT_EQ(SubsCaracter(bad), std::string("ab") + '\xC7' + "c" + '\xFF');
}

}  // namespace
}  // namespace dg::screen
