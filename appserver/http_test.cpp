// The HTTP transport's handling of malformed requests, the fixture endpoint,
// and fixture loading and schema versions on the database.
#include <httplib.h>

#include <thread>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "appserver/journal.h"
#include "appserver/testing/test_support.h"
#include "data/wire_json.h"

namespace dg::server {
namespace {

using nlohmann::json;
using namespace testing;

class HttpTest : public SeededHttpTest {
 protected:
  httplib::Result Post(const std::string& path, const std::string& body) {
    httplib::Client client("127.0.0.1", port_);
    client.set_tcp_nodelay(true);
    return client.Post(path, body, "application/json");
  }
};

TEST_F(HttpTest, MalformedRequestsGetAClearErrorAndTheServerKeepsServing) {
  HttpServerOptions options;
  options.max_body_bytes = 4096;
  Start(options);
  struct Case {
    std::string body;
    int status;
    std::string error;
  } cases[] = {
      {"[1, 2", 400,
       "the request body is refused: parse error at line 1, column 6: syntax error while "
       "parsing array - unexpected end of input; expected ']'"},
      {"[1, 2]", 400, "the request body is not a JSON object"},
      {R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "GetParametros"})", 400,
       "the request needs \"server\" and \"method\" texts and an \"args\" array"},
      {R"({"server": 1, "method": "GetParametros", "args": []})", 400,
       "the request needs \"server\" and \"method\" texts and an \"args\" array"},
      {R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "GetParametros",
           "args": [{"packet": {"format": "other"}}]})",
       400, ""},
      {R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "GetParametros",
           "args": ["0001", "0002"]})",
       200, "GetParametros: expected 1 argument, got 2"},
      {std::string(8000, ' '), 413, ""},
  };
  for (const Case& c : cases) {
    auto res = Post("/call", c.body);
    ASSERT_TRUE(res) << c.body;
    EXPECT_EQ(c.status, res->status) << c.body;
    if (c.status == 413) continue;
    const json answer = json::parse(res->body);
    ASSERT_TRUE(answer.contains("error")) << res->body;
    const std::string error = answer["error"];
    if (c.error.empty()) {
      EXPECT_EQ(0u, error.find("malformed argument: ")) << error;
    } else {
      EXPECT_EQ(c.error, error);
    }
  }
  HttpTransport client("127.0.0.1", port_);
  auto reply = client.Call(kServerName, "GetParametros", {"0001"});
  EXPECT_EQ("S", Column(reply.result, "IDEXITRANSPDIST"));
}

// A save whose body arrives cut short or damaged is refused before the
// method runs: no grid is opened and no quantity stored; the whole body
// then stores.
TEST_F(HttpTest, ACutOrDamagedSaveIsRefusedAndStoresNothing) {
  Start();
  HttpTransport client("127.0.0.1", port_);
  const data::Variant day(data::DateTime::FromIso("2025-06-10"));
  const std::vector<data::Variant> look = {kKey, day, "0001", "P2", "1", ""};
  data::DataPacket rows = client.Call(kServerName, "GetVeiculo", look).result.AsPacket();
  for (auto& row : rows.rows) {
    if (Str(row[rows.FieldIndex("CDVIATURA")]) == "V2") {
      row[rows.FieldIndex("QtTranspItGr")] = data::Variant(3.0);
    }
  }
  const std::vector<data::Variant> args = {data::Variant(rows), 10.0, 0.1, "0001", "", "ANA"};
  data::WireWriter writer;
  writer.Raw("{\"answer\":\"written\",\"args\":").Values(args);
  writer.Raw(",\"method\":\"SetGrade\",\"server\":").Text(kServerName).Raw("}");
  const std::string body = writer.Take();
  const std::size_t row = body.find("[\"Toco\",3.0,");
  ASSERT_NE(std::string::npos, row);
  const std::size_t quantity = row + 8;

  std::vector<std::string> bad;
  for (std::size_t cut :
       {std::size_t{1}, body.size() / 3, quantity + 1, body.size() - 2, body.size() - 1}) {
    bad.push_back(body.substr(0, cut));
  }
  for (const char* damage : {"3.0.", "3e", "\"3", "3\x01"}) {
    bad.push_back(body.substr(0, quantity) + damage + body.substr(quantity + 3));
  }
  std::string stray = body;
  stray[body.find("V2")] = '\x80';  // not UTF-8
  bad.push_back(stray);
  for (const std::string& text : bad) {
    auto res = Post("/call", text);
    ASSERT_TRUE(res);
    EXPECT_EQ(400, res->status) << text.substr(0, 80) << " ... " << text.substr(text.size() - 40);
  }
  EXPECT_EQ("null,null",
            Column(client.Call(kServerName, "GetVeiculo", look).result, "QtTranspItGr"));
  EXPECT_EQ(data::Variant("000001"),
            client.Call(kServerName, "PrxNrGrade", {"0001"}).result);  // no grid was opened

  auto res = Post("/call", body);
  ASSERT_TRUE(res);
  EXPECT_EQ(200, res->status) << res->body.substr(0, 200);
  const std::vector<data::Variant> stored = {kKey, day, "0001", "P2", "1", "000002"};
  EXPECT_EQ("null,3",
            Column(client.Call(kServerName, "GetVeiculo", stored).result, "QtTranspItGr"));
}

