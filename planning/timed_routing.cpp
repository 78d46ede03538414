#include "planning/timed_routing.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <tuple>
#include <utility>

#include "planning/packing.h"
#include "planning/seeded_random.h"
#include "planning/timed_access.h"
#include "planning/timed_route_minimise.h"

namespace dg::planning {
namespace {

using detail::LatestArrival;
using detail::LatestBack;
using detail::TakesBreaks;

constexpr double kInf = std::numeric_limits<double>::infinity();
// Times within this many minutes count as equal: the windows are whole
// minutes and the sums of travel times carry rounding.
constexpr double kSlack = 1e-6;
// Added to the cost of a customer that opens a vehicle, so that any route in
// use is preferred.
constexpr double kOpening = 1e12;
// The neighbours a removal goes through from its first customer.
constexpr std::size_t kNeighbours = 60;
// Routes are taken out one at a time (timed_route_minimise.h) with this
// many of its steps per percent of the effort for fewer vehicles, each
// counted as a tenth of an insertion (most are a stop kept or put out),
// and only on problems of at most so many customers: on a large day the
// ruin and recreate alone goes on.
constexpr std::uint64_t kTakeOutShare = 250;
constexpr std::uint64_t kTakeOutStepsPerInsertion = 10;
constexpr std::size_t kTakeOutCustomers = 1000;
// The customers and routes an iteration goes through once for each
// insertion weighed in as much time.
constexpr std::size_t kFixedPerStep = 1;
// The nearest neighbours beside which a customer's insertion is weighed
// first.
constexpr std::size_t kGranular = 20;
// The least cost's plan is polished within this fraction of the effort,
// and each new best plan of the search for it within so many steps.
constexpr std::uint64_t kPolishShare = 100;
constexpr std::uint64_t kPolishBest = 20000;
// The longest string of customers the polish moves or exchanges whole.
constexpr std::size_t kCross = 3;
// A move of the polish is taken only where it saves more than this.
constexpr double kShorter = 1e-9;
// Where the rooms alone need as many vehicles as the plan uses, the search
// for the least distance first spends this fraction of its effort free to
// open more on the way: opening is not a last resort in the first
// `kExtraFree` of that part, and then costs `kExtraPrice` times the
// distance to an average customer per vehicle over the count for each
// further whole part's effort; now and then (one time in `kEmptyEvery`)
// the shortest route of a plan over the count is emptied whole.
constexpr double kExtraShare = 0.5;
constexpr double kExtraFree = 0.4;
constexpr double kExtraPrice = 20;
constexpr std::size_t kEmptyEvery = 10;
// The rounds of the search for the least distance: each starts again from
// the best plan met and goes from hot to cold within its share of the
// effort (in one round, the best was met within the first half and the
// rest of it, too cold to leave that plan, found nothing better).
constexpr std::size_t kRounds = 3;

// The problem's accessors, and the vehicles alike in room and day.
struct Model : detail::TimedAccess {
  std::vector<std::size_t> kind;  // per vehicle: the first vehicle alike

  explicit Model(const TimedProblem& problem) : TimedAccess(problem) {
    kind.resize(p.vehicles.size());
    for (std::size_t v = 0; v < p.vehicles.size(); ++v) {
      kind[v] = v;
      for (std::size_t u = 0; u < v; ++u) {
        if (p.vehicles[u].weight == p.vehicles[v].weight &&
            p.vehicles[u].volume == p.vehicles[v].volume && SameDay(u, v) &&
            (p.in_use.empty() || p.in_use[u] == p.in_use[v]) &&
            (p.travel_of.empty() || p.travel_of[u] == p.travel_of[v])) {
          kind[v] = kind[u];
          break;
        }
      }
    }
  }
  bool SameDay(std::size_t a, std::size_t b) const {
    const VehicleDay& x = Day(a);
    const VehicleDay& y = Day(b);
    return x.start == y.start && x.end == y.end && x.longest == y.longest &&
           x.loading == y.loading && x.breaks.after_driving == y.breaks.after_driving &&
           x.breaks.minutes == y.breaks.minutes;
  }
};

// One vehicle's route with its schedule: the departure from each stop and
// the driving since the last break there, for the insertions to go on from.
// Where the vehicle takes no breaks and the route is on time, also the
// latest departure from each stop that keeps every stop after it within a
// window and the vehicle within its day: an insertion is then checked from
// the stops beside it alone.
struct Route {
  std::vector<std::size_t> nodes;
  RouteLoad load;
  std::vector<double> dep;
  std::vector<double> since;
  std::vector<double> latest;
  double leave = 0;
  double back = 0;
  double dist = 0;
  double late = 0;           // lateness at the stops plus the day's overrun
  bool slack_known = false;  // `latest` holds

