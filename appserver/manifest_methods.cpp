#include "appserver/manifest_methods.h"

#include <cmath>
#include <map>

#include "appserver/grid_lines.h"
#include "appserver/route_times.h"
#include "data/format.h"

namespace dg::server::detail {

using data::Variant;
using data::VariantArray;

namespace {

// The grid's own row. A grid still open prints the transport type and
// freight mode the clerk has chosen so far (`type`, `freight`), where given.
Variant GridPacket(Session& s, const std::string& branch, const std::string& grid,
                   const std::string& type, const std::string& freight) {
  PacketBuilder p;
  p.Str("CDFILIAL", 4)
      .Str("NMFILIAL", 50)
      .Str("ENDERECO", 84)
      .Str("NRCEPFILI", 15)
      .Str("NRGRADEDISTR", 10)
      .Str("IDSITGRADE", 1)
      .Date("DTHRABERTURA")
      .Str("CDOPERLANC", 12)
      .Date("DTHREXPEDICAO")
      .Str("CDOPEREXPED", 12)
      .Str("CDTIPTRANS", 4)
      .Str("NMTIPTRANS", 40)
      .Str("IDTPFRETE", 1)
      .Date("DTENTREGA");
  for (const Row& r :
       s.Query("SELECT g.CDFILIAL, f.NMFILIAL, f.ENDERECO, f.NRCEPFILI, g.NRGRADEDISTR, "
               "g.IDSITGRADE, g.DTHRABERTURA, g.CDOPERLANC, g.DTHREXPEDICAO, g.CDOPEREXPED, "
               "g.CDTIPTRANS, t.NMTIPTRANS, g.IDTPFRETE, "
               "(SELECT MIN(a.DTENTREGA) FROM ALOCGRADE a WHERE a.CDFILIAL = g.CDFILIAL AND "
               "a.NRGRADEDISTR = g.NRGRADEDISTR) "
               "FROM GRADEDISTR g LEFT JOIN FILIAL f ON f.CDFILIAL = g.CDFILIAL "
               "LEFT JOIN TIPOTRANSP t ON t.CDTIPTRANS = g.CDTIPTRANS "
               "WHERE g.CDFILIAL = ? AND g.NRGRADEDISTR = ?",
               {Value(branch), Value(grid)})) {
    Row row = r;
    if (S(r[5]) != kDispatched) {
      if (!type.empty()) {
        row[10] = Value(type);
        row[11] = Value::Null();
        for (const Row& t :
             s.Query("SELECT NMTIPTRANS FROM TIPOTRANSP WHERE CDTIPTRANS = ?", {Value(type)})) {
          row[11] = t[0];
        }
      }
      if (!freight.empty()) row[12] = Value(freight);
    }
    p.Add({row[0], row[1], row[2], row[3], row[4], row[5], DateCell(row[6]), row[7],
           DateCell(row[8]), row[9], row[10], row[11], row[12], DateCell(row[13])});
  }
  return p.Build();
}

}  // namespace

Variant GetRomaneio(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1);
  const auto state = GridState(s, branch, grid);
  if (!state) throw Error("A grade " + grid + " não existe.");
  if (*state == kDiscarded) throw Error("A grade " + grid + " foi descartada.");

  const std::vector<GridLine> lines = GridLines(s, branch, grid);
  struct Carried {
    double weight = 0, volume = 0;
  };
  std::map<std::string, Carried> carried;
  for (const GridLine& l : lines) {
    carried[l.vehicle].weight += l.weight;
    carried[l.vehicle].volume += l.volume;
  }

  PacketBuilder vehicles;
  vehicles.Str("CDVIATURA", 4)
      .Str("DSTIPOVEIC", 50)
      .Dbl("QTCAPACIVIAT")
      .Dbl("VRVOLUMEVIAT")
      .Str("IDTPIJURTRAN", 1)
      .Str("NRINSJURTRAN", 20)
      .Str("NMFANTTRAN", 40)
      .Dbl("VRPESOTOTAL")
      .Dbl("VRVOLTOTAL")
      .Str("DISTANCIA", 10)
      .Str("TEMPO", 10)
      .Memo("DSITINERAGRADE")
      .Str("HRSAIDA", 5)
      .Str("HRRETORNO", 5);
  // The planned times of each route with a clock (route_times.h): leaving
  // and back at the branch, and at each stop beside its window.
  std::map<std::string, VehicleTimes> times;
  const auto clock_text = [](const VehicleTimes& t, double minutes) {
    return t.clocked ? Variant(planning::ClockText(minutes)) : Variant();
  };
  for (const auto& [code, load] : carried) {
    const VehicleTimes& t = times[code] = VehicleSchedule(s, branch, grid, code);
    const std::vector<Value> key = {Value(branch), Value(grid), Value(code)};
    const auto v = s.Query(
        "SELECT v.DSTIPOVEIC, v.QTCAPACIVIAT, v.VRVOLUMEVIAT, v.IDTPIJURTRAN, v.NRINSJURTRAN, "
        "t.NMFANTTRAN FROM VEICULO v LEFT JOIN TRANSPORT t ON t.IDTPIJURTRAN = v.IDTPIJURTRAN "
        "AND t.NRINSJURTRAN = v.NRINSJURTRAN WHERE v.CDVIATURA = ?",
        {Value(code)});
    const auto total = s.Query(
        "SELECT DISTANCIA, TEMPO FROM TOTALROTA WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
        "CDVIATURA = ?",
        key);
    const auto route = s.Query(
        "SELECT MAX(DSITINERAGRADE) FROM ITINERARIO WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
        "CDVIATURA = ?",
        key);
    const Row none(6, Value::Null());
    const Row& vr = v.empty() ? none : v[0];
    vehicles.Add({Variant(code), vr[0], vr[1], vr[2], vr[3], vr[4], vr[5],
                  Variant(data::RoundDecimal(load.weight, 3)),
                  Variant(data::RoundDecimal(load.volume, 5)),
                  total.empty() ? Variant() : total[0][0], total.empty() ? Variant() : total[0][1],
                  route.empty() ? Variant() : route[0][0], clock_text(t, t.leave),
                  clock_text(t, t.back)});
  }

