// Routing with time windows on public instances in Solomon's format, against
// their best-known solutions.
//
//   exp-bench-vrptw INSTANCE_DIR BKS_CSV [--only PREFIX] [--seed N] [--effort N]
//                   [--fleet-share PERCENT] [--least-share PERCENT]
//
// INSTANCE_DIR holds the instances (`<name>.txt`: name, VEHICLE NUMBER and
// CAPACITY, then the CUSTOMER table, row 0 the depot, its due date the
// horizon); BKS_CSV the best known, one row per instance and convention
// (`instance,vehicles,distance,convention,...`): `hierarchical/...` (fewest
// vehicles, then least distance, Euclidean distances in double precision) and
// `distance/...` (least distance only, every distance truncated to one
// decimal). The files are read in place and never copied.
//
// Each instance is planned in both conventions, beside the reference in the
// same run: our own implementation of Solomon's I1 insertion (mu = 1,
// lambda = 1, alpha1 = 1, the seed the unrouted customer farthest from the
// depot), no improvement. Every answer is judged by the independent check
// (bench/check), which re-reads the instance file: each customer exactly
// once, the capacity, every window (unloading starts by the due date, after
// waiting for the ready time), the return by the depot's due date, the
// fleet; the distance is recomputed from the coordinates. Prints
// the table per instance, then "ROW" lines for the summary table of
// bench/run.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/check/check.h"
#include "planning/timed_routing.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;

struct Customer {
  double x = 0, y = 0, demand = 0, ready = 0, due = 0, service = 0;
};

struct Instance {
  std::string name, file;
  std::size_t fleet = 0;
  double capacity = 0;
  std::vector<Customer> nodes;  // [0] the depot
};

bool ReadInstance(const fs::path& file, Instance& inst) {
  std::ifstream in(file);
  std::string line;
  std::vector<std::vector<double>> numbers;
  if (!std::getline(in, line)) return false;
  inst.name = file.stem().string();
  inst.file = file.string();
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::vector<double> values;
    double v = 0;
    while (row >> v) values.push_back(v);
    if (!values.empty() && row.eof()) numbers.push_back(values);
  }
  if (numbers.empty() || numbers[0].size() != 2) return false;
  inst.fleet = static_cast<std::size_t>(numbers[0][0]);
  inst.capacity = numbers[0][1];
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    const auto& r = numbers[i];
    if (r.size() != 7 || static_cast<std::size_t>(r[0]) != inst.nodes.size()) return false;
    inst.nodes.push_back({r[1], r[2], r[3], r[4], r[5], r[6]});
  }
  return inst.nodes.size() >= 2;
}

// The distance of the convention: exact, or truncated to one decimal (in
// integer tenths, as the published optima are computed).
double Distance(const Instance& inst, std::size_t i, std::size_t j, bool truncated) {
  const double dx = inst.nodes[i].x - inst.nodes[j].x;
  const double dy = inst.nodes[i].y - inst.nodes[j].y;
  if (!truncated) return std::sqrt(dx * dx + dy * dy);
  // floor(10 d) through the integer square root of 100 (dx² + dy²).
  const auto square = static_cast<long long>(std::llround(100 * (dx * dx + dy * dy)));
  auto root = static_cast<long long>(std::sqrt(static_cast<double>(square)));
  while (root * root > square) --root;
  while ((root + 1) * (root + 1) <= square) ++root;
  return static_cast<double>(root) / 10;
}

using Routes = std::vector<std::vector<std::size_t>>;

// The independent check (bench/check), which re-reads the instance file
// with its own code: each customer once, capacity, every window, the return
// by the depot's closing time, the fleet; answers the distance it
// recomputes, or a negative value (and says why) when the answer is not a
// solution.
double Check(const Instance& inst, const Routes& routes, bool truncated, const char* who) {
  const check::Verdict v = check::CheckVrptw(
      inst.file, routes,
      truncated ? check::TimeConvention::kTruncatedTenths : check::TimeConvention::kExact);
  if (!v.ok) {
    std::printf("refused: %s, %s: %s\n", inst.name.c_str(), who, v.reason.c_str());
    return -1;
  }
  return v.figure;
}

