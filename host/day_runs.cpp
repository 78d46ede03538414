#include "host/day_runs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "appserver/data_commands.h"
#include "appserver/grade_server.h"
#include "appserver/storage.h"
#include "appserver/transport.h"
#include "contracts/postgres_connection.h"
#include "contracts/sqlite_connection.h"
#include "host/manifest.h"
#include "host/server_connection.h"

namespace dg::host {

namespace fs = std::filesystem;

std::unique_ptr<contracts::DatabaseConnection> OpenLookups(const std::string& db) {
  if (data::IsPostgresUrl(db)) return std::make_unique<contracts::PostgresConnection>(db);
  return std::make_unique<contracts::SqliteConnection>(db);
}

int RunImport(const Options& o, std::ostream& out, std::ostream& err) {
  for (const std::string& file : o.import_files) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) || ::access(file.c_str(), R_OK) != 0) {
      err << "exp-host: cannot read " << file << "\n";
      return 2;
    }
  }
  try {
    return server::ImportInto(o.db, o.import_files, o.dry_run, out, err, ::isatty(2) != 0,
                              o.accept_large_changes);
  } catch (const std::exception& e) {
    err << "exp-host: " << e.what() << "\n";
    return 2;
  }
}

namespace {

bool IsStandardOutput(const std::string& path) {
  struct stat target, standard;
  return ::stat(path.c_str(), &target) == 0 && ::fstat(STDOUT_FILENO, &standard) == 0 &&
         target.st_dev == standard.st_dev && target.st_ino == standard.st_ino;
}

}  // namespace

int RunManifest(const Options& o, const Display& display, std::ostream& out, std::ostream& err) {
  if (!display.write_pdf) {
    err << "exp-host: --manifest needs the Qt view, which this build does not have\n";
    return 2;
  }
  const std::string grid = server::GridNumber(o.manifest_grid);
  const fs::path target = fs::absolute(o.manifest_out);
  std::error_code ec;
  if (!fs::is_directory(target.parent_path(), ec)) {
    err << "exp-host: no folder " << target.parent_path().string() << " for " << o.manifest_out
        << "\n";
    return 2;
  }
  try {
    std::shared_ptr<data::CallTransport> transport;
    if (!o.server.empty()) {
      server::HttpClientOptions client;
      std::string signed_in;
      transport = ConnectServer(o, display.ask_sign_in, &client, &signed_in);
    } else {
      const std::string db = o.db.empty() ? "out/demo.db" : o.db;
      if (!data::IsPostgresUrl(db) && !fs::is_regular_file(db)) {
        err << "exp-host: no database " << db << "\n";
        return 2;
      }
      transport = std::make_shared<server::InProcessTransport>(
          std::make_shared<server::rdmGradeDistribuicao>(server::OpenStorage(db)), o.operator_code);
    }
    display.write_pdf(FetchManifest(*transport, o.branch, grid, o.manifest_vehicle),
                      o.manifest_out);
    // Printed to the standard output itself (--out /dev/stdout), the PDF must
    // not end with the line that says where it went.
    (IsStandardOutput(o.manifest_out) ? err : out)
        << "romaneio de carga: " << o.manifest_out << "\n";
    return 0;
  } catch (const std::exception& e) {
    err << "exp-host: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace dg::host
