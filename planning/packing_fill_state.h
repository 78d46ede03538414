// The partial packing the exact-fill search (packing_fill.cpp) works on:
// where each piece is, the pieces left out, and the shares by which the
// search compares them. The weights of the two dimensions in a share may
// change during the search (Weigh); every share is then worked out again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "planning/packing_fill_scan.h"
#include "planning/packing_split.h"

namespace dg::planning::fill {

using Index = std::uint32_t;
inline constexpr Index kNone = std::numeric_limits<Index>::max();

class PartialPacking {
 protected:
  using Size = ExactSize;

  // A size as a share of the largest room, weight and volume added as the
  // current weights weigh them (never below zero). Whatever fits a room has
  // no larger share than the room (the operations round monotonically).
  double ShareOf(const Size& s) const {
    auto part = [](std::int64_t x, std::int64_t of) {
      return of > 0 ? static_cast<double>(x) / static_cast<double>(of) : 0.0;
    };
    return weigh_.first * part(s.weight, largest_.weight) +
           weigh_.second * part(s.volume, largest_.volume);
  }

  // Sets the weights to `tilt` times the weight's factor of base_weigh_
  // against the volume's, scaled to add up to 2 as they do, and works out
  // the shares of the pieces, the rooms and the left-out set again.
  void Weigh(double tilt) {
    tilt_ = tilt;
    const double w = base_weigh_.first * tilt, v = base_weigh_.second;
    weigh_ = {2 * w / (w + v), 2 * v / (w + v)};
    for (std::size_t p = 0; p < size_.size(); ++p) share_[p] = ShareOf(size_[p]);
    for (std::size_t v = 0; v < room_.size(); ++v) room_share_[v] = ShareOf(room_[v]);
    out_share_ = 0;
    for (Index p : out_) out_share_ += share_[p];
  }

  void Put(Index piece, Index v) {
    where_[piece] = v;
    inside_[v].push_back(piece);
    load_[v] += size_[piece];
    content_key_[v] += kind_key_[kind_[piece]];
  }

  void Take(Index piece) {
    const Index v = where_[piece];
    auto& list = inside_[v];
    list.erase(std::find(list.begin(), list.end(), piece));
    load_[v] -= size_[piece];
    content_key_[v] -= kind_key_[kind_[piece]];
    where_[piece] = kNone;
  }

  void LeaveOut(Index piece) {
    Take(piece);
    out_.push_back(piece);
    out_size_ += size_[piece];
    out_share_ += share_[piece];
    out_key_ += kind_key_[kind_[piece]];
  }

  void TakeIn(Index piece, Index v) {
    out_.erase(std::find(out_.begin(), out_.end(), piece));
    out_size_ -= size_[piece];
    out_share_ -= share_[piece];
    out_key_ -= kind_key_[kind_[piece]];
    Put(piece, v);
  }

  Objective Current() const { return {out_share_, out_.size()}; }

  // Whether there are vehicles and every one has the same room.
  bool SameRooms() const {
    return !room_.empty() &&
           std::all_of(room_.begin(), room_.end(), [&](const Size& r) { return r == room_[0]; });
  }

  // When every vehicle has the same room, two pieces that fill it exactly in
  // both dimensions travel alone together in some packing with the fewest
  // vehicles (whatever shares a vehicle with one of them fits in the other's
  // place), so each such pair gets an empty vehicle of its own, marked in
  // `fixed`, and stays out of the search. Calls unpaired(p) for every other
  // piece, in order; answers the pairs set aside.
  template <typename F>
  std::size_t SetAsideExactPairs(std::vector<bool>& fixed, F unpaired) {
    if (!SameRooms()) return 0;
    const Size room = room_[0];
    std::map<Size, std::vector<Index>> by_size;
    for (Index p = static_cast<Index>(size_.size()); p-- > 0;) by_size[size_[p]].push_back(p);
    std::vector<bool> paired(size_.size(), false);
    std::size_t pairs = 0;
    for (Index i = 0; i < size_.size(); ++i) {
      if (paired[i]) continue;
      paired[i] = true;
      const auto it = by_size.find(room - size_[i]);
      Index j = kNone;
      if (it != by_size.end()) {
        while (!it->second.empty() && paired[it->second.back()]) it->second.pop_back();
        if (!it->second.empty()) j = it->second.back();
      }
      if (j == kNone || !PlacePair(i, j, fixed)) {
        unpaired(i);
        continue;
      }
      paired[j] = true;
      ++pairs;
    }
    return pairs;
  }

  // Moves pieces i and j onto an empty vehicle that stays fixed; false when
  // no vehicle is free.
  bool PlacePair(Index i, Index j, std::vector<bool>& fixed) {
    const Index from_i = where_[i], from_j = where_[j];
    Take(i);
    Take(j);
    Index target = kNone;
    for (Index v : {from_i, from_j}) {
      if (inside_[v].empty() && !fixed[v]) target = v;
    }
    for (Index v = 0; v < inside_.size() && target == kNone; ++v) {
      if (inside_[v].empty() && !fixed[v]) target = v;
    }
    if (target == kNone) {
      Put(i, from_i);
      Put(j, from_j);
      return false;
    }
    Put(i, target);
    Put(j, target);
    fixed[target] = true;
    return true;
  }

  double LoadShare(Index v) const {
    double s = 0;
    for (Index p : inside_[v]) s += share_[p];
    return s;
  }

  // Loads `packing` (a vehicle per piece) as the current state, nothing
  // left out.
  void Load(const std::vector<Index>& packing) {
    for (auto& list : inside_) list.clear();
    std::fill(load_.begin(), load_.end(), Size{});
    std::fill(content_key_.begin(), content_key_.end(), 0);
    for (Index p = 0; p < packing.size(); ++p) Put(p, packing[p]);
    out_.clear();
    out_size_ = {};
    out_share_ = 0;
    out_key_ = 0;
  }

  // The pieces and vehicles.
  std::vector<Size> size_;
  std::vector<double> share_;  // of the largest room, weight and volume added
  std::vector<Index> kind_;    // pieces of one size share a kind
  std::vector<std::uint64_t> kind_key_;
  std::vector<Size> room_;
  std::vector<double> room_share_;
  Size largest_;                                // the largest room in each dimension
  std::pair<double, double> weigh_{1, 1};       // of weight and volume in a share
  std::pair<double, double> base_weigh_{1, 1};  // as the search starts
  double tilt_ = 1;                             // of weigh_ against base_weigh_

  // The current packing; where_[p] is kNone for a piece left out.
  std::vector<Index> where_;
  std::vector<std::vector<Index>> inside_;
  std::vector<Size> load_;
  std::vector<std::uint64_t> content_key_;  // per vehicle: its pieces by their sizes
  std::vector<Index> out_;
  Size out_size_;
  double out_share_ = 0;
  std::uint64_t out_key_ = 0;  // identifies the left-out set by its sizes
};

}  // namespace dg::planning::fill
