// Internal to the server object: what the grids load on each vehicle, kept
// beside the allocations so that reading it costs the same however many
// grids and allocations the database holds.
//
// Two tables follow the allocations (ALOCGRADE) of every write, in the
// write's own transaction:
//   CARGAVEICULO  per vehicle and delivery day, the weight and volume the
//                 allocations of open and dispatched grids load on it;
//   GRADEVEICULO  per grid and vehicle, the vehicle's return flag in the
//                 grid and how many orders it carries there.
// Each row is worked out again from the allocations it sums whenever one of
// them changes (never adjusted by differences, so it cannot drift): a
// vehicle's day holds what the vehicle can carry, and a grid's vehicle its
// share of the grid, so the cost of a write stays that of its own vehicles.
// Every change of ALOCGRADE goes through the helpers of grade_queries.h,
// which keep both tables; a new kind of write must do the same.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"

namespace dg::server::detail {

// What open and dispatched grids load on a vehicle for a delivery day.
struct Load {
  double weight = 0;
  double volume = 0;
};
// Claims the vehicle's day for the write (Session::Claim). Whatever reads a
// day's load to decide, or changes it, claims the day first: LoadOf and
// RefreshDayLoad do, and a write that reads loads otherwise
// (TransporterLoadsBesides) claims them itself. A write that changes
// allocations first and checks the load after (MoveItemsTo) reads it after
// the refresh, which claimed it.
void ClaimDayLoad(Session& s, const std::string& vehicle, const std::string& day);
// Claims the day (ClaimDayLoad).
Load LoadOf(Session& s, const std::string& vehicle, const std::string& day);

// The vehicles and days a write changed in one grid, brought up to date
// together once the write's rows are in place.
class TouchedLoads {
 public:
  TouchedLoads(std::string branch, std::string grid)
      : branch_(std::move(branch)), grid_(std::move(grid)) {}
  // An allocation of the grid on `vehicle` for `day` was added, removed or
  // changed.
  void Add(const std::string& vehicle, const std::string& day);
  // Adds the vehicle and day of every allocation of the grid that `where`
  // selects (SQL on ALOCGRADE after the branch and grid, with `params`).
  void AddRows(Session& s, const std::string& where, const std::vector<Value>& params);
  // Whether nothing was touched since the last refresh.
  bool empty() const { return days_.empty() && vehicles_.empty(); }
  // Works out every touched row again; the set is empty afterwards.
  void Refresh(Session& s);
  // The same after a write that changed the whole grid: the grid's vehicles
  // are worked out again in one pass over its allocations.
  void RefreshWholeGrid(Session& s);

 private:
  std::string branch_, grid_;
  std::set<std::pair<std::string, std::string>> days_;
  std::set<std::string> vehicles_;
};

// Works out one vehicle's load of a day again from the allocations; claims
// the day (ClaimDayLoad).
void RefreshDayLoad(Session& s, const std::string& vehicle, const std::string& day);
// Works out the vehicle's row of the grid again from its allocations.
void RefreshGridVehicle(Session& s, const std::string& branch, const std::string& grid,
                        const std::string& vehicle);
// The return flag of the vehicle in the grid, "" when it carries nothing.
std::string VehicleFlag(Session& s, const std::string& branch, const std::string& grid,
                        const std::string& vehicle);

// Fill the empty tables from every allocation stored (for the schema step
// that adds them, and for RebuildLoads).
extern const char* const kFillDayLoads;
extern const char* const kFillGridVehicles;

// Works out every maintained row again from the allocations: after
// allocations were written around the server (a bulk load, a repair).
void RebuildLoads(Session& s);

// Every maintained row that differs from what the allocations say, one text
// each ("CARGAVEICULO V1 2025-06-10: 40 kg stored, 60 kg allocated"); empty
// when all agree. For tests and the consistency check of a database.
std::vector<std::string> StaleLoads(Session& s);

}  // namespace dg::server::detail
