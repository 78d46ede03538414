#include "planning/packing_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "planning/packing.h"
#include "planning/testing/packing_checks.h"

namespace dg::planning {
namespace {

ExactSize Weight(std::int64_t kg) { return {kg * 1'000'000, 0}; }

constexpr std::uint64_t kAmple = 200'000'000;

// Every piece on one of `vehicles` vehicles, none over `room`.
void ExpectPacking(const std::vector<ExactSize>& sizes, ExactSize room, std::size_t vehicles,
                   const std::vector<std::uint32_t>& vehicle, const std::string& name) {
  ASSERT_EQ(sizes.size(), vehicle.size()) << name;
  std::vector<ExactSize> load(vehicles);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_LT(vehicle[i], vehicles) << name << " piece " << i;
    load[vehicle[i]] += sizes[i];
  }
  for (std::size_t v = 0; v < vehicles; ++v) {
    EXPECT_TRUE(load[v].Within(room)) << name << " vehicle " << v;
  }
}

// `bins` vehicles of room `room` each cut into 3 to 5 pieces at drawn
// points: a packing that fills every vehicle exactly exists, and first-fit
// decreasing rarely finds it.
std::vector<ExactSize> ExactCuts(testing::Draws& draws, int bins, int room) {
  std::vector<ExactSize> sizes;
  for (int b = 0; b < bins; ++b) {
    const int parts = draws.Between(3, 5);
    int left = room;
    for (int p = 1; p < parts; ++p) {
      const int cut = draws.Between(room / 10, left - (parts - p) * room / 10);
      sizes.push_back(Weight(cut));
      left -= cut;
    }
    sizes.push_back(Weight(left));
  }
  // Shuffled, so that the pieces of one vehicle are not neighbours.
  for (std::size_t i = sizes.size(); i > 1; --i) std::swap(sizes[i - 1], sizes[draws.Below(i)]);
  return sizes;
}

TEST(CoverByColumns, FillsEveryVehicleExactlyWhereTheCutsAllowIt) {
  testing::Draws draws(17);
  for (int round = 0; round < 4; ++round) {
    const int bins = 6 + 3 * round, room = 1000 + 37 * round;
    const std::vector<ExactSize> sizes = ExactCuts(draws, bins, room);
    const std::string name = "round " + std::to_string(round);
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    ASSERT_EQ(CoverByColumns(sizes, Weight(room), bins, {}, kAmple, steps, vehicle),
              ColumnOutcome::kFound)
        << name;
    ExpectPacking(sizes, Weight(room), bins, vehicle, name);
    EXPECT_LE(steps, kAmple + kAmple / 10) << name;
    // The same arguments, the same packing.
    std::vector<std::uint32_t> again;
    std::uint64_t steps_again = 0;
    CoverByColumns(sizes, Weight(room), bins, {}, kAmple, steps_again, again);
    EXPECT_EQ(vehicle, again) << name;
    EXPECT_EQ(steps, steps_again) << name;
  }
}

// Every vehicle filled exactly by one piece above half its room and two or
// three smaller ones, as the hardest one-dimensional days are: the smaller
// pieces fit many ways, and loads that differ by a piece exchanged for a
// smaller one of the same sum are many. The relaxation has to reach its
// optimum over them before it rounds; with a piece let stand for a smaller
// one it does so within the steps given here, which a plain simplex does
// not, and it never claims a packing the sizes refuse or one vehicle
// fewer.
TEST(CoverByColumns, FillsVehiclesOfOneLargePieceEachExactly) {
  testing::Draws draws(41);
  const int bins = 40, room = 4'001;
  std::vector<ExactSize> sizes;
  for (int b = 0; b < bins; ++b) {
    const int large = draws.Between(room / 2 + 1, room * 9 / 10);
    sizes.push_back(Weight(large));
    int left = room - large;
    const int parts = draws.Between(2, 3);
    for (int p = 1; p < parts; ++p) {
      const int cut = draws.Between(left / 5, left - (parts - p) * (left / 5));
      sizes.push_back(Weight(cut));
      left -= cut;
    }
    sizes.push_back(Weight(left));
  }
  constexpr std::uint64_t kFewSteps = 600'000'000;
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  ASSERT_EQ(CoverByColumns(sizes, Weight(room), bins, {}, kFewSteps, steps, vehicle),
            ColumnOutcome::kFound);
  ExpectPacking(sizes, Weight(room), bins, vehicle, "one large piece each");
  // Every piece once: the loads add up to the pieces' total.
  std::vector<std::int64_t> load(bins, 0);
  for (std::size_t i = 0; i < sizes.size(); ++i) load[vehicle[i]] += sizes[i].weight;
  for (int v = 0; v < bins; ++v) EXPECT_EQ(load[v], Weight(room).weight) << "vehicle " << v;
  std::vector<std::uint32_t> again;
  std::uint64_t steps_again = 0;
  CoverByColumns(sizes, Weight(room), bins, {}, kFewSteps, steps_again, again);
  EXPECT_EQ(vehicle, again);
  EXPECT_EQ(steps, steps_again);
  EXPECT_EQ(CoverByColumns(sizes, Weight(room), bins - 1, {}, kFewSteps, steps, vehicle),
            ColumnOutcome::kImpossible);
  // A gram more on one piece: the vehicles are one gram short, and no
  // packing may be claimed.
  std::vector<ExactSize> over = sizes;
  over[0].weight += 1'000;
  EXPECT_NE(CoverByColumns(over, Weight(room), bins, {}, kFewSteps, steps, vehicle),
            ColumnOutcome::kFound);
}

// Many vehicles and kinds: the rounding fixes loads over many rounds, each
// relaxation started from the loads of the one before, some of which no
// longer fit what is left; the packing is checked, and one vehicle fewer
// is refused.
TEST(CoverByColumns, RoundsOverManyRoundsFromTheLastBasis) {
  testing::Draws draws(29);
  for (int round = 0; round < 2; ++round) {
    const int bins = 18 + 4 * round, room = 1'009;
    const std::vector<ExactSize> sizes = ExactCuts(draws, bins, room);
    const std::string name = "round " + std::to_string(round);
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    const ColumnOutcome out =
        CoverByColumns(sizes, Weight(room), bins, {}, kAmple, steps, vehicle);
    ASSERT_EQ(out, ColumnOutcome::kFound) << name;
    ExpectPacking(sizes, Weight(room), bins, vehicle, name);
    // One vehicle fewer than the cuts: their sum alone proves it.
    EXPECT_EQ(CoverByColumns(sizes, Weight(room), bins - 1, {}, kAmple, steps, vehicle),
              ColumnOutcome::kImpossible)
        << name;
    std::vector<std::uint32_t> again;
    std::uint64_t steps_again = 0;
    CoverByColumns(sizes, Weight(room), bins, {}, kAmple, steps_again, again);
    EXPECT_EQ(vehicle, again) << name;
  }
}

TEST(CoverByColumns, ProvesATargetOutOfReachThatTheSumAllows) {
  // Five pieces of 51 on 100: their sum fits three vehicles, but no two
  // share one; and 3 x 40 with 2 x 70 fits five vehicles of 100 by its sum
  // of 260 in three, while each 70 takes a vehicle and the 40s need two.
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  EXPECT_EQ(CoverByColumns(std::vector<ExactSize>(5, Weight(51)), Weight(100), 3, {}, kAmple, steps,
                           vehicle),
            ColumnOutcome::kImpossible);
  const std::vector<ExactSize> mixed{Weight(40), Weight(40), Weight(40), Weight(70), Weight(70)};
  EXPECT_EQ(CoverByColumns(mixed, Weight(100), 3, {}, kAmple, steps, vehicle),
            ColumnOutcome::kImpossible);
  ASSERT_EQ(CoverByColumns(mixed, Weight(100), 4, {}, kAmple, steps, vehicle),
            ColumnOutcome::kFound);
  ExpectPacking(mixed, Weight(100), 4, vehicle, "mixed on 4");
  // A piece larger than the room, and no steps: nothing is claimed.
  EXPECT_EQ(CoverByColumns({Weight(120)}, Weight(100), 5, {}, kAmple, steps, vehicle),
            ColumnOutcome::kUnknown);
  EXPECT_EQ(CoverByColumns(mixed, Weight(100), 4, {}, 0, steps, vehicle), ColumnOutcome::kUnknown);
  // A day of too many kinds of orders for a dense simplex is declined at
  // once, without memory taken for it.
  std::vector<ExactSize> many;
  for (int i = 0; i < 1'100; ++i) many.push_back({1'000'000 + i, 0});
  EXPECT_EQ(CoverByColumns(many, Weight(1'000), 2, {}, kAmple, steps, vehicle),
            ColumnOutcome::kUnknown);
  EXPECT_EQ(steps, 0u);
}

// The search gives up its own last steps where this holds, so it must hold
// only where the relaxation finds every load itself.
TEST(ColumnsPriceEveryLoad, OnlyWhereTheTableOfSumsHoldsEveryLoad) {
  const std::vector<ExactSize> by_weight{Weight(40), Weight(60), Weight(25)};
  EXPECT_TRUE(ColumnsPriceEveryLoad(by_weight, Weight(100)));
  const std::vector<ExactSize> by_volume{{0, 40}, {0, 60}};
  EXPECT_TRUE(ColumnsPriceEveryLoad(by_volume, ExactSize{0, 100}));
  // Both dimensions: the relaxation prices them on a small room, but the
  // search is still what fills most vehicles there.
  EXPECT_FALSE(ColumnsPriceEveryLoad({{40, 30}, {60, 70}}, ExactSize{100, 100}));
  // A size that shares no unit with the room: the table would count a
  // billion units, and none is built.
  EXPECT_FALSE(ColumnsPriceEveryLoad({Weight(40), {60'000'001, 0}}, Weight(1'000)));
  // More kinds than the relaxation takes, and no pieces at all.
  std::vector<ExactSize> many;
  for (int i = 0; i < 1'100; ++i) many.push_back(Weight(1 + i % 1'100));
  EXPECT_FALSE(ColumnsPriceEveryLoad(many, Weight(2'000)));
  EXPECT_FALSE(ColumnsPriceEveryLoad({}, Weight(100)));
}

TEST(CoverByColumns, RoundsOverTheKnownLoadsInTwoDimensions) {
  // Two dimensions on a room of millions of units each way: no table of
  // sums, only the loads given. Four vehicles of (10, 10) and a millionth;
  // the pieces fill them in pairs that cross: a large weight goes with a
  // small volume.
  const ExactSize room{10'000'001, 10'000'001};
  const std::vector<ExactSize> sizes{{7'000'000, 3'000'000}, {3'000'000, 7'000'000},
                                     {6'000'000, 4'000'000}, {4'000'000, 6'000'000},
                                     {7'000'000, 3'000'000}, {3'000'000, 7'000'000},
                                     {6'000'000, 4'000'000}, {4'000'000, 6'000'000}};
  // Kinds in order of first appearance: 0 (7,3), 1 (3,7), 2 (6,4), 3 (4,6).
  const std::vector<KindLoad> pairs{{{0, 1}, {1, 1}}, {{2, 1}, {3, 1}}, {{0, 1}, {3, 1}}};
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  ASSERT_EQ(CoverByColumns(sizes, room, 4, pairs, kAmple, steps, vehicle), ColumnOutcome::kFound);
  ExpectPacking(sizes, room, 4, vehicle, "pairs");
  // Without a load that holds (6,4), no cover; and no proof either.
  EXPECT_EQ(
      CoverByColumns(sizes, room, 4, {{{0, 1}, {1, 1}}, {{0, 1}, {3, 1}}}, kAmple, steps, vehicle),
      ColumnOutcome::kUnknown);
  // A load over the room or holding more pieces than there are is ignored.
  EXPECT_EQ(CoverByColumns(sizes, room, 4, {{{0, 2}}, {{1, 3}}, {{9, 1}}}, kAmple, steps, vehicle),
            ColumnOutcome::kUnknown);
}

// A day of `bins` vehicles of `room`, each cut exactly into three pieces
// (one over half the room), drawn from `seed`: some three hundred kinds,
// past those the simplex keeps an explicit inverse for.
struct CutDay {
  std::vector<ExactSize> sizes;
  std::vector<std::uint32_t> kind;  // each piece's, in the order kinds first appear
  std::size_t kinds = 0;
};

CutDay DrawCutDay(std::uint64_t seed, int bins, int room) {
  testing::Draws draws(seed);
  CutDay day;
  for (int b = 0; b < bins; ++b) {
    const int large = draws.Between(room / 2 + 1, room * 4 / 5);
    const int left = room - large;
    const int cut = draws.Between(left / 4, left - left / 4);
    day.sizes.push_back(Weight(large));
    day.sizes.push_back(Weight(cut));
    day.sizes.push_back(Weight(left - cut));
  }
  std::vector<std::int64_t> kind_size;
  for (const ExactSize& size : day.sizes) {
    auto at = std::find(kind_size.begin(), kind_size.end(), size.weight);
    if (at == kind_size.end()) at = kind_size.insert(kind_size.end(), size.weight);
    day.kind.push_back(static_cast<std::uint32_t>(at - kind_size.begin()));
  }
  day.kinds = kind_size.size();
  return day;
}

// The load of vehicle `b`'s three cuts.
KindLoad CutLoad(const CutDay& day, int b) {
  KindLoad load;
  for (int i = 3 * b; i < 3 * b + 3; ++i) {
    auto same = std::find_if(load.begin(), load.end(),
                             [&](const auto& e) { return e.first == day.kind[i]; });
    if (same == load.end()) {
      load.push_back({day.kind[i], 1});
    } else {
      ++same->second;
    }
  }
  return load;
}

// Covers the day with `known` loads: a packing that holds every piece once
// and fills every vehicle exactly, the same one in as many steps on a
// second run.
void ExpectExactCoverTwice(const CutDay& day, int bins, int room,
                           const std::vector<KindLoad>& known, const char* what) {
  constexpr std::uint64_t kSteps = 1'000'000'000;
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  EXPECT_EQ(CoverByColumns(day.sizes, Weight(room), bins, known, kSteps, steps, vehicle),
            ColumnOutcome::kFound)
      << what;
  ExpectPacking(day.sizes, Weight(room), bins, vehicle, what);
  if (::testing::Test::HasFatalFailure()) return;
  std::vector<std::int64_t> load(bins, 0);
  for (std::size_t i = 0; i < day.sizes.size(); ++i) load[vehicle[i]] += day.sizes[i].weight;
  for (int v = 0; v < bins; ++v) EXPECT_EQ(load[v], Weight(room).weight) << what << " vehicle " << v;
  std::vector<std::uint32_t> again;
  std::uint64_t steps_again = 0;
  EXPECT_EQ(CoverByColumns(day.sizes, Weight(room), bins, known, kSteps, steps_again, again),
            ColumnOutcome::kFound)
      << what;
  EXPECT_EQ(vehicle, again) << what;
  EXPECT_EQ(steps, steps_again) << what;
}

// Every cut's load known: the relaxation over its sparse factors rounds to
// an exact packing; one piece a gram larger, no packing is claimed.
TEST(CoverByColumns, RoundsManyKindsOverSparseFactors) {
  const int bins = 100, room = 100'000;
  const CutDay day = DrawCutDay(23, bins, room);
  ASSERT_GT(day.kinds, 256u);
  std::vector<KindLoad> cuts;
  for (int b = 0; b < bins; ++b) cuts.push_back(CutLoad(day, b));
  ExpectExactCoverTwice(day, bins, room, cuts, "many kinds");
  CutDay over = day;
  over.sizes[1].weight += 1'000;
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  EXPECT_NE(CoverByColumns(over.sizes, Weight(room), bins, cuts, 1'000'000'000, steps, vehicle),
            ColumnOutcome::kFound);
}

// The loads of two vehicles in three known: the relaxation finds the rest
// itself, every relaxation of the rounding over the sparse factors with
// its entering loads chosen by reference weights, among many degenerate
// pivots (every vehicle filled exactly). One vehicle fewer is refused.
TEST(CoverByColumns, FindsTheLoadsOfManyKindsItself) {
  const int bins = 100, room = 10'000;
  const CutDay day = DrawCutDay(31, bins, room);
  ASSERT_GT(day.kinds, 256u);
  std::vector<KindLoad> known;
  for (int b = 0; b < bins; ++b) {
    if (b % 3 != 0) known.push_back(CutLoad(day, b));
  }
  ExpectExactCoverTwice(day, bins, room, known, "two in three known");
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  EXPECT_EQ(
      CoverByColumns(day.sizes, Weight(room), bins - 1, known, 1'000'000'000, steps, vehicle),
      ColumnOutcome::kImpossible);
}

TEST(CoverByColumns, PricesBothDimensionsWhereTheRoomCountsFewUnits) {
  // Vehicles of (10, 10) in whole units: the loads are found by a table over
  // both sums, so no load need be known.
  const ExactSize room{10'000'000, 10'000'000};
  const std::vector<ExactSize> crossing{{7'000'000, 3'000'000}, {3'000'000, 7'000'000},
                                        {6'000'000, 4'000'000}, {4'000'000, 6'000'000},
                                        {7'000'000, 3'000'000}, {3'000'000, 7'000'000},
                                        {6'000'000, 4'000'000}, {4'000'000, 6'000'000}};
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  ASSERT_EQ(CoverByColumns(crossing, room, 4, {}, kAmple, steps, vehicle), ColumnOutcome::kFound);
  ExpectPacking(crossing, room, 4, vehicle, "crossing");
  std::vector<std::uint32_t> again;
  ASSERT_EQ(CoverByColumns(crossing, room, 4, {}, kAmple, steps, again), ColumnOutcome::kFound);
  EXPECT_EQ(vehicle, again);
  // Two pieces (6, 1), two (1, 6) and one (4, 4): each dimension alone
  // packs onto two vehicles ({6, 4} and {6, 1, 1}), and so do the sums;
  // together no vehicle takes two pieces of 6 in one dimension, and a
  // vehicle with a (6, 1) and a (1, 6) has no room for the (4, 4).
  const std::vector<ExactSize> tight{{6'000'000, 1'000'000}, {6'000'000, 1'000'000},
                                     {1'000'000, 6'000'000}, {1'000'000, 6'000'000},
                                     {4'000'000, 4'000'000}};
  EXPECT_EQ(CoverByColumns(tight, room, 2, {}, kAmple, steps, vehicle), ColumnOutcome::kImpossible);
  ASSERT_EQ(CoverByColumns(tight, room, 3, {}, kAmple, steps, vehicle), ColumnOutcome::kFound);
  ExpectPacking(tight, room, 3, vehicle, "tight on 3");
  // Four pieces (7, 7), no two of which share a vehicle, need four though
  // the sums fit three.
  const std::vector<ExactSize> square{{7'000'000, 7'000'000}, {7'000'000, 7'000'000},
                                      {7'000'000, 7'000'000}, {7'000'000, 7'000'000},
                                      {1'000'000, 2'000'000}};
  EXPECT_EQ(CoverByColumns(square, room, 3, {}, kAmple, steps, vehicle),
            ColumnOutcome::kImpossible);
  ASSERT_EQ(CoverByColumns(square, room, 4, {}, kAmple, steps, vehicle), ColumnOutcome::kFound);
  ExpectPacking(square, room, 4, vehicle, "square on 4");
}

TEST(ColumnsPriceLoads, WhereTheRoomCountsFewUnits) {
  // Whole units of (10, 10) each way: a table over both sums.
  const ExactSize whole{10'000'000, 10'000'000};
  const std::vector<ExactSize> crossing{{7'000'000, 3'000'000}, {3'000'000, 7'000'000},
                                        {6'000'000, 4'000'000}, {4'000'000, 6'000'000}};
  EXPECT_TRUE(ColumnsPriceLoads(crossing, whole));
  // A millionth more each way: millions of units, only the loads given.
  EXPECT_FALSE(ColumnsPriceLoads(crossing, {10'000'001, 10'000'001}));
  // One dimension: a table of sums while the room counts few units.
  const std::vector<ExactSize> weights{Weight(7), Weight(3), Weight(6)};
  EXPECT_TRUE(ColumnsPriceLoads(weights, Weight(10)));
  EXPECT_FALSE(ColumnsPriceLoads({{7, 0}, {3, 0}}, {10'000'001, 0}));
  EXPECT_FALSE(ColumnsPriceLoads({}, whole));
}

// Through the packing: equal vehicles cut exactly, where first-fit
// decreasing needs more; the whole search, end game included, reaches the
// cut on every seed and gives the same packing twice.
TEST(CoverByColumns, ThePackingReachesTheCutsFirstFitMisses) {
  testing::Draws draws(5);
  int missed_by_first_fit = 0;
  for (int round = 0; round < 4; ++round) {
    const int bins = 12 + 4 * round, room = 997;
    const std::vector<ExactSize> sizes = ExactCuts(draws, bins, room);
    std::vector<PackItem> items;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      items.push_back(
          {static_cast<double>(sizes[i].weight) / 1e6, 0, 1, std::to_string(i), "1", "2025-06-10"});
    }
    const std::vector<PackVehicle> fleet(items.size(), PackVehicle{static_cast<double>(room), 1});
    auto used = [&](const PackResult& r) {
      std::vector<PackPiece> pieces;
      std::vector<std::size_t> assignment(items.size(), fleet.size());
      for (const PackItem& item : items) pieces.push_back({item.unit_weight, 0});
      for (const PackAllocation& a : r.allocations) {
        EXPECT_EQ(a.quantity, 1);
        assignment[a.item] = a.vehicle;
      }
      return testing::CheckedVehicles(pieces, fleet, assignment);
    };
    PackOptions first_fit;
    first_fit.search = PackSearch::kNone;
    missed_by_first_fit +=
        used(PackItems(items, fleet, first_fit)) > static_cast<std::size_t>(bins);
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      PackOptions options;
      options.effort = 2'000'000;
      options.seed = seed;
      const PackResult r = PackItems(items, fleet, options);
      EXPECT_EQ(used(r), static_cast<std::size_t>(bins)) << "round " << round << " seed " << seed;
      EXPECT_EQ(PackItems(items, fleet, options).allocations, r.allocations);
    }
  }
  EXPECT_GT(missed_by_first_fit, 0);
}

}  // namespace
}  // namespace dg::planning
