#include "host/host.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/storage.h"
#include "appserver/transport.h"
#include "contracts/net_connection.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "data/item_fields.h"
#include "data/json_text.h"
#include "host/session.h"

#ifndef EXP_HOST_DEMO_FIXTURE
#define EXP_HOST_DEMO_FIXTURE "fixtures/demo.json"
#endif

namespace dg::host {

namespace fs = std::filesystem;
using nlohmann::json;

// ---- options ---------------------------------------------------------------

const char* UsageText() {
  return "usage: exp-host [--db FILE] [--server http://HOST:PORT] [--branch CODE]\n"
         "                [--operator CODE] [--script SESSION.json --trace TRACE.jsonl\n"
         "                [--screenshots DIR]] [--help]\n"
         "\n"
         "Without --script the screen opens on the display, on the database FILE\n"
         "(default out/demo.db, created with the demonstration data on first use).\n"
         "With --script the session is played without a display on a fresh database\n"
         "seeded from the session's fixture; the trace goes to --trace.\n"
         "Exit status: 0 done, 1 an expectation failed, 2 the session, fixture or\n"
         "arguments could not be used.\n";
}

Options ParseOptions(int argc, const char* const* argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      out = argv[++i];
    };
    if (arg == "--db")
      value(o.db);
    else if (arg == "--server")
      value(o.server);
    else if (arg == "--branch") {
      value(o.branch);
      o.branch_given = true;
    } else if (arg == "--operator") {
      value(o.operator_code);
      o.operator_given = true;
    } else if (arg == "--script")
      value(o.script);
    else if (arg == "--trace")
      value(o.trace);
    else if (arg == "--screenshots")
      value(o.screenshots);
    else if (arg == "--help" || arg == "-h")
      o.help = true;
    else
      throw UsageError("unknown argument " + arg);
  }
  if (!o.script.empty() && o.trace.empty()) throw UsageError("--script needs --trace");
  if (o.script.empty() && (!o.trace.empty() || !o.screenshots.empty())) {
    throw UsageError("--trace and --screenshots go with --script");
  }
  if (!o.server.empty()) ParseServerUrl(o.server);
  return o;
}

std::pair<std::string, int> ParseServerUrl(const std::string& url) {
  std::string rest = url;
  if (rest.rfind("http://", 0) == 0) rest = rest.substr(7);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const auto colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || rest.find('/') != std::string::npos) {
    throw UsageError("--server needs http://HOST:PORT, not " + url);
  }
  int port = 0;
  try {
    std::size_t used = 0;
    port = std::stoi(rest.substr(colon + 1), &used);
    if (used != rest.size() - colon - 1) port = 0;
  } catch (const std::exception&) {
  }
  if (port <= 0 || port > 65535) throw UsageError("bad port in --server " + url);
  return {rest.substr(0, colon), port};
}

// ---- host services, launch -------------------------------------------------

HostServices::HostServices(ModuleLoader& modules) {
  loader = [this, &modules](const std::string& module, const data::VariantArray& args) {
    if (on_module) on_module(module, args);
    modules.IniProc(module)(args);
  };
}

data::DataPacket ItemsFromRows(const json& rows) {
  data::DataPacket packet;
  packet.fields = data::ItemPacketFields();
  int n = 0;
  for (const json& row : rows) {
    ++n;
    const auto fail = [&](const std::string& what) {
      throw SessionError("launch.items row " + std::to_string(n) + ": " + what);
    };
    std::vector<data::Variant> cells(packet.fields.size(), data::Variant::Null());
    for (const auto& [name, value] : row.items()) {
      const int index = packet.FieldIndex(name);
      if (index < 0) fail("unknown item field '" + name + "'");
      const data::FieldDef& field = packet.fields[index];
      data::Variant cell = data::Variant::Null();
      if (value.is_null()) {
      } else if (field.type == data::FieldType::Double && value.is_number()) {
        cell = value.get<double>();
      } else if (field.type == data::FieldType::Integer && value.is_number_integer()) {
        cell = value.get<std::int64_t>();
      } else if (field.type == data::FieldType::DateTime && value.is_string()) {
        data::DateTime date;
        if (!data::DateTime::TryFromIso(value.get<std::string>(), &date)) {
          fail(name + " must be a date \"YYYY-MM-DD\"");
        }
        cell = date;
      } else if ((field.type == data::FieldType::String || field.type == data::FieldType::Memo) &&
                 value.is_string()) {
        cell = value.get<std::string>();
      } else {
        fail("bad value for " + name + ": " + value.dump());
      }
      try {
        data::CheckCell(field, cell);
      } catch (const Error& e) {
        fail(e.what());
      }
      cells[index] = cell;
    }
    packet.rows.push_back(std::move(cells));
  }
  return packet;
}

