// The settings, the estimate, the routing service's route and table
// (answered by a fake request function, and once by a fake engine on a
// loopback port) and the fallback to the estimate when the service fails.
#include "data/travel.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstring>
#include <map>

#include "data/errors.h"
#include "data/testing/fake_routing_engine.h"

namespace dg::data {
namespace {

TEST(TravelSettingsTest, DefaultsEnvironmentAndApiText) {
  struct Row {
    const char* api;
    const char* factor_env;
    const char* speed_env;
    double factor, speed;
    const char* service;
    int timeout, table_max;
  } rows[] = {
      {"", nullptr, nullptr, 1.3, 40, "", 3000, 100},
      {"", "1,5", "50", 1.5, 50, "", 3000, 100},
      {"road_factor=1.2;speed_kmh=30.5", "1.5", "50", 1.2, 30.5, "", 3000, 100},
      {"http://127.0.0.1:5000/ timeout_ms=800 table_max=40", nullptr, nullptr, 1.3, 40,
       "http://127.0.0.1:5000", 800, 40},
      // Not positive numbers, unknown keys and a map key text are ignored.
      {"AIzaSyXYZ road_factor=0 speed_kmh=-4 speed_kmh=abc cor=azul table_max=1", "x", "0", 1.3, 40,
       "", 3000, 100},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.api);
    const TravelSettings s = ReadTravelSettings(r.api, [&](const char* name) -> const char* {
      return std::string(name) == "EXP_MAP_ROAD_FACTOR" ? r.factor_env : r.speed_env;
    });
    EXPECT_DOUBLE_EQ(s.road_factor, r.factor);
    EXPECT_DOUBLE_EQ(s.speed_kmh, r.speed);
    EXPECT_EQ(s.service, r.service);
    EXPECT_EQ(s.timeout_ms, r.timeout);
    EXPECT_EQ(s.table_max, r.table_max);
  }
}

TEST(GreatCircleTest, KnownDistances) {
  struct Row {
    GeoPoint a, b;
    double km;
  } rows[] = {
      {{0, 0}, {0, 0}, 0},
      {{0, 0}, {1, 0}, 111.195},                             // one degree of a meridian
      {{0, 0}, {0, 1}, 111.195},                             // one degree of the equator
      {{60, 0}, {60, 1}, 55.597},                            // half as long at 60 degrees
      {{0, 0}, {0, 180}, 20015.115},                         // half the circumference
      {{-23.5505, -46.6333}, {-22.9068, -43.1729}, 360.75},  // two city centres
  };
  for (const Row& r : rows) {
    EXPECT_NEAR(GreatCircleKm(r.a, r.b), r.km, 0.01) << r.a.latitude << "," << r.a.longitude;
    EXPECT_NEAR(GreatCircleKm(r.b, r.a), r.km, 0.01);
  }
}

// Three places one degree of meridian apart: 111,195 km each, x 1,3 on the
// road, at 40 km/h.
const GeoPath kLine = {{0, 0}, {1, 0}, {2, 0}};
constexpr double kLegKm = 111.195 * 1.3;

TEST(TravelSourceTest, WithoutServiceEverythingIsEstimated) {
  const TravelSource source(TravelSettings{});
  EXPECT_FALSE(source.HasService());
  const RouteLegs route = source.Route(kLine, true);
  ASSERT_EQ(route.legs.size(), 2u);
  EXPECT_FALSE(route.from_service);
  EXPECT_EQ(route.failure, "");
  EXPECT_NEAR(route.legs[1].km, kLegKm, 0.01);
  EXPECT_NEAR(route.legs[1].minutes, kLegKm / 40 * 60, 0.01);
  EXPECT_TRUE(route.legs[1].line.empty());
  const TravelMatrix m = source.Matrix(kLine);
  EXPECT_NEAR(m.Km(0, 2), 2 * kLegKm, 0.02);
  EXPECT_DOUBLE_EQ(m.Km(2, 0), m.Km(0, 2));
  EXPECT_DOUBLE_EQ(m.Km(1, 1), 0);
  EXPECT_TRUE(source.Route({{0, 0}}).legs.empty());
}

TEST(TravelSourceTest, ServiceRouteWithItsRoadLine) {
  std::vector<std::string> asked;
  TravelSettings settings;
  settings.service = "http://rotas";
  const TravelSource source(settings, [&](const std::string& path) {
    asked.push_back(path);
    return std::string(R"({"code":"Ok","routes":[{"legs":[
      {"distance":1500,"duration":120,"steps":[
        {"geometry":{"coordinates":[[0,0],[0.5,0.2]]}},
        {"geometry":{"coordinates":[[0.5,0.2],[0,1]]}}]},
      {"distance":2500.5,"duration":300,"steps":[]}]}]})");
  });
  const RouteLegs route = source.Route(kLine, true);
  EXPECT_TRUE(route.from_service);
  ASSERT_EQ(route.legs.size(), 2u);
  EXPECT_DOUBLE_EQ(route.legs[0].km, 1.5);
  EXPECT_DOUBLE_EQ(route.legs[0].minutes, 2);
  EXPECT_DOUBLE_EQ(route.legs[1].km, 2.5005);
  EXPECT_EQ(route.legs[0].line, (GeoPath{{0, 0}, {0.2, 0.5}, {1, 0}}));
  EXPECT_TRUE(route.legs[1].line.empty());
  EXPECT_EQ(asked, std::vector<std::string>{"/route/v1/driving/0.000000,0.000000;0.000000,1.000000;"
                                            "0.000000,2.000000?overview=false&steps=true&"
                                            "geometries=geojson"});
}

