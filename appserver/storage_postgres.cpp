#include "appserver/storage_postgres.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "appserver/connection_session.h"
#include "appserver/schema.h"
#include "appserver/storage.h"
#include "data/mutex.h"
#include "data/pg_cell.h"
#include "data/sql_text.h"

namespace dg::server {
namespace {

// Runs of a write side by side with others before it runs alone, and runs
// in all before its refusal is final.
constexpr int kSideBySideRuns = 3;
constexpr int kMaxRuns = 8;
// Every instance migrating the same database takes this lock first.
constexpr long long kMigrationLock = 0x45585033323030LL;
// Writers hold this lock shared; a writer refused kSideBySideRuns times
// takes it alone.
constexpr long long kWriterLock = 0x45585033323031LL;
// A table is analysed once the rows this server's committed writes added to
// it since its last analysis reach as many as it held then (it doubled),
// and at least kAnalyseMinRows (see PostgresStorage::AnalyseGrown).
constexpr double kAnalyseShare = 1.0;
constexpr long long kAnalyseMinRows = 500;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The text form of a parameter; nullopt for SQL NULL.
std::optional<std::string> ParamText(const Value& v) {
  try {
    return data::SqlParamText(v);
  } catch (const StorageError&) {
    throw;
  } catch (const Error& e) {
    throw StorageError(e.what());
  }
}

Value Cell(const PGresult* res, int row, int col) {
  if (PQgetisnull(res, row, col)) return Value::Null();
  return data::PgCell(PQgetvalue(res, row, col), PQgetlength(res, row, col), PQftype(res, col));
}

// The statement's first word in capitals ("SELECT"), past blanks and
// opening brackets.
std::string FirstWord(const std::string& sql) {
  const auto start = sql.find_first_not_of(" \t\r\n(");
  if (start == std::string::npos) return "";
  std::string word;
  for (std::size_t i = start; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i]));
       ++i) {
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i])));
  }
  return word;
}

bool Preparable(const std::string& word) {
  return word == "SELECT" || word == "INSERT" || word == "UPDATE" || word == "DELETE";
}

// One libpq connection with its prepared statements. Used by one transaction
// at a time.
class Connection {
 public:
  // `name`, when given, is the session's application name, which is how the
  // servers of one database count each other.
  explicit Connection(const std::string& conninfo, const std::string& name = "")
      : conn_(PQconnectdb(conninfo.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string text = conn_ ? PQerrorMessage(conn_) : "out of memory";
      PQfinish(conn_);
      throw StorageError("cannot connect to the database: " + text);
    }
    // Notices ("relation already exists, skipping") are not failures.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(conn_, "UTF8") != 0) {
      PQfinish(conn_);
      throw StorageError("the database does not speak UTF-8");
    }
    // The name is ours (letters, digits and blanks): nothing to quote.
    if (!name.empty()) {
      try {
        Run("SET application_name = '" + name + "'");
      } catch (...) {
        PQfinish(conn_);
        throw;
      }
    }
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { PQfinish(conn_); }

