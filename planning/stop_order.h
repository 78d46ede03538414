// The delivery order of one vehicle's stops: the order that makes the route
// from the start (the branch) through every stop to the end (the return
// point) shortest, where some stops may already have their place in the
// sequence.
//
// A pure function of its inputs, independent of storage and transport, so
// that it can be measured alone. Deterministic: a fixed seed and an effort
// counted in evaluated moves, never in time, so one input always gives one
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "planning/route_clock.h"

namespace dg::planning {

// One route to put in order. Node 0 is the start, nodes 1..stops are the
// stops, and node stops + 1 is the end when `has_end` (without an end the
// route ends at its last stop). Intentionally copyable.
struct StopOrderInput {
  std::size_t stops = 0;
  bool has_end = true;
  // Cost from node i to node j at [i * nodes + j], nodes = stops + 1 (+ 1
  // with an end). It need not be symmetric.
  std::vector<double> cost;
  // fixed[k]: the stop that must take place k (0-based) of the sequence, or
  // 0 for a free place. Empty: every place is free. REQUIRES: no stop is
  // fixed twice, and the size is 0 or `stops`.
  std::vector<std::size_t> fixed;
  // The clock, optional. Per node (node 0 the start; the end ignored): the
  // receiving windows and unloading minutes. Empty: no clock, the shortest
  // order. With a clock, the order keeps the windows and the working day
  // where it can, then is shortest.
  std::vector<StopClock> clock;
  VehicleDay day;
  // Travel minutes, indexed as the cost; empty: the cost is the travel time.
  std::vector<double> travel;
};

// How hard OrderStops works. Intentionally copyable.
struct StopOrderOptions {
  // Candidate moves the local search may evaluate.
  std::uint64_t effort = 3'000'000;
  // Up to this many free stops (at most 16) the order is found exactly
  // (dynamic programming over the subsets of free stops).
  std::size_t exact_up_to = 12;
};

// Intentionally copyable.
struct StopOrderResult {
  std::vector<std::size_t> sequence;  // the stop at each place
  double cost = 0;                    // start -> sequence -> end
  // With a clock: the times at each place of the sequence, the arrival at
  // the end (at the last stop's departure without an end), and the stops
  // unloaded after their windows closed (each with its minutes late, in the
  // sequence's order) and the minutes past the working day (its end or its
  // longest, whichever is more): what the fixed stops, or the windows
  // themselves, make impossible.
  std::vector<StopTimes> times;
  double back = 0;
  struct Late {
    std::size_t stop = 0;
    double minutes = 0;
  };
  std::vector<Late> late;
  double overrun = 0;
};

// The fixed stops keep their places; the free ones fill the free places in
// the order of least total cost. Exact up to `exact_up_to` free stops;
// beyond, an iterated local search (2-opt, moves of chains of up to three
// stops, exchanges; perturbed by exchanging two neighbouring chains, and
// going on from any result within 1 % of the best) from a nearest-neighbour
// start. The default effort takes about 20 ms for 100 stops on the
// benchmark machine.
StopOrderResult OrderStops(const StopOrderInput& input, const StopOrderOptions& options = {});

// The schedule of a sequence under the input's clock, into `result`'s
// times, back, late and overrun. REQUIRES: a clock.
void ScheduleStops(const StopOrderInput& input, StopOrderResult& result);

// start -> sequence -> end. REQUIRES: sequence holds stops 1..stops.
double SequenceCost(const StopOrderInput& input, const std::vector<std::size_t>& sequence);

// The reference the benchmark measures against: nearest neighbour from the
// start, then 2-opt until no exchange improves. Ignores `fixed`.
StopOrderResult NearestNeighbourTwoOpt(const StopOrderInput& input);

}  // namespace dg::planning
