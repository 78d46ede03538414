// A DatabaseConnection over a PostgreSQL database (libpq). The look-up texts
// run unchanged: ":NAME" parameters become "$n" and are always bound, never
// spliced; NVL and NVLSTR come from the database's schema (the application
// server creates them with its tables). Reports the dialect it is given
// (Standard by default, whose texts use NVL and NVLSTR). Not copyable; one
// thread at a time.
#pragma once

#include <string>
#include <vector>

#include "contracts/query.h"

struct pg_conn;

namespace dg::contracts {

class PostgresConnection : public DatabaseConnection {
 public:
  // Connects with a libpq connection string or "postgresql://..." address;
  // Error with the database's text on failure.
  explicit PostgresConnection(const std::string& conninfo,
                              SqlDialect dialect = SqlDialect::Standard);
  ~PostgresConnection() override;
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  SqlDialect Dialect() const override { return dialect_; }
  // Integers come back as Int, floating and numeric columns as Double,
  // booleans as Int 0/1, everything else as its text. A parameter the text
  // does not use is ignored; one the text uses but `params` lacks is NULL.
  QueryRows Run(const std::string& sql, const QueryParams& params) override;
  // Runs statements without parameters or results (schema, fixtures).
  void Execute(const std::string& sql);

 private:
  pg_conn* conn_ = nullptr;
  SqlDialect dialect_;
};

// The text with its ":NAME" parameters numbered "$1".."$n" by first
// appearance (the same name, in any case, keeps its number); literals,
// quoted names, comments and "::" casts are left alone
// (data::NumberSqlParams). `names` receives the names in number order, in
// capitals. Throws Error ("database error: unclosed quote ...") for a quote
// never closed.
std::string NumberNamedParams(const std::string& sql, std::vector<std::string>* names);

}  // namespace dg::contracts
