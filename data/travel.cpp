#include "data/travel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "data/errors.h"

namespace dg::data {
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

// Locale-independent, as the service reads them.
std::string Degrees(double value) {
  char buffer[32];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

// "lon,lat;lon,lat;..." of the chosen points.
std::string CoordinateList(const GeoPath& points, const std::vector<std::size_t>& chosen) {
  std::string s;
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    if (k > 0) s += ';';
    const GeoPoint& p = points[chosen[k]];
    s += Degrees(p.longitude) + "," + Degrees(p.latitude);
  }
  return s;
}

nlohmann::json ParseAnswer(const std::string& body) {
  nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) throw Error("resposta ilegível");
  const auto code = answer.find("code");
  if (code == answer.end() || !code->is_string()) throw Error("resposta sem código");
  if (*code != "Ok") throw Error("resposta " + code->get<std::string>());
  return answer;
}

// [lon, lat] pairs of a GeoJSON line, appended to `line` (a point equal to
// the last one is not repeated).
void AppendLine(const nlohmann::json& geometry, GeoPath& line) {
  if (!geometry.is_object()) return;
  const auto coordinates = geometry.find("coordinates");
  if (coordinates == geometry.end() || !coordinates->is_array()) return;
  for (const nlohmann::json& c : *coordinates) {
    if (!c.is_array() || c.size() < 2 || !c[0].is_number() || !c[1].is_number()) {
      throw Error("trecho com traçado ilegível");
    }
    const GeoPoint p{c[1].get<double>(), c[0].get<double>()};
    if (line.empty() || !(line.back() == p)) line.push_back(p);
  }
}

// n places, every distance and time 0.
TravelMatrix ZeroMatrix(std::size_t n) {
  TravelMatrix m;
  m.size = n;
  m.km.assign(n * n, 0);
  m.minutes.assign(n * n, 0);
  return m;
}

}  // namespace

TravelSettings ReadTravelSettings(std::string_view api,
                                  const std::function<const char*(const char*)>& env) {
  TravelSettings s;
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
    } else if (key == "table_max" && *value >= 2) {
      s.table_max = static_cast<int>(std::min(*value, 100000.0));
    }
  }
  return s;
}

TravelSettings TravelSettingsFromApi(std::string_view api) {
  return ReadTravelSettings(api, [](const char* name) { return std::getenv(name); });
}

double GreatCircleKm(const GeoPoint& a, const GeoPoint& b) {
  const double rad = kPi / 180;
  const double dlat = (b.latitude - a.latitude) * rad;
  const double dlon = (b.longitude - a.longitude) * rad;
  const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(a.latitude * rad) * std::cos(b.latitude * rad) * std::sin(dlon / 2) *
                       std::sin(dlon / 2);
  return 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(h)));
}

std::string DecimalText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  std::string s = buffer;
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ",0") == 0) s.resize(s.size() - 2);
  return s;
}

TravelSource::TravelSource(TravelSettings settings)
    : settings_(std::move(settings)),
      get_(settings_.service.empty() ? ServiceGet()
                                     : HttpServiceGet(settings_.service, settings_.timeout_ms)) {}

TravelSource::TravelSource(TravelSettings settings, ServiceGet get)
    : settings_(std::move(settings)), get_(std::move(get)) {}

Leg TravelSource::Estimate(const GeoPoint& from, const GeoPoint& to) const {
  Leg leg;
  leg.km = GreatCircleKm(from, to) * settings_.road_factor;
  leg.minutes = leg.km / settings_.speed_kmh * 60;
  return leg;
}

