#include "appserver/clock_text.h"

#include <cmath>
#include <cstdio>

namespace dg::server::clock {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Up to two digits from `at`; -1 when there is none.
int Digits(std::string_view text, std::size_t& at) {
  int value = -1;
  for (int n = 0; n < 2 && at < text.size() && text[at] >= '0' && text[at] <= '9'; ++n) {
    value = (value < 0 ? 0 : value * 10) + (text[at++] - '0');
  }
  return value;
}

}  // namespace

std::optional<double> ParseTime(std::string_view text) {
  text = Trimmed(text);
  std::size_t at = 0;
  const int hours = Digits(text, at);
  if (hours < 0) return std::nullopt;
  int minutes = 0;
  if (at < text.size() && (text[at] == ':' || text[at] == 'h' || text[at] == 'H')) {
    const char mark = text[at++];
    const std::size_t before = at;
    minutes = Digits(text, at);
    if (minutes < 0) {
      if (mark == ':') return std::nullopt;  // "7:" says nothing
      minutes = 0;
    } else if (at - before != 2) {
      return std::nullopt;  // "7:5"
    }
  } else {
    return std::nullopt;  // a bare "7" may be hours or a number of minutes
  }
  if (at != text.size() || minutes > 59 || hours > 24 || (hours == 24 && minutes > 0)) {
    return std::nullopt;
  }
  return hours * 60.0 + minutes;
}

WindowRead ParseWindow(std::string_view text) {
  text = Trimmed(text);
  static constexpr std::string_view kDashes[] = {"\xE2\x80\x93", "-", " a ", " A "};
  const char* kShape = "não é uma janela (hh:mm-hh:mm)";
  for (std::string_view dash : kDashes) {
    const std::size_t at = text.find(dash);
    if (at == std::string_view::npos) continue;
    const auto open = ParseTime(text.substr(0, at));
    const auto close = ParseTime(text.substr(at + dash.size()));
    if (!open || !close) return {std::nullopt, kShape};
    if (*close <= *open) return {std::nullopt, "fecha antes de abrir"};
    return {Window{*open, *close}, ""};
  }
  return {std::nullopt, kShape};
}

std::string TimeText(double minutes) {
  const long total = std::isfinite(minutes) && minutes > 0 ? std::lround(minutes) : 0;
  char text[24];
  std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
  return text;
}

std::string WindowText(const Window& window) {
  return TimeText(window.open) + "-" + TimeText(window.close);
}

}  // namespace dg::server::clock
