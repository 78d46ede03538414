// The independent checker: instance readers, distance rules and answer
// checks of its own (see check.h). Nothing here comes from the planners or
// from the benchmarks' readers, on purpose: a fault shared by both sides
// would pass unseen.
#include "bench/check/check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace dg::bench::check {
namespace {

// A number as a person reads it: at most four decimals, none trailing.
std::string Num(double x) {
  char buffer[64];
  if (std::isfinite(x) && x == std::floor(x) && std::fabs(x) < 1e15)
    std::snprintf(buffer, sizeof buffer, "%.0f", x);
  else
    std::snprintf(buffer, sizeof buffer, "%.4f", x);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

Verdict Refuse(std::string reason, double figure = 0, std::size_t vehicles = 0) {
  Verdict v;
  v.reason = std::move(reason);
  v.figure = figure;
  v.vehicles = vehicles;
  return v;
}

Verdict Accept(double figure, std::size_t vehicles) {
  Verdict v;
  v.ok = true;
  v.figure = figure;
  v.vehicles = vehicles;
  return v;
}

// The file's lines without their line ends; false when it cannot be read.
bool ReadLines(const std::string& file, std::vector<std::string>& lines) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return true;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string t; in >> t;) out.push_back(t);
  return out;
}

bool ToDouble(const std::string& token, double& out) {
  if (token.empty()) return false;
  char* end = nullptr;
  out = std::strtod(token.c_str(), &end);
  return end == token.c_str() + token.size() && std::isfinite(out);
}

bool ToInteger(const std::string& token, long long& out) {
  if (token.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoll(token.c_str(), &end, 10);
  return errno == 0 && end == token.c_str() + token.size();
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\"");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\"");
  return s.substr(b, e - b + 1);
}

// Two rationals-free comparisons of a claimed length.
bool SameLength(double claimed, double recomputed) {
  return std::fabs(claimed - recomputed) <= 1e-6 * std::max(1.0, std::fabs(recomputed));
}

// ---- Packing.

struct PackingInstance {
  int dimensions = 1;
  long long capacity[2] = {0, 0};
  std::vector<std::array<long long, 2>> items;
};

// All whitespace-separated integers of the file; false on anything else.
bool ReadIntegers(const std::string& file, std::vector<long long>& out, std::string& error) {
  std::vector<std::string> lines;
  if (!ReadLines(file, lines)) {
    error = "cannot read " + file;
    return false;
  }
  for (const std::string& line : lines) {
    for (const std::string& t : Tokens(line)) {
      long long v = 0;
      if (!ToInteger(t, v)) {
        error = file + ": \"" + t + "\" is not an integer";
        return false;
      }
      out.push_back(v);
    }
  }
  return true;
}

bool ReadVbp(const std::string& file, PackingInstance& inst, std::string& error) {
  std::vector<long long> v;
  if (!ReadIntegers(file, v, error)) return false;
  if (v.size() < 4 || v[0] != 2) {
    error = file + ": not a two-dimensional packing instance";
    return false;
  }
  inst.dimensions = 2;
  inst.capacity[0] = v[1];
  inst.capacity[1] = v[2];
  const long long types = v[3];
  if (types < 0 || v.size() != 4 + 3 * static_cast<std::size_t>(types)) {
    error = file + ": " + std::to_string(types) + " item types announced, " +
            std::to_string(v.size() - 4) + " numbers follow";
    return false;
  }
  constexpr long long kMostItems = 10'000'000;
  long long total = 0;
  for (long long t = 0; t < types; ++t) {
    const long long w = v[4 + 3 * t], vol = v[5 + 3 * t], demand = v[6 + 3 * t];
    if (w < 0 || vol < 0 || demand < 0 || demand > kMostItems - total) {
      error = file + ": negative size, or a demand beyond " + std::to_string(kMostItems) +
              " items, in item type " + std::to_string(t + 1);
      return false;
    }
    total += demand;
    for (long long d = 0; d < demand; ++d) inst.items.push_back({w, vol});
  }
  return true;
}

