// Sign-in, sessions and TLS over the wire: the server object behind
// HttpServer, and the server program.
#include <httplib.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "appserver/journal.h"
#include "appserver/operators.h"
#include "appserver/sessions.h"
#include "appserver/testing/operator_test_support.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "appserver/testing/tls_test_support.h"

namespace dg::server {
namespace {

using data::Variant;
using namespace testing;

int GridCount(Storage& storage) {
  int n = 0;
  storage.Transact(TxKind::Read, [&](Session& s) {
    n = static_cast<int>(s.Query("SELECT * FROM GRADEDISTR").size());
  });
  return n;
}

// A server that requires sign-in, over TLS, with ANA (branch 0001) and ZE
// (every branch).
class SignedInServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SeedSignInDatabase(*db_.storage());
    SignInSettings settings;
    settings.failure_delay = std::chrono::milliseconds(0);
    HttpServerOptions options;
    options.signin = std::make_shared<SignInService>(db_.storage(), settings);
    options.tls_cert = certificates_.cert();
    options.tls_key = certificates_.key();
    options.allow_fixture = true;
    options.max_body_bytes = 4 << 20;
    server_ = std::make_unique<HttpServer>(std::make_shared<rdmGradeDistribuicao>(db_.storage()),
                                           options);
    port_ = server_->Start();
  }

  std::unique_ptr<HttpTransport> Client(const std::string& operator_code = "") {
    HttpClientOptions options;
    options.tls = true;
    options.ca_file = certificates_.ca();
    options.operator_code = operator_code;
    return std::make_unique<HttpTransport>("127.0.0.1", port_, options);
  }

  static std::string Failure(HttpTransport& client, const std::string& method,
                             const std::vector<Variant>& args) {
    try {
      client.Call(kServerName, method, args);
      return "answered";
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }

  TempDatabase db_;
  TestCertificates certificates_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
};

TEST_F(SignedInServerTest, CallsWithoutAValidSessionAreRefusedAndChangeNothing) {
  auto anonymous = Client("ANA");
  EXPECT_TRUE(anonymous->ServerRequiresSignIn());
  EXPECT_EQ(kNoSession, Failure(*anonymous, "PrxNrGrade", {"0001"}));
  EXPECT_THROW(anonymous->PostFixture(SmallFixture()), data::ServerCallError);

  httplib::SSLClient raw("127.0.0.1", port_);
  raw.set_ca_cert_path(certificates_.ca());
  for (const char* token :
       {"0000000000000000000000000000000000000000000000000000000000000000", "forged", "'; --"}) {
    auto res = raw.Post("/call", {{kSessionHeader, token}},
                        R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "PrxNrGrade",
                            "args": [{"String": "0001"}]})",
                        "application/json");
    ASSERT_TRUE(res) << token;
    EXPECT_EQ(401, res->status);
    EXPECT_NE(std::string::npos, res->body.find("expirada")) << res->body;
  }

  auto ana = Client();
  try {
    ana->SignIn("ANA", "senha errada");
    ADD_FAILURE() << "signed in with a wrong password";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(kSignInRefused, std::string(e.what()));
  }
  try {
    ana->SignIn("ANA", std::string(kMaxPasswordBytes + 1, 'x'));
    ADD_FAILURE() << "signed in with a password longer than any operator may have";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(kSignInTooLong, std::string(e.what()));
  }
  EXPECT_EQ(kNoSession, Failure(*ana, "PrxNrGrade", {"0001"}));
  EXPECT_EQ(0, GridCount(*db_.storage()));
}

