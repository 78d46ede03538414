#include "appserver/data_commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "appserver/csv_text.h"
#include "appserver/grade_support.h"
#include "appserver/grid_lines.h"
#include "data/file_target.h"
#include "data/format.h"
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

// The value after a flag, or a usage error.
struct Args {
  const std::vector<std::string>& words;
  std::size_t i = 0;
  std::string Value(const std::string& flag) {
    if (i + 1 >= words.size() || words[i + 1].empty()) {
      throw Error(flag + " needs a value");
    }
    return words[++i];
  }
};

int Usage(std::ostream& err, const std::string& command, const std::string& why) {
  err << "exp-appserver " << command << ": " << why << "\n";
  if (command == "import") {
    err << "usage: exp-appserver import --db FILE|postgresql://... [--dry-run] FILE.csv...\n";
  } else {
    err << "usage: exp-appserver export --db FILE|postgresql://... --grid N [--branch CODE] "
           "[--out FILE.csv]\n";
  }
  return 2;
}

std::string Number(double v) { return data::FormatNumber("", v); }

}  // namespace

std::string Summary(const ImportFileReport& f, bool dry_run) {
  std::string line = f.file + ": " + (f.table.empty() ? "no table" : f.table) + ", " +
                     std::to_string(f.rows) + (f.rows == 1 ? " row" : " rows");
  if (!f.issues.empty()) {
    return line + ": refused, nothing of the file stored (" + std::to_string(f.issues.size()) +
           (f.issues.size() == 1 ? " problem)" : " problems)");
  }
  const char* verb = dry_run ? " would be " : " ";
  return line + ":" + " " + std::to_string(f.inserted) + verb + "inserted, " +
         std::to_string(f.updated) + verb + "updated, " + std::to_string(f.unchanged) +
         " unchanged";
}

int ImportFiles(Storage& storage, const std::vector<std::string>& paths, bool dry_run,
                std::ostream& out, std::ostream& err, bool progress_in_place) {
  std::vector<CsvFile> files;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
      err << "cannot read " << path << "\n";
      return 2;
    }
    files.push_back({path, std::move(bytes)});
  }
  Progress progress(err, progress_in_place);
  ImportOptions options;
  options.dry_run = dry_run;
  options.progress = [&](const std::string& file, const char* phase, int done, int total) {
    progress.Show(file, phase, done, total);
  };
  const ImportReport report = ImportCsv(storage, files, options);
  progress.Finish();
  for (const ImportFileReport& f : report.files) out << Summary(f, dry_run) << "\n";
  for (const ImportFileReport& f : report.files) {
    for (const ImportIssue& issue : f.issues) out << FormatIssue(f.file, issue) << "\n";
  }
  if (dry_run) out << "dry run: nothing was stored\n";
  return report.Ok() ? 0 : 1;
}

int ImportInto(const std::string& db, const std::vector<std::string>& paths, bool dry_run,
               std::ostream& out, std::ostream& err, bool progress_in_place) {
  std::error_code ec;
  if (data::IsPostgresUrl(db) || (dry_run && fs::exists(db, ec))) {
    return ImportFiles(*OpenStorage(db), paths, dry_run, out, err, progress_in_place);
  }
  if (!dry_run) {
    if (fs::path(db).has_parent_path()) fs::create_directories(fs::path(db).parent_path());
    return ImportFiles(*OpenStorage(db), paths, dry_run, out, err, progress_in_place);
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
                     progress_in_place);
}

int ImportCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  std::string db;
  bool dry_run = false;
  std::vector<std::string> paths;
  try {
    Args a{words};
    for (; a.i < words.size(); ++a.i) {
      const std::string& w = words[a.i];
      if (w == "--db") {
        db = a.Value(w);
      } else if (w == "--dry-run") {
        dry_run = true;
      } else if (w.rfind("--", 0) == 0) {
        return Usage(err, "import", "unknown argument " + w);
      } else {
        paths.push_back(w);
      }
    }
  } catch (const Error& e) {
    return Usage(err, "import", e.what());
  }
  if (db.empty()) return Usage(err, "import", "--db is required");
  if (paths.empty()) return Usage(err, "import", "name at least one CSV file");
  for (const std::string& p : paths) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec) || ::access(p.c_str(), R_OK) != 0) {
      return Usage(err, "import", "cannot read " + p);
    }
  }
  try {
    return ImportInto(db, paths, dry_run, out, err, ::isatty(2) != 0);
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
        throw Error("grid " + grid + " exists in the branches " + names +
                    ": name one with --branch");
      }
      if (!rows.empty()) branch = rows[0][0].ToString();
    }
    const auto state = detail::GridState(s, branch, grid);
    if (!state) {
      throw Error("grid " + grid + (branch.empty() ? "" : " of branch " + branch) +
                  " does not exist");
    }
    if (*state == detail::kDiscarded) {
      throw Error("grid " + grid + " of branch " + branch + " was discarded");
    }
    lines = detail::GridLines(s, branch, grid);
  });
  out << "filial;grade;veiculo;ordem_entrega;cliente;pedido;item;produto;quantidade;peso_kg;"
         "volume_m3\n";
  for (const detail::GridLine& l : lines) {
    const std::vector<std::string> cells = {
        branch, grid,      l.vehicle,          detail::OrderKey(l.stop), l.client,        l.order,
        l.item, l.product, Number(l.quantity), Number(l.weight),         Number(l.volume)};
    for (std::size_t i = 0; i < cells.size(); ++i) {
      out << (i == 0 ? "" : ";") << csv::QuoteCell(cells[i]);
    }
    out << "\n";
  }
}

int ExportCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
  std::string db, grid, branch, path;
  try {
    Args a{words};
    for (; a.i < words.size(); ++a.i) {
      const std::string& w = words[a.i];
      if (w == "--db") {
        db = a.Value(w);
      } else if (w == "--grid") {
        grid = GridNumber(a.Value(w));
      } else if (w == "--branch") {
        branch = csv::Trim(a.Value(w));
      } else if (w == "--out") {
        path = a.Value(w);
      } else {
        return Usage(err, "export", "unknown argument " + w);
      }
    }
  } catch (const Error& e) {
    return Usage(err, "export", e.what());
  }
  if (db.empty()) return Usage(err, "export", "--db is required");
  if (grid.empty()) return Usage(err, "export", "--grid is required");
  if (grid.size() > 10) return Usage(err, "export", "bad grid number " + grid);
  const bool postgres = data::IsPostgresUrl(db);
  if (!postgres && !fs::is_regular_file(db)) return Usage(err, "export", "no database " + db);
  // A file that is there and is not a plain one (/dev/stdout, a pipe the ERP
  // reads from, a link) is written into: renaming over it would replace it.
  bool in_place = false;
  if (!path.empty()) {
    const fs::path parent = fs::absolute(path).parent_path();
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
      return Usage(err, "export", "no folder " + parent.string() + " for " + path);
    }
    if (fs::is_directory(path, ec)) return Usage(err, "export", path + " is a folder");
    in_place = data::WrittenInPlace(path);
  }
  try {
    auto storage = OpenStorage(db);
    if (path.empty() || in_place) {
      std::ofstream file;
      if (in_place) {
        file.open(path, std::ios::binary);
        if (!file) throw Error("cannot write " + path);
      }
      std::ostream& target = in_place ? file : out;
      ExportGrid(*storage, branch, grid, target);
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
        ExportGrid(*storage, branch, grid, file);
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