bool ReadBpp(const std::string& file, PackingInstance& inst, std::string& error) {
  std::vector<long long> v;
  if (!ReadIntegers(file, v, error)) return false;
  if (v.size() < 2 || v[0] < 0 || v.size() != 2 + static_cast<std::size_t>(v[0])) {
    error = file + ": the item count does not match the weights that follow";
    return false;
  }
  inst.capacity[0] = v[1];
  for (std::size_t i = 2; i < v.size(); ++i) {
    if (v[i] < 0) {
      error = file + ": negative weight of item " + std::to_string(i - 2);
      return false;
    }
    inst.items.push_back({v[i], 0});
  }
  return true;
}

Verdict CheckPacking(const PackingInstance& inst, const std::vector<Placed>& answer) {
  const std::size_t n = inst.items.size();
  std::vector<long long> bin_of(n, -1);
  std::map<std::size_t, std::array<long long, 2>> load;
  std::string reason;
  for (const Placed& p : answer) {
    if (p.item >= n) {
      if (reason.empty())
        reason = "item " + std::to_string(p.item) + " does not exist (the instance has " +
                 std::to_string(n) + ")";
      continue;
    }
    if (p.quantity != 1) {
      if (reason.empty())
        reason = "item " + std::to_string(p.item) + " placed with quantity " + Num(p.quantity) +
                 " in bin " + std::to_string(p.bin) + " (an item goes whole, once)";
      continue;
    }
    if (bin_of[p.item] >= 0) {
      if (reason.empty())
        reason = "item " + std::to_string(p.item) + " placed twice (bins " +
                 std::to_string(bin_of[p.item]) + " and " + std::to_string(p.bin) + ")";
      continue;
    }
    bin_of[p.item] = static_cast<long long>(p.bin);
    auto& l = load[p.bin];
    l[0] += inst.items[p.item][0];
    l[1] += inst.items[p.item][1];
  }
  const double bins = static_cast<double>(load.size());
  if (!reason.empty()) return Refuse(reason, bins, load.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (bin_of[i] < 0)
      return Refuse("item " + std::to_string(i) + " not placed", bins, load.size());
  }
  const char* names[2] = {"weight", "volume"};
  for (const auto& [bin, l] : load) {
    for (int d = 0; d < inst.dimensions; ++d) {
      if (l[d] > inst.capacity[d]) {
        return Refuse("bin " + std::to_string(bin) + " over capacity: " +
                          (inst.dimensions == 1 ? std::string("size") : std::string(names[d])) +
                          " " + std::to_string(l[d]) + " of " + std::to_string(inst.capacity[d]),
                      bins, load.size());
      }
    }
  }
  return Accept(bins, load.size());
}

// ---- TSPLIB instances (tours and routes with capacity).

struct TsplibFile {
  std::map<std::string, std::string> header;  // upper-case keys
  std::map<std::string, std::vector<std::string>> sections;
};

bool ReadTsplibFile(const std::string& file, TsplibFile& out, std::string& error) {
  std::vector<std::string> lines;
  if (!ReadLines(file, lines)) {
    error = "cannot read " + file;
    return false;
  }
  std::string section;
  for (const std::string& raw : lines) {
    const std::string line = Trim(raw);
    if (line.empty()) continue;
    const unsigned char first = static_cast<unsigned char>(line[0]);
    if (std::isalpha(first)) {
      const auto colon = line.find(':');
      std::string key = Trim(line.substr(0, colon == std::string::npos ? line.size() : colon));
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (key == "EOF") break;
      if (colon != std::string::npos && key.find("_SECTION") == std::string::npos) {
        out.header[key] = Trim(line.substr(colon + 1));
        section.clear();
      } else {
        section = Tokens(key).empty() ? key : Tokens(key)[0];
        out.sections[section];
      }
      continue;
    }
    if (section.empty()) {
      error = file + ": numbers outside any section (\"" + line + "\")";
      return false;
    }
    for (const std::string& t : Tokens(line)) out.sections[section].push_back(t);
  }
  return true;
}

