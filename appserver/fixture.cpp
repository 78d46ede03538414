#include "appserver/fixture.h"

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "appserver/journal.h"
#include "appserver/schema.h"
#include "data/json_text.h"

namespace dg::server {
namespace {

const char* const kGridTables[] = {"TOTALROTA",    "ITINERARIO",   "ALOCGRADE", "ITEMGRADE",
                                   "GRADEVEICULO", "CARGAVEICULO", "GRADEDISTR"};

// Capacities of vehicles, quantities of items and their unit weight and
// volume: the packing and the capacity checks take them as amounts.
bool IsAmount(const std::string& column) {
  static const std::set<std::string> kAmounts = {"QTCAPACIVIAT", "VRVOLUMEVIAT", "QTDEAEXP",
                                                 "QTITEMPED",    "QTEXPITEMPED", "QTEXPDISP",
                                                 "VRPESOBRUTPR", "VRVOLMED"};
  return kAmounts.count(column) > 0;
}

Value CellValue(const ColumnDef& column, const nlohmann::json& cell, const std::string& where) {
  if (cell.is_null()) return Value::Null();
  switch (column.type) {
    case ColumnType::Text:
      if (!cell.is_string()) throw FixtureError(where + ": expected a text");
      return Value(cell.get<std::string>());
    case ColumnType::Real: {
      if (!cell.is_number()) throw FixtureError(where + ": expected a number");
      const double number = cell.get<double>();
      if (!std::isfinite(number)) throw FixtureError(where + ": expected a finite number");
      if (number < 0 && IsAmount(column.name)) {
        throw FixtureError(where + ": a capacity, quantity, weight or volume cannot be negative");
      }
      return Value(number);
    }
    case ColumnType::Date: {
      data::DateTime date;
      if (!cell.is_string() || !data::DateTime::TryFromIso(cell.get<std::string>(), &date)) {
        throw FixtureError(where + ": expected a date as YYYY-MM-DD[THH:MM:SS]");
      }
      return Value(date.ToIso());
    }
  }
  return Value::Null();
}

// The rows of one table as the values its INSERT takes; FixtureError for
// the first one that is not a row of the table.
std::vector<std::vector<Value>> RowValues(const FixtureTable& table, const nlohmann::json& rows) {
  if (!rows.is_array()) throw FixtureError("fixture " + table.name + ": expected an array");
  std::vector<std::vector<Value>> out;
  out.reserve(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string where = "fixture " + table.name + " row " + std::to_string(r + 1);
    const nlohmann::json& row = rows[r];
    if (!row.is_object()) throw FixtureError(where + ": expected an object");
    std::set<std::string> known;
    std::vector<Value> params;
    for (const ColumnDef& c : table.columns) {
      known.insert(c.name);
      auto it = row.find(c.name);
      params.push_back(it == row.end() ? Value::Null()
                                       : CellValue(c, *it, where + " field " + c.name));
    }
    for (auto it = row.begin(); it != row.end(); ++it) {
      if (!known.count(it.key())) throw FixtureError(where + ": unknown field " + it.key());
    }
    out.push_back(std::move(params));
  }
  return out;
}

void InsertRows(Session& s, const FixtureTable& table, const nlohmann::json& rows) {
  std::string sql = "INSERT INTO " + table.name + " (";
  std::string marks;
  for (const ColumnDef& c : table.columns) {
    sql += c.name + ",";
    marks += "?,";
  }
  sql.back() = ')';
  marks.back() = ')';
  sql += " VALUES (" + marks;
  const std::vector<std::vector<Value>> values = RowValues(table, rows);
  for (std::size_t r = 0; r < values.size(); ++r) {
    try {
      s.Exec(sql, values[r]);
    } catch (const StorageError& e) {
      throw FixtureError("fixture " + table.name + " row " + std::to_string(r + 1) + ": " +
                         e.what());
    }
  }
}

void Reseed(Session& s, const nlohmann::json& fixture) {
  for (const char* table : kGridTables) s.Exec(std::string("DELETE FROM ") + table);
  for (const FixtureTable& t : FixtureTables()) {
    s.Exec("DELETE FROM " + t.name);
    auto it = fixture.find(t.name);
    if (it != fixture.end()) InsertRows(s, t, *it);
  }
}

}  // namespace

void CheckFixture(const nlohmann::json& fixture) {
  if (!fixture.is_object()) throw FixtureError("fixture: expected a JSON object of tables");
  for (auto it = fixture.begin(); it != fixture.end(); ++it) {
    bool known = false;
    for (const FixtureTable& t : FixtureTables()) {
      if (t.name != it.key()) continue;
      known = true;
      RowValues(t, *it);
    }
    if (!known) throw FixtureError("fixture: unknown table " + it.key());
  }
}

void LoadFixture(Storage& storage, const nlohmann::json& fixture) {
  CheckFixture(fixture);
  storage.Transact(TxKind::Write, [&](Session& s) { Reseed(s, fixture); });
}

void ReseedForCaller(Storage& storage, const nlohmann::json& fixture,
                     const std::string& operator_code, bool discard_dispatched) {
  CheckFixture(fixture);
  storage.Transact(TxKind::Write, [&](Session& s) {
    const std::int64_t dispatched =
        s.Query("SELECT COUNT(*) FROM GRADEDISTR WHERE IDSITGRADE = 'E'")[0][0].ToInt64();
    if (dispatched > 0 && !discard_dispatched) {
      throw FixtureError("O banco de dados tem " + std::to_string(dispatched) +
                         " grade(s) expedida(s), que uma nova carga apagaria: nada foi "
                         "alterado [POST /fixture?dispatched=discard apaga-as]");
    }
    Reseed(s, fixture);
    AppendJournal(
        s, operator_code, "CarregaFixture", "", "",
        dispatched > 0 ? std::to_string(dispatched) + " grade(s) expedida(s) apagada(s)" : "");
  });
}

nlohmann::json ReadFixtureFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FixtureError("cannot read fixture " + path);
  std::stringstream text;
  text << in.rdbuf();
  try {
    return data::ParseJson(text.str());
  } catch (const data::JsonTextError& e) {
    throw FixtureError("fixture " + path + " is not valid JSON: " + e.what());
  }
}

void LoadFixtureFile(Storage& storage, const std::string& path) {
  LoadFixture(storage, ReadFixtureFile(path));
}

bool IsUnseeded(Storage& storage) {
  bool empty = true;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const FixtureTable& t : FixtureTables()) {
      if (!s.Query("SELECT 1 FROM " + t.name + " LIMIT 1").empty()) empty = false;
    }
  });
  return empty;
}

}  // namespace dg::server
