// exp-appserver: serves the distribution grid's server object over HTTP.
//
//   exp-appserver --db FILE|postgresql://... [--listen HOST:PORT] [--fixture FILE]
//                 [--allow-fixture] [--secret-file FILE] [--max-connections-per-address N]
//                 [--max-connections N] [--release-idle-grids MINUTES]
//   exp-appserver import --db FILE|postgresql://... [--dry-run] [--accept-large-changes]
//                 FILE.csv...
//   exp-appserver export --db FILE|postgresql://... --grid N|--items [--branch CODE]
//                 [--out FILE.csv]
//
//   exp-appserver grids --db FILE|postgresql://...
//   exp-appserver release-grid --db FILE|postgresql://... --grid N [--branch CODE]
//                 [--operator CODE]
//
// import and export are described in data_commands.h, grids and release-grid
// in grid_activity.h. --release-idle-grids (default 240, 0: never) releases
// open grids nobody has written to for that many minutes.
//
// Every argument, the secret and the fixture are checked before the
// database is opened or created.
//
// --fixture seeds a database that holds no data yet; --allow-fixture lets
// clients reseed it with POST /fixture. Prints "listening on HOST:PORT" once
// it serves; stops cleanly on SIGINT and SIGTERM.
//
// The shared secret every call must carry comes from --secret-file (a file
// only its owner may read; its first line) or the environment variable
// EXP_SERVER_SECRET. Listening outside loopback without one is refused.
//
// Test hook: EXP_FAULT_PAUSE="METHOD:PHASE:MS[,...]" pauses the write
// transaction of every call of METHOD for MS milliseconds, PHASE
// "after-write" (its writes done, not yet committed) or "after-commit"
// (committed, not yet answered), so that a test can stop the process at
// that moment.
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/data_commands.h"
#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/grid_activity.h"
#include "appserver/http_connections.h"
#include "appserver/journal.h"
#include "appserver/operator_commands.h"
#include "appserver/operators.h"
#include "appserver/sessions.h"
#include "appserver/storage.h"
#include "appserver/transport.h"

namespace {

int Usage(const std::string& why) {
  std::cerr << "exp-appserver: " << why << "\n"
            << "usage: exp-appserver --db FILE|postgresql://... [--listen 127.0.0.1:PORT] "
               "[--fixture FILE] [--allow-fixture] [--secret-file FILE] "
               "[--max-connections-per-address N] [--max-connections N] "
               "[--release-idle-grids MINUTES] "
               "[--signin [--session-idle-minutes N] [--signin-lock-after N] "
               "[--signin-address-lock-after N] [--signin-lock-minutes N]] "
               "[--tls-cert FILE --tls-key FILE] [--journal-retention-days N]\n"
               "       exp-appserver import --db FILE|postgresql://... [--dry-run] "
               "[--accept-large-changes] FILE.csv...\n"
               "       exp-appserver export --db FILE|postgresql://... --grid N|--items "
               "[--branch CODE] [--out FILE.csv]\n"
               "       exp-appserver grids --db FILE|postgresql://...\n"
               "       exp-appserver release-grid --db FILE|postgresql://... --grid N "
               "[--branch CODE] [--operator CODE]\n"
               "       exp-appserver user add|passwd|disable|list ... (exp-appserver user)\n"
               "       exp-appserver journal --db ... [--grid N] [--branch CODE] "
               "[--operator CODE] [--since DATE]\n";
  return 2;
}

// Throws dg::Error when the file cannot be read.
void CheckReadable(const std::string& path, const std::string& what) {
  std::ifstream in(path);
  if (!in) throw dg::Error("cannot read the " + what + " file " + path);
}

// Throws dg::Error when the file is missing or readable by anyone but its
// owner.
void CheckPrivate(const std::string& path, const std::string& what) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw dg::Error("cannot read the " + what + " file " + path);
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw dg::Error("the " + what + " file " + path +
                    " may be read by others than its owner (chmod 600 it)");
  }
  CheckReadable(path, what);
}

