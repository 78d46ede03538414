// Covering the pieces with whole loads (packing_cover.h).
//
// The loads are listed per kind of piece (pieces of one size are one kind),
// so that equal pieces do not multiply them. A packing on the target holds
// each load wasting no more than the spare, and the other vehicles hold at
// least the fewest pieces any such load has: loads of more pieces than that
// leaves room for are not listed.
//
// The search keeps a set of loads within the spare, no piece in two of
// them (a load may be taken as often as its pieces allow), and grows it: a
// load whose pieces are all left out goes in; a load of the set gives way
// to one or two that hold more pieces. When neither helps, a load holding a
// left-out piece is forced in, the loads of the set that share its pieces
// (and, when the spare would be exceeded, loads that waste room) give way,
// and growing starts again. Loads that just gave way are not forced in
// again for a few rounds, and after many rounds without a larger set the
// search goes back to the largest one found.
#include "planning/packing_cover.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <utility>

#include "planning/packing_fill_scan.h"

namespace dg::planning {
namespace {

using Size = ExactSize;
using Kind = std::uint32_t;

// Rounds without a larger set before the search goes back to the largest.
constexpr std::uint64_t kStallRounds = 2000;
// Rounds for which a load that gave way is not forced in again: the least
// and the spread of the draw.
constexpr std::uint64_t kTenure = 3;
constexpr std::uint64_t kTenureSpread = 5;
// How many more pieces than the fewest a load may hold for the search to
// run at all.
constexpr std::size_t kMostAboveFewest = 1;
// The most pieces a load may hold: the listing goes as deep.
constexpr std::size_t kMostPieces = 64;
// Loads, not barred, among which the one that pushes the fewest pieces of
// the set aside is forced in; and the draws that may find them.
constexpr int kForceTries = 8;
constexpr int kForceDraws = 50;

struct Load {
  std::vector<Kind> kinds;  // ascending, a kind once per piece
  Size waste;
};

class Cover {
 public:
  Cover(const std::vector<Size>& sizes, Size room, std::size_t vehicles, const CoverBudget& budget)
      : room_(room), vehicles_(vehicles), budget_(budget), random_(budget.seed) {
    PieceKinds kinds(sizes);
    kind_size_ = std::move(kinds.size);
    count_ = std::move(kinds.count);
    kind_of_ = std::move(kinds.kind_of);
    total_ = kinds.total;
  }

  bool Run(std::uint64_t& steps, std::vector<std::uint32_t>& vehicle) {
    const bool found = List() && Search();
    steps = steps_;
    if (!found) return false;
    std::vector<std::vector<Kind>> loads;
    for (std::uint32_t l : chosen_) loads.push_back(loads_[l].kinds);
    vehicle = VehiclesOfPieces(kind_of_, kind_size_.size(), loads);
    return true;
  }

 private:
  // ---- listing ---------------------------------------------------------------

  // Lists the loads; false when the pieces cannot fill the vehicles or the
  // listing exceeds its budget.
  bool List() {
    const auto n = static_cast<std::int64_t>(kind_of_.size());
    const auto k = static_cast<std::int64_t>(vehicles_);
    if (n == 0 || k == 0) return false;
    spare_ = {k * room_.weight - total_.weight, k * room_.volume - total_.volume};
    if (spare_.weight < 0 || spare_.volume < 0) return false;
    least_ = {std::max<std::int64_t>(0, room_.weight - spare_.weight),
              std::max<std::int64_t>(0, room_.volume - spare_.volume)};
    for (const Size& s : kind_size_) {
      if (!s.Within(room_)) return false;
    }
    // Largest pieces first, by their share of the room.
    auto share = [&](const Size& s) {
      auto part = [](std::int64_t x, std::int64_t of) {
        return of > 0 ? static_cast<double>(x) / static_cast<double>(of) : 0.0;
      };
      return part(s.weight, room_.weight) + part(s.volume, room_.volume);
    };
    order_.resize(kind_size_.size());
    std::iota(order_.begin(), order_.end(), Kind{0});
    std::stable_sort(order_.begin(), order_.end(),
                     [&](Kind a, Kind b) { return share(kind_size_[a]) > share(kind_size_[b]); });
    const std::size_t kinds = order_.size();
    after_sum_.assign(kinds + 1, {});
    after_max_.assign(kinds + 1, {});
    for (std::size_t t = kinds; t-- > 0;) {
      const Size s = kind_size_[order_[t]];
      const std::int64_t c = count_[order_[t]];
      after_sum_[t] = after_sum_[t + 1] + Size{s.weight * c, s.volume * c};
      after_max_[t] = {std::max(after_max_[t + 1].weight, s.weight),
                       std::max(after_max_[t + 1].volume, s.volume)};
    }
    taken_.assign(kinds, 0);
    // The fewest pieces of a load; the other vehicles hold at least as many
    // each, which bounds the pieces of any load of the packing.
    std::size_t fewest = 0;
    const std::size_t cap = std::min(kind_of_.size(), kMostPieces);
    for (std::size_t most = 1; most <= cap && fewest == 0; ++most) {
      first_only_ = true;
      if (!Walk(0, {}, most)) return false;
      if (!loads_.empty()) fewest = most;
    }
    if (fewest == 0 || vehicles_ * fewest > kind_of_.size()) return false;
    loads_.clear();
    first_only_ = false;
    most_ = kind_of_.size() - (vehicles_ - 1) * fewest;
    // Loads of very different sizes make the sets of loads many and the
    // search weak; where every vehicle holds the fewest pieces or one more,
    // the loads are few and fit together like the pieces of a puzzle.
    if (most_ > fewest + kMostAboveFewest || most_ > kMostPieces) return false;
    if (!Walk(0, {}, most_) || loads_.empty()) return false;
    of_.assign(kinds, {});
    for (std::uint32_t l = 0; l < loads_.size(); ++l) {
      EachKind(l, [&](Kind k, std::size_t) {
        of_[k].push_back(l);
        return true;
      });
    }
    // A kind in no load cannot travel.
    return std::none_of(of_.begin(), of_.end(), [](const auto& list) { return list.empty(); });
  }

