#include "planning/timed_route_minimise.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "planning/packing.h"
#include "planning/seeded_random.h"
#include "planning/timed_access.h"

namespace dg::planning {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Times within this many minutes count as equal, as in the search itself.
constexpr double kSlack = 1e-6;
// The most customers put out of one route to let one in.
constexpr std::size_t kMostPutOut = 3;
// The sets of customers considered for putting out of one route, at most,
// for one customer: long routes with wide windows have very many.
constexpr std::uint64_t kMostSetsPerRoute = 3000;
// Random moves after each customer let in by putting others out, so that
// the routes change and the customers put out find other places.
constexpr int kShakes = 12;
// The neighbours a random move takes a customer to.
constexpr std::size_t kNeighbours = 20;

using Clock = detail::TimedAccess;

// Where a vehicle is on its way: the last node, the time it leaves it, the
// driving since the last break, and when it left the branch.
struct State {
  std::size_t at = 0;
  double now = 0;
  double since = 0;
  double leave = 0;
};

// One vehicle's route with the departure from each stop and the driving
// since the last break there.
struct Tour {
  std::vector<std::size_t> nodes;
  std::vector<double> dep;
  std::vector<double> since;
  // Where the vehicle takes no breaks and the tour is on time: the latest
  // departure from each stop that keeps the stops after it on time and the
  // day held.
  std::vector<double> latest;
  RouteLoad load;
  double leave = 0;
  double back = 0;
  double dist = 0;
  bool on_time = true;
  bool slack_known = false;
};

class Minimiser {
 public:
  Minimiser(const TimedProblem& problem, std::uint64_t effort, std::uint64_t seed)
      : m_(problem), effort_(effort), random_(seed * 0x9E3779B97F4A7C15ULL + 7) {
    out_count_.assign(m_.n, 1);
    neighbours_.resize(m_.n);
    for (std::size_t c = 1; c < m_.n; ++c) {
      std::vector<std::size_t>& list = neighbours_[c];
      for (std::size_t d = 1; d < m_.n; ++d) {
        if (d != c) list.push_back(d);
      }
      auto nearer = [&](std::size_t a, std::size_t b) {
        const double da = m_.Cost(c, a) + m_.Cost(a, c);
        const double db = m_.Cost(c, b) + m_.Cost(b, c);
        return da < db || (da == db && a < b);
      };
      const std::size_t keep = std::min(kNeighbours, list.size());
      std::partial_sort(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(keep), list.end(),
                        nearer);
      list.resize(keep);
    }
  }

  std::uint64_t Run(std::vector<std::vector<std::size_t>>& routes, std::size_t fewest) {
    fewest_ = fewest;
    const std::size_t vehicles = routes.size();
    tours_.resize(vehicles);
    route_of_.assign(m_.n, kAnyVehicle);
    for (std::size_t v = 0; v < vehicles; ++v) {
      tours_[v].nodes = routes[v];
      Schedule(v, tours_[v]);
      // Only a plan on time is worked on.
      if (!tours_[v].on_time) return steps_;
      for (std::size_t c : routes[v]) route_of_[c] = v;
    }
    std::vector<char> tried(vehicles, 0);
    while (steps_ < effort_) {
      std::vector<std::size_t> candidates;
      std::size_t in_use = 0;
      for (std::size_t v = 0; v < vehicles; ++v) {
        if (tours_[v].nodes.empty()) continue;
        ++in_use;
        if (tried[v] || m_.InUse(v)) continue;
        if (std::any_of(tours_[v].nodes.begin(), tours_[v].nodes.end(),
                        [&](std::size_t c) { return m_.Pinned(c); })) {
          continue;
        }
        candidates.push_back(v);
      }
      if (candidates.empty() || in_use < 2 || in_use <= fewest_) break;
      // The route with the fewest customers, ties drawn at random.
      std::size_t fewest = kAnyVehicle;
      for (std::size_t v : candidates) {
        if (fewest == kAnyVehicle || tours_[v].nodes.size() < tours_[fewest].nodes.size() ||
            (tours_[v].nodes.size() == tours_[fewest].nodes.size() && random_.Below(2) == 0)) {
          fewest = v;
        }
      }
      const std::vector<Tour> saved = tours_;
      const std::vector<std::size_t> saved_route_of = route_of_;
      const std::uint64_t until = steps_ + std::max<std::uint64_t>(1, (effort_ - steps_) / 2);
      if (TakeOut(fewest, until)) {
        std::fill(tried.begin(), tried.end(), 0);
      } else {
        tours_ = saved;
        route_of_ = saved_route_of;
        tried[fewest] = 1;
      }
    }
    for (std::size_t v = 0; v < vehicles; ++v) routes[v] = tours_[v].nodes;
    return steps_;
  }

