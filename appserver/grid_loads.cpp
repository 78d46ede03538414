#include "appserver/grid_loads.h"

#include <cmath>
#include <map>
#include <tuple>

#include "appserver/call_args.h"
#include "data/variant.h"

namespace dg::server::detail {

namespace {

// The sums every load is made of: the allocations of open and dispatched
// grids (a discarded grid keeps none).
const char* const kLoadSums =
    "COALESCE(SUM(a.QTTRANSP * a.VRPESOUNIT), 0), COALESCE(SUM(a.QTTRANSP * a.VRVOLUNIT), 0) "
    "FROM ALOCGRADE a JOIN GRADEDISTR g "
    "ON g.CDFILIAL = a.CDFILIAL AND g.NRGRADEDISTR = a.NRGRADEDISTR "
    "WHERE g.IDSITGRADE IN ('A', 'E')";

bool Same(double stored, double summed) {
  return std::abs(stored - summed) <= 1e-9 * std::max(1.0, std::abs(summed));
}

std::string Number(double d) { return data::Variant(d).ToString(); }

}  // namespace

const char* const kFillDayLoads =
    "INSERT INTO CARGAVEICULO (CDVIATURA, DTENTREGA, VRPESO, VRVOLUME) "
    "SELECT a.CDVIATURA, a.DTENTREGA, SUM(a.QTTRANSP * a.VRPESOUNIT), "
    "SUM(a.QTTRANSP * a.VRVOLUNIT) FROM ALOCGRADE a JOIN GRADEDISTR g "
    "ON g.CDFILIAL = a.CDFILIAL AND g.NRGRADEDISTR = a.NRGRADEDISTR "
    "WHERE g.IDSITGRADE IN ('A', 'E') AND a.DTENTREGA IS NOT NULL "
    "GROUP BY a.CDVIATURA, a.DTENTREGA";
const char* const kFillGridVehicles =
    "INSERT INTO GRADEVEICULO (CDFILIAL, NRGRADEDISTR, CDVIATURA, IDRETGRADEDISTR, QTPEDIDOS) "
    "SELECT CDFILIAL, NRGRADEDISTR, CDVIATURA, MAX(IDRETGRADEDISTR), COUNT(DISTINCT NRPEDIDO) "
    "FROM ALOCGRADE GROUP BY CDFILIAL, NRGRADEDISTR, CDVIATURA";

void RebuildLoads(Session& s) {
  s.Exec("DELETE FROM CARGAVEICULO");
  s.Exec(kFillDayLoads);
  s.Exec("DELETE FROM GRADEVEICULO");
  s.Exec(kFillGridVehicles);
}

void ClaimDayLoad(Session& s, const std::string& vehicle, const std::string& day) {
  s.Claim("load " + vehicle + " " + day);
}

Load LoadOf(Session& s, const std::string& vehicle, const std::string& day) {
  ClaimDayLoad(s, vehicle, day);
  auto rows =
      s.Query("SELECT VRPESO, VRVOLUME FROM CARGAVEICULO WHERE CDVIATURA = ? AND DTENTREGA = ?",
              {Value(vehicle), Value(day)});
  if (rows.empty()) return {};
  return {D(rows[0][0]), D(rows[0][1])};
}

void RefreshDayLoad(Session& s, const std::string& vehicle, const std::string& day) {
  // Whoever sums the day last holds the claim, and so sees every change of
  // the day's allocations committed before.
  ClaimDayLoad(s, vehicle, day);
  s.Exec(std::string("INSERT INTO CARGAVEICULO (CDVIATURA, DTENTREGA, VRPESO, VRVOLUME) "
                     "SELECT ?, ?, ") +
             kLoadSums +
             " AND a.CDVIATURA = ? AND a.DTENTREGA = ? "
             "ON CONFLICT (CDVIATURA, DTENTREGA) DO UPDATE SET VRPESO = excluded.VRPESO, "
             "VRVOLUME = excluded.VRVOLUME",
         {Value(vehicle), Value(day), Value(vehicle), Value(day)});
}

void RefreshGridVehicle(Session& s, const std::string& branch, const std::string& grid,
                        const std::string& vehicle) {
  s.Exec(
      "INSERT INTO GRADEVEICULO (CDFILIAL, NRGRADEDISTR, CDVIATURA, IDRETGRADEDISTR, QTPEDIDOS) "
      "SELECT ?, ?, ?, MAX(IDRETGRADEDISTR), COUNT(DISTINCT NRPEDIDO) FROM ALOCGRADE "
      "WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ? "
      "ON CONFLICT (CDFILIAL, NRGRADEDISTR, CDVIATURA) DO UPDATE SET "
      "IDRETGRADEDISTR = excluded.IDRETGRADEDISTR, QTPEDIDOS = excluded.QTPEDIDOS",
      {Value(branch), Value(grid), Value(vehicle), Value(branch), Value(grid), Value(vehicle)});
}

std::string VehicleFlag(Session& s, const std::string& branch, const std::string& grid,
                        const std::string& vehicle) {
  auto rows = s.Query(
      "SELECT IDRETGRADEDISTR FROM GRADEVEICULO WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
      "CDVIATURA = ?",
      {Value(branch), Value(grid), Value(vehicle)});
  return rows.empty() ? std::string() : S(rows[0][0]);
}

void TouchedLoads::Add(const std::string& vehicle, const std::string& day) {
  days_.insert({vehicle, day});
  vehicles_.insert(vehicle);
}

void TouchedLoads::AddRows(Session& s, const std::string& where, const std::vector<Value>& params) {
  std::vector<Value> all = {Value(branch_), Value(grid_)};
  all.insert(all.end(), params.begin(), params.end());
  // Without DISTINCT: SQLite would read the rows in the order of the
  // vehicle-and-day index, that is every allocation of the vehicle in every
  // grid; the set drops the repeats.
  for (const Row& r : s.Query("SELECT CDVIATURA, DTENTREGA FROM ALOCGRADE "
                              "WHERE CDFILIAL = ? AND NRGRADEDISTR = ?" +
                                  where,
                              all)) {
    Add(S(r[0]), S(r[1]));
  }
}

void TouchedLoads::Refresh(Session& s) {
  for (const auto& [vehicle, day] : days_) RefreshDayLoad(s, vehicle, day);
  for (const std::string& vehicle : vehicles_) RefreshGridVehicle(s, branch_, grid_, vehicle);
  days_.clear();
  vehicles_.clear();
}

void TouchedLoads::RefreshWholeGrid(Session& s) {
  for (const auto& [vehicle, day] : days_) RefreshDayLoad(s, vehicle, day);
  const std::vector<Value> key = {Value(branch_), Value(grid_)};
  s.Exec("DELETE FROM GRADEVEICULO WHERE CDFILIAL = ? AND NRGRADEDISTR = ?", key);
  s.Exec(
      "INSERT INTO GRADEVEICULO (CDFILIAL, NRGRADEDISTR, CDVIATURA, IDRETGRADEDISTR, QTPEDIDOS) "
      "SELECT CDFILIAL, NRGRADEDISTR, CDVIATURA, MAX(IDRETGRADEDISTR), COUNT(DISTINCT NRPEDIDO) "
      "FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? "
      "GROUP BY CDFILIAL, NRGRADEDISTR, CDVIATURA",
      key);
  days_.clear();
  vehicles_.clear();
}

std::vector<std::string> StaleLoads(Session& s) {
  std::vector<std::string> out;
  // Per vehicle and day: what is stored against what the allocations sum.
  std::map<std::pair<std::string, std::string>, std::pair<Load, Load>> days;
  for (const Row& r : s.Query("SELECT CDVIATURA, DTENTREGA, VRPESO, VRVOLUME FROM CARGAVEICULO")) {
    days[{S(r[0]), S(r[1])}].first = {D(r[2]), D(r[3])};
  }
  for (const Row& r : s.Query(std::string("SELECT a.CDVIATURA, a.DTENTREGA, ") + kLoadSums +
                              " AND a.DTENTREGA IS NOT NULL GROUP BY a.CDVIATURA, a.DTENTREGA")) {
    days[{S(r[0]), S(r[1])}].second = {D(r[2]), D(r[3])};
  }
  for (const auto& [key, loads] : days) {
    const auto& [stored, summed] = loads;
    if (Same(stored.weight, summed.weight) && Same(stored.volume, summed.volume)) continue;
    out.push_back("CARGAVEICULO " + key.first + " " + key.second + ": " + Number(stored.weight) +
                  " kg, " + Number(stored.volume) + " m3 stored, " + Number(summed.weight) +
                  " kg, " + Number(summed.volume) + " m3 allocated");
  }
  // Per grid and vehicle: return flag and number of orders.
  using Key = std::tuple<std::string, std::string, std::string>;
  std::map<Key, std::pair<std::string, std::string>> vehicles;
  auto text = [](const Row& r) { return S(r[3]) + "/" + Number(D(r[4])); };
  for (const Row& r : s.Query("SELECT CDFILIAL, NRGRADEDISTR, CDVIATURA, IDRETGRADEDISTR, "
                              "QTPEDIDOS FROM GRADEVEICULO WHERE QTPEDIDOS > 0")) {
    vehicles[{S(r[0]), S(r[1]), S(r[2])}].first = text(r);
  }
  for (const Row& r :
       s.Query("SELECT CDFILIAL, NRGRADEDISTR, CDVIATURA, MAX(IDRETGRADEDISTR), "
               "COUNT(DISTINCT NRPEDIDO) FROM ALOCGRADE GROUP BY CDFILIAL, NRGRADEDISTR, "
               "CDVIATURA")) {
    vehicles[{S(r[0]), S(r[1]), S(r[2])}].second = text(r);
  }
  for (const auto& [key, flags] : vehicles) {
    if (flags.first == flags.second) continue;
    out.push_back("GRADEVEICULO " + std::get<0>(key) + "/" + std::get<1>(key) + " " +
                  std::get<2>(key) + ": flag/orders " +
                  (flags.first.empty() ? "none" : flags.first) + " stored, " +
                  (flags.second.empty() ? "none" : flags.second) + " allocated");
  }
  return out;
}

}  // namespace dg::server::detail
