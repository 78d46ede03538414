// Shared by the packing's tests and the benchmark reference's: a generator
// whose draws are the same on every platform, and the check that an
// assignment of pieces to vehicles is a packing.
#pragma once

#include <cstddef>
#include <set>
#include <vector>

#include "planning/packing.h"

namespace dg::planning::testing {

// A small generator whose draws are the same on every platform, so that
// the generated cases are too.
class Draws {
 public:
  explicit Draws(unsigned seed) : state_(seed) {}
  // 16 bits.
  unsigned Next() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 16;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<unsigned>(n)); }
  int Between(int low, int high) { return low + Below(high - low + 1); }

 private:
  unsigned state_;
};

// Every piece on exactly one vehicle, that vehicle within its room in both
// dimensions; the number of vehicles in use, or 0 when the assignment is
// invalid.
inline std::size_t CheckedVehicles(const std::vector<PackPiece>& pieces,
                                   const std::vector<PackVehicle>& vehicles,
                                   const std::vector<std::size_t>& assignment) {
  if (assignment.size() != pieces.size()) return 0;
  std::vector<PackPiece> load(vehicles.size());
  std::set<std::size_t> used;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (assignment[i] >= vehicles.size()) return 0;
    load[assignment[i]].weight += pieces[i].weight;
    load[assignment[i]].volume += pieces[i].volume;
    used.insert(assignment[i]);
  }
  for (std::size_t v : used) {
    if (!FitsWithin(load[v].weight, vehicles[v].free_weight) ||
        !FitsWithin(load[v].volume, vehicles[v].free_volume))
      return 0;
  }
  return used.size();
}

}  // namespace dg::planning::testing
