// Reads of a vehicle's route: its stops, its points with coordinates (for
// the map module and the route's picture, with the road line the routing
// service drew for each leg), and the suggested delivery order.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "appserver/grade_support.h"
#include "appserver/route_times.h"
#include "data/plain_address.h"
#include "data/travel.h"
#include "planning/stop_order.h"

namespace dg::server::detail {

using data::Variant;
using planning::StopOrderInput;
using planning::StopOrderResult;
using planning::StopTimes;

namespace {

// Sort key of a delivery order: numbered stops first, by number.
std::pair<int, std::string> OrderSortKey(const std::string& order) {
  const std::string key = OrderKey(order);
  if (key.empty()) return {2, ""};
  const bool numeric = key.find_first_not_of("0123456789") == std::string::npos;
  if (numeric) return {0, std::string(20 - std::min<std::size_t>(20, key.size()), '0') + key};
  return {1, key};
}

// A point of the route: the branch ('F'), a stop ('C') or the return point
// ('R').
struct Place {
  char kind = 'C';
  std::string order, code, name, address, zip;
  Value latitude, longitude;
  std::optional<data::GeoPoint> Where() const {
    if (latitude.IsEmptyOrNull() || longitude.IsEmptyOrNull()) return std::nullopt;
    return data::GeoPoint{latitude.ToDouble(), longitude.ToDouble()};
  }
};

// The return point a route text names by its address, in the texts' plain
// form: the branch when its address reads so, else the first transporter
// (by inscription) whose address does, else a point of that text alone,
// without coordinates.
Place NamedReturn(Session& s, Place home, const std::string& named) {
  if (data::PlainAddressText(home.address) == named) {
    home.kind = 'R';
    return home;
  }
  for (const Row& t : s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN, NMFANTTRAN, ENDERECO, LATITUDE, "
                              "LONGITUDE FROM TRANSPORT ORDER BY NRINSJURTRAN, IDTPIJURTRAN")) {
    if (data::PlainAddressText(S(t[3])) == named) {
      return {'R', "", S(t[0]) + S(t[1]), S(t[2]), S(t[3]), "", t[4], t[5]};
    }
  }
  return {'R', "", "", "Ponto de retorno", named, "", Value(), Value()};
}

// Branch, stops in delivery order, then the return point: the one a route
// text names (`named_return`, in its plain form), else the one the
// vehicle's flag names ("F" the branch, "T" the transporter's return
// address, none without a flag).
std::vector<Place> RoutePlaces(Session& s, const std::string& branch, const std::string& grid,
                               const std::string& vehicle, const std::string& named_return = "") {
  std::vector<Place> places;
  Place home{'F', "", branch, "Filial " + branch, "", "", Value(), Value()};
  for (const Row& h :
       s.Query("SELECT NMFILIAL, ENDERECO, NRCEPFILI, LATITUDE, LONGITUDE FROM FILIAL "
               "WHERE CDFILIAL = ?",
               {Value(branch)})) {
    if (!S(h[0]).empty()) home.name = S(h[0]);
    home.address = S(h[1]);
    home.zip = S(h[2]);
    home.latitude = h[3];
    home.longitude = h[4];
  }
  places.push_back(home);
  std::string flag;
  for (const Stop& st : RouteStops(s, branch, grid, vehicle)) {
    if (!st.flag.empty()) flag = st.flag;
    places.push_back(
        {'C', st.order, st.client, st.name, st.address, st.zip, st.latitude, st.longitude});
  }
  if (!named_return.empty()) {
    places.push_back(NamedReturn(s, home, named_return));
  } else if (flag == "F") {
    home.kind = 'R';
    places.push_back(home);
  } else if (flag == "T") {
    if (auto owner = FindVehicle(s, vehicle)) {
      for (const Row& t : s.Query("SELECT NMFANTTRAN, ENDERECO, LATITUDE, LONGITUDE FROM TRANSPORT "
                                  "WHERE IDTPIJURTRAN = ? AND NRINSJURTRAN = ?",
                                  {Value(owner->type), Value(owner->inscription)})) {
        places.push_back(
            {'R', "", owner->type + owner->inscription, S(t[0]), S(t[1]), "", t[2], t[3]});
      }
    }
  }
  return places;
}

// A leg's road line as the routing service drew it for the last route by
// map.
struct StoredLine {
  data::GeoPoint from, to;
  data::GeoPath line;
};

std::vector<StoredLine> StoredLines(Session& s, const std::string& branch, const std::string& grid,
                                    const std::string& vehicle) {
  std::vector<StoredLine> lines;
  const auto rows = s.Query(
      "SELECT GEOMETRIA FROM TOTALROTA WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ?",
      {Value(branch), Value(grid), Value(vehicle)});
  if (rows.empty() || S(rows[0][0]).empty()) return lines;
  const nlohmann::json all = nlohmann::json::parse(S(rows[0][0]), nullptr, false);
  if (!all.is_array()) return lines;
  auto point = [](const nlohmann::json& j) -> std::optional<data::GeoPoint> {
    if (!j.is_array() || j.size() != 2 || !j[0].is_number() || !j[1].is_number()) {
      return std::nullopt;
    }
    return data::GeoPoint{j[0].get<double>(), j[1].get<double>()};
  };
  for (const nlohmann::json& leg : all) {
    if (!leg.is_object() || !leg.contains("from") || !leg.contains("to") || !leg.contains("line") ||
        !leg["line"].is_array()) {
      continue;
    }
    StoredLine l;
    const auto from = point(leg["from"]), to = point(leg["to"]);
    if (!from || !to) continue;
    l.from = *from;
    l.to = *to;
    for (const nlohmann::json& p : leg["line"]) {
      if (const auto q = point(p)) l.line.push_back(*q);
    }
    if (l.line.size() >= 2) lines.push_back(std::move(l));
  }
  return lines;
}

bool Near(const data::GeoPoint& a, const data::GeoPoint& b) {
  return std::abs(a.latitude - b.latitude) < 1e-6 && std::abs(a.longitude - b.longitude) < 1e-6;
}

// "lat,lon;lat,lon;...", six decimals.
std::string LineText(const data::GeoPath& line) {
  std::string text;
  char buffer[64];
  for (const data::GeoPoint& p : line) {
    std::snprintf(buffer, sizeof buffer, "%s%.6f,%.6f", text.empty() ? "" : ";", p.latitude,
                  p.longitude);
    text += buffer;
  }
  return text;
}

// "12,3 km".
std::string KmText(double km) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f km", std::max(0.0, km));
  std::string text = buffer;
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

}  // namespace

