// Internal to the server object: what its method bodies share, the call's
// arguments (call_args.h) and the queries (grade_queries.h), and the write
// methods grade_server.cpp dispatches to. Not a public interface.
#pragma once

#include "appserver/call_args.h"
#include "appserver/grade_queries.h"

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

// Route reads for the map module and the route tab (route_reads.cpp).
data::Variant GetPontosRota(Session& s, Args& a);
data::Variant GetOrdemSugerida(Session& s, Args& a);

// Write methods (grade_writes.cpp).
data::Variant PrxNrGrade(Session& s, Args& a);
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
