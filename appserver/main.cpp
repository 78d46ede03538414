// exp-appserver: serves the distribution grid's server object over HTTP, or
// runs one of its commands (import, export, grids, release-grid, user,
// journal: the first word). `exp-appserver --help` and `exp-appserver
// COMMAND --help` list what each takes; the options are defined once, in
// ReadServerArgs and beside each command.
//
// Every argument, the secret and the fixture are checked before the
// database is opened or created. Prints "listening on HOST:PORT" once it
// serves; stops cleanly on SIGINT and SIGTERM. The shared secret every call
// must carry comes from --secret-file (a file only its owner may read; its
// first line) or the environment variable EXP_SERVER_SECRET.
//
// Test hook: EXP_FAULT_PAUSE (fault_pause.h).
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
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/command_line.h"
#include "appserver/data_commands.h"
#include "appserver/fault_pause.h"
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

using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
struct Subcommand {
  const char* name;
  Command run;
  const char* what;
};
constexpr Subcommand kSubcommands[] = {
    {"import", dg::server::ImportCommand, "reads a distributor's CSV files into the database"},
    {"export", dg::server::ExportCommand, "writes a grid's allocations, or the items, as CSV"},
    {"grids", dg::server::GridsCommand, "lists the open grids"},
    {"release-grid", dg::server::ReleaseGridCommand, "discards one open grid"},
    {"user", dg::server::UserCommand, "adds, changes, disables or lists the operators"},
    {"journal", dg::server::JournalCommand, "prints the journal of who did what"},
};

// The server's arguments, read and checked.
struct ServerArgs {
  std::string db, fixture_file, secret_file;
  bool signin = false;
  dg::server::HttpServerOptions options;
  dg::server::SignInSettings signin_settings;
  int idle_minutes = 0, retention_days = 0;
  dg::server::DbConnections db_connections{dg::server::kDefaultDbConnections, false};
};

// Reads the server's options into `args`; nullopt when it may start, else
// the status to end with (--help: 0; bad arguments: 2, said on stderr).
std::optional<int> ReadServerArgs(int argc, char** argv, ServerArgs* args) {
  std::string listen = "127.0.0.1:8211",
              per_address = std::to_string(args->options.limits.max_per_address), in_all,
              idle_minutes = "240", session_minutes = "30", lock_after = "5",
              address_lock_after = "20", lock_minutes = "15", retention_days = "0",
              db_connections, db_transactions;
  dg::server::HttpServerOptions& options = args->options;
  dg::server::CommandLine line("exp-appserver",
                               "Serves the distribution grid's server object over HTTP.");
  line.Value("--db", &args->db, "FILE|postgresql://...",
             "the database (a SQLite file is made when missing)", false)
      ->required();
  line.Value("--listen", &listen, "HOST:PORT", "where to listen (port 0: any free port)");
  line.Value("--fixture", &args->fixture_file, "FILE", "seeds a database that holds no data yet");
  line.Flag("--allow-fixture", &options.allow_fixture, "lets clients reseed with POST /fixture");
  line.Value("--secret-file", &args->secret_file, "FILE",
             "the shared secret every call carries (else EXP_SERVER_SECRET)");
  line.Value("--max-connections-per-address", &per_address, "N",
             "connections one client address may hold open");
  line.Value("--max-connections", &in_all, "N",
             "connections open at once in all (default 512; about one per clerk at work)");
  line.Value("--db-transactions", &db_transactions, "N",
             "PostgreSQL: transactions the servers of this database given it run at once "
             "together, about what its cores run at once; each runs its share");
  line.Value("--db-connections", &db_connections, "N",
             "PostgreSQL: transactions this server runs at once whatever the others run "
             "(default 8; instead of a share of --db-transactions)");
  line.Value("--release-idle-grids", &idle_minutes, "MINUTES",
             "releases open grids idle that long (0: never)");
  line.Value("--journal-retention-days", &retention_days, "N",
             "deletes journal rows older than that (0: keeps every row)");
  line.Flag("--signin", &args->signin, "every call needs an operator's session");
  line.Value("--session-idle-minutes", &session_minutes, "N",
             "with --signin: a session's idle time");
  line.Value("--signin-lock-after", &lock_after, "N",
             "with --signin: failures of one operator that lock its sign-in");
  line.Value("--signin-address-lock-after", &address_lock_after, "N",
             "with --signin: failures from one address that lock its sign-ins");
  line.Value("--signin-lock-minutes", &lock_minutes, "N", "with --signin: how long a lock lasts");
  line.Value("--tls-cert", &options.tls_cert, "FILE", "HTTPS: the certificate (PEM)");
  line.Value("--tls-key", &options.tls_key, "FILE", "HTTPS: its private key (PEM, owner only)");
  std::string commands = "Commands (exp-appserver COMMAND --help: what each takes):\n";
  for (const Subcommand& c : kSubcommands) {
    commands +=
        "  " + std::string(c.name) + std::string(14 - std::strlen(c.name), ' ') + c.what + "\n";
  }
  line.app().footer(commands);
  const auto usage = [&](const std::string& why) {
    std::cerr << "exp-appserver: " << why << "\n"
              << line.Usage() << "       exp-appserver COMMAND ... (";
    for (const Subcommand& c : kSubcommands) {
      std::cerr << c.name << (&c == std::end(kSubcommands) - 1 ? "" : ", ");
    }
    std::cerr << "; COMMAND --help)\n";
    return 2;
  };
  switch (line.Read(argc, argv)) {
    case dg::server::CommandLine::Outcome::kHelp:
      std::cout << line.Help();
      return 0;
    case dg::server::CommandLine::Outcome::kRefused:
      return usage(line.why());
    case dg::server::CommandLine::Outcome::kRun:
      break;
  }
  if (listen.find(':') == std::string::npos || listen.front() == ':') {
    return usage("--listen needs HOST:PORT");
  }
  if (!ParseListen(listen, &options)) {
    return usage("bad port in " + listen + ": a port is 1 to 65535 (0: any free port)");
  }
  if (!ParseCount(per_address, 1, &options.limits.max_per_address)) {
    return usage("--max-connections-per-address needs a number from 1 up");
  }
  if (!in_all.empty() && !ParseCount(in_all, 1, &options.limits.max_connections)) {
    return usage("--max-connections needs a number from 1 up");
  }
  // The default cap is kept as before where the system allows fewer open
  // files; a cap asked for must fit.
  if (const std::string why = dg::server::MakeRoomForConnections(options.limits.max_connections);
      !why.empty() && !in_all.empty()) {
    return usage(why);
  }
  // A share of the database's transactions is asked for: one server alone
  // measured slower in it than with its own 8, so it is not the default.
  if (!db_transactions.empty() && !db_connections.empty()) {
    return usage("--db-transactions and --db-connections exclude each other");
  }
  if (!db_transactions.empty()) {
    if (!ParseCount(db_transactions, 1, &args->db_connections.count) ||
        args->db_connections.count > 1000) {
      return usage("--db-transactions needs a number from 1 to 1000");
    }
    args->db_connections.shared = true;
  }
  if (!db_connections.empty()) {
    if (!ParseCount(db_connections, 1, &args->db_connections.count) ||
        args->db_connections.count > 1000) {
      return usage("--db-connections needs a number from 1 to 1000");
    }
    args->db_connections.shared = false;
  }
  const auto idle = dg::server::ReadIdleMinutes(idle_minutes);
  if (!idle) return usage(dg::server::kIdleMinutesUsage);
  args->idle_minutes = *idle;
  dg::server::SignInSettings& signin = args->signin_settings;
  int session_idle = 0, lock_for = 0;
  if (!ParseCount(session_minutes, 1, &session_idle)) {
    return usage("--session-idle-minutes needs a number of minutes from 1 up");
  }
  if (!ParseCount(lock_after, 1, &signin.lock_after) ||
      !ParseCount(address_lock_after, 1, &signin.address_lock_after)) {
    return usage("--signin-lock-after and --signin-address-lock-after need a number from 1 up");
  }
  if (!ParseCount(lock_minutes, 1, &lock_for)) {
    return usage("--signin-lock-minutes needs a number of minutes from 1 up");
  }
  if (!ParseCount(retention_days, 0, &args->retention_days)) {
    return usage("--journal-retention-days needs a number of days (0: keep every row)");
  }
  signin.idle = std::chrono::minutes(session_idle);
  signin.lock_for = std::chrono::minutes(lock_for);
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    return usage("TLS needs both --tls-cert and --tls-key");
  }
  return std::nullopt;
}

