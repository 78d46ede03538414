#include "appserver/sessions.h"

#include <sodium.h>

#include <algorithm>
#include <thread>

#include "appserver/call_args.h"
#include "appserver/journal.h"
#include "appserver/operators.h"

namespace dg::server {
namespace {

constexpr std::size_t kTokenBytes = 32;  // 256 bits
static_assert(kMaxPasswordBytes == 1024, "kSignInTooLong names the limit");

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string out(size * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, size);
  out.pop_back();
  return out;
}

bool IsToken(const std::string& token) {
  return token.size() == kTokenBytes * 2 &&
         token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// What the database keeps of a token.
std::string TokenHash(const std::string& token) {
  unsigned char hash[crypto_generichash_BYTES];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return Hex(hash, sizeof hash);
}

// A hash to check the password of an unknown operator against, so that
// such a sign-in takes as long as any other.
const std::string& StandInHash() {
  static const std::string hash = [] {
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    return HashPassword(Hex(bytes, sizeof bytes));
  }();
  return hash;
}

struct Failures {
  std::int64_t count = 0, last = 0;
};

Failures FailuresOf(Session& s, const std::string& key) {
  auto rows =
      s.Query("SELECT NRFALHAS, NRULTIMAFALHA FROM FALHAENTRADA WHERE DSCHAVE = ?", {Value(key)});
  if (rows.empty()) return {};
  return {rows[0][0].ToInt64(), rows[0][1].ToInt64()};
}

// Adds `step` to the count of `key`; a count whose lock time has passed
// starts again. A step back (a success taking back its attempt) leaves the
// time of the last failure as it was.
void AddFailure(Session& s, const std::string& key, std::int64_t now, std::int64_t lock_for,
                int step) {
  const Failures f = FailuresOf(s, key);
  const bool current = now - f.last < lock_for;
  const std::int64_t count = std::max<std::int64_t>(0, (current ? f.count : 0) + step);
  const std::int64_t last = step > 0 ? now : f.last;
  if (s.Exec("UPDATE FALHAENTRADA SET NRFALHAS = ?, NRULTIMAFALHA = ? WHERE DSCHAVE = ?",
             {Value(count), Value(last), Value(key)}) == 0 &&
      step > 0) {
    s.Exec("INSERT INTO FALHAENTRADA (DSCHAVE, NRFALHAS, NRULTIMAFALHA) VALUES (?, ?, ?)",
           {Value(key), Value(count), Value(last)});
  }
}

// The failure count of an operator code nobody has is kept under 16 bits of
// its hash: enough to lock a code that is being guessed as a known one is
// locked (so a lock does not tell whether a code exists), too few to hold a
// password typed in the operator field (any text falls in one of 65,536).
std::string UnknownOperatorKey(const std::string& code) {
  unsigned char hash[crypto_generichash_BYTES_MIN];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(code.data()),
                     code.size(), nullptr, 0);
  return "op?:" + Hex(hash, 2);
}

}  // namespace

SignInService::SignInService(std::shared_ptr<Storage> storage, SignInSettings settings)
    : storage_(std::move(storage)),
      settings_(std::move(settings)),
      refusals_(settings_.refusals_per_minute, settings_.clock) {
  if (sodium_init() < 0) throw Error("the cryptographic library cannot start");
}

