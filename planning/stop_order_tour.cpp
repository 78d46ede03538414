// The tour is an array of nodes with each node's position, read as a cycle.
// A 2-opt exchange reverses one stretch of the array: the shorter of the two
// sides of the cycle, since reversing either gives the same cycle when the
// costs are the same both ways. Every reversal and kick is written to a
// journal, so that a chain that ends without a gain, or a kick whose local
// search ends on a longer tour, is undone by replaying the journal backwards.
#include "planning/stop_order_tour.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "planning/seeded_random.h"

namespace dg::planning {
namespace {

constexpr double kEps = 1e-9;
constexpr std::size_t kNeighbours = 5;
constexpr std::size_t kTreeNeighbours = 10;
// How many candidates each level of a chain tries before giving up; deeper
// levels try the best one only.
constexpr std::size_t kBreadth[] = {5, 3, 2};
constexpr std::size_t kDepth = 12;
// Longest stretch a kick moves.
constexpr std::size_t kKickStretch = 50;
// One kick in this many cuts the tour at a node and two of its candidates.
constexpr std::size_t kSpreadEvery = 8;
// Kicks per node without a shorter best tour before a wide kick.
constexpr std::size_t kPatience = 20;

class Tour {
 public:
  Tour(const std::vector<double>& cost, std::size_t nodes, std::uint64_t effort, std::uint64_t seed)
      : c_(cost), n_(nodes), end_(nodes - 1), effort_(effort), rng_(seed) {
    NearestNeighbourStart();
    Neighbours();
    queued_.assign(n_, 0);
  }

  std::vector<std::size_t> Run() {
    for (std::size_t k = 0; k < n_; ++k) Queue(tour_[k]);
    LocalSearch();
    journal_.clear();
    // Each kick is kept when the local search after it ends on a tour no
    // longer than before (equal tours let the search drift across plateaus).
    // When the best tour has not got shorter for kPatience kicks per node,
    // one wide kick is kept whatever it costs, and the search goes on from
    // there; the best tour is the answer.
    std::vector<std::size_t> best = tour_;
    double best_length = length_;
    std::size_t idle = 0;
    // A tour of no length (every stop at the start) is already the best.
    while (spent_ < effort_ && best_length > 0) {
      const double before = length_;
      const bool wide = idle >= kPatience * n_;
      if (!Kick(wide)) break;
      ++spent_;
      LocalSearch();
      const double tolerance = kEps * (1 + std::abs(before));
      if (wide || length_ <= before + tolerance) {
        journal_.clear();
      } else {
        Rollback(0);
        length_ = before;
        for (std::size_t v : queue_) queued_[v] = 0;
        queue_.clear();
      }
      if (length_ < best_length - tolerance) {
        best = tour_;
        best_length = length_;
        idle = 0;
      } else {
        idle = wide ? 0 : idle + 1;
      }
    }
    tour_ = best;
    for (std::size_t k = 0; k < n_; ++k) pos_[tour_[k]] = k;
    // The stops from the one after the start, in the direction that leaves
    // the end last.
    std::vector<std::size_t> sequence;
    sequence.reserve(n_ - 2);
    const bool forward = Next(0) != end_;
    std::size_t v = forward ? Next(0) : Prev(0);
    while (v != end_) {
      sequence.push_back(v);
      v = forward ? Next(v) : Prev(v);
    }
    return sequence;
  }

 private:
  struct Entry {
    bool kick = false;
    std::size_t from = 0, length = 0, shift = 0;
  };

  double D(std::size_t a, std::size_t b) const { return c_[a * n_ + b]; }
  std::size_t Next(std::size_t v) const { return tour_[pos_[v] + 1 == n_ ? 0 : pos_[v] + 1]; }
  std::size_t Prev(std::size_t v) const { return tour_[pos_[v] == 0 ? n_ - 1 : pos_[v] - 1]; }
  bool Kept(std::size_t a, std::size_t b) const {
    return (a == 0 && b == end_) || (a == end_ && b == 0);
  }