  bool Healthy() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }
  // Ends the session; Healthy() is false afterwards.
  void Close() {
    PQfinish(conn_);
    conn_ = nullptr;
  }

  // The SQLSTATE of the first statement that failed since ClearFailure, or "".
  const std::string& first_failure() const { return first_failure_; }
  void ClearFailure() { first_failure_.clear(); }

  // A statement without parameters whose rows, if any, are dropped; after
  // a BEGIN left waiting (BeginWithNext), in the same round trip.
  void Run(const std::string& sql) {
    if (!conn_) throw StorageError("the database connection is closed");
    if (!pending_begin_.empty()) {
      const std::string both = std::exchange(pending_begin_, {}) + "; " + sql;
      Check(Result(PQexec(conn_, both.c_str()), PQclear), both);
      return;
    }
    Check(Result(PQexec(conn_, sql.c_str()), PQclear), sql);
  }

  // The transaction's BEGIN leaves with its first statement, in one round
  // trip instead of two: a read's snapshot is taken by that statement
  // either way.
  void BeginWithNext(std::string begin) { pending_begin_ = std::move(begin); }
  // Forgets a BEGIN still waiting; true when there was one (the
  // transaction ran no statement: there is nothing to commit or roll back).
  bool DropPendingBegin() { return !std::exchange(pending_begin_, {}).empty(); }

  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params, int* changes) {
    const Statement& st = Prepared(sql);
    if (static_cast<int>(params.size()) != st.count) {
      throw StorageError("wrong parameter count for [" + sql + "]");
    }
    std::vector<std::optional<std::string>> texts;
    texts.reserve(params.size());
    for (const Value& v : params) texts.push_back(ParamText(v));
    std::vector<const char*> values;
    for (const auto& t : texts) values.push_back(t ? t->c_str() : nullptr);
    const int n = static_cast<int>(values.size());
    Result res = pending_begin_.empty()
                     ? Result(st.name.empty() ? PQexecParams(conn_, st.numbered.c_str(), n, nullptr,
                                                             values.data(), nullptr, nullptr, 0)
                                              : PQexecPrepared(conn_, st.name.c_str(), n,
                                                               values.data(), nullptr, nullptr, 0),
                              PQclear)
                     : AfterBegin(std::exchange(pending_begin_, {}), st, n, values.data());
    Check(res, sql);
    std::vector<Row> rows;
    const int count = PQntuples(res.get()), columns = PQnfields(res.get());
    rows.reserve(static_cast<std::size_t>(count));
    for (int r = 0; r < count; ++r) {
      Row row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) row.push_back(Cell(res.get(), r, c));
      rows.push_back(std::move(row));
    }
    if (changes) {
      const char* tuples = PQcmdTuples(res.get());
      *changes = *tuples ? std::atoi(tuples) : 0;
      if (st.grows && *changes > 0) written_[st.table] += *changes;
    }
    return rows;
  }

  // The rows each table gained by inserts since the last call (or since
  // ForgetWritten), and forgets them.
  std::map<std::string, long long> TakeWritten() { return std::exchange(written_, {}); }
  void ForgetWritten() { written_.clear(); }

 private:
  struct Statement {
    std::string numbered;
    int count = 0;
    std::string name;   // empty: not prepared (statements other than DML)
    std::string table;  // the table an INSERT, UPDATE or DELETE writes, else ""
    bool grows = false;  // an INSERT: the rows it changes are rows the table gains
  };

  // Sends `begin` and the statement in one pipeline and answers the
  // statement's result, after checking the BEGIN's. Whatever fails, the
  // connection leaves pipeline mode, or is closed.
  Result AfterBegin(const std::string& begin, const Statement& st, int n,
                    const char* const* values) {
    if (PQenterPipelineMode(conn_) != 1) {
      // Not idle (never so here): one round trip each, as before.
      Check(Result(PQexec(conn_, begin.c_str()), PQclear), begin);
      return Result(st.name.empty() ? PQexecParams(conn_, st.numbered.c_str(), n, nullptr, values,
                                                   nullptr, nullptr, 0)
                                    : PQexecPrepared(conn_, st.name.c_str(), n, values, nullptr,
                                                     nullptr, 0),
                    PQclear);
    }
    const bool sent =
        PQsendQueryParams(conn_, begin.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
        (st.name.empty() ? PQsendQueryParams(conn_, st.numbered.c_str(), n, nullptr, values,
                                             nullptr, nullptr, 0)
                         : PQsendQueryPrepared(conn_, st.name.c_str(), n, values, nullptr,
                                               nullptr, 0)) == 1 &&
        PQpipelineSync(conn_) == 1;
    // The results come query by query, each ended by a null, then the
    // sync's. Two nulls in a row mean the connection has nothing more to
    // give (lost): the loop ends there rather than wait for ever.
    Result begun(nullptr, PQclear), answer(nullptr, PQclear);
    bool synced = false;
    int query = 0, nulls = 0;
    while (sent && !synced && nulls < 2) {
      Result r(PQgetResult(conn_), PQclear);
      if (!r) {
        ++nulls;
        ++query;
        continue;
      }
      nulls = 0;
      if (PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) {
        synced = true;
      } else if (query == 0 && !begun) {
        begun = std::move(r);
      } else if (query == 1 && !answer) {
        answer = std::move(r);
      }
    }
    if (!synced || PQexitPipelineMode(conn_) != 1) {
      const std::string text = PQerrorMessage(conn_);
      Close();
      if (first_failure_.empty()) first_failure_ = "?";
      throw StorageError("the database connection failed: " + text + " [" + begin + "]");
    }
    Check(begun, begin);
    return answer;
  }

  const Statement& Prepared(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) return it->second;
    Statement st;
    st.numbered = NumberPlaceholders(sql, &st.count);
    st.table = WrittenTable(sql);
    const std::string verb = FirstWord(sql);
    st.grows = !st.table.empty() && verb == "INSERT";
    if (Preparable(verb)) {
      const std::string name = "s" + std::to_string(cache_.size() + 1);
      Check(Result(PQprepare(conn_, name.c_str(), st.numbered.c_str(), 0, nullptr), PQclear), sql);
      st.name = name;
    }
    return cache_.emplace(sql, std::move(st)).first->second;
  }

  void Check(const Result& res, const std::string& sql) {
    const ExecStatusType status = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    const char* state = res ? PQresultErrorField(res.get(), PG_DIAG_SQLSTATE) : nullptr;
    std::string text = res ? PQresultErrorMessage(res.get()) : PQerrorMessage(conn_);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (first_failure_.empty()) first_failure_ = state ? state : "?";
    throw StorageError(text + " [" + sql + "]");
  }

  PGconn* conn_;
  std::string pending_begin_;  // see BeginWithNext
  std::map<std::string, Statement> cache_;
  std::string first_failure_;
  std::map<std::string, long long> written_;
};