data::TravelSource BranchTravel(Session& s, const std::string& branch) {
  const auto rows = s.Query("SELECT API FROM PARAMETROS WHERE CDFILIAL = ?", {Value(branch)});
  return data::TravelSource(data::TravelSettingsFromApi(rows.empty() ? "" : S(rows[0][0])));
}

std::vector<Stop> RouteStops(Session& s, const std::string& branch, const std::string& grid,
                             const std::string& vehicle) {
  // The vehicle's allocations grouped by client first, then each client's
  // record looked up once; the name the items carry is read only for a
  // client whose record has no name (the CASE leaves the look-up out for
  // every other one).
  std::vector<Stop> stops;
  const Value b(branch), g(grid), v(vehicle);
  static const std::string kStops =
      "SELECT a.CDCLIENTE, a.NRORDEM, a.IDRET, c.NMFANTCLIE, "
      "CASE WHEN COALESCE(c.NMFANTCLIE, '') = '' THEN "
      "(SELECT MAX(i.NMFANTCLIE) FROM ALOCGRADE x JOIN ITEMGRADE i ON "
      "i.CDFILIAL = x.CDFILIAL AND i.NRGRADEDISTR = x.NRGRADEDISTR AND "
      "i.NRPEDIDO = x.NRPEDIDO AND i.NRITEMPED = x.NRITEMPED "
      "WHERE x.CDFILIAL = ? AND x.NRGRADEDISTR = ? AND x.CDVIATURA = ? AND "
      "x.CDCLIENTE = a.CDCLIENTE) END, "
      "c.IDTPIJURCLIE, c.ENDERECO, c.CEP, c.LATITUDE, c.LONGITUDE FROM "
      "(SELECT CDCLIENTE, MIN(NRORDENTREGRADE) AS NRORDEM, MAX(IDRETGRADEDISTR) AS IDRET "
      "FROM ALOCGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND CDVIATURA = ? "
      "GROUP BY CDCLIENTE) a LEFT JOIN CLIENTE c ON c.CDCLIENTE = a.CDCLIENTE";
  for (const Row& r : s.Query(kStops, {b, g, v, b, g, v})) {
    stops.push_back({S(r[1]), S(r[0]), S(r[3]).empty() ? S(r[4]) : S(r[3]), S(r[5]), S(r[6]),
                     S(r[7]), S(r[2]), r[8], r[9]});
  }
  std::stable_sort(stops.begin(), stops.end(), [](const Stop& x, const Stop& y) {
    const auto kx = OrderSortKey(x.order), ky = OrderSortKey(y.order);
    if (kx != ky) return kx < ky;
    return x.client < y.client;
  });
  return stops;
}

