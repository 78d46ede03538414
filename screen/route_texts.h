// The route texts handed to the map module: the branch, every stop of one
// vehicle's route in delivery order, and the return leg, written with the
// pieces "from: ", " to: " and "to: " and split into five texts of at most
// twenty stops each (the fifth takes every stop from the 81st on).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace dg::screen {

// R1..R5, before normalisation.
using RouteTexts = std::array<std::string, 5>;

// `stops` are the stop addresses in route order; `return_address` is the
// address the vehicle goes back to, or none for no return leg. R1 starts with
// "from: " and the branch, holds stops 1 to 20 and ends with the return leg;
// each later text starts with "to: " and the stop just before its first one.
RouteTexts BuildRouteTexts(const std::string& branch_address, const std::vector<std::string>& stops,
                           const std::optional<std::string>& return_address);

}  // namespace dg::screen
