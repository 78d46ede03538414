// Distances and travel times between places known by their coordinates, the
// one source the application server (distribution by place, suggested stop
// order) and the map module (route totals and itinerary) both measure with.
//
// When the branch's API text names a road-routing service, legs and tables
// are asked of it (the OSRM route and table interfaces); when it names none,
// or the service fails, they are estimated: great-circle distance times the
// road factor, at the average speed. A point without coordinates is never
// given any: callers leave such points out and list them as not located.
//
// Plain values and pure functions; a TravelSource is immutable after
// construction and may be used from several threads at once when its
// service request function may (the HTTP one may).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dg::data {

// How distances are worked out. Intentionally copyable.
struct TravelSettings {
  double road_factor = 1.3;  // road distance per great-circle distance
  double speed_kmh = 40;     // average speed
  std::string service;       // base address of the routing service; empty: estimate only
  int timeout_ms = 3000;     // connect and read timeout of each service request
  int table_max = 100;       // most coordinates in one table request
};

// The defaults, overridden by the environment (EXP_MAP_ROAD_FACTOR,
// EXP_MAP_SPEED_KMH), overridden by the API text. The API text is a list of
// items separated by ';' or blanks: an "http://" or "https://" address names
// the routing service, and "road_factor=", "speed_kmh=", "timeout_ms=" and
// "table_max=" set the values (decimal point or comma). Values that are not
// positive numbers, and unknown items, are ignored (so an old map key in the
// parameter does no harm). `env` reads a variable (null when unset); a null
// `env` reads nothing.
TravelSettings ReadTravelSettings(std::string_view api,
                                  const std::function<const char*(const char*)>& env);

// ReadTravelSettings with the process environment.
TravelSettings TravelSettingsFromApi(std::string_view api);

// A place in degrees. Intentionally copyable.
struct GeoPoint {
  double latitude = 0;
  double longitude = 0;
  friend bool operator==(const GeoPoint&, const GeoPoint&) = default;
};
using GeoPath = std::vector<GeoPoint>;

// Great-circle distance in kilometres (haversine, mean earth radius).
double GreatCircleKm(const GeoPoint& a, const GeoPoint& b);

// One leg of a route. Intentionally copyable.
struct Leg {
  double km = 0;
  double minutes = 0;
  GeoPath line;  // the road as the service draws it; empty when estimated
};

// The legs of a route through given points. Intentionally copyable.
struct RouteLegs {
  std::vector<Leg> legs;  // one fewer than the points (none for fewer than two)
  bool from_service = false;
  // Why the configured service was not used ("" when it was, or when none
  // is configured).
  std::string failure;
};

// Distances and times between every ordered pair of n points, row-major.
// Intentionally copyable.
struct TravelMatrix {
  std::size_t size = 0;
  std::vector<double> km;
  std::vector<double> minutes;
  bool from_service = false;
  std::string failure;  // as in RouteLegs
  double Km(std::size_t from, std::size_t to) const { return km[from * size + to]; }
  double Minutes(std::size_t from, std::size_t to) const { return minutes[from * size + to]; }
};

// Asks the service: `path` starts with '/' and carries its query; answers
// the body of a 200 answer. Throws dg::Error with a short reason (in
// Portuguese) for anything else.
using ServiceGet = std::function<std::string(const std::string& path)>;

// GET requests to `base` ("http://host:port", optionally with a path
// prefix) with the given connect and read timeout.
ServiceGet HttpServiceGet(const std::string& base, int timeout_ms);

class TravelSource {
 public:
  // Asks the service named by the settings over HTTP; estimates only when
  // they name none.
  explicit TravelSource(TravelSettings settings);
  // Asks `get` instead (a null `get` estimates only); for tests and for
  // callers with their own transport.
  TravelSource(TravelSettings settings, ServiceGet get);

  const TravelSettings& settings() const { return settings_; }
  bool HasService() const { return static_cast<bool>(get_); }

  // The estimate between two points, and between every pair.
  Leg Estimate(const GeoPoint& from, const GeoPoint& to) const;
  TravelMatrix EstimatedMatrix(const GeoPath& points) const;

  // Legs from point to point in the given order: from the service (with its
  // road line when `with_line`), else estimated with the reason.
  RouteLegs Route(const GeoPath& points, bool with_line = false) const;
  // Every pair: from the service's table, else estimated with the reason.
  // The diagonal is 0.
  TravelMatrix Matrix(const GeoPath& points) const;

  // The service alone: throw dg::Error with the reason when it cannot
  // answer. REQUIRES: HasService().
  std::vector<Leg> ServiceRoute(const GeoPath& points, bool with_line) const;
  TravelMatrix ServiceMatrix(const GeoPath& points) const;

 private:
  TravelSettings settings_;
  ServiceGet get_;
};

// "1,3": one decimal, decimal comma, ",0" dropped (for texts that name the
// settings).
std::string DecimalText(double value);

}  // namespace dg::data
