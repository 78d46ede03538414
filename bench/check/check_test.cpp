// The independent checker refuses wrong answers with a reason and accepts
// the published optimal answers, recomputing their figures.
#include "bench/check/check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace dg::bench::check {
namespace {

namespace fs = std::filesystem;
using Routes = std::vector<std::vector<std::size_t>>;

// A file of the given text in the test's own temporary folder.
std::string Write(const std::string& name, const std::string& text) {
  const fs::path dir = fs::path(testing::TempDir()) / "exp_bench_check_test";
  fs::create_directories(dir);
  const fs::path file = dir / name;
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

// The public instances: $EXP_BENCHDATA, else ../shared/benchdata beside the
// source tree; empty when absent.
fs::path BenchData() {
  fs::path dir;
  if (const char* env = std::getenv("EXP_BENCHDATA"); env && *env) {
    dir = env;
  } else if (const char* src = std::getenv("EXP_SOURCE_DIR"); src && *src) {
    dir = fs::path(src).parent_path() / "shared" / "benchdata";
  }
  return !dir.empty() && fs::exists(dir) ? dir : fs::path();
}

#define REQUIRE_BENCHDATA(data)                                                             \
  const fs::path data = BenchData();                                                        \
  if (data.empty())                                                                         \
  GTEST_SKIP() << "the public instances are absent (set EXP_BENCHDATA to their folder, or " \
                  "place them in ../shared/benchdata beside the checkout)"

std::vector<Placed> Bins(const std::vector<std::vector<std::size_t>>& bins) {
  std::vector<Placed> out;
  for (std::size_t b = 0; b < bins.size(); ++b)
    for (std::size_t item : bins[b]) out.push_back({item, b, 1});
  return out;
}

// ---- Packing.

TEST(CheckPackingTest, RefusesEachWayAPackingCanBeWrong) {
  // Capacities 10 x 10; item types (6, 1) x2, (4, 9), (5, 5).
  const std::string vbp = Write("small.vbp", "2\n10 10\n3\n6 1 2\n4 9 1\n5 5 1\n");
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{0, 2}, {1}, {3}})).Describe(), "ok 3 (3 vehicles)");
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{0, 2}, {1, 0}, {3}})).reason,
            "item 0 placed twice (bins 0 and 1)");
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{0, 2}, {3}})).reason, "item 1 not placed");
  // Weight 6 + 4 fits exactly; volume 1 + 9 + 5 does not.
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{0, 2, 3}, {1}})).reason,
            "bin 0 over capacity: weight 15 of 10");
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{2, 3}, {0, 1}})).reason,
            "bin 0 over capacity: volume 14 of 10");
  EXPECT_EQ(CheckVectorPacking(vbp, Bins({{0, 2}, {1}, {3, 4}})).reason,
            "item 4 does not exist (the instance has 4)");
  std::vector<Placed> split = Bins({{0, 2}, {1}, {3}});
  split.back().quantity = 0.5;
  split.push_back({3, 4, 0.5});
  EXPECT_FALSE(CheckVectorPacking(vbp, split).ok);

  const std::string bpp = Write("small.bpp", "4\r\n100\r\n60\r\n50\r\n40\r\n50\r\n");
  EXPECT_EQ(CheckBinPacking(bpp, Bins({{0, 2}, {1, 3}})).Describe(), "ok 2 (2 vehicles)");
  EXPECT_EQ(CheckBinPacking(bpp, Bins({{0, 1}, {2, 3}})).reason,
            "bin 0 over capacity: size 110 of 100");
  EXPECT_FALSE(CheckBinPacking(Write("short.bpp", "3 100 60 50"), {}).ok);
  EXPECT_EQ(CheckBinPacking("/nonexistent/x.txt", {}).reason, "cannot read /nonexistent/x.txt");
}

