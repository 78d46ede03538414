#include "host/host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "appserver/grid_activity.h"
#include "appserver/process_mark.h"
#include "appserver/testing/operator_test_support.h"
#include "appserver/testing/tls_test_support.h"
#include "appserver/transport.h"
#include "data/item_fields.h"
#include "host/player.h"
#include "host/server_connection.h"
#include "host/session.h"
#include "host/stop_signal.h"
#include "host/trace.h"

namespace dg::host {
namespace {

using nlohmann::json;

std::string OptionsFailure(std::vector<const char*> args) {
  args.insert(args.begin(), "exp-host");
  try {
    ParseOptions(static_cast<int>(args.size()), args.data());
  } catch (const UsageError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(HostOptions, ReadsEveryOption) {
  const char* args[] = {
      "exp-host", "--db",    "a.db",       "--server",      "http://127.0.0.1:8211",
      "--branch", "0002",    "--operator", "ANA",           "--script",
      "s.json",   "--trace", "t.jsonl",    "--screenshots", "shots"};
  const Options o = ParseOptions(15, args);
  EXPECT_EQ("a.db", o.db);
  EXPECT_EQ("http://127.0.0.1:8211", o.server);
  EXPECT_EQ("0002", o.branch);
  EXPECT_TRUE(o.branch_given);
  EXPECT_EQ("ANA", o.operator_code);
  EXPECT_EQ("s.json", o.script);
  EXPECT_EQ("t.jsonl", o.trace);
  EXPECT_EQ("shots", o.screenshots);
  EXPECT_EQ(240, o.release_idle_minutes);
  const char* never[] = {"exp-host", "--release-idle-grids", "0"};
  EXPECT_EQ(0, ParseOptions(3, never).release_idle_minutes);
}

TEST(HostOptions, RefusesWhatCannotRun) {
  const struct {
    std::vector<const char*> args;
    const char* error;
  } rows[] = {
      {{"--frobnicate"}, "unknown argument --frobnicate"},
      {{"--db"}, "--db needs a value"},
      {{"--db", "a.db", "--branch"}, "--branch needs a value"},
      {{"a.csv"}, "unknown argument a.csv"},
      {{"--db", "a.db", "a.csv", "--dry-run"}, "unknown argument a.csv"},
      {{"--script", "s.json"}, "--script needs --trace"},
      {{"--trace", "t.jsonl"}, "--trace, --screenshots and --through-window go with --script"},
      {{"--through-window"}, "--trace, --screenshots and --through-window go with --script"},
      {{"--server", "127.0.0.1"},
       "--server needs http://HOST:PORT or https://HOST:PORT, not 127.0.0.1"},
      {{"--server", "http://127.0.0.1:8211", "--ca", "ca.pem"}, "--ca goes with --server https://"},
      {{"--ca", "ca.pem"}, "--ca goes with --server https://"},
      {{"--server", "http://127.0.0.1:http"}, "bad port in --server http://127.0.0.1:http"},
      {{"--server", "http://127.0.0.1:70000"}, "bad port in --server http://127.0.0.1:70000"},
      {{"--server", "http://h:1/x"},
       "--server needs http://HOST:PORT or https://HOST:PORT, not http://h:1/x"},
      {{"--import", "a.csv"}, "--import needs --db, the database to fill"},
      {{"--db", "a.db", "--import"}, "--import needs one or more CSV files"},
      {{"--db", "a.db", "--import", "--dry-run"}, "--import needs one or more CSV files"},
      {{"--dry-run"}, "--dry-run goes with --import"},
      {{"--accept-large-changes"}, "--accept-large-changes goes with --import"},
      {{"--manifest", "1"}, "--manifest needs --out FILE.pdf"},
      {{"--out", "r.pdf"}, "--out goes with --manifest"},
      {{"--vehicle", "0101"}, "--vehicle goes with --manifest"},
      {{"--manifest", " ", "--out", "r.pdf"}, "--manifest needs a grid number"},
      {{"--manifest", "1", "--out", "r.pdf", "--script", "s", "--trace", "t"},
       "--import and --manifest do not go with --script"},
      {{"--db", "a.db", "--import", "a.csv", "--manifest", "1", "--out", "r.pdf"},
       "--import and --manifest are separate runs"},
      {{"--release-idle-grids", "-1"}, "--release-idle-grids needs a number of minutes (0: never)"},
      {{"--release-idle-grids", "4h"}, "--release-idle-grids needs a number of minutes (0: never)"},
      {{"--release-idle-grids", "9999999"},
       "--release-idle-grids needs a number of minutes (0: never)"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.error, OptionsFailure(row.args)) << row.error;
}

TEST(HostOptions, ImportAndManifestRuns) {
  const char* import[] = {"exp-host", "--db",  "postgresql://u@h/d",     "--import",
                          "a.csv",    "b.csv", "--accept-large-changes", "--dry-run"};
  const Options i = ParseOptions(8, import);
  EXPECT_EQ(i.import_files, (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_TRUE(i.dry_run);
  EXPECT_TRUE(i.accept_large_changes);
  const char* dry_first[] = {"exp-host", "--import", "--dry-run", "a.csv", "--db", "x.db", "b.csv"};
  const Options d = ParseOptions(7, dry_first);
  EXPECT_EQ(d.import_files, (std::vector<std::string>{"a.csv", "b.csv"}));
  EXPECT_TRUE(d.dry_run);
  EXPECT_EQ(d.db, "x.db");
  const char* manifest[] = {"exp-host",       "--manifest", "12",        "--out", "r.pdf",
                            "--manifest-dir", "m",          "--vehicle", "0101"};
  const Options m = ParseOptions(9, manifest);
  EXPECT_EQ(
      m.manifest_grid + " " + m.manifest_out + " " + m.manifest_dir + " " + m.manifest_vehicle,
      "12 r.pdf m 0101");
}

// --help is written from the options the host reads: every option its
// manual and the automation notes name, with the defaults.
TEST(HostOptions, HelpNamesEveryOption) {
  const char* args[] = {"exp-host", "--db", "a.db", "--help"};
  EXPECT_TRUE(ParseOptions(4, args).help);
  const char* short_help[] = {"exp-host", "-h"};
  EXPECT_TRUE(ParseOptions(2, short_help).help);
  const std::string help = UsageText();
  const char* const options[] = {"usage: exp-host [--db",
                                 "--server",
                                 "--ca",
                                 "--branch",
                                 "--operator",
                                 "--password-file",
                                 "--manifest-dir",
                                 "--release-idle-grids",
                                 "--script",
                                 "--trace",
                                 "--through-window",
                                 "--screenshots",
                                 "--import",
                                 "--dry-run",
                                 "--accept-large-changes",
                                 "--manifest",
                                 "--vehicle",
                                 "--out",
                                 "FILE.csv",
                                 "0001",
                                 "OPER",
                                 "240",
                                 "Exit status: 0 done"};
  for (const char* option : options) {
    EXPECT_NE(help.find(option), std::string::npos) << option << " in\n" << help;
  }
}

TEST(HostOptions, ServerAddress) {
  EXPECT_EQ(std::make_pair(std::string("127.0.0.1"), 8211),
            ParseServerUrl("http://127.0.0.1:8211/"));
  EXPECT_EQ(std::make_pair(std::string("localhost"), 80), ParseServerUrl("localhost:80"));
  EXPECT_EQ(std::make_pair(std::string("h.example"), 8443),
            ParseServerUrl("https://h.example:8443"));
  // The IPv6 loopback as a URL writes it; the address looked up has no brackets.
  EXPECT_EQ(std::make_pair(std::string("::1"), 8211), ParseServerUrl("http://[::1]:8211"));
  EXPECT_TRUE(IsHttpsUrl("https://h.example:8443"));
  EXPECT_FALSE(IsHttpsUrl("http://h.example:8443"));
}

TEST(LaunchItems, RowsKeyedByFieldNamesFillTheItemPacket) {
  const data::DataPacket p = ItemsFromRows(json::array(
      {{{"NRPEDIDO", "000123"}, {"QTDEAEXP", 10}, {"DTENTPED", "2024-05-01"}}, json::object()}));
  EXPECT_EQ(data::ItemPacketFields(), p.fields);
  ASSERT_EQ(2u, p.rows.size());
  EXPECT_EQ(data::Variant("000123"), p.rows[0][p.FieldIndex("NRPEDIDO")]);
  EXPECT_EQ(data::Variant(10.0), p.rows[0][p.FieldIndex("QTDEAEXP")]);
  EXPECT_EQ(data::Variant(data::DateTime::FromParts(2024, 5, 1)),
            p.rows[0][p.FieldIndex("DTENTPED")]);
  // Fields not given are empty.
  EXPECT_TRUE(p.rows[0][p.FieldIndex("CDCLIENTE")].IsNull());
  EXPECT_TRUE(p.rows[1][p.FieldIndex("NRPEDIDO")].IsNull());
}

TEST(LaunchItems, RefusesUnknownFieldsAndWrongKinds) {
  const struct {
    json row;
    const char* error;
  } rows[] = {
      {{{"NADA", "1"}}, "launch.items row 1: unknown item field 'NADA'"},
      {{{"QTDEAEXP", "10"}}, "launch.items row 1: bad value for QTDEAEXP: \"10\""},
      {{{"NRPEDIDO", 123}}, "launch.items row 1: bad value for NRPEDIDO: 123"},
      {{{"DTENTPED", "01/05/2024"}}, "launch.items row 1: DTENTPED must be a date \"YYYY-MM-DD\""},
  };
  for (const auto& row : rows) {
    try {
      ItemsFromRows(json::array({row.row}));
      ADD_FAILURE() << "accepted " << row.row.dump();
    } catch (const SessionError& e) {
      EXPECT_EQ(row.error, std::string(e.what()));
    }
  }
  EXPECT_THROW(ItemsFromRows(json::array({{{"NRPEDIDO", std::string(300, '9')}}})), SessionError);
}

TEST(LaunchItems, ElementsOneToFiveReachTheCallersVariables) {
  HandBack values;
  const data::VariantArray launch = LaunchArray(ItemsFromRows(json::array()), values);
  ASSERT_EQ(0, launch.Low());
  ASSERT_EQ(5, launch.High());
  *launch[1].ToBoolRef() = true;
  *launch[2].ToStringRef() = "000007";
  *launch[5].ToStringRef() = "9";
  EXPECT_TRUE(values.PboOpcao);
  EXPECT_EQ("000007", values.PNrGradeDistr);
  EXPECT_EQ("9", values.PstIdFrete);
  std::ostringstream out;
  PrintHandBack(out, values);
  EXPECT_EQ("PboOpcao: true\nPNrGradeDistr: 000007\nPstNrInsc: \nPstTpTrans: \nPstIdFrete: 9\n",
            out.str());
}

TEST(HostModules, AMissingModuleIsNamed) {
  ModuleLoader loader("/nonexistent");
  HostServices services(loader);
  std::string seen;
  services.on_module = [&](const std::string& module, const data::VariantArray&) { seen = module; };
  try {
    services.LoadBPL("EXP09999", data::VariantArray(0, 4));
    FAIL() << "loaded";
  } catch (const Error& e) {
    EXPECT_NE(std::string::npos,
              std::string(e.what()).find(
                  "O módulo EXP09999 não pôde ser carregado de /nonexistent/libEXP09999.so"));
  }
  EXPECT_EQ("EXP09999", seen);
}

class NoWindows : public ui::WindowSystem {
 public:
  void ShowModal(ui::Form& form) override { ADD_FAILURE() << "the screen opened"; }
};

// Launched from the desktop, a failure before the screen opens is shown on
// the display as well as on a terminal the clerk may not have: a branch the
// operator may not work on, a server that cannot be verified. A cancelled
// sign-in ends the run without a message box.
TEST(HostInteractive, AFailureBeforeTheScreenOpensIsShownOnTheDisplay) {
  server::testing::TempDatabase db;
  server::SeedSignInDatabase(*db.storage());
  server::testing::TestCertificates certificates;
  server::SignInSettings settings;
  settings.failure_delay = std::chrono::milliseconds(0);
  server::HttpServerOptions options;
  options.signin = std::make_shared<server::SignInService>(db.storage(), settings);
  options.tls_cert = certificates.cert();
  options.tls_key = certificates.key();
  server::HttpServer server(std::make_shared<server::rdmGradeDistribuicao>(db.storage()), options);
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Start());
  server::testing::TempDatabase host_db;

  NoWindows windows;
  ui::ScriptedDialogs dialogs;
  bool cancel = false;
  Display display;
  display.windows = &windows;
  display.dialogs = &dialogs;
  display.ask_sign_in =
      [&](const std::string&, const std::string&,
          const std::string&) -> std::optional<std::pair<std::string, std::string>> {
    if (cancel) return std::nullopt;
    return std::make_pair("ANA", server::kPassword);
  };
  auto run = [&](const std::string& ca, const char* branch) {
    dialogs.ClearLog();
    std::vector<const char*> args = {
        "exp-host", "--server", url.c_str(), "--ca", ca.c_str(), "--db", host_db.path().c_str(),
        "--branch", branch};
    std::ostringstream out, err;
    const int status =
        RunHost(ParseOptions(static_cast<int>(args.size()), args.data()), display, out, err);
    EXPECT_EQ(2, status) << err.str();
    return dialogs.Joined();
  };
  EXPECT_EQ("error: Operador sem acesso à filial 0002.", run(certificates.ca(), "0002"));
  const std::string unverified = run(certificates.other_ca(), "0001");
  EXPECT_NE(std::string::npos, unverified.find("error: ")) << unverified;
  EXPECT_NE(std::string::npos, unverified.find("certificado")) << unverified;
  cancel = true;
  EXPECT_EQ("", run(certificates.ca(), "0001"));
}

// The clerk opens the screen and closes it at once, answering Yes.
class OpenAndClose : public ui::WindowSystem {
 public:
  explicit OpenAndClose(ui::ScriptedDialogs& dialogs) : dialogs_(dialogs) {}
  void ShowModal(ui::Form& form) override {
    form.Activate();
    dialogs_.QueueAnswer(ui::Answer::Yes);
    form.Close();
    EXPECT_FALSE(form.IsOpen());
  }

 private:
  ui::ScriptedDialogs& dialogs_;
};

// A database that cannot be opened (here a folder) is named to the clerk in
// Portuguese before any screen opens.
TEST(HostInteractive, ADatabaseThatCannotBeOpenedIsNamedToTheClerk) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("exp-host-folder-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  NoWindows windows;
  ui::ScriptedDialogs dialogs;
  Display display;
  display.windows = &windows;
  display.dialogs = &dialogs;
  const std::string path = folder.string();
  const char* args[] = {"exp-host", "--db", path.c_str()};
  std::ostringstream out, err;
  EXPECT_EQ(2, RunHost(ParseOptions(3, args), display, out, err));
  EXPECT_EQ(dialogs.Joined().rfind("error: O banco de dados " + path +
                                       " não pôde ser aberto: verifique o arquivo ou o endereço "
                                       "dado em --db. (",
                                   0),
            0u)
      << dialogs.Joined();
  std::filesystem::remove_all(folder);
}

// A clerk's session on the small fixture: a transporter, its transport
// type and freight, and the dispatch confirmed.
Session DispatchSession() {
  return ParseSession(json::parse(R"({"steps": [
      {"type": "medCdTransp", "text": "11222333000181"},
      {"type": "medTpTransp", "text": "0001"},
      {"select": "cbbTipoFrete", "index": 1},
      {"focus": "DBGrid1"},
      {"answers": ["yes"]},
      {"click": "sbtExpedir"}]})"),
                      ".");
}

// The small fixture's database and a player of DispatchSession on it.
struct DispatchDay {
  DispatchDay() { server::LoadFixture(*db.storage(), server::testing::SmallFixture()); }
  server::testing::TempDatabase db;
  const Session session = DispatchSession();
  std::ostringstream trace_text;
  Trace trace{&trace_text};
  Player player{session, trace, [](const std::string&, data::Variant*) { return false; }};
};

// Another clerk's grid over every item of `ready` (branch 0001), on the
// vehicles of `transporter`, dispatched.
void DispatchEveryItem(server::InProcessTransport& transport, data::DataPacket ready,
                       const std::string& transporter) {
  for (auto& row : ready.rows) row[ready.FieldIndex("IDCHECK")] = data::Variant("S");
  const std::string grid =
      transport
          .Call(server::kServerName, "DistribuiQuantidades",
                {data::Variant(ready), "IDCHECK = 'S'", transporter, "", "ANA", "0001"})
          .args[3]
          .ToString();
  transport.Call(server::kServerName, "ExpedirGrade", {"0001", grid, "ANA"});
}

// On the desktop, a dispatch is recorded on the server (the grid and what it
// carries of each item), each vehicle's manifest is written beside the
// grid's, and the clerk reads one message naming the grid and where each
// manifest went; the next launch's ready list holds only what is left.
TEST(HostInteractive, ADispatchIsRecordedAndToldToTheClerkWithEachVehiclesManifest) {
  DispatchDay day;
  server::testing::TempDatabase& db = day.db;
  Player& player = day.player;
  const std::ostringstream& trace_text = day.trace_text;
  std::vector<std::string> printed;
  Display display;
  display.windows = &player;
  display.dialogs = &player;
  display.write_pdf = [&](const ui::Report& report, const std::string& path) {
    printed.push_back(path + ": " + std::to_string(report.sections.size()) + " vehicle(s)");
  };
  const std::string dir = db.path() + "-manifests";
  const char* args[] = {"exp-host", "--db",           db.path().c_str(), "--operator",
                        "ANA",      "--manifest-dir", dir.c_str()};
  std::ostringstream out, err;
  ASSERT_EQ(0, RunHost(ParseOptions(7, args), display, out, err)) << err.str();
  EXPECT_EQ(0, player.StepsLeft());

  std::vector<std::string> vehicles;
  db.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
    for (const server::Row& r : s.Query("SELECT DISTINCT CDVIATURA FROM ALOCGRADE WHERE "
                                        "NRGRADEDISTR = '000001' ORDER BY CDVIATURA")) {
      vehicles.push_back(r[0].ToString());
    }
  });
  ASSERT_FALSE(vehicles.empty());
  const std::string whole = dir + "/romaneio-0001-000001.pdf";
  std::vector<std::string> expected = {whole + ": " + std::to_string(vehicles.size()) +
                                       " vehicle(s)"};
  std::string told = "A grade 000001 foi expedida. Romaneio de carga da grade: " + whole + ".";
  for (const std::string& v : vehicles) {
    const std::string one = dir + "/romaneio-0001-000001-" + v + ".pdf";
    expected.push_back(one + ": 1 vehicle(s)");
    told += "\nVeículo " + v + ": " + one;
  }
  EXPECT_EQ(expected, printed);
  std::vector<std::string> infos;
  std::istringstream lines(trace_text.str());
  for (std::string line; std::getline(lines, line);) {
    const json event = json::parse(line);
    if (event.value("dialog", "") == "info") infos.push_back(event.value("text", ""));
  }
  EXPECT_EQ(std::vector<std::string>{told}, infos) << trace_text.str();
  EXPECT_NE(out.str().find("grade 000001 expedida\n"), std::string::npos) << out.str();

  // What the grid carried left the ready list: only P4, not selected, is left.
  auto object = std::make_shared<server::rdmGradeDistribuicao>(db.storage());
  server::InProcessTransport transport(object, "ANA");
  const data::DataPacket ready =
      transport.Call(server::kServerName, "GetItensExpedicao", {"0001"}).result.AsPacket();
  ASSERT_EQ(ready.rows.size(), 1u);
  EXPECT_EQ(ready.rows[0][ready.FieldIndex("NRPEDIDO")].ToString(), "P4");
  std::filesystem::remove_all(dir);

  // Once P4 is dispatched too, a launch finds nothing to dispatch: the clerk
  // is told so and no screen opens (it would take a grid number under no
  // branch and refuse the transporter with the dispatched grid's number).
  DispatchEveryItem(transport, ready, "J11222333000181");
  const Session none = ParseSession(json::parse(R"({"steps": []})"), ".");
  std::ostringstream none_trace;
  Trace told_trace(&none_trace);
  Player quiet(none, told_trace, [](const std::string&, data::Variant*) { return false; });
  display.windows = &quiet;
  display.dialogs = &quiet;
  std::ostringstream out2, err2;
  ASSERT_EQ(0, RunHost(ParseOptions(7, args), display, out2, err2)) << err2.str();
  const std::string nothing =
      "Não há itens a expedir na filial 0001: os itens pedidos já foram expedidos ou ainda não "
      "foram importados.";
  EXPECT_EQ(nothing + "\n", out2.str());
  EXPECT_NE(none_trace.str().find(nothing), std::string::npos) << none_trace.str();
  // The message is all that happened: no screen, no grid number taken.
  const std::string told_lines = none_trace.str();
  EXPECT_EQ(1, std::count(told_lines.begin(), told_lines.end(), '\n')) << told_lines;
  db.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
    EXPECT_EQ(2, s.Query("SELECT COUNT(*) FROM GRADEDISTR")[0][0].ToInt64());
  });
  std::filesystem::remove_all(dir);
}

