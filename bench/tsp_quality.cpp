// Stop order quality on public symmetric TSP instances with known optima.
//
//   exp-bench-tsp INSTANCE_DIR OPTIMA_TABLE [--only PREFIX] [--seed N] [--effort N]
//                 [--effort-per-stop N] [--effort-limit N] [--label TEXT] [--goal-mean PCT]
//                 [--goal-optimal N]
//                 [--goal-cpu-ms MS]
//
// INSTANCE_DIR holds the <name>.tsp files, OPTIMA_TABLE is a CSV with the
// header "instance,dimension,edge_weight_type,optimum,..."; both are read in
// place and never copied. Every city is a stop, the first city both the start
// and the return point. Instances with fixed edges are not tours through
// every node and are left out (named on stderr).
//
// The tour length printed is recomputed here from the instance's distances
// (tsplib.h), never taken from the solver, after checking that the answer
// holds every stop once. Each per-instance row is one run at the given seed;
// CPU is the working thread's time. The reference is our own nearest
// neighbour + 2-opt (planning::NearestNeighbourTwoOpt), measured in the same
// run. Then "ROW" lines for the summary table of bench/run.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/check/check.h"
#include "bench/tsp_check.h"
#include "bench/tsplib.h"
#include "planning/stop_order.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;

struct OptimumRow {
  std::string name;
  double optimum = 0;
};

std::vector<OptimumRow> ReadOptima(const fs::path& file) {
  if (!std::ifstream(file)) throw std::runtime_error("cannot read " + file.string());
  std::vector<OptimumRow> rows;
  for (const std::vector<std::string>& cells : ReadCsvRows(file)) {
    if (cells.size() < 4) throw std::runtime_error(file.string() + ": short row of " + cells[0]);
    rows.push_back({cells[0], std::stod(cells[3])});
  }
  return rows;
}

double Gap(double value, double optimum) { return (value - optimum) / optimum * 100; }

struct Settings {
  std::string only, label;
  planning::StopOrderOptions options;
  double goal_mean = -1, goal_cpu_ms = -1;
  int goal_optimal = -1;
};

