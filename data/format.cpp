#include "data/format.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace dg::data {
namespace {

// A non-negative decimal number as digit strings.
struct Decimal {
  std::string integer;   // at least one digit
  std::string fraction;  // possibly empty
};

// The shortest decimal text that reads back as |value|.
Decimal ToDecimal(double value) {
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
  const std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  const auto dot = text.find('.');
  Decimal d;
  d.integer = std::string(text.substr(0, dot));
  if (dot != std::string_view::npos) d.fraction = std::string(text.substr(dot + 1));
  return d;
}

// Rounds to `decimals` places, half away from zero on the digits.
void RoundDigits(Decimal& d, int decimals) {
  const std::size_t keep = static_cast<std::size_t>(std::max(decimals, 0));
  if (d.fraction.size() <= keep) return;
  const bool up = d.fraction[keep] >= '5';
  d.fraction.resize(keep);
  if (!up) return;
  std::string digits = d.integer + d.fraction;
  int i = static_cast<int>(digits.size()) - 1;
  for (; i >= 0; --i) {
    if (digits[i] == '9') {
      digits[i] = '0';
    } else {
      ++digits[i];
      break;
    }
  }
  if (i < 0) digits.insert(digits.begin(), '1');
  d.integer = digits.substr(0, digits.size() - keep);
  d.fraction = digits.substr(digits.size() - keep);
}

bool IsZero(const Decimal& d) {
  return d.integer.find_first_not_of('0') == std::string::npos &&
         d.fraction.find_first_not_of('0') == std::string::npos;
}

bool IsPlaceholder(char c) { return c == '0' || c == '#' || c == '.' || c == ','; }

}  // namespace

NumberSeparators& DefaultSeparators() {
  static NumberSeparators seps;
  return seps;
}

double RoundDecimal(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  Decimal d = ToDecimal(value);
  RoundDigits(d, decimals);
  std::string text =
      (value < 0 ? "-" : "") + d.integer + (d.fraction.empty() ? "" : "." + d.fraction);
  double out = 0;
  std::from_chars(text.data(), text.data() + text.size(), out);
  return out;
}

std::string FormatNumber(const std::string& pattern_text, double value,
                         const NumberSeparators& seps) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // Only the first section of a "positive;negative;zero" pattern is used.
  const std::string pattern = pattern_text.substr(0, pattern_text.find(';'));
  const auto first = pattern.find_first_of("0#.,");
  if (pattern.empty()) {
    Decimal d = ToDecimal(value);
    std::string out = (value < 0 && !IsZero(d) ? "-" : "") + d.integer;
    if (!d.fraction.empty()) out += seps.decimal + d.fraction;
    return out;
  }
  if (first == std::string::npos) return pattern;  // only literal text
  std::size_t last = first;
  while (last + 1 < pattern.size() && IsPlaceholder(pattern[last + 1])) ++last;
  const std::string prefix = pattern.substr(0, first);
  const std::string suffix = pattern.substr(last + 1);
  const std::string core = pattern.substr(first, last - first + 1);

  const auto dot = core.find('.');
  const std::string int_part = core.substr(0, dot);
  const std::string frac_part = dot == std::string::npos ? "" : core.substr(dot + 1);
  int min_int = 0, min_frac = 0, max_frac = 0;
  for (char c : int_part) min_int += c == '0';
  for (char c : frac_part) {
    if (c == '0')
      min_frac = ++max_frac;
    else if (c == '#')
      ++max_frac;
  }
  const bool grouping = int_part.find(',') != std::string::npos;

  Decimal d = ToDecimal(value);
  RoundDigits(d, max_frac);
  const bool negative = value < 0 && !IsZero(d);
  while (static_cast<int>(d.fraction.size()) > min_frac && d.fraction.back() == '0')
    d.fraction.pop_back();
  if (static_cast<int>(d.fraction.size()) < min_frac)
    d.fraction.append(min_frac - d.fraction.size(), '0');

  std::string digits = d.integer;
  const auto nz = digits.find_first_not_of('0');
  digits = nz == std::string::npos ? "" : digits.substr(nz);
  if (static_cast<int>(digits.size()) < min_int) digits.insert(0, min_int - digits.size(), '0');
  std::string integer;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (grouping && i > 0 && (digits.size() - i) % 3 == 0) integer += seps.thousands;
    integer += digits[i];
  }
  std::string out = prefix + (negative ? "-" : "") + integer;
  if (!d.fraction.empty()) out += seps.decimal + d.fraction;
  return out + suffix;
}

std::optional<double> ParseNumber(const std::string& text, const NumberSeparators& seps) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  const auto e = text.find_last_not_of(" \t");
  const std::string_view t(text.data() + b, e - b + 1);

  std::size_t i = 0;
  std::string normal;
  if (t[i] == '-' || t[i] == '+') {
    if (t[i] == '-') normal += '-';
    ++i;
  }
  // Integer digits, with thousands separators only between groups of three.
  std::size_t digits = 0, group = 0;
  bool grouped = false;
  for (; i < t.size() && t[i] != seps.decimal; ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      normal += t[i];
      ++digits;
      ++group;
    } else if (t[i] == seps.thousands && digits > 0 && (!grouped ? group <= 3 : group == 3)) {
      grouped = true;
      group = 0;
    } else {
      return std::nullopt;
    }
  }
  if (grouped && group != 3) return std::nullopt;
  std::size_t frac_digits = 0;
  if (i < t.size()) {  // the decimal separator
    normal += '.';
    for (++i; i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9') return std::nullopt;
      normal += t[i];
      ++frac_digits;
    }
  }
  if (digits + frac_digits == 0) return std::nullopt;
  if (digits == 0) normal.insert(normal[0] == '-' ? 1 : 0, "0");
  double out = 0;
  const auto res = std::from_chars(normal.data(), normal.data() + normal.size(), out);
  if (res.ec != std::errc() || res.ptr != normal.data() + normal.size()) return std::nullopt;
  return out;
}

}  // namespace dg::data
