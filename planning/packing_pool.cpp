// The loads kept for the end game: see packing_pool.h.
#include "planning/packing_pool.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "planning/packing_cover.h"

namespace dg::planning {
namespace {

// Rounds of the subgradient method at most; its first step factor, halved
// after kPatience rounds without a better bound.
constexpr int kRelaxRounds = 1000;
constexpr double kFirstStep = 2;
constexpr int kPatience = 20;
constexpr double kEpsilon = 1e-6;

double Part(std::int64_t x, std::int64_t of) {
  return of > 0 ? static_cast<double>(x) / static_cast<double>(of) : 0.0;
}

}  // namespace

LoadPool::LoadPool(const std::vector<ExactSize>& sizes, ExactSize room, std::size_t vehicles,
                   std::size_t capacity)
    : room_(room), vehicles_(vehicles), capacity_(capacity) {
  PieceKinds kinds(sizes);
  kind_of_ = std::move(kinds.kind_of);
  kind_size_ = std::move(kinds.size);
  demand_.assign(kinds.count.begin(), kinds.count.end());
  const auto v = static_cast<std::int64_t>(vehicles);
  spare_ = ExactSize{room.weight * v, room.volume * v} - kinds.total;
  usable_ = !sizes.empty() && spare_.weight >= 0 && spare_.volume >= 0;
}

void LoadPool::Offer(std::uint64_t key, const std::vector<std::uint32_t>& pieces) {
  if (!usable_ || pieces.empty() || loads_.size() >= capacity_ || keys_.count(key)) return;
  ExactSize load;
  for (std::uint32_t p : pieces) load += kind_size_[kind_of_[p]];
  if (!load.Within(room_) || !(room_ - load).Within(spare_)) return;
  keys_.insert(key);
  Load l;
  l.waste = room_ - load;
  scratch_.clear();
  for (std::uint32_t p : pieces) scratch_.push_back(kind_of_[p]);
  std::sort(scratch_.begin(), scratch_.end());
  for (std::uint32_t k : scratch_) {
    if (!l.kinds.empty() && l.kinds.back().first == k) {
      ++l.kinds.back().second;
    } else {
      l.kinds.push_back({k, 1});
    }
  }
  loads_.push_back(std::move(l));
}

// The Lagrangian relaxation of "the fewest loads that hold every piece
// once", each piece's constraint priced by a multiplier u[k]: a load then
// costs 1 less the prices of its pieces (its reduced cost), and any cover
// takes at least the prices of all pieces plus every negative reduced cost
// (a load taken as often as the pieces allow) loads. The subgradient
// method raises that bound towards the vehicles; false when it passes them
// (no cover on the vehicles). `reduced` receives the reduced costs under the
// best prices, infinite for a load that alone would lift the bound past
// the vehicles, and `bound` the bound.
bool LoadPool::Relax(std::uint64_t step_limit, std::vector<double>& reduced, double& bound) {
  const std::size_t n = loads_.size(), kinds = kind_size_.size();
  std::vector<std::uint32_t> most(n);  // times a load may be taken
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t m = std::numeric_limits<std::uint32_t>::max();
    for (const auto& [k, c] : loads_[i].kinds) m = std::min(m, demand_[k] / c);
    most[i] = m;
  }
  // The first prices: each piece's share of the room, the dimensions
  // alike, so that a load filling the room costs about nothing.
  const int dimensions = std::max((room_.weight > 0) + (room_.volume > 0), 1);
  std::vector<double> u(kinds), gradient(kinds);
  for (std::size_t k = 0; k < kinds; ++k) {
    u[k] = (Part(kind_size_[k].weight, room_.weight) + Part(kind_size_[k].volume, room_.volume)) /
           dimensions;
  }
  std::vector<double> best_u = u;
  double best = -std::numeric_limits<double>::infinity(), step = kFirstStep;
  const auto target = static_cast<double>(vehicles_);
  for (int round = 0, since = 0; round < kRelaxRounds && steps_ < step_limit; ++round) {
    double value = 0;
    for (std::size_t k = 0; k < kinds; ++k) {
      value += u[k] * demand_[k];
      gradient[k] = demand_[k];
    }
    for (std::size_t i = 0; i < n; ++i) {
      double r = 1;
      for (const auto& [k, c] : loads_[i].kinds) r -= c * u[k];
      steps_ += loads_[i].kinds.size();
      if (r >= 0) continue;
      value += r * most[i];
      for (const auto& [k, c] : loads_[i].kinds) gradient[k] -= static_cast<double>(c) * most[i];
    }
    if (value > best + kEpsilon) {
      best = value, best_u = u, since = 0;
      if (best > target + kEpsilon) return false;
    } else if (++since > kPatience) {
      step /= 2, since = 0;
    }
    double norm = 0;
    for (double g : gradient) norm += g * g;
    if (norm < kEpsilon) break;  // the relaxed cover holds every piece once
    const double t = step * (target - value) / norm;
    for (std::size_t k = 0; k < kinds; ++k) u[k] += t * gradient[k];
  }
  bound = best;
  reduced.assign(n, 1);
  for (std::size_t i = 0; i < n; ++i) {
    for (const auto& [k, c] : loads_[i].kinds) reduced[i] -= c * best_u[k];
    if (best + reduced[i] > target + kEpsilon) reduced[i] = std::numeric_limits<double>::infinity();
  }
  return true;
}

