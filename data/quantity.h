// The precision of the quantities that vehicles carry, and the rule their
// weights and volumes are compared by, one for the whole system: the screen's check of a save, what
// the application server stores and what its distribution places are all rounded to the same
// decimals, so that whatever the screen accepts is stored as it was typed and saves again
// unchanged. The vehicle grid shows quantities with these decimals
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

// Decimals weights and volumes are compared at, as the grids show them.
inline constexpr int kMeasureDecimals = 3;

// The capacity rule of one vehicle row, the same where the screen checks a
// row and where the server checks a save: the weight (or volume) of the new
// quantity, `need`, fits when rounded it is at most the vehicle's free room
// `free` (which still counts what the row carried) plus what the row carried,
// `held`, rounded on its own; the sum rounded again. Rounding is half away
// from zero on the decimal value.
bool LoadFits(double need, double free, double held);

}  // namespace dg::data
