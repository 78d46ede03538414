// The formats, the itinerary text, and the route from the routing service
// with its fallback to the estimate (the distances themselves are tested
// with the shared source in data/).
#include "mapmodule/route_calc.h"

#include <gtest/gtest.h>

#include <map>

#include "data/errors.h"

namespace dg::map {
namespace {

// The estimate alone, with the given settings.
data::TravelSource Estimate(Settings s = {}) { return data::TravelSource(s, nullptr); }

TEST(FormatTest, DistanceAndTime) {
  const std::map<double, std::string> distances = {{0, "0,0 km"},
                                                   {123.44, "123,4 km"},
                                                   {0.96, "1,0 km"},
                                                   {9999.94, "9999,9 km"},
                                                   {-3, "0,0 km"}};
  for (const auto& [km, text] : distances) EXPECT_EQ(FormatDistance(km), text) << km;
  const std::map<double, std::string> times = {{0, "0h00min"},      {155, "2h35min"},
                                               {59.4, "0h59min"},   {59.6, "1h00min"},
                                               {6000, "100h00min"}, {-1, "0h00min"}};
  for (const auto& [minutes, text] : times) EXPECT_EQ(FormatTime(minutes), text) << minutes;
}

RoutePoint Point(PointKind kind, const char* name, const char* address, std::optional<double> lat,
                 std::optional<double> lon) {
  RoutePoint p;
  p.kind = kind;
  p.name = name;
  p.address = address;
  p.latitude = lat;
  p.longitude = lon;
  return p;
}

// Branch at the origin, stops one degree north and one more degree north,
// a stop without coordinates between them, back to the branch.
std::vector<RoutePoint> Route() {
  return {Point(PointKind::Branch, "Filial", "Rua A, 1", 0, 0),
          Point(PointKind::Stop, "Mercado Um", "Rua B, 2", 1, 0),
          Point(PointKind::Stop, "Mercado Dois", "", std::nullopt, std::nullopt),
          Point(PointKind::Stop, "Mercado Três", "Rua C, 3", 2, 0),
          Point(PointKind::Return, "Filial", "Rua A, 1", 0, 0)};
}

TEST(CalculateRouteTest, EstimateListsEveryPointAndNamesTheOnesNotPlaced) {
  const RouteResult r = CalculateRoute(Route(), Estimate());
  // 4 degrees of meridian: 444,78 km x 1,3 = 578,2 km at 40 km/h.
  EXPECT_NEAR(r.km, 4 * 111.195 * 1.3, 0.05);
  EXPECT_EQ(r.distance_text, "578,2 km");
  EXPECT_EQ(r.time_text, "14h27min");
  EXPECT_EQ(r.itinerary,
            "Rota estimada pelas coordenadas: distância em linha reta × 1,3 a 40 km/h.\n"
            "Saída: Filial - Rua A, 1\n"
            "1. Mercado Um - Rua B, 2: 144,6 km, 3h37min\n"
            "2. Mercado Dois: não localizado\n"
            "3. Mercado Três - Rua C, 3: 144,6 km, 3h37min\n"
            "Retorno: Filial - Rua A, 1: 289,1 km, 7h14min\n"
            "Total (sem os pontos não localizados): 578,2 km, 14h27min");
}

// A route with a clock: the server's planned times follow each point's
// leg, with the stop's window.
TEST(CalculateRouteTest, PlannedTimesFollowTheirPoints) {
  std::vector<RoutePoint> points = Route();
  points[0].departure = "07:40";
  points[1].window = "07:00-10:00";
  points[1].arrival = "11:17";
  points[1].departure = "11:32";
  points[3].arrival = "15:09";
  points[3].departure = "15:19";
  points[4].arrival = "22:33";
  const RouteResult r = CalculateRoute(points, Estimate());
  EXPECT_EQ(r.itinerary,
            "Rota estimada pelas coordenadas: distância em linha reta × 1,3 a 40 km/h.\n"
            "Saída: Filial - Rua A, 1 (saída 07:40)\n"
            "1. Mercado Um - Rua B, 2: 144,6 km, 3h37min (janela 07:00-10:00; chegada 11:17, "
            "saída 11:32)\n"
            "2. Mercado Dois: não localizado\n"
            "3. Mercado Três - Rua C, 3: 144,6 km, 3h37min (chegada 15:09, saída 15:19)\n"
            "Retorno: Filial - Rua A, 1: 289,1 km, 7h14min (chegada 22:33)\n"
            "Total (sem os pontos não localizados): 578,2 km, 14h27min");
}

TEST(CalculateRouteTest, UnplacedBranchLeavesTheFirstStopWithoutLeg) {
  std::vector<RoutePoint> points = {Point(PointKind::Branch, "Filial", "", std::nullopt, 1),
                                    Point(PointKind::Stop, "Um", "", 1, 0),
                                    Point(PointKind::Stop, "Dois", "", 1, 1)};
  Settings s;
  s.road_factor = 1;
  s.speed_kmh = 60;
  const RouteResult r = CalculateRoute(points, Estimate(s));
  EXPECT_EQ(r.itinerary,
            "Rota estimada pelas coordenadas: distância em linha reta × 1 a 60 km/h.\n"
            "Saída: Filial: não localizado\n"
            "1. Um: sem ponto anterior localizado\n"
            "2. Dois: 111,2 km, 1h51min\n"
            "Total (sem os pontos não localizados): 111,2 km, 1h51min");
}

TEST(CalculateRouteTest, ServiceLegsAndRoadLinesAreUsedAndItsFailuresFallBackToTheEstimate) {
  Settings s;
  s.service = "http://rotas";
  std::string asked;
  const data::TravelSource good(s, [&](const std::string& path) {
    asked = path;
    return std::string(R"({"code":"Ok","routes":[{"legs":[
      {"distance":10000,"duration":720,"steps":[{"geometry":{"coordinates":[[0,0],[0.1,0.5],[0,1]]}}]},
      {"distance":20000,"duration":1440},{"distance":30000,"duration":2160}]}]})");
  });
  RouteResult r = CalculateRoute(Route(), good);
  EXPECT_EQ(asked.substr(0, asked.find('?')),
            "/route/v1/driving/0.000000,0.000000;0.000000,1.000000;0.000000,2.000000;"
            "0.000000,0.000000");
  EXPECT_EQ(r.distance_text, "60,0 km");
  EXPECT_EQ(r.time_text, "1h12min");
  EXPECT_EQ(r.itinerary.substr(0, r.itinerary.find('\n')),
            "Rota calculada pelo serviço de rotas http://rotas.");
  // Only the first leg has a road line; it joins the branch and stop 1.
  EXPECT_EQ(r.geometry,
            R"([{"from":[0.0,0.0],"line":[[0.0,0.0],[0.5,0.1],[1.0,0.0]],"to":[1.0,0.0]}])");

  const data::TravelSource down(
      s, [](const std::string&) -> std::string { throw Error("sem resposta"); });
  r = CalculateRoute(Route(), down);
  EXPECT_EQ(r.distance_text, "578,2 km");
  EXPECT_EQ(r.geometry, "");
  EXPECT_EQ(r.itinerary.substr(0, r.itinerary.find('\n')),
            "Serviço de rotas http://rotas indisponível (sem resposta); rota estimada pelas "
            "coordenadas: distância em linha reta × 1,3 a 40 km/h.");
}

