#include "planning/place_distribution.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "planning/routing.h"
#include "planning/stop_order.h"
#include "planning/timed_routing.h"

namespace dg::planning {
namespace {

// The orders of a packing: their items, and whether the routing may move
// them (whole, on one vehicle, every item with a place, all one place).
struct Order {
  std::vector<std::size_t> items;
  std::size_t vehicle = kNoPlace;
  std::size_t place = kNoPlace;
  bool movable = true;
};

bool MapIsUsable(const std::vector<PackItem>& items, const std::vector<std::size_t>& item_place,
                 const PlaceMap& map) {
  return map.places >= 2 && map.km.size() == map.places * map.places &&
         item_place.size() == items.size() &&
         std::all_of(item_place.begin(), item_place.end(),
                     [&](std::size_t p) { return p == kNoPlace || (p > 0 && p < map.places); });
}

// Each vehicle's weight and volume, summed as the packing sums them, within
// its room.
bool FitsRooms(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
               const std::vector<PackAllocation>& allocations) {
  std::vector<double> weight(vehicles.size(), 0), volume(vehicles.size(), 0);
  for (const PackAllocation& a : allocations) {
    if (a.vehicle >= vehicles.size()) return false;
    weight[a.vehicle] += items[a.item].unit_weight * a.quantity;
    volume[a.vehicle] += items[a.item].unit_volume * a.quantity;
  }
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    if (!FitsWithin(weight[v], vehicles[v].free_weight) ||
        !FitsWithin(volume[v], vehicles[v].free_volume)) {
      return false;
    }
  }
  return true;
}

double Symmetric(const PlaceMap& map, std::size_t a, std::size_t b) {
  return (map.km[a * map.places + b] + map.km[b * map.places + a]) / 2;
}

bool ClockIsUsable(const PlaceClock& clock, const PlaceMap& map, std::size_t vehicles) {
  if (clock.travel.empty()) return false;
  for (const std::vector<double>& table : clock.travel) {
    if (table.size() != map.places * map.places) return false;
  }
  if (!clock.travel_of.empty() && clock.travel_of.size() != vehicles) return false;
  for (std::size_t t : clock.travel_of) {
    if (t >= clock.travel.size()) return false;
  }
  return clock.days.size() <= 1 || clock.days.size() == vehicles;
}

template <typename T>
T PerPlace(const std::vector<T>& values, std::size_t place) {
  return place < values.size() ? values[place] : T{};
}

// The packing's allocations with each order's items on the vehicle the
// routing moved the order to (where it moved it), by item, then vehicle.
std::vector<PackAllocation> MovedAllocations(
    std::size_t items, const std::vector<std::vector<const PackAllocation*>>& of_item,
    const std::vector<std::size_t>& order_of, const std::vector<std::size_t>& vehicle_of_order) {
  std::vector<PackAllocation> out;
  for (std::size_t i = 0; i < items; ++i) {
    const std::size_t moved_to = vehicle_of_order[order_of[i]];
    for (const PackAllocation* a : of_item[i]) {
      out.push_back({i, moved_to == kNoPlace ? a->vehicle : moved_to, a->quantity});
    }
  }
  std::sort(out.begin(), out.end(), [](const PackAllocation& a, const PackAllocation& b) {
    return std::tie(a.item, a.vehicle) < std::tie(b.item, b.vehicle);
  });
  return out;
}

// The distribution with the clock: every order with a place is a customer;
// the movable ones may ride any vehicle, the others are visited where the
// packing put them (one customer per vehicle and place, taking no room: the
// room they take is the vehicle's already).
PackResult PlanWithClock(const std::vector<PackItem>& items,
                         const std::vector<PackVehicle>& vehicles, const PackResult& packed,
                         const std::vector<std::size_t>& item_place, const PlaceMap& map,
                         const PlaceOptions& options, PlaceReport* report, const PlaceClock& clock,
                         const std::vector<Order>& orders,
                         const std::vector<std::vector<const PackAllocation*>>& of_item,
                         const std::vector<std::size_t>& order_of) {
  TimedProblem problem;
  problem.objective = TimedObjective::kTimeOnRoad;
  problem.travel_of = clock.travel_of;
  problem.days = clock.days;
  problem.vehicles.resize(vehicles.size());
  problem.in_use.assign(vehicles.size(), 0);
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    problem.vehicles[v] = {vehicles[v].free_weight, vehicles[v].free_volume};
  }
  // The search's tables hold the places of this day's customers alone
  // (the branch first), numbered as they are met: the map's tables cover
  // every client of the branch's day, far larger than what the search
  // reads, and each leg it times would otherwise be a read from memory.
  std::vector<std::size_t> place_of_local;
  std::vector<std::size_t> local_of_place(map.places, kNoPlace);
  auto local_place = [&](std::size_t place) {
    if (local_of_place[place] == kNoPlace) {
      local_of_place[place] = place_of_local.size();
      place_of_local.push_back(place);
    }
    return local_of_place[place];
  };
  local_place(0);
  // Node 0 the branch; each customer: the order, its place, its pinned
  // vehicle and the kilograms it unloads.
  std::vector<std::size_t> customer_order = {kNoPlace};
  std::vector<double> unloaded = {0};
  problem.place = {0};
  problem.pinned = {kAnyVehicle};
  problem.demand = {{}};
  for (std::size_t k = 0; k < orders.size(); ++k) {
    const Order& o = orders[k];
    // (vehicle, place) -> weight, volume
    std::map<std::pair<std::size_t, std::size_t>, RouteLoad> parts;
    for (std::size_t i : o.items) {
      for (const PackAllocation* a : of_item[i]) {
        RouteLoad& part = parts[{o.movable ? kAnyVehicle : a->vehicle, item_place[i]}];
        part.weight += items[i].unit_weight * a->quantity;
        part.volume += items[i].unit_volume * a->quantity;
        if (!o.movable) {
          problem.vehicles[a->vehicle].weight -= items[i].unit_weight * a->quantity;
          problem.vehicles[a->vehicle].volume -= items[i].unit_volume * a->quantity;
          problem.in_use[a->vehicle] = 1;
        }
      }
    }
    for (const auto& [key, load] : parts) {
      if (key.second == kNoPlace) continue;
      customer_order.push_back(k);
      unloaded.push_back(load.weight);
      problem.place.push_back(local_place(key.second));
      problem.pinned.push_back(key.first);
      problem.demand.push_back(o.movable ? load : RouteLoad{});
    }
  }
  problem.customers = customer_order.size() - 1;
  for (RouteLoad& room : problem.vehicles) {
    room.weight = std::max(0.0, room.weight);
    room.volume = std::max(0.0, room.volume);
  }
  const std::size_t local = place_of_local.size();
  problem.places = local;
  problem.cost.resize(local * local);
  for (std::size_t a = 0; a < local; ++a) {
    for (std::size_t b = 0; b < local; ++b) {
      problem.cost[a * local + b] = Symmetric(map, place_of_local[a], place_of_local[b]);
    }
  }
  problem.travel.reserve(clock.travel.size());
  for (const std::vector<double>& table : clock.travel) {
    std::vector<double>& out = problem.travel.emplace_back(local * local);
    for (std::size_t a = 0; a < local; ++a) {
      const double* row = table.data() + place_of_local[a] * map.places;
      for (std::size_t b = 0; b < local; ++b) out[a * local + b] = row[place_of_local[b]];
    }
  }
  const std::size_t nodes = problem.customers + 1;
  problem.clock.resize(nodes);
  problem.stop_minutes.resize(nodes);
  for (std::size_t c = 1; c < nodes; ++c) {
    const std::size_t place = place_of_local[problem.place[c]];
    problem.clock[c].windows = PerPlace(clock.windows, place);
    problem.stop_minutes[c] = std::max(0.0, PerPlace(clock.stop_minutes, place));
    problem.clock[c].unloading =
        problem.stop_minutes[c] +
        std::max(0.0, PerPlace(clock.tonne_minutes, place)) * unloaded[c] / 1000;
  }

