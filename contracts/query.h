// TADOIBQuery: a read-only SQL query with one text per database dialect,
// run on a database connection, its rows kept on the client in a
// ClientDataset. Parameters ":NAME" are always bound by name, never spliced
// into the text; a parameter with no value is bound as SQL NULL.
//
// The host's shared database connection is process-wide (SetDefaultDatabase);
// a query uses it unless given its own. Every Open passes the process-wide
// query observer (traces). Not copyable; the user-interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/dataset.h"
#include "data/variant.h"

namespace dg::contracts {

enum class SqlDialect { Standard, Oracle, MsSql, Ib };

// Rows of a query: column names and cells (null, int, double or text).
struct QueryRows {
  std::vector<std::string> columns;
  std::vector<std::vector<data::Variant>> rows;
};

using QueryParams = std::vector<std::pair<std::string, data::Variant>>;

class DatabaseConnection {
 public:
  virtual ~DatabaseConnection() = default;
  virtual SqlDialect Dialect() const = 0;
  // Runs a query; `params` by name without the colon. Error on any failure
  // (the database's text included).
  virtual QueryRows Run(const std::string& sql, const QueryParams& params) = 0;
};

// Null clears it. Not owned.
void SetDefaultDatabase(DatabaseConnection* connection);
DatabaseConnection* DefaultDatabase();

class QueryParam {
 public:
  explicit QueryParam(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  const data::Variant& Value() const { return value_; }
  void SetValue(const data::Variant& value) { value_ = value; }
  void SetAsString(const std::string& text) { value_ = data::Variant(text); }
  void Clear() { value_ = data::Variant::Null(); }
  bool IsNull() const { return value_.IsEmptyOrNull(); }

 private:
  std::string name_;
  data::Variant value_ = data::Variant::Null();
};

// What the observer sees of one Open.
struct QueryRecord {
  std::string name;
  QueryParams params;
  int rows = 0;
};

class TADOIBQuery {
 public:
  explicit TADOIBQuery(std::string name);
  ~TADOIBQuery();
  TADOIBQuery(const TADOIBQuery&) = delete;
  TADOIBQuery& operator=(const TADOIBQuery&) = delete;

  const std::string& Name() const { return name_; }

  // The texts, line by line.
  std::vector<std::string> SQL, SQL_ORACLE, SQL_MSSQL, SQL_IB;
  DatabaseConnection* connection = nullptr;  // null: DefaultDatabase()

  // The parameter (case-insensitive) named in any of the texts; Error
  // naming an unknown one. Parameters start without a value.
  QueryParam& ParamByName(const std::string& name);
  const std::vector<QueryParam>& Params();

  // Runs the text of the connection's dialect (falling back to SQL when that
  // dialect's text is empty) and loads the rows into DataSet(). Fields
  // defined on the dataset beforehand keep their labels, types and sizes
  // (a longer text is an Error); other columns are added at the first
  // opening (texts sized 255 at least). Error without a connection. No
  // effect when already open.
  void Open();
  void Close();
  bool Active() const;
  bool IsEmpty() const;
  // The text Open runs for the dialect, lines joined by "\n".
  std::string SqlFor(SqlDialect dialect) const;

  data::ClientDataset& DataSet() { return dataset_; }
  data::Field& FieldByName(const std::string& name) { return dataset_.FieldByName(name); }

  // The query whose dataset this is, or null.
  static TADOIBQuery* OfDataSet(const data::ClientDataset* dataset);
  static std::function<void(const QueryRecord&)>& Observer();

 private:
  void ParseParams();
  std::string name_;
  data::ClientDataset dataset_;
  std::vector<QueryParam> params_;
  std::vector<std::string> parsed_from_;
};

// The ":NAME" parameters of a text in order of first appearance, without
// the colon; literals, quoted names, comments and "::" are skipped, as the
// PostgreSQL look-ups number them (data::NumberSqlParams). Throws Error for
// a quote never closed.
std::vector<std::string> ParseParamNames(const std::string& sql);

}  // namespace dg::contracts
