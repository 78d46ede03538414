#include "planning/packing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <optional>

#include "data/quantity.h"

namespace dg::planning {
namespace {

struct Group {
  std::vector<std::size_t> items;
  double weight = 0;
  double volume = 0;
  double size = 0;  // share of the fleet's room, the larger of both dimensions
};

class Loader {
 public:
  Loader(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles)
      : items_(items), room_(vehicles), open_(vehicles.size(), false) {
    // Unused vehicles are opened largest first.
    by_size_.resize(vehicles.size());
    std::iota(by_size_.begin(), by_size_.end(), 0);
    std::stable_sort(by_size_.begin(), by_size_.end(), [&](std::size_t a, std::size_t b) {
      if (vehicles[a].free_weight != vehicles[b].free_weight) {
        return vehicles[a].free_weight > vehicles[b].free_weight;
      }
      return vehicles[a].free_volume > vehicles[b].free_volume;
    });
    placed_.assign(items.size(), 0);
  }

  bool Fits(std::size_t v, double weight, double volume) const {
    return FitsWithin(weight, room_[v].free_weight) && FitsWithin(volume, room_[v].free_volume);
  }

  void Place(std::size_t item, std::size_t v, double quantity) {
    if (quantity <= 0) return;
    room_[v].free_weight -= quantity * items_[item].unit_weight;
    room_[v].free_volume -= quantity * items_[item].unit_volume;
    if (!open_[v]) {
      open_[v] = true;
      opened_.push_back(v);
    }
    placed_[item] += quantity;
    result_[{item, v}] += quantity;
  }

  // Candidate vehicles: the used ones in the order they were opened, then the
  // unused ones largest first.
  std::vector<std::size_t> Candidates() const {
    std::vector<std::size_t> out = opened_;
    for (std::size_t v : by_size_) {
      if (!open_[v]) out.push_back(v);
    }
    return out;
  }

  // The vehicle the group went onto whole, or none.
  std::optional<std::size_t> PlaceWhole(const Group& group) {
    for (std::size_t v : Candidates()) {
      if (!Fits(v, group.weight, group.volume)) continue;
      for (std::size_t i : group.items) Place(i, v, items_[i].quantity);
      return v;
    }
    return std::nullopt;
  }

  // Largest quantity, a multiple of `step`, of the item that fits vehicle v.
  double MaxFit(std::size_t item, std::size_t v, double wanted, double step) const {
    const PackItem& it = items_[item];
    // Whole units fill as far as the rounded comparison allows; a fraction
    // fills no more than the exact room (floating noise aside), so a split
    // never rides on the rounding.
    const double margin = step >= 1 ? 5e-4 : 1e-6;
    double limit = wanted;
    if (it.unit_weight > 0)
      limit = std::min(limit, (room_[v].free_weight + margin) / it.unit_weight);
    if (it.unit_volume > 0)
      limit = std::min(limit, (room_[v].free_volume + margin) / it.unit_volume);
    double q = std::floor(limit / step + 1e-9) * step;
    q = std::min(q, wanted);
    while (q > 0 && !Fits(v, q * it.unit_weight, q * it.unit_volume)) q -= step;
    return q > 1e-12 ? q : 0;
  }

  void PlaceSplit(const Group& group) {
    for (std::size_t i : group.items) {
      const double quantity = items_[i].quantity;
      const bool whole = std::abs(quantity - std::round(quantity)) < 1e-9;
      for (double step : {whole ? 1.0 : data::kQuantityStep, data::kQuantityStep}) {
        for (std::size_t v : Candidates()) {
          const double left = data::RoundQuantity(quantity - placed_[i]);
          if (left <= 0) break;
          Place(i, v, MaxFit(i, v, left, step));
        }
      }
    }
  }

  PackResult Result() const {
    PackResult out;
    out.complete = true;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (data::RoundQuantity(items_[i].quantity - placed_[i]) > 0) out.complete = false;
    }
    for (const auto& [key, quantity] : result_) {
      out.allocations.push_back({key.first, key.second, data::RoundQuantity(quantity)});
    }
    return out;
  }

 private:
  const std::vector<PackItem>& items_;
  std::vector<PackVehicle> room_;
  std::vector<bool> open_;
  std::vector<std::size_t> opened_;
  std::vector<std::size_t> by_size_;
  std::vector<double> placed_;
  std::map<std::pair<std::size_t, std::size_t>, double> result_;
};

}  // namespace

