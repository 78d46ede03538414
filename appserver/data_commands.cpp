#include "appserver/data_commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "appserver/command_line.h"
#include "appserver/csv_text.h"
#include "appserver/grade_support.h"
#include "appserver/grid_lines.h"
#include "appserver/route_times.h"
#include "data/file_target.h"
#include "data/format.h"
#include "data/quantity.h"
#include "data/sql_text.h"

namespace dg::server {
namespace {

namespace fs = std::filesystem;

// Progress of a large file: one line rewritten in place on a terminal, a
// line every tenth otherwise. Files below kLargeFile rows show none.
class Progress {
 public:
  static constexpr int kLargeFile = 2000;

  Progress(std::ostream& err, bool in_place) : err_(err), in_place_(in_place) {}
  ~Progress() { Finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Show(const std::string& file, const char* phase, int done, int total) {
    if (total < kLargeFile) return;
    const int step = in_place_ ? 100 : 10;
    const int now = static_cast<int>(static_cast<long long>(done) * step / total);
    if (file == file_ && phase == phase_ && now == shown_) return;
    file_ = file;
    phase_ = phase;
    shown_ = now;
    const std::string text = file + ": " + phase + " " + std::to_string(now * 100 / step) + "% (" +
                             std::to_string(done) + " of " + std::to_string(total) + ")";
    if (in_place_) {
      err_ << "\r" << text << "\x1b[K" << std::flush;
      open_ = true;
    } else {
      err_ << text << "\n" << std::flush;
    }
  }

  void Finish() {
    if (open_) err_ << "\r\x1b[K" << std::flush;
    open_ = false;
  }

 private:
  std::ostream& err_;
  bool in_place_;
  bool open_ = false;
  std::string file_, phase_;
  int shown_ = -1;
};

// The options of import and export, defined once for parsing, --help and
// the usage line.
struct ImportLine {
  std::string db;
  bool dry_run = false, accept_large_changes = false;
  std::vector<std::string> paths;
  CommandLine line{"exp-appserver import",
                   "Reads a distributor's CSV files into the database, each file whole or not "
                   "at all."};
  ImportLine() {
    line.Value("--db", &db, "FILE|postgresql://...",
               "the database (a SQLite file is made when missing)", false)
        ->required();
    line.Flag("--dry-run", &dry_run, "checks everything as an import would, stores nothing");
    line.Flag("--accept-large-changes", &accept_large_changes,
              "takes vehicle capacities that change more than ten times over");
    line.Words("FILE.csv", &paths, "the files, one table each, in any order",
               "name at least one CSV file");
  }
};

struct ExportLine {
  std::string db, grid, branch, path;
  bool items = false;
  CommandLine line{"exp-appserver export",
                   "Writes a grid's allocations (--items: what each order item was ordered and "
                   "dispatched) as CSV."};
  ExportLine() {
    line.Value("--db", &db, "FILE|postgresql://...", "the database, which must exist", false)
        ->required();
    line.Value("--grid", &grid, "N", "the grid (12 is 000012)", false);
    line.Flag("--items", &items, "what each order item was ordered, dispatched and in which grids");
    line.Value("--branch", &branch, "CODE",
               "the branch (may be left out when one branch has that grid)", false);
    line.Value("--out", &path, "FILE.csv", "where to write (default: the standard output)", false);
  }
};

std::string Number(double v) { return data::FormatNumber("", v); }

}  // namespace

std::string Summary(const ImportFileReport& f, bool dry_run) {
  std::string line = f.file + ": " + (f.table.empty() ? "nenhuma tabela" : f.table) + ", " +
                     std::to_string(f.rows) + (f.rows == 1 ? " linha" : " linhas");
  if (!f.issues.empty()) {
    const std::size_t problems = f.issues.size() + static_cast<std::size_t>(f.unlisted);
    line += ": recusado, nada do arquivo foi gravado (" + std::to_string(problems) +
            (problems == 1 ? " problema" : " problemas");
    if (f.dependent > 0) {
      line += ", " + std::to_string(f.dependent) +
              (f.dependent == 1 ? " por depender" : " deles por depender") +
              " de linhas de um arquivo recusado";
    }
    return line + ")";
  }
  const char* verb = dry_run ? " seriam " : " ";
  return line + ":" + " " + std::to_string(f.inserted) + verb + "inseridas, " +
         std::to_string(f.updated) + verb + "atualizadas, " + std::to_string(f.unchanged) +
         " sem mudança";
}

int ImportFiles(Storage& storage, const std::vector<std::string>& paths, bool dry_run,
                std::ostream& out, std::ostream& err, bool progress_in_place,
                bool accept_large_changes) {
  std::vector<CsvFile> files;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
      err << "não foi possível ler " << path << "\n";
      return 2;
    }
    files.push_back({path, std::move(bytes)});
  }
  Progress progress(err, progress_in_place);
  ImportOptions options;
  options.dry_run = dry_run;
  options.accept_large_changes = accept_large_changes;
  options.progress = [&](const std::string& file, const char* phase, int done, int total) {
    progress.Show(file, phase, done, total);
  };
  const ImportReport report = ImportCsv(storage, files, options);
  progress.Finish();
  for (const ImportFileReport& f : report.files) out << Summary(f, dry_run) << "\n";
  // Problems in the order the files were taken: a cause before the rows of
  // later files that fail because of it.
  for (std::size_t i : report.order) {
    const ImportFileReport& f = report.files[i];
    for (const ImportIssue& issue : f.issues) out << FormatIssue(f.file, issue) << "\n";
    if (f.unlisted > 0) {
      out << f.file << ": e mais " << f.unlisted
          << (f.unlisted == 1 ? " problema não listado\n" : " problemas não listados\n");
    }
  }
  if (dry_run) out << "simulação (--dry-run): nada foi gravado\n";
  return report.Ok() ? 0 : 1;
}

