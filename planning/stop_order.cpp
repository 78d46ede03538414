// The sequence is held as a path of places: place 0 is the start, the last
// place the end (a node that costs nothing to reach when the route has no
// end), and the places between them the stops. Fixed places never move; the
// free places between two fixed ones form a gap. A 2-opt reversal or a chain
// move stays inside one gap (so nothing fixed shifts); an exchange of two
// free stops may cross gaps, which is how a stop changes gap.
#include "planning/stop_order.h"

#include <algorithm>
#include <limits>
#include <tuple>

#include "planning/seeded_random.h"
#include "planning/stop_order_clock.h"

namespace dg::planning {
namespace {

constexpr double kEps = 1e-9;
constexpr double kInf = std::numeric_limits<double>::infinity();

// The input's costs over stops + 2 nodes; the end is node stops + 1 and
// costs nothing to reach (or leave) when the route has none.
class Costs {
 public:
  explicit Costs(const StopOrderInput& in) : n_(in.stops + 2), c_(n_ * n_, 0.0) {
    const std::size_t given = in.stops + 1 + (in.has_end ? 1 : 0);
    for (std::size_t i = 0; i < given; ++i) {
      for (std::size_t j = 0; j < given; ++j) c_[i * n_ + j] = in.cost[i * given + j];
    }
  }
  double operator()(std::size_t i, std::size_t j) const { return c_[i * n_ + j]; }
  std::size_t Nodes() const { return n_; }

