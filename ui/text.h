// Small text helpers shared by the toolkit and the host framework layer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dg::ui {

// ASCII letters compared without regard to case (names and keys).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The parts joined by the separator.
std::string JoinTexts(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace dg::ui
