#include "planning/stop_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>

namespace dg::planning {
namespace {

std::string Print(const std::vector<std::size_t>& sequence) {
  std::ostringstream out;
  for (std::size_t i = 0; i < sequence.size(); ++i) out << (i ? " " : "") << sequence[i];
  return out.str();
}

// Points on a plane; the end (when there is one) is the start again.
StopOrderInput Plane(const std::vector<std::pair<double, double>>& points, bool has_end) {
  StopOrderInput in;
  in.stops = points.size() - 1;
  in.has_end = has_end;
  const std::size_t nodes = points.size() + (has_end ? 1 : 0);
  in.cost.assign(nodes * nodes, 0);
  for (std::size_t i = 0; i < nodes; ++i) {
    for (std::size_t j = 0; j < nodes; ++j) {
      const auto& a = points[i == points.size() ? 0 : i];
      const auto& b = points[j == points.size() ? 0 : j];
      in.cost[i * nodes + j] = std::hypot(a.first - b.first, a.second - b.second);
    }
  }
  return in;
}

// Every order of the free stops, for the least cost.
double BruteForce(const StopOrderInput& in) {
  std::vector<std::size_t> places = in.fixed;
  places.resize(in.stops, 0);
  std::vector<std::size_t> free_stops;
  for (std::size_t s = 1; s <= in.stops; ++s) {
    if (std::find(places.begin(), places.end(), s) == places.end()) free_stops.push_back(s);
  }
  double best = std::numeric_limits<double>::infinity();
  do {
    std::vector<std::size_t> sequence = places;
    std::size_t k = 0;
    for (std::size_t& s : sequence) {
      if (s == 0) s = free_stops[k++];
    }
    best = std::min(best, SequenceCost(in, sequence));
  } while (std::next_permutation(free_stops.begin(), free_stops.end()));
  return best;
}

void ExpectValid(const StopOrderInput& in, const StopOrderResult& r) {
  std::vector<std::size_t> sorted = r.sequence;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::size_t> all(in.stops);
  std::iota(all.begin(), all.end(), 1);
  EXPECT_EQ(sorted, all) << "every stop exactly once: " << Print(r.sequence);
  for (std::size_t k = 0; k < in.fixed.size(); ++k) {
    if (in.fixed[k] != 0) {
      EXPECT_EQ(r.sequence[k], in.fixed[k]) << "fixed place " << k;
    }
  }
  EXPECT_NEAR(r.cost, SequenceCost(in, r.sequence), 1e-9);
}

TEST(OrderStops, PointsOnALineGoOutAndBack) {
  // Branch at 0; stops at 3, 1, 2 (as numbered 1, 2, 3).
  StopOrderInput in = Plane({{0, 0}, {3, 0}, {1, 0}, {2, 0}}, true);
  EXPECT_DOUBLE_EQ(OrderStops(in).cost, 6);
  // Without a return point the route ends at the farthest stop.
  in = Plane({{0, 0}, {3, 0}, {1, 0}, {2, 0}}, false);
  EXPECT_EQ(Print(OrderStops(in).sequence), "2 3 1");
  EXPECT_DOUBLE_EQ(OrderStops(in).cost, 3);
  // The stop at 3 fixed first: the others follow on the way back.
  in = Plane({{0, 0}, {3, 0}, {1, 0}, {2, 0}}, true);
  in.fixed = {1, 0, 0};
  EXPECT_EQ(Print(OrderStops(in).sequence), "1 3 2");
  // The stop at 2 fixed first: on to the one at 3, back by the one at 1.
  in.fixed = {3, 0, 0};
  EXPECT_EQ(Print(OrderStops(in).sequence), "3 1 2");
}

TEST(OrderStops, EdgeSizes) {
  StopOrderInput none = Plane({{0, 0}}, true);
  EXPECT_TRUE(OrderStops(none).sequence.empty());
  StopOrderInput one = Plane({{0, 0}, {3, 4}}, true);
  EXPECT_EQ(Print(OrderStops(one).sequence), "1");
  EXPECT_DOUBLE_EQ(OrderStops(one).cost, 10);
  // Everything fixed: the order is the clerk's.
  StopOrderInput all = Plane({{0, 0}, {1, 0}, {2, 0}, {3, 0}}, true);
  all.fixed = {3, 1, 2};
  EXPECT_EQ(Print(OrderStops(all).sequence), "3 1 2");
}

// Random instances, some costs asymmetric, some places fixed: the exact
// order and the local search both match the brute force.
TEST(OrderStops, MatchesBruteForceWithFixedPlaces) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    const std::size_t stops = 2 + rng() % 6;
    const bool has_end = rng() % 3 != 0;
    const bool asymmetric = rng() % 2 == 0;
    StopOrderInput in;
    in.stops = stops;
    in.has_end = has_end;
    const std::size_t nodes = stops + 1 + (has_end ? 1 : 0);
    std::uniform_real_distribution<double> coordinate(0, 100);
    std::vector<std::pair<double, double>> points;
    for (std::size_t i = 0; i < nodes; ++i) points.push_back({coordinate(rng), coordinate(rng)});
    in.cost.assign(nodes * nodes, 0);
    for (std::size_t i = 0; i < nodes; ++i) {
      for (std::size_t j = 0; j < nodes; ++j) {
        double c =
            std::hypot(points[i].first - points[j].first, points[i].second - points[j].second);
        if (asymmetric && i < j) c *= 1.5;
        in.cost[i * nodes + j] = c;
      }
    }
    in.fixed.assign(stops, 0);
    std::vector<std::size_t> shuffled(stops);
    std::iota(shuffled.begin(), shuffled.end(), 1);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (std::size_t k = 0; k < stops; ++k) {
      if (rng() % 3 == 0) in.fixed[k] = shuffled[k];
    }
    SCOPED_TRACE("round " + std::to_string(round) + ", fixed " + Print(in.fixed));
    const double best = BruteForce(in);
    const StopOrderResult exact = OrderStops(in);
    ExpectValid(in, exact);
    EXPECT_NEAR(exact.cost, best, 1e-9);
    StopOrderOptions search;
    search.exact_up_to = 0;
    search.effort = 20'000;
    const StopOrderResult searched = OrderStops(in, search);
    ExpectValid(in, searched);
    EXPECT_NEAR(searched.cost, best, 1e-9);
  }
}

