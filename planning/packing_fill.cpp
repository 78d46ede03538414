// Exact-fill vehicle search: fewer vehicles through partial packings.
//
// From a complete packing on m vehicles the search looks for one on m - 1.
// It empties the three emptiest vehicles into a set of pieces left out and
// then works on the partial packing (every vehicle within its room, some
// pieces left out) until the pieces left out fit the two largest free
// vehicles. Two phases alternate: a tabu phase of swaps between one vehicle
// and the left-out set (the best allowed swap even when it makes things
// worse, so that the search leaves local optima; a vehicle may not take back
// a size it just gave away, nor give away a size it just took, and a size
// that just went into some vehicle stays loaded everywhere for a few swaps,
// so that equal pieces do not merely trade places), and a
// descent that repacks one vehicle together with the left-out set as tightly
// as a small exact subset search allows (and, when that stops helping, the
// emptiest vehicle together with each other one, which gathers free room
// that one vehicle alone cannot; before that, where one dimension must be
// filled almost to the unit on every vehicle, swaps between vehicles that
// fill one exactly in it and gather the spare room in another,
// GatherExactly). Both minimise the share of the
// fleet's room left out, then prefer more and smaller pieces left out, which
// are easier to place. Whenever the left-out set could fit the vehicles to
// be refilled, an exact search decides; when it fits, the packing is
// complete on one vehicle fewer and the next round starts from it.
//
// Sizes are counted in exact millionths of a kilogram and of a cubic metre,
// so that pieces filling a vehicle to the gram are recognised as such. The
// share weighs the dimension with less room to spare more (DimensionWeights),
// and while the left-out set is over the room to refill in one dimension
// alone, that dimension weighs more and more (Reweigh): the swaps and repacks
// then free it, where weights fixed at the start keep trading the short
// dimension for a few units of the ample one.
// When every vehicle has the same room and the effort ends one vehicle
// above the bound, covering the pieces with whole loads that waste no more
// than the fleet spares (packing_cover.h) is tried before the steps for the
// last vehicle are added: where the bound fills every vehicle almost
// exactly, such loads are few, and swapping whole loads reaches packings
// that moving single pieces does not. Where they are too many to list, the
// loads the search itself put on vehicles on its way, kept in a pool, often
// hold such a packing between them though no packing the search reached
// did (packing_pool.h); that pool is searched before and after the steps
// for the last vehicle are added.
// Effort counts candidate moves and search nodes, never time; the seed only
// varies the order in which vehicles are visited.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "planning/packing.h"
#include "planning/packing_columns.h"
#include "planning/packing_cover.h"
#include "planning/packing_fill_scan.h"
#include "planning/packing_fill_state.h"
#include "planning/packing_pool.h"
#include "planning/packing_split.h"

