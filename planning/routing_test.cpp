#include "planning/routing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

namespace dg::planning {
namespace {

// Customers on a plane around the depot at (0, 0).
RoutingProblem Plane(const std::vector<std::pair<double, double>>& customers,
                     const std::vector<RouteLoad>& demand, const std::vector<RouteLoad>& vehicles) {
  RoutingProblem p;
  p.customers = customers.size();
  std::vector<std::pair<double, double>> points = {{0, 0}};
  points.insert(points.end(), customers.begin(), customers.end());
  p.cost.assign(points.size() * points.size(), 0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t j = 0; j < points.size(); ++j) {
      p.cost[i * points.size() + j] =
          std::hypot(points[i].first - points[j].first, points[i].second - points[j].second);
    }
  }
  p.demand = {RouteLoad{}};
  p.demand.insert(p.demand.end(), demand.begin(), demand.end());
  p.vehicles = vehicles;
  return p;
}

// "v0: 1 2 | v1: 3" for the vehicles in use.
std::string Print(const RoutingSolution& s) {
  std::ostringstream out;
  for (std::size_t v = 0; v < s.routes.size(); ++v) {
    if (s.routes[v].empty()) continue;
    if (out.tellp() > 0) out << " | ";
    out << "v" << v << ":";
    for (std::size_t c : s.routes[v]) out << " " << c;
  }
  return out.str();
}

// The least cost over every assignment of customers to vehicles and every
// order, feasible or not counted.
double BruteForce(const RoutingProblem& p, RoutingSolution* where = nullptr) {
  double best = std::numeric_limits<double>::infinity();
  const std::size_t n = p.customers, m = p.vehicles.size();
  std::vector<std::size_t> vehicle(n + 1, 0);
  std::function<void(std::size_t)> assign = [&](std::size_t c) {
    if (c > n) {
      RoutingSolution s;
      s.routes.resize(m);
      for (std::size_t k = 1; k <= n; ++k) s.routes[vehicle[k]].push_back(k);
      // Every order inside each route: permute route by route.
      std::function<void(std::size_t)> order = [&](std::size_t v) {
        if (v == m) {
          if (IsFeasible(p, s) && RoutingCost(p, s) < best) {
            best = RoutingCost(p, s);
            if (where) *where = s;
          }
          return;
        }
        std::sort(s.routes[v].begin(), s.routes[v].end());
        do {
          order(v + 1);
        } while (std::next_permutation(s.routes[v].begin(), s.routes[v].end()));
      };
      order(0);
      return;
    }
    for (std::size_t v = 0; v < m; ++v) {
      vehicle[c] = v;
      assign(c + 1);
    }
  };
  assign(1);
  return best;
}

TEST(Routing, FeasibilityCheckCatchesEveryBreach) {
  RoutingProblem p =
      Plane({{1, 0}, {0, 1}, {-1, 0}}, {{5, 0.1}, {5, 0.1}, {5, 0.1}}, {{10, 1}, {10, 0.15}});
  EXPECT_TRUE(IsFeasible(p, {{{1, 2}, {3}}, 0}));
  EXPECT_FALSE(IsFeasible(p, {{{1, 2, 3}, {}}, 0})) << "15 kg on a 10 kg vehicle";
  EXPECT_FALSE(IsFeasible(p, {{{1}, {2, 3}}, 0})) << "0.2 m3 in 0.15 m3";
  EXPECT_FALSE(IsFeasible(p, {{{1, 2}, {2}}, 0})) << "customer 2 twice, 3 missing";
  EXPECT_FALSE(IsFeasible(p, {{{1, 2}, {}}, 0})) << "customer 3 missing";
  p.max_used = 1;
  EXPECT_FALSE(IsFeasible(p, {{{1, 2}, {3}}, 0})) << "two vehicles where one is allowed";
  p.max_used = 2;
  p.min_used = 2;
  p.vehicles[0].weight = 20;
  EXPECT_FALSE(IsFeasible(p, {{{1, 2, 3}, {}}, 0})) << "one vehicle where two are required";
  p.in_use = {0, 1};
  EXPECT_TRUE(IsFeasible(p, {{{1, 2, 3}, {}}, 0})) << "the second carries something else";
  // Rounded to 3 decimals, as the packing compares.
  p = Plane({{1, 0}}, {{10.0004, 0}}, {{10, 0}});
  EXPECT_TRUE(IsFeasible(p, {{{1}}, 0}));
}

TEST(Routing, MatchesBruteForceOnSmallInstances) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> coordinate(-50, 50);
  for (int round = 0; round < 12; ++round) {
    std::vector<std::pair<double, double>> where;
    std::vector<RouteLoad> demand;
    const std::size_t n = 4 + rng() % 3;
    for (std::size_t c = 0; c < n; ++c) {
      where.push_back({coordinate(rng), coordinate(rng)});
      demand.push_back({static_cast<double>(1 + rng() % 4), (1 + rng() % 3) * 0.1});
    }
    // Three vehicles of different rooms; at most two in use.
    RoutingProblem p = Plane(where, demand, {{6, 1}, {8, 0.6}, {12, 0.9}});
    p.max_used = 2;
    // Everything on the largest vehicle where it fits; else nothing placed,
    // and the search places it.
    RoutingSolution start;
    start.routes = {{}, {}, {}};
    for (std::size_t c = 1; c <= n; ++c) start.routes[2].push_back(c);
    if (!IsFeasible(p, start)) start.routes[2].clear();
    RoutingSolution optimal;
    const double best = BruteForce(p, &optimal);
    RoutingOptions options;
    options.effort = 200'000;
    const RoutingSolution r = SolveRouting(p, start, options);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + Print(r) + ", optimum " +
                 Print(optimal));
    if (best == std::numeric_limits<double>::infinity()) {
      EXPECT_FALSE(IsFeasible(p, r));
      continue;
    }
    EXPECT_TRUE(IsFeasible(p, r));
    EXPECT_NEAR(r.cost, best, 1e-9);
    EXPECT_NEAR(r.cost, RoutingCost(p, r), 1e-9);
  }
}