  void NearestNeighbourStart() {
    std::vector<char> used(n_, 0);
    tour_.reserve(n_);
    tour_.push_back(0);
    used[0] = used[end_] = 1;
    for (std::size_t k = 1; k + 1 < n_; ++k) {
      const std::size_t from = tour_.back();
      std::size_t pick = 0;
      for (std::size_t v = 1; v < end_; ++v) {
        if (!used[v] && (pick == 0 || D(from, v) < D(from, pick))) pick = v;
      }
      used[pick] = 1;
      tour_.push_back(pick);
    }
    tour_.push_back(end_);
    pos_.assign(n_, 0);
    length_ = D(end_, 0);
    for (std::size_t k = 0; k < n_; ++k) {
      pos_[tour_[k]] = k;
      if (k > 0) length_ += D(tour_[k - 1], tour_[k]);
    }
  }

  // Each node's candidates, nearest first: its nearest nodes, and the nodes
  // whose edge to it is least above the longest edge of the path between
  // them in a minimum spanning tree (its tree neighbours first). The second
  // kind reaches across to the next group of stops when the stops lie in
  // groups, where the nearest nodes all lie in the same group.
  void Neighbours() {
    // Prim's tree over the whole matrix.
    std::vector<double> reach(n_, std::numeric_limits<double>::infinity());
    std::vector<std::size_t> via(n_, n_);
    std::vector<char> in_tree(n_, 0);
    std::vector<std::vector<std::size_t>> tree(n_);
    reach[0] = 0;
    for (std::size_t step = 0; step < n_; ++step) {
      std::size_t pick = n_;
      for (std::size_t v = 0; v < n_; ++v) {
        if (!in_tree[v] && (pick == n_ || reach[v] < reach[pick])) pick = v;
      }
      in_tree[pick] = 1;
      if (via[pick] != n_) {
        tree[pick].push_back(via[pick]);
        tree[via[pick]].push_back(pick);
      }
      for (std::size_t v = 0; v < n_; ++v) {
        if (!in_tree[v] && D(pick, v) < reach[v]) {
          reach[v] = D(pick, v);
          via[v] = pick;
        }
      }
    }
    const std::size_t nearest = std::min(kNeighbours, n_ - 1);
    const std::size_t tree_near = std::min(kTreeNeighbours, n_ - 1);
    std::vector<double> longest(n_), excess(n_);
    std::vector<std::size_t> order, stack;
    first_.assign(n_ + 1, 0);
    near_.clear();
    for (std::size_t a = 0; a < n_; ++a) {
      // The longest tree edge on the path from a to every node.
      longest[a] = 0;
      stack.assign(1, a);
      std::fill(in_tree.begin(), in_tree.end(), 0);
      in_tree[a] = 1;
      while (!stack.empty()) {
        const std::size_t v = stack.back();
        stack.pop_back();
        for (std::size_t w : tree[v]) {
          if (in_tree[w]) continue;
          in_tree[w] = 1;
          longest[w] = std::max(longest[v], D(v, w));
          stack.push_back(w);
        }
      }
      for (std::size_t b = 0; b < n_; ++b) excess[b] = D(a, b) - longest[b];
      order.clear();
      for (std::size_t b = 0; b < n_; ++b) {
        if (b != a) order.push_back(b);
      }
      std::vector<std::size_t> list;
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(nearest),
                        order.end(), [&](std::size_t x, std::size_t y) { return Closer(a, x, y); });
      list.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(nearest));
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(tree_near),
                        order.end(), [&](std::size_t x, std::size_t y) {
                          return excess[x] < excess[y] ||
                                 (excess[x] == excess[y] && Closer(a, x, y));
                        });
      list.insert(list.end(), order.begin(),
                  order.begin() + static_cast<std::ptrdiff_t>(tree_near));
      std::sort(list.begin(), list.end(),
                [&](std::size_t x, std::size_t y) { return Closer(a, x, y); });
      list.erase(std::unique(list.begin(), list.end()), list.end());
      near_.insert(near_.end(), list.begin(), list.end());
      first_[a + 1] = near_.size();
    }
  }

  bool Closer(std::size_t a, std::size_t x, std::size_t y) const {
    return D(a, x) < D(a, y) || (D(a, x) == D(a, y) && x < y);
  }

  void Queue(std::size_t v) {
    if (queued_[v]) return;
    queued_[v] = 1;
    queue_.push_back(v);
  }

  // Reverses `length` places from place `from` on (around the cycle).
  void ReversePlaces(std::size_t from, std::size_t length) {
    std::size_t i = from, j = (from + length - 1) % n_;
    for (std::size_t s = length / 2; s > 0; --s) {
      std::swap(tour_[i], tour_[j]);
      pos_[tour_[i]] = i;
      pos_[tour_[j]] = j;
      i = i + 1 == n_ ? 0 : i + 1;
      j = j == 0 ? n_ - 1 : j - 1;
    }
  }

  // Turns `length` places from place `from` on left by `shift`.
  void RotatePlaces(std::size_t from, std::size_t length, std::size_t shift) {
    buffer_.resize(length);
    for (std::size_t k = 0; k < length; ++k) buffer_[k] = tour_[(from + (k + shift) % length) % n_];
    for (std::size_t k = 0; k < length; ++k) {
      const std::size_t p = (from + k) % n_;
      tour_[p] = buffer_[k];
      pos_[tour_[p]] = p;
    }
  }

  // Reverses the path that runs forward from a to b, or the rest of the
  // cycle when that is shorter (the same cycle, read the other way).
  void Flip(std::size_t a, std::size_t b) {
    const std::size_t pa = pos_[a], pb = pos_[b];
    const std::size_t length = (pb + n_ - pa) % n_ + 1;
    Entry e;
    if (2 * length <= n_) {
      e.from = pa;
      e.length = length;
    } else {
      e.from = (pb + 1) % n_;
      e.length = n_ - length;
    }
    ReversePlaces(e.from, e.length);
    journal_.push_back(e);
  }

  void Rollback(std::size_t mark) {
    while (journal_.size() > mark) {
      const Entry e = journal_.back();
      journal_.pop_back();
      if (e.kick) {
        RotatePlaces(e.from, e.length, e.length - e.shift);
      } else {
        ReversePlaces(e.from, e.length);
      }
    }
  }

  bool Added(std::size_t a, std::size_t b) const {
    for (const auto& [x, y] : added_) {
      if ((x == a && y == b) || (x == b && y == a)) return true;
    }
    return false;
  }

  // One level of a chain: the edge t1 - t2 is open (its gain so far is
  // `gain`); t2 joins a near node t3, whose neighbour t4 on the side of t2
  // leaves, and the path t2 .. t4 is reversed so that t4 becomes t1's
  // neighbour. Closing the tour with t4 - t1 ends the chain with a gain.
  bool Step(std::size_t depth, std::size_t t1, std::size_t t2, double gain) {
    const bool forward = Next(t1) == t2;
    const std::size_t beyond = forward ? Next(t2) : Prev(t2);
    struct Candidate {
      std::size_t t3, t4;
      double value;
    };
    Candidate best[5];  // at least the widest breadth
    std::size_t found = 0;
    const std::size_t breadth = depth <= 3 ? kBreadth[depth - 1] : 1;
    for (std::size_t k = first_[t2]; k < first_[t2 + 1]; ++k) {
      const std::size_t t3 = near_[k];
      const double joined = D(t2, t3);
      if (gain - joined <= kEps) break;
      if (t3 == t1 || t3 == beyond) continue;
      ++spent_;
      const std::size_t t4 = forward ? Prev(t3) : Next(t3);
      if (Kept(t3, t4) || Added(t3, t4)) continue;
      const Candidate c{t3, t4, D(t3, t4) - joined};
      // Keep the `breadth` best, best first.
      std::size_t at = found;
      while (at > 0 && best[at - 1].value < c.value) --at;
      if (at >= breadth) continue;
      for (std::size_t m = std::min(found, breadth - 1); m > at; --m) best[m] = best[m - 1];
      best[at] = c;
      found = std::min(found + 1, breadth);
    }
    for (std::size_t k = 0; k < found; ++k) {
      const auto [t3, t4, value] = best[k];
      const std::size_t mark = journal_.size();
      if (forward) {
        Flip(t2, t4);
      } else {
        Flip(t4, t2);
      }
      const double open = gain + value;
      if (open - D(t4, t1) > kEps) {
        length_ -= open - D(t4, t1);
        for (std::size_t v : {t1, t2, t3, t4}) touched_.push_back(v);
        return true;
      }
      if (depth < kDepth && spent_ < effort_) {
        added_.push_back({t2, t3});
        const bool closed = Step(depth + 1, t1, t4, open);
        added_.pop_back();
        if (closed) {
          for (std::size_t v : {t2, t3, t4}) touched_.push_back(v);
          return true;
        }
      }
      Rollback(mark);
    }
    return false;
  }

  bool Improve(std::size_t t1) {
    // Each node looked at counts, so that stops at one place (whose moves
    // are all cut short for want of a gain) still spend the effort.
    ++spent_;
    for (const std::size_t t2 : {Next(t1), Prev(t1)}) {
      if (Kept(t1, t2)) continue;
      touched_.clear();
      if (Step(1, t1, t2, D(t1, t2))) {
        for (std::size_t v : touched_) Queue(v);
        return true;
      }
    }
    return MoveStretch(t1);
  }

  // Replaces the edges a - b and c - d, where b follows a and d follows c
  // in one direction of the tour, by a - c and b - d (d is implied).
  void Exchange(std::size_t a, std::size_t b, std::size_t c) {
    if (Next(a) == b) {
      Flip(b, c);
    } else {
      Flip(c, b);
    }
  }

  // Moves the stretch of one to three stops that starts at s1 (either way
  // along the tour) between two neighbouring stops c - d near either of its
  // ends, turned or not, when that shortens the tour.
  bool MoveStretch(std::size_t s1) {
    struct Best {
      std::size_t sk = 0, p = 0, n = 0, c = 0, d = 0;
      bool turned = false;
      double gain = kEps;
    } best;
    for (int way = 0; way < 2; ++way) {
      auto step = [&](std::size_t v, bool ahead) {
        return (way == 0) == ahead ? Next(v) : Prev(v);
      };
      const std::size_t p = step(s1, false);
      std::size_t sk = s1;
      for (std::size_t length = 1; length <= 3; ++length) {
        if (length > 1) sk = step(sk, true);
        const std::size_t n = step(sk, true);
        if (n == p || sk == p) break;
        if (Kept(p, s1) || Kept(sk, n)) continue;
        const double removed = D(p, s1) + D(sk, n) - D(p, n);
        if (removed <= kEps) continue;
        for (const std::size_t end : {s1, sk}) {
          for (std::size_t k = first_[end]; k < first_[end + 1]; ++k) {
            std::size_t c = near_[k];
            if (D(end, c) >= removed) break;
            for (const bool ahead : {true, false}) {
              std::size_t c0 = c, d0 = step(c, ahead);
              // In the direction of the stretch: d follows c.
              if (!ahead) std::swap(c0, d0);
              bool inside = false;
              for (std::size_t v = s1;; v = step(v, true)) {
                if (v == c0 || v == d0) inside = true;
                if (v == sk) break;
              }
              if (inside || Kept(c0, d0)) continue;
              ++spent_;
              const double straight = removed + D(c0, d0) - D(c0, s1) - D(sk, d0);
              const double turned = removed + D(c0, d0) - D(c0, sk) - D(s1, d0);
              for (const bool turn : {false, true}) {
                const double gain = turn ? turned : straight;
                if (gain > best.gain) best = {sk, p, n, c0, d0, turn, gain};
              }
            }
          }
        }
      }
      if (best.gain > kEps) {
        const auto [sk, p, n, c, d, turned, gain] = best;
        // p s1..sk n .. c d  ->  p c .. n sk..s1 d  ->  p n .. c sk..s1 d.
        Exchange(p, s1, c);
        Exchange(p, c, n);
        if (!turned) Exchange(c, sk, s1);
        length_ -= gain;
        for (std::size_t v : {s1, sk, p, n, c, d}) Queue(v);
        return true;
      }
    }
    return false;
  }

  void LocalSearch() {
    while (!queue_.empty() && spent_ < effort_) {
      const std::size_t v = queue_.back();
      queue_.pop_back();
      queued_[v] = 0;
      if (Improve(v)) Queue(v);
    }
    for (std::size_t v : queue_) queued_[v] = 0;
    queue_.clear();
  }

  // Exchanges two neighbouring stretches X and Y: a X Y b becomes a Y X b
  // (a double bridge, which no single 2-opt exchange undoes). Mostly two
  // short stretches at a random place; one kick in kSpreadEvery cuts the
  // tour at a random node and two of its candidates, wherever they lie,
  // which moves whole groups of stops. False when the tour is too short.
  bool Kick(bool wide) {
    if (n_ < 8) return false;
    const std::size_t longest =
        std::max<std::size_t>(1, wide ? (n_ - 2) / 3 : std::min(kKickStretch, (n_ - 2) / 3));
    for (int attempt = 0; attempt < 16; ++attempt) {
      std::size_t p = 0, lx = 0, ly = 0;
      if (!wide && rng_.Below(kSpreadEvery) == 0) {
        const std::size_t v = rng_.Below(n_);
        const std::size_t count = first_[v + 1] - first_[v];
        if (count < 2) continue;
        const std::size_t i = rng_.Below(count);
        std::size_t j = rng_.Below(count - 1);
        if (j >= i) ++j;
        std::size_t q[3] = {pos_[v], pos_[near_[first_[v] + i]], pos_[near_[first_[v] + j]]};
        std::sort(q, q + 3);
        if (q[0] == q[1] || q[1] == q[2] || q[2] - q[0] + 1 >= n_) continue;
        p = q[0];
        lx = q[1] - q[0];
        ly = q[2] - q[1];
      } else {
        p = rng_.Below(n_);
        lx = 1 + rng_.Below(longest);
        ly = 1 + rng_.Below(longest);
      }
      auto at = [&](std::size_t k) { return tour_[(p + k) % n_]; };
      const std::size_t a = at(0), x1 = at(1), x2 = at(lx), y1 = at(lx + 1), y2 = at(lx + ly),
                        b = at(lx + ly + 1);
      if (Kept(a, x1) || Kept(x2, y1) || Kept(y2, b)) continue;
      length_ += D(a, y1) + D(y2, x1) + D(x2, b) - D(a, x1) - D(x2, y1) - D(y2, b);
      const std::size_t from = (p + 1) % n_;
      RotatePlaces(from, lx + ly, lx);
      journal_.push_back({true, from, lx + ly, lx});
      for (std::size_t v : {a, x1, x2, y1, y2, b}) Queue(v);
      return true;
    }
    return false;
  }

  const std::vector<double>& c_;
  std::size_t n_, end_;
  std::uint64_t effort_;
  std::uint64_t spent_ = 0;
  SeededRandom rng_;
  std::vector<std::size_t> tour_, pos_, near_, first_, queue_, touched_, buffer_;
  std::vector<char> queued_;
  std::vector<std::pair<std::size_t, std::size_t>> added_;
  std::vector<Entry> journal_;
  double length_ = 0;
};

}  // namespace

std::vector<std::size_t> OrderTour(const std::vector<double>& cost, std::size_t nodes,
                                   std::uint64_t effort, std::uint64_t seed) {
  return Tour(cost, nodes, effort, seed).Run();
}

bool IsSymmetric(const std::vector<double>& cost, std::size_t nodes) {
  for (std::size_t i = 0; i < nodes; ++i) {
    for (std::size_t j = i + 1; j < nodes; ++j) {
      const double a = cost[i * nodes + j], b = cost[j * nodes + i];
      if (std::abs(a - b) > 1e-6 * std::max({1.0, std::abs(a), std::abs(b)})) return false;
    }
  }
  return true;
}

}  // namespace dg::planning
