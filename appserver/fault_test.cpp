// A server process killed in the middle of a write, then restarted on the
// same database: the database holds the whole change or none of it, the
// client gets a TransportError (never a hang), and the same call succeeds
// after the restart.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "appserver/testing/tls_test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// The grid tables as text, without the clock columns.
std::string Snapshot(const std::string& db) {
  std::string out;
  auto storage = OpenSqliteStorage(db);
  storage->Transact(TxKind::Read, [&](Session& s) {
    for (const char* sql :
         {"SELECT CDFILIAL, NRGRADEDISTR, IDSITGRADE, CDOPERLANC FROM GRADEDISTR "
          "ORDER BY 1, 2",
          "SELECT NRGRADEDISTR, NRPEDIDO, NRITEMPED, QTDEAEXP FROM ITEMGRADE ORDER BY 1, 2, 3",
          "SELECT NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED, QTTRANSP, CDOPERLANCGRAD, "
          "NRORDENTREGRADE FROM ALOCGRADE ORDER BY 1, 2, 3, 4",
          "SELECT NRPEDIDO, NRITEMPED, QTDEAEXP, QTEXPITEMPED FROM ITEMPEDIDO ORDER BY 1, 2"}) {
      for (const Row& r : s.Query(sql)) {
        for (const Value& v : r) out += Str(v) + "|";
        out += "\n";
      }
      out += "--\n";
    }
  });
  return out;
}

// A database seeded with the small fixture, with one grid reserved
// ("000001") and, when `distribute`, the selected items distributed into it.
struct Prepared {
  TempDatabase db;
  std::shared_ptr<rdmGradeDistribuicao> object;
  explicit Prepared(bool distribute) {
    LoadFixture(*db.storage(), SmallFixture());
    object = std::make_shared<rdmGradeDistribuicao>(db.storage());
    std::vector<Variant> next = {"0001"};
    object->Call("PrxNrGrade", next);
    if (!distribute) return;
    std::vector<Variant> items = {"0001"};
    std::vector<Variant> args = {
        object->Call("GetItensExpedicao", items), "IDCHECK = 'S'", kKey, "000001", "ANA", "0001"};
    object->Call("DistribuiQuantidades", args);
  }
  Variant Result(const std::string& method, std::vector<Variant> args) {
    return object->Call(method, args);
  }
};

struct FaultCase {
  std::string method;
  bool distribute;  // the grid must hold allocations first
  // The arguments of the call under test, built on the prepared database.
  std::function<std::vector<Variant>(Prepared&)> args;
};

std::vector<FaultCase> Cases() {
  return {
      {"DistribuiQuantidades", false,
       [](Prepared& p) -> std::vector<Variant> {
         return {p.Result("GetItensExpedicao", {"0001"}),
                 "IDCHECK = 'S'",
                 kKey,
                 "000001",
                 "BIA",
                 "0001"};
       }},
      {"SetGrade", true,
       [](Prepared& p) -> std::vector<Variant> {
         // P3's item: four units of 5 kg moved to V2 as a manual correction.
         DataPacket vehicles =
             p.Result("GetVeiculo", {kKey, Variant(data::DateTime::FromIso("2025-06-10")), "0001",
                                     "P3", "1", "000001"})
                 .AsPacket();
         const int code = vehicles.FieldIndex("CDVIATURA");
         const int qty = vehicles.FieldIndex("QtTranspItGr");
         for (auto& row : vehicles.rows) {
           row[qty] = Str(row[code]) == "V2" ? Variant(4.0) : Variant(0.0);
         }
         return {Variant(vehicles), 5.0, 0.05, "0001", "000001", "BIA"};
       }},
      {"SetGradeRota", true,
       [](Prepared& p) -> std::vector<Variant> {
         std::vector<Variant> row;
         p.db.storage()->Transact(TxKind::Read, [&](Session& s) {
           auto r = s.Query(
               "SELECT CDVIATURA, NRPEDIDO, NRITEMPED, CDPRODUTO FROM ALOCGRADE "
               "ORDER BY CDVIATURA, NRPEDIDO, NRITEMPED LIMIT 1")[0];
           row = {"1", r[1], r[0], "0001", "000001", r[2], r[3], "I"};
         });
         return row;
       }},
      // The host's hand-off of a dispatch: the grid marked and what it
      // carries recorded on the items, all of it or none; repeated after
      // the restart, it is answered as done.
      {"ExpedirGrade", true,
       [](Prepared&) -> std::vector<Variant> {
         return {"0001", "000001", "BIA", "0001", "1"};
       }},
  };
}

