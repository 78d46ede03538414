// Distribution by place: once the packing has decided how few vehicles the
// loads need, the whole orders are spread over those vehicles again so that
// the routes (branch -> the vehicle's stops -> back to the branch) are
// shortest in total, every room still respected.
//
// A pure function of its inputs, independent of storage and transport, so
// that it can be measured alone. Deterministic: the routing search's fixed
// seed and an effort counted in steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "planning/packing.h"
#include "planning/route_clock.h"

namespace dg::planning {

inline constexpr std::size_t kNoPlace = std::numeric_limits<std::size_t>::max();

// The places of a day and how far apart they are. Intentionally copyable.
struct PlaceMap {
  // Place 0 is the branch, where every route starts and ends.
  std::size_t places = 0;
  // Kilometres from place i to place j at [i * places + j].
  std::vector<double> km;
};

// How hard PlanByPlace works. Intentionally copyable.
struct PlaceOptions {
  // Steps of the routing search per order moved (at least one order), and
  // their cap: a day's effort grows with its orders up to the cap.
  std::uint64_t effort_per_order = 20'000;
  std::uint64_t max_effort = 8'000'000;
  // The cap with the clock (windows and working days): that search weighs
  // each customer's places beside its nearest neighbours first, so a step
  // goes further there.
  std::uint64_t clock_max_effort = 16'000'000;
  // The share of that cap, in percent, the taking out of whole routes may
  // spend before the search for fewer vehicles goes on (its steps counted
  // within the cap, whatever the size of the day). None by default: on
  // days of hundreds of customers it gave no fewer vehicles and cost CPU.
  unsigned clock_take_out_share = 0;
};

// The clock of a day, for a distribution that keeps the clients' receiving
// hours and the drivers' working days. Intentionally copyable.
struct PlaceClock {
  // Per place (place 0, the branch, ignored; missing entries: any time, no
  // unloading): the receiving windows, the unloading minutes per stop and
  // per tonne unloaded there.
  std::vector<std::vector<TimeWindow>> windows;
  std::vector<double> stop_minutes;
  std::vector<double> tonne_minutes;
  // Per vehicle (as `vehicles`): its day. Empty: VehicleDay{} for all; one
  // entry: the same day for all.
  std::vector<VehicleDay> days;
  // Travel minutes from place i to place j at [i * places + j], one table
  // per kind of vehicle; `travel_of[v]` is vehicle v's table (empty: table
  // 0). REQUIRES: at least one table.
  std::vector<std::vector<double>> travel;
  std::vector<std::size_t> travel_of;
};

// A stop planned outside its client's windows, or on a route past its
// working day. Intentionally copyable.
struct LateStop {
  std::string order;      // the order (PackItem::order)
  std::size_t place = 0;  // its client's place
  std::size_t vehicle = 0;
  std::vector<TimeWindow> windows;  // the client's
  double arrival = 0;               // planned arrival, minutes from midnight
  double late = 0;                  // minutes past the last window's close (0: the day's overrun)
};

// What PlanByPlace did, for the caller's trace and the benchmark.
// Intentionally copyable.
struct PlaceReport {
  std::size_t orders_moved = 0;  // orders the routing weighed (0: left as packed)
  double km_before = 0;          // the routes of the packing, each in its best order
  double km_after = 0;           // the same measure for the answer
  std::uint64_t clock_steps = 0;  // with a clock: the steps its search spent (TimedSolution)
  // With a clock: the stops no vehicle could make on time (each order
  // once), and each vehicle's places in visiting order (none for an unused
  // vehicle).
  std::vector<LateStop> late;
  std::vector<std::vector<std::size_t>> stops;
};

// Moves whole orders of a complete packing between vehicles for the shortest
// total route, on no more vehicles than the packing uses. What stays where
// the packing put it: an order split over vehicles (or one of whose items
// is), an order with an item without a place, and everything when the
// packing is incomplete or the branch has no place. An answer that would
// not fit a vehicle's room (compared as the packing compares), or route
// longer than the packing, is never given: the packing is answered instead.
// The answer holds every item's whole quantity, ordered by item, then
// vehicle.
// `item_place[i]` is the place of items[i] (its client's), or kNoPlace when
// the client has no coordinates.
//
// With a clock, the orders are spread over any of the vehicles: fewest
// vehicles first, then the least total time on the road, every window and
// working day kept where possible; an order no vehicle can deliver in its
// client's windows is still carried, where it is least late, and the report
// names it. What stays where the packing put it is still visited on its
// vehicle. An unusable clock (a travel table of the wrong size) is ignored.
PackResult PlanByPlace(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                       const PackResult& packed, const std::vector<std::size_t>& item_place,
                       const PlaceMap& map, const PlaceOptions& options = {},
                       PlaceReport* report = nullptr, const PlaceClock* clock = nullptr);

// Total kilometres of the distribution's routes: for each vehicle, from the
// branch through the places of its items in the best order found (the
// suggested stop order's search) and back. Items without a place are left
// out of the routes.
double RoutesKm(const PackResult& distribution, const std::vector<std::size_t>& item_place,
                const PlaceMap& map);

}  // namespace dg::planning
