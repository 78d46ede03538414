// Edit masks and number formats. The input's first line is a mask or a
// number pattern, the rest a text typed or a value to show.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/errors.h"
#include "data/format.h"
#include "data/mask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto eol = input.find('\n');
  const std::string head = input.substr(0, eol);
  const std::string rest = eol == std::string::npos ? "" : input.substr(eol + 1);

  try {
    dg::data::EditMask mask(head);
    const std::string shown = mask.Format(rest);
    mask.Yield(shown);
    mask.Yield(rest);
    mask.Yield(mask.Type(rest));
    for (std::size_t i = 0; i < rest.size() && i < 64; ++i) {
      mask.Accepts(i, static_cast<unsigned char>(rest[i]));
    }
  } catch (const dg::Error&) {
  }

  // A number typed by the clerk, shown with the pattern, reads back the same
  // when the pattern keeps every digit it had.
  if (auto number = dg::data::ParseNumber(rest)) {
    dg::data::FormatNumber(head, *number);
    if (std::isfinite(*number)) {
      const std::string plain = dg::data::FormatNumber("", *number);
      auto back = dg::data::ParseNumber(plain);
      if (!back || *back != *number) std::abort();
    }
  }
  double value = 0;
  if (rest.size() >= sizeof value) {
    std::memcpy(&value, rest.data(), sizeof value);
    dg::data::FormatNumber(head, value);
    dg::data::RoundDecimal(value, static_cast<unsigned char>(rest[0]) % 12);
  }
  return 0;
}
