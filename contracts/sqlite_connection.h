// A DatabaseConnection over a SQLite file, with the functions NVL(a, b) and
// NVLSTR(a, b) (a unless it is NULL, else b) so the look-up texts run
// unchanged. Reports the dialect it is given (Standard by default). Not
// copyable; one thread at a time.
#pragma once

#include <string>

#include "contracts/query.h"

struct sqlite3;

namespace dg::contracts {

class SqliteConnection : public DatabaseConnection {
 public:
  // Opens (or creates) the file; Error with SQLite's text on failure.
  explicit SqliteConnection(const std::string& path, SqlDialect dialect = SqlDialect::Standard);
  ~SqliteConnection() override;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  SqlDialect Dialect() const override { return dialect_; }
  QueryRows Run(const std::string& sql, const QueryParams& params) override;
  // Runs statements without results (schema, fixtures).
  void Execute(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
  SqlDialect dialect_;
};

}  // namespace dg::contracts
