// Taking routes out of a plan with time windows: a route that can go does,
// one that cannot stays, every answer keeps its windows, day and room, with
// each customer once, and the same input gives the same answer.
#include "planning/timed_route_minimise.h"
#include "planning/testing/timed_plane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace dg::planning {
namespace {

using testing::Point;

TimedProblem Plane(const std::vector<Point>& at, std::size_t vehicles, double room) {
  TimedProblem p = testing::OnPlane(at, {1, 0});
  p.vehicles.assign(vehicles, {room, 1});
  VehicleDay day;
  day.start = 0;
  day.end = 1000;
  day.longest = 1000;
  p.days = {day};
  return p;
}

TimedSolution AsSolution(const std::vector<std::vector<std::size_t>>& routes) {
  TimedSolution s;
  s.routes = routes;
  return s;
}

std::size_t Used(const std::vector<std::vector<std::size_t>>& routes) {
  std::size_t used = 0;
  for (const auto& r : routes) used += r.empty() ? 0 : 1;
  return used;
}

// Six clients on a line east of the branch with wide windows: one vehicle
// each is wasteful, two (room three each) serve them all.
TimedProblem Line() {
  TimedProblem p = Plane({{0, 0}, {10, 0}, {20, 0}, {30, 0}, {40, 0}, {50, 0}, {60, 0}}, 6, 3);
  for (std::size_t c = 1; c <= 6; ++c) {
    p.clock[c].windows = {{0, 400}};
    p.clock[c].unloading = 5;
  }
  return p;
}

TEST(MinimiseTimedRoutes, EmptiesRoutesTheOthersCanTake) {
  const TimedProblem p = Line();
  std::vector<std::vector<std::size_t>> routes = {{1}, {2}, {3}, {4}, {5}, {6}};
  ASSERT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  MinimiseTimedRoutes(p, routes, 200'000, 1);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  // The room allows no fewer than two.
  EXPECT_EQ(Used(routes), 2u);
}

TEST(MinimiseTimedRoutes, StopsAtTheCountTheRoomsNeed) {
  // The room allows no fewer than two: told so, the search stops there
  // instead of spending its whole budget on a third route it cannot take
  // out; told three, it leaves three.
  const TimedProblem p = Line();
  const std::vector<std::vector<std::size_t>> start = {{1}, {2}, {3}, {4}, {5}, {6}};
  std::vector<std::vector<std::size_t>> unbounded = start, bounded = start, three = start;
  const std::uint64_t budget = 200'000;
  const std::uint64_t all = MinimiseTimedRoutes(p, unbounded, budget, 1);
  const std::uint64_t some = MinimiseTimedRoutes(p, bounded, budget, 1, 2);
  EXPECT_EQ(Used(unbounded), 2u);
  EXPECT_EQ(Used(bounded), 2u);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(bounded)));
  EXPECT_GE(all, budget / 2);
  EXPECT_LT(some, budget / 10);
  MinimiseTimedRoutes(p, three, budget, 1, 3);
  EXPECT_EQ(Used(three), 3u);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(three)));
}

