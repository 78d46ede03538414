// SubsCaracter: the screen's normalisation of its route texts before they
// go to the map module (data/plain_address.h).
#pragma once

#include <string>
#include <string_view>

#include "data/plain_address.h"

namespace dg::screen {

inline std::string SubsCaracter(std::string_view text) { return data::PlainAddressText(text); }

}  // namespace dg::screen
