// DistribuiQuantidades plans by place: the trucks take the clients that lie
// together, the routing service's distances are asked before the write
// transaction and the estimate stands in when it fails, and on any day the
// loads stay within the rooms, every item whole and orders kept whole as the
// weight-only distribution keeps them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "appserver/testing/test_support.h"
#include "data/testing/fake_routing_engine.h"

namespace dg::server {
namespace {

// Branch 0001 at the centre, clients N1..N3 about 10 km north and S1..S3
// about 10 km south, one order each (50, 25 and 25 kg on each side), two
// 100 kg trucks of transporter J 11222333000181.
struct Client {
  std::string code;
  double latitude, longitude, kg;
};
const std::vector<Client> kClients = {{"N1", -22.81, -47.06, 50}, {"S1", -22.99, -47.06, 50},
                                      {"N2", -22.80, -47.05, 25}, {"S2", -23.00, -47.05, 25},
                                      {"N3", -22.80, -47.07, 25}, {"S3", -23.00, -47.07, 25}};

nlohmann::json TwoSides(const std::string& api, bool branch_located) {
  nlohmann::json f = nlohmann::json::parse(R"({
    "FILIAL": [{"CDFILIAL": "0001", "ENDERECO": "Centro"}],
    "TRANSPORT": [{"IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181", "NMFANTTRAN": "Rodo"}],
    "VEICULO": [
      {"CDVIATURA": "V1", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 100, "VRVOLUMEVIAT": 10,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"},
      {"CDVIATURA": "V2", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 100, "VRVOLUMEVIAT": 10,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"}],
    "CLIENTE": [], "ITEMPEDIDO": []
  })");
  f["PARAMETROS"] = {{{"CDFILIAL", "0001"}, {"API", api}}};
  if (branch_located) {
    f["FILIAL"][0]["LATITUDE"] = -22.90;
    f["FILIAL"][0]["LONGITUDE"] = -47.06;
  }
  for (const Client& c : kClients) {
    f["CLIENTE"].push_back({{"CDCLIENTE", c.code},
                            {"NMFANTCLIE", c.code},
                            {"ENDERECO", "Rua " + c.code},
                            {"LATITUDE", c.latitude},
                            {"LONGITUDE", c.longitude}});
    f["ITEMPEDIDO"].push_back({{"NRPEDIDO", "P" + c.code},
                               {"NRITEMPED", "1"},
                               {"CDFILIAL", "0001"},
                               {"CDCLIENTE", c.code},
                               {"CDPRODUTO", "A"},
                               {"QTDEAEXP", 1},
                               {"VRPESOBRUTPR", c.kg},
                               {"VRVOLMED", 0.1},
                               {"IDCHECK", "S"},
                               {"IDPRIOPED", "1"},
                               {"DTENTPED", "2025-06-10"}});
  }
  return f;
}

// Distributes every checked item of branch 0001 over transporter J's fleet,
// into `grid` (a new one when empty, which it then names).
void Distribute(rdmGradeDistribuicao& object, std::string& grid) {
  std::vector<data::Variant> ask = {"0001"};
  const data::Variant items = object.Call("GetItensExpedicao", ask);
  std::vector<data::Variant> args = {items, "IDCHECK = 'S'", "J11222333000181",
                                     grid,  "ANA",           "0001"};
  object.Call("DistribuiQuantidades", args);
  grid = testing::Str(args[3]);
}
void Distribute(rdmGradeDistribuicao& object) {
  std::string grid;
  Distribute(object, grid);
}

// The clients each vehicle serves, as "N1 N2 N3 | S1 S2 S3" (vehicles in code
// order, the two groups in either order).
std::string Groups(Storage& storage) {
  std::map<std::string, std::string> of;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r : s.Query("SELECT DISTINCT CDVIATURA, CDCLIENTE FROM ALOCGRADE "
                                "ORDER BY CDVIATURA, CDCLIENTE")) {
      std::string& group = of[r[0].ToString()];
      group += (group.empty() ? "" : " ") + r[1].ToString();
    }
  });
  std::vector<std::string> groups;
  for (const auto& [vehicle, clients] : of) groups.push_back(clients);
  std::sort(groups.begin(), groups.end());
  std::string out;
  for (const std::string& g : groups) out += (out.empty() ? "" : " | ") + g;
  return out;
}

// Whether a writer could start on the file now, without waiting.
bool WriteLockIsFree(const std::string& path) {
  sqlite3* db = nullptr;
  bool free = false;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 0);
    free = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (free) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return free;
}

