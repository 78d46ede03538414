#include "appserver/grade_queries.h"

#include <algorithm>
#include <map>
#include <set>

#include "data/quantity.h"
#include "planning/packing.h"

namespace dg::server::detail {

using data::Variant;
using data::VariantKind;
using planning::FitsWithin;
using planning::Round3;

namespace {

Vehicle VehicleFromRow(const Row& r) {
  return Vehicle{S(r[0]), S(r[1]), D(r[2]), D(r[3]), S(r[4]), S(r[5])};
}

const char* const kVehicleColumns =
    "SELECT CDVIATURA, DSTIPOVEIC, QTCAPACIVIAT, VRVOLUMEVIAT, IDTPIJURTRAN, NRINSJURTRAN "
    "FROM VEICULO ";

}  // namespace

// ---- vehicles and capacity -------------------------------------------------

std::vector<Vehicle> VehiclesOf(Session& s, const Transporter& t, bool ordered) {
  static const std::string kOfTransporter =
      std::string(kVehicleColumns) + "WHERE IDTPIJURTRAN = ? AND NRINSJURTRAN = ?";
  static const std::string kOrdered = kOfTransporter + " ORDER BY CDVIATURA";
  std::vector<Vehicle> out;
  for (const Row& r :
       s.Query(ordered ? kOrdered : kOfTransporter, {Value(t.type), Value(t.inscription)})) {
    out.push_back(VehicleFromRow(r));
  }
  return out;
}

std::vector<bool> InFleet(Session& s, const Transporter& t, const std::vector<std::string>& codes) {
  std::vector<bool> known(codes.size(), false);
  if (codes.empty()) return known;
  // The codes' positions sorted by code; a code given twice gets each flag.
  std::vector<std::size_t> by_code(codes.size());
  for (std::size_t i = 0; i < codes.size(); ++i) by_code[i] = i;
  std::sort(by_code.begin(), by_code.end(),
            [&](std::size_t a, std::size_t b) { return codes[a] < codes[b]; });
  s.ForEachRow("SELECT CDVIATURA FROM VEICULO WHERE IDTPIJURTRAN = ? AND NRINSJURTRAN = ?",
               {Value(t.type), Value(t.inscription)}, [&](const Row& r) {
                 // A code is text as stored; anything else is read as the
                 // other look-ups read it.
                 std::string other;
                 const std::string* held = r[0].IfString();
                 if (held == nullptr) other = S(r[0]);
                 const std::string& code = held != nullptr ? *held : other;
                 auto at = std::lower_bound(
                     by_code.begin(), by_code.end(), code,
                     [&](std::size_t i, const std::string& c) { return codes[i] < c; });
                 for (; at != by_code.end() && codes[*at] == code; ++at) known[*at] = true;
               });
  return known;
}

std::optional<Vehicle> FindVehicle(Session& s, const std::string& code) {
  auto rows = s.Query(std::string(kVehicleColumns) + "WHERE CDVIATURA = ?", {Value(code)});
  if (rows.empty()) return std::nullopt;
  return VehicleFromRow(rows[0]);
}

bool TransporterExists(Session& s, const Transporter& t) {
  return !s.Query("SELECT 1 FROM TRANSPORT WHERE IDTPIJURTRAN = ? AND NRINSJURTRAN = ?",
                  {Value(t.type), Value(t.inscription)})
              .empty();
}

void CheckCapacity(Session& s, const Vehicle& vehicle, const std::string& day) {
  const Load load = LoadOf(s, vehicle.code, day);
  if (!FitsWithin(load.weight, vehicle.weight)) throw Error(kOrderWeightExceeded);
  if (!FitsWithin(load.volume, vehicle.volume)) throw Error(kOrderVolumeExceeded);
}

void CheckRowFits(const Vehicle& vehicle, const Load& load, const Load& need, const Load& held) {
  if (need.weight <= held.weight && need.volume <= held.volume) return;
  if (!data::LoadFits(need.weight, vehicle.weight - load.weight, held.weight)) {
    throw Error(kItemWeightExceeded);
  }
  if (!data::LoadFits(need.volume, vehicle.volume - load.volume, held.volume)) {
    throw Error(kItemVolumeExceeded);
  }
}

// ---- grids -----------------------------------------------------------------

std::optional<std::string> GridState(Session& s, const std::string& branch,
                                     const std::string& grid) {
  auto rows = s.Query("SELECT IDSITGRADE FROM GRADEDISTR WHERE CDFILIAL = ? AND NRGRADEDISTR = ?",
                      {Value(branch), Value(grid)});
  if (rows.empty()) return std::nullopt;
  return S(rows[0][0]);
}

namespace {

void InsertGrid(Session& s, const std::string& branch, const std::string& grid, std::int64_t seq,
                const std::string& operator_code) {
  s.Exec(
      "INSERT INTO GRADEDISTR (CDFILIAL, NRGRADEDISTR, NRSEQGRADE, IDSITGRADE, CDOPERLANC, "
      "DTHRABERTURA) VALUES (?, ?, ?, 'A', ?, ?)",
      {Value(branch), Value(grid), Value(seq), Value(operator_code), Value(NowIso())});
}

}  // namespace

void ClaimGrid(Session& s, const std::string& branch, const std::string& grid) {
  s.Claim("grid " + branch + "/" + grid);
}

std::string NewGrid(Session& s, const std::string& branch, const std::string& operator_code) {
  // Writers numbering the same branch's grids take turns, each reading the
  // number the one before took.
  s.Claim("grid numbers " + branch);
  auto rows = s.Query("SELECT MAX(NRSEQGRADE) FROM GRADEDISTR WHERE CDFILIAL = ?", {Value(branch)});
  const std::int64_t last = rows[0][0].IsNull() ? 0 : rows[0][0].ToInt64();
  // Numbers only grow, one a grid; the last one the field holds is the last
  // the branch gets (at a grid a second, three centuries away).
  if (last >= kLastGridNumber) {
    throw Error("A filial " + branch + " não tem mais números de grade: a última é " +
                std::to_string(kLastGridNumber) + ".");
  }
  char text[24];
  std::snprintf(text, sizeof text, "%06lld", static_cast<long long>(last + 1));
  InsertGrid(s, branch, text, last + 1, operator_code);
  return text;
}

void RequireOpenGrid(Session& s, const std::string& branch, const std::string& grid) {
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  if (*state == kDispatched) {
    throw Error("A grade " + grid + " já foi expedida e não pode ser alterada.");
  }
  if (*state == kDiscarded) {
    throw Error("A grade " + grid + " foi descartada e não pode ser alterada.");
  }
}

std::string WritableGrid(Session& s, const std::string& branch, const std::string& grid,
                         const std::string& operator_code) {
  if (grid.empty()) return NewGrid(s, branch, operator_code);
  // A number the server did not hand out is refused, never taken.
  RequireOpenGrid(s, branch, grid);
  return grid;
}

void DropRoutes(Session& s, const std::string& branch, const std::string& grid) {
  const std::vector<Value> key = {Value(branch), Value(grid)};
  s.Exec("DELETE FROM ITINERARIO WHERE CDFILIAL = ? AND NRGRADEDISTR = ?", key);
  s.Exec("DELETE FROM TOTALROTA WHERE CDFILIAL = ? AND NRGRADEDISTR = ?", key);
}

// ---- items -----------------------------------------------------------------

ItemInfo FindItem(Session& s, const std::string& branch, const std::string& grid,
                  const std::string& order, const std::string& item) {
  ItemInfo info;
  auto rows = s.Query(
      "SELECT CDPRODUTO, CDCLIENTE, NMFANTCLIE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, DTENTREGA, "
      "DTHRENTGRADE, CDROTATRANS FROM ITEMGRADE "
      "WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
      {Value(branch), Value(grid), Value(order), Value(item)});
  if (rows.empty()) {
    rows = s.Query(
        "SELECT CDPRODUTO, CDCLIENTE, NMFANTCLIE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, "
        "SUBSTR(DTENTPED, 1, 10), DTENTPED, COALESCE(CDROTATRANSPED, CDROTAFILIAL) "
        "FROM ITEMPEDIDO WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
        {Value(branch), Value(order), Value(item)});
  }
  if (rows.empty()) return info;
  const Row& r = rows[0];
  info = {true, S(r[0]), S(r[1]), S(r[2]), D(r[3]), D(r[4]), D(r[5]), S(r[6]), S(r[7]), S(r[8])};
  return info;
}

void InsertGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info,
                    const std::string& priority) {
  s.Exec(
      "INSERT INTO ITEMGRADE (CDFILIAL, NRGRADEDISTR, NRPEDIDO, NRITEMPED, CDPRODUTO, "
      "CDCLIENTE, NMFANTCLIE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, IDPRIOPED, DTENTREGA, "
      "DTHRENTGRADE, CDROTATRANS) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      GridItemRow(branch, grid, order, item, info, priority));
}

void EnsureGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info) {
  if (s.Query("SELECT 1 FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
              "NRPEDIDO = ? AND NRITEMPED = ?",
              {Value(branch), Value(grid), Value(order), Value(item)})
          .empty()) {
    InsertGridItem(s, branch, grid, order, item, info, "");
  }
}

