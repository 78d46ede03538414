#include "appserver/grid_activity.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <map>

#include "appserver/command_line.h"
#include "appserver/data_commands.h"
#include "appserver/grade_support.h"
#include "appserver/journal.h"
#include "appserver/transport.h"
#include "data/sql_text.h"

namespace dg::server {
namespace {

using detail::D;
using detail::S;

std::string IsoAt(std::chrono::system_clock::time_point t) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  return data::DateTime::FromMillis(ms).ToIso();
}

// Open grids selected by `where` (SQL on GRADEDISTR g, with `params`).
std::vector<OpenGrid> OpenGrids(Session& s, const std::string& where,
                                const std::vector<Value>& params) {
  std::vector<OpenGrid> out;
  for (const Row& r :
       s.Query("SELECT g.CDFILIAL, g.NRGRADEDISTR, g.CDOPERLANC, g.DTHRABERTURA, "
               "COALESCE(g.DTHRATIVIDADE, g.DTHRABERTURA), COUNT(a.CDVIATURA), "
               "SUM(a.QTTRANSP * a.VRPESOUNIT) FROM GRADEDISTR g LEFT JOIN ALOCGRADE a "
               "ON a.CDFILIAL = g.CDFILIAL AND a.NRGRADEDISTR = g.NRGRADEDISTR "
               "WHERE g.IDSITGRADE = 'A'" +
                   where +
                   " GROUP BY g.CDFILIAL, g.NRGRADEDISTR, g.CDOPERLANC, g.DTHRABERTURA, "
                   "g.DTHRATIVIDADE ORDER BY g.CDFILIAL, g.NRGRADEDISTR",
               params)) {
    out.push_back(
        {S(r[0]), S(r[1]), S(r[2]), S(r[3]), S(r[4]), static_cast<int>(D(r[5])), D(r[6])});
  }
  return out;
}

void Release(Session& s, const OpenGrid& g, const std::string& method,
             const std::string& operator_code) {
  detail::DiscardGrid(s, g.branch, g.grid);
  AppendJournal(s, operator_code, method, g.branch, g.grid);
}

}  // namespace

namespace detail {
void TouchGrid(Session& s, const std::string& branch, const std::string& grid,
               const std::string& operator_code, const std::string& process) {
  if (grid.empty()) return;
  s.Exec(
      "UPDATE GRADEDISTR SET DTHRATIVIDADE = ?, DSPROCESSO = ?, CDOPERLANC = CASE WHEN "
      "COALESCE(CDOPERLANC, '') = '' THEN ? ELSE CDOPERLANC END WHERE CDFILIAL = ? AND "
      "NRGRADEDISTR = ?",
      {Value(NowIso()), Value(process), Value(operator_code), Value(branch), Value(grid)});
}
}  // namespace detail

std::vector<OpenGrid> ListOpenGrids(Storage& storage) {
  std::vector<OpenGrid> out;
  storage.Transact(TxKind::Read, [&](Session& s) { out = OpenGrids(s, "", {}); });
  return out;
}

void ReleaseGrid(Storage& storage, const std::string& branch, const std::string& grid,
                 const std::string& operator_code) {
  storage.Transact(TxKind::ClaimedWrite, [&](Session& s) {
    auto find = [&] {
      return branch.empty() ? OpenGrids(s, " AND g.NRGRADEDISTR = ?", {Value(grid)})
                            : OpenGrids(s, " AND g.CDFILIAL = ? AND g.NRGRADEDISTR = ?",
                                        {Value(branch), Value(grid)});
    };
    std::vector<OpenGrid> found = find();
    // Claimed, then read again as the grid's writes before left it.
    if (found.size() == 1) {
      detail::ClaimGrid(s, found[0].branch, found[0].grid);
      found = find();
    }
    if (found.empty()) {
      throw Error("Não há grade aberta " + grid + (branch.empty() ? "" : " na filial " + branch) +
                  ".");
    }
    if (found.size() > 1) {
      throw Error("Mais de uma filial tem a grade aberta " + grid + ": diga qual com --branch.");
    }
    Release(s, found[0], "LiberaGrade", operator_code);
  });
}