  // Depth-first over the kinds from order_[t] on, the load `load` of
  // current_ taken so far, at most `most` pieces; false when the budget is
  // exceeded. With first_only_ it stops at the first load.
  bool Walk(std::size_t t, Size load, std::size_t most) {
    if (++steps_ > budget_.list_steps) return false;
    if (!current_.empty() && least_.Within(load)) {
      Load l{current_, room_ - load};
      std::sort(l.kinds.begin(), l.kinds.end());
      loads_.push_back(std::move(l));
      if (first_only_) return true;
      if (loads_.size() > budget_.max_loads) return false;
    }
    if (current_.size() == most) return true;
    const auto left = static_cast<std::int64_t>(most - current_.size());
    for (; t < order_.size(); ++t) {
      // What the remaining kinds can add at most; it only shrinks with t.
      const Size& sum = after_sum_[t];
      const Size& top = after_max_[t];
      if (load.weight + std::min(sum.weight, left * top.weight) < least_.weight ||
          load.volume + std::min(sum.volume, left * top.volume) < least_.volume)
        break;
      const Kind k = order_[t];
      ++steps_;
      const Size next = load + kind_size_[k];
      if (!next.Within(room_)) continue;
      current_.push_back(k);
      ++taken_[k];
      const bool ok = Walk(taken_[k] < count_[k] ? t : t + 1, next, most);
      --taken_[k];
      current_.pop_back();
      if (!ok) return false;
      if (first_only_ && !loads_.empty()) return true;
    }
    return true;
  }

  // ---- search ----------------------------------------------------------------

  bool Search() {
    free_ = count_;
    uses_.assign(loads_.size(), 0);
    barred_until_.assign(loads_.size(), 0);
    stamp_.assign(loads_.size(), 0);
    seen_.assign(loads_.size(), 0);
    holders_.assign(count_.size(), {});
    left_ = spare_;
    Grow();
    std::size_t best = covered_;
    std::vector<std::uint32_t> best_set = chosen_;
    std::uint64_t since = 0;
    const std::uint64_t limit = steps_ + budget_.search_steps;
    for (std::uint64_t round = 1; covered_ < kind_of_.size(); ++round) {
      if (steps_ > limit) return false;
      Force(round);
      Grow();
      if (covered_ > best) {
        best = covered_;
        best_set = chosen_;
        since = 0;
      } else if (++since > kStallRounds && covered_ < best) {
        while (!chosen_.empty()) Remove(chosen_.back());
        for (std::uint32_t l : best_set) Add(l);
        since = 0;
      }
    }
    return true;
  }

  // Whether load l fits beside the set: its pieces left out, its waste
  // within the spare left.
  bool Fits(std::uint32_t l) {
    const Load& load = loads_[l];
    ++steps_;
    if (!load.waste.Within(left_)) return false;
    return EachKind(l, [&](Kind k, std::size_t pieces) { return free_[k] >= pieces; });
  }

  // Calls f(kind, pieces of that kind) once for every kind of load l, in
  // ascending order, until f answers false; whether none did.
  template <typename F>
  bool EachKind(std::uint32_t l, F f) {
    const auto& ks = loads_[l].kinds;
    for (std::size_t i = 0, j = 0; i < ks.size(); i = j) {
      while (j < ks.size() && ks[j] == ks[i]) ++j;
      if (!f(ks[i], j - i)) return false;
    }
    return true;
  }