TEST(CheckPackingTest, AMixedFleetDaySplitsQuantitiesButNeverOverloads) {
  // Vehicles of 100 kg / 1 m3 and 50 kg / 2 m3; three items.
  const std::string day = Write("day.txt",
                                "vehicles 2\n100 1\n50 2\nitems 3\n"
                                "10 0.1 6 P1\n5 0.5 2 P2\n1 0 20.5 P3\n");
  // 60 kg 0.6 m3 + 20.5 kg on vehicle 0; 10 kg 1 m3 on vehicle 1.
  EXPECT_EQ(CheckFleetPacking(day, {{0, 0, 6}, {1, 1, 2}, {2, 0, 20.5}}).Describe(),
            "ok 2 (2 vehicles)");
  // The same, item 0 split over both vehicles.
  EXPECT_TRUE(CheckFleetPacking(day, {{0, 0, 4}, {0, 1, 2}, {1, 1, 2}, {2, 0, 20.5}}).ok);
  EXPECT_EQ(CheckFleetPacking(day, {{0, 0, 6}, {1, 1, 2}, {2, 0, 20}}).reason,
            "item 2: 20 placed of 20.5");
  EXPECT_EQ(CheckFleetPacking(day, {{0, 1, 6}, {1, 1, 2}, {2, 0, 20.5}}).reason,
            "vehicle 1 over its room: weight 70 of 50");
  EXPECT_EQ(CheckFleetPacking(day, {{0, 0, 6}, {1, 0, 2}, {2, 0, 20.5}}).reason,
            "vehicle 0 over its room: volume 1.6 of 1");
  EXPECT_EQ(CheckFleetPacking(day, {{0, 2, 6}}).reason,
            "vehicle 2 does not exist (the fleet has 2)");
  EXPECT_FALSE(CheckFleetPacking(Write("bad_day.txt", "vehicles 2\n100 1\nitems 0\n"), {}).ok);
}

// First-fit decreasing, written here: a packing the checker has never seen.
std::vector<Placed> FirstFitDecreasing(const std::vector<std::array<long long, 2>>& items,
                                       long long cw, long long cv) {
  std::vector<std::size_t> order(items.size());
  std::iota(order.begin(), order.end(), 0);
  auto key = [&](std::size_t i) {
    return static_cast<double>(items[i][0]) / cw + (cv ? static_cast<double>(items[i][1]) / cv : 0);
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return key(a) > key(b); });
  std::vector<std::array<long long, 2>> load;
  std::vector<Placed> out;
  for (std::size_t i : order) {
    std::size_t b = 0;
    while (b < load.size() && (load[b][0] + items[i][0] > cw || load[b][1] + items[i][1] > cv)) ++b;
    if (b == load.size()) load.push_back({0, 0});
    load[b][0] += items[i][0];
    load[b][1] += items[i][1];
    out.push_back({i, b, 1});
  }
  return out;
}

