// The tables a distributor imports from CSV files: their documented column
// names, the stored column each fills, how a cell is read, and how a
// file's header row names its table.
//
// Internal to the import; the README of appserver/ documents the same
// names for the people who write the files.
#pragma once

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dg::server::import {

// How a cell is read and stored.
enum class Kind {
  Code,         // a code; with `pad`, a code of digits shorter than `size` gets zeros in front
  Text,         // free text
  Number,       // a decimal number between `min` and `max`
  Date,         // a date, stored as "YYYY-MM-DDTHH:MM:SS"
  Inscription,  // a CNPJ or CPF, stored as its digits; check digits verified
  PersonType,   // "J" (legal person) or "F" (natural person)
  Flag,         // "S" or "N" ("sim", "não" too)
  Cep,          // a postal code of 8 digits, stored as "12345-678"
  Time,         // a time of day "07:30", stored so
  Window,       // a receiving window "07:00-11:00", stored so
};

struct Column {
  std::string name;  // the documented header name
  std::string db;    // the stored column; its name is accepted in a header too
  Kind kind = Kind::Text;
  bool key = false;       // part of the row's key: never empty
  bool required = false;  // must be a column of the file and filled in every row
  int size = 0;           // most characters (0: no limit)
  bool pad = false;
  double min = -std::numeric_limits<double>::infinity();
  double max = std::numeric_limits<double>::infinity();
  bool min_exclusive = false;  // the number must be above `min`
  bool quantity = false;       // kept at the decimals quantities keep (data/quantity.h)
  std::string target;          // the stored table, when not the file table's own
  std::string missing;         // the reason given for an empty required cell, when not the usual
  // For a one-letter Text: the letters it may hold (upper or lower case),
  // and how a refusal names them.
  std::string choices, choices_text;
};

enum class TableId { TransportTypes, Transporters, Branches, Vehicles, Clients, Items };

struct Table {
  TableId id;
  std::string name;                 // "clientes": how reports name the file's table
  std::string db;                   // the stored table
  std::vector<std::string> db_key;  // its key columns
  std::vector<Column> columns;
};

// Every importable table, in the order files are imported: a table comes
// after the tables its rows refer to.
const std::vector<Table>& Tables();

// A header cell as it is compared: lower case, accents dropped, every run of
// other characters than letters and digits one "_", none at the ends
// ("Razão Social" -> "razao_social", "Peso (kg)" -> "peso_kg").
std::string NormalName(std::string_view header);

// What a header row says.
struct HeaderMatch {
  const Table* table = nullptr;  // null: no table has these columns
  // For each header cell, the index of its column in `table`, or -1 for an
  // unnamed cell (ignored while its cells are empty).
  std::vector<int> columns;
  // Problems of the header, each with its 0-based cell index (-1: the whole
  // header): unknown or repeated columns, required columns missing.
  // At most kMaxListedIssues; `unlisted` counts the rest.
  std::vector<std::pair<int, std::string>> problems;
  int unlisted = 0;
};

// The most problems a file's report lists; the rest are counted.
inline constexpr int kMaxListedIssues = 100;

// The table whose key columns the header holds and which knows the most of
// its cells.
HeaderMatch MatchHeader(const std::vector<std::string>& cells);

}  // namespace dg::server::import