class FaultTest : public ::testing::TestWithParam<bool> {};

// after-write: killed with the writes done but not committed, nothing is
// kept. after-commit: killed before the answer, everything is kept. Either
// way the caller sees a TransportError and may repeat the call.
TEST_P(FaultTest, KilledDuringAWriteKeepsAllOrNothingAndTheCallSucceedsAfterRestart) {
  const bool after_commit = GetParam();
  for (const FaultCase& c : Cases()) {
    SCOPED_TRACE(c.method);
    Prepared prepared(c.distribute);
    const std::vector<Variant> args = c.args(prepared);
    const std::string before = Snapshot(prepared.db.path());

    auto server = std::make_unique<ServerProcess>(
        prepared.db.path(), 0,
        std::map<std::string, std::optional<std::string>>{
            {"EXP_FAULT_PAUSE",
             c.method + (after_commit ? ":after-commit" : ":after-write") + ":600000"}});
    const int port = server->port();
    HttpTransport client("127.0.0.1", port);
    std::string failure;
    std::thread caller([&] {
      try {
        client.Call(kServerName, c.method, args);
        failure = "succeeded";
      } catch (const data::TransportError& e) {
        failure = "transport";
      } catch (const std::exception& e) {
        failure = e.what();
      }
    });
    const bool paused = server->child().WaitForLine("pausing ").has_value();
    server->child().Kill();
    caller.join();
    ASSERT_TRUE(paused) << server->child().Output();
    EXPECT_EQ("transport", failure);

    const std::string crashed = Snapshot(prepared.db.path());
    server = std::make_unique<ServerProcess>(prepared.db.path(), port);
    ASSERT_NO_THROW(client.Call(kServerName, c.method, args));
    const std::string done = Snapshot(prepared.db.path());
    EXPECT_NE(before, done) << "the call changes nothing";
    EXPECT_EQ(after_commit ? done : before, crashed);
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, FaultTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "AfterCommit" : "AfterWrite";
});

TEST(Fault, AServerThatStopsAnsweringIsATransportErrorAfterTheReadTimeout) {
  Prepared prepared(false);
  ServerProcess server(prepared.db.path(), 0);
  HttpClientOptions options;
  options.read_timeout = std::chrono::milliseconds(300);
  HttpTransport client("127.0.0.1", server.port(), options);
  EXPECT_NO_THROW(client.Call(kServerName, "GetParametros", {"0001"}));
  server.child().Freeze();
  EXPECT_THROW(client.Call(kServerName, "GetParametros", {"0001"}), data::TransportError);
  server.child().Signal(SIGCONT);
  EXPECT_NO_THROW(client.Call(kServerName, "GetParametros", {"0001"}));
}