TEST_F(SignedInServerTest, ASignedInOperatorWorksOnItsBranchesUnderItsOwnName) {
  auto ana = Client("MALLORY");
  EXPECT_EQ(std::vector<std::string>{"0001"}, ana->SignIn("ANA", kPassword));
  EXPECT_EQ("answered", Failure(*ana, "PrxNrGrade", {"0001"}));
  EXPECT_EQ("Operador sem acesso à filial 0002.", Failure(*ana, "PrxNrGrade", {"0002"}));
  EXPECT_EQ(1, GridCount(*db_.storage()));
  // Reseeding reaches every branch: only an operator of every branch may.
  EXPECT_THROW(ana->PostFixture(SmallFixture()), data::ServerCallError);
  // So do the grids a dead desktop left open: the session's branches only.
  EXPECT_TRUE(ana->HeldGrids("0001").empty());
  try {
    ana->ReleaseHeldGrids("0002", {{"000001", "machine|host|boot|12|34"}});
    ADD_FAILURE() << "released a grid of a branch the operator may not work on";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ("Operador sem acesso à filial 0002.", std::string(e.what()));
  }
  EXPECT_THROW(Client("ANA")->HeldGrids("0001"), data::ServerCallError) << "no session";

  JournalFilter writes;
  writes.branch = "0001";
  const std::vector<JournalRow> rows = ReadJournal(*db_.storage(), writes);
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("ANA", rows[0].operator_code) << "the header's operator is not the session's";

  ana->SignOut();
  EXPECT_EQ(kNoSession, Failure(*ana, "GetParametros", {"0001"}));

  auto ze = Client();
  ze->SignIn("ZE", kPassword);
  EXPECT_NO_THROW(ze->PostFixture(SmallFixture()));
  EXPECT_EQ("answered", Failure(*ze, "PrxNrGrade", {"0002"}));
}

