// Storage of the application server: a relational database reached through
// plain SQL with positional parameters, one transaction per server method.
//
// The methods of the server object speak only this interface, in ordinary SQL
// (no functions peculiar to one engine), so that a server database can be added
// beside the SQLite one without touching them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/variant.h"

namespace dg::server {

// A failure of the database itself (cannot open, SQL error, busy too long).
class StorageError : public Error {
 public:
  using Error::Error;
};

// A statement parameter or result cell: Null, Int, Double or String.
using Value = data::Variant;
using Row = std::vector<Value>;

// One open transaction. Valid only inside the callback that received it;
// not copyable, not shared between threads.
class Session {
 public:
  virtual ~Session() = default;
  // Runs a statement; returns the number of rows it changed.
  virtual int Exec(const std::string& sql, const std::vector<Value>& params = {}) = 0;
  // Runs a query; returns every row. Integers come back as Int, reals as
  // Double, texts as String, SQL NULL as Null.
  virtual std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params = {}) = 0;
  // Runs a query and hands each row to `row` as it is read, without keeping
  // them all: for reads of many rows. The row is valid during the call only.
  virtual void ForEachRow(const std::string& sql, const std::vector<Value>& params,
                          const std::function<void(const Row&)>& row) {
    for (const Row& r : Query(sql, params)) row(r);
  }
  // Holds `what` (any text naming a thing several writes may work on: a
  // grid, a vehicle's day) until the transaction ends: another write
  // claiming the same text waits until then, and what it reads afterwards
  // includes this one's changes. Claims taken in different orders by two
  // writes may end one of them as a conflict (run again). A backend whose
  // writes run one at a time needs none (the default does nothing).
  virtual void Claim(const std::string& what) { (void)what; }
};

// Read: a read-only transaction that sees one state of the database.
// Write: the database itself keeps concurrent writes apart (PostgreSQL runs
// them serialisable).
// ClaimedWrite: a write that claims (Session::Claim) everything another
// write could change that it reads to decide or writes beside it; the
// database need not find conflicts between such writes, and each of its
// statements sees what was committed before it (PostgreSQL runs them at
// READ COMMITTED). Every write of the things it claims must claim them too.
enum class TxKind { Read, Write, ClaimedWrite };

inline bool Writes(TxKind kind) { return kind != TxKind::Read; }

// A database shared by every caller. Thread-safe: Transact may be called from
// several threads at once; writers are serialised by the database.
//
// A backend may run `work` more than once for one Transact (PostgreSQL runs a
// write again after the database refused it for a conflict): each run starts
// from a rolled-back transaction, so `work` must start from the caller's
// inputs every time and keep no effect of an earlier run.
class Storage {
 public:
  virtual ~Storage() = default;
  // Runs `work` in one transaction: committed when it returns, rolled back
  // when it throws (the exception then propagates unchanged).
  virtual void Transact(TxKind kind, const std::function<void(Session&)>& work) = 0;
};

// Opens (creating when missing) a SQLite database file and brings its schema
// to the current version. The file uses write-ahead logging and a busy
// timeout, so other processes (the host's look-ups) may read it meanwhile.
// ":memory:" is refused: every connection must see the same database.
std::shared_ptr<Storage> OpenSqliteStorage(const std::string& path);
// What is wrong with the permissions of a SQLite database: "" when the
// file, its write-ahead log and its shared-memory file are the owner's
// alone (or missing), else a warning naming those others may read.
std::string SqliteFileWarning(const std::string& path);

// Opens a PostgreSQL database ("postgresql://user@host:port/db", any libpq
// connection string) and brings its schema to the current version; several
// server instances may share it, and start together. Writes run
// serialisable (claimed writes at READ COMMITTED) and are run again when the
// database refuses them for a conflict with another transaction (alone,
// after a few refusals).
// Connections are pooled, at most `connections` open at once; a call that
// finds them all busy waits for one, callers served in the order they came.
// Every transaction in flight on the database is one more for its cores to
// share: the servers sharing a database should hold, all together, about
// what its cores can run at once.
constexpr int kDefaultDbConnections = 8;
std::shared_ptr<Storage> OpenPostgresStorage(const std::string& conninfo,
                                             int connections = kDefaultDbConnections);

// The transactions a PostgreSQL storage runs at once: a number of its own,
// or its share of a number that every server of the database shares.
struct DbConnections {
  int count = kDefaultDbConnections;
  // `count` is what the servers on the database's schema run together: each
  // runs count divided by the servers connected there now (rounded, at
  // least one), counted again every `recount_ms` milliseconds before a
  // transaction begins. Such a server names its connections
  // "exp-appserver GROUP TAG" (GROUP from the database and schema, TAG its
  // own), which is how the others count it; a server gone (its connections
  // closed) no longer counts. A storage with a number of its own is not
  // counted.
  bool shared = false;
  int recount_ms = 2000;
};
std::shared_ptr<Storage> OpenPostgresStorage(const std::string& conninfo,
                                             const DbConnections& connections);

// PostgreSQL for "postgresql://..." or "postgres://..." (with at most
// `db_connections` connections), else a SQLite file.
std::shared_ptr<Storage> OpenStorage(const std::string& db,
                                     int db_connections = kDefaultDbConnections);
std::shared_ptr<Storage> OpenStorage(const std::string& db, const DbConnections& db_connections);

// Schema version this build creates and expects.
int CurrentSchemaVersion();

}  // namespace dg::server