// A refused launch says why, and leaves no database behind: every argument
// is checked before the database is created.
// A port another program listens on, held while the object lives.
class BusyPort {
 public:
  BusyPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("cannot hold a port");
    }
    port_ = ntohs(address.sin_port);
  }
  ~BusyPort() { ::close(fd_); }
  BusyPort(const BusyPort&) = delete;
  BusyPort& operator=(const BusyPort&) = delete;
  std::string Listen() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(Fault, BadLaunchesOfTheServerEndWithAClearMessage) {
  TempDatabase db;
  const BusyPort busy;
  const std::string fresh = db.path() + ".never";
  const std::string secret = db.path() + ".secret";
  auto write_secret = [&](const std::string& text) {
    std::ofstream(secret) << text;
    ::chmod(secret.c_str(), 0600);
  };
  // A certificate that is none, a key that is not the certificate's, and
  // fixtures whose rows cannot be loaded: each found before the database
  // is made.
  const TestCertificates certificates;
  const std::string other_key = db.path() + ".other.key";
  std::filesystem::copy_file(certificates.dir() + "/ca.key", other_key);
  ::chmod(other_key.c_str(), 0600);
  const std::string unknown_table = db.path() + ".unknown.json",
                    negative = db.path() + ".negative.json";
  std::ofstream(unknown_table) << R"({"FILIAL": [], "MESA": [{"X": 1}]})";
  std::ofstream(negative) << R"({"VEICULO": [{"CDVIATURA": "V1", "QTCAPACIVIAT": -5}]})";
  using Env = std::map<std::string, std::optional<std::string>>;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
    std::optional<std::string> secret_text = std::nullopt;  // written to the secret file
    Env env = {};
  } cases[] = {
      {{}, 2, "--db is required"},
      {{"--db", fresh, "--listen", "127.0.0.1"}, 2, "--listen needs HOST:PORT"},
      {{"--db", fresh, "--listen", "127.0.0.1:x"}, 2, "bad port in 127.0.0.1:x"},
      {{"--db", fresh, "--listen", "127.0.0.1:99999"},
       2,
       "bad port in 127.0.0.1:99999: a port is 1 to 65535 (0: any free port)"},
      {{"--db", fresh, "--listen", "127.0.0.1:65536"}, 2, "bad port in 127.0.0.1:65536"},
      {{"--db", fresh, "--listen", "127.0.0.1:-1"}, 2, "bad port in 127.0.0.1:-1"},
      {{"--db", fresh, "--listen", "127.0.0.1:80x"}, 2, "bad port in 127.0.0.1:80x"},
      {{"--db", fresh, "--listen", "127.0.0.1:4294967297"}, 2, "bad port"},
      {{"--db", fresh, "--listen", ":8211"}, 2, "--listen needs HOST:PORT"},
      {{"--db", fresh, "--listen", busy.Listen()}, 1, "cannot listen on " + busy.Listen()},
      {{"--db", fresh, "--max-connections-per-address", "0"},
       2,
       "--max-connections-per-address needs a number from 1 up"},
      {{"--db", fresh, "--max-connections", "0"}, 2, "--max-connections needs a number from 1 up"},
      {{"--db", fresh, "--max-connections", "1000000"},
       2,
       "--max-connections needs a number from 1 up"},
      {{"--db", fresh, "--release-idle-grids", "-5"},
       2,
       "--release-idle-grids needs a number of minutes (0: never)"},
      {{"--db", fresh, "--bogus"}, 2, "unknown argument --bogus"},
      {{"--db", fresh, "stray"}, 2, "unknown argument stray"},
      {{"--db"}, 2, "exp-appserver: --db needs a value\nusage: exp-appserver --db "},
      {{"--db", fresh, "--listen"}, 2, "--listen needs a value"},
      {{"--db", fresh, "--listen", "0.0.0.0:0"},
       1,
       "listening on 0.0.0.0 outside loopback needs TLS (--tls-cert, --tls-key) and sign-in "
       "(--signin)"},
      {{"--db", fresh, "--listen", "0.0.0.0:0", "--signin", "--secret-file", secret},
       1,
       "outside loopback needs TLS",
       "s3cret\n"},
      {{"--db", fresh, "--tls-cert", "/nonexistent.pem"},
       2,
       "TLS needs both --tls-cert and --tls-key"},
      {{"--db", fresh, "--tls-cert", "/nonexistent.pem", "--tls-key", "/nonexistent.key"},
       1,
       "cannot read the certificate file /nonexistent.pem"},
      {{"--db", fresh, "--session-idle-minutes", "0"},
       2,
       "--session-idle-minutes needs a number of minutes from 1 up"},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--fixture", "/nonexistent.json"},
       1,
       "/nonexistent.json"},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--secret-file", secret},
       1,
       "the secret file " + secret + " holds no secret (it is empty or blank)",
       " \t  \n"},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--secret-file", secret},
       1,
       "holds no secret",
       ""},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--secret-file", secret},
       1,
       "the secret begins or ends with a blank, which no client can send",
       "s3cret \n"},
      {{"--db", fresh, "--listen", "127.0.0.1:0"},
       1,
       "EXP_SERVER_SECRET holds no secret",
       std::nullopt,
       {{"EXP_SERVER_SECRET", "   "}}},
      {{"--db", fresh, "--listen", "127.0.0.1:0"},
       1,
       "EXP_FAULT_PAUSE: unknown phase",
       std::nullopt,
       {{"EXP_FAULT_PAUSE", "SetGrade:later:10"}}},
      {{"--db", "/nonexistent-dir/x.db", "--listen", "127.0.0.1:0"}, 1, "exp-appserver: "},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--tls-cert", "/dev/null", "--tls-key",
        certificates.key()},
       1,
       "cannot use the certificate /dev/null"},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--tls-cert", certificates.cert(), "--tls-key",
        other_key},
       1,
       "cannot use the private key " + other_key},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--fixture", unknown_table},
       1,
       "fixture: unknown table MESA"},
      {{"--db", fresh, "--listen", "127.0.0.1:0", "--fixture", negative},
       1,
       "fixture VEICULO row 1 field QTCAPACIVIAT: a capacity, quantity, weight or volume cannot "
       "be negative"},
  };
  for (const Case& c : cases) {
    if (c.secret_text) write_secret(*c.secret_text);
    std::vector<std::string> argv = {AppServerBinary()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Env env = {{"EXP_SERVER_SECRET", std::nullopt}, {"EXP_FAULT_PAUSE", std::nullopt}};
    for (const auto& [name, value] : c.env) env[name] = value;
    ChildProcess child(argv, env);
    EXPECT_EQ(c.status, child.WaitForExit()) << child.Output();
    EXPECT_NE(std::string::npos, child.Output().find(c.message)) << child.Output();
    EXPECT_FALSE(std::filesystem::exists(fresh)) << c.message;
  }
  for (const std::string& file : {secret, other_key, unknown_table, negative}) {
    std::filesystem::remove(file);
  }
}