// Every way the service can fail leaves the estimate, with the reason.
TEST(TravelSourceTest, ServiceFailuresFallBackToTheEstimate) {
  struct Row {
    std::function<std::string()> answer;
    const char* reason;
  } rows[] = {
      {[]() -> std::string { throw Error("sem resposta: Connection"); },
       "sem resposta: Connection"},
      {[] { return std::string("not json"); }, "resposta ilegível"},
      {[] { return std::string(R"({"code":"NoRoute"})"); }, "resposta NoRoute"},
      {[] { return std::string(R"({"code":"Ok","routes":[]})"); }, "resposta sem rota"},
      {[] { return std::string(R"({"code":"Ok","routes":[{"legs":[{"distance":"1"}]}]})"); },
       "trecho sem distância ou duração"},
      {[] {
         return std::string(R"({"code":"Ok","routes":[{"legs":[{"distance":1,"duration":1}]}]})");
       },
       "resposta com 1 trechos em vez de 2"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reason);
    TravelSettings settings;
    settings.service = "http://rotas";
    const TravelSource source(settings, [&](const std::string&) { return row.answer(); });
    const RouteLegs route = source.Route(kLine);
    EXPECT_FALSE(route.from_service);
    EXPECT_EQ(route.failure, row.reason);
    ASSERT_EQ(route.legs.size(), 2u);
    EXPECT_NEAR(route.legs[0].km + route.legs[1].km, 2 * kLegKm, 0.02);
    const TravelMatrix m = source.Matrix(kLine);
    EXPECT_FALSE(m.from_service);
    EXPECT_FALSE(m.failure.empty());
    EXPECT_NEAR(m.Km(0, 2), 2 * kLegKm, 0.02);
  }
}

