// The suggested delivery order and the road lines of the route's points,
// on a branch whose clients lie around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

#include "appserver/testing/test_support.h"
#include "data/travel.h"

namespace dg::server {
namespace {

using data::Variant;
using testing::Column;
using testing::Str;

// Branch 0001 at the centre; clients K1..K6 around it; K7 without
// coordinates; one order per client, all on one day, for transporter
// J 11222333000181 with one vehicle V1 that takes them all.
nlohmann::json RingFixture(const std::string& api) {
  nlohmann::json f = nlohmann::json::parse(R"({
    "FILIAL": [{"CDFILIAL": "0001", "ENDERECO": "Centro", "LATITUDE": -22.90,
                "LONGITUDE": -47.06}],
    "TRANSPORT": [{"IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181", "NMFANTTRAN": "Rodo",
                   "ENDERECO": "Rod. B", "LATITUDE": -22.95, "LONGITUDE": -47.00}],
    "VEICULO": [{"CDVIATURA": "V1", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 1000,
                 "VRVOLUMEVIAT": 10, "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"}],
    "CLIENTE": [], "ITEMPEDIDO": []
  })");
  f["PARAMETROS"] = {{{"CDFILIAL", "0001"}, {"API", api}}};
  const std::vector<std::pair<double, double>> where = {{-22.88, -47.05}, {-22.86, -47.08},
                                                        {-22.89, -47.11}, {-22.93, -47.10},
                                                        {-22.94, -47.05}, {-22.92, -47.02}};
  for (std::size_t k = 0; k < 7; ++k) {
    const std::string code = "K" + std::to_string(k + 1);
    nlohmann::json client = {
        {"CDCLIENTE", code}, {"NMFANTCLIE", "Cliente " + code}, {"ENDERECO", "Rua " + code}};
    if (k < where.size()) {
      client["LATITUDE"] = where[k].first;
      client["LONGITUDE"] = where[k].second;
    }
    f["CLIENTE"].push_back(client);
    f["ITEMPEDIDO"].push_back({{"NRPEDIDO", "P" + std::to_string(k + 1)},
                               {"NRITEMPED", "1"},
                               {"CDFILIAL", "0001"},
                               {"CDCLIENTE", code},
                               {"CDPRODUTO", "A"},
                               {"QTDEAEXP", 1},
                               {"VRPESOBRUTPR", 10},
                               {"VRVOLMED", 0.1},
                               {"IDCHECK", "S"},
                               {"IDPRIOPED", "1"},
                               {"DTENTPED", "2025-06-10"}});
  }
  return f;
}

class RouteReadsTest : public ::testing::Test {
 protected:
  void Seed(const std::string& api = "") {
    LoadFixture(*db_.storage(), RingFixture(api));
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
    std::vector<Variant> items = {"0001"};
    const Variant packet = object_->Call("GetItensExpedicao", items);
    std::vector<Variant> args = {packet, "IDCHECK = 'S'", "J11222333000181", "", "ANA", "0001"};
    object_->Call("DistribuiQuantidades", args);
    grid_ = Str(args[3]);
  }
  Variant Call(const std::string& method, std::vector<Variant> args) {
    return object_->Call(method, args);
  }
  void Number(const char* client, const char* order) {
    const int k = client[1] - '0';
    Call("SetGradeRota", {order, "P" + std::to_string(k), "V1", "0001", grid_, "1", "A", "I"});
  }
  Variant Suggest() { return Call("GetOrdemSugerida", {"0001", grid_, "V1"}); }

  // Branch -> located stops in this order -> branch, estimated.
  double RouteKm(const std::vector<std::string>& clients) {
    std::map<std::string, data::GeoPoint> at;
    const Variant points = Call("GetPontosRota", {"0001", grid_, "V1", ""});
    for (const auto& row : points.AsPacket().rows) {
      if (!row[6].IsEmptyOrNull()) at[Str(row[2])] = {row[6].ToDouble(), row[7].ToDouble()};
    }
    const data::TravelSource estimate(data::TravelSettings{}, nullptr);
    data::GeoPath path = {at["0001"]};
    for (const std::string& c : clients) {
      if (at.count(c)) path.push_back(at[c]);
    }
    path.push_back(at["0001"]);
    double km = 0;
    for (const data::Leg& leg : estimate.Route(path).legs) km += leg.km;
    return km;
  }

  // The least estimated km over every order of the free clients, the
  // numbered ones in their places.
  double BestKm(std::vector<std::string> fixed_places, std::vector<std::string> free_clients) {
    std::sort(free_clients.begin(), free_clients.end());
    double best = 1e18;
    do {
      std::vector<std::string> order = fixed_places;
      std::size_t k = 0;
      for (std::string& c : order) {
        if (c.empty()) c = free_clients[k++];
      }
      best = std::min(best, RouteKm(order));
    } while (std::next_permutation(free_clients.begin(), free_clients.end()));
    return best;
  }

