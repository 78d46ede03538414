// Brazilian taxpayer inscriptions: the CNPJ of a legal person (14 digits,
// person type "J") and the CPF of a natural person (11 digits, person type
// "F"), each ending in two check digits.
//
// The server checks the inscriptions it imports here, and every printed
// document formats them here, so that both read them the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dg::data {

// The digits of an inscription typed or printed with its punctuation: ".",
// "/", "-" and blanks are skipped. None when anything else is in the text
// (letters, other signs) or when it holds no digit.
std::optional<std::string> InscriptionDigits(std::string_view text);

// "J" for 14 digits, "F" for 11, "" for any other length.
std::string PersonTypeOf(std::string_view digits);

// Whether the digits are a CNPJ (14) or CPF (11) whose two check digits are
// right. A number made of one repeated digit ("00000000000") is refused:
// its check digits come out right, but no inscription is issued with it.
bool ValidInscription(std::string_view digits);

// "45.781.233/0001-07" for 14 digits, "123.456.789-09" for 11; any other text
// comes back as it is.
std::string FormatInscription(std::string_view digits);

}  // namespace dg::data
