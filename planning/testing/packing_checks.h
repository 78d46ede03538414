// Shared by the packing's tests and the benchmark reference's: a generator
// whose draws are the same on every platform, and the check that an
// assignment of pieces to vehicles is a packing.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
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

// A vehicle search's start: vehicles and the pieces on them, by vehicle.
// Intentionally copyable.
struct SearchStart {
  std::vector<PackVehicle> vehicles;
  std::vector<PackPiece> pieces;
  std::vector<std::size_t> assignment;
};

// A mixed fleet of 3 to 22 vehicles, each holding 1 to 5 pieces of every
// shape that fit it: a valid start, drawn from `draws`.
inline SearchStart MixedFleetStart(Draws& draws) {
  auto next = [&draws](int n) { return draws.Below(n); };
  SearchStart out;
  auto& [vehicles, pieces, start] = out;
  const int fleet = 3 + next(20);
  for (int v = 0; v < fleet; ++v) {
    vehicles.push_back({100.0 + 50 * next(3), 1.0 + 0.5 * next(3)});
  }
  for (int v = 0; v < fleet; ++v) {
    double weight = 0, volume = 0;
    for (int k = 0; k < 1 + next(5); ++k) {
      const PackPiece p{0.001 * (1 + next(60'000)), 0.001 * next(700)};
      if (!FitsWithin(weight + p.weight, vehicles[v].free_weight) ||
          !FitsWithin(volume + p.volume, vehicles[v].free_volume))
        break;
      weight += p.weight, volume += p.volume;
      pieces.push_back(p);
      start.push_back(static_cast<std::size_t>(v));
    }
  }
  return out;
}

// Runs a vehicle search, `search(pieces, vehicles, start, effort, round)`
// answering an assignment, from 30 mixed-fleet starts at short and long
// efforts: each answer is a valid packing on no more vehicles than its
// start, and the same on a second run.
template <class Search>
void ExpectSearchNeverLosesOrOverloads(Search search) {
  Draws draws(3);
  for (int round = 0; round < 30; ++round) {
    const auto [vehicles, pieces, start] = MixedFleetStart(draws);
    const std::size_t before = CheckedVehicles(pieces, vehicles, start);
    ASSERT_GT(before, 0u);
    for (std::uint64_t effort : {std::uint64_t{0}, std::uint64_t{2'000}, std::uint64_t{300'000}}) {
      const auto answer = search(pieces, vehicles, start, effort, round);
      const std::size_t after = CheckedVehicles(pieces, vehicles, answer);
      EXPECT_GT(after, 0u) << "round " << round << " effort " << effort;
      EXPECT_LE(after, before) << "round " << round << " effort " << effort;
      EXPECT_EQ(answer, search(pieces, vehicles, start, effort, round)) << "round " << round;
    }
  }
}

}  // namespace dg::planning::testing