bool LoadPool::Fits(const Load& l) {
  ++steps_;
  if (l.cost > cost_left_ || !l.waste.Within(waste_left_)) return false;
  for (const auto& [k, n] : l.kinds) {
    if (left_[k] < n) return false;
  }
  return true;
}

void LoadPool::Take(const Load& l, int sign) {
  for (const auto& [k, n] : l.kinds) {
    const bool was_left = left_[k] > 0;
    left_[k] = sign > 0 ? left_[k] - n : left_[k] + n;
    kinds_left_ += left_[k] > 0;
    kinds_left_ -= was_left;
  }
  if (sign > 0) {
    waste_left_ -= l.waste;
    cost_left_ -= l.cost;
  } else {
    waste_left_ += l.waste;
    cost_left_ += l.cost;
  }
}

// Depth-first: the kind with the fewest loads that still fit next, its
// loads the least reduced cost first. The loads that hold the pieces of one
// kind come in any order, so for that kind they are taken in order_ only.
bool LoadPool::Search() {
  if (kinds_left_ == 0) return true;
  if (++steps_ > step_limit_) return false;
  std::size_t kind = kind_size_.size(), fewest = 0;
  for (std::size_t k = 0; k < kind_size_.size(); ++k) {
    if (left_[k] == 0) continue;
    std::size_t count = 0;
    for (std::uint32_t i : of_[k]) {
      if (i < floor_[k] || !Fits(*order_[i])) continue;
      if (++count >= fewest && kind < kind_size_.size()) break;
    }
    if (count == 0) return false;
    if (kind == kind_size_.size() || count < fewest) kind = k, fewest = count;
  }
  const std::uint32_t floor = floor_[kind];
  for (std::uint32_t i : of_[kind]) {
    if (i < floor || !Fits(*order_[i])) continue;
    floor_[kind] = i;
    Take(*order_[i], +1);
    path_.push_back(i);
    if (Search()) return true;
    path_.pop_back();
    Take(*order_[i], -1);
    if (steps_ > step_limit_) break;
  }
  floor_[kind] = floor;
  return false;
}

bool LoadPool::Cover(const PoolBudget& budget, std::uint64_t& steps,
                     std::vector<std::uint32_t>& vehicle) {
  steps_ = 0;
  steps = 0;
  // Every piece needs some load, then the relaxation must allow a cover.
  std::vector<bool> held(kind_size_.size(), false);
  for (const Load& l : loads_) {
    for (const auto& [k, n] : l.kinds) held[k] = true;
  }
  if (!usable_ || std::find(held.begin(), held.end(), false) != held.end()) return false;
  std::vector<double> reduced;
  double bound = 0;
  const bool possible = Relax(budget.relax_steps, reduced, bound);
  steps = steps_;
  if (!possible) return false;
  std::vector<std::uint32_t> by_cost(loads_.size());
  std::iota(by_cost.begin(), by_cost.end(), 0);
  std::stable_sort(by_cost.begin(), by_cost.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return reduced[a] < reduced[b]; });
  order_.clear();
  of_.assign(kind_size_.size(), {});
  for (std::uint32_t i : by_cost) {
    if (std::isinf(reduced[i])) break;
    loads_[i].cost = std::max(0.0, reduced[i]);
    for (const auto& [k, n] : loads_[i].kinds)
      of_[k].push_back(static_cast<std::uint32_t>(order_.size()));
    order_.push_back(&loads_[i]);
  }
  left_ = demand_;
  floor_.assign(kind_size_.size(), 0);
  kinds_left_ = kind_size_.size();
  waste_left_ = spare_;
  cost_left_ = static_cast<double>(vehicles_) - bound + kEpsilon;
  path_.clear();
  step_limit_ = steps_ + budget.search_steps;
  const bool found = Search();
  steps = steps_;
  if (!found) return false;
  std::vector<std::vector<std::uint32_t>> loads;
  for (std::uint32_t i : path_) {
    loads.emplace_back();
    for (const auto& [k, n] : order_[i]->kinds) loads.back().insert(loads.back().end(), n, k);
  }
  vehicle = VehiclesOfPieces(kind_of_, kind_size_.size(), loads);
  return true;
}

}  // namespace dg::planning
