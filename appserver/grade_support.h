// Internal to the server object: what its method bodies share, the call's
// arguments (call_args.h) and the queries (grade_queries.h), and the write
// methods grade_server.cpp dispatches to. Not a public interface.
#pragma once

#include <any>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "appserver/call_args.h"
#include "appserver/grade_queries.h"
#include "data/travel.h"
#include "planning/place_distribution.h"

namespace dg::server::detail {

// A method body.
using Method = data::Variant (*)(Session& s, Args& args);

// One delivery place of a vehicle's route: a client the vehicle serves in
// the grid.
struct Stop {
  std::string order, client, name, person_type, address, zip, flag;
  Value latitude, longitude;
};
// The vehicle's stops by delivery order (numbered stops first, by number),
// then by client code; stops without order last (route_reads.cpp).
std::vector<Stop> RouteStops(Session& s, const std::string& branch, const std::string& grid,
                             const std::string& vehicle);

// Route reads for the map module and the route tab (route_reads.cpp).
data::Variant GetPontosRota(Session& s, Args& a);
data::Variant GetOrdemSugerida(Session& s, Args& a);

// The distances of the branch: from the routing service its parameter API
// names, else estimated from the coordinates (route_reads.cpp).
data::TravelSource BranchTravel(Session& s, const std::string& branch);

// Where the clients of a distribution are and how far apart, worked out
// before its transaction. Intentionally copyable.
struct ClientPlaces {
  // Place 0 is the branch; no places at all when the branch or every client
  // lacks coordinates (the distribution then goes by weight and volume
  // alone).
  planning::PlaceMap map;
  // The place of each client with coordinates; a client without them has
  // none and is never given one.
  std::map<std::string, std::size_t> place_of;
  // The travel minutes between the places, as `map.km`, and whether the
  // routing service gave them (else they are the estimate's).
  std::vector<double> minutes;
  bool from_service = false;
};
// Reads the coordinates in a read transaction of its own, then asks the
// branch's routing service for the distances with no transaction open (the
// estimate from the coordinates when it names none or fails).
ClientPlaces ReadClientPlaces(Storage& storage, const std::string& branch,
                              const std::set<std::string>& clients);

// What a write method works out before its transaction, from the checked
// arguments: work that may not hold the write lock (a call to the routing
// service). It reads in transactions of its own; its answer reaches the
// body as Args::prepared().
using Prepare = std::any (*)(Storage& storage, const std::string& method,
                             const std::vector<data::Variant>& args);

// Write methods (grade_writes.cpp).
data::Variant PrxNrGrade(Session& s, Args& a);
// Before its transaction: the items it places and the distances between
// their clients.
std::any PrepareDistribuiQuantidades(Storage& storage, const std::string& method,
                                     const std::vector<data::Variant>& args);
data::Variant DistribuiQuantidades(Session& s, Args& a);
data::Variant SetGrade(Session& s, Args& a);
data::Variant DelGrade(Session& s, Args& a);
data::Variant SetGradeRota(Session& s, Args& a);
data::Variant SetItinerario(Session& s, Args& a);
data::Variant SetPedidoCarro(Session& s, Args& a);
data::Variant SetPedidos(Session& s, Args& a);
data::Variant SetRotaCalculada(Session& s, Args& a);
data::Variant ExpedirGrade(Session& s, Args& a);

}  // namespace dg::server::detail