// Two clusters far apart, each filling one vehicle: the search separates
// them however mixed the start, and gives the same answer every time.
TEST(Routing, SeparatesClustersAndIsDeterministic) {
  std::vector<std::pair<double, double>> where;
  for (int k = 0; k < 6; ++k) where.push_back({100 + k, 0});
  for (int k = 0; k < 6; ++k) where.push_back({-100 - k, 0});
  RoutingProblem p = Plane(where, std::vector<RouteLoad>(12, {1, 0}), {{6, 0}, {6, 0}, {6, 0}});
  p.max_used = 2;
  RoutingSolution mixed;
  mixed.routes = {{1, 7, 2, 8, 3, 9}, {4, 10, 5, 11, 6, 12}, {}};
  ASSERT_TRUE(IsFeasible(p, mixed));
  RoutingOptions options;
  options.effort = 2'000'000;
  const RoutingSolution r = SolveRouting(p, mixed, options);
  EXPECT_TRUE(IsFeasible(p, r));
  EXPECT_NEAR(r.cost, 4 * 105, 1e-9);
  EXPECT_EQ(Print(r), Print(SolveRouting(p, mixed, options)));
}

// A start that leaves customers out (the packing could not place them) and
// uses fewer vehicles than required: the search finds a feasible answer.
TEST(Routing, CompletesAnIncompleteStart) {
  std::vector<std::pair<double, double>> where;
  std::vector<RouteLoad> demand;
  for (int k = 0; k < 9; ++k) {
    where.push_back({std::cos(k * 0.7) * 10, std::sin(k * 0.7) * 10});
    demand.push_back({static_cast<double>(2 + k % 3), 0});  // 27 in all
  }
  RoutingProblem p = Plane(where, demand, {{9, 0}, {9, 0}, {9, 0}});
  p.min_used = p.max_used = 3;
  RoutingSolution start;
  start.routes = {{1, 2}, {}, {}};
  RoutingOptions options;
  options.effort = 2'000'000;
  const RoutingSolution r = SolveRouting(p, start, options);
  EXPECT_TRUE(IsFeasible(p, r)) << Print(r);
  // Nothing feasible to find: the start comes back, and says so.
  p.vehicles = {{8, 0}, {8, 0}, {8, 0}};
  const RoutingSolution none = SolveRouting(p, start, options);
  EXPECT_FALSE(IsFeasible(p, none));
  EXPECT_EQ(Print(none), Print(start));
}

// Customers in a few clusters around the depot, demands of 1 to 9.
RoutingProblem Clustered(std::size_t n, std::uint32_t seed,
                         const std::vector<RouteLoad>& vehicles) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> angle(0, 6.283), spread(-40, 40), radius(100, 900);
  std::vector<std::pair<double, double>> centres, where;
  for (int k = 0; k < 7; ++k) {
    const double a = angle(rng), r = radius(rng);
    centres.push_back({r * std::cos(a), r * std::sin(a)});
  }
  std::vector<RouteLoad> demand;
  for (std::size_t c = 0; c < n; ++c) {
    const auto& centre = centres[rng() % centres.size()];
    where.push_back({centre.first + spread(rng), centre.second + spread(rng)});
    demand.push_back({static_cast<double>(1 + rng() % 9), 0.01 * static_cast<double>(rng() % 5)});
  }
  return Plane(where, demand, vehicles);
}