 private:
  // The schedule of t's nodes on vehicle v; `on_time` when every stop is
  // within a window and the day holds.
  void Schedule(std::size_t v, Tour& t) {
    ++steps_;
    const VehicleDay& day = m_.Day(v);
    t.dep.resize(t.nodes.size());
    t.since.resize(t.nodes.size());
    t.load = {};
    t.dist = 0;
    t.on_time = true;
    State s = Start(day);
    for (std::size_t k = 0; k < t.nodes.size(); ++k) {
      const std::size_t node = t.nodes[k];
      t.load.weight += m_.p.demand[node].weight;
      t.load.volume += m_.p.demand[node].volume;
      t.dist += m_.Cost(s.at, node);
      if (!Visit(v, day, s, node)) t.on_time = false;
      t.dep[k] = s.now;
      t.since[k] = s.since;
    }
    t.dist += m_.Cost(s.at, 0);
    t.leave = s.leave;
    t.back = Back(v, day, s);
    if (!t.nodes.empty() && !DayHolds(day, t.back, t.leave)) t.on_time = false;
    t.slack_known = false;
    if (!t.on_time || t.nodes.empty() || detail::TakesBreaks(day)) return;
    const std::size_t size = t.nodes.size();
    t.latest.resize(size);
    double latest = detail::LatestBack(day, t.leave) - m_.Travel(v, t.nodes.back(), 0);
    for (std::size_t k = size; k-- > 0;) {
      t.latest[k] = latest;
      if (k == 0) break;
      const std::size_t node = t.nodes[k];
      const std::size_t prev = t.nodes[k - 1];
      latest = detail::LatestArrival(m_.Windows(node), latest - m_.Service(node, prev), kSlack) -
               m_.Travel(v, prev, node);
    }
    t.slack_known = true;
  }

  static State Start(const VehicleDay& day) {
    State s;
    s.now = day.start + day.loading;
    s.leave = s.now;
    return s;
  }

  // Drives on to `node` and unloads there; false when unloading starts
  // after its windows (the state then holds the late start).
  bool Visit(std::size_t v, const VehicleDay& day, State& s, std::size_t node) const {
    const double arrival = s.now + DrivingMinutes(day.breaks, s.since, m_.Travel(v, s.at, node));
    const WindowStart w = StartInWindows(m_.Windows(node), arrival);
    // Leaving later by the wait at the first stop changes nothing after it.
    if (s.at == 0) s.leave += w.start - arrival;
    s.now = w.start + m_.Service(node, s.at);
    s.at = node;
    return w.late <= kSlack;
  }

  double Back(std::size_t v, const VehicleDay& day, State s) const {
    return s.now + DrivingMinutes(day.breaks, s.since, m_.Travel(v, s.at, 0));
  }

  static bool DayHolds(const VehicleDay& day, double back, double leave) {
    return back <= day.end + kSlack && back - (leave - day.loading) <= day.longest + kSlack;
  }

  // The state just before the k-th stop of t (k may be its size).
  State Before(const VehicleDay& day, const Tour& t, std::size_t k) const {
    if (k == 0) return Start(day);
    State s;
    s.at = t.nodes[k - 1];
    s.now = t.dep[k - 1];
    s.since = t.since[k - 1];
    s.leave = t.leave;
    return s;
  }

  // Whether the stops of t from the k-th on keep their windows and the day
  // holds, reached in state s. Stops once the vehicle is there no later
  // than before (and, under breaks, with the same driving since the last):
  // the rest is as it was, or earlier.
  bool RestHolds(std::size_t v, const Tour& t, std::size_t k, State s) {
    ++steps_;
    const VehicleDay& day = m_.Day(v);
    const bool breaks = day.breaks.after_driving > 0 && day.breaks.minutes > 0;
    for (; k < t.nodes.size(); ++k) {
      if (!Visit(v, day, s, t.nodes[k])) return false;
      const bool as_before =
          breaks ? s.now == t.dep[k] && s.since == t.since[k] : s.now <= t.dep[k];
      if (as_before && DayHolds(day, t.back, s.leave)) return true;
    }
    return DayHolds(day, Back(v, day, s), s.leave);
  }

