// Routing with time windows and capacity: which vehicle serves which
// customer and in what order, so that every customer is unloaded within its
// receiving windows, every vehicle returns within its working day, no
// vehicle carries more than its room in weight or volume; with as few
// vehicles as possible, then the least distance (or the least time on the
// road).
//
// A pure function of its inputs, independent of storage and transport.
// Deterministic: a fixed seed and an effort counted in evaluated insertions,
// never in time, so one input always gives one answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "planning/route_clock.h"
#include "planning/routing.h"

namespace dg::planning {

// What is minimised once the vehicles are fewest.
inline constexpr std::size_t kAnyVehicle = std::numeric_limits<std::size_t>::max();

enum class TimedObjective {
  kDistance,   // the sum of the routes' costs (`cost`)
  kTimeOnRoad  // the sum of the routes' durations, from leaving the branch to the return
};

// Node 0 is the branch; nodes 1..customers the customers (an order at its
// client's place). Intentionally copyable.
struct TimedProblem {
  std::size_t customers = 0;
  // Cost from node i to node j at [i * (customers + 1) + j] (kilometres, or
  // any distance); with `places`, from place[i] to place[j] at [place[i] *
  // places + place[j]].
  std::vector<double> cost;
  // Travel minutes, indexed as the cost: one table per kind of vehicle,
  // `travel_of[v]` vehicle v's (empty: table 0). No table: the cost is the
  // travel time.
  std::vector<std::vector<double>> travel;
  std::vector<std::size_t> travel_of;
  // The number of places when the tables are indexed by place (0: by node).
  std::size_t places = 0;
  // Per node; demand[0] is ignored.
  std::vector<RouteLoad> demand;
  // Per node (node 0's ignored): windows and unloading minutes. Empty: no
  // windows, no unloading.
  std::vector<StopClock> clock;
  // Several customers at one place unload at one stop: `place[n]` is node
  // n's place (place[0] the branch's), and `stop_minutes[n]` of its
  // unloading are saved when the customer before it on the route is at the
  // same place. Both empty: each customer its own stop.
  std::vector<std::size_t> place;
  std::vector<double> stop_minutes;
  // Room of each vehicle, and its day (empty: one VehicleDay{} for all;
  // one entry: the same day for all).
  std::vector<RouteLoad> vehicles;
  std::vector<VehicleDay> days;
  // Vehicles that count as in use even without customers; empty: none.
  std::vector<char> in_use;
  // Per node: the only vehicle that may carry it, or kAnyVehicle. Empty: any.
  std::vector<std::size_t> pinned;
  TimedObjective objective = TimedObjective::kDistance;

  std::size_t Nodes() const { return customers + 1; }
};

// How hard SolveTimedRouting works. Intentionally copyable.
struct TimedOptions {
  // Insertions the search may evaluate.
  std::uint64_t effort = 15'000'000;
  std::uint64_t seed = 1;
  // Fewest vehicles first (else the least cost on any number of the
  // vehicles), and the share of the effort spent looking for fewer, in
  // percent.
  bool fewest_vehicles = true;
  unsigned fleet_share = 60;
  // With fewest vehicles first and the distance as the cost, the least
  // distance's own share of the effort, in percent, spent after the search
  // for fewer whatever that spent: the steps are then within `effort` times
  // (fleet_share + least_share) / 100. Where the rooms alone need as many
  // vehicles (no search for fewer runs), the least distance gets what that
  // search would have left; with the time on the road as the cost, the
  // least time spends what is left of the effort.
  unsigned least_share = 80;
  // The taking out of whole routes (timed_route_minimise.h) before the
  // search for fewer vehicles: at most so many of its steps, each counted
  // as one step of `effort` and within the effort for fewer vehicles, on
  // a problem of any size (0: not at all). kTakeOutByShare: the search's
  // own budget, a share of the effort for fewer vehicles with each step
  // counted as a tenth, on problems of at most 1,000 customers.
  static constexpr std::uint64_t kTakeOutByShare = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t take_out = kTakeOutByShare;
};

// The customers of each vehicle in visiting order (an empty route for an
// unused vehicle). `late` lists the customers no route could take on time
// (or within the working day): each is on the route where its lateness (and
// the days' overrun) grows least. Intentionally copyable.
struct TimedSolution {
  std::vector<std::vector<std::size_t>> routes;
  std::vector<std::size_t> late;
  std::size_t used = 0;
  double cost = 0;      // by the problem's objective
  double distance = 0;  // the sum of the routes' costs
  // The steps the search spent, those of the taking out of routes each
  // counted whole (within the effort, one iteration past it at most, where
  // `take_out` gives that a budget; with fewest vehicles first and the
  // distance as the cost, within the effort times (fleet_share +
  // least_share) / 100).
  std::uint64_t steps = 0;
};

// The schedule of one vehicle's route under the problem's clock (unloading
// shortened where a customer follows another at its place).
RouteSchedule TimedSchedule(const TimedProblem& problem, std::size_t vehicle,
                            const std::vector<std::size_t>& route);

// Whether every customer is served exactly once, no room is exceeded
// (rounded to 3 decimals, as the packing compares), every unloading starts
// within a window and every vehicle is back within its working day.
bool IsTimedFeasible(const TimedProblem& problem, const TimedSolution& solution);

// Plans every customer, never dropping one: a greedy insertion, then ruin
// and recreate (strings of neighbouring customers removed from a few
// routes, reinserted at their cheapest feasible places, accepted by
// simulated annealing) that first empties whole routes, then shortens the
// rest. Customers that fit no route on time are put last where they are
// least late and listed in `late`.
TimedSolution SolveTimedRouting(const TimedProblem& problem, const TimedOptions& options = {});

}  // namespace dg::planning
