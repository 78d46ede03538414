// The earlier search of fewer vehicles, kept as the packing benchmark's
// reference beside the exact-fill search the server uses.
#pragma once

#include <cstdint>
#include <vector>

#include "planning/packing.h"

namespace dg::bench {

// Repeatedly closes the least loaded vehicle and searches for room for its
// pieces on the others (swaps of one piece against up to two, guided by
// weights that grow on the pieces left out; when no swap helps, the move or
// exchange between two vehicles that gathers the room left most), until the
// lower bound is reached or `effort` candidate moves were evaluated. Same
// contract as planning::ReduceVehicles; fits planning::PackOptions::given.
std::vector<std::size_t> GatherRoom(const std::vector<planning::PackPiece>& pieces,
                                    const std::vector<planning::PackVehicle>& vehicles,
                                    std::vector<std::size_t> assignment, std::uint64_t effort);

}  // namespace dg::bench
