// Packing of item quantities onto vehicles under a weight and a volume limit.
//
// A pure function of its inputs, independent of storage and transport, so
// that it can be measured alone. Weights and volumes compare after rounding
// to 3 decimals, so floating noise never refuses an exact fit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dg::server {

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

struct PackResult {
  std::vector<PackAllocation> allocations;  // ordered by item, then vehicle
  bool complete = false;                    // every quantity was placed
};

// First-fit decreasing on both dimensions: orders by priority, date and then
// decreasing size; each order goes whole onto the first used vehicle with
// room, else onto the largest unused vehicle with room; an order that fits
// no single vehicle is split item by item (whole units where the quantity is
// whole), filling used vehicles before opening new ones.
PackResult PackItems(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles);

// x rounded half away from zero to 3 decimals.
double Round3(double x);

// need <= room after rounding both to 3 decimals.
inline bool FitsWithin(double need, double room) { return Round3(need) <= Round3(room); }

}  // namespace dg::server
