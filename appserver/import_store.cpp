#include "appserver/import_store.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <unordered_map>

#include "data/quantity.h"

namespace dg::server::import {
namespace {

bool SameValue(const Value& a, const Value& b) {
  if (a.IsEmptyOrNull() || b.IsEmptyOrNull()) return a.IsEmptyOrNull() == b.IsEmptyOrNull();
  if (a.IsNumeric() && b.IsNumeric()) return a.ToDouble() == b.ToDouble();
  if (a.IsNumeric() != b.IsNumeric()) return false;
  return a.ToString() == b.ToString();
}

// The stored rows the file may touch, by key, with the columns it writes in
// the order the rows name them.
std::unordered_map<std::string, Row> Existing(Session& s, const std::string& db_table,
                                              const std::vector<std::string>& key,
                                              const std::vector<RowOut>& rows) {
  const auto& sample = rows.front().values.at(db_table);
  std::string sql = "SELECT ";
  for (const auto& [name, value] : sample) sql += name + ", ";
  sql.resize(sql.size() - 2);
  sql += " FROM " + db_table;
  std::vector<std::vector<Value>> params = {{}};
  if (db_table == "ITEMPEDIDO") {
    // Only the branches the file names: the item table keeps every day.
    sql += " WHERE CDFILIAL = ?";
    std::set<std::string> branches;
    for (const RowOut& r : rows) branches.insert(r.values.at(db_table).front().second.ToString());
    params.clear();
    for (const std::string& b : branches) {
      // A dispatch of the branch lowers what is left of its items; the
      // import waits for one under way (RecordDispatch claims the same).
      s.Claim("items " + b);
      params.push_back({Value(b)});
    }
  }
  std::vector<std::size_t> key_at;
  for (const std::string& k : key) {
    for (std::size_t i = 0; i < sample.size(); ++i) {
      if (sample[i].first == k) key_at.push_back(i);
    }
  }
  std::unordered_map<std::string, Row> out;
  for (const auto& p : params) {
    for (Row& row : s.Query(sql, p)) {
      std::string key_text;
      for (std::size_t i : key_at) {
        key_text += (row[i].IsEmptyOrNull() ? "" : row[i].ToString()) + '\x1f';
      }
      out.emplace(std::move(key_text), std::move(row));
    }
  }
  return out;
}

// The order items of the file's branches that grids dispatched some of, by
// key as Existing keys them: their dispatched quantity (QTEXPITEMPED).
std::unordered_map<std::string, double> Dispatched(Session& s, const std::vector<std::string>& key,
                                                   const std::vector<RowOut>& rows) {
  std::set<std::string> branches;
  for (const RowOut& r : rows) {
    branches.insert(r.values.at("ITEMPEDIDO").front().second.ToString());
  }
  std::string sql = "SELECT ";
  for (const std::string& k : key) sql += k + ", ";
  sql += "QTEXPITEMPED FROM ITEMPEDIDO WHERE CDFILIAL = ? AND QTEXPITEMPED > 0";
  std::unordered_map<std::string, double> out;
  for (const std::string& b : branches) {
    for (const Row& row : s.Query(sql, {Value(b)})) {
      std::string key_text;
      for (std::size_t i = 0; i < key.size(); ++i) {
        key_text += (row[i].IsEmptyOrNull() ? "" : row[i].ToString()) + '\x1f';
      }
      out.emplace(std::move(key_text), row[key.size()].ToDouble());
    }
  }
  return out;
}

// An item's quantity as a file gives it is the whole to dispatch; what grids
// dispatched of it already is not offered again: what is left is the file's
// quantity less that (never below zero).
std::vector<std::pair<std::string, Value>> LessDispatched(
    const std::vector<std::pair<std::string, Value>>& cells, double dispatched) {
  std::vector<std::pair<std::string, Value>> out = cells;
  for (auto& [name, value] : out) {
    if (name != "QTDEAEXP" || value.IsEmptyOrNull()) continue;
    const std::int64_t left =
        data::QuantityUnits(value.ToDouble()) - data::QuantityUnits(dispatched);
    value = Value(left > 0 ? data::RoundQuantity(value.ToDouble() - dispatched) : 0.0);
  }
  return out;
}

void Insert(Session& s, const std::string& db_table,
            const std::vector<std::pair<std::string, Value>>& cells,
            const std::map<std::string, std::vector<std::pair<std::string, Value>>>& on_insert) {
  std::vector<std::pair<std::string, Value>> all = cells;
  if (auto it = on_insert.find(db_table); it != on_insert.end()) {
    for (const auto& extra : it->second) {
      if (std::none_of(all.begin(), all.end(),
                       [&](const auto& c) { return c.first == extra.first; })) {
        all.push_back(extra);
      }
    }
  }
  std::string names, marks;
  std::vector<Value> params;
  for (const auto& [name, value] : all) {
    names += (names.empty() ? "" : ", ") + name;
    marks += marks.empty() ? "?" : ", ?";
    params.push_back(value);
  }
  s.Exec("INSERT INTO " + db_table + " (" + names + ") VALUES (" + marks + ")", params);
}

// Writes the cells that differ from the stored row, read with the columns in
// the order `cells` names them; false when none does.
bool Update(Session& s, const std::string& db_table, const std::vector<std::string>& key,
            const std::vector<Value>& key_values,
            const std::vector<std::pair<std::string, Value>>& cells, const Row& stored) {
  bool differs = false;
  for (std::size_t i = 0; i < cells.size() && !differs; ++i) {
    differs = !SameValue(cells[i].second, stored[i]);
  }
  if (!differs) return false;
  std::string sets, where;
  std::vector<Value> params;
  for (const auto& [name, value] : cells) {
    if (std::find(key.begin(), key.end(), name) != key.end()) continue;
    sets += (sets.empty() ? "" : ", ") + name + " = ?";
    params.push_back(value);
  }
  for (std::size_t i = 0; i < key.size(); ++i) {
    where += (i == 0 ? "" : " AND ") + key[i] + " = ?";
    params.push_back(key_values[i]);
  }
  s.Exec("UPDATE " + db_table + " SET " + sets + " WHERE " + where, params);
  return true;
}

}  // namespace

StoreCounts StoreRows(Session& s, const std::string& main, const std::vector<std::string>& main_key,
                      const std::vector<RowOut>& rows,
                      const std::function<void(int done, int total)>& progress) {
  StoreCounts counts;
  if (rows.empty()) return counts;
  std::vector<std::string> tables;
  for (const auto& [name, cells] : rows.front().values) tables.push_back(name);
  std::vector<char> inserted(rows.size(), 0), changed(rows.size(), 0);
  int done = 0;
  const int total = static_cast<int>(rows.size() * tables.size());
  for (const std::string& db_table : tables) {
    const std::vector<std::string> key =
        db_table == main ? main_key : std::vector<std::string>{"CDFILIAL"};
    const auto existing = Existing(s, db_table, key, rows);
    const auto dispatched = db_table == "ITEMPEDIDO" ? Dispatched(s, key, rows)
                                                     : std::unordered_map<std::string, double>();
    const auto& sample = rows.front().values.at(db_table);
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const auto& cells = rows[r].values.at(db_table);
      // The stored rows are compared cell by cell in the first row's order.
      if (!std::equal(cells.begin(), cells.end(), sample.begin(), sample.end(),
                      [](const auto& a, const auto& b) { return a.first == b.first; })) {
        throw StorageError("import: the rows of " + db_table + " do not name the same columns");
      }
      std::string key_text;
      std::vector<Value> key_values;
      for (const std::string& k : key) {
        const auto it =
            std::find_if(cells.begin(), cells.end(), [&](const auto& c) { return c.first == k; });
        if (it == cells.end()) throw StorageError("import: a row of " + db_table + " has no " + k);
        key_values.push_back(it->second);
        key_text += it->second.ToString() + '\x1f';
      }
      const auto found = existing.find(key_text);
      if (found == existing.end()) {
        Insert(s, db_table, cells, rows[r].on_insert);
        changed[r] = 1;
        if (db_table == main) inserted[r] = 1;
      } else if (const auto d = dispatched.find(key_text); d != dispatched.end()) {
        if (Update(s, db_table, key, key_values, LessDispatched(cells, d->second), found->second)) {
          changed[r] = 1;
        }
      } else if (Update(s, db_table, key, key_values, cells, found->second)) {
        changed[r] = 1;
      }
      if (progress) progress(++done, total);
    }
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (inserted[r]) {
      ++counts.inserted;
    } else if (changed[r]) {
      ++counts.updated;
    } else {
      ++counts.unchanged;
    }
  }
  return counts;
}

}  // namespace dg::server::import