// The distances of a TSPLIB instance, by its own rule.
class Distances {
 public:
  bool Load(const std::string& file, const TsplibFile& f, std::string& error) {
    auto get = [&](const char* key) {
      auto it = f.header.find(key);
      return it == f.header.end()         ? std::string()
             : Tokens(it->second).empty() ? std::string()
                                          : Tokens(it->second)[0];
    };
    long long dimension = 0;
    if (!ToInteger(get("DIMENSION"), dimension) || dimension < 2) {
      error = file + ": no DIMENSION of at least 2";
      return false;
    }
    n_ = static_cast<std::size_t>(dimension);
    type_ = get("EDGE_WEIGHT_TYPE");
    if (type_ == "EXPLICIT") return LoadMatrix(file, f, get("EDGE_WEIGHT_FORMAT"), error);
    if (type_ != "EUC_2D" && type_ != "CEIL_2D" && type_ != "ATT" && type_ != "GEO") {
      error = file + ": distance rule \"" + type_ + "\" not handled";
      return false;
    }
    auto it = f.sections.find("NODE_COORD_SECTION");
    if (it == f.sections.end() || it->second.size() != 3 * n_) {
      error = file + ": NODE_COORD_SECTION does not hold " + std::to_string(n_) + " nodes";
      return false;
    }
    x_.assign(n_, 0);
    y_.assign(n_, 0);
    std::vector<char> seen(n_, 0);
    for (std::size_t k = 0; k < n_; ++k) {
      long long id = 0;
      double x = 0, y = 0;
      if (!ToInteger(it->second[3 * k], id) || id < 1 || id > dimension || seen[id - 1] ||
          !ToDouble(it->second[3 * k + 1], x) || !ToDouble(it->second[3 * k + 2], y)) {
        error = file + ": bad node line " + std::to_string(k + 1) + " in NODE_COORD_SECTION";
        return false;
      }
      seen[id - 1] = 1;
      x_[id - 1] = x;
      y_[id - 1] = y;
    }
    return true;
  }

  std::size_t size() const { return n_; }

  long long operator()(std::size_t i, std::size_t j) const {
    if (!matrix_.empty()) return matrix_[i * n_ + j];
    const double dx = x_[i] - x_[j], dy = y_[i] - y_[j];
    if (type_ == "EUC_2D")
      return static_cast<long long>(std::floor(std::sqrt(dx * dx + dy * dy) + 0.5));
    if (type_ == "CEIL_2D") return static_cast<long long>(std::ceil(std::sqrt(dx * dx + dy * dy)));
    if (type_ == "ATT") {
      const double r = std::sqrt((dx * dx + dy * dy) / 10.0);
      const long long t = static_cast<long long>(std::floor(r + 0.5));
      return static_cast<double>(t) < r ? t + 1 : t;
    }
    // GEO: degrees.minutes, the degrees taken by truncation.
    auto radians = [](double v) {
      const double pi = 3.141592;
      const double deg = std::trunc(v);
      return pi * (deg + 5.0 * (v - deg) / 3.0) / 180.0;
    };
    const double lat_i = radians(x_[i]), lon_i = radians(y_[i]);
    const double lat_j = radians(x_[j]), lon_j = radians(y_[j]);
    const double q1 = std::cos(lon_i - lon_j), q2 = std::cos(lat_i - lat_j),
                 q3 = std::cos(lat_i + lat_j);
    const double cosine = std::clamp(0.5 * ((1 + q1) * q2 - (1 - q1) * q3), -1.0, 1.0);
    return static_cast<long long>(6378.388 * std::acos(cosine) + 1.0);
  }

