// Distribution quality on public packing instances with known optima.
//
//   exp-bench-packing [--benchdata DIR] [--set KIND:FOLDER:TABLE]... [--effort N]
//                     [--last-percent N] [--seed N | --seeds A-B] [--only PREFIX]
//                     [--previous 0|1] [--each 0|1] [--cpu-goal SECONDS]
//
// Each --set names one set of instances, read in place and never copied:
// KIND vbp, a FOLDER of two-constraint instances (weight and volume, every
// vehicle of the instance's capacity) under FOLDER/instances/*.vbp, its
// open instances' bounds in FOLDER/bounds.csv where there is one; KIND
// bpp, one dimension (weight only, volume 0), every file under
// FOLDER/instances/ one instance (the count of items, the capacity, then
// the weights). TABLE is the reference table: a CSV file whose header names
// an "instance" and an "optimum" column (a row with an empty or non-numeric
// optimum is an open instance). Without --set, DIR (default
// $EXP_BENCHDATA, else ../shared/benchdata beside the source tree) gives
// vbp:DIR/vbp2d_caprara_toth:DIR/vbp2d_caprara_toth/optima.csv and
// bpp:DIR/bpp1d_falkenauer:DIR/bpp1d_falkenauer/optima.csv.
// --only takes one or more comma-separated prefixes of instance names.
// --effort, --last-percent and --seed set the exact-fill search's
// PackOptions::effort, last_vehicle_percent and seed; --seeds A-B runs the
// exact-fill search at every seed from A to B and prints the instances at
// the optimum per seed (the tables are those of the first seed).
// --cpu-goal sets the goal of the slowest instance's CPU row (1 s).
//
// Each item of an instance becomes one order of one unit: an item type with
// a demand of d is d orders, because the units of an instance are placed
// independently, while the packing keeps the units of one order together.
// The fleet has as many vehicles as there are units.
//
// Prints a report per class: vehicles used against the optimum for the
// first-fit decreasing construction alone (this project's own code), for
// the earlier room-gathering search (left out with --previous 0) and for
// the exact-fill search, with the thread CPU time per instance; the open
// instances against the bounds of bounds.csv; then "ROW" lines for the
// summary table of bench/run. Every packing of all three is judged by the
// independent check (bench/check), which re-reads the instance file and
// counts the vehicles itself; a packing it refuses is printed ("refused:
// ...") and counted as a failure. With --each 1, first a line per instance:
// "instance: NAME USED OPTIMUM TIME", OPTIMUM being the best known upper
// bound where no optimum is known.
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

// instance -> optimum from a table whose header names an "instance" and an
// "optimum" column; rows without a numeric optimum are left out.
std::map<std::string, int> ReadOptima(const fs::path& file) {
  std::map<std::string, int> out;
  std::ifstream in(file);
  if (!in) {
    std::fprintf(stderr, "cannot read the reference table %s\n", file.c_str());
    std::exit(2);
  }
  auto cells_of = [](std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    return cells;
  };
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = cells_of(line);
  const auto column = [&](const char* name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const std::size_t name_at = column("instance"), value_at = column("optimum");
  if (name_at >= header.size() || value_at >= header.size()) {
    std::fprintf(stderr, "%s: the header names no instance and optimum columns\n", file.c_str());
    std::exit(2);
  }
  while (std::getline(in, line)) {
    const std::vector<std::string> cells = cells_of(line);
    if (cells.size() <= std::max(name_at, value_at)) continue;
    const std::string& value = cells[value_at];
    if (!value.empty() && std::isdigit(static_cast<unsigned char>(value[0])))
      out[cells[name_at]] = std::stoi(value);
  }
  return out;
}

PackItem Unit(double weight, double volume, std::size_t n) {
  return {weight, volume, 1, std::to_string(n), "1", "2025-06-10"};
}

std::vector<Instance> ReadVectorPacking(const fs::path& dir, const fs::path& table) {
  std::vector<Instance> out;
  if (!fs::exists(dir)) return out;
  const auto optima = ReadOptima(table);
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

// The family of a one-dimensional instance: Falkenauer's by its kind and
// size as the name says, any other by its folder and item count.
std::string BinPackingFamily(const fs::path& file, std::size_t items) {
  const std::string name = file.stem().string(), folder = file.parent_path().filename().string();
  if (folder.rfind("Falkenauer_", 0) == 0 && name.find('_') != std::string::npos) {
    const std::size_t first = name.find('_'), last = name.rfind('_');
    const std::string size = last > first + 2 ? name.substr(first + 2, last - first - 2) : "";
    return std::string(folder.back() == 'U' ? "1D uniform " : "1D triplets ") + size;
  }
  return Format("1D %s %3zu", folder.c_str(), items);
}

std::vector<Instance> ReadBinPacking(const fs::path& dir, const fs::path& table) {
  std::vector<Instance> out;
  if (!fs::exists(dir / "instances")) return out;
  const auto optima = ReadOptima(table);
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir / "instances")) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file);
    Instance inst;
    inst.name = file.stem().string();
    inst.file = file.string();
    int n = 0;
    if (!(in >> n >> inst.capacity.free_weight) || n <= 0) {
      std::fprintf(stderr, "%s: not an instance (the count of items, the capacity, the weights)\n",
                   file.c_str());
      std::exit(2);
    }
    for (int i = 0; i < n; ++i) {
      double w = 0;
      if (!(in >> w)) {
        std::fprintf(stderr, "%s: %d weights, not %d\n", file.c_str(), i, n);
        std::exit(2);
      }
      inst.items.push_back(Unit(w, 0, inst.items.size()));
    }
    inst.family = BinPackingFamily(file, inst.items.size());
    auto it = optima.find(inst.name);
    if (it != optima.end()) inst.optimum = it->second;
    out.push_back(std::move(inst));
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

