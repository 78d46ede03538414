// The stop order with the clock: a pass of its own over the shortest order,
// kept apart from the search for the shortest.
#pragma once

#include "planning/stop_order.h"

namespace dg::planning {

// OrderStops when the input has a clock: the fewest minutes late (at the
// stops, and past the working day), then the least cost; the fixed stops
// keep their places.
StopOrderResult OrderStopsOnClock(const StopOrderInput& input, const StopOrderOptions& options);

}  // namespace dg::planning
