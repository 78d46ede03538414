#include "planning/route_clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dg::planning {
namespace {}  // namespace

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
    double since = 0;
    const double arrival = loaded + DrivingMinutes(day.breaks, since, travel(0, sequence.front()));
    const WindowStart first = StartInWindows(clock(sequence.front()).windows, arrival);
    s.leave += first.start - arrival;
  }

  double since = 0;
  auto leg = [&](double minutes) {
    const double total = DrivingMinutes(day.breaks, since, minutes);
    // Each break adds its minutes to the leg.
    if (day.breaks.minutes > 0) {
      s.breaks += static_cast<std::size_t>(std::lround((total - minutes) / day.breaks.minutes));
    }
    return total;
  };
  double now = s.leave;
  std::size_t at = 0;
  s.stops.reserve(sequence.size());
  for (std::size_t node : sequence) {
    const double drive = travel(at, node);
    s.driving += drive;
    StopTimes t;
    t.arrival = now + leg(drive);
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
    now += leg(drive);
  }
  s.back = now;
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

double LateMinutesText(double late) {
  if (late <= 1e-9) return 0;
  return std::max(1.0, static_cast<double>(std::lround(late)));
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