TEST(PointsFromPacketTest, ReadsKindsAndCoordinatesAndRefusesOtherShapes) {
  data::DataPacket p;
  for (const char* f : {"TIPO", "NOME", "ENDERECO", "LATITUDE", "LONGITUDE"}) {
    p.fields.push_back(
        {f, std::string(f).rfind("L", 0) == 0 ? data::FieldType::Double : data::FieldType::String});
  }
  p.rows = {{"F", "Filial", "Rua A", -22.9, -47.0},
            {"C", "Um", "Rua B", data::Variant::Null(), -47.1},
            {"R", "Filial", "Rua A", -22.9, -47.0}};
  const auto points = PointsFromPacket(p);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].kind, PointKind::Branch);
  EXPECT_TRUE(points[0].Placed());
  EXPECT_EQ(points[1].kind, PointKind::Stop);
  EXPECT_FALSE(points[1].Placed());
  EXPECT_EQ(points[2].kind, PointKind::Return);

  data::DataPacket other = p;
  other.rows[1][0] = "X";
  EXPECT_THROW(PointsFromPacket(other), Error);
  other = p;
  other.fields.pop_back();
  for (auto& row : other.rows) row.pop_back();
  EXPECT_THROW(PointsFromPacket(other), Error);
}

}  // namespace
}  // namespace dg::map