int Run(const fs::path& dir, const fs::path& table, const Settings& s) {
  const std::vector<OptimumRow> optima = ReadOptima(table);
  std::printf("Each row is a single run at seed %llu; CPU is the working thread's time.\n\n",
              static_cast<unsigned long long>(s.options.seed));
  std::printf(
      "| instance | n | optimum | stop order | gap | CPU | nearest neighbour + 2-opt (our own) "
      "| gap |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  int optimal = 0, count = 0, refused = 0;
  double sum_gap = 0, sum_ref_gap = 0, worst_time = 0, worst_gap = 0;
  std::size_t smallest = 0, largest = 0;
  std::string worst_name;
  std::vector<double> times;
  for (const OptimumRow& row : optima) {
    if (!s.only.empty() && row.name.rfind(s.only, 0) != 0) continue;
    const std::string file = (dir / (row.name + ".tsp")).string();
    const TsplibInstance inst = ReadTsplib(file);
    if (!inst.fixed_edges.empty()) {
      std::fprintf(stderr, "%s: left out (fixed edges: not a tour through every node)\n",
                   row.name.c_str());
      continue;
    }
    const std::size_t n = inst.dimension;
    const planning::StopOrderInput input = TourInput(inst);
    const double start = ThreadSeconds();
    const planning::StopOrderResult ours = planning::OrderStops(input, s.options);
    const double seconds = ThreadSeconds() - start;
    const planning::StopOrderResult reference = planning::NearestNeighbourTwoOpt(input);
    // The independent check (bench/check) re-reads the instance file, takes
    // the tour city 0 -> the stops -> city 0, and recomputes its length with
    // its own code; the answer's own cost must agree with it. A refused
    // answer is printed and counted as a failure, out of the means.
    const auto judge = [&](const planning::StopOrderResult& r, const char* who) {
      std::vector<std::size_t> tour = {0};
      tour.insert(tour.end(), r.sequence.begin(), r.sequence.end());
      check::Verdict v = check::CheckTour(file, tour, r.cost);
      if (!v.ok) {
        std::printf("refused: %s, %s: %s\n", row.name.c_str(), who, v.reason.c_str());
        ++refused;
      }
      return v;
    };
    const check::Verdict judged = judge(ours, "stop order");
    const check::Verdict judged_ref = judge(reference, "reference");
    if (!judged.ok || !judged_ref.ok) continue;
    const double length = judged.figure, ref_length = judged_ref.figure;
    const double gap = Gap(length, row.optimum), ref_gap = Gap(ref_length, row.optimum);
    std::printf("| %s | %zu | %.0f | %.0f | %.2f %% | %s | %.0f | %.2f %% |\n", row.name.c_str(), n,
                row.optimum, length, gap, Ms(seconds).c_str(), ref_length, ref_gap);
    std::fflush(stdout);
    ++count;
    optimal += length <= row.optimum + 1e-6 ? 1 : 0;
    sum_gap += gap;
    sum_ref_gap += ref_gap;
    if (gap > worst_gap || worst_name.empty()) {
      worst_gap = gap;
      worst_name = row.name;
    }
    worst_time = std::max(worst_time, seconds);
    smallest = smallest == 0 ? n : std::min(smallest, n);
    largest = std::max(largest, n);
    times.push_back(seconds);
  }
  if (count == 0 && refused == 0) return 0;
  const int means_of = std::max(count, 1);  // the answers the check accepted
  std::printf("\n");
  const std::string label =
      s.label.empty() ? Format("TSPLIB %zu-%zu nodes", smallest, largest) : s.label;
  const std::string seed = Format("seed %llu", static_cast<unsigned long long>(s.options.seed));
  Row(Format("Stop order, %s, %s: instances at the optimum%s", label.c_str(), seed.c_str(),
             s.goal_optimal >= 0 ? Format(" (goal %d)", s.goal_optimal).c_str() : ""),
      Format("%d of %d", optimal, count + refused), "-", 0);
  Row(Format("Stop order, %s: mean gap to the optimum%s (reference: nearest neighbour + 2-opt, "
             "our own)",
             label.c_str(), s.goal_mean >= 0 ? Format(" (goal %.1f %%)", s.goal_mean).c_str() : ""),
      Format("%.3f %%", sum_gap / means_of), Format("%.2f %%", sum_ref_gap / means_of),
      sum_ref_gap > 0 ? sum_gap / sum_ref_gap : 0);
  Row(Format("Stop order, %s: answers the independent check refused (goal 0)", label.c_str()),
      std::to_string(refused), "0", refused);
  Row(Format("Stop order, %s: worst gap", label.c_str()),
      Format("%.3f %% (%s)", worst_gap, worst_name.c_str()), "-", 0);
  const double goal_cpu = s.goal_cpu_ms > 0 ? s.goal_cpu_ms / 1000 : 0;
  Row(Format("Stop order, %s: CPU per instance, median / slowest%s", label.c_str(),
             goal_cpu > 0 ? Format(" (goal %s each)", Ms(goal_cpu).c_str()).c_str() : ""),
      Format("%s / %s", Ms(Median(times)).c_str(), Ms(worst_time).c_str()),
      goal_cpu > 0 ? Ms(goal_cpu) : "-", goal_cpu > 0 ? worst_time / goal_cpu : 0);
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) {
  using namespace dg::bench;
  const char* usage =
      "exp-bench-tsp INSTANCE_DIR OPTIMA_TABLE [--only PREFIX] [--seed N] [--effort N] "
      "[--effort-per-stop N] [--effort-limit N] [--label TEXT] [--goal-mean PCT] [--goal-optimal "
      "N] [--goal-cpu-ms "
      "MS]";
  if (argc < 3) return Usage(usage);
  Settings s;
  for (int i = 3; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (!std::strcmp(argv[i], "--only") && value) {
      s.only = argv[++i];
    } else if (!std::strcmp(argv[i], "--seed") && value) {
      s.options.seed = std::stoull(argv[++i]);
    } else if (!std::strcmp(argv[i], "--effort") && value) {
      s.options.effort = std::stoull(argv[++i]);
    } else if (!std::strcmp(argv[i], "--effort-per-stop") && value) {
      s.options.effort_per_stop = std::stoull(argv[++i]);
    } else if (!std::strcmp(argv[i], "--effort-limit") && value) {
      s.options.effort_limit = std::stoull(argv[++i]);
    } else if (!std::strcmp(argv[i], "--label") && value) {
      s.label = argv[++i];
    } else if (!std::strcmp(argv[i], "--goal-mean") && value) {
      s.goal_mean = std::stod(argv[++i]);
    } else if (!std::strcmp(argv[i], "--goal-optimal") && value) {
      s.goal_optimal = std::stoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--goal-cpu-ms") && value) {
      s.goal_cpu_ms = std::stod(argv[++i]);
    } else {
      return Usage(usage);
    }
  }
  try {
    return Run(argv[1], argv[2], s);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