std::vector<OpenGrid> ReleaseIdleGrids(Storage& storage, std::chrono::minutes idle,
                                       std::chrono::system_clock::time_point now) {
  const std::string where = " AND COALESCE(g.DTHRATIVIDADE, g.DTHRABERTURA, '') < ?";
  const std::vector<Value> params = {Value(IsoAt(now - idle))};
  // Looked for in a read first: most passes find nothing, and need not
  // hold the database's write lock for that.
  std::vector<OpenGrid> released;
  storage.Transact(TxKind::Read, [&](Session& s) { released = OpenGrids(s, where, params); });
  if (released.empty()) return released;
  storage.Transact(TxKind::ClaimedWrite, [&](Session& s) {
    released.clear();
    for (const OpenGrid& candidate : OpenGrids(s, where, params)) {
      // Claimed, then read again: a write of the grid meanwhile was
      // activity, and a grid released meanwhile is no longer open.
      detail::ClaimGrid(s, candidate.branch, candidate.grid);
      std::vector<Value> again = {Value(candidate.branch), Value(candidate.grid)};
      again.insert(again.end(), params.begin(), params.end());
      for (const OpenGrid& g :
           OpenGrids(s, " AND g.CDFILIAL = ? AND g.NRGRADEDISTR = ?" + where, again)) {
        Release(s, g, "LiberaGradeOciosa", "");
        released.push_back(g);
      }
    }
  });
  return released;
}

std::vector<HeldGrid> ProcessHeldGrids(Storage& storage, const std::string& branch,
                                       const std::string& operator_code) {
  std::vector<HeldGrid> held;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r :
         s.Query("SELECT NRGRADEDISTR, DSPROCESSO FROM GRADEDISTR WHERE IDSITGRADE = 'A' AND "
                 "CDFILIAL = ? AND CDOPERLANC = ? AND COALESCE(DSPROCESSO, '') <> '' "
                 "ORDER BY NRGRADEDISTR",
                 {Value(branch), Value(operator_code)})) {
      held.push_back({S(r[0]), S(r[1])});
    }
  });
  return held;
}

std::vector<OpenGrid> ReleaseHeldGrids(Storage& storage, const std::string& branch,
                                       const std::string& operator_code,
                                       const std::vector<HeldGrid>& grids) {
  std::vector<OpenGrid> released;
  if (grids.empty()) return released;
  storage.Transact(TxKind::ClaimedWrite, [&](Session& s) {
    released.clear();
    for (const HeldGrid& held : grids) {
      if (held.process.empty()) continue;
      detail::ClaimGrid(s, branch, held.grid);
      // Still open, still this operator's and last written by that same
      // process: no one took it up in between.
      for (const OpenGrid& g : OpenGrids(s,
                                         " AND g.CDFILIAL = ? AND g.NRGRADEDISTR = ? AND "
                                         "g.CDOPERLANC = ? AND g.DSPROCESSO = ?",
                                         {Value(branch), Value(held.grid), Value(operator_code),
                                          Value(held.process)})) {
        Release(s, g, "LiberaGradeAbandonada", operator_code);
        released.push_back(g);
      }
    }
  });
  return released;
}

std::vector<OpenGrid> ReleaseAbandonedGrids(Storage& storage, const std::string& branch,
                                            const std::string& operator_code,
                                            const std::function<bool(const std::string&)>& gone) {
  // The candidates are read first: most launches find none, and the
  // processes are judged outside any transaction.
  std::vector<HeldGrid> abandoned = ProcessHeldGrids(storage, branch, operator_code);
  std::erase_if(abandoned, [&](const HeldGrid& g) { return !gone(g.process); });
  return ReleaseHeldGrids(storage, branch, operator_code, abandoned);
}

