// Who may call the server, and hostile texts in every argument.
#include <httplib.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "appserver/argument_rules.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "contracts/lookup_sql.h"
#include "contracts/sqlite_connection.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

TEST(Secret, ComparisonAndLoopbackAddresses) {
  struct {
    const char* expected;
    const char* presented;
    bool match;
  } secrets[] = {
      {"s3cr3t", "s3cr3t", true},   {"s3cr3t", "s3cr3x", false}, {"s3cr3t", "s3cr3", false},
      {"s3cr3t", "s3cr3t!", false}, {"s3cr3t", "", false},       {"", "", false},
      {"s3cr3t", "S3CR3T", false},
  };
  for (const auto& c : secrets) {
    EXPECT_EQ(c.match, SecretMatches(c.expected, c.presented)) << c.expected << "/" << c.presented;
  }
  struct {
    const char* host;
    bool loopback;
  } hosts[] = {
      {"127.0.0.1", true},  {"127.1.2.3", true}, {"localhost", true},
      {"::1", true},        {"0.0.0.0", false},  {"10.0.0.1", false},
      {"128.0.0.1", false}, {"", false},         {"127.0.0.1.example.com", false},
      {"::", false},
  };
  for (const auto& c : hosts) EXPECT_EQ(c.loopback, IsLoopbackHost(c.host)) << c.host;
}

TEST(Secret, ListeningOutsideLoopbackNeedsTlsAndSignIn) {
  TempDatabase db;
  auto object = std::make_shared<rdmGradeDistribuicao>(db.storage());
  for (const char* host : {"0.0.0.0", "10.1.2.3"}) {
    HttpServerOptions options;
    options.host = host;
    // A shared secret alone no longer lets the server out of loopback.
    options.secret = "correct horse";
    HttpServer server(object, options);
    try {
      server.Start();
      ADD_FAILURE() << "listened on " << host;
    } catch (const Error& e) {
      EXPECT_EQ("listening on " + std::string(host) + " outside loopback needs TLS and sign-in",
                e.what());
    }
  }
}

// Grids in the database: a refused call must not have reserved one.
int GridCount(Storage& storage) {
  int n = 0;
  storage.Transact(TxKind::Read, [&](Session& s) {
    n = static_cast<int>(s.Query("SELECT * FROM GRADEDISTR").size());
  });
  return n;
}

TEST(Secret, ACallWithoutTheSecretIsRefusedBeforeTouchingData) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  auto object = std::make_shared<rdmGradeDistribuicao>(db.storage());
  HttpServerOptions options;
  options.secret = "correct horse";
  options.max_body_bytes = 1024;
  HttpServer server(object, options);
  const int port = server.Start();
  for (const char* presented : {"", "correct hors", "correct horse!", "wrong"}) {
    HttpClientOptions client_options;
    client_options.secret = presented;
    HttpTransport client("127.0.0.1", port, client_options);
    try {
      client.Call(kServerName, "PrxNrGrade", {"0001"});
      ADD_FAILURE() << "called with \"" << presented << "\"";
    } catch (const data::ServerCallError& e) {
      EXPECT_EQ(std::string("this server needs its shared secret"), e.what());
    }
    EXPECT_THROW(client.PostFixture(nlohmann::json::object()), data::ServerCallError);
  }
  EXPECT_EQ(0, GridCount(*db.storage()));

  httplib::Client raw("127.0.0.1", port);
  auto health = raw.Get("/health");
  ASSERT_TRUE(health);
  EXPECT_EQ(200, health->status);
  // Refused for the missing secret before the body's size is looked at.
  auto big = raw.Post("/call", std::string(4096, ' '), "application/json");
  ASSERT_TRUE(big);
  EXPECT_EQ(401, big->status);

  HttpClientOptions right;
  right.secret = "correct horse";
  HttpTransport client("127.0.0.1", port, right);
  EXPECT_EQ("000001", Str(client.Call(kServerName, "PrxNrGrade", {"0001"}).result));
  // With the secret, the size limit still holds.
  httplib::Client sized("127.0.0.1", port);
  auto too_big = sized.Post("/call", {{kSecretHeader, "correct horse"}}, std::string(4096, ' '),
                            "application/json");
  ASSERT_TRUE(too_big);
  EXPECT_EQ(413, too_big->status);
}

