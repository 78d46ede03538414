#include "planning/packing_cover.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "planning/packing.h"

namespace dg::planning {
namespace {

ExactSize Units(std::int64_t weight, std::int64_t volume) {
  return {weight * 1'000'000, volume * 1'000'000};
}

// Vehicles of `room` in the order given, each filled by one triplet of
// pieces; the triplets are interleaved so that neighbours never travel
// together.
std::vector<ExactSize> Interleaved(const std::vector<std::vector<ExactSize>>& triplets) {
  std::vector<ExactSize> pieces;
  for (std::size_t i = 0; i < 3; ++i) {
    for (const auto& t : triplets) pieces.push_back(t[i]);
  }
  return pieces;
}

// Checks a cover: every piece on one of `vehicles` vehicles, none over the
// room; answers the pieces per vehicle.
std::vector<std::size_t> Checked(const std::vector<ExactSize>& pieces, ExactSize room,
                                 std::size_t vehicles, const std::vector<std::uint32_t>& vehicle,
                                 const std::string& name) {
  std::vector<std::size_t> count(vehicles, 0);
  EXPECT_EQ(pieces.size(), vehicle.size()) << name;
  if (pieces.size() != vehicle.size()) return count;
  std::vector<ExactSize> load(vehicles);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_LT(vehicle[i], vehicles) << name << " piece " << i;
    if (vehicle[i] >= vehicles) continue;
    load[vehicle[i]] += pieces[i];
    ++count[vehicle[i]];
  }
  for (std::size_t v = 0; v < vehicles; ++v) {
    EXPECT_TRUE(load[v].Within(room)) << name << " vehicle " << v;
  }
  return count;
}

const CoverBudget kAmple{1'000'000, 50'000, 20'000'000, 4};

TEST(CoverWithLoads, RegroupsVehiclesFilledExactlyByThreePieces) {
  struct Case {
    std::string name;
    std::vector<ExactSize> pieces;
    std::size_t vehicles;
  };
  // Both dimensions filled exactly by every triplet.
  std::vector<std::vector<ExactSize>> exact;
  for (int b = 0; b < 15; ++b) {
    const int w1 = 20 + (b * 7) % 19, v1 = 21 + (b * 11) % 17;
    const int w2 = 22 + (b * 5) % 17, v2 = 20 + (b * 3) % 19;
    exact.push_back({Units(w1, v1), Units(w2, v2), Units(100 - w1 - w2, 100 - v1 - v2)});
  }
  // The volume filled exactly, the weight a unit short on three vehicles:
  // the loads may waste up to three units of weight between them.
  std::vector<std::vector<ExactSize>> spare = exact;
  for (int b : {2, 7, 11}) spare[b][2].weight -= 1'000'000;
  // Three patterns only: most sizes occur many times over, and a load of
  // equal pieces must never be counted twice.
  std::vector<std::vector<ExactSize>> repeated;
  const int patterns[3][3][2] = {{{30, 40}, {30, 25}, {40, 35}},
                                 {{27, 33}, {35, 33}, {38, 34}},
                                 {{26, 50}, {36, 20}, {38, 30}}};
  for (int b = 0; b < 15; ++b) {
    std::vector<ExactSize> t;
    for (const auto& p : patterns[b % 3]) t.push_back(Units(p[0], p[1]));
    repeated.push_back(t);
  }
  const std::vector<Case> cases = {{"exact in both", Interleaved(exact), 15},
                                   {"weight to spare", Interleaved(spare), 15},
                                   {"repeated sizes", Interleaved(repeated), 15}};
  const ExactSize room = Units(100, 100);
  for (const Case& c : cases) {
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    ASSERT_TRUE(CoverWithLoads(c.pieces, room, c.vehicles, kAmple, steps, vehicle)) << c.name;
    for (std::size_t n : Checked(c.pieces, room, c.vehicles, vehicle, c.name))
      EXPECT_EQ(3u, n) << c.name;
    EXPECT_GT(steps, 0u) << c.name;
    std::uint64_t again_steps = 0;
    std::vector<std::uint32_t> again;
    ASSERT_TRUE(CoverWithLoads(c.pieces, room, c.vehicles, kAmple, again_steps, again));
    EXPECT_EQ(vehicle, again) << c.name << ": deterministic";
    EXPECT_EQ(steps, again_steps) << c.name;
  }
}

TEST(CoverWithLoads, DeclinesWhatItCannotPack) {
  const ExactSize room = Units(100, 100);
  struct Case {
    std::string name;
    std::vector<ExactSize> pieces;
    std::size_t vehicles;
    CoverBudget budget;
  };
  std::vector<ExactSize> triplets;
  for (int b = 0; b < 10; ++b) {
    triplets.push_back(Units(30 + b, 33));
    triplets.push_back(Units(31, 34));
    triplets.push_back(Units(39 - b, 33));
  }
  // 30 pieces of 2 to 4 per vehicle on 10 vehicles: loads of such different
  // sizes are not tried.
  std::vector<ExactSize> mixed;
  for (int b = 0; b < 5; ++b) {
    for (int w : {50, 50, 25, 25, 25, 25}) mixed.push_back(Units(w, w));
  }
  const std::vector<Case> cases = {
      {"a piece over the room", {Units(101, 10), Units(10, 10)}, 2, kAmple},
      {"more than the vehicles hold", {Units(60, 60), Units(60, 60)}, 1, kAmple},
      // Together within two vehicles, but no two of them fit one.
      {"three pieces that only travel alone",
       {Units(60, 10), Units(60, 10), Units(60, 10)},
       2,
       kAmple},
      {"no pieces", {}, 3, kAmple},
      {"no vehicles", {Units(1, 1)}, 0, kAmple},
      {"listing over its steps", triplets, 10, {10, 50'000, 20'000'000, 4}},
      {"more loads than allowed", triplets, 10, {1'000'000, 3, 20'000'000, 4}},
      {"loads of very different sizes", mixed, 10, kAmple},
  };
  for (const Case& c : cases) {
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    EXPECT_FALSE(CoverWithLoads(c.pieces, room, c.vehicles, c.budget, steps, vehicle)) << c.name;
    EXPECT_LE(steps, c.budget.list_steps + c.budget.search_steps + 1) << c.name;
  }
  // The same triplets with the budget to list them are packed.
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  EXPECT_TRUE(CoverWithLoads(triplets, room, 10, kAmple, steps, vehicle));
}

TEST(ReduceVehicles, EndGameClosesTheLastVehicleOfAnExactFill) {
  // Fifteen vehicles each filled exactly in both dimensions by three pieces
  // (the optimum, the bound). A short effort stops the moves one vehicle
  // above it; the steps for that last vehicle go first to covering the
  // pieces with whole loads, whose packing must be as valid and as
  // repeatable as the moves'.
  std::vector<std::vector<ExactSize>> exact;
  for (int b = 0; b < 15; ++b) {
    const int w1 = 20 + (b * 7) % 19, v1 = 21 + (b * 11) % 17;
    const int w2 = 22 + (b * 5) % 17, v2 = 20 + (b * 3) % 19;
    exact.push_back({Units(w1, v1), Units(w2, v2), Units(100 - w1 - w2, 100 - v1 - v2)});
  }
  std::vector<PackPiece> pieces;
  for (const ExactSize& s : Interleaved(exact)) {
    pieces.push_back({static_cast<double>(s.weight) / 1e6, static_cast<double>(s.volume) / 1e6});
  }
  const std::vector<PackVehicle> vehicles(pieces.size(), {100, 100});
  std::vector<std::size_t> start(pieces.size());
  for (std::size_t i = 0; i < start.size(); ++i) start[i] = i;
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    // If the moves improve so that 5,000 steps reach the optimum, this case
    // needs a shorter effort.
    const SearchBudget alone{5'000, seed, 0}, budget{5'000, seed, 1'000};
    const auto stalled = ReduceVehicles(pieces, vehicles, start, alone);
    ASSERT_EQ(16u, std::set<std::size_t>(stalled.begin(), stalled.end()).size()) << seed;
    const auto reduced = ReduceVehicles(pieces, vehicles, start, budget);
    std::vector<ExactSize> load(vehicles.size());
    std::vector<bool> used(vehicles.size(), false);
    ASSERT_EQ(pieces.size(), reduced.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      ASSERT_LT(reduced[i], vehicles.size());
      load[reduced[i]] += {Millionths(pieces[i].weight), Millionths(pieces[i].volume)};
      used[reduced[i]] = true;
    }
    for (const ExactSize& l : load) EXPECT_TRUE(l.Within(Units(100, 100))) << seed;
    EXPECT_EQ(15, std::count(used.begin(), used.end(), true)) << seed;
    EXPECT_EQ(reduced, ReduceVehicles(pieces, vehicles, start, budget)) << seed;
  }
}

}  // namespace
}  // namespace dg::planning