TEST_F(SignedInServerTest, GuessesSentAtOnceMeetTheLockAsGuessesSentOneByOne) {
  // 30 wrong passwords of ANA on 30 connections at once (lock after 5).
  std::vector<std::string> answers(30);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    threads.emplace_back([&, i] {
      // Connected (TLS handshake done) before the barrier, so that the
      // sign-ins leave together.
      auto client = Client();
      client->ServerRequiresSignIn();
      ++ready;
      while (ready < 30) std::this_thread::yield();
      try {
        client->SignIn("ANA", "senha errada");
        answers[i] = "signed in";
      } catch (const data::ServerCallError& e) {
        answers[i] = e.what();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(5, std::count(answers.begin(), answers.end(), std::string(kSignInRefused)));
  EXPECT_EQ(25, std::count(answers.begin(), answers.end(), std::string(kSignInLocked)));
  try {
    Client()->SignIn("ANA", kPassword);
    ADD_FAILURE() << "signed in during the lock";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(kSignInLocked, std::string(e.what()));
  }
}

TEST_F(SignedInServerTest, ADisabledOperatorsOpenSessionEndsAtItsNextCall) {
  auto ana = Client();
  ana->SignIn("ANA", kPassword);
  EXPECT_EQ("answered", Failure(*ana, "GetParametros", {"0001"}));
  DisableOperator(*db_.storage(), "ANA");
  EXPECT_EQ(kSessionEnded, Failure(*ana, "GetParametros", {"0001"}));
  EXPECT_THROW(ana->SignIn("ANA", kPassword), data::ServerCallError);
}

TEST_F(SignedInServerTest, ThePasswordHashIsNeverAnswered) {
  httplib::SSLClient raw("127.0.0.1", port_);
  raw.set_ca_cert_path(certificates_.ca());
  std::string answers;
  for (const char* password : {kPassword, "senha errada"}) {
    auto res =
        raw.Post("/signin", nlohmann::json{{"operator", "ANA"}, {"password", password}}.dump(),
                 "application/json");
    ASSERT_TRUE(res);
    answers += res->body;
  }
  auto health = raw.Get("/health");
  ASSERT_TRUE(health);
  answers += health->body;
  EXPECT_NE(std::string::npos, answers.find("\"token\"")) << answers;
  EXPECT_EQ(std::string::npos, answers.find("argon2")) << answers;
  EXPECT_EQ(std::string::npos, answers.find(kPassword)) << answers;
}

// ---- TLS ---------------------------------------------------------------------

// A refusal before the body is read reaches a client still sending a body
// twice the size limit through TLS as it does over plain HTTP, and the server goes on.
TEST_F(SignedInServerTest, RefusalsOfLargeBodiesReachTheClientThroughTls) {
  httplib::SSLClient raw("127.0.0.1", port_);
  raw.set_ca_cert_path(certificates_.ca());
  const std::string large = "\"" + std::string(8 << 20, 'a') + "\"";
  auto no_session = raw.Post("/call", large, "application/json");
  ASSERT_TRUE(no_session) << httplib::to_string(no_session.error());
  EXPECT_EQ(401, no_session->status);

  auto signin =
      raw.Post("/signin", nlohmann::json{{"operator", "ANA"}, {"password", kPassword}}.dump(),
               "application/json");
  ASSERT_TRUE(signin);
  const std::string token = nlohmann::json::parse(signin->body).at("token");
  auto too_big = raw.Post("/call", {{kSessionHeader, token}}, large, "application/json");
  ASSERT_TRUE(too_big) << httplib::to_string(too_big.error());
  EXPECT_EQ(413, too_big->status);
  EXPECT_NE(std::string::npos, too_big->body.find("larger than")) << too_big->body;
  auto untyped = raw.Post("/call", {{kSessionHeader, token}}, large, "text/plain");
  ASSERT_TRUE(untyped) << httplib::to_string(untyped.error());
  EXPECT_EQ(415, untyped->status);

  auto ana = Client();
  ana->SignIn("ANA", kPassword);
  EXPECT_EQ("answered", Failure(*ana, "GetParametros", {"0001"}));
}

TEST_F(SignedInServerTest, APlainHttpClientGetsNothingAndTheServerKeepsServing) {
  HttpClientOptions plain;
  plain.connect_timeout = std::chrono::milliseconds(2000);
  plain.read_timeout = std::chrono::milliseconds(2000);
  HttpTransport client("127.0.0.1", port_, plain);
  EXPECT_THROW(client.SignIn("ANA", kPassword), data::TransportError);
  EXPECT_THROW(client.Call(kServerName, "GetParametros", {"0001"}), data::TransportError);
  auto ana = Client();
  EXPECT_NO_THROW(ana->SignIn("ANA", kPassword));
}

TEST_F(SignedInServerTest, TheClientRefusesACertificateItCannotVerify) {
  struct Case {
    std::string host, ca;
  } cases[] = {
      {"127.0.0.1", ""},                        // the system's authorities
      {"127.0.0.1", certificates_.other_ca()},  // another authority
      {"localhost", certificates_.ca()},        // a name the certificate does not hold
  };
  for (const Case& c : cases) {
    HttpClientOptions options;
    options.tls = true;
    options.ca_file = c.ca;
    HttpTransport client(c.host, port_, options);
    try {
      client.SignIn("ANA", kPassword);
      ADD_FAILURE() << c.host << " " << c.ca;
    } catch (const data::TransportError& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find("certificado")) << e.what();
    }
  }
  HttpClientOptions missing;
  missing.tls = true;
  missing.ca_file = certificates_.dir() + "/none.pem";
  EXPECT_THROW(HttpTransport("127.0.0.1", port_, missing), Error);
}

// A client that opens a connection and never says hello holds nothing: it
// is dropped at the request deadline, and others are served meanwhile.
TEST(Tls, AStalledHandshakeIsDroppedAtTheRequestDeadline) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  TestCertificates certificates;
  HttpServerOptions options;
  options.tls_cert = certificates.cert();
  options.tls_key = certificates.key();
  options.limits.request = std::chrono::milliseconds(300);
  HttpServer server(std::make_shared<rdmGradeDistribuicao>(db.storage()), options);
  const int port = server.Start();

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ::send(fd, "\x16\x03", 2, 0);  // the first bytes of a hello, then nothing

  HttpClientOptions client_options;
  client_options.tls = true;
  client_options.ca_file = certificates.ca();
  HttpTransport client("127.0.0.1", port, client_options);
  EXPECT_EQ(1u, client.Call(kServerName, "GetParametros", {"0001"}).result.AsPacket().rows.size());

  timeval wait{5, 0};  // a guard against a server that never closes
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  char byte;
  EXPECT_LE(::recv(fd, &byte, 1, 0), 0) << "the stalled connection is closed";
  ::close(fd);
}

// The server closes a kept connection after its idle limit; a clerk who
// paused longer than that gets the next answer on a new connection, over
// TLS as over plain HTTP, still signed in.
TEST(Tls, AConnectionTheServerEndedWhileIdleIsNotReused) {
  TempDatabase db;
  SeedSignInDatabase(*db.storage());
  TestCertificates certificates;
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain HTTP");
    HttpServerOptions options;
    options.signin = std::make_shared<SignInService>(db.storage());
    if (tls) {
      options.tls_cert = certificates.cert();
      options.tls_key = certificates.key();
    }
    options.limits.idle = std::chrono::milliseconds(200);
    HttpServer server(std::make_shared<rdmGradeDistribuicao>(db.storage()), options);
    HttpClientOptions client_options;
    client_options.tls = tls;
    client_options.ca_file = tls ? certificates.ca() : "";
    HttpTransport client("127.0.0.1", server.Start(), client_options);
    client.SignIn("ANA", kPassword);
    for (int pause = 0; pause < 3; ++pause) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      EXPECT_NO_THROW(client.Call(kServerName, "GetParametros", {"0001"})) << "pause " << pause;
    }
  }
}

