// SQL texts as the system sends them to PostgreSQL: the address that names
// a PostgreSQL database, a statement's parameters numbered $1, $2, ... and
// the text form of each parameter's value. The server's storage ("?"
// parameters) and the host's look-ups (":NAME" parameters) share them, so
// both read a statement and a value alike. No libpq here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/variant.h"

namespace dg::data {

// A database address names PostgreSQL when it starts with "postgresql://"
// or "postgres://"; anything else is a SQLite file.
bool IsPostgresUrl(std::string_view db);

// How a statement marks its parameters.
enum class SqlParamStyle {
  kPositional,  // "?", numbered in order
  kNamed,       // ":NAME", one number per name (compared without case)
};

// A statement with its parameters numbered for PostgreSQL. Intentionally
// copyable.
struct NumberedSql {
  std::string text;                // each parameter replaced by "$n"
  std::vector<std::string> names;  // kNamed: each name once, as first written
  int count = 0;                   // the parameters numbered ($1 to $count)
};

// Numbers the parameters of `sql`. Quoted literals and names ('...' and
// "...", a doubled quote standing inside them), line comments ("--" to the
// end of the line) and casts ("::") are copied as they are; a ':' not
// followed by a name is plain text. Throws Error ("unclosed quote in
// [sql]") when a quote is never closed: what follows it would otherwise be
// read as parameters, or a parameter taken for part of a literal.
NumberedSql NumberSqlParams(const std::string& sql, SqlParamStyle style);

// The text PostgreSQL reads a parameter from; nullopt for SQL NULL (an
// empty or null value). Flags and integers as integers (true is -1), doubles in their
// shortest exact form ("NaN", "Infinity"), dates as ISO text. Throws Error
// for a text holding a NUL character (the protocol ends a text there, so it
// would be stored or compared cut) and for a value that is not a single
// cell (a packet, an array, a reference to a caller's variable).
std::optional<std::string> SqlParamText(const Variant& value);

}  // namespace dg::data
