// The PostgreSQL storage's pieces that its tests reach directly. The storage
// itself is opened through OpenPostgresStorage / OpenStorage (storage.h).
#pragma once

#include <string>

namespace dg::server {

// The statement with its positional "?" parameters numbered "$1".."$n" in
// order, leaving string literals, quoted names and comments untouched
// (data::NumberSqlParams). `count` receives n. Throws StorageError for an
// unclosed literal.
std::string NumberPlaceholders(const std::string& sql, int* count);

// The table an INSERT INTO, UPDATE or DELETE FROM statement writes, in
// capitals; "" for any other statement (or a quoted table name).
std::string WrittenTable(const std::string& sql);

// The SQLSTATE classes a write transaction is run again for: serialization
// failure (40001), deadlock (40P01) and unique violation (23505, a number
// another instance took first; retried fewer times).
enum class RetryClass { None, Conflict, Duplicate };
RetryClass ClassifyFailure(const std::string& sqlstate);

// How many runs of a write the database refused in this process, every
// PostgreSQL storage together (each was run again, or its refusal was final).
long long PostgresRefusedRuns();

// The transactions a PostgreSQL storage runs at once now (its share, where
// it shares them with the database's other servers); 0 for another storage.
class Storage;
int PostgresTransactionsAtOnce(Storage& storage);
// The application name of its sessions where it shares them, else "".
std::string PostgresSessionName(Storage& storage);

// Runs one statement outside a transaction on a connection of its own
// (creating or dropping a schema or a database). Throws StorageError.
void RunPostgresStatement(const std::string& conninfo, const std::string& sql);

}  // namespace dg::server
