#include "appserver/operators.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <semaphore>

#include "appserver/call_args.h"

namespace dg::server {
namespace {

// libsodium must be initialised once before use; sodium_init is safe to
// call again and from several threads.
void InitSodium() {
  if (sodium_init() < 0) throw Error("the cryptographic library cannot start");
}

// Each hash takes crypto_pwhash_MEMLIMIT_INTERACTIVE (64 MiB) while it runs.
std::counting_semaphore<2>& HashSlots() {
  static std::counting_semaphore<2> slots(2);
  return slots;
}

std::atomic<bool> cheap_hashes{false};

class HashSlot {
 public:
  HashSlot() { HashSlots().acquire(); }
  ~HashSlot() { HashSlots().release(); }
  HashSlot(const HashSlot&) = delete;
  HashSlot& operator=(const HashSlot&) = delete;
};

std::vector<std::string> BranchesOf(Session& s, const std::string& code) {
  std::vector<std::string> out;
  for (const Row& r : s.Query("SELECT CDFILIAL FROM OPERFILIAL WHERE CDOPERADOR = ? "
                              "ORDER BY CDFILIAL",
                              {Value(code)})) {
    out.push_back(r[0].ToString());
  }
  return out;
}

// Ends every open session of the operator.
void EndSessions(Session& s, const std::string& code) {
  s.Exec("DELETE FROM SESSAO WHERE CDOPERADOR = ?", {Value(code)});
}

void RequireOperator(Session& s, const std::string& code) {
  if (s.Query("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?", {Value(code)}).empty()) {
    throw Error("Não há operador " + code + ".");
  }
}

}  // namespace

void CheckOperatorCode(const std::string& code) {
  const bool ok =
      !code.empty() && code.size() <= 40 && std::all_of(code.begin(), code.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
      });
  if (!ok) {
    throw Error("O código do operador tem de 1 a 40 letras, dígitos, '.', '_' ou '-'.");
  }
}

void CheckNewPassword(const std::string& password) {
  if (password.size() < 8) throw Error("A senha deve ter ao menos 8 caracteres.");
  if (password.size() > kMaxPasswordBytes) {
    throw Error("A senha deve ter no máximo " + std::to_string(kMaxPasswordBytes) + " bytes.");
  }
  for (unsigned char c : password) {
    if (c < 0x20 || c == 0x7f) throw Error("A senha não pode ter caracteres de controle.");
  }
}

std::vector<std::string> ParseBranchList(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    std::string code = text.substr(start, comma == std::string::npos ? comma : comma - start);
    code.erase(0, code.find_first_not_of(" \t"));
    code.erase(code.find_last_not_of(" \t") + 1);
    if (code == kEveryBranch) {
      out.push_back(code);
    } else {
      if (code.empty()) throw Error("A lista de filiais tem um código vazio.");
      if (code.size() > 4 || !std::all_of(code.begin(), code.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
          })) {
        throw Error("O código de filial tem de 1 a 4 letras ou dígitos, não " + code.substr(0, 20) +
                    ".");
      }
      if (code.find_first_not_of("0123456789") == std::string::npos) {
        code.insert(0, 4 - code.size(), '0');
      }
      out.push_back(code);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  if (out.size() > 1 && std::count(out.begin(), out.end(), kEveryBranch) > 0) {
    throw Error("\"*\" (todas as filiais) vem sozinho na lista de filiais.");
  }
  return out;
}

bool CoversBranch(const std::vector<std::string>& branches, const std::string& branch) {
  return std::find(branches.begin(), branches.end(), kEveryBranch) != branches.end() ||
         std::find(branches.begin(), branches.end(), branch) != branches.end();
}

std::string HashPassword(const std::string& password) {
  InitSodium();
  HashSlot slot;
  char hash[crypto_pwhash_STRBYTES];
  const bool cheap = cheap_hashes.load();
  if (crypto_pwhash_str(hash, password.data(), password.size(),
                        cheap ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        cheap ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) !=
      0) {
    throw Error("not enough memory to hash a password");
  }
  return hash;
}

bool PasswordMatches(const std::string& hash, const std::string& password) {
  InitSodium();
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  HashSlot slot;
  return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void UseCheapPasswordHashesForTests() { cheap_hashes = true; }

void AddOperator(Storage& storage, const std::string& code, const std::string& password,
                 const std::vector<std::string>& branches) {
  CheckOperatorCode(code);
  CheckNewPassword(password);
  if (branches.empty()) throw Error("O operador precisa de ao menos uma filial.");
  const std::string hash = HashPassword(password);
  storage.Transact(TxKind::Write, [&](Session& s) {
    if (!s.Query("SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?", {Value(code)}).empty()) {
      throw Error("O operador " + code + " já existe.");
    }
    const std::string now = detail::NowIso();
    s.Exec(
        "INSERT INTO OPERADOR (CDOPERADOR, DSSENHA, IDATIVO, DTHRCRIACAO, DTHRSENHA) "
        "VALUES (?, ?, 'S', ?, ?)",
        {Value(code), Value(hash), Value(now), Value(now)});
    for (const std::string& b : branches) {
      s.Exec("INSERT INTO OPERFILIAL (CDOPERADOR, CDFILIAL) VALUES (?, ?)",
             {Value(code), Value(b)});
    }
  });
}

void SetOperatorPassword(Storage& storage, const std::string& code, const std::string& password) {
  CheckNewPassword(password);
  const std::string hash = HashPassword(password);
  storage.Transact(TxKind::Write, [&](Session& s) {
    RequireOperator(s, code);
    s.Exec("UPDATE OPERADOR SET DSSENHA = ?, DTHRSENHA = ? WHERE CDOPERADOR = ?",
           {Value(hash), Value(detail::NowIso()), Value(code)});
    EndSessions(s, code);
  });
}

void DisableOperator(Storage& storage, const std::string& code) {
  storage.Transact(TxKind::Write, [&](Session& s) {
    RequireOperator(s, code);
    s.Exec("UPDATE OPERADOR SET IDATIVO = 'N' WHERE CDOPERADOR = ?", {Value(code)});
    EndSessions(s, code);
  });
}

std::vector<OperatorInfo> ListOperators(Storage& storage) {
  std::vector<OperatorInfo> out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    out.clear();
    for (const Row& r : s.Query("SELECT CDOPERADOR, IDATIVO, DTHRCRIACAO, DTHRSENHA FROM OPERADOR "
                                "ORDER BY CDOPERADOR")) {
      OperatorInfo info;
      info.code = r[0].ToString();
      info.active = r[1].ToString() == "S";
      info.created = r[2].ToString();
      info.password_changed = r[3].ToString();
      info.branches = BranchesOf(s, info.code);
      out.push_back(std::move(info));
    }
  });
  return out;
}

bool HasActiveOperator(Storage& storage) {
  bool any = false;
  storage.Transact(TxKind::Read, [&](Session& s) {
    any = !s.Query("SELECT 1 FROM OPERADOR WHERE IDATIVO = 'S'").empty();
  });
  return any;
}

namespace detail {
std::vector<std::string> OperatorBranches(Session& s, const std::string& code) {
  return BranchesOf(s, code);
}
}  // namespace detail

}  // namespace dg::server
