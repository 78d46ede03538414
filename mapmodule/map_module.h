// The map module's run: what it takes from the screen's hand-over array, and
// the round trip to the application server that leaves the route's totals
// and itinerary there.
//
// Hand-over array, elements 0..4: an integer holding the address of the
// NUL-terminated API text (0: none; the caller keeps it alive for the call),
// the kind "G", CODIGO of the route's current row, the packet of the route
// rows (CDFILIAL, NRGRADEDISTR, CDVIATURA) and the packet of the route-text
// records, the newest first (STROTA1..STROTA5; stops 41 to 60 in STROTA4,
// 61 to 80 in STROTA3).
//
// The user-interface thread only.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "data/packet.h"
#include "data/variant.h"
#include "mapmodule/route_calc.h"

namespace dg::map {

// Intentionally copyable.
struct HandOver {
  std::string api;
  std::string kind;
  std::string code;
  std::string branch, grid, vehicle;  // of the first route row
  int stops = 0;                      // route rows the screen built the texts from
  // The newest record's texts in route order (stops 1-20, 21-40, 41-60,
  // 61-80, 81 on); all empty when the packet holds no record.
  std::array<std::string, 5> texts;
};

// Error (in Portuguese) for an array of another shape: fewer than five
// elements, or elements 3 and 4 not packets.
HandOver ReadHandOver(const data::VariantArray& args);

// How many stops (return point included) the route texts name: one per
// " to: " piece.
int StopsInTexts(const std::array<std::string, 5>& texts);

// The return point's address as the route texts name it (the last piece of
// the first text, after its stops), or "" when the texts name no return leg
// (as many pieces as the route has stops) or do not match the route.
std::string ReturnAddress(const HandOver& h);

// The itinerary's last line when the stops the route texts name are not the
// stops the server lists now (the route changed after the screen built the
// texts): "\nAtenção: a rota mudou depois de montada (...)"; "" when they
// agree. The return point counts on neither side.
std::string RouteChangedNote(const HandOver& h, const std::vector<RoutePoint>& points);

// Asks the server for the route's points (GetPontosRota, back to the return
// point the route texts name: ReturnAddress), works out the
// route and stores it (SetRotaCalculada), through a connection of its own to
// "Exp03200.rdmGradeDistribuicao" at the host's server address. Settings
// come from the API text and the environment (route_calc.h). Failures
// propagate.
void RunMapModule(const data::VariantArray& args);

}  // namespace dg::map
