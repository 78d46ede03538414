// Brings a route text made of Brazilian street addresses into the plain form
// the map service reads: accented capitals to their base letters, some
// punctuation removed or turned into blanks, the ordinal sign after "N"
// dropped, and the letters A-Z in lower case. The screen builds its route
// texts with it, and the server finds the point a route text names by it.
#pragma once

#include <string>
#include <string_view>

namespace dg::data {

// Pure function on UTF-8 text. Bytes that are not valid UTF-8 pass through
// unchanged. Blanks are never merged or trimmed.
std::string PlainAddressText(std::string_view text);

}  // namespace dg::data