// A server that ends the connection while the client is still sending (it
// went away mid-call): the call fails, and the process that made it goes
// on, though a TLS write to the reset connection raises SIGPIPE.
TEST(Tls, AConnectionResetUnderTheClientsWritesFailsTheCallOnly) {
  TestCertificates certificates;
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(1, SSL_CTX_use_certificate_chain_file(ctx, certificates.cert().c_str()));
  ASSERT_EQ(1, SSL_CTX_use_PrivateKey_file(ctx, certificates.key().c_str(), SSL_FILETYPE_PEM));
  // Not a structured binding: the server thread below captures the socket,
  // which clang refuses for a binding.
  const testing::LoopbackListener listening = testing::ListenOnLoopback(4);
  const int listener = listening.fd;
  constexpr int kCalls = 3;
  // Reads the start of each request, then closes the connection.
  std::thread server([&] {
    for (int call = 0; call < kCalls; ++call) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      char some[4096];
      if (SSL_accept(ssl) == 1 && SSL_read(ssl, some, sizeof some) > 0) SSL_shutdown(ssl);
      ::close(fd);
      SSL_free(ssl);
    }
  });
  HttpClientOptions options;
  options.tls = true;
  options.ca_file = certificates.ca();
  HttpTransport client("127.0.0.1", listening.port, options);
  const std::string large(32 << 20, 'a');
  for (int call = 0; call < kCalls; ++call) {
    EXPECT_THROW(client.Call(kServerName, "GetParametros", {large}), data::TransportError)
        << "call " << call;
  }
  server.join();
  ::close(listener);
  SSL_CTX_free(ctx);
}

TEST(Tls, AKeyThatIsNotTheCertificatesIsRefusedAtStart) {
  TempDatabase db;
  TestCertificates certificates;
  HttpServerOptions options;
  options.tls_cert = certificates.cert();
  options.tls_key = certificates.dir() + "/ca.key";
  HttpServer server(std::make_shared<rdmGradeDistribuicao>(db.storage()), options);
  try {
    server.Start();
    ADD_FAILURE() << "started";
  } catch (const Error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("private key")) << e.what();
  }
}

// ---- the server program ------------------------------------------------------

