// The precision of the quantities that vehicles carry, one for the whole
// system: the screen's check of a save, what the application server stores
// and what its distribution places are all rounded to the same decimals, so
// that whatever the screen accepts is stored as it was typed and saves
// again unchanged. The vehicle grid shows quantities with these decimals
// ("0.00000").
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>

namespace dg::data {

// Decimals a quantity is kept and compared at.
inline constexpr int kQuantityDecimals = 5;
// The smallest quantity that counts: one unit of the last decimal.
inline constexpr double kQuantityStep = 0.00001;

// The quantity rounded half away from zero on its decimal value (as typed,
// not as the binary double happens to hold it); non-finite values unchanged.
double RoundQuantity(double quantity);

// The quantity as a whole count of kQuantityStep, for exact sums and
// comparisons. REQUIRES: finite, |quantity| < 9e13.
std::int64_t QuantityUnits(double quantity);

}  // namespace dg::data
