// Packing onto a given number of equal vehicles by a linear relaxation over
// loads and its rounding: an end game of the exact-fill search
// (packing_fill.cpp).
//
// Every vehicle of a packing on the target wastes no more room than the
// pieces spare on the target, so the packing is a choice of such loads, no
// piece in two, that holds every piece. The relaxation lets a load be taken
// a fraction of a time; it is solved over a growing set of loads (a small
// simplex over the loads known so far, then the load the prices of the
// pieces value most is added, found exactly by a table of sums where the
// pieces have one dimension only). Its value proves when the target cannot
// be reached; otherwise loads the relaxation takes (nearly) whole are fixed
// on vehicles and the rest is relaxed again, with a few other choices
// tried where that fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "planning/packing_split.h"

namespace dg::planning {

// A load by its kinds of pieces (PieceKinds), each with its count.
using KindLoad = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

enum class ColumnOutcome {
  kFound,       // a packing on the target
  kImpossible,  // the relaxation proves the target out of reach
  kUnknown,     // neither within the steps
};

// Packs the pieces of `sizes` onto `vehicles` vehicles of room `room` each,
// starting from the loads of `known` (kinds as PieceKinds numbers them; a
// load that does not fit is ignored). Spends at most about `step_limit`
// steps (a cell of the table of sums, an entry of the simplex's factors
// or of their updates used, a piece of a load looked at); `steps` receives the steps spent.
// On kFound, vehicle[i] in [0, vehicles) is the vehicle of sizes[i]. The
// same arguments give the same answer.
ColumnOutcome CoverByColumns(const std::vector<ExactSize>& sizes, ExactSize room,
                             std::size_t vehicles, const std::vector<KindLoad>& known,
                             std::uint64_t step_limit, std::uint64_t& steps,
                             std::vector<std::uint32_t>& vehicle);

// Whether the relaxation finds the loads the prices value most itself (a
// table of sums over the pieces' sizes); without, it has only the loads it
// is given, and proves no target out of reach.
bool ColumnsPriceLoads(const std::vector<ExactSize>& sizes, ExactSize room);

// True where CoverByColumns finds the loads it lacks itself, every one the
// prices may value (the pieces have one dimension, the room counts few enough
// units of their sizes, the kinds are within what it relaxes): a rounding that
// fails there has weighed every load, not only the known ones.
bool ColumnsPriceEveryLoad(const std::vector<ExactSize>& sizes, ExactSize room);

}  // namespace dg::planning