TEST(CheckPackingTest, AcceptsOptimalPackingsOfThePublicInstances) {
  REQUIRE_BENCHDATA(data);
  // Instances where first-fit decreasing reaches the proven optimum.
  for (const auto& [file, optimum] : std::vector<std::pair<std::string, int>>{
           {"bpp1d_falkenauer/instances/Falkenauer_U/Falkenauer_u120_01.txt", 49},
           {"bpp1d_hard/instances/Hard28/Hard28_BPP14.txt", 62}}) {
    SCOPED_TRACE(file);
    std::ifstream in(data / file);
    long long n = 0, c = 0;
    in >> n >> c;
    std::vector<std::array<long long, 2>> items(static_cast<std::size_t>(n));
    for (auto& item : items) in >> item[0];
    std::vector<Placed> answer = FirstFitDecreasing(items, c, 0);
    EXPECT_EQ(CheckBinPacking((data / file).string(), answer).Describe(),
              "ok " + std::to_string(optimum) + " (" + std::to_string(optimum) + " vehicles)");
    answer[5].bin = answer[6].bin == 0 ? 1 : 0;  // one item moved into a full bin
    answer.push_back(answer[7]);
    EXPECT_FALSE(CheckBinPacking((data / file).string(), answer).ok);
  }
  const fs::path vbp = data / "vbp2d_caprara_toth/instances/CL_1_25_2.vbp";
  std::ifstream in(vbp);
  long long dims = 0, cw = 0, cv = 0, types = 0;
  in >> dims >> cw >> cv >> types;
  std::vector<std::array<long long, 2>> items;
  for (long long t = 0; t < types; ++t) {
    long long w = 0, v = 0, d = 0;
    in >> w >> v >> d;
    for (long long k = 0; k < d; ++k) items.push_back({w, v});
  }
  EXPECT_EQ(CheckVectorPacking(vbp.string(), FirstFitDecreasing(items, cw, cv)).Describe(),
            "ok 7 (7 vehicles)");
  // One bin too few: everything in six bins cannot fit.
  std::vector<Placed> crammed = FirstFitDecreasing(items, cw, cv);
  for (Placed& p : crammed) p.bin = std::min<std::size_t>(p.bin, 5);
  EXPECT_NE(CheckVectorPacking(vbp.string(), crammed).reason.find("over capacity"),
            std::string::npos);
}

// ---- Tours.

TEST(CheckTourTest, RecomputesTheLengthAndRefusesAWrongTour) {
  // A 3-4-5 triangle and a point on the long side; rounded Euclidean.
  const std::string tsp = Write("four.tsp",
                                "NAME: four\nTYPE: TSP\nDIMENSION: 4\nEDGE_WEIGHT_TYPE: EUC_2D\n"
                                "NODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\n4 1.5 2\nEOF\n");
  EXPECT_EQ(CheckTour(tsp, {0, 1, 2, 3}).Describe(), "ok 13 (1 vehicle)");  // 3 + 4 + 2.5 + 2.5
  EXPECT_EQ(CheckTour(tsp, {0, 2, 1, 3}).figure, 5 + 4 + 3 + 3);            // 2.5 rounds up
  EXPECT_EQ(CheckTour(tsp, {0, 1, 2}).reason, "node 3 not visited");
  EXPECT_EQ(CheckTour(tsp, {0, 1, 2, 1}).reason, "node 1 visited twice (positions 1 and 3)");
  EXPECT_EQ(CheckTour(tsp, {0, 1, 2, 4}).reason, "node 4 does not exist (the instance has 4)");
  EXPECT_EQ(CheckTour(tsp, {0, 1, 2, 3}, 11.0).reason, "length claimed 11, recomputed 13");
  EXPECT_TRUE(CheckTour(tsp, {3, 2, 1, 0}, 13.0).ok);

  const std::string upper =
      Write("upper.tsp",
            "NAME: upper\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
            "EDGE_WEIGHT_FORMAT: UPPER_ROW\nEDGE_WEIGHT_SECTION\n 7 9\n 2\nEOF\n");
  EXPECT_EQ(CheckTour(upper, {0, 1, 2}).figure, 18);
  const std::string fixed = Write("fixed.tsp",
                                  "NAME: fixed\nDIMENSION: 4\nEDGE_WEIGHT_TYPE: EUC_2D\n"
                                  "NODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\n4 1.5 2\n"
                                  "FIXED_EDGES_SECTION\n1 3\n-1\nEOF\n");
  EXPECT_EQ(CheckTour(fixed, {0, 1, 2, 3}).reason, "fixed edge 0-2 not in the tour");
  EXPECT_TRUE(CheckTour(fixed, {0, 2, 1, 3}).ok);
  EXPECT_FALSE(CheckTour(Write("bad.tsp", "DIMENSION: 3\nEDGE_WEIGHT_TYPE: EUC_3D\n"), {}).ok);
  // A DIMENSION its numbers do not back is refused before any room is taken.
  EXPECT_NE(CheckTour(Write("huge.tsp",
                            "DIMENSION: 3000000000\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
                            "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n0 1\n1 0\n"),
                      {0, 1})
                .reason.find("EDGE_WEIGHT_SECTION holds 4 numbers"),
            std::string::npos);
  EXPECT_FALSE(CheckVectorPacking(Write("huge.vbp", "2 10 10 1 1 1 999999999999"), {}).ok);
}

