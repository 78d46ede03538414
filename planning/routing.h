// Routing with capacity: which vehicle serves which customer, and in what
// order, so that the routes from the depot (the branch) through their
// customers and back are shortest in total, no vehicle carries more than its
// room in weight or volume, and no more vehicles are used than allowed.
//
// Pure functions of their inputs, independent of storage and transport.
// Deterministic: a fixed seed and an effort counted in evaluated moves,
// never in time, so one input always gives one answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace dg::planning {

// Weight and volume. Intentionally copyable.
struct RouteLoad {
  double weight = 0;
  double volume = 0;
};

// Node 0 is the depot; nodes 1..customers are the customers (a customer is
// anything that travels whole: an order at its client's place). Intentionally
// copyable.
struct RoutingProblem {
  std::size_t customers = 0;
  // Cost from node i to node j at [i * (customers + 1) + j]. REQUIRES:
  // symmetric.
  std::vector<double> cost;
  // Per node; demand[0] is ignored.
  std::vector<RouteLoad> demand;
  // Room of each vehicle.
  std::vector<RouteLoad> vehicles;
  // Vehicles that count as in use even without customers (they carry
  // something else); empty: none.
  std::vector<char> in_use;
  // Vehicles in use: at most max_used, at least min_used (a fleet of exactly
  // k: both k).
  std::size_t max_used = std::numeric_limits<std::size_t>::max();
  std::size_t min_used = 0;

  double Cost(std::size_t i, std::size_t j) const { return cost[i * (customers + 1) + j]; }
};

// The customers of each vehicle in visiting order (an empty route for an
// unused vehicle). Intentionally copyable.
struct RoutingSolution {
  std::vector<std::vector<std::size_t>> routes;  // one per vehicle
  double cost = 0;
};

// How hard SolveRouting works. Intentionally copyable.
struct RoutingOptions {
  // Steps of the search (places and vehicles weighed for a customer, customers
  // moved) per customer, at least min_effort and at most max_effort: the
  // effort grows with the problem. On the benchmark machine a step costs
  // 5 to 11 ns (more on larger problems), so a problem of n customers takes
  // about 0.9 s of CPU per 100 customers, 0.5 s at most below 100.
  std::uint64_t effort_per_customer = 800'000;
  std::uint64_t min_effort = 100'000'000;
  std::uint64_t max_effort = 800'000'000;
  // When not 0, the whole effort instead, whatever the size (a caller that
  // budgets the search itself).
  std::uint64_t effort = 0;
};

// The steps SolveRouting spends on `customers` customers.
std::uint64_t RoutingEffort(const RoutingOptions& options, std::size_t customers);

// Total cost of the routes (depot -> customers -> depot for each non-empty
// route).
double RoutingCost(const RoutingProblem& problem, const RoutingSolution& solution);

// Whether every customer is served exactly once, no vehicle's room is
// exceeded (rounded to 3 decimals, as the packing compares) and the
// vehicles in use respect the limits.
bool IsFeasible(const RoutingProblem& problem, const RoutingSolution& solution);

// Improves `start` by ruin and recreate (removal of strings of neighbouring
// customers from a few routes, reinsertion at the cheapest places, accepted
// by simulated annealing), then 2-opt inside each route. REQUIRES: `start`
// holds each customer at most once. It may leave customers out, or use fewer vehicles than
// min_used: the search first looks for a feasible solution. Answers the best feasible solution
// found (no costlier than a feasible `start`), or `start` itself when it found none; IsFeasible
// tells which.
RoutingSolution SolveRouting(const RoutingProblem& problem, const RoutingSolution& start,
                             const RoutingOptions& options = {});

// The references the benchmark measures against: the savings construction
// (parallel; merges while the load fits; as many vehicles as it takes, all
// of the first vehicle's room), and the same followed by 2-opt inside each
// route.
RoutingSolution SavingsRoutes(const RoutingProblem& problem);
RoutingSolution TwoOptRoutes(const RoutingProblem& problem, RoutingSolution solution);

}  // namespace dg::planning
