// Reader of the TSPLIB text format used by the public routing instances:
// symmetric TSP (EUC_2D, CEIL_2D, ATT, GEO, EXPLICIT in its usual matrix
// layouts) and CVRP (the same header, DEMAND_SECTION, DEPOT_SECTION,
// CAPACITY). Distances follow the TSPLIB rules exactly, as integers.
//
// Header lines are "KEY : value" or "KEY: value"; tabs, trailing blanks and
// CRLF line ends are accepted. Throws std::runtime_error naming the file on
// anything it does not understand.
#pragma once

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace dg::bench {

struct TsplibInstance {
  std::string name;
  std::size_t dimension = 0;
  std::vector<double> distance;  // dimension x dimension, row-major
  std::vector<double> x, y;      // coordinates when the file has them
  std::vector<double> demand;    // CVRP: per node (node 0 first)
  double capacity = 0;           // CVRP
  std::size_t depot = 0;         // CVRP: 0-based
  // FIXED_EDGES_SECTION, 0-based: edges every tour must hold (such an
  // instance's optimum may not be a tour through every node).
  std::vector<std::pair<std::size_t, std::size_t>> fixed_edges;
  double Distance(std::size_t i, std::size_t j) const { return distance[i * dimension + j]; }
};

namespace tsplib_detail {

inline std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\"");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r\"");
  return s.substr(b, e - b + 1);
}

inline double Nint(double x) { return static_cast<double>(static_cast<long long>(x + 0.5)); }

// Degrees.minutes to radians, as TSPLIB defines GEO.
inline double GeoRadians(double v) {
  const double pi = 3.141592;
  const double deg = static_cast<double>(static_cast<long long>(v));
  const double min = v - deg;
  return pi * (deg + 5.0 * min / 3.0) / 180.0;
}

}  // namespace tsplib_detail

inline TsplibInstance ReadTsplib(const std::string& path) {
  using namespace tsplib_detail;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  TsplibInstance inst;
  std::map<std::string, std::string> header;
  std::string line, type, format;
  std::vector<double> weights;
  auto fail = [&](const std::string& what) { throw std::runtime_error(path + ": " + what); };
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty()) continue;
    if (t == "EOF") break;
    if (t.rfind("NODE_COORD_SECTION", 0) == 0) {
      inst.x.assign(inst.dimension, 0);
      inst.y.assign(inst.dimension, 0);
      for (std::size_t k = 0; k < inst.dimension; ++k) {
        std::size_t id = 0;
        double x = 0, y = 0;
        if (!(in >> id >> x >> y) || id < 1 || id > inst.dimension) fail("bad coordinate line");
        inst.x[id - 1] = x;
        inst.y[id - 1] = y;
      }
    } else if (t.rfind("EDGE_WEIGHT_SECTION", 0) == 0) {
      std::size_t count = 0;
      const std::size_t n = inst.dimension;
      if (format == "FULL_MATRIX") {
        count = n * n;
      } else if (format == "UPPER_ROW" || format == "LOWER_ROW") {
        count = n * (n - 1) / 2;
      } else if (format == "LOWER_DIAG_ROW" || format == "UPPER_DIAG_ROW") {
        count = n * (n + 1) / 2;
      } else {
        fail("edge weight format " + format);
      }
      weights.resize(count);
      for (double& w : weights) {
        if (!(in >> w)) fail("short edge weight section");
      }
    } else if (t.rfind("DEMAND_SECTION", 0) == 0) {
      inst.demand.assign(inst.dimension, 0);
      for (std::size_t k = 0; k < inst.dimension; ++k) {
        std::size_t id = 0;
        double d = 0;
        if (!(in >> id >> d) || id < 1 || id > inst.dimension) fail("bad demand line");
        inst.demand[id - 1] = d;
      }
    } else if (t.rfind("DEPOT_SECTION", 0) == 0) {
      long long id = 0;
      if (!(in >> id) || id < 1) fail("bad depot section");
      inst.depot = static_cast<std::size_t>(id - 1);
      while (in >> id && id != -1) {
      }
    } else if (t.rfind("FIXED_EDGES_SECTION", 0) == 0) {
      long long a = 0, b = 0;
      while (in >> a && a != -1) {
        if (!(in >> b) || a < 1 || b < 1) fail("bad fixed edges section");
        inst.fixed_edges.push_back(
            {static_cast<std::size_t>(a - 1), static_cast<std::size_t>(b - 1)});
      }
    } else if (t.rfind("DISPLAY_DATA_SECTION", 0) == 0) {
      for (std::size_t k = 0; k < inst.dimension; ++k) {
        double a, b, c;
        in >> a >> b >> c;
      }
    } else {
      const auto colon = t.find(':');
      if (colon == std::string::npos) continue;
      const std::string key = Trim(t.substr(0, colon)), value = Trim(t.substr(colon + 1));
      header[key] = value;
      if (key == "NAME") inst.name = value;
      if (key == "DIMENSION") inst.dimension = static_cast<std::size_t>(std::stoul(value));
      if (key == "EDGE_WEIGHT_TYPE") type = value;
      if (key == "EDGE_WEIGHT_FORMAT") format = value;
      if (key == "CAPACITY") inst.capacity = std::stod(value);
    }
  }
  const std::size_t n = inst.dimension;
  if (n == 0) fail("no dimension");
  inst.distance.assign(n * n, 0);
  auto set = [&](std::size_t i, std::size_t j, double w) {
    inst.distance[i * n + j] = w;
    inst.distance[j * n + i] = w;
  };
  if (type == "EXPLICIT") {
    std::size_t k = 0;
    if (format == "FULL_MATRIX") {
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) inst.distance[i * n + j] = weights[k++];
    } else if (format == "UPPER_ROW") {
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) set(i, j, weights[k++]);
    } else if (format == "LOWER_ROW") {
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < i; ++j) set(i, j, weights[k++]);
    } else if (format == "UPPER_DIAG_ROW") {
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i; j < n; ++j) set(i, j, weights[k++]);
    } else {  // LOWER_DIAG_ROW
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j <= i; ++j) set(i, j, weights[k++]);
    }
    return inst;
  }
  if (inst.x.size() != n) fail("no coordinates");
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const double dx = inst.x[i] - inst.x[j], dy = inst.y[i] - inst.y[j];
      double w = 0;
      if (type == "EUC_2D") {
        w = Nint(std::sqrt(dx * dx + dy * dy));
      } else if (type == "CEIL_2D") {
        w = std::ceil(std::sqrt(dx * dx + dy * dy));
      } else if (type == "ATT") {
        const double r = std::sqrt((dx * dx + dy * dy) / 10.0);
        const double t = Nint(r);
        w = t < r ? t + 1 : t;
      } else if (type == "GEO") {
        const double rrr = 6378.388;
        const double lat_i = GeoRadians(inst.x[i]), lon_i = GeoRadians(inst.y[i]);
        const double lat_j = GeoRadians(inst.x[j]), lon_j = GeoRadians(inst.y[j]);
        const double q1 = std::cos(lon_i - lon_j);
        const double q2 = std::cos(lat_i - lat_j);
        const double q3 = std::cos(lat_i + lat_j);
        w = static_cast<double>(static_cast<long long>(
            rrr * std::acos(0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3)) + 1.0));
      } else {
        fail("edge weight type " + type);
      }
      set(i, j, w);
    }
  }
  return inst;
}

}  // namespace dg::bench
