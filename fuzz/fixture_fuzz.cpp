// The fixture reader: any text either is refused as JSON, seeds the database or is refused with
// FixtureError and changes nothing.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "appserver/fixture.h"
#include "appserver/storage.h"
#include "data/json_text.h"

namespace {

dg::server::Storage& Db() {
  static std::shared_ptr<dg::server::Storage> storage = [] {
    const auto path = std::filesystem::temp_directory_path() /
                      ("fixture-fuzz-" + std::to_string(::getpid()) + ".db");
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + suffix);
    auto s = dg::server::OpenSqliteStorage(path.string());
    std::atexit([] {
      const auto p = std::filesystem::temp_directory_path() /
                     ("fixture-fuzz-" + std::to_string(::getpid()) + ".db");
      for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(p.string() + suffix);
    });
    return s;
  }();
  return *storage;
}

std::int64_t VehicleRows(dg::server::Storage& db) {
  std::int64_t n = 0;
  db.Transact(dg::server::TxKind::Read, [&](dg::server::Session& s) {
    n = s.Query("SELECT COUNT(*) FROM VEICULO")[0][0].ToInt64();
  });
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Read as the server reads a fixture file or a POST /fixture body.
  nlohmann::json json;
  try {
    json = dg::data::ParseJson(text);
  } catch (const dg::data::JsonTextError&) {
    return 0;
  }
  dg::server::Storage& db = Db();
  dg::server::LoadFixture(
      db, nlohmann::json::parse(R"({"VEICULO": [{"CDVIATURA": "V0", "QTCAPACIVIAT": 1}]})"));
  try {
    dg::server::LoadFixture(db, json);
  } catch (const dg::server::FixtureError&) {
    if (VehicleRows(db) != 1) std::abort();  // a refused fixture changed the database
  }
  return 0;
}