 private:
  bool LoadMatrix(const std::string& file, const TsplibFile& f, const std::string& format,
                  std::string& error) {
    auto it = f.sections.find("EDGE_WEIGHT_SECTION");
    if (it == f.sections.end()) {
      error = file + ": EXPLICIT distances without EDGE_WEIGHT_SECTION";
      return false;
    }
    const std::vector<std::string>& w = it->second;
    // The numbers each layout needs, checked before any room is taken for
    // them: a wrong DIMENSION is a refusal, not an allocation failure.
    const std::size_t half = n_ * (n_ - 1) / 2;
    std::size_t needed = 0;
    if (format == "FULL_MATRIX") needed = n_ * n_;
    if (format == "UPPER_ROW" || format == "LOWER_ROW") needed = half;
    if (format == "UPPER_DIAG_ROW" || format == "LOWER_DIAG_ROW") needed = half + n_;
    if (needed == 0) {
      error = file + ": EDGE_WEIGHT_FORMAT \"" + format + "\" not handled";
      return false;
    }
    if (n_ > 100000 || w.size() != needed) {
      error = file + ": EDGE_WEIGHT_SECTION holds " + std::to_string(w.size()) +
              " numbers, not what " + format + " of " + std::to_string(n_) + " nodes needs";
      return false;
    }
    matrix_.assign(n_ * n_, 0);
    std::size_t k = 0;
    bool ok = true;
    auto next = [&](std::size_t i, std::size_t j) {
      long long v = 0;
      double d = 0;
      if (k >= w.size()) {
        ok = false;
        return;
      }
      if (!ToInteger(w[k], v)) {
        if (!ToDouble(w[k], d) || d != std::floor(d)) ok = false;
        v = static_cast<long long>(d);
      }
      ++k;
      matrix_[i * n_ + j] = matrix_[j * n_ + i] = v;
    };
    if (format == "FULL_MATRIX") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = 0; j < n_; ++j) next(i, j);
    } else if (format == "UPPER_ROW") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = i + 1; j < n_; ++j) next(i, j);
    } else if (format == "LOWER_ROW") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = 0; j < i; ++j) next(i, j);
    } else if (format == "UPPER_DIAG_ROW") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = i; j < n_; ++j) next(i, j);
    } else if (format == "LOWER_DIAG_ROW") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = 0; j <= i; ++j) next(i, j);
    } else {
      error = file + ": EDGE_WEIGHT_FORMAT \"" + format + "\" not handled";
      return false;
    }
    if (!ok || k != w.size()) {
      error = file + ": EDGE_WEIGHT_SECTION holds " + std::to_string(w.size()) +
              " numbers, not what " + format + " of " + std::to_string(n_) + " nodes needs";
      return false;
    }
    // A full matrix read above kept its last value of each pair; it must be symmetric.
    if (format == "FULL_MATRIX") {
      for (std::size_t i = 0; i < n_; ++i)
        for (std::size_t j = 0; j < n_; ++j) {
          long long a = 0, b = 0;
          ToInteger(w[i * n_ + j], a);
          ToInteger(w[j * n_ + i], b);
          if (a != b) {
            error = file + ": the distance matrix is not symmetric";
            return false;
          }
        }
    }
    return true;
  }

  std::size_t n_ = 0;
  std::string type_;
  std::vector<double> x_, y_;
  std::vector<long long> matrix_;
};

// Numbers of a section up to its closing -1 (or its end).
bool SectionIntegers(const TsplibFile& f, const char* name, std::vector<long long>& out) {
  auto it = f.sections.find(name);
  if (it == f.sections.end()) return true;
  for (const std::string& t : it->second) {
    long long v = 0;
    if (!ToInteger(t, v)) return false;
    if (v == -1) break;
    out.push_back(v);
  }
  return true;
}

}  // namespace

std::string Verdict::Describe() const {
  if (!ok) return "refused: " + reason;
  return "ok " + Num(figure) + " (" + std::to_string(vehicles) +
         (vehicles == 1 ? " vehicle)" : " vehicles)");
}

Verdict CheckVectorPacking(const std::string& instance_file, const std::vector<Placed>& answer) {
  PackingInstance inst;
  std::string error;
  if (!ReadVbp(instance_file, inst, error)) return Refuse(error);
  return CheckPacking(inst, answer);
}

Verdict CheckBinPacking(const std::string& instance_file, const std::vector<Placed>& answer) {
  PackingInstance inst;
  std::string error;
  if (!ReadBpp(instance_file, inst, error)) return Refuse(error);
  return CheckPacking(inst, answer);
}