TEST_F(HttpTest, FixtureEndpointOnlyWhenAllowed) {
  Start();
  auto res = Post("/fixture", "{}");
  ASSERT_TRUE(res);
  EXPECT_EQ(403, res->status);
  HttpTransport client("127.0.0.1", port_);
  EXPECT_THROW(client.PostFixture(json::object()), data::ServerCallError);
  EXPECT_EQ(1u, client.Call(kServerName, "GetParametros", {"0001"}).result.AsPacket().rows.size());
}

TEST_F(HttpTest, FixtureEndpointReseeds) {
  HttpServerOptions options;
  options.allow_fixture = true;
  Start(options);
  HttpTransport client("127.0.0.1", port_);
  json fixture = SmallFixture();
  fixture["PARAMETROS"][0]["IDEXITRANSPDIST"] = "N";
  client.PostFixture(fixture);
  EXPECT_EQ("N",
            Column(client.Call(kServerName, "GetParametros", {"0001"}).result, "IDEXITRANSPDIST"));
  try {
    client.PostFixture({{"NOTATABLE", json::array()}});
    ADD_FAILURE() << "accepted an unknown table";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(std::string("fixture: unknown table NOTATABLE"), e.what());
  }

  // A dispatched grid is wiped only when the request says so; every reseed
  // is journaled under the caller's operator.
  HttpClientOptions as_ana;
  as_ana.operator_code = "ANA";
  HttpTransport ana("127.0.0.1", port_, as_ana);
  const std::string grid = Str(ana.Call(kServerName, "PrxNrGrade", {"0001"}).result);
  ana.Call(kServerName, "ExpedirGrade", {"0001", grid, "ANA", "", ""});
  try {
    ana.PostFixture(SmallFixture());
    ADD_FAILURE() << "wiped a dispatched grid";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(0u, std::string(e.what()).find("O banco de dados tem 1 grade(s) expedida(s)"))
        << e.what();
  }
  EXPECT_EQ("E", Column(ana.Call(kServerName, "GetRomaneio", {"0001", grid}).result.AsArray()[0],
                        "IDSITGRADE"));
  ana.PostFixture(SmallFixture(), /*discard_dispatched=*/true);
  EXPECT_THROW(ana.Call(kServerName, "GetRomaneio", {"0001", grid}), data::ServerCallError);
  std::vector<std::string> reseeds;
  for (const JournalRow& r : ReadJournal(*db_.storage(), {})) {
    if (r.method == "CarregaFixture") reseeds.push_back(r.operator_code + ": " + r.note);
  }
  EXPECT_EQ(reseeds, (std::vector<std::string>{": ", "ANA: 1 grade(s) expedida(s) apagada(s)"}));
}

// On either database: a reseed over a dispatched grid is refused whole.
class FixtureOverDispatched : public ::testing::TestWithParam<Backend> {};

