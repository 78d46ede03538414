// Internal to the server: a grid's allocations line by line, in the order a
// vehicle delivers them, for the export of the result and the loading
// manifest. Not a public interface.
#pragma once

#include <string>
#include <vector>

#include "appserver/storage.h"
#include "data/variant.h"

namespace dg::server::detail {

// One allocation: a quantity of one order item on one vehicle. Weight and
// volume are the quantity times the unit figures, to 3 and 5 decimals (as
// the screen shows them). Intentionally copyable.
struct GridLine {
  std::string vehicle;
  std::string stop;  // the client's delivery order on the vehicle, "" for none
  std::string client, order, item, product;
  data::Variant day;  // the delivery day, as stored
  double quantity = 0, unit_weight = 0, unit_volume = 0;
  double weight = 0, volume = 0;
};

// Every allocation of the grid: by vehicle code; then by stop, numbered
// stops first by number (a client's stop is the lowest delivery order of
// its lines, as the route tab shows it), then the client code; then order
// and item.
std::vector<GridLine> GridLines(Session& s, const std::string& branch, const std::string& grid);

// Sort key of a delivery order: numbered stops first by number, then other
// texts, then no order.
std::pair<int, std::string> StopSortKey(const std::string& stop);

// A line's weight and volume as the server reports them.
double LineWeight(double quantity, double unit_weight);
double LineVolume(double quantity, double unit_volume);

}  // namespace dg::server::detail
