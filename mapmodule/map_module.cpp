#include "mapmodule/map_module.h"

#include <algorithm>
#include <cstdint>

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/net_connection.h"
#include "mapmodule/route_calc.h"

namespace dg::map {
namespace {

std::string Cell(const data::DataPacket& packet, std::size_t row, const char* field) {
  const int i = packet.FieldIndex(field);
  if (i < 0 || row >= packet.rows.size()) return "";
  const data::Variant& v = packet.rows[row][static_cast<std::size_t>(i)];
  return v.IsEmptyOrNull() ? std::string() : v.ToString();
}

const data::DataPacket& PacketAt(const data::VariantArray& args, int index, const char* what) {
  const data::Variant& v = args[index];
  if (v.Kind() != data::VariantKind::Packet) {
    throw Error(std::string("EXP03400: o elemento ") + std::to_string(index) + " (" + what +
                ") não é um pacote de dados");
  }
  return v.AsPacket();
}

}  // namespace

HandOver ReadHandOver(const data::VariantArray& args) {
  if (args.Count() < 5) {
    throw Error("EXP03400: esperados 5 valores de entrada, recebidos " +
                std::to_string(args.Count()));
  }
  const int low = args.Low();
  HandOver h;
  const data::Variant& api = args[low];
  if (api.IfInt() != nullptr && *api.IfInt() != 0) {
    h.api = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(*api.IfInt()));
  } else if (const std::string* text = api.IfString()) {
    h.api = *text;
  }
  h.kind = args[low + 1].IsEmptyOrNull() ? "" : args[low + 1].ToString();
  h.code = args[low + 2].IsEmptyOrNull() ? "" : args[low + 2].ToString();
  const data::DataPacket& route = PacketAt(args, low + 3, "rota");
  h.branch = Cell(route, 0, "CDFILIAL");
  h.grid = Cell(route, 0, "NRGRADEDISTR");
  h.vehicle = Cell(route, 0, "CDVIATURA");
  h.stops = static_cast<int>(route.rows.size());
  const data::DataPacket& texts = PacketAt(args, low + 4, "textos da rota");
  const char* const kFields[] = {"STROTA1", "STROTA2", "STROTA4", "STROTA3", "STROTA5"};
  for (std::size_t i = 0; i < h.texts.size(); ++i) h.texts[i] = Cell(texts, 0, kFields[i]);
  return h;
}

int StopsInTexts(const std::array<std::string, 5>& texts) {
  int count = 0;
  for (const std::string& t : texts) {
    for (std::size_t at = t.find(" to: "); at != std::string::npos; at = t.find(" to: ", at + 1)) {
      ++count;
    }
  }
  return count;
}

std::string ReturnAddress(const HandOver& h) {
  if (StopsInTexts(h.texts) != h.stops + 1) return "";
  const std::string& first = h.texts[0];
  return first.substr(first.rfind(" to: ") + 5);
}

std::string RouteChangedNote(const HandOver& h, const std::vector<RoutePoint>& points) {
  const int pieces = StopsInTexts(h.texts);
  if (pieces == 0) return "";
  // The return leg is not a stop: the screen names it by the flag it shows,
  // the server by the vehicle's, and either may have none.
  const int in_texts = pieces == h.stops + 1 ? h.stops : pieces;
  const int on_server = static_cast<int>(std::count_if(
      points.begin(), points.end(), [](const RoutePoint& p) { return p.kind == PointKind::Stop; }));
  if (in_texts == on_server) return "";
  return "\nAtenção: a rota mudou depois de montada (" + std::to_string(in_texts) +
         " paradas nos textos da rota, " + std::to_string(on_server) + " no servidor).";
}

void RunMapModule(const data::VariantArray& args) {
  const HandOver h = ReadHandOver(args);
  if (h.grid.empty() || h.vehicle.empty()) {
    throw Error("EXP03400: a rota entregue não tem grade nem veículo");
  }
  contracts::TNetConnection net("netMapa");
  net.server_name = "Exp03200.rdmGradeDistribuicao";
  net.before_connect = [](contracts::TNetConnection& c) {
    c.host = contracts::Halvorn::WebURL();
    c.port = contracts::Halvorn::WebPort();
  };
  net.Connect();
  struct Disconnect {
    contracts::TNetConnection& net;
    ~Disconnect() { net.Disconnect(); }
  } disconnect{net};

  using contracts::Consiste::CheckResultServ;
  const data::Variant answer = CheckResultServ(
      net.Call("GetPontosRota", {h.branch, h.grid, h.vehicle, ReturnAddress(h)}), true, 0);
  const std::vector<RoutePoint> points = PointsFromPacket(answer.AsPacket());
  const data::TravelSource source(data::TravelSettingsFromApi(h.api));
  RouteResult result = CalculateRoute(points, source);

  result.itinerary += RouteChangedNote(h, points);
  CheckResultServ(
      net.Call("SetRotaCalculada", {h.branch, h.grid, h.vehicle, result.distance_text,
                                    result.time_text, result.itinerary, result.geometry}),
      true, 0);
}

}  // namespace dg::map