// How a transaction begins.
enum class Mode { Read, Write, ClaimedWrite, Migrate };

const char* BeginText(Mode mode) {
  switch (mode) {
    case Mode::Read:
      return "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";
    case Mode::Write:
      return "BEGIN ISOLATION LEVEL SERIALIZABLE";
    case Mode::ClaimedWrite:
      return "BEGIN ISOLATION LEVEL READ COMMITTED";
    case Mode::Migrate:
      return "BEGIN ISOLATION LEVEL READ COMMITTED";
  }
  return "BEGIN";
}

// The claim's text hashed to 64 bits (FNV-1a). The key of its advisory lock
// hashes the schema's name with it, so that the databases of several
// schemas on one server do not wait for each other; two claims of one key
// merely wait for each other.
long long ClaimKey(const std::string& what) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : what) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return static_cast<long long>(h);
}

// A transaction's session: the connection's statements, and claims as
// advisory locks held until the transaction ends.
class PostgresSession : public ConnectionSession<Connection> {
 public:
  explicit PostgresSession(Connection& conn) : ConnectionSession<Connection>(conn), conn_(conn) {}
  void Claim(const std::string& what) override {
    // Held until the transaction ends: a claim taken again costs nothing.
    if (!claimed_.insert(what).second) return;
    conn_.Query("SELECT pg_advisory_xact_lock(hashtextextended(current_schema(), ?))",
                {Value(static_cast<std::int64_t>(ClaimKey(what)))}, nullptr);
  }

 private:
  Connection& conn_;
  std::set<std::string> claimed_;
};

std::atomic<long long> refused_runs{0};

// The transactions one of `servers` runs when they share `total`: the
// nearest whole share, at least one.
int ShareOf(int total, int servers) {
  return std::max(1, (total + servers / 2) / std::max(1, servers));
}

// The servers sharing a database's transactions name their sessions with
// this, the group of the database and schema, and a tag of their own.
constexpr const char* kServerName = "exp-appserver";

