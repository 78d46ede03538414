// The working part of the map module: the points of one vehicle's route as
// the server lists them, the settings of the calculation, the legs between
// the points (asked of a road-routing service, or estimated from the
// coordinates), and the totals and itinerary text stored on the server.
//
// Pure functions and plain values; thread-compatible.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/packet.h"

namespace dg::map {

enum class PointKind { Branch, Stop, Return };

// One point of the route. Intentionally copyable.
struct RoutePoint {
  PointKind kind = PointKind::Stop;
  std::string order, code, name, address, zip;
  std::optional<double> latitude, longitude;
  // Both coordinates known.
  bool Placed() const { return latitude.has_value() && longitude.has_value(); }
};

// The points of the route packet in its order: TIPO "F" the branch, "C" a
// stop, "R" the return point; coordinates in LATITUDE and LONGITUDE (null
// when unknown). Error naming the field when TIPO, NOME, ENDERECO, LATITUDE
// or LONGITUDE is missing, or naming the value for another TIPO.
std::vector<RoutePoint> PointsFromPacket(const data::DataPacket& packet);

// How the route is worked out. Intentionally copyable.
struct Settings {
  double road_factor = 1.3;  // road distance per great-circle distance
  double speed_kmh = 40;     // average speed
  std::string service;       // base address of the routing service; empty: estimate only
  int timeout_ms = 3000;     // connect and read timeout of each service request
};

// The defaults, overridden by the environment (EXP_MAP_ROAD_FACTOR,
// EXP_MAP_SPEED_KMH), overridden by the API text. The API text is a list of
// items separated by ';' or blanks: an "http://" or "https://" address names
// the routing service, and "road_factor=", "speed_kmh=" and "timeout_ms="
// set the values (decimal point or comma). Values that are not positive
// numbers, and unknown items, are ignored. `env` reads a variable (null when
// unset).
Settings ReadSettings(std::string_view api, const std::function<const char*(const char*)>& env);

// Great-circle distance in kilometres between two points in degrees.
double GreatCircleKm(double lat1, double lon1, double lat2, double lon2);

struct Leg {
  double km = 0;
  double minutes = 0;
};

// Coordinates as (latitude, longitude) in degrees.
using Coordinates = std::vector<std::pair<double, double>>;
// Gives the legs between consecutive coordinates (one fewer than given);
// throws dg::Error with a short reason when it cannot.
using Router = std::function<std::vector<Leg>(const Coordinates&)>;

// What the module leaves on the server. Intentionally copyable.
struct RouteResult {
  double km = 0;
  double minutes = 0;
  std::string distance_text;  // "123,4 km"
  std::string time_text;      // "2h35min"
  std::string itinerary;
};

// Legs join each placed point to the placed point before it; a point without
// coordinates is listed as not placed and gets no leg. With a router the legs
// come from it; when it fails (or answers the wrong number of legs) they are
// estimated and the itinerary says so.
RouteResult CalculateRoute(const std::vector<RoutePoint>& points, const Settings& settings,
                           const Router& router);

// "123,4 km": one decimal, decimal comma.
std::string FormatDistance(double km);
// "2h35min": whole minutes, rounded.
std::string FormatTime(double minutes);

}  // namespace dg::map