 private:
  std::size_t n_;
  std::vector<double> c_;
};

// The stop fixed at each place (0: free).
std::vector<std::size_t> Places(const StopOrderInput& in) {
  std::vector<std::size_t> places = in.fixed;
  places.resize(in.stops, 0);
  return places;
}

double PathCost(const Costs& d, const std::vector<std::size_t>& sequence) {
  double total = 0;
  std::size_t previous = 0;
  for (std::size_t s : sequence) {
    total += d(previous, s);
    previous = s;
  }
  return total + d(previous, d.Nodes() - 1);
}

// Exact order by dynamic programming over the subsets of free stops: the
// state is the set of free stops placed so far and the last of them; the
// fixed stops between two free places form a chain of known cost.
std::vector<std::size_t> Exact(const Costs& d, const std::vector<std::size_t>& places) {
  const std::size_t end = d.Nodes() - 1;
  std::vector<char> is_fixed(d.Nodes(), 0);
  for (std::size_t s : places) is_fixed[s] = 1;
  std::vector<std::size_t> free_stops;
  for (std::size_t s = 1; s < end; ++s) {
    if (!is_fixed[s]) free_stops.push_back(s);
  }
  const std::size_t m = free_stops.size();
  if (m == 0) return places;

  // Chain t lies before free place t (chain m after the last one).
  struct Chain {
    std::size_t head = 0, tail = 0;
    double inside = 0;
    bool empty = true;
  };
  std::vector<Chain> chains(m + 1);
  std::size_t t = 0;
  for (std::size_t s : places) {
    if (s == 0) {
      ++t;
      continue;
    }
    Chain& c = chains[t];
    if (c.empty) {
      c.head = c.tail = s;
      c.empty = false;
    } else {
      c.inside += d(c.tail, s);
      c.tail = s;
    }
  }
  auto link = [&](std::size_t k, std::size_t from, std::size_t to) {
    const Chain& c = chains[k];
    return c.empty ? d(from, to) : d(from, c.head) + c.inside + d(c.tail, to);
  };

  const std::size_t full = std::size_t{1} << m;
  std::vector<double> best(full * m, kInf);
  std::vector<std::uint8_t> parent(full * m, 0);
  for (std::size_t j = 0; j < m; ++j)
    best[(std::size_t{1} << j) * m + j] = link(0, 0, free_stops[j]);
  for (std::size_t mask = 1; mask < full; ++mask) {
    const std::size_t placed = static_cast<std::size_t>(__builtin_popcountll(mask));
    if (placed == m) continue;
    for (std::size_t j = 0; j < m; ++j) {
      const double here = best[mask * m + j];
      if (here == kInf) continue;
      for (std::size_t k = 0; k < m; ++k) {
        if (mask & (std::size_t{1} << k)) continue;
        const std::size_t next = mask | (std::size_t{1} << k);
        const double value = here + link(placed, free_stops[j], free_stops[k]);
        if (value < best[next * m + k]) {
          best[next * m + k] = value;
          parent[next * m + k] = static_cast<std::uint8_t>(j);
        }
      }
    }
  }
  std::size_t last = 0;
  double total = kInf;
  for (std::size_t j = 0; j < m; ++j) {
    const double value = best[(full - 1) * m + j] + link(m, free_stops[j], end);
    if (value < total) {
      total = value;
      last = j;
    }
  }
  std::vector<std::size_t> chosen(m);
  std::size_t mask = full - 1;
  for (std::size_t k = m; k-- > 0;) {
    chosen[k] = free_stops[last];
    const std::size_t previous = parent[mask * m + last];
    mask &= ~(std::size_t{1} << last);
    last = previous;
  }
  std::vector<std::size_t> sequence = places;
  std::size_t next = 0;
  for (std::size_t& s : sequence) {
    if (s == 0) s = chosen[next++];
  }
  return sequence;
}

// Iterated local search over the free places.
class Search {
 public:
  Search(const Costs& d, const std::vector<std::size_t>& places, std::uint64_t effort)
      : d_(d), places_(places.size() + 2), effort_(effort) {
    const std::size_t end = d.Nodes() - 1;
    gap_.assign(places_, -1);
    int gap = -1;
    bool in_gap = false;
    for (std::size_t k = 0; k < places.size(); ++k) {
      if (places[k] != 0) {
        in_gap = false;
        continue;
      }
      if (!in_gap) ++gap;
      in_gap = true;
      gap_[k + 1] = gap;
    }
    // Nearest neighbour into the free places.
    std::vector<char> used(d.Nodes(), 0);
    for (std::size_t s : places) used[s] = 1;
    seq_.push_back(0);
    for (std::size_t s : places) {
      if (s == 0) {
        std::size_t pick = 0;
        for (std::size_t c = 1; c < end; ++c) {
          if (!used[c] && (pick == 0 || d(seq_.back(), c) < d(seq_.back(), pick))) pick = c;
        }
        s = pick;
        used[s] = 1;
      }
      seq_.push_back(s);
    }
    seq_.push_back(end);
    // Candidate lists: the nearest nodes either way, then start and end.
    const std::size_t k = std::min<std::size_t>(10, end > 2 ? end - 2 : 0);
    near_.resize(d.Nodes());
    std::vector<std::size_t> order;
    for (std::size_t a = 1; a < end; ++a) {
      order.clear();
      for (std::size_t b = 1; b < end; ++b) {
        if (b != a) order.push_back(b);
      }
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), order.end(),
                        [&](std::size_t x, std::size_t y) {
                          const double cx = d(a, x) + d(x, a), cy = d(a, y) + d(y, a);
                          return cx < cy || (cx == cy && x < y);
                        });
      near_[a].assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k));
      near_[a].push_back(0);
      near_[a].push_back(end);
    }
    queued_.assign(d.Nodes(), 0);
    Refresh();
  }

  std::vector<std::size_t> Run() {
    for (std::size_t p = 1; p + 1 < places_; ++p) Queue(seq_[p]);
    LocalSearch();
    std::vector<std::size_t> current = seq_, best = seq_;
    double current_cost = Cost(), best_cost = Cost();
    std::size_t free_places = 0;
    for (int g : gap_) free_places += g >= 0 ? 1 : 0;
    while (spent_ < effort_ && free_places >= 2) {
      Perturb();
      LocalSearch();
      const double cost = Cost();
      // A result up to 1 % above the best is kept as the next start, so the
      // search can leave a local optimum by a worse neighbour.
      if (cost <= current_cost + kEps || cost <= best_cost * 1.01) {
        current = seq_;
        current_cost = cost;
        if (cost < best_cost - kEps) {
          best = seq_;
          best_cost = cost;
        }
      } else {
        seq_ = current;
        Refresh();
      }
    }
    return std::vector<std::size_t>(best.begin() + 1, best.end() - 1);
  }

 private:
  enum class Kind { None, Reverse, Move, Swap };
  struct Move {
    Kind kind = Kind::None;
    std::size_t i = 0, j = 0, at = 0;
    bool reversed = false;
    double delta = -kEps;
  };

  double D(std::size_t p, std::size_t q) const { return d_(seq_[p], seq_[q]); }
  double Cost() const { return forward_.back(); }
  bool FreeRange(std::size_t i, std::size_t j) const {
    return i <= j && gap_[i] >= 0 && gap_[i] == gap_[j];
  }
  // Reversed minus forward cost of the inside of places i..j.
  double Turn(std::size_t i, std::size_t j) const {
    return (backward_[j] - backward_[i]) - (forward_[j] - forward_[i]);
  }

  void Refresh() {
    pos_.assign(d_.Nodes(), 0);
    forward_.assign(places_, 0);
    backward_.assign(places_, 0);
    for (std::size_t p = 0; p < places_; ++p) {
      pos_[seq_[p]] = p;
      if (p > 0) {
        forward_[p] = forward_[p - 1] + D(p - 1, p);
        backward_[p] = backward_[p - 1] + D(p, p - 1);
      }
    }
  }

  void Queue(std::size_t node) {
    if (queued_[node] || gap_[pos_[node]] < 0) return;
    queued_[node] = 1;
    queue_.push_back(node);
  }

  double ReverseDelta(std::size_t i, std::size_t j) const {
    return D(i - 1, j) + D(i, j + 1) - D(i - 1, i) - D(j, j + 1) + Turn(i, j);
  }

  // Chain i..j to between places at and at + 1.
  double MoveDelta(std::size_t i, std::size_t j, std::size_t at, bool reversed) const {
    const std::size_t head = reversed ? j : i, tail = reversed ? i : j;
    return D(i - 1, j + 1) + D(at, head) + D(tail, at + 1) - D(i - 1, i) - D(j, j + 1) -
           D(at, at + 1) + (reversed ? Turn(i, j) : 0);
  }

  double SwapDelta(std::size_t x, std::size_t y) const {
    if (x > y) std::swap(x, y);
    if (y == x + 1) {
      return D(x - 1, y) + D(y, x) + D(x, y + 1) - D(x - 1, x) - D(x, y) - D(y, y + 1);
    }
    return D(x - 1, y) + D(y, x + 1) + D(y - 1, x) + D(x, y + 1) - D(x - 1, x) - D(x, x + 1) -
           D(y - 1, y) - D(y, y + 1);
  }

  void Consider(Move& best, Kind kind, std::size_t i, std::size_t j, std::size_t at, bool reversed,
                double delta) {
    ++spent_;
    if (delta < best.delta) best = {kind, i, j, at, reversed, delta};
  }

  Move BestMoveAt(std::size_t a) {
    Move best;
    const std::size_t p = pos_[a];
    const std::size_t last = places_ - 1;
    for (std::size_t b : near_[a]) {
      const std::size_t q = pos_[b];
      if (q > p) {
        if (p + 1 < q && FreeRange(p + 1, q)) {
          Consider(best, Kind::Reverse, p + 1, q, 0, false, ReverseDelta(p + 1, q));
        }
        if (p + 1 < q && FreeRange(p, q - 1)) {
          Consider(best, Kind::Reverse, p, q - 1, 0, false, ReverseDelta(p, q - 1));
        }
      } else {
        if (q + 1 < p && FreeRange(q + 1, p)) {
          Consider(best, Kind::Reverse, q + 1, p, 0, false, ReverseDelta(q + 1, p));
        }
        if (q + 1 < p && FreeRange(q, p - 1)) {
          Consider(best, Kind::Reverse, q, p - 1, 0, false, ReverseDelta(q, p - 1));
        }
      }
      for (std::size_t len = 1; len <= 3; ++len) {
        for (int side = 0; side < (len == 1 ? 1 : 2); ++side) {
          if (side == 1 && p < len) continue;
          const std::size_t i = side == 0 ? p : p - len + 1;
          const std::size_t j = i + len - 1;
          if (i < 1 || j + 1 > last || !FreeRange(i, j)) continue;
          for (std::size_t at : {q, q - 1}) {
            if (q == 0 && at != q) continue;
            if (at + 1 > last || (at + 1 >= i && at <= j)) continue;
            const bool shifted_free = at > j ? FreeRange(j + 1, at) : FreeRange(at + 1, i - 1);
            if (!shifted_free) continue;
            for (bool reversed : {false, true}) {
              if (reversed && len == 1) continue;
              Consider(best, Kind::Move, i, j, at, reversed, MoveDelta(i, j, at, reversed));
            }
          }
        }
      }
      for (std::size_t r : {q + 1, q - 1}) {
        if (q == 0 && r != q + 1) continue;
        if (r < 1 || r + 1 > last || r == p || gap_[r] < 0) continue;
        Consider(best, Kind::Swap, p, r, 0, false, SwapDelta(p, r));
      }
    }
    return best;
  }

  void Apply(const Move& m) {
    std::vector<std::size_t> touched;
    auto touch = [&](std::size_t place) {
      if (place < places_) touched.push_back(seq_[place]);
    };
    switch (m.kind) {
      case Kind::Reverse:
        for (std::size_t place : {m.i - 1, m.i, m.j, m.j + 1}) touch(place);
        std::reverse(seq_.begin() + static_cast<std::ptrdiff_t>(m.i),
                     seq_.begin() + static_cast<std::ptrdiff_t>(m.j) + 1);
        break;
      case Kind::Move: {
        for (std::size_t place : {m.i - 1, m.i, m.j, m.j + 1, m.at, m.at + 1}) touch(place);
        std::vector<std::size_t> chain(seq_.begin() + static_cast<std::ptrdiff_t>(m.i),
                                       seq_.begin() + static_cast<std::ptrdiff_t>(m.j) + 1);
        if (m.reversed) std::reverse(chain.begin(), chain.end());
        const std::size_t len = chain.size();
        seq_.erase(seq_.begin() + static_cast<std::ptrdiff_t>(m.i),
                   seq_.begin() + static_cast<std::ptrdiff_t>(m.j) + 1);
        const std::size_t at = m.at > m.j ? m.at + 1 - len : m.at + 1;
        seq_.insert(seq_.begin() + static_cast<std::ptrdiff_t>(at), chain.begin(), chain.end());
        break;
      }
      case Kind::Swap:
        for (std::size_t place : {m.i - 1, m.i, m.i + 1, m.j - 1, m.j, m.j + 1}) touch(place);
        std::swap(seq_[m.i], seq_[m.j]);
        break;
      case Kind::None:
        return;
    }
    Refresh();
    for (std::size_t node : touched) Queue(node);
  }

  void LocalSearch() {
    while (!queue_.empty() && spent_ < effort_) {
      const std::size_t a = queue_.back();
      queue_.pop_back();
      queued_[a] = 0;
      const Move m = BestMoveAt(a);
      if (m.kind != Kind::None) {
        Apply(m);
        Queue(a);
      }
    }
    for (std::size_t node : queue_) queued_[node] = 0;
    queue_.clear();
  }

  // Exchanges two neighbouring chains inside a gap (a double bridge that
  // 2-opt cannot undo in one move), or two free stops.
  void Perturb() {
    std::vector<std::pair<std::size_t, std::size_t>> gaps;  // first, last place
    std::size_t total = 0;
    for (std::size_t p = 1; p + 1 < places_; ++p) {
      if (gap_[p] < 0) continue;
      if (gaps.empty() || gap_[gaps.back().second] != gap_[p]) {
        gaps.push_back({p, p});
      } else {
        gaps.back().second = p;
      }
    }
    for (const auto& [first, last] : gaps) total += last - first + 1 >= 4 ? last - first + 1 : 0;
    // With fixed stops between gaps, every other kick moves a stop to
    // another gap.
    if (total == 0 || (gaps.size() > 1 && rng_.Below(2) == 0)) {
      std::vector<std::size_t> free_places;
      for (std::size_t p = 1; p + 1 < places_; ++p) {
        if (gap_[p] >= 0) free_places.push_back(p);
      }
      const std::size_t ix = rng_.Below(free_places.size());
      std::size_t iy = rng_.Below(free_places.size() - 1);
      if (iy >= ix) ++iy;
      const std::size_t x = free_places[ix], y = free_places[iy];
      Apply({Kind::Swap, std::min(x, y), std::max(x, y), 0, false, 0});
      return;
    }
    std::size_t pick = rng_.Below(total);
    std::size_t first = 0, last = 0;
    for (const auto& g : gaps) {
      const std::size_t len = g.second - g.first + 1;
      if (len < 4) continue;
      if (pick < len) {
        std::tie(first, last) = g;
        break;
      }
      pick -= len;
    }
    const std::size_t len = last - first + 1;
    const std::size_t longest = std::max<std::size_t>(1, std::min<std::size_t>(50, len / 3));
    const std::size_t l1 = 1 + rng_.Below(longest), l2 = 1 + rng_.Below(longest);
    const std::size_t x = first + rng_.Below(len - l1 - l2 + 1);
    std::vector<std::size_t> touched;
    for (std::size_t place : {x - 1, x, x + l1 - 1, x + l1, x + l1 + l2 - 1, x + l1 + l2}) {
      touched.push_back(seq_[place]);
    }
    std::rotate(seq_.begin() + static_cast<std::ptrdiff_t>(x),
                seq_.begin() + static_cast<std::ptrdiff_t>(x + l1),
                seq_.begin() + static_cast<std::ptrdiff_t>(x + l1 + l2));
    Refresh();
    for (std::size_t node : touched) Queue(node);
  }

  const Costs& d_;
  std::size_t places_;
  std::uint64_t effort_;
  std::uint64_t spent_ = 0;
  std::vector<int> gap_;
  std::vector<std::size_t> seq_, pos_;
  std::vector<double> forward_, backward_;
  std::vector<std::vector<std::size_t>> near_;
  std::vector<std::size_t> queue_;
  std::vector<char> queued_;
  SeededRandom rng_{0x2545f4914f6cdd1dULL};
};

}  // namespace

