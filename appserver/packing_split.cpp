#include "appserver/packing_split.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace dg::server {

std::int64_t Millionths(double x) { return std::llround(x * 1e6); }

bool SplitInTwo(const std::vector<ExactSize>& sizes, ExactSize first, ExactSize second,
                std::uint64_t node_limit, std::uint64_t& nodes, std::vector<int>& side) {
  nodes = 0;
  // Largest first, by the larger share of the two rooms together.
  const ExactSize both = first + second;
  auto share = [&](const ExactSize& s) {
    return std::max(both.weight > 0 ? static_cast<double>(s.weight) / both.weight : 0.0,
                    both.volume > 0 ? static_cast<double>(s.volume) / both.volume : 0.0);
  };
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return share(sizes[a]) > share(sizes[b]); });
  std::vector<ExactSize> rest(order.size() + 1);  // rest[i]: the pieces from i on
  for (std::size_t i = order.size(); i-- > 0;) rest[i] = rest[i + 1] + sizes[order[i]];
  std::vector<int> chosen(order.size(), 0);
  const bool alike = first == second;
  // Each piece onto the first or the second vehicle while both rooms can
  // still hold everything left.
  auto place = [&](auto&& self, std::size_t i, ExactSize a, ExactSize b) -> bool {
    if (++nodes > node_limit) return false;
    if (i == order.size()) return true;
    if (!rest[i].Within(first - a + (second - b))) return false;
    const ExactSize s = sizes[order[i]];
    if ((a + s).Within(first)) {
      chosen[i] = 0;
      if (self(self, i + 1, a + s, b)) return true;
    }
    if (alike && i == 0) return false;  // the two vehicles are interchangeable
    if ((b + s).Within(second)) {
      chosen[i] = 1;
      if (self(self, i + 1, a, b + s)) return true;
    }
    return false;
  };
  if (!place(place, 0, ExactSize{}, ExactSize{})) return false;
  side.assign(sizes.size(), 0);
  for (std::size_t i = 0; i < order.size(); ++i) side[order[i]] = chosen[i];
  return true;
}

}  // namespace dg::server