Verdict CheckFleetPacking(const std::string& instance_file, const std::vector<Placed>& answer) {
  std::vector<std::string> lines;
  if (!ReadLines(instance_file, lines)) return Refuse("cannot read " + instance_file);
  struct Item {
    double weight = 0, volume = 0, quantity = 0;
  };
  std::vector<std::array<double, 2>> room;
  std::vector<Item> items;
  std::size_t want_vehicles = 0, want_items = 0;
  int part = 0;  // 1: vehicles, 2: items
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::vector<std::string> t = Tokens(lines[k]);
    if (t.empty()) continue;
    const std::string where = instance_file + ", line " + std::to_string(k + 1);
    long long count = 0;
    if (t.size() == 2 && (t[0] == "vehicles" || t[0] == "items")) {
      if (!ToInteger(t[1], count) || count < 0) return Refuse(where + ": bad count");
      part = t[0] == "vehicles" ? 1 : 2;
      (part == 1 ? want_vehicles : want_items) = static_cast<std::size_t>(count);
      continue;
    }
    double a = 0, b = 0, q = 0;
    if (part == 1 && t.size() == 2 && ToDouble(t[0], a) && ToDouble(t[1], b) && a >= 0 && b >= 0) {
      room.push_back({a, b});
    } else if (part == 2 && t.size() == 4 && ToDouble(t[0], a) && ToDouble(t[1], b) &&
               ToDouble(t[2], q) && a >= 0 && b >= 0 && q > 0) {
      items.push_back({a, b, q});
    } else {
      return Refuse(where + ": not a vehicle's room nor an item");
    }
  }
  if (room.size() != want_vehicles || items.size() != want_items || room.empty())
    return Refuse(instance_file + ": the counts of vehicles and items do not match their lines");

  std::vector<double> placed(items.size(), 0);
  std::map<std::size_t, std::array<double, 2>> load;
  for (const Placed& p : answer) {
    if (p.item >= items.size())
      return Refuse("item " + std::to_string(p.item) + " does not exist (the day has " +
                    std::to_string(items.size()) + ")");
    if (p.bin >= room.size())
      return Refuse("vehicle " + std::to_string(p.bin) + " does not exist (the fleet has " +
                    std::to_string(room.size()) + ")");
    if (!(p.quantity > 0))
      return Refuse("item " + std::to_string(p.item) + " placed with quantity " + Num(p.quantity));
    placed[p.item] += p.quantity;
    load[p.bin][0] += p.quantity * items[p.item].weight;
    load[p.bin][1] += p.quantity * items[p.item].volume;
  }
  const double used = static_cast<double>(load.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (std::fabs(placed[i] - items[i].quantity) > 1e-6 * items[i].quantity)
      return Refuse("item " + std::to_string(i) + ": " + Num(placed[i]) + " placed of " +
                        Num(items[i].quantity),
                    used, load.size());
  }
  for (const auto& [v, l] : load) {
    for (int d = 0; d < 2; ++d) {
      if (l[d] > room[v][d] + 0.0005)
        return Refuse("vehicle " + std::to_string(v) + " over its room: " +
                          (d == 0 ? "weight " : "volume ") + Num(l[d]) + " of " + Num(room[v][d]),
                      used, load.size());
    }
  }
  return Accept(used, load.size());
}

Verdict CheckTour(const std::string& instance_file, const std::vector<std::size_t>& tour,
                  std::optional<double> claimed) {
  TsplibFile f;
  Distances d;
  std::string error;
  if (!ReadTsplibFile(instance_file, f, error) || !d.Load(instance_file, f, error))
    return Refuse(error);
  const std::size_t n = d.size();
  std::vector<std::size_t> position(n, n);
  for (std::size_t k = 0; k < tour.size(); ++k) {
    const std::size_t node = tour[k];
    if (node >= n)
      return Refuse("node " + std::to_string(node) + " does not exist (the instance has " +
                    std::to_string(n) + ")");
    if (position[node] != n)
      return Refuse("node " + std::to_string(node) + " visited twice (positions " +
                    std::to_string(position[node]) + " and " + std::to_string(k) + ")");
    position[node] = k;
  }
  for (std::size_t node = 0; node < n; ++node) {
    if (position[node] == n) return Refuse("node " + std::to_string(node) + " not visited");
  }
  long long length = 0;
  for (std::size_t k = 0; k < n; ++k) length += d(tour[k], tour[(k + 1) % n]);
  const double figure = static_cast<double>(length);
  std::vector<long long> fixed;
  if (!SectionIntegers(f, "FIXED_EDGES_SECTION", fixed) || fixed.size() % 2 != 0)
    return Refuse(instance_file + ": bad FIXED_EDGES_SECTION", figure, 1);
  for (std::size_t e = 0; e + 1 < fixed.size(); e += 2) {
    const long long a = fixed[e] - 1, b = fixed[e + 1] - 1;
    if (a < 0 || b < 0 || a >= static_cast<long long>(n) || b >= static_cast<long long>(n))
      return Refuse(instance_file + ": fixed edge outside the nodes", figure, 1);
    const std::size_t pa = position[a], pb = position[b];
    const std::size_t apart = pa > pb ? pa - pb : pb - pa;
    if (apart != 1 && apart != n - 1)
      return Refuse(
          "fixed edge " + std::to_string(a) + "-" + std::to_string(b) + " not in the tour", figure,
          1);
  }
  if (claimed && !SameLength(*claimed, figure))
    return Refuse("length claimed " + Num(*claimed) + ", recomputed " + Num(figure), figure, 1);
  return Accept(figure, 1);
}

