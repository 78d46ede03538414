#include "data/quantity.h"

#include <cmath>

#include "data/format.h"

namespace dg::data {

double RoundQuantity(double quantity) {
  const double r = RoundDecimal(quantity, kQuantityDecimals);
  return r == 0 ? 0 : r;  // no negative zero
}

std::int64_t QuantityUnits(double quantity) {
  return std::llround(RoundQuantity(quantity) / kQuantityStep);
}

bool LoadFits(double need, double free, double held) {
  return RoundDecimal(need, kMeasureDecimals) <=
         RoundDecimal(free + RoundDecimal(held, kMeasureDecimals), kMeasureDecimals);
}

}  // namespace dg::data
