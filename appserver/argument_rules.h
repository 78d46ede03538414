// Internal to the server object: what it accepts in its arguments beyond
// their kinds. Every text is bounded by the size of the field it stands for,
// and every number must be finite and not negative (the methods check the
// numbers they read inside packets the same way). The checks run before a
// method's transaction, so a refused call writes nothing, not even a journal
// row. Not a public interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/packet.h"
#include "data/variant.h"

namespace dg::server::detail {

// The longest text (in characters) the field of that name holds; 0 for a
// field the server does not store.
int TextFieldSize(std::string_view field);

// The field each argument of `method` stands for ("CDFILIAL", ...; "" for a
// date or packet), in argument order; empty for an unknown method.
const std::vector<std::string>& ArgumentFields(const std::string& method);

// Throws Error naming the method, the argument and the rule: a text longer
// than its field ("DelGrade: argument 1 (CDFILIAL) holds at most 4
// characters, got 31457280"), a number argument outside 0 to kMaxAmount,
// or, in a packet argument, a text of a stored field longer than the field
// or a number that is not finite.
// REQUIRES: the arguments passed CheckArgs for the method.
void CheckArgumentValues(const std::string& method, const std::vector<data::Variant>& args);

// Quantities, unit weights and volumes beyond this are refused: no dispatch
// comes near it, and their products stay finite and exact enough.
inline constexpr double kMaxAmount = 1e12;

// A number from 0 to kMaxAmount; Error otherwise, saying `what` it is
// ("SetGrade: argument 2 (VRPESOBRUTPR) must be a number from 0 to
// 1000000000000, got -1").
double CheckedAmount(double value, const std::string& what);

}  // namespace dg::server::detail