namespace dg::planning {
namespace {

using fill::Index;
using fill::kNone;
using Size = ExactSize;

using fill::kEps;
using fill::Mix;
using Pair = fill::OutPair;
using fill::Objective;
using fill::Random;
using fill::TabuTable;

class FillSearch : fill::PartialPacking {
 public:
  FillSearch(const std::vector<PackPiece>& pieces, const std::vector<PackVehicle>& vehicles,
             const std::vector<std::size_t>& assignment, const SearchBudget& budget)
      : effort_(budget.effort),
        last_vehicle_effort_(budget.effort / 100 * budget.last_vehicle_percent +
                             budget.effort % 100 * budget.last_vehicle_percent / 100),
        random_(budget.seed),
        seed_(budget.seed) {
    const std::size_t n = pieces.size(), k = vehicles.size();
    for (const PackPiece& p : pieces) {
      size_.push_back({Millionths(std::max(0.0, p.weight)), Millionths(std::max(0.0, p.volume))});
    }
    for (const PackVehicle& v : vehicles) {
      room_.push_back({Millionths(Round3(v.free_weight)), Millionths(Round3(v.free_volume))});
    }
    std::map<Size, Index> kinds;
    for (const Size& s : size_)
      kind_.push_back(kinds.emplace(s, static_cast<Index>(kinds.size())).first->second);
    for (std::size_t i = 0; i < kinds.size(); ++i) kind_key_.push_back(random_.Next() | 1);
    where_.assign(n, kNone);
    inside_.assign(k, {});
    content_key_.assign(k, 0);
    load_.assign(k, {});
    open_.assign(k, false);
    fixed_.assign(k, false);
    for (std::size_t i = 0; i < n; ++i)
      Put(static_cast<Index>(i), static_cast<Index>(assignment[i]));
    // The construction rounds to three decimals; a vehicle it filled a
    // fraction of a gram over its room in millionths keeps that load.
    for (std::size_t v = 0; v < k; ++v) {
      room_[v].weight = std::max(room_[v].weight, load_[v].weight);
      room_[v].volume = std::max(room_[v].volume, load_[v].volume);
    }
    for (const Size& r : room_) {
      largest_.weight = std::max(largest_.weight, r.weight);
      largest_.volume = std::max(largest_.volume, r.volume);
    }
    bound_ = VehicleLowerBound(pieces, vehicles);
    std::tie(weigh_.first, weigh_.second) = DimensionWeights(size_, room_, bound_);
    base_weigh_ = weigh_;
    reweigh_ =
        largest_.weight > 0 && largest_.volume > 0 &&
        std::any_of(size_.begin(), size_.end(), [](const Size& s) { return s.weight > 0; }) &&
        std::any_of(size_.begin(), size_.end(), [](const Size& s) { return s.volume > 0; });
    for (const Size& s : size_) share_.push_back(ShareOf(s));
    for (const Size& r : room_) {
      room_share_.push_back(ShareOf(r));
      room_key_.push_back(Mix(static_cast<std::uint64_t>(r.weight) * 31 + Mix(r.volume)));
    }
    best_ = where_;
    given_used_ = Used();
    FixExactPairs(pieces, vehicles);
    best_ = where_;
    if (SameRooms()) {
      priced_columns_ = ColumnsPriceLoads(size_, room_[0]);
      pool_.emplace(size_, room_[0], bound_, fill::kPoolLoads);
      for (Index v = 0; v < inside_.size(); ++v) Keep(v);
    }
    tight_ = TightDimension(size_, room_, bound_, fill::kTightSlack);
    one_dimension_ =
        std::all_of(size_.begin(), size_.end(), [](const Size& s) { return s.volume == 0; }) ||
        std::all_of(size_.begin(), size_.end(), [](const Size& s) { return s.weight == 0; });
  }

  std::vector<std::size_t> Run(std::vector<std::size_t> given) {
    std::size_t used = Used();
    for (bool extended = false;; extended = true) {
      while (used > bound_ && spent_ < effort_ && Attempt()) used = Used();
      if (used != bound_ + 1 || spent_ < effort_) break;
      const ColumnOutcome columns = CoverWithColumns(ColumnShare(extended));
      if (columns == ColumnOutcome::kFound) {
        used = bound_;
        break;
      }
      if (columns == ColumnOutcome::kImpossible) break;  // no packing on the bound
      if ((!extended && CoverWithLoads()) || CoverFromPool()) {
        used = bound_;
        break;
      }
      if (extended || !Extends()) break;
      effort_ += ExtensionSteps();
    }
    if (used >= given_used_) return given;
    return {best_.begin(), best_.end()};
  }

 private:
  struct Move {
    Index vehicle = kNone;
    Index out[2] = {kNone, kNone};  // pieces leaving the vehicle
    Index in[2] = {kNone, kNone};   // pieces entering it from the left-out set
    double gain = -std::numeric_limits<double>::infinity();  // left-out share removed
    int freed = 0;                                           // pieces leaving less pieces entering
  };

  // ---- state -------------------------------------------------------------

  // Keeps the left-out set as the best of the attempt when it is.
  void NoteProgress() {
    if (!Current().Better(best_out_)) return;
    best_out_ = Current();
    best_out_size_ = out_size_;
    improved_at_ = iteration_;
  }

  // Weighs the dimensions anew (PartialPacking::Weigh): the best left-out
  // set of the attempt is known by its size, and the repacks that found
  // nothing may find something under other shares, so they are forgotten.
  void Tilt(double tilt) {
    if (tilt == tilt_) return;
    Weigh(tilt);
    best_out_.share = ShareOf(best_out_size_);
    fruitless_.Forget();
  }

