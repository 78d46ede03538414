// Distribution quality on public packing instances with known optima.
//
//   exp-bench-packing [--benchdata DIR] [--effort N] [--only PREFIX]
//
// DIR (default $EXP_BENCHDATA, else ../shared/benchdata beside the source
// tree) holds vbp2d_caprara_toth/ (two-constraint instances: weight and
// volume, every vehicle of the instance's capacity) and bpp1d_falkenauer/
// (one dimension: weight only, volume 0). The instance files are read in
// place and never copied.
//
// Each item of an instance becomes one order of one unit: an item type with
// a demand of d is d orders, because the units of an instance are placed
// independently, while the packing keeps the units of one order together.
// The fleet has as many vehicles as there are units.
//
// Prints a report per class (vehicles used against the optimum, for the
// first-fit decreasing construction alone and with the vehicle reduction,
// and thread CPU time per instance), then "ROW" lines for the summary table
// of bench/run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "appserver/packing.h"
#include "bench/bench_util.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;
using server::PackItem;
using server::PackVehicle;

struct Instance {
  std::string name;
  std::string family;  // "2D class 3", "1D uniform", ...
  std::vector<PackItem> items;
  PackVehicle capacity;
  int optimum = 0;  // 0: not known
};

std::map<std::string, int> ReadOptima(const fs::path& file) {
  std::map<std::string, int> out;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string name, value;
    std::getline(row, name, ',');
    std::getline(row, value, ',');
    if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0])))
      out[name] = std::stoi(value);
  }
  return out;
}

PackItem Unit(double weight, double volume, std::size_t n) {
  return {weight, volume, 1, std::to_string(n), "1", "2025-06-10"};
}

std::vector<Instance> ReadVectorPacking(const fs::path& dir) {
  std::vector<Instance> out;
  if (!fs::exists(dir)) return out;
  const auto optima = ReadOptima(dir / "optima.csv");
  for (const auto& entry : fs::directory_iterator(dir / "instances")) {
    if (entry.path().extension() != ".vbp") continue;
    std::ifstream in(entry.path());
    Instance inst;
    inst.name = entry.path().stem().string();
    int dims = 0, types = 0;
    in >> dims >> inst.capacity.free_weight >> inst.capacity.free_volume >> types;
    for (int t = 0; t < types; ++t) {
      double w = 0, v = 0;
      int demand = 0;
      in >> w >> v >> demand;
      for (int d = 0; d < demand; ++d) inst.items.push_back(Unit(w, v, inst.items.size()));
    }
    const std::string cls = inst.name.substr(3, inst.name.find('_', 3) - 3);
    inst.family = "2D class " + std::string(cls.size() < 2 ? " " : "") + cls;
    auto it = optima.find(inst.name);
    if (it != optima.end()) inst.optimum = it->second;
    out.push_back(std::move(inst));
  }
  return out;
}

std::vector<Instance> ReadBinPacking(const fs::path& dir) {
  std::vector<Instance> out;
  if (!fs::exists(dir)) return out;
  const auto optima = ReadOptima(dir / "optima.csv");
  for (const char* sub : {"Falkenauer_U", "Falkenauer_T"}) {
    for (const auto& entry : fs::directory_iterator(dir / "instances" / sub)) {
      std::ifstream in(entry.path());
      Instance inst;
      inst.name = entry.path().stem().string();
      int n = 0;
      in >> n >> inst.capacity.free_weight;
      for (int i = 0; i < n; ++i) {
        double w = 0;
        in >> w;
        inst.items.push_back(Unit(w, 0, inst.items.size()));
      }
      const std::string size =
          inst.name.substr(inst.name.find('_') + 2, inst.name.rfind('_') - inst.name.find('_') - 2);
      inst.family = std::string(sub[11] == 'U' ? "1D uniform " : "1D triplets ") + size;
      auto it = optima.find(inst.name);
      if (it != optima.end()) inst.optimum = it->second;
      out.push_back(std::move(inst));
    }
  }
  return out;
}

struct Outcome {
  int vehicles = 0;
  double seconds = 0;
};

// Packs, checks the packing (every unit once, every room respected) and
// counts the vehicles used.
Outcome Pack(const Instance& inst, const server::PackOptions& options) {
  const std::vector<PackVehicle> fleet(inst.items.size(), inst.capacity);
  const double start = ThreadSeconds();
  const server::PackResult r = server::PackItems(inst.items, fleet, options);
  Outcome out;
  out.seconds = ThreadSeconds() - start;
  std::vector<double> weight(fleet.size()), volume(fleet.size()), placed(inst.items.size());
  for (const auto& a : r.allocations) {
    weight[a.vehicle] += a.quantity * inst.items[a.item].unit_weight;
    volume[a.vehicle] += a.quantity * inst.items[a.item].unit_volume;
    placed[a.item] += a.quantity;
  }
  bool ok = r.complete;
  for (std::size_t v = 0; v < fleet.size(); ++v) {
    ok = ok && server::FitsWithin(weight[v], fleet[v].free_weight) &&
         server::FitsWithin(volume[v], fleet[v].free_volume);
    out.vehicles += placed.empty() ? 0 : (weight[v] > 0 || volume[v] > 0);
  }
  for (double p : placed) ok = ok && p == 1;
  if (!ok) {
    std::fprintf(stderr, "%s: invalid packing\n", inst.name.c_str());
    std::exit(1);
  }
  return out;
}