// Dialogs answered as the session's player answers them, the errors kept;
// a test's own dialogs step in where the clerk's day needs more.
class ThroughPlayer : public ui::Dialogs {
 public:
  explicit ThroughPlayer(Player& player) : player_(player) {}
  const std::vector<std::string>& errors() const { return errors_; }

  ui::Answer Question(const std::string& text) override { return player_.Question(text); }
  void Error(const std::string& text) override {
    errors_.push_back(text);
    player_.Error(text);
  }
  void Info(const std::string& text) override { player_.Info(text); }
  std::optional<int> PickFromList(const ui::ListDialog& list) override {
    return player_.PickFromList(list);
  }

 private:
  Player& player_;
  std::vector<std::string> errors_;
};

// The dialogs of a session, with the server stopped when the clerk confirms
// the dispatch and started again (same port) at the `restart_at`-th offer to
// dispatch again; the clerk gives up at the `give_up_at`-th (0: never).
class ServerLostAtDispatch : public ThroughPlayer {
 public:
  ServerLostAtDispatch(Player& player, std::shared_ptr<server::rdmGradeDistribuicao> object,
                       int restart_at, int give_up_at)
      : ThroughPlayer(player),
        object_(std::move(object)),
        restart_at_(restart_at),
        give_up_at_(give_up_at) {
    server_ = std::make_unique<server::HttpServer>(object_, server::HttpServerOptions{});
    port_ = server_->Start();
  }
  int port() const { return port_; }
  const std::vector<std::string>& offers() const { return offers_; }

