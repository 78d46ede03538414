// Internal to the import: storing the rows of a file that passed every
// check, inserting new keys and updating the stored rows that differ.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"

namespace dg::server::import {

// The values a good row stores, per stored table: its cells (the key's
// included) and what only a new row gets. Every row of a file names the
// same columns of each table, in the same order. Intentionally copyable.
struct RowOut {
  int line = 0;
  std::map<std::string, std::vector<std::pair<std::string, Value>>> values, on_insert;
};

struct StoreCounts {
  int inserted = 0, updated = 0, unchanged = 0;
};

// Stores the rows: `main` is the file's own table, keyed by `main_key`;
// any other table a row fills (a branch's parameters) is keyed by
// CDFILIAL. A row counts inserted when its main row is new, updated when a
// stored row of it changed, unchanged otherwise; only the cells that differ
// are written, so rows stored already cost no write. `progress` sees each
// row of each table.
StoreCounts StoreRows(Session& s, const std::string& main, const std::vector<std::string>& main_key,
                      const std::vector<RowOut>& rows,
                      const std::function<void(int done, int total)>& progress);

}  // namespace dg::server::import