TEST_P(FixtureOverDispatched, IsRefusedUnlessAskedAndNothingChanges) {
  TempDatabase db(GetParam());
  if (!db.storage()) GTEST_SKIP() << db.skip_reason();
  LoadFixture(*db.storage(), SmallFixture());
  rdmGradeDistribuicao object(db.storage());
  std::vector<data::Variant> args = {"0001"};
  const std::string grid = Str(object.Call("PrxNrGrade", args));
  args = {"0001", grid, "ANA", "", ""};
  object.Call("ExpedirGrade", args);
  json other = SmallFixture();
  other["PARAMETROS"][0]["IDEXITRANSPDIST"] = "N";
  EXPECT_THROW(ReseedForCaller(*db.storage(), other, "ANA", false), FixtureError);
  args = {"0001"};
  EXPECT_EQ("S", Column(object.Call("GetParametros", args), "IDEXITRANSPDIST"));
  ReseedForCaller(*db.storage(), other, "ANA", true);
  EXPECT_EQ("N", Column(object.Call("GetParametros", args), "IDEXITRANSPDIST"));
}

INSTANTIATE_TEST_SUITE_P(Backends, FixtureOverDispatched,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

// What the clerk reads when the server gives no useful answer: in Portuguese,
// naming the server and whether trying again makes sense, with the technical
// cause kept in brackets for the log.
TEST_F(HttpTest, AServerThatGivesNoAnswerIsExplainedToTheClerk) {
  Start();
  const int port = port_;
  server_->Stop();
  HttpClientOptions options;
  options.connect_timeout = std::chrono::milliseconds(500);
  HttpTransport gone("127.0.0.1", port, options);
  try {
    gone.Call(kServerName, "GetParametros", {"0001"});
    ADD_FAILURE() << "a stopped server answered";
  } catch (const data::TransportError& e) {
    EXPECT_EQ("Servidor de aplicação 127.0.0.1:" + std::to_string(port) +
                  " inacessível: não aceita conexão (fora do ar ou endereço errado) "
                  "[Connection].",
              std::string(e.what()));
  }

  // A peer that refuses the call with a status of its own.
  httplib::Server peer;
  peer.Post("/call", [](const httplib::Request& req, httplib::Response& res) {
    const json body = json::parse(req.body);
    const std::string method = body["method"];
    if (method == "Busy") {
      res.status = 503;
      res.set_content(R"({"error":"the server has too many connections"})", "application/json");
    } else if (method == "Slow") {
      res.status = 408;
      res.set_content(R"({"error":"the request did not arrive within 800 ms"})",
                      "application/json");
    } else if (method == "Ended") {
      res.status = 401;
      res.set_content(json{{"error", kSessionEnded}}.dump(), "application/json");
    } else {
      res.status = 502;
    }
  });
  peer.set_keep_alive_max_count(1);  // a kept connection would hold its stop
  const int peer_port = peer.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { peer.listen_after_bind(); });
  HttpTransport client("127.0.0.1", peer_port);
  const auto failure = [&](const std::string& method) -> std::string {
    try {
      client.Call(kServerName, method, {});
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
    return "no ServerCallError";
  };
  EXPECT_EQ(
      "Servidor de aplicação ocupado: tente de novo em instantes [the server has too many "
      "connections].",
      failure("Busy"));
  EXPECT_EQ(
      "O pedido não chegou inteiro ao servidor de aplicação a tempo; tente de novo [the request "
      "did not arrive within 800 ms].",
      failure("Slow"));
  EXPECT_EQ(kSessionEnded, failure("Ended"));  // the server's own words for the clerk
  EXPECT_EQ("O servidor de aplicação respondeu HTTP 502 sem dizer o motivo.", failure("Gateway"));
  // Only what the server turned away before running it is safe to make again.
  const auto not_run = [&](const std::string& method) {
    try {
      client.Call(kServerName, method, {});
    } catch (const data::CallNotRunError&) {
      return true;
    } catch (const data::ServerCallError&) {
    }
    return false;
  };
  EXPECT_TRUE(not_run("Busy"));
  EXPECT_TRUE(not_run("Slow"));
  EXPECT_FALSE(not_run("Ended"));
  EXPECT_FALSE(not_run("Gateway"));
  peer.stop();
  serving.join();
}

// A packet the method leaves alone does not travel back when the caller
// asks so; the caller puts back what it sent. A caller that does not ask
// still gets every argument.
TEST_F(HttpTest, AnAnswerLeavesOutThePacketsTheMethodLeftAlone) {
  Start();
  HttpTransport client("127.0.0.1", port_);
  const data::Variant items = client.Call(kServerName, "GetItensExpedicao", {"0001"}).result;
  const std::vector<data::Variant> args = {items, "IDCHECK = 'S'", kKey, "", "ANA", "0001"};
  const data::CallReply reply = client.Call(kServerName, "DistribuiQuantidades", args);
  ASSERT_EQ(args.size(), reply.args.size());
  EXPECT_EQ(items.PacketPtr(), reply.args[0].PacketPtr());  // the very packet sent
  EXPECT_FALSE(Str(reply.args[3]).empty());                 // the grid number, written
  EXPECT_EQ("0001", Str(reply.args[5]));
  const std::vector<data::Variant> again = {items,         "IDCHECK = 'S'", kKey,
                                            reply.args[3], "ANA",           "0001"};

  const auto answer = [&](bool written_only) {
    data::WireWriter body;
    body.Raw("{");
    if (written_only) body.Raw("\"answer\":\"written\",");
    body.Raw("\"args\":").Values(again).Raw(",\"method\":\"DistribuiQuantidades\",");
    body.Raw("\"server\":").Text(kServerName).Raw("}");
    auto res = Post("/call", body.Take());
    EXPECT_TRUE(res && res->status == 200);
    return res ? json::parse(res->body) : json();
  };
  const json lean = answer(true);
  EXPECT_EQ(json::array({0}), lean["absent"]) << lean.dump().substr(0, 300);
  EXPECT_LT(lean["args"][0].dump().size(), 20u) << lean["args"][0].dump().substr(0, 80);
  const json whole = answer(false);
  EXPECT_FALSE(whole.contains("absent"));
  EXPECT_EQ(items.PacketPtr()->rows.size(),
            data::VariantFromJson(whole["args"][0]).AsPacket().rows.size());

  // An answer whose list of left-out arguments does not match the call is
  // refused, never half read.
  httplib::Server peer;
  std::string absent;
  peer.Post("/call", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"absent":)" + absent + R"(,"args":[null,"x"],"result":1})",
                    "application/json");
  });
  peer.set_keep_alive_max_count(1);
  const int peer_port = peer.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { peer.listen_after_bind(); });
  HttpTransport to_peer("127.0.0.1", peer_port);
  const data::Variant packet = items;
  absent = "[0]";
  EXPECT_EQ(items.PacketPtr(), to_peer.Call(kServerName, "M", {packet, "y"}).args[0].PacketPtr());
  for (const char* bad : {"[2]", "[-1]", "[0,0]", "[0.5]", "[\"0\"]"}) {
    absent = bad;
    EXPECT_THROW(to_peer.Call(kServerName, "M", {packet, "y"}), data::TransportError) << bad;
  }
  absent = "[0]";
  EXPECT_THROW(to_peer.Call(kServerName, "M", {packet}), data::TransportError);  // count
  peer.stop();
  serving.join();
}

