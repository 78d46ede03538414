#include "appserver/route_times.h"

#include <algorithm>
#include <cmath>

#include "appserver/clock_text.h"
#include "appserver/grade_support.h"

namespace dg::server::detail {

namespace {

// A stored number, or `otherwise` when none (or not a number).
double Number(const Value& v, double otherwise) {
  if (v.IsEmptyOrNull()) return otherwise;
  try {
    const double n = v.ToDouble();
    return std::isfinite(n) && n >= 0 ? n : otherwise;
  } catch (const data::VariantConversionError&) {
    return otherwise;
  }
}

// The windows stored for a client, in order; a text that is no window
// (written by hand into the table) is no window at all.
std::vector<planning::TimeWindow> Windows(const Value& first, const Value& second) {
  std::vector<planning::TimeWindow> out;
  for (const Value* v : {&first, &second}) {
    if (v->IsEmptyOrNull()) continue;
    if (const auto w = clock::ParseWindow(v->ToString()).window) {
      if (out.empty() || w->open >= out.back().close) out.push_back({w->open, w->close});
    }
  }
  return out;
}

}  // namespace

double DriveMinutes(double km, const Speeds& speeds) {
  const double town = std::min(std::max(km, 0.0), kUrbanKm);
  const double road = std::max(km - kUrbanKm, 0.0);
  return town / speeds.urban * 60 + road / speeds.road * 60;
}

Speeds TransporterSpeeds(Session& s, const Transporter& t) {
  Speeds out;
  for (const Row& r :
       s.Query("SELECT y.VRVELURBANA, y.VRVELRODOVIA FROM TRANSPORT t JOIN TIPOTRANSP y ON "
               "y.CDTIPTRANS = t.CDTIPTRANS WHERE t.IDTPIJURTRAN = ? AND t.NRINSJURTRAN = ?",
               {Value(t.type), Value(t.inscription)})) {
    out.urban = Number(r[0], 0);
    out.road = Number(r[1], 0);
  }
  return out;
}

std::vector<double> TravelMinutes(const data::TravelMatrix& matrix, const Speeds& speeds) {
  return TravelMinutes(matrix.km, matrix.minutes, matrix.from_service, speeds);
}

std::vector<double> TravelMinutes(const std::vector<double>& km, const std::vector<double>& minutes,
                                  bool from_service, const Speeds& speeds) {
  if (from_service || !speeds.Set()) return minutes;
  std::vector<double> out(km.size());
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = DriveMinutes(km[k], speeds);
  return out;
}

DayClock ReadDayClock(Storage& storage, const std::string& branch, const Transporter& transporter,
                      const ClientPlaces& places) {
  DayClock out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    out = {};
    const BranchClock home = ReadBranchClock(s, branch);
    std::set<std::string> clients;
    for (const auto& [client, place] : places.place_of) clients.insert(client);
    const std::map<std::string, ClientClock> clocks = ReadClientClocks(s, clients, home);
    out.per_place.resize(places.map.places);
    for (const auto& [client, place] : places.place_of) {
      out.per_place[place] = clocks.at(client);
      out.any = out.any || !out.per_place[place].windows.empty();
    }
    for (const Vehicle& v : VehiclesOf(s, transporter)) {
      const VehicleClock& c = out.vehicles[v.code] = ReadVehicleClock(s, v.code, home);
      out.any = out.any || c.stored;
    }
    out.minutes = TravelMinutes(places.map.km, places.minutes, places.from_service,
                                TransporterSpeeds(s, transporter));
  });
  return out;
}

BranchClock ReadBranchClock(Session& s, const std::string& branch) {
  BranchClock out;
  for (const Row& r : s.Query("SELECT QTMINCARGA, QTMINPARADA, QTMINTONELADA, QTHORASDIRECAO, "
                              "QTMINPAUSA FROM PARAMETROS WHERE CDFILIAL = ?",
                              {Value(branch)})) {
    out.loading = Number(r[0], 0);
    out.per_stop = Number(r[1], 0);
    out.per_tonne = Number(r[2], 0);
    const double hours = Number(r[3], 0), pause = Number(r[4], 0);
    if (hours > 0 && pause > 0) out.breaks = {hours * 60, pause};
  }
  return out;
}

std::map<std::string, ClientClock> ReadClientClocks(Session& s,
                                                    const std::set<std::string>& clients,
                                                    const BranchClock& branch) {
  std::map<std::string, ClientClock> out;
  for (const std::string& client : clients) {
    ClientClock c{{}, branch.per_stop, branch.per_tonne};
    for (const Row& r : s.Query("SELECT HRJANELA1, HRJANELA2, QTMINPARADA, QTMINTONELADA FROM "
                                "CLIENTE WHERE CDCLIENTE = ?",
                                {Value(client)})) {
      c.windows = Windows(r[0], r[1]);
      c.per_stop = Number(r[2], branch.per_stop);
      c.per_tonne = Number(r[3], branch.per_tonne);
    }
    out.emplace(client, std::move(c));
  }
  return out;
}