  PacketBuilder rows;
  rows.Str("CDVIATURA", 4)
      .Str("NRORDENTREGRADE", 5)
      .Str("CDCLIENTE", 21)
      .Str("NMFANTCLIE", 50)
      .Str("NMRAZSOCCLIE", 50)
      .Str("IDTPIJURCLIE", 1)
      .Str("NRINSJURCLIE", 20)
      .Str("ENDERECO", 86)
      .Str("CEP", 15)
      .Str("NRPEDIDO", 10)
      .Str("NRITEMPED", 10)
      .Str("CDPRODUTO", 10)
      .Str("NMPRODUTO", 50)
      .Str("SGUNIDADE", 10)
      .Dbl("QTTRANSP")
      .Dbl("VRPESO")
      .Dbl("VRVOLUME")
      .Date("DTENTREGA")
      .Str("DSJANELA", 30)
      .Str("HRCHEGADA", 5)
      .Str("HRSAIDA", 5)
      .Dbl("NRMINATRASO");
  std::map<std::string, Row> clients;
  for (const GridLine& l : lines) {
    auto it = clients.find(l.client);
    if (it == clients.end()) {
      auto found = s.Query(
          "SELECT NMFANTCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, NRINSJURCLIE, ENDERECO, CEP "
          "FROM CLIENTE WHERE CDCLIENTE = ?",
          {Value(l.client)});
      it = clients.emplace(l.client, found.empty() ? Row(6, Value::Null()) : found[0]).first;
    }
    const Row& c = it->second;
    const VehicleTimes& t = times[l.vehicle];
    const auto stop = t.by_client.find(l.client);
    const StopTime* at = stop == t.by_client.end() ? nullptr : &stop->second;
    auto item = s.Query(
        "SELECT NMPRODUTO, SGUNIDADE, NMFANTCLIE FROM ITEMPEDIDO WHERE CDFILIAL = ? AND "
        "NRPEDIDO = ? AND NRITEMPED = ?",
        {Value(branch), Value(l.order), Value(l.item)});
    const Row none(3, Value::Null());
    const Row& ir = item.empty() ? none : item[0];
    rows.Add({Variant(l.vehicle), Variant(l.stop), Variant(l.client),
              S(c[0]).empty() ? ir[2] : c[0], c[1], c[2], c[3], c[4], c[5], Variant(l.order),
              Variant(l.item), Variant(l.product), ir[0], ir[1], Variant(l.quantity),
              Variant(l.weight), Variant(l.volume), l.day, at ? Variant(at->window) : Variant(),
              at ? Variant(planning::ClockText(at->arrival)) : Variant(),
              at ? Variant(planning::ClockText(at->departure)) : Variant(),
              at ? Variant(std::round(at->late)) : Variant()});
  }
  return Variant(VariantArray(
      {GridPacket(s, branch, grid, a.Text(2), a.Text(3)), vehicles.Build(), rows.Build()}, 0));
}

Variant ExpedirGradeComFrete(Session& s, Args& a) {
  Variant result = ExpedirGrade(s, a);
  const std::string type = a.Text(3), freight = a.Text(4);
  // A repeated hand-off answers false and keeps what the first one
  // settled, its transport type and freight mode included.
  if (result.ToBool() && (!type.empty() || !freight.empty())) {
    s.Exec(
        "UPDATE GRADEDISTR SET CDTIPTRANS = ?, IDTPFRETE = ? WHERE CDFILIAL = ? AND "
        "NRGRADEDISTR = ?",
        {type.empty() ? Value::Null() : Value(type),
         freight.empty() ? Value::Null() : Value(freight), Value(a.Text(0)), Value(a.Text(1))});
  }
  return result;
}

}  // namespace dg::server::detail