  double Cost(TimedObjective objective) const {
    if (nodes.empty()) return 0;
    return objective == TimedObjective::kDistance ? dist : back - leave;
  }
};

// The minutes the departure from the branch is delayed so as not to wait at
// the first stop (nothing after it changes: breaks follow the driving).
double LeaveDelay(const Model& m, std::size_t v, const VehicleDay& day, std::size_t first) {
  double since = 0;
  const double arrival =
      day.start + day.loading + DrivingMinutes(day.breaks, since, m.Travel(v, 0, first));
  return StartInWindows(m.Windows(first), arrival).start - arrival;
}

// The whole schedule of `nodes` on vehicle v, into `r`.
void Simulate(const Model& m, std::size_t v, Route& r) {
  const VehicleDay& day = m.Day(v);
  const std::size_t size = r.nodes.size();
  r.dep.resize(size);
  r.since.resize(size);
  r.load = {};
  r.dist = 0;
  r.late = 0;
  r.slack_known = false;
  r.leave = day.start + day.loading;
  if (r.nodes.empty()) {
    r.back = r.leave;
    return;
  }
  r.leave += LeaveDelay(m, v, day, r.nodes.front());
  double now = r.leave;
  double since = 0;
  std::size_t at = 0;
  for (std::size_t k = 0; k < size; ++k) {
    const std::size_t node = r.nodes[k];
    r.load.weight += m.p.demand[node].weight;
    r.load.volume += m.p.demand[node].volume;
    r.dist += m.Cost(at, node);
    const double arrival = now + DrivingMinutes(day.breaks, since, m.Travel(v, at, node));
    const WindowStart w = StartInWindows(m.Windows(node), arrival);
    r.late += w.late;
    now = w.start + m.Service(node, at);
    r.dep[k] = now;
    r.since[k] = since;
    at = node;
  }
  r.dist += m.Cost(at, 0);
  r.back = now + DrivingMinutes(day.breaks, since, m.Travel(v, at, 0));
  r.late += std::max(0.0, r.back - day.end) +
            std::max(0.0, r.back - (r.leave - day.loading) - day.longest);
  if (TakesBreaks(day) || r.late > kSlack) return;
  // From the return back to the first stop.
  r.latest.resize(size);
  double latest = LatestBack(day, r.leave) - m.Travel(v, r.nodes.back(), 0);
  for (std::size_t k = size; k-- > 0;) {
    r.latest[k] = latest;
    if (k == 0) break;
    const std::size_t node = r.nodes[k];
    const std::size_t prev = r.nodes[k - 1];
    const std::vector<TimeWindow>& windows = m.Windows(node);
    latest =
        LatestArrival(windows, latest - m.Service(node, prev), kSlack) - m.Travel(v, prev, node);
  }
  r.slack_known = true;
}

// The cost added by putting `c` at place `pos` of route r on vehicle v, or
// infinity when a window or the working day would break (the room is the
// caller's), going through the stops after it until their times are as
// they were.
double InsertionDeltaBySchedule(const Model& m, std::size_t v, const Route& r, std::size_t c,
                                std::size_t pos) {
  const TimedObjective objective = m.p.objective;
  const VehicleDay& day = m.Day(v);
  const std::size_t prev = pos == 0 ? 0 : r.nodes[pos - 1];
  const std::size_t next = pos == r.nodes.size() ? 0 : r.nodes[pos];
  // From the departure before the new stop (at the start, from the branch
  // once loaded: leaving later to avoid waiting at c changes no time after
  // it, only when the working day starts counting).
  const double loaded = day.start + day.loading;
  double now = pos == 0 ? loaded : r.dep[pos - 1];
  double since = pos == 0 ? 0 : r.since[pos - 1];
  double arrival = now + DrivingMinutes(day.breaks, since, m.Travel(v, prev, c));
  WindowStart w = StartInWindows(m.Windows(c), arrival);
  if (w.late > kSlack) return kInf;
  const double leave = pos == 0 ? loaded + (w.start - arrival) : r.leave;
  now = w.start + m.Service(c, prev);
  std::size_t at = c;
  double back = -1;
  for (std::size_t k = pos; k < r.nodes.size(); ++k) {
    const std::size_t node = r.nodes[k];
    arrival = now + DrivingMinutes(day.breaks, since, m.Travel(v, at, node));
    w = StartInWindows(m.Windows(node), arrival);
    if (w.late > kSlack) return kInf;
    now = w.start + m.Service(node, at);
    at = node;
    if (now == r.dep[k] && since == r.since[k]) {
      back = r.back;  // the rest of the route is as it was
      break;
    }
  }
  if (back < 0) back = now + DrivingMinutes(day.breaks, since, m.Travel(v, at, 0));
  if (back > day.end + kSlack || back - (leave - day.loading) > day.longest + kSlack) return kInf;
  // The distance is looked up only where it is the cost: each lookup is a
  // read from a table that seldom stays in the cache.
  return objective == TimedObjective::kDistance
             ? m.Cost(prev, c) + m.Cost(c, next) - m.Cost(prev, next)
             : (back - leave) - r.Cost(TimedObjective::kTimeOnRoad);
}

// InsertionDeltaBySchedule, from the stops beside the new one alone where
// the route's latest departures are known: after the stop before it, the
// new stop and the one after it (whose unloading may change with the stop
// before it) are timed, and the rest holds when that one is left no later
// than its latest departure. At the start of the route (the departure from
// the branch moves) the schedule is gone through; so it is for the time on
// the road of an insertion that holds, so that its sum is the same to the
// last digit as the schedule's.
double InsertionDelta(const Model& m, std::size_t v, const Route& r, std::size_t c,
                      std::size_t pos) {
  if (pos == 0 || !r.slack_known) return InsertionDeltaBySchedule(m, v, r, c, pos);
  const std::size_t prev = r.nodes[pos - 1];
  WindowStart w = StartInWindows(m.Windows(c), r.dep[pos - 1] + m.Travel(v, prev, c));
  if (w.late > kSlack) return kInf;
  const double dep = w.start + m.Service(c, prev);
  const std::size_t next = pos == r.nodes.size() ? 0 : r.nodes[pos];
  if (next == 0) {
    if (dep + m.Travel(v, c, 0) > LatestBack(m.Day(v), r.leave) + kSlack) return kInf;
  } else {
    w = StartInWindows(m.Windows(next), dep + m.Travel(v, c, next));
    if (w.late > kSlack || w.start + m.Service(next, c) > r.latest[pos] + kSlack) return kInf;
  }
  // The time on the road of an insertion that holds is summed as the
  // schedule sums it, to the last digit.
  if (m.p.objective != TimedObjective::kDistance) return InsertionDeltaBySchedule(m, v, r, c, pos);
  return m.Cost(prev, c) + m.Cost(c, next) - m.Cost(prev, next);
}

struct Plan {
  std::vector<Route> routes;
  std::vector<std::size_t> unassigned;
  double cost = 0;
  std::size_t used = 0;
};

class Search {
 public:
  Search(const TimedProblem& problem, const TimedOptions& options)
      : m_(problem), options_(options), random_(options.seed) {
    const std::size_t n = m_.n;
    neighbours_.resize(n);
    for (std::size_t c = 1; c < n; ++c) {
      std::vector<std::size_t>& list = neighbours_[c];
      for (std::size_t d = 1; d < n; ++d) {
        if (d != c) list.push_back(d);
      }
      auto nearer = [&](std::size_t a, std::size_t b) {
        const double da = m_.Cost(c, a) + m_.Cost(a, c);
        const double db = m_.Cost(c, b) + m_.Cost(b, c);
        return da < db || (da == db && a < b);
      };
      if (list.size() > kNeighbours) {
        std::nth_element(list.begin(), list.begin() + kNeighbours, list.end(), nearer);
        list.resize(kNeighbours);
      }
      std::sort(list.begin(), list.end(), nearer);
      list.insert(list.begin(), c);
    }
    absences_.assign(n, 0);
    // The annealing's temperature in the objective's unit: the mean
    // distance (or travel time) between the branch and a customer.
    double sum = 0;
    const bool minutes = m_.p.objective == TimedObjective::kTimeOnRoad && !m_.p.vehicles.empty();
    for (std::size_t c = 1; c < n; ++c) {
      sum += minutes ? m_.Travel(0, 0, c) + m_.Travel(0, c, 0) : m_.Cost(0, c) + m_.Cost(c, 0);
    }
    scale_ = n > 1 ? sum / (2.0 * static_cast<double>(n - 1)) : 1;
    if (!(scale_ > 0)) scale_ = 1;
  }

  TimedSolution Solve() {
    const std::size_t vehicles = m_.p.vehicles.size();
    Plan plan;
    plan.routes.resize(vehicles);
    touched_.assign(vehicles, 0);
    for (std::size_t v = 0; v < vehicles; ++v) Simulate(m_, v, plan.routes[v]);
    // Customers no vehicle can serve on time alone wait for the end.
    std::vector<std::size_t> order;
    for (std::size_t c = 1; c < m_.n; ++c) {
      if (Servable(c)) {
        order.push_back(c);
      } else {
        impossible_.push_back(c);
      }
    }
    limit_ = vehicles;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return m_.Cost(0, a) > m_.Cost(0, b); });
    Recreate(plan, order);
    Measure(plan);
    if (order.empty()) return Finish(plan);

