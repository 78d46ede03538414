// The operators who may sign in to the server, kept in its database: a
// code, a password kept only as its Argon2id hash (libsodium's
// crypto_pwhash_str, with its own random salt), the branches the operator
// works on, and whether the operator is active.
//
// A hash is never answered, printed or written to a log: OperatorInfo does
// not carry it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

// Stands for every branch in an operator's branch list.
inline constexpr const char* kEveryBranch = "*";

// An operator as `user list` shows it. Intentionally copyable.
struct OperatorInfo {
  std::string code;
  bool active = false;
  std::vector<std::string> branches;  // sorted; {"*"} for every branch
  std::string created, password_changed;
};

// A code of 1 to 40 letters, digits, '.', '_' or '-'. Throws Error saying
// so otherwise.
void CheckOperatorCode(const std::string& code);

// The longest password an operator may have. A longer one offered at
// sign-in is refused before it is hashed.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// A password an operator may be given: 8 to kMaxPasswordBytes bytes, no
// control characters. Throws Error saying what is wrong.
void CheckNewPassword(const std::string& password);

// "0001,0002" (blanks around codes ignored; digits get their leading zeros
// back, "1" is "0001") or "*" for every branch. Throws Error for an empty
// list, a code longer than 4 characters or with anything but letters and
// digits.
std::vector<std::string> ParseBranchList(const std::string& text);

// Whether `branches` (as ParseBranchList gives them) covers `branch`.
bool CoversBranch(const std::vector<std::string>& branches, const std::string& branch);

// The Argon2id hash of a password (libsodium's string form, salt included).
// Throws Error when the library cannot get the memory it needs.
std::string HashPassword(const std::string& password);

// Whether `password` is the one `hash` was made from. A malformed hash
// matches nothing. Slow by design; at most two run at once in a process,
// so that a burst of sign-ins cannot take all of the machine's memory.
bool PasswordMatches(const std::string& hash, const std::string& password);

// Test hook: hashes made from now on in this process use libsodium's
// least work and memory, so that tests that sign in many times run fast.
// A hash carries its own limits, so it is checked the same either way.
void UseCheapPasswordHashesForTests();

// Adds an active operator. Throws Error when the code is taken (active or
// not) or any argument fails the checks above.
void AddOperator(Storage& storage, const std::string& code, const std::string& password,
                 const std::vector<std::string>& branches);

// Replaces an operator's password and ends its open sessions. Throws Error
// for an unknown operator or a refused password.
void SetOperatorPassword(Storage& storage, const std::string& code, const std::string& password);

// Disables an operator (it can no longer sign in) and ends its open
// sessions at once. Throws Error for an unknown operator.
void DisableOperator(Storage& storage, const std::string& code);

// Every operator, by code.
std::vector<OperatorInfo> ListOperators(Storage& storage);

// Whether any active operator exists (a server that requires sign-in
// without one serves nobody).
bool HasActiveOperator(Storage& storage);

namespace detail {
// The operator's branches, sorted, inside a transaction.
std::vector<std::string> OperatorBranches(Session& s, const std::string& code);
}  // namespace detail

}  // namespace dg::server