  // Where the left-out set is over the room to refill in one dimension only,
  // that dimension weighs a little more, so that the swaps and repacks start
  // to free it; within bounds of its weight at the start.
  void Reweigh() {
    if (!reweigh_) return;
    Size refill;
    for (Index v : refill_) refill += room_[v];
    const bool weight_over = out_size_.weight > refill.weight;
    const bool volume_over = out_size_.volume > refill.volume;
    if (weight_over == volume_over) return;
    Tilt(weight_over ? std::min(tilt_ * fill::kTiltStep, fill::kMaxTilt)
                     : std::max(tilt_ / fill::kTiltStep, 1 / fill::kMaxTilt));
  }

  // Vehicles in use in the best packing.
  std::size_t Used() const {
    std::vector<bool> used(inside_.size(), false);
    for (Index v : best_) used[v] = true;
    return static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
  }

  // ---- exact pairs -------------------------------------------------------

  // Exact pairs (PartialPacking::SetAsideExactPairs) take a vehicle each,
  // and the bound counts them.
  void FixExactPairs(const std::vector<PackPiece>& pieces,
                     const std::vector<PackVehicle>& vehicles) {
    std::vector<PackPiece> rest;
    const std::size_t pairs =
        SetAsideExactPairs(fixed_, [&](Index p) { rest.push_back(pieces[p]); });
    if (pairs > 0) bound_ = std::max(bound_, pairs + VehicleLowerBound(rest, vehicles));
  }

  // ---- the end game ----------------------------------------------------------

  // When every vehicle has the same room and the search stalls one vehicle
  // above the bound, the packing on the bound may have to fill every vehicle
  // almost exactly; loads that do are then few, and covering the pieces with
  // them (CoverWithLoads) finds such packings where moving pieces between
  // vehicles does not. It spends its own steps (a twelfth of the last
  // vehicle's effort to list the loads, half of it to search) and draws
  // nothing from the search's generator, so when it fails the search goes on
  // as it would have; it runs before that effort is added. True when it found
  // the packing: best_ is then that packing.
  bool CoverWithLoads() {
    if (!SameRooms()) return false;
    const CoverBudget budget{last_vehicle_effort_ / fill::kCoverListShare, fill::kCoverLoads,
                             last_vehicle_effort_ / fill::kCoverSearchShare, seed_};
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    return dg::planning::CoverWithLoads(size_, room_[0], bound_, budget, steps, vehicle) &&
           Adopt(vehicle);
  }

  // The steps of the relaxation over loads, in multiples of the last
  // vehicle's effort, before the last vehicle's steps are added and after.
  // Where the pieces have one dimension only, the relaxation prices every
  // load exactly and may prove the bound out of reach: it gets its steps at
  // once. On two dimensions it has only the loads the search kept, and
  // its rounding fails where they lack a few loads of a packing on the
  // bound: half-way, the pool has grown by what the last vehicle's steps
  // put on vehicles, and a second relaxation over it often holds what the
  // first lacked, where more steps on the first pool only wander.
  // Where the relaxation cannot price loads itself it rounds over the kept
  // loads alone, finds what it finds early and gets fewer steps, once.
  std::uint64_t ColumnShare(bool extended) const {
    if (one_dimension_) return extended ? 0 : fill::kColumnShare;
    if (!priced_columns_) return extended ? 0 : fill::kColumnKeptShare;
    return extended ? fill::kColumnAgainShare : fill::kColumnFirstShare;
  }

  // Whether the search gets the steps for the last vehicle once every end
  // game found no packing on the bound. On unequal rooms, always. On equal
  // rooms the relaxation decides. With one dimension, not where it priced
  // every load: its rounding searched the loads themselves, and the steps
  // after it reached the bound on none of the sets measured, while on the
  // hardest they were a sixth of the time. With two, only where it prices
  // loads itself: there the steps serve its second round (the loads they
  // keep); without, that round over the kept loads and the steps reached no
  // packing on the bound on the public instances at any seed 1 to 7.
  bool Extends() const {
    if (!SameRooms()) return true;
    return one_dimension_ ? !ColumnsPriceEveryLoad(size_, room_[0]) : priced_columns_;
  }

  // The steps added for the last vehicle. On equal vehicles and two
  // dimensions they mostly grow the pool for the second relaxation
  // (ColumnShare), which half of them does about as well.
  std::uint64_t ExtensionSteps() const {
    if (one_dimension_ || !SameRooms()) return last_vehicle_effort_;
    constexpr std::uint64_t percent = fill::kTwoDimensionExtensionPercent;
    return last_vehicle_effort_ / 100 * percent + last_vehicle_effort_ % 100 * percent / 100;
  }

