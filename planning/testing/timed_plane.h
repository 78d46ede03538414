// Shared by the tests of the routing with the clock: customers on a plane,
// node 0 the branch, travel minutes equal to the distance.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "planning/timed_routing.h"

namespace dg::planning::testing {

struct Point {
  double x = 0, y = 0;
};

// Each customer demands `each`; no windows, vehicles or days yet.
inline TimedProblem OnPlane(const std::vector<Point>& at, RouteLoad each) {
  TimedProblem p;
  const std::size_t n = at.size();
  p.customers = n - 1;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j)
      p.cost.push_back(std::hypot(at[i].x - at[j].x, at[i].y - at[j].y));
  }
  p.demand.assign(n, each);
  p.clock.assign(n, {});
  return p;
}

}  // namespace dg::planning::testing