  ui::Answer Question(const std::string& text) override {
    if (text.find("Tentar expedir de novo?") != std::string::npos) {
      offers_.push_back(text);
      const int offer = static_cast<int>(offers_.size());
      if (offer == give_up_at_) return ui::Answer::No;
      if (offer != restart_at_) return ui::Answer::Yes;
      server::HttpServerOptions options;
      options.port = port_;
      server_ = std::make_unique<server::HttpServer>(object_, options);
      server_->Start();
      return ui::Answer::Yes;
    }
    const ui::Answer answer = ThroughPlayer::Question(text);
    if (text.rfind("Os pedidos serão expedidos", 0) == 0) server_->Stop();
    return answer;
  }

 private:
  std::shared_ptr<server::rdmGradeDistribuicao> object_;
  std::unique_ptr<server::HttpServer> server_;
  int port_ = 0;
  int restart_at_, give_up_at_;
  std::vector<std::string> offers_;
};

// The server lost just as the clerk confirms the dispatch: the desktop says
// the grid is not dispatched yet and offers the hand-off again, as often as
// the clerk asks; once the server is back it goes through. Before, the
// program ended with the error and the next launch discarded the grid with
// its whole distribution. A clerk who gives up gets the error, nothing
// dispatched.
TEST(HostInteractive, ADispatchTheServerDidNotAnswerIsOfferedAgain) {
  for (const bool given_up : {false, true}) {
    DispatchDay day;
    server::testing::TempDatabase& db = day.db;
    Player& player = day.player;
    // Back at the second offer, or never and given up at the third.
    ServerLostAtDispatch dialogs(player,
                                 std::make_shared<server::rdmGradeDistribuicao>(db.storage()),
                                 given_up ? 0 : 2, given_up ? 3 : 0);
    Display display;
    display.windows = &player;
    display.dialogs = &dialogs;
    const std::string url = "http://127.0.0.1:" + std::to_string(dialogs.port());
    const char* args[] = {"exp-host", "--server", url.c_str(), "--operator", "ANA"};
    std::ostringstream out, err;
    ASSERT_EQ(0, RunHost(ParseOptions(5, args), display, out, err)) << err.str();
    EXPECT_EQ(0, player.StepsLeft());
    ASSERT_EQ(given_up ? 3u : 2u, dialogs.offers().size());
    EXPECT_EQ(0u, dialogs.offers()[0].rfind("A grade 000001 ainda não foi expedida: ", 0))
        << dialogs.offers()[0];
    std::string dispatched;
    db.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
      dispatched = s.Query("SELECT IDSITGRADE FROM GRADEDISTR WHERE NRGRADEDISTR = '000001'")
                       .at(0)[0]
                       .ToString();
    });
    if (given_up) {
      EXPECT_EQ(std::string::npos, out.str().find("expedida")) << out.str();
      EXPECT_NE(dispatched, "E");
    } else {
      EXPECT_NE(std::string::npos, out.str().find("grade 000001 expedida\n")) << out.str();
      EXPECT_EQ(dispatched, "E");
    }
  }
}