// Reads the secret's first line; throws dg::Error when the file is missing
// or readable by anyone but its owner.
std::string ReadSecretFile(const std::string& path) {
  CheckPrivate(path, "secret");
  std::ifstream in(path);
  std::string secret;
  if (!in) throw dg::Error("cannot read the secret file " + path);
  std::getline(in, secret);
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return secret;
}

// A secret a client can send: not blank, no blank at either end (a header
// value loses those on the way), no control characters.
std::string CheckedSecret(const std::string& secret, const std::string& where) {
  if (secret.find_first_not_of(" \t") == std::string::npos) {
    throw dg::Error(where + " holds no secret (it is empty or blank)");
  }
  if (secret.front() == ' ' || secret.front() == '\t' || secret.back() == ' ' ||
      secret.back() == '\t') {
    throw dg::Error(where + ": the secret begins or ends with a blank, which no client can send");
  }
  for (unsigned char c : secret) {
    if (c < 0x20 || c == 0x7f) throw dg::Error(where + ": the secret holds a control character");
  }
  return secret;
}

struct FaultPause {
  std::string method;
  bool after_commit = false;
  std::chrono::milliseconds pause{0};
};

std::vector<FaultPause> ParseFaultPauses(const std::string& text) {
  std::vector<FaultPause> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const auto c1 = item.find(':'), c2 = item.rfind(':');
    if (c1 == std::string::npos || c1 == c2) throw dg::Error("EXP_FAULT_PAUSE: bad item " + item);
    const std::string phase = item.substr(c1 + 1, c2 - c1 - 1);
    if (phase != "after-write" && phase != "after-commit") {
      throw dg::Error("EXP_FAULT_PAUSE: unknown phase " + phase);
    }
    FaultPause p{item.substr(0, c1), phase == "after-commit",
                 std::chrono::milliseconds(std::atol(item.c_str() + c2 + 1))};
    out.push_back(p);
    start = end + 1;
  }
  return out;
}

thread_local std::string current_method;

// Storage that pauses the transactions of chosen methods (EXP_FAULT_PAUSE).
class PausingStorage : public dg::server::Storage {
 public:
  PausingStorage(std::shared_ptr<dg::server::Storage> inner, std::vector<FaultPause> pauses)
      : inner_(std::move(inner)), pauses_(std::move(pauses)) {}
  void Transact(dg::server::TxKind kind,
                const std::function<void(dg::server::Session&)>& work) override {
    // A method's own reads before its write (DistribuiQuantidades reads the
    // places first) are not the moment the hook names.
    const bool writes = kind == dg::server::TxKind::Write;
    inner_->Transact(kind, [&](dg::server::Session& s) {
      work(s);
      if (writes) Pause(false);
    });
    if (writes) Pause(true);
  }

 private:
  void Pause(bool after_commit) const {
    for (const FaultPause& p : pauses_) {
      if (p.method == current_method && p.after_commit == after_commit) {
        std::cout << "pausing " << p.method << (after_commit ? " after-commit" : " after-write")
                  << std::endl;
        std::this_thread::sleep_for(p.pause);
      }
    }
  }
  std::shared_ptr<dg::server::Storage> inner_;
  std::vector<FaultPause> pauses_;
};

// A whole number of at most six digits, `least` or more.
bool ParseCount(const std::string& text, int least, int* out) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) < least) {
    return false;
  }
  *out = std::stoi(text);
  return true;
}

// "HOST:PORT" with a port of 1 to 65535, or 0 for any free port; an IPv6
// host may stand in brackets ("[::1]:8211").
bool ParseListen(const std::string& listen, dg::server::HttpServerOptions* options) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string port = listen.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
    return false;
  }
  options->host = listen.substr(0, colon);
  if (options->host.size() > 2 && options->host.front() == '[' && options->host.back() == ']') {
    options->host = options->host.substr(1, options->host.size() - 2);
  }
  options->port = std::stoi(port);
  return true;
}