std::size_t VehiclesInName(const std::string& instance_name) {
  const auto at = instance_name.rfind("-k");
  if (at == std::string::npos) return 0;
  std::size_t k = 0, i = at + 2;
  if (i >= instance_name.size()) return 0;
  for (; i < instance_name.size(); ++i) {
    const char c = instance_name[i];
    if (c < '0' || c > '9') return 0;
    k = k * 10 + static_cast<std::size_t>(c - '0');
  }
  return k;
}

Verdict CheckCvrp(const std::string& instance_file,
                  const std::vector<std::vector<std::size_t>>& routes, FleetRule fleet,
                  std::optional<double> claimed) {
  TsplibFile f;
  Distances d;
  std::string error;
  if (!ReadTsplibFile(instance_file, f, error) || !d.Load(instance_file, f, error))
    return Refuse(error);
  const std::size_t nodes = d.size();
  double capacity = 0;
  {
    auto it = f.header.find("CAPACITY");
    if (it == f.header.end() || !ToDouble(Trim(it->second), capacity) || capacity <= 0)
      return Refuse(instance_file + ": no positive CAPACITY");
  }
  std::vector<long long> depots;
  if (!SectionIntegers(f, "DEPOT_SECTION", depots))
    return Refuse(instance_file + ": bad DEPOT_SECTION");
  if (depots.empty()) depots.push_back(1);
  if (depots.size() != 1 || depots[0] < 1 || depots[0] > static_cast<long long>(nodes))
    return Refuse(instance_file + ": one depot among the nodes expected");
  const std::size_t depot = static_cast<std::size_t>(depots[0] - 1);
  std::vector<double> demand(nodes, 0);
  {
    auto it = f.sections.find("DEMAND_SECTION");
    if (it == f.sections.end() || it->second.size() != 2 * nodes)
      return Refuse(instance_file + ": DEMAND_SECTION does not hold " + std::to_string(nodes) +
                    " nodes");
    for (std::size_t k = 0; k < nodes; ++k) {
      long long id = 0;
      double q = 0;
      if (!ToInteger(it->second[2 * k], id) || id < 1 || id > static_cast<long long>(nodes) ||
          !ToDouble(it->second[2 * k + 1], q) || q < 0)
        return Refuse(instance_file + ": bad line " + std::to_string(k + 1) + " of DEMAND_SECTION");
      demand[id - 1] = q;
    }
  }
  // Customer c (1..n) is the c-th node other than the depot.
  std::vector<std::size_t> node_of = {depot};
  for (std::size_t i = 0; i < nodes; ++i)
    if (i != depot) node_of.push_back(i);
  const std::size_t n = nodes - 1;

  std::vector<std::size_t> route_of(n + 1, 0);  // 1-based route number, 0: not visited
  std::size_t used = 0;
  long long length = 0;
  std::string reason;
  for (std::size_t r = 0; r < routes.size(); ++r) {
    if (routes[r].empty()) continue;
    ++used;
    double load = 0;
    std::size_t at = depot;
    for (std::size_t c : routes[r]) {
      if (c < 1 || c > n) {
        if (reason.empty())
          reason = "customer " + std::to_string(c) + " does not exist (route " +
                   std::to_string(r + 1) + "; customers are 1.." + std::to_string(n) + ")";
        continue;
      }
      if (route_of[c] && reason.empty())
        reason = "customer " + std::to_string(c) + " visited twice (routes " +
                 std::to_string(route_of[c]) + " and " + std::to_string(r + 1) + ")";
      route_of[c] = r + 1;
      load += demand[node_of[c]];
      length += d(at, node_of[c]);
      at = node_of[c];
    }
    length += d(at, depot);
    if (load > capacity && reason.empty())
      reason = "route " + std::to_string(r + 1) + " carries " + Num(load) + " over the capacity " +
               Num(capacity);
  }
  const double figure = static_cast<double>(length);
  if (!reason.empty()) return Refuse(reason, figure, used);
  for (std::size_t c = 1; c <= n; ++c) {
    if (!route_of[c]) return Refuse("customer " + std::to_string(c) + " not visited", figure, used);
  }
  if (fleet.kind == FleetRule::Kind::kExactly && used != fleet.count)
    return Refuse(std::to_string(used) + " routes where exactly " + std::to_string(fleet.count) +
                      " are required",
                  figure, used);
  if (fleet.kind == FleetRule::Kind::kAtMost && used > fleet.count)
    return Refuse(std::to_string(used) + " routes, more than the " + std::to_string(fleet.count) +
                      " vehicles",
                  figure, used);
  if (claimed && !SameLength(*claimed, figure))
    return Refuse("cost claimed " + Num(*claimed) + ", recomputed " + Num(figure), figure, used);
  return Accept(figure, used);
}