  // The end game by the relaxation over loads (packing_columns.h), on its
  // own steps and without drawing from the search's generator, from the
  // loads kept for CoverFromPool. kFound: best_ is that packing;
  // kImpossible: no packing on the bound exists, the search may stop. It
  // spends `share` times the last vehicle's effort; kUnknown without steps.
  ColumnOutcome CoverWithColumns(std::uint64_t share) {
    if (share == 0) return ColumnOutcome::kUnknown;
    if (!SameRooms()) return ColumnOutcome::kUnknown;
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    const ColumnOutcome out =
        CoverByColumns(size_, room_[0], bound_, pool_ ? pool_->Loads() : std::vector<KindLoad>{},
                       last_vehicle_effort_ * share, steps, vehicle);
    if (out == ColumnOutcome::kFound && !Adopt(vehicle)) return ColumnOutcome::kUnknown;
    return out;
  }

  // Keeps the load of vehicle v for the other end game (CoverFromPool).
  void Keep(Index v) {
    if (pool_ && !inside_[v].empty()) pool_->Offer(Mix(content_key_[v]), inside_[v]);
  }

  // The other end game: the loads the search has put on vehicles on its way
  // (kept in Keep) may hold a packing on the bound between them, though no
  // single packing the search reached held it (LoadPool). Tried where the
  // search stalls one vehicle above the bound, before and after the steps
  // for the last vehicle are added, on its own steps (a quarter of the last
  // vehicle's effort for the relaxation, a twentieth for the search) and
  // without drawing from the search's generator. True when it found the
  // packing: best_ is then that packing.
  bool CoverFromPool() {
    if (!pool_) return false;
    const PoolBudget budget{last_vehicle_effort_ / fill::kPoolRelaxShare,
                            last_vehicle_effort_ / fill::kPoolSearchShare};
    std::uint64_t steps = 0;
    std::vector<std::uint32_t> vehicle;
    return pool_->Cover(budget, steps, vehicle) && Adopt(vehicle);
  }

  // Takes `vehicle` (a vehicle per piece, counted from 0) as the best
  // packing, on the vehicles of the best packing, the lowest first; false,
  // with nothing changed, when it needs more vehicles than that one.
  bool Adopt(const std::vector<std::uint32_t>& vehicle) {
    std::vector<Index> used;
    std::vector<bool> seen(inside_.size(), false);
    for (Index v : best_) seen[v] = true;
    for (Index v = 0; v < inside_.size(); ++v) {
      if (seen[v]) used.push_back(v);
    }
    if (vehicle.size() != best_.size() ||
        std::any_of(vehicle.begin(), vehicle.end(),
                    [&](std::uint32_t v) { return v >= used.size(); }))
      return false;
    for (std::size_t p = 0; p < best_.size(); ++p) best_[p] = used[vehicle[p]];
    return true;
  }

  // ---- one attempt at one vehicle fewer ------------------------------------

  // Starts from the best packing, empties the emptiest vehicles and searches
  // until the pieces left out fit the vehicles to refill (true, best_ is the
  // new packing) or the effort is spent (false).
  bool Attempt() {
    for (std::size_t round = 0; spent_ < effort_; ++round) {
      if (!Start(round)) return false;
      if (OutFits()) return Commit();
      while (spent_ < effort_ && iteration_ - improved_at_ < fill::kStall) {
        bool swapped = false, repacked = false;
        if (TabuPhase(swapped)) return Commit();
        const bool fits = Descent(repacked);
        if (repacked) {
          for (Index v : open_list_) Keep(v);
        }
        if (fits) return Commit();
        if (!swapped && !repacked) break;  // nothing left to try from here
        Reweigh();
      }
    }
    return false;
  }

