#include "host/host.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "appserver/command_line.h"
#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/grid_activity.h"
#include "appserver/process_mark.h"
#include "appserver/storage.h"
#include "appserver/transport.h"
#include "contracts/net_connection.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "data/item_fields.h"
#include "data/json_text.h"
#include "host/day_runs.h"
#include "host/manifest.h"
#include "host/server_connection.h"
#include "host/server_lookups.h"
#include "host/session.h"
#include "host/stop_signal.h"

#ifndef EXP_HOST_DEMO_FIXTURE
#define EXP_HOST_DEMO_FIXTURE "fixtures/demo.json"
#endif

namespace dg::host {

namespace fs = std::filesystem;
using nlohmann::json;

// ---- options ---------------------------------------------------------------

namespace {

constexpr char kHelpFooter[] =
    "Without --script the screen opens on the display, on the database FILE\n"
    "(default out/demo.db, created with the demonstration data on first use).\n"
    "With --script the session is played without a display on a fresh database\n"
    "seeded from the session's fixture (on --db as it stands when the session\n"
    "names no fixture); the trace goes to --trace. --through-window plays it as\n"
    "mouse and key events on the real window (offscreen without a display); its\n"
    "trace is the headless one's. A confirmed dispatch leaves\n"
    "the grid's loading manifest in --manifest-dir (default out/ on the display).\n"
    "--import reads CSV files into the database; --manifest prints a grid's\n"
    "loading manifest as PDF (--vehicle: one vehicle's pages).\n"
    "With the server in process, open grids nobody has written to for\n"
    "--release-idle-grids minutes (default 240, 0: never) are released while the\n"
    "screen is open, and a grid this operator left open on this branch from a\n"
    "session that died on this machine is released at launch, with a message.\n"
    "A server that requires sign-in asks for operator and password on the\n"
    "display; a scripted run signs in as --operator with the password in\n"
    "EXP_PASSWORD or the first line of --password-file.\n"
    "Exit status: 0 done, 1 an expectation failed (an import: a file was\n"
    "refused), 2 the session, fixture, files or arguments could not be used.\n";

// exp-host's options, defined once for parsing, --help and the usage line.
// What the words are read into before they are checked.
struct HostLine {
  Options o;
  bool importing = false;
  std::string idle_minutes = "240";
  server::CommandLine line{"exp-host",
                           "Shows the dispatch distribution grid, plays a session, imports or "
                           "prints."};
  CLI::Option *branch = nullptr, *operator_code = nullptr;