// The server program takes its secret from a file only its owner may read,
// or from the environment; the client from its options or the environment.
TEST(Secret, ServerProgramReadsItsSecretFromAPrivateFileOrTheEnvironment) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  const std::string file = db.path() + ".secret";
  {
    std::ofstream out(file);
    out << "from-the-file\n";
  }
  ::chmod(file.c_str(), 0644);
  ChildProcess refused(
      {AppServerBinary(), "--db", db.path(), "--listen", "127.0.0.1:0", "--secret-file", file});
  EXPECT_EQ(1, refused.WaitForExit());
  EXPECT_NE(std::string::npos, refused.Output().find("may be read by others than its owner"))
      << refused.Output();

  ::chmod(file.c_str(), 0600);
  struct Case {
    std::vector<std::string> extra;
    std::map<std::string, std::optional<std::string>> env;
    std::string secret;
  } cases[] = {
      {{"--secret-file", file}, {}, "from-the-file"},
      {{}, {{"EXP_SERVER_SECRET", "from-the-environment"}}, "from-the-environment"},
  };
  for (const Case& c : cases) {
    ServerProcess server(db.path(), 0, c.env, c.extra);
    HttpTransport anonymous("127.0.0.1", server.port());
    EXPECT_THROW(anonymous.Call(kServerName, "GetParametros", {"0001"}), data::ServerCallError);
    ::setenv("EXP_SERVER_SECRET", c.secret.c_str(), 1);
    HttpTransport from_env("127.0.0.1", server.port());
    ::unsetenv("EXP_SERVER_SECRET");
    EXPECT_EQ(1u,
              from_env.Call(kServerName, "GetParametros", {"0001"}).result.AsPacket().rows.size());
  }
  std::filesystem::remove(file);
}

// ---- hostile texts -----------------------------------------------------------

const std::vector<std::string>& HostileTexts() {
  static const std::vector<std::string> texts = {
      "'; DROP TABLE VEICULO; --",
      "x' OR '1'='1",
      "0001' --",
      "\"; DELETE FROM CLIENTE; /*",
      "*/ UNION SELECT * FROM TRANSPORT --",
      "a'b\"c;d--e/*f*/g\\h",
      // Short enough for a branch code.
      "';--",
      "'or'",
  };
  return texts;
}

// Rows of every table, and the tables themselves.
std::string TableCounts(Storage& storage) {
  std::string out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const Row& t :
         s.Query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
      const std::string name = Str(t[0]);
      out += name + "=" + std::to_string(s.Query("SELECT * FROM \"" + name + "\"").size()) + " ";
    }
  });
  return out;
}

// A valid argument of the kind a method's failure names ("argument 2 must
// be a date"), to get past the kind check to the method's own work.
Variant ValueOfKind(const std::string& kind, const Variant& items) {
  if (kind == "a date") return Variant(data::DateTime::FromIso("2025-06-10"));
  if (kind == "a number") return Variant(1.0);
  return items;  // a data packet
}

