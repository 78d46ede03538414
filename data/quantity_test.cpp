#include "data/quantity.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dg::data {
namespace {

TEST(Quantity, RoundsOnTheDecimalValueToFiveDecimals) {
  EXPECT_EQ(4.4443, RoundQuantity(4.4443));
  EXPECT_EQ(1.11112, RoundQuantity(1.111115));  // the double lies just below the tie
  EXPECT_EQ(-1.11112, RoundQuantity(-1.111115));
  EXPECT_EQ(3.33333, RoundQuantity(10.0 / 3));
  EXPECT_FALSE(std::signbit(RoundQuantity(-0.000001)));
  EXPECT_EQ(444430, QuantityUnits(4.4443));
  EXPECT_EQ(QuantityUnits(10),
            QuantityUnits(4.4443) + QuantityUnits(4.4443) + QuantityUnits(1.1114));
  EXPECT_EQ(QuantityUnits(0.3), QuantityUnits(0.1) + QuantityUnits(0.2));
  // The largest amount a call may carry counts exactly.
  EXPECT_EQ(100000000000000000, QuantityUnits(1e12));
}

TEST(Quantity, LoadFitsRoundsEachSideToThreeDecimals) {
  struct Case {
    double need, free, held;
    bool fits;
  } cases[] = {
      {10, 0, 10, true},           // the row takes back what it carried
      {10.001, 0, 10, false},      //
      {2.0004, 2.0004, 0, true},   // 2,000 against 2,000
      {2.0006, 2.0004, 0, false},  // 2,001 against 2,000
      {2.0005, 2, 0, false},       // a decimal tie rounds away from zero
      {0, -1, 0, false},           // an overloaded vehicle takes nothing new
      {0.3, 0.1 + 0.2, 0, true},   // floating noise refuses nothing
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.fits, LoadFits(c.need, c.free, c.held)) << c.need << " " << c.free << " " << c.held;
  }
}

}  // namespace
}  // namespace dg::data