std::string Hex(std::uint64_t v, int digits) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = kHex[v & 15];
  return out;
}

class PostgresStorage : public Storage {
 public:
  PostgresStorage(std::string conninfo, const DbConnections& connections)
      : conninfo_(std::move(conninfo)),
        total_(std::max(1, connections.count)),
        shared_(connections.shared),
        recount_(std::max(0, connections.recount_ms)),
        limit_(total_) {}

  // A storage sharing the database's transactions names its sessions before
  // it opens the first of its pool: "exp-appserver GROUP TAG", GROUP from
  // the database and the schema its connections use, TAG its own.
  void NameSessions() {
    if (!shared_) return;
    Connection probe(conninfo_);
    const std::vector<Row> rows = probe.Query(
        "SELECT current_database() || '/' || COALESCE(current_schema(), '')", {}, nullptr);
    const std::string where = rows.empty() ? "" : rows[0][0].ToString();
    std::random_device random;
    const std::uint64_t tag = (static_cast<std::uint64_t>(random()) << 32) ^ random() ^
                              static_cast<std::uint64_t>(::getpid());
    group_ = std::string(kServerName) + " " + Hex(static_cast<std::uint64_t>(ClaimKey(where)), 12);
    name_ = group_ + " " + Hex(tag, 12);
  }

  int TransactionsAtOnce() {
    MutexLock lock(mu_);
    return limit_;
  }
  const std::string& SessionName() const { return name_; }

  void Transact(TxKind kind, const std::function<void(Session&)>& work) override {
    switch (kind) {
      case TxKind::Read:
        return Run(Mode::Read, work);
      case TxKind::Write:
        return Run(Mode::Write, work);
      case TxKind::ClaimedWrite:
        return Run(Mode::ClaimedWrite, work);
    }
  }

  // Writes run serialisable: the database refuses a transaction whose reads
  // another one changed meanwhile (two clerks filling one vehicle, two
  // instances numbering one branch's grids), and it is run again afresh.
  // Claimed writes run at READ COMMITTED: their claims keep them apart, and
  // only a deadlock between claims (or a number taken twice) refuses one.
  // Side by side, a long write could lose to short ones again and again; so
  // every writer holds the writer lock shared, and one refused
  // kSideBySideRuns times runs next with the lock alone, when no other write
  // is under way on any instance, and cannot be refused for a conflict.
  void Run(Mode mode, const std::function<void(Session&)>& work) {
    for (int run = 1;; ++run) {
      const bool alone = run > kSideBySideRuns;
      const std::string lock = std::to_string(kWriterLock) + ")";
      const std::string take =
          alone ? "SELECT pg_advisory_lock(" + lock : "SELECT pg_advisory_lock_shared(" + lock;
      const std::string give =
          alone ? "SELECT pg_advisory_unlock(" + lock : "SELECT pg_advisory_unlock_shared(" + lock;
      const bool locks = mode == Mode::Write || mode == Mode::ClaimedWrite;
      // A claimed write side by side takes the writer lock inside its
      // transaction, in the same round trip as its BEGIN, and the commit or
      // rollback gives it back: each statement at READ COMMITTED reads what
      // was committed before it, so waiting there for a writer alone loses
      // nothing. A serialisable write takes it before its BEGIN (its
      // snapshot must not predate the writer it waited for), and so does a
      // writer alone.
      const bool lock_in_transaction = mode == Mode::ClaimedWrite && !alone;
      const bool session_lock = locks && !lock_in_transaction;
      std::unique_ptr<Connection> conn = Acquire();
      if (shared_) Recount(*conn);
      conn->ClearFailure();
      conn->ForgetWritten();
      bool locked = false;
      try {
        if (session_lock) conn->Run(take);
        locked = session_lock;
        if (mode == Mode::Read) {
          conn->BeginWithNext(BeginText(mode));
        } else {
          conn->Run(lock_in_transaction
                        ? std::string(BeginText(mode)) + "; SELECT pg_advisory_xact_lock_shared(" +
                              lock
                        : std::string(BeginText(mode)));
        }
        PostgresSession session(*conn);
        work(session);
        if (!conn->DropPendingBegin()) conn->Run("COMMIT");
      } catch (...) {
        const std::string failure = conn->first_failure();
        try {
          if (!conn->DropPendingBegin()) conn->Run("ROLLBACK");
          if (locked) conn->Run(give);
        } catch (const StorageError&) {
          // The session is in an unknown state: closed below, which frees
          // its locks too.
          conn->Close();
        }
        Release(std::move(conn));
        if (ClassifyFailure(failure) == RetryClass::None || run >= kMaxRuns) throw;
        ++refused_runs;
        Backoff(run);
        continue;
      }
      // Committed: nothing from here on may fail the call or run it again.
      // A writer lock that cannot be given back (the connection broke right
      // after the commit) goes with the connection, closed here.
      if (locked) {
        try {
          conn->Run(give);
        } catch (const StorageError&) {
          conn->Close();
          Release(std::move(conn));
          return;
        }
      }
      if (locks) AnalyseGrown(*conn, conn->TakeWritten());
      Release(std::move(conn));
      return;
    }
  }