  // Loads the best packing and leaves out the pieces of the emptiest
  // vehicles; on later rounds, of vehicles drawn among the emptier ones.
  // False when there are too few vehicles to try.
  bool Start(std::size_t round) {
    Load(best_);
    std::vector<Index> open;
    for (Index v = 0; v < inside_.size(); ++v) {
      open_[v] = !inside_[v].empty() && !fixed_[v];
      if (open_[v]) open.push_back(v);
    }
    if (open.size() < 2) return false;
    const std::size_t refill = std::min<std::size_t>(2, open.size() - 1);
    std::vector<double> fill(inside_.size());
    for (Index v : open) fill[v] = LoadShare(v);
    std::stable_sort(open.begin(), open.end(), [&](Index a, Index b) { return fill[a] < fill[b]; });
    if (round > 0) {
      const std::size_t pool = std::min(open.size(), fill::kPool * (refill + 1));
      for (std::size_t e = 0; e <= refill; ++e)
        std::swap(open[e], open[e + random_.Below(pool - e)]);
    }
    for (std::size_t e = 0; e <= refill; ++e) {
      const Index v = open[e];
      open_[v] = false;
      while (!inside_[v].empty()) LeaveOut(inside_[v].back());
    }
    open.erase(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(refill + 1));
    std::sort(open.begin(), open.end());
    open_list_ = std::move(open);

    // The vehicles to refill: the largest of those not in use.
    std::vector<Index> free;
    for (Index v = 0; v < inside_.size(); ++v) {
      if (!open_[v] && !fixed_[v]) free.push_back(v);
    }
    std::stable_sort(free.begin(), free.end(),
                     [&](Index a, Index b) { return room_share_[a] > room_share_[b]; });
    free.resize(refill);
    refill_ = std::move(free);

    tabu_.Forget();
    iteration_ = improved_at_ = 0;
    held_until_.assign(kind_key_.size(), 0);
    failed_checks_.clear();
    best_out_ = Current();
    best_out_size_ = out_size_;
    return true;
  }

  // Writes the current packing, with the left-out pieces on the vehicles to
  // refill as the last check split them, as the best one.
  bool Commit() {
    for (std::size_t i = 0; i < out_.size(); ++i) where_[out_[i]] = refill_[split_[i]];
    best_ = where_;
    return true;
  }

  // ---- exact check of the left-out set ------------------------------------

  // Whether the left-out pieces fit the vehicles to refill; on success
  // split_[i] is the refill vehicle of out_[i].
  bool OutFits() {
    split_.assign(out_.size(), 0);
    if (refill_.size() == 1) return out_size_.Within(room_[refill_[0]]);
    const Size a = room_[refill_[0]], b = room_[refill_[1]];
    if (!out_size_.Within(a + b)) return false;
    if (failed_checks_.count(out_key_)) return false;
    sizes_.clear();
    for (Index p : out_) sizes_.push_back(size_[p]);
    std::uint64_t nodes = 0;
    const bool fits = SplitInTwo(sizes_, a, b, fill::kCheckNodes, nodes, split_);
    spent_ += fill::NodeSteps(nodes);
    if (!fits) {
      if (failed_checks_.size() >= fill::kFailedChecks) failed_checks_.clear();
      failed_checks_.insert(out_key_);
      return false;
    }
    return true;
  }

  // ---- tabu phase -----------------------------------------------------------

  TabuTable::Entry& Tabu(Index v, Index kind) { return tabu_.At(v, kind, size_.size()); }

  bool IsTabu(Index v, Index piece) { return Tabu(v, kind_[piece]).until > iteration_; }

  // Whether the piece's size went into some vehicle a few swaps ago.
  bool IsHeld(Index piece) const { return held_until_[kind_[piece]] > iteration_; }

  // A size that moved in or out of vehicle v stays where it is for a while,
  // longer the more often it moved there.
  void MarkTabu(Index v, Index piece) {
    TabuTable::Entry& e = Tabu(v, kind_[piece]);
    ++e.times;
    e.until = iteration_ + fill::kTenure + random_.Below(fill::kTenure) + e.times / 2;
  }

  void ListOut() {
    spent_ += fill::ListOut(out_, share_, size_, fill::kMaxPairedOut, singles_, pairs_);
  }

