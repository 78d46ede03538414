// Internal to the server object: which branches a call reaches, so that an
// operator who signed in works only on the branches granted. Not a public
// interface.
#pragma once

#include <string>
#include <vector>

#include "data/variant.h"

namespace dg::server::detail {

// The branches the call's arguments name: every non-empty branch argument
// and every branch cell of a packet argument (items, rows, change logs,
// old and new values). "*" when the call reads every branch (the items
// ready for dispatch, or the journal, with no branch given). Sorted, without repeats.
// REQUIRES: the arguments passed CheckArgs for the method.
std::vector<std::string> BranchesNamed(const std::string& method,
                                       const std::vector<data::Variant>& args);

// The grid number the call names, "" when none (for the journal).
std::string GridNamed(const std::string& method, const std::vector<data::Variant>& args);

// The refusal for an operator without access to `branch` ("*": every
// branch).
std::string NoAccessText(const std::string& branch);

// Puts the signed-in operator in every operator argument and every
// operator cell of a packet argument, so that what the caller names there
// is not what gets stored.
void ReplaceOperator(const std::string& method, std::vector<data::Variant>& args,
                     const std::string& operator_code);

}  // namespace dg::server::detail
