// The CSV import: any bytes, read as one file of a dry run on a database
// holding the sample day, are reported (stored or refused with their
// problems) and never change the database or escape as another failure.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "appserver/import.h"
#include "appserver/storage.h"

namespace {

std::string DbPath() {
  return (std::filesystem::temp_directory_path() /
          ("csv-fuzz-" + std::to_string(::getpid()) + ".db"))
      .string();
}

void RemoveDb() {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(DbPath() + suffix);
}

dg::server::Storage& Db() {
  static std::shared_ptr<dg::server::Storage> storage = [] {
    RemoveDb();
    auto s = dg::server::OpenSqliteStorage(DbPath());
    std::atexit(RemoveDb);
    std::vector<dg::server::CsvFile> sample;
    for (const auto& e : std::filesystem::directory_iterator(EXP_SAMPLE_DIR)) {
      if (e.path().extension() != ".csv") continue;
      std::ifstream in(e.path(), std::ios::binary);
      sample.push_back(
          {e.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
    if (!dg::server::ImportCsv(*s, sample).Ok()) std::abort();  // the sample day must import
    return s;
  }();
  return *storage;
}

std::int64_t Rows(dg::server::Storage& db) {
  std::int64_t n = 0;
  db.Transact(dg::server::TxKind::Read, [&](dg::server::Session& s) {
    n = 0;
    for (const char* t :
         {"TIPOTRANSP", "TRANSPORT", "FILIAL", "PARAMETROS", "VEICULO", "CLIENTE", "ITEMPEDIDO"}) {
      n += s.Query(std::string("SELECT COUNT(*) FROM ") + t)[0][0].ToInt64();
    }
  });
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dg::server::Storage& db = Db();
  static const std::int64_t before = Rows(db);
  dg::server::ImportOptions options;
  options.dry_run = true;
  const dg::server::ImportReport report = dg::server::ImportCsv(
      db, {{"f.csv", std::string(reinterpret_cast<const char*>(data), size)}}, options);
  if (report.files.size() != 1 || report.files[0].stored) std::abort();
  for (const dg::server::ImportIssue& issue : report.files[0].issues) {
    if (issue.reason.empty()) std::abort();  // every problem says what it is
  }
  if (Rows(db) != before) std::abort();  // a dry run stored something
  return 0;
}