// The address as --listen takes it back.
std::string ListenAddress(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// Throws when nothing could listen on the address now (a port another
// program holds, a host that is not this machine's), so that the start is
// refused before the database is opened or made. The socket is closed
// again: the server binds its own once the database is open.
void CheckListenable(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string where = ListenAddress(host, port);
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    throw dg::Error("cannot listen on " + where + ": unknown host");
  }
  std::string why = "no address";
  bool bound = false;
  for (addrinfo* a = found; a && !bound; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    bound = ::bind(fd, a->ai_addr, a->ai_addrlen) == 0;
    if (!bound) why = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (!bound) throw dg::Error("cannot listen on " + where + ": " + why);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
    const std::map<std::string, Command> commands = {
        {"import", dg::server::ImportCommand}, {"export", dg::server::ExportCommand},
        {"grids", dg::server::GridsCommand},   {"release-grid", dg::server::ReleaseGridCommand},
        {"user", dg::server::UserCommand},     {"journal", dg::server::JournalCommand},
    };
    if (auto it = commands.find(argv[1]); it != commands.end()) {
      return it->second(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
    }
  }
  std::string db, fixture_file, listen = "127.0.0.1:8211", secret_file, per_address, in_all,
                                idle_minutes = "240", session_minutes = "30", lock_after = "5",
                                address_lock_after = "20", lock_minutes = "15",
                                retention_days = "0";
  bool allow_fixture = false, signin = false;
  dg::server::HttpServerOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "--db") {
      if (!value(db)) return Usage("--db needs a file or a postgresql:// address");
    } else if (arg == "--listen") {
      if (!value(listen)) return Usage("--listen needs HOST:PORT");
    } else if (arg == "--fixture") {
      if (!value(fixture_file)) return Usage("--fixture needs a file");
    } else if (arg == "--secret-file") {
      if (!value(secret_file)) return Usage("--secret-file needs a file");
    } else if (arg == "--max-connections-per-address") {
      if (!value(per_address)) return Usage("--max-connections-per-address needs a number");
    } else if (arg == "--max-connections") {
      if (!value(in_all)) return Usage("--max-connections needs a number");
    } else if (arg == "--release-idle-grids") {
      if (!value(idle_minutes)) return Usage("--release-idle-grids needs a number of minutes");
    } else if (arg == "--tls-cert") {
      if (!value(options.tls_cert)) return Usage("--tls-cert needs a PEM file");
    } else if (arg == "--tls-key") {
      if (!value(options.tls_key)) return Usage("--tls-key needs a PEM file");
    } else if (arg == "--session-idle-minutes") {
      if (!value(session_minutes)) return Usage("--session-idle-minutes needs a number");
    } else if (arg == "--signin-lock-after") {
      if (!value(lock_after)) return Usage("--signin-lock-after needs a number");
    } else if (arg == "--signin-address-lock-after") {
      if (!value(address_lock_after)) return Usage("--signin-address-lock-after needs a number");
    } else if (arg == "--signin-lock-minutes") {
      if (!value(lock_minutes)) return Usage("--signin-lock-minutes needs a number");
    } else if (arg == "--journal-retention-days") {
      if (!value(retention_days)) return Usage("--journal-retention-days needs a number");
    } else if (arg == "--signin") {
      signin = true;
    } else if (arg == "--allow-fixture") {
      allow_fixture = true;
    } else {
      return Usage("unknown argument " + arg);
    }
  }
  if (db.empty()) return Usage("--db is required");
  options.allow_fixture = allow_fixture;
  if (listen.find(':') == std::string::npos || listen.front() == ':') {
    return Usage("--listen needs HOST:PORT");
  }
  if (!ParseListen(listen, &options)) {
    return Usage("bad port in " + listen + ": a port is 1 to 65535 (0: any free port)");
  }
  if (!per_address.empty() && !ParseCount(per_address, 1, &options.limits.max_per_address)) {
    return Usage("--max-connections-per-address needs a number from 1 up");
  }
  if (!in_all.empty() && !ParseCount(in_all, 1, &options.limits.max_connections)) {
    return Usage("--max-connections needs a number from 1 up");
  }
  // The default cap is kept as before where the system allows fewer open
  // files; a cap asked for must fit.
  if (const std::string why = dg::server::MakeRoomForConnections(options.limits.max_connections);
      !why.empty() && !in_all.empty()) {
    return Usage(why);
  }
  const auto idle = dg::server::ReadIdleMinutes(idle_minutes);
  if (!idle) return Usage(dg::server::kIdleMinutesUsage);
  dg::server::SignInSettings signin_settings;
  int session_idle = 0, lock_for = 0, retention = 0;
  if (!ParseCount(session_minutes, 1, &session_idle)) {
    return Usage("--session-idle-minutes needs a number of minutes from 1 up");
  }
  if (!ParseCount(lock_after, 1, &signin_settings.lock_after) ||
      !ParseCount(address_lock_after, 1, &signin_settings.address_lock_after)) {
    return Usage("--signin-lock-after and --signin-address-lock-after need a number from 1 up");
  }
  if (!ParseCount(lock_minutes, 1, &lock_for)) {
    return Usage("--signin-lock-minutes needs a number of minutes from 1 up");
  }
  if (!ParseCount(retention_days, 0, &retention)) {
    return Usage("--journal-retention-days needs a number of days (0: keep every row)");
  }
  signin_settings.idle = std::chrono::minutes(session_idle);
  signin_settings.lock_for = std::chrono::minutes(lock_for);
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    return Usage("TLS needs both --tls-cert and --tls-key");
  }

  // Signals are taken by sigwait below; every thread started later inherits
  // the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    // Everything the arguments name is checked before the database is
    // opened, so a refused start leaves no database behind.
    if (!secret_file.empty()) {
      options.secret = CheckedSecret(ReadSecretFile(secret_file), "the secret file " + secret_file);
    } else if (const char* env = std::getenv("EXP_SERVER_SECRET"); env && *env) {
      options.secret = CheckedSecret(env, "EXP_SERVER_SECRET");
    }
    const bool tls = !options.tls_cert.empty();
    if (!dg::server::IsLoopbackHost(options.host) && (!tls || !signin)) {
      throw dg::Error("listening on " + options.host +
                      " outside loopback needs TLS (--tls-cert, --tls-key) and sign-in (--signin)");
    }
    if (tls) {
      CheckReadable(options.tls_cert, "certificate");
      CheckPrivate(options.tls_key, "private key");
      dg::server::CheckTlsFiles(options.tls_cert, options.tls_key);
    }
    CheckListenable(options.host, options.port);
    std::optional<nlohmann::json> fixture;
    if (!fixture_file.empty()) {
      fixture = dg::server::ReadFixtureFile(fixture_file);
      dg::server::CheckFixture(*fixture);
    }
    std::vector<FaultPause> pauses;
    if (const char* text = std::getenv("EXP_FAULT_PAUSE"); text && *text) {
      pauses = ParseFaultPauses(text);
    }

    std::shared_ptr<dg::server::Storage> storage = dg::server::OpenStorage(db);
    if (const std::string warning = dg::server::SqliteFileWarning(db); !warning.empty()) {
      std::cerr << "exp-appserver: warning: " << warning << "\n";
    }
    if (fixture && dg::server::IsUnseeded(*storage)) dg::server::LoadFixture(*storage, *fixture);
    if (!pauses.empty()) {
      storage = std::make_shared<PausingStorage>(storage, std::move(pauses));
      options.on_call = [](const std::string& method) { current_method = method; };
    }
    if (signin) {
      options.signin = std::make_shared<dg::server::SignInService>(storage, signin_settings);
      if (!dg::server::HasActiveOperator(*storage)) {
        std::cerr << "exp-appserver: no operator may sign in yet (exp-appserver user add CODE "
                     "--db ... --branches ...)\n";
      }
    }
    std::optional<dg::server::JournalPruner> pruner;
    if (retention > 0) {
      pruner.emplace(storage, retention,
                     [](const std::string& line) { std::cout << line << std::endl; });
    }
    std::optional<dg::server::IdleGridReleaser> releaser;
    if (*idle > 0) {
      releaser.emplace(storage, std::chrono::minutes(*idle),
                       [](const std::string& line) { std::cout << line << std::endl; });
    }
    auto object = std::make_shared<dg::server::rdmGradeDistribuicao>(storage);
    dg::server::HttpServer server(object, options);
    const int port = server.Start();
    std::cout << "listening on " << ListenAddress(options.host, port) << std::endl;
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
    std::cout << "stopped" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
