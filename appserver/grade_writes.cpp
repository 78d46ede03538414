// The methods that change a grid.
#include <algorithm>
#include <any>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "appserver/argument_rules.h"
#include "appserver/grade_support.h"
#include "appserver/item_ledger.h"
#include "appserver/route_times.h"
#include "data/filter.h"
#include "data/format.h"
#include "data/quantity.h"
#include "planning/packing.h"
#include "planning/place_distribution.h"

namespace dg::server::detail {

using data::DataPacket;
using data::Variant;
using planning::kNoPlace;
using planning::PackAllocation;
using planning::PackItem;
using planning::PackResult;
using planning::PackVehicle;

namespace {

// ---- item filter -----------------------------------------------------------

// The screen's filter text over the item packet, read as the screen's
// dataset reads it; an empty filter lets every row through.
data::FilterExpression ItemFilter(const std::string& method, const std::string& text,
                                  const DataPacket& packet) {
  try {
    data::FilterExpression filter = data::FilterExpression::Parse(text);
    filter.Bind(packet.fields);
    return filter;
  } catch (const data::FilterError& e) {
    throw Error(method + ": cannot apply the filter \"" + text + "\": " + e.Reason());
  }
}

struct PacketRow : data::FilterRow {
  explicit PacketRow(const std::vector<Variant>& c) : cells(c) {}
  const Variant& Cell(int index, Variant&) const override { return cells[index]; }
  const std::vector<Variant>& cells;
};

// ---- distribution ----------------------------------------------------------

// One item of the incoming packet that the distribution places.
struct Incoming {
  std::string order, item, product, client, client_name, priority, day, delivery, route;
  double quantity = 0, unit_weight = 0, unit_volume = 0;
};

std::vector<Incoming> ReadItems(const std::string& method, const DataPacket& packet,
                                const std::string& filter_text) {
  if (packet.kind != DataPacket::Kind::Table) {
    throw Error(method + ": the item packet must be a table");
  }
  const data::FilterExpression filter = ItemFilter(method, filter_text, packet);
  auto col = [&](const char* name) {
    const int i = packet.FieldIndex(name);
    if (i < 0) throw Error(method + ": the item packet has no field " + name);
    return i;
  };
  const int order = col("NRPEDIDO"), item = col("NRITEMPED"), quantity = col("QTDEAEXP"),
            weight = col("VRPESOBRUTPR"), volume = col("VRVOLMED");
  const int product = packet.FieldIndex("CDPRODUTO"), client = packet.FieldIndex("CDCLIENTE"),
            name = packet.FieldIndex("NMFANTCLIE"), priority = packet.FieldIndex("IDPRIOPED"),
            date = packet.FieldIndex("DTENTPED"), route = packet.FieldIndex("CDROTATRANSPED"),
            branch_route = packet.FieldIndex("CDROTAFILIAL");
  auto text = [](const std::vector<Variant>& row, int i) {
    return i < 0 || row[i].IsEmptyOrNull() ? std::string() : row[i].ToString();
  };
  auto number = [](const std::vector<Variant>& row, int i) {
    return row[i].IsEmptyOrNull() ? 0.0 : row[i].ToDouble();
  };
  std::vector<Incoming> out;
  out.reserve(packet.rows.size());
  std::set<std::pair<std::string, std::string>> seen;
  for (const auto& row : packet.rows) {
    if (!filter.Matches(PacketRow(row))) continue;
    Incoming in;
    in.order = text(row, order);
    in.item = text(row, item);
    // A refusal names the item; its text is written only for one.
    auto what = [&](const char* rest) {
      return method + ": item " + in.order + " / " + in.item + " " + rest;
    };
    auto amount = [&](int column, const char* field) {
      const double value = number(row, column);
      return value >= 0 && value <= kMaxAmount ? value : CheckedAmount(value, what(field));
    };
    in.quantity = data::RoundQuantity(amount(quantity, "QTDEAEXP"));
    if (in.quantity <= 0) continue;
    if (!seen.insert({in.order, in.item}).second) throw Error(what("appears twice"));
    in.unit_weight = amount(weight, "VRPESOBRUTPR");
    in.unit_volume = amount(volume, "VRVOLMED");
    in.product = text(row, product);
    in.client = text(row, client);
    in.client_name = text(row, name);
    in.priority = text(row, priority);
    if (date >= 0 && !row[date].IsEmptyOrNull()) {
      in.delivery = row[date].ToDateTime().ToIso();
      in.day = in.delivery.substr(0, 10);
    }
    in.route = text(row, route).empty() ? text(row, branch_route) : text(row, route);
    out.push_back(std::move(in));
  }
  return out;
}

// The items as the branch records them: the packet names each item and the
// quantity the screen distributes of it; what the item is (product, client,
// delivery, unit weight and volume) comes from the server's own records.
// Throws Error naming the items the branch does not hold.
void TakeRecords(Storage& storage, const std::string& branch, std::vector<Incoming>& items) {
  std::set<ItemKey> keys;
  for (const Incoming& in : items) keys.insert({in.order, in.item});
  std::map<ItemKey, OrderItem> records;
  storage.Transact(TxKind::Read, [&](Session& s) { records = BranchItems(s, branch, keys); });
  std::vector<ItemExcess> unknown;
  for (Incoming& in : items) {
    const auto found = records.find({in.order, in.item});
    if (found == records.end()) {
      unknown.push_back({{in.order, in.item}, false, 0, in.quantity});
      continue;
    }
    const OrderItem& r = found->second;
    in.product = r.product;
    in.client = r.client;
    in.client_name = r.client_name;
    in.priority = r.priority;
    in.delivery = r.delivery;
    in.day = r.day;
    in.route = r.route;
    in.unit_weight = r.unit_weight;
    in.unit_volume = r.unit_volume;
  }
  if (!unknown.empty()) {
    throw Error(ExcessText("A distribuição não pode ser feita:", unknown));
  }
  // The screen's item order: priority, delivery date, order, item.
  std::stable_sort(items.begin(), items.end(), [](const Incoming& a, const Incoming& b) {
    return std::tie(a.priority, a.delivery, a.order, a.item) <
           std::tie(b.priority, b.delivery, b.order, b.item);
  });
}

// The branch DistribuiQuantidades works in: the one named, else the first
// item's.
std::string DistributionBranch(const Args& a) {
  if (!a.Text(5).empty() || a.Packet(0).rows.empty()) return a.Text(5);
  const int i = a.Packet(0).FieldIndex("CDFILIAL");
  const auto& first = a.Packet(0).rows.front();
  return i >= 0 && !first[i].IsEmptyOrNull() ? first[i].ToString() : "";
}

// What DistribuiQuantidades works out before its transaction.
struct ReadyItems {
  std::vector<Incoming> items;
  ClientPlaces places;
  // The place of each item's client (kNoPlace: not located).
  std::vector<std::size_t> item_place;
  // The day's clock; without one (`any` false) the day is planned as before.
  DayClock clock;
};

// The clock the planning takes, for the vehicles in the order of `vehicles`.
planning::PlaceClock PlaceClockOf(const DayClock& day, const std::vector<Vehicle>& vehicles) {
  planning::PlaceClock clock;
  for (const ClientClock& c : day.per_place) {
    clock.windows.push_back(c.windows);
    clock.stop_minutes.push_back(c.per_stop);
    clock.tonne_minutes.push_back(c.per_tonne);
  }
  for (const Vehicle& v : vehicles) {
    const auto known = day.vehicles.find(v.code);
    clock.days.push_back(known == day.vehicles.end() ? planning::VehicleDay{} : known->second.day);
  }
  clock.travel.push_back(day.minutes);
  return clock;
}

// The inconsistency of an order the plan could not deliver on time:
// "janela 07:00-10:00, chegada 10:40", or past its vehicle's working day.
std::string LateStopText(const planning::LateStop& late, const std::string& vehicle) {
  if (late.late > 0 && !late.windows.empty()) return LateText(late.windows, late.arrival);
  return "após a jornada do veículo " + vehicle + ", chegada " + planning::ClockText(late.arrival);
}

// A unit weight or volume argument must be the item's own; an empty one
// stands for it.
void CheckSameMeasure(const Args& a, int index, double stored, const std::string& what) {
  if (a.IsEmpty(index)) return;
  const double given = a.Number(index);
  if (std::abs(given - stored) > 1e-9 * std::max(1.0, std::abs(stored))) {
    throw Error(what + " is " + Variant(given).ToString() + ", the item's is " +
                Variant(stored).ToString());
  }
}

// How the vehicle grid shows a quantity.
constexpr const char* kQuantityFormat = "0.00000";

// What the grid's vehicles carry of one item may not exceed its quantity to
// dispatch.
void CheckItemTotal(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, double to_dispatch) {
  std::int64_t carried = 0;
  for (double q : ItemQuantities(s, branch, grid, order, item)) carried += data::QuantityUnits(q);
  if (carried > data::QuantityUnits(to_dispatch)) {
    // Quantities as the vehicle grid shows them, not as the double holds
    // them (11.000000000000002).
    throw Error(
        "SetGrade: the vehicles would carry " +
        data::FormatNumber(kQuantityFormat, static_cast<double>(carried) * data::kQuantityStep) +
        " of item " + order + " / " + item + ", more than its " +
        data::FormatNumber(kQuantityFormat, to_dispatch) + " to dispatch");
  }
}

}  // namespace

// ---- methods ---------------------------------------------------------------

Variant PrxNrGrade(Session& s, Args& a) { return Variant(NewGrid(s, a.Text(0), "")); }

std::any PrepareDistribuiQuantidades(Storage& storage, const std::string& method,
                                     const std::vector<Variant>& args) {
  std::vector<Variant> copy = args;
  const Args a(method, copy);
  ReadyItems ready;
  ready.items = ReadItems(method, a.Packet(0), a.Text(1));
  TakeRecords(storage, DistributionBranch(a), ready.items);
  std::set<std::string> clients;
  for (const Incoming& in : ready.items) {
    if (!in.client.empty()) clients.insert(in.client);
  }
  ready.places = ReadClientPlaces(storage, DistributionBranch(a), clients);
  for (const Incoming& in : ready.items) {
    const auto at = ready.places.place_of.find(in.client);
    ready.item_place.push_back(at == ready.places.place_of.end() ? kNoPlace : at->second);
  }
  if (!ready.places.place_of.empty()) {
    ready.clock = ReadDayClock(storage, DistributionBranch(a), ParseKey(a.Text(2)), ready.places);
  }
  return ready;
}

Variant DistribuiQuantidades(Session& s, Args& a) {
  const auto* prepared = std::any_cast<ReadyItems>(&a.prepared());
  if (prepared == nullptr) throw Error(a.method() + ": the items were not prepared");
  const ReadyItems& ready = *prepared;
  const std::vector<Incoming>& items = ready.items;
  const Transporter transporter = ParseKey(a.Text(2));
  const std::string operator_code = a.Text(4);
  const std::string branch = DistributionBranch(a);
  if (!TransporterExists(s, transporter)) {
    throw Error("Transportadora " + a.Text(2) + " não cadastrada.");
  }
  // What is left of each item is read again in this transaction: a grid
  // dispatched since the items were prepared counts.
  std::map<ItemKey, double> wanted;
  for (const Incoming& in : items) wanted[{in.order, in.item}] = in.quantity;
  CheckWithinLeft(s, branch, wanted, "A distribuição levaria mais do que resta a expedir:");
  const std::string grid = WritableGrid(s, branch, a.Text(3), operator_code);
  a.SetText(3, grid);
  a.SetText(5, branch);
  // The grid is written again as a whole: its items, then the allocations
  // of every day; only the rows that change are written.
  std::vector<Row> grid_items;
  grid_items.reserve(items.size());
  for (const Incoming& in : items) {
    const ItemInfo info{true,           in.product,     in.client, in.client_name, in.quantity,
                        in.unit_weight, in.unit_volume, in.day,    in.delivery,    in.route};
    grid_items.push_back(GridItemRow(branch, grid, in.order, in.item, info, in.priority));
  }
  RewriteGridItems(s, branch, grid, grid_items);
  DropRoutes(s, branch, grid);

  // Free room differs by delivery day, so each day is packed on its own,
  // on the room the other grids leave.
  const std::vector<Vehicle> vehicles = VehiclesOf(s, transporter);
  std::map<std::string, std::vector<std::size_t>> by_day;
  for (std::size_t i = 0; i < items.size(); ++i) by_day[items[i].day].push_back(i);
  std::vector<Row> allocations;
  allocations.reserve(items.size());
  // With a clock: the client of each place, and the orders delivered late
  // (client, what the list says), each once.
  std::vector<std::string> client_of(ready.places.map.places);
  for (const auto& [client, place] : ready.places.place_of) client_of[place] = client;
  std::vector<std::pair<std::string, std::string>> late_rows;
  const std::optional<planning::PlaceClock> clock =
      ready.clock.any ? std::optional(PlaceClockOf(ready.clock, vehicles)) : std::nullopt;
  for (const auto& [day, indexes] : by_day) {
    std::vector<PackVehicle> room;
    const std::map<std::string, Load> loads =
        TransporterLoadsBesides(s, transporter, day, branch, grid);
    for (const Vehicle& v : vehicles) {
      auto load = loads.find(v.code);
      const Load held = load == loads.end() ? Load{} : load->second;
      room.push_back({v.weight - held.weight, v.volume - held.volume});
    }
    std::vector<PackItem> pack;
    std::vector<std::size_t> pack_place;
    for (std::size_t i : indexes) {
      const Incoming& in = items[i];
      pack.push_back({in.unit_weight, in.unit_volume, in.quantity, in.order, in.priority, in.day});
      pack_place.push_back(ready.item_place[i]);
    }
    // As few vehicles as the loads allow, then the whole orders spread over
    // them for the shortest routes (with a clock: the least time on the
    // road, the windows and working days kept). Every vehicle leaves with
    // the return flag "F", so each route ends back at the branch, as the
    // plan's do.
    PackResult result = PackItems(pack, room);
    if (!result.complete) throw Error("@QT_EXCEDE");
    planning::PlaceReport report;
    result = PlanByPlace(pack, room, result, pack_place, ready.places.map, {},
                         clock ? &report : nullptr, clock ? &*clock : nullptr);
    // With a clock the plan's visiting order is the delivery order: the
    // times the itinerary and the manifest print are the plan's.
    std::map<std::pair<std::size_t, std::size_t>, std::string> stop_number;
    for (std::size_t v = 0; v < report.stops.size(); ++v) {
      for (std::size_t k = 0; k < report.stops[v].size(); ++k) {
        stop_number.emplace(std::pair(v, report.stops[v][k]), StopOrderText(k + 1));
      }
    }
    for (const PackAllocation& p : result.allocations) {
      const Incoming& in = items[indexes[p.item]];
      const auto number = stop_number.find({p.vehicle, pack_place[p.item]});
      allocations.push_back(AllocationRow(
          {branch, grid, vehicles[p.vehicle].code, in.order, in.item, in.product, in.client,
           p.quantity, in.unit_weight, in.unit_volume, "F", in.route, in.day, in.delivery,
           operator_code, number == stop_number.end() ? "" : number->second}));
    }
    for (const planning::LateStop& late : report.late) {
      if (late.place >= client_of.size() || late.vehicle >= vehicles.size()) continue;
      std::pair row(client_of[late.place], LateStopText(late, vehicles[late.vehicle].code));
      if (std::find(late_rows.begin(), late_rows.end(), row) == late_rows.end()) {
        late_rows.push_back(std::move(row));
      }
    }
  }
  TouchedLoads touched(branch, grid);
  RewriteAllocations(s, branch, grid, allocations, touched);
  if (!touched.empty()) touched.RefreshWholeGrid(s);

  Variant first_vehicles =
      items.empty() ? VehiclePacket(s, transporter, Variant::Null(), "", branch, "", "", grid)
                    : VehiclePacket(s, transporter,
                                    items[0].delivery.empty()
                                        ? Variant::Null()
                                        : Variant(data::DateTime::FromIso(items[0].delivery)),
                                    items[0].day, branch, items[0].order, items[0].item, grid);
  Variant errors = ErrorPacket(s, grid, "", branch);
  if (!late_rows.empty()) {
    data::DataPacket listed = errors.AsPacket();
    for (auto& [client, text] : late_rows) listed.rows.push_back({Variant(client), Variant(text)});
    errors = Variant(std::move(listed));
  }
  return Variant(data::VariantArray({first_vehicles, errors}, 0));
}

Variant SetGrade(Session& s, Args& a) {
  const DataPacket& packet = a.Packet(0);
  const std::string branch = a.Text(3), operator_code = a.Text(5);

  // The rows as the screen left them: a table, or the new values of a log.
  // A table is read where it stands: the screen sends the whole fleet.
  std::vector<std::vector<Variant>> logged;
  if (packet.kind != DataPacket::Kind::Table) {
    for (const auto& change : packet.changes) {
      if (change.state != data::RowState::Deleted) logged.push_back(change.new_values);
    }
  }
  const std::vector<std::vector<Variant>>& rows =
      packet.kind == DataPacket::Kind::Table ? packet.rows : logged;
  auto col = [&](const char* name) {
    const int i = packet.FieldIndex(name);
    if (i < 0) throw Error("SetGrade: the vehicle packet has no field " + std::string(name));
    return i;
  };
  const int vehicle_col = col("CDVIATURA"), quantity_col = col("QtTranspItGr"),
            flag_col = col("IDRETGRADEDISTR"), order_col = col("NRPEDIDO"),
            item_col = col("NRITEMPED");
  const int product_col = packet.FieldIndex("CDPRODUTO"),
            date_col = packet.FieldIndex("DTHRENTGRADE"),
            route_col = packet.FieldIndex("CDROTATRANS"),
            operator_col = packet.FieldIndex("CDOPERLANCGRAD");
  auto text = [](const std::vector<Variant>& row, int i) {
    return i < 0 || row[i].IsEmptyOrNull() ? std::string() : row[i].ToString();
  };
  auto quantity_of = [&](const std::vector<Variant>& row) {
    const Variant& q = row[quantity_col];
    if (q.IsEmptyOrNull()) return 0.0;
    return data::RoundQuantity(
        CheckedAmount(q.ToDouble(), "SetGrade: the quantity of vehicle " + text(row, vehicle_col)));
  };

  // Every row speaks of one order item.
  std::string order, item;
  bool any_quantity = false;
  for (const auto& row : rows) {
    const std::string row_order = text(row, order_col), row_item = text(row, item_col);
    if (order.empty()) {
      order = row_order;
      item = row_item;
    } else if (!row_order.empty() && (row_order != order || row_item != item)) {
      throw Error("SetGrade: the vehicle rows name two order items, " + order + " / " + item +
                  " and " + row_order + " / " + row_item);
    }
    any_quantity = quantity_of(row) > 0 || any_quantity;
  }
  if (order.empty()) {
    if (any_quantity) throw Error("SetGrade: the vehicle rows do not name the order item");
    return Variant(true);
  }
  const std::string grid = WritableGrid(s, branch, a.Text(4), operator_code);
  a.SetText(4, grid);

  // What the rows may say is the item as the grid holds it (as the
  // distribution stored it), or as the branch's items hold it for a grid
  // that has not seen it yet.
  const ItemInfo info = FindItem(s, branch, grid, order, item);
  if (!info.found) {
    throw Error("SetGrade: the order item " + order + " / " + item + " is neither in grid " + grid +
                " nor among the items of branch " + branch);
  }
  const std::string what = "SetGrade: item " + order + " / " + item;
  CheckSameMeasure(a, 1, info.unit_weight, what + ": the unit weight");
  CheckSameMeasure(a, 2, info.unit_volume, what + ": the unit volume");
  // The rows of a fleet carry the same moment: its day is checked once.
  std::optional<data::DateTime> checked_moment;
  for (const auto& row : rows) {
    const std::string code = text(row, vehicle_col);
    const std::string product = text(row, product_col);
    if (!product.empty() && product != info.product) {
      throw Error(what + ": vehicle " + code + " names product " + product + ", the item's is " +
                  info.product);
    }
    if (date_col >= 0 && !row[date_col].IsEmptyOrNull()) {
      const data::DateTime moment = row[date_col].ToDateTime();
      if (moment == checked_moment) continue;
      const std::string day = moment.ToIso().substr(0, 10);
      checked_moment = moment;
      if (day != info.day) {
        throw Error(what + ": vehicle " + code + " names the delivery day " + day +
                    ", the item's is " + (info.day.empty() ? "none" : info.day));
      }
    }
  }
  EnsureGridItem(s, branch, grid, order, item, info);

  // Every row must name a known vehicle. The transporter's codes are read
  // in one look-up when the rows carry their transporter (the vehicle
  // packet does); a code outside them is looked up on its own. A vehicle's
  // capacity is read only for a row whose allocation changes: a save
  // usually changes one row of a fleet of hundreds.
  std::vector<std::string> codes;
  codes.reserve(rows.size());
  for (const auto& row : rows) codes.push_back(text(row, vehicle_col));
  const int type_col = packet.FieldIndex("IDTPIJURTRAN"),
            inscription_col = packet.FieldIndex("NRINSJURTRAN");
  const std::vector<bool> in_fleet =
      !rows.empty() && !text(rows[0], type_col).empty() && !text(rows[0], inscription_col).empty()
          ? InFleet(s, {text(rows[0], type_col), text(rows[0], inscription_col)}, codes)
          : std::vector<bool>(rows.size(), false);
  std::map<std::string, NewAllocation> stored = ItemAllocations(s, branch, grid, order, item);

  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    const std::string& code = codes[r];
    if (code.empty()) continue;
    std::optional<Vehicle> vehicle;
    if (!in_fleet[r]) vehicle = RequireVehicle(s, code);
    auto old = stored.find(code);
    const double quantity = quantity_of(row);
    // A row without quantity for a vehicle that carries none of the item
    // changes nothing.
    if (quantity <= 0 && old == stored.end()) continue;

    NewAllocation n;
    if (quantity > 0) {
      n.branch = branch;
      n.grid = grid;
      n.vehicle = code;
      n.order = order;
      n.item = item;
      n.product = info.product;
      n.client = info.client;
      n.quantity = quantity;
      n.unit_weight = info.unit_weight;
      n.unit_volume = info.unit_volume;
      n.flag = text(row, flag_col) == "T" ? "T" : "F";
      n.route = text(row, route_col).empty() ? info.route : text(row, route_col);
      n.delivery = info.delivery;
      n.day = info.day;
      n.operator_code = text(row, operator_col).empty() ? operator_code : text(row, operator_col);
      n.stop_order = old != stored.end() ? old->second.stop_order
                                         : StopOrder(s, branch, grid, code, info.client);
      // A row saved again as it is stored (the other vehicles of the item
      // come back with the one that changed) is left alone.
      if (old != stored.end() && old->second == n && VehicleFlag(s, branch, grid, code) == n.flag) {
        continue;
      }
      // The screen's check of the row, on the room the vehicle has now.
      const Load held = old != stored.end() ? Load{old->second.quantity * old->second.unit_weight,
                                                   old->second.quantity * old->second.unit_volume}
                                            : Load{};
      if (!vehicle) vehicle = RequireVehicle(s, code);
      CheckRowFits(*vehicle, LoadOf(s, code, info.day),
                   {quantity * info.unit_weight, quantity * info.unit_volume}, held);
    }
    if (old != stored.end()) {
      DeleteAllocation(s, {branch, grid, code, order, item}, old->second.day);
      stored.erase(old);
    }
    if (quantity <= 0) continue;
    InsertAllocation(s, n);
    stored[code] = n;
    // The return flag belongs to the vehicle: every row of it follows.
    SetVehicleFlag(s, branch, grid, code, n.flag);
  }
  CheckItemTotal(s, branch, grid, order, item, info.quantity);
  CheckCarriedWithinLeft(s, branch, grid, " AND NRPEDIDO = ? AND NRITEMPED = ?",
                         {Value(order), Value(item)},
                         "Os veículos levariam mais do que resta a expedir:");
  DropRoutes(s, branch, grid);
  return Variant(true);
}

