// Ruin and recreate in the manner of slack induction by string removals:
// each step removes a few strings of consecutive customers from routes that
// pass near a random customer (sometimes keeping a piece in the middle of
// the string), puts the removed customers back one by one at their cheapest
// feasible place (now and then overlooking a place, so that the search does
// not always rebuild the same routes), and keeps the result by simulated
// annealing. A step that cannot put a customer back anywhere, or that leaves
// fewer vehicles in use than required, is dropped.
#include "planning/routing.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "planning/packing.h"

namespace dg::planning {
namespace {

// Deterministic pseudo-random numbers, so that one input gives one answer.
struct Random {
  std::uint64_t state = 0x853c49e6748fea9bULL;
  std::uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }
};

// FitsWithin, without rounding where the answer is plain (rounding is
// monotonic, so a need within the room fits, and one clearly above it does
// not).
bool FitsOne(double need, double room) {
  if (need <= room) return true;
  if (need > room + 0.002) return false;
  return FitsWithin(need, room);
}

bool Fits(const RouteLoad& load, const RouteLoad& add, const RouteLoad& room) {
  return FitsOne(load.weight + add.weight, room.weight) &&
         FitsOne(load.volume + add.volume, room.volume);
}

double PathCost(const RoutingProblem& p, const std::vector<std::size_t>& route) {
  if (route.empty()) return 0;
  double total = p.Cost(0, route.front()) + p.Cost(route.back(), 0);
  for (std::size_t k = 1; k < route.size(); ++k) total += p.Cost(route[k - 1], route[k]);
  return total;
}

// Best-improvement 2-opt inside one route until nothing improves.
void TwoOpt(const RoutingProblem& p, std::vector<std::size_t>& route) {
  const std::size_t n = route.size();
  if (n < 3) return;
  auto at = [&](std::size_t k) { return k == 0 || k == n + 1 ? std::size_t{0} : route[k - 1]; };
  for (;;) {
    double best = -1e-9;
    std::size_t bi = 0, bj = 0;
    for (std::size_t i = 1; i < n; ++i) {
      for (std::size_t j = i + 1; j <= n; ++j) {
        const double delta = p.Cost(at(i - 1), at(j)) + p.Cost(at(i), at(j + 1)) -
                             p.Cost(at(i - 1), at(i)) - p.Cost(at(j), at(j + 1));
        if (delta < best) {
          best = delta;
          bi = i;
          bj = j;
        }
      }
    }
    if (bj == 0) return;
    std::reverse(route.begin() + static_cast<std::ptrdiff_t>(bi) - 1,
                 route.begin() + static_cast<std::ptrdiff_t>(bj));
  }
}

class Search {
 public:
  Search(const RoutingProblem& p, const RoutingSolution& start, std::uint64_t effort)
      : p_(p), n_(p.customers), effort_(effort) {
    cur_.routes = start.routes;
    cur_.routes.resize(p.vehicles.size());
    route_of_.assign(n_ + 1, kNone);
    pos_of_.assign(n_ + 1, 0);
    removed_flag_.assign(n_ + 1, 0);
    absences_.assign(n_ + 1, 0);
    touched_.assign(p.vehicles.size(), 0);
    Measure(cur_);

    // Sizes relative to the largest room, for the order of reinsertion and
    // the choice of an unused vehicle.
    double max_w = 0, max_v = 0;
    for (const RouteLoad& v : p.vehicles) {
      max_w = std::max(max_w, v.weight);
      max_v = std::max(max_v, v.volume);
    }
    auto size = [&](const RouteLoad& l) {
      return (max_w > 0 ? l.weight / max_w : 0) + (max_v > 0 ? l.volume / max_v : 0);
    };
    size_.assign(n_ + 1, 0);
    for (std::size_t c = 1; c <= n_; ++c) size_[c] = size(p.demand[c]);
    by_room_.resize(p.vehicles.size());
    std::iota(by_room_.begin(), by_room_.end(), std::size_t{0});
    // A route is opened on the largest vehicle left: the distances do not
    // care which vehicle drives, and the room left to fill is the most.
    std::stable_sort(by_room_.begin(), by_room_.end(), [&](std::size_t a, std::size_t b) {
      return size(p.vehicles[a]) > size(p.vehicles[b]);
    });
    rank_.assign(p.vehicles.size(), 0);
    for (std::size_t k = 0; k < by_room_.size(); ++k) rank_[by_room_[k]] = k;
    for (std::size_t v = 0; v < cur_.routes.size(); ++v) {
      if (InUse(v)) active_.push_back(v);
      nonempty_ += cur_.routes[v].empty() ? 0 : 1;
    }
    for (std::size_t v : by_room_) {
      if (!InUse(v)) idle_.push_back(v);
    }
    for (std::size_t v = 0; v < p.in_use.size() && v < p.vehicles.size(); ++v) {
      if (p.in_use[v]) flagged_.push_back(v);
    }
    // On a large problem a customer is put back only beside one of its
    // nearest customers (or on a route of its own): the far places of the
    // other routes are hardly ever the cheapest, and weighing them all would
    // make each step as slow as the problem is large.
    granular_ = n_ > kGranularFrom;

    // The nearest customers of each customer, itself first.
    const std::size_t k = std::min<std::size_t>(n_, 80);
    near_.resize(n_ + 1);
    std::vector<std::size_t> order(n_);
    for (std::size_t c = 1; c <= n_; ++c) {
      std::iota(order.begin(), order.end(), std::size_t{1});
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), order.end(),
                        [&](std::size_t a, std::size_t b) {
                          const double ca = a == c ? -1 : p.Cost(c, a);
                          const double cb = b == c ? -1 : p.Cost(c, b);
                          return ca < cb || (ca == cb && a < b);
                        });
      near_[c].assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k));
    }
    double depot = 0, farthest = 0;
    for (std::size_t c = 1; c <= n_; ++c) {
      depot += p.Cost(0, c);
      farthest = std::max(farthest, p.Cost(0, c) + p.Cost(c, 0));
    }
    scale_ = n_ > 0 ? depot / static_cast<double>(n_) : 1;
    // A customer left out, or a vehicle missing below the least in use,
    // costs more than any route could save.
    penalty_ = 10 * (farthest + 1) * static_cast<double>(n_ + 1);
  }

  RoutingSolution Run() {
    std::vector<std::vector<std::size_t>> best;
    double best_total = std::numeric_limits<double>::infinity();
    if (Complete()) {
      best = cur_.routes;
      best_total = cur_.total;
    }
    const double t0 = 0.25 * scale_, t1 = 0.0025 * scale_;
    while (spent_ < effort_ && n_ > 0) {
      const double before = Objective();
      const bool complete_before = Complete();
      const std::size_t missing_before = Missing();
      const std::uint64_t weight_before = AbsentWeight();
      saved_absent_ = absent_;
      saved_total_ = cur_.total;
      saved_used_ = cur_.used;
      Ruin();
      Recreate();
      spent_ += 8 * (removed_count_ + touched_list_.size()) + 16;
      const double progress = static_cast<double>(spent_) / static_cast<double>(effort_);
      const double temperature = t0 * std::pow(t1 / t0, std::min(1.0, progress));
      const double after = Objective();
      // Until everything is placed, a step is kept for fewer customers left
      // out, or as many that were left out less often so far (the ones hard
      // to place get in first); from then on by its cost.
      bool keep = false;
      if (!complete_before) {
        keep = Missing() < missing_before ||
               (Missing() == missing_before && AbsentWeight() < weight_before);
      } else {
        keep = Missing() == 0 && after < before - temperature * std::log(rng_.Uniform() + 1e-300);
      }
      if (keep) {
        for (std::size_t v : touched_list_) touched_[v] = 0;
        touched_list_.clear();
        saved_.clear();
        if (Complete() && cur_.total < best_total - 1e-9) {
          best = cur_.routes;
          best_total = cur_.total;
        }
      } else {
        Undo();
      }
      for (std::size_t c : absent_) ++absences_[c];
    }
    RoutingSolution out;
    out.routes = best;
    for (auto& route : out.routes) TwoOpt(p_, route);
    out.cost = out.routes.empty() ? best_total : RoutingCost(p_, out);
    return out;
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  // Customers from which the places weighed for a customer are its nearest
  // ones only, and how many of them.
  static constexpr std::size_t kGranularFrom = 200;
  static constexpr std::size_t kInsertNear = 40;
  struct State {
    std::vector<std::vector<std::size_t>> routes;
    std::vector<RouteLoad> load;
    double total = 0;
    std::size_t used = 0;
  };
  struct Saved {
    std::size_t vehicle;
    std::vector<std::size_t> route;
    RouteLoad load;
  };

  bool Complete() const { return Missing() == 0; }
  // Customers left out, and vehicles missing below the least in use.
  std::size_t Missing() const {
    return absent_.size() + (cur_.used < p_.min_used ? p_.min_used - cur_.used : 0);
  }
  std::uint64_t AbsentWeight() const {
    std::uint64_t w = 0;
    for (std::size_t c : absent_) w += absences_[c];
    return w;
  }
  double Objective() const {
    const std::size_t missing = cur_.used < p_.min_used ? p_.min_used - cur_.used : 0;
    return cur_.total + penalty_ * static_cast<double>(absent_.size() + missing);
  }

  bool InUse(std::size_t v) const {
    return !cur_.routes[v].empty() || (!p_.in_use.empty() && p_.in_use[v]);
  }

  void Measure(State& s) {
    s.load.assign(s.routes.size(), {});
    s.total = 0;
    s.used = 0;
    for (std::size_t v = 0; v < s.routes.size(); ++v) {
      for (std::size_t c : s.routes[v]) {
        s.load[v].weight += p_.demand[c].weight;
        s.load[v].volume += p_.demand[c].volume;
      }
      s.total += PathCost(p_, s.routes[v]);
      s.used += InUse(v) ? 1 : 0;
      Renumber(v, 0);
    }
    for (std::size_t c = 1; c <= n_; ++c) {
      if (route_of_[c] == kNone) absent_.push_back(c);
    }
  }

  void Renumber(std::size_t v, std::size_t from) {
    const auto& r = cur_.routes[v];
    for (std::size_t k = from; k < r.size(); ++k) {
      route_of_[r[k]] = v;
      pos_of_[r[k]] = k;
    }
  }

  // Keeps the lists of vehicles in use (by number) and unused (largest
  // room first), and the count of routes with customers, after route v
  // changed.
  void Update(std::size_t v, bool was_used, bool was_empty) {
    const bool empty = cur_.routes[v].empty();
    if (empty != was_empty) nonempty_ += empty ? -1 : 1;
    const bool used = InUse(v);
    if (used == was_used) return;
    auto by_rank = [&](std::size_t a, std::size_t b) { return rank_[a] < rank_[b]; };
    auto in_idle = std::lower_bound(idle_.begin(), idle_.end(), v, by_rank);
    auto in_active = std::lower_bound(active_.begin(), active_.end(), v);
    if (used) {
      idle_.erase(in_idle);
      active_.insert(in_active, v);
    } else {
      active_.erase(in_active);
      idle_.insert(in_idle, v);
    }
  }

  // Keeps the route as it was before this step's first change to it.
  void Touch(std::size_t v) {
    if (touched_[v]) return;
    touched_[v] = 1;
    touched_list_.push_back(v);
    saved_.push_back({v, cur_.routes[v], cur_.load[v]});
  }

  void Undo() {
    for (Saved& s : saved_) {
      const bool was_used = InUse(s.vehicle), was_empty = cur_.routes[s.vehicle].empty();
      for (std::size_t c : cur_.routes[s.vehicle]) route_of_[c] = kNone;
      cur_.routes[s.vehicle].swap(s.route);
      cur_.load[s.vehicle] = s.load;
      Update(s.vehicle, was_used, was_empty);
    }
    for (std::size_t c : absent_) route_of_[c] = kNone;
    absent_.swap(saved_absent_);
    for (std::size_t c : absent_) route_of_[c] = kNone;
    for (const Saved& s : saved_) Renumber(s.vehicle, 0);
    cur_.total = saved_total_;
    cur_.used = saved_used_;
    for (std::size_t v : touched_list_) touched_[v] = 0;
    touched_list_.clear();
    saved_.clear();
  }

  // Removes positions [first, last) of route v, except [keep_from, keep_to).
  void Cut(std::size_t v, std::size_t first, std::size_t last, std::size_t keep_from,
           std::size_t keep_to) {
    Touch(v);
    auto& r = cur_.routes[v];
    const bool was_used = InUse(v);
    cur_.total -= PathCost(p_, r);
    std::size_t out = first;
    for (std::size_t k = first; k < last; ++k) {
      const std::size_t c = r[k];
      if (k >= keep_from && k < keep_to) {
        r[out++] = c;
        continue;
      }
      removed_.push_back(c);
      removed_flag_[c] = 1;
      route_of_[c] = kNone;
      cur_.load[v].weight -= p_.demand[c].weight;
      cur_.load[v].volume -= p_.demand[c].volume;
    }
    r.erase(r.begin() + static_cast<std::ptrdiff_t>(out),
            r.begin() + static_cast<std::ptrdiff_t>(last));
    cur_.total += PathCost(p_, r);
    if (was_used && !InUse(v)) --cur_.used;
    Update(v, was_used, false);
    Renumber(v, first);
  }

  // Moves a route whole onto an unused vehicle it fits, so that the
  // vehicles in use can change shape (the cost stays).
  void Shift() {
    if (active_.empty() || idle_.empty()) return;
    const std::size_t v = active_[rng_.Below(active_.size())];
    const std::size_t u = idle_[rng_.Below(idle_.size())];
    if (cur_.routes[v].empty() || !Fits(cur_.load[v], {}, p_.vehicles[u])) return;
    Touch(v);
    Touch(u);
    const bool v_used = InUse(v), u_used = InUse(u);
    cur_.routes[u].swap(cur_.routes[v]);
    std::swap(cur_.load[u], cur_.load[v]);
    Renumber(u, 0);
    Update(v, v_used, false);
    Update(u, u_used, true);
  }

  void Ruin() {
    removed_.clear();
    if (rng_.Below(16) == 0) Shift();
    const std::size_t routes = nonempty_;
    const double average = static_cast<double>(n_ - absent_.size()) /
                           static_cast<double>(std::max<std::size_t>(1, routes));
    const double longest = std::max(1.0, std::min(10.0, average));
    const double strings_max = 4.0 * 10.0 / (1.0 + longest) - 1.0;
    const std::size_t strings =
        static_cast<std::size_t>(std::floor(rng_.Uniform() * strings_max + 1.0));
    std::size_t done = 0;
    const std::size_t seed = 1 + rng_.Below(n_);
    for (std::size_t c : near_[seed]) {
      if (done >= strings) break;
      if (removed_flag_[c] || route_of_[c] == kNone) continue;
      const std::size_t v = route_of_[c];
      if (touched_[v]) continue;
      ++done;
      const std::size_t size = cur_.routes[v].size();
      const std::size_t most = std::min<std::size_t>(size, static_cast<std::size_t>(longest));
      const std::size_t len = 1 + rng_.Below(std::max<std::size_t>(1, most));
      const std::size_t at = pos_of_[c];
      if (len >= size || rng_.Below(2) == 0) {
        const std::size_t lo = at + 1 >= len ? at + 1 - len : 0;
        const std::size_t hi = std::min(at, size - len);
        const std::size_t first = lo + rng_.Below(hi - lo + 1);
        Cut(v, first, first + len, 0, 0);
      } else {
        // A string of len + kept customers, of which `kept` consecutive ones
        // stay.
        std::size_t kept = 1;
        while (len + kept < size && rng_.Below(2) == 0) ++kept;
        const std::size_t span = len + kept;
        const std::size_t lo = at + 1 >= span ? at + 1 - span : 0;
        const std::size_t hi = std::min(at, size - span);
        const std::size_t first = lo + rng_.Below(hi - lo + 1);
        const std::size_t keep = first + rng_.Below(len + 1);
        Cut(v, first, first + span, keep, keep + kept);
      }
    }
    removed_count_ = removed_.size();
    // The customers left out try again with the removed ones.
    removed_.insert(removed_.end(), absent_.begin(), absent_.end());
    absent_.clear();
  }

  void Recreate() {
    switch (rng_.Below(11)) {
      case 0:
      case 1:
      case 2:
      case 3:
        for (std::size_t k = removed_.size(); k > 1; --k) {
          std::swap(removed_[k - 1], removed_[rng_.Below(k)]);
        }
        break;
      case 4:
      case 5:
      case 6:
      case 7:
        std::stable_sort(removed_.begin(), removed_.end(),
                         [&](std::size_t a, std::size_t b) { return size_[a] > size_[b]; });
        break;
      case 8:
      case 9:
        std::stable_sort(removed_.begin(), removed_.end(), [&](std::size_t a, std::size_t b) {
          return p_.Cost(0, a) > p_.Cost(0, b);
        });
        break;
      default:
        std::stable_sort(removed_.begin(), removed_.end(), [&](std::size_t a, std::size_t b) {
          return p_.Cost(0, a) < p_.Cost(0, b);
        });
        break;
    }
    for (std::size_t c : removed_) {
      removed_flag_[c] = 0;
      if (!Insert(c)) absent_.push_back(c);
    }
  }

  // Puts c at its cheapest feasible place; an unused vehicle only when the
  // limit allows one more.
  bool Insert(std::size_t c) {
    const RouteLoad& d = p_.demand[c];
    double best = std::numeric_limits<double>::infinity();
    std::size_t best_v = 0, best_at = 0;
    bool found = false;
    // A place is overlooked now and then (one in 128).
    auto weigh = [&](std::size_t v, std::size_t at, std::size_t previous, std::size_t next) {
      ++spent_;
      if ((rng_.Next() >> 57) == 0) return;
      const double delta = p_.Cost(c, previous) + p_.Cost(c, next) - p_.Cost(previous, next);
      if (delta < best) {
        best = delta;
        best_v = v;
        best_at = at;
        found = true;
      }
    };
    // Every place of every vehicle in use.
    auto weigh_all = [&] {
      spent_ += active_.size();
      for (std::size_t v : active_) {
        if (!Fits(cur_.load[v], d, p_.vehicles[v])) continue;
        const auto& r = cur_.routes[v];
        std::size_t previous = 0;
        for (std::size_t at = 0; at <= r.size(); ++at) {
          const std::size_t next = at < r.size() ? r[at] : 0;
          weigh(v, at, previous, next);
          previous = next;
        }
      }
    };
    if (!granular_) {
      weigh_all();
    } else {
      // Beside each of the nearest customers that is on a route: just
      // before it, and just after it.
      const std::vector<std::size_t>& near = near_[c];
      const std::size_t end = std::min(near.size(), kInsertNear + 1);
      spent_ += end;
      for (std::size_t k = 1; k < end; ++k) {
        const std::size_t m = near[k];
        const std::size_t v = route_of_[m];
        if (v == kNone || !Fits(cur_.load[v], d, p_.vehicles[v])) continue;
        const auto& r = cur_.routes[v];
        const std::size_t at = pos_of_[m];
        weigh(v, at, at > 0 ? r[at - 1] : 0, m);
        weigh(v, at + 1, m, at + 1 < r.size() ? r[at + 1] : 0);
      }
      // A vehicle in use for something else, without customers yet, has no
      // nearest customer to be found beside.
      for (std::size_t v : flagged_) {
        if (cur_.routes[v].empty() && Fits(cur_.load[v], d, p_.vehicles[v])) weigh(v, 0, 0, 0);
      }
      // Where the nearest customers' vehicles are full (rooms filled tight):
      // every place of every vehicle in use, as on a small problem, before a
      // vehicle of its own.
      if (!found) weigh_all();
    }
    if (cur_.used < p_.max_used && !idle_.empty()) {
      // Usually the largest vehicle left; now and then another, so that a
      // route can move to a vehicle of another shape.
      const std::size_t from = rng_.Below(4) == 0 ? rng_.Below(idle_.size()) : 0;
      for (std::size_t k = 0; k < idle_.size(); ++k) {
        const std::size_t v = idle_[(from + k) % idle_.size()];
        if (!Fits(cur_.load[v], d, p_.vehicles[v])) continue;
        const double delta = p_.Cost(0, c) + p_.Cost(c, 0);
        if (delta < best) {
          best = delta;
          best_v = v;
          best_at = 0;
          found = true;
        }
        break;
      }
    }
    if (!found) return false;
    Touch(best_v);
    auto& r = cur_.routes[best_v];
    const bool was_used = InUse(best_v), was_empty = r.empty();
    if (!was_used) ++cur_.used;
    r.insert(r.begin() + static_cast<std::ptrdiff_t>(best_at), c);
    Update(best_v, was_used, was_empty);
    cur_.load[best_v].weight += d.weight;
    cur_.load[best_v].volume += d.volume;
    cur_.total += best;
    Renumber(best_v, best_at);
    return true;
  }

  const RoutingProblem& p_;
  std::size_t n_;
  std::uint64_t effort_;
  std::uint64_t spent_ = 0;
  State cur_;
  std::vector<std::size_t> absent_, saved_absent_;
  double saved_total_ = 0;
  std::size_t saved_used_ = 0;
  std::vector<Saved> saved_;
  std::vector<std::size_t> touched_list_;
  std::vector<char> touched_;
  std::vector<std::size_t> route_of_, pos_of_, removed_, by_room_, rank_, active_, idle_;
  std::size_t nonempty_ = 0;          // routes with customers
  std::vector<std::size_t> flagged_;  // vehicles in use for something else
  bool granular_ = false;
  std::size_t removed_count_ = 0;
  std::vector<char> removed_flag_;
  std::vector<std::uint64_t> absences_;  // steps each customer spent left out
  std::vector<double> size_;
  std::vector<std::vector<std::size_t>> near_;
  double scale_ = 1, penalty_ = 1;
  Random rng_;
};

}  // namespace

