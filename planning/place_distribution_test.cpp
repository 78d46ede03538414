// Distribution by place: whole orders regrouped by where they go, never more
// vehicles, never over a room, nothing lost.
#include "planning/place_distribution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>

namespace dg::planning {
namespace {

// Places on a plane (km), place 0 the branch; Euclidean distances.
PlaceMap Plane(const std::vector<std::pair<double, double>>& at) {
  PlaceMap map;
  map.places = at.size();
  for (const auto& [ax, ay] : at) {
    for (const auto& [bx, by] : at) map.km.push_back(std::hypot(ax - bx, ay - by));
  }
  return map;
}

PackItem Order(const std::string& name, double weight, double volume = 0.01) {
  return {weight, volume, 1, name, "1", "2025-06-10"};
}

std::set<std::size_t> VehiclesUsed(const PackResult& r) {
  std::set<std::size_t> used;
  for (const PackAllocation& a : r.allocations) used.insert(a.vehicle);
  return used;
}

// Every item placed whole and once per vehicle; each vehicle within its room.
void ExpectSound(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                 const PackResult& r) {
  ASSERT_TRUE(r.complete);
  std::vector<double> placed(items.size(), 0), weight(vehicles.size(), 0),
      volume(vehicles.size(), 0);
  for (const PackAllocation& a : r.allocations) {
    ASSERT_LT(a.item, items.size());
    ASSERT_LT(a.vehicle, vehicles.size());
    placed[a.item] += a.quantity;
    weight[a.vehicle] += items[a.item].unit_weight * a.quantity;
    volume[a.vehicle] += items[a.item].unit_volume * a.quantity;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_NEAR(placed[i], items[i].quantity, 1e-9) << "item " << i;
  }
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    EXPECT_TRUE(FitsWithin(weight[v], vehicles[v].free_weight)) << "vehicle " << v;
    EXPECT_TRUE(FitsWithin(volume[v], vehicles[v].free_volume)) << "vehicle " << v;
  }
}

TEST(PlanByPlace, TwoClustersAreNotMixedAcrossTwoTrucksWhenTheyFitApart) {
  // By weight alone the two 50 kg orders share a truck and the 25 kg ones
  // fill the other: both trucks drive north and south.
  const std::vector<PackItem> items = {Order("N1", 50), Order("S1", 50), Order("N2", 25),
                                       Order("S2", 25), Order("N3", 25), Order("S3", 25)};
  const std::vector<PackVehicle> trucks = {{100, 1}, {100, 1}};
  const PlaceMap map = Plane({{0, 0}, {0, 10}, {1, 11}, {0, -10}, {1, -11}});
  const std::vector<std::size_t> place = {1, 3, 1, 3, 2, 4};
  const PackResult packed = PackItems(items, trucks);
  ASSERT_EQ(VehiclesUsed(packed).size(), 2u);

  PlaceReport report;
  const PackResult planned = PlanByPlace(items, trucks, packed, place, map, {}, &report);
  ExpectSound(items, trucks, planned);
  std::map<std::size_t, std::set<char>> sides;  // vehicle -> 'N' / 'S'
  for (const PackAllocation& a : planned.allocations) {
    sides[a.vehicle].insert(items[a.item].order[0]);
  }
  ASSERT_EQ(sides.size(), 2u);
  for (const auto& [vehicle, side] : sides) EXPECT_EQ(side.size(), 1u) << "vehicle " << vehicle;
  EXPECT_EQ(report.orders_moved, 6u);
  EXPECT_LT(report.km_after, report.km_before);
  EXPECT_NEAR(report.km_after, RoutesKm(planned, place, map), 1e-9);
  // Two round trips of about 2 × 11 km each.
  EXPECT_LT(report.km_after, 2 * (10 + std::hypot(1, 1) + std::hypot(1, 11)) + 1e-6);
}

TEST(PlanByPlace, RoomDecidesOverPlaceAndTheVehicleCountNeverGrows) {
  // One place would suit every order, but the loads need three vehicles by
  // volume; the one truck big enough for the bulky order keeps it.
  std::vector<PackItem> items;
  for (int k = 0; k < 9; ++k) items.push_back(Order("P" + std::to_string(k), 10, 0.3));
  items.push_back({40, 1.5, 1, "BIG", "1", "2025-06-10"});
  const std::vector<PackVehicle> fleet = {{100, 1}, {100, 1}, {100, 2}, {500, 5}, {100, 1}};
  std::vector<std::pair<double, double>> at = {{0, 0}};
  std::vector<std::size_t> place;
  for (std::size_t i = 0; i < items.size(); ++i) {
    at.push_back({5.0 + static_cast<double>(i % 3), static_cast<double>(i)});
    place.push_back(i + 1);
  }
  const PlaceMap map = Plane(at);
  const PackResult packed = PackItems(items, fleet);
  const PackResult planned = PlanByPlace(items, fleet, packed, place, map);
  ExpectSound(items, fleet, planned);
  EXPECT_LE(VehiclesUsed(planned).size(), VehiclesUsed(packed).size());
}

TEST(PlanByPlace, SplitOrdersAndUnlocatedOrdersStayWherePackedAndIncompleteIsUntouched) {
  // "HUGE" fits no truck whole and is split; "LOST" has no place.
  const std::vector<PackItem> items = {{10, 0.01, 15, "HUGE", "1", "d"},
                                       Order("LOST", 20),
                                       Order("A", 20),
                                       Order("B", 20),
                                       Order("C", 20),
                                       Order("D", 20)};
  const std::vector<PackVehicle> trucks = {{100, 1}, {100, 1}, {100, 1}};
  const PlaceMap map = Plane({{0, 0}, {0, 10}, {0, -10}, {10, 0}});
  const std::vector<std::size_t> place = {1, kNoPlace, 2, 3, 2, 3};
  const PackResult packed = PackItems(items, trucks);
  ASSERT_TRUE(packed.complete);
  const PackResult planned = PlanByPlace(items, trucks, packed, place, map);
  ExpectSound(items, trucks, planned);
  auto allocations_of = [](const PackResult& r, std::size_t item) {
    std::vector<PackAllocation> out;
    for (const PackAllocation& a : r.allocations) {
      if (a.item == item) out.push_back(a);
    }
    return out;
  };
  EXPECT_EQ(allocations_of(planned, 0), allocations_of(packed, 0));
  EXPECT_EQ(allocations_of(planned, 1), allocations_of(packed, 1));
  // The movable orders stay whole.
  for (std::size_t i = 2; i < items.size(); ++i) EXPECT_EQ(allocations_of(planned, i).size(), 1u);

  PackResult incomplete = packed;
  incomplete.complete = false;
  EXPECT_EQ(PlanByPlace(items, trucks, incomplete, place, map).allocations, incomplete.allocations);
  // A map that does not match the items is not used.
  EXPECT_EQ(PlanByPlace(items, trucks, packed, {1, 2}, map).allocations, packed.allocations);
  EXPECT_EQ(PlanByPlace(items, trucks, packed, place, PlaceMap{}).allocations, packed.allocations);
}

TEST(PlanByPlace, RandomDaysStaySoundAndTheSameInputGivesTheSamePlan) {
  std::mt19937 rng(7);
  for (int day = 0; day < 20; ++day) {
    SCOPED_TRACE("day " + std::to_string(day));
    std::uniform_real_distribution<double> coord(-20, 20), weight(5, 400), volume(0.01, 2);
    const int clients = 5 + day;
    std::vector<std::pair<double, double>> at = {{0, 0}};
    for (int c = 0; c < clients; ++c) at.push_back({coord(rng), coord(rng)});
    std::vector<PackItem> items;
    std::vector<std::size_t> place;
    for (int o = 0; o < 3 * clients; ++o) {
      const std::size_t client = 1 + rng() % static_cast<unsigned>(clients);
      const int lines = 1 + static_cast<int>(rng() % 3);
      for (int l = 0; l < lines; ++l) {
        items.push_back({weight(rng) / 10, volume(rng) / 10, static_cast<double>(1 + rng() % 5),
                         "P" + std::to_string(o), std::to_string(rng() % 3), "d"});
        place.push_back(rng() % 10 == 0 ? kNoPlace : client);
      }
    }
    std::vector<PackVehicle> fleet;
    for (int v = 0; v < 4 + day; ++v)
      fleet.push_back({v % 2 ? 1500.0 : 3000.0, v % 2 ? 8.0 : 12.0});
    const PlaceMap map = Plane(at);
    const PackResult packed = PackItems(items, fleet);
    if (!packed.complete) continue;
    PlaceReport report;
    const PackResult planned = PlanByPlace(items, fleet, packed, place, map, {}, &report);
    ExpectSound(items, fleet, planned);
    EXPECT_LE(VehiclesUsed(planned).size(), VehiclesUsed(packed).size());
    // Orders the packing kept whole stay whole.
    std::map<std::string, std::set<std::size_t>> before, after;
    for (const PackAllocation& a : packed.allocations)
      before[items[a.item].order].insert(a.vehicle);
    for (const PackAllocation& a : planned.allocations)
      after[items[a.item].order].insert(a.vehicle);
    for (const auto& [order, vehicles] : before) {
      if (vehicles.size() == 1) {
        EXPECT_EQ(after[order].size(), 1u) << order;
      }
    }
    EXPECT_EQ(PlanByPlace(items, fleet, packed, place, map).allocations, planned.allocations);
  }
}

// A clock for a plane map: travel minutes = km (60 km/h), windows per
// place, a stop of 10 minutes plus 6 per tonne.
PlaceClock ClockFor(const PlaceMap& map, const std::vector<std::vector<TimeWindow>>& windows) {
  PlaceClock clock;
  clock.windows = windows;
  clock.stop_minutes.assign(map.places, 10);
  clock.tonne_minutes.assign(map.places, 6);
  clock.travel = {map.km};
  VehicleDay day;
  day.start = 360;
  day.end = 1080;
  day.longest = 600;
  clock.days = {day};
  return clock;
}

TEST(PlanByPlace, WithAClockWindowsAreKeptEvenOnMoreVehiclesThanPacked) {
  // By weight one truck takes all; but the north and south clients both
  // receive 07:00-07:40 only, 60 km out: a second truck is needed.
  const std::vector<PackItem> items = {Order("N1", 20), Order("S1", 20), Order("N2", 20),
                                       Order("E1", 20)};
  const std::vector<PackVehicle> trucks = {{100, 1}, {100, 1}, {100, 1}};
  const PlaceMap map = Plane({{0, 0}, {0, 60}, {0, -60}, {30, 0}});
  const std::vector<std::size_t> place = {1, 2, 1, 3};
  const PackResult packed = PackItems(items, trucks);
  ASSERT_EQ(VehiclesUsed(packed).size(), 1u);
  const PlaceClock clock = ClockFor(map, {{}, {{420, 460}}, {{420, 460}}, {}});

  PlaceReport report;
  const PackResult planned = PlanByPlace(items, trucks, packed, place, map, {}, &report, &clock);
  ExpectSound(items, trucks, planned);
  EXPECT_EQ(VehiclesUsed(planned).size(), 2u);
  EXPECT_TRUE(report.late.empty());
  std::map<std::string, std::size_t> vehicle_of;
  for (const PackAllocation& a : planned.allocations) vehicle_of[items[a.item].order] = a.vehicle;
  EXPECT_EQ(vehicle_of["N1"], vehicle_of["N2"]);
  EXPECT_NE(vehicle_of["N1"], vehicle_of["S1"]);
  // Each used vehicle's stops are reported in visiting order.
  std::size_t stops = 0;
  for (const auto& s : report.stops) stops += s.size();
  EXPECT_EQ(stops, 3u);
  // The same day twice: the same plan.
  EXPECT_EQ(PlanByPlace(items, trucks, packed, place, map, {}, nullptr, &clock).allocations,
            planned.allocations);
  // A clock whose travel table does not match the map is not used.
  PlaceClock broken = clock;
  broken.travel = {{1, 2, 3}};
  EXPECT_EQ(PlanByPlace(items, trucks, packed, place, map, {}, nullptr, &broken).allocations,
            PlanByPlace(items, trucks, packed, place, map).allocations);
}

// The south client S1 (place 2, closing at 06:50, an hour from the branch)
// reported late: straight there, leaving at 06:00, it arrives at 07:00.
void ExpectSouthLateByTen(const PlaceReport& report) {
  ASSERT_EQ(report.late.size(), 1u);
  EXPECT_EQ(report.late[0].order, "S1");
  EXPECT_EQ(report.late[0].place, 2u);
  EXPECT_EQ(WindowsText(report.late[0].windows), "06:00-06:50");
  EXPECT_EQ(ClockText(report.late[0].arrival), "07:00");
  EXPECT_DOUBLE_EQ(report.late[0].late, 10);
}

TEST(PlanByPlace, WithAClockAnImpossibleWindowIsCarriedAndNamed) {
  // The south client closes at 06:50, an hour away from a branch whose
  // trucks start at 06:00: every truck is late, the order still rides.
  const std::vector<PackItem> items = {Order("N1", 20), Order("S1", 1000)};
  const std::vector<PackVehicle> trucks = {{2000, 1}, {2000, 1}};
  const PlaceMap map = Plane({{0, 0}, {0, 20}, {0, -60}});
  const std::vector<std::size_t> place = {1, 2};
  const PackResult packed = PackItems(items, trucks);
  const PlaceClock clock = ClockFor(map, {{}, {}, {{360, 410}}});
  PlaceReport report;
  const PackResult planned = PlanByPlace(items, trucks, packed, place, map, {}, &report, &clock);
  ExpectSound(items, trucks, planned);
  ExpectSouthLateByTen(report);
}

TEST(PlanByPlace, WithAClockOnAWiderMapTheDaysPlacesKeepTheirWindowsTravelAndNumbers) {
  // The day's two clients are places 2 and 5 of a map of six, met in the
  // other order; the other places (with windows of their own) have no
  // order. The south client (place 2) closes at 06:50, an hour away: late
  // by 10 minutes, and named by its place on the map.
  const std::vector<PackItem> items = {Order("S1", 1000), Order("N1", 20)};
  const std::vector<PackVehicle> trucks = {{2000, 1}, {2000, 1}};
  const PlaceMap map = Plane({{0, 0}, {50, 50}, {0, -60}, {-30, 0}, {40, 0}, {0, 20}});
  const std::vector<std::size_t> place = {2, 5};
  const PackResult packed = PackItems(items, trucks);
  const PlaceClock clock =
      ClockFor(map, {{}, {{700, 710}}, {{360, 410}}, {{900, 905}}, {{360, 361}}, {}});
  PlaceReport report;
  const PackResult planned = PlanByPlace(items, trucks, packed, place, map, {}, &report, &clock);
  ExpectSound(items, trucks, planned);
  ExpectSouthLateByTen(report);
  std::set<std::size_t> stops;
  for (const auto& s : report.stops) stops.insert(s.begin(), s.end());
  EXPECT_EQ(stops, (std::set<std::size_t>{2, 5}));
}

TEST(PlanByPlace, WithAClockRandomDaysStaySoundCompleteAndTheSameTwice) {
  std::mt19937 rng(11);
  for (int day = 0; day < 8; ++day) {
    SCOPED_TRACE("day " + std::to_string(day));
    std::uniform_real_distribution<double> coord(-60, 60), weight(5, 400);
    const int clients = 6 + 2 * day;
    std::vector<std::pair<double, double>> at = {{0, 0}};
    std::vector<std::vector<TimeWindow>> windows(1);
    for (int c = 0; c < clients; ++c) {
      at.push_back({coord(rng), coord(rng)});
      const double open = 420 + static_cast<double>(rng() % 360);
      // Some without hours, some with one window, some with two; a few
      // too early for anyone.
      switch (rng() % 4) {
        case 0:
          windows.push_back({});
          break;
        case 1:
          windows.push_back({{open, open + 90}});
          break;
        case 2:
          windows.push_back({{open, open + 60}, {open + 180, open + 240}});
          break;
        default:
          windows.push_back({{300, 330}});
          break;
      }
    }
    std::vector<PackItem> items;
    std::vector<std::size_t> place;
    for (int o = 0; o < 2 * clients; ++o) {
      const std::size_t client = 1 + rng() % static_cast<unsigned>(clients);
      for (int l = 0; l < 1 + static_cast<int>(rng() % 3); ++l) {
        items.push_back({weight(rng) / 10, 0.05, static_cast<double>(1 + rng() % 5),
                         "P" + std::to_string(o), "1", "d"});
        place.push_back(rng() % 12 == 0 ? kNoPlace : client);
      }
    }
    std::vector<PackVehicle> fleet(3 + day, {2500, 10});
    const PlaceMap map = Plane(at);
    const PackResult packed = PackItems(items, fleet);
    if (!packed.complete) continue;
    PlaceClock clock = ClockFor(map, windows);
    clock.days[0].breaks = {240, 30};
    PlaceOptions quick;
    quick.effort_per_order = 2'000;
    PlaceReport report;
    const PackResult planned =
        PlanByPlace(items, fleet, packed, place, map, quick, &report, &clock);
    ExpectSound(items, fleet, planned);
    // The clients that open before anyone can arrive are named, each order
    // once; the others are reached on time.
    std::set<std::string> late;
    for (const LateStop& l : report.late) {
      EXPECT_TRUE(late.insert(l.order).second) << l.order;
      EXPECT_LT(l.vehicle, fleet.size());
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (place[i] != kNoPlace && windows[place[i]].size() == 1 &&
          windows[place[i]][0].close == 330) {
        EXPECT_TRUE(late.count(items[i].order)) << items[i].order;
      }
    }
    EXPECT_EQ(PlanByPlace(items, fleet, packed, place, map, quick, nullptr, &clock).allocations,
              planned.allocations);
  }
}

TEST(PlanByPlace, WithAClockTheEffortCapBoundsTheWholeSearchRouteTakingIncluded) {
  // Several delivery dates of a day, each planned on its own as the server
  // plans them: however much of the cap the taking out of routes may
  // spend, each date's search stays within the cap, and every order rides
  // once, on time where its window allows.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> coord(-50, 50), weight(20, 300);
  for (int date = 0; date < 4; ++date) {
    SCOPED_TRACE("date " + std::to_string(date));
    const int clients = 40 + 30 * date;
    std::vector<std::pair<double, double>> at = {{0, 0}};
    std::vector<std::vector<TimeWindow>> windows(1);
    for (int c = 0; c < clients; ++c) {
      at.push_back({coord(rng), coord(rng)});
      const double open = 420 + static_cast<double>(rng() % 300);
      windows.push_back(rng() % 3 == 0 ? std::vector<TimeWindow>{}
                                       : std::vector<TimeWindow>{{open, open + 150}});
    }
    std::vector<PackItem> items;
    std::vector<std::size_t> place;
    for (int o = 0; o < clients; ++o) {
      items.push_back({weight(rng), 0.05, 1, "P" + std::to_string(o), "1", "d"});
      place.push_back(1 + static_cast<std::size_t>(o));
    }
    const std::vector<PackVehicle> fleet(static_cast<std::size_t>(clients), {1500, 10});
    const PlaceMap map = Plane(at);
    const PackResult packed = PackItems(items, fleet);
    ASSERT_TRUE(packed.complete);
    const PlaceClock clock = ClockFor(map, windows);
    for (unsigned share : {0u, 30u, 100u}) {
      SCOPED_TRACE("share " + std::to_string(share));
      PlaceOptions options;
      options.effort_per_order = 1'000'000;  // the cap decides
      options.clock_max_effort = 400'000;
      options.clock_take_out_share = share;
      PlaceReport report;
      const PackResult planned =
          PlanByPlace(items, fleet, packed, place, map, options, &report, &clock);
      ExpectSound(items, fleet, planned);
      EXPECT_TRUE(report.late.empty());
      EXPECT_GT(report.clock_steps, options.clock_max_effort / 2);
      // One iteration of the search, at most, past the cap.
      EXPECT_LE(report.clock_steps, options.clock_max_effort + 20'000);
      std::set<std::string> orders;
      for (const PackAllocation& a : planned.allocations) orders.insert(items[a.item].order);
      EXPECT_EQ(orders.size(), items.size());
    }
  }
}

}  // namespace
}  // namespace dg::planning
