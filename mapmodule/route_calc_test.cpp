// The estimate, the formats, the settings, the itinerary text and the
// routing service with its fallback (a fake engine on a loopback port).
#include "mapmodule/route_calc.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <thread>

#include "mapmodule/osrm_client.h"

namespace dg::map {
namespace {

TEST(GreatCircleTest, KnownDistances) {
  struct Row {
    double lat1, lon1, lat2, lon2, km;
  } rows[] = {
      {0, 0, 0, 0, 0},
      {0, 0, 1, 0, 111.195},                             // one degree of a meridian
      {0, 0, 0, 1, 111.195},                             // one degree of the equator
      {60, 0, 60, 1, 55.597},                            // half as long at 60 degrees
      {0, 0, 0, 180, 20015.115},                         // half the circumference
      {-23.5505, -46.6333, -22.9068, -43.1729, 360.75},  // two city centres
  };
  for (const Row& r : rows) {
    EXPECT_NEAR(GreatCircleKm(r.lat1, r.lon1, r.lat2, r.lon2), r.km, 0.01)
        << r.lat1 << "," << r.lon1 << " -> " << r.lat2 << "," << r.lon2;
    EXPECT_NEAR(GreatCircleKm(r.lat2, r.lon2, r.lat1, r.lon1), r.km, 0.01);
  }
}

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

TEST(SettingsTest, DefaultsEnvironmentAndApiText) {
  struct Row {
    const char* api;
    const char* factor_env;
    const char* speed_env;
    double factor, speed;
    const char* service;
    int timeout;
  } rows[] = {
      {"", nullptr, nullptr, 1.3, 40, "", 3000},
      {"", "1,5", "50", 1.5, 50, "", 3000},
      {"road_factor=1.2;speed_kmh=30.5", "1.5", "50", 1.2, 30.5, "", 3000},
      {"http://127.0.0.1:5000/ timeout_ms=800", nullptr, nullptr, 1.3, 40, "http://127.0.0.1:5000",
       800},
      // Not positive numbers, unknown keys and a map key text are ignored.
      {"AIzaSyXYZ road_factor=0 speed_kmh=-4 speed_kmh=abc cor=azul", "x", "0", 1.3, 40, "", 3000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.api);
    const Settings s = ReadSettings(r.api, [&](const char* name) -> const char* {
      return std::string(name) == "EXP_MAP_ROAD_FACTOR" ? r.factor_env : r.speed_env;
    });
    EXPECT_DOUBLE_EQ(s.road_factor, r.factor);
    EXPECT_DOUBLE_EQ(s.speed_kmh, r.speed);
    EXPECT_EQ(s.service, r.service);
    EXPECT_EQ(s.timeout_ms, r.timeout);
  }
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
  const RouteResult r = CalculateRoute(Route(), Settings{}, nullptr);
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

TEST(CalculateRouteTest, UnplacedBranchLeavesTheFirstStopWithoutLeg) {
  std::vector<RoutePoint> points = {Point(PointKind::Branch, "Filial", "", std::nullopt, 1),
                                    Point(PointKind::Stop, "Um", "", 1, 0),
                                    Point(PointKind::Stop, "Dois", "", 1, 1)};
  Settings s;
  s.road_factor = 1;
  s.speed_kmh = 60;
  const RouteResult r = CalculateRoute(points, s, nullptr);
  EXPECT_EQ(r.itinerary,
            "Rota estimada pelas coordenadas: distância em linha reta × 1 a 60 km/h.\n"
            "Saída: Filial: não localizado\n"
            "1. Um: sem ponto anterior localizado\n"
            "2. Dois: 111,2 km, 1h51min\n"
            "Total (sem os pontos não localizados): 111,2 km, 1h51min");
}

TEST(CalculateRouteTest, RouterLegsAreUsedAndItsFailuresFallBackToTheEstimate) {
  Settings s;
  s.service = "http://rotas";
  Coordinates asked;
  const Router good = [&](const Coordinates& c) {
    asked = c;
    return std::vector<Leg>{{10, 12}, {20, 24}, {30, 36}};
  };
  RouteResult r = CalculateRoute(Route(), s, good);
  EXPECT_EQ(asked, (Coordinates{{0, 0}, {1, 0}, {2, 0}, {0, 0}}));
  EXPECT_EQ(r.distance_text, "60,0 km");
  EXPECT_EQ(r.time_text, "1h12min");
  EXPECT_EQ(r.itinerary.substr(0, r.itinerary.find('\n')),
            "Rota calculada pelo serviço de rotas http://rotas.");

  struct Row {
    Router router;
    const char* reason;
  } rows[] = {
      {[](const Coordinates&) -> std::vector<Leg> { throw Error("sem resposta"); }, "sem resposta"},
      {[](const Coordinates&) {
         return std::vector<Leg>{{1, 1}};
       },
       "resposta com 1 trechos em vez de 3"},
  };
  for (const Row& row : rows) {
    r = CalculateRoute(Route(), s, row.router);
    EXPECT_EQ(r.distance_text, "578,2 km") << row.reason;
    EXPECT_EQ(r.itinerary.substr(0, r.itinerary.find('\n')),
              std::string("Serviço de rotas http://rotas indisponível (") + row.reason +
                  "); rota estimada pelas coordenadas: distância em linha reta × 1,3 a 40 km/h.");
  }
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

// A routing engine on a loopback port, answering from `reply`.
class FakeEngine {
 public:
  explicit FakeEngine(std::function<void(const httplib::Request&, httplib::Response&)> reply) {
    server_.Get(R"(/route/v1/driving/(.*))", [this, reply](const httplib::Request& req,
                                                           httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.push_back(
            req.path + "?" +
            (req.has_param("overview") ? "overview=" + req.get_param_value("overview") : ""));
      }
      reply(req, res);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only ends a server that is already running.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~FakeEngine() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Paths() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

TEST(OsrmRouterTest, AsksLongitudeLatitudeAndReadsMetresAndSeconds) {
  FakeEngine engine([](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"code":"Ok","routes":[{"legs":[{"distance":1500,"duration":120},
                       {"distance":2500.5,"duration":300}]}]})",
                    "application/json");
  });
  const auto legs = OsrmRouter(engine.Url(), 2000)({{-22.9, -47.06}, {-22.91, -47.07}, {0, 1}});
  ASSERT_EQ(legs.size(), 2u);
  EXPECT_DOUBLE_EQ(legs[0].km, 1.5);
  EXPECT_DOUBLE_EQ(legs[0].minutes, 2);
  EXPECT_DOUBLE_EQ(legs[1].km, 2.5005);
  EXPECT_DOUBLE_EQ(legs[1].minutes, 5);
  EXPECT_EQ(engine.Paths(),
            std::vector<std::string>{"/route/v1/driving/-47.060000,-22.900000;-47.070000,"
                                     "-22.910000;1.000000,0.000000?overview=false"});
}

TEST(OsrmRouterTest, FailuresAreErrorsAndTheRouteFallsBack) {
  struct Row {
    int status;
    const char* body;
    const char* reason;
  } rows[] = {
      {500, "{}", "resposta HTTP 500"},
      {200, "not json", "resposta ilegível"},
      {200, R"({"code":"NoRoute","message":"x"})", "resposta NoRoute"},
      {200, R"({"code":"Ok","routes":[]})", "resposta sem rota"},
      {200, R"({"code":"Ok","routes":[{"legs":[{"distance":"1"}]}]})",
       "trecho sem distância ou duração"},
  };
  for (const Row& row : rows) {
    FakeEngine engine([&](const httplib::Request&, httplib::Response& res) {
      res.status = row.status;
      res.set_content(row.body, "application/json");
    });
    Settings s;
    s.service = engine.Url();
    const RouteResult r = CalculateRoute(Route(), s, OsrmRouter(s.service, 2000));
    EXPECT_EQ(r.distance_text, "578,2 km") << row.reason;
    EXPECT_NE(r.itinerary.find(std::string("indisponível (") + row.reason + ")"), std::string::npos)
        << r.itinerary;
  }
}

TEST(OsrmRouterTest, NoEngineListeningIsAnError) {
  int port = 0;
  {
    FakeEngine gone([](const httplib::Request&, httplib::Response&) {});
    port = std::stoi(gone.Url().substr(gone.Url().rfind(':') + 1));
  }
  const Router router = OsrmRouter("http://127.0.0.1:" + std::to_string(port), 1000);
  EXPECT_THROW(router({{0, 0}, {1, 1}}), Error);
  EXPECT_TRUE(router({{0, 0}}).empty());
}

}  // namespace
}  // namespace dg::map
