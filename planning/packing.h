// Packing of item quantities onto vehicles under a weight and a volume limit.
//
// A pure function of its inputs, independent of storage and transport, so
// that it can be measured alone. Weights and volumes compare after rounding
// to 3 decimals, so floating noise never refuses an exact fit; quantities
// are placed to the system's quantity precision (data/quantity.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dg::planning {

// One order item to place. Intentionally copyable.
struct PackItem {
  double unit_weight = 0;  // kg per unit
  double unit_volume = 0;  // m3 per unit
  double quantity = 0;     // units to place, > 0
  std::string order;       // items of one order travel together where they fit
  std::string priority;    // lower sorts first
  std::string date;        // delivery date, sorts after the priority
};

// Room left on one vehicle. Intentionally copyable.
struct PackVehicle {
  double free_weight = 0;
  double free_volume = 0;
};

// `quantity` units of items[item] on vehicles[vehicle].
struct PackAllocation {
  std::size_t item = 0;
  std::size_t vehicle = 0;
  double quantity = 0;

  friend bool operator==(const PackAllocation&, const PackAllocation&) = default;
};

// The default effort of PackOptions.
inline constexpr std::uint64_t kDefaultPackEffort = 60'000'000;
// The default of PackOptions::seed: of the seeds tried on the public
// benchmark instances, the one that reached the most proven optima
// (bench/notes.md).
inline constexpr std::uint64_t kDefaultPackSeed = 4;
// The default of PackOptions::last_vehicle_percent.
inline constexpr std::uint64_t kDefaultLastVehiclePercent = 100;
// Orders from which a packing gets the whole of PackOptions::effort.
inline constexpr std::size_t kFullEffortOrders = 100;

// The effort of the exact-fill search for `orders` orders: `effort` from
// kFullEffortOrders orders on, in proportion below. A small day reaches what
// it can long before the whole effort, and where its bound cannot be reached
// (orders that cannot share a vehicle) the rest would only keep the clerk
// waiting.
std::uint64_t PackEffort(std::uint64_t effort, std::size_t orders);

struct PackResult {
  std::vector<PackAllocation> allocations;  // ordered by item, then vehicle
  bool complete = false;                    // every quantity was placed
};

// A load that travels whole (an order): total weight and volume.
struct PackPiece {
  double weight = 0;
  double volume = 0;
};

// How PackItems looks for fewer vehicles once everything is placed.
enum class PackSearch {
  kNone,       // the construction alone
  kGiven,      // the search PackOptions::given names (a benchmark's reference)
  kExactFill,  // the exact-fill search (ReduceVehicles)
};

// A search of fewer vehicles with the contract of ReduceVehicles, given its
// effort (PackOptions::effort) instead of a SearchBudget.
using VehicleSearch = std::function<std::vector<std::size_t>(
    const std::vector<PackPiece>& pieces, const std::vector<PackVehicle>& vehicles,
    std::vector<std::size_t> assignment, std::uint64_t effort)>;

// How hard PackItems works for fewer vehicles. Intentionally copyable.
struct PackOptions {
  PackSearch search = PackSearch::kExactFill;
  // Steps the search may take: candidate moves evaluated and nodes of its
  // small exact searches. A count rather than a clock, so that the same input
  // always gives the same packing. This is the effort for kFullEffortOrders
  // orders or more; fewer orders get their share of it (PackEffort).
  std::uint64_t effort = kDefaultPackEffort;
  // Breaks ties between equally good moves.
  std::uint64_t seed = kDefaultPackSeed;
  // Steps added once, in percent of `effort`, when the effort is spent with
  // the packing one vehicle above the lower bound (VehicleLowerBound): that
  // last vehicle is often within reach of a longer search, while a packing
  // further from its bound (a mixed fleet's day, whose bound is weak) gains
  // little from more steps.
  std::uint64_t last_vehicle_percent = kDefaultLastVehiclePercent;
  // The search of kGiven; without one, kGiven is kNone. A vehicle it would
  // load over its room keeps the constructed packing.
  VehicleSearch given;
};

