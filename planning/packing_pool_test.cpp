#include "planning/packing_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "planning/packing_fill_scan.h"

namespace dg::planning {
namespace {

ExactSize Units(std::int64_t weight, std::int64_t volume) {
  return {weight * 1'000'000, volume * 1'000'000};
}

const ExactSize kRoom = Units(100, 100);
const PoolBudget kAmple{10'000'000, 10'000'000};

// A key per load as the search gives it: the same for the same sizes.
std::uint64_t KeyOf(const std::vector<ExactSize>& sizes, const std::vector<std::uint32_t>& load) {
  std::uint64_t key = 0;
  for (std::uint32_t p : load) {
    key += fill::Mix(static_cast<std::uint64_t>(sizes[p].weight) * 31 + sizes[p].volume);
  }
  return fill::Mix(key);
}

void Offer(LoadPool& pool, const std::vector<ExactSize>& sizes,
           const std::vector<std::vector<std::uint32_t>>& loads) {
  for (const auto& load : loads) pool.Offer(KeyOf(sizes, load), load);
}

// Checks a cover: every piece on one of `vehicles` vehicles, none over the
// room.
void ExpectPacking(const std::vector<ExactSize>& sizes, std::size_t vehicles,
                   const std::vector<std::uint32_t>& vehicle, const std::string& name) {
  ASSERT_EQ(sizes.size(), vehicle.size()) << name;
  std::vector<ExactSize> load(vehicles);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_LT(vehicle[i], vehicles) << name << " piece " << i;
    load[vehicle[i]] += sizes[i];
  }
  for (std::size_t v = 0; v < vehicles; ++v) {
    EXPECT_TRUE(load[v].Within(kRoom)) << name << " vehicle " << v;
  }
}

// Twelve vehicles each filled to a few units by a triplet of pieces, the
// triplets spread over two packings that each also hold loads of other
// pieces; neither packing alone is a cover on twelve vehicles, their loads
// together are.
struct Recombined {
  std::vector<ExactSize> sizes;
  std::vector<std::vector<std::uint32_t>> first, second, decoys;
};

Recombined TwelveTriplets() {
  Recombined r;
  for (std::uint32_t t = 0; t < 12; ++t) {
    const std::int64_t a = 20 + t, b = 30 + (t * 7) % 11, c = 100 - a - b - t % 3;
    const std::int64_t x = 45 - t, y = 25 + (t * 5) % 9, z = 100 - x - y - (t + 1) % 2;
    r.sizes.push_back(Units(a, x));
    r.sizes.push_back(Units(b, y));
    r.sizes.push_back(Units(c, z));
    const std::uint32_t p = 3 * t;
    (t % 2 == 0 ? r.first : r.second).push_back({p, p + 1, p + 2});
  }
  // Loads that trade the first pieces of neighbouring triplets: those that
  // fit and waste no more than the triplets spare are kept, and a cover
  // cannot use them all.
  for (std::uint32_t t = 0; t + 1 < 12; ++t) {
    const std::uint32_t p = 3 * t;
    r.decoys.push_back({p + 3, p + 1, p + 2});
    r.decoys.push_back({p, p + 4, p + 5});
  }
  return r;
}

TEST(LoadPool, RecombinesTheLoadsOfSeveralPackingsIntoOneOnTheBound) {
  const Recombined r = TwelveTriplets();
  for (int decoys_first = 0; decoys_first < 2; ++decoys_first) {
    const std::string name = decoys_first ? "decoys first" : "decoys last";
    LoadPool pool(r.sizes, kRoom, 12, 1000);
    if (decoys_first) Offer(pool, r.sizes, r.decoys);
    Offer(pool, r.sizes, r.first);
    Offer(pool, r.sizes, r.second);
    if (!decoys_first) Offer(pool, r.sizes, r.decoys);
    EXPECT_EQ(24u, pool.size()) << name;  // the twelve triplets and twelve decoys
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    ASSERT_TRUE(pool.Cover(kAmple, steps, vehicle)) << name;
    EXPECT_GT(steps, 0u) << name;
    ExpectPacking(r.sizes, 12, vehicle, name);
    // The same pool answers the same.
    std::vector<std::uint32_t> again;
    ASSERT_TRUE(pool.Cover(kAmple, steps, again)) << name;
    EXPECT_EQ(vehicle, again) << name;
  }
}

TEST(LoadPool, FindsNoCoverWhereTheLoadsHoldNone) {
  const Recombined r = TwelveTriplets();
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  {
    // One packing's loads: the other's pieces are in none.
    LoadPool pool(r.sizes, kRoom, 12, 1000);
    Offer(pool, r.sizes, r.first);
    EXPECT_EQ(6u, pool.size());
    EXPECT_FALSE(pool.Cover(kAmple, steps, vehicle));
  }
  {
    // Three equal pieces, two fit a vehicle: only pairs are offered, and
    // three pieces do not split into pairs, though each is in some load
    // and the relaxation (each pair half taken) fits two vehicles.
    const std::vector<ExactSize> sizes(3, Units(50, 50));
    LoadPool pool(sizes, kRoom, 2, 1000);
    pool.Offer(1, {0, 1});
    EXPECT_EQ(1u, pool.size());
    EXPECT_FALSE(pool.Cover(kAmple, steps, vehicle));
  }
  {
    // Fewer vehicles than the pieces need by their sum: nothing is kept.
    LoadPool pool(r.sizes, kRoom, 11, 1000);
    Offer(pool, r.sizes, r.first);
    Offer(pool, r.sizes, r.second);
    EXPECT_EQ(0u, pool.size());
    EXPECT_FALSE(pool.Cover(kAmple, steps, vehicle));
  }
  {
    // A search too short to finish answers false, not a partial cover.
    LoadPool pool(r.sizes, kRoom, 12, 1000);
    Offer(pool, r.sizes, r.decoys);
    Offer(pool, r.sizes, r.first);
    Offer(pool, r.sizes, r.second);
    EXPECT_FALSE(pool.Cover({10'000'000, 3}, steps, vehicle));
  }
}

TEST(LoadPool, TakesALoadAsOftenAsItsPiecesAllow) {
  // Six equal pieces, three to a vehicle: one load of three, kept once,
  // covers them on two vehicles, each piece once.
  const std::vector<ExactSize> sizes(6, Units(30, 25));
  LoadPool pool(sizes, kRoom, 2, 1000);
  pool.Offer(7, {0, 1, 2});
  pool.Offer(7, {3, 4, 5});  // the same sizes: the same key, not kept again
  EXPECT_EQ(1u, pool.size());
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  ASSERT_TRUE(pool.Cover(kAmple, steps, vehicle));
  ExpectPacking(sizes, 2, vehicle, "equal pieces");
  EXPECT_EQ(3, std::count(vehicle.begin(), vehicle.end(), 0u));
  EXPECT_EQ(3, std::count(vehicle.begin(), vehicle.end(), 1u));
}

TEST(LoadPool, KeepsOnlyLoadsThatFitAndWasteNoMoreThanThePiecesSpare) {
  // On two vehicles the pieces spare 40 units of each dimension.
  const std::vector<ExactSize> sizes{Units(60, 40), Units(40, 60), Units(30, 30), Units(30, 30)};
  LoadPool pool(sizes, kRoom, 2, 2);
  pool.Offer(1, {0, 2, 3});  // 120/100: over the room
  pool.Offer(2, {2});        // wastes 70/70
  pool.Offer(3, {});
  EXPECT_EQ(0u, pool.size());
  pool.Offer(4, {2, 3});  // wastes 40/40: just within
  pool.Offer(5, {0, 1});  // fills the room exactly
  pool.Offer(6, {1, 2});  // fits, but the pool is full
  EXPECT_EQ(2u, pool.size());
  std::uint64_t steps = 0;
  std::vector<std::uint32_t> vehicle;
  ASSERT_TRUE(pool.Cover(kAmple, steps, vehicle));
  ExpectPacking(sizes, 2, vehicle, "two pairs");
  EXPECT_EQ(vehicle[0], vehicle[1]);
  EXPECT_EQ(vehicle[2], vehicle[3]);
  EXPECT_NE(vehicle[0], vehicle[2]);
}

}  // namespace
}  // namespace dg::planning