std::string ReleasedGridsText(const std::vector<OpenGrid>& grids) {
  if (grids.empty()) return "";
  std::string numbers;
  for (std::size_t i = 0; i < grids.size(); ++i) {
    if (i > 0) numbers += i + 1 == grids.size() ? " e " : ", ";
    numbers += grids[i].grid;
  }
  if (grids.size() == 1) {
    return "A grade " + numbers +
           ", deixada aberta por uma sessão anterior que terminou sem fechá-la, foi descartada "
           "e os veículos dela estão livres de novo.";
  }
  return "As grades " + numbers +
         ", deixadas abertas por uma sessão anterior que terminou sem fechá-las, foram "
         "descartadas e os veículos delas estão livres de novo.";
}

IdleGridReleaser::IdleGridReleaser(std::shared_ptr<Storage> storage, std::chrono::minutes idle,
                                   std::function<void(const std::string&)> report) {
  thread_ = std::thread([this, storage = std::move(storage), idle, report = std::move(report)] {
    std::unique_lock lock(mu_);
    while (!wake_.wait_for(lock, std::chrono::minutes(1), [this] { return stopping_; })) {
      lock.unlock();
      try {
        for (const OpenGrid& g : ReleaseIdleGrids(*storage, idle)) {
          report(Printable("released idle grid " + g.branch + "/" + g.grid +
                           (g.owner.empty() ? "" : " of " + g.owner) + ", last activity " +
                           g.last_activity));
        }
      } catch (const std::exception& e) {
        report(std::string("releasing idle grids failed: ") + e.what());
      }
      lock.lock();
    }
  });
}

IdleGridReleaser::~IdleGridReleaser() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

int GridsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string db;
  CommandLine line("exp-appserver grids",
                   "Lists the open grids: branch, grid, owner, opened, last activity, "
                   "allocations, weight carried.");
  ExistingDatabaseOption(line, &db);
  if (const auto status = line.ReadOrEnd(args, out, err)) return *status;
  if (!CheckExistingDatabase(db, err)) return 2;
  try {
    const std::vector<OpenGrid> grids = ListOpenGrids(*OpenStorage(db));
    if (grids.empty()) {
      out << "no open grids\n";
      return 0;
    }
    out << std::left << std::setw(8) << "branch" << std::setw(12) << "grid" << std::setw(14)
        << "owner" << std::setw(25) << "opened" << std::setw(25) << "last activity"
        << "allocations  weight (kg)\n";
    for (const OpenGrid& g : grids) {
      char weight[32];
      std::snprintf(weight, sizeof weight, "%.3f", g.weight);
      out << std::setw(8) << Printable(g.branch) << std::setw(12) << Printable(g.grid)
          << std::setw(14) << (g.owner.empty() ? "-" : Printable(g.owner)) << std::setw(25)
          << Printable(g.opened) << std::setw(25) << Printable(g.last_activity) << std::setw(13)
          << g.allocations << weight << "\n";
    }
  } catch (const std::exception& e) {
    err << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

int ReleaseGridCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string db, grid_given, branch, operator_code;
  CommandLine line("exp-appserver release-grid",
                   "Discards one open grid, journaled as LiberaGrade by the operator given.");
  ExistingDatabaseOption(line, &db);
  line.Value("--grid", &grid_given, "N", "the grid (7 is 000007)", false)->required();
  line.Value("--branch", &branch, "CODE", "the branch (may be left out when one has it open)");
  line.Value("--operator", &operator_code, "CODE", "who releases it, for the journal");
  if (const auto status = line.ReadOrEnd(args, out, err)) return *status;
  if (!CheckExistingDatabase(db, err)) return 2;
  const std::string grid = GridNumber(grid_given);
  if (grid.empty()) return line.Refuse(err, "--grid is required");
  if (!IsValidOperatorCode(operator_code)) {
    err << "exp-appserver: --operator must be at most " << kMaxOperatorLength
        << " printable characters\n";
    return 2;
  }
  try {
    ReleaseGrid(*OpenStorage(db), branch, grid, operator_code);
  } catch (const std::exception& e) {
    err << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  out << "released grid " << grid << "\n";
  return 0;
}

std::optional<int> ReadIdleMinutes(const std::string& text) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoi(text);
}

}  // namespace dg::server
