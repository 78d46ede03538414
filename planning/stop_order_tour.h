// The stop order's search for a route whose costs are the same both ways and
// whose stops are all free: the route start -> stops -> end is held as a
// closed tour in which the edge end - start is kept, so that reversing a
// stretch of the tour costs nothing beyond its two ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dg::planning {

// Chains of 2-opt exchanges from each node (a few levels deep, each one
// reversing the shorter side of the tour) and moves of stretches of one to
// three stops, over each node's candidates (its nearest nodes and its
// nearest in a minimum spanning tree's sense), with a queue of the nodes
// whose edges changed; then kicks that exchange two neighbouring stretches
// of the tour, each kept when the tour is no longer than before and undone
// otherwise, and a wide kick kept whatever it costs when the best tour has
// not got shorter for a long while. The best tour is the answer.
//
// `cost` holds nodes x nodes costs, row-major, cost[i][j] == cost[j][i];
// node 0 is the start and node nodes - 1 the end. `effort` counts the
// candidate moves evaluated and the kicks; `seed` draws the kicks. Returns
// the stops (1..nodes-2) in order. REQUIRES: nodes >= 4.
std::vector<std::size_t> OrderTour(const std::vector<double>& cost, std::size_t nodes,
                                   std::uint64_t effort, std::uint64_t seed);

// True when cost[i][j] and cost[j][i] differ by no more than a millionth of
// their size for every pair.
bool IsSymmetric(const std::vector<double>& cost, std::size_t nodes);

}  // namespace dg::planning