Variant DelGrade(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1);
  if (grid.empty()) return Variant(true);
  // An unknown, discarded or dispatched grid is left as it is: a dispatched
  // grid belongs to its dispatch note and is never discarded, and the screen
  // of the next launch still holds its number until it takes a new one.
  const auto state = GridState(s, branch, grid);
  if (!state || *state != kOpen) return Variant(true);
  DiscardGrid(s, branch, grid);
  return Variant(true);
}

Variant SetGradeRota(Session& s, Args& a) {
  const std::string stop_order = a.Text(0), order = a.Text(1), vehicle = a.Text(2),
                    branch = a.Text(3), grid = a.Text(4), item = a.Text(5), status = a.Text(7);
  if (status != "I" && status != "E") {
    throw Error("SetGradeRota: the row status must be \"I\" or \"E\", got \"" + status + "\"");
  }
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  WritableGrid(s, branch, grid, "");
  auto rows = s.Query(
      "SELECT CDCLIENTE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? "
      "AND CDVIATURA = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
      {Value(branch), Value(grid), Value(vehicle), Value(order), Value(item)});
  if (rows.empty()) {
    throw Error("O item " + order + " / " + item + " não está no veículo " + vehicle +
                " da grade " + grid + ".");
  }
  const std::string client = S(rows[0][0]);
  const std::string wanted = OrderKey(stop_order);
  if (!wanted.empty()) {
    for (const Row& r :
         s.Query("SELECT DISTINCT NRORDENTREGRADE FROM ALOCGRADE WHERE CDFILIAL = ? AND "
                 "NRGRADEDISTR = ? AND CDVIATURA = ? AND CDCLIENTE <> ?",
                 {Value(branch), Value(grid), Value(vehicle), Value(client)})) {
      if (OrderKey(S(r[0])) == wanted) throw Error("Ordem já cadastrada.");
    }
  }
  s.Exec(
      "UPDATE ALOCGRADE SET NRORDENTREGRADE = ? WHERE CDFILIAL = ? AND NRGRADEDISTR = ? "
      "AND CDVIATURA = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
      {wanted.empty() ? Value::Null() : Value(stop_order), Value(branch), Value(grid),
       Value(vehicle), Value(order), Value(item)});
  return Variant(true);
}