 private:
  // What is known of a table's growth since this server last analysed it.
  struct Growth {
    long long rows_then = 0;  // rows the table held at that analysis
    long long changed = 0;    // rows committed writes added since
    bool analysing = false;   // another thread is analysing it now
  };

  // The planner plans from the statistics of the last analysis. A table
  // analysed while nearly empty (a new database, a new branch's grids) is
  // read by scans until the database's automatic analysis, which wakes
  // only every minute or so, catches up; a distribution's grid of a few
  // thousand rows is read by every clerk's next call before that. So after
  // a write has committed, the tables that doubled since their last
  // analysis here (and grew by at least kAnalyseMinRows rows) are analysed
  // at once, outside any transaction, on the writer's connection: ANALYZE
  // reads a sample of at most some 30,000 rows and takes a lock that
  // blocks neither reads nor writes, only another analysis of the table.
  // It is what a new table needs; a table that only grows by a tenth is
  // left to the automatic analysis, which runs in its own worker. Analysed
  // here at each tenth, under 512 clerks the allocations were analysed
  // within the step, each time for most of a second of one of two cores
  // inside a clerk's call, and the step's p99 passed half a second. Only the rows inserted
  // count: rows updated or deleted do not grow the table, and a clerk's
  // save that turns a vehicle's return flag rewrites every row of the
  // vehicle, which counted would analyse the largest table every few
  // seconds under load, each time within a clerk's call. A failure here is
  // ignored: the write has committed, and the statistics merely stay old.
  void AnalyseGrown(Connection& conn, const std::map<std::string, long long>& written) {
    for (const auto& [table, rows] : written) {
      {
        MutexLock lock(mu_);
        Growth& g = growth_[table];
        g.changed += rows;
        const double due = std::max(static_cast<double>(kAnalyseMinRows),
                                    kAnalyseShare * static_cast<double>(g.rows_then));
        if (g.analysing || static_cast<double>(g.changed) < due) continue;
        g.analysing = true;
        g.changed = 0;
      }
      long long rows_now = -1;
      try {
        conn.Run("ANALYZE " + table);
        const std::vector<Row> held = conn.Query(
            "SELECT reltuples FROM pg_class WHERE oid = to_regclass(?)", {table}, nullptr);
        if (!held.empty() && !held[0][0].IsNull()) {
          rows_now = static_cast<long long>(held[0][0].ToDouble());
        }
      } catch (const std::exception&) {
      }
      MutexLock lock(mu_);
      Growth& g = growth_[table];
      g.analysing = false;
      if (rows_now >= 0) g.rows_then = rows_now;
    }
  }

