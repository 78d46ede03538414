#include "screen/route_texts.h"

namespace dg::screen {

RouteTexts BuildRouteTexts(const std::string& branch_address, const std::vector<std::string>& stops,
                           const std::optional<std::string>& return_address) {
  constexpr std::size_t kStopsPerText = 20;
  RouteTexts r;
  r[0] = "from: " + branch_address;
  for (std::size_t i = 0; i < stops.size(); ++i) {
    const std::size_t k = i + 1;  // stop number
    std::size_t slot = (k - 1) / kStopsPerText;
    if (slot > 4) slot = 4;
    std::string& text = r[slot];
    if (slot > 0 && text.empty()) text = "to: " + stops[i - 1];
    text += " to: " + stops[i];
  }
  if (return_address) r[0] += " to: " + *return_address;
  return r;
}

}  // namespace dg::screen
