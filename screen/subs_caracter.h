// Brings a route text made of Brazilian street addresses into the plain form
// the map service reads: accented capitals to their base letters, some
// punctuation removed or turned into blanks, the ordinal sign after "N"
// dropped, and the letters A-Z in lower case.
#pragma once

#include <string>
#include <string_view>

namespace dg::screen {

// Pure function on UTF-8 text. Bytes that are not valid UTF-8 pass through
// unchanged. Blanks are never merged or trimmed.
std::string SubsCaracter(std::string_view text);

}  // namespace dg::screen