  // Counts the servers sharing the database's transactions (this one among
  // them: its connection is open) and takes its share, at most once every
  // recount_, on a connection just taken, outside any transaction. A failed
  // count keeps the share as it was: the call goes on, and a broken
  // connection fails at its BEGIN as it would have.
  void Recount(Connection& conn) {
    {
      MutexLock lock(mu_);
      if (counting_ || std::chrono::steady_clock::now() < next_count_) return;
      counting_ = true;
    }
    long long servers = 0;
    try {
      const std::vector<Row> rows = conn.Query(
          "SELECT COUNT(DISTINCT application_name) FROM pg_stat_activity "
          "WHERE application_name LIKE ?",
          {Value(group_ + " %")}, nullptr);
      if (!rows.empty()) servers = rows[0][0].ToInt64();
    } catch (const std::exception&) {
    }
    std::vector<std::unique_ptr<Connection>> surplus;
    MutexLock lock(mu_);
    counting_ = false;
    next_count_ = std::chrono::steady_clock::now() + recount_;
    if (servers < 1) return;
    limit_ = ShareOf(total_, static_cast<int>(servers));
    // A larger share: waiting callers open connections up to it.
    while (!waiting_.empty() && open_ < limit_) {
      Waiter* next = waiting_.front();
      waiting_.pop_front();
      ++open_;
      next->served = true;
      next->woken.Signal();
    }
    // A smaller one: idle connections beyond it are closed now (after the
    // lock is given back), busy ones as they come back.
    while (open_ > limit_ && !idle_.empty()) {
      surplus.push_back(std::move(idle_.back()));
      idle_.pop_back();
      --open_;
    }
  }

  // A caller waiting for a connection, served in the order they came: a
  // connection given back goes to the longest waiting one, never to a
  // caller that arrives meanwhile, so a call's wait for the database is
  // bounded by those ahead of it. Served without a connection: a broken
  // one was closed, and the waiter opens a new one in its place.
  struct Waiter {
    explicit Waiter(Mutex& mu) : woken(mu) {}
    CondVar woken;
    std::unique_ptr<Connection> conn;
    bool served = false;
  };

  std::unique_ptr<Connection> Acquire() {
    {
      MutexLock lock(mu_);
      if (waiting_.empty() && !idle_.empty()) {
        auto conn = std::move(idle_.back());
        idle_.pop_back();
        return conn;
      }
      if (waiting_.empty() && open_ < limit_) {
        ++open_;
      } else {
        Waiter me(mu_);
        waiting_.push_back(&me);
        while (!me.served) me.woken.Wait(mu_);
        if (me.conn) return std::move(me.conn);
        // Served with a place to open a connection in (open_ counts it).
      }
    }
    try {
      return std::make_unique<Connection>(conninfo_, name_);
    } catch (...) {
      Release(nullptr);
      throw;
    }
  }

  // A broken connection (or none: one that could not be opened) is closed
  // instead of pooled; its place goes to the next waiter, who opens a new
  // one. Beyond a share that became smaller, the connection is closed and
  // its place is gone.
  void Release(std::unique_ptr<Connection> conn) {
    if (conn && !conn->Healthy()) conn.reset();
    MutexLock lock(mu_);
    if (open_ > limit_) {
      --open_;
      return;  // `conn` is closed once the lock is given back
    }
    if (!waiting_.empty()) {
      Waiter* next = waiting_.front();
      waiting_.pop_front();
      next->conn = std::move(conn);
      next->served = true;
      next->woken.Signal();
      return;
    }
    if (conn) {
      idle_.push_back(std::move(conn));
    } else {
      --open_;
    }
  }

  // Waits a random while, longer after each refusal, so that transactions
  // that collided do not collide again in step.
  static void Backoff(int attempt) {
    thread_local std::minstd_rand random(std::random_device{}());
    const int ceiling = std::min(100, 2 << std::min(attempt, 6));
    std::uniform_int_distribution<int> pick(1, ceiling);
    std::this_thread::sleep_for(std::chrono::milliseconds(pick(random)));
  }