Variant GetPontosRota(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1), vehicle = a.Text(2),
                    named_return = a.Text(3);
  PacketBuilder p;
  p.Str("TIPO", 1)
      .Str("NRORDENTREGRADE", 5)
      .Str("CODIGO", 21)
      .Str("NOME", 50)
      .Str("ENDERECO", 86)
      .Str("CEP", 15)
      .Dbl("LATITUDE")
      .Dbl("LONGITUDE")
      .Memo("TRAJETO")
      .Str("JANELA", 30)
      .Str("HRCHEGADA", 5)
      .Str("HRSAIDA", 5)
      .Dbl("NRMINATRASO");
  const std::vector<StoredLine> lines = StoredLines(s, branch, grid, vehicle);
  // The planned times, on a route with a clock: leaving the branch, at each
  // stop, and back when the route ends at the branch.
  const VehicleTimes times = VehicleSchedule(s, branch, grid, vehicle);
  const auto clock_text = [&](double minutes) {
    return times.clocked ? Variant(planning::ClockText(minutes)) : Variant();
  };
  std::optional<data::GeoPoint> previous;
  for (const Place& place : RoutePlaces(s, branch, grid, vehicle, named_return)) {
    // The road line of the leg from the previous located point, when the
    // last route by map drew this very leg.
    std::string line;
    const auto here = place.Where();
    if (here && previous) {
      for (const StoredLine& l : lines) {
        if (Near(l.from, *previous) && Near(l.to, *here)) {
          line = LineText(l.line);
          break;
        }
      }
    }
    if (here) previous = here;
    Variant window, arrival, departure, late;
    if (place.kind == 'F') {
      departure = clock_text(times.leave);
    } else if (place.kind == 'R' && place.code == branch) {
      arrival = clock_text(times.back);
    } else if (const auto at = times.by_client.find(place.code); at != times.by_client.end()) {
      if (!at->second.window.empty()) window = Variant(at->second.window);
      arrival = clock_text(at->second.arrival);
      departure = clock_text(at->second.departure);
      if (times.clocked) late = Variant(planning::LateMinutesText(at->second.late));
    }
    p.Add({Variant(std::string(1, place.kind)), Variant(place.order), Variant(place.code),
           Variant(place.name), Variant(place.address), Variant(place.zip), place.latitude,
           place.longitude, Variant(line), window, arrival, departure, late});
  }
  return p.Build();
}

