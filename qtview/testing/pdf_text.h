// Test support: the text of a PDF as a reader gets it back, through
// poppler's pdftotext (poppler-utils), page by page.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace dg::qtview::testing {

// The text of each page, laid out as on paper; none when pdftotext is not
// installed or cannot read the file.
inline std::optional<std::vector<std::string>> PdfPages(const std::string& path) {
  FILE* pipe = ::popen(("pdftotext -layout -enc UTF-8 '" + path + "' - 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  std::vector<std::string> pages(1);
  for (char c : text) {
    if (c == '\f') {
      pages.emplace_back();
    } else {
      pages.back() += c;
    }
  }
  if (pages.back().find_first_not_of(" \n") == std::string::npos) pages.pop_back();
  return pages;
}

}  // namespace dg::qtview::testing
