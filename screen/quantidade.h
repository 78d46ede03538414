// Exact comparison of distributed quantities.
//
// Quantities are typed as decimals ("0,1", "3,333"); their binary doubles
// are not. They are compared as integers of a fixed number of decimal
// places, so a split of 0,3 into 0,1 and 0,2 matches 0,3 exactly, while a
// real remainder (three times 3,333 against 10) still differs.
#pragma once

#include <cmath>
#include <cstdint>

namespace dg::screen {

// Decimal places a quantity is compared at.
inline constexpr int kCasasQuantidade = 9;

// The quantity as a count of 10^-9 units. REQUIRES: |value| < 9e9.
inline std::int64_t QuantidadeEscalada(double value) { return std::llround(value * 1e9); }

}  // namespace dg::screen
