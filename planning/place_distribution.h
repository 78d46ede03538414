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
#include <vector>

#include "planning/packing.h"

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
};

// What PlanByPlace did, for the caller's trace and the benchmark.
// Intentionally copyable.
struct PlaceReport {
  std::size_t orders_moved = 0;  // orders the routing weighed (0: left as packed)
  double km_before = 0;          // the routes of the packing, each in its best order
  double km_after = 0;           // the same measure for the answer
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
PackResult PlanByPlace(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                       const PackResult& packed, const std::vector<std::size_t>& item_place,
                       const PlaceMap& map, const PlaceOptions& options = {},
                       PlaceReport* report = nullptr);

// Total kilometres of the distribution's routes: for each vehicle, from the
// branch through the places of its items in the best order found (the
// suggested stop order's search) and back. Items without a place are left
// out of the routes.
double RoutesKm(const PackResult& distribution, const std::vector<std::size_t>& item_place,
                const PlaceMap& map);

}  // namespace dg::planning
