// Test support: the item rows of a server fixture's ITEMPEDIDO table, as the
// host launches them (numbers as doubles, DTENTPED as a date-time, other
// values as texts).
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "screen/testing/screen_harness.h"

namespace dg::screen::testing {

inline std::vector<ItemRow> FixtureItemRows(const nlohmann::json& fixture) {
  std::vector<ItemRow> rows;
  for (const auto& item : fixture["ITEMPEDIDO"]) {
    ItemRow row;
    for (const auto& [key, value] : item.items()) {
      row[key] = value.is_number() ? data::Variant(value.get<double>())
                                   : data::Variant(value.get<std::string>());
    }
    if (row.count("DTENTPED")) {
      row["DTENTPED"] = data::DateTime::FromIso(row["DTENTPED"].ToString());
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace dg::screen::testing