// --help is written from the options the server reads: every option the
// server's manual names, and every command, with status 0 and nothing made.
TEST(Fault, HelpNamesEveryOptionAndCommand) {
  TempDatabase db;
  const std::string fresh = db.path() + ".fresh";
  ChildProcess child({AppServerBinary(), "--db", fresh, "--help"});
  EXPECT_EQ(0, child.WaitForExit());
  const std::string help = child.Output();
  const char* const options[] = {"--db",
                                 "--listen",
                                 "--fixture",
                                 "--allow-fixture",
                                 "--secret-file",
                                 "--max-connections-per-address",
                                 "--max-connections",
                                 "--release-idle-grids",
                                 "--journal-retention-days",
                                 "--signin",
                                 "--session-idle-minutes",
                                 "--signin-lock-after",
                                 "--signin-address-lock-after",
                                 "--signin-lock-minutes",
                                 "--tls-cert",
                                 "--tls-key",
                                 "127.0.0.1:8211",
                                 "240",
                                 "import",
                                 "export",
                                 "grids",
                                 "release-grid",
                                 "user",
                                 "journal"};
  for (const char* option : options) {
    EXPECT_NE(std::string::npos, help.find(option)) << option << " in\n" << help;
  }
  EXPECT_FALSE(std::filesystem::exists(fresh));
}