  // Offers the best swaps of `gone` (the pieces leaving v, of share
  // `gone_share`, which leave `room` free) against one or two left-out
  // pieces.
  void Consider(Index v, const Index (&gone)[2], Size room, double gone_share, bool gone_tabu,
                Move& best) {
    const int leaving = (gone[0] != kNone) + (gone[1] != kNone);
    spent_ += fill::kSwapSteps;
    // Taking in the very sizes that leave changes nothing.
    auto same = [&](Index a, Index b) {
      if (b == kNone) return leaving == 1 && kind_[a] == kind_[gone[0]];
      if (leaving != 2) return false;
      const Index x = kind_[gone[0]], y = kind_[gone[1]];
      return (kind_[a] == x && kind_[b] == y) || (kind_[a] == y && kind_[b] == x);
    };
    // The left-out pieces come largest share first, so that each scan stops
    // at the first swap that fits. A tabu swap is allowed when it leaves out
    // less than ever in this attempt.
    auto offer = [&](Index a, Index b, double gain) {
      const int freed = leaving - 1 - (b != kNone);
      if (gain < best.gain - kEps || (gain <= best.gain + kEps && freed <= best.freed)) return;
      best = {v, {gone[0], gone[1]}, {a, b}, gain, freed};
    };
    auto allowed = [&](bool tabu, double gain) {
      return !tabu || Objective{out_share_ - gain, out_.size()}.Better(best_out_);
    };
    // Both lists come largest share first. Nothing of a larger share than the
    // room fits it: a galloping search passes over those entries, and a scan
    // stops at the first that fits and is allowed.
    const double limit = ShareOf(room) + kEps;
    auto first_within = [&](const auto& list, auto share_of) {
      if (list.empty() || share_of(list[0]) - gone_share < best.gain - kEps) return list.size();
      return fill::FirstWithin(list, share_of, limit, spent_);
    };
    const auto single_share = [&](Index a) { return share_[a]; };
    for (std::size_t i = first_within(singles_, single_share); i < singles_.size(); ++i) {
      const Index a = singles_[i];
      const double gain = share_[a] - gone_share;
      if (gain < best.gain - kEps) break;
      ++spent_;
      if (!size_[a].Within(room) || same(a, kNone)) continue;
      if (!allowed(gone_tabu || IsTabu(v, a), gain)) continue;
      offer(a, kNone, gain);
      break;
    }
    if (leaving == 0) return;
    const auto pair_share = [](const Pair& p) { return p.share; };
    for (std::size_t i = first_within(pairs_, pair_share); i < pairs_.size(); ++i) {
      const Pair& p = pairs_[i];
      const double gain = p.share - gone_share;
      if (gain < best.gain - kEps) break;
      ++spent_;
      if (!p.size.Within(room) || same(p.a, p.b)) continue;
      if (!allowed(gone_tabu || IsTabu(v, p.a) || IsTabu(v, p.b), gain)) continue;
      offer(p.a, p.b, gain);
      break;
    }
  }

  // The best allowed swap between one vehicle and the left-out set.
  Move BestSwap() {
    ListOut();
    Move best;
    // No swap gains more than the largest left-out share less what leaves:
    // sets of pieces that large cannot beat the best swap found so far and
    // are passed over at the cost of a step, without their tabu lookups.
    const double top = !pairs_.empty()     ? pairs_[0].share  // the two largest singles
                       : !singles_.empty() ? share_[singles_[0]]
                                           : -std::numeric_limits<double>::infinity();
    auto hopeless = [&](double gone_share) {
      return top - gone_share < best.gain - kEps && ++spent_ > 0;
    };
    const std::size_t start = random_.Below(open_list_.size());
    for (std::size_t n = 0; n < open_list_.size(); ++n) {
      const Index v = open_list_[(start + n) % open_list_.size()];
      const Size free = room_[v] - load_[v];
      const auto& list = inside_[v];
      Consider(v, {kNone, kNone}, free, 0, false, best);
      for (std::size_t i = 0; i < list.size(); ++i) {
        const Index x = list[i];
        if (hopeless(share_[x])) continue;  // and so with any second piece
        const bool x_tabu = IsTabu(v, x) || IsHeld(x);
        Consider(v, {x, kNone}, free + size_[x], share_[x], x_tabu, best);
        for (std::size_t j = i + 1; j < list.size(); ++j) {
          const Index y = list[j];
          const double gone_share = share_[x] + share_[y];
          if (hopeless(gone_share)) continue;
          Consider(v, {x, y}, free + size_[x] + size_[y], gone_share,
                   x_tabu || IsTabu(v, y) || IsHeld(y), best);
        }
      }
    }
    return best;
  }

