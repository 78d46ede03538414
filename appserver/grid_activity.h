// Open grids, their owners and their last activity, and the release of the
// ones nobody works on any more.
//
// An open grid holds room on its vehicles for its delivery days until it is
// dispatched or discarded. A grid whose clerk's machine died, or whose
// number a client never learned (a distribution lost with its answer),
// would hold that room for ever; such grids are released (discarded as
// DelGrade discards them) once they have been idle long enough, or by hand.
//
// Every successful write on a grid is its activity: it sets the grid's
// last activity (GRADEDISTR.DTHRATIVIDADE), the process of the writer when
// a desktop's in-process server made it (GRADEDISTR.DSPROCESSO, "" for any
// other writer; process_mark.h) and, when the grid has no owner yet, makes
// the writer its owner (GRADEDISTR.CDOPERLANC). Reads are not activity.
//
// A desktop whose process died (killed, machine lost) leaves its grid open
// with nobody to close it. When the same operator launches the screen on
// the same branch and machine again, such a grid is released at once
// rather than after the idle time: its last writer was a desktop's process,
// and that process is known to be gone. Nothing else can be holding the
// grid: any later write would have named its own process, or none.
//
//   exp-appserver grids --db FILE|postgresql://...
//   exp-appserver release-grid --db FILE|postgresql://... --grid N [--branch CODE]
//                 [--operator CODE]
//
// `grids` lists the open grids (branch, grid, owner, opened, last activity,
// allocations, weight carried); `release-grid` discards one open grid. Both
// check their arguments before they open the database. Exit status: 0 done;
// 1 the grid cannot be released; 2 bad arguments.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

struct OpenGrid {
  std::string branch;
  std::string grid;
  std::string owner;          // "" when none is known
  std::string opened;         // ISO date-time, UTC
  std::string last_activity;  // ISO date-time, UTC
  int allocations = 0;
  double weight = 0;  // kg its allocations load on vehicles
};

// Every open grid, by branch and number.
std::vector<OpenGrid> ListOpenGrids(Storage& storage);

// Discards an open grid as DelGrade does and journals it as "LiberaGrade"
// by `operator_code`. An empty branch means the one branch that has an open
// grid of that number. Throws Error for a grid that is unknown or not open.
void ReleaseGrid(Storage& storage, const std::string& branch, const std::string& grid,
                 const std::string& operator_code);

// Discards every open grid whose last activity is older than `now - idle`,
// each journaled as "LiberaGradeOciosa"; answers them as they were.
std::vector<OpenGrid> ReleaseIdleGrids(
    Storage& storage, std::chrono::minutes idle,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// An open grid and the desktop process that last wrote it.
struct HeldGrid {
  std::string grid;
  std::string process;  // ThisProcessMark of that process
};

// The open grids of `branch` owned by `operator_code` whose last writer was
// a desktop's process, by number.
std::vector<HeldGrid> ProcessHeldGrids(Storage& storage, const std::string& branch,
                                       const std::string& operator_code);

// Discards each of `grids` that is still an open grid of `branch` owned by
// `operator_code` and last written by the same process, each journaled as
// "LiberaGradeAbandonada" by that operator; answers them as they were. The
// processes are judged gone by the caller, on the machine that ran them: a
// desktop over the network judges its own machine's.
std::vector<OpenGrid> ReleaseHeldGrids(Storage& storage, const std::string& branch,
                                       const std::string& operator_code,
                                       const std::vector<HeldGrid>& grids);

// ProcessHeldGrids whose process `gone` says no longer runs
// (ProcessIsGone), released by ReleaseHeldGrids.
std::vector<OpenGrid> ReleaseAbandonedGrids(Storage& storage, const std::string& branch,
                                            const std::string& operator_code,
                                            const std::function<bool(const std::string&)>& gone);

// One line for the clerk that names the grids released for them:
// "A grade 000007, deixada aberta por uma sessão anterior que terminou sem
// fechá-la, foi descartada e os veículos dela estão livres de novo."
std::string ReleasedGridsText(const std::vector<OpenGrid>& grids);

// Releases idle grids (ReleaseIdleGrids) once a minute on a thread of its
// own until destroyed, telling `report` of each one released ("released
// idle grid 0001/000007 of ANA, last activity 2025-06-10T08:12:00.000") and
// of a pass that failed. Not copyable.
class IdleGridReleaser {
 public:
  IdleGridReleaser(std::shared_ptr<Storage> storage, std::chrono::minutes idle,
                   std::function<void(const std::string&)> report);
  IdleGridReleaser(const IdleGridReleaser&) = delete;
  IdleGridReleaser& operator=(const IdleGridReleaser&) = delete;
  ~IdleGridReleaser();

 private:
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;  // GUARDED_BY(mu_)
  std::thread thread_;
};

// The minutes of --release-idle-grids (exp-appserver and exp-host): up to six
// digits, 0 for never; nullopt for anything else, which kIdleMinutesUsage
// tells the user.
std::optional<int> ReadIdleMinutes(const std::string& text);
inline constexpr char kIdleMinutesUsage[] =
    "--release-idle-grids needs a number of minutes (0: never)";

// `args` are the words after "grids" / "release-grid".
int GridsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ReleaseGridCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

namespace detail {
// Records a successful write on the grid (see above). REQUIRES: a write
// transaction.
void TouchGrid(Session& s, const std::string& branch, const std::string& grid,
               const std::string& operator_code, const std::string& process);
}  // namespace detail

}  // namespace dg::server