// ---- shared packets --------------------------------------------------------

Variant VehiclePacket(Session& s, const Transporter& t, const Variant& delivery,
                      const std::string& day, const std::string& branch, const std::string& order,
                      const std::string& item, const std::string& grid) {
  PacketBuilder p;
  p.Str("DSTIPOVEIC", 50)
      .Dbl("QtTranspItGr")
      .Dbl("QTCAPACIVIAT")
      .Str("CDVIATURA", 4)
      .Dbl("VRVOLUMEVIAT")
      .Dbl("VrPesTranspItGr")
      .Dbl("VRPESOUTIL")
      .Str("IDTPIJURTRAN", 1)
      .Str("NRINSJURTRAN", 20)
      .Str("CDFILIAL", 4)
      .Str("NRPEDIDO", 10)
      .Date("DTHRENTGRADE")
      .Str("CDPRODUTO", 10)
      .Str("NRITEMPED", 10)
      .Dbl("VrVolTranspItGr")
      .Dbl("VRVOLUMEUTIL")
      .Str("IDRETGRADEDISTR", 1)
      .Str("NRGRADEDISTR", 10)
      .Str("CDOPERLANCGRAD", 12)
      .Str("CDROTATRANS", 6);
  // The fleet with, for each vehicle, its load of the day and its flag in
  // the grid, in one pass; the item's allocations (a few rows, through the
  // allocations' item key) and the item itself (its product and route, from
  // the grid or, when the grid does not hold it yet, from the branch's
  // items) are read once beside it rather than looked up again for every
  // vehicle of the fleet.
  static const std::string kFleet =
      "SELECT v.CDVIATURA, v.DSTIPOVEIC, v.QTCAPACIVIAT, v.VRVOLUMEVIAT, v.IDTPIJURTRAN, "
      "v.NRINSJURTRAN, c.VRPESO, c.VRVOLUME, gv.IDRETGRADEDISTR FROM VEICULO v "
      "LEFT JOIN CARGAVEICULO c ON c.CDVIATURA = v.CDVIATURA AND c.DTENTREGA = ? "
      "LEFT JOIN GRADEVEICULO gv ON gv.CDFILIAL = ? AND gv.NRGRADEDISTR = ? "
      "AND gv.CDVIATURA = v.CDVIATURA "
      "WHERE v.IDTPIJURTRAN = ? AND v.NRINSJURTRAN = ? ORDER BY v.CDVIATURA";
  static const std::string kAllocations =
      "SELECT CDVIATURA, QTTRANSP, VRPESOUNIT, VRVOLUNIT, IDRETGRADEDISTR, CDOPERLANCGRAD, "
      "CDROTATRANS FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND NRPEDIDO = ? "
      "AND NRITEMPED = ?";
  const std::vector<Row> fleet =
      s.Query(kFleet, {Value(day), Value(branch), Value(grid), Value(t.type), Value(t.inscription)});
  if (fleet.empty()) return p.Build();
  const ItemInfo info = FindItem(s, branch, grid, order, item);
  std::map<std::string, Row> allocations;
  for (Row& r : s.Query(kAllocations, {Value(branch), Value(grid), Value(order), Value(item)})) {
    std::string code = S(r[0]);
    allocations.emplace(std::move(code), std::move(r));
  }
  for (const Row& r : fleet) {
    const Vehicle v = VehicleFromRow(r);
    const Load load{D(r[6]), D(r[7])};
    Variant quantity, weight, volume, operator_code;
    std::string flag = S(r[8]), route = info.route;
    if (const auto al = allocations.find(v.code); al != allocations.end()) {
      const Row& a = al->second;
      const double carried = D(a[1]);
      quantity = Variant(carried);
      weight = Variant(Round3(carried * D(a[2])));
      volume = Variant(Round3(carried * D(a[3])));
      flag = S(a[4]);
      operator_code = Variant(S(a[5]));
      if (!S(a[6]).empty()) route = S(a[6]);
    }
    p.Add({Variant(v.description),
           quantity,
           Variant(v.weight),
           Variant(v.code),
           Variant(v.volume),
           weight,
           Variant(v.weight - load.weight),
           Variant(v.type),
           Variant(v.inscription),
           Variant(branch),
           Variant(order),
           delivery,
           Variant(info.product),
           Variant(item),
           volume,
           Variant(v.volume - load.volume),
           Variant(flag),
           Variant(grid),
           operator_code,
           Variant(route)});
  }
  return p.Build();
}

