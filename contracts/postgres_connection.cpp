#include "contracts/postgres_connection.h"

#include <libpq-fe.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>

#include "data/errors.h"
#include "data/pg_cell.h"

namespace dg::contracts {
namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::string> ParamText(const data::Variant& v) {
  switch (v.Kind()) {
    case data::VariantKind::Empty:
    case data::VariantKind::Null:
      return std::nullopt;
    case data::VariantKind::Bool:
    case data::VariantKind::Int:
      return std::to_string(v.ToInt64());
    case data::VariantKind::Double: {
      const double d = v.ToDouble();
      if (std::isnan(d)) return "NaN";
      if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
      char buffer[64];
      return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
    }
    case data::VariantKind::DateTime:
      return v.ToDateTime().ToIso();
    default: {
      std::string text = v.ToString();
      // The protocol's texts end at a NUL: a cut text would match wrongly.
      if (text.find('\0') != std::string::npos) {
        throw Error("A consulta ao banco de dados falhou [a parameter holds a NUL character].");
      }
      return text;
    }
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
  std::vector<std::string> found;
  std::string out;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t end = sql.find(c, i + 1);
      if (end == std::string::npos) end = sql.size() - 1;
      out.append(sql, i, end - i + 1);
      i = end;
      continue;
    }
    if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
      out += "::";
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (c == ':' && end < sql.size() && IsNameChar(sql[end])) ++end;
    if (c != ':' || end == i + 1) {
      out += c;
      continue;
    }
    const std::string name = Upper(sql.substr(i + 1, end - i - 1));
    std::size_t n = 0;
    while (n < found.size() && found[n] != name) ++n;
    if (n == found.size()) found.push_back(name);
    out += "$" + std::to_string(n + 1);
    i = end - 1;
  }
  if (names) *names = std::move(found);
  return out;
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