    const std::uint64_t fleet_effort =
        options_.fewest_vehicles ? options_.effort / 100 * std::min(100u, options_.fleet_share) : 0;
    Plan best = plan;
    // Customers the greedy insertion found no place for within the fleet:
    // look for places first.
    if (!best.unassigned.empty()) {
      best = Anneal(plan, std::max(fleet_effort, options_.effort / 4), true);
    }
    // Where the rooms alone need as many vehicles as are in use, none can
    // be saved: the effort for fewer goes to the least cost.
    const std::size_t fewest_by_room = best.unassigned.empty() ? FewestByRoom(best) : 0;
    if (options_.fewest_vehicles && best.unassigned.empty() && best.used > fewest_by_room) {
      if (options_.take_out == TimedOptions::kTakeOutByShare) {
        if (m_.p.customers <= kTakeOutCustomers) {
          TakeOutRoutes(best, fleet_effort / 100 * kTakeOutShare, kTakeOutStepsPerInsertion);
        }
      } else if (steps_ < fleet_effort) {
        TakeOutRoutes(best, std::min(options_.take_out, fleet_effort - steps_), 1);
      }
    }
    // Fewer vehicles: empty the shortest route and look for places for its
    // customers on the others, until they all have one or the effort for it
    // is spent.
    while (steps_ < fleet_effort && best.used > std::max<std::size_t>(1, fewest_by_room) &&
           best.unassigned.empty()) {
      Plan current = best;
      std::size_t drop = vehicles;
      for (std::size_t v = 0; v < vehicles; ++v) {
        if (current.routes[v].nodes.empty() || m_.InUse(v)) continue;
        if (drop == vehicles ||
            current.routes[v].nodes.size() < current.routes[drop].nodes.size()) {
          drop = v;
        }
      }
      if (drop == vehicles) break;
      for (std::size_t c : current.routes[drop].nodes) current.unassigned.push_back(c);
      current.routes[drop].nodes.clear();
      Simulate(m_, drop, current.routes[drop]);
      limit_ = best.used - 1;
      Measure(current);
      Anneal(current, fleet_effort, true);
      if (!current.unassigned.empty()) break;
      best = std::move(current);
    }
    // Then the least cost on as many vehicles. The least distance gets its
    // own share of the effort, whatever the search for fewer spent: on a
    // fleet that search brought to the edge of its windows, the plans on as
    // many vehicles are far apart and the search for the least distance
    // needs its steps. Where the rooms alone need as many vehicles (no
    // search for fewer ran), it gets the effort that search would have
    // left. The time on the road, the distribution's, spends what is left
    // of the effort, as before.
    limit_ = options_.fewest_vehicles ? best.used : vehicles;
    std::uint64_t until = options_.effort;
    if (options_.fewest_vehicles && m_.p.objective == TimedObjective::kDistance &&
        best.unassigned.empty()) {
      until = best.used <= fewest_by_room
                  ? std::min(until, steps_ + (options_.effort - fleet_effort))
                  : steps_ + options_.effort / 100 * options_.least_share;
    }
    Plan current = best;
    // With the fewest vehicles first, the distance the cost and as many
    // vehicles as the rooms need, a few long routes are hard to reshape one
    // string at a time: the first part of the search may open vehicles on
    // the way, at a price per vehicle over the count that grows with the
    // effort spent, and goes back by emptying whole routes. The plan it
    // answers never has more (a plan on more vehicles is never the best);
    // the rest of the search goes on from it on the count alone.
    if (options_.fewest_vehicles && m_.p.objective == TimedObjective::kDistance &&
        best.unassigned.empty() && best.used < vehicles && best.used <= fewest_by_room) {
      target_ = best.used;
      limit_ = vehicles;
      const std::uint64_t part =
          steps_ + static_cast<std::uint64_t>(kExtraShare * static_cast<double>(until - steps_));
      best = Anneal(current, part, false);
      target_ = kAnyVehicle;
      limit_ = best.used;
      current = best;
    }
    best = Anneal(current, until, false);
    target_ = kAnyVehicle;
    limit_ = options_.fewest_vehicles ? best.used : vehicles;
    Polish(best, options_.effort / kPolishShare, true);
    return Finish(best);
  }

  // Polishes a complete plan's routes in place; answers the steps spent.
  std::uint64_t PolishRoutes(std::vector<std::vector<std::size_t>>& routes, std::uint64_t budget) {
    Plan plan;
    plan.routes.resize(routes.size());
    for (std::size_t v = 0; v < routes.size(); ++v) {
      plan.routes[v].nodes = routes[v];
      Simulate(m_, v, plan.routes[v]);
    }
    Measure(plan);
    Polish(plan, budget, true);
    for (std::size_t v = 0; v < routes.size(); ++v) routes[v] = plan.routes[v].nodes;
    return steps_;
  }

 private:
  bool Servable(std::size_t c) {
    Route empty;
    // Vehicles alike answer alike.
    tried_kind_.assign(m_.p.vehicles.size(), 0);
    for (std::size_t v = 0; v < m_.p.vehicles.size(); ++v) {
      if (!m_.Allowed(c, v) || tried_kind_[m_.kind[v]]) continue;
      tried_kind_[m_.kind[v]] = 1;
      if (!m_.Fits({}, c, v)) continue;
      Simulate(m_, v, empty);
      if (InsertionDelta(m_, v, empty, c, 0) < kInf) return true;
    }
    return false;
  }

  // The fewest vehicles that have the room for the plan's customers, in
  // weight and in volume, the largest rooms first: no plan of them uses
  // fewer. Rooms are compared a little generously (the rounding of the
  // packing), so that the count is never above the true one.
  std::size_t FewestByRoom(const Plan& plan) const {
    RouteLoad need;
    std::size_t customers = 0;
    for (const Route& r : plan.routes) {
      for (std::size_t c : r.nodes) {
        need.weight += m_.p.demand[c].weight;
        need.volume += m_.p.demand[c].volume;
        ++customers;
      }
    }
    if (customers == 0) return 0;
    const double margin = 0.001 * static_cast<double>(customers + m_.p.vehicles.size());
    auto fewest = [&](auto room) {
      std::vector<double> rooms;
      for (const RouteLoad& v : m_.p.vehicles) rooms.push_back(room(v));
      std::sort(rooms.begin(), rooms.end(), std::greater<>());
      const double total = room(need);
      double sum = 0;
      for (std::size_t k = 0; k < rooms.size(); ++k) {
        sum += rooms[k];
        if (sum + margin >= total) return k + 1;
      }
      return rooms.size();
    };
    return std::max<std::size_t>(1, std::max(fewest([](const RouteLoad& l) { return l.weight; }),
                                             fewest([](const RouteLoad& l) { return l.volume; })));
  }

  // Takes whole routes out of a complete plan while their customers find
  // places on the others, within `effort` of its steps, `per_step` of them
  // counted as one of the search's.
  void TakeOutRoutes(Plan& plan, std::uint64_t effort, std::uint64_t per_step) {
    if (effort == 0) return;
    std::vector<std::vector<std::size_t>> routes;
    for (const Route& r : plan.routes) routes.push_back(r.nodes);
    const std::uint64_t spent =
        MinimiseTimedRoutes(m_.p, routes, effort, options_.seed, FewestByRoom(plan));
    steps_ += spent / per_step;
    uncounted_ += spent - spent / per_step;
    for (std::size_t v = 0; v < routes.size(); ++v) {
      plan.routes[v].nodes = std::move(routes[v]);
      Simulate(m_, v, plan.routes[v]);
    }
    Measure(plan);
  }