  const std::string conninfo_;
  const int total_;     // the transactions at once: this storage's, or the servers' together
  const bool shared_;   // total_ is shared with the other servers of the database
  const std::chrono::milliseconds recount_;
  std::string group_, name_;  // set before the first pooled connection opens
  Mutex mu_;
  int limit_ GUARDED_BY(mu_);  // at most this many open at once
  std::chrono::steady_clock::time_point next_count_ GUARDED_BY(mu_);
  bool counting_ GUARDED_BY(mu_) = false;
  std::vector<std::unique_ptr<Connection>> idle_ GUARDED_BY(mu_);
  std::deque<Waiter*> waiting_ GUARDED_BY(mu_);  // oldest first
  int open_ GUARDED_BY(mu_) = 0;  // open, or being opened
  std::map<std::string, Growth> growth_ GUARDED_BY(mu_);
};

}  // namespace

std::string NumberPlaceholders(const std::string& sql, int* count) {
  data::NumberedSql numbered;
  try {
    numbered = data::NumberSqlParams(sql, data::SqlParamStyle::kPositional);
  } catch (const Error& e) {
    throw StorageError(e.what());
  }
  if (count) *count = numbered.count;
  return numbered.text;
}

std::string WrittenTable(const std::string& sql) {
  std::size_t at = 0;
  auto word = [&] {
    while (at < sql.size() && std::isspace(static_cast<unsigned char>(sql[at]))) ++at;
    std::string out;
    for (; at < sql.size(); ++at) {
      const unsigned char c = static_cast<unsigned char>(sql[at]);
      if (!std::isalnum(c) && c != '_') break;
      out += static_cast<char>(std::toupper(c));
    }
    return out;
  };
  const std::string verb = word();
  if ((verb == "INSERT" && word() != "INTO") || (verb == "DELETE" && word() != "FROM")) return "";
  if (verb != "INSERT" && verb != "DELETE" && verb != "UPDATE") return "";
  const std::string table = word();
  return !table.empty() && !std::isdigit(static_cast<unsigned char>(table[0])) ? table : "";
}

long long PostgresRefusedRuns() { return refused_runs.load(); }

RetryClass ClassifyFailure(const std::string& sqlstate) {
  if (sqlstate == "40001" || sqlstate == "40P01") return RetryClass::Conflict;
  if (sqlstate == "23505") return RetryClass::Duplicate;
  return RetryClass::None;
}

void RunPostgresStatement(const std::string& conninfo, const std::string& sql) {
  Connection(conninfo).Run(sql);
}

std::shared_ptr<Storage> OpenPostgresStorage(const std::string& conninfo, int connections) {
  return OpenPostgresStorage(conninfo, DbConnections{connections, false});
}

std::shared_ptr<Storage> OpenPostgresStorage(const std::string& conninfo,
                                             const DbConnections& connections) {
  auto storage = std::make_shared<PostgresStorage>(conninfo, connections);
  storage->NameSessions();
  // Instances starting together migrate one after the other; each step
  // sees what the one before committed.
  storage->Run(Mode::Migrate, [](Session& s) {
    s.Query("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
    MigrateSchema(s, SchemaDialect::Postgres);
  });
  return storage;
}

std::shared_ptr<Storage> OpenStorage(const std::string& db, int db_connections) {
  return OpenStorage(db, DbConnections{db_connections, false});
}

std::shared_ptr<Storage> OpenStorage(const std::string& db, const DbConnections& db_connections) {
  return data::IsPostgresUrl(db) ? OpenPostgresStorage(db, db_connections)
                                 : OpenSqliteStorage(db);
}

int PostgresTransactionsAtOnce(Storage& storage) {
  auto* pg = dynamic_cast<PostgresStorage*>(&storage);
  return pg ? pg->TransactionsAtOnce() : 0;
}

std::string PostgresSessionName(Storage& storage) {
  auto* pg = dynamic_cast<PostgresStorage*>(&storage);
  return pg ? pg->SessionName() : "";
}

}  // namespace dg::server
