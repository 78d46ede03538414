// The clock of a route: the clients' receiving hours, the unloading time at
// each stop, the driver's working day and breaks, and the schedule of one
// vehicle's route through its stops.
//
// Times are minutes from midnight of the day of dispatch. A pure function of
// its inputs, independent of storage and transport.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dg::planning {

// One receiving window: unloading may start at `open` and no later than
// `close`. Intentionally copyable.
struct TimeWindow {
  double open = 0;
  double close = 0;
};

// A stop's receiving hours (none: any time; otherwise windows in increasing
// order that do not overlap) and its unloading time in minutes (the caller
// adds the minutes per stop and the minutes per tonne of what the vehicle
// unloads there). Intentionally copyable.
struct StopClock {
  std::vector<TimeWindow> windows;
  double unloading = 0;
};

// The driver's breaks: a break of `minutes` after at most `after_driving`
// minutes of driving (0: no breaks). Intentionally copyable.
struct BreakRule {
  double after_driving = 0;
  double minutes = 0;
};

// A vehicle's day: the start and end of its working day, the longest working
// day (minutes from the start of loading to the return), the loading time at
// the branch before leaving, the breaks. Intentionally copyable.
struct VehicleDay {
  double start = 0;
  double end = 24 * 60;
  double longest = 24 * 60;
  double loading = 0;
  BreakRule breaks;
};

// The times at one stop: arrival, start of unloading (after waiting for a
// window), departure, and how late unloading starts after the window closed
// (0 when on time or without windows). Intentionally copyable.
struct StopTimes {
  double arrival = 0;
  double start = 0;
  double departure = 0;
  double late = 0;
};

// The schedule of one route, stops in the sequence's order. `leave` is the
// departure from the branch (after loading; delayed so as not to wait at
// the first stop), `back` the return to it. `day_ok` holds when the return
// is by the end of the working day and the working day (from the start of
// loading to the return) is no longer than the longest. Intentionally
// copyable.
struct RouteSchedule {
  std::vector<StopTimes> stops;
  double leave = 0;
  double back = 0;
  double late_total = 0;    // sum of the stops' lateness
  double late_back = 0;     // minutes past the end of the working day
  double over_longest = 0;  // minutes past the longest working day
  double driving = 0;       // minutes of driving
  double waiting = 0;       // minutes waiting for windows
  std::size_t breaks = 0;   // breaks taken
  bool day_ok = true;
};

// Travel minutes between nodes: node 0 is the branch, `travel_minutes[i *
// nodes + j]` from node i to node j. `per_node` holds each node's clock
// (node 0's is ignored; missing entries: no window, no unloading).
// `sequence` lists the nodes visited, in order, without the branch.
// REQUIRES: every node of `sequence` is below `nodes`, and the matrix holds
// nodes * nodes entries.
//
// Unloading starts at the arrival, or when the first window still open at
// the arrival opens; past the last window's close it starts at the arrival,
// late by the difference. Breaks are taken while driving, each time the
// driving since the last break would pass `after_driving`.
RouteSchedule ScheduleRoute(const VehicleDay& day, const std::vector<StopClock>& per_node,
                            const std::vector<double>& travel_minutes, std::size_t nodes,
                            const std::vector<std::size_t>& sequence);

// The minutes from setting off to arriving for a leg of `minutes` of
// driving under the break rule; `since` is the driving since the last break,
// brought up to date. The rule ScheduleRoute drives by. Inline: the
// searches call it for every leg they time.
inline double DrivingMinutes(const BreakRule& rule, double& since, double minutes) {
  if (rule.after_driving <= 0 || rule.minutes <= 0) return minutes;
  double total = minutes;
  double left = minutes;
  while (since + left > rule.after_driving) {
    left -= rule.after_driving - since;
    since = 0;
    total += rule.minutes;
  }
  since += left;
  return total;
}

// When unloading may start at a stop reached at `arrival`, and how late that
// is (0 when on time): the rule ScheduleRoute applies at each stop.
struct WindowStart {
  double start = 0;
  double late = 0;
};
// Inline: the searches call it for every stop they time.
inline WindowStart StartInWindows(const std::vector<TimeWindow>& windows, double arrival) {
  for (const TimeWindow& w : windows) {
    if (arrival <= w.close) return {arrival < w.open ? w.open : arrival, 0};
  }
  return {arrival, windows.empty() ? 0 : arrival - windows.back().close};
}

// "07:00-10:00" (and " e 13:00-17:00" for a second window); "livre" without
// windows. Minutes are rounded to the nearest whole minute.
std::string WindowsText(const std::vector<TimeWindow>& windows);
// "10:40": a time in minutes from midnight, rounded to the nearest minute.
std::string ClockText(double minutes);
// Minutes late as shown beside a ClockText arrival: rounded the same way, so
// that the clerk reads 13:15 against a window closing at 10:30 as 165 min;
// a stop late by less than half a minute is still 1 min late, never 0.
double LateMinutesText(double late);

}  // namespace dg::planning
