#include "data/inscription.h"

#include <gtest/gtest.h>

namespace dg::data {
namespace {

TEST(InscriptionTest, CheckDigits) {
  struct Case {
    const char* digits;
    bool valid;
  } cases[] = {
      {"11222333000181", true},  {"45781233000107", true}, {"00000000000191", true},
      {"11222333000182", false},  // second check digit off
      {"11222333000171", false},  // first check digit off
      {"11222333000118", false},  // the two swapped
      {"52998224725", true},     {"12345678909", true},    {"52998224726", false},
      {"52998224715", false},    {"00000000000", false},    // one repeated digit
      {"11111111111111", false}, {"1122233300018", false},  // 13 digits
      {"529982247250", false},   {"5299822472X", false},   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ValidInscription(c.digits), c.valid) << c.digits;
}

TEST(InscriptionTest, DigitsOfATypedOrPrintedInscription) {
  EXPECT_EQ(InscriptionDigits("45.781.233/0001-07"), "45781233000107");
  EXPECT_EQ(InscriptionDigits(" 529.982.247-25 "), "52998224725");
  EXPECT_EQ(InscriptionDigits("45781233000107"), "45781233000107");
  EXPECT_EQ(InscriptionDigits("45.781.233/0001-0A"), std::nullopt);
  EXPECT_EQ(InscriptionDigits("CNPJ 45781233000107"), std::nullopt);
  EXPECT_EQ(InscriptionDigits("-./"), std::nullopt);
  EXPECT_EQ(InscriptionDigits(""), std::nullopt);
}

TEST(InscriptionTest, FormattedAsPrinted) {
  EXPECT_EQ(FormatInscription("45781233000107"), "45.781.233/0001-07");
  EXPECT_EQ(FormatInscription("52998224725"), "529.982.247-25");
  EXPECT_EQ(FormatInscription("123"), "123");
  EXPECT_EQ(FormatInscription("4578123300010X"), "4578123300010X");
  EXPECT_EQ(PersonTypeOf("45781233000107"), "J");
  EXPECT_EQ(PersonTypeOf("52998224725"), "F");
  EXPECT_EQ(PersonTypeOf("123"), "");
}

}  // namespace
}  // namespace dg::data
