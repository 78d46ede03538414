#include "appserver/grid_lines.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "appserver/grade_support.h"
#include "data/format.h"

namespace dg::server::detail {

std::pair<int, std::string> StopSortKey(const std::string& stop) {
  const std::string key = OrderKey(stop);
  if (key.empty()) return {2, ""};
  if (key.find_first_not_of("0123456789") == std::string::npos) {
    return {0, std::string(20 - std::min<std::size_t>(20, key.size()), '0') + key};
  }
  return {1, key};
}

double LineWeight(double quantity, double unit_weight) {
  return data::RoundDecimal(quantity * unit_weight, 3);
}

double LineVolume(double quantity, double unit_volume) {
  return data::RoundDecimal(quantity * unit_volume, 5);
}

std::vector<GridLine> GridLines(Session& s, const std::string& branch, const std::string& grid) {
  std::vector<GridLine> lines;
  for (const Row& r :
       s.Query("SELECT CDVIATURA, NRORDENTREGRADE, CDCLIENTE, NRPEDIDO, NRITEMPED, "
               "CDPRODUTO, QTTRANSP, VRPESOUNIT, VRVOLUNIT, DTENTREGA FROM ALOCGRADE "
               "WHERE CDFILIAL = ? AND NRGRADEDISTR = ?",
               {Value(branch), Value(grid)})) {
    GridLine l{S(r[0]), S(r[1]),        S(r[2]), S(r[3]), S(r[4]),
               S(r[5]), DateCell(r[9]), D(r[6]), D(r[7]), D(r[8])};
    l.weight = LineWeight(l.quantity, l.unit_weight);
    l.volume = LineVolume(l.quantity, l.unit_volume);
    lines.push_back(std::move(l));
  }
  // A client is one stop of a vehicle: the lowest order its lines carry.
  std::map<std::pair<std::string, std::string>, std::string> stop_of;
  for (const GridLine& l : lines) {
    if (l.stop.empty()) continue;
    auto [it, fresh] = stop_of.emplace(std::make_pair(l.vehicle, l.client), l.stop);
    if (!fresh && l.stop < it->second) it->second = l.stop;
  }
  for (GridLine& l : lines) {
    const auto it = stop_of.find({l.vehicle, l.client});
    l.stop = it == stop_of.end() ? "" : it->second;
  }
  std::sort(lines.begin(), lines.end(), [](const GridLine& a, const GridLine& b) {
    return std::forward_as_tuple(a.vehicle, StopSortKey(a.stop), a.client, a.order, a.item) <
           std::forward_as_tuple(b.vehicle, StopSortKey(b.stop), b.client, b.order, b.item);
  });
  return lines;
}

}  // namespace dg::server::detail