TEST(CheckTourTest, OptimalToursMeasureTheirOptimumUnderEachDistanceRule) {
  REQUIRE_BENCHDATA(data);
  const fs::path dir = data / "tsp_tsplib_medium";
  // EUC_2D, EXPLICIT LOWER_DIAG_ROW, UPPER_ROW and UPPER_DIAG_ROW... and GEO.
  for (const auto& [name, optimum] :
       std::vector<std::pair<std::string, double>>{{"ch130", 6110},
                                                   {"gr120", 6942},
                                                   {"brg180", 1950},
                                                   {"gr202", 40160},
                                                   {"pa561", 2763},
                                                   {"gr666", 294358}}) {
    SCOPED_TRACE(name);
    const TourFile tour = ReadTourFile((dir / "opt_tours" / (name + ".opt.tour")).string());
    ASSERT_TRUE(tour.read.ok) << tour.read.reason;
    const std::string instance = (dir / "instances" / (name + ".tsp")).string();
    const Verdict v = CheckTour(instance, tour.tour, optimum);
    EXPECT_TRUE(v.ok) << v.Describe();
    EXPECT_EQ(v.figure, optimum);
    std::vector<std::size_t> missing = tour.tour;
    missing.pop_back();
    EXPECT_EQ(CheckTour(instance, missing).reason,
              "node " + std::to_string(tour.tour.back()) + " not visited");
  }
  // linhp318's published value is a path with a fixed edge, not a tour.
  std::vector<std::size_t> plain(318);
  std::iota(plain.begin(), plain.end(), 0);
  EXPECT_NE(CheckTour((dir / "instances/linhp318.tsp").string(), plain).reason.find("fixed edge"),
            std::string::npos);
}

// ---- Routing with capacity.

TEST(CheckCvrpTest, RefusesOverCapacityTwiceMissingAndTheWrongFleet) {
  // Depot at the origin, capacity 10; customers 1..3 with demands 6, 5, 4.
  const std::string vrp =
      Write("three.vrp",
            "NAME : three\nTYPE : CVRP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\t\n"
            "CAPACITY : 10\nNODE_COORD_SECTION\n1 0 0\n2 3 4\n3 0 5\n4 6 8\n"
            "DEMAND_SECTION\n1 0\n2 6\n3 5\n4 4\nDEPOT_SECTION\n1\n-1\nEOF\n");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 3}, {2}}, FleetRule::Exactly(2), 30.0).Describe(),
            "ok 30 (2 vehicles)");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 2}, {3}}, FleetRule::Free()).reason,
            "route 1 carries 11 over the capacity 10");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 3}, {2, 1}}, FleetRule::Free()).reason,
            "customer 1 visited twice (routes 1 and 2)");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 3}, {}}, FleetRule::Free()).reason, "customer 2 not visited");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 3}, {0}}, FleetRule::Free()).reason,
            "customer 0 does not exist (route 2; customers are 1..3)");
  EXPECT_EQ(CheckCvrp(vrp, {{1}, {2}, {3}}, FleetRule::Exactly(2)).reason,
            "3 routes where exactly 2 are required");
  EXPECT_EQ(CheckCvrp(vrp, {{1}, {}, {2}, {3}}, FleetRule::AtMost(2)).reason,
            "3 routes, more than the 2 vehicles");
  EXPECT_EQ(CheckCvrp(vrp, {{1, 3}, {2}}, FleetRule::Free(), 29.0).reason,
            "cost claimed 29, recomputed 30");
  EXPECT_EQ(VehiclesInName("A-n32-k5"), 5u);
  EXPECT_EQ(VehiclesInName("X-n1001-k43"), 43u);
  EXPECT_EQ(VehiclesInName("C101"), 0u);
}

