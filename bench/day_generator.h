// Generated dispatch days, shared by the benchmarks: orders of 1 to 8 items,
// each item with a quantity, a unit weight and a unit volume, a priority and
// one of three delivery dates, on a transporter's fleet of four vehicle sizes
// with about one and a half times the room the busiest date needs. The
// clients lie in the neighbourhoods of a city about 30 km across, the branch
// near its centre. The same count always gives the same day (fixed seeds).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "planning/packing.h"
#include "planning/seeded_random.h"
#include "bench/bench_util.h"

namespace dg::bench {

using planning::PackItem;
using planning::PackVehicle;

// The generator of the searches, with the day's own seed.
struct Random : planning::SeededRandom {
  explicit Random(std::uint64_t seed = 20250610) : SeededRandom(seed) {}
  double Uniform(double lo, double hi) { return lo + (hi - lo) * (Next() % 1'000'000) / 1e6; }
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
  }
};

// A place in degrees.
struct Where {
  double latitude = 0, longitude = 0;
};

// One day: the items (PackItem::date holds the delivery date), the client of
// each item, the fleet, and where the branch and the clients are.
struct Day {
  std::vector<PackItem> items;  // date holds the delivery date
  std::vector<std::string> client;
  std::vector<PackVehicle> fleet;
  Where branch{-22.905, -47.061};
  std::map<std::string, Where> client_at;
};

// Clients spread over 14 neighbourhoods of a city about 30 km across (a
// neighbourhood about 3 km across), drawn from a seed of their own so that
// the loads stay those of the days measured before.
inline void PlaceClients(Day& day) {
  Random rng(7121);
  constexpr double kKmPerDegree = 111.195;
  const double shrink = std::cos(day.branch.latitude * 3.14159265358979 / 180);
  std::vector<std::pair<double, double>> centres;  // km east, km north of the branch
  for (int k = 0; k < 14; ++k) centres.push_back({rng.Uniform(-15, 15), rng.Uniform(-15, 15)});
  for (const std::string& c : std::set<std::string>(day.client.begin(), day.client.end())) {
    const auto& [east, north] = centres[rng.Next() % centres.size()];
    const double x = east + rng.Uniform(-1.5, 1.5), y = north + rng.Uniform(-1.5, 1.5);
    day.client_at[c] = {day.branch.latitude + y / kKmPerDegree,
                        day.branch.longitude + x / (kKmPerDegree * shrink)};
  }
}

inline constexpr const char* kDates[] = {"2025-06-10", "2025-06-11", "2025-06-12"};

inline Day Generate(int count) {
  Random rng;
  Day day;
  int order = 0;
  while (static_cast<int>(day.items.size()) < count) {
    ++order;
    const int lines = std::min(rng.Between(1, 8), count - static_cast<int>(day.items.size()));
    const std::string priority = std::to_string(rng.Between(1, 3));
    const char* date = kDates[rng.Next() % 3];
    const std::string client =
        std::string("C").append(std::to_string(rng.Between(1, std::max(1, count / 20))));
    for (int l = 0; l < lines; ++l) {
      // Whole units mostly; a few items sold by weight (fractional quantities).
      const double quantity =
          rng.Next() % 10 ? rng.Between(1, 40) : std::round(rng.Uniform(0.5, 30) * 1000) / 1000;
      day.items.push_back({std::round(rng.Uniform(0.2, 35) * 1000) / 1000,
                           std::round(rng.Uniform(0.001, 0.08) * 1000) / 1000, quantity,
                           std::string("P").append(std::to_string(order)), priority, date});
      day.client.push_back(client);
    }
  }
  // A fleet with about 1.5 times the weight of the busiest date.
  std::map<std::string, double> weight_of;
  for (const PackItem& it : day.items) weight_of[it.date] += it.unit_weight * it.quantity;
  double busiest = 0;
  for (const auto& [date, w] : weight_of) busiest = std::max(busiest, w);
  const PackVehicle sizes[] = {{1500, 8}, {4000, 20}, {8000, 35}, {14000, 60}};
  double room = 0;
  for (int i = 0; room < 1.5 * busiest || day.fleet.size() < 4; ++i) {
    day.fleet.push_back(sizes[i % 4]);
    room += sizes[i % 4].free_weight;
  }
  PlaceClients(day);
  return day;
}

// The day as a fixture: branch, transporter with the fleet, clients, items.
inline nlohmann::json Fixture(const Day& day) {
  using nlohmann::json;
  json f;
  f["PARAMETROS"] = json::array({{{"CDFILIAL", "0001"}, {"IDEXITRANSPDIST", "S"}}});
  f["FILIAL"] = json::array({{{"CDFILIAL", "0001"},
                              {"ENDERECO", "Rua A, 1"},
                              {"LATITUDE", day.branch.latitude},
                              {"LONGITUDE", day.branch.longitude}}});
  f["TRANSPORT"] = json::array({{{"IDTPIJURTRAN", "J"},
                                 {"NRINSJURTRAN", "11222333000181"},
                                 {"NMFANTTRAN", "Rodo"},
                                 {"CDTIPTRANS", "0001"}}});
  f["TIPOTRANSP"] = json::array({{{"CDTIPTRANS", "0001"}, {"NMTIPTRANS", "Rodoviário"}}});
  f["VEICULO"] = json::array();
  for (std::size_t v = 0; v < day.fleet.size(); ++v) {
    f["VEICULO"].push_back({{"CDVIATURA", Format("V%03zu", v)},
                            {"DSTIPOVEIC", Format("Tipo %zu", v % 4)},
                            {"QTCAPACIVIAT", day.fleet[v].free_weight},
                            {"VRVOLUMEVIAT", day.fleet[v].free_volume},
                            {"IDTPIJURTRAN", "J"},
                            {"NRINSJURTRAN", "11222333000181"}});
  }
  std::set<std::string> clients(day.client.begin(), day.client.end());
  f["CLIENTE"] = json::array();
  for (const std::string& c : clients) {
    const Where at = day.client_at.at(c);
    f["CLIENTE"].push_back({{"CDCLIENTE", c},
                            {"NMFANTCLIE", "Cliente " + c},
                            {"ENDERECO", "Rua " + c},
                            {"LATITUDE", at.latitude},
                            {"LONGITUDE", at.longitude}});
  }
  f["ITEMPEDIDO"] = json::array();
  std::map<std::string, int> line;
  for (std::size_t i = 0; i < day.items.size(); ++i) {
    const PackItem& it = day.items[i];
    f["ITEMPEDIDO"].push_back({{"NRPEDIDO", it.order},
                               {"NRITEMPED", std::to_string(++line[it.order])},
                               {"CDFILIAL", "0001"},
                               {"CDCLIENTE", day.client[i]},
                               {"NMFANTCLIE", "Cliente " + day.client[i]},
                               {"CDPRODUTO", "A"},
                               {"QTDEAEXP", it.quantity},
                               {"VRPESOBRUTPR", it.unit_weight},
                               {"VRVOLMED", it.unit_volume},
                               {"IDCHECK", "S"},
                               {"IDPRIOPED", it.priority},
                               {"DTENTPED", it.date}});
  }
  return f;
}

}  // namespace dg::bench