// A server for many clerks raises its own limit of open files to hold them,
// and refuses to start when the system's ceiling cannot, naming it.
TEST(Fault, ConnectionsInAllFitTheLimitOfOpenFiles) {
  TempDatabase db;
  using Env = std::map<std::string, std::optional<std::string>>;
  const Env env = {{"EXP_SERVER_SECRET", std::nullopt}, {"EXP_FAULT_PAUSE", std::nullopt}};
  // The shell lowers the limits the server starts with.
  auto under = [&](const std::string& limits, const std::string& connections) {
    return std::vector<std::string>{"/bin/sh", "-c",
                                    limits +
                                        " && exec \"$0\" --db \"$1\" --listen 127.0.0.1:0 "
                                        "--max-connections " +
                                        connections,
                                    AppServerBinary(), db.path()};
  };
  {
    ChildProcess server(under("ulimit -Sn 256", "1000"), env);
    ASSERT_TRUE(server.WaitForLine("listening on ")) << server.Output();
    std::ifstream limits("/proc/" + std::to_string(server.pid()) + "/limits");
    std::string line, soft;
    while (std::getline(limits, line)) {
      if (line.rfind("Max open files", 0) == 0) soft = line.substr(14);
    }
    ASSERT_FALSE(soft.empty());
    EXPECT_GE(std::stol(soft), 1064);
  }
  {
    // The default cap starts as it did under a ceiling too low for it.
    ChildProcess server(
        {"/bin/sh", "-c", "ulimit -n 512 && exec \"$0\" --db \"$1\" --listen 127.0.0.1:0",
         AppServerBinary(), db.path()},
        env);
    EXPECT_TRUE(server.WaitForLine("listening on ")) << server.Output();
  }
  ChildProcess refused(under("ulimit -n 512", "1000"), env);
  EXPECT_EQ(2, refused.WaitForExit()) << refused.Output();
  EXPECT_NE(std::string::npos,
            refused.Output().find(
                "1000 connections need 1064 open files, and this process may open at most 512 "
                "(ulimit -Hn)"))
      << refused.Output();
}

// The database holds the operators' password hashes: the server makes it,
// its write-ahead log and its shared memory for their owner alone, whatever
// the umask, and warns at start about one that others may read.
TEST(Fault, TheDatabaseIsTheOwnersAlone) {
  TempDatabase db;
  const std::string fresh = db.path() + ".private";
  const mode_t umask_before = ::umask(022);
  auto start = [&] {
    auto server = std::make_unique<ChildProcess>(
        std::vector<std::string>{AppServerBinary(), "--db", fresh, "--listen", "127.0.0.1:0"},
        std::map<std::string, std::optional<std::string>>{{"EXP_SERVER_SECRET", std::nullopt},
                                                          {"EXP_FAULT_PAUSE", std::nullopt}});
    EXPECT_TRUE(server->WaitForLine("listening on ")) << server->Output();
    return server;
  };
  auto mode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st.st_mode & 0777;
  };
  {
    auto server = start();
    for (const char* suffix : {"", "-wal", "-shm"})
      EXPECT_EQ(0600u, mode(fresh + suffix)) << suffix;
    EXPECT_EQ(std::string::npos, server->Output().find("warning")) << server->Output();
  }
  ::chmod(fresh.c_str(), 0644);
  {
    auto server = start();
    EXPECT_NE(std::string::npos,
              server->Output().find("exp-appserver: warning: the database " + fresh +
                                    " may be read by others than its owner"))
        << server->Output();
  }
  ::umask(umask_before);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(fresh + suffix);
}

// The IPv6 loopback is written in brackets, as in a URL, and said back so.
TEST(Fault, ListensOnTheIpv6LoopbackInBrackets) {
  const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool has_v6 =
      probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (probe >= 0) ::close(probe);
  if (!has_v6) GTEST_SKIP() << "this machine has no IPv6 loopback";
  TempDatabase db;
  ChildProcess server({AppServerBinary(), "--db", db.path(), "--listen", "[::1]:0"},
                      {{"EXP_SERVER_SECRET", std::nullopt}, {"EXP_FAULT_PAUSE", std::nullopt}});
  const auto line = server.WaitForLine("listening on ");
  ASSERT_TRUE(line) << server.Output();
  EXPECT_EQ(line->rfind("listening on [::1]:", 0), 0u) << *line;
}

}  // namespace
}  // namespace dg::server
