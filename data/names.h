// Field names as the client dataset and filters read them: lists written
// "A;B;C", names compared ignoring ASCII letter case, texts folded for
// comparisons that ignore case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dg::data {

// The text without leading and trailing blanks and tabs.
std::string Trim(std::string_view s);
// "A; B;;C" -> {"A", "B", "C"}: trimmed, empty names left out.
std::vector<std::string> SplitNames(const std::string& text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Lower-cases ASCII letters and the accented capitals of Latin-1 (UTF-8
// "À".."Þ" but "×").
std::string FoldCase(std::string_view s);

}  // namespace dg::data