// A routing service that sees the city otherwise: N1, N2 and S3 lie together,
// S1, S2 and N3 too (1 km apart within a group, 20 km between groups, 10 km
// from the branch). Both groups weigh 100 kg, so only its distances make
// the trucks take them.
std::string CrossedTable(const std::string& path) {
  const std::string list = path.substr(path.rfind('/') + 1, path.find('?') - path.rfind('/') - 1);
  std::vector<int> group;  // 0 the branch, 1 or 2 a client's group
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t end = std::min(list.find(';', at), list.size());
    const std::string point = list.substr(at, end - at);
    const double lat = std::stod(point.substr(point.find(',') + 1));
    const double lon = std::stod(point.substr(0, point.find(',')));
    int g = 0;
    for (const Client& c : kClients) {
      if (std::abs(c.latitude - lat) < 1e-6 && std::abs(c.longitude - lon) < 1e-6) {
        g = c.code == "N1" || c.code == "N2" || c.code == "S3" ? 1 : 2;
      }
    }
    group.push_back(g);
    at = end + 1;
  }
  nlohmann::json distances = nlohmann::json::array(), durations = nlohmann::json::array();
  for (std::size_t i = 0; i < group.size(); ++i) {
    nlohmann::json d = nlohmann::json::array(), t = nlohmann::json::array();
    for (std::size_t j = 0; j < group.size(); ++j) {
      const double m = i == j                           ? 0
                       : group[i] == 0 || group[j] == 0 ? 10000
                       : group[i] == group[j]           ? 1000
                                                        : 20000;
      d.push_back(m);
      t.push_back(m / 10);
    }
    distances.push_back(d);
    durations.push_back(t);
  }
  return nlohmann::json({{"code", "Ok"}, {"distances", distances}, {"durations", durations}})
      .dump();
}

TEST(DistribuiQuantidadesByPlace, TrucksTakeTheClientsThatLieTogether) {
  const std::string apart = "N1 N2 N3 | S1 S2 S3";
  // No routing service, and one that cannot be reached: the estimate from
  // the coordinates decides.
  for (const char* api : {"", "http://127.0.0.1:1 timeout_ms=200"}) {
    SCOPED_TRACE(api);
    testing::TempDatabase db;
    LoadFixture(*db.storage(), TwoSides(api, true));
    rdmGradeDistribuicao object(db.storage());
    Distribute(object);
    EXPECT_EQ(Groups(*db.storage()), apart);
  }
  // Without the branch's coordinates no route can be weighed: the loads go
  // by weight alone, the heavy orders first, so each truck drives north and
  // south.
  testing::TempDatabase db;
  LoadFixture(*db.storage(), TwoSides("", false));
  rdmGradeDistribuicao object(db.storage());
  Distribute(object);
  EXPECT_NE(Groups(*db.storage()), apart);
}

TEST(DistribuiQuantidadesByPlace, AsksTheServiceBeforeTakingTheWriteLockAndFallsBackWhenItFails) {
  testing::TempDatabase db;
  std::vector<bool> lock_free;
  bool refuse = false;
  data::testing::FakeEngine engine([&](const httplib::Request& req, httplib::Response& res) {
    lock_free.push_back(WriteLockIsFree(db.path()));
    if (refuse || req.path.find("/table/") == std::string::npos) {
      res.status = 500;
      return;
    }
    res.set_content(CrossedTable(req.path), "application/json");
  });
  LoadFixture(*db.storage(), TwoSides(engine.Url(), true));
  rdmGradeDistribuicao object(db.storage());

  std::string grid;
  Distribute(object, grid);
  EXPECT_EQ(Groups(*db.storage()), "N1 N2 S3 | N3 S1 S2") << "the service's distances decide";
  ASSERT_EQ(engine.Paths().size(), 1u);
  EXPECT_EQ(engine.Paths()[0].rfind("/table/v1/driving/", 0), 0u);
  EXPECT_EQ(lock_free, std::vector<bool>{true}) << "asked while the write lock was held";

  // The service answers with an error: the estimate from the coordinates.
  refuse = true;
  Distribute(object, grid);
  EXPECT_EQ(Groups(*db.storage()), "N1 N2 N3 | S1 S2 S3");
  EXPECT_EQ(engine.Paths().size(), 2u);
}

// ---- random days -----------------------------------------------------------