std::vector<Leg> TravelSource::ServiceRoute(const GeoPath& points, bool with_line) const {
  std::vector<Leg> legs;
  if (points.size() < 2) return legs;
  std::vector<std::size_t> all(points.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::string path = "/route/v1/driving/" + CoordinateList(points, all) + "?overview=false";
  if (with_line) path += "&steps=true&geometries=geojson";
  const nlohmann::json answer = ParseAnswer(get_(path));
  const auto routes = answer.find("routes");
  if (routes == answer.end() || !routes->is_array() || routes->empty() ||
      !(*routes)[0].is_object() || !(*routes)[0].contains("legs") ||
      !(*routes)[0]["legs"].is_array()) {
    throw Error("resposta sem rota");
  }
  for (const nlohmann::json& l : (*routes)[0]["legs"]) {
    if (!l.is_object() || !l.contains("distance") || !l["distance"].is_number() ||
        !l.contains("duration") || !l["duration"].is_number()) {
      throw Error("trecho sem distância ou duração");
    }
    Leg leg{l["distance"].get<double>() / 1000, l["duration"].get<double>() / 60, {}};
    if (with_line && l.contains("steps") && l["steps"].is_array()) {
      for (const nlohmann::json& step : l["steps"]) {
        if (step.is_object() && step.contains("geometry")) AppendLine(step["geometry"], leg.line);
      }
    }
    legs.push_back(std::move(leg));
  }
  if (legs.size() != points.size() - 1) {
    throw Error("resposta com " + std::to_string(legs.size()) + " trechos em vez de " +
                std::to_string(points.size() - 1));
  }
  return legs;
}

RouteLegs TravelSource::Route(const GeoPath& points, bool with_line) const {
  RouteLegs r;
  if (get_ && points.size() >= 2) {
    try {
      r.legs = ServiceRoute(points, with_line);
      r.from_service = true;
      return r;
    } catch (const Error& e) {
      r.failure = e.what();
      r.legs.clear();
    }
  }
  for (std::size_t i = 1; i < points.size(); ++i) {
    r.legs.push_back(Estimate(points[i - 1], points[i]));
  }
  return r;
}

TravelMatrix TravelSource::ServiceMatrix(const GeoPath& points) const {
  const std::size_t n = points.size();
  TravelMatrix m = ZeroMatrix(n);
  m.from_service = true;
  if (n < 2) return m;
  // Blocks of sources against blocks of destinations, each request naming
  // at most table_max coordinates.
  const std::size_t limit = static_cast<std::size_t>(std::max(2, settings_.table_max));
  const std::size_t block = n <= limit ? n : limit / 2;
  for (std::size_t s0 = 0; s0 < n; s0 += block) {
    for (std::size_t d0 = 0; d0 < n; d0 += block) {
      if (n <= limit && (s0 > 0 || d0 > 0)) break;
      const std::size_t s1 = std::min(n, s0 + block), d1 = std::min(n, d0 + block);
      std::vector<std::size_t> chosen;
      for (std::size_t i = s0; i < s1; ++i) chosen.push_back(i);
      const bool same = s0 == d0;
      if (!same) {
        for (std::size_t j = d0; j < d1; ++j) chosen.push_back(j);
      }
      std::string path =
          "/table/v1/driving/" + CoordinateList(points, chosen) + "?annotations=distance,duration";
      if (!same) {
        auto list = [&](const char* name, std::size_t first, std::size_t count) {
          path += name;
          for (std::size_t k = 0; k < count; ++k) {
            if (k > 0) path += ';';
            path += std::to_string(first + k);
          }
        };
        list("&sources=", 0, s1 - s0);
        list("&destinations=", s1 - s0, d1 - d0);
      }
      const nlohmann::json answer = ParseAnswer(get_(path));
      const auto grid = [&](const char* name) -> const nlohmann::json& {
        const auto it = answer.find(name);
        if (it == answer.end() || !it->is_array() || it->size() != s1 - s0) {
          throw Error(std::string("tabela sem ") + (name[1] == 'i' ? "distâncias" : "durações"));
        }
        return *it;
      };
      const nlohmann::json& distances = grid("distances");
      const nlohmann::json& durations = grid("durations");
      for (std::size_t i = s0; i < s1; ++i) {
        const nlohmann::json& drow = distances[i - s0];
        const nlohmann::json& trow = durations[i - s0];
        if (!drow.is_array() || !trow.is_array() || drow.size() != d1 - d0 ||
            trow.size() != d1 - d0) {
          throw Error("tabela de tamanho errado");
        }
        for (std::size_t j = d0; j < d1; ++j) {
          const nlohmann::json& d = drow[j - d0];
          const nlohmann::json& t = trow[j - d0];
          if (!d.is_number() || !t.is_number()) throw Error("tabela com par sem caminho");
          m.km[i * n + j] = i == j ? 0 : d.get<double>() / 1000;
          m.minutes[i * n + j] = i == j ? 0 : t.get<double>() / 60;
        }
      }
    }
  }
  return m;
}

TravelMatrix TravelSource::EstimatedMatrix(const GeoPath& points) const {
  const std::size_t n = points.size();
  TravelMatrix m = ZeroMatrix(n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const Leg leg = Estimate(points[i], points[j]);
      m.km[i * n + j] = m.km[j * n + i] = leg.km;
      m.minutes[i * n + j] = m.minutes[j * n + i] = leg.minutes;
    }
  }
  return m;
}

TravelMatrix TravelSource::Matrix(const GeoPath& points) const {
  if (get_ && points.size() >= 2) {
    try {
      return ServiceMatrix(points);
    } catch (const Error& e) {
      TravelMatrix m = EstimatedMatrix(points);
      m.failure = e.what();
      return m;
    }
  }
  return EstimatedMatrix(points);
}

}  // namespace dg::data