// First-fit decreasing on both dimensions: orders by priority, date and then
// decreasing size; each order goes whole onto the first used vehicle with
// room, else onto the largest unused vehicle with room; an order that fits
// no single vehicle is split item by item (whole units where the quantity is
// whole, then steps of the quantity precision), filling used vehicles before
// opening new ones.
//
// When everything was placed and no order had to be split, the priorities no
// longer decide anything, and the orders are then moved between vehicles
// (whole, by the search the options name) to empty as many vehicles as the
// effort allows. A split or incomplete packing is left as constructed.
// Deterministic: the same items, vehicles and options give the same result.
PackResult PackItems(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                     const PackOptions& options = {});

// Fewest vehicles the pieces can need: the largest of the vehicles needed for
// the weight and for the volume (largest vehicles first), of the number of
// pieces no two of which fit together on any vehicle, and of the classic
// bound that counts the pieces too large to share a vehicle with the
// smaller ones (in each dimension, every vehicle taken as large as the
// largest). 0 without pieces.
std::size_t VehicleLowerBound(const std::vector<PackPiece>& pieces,
                              const std::vector<PackVehicle>& vehicles);

// What a vehicle search may spend: steps (candidate moves evaluated and
// nodes of its small exact searches), the seed that breaks ties and the
// steps added once for the last vehicle above the lower bound, in percent of
// the effort (as PackOptions). Intentionally copyable.
struct SearchBudget {
  std::uint64_t effort = kDefaultPackEffort;
  std::uint64_t seed = kDefaultPackSeed;
  std::uint64_t last_vehicle_percent = kDefaultLastVehiclePercent;
};

// The exact-fill search: moves whole pieces between vehicles to use fewer of
// them. From a packing on m vehicles it tries m - 1: the emptiest vehicles
// are emptied into a set of pieces left out, and swaps between one vehicle
// and that set (a tabu phase) alternate with tight repacks of one vehicle
// with it (a descent) until the pieces left out fit exactly the vehicles to
// be refilled; then it tries one vehicle fewer again, until the lower bound
// (VehicleLowerBound) is reached or the effort is spent. When the vehicles
// are all alike, pairs of pieces that fill one exactly are first set aside on
// a vehicle each. When the vehicles are all alike and the effort leaves the
// packing one vehicle above the bound, before the steps for that last
// vehicle are added, a linear relaxation of the cover by loads is solved and
// rounded (CoverByColumns, on its own steps: 30 times the last vehicle's
// where the pieces have one dimension only; on two dimensions, where it has
// only the loads the search kept, 10 times, and 6 times again after the
// steps for the last vehicle (there half of them) were added, over the loads
// kept meanwhile); when it proves the bound out of reach, the search stops
// there.
// Then the pieces are covered with whole loads that leave no
// more room unused than the pieces spare (CoverWithLoads, on its own steps:
// half the last vehicle's at most, and a twelfth to list the loads); then,
// before and after those steps, with loads the search itself put on
// vehicles on its way (LoadPool, on its own steps: about three tenths of
// the last vehicle's). Where the pieces have one dimension and the
// relaxation found every load itself (ColumnsPriceEveryLoad), the steps for
// the last vehicle are not added once these fail.
// REQUIRES: assignment[i] is the vehicle of pieces[i] and every vehicle's
// pieces fit its room. Answers an assignment with no more vehicles in use
// than the given one, every room respected. The same arguments give the
// same answer.
std::vector<std::size_t> ReduceVehicles(const std::vector<PackPiece>& pieces,
                                        const std::vector<PackVehicle>& vehicles,
                                        std::vector<std::size_t> assignment,
                                        const SearchBudget& budget);

// x rounded half away from zero to 3 decimals.
double Round3(double x);

// need <= room after rounding both to 3 decimals.
inline bool FitsWithin(double need, double room) { return Round3(need) <= Round3(room); }

}  // namespace dg::planning
