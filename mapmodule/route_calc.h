// The working part of the map module: the points of one vehicle's route as
// the server lists them, the settings of the calculation, the legs between
// the points (asked of a road-routing service, or estimated from the
// coordinates), and the totals and itinerary text stored on the server.
//
// Pure functions and plain values; thread-compatible.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/packet.h"
#include "data/travel.h"

namespace dg::map {

enum class PointKind { Branch, Stop, Return };

// One point of the route. Intentionally copyable.
struct RoutePoint {
  PointKind kind = PointKind::Stop;
  std::string order, code, name, address, zip;
  std::optional<double> latitude, longitude;
  // The planned times the server gives a route with a clock ("08:10"; empty
  // without): the stop's receiving window, arrival and departure.
  std::string window, arrival, departure;
  // Both coordinates known.
  bool Placed() const { return latitude.has_value() && longitude.has_value(); }
};

// The points of the route packet in its order: TIPO "F" the branch, "C" a
// stop, "R" the return point; coordinates in LATITUDE and LONGITUDE (null
// when unknown). Error naming the field when TIPO, NOME, ENDERECO, LATITUDE
// or LONGITUDE is missing, or naming the value for another TIPO.
std::vector<RoutePoint> PointsFromPacket(const data::DataPacket& packet);

// How the route is worked out: the shared distance source (data/travel.h).
using Settings = data::TravelSettings;

// What the module leaves on the server. Intentionally copyable.
struct RouteResult {
  double km = 0;
  double minutes = 0;
  std::string distance_text;  // "123,4 km"
  std::string time_text;      // "2h35min"
  std::string itinerary;
  // The routing service's road line of each leg, for the route's picture:
  // a JSON array of {"from": [lat, lon], "to": [lat, lon], "line": [[lat,
  // lon], ...]}; empty when the legs were estimated.
  std::string geometry;
};

// Legs join each placed point to the placed point before it; a point without
// coordinates is listed as not placed and gets no leg. The legs come from the
// source's routing service when it has one; when the service fails they are
// estimated and the itinerary says so.
RouteResult CalculateRoute(const std::vector<RoutePoint>& points, const data::TravelSource& source);

// "123,4 km": one decimal, decimal comma.
std::string FormatDistance(double km);
// "2h35min": whole minutes, rounded.
std::string FormatTime(double minutes);

}  // namespace dg::map