// The dialogs of a session in which another clerk dispatches every ready
// item first, on the other transporter's vehicle, just as this clerk
// confirms the dispatch.
class DispatchedFirstElsewhere : public ThroughPlayer {
 public:
  DispatchedFirstElsewhere(Player& player, std::shared_ptr<server::rdmGradeDistribuicao> object)
      : ThroughPlayer(player), object_(std::move(object)) {}

  ui::Answer Question(const std::string& text) override {
    if (text.rfind("Os pedidos serão expedidos", 0) == 0) {
      server::InProcessTransport other(object_, "ANA");
      DispatchEveryItem(
          other, other.Call(server::kServerName, "GetItensExpedicao", {"0001"}).result.AsPacket(),
          "F12345678909");
    }
    return ThroughPlayer::Question(text);
  }

 private:
  std::shared_ptr<server::rdmGradeDistribuicao> object_;
};

// A dispatch refused because another grid took the same items first: the
// clerk reads the refusal, and the grid, which no one can dispatch as it
// stands, is given back at once rather than holding its vehicles' room
// from the other clerks until this machine's next launch.
TEST(HostInteractive, ADispatchRefusedForItemsTakenFirstGivesItsGridBackAtOnce) {
  DispatchDay day;
  Player& player = day.player;
  DispatchedFirstElsewhere dialogs(
      player, std::make_shared<server::rdmGradeDistribuicao>(day.db.storage()));
  Display display;
  display.windows = &player;
  display.dialogs = &dialogs;
  const char* args[] = {"exp-host", "--db", day.db.path().c_str(), "--operator", "ANA"};
  std::ostringstream out, err;
  ASSERT_EQ(0, RunHost(ParseOptions(5, args), display, out, err)) << err.str();
  EXPECT_EQ(0, player.StepsLeft());
  ASSERT_EQ(1u, dialogs.errors().size());
  EXPECT_EQ(0u, dialogs.errors()[0].rfind("A grade 000001 não pode ser expedida", 0))
      << dialogs.errors()[0];
  EXPECT_NE(std::string::npos, out.str().find("grade 000001 recusada: descartada\n")) << out.str();
  std::string open;
  for (const server::OpenGrid& g : server::ListOpenGrids(*day.db.storage())) open += g.grid + " ";
  EXPECT_EQ("", open);
}

