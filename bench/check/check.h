// The benchmarks' independent checker: it re-reads an instance file and
// recomputes everything about an answer with its own code (its own readers,
// its own distance rules), apart from the planners and from the benchmarks'
// own readers, so that a row of bench/results.md never rests on a figure the
// answering code computed about itself.
//
// Every check answers a Verdict: ok, or refused with the first reason found;
// beside it the recomputed figure (vehicles or bins used, tour or route
// length) whenever the answer could be measured at all. A check never
// throws: an unreadable or malformed instance file is a refusal that names
// the file.
//
// Numbering (0-based unless said otherwise):
// - packing: the items of an instance in file order; a two-dimensional item
//   type with a demand of d is d consecutive items. Bins are any numbers the
//   caller chooses; the count is the number of distinct bins that hold an
//   item.
// - TSP: the nodes in file order (node id 1 is node 0); a tour lists every
//   node once and closes back to its first.
// - CVRP: customers 1..n are the non-depot nodes in file order (with the
//   depot on node 1, customer c is node id c + 1, as the instances' .sol
//   files write them); the depot is not written in a route.
// - VRPTW (Solomon's text format): customers by their CUST NO. (1..n); the
//   depot (0) is not written in a route.
// Routes that are empty are ignored (not counted as vehicles).
//
// Thread safety: the functions share no state; call them from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace dg::bench::check {

// The outcome of one check. Intentionally copyable.
struct Verdict {
  bool ok = false;
  std::string reason;        // empty when ok
  double figure = 0;         // recomputed: bins used, or tour/route length
  std::size_t vehicles = 0;  // bins or non-empty routes used

  explicit operator bool() const { return ok; }
  // "ok 784 (5 vehicles)" or "refused: customer 7 twice (routes 2 and 4)".
  std::string Describe() const;
};

// ---- Packing.

// One item put into one bin. quantity must be 1: an item is never split.
struct Placed {
  std::size_t item = 0;
  std::size_t bin = 0;
  double quantity = 1;
};

// Two-dimensional vector packing (".vbp": 2, the capacities W V, the number
// of item types, then "w v demand" per type). Refused unless every item is
// in exactly one bin, whole, and no bin exceeds either capacity (sizes are
// integers and compared exactly).
Verdict CheckVectorPacking(const std::string& instance_file, const std::vector<Placed>& answer);

// One-dimensional bin packing (n, capacity, then n weights). The same rules.
Verdict CheckBinPacking(const std::string& instance_file, const std::vector<Placed>& answer);

// A day's packing on a mixed fleet, in the checker's own text format (the
// benchmarks write it from a generated day): "vehicles N", then N lines
// "weight volume" (each vehicle's room), "items M", then M lines
// "unit_weight unit_volume quantity order". Items are numbered 0..M-1 and
// vehicles 0..N-1 in that order; Placed::bin is the vehicle and quantities
// may be split across vehicles. Refused unless every item's quantities add
// up to its quantity (within a millionth of it), every vehicle exists and no
// vehicle carries more than its room in either dimension (loads compared to
// the gram and the litre: within 0.0005). The figure is the vehicles used.
Verdict CheckFleetPacking(const std::string& instance_file, const std::vector<Placed>& answer);

// ---- Tours.

// Symmetric TSP in the TSPLIB format (EUC_2D, CEIL_2D, ATT, GEO, EXPLICIT in
// FULL_MATRIX, UPPER_ROW, LOWER_ROW, UPPER_DIAG_ROW, LOWER_DIAG_ROW). The
// tour must name every node exactly once; its closed length is recomputed
// with the instance's own rule. When `claimed` is given, a length that
// differs from the recomputed one is refused (the answer misreports itself).
// An instance with fixed edges is refused unless the tour uses every one.
Verdict CheckTour(const std::string& instance_file, const std::vector<std::size_t>& tour,
                  std::optional<double> claimed = std::nullopt);

// ---- Routing with capacity.

// How many non-empty routes an answer may use.
struct FleetRule {
  enum class Kind { kFree, kExactly, kAtMost };
  Kind kind = Kind::kFree;
  std::size_t count = 0;  // for kExactly and kAtMost

  static FleetRule Free() { return {}; }
  static FleetRule Exactly(std::size_t k) { return {Kind::kExactly, k}; }
  static FleetRule AtMost(std::size_t k) { return {Kind::kAtMost, k}; }
};

// CVRP in the TSPLIB/VRPLIB format (CAPACITY, DEMAND_SECTION, DEPOT_SECTION,
// distances by the instance's EDGE_WEIGHT_TYPE as for tours; EUC_2D is the
// rounded Euclidean distance per edge). Refused unless every customer is
// visited exactly once, no route's demand exceeds the capacity and the
// route count keeps `fleet`. The figure is the summed length of the routes,
// each from the depot and back; `claimed` as for tours.
Verdict CheckCvrp(const std::string& instance_file,
                  const std::vector<std::vector<std::size_t>>& routes, FleetRule fleet,
                  std::optional<double> claimed = std::nullopt);

// The vehicle count in an instance's name ("A-n32-k5" gives 5), 0 when the
// name carries none: the k of sets whose optimum is for exactly k vehicles.
std::size_t VehiclesInName(const std::string& instance_name);

// ---- Routing with time windows.

// The distance and travel-time convention of a VRPTW answer.
enum class TimeConvention {
  kExact,            // Euclidean distance in double precision, travel time = distance
  kTruncatedTenths,  // every distance and travel time floor(10 d) / 10, in exact tenths
};

// VRPTW in Solomon's text format (name; VEHICLE NUMBER CAPACITY; the
// CUSTOMER table, row 0 the depot, whose due date closes the day). Refused
// unless every customer is visited exactly once, no route's demand exceeds
// the capacity, no more routes than NUMBER are used, and along every route,
// leaving the depot at its ready time, service starts at the later of the
// arrival and the customer's ready time, never after its due date, lasts its
// service time, and the vehicle is back at the depot by the depot's due
// date. The figure is the total distance in `convention`; `claimed` as for
// tours (within 1e-6, or exactly in tenths).
Verdict CheckVrptw(const std::string& instance_file,
                   const std::vector<std::vector<std::size_t>>& routes, TimeConvention convention,
                   std::optional<double> claimed = std::nullopt);

// ---- Answers stored in files (used by the tests on the published solutions).

// The routes of a solution file: each line "Route #i: c1 c2 ..." gives one
// route; other lines are ignored. Refused (ok false, reason set) when the
// file cannot be read or a route line holds something other than numbers.
struct RouteFile {
  Verdict read;  // ok when the file was read
  std::vector<std::vector<std::size_t>> routes;
  std::optional<double> cost;  // the "Cost v" line, when present
};
RouteFile ReadRouteFile(const std::string& file);

// The tour of a TSPLIB ".tour" file (TOUR_SECTION, 1-based ids up to -1),
// as 0-based nodes. Refused like ReadRouteFile.
struct TourFile {
  Verdict read;
  std::vector<std::size_t> tour;
};
TourFile ReadTourFile(const std::string& file);

}  // namespace dg::bench::check