TEST(CheckCvrpTest, PublishedOptimaHoldAndTheirFleetRuleIsKept) {
  REQUIRE_BENCHDATA(data);
  const fs::path dir = data / "cvrp_small";
  for (const auto& [set, name, optimum] : std::vector<std::tuple<std::string, std::string, double>>{
           {"A", "A-n32-k5", 784},
           {"B", "B-n31-k5", 672},
           {"P", "P-n22-k8", 603},
           {"X", "X-n101-k25", 27591},
           {"../cvrp_x", "X-n204-k19", 19565},
           {"../cvrp_x", "X-n1001-k43", 72355}}) {
    SCOPED_TRACE(name);
    const RouteFile sol = ReadRouteFile((dir / set / (name + ".sol")).string());
    ASSERT_TRUE(sol.read.ok) << sol.read.reason;
    const std::string vrp = (dir / set / (name + ".vrp")).string();
    const FleetRule fleet =
        name[0] == 'X' ? FleetRule::Free() : FleetRule::Exactly(VehiclesInName(name));
    const Verdict v = CheckCvrp(vrp, sol.routes, fleet, sol.cost);
    EXPECT_TRUE(v.ok) << v.Describe();
    EXPECT_EQ(v.figure, optimum);
    Routes swapped = sol.routes;  // a customer moved onto the first route
    swapped[0].push_back(swapped[1].back());
    EXPECT_FALSE(CheckCvrp(vrp, swapped, fleet).ok);
  }
  // The cheaper answer on nine vehicles breaks the rule of exactly eight.
  const RouteFile nine = ReadRouteFile((dir / "free_fleet/P-n22-k8.sol").string());
  const std::string p22 = (dir / "P/P-n22-k8.vrp").string();
  EXPECT_TRUE(CheckCvrp(p22, nine.routes, FleetRule::Free()).ok);
  EXPECT_EQ(CheckCvrp(p22, nine.routes, FleetRule::Exactly(8)).reason,
            "9 routes where exactly 8 are required");
  // The shipped B-n50-k8 solution visits a customer twice; the mended copy holds.
  EXPECT_NE(
      CheckCvrp((dir / "B/B-n50-k8.vrp").string(),
                ReadRouteFile((dir / "B/B-n50-k8.sol").string()).routes, FleetRule::Exactly(8))
          .reason.find("twice"),
      std::string::npos);
  EXPECT_EQ(CheckCvrp((dir / "B/B-n50-k8.vrp").string(),
                      ReadRouteFile((dir / "sol_fixed/B-n50-k8.sol").string()).routes,
                      FleetRule::Exactly(8))
                .figure,
            1312);
}

// ---- Routing with time windows.