std::int64_t SignInService::Now() const {
  if (settings_.clock) return settings_.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string SignInService::SignIn(const std::string& operator_code, const std::string& password,
                                  const std::string& address, SessionInfo* info) {
  bool code_ok = true;
  try {
    CheckOperatorCode(operator_code);
  } catch (const Error&) {
    code_ok = false;
  }
  const std::string ip_key = "ip:" + address;
  const std::int64_t now = Now();
  const std::int64_t lock_for = settings_.lock_for.count();
  const bool too_long = password.size() > kMaxPasswordBytes;

  // The attempt is counted before the password is hashed, in the same write
  // transaction that checks the counts: sign-ins that arrive together are
  // counted one after the other, so no more of them than the limit reach
  // the hash, and the rest are refused as locked whatever their password.
  bool locked = false, known = false, counted = false;
  std::string hash, op_key;
  bool active = false;
  storage_->Transact(TxKind::Write, [&](Session& s) {
    hash.clear();
    active = known = counted = false;
    if (code_ok) {
      auto rows = s.Query("SELECT DSSENHA, IDATIVO FROM OPERADOR WHERE CDOPERADOR = ?",
                          {Value(operator_code)});
      if (!rows.empty()) {
        known = true;
        hash = rows[0][0].ToString();
        active = rows[0][1].ToString() == "S";
      }
    }
    op_key = !code_ok ? "" : known ? "op:" + operator_code : UnknownOperatorKey(operator_code);
    const Failures theirs = FailuresOf(s, ip_key);
    const Failures mine = op_key.empty() ? Failures{} : FailuresOf(s, op_key);
    locked =
        (!op_key.empty() && mine.count >= settings_.lock_after && now - mine.last < lock_for) ||
        (theirs.count >= settings_.address_lock_after && now - theirs.last < lock_for);
    if (locked || too_long) return;
    for (const std::string& key : {op_key, ip_key}) {
      if (!key.empty()) AddFailure(s, key, now, lock_for, 1);
    }
    counted = true;
  });

  // An operator code nobody has is journaled by its length only: it may be
  // a password typed in the wrong field.
  const std::string shown = known ? operator_code : "?";
  const std::string unknown =
      known ? "" : ": operador desconhecido de " + std::to_string(operator_code.size()) + " bytes";
  auto refuse = [&](const char* text, const char* note) {
    refusals_.Append(*storage_, ip_key, shown, "Entrar", "", "",
                     std::string(note) + unknown + (address.empty() ? "" : " (" + address + ")"));
    std::this_thread::sleep_for(settings_.failure_delay);
    throw SignInError(text);
  };
  if (locked) refuse(kSignInLocked, "entrada bloqueada");
  if (too_long) refuse(kSignInTooLong, "senha longa demais");

  const bool matches = PasswordMatches(hash.empty() ? StandInHash() : hash, password);
  if (!matches || !known || !active) refuse(kSignInRefused, "entrada recusada");

  unsigned char bytes[kTokenBytes];
  randombytes_buf(bytes, sizeof bytes);
  const std::string token = Hex(bytes, sizeof bytes);
  sodium_memzero(bytes, sizeof bytes);
  SessionInfo session{operator_code, {}};
  storage_->Transact(TxKind::Write, [&](Session& s) {
    // A success clears the operator's count, and takes back the attempt it
    // added to the address's.
    s.Exec("DELETE FROM FALHAENTRADA WHERE DSCHAVE = ?", {Value(op_key)});
    if (counted) AddFailure(s, ip_key, now, lock_for, -1);
    s.Exec("DELETE FROM SESSAO WHERE NRULTIMOUSO < ?", {Value(now - settings_.idle.count())});
    s.Exec("INSERT INTO SESSAO (DSTOKEN, CDOPERADOR, DTHRINICIO, NRULTIMOUSO) VALUES (?, ?, ?, ?)",
           {Value(TokenHash(token)), Value(operator_code), Value(detail::NowIso()), Value(now)});
    session.branches = detail::OperatorBranches(s, operator_code);
    AppendJournal(s, operator_code, "Entrar", "", "", "");
  });
  if (info) *info = session;
  return token;
}

std::optional<SessionInfo> SignInService::Resolve(const std::string& token) {
  if (!IsToken(token)) return std::nullopt;
  const std::string key = TokenHash(token);
  const std::int64_t now = Now();
  std::optional<SessionInfo> found;
  std::int64_t last = 0;
  storage_->Transact(TxKind::Read, [&](Session& s) {
    found.reset();
    auto rows = s.Query(
        "SELECT s.CDOPERADOR, s.NRULTIMOUSO FROM SESSAO s JOIN OPERADOR o ON o.CDOPERADOR = "
        "s.CDOPERADOR WHERE s.DSTOKEN = ? AND o.IDATIVO = 'S'",
        {Value(key)});
    if (rows.empty()) return;
    found = SessionInfo{rows[0][0].ToString(), detail::OperatorBranches(s, rows[0][0].ToString())};
    last = rows[0][1].ToInt64();
  });
  if (!found) return std::nullopt;
  const std::int64_t idle = settings_.idle.count();
  if (now - last > idle) {
    storage_->Transact(TxKind::Write, [&](Session& s) {
      s.Exec("DELETE FROM SESSAO WHERE DSTOKEN = ?", {Value(key)});
    });
    return std::nullopt;
  }
  // Use is written down a twentieth of the idle time at a time, not at
  // every call.
  if (now - last >= std::max<std::int64_t>(1, idle / 20)) {
    storage_->Transact(TxKind::Write, [&](Session& s) {
      s.Exec("UPDATE SESSAO SET NRULTIMOUSO = ? WHERE DSTOKEN = ? AND NRULTIMOUSO < ?",
             {Value(now), Value(key), Value(now)});
    });
  }
  return found;
}

void SignInService::SignOut(const std::string& token) {
  if (!IsToken(token)) return;
  storage_->Transact(TxKind::Write, [&](Session& s) {
    auto rows =
        s.Query("SELECT CDOPERADOR FROM SESSAO WHERE DSTOKEN = ?", {Value(TokenHash(token))});
    if (rows.empty()) return;
    s.Exec("DELETE FROM SESSAO WHERE DSTOKEN = ?", {Value(TokenHash(token))});
    AppendJournal(s, rows[0][0].ToString(), "Sair", "", "", "");
  });
}

}  // namespace dg::server