// Problems larger than the small ones above, where a customer is put back
// only beside its nearest ones: a free fleet, exactly k vehicles of mixed
// rooms, and vehicles in use for something else. Every answer serves every
// customer once within the rooms and the vehicle limits, costs what its
// routes cost, no more than its start (and clearly less than the savings
// routes), and comes out the same twice.
TEST(Routing, LargeProblemsStayFeasibleNoCostlierAndRepeat) {
  const RoutingOptions options = [] {
    RoutingOptions o;
    o.effort = 6'000'000;
    return o;
  }();
  auto check = [&](const RoutingProblem& p, const RoutingSolution& start) {
    const RoutingSolution r = SolveRouting(p, start, options);
    EXPECT_TRUE(IsFeasible(p, r));
    EXPECT_NEAR(r.cost, RoutingCost(p, r), 1e-6);
    if (IsFeasible(p, start)) {
      EXPECT_LE(r.cost, RoutingCost(p, start) + 1e-6);
    }
    EXPECT_EQ(Print(r), Print(SolveRouting(p, start, options)));
    return r;
  };
  {
    SCOPED_TRACE("free fleet");
    RoutingProblem p = Clustered(260, 5, std::vector<RouteLoad>(260, {60, 10}));
    const RoutingSolution savings = SavingsRoutes(p);
    RoutingSolution start = savings;
    start.routes.resize(p.vehicles.size());
    const RoutingSolution r = check(p, start);
    EXPECT_LT(r.cost, TwoOptRoutes(p, savings).cost);
  }
  {
    SCOPED_TRACE("exactly k of mixed rooms, from an empty start");
    std::vector<RouteLoad> fleet;
    for (int k = 0; k < 30; ++k) fleet.push_back({k % 3 == 0 ? 50.0 : 40.0, 5});
    RoutingProblem p = Clustered(240, 9, fleet);
    p.min_used = p.max_used = 30;
    check(p, RoutingSolution{std::vector<std::vector<std::size_t>>(fleet.size()), 0});
  }
  {
    // The room needs every vehicle the limit allows, among them two that
    // carry something else and start without customers.
    SCOPED_TRACE("vehicles in use for something else");
    RoutingProblem p = Clustered(230, 11, std::vector<RouteLoad>(24, {50, 10}));
    double total = 0;
    for (std::size_t c = 1; c <= p.customers; ++c) total += p.demand[c].weight;
    p.max_used = static_cast<std::size_t>(std::ceil(total / 50 * 1.06));
    p.in_use.assign(p.vehicles.size(), 0);
    p.in_use[3] = p.in_use[17] = 1;
    const RoutingSolution r =
        check(p, RoutingSolution{std::vector<std::vector<std::size_t>>(p.vehicles.size()), 0});
    EXPECT_FALSE(r.routes[3].empty() && r.routes[17].empty());
  }
}

TEST(Routing, EffortGrowsWithTheCustomersWithinItsBounds) {
  RoutingOptions o;
  o.effort_per_customer = 1'000;
  o.min_effort = 50'000;
  o.max_effort = 400'000;
  EXPECT_EQ(RoutingEffort(o, 10), 50'000u);
  EXPECT_EQ(RoutingEffort(o, 120), 120'000u);
  EXPECT_EQ(RoutingEffort(o, 1'000), 400'000u);
  o.effort_per_customer = std::numeric_limits<std::uint64_t>::max() / 2;
  EXPECT_EQ(RoutingEffort(o, 3), 400'000u) << "no overflow past the cap";
  o.effort = 7;
  EXPECT_EQ(RoutingEffort(o, 1'000), 7u) << "a caller's own budget wins";
}

TEST(Routing, SavingsMergesWhileTheLoadFits) {
  // Four customers on a line: two routes of two.
  const RoutingProblem p =
      Plane({{1, 0}, {2, 0}, {3, 0}, {4, 0}}, std::vector<RouteLoad>(4, {1, 0}), {{2, 0}});
  const RoutingSolution s = SavingsRoutes(p);
  EXPECT_EQ(Print(s), "v0: 1 2 | v1: 3 4");
  EXPECT_DOUBLE_EQ(s.cost, 8 + 4);
  EXPECT_DOUBLE_EQ(TwoOptRoutes(p, s).cost, 12);
}

}  // namespace
}  // namespace dg::planning
