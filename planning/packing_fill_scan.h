// Small parts of the exact-fill search (packing_fill.cpp): its generator,
// settings, what it minimises, its tabu memory, the repacks it need not run
// again, the lists of left-out pieces its swap scan reads and the search that
// passes over those too large for a room.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "planning/packing_split.h"

namespace dg::planning::fill {

inline constexpr double kEps = 1e-9;

// The search's settings.
// Spare room, in largest rooms, on the lower bound's vehicles under which
// a dimension counts as tight (TightDimension).
inline constexpr double kTightSlack = 0.3;
// Passes of GatherExactly a descent may make.
inline constexpr std::size_t kGatherPasses = 4;
inline constexpr std::size_t kTabuSteps = 50;  // swaps between two descents
// Vehicles, the emptiest first, that the descent repacks together with
// each other vehicle once single repacks no longer help.
inline constexpr std::size_t kPairs = 1;
inline constexpr std::size_t kTenure = 3;
// Swaps for which a size that went into a vehicle may leave none.
inline constexpr std::size_t kHold = 5;
inline constexpr std::size_t kMaxPairedOut = 120;
// Swaps without a better left-out set before the attempt starts over from
// other vehicles, drawn among the kPool times as many emptiest ones.
inline constexpr std::uint64_t kStall = 2000;
inline constexpr std::size_t kPool = 3;
// The factor by which the weight of a dimension in a share changes at a
// time while the left-out set is over the room to refill in it alone, and
// the most it may weigh against its weight at the start.
inline constexpr double kTiltStep = 1.25;
inline constexpr double kMaxTilt = 30;
inline constexpr std::uint64_t kCheckNodes = 20'000;
inline constexpr std::size_t kFailedChecks = 100'000;  // left-out sets remembered
inline constexpr std::uint64_t kRepackNodes = 5'000;
// The end game (CoverWithLoads) may spend a twelfth of the last vehicle's
// effort listing loads and half of it searching, and list at most
// kCoverLoads loads.
inline constexpr std::uint64_t kCoverListShare = 12;
inline constexpr std::uint64_t kCoverSearchShare = 2;
inline constexpr std::size_t kCoverLoads = 50'000;
// The other end game (CoverFromPool) may spend a quarter of the last
// vehicle's effort on its relaxation and a twentieth searching, over at
// most kPoolLoads loads.
inline constexpr std::uint64_t kPoolRelaxShare = 4;
inline constexpr std::uint64_t kPoolSearchShare = 20;
inline constexpr std::size_t kPoolLoads = 20'000;
// The end game by the relaxation over loads (CoverByColumns) spends at most
// kColumnShare times the last vehicle's effort where the pieces have one
// dimension only: its steps (an entry of the
// simplex's inverse updated, a cell of the table of sums) are a multiply and
// an add each, some thirty times cheaper than a candidate move.
inline constexpr std::uint64_t kColumnShare = 30;
// On two dimensions, where it has only the loads the search kept, it spends
// kColumnFirstShare times before the last vehicle's steps are added and
// kColumnAgainShare times after, over the loads kept meanwhile.
inline constexpr std::uint64_t kColumnFirstShare = 10;
inline constexpr std::uint64_t kColumnAgainShare = 6;
// Where it cannot price loads itself (rooms of many units each way) it
// rounds over the kept loads alone, kColumnKeptShare times and not again:
// the packings it finds there took at most 0.07 billion of the first
// relaxation's 0.6 billion steps (on the public instances, at every seed),
// the rest went on roundings that fail.
inline constexpr std::uint64_t kColumnKeptShare = 3;
// The share of the last vehicle's effort added on equal vehicles and two
// dimensions, in percent: on the public instances those steps alone reached
// no packing on the bound at any seed, while the loads they keep let the
// second relaxation reach some.
inline constexpr std::uint64_t kTwoDimensionExtensionPercent = 50;
// Steps per set of pieces leaving a vehicle that the swap scan weighs: its
// tabu lookups and the searches of what may take its place.
inline constexpr std::uint64_t kSwapSteps = 2;
// A node of the exact searches costs about as much time as one and a half
// steps of the swap scan.
inline std::uint64_t NodeSteps(std::uint64_t nodes) { return nodes + nodes / 2; }

// splitmix64: a small deterministic generator.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }

 private:
  std::uint64_t state_;
};

// The share of the fleet's room left out (lower is better), then the number
// of pieces left out (higher is better: small pieces are easier to place).
struct Objective {
  double share = 0;
  std::size_t count = 0;
  bool Better(const Objective& o) const {
    return share < o.share - kEps || (share <= o.share + kEps && count > o.count);
  }
};

