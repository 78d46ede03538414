// Routing with time windows: every plan checked on its own schedule (the
// clock of one route, independent of the search), nothing lost or served
// twice, the same answer twice, impossible windows carried and named.
#include "planning/timed_routing.h"
#include "planning/testing/timed_plane.h"
#include "planning/timed_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace dg::planning {
namespace {

using testing::Point;

// Customers on a plane, travel minutes = distance; node 0 the branch.
TimedProblem Plane(const std::vector<Point>& at) { return testing::OnPlane(at, {1, 0.01}); }

// A day of `n` customers with windows, as a branch's clients might have:
// some without hours, some with a morning window, some with two.
TimedProblem RandomDay(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> coord(-40, 40), weight(50, 400);
  std::vector<Point> at(n + 1);
  for (std::size_t i = 1; i <= n; ++i) at[i] = {coord(random), coord(random)};
  TimedProblem p = Plane(at);
  for (std::size_t c = 1; c <= n; ++c) {
    p.demand[c] = {weight(random), 0.5};
    p.clock[c].unloading = 10;
    const int kind = static_cast<int>(random() % 3);
    const double open = 420 + static_cast<double>(random() % 300);
    if (kind == 1) p.clock[c].windows = {{open, open + 120}};
    if (kind == 2) p.clock[c].windows = {{open, open + 60}, {open + 180, open + 300}};
  }
  VehicleDay day;
  day.start = 420;
  day.end = 1140;
  day.longest = 600;
  day.loading = 20;
  day.breaks = {240, 30};
  p.days = {day};
  p.vehicles.assign(n, {2000, 12});
  return p;
}

TimedOptions Effort(std::uint64_t effort) {
  TimedOptions o;
  o.effort = effort;
  return o;
}

TEST(SolveTimedRouting, PlansAreFeasibleCompleteAndTheSameTwice) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    TimedProblem p = RandomDay(40, seed);
    p.objective = seed % 2 ? TimedObjective::kDistance : TimedObjective::kTimeOnRoad;
    const TimedSolution a = SolveTimedRouting(p, Effort(150'000));
    EXPECT_TRUE(IsTimedFeasible(p, a)) << "seed " << seed;
    EXPECT_TRUE(a.late.empty());
    const TimedSolution b = SolveTimedRouting(p, Effort(150'000));
    EXPECT_EQ(a.routes, b.routes) << "seed " << seed;
    // Fewer vehicles than customers, and not more than a plan of one
    // customer per vehicle would cost in vehicles.
    EXPECT_LT(a.used, 20u);
    double distance = 0;
    for (const auto& route : a.routes) {
      std::size_t at = 0;
      for (std::size_t c : route) distance += p.cost[at * p.Nodes() + c], at = c;
      if (!route.empty()) distance += p.cost[at * p.Nodes()];
    }
    EXPECT_NEAR(a.distance, distance, 1e-6);
  }
}

TEST(SolveTimedRouting, RoutesTakenOutOnABudgetCountWithinTheEffort) {
  // A budget for taking out whole routes is spent within the effort, one
  // for one, on a day of any size; none at all leaves the search whole.
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const TimedProblem p = RandomDay(60, seed);
    for (std::uint64_t take_out :
         {std::uint64_t{0}, std::uint64_t{50'000}, std::uint64_t{1'000'000}}) {
      TimedOptions o = Effort(200'000);
      o.take_out = take_out;
      const TimedSolution s = SolveTimedRouting(p, o);
      EXPECT_TRUE(IsTimedFeasible(p, s)) << take_out;
      EXPECT_TRUE(s.late.empty());
      // The least distance's own share comes after the search for fewer.
      EXPECT_LE(s.steps, o.effort / 100 * (o.fleet_share + o.least_share) + 10'000) << take_out;
      EXPECT_EQ(SolveTimedRouting(p, o).routes, s.routes);
    }
  }
}

TEST(SolveTimedRouting, WindowsDecideHowManyVehicles) {
  // Two clients 60 minutes out in opposite directions, both receiving from
  // 08:00 to 08:30: one vehicle cannot make both, two can.
  TimedProblem p = Plane({{0, 0}, {60, 0}, {-60, 0}});
  p.vehicles.assign(3, {100, 1});
  VehicleDay day;
  day.start = 360;
  p.days = {day};
  p.clock[1].windows = {{480, 510}};
  p.clock[2].windows = {{480, 510}};
  TimedSolution s = SolveTimedRouting(p, Effort(10'000));
  EXPECT_TRUE(IsTimedFeasible(p, s));
  EXPECT_EQ(s.used, 2u);
  // With a second window in the afternoon for one of them, one vehicle does.
  p.clock[2].windows.push_back({700, 800});
  s = SolveTimedRouting(p, Effort(10'000));
  EXPECT_TRUE(IsTimedFeasible(p, s));
  EXPECT_EQ(s.used, 1u);
  // Room for one only: two again.
  p.vehicles.assign(3, {1, 1});
  s = SolveTimedRouting(p, Effort(10'000));
  EXPECT_TRUE(IsTimedFeasible(p, s));
  EXPECT_EQ(s.used, 2u);
}

TEST(SolveTimedRouting, FewestVehiclesFirstEvenWhenAnotherWouldSaveTimeOnTheRoad) {
  // Client 1 receives early, client 2 (across the branch) late: one vehicle
  // serves both, waiting eight hours between them; two would spend 40
  // minutes on the road in all. Fewest vehicles first keeps one; without
  // it, two.
  TimedProblem p = Plane({{0, 0}, {10, 0}, {-10, 0}});
  p.vehicles.assign(2, {100, 1});
  VehicleDay day;
  day.end = 1000;
  p.days = {day};
  p.clock[1].windows = {{0, 20}};
  p.clock[2].windows = {{500, 520}};
  p.objective = TimedObjective::kTimeOnRoad;
  TimedOptions o = Effort(20'000);
  const TimedSolution one = SolveTimedRouting(p, o);
  EXPECT_TRUE(IsTimedFeasible(p, one));
  EXPECT_EQ(one.used, 1u);
  EXPECT_NEAR(one.cost, 510, 1e-9);
  o.fewest_vehicles = false;
  const TimedSolution two = SolveTimedRouting(p, o);
  EXPECT_TRUE(IsTimedFeasible(p, two));
  EXPECT_EQ(two.used, 2u);
  EXPECT_NEAR(two.cost, 40, 1e-9);
}

TEST(SolveTimedRouting, AVehicleMoreOnTheWayIsNeverInTheAnswer) {
  // Three groups of seven clients, 50 away in three directions, with room
  // for eleven per vehicle: two vehicles are the fewest, as the rooms alone
  // decide. The search for the least distance may open a third on the way;
  // the answer is on two, with every rule kept, the same twice.
  std::vector<Point> at = {{0, 0}};
  for (int g = 0; g < 3; ++g) {
    const double angle = 2.0944 * g;
    for (int k = 0; k < 7; ++k) {
      at.push_back({50 * std::cos(angle) + k % 3, 50 * std::sin(angle) + k / 3.0});
    }
  }
  TimedProblem p = Plane(at);
  p.vehicles.assign(5, {11, 10});
  for (std::size_t c = 1; c <= 21; ++c) {
    p.demand[c] = {1, 0};
    p.clock[c].unloading = 5;
  }
  VehicleDay day;
  day.end = 2000;
  day.longest = 2000;
  p.days = {day};
  const TimedSolution a = SolveTimedRouting(p, Effort(100'000));
  EXPECT_TRUE(IsTimedFeasible(p, a));
  EXPECT_TRUE(a.late.empty());
  EXPECT_EQ(a.used, 2u);
  EXPECT_EQ(SolveTimedRouting(p, Effort(100'000)).routes, a.routes);
  // Each group's clients receive in a window of their own, one after the
  // other through the day: still two.
  for (std::size_t c = 1; c <= 21; ++c) {
    const double open = 200.0 * static_cast<double>((c - 1) / 7);
    p.clock[c].windows = {{open, open + 150}};
  }
  const TimedSolution b = SolveTimedRouting(p, Effort(100'000));
  EXPECT_TRUE(IsTimedFeasible(p, b));
  EXPECT_TRUE(b.late.empty());
  EXPECT_EQ(b.used, 2u);
}

TEST(SolveTimedRouting, AFleetTheRoomsDecideKeepsEveryRuleAndItsCount) {
  // Days whose rooms alone need as many vehicles as the first plan uses,
  // with windows, breaks and the working day: the least distance is looked
  // for with a vehicle more allowed on the way and whole routes emptied;
  // the answer keeps every rule, every customer once, the fewest vehicles,
  // and is the same twice.
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TimedProblem p = RandomDay(45, seed);
    double total = 0;
    for (std::size_t c = 1; c <= 45; ++c) total += p.demand[c].weight;
    // Four vehicles' room with a tenth to spare.
    const double room = std::ceil(total / 4 * 1.1);
    p.vehicles.assign(8, {room, 12});
    p.days[0].end = 1400;
    p.days[0].longest = 980;
    for (std::size_t c = 1; c <= 45; ++c) {
      for (TimeWindow& w : p.clock[c].windows) w.close += 240;
    }
    const TimedSolution a = SolveTimedRouting(p, Effort(200'000));
    EXPECT_TRUE(IsTimedFeasible(p, a));
    EXPECT_TRUE(a.late.empty());
    EXPECT_GE(a.used, 4u);
    EXPECT_EQ(SolveTimedRouting(p, Effort(200'000)).routes, a.routes);
  }
}

TEST(SolveTimedRouting, AnImpossibleWindowIsCarriedLeastLateAndListed) {
  // Client 2 closes at 07:30, an hour's drive away: the vehicle starting at
  // 06:45 is 15 minutes late, the one starting at 07:00 is 30; neither
  // leaves it behind.
  TimedProblem p = Plane({{0, 0}, {10, 0}, {0, 60}});
  p.vehicles.assign(2, {100, 1});
  VehicleDay early, late;
  early.start = 405;
  late.start = 420;
  p.days = {late, early};
  p.clock[2].windows = {{400, 450}};
  const TimedSolution s = SolveTimedRouting(p, Effort(10'000));
  ASSERT_EQ(s.late, std::vector<std::size_t>{2});
  EXPECT_FALSE(IsTimedFeasible(p, s));
  ASSERT_NE(std::find(s.routes[1].begin(), s.routes[1].end(), 2u), s.routes[1].end());
  const auto& route = s.routes[1];
  const RouteSchedule schedule = TimedSchedule(p, 1, route);
  const std::size_t k =
      static_cast<std::size_t>(std::find(route.begin(), route.end(), 2u) - route.begin());
  EXPECT_DOUBLE_EQ(schedule.stops[k].late, 15);
  // Client 1 is served too, on time.
  std::size_t served = 0;
  for (const auto& r : s.routes) served += r.size();
  EXPECT_EQ(served, 2u);
}

TEST(SolveTimedRouting, PinnedCustomersStayAndStopsAtOnePlaceUnloadOnce) {
  // Three orders at one place (node 1..3), one pinned to vehicle 1; the
  // stop costs 30 minutes once, 5 per order after the first.
  TimedProblem p;
  p.customers = 4;
  p.places = 3;
  p.place = {0, 1, 1, 1, 2};
  p.cost = {0, 10, 10, 10, 0, 14, 10, 14, 0};
  p.demand.assign(5, {10, 0.1});
  p.clock.assign(5, {});
  p.stop_minutes.assign(5, 25);
  for (std::size_t c = 1; c <= 4; ++c) p.clock[c].unloading = 30;
  p.pinned = {kAnyVehicle, kAnyVehicle, 1, kAnyVehicle, kAnyVehicle};
  p.vehicles.assign(2, {100, 1});
  VehicleDay day;
  day.end = 10 + 30 + 5 + 5 + 14 + 30 + 10 + 1;  // one vehicle, with a minute to spare
  p.days = {day};
  p.objective = TimedObjective::kTimeOnRoad;
  const TimedSolution s = SolveTimedRouting(p, Effort(20'000));
  EXPECT_TRUE(IsTimedFeasible(p, s));
  EXPECT_EQ(s.used, 1u);
  EXPECT_TRUE(s.routes[0].empty());
  EXPECT_EQ(s.routes[1].size(), 4u);
  EXPECT_NEAR(s.cost, 104, 1e-9);
}

TEST(SolveTimedRouting, NothingToPlanOrNothingPossibleEndsAtOnce) {
  // No customer; then only a customer no vehicle can reach in time (and
  // one the fleet is not allowed to carry at all).
  TimedProblem p = Plane({{0, 0}});
  p.vehicles.assign(2, {10, 1});
  EXPECT_TRUE(IsTimedFeasible(p, SolveTimedRouting(p)));
  p = Plane({{0, 0}, {100, 0}});
  p.vehicles.assign(2, {10, 1});
  p.clock[1].windows = {{0, 50}};
  const TimedSolution s = SolveTimedRouting(p);
  EXPECT_EQ(s.late, std::vector<std::size_t>{1});
  EXPECT_EQ(s.used, 1u);
}

TEST(SolveTimedRouting, ACustomerWhoseNeighboursHaveNoRoomGoesWhereTheRoomIs) {
  // Thirty clients around (50, 0), pinned to vehicle 0 and filling it; the
  // free client 31 stands among them, so its nearest neighbours are all on a
  // full vehicle. The only place with room is vehicle 1's route far to the
  // west, which reaches it on time; a third vehicle stays unused and the
  // client is not left late.
  std::vector<Point> at = {{0, 0}};
  for (int k = 0; k < 30; ++k) at.push_back({50.0 + k % 6, k / 6.0});
  at.push_back({52, 2});
  at.push_back({-40, 0});
  at.push_back({-45, 5});
  TimedProblem p = Plane(at);
  const std::size_t free = 31;
  p.pinned.assign(p.Nodes(), kAnyVehicle);
  for (std::size_t c = 1; c <= 30; ++c) p.pinned[c] = 0;
  p.pinned[32] = p.pinned[33] = 1;
  p.vehicles.assign(3, {30, 10});
  VehicleDay day;
  day.end = 600;
  p.days = {day};
  p.clock[free].windows = {{0, 400}};
  for (bool fewest : {true, false}) {
    TimedOptions o = Effort(20'000);
    o.fewest_vehicles = fewest;
    const TimedSolution s = SolveTimedRouting(p, o);
    EXPECT_TRUE(IsTimedFeasible(p, s)) << fewest;
    EXPECT_TRUE(s.late.empty()) << fewest;
    EXPECT_NE(std::find(s.routes[1].begin(), s.routes[1].end(), free), s.routes[1].end());
    if (fewest) {
      EXPECT_EQ(s.used, 2u);
    }
  }
  // Closing an hour after the start, it is on time only as the western
  // route's first stop (52 minutes out), never after its two clients.
  p.clock[free].windows = {{0, 60}};
  p.vehicles.assign(2, {30, 10});
  const TimedSolution s = SolveTimedRouting(p, Effort(20'000));
  EXPECT_TRUE(IsTimedFeasible(p, s));
  EXPECT_TRUE(s.late.empty());
  ASSERT_FALSE(s.routes[1].empty());
  EXPECT_EQ(s.routes[1].front(), free);
}

TEST(SolveTimedRouting, LargerDaysWithSharedPlacesAndTightRoomLoseNoOne) {
  // 160 orders at 60 places, a few pinned, vehicles with room for about
  // eight orders: most insertions find the neighbours' vehicles full and
  // must look further. Every order once, every window, day and room kept,
  // the same plan twice, with and without fewest vehicles first.
  for (unsigned seed = 1; seed <= 3; ++seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coord(-30, 30), weight(100, 300);
    const std::size_t places = 61, n = 160;
    std::vector<Point> at(places);
    for (std::size_t k = 1; k < places; ++k) at[k] = {coord(random), coord(random)};
    TimedProblem p;
    p.customers = n;
    p.places = places;
    for (std::size_t i = 0; i < places; ++i) {
      for (std::size_t j = 0; j < places; ++j)
        p.cost.push_back(std::hypot(at[i].x - at[j].x, at[i].y - at[j].y));
    }
    p.place = {0};
    p.demand = {{}};
    p.clock.assign(n + 1, {});
    p.stop_minutes.assign(n + 1, 5);
    p.pinned.assign(n + 1, kAnyVehicle);
    p.vehicles.assign(40, {1600, 10});
    for (std::size_t c = 1; c <= n; ++c) {
      p.place.push_back(1 + random() % (places - 1));
      p.demand.push_back({weight(random), 0.1});
      p.clock[c].unloading = 15;
      const double open = 420 + static_cast<double>(random() % 360);
      if (c % 3 == 1) p.clock[c].windows = {{open, open + 90}};
      if (c % 17 == 0) p.pinned[c] = c % 5;
    }
    VehicleDay day;
    day.start = 420;
    day.end = 1140;
    day.loading = 20;
    p.days = {day};
    for (bool fewest : {true, false}) {
      TimedOptions o = Effort(200'000);
      o.fewest_vehicles = fewest;
      const TimedSolution a = SolveTimedRouting(p, o);
      EXPECT_TRUE(IsTimedFeasible(p, a)) << "seed " << seed << " fewest " << fewest;
      EXPECT_TRUE(a.late.empty()) << "seed " << seed << " fewest " << fewest;
      EXPECT_EQ(a.routes, SolveTimedRouting(p, o).routes) << "seed " << seed;
    }
  }
}

// Whether a route is on time by its own schedule, and its distance.
struct Measured {
  bool on_time = false;
  double distance = 0;
};
Measured Measure(const TimedProblem& p, std::size_t v, const std::vector<std::size_t>& route) {
  Measured out;
  const RouteSchedule s = TimedSchedule(p, v, route);
  out.on_time = s.late_total <= 1e-6 && s.late_back <= 1e-6 && s.over_longest <= 1e-6;
  std::size_t at = 0;
  const std::size_t n = p.Nodes();
  auto cost = [&](std::size_t i, std::size_t j) {
    return p.places ? p.cost[p.place[i] * p.places + p.place[j]] : p.cost[i * n + j];
  };
  for (std::size_t c : route) out.distance += cost(at, c), at = c;
  if (!route.empty()) out.distance += cost(at, 0);
  return out;
}

TEST(WeighInsertion, FromTheStopsBesideItAgreesWithTheWholeSchedule) {
  // Routes on time grown at random, with shared places (shorter unloading
  // after an order at the same place), one or two windows or none, a
  // loading time, a longest day shorter than the working day, two kinds of
  // day: every insertion of every other customer at every place is weighed
  // from the stops beside it and through the schedule, and both agree with
  // the schedule of the route with the customer in it.
  // Half the days have their distances cut to a tenth, as some published
  // instances do: with whole-minute windows, stops then start exactly as a
  // window opens or closes, and the sums of the times round either way.
  std::size_t finite = 0, refused = 0;
  for (unsigned seed = 1; seed <= 24; ++seed) {
    const bool tenths = seed > 12;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coord(-30, 30);
    const std::size_t places = 25, n = 40;
    std::vector<Point> at(places);
    for (std::size_t k = 1; k < places; ++k) at[k] = {coord(random), coord(random)};
    TimedProblem p;
    p.customers = n;
    p.places = places;
    for (std::size_t i = 0; i < places; ++i) {
      for (std::size_t j = 0; j < places; ++j) {
        const double d = std::hypot(at[i].x - at[j].x, at[i].y - at[j].y);
        p.cost.push_back(tenths ? std::floor(10 * d) / 10 : d);
      }
    }
    p.place = {0};
    p.demand.assign(n + 1, {1, 0});
    p.clock.assign(n + 1, {});
    p.stop_minutes.assign(n + 1, 4);
    for (std::size_t c = 1; c <= n; ++c) {
      p.place.push_back(1 + random() % (places - 1));
      p.clock[c].unloading = 5 + static_cast<double>(random() % 10);
      const double open = 400 + static_cast<double>(random() % 300);
      const int kind = static_cast<int>(random() % 3);
      if (kind == 1) p.clock[c].windows = {{open, open + 40 + static_cast<double>(random() % 80)}};
      if (kind == 2) p.clock[c].windows = {{open, open + 30}, {open + 100, open + 160}};
    }
    VehicleDay wide, short_day;
    wide.start = 380;
    wide.end = 1000;
    wide.loading = 15;
    short_day = wide;
    short_day.longest = 330;
    p.days = {wide, short_day};
    p.vehicles.assign(2, {1000, 1});
    for (std::size_t v = 0; v < 2; ++v) {
      // A route grown by customers put at the first place on time.
      std::vector<std::size_t> route;
      std::vector<char> in(n + 1, 0);
      for (int tries = 0; tries < 200 && route.size() < 16; ++tries) {
        const std::size_t c = 1 + random() % n;
        if (in[c]) continue;
        for (std::size_t pos = 0; pos <= route.size(); ++pos) {
          if (detail::WeighInsertionTwice(p, v, route, c, pos).through <
              std::numeric_limits<double>::infinity()) {
            route.insert(route.begin() + static_cast<std::ptrdiff_t>(pos), c);
            in[c] = 1;
            break;
          }
        }
      }
      ASSERT_GE(route.size(), 4u) << "seed " << seed;
      const Measured before = Measure(p, v, route);
      ASSERT_TRUE(before.on_time);
      for (std::size_t c = 1; c <= n; ++c) {
        if (in[c]) continue;
        for (std::size_t pos = 0; pos <= route.size(); ++pos) {
          const auto weighed = detail::WeighInsertionTwice(p, v, route, c, pos);
          std::vector<std::size_t> longer = route;
          longer.insert(longer.begin() + static_cast<std::ptrdiff_t>(pos), c);
          const Measured after = Measure(p, v, longer);
          const std::string where = "seed " + std::to_string(seed) + " vehicle " +
                                    std::to_string(v) + " customer " + std::to_string(c) +
                                    " place " + std::to_string(pos);
          ASSERT_EQ(weighed.beside == std::numeric_limits<double>::infinity(), !after.on_time)
              << where;
          ASSERT_EQ(weighed.through == std::numeric_limits<double>::infinity(), !after.on_time)
              << where;
          if (!after.on_time) {
            ++refused;
            continue;
          }
          ++finite;
          const double grows = after.distance - before.distance;
          EXPECT_NEAR(weighed.beside, grows, 1e-7) << where;
          EXPECT_NEAR(weighed.through, grows, 1e-7) << where;
        }
      }
    }
  }
  // Both kinds of answer were met often.
  EXPECT_GT(finite, 100u);
  EXPECT_GT(refused, 500u);
}

// Two routes crossed: 1 and 2 east of the branch, 3 and 4 north; the plan
// serves 1 with 4 and 3 with 2; a vehicle carries two.
TimedProblem Crossed() {
  TimedProblem p = Plane({{0, 0}, {10, 0}, {20, 0}, {0, 10}, {0, 20}});
  p.vehicles.assign(2, {2, 10});
  VehicleDay day;
  day.end = 1000;
  p.days = {day};
  return p;
}

double Distance(const TimedProblem& p, const std::vector<std::vector<std::size_t>>& routes) {
  double sum = 0;
  const std::size_t n = p.Nodes();
  for (const auto& r : routes) {
    std::size_t at = 0;
    for (std::size_t c : r) {
      sum += p.cost[at * n + c];
      at = c;
    }
    if (!r.empty()) sum += p.cost[at * n];
  }
  return sum;
}

bool Together(const std::vector<std::vector<std::size_t>>& routes, std::size_t a, std::size_t b) {
  for (const auto& r : routes) {
    const bool has_a = std::find(r.begin(), r.end(), a) != r.end();
    const bool has_b = std::find(r.begin(), r.end(), b) != r.end();
    if (has_a || has_b) return has_a && has_b;
  }
  return false;
}

// Polishes `routes` and checks what every polish keeps: nobody lost or
// twice, every window, room, pin and day held, never longer, and the same
// answer twice.
std::vector<std::vector<std::size_t>> PolishChecked(const TimedProblem& p,
                                                    std::vector<std::vector<std::size_t>> routes) {
  TimedSolution before;
  before.routes = routes;
  EXPECT_TRUE(IsTimedFeasible(p, before));
  std::vector<std::vector<std::size_t>> again = routes;
  detail::PolishTimedRoutes(p, routes, 100000);
  detail::PolishTimedRoutes(p, again, 100000);
  EXPECT_EQ(routes, again);
  TimedSolution after;
  after.routes = routes;
  EXPECT_TRUE(IsTimedFeasible(p, after));
  EXPECT_LE(Distance(p, routes), Distance(p, before.routes) + 1e-9);
  return routes;
}

TEST(PolishTimedRoutes, UncrossesRoutesOnlyWhereRoomPinsWindowsAndDaysHold) {
  auto polish = [](const TimedProblem& p) { return PolishChecked(p, {{1, 4}, {3, 2}}); };
  // Free: east with east, north with north.
  TimedProblem p = Crossed();
  std::vector<std::vector<std::size_t>> routes = polish(p);
  EXPECT_TRUE(Together(routes, 1, 2));
  EXPECT_TRUE(Together(routes, 3, 4));
  EXPECT_NEAR(Distance(p, routes), 80, 1e-9);
  // No room for 1 and 2 together.
  p = Crossed();
  p.vehicles.assign(2, {2.5, 10});
  p.demand[1].weight = p.demand[2].weight = 1.5;
  p.demand[3].weight = p.demand[4].weight = 0.5;
  EXPECT_FALSE(Together(polish(p), 1, 2));
  // 1 must be first (open until 12) and 2 reached by 33: a long unloading
  // at 1 makes 2 late after it, and 1 late after 2.
  p = Crossed();
  p.clock[1].windows = {{0, 12}};
  p.clock[1].unloading = 15;
  p.clock[2].windows = {{0, 33}};
  EXPECT_FALSE(Together(polish(p), 1, 2));
  // The first vehicle's day ends at 60 and 2 is received from 55 on: 2
  // never goes on it, however much shorter.
  p = Crossed();
  VehicleDay short_day, long_day;
  short_day.end = 60;
  long_day.end = 1000;
  p.days = {short_day, long_day};
  p.clock[2].windows = {{55, 500}};
  routes = polish(p);
  EXPECT_TRUE(std::find(routes[0].begin(), routes[0].end(), 2) == routes[0].end());
  // 1 pinned to the first vehicle, 2 to the second.
  p = Crossed();
  p.pinned = {kAnyVehicle, 0, 1, kAnyVehicle, kAnyVehicle};
  EXPECT_FALSE(Together(polish(p), 1, 2));
}

TEST(PolishTimedRoutes, OneCustomerPerVehicleIsMergedWithNothingLostAndTheSameTwice) {
  // A day with windows and breaks, each customer alone on a vehicle: the
  // moves merge and shorten routes; every answer is on time, complete,
  // no longer, and the same twice.
  for (unsigned seed = 1; seed <= 6; ++seed) {
    TimedProblem p = RandomDay(30, seed);
    p.days[0].end = 1440;
    p.days[0].longest = 1000;
    std::vector<std::vector<std::size_t>> alone(p.vehicles.size());
    for (std::size_t c = 1; c <= p.customers; ++c) alone[c - 1] = {c};
    TimedSolution start;
    start.routes = alone;
    ASSERT_TRUE(IsTimedFeasible(p, start)) << "seed " << seed;
    std::vector<std::vector<std::size_t>> once = alone, twice = alone;
    detail::PolishTimedRoutes(p, once, 1000000);
    detail::PolishTimedRoutes(p, twice, 1000000);
    EXPECT_EQ(once, twice) << "seed " << seed;
    TimedSolution polished;
    polished.routes = once;
    EXPECT_TRUE(IsTimedFeasible(p, polished)) << "seed " << seed;
    EXPECT_LT(Distance(p, once), Distance(p, alone)) << "seed " << seed;
    std::size_t used = 0;
    for (const auto& r : once) used += r.empty() ? 0 : 1;
    EXPECT_LT(used, p.customers) << "seed " << seed;
  }
}

// Two pairs on the wrong vehicles: 1 and 2 west of the branch on the first
// route with 5, which is pinned there and lies east; 3 and 4 east on the
// second route after 6, pinned there and west. Each vehicle carries three:
// no customer can move alone, and no single exchange shortens the plan,
// only the two pairs exchanged whole.
TimedProblem Pairs() {
  TimedProblem p = Plane({{0, 0}, {-50, 1}, {-50, -1}, {50, 1}, {50, -1}, {45, 0}, {-45, 10}});
  p.vehicles.assign(2, {3, 10});
  VehicleDay day;
  day.end = 1000;
  p.days = {day};
  p.pinned = {kAnyVehicle, kAnyVehicle, kAnyVehicle, kAnyVehicle, kAnyVehicle, 0, 1};
  return p;
}

TEST(PolishTimedRoutes, ExchangesStringsOnlyWhereRoomWindowsAndPinsHold) {
  auto polish = [](const TimedProblem& p) { return PolishChecked(p, {{1, 2, 5}, {6, 3, 4}}); };
  TimedProblem p = Pairs();
  std::vector<std::vector<std::size_t>> routes = polish(p);
  EXPECT_TRUE(Together(routes, 3, 5));
  EXPECT_TRUE(Together(routes, 1, 6));
  EXPECT_LT(Distance(p, routes), 220);
  // 1 is received until 52: reached first from the branch (at 50) but not
  // after 6 (at 56).
  p = Pairs();
  p.clock[1].windows = {{0, 52}};
  EXPECT_FALSE(Together(polish(p), 1, 6));
  // The second vehicle has room for 3 only, and 1 weighs 1.6.
  p = Pairs();
  p.vehicles = {{3.6, 10}, {3, 10}};
  p.demand[1].weight = 1.6;
  EXPECT_FALSE(Together(polish(p), 1, 6));
}

TEST(PolishTimedRoutes, ReordersARouteOnlyWhereItsWindowsAndDayHold) {
  // One vehicle, four corners of a square visited across it.
  auto square = [] {
    TimedProblem p = Plane({{0, 0}, {10, 10}, {10, -10}, {-10, -10}, {-10, 10}});
    p.vehicles.assign(1, {10, 10});
    VehicleDay day;
    day.end = 1000;
    p.days = {day};
    return p;
  };
  auto polish = [](const TimedProblem& p, std::vector<std::size_t> start) {
    return PolishChecked(p, {std::move(start)});
  };
  const double around = 60 + 2 * std::sqrt(200.0);
  TimedProblem p = square();
  EXPECT_NEAR(Distance(p, polish(p, {1, 3, 2, 4})), around, 1e-9);
  // 3 received until 45: first or second (at 42.4 after 1), never third
  // (at 54.1); the way round from it is still found.
  p = square();
  p.clock[3].windows = {{0, 45}};
  EXPECT_NEAR(Distance(p, polish(p, {1, 3, 2, 4})), around, 1e-9);
  // 2 received from 100 on and the day ends at 125: 2 stays last (from 2
  // the branch is 14.1 away; after it, any other corner is 20 away and the
  // return later than 125), and the way round to it is found.
  p = square();
  p.clock[2].windows = {{100, 200}};
  p.days[0].end = 125;
  const std::vector<std::vector<std::size_t>> routes = polish(p, {1, 3, 4, 2});
  EXPECT_EQ(routes[0].back(), 2u);
  EXPECT_NEAR(Distance(p, routes), around, 1e-9);
}

TEST(PolishTimedRoutes, TurnsAStretchOfARouteBackOnlyWhereItsWindowsHold) {
  // Six customers on a line out of the branch, the middle four visited
  // from the far end back: 180 against 120 in order.
  auto line = [] {
    TimedProblem p = Plane({{0, 0}, {10, 0}, {20, 0}, {30, 0}, {40, 0}, {50, 0}, {60, 0}});
    p.vehicles.assign(1, {10, 10});
    VehicleDay day;
    day.end = 1000;
    p.days = {day};
    return p;
  };
  const std::vector<std::size_t> turned = {1, 5, 4, 3, 2, 6};
  TimedProblem p = line();
  EXPECT_NEAR(Distance(p, PolishChecked(p, {turned})), 120, 1e-9);
  // 5 received until 55 and 2 from 70 on: in order, 5 would be reached at
  // 100; 5 stays before 2.
  p = line();
  p.clock[5].windows = {{0, 55}};
  p.clock[2].windows = {{70, 200}};
  const std::vector<std::size_t> route = PolishChecked(p, {turned})[0];
  ASSERT_EQ(route.size(), 6u);
  EXPECT_LT(std::find(route.begin(), route.end(), 5), std::find(route.begin(), route.end(), 2));
}

TEST(IsTimedFeasible, CatchesABrokenWindowDayRoomAndLostOrRepeatedCustomer) {
  TimedProblem p = Plane({{0, 0}, {10, 0}, {20, 0}});
  p.vehicles.assign(2, {2, 1});
  VehicleDay day;
  day.end = 100;
  p.days = {day};
  p.clock[1].windows = {{0, 50}};
  TimedSolution s;
  s.routes = {{1, 2}, {}};
  EXPECT_TRUE(IsTimedFeasible(p, s));
  s.routes = {{2, 1}, {}};  // client 1 reached at 30: still on time
  EXPECT_TRUE(IsTimedFeasible(p, s));
  p.clock[1].windows = {{0, 25}};  // now late
  EXPECT_FALSE(IsTimedFeasible(p, s));
  p.clock[1].windows.clear();
  p.days[0].end = 39;  // back at 40
  EXPECT_FALSE(IsTimedFeasible(p, s));
  p.days[0].end = 100;
  p.days[0].longest = 39;
  EXPECT_FALSE(IsTimedFeasible(p, s));
  p.days[0].longest = 100;
  EXPECT_TRUE(IsTimedFeasible(p, s));
  p.demand[2].weight = 1.5;  // 2.5 in a room of 2
  EXPECT_FALSE(IsTimedFeasible(p, s));
  p.demand[2].weight = 1;
  s.routes = {{2}, {}};
  EXPECT_FALSE(IsTimedFeasible(p, s));  // client 1 lost
  s.routes = {{2, 1}, {1}};
  EXPECT_FALSE(IsTimedFeasible(p, s));  // client 1 twice
}

}  // namespace
}  // namespace dg::planning