  static std::vector<std::string> Split(const std::string& column) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= column.size()) {
      const std::size_t comma = column.find(',', at);
      out.push_back(column.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    return out;
  }

  testing::TempDatabase db_;
  std::shared_ptr<rdmGradeDistribuicao> object_;
  std::string grid_;
};

TEST_F(RouteReadsTest, SuggestionIsTheShortestRouteAndPutsTheUnlocatedLast) {
  Seed();
  const Variant s = Suggest();
  const std::vector<std::string> clients = Split(Column(s, "CODIGO"));
  ASSERT_EQ(clients.size(), 7u);
  EXPECT_EQ("1,2,3,4,5,6,7", Column(s, "NRORDSUGERIDA"));
  EXPECT_EQ("K7", clients.back()) << "the client without coordinates takes the last number";
  EXPECT_NEAR(RouteKm(clients),
              BestKm({"", "", "", "", "", ""}, {"K1", "K2", "K3", "K4", "K5", "K6"}), 1e-9);
  // The stored orders are not touched by a suggestion.
  EXPECT_EQ("null,null,null,null,null,null,null",
            Column(Call("GetGradeRota", {grid_, "V1", "0001"}), "NRORDENTREGRADE"));
}

TEST_F(RouteReadsTest, NumberedStopsKeepTheirNumbersAndTheOthersTakeTheFreeOnes) {
  Seed();
  Number("K4", "  2");
  Number("K1", "  5");
  Number("K7", "  9");  // numbered and not located: it keeps its place
  const Variant s = Suggest();
  const std::vector<std::string> clients = Split(Column(s, "CODIGO"));
  const std::vector<std::string> numbers = Split(Column(s, "NRORDSUGERIDA"));
  ASSERT_EQ(numbers.size(), 7u);
  std::map<std::string, std::string> by_client;
  for (std::size_t k = 0; k < clients.size(); ++k) by_client[clients[k]] = numbers[k];
  EXPECT_EQ("  2", by_client["K4"]);
  EXPECT_EQ("  5", by_client["K1"]);
  EXPECT_EQ("  9", by_client["K7"]);
  std::vector<std::string> sorted = numbers;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a number twice";
  // The free numbers are 1, 3, 4 and 6, in the order of the sequence.
  EXPECT_EQ("1,  2,3,4,  5,6,  9", Column(s, "NRORDSUGERIDA"));
  EXPECT_NEAR(RouteKm(clients), BestKm({"", "K4", "", "", "K1", ""}, {"K2", "K3", "K5", "K6"}),
              1e-9);
}

TEST_F(RouteReadsTest, AnUnreachableRoutingServiceFallsBackToTheEstimate) {
  Seed("http://127.0.0.1:1 timeout_ms=300");
  const std::vector<std::string> clients = Split(Column(Suggest(), "CODIGO"));
  EXPECT_NEAR(RouteKm(clients),
              BestKm({"", "", "", "", "", ""}, {"K1", "K2", "K3", "K4", "K5", "K6"}), 1e-9);
}

TEST_F(RouteReadsTest, VehicleWithoutStopsHasNoSuggestion) {
  Seed();
  EXPECT_EQ("", Column(Call("GetOrdemSugerida", {"0001", grid_, "V9"}), "CODIGO"));
}

TEST_F(RouteReadsTest, PointsCarryTheRoadLineOfTheirLegWhileItStillJoinsThem) {
  Seed();
  Number("K1", "1");
  Number("K2", "2");
  // The service drew branch -> K1 and K1 -> K2; the stored line of a leg
  // that no longer exists is not shown.
  const std::string geometry =
      R"([{"from":[-22.90,-47.06],"to":[-22.88,-47.05],"line":[[-22.90,-47.06],[-22.89,-47.06],[-22.88,-47.05]]},
          {"from":[-22.88,-47.05],"to":[-22.86,-47.08],"line":[[-22.88,-47.05],[-22.86,-47.08]]},
          {"from":[-22.86,-47.08],"to":[-22.99,-47.99],"line":[[-22.86,-47.08],[-22.99,-47.99]]}])";
  Call("SetRotaCalculada", {"0001", grid_, "V1", "10,0 km", "0h20min", "texto", geometry});
  const Variant points = Call("GetPontosRota", {"0001", grid_, "V1", ""});
  EXPECT_EQ("0001,K1,K2", Column(points, "CODIGO").substr(0, 10));
  const std::vector<std::string> lines = Split(Column(points, "TRAJETO"));
  EXPECT_EQ("null", lines[0]);
  EXPECT_EQ("-22.900000", lines[1]);  // the first of "lat,lon;lat,lon;..."
  EXPECT_NE(std::string::npos, Column(points, "TRAJETO").find("-22.890000,-47.060000;"));
  EXPECT_EQ("null", lines.back());

  // The map module of before sends six values: accepted, without lines.
  Call("SetRotaCalculada", {"0001", grid_, "V1", "10,0 km", "0h20min", "texto"});
  EXPECT_EQ(std::string::npos,
            Column(Call("GetPontosRota", {"0001", grid_, "V1", ""}), "TRAJETO").find("-22"));
  EXPECT_EQ("10,0 km", Column(Call("GetTotal", {"0001", grid_, "V1"}), "DISTANCIA"));
}

}  // namespace
}  // namespace dg::server
