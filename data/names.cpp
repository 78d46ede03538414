#include "data/names.h"

#include <algorithm>
#include <cctype>

namespace dg::data {

std::string Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    std::string name = Trim(std::string_view(text).substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      out[i] = static_cast<char>(std::tolower(c));
    } else if (c == 0xC3 && i + 1 < out.size()) {
      unsigned char n = static_cast<unsigned char>(out[i + 1]);
      if (n >= 0x80 && n <= 0x9E && n != 0x97) out[i + 1] = static_cast<char>(n + 0x20);
      ++i;
    }
  }
  return out;
}

}  // namespace dg::data
