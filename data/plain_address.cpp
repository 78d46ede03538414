#include "data/plain_address.h"

#include <cstdint>
#include <vector>

#include "data/utf8.h"

namespace dg::data {
namespace {

// A decoded text: one entry per code point; bytes of invalid sequences are
// kept as negative values so that they round-trip unchanged.
using Text = std::vector<int>;

Text Decode(std::string_view s) {
  Text out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len = 0;
    int cp = 0;
    if (c < 0x80) {
      len = 1;
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    }
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (ok) {
      out.push_back(cp);
      i += static_cast<std::size_t>(len);
    } else {
      out.push_back(-static_cast<int>(c) - 1);
      ++i;
    }
  }
  return out;
}

std::string Encode(const Text& t) {
  std::string out;
  out.reserve(t.size());
  for (int cp : t) {
    if (cp < 0) {
      out.push_back(static_cast<char>(-(cp + 1)));
    } else {
      AppendUtf8(out, static_cast<std::uint32_t>(cp));
    }
  }
  return out;
}

// Only the letters a-z change case; accented letters never do.
void UpperAscii(Text& t) {
  for (int& cp : t)
    if (cp >= 'a' && cp <= 'z') cp -= 'a' - 'A';
}

void LowerAscii(Text& t) {
  for (int& cp : t)
    if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
}

// Replaces every occurrence of `from` (scanning from the left, without
// rescanning what was just written) by `to`.
void ReplaceAll(Text& t, const Text& from, const Text& to) {
  Text out;
  out.reserve(t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    bool match = i + from.size() <= t.size();
    for (std::size_t k = 0; match && k < from.size(); ++k) match = t[i + k] == from[k];
    if (match) {
      out.insert(out.end(), to.begin(), to.end());
      i += from.size();
    } else {
      out.push_back(t[i++]);
    }
  }
  t.swap(out);
}

struct Step {
  Text from;
  Text to;
};

// The replacements, in the order they run. Code points are those of the
// single-byte code page the addresses were first typed in.
const std::vector<Step>& Steps() {
  static const std::vector<Step> kSteps = {
      {{0xC7}, {'C'}}, {{0xC3}, {'A'}}, {{0xC1}, {'A'}}, {{0xC0}, {'A'}}, {{0xC2}, {'A'}},
      {{0xD2}, {'O'}}, {{0xD4}, {'O'}}, {{0xD5}, {'O'}}, {{0xD3}, {'O'}}, {{0xCD}, {'I'}},
      {{0xCC}, {'I'}}, {{0xCE}, {'I'}}, {{0xC9}, {'E'}}, {{0xC8}, {'E'}}, {{0xCA}, {'E'}},
      {{0xDA}, {'U'}}, {{0xD9}, {'U'}}, {{0xDB}, {'U'}}, {{0xDC}, {'U'}}, {{0xD1}, {'N'}},
      {{'.'}, {}},     {{','}, {' '}},  {{'-'}, {' '}},  {{'_'}, {' '}},  {{'N', 0xBA}, {}},
      {{0xBA}, {}},    {{0xB0}, {}},
  };
  return kSteps;
}

}  // namespace

std::string PlainAddressText(std::string_view text) {
  Text t = Decode(text);
  for (const Step& step : Steps()) {
    UpperAscii(t);
    ReplaceAll(t, step.from, step.to);
  }
  LowerAscii(t);
  return Encode(t);
}

}  // namespace dg::data