double SequenceCost(const StopOrderInput& input, const std::vector<std::size_t>& sequence) {
  return PathCost(Costs(input), sequence);
}

StopOrderResult OrderStops(const StopOrderInput& input, const StopOrderOptions& options) {
  // The clock is a pass of its own, over the shortest order (stop_order_clock.cpp).
  if (!input.clock.empty()) return OrderStopsOnClock(input, options);
  StopOrderResult r;
  if (input.stops == 0) {
    r.cost = SequenceCost(input, {});
    return r;
  }
  const Costs d(input);
  const std::vector<std::size_t> places = Places(input);
  const std::size_t free_count =
      static_cast<std::size_t>(std::count(places.begin(), places.end(), std::size_t{0}));
  if (free_count <= std::min<std::size_t>(options.exact_up_to, 16)) {
    r.sequence = Exact(d, places);
  } else {
    r.sequence = Search(d, places, options.effort).Run();
  }
  r.cost = PathCost(d, r.sequence);
  return r;
}

StopOrderResult NearestNeighbourTwoOpt(const StopOrderInput& input) {
  const Costs d(input);
  const std::size_t end = d.Nodes() - 1;
  std::vector<std::size_t> seq = {0};
  std::vector<char> used(d.Nodes(), 0);
  for (std::size_t k = 0; k < input.stops; ++k) {
    std::size_t pick = 0;
    for (std::size_t c = 1; c < end; ++c) {
      if (!used[c] && (pick == 0 || d(seq.back(), c) < d(seq.back(), pick))) pick = c;
    }
    used[pick] = 1;
    seq.push_back(pick);
  }
  seq.push_back(end);
  for (bool improved = true; improved;) {
    improved = false;
    double best = -kEps;
    std::size_t bi = 0, bj = 0;
    for (std::size_t i = 1; i + 1 < seq.size(); ++i) {
      double inside = 0;  // reversed minus forward cost of i..j
      for (std::size_t j = i + 1; j + 1 < seq.size(); ++j) {
        inside += d(seq[j], seq[j - 1]) - d(seq[j - 1], seq[j]);
        const double delta = d(seq[i - 1], seq[j]) + d(seq[i], seq[j + 1]) - d(seq[i - 1], seq[i]) -
                             d(seq[j], seq[j + 1]) + inside;
        if (delta < best) {
          best = delta;
          bi = i;
          bj = j;
        }
      }
    }
    if (bj > 0) {
      std::reverse(seq.begin() + static_cast<std::ptrdiff_t>(bi),
                   seq.begin() + static_cast<std::ptrdiff_t>(bj) + 1);
      improved = true;
    }
  }
  StopOrderResult r;
  r.sequence.assign(seq.begin() + 1, seq.end() - 1);
  r.cost = PathCost(d, r.sequence);
  return r;
}

}  // namespace dg::planning
