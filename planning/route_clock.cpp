#include "planning/route_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dg::planning {
namespace {

// Driving that keeps to the break rule: each leg adds its minutes, and a
// break whenever the driving since the last one would pass the limit.
struct Driver {
  const BreakRule& rule;
  double since_break = 0;
  std::size_t breaks = 0;

  // Minutes from setting off to arriving for a leg of `minutes` of driving.
  double Leg(double minutes) {
    double total = minutes;
    if (rule.after_driving > 0 && rule.minutes > 0) {
      double left = minutes;
      while (since_break + left > rule.after_driving) {
        left -= rule.after_driving - since_break;
        since_break = 0;
        total += rule.minutes;
        ++breaks;
      }
      since_break += left;
    }
    return total;
  }
};

}  // namespace

WindowStart StartInWindows(const std::vector<TimeWindow>& windows, double arrival) {
  if (windows.empty()) return {arrival, 0};
  for (const TimeWindow& w : windows) {
    if (arrival <= w.close) return {std::max(arrival, w.open), 0};
  }
  return {arrival, arrival - windows.back().close};
}

RouteSchedule ScheduleRoute(const VehicleDay& day, const std::vector<StopClock>& per_node,
                            const std::vector<double>& travel_minutes, std::size_t nodes,
                            const std::vector<std::size_t>& sequence) {
  static const StopClock kNoClock;
  auto clock = [&](std::size_t node) -> const StopClock& {
    return node < per_node.size() ? per_node[node] : kNoClock;
  };
  auto travel = [&](std::size_t from, std::size_t to) { return travel_minutes[from * nodes + to]; };

  RouteSchedule s;
  const double loaded = day.start + day.loading;
  s.leave = loaded;
  // Leaving later by the wait at the first stop changes nothing after it
  // (breaks follow the driving alone) and shortens the working day.
  if (!sequence.empty()) {
    Driver probe{day.breaks};
    const double arrival = loaded + probe.Leg(travel(0, sequence.front()));
    const WindowStart first = StartInWindows(clock(sequence.front()).windows, arrival);
    s.leave += first.start - arrival;
  }

  Driver driver{day.breaks};
  double now = s.leave;
  std::size_t at = 0;
  s.stops.reserve(sequence.size());
  for (std::size_t node : sequence) {
    const double drive = travel(at, node);
    s.driving += drive;
    StopTimes t;
    t.arrival = now + driver.Leg(drive);
    const WindowStart w = StartInWindows(clock(node).windows, t.arrival);
    t.start = w.start;
    t.late = w.late;
    t.departure = t.start + clock(node).unloading;
    s.waiting += t.start - t.arrival;
    s.late_total += t.late;
    s.stops.push_back(t);
    now = t.departure;
    at = node;
  }
  if (at != 0) {
    const double drive = travel(at, 0);
    s.driving += drive;
    now += driver.Leg(drive);
  }
  s.back = now;
  s.breaks = driver.breaks;
  s.late_back = std::max(0.0, s.back - day.end);
  s.over_longest = std::max(0.0, s.back - (s.leave - day.loading) - day.longest);
  s.day_ok = s.late_back <= 1e-9 && s.over_longest <= 1e-9;
  return s;
}

std::string ClockText(double minutes) {
  const long total = std::lround(minutes);
  const long h = total >= 0 ? total / 60 : -((-total + 59) / 60);
  const long m = total - h * 60;
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld", h, m);
  return text;
}

std::string WindowsText(const std::vector<TimeWindow>& windows) {
  if (windows.empty()) return "livre";
  std::string text;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (i) text += " e ";
    text += ClockText(windows[i].open) + "-" + ClockText(windows[i].close);
  }
  return text;
}

}  // namespace dg::planning
