#include "mapmodule/route_calc.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "data/errors.h"

namespace dg::map {
namespace {

constexpr double kEarthRadiusKm = 6371.0088;
constexpr double kPi = 3.14159265358979323846;

std::optional<double> PositiveNumber(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size() || !(value > 0) || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

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

// "1,3" for the itinerary's notes.
std::string Decimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  std::string s = buffer;
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ",0") == 0) s.resize(s.size() - 2);
  return s;
}

Leg Estimate(const RoutePoint& from, const RoutePoint& to, const Settings& settings) {
  Leg leg;
  leg.km = GreatCircleKm(*from.latitude, *from.longitude, *to.latitude, *to.longitude) *
           settings.road_factor;
  leg.minutes = leg.km / settings.speed_kmh * 60;
  return leg;
}

std::string Describe(const RoutePoint& p) {
  if (p.address.empty()) return p.name.empty() ? p.code : p.name;
  return (p.name.empty() ? p.code : p.name) + " - " + p.address;
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
            codigo = index("CODIGO", false), cep = index("CEP", false);
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
    p.latitude = Number(row[static_cast<std::size_t>(lat)]);
    p.longitude = Number(row[static_cast<std::size_t>(lon)]);
    points.push_back(std::move(p));
  }
  return points;
}

Settings ReadSettings(std::string_view api, const std::function<const char*(const char*)>& env) {
  Settings s;
  if (env) {
    if (const char* v = env("EXP_MAP_ROAD_FACTOR")) {
      if (auto n = PositiveNumber(v)) s.road_factor = *n;
    }
    if (const char* v = env("EXP_MAP_SPEED_KMH")) {
      if (auto n = PositiveNumber(v)) s.speed_kmh = *n;
    }
  }
  std::size_t i = 0;
  while (i < api.size()) {
    const std::size_t end = api.find_first_of("; \t\r\n", i);
    const std::string_view item = api.substr(i, end == std::string_view::npos ? end : end - i);
    i = end == std::string_view::npos ? api.size() : end + 1;
    if (item.empty()) continue;
    if (item.rfind("http://", 0) == 0 || item.rfind("https://", 0) == 0) {
      s.service = std::string(item);
      while (!s.service.empty() && s.service.back() == '/') s.service.pop_back();
      continue;
    }
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = item.substr(0, eq);
    const auto value = PositiveNumber(item.substr(eq + 1));
    if (!value) continue;
    if (key == "road_factor") {
      s.road_factor = *value;
    } else if (key == "speed_kmh") {
      s.speed_kmh = *value;
    } else if (key == "timeout_ms") {
      s.timeout_ms = static_cast<int>(std::min(*value, 600000.0));
    }
  }
  return s;
}

double GreatCircleKm(double lat1, double lon1, double lat2, double lon2) {
  const double rad = kPi / 180;
  const double dlat = (lat2 - lat1) * rad;
  const double dlon = (lon2 - lon1) * rad;
  const double a =
      std::sin(dlat / 2) * std::sin(dlat / 2) +
      std::cos(lat1 * rad) * std::cos(lat2 * rad) * std::sin(dlon / 2) * std::sin(dlon / 2);
  return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(a)));
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

RouteResult CalculateRoute(const std::vector<RoutePoint>& points, const Settings& settings,
                           const Router& router) {
  // The placed points, and for each point the index of its leg (legs join
  // consecutive placed points).
  Coordinates placed;
  std::vector<int> leg_of(points.size(), -1);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!points[i].Placed()) continue;
    if (!placed.empty()) leg_of[i] = static_cast<int>(placed.size()) - 1;
    placed.emplace_back(*points[i].latitude, *points[i].longitude);
  }

  const std::string estimated = "estimada pelas coordenadas: distância em linha reta × " +
                                Decimal(settings.road_factor) + " a " +
                                Decimal(settings.speed_kmh) + " km/h.";
  std::string header;
  std::vector<Leg> legs;
  if (router && placed.size() >= 2) {
    try {
      legs = router(placed);
      if (legs.size() != placed.size() - 1) {
        throw Error("resposta com " + std::to_string(legs.size()) + " trechos em vez de " +
                    std::to_string(placed.size() - 1));
      }
      header = "Rota calculada pelo serviço de rotas " + settings.service + ".";
    } catch (const Error& e) {
      legs.clear();
      header = "Serviço de rotas " + settings.service + " indisponível (" + e.what() + "); rota " +
               estimated;
    }
  }
  if (header.empty()) header = "Rota " + estimated;
  if (legs.empty()) {
    const RoutePoint* previous = nullptr;
    for (const RoutePoint& p : points) {
      if (!p.Placed()) continue;
      if (previous != nullptr) legs.push_back(Estimate(*previous, p, settings));
      previous = &p;
    }
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
      const Leg& leg = legs[static_cast<std::size_t>(leg_of[i])];
      r.km += leg.km;
      r.minutes += leg.minutes;
      line += ": " + FormatDistance(leg.km) + ", " + FormatTime(leg.minutes);
    } else if (p.kind != PointKind::Branch) {
      line += ": sem ponto anterior localizado";
    }
    if (!has_branch && i == 0) text += "Saída: não informada\n";
    text += line + "\n";
  }
  r.distance_text = FormatDistance(r.km);
  r.time_text = FormatTime(r.minutes);
  text += "Total";
  if (not_placed > 0) text += " (sem os pontos não localizados)";
  text += ": " + r.distance_text + ", " + r.time_text;
  r.itinerary = std::move(text);
  return r;
}

}  // namespace dg::map