std::uint64_t RoutingEffort(const RoutingOptions& options, std::size_t customers) {
  if (options.effort != 0) return options.effort;
  const std::uint64_t n = customers;
  const std::uint64_t grown = n != 0 && options.effort_per_customer > options.max_effort / n
                                  ? options.max_effort
                                  : options.effort_per_customer * n;
  return std::min(options.max_effort, std::max(options.min_effort, grown));
}

double RoutingCost(const RoutingProblem& problem, const RoutingSolution& solution) {
  double total = 0;
  for (const auto& route : solution.routes) total += PathCost(problem, route);
  return total;
}

bool IsFeasible(const RoutingProblem& problem, const RoutingSolution& solution) {
  if (solution.routes.size() > problem.vehicles.size()) return false;
  std::vector<int> seen(problem.customers + 1, 0);
  std::size_t used = 0;
  for (std::size_t v = 0; v < solution.routes.size(); ++v) {
    RouteLoad load;
    for (std::size_t c : solution.routes[v]) {
      if (c < 1 || c > problem.customers || seen[c]++) return false;
      load.weight += problem.demand[c].weight;
      load.volume += problem.demand[c].volume;
    }
    if (!Fits({}, load, problem.vehicles[v])) return false;
    const bool flagged = v < problem.in_use.size() && problem.in_use[v];
    used += !solution.routes[v].empty() || flagged ? 1 : 0;
  }
  for (std::size_t v = solution.routes.size(); v < problem.in_use.size(); ++v) {
    used += problem.in_use[v] ? 1 : 0;
  }
  for (std::size_t c = 1; c <= problem.customers; ++c) {
    if (seen[c] != 1) return false;
  }
  return used <= problem.max_used && used >= problem.min_used;
}