// A desktop killed with its grid open, staged by the grid its process left
// on the database: the same operator's next launch on the machine releases
// that grid, journals it and tells the clerk its number; a grid a live
// process holds stays open, and nothing is said.
TEST(HostInteractive, AGridADeadDesktopLeftIsReleasedAtLaunchAndTheClerkIsTold) {
  const std::string mark = server::ThisProcessMark();
  if (mark.empty()) GTEST_SKIP() << "this machine does not tell its processes";
  server::testing::TempDatabase db;
  server::LoadFixture(*db.storage(), server::testing::SmallFixture());
  auto object = std::make_shared<server::rdmGradeDistribuicao>(db.storage());
  // This process, with another start time: a process that no longer runs.
  const std::string dead = mark.substr(0, mark.rfind('|')) + "|1";
  server::InProcessTransport killed(object, "ANA", dead), alive(object, "ANA", mark);
  const std::string left =
      killed.Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();
  const std::string held =
      alive.Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();

  ui::ScriptedDialogs dialogs;
  OpenAndClose windows(dialogs);
  Display display;
  display.windows = &windows;
  display.dialogs = &dialogs;
  auto launch = [&] {
    dialogs.ClearLog();
    const char* args[] = {"exp-host", "--db", db.path().c_str(), "--operator", "ANA"};
    std::ostringstream out, err;
    EXPECT_EQ(0, RunHost(ParseOptions(5, args), display, out, err)) << err.str();
    return dialogs.Log().empty() ? std::string() : dialogs.Log().front();
  };
  server::OpenGrid released;
  released.grid = left;
  EXPECT_EQ("info: " + server::ReleasedGridsText({released}), launch());
  std::string open;
  for (const server::OpenGrid& g : server::ListOpenGrids(*db.storage())) open += g.grid + " ";
  EXPECT_EQ(held + " ", open);
  EXPECT_EQ(
      "question: Ao sair da tela todos os dados informados na grade serão perdidos. Deseja "
      "continuar ? -> yes",
      launch());
  EXPECT_EQ(held, server::ListOpenGrids(*db.storage()).at(0).grid);
  int journaled = 0;
  db.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
    journaled = static_cast<int>(
        s.Query("SELECT * FROM GRADELOG WHERE NMMETODO = 'LiberaGradeAbandonada' AND "
                "CDOPERADOR = 'ANA' AND NRGRADEDISTR = ?",
                {server::Value(left)})
            .size());
  });
  EXPECT_EQ(1, journaled);

  // A scripted session on that database says it in its trace, as a dialog
  // line of the kind the trace already has, before the first launch.
  const std::string again =
      killed.Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();
  const std::string session = db.path() + ".session.json", trace = db.path() + ".trace.jsonl";
  std::ofstream(session) << R"({"host": {"branch": "0001", "operator": "ANA"}, "steps": []})";
  const char* args[] = {"exp-host",      "--db",    db.path().c_str(), "--script",
                        session.c_str(), "--trace", trace.c_str()};
  std::ostringstream out, err;
  EXPECT_EQ(0, RunHost(ParseOptions(7, args), Display{}, out, err)) << err.str();
  std::ifstream lines(trace);
  std::string first;
  std::getline(lines, first);
  released.grid = again;
  EXPECT_EQ(json({{"dialog", "info"}, {"text", server::ReleasedGridsText({released})}}),
            json::parse(first));
  std::remove(session.c_str());
  std::remove(trace.c_str());
}

