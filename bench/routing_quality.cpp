// Routing quality on public instances with known optima.
//
//   exp-bench-routing [--benchdata DIR] [--only PREFIX] [--routing-effort N]
//
// DIR (default $EXP_BENCHDATA, else ../shared/benchdata beside the source
// tree) holds cvrp_small/ (routing with capacity: demand as weight, volume 0,
// the instance's capacity, the depot as the branch; sets A, B and P with
// exactly k vehicles, set X with a free fleet). The instance files are read in
// place and never copied. The stop order has its own program (tsp_quality.cpp).
//
// The routing starts from the savings routes (with exactly k vehicles, the
// k most loaded of them; the search places the customers of the others).
// Prints a table (each instance against its optimum, beside the references
// measured in the same run), then "ROW" lines for the summary table of
// bench/run. Every answer is checked: every stop exactly once, capacities
// respected, the cost recomputed from the instance.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/check/check.h"
#include "bench/tsplib.h"
#include "planning/routing.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;

struct Csv {
  std::vector<std::vector<std::string>> rows;
};

Csv ReadCsv(const fs::path& file) {
  Csv csv;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::istringstream row(line);
    std::string cell;
    while (std::getline(row, cell, ',')) cells.push_back(cell);
    csv.rows.push_back(cells);
  }
  return csv;
}

double Gap(double value, double optimum) { return (value - optimum) / optimum * 100; }

// ---- Routing with capacity on the CVRP instances.

// The savings routes, the smallest ones (by load) left out until no more
// than k remain: the search places their customers.
planning::RoutingSolution TrimmedStart(const planning::RoutingProblem& p,
                                       planning::RoutingSolution savings, std::size_t k) {
  auto load = [&](const std::vector<std::size_t>& r) {
    double w = 0;
    for (std::size_t c : r) w += p.demand[c].weight;
    return w;
  };
  std::stable_sort(savings.routes.begin(), savings.routes.end(),
                   [&](const auto& a, const auto& b) { return load(a) > load(b); });
  if (savings.routes.size() > k) savings.routes.resize(k);
  savings.routes.resize(p.vehicles.size());
  return savings;
}

std::size_t Used(const planning::RoutingSolution& s) {
  return static_cast<std::size_t>(
      std::count_if(s.routes.begin(), s.routes.end(), [](const auto& r) { return !r.empty(); }));
}