// The stops numbered by the clerk keep their numbers; the others take the
// smallest numbers not in use, in the order that makes the located part of
// the route (branch, stops, return point) shortest. A stop without
// coordinates has no distance to weigh: the ones without number take the
// last free numbers, by client code, and every stop without coordinates is
// left out of the distances, as the map module leaves it out of the legs.
Variant GetOrdemSugerida(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1), vehicle = a.Text(2);
  PacketBuilder p;
  p.Str("CODIGO", 20)
      .Str("NOME", 50)
      .Str("ENDERECO", 86)
      .Str("NRORDENTREGRADE", 5)
      .Str("NRORDSUGERIDA", 5)
      .Str("DISTANCIA", 10)
      .Str("JANELA", 30)
      .Str("HRCHEGADA", 5)
      .Str("HRSAIDA", 5)
      .Dbl("NRMINATRASO");
  const std::vector<Place> places = RoutePlaces(s, branch, grid, vehicle);
  std::vector<const Place*> stops;
  const Place* start = nullptr;
  const Place* end = nullptr;
  for (const Place& place : places) {
    if (place.kind == 'C') stops.push_back(&place);
    if (place.kind == 'F') start = &place;
    if (place.kind == 'R') end = &place;
  }
  if (stops.empty()) return p.Build();

  // The places of the sequence by number: (number, stop or none for a free
  // number). Numbers that are not plain digits keep their place after all
  // the numbered ones.
  struct Slot {
    unsigned long long number = 0;
    const Place* stop = nullptr;
  };
  std::vector<Slot> slots, lettered;
  std::vector<const Place*> unnumbered;
  std::vector<unsigned long long> used;
  for (const Place* st : stops) {
    const std::string key = OrderKey(st->order);
    if (key.empty()) {
      unnumbered.push_back(st);
    } else if (key.size() <= 18 && key.find_first_not_of("0123456789") == std::string::npos) {
      slots.push_back({std::stoull(key), st});
      used.push_back(std::stoull(key));
    } else {
      lettered.push_back({0, st});
    }
  }
  std::sort(used.begin(), used.end());
  std::vector<unsigned long long> free_numbers;
  for (unsigned long long n = 1; free_numbers.size() < unnumbered.size(); ++n) {
    if (!std::binary_search(used.begin(), used.end(), n)) free_numbers.push_back(n);
  }
  // Unnumbered stops without coordinates take the last free numbers.
  std::vector<const Place*> to_order;
  std::size_t last_free = free_numbers.size();
  std::size_t unplaced = 0;
  for (const Place* st : unnumbered) unplaced += st->Where() ? 0 : 1;
  for (const Place* st : unnumbered) {
    if (st->Where()) {
      to_order.push_back(st);
    } else {
      slots.push_back({free_numbers[last_free - unplaced], st});
      --unplaced;
    }
  }
  for (std::size_t k = 0; k < to_order.size(); ++k) slots.push_back({free_numbers[k], nullptr});
  std::stable_sort(slots.begin(), slots.end(),
                   [](const Slot& x, const Slot& y) { return x.number < y.number; });
  slots.insert(slots.end(), lettered.begin(), lettered.end());

  // The located points: start, stops (fixed ones first, then the free
  // ones), end.
  const auto start_at = start ? start->Where() : std::nullopt;
  const auto end_at = end ? end->Where() : std::nullopt;
  data::GeoPath points;
  if (start_at) points.push_back(*start_at);
  std::vector<const Place*> solver_stops;  // solver stop k + 1
  std::vector<std::size_t> fixed;          // per located place of the sequence
  for (const Slot& slot : slots) {
    if (slot.stop == nullptr) {
      fixed.push_back(0);
    } else if (slot.stop->Where()) {
      solver_stops.push_back(slot.stop);
      fixed.push_back(solver_stops.size());
    }
  }
  for (const Place* st : to_order) solver_stops.push_back(st);
  for (const Place* st : solver_stops) points.push_back(*st->Where());
  if (end_at) points.push_back(*end_at);

  const data::TravelMatrix matrix = BranchTravel(s, branch).Matrix(points);
  StopOrderInput input;
  input.stops = solver_stops.size();
  input.has_end = end_at.has_value();
  input.fixed = fixed;
  const std::size_t nodes = input.stops + 1 + (input.has_end ? 1 : 0);
  const std::size_t offset = start_at ? 0 : 1;  // without a located start, node 0 costs nothing
  input.cost.assign(nodes * nodes, 0);
  for (std::size_t i = 0; i < nodes; ++i) {
    for (std::size_t j = 0; j < nodes; ++j) {
      if (!start_at && (i == 0 || j == 0)) continue;
      input.cost[i * nodes + j] = matrix.Km(i - offset, j - offset);
    }
  }
  // With a clock (the branch located, and the vehicle's working day stored
  // or a window among its stops), the order keeps the windows and the day.
  std::map<std::string, ClientClock> clocks;
  if (start_at) {
    const BranchClock home = ReadBranchClock(s, branch);
    const VehicleClock day = ReadVehicleClock(s, vehicle, home);
    std::set<std::string> clients;
    for (const Place* st : solver_stops) clients.insert(st->code);
    clocks = ReadClientClocks(s, clients, home);
    const bool windows = std::any_of(clocks.begin(), clocks.end(),
                                     [](const auto& c) { return !c.second.windows.empty(); });
    if (day.stored || windows) {
      std::map<std::string, double> kg;
      for (const Row& r : s.Query(
               "SELECT CDCLIENTE, SUM(QTTRANSP * VRPESOUNIT) FROM ALOCGRADE WHERE CDFILIAL = ? "
               "AND NRGRADEDISTR = ? AND CDVIATURA = ? GROUP BY CDCLIENTE",
               {Value(branch), Value(grid), Value(vehicle)})) {
        kg[S(r[0])] = D(r[1]);
      }
      input.clock.resize(nodes);
      for (std::size_t k = 0; k < solver_stops.size(); ++k) {
        const ClientClock& c = clocks.at(solver_stops[k]->code);
        input.clock[k + 1] = {c.windows, c.Unloading(kg[solver_stops[k]->code])};
      }
      input.day = day.day;
      const Vehicle v = RequireVehicle(s, vehicle);
      input.travel = TravelMinutes(matrix, TransporterSpeeds(s, {v.type, v.inscription}));
    }
  }
  const StopOrderResult order = OrderStops(input);
  // The times at each solver stop, and its minutes late.
  std::map<const Place*, StopTimes> times;
  std::map<const Place*, double> late;
  for (std::size_t k = 0; k < order.times.size() && k < order.sequence.size(); ++k) {
    times[solver_stops[order.sequence[k] - 1]] = order.times[k];
  }
  for (const StopOrderResult::Late& l : order.late) {
    if (l.stop >= 1 && l.stop <= solver_stops.size()) late[solver_stops[l.stop - 1]] = l.minutes;
  }

  std::vector<const Place*> sequence;
  std::size_t next = 0;
  for (const Slot& slot : slots) {
    if (slot.stop != nullptr && !slot.stop->Where()) {
      sequence.push_back(slot.stop);
    } else {
      sequence.push_back(solver_stops[order.sequence[next++] - 1]);
    }
  }
  const std::string km = KmText(order.cost);
  for (std::size_t k = 0; k < sequence.size(); ++k) {
    const Place* st = sequence[k];
    // A numbered stop sits in its own place; the others take the place's
    // free number.
    const std::string number =
        OrderKey(st->order).empty() ? std::to_string(slots[k].number) : st->order;
    Variant window, arrival, departure, minutes_late;
    if (const auto at = times.find(st); at != times.end()) {
      const ClientClock& c = clocks.at(st->code);
      if (!c.windows.empty()) window = Variant(planning::WindowsText(c.windows));
      arrival = Variant(planning::ClockText(at->second.arrival));
      departure = Variant(planning::ClockText(at->second.departure));
      const auto l = late.find(st);
      minutes_late = Variant(l == late.end() ? 0.0 : planning::LateMinutesText(l->second));
    }
    p.Add({Variant(st->code), Variant(st->name), Variant(st->address), Variant(st->order),
           Variant(number), Variant(km), window, arrival, departure, minutes_late});
  }
  return p.Build();
}

}  // namespace dg::server::detail