struct Tally {
  int instances = 0, with_optimum = 0, optimal = 0, over_one = 0, worst = 0;
  long used = 0, optimum = 0;
  double gap = 0, max_seconds = 0, total_seconds = 0;

  void Add(const Instance& inst, const Outcome& o) {
    ++instances;
    total_seconds += o.seconds;
    max_seconds = std::max(max_seconds, o.seconds);
    if (!inst.optimum) return;
    ++with_optimum;
    used += o.vehicles;
    optimum += inst.optimum;
    const int over = o.vehicles - inst.optimum;
    optimal += over == 0;
    over_one += over > 1;
    worst = std::max(worst, over);
    gap += 100.0 * over / inst.optimum;
  }
  std::string Cells() const {
    return Format("%d/%d | %.2f%% | %d | %.1f ms | %.1f ms", optimal, with_optimum,
                  with_optimum ? gap / with_optimum : 0.0, worst,
                  instances ? 1000 * total_seconds / instances : 0.0, 1000 * max_seconds);
  }
};

int Main(int argc, char** argv) {
  fs::path data = DefaultBenchData();
  server::PackOptions improved;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--benchdata")
      data = argv[i + 1];
    else if (flag == "--effort")
      improved.effort = std::stoull(argv[i + 1]);
    else if (flag == "--only")
      only = argv[i + 1];
    else
      return Usage("exp-bench-packing [--benchdata DIR] [--effort N] [--only PREFIX]");
  }
  std::vector<Instance> all = ReadVectorPacking(data / "vbp2d_caprara_toth");
  for (Instance& inst : ReadBinPacking(data / "bpp1d_falkenauer")) all.push_back(std::move(inst));
  if (all.empty()) {
    std::fprintf(stderr, "no instances under %s (set EXP_BENCHDATA or --benchdata)\n",
                 data.c_str());
    return 2;
  }
  std::sort(all.begin(), all.end(), [](const Instance& a, const Instance& b) {
    return a.family != b.family ? a.family < b.family : a.name < b.name;
  });
  server::PackOptions baseline;
  baseline.reduce = false;

  std::map<std::string, std::pair<Tally, Tally>> by_family;
  Tally vbp_base, vbp_best, bpp_base, bpp_best;
  for (const Instance& inst : all) {
    if (!only.empty() && inst.name.rfind(only, 0) != 0) continue;
    const Outcome base = Pack(inst, baseline);
    const Outcome best = Pack(inst, improved);
    auto& [fb, fi] = by_family[inst.family];
    fb.Add(inst, base);
    fi.Add(inst, best);
    const bool vbp = inst.family[0] == '2';
    (vbp ? vbp_base : bpp_base).Add(inst, base);
    (vbp ? vbp_best : bpp_best).Add(inst, best);
    if (inst.optimum && best.vehicles > inst.optimum) {
      std::printf("above optimum: %s %d vs %d (%.0f ms)\n", inst.name.c_str(), best.vehicles,
                  inst.optimum, 1000 * best.seconds);
    }
  }

  std::printf(
      "\n| family | first-fit decreasing: optimal, mean gap, worst, mean, max time | "
      "with reduction: optimal, mean gap, worst, mean, max time |\n|---|---|---|\n");
  for (const auto& [family, t] : by_family) {
    std::printf("| %s | %s | %s |\n", family.c_str(), t.first.Cells().c_str(),
                t.second.Cells().c_str());
  }
  std::printf("| 2D all | %s | %s |\n", vbp_base.Cells().c_str(), vbp_best.Cells().c_str());
  std::printf("| 1D all | %s | %s |\n", bpp_base.Cells().c_str(), bpp_best.Cells().c_str());

  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  Row("2D vector packing: instances at the optimum (reference: first-fit decreasing)",
      std::to_string(vbp_best.optimal) + "/" + std::to_string(vbp_best.with_optimum),
      std::to_string(vbp_base.optimal), ratio(vbp_best.optimal, vbp_base.optimal));
  Row("2D vector packing: vehicles used (reference: sum of optima)", std::to_string(vbp_best.used),
      std::to_string(vbp_best.optimum), ratio(vbp_best.used, vbp_best.optimum));
  Row("2D vector packing: first-fit decreasing vehicles (reference: sum of optima)",
      std::to_string(vbp_base.used), std::to_string(vbp_base.optimum),
      ratio(vbp_base.used, vbp_base.optimum));
  Row("2D vector packing: most vehicles above the optimum (goal 1)", std::to_string(vbp_best.worst),
      "1", ratio(vbp_best.worst, 1));
  Row("2D vector packing: slowest instance, CPU (goal 1 s)", Format("%.3f s", vbp_best.max_seconds),
      "1 s", vbp_best.max_seconds);
  Row("1D bin packing: instances at the optimum (reference: first-fit decreasing)",
      std::to_string(bpp_best.optimal) + "/" + std::to_string(bpp_best.with_optimum),
      std::to_string(bpp_base.optimal), ratio(bpp_best.optimal, bpp_base.optimal));
  Row("1D bin packing: vehicles used (reference: sum of optima)", std::to_string(bpp_best.used),
      std::to_string(bpp_best.optimum), ratio(bpp_best.used, bpp_best.optimum));
  Row("1D bin packing: slowest instance, CPU (goal 1 s)", Format("%.3f s", bpp_best.max_seconds),
      "1 s", bpp_best.max_seconds);
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