std::size_t Used(const Routes& routes) {
  return static_cast<std::size_t>(
      std::count_if(routes.begin(), routes.end(), [](const auto& r) { return !r.empty(); }));
}

// ---- The reference: Solomon's I1 insertion, our own implementation.

// Whether `route` is on time from the depot back to it.
bool OnTime(const Instance& inst, const std::vector<std::size_t>& route, bool truncated) {
  double time = inst.nodes[0].ready;
  std::size_t at = 0;
  for (std::size_t c : route) {
    time += Distance(inst, at, c, truncated);
    if (time > inst.nodes[c].due + 1e-9) return false;
    time = std::max(time, inst.nodes[c].ready) + inst.nodes[c].service;
    at = c;
  }
  return time + Distance(inst, at, 0, truncated) <= inst.nodes[0].due + 1e-9;
}

Routes SolomonI1(const Instance& inst, bool truncated) {
  const std::size_t n = inst.nodes.size();
  auto d = [&](std::size_t i, std::size_t j) { return Distance(inst, i, j, truncated); };
  std::vector<char> routed(n, 0);
  routed[0] = 1;
  std::size_t left = n - 1;
  Routes routes;
  while (left > 0) {
    // Seed: the unrouted customer farthest from the depot.
    std::size_t seed = 0;
    for (std::size_t c = 1; c < n; ++c) {
      if (!routed[c] && (seed == 0 || d(0, c) > d(0, seed))) seed = c;
    }
    std::vector<std::size_t> route{seed};
    routed[seed] = 1;
    --left;
    double load = inst.nodes[seed].demand;
    for (;;) {
      std::size_t best_u = 0, best_pos = 0;
      double best_c2 = -1e300;
      for (std::size_t u = 1; u < n; ++u) {
        if (routed[u] || load + inst.nodes[u].demand > inst.capacity + 1e-9) continue;
        double best_c1 = 1e300;
        std::size_t pos_u = 0;
        for (std::size_t pos = 0; pos <= route.size(); ++pos) {
          const std::size_t i = pos == 0 ? 0 : route[pos - 1];
          const std::size_t j = pos == route.size() ? 0 : route[pos];
          const double c1 = d(i, u) + d(u, j) - d(i, j);
          if (c1 >= best_c1) continue;
          std::vector<std::size_t> trial = route;
          trial.insert(trial.begin() + static_cast<std::ptrdiff_t>(pos), u);
          if (!OnTime(inst, trial, truncated)) continue;
          best_c1 = c1;
          pos_u = pos;
        }
        if (best_c1 == 1e300) continue;
        const double c2 = d(0, u) - best_c1;
        if (c2 > best_c2) {
          best_c2 = c2;
          best_u = u;
          best_pos = pos_u;
        }
      }
      if (best_u == 0) break;
      route.insert(route.begin() + static_cast<std::ptrdiff_t>(best_pos), best_u);
      routed[best_u] = 1;
      load += inst.nodes[best_u].demand;
      --left;
    }
    routes.push_back(route);
  }
  return routes;
}

// ---- The planning.

planning::TimedProblem Problem(const Instance& inst, bool truncated) {
  planning::TimedProblem p;
  const std::size_t n = inst.nodes.size();
  p.customers = n - 1;
  p.cost.resize(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) p.cost[i * n + j] = Distance(inst, i, j, truncated);
  }
  p.demand.resize(n);
  p.clock.resize(n);
  for (std::size_t c = 1; c < n; ++c) {
    p.demand[c] = {inst.nodes[c].demand, 0};
    p.clock[c].windows = {{inst.nodes[c].ready, inst.nodes[c].due}};
    p.clock[c].unloading = inst.nodes[c].service;
  }
  p.vehicles.assign(inst.fleet, {inst.capacity, 0});
  planning::VehicleDay day;
  day.start = inst.nodes[0].ready;
  day.end = inst.nodes[0].due;
  day.longest = day.end - day.start;
  p.days = {day};
  return p;
}

