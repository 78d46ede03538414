// The loads the exact-fill search (packing_fill.cpp) has put on vehicles,
// kept for its end game: see LoadPool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "planning/packing_split.h"

namespace dg::planning {

// What LoadPool::Cover may spend, in steps: on its relaxation (a load's
// piece looked at counts one) and on its search (a load tried or a node).
struct PoolBudget {
  std::uint64_t relax_steps = 0;
  std::uint64_t search_steps = 0;
};

// Where the search stalls one vehicle above the bound on a fleet of equal
// vehicles, every vehicle of a packing on the bound wastes little room. On
// its way the search fills many such vehicles, each time within a packing
// that fails elsewhere, and their loads, kept here, often hold a packing on
// the bound between them: loads, no piece in two, that hold every piece.
// Cover looks for one by a depth-first search guided by a Lagrangian
// relaxation: loads a fractional cover would use come first, and a load
// whose reduced cost the relaxation's bound cannot afford is never tried.
class LoadPool {
 public:
  // The pieces of `sizes` onto `vehicles` vehicles of room `room`. Loads
  // that waste more room than the pieces spare on those vehicles are not
  // kept, nor any once `capacity` loads are.
  LoadPool(const std::vector<ExactSize>& sizes, ExactSize room, std::size_t vehicles,
           std::size_t capacity);

  // Keeps the load of `pieces` (indices into the sizes), known by `key`
  // (the same key for loads of the same sizes), unless it is kept already,
  // does not fit the room, wastes too much or the pool is full.
  void Offer(std::uint64_t key, const std::vector<std::uint32_t>& pieces);

  std::size_t size() const { return loads_.size(); }

  // The loads kept, by kinds of pieces (PieceKinds of the sizes) and count.
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> Loads() const {
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> out;
    out.reserve(loads_.size());
    for (const Load& l : loads_) out.push_back(l.kinds);
    return out;
  }

  // Looks for kept loads, each taken as often as the pieces allow, that
  // hold every piece once on no more than the vehicles. `steps` receives
  // the steps spent. True on success, with vehicle[i] the vehicle of piece
  // i, counted from 0. The same pool and budget give the same answer.
  bool Cover(const PoolBudget& budget, std::uint64_t& steps, std::vector<std::uint32_t>& vehicle);

 private:
  // A load: its kinds of pieces, each with its count, the room it leaves
  // unused and, in the search, its reduced cost where above zero.
  struct Load {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> kinds;
    ExactSize waste;
    double cost = 0;
  };

  bool Relax(std::uint64_t step_limit, std::vector<double>& reduced, double& bound);
  bool Fits(const Load& l);
  void Take(const Load& l, int sign);
  bool Search();

  // The pieces by kind (pieces of one size are one kind) and the vehicles.
  std::vector<std::uint32_t> kind_of_;  // per piece
  std::vector<ExactSize> kind_size_;
  std::vector<std::uint32_t> demand_;  // pieces per kind
  ExactSize room_, spare_;
  std::size_t vehicles_, capacity_;
  bool usable_ = false;  // the pieces fit the vehicles by their sum
  std::unordered_set<std::uint64_t> keys_;
  std::vector<Load> loads_;
  std::vector<std::uint32_t> scratch_;

  // The search, over the loads a cover on the vehicles may use, those of
  // the least reduced cost first.
  std::vector<const Load*> order_;
  std::vector<std::vector<std::uint32_t>> of_;  // per kind: positions in order_
  std::vector<std::uint32_t> left_;             // per kind: pieces not yet held
  std::vector<std::uint32_t> floor_;            // per kind: the least position it may still take
  ExactSize waste_left_;
  double cost_left_ = 0;  // the vehicles less the bound, less the costs taken
  std::size_t kinds_left_ = 0;
  std::vector<std::uint32_t> path_;
  std::uint64_t steps_ = 0, step_limit_ = 0;
};

}  // namespace dg::planning