  // The distance added by putting c at place `pos` of v's route, or
  // infinity when the room, a window or the day would not hold.
  double InsertionCost(std::size_t v, std::size_t c, std::size_t pos) {
    const Tour& t = tours_[v];
    const VehicleDay& day = m_.Day(v);
    State s = Before(day, t, pos);
    const std::size_t prev = s.at;
    const std::size_t next = pos == t.nodes.size() ? 0 : t.nodes[pos];
    if (!Visit(v, day, s, c)) return kInf;
    if (pos > 0 && pos < t.nodes.size() && t.slack_known) {
      // The stop after c, and the rest holds when it is left by its latest
      // departure (counted as the walk along the rest would be).
      ++steps_;
      if (!Visit(v, day, s, next) || s.now > t.latest[pos] + kSlack) return kInf;
    } else if (!RestHolds(v, t, pos, s)) {
      return kInf;
    }
    return m_.Cost(prev, c) + m_.Cost(c, next) - m_.Cost(prev, next);
  }

  // Puts c at its cheapest place on time on a route in use; false when it
  // has none.
  bool InsertOnTime(std::size_t c) {
    double best = kInf;
    std::size_t best_v = 0, best_pos = 0;
    for (std::size_t v = 0; v < tours_.size(); ++v) {
      const Tour& t = tours_[v];
      if ((t.nodes.empty() && !m_.InUse(v)) || !m_.Allowed(c, v) || !m_.Fits(t.load, c, v)) {
        continue;
      }
      for (std::size_t pos = 0; pos <= t.nodes.size(); ++pos) {
        const double cost = InsertionCost(v, c, pos);
        if (cost < best) {
          best = cost;
          best_v = v;
          best_pos = pos;
        }
      }
    }
    if (best == kInf) return false;
    Place(best_v, c, best_pos);
    return true;
  }

  void Place(std::size_t v, std::size_t c, std::size_t pos) {
    Tour& t = tours_[v];
    t.nodes.insert(t.nodes.begin() + static_cast<std::ptrdiff_t>(pos), c);
    route_of_[c] = v;
    Schedule(v, t);
  }

  // The best way found to let a customer in by putting others out.
  struct Swap {
    std::size_t v = kAnyVehicle;
    std::size_t pos = 0;
    std::vector<std::size_t> out;  // positions in the route, increasing
    std::uint64_t weight = std::numeric_limits<std::uint64_t>::max();
  };

  // Lets c into some route by putting out at most kMostPutOut of its
  // customers, those most seldom put out before (the least sum of their
  // counts); false when no route takes it so.
  bool InsertPuttingOut(std::size_t c, std::vector<std::size_t>& pool) {
    Swap best;
    for (std::size_t v = 0; v < tours_.size(); ++v) {
      const Tour& t = tours_[v];
      if ((t.nodes.empty() && !m_.InUse(v)) || !m_.Allowed(c, v)) continue;
      search_ = {v, c, 0, {}};
      search_.out.reserve(kMostPutOut);
      Explore(best, 0, Start(m_.Day(v)), kAnyVehicle, 0, {});
    }
    if (best.v == kAnyVehicle) return false;
    Tour& t = tours_[best.v];
    for (std::size_t k = best.out.size(); k-- > 0;) {
      const std::size_t d = t.nodes[best.out[k]];
      route_of_[d] = kAnyVehicle;
      pool.push_back(d);
      t.nodes.erase(t.nodes.begin() + static_cast<std::ptrdiff_t>(best.out[k]));
    }
    // The place counted among the stops kept.
    std::size_t pos = best.pos;
    for (std::size_t k : best.out) {
      if (k < best.pos) --pos;
    }
    Place(best.v, c, pos);
    return true;
  }

  struct Search {
    std::size_t v = 0;
    std::size_t c = 0;
    std::uint64_t sets = 0;
    std::vector<std::size_t> out;
  };

