// A road-routing engine with the OSRM route interface, asked over HTTP:
//   GET <base>/route/v1/driving/lon,lat;lon,lat;...?overview=false
// answers routes[0].legs[i].distance (metres) and .duration (seconds).
#pragma once

#include <string>

#include "mapmodule/route_calc.h"

namespace dg::map {

// A Router over the engine at `base` ("http://host:port", optionally with a
// path prefix). Each call makes one request with the given connect and read
// timeout; any failure (no connection, timeout, a status other than 200, an
// answer that is not a route) is a dg::Error with a short reason in
// Portuguese. Fewer than two coordinates: no request, no legs.
Router OsrmRouter(std::string base, int timeout_ms);

}  // namespace dg::map