// The same over a networked server: the desktop names its process in its
// requests, and its next launch on this machine judges what its operator's
// dead processes hold.
TEST(HostInteractive, OverTheNetworkAGridADeadDesktopLeftIsReleasedAtLaunch) {
  const std::string mark = server::ThisProcessMark();
  if (mark.empty()) GTEST_SKIP() << "this machine does not tell its processes";
  server::testing::TempDatabase db;
  server::LoadFixture(*db.storage(), server::testing::SmallFixture());
  server::HttpServer server(std::make_shared<server::rdmGradeDistribuicao>(db.storage()),
                            server::HttpServerOptions{});
  const int port = server.Start();
  const std::string url = "http://127.0.0.1:" + std::to_string(port);
  const auto desktop = [&](const std::string& process) {
    server::HttpClientOptions options;
    options.operator_code = "ANA";
    options.process = process;
    return std::make_shared<server::HttpTransport>("127.0.0.1", port, options);
  };
  // This process with another start time is gone; another machine's
  // process cannot be judged from here.
  auto killed = desktop(mark.substr(0, mark.rfind('|')) + "|1");
  auto elsewhere = desktop("machine|host|boot|12|34");
  const std::string left =
      killed->Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();
  const std::string held =
      elsewhere->Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();

  ui::ScriptedDialogs dialogs;
  OpenAndClose windows(dialogs);
  Display display;
  display.windows = &windows;
  display.dialogs = &dialogs;
  const char* args[] = {"exp-host", "--server", url.c_str(), "--operator", "ANA"};
  std::ostringstream out, err;
  EXPECT_EQ(0, RunHost(ParseOptions(5, args), display, out, err)) << err.str();
  server::OpenGrid released;
  released.grid = left;
  ASSERT_FALSE(dialogs.Log().empty());
  EXPECT_EQ("info: " + server::ReleasedGridsText({released}), dialogs.Log().front());
  std::string open;
  for (const server::OpenGrid& g : server::ListOpenGrids(*db.storage())) open += g.grid + " ";
  EXPECT_EQ(held + " ", open);

  // A desktop stopped by the system gives back its own grid, and only its
  // own: another machine's stays held.
  auto self = desktop(mark);
  const std::string own = self->Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString();
  const std::vector<server::OpenGrid> given = ReleaseOwnGrids(*self, "0001", nullptr);
  ASSERT_EQ(1u, given.size());
  EXPECT_EQ(own, given[0].grid);
  open.clear();
  for (const server::OpenGrid& g : server::ListOpenGrids(*db.storage())) open += g.grid + " ";
  EXPECT_EQ(held + " ", open);

  // A server that cannot say leaves them to its idle release, and the
  // launch goes on.
  server.Stop();
  std::ostringstream log;
  EXPECT_TRUE(ReleaseAbandonedGrids(*killed, "0001", &log).empty());
  EXPECT_NE(std::string::npos, log.str().find("not released")) << log.str();
}

