// Internal to the server object: the queries on vehicles, grids, items and
// allocations its methods share, each a named step over a session.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "appserver/call_args.h"
#include "appserver/grid_loads.h"
#include "appserver/storage.h"

namespace dg::server::detail {

struct Vehicle {
  std::string code;
  std::string description;
  double weight = 0;  // capacity
  double volume = 0;
  std::string type;
  std::string inscription;
};
// The transporter's fleet in vehicle code order; unordered (no sort) for a
// caller that only looks vehicles up by code.
std::vector<Vehicle> VehiclesOf(Session& s, const Transporter& t, bool ordered = true);
// Which of `codes` name a vehicle of the transporter's fleet (exactly, letter
// case included): one flag per code, in the order given. The fleet is read
// row by row against the codes sorted once, without keeping its rows.
std::vector<bool> InFleet(Session& s, const Transporter& t, const std::vector<std::string>& codes);
std::optional<Vehicle> FindVehicle(Session& s, const std::string& code);
bool TransporterExists(Session& s, const Transporter& t);

// Grid states as stored.
inline constexpr const char* kOpen = "A";
inline constexpr const char* kDispatched = "E";
inline constexpr const char* kDiscarded = "C";

std::optional<std::string> GridState(Session& s, const std::string& branch,
                                     const std::string& grid);
// The last grid number a branch gets: the grid number field holds 10
// digits.
inline constexpr std::int64_t kLastGridNumber = 9'999'999'999;
// Reserves the next number of the branch as an open grid: one above the
// highest it has had. Refuses when that would be above kLastGridNumber.
std::string NewGrid(Session& s, const std::string& branch, const std::string& operator_code);
// Claims the grid for the write (Session::Claim): every write of a grid
// claims it before reading it, so one grid's writes run one at a time.
void ClaimGrid(Session& s, const std::string& branch, const std::string& grid);
// Refuses a grid the branch does not have, and one dispatched or discarded.
void RequireOpenGrid(Session& s, const std::string& branch, const std::string& grid);
// The grid to write into: a new one when `grid` is empty, else `grid` when
// it is open (RequireOpenGrid).
std::string WritableGrid(Session& s, const std::string& branch, const std::string& grid,
                         const std::string& operator_code);
// Drops itineraries and route totals of the grid (allocations changed).
void DropRoutes(Session& s, const std::string& branch, const std::string& grid);

// In a query over the grid's allocations `a` grouped by client, the client's
// name as the grid's items of those allocations hold it. Each allocation
// looks up its own item by the item's key, so the cost follows the rows
// read whatever the database's statistics say of a grid written since they
// were gathered (a join there could be planned as every allocation against
// every item of the grid).
inline constexpr const char* kItemClientName =
    "MAX((SELECT i.NMFANTCLIE FROM ITEMGRADE i WHERE i.CDFILIAL = a.CDFILIAL AND "
    "i.NRGRADEDISTR = a.NRGRADEDISTR AND i.NRPEDIDO = a.NRPEDIDO AND "
    "i.NRITEMPED = a.NRITEMPED))";

// Capacity refusals, as the clerk reads them.
inline constexpr const char* kItemWeightExceeded =
    "Peso suportado pelo veículo é menor que o peso do produto.";
inline constexpr const char* kItemVolumeExceeded =
    "Volume suportado pelo veículo é menor que o volume do produto.";
inline constexpr const char* kOrderWeightExceeded =
    "Peso do pedido excede a capacidade máxima do veículo.";
inline constexpr const char* kOrderVolumeExceeded =
    "Volume do pedido excede a capacidade máxima do veículo.";

// Throws when what the grids load on the vehicle for the day exceeds its
// capacity after whole orders moved onto it, weight first, with the text the
// clerk reads as it stands (only the distribution answers with a message key).
void CheckCapacity(Session& s, const Vehicle& vehicle, const std::string& day);

// One vehicle row of a save (SetGrade): the weight and volume `need` of the
// item's new quantity on `vehicle`, whose load of the day is `load` with the
// row's old weight and volume `held` still on it, must fit by the rule the
// screen checked the row with (data::LoadFits), weight first; the refusal is
// the screen's own text. A row that loads no more than it did passes, so a
// vehicle that other grids filled meanwhile still takes back what it had.
void CheckRowFits(const Vehicle& vehicle, const Load& load, const Load& need, const Load& held);

// What the grid knows of one of its items (or the item table, when the grid
// has not seen it).
struct ItemInfo {
  bool found = false;
  std::string product;
  std::string client;
  std::string client_name;
  double quantity = 0;
  double unit_weight = 0;
  double unit_volume = 0;
  std::string day;
  std::string delivery;  // ISO date-time
  std::string route;
};
ItemInfo FindItem(Session& s, const std::string& branch, const std::string& grid,
                  const std::string& order, const std::string& item);
void InsertGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info,
                    const std::string& priority);
