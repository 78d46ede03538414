// Sign-in and sessions of the operators (operators.h) on a server that
// requires them.
//
// A sign-in with the right code and password answers a session token: 256
// random bits from libsodium, as 64 hexadecimal digits. The database keeps
// only a hash of it, so a copy of the database opens no session. A session
// ends when it has not been used for `idle`, when its operator signs out,
// is disabled or gets a new password. Sessions live in the database, so
// every server instance on one PostgreSQL database knows them.
//
// Failed sign-ins are counted per operator code (known or not) and per
// client address; once either count reaches its limit, sign-ins of that
// operator or from that address are refused for `lock_for` after the last
// failure, right password or not. Every refusal waits `failure_delay` and
// says the same whatever was wrong (kSignInRefused), so neither the answer
// nor its timing tells whether the operator exists: an unknown operator's
// password is checked against a hash all the same. A password longer than
// any operator may have is refused before it is hashed, so that the cost of
// a sign-in does not grow with what a client sends; that refusal says so
// (kSignInTooLong), which tells nothing about the operator, and is not
// counted as a failure.
//
// Sign-ins and sign-outs are journaled (journal.h); refused ones through a
// RefusalJournal keyed by the address, so that a flood of them is counted
// rather than written row by row.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appserver/journal.h"
#include "appserver/storage.h"
#include "data/errors.h"

namespace dg::server {

inline constexpr const char* kSignInRefused = "Operador ou senha inválidos.";
inline constexpr const char* kSignInTooLong = "Senha longa demais: no máximo 1024 bytes.";
inline constexpr const char* kSignInLocked =
    "Entrada bloqueada por excesso de tentativas. Tente de novo mais tarde.";

// Intentionally copyable.
struct SignInSettings {
  std::chrono::seconds idle{30 * 60};
  int lock_after = 5;           // failed sign-ins of one operator code
  int address_lock_after = 20;  // failed sign-ins from one client address
  std::chrono::seconds lock_for{15 * 60};
  std::chrono::milliseconds failure_delay{1000};
  // Refused sign-ins journaled one by one per address and minute; the rest
  // are counted (RefusalJournal).
  int refusals_per_minute = 30;
  // Seconds since the epoch; tests move it.
  std::function<std::int64_t()> clock;
};

// A refused sign-in; what() is kSignInRefused, kSignInLocked or
// kSignInTooLong.
class SignInError : public Error {
 public:
  using Error::Error;
};

// Who a session belongs to. Intentionally copyable.
struct SessionInfo {
  std::string operator_code;
  std::vector<std::string> branches;  // as ParseBranchList gives them
};

// Thread-safe. Not copyable.
class SignInService {
 public:
  SignInService(std::shared_ptr<Storage> storage, SignInSettings settings = {});
  SignInService(const SignInService&) = delete;
  SignInService& operator=(const SignInService&) = delete;

  // Answers a new session's token. Throws SignInError when refused.
  std::string SignIn(const std::string& operator_code, const std::string& password,
                     const std::string& address, SessionInfo* info = nullptr);

  // The session the token opens, nullopt when it opens none (unknown,
  // malformed, idle too long, operator disabled). Counts as use.
  std::optional<SessionInfo> Resolve(const std::string& token);

  // Ends the session; a token that opens none is ignored.
  void SignOut(const std::string& token);

  const SignInSettings& settings() const { return settings_; }

 private:
  std::int64_t Now() const;

  std::shared_ptr<Storage> storage_;
  SignInSettings settings_;
  RefusalJournal refusals_;
};

}  // namespace dg::server