Variant SetItinerario(Session& s, Args& a) {
  const DataPacket& delta = a.Packet(0);
  if (delta.kind != DataPacket::Kind::Delta) {
    throw Error("SetItinerario: a change log was expected, got a table");
  }
  const char* const kKey[] = {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "NRPEDIDO", "NRITEMPED"};
  auto field = [&](const char* name) {
    const int i = delta.FieldIndex(name);
    if (i < 0) throw Error(std::string("SetItinerario: the change log has no field ") + name);
    return i;
  };
  auto key_of = [&](const std::vector<Variant>& row) {
    std::vector<Value> key;
    for (const char* name : kKey) key.push_back(Value(S(row[field(name)])));
    return key;
  };
  const int text_col = delta.FieldIndex("DSITINERAGRADE");
  const int product_col = delta.FieldIndex("CDPRODUTO");
  const std::string where =
      " WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ? AND NRPEDIDO = ? AND "
      "NRITEMPED = ?";
  for (const data::RowChange& change : delta.changes) {
    if (change.state != data::RowState::Inserted) {
      s.Exec("DELETE FROM ITINERARIO" + where, key_of(change.old_values));
    }
    if (change.state == data::RowState::Deleted) continue;
    // A modified row carries empty cells for values it did not change.
    std::vector<Variant> row = change.new_values;
    for (std::size_t i = 0; i < row.size() && i < change.old_values.size(); ++i) {
      if (row[i].IsEmpty()) row[i] = change.old_values[i];
    }
    std::vector<Value> params = key_of(row);
    params.push_back(product_col < 0 ? Value::Null() : Value(S(row[product_col])));
    params.push_back(text_col < 0 ? Value::Null() : Value(S(row[text_col])));
    s.Exec("DELETE FROM ITINERARIO" + where,
           std::vector<Value>(params.begin(), params.begin() + 5));
    s.Exec(
        "INSERT INTO ITINERARIO (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED, "
        "CDPRODUTO, DSITINERAGRADE) VALUES (?, ?, ?, ?, ?, ?, ?)",
        params);
  }
  return Variant(true);
}