Variant ErrorPacket(Session& s, const std::string& grid, const std::string& vehicle,
                    const std::string& branch) {
  PacketBuilder p;
  p.Str("CODIGO", 21).Str("NOME", 50);
  if (grid.empty()) return p.Build();
  // One pass: the clients of the grid's allocations (of the vehicle, when
  // one is named) with their registered name and address, and the branch's
  // row beside each. The name the items carry is read only for a client
  // without address whose record has no name (the CASE leaves the look-up
  // out for every other one).
  static const auto statement = [](bool of_vehicle) {
    const std::string vehicle_x = of_vehicle ? " AND x.CDVIATURA = ?" : "";
    const std::string vehicle_a = of_vehicle ? " AND CDVIATURA = ?" : "";
    return "SELECT a.CDCLIENTE, c.NMFANTCLIE, c.ENDERECO, "
           "CASE WHEN COALESCE(c.NMFANTCLIE, '') = '' AND "
           "REPLACE(COALESCE(c.ENDERECO, ''), ' ', '') = '' THEN "
           "(SELECT MAX(i.NMFANTCLIE) FROM ALOCGRADE x JOIN ITEMGRADE i ON "
           "i.CDFILIAL = x.CDFILIAL AND i.NRGRADEDISTR = x.NRGRADEDISTR AND "
           "i.NRPEDIDO = x.NRPEDIDO AND i.NRITEMPED = x.NRITEMPED "
           "WHERE x.CDFILIAL = ? AND x.NRGRADEDISTR = ?" +
           vehicle_x +
           " AND x.CDCLIENTE = a.CDCLIENTE) END, f.CDFILIAL, f.NMFILIAL, f.ENDERECO "
           "FROM (SELECT DISTINCT CDCLIENTE FROM ALOCGRADE WHERE CDFILIAL = ? AND "
           "NRGRADEDISTR = ?" +
           vehicle_a +
           ") a LEFT JOIN CLIENTE c ON c.CDCLIENTE = a.CDCLIENTE "
           "LEFT JOIN FILIAL f ON f.CDFILIAL = ? ORDER BY a.CDCLIENTE";
  };
  static const std::string kOfGrid = statement(false), kOfVehicle = statement(true);
  std::vector<Value> params;
  params.reserve(7);
  for (int twice = 0; twice < 2; ++twice) {
    params.emplace_back(branch);
    params.emplace_back(grid);
    if (!vehicle.empty()) params.emplace_back(vehicle);
  }
  params.emplace_back(branch);
  const std::vector<Row> clients = s.Query(vehicle.empty() ? kOfGrid : kOfVehicle, params);
  if (clients.empty()) return p.Build();
  auto blank = [](const Value& text) {
    return S(text).find_first_not_of(' ') == std::string::npos;
  };
  // The branch's own row first, when the branch has no address.
  const Row& first = clients.front();
  if (first[4].IsNull() || blank(first[6])) {
    const std::string name = S(first[5]);
    p.Add({Variant(branch), Variant(name.empty() ? "Filial " + branch : name)});
  }
  for (const Row& r : clients) {
    if (S(r[0]).empty() || !blank(r[2])) continue;
    const std::string name = S(r[1]);
    p.Add({Variant(S(r[0])), Variant(name.empty() ? S(r[3]) : name)});
  }
  return p.Build();
}