data::VariantArray LaunchArray(const data::DataPacket& items, HandBack& v) {
  return data::VariantArray(
      {data::Variant(items), data::Variant::RefTo(&v.PboOpcao),
       data::Variant::RefTo(&v.PNrGradeDistr), data::Variant::RefTo(&v.PstNrInsc),
       data::Variant::RefTo(&v.PstTpTrans), data::Variant::RefTo(&v.PstIdFrete)},
      0);
}

void PrintHandBack(std::ostream& out, const HandBack& v) {
  out << "PboOpcao: " << (v.PboOpcao ? "true" : "false") << "\n"
      << "PNrGradeDistr: " << v.PNrGradeDistr << "\n"
      << "PstNrInsc: " << v.PstNrInsc << "\n"
      << "PstTpTrans: " << v.PstTpTrans << "\n"
      << "PstIdFrete: " << v.PstIdFrete << "\n";
}

// ---- the run ---------------------------------------------------------------

namespace {

// Bounded in nesting: the fixture is printed when it is posted to a server.
json ReadFixture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SessionError("cannot read the fixture " + path);
  std::stringstream text;
  text << in.rdbuf();
  try {
    return data::ParseJson(text.str());
  } catch (const data::JsonTextError& e) {
    throw SessionError("the fixture " + path + ": " + e.what());
  }
}