// Checks what the arguments name, opens the database and serves until
// SIGINT or SIGTERM. Answers the exit status.
int Serve(ServerArgs& args) {
  dg::server::HttpServerOptions& options = args.options;
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
    if (!args.secret_file.empty()) {
      options.secret =
          CheckedSecret(ReadSecretFile(args.secret_file), "the secret file " + args.secret_file);
    } else if (const char* env = std::getenv("EXP_SERVER_SECRET"); env && *env) {
      options.secret = CheckedSecret(env, "EXP_SERVER_SECRET");
    }
    const bool tls = !options.tls_cert.empty();
    if (!dg::server::IsLoopbackHost(options.host) && (!tls || !args.signin)) {
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
    if (!args.fixture_file.empty()) {
      fixture = dg::server::ReadFixtureFile(args.fixture_file);
      dg::server::CheckFixture(*fixture);
    }
    std::vector<dg::server::FaultPause> pauses;
    if (const char* text = std::getenv("EXP_FAULT_PAUSE"); text && *text) {
      pauses = dg::server::ParseFaultPauses(text);
    }

    std::shared_ptr<dg::server::Storage> storage =
        dg::server::OpenStorage(args.db, args.db_connections);
    if (const std::string warning = dg::server::SqliteFileWarning(args.db); !warning.empty()) {
      std::cerr << "exp-appserver: warning: " << warning << "\n";
    }
    if (fixture && dg::server::IsUnseeded(*storage)) dg::server::LoadFixture(*storage, *fixture);
    if (!pauses.empty()) {
      storage = dg::server::PausingStorage(storage, std::move(pauses));
      options.on_call = dg::server::FaultPauseMethod;
    }
    if (args.signin) {
      options.signin = std::make_shared<dg::server::SignInService>(storage, args.signin_settings);
      if (!dg::server::HasActiveOperator(*storage)) {
        std::cerr << "exp-appserver: no operator may sign in yet (exp-appserver user add CODE "
                     "--db ... --branches ...)\n";
      }
    }
    std::optional<dg::server::JournalPruner> pruner;
    if (args.retention_days > 0) {
      pruner.emplace(storage, args.retention_days,
                     [](const std::string& line) { std::cout << line << std::endl; });
    }
    std::optional<dg::server::IdleGridReleaser> releaser;
    if (args.idle_minutes > 0) {
      releaser.emplace(storage, std::chrono::minutes(args.idle_minutes),
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

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    for (const Subcommand& c : kSubcommands) {
      if (argv[1] == std::string_view(c.name)) {
        return c.run(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
      }
    }
  }
  ServerArgs args;
  if (const auto status = ReadServerArgs(argc, argv, &args)) return *status;
  return Serve(args);
}