// Adds the item to the grid's item list unless it is there.
void EnsureGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info);

// The vehicle packet (cdsVeiculo) for one item of the grid.
data::Variant VehiclePacket(Session& s, const Transporter& t, const data::Variant& delivery,
                            const std::string& day, const std::string& branch,
                            const std::string& order, const std::string& item,
                            const std::string& grid);
// Delivery points without address (cdsErro) of the grid, or of one vehicle.
data::Variant ErrorPacket(Session& s, const std::string& grid, const std::string& vehicle,
                          const std::string& branch);

// ---- allocations: one row per grid, vehicle and order item.
//
// Every change of the allocations goes through these helpers, which keep the
// loads of grid_loads.h. Those given a TouchedLoads leave the loads to the
// caller's TouchedLoads::Refresh, which must come before the next capacity
// check and before the transaction ends; the others bring them up to date at
// once.

// Empties the grid: its allocations, items and routes.
void ClearGrid(Session& s, const std::string& branch, const std::string& grid,
               TouchedLoads* touched = nullptr);

struct NewAllocation {
  std::string branch, grid, vehicle, order, item, product, client;
  double quantity = 0, unit_weight = 0, unit_volume = 0;
  std::string flag, route, day, delivery, operator_code, stop_order;
  bool operator==(const NewAllocation&) const = default;
};
void InsertAllocation(Session& s, const NewAllocation& n, TouchedLoads* touched = nullptr);

// ---- the grid written again as a whole (grid_rewrite.cpp): rows in the
// column order of ITEMGRADE and of ALOCGRADE. Only the rows that differ from
// the stored ones are written.

std::vector<Value> GridItemRow(const std::string& branch, const std::string& grid,
                               const std::string& order, const std::string& item,
                               const ItemInfo& info, const std::string& priority);
std::vector<Value> AllocationRow(const NewAllocation& n);
// Makes the grid's items those of `items`.
void RewriteGridItems(Session& s, const std::string& branch, const std::string& grid,
                      const std::vector<Row>& items);
// Makes the grid's allocations those of `allocations`; `touched` receives
// the vehicle and day of every allocation added, changed or removed.
void RewriteAllocations(Session& s, const std::string& branch, const std::string& grid,
                        const std::vector<Row>& allocations, TouchedLoads& touched);
// What the open and dispatched grids other than `grid` load on each vehicle
// of the transporter for the day, by vehicle code (vehicles without load
// absent). Claims every vehicle's day first (ClaimDayLoad).
std::map<std::string, Load> TransporterLoadsBesides(Session& s, const Transporter& t,
                                                    const std::string& day,
                                                    const std::string& branch,
                                                    const std::string& grid);

// The vehicle, or Error "Veículo … não cadastrado.".
Vehicle RequireVehicle(Session& s, const std::string& code);

// The delivery order already given to the client's stop on the vehicle.
std::string StopOrder(Session& s, const std::string& branch, const std::string& grid,
                      const std::string& vehicle, const std::string& client);

// Puts the whole of the grid items selected by `where` (SQL on ITEMGRADE
// with the branch and grid as first parameters) on one vehicle, replacing
// their allocations, and checks the vehicle's capacity.
void MoveItemsTo(Session& s, const std::string& branch, const std::string& grid,
                 const Vehicle& vehicle, const std::string& where, const std::vector<Value>& extra);

struct AllocationKey {
  std::string branch, grid, vehicle, order, item;
};
// What an order item's allocation on a vehicle holds.
struct Allocation {
  Load held;               // its weight and volume
  std::string stop_order;  // NRORDENTREGRADE, "" for none
  std::string day;         // DTENTREGA
};
std::optional<Allocation> FindAllocation(Session& s, const AllocationKey& key);
// Removes the allocation, whose delivery day is `day`.
void DeleteAllocation(Session& s, const AllocationKey& key, const std::string& day,
                      TouchedLoads* touched = nullptr);
// The return flag of every allocation of the vehicle in the grid.
void SetVehicleFlag(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& vehicle, const std::string& flag);
// The allocations of an order item in the grid as stored, by vehicle.
std::map<std::string, NewAllocation> ItemAllocations(Session& s, const std::string& branch,
                                                     const std::string& grid,
                                                     const std::string& order,
                                                     const std::string& item);
// The quantity each vehicle of the grid carries of an order item.
std::vector<double> ItemQuantities(Session& s, const std::string& branch, const std::string& grid,
                                   const std::string& order, const std::string& item);
// Discards an open grid: its items, allocations, itineraries and totals go,
// the number stays used (DelGrade, and the release of idle grids).
void DiscardGrid(Session& s, const std::string& branch, const std::string& grid);

}  // namespace dg::server::detail
