#include "appserver/packing.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

namespace dg::server {
namespace {

// "item>vehicle:quantity" for every allocation, then "incomplete" if so.
std::string Print(const PackResult& r) {
  std::ostringstream out;
  for (const PackAllocation& a : r.allocations) {
    out << a.item << ">" << a.vehicle << ":" << a.quantity << " ";
  }
  if (!r.complete) out << "incomplete";
  return out.str();
}

PackItem Item(double weight, double volume, double quantity, const char* order,
              const char* priority = "1") {
  return {weight, volume, quantity, order, priority, "2025-06-10"};
}

struct Case {
  const char* name;
  std::vector<PackItem> items;
  std::vector<PackVehicle> vehicles;
  const char* want;
};

TEST(PackItems, Table) {
  const std::vector<Case> cases = {
      {"one order fits the largest vehicle whole",
       {Item(10, 0.1, 3, "A"), Item(5, 0.1, 2, "A")},
       {{20, 1}, {100, 1}},
       "0>1:3 1>1:2 "},
      {"small orders share the first vehicle opened",
       {Item(10, 0, 1, "A"), Item(10, 0, 1, "B"), Item(10, 0, 1, "C")},
       {{50, 1}, {40, 1}},
       "0>0:1 1>0:1 2>0:1 "},
      {"floating noise never refuses an exact fit",
       {Item(0.1, 0, 1, "A"), Item(0.2, 0, 1, "B"), Item(0.3, 0, 1, "C")},
       {{0.6, 1}},
       "0>0:1 1>0:1 2>0:1 "},
      {"an order larger than any vehicle is split in whole units",
       {Item(10, 0, 7, "A")},
       {{30, 1}, {45, 1}},
       "0>0:3 0>1:4 "},
      {"volume limits as weight does",
       {Item(1, 0.5, 4, "A")},
       {{100, 1}, {100, 1}},
       "0>0:2 0>1:2 "},
      {"a fractional quantity is split to three decimals",
       {Item(1, 0, 2.5, "A")},
       {{1.25, 1}, {1.25, 1}},
       "0>0:1.25 0>1:1.25 "},
      {"too much for the fleet",
       {Item(10, 0, 5, "A"), Item(10, 0, 6, "B")},
       {{50, 1}, {50, 1}},
       "0>1:4 1>0:5 1>1:1 incomplete"},
      {"a vehicle loaded beyond capacity takes nothing",
       {Item(1, 0, 1, "A")},
       {{-1, 1}},
       "incomplete"},
      {"no vehicles",
       {Item(1, 0, 1, "A")},
       {},
       "incomplete"},
      {"weightless items go with their order",
       {Item(0, 0, 3, "A"), Item(5, 0, 1, "A")},
       {{5, 1}},
       "0>0:3 1>0:1 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.want, Print(PackItems(c.items, c.vehicles))) << c.name;
  }
}

TEST(PackItems, KeepsOrdersWholeWhereTheyFit) {
  // Ten orders of three items, each order 60 kg; vehicles of 100 kg leave
  // room for one order each, so no order may be split.
  std::vector<PackItem> items;
  for (int o = 0; o < 10; ++o) {
    for (int i = 0; i < 3; ++i) items.push_back(Item(10, 0.01, 2, std::to_string(o).c_str()));
  }
  std::vector<PackVehicle> vehicles(10, PackVehicle{100, 10});
  const PackResult r = PackItems(items, vehicles);
  ASSERT_TRUE(r.complete);
  std::map<std::string, std::set<std::size_t>> vehicles_of_order;
  for (const PackAllocation& a : r.allocations) vehicles_of_order[items[a.item].order].insert(a.vehicle);
  for (const auto& [order, used] : vehicles_of_order) EXPECT_EQ(1u, used.size()) << order;
}

TEST(PackItems, NeverExceedsRoomAndPlacesEverything) {
  std::vector<PackItem> items;
  for (int i = 0; i < 40; ++i) {
    items.push_back(Item(1.5 + (i % 7), 0.013 * (1 + i % 5), 1 + i % 9,
                         std::to_string(i / 3).c_str(), i % 4 ? "2" : "1"));
  }
  std::vector<PackVehicle> vehicles = {{400, 3}, {300, 2}, {250, 1.5}, {900, 8}};
  const PackResult r = PackItems(items, vehicles);
  ASSERT_TRUE(r.complete);
  std::vector<double> weight(vehicles.size()), volume(vehicles.size()), placed(items.size());
  for (const PackAllocation& a : r.allocations) {
    weight[a.vehicle] += a.quantity * items[a.item].unit_weight;
    volume[a.vehicle] += a.quantity * items[a.item].unit_volume;
    placed[a.item] += a.quantity;
  }
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    EXPECT_TRUE(FitsWithin(weight[v], vehicles[v].free_weight)) << v;
    EXPECT_TRUE(FitsWithin(volume[v], vehicles[v].free_volume)) << v;
  }
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_DOUBLE_EQ(items[i].quantity, placed[i]);
}

TEST(Round3, RoundsHalfAwayFromZero) {
  EXPECT_EQ(2.001, Round3(2.0006));
  EXPECT_EQ(2.0, Round3(2.0004));
  EXPECT_EQ(-1.5, Round3(-1.4996));
  EXPECT_TRUE(FitsWithin(0.1 + 0.2, 0.3));
  EXPECT_FALSE(FitsWithin(2.0006, 2.0004));
}

}  // namespace
}  // namespace dg::server
