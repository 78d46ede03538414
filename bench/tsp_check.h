// The stop order on a TSPLIB instance: the route it is given, and the check
// of its answer by the benchmark's own code (the instance's distances, not
// the solver's cost).
#pragma once

#include <string>
#include <vector>

#include "bench/tsplib.h"
#include "planning/stop_order.h"

namespace dg::bench {

// Every city a stop, the first city both the start and the end (nodes: the
// cities, then the first city again).
inline planning::StopOrderInput TourInput(const TsplibInstance& inst) {
  const std::size_t n = inst.dimension;
  planning::StopOrderInput input;
  input.stops = n - 1;
  input.has_end = true;
  input.cost.assign((n + 1) * (n + 1), 0);
  for (std::size_t i = 0; i <= n; ++i) {
    for (std::size_t j = 0; j <= n; ++j) {
      input.cost[i * (n + 1) + j] = inst.Distance(i == n ? 0 : i, j == n ? 0 : j);
    }
  }
  return input;
}

// The length of the closed tour city 0 -> the stops in order -> city 0, from
// the instance's own distances, after checking that every city 1..n-1 is
// visited exactly once. Returns a negative length, and says why in `error`,
// for an answer that is not such a tour.
inline double TourLength(const TsplibInstance& inst, const std::vector<std::size_t>& sequence,
                         std::string& error) {
  const std::size_t n = inst.dimension;
  std::vector<char> seen(n, 0);
  for (std::size_t s : sequence) {
    if (s < 1 || s >= n || seen[s]) {
      error = "stop " + std::to_string(s) + " out of range or repeated";
      return -1;
    }
    seen[s] = 1;
  }
  if (sequence.size() + 1 != n) {
    error = std::to_string(sequence.size()) + " stops ordered of " + std::to_string(n - 1);
    return -1;
  }
  double length = 0;
  std::size_t previous = 0;
  for (std::size_t s : sequence) {
    length += inst.Distance(previous, s);
    previous = s;
  }
  return length + inst.Distance(previous, 0);
}

}  // namespace dg::bench
