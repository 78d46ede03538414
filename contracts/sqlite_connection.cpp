#include "contracts/sqlite_connection.h"

#include <sqlite3.h>

#include "data/errors.h"

namespace dg::contracts {

namespace {

// NVL(a, b) and NVLSTR(a, b): a unless it is NULL, else b.
void Nvl(sqlite3_context* context, int argc, sqlite3_value** argv) {
  sqlite3_result_value(context, sqlite3_value_type(argv[0]) != SQLITE_NULL ? argv[0] : argv[1]);
}

// A look-up the database refused, in the clerk's words with the
// database's own in brackets.
std::string DatabaseFailure(const std::string& why) {
  return "A consulta ao banco de dados falhou [" + why + "].";
}

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
      throw Error(DatabaseFailure(sqlite3_errmsg(db)));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(const std::string& name, const data::Variant& value) {
    const int index = sqlite3_bind_parameter_index(stmt_, (":" + name).c_str());
    if (index == 0) return;  // not used by this text
    int rc = SQLITE_OK;
    switch (value.Kind()) {
      case data::VariantKind::Empty:
      case data::VariantKind::Null:
        rc = sqlite3_bind_null(stmt_, index);
        break;
      case data::VariantKind::Bool:
      case data::VariantKind::Int:
        rc = sqlite3_bind_int64(stmt_, index, value.ToInt64());
        break;
      case data::VariantKind::Double:
        rc = sqlite3_bind_double(stmt_, index, value.ToDouble());
        break;
      default: {
        const std::string text = value.Kind() == data::VariantKind::DateTime
                                     ? value.ToDateTime().ToIso()
                                     : value.ToString();
        rc = sqlite3_bind_text(stmt_, index, text.c_str(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
      }
    }
    if (rc != SQLITE_OK) throw Error(DatabaseFailure(sqlite3_errmsg(db_)));
  }

  // Steps once; false at the end.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw Error(DatabaseFailure(sqlite3_errmsg(db_)));
  }

  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

data::Variant Cell(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return data::Variant::Null();
    case SQLITE_INTEGER:
      return data::Variant(static_cast<std::int64_t>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
      return data::Variant(sqlite3_column_double(stmt, column));
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return data::Variant(
          std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))));
    }
  }
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, SqlDialect dialect)
    : dialect_(dialect) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    const std::string text = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw Error("O banco de dados " + path + " não pôde ser aberto [" + text + "].");
  }
  for (const char* name : {"NVL", "NVLSTR"}) {
    sqlite3_create_function(db_, name, 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, Nvl, nullptr,
                            nullptr);
  }
}

SqliteConnection::~SqliteConnection() { sqlite3_close(db_); }

QueryRows SqliteConnection::Run(const std::string& sql, const QueryParams& params) {
  Statement stmt(db_, sql);
  for (const auto& [name, value] : params) stmt.Bind(name, value);
  QueryRows rows;
  const int count = sqlite3_column_count(stmt.get());
  for (int c = 0; c < count; ++c) rows.columns.emplace_back(sqlite3_column_name(stmt.get(), c));
  while (stmt.Step()) {
    std::vector<data::Variant> row;
    row.reserve(static_cast<std::size_t>(count));
    for (int c = 0; c < count; ++c) row.push_back(Cell(stmt.get(), c));
    rows.rows.push_back(std::move(row));
  }
  return rows;
}

void SqliteConnection::Execute(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "unknown";
    sqlite3_free(message);
    throw Error(DatabaseFailure(text));
  }
}

}  // namespace dg::contracts
