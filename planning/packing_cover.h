// Packing onto a given number of equal vehicles by covering the pieces with
// whole loads: the end game of the exact-fill search (packing_fill.cpp).
//
// When the pieces leave almost no room to spare on the target number of
// vehicles, every vehicle of such a packing holds a load that wastes no
// more than that spare, and such loads are few enough to list. A packing on
// the target is then a set of disjoint listed loads that holds every piece:
// a maximum set packing, searched by local search over sets of disjoint
// loads, where swapping whole loads keeps each vehicle exactly filled while
// the pieces left out change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planning/packing_split.h"

namespace dg::planning {

// What CoverWithLoads may spend, in steps (loads looked at and nodes of the
// listing), and the seed of its draws.
struct CoverBudget {
  std::uint64_t list_steps = 0;  // for listing the loads
  std::size_t max_loads = 0;     // more loads than this: not tried
  std::uint64_t search_steps = 0;
  std::uint64_t seed = 0;
};

// Packs the pieces of `sizes` onto `vehicles` vehicles of room `room` each.
// Lists the loads (sets of pieces within the room) whose unused room fits in
// what the pieces spare on those vehicles in each dimension and that some
// packing on them can hold, then searches for loads that hold every piece
// once. True on success, with vehicle[i] in [0, vehicles) the vehicle of
// sizes[i]; false when the listing exceeds its budget, when such loads may
// differ by more than one piece (the search is then weak), or when the
// search finds no such packing within its steps. `steps` receives the steps
// spent. The same arguments give the same answer.
bool CoverWithLoads(const std::vector<ExactSize>& sizes, ExactSize room, std::size_t vehicles,
                    const CoverBudget& budget, std::uint64_t& steps,
                    std::vector<std::uint32_t>& vehicle);

// The pieces of `sizes` grouped by size: the pieces of one size are one
// kind, the kinds numbered in the order their sizes first appear.
struct PieceKinds {
  explicit PieceKinds(const std::vector<ExactSize>& sizes);
  std::vector<std::uint32_t> kind_of;  // per piece
  std::vector<ExactSize> size;         // per kind
  std::vector<std::size_t> count;      // pieces per kind
  ExactSize total;                     // of every piece
};

// The vehicle of each piece (of kind kind_of[i]) when vehicle v takes the
// pieces of loads[v], each a kind once per piece: the pieces of a kind go,
// the last first, onto the loads that hold it in order. REQUIRES: the loads
// hold every piece once.
std::vector<std::uint32_t> VehiclesOfPieces(const std::vector<std::uint32_t>& kind_of,
                                            std::size_t kinds,
                                            const std::vector<std::vector<std::uint32_t>>& loads);

}  // namespace dg::planning
