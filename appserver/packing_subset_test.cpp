#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "appserver/packing.h"
#include "appserver/packing_fill_scan.h"
#include "appserver/packing_split.h"

namespace dg::server {
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

}  // namespace
}  // namespace dg::server