TEST_F(HttpTest, StopsWithAnIdleKeepAliveClientConnected) {
  Start();
  HttpTransport client("127.0.0.1", port_);
  client.Call(kServerName, "GetParametros", {"0001"});
  server_->Stop();  // must return although the client keeps its connection
  SUCCEED();
}

TEST(Fixture, RefusesBadRowsAndChangesNothing) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  struct Case {
    json fixture;
    std::string error;
  } cases[] = {
      {{{"VEICULO", json::array({{{"CDVIATURA", "X"}, {"COR", "azul"}}})}},
       "fixture VEICULO row 1: unknown field COR"},
      {{{"VEICULO", json::array({{{"CDVIATURA", "X"}, {"QTCAPACIVIAT", "muito"}}})}},
       "fixture VEICULO row 1 field QTCAPACIVIAT: expected a number"},
      {{{"ITEMPEDIDO", json::array({{{"DTENTPED", "10/06/2025"}}})}},
       "fixture ITEMPEDIDO row 1 field DTENTPED: expected a date as YYYY-MM-DD[THH:MM:SS]"},
      {{{"CLIENTE", json::array({{{"CDCLIENTE", 7}}})}},
       "fixture CLIENTE row 1 field CDCLIENTE: expected a text"},
      {{{"VEICULO", json::array({{{"CDVIATURA", "X"}, {"QTCAPACIVIAT", -3000}}})}},
       "fixture VEICULO row 1 field QTCAPACIVIAT: a capacity, quantity, weight or volume cannot "
       "be negative"},
      {{{"VEICULO",
         json::array({{{"CDVIATURA", "X"}}, {{"CDVIATURA", "Y"}, {"VRVOLUMEVIAT", -0.5}}})}},
       "fixture VEICULO row 2 field VRVOLUMEVIAT: a capacity, quantity, weight or volume cannot "
       "be negative"},
      {{{"ITEMPEDIDO", json::array({{{"NRPEDIDO", "1"}, {"QTDEAEXP", -12}}})}},
       "fixture ITEMPEDIDO row 1 field QTDEAEXP: a capacity, quantity, weight or volume cannot "
       "be negative"},
      {{{"CLIENTE", json::object()}}, "fixture CLIENTE: expected an array"},
      {json::array(), "fixture: expected a JSON object of tables"},
  };
  for (const Case& c : cases) {
    try {
      LoadFixture(*db.storage(), c.fixture);
      ADD_FAILURE() << c.fixture.dump();
    } catch (const FixtureError& e) {
      EXPECT_EQ(c.error, e.what());
    }
  }
  EXPECT_FALSE(IsUnseeded(*db.storage()));
  rdmGradeDistribuicao object(db.storage());
  std::vector<data::Variant> args = {"0001"};
  EXPECT_EQ(5u, object.Call("GetItensExpedicao", args).AsPacket().rows.size());
}