// A table of 5 places asked at most 4 coordinates at a time: blocks of two
// sources against two destinations, put together into one matrix.
TEST(TravelSourceTest, ServiceTableInBlocks) {
  TravelSettings settings;
  settings.service = "http://rotas";
  settings.table_max = 4;
  const GeoPath places = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}};
  int requests = 0;
  const TravelSource source(settings, [&](const std::string& path) {
    ++requests;
    // Longitude k stands for place k; the answer is 1000 m per place apart
    // (one way 10 % longer) and 60 s per place.
    std::vector<int> coordinates;
    std::string list = path.substr(path.find("driving/") + 8);
    list = list.substr(0, list.find('?'));
    for (std::size_t at = 0; at < list.size();) {
      coordinates.push_back(std::stoi(list.substr(at)));
      at = list.find(';', at);
      if (at == std::string::npos) break;
      ++at;
    }
    auto indexes = [&](const char* key, std::size_t from, std::size_t count) {
      std::vector<int> out;
      const std::size_t at = path.find(key);
      if (at == std::string::npos) {
        for (std::size_t k = 0; k < count; ++k) out.push_back(coordinates[from + k]);
        return out;
      }
      std::string text = path.substr(at + std::strlen(key));
      text = text.substr(0, text.find('&'));
      for (std::size_t p = 0; p <= text.size();) {
        out.push_back(coordinates[std::stoul(text.substr(p))]);
        const std::size_t next = text.find(';', p);
        if (next == std::string::npos) break;
        p = next + 1;
      }
      return out;
    };
    const auto sources = indexes("sources=", 0, coordinates.size());
    const auto destinations = indexes("destinations=", 0, coordinates.size());
    EXPECT_LE(coordinates.size(), 4u) << path;
    std::string distances = "[", durations = "[";
    for (std::size_t i = 0; i < sources.size(); ++i) {
      distances += std::string(i > 0 ? "," : "") + "[";
      durations += std::string(i > 0 ? "," : "") + "[";
      for (std::size_t j = 0; j < destinations.size(); ++j) {
        const int apart = std::abs(sources[i] - destinations[j]);
        const double metres = apart * 1000.0 * (sources[i] < destinations[j] ? 1.1 : 1.0);
        if (j > 0) {
          distances += ',';
          durations += ',';
        }
        distances += std::to_string(metres);
        durations += std::to_string(apart * 60);
      }
      distances += "]";
      durations += "]";
    }
    return R"({"code":"Ok","distances":)" + distances + "]," + R"("durations":)" + durations + "]}";
  });
  const TravelMatrix m = source.Matrix(places);
  EXPECT_TRUE(m.from_service) << m.failure;
  EXPECT_EQ(requests, 9);
  for (std::size_t i = 0; i < 5; ++i) {
    for (std::size_t j = 0; j < 5; ++j) {
      const double apart = std::abs(static_cast<double>(i) - static_cast<double>(j));
      EXPECT_NEAR(m.Km(i, j), apart * (i < j ? 1.1 : 1.0), 1e-9) << i << "," << j;
      EXPECT_NEAR(m.Minutes(i, j), apart, 1e-9);
    }
  }
}

TEST(TravelSourceTest, TableWithoutAPathBetweenTwoPlacesIsEstimated) {
  TravelSettings settings;
  settings.service = "http://rotas";
  const TravelSource source(settings, [](const std::string&) {
    return std::string(R"({"code":"Ok","distances":[[0,1],[null,0]],"durations":[[0,1],[1,0]]})");
  });
  const TravelMatrix m = source.Matrix({{0, 0}, {1, 0}});
  EXPECT_FALSE(m.from_service);
  EXPECT_EQ(m.failure, "tabela com par sem caminho");
  EXPECT_NEAR(m.Km(1, 0), kLegKm, 0.01);
}

TEST(HttpServiceTest, AsksUnderThePrefixAndReportsStatusAndSilence) {
  testing::FakeEngine engine([](const httplib::Request& req, httplib::Response& res) {
    if (req.path.find("/osrm/route/") == 0) {
      res.set_content(R"({"code":"Ok","routes":[{"legs":[{"distance":1000,"duration":60}]}]})",
                      "application/json");
    } else {
      res.status = 500;
    }
  });
  TravelSettings settings;
  settings.service = engine.Url() + "/osrm";
  settings.timeout_ms = 2000;
  const RouteLegs good = TravelSource(settings).Route({{-22.9, -47.06}, {-22.91, -47.07}});
  EXPECT_TRUE(good.from_service) << good.failure;
  EXPECT_DOUBLE_EQ(good.legs[0].km, 1);
  EXPECT_EQ(engine.Paths().back(),
            "/osrm/route/v1/driving/-47.060000,-22.900000;-47.070000,-22.910000");

  settings.service = engine.Url();
  const RouteLegs refused = TravelSource(settings).Route({{0, 0}, {1, 0}});
  EXPECT_EQ(refused.failure, "resposta HTTP 500");

  int port = 0;
  {
    testing::FakeEngine gone([](const httplib::Request&, httplib::Response&) {});
    port = std::stoi(gone.Url().substr(gone.Url().rfind(':') + 1));
  }
  settings.service = "http://127.0.0.1:" + std::to_string(port);
  settings.timeout_ms = 1000;
  const RouteLegs silent = TravelSource(settings).Route({{0, 0}, {1, 0}});
  EXPECT_FALSE(silent.from_service);
  EXPECT_EQ(silent.failure.rfind("sem resposta", 0), 0u) << silent.failure;
  EXPECT_NEAR(silent.legs[0].km, kLegKm, 0.01);
}

}  // namespace
}  // namespace dg::data
