#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "planning/packing.h"
#include "planning/packing_fill_scan.h"
#include "planning/packing_split.h"

namespace dg::planning {
namespace {

// The best load found by trying every assignment: the largest share, and on
// one vehicle the fewest pieces for it.
struct Best {
  double share = 0;
  std::size_t count = 0;
};

Best BruteForce(const std::vector<SubsetPiece>& pieces, const std::vector<ExactSize>& rooms) {
  const std::size_t sides = rooms.size() + 1, n = pieces.size();
  std::size_t all = 1;
  for (std::size_t i = 0; i < n; ++i) all *= sides;
  Best best;
  for (std::size_t code = 0; code < all; ++code) {
    std::vector<ExactSize> load(rooms.size());
    double share = 0;
    std::size_t count = 0;
    bool fits = true;
    for (std::size_t i = 0, c = code; i < n && fits; ++i, c /= sides) {
      const std::size_t side = c % sides;
      if (side == rooms.size()) continue;
      load[side] += pieces[i].size;
      fits = load[side].Within(rooms[side]);
      share += pieces[i].share, ++count;
    }
    if (!fits || count == 0) continue;
    if (share > best.share + 1e-9 || (share >= best.share - 1e-9 && count < best.count))
      best = {share, count};
  }
  return best;
}

// Checks an answer of the subset searches: every loaded vehicle within its
// room; answers the share loaded and the pieces loaded.
Best Loaded(const std::vector<SubsetPiece>& pieces, const std::vector<ExactSize>& rooms,
            const std::vector<int>& side) {
  EXPECT_EQ(pieces.size(), side.size());
  std::vector<ExactSize> load(rooms.size());
  Best got;
  for (std::size_t i = 0; i < side.size(); ++i) {
    if (side[i] == 2) continue;
    EXPECT_LT(static_cast<std::size_t>(side[i]), rooms.size());
    load[static_cast<std::size_t>(side[i])] += pieces[i].size;
    got.share += pieces[i].share, ++got.count;
  }
  for (std::size_t r = 0; r < rooms.size(); ++r) EXPECT_TRUE(load[r].Within(rooms[r]));
  return got;
}

TEST(ExactSearches, SubsetSearchesFindWhatEveryAssignmentFinds) {
  // Small random cases with many pieces of one size (which the searches visit
  // once only per vehicle), one or two dimensions, equal and unequal
  // vehicles: both searches reach the best load of all assignments, and
  // answer nothing when asked to beat it.
  std::mt19937 random(7);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 400; ++round) {
    const bool volume = round % 2 == 1;
    std::vector<ExactSize> palette;
    for (int k = 0, kinds = 1 + below(4); k < kinds; ++k)
      palette.push_back({10 + below(50), volume ? below(50) : 0});
    std::vector<SubsetPiece> pieces;
    for (int i = 0, n = 1 + below(8); i < n; ++i) {
      const std::size_t k = static_cast<std::size_t>(below(static_cast<int>(palette.size())));
      const ExactSize s = palette[k];
      pieces.push_back({s, s.weight / 100.0 + s.volume / 80.0, static_cast<std::uint32_t>(k)});
    }
    std::sort(pieces.begin(), pieces.end(), [](const SubsetPiece& a, const SubsetPiece& b) {
      return a.share != b.share ? a.share > b.share : a.kind < b.kind;
    });
    const ExactSize first{40 + below(80), volume ? 30 + below(60) : 0};
    const ExactSize second = round % 3 == 0 ? ExactSize{30 + below(80), first.volume} : first;
    std::uint64_t nodes = 0;
    std::vector<int> side;

    const Best one = BruteForce(pieces, {first});
    if (one.count == 0) {
      EXPECT_FALSE(FillOne(pieces, first, 0, pieces.size() + 1, 1'000'000, nodes, side));
    } else {
      ASSERT_TRUE(FillOne(pieces, first, 0, pieces.size() + 1, 1'000'000, nodes, side)) << round;
      const Best got = Loaded(pieces, {first}, side);
      EXPECT_NEAR(one.share, got.share, 1e-9) << round;
      EXPECT_EQ(one.count, got.count) << round;
      EXPECT_FALSE(FillOne(pieces, first, one.share, one.count, 1'000'000, nodes, side)) << round;
    }

    const Best two = BruteForce(pieces, {first, second});
    if (two.count == 0) continue;
    ASSERT_TRUE(FillTwo(pieces, first, second, 0, 1'000'000, nodes, side)) << round;
    EXPECT_NEAR(two.share, Loaded(pieces, {first, second}, side).share, 1e-9) << round;
    EXPECT_FALSE(FillTwo(pieces, first, second, two.share, 1'000'000, nodes, side)) << round;
  }
}

TEST(ExactSearches, FruitlessRepackKeysTellSituationsApart) {
  // Keys of multisets: a, b, c stand for sums of per-size keys.
  const std::uint64_t a = 0x1234567, b = 0x89abcdef, c = a + b;
  using fill::FruitlessRepacks;
  // What is loaded and what is left out play different parts: trading them
  // is another repack, and so is another room or the rooms in another order.
  EXPECT_NE(FruitlessRepacks::Key(a, b, 1), FruitlessRepacks::Key(b, a, 1));
  EXPECT_NE(FruitlessRepacks::Key(a, b, 1), FruitlessRepacks::Key(a, b, 2));
  EXPECT_NE(FruitlessRepacks::Key(c, 0, 1), FruitlessRepacks::Key(a, b, 1));
  FruitlessRepacks seen;
  EXPECT_FALSE(seen.Seen(FruitlessRepacks::Key(a, b, 1)));
  seen.Remember(FruitlessRepacks::Key(a, b, 1));
  EXPECT_TRUE(seen.Seen(FruitlessRepacks::Key(a, b, 1)));
  EXPECT_FALSE(seen.Seen(FruitlessRepacks::Key(b, a, 1)));
}

TEST(ReduceVehicles, ExactFillsFromFewSizesReachTheirOptimum) {
  // Vehicles of 100 by 60 each filled exactly by three pieces drawn from a
  // few sizes (many pieces alike, so the searches pass over many equal
  // loads and repeat repacks), started one piece per vehicle: the answer
  // keeps every piece once, within the rooms, on the optimum, and is the
  // same on a second run.
  std::mt19937 random(11);
  for (int round = 0; round < 12; ++round) {
    const int filled = 3 + round % 5;
    std::vector<PackPiece> pieces;
    for (int v = 0; v < filled; ++v) {
      const int w1 = 20 + static_cast<int>(random() % 3) * 5,
                w2 = 25 + static_cast<int>(random() % 2) * 5;
      const int v1 = 15 + static_cast<int>(random() % 2) * 10, v2 = 20;
      pieces.push_back({static_cast<double>(w1), static_cast<double>(v1)});
      pieces.push_back({static_cast<double>(w2), static_cast<double>(v2)});
      pieces.push_back({static_cast<double>(100 - w1 - w2), static_cast<double>(60 - v1 - v2)});
    }
    std::shuffle(pieces.begin(), pieces.end(), random);
    const std::vector<PackVehicle> vehicles(pieces.size(), PackVehicle{100, 60});
    std::vector<std::size_t> start(pieces.size());
    for (std::size_t i = 0; i < start.size(); ++i) start[i] = i;
    const SearchBudget budget{2'000'000, static_cast<std::uint64_t>(round)};
    const auto reduced = ReduceVehicles(pieces, vehicles, start, budget);
    ASSERT_EQ(pieces.size(), reduced.size());
    std::vector<PackPiece> load(vehicles.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      ASSERT_LT(reduced[i], vehicles.size());
      load[reduced[i]].weight += pieces[i].weight;
      load[reduced[i]].volume += pieces[i].volume;
    }
    std::size_t used = 0;
    for (const PackPiece& l : load) {
      EXPECT_TRUE(FitsWithin(l.weight, 100) && FitsWithin(l.volume, 60)) << round;
      used += l.weight > 0;
    }
    EXPECT_EQ(static_cast<std::size_t>(filled), used) << round;
    EXPECT_EQ(reduced, ReduceVehicles(pieces, vehicles, start, budget)) << round;
  }
}

TEST(ExactSearches, SplitAndFillAsByHand) {
  auto sizes = [](std::vector<std::pair<int, int>> list) {
    std::vector<ExactSize> out;
    for (const auto& [w, v] : list) out.push_back({w, v});
    return out;
  };
  struct Split {
    const char* name;
    std::vector<ExactSize> pieces;
    ExactSize first, second;
    bool fits;
  };
  const std::vector<Split> splits = {
      {"two exact fills",
       sizes({{50, 0}, {30, 0}, {20, 0}, {60, 0}, {40, 0}}),
       {100, 0},
       {100, 0},
       true},
      {"the sum fits, no split does",
       sizes({{60, 0}, {60, 0}, {60, 0}}),
       {100, 0},
       {100, 0},
       false},
      {"volume decides", sizes({{10, 60}, {10, 60}, {10, 30}}), {100, 90}, {100, 60}, true},
      {"volume refuses", sizes({{10, 60}, {10, 60}, {10, 30}}), {100, 80}, {100, 60}, false},
      {"unlike vehicles", sizes({{70, 0}, {30, 0}, {25, 0}}), {55, 0}, {70, 0}, true},
  };
  for (const Split& c : splits) {
    std::uint64_t nodes = 0;
    std::vector<int> side;
    ASSERT_EQ(c.fits, SplitInTwo(c.pieces, c.first, c.second, 10'000, nodes, side)) << c.name;
    if (!c.fits) continue;
    ExactSize load[2];
    for (std::size_t i = 0; i < c.pieces.size(); ++i) load[side[i]] += c.pieces[i];
    EXPECT_TRUE(load[0].Within(c.first) && load[1].Within(c.second)) << c.name;
  }
  // From 45, 40, 35, 20 and 15: one vehicle of 100 is filled by 45 + 40 +
  // 15; two of 60 and 50 take at most 110 (40 + 20 and 35 + 15).
  std::vector<SubsetPiece> offered;
  for (int w : {45, 40, 35, 20, 15})
    offered.push_back({{w, 0}, w / 100.0, static_cast<std::uint32_t>(w)});
  std::uint64_t nodes = 0;
  std::vector<int> side;
  ASSERT_TRUE(FillOne(offered, {100, 0}, 0.9, 2, 10'000, nodes, side));
  EXPECT_EQ((std::vector<int>{0, 0, 2, 2, 0}), side);
  EXPECT_FALSE(FillOne(offered, {100, 0}, 1.0, 2, 10'000, nodes, side))
      << "nothing beats a full vehicle";
  ASSERT_TRUE(FillTwo(offered, {60, 0}, {50, 0}, 1.0, 10'000, nodes, side));
  double loaded = 0;
  ExactSize load[2];
  for (std::size_t i = 0; i < offered.size(); ++i) {
    if (side[i] == 2) continue;
    load[side[i]] += offered[i].size;
    loaded += offered[i].share;
  }
  EXPECT_NEAR(1.1, loaded, 1e-9);
  EXPECT_TRUE(load[0].Within({60, 0}) && load[1].Within({50, 0}));
}

TEST(ExactSearches, DimensionWeightsFavourTheScarceRoom) {
  const std::vector<ExactSize> rooms(3, ExactSize{100, 100});
  // 199 of 200 kilograms over two vehicles, half the volume: one unit of
  // weight must count for far more than one of volume.
  const auto [tight_w, ample_v] = DimensionWeights({{100, 50}, {99, 50}}, rooms, 2);
  EXPECT_GT(tight_w, 50 * ample_v);
  EXPECT_NEAR(2.0, tight_w + ample_v, 1e-9);
  const auto [ample_w, tight_v] = DimensionWeights({{50, 100}, {50, 99}}, rooms, 2);
  EXPECT_NEAR(tight_w, tight_v, 1e-9) << "the dimensions are treated alike";
  EXPECT_NEAR(ample_v, ample_w, 1e-9);
  // Alike fills weigh alike; a dimension without pieces or rooms leaves the
  // plain sum of shares.
  EXPECT_EQ((std::pair<double, double>{1, 1}), DimensionWeights({{60, 60}}, rooms, 1));
  EXPECT_EQ((std::pair<double, double>{1, 1}), DimensionWeights({{60, 0}, {30, 0}}, rooms, 1));
  EXPECT_EQ((std::pair<double, double>{1, 1}),
            DimensionWeights({{60, 10}}, std::vector<ExactSize>(2, ExactSize{100, 0}), 1));
  EXPECT_EQ((std::pair<double, double>{1, 1}), DimensionWeights({{60, 10}}, {}, 1));
  // On a mixed fleet the fill is measured on the largest rooms: 150 kilograms
  // fill the largest vehicle of 150 to the kilogram, not the 100 beside it.
  const auto [mixed_w, mixed_v] = DimensionWeights({{150, 10}}, {{100, 100}, {150, 100}}, 1);
  EXPECT_GT(mixed_w, 50 * mixed_v);
}

TEST(ExactSearches, TightDimensionIsTheOneLeftWithoutSpareRoom) {
  const std::vector<ExactSize> rooms(4, ExactSize{100, 100});
  // Two vehicles' worth: 200 of weight with 190 of volume, and so on.
  auto sizes = [](std::int64_t weight, std::int64_t volume) {
    return std::vector<ExactSize>{{weight / 2, volume / 2},
                                  {weight - weight / 2, volume - volume / 2}};
  };
  EXPECT_EQ(0, TightDimension(sizes(200, 150), rooms, 2, 0.3)) << "weight full";
  EXPECT_EQ(1, TightDimension(sizes(150, 195), rooms, 2, 0.3)) << "volume within 5";
  EXPECT_EQ(-1, TightDimension(sizes(199, 200), rooms, 2, 0.3)) << "both: neither counts";
  EXPECT_EQ(-1, TightDimension(sizes(160, 160), rooms, 2, 0.3)) << "40 to spare in each";
  EXPECT_EQ(0, TightDimension(sizes(195, 0), rooms, 2, 0.3)) << "one dimension only";
  // The spare room is counted on the lower bound's vehicles, the largest.
  const std::vector<ExactSize> mixed = {{50, 100}, {100, 100}, {100, 100}};
  EXPECT_EQ(0, TightDimension(sizes(190, 100), mixed, 2, 0.3));
}

TEST(ExactSearches, GatherFillsAVehicleExactlyTowardsTheMostSpareRoom) {
  // Vehicle 0 spares 10 of weight, 1 spares 25 and 2 spares 15; the pieces
  // of 40 on 1 and 2 are larger by exactly 10 than the 30 on 0.
  struct Case {
    const char* name;
    std::int64_t volume_of_60;     // on vehicle 0
    std::int64_t volume_of_40[2];  // on vehicles 1 and 2
    std::uint32_t gains;           // the vehicle that gets the 30, or 0 for none
  };
  const Case cases[] = {
      {"to the vehicle sparing the most", 10, {10, 10}, 1},
      {"the other dimension forbids the first choice", 85, {20, 10}, 2},
      {"nowhere with room in the other dimension", 85, {20, 20}, 0},
  };
  for (const Case& c : cases) {
    const std::vector<ExactSize> size = {{30, 10}, {60, c.volume_of_60},    {40, c.volume_of_40[0]},
                                         {35, 10}, {40, c.volume_of_40[1]}, {45, 10}};
    const std::vector<ExactSize> room(3, ExactSize{100, 100});
    std::vector<std::uint32_t> where = {0, 0, 1, 1, 2, 2};
    std::vector<std::vector<std::uint32_t>> inside = {{0, 1}, {2, 3}, {4, 5}};
    std::vector<ExactSize> load(3);
    for (std::uint32_t p = 0; p < size.size(); ++p) load[where[p]] += size[p];
    std::uint64_t steps = 0;
    const GatherView packing{size, room, load, inside, where};
    EXPECT_EQ(c.gains != 0, GatherExactly(packing, {0, 1, 2}, 0, steps)) << c.name;
    EXPECT_GT(steps, 0u) << c.name;
    // Every piece once, loads as the pieces add up, rooms respected.
    std::vector<ExactSize> sum(3);
    for (std::uint32_t v = 0; v < 3; ++v) {
      for (std::uint32_t p : inside[v]) {
        EXPECT_EQ(v, where[p]) << c.name;
        sum[v] += size[p];
      }
      EXPECT_EQ(sum[v], load[v]) << c.name;
      EXPECT_TRUE(load[v].Within(room[v])) << c.name << " vehicle " << v;
    }
    EXPECT_EQ(c.gains == 0 ? 0u : c.gains, where[0]) << c.name;
    EXPECT_EQ(c.gains != 0 ? 100 : 90, load[0].weight) << c.name << ": filled exactly";
    EXPECT_FALSE(GatherExactly(packing, {0, 1, 2}, 0, steps)) << c.name << ": nothing more";
  }
  // Without a tight dimension nothing moves.
  std::vector<ExactSize> size = {{30, 10}}, room = {{100, 100}}, load = {{30, 10}};
  std::vector<std::uint32_t> where = {0};
  std::vector<std::vector<std::uint32_t>> inside = {{0}};
  std::uint64_t steps = 0;
  EXPECT_FALSE(GatherExactly({size, room, load, inside, where}, {0}, -1, steps));
}

TEST(ExactSearches, SwapScanPassesOverExactlyTheEntriesOverTheLimit) {
  // Lists sorted by decreasing share, with runs of equal shares: the
  // galloping search answers what a scan from the front answers, for limits
  // below, between, on and above the shares, in a number of probes that
  // grows as the logarithm of the entries passed over.
  for (int n = 0; n <= 40; ++n) {
    std::vector<double> list;
    for (int i = 0; i < n; ++i) list.push_back((n - i) / 3);
    for (int twice = -2; twice <= 2 * (n / 3) + 2; ++twice) {
      const double limit = twice / 2.0;
      std::size_t want = 0;
      while (want < list.size() && list[want] > limit) ++want;
      std::uint64_t steps = 0;
      const auto share = [](double x) { return x; };
      EXPECT_EQ(want, fill::FirstWithin(list, share, limit, steps)) << n << " " << limit;
      EXPECT_LE(steps, 2 * static_cast<std::uint64_t>(std::log2(want + 1)) + 2)
          << n << " " << limit;
    }
  }
}

}  // namespace
}  // namespace dg::planning