// A day of whole orders of several items for clients around the branch (a
// few without coordinates, one with a latitude off the earth), on two
// delivery dates, over a mixed fleet.
nlohmann::json RandomDay(std::mt19937& rng, bool branch_located) {
  std::uniform_real_distribution<double> unit(0, 1);
  nlohmann::json f = TwoSides("", branch_located);
  f["VEICULO"] = nlohmann::json::array();
  const int vehicles = 3 + static_cast<int>(rng() % 4);
  for (int v = 0; v < vehicles; ++v) {
    f["VEICULO"].push_back({{"CDVIATURA", "V" + std::to_string(v)},
                            {"DSTIPOVEIC", "Truck"},
                            {"QTCAPACIVIAT", v % 2 ? 400 : 250},
                            {"VRVOLUMEVIAT", v % 2 ? 3 : 2},
                            {"IDTPIJURTRAN", "J"},
                            {"NRINSJURTRAN", "11222333000181"}});
  }
  f["CLIENTE"] = nlohmann::json::array();
  const int clients = 4 + static_cast<int>(rng() % 8);
  for (int c = 0; c < clients; ++c) {
    nlohmann::json client = {{"CDCLIENTE", "C" + std::to_string(c)},
                             {"NMFANTCLIE", "C" + std::to_string(c)}};
    if (c % 5 != 4) {
      client["LATITUDE"] = c % 7 == 6 ? 123.0 : -22.9 + (unit(rng) - 0.5) * 0.3;
      client["LONGITUDE"] = -47.06 + (unit(rng) - 0.5) * 0.3;
    }
    f["CLIENTE"].push_back(client);
  }
  f["ITEMPEDIDO"] = nlohmann::json::array();
  const int orders = 6 + static_cast<int>(rng() % 12);
  for (int o = 0; o < orders; ++o) {
    const std::string client = "C" + std::to_string(rng() % clients);
    const int lines = 1 + static_cast<int>(rng() % 4);
    for (int l = 1; l <= lines; ++l) {
      f["ITEMPEDIDO"].push_back({{"NRPEDIDO", "P" + std::to_string(o)},
                                 {"NRITEMPED", std::to_string(l)},
                                 {"CDFILIAL", "0001"},
                                 {"CDCLIENTE", client},
                                 {"CDPRODUTO", "A"},
                                 {"QTDEAEXP", 1 + static_cast<int>(rng() % 6)},
                                 {"VRPESOBRUTPR", std::round(unit(rng) * 2000) / 100},
                                 {"VRVOLMED", std::round(unit(rng) * 100) / 1000},
                                 {"IDCHECK", "S"},
                                 {"IDPRIOPED", std::to_string(1 + o % 3)},
                                 {"DTENTPED", o % 2 ? "2025-06-10" : "2025-06-11"}});
    }
  }
  return f;
}

// What a distribution did: the allocations by (vehicle, order, item), how
// many orders went to more than one vehicle, and the vehicles used summed
// over the delivery dates.
struct Outcome {
  std::map<std::tuple<std::string, std::string, std::string>, double> carried;
  std::size_t split_orders = 0;
  std::size_t vehicles = 0;
};

// Distributes the day and checks it is sound: each vehicle within its
// capacity on each date, each item's whole quantity carried.
Outcome DistributeSoundly(const nlohmann::json& day) {
  testing::TempDatabase db;
  LoadFixture(*db.storage(), day);
  rdmGradeDistribuicao object(db.storage());
  Distribute(object);
  Outcome out;
  std::map<std::string, std::pair<double, double>> room;
  for (const auto& v : day["VEICULO"]) {
    room[v["CDVIATURA"]] = {v["QTCAPACIVIAT"].get<double>(), v["VRVOLUMEVIAT"].get<double>()};
  }
  std::map<std::pair<std::string, std::string>, double> wanted;
  for (const auto& it : day["ITEMPEDIDO"])
    wanted[{it["NRPEDIDO"], it["NRITEMPED"]}] = it["QTDEAEXP"];
  db.storage()->Transact(TxKind::Read, [&](Session& s) {
    std::map<std::pair<std::string, std::string>, std::pair<double, double>> load;
    std::map<std::string, std::set<std::string>> vehicles_of;
    std::set<std::pair<std::string, std::string>> used;
    for (const Row& r : s.Query("SELECT CDVIATURA, NRPEDIDO, NRITEMPED, QTTRANSP, VRPESOUNIT, "
                                "VRVOLUNIT, DTENTREGA FROM ALOCGRADE")) {
      const std::string vehicle = r[0].ToString(), order = r[1].ToString(), item = r[2].ToString();
      const double q = r[3].ToDouble();
      out.carried[{vehicle, order, item}] += q;
      wanted[{order, item}] -= q;
      load[{vehicle, r[6].ToString()}].first += q * r[4].ToDouble();
      load[{vehicle, r[6].ToString()}].second += q * r[5].ToDouble();
      vehicles_of[order].insert(vehicle);
      used.insert({vehicle, r[6].ToString()});
    }
    for (const auto& [key, kg_m3] : load) {
      EXPECT_LE(kg_m3.first, room[key.first].first + 1e-9) << key.first << " on " << key.second;
      EXPECT_LE(kg_m3.second, room[key.first].second + 1e-9) << key.first << " on " << key.second;
    }
    for (const auto& [order, vehicles] : vehicles_of) out.split_orders += vehicles.size() > 1;
    out.vehicles = used.size();
  });
  for (const auto& [item, left] : wanted) {
    EXPECT_NEAR(left, 0, 1e-9) << item.first << " / " << item.second << " not wholly carried";
  }
  return out;
}

TEST(DistribuiQuantidadesByPlace, RandomDaysStayWithinRoomLoseNothingAndSplitNoMoreOrders) {
  std::mt19937 rng(20250610);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const std::mt19937 start = rng;
    const nlohmann::json by_place = RandomDay(rng, true);
    std::mt19937 again = start;
    const nlohmann::json by_weight = RandomDay(again, false);
    const Outcome placed = DistributeSoundly(by_place);
    const Outcome weighed = DistributeSoundly(by_weight);
    // By place it moves whole orders only, on no more vehicles.
    EXPECT_EQ(placed.split_orders, weighed.split_orders);
    EXPECT_LE(placed.vehicles, weighed.vehicles);
    // The same day gives the same distribution.
    EXPECT_EQ(DistributeSoundly(by_place).carried, placed.carried);
  }
}

}  // namespace
}  // namespace dg::server