Variant SetPedidoCarro(Session& s, Args& a) {
  const std::string order = a.Text(0), branch = a.Text(1), code = a.Text(2), grid = a.Text(3);
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  WritableGrid(s, branch, grid, "");
  const Vehicle vehicle = RequireVehicle(s, code);
  TouchedLoads touched(branch, grid);
  touched.AddRows(s, " AND NRPEDIDO = ? AND CDVIATURA = ?", {Value(order), Value(code)});
  const int taken = s.Exec(
      "DELETE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND NRPEDIDO = ? AND "
      "CDVIATURA = ?",
      {Value(branch), Value(grid), Value(order), Value(code)});
  if (taken > 0) {
    touched.Refresh(s);
    DropRoutes(s, branch, grid);
    return Variant(true);
  }
  if (s.Query("SELECT 1 FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND NRPEDIDO = ?",
              {Value(branch), Value(grid), Value(order)})
          .empty()) {
    throw Error("O pedido " + order + " não pertence à grade " + grid + ".");
  }
  MoveItemsTo(s, branch, grid, vehicle, " AND NRPEDIDO = ?", {Value(order)});
  CheckCarriedWithinLeft(s, branch, grid, " AND NRPEDIDO = ?", {Value(order)},
                         "A alocação levaria mais do que resta a expedir:");
  return Variant(true);
}