  TimedOptions timed;
  timed.effort = std::min(options.clock_max_effort,
                          options.effort_per_order * static_cast<std::uint64_t>(nodes));
  timed.take_out = options.clock_max_effort / 100 * options.clock_take_out_share;
  const TimedSolution solved = SolveTimedRouting(problem, timed);

  PackResult out;
  out.complete = true;
  std::vector<std::size_t> vehicle_of_order(orders.size(), kNoPlace);
  for (std::size_t v = 0; v < solved.routes.size(); ++v) {
    for (std::size_t c : solved.routes[v]) {
      if (orders[customer_order[c]].movable) vehicle_of_order[customer_order[c]] = v;
    }
  }
  out.allocations = MovedAllocations(items.size(), of_item, order_of, vehicle_of_order);
  // Never an answer that breaks a room (the search keeps them; an order it
  // could place nowhere else might not).
  if (!FitsRooms(items, vehicles, out.allocations)) return packed;
  if (report == nullptr) return out;

  report->orders_moved = problem.customers;
  report->clock_steps = solved.steps;
  report->km_before = RoutesKm(packed, item_place, map);
  report->km_after = RoutesKm(out, item_place, map);
  report->stops.assign(vehicles.size(), {});
  std::set<std::size_t> reported;
  std::vector<char> overrun(nodes, 0);
  for (std::size_t c : solved.late) overrun[c] = 1;
  for (std::size_t v = 0; v < solved.routes.size(); ++v) {
    const std::vector<std::size_t>& route = solved.routes[v];
    if (route.empty()) continue;
    const RouteSchedule schedule = TimedSchedule(problem, v, route);
    for (std::size_t k = 0; k < route.size(); ++k) {
      const std::size_t c = route[k];
      const std::size_t place = place_of_local[problem.place[c]];
      if (report->stops[v].empty() || report->stops[v].back() != place) {
        report->stops[v].push_back(place);
      }
      const StopTimes& t = schedule.stops[k];
      if ((t.late > 0 || overrun[c]) && reported.insert(customer_order[c]).second) {
        report->late.push_back({items[orders[customer_order[c]].items.front()].order, place, v,
                                problem.clock[c].windows, t.arrival, t.late});
      }
    }
  }
  return out;
}

}  // namespace