int ImportInto(const std::string& db, const std::vector<std::string>& paths, bool dry_run,
               std::ostream& out, std::ostream& err, bool progress_in_place,
               bool accept_large_changes) {
  std::error_code ec;
  if (data::IsPostgresUrl(db) || (dry_run && fs::exists(db, ec))) {
    return ImportFiles(*OpenStorage(db), paths, dry_run, out, err, progress_in_place,
                       accept_large_changes);
  }
  if (!dry_run) {
    if (fs::path(db).has_parent_path()) fs::create_directories(fs::path(db).parent_path());
    return ImportFiles(*OpenStorage(db), paths, dry_run, out, err, progress_in_place,
                       accept_large_changes);
  }
  // A dry run on a database not made yet checks against an empty one and
  // leaves no file behind (a mistyped name must not become a database).
  std::string scratch = (fs::temp_directory_path() / "exp-import-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) throw Error("cannot create a temporary folder");
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } remove{scratch};
  return ImportFiles(*OpenStorage(scratch + "/dry-run.db"), paths, dry_run, out, err,
                     progress_in_place, accept_large_changes);
}

int ImportCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  ImportLine a;
  if (const auto status = a.line.ReadOrEnd(words, out, err)) return *status;
  const std::string& db = a.db;
  const std::vector<std::string>& paths = a.paths;
  for (const std::string& p : paths) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec) || ::access(p.c_str(), R_OK) != 0) {
      return a.line.Refuse(err, "cannot read " + p);
    }
  }
  try {
    return ImportInto(db, paths, a.dry_run, out, err, ::isatty(2) != 0, a.accept_large_changes);
  } catch (const std::exception& e) {
    err << "exp-appserver import: " << e.what() << "\n";
    return 2;
  }
}

std::string GridNumber(const std::string& text) {
  const std::string t = csv::Trim(text);
  if (!t.empty() && t.size() < 6 && t.find_first_not_of("0123456789") == std::string::npos) {
    return std::string(6 - t.size(), '0') + t;
  }
  return t;
}