  // The routes in use of the plan the search changes (the candidate), in
  // vehicle order: kept up to date as its routes empty and open, so that
  // an iteration goes through these alone rather than through the whole
  // fleet (most of it idle on a large day).
  void KnowBusy(const Plan& plan) {
    busy_.clear();
    for (std::size_t v = 0; v < plan.routes.size(); ++v) {
      if (!plan.routes[v].nodes.empty() || m_.InUse(v)) busy_.push_back(v);
    }
  }
  void MarkBusy(const Plan& plan, std::size_t v) {
    const bool busy = !plan.routes[v].nodes.empty() || m_.InUse(v);
    const auto at = std::lower_bound(busy_.begin(), busy_.end(), v);
    const bool listed = at != busy_.end() && *at == v;
    if (busy && !listed) busy_.insert(at, v);
    if (!busy && listed) busy_.erase(at);
  }
  // Measure over the busy routes alone: the same sums in the same order
  // (an idle route adds nothing).
  void MeasureBusy(Plan& plan) const {
    plan.cost = 0;
    plan.used = 0;
    for (std::size_t v : busy_) {
      plan.cost += plan.routes[v].Cost(m_.p.objective);
      ++plan.used;
    }
  }

  void Measure(Plan& plan) const {
    plan.cost = 0;
    plan.used = 0;
    for (std::size_t v = 0; v < plan.routes.size(); ++v) {
      plan.cost += plan.routes[v].Cost(m_.p.objective);
      if (!plan.routes[v].nodes.empty() || m_.InUse(v)) ++plan.used;
    }
  }

  // Inserts each customer at its cheapest feasible place (a place is
  // skipped now and then, so that the recreate explores); those without one
  // are left unassigned. The places weighed first are those beside the
  // customer's nearest neighbours already on a route; only when none of
  // them takes it on time are all the routes in use weighed, and only then
  // (with fewest vehicles first) an empty vehicle of each kind, so that a
  // customer goes wherever the whole scan would put it on time.
  void Recreate(Plan& plan, const std::vector<std::size_t>& customers) {
    // Within the search the plan was measured and indexed as it was
    // ruined.
    if (!busy_known_) {
      KnowBusy(plan);
      Measure(plan);
      IndexAll(plan);
    }
    // The full scan goes through the routes in use as they were, then those
    // this recreate opens, in the order opened: busy_ is kept in vehicle
    // order, which would weigh them in another order and break ties
    // otherwise.
    in_use_ = busy_;
    // A place is named by the customer it goes before, or by its route's
    // end: each is weighed once per customer.
    weighed_.resize(m_.n + plan.routes.size(), 0);
    for (std::size_t c : customers) {
      Choice best;
      if (++stamp_ == 0) {
        std::fill(weighed_.begin(), weighed_.end(), 0);
        stamp_ = 1;
      }
      // Beside the nearest neighbours first, the nearest first.
      const std::vector<std::size_t>& near = neighbours_[c];
      for (std::size_t k = 1; k < near.size() && k <= kGranular; ++k) {
        const std::size_t v = route_of_[near[k]];
        if (v == kAnyVehicle) continue;
        const Route& r = plan.routes[v];
        if (!m_.Allowed(c, v) || !m_.Fits(r.load, c, v)) continue;
        for (std::size_t pos = index_of_[near[k]]; pos <= index_of_[near[k]] + 1; ++pos) {
          std::uint32_t& mark = weighed_[pos < r.nodes.size() ? r.nodes[pos] : m_.n + v];
          if (mark == stamp_) continue;
          mark = stamp_;
          Weigh(plan, c, v, pos, 0, best);
        }
      }
      if (best.delta == kInf) {
        for (std::size_t v : in_use_) {
          const Route& r = plan.routes[v];
          if (!m_.Allowed(c, v) || !m_.Fits(r.load, c, v)) continue;
          for (std::size_t pos = 0; pos <= r.nodes.size(); ++pos) Weigh(plan, c, v, pos, 0, best);
        }
      }
      // With fewest vehicles first, a vehicle is only opened for a customer
      // no route in use takes.
      const bool open_free = !options_.fewest_vehicles || open_free_;
      if ((best.delta == kInf || open_free) && plan.used < limit_) {
        tried_kind_.assign(m_.p.vehicles.size(), 0);
        for (std::size_t v = 0; v < plan.routes.size(); ++v) {
          const Route& r = plan.routes[v];
          if (!r.nodes.empty() || m_.InUse(v) || tried_kind_[m_.kind[v]]) continue;
          if (!m_.Allowed(c, v) || !m_.Fits(r.load, c, v)) continue;
          tried_kind_[m_.kind[v]] = 1;
          Weigh(plan, c, v, 0, open_free ? 0 : kOpening, best);
        }
      }
      if (best.delta == kInf) {
        plan.unassigned.push_back(c);
        continue;
      }
      Route& r = plan.routes[best.v];
      if (r.nodes.empty() && !m_.InUse(best.v)) {
        ++plan.used;
        in_use_.push_back(best.v);
        busy_.insert(std::lower_bound(busy_.begin(), busy_.end(), best.v), best.v);
      }
      plan.cost -= r.Cost(m_.p.objective);
      r.nodes.insert(r.nodes.begin() + static_cast<std::ptrdiff_t>(best.pos), c);
      Simulate(m_, best.v, r);
      plan.cost += r.Cost(m_.p.objective);
      Index(plan, best.v);
      Touch(best.v);
    }
  }

  struct Choice {
    double delta = kInf;
    std::size_t v = 0;
    std::size_t pos = 0;
  };

  // Weighs putting c at `pos` of vehicle v's route, keeping the cheapest.
  void Weigh(const Plan& plan, std::size_t c, std::size_t v, std::size_t pos, double extra,
             Choice& best) {
    ++steps_;
    if (random_.Below(100) == 0) return;
    const double delta = InsertionDelta(m_, v, plan.routes[v], c, pos) + extra;
    if (delta < best.delta) best = {delta, v, pos};
  }

  // Where each customer of the plan stands (none: kAnyVehicle), from the
  // routes in use (KnowBusy).
  void IndexAll(const Plan& plan) {
    route_of_.assign(m_.n, kAnyVehicle);
    index_of_.resize(m_.n);
    for (std::size_t v : busy_) Index(plan, v);
  }

