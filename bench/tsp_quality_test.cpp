// The stop order on a few public TSP instances small enough for the test
// command, read in place from the benchmark data (skipped where the data is
// not beside the checkout): the answer is a tour through every city, its
// length recomputed from the instance file is the solver's cost and the
// known optimum, and the same input gives the same tour (checked on the
// smallest, to keep the test quick).
#include <gtest/gtest.h>

#include <filesystem>

#include "bench/bench_util.h"
#include "bench/tsp_check.h"
#include "bench/tsplib.h"
#include "planning/stop_order.h"

namespace dg::bench {
namespace {

namespace fs = std::filesystem;

TEST(TspQuality, SmallInstancesReachTheirOptimumAndTheCheckRefusesABrokenTour) {
  const fs::path data = DefaultBenchData();
  struct Case {
    const char* file;
    double optimum;
  };
  // Coordinates (EUC_2D), coordinates on a sphere (GEO), an explicit matrix.
  const Case cases[] = {{"tsp_tsplib_small/instances/berlin52.tsp", 7542},
                        {"tsp_tsplib_medium/instances/ch130.tsp", 6110},
                        {"tsp_tsplib_medium/instances/gr137.tsp", 69853},
                        {"tsp_tsplib_medium/instances/gr120.tsp", 6942}};
  for (const Case& c : cases) {
    const fs::path file = data / c.file;
    if (!fs::exists(file)) GTEST_SKIP() << "no benchmark data at " << file;
    SCOPED_TRACE(c.file);
    const TsplibInstance inst = ReadTsplib(file.string());
    const planning::StopOrderInput input = TourInput(inst);
    const planning::StopOrderResult r = planning::OrderStops(input);
    std::string error;
    const double length = TourLength(inst, r.sequence, error);
    EXPECT_EQ(error, "");
    EXPECT_DOUBLE_EQ(length, r.cost);
    EXPECT_DOUBLE_EQ(length, c.optimum);
    if (inst.dimension < 100) {
      EXPECT_EQ(planning::OrderStops(input).sequence, r.sequence);
    }

    std::vector<std::size_t> broken = r.sequence;
    broken.back() = broken.front();
    EXPECT_LT(TourLength(inst, broken, error), 0);
    broken.pop_back();
    EXPECT_LT(TourLength(inst, broken, error), 0);
  }
}

// An instance with fixed edges is not a tour through every node: the reader
// gives its edges so that the benchmark can leave it out.
TEST(TspQuality, FixedEdgesAreRead) {
  const fs::path file = DefaultBenchData() / "tsp_tsplib_medium/instances/linhp318.tsp";
  if (!fs::exists(file)) GTEST_SKIP() << "no benchmark data at " << file;
  const TsplibInstance inst = ReadTsplib(file.string());
  ASSERT_EQ(inst.fixed_edges.size(), 1u);
  EXPECT_EQ(inst.fixed_edges[0], (std::pair<std::size_t, std::size_t>{0, 213}));
  EXPECT_EQ(inst.dimension, 318u);
}

}  // namespace
}  // namespace dg::bench
