// Distribution quality on public packing instances with known optima.
//
//   exp-bench-packing [--benchdata DIR] [--effort N] [--last-percent N] [--seed N]
//                     [--only PREFIX] [--previous 0|1] [--each 0|1]
//
// DIR (default $EXP_BENCHDATA, else ../shared/benchdata beside the source
// tree) holds vbp2d_caprara_toth/ (two-constraint instances: weight and
// volume, every vehicle of the instance's capacity) and bpp1d_falkenauer/
// (one dimension: weight only, volume 0). The instance files are read in
// place and never copied. --only takes one or more comma-separated prefixes
// of instance names. --effort, --last-percent and --seed set the
// exact-fill search's PackOptions::effort, last_vehicle_percent and seed.
//
// Each item of an instance becomes one order of one unit: an item type with
// a demand of d is d orders, because the units of an instance are placed
// independently, while the packing keeps the units of one order together.
// The fleet has as many vehicles as there are units.
//
// Prints a report per class: vehicles used against the optimum for the
// first-fit decreasing construction alone, for the earlier room-gathering
// search (left out with --previous 0) and for the exact-fill search, with the
// thread CPU time per instance; the open instances against the bounds of
// bounds.csv; then "ROW" lines for the summary table of bench/run. Every
// packing of all three is judged by the independent check (bench/check),
// which re-reads the instance file and counts the vehicles itself; a packing
// it refuses is printed ("refused: ...") and counted as a failure. With
// --each 1, first a line per instance: "instance: NAME USED OPTIMUM TIME",
// OPTIMUM being the best known upper bound where no optimum is known.
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
#include <tuple>
#include <vector>

#include "bench/bench_util.h"
#include "bench/check/check.h"
#include "bench/gather_room.h"
#include "planning/packing.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;
using planning::PackItem;
using planning::PackVehicle;

struct Instance {
  std::string name;
  std::string file;    // the instance file, for the independent check
  std::string family;  // "2D class 3", "1D uniform", ...
  std::vector<PackItem> items;
  PackVehicle capacity;
  int optimum = 0;      // 0: not known
  int lower_bound = 0;  // best known bounds where the optimum is not known
  int upper_bound = 0;
};