Verdict CheckVrptw(const std::string& instance_file,
                   const std::vector<std::vector<std::size_t>>& routes, TimeConvention convention,
                   std::optional<double> claimed) {
  std::vector<std::string> lines;
  if (!ReadLines(instance_file, lines)) return Refuse("cannot read " + instance_file);
  struct Customer {
    double x = 0, y = 0, demand = 0, ready = 0, due = 0, service = 0;
  };
  std::vector<Customer> c;
  long long vehicles = -1;
  double capacity = 0;
  for (const std::string& line : lines) {
    const std::vector<std::string> t = Tokens(line);
    std::vector<double> v(t.size());
    bool numeric = !t.empty();
    for (std::size_t i = 0; i < t.size() && numeric; ++i) numeric = ToDouble(t[i], v[i]);
    if (!numeric) continue;
    if (t.size() == 2 && vehicles < 0 && c.empty()) {
      vehicles = static_cast<long long>(v[0]);
      capacity = v[1];
    } else if (t.size() == 7) {
      if (v[0] != static_cast<double>(c.size()))
        return Refuse(instance_file + ": customer row " + t[0] + " out of order (expected " +
                      std::to_string(c.size()) + ")");
      c.push_back({v[1], v[2], v[3], v[4], v[5], v[6]});
    } else {
      return Refuse(instance_file + ": unexpected line \"" + line + "\"");
    }
  }
  if (vehicles < 1 || capacity <= 0 || c.size() < 2)
    return Refuse(instance_file + ": no fleet line (NUMBER CAPACITY) or no customers");
  const std::size_t n = c.size() - 1;
  const bool tenths = convention == TimeConvention::kTruncatedTenths;

  // Distances and times: doubles, or exact integers in tenths.
  auto travel = [&](std::size_t i, std::size_t j) -> double {
    const double dx = c[i].x - c[j].x, dy = c[i].y - c[j].y;
    if (!tenths) return std::sqrt(dx * dx + dy * dy);
    const double s = 100 * (dx * dx + dy * dy);
    if (s == std::floor(s) && s < 9e15) {
      auto q = static_cast<std::int64_t>(std::sqrt(s));
      const auto si = static_cast<std::int64_t>(s);
      while (q * q > si) --q;
      while ((q + 1) * (q + 1) <= si) ++q;
      return static_cast<double>(q);
    }
    return std::floor(std::sqrt(s));
  };
  auto time = [&](double t) { return tenths ? std::round(10 * t) : t; };
  const double tolerance = tenths ? 0 : 1e-9;
  auto show = [&](double t) { return Num(tenths ? t / 10 : t); };

  std::vector<std::size_t> route_of(n + 1, 0);
  std::size_t used = 0;
  double length = 0;
  std::string reason;
  auto refuse_once = [&](std::string why) {
    if (reason.empty()) reason = std::move(why);
  };
  for (std::size_t r = 0; r < routes.size(); ++r) {
    if (routes[r].empty()) continue;
    ++used;
    const std::string route = "route " + std::to_string(r + 1);
    double load = 0, t = time(c[0].ready);
    std::size_t at = 0;
    for (std::size_t u : routes[r]) {
      if (u < 1 || u > n) {
        refuse_once("customer " + std::to_string(u) + " does not exist (" + route +
                    "; customers are 1.." + std::to_string(n) + ")");
        continue;
      }
      if (route_of[u])
        refuse_once("customer " + std::to_string(u) + " visited twice (routes " +
                    std::to_string(route_of[u]) + " and " + std::to_string(r + 1) + ")");
      route_of[u] = r + 1;
      load += c[u].demand;
      const double leg = travel(at, u);
      length += leg;
      t += leg;
      if (t > time(c[u].due) + tolerance)
        refuse_once("customer " + std::to_string(u) + " reached at " + show(t) +
                    ", after its window closes at " + Num(c[u].due) + " (" + route + ")");
      t = std::max(t, time(c[u].ready)) + time(c[u].service);
      at = u;
    }
    const double back = travel(at, 0);
    length += back;
    t += back;
    if (t > time(c[0].due) + tolerance)
      refuse_once(route + " back at the depot at " + show(t) + ", after it closes at " +
                  Num(c[0].due));
    if (load > capacity)
      refuse_once(route + " carries " + Num(load) + " over the capacity " + Num(capacity));
  }
  const double figure = tenths ? length / 10 : length;
  if (!reason.empty()) return Refuse(reason, figure, used);
  for (std::size_t u = 1; u <= n; ++u) {
    if (!route_of[u]) return Refuse("customer " + std::to_string(u) + " not visited", figure, used);
  }
  if (used > static_cast<std::size_t>(vehicles))
    return Refuse(
        std::to_string(used) + " routes, more than the " + std::to_string(vehicles) + " vehicles",
        figure, used);
  if (claimed) {
    const bool same =
        tenths ? std::fabs(*claimed * 10 - length) < 1e-6 : SameLength(*claimed, figure);
    if (!same)
      return Refuse("distance claimed " + Num(*claimed) + ", recomputed " + Num(figure), figure,
                    used);
  }
  return Accept(figure, used);
}