  // Goes through the stops of the route from the j-th on in state s: c put
  // in at `pos` (once it is in), each stop kept or put out; `weight` the
  // counts of those put out so far, `removed` their load.
  void Explore(Swap& best, std::size_t j, State s, std::size_t pos, std::uint64_t weight,
               RouteLoad removed) {
    const std::size_t v = search_.v;
    const Tour& t = tours_[v];
    const VehicleDay& day = m_.Day(v);
    if (search_.sets >= kMostSetsPerRoute) return;
    ++search_.sets;
    ++steps_;
    const RouteLoad kept{t.load.weight - removed.weight, t.load.volume - removed.volume};
    if (pos == kAnyVehicle) {
      State in = s;
      if (Visit(v, day, in, search_.c)) Explore(best, j, in, j, weight, removed);
    }
    if (j == t.nodes.size()) {
      if (pos != kAnyVehicle && m_.Fits(kept, search_.c, v) &&
          DayHolds(day, Back(v, day, s), s.leave)) {
        Offer(best, pos, weight);
      }
      return;
    }
    const std::size_t d = t.nodes[j];
    if (search_.out.size() < kMostPutOut && weight + out_count_[d] < best.weight) {
      search_.out.push_back(j);
      RouteLoad more = removed;
      more.weight += m_.p.demand[d].weight;
      more.volume += m_.p.demand[d].volume;
      Explore(best, j + 1, s, pos, weight + out_count_[d], more);
      search_.out.pop_back();
    }
    if (!Visit(v, day, s, d)) return;
    if (pos != kAnyVehicle && weight > 0 && m_.Fits(kept, search_.c, v)) {
      const bool breaks = day.breaks.after_driving > 0 && day.breaks.minutes > 0;
      const bool as_before =
          breaks ? s.now == t.dep[j] && s.since == t.since[j] : s.now <= t.dep[j];
      if (as_before && DayHolds(day, t.back, s.leave)) {
        // Putting more out could only weigh more.
        Offer(best, pos, weight);
        return;
      }
    }
    Explore(best, j + 1, s, pos, weight, removed);
  }

  void Offer(Swap& best, std::size_t pos, std::uint64_t weight) {
    if (weight == 0) return;  // an insertion on time, tried before
    if (weight < best.weight || (weight == best.weight && random_.Below(2) == 0)) {
      best.v = search_.v;
      best.pos = pos;
      best.out = search_.out;
      best.weight = weight;
    }
  }

  // A few random moves of a customer next to one of its neighbours, kept
  // when both routes stay on time: the routes change without growing in
  // number.
  void Shake() {
    for (int i = 0; i < kShakes; ++i) {
      const std::size_t c = 1 + random_.Below(m_.n - 1);
      const std::size_t from = route_of_[c];
      if (from == kAnyVehicle || neighbours_[c].empty()) continue;
      const std::size_t near = neighbours_[c][random_.Below(neighbours_[c].size())];
      const std::size_t to = route_of_[near];
      if (to == kAnyVehicle || to == from || !m_.Allowed(c, to) ||
          !m_.Fits(tours_[to].load, c, to)) {
        continue;
      }
      const Tour& target = tours_[to];
      const std::size_t at = static_cast<std::size_t>(
          std::find(target.nodes.begin(), target.nodes.end(), near) - target.nodes.begin());
      const std::size_t pos = at + random_.Below(2);
      if (InsertionCost(to, c, pos) == kInf) continue;
      Tour shorter = tours_[from];
      shorter.nodes.erase(std::find(shorter.nodes.begin(), shorter.nodes.end(), c));
      Schedule(from, shorter);
      if (!shorter.on_time || (shorter.nodes.empty() && !m_.InUse(from))) continue;
      tours_[from] = std::move(shorter);
      Place(to, c, pos);
    }
  }

  // Empties v's route and finds places for its customers on the other
  // routes, until `until` steps; false when some are left without.
  bool TakeOut(std::size_t v, std::uint64_t until) {
    std::vector<std::size_t> pool = tours_[v].nodes;
    for (std::size_t c : pool) route_of_[c] = kAnyVehicle;
    tours_[v].nodes.clear();
    Schedule(v, tours_[v]);
    for (std::size_t i = pool.size(); i > 1; --i) std::swap(pool[i - 1], pool[random_.Below(i)]);
    while (!pool.empty()) {
      if (steps_ >= until) return false;
      ++steps_;
      const std::size_t c = pool.back();
      pool.pop_back();
      if (InsertOnTime(c)) continue;
      ++out_count_[c];
      if (!InsertPuttingOut(c, pool)) {
        // No route takes it even so: later, once the routes have changed.
        pool.insert(pool.begin(), c);
      }
      Shake();
    }
    return true;
  }

  Clock m_;
  std::uint64_t effort_;
  SeededRandom random_;
  std::uint64_t steps_ = 0;
  // No route is taken out once so few are in use.
  std::size_t fewest_ = 0;
  std::vector<Tour> tours_;
  std::vector<std::size_t> route_of_;
  std::vector<std::uint64_t> out_count_;
  std::vector<std::vector<std::size_t>> neighbours_;
  Search search_;
};

}  // namespace

std::uint64_t MinimiseTimedRoutes(const TimedProblem& problem,
                                  std::vector<std::vector<std::size_t>>& routes,
                                  std::uint64_t effort, std::uint64_t seed, std::size_t fewest) {
  if (routes.size() != problem.vehicles.size() || problem.customers == 0 || effort == 0) return 0;
  Minimiser minimiser(problem, effort, seed);
  return minimiser.Run(routes, fewest);
}

}  // namespace dg::planning