RoutingSolution SolveRouting(const RoutingProblem& problem, const RoutingSolution& start,
                             const RoutingOptions& options) {
  RoutingSolution best = Search(problem, start, RoutingEffort(options, problem.customers)).Run();
  RoutingSolution given = start;
  given.routes.resize(problem.vehicles.size());
  given.cost = RoutingCost(problem, given);
  if (best.routes.empty() || (IsFeasible(problem, given) && given.cost <= best.cost + 1e-9)) {
    return given;
  }
  return best;
}

RoutingSolution SavingsRoutes(const RoutingProblem& p) {
  const std::size_t n = p.customers;
  const RouteLoad room = p.vehicles.empty() ? RouteLoad{} : p.vehicles.front();
  // Each customer starts on a route of its own; a route is a chain with two
  // ends, merged end to end.
  std::vector<std::vector<std::size_t>> chains(n + 1);
  std::vector<std::size_t> chain_of(n + 1);
  std::vector<RouteLoad> load(n + 1);
  for (std::size_t c = 1; c <= n; ++c) {
    chains[c] = {c};
    chain_of[c] = c;
    load[c] = p.demand[c];
  }
  struct Saving {
    double value;
    std::size_t i, j;
  };
  std::vector<Saving> savings;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = i + 1; j <= n; ++j) {
      const double s = p.Cost(0, i) + p.Cost(0, j) - p.Cost(i, j);
      if (s > 0) savings.push_back({s, i, j});
    }
  }
  std::stable_sort(savings.begin(), savings.end(),
                   [](const Saving& a, const Saving& b) { return a.value > b.value; });
  for (const Saving& s : savings) {
    const std::size_t a = chain_of[s.i], b = chain_of[s.j];
    if (a == b || !Fits(load[a], load[b], room)) continue;
    auto& ca = chains[a];
    auto& cb = chains[b];
    const bool i_end = ca.front() == s.i || ca.back() == s.i;
    const bool j_end = cb.front() == s.j || cb.back() == s.j;
    if (!i_end || !j_end) continue;
    // Orient: ca ends with i, cb starts with j.
    if (ca.back() != s.i) std::reverse(ca.begin(), ca.end());
    if (cb.front() != s.j) std::reverse(cb.begin(), cb.end());
    for (std::size_t c : cb) chain_of[c] = a;
    ca.insert(ca.end(), cb.begin(), cb.end());
    cb.clear();
    load[a].weight += load[b].weight;
    load[a].volume += load[b].volume;
  }
  RoutingSolution out;
  for (std::size_t c = 1; c <= n; ++c) {
    if (!chains[c].empty()) out.routes.push_back(chains[c]);
  }
  out.cost = RoutingCost(p, out);
  return out;
}

RoutingSolution TwoOptRoutes(const RoutingProblem& problem, RoutingSolution solution) {
  for (auto& route : solution.routes) TwoOpt(problem, route);
  solution.cost = RoutingCost(problem, solution);
  return solution;
}

}  // namespace dg::planning