  // Where each customer of route v stands.
  void Index(const Plan& plan, std::size_t v) {
    const std::vector<std::size_t>& nodes = plan.routes[v].nodes;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
      route_of_[nodes[k]] = v;
      index_of_[nodes[k]] = k;
    }
  }

  // Notes that route v may differ from the current plan's.
  void Touch(std::size_t v) {
    if (!touched_[v]) {
      touched_[v] = 1;
      touched_list_.push_back(v);
    }
  }

  // Removes strings of neighbouring customers from a few routes, keeping
  // the plan's index (route_of_, index_of_) and its routes in use.
  std::vector<std::size_t> Ruin(Plan& plan) {
    std::vector<std::size_t>& route_of = route_of_;
    std::size_t assigned = 0, non_empty = 0;
    for (std::size_t v : busy_) {
      assigned += plan.routes[v].nodes.size();
      if (!plan.routes[v].nodes.empty()) ++non_empty;
    }
    std::vector<std::size_t> removed;
    if (assigned == 0) return removed;
    // On a vehicle over the count, now and then the shortest route is
    // emptied whole, so that the search finds its way back.
    if (target_ != kAnyVehicle && non_empty > target_ && random_.Below(kEmptyEvery) == 0) {
      std::size_t drop = plan.routes.size();
      for (std::size_t v = 0; v < plan.routes.size(); ++v) {
        if (plan.routes[v].nodes.empty() || m_.InUse(v)) continue;
        if (drop == plan.routes.size() ||
            plan.routes[v].nodes.size() < plan.routes[drop].nodes.size()) {
          drop = v;
        }
      }
      if (drop < plan.routes.size()) {
        Route& r = plan.routes[drop];
        removed = r.nodes;
        for (std::size_t c : removed) route_of[c] = kAnyVehicle;
        r.nodes.clear();
        Simulate(m_, drop, r);
        Touch(drop);
        MarkBusy(plan, drop);
        MeasureBusy(plan);
        return removed;
      }
    }
    const double average_removed = 10;
    const double longest_string =
        std::min(10.0, static_cast<double>(assigned) / static_cast<double>(non_empty));
    const double most_strings = 4 * average_removed / (1 + longest_string) - 1;
    const std::size_t strings =
        1 + random_.Below(static_cast<std::size_t>(std::max(1.0, std::floor(most_strings))));
    std::size_t seed = 0;
    do {
      seed = 1 + random_.Below(m_.n - 1);
    } while (route_of[seed] == kAnyVehicle);
    std::vector<char>& ruined = ruined_;
    ruined.assign(plan.routes.size(), 0);
    std::size_t done = 0;
    for (std::size_t c : neighbours_[seed]) {
      if (done >= strings) break;
      const std::size_t v = route_of[c];
      if (v == kAnyVehicle || ruined[v]) continue;
      ruined[v] = 1;
      ++done;
      Route& r = plan.routes[v];
      const std::size_t size = r.nodes.size();
      const std::size_t most =
          std::min<std::size_t>(size, static_cast<std::size_t>(std::max(1.0, longest_string)));
      const std::size_t length = 1 + random_.Below(most);
      const std::size_t at = index_of_[c];
      // A string of `length` holding c, at a random offset.
      const std::size_t lowest = at + 1 >= length ? at + 1 - length : 0;
      const std::size_t highest = std::min(at, size - length);
      const std::size_t first = lowest + random_.Below(highest - lowest + 1);
      for (std::size_t k = first; k < first + length; ++k) {
        removed.push_back(r.nodes[k]);
        route_of[r.nodes[k]] = kAnyVehicle;
      }
      r.nodes.erase(r.nodes.begin() + static_cast<std::ptrdiff_t>(first),
                    r.nodes.begin() + static_cast<std::ptrdiff_t>(first + length));
      Index(plan, v);
      Simulate(m_, v, r);
      Touch(v);
      MarkBusy(plan, v);
    }
    MeasureBusy(plan);
    return removed;
  }

  void SortForRecreate(std::vector<std::size_t>& list, bool fleet) {
    const std::size_t how = random_.Below(fleet ? 5 : 4);
    switch (how) {
      case 0:
        for (std::size_t i = list.size(); i > 1; --i)
          std::swap(list[i - 1], list[random_.Below(i)]);
        break;
      case 1:
        std::stable_sort(list.begin(), list.end(), [&](std::size_t a, std::size_t b) {
          return m_.p.demand[a].weight > m_.p.demand[b].weight;
        });
        break;
      case 2:
        std::stable_sort(list.begin(), list.end(), [&](std::size_t a, std::size_t b) {
          return m_.Cost(0, a) > m_.Cost(0, b);
        });
        break;
      case 3:
        std::stable_sort(list.begin(), list.end(),
                         [&](std::size_t a, std::size_t b) { return LastClose(a) < LastClose(b); });
        break;
      default:
        std::stable_sort(list.begin(), list.end(),
                         [&](std::size_t a, std::size_t b) { return absences_[a] > absences_[b]; });
        break;
    }
  }

  double LastClose(std::size_t c) const {
    const auto& w = m_.Windows(c);
    return w.empty() ? kInf : w.back().close;
  }

  // Ruin and recreate from `current` until the effort reaches `until`;
  // answers the best plan met. With `fleet`, the search looks first for
  // places for the unassigned customers and stops when none is left.
  Plan Anneal(Plan& current, std::uint64_t until, bool fleet) {
    Plan best = current;
    // The candidate starts each iteration as the current plan: only the
    // routes the last iteration touched are copied back.
    Plan candidate = current;
    touched_.assign(current.routes.size(), 0);
    touched_list_.clear();
    KnowBusy(candidate);
    IndexAll(candidate);
    busy_known_ = true;
    const std::uint64_t from = steps_;
    // From about the distance to an average customer down to a small
    // fraction of it.
    const double hot = scale_;
    const double cold = 0.002 * scale_;
    // The least distance is looked for in rounds, each from the best plan
    // met, cooled from hot to cold within its share of the effort.
    const double rounds =
        !fleet && m_.p.objective == TimedObjective::kDistance ? static_cast<double>(kRounds) : 1;
    double round = 0;
    while (steps_ < until) {
      if (fleet && current.unassigned.empty()) break;
      if (rounds > 1) {
        const double at = static_cast<double>(steps_ - from) /
                          static_cast<double>(std::max<std::uint64_t>(1, until - from)) * rounds;
        if (at - round >= 1 && at < rounds) {
          round = std::floor(at);
          current = best;
          candidate = current;
          touched_.assign(current.routes.size(), 0);
          touched_list_.clear();
          KnowBusy(candidate);
          IndexAll(candidate);
        }
      }
      // An iteration counts, whatever it weighs, and its fixed work (the
      // ruin, the routes measured and indexed) as much as the insertions
      // that could be weighed in that time.
      steps_ += 1 + (m_.n + current.routes.size()) / kFixedPerStep;
      std::vector<std::size_t> removed = Ruin(candidate);
      removed.insert(removed.end(), candidate.unassigned.begin(), candidate.unassigned.end());
      candidate.unassigned.clear();
      SortForRecreate(removed, fleet);
      open_free_ = target_ != kAnyVehicle && static_cast<double>(steps_ - from) <
                                                 kExtraFree * static_cast<double>(until - from);
      Recreate(candidate, removed);
      open_free_ = false;
      for (std::size_t c : candidate.unassigned) ++absences_[c];
      const double progress = static_cast<double>(steps_ - from) /
                              static_cast<double>(std::max<std::uint64_t>(1, until - from));
      const double within = std::min(1.0, std::min(1.0, progress) * rounds - round);
      const double temperature = hot * std::pow(cold / hot, within);
      const double u = (1.0 + random_.Below(1u << 30)) / static_cast<double>(1u << 30);
      bool accept = false;
      if (candidate.unassigned.size() != current.unassigned.size()) {
        accept = candidate.unassigned.size() < current.unassigned.size();
      } else if (fleet && Absences(candidate) != Absences(current)) {
        // Leaving out customers that are seldom left out is progress:
        // the hard ones have found places.
        accept = Absences(candidate) < Absences(current);
      } else {
        accept = Penalised(candidate, progress) <
                 Penalised(current, progress) - temperature * std::log(u);
      }
      if (accept) {
        std::swap(current, candidate);
        if (Better(current, best)) {
          // The search goes on from the new best polished: the insertions
          // alone seldom find the moves between two routes.
          if (!fleet && m_.p.objective == TimedObjective::kDistance) {
            Polish(current, kPolishBest, false);
            candidate = current;
            KnowBusy(candidate);
            IndexAll(candidate);
          }
          best = current;
        }
      }
      // The touched routes' customers are indexed again where the
      // candidate now has them.
      for (std::size_t v : touched_list_) {
        for (std::size_t c : candidate.routes[v].nodes) route_of_[c] = kAnyVehicle;
      }
      for (std::size_t v : touched_list_) {
        candidate.routes[v] = current.routes[v];
        touched_[v] = 0;
        MarkBusy(candidate, v);
      }
      for (std::size_t v : touched_list_) Index(candidate, v);
      touched_list_.clear();
      candidate.unassigned = current.unassigned;
      candidate.cost = current.cost;
      candidate.used = current.used;
    }
    busy_known_ = false;
    if (fleet) current = best;
    return best;
  }

  // The plan's cost with the price of the vehicles over `target_`: none at
  // the start, then growing with `progress` until no detour is worth one.
  double Penalised(const Plan& plan, double progress) const {
    if (target_ == kAnyVehicle || plan.used <= target_) return plan.cost;
    const double price = kExtraPrice * scale_ * std::max(0.0, progress - kExtraFree);
    return plan.cost + price * static_cast<double>(plan.used - target_);
  }

  std::uint64_t Absences(const Plan& plan) const {
    std::uint64_t sum = 0;
    for (std::size_t c : plan.unassigned) sum += absences_[c];
    return sum;
  }

  // Fewer customers without a place, then (with fewest vehicles first)
  // fewer vehicles, then the lower cost.
  bool Better(const Plan& a, const Plan& b) const {
    if (a.unassigned.size() != b.unassigned.size())
      return a.unassigned.size() < b.unassigned.size();
    if (options_.fewest_vehicles && a.used != b.used) return a.used < b.used;
    return a.cost < b.cost - 1e-9;
  }

  // Shortens a complete plan by moves between two routes, each beside a
  // customer's nearest neighbours: a customer put just before or after a
  // neighbour on another route, two routes' ends exchanged so that a
  // customer is followed by its neighbour, and a customer exchanged with
  // a neighbour's follower; with `strings`, also strings of up to three
  // customers exchanged between two routes or moved within one (Cross,
  // MoveWithin). A move is weighed first by the distance it saves (from
  // the stops beside it alone), then by the rooms and the pins, and taken
  // only where the new routes' schedules keep every window and working
  // day. Until no move shortens the plan or `budget` steps are spent (one
  // per move weighed).
  void Polish(Plan& plan, std::uint64_t budget, bool strings) {
    if (m_.p.objective != TimedObjective::kDistance || !plan.unassigned.empty()) return;
    const std::uint64_t until = steps_ + budget;
    route_of_.assign(m_.n, kAnyVehicle);
    index_of_.resize(m_.n);
    for (std::size_t v = 0; v < plan.routes.size(); ++v) Index(plan, v);
    bool improved = true;
    while (improved && steps_ < until) {
      improved = false;
      for (std::size_t a = 1; a < m_.n && steps_ < until; ++a) {
        if (route_of_[a] == kAnyVehicle) continue;
        const std::vector<std::size_t>& near = neighbours_[a];
        for (std::size_t k = 1; k < near.size() && k <= kGranular; ++k) {
          const std::size_t b = near[k];
          const std::size_t va = route_of_[a], vb = route_of_[b];
          if (vb == kAnyVehicle) continue;
          if (vb == va) {
            if (strings && (MoveWithin(plan, va, index_of_[a], index_of_[b]) ||
                            ReverseWithin(plan, va, index_of_[a], index_of_[b]))) {
              Index(plan, va);
              improved = true;
              break;
            }
            continue;
          }
          steps_ += 4;
          const Route& ra = plan.routes[va];
          const Route& rb = plan.routes[vb];
          const std::size_t i = index_of_[a], j = index_of_[b];
          // The stops beside a and b (the branch at a route's ends): each
          // move is weighed by the distance it saves before any route is
          // built or timed.
          const std::size_t pa = i == 0 ? 0 : ra.nodes[i - 1];
          const std::size_t sa = i + 1 == ra.nodes.size() ? 0 : ra.nodes[i + 1];
          const std::size_t pb = j == 0 ? 0 : rb.nodes[j - 1];
          const std::size_t sb = j + 1 == rb.nodes.size() ? 0 : rb.nodes[j + 1];
          const double out_a = m_.Cost(pa, sa) - m_.Cost(pa, a) - m_.Cost(a, sa);
          bool moved = false;
          // a before b, a after b.
          for (std::size_t pos = j; pos <= j + 1 && !moved; ++pos) {
            const std::size_t before = pos == j ? pb : b;
            const std::size_t after = pos == j ? b : sb;
            const double saved =
                out_a + m_.Cost(before, a) + m_.Cost(a, after) - m_.Cost(before, after);
            if (saved >= -kShorter) continue;
            std::vector<std::size_t> na = ra.nodes, nb = rb.nodes;
            na.erase(na.begin() + static_cast<std::ptrdiff_t>(i));
            nb.insert(nb.begin() + static_cast<std::ptrdiff_t>(pos), a);
            moved = TryPair(plan, va, std::move(na), vb, std::move(nb));
          }
          // a followed by b: a's tail goes to b's route and the other way.
          if (!moved &&
              m_.Cost(a, b) + m_.Cost(pb, sa) - m_.Cost(a, sa) - m_.Cost(pb, b) < -kShorter) {
            std::vector<std::size_t> na(ra.nodes.begin(),
                                        ra.nodes.begin() + static_cast<std::ptrdiff_t>(i + 1));
            na.insert(na.end(), rb.nodes.begin() + static_cast<std::ptrdiff_t>(j), rb.nodes.end());
            std::vector<std::size_t> nb(rb.nodes.begin(),
                                        rb.nodes.begin() + static_cast<std::ptrdiff_t>(j));
            nb.insert(nb.end(), ra.nodes.begin() + static_cast<std::ptrdiff_t>(i + 1),
                      ra.nodes.end());
            moved = TryPair(plan, va, std::move(na), vb, std::move(nb));
          }
          // a in the place of b's follower, which takes a's.
          if (!moved && j + 1 < rb.nodes.size()) {
            const std::size_t after = j + 2 == rb.nodes.size() ? 0 : rb.nodes[j + 2];
            const double saved = m_.Cost(pa, sb) + m_.Cost(sb, sa) - m_.Cost(pa, a) -
                                 m_.Cost(a, sa) + m_.Cost(b, a) + m_.Cost(a, after) -
                                 m_.Cost(b, sb) - m_.Cost(sb, after);
            if (saved < -kShorter) {
              std::vector<std::size_t> na = ra.nodes, nb = rb.nodes;
              std::swap(na[i], nb[j + 1]);
              moved = TryPair(plan, va, std::move(na), vb, std::move(nb));
            }
          }
          if (!moved && strings) moved = Cross(plan, va, i, vb, j);
          if (moved) {
            Index(plan, va);
            Index(plan, vb);
            improved = true;
            break;
          }
        }
      }
    }
    Measure(plan);
  }

  // A string of one to three customers from a's place on, exchanged with
  // a string of up to three after b (none: the string goes in after b),
  // each keeping its order; the moves the loop above already weighs are
  // left out.
  bool Cross(Plan& plan, std::size_t va, std::size_t i, std::size_t vb, std::size_t j) {
    const std::vector<std::size_t>& ra = plan.routes[va].nodes;
    const std::vector<std::size_t>& rb = plan.routes[vb].nodes;
    const std::size_t pa = i == 0 ? 0 : ra[i - 1];
    const std::size_t b = rb[j];
    for (std::size_t la = 1; la <= kCross && i + la <= ra.size(); ++la) {
      const std::size_t a0 = ra[i], a1 = ra[i + la - 1];
      const std::size_t na = i + la == ra.size() ? 0 : ra[i + la];
      for (std::size_t lb = 0; lb <= kCross && j + 1 + lb <= rb.size(); ++lb) {
        if (la == 1 && lb <= 1) continue;
        ++steps_;
        const std::size_t b0 = lb == 0 ? 0 : rb[j + 1], b1 = lb == 0 ? 0 : rb[j + lb];
        const std::size_t nb = j + 1 + lb == rb.size() ? 0 : rb[j + 1 + lb];
        double saved = m_.Cost(b, a0) + m_.Cost(a1, nb) - m_.Cost(pa, a0) - m_.Cost(a1, na);
        if (lb == 0) {
          saved += m_.Cost(pa, na) - m_.Cost(b, nb);
        } else {
          saved += m_.Cost(pa, b0) + m_.Cost(b1, na) - m_.Cost(b, b0) - m_.Cost(b1, nb);
        }
        if (saved >= -kShorter) continue;
        std::vector<std::size_t> new_a(ra.begin(), ra.begin() + static_cast<std::ptrdiff_t>(i));
        new_a.insert(new_a.end(), rb.begin() + static_cast<std::ptrdiff_t>(j + 1),
                     rb.begin() + static_cast<std::ptrdiff_t>(j + 1 + lb));
        new_a.insert(new_a.end(), ra.begin() + static_cast<std::ptrdiff_t>(i + la), ra.end());
        std::vector<std::size_t> new_b(rb.begin(), rb.begin() + static_cast<std::ptrdiff_t>(j + 1));
        new_b.insert(new_b.end(), ra.begin() + static_cast<std::ptrdiff_t>(i),
                     ra.begin() + static_cast<std::ptrdiff_t>(i + la));
        new_b.insert(new_b.end(), rb.begin() + static_cast<std::ptrdiff_t>(j + 1 + lb), rb.end());
        if (TryPair(plan, va, std::move(new_a), vb, std::move(new_b))) return true;
      }
    }
    return false;
  }

  // A string of one to three customers from place i of route v put after
  // the customer at place j of the same route, keeping its order.
  bool MoveWithin(Plan& plan, std::size_t v, std::size_t i, std::size_t j) {
    const std::vector<std::size_t>& r = plan.routes[v].nodes;
    const std::size_t pa = i == 0 ? 0 : r[i - 1];
    const std::size_t b = r[j];
    const std::size_t nb = j + 1 == r.size() ? 0 : r[j + 1];
    for (std::size_t la = 1; la <= kCross && i + la <= r.size(); ++la) {
      // b must lie outside the string and not just before it.
      if (j + 1 == i || (j >= i && j < i + la)) break;
      ++steps_;
      const std::size_t a0 = r[i], a1 = r[i + la - 1];
      const std::size_t na = i + la == r.size() ? 0 : r[i + la];
      const double saved = m_.Cost(pa, na) + m_.Cost(b, a0) + m_.Cost(a1, nb) - m_.Cost(pa, a0) -
                           m_.Cost(a1, na) - m_.Cost(b, nb);
      if (saved >= -kShorter) continue;
      std::vector<std::size_t> nodes;
      nodes.reserve(r.size());
      for (std::size_t k = 0; k < r.size(); ++k) {
        if (k >= i && k < i + la) continue;
        nodes.push_back(r[k]);
        if (k == j)
          nodes.insert(nodes.end(), r.begin() + static_cast<std::ptrdiff_t>(i),
                       r.begin() + static_cast<std::ptrdiff_t>(i + la));
      }
      polish_a_.nodes = std::move(nodes);
      Simulate(m_, v, polish_a_);
      if (polish_a_.late > kSlack || polish_a_.dist >= plan.routes[v].dist - kShorter) continue;
      std::swap(plan.routes[v], polish_a_);
      return true;
    }
    return false;
  }

  // The customers of route v after the one at place lo (of i and j) up to
  // the one at place hi visited the other way round, so that the customers
  // at i and j follow one another; taken where the route is shorter and
  // its windows and working day hold.
  bool ReverseWithin(Plan& plan, std::size_t v, std::size_t i, std::size_t j) {
    const std::vector<std::size_t>& r = plan.routes[v].nodes;
    const std::size_t lo = std::min(i, j), hi = std::max(i, j);
    if (hi < lo + 2) return false;
    ++steps_;
    const std::size_t after = hi + 1 == r.size() ? 0 : r[hi + 1];
    // Weighed by the two links it changes first (the links inside run the
    // other way, which only a one-way cost table makes longer: the whole
    // route's distance is compared next).
    if (m_.Cost(r[lo], r[hi]) + m_.Cost(r[lo + 1], after) - m_.Cost(r[lo], r[lo + 1]) -
            m_.Cost(r[hi], after) >=
        -kShorter) {
      return false;
    }
    std::vector<std::size_t> nodes = r;
    std::reverse(nodes.begin() + static_cast<std::ptrdiff_t>(lo + 1),
                 nodes.begin() + static_cast<std::ptrdiff_t>(hi + 1));
    if (RouteDistance(nodes) >= plan.routes[v].dist - kShorter) return false;
    polish_a_.nodes = std::move(nodes);
    Simulate(m_, v, polish_a_);
    if (polish_a_.late > kSlack || polish_a_.dist >= plan.routes[v].dist - kShorter) return false;
    std::swap(plan.routes[v], polish_a_);
    return true;
  }

  // Replaces routes va and vb by `na` and `nb` where that is shorter and
  // every room, pin, window and working day holds.
  bool TryPair(Plan& plan, std::size_t va, std::vector<std::size_t> na, std::size_t vb,
               std::vector<std::size_t> nb) {
    const Route& ra = plan.routes[va];
    const Route& rb = plan.routes[vb];
    const double before = ra.dist + rb.dist;
    if (RouteDistance(na) + RouteDistance(nb) >= before - kShorter) return false;
    if (!Carries(na, va) || !Carries(nb, vb)) return false;
    polish_a_.nodes = std::move(na);
    Simulate(m_, va, polish_a_);
    if (polish_a_.late > kSlack) return false;
    polish_b_.nodes = std::move(nb);
    Simulate(m_, vb, polish_b_);
    if (polish_b_.late > kSlack) return false;
    std::swap(plan.routes[va], polish_a_);
    std::swap(plan.routes[vb], polish_b_);
    return true;
  }

  double RouteDistance(const std::vector<std::size_t>& nodes) const {
    if (nodes.empty()) return 0;
    double sum = m_.Cost(0, nodes.front()) + m_.Cost(nodes.back(), 0);
    for (std::size_t k = 1; k < nodes.size(); ++k) sum += m_.Cost(nodes[k - 1], nodes[k]);
    return sum;
  }

  // Whether vehicle v may carry all of `nodes` (pins and rooms).
  bool Carries(const std::vector<std::size_t>& nodes, std::size_t v) const {
    RouteLoad load;
    for (std::size_t c : nodes) {
      if (!m_.Allowed(c, v)) return false;
      load.weight += m_.p.demand[c].weight;
      load.volume += m_.p.demand[c].volume;
    }
    return detail::TimedAccess::Within(load.weight, m_.p.vehicles[v].weight) &&
           detail::TimedAccess::Within(load.volume, m_.p.vehicles[v].volume);
  }

  // Puts the customers left over where their lateness (and the days'
  // overrun) grows least, and lists them.
  TimedSolution Finish(Plan& plan) {
    std::vector<std::size_t> left = plan.unassigned;
    left.insert(left.end(), impossible_.begin(), impossible_.end());
    std::sort(left.begin(), left.end());
    for (std::size_t c : left) {
      double best_late = kInf, best_cost = kInf, best_over = kInf;
      std::size_t best_v = 0, best_pos = 0;
      for (std::size_t v = 0; v < plan.routes.size(); ++v) {
        if (!m_.Allowed(c, v)) continue;
        const Route& r = plan.routes[v];
        // Room broken only where nothing else is possible, and least.
        const double over = std::max(0.0, Round3(r.load.weight + m_.p.demand[c].weight) -
                                              Round3(m_.p.vehicles[v].weight)) +
                            std::max(0.0, Round3(r.load.volume + m_.p.demand[c].volume) -
                                              Round3(m_.p.vehicles[v].volume));
        for (std::size_t pos = 0; pos <= r.nodes.size(); ++pos) {
          scratch_.nodes = r.nodes;
          scratch_.nodes.insert(scratch_.nodes.begin() + static_cast<std::ptrdiff_t>(pos), c);
          Simulate(m_, v, scratch_);
          const double late = scratch_.late - r.late;
          const double cost = scratch_.Cost(m_.p.objective) - r.Cost(m_.p.objective) +
                              (r.nodes.empty() && !m_.InUse(v) ? 1e9 : 0);
          if (std::tie(over, late, cost) < std::tie(best_over, best_late, best_cost)) {
            best_over = over;
            best_late = late;
            best_cost = cost;
            best_v = v;
            best_pos = pos;
          }
        }
      }
      if (best_late == kInf) continue;  // no vehicle may carry it: nothing to plan
      Route& r = plan.routes[best_v];
      r.nodes.insert(r.nodes.begin() + static_cast<std::ptrdiff_t>(best_pos), c);
      Simulate(m_, best_v, r);
    }
    plan.unassigned.clear();
    Measure(plan);
    TimedSolution s;
    s.late = left;
    for (Route& r : plan.routes) {
      s.routes.push_back(r.nodes);
      s.distance += r.nodes.empty() ? 0 : r.dist;
    }
    s.used = plan.used;
    s.cost = plan.cost;
    s.steps = steps_ + uncounted_;
    return s;
  }

  Model m_;
  TimedOptions options_;
  SeededRandom random_;
  std::uint64_t steps_ = 0;
  // Steps of the taking out of routes beyond those counted in steps_.
  std::uint64_t uncounted_ = 0;
  std::size_t limit_ = 0;
  // The vehicles the least-cost phase answers on (kAnyVehicle: no price
  // for more).
  std::size_t target_ = kAnyVehicle;
  // Recreate opens a vehicle wherever that is cheapest, not only as a last
  // resort.
  bool open_free_ = false;
  std::vector<std::vector<std::size_t>> neighbours_;
  std::vector<std::uint32_t> absences_;
  // Recreate's working state: each customer's route and place in it, the
  // routes in use, the places weighed for the customer at hand, the kinds of vehicle tried for
  // opening, and the routes changed since the candidate was the current plan.
  std::vector<std::size_t> route_of_;
  std::vector<std::size_t> index_of_;
  std::vector<std::size_t> in_use_;
  std::vector<char> ruined_;
  std::vector<std::uint32_t> weighed_;
  std::uint32_t stamp_ = 0;
  std::vector<char> tried_kind_;
  std::vector<char> touched_;
  std::vector<std::size_t> touched_list_;
  // The candidate's routes in use (KnowBusy), kept while the search runs.
  std::vector<std::size_t> busy_;
  bool busy_known_ = false;
  std::vector<std::size_t> impossible_;
  double scale_ = 1;
  Route scratch_;
  Route polish_a_;
  Route polish_b_;
};

}  // namespace