// Every method, every text argument hostile in turn: the calls answer or
// fail with a clear text, the tables keep their rows (only grid tables may
// grow), and a hostile text is stored as it was typed.
TEST(Hostile, TextsWithQuotesSemicolonsAndCommentsReachEveryMethodAsPlainValues) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  rdmGradeDistribuicao object(db.storage());
  std::vector<Variant> items_args = {"0001"};
  const Variant items = object.Call("GetItensExpedicao", items_args);
  const std::regex count_error(R"(expected (\d+) arguments?)");
  const std::regex kind_error(R"(argument (\d+) must be (a date|a number|a data packet))");

  auto fixture_tables = [&] {
    std::string counts = TableCounts(*db.storage());
    // Grid tables and the journal change with every write; the fixture's
    // tables must not.
    return std::regex_replace(
        counts,
        std::regex(
            R"((ALOCGRADE|CARGAVEICULO|GRADEDISTR|GRADELOG|GRADEVEICULO|ITEMGRADE|ITINERARIO|TOTALROTA)=\d+ )"),
        "");
  };
  const std::string before = fixture_tables();

  // Stored as typed: the operator of a distribution. A grid number the
  // server did not hand out is refused, however it is written.
  for (const std::string& hostile : HostileTexts()) {
    std::vector<Variant> named = {items, "IDCHECK = 'S'", kKey, hostile.substr(0, 10), hostile,
                                  "0001"};
    EXPECT_THROW(object.Call("DistribuiQuantidades", named), Error) << hostile;
    std::vector<Variant> args = {items, "IDCHECK = 'S'", kKey, "", hostile, "0001"};
    object.Call("DistribuiQuantidades", args);
    const std::string grid = Str(args[3]);
    std::vector<Row> rows;
    db.storage()->Transact(TxKind::Read, [&](Session& s) {
      rows = s.Query("SELECT DISTINCT CDOPERLANCGRAD FROM ALOCGRADE WHERE NRGRADEDISTR = ?",
                     {Value(grid)});
    });
    ASSERT_EQ(1u, rows.size()) << hostile;
    EXPECT_EQ(hostile, Str(rows[0][0]));
    std::vector<Variant> discard = {"0001", grid};
    object.Call("DelGrade", discard);
  }
  int calls = 0;
  for (const std::string& method : object.MethodNames()) {
    std::vector<Variant> none;
    int count = 0;
    try {
      object.Call(method, none);
    } catch (const Error& e) {
      std::smatch m;
      const std::string text = e.what();
      ASSERT_TRUE(std::regex_search(text, m, count_error)) << method << ": " << text;
      count = std::stoi(m[1]);
    }
    for (const std::string& hostile : HostileTexts()) {
      for (int position = 0; position < count; ++position) {
        std::vector<Variant> args(count, Variant("0001"));
        // Cut to the argument's field, so that it reaches the method's SQL
        // rather than the bounds check.
        const std::string& field = detail::ArgumentFields(method)[position];
        const int size = detail::TextFieldSize(field);
        args[position] = Variant(size > 0 ? hostile.substr(0, size) : hostile);
        // Replace arguments of other kinds until the method runs.
        for (int attempt = 0; attempt <= count; ++attempt) {
          try {
            std::vector<Variant> copy = args;
            object.Call(method, copy);
            break;
          } catch (const Error& e) {
            std::smatch m;
            const std::string text = e.what();
            if (!std::regex_search(text, m, kind_error)) break;  // the method's own refusal
            args[std::stoi(m[1]) - 1] = ValueOfKind(m[2], items);
          }
        }
        ++calls;
      }
    }
  }
  EXPECT_GT(calls, 100);
  EXPECT_EQ(before, fixture_tables());

  // Nothing matches a look-up by a hostile key that fits a branch code.
  for (const std::string& hostile : HostileTexts()) {
    if (hostile.size() > 4) continue;
    std::vector<Variant> args = {hostile};
    EXPECT_EQ(0u, object.Call("GetParametros", args).AsPacket().rows.size()) << hostile;
    args = {hostile};
    EXPECT_EQ(0u, object.Call("GetEndeFilialProc", args).AsPacket().rows.size()) << hostile;
  }
}

// The host's two look-ups run SQL on the same database file with bound
// parameters.
TEST(Hostile, LookUpsBindHostileTextsAsValues) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  const std::string before = TableCounts(*db.storage());
  contracts::SqliteConnection connection(db.path());
  contracts::TADOIBQuery tran("qryPesqTran"), tipo("qryTipoTransp");
  tran.SQL = contracts::lookup::kPesqTranSql;
  tipo.SQL = contracts::lookup::kTipoTranspSql;
  tran.connection = tipo.connection = &connection;
  for (const std::string& hostile : HostileTexts()) {
    SCOPED_TRACE(hostile);
    tran.Close();
    tran.ParamByName("P_IDTPIJURTRAN").SetAsString(hostile);
    tran.ParamByName("P_NRINSJURTRAN").Clear();
    tran.Open();
    EXPECT_TRUE(tran.IsEmpty());
    tran.Close();
    tran.ParamByName("P_IDTPIJURTRAN").Clear();
    tran.ParamByName("P_NRINSJURTRAN").SetAsString(hostile);
    tran.Open();
    EXPECT_TRUE(tran.IsEmpty());
    tipo.Close();
    tipo.ParamByName("P_CDTIPTRANS").SetAsString(hostile);
    tipo.Open();
    EXPECT_TRUE(tipo.IsEmpty());
  }
  EXPECT_EQ(before, TableCounts(*db.storage()));
}

}  // namespace
}  // namespace dg::server
