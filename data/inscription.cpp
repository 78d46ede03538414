#include "data/inscription.h"

#include <algorithm>

namespace dg::data {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The check digit over `digits` with the weights counted down from `first`
// and wrapping from 2 back to 9 (the rule both numbers share).
int CheckDigit(std::string_view digits, int first) {
  int sum = 0, weight = first;
  for (char c : digits) {
    sum += (c - '0') * weight;
    weight = weight == 2 ? 9 : weight - 1;
  }
  const int rest = sum % 11;
  return rest < 2 ? 0 : 11 - rest;
}

}  // namespace

std::optional<std::string> InscriptionDigits(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (IsDigit(c)) {
      digits += c;
    } else if (c != '.' && c != '/' && c != '-' && c != ' ' && c != '\t') {
      return std::nullopt;
    }
  }
  if (digits.empty()) return std::nullopt;
  return digits;
}

std::string PersonTypeOf(std::string_view digits) {
  if (digits.size() == 14) return "J";
  if (digits.size() == 11) return "F";
  return "";
}

bool ValidInscription(std::string_view d) {
  if (d.size() != 14 && d.size() != 11) return false;
  if (!std::all_of(d.begin(), d.end(), IsDigit)) return false;
  if (std::all_of(d.begin(), d.end(), [&](char c) { return c == d[0]; })) return false;
  // CNPJ weights run 5..2 then 9..2; CPF weights 10..2; the second digit
  // takes one more weight at the front.
  const int first = d.size() == 14 ? 5 : 10;
  const std::size_t body = d.size() - 2;
  return CheckDigit(d.substr(0, body), first) == d[body] - '0' &&
         CheckDigit(d.substr(0, body + 1), first == 5 ? 6 : 11) == d[body + 1] - '0';
}

std::string FormatInscription(std::string_view d) {
  const std::string s(d);
  if (!std::all_of(d.begin(), d.end(), IsDigit)) return s;
  if (d.size() == 14) {
    return s.substr(0, 2) + "." + s.substr(2, 3) + "." + s.substr(5, 3) + "/" + s.substr(8, 4) +
           "-" + s.substr(12, 2);
  }
  if (d.size() == 11) {
    return s.substr(0, 3) + "." + s.substr(3, 3) + "." + s.substr(6, 3) + "-" + s.substr(9, 2);
  }
  return s;
}

}  // namespace dg::data
