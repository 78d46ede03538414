#include "planning/route_clock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dg::planning {
namespace {

// Nodes on a line, `at[i]` minutes of driving from the branch; travel is the
// distance between them.
std::vector<double> Line(const std::vector<double>& at) {
  const std::size_t n = at.size();
  std::vector<double> t(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) t[i * n + j] = std::abs(at[i] - at[j]);
  }
  return t;
}

TEST(ScheduleRoute, WaitsForTheWindowAndLeavesLaterToAvoidWaitingFirst) {
  VehicleDay day;
  day.start = 360;
  day.end = 1080;
  day.longest = 600;
  day.loading = 30;
  std::vector<StopClock> clock(3);
  clock[1] = {{{480, 600}}, 20};              // 08:00-10:00
  clock[2] = {{{400, 420}, {700, 760}}, 15};  // the first window is missed: the second
  const auto s = ScheduleRoute(day, clock, Line({0, 30, 60}), 3, {1, 2});
  ASSERT_EQ(s.stops.size(), 2u);
  // Ready at 06:30, 30 minutes away: leaves at 07:30 to arrive at 08:00.
  EXPECT_DOUBLE_EQ(s.leave, 450);
  EXPECT_DOUBLE_EQ(s.stops[0].arrival, 480);
  EXPECT_DOUBLE_EQ(s.stops[0].start, 480);
  EXPECT_DOUBLE_EQ(s.stops[0].departure, 500);
  EXPECT_DOUBLE_EQ(s.stops[1].arrival, 530);
  EXPECT_DOUBLE_EQ(s.stops[1].start, 700);
  EXPECT_DOUBLE_EQ(s.stops[1].departure, 715);
  EXPECT_DOUBLE_EQ(s.waiting, 170);
  EXPECT_DOUBLE_EQ(s.back, 775);
  EXPECT_DOUBLE_EQ(s.driving, 120);
  EXPECT_DOUBLE_EQ(s.late_total, 0);
  EXPECT_TRUE(s.day_ok);  // 06:30 (loading) to 12:55
}

TEST(ScheduleRoute, LateArrivalIsMeasuredFromTheLastWindowsClose) {
  VehicleDay day;
  day.start = 420;
  std::vector<StopClock> clock(3);
  clock[1] = {{{420, 440}}, 60};
  clock[2] = {{{420, 450}, {460, 470}}, 0};
  const auto s = ScheduleRoute(day, clock, Line({0, 30, 40}), 3, {1, 2});
  EXPECT_DOUBLE_EQ(s.stops[0].start, 450);
  EXPECT_DOUBLE_EQ(s.stops[0].late, 10);
  EXPECT_DOUBLE_EQ(s.stops[1].arrival, 520);
  EXPECT_DOUBLE_EQ(s.stops[1].late, 50);
  EXPECT_DOUBLE_EQ(s.late_total, 60);
  // A stop on time exactly at the close is not late.
  clock[1].windows = {{400, 450}};
  EXPECT_DOUBLE_EQ(ScheduleRoute(day, clock, Line({0, 30, 40}), 3, {1}).late_total, 0);
}

TEST(ScheduleRoute, BreaksAfterTheLongestDrivingIncludingWithinALongLeg) {
  VehicleDay day;
  day.breaks = {100, 30};
  std::vector<StopClock> clock(3);
  // 80 minutes, then 170 more (a break at 20 and at 120 into the leg), then
  // 250 back (breaks 50 and 150 minutes in; reaching the limit exactly on
  // arrival needs none).
  const auto s = ScheduleRoute(day, clock, Line({0, 80, 250}), 3, {1, 2});
  EXPECT_DOUBLE_EQ(s.stops[0].arrival, 80);
  EXPECT_DOUBLE_EQ(s.stops[1].arrival, 80 + 170 + 60);
  EXPECT_EQ(s.breaks, 4u);
  EXPECT_DOUBLE_EQ(s.back, 310 + 250 + 60);
  // Without a rule nothing is added.
  day.breaks = {};
  EXPECT_DOUBLE_EQ(ScheduleRoute(day, clock, Line({0, 80, 250}), 3, {1, 2}).back, 500);
}

TEST(ScheduleRoute, WorkingDayTooLongOrReturnAfterItsEndIsNotOk) {
  std::vector<StopClock> clock(2);
  clock[1] = {{}, 60};
  VehicleDay day;
  day.start = 480;
  day.end = 1080;
  day.longest = 480;
  day.loading = 30;
  // 08:00 + 30 loading + 200 + 60 + 200 = 16:10, 490 minutes of work.
  auto s = ScheduleRoute(day, clock, Line({0, 200}), 2, {1});
  EXPECT_DOUBLE_EQ(s.back, 970);
  EXPECT_DOUBLE_EQ(s.over_longest, 10);
  EXPECT_DOUBLE_EQ(s.late_back, 0);
  EXPECT_FALSE(s.day_ok);
  day.longest = 600;
  day.end = 960;
  s = ScheduleRoute(day, clock, Line({0, 200}), 2, {1});
  EXPECT_DOUBLE_EQ(s.late_back, 10);
  EXPECT_FALSE(s.day_ok);
  day.end = 970;
  EXPECT_TRUE(ScheduleRoute(day, clock, Line({0, 200}), 2, {1}).day_ok);
  // An empty route is the loading alone.
  s = ScheduleRoute(day, clock, Line({0, 200}), 2, {});
  EXPECT_DOUBLE_EQ(s.back, 510);
  EXPECT_TRUE(s.day_ok);
}

TEST(ClockText, WindowsAndTimesReadAsTheClerkWritesThem) {
  EXPECT_EQ(WindowsText({{420, 600}}), "07:00-10:00");
  EXPECT_EQ(WindowsText({{420, 660}, {780, 1020}}), "07:00-11:00 e 13:00-17:00");
  EXPECT_EQ(WindowsText({}), "livre");
  EXPECT_EQ(ClockText(639.6), "10:40");
  EXPECT_EQ(ClockText(1500), "25:00");  // the next day still reads as hours
  // Lateness reads off the shown arrival: 13:15 (795.4 min) against a window
  // closing at 10:30 is 165 min, not 166; a few seconds late still count.
  EXPECT_EQ(ClockText(795.4), "13:15");
  EXPECT_EQ(LateMinutesText(795.4 - 630), 165);
  EXPECT_EQ(LateMinutesText(0.2), 1);
  EXPECT_EQ(LateMinutesText(0), 0);
  EXPECT_EQ(LateMinutesText(1e-12), 0);
}

}  // namespace
}  // namespace dg::planning
