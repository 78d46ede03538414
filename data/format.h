// The host's numeric display formats and Brazilian number entry.
//
// Pattern characters: "0" a digit always shown, "#" a digit shown if
// significant, "," thousands separator (anywhere in the integer part turns
// grouping on), "." decimal point. "0.000", "#,###0.000", "#,##0.00",
// "0.00000". Rounding is half away from zero on the decimal value (2.0005
// with three decimals gives 2.001, although the double is 2.000499999...).
#pragma once

#include <optional>
#include <string>

namespace dg::data {

struct NumberSeparators {
  char decimal = ',';
  char thousands = '.';
};

// Brazilian separators unless changed (process-wide; set once at start-up).
NumberSeparators& DefaultSeparators();

// Formats a value with a pattern; an empty pattern gives the shortest text
// that reads back as the same double, with the decimal separator.
std::string FormatNumber(const std::string& pattern, double value,
                         const NumberSeparators& seps = DefaultSeparators());

// Rounds a value to `decimals` places, half away from zero, on its shortest
// decimal representation.
double RoundDecimal(double value, int decimals);

// Reads a number as a Brazilian clerk types it: "1.234,5", "10", "-0,25",
// blanks around. std::nullopt for anything else (and for an empty text).
std::optional<double> ParseNumber(const std::string& text,
                                  const NumberSeparators& seps = DefaultSeparators());

}  // namespace dg::data