std::string DemoFixture() {
  if (fs::exists(EXP_HOST_DEMO_FIXTURE)) return EXP_HOST_DEMO_FIXTURE;
  return "fixtures/demo.json";
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "exp-host-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw Error("cannot create a temporary folder");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The application server and the host's database, set up for one run, and
// every process-wide hook the run sets, cleared again at its end.
class Backend {
 public:
  // `fixture`: seed afresh (a session); none: seed the database only when
  // it holds no data yet.
  Backend(const Options& o, const std::string& db, const std::optional<json>& fixture,
          HostServices& services) {
    auto storage = server::OpenSqliteStorage(db);
    if (fixture) {
      server::LoadFixture(*storage, *fixture);
    } else if (server::IsUnseeded(*storage)) {
      server::LoadFixtureFile(*storage, DemoFixture());
    }
    if (o.server.empty()) {
      transport_ = std::make_shared<server::InProcessTransport>(
          std::make_shared<server::rdmGradeDistribuicao>(storage), services.operator_code);
      contracts::TNetConnection::SetTransportFactory(
          [t = transport_](const std::string&, int) { return t; });
    } else {
      const auto [host, port] = ParseServerUrl(o.server);
      services.url = host;
      services.port = port;
      server::HttpClientOptions client;
      client.operator_code = services.operator_code;
      auto http = std::make_shared<server::HttpTransport>(host, port, client);
      if (fixture) http->PostFixture(*fixture);
      transport_ = http;
      contracts::TNetConnection::SetTransportFactory([client](const std::string& h, int p) {
        return std::make_shared<server::HttpTransport>(h, p, client);
      });
    }
    storage.reset();
    lookups_ = std::make_unique<contracts::SqliteConnection>(db);
    contracts::SetDefaultDatabase(lookups_.get());
    contracts::Halvorn::SetHost(&services);
  }
  ~Backend() {
    contracts::Halvorn::SetHost(nullptr);
    contracts::SetDefaultDatabase(nullptr);
    contracts::TNetConnection::SetTransportFactory(nullptr);
    contracts::TNetConnection::Observer() = nullptr;
    contracts::TADOIBQuery::Observer() = nullptr;
    ui::App().on_error_report = nullptr;
  }
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  data::Variant Call(const std::string& method, std::vector<data::Variant> args) {
    return transport_->Call(server::kServerName, method, args).result;
  }

 private:
  std::shared_ptr<data::CallTransport> transport_;
  std::unique_ptr<contracts::SqliteConnection> lookups_;
};

// One launch: IniProc with fresh caller variables; a failure that escapes
// the screen goes to the application's error report.
HandBack Launch(const ScreenModule& module, const data::DataPacket& items) {
  HandBack values;
  const data::VariantArray array = LaunchArray(items, values);
  try {
    module.ini_proc(array);
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
  return values;
}

// After a confirmed dispatch the grid is marked as dispatched.
void Dispatch(Backend& backend, const ScreenModule& module, const HostServices& services,
              const HandBack& values, std::ostream& out) {
  if (!values.PboOpcao) return;
  std::string branch = services.branch;
  data::Variant global;
  if (module.global && module.global("stFilial", &global) && !global.IsEmptyOrNull()) {
    branch = global.ToString();
  }
  try {
    backend.Call("ExpedirGrade", {branch, values.PNrGradeDistr, services.operator_code});
    out << "grade " << values.PNrGradeDistr << " expedida\n";
  } catch (const std::exception& e) {
    ui::App().HandleException(std::current_exception());
  }
}

int RunSession(const Options& o, const Display& display, std::ostream& out, std::ostream& err) {
  std::ofstream trace_file(o.trace, std::ios::trunc);
  if (!trace_file) {
    err << "exp-host: cannot write the trace " << o.trace << "\n";
    return 2;
  }
  Trace trace(&trace_file);
  const auto fail = [&](const std::string& text) {
    trace.Drop();
    trace.Write(FailureEvent(text));
    err << "exp-host: " << text << "\n";
    return 2;
  };
  if (!o.screenshots.empty() && !display.screenshot) {
    return fail("--screenshots needs the Qt view, which this build does not have");
  }
  Session session;
  json fixture;
  data::DataPacket rows;
  try {
    session = LoadSession(o.script);
    fixture = ReadFixture(session.fixture_path);
    if (session.launch_items.is_array()) rows = ItemsFromRows(session.launch_items);
    if (!o.screenshots.empty()) fs::create_directories(o.screenshots);
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  ModuleLoader loader(DefaultModuleDir());
  HostServices services(loader);
  services.branch = session.branch.value_or(o.branch);
  services.operator_code = session.operator_code.value_or(o.operator_code);
  services.picture = session.picture.value_or("");
  std::optional<TempDir> temp;
  std::unique_ptr<Backend> backend;
  ScreenModule module;
  data::DataPacket items;
  try {
    std::string db = o.db;
    if (db.empty()) {
      temp.emplace();
      db = temp->Path() + "/session.db";
    }
    backend = std::make_unique<Backend>(o, db, fixture, services);
    module = LoadScreenModule(loader);
    items = session.launch_items.is_array() ? rows
                                            : backend->Call("GetItensExpedicao", {""}).AsPacket();
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  const GlobalLookup globals = [&module](const std::string& name, data::Variant* value) {
    return module.global != nullptr && module.global(name.c_str(), value);
  };
  Player player(session, trace, globals);
  if (!o.screenshots.empty()) player.SetScreenshots(o.screenshots, display.screenshot);
  ui::ScopedDialogs scoped(&player, &player);
  contracts::TNetConnection::Observer() = [&trace](const contracts::CallRecord& call) {
    trace.Write(CallEvent(call));
  };
  contracts::TADOIBQuery::Observer() = [&trace](const contracts::QueryRecord& query) {
    trace.Write(QueryEvent(query));
  };
  services.on_module = [&trace](const std::string& name, const data::VariantArray& args) {
    trace.Write(ModuleEvent(name, args));
  };
  ui::App().on_error_report = [&trace](const std::string& text) {
    trace.Write(FailureEvent(text));
  };

  // Nothing reaches the trace until the session's names are known to hold.
  trace.Hold();
  for (int launch = 0; launch <= session.relaunch; ++launch) {
    const HandBack values = Launch(module, items);
    if (player.Invalid()) return fail(*player.Invalid());
    trace.Release();
    Dispatch(*backend, module, services, values, out);
    trace.Write(ResultEvent(values));
    PrintHandBack(out, values);
  }
  if (player.StepsLeft() > 0) {
    err << "exp-host: the screen closed for good before the last " << player.StepsLeft()
        << " step(s)\n";
  }
  return player.ExpectationFailed() ? 1 : 0;
}

int RunInteractive(const Options& o, const Display& display, std::ostream& out, std::ostream& err) {
  if (display.windows == nullptr || display.dialogs == nullptr) {
    err << "exp-host: there is no display to show the screen on.\n"
           "To watch the demonstration without one, play the shipped session:\n"
           "  bash scripts/run.sh\n"
           "or\n"
           "  build/bin/exp-host --script examples/demo-session.json --trace "
           "out/demo-trace.jsonl\n";
    return 2;
  }
  ModuleLoader loader(DefaultModuleDir());
  HostServices services(loader);
  services.branch = o.branch;
  services.operator_code = o.operator_code;
  try {
    std::string db = o.db.empty() ? "out/demo.db" : o.db;
    if (fs::path(db).has_parent_path()) fs::create_directories(fs::path(db).parent_path());
    Backend backend(o, db, std::nullopt, services);
    const ScreenModule module = LoadScreenModule(loader);
    const data::DataPacket items = backend.Call("GetItensExpedicao", {o.branch}).AsPacket();
    ui::ScopedDialogs scoped(display.dialogs, display.windows);
    const HandBack values = Launch(module, items);
    Dispatch(backend, module, services, values, out);
    PrintHandBack(out, values);
  } catch (const std::exception& e) {
    err << "exp-host: " << e.what() << "\n";
    return 2;
  }
  return 0;
}

}  // namespace

int RunHost(const Options& o, const Display& display, std::ostream& out, std::ostream& err) {
  if (o.help) {
    out << UsageText();
    return 0;
  }
  return o.script.empty() ? RunInteractive(o, display, out, err) : RunSession(o, display, out, err);
}

}  // namespace dg::host
