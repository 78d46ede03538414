// The host program: what the host application does around the screen
// module. It answers the host services, opens the look-ups' database
// connection, starts (or reaches) the application server, builds the launch
// array from the items ready for dispatch, loads the screen module and
// calls IniProc, prints the five values the screen handed back, and marks a
// confirmed grid as dispatched on the server.
//
// RunHost plays a scripted session when the options name one, and otherwise
// shows the screen through the window system and dialogs it is given.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/halvorn.h"
#include "data/packet.h"
#include "data/rpc.h"
#include "host/modules.h"
#include "host/player.h"
#include "host/trace.h"
#include "ui/application.h"
#include "ui/report.h"

namespace dg::host {

// Bad command-line arguments (exit status 2).
class UsageError : public Error {
 public:
  using Error::Error;
};

// Intentionally copyable.
struct Options {
  // A SQLite file or a "postgresql://..." address; empty: out/demo.db (a
  // session: a fresh temporary file).
  std::string db;
  std::string server;  // "http://HOST:PORT" or "https://..."; empty: the in-process server
  // A private authority's certificate (PEM) to verify an https server by.
  std::string ca_file;
  // The password of --operator for a scripted run (else EXP_PASSWORD).
  std::string password_file;
  std::string branch = "0001";
  std::string operator_code = "OPER";
  bool branch_given = false, operator_given = false;
  std::string script, trace, screenshots;
  // --through-window: the session is played as input on the real window.
  bool through_window = false;
  // --import FILE.csv... [--dry-run]: imports into --db and ends.
  std::vector<std::string> import_files;
  bool dry_run = false;
  // Takes vehicle capacities that change more than ten times over.
  bool accept_large_changes = false;
  // --manifest GRID [--vehicle CODE] --out FILE.pdf: prints the grid's
  // loading manifest (one vehicle's pages) and ends.
  std::string manifest_grid, manifest_out, manifest_vehicle;
  // Where a confirmed dispatch leaves its loading manifest; empty: "out"
  // for the screen on the display, nowhere for a session.
  std::string manifest_dir;
  // The in-process server releases open grids nobody has written to for
  // this many minutes while the screen is open (0: never), as
  // exp-appserver --release-idle-grids does.
  int release_idle_minutes = 240;
  bool help = false;
};

// Reads argv[1..argc); UsageError for anything it cannot take.
Options ParseOptions(int argc, const char* const* argv);
// --help: the usage line, every option, and how the runs differ.
std::string UsageText();

// Host and port of "http://HOST:PORT" (the scheme may be left out).
// UsageError for anything else.
std::pair<std::string, int> ParseServerUrl(const std::string& url);
// Whether the --server address is an https one.
bool IsHttpsUrl(const std::string& url);

// The host services of this program: SimpleHostServices whose module
// loader opens lib<MODULE>.so from the loader's folder and calls its
// IniProc; `on_module` sees each load first (the trace). Not copyable.
class HostServices : public contracts::SimpleHostServices {
 public:
  explicit HostServices(ModuleLoader& loader);
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;

  std::function<void(const std::string& module, const data::VariantArray& args)> on_module;
};

// The item packet of a launch built from rows keyed by item field names
// (fields not given are empty). SessionError for an unknown field or a
// value of the wrong kind.
data::DataPacket ItemsFromRows(const nlohmann::json& rows);

// Elements 0..5: the items, then references to the five variables.
// REQUIRES: `values` outlives every use of the array.
data::VariantArray LaunchArray(const data::DataPacket& items, HandBack& values);

// "PboOpcao: true" and one line per text variable.
void PrintHandBack(std::ostream& out, const HandBack& values);

// The program. `interactive` supplies the window system and dialogs for a
// run without a session (null: there is no display). Returns the exit
// status; messages go to `err`, the hand-back values to `out`.
struct Display {
  ui::WindowSystem* windows = nullptr;
  ui::Dialogs* dialogs = nullptr;
  // A picture of a form (for --screenshots); null when not built.
  Player::Screenshot screenshot;
  // Plays a session's steps as events on the real window (--through-window);
  // null when the view that shows it is not built.
  ui::UserInput* window_input = nullptr;
  // Writes a report as PDF (the loading manifest); null when the view that
  // prints is not built. Throws Error when the file cannot be written.
  std::function<void(const ui::Report& report, const std::string& path)> write_pdf;
  // Adds a command to the screen's window (menu, caption, shortcut); null
  // when the window shows no menu of the host's.
  std::function<void(const std::string& menu, const std::string& caption,
                     const std::string& shortcut, std::function<void()> run)>
      add_command;
  // Asks where to save a file (title, suggested path); none when cancelled.
  std::function<std::optional<std::string>(const std::string& title, const std::string& suggested)>
      ask_save_path;
  // Asks for operator and password to sign in to a server (server,
  // suggested operator, why it asks again); none when cancelled. Null: no
  // dialog, the password must come from EXP_PASSWORD or --password-file.
  std::function<std::optional<std::pair<std::string, std::string>>(
      const std::string& server, const std::string& operator_code, const std::string& why)>
      ask_sign_in;
};
int RunHost(const Options& options, const Display& display, std::ostream& out, std::ostream& err);

}  // namespace dg::host
