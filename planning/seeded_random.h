// Pseudo-random numbers from a fixed seed for the searches that decide for
// the clerk (packing, stop order): one input always gives one answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dg::planning {

// A 64-bit linear congruential generator; each number is the high 31 bits of
// its state.
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}

  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  // A number from 0 to n - 1; 0 when n is 0.
  std::size_t Below(std::size_t n) { return n ? Next() % n : 0; }

 private:
  std::uint64_t state_;
};

}  // namespace dg::planning
