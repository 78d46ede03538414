#include "bench/gather_room.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "planning/testing/packing_checks.h"

namespace dg::bench {
namespace {

using planning::PackItem;
using planning::PackPiece;
using planning::PackVehicle;

TEST(GatherRoom, NeverLosesDuplicatesOrOverloads) {
  // Mixed fleets, pieces of every shape, short and long efforts: each answer
  // is a valid packing on no more vehicles than the start.
  planning::testing::ExpectSearchNeverLosesOrOverloads(
      [](const std::vector<PackPiece>& pieces, const std::vector<PackVehicle>& vehicles,
         const std::vector<std::size_t>& start, std::uint64_t effort,
         int) { return GatherRoom(pieces, vehicles, start, effort); });
}

TEST(GatherRoom, KeepsTheRulesOfTheConstructionAsAPackingSearch) {
  // Given to the packing, orders stay whole, everything is placed and the
  // result does not change from one run to the next.
  std::vector<PackItem> items;
  for (int o = 0; o < 30; ++o) {
    const std::string order = "P" + std::to_string(o);
    for (int l = 0; l < 1 + o % 3; ++l)
      items.push_back({3.5 + (o * 7 + l) % 11, 0.01 * (1 + (o + l) % 9),
                       static_cast<double>(1 + (o + l) % 4), order, o % 2 ? "1" : "2",
                       "2025-06-10"});
  }
  const std::vector<PackVehicle> fleet = {{150, 1}, {150, 1}, {300, 2}, {300, 2},
                                          {150, 1}, {500, 3}, {500, 3}, {150, 1}};
  planning::PackOptions options;
  options.search = planning::PackSearch::kGiven;
  options.given = GatherRoom;
  const planning::PackResult r = planning::PackItems(items, fleet, options);
  ASSERT_TRUE(r.complete);
  std::map<std::string, std::set<std::size_t>> vehicles_of_order;
  std::vector<double> placed(items.size());
  for (const planning::PackAllocation& a : r.allocations) {
    vehicles_of_order[items[a.item].order].insert(a.vehicle);
    placed[a.item] += a.quantity;
  }
  for (const auto& [order, used] : vehicles_of_order) EXPECT_EQ(1u, used.size()) << order;
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_DOUBLE_EQ(items[i].quantity, placed[i]);
  EXPECT_EQ(r.allocations, planning::PackItems(items, fleet, options).allocations);
}

}  // namespace
}  // namespace dg::bench