PackResult PlanByPlace(const std::vector<PackItem>& items, const std::vector<PackVehicle>& vehicles,
                       const PackResult& packed, const std::vector<std::size_t>& item_place,
                       const PlaceMap& map, const PlaceOptions& options, PlaceReport* report,
                       const PlaceClock* clock) {
  if (report != nullptr) *report = {};
  if (!packed.complete || !MapIsUsable(items, item_place, map)) return packed;

  // The orders in the order of their first item, and the vehicles of each
  // item.
  std::vector<std::vector<const PackAllocation*>> of_item(items.size());
  for (const PackAllocation& a : packed.allocations) {
    if (a.item >= items.size() || a.vehicle >= vehicles.size()) return packed;
    of_item[a.item].push_back(&a);
  }
  std::vector<Order> orders;
  std::map<std::string, std::size_t> order_index;
  std::vector<std::size_t> order_of(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto [it, added] = order_index.emplace(items[i].order, orders.size());
    if (added) orders.emplace_back();
    Order& o = orders[it->second];
    order_of[i] = it->second;
    o.items.push_back(i);
    const bool whole = of_item[i].size() == 1 && of_item[i][0]->quantity == items[i].quantity;
    if (!whole || item_place[i] == kNoPlace) {
      o.movable = false;
      continue;
    }
    const std::size_t vehicle = of_item[i][0]->vehicle;
    if (o.vehicle == kNoPlace) o.vehicle = vehicle;
    if (o.place == kNoPlace) o.place = item_place[i];
    if (o.vehicle != vehicle || o.place != item_place[i]) o.movable = false;
  }

  if (clock != nullptr && ClockIsUsable(*clock, map, vehicles.size())) {
    return PlanWithClock(items, vehicles, packed, item_place, map, options, report, *clock, orders,
                         of_item, order_of);
  }

  // Customers: the movable orders. What stays is carried where it is, on a
  // vehicle that counts as in use.
  RoutingProblem problem;
  std::vector<std::size_t> customer_order = {kNoPlace};  // customer -> order
  std::vector<std::size_t> node_place = {0};
  std::set<std::size_t> used;
  problem.vehicles.resize(vehicles.size());
  problem.in_use.assign(vehicles.size(), 0);
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    problem.vehicles[v] = {vehicles[v].free_weight, vehicles[v].free_volume};
  }
  problem.demand.push_back({});
  for (std::size_t k = 0; k < orders.size(); ++k) {
    const Order& o = orders[k];
    RouteLoad load;
    for (std::size_t i : o.items) {
      for (const PackAllocation* a : of_item[i]) {
        used.insert(a->vehicle);
        if (o.movable) {
          load.weight += items[i].unit_weight * a->quantity;
          load.volume += items[i].unit_volume * a->quantity;
        } else {
          problem.vehicles[a->vehicle].weight -= items[i].unit_weight * a->quantity;
          problem.vehicles[a->vehicle].volume -= items[i].unit_volume * a->quantity;
          problem.in_use[a->vehicle] = 1;
        }
      }
    }
    if (!o.movable) continue;
    customer_order.push_back(k);
    node_place.push_back(o.place);
    problem.demand.push_back(load);
  }
  problem.customers = customer_order.size() - 1;
  if (problem.customers < 2) return packed;
  for (RouteLoad& room : problem.vehicles) {
    room.weight = std::max(0.0, room.weight);
    room.volume = std::max(0.0, room.volume);
  }
  problem.max_used = used.size();
  const std::size_t nodes = problem.customers + 1;
  problem.cost.resize(nodes * nodes);
  for (std::size_t a = 0; a < nodes; ++a) {
    for (std::size_t b = 0; b < nodes; ++b) {
      problem.cost[a * nodes + b] = Symmetric(map, node_place[a], node_place[b]);
    }
  }

  // From the packing's routes, each improved by 2-opt, so that the answer
  // is never longer than the packing driven well.
  RoutingSolution start;
  start.routes.resize(vehicles.size());
  for (std::size_t c = 1; c < nodes; ++c) {
    start.routes[orders[customer_order[c]].vehicle].push_back(c);
  }
  start = TwoOptRoutes(problem, start);
  start.cost = RoutingCost(problem, start);
  RoutingOptions routing;
  routing.effort =
      std::min(options.max_effort, options.effort_per_order * static_cast<std::uint64_t>(nodes));
  const RoutingSolution solved = SolveRouting(problem, start, routing);
  if (!IsFeasible(problem, solved) || RoutingCost(problem, solved) > start.cost + 1e-9) {
    return packed;
  }

  PackResult out;
  out.complete = true;
  std::vector<std::size_t> vehicle_of_order(orders.size(), kNoPlace);
  for (std::size_t v = 0; v < solved.routes.size(); ++v) {
    for (std::size_t c : solved.routes[v]) vehicle_of_order[customer_order[c]] = v;
  }
  out.allocations = MovedAllocations(items.size(), of_item, order_of, vehicle_of_order);
  if (!FitsRooms(items, vehicles, out.allocations)) return packed;
  if (report != nullptr) {
    report->orders_moved = problem.customers;
    report->km_before = RoutesKm(packed, item_place, map);
    report->km_after = RoutesKm(out, item_place, map);
  }
  return out;
}

double RoutesKm(const PackResult& distribution, const std::vector<std::size_t>& item_place,
                const PlaceMap& map) {
  std::map<std::size_t, std::set<std::size_t>> places_of;
  for (const PackAllocation& a : distribution.allocations) {
    if (a.item < item_place.size() && item_place[a.item] != kNoPlace &&
        item_place[a.item] < map.places) {
      places_of[a.vehicle].insert(item_place[a.item]);
    }
  }
  double total = 0;
  for (const auto& [vehicle, places] : places_of) {
    const std::vector<std::size_t> stops(places.begin(), places.end());
    StopOrderInput input;
    input.stops = stops.size();
    const std::size_t nodes = stops.size() + 2;
    auto place = [&](std::size_t node) {
      return node == 0 || node == nodes - 1 ? std::size_t{0} : stops[node - 1];
    };
    input.cost.resize(nodes * nodes);
    for (std::size_t a = 0; a < nodes; ++a) {
      for (std::size_t b = 0; b < nodes; ++b) {
        input.cost[a * nodes + b] = map.km[place(a) * map.places + place(b)];
      }
    }
    total += OrderStops(input).cost;
  }
  return total;
}

}  // namespace dg::planning