// The tabu memory: an entry per vehicle and kind of piece, in a table of a
// fixed size where entries of other keys or of earlier attempts count as
// new.
class TabuTable {
 public:
  struct Entry {
    std::uint64_t key = 0;
    std::uint64_t generation = 0;
    std::uint64_t until = 0;
    std::uint32_t times = 0;
  };

  // The entry of vehicle v and `kind`, in a table sized for `pieces`.
  Entry& At(std::uint32_t v, std::uint32_t kind, std::size_t pieces) {
    if (table_.empty()) {
      std::size_t slots = 1024;
      while (slots < 16 * pieces && slots < (std::size_t{1} << 18)) slots *= 2;
      table_.resize(slots);
    }
    const std::uint64_t key = (static_cast<std::uint64_t>(v) << 32 | kind) + 1;
    Entry& e = table_[(key * 0x9e3779b97f4a7c15ULL >> 40) & (table_.size() - 1)];
    if (e.key != key || e.generation != generation_) e = {key, generation_, 0, 0};
    return e;
  }

  // Every entry counts as new from here on (a new attempt).
  void Forget() { ++generation_; }

 private:
  std::vector<Entry> table_;
  std::uint64_t generation_ = 0;
};

// Spreads the bits of a key (the splitmix64 finaliser). A multiset of sizes
// is keyed by the sum of a random key per size, kept up to date as pieces
// come and go, and mixed before use.
inline std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// The repacks that found nothing better: a repack sees only the sizes of the
// pieces on its vehicles, of those left out and the rooms, so with the same
// ones it finds nothing again and is passed over. A bounded set, emptied
// when full.
class FruitlessRepacks {
 public:
  // The key of a repack of vehicles holding `loaded` (the multiset key of
  // their pieces together) with the left-out set `out`, onto rooms whose
  // keys are `rooms` (in the order the repack fills them).
  static std::uint64_t Key(std::uint64_t loaded, std::uint64_t out, std::uint64_t rooms) {
    return Mix(Mix(loaded) ^ Mix(out + 0x632be59bd9b4e019ULL) ^ Mix(rooms));
  }

  bool Seen(std::uint64_t key) const { return keys_.count(key) > 0; }

  void Forget() { keys_.clear(); }

  void Remember(std::uint64_t key) {
    if (keys_.size() >= kLimit) keys_.clear();
    keys_.insert(key);
  }

 private:
  static constexpr std::size_t kLimit = 100'000;
  std::unordered_set<std::uint64_t> keys_;
};

// The first entry of `list`, sorted by decreasing share_of(entry), whose
// share is at most `limit`; list.size() when there is none. A galloping
// search from the front: its probes, each added to `steps`, grow as the
// logarithm of the entries passed over, and none is needed when the first
// entry is within the limit.
template <class List, class ShareOf>
std::size_t FirstWithin(const List& list, ShareOf share_of, double limit, std::uint64_t& steps) {
  const std::size_t n = list.size();
  if (n == 0 || share_of(list[0]) <= limit) return 0;
  std::size_t low = 1, high = 1;  // every entry before `low` is over the limit
  while (high < n && share_of(list[high]) > limit) {
    ++steps;
    low = high + 1;
    high = std::min(n, 2 * high + 1);
  }
  while (low < high) {
    ++steps;
    const std::size_t mid = low + (high - low) / 2;
    if (share_of(list[mid]) > limit)
      low = mid + 1;
    else
      high = mid;
  }
  return low;
}

// Two left-out pieces taken in together.
struct OutPair {
  std::uint32_t a, b;
  ExactSize size;
  double share;
};

// The pieces of `out` largest share first (then by index) into `singles`,
// and the pairs among the first `max_paired` of them likewise into `pairs`.
// Answers the entries listed.
inline std::size_t ListOut(const std::vector<std::uint32_t>& out, const std::vector<double>& share,
                           const std::vector<ExactSize>& size, std::size_t max_paired,
                           std::vector<std::uint32_t>& singles, std::vector<OutPair>& pairs) {
  singles = out;
  std::sort(singles.begin(), singles.end(), [&](std::uint32_t a, std::uint32_t b) {
    return share[a] != share[b] ? share[a] > share[b] : a < b;
  });
  pairs.clear();
  const std::size_t n = std::min(singles.size(), max_paired);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const std::uint32_t a = singles[i], b = singles[j];
      pairs.push_back({a, b, size[a] + size[b], share[a] + share[b]});
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const OutPair& x, const OutPair& y) {
    return x.share != y.share ? x.share > y.share : std::pair(x.a, x.b) < std::pair(y.a, y.b);
  });
  return singles.size() + pairs.size();
}

}  // namespace dg::planning::fill
