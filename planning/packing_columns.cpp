// The relaxation over loads and its rounding: see packing_columns.h.
#include "planning/packing_columns.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <unordered_set>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "planning/packing_basis.h"
#include "planning/packing_cover.h"

namespace dg::planning {
namespace {

// A reduced cost below -kPriceEps lets a load into the simplex.
constexpr double kPriceEps = 1e-9;
// A relaxation value above the vehicles by more than this proves them short.
constexpr double kBoundEps = 1e-6;
// A load taken at least 1 - kWholeEps times is fixed that many times.
constexpr double kWholeEps = 1e-6;
// The stand-in load of one piece the simplex starts from first costs twice
// the piece's share of the room, at least kLeastStandInCost; where
// stand-ins are left when no load improves, their costs are raised
// kStandInRaise times, up to kStandInCost times the first (any load costs
// 1, so a stand-in then leaves wherever loads can replace it).
constexpr double kLeastStandInCost = 0.01;
constexpr double kStandInRaise = 4;
constexpr double kStandInCost = 1000;
// The stand-in loads still taken above this: no cover over the loads.
constexpr double kStandInLeft = 1e-5;
// The table of sums is built while the room counts at most this many units
// (the greatest common divisor of the sizes and the room).
constexpr std::int64_t kMaxTableRoom = 1 << 18;
// Nor while the table would keep more than this many choices (a bit each).
constexpr std::uint64_t kMaxTableCells = std::uint64_t{1} << 27;
// More kinds of pieces than this: no relaxation (its updates are dense).
constexpr std::size_t kMaxKinds = 1024;
// On both dimensions, while the table has at most this many sums.
constexpr std::int64_t kMaxPlaneCells = 1 << 16;
// Loads the table of sums adds at most per pricing (the most valued first).
constexpr std::size_t kLoadsPerPricing = 8;
// Up to this many kinds of pieces in all, the simplex keeps an explicit
// inverse of its basis on every relaxation
// (m^2 per pivot), computed anew after kInversePivots pivots, its prices and
// values after kInverseRecomputePivots.
constexpr std::size_t kMaxDenseKinds = 256;
constexpr int kInversePivots = 1024;
constexpr int kInverseRecomputePivots = 64;
// With more, sparse factors of the basis (packing_basis.h), factored anew
// after kFactorPivots pivots or once the updates since hold more than
// kFactorEntries entries a row. An entry of the factors or updates used
// counts kFactorStepWeight steps: it costs about that many entries of the
// inverse, which a pivot sweeps in order (2 gave more CPU a step than the
// explicit inverse once the residuals below 256 kinds kept the factors).
constexpr std::size_t kFactorPivots = 64;
constexpr std::size_t kFactorEntries = 16;
constexpr std::uint64_t kFactorStepWeight = 3;
// There the entering column is the one of most reduced cost squared over its
// reference weight; weights above this start the reference over.
constexpr double kMostReferenceWeight = 1e6;
// Other choices tried, over the whole rounding, where the first fails.
constexpr int kDiscrepancies = 2;

struct Column {
  KindLoad kinds;
  ExactSize waste;
};

std::uint64_t KeyOf(const KindLoad& kinds) {
  std::uint64_t key = 0x9e3779b97f4a7c15ULL;
  for (const auto& [k, c] : kinds) {
    key ^=
        (static_cast<std::uint64_t>(k) << 20 | c) + 0x9e3779b97f4a7c15ULL + (key << 6) + (key >> 2);
  }
  return key;
}

// A node of the rounding: the pieces still to place, per kind, the vehicles
// left for them and the room they may leave unused.
struct Residual {
  std::vector<std::uint32_t> demand;
  std::size_t vehicles = 0;
  ExactSize spare;
};

class ColumnSearch {
 public:
  ColumnSearch(const std::vector<ExactSize>& sizes, ExactSize room, std::uint64_t step_limit)
      : kinds_(sizes), room_(room), limit_(step_limit) {
    SetUpTable();
  }

  std::uint64_t steps() const { return steps_; }
  bool prices() const { return dimension_ >= 0; }

  // Whether every load is priced (ColumnsPriceEveryLoad).
  bool PricesEveryLoad() const {
    return (dimension_ == 0 || dimension_ == 1) && kinds_.size.size() <= kMaxKinds;
  }

  ColumnOutcome Run(std::size_t vehicles, const std::vector<KindLoad>& known,
                    std::vector<std::uint32_t>& vehicle) {
    if (kinds_.size.size() > kMaxKinds) return ColumnOutcome::kUnknown;
    for (const ExactSize& s : kinds_.size) {
      if (!s.Within(room_)) return ColumnOutcome::kUnknown;
    }
    const auto v = static_cast<std::int64_t>(vehicles);
    Residual root;
    root.demand.assign(kinds_.count.begin(), kinds_.count.end());
    root.vehicles = vehicles;
    root.spare = ExactSize{room_.weight * v, room_.volume * v} - kinds_.total;
    if (root.spare.weight < 0 || root.spare.volume < 0) return ColumnOutcome::kImpossible;
    for (const KindLoad& l : known) Add(l, root);
    impossible_ = false;
    fixed_.clear();
    if (Dive(root, kDiscrepancies, {})) {
      std::vector<std::vector<std::uint32_t>> loads;
      for (std::uint32_t c : fixed_) {
        loads.emplace_back();
        for (const auto& [k, n] : columns_[c].kinds) loads.back().insert(loads.back().end(), n, k);
      }
      vehicle = VehiclesOfPieces(kinds_.kind_of, kinds_.size.size(), loads);
      return ColumnOutcome::kFound;
    }
    return impossible_ ? ColumnOutcome::kImpossible : ColumnOutcome::kUnknown;
  }

 private:
  // ---- loads -----------------------------------------------------------------

  // Keeps the load of `count` pieces of each kind, as Add, and names it in
  // `added` when it is new.
  void AddCounts(const std::vector<std::uint32_t>& count, const Residual& r,
                 std::vector<std::uint32_t>& added) {
    KindLoad load;
    for (std::uint32_t k = 0; k < count.size(); ++k) {
      if (count[k] > 0) load.push_back({k, count[k]});
    }
    const std::size_t before = columns_.size();
    Add(load, r);
    if (columns_.size() > before) added.push_back(static_cast<std::uint32_t>(before));
  }