// Runs `exp-appserver ARGS`, the password on a pipe the child reads as fd 3
// when given.
std::pair<int, std::string> RunServerCommand(std::vector<std::string> args,
                                             const std::optional<std::string>& password = {}) {
  int fds[2] = {-1, -1};
  if (password) {
    EXPECT_EQ(0, ::pipe(fds));
    const std::string line = *password + "\n";
    EXPECT_EQ(static_cast<ssize_t>(line.size()), ::write(fds[1], line.data(), line.size()));
    ::close(fds[1]);
    if (fds[0] != 3) {
      ::dup2(fds[0], 3);
      ::close(fds[0]);
    }
    args.push_back("--password-fd");
    args.push_back("3");
  }
  args.insert(args.begin(), AppServerBinary());
  ChildProcess child(args);
  const int status = child.WaitForExit();
  if (password) ::close(3);
  return {status, child.Output()};
}

TEST(ServerProgram, OperatorsSignInOverTlsAndNoHashReachesAnyOutput) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  TestCertificates certificates;
  std::string output;
  auto run = [&](const std::vector<std::string>& args, int status,
                 const std::optional<std::string>& password = {}) {
    auto [rc, out] = RunServerCommand(args, password);
    EXPECT_EQ(status, rc) << out;
    output += out;
    return out;
  };
  run({"user", "add", "ANA", "--db", db.path(), "--branches", "1"}, 0, kPassword);
  run({"user", "add", "ANA", "--db", db.path(), "--branches", "1"}, 1, kPassword);
  run({"user", "add", "BIA", "--db", db.path(), "--branches", "1"}, 1, "curta");
  run({"user", "add", "BIA", "--db", db.path(), "--branches", "00001"}, 2);
  run({"user", "add", "BIA", "--db", db.path() + ".none", "--branches", "1"}, 2);
  run({"user", "add", "ZE", "--db", db.path(), "--branches", "*"}, 0, kPassword);
  run({"user", "passwd", "ZE", "--db", db.path()}, 0, "outra senha boa");
  run({"user", "disable", "ZE", "--db", db.path()}, 0);
  run({"user", "disable", "NINGUEM", "--db", db.path()}, 1);
  const std::string list = run({"user", "list", "--db", db.path()}, 0);
  EXPECT_NE(std::string::npos, list.find("ANA")) << list;
  EXPECT_NE(std::string::npos, list.find("0001")) << list;
  EXPECT_NE(std::string::npos, list.find("disabled")) << list;

  {
    ServerProcess server(
        db.path(), 0, {},
        {"--signin", "--tls-cert", certificates.cert(), "--tls-key", certificates.key()});
    HttpClientOptions options;
    options.tls = true;
    options.ca_file = certificates.ca();
    HttpTransport client("127.0.0.1", server.port(), options);
    EXPECT_THROW(client.SignIn("ZE", "outra senha boa"), data::ServerCallError);
    EXPECT_THROW(client.SignIn("ANA", "senha errada"), data::ServerCallError);
    client.SignIn("ANA", kPassword);
    EXPECT_EQ("000001", Str(client.Call(kServerName, "PrxNrGrade", {"0001"}).result));
    server.child().Signal(SIGTERM);
    server.child().WaitForExit();
    output += server.child().Output();
  }
  const std::string journal = run({"journal", "--db", db.path(), "--operator", "ANA"}, 0);
  EXPECT_NE(std::string::npos, journal.find("PrxNrGrade")) << journal;
  EXPECT_NE(std::string::npos, journal.find("entrada recusada")) << journal;
  output += journal;
  EXPECT_EQ(std::string::npos, output.find("argon2")) << output;
  EXPECT_EQ(std::string::npos, output.find(kPassword)) << output;

  // The key must be its owner's alone.
  ::chmod(certificates.key().c_str(), 0644);
  run({"--db", db.path(), "--listen", "127.0.0.1:0", "--signin", "--tls-cert", certificates.cert(),
       "--tls-key", certificates.key()},
      1);
  EXPECT_NE(std::string::npos, output.find("may be read by others than its owner"));
}

}  // namespace
}  // namespace dg::server