  HostLine() {
    line.Value("--db", &o.db, "FILE|postgresql://...",
               "the database (default out/demo.db; a session: a fresh temporary file)");
    line.Value("--server", &o.server, "http[s]://HOST:PORT",
               "a running application server (default: the server in process)");
    line.Value("--ca", &o.ca_file, "FILE", "a private authority's certificate for https");
    branch = line.Value("--branch", &o.branch, "CODE", "the branch");
    operator_code = line.Value("--operator", &o.operator_code, "CODE", "the operator");
    line.Value("--password-file", &o.password_file, "FILE",
               "the operator's password for a scripted run (else EXP_PASSWORD)");
    line.Value("--manifest-dir", &o.manifest_dir, "DIR",
               "where a confirmed dispatch leaves its loading manifest");
    line.Value("--release-idle-grids", &idle_minutes, "MINUTES",
               "releases open grids idle that long (0: never)");
    line.Value("--script", &o.script, "SESSION.json", "plays a scripted session");
    line.Value("--trace", &o.trace, "TRACE.jsonl", "where the session's trace goes");
    line.Flag("--through-window", &o.through_window,
              "plays the session as input on the real window");
    line.Value("--screenshots", &o.screenshots, "DIR", "a picture of each step of the session");
    line.Flag("--import", &importing, "imports the CSV files named into --db and ends");
    line.Flag("--dry-run", &o.dry_run, "with --import: checks everything, stores nothing");
    line.Flag("--accept-large-changes", &o.accept_large_changes,
              "with --import: takes vehicle capacities that change more than ten times over");
    line.Value("--manifest", &o.manifest_grid, "GRID", "prints the grid's loading manifest");
    line.Value("--vehicle", &o.manifest_vehicle, "CODE", "with --manifest: one vehicle's pages");
    line.Value("--out", &o.manifest_out, "FILE.pdf", "with --manifest: the PDF file");
    line.Words("FILE.csv", &o.import_files, "the files --import reads");
    line.app().footer(kHelpFooter);
  }
};

}  // namespace

std::string UsageText() { return HostLine().line.Help(); }

Options ParseOptions(int argc, const char* const* argv) {
  HostLine h;
  switch (h.line.Read(argc, argv)) {
    case server::CommandLine::Outcome::kHelp:
      h.o.help = true;
      return h.o;
    case server::CommandLine::Outcome::kRefused:
      throw UsageError(h.line.why());
    case server::CommandLine::Outcome::kRun:
      break;
  }
  Options& o = h.o;
  o.branch_given = h.branch->count() > 0;
  o.operator_given = h.operator_code->count() > 0;
  // The files follow --import; a word that is no option's means nothing
  // without it.
  if (!h.importing && !o.import_files.empty()) {
    throw UsageError("unknown argument " + o.import_files.front());
  }
  if (h.importing && o.import_files.empty()) {
    throw UsageError("--import needs one or more CSV files");
  }
  if (h.line.app().count("--manifest") > 0 &&
      o.manifest_grid.find_first_not_of(' ') == std::string::npos) {
    throw UsageError("--manifest needs a grid number");
  }
  const auto idle = server::ReadIdleMinutes(h.idle_minutes);
  if (!idle) throw UsageError(server::kIdleMinutesUsage);
  o.release_idle_minutes = *idle;
  if (!o.script.empty() && o.trace.empty()) throw UsageError("--script needs --trace");
  if (o.script.empty() && (!o.trace.empty() || !o.screenshots.empty() || o.through_window)) {
    throw UsageError("--trace, --screenshots and --through-window go with --script");
  }
  if (!o.server.empty()) ParseServerUrl(o.server);
  if (!o.ca_file.empty() && !IsHttpsUrl(o.server))
    throw UsageError("--ca goes with --server https://");
  const bool importing = !o.import_files.empty(), printing = !o.manifest_grid.empty();
  if (importing && o.db.empty()) throw UsageError("--import needs --db, the database to fill");
  if (o.dry_run && !importing) throw UsageError("--dry-run goes with --import");
  if (o.accept_large_changes && !importing) {
    throw UsageError("--accept-large-changes goes with --import");
  }
  if (printing && o.manifest_out.empty()) throw UsageError("--manifest needs --out FILE.pdf");
  if (!o.manifest_out.empty() && !printing) throw UsageError("--out goes with --manifest");
  if (!o.manifest_vehicle.empty() && !printing) {
    throw UsageError("--vehicle goes with --manifest");
  }
  if ((importing || printing) && !o.script.empty()) {
    throw UsageError("--import and --manifest do not go with --script");
  }
  if (importing && printing) throw UsageError("--import and --manifest are separate runs");
  return o;
}

bool IsHttpsUrl(const std::string& url) { return url.rfind("https://", 0) == 0; }

std::pair<std::string, int> ParseServerUrl(const std::string& url) {
  std::string rest = url;
  if (rest.rfind("http://", 0) == 0) rest = rest.substr(7);
  if (IsHttpsUrl(rest)) rest = rest.substr(8);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const auto colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || rest.find('/') != std::string::npos) {
    throw UsageError("--server needs http://HOST:PORT or https://HOST:PORT, not " + url);
  }
  int port = 0;
  try {
    std::size_t used = 0;
    port = std::stoi(rest.substr(colon + 1), &used);
    if (used != rest.size() - colon - 1) port = 0;
  } catch (const std::exception&) {
  }
  if (port <= 0 || port > 65535) throw UsageError("bad port in --server " + url);
  std::string host = rest.substr(0, colon);
  // An IPv6 address stands in brackets in a URL, not in the address looked up.
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return {host, port};
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
  try {
    return server::ReadFixtureFile(path);
  } catch (const server::FixtureError& e) {
    throw SessionError(e.what());
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

// How a run seeds its database.
enum class Seed {
  kFixture,        // afresh from the session's fixture
  kDemoWhenEmpty,  // with the demonstration data when it holds none yet
  kNone,           // as it stands (a session on a distributor's own data)
};

// The application server and the host's database, set up for one run, and
// every process-wide hook the run sets, cleared again at its end.
class Backend {
 public:
  // `faults`: every call goes through the plan first. `idle_log`: where the
  // in-process server's release of idle grids reports (null: a scripted
  // run, which does not release by the clock).
  Backend(const Options& o, const std::string& db, Seed seed, const json& fixture,
          HostServices& services, std::shared_ptr<FaultPlan> faults = nullptr,
          const AskSignIn& ask_sign_in = nullptr, std::ostream* idle_log = nullptr) {
    const auto wrap = [faults](std::shared_ptr<data::CallTransport> transport)
        -> std::shared_ptr<data::CallTransport> {
      if (!faults) return transport;
      return std::make_shared<FaultyTransport>(std::move(transport), faults);
    };
    auto storage = server::OpenStorage(db);
    if (seed == Seed::kFixture) {
      server::LoadFixture(*storage, fixture);
    } else if (seed == Seed::kDemoWhenEmpty && server::IsUnseeded(*storage)) {
      server::LoadFixtureFile(*storage, DemoFixture());
    }
    if (o.server.empty()) {
      // In process, this program alone holds the grids it writes: each one
      // names this process, so that a launch after a death of this program
      // gives their room back, and idle ones are released as a networked
      // server releases them.
      released_ = server::ReleaseAbandonedGrids(*storage, services.branch, services.operator_code,
                                                server::ProcessIsGone);
      if (idle_log != nullptr && o.release_idle_minutes > 0) {
        releaser_.emplace(storage, std::chrono::minutes(o.release_idle_minutes),
                          [idle_log](const std::string& line) { *idle_log << line << std::endl; });
      }
      release_own_ = [storage, branch = services.branch,
                      operator_code = services.operator_code](std::ostream*) {
        const std::string& self = server::ThisProcessMark();
        return server::ReleaseAbandonedGrids(
            *storage, branch, operator_code,
            [&self](const std::string& process) { return process == self; });
      };
      transport_ = wrap(std::make_shared<server::InProcessTransport>(
          std::make_shared<server::rdmGradeDistribuicao>(storage), services.operator_code,
          server::ThisProcessMark()));
      contracts::TNetConnection::SetTransportFactory(
          [t = transport_](const std::string&, int) { return t; });
    } else {
      const auto [host, port] = ParseServerUrl(o.server);
      services.url = host_ = host;
      services.port = port_ = port;
      server::HttpClientOptions client;
      // The grids this program writes name its process over the network
      // too, so that a launch after its death gives their room back.
      client.process = server::ThisProcessMark();
      // The operator given on the command line signs in, whatever a
      // session file names.
      Options signing = o;
      if (!o.operator_given) signing.operator_code = services.operator_code;
      auto http = ConnectServer(signing, ask_sign_in, &client, &services.operator_code);
      signed_in_ = !client.session_token.empty();
      // A session that names a fixture starts from it, as it does in
      // process: the grids a run before it dispatched go too, by request.
      if (seed == Seed::kFixture) http->PostFixture(fixture, /*discard_dispatched=*/true);
      released_ = ReleaseAbandonedGrids(*http, services.branch, idle_log);
      // On the desktop an ended session is renewed in the middle of the
      // work; a scripted run has nobody to ask.
      std::shared_ptr<SessionRenewal> renewal;
      if (signed_in_ && ask_sign_in) {
        renewal =
            std::make_shared<SessionRenewal>(http, o.server, services.operator_code, ask_sign_in);
      }
      const auto renewing = [renewal](std::shared_ptr<server::HttpTransport> transport)
          -> std::shared_ptr<data::CallTransport> {
        if (!renewal) return transport;
        return std::make_shared<RenewingTransport>(std::move(transport), renewal);
      };
      transport_ = wrap(renewing(http));
      // Given back on a connection of its own, with short waits: the
      // screen's may be in the middle of a call.
      release_own_ = [client, renewal, host = host_, port = port_,
                      branch = services.branch](std::ostream* log) {
        server::HttpClientOptions options = client;
        if (renewal) options.session_token = renewal->token();
        options.connect_timeout = std::chrono::seconds(2);
        options.read_timeout = std::chrono::seconds(5);
        server::HttpTransport http(host, port, options);
        return ReleaseOwnGrids(http, branch, log);
      };
      contracts::TNetConnection::SetTransportFactory(
          [client, wrap, renewing, renewal](const std::string& h, int p) {
            server::HttpClientOptions options = client;
            if (renewal) options.session_token = renewal->token();
            return wrap(renewing(std::make_shared<server::HttpTransport>(h, p, options)));
          });
    }
    storage.reset();
    // Over a networked server the look-ups ask it too: the desktop's own
    // database would answer from other data than the grid's.
    if (o.server.empty()) {
      lookups_ = OpenLookups(db);
    } else {
      lookups_ = std::make_unique<ServerLookups>(transport_);
    }
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

  // The host's own calls go through a connection as the screen's do, so the
  // trace and the session's faults see them alike.
  data::Variant Call(const std::string& method, const std::vector<contracts::CallArg>& args) {
    contracts::TNetConnection net("netHost");
    net.server_name = server::kServerName;
    net.host = host_;
    net.port = port_;
    net.Connect();
    return net.Call(method, args);
  }
  data::CallTransport& transport() { return *transport_; }
  // Whether an operator signed in to the server (calls are held to the
  // operator's branches).
  bool signed_in() const { return signed_in_; }
  // The grids this operator's dead sessions left open, released at start.
  const std::vector<server::OpenGrid>& released() const { return released_; }
  // Gives back the grids this process holds; safe to run on another thread
  // and after this object is gone. `log` hears what could not be done.
  std::function<std::vector<server::OpenGrid>(std::ostream* log)> own_grids_release() const {
    return release_own_;
  }

 private:
  std::vector<server::OpenGrid> released_;
  std::function<std::vector<server::OpenGrid>(std::ostream*)> release_own_;
  std::optional<server::IdleGridReleaser> releaser_;
  std::shared_ptr<data::CallTransport> transport_;
  std::string host_;  // the server's address over HTTP; empty in process
  int port_ = 0;
  std::unique_ptr<contracts::DatabaseConnection> lookups_;
  bool signed_in_ = false;
};

// One launch: IniProc with the caller variables `values`; a failure that
// escapes the screen goes to the application's error report.
void Launch(const ScreenModule& module, const data::DataPacket& items, HandBack& values) {
  const data::VariantArray array = LaunchArray(items, values);
  try {
    module.ini_proc(array);
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
}

// A text global of the screen module, or "".
std::string ModuleText(const ScreenModule& module, const char* name) {
  data::Variant value;
  if (module.global && module.global(name, &value) && !value.IsEmptyOrNull()) {
    return value.ToString();
  }
  return "";
}

// Writes the manifest where the clerk or --manifest-dir says (`folder`, made
// when missing). A failure reaches the clerk in Portuguese, after what was
// done (`done`: the dispatch) and saying what to check, with the cause in
// brackets for whoever supports them.
void WriteManifest(const Display& display, const std::string& done, const std::string& folder,
                   const std::string& path, const ui::Report& report) {
  try {
    if (!folder.empty()) fs::create_directories(folder);
    display.write_pdf(report, path);
  } catch (const std::exception& e) {
    throw Error(done + "O romaneio de carga não pôde ser gravado em " + path +
                ": verifique se a pasta existe e se pode ser gravada. (" + e.what() + ")");
  }
}

// Where a dispatch left the grid's loading manifests: the whole grid's, then
// each vehicle's (vehicle code, path).
struct Manifests {
  std::string whole;
  std::vector<std::pair<std::string, std::string>> vehicles;
};

// The clerk's message after a dispatch: the grid, and where each vehicle's
// manifest was written.
std::string DispatchText(const std::string& grid, const Manifests& manifests) {
  std::string text = "A grade " + grid + " foi expedida.";
  if (manifests.whole.empty()) return text;
  text += " Romaneio de carga da grade: " + manifests.whole + ".";
  for (const auto& [vehicle, path] : manifests.vehicles) {
    text += "\nVeículo " + vehicle + ": " + path;
  }
  return text;
}

// The grid of a refused dispatch given back; what could not be done is
// left to the next launch, as after a kill.
void GiveBackRefused(const Backend& backend, const std::string& grid, std::ostream& out) {
  const auto release = backend.own_grids_release();
  if (!release) return;
  try {
    for (const server::OpenGrid& g : release(&out)) {
      if (g.grid == grid) out << "grade " << grid << " recusada: descartada\n";
    }
  } catch (const std::exception& e) {
    out << "exp-host: the grid " << grid << " was not released (" << e.what() << ")\n";
  }
}

// After a confirmed dispatch the host records it on the server (the grid
// marked dispatched with the transport type and freight mode handed back,
// and what it carries of each item), and leaves its loading manifests in
// `manifest_dir` (when one is named and the view can print): the whole
// grid's and one per vehicle. Answers the clerk's message; none when
// nothing was dispatched or the dispatch was refused (the refusal went to
// the error report). With `ask_again` (the desktop), a hand-off that did not
// run (the server unreachable, the connection lost, the server too busy to
// take it) is offered again until the clerk gives up: it is safe to repeat,
// and a grid left undispatched is discarded, its whole distribution with
// it, at the next launch. A hand-off the server ran and refused (another
// grid dispatched the same items first) leaves a grid no one can dispatch
// as it stands, on a screen already closed: it is given back at once, so
// that its vehicles' room is free for the other clerks now.
std::optional<std::string> Dispatch(Backend& backend, const ScreenModule& module,
                                    const HostServices& services, const HandBack& values,
                                    const Display& display, const std::string& manifest_dir,
                                    std::ostream& out, bool ask_again) {
  if (!values.PboOpcao) return std::nullopt;
  std::string branch = ModuleText(module, "stFilial");
  if (branch.empty()) branch = services.branch;
  const std::string& grid = values.PNrGradeDistr;
  for (;;) {
    try {
      const data::Variant recorded = backend.Call(
          "ExpedirGrade",
          {branch, grid, services.operator_code, values.PstTpTrans, values.PstIdFrete});
      // A repeated hand-off finds the grid dispatched and changes nothing.
      if (recorded.Kind() == data::VariantKind::Bool && !recorded.ToBool()) {
        out << "grade " << grid << " já estava expedida: nada alterado\n";
        return "A grade " + grid + " já estava expedida: nada foi alterado.";
      }
      out << "grade " << grid << " expedida\n";
      break;
    } catch (const std::exception& e) {
      const bool not_run = dynamic_cast<const data::TransportError*>(&e) != nullptr ||
                           dynamic_cast<const data::CallNotRunError*>(&e) != nullptr;
      if (not_run && ask_again &&
          ui::App().Dlg().Question("A grade " + grid + " ainda não foi expedida: " + e.what() +
                                   "\nTentar expedir de novo?") == ui::Answer::Yes) {
        continue;
      }
      ui::App().HandleException(std::current_exception());
      if (!not_run) GiveBackRefused(backend, grid, out);
      return std::nullopt;
    }
  }
  Manifests manifests;
  if (manifest_dir.empty() || !display.write_pdf) return DispatchText(grid, manifests);
  try {
    const data::Variant romaneio = FetchRomaneio(backend.transport(), branch, grid);
    const std::string issued = IssuedNow();
    const std::string done = "A grade " + grid + " foi expedida. ";
    // The files' names are the host's, not the clerk's: a link planted under
    // one would have the manifest written over whatever it points to.
    const auto refuse_links = [&](const std::string& path) {
      std::error_code ec;
      if (fs::is_symlink(path, ec)) {
        throw Error(done + "O romaneio de carga não foi gravado em " + path +
                    ": esse nome é um atalho (link) para outro arquivo; apague-o ou indique outra "
                    "pasta em --manifest-dir.");
      }
    };
    const std::string path = (fs::path(manifest_dir) / ManifestFileName(branch, grid)).string();
    refuse_links(path);
    WriteManifest(display, done, manifest_dir, path, ManifestReport(romaneio, issued));
    out << "romaneio de carga: " << path << "\n";
    manifests.whole = path;
    for (const std::string& vehicle : ManifestVehicles(romaneio)) {
      const std::string one =
          (fs::path(manifest_dir) / ManifestFileName(branch, grid, vehicle)).string();
      refuse_links(one);
      WriteManifest(display, done, manifest_dir, one, ManifestReport(romaneio, issued, vehicle));
      out << "romaneio de carga do veículo " << vehicle << ": " << one << "\n";
      manifests.vehicles.emplace_back(vehicle, one);
    }
  } catch (const std::exception& e) {
    ui::App().HandleException(std::current_exception());
    return std::nullopt;
  }
  return DispatchText(grid, manifests);
}

// The branch and number of the grid on the screen, to print its manifest;
// none before the first distribution (the clerk is told so).
std::optional<std::pair<std::string, std::string>> GridToPrint(const ScreenModule& module,
                                                               const HostServices& services) {
  const std::string grid = ModuleText(module, "stNrGrade");
  std::string branch = ModuleText(module, "stFilial");
  if (branch.empty()) branch = services.branch;
  if (grid.empty()) {
    ui::App().Dlg().Info(
        "Ainda não há grade de distribuição: informe a transportadora e distribua os itens "
        "antes de imprimir o romaneio.");
    return std::nullopt;
  }
  return std::pair{branch, grid};
}

// The view's command that prints the loading manifest of the grid on the
// screen, open or dispatched, where the clerk chooses.
void AddManifestCommand(Backend& backend, const ScreenModule& module, const HostServices& services,
                        const Display& display, const std::string& manifest_dir) {
  if (!display.add_command || !display.write_pdf || !display.ask_save_path) return;
  display.add_command("Romaneio", "Imprimir Romaneio de Carga...", "Ctrl+Shift+R",
                      [&backend, &module, &services, display, manifest_dir] {
                        const auto on_screen = GridToPrint(module, services);
                        if (!on_screen) return;
                        const auto& [branch, grid] = *on_screen;
                        // A grid still open prints the transport type and freight mode the
                        // panel shows, as the dispatch would hand them back.
                        const ui::Report report =
                            FetchManifest(backend.transport(), branch, grid, "",
                                          ModuleText(module, "TpTransDespacho"),
                                          ModuleText(module, "IdFreteDespacho"));
                        const auto path = display.ask_save_path(
                            "Salvar Romaneio de Carga",
                            (fs::path(manifest_dir) / ManifestFileName(branch, grid)).string());
                        if (!path) return;
                        WriteManifest(display, "", "", *path, report);
                        ui::App().Dlg().Info("Romaneio de carga gravado em " + *path + ".");
                      });
  // One file per vehicle, named after the one the clerk chooses:
  // "romaneio-0001-000001-0101.pdf" beside "romaneio-0001-000001.pdf".
  display.add_command(
      "Romaneio", "Imprimir Romaneio por Veículo...", "Ctrl+Shift+V",
      [&backend, &module, &services, display, manifest_dir] {
        const auto on_screen = GridToPrint(module, services);
        if (!on_screen) return;
        const auto& [branch, grid] = *on_screen;
        const data::Variant romaneio =
            FetchRomaneio(backend.transport(), branch, grid, ModuleText(module, "TpTransDespacho"),
                          ModuleText(module, "IdFreteDespacho"));
        const std::vector<std::string> vehicles = ManifestVehicles(romaneio);
        if (vehicles.empty()) {
          ui::App().Dlg().Info("Nenhum veículo carrega itens na grade " + grid + ".");
          return;
        }
        const auto path = display.ask_save_path(
            "Salvar Romaneios por Veículo",
            (fs::path(manifest_dir) / ManifestFileName(branch, grid)).string());
        if (!path) return;
        const fs::path chosen(*path);
        const std::string issued = IssuedNow();
        std::string written;
        for (const std::string& vehicle : vehicles) {
          const std::string one =
              (chosen.parent_path() / (chosen.stem().string() + "-" + vehicle + ".pdf")).string();
          WriteManifest(display, "", "", one, ManifestReport(romaneio, issued, vehicle));
          written += "\nVeículo " + vehicle + ": " + one;
        }
        ui::App().Dlg().Info("Romaneios de carga gravados:" + written);
      });
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
  if (o.through_window && display.window_input == nullptr) {
    return fail(
        "--through-window needs the Qt view, which this build does not have (configured with "
        "EXP_BUILD_QT off): play the session without it");
  }
  Session session;
  json fixture;
  data::DataPacket rows;
  try {
    session = LoadSession(o.script);
    if (session.fixture_path.empty() && o.db.empty()) {
      throw SessionError("the session names no fixture: it plays on the database --db names");
    }
    if (!session.fixture_path.empty()) fixture = ReadFixture(session.fixture_path);
    if (session.launch_items.is_array()) rows = ItemsFromRows(session.launch_items);
    if (!o.screenshots.empty()) fs::create_directories(o.screenshots);
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  auto faults = std::make_shared<FaultPlan>(session.faults);
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
    backend = std::make_unique<Backend>(o, db,
                                        session.fixture_path.empty() ? Seed::kNone : Seed::kFixture,
                                        fixture, services, faults->Empty() ? nullptr : faults);
    module = LoadScreenModule(loader);
    // A signed-in operator may not hold every branch: the session's own.
    const std::string every = backend->signed_in() ? services.branch : "";
    if (session.launch_items.is_array()) {
      items = rows;
    } else if (session.launch_items == "all") {
      items = backend->Call("GetItensExpedicao", {every}).AsPacket();
    }
  } catch (const std::exception& e) {
    return fail(e.what());
  }

  const GlobalLookup globals = [&module](const std::string& name, data::Variant* value) {
    return module.global != nullptr && module.global(name.c_str(), value);
  };
  Player player(session, trace, globals);
  if (o.through_window) player.SetInput(*display.window_input);
  // A picture that cannot be written does not stop the session; the run
  // says so at its end, as it does for the trace.
  std::vector<std::string> unwritten;
  if (!o.screenshots.empty()) {
    player.SetScreenshots(o.screenshots, [&](const ui::Form& form, const std::string& stem) {
      try {
        display.screenshot(form, stem);
      } catch (const std::exception& e) {
        unwritten.push_back(e.what());
      }
    });
  }
  ui::ScopedDialogs scoped(&player, &player);
  contracts::TNetConnection::Observer() = [&trace, &faults](const contracts::CallRecord& call) {
    trace.Write(TracedCall(call, *faults));
  };
  contracts::TADOIBQuery::Observer() = [&trace](const contracts::QueryRecord& query) {
    trace.Write(QueryEvent(query));
  };
  // A faulted module run is traced, then fails before the module is called.
  services.on_module = [&trace, &faults](const std::string& name, const data::VariantArray& args) {
    json event = ModuleEvent(name, args);
    const Fault* fault = faults->NextModuleRun(name);
    if (fault != nullptr) event["failed"] = fault->text;
    trace.Write(event);
    if (fault != nullptr) throw Error(fault->text);
  };
  ui::App().on_error_report = [&trace, &player](const std::string& text) {
    player.NoteFailure(text);
    trace.Write(FailureEvent(text));
  };

  // Nothing reaches the trace until the session's names are known to hold.
  trace.Hold();
  // Before the first launch, as the desktop tells the clerk.
  if (!backend->released().empty()) {
    ui::App().Dlg().Info(server::ReleasedGridsText(backend->released()));
  }
  const bool ready = session.launch_items == "ready";
  for (int launch = 0; launch <= session.relaunch; ++launch) {
    // The branch's ready list as it stands now: a relaunch after a dispatch
    // shows what is left.
    if (ready) {
      try {
        items = backend->Call("GetItensExpedicao", {services.branch}).AsPacket();
      } catch (const std::exception& e) {
        return fail(e.what());
      }
    }
    HandBack values;
    player.SetCallerVariables(&values);
    Launch(module, items, values);
    player.SetCallerVariables(nullptr);
    if (player.Invalid()) return fail(*player.Invalid());
    trace.Release();
    // The session's dialogs are the screen's own: the dispatch's message is
    // the desktop's (the lines on the output say the same).
    Dispatch(*backend, module, services, values, display, o.manifest_dir, out,
             /*ask_again=*/false);
    trace.Write(ResultEvent(values));
    PrintHandBack(out, values);
  }
  if (player.StepsLeft() > 0) {
    err << "exp-host: the screen closed for good before the last " << player.StepsLeft()
        << " step(s)" << (player.ExpectationsLeft() ? ", expectations among them" : "") << "\n";
  }
  // A trace cut short (a full disk) is no record of the session: whoever
  // reads it must not take the run for a good one.
  if (!trace_file.flush()) {
    err << "exp-host: cannot write the trace " << o.trace << ": it is incomplete\n";
    return 2;
  }
  if (!unwritten.empty()) {
    err << "exp-host: " << unwritten.front() << " (" << unwritten.size()
        << " picture(s) missing under " << o.screenshots << ")\n";
    return 2;
  }
  return player.ExpectationFailed() || player.ExpectationsLeft() ? 1 : 0;
}

// What the clerk reads when the branch's ready list is empty.
std::string NothingToDispatchText(const std::string& branch) {
  return "Não há itens a expedir na filial " + branch +
         ": os itens pedidos já foram expedidos ou ainda não foram importados.";
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
  const std::string db = o.db.empty() ? "out/demo.db" : o.db;
  try {
    if (!data::IsPostgresUrl(db) && fs::path(db).has_parent_path()) {
      fs::create_directories(fs::path(db).parent_path());
    }
    Backend backend(o, db, Seed::kDemoWhenEmpty, json(), services, nullptr, display.ask_sign_in,
                    &err);
    if (!backend.released().empty()) {
      display.dialogs->Info(server::ReleasedGridsText(backend.released()));
    }
    // Stopped by the system, the desktop gives its open grid back at once.
    const StopWork give_back([release = backend.own_grids_release(), &err] {
      try {
        for (const server::OpenGrid& g : release(&err)) {
          err << "exp-host: stopped with grid " << g.grid << " open; it was released" << std::endl;
        }
      } catch (const std::exception& e) {
        err << "exp-host: stopped; its grids were not released (" << e.what() << ")" << std::endl;
      }
    });
    const ScreenModule module = LoadScreenModule(loader);
    const data::DataPacket items = backend.Call("GetItensExpedicao", {o.branch}).AsPacket();
    if (items.rows.empty()) {
      // A screen without items would distribute nothing, under no branch:
      // the clerk is told why instead.
      const std::string text = NothingToDispatchText(o.branch);
      out << text << "\n";
      display.dialogs->Info(text);
      return 0;
    }
    const std::string manifest_dir = o.manifest_dir.empty() ? "out" : o.manifest_dir;
    AddManifestCommand(backend, module, services, display, manifest_dir);
    ui::ScopedDialogs scoped(display.dialogs, display.windows);
    HandBack values;
    Launch(module, items, values);
    const auto dispatched =
        Dispatch(backend, module, services, values, display, manifest_dir, out, /*ask_again=*/true);
    if (dispatched) display.dialogs->Info(*dispatched);
    PrintHandBack(out, values);
  } catch (const SignInCancelled& e) {
    err << "exp-host: " << e.what() << "\n";
    return 2;
  } catch (const server::StorageError& e) {
    // The clerk reads what to check in Portuguese, the cause in brackets.
    err << "exp-host: " << e.what() << "\n";
    display.dialogs->Error("O banco de dados " + db +
                           " não pôde ser aberto: verifique o arquivo ou o endereço dado em "
                           "--db. (" +
                           e.what() + ")");
    return 2;
  } catch (const std::exception& e) {
    // Launched from the desktop, the clerk has no terminal to read it on.
    err << "exp-host: " << e.what() << "\n";
    display.dialogs->Error(e.what());
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
  if (!o.import_files.empty()) return RunImport(o, out, err);
  if (!o.manifest_grid.empty()) return RunManifest(o, display, out, err);
  return o.script.empty() ? RunInteractive(o, display, out, err) : RunSession(o, display, out, err);
}

}  // namespace dg::host