TEST(MinimiseTimedRoutes, PutsCustomersOutToLetOthersIn) {
  // Route A is full (room three) near the branch to the east; route B
  // serves two clients far to the west early; client 6, east, must be
  // served by 00:30. B cannot take 6 on time, A has no room: 6 goes in
  // only by putting one of A's clients out, who then rides with B.
  TimedProblem p = Plane(
      {{0, 0}, {10, 0}, {11, 0}, {12, 0}, {-50, 0}, {-51, 0}, {13, 0}}, 3, 3);
  p.clock[4].windows = {{50, 60}};
  p.clock[5].windows = {{51, 62}};
  p.clock[6].windows = {{0, 30}};
  std::vector<std::vector<std::size_t>> routes = {{1, 2, 3}, {4, 5}, {6}};
  ASSERT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  MinimiseTimedRoutes(p, routes, 200'000, 3);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  EXPECT_EQ(Used(routes), 2u);
}

TEST(MinimiseTimedRoutes, KeepsRoutesThatCannotGoAndPinnedCustomers) {
  // Four clients in four directions, all receiving from 01:00 to 01:10:
  // only the two near ones (3 and 4) can share a vehicle. 4 is pinned to
  // vehicle 3 and vehicle 2 counts as in use whatever it carries, so the
  // least is three vehicles: 1 and 2 apart, 3 with 4.
  TimedProblem p = Plane({{0, 0}, {60, 0}, {-60, 0}, {0, 5}, {0, -5}}, 4, 10);
  for (std::size_t c = 1; c <= 4; ++c) p.clock[c].windows = {{60, 70}};
  p.in_use = {0, 0, 1, 0};
  p.pinned = {kAnyVehicle, kAnyVehicle, kAnyVehicle, kAnyVehicle, 3};
  std::vector<std::vector<std::size_t>> routes = {{1}, {2}, {3}, {4}};
  ASSERT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  MinimiseTimedRoutes(p, routes, 100'000, 1);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  EXPECT_EQ(routes[3], std::vector<std::size_t>({3, 4}));
  std::size_t used = 0;
  for (std::size_t v = 0; v < 4; ++v) used += routes[v].empty() && !p.in_use[v] ? 0 : 1;
  EXPECT_EQ(used, 3u);
  // Without the pin nor the vehicle in use, the same: 1 and 2 never share.
  p.pinned.clear();
  p.in_use.clear();
  routes = {{1}, {2}, {3}, {4}};
  MinimiseTimedRoutes(p, routes, 100'000, 1);
  EXPECT_TRUE(IsTimedFeasible(p, AsSolution(routes)));
  EXPECT_EQ(Used(routes), 3u);
}

// A random day with breaks, a working day, two windows for some clients
// and clients sharing places: the plans the search takes routes out of.
TimedProblem BusyDay(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> coord(-40, 40);
  std::vector<Point> at(n + 1);
  for (std::size_t i = 1; i <= n; ++i) at[i] = {coord(random), coord(random)};
  TimedProblem p = Plane(at, n, 8);
  for (std::size_t c = 1; c <= n; ++c) {
    p.demand[c] = {static_cast<double>(1 + random() % 3), 0};
    p.clock[c].unloading = 10;
    const double open = 420 + static_cast<double>(random() % 300);
    if (c % 3 == 1) p.clock[c].windows = {{open, open + 90}};
    if (c % 3 == 2) p.clock[c].windows = {{open, open + 45}, {open + 150, open + 240}};
  }
  VehicleDay day;
  day.start = 420;
  day.end = 1140;
  day.longest = 560;
  day.loading = 15;
  day.breaks = {180, 30};
  p.days = {day};
  return p;
}

TEST(MinimiseTimedRoutes, AnswersKeepEveryRuleAndRepeat) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const TimedProblem p = BusyDay(30, seed);
    // One customer per vehicle, where it can be served on time alone.
    std::vector<std::vector<std::size_t>> start(p.vehicles.size());
    for (std::size_t c = 1; c <= p.customers; ++c) start[c - 1] = {c};
    ASSERT_TRUE(IsTimedFeasible(p, AsSolution(start))) << "seed " << seed;
    std::vector<std::vector<std::size_t>> a = start, b = start;
    MinimiseTimedRoutes(p, a, 300'000, seed);
    MinimiseTimedRoutes(p, b, 300'000, seed);
    EXPECT_TRUE(IsTimedFeasible(p, AsSolution(a))) << "seed " << seed;
    EXPECT_EQ(a, b) << "seed " << seed;
    EXPECT_LT(Used(a), p.customers / 2) << "seed " << seed;
  }
}

TEST(MinimiseTimedRoutes, LeavesAPlanOffTimeAsItIs) {
  TimedProblem p = Line();
  p.clock[6].windows = {{0, 10}};  // 60 away: late whatever the route
  std::vector<std::vector<std::size_t>> routes = {{1, 6}, {2}, {3}, {4}, {5}, {}};
  const auto before = routes;
  EXPECT_EQ(MinimiseTimedRoutes(p, routes, 100'000, 1), 1u);
  EXPECT_EQ(routes, before);
}

}  // namespace
}  // namespace dg::planning
