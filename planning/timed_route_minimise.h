// Fewer vehicles for a plan with time windows: one route at a time is taken
// out and its customers put back on the others, a customer with no place on
// time going in by putting out the fewest (and least troublesome) customers
// already placed, who then look for places in their turn.
//
// Used by SolveTimedRouting between its first plan and its search for the
// least distance. A pure function of its inputs; deterministic: a fixed seed
// and an effort counted in steps, never in time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planning/timed_routing.h"

namespace dg::planning {

// `routes` holds a plan in which every route keeps its windows, working day
// and room (one route per vehicle, empty for an unused one; customers with
// no place at all left out). Takes routes out of it while each one's
// customers all find places again within `effort` steps (an evaluated
// insertion, or a set of customers considered for putting out); a route
// whose customers do not all find places is restored as it was. Routes of
// vehicles that count as in use, or that carry a customer pinned to their
// vehicle, are kept. It stops once no more than `fewest` routes are in use
// (the count the rooms alone need: no plan does with fewer). Answers the
// steps spent (at most about `effort`).
std::uint64_t MinimiseTimedRoutes(const TimedProblem& problem,
                                  std::vector<std::vector<std::size_t>>& routes,
                                  std::uint64_t effort, std::uint64_t seed,
                                  std::size_t fewest = 0);

}  // namespace dg::planning