  // Keeps a load that fits the room and the residual's pieces and spare.
  void Add(const KindLoad& kinds, const Residual& r) {
    ExactSize load;
    for (const auto& [k, c] : kinds) {
      if (k >= kinds_.size.size() || c == 0 || c > r.demand[k]) return;
      load += ExactSize{kinds_.size[k].weight * c, kinds_.size[k].volume * c};
    }
    if (kinds.empty() || !load.Within(room_) || !(room_ - load).Within(r.spare)) return;
    if (!keys_.insert(KeyOf(kinds)).second) return;
    columns_.push_back({kinds, room_ - load});
  }

  // ---- the table of sums -----------------------------------------------------

  // Where every piece has size in one dimension only, and the same one, sizes
  // and room are counted in units of their greatest common divisor; the
  // loads the prices value most are then found exactly.
  void SetUpTable() {
    for (int d = 0; d < 2; ++d) {
      auto of = [d](const ExactSize& s) { return d == 0 ? s.weight : s.volume; };
      auto other = [d](const ExactSize& s) { return d == 0 ? s.volume : s.weight; };
      if (std::any_of(kinds_.size.begin(), kinds_.size.end(),
                      [&](const ExactSize& s) { return other(s) != 0 || of(s) <= 0; }))
        continue;
      std::int64_t unit = of(room_);
      for (const ExactSize& s : kinds_.size) unit = std::gcd(unit, of(s));
      if (unit <= 0 || of(room_) / unit > kMaxTableRoom) return;
      dimension_ = d;
      unit_ = unit;
      table_room_ = of(room_) / unit;
      for (const ExactSize& s : kinds_.size) kind_units_.push_back(of(s) / unit);
      return;
    }
    // Sizes in both dimensions: a table over both sums, while it stays small
    // (rooms of a hundred or so units each way).
    std::int64_t unit_w = room_.weight, unit_v = room_.volume;
    for (const ExactSize& s : kinds_.size) {
      if (s.weight < 0 || s.volume < 0) return;
      unit_w = std::gcd(unit_w, s.weight);
      unit_v = std::gcd(unit_v, s.volume);
    }
    if (unit_w <= 0 || unit_v <= 0) return;
    const std::int64_t w = room_.weight / unit_w, v = room_.volume / unit_v;
    if (w > kMaxTableRoom || v > kMaxTableRoom || (w + 1) * (v + 1) > kMaxPlaneCells) return;
    dimension_ = 2;
    unit_ = unit_w;
    unit_volume_ = unit_v;
    table_room_ = w;
    table_volume_ = v;
    for (const ExactSize& s : kinds_.size) {
      kind_units_.push_back(s.weight / unit_w);
      kind_volume_units_.push_back(s.volume / unit_v);
    }
  }

  // One step of a table of sums: `offer` (a smaller sum's value with the
  // item added) against the value `here` the sum has without the item.
  // Written without branches: which one wins follows the prices, so a
  // branch per cell is often mispredicted. A sum not reached yet is worth
  // minus infinity, so it offers nothing.
  static bool Better(double offer, double& here) {
    const bool better = offer > here;
    here = better ? offer : here;
    return better;
  }

  // Writes the bits of one item's row of taken_, the sums visited from the
  // highest down: a word is gathered in a register and stored once.
  class TakenRow {
   public:
    explicit TakenRow(std::uint64_t* row) : row_(row) {}
    void Put(std::size_t sum, bool taken) {
      const std::size_t word = sum >> 6;
      if (word != word_) {
        Flush();
        word_ = word;
      }
      bits_ |= std::uint64_t{taken} << (sum & 63);
    }
    void Flush() {
      if (word_ != kNoWord) row_[word_] |= bits_;
      bits_ = 0;
    }

   private:
    static constexpr std::size_t kNoWord = std::numeric_limits<std::size_t>::max();
    std::uint64_t* row_;
    std::size_t word_ = kNoWord;
    std::uint64_t bits_ = 0;
  };

  // One item of `units` worth `value` added to the table of one dimension
  // (value_, sums 0 to `high`), from the highest sum down so that each sum
  // reads the smaller one before the item; its bits go to `row`. Two sums
  // at a time where the processor has the instructions: each reads sums
  // below both, so they are the same steps as one at a time.
  void AddToTable(std::int64_t units, double value, std::int64_t high, std::uint64_t* row) {
    double* table = value_.data();
    const auto u = static_cast<std::size_t>(units);
    std::int64_t s = high;
    while (s >= units) {
      const std::int64_t low = std::max(units, s & ~std::int64_t{63});
      std::uint64_t bits = 0;
#if defined(__SSE2__)
      const __m128d add = _mm_set1_pd(value);
      for (; s - 1 >= low; s -= 2) {
        const auto sum = static_cast<std::size_t>(s - 1);
        const __m128d here = _mm_loadu_pd(table + sum);
        const __m128d offer = _mm_add_pd(_mm_loadu_pd(table + sum - u), add);
        // max(offer, here) is offer > here ? offer : here, as Better.
        _mm_storeu_pd(table + sum, _mm_max_pd(offer, here));
        bits |= static_cast<std::uint64_t>(_mm_movemask_pd(_mm_cmpgt_pd(offer, here)))
                << (sum & 63);
      }
#endif
      for (; s >= low; --s) {
        const auto sum = static_cast<std::size_t>(s);
        bits |= std::uint64_t{Better(table[sum - u] + value, table[sum])} << (sum & 63);
      }
      row[static_cast<std::size_t>(low) >> 6] |= bits;
    }
  }

  void ClearTaken(std::size_t items, std::size_t width) {
    taken_words_ = width / 64 + 1;
    taken_.assign(items * taken_words_, 0);
  }

  bool Taken(std::size_t item, std::size_t sum) const {
    return (taken_[item * taken_words_ + (sum >> 6)] >> (sum & 63)) & 1;
  }

