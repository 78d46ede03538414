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

}  // namespace dg::data