// A city of 80 stops with a third of them fixed: the fixed ones stay, the
// search beats the nearest-neighbour reference, and the same input gives
// the same order.
TEST(OrderStops, LargeRouteKeepsFixedPlacesAndIsDeterministic) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> coordinate(0, 1000);
  std::vector<std::pair<double, double>> points;
  for (int i = 0; i <= 80; ++i) points.push_back({coordinate(rng), coordinate(rng)});
  StopOrderInput in = Plane(points, true);
  in.fixed.assign(80, 0);
  for (std::size_t k = 0; k < 80; k += 3) in.fixed[k] = 80 - k;
  StopOrderOptions options;
  options.effort = 400'000;
  const StopOrderResult first = OrderStops(in, options);
  ExpectValid(in, first);
  EXPECT_EQ(Print(OrderStops(in, options).sequence), Print(first.sequence));

  StopOrderInput open = Plane(points, true);
  const StopOrderResult free_order = OrderStops(open, options);
  ExpectValid(open, free_order);
  EXPECT_LT(free_order.cost, NearestNeighbourTwoOpt(open).cost + 1e-9);
  EXPECT_LE(free_order.cost, first.cost + 1e-9) << "fixing places cannot make the route shorter";
}

// Stops on a line at these minutes from the start (the end is the start
// again); travel minutes = cost.
StopOrderInput Line(const std::vector<double>& at) {
  std::vector<std::pair<double, double>> points;
  for (double x : at) points.push_back({x, 0});
  StopOrderInput in = Plane(points, true);
  in.clock.assign(at.size(), {});
  in.day.start = 480;
  return in;
}

TEST(OrderStops, WithAClockTheWindowsComeBeforeTheShortestOrder) {
  // Shortest: 1, 2, 3 outwards. But 3 receives only until 08:40.
  StopOrderInput in = Line({0, 10, 20, 30});
  in.clock[1].unloading = in.clock[2].unloading = in.clock[3].unloading = 15;
  in.clock[3].windows = {{480, 520}};
  StopOrderResult r = OrderStops(in);
  EXPECT_EQ(Print(r.sequence), "3 2 1");
  EXPECT_TRUE(r.late.empty());
  EXPECT_DOUBLE_EQ(r.overrun, 0);
  // The times agree with the schedule of the route.
  std::vector<double> travel = in.cost;
  const RouteSchedule s = ScheduleRoute(in.day, in.clock, travel, in.stops + 2, r.sequence);
  ASSERT_EQ(r.times.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(r.times[k].arrival, s.stops[k].arrival);
    EXPECT_DOUBLE_EQ(r.times[k].departure, s.stops[k].departure);
  }
  EXPECT_DOUBLE_EQ(r.back, s.back);
  // Stop 1 receiving only after 09:00 as well: 3 first, 1 last.
  in.clock[1].windows = {{540, 600}};
  r = OrderStops(in);
  EXPECT_EQ(Print(r.sequence), "3 2 1");
  EXPECT_TRUE(r.late.empty());
}

TEST(OrderStops, WithAClockTheClerksNumberedStopStaysAndTheLateStopIsNamed) {
  // The clerk put stop 1 first; it unloads for two hours, so stop 3, which
  // closes at 09:00, is reached 40 minutes late at the earliest.
  StopOrderInput in = Line({0, 10, 20, 30});
  in.clock[1].unloading = 120;
  in.clock[3].windows = {{480, 540}};
  in.fixed = {1, 0, 0};
  StopOrderResult r = OrderStops(in);
  EXPECT_EQ(Print(r.sequence), "1 3 2");
  ASSERT_EQ(r.late.size(), 1u);
  EXPECT_EQ(r.late[0].stop, 3u);
  EXPECT_DOUBLE_EQ(r.late[0].minutes, 10 + 120 + 20 - 60);
  // A working day that ends before the return is reported as overrun.
  in.day.end = 480 + 170;  // back at 480 + 10 + 120 + 20 + 10 + 20
  r = OrderStops(in);
  EXPECT_DOUBLE_EQ(r.overrun, 10);
}

}  // namespace
}  // namespace dg::planning