  // The loads of the residual's pieces, within its spare, that the prices
  // `y` (per kind) value above 1, the most valued first, added to the loads;
  // `best` receives the largest value of any such load. False without a
  // table (best is then unknown).
  bool Price(const std::vector<double>& y, const Residual& r, double& best,
             std::vector<std::uint32_t>& added) {
    if (dimension_ < 0) return false;
    if (dimension_ == 2) return PricePlane(y, r, best, added);
    // Pieces of a kind as items of 1, 2, 4, ... of them.
    struct Item {
      std::uint32_t kind, count;
      std::int64_t units;
      double value;
    };
    std::vector<Item> items;
    for (std::uint32_t k = 0; k < r.demand.size(); ++k) {
      std::uint32_t left = r.demand[k];
      for (std::uint32_t c = 1; left > 0; c *= 2) {
        const std::uint32_t take = std::min(c, left);
        items.push_back({k, take, kind_units_[k] * take, y[k] * take});
        left -= take;
      }
    }
    const std::int64_t spare = dimension_ == 0 ? r.spare.weight : r.spare.volume;
    const std::int64_t high = table_room_;
    const std::int64_t low = std::max<std::int64_t>(0, table_room_ - spare / unit_);
    const auto width = static_cast<std::size_t>(high + 1);
    if (items.size() * width > kMaxTableCells) return false;
    const double none = -std::numeric_limits<double>::infinity();
    value_.assign(width, none);
    value_[0] = 0;
    ClearTaken(items.size(), width);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Item& it = items[i];
      if (it.units > high) continue;
      steps_ += static_cast<std::uint64_t>(high - it.units + 1);
      AddToTable(it.units, it.value, high, &taken_[i * taken_words_]);
    }
    best = none;
    std::vector<std::int64_t> sums;
    for (std::int64_t s = low; s <= high; ++s) {
      const double v = value_[static_cast<std::size_t>(s)];
      if (v == none) continue;
      best = std::max(best, v);
      if (v > 1 + kPriceEps) sums.push_back(s);
    }
    std::stable_sort(sums.begin(), sums.end(), [&](std::int64_t a, std::int64_t b) {
      return value_[static_cast<std::size_t>(a)] > value_[static_cast<std::size_t>(b)];
    });
    if (sums.size() > kLoadsPerPricing) sums.resize(kLoadsPerPricing);
    for (std::int64_t sum : sums) {
      std::vector<std::uint32_t> count(r.demand.size(), 0);
      std::int64_t s = sum;
      for (std::size_t i = items.size(); i-- > 0 && s > 0;) {
        if (!Taken(i, static_cast<std::size_t>(s))) continue;
        count[items[i].kind] += items[i].count;
        s -= items[i].units;
      }
      AddCounts(count, r, added);
      if (sums.size() == 1 && r.spare == ExactSize{}) AddExchanged(count, y, r, added);
    }
    return true;
  }

  // Where one sum alone is valued (a table that must fill the room
  // exactly), each pricing would add one load: loads of the same sum that
  // the prices value above 1 too are derived from it by exchanging one of
  // its pieces for two others of the same size sum, or two of them for two
  // others, and the most valued of them are added as well.
  void AddExchanged(const std::vector<std::uint32_t>& count, const std::vector<double>& y,
                    const Residual& r, std::vector<std::uint32_t>& added) {
    std::map<std::int64_t, std::uint32_t> kind_of_units;  // ordered: ties fall alike everywhere
    for (std::uint32_t k = 0; k < r.demand.size(); ++k) {
      if (r.demand[k] > 0) kind_of_units.emplace(kind_units_[k], k);
    }
    std::vector<std::uint32_t> in;  // the kinds of the load
    for (std::uint32_t k = 0; k < count.size(); ++k) {
      if (count[k] > 0) in.push_back(k);
    }
    double value = 0;
    for (std::uint32_t k : in) value += y[k] * count[k];
    struct Exchange {
      double value;
      std::uint32_t out[2], take[2];
    };
    std::vector<Exchange> found;
    // Whether a load's counts (after the exchange) stay within the demand.
    auto room_for = [&](const std::vector<std::uint32_t>& trial) {
      for (std::uint32_t k = 0; k < trial.size(); ++k) {
        if (trial[k] > r.demand[k]) return false;
      }
      return true;
    };
    const std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
    auto consider = [&](std::uint32_t a, std::uint32_t b, std::int64_t units) {
      const double lose = y[a] + (b == none ? 0.0 : y[b]);
      for (const auto& [u, c] : kind_of_units) {
        ++steps_;
        const std::int64_t rest = units - u;
        if (rest < u) continue;  // each pair once, the smaller second
        const auto other = kind_of_units.find(rest);
        if (other == kind_of_units.end()) continue;
        const std::uint32_t d = other->second;
        if (c == a || c == b || d == a || d == b) continue;
        const double v = value - lose + y[c] + y[d];
        if (v > 1 + kPriceEps) found.push_back({v, {a, b}, {c, d}});
      }
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
      consider(in[i], none, kind_units_[in[i]]);
      for (std::size_t j = i; j < in.size(); ++j) {
        if (j == i && count[in[i]] < 2) continue;
        consider(in[i], in[j], kind_units_[in[i]] + kind_units_[in[j]]);
      }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Exchange& a, const Exchange& b) { return a.value > b.value; });
    std::size_t kept = 0;
    for (const Exchange& e : found) {
      if (kept >= kLoadsPerPricing) break;
      std::vector<std::uint32_t> trial = count;
      --trial[e.out[0]];
      if (e.out[1] != none) --trial[e.out[1]];
      ++trial[e.take[0]];
      ++trial[e.take[1]];
      if (!room_for(trial)) continue;
      const std::size_t before = added.size();
      AddCounts(trial, r, added);
      kept += added.size() - before;
    }
  }