RouteSchedule TimedSchedule(const TimedProblem& problem, std::size_t vehicle,
                            const std::vector<std::size_t>& route) {
  const Model m(problem);
  // The route's nodes alone: the branch, then each stop in turn.
  const std::size_t k = route.size() + 1;
  std::vector<std::size_t> node = {0};
  node.insert(node.end(), route.begin(), route.end());
  std::vector<double> travel(k * k);
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) travel[i * k + j] = m.Travel(vehicle, node[i], node[j]);
  }
  // The unloading of each stop as the route makes it (shorter after a
  // customer at the same place).
  std::vector<StopClock> clock(k);
  std::vector<std::size_t> sequence(route.size());
  for (std::size_t i = 1; i < k; ++i) {
    clock[i].windows = m.Windows(node[i]);
    clock[i].unloading = m.Service(node[i], node[i - 1]);
    sequence[i - 1] = i;
  }
  return ScheduleRoute(m.Day(vehicle), clock, travel, k, sequence);
}

namespace detail {

InsertionWeighedTwice WeighInsertionTwice(const TimedProblem& problem, std::size_t vehicle,
                                          const std::vector<std::size_t>& route, std::size_t c,
                                          std::size_t pos) {
  const Model m(problem);
  Route r;
  r.nodes = route;
  Simulate(m, vehicle, r);
  return {InsertionDelta(m, vehicle, r, c, pos), InsertionDeltaBySchedule(m, vehicle, r, c, pos)};
}

std::uint64_t PolishTimedRoutes(const TimedProblem& problem,
                                std::vector<std::vector<std::size_t>>& routes,
                                std::uint64_t budget) {
  Search search(problem, {});
  return search.PolishRoutes(routes, budget);
}

}  // namespace detail