// One set of instances: its kind ("vbp" or "bpp"), folder and reference
// table.
struct Set {
  std::string kind;
  fs::path folder, table;
};

bool ParseSet(const std::string& spec, Set& set) {
  const std::size_t first = spec.find(':'), last = spec.rfind(':');
  if (first == std::string::npos || last == first) return false;
  set.kind = spec.substr(0, first);
  set.folder = spec.substr(first + 1, last - first - 1);
  set.table = spec.substr(last + 1);
  return (set.kind == "vbp" || set.kind == "bpp") && !set.folder.empty() && !set.table.empty();
}

// The name of a set in the summary rows.
std::string SetLabel(const Set& set) {
  if (set.kind == "vbp") return "2D vector packing";
  const std::string folder = fs::path(set.folder).filename().string();
  return folder == "bpp1d_falkenauer" ? "1D bin packing" : "1D bin packing, " + folder;
}

int Main(int argc, char** argv) {
  constexpr const char* kUsage =
      "exp-bench-packing [--benchdata DIR] [--set vbp|bpp:FOLDER:TABLE]... [--effort N] "
      "[--last-percent N] [--seed N | --seeds A-B] [--only PREFIX] [--previous 0|1] [--each 0|1] "
      "[--cpu-goal SECONDS]";
  fs::path data = DefaultBenchData();
  planning::PackOptions fill;
  std::string only;
  bool previous = true;
  bool each = false;
  std::vector<Set> sets;
  std::uint64_t first_seed = 0, last_seed = 0;
  double cpu_goal = 1;
  try {
    for (int i = 1; i < argc; i += 2) {
      const std::string flag = argv[i];
      if (i + 1 >= argc) return Usage(kUsage);
      const std::string value = argv[i + 1];
      if (flag == "--benchdata") {
        data = value;
      } else if (flag == "--set") {
        Set set;
        if (!ParseSet(value, set)) return Usage(kUsage);
        sets.push_back(set);
      } else if (flag == "--effort") {
        fill.effort = std::stoull(value);
      } else if (flag == "--last-percent") {
        fill.last_vehicle_percent = std::stoull(value);
      } else if (flag == "--seed") {
        fill.seed = std::stoull(value);
      } else if (flag == "--seeds") {
        const std::size_t dash = value.find('-');
        first_seed = std::stoull(value.substr(0, dash));
        last_seed = dash == std::string::npos ? first_seed : std::stoull(value.substr(dash + 1));
        if (last_seed < first_seed) return Usage(kUsage);
        fill.seed = first_seed;
      } else if (flag == "--only") {
        only = value;
      } else if (flag == "--previous") {
        previous = value != "0";
      } else if (flag == "--each") {
        each = value != "0";
      } else if (flag == "--cpu-goal") {
        cpu_goal = std::stod(value);
      } else {
        return Usage(kUsage);
      }
    }
  } catch (const std::exception&) {
    return Usage(kUsage);  // a number that does not read as one
  }
  const bool default_sets = sets.empty();
  if (default_sets) {
    sets.push_back({"vbp", data / "vbp2d_caprara_toth", data / "vbp2d_caprara_toth/optima.csv"});
    sets.push_back({"bpp", data / "bpp1d_falkenauer", data / "bpp1d_falkenauer/optima.csv"});
  }
  std::vector<Instance> all;
  std::map<std::string, std::string> label_of_family;
  std::vector<std::string> labels;
  for (const Set& set : sets) {
    std::vector<Instance> read = set.kind == "vbp" ? ReadVectorPacking(set.folder, set.table)
                                                   : ReadBinPacking(set.folder, set.table);
    const std::string label = SetLabel(set);
    if (std::find(labels.begin(), labels.end(), label) == labels.end()) labels.push_back(label);
    for (Instance& inst : read) {
      label_of_family[inst.family] = label;
      all.push_back(std::move(inst));
    }
  }
  if (all.empty()) {
    std::fprintf(stderr, "no instances under %s (set EXP_BENCHDATA, --benchdata or --set)\n",
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

  std::map<std::string, Tallies> by_family, by_label;
  Tallies everything;
  std::vector<std::string> open_rows;
  int open_within = 0, open_count = 0;
  // Per further seed of --seeds, per label: instances at the optimum.
  std::map<std::uint64_t, std::map<std::string, Tally>> by_seed;
  for (const Instance& inst : all) {
    if (!only.empty() && !StartsWithAny(inst.name, only)) continue;
    const Outcome base = Pack(inst, first_fit, "first-fit decreasing");
    const Outcome before = previous ? Pack(inst, gather, "earlier search") : Outcome{};
    const Outcome now = Pack(inst, fill, "exact-fill search");
    const std::string& label = label_of_family[inst.family];
    for (Tallies* t : {&by_family[inst.family], &by_label[label], &everything}) {
      t->first_fit.Add(inst, base);
      if (previous) t->previous.Add(inst, before);
      t->fill.Add(inst, now);
    }
    if (last_seed > first_seed) by_seed[first_seed][label].Add(inst, now);
    for (std::uint64_t seed = first_seed + 1; seed <= last_seed; ++seed) {
      planning::PackOptions other = fill;
      other.seed = seed;
      const Outcome o = Pack(inst, other, "exact-fill search at another seed");
      by_seed[seed][label].Add(inst, o);
      if (inst.optimum && o.vehicles > inst.optimum) {
        std::printf("above optimum at seed %llu: %s %d vs %d (%.0f ms)\n",
                    static_cast<unsigned long long>(seed), inst.name.c_str(), o.vehicles,
                    inst.optimum, 1000 * o.seconds);
      }
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
  for (const std::string& label : labels) {
    if (by_label.count(label)) line(label + ", all", by_label[label]);
  }
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
  if (!by_seed.empty()) {
    std::printf("\n| seed |");
    for (const std::string& label : labels) std::printf(" %s: at the optimum |", label.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < labels.size(); ++i) std::printf("---|");
    std::printf("\n");
    for (auto& [seed, tallies] : by_seed) {
      std::printf("| %llu |", static_cast<unsigned long long>(seed));
      for (const std::string& label : labels) std::printf(" %s |", share(tallies[label]).c_str());
      std::printf("\n");
    }
  }
  for (const std::string& label : labels) {
    if (!by_label.count(label)) continue;
    const std::string& name = label;
    const Tallies& t = by_label[label];
    if (!by_seed.empty()) {
      int fewest = t.fill.with_optimum, most = 0;
      std::string counts;
      for (auto& [seed, tallies] : by_seed) {
        fewest = std::min(fewest, tallies[label].optimal);
        most = std::max(most, tallies[label].optimal);
        counts += (counts.empty() ? "" : ", ") + std::to_string(tallies[label].optimal);
      }
      Row(name +
              Format(": instances at the optimum at seeds %llu to %llu (fewest of ",
                     static_cast<unsigned long long>(first_seed),
                     static_cast<unsigned long long>(last_seed)) +
              std::to_string(t.fill.with_optimum) + "; each: " + counts + ")",
          std::to_string(fewest), std::to_string(t.fill.with_optimum),
          ratio(fewest, t.fill.with_optimum));
    }
    Row(name + ": instances at the optimum (reference: first-fit decreasing, our own code)",
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
    Row(name + Format(": slowest instance, CPU (goal %g s)", cpu_goal),
        Format("%.3f s", t.fill.Max()), Format("%g s", cpu_goal), t.fill.Max() / cpu_goal);
    if (previous) {
      Row(name + ": median instance, CPU (reference: this project's earlier search)",
          Format("%.1f ms", 1000 * Median(t.fill.seconds)),
          Format("%.1f ms", 1000 * Median(t.previous.seconds)),
          ratio(Median(t.fill.seconds), Median(t.previous.seconds)));
    }
  }
  if (default_sets) {
    Row("All instances: median CPU (goal 50 ms)",
        Format("%.1f ms", 1000 * Median(everything.fill.seconds)), "50 ms",
        Median(everything.fill.seconds) / 0.05);
  }
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