void ExportGrid(Storage& storage, const std::string& branch_given, const std::string& grid,
                std::ostream& out) {
  std::vector<detail::GridLine> lines;
  std::map<std::string, detail::VehicleTimes> times;
  std::string branch = branch_given;
  storage.Transact(TxKind::Read, [&](Session& s) {
    branch = branch_given;
    if (branch.empty()) {
      const auto rows =
          s.Query("SELECT CDFILIAL FROM GRADEDISTR WHERE NRGRADEDISTR = ? ORDER BY CDFILIAL",
                  {Value(grid)});
      if (rows.size() > 1) {
        std::string names;
        for (const Row& r : rows) names += (names.empty() ? "" : ", ") + r[0].ToString();
        throw Error("A grade " + grid + " existe nas filiais " + names +
                    ": diga qual com --branch.");
      }
      if (!rows.empty()) branch = rows[0][0].ToString();
    }
    const auto state = detail::GridState(s, branch, grid);
    if (!state) {
      throw Error("A grade " + grid + (branch.empty() ? "" : " da filial " + branch) +
                  " não existe.");
    }
    if (*state == detail::kDiscarded) {
      throw Error("A grade " + grid + " da filial " + branch + " foi descartada.");
    }
    lines = detail::GridLines(s, branch, grid);
    times.clear();
    for (const detail::GridLine& l : lines) {
      if (!times.count(l.vehicle)) {
        times[l.vehicle] = detail::VehicleSchedule(s, branch, grid, l.vehicle);
      }
    }
  });
  out << "filial;grade;veiculo;ordem_entrega;cliente;pedido;item;produto;quantidade;peso_kg;"
         "volume_m3;janela;chegada;saida\n";
  for (const detail::GridLine& l : lines) {
    // The planned times of a route with a clock; empty without.
    const detail::VehicleTimes& t = times[l.vehicle];
    const auto at = t.by_client.find(l.client);
    const bool timed = at != t.by_client.end();
    const std::vector<std::string> cells = {
        branch,
        grid,
        l.vehicle,
        detail::OrderKey(l.stop),
        l.client,
        l.order,
        l.item,
        l.product,
        Number(l.quantity),
        Number(l.weight),
        Number(l.volume),
        timed ? at->second.window : "",
        timed ? planning::ClockText(at->second.arrival) : "",
        timed ? planning::ClockText(at->second.departure) : ""};
    for (std::size_t i = 0; i < cells.size(); ++i) {
      out << (i == 0 ? "" : ";") << csv::QuoteCell(cells[i]);
    }
    out << "\n";
  }
}

void ExportItems(Storage& storage, const std::string& branch, std::ostream& out) {
  std::vector<Row> items, dispatches;
  storage.Transact(TxKind::Read, [&](Session& s) {
    const std::string only = branch.empty() ? "" : " AND i.CDFILIAL = ?";
    const std::vector<Value> params =
        branch.empty() ? std::vector<Value>{} : std::vector<Value>{Value(branch)};
    items = s.Query(
        "SELECT i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED, i.CDPRODUTO, i.QTITEMPED, i.QTEXPITEMPED, "
        "i.QTDEAEXP FROM ITEMPEDIDO i WHERE 1 = 1" +
            only + " ORDER BY i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED",
        params);
    dispatches = s.Query(
        "SELECT i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED, g.NRGRADEDISTR, SUM(a.QTTRANSP), "
        "MAX(g.CDOPEREXPED), MAX(g.DTHREXPEDICAO) FROM ITEMPEDIDO i "
        "JOIN ALOCGRADE a ON a.CDFILIAL = i.CDFILIAL AND a.NRPEDIDO = i.NRPEDIDO AND "
        "a.NRITEMPED = i.NRITEMPED JOIN GRADEDISTR g ON g.CDFILIAL = a.CDFILIAL AND "
        "g.NRGRADEDISTR = a.NRGRADEDISTR WHERE g.IDSITGRADE = 'E'" +
            only +
            " GROUP BY i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED, g.NRGRADEDISTR "
            "ORDER BY i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED, g.NRGRADEDISTR",
        params);
  });
  using Key = std::tuple<std::string, std::string, std::string>;
  std::map<Key, std::vector<const Row*>> grids;
  for (const Row& d : dispatches) {
    grids[{d[0].ToString(), d[1].ToString(), d[2].ToString()}].push_back(&d);
  }
  const auto text = [](const Value& v) { return v.IsEmptyOrNull() ? std::string() : v.ToString(); };
  const auto amount = [](const Value& v) {
    return Number(data::RoundQuantity(v.IsEmptyOrNull() ? 0.0 : v.ToDouble()));
  };
  out << "filial;pedido;item;produto;quantidade_pedida;quantidade_expedida;quantidade_a_expedir;"
         "grade;quantidade_na_grade;operador;expedida_em\n";
  const auto line = [&out](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      out << (i == 0 ? "" : ";") << csv::QuoteCell(cells[i]);
    }
    out << "\n";
  };
  std::set<Key> seen;
  for (const Row& r : items) {
    const Key key{text(r[0]), text(r[1]), text(r[2])};
    // A key recorded twice is one item.
    if (!seen.insert(key).second) continue;
    const std::vector<std::string> item = {text(r[0]),   text(r[1]),   text(r[2]),  text(r[3]),
                                           amount(r[4]), amount(r[5]), amount(r[6])};
    const auto found = grids.find(key);
    if (found == grids.end()) {
      std::vector<std::string> cells = item;
      cells.resize(item.size() + 4);
      line(cells);
      continue;
    }
    // One line per grid that dispatched some of the item.
    for (const Row* d : found->second) {
      std::vector<std::string> cells = item;
      for (const std::string& c :
           {text((*d)[3]), amount((*d)[4]), text((*d)[5]), text((*d)[6]).substr(0, 19)}) {
        cells.push_back(c);
      }
      line(cells);
    }
  }
}

int ExportCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  ExportLine a;
  if (const auto status = a.line.ReadOrEnd(words, out, err)) return *status;
  const std::string &db = a.db, grid = GridNumber(a.grid), branch = csv::Trim(a.branch),
                    &path = a.path;
  const bool items = a.items;
  if (grid.empty() && !items) return a.line.Refuse(err, "--grid or --items is required");
  if (!grid.empty() && items) return a.line.Refuse(err, "--grid and --items are separate runs");
  if (grid.size() > 10) return a.line.Refuse(err, "bad grid number " + grid);
  const bool postgres = data::IsPostgresUrl(db);
  if (!postgres && !fs::is_regular_file(db)) return a.line.Refuse(err, "no database " + db);
  // A file that is there and is not a plain one (/dev/stdout, a pipe the ERP
  // reads from, a link) is written into: renaming over it would replace it.
  bool in_place = false;
  if (!path.empty()) {
    const fs::path parent = fs::absolute(path).parent_path();
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
      return a.line.Refuse(err, "no folder " + parent.string() + " for " + path);
    }
    if (fs::is_directory(path, ec)) return a.line.Refuse(err, path + " is a folder");
    in_place = data::WrittenInPlace(path);
  }
  try {
    auto storage = OpenStorage(db);
    const auto write = [&](std::ostream& target) {
      if (items) {
        ExportItems(*storage, branch, target);
      } else {
        ExportGrid(*storage, branch, grid, target);
      }
    };
    if (path.empty() || in_place) {
      std::ofstream file;
      if (in_place) {
        file.open(path, std::ios::binary);
        if (!file) throw Error("cannot write " + path);
      }
      std::ostream& target = in_place ? file : out;
      write(target);
      if (!target.flush()) {
        throw Error("cannot write " + (in_place ? path : std::string("the standard output")));
      }
      return 0;
    }
    // Written beside the target and renamed, so the ERP never reads half a file.
    const std::string temp = path + ".part";
    {
      std::ofstream file(temp, std::ios::binary | std::ios::trunc);
      if (!file) throw Error("cannot write " + temp);
      try {
        write(file);
        if (!file.flush()) throw Error("cannot write " + temp);
      } catch (...) {
        file.close();
        std::remove(temp.c_str());
        throw;
      }
    }
    fs::rename(temp, path);
    return 0;
  } catch (const std::exception& e) {
    err << "exp-appserver export: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace dg::server