Variant SetPedidos(Session& s, Args& a) {
  const std::string branch = a.Text(0), code = a.Text(1), grid = a.Text(2);
  if (code.empty()) throw Error("Nenhum veículo selecionado.");
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  WritableGrid(s, branch, grid, "");
  MoveItemsTo(s, branch, grid, RequireVehicle(s, code), "", {});
  CheckCarriedWithinLeft(s, branch, grid, "", {},
                         "A alocação levaria mais do que resta a expedir:");
  return Variant(true);
}

Variant SetRotaCalculada(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1), vehicle = a.Text(2);
  const std::vector<Value> key = {Value(branch), Value(grid), Value(vehicle)};
  s.Exec("DELETE FROM TOTALROTA WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ?", key);
  s.Exec(
      "INSERT INTO TOTALROTA (CDFILIAL, NRGRADEDISTR, CDVIATURA, DISTANCIA, TEMPO, GEOMETRIA) "
      "VALUES (?, ?, ?, ?, ?, ?)",
      {Value(branch), Value(grid), Value(vehicle), Value(a.Text(3)), Value(a.Text(4)),
       a.Text(6).empty() ? Value::Null() : Value(a.Text(6))});
  // The itinerary is the vehicle's: one row, whatever the number of items it
  // carries, so a call writes no more than it was sent.
  s.Exec("DELETE FROM ITINERARIO WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ?", key);
  s.Exec(
      "INSERT INTO ITINERARIO (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED, "
      "CDPRODUTO, DSITINERAGRADE) VALUES (?, ?, ?, '', '', NULL, ?)",
      {Value(branch), Value(grid), Value(vehicle), Value(a.Text(5))});
  return Variant(true);
}

Variant ExpedirGrade(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1);
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  if (*state == kDiscarded) {
    throw Error("A grade " + grid + " foi descartada e não pode ser expedida.");
  }
  // A grid dispatched already is answered false and changes nothing: the
  // hand-off was repeated, or retried after its answer was lost.
  if (*state != kOpen) {
    a.SetJournalNote("já expedida: nada alterado");
    return Variant(false);
  }
  // The grid and what it carries of each item are recorded together.
  a.SetJournalNote(RecordDispatch(s, branch, grid));
  s.Exec(
      "UPDATE GRADEDISTR SET IDSITGRADE = 'E', CDOPEREXPED = ?, DTHREXPEDICAO = ? "
      "WHERE CDFILIAL = ? AND NRGRADEDISTR = ?",
      {Value(a.Text(2)), Value(NowIso()), Value(branch), Value(grid)});
  return Variant(true);
}

}  // namespace dg::server::detail