TEST(CheckVrptwTest, RefusesAMissedWindowALateReturnAndAnOverfullRoute) {
  // Two vehicles of capacity 10; the depot closes at 100. Service 5 each.
  const std::string txt =
      Write("two.txt",
            "two\r\n\r\nVEHICLE\r\nNUMBER     CAPACITY\r\n  2         10\r\n\r\n"
            "CUSTOMER\r\nCUST NO.  XCOORD.   YCOORD.    DEMAND   READY TIME  "
            "DUE DATE   SERVICE   TIME\r\n \r\n"
            "    0      0    0     0     0   100    0\r\n"
            "    1      3    4     6    20    30    5\r\n"
            "    2      3   14     5     0    35    5\r\n"
            "    3      0   40     4     0    60    5\r\n");
  // Route 1: reach 1 at 5, wait to 20, leave 25, reach 2 at 35 (due 35), back at 35+5+14.23.
  const Verdict ok = CheckVrptw(txt, {{1}, {2, 3}}, TimeConvention::kExact);
  EXPECT_TRUE(ok.ok) << ok.Describe();
  EXPECT_NEAR(ok.figure, 10 + std::hypot(3, 14) + std::hypot(3, 26) + 40, 1e-9);
  EXPECT_EQ(CheckVrptw(txt, {{1, 2}, {3}}, TimeConvention::kExact).reason,
            "route 1 carries 11 over the capacity 10");
  EXPECT_EQ(CheckVrptw(txt, {{1}, {3, 2}}, TimeConvention::kExact).reason,
            "customer 2 reached at 71.1725, after its window closes at 35 (route 2)");
  EXPECT_EQ(CheckVrptw(txt, {{1}, {2}, {3}}, TimeConvention::kExact).reason,
            "3 routes, more than the 2 vehicles");
  EXPECT_EQ(CheckVrptw(txt, {{1}, {2}}, TimeConvention::kExact).reason, "customer 3 not visited");
  // Customer 3's window is wide but the depot closes before the way back.
  const std::string late = Write("late.txt", "late\n2 10\n0 0 0 0 0 70 0\n1 0 30 1 0 60 10\n");
  EXPECT_TRUE(CheckVrptw(late, {{1}}, TimeConvention::kExact).ok);  // back just as it closes
  const std::string later = Write("later.txt", "later\n2 10\n0 0 0 0 0 69 0\n1 0 30 1 0 60 10\n");
  EXPECT_EQ(CheckVrptw(later, {{1}}, TimeConvention::kExact).reason,
            "route 1 back at the depot at 70, after it closes at 69");
  // Truncated tenths: sqrt(2) = 1.414 counts as 1.4.
  const std::string diag = Write("diag.txt", "diag\n1 10\n0 0 0 0 0 100 0\n1 1 1 1 0 100 0\n");
  EXPECT_DOUBLE_EQ(CheckVrptw(diag, {{1}}, TimeConvention::kTruncatedTenths, 2.8).figure, 2.8);
  EXPECT_TRUE(CheckVrptw(diag, {{1}}, TimeConvention::kTruncatedTenths, 2.8).ok);
  EXPECT_FALSE(CheckVrptw(diag, {{1}}, TimeConvention::kExact, 2.8).ok);
}

TEST(CheckVrptwTest, BestKnownSolomonRoutesHoldInTheirOwnConvention) {
  REQUIRE_BENCHDATA(data);
  const fs::path dir = data / "vrptw";
  // instance, exact-distance best known, truncated-tenths optimum
  for (const auto& [name, exact, tenths] : std::vector<std::tuple<std::string, double, double>>{
           {"C101", 828.94, 827.3}, {"R101", 1650.80, 1637.7}, {"RC201", 1406.94, 1261.8}}) {
    SCOPED_TRACE(name);
    const std::string txt = (dir / "solomon" / (name + ".txt")).string();
    const RouteFile hier =
        ReadRouteFile((dir / "solutions/solomon_hier" / (name + ".txt")).string());
    ASSERT_TRUE(hier.read.ok) << hier.read.reason;
    const Verdict e = CheckVrptw(txt, hier.routes, TimeConvention::kExact);
    EXPECT_TRUE(e.ok) << e.Describe();
    EXPECT_NEAR(e.figure, exact, 0.005);
    const RouteFile dimacs =
        ReadRouteFile((dir / "solutions/solomon_dimacs" / (name + ".sol")).string());
    const Verdict t = CheckVrptw(txt, dimacs.routes, TimeConvention::kTruncatedTenths, dimacs.cost);
    EXPECT_TRUE(t.ok) << t.Describe();
    EXPECT_DOUBLE_EQ(t.figure, tenths);
    // Two customers exchanged between routes: a window or the capacity breaks.
    Routes moved = hier.routes;
    std::swap(moved[0].front(), moved[1].back());
    std::reverse(moved[0].begin(), moved[0].end());
    EXPECT_FALSE(CheckVrptw(txt, moved, TimeConvention::kExact).ok);
  }
}

}  // namespace
}  // namespace dg::bench::check
