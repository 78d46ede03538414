// The server database's tables and their versioned migrations.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

// Dates are stored as "YYYY-MM-DDTHH:MM:SS" texts.
enum class ColumnType { Text, Real, Date };

struct ColumnDef {
  std::string name;
  ColumnType type;
};

// A table the demonstration fixture fills, with its columns in table order.
struct FixtureTable {
  std::string name;
  std::vector<ColumnDef> columns;
};

// The fixture tables in load order: PARAMETROS, FILIAL, TRANSPORT, TIPOTRANSP,
// VEICULO, CLIENTE, ITEMPEDIDO (every stored item field).
const std::vector<FixtureTable>& FixtureTables();

// The columns the migrations after `version` added to the fixture tables,
// as (table, column): what an older database lacks.
std::vector<std::pair<std::string, std::string>> ColumnsAddedAfter(int version);

// The database engine a schema is written for. Each migration step is the
// same on both; PostgreSQL gets 64-bit reals and integers, texts that compare
// byte by byte as SQLite's do, an insertion-order `rowid` on ITEMPEDIDO and
// the look-ups' functions NVL and NVLSTR.
enum class SchemaDialect { Sqlite, Postgres };

// Brings the schema to CurrentSchemaVersion(), one migration at a time.
// REQUIRES: a write transaction. Throws StorageError for a database written
// by a newer build.
void MigrateSchema(Session& session, SchemaDialect dialect = SchemaDialect::Sqlite);

}  // namespace dg::server
