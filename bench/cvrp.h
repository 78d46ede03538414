// A CVRP instance as the routing with capacity sees it, and the start the
// benchmark gives the search: shared by exp-bench-routing and its test.
//
// Demand is weight (volume 0), the instance's capacity is every vehicle's
// room, the depot is the branch (node 0), the customers follow in file
// order. With exactly k vehicles the fleet is k vehicles, all of them in
// use; otherwise the fleet is free (one vehicle per customer).
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "bench/tsplib.h"
#include "planning/routing.h"

namespace dg::bench {

inline planning::RoutingProblem CvrpProblem(const TsplibInstance& inst, bool exactly_k,
                                            std::size_t k) {
  const std::size_t n = inst.dimension - 1;
  std::vector<std::size_t> node = {inst.depot};
  for (std::size_t i = 0; i < inst.dimension; ++i) {
    if (i != inst.depot) node.push_back(i);
  }
  planning::RoutingProblem p;
  p.customers = n;
  p.cost.assign((n + 1) * (n + 1), 0);
  for (std::size_t i = 0; i <= n; ++i) {
    for (std::size_t j = 0; j <= n; ++j) p.cost[i * (n + 1) + j] = inst.Distance(node[i], node[j]);
  }
  p.demand.assign(n + 1, {});
  for (std::size_t i = 1; i <= n; ++i) p.demand[i] = {inst.demand[node[i]], 0};
  p.vehicles.assign(exactly_k ? k : n, {inst.capacity, 0});
  if (exactly_k) p.max_used = p.min_used = k;
  return p;
}

inline std::size_t UsedVehicles(const planning::RoutingSolution& s) {
  return static_cast<std::size_t>(
      std::count_if(s.routes.begin(), s.routes.end(), [](const auto& r) { return !r.empty(); }));
}

// The savings routes as the search's start; with exactly k vehicles the
// smallest routes (by load) are left out until no more than k remain, and
// the search places their customers.
inline planning::RoutingSolution CvrpStart(const planning::RoutingProblem& p,
                                           planning::RoutingSolution savings, bool exactly_k,
                                           std::size_t k) {
  if (exactly_k) {
    auto load = [&](const std::vector<std::size_t>& r) {
      double w = 0;
      for (std::size_t c : r) w += p.demand[c].weight;
      return w;
    };
    std::stable_sort(savings.routes.begin(), savings.routes.end(),
                     [&](const auto& a, const auto& b) { return load(a) > load(b); });
    if (savings.routes.size() > k) savings.routes.resize(k);
  }
  savings.routes.resize(p.vehicles.size());
  return savings;
}

}  // namespace dg::bench