TEST(Fixture, DemoFixtureLoadsAndDistributesOntoTheFirstTransporter) {
  const char* root = std::getenv("EXP_SOURCE_DIR");
  const std::string dir = root ? root : ".";
  TempDatabase db;
  EXPECT_TRUE(IsUnseeded(*db.storage()));
  LoadFixtureFile(*db.storage(), dir + "/fixtures/demo.json");
  rdmGradeDistribuicao object(db.storage());
  std::vector<data::Variant> args = {"0001"};
  const data::Variant items = object.Call("GetItensExpedicao", args);
  ASSERT_GE(items.AsPacket().rows.size(), 100u);

  std::vector<data::Variant> transporters;
  db.storage()->Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r : s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN FROM TRANSPORT WHERE "
                                "NMFANTTRAN = 'Rodovale'")) {
      transporters.push_back(data::Variant(Str(r[0]) + Str(r[1])));
    }
  });
  ASSERT_EQ(1u, transporters.size());
  std::vector<data::Variant> distribute = {items, "IDCHECK = 'S'", transporters[0],
                                           "",    "ANA",           "0001"};
  const data::Variant pair = object.Call("DistribuiQuantidades", distribute);
  EXPECT_FALSE(Column(pair.AsArray()[0], "CDVIATURA").empty());
  EXPECT_EQ(3u, pair.AsArray()[1].AsPacket().rows.size());  // clients without address
}

TEST(Storage, RefusesADatabaseOfANewerSchema) {
  TempDatabase db;
  db.storage()->Transact(TxKind::Write, [](Session& s) {
    s.Exec("INSERT INTO schema_version (version) VALUES (?)", {Value(CurrentSchemaVersion() + 1)});
  });
  try {
    OpenSqliteStorage(db.path());
    ADD_FAILURE() << "opened a newer schema";
  } catch (const StorageError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("newer than this server's"));
  }
  EXPECT_THROW(OpenSqliteStorage(":memory:"), StorageError);
}

TEST(Storage, FailedTransactionRollsBack) {
  TempDatabase db;
  EXPECT_THROW(db.storage()->Transact(TxKind::Write,
                                      [](Session& s) {
                                        s.Exec("INSERT INTO TIPOTRANSP (CDTIPTRANS) VALUES ('9')");
                                        throw Error("stop");
                                      }),
               Error);
  int rows = -1;
  db.storage()->Transact(TxKind::Read, [&](Session& s) {
    rows = static_cast<int>(s.Query("SELECT * FROM TIPOTRANSP").size());
  });
  EXPECT_EQ(0, rows);
}

}  // namespace
}  // namespace dg::server