// ---- allocations -----------------------------------------------------------

void ClearGrid(Session& s, const std::string& branch, const std::string& grid,
               TouchedLoads* touched) {
  const std::vector<Value> key = {Value(branch), Value(grid)};
  TouchedLoads own(branch, grid);
  TouchedLoads& loads = touched ? *touched : own;
  loads.AddRows(s, "", {});
  s.Exec("DELETE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ?", key);
  s.Exec("DELETE FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ?", key);
  DropRoutes(s, branch, grid);
  if (!touched) own.RefreshWholeGrid(s);
}

void InsertAllocation(Session& s, const NewAllocation& n, TouchedLoads* touched) {
  s.Exec(
      "INSERT INTO ALOCGRADE (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED, "
      "CDPRODUTO, CDCLIENTE, QTTRANSP, VRPESOUNIT, VRVOLUNIT, IDRETGRADEDISTR, CDROTATRANS, "
      "DTENTREGA, DTHRENTGRADE, CDOPERLANCGRAD, NRORDENTREGRADE) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      AllocationRow(n));
  if (touched) {
    touched->Add(n.vehicle, n.day);
  } else {
    RefreshDayLoad(s, n.vehicle, n.day);
    RefreshGridVehicle(s, n.branch, n.grid, n.vehicle);
  }
}

Vehicle RequireVehicle(Session& s, const std::string& code) {
  auto v = FindVehicle(s, code);
  if (!v) throw Error("Veículo " + code + " não cadastrado.");
  return *v;
}

std::string StopOrder(Session& s, const std::string& branch, const std::string& grid,
                      const std::string& vehicle, const std::string& client) {
  auto rows = s.Query(
      "SELECT MIN(NRORDENTREGRADE) FROM ALOCGRADE WHERE CDFILIAL = ? AND "
      "NRGRADEDISTR = ? AND CDVIATURA = ? AND CDCLIENTE = ?",
      {Value(branch), Value(grid), Value(vehicle), Value(client)});
  return S(rows[0][0]);
}

void MoveItemsTo(Session& s, const std::string& branch, const std::string& grid,
                 const Vehicle& vehicle, const std::string& where,
                 const std::vector<Value>& extra) {
  std::vector<Value> params = {Value(branch), Value(grid)};
  params.insert(params.end(), extra.begin(), extra.end());
  auto items = s.Query(
      "SELECT NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, "
      "DTENTREGA, DTHRENTGRADE, CDROTATRANS FROM ITEMGRADE "
      "WHERE CDFILIAL = ? AND NRGRADEDISTR = ?" +
          where,
      params);
  auto operator_rows =
      s.Query("SELECT CDOPERLANC FROM GRADEDISTR WHERE CDFILIAL = ? AND NRGRADEDISTR = ?",
              {Value(branch), Value(grid)});
  const std::string operator_code = operator_rows.empty() ? "" : S(operator_rows[0][0]);
  std::string flag = VehicleFlag(s, branch, grid, vehicle.code);
  if (flag.empty()) flag = "F";
  // The items' allocations (every grid allocation is of a grid item) leave
  // their vehicles.
  TouchedLoads touched(branch, grid);
  touched.AddRows(s, where, extra);
  s.Exec("DELETE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ?" + where, params);
  std::set<std::string> days;
  std::map<std::string, std::string> stop_of_client;
  for (const Row& r : items) {
    if (D(r[4]) <= 0) continue;
    const std::string client = S(r[3]);
    auto stop = stop_of_client.find(client);
    if (stop == stop_of_client.end()) {
      stop = stop_of_client.emplace(client, StopOrder(s, branch, grid, vehicle.code, client)).first;
    }
    NewAllocation n{branch,  grid,    vehicle.code,  S(r[0]),     S(r[1]), S(r[2]),
                    client,  D(r[4]), D(r[5]),       D(r[6]),     flag,    S(r[9]),
                    S(r[7]), S(r[8]), operator_code, stop->second};
    InsertAllocation(s, n, &touched);
    days.insert(n.day);
  }
  if (where.empty()) {
    touched.RefreshWholeGrid(s);
  } else {
    touched.Refresh(s);
  }
  for (const std::string& day : days) CheckCapacity(s, vehicle, day);
  DropRoutes(s, branch, grid);
}

std::optional<Allocation> FindAllocation(Session& s, const AllocationKey& k) {
  auto rows = s.Query(
      "SELECT QTTRANSP * VRPESOUNIT, QTTRANSP * VRVOLUNIT, NRORDENTREGRADE, DTENTREGA "
      "FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
      "CDVIATURA = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
      {Value(k.branch), Value(k.grid), Value(k.vehicle), Value(k.order), Value(k.item)});
  if (rows.empty()) return std::nullopt;
  return Allocation{Load{D(rows[0][0]), D(rows[0][1])}, S(rows[0][2]), S(rows[0][3])};
}

void DeleteAllocation(Session& s, const AllocationKey& k, const std::string& day,
                      TouchedLoads* touched) {
  s.Exec(
      "DELETE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ? "
      "AND NRPEDIDO = ? AND NRITEMPED = ?",
      {Value(k.branch), Value(k.grid), Value(k.vehicle), Value(k.order), Value(k.item)});
  if (touched) {
    touched->Add(k.vehicle, day);
  } else {
    RefreshDayLoad(s, k.vehicle, day);
    RefreshGridVehicle(s, k.branch, k.grid, k.vehicle);
  }
}

void SetVehicleFlag(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& vehicle, const std::string& flag) {
  // Only the rows whose flag differs are written: a save of one item would
  // otherwise write every row of the vehicle again, which on PostgreSQL is a
  // new version of each row (and of its index entries) on every save.
  s.Exec(
      "UPDATE ALOCGRADE SET IDRETGRADEDISTR = ? WHERE CDFILIAL = ? AND NRGRADEDISTR = ? "
      "AND CDVIATURA = ? AND (IDRETGRADEDISTR IS NULL OR IDRETGRADEDISTR <> ?)",
      {Value(flag), Value(branch), Value(grid), Value(vehicle), Value(flag)});
  RefreshGridVehicle(s, branch, grid, vehicle);
}

std::map<std::string, NewAllocation> ItemAllocations(Session& s, const std::string& branch,
                                                     const std::string& grid,
                                                     const std::string& order,
                                                     const std::string& item) {
  std::map<std::string, NewAllocation> out;
  for (const Row& r :
       s.Query("SELECT CDVIATURA, CDPRODUTO, CDCLIENTE, QTTRANSP, VRPESOUNIT, VRVOLUNIT, "
               "IDRETGRADEDISTR, CDROTATRANS, DTENTREGA, DTHRENTGRADE, CDOPERLANCGRAD, "
               "NRORDENTREGRADE FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
               "NRPEDIDO = ? AND NRITEMPED = ?",
               {Value(branch), Value(grid), Value(order), Value(item)})) {
    out[S(r[0])] = {branch,  grid,    S(r[0]), order,   item,    S(r[1]), S(r[2]),  D(r[3]),
                    D(r[4]), D(r[5]), S(r[6]), S(r[7]), S(r[8]), S(r[9]), S(r[10]), S(r[11])};
  }
  return out;
}

std::vector<double> ItemQuantities(Session& s, const std::string& branch, const std::string& grid,
                                   const std::string& order, const std::string& item) {
  std::vector<double> out;
  for (const Row& r :
       s.Query("SELECT QTTRANSP FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
               "NRPEDIDO = ? AND NRITEMPED = ?",
               {Value(branch), Value(grid), Value(order), Value(item)})) {
    out.push_back(D(r[0]));
  }
  return out;
}

void DiscardGrid(Session& s, const std::string& branch, const std::string& grid) {
  ClearGrid(s, branch, grid);
  s.Exec(
      "UPDATE GRADEDISTR SET IDSITGRADE = 'C', DTHRDESCARTE = ? WHERE CDFILIAL = ? AND "
      "NRGRADEDISTR = ?",
      {Value(NowIso()), Value(branch), Value(grid)});
}

}  // namespace dg::server::detail
