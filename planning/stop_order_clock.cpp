#include "planning/stop_order_clock.h"

#include <algorithm>
#include <tuple>

namespace dg::planning {
namespace {

std::size_t Nodes(const StopOrderInput& input) { return input.stops + 1 + (input.has_end ? 1 : 0); }

// Minutes late at the stops plus past the working day: what the order
// decides first.
double Lateness(const StopOrderResult& r) {
  double total = r.overrun;
  for (const auto& l : r.late) total += l.minutes;
  return total;
}

// The free stops, in the order they fill the free places.
struct Order {
  const StopOrderInput& input;
  std::vector<std::size_t> places;  // the fixed stop at each place, 0 free
  std::vector<std::size_t> free;

  std::vector<std::size_t> Sequence(const std::vector<std::size_t>& order) const {
    std::vector<std::size_t> sequence = places;
    std::size_t k = 0;
    for (std::size_t& s : sequence) {
      if (s == 0) s = order[k++];
    }
    return sequence;
  }
};

}  // namespace

void ScheduleStops(const StopOrderInput& input, StopOrderResult& r) {
  const std::size_t nodes = Nodes(input);
  auto travel = [&](std::size_t i, std::size_t j) {
    return input.travel.empty() ? input.cost[i * nodes + j] : input.travel[i * nodes + j];
  };
  auto clock = [&](std::size_t node) -> const StopClock& {
    static const StopClock kNone;
    return node < input.clock.size() && node <= input.stops ? input.clock[node] : kNone;
  };
  const VehicleDay& day = input.day;
  r.times.assign(r.sequence.size(), {});
  r.late.clear();
  r.overrun = 0;
  double leave = day.start + day.loading;
  if (!r.sequence.empty()) {
    // Leaving later by the wait at the first stop changes nothing after it.
    double since = 0;
    const double arrival = leave + DrivingMinutes(day.breaks, since, travel(0, r.sequence.front()));
    leave += StartInWindows(clock(r.sequence.front()).windows, arrival).start - arrival;
  }
  double now = leave;
  double since = 0;
  std::size_t at = 0;
  for (std::size_t k = 0; k < r.sequence.size(); ++k) {
    const std::size_t stop = r.sequence[k];
    StopTimes& t = r.times[k];
    t.arrival = now + DrivingMinutes(day.breaks, since, travel(at, stop));
    const WindowStart w = StartInWindows(clock(stop).windows, t.arrival);
    t.start = w.start;
    t.late = w.late;
    t.departure = t.start + clock(stop).unloading;
    if (t.late > 1e-9) r.late.push_back({stop, t.late});
    now = t.departure;
    at = stop;
  }
  if (input.has_end) now += DrivingMinutes(day.breaks, since, travel(at, input.stops + 1));
  r.back = now;
  r.overrun = std::max({0.0, r.back - day.end, r.back - (leave - day.loading) - day.longest});
}

StopOrderResult OrderStopsOnClock(const StopOrderInput& input, const StopOrderOptions& options) {
  StopOrderInput plain = input;
  plain.clock.clear();
  StopOrderResult best = OrderStops(plain, options);
  ScheduleStops(input, best);
  if (input.stops < 2) return best;

  Order order{input, input.fixed, {}};
  order.places.resize(input.stops, 0);
  std::vector<char> fixed(input.stops + 1, 0);
  for (std::size_t s : order.places) fixed[s] = 1;
  for (std::size_t s : best.sequence) {
    if (!fixed[s]) order.free.push_back(s);
  }
  auto evaluate = [&](const std::vector<std::size_t>& free) {
    StopOrderResult r;
    r.sequence = order.Sequence(free);
    r.cost = SequenceCost(input, r.sequence);
    ScheduleStops(input, r);
    return r;
  };
  auto better = [&](const StopOrderResult& a, const StopOrderResult& b) {
    const double la = Lateness(a), lb = Lateness(b);
    if (la < lb - 1e-9) return true;
    return la <= lb + 1e-9 && a.cost < b.cost - 1e-9;
  };
  // A second start: the free stops by the close of their last window.
  std::vector<std::size_t> by_close = order.free;
  auto close = [&](std::size_t s) {
    const auto& w = s < input.clock.size() ? input.clock[s].windows : std::vector<TimeWindow>{};
    return w.empty() ? 1e18 : w.back().close;
  };
  std::stable_sort(by_close.begin(), by_close.end(),
                   [&](std::size_t a, std::size_t b) { return close(a) < close(b); });
  std::vector<std::size_t> current = order.free;
  if (StopOrderResult r = evaluate(by_close); better(r, best)) {
    best = std::move(r);
    current = by_close;
  }
  if (Lateness(best) <= 1e-9 && current == order.free) return best;

  // Descent: move one free stop elsewhere among the free places, or reverse
  // a run of them, while the lateness (then the cost) falls. Each schedule
  // counts as many steps as it has stops.
  const std::size_t n = current.size();
  std::uint64_t steps = 0;
  bool improved = true;
  while (improved && steps < options.effort) {
    improved = false;
    for (std::size_t i = 0; i < n && steps < options.effort; ++i) {
      for (std::size_t j = 0; j < n && steps < options.effort; ++j) {
        if (i == j) continue;
        for (int move = 0; move < 2; ++move) {
          std::vector<std::size_t> trial = current;
          if (move == 0) {
            const std::size_t s = trial[i];
            trial.erase(trial.begin() + static_cast<std::ptrdiff_t>(i));
            trial.insert(trial.begin() + static_cast<std::ptrdiff_t>(j), s);
          } else {
            if (j < i + 1) continue;
            std::reverse(trial.begin() + static_cast<std::ptrdiff_t>(i),
                         trial.begin() + static_cast<std::ptrdiff_t>(j + 1));
          }
          steps += input.stops;
          StopOrderResult r = evaluate(trial);
          if (better(r, best)) {
            best = std::move(r);
            current = std::move(trial);
            improved = true;
          }
        }
      }
    }
  }
  return best;
}

}  // namespace dg::planning
