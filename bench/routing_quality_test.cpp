// The routing with capacity on the smallest public instances of the large
// set, checked with the benchmark's own reading of the instance file: every
// customer once, every route within the capacity, the cost recomputed from
// the file's distances, and a gap to the best known that the benchmark's
// goal allows. Skipped when the instance folder is not beside the checkout.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/cvrp.h"

namespace dg::bench {
namespace {

TEST(RoutingOnPublicInstances, SmallestLargeSetInstancesAreFeasibleAndNearTheBestKnown) {
  const std::filesystem::path dir = DefaultBenchData() / "cvrp_small" / "X";
  struct Known {
    const char* name;
    double best;
  };
  for (const Known& known : {Known{"X-n101-k25", 27591}, Known{"X-n106-k14", 26362}}) {
    const std::filesystem::path file = dir / (std::string(known.name) + ".vrp");
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no " << file;
    SCOPED_TRACE(known.name);
    const TsplibInstance inst = ReadTsplib(file.string());
    const planning::RoutingProblem p = CvrpProblem(inst, false, 0);
    const planning::RoutingSolution start = CvrpStart(p, planning::SavingsRoutes(p), false, 0);
    const planning::RoutingSolution r = planning::SolveRouting(p, start);
    ASSERT_TRUE(planning::IsFeasible(p, r));

    // Recomputed from the file's node numbers, apart from the search's
    // matrix.
    std::vector<std::size_t> node = {inst.depot};
    for (std::size_t i = 0; i < inst.dimension; ++i) {
      if (i != inst.depot) node.push_back(i);
    }
    std::vector<int> seen(inst.dimension, 0);
    double cost = 0;
    for (const auto& route : r.routes) {
      if (route.empty()) continue;
      double load = 0;
      std::size_t at = inst.depot;
      for (std::size_t c : route) {
        ++seen[node[c]];
        load += inst.demand[node[c]];
        cost += inst.Distance(at, node[c]);
        at = node[c];
      }
      cost += inst.Distance(at, inst.depot);
      EXPECT_LE(load, inst.capacity);
    }
    for (std::size_t i = 0; i < inst.dimension; ++i) EXPECT_EQ(seen[i], i == inst.depot ? 0 : 1);
    EXPECT_DOUBLE_EQ(cost, r.cost);
    EXPECT_GE(cost, known.best);
    EXPECT_LE(cost, known.best * 1.02) << "more than 2 % above the best known";
  }
}

}  // namespace
}  // namespace dg::bench