  void Apply(const Move& m) {
    for (Index p : m.out) {
      if (p == kNone) continue;
      LeaveOut(p);
      MarkTabu(m.vehicle, p);
    }
    for (Index p : m.in) {
      if (p == kNone) continue;
      TakeIn(p, m.vehicle);
      MarkTabu(m.vehicle, p);
      held_until_[kind_[p]] = iteration_ + fill::kHold + random_.Below(fill::kHold);
    }
    Keep(m.vehicle);
  }

  // Some tabu swaps; true when the left-out set came to fit. `moved` tells
  // whether any swap was allowed.
  bool TabuPhase(bool& moved) {
    moved = false;
    for (std::size_t step = 0; step < fill::kTabuSteps && spent_ < effort_; ++step) {
      const Move m = BestSwap();
      if (m.vehicle == kNone) return false;
      moved = true;
      Apply(m);
      ++iteration_;
      NoteProgress();
      if (OutFits()) return true;
    }
    return false;
  }

  // ---- descent ----------------------------------------------------------------

  // Repacks the vehicles one by one with the left-out set while that leaves
  // less out; true when the left-out set came to fit. `moved` tells whether
  // any vehicle changed.
  bool Descent(bool& moved) {
    moved = false;
    std::size_t gathered = 0;
    for (bool improved = true; improved && spent_ < effort_;) {
      improved = false;
      const std::size_t start = random_.Below(open_list_.size());
      for (std::size_t n = 0; n < open_list_.size() && spent_ < effort_; ++n) {
        if (!Repack(open_list_[(start + n) % open_list_.size()])) continue;
        improved = moved = true;
        NoteProgress();
        if (OutFits()) return true;
      }
      // Once no vehicle alone takes in more, gathering the tight room may
      // let one; only then the costlier repack of two vehicles.
      if (!improved && gathered < fill::kGatherPasses &&
          GatherExactly({size_, room_, load_, inside_, where_}, open_list_, tight_, spent_)) {
        // The gathering moved pieces behind Put and Take: the keys of the
        // vehicles' contents, which the repacks passed over are known by,
        // are counted again.
        for (Index v : open_list_) {
          content_key_[v] = 0;
          for (Index p : inside_[v]) content_key_[v] += kind_key_[kind_[p]];
        }
        ++gathered;
        improved = moved = true;
        continue;
      }
      if (!improved && RepackPairs()) {
        improved = moved = true;
        NoteProgress();
        if (OutFits()) return true;
      }
    }
    return false;
  }

  // Repacks the emptiest vehicle together with each other one and the
  // left-out set until one such pair takes in more; false when none does.
  // Two vehicles at once can gather room that one alone cannot.
  bool RepackPairs() {
    if (open_list_.size() < 2) return false;
    std::vector<Index> order = open_list_;
    std::vector<double> fill(inside_.size());
    for (Index v : order) fill[v] = LoadShare(v) - room_share_[v];
    std::stable_sort(order.begin(), order.end(),
                     [&](Index a, Index b) { return fill[a] < fill[b]; });
    for (std::size_t x = 0; x < std::min<std::size_t>(fill::kPairs, order.size()); ++x) {
      const std::size_t start = random_.Below(order.size());
      for (std::size_t n = 0; n < order.size() && spent_ < effort_; ++n) {
        const Index a = order[x], b = order[(start + n) % order.size()];
        if (a != b && RepackTwo(a, b)) return true;
      }
    }
    return false;
  }

  // Fills vehicles a and b together from their pieces and the left-out ones
  // as tightly as the node limit allows; false when nothing better is found.
  bool RepackTwo(Index a, Index b) {
    const std::uint64_t key = fill::FruitlessRepacks::Key(
        content_key_[a] + content_key_[b], out_key_, Mix(room_key_[a]) + room_key_[b]);
    if (++spent_, fruitless_.Seen(key)) return false;
    cand_ = inside_[a];
    cand_.insert(cand_.end(), inside_[b].begin(), inside_[b].end());
    if (!Search(2, room_[a], room_[b], LoadShare(a) + LoadShare(b), 0)) {
      fruitless_.Remember(key);
      return false;
    }
    while (!inside_[a].empty()) LeaveOut(inside_[a].back());
    while (!inside_[b].empty()) LeaveOut(inside_[b].back());
    for (std::size_t i = 0; i < cand_.size(); ++i) {
      if (side_[i] < 2) TakeIn(cand_[i], side_[i] == 0 ? a : b);
    }
    return true;
  }

