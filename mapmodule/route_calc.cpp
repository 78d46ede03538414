#include "mapmodule/route_calc.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "data/errors.h"

namespace dg::map {
namespace {

std::string Text(const data::Variant& cell) {
  return cell.IsEmptyOrNull() ? std::string() : cell.ToString();
}

std::optional<double> Number(const data::Variant& cell) {
  if (cell.IsNumeric()) return cell.ToDouble();
  if (const std::string* s = cell.IfString()) {
    double value = 0;
    const auto [end, error] = std::from_chars(s->data(), s->data() + s->size(), value);
    if (error == std::errc() && end == s->data() + s->size()) return value;
  }
  return std::nullopt;
}

std::string Describe(const RoutePoint& p) {
  if (p.address.empty()) return p.name.empty() ? p.code : p.name;
  return (p.name.empty() ? p.code : p.name) + " - " + p.address;
}

std::string GeometryText(const data::GeoPath& placed, const std::vector<data::Leg>& legs) {
  nlohmann::json all = nlohmann::json::array();
  for (std::size_t i = 0; i < legs.size(); ++i) {
    if (legs[i].line.empty()) continue;
    nlohmann::json line = nlohmann::json::array();
    for (const data::GeoPoint& p : legs[i].line) line.push_back({p.latitude, p.longitude});
    all.push_back({{"from", {placed[i].latitude, placed[i].longitude}},
                   {"to", {placed[i + 1].latitude, placed[i + 1].longitude}},
                   {"line", std::move(line)}});
  }
  return all.empty() ? std::string() : all.dump();
}

// " (janela 07:00-10:00; chegada 08:10, saída 08:30)": what the plan
// expects at a point, when the server gave times.
std::string PlannedTimes(const RoutePoint& p) {
  std::string times;
  const auto add = [&](const char* what, const std::string& value) {
    if (value.empty()) return;
    times += (times.empty() ? "" : ", ") + std::string(what) + " " + value;
  };
  add("chegada", p.arrival);
  add("saída", p.departure);
  if (times.empty()) return "";
  return " (" + (p.window.empty() ? "" : "janela " + p.window + "; ") + times + ")";
}

}  // namespace

std::vector<RoutePoint> PointsFromPacket(const data::DataPacket& packet) {
  auto index = [&](const char* name, bool required) {
    const int i = packet.FieldIndex(name);
    if (i < 0 && required) throw Error(std::string("pontos da rota sem o campo ") + name);
    return i;
  };
  const int tipo = index("TIPO", true), nome = index("NOME", true),
            endereco = index("ENDERECO", true), lat = index("LATITUDE", true),
            lon = index("LONGITUDE", true), ordem = index("NRORDENTREGRADE", false),
            codigo = index("CODIGO", false), cep = index("CEP", false),
            janela = index("JANELA", false), chegada = index("HRCHEGADA", false),
            saida = index("HRSAIDA", false);
  auto cell = [](const std::vector<data::Variant>& row, int i) {
    return i < 0 ? std::string() : Text(row[static_cast<std::size_t>(i)]);
  };
  std::vector<RoutePoint> points;
  for (const auto& row : packet.rows) {
    RoutePoint p;
    const std::string kind = cell(row, tipo);
    if (kind == "F") {
      p.kind = PointKind::Branch;
    } else if (kind == "C") {
      p.kind = PointKind::Stop;
    } else if (kind == "R") {
      p.kind = PointKind::Return;
    } else {
      throw Error("ponto da rota de tipo desconhecido: '" + kind + "'");
    }
    p.order = cell(row, ordem);
    p.code = cell(row, codigo);
    p.name = cell(row, nome);
    p.address = cell(row, endereco);
    p.zip = cell(row, cep);
    p.window = cell(row, janela);
    p.arrival = cell(row, chegada);
    p.departure = cell(row, saida);
    p.latitude = Number(row[static_cast<std::size_t>(lat)]);
    p.longitude = Number(row[static_cast<std::size_t>(lon)]);
    points.push_back(std::move(p));
  }
  return points;
}

std::string FormatDistance(double km) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f km", std::max(0.0, km));
  std::string s = buffer;
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

std::string FormatTime(double minutes) {
  const long long total = std::llround(std::max(0.0, minutes));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lldh%02lldmin", total / 60, total % 60);
  return buffer;
}

RouteResult CalculateRoute(const std::vector<RoutePoint>& points,
                           const data::TravelSource& source) {
  // The placed points, and for each point the index of its leg (legs join
  // consecutive placed points).
  data::GeoPath placed;
  std::vector<int> leg_of(points.size(), -1);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!points[i].Placed()) continue;
    if (!placed.empty()) leg_of[i] = static_cast<int>(placed.size()) - 1;
    placed.push_back({*points[i].latitude, *points[i].longitude});
  }

  const Settings& settings = source.settings();
  const std::string estimated = "estimada pelas coordenadas: distância em linha reta × " +
                                data::DecimalText(settings.road_factor) + " a " +
                                data::DecimalText(settings.speed_kmh) + " km/h.";
  const data::RouteLegs route = source.Route(placed, /*with_line=*/true);
  const std::vector<data::Leg>& legs = route.legs;
  std::string header;
  if (route.from_service) {
    header = "Rota calculada pelo serviço de rotas " + settings.service + ".";
  } else if (!route.failure.empty()) {
    header = "Serviço de rotas " + settings.service + " indisponível (" + route.failure +
             "); rota " + estimated;
  } else {
    header = "Rota " + estimated;
  }

  RouteResult r;
  std::string text = header + "\n";
  int stop_number = 0;
  int not_placed = 0;
  bool has_branch = false;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const RoutePoint& p = points[i];
    std::string line;
    switch (p.kind) {
      case PointKind::Branch:
        has_branch = true;
        line = "Saída: " + Describe(p);
        break;
      case PointKind::Stop:
        line = std::to_string(++stop_number) + ". " + Describe(p);
        break;
      case PointKind::Return:
        line = "Retorno: " + Describe(p);
        break;
    }
    if (!p.Placed()) {
      ++not_placed;
      line += ": não localizado";
    } else if (leg_of[i] >= 0) {
      const data::Leg& leg = legs[static_cast<std::size_t>(leg_of[i])];
      r.km += leg.km;
      r.minutes += leg.minutes;
      line += ": " + FormatDistance(leg.km) + ", " + FormatTime(leg.minutes);
    } else if (p.kind != PointKind::Branch) {
      line += ": sem ponto anterior localizado";
    }
    if (!has_branch && i == 0) text += "Saída: não informada\n";
    text += line + PlannedTimes(p) + "\n";
  }
  r.distance_text = FormatDistance(r.km);
  r.time_text = FormatTime(r.minutes);
  text += "Total";
  if (not_placed > 0) text += " (sem os pontos não localizados)";
  text += ": " + r.distance_text + ", " + r.time_text;
  r.itinerary = std::move(text);
  if (route.from_service) r.geometry = GeometryText(placed, legs);
  return r;
}

}  // namespace dg::map