  void Add(std::uint32_t l) {
    for (Kind k : loads_[l].kinds) --free_[k];
    ++uses_[l];
    chosen_.push_back(l);
    EachKind(l, [&](Kind k, std::size_t) {
      holders_[k].push_back(l);
      return true;
    });
    left_ -= loads_[l].waste;
    covered_ += loads_[l].kinds.size();
  }

  void Remove(std::uint32_t l) {
    for (Kind k : loads_[l].kinds) ++free_[k];
    --uses_[l];
    chosen_.erase(std::find(chosen_.begin(), chosen_.end(), l));
    EachKind(l, [&](Kind k, std::size_t) {
      auto& list = holders_[k];
      list.erase(std::find(list.begin(), list.end(), l));
      return true;
    });
    left_ += loads_[l].waste;
    covered_ -= loads_[l].kinds.size();
  }

  template <typename T>
  void Shuffle(std::vector<T>& v) {
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[random_.Below(i)]);
  }

  // Adds loads of left-out pieces and swaps one load for two larger
  // together while either helps.
  void Grow() {
    for (;;) {
      bool added = false;
      for (Kind k = 0; k < free_.size(); ++k) {
        if (free_[k] == 0) continue;
        for (std::uint32_t l : of_[k]) {
          while (Fits(l)) Add(l), added = true;
        }
      }
      if (!added && !SwapOneForTwo()) return;
    }
  }

  // The loads of the set that some load holding a left-out piece overlaps
  // alone (the load would fit beside the set without it): only where such a
  // load may take its place can two loads hold more pieces than the one
  // they replace.
  void Overlapped(std::vector<std::uint32_t>& loads) {
    loads.clear();
    ++stamp_round_;
    for (Kind k = 0; k < free_.size(); ++k) {
      if (free_[k] == 0) continue;
      for (std::uint32_t l : of_[k]) {
        if (stamp_[l] == stamp_round_) continue;
        stamp_[l] = stamp_round_;
        // The loads of the set holding the first kind short of pieces.
        Kind short_kind = 0;
        if (EachKind(l, [&](Kind k, std::size_t pieces) {
              short_kind = k;
              return free_[k] >= pieces;
            }))
          continue;
        for (std::uint32_t x : holders_[short_kind]) {
          if (seen_[x] != stamp_round_ && FitsWithout(l, x)) {
            seen_[x] = stamp_round_;
            loads.push_back(x);
          }
        }
      }
    }
  }

  // Whether every kind of load l has the pieces it needs once load x of the
  // set gives its pieces back (the spare left aside).
  bool FitsWithout(std::uint32_t l, std::uint32_t x) {
    const auto& ks = loads_[l].kinds;
    const auto& xs = loads_[x].kinds;
    steps_ += ks.size() + xs.size();
    return EachKind(l, [&](Kind k, std::size_t pieces) {
      const auto back = static_cast<std::size_t>(std::count(xs.begin(), xs.end(), k));
      return free_[k] + back >= pieces;
    });
  }

  // Replaces a load of the set by one or two loads holding more pieces;
  // false when none does.
  bool SwapOneForTwo() {
    std::vector<std::uint32_t> order;
    Overlapped(order);
    Shuffle(order);
    std::vector<std::uint32_t> near;
    for (std::uint32_t x : order) {
      Remove(x);
      ++stamp_round_;
      near.clear();
      for (Kind k : loads_[x].kinds) {
        for (std::uint32_t l : of_[k]) {
          if (stamp_[l] == stamp_round_) continue;
          stamp_[l] = stamp_round_;
          if (Fits(l)) near.push_back(l);
        }
      }
      Shuffle(near);
      const std::size_t gone = loads_[x].kinds.size();
      for (std::size_t a = 0; a < near.size(); ++a) {
        Add(near[a]);
        const std::size_t held = loads_[near[a]].kinds.size();
        if (held > gone) return true;
        for (std::size_t b = a + 1; b < near.size(); ++b) {
          if (held + loads_[near[b]].kinds.size() > gone && Fits(near[b])) {
            Add(near[b]);
            return true;
          }
        }
        Remove(near[a]);
      }
      Add(x);
    }
    return false;
  }

  // Pieces of load l that the set holds.
  std::size_t InTheWay(std::uint32_t l) {
    std::size_t held = 0;
    EachKind(l, [&](Kind k, std::size_t pieces) {
      if (free_[k] < pieces) held += pieces - free_[k];
      return true;
    });
    steps_ += loads_[l].kinds.size();
    return held;
  }

