// Shared by the server's tests: a temporary database seeded with a small
// fixture, and a call helper over either transport.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/grid_loads.h"
#include "appserver/storage.h"
#include "appserver/storage_postgres.h"
#include "appserver/transport.h"
#include "data/packet.h"
#include "data/rpc.h"

namespace dg::server::testing {

// Branch 0001 with an address; transporter J 11222333000181 with vehicles
// V1 (100 kg, 1 m3) and V2 (50 kg, 2 m3); transporter F 12345678909 with V9;
// clients C1 and C3 with addresses, C2 without one; orders P1 (C1: 2 items),
// P2 (C2), P3 (C3) on 2025-06-10, P4 (C1) on 2025-06-11.
inline nlohmann::json SmallFixture() {
  return nlohmann::json::parse(R"({
    "PARAMETROS": [{"CDFILIAL": "0001", "API": "k", "IDEXITRANSPDIST": "S"}],
    "FILIAL": [{"CDFILIAL": "0001", "ENDERECO": "Rua A, 1", "NRCEPFILI": "13015-081",
                "LATITUDE": -22.9, "LONGITUDE": -47.06}],
    "TRANSPORT": [
      {"IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181", "NMFANTTRAN": "Rodo",
       "CDTIPTRANS": "0001", "ENDERECO": "Rod. B, km 2", "LATITUDE": -22.8, "LONGITUDE": -47.1},
      {"IDTPIJURTRAN": "F", "NRINSJURTRAN": "12345678909", "NMFANTTRAN": "Zé"}],
    "TIPOTRANSP": [{"CDTIPTRANS": "0001", "NMTIPTRANS": "Rodoviário"}],
    "VEICULO": [
      {"CDVIATURA": "V2", "DSTIPOVEIC": "Toco", "QTCAPACIVIAT": 50, "VRVOLUMEVIAT": 2,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"},
      {"CDVIATURA": "V1", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 100, "VRVOLUMEVIAT": 1,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"},
      {"CDVIATURA": "V9", "DSTIPOVEIC": "Fiorino", "QTCAPACIVIAT": 500, "VRVOLUMEVIAT": 3,
       "IDTPIJURTRAN": "F", "NRINSJURTRAN": "12345678909"}],
    "CLIENTE": [
      {"CDCLIENTE": "C1", "NMFANTCLIE": "Mercado Um", "ENDERECO": "Rua C1, 10", "CEP": "1",
       "LATITUDE": -22.91, "LONGITUDE": -47.07},
      {"CDCLIENTE": "C2", "NMFANTCLIE": "Mercado Dois"},
      {"CDCLIENTE": "C3", "NMFANTCLIE": "Mercado Três", "ENDERECO": "Rua C3, 30"}],
    "ITEMPEDIDO": [
      {"NRPEDIDO": "P1", "NRITEMPED": "1", "CDFILIAL": "0001", "CDCLIENTE": "C1",
       "CDPRODUTO": "A", "QTDEAEXP": 2, "VRPESOBRUTPR": 10, "VRVOLMED": 0.1,
       "IDCHECK": "S", "IDPRIOPED": "1", "DTENTPED": "2025-06-10", "NMFANTCLIE": "Mercado Um"},
      {"NRPEDIDO": "P1", "NRITEMPED": "2", "CDFILIAL": "0001", "CDCLIENTE": "C1",
       "CDPRODUTO": "B", "QTDEAEXP": 1, "VRPESOBRUTPR": 20, "VRVOLMED": 0.1,
       "IDCHECK": "S", "IDPRIOPED": "1", "DTENTPED": "2025-06-10", "NMFANTCLIE": "Mercado Um"},
      {"NRPEDIDO": "P2", "NRITEMPED": "1", "CDFILIAL": "0001", "CDCLIENTE": "C2",
       "CDPRODUTO": "A", "QTDEAEXP": 3, "VRPESOBRUTPR": 10, "VRVOLMED": 0.1,
       "IDCHECK": "S", "IDPRIOPED": "2", "DTENTPED": "2025-06-10", "NMFANTCLIE": "Mercado Dois"},
      {"NRPEDIDO": "P3", "NRITEMPED": "1", "CDFILIAL": "0001", "CDCLIENTE": "C3",
       "CDPRODUTO": "C", "QTDEAEXP": 4, "VRPESOBRUTPR": 5, "VRVOLMED": 0.05,
       "IDCHECK": "S", "IDPRIOPED": "2", "DTENTPED": "2025-06-10", "NMFANTCLIE": "Mercado Três"},
      {"NRPEDIDO": "P4", "NRITEMPED": "1", "CDFILIAL": "0001", "CDCLIENTE": "C1",
       "CDPRODUTO": "A", "QTDEAEXP": 1, "VRPESOBRUTPR": 10, "VRVOLMED": 0.1,
       "IDCHECK": "X", "IDPRIOPED": "2", "DTENTPED": "2025-06-11", "NMFANTCLIE": "Mercado Um"}]
  })");
}

inline const char* kKey = "J11222333000181";

enum class Backend { Sqlite, Postgres };

inline const char* BackendName(Backend backend) {
  return backend == Backend::Sqlite ? "Sqlite" : "Postgres";
}
inline void PrintTo(Backend backend, std::ostream* out) { *out << BackendName(backend); }

// The parameters of a suite run in process and over HTTP (true), on each
// database, and their case names ("InProcessSqlite", "HttpPostgres", ...).
using TransportParam = std::tuple<bool, Backend>;
inline auto TransportParams() {
  return ::testing::Combine(::testing::Values(false, true),
                            ::testing::Values(Backend::Sqlite, Backend::Postgres));
}
inline std::string TransportParamName(const ::testing::TestParamInfo<TransportParam>& info) {
  return std::string(std::get<0>(info.param) ? "Http" : "InProcess") +
         BackendName(std::get<1>(info.param));
}

// A fresh database, removed with the object: a SQLite file, or a schema of
// its own on the PostgreSQL cluster that EXP_TEST_PG names
// (scripts/pg-test-cluster.sh starts one). Without EXP_TEST_PG a PostgreSQL
// database is not made: storage() is null and skip_reason() says why.
class TempDatabase {
 public:
  explicit TempDatabase(Backend backend = Backend::Sqlite) {
    static int counter = 0;
    const std::string name =
        "exp_appserver_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    if (backend == Backend::Postgres) {
      const char* url = std::getenv("EXP_TEST_PG");
      if (!url || !*url) {
        skip_reason_ = "EXP_TEST_PG is not set: run under scripts/pg-test-cluster.sh";
        return;
      }
      server_ = url;
      schema_ = name;
      RunPostgresStatement(server_, "CREATE SCHEMA " + schema_);
      path_ = server_ + (server_.find('?') == std::string::npos ? "?" : "&") +
              "options=-csearch_path%3D" + schema_;
    } else {
      path_ = (std::filesystem::temp_directory_path() / (name + ".db")).string();
      Remove();
    }
    storage_ = OpenStorage(path_);
  }
  ~TempDatabase() {
    storage_.reset();
    Remove();
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;
  // The file, or the connection string (for exp-appserver --db).
  const std::string& path() const { return path_; }
  std::shared_ptr<Storage> storage() const { return storage_; }
  const std::string& skip_reason() const { return skip_reason_; }

 private:
  void Remove() {
    if (!schema_.empty()) {
      try {
        RunPostgresStatement(server_, "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
      } catch (const StorageError&) {
        // The cluster is gone with the test run.
      }
      return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
  }
  std::string path_, server_, schema_, skip_reason_;
  std::shared_ptr<Storage> storage_;
};

// A socket listening on 127.0.0.1 at a free port, for a test to play a
// peer by hand; with `receive_buffer` its accepted connections take that
// little into their sockets. Fails the test when the system refuses.
struct LoopbackListener {
  int fd = -1;
  int port = 0;
};
inline LoopbackListener ListenOnLoopback(int backlog, int receive_buffer = 0) {
  LoopbackListener out;
  out.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0) {
    ::setsockopt(out.fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  EXPECT_EQ(0, ::bind(out.fd, reinterpret_cast<sockaddr*>(&addr), len));
  EXPECT_EQ(0, ::listen(out.fd, backlog));
  ::getsockname(out.fd, reinterpret_cast<sockaddr*>(&addr), &len);
  out.port = ntohs(addr.sin_port);
  return out;
}

// Text of a variant argument or cell; null and empty read as "".
inline std::string Str(const data::Variant& v) { return v.IsEmptyOrNull() ? "" : v.ToString(); }

// One column of a packet as "a,b,c".
inline std::string Column(const data::Variant& packet, const std::string& field) {
  const data::DataPacket& p = packet.AsPacket();
  const int i = p.FieldIndex(field);
  if (i < 0) return "<no field " + field + ">";
  std::string out;
  for (const auto& row : p.rows) {
    if (!out.empty()) out += ",";
    const data::Variant& v = row[i];
    if (v.IsNull()) {
      out += "null";
    } else if (v.IsNumeric()) {
      std::ostringstream number;
      number << v.ToDouble();
      out += number.str();
    } else {
      out += Str(v);
    }
  }
  return out;
}

// Field list as "NAME:type:size ..." as the screen's datasets declare it.
inline std::string Shape(const data::Variant& packet) {
  std::string out;
  for (const data::FieldDef& f : packet.AsPacket().fields) {
    if (!out.empty()) out += " ";
    out += f.name + ":" + data::FieldTypeName(f.type);
    if (f.size) out += ":" + std::to_string(f.size);
  }
  return out;
}

// The maintained loads that differ from what the allocations say (none when
// every write kept them).
inline std::vector<std::string> StaleLoadsOf(Storage& storage) {
  std::vector<std::string> stale;
  storage.Transact(TxKind::Read, [&](Session& s) { stale = detail::StaleLoads(s); });
  return stale;
}

// A server object on a temporary database seeded with SmallFixture(), reached
// in process or over HTTP as the test parameter says, on either backend.
class SeededServerTest : public ::testing::TestWithParam<TransportParam> {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    LoadFixture(*db_.storage(), SmallFixture());
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
    if (std::get<0>(GetParam())) {
      http_ = std::make_unique<HttpServer>(object_, HttpServerOptions{});
      http_->Start();
    }
  }

  // A transport that calls on behalf of `op` (empty: no operator).
  std::unique_ptr<data::CallTransport> Transport(const std::string& op = "") {
    if (!http_) return std::make_unique<InProcessTransport>(object_, op);
    HttpClientOptions options;
    options.operator_code = op;
    return std::make_unique<HttpTransport>("127.0.0.1", http_->port(), options);
  }

  // Whatever a case did, the loads kept beside the allocations say what the
  // allocations say.
  void TearDown() override {
    if (db_.storage()) {
      EXPECT_EQ(std::vector<std::string>{}, StaleLoadsOf(*db_.storage()));
    }
  }

  TempDatabase db_{std::get<1>(GetParam())};
  std::shared_ptr<rdmGradeDistribuicao> object_;
  std::unique_ptr<HttpServer> http_;
};

// A SeededServerTest that calls the server through one transport, without
// an operator.
class CallingServerTest : public SeededServerTest {
 protected:
  void SetUp() override {
    SeededServerTest::SetUp();
    if (object_) transport_ = Transport();
  }
  void TearDown() override {
    transport_.reset();
    http_.reset();
    SeededServerTest::TearDown();
  }

  data::CallReply Call(const std::string& method, std::vector<data::Variant> args) {
    return transport_->Call(kServerName, method, args);
  }
  // The failure text of a call, or "ok".
  std::string Failure(const std::string& method, std::vector<data::Variant> args) {
    try {
      Call(method, std::move(args));
      return "ok";
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }

  std::unique_ptr<data::CallTransport> transport_;
};

// An HTTP server (started by the test, with its options) of a server object
// on a temporary SQLite database seeded with SmallFixture().
class SeededHttpTest : public ::testing::Test {
 protected:
  void Start(HttpServerOptions options = {}) {
    LoadFixture(*db_.storage(), SmallFixture());
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
    server_ = std::make_unique<HttpServer>(object_, options);
    port_ = server_->Start();
  }

  TempDatabase db_;
  std::shared_ptr<rdmGradeDistribuicao> object_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
};

}  // namespace dg::server::testing