struct Best {
  std::size_t vehicles = 0;
  double distance = 0;
};

int Run(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: exp-bench-vrptw INSTANCE_DIR BKS_CSV [--only PREFIX] [--seed N] [--effort "
                 "N] [--fleet-share PERCENT] [--least-share PERCENT]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  std::string only;
  planning::TimedOptions options;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--only")) {
      only = argv[i + 1];
    } else if (!std::strcmp(argv[i], "--seed")) {
      options.seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--effort")) {
      options.effort = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (!std::strcmp(argv[i], "--fleet-share")) {
      options.fleet_share = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    } else if (!std::strcmp(argv[i], "--least-share")) {
      options.least_share = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::map<std::string, Best> hier, dimacs;
  {
    std::ifstream in(argv[2]);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> cells;
      std::istringstream row(line);
      std::string cell;
      while (std::getline(row, cell, ',')) cells.push_back(cell);
      if (cells.size() < 4) continue;
      const Best b{static_cast<std::size_t>(std::stoul(cells[1])), std::stod(cells[2])};
      if (cells[3].rfind("hierarchical", 0) == 0) hier[cells[0]] = b;
      if (cells[3].rfind("distance", 0) == 0) dimacs[cells[0]] = b;
    }
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().stem().string();
    if (e.path().extension() == ".txt" && name.rfind(only, 0) == 0 && hier.count(name)) {
      files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no instance with a best known in %s\n", dir.c_str());
    return 1;
  }

  std::printf("## Routing with time windows (Solomon's format), seed %llu, effort %llu\n\n",
              static_cast<unsigned long long>(options.seed),
              static_cast<unsigned long long>(options.effort));
  std::printf(
      "| instance | best known | ours | gap | I1 (ours) | distance only: optimum | ours | gap | I1 "
      "gap | CPU |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
  std::size_t count = 0, equal = 0, fewer = 0, i1_equal = 0, dimacs_count = 0;
  double gap_equal = 0, extra = 0, i1_extra = 0, i1_gap = 0, dimacs_gap = 0, i1_dimacs_gap = 0;
  std::size_t i1_gap_count = 0;
  std::vector<double> cpu;
  bool failed = false;
  for (const fs::path& file : files) {
    Instance inst;
    if (!ReadInstance(file, inst)) {
      std::fprintf(stderr, "%s: not an instance in Solomon's format\n", file.c_str());
      return 1;
    }
    const Best& bk = hier[inst.name];
    // Fewest vehicles, then distance.
    const double t0 = ThreadSeconds();
    const planning::TimedSolution ours = planning::SolveTimedRouting(Problem(inst, false), options);
    const double t1 = ThreadSeconds();
    const double dist = Check(inst, ours.routes, false, "ours");
    const Routes i1 = SolomonI1(inst, false);
    const double i1_dist = Check(inst, i1, false, "I1");
    // Distance only, truncated.
    planning::TimedOptions distance_only = options;
    distance_only.fewest_vehicles = false;
    const double t2 = ThreadSeconds();
    const planning::TimedSolution ours_d =
        planning::SolveTimedRouting(Problem(inst, true), distance_only);
    const double t3 = ThreadSeconds();
    const double dist_d = Check(inst, ours_d.routes, true, "ours, distance only");
    const double i1_dist_d = Check(inst, SolomonI1(inst, true), true, "I1, distance only");
    if (dist < 0 || i1_dist < 0 || dist_d < 0 || i1_dist_d < 0) {
      failed = true;
      continue;
    }
    const std::size_t used = Used(ours.routes), i1_used = Used(i1);
    ++count;
    cpu.push_back(t1 - t0);
    cpu.push_back(t3 - t2);
    const double gap = (dist - bk.distance) / bk.distance * 100;
    if (used == bk.vehicles) {
      ++equal;
      gap_equal += gap;
    }
    if (used < bk.vehicles) ++fewer;
    extra += static_cast<double>(used) - static_cast<double>(bk.vehicles);
    i1_extra += static_cast<double>(i1_used) - static_cast<double>(bk.vehicles);
    if (i1_used == bk.vehicles) ++i1_equal;
    i1_gap += (i1_dist - bk.distance) / bk.distance * 100;
    ++i1_gap_count;
    std::string dimacs_cells = "- | - | - | -";
    if (dimacs.count(inst.name)) {
      const double opt = dimacs[inst.name].distance;
      const double g = (dist_d - opt) / opt * 100;
      const double gi = (i1_dist_d - opt) / opt * 100;
      dimacs_gap += g;
      i1_dimacs_gap += gi;
      ++dimacs_count;
      dimacs_cells = Format("%.1f | %.1f | %+.2f %% | %+.1f %%", opt, dist_d, g, gi);
    }
    std::printf("| %s | %zu / %.2f | %zu / %.2f | %+.2f %% | %zu / %.2f | %s | %.2f + %.2f s |\n",
                inst.name.c_str(), bk.vehicles, bk.distance, used, dist, gap, i1_used, i1_dist,
                dimacs_cells.c_str(), t1 - t0, t3 - t2);
    std::fflush(stdout);
  }
  if (failed) {
    std::fprintf(stderr, "an answer failed the check\n");
    return 1;
  }
  const double nc = static_cast<double>(count);
  std::printf(
      "\n%zu instances: vehicles equal to the best known on %zu (fewer on %zu), I1 on %zu; "
      "extra vehicles %+.2f (I1 %+.2f); mean gap where equal %+.2f %%; distance only mean "
      "gap %+.2f %% (I1 %+.2f %%, I1 hierarchical distance gap %+.1f %%); CPU median %.2f s, "
      "slowest %.2f s\n\n",
      count, equal, fewer, i1_equal, extra / nc, i1_extra / nc,
      equal ? gap_equal / static_cast<double>(equal) : 0.0,
      dimacs_count ? dimacs_gap / static_cast<double>(dimacs_count) : 0.0,
      dimacs_count ? i1_dimacs_gap / static_cast<double>(dimacs_count) : 0.0,
      i1_gap_count ? i1_gap / static_cast<double>(i1_gap_count) : 0.0, Median(cpu),
      cpu.empty() ? 0.0 : *std::max_element(cpu.begin(), cpu.end()));
  Row(Format("Time windows, %zu instances: vehicles equal to the best known, goal 50 of 56 "
             "(reference: I1, our implementation)",
             count),
      Format("%zu", equal), Format("%zu", i1_equal),
      i1_equal ? static_cast<double>(equal) / static_cast<double>(i1_equal) : 0.0);
  Row("Time windows: extra vehicles over the best known, mean (reference: I1)",
      Format("%+.2f", extra / nc), Format("%+.2f", i1_extra / nc),
      i1_extra != 0 ? extra / i1_extra : 0.0);
  Row("Time windows: mean distance gap where the vehicles equal the best known (goal 1.5 %)",
      Format("%+.2f %%", equal ? gap_equal / static_cast<double>(equal) : 0.0), "", 0);
  if (dimacs_count) {
    const double g = dimacs_gap / static_cast<double>(dimacs_count);
    const double gi = i1_dimacs_gap / static_cast<double>(dimacs_count);
    Row("Time windows, distance only (truncated to 0.1): mean gap to the optimum, goal 1 % "
        "(reference: I1)",
        Format("%+.2f %%", g), Format("%+.2f %%", gi), gi != 0 ? g / gi : 0.0);
  }
  Row("Time windows: CPU per instance and convention, median / slowest (goal 0.5 s / 2 s)",
      Format("%.2f s / %.2f s", Median(cpu),
             cpu.empty() ? 0.0 : *std::max_element(cpu.begin(), cpu.end())),
      "", 0);
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Run(argc, argv); }