  // Forces in a load holding a left-out piece, of a few drawn the one with
  // the fewest pieces in the set; the loads in its way give way and may not
  // be forced in again for a few rounds.
  void Force(std::uint64_t round) {
    std::vector<Kind> left_out;
    for (Kind k = 0; k < free_.size(); ++k) {
      if (free_[k] > 0) left_out.push_back(k);
    }
    steps_ += free_.size();
    const auto& holding = of_[left_out[random_.Below(left_out.size())]];
    std::uint32_t pick = holding[random_.Below(holding.size())];
    std::size_t fewest = std::numeric_limits<std::size_t>::max();
    int tried = 0;
    for (int draw = 0; draw < kForceDraws && tried < kForceTries; ++draw, ++steps_) {
      const std::uint32_t l = holding[random_.Below(holding.size())];
      if (barred_until_[l] > round) continue;
      ++tried;
      const std::size_t in_way = InTheWay(l);
      if (in_way < fewest) fewest = in_way, pick = l;
    }
    auto give_way = [&](std::uint32_t y) {
      Remove(y);
      barred_until_[y] = round + kTenure + random_.Below(kTenureSpread);
    };
    EachKind(pick, [&](Kind k, std::size_t pieces) {
      for (std::uint32_t y : of_[k]) {
        if (free_[k] >= pieces) break;
        ++steps_;
        while (uses_[y] > 0 && free_[k] < pieces) give_way(y);
      }
      return true;
    });
    const Size waste = loads_[pick].waste;
    while (!waste.Within(left_)) {
      // Some load of the set wastes room where the spare is short: the set
      // wastes the whole spare less left_, and the load no more than it.
      std::vector<std::uint32_t> wasting;
      const bool weight_short = waste.weight > left_.weight;
      for (std::uint32_t y : chosen_) {
        const Size& w = loads_[y].waste;
        if ((weight_short ? w.weight : w.volume) > 0) wasting.push_back(y);
      }
      steps_ += chosen_.size();
      give_way(wasting[random_.Below(wasting.size())]);
    }
    Add(pick);
    barred_until_[pick] = 0;
  }

  // The pieces and the vehicles.
  const Size room_;
  const std::size_t vehicles_;
  const CoverBudget budget_;
  fill::Random random_;
  std::vector<Size> kind_size_;
  std::vector<std::size_t> count_;  // pieces per kind
  std::vector<Kind> kind_of_;       // per piece
  Size total_;
  Size spare_;  // the room the pieces leave on the vehicles
  Size least_;  // the least load a vehicle may hold
  std::uint64_t steps_ = 0;

  // Listing.
  std::vector<Kind> order_;  // the kinds, largest first
  std::vector<Size> after_sum_, after_max_;
  std::vector<std::size_t> taken_;
  std::vector<Kind> current_;
  std::size_t most_ = 0;
  bool first_only_ = false;
  std::vector<Load> loads_;
  std::vector<std::vector<std::uint32_t>> of_;  // per kind: the loads holding it

  // The set of loads.
  std::vector<std::size_t> free_;    // per kind: pieces left out
  std::vector<std::uint32_t> uses_;  // per load: times in the set
  std::vector<std::uint32_t> chosen_;
  Size left_;  // spare not yet wasted
  std::size_t covered_ = 0;
  std::vector<std::uint64_t> barred_until_;
  std::vector<std::vector<std::uint32_t>> holders_;  // per kind: the loads of the set holding it
  std::vector<std::uint64_t> stamp_, seen_;
  std::uint64_t stamp_round_ = 0;
};

}  // namespace

PieceKinds::PieceKinds(const std::vector<ExactSize>& sizes) {
  std::map<ExactSize, std::uint32_t> kinds;
  for (const ExactSize& s : sizes) {
    const auto [it, added] = kinds.emplace(s, static_cast<std::uint32_t>(size.size()));
    if (added) {
      size.push_back(s);
      count.push_back(0);
    }
    ++count[it->second];
    kind_of.push_back(it->second);
    total += s;
  }
}

std::vector<std::uint32_t> VehiclesOfPieces(const std::vector<std::uint32_t>& kind_of,
                                            std::size_t kinds,
                                            const std::vector<std::vector<std::uint32_t>>& loads) {
  std::vector<std::vector<std::uint32_t>> pieces(kinds);
  for (std::uint32_t p = static_cast<std::uint32_t>(kind_of.size()); p-- > 0;)
    pieces[kind_of[p]].push_back(p);
  std::vector<std::uint32_t> vehicle(kind_of.size(), 0);
  for (std::size_t v = 0; v < loads.size(); ++v) {
    for (std::uint32_t k : loads[v]) {
      vehicle[pieces[k].back()] = static_cast<std::uint32_t>(v);
      pieces[k].pop_back();
    }
  }
  return vehicle;
}

bool CoverWithLoads(const std::vector<ExactSize>& sizes, ExactSize room, std::size_t vehicles,
                    const CoverBudget& budget, std::uint64_t& steps,
                    std::vector<std::uint32_t>& vehicle) {
  Cover cover(sizes, room, vehicles, budget);
  return cover.Run(steps, vehicle);
}

}  // namespace dg::planning