// A signal that stops the desktop runs the stopping work then in place
// (an inner one, gone, gives the outer one back) and ends the program with
// the signal's status.
TEST(HostInteractive, AStopSignalGivesBackBeforeTheProgramEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // One name for the test and its child, which runs the test again.
  const std::string marker = ::testing::TempDir() + "exp-stop-signal-work";
  std::remove(marker.c_str());
  const auto stopped = [&marker] {
    StopOnSignals();
    const StopWork outer([&marker] { std::ofstream(marker) << "outer"; });
    {
      const StopWork inner([&marker] { std::ofstream(marker) << "inner"; });
    }
    kill(getpid(), SIGTERM);
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  EXPECT_EXIT(stopped(), ::testing::ExitedWithCode(128 + SIGTERM), "");
  std::ifstream written(marker);
  std::string text;
  std::getline(written, text);
  EXPECT_EQ("outer", text);
  std::remove(marker.c_str());
}

// A session that ended while the screen was open: the refused call is made
// again, once, after the operator signed in again as the screen's own
// operator; another connection takes the new session without asking, and
// an operator who gives up gets the refusal, with nothing written.
TEST(HostSession, AnEndedSessionIsRenewedAsTheSameOperatorAndTheCallMadeOnce) {
  server::testing::TempDatabase db;
  server::SeedSignInDatabase(*db.storage());
  std::atomic<std::int64_t> now{1'800'000'000};
  server::SignInSettings settings;
  settings.idle = std::chrono::seconds(600);
  settings.failure_delay = std::chrono::milliseconds(0);
  settings.clock = [&now] { return now.load(); };
  server::HttpServerOptions options;
  options.signin = std::make_shared<server::SignInService>(db.storage(), settings);
  server::HttpServer server(std::make_shared<server::rdmGradeDistribuicao>(db.storage()), options);
  const int port = server.Start();
  const std::string url = "http://127.0.0.1:" + std::to_string(port);
  auto grids = [&] {
    int n = 0;
    db.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
      n = static_cast<int>(s.Query("SELECT * FROM GRADEDISTR").size());
    });
    return n;
  };

  std::vector<std::pair<std::string, std::string>> answers = {{"ANA", server::kPassword}};
  std::vector<std::string> asked;
  const AskSignIn ask =
      [&](const std::string&, const std::string& code,
          const std::string& why) -> std::optional<std::pair<std::string, std::string>> {
    asked.push_back(code + ": " + why);
    if (answers.empty()) return std::nullopt;
    auto next = answers.front();
    answers.erase(answers.begin());
    return next;
  };
  ::unsetenv("EXP_PASSWORD");
  const char* args[] = {"exp-host", "--server", url.c_str(), "--operator", "ANA"};
  server::HttpClientOptions client;
  std::string code;
  auto http = ConnectServer(ParseOptions(5, args), ask, &client, &code);
  auto renewal = std::make_shared<SessionRenewal>(http, url, code, ask);
  RenewingTransport screen(http, renewal);
  RenewingTransport other(std::make_shared<server::HttpTransport>("127.0.0.1", port, client),
                          renewal);
  EXPECT_EQ("000001", screen.Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString());

  now += 601;
  answers = {{"ZE", server::kPassword}, {"ANA", "senha errada"}, {"ANA", server::kPassword}};
  asked.clear();
  EXPECT_EQ("000002", screen.Call(server::kServerName, "PrxNrGrade", {"0001"}).result.ToString());
  EXPECT_EQ((std::vector<std::string>{"ANA: Sessão encerrada ou expirada. Entre de novo.",
                                      "ANA: Esta tela é do operador ANA: entre como ANA.",
                                      "ANA: Operador ou senha inválidos."}),
            asked);
  EXPECT_EQ(2, grids());
  EXPECT_NO_THROW(other.Call(server::kServerName, "GetParametros", {"0001"}));
  EXPECT_EQ(3u, asked.size()) << "the other connection took the new session";

  now += 601;
  try {
    screen.Call(server::kServerName, "PrxNrGrade", {"0001"});
    ADD_FAILURE() << "called without a session";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ(server::kSessionEnded, std::string(e.what()));
  }
  EXPECT_EQ(2, grids());

  // At launch without --operator, a refused sign-in asks again with the
  // operator the clerk typed (before, the dialog came back empty).
  answers = {{"ANA", "senha errada"}, {"ANA", server::kPassword}};
  asked.clear();
  const char* unnamed[] = {"exp-host", "--server", url.c_str()};
  EXPECT_NO_THROW(ConnectServer(ParseOptions(3, unnamed), ask, &client, &code));
  EXPECT_EQ((std::vector<std::string>{": ", "ANA: Operador ou senha inválidos."}), asked);
}

// A session to play through the window, where the program has no view to
// show it on (built without Qt): status 2, the reason on the terminal and
// as the trace's one line, and the session not played headless instead.
TEST(HostSession, ThroughTheWindowWithoutTheViewGivesStatusTwo) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("exp-window-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string session = (dir / "s.json").string(), trace = (dir / "t.jsonl").string();
  std::ofstream(session) << R"({"host": {"branch": "0001"}, "steps": [{"focus": "DBGrid1"}]})";
  const char* args[] = {"exp-host", "--script",    session.c_str(),
                        "--trace",  trace.c_str(), "--through-window"};
  std::ostringstream out, err;
  EXPECT_EQ(2, RunHost(ParseOptions(6, args), Display{}, out, err));
  EXPECT_NE(std::string::npos, err.str().find("--through-window needs the Qt view")) << err.str();
  std::ifstream lines(trace);
  std::string first, second;
  std::getline(lines, first);
  EXPECT_FALSE(std::getline(lines, second));
  EXPECT_EQ(0u, first.find(R"({"failure":"--through-window needs the Qt view)")) << first;
  EXPECT_EQ("", out.str());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dg::host
