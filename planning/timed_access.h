// The accessors of a routing problem with the clock, shared by the search
// (timed_routing.cpp) and the taking out of routes
// (timed_route_minimise.cpp): the vehicle's day, travel and cost between
// two nodes, the windows, the unloading, the pins and the room.
// Internal to the planning layer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "planning/packing.h"
#include "planning/timed_routing.h"

namespace dg::planning::detail {

struct TimedAccess {
  const TimedProblem& p;
  std::size_t n;
  VehicleDay default_day;
  // What the accessors below would otherwise find out on every call: they
  // are called for every leg the searches time.
  bool by_place;         // the tables are indexed by place
  bool one_table;        // every vehicle drives by the same table
  const double* cost;    // the cost table
  const double* travel;  // the one travel table (the cost where there is none)
  bool shared_stops;     // customers at one place unload at one stop
  std::vector<TimeWindow> no_windows;

  explicit TimedAccess(const TimedProblem& problem)
      : p(problem),
        n(problem.Nodes()),
        by_place(problem.places != 0),
        one_table(problem.travel.empty() || problem.travel_of.empty()),
        cost(problem.cost.data()),
        travel(problem.travel.empty() ? problem.cost.data() : problem.travel[0].data()),
        shared_stops(!problem.place.empty() && !problem.stop_minutes.empty()) {}
  [[gnu::always_inline]] const VehicleDay& Day(std::size_t v) const {
    if (p.days.empty()) return default_day;
    return p.days.size() == 1 ? p.days[0] : p.days[v];
  }
  [[gnu::always_inline]] std::size_t Index(std::size_t i, std::size_t j) const {
    return by_place ? p.place[i] * p.places + p.place[j] : i * n + j;
  }
  [[gnu::always_inline]] double Cost(std::size_t i, std::size_t j) const {
    return cost[Index(i, j)];
  }
  [[gnu::always_inline]] double Travel(std::size_t v, std::size_t i, std::size_t j) const {
    if (one_table) return travel[Index(i, j)];
    return p.travel[p.travel_of[v]][Index(i, j)];
  }
  [[gnu::always_inline]] const std::vector<TimeWindow>& Windows(std::size_t node) const {
    return p.clock.empty() ? no_windows : p.clock[node].windows;
  }
  [[gnu::always_inline]] double Service(std::size_t node, std::size_t prev) const {
    if (p.clock.empty()) return 0;
    double minutes = p.clock[node].unloading;
    if (shared_stops && prev != 0 && p.place[prev] == p.place[node]) {
      minutes -= p.stop_minutes[node];
    }
    return std::max(0.0, minutes);
  }
  bool Allowed(std::size_t node, std::size_t v) const {
    return p.pinned.empty() || p.pinned[node] == kAnyVehicle || p.pinned[node] == v;
  }
  bool Pinned(std::size_t node) const { return !p.pinned.empty() && p.pinned[node] != kAnyVehicle; }
  bool InUse(std::size_t v) const { return !p.in_use.empty() && p.in_use[v]; }
  bool Fits(const RouteLoad& load, std::size_t node, std::size_t v) const {
    return Within(load.weight + p.demand[node].weight, p.vehicles[v].weight) &&
           Within(load.volume + p.demand[node].volume, p.vehicles[v].volume);
  }
  // FitsWithin, rounding only where the rounding can decide (it keeps the
  // order: what is within the room is within it rounded).
  static bool Within(double need, double room) {
    if (need <= room) return true;
    if (need > room + 0.002) return false;
    return FitsWithin(need, room);
  }
};

inline bool TakesBreaks(const VehicleDay& day) {
  return day.breaks.after_driving > 0 && day.breaks.minutes > 0;
}

// The latest return to the branch of a route that left it at `leave`.
inline double LatestBack(const VehicleDay& day, double leave) {
  return std::min(day.end, leave - day.loading + day.longest);
}

// The latest arrival at a stop with these windows from which its unloading
// can still start so as to end by `done` (minus infinity when none can):
// a later arrival never starts unloading earlier, so every arrival up to
// it does too. A window that opens up to `slack` after `done` still counts,
// as the schedule lets a stop start that much late: where unloading starts
// as a window opens and the rest of the route is as tight as can be, the
// sums of the travel times put `done` a rounding below the opening.
inline double LatestArrival(const std::vector<TimeWindow>& windows, double done, double slack) {
  if (windows.empty()) return done;
  for (std::size_t k = windows.size(); k-- > 0;) {
    if (windows[k].open <= done + slack) {
      return std::min(windows[k].close, std::max(done, windows[k].open));
    }
  }
  return -std::numeric_limits<double>::infinity();
}

// The cost the search weighs for putting customer c at place `pos` of
// `route` on `vehicle` (infinity when a window or the working day would
// break), found from the stops beside it and found by going through the
// route's schedule: the two must agree. For the tests.
struct InsertionWeighedTwice {
  double beside = 0;
  double through = 0;
};
InsertionWeighedTwice WeighInsertionTwice(const TimedProblem& problem, std::size_t vehicle,
                                          const std::vector<std::size_t>& route, std::size_t c,
                                          std::size_t pos);

// Shortens a plan on time (one route per vehicle) by the moves the search
// polishes its answer with (between two routes, and strings of customers
// exchanged between two or moved within one), each taken only where
// the rooms, the pins, the windows and the working days hold; answers the
// steps spent (within `budget`, one pass past it at most). For the tests.
std::uint64_t PolishTimedRoutes(const TimedProblem& problem,
                                std::vector<std::vector<std::size_t>>& routes,
                                std::uint64_t budget);

}  // namespace dg::planning::detail