// instance -> (lower bound, upper bound) from bounds.csv.
std::map<std::string, std::pair<int, int>> ReadBounds(const fs::path& file) {
  std::map<std::string, std::pair<int, int>> out;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::vector<std::string> cells;
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    if (cells.size() > 4)
      out[cells[0]] = {std::atoi(cells[3].c_str()), std::atoi(cells[4].c_str())};
  }
  return out;
}

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
  const auto bounds = ReadBounds(dir / "bounds.csv");
  for (const auto& entry : fs::directory_iterator(dir / "instances")) {
    if (entry.path().extension() != ".vbp") continue;
    std::ifstream in(entry.path());
    Instance inst;
    inst.name = entry.path().stem().string();
    inst.file = entry.path().string();
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
    if (auto b = bounds.find(inst.name); b != bounds.end()) {
      std::tie(inst.lower_bound, inst.upper_bound) = b->second;
    }
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
      inst.file = entry.path().string();
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

// Whether `name` starts with one of the comma-separated `prefixes`.
bool StartsWithAny(const std::string& name, const std::string& prefixes) {
  std::istringstream list(prefixes);
  for (std::string prefix; std::getline(list, prefix, ',');) {
    if (!prefix.empty() && name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

struct Outcome {
  int vehicles = 0;  // as the independent check counted them
  double seconds = 0;
  bool refused = false;  // the independent check refused the packing
};

// Packs, and has the independent check re-read the instance file and count
// the vehicles (every unit once and whole, every room respected). A refused
// packing is printed and counted as a failure, never as a vehicle count.
Outcome Pack(const Instance& inst, const planning::PackOptions& options, const char* packing) {
  const std::vector<PackVehicle> fleet(inst.items.size(), inst.capacity);
  const double start = ThreadSeconds();
  const planning::PackResult r = planning::PackItems(inst.items, fleet, options);
  Outcome out;
  out.seconds = ThreadSeconds() - start;
  std::vector<check::Placed> answer;
  for (const auto& a : r.allocations) answer.push_back({a.item, a.vehicle, a.quantity});
  const bool two_dimensional = inst.family[0] == '2';
  const check::Verdict verdict = two_dimensional ? check::CheckVectorPacking(inst.file, answer)
                                                 : check::CheckBinPacking(inst.file, answer);
  out.vehicles = static_cast<int>(verdict.vehicles);
  if (!verdict.ok || !r.complete) {
    out.refused = true;
    std::printf("refused: %s, %s: %s\n", inst.name.c_str(), packing,
                verdict.ok ? "the packing says it is incomplete" : verdict.reason.c_str());
  }
  return out;
}

struct Tally {
  int instances = 0, with_optimum = 0, optimal = 0, worst = 0, refused = 0;
  long used = 0, optimum = 0;
  double gap = 0;
  std::vector<double> seconds;

  void Add(const Instance& inst, const Outcome& o) {
    ++instances;
    seconds.push_back(o.seconds);
    if (o.refused) {  // a failure: not at the optimum, no vehicle count
      ++refused;
      with_optimum += inst.optimum ? 1 : 0;
      return;
    }
    if (!inst.optimum) return;
    ++with_optimum;
    used += o.vehicles;
    optimum += inst.optimum;
    const int over = o.vehicles - inst.optimum;
    optimal += over == 0;
    worst = std::max(worst, over);
    gap += 100.0 * over / inst.optimum;
  }
  double Max() const { return seconds.empty() ? 0 : Quantile(seconds, 1); }
  double Mean() const {
    double sum = 0;
    for (double x : seconds) sum += x;
    return seconds.empty() ? 0 : sum / static_cast<double>(seconds.size());
  }
  std::string Quality() const {
    return Format("%d/%d | %.2f%% | %d", optimal, with_optimum,
                  with_optimum ? gap / with_optimum : 0.0, worst);
  }
  std::string Times() const {
    return Format("%.1f ms | %.1f ms | %.1f ms", 1000 * Mean(), 1000 * Median(seconds),
                  1000 * Max());
  }
};

// The three packings of one family or set: first-fit decreasing alone, the
// earlier room-gathering search and the exact-fill search.
struct Tallies {
  Tally first_fit, previous, fill;
};

int Main(int argc, char** argv) {
  fs::path data = DefaultBenchData();
  planning::PackOptions fill;
  std::string only;
  bool previous = true;
  bool each = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--benchdata")
      data = argv[i + 1];
    else if (flag == "--effort")
      fill.effort = std::stoull(argv[i + 1]);
    else if (flag == "--last-percent")
      fill.last_vehicle_percent = std::stoull(argv[i + 1]);
    else if (flag == "--seed")
      fill.seed = std::stoull(argv[i + 1]);
    else if (flag == "--only")
      only = argv[i + 1];
    else if (flag == "--previous")
      previous = std::string(argv[i + 1]) != "0";
    else if (flag == "--each")
      each = std::string(argv[i + 1]) != "0";
    else
      return Usage(
          "exp-bench-packing [--benchdata DIR] [--effort N] [--last-percent N] [--seed N] "
          "[--only PREFIX] [--previous 0|1] [--each 0|1]");
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
  planning::PackOptions first_fit;
  first_fit.search = planning::PackSearch::kNone;
  planning::PackOptions gather;
  gather.search = planning::PackSearch::kGiven;
  gather.given = GatherRoom;
  gather.effort = 20'000'000;  // as the earlier search was tuned

  std::map<std::string, Tallies> by_family;
  Tallies vbp, bpp, everything;
  std::vector<std::string> open_rows;
  int open_within = 0, open_count = 0;
  for (const Instance& inst : all) {
    if (!only.empty() && !StartsWithAny(inst.name, only)) continue;
    const Outcome base = Pack(inst, first_fit, "first-fit decreasing");
    const Outcome before = previous ? Pack(inst, gather, "earlier search") : Outcome{};
    const Outcome now = Pack(inst, fill, "exact-fill search");
    const bool two_dimensional = inst.family[0] == '2';
    for (Tallies* t : {&by_family[inst.family], two_dimensional ? &vbp : &bpp, &everything}) {
      t->first_fit.Add(inst, base);
      if (previous) t->previous.Add(inst, before);
      t->fill.Add(inst, now);
    }
    if (each) {
      std::printf("instance: %s %d %d %.1f ms\n", inst.name.c_str(), now.vehicles,
                  inst.optimum ? inst.optimum : inst.upper_bound, 1000 * now.seconds);
    }
    if (inst.optimum && !now.refused && now.vehicles > inst.optimum) {
      std::printf("above optimum: %s %d vs %d (%.0f ms)\n", inst.name.c_str(), now.vehicles,
                  inst.optimum, 1000 * now.seconds);
    }
    if (!inst.optimum && inst.upper_bound) {
      ++open_count;
      open_within += !now.refused && now.vehicles <= inst.upper_bound;
      open_rows.push_back(Format("| %s | %d | %d | %d | %d | %.0f ms |", inst.name.c_str(),
                                 inst.lower_bound, inst.upper_bound, base.vehicles, now.vehicles,
                                 1000 * now.seconds));
    }
  }

  std::printf(
      "\n| family | first-fit decreasing: optimal, mean gap, worst | earlier search: optimal, "
      "mean gap, worst | mean, median, max time | exact-fill search: optimal, mean gap, worst | "
      "mean, median, max time |\n|---|---|---|---|---|---|\n");
  auto line = [&](const std::string& name, const Tallies& t) {
    std::printf("| %s | %s | %s | %s | %s | %s |\n", name.c_str(), t.first_fit.Quality().c_str(),
                previous ? t.previous.Quality().c_str() : "-",
                previous ? t.previous.Times().c_str() : "-", t.fill.Quality().c_str(),
                t.fill.Times().c_str());
  };
  for (const auto& [family, t] : by_family) line(family, t);
  line("2D all", vbp);
  line("1D all", bpp);
  line("all", everything);
  if (!open_rows.empty()) {
    std::printf(
        "\n| open instance | lower bound | upper bound | first-fit decreasing | exact-fill search "
        "| time |\n|---|---|---|---|---|---|\n");
    for (const std::string& row : open_rows) std::printf("%s\n", row.c_str());
  }

  auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  auto share = [](const Tally& t) {
    return std::to_string(t.optimal) + "/" + std::to_string(t.with_optimum);
  };
  for (const auto& [name, t] : {std::pair<std::string, const Tallies&>{"2D vector packing", vbp},
                                {"1D bin packing", bpp}}) {
    Row(name + ": instances at the optimum (reference: this project's first-fit decreasing)",
        share(t.fill), std::to_string(t.first_fit.optimal),
        ratio(t.fill.optimal, t.first_fit.optimal));
    if (previous) {
      Row(name + ": instances at the optimum (reference: this project's earlier search)",
          share(t.fill), std::to_string(t.previous.optimal),
          ratio(t.fill.optimal, t.previous.optimal));
    }
    Row(name + ": vehicles used (reference: sum of optima)", std::to_string(t.fill.used),
        std::to_string(t.fill.optimum), ratio(t.fill.used, t.fill.optimum));
    Row(name + ": this project's first-fit decreasing, vehicles used (reference: sum of optima)",
        std::to_string(t.first_fit.used), std::to_string(t.first_fit.optimum),
        ratio(t.first_fit.used, t.first_fit.optimum));
    Row(name + ": packings the independent check refused, of all three searches (goal 0)",
        std::to_string(t.first_fit.refused + t.previous.refused + t.fill.refused), "0",
        t.first_fit.refused + t.previous.refused + t.fill.refused);
    Row(name + ": most vehicles above the optimum (goal 0)", std::to_string(t.fill.worst), "0",
        t.fill.worst);
    Row(name + ": slowest instance, CPU (goal 1 s)", Format("%.3f s", t.fill.Max()), "1 s",
        t.fill.Max());
    if (previous) {
      Row(name + ": median instance, CPU (reference: this project's earlier search)",
          Format("%.1f ms", 1000 * Median(t.fill.seconds)),
          Format("%.1f ms", 1000 * Median(t.previous.seconds)),
          ratio(Median(t.fill.seconds), Median(t.previous.seconds)));
    }
  }
  Row("All instances: median CPU (goal 50 ms)",
      Format("%.1f ms", 1000 * Median(everything.fill.seconds)), "50 ms",
      Median(everything.fill.seconds) / 0.05);
  if (open_count) {
    Row("2D open instances: at or below the best known upper bound",
        Format("%d/%d", open_within, open_count), std::to_string(open_count),
        ratio(open_within, open_count));
  }
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
