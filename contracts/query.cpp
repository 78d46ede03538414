#include "contracts/query.h"

#include <algorithm>
#include <map>

#include "data/errors.h"
#include "data/packet.h"
#include "data/sql_text.h"
#include "ui/text.h"

namespace dg::contracts {

namespace {

DatabaseConnection*& DefaultSlot() {
  static DatabaseConnection* connection = nullptr;
  return connection;
}

std::map<const data::ClientDataset*, TADOIBQuery*>& Registry() {
  static std::map<const data::ClientDataset*, TADOIBQuery*> queries;
  return queries;
}

std::string Join(const std::vector<std::string>& lines) { return ui::JoinTexts(lines, "\n"); }

bool SameName(const std::string& a, const std::string& b) { return ui::EqualsIgnoreCase(a, b); }

// A cell converted to the type of its column.
data::Variant CellFor(const data::FieldDef& def, const data::Variant& cell) {
  if (cell.IsEmptyOrNull()) return data::Variant::Null();
  switch (def.type) {
    case data::FieldType::String:
    case data::FieldType::Memo:
      return data::Variant(cell.ToString());
    case data::FieldType::Double:
      return data::Variant(cell.ToDouble());
    case data::FieldType::Integer:
      return data::Variant(cell.ToInt64());
    case data::FieldType::DateTime:
      return data::Variant(cell.ToDateTime());
  }
  return cell;
}

constexpr std::size_t kInferredTextSize = 255;

// The column's definition: the dataset's own when it defines the field,
// otherwise inferred from the values.
data::FieldDef DefFor(data::ClientDataset& dataset, const QueryRows& rows, std::size_t column) {
  const std::string& name = rows.columns[column];
  if (const data::Field* f = dataset.FindField(name)) return f->Def();
  data::FieldDef def;
  def.name = name;
  bool any_double = false, any_text = false, any_int = false;
  std::size_t longest = 0;
  for (const auto& row : rows.rows) {
    const data::Variant& v = row[column];
    switch (v.Kind()) {
      case data::VariantKind::Int:
        any_int = true;
        break;
      case data::VariantKind::Double:
        any_double = true;
        break;
      case data::VariantKind::Empty:
      case data::VariantKind::Null:
        break;
      default:
        any_text = true;
    }
    if (!v.IsEmptyOrNull()) longest = std::max(longest, data::Utf8Length(v.ToString()));
  }
  if (!any_text && any_double) {
    def.type = data::FieldType::Double;
  } else if (!any_text && any_int) {
    def.type = data::FieldType::Integer;
  } else {
    // Room for longer texts of later openings: the field stays defined.
    def.type = data::FieldType::String;
    def.size = static_cast<int>(std::max<std::size_t>(longest, kInferredTextSize));
  }
  return def;
}

}  // namespace

void SetDefaultDatabase(DatabaseConnection* connection) { DefaultSlot() = connection; }
DatabaseConnection* DefaultDatabase() { return DefaultSlot(); }

std::vector<std::string> ParseParamNames(const std::string& sql) {
  return data::NumberSqlParams(sql, data::SqlParamStyle::kNamed).names;
}

TADOIBQuery::TADOIBQuery(std::string name) : name_(name), dataset_(name) {
  Registry()[&dataset_] = this;
}

TADOIBQuery::~TADOIBQuery() { Registry().erase(&dataset_); }

void TADOIBQuery::ParseParams() {
  std::vector<std::string> texts = {Join(SQL), Join(SQL_ORACLE), Join(SQL_MSSQL), Join(SQL_IB)};
  if (texts == parsed_from_) return;
  parsed_from_ = texts;
  std::vector<QueryParam> params;
  for (const std::string& text : texts) {
    for (const std::string& name : ParseParamNames(text)) {
      if (std::any_of(params.begin(), params.end(),
                      [&](const QueryParam& p) { return SameName(p.Name(), name); })) {
        continue;
      }
      QueryParam param(name);
      for (const QueryParam& old : params_) {
        if (SameName(old.Name(), name)) param.SetValue(old.Value());
      }
      params.push_back(std::move(param));
    }
  }
  params_ = std::move(params);
}

QueryParam& TADOIBQuery::ParamByName(const std::string& name) {
  ParseParams();
  for (QueryParam& p : params_) {
    if (SameName(p.Name(), name)) return p;
  }
  throw Error("query " + name_ + " has no parameter " + name);
}

const std::vector<QueryParam>& TADOIBQuery::Params() {
  ParseParams();
  return params_;
}

std::string TADOIBQuery::SqlFor(SqlDialect dialect) const {
  const std::vector<std::string>* lines = &SQL;
  switch (dialect) {
    case SqlDialect::Oracle:
      lines = &SQL_ORACLE;
      break;
    case SqlDialect::MsSql:
      lines = &SQL_MSSQL;
      break;
    case SqlDialect::Ib:
      lines = &SQL_IB;
      break;
    case SqlDialect::Standard:
      break;
  }
  return Join(lines->empty() ? SQL : *lines);
}

void TADOIBQuery::Open() {
  if (Active()) return;
  DatabaseConnection* db = connection != nullptr ? connection : DefaultDatabase();
  if (db == nullptr) throw Error("query " + name_ + " has no database connection");
  const std::string sql = SqlFor(db->Dialect());
  QueryRecord record;
  record.name = name_;
  for (const std::string& used : ParseParamNames(sql)) {
    record.params.emplace_back(used, ParamByName(used).Value());
  }
  QueryRows rows = db->Run(sql, record.params);

  data::DataPacket packet;
  for (std::size_t c = 0; c < rows.columns.size(); ++c) {
    packet.fields.push_back(DefFor(dataset_, rows, c));
  }
  for (const auto& row : rows.rows) {
    std::vector<data::Variant> cells;
    for (std::size_t c = 0; c < packet.fields.size(); ++c) {
      cells.push_back(CellFor(packet.fields[c], c < row.size() ? row[c] : data::Variant()));
    }
    packet.rows.push_back(std::move(cells));
  }
  dataset_.LoadPacket(packet);
  record.rows = static_cast<int>(packet.rows.size());
  if (Observer()) Observer()(record);
}

void TADOIBQuery::Close() {
  if (dataset_.Active()) dataset_.Close();
}

bool TADOIBQuery::Active() const { return dataset_.Active(); }

bool TADOIBQuery::IsEmpty() const { return !dataset_.Active() || dataset_.IsEmpty(); }

TADOIBQuery* TADOIBQuery::OfDataSet(const data::ClientDataset* dataset) {
  auto it = Registry().find(dataset);
  return it == Registry().end() ? nullptr : it->second;
}

std::function<void(const QueryRecord&)>& TADOIBQuery::Observer() {
  static std::function<void(const QueryRecord&)> observer;
  return observer;
}

}  // namespace dg::contracts