  // Price on both dimensions: the table holds every pair of sums (weight,
  // volume) in their units, a cell per pair; otherwise as Price.
  bool PricePlane(const std::vector<double>& y, const Residual& r, double& best,
                  std::vector<std::uint32_t>& added) {
    struct Item {
      std::uint32_t kind, count;
      std::int64_t w, v;
      double value;
    };
    std::vector<Item> items;
    for (std::uint32_t k = 0; k < r.demand.size(); ++k) {
      std::uint32_t left = r.demand[k];
      for (std::uint32_t c = 1; left > 0; c *= 2) {
        const std::uint32_t take = std::min(c, left);
        items.push_back({k, take, kind_units_[k] * take, kind_volume_units_[k] * take, y[k] * take});
        left -= take;
      }
    }
    const std::int64_t high_w = table_room_, high_v = table_volume_;
    const std::int64_t low_w = std::max<std::int64_t>(0, high_w - r.spare.weight / unit_);
    const std::int64_t low_v = std::max<std::int64_t>(0, high_v - r.spare.volume / unit_volume_);
    const auto row = static_cast<std::size_t>(high_v + 1);
    const std::size_t width = static_cast<std::size_t>(high_w + 1) * row;
    if (items.size() * width > kMaxTableCells) return false;
    const double none = -std::numeric_limits<double>::infinity();
    value_.assign(width, none);
    value_[0] = 0;
    ClearTaken(items.size(), width);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Item& it = items[i];
      if (it.w > high_w || it.v > high_v) continue;
      const auto shift = static_cast<std::size_t>(it.w) * row + static_cast<std::size_t>(it.v);
      steps_ += static_cast<std::uint64_t>(high_w - it.w + 1) *
                static_cast<std::uint64_t>(high_v - it.v + 1);
      TakenRow taken(&taken_[i * taken_words_]);
      double* value = value_.data();
      for (std::int64_t a = high_w; a >= it.w; --a) {
        for (std::int64_t b = high_v; b >= it.v; --b) {
          const std::size_t cell = static_cast<std::size_t>(a) * row + static_cast<std::size_t>(b);
          taken.Put(cell, Better(value[cell - shift] + it.value, value[cell]));
        }
      }
      taken.Flush();
    }
    best = none;
    std::vector<std::size_t> sums;
    for (std::int64_t a = low_w; a <= high_w; ++a) {
      for (std::int64_t b = low_v; b <= high_v; ++b) {
        const std::size_t cell = static_cast<std::size_t>(a) * row + static_cast<std::size_t>(b);
        const double v = value_[cell];
        if (v == none) continue;
        best = std::max(best, v);
        if (v > 1 + kPriceEps) sums.push_back(cell);
      }
    }
    steps_ += width;
    std::stable_sort(sums.begin(), sums.end(),
                     [&](std::size_t a, std::size_t b) { return value_[a] > value_[b]; });
    if (sums.size() > kLoadsPerPricing) sums.resize(kLoadsPerPricing);
    for (std::size_t sum : sums) {
      std::vector<std::uint32_t> count(r.demand.size(), 0);
      std::size_t s = sum;
      for (std::size_t i = items.size(); i-- > 0 && s > 0;) {
        if (!Taken(i, s)) continue;
        count[items[i].kind] += items[i].count;
        s -= static_cast<std::size_t>(items[i].w) * row + static_cast<std::size_t>(items[i].v);
      }
      AddCounts(count, r, added);
    }
    return true;
  }

  // ---- the relaxation --------------------------------------------------------

  // Solves the relaxation of the residual over the loads that fit it, adding
  // loads from the table of sums. The simplex starts from the stand-ins with
  // the loads of `hint` that fit brought in first (the loads the last
  // relaxation took: after a load is fixed, most of them still cover the
  // rest; its other basic loads, taken zero times, lead the simplex to
  // other corners that round worse).
  // Column generation stops once neither the value nor the bound can move
  // the count of vehicles: the value is within the vehicles and the bound
  // above one less. On return `taken` holds the loads taken, each with how
  // often. False when it finds no cover of the residual on its vehicles
  // (impossible_ set where the value proves it).
  // With up to kMaxDenseKinds kinds in all the basis is kept as an explicit
  // inverse; with more, where its m^2 per pivot is most of the cost, as
  // sparse factors.
  bool Relax(const Residual& r, const std::vector<std::uint32_t>& hint,
             std::vector<std::pair<std::uint32_t, double>>& taken) {
    // Rows: the kinds still to place.
    std::vector<int> row_of(r.demand.size(), -1);
    std::vector<std::uint32_t> kind_of_row;
    for (std::uint32_t k = 0; k < r.demand.size(); ++k) {
      if (r.demand[k] > 0) {
        row_of[k] = static_cast<int>(kind_of_row.size());
        kind_of_row.push_back(k);
      }
    }
    const std::size_t m = kind_of_row.size();
    // The right-hand side a little perturbed, so that the many ties of
    // equal loads do not make the simplex cycle.
    std::vector<double> rhs(m);
    double perturbed = 0;
    for (std::size_t i = 0; i < m; ++i) {
      const double e = 1e-7 * static_cast<double>(1 + (i * 7919) % 97) / 97;
      rhs[i] = r.demand[kind_of_row[i]] + e;
      perturbed += e;
    }
    std::vector<std::uint32_t> usable;
    std::vector<std::int64_t> usable_of(columns_.size(), -1);
    auto fits = [&](const Column& c) {
      for (const auto& [k, n] : c.kinds) {
        if (n > r.demand[k]) return false;
      }
      return c.waste.Within(r.spare);
    };
    // The usable loads' entries by row, one load after the other, so that
    // the scans over every load (its reduced cost, its reference weight)
    // read them in order: load u holds [entry_start[u], entry_start[u + 1]).
    std::vector<std::size_t> entry_start{0};
    std::vector<std::uint32_t> entry_row;
    std::vector<double> entry_count;
    auto use = [&](std::uint32_t c) {
      usable.push_back(c);
      for (const auto& [k, n] : columns_[c].kinds) {
        entry_row.push_back(static_cast<std::uint32_t>(row_of[k]));
        entry_count.push_back(n);
      }
      entry_start.push_back(entry_row.size());
    };
    for (std::uint32_t c = 0; c < columns_.size(); ++c) {
      steps_ += columns_[c].kinds.size();
      if (fits(columns_[c])) {
        usable_of[c] = static_cast<std::int64_t>(usable.size());
        use(c);
      }
    }
    // Where the pieces have more kinds than the explicit inverse is kept
    // for, every relaxation of the rounding (the residuals' too) keeps the
    // sparse factors and chooses the entering column by reference weights:
    // a relaxation there costs so many pivots that the fewer pivots pay for
    // their dearer steps. Below, the explicit inverse and the least reduced
    // cost, as the instances of fewer kinds were tuned with.
    const bool dense = kinds_.size.size() <= kMaxDenseKinds;
    // Basis: per position a load (its number in usable) or the stand-in of
    // the position's row (-1); the inverse dense and row-major, or the
    // sparse factors.
    std::vector<std::int64_t> basic(m, -1);
    std::vector<double> x(rhs), y(m), w(m), inverse;
    if (dense) {
      inverse.assign(m * m, 0);
      for (std::size_t i = 0; i < m; ++i) inverse[i * m + i] = 1;
    }
    // A stand-in first costs twice its piece's share of the room, so that
    // the first prices are about each piece's share and loads that fill
    // the room come in first; where stand-ins are left at the end, they
    // cost more and the simplex goes on.
    std::vector<double> stand_in(m);
    for (std::size_t i = 0; i < m; ++i) {
      const ExactSize& s = kinds_.size[kind_of_row[i]];
      double share = 0;
      if (room_.weight > 0) share += static_cast<double>(s.weight) / room_.weight;
      if (room_.volume > 0) share += static_cast<double>(s.volume) / room_.volume;
      stand_in[i] = std::max(2 * share, kLeastStandInCost);
    }
    // Where the pieces have one dimension and every vehicle must be filled
    // exactly (no spare), a piece may stand for a smaller one: the exchange
    // of a piece for the next smaller kind (+1 on the smaller's row, -1 on
    // the larger's, at no cost) holds the price of a larger piece at least
    // at a smaller one's, and spares the simplex most of its degenerate
    // pivots among loads that differ by such an exchange. The relaxation's
    // value stays at least the pieces' total over the room, which with no
    // spare is the vehicles. With room to spare the exchanges would let
    // loads waste more than it allows, and the rounding then fares worse.
    // basic[i] is then -2 - (its number in `swaps`).
    std::vector<std::pair<std::size_t, std::size_t>> swaps;  // (larger row, smaller row)
    if ((dimension_ == 0 || dimension_ == 1) && r.spare == ExactSize{}) {
      std::vector<std::size_t> by_size(m);
      std::iota(by_size.begin(), by_size.end(), std::size_t{0});
      std::sort(by_size.begin(), by_size.end(), [&](std::size_t a, std::size_t b) {
        return kind_units_[kind_of_row[a]] > kind_units_[kind_of_row[b]];
      });
      for (std::size_t i = 1; i < m; ++i) swaps.emplace_back(by_size[i - 1], by_size[i]);
    }
    // A byte a flag: the scans over every load read them once per pivot.
    std::vector<char> swap_in_basis(swaps.size(), false);
    auto cost = [&](std::size_t i) {
      return basic[i] == -1 ? stand_in[i] : (basic[i] < -1 ? 0.0 : 1.0);
    };
    std::vector<char> in_basis(usable.size(), false);
    // With the factors: the reference weights of the loads (by their number
    // in usable) and the exchanges, and the leaving row of the inverse.
    std::vector<double> load_weight(usable.size(), 1.0), swap_weight(swaps.size(), 1.0), rho;
    if (!dense) rho.assign(m, 0.0);
    bool prices_fresh = true;  // y computed from the costs since the last pivot
    // Every change of the prices y counts here. With the factors, the scan
    // for the reference weights after a pivot also works out the reduced
    // costs under the new prices, which the next scan for the entering
    // column then reads instead of summing the loads' entries again: the
    // same sums in the same order, one pass over the entries fewer.
    std::uint64_t prices_version = 1;
    std::vector<double> reduced_cost;
    std::vector<std::uint64_t> reduced_at;  // the prices' version of each
    // What the perturbation may add to the value: at the optimum the value is
    // the prices times the perturbed demand, and on the sparse path the
    // prices of pieces that fill a vehicle only together may exceed 1, so
    // the perturbation counts at its prices there.
    auto allowance = [&] {
      if (dense) return perturbed;
      double priced = 0;
      for (std::size_t i = 0; i < m; ++i) priced += y[i] * (rhs[i] - r.demand[kind_of_row[i]]);
      return std::max(perturbed, priced);
    };
    int pivots = 0;
    const std::uint64_t m2 = static_cast<std::uint64_t>(m) * m;
    SparseBasis basis;
    bool singular = false;  // the factors failed: the relaxation gives up
    // The basis's column at each position.
    std::vector<SparseColumn> basis_column(m);
    auto basis_columns = [&]() -> const std::vector<SparseColumn>& {
      for (std::size_t j = 0; j < m; ++j) {
        SparseColumn& column = basis_column[j];
        column.clear();
        if (basic[j] < -1) {
          const auto [larger, smaller] = swaps[static_cast<std::size_t>(-2 - basic[j])];
          column.push_back({static_cast<std::uint32_t>(smaller), 1.0});
          column.push_back({static_cast<std::uint32_t>(larger), -1.0});
        } else if (basic[j] < 0) {
          column.push_back({static_cast<std::uint32_t>(j), 1.0});
        } else {
          for (const auto& [k, n] : columns_[usable[static_cast<std::size_t>(basic[j])]].kinds)
            column.push_back({static_cast<std::uint32_t>(row_of[k]), static_cast<double>(n)});
        }
      }
      return basis_column;
    };
    // The calls on the factors, their steps weighed (kFactorStepWeight).
    auto charged = [&](auto call) {
      std::uint64_t spent = 0;
      const auto out = call(spent);
      steps_ += kFactorStepWeight * spent;
      return out;
    };
    auto solve = [&](std::vector<double>& v) {
      charged([&](std::uint64_t& s) {
        basis.Solve(v, s);
        return true;
      });
    };
    auto transposed = [&](std::vector<double>& v) {
      charged([&](std::uint64_t& s) {
        basis.SolveTransposed(v, s);
        return true;
      });
    };
    auto factor = [&] {
      return charged([&](std::uint64_t& s) { return basis.Factor(basis_columns(), s); });
    };
    // The prices of the rows and the values of the basis computed anew from
    // the inverse, so that the errors of their updates do not add up; or
    // from the factors.
    auto recompute = [&] {
      ++prices_version;
      if (!dense) {
        for (std::size_t i = 0; i < m; ++i) y[i] = cost(i);
        transposed(y);
        x = rhs;
        solve(x);
        return;
      }
      std::fill(y.begin(), y.end(), 0.0);
      for (std::size_t i = 0; i < m; ++i) {
        const double c = cost(i);
        const double* row = &inverse[i * m];
        double v = 0;
        for (std::size_t j = 0; j < m; ++j) {
          y[j] += c * row[j];
          v += row[j] * rhs[j];
        }
        x[i] = v;
      }
      steps_ += m2;
    };
    // The reference weights after column `enter` comes in at `leave` with
    // pivot `alpha`, rho the leaving row of the inverse: a column out of the
    // basis keeps the most of its own weight and what the pivot row carries
    // over from the entering column's; the column leaving gets the entering
    // one's over the pivot squared.
    auto reweigh = [&](std::int64_t enter, std::size_t leave, double alpha) {
      const double entering_weight = enter >= 0 ? load_weight[static_cast<std::size_t>(enter)]
                                                : swap_weight[static_cast<std::size_t>(-1 - enter)];
      const double carry = entering_weight / (alpha * alpha);
      const std::vector<double>& row = rho;
      double heaviest = 0;
      reduced_cost.resize(usable.size(), 0.0);
      reduced_at.resize(usable.size(), 0);
      // Plain pointers, so that the stores below do not make the compiler
      // read the vectors' own pointers again for every entry.
      const std::size_t* start = entry_start.data();
      const std::uint32_t* entry = entry_row.data();
      const double* count = entry_count.data();
      const double* price = y.data();
      const double* pivot_row = row.data();
      const char* basic_load = in_basis.data();
      double* weight = load_weight.data();
      double* rc_of = reduced_cost.data();
      std::uint64_t* rc_at = reduced_at.data();
      const std::size_t loads = usable.size();
      std::uint64_t scanned = 0;
      for (std::size_t u = 0; u < loads; ++u) {
        if (basic_load[u]) continue;
        double a = 0, rc = 1;
        for (std::size_t e = start[u]; e < start[u + 1]; ++e) {
          a += pivot_row[entry[e]] * count[e];
          rc -= price[entry[e]] * count[e];
        }
        rc_of[u] = rc;
        rc_at[u] = prices_version;
        scanned += start[u + 1] - start[u];
        weight[u] = std::max(weight[u], a * a * carry);
        heaviest = std::max(heaviest, weight[u]);
      }
      steps_ += scanned;
      for (std::size_t d = 0; d < swaps.size(); ++d) {
        if (swap_in_basis[d]) continue;
        const double a = row[swaps[d].second] - row[swaps[d].first];
        swap_weight[d] = std::max(swap_weight[d], a * a * carry);
        heaviest = std::max(heaviest, swap_weight[d]);
      }
      steps_ += swaps.size();
      const double leaving_weight = std::max(carry, 1.0);
      if (basic[leave] >= 0) load_weight[static_cast<std::size_t>(basic[leave])] = leaving_weight;
      if (basic[leave] < -1) swap_weight[static_cast<std::size_t>(-2 - basic[leave])] = leaving_weight;
      // Weights grown far from the reference (or past what a double holds)
      // start it over.
      if (!(std::max(heaviest, leaving_weight) <= kMostReferenceWeight)) {
        std::fill(load_weight.begin(), load_weight.end(), 1.0);
        std::fill(swap_weight.begin(), swap_weight.end(), 1.0);
      }
    };
    // Brings load `enter` (a number in usable) into the basis, whatever its
    // reduced cost, in place of the row the ratio test picks (a stand-in
    // first among ties). False when no row may leave.
    auto pivot = [&](std::int64_t enter) {
      double reduced = 0;
      std::fill(w.begin(), w.end(), 0.0);
      if (enter >= 0) {
        const Column& col = columns_[usable[static_cast<std::size_t>(enter)]];
        if (dense) {
          reduced = 1;
          for (const auto& [k, n] : col.kinds) reduced -= y[row_of[k]] * n;
          for (std::size_t i = 0; i < m; ++i) {
            const double* row = &inverse[i * m];
            for (const auto& [k, n] : col.kinds) w[i] += row[row_of[k]] * n;
          }
          steps_ += m * col.kinds.size();
        } else {
          reduced = 1;
          for (const auto& [k, n] : col.kinds) {
            reduced -= y[row_of[k]] * n;
            w[static_cast<std::size_t>(row_of[k])] = n;
          }
        }
      } else {
        const auto [larger, smaller] = swaps[static_cast<std::size_t>(-1 - enter)];
        if (dense) {
          reduced = y[larger] - y[smaller];
          for (std::size_t i = 0; i < m; ++i) {
            w[i] = inverse[i * m + smaller] - inverse[i * m + larger];
          }
          steps_ += 2 * m;
        } else {
          reduced = y[larger] - y[smaller];
          w[smaller] = 1;
          w[larger] = -1;
        }
      }
      if (!dense) solve(w);
      std::size_t leave = m;
      double ratio = std::numeric_limits<double>::infinity();
      for (std::size_t i = 0; i < m; ++i) {
        if (w[i] <= 1e-9) continue;
        const double t = std::max(0.0, x[i]) / w[i];
        if (t < ratio - 1e-12 ||
            (t <= ratio + 1e-12 && leave < m && basic[i] == -1 && basic[leave] != -1)) {
          ratio = t, leave = i;
        }
      }
      if (!dense) steps_ += m;
      if (leave == m) return false;
      if (dense) {
        // The inverse, the values and the prices.
        const double p = w[leave];
        double* pivot_row = &inverse[leave * m];
        for (std::size_t j = 0; j < m; ++j) pivot_row[j] /= p;
        for (std::size_t i = 0; i < m; ++i) {
          if (i == leave || w[i] == 0) continue;
          double* row = &inverse[i * m];
          const double f = w[i];
          for (std::size_t j = 0; j < m; ++j) row[j] -= f * pivot_row[j];
          x[i] -= ratio * f;
        }
        x[leave] = ratio;
        for (std::size_t j = 0; j < m; ++j) y[j] += reduced * pivot_row[j];
        ++prices_version;
        steps_ += m2;
      } else {
        // The leaving row of the inverse (before the change): it moves the
        // prices and gives the pivot row for the reference weights.
        std::fill(rho.begin(), rho.end(), 0.0);
        rho[leave] = 1;
        transposed(rho);
        if (!charged([&](std::uint64_t& s) { return basis.Replace(leave, w, s); })) return false;
        for (std::size_t i = 0; i < m; ++i) x[i] -= ratio * w[i];
        x[leave] = ratio;
        const double alpha = w[leave];
        const double step = reduced / alpha;
        for (std::size_t i = 0; i < m; ++i) y[i] += step * rho[i];
        ++prices_version;
        steps_ += m;
        prices_fresh = false;
        reweigh(enter, leave, alpha);
      }
      if (basic[leave] >= 0) in_basis[static_cast<std::size_t>(basic[leave])] = false;
      if (basic[leave] < -1) swap_in_basis[static_cast<std::size_t>(-2 - basic[leave])] = false;
      if (enter >= 0) {
        basic[leave] = enter;
        in_basis[static_cast<std::size_t>(enter)] = true;
      } else {
        basic[leave] = enter - 1;  // -2 - the swap's number
        swap_in_basis[static_cast<std::size_t>(-1 - enter)] = true;
      }
      ++pivots;
      if (dense) return true;
      // The factors anew once the replacements cost more than they spare.
      if (basis.updates() >= kFactorPivots || basis.update_entries() > kFactorEntries * m) {
        if (!factor()) {
          singular = true;
          return false;
        }
        x = rhs;
        solve(x);
        // The prices anew, so that the errors of their updates do not add up.
        for (std::size_t i = 0; i < m; ++i) y[i] = cost(i);
        transposed(y);
        ++prices_version;
        prices_fresh = true;
      }
      return true;
    };
    if (!dense && !factor()) return false;
    recompute();
    for (std::uint32_t c : hint) {
      if (steps_ > limit_) return false;
      if (c >= usable_of.size() || usable_of[c] < 0) continue;
      const auto u = static_cast<std::size_t>(usable_of[c]);
      if (!in_basis[u]) pivot(static_cast<std::int64_t>(u));
      if (singular) return false;
    }
    if (dense && pivots > 0) recompute();
    double stand_in_scale = 1;
    for (;;) {
      if (steps_ > limit_) return false;
      // The load of the least reduced cost, or with reference weights the
      // most by its reduced cost squared over its weight.
      std::int64_t enter = 0;  // a load's number in usable, or -1 - a swap's number
      bool entering = false;
      double least = -kPriceEps;
      double most = 0;
      {
        const std::size_t* start = entry_start.data();
        const std::uint32_t* entry = entry_row.data();
        const double* count = entry_count.data();
        const double* price = y.data();
        const char* basic_load = in_basis.data();
        const double* weight = load_weight.data();
        const std::size_t loads = usable.size();
        // Reduced costs the last pivot's scan left under these prices.
        const std::size_t known = reduced_at.size();
        const double* rc_of = reduced_cost.data();
        const std::uint64_t* rc_at = reduced_at.data();
        std::uint64_t scanned = 0;
        for (std::size_t u = 0; u < loads; ++u) {
          if (basic_load[u]) continue;
          double rc = 1;
          if (u < known && rc_at[u] == prices_version) {
            rc = rc_of[u];
          } else {
            for (std::size_t e = start[u]; e < start[u + 1]; ++e) rc -= price[entry[e]] * count[e];
          }
          scanned += start[u + 1] - start[u];
          if (dense) {
            if (rc < least) least = rc, enter = static_cast<std::int64_t>(u), entering = true;
          } else if (rc < -kPriceEps && rc * rc > most * weight[u]) {
            most = rc * rc / weight[u], enter = static_cast<std::int64_t>(u), entering = true;
          }
        }
        steps_ += scanned;
      }
      for (std::size_t d = 0; d < swaps.size(); ++d) {
        if (swap_in_basis[d]) continue;
        const double rc = y[swaps[d].first] - y[swaps[d].second];
        if (dense) {
          if (rc < least) least = rc, enter = -1 - static_cast<std::int64_t>(d), entering = true;
        } else if (rc < -kPriceEps && rc * rc > most * swap_weight[d]) {
          most = rc * rc / swap_weight[d], enter = -1 - static_cast<std::int64_t>(d), entering = true;
        }
      }
      steps_ += swaps.size();
      if (!entering && !prices_fresh) {
        // The updated prices may have drifted: the load to enter is decided
        // and the pricing done on prices computed anew.
        for (std::size_t i = 0; i < m; ++i) y[i] = cost(i);
        transposed(y);
        ++prices_version;
        prices_fresh = true;
        continue;
      }
      if (!entering) {
        std::vector<double> price(r.demand.size(), 0.0);
        for (std::size_t i = 0; i < m; ++i) price[kind_of_row[i]] = y[i];
        std::vector<std::uint32_t> added;
        double best = 0;
        const bool priced = Price(price, r, best, added);
        bool left = false;
        double value = 0;
        for (std::size_t i = 0; i < m; ++i) {
          left = left || (basic[i] == -1 && x[i] > kStandInLeft);
          if (basic[i] >= 0) value += x[i];
        }
        if (priced) {
          // Any cover takes at least (prices of the pieces) / (the largest
          // value of a load) loads.
          double demand_value = 0;
          for (std::size_t i = 0; i < m; ++i) demand_value += y[i] * r.demand[kind_of_row[i]];
          const double bound = best > 0 ? demand_value / best
                                        : (demand_value > kBoundEps
                                               ? std::numeric_limits<double>::infinity()
                                               : 0.0);
          if (bound > static_cast<double>(r.vehicles) + kBoundEps) {
            impossible_ = impossible_ || fixed_.empty();
            return false;
          }
          if (!left && value <= static_cast<double>(r.vehicles) + kBoundEps + allowance() &&
              bound > static_cast<double>(r.vehicles) - 1 + kBoundEps)
            break;
        }
        if (added.empty()) {
          if (!left || stand_in_scale >= kStandInCost) break;
          stand_in_scale *= kStandInRaise;
          for (double& c : stand_in) c *= kStandInRaise;
          recompute();
          continue;
        }
        for (std::uint32_t c : added) {
          use(c);
          in_basis.push_back(false);
          load_weight.push_back(1.0);
        }
        continue;
      }
      if (!pivot(enter)) return false;  // unbounded (costs are above 0), or singular
      if (!dense) continue;
      if (pivots % kInversePivots == 0 && !Refactor(basic, usable, row_of, swaps, m, inverse)) {
        return false;
      }
      if (pivots % kInverseRecomputePivots == 0) recompute();
    }
    taken.clear();
    double value = 0;
    for (std::size_t i = 0; i < m; ++i) {
      if (basic[i] < -1) continue;  // an exchange
      if (basic[i] < 0) {
        if (x[i] > kStandInLeft) return false;
        continue;
      }
      value += x[i];
      if (x[i] > kStandInLeft) taken.push_back({usable[static_cast<std::size_t>(basic[i])], x[i]});
    }
    return value <= static_cast<double>(r.vehicles) + kBoundEps + allowance();
  }

  // The inverse of the basis computed anew (Gauss-Jordan, partial pivoting).
  bool Refactor(const std::vector<std::int64_t>& basic, const std::vector<std::uint32_t>& usable,
                const std::vector<int>& row_of,
                const std::vector<std::pair<std::size_t, std::size_t>>& swaps, std::size_t m,
                std::vector<double>& inverse) {
    std::vector<double> b(m * m, 0);
    for (std::size_t j = 0; j < m; ++j) {
      if (basic[j] < -1) {
        const auto [larger, smaller] = swaps[static_cast<std::size_t>(-2 - basic[j])];
        b[smaller * m + j] = 1;
        b[larger * m + j] = -1;
        continue;
      }
      if (basic[j] < 0) {
        b[j * m + j] = 1;  // the stand-in of row j is e_j, in column j
        continue;
      }
      for (const auto& [k, n] : columns_[usable[static_cast<std::size_t>(basic[j])]].kinds)
        b[static_cast<std::size_t>(row_of[k]) * m + j] = n;
    }
    std::fill(inverse.begin(), inverse.end(), 0.0);
    for (std::size_t i = 0; i < m; ++i) inverse[i * m + i] = 1;
    steps_ += static_cast<std::uint64_t>(m) * m * m;
    for (std::size_t c = 0; c < m; ++c) {
      std::size_t p = c;
      for (std::size_t i = c + 1; i < m; ++i) {
        if (std::abs(b[i * m + c]) > std::abs(b[p * m + c])) p = i;
      }
      if (std::abs(b[p * m + c]) < 1e-12) return false;
      if (p != c) {
        for (std::size_t j = 0; j < m; ++j) {
          std::swap(b[p * m + j], b[c * m + j]);
          std::swap(inverse[p * m + j], inverse[c * m + j]);
        }
      }
      const double d = b[c * m + c];
      for (std::size_t j = 0; j < m; ++j) b[c * m + j] /= d, inverse[c * m + j] /= d;
      for (std::size_t i = 0; i < m; ++i) {
        const double f = b[i * m + c];
        if (i == c || f == 0) continue;
        for (std::size_t j = 0; j < m; ++j) {
          b[i * m + j] -= f * b[c * m + j];
          inverse[i * m + j] -= f * inverse[c * m + j];
        }
      }
    }
    // Row i of the inverse now belongs to basis position i: B^-1 B = I.
    return true;
  }

  // ---- the rounding ----------------------------------------------------------

  // Takes load c onto vehicles `times` times, fewer where the pieces left
  // or the vehicles run short (the relaxation may take loads that hold a
  // larger piece in place of a smaller one more often than the larger is
  // there); answers the times taken.
  std::uint32_t Fix(Residual& r, std::uint32_t c, std::uint32_t times) {
    times = static_cast<std::uint32_t>(std::min<std::size_t>(times, r.vehicles));
    for (const auto& [k, n] : columns_[c].kinds) times = std::min(times, r.demand[k] / n);
    for (std::uint32_t t = 0; t < times; ++t) {
      if (!columns_[c].waste.Within(r.spare - ExactSize{columns_[c].waste.weight * t,
                                                         columns_[c].waste.volume * t})) {
        times = t;
        break;
      }
    }
    for (const auto& [k, n] : columns_[c].kinds) r.demand[k] -= n * times;
    r.vehicles -= times;
    for (std::uint32_t t = 0; t < times; ++t) {
      r.spare -= columns_[c].waste;
      fixed_.push_back(c);
    }
    return times;
  }

  // Relaxes the residual, fixes the loads it takes whole, else the load it
  // takes most (or, with discrepancies left, the next ones), and goes on
  // with what is left.
  bool Dive(Residual r, int discrepancies, const std::vector<std::uint32_t>& hint) {
    if (std::all_of(r.demand.begin(), r.demand.end(), [](std::uint32_t d) { return d == 0; }))
      return true;
    if (r.vehicles == 0 || steps_ > limit_) return false;
    std::vector<std::pair<std::uint32_t, double>> taken;
    if (!Relax(r, hint, taken)) return false;
    std::vector<std::uint32_t> basis;
    for (const auto& [c, times] : taken) basis.push_back(c);
    const std::size_t mark = fixed_.size();
    std::stable_sort(taken.begin(), taken.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    Residual whole = r;
    for (const auto& [c, times] : taken) {
      if (times < 1 - kWholeEps) break;
      Fix(whole, c, static_cast<std::uint32_t>(std::floor(times + kWholeEps)));
    }
    if (fixed_.size() > mark) {
      if (Dive(whole, discrepancies, basis)) return true;
      fixed_.resize(mark);
      return false;
    }
    for (std::size_t i = 0; i < taken.size() && static_cast<int>(i) <= discrepancies; ++i) {
      Residual next = r;
      if (Fix(next, taken[i].first, 1) == 0) continue;
      if (Dive(next, discrepancies - static_cast<int>(i), basis)) return true;
      fixed_.resize(mark);
      if (steps_ > limit_) break;
    }
    return false;
  }

  PieceKinds kinds_;
  ExactSize room_;
  std::uint64_t limit_;
  std::uint64_t steps_ = 0;
  // The dimension of the table of sums (0 weight, 1 volume), 2 for both
  // (unit_ and table_room_ then count the weight); -1: none.
  int dimension_ = -1;
  std::int64_t unit_ = 1, table_room_ = 0;
  std::int64_t unit_volume_ = 1, table_volume_ = 0;
  std::vector<std::int64_t> kind_units_, kind_volume_units_;
  std::vector<double> value_;
  // Per item of the last table, a bit per sum: whether the item is taken in
  // the best load of that sum; taken_words_ words an item.
  std::vector<std::uint64_t> taken_;
  std::size_t taken_words_ = 0;
  std::vector<Column> columns_;
  std::unordered_set<std::uint64_t> keys_;
  std::vector<std::uint32_t> fixed_;
  bool impossible_ = false;
};

}  // namespace

bool ColumnsPriceLoads(const std::vector<ExactSize>& sizes, ExactSize room) {
  return !sizes.empty() && ColumnSearch(sizes, room, 0).prices();
}

ColumnOutcome CoverByColumns(const std::vector<ExactSize>& sizes, ExactSize room,
                             std::size_t vehicles, const std::vector<KindLoad>& known,
                             std::uint64_t step_limit, std::uint64_t& steps,
                             std::vector<std::uint32_t>& vehicle) {
  steps = 0;
  if (sizes.empty() || vehicles == 0) return ColumnOutcome::kUnknown;
  ColumnSearch search(sizes, room, step_limit);
  const ColumnOutcome out = search.Run(vehicles, known, vehicle);
  steps = search.steps();
  return out;
}

bool ColumnsPriceEveryLoad(const std::vector<ExactSize>& sizes, ExactSize room) {
  return !sizes.empty() && ColumnSearch(sizes, room, 0).PricesEveryLoad();
}

}  // namespace dg::planning