VehicleClock ReadVehicleClock(Session& s, const std::string& vehicle, const BranchClock& branch) {
  VehicleClock out;
  out.day.loading = branch.loading;
  out.day.breaks = branch.breaks;
  for (const Row& r :
       s.Query("SELECT HRINICIOJORN, HRFIMJORN, QTHORASJORN FROM VEICULO WHERE CDVIATURA = ?",
               {Value(vehicle)})) {
    const auto start = r[0].IsEmptyOrNull() ? std::nullopt : clock::ParseTime(r[0].ToString());
    const auto end = r[1].IsEmptyOrNull() ? std::nullopt : clock::ParseTime(r[1].ToString());
    if (start) out.day.start = *start;
    if (end && *end > out.day.start) out.day.end = *end;
    const double hours = Number(r[2], 0);
    if (hours > 0) out.day.longest = hours * 60;
    out.stored = start || end || hours > 0;
  }
  return out;
}

VehicleTimes VehicleSchedule(Session& s, const std::string& branch, const std::string& grid,
                             const std::string& vehicle) {
  VehicleTimes out;
  const BranchClock home = ReadBranchClock(s, branch);
  const VehicleClock day = ReadVehicleClock(s, vehicle, home);
  // The located stops in delivery order, and what the vehicle unloads at each.
  std::vector<Stop> stops = RouteStops(s, branch, grid, vehicle);
  std::erase_if(stops, [](const Stop& st) {
    return st.latitude.IsEmptyOrNull() || st.longitude.IsEmptyOrNull();
  });
  std::set<std::string> clients;
  for (const Stop& st : stops) clients.insert(st.client);
  const std::map<std::string, ClientClock> clocks = ReadClientClocks(s, clients, home);
  const bool windows = std::any_of(clocks.begin(), clocks.end(),
                                   [](const auto& c) { return !c.second.windows.empty(); });
  if (stops.empty() || (!day.stored && !windows)) return out;

  const auto here =
      s.Query("SELECT LATITUDE, LONGITUDE FROM FILIAL WHERE CDFILIAL = ?", {Value(branch)});
  if (here.empty() || here[0][0].IsEmptyOrNull() || here[0][1].IsEmptyOrNull()) return out;
  std::map<std::string, double> kg;
  for (const Row& r :
       s.Query("SELECT CDCLIENTE, SUM(QTTRANSP * VRPESOUNIT) FROM ALOCGRADE WHERE CDFILIAL = ? "
               "AND NRGRADEDISTR = ? AND CDVIATURA = ? GROUP BY CDCLIENTE",
               {Value(branch), Value(grid), Value(vehicle)})) {
    kg[S(r[0])] = Number(r[1], 0);
  }
  data::GeoPath points;
  try {
    points.push_back({here[0][0].ToDouble(), here[0][1].ToDouble()});
    for (const Stop& st : stops)
      points.push_back({st.latitude.ToDouble(), st.longitude.ToDouble()});
  } catch (const data::VariantConversionError&) {
    return out;  // coordinates that are no numbers place nothing
  }
  const data::TravelMatrix matrix = BranchTravel(s, branch).Matrix(points);
  const Vehicle v = RequireVehicle(s, vehicle);
  const std::vector<double> minutes =
      TravelMinutes(matrix, TransporterSpeeds(s, {v.type, v.inscription}));

  std::vector<planning::StopClock> per_node(points.size());
  std::vector<std::size_t> sequence;
  for (std::size_t k = 0; k < stops.size(); ++k) {
    const ClientClock& c = clocks.at(stops[k].client);
    per_node[k + 1] = {c.windows, c.Unloading(kg[stops[k].client])};
    sequence.push_back(k + 1);
  }
  const planning::RouteSchedule schedule =
      planning::ScheduleRoute(day.day, per_node, minutes, points.size(), sequence);
  out.clocked = true;
  out.leave = schedule.leave;
  out.back = schedule.back;
  out.day_ok = schedule.day_ok;
  for (std::size_t k = 0; k < stops.size(); ++k) {
    const planning::StopTimes& t = schedule.stops[k];
    const ClientClock& c = clocks.at(stops[k].client);
    out.by_client[stops[k].client] = {c.windows.empty() ? "" : planning::WindowsText(c.windows),
                                      t.arrival, t.departure, t.late};
  }
  return out;
}

std::string LateText(const std::vector<planning::TimeWindow>& windows, double arrival) {
  return "janela " + planning::WindowsText(windows) + ", chegada " + planning::ClockText(arrival);
}

}  // namespace dg::server::detail