int RunCvrp(const fs::path& dir, const std::string& only, const planning::RoutingOptions& options) {
  const Csv instances = ReadCsv(dir / "instances.csv");
  const Csv optima = ReadCsv(dir / "optima.csv");
  std::map<std::string, double> optimum;
  for (const auto& row : optima.rows) optimum[row[0]] = std::stod(row[1]);
  std::printf(
      "| instance | fleet | optimum | routing | gap | vehicles | CPU | savings | gap | vehicles "
      "| savings + 2-opt | gap |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  struct Family {
    int count = 0;
    double gap = 0, savings = 0, savings_2opt = 0, worst = 0;
  };
  std::map<std::string, Family> families;
  Family all;
  std::vector<double> times;
  double slowest = 0;
  std::vector<std::string> above;
  int refused = 0;
  // The independent check of a routing: every customer once, capacities,
  // the fleet rule, the cost recomputed from the instance file and compared
  // with the answer's own. A refused answer is printed and counted as a
  // failure.
  auto judge = [&](const std::string& file, const planning::RoutingSolution& s,
                   check::FleetRule fleet, const std::string& name, const char* who) {
    check::Verdict v = check::CheckCvrp(file, s.routes, fleet, s.cost);
    if (!v.ok) {
      std::printf("refused: %s, %s: %s\n", name.c_str(), who, v.reason.c_str());
      ++refused;
    }
    return v;
  };
  for (const auto& row : instances.rows) {
    const std::string name = row[0], set = row[1];
    if (!only.empty() && name.rfind(only, 0) != 0) continue;
    const bool exactly_k = row[8] == "exactly_k";
    const std::size_t k = static_cast<std::size_t>(std::stoul(row[5]));
    const std::string file = (dir / set / (name + ".vrp")).string();
    const TsplibInstance inst = ReadTsplib(file);
    const std::size_t n = inst.dimension - 1;
    // The depot first, then the customers in file order.
    std::vector<std::size_t> node = {inst.depot};
    for (std::size_t i = 0; i < inst.dimension; ++i) {
      if (i != inst.depot) node.push_back(i);
    }
    planning::RoutingProblem p;
    p.customers = n;
    p.cost.assign((n + 1) * (n + 1), 0);
    for (std::size_t i = 0; i <= n; ++i) {
      for (std::size_t j = 0; j <= n; ++j)
        p.cost[i * (n + 1) + j] = inst.Distance(node[i], node[j]);
    }
    p.demand.assign(n + 1, {});
    for (std::size_t i = 1; i <= n; ++i) p.demand[i] = {inst.demand[node[i]], 0};
    p.vehicles.assign(exactly_k ? k : n, {inst.capacity, 0});
    if (exactly_k) p.max_used = p.min_used = k;

    const planning::RoutingSolution savings = planning::SavingsRoutes(p);
    const planning::RoutingSolution savings_2opt = planning::TwoOptRoutes(p, savings);
    planning::RoutingSolution start;
    if (exactly_k) {
      start = TrimmedStart(p, savings, k);
    } else {
      start = savings;
      start.routes.resize(p.vehicles.size());
    }
    const double begin = ThreadSeconds();
    const planning::RoutingSolution ours = planning::SolveRouting(p, start, options);
    const double seconds = ThreadSeconds() - begin;
    const check::Verdict judged =
        judge(file, ours, exactly_k ? check::FleetRule::Exactly(k) : check::FleetRule::Free(), name,
              "routing");
    // The savings references are judged as what they are: a free fleet.
    judge(file, savings, check::FleetRule::Free(), name, "savings");
    judge(file, savings_2opt, check::FleetRule::Free(), name, "savings + 2-opt");
    const double opt = optimum.at(name);
    const double gap = Gap(judged.figure, opt);
    std::printf(
        "| %s | %s | %.0f | %.0f | %.2f %% | %zu | %s | %.0f | %.2f %% | %zu | %.0f | %.2f %% |\n",
        name.c_str(), exactly_k ? ("exactly " + std::to_string(k)).c_str() : "free", opt,
        judged.figure, gap, judged.vehicles, Ms(seconds).c_str(), savings.cost,
        Gap(savings.cost, opt), Used(savings), savings_2opt.cost, Gap(savings_2opt.cost, opt));
    times.push_back(seconds);
    slowest = std::max(slowest, seconds);
    if (!judged.ok) {  // a failure: above every goal, and out of the means
      above.push_back(name);
      continue;
    }
    for (Family* f : {&families[set], &all}) {
      ++f->count;
      f->gap += gap;
      f->savings += Gap(savings.cost, opt);
      f->savings_2opt += Gap(savings_2opt.cost, opt);
      f->worst = std::max(f->worst, gap);
    }
    if (gap > 3) above.push_back(name);
  }
  if (all.count == 0) return 0;
  std::printf("\n| set | instances | mean gap | worst gap | savings | savings + 2-opt |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (auto& [set, f] : families) {
    std::printf("| %s | %d | %.2f %% | %.2f %% | %.2f %% | %.2f %% |\n", set.c_str(), f.count,
                f.gap / f.count, f.worst, f.savings / f.count, f.savings_2opt / f.count);
  }
  std::printf("\n");
  Row("Routing with capacity, CVRPLIB A/B/P/X: mean gap to the optimum (goal 1 %; reference: "
      "savings + 2-opt)",
      Format("%.2f %%", all.gap / all.count), Format("%.2f %%", all.savings_2opt / all.count),
      all.savings_2opt > 0 ? all.gap / all.savings_2opt : 0);
  Row("Routing with capacity: mean gap of the savings construction alone",
      Format("%.2f %%", all.gap / all.count), Format("%.2f %%", all.savings / all.count),
      all.savings > 0 ? all.gap / all.savings : 0);
  Row("Routing with capacity: worst gap (goal 3 % each)", Format("%.2f %%", all.worst),
      Format("%zu above 3 %%", above.size()), 0);
  Row("Routing with capacity: answers the independent check refused (goal 0)",
      std::to_string(refused), "0", refused);
  Row("Routing with capacity: CPU per instance, median / slowest (goal 1 s each)",
      Format("%s / %s", Ms(Median(times)).c_str(), Ms(slowest).c_str()), "1 s", slowest);
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) {
  using namespace dg::bench;
  fs::path data = DefaultBenchData();
  std::string only;
  dg::planning::RoutingOptions routing_options;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--benchdata") && i + 1 < argc) {
      data = argv[++i];
    } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      only = argv[++i];
    } else if (!std::strcmp(argv[i], "--routing-effort") && i + 1 < argc) {
      routing_options.effort = std::stoull(argv[++i]);
    } else {
      return Usage("exp-bench-routing [--benchdata DIR] [--only PREFIX] [--routing-effort N]");
    }
  }
  std::printf("## Routing with capacity (CVRPLIB)\n\n");
  return RunCvrp(data / "cvrp_small", only, routing_options);
}
