#include "contracts/postgres_connection.h"

#include <libpq-fe.h>

#include <cctype>
#include <memory>
#include <optional>

#include "data/errors.h"
#include "data/pg_cell.h"
#include "data/sql_text.h"

namespace dg::contracts {
namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The text of a parameter, its failures reported as the database's.
std::optional<std::string> ParamText(const data::Variant& v) {
  try {
    return data::SqlParamText(v);
  } catch (const Error& e) {
    throw Error("A consulta ao banco de dados falhou [" + std::string(e.what()) + "].");
  }
}

data::Variant Cell(const PGresult* res, int row, int col) {
  if (PQgetisnull(res, row, col)) return data::Variant::Null();
  return data::PgCell(PQgetvalue(res, row, col), PQgetlength(res, row, col), PQftype(res, col));
}

void Check(pg_conn* conn, const Result& res) {
  const ExecStatusType status = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string text = res ? PQresultErrorMessage(res.get()) : PQerrorMessage(conn);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  throw Error("A consulta ao banco de dados falhou [" + text + "].");
}

}  // namespace

std::string NumberNamedParams(const std::string& sql, std::vector<std::string>* names) {
  data::NumberedSql numbered;
  try {
    numbered = data::NumberSqlParams(sql, data::SqlParamStyle::kNamed);
  } catch (const Error& e) {
    throw Error(std::string("database error: ") + e.what());
  }
  if (names) {
    names->clear();
    for (const std::string& name : numbered.names) names->push_back(Upper(name));
  }
  return numbered.text;
}

PostgresConnection::PostgresConnection(const std::string& conninfo, SqlDialect dialect)
    : conn_(PQconnectdb(conninfo.c_str())), dialect_(dialect) {
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string text = conn_ ? PQerrorMessage(conn_) : "out of memory";
    PQfinish(conn_);
    conn_ = nullptr;
    throw Error("O banco de dados não aceita conexão [" + text + "].");
  }
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  PQsetClientEncoding(conn_, "UTF8");
}

PostgresConnection::~PostgresConnection() { PQfinish(conn_); }

QueryRows PostgresConnection::Run(const std::string& sql, const QueryParams& params) {
  std::vector<std::string> names;
  const std::string numbered = NumberNamedParams(sql, &names);
  std::vector<std::optional<std::string>> texts(names.size());
  for (std::size_t n = 0; n < names.size(); ++n) {
    for (const auto& [name, value] : params) {
      if (Upper(name) == names[n]) texts[n] = ParamText(value);
    }
  }
  std::vector<const char*> values;
  for (const auto& t : texts) values.push_back(t ? t->c_str() : nullptr);
  Result res(PQexecParams(conn_, numbered.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0),
             PQclear);
  Check(conn_, res);
  QueryRows rows;
  const int columns = PQnfields(res.get()), count = PQntuples(res.get());
  // Unquoted names fold to lower case in the database; the datasets know
  // them as the texts spell them, in upper case.
  for (int c = 0; c < columns; ++c) rows.columns.push_back(Upper(PQfname(res.get(), c)));
  for (int r = 0; r < count; ++r) {
    std::vector<data::Variant> row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(Cell(res.get(), r, c));
    rows.rows.push_back(std::move(row));
  }
  return rows;
}

void PostgresConnection::Execute(const std::string& sql) {
  Check(conn_, Result(PQexec(conn_, sql.c_str()), PQclear));
}

}  // namespace dg::contracts