RouteFile ReadRouteFile(const std::string& file) {
  RouteFile out;
  std::vector<std::string> lines;
  if (!ReadLines(file, lines)) {
    out.read = Refuse("cannot read " + file);
    return out;
  }
  for (const std::string& raw : lines) {
    const std::string line = Trim(raw);
    if (line.rfind("Route", 0) == 0) {
      const auto colon = line.find(':');
      if (colon == std::string::npos) {
        out.read = Refuse(file + ": route line without ':' (\"" + line + "\")");
        return out;
      }
      std::vector<std::size_t> route;
      for (const std::string& t : Tokens(line.substr(colon + 1))) {
        long long v = 0;
        if (!ToInteger(t, v) || v < 0) {
          out.read = Refuse(file + ": \"" + t + "\" in a route is not a customer number");
          return out;
        }
        route.push_back(static_cast<std::size_t>(v));
      }
      out.routes.push_back(std::move(route));
    } else if (line.rfind("Cost", 0) == 0) {
      const std::vector<std::string> t = Tokens(line);
      double v = 0;
      if (t.size() == 2 && ToDouble(t[1], v)) out.cost = v;
    }
  }
  out.read = Accept(0, out.routes.size());
  return out;
}

TourFile ReadTourFile(const std::string& file) {
  TourFile out;
  TsplibFile f;
  std::string error;
  if (!ReadTsplibFile(file, f, error)) {
    out.read = Refuse(error);
    return out;
  }
  std::vector<long long> ids;
  if (!SectionIntegers(f, "TOUR_SECTION", ids)) {
    out.read = Refuse(file + ": TOUR_SECTION holds something other than node numbers");
    return out;
  }
  for (long long id : ids) {
    if (id < 1) {
      out.read = Refuse(file + ": node " + std::to_string(id) + " in TOUR_SECTION");
      return out;
    }
    out.tour.push_back(static_cast<std::size_t>(id - 1));
  }
  out.read = Accept(0, 1);
  return out;
}

}  // namespace dg::bench::check