bool IsTimedFeasible(const TimedProblem& problem, const TimedSolution& solution) {
  if (solution.routes.size() != problem.vehicles.size()) return false;
  std::vector<int> seen(problem.Nodes(), 0);
  for (std::size_t v = 0; v < solution.routes.size(); ++v) {
    RouteLoad load;
    for (std::size_t c : solution.routes[v]) {
      if (c == 0 || c > problem.customers || seen[c]++) return false;
      if (!problem.pinned.empty() && problem.pinned[c] != kAnyVehicle && problem.pinned[c] != v) {
        return false;
      }
      load.weight += problem.demand[c].weight;
      load.volume += problem.demand[c].volume;
    }
    if (!FitsWithin(load.weight, problem.vehicles[v].weight) ||
        !FitsWithin(load.volume, problem.vehicles[v].volume)) {
      return false;
    }
    if (solution.routes[v].empty()) continue;
    const RouteSchedule s = TimedSchedule(problem, v, solution.routes[v]);
    if (s.late_total > kSlack || s.late_back > kSlack || s.over_longest > kSlack) return false;
  }
  for (std::size_t c = 1; c <= problem.customers; ++c) {
    if (seen[c] != 1) return false;
  }
  return true;
}

TimedSolution SolveTimedRouting(const TimedProblem& problem, const TimedOptions& options) {
  if (problem.vehicles.empty()) return {};
  Search search(problem, options);
  return search.Solve();
}

}  // namespace dg::planning