double Round3(double x) {
  const double r = std::round(x * 1000.0) / 1000.0;
  return r == 0 ? 0 : r;  // no negative zero
}

std::uint64_t PackEffort(std::uint64_t effort, std::size_t orders) {
  if (orders >= kFullEffortOrders) return effort;
  // In two parts, so that no effort overflows.
  return effort / kFullEffortOrders * orders +
         effort % kFullEffortOrders * orders / kFullEffortOrders;
}

PackResult PackItems(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                     const PackOptions& options) {
  double fleet_weight = 0, fleet_volume = 0;
  for (const PackVehicle& v : vehicles) {
    fleet_weight += std::max(0.0, v.free_weight);
    fleet_volume += std::max(0.0, v.free_volume);
  }
  std::map<std::string, std::size_t> group_of;
  std::vector<Group> groups;
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto [it, fresh] = group_of.emplace(items[i].order, groups.size());
    if (fresh) groups.emplace_back();
    Group& g = groups[it->second];
    g.items.push_back(i);
    g.weight += items[i].unit_weight * items[i].quantity;
    g.volume += items[i].unit_volume * items[i].quantity;
  }
  for (Group& g : groups) {
    g.size = std::max(fleet_weight > 0 ? g.weight / fleet_weight : g.weight,
                      fleet_volume > 0 ? g.volume / fleet_volume : g.volume);
    // Within an order that must be split, the largest items go first.
    std::stable_sort(g.items.begin(), g.items.end(), [&](std::size_t a, std::size_t b) {
      return std::max(items[a].unit_weight * items[a].quantity,
                      items[a].unit_volume * items[a].quantity) >
             std::max(items[b].unit_weight * items[b].quantity,
                      items[b].unit_volume * items[b].quantity);
    });
  }
  std::stable_sort(groups.begin(), groups.end(), [&](const Group& a, const Group& b) {
    const PackItem& x = items[a.items.front()];
    const PackItem& y = items[b.items.front()];
    if (x.priority != y.priority) return x.priority < y.priority;
    if (x.date != y.date) return x.date < y.date;
    if (a.size != b.size) return a.size > b.size;
    return x.order < y.order;
  });

  Loader loader(items, vehicles);
  std::vector<std::size_t> assignment;
  for (const Group& g : groups) {
    if (const auto v = loader.PlaceWhole(g)) {
      assignment.push_back(*v);
    } else {
      loader.PlaceSplit(g);
    }
  }
  PackResult constructed = loader.Result();
  if (options.search == PackSearch::kNone || !constructed.complete ||
      assignment.size() != groups.size() ||
      (options.search == PackSearch::kGiven && !options.given)) {
    return constructed;
  }

  std::vector<PackPiece> pieces;
  for (const Group& g : groups) pieces.push_back({g.weight, g.volume});
  std::vector<std::size_t> searched =
      options.search == PackSearch::kGiven
          ? options.given(pieces, vehicles, assignment, options.effort)
          : ReduceVehicles(pieces, vehicles, assignment,
                           {PackEffort(options.effort, pieces.size()), options.seed,
                            options.last_vehicle_percent});
  // A given search's answer that does not name a vehicle for each order
  // keeps the constructed packing.
  if (searched.size() != groups.size()) return constructed;
  for (std::size_t v : searched) {
    if (v >= vehicles.size()) return constructed;
  }
  // The searches count in exact millionths; a vehicle that the rounding to
  // three decimals would judge over its room keeps the constructed packing.
  std::vector<PackPiece> load(vehicles.size());
  std::vector<bool> used(vehicles.size(), false);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    load[searched[g]].weight += groups[g].weight;
    load[searched[g]].volume += groups[g].volume;
    used[searched[g]] = true;
  }
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    if (!used[v]) continue;
    if (!FitsWithin(load[v].weight, vehicles[v].free_weight) ||
        !FitsWithin(load[v].volume, vehicles[v].free_volume)) {
      return constructed;
    }
  }
  assignment = std::move(searched);
  PackResult out;
  out.complete = true;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (std::size_t i : groups[g].items) {
      const double quantity = data::RoundQuantity(items[i].quantity);
      if (quantity > 0) out.allocations.push_back({i, assignment[g], quantity});
    }
  }
  std::sort(out.allocations.begin(), out.allocations.end(),
            [](const PackAllocation& a, const PackAllocation& b) {
              return a.item != b.item ? a.item < b.item : a.vehicle < b.vehicle;
            });
  return out;
}

}  // namespace dg::planning