  // Fills vehicle v with the subset of its pieces and the left-out ones of
  // the largest share (then the fewest pieces) that fits; false when its own
  // pieces are already that subset.
  bool Repack(Index v) {
    const std::uint64_t key = fill::FruitlessRepacks::Key(content_key_[v], out_key_, room_key_[v]);
    if (++spent_, fruitless_.Seen(key)) return false;
    cand_ = inside_[v];
    if (!Search(1, room_[v], {}, LoadShare(v), inside_[v].size())) {
      fruitless_.Remember(key);
      return false;
    }
    while (!inside_[v].empty()) LeaveOut(inside_[v].back());
    for (std::size_t i = 0; i < cand_.size(); ++i) {
      if (side_[i] == 0) TakeIn(cand_[i], v);
    }
    return true;
  }

  // Adds the left-out pieces to cand_, sorts it for the subset searches and
  // runs the one for `vehicles` vehicles; side_ answers per candidate.
  bool Search(int vehicles, Size first, Size second, double share, std::size_t count) {
    cand_.insert(cand_.end(), out_.begin(), out_.end());
    std::sort(cand_.begin(), cand_.end(), [&](Index a, Index b) {
      if (share_[a] != share_[b]) return share_[a] > share_[b];
      return kind_[a] != kind_[b] ? kind_[a] < kind_[b] : a < b;
    });
    offered_.clear();
    for (Index p : cand_) offered_.push_back({size_[p], share_[p], kind_[p]});
    std::uint64_t nodes = 0;
    const bool found =
        vehicles == 1 ? FillOne(offered_, first, share, count, fill::kRepackNodes, nodes, side_)
                      : FillTwo(offered_, first, second, share, fill::kRepackNodes, nodes, side_);
    spent_ += fill::NodeSteps(nodes);
    return found;
  }

  // The fleet and its bound.
  bool reweigh_ = false;         // both dimensions have pieces and rooms
  bool one_dimension_ = false;   // every piece sized in the same one dimension
  bool priced_columns_ = false;  // the relaxation over loads prices them itself
  std::vector<bool> fixed_;      // holds an exact pair
  std::size_t bound_ = 0;
  int tight_ = -1;  // that every vehicle fills almost to the unit: 0 weight, 1 volume, -1 none
  std::size_t given_used_ = 0;

  // The effort.
  std::uint64_t effort_;
  const std::uint64_t last_vehicle_effort_;
  std::uint64_t spent_ = 0;
  Random random_;
  const std::uint64_t seed_;

  std::vector<bool> open_;
  std::vector<Index> open_list_;
  std::vector<Index> refill_;
  std::vector<Size> sizes_;  // scratch of the exact check
  std::vector<int> split_;
  std::vector<Index> best_;       // the best complete packing
  std::optional<LoadPool> pool_;  // the loads met, for CoverFromPool
  Objective best_out_;
  Size best_out_size_;
  std::unordered_set<std::uint64_t> failed_checks_;
  fill::FruitlessRepacks fruitless_;
  std::vector<std::uint64_t> room_key_;

  // Tabu memory.
  TabuTable tabu_;
  std::vector<std::uint64_t> held_until_;  // per kind: the swap it may leave again
  std::uint64_t iteration_ = 0;
  std::uint64_t improved_at_ = 0;  // iteration of the last better left-out set
  std::vector<Index> singles_;
  std::vector<Pair> pairs_;

  // Repack scratch.
  std::vector<Index> cand_;
  std::vector<SubsetPiece> offered_;
  std::vector<int> side_;  // per candidate: 0 or 1 for a vehicle, 2 left out
};

}  // namespace

std::vector<std::size_t> ReduceVehicles(const std::vector<PackPiece>& pieces,
                                        const std::vector<PackVehicle>& vehicles,
                                        std::vector<std::size_t> assignment,
                                        const SearchBudget& budget) {
  if (pieces.empty()) return assignment;
  FillSearch search(pieces, vehicles, assignment, budget);
  return search.Run(std::move(assignment));
}

}  // namespace dg::planning
