#include "data/quantity.h"

#include <cmath>

#include "data/format.h"

namespace dg::data {

double RoundQuantity(double quantity) {
  const double r = RoundDecimal(quantity, kQuantityDecimals);
  return r == 0 ? 0 : r;  // no negative zero
}

std::int64_t QuantityUnits(double quantity) {
  // Multiplied by the units in one (exact) rather than divided by the step
  // (which a double holds only nearly): 10^12 is 10^17 units, not 10^17 - 16.
  constexpr double kUnitsInOne = 100000;
  static_assert(kQuantityDecimals == 5, "kUnitsInOne follows the decimals");
  return std::llround(RoundQuantity(quantity) * kUnitsInOne);
}

bool LoadFits(double need, double free, double held) {
  return RoundDecimal(need, kMeasureDecimals) <=
         RoundDecimal(free + RoundDecimal(held, kMeasureDecimals), kMeasureDecimals);
}

}  // namespace dg::data
