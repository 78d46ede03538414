#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "appserver/connection_session.h"
#include "appserver/schema.h"
#include "appserver/storage.h"
#include "data/mutex.h"

namespace dg::server {
namespace {

constexpr int kBusyTimeoutMs = 10'000;
// Pages kept in memory per connection, in KiB (SQLite's default is 2 MiB): a
// distribution of a large day writes several MiB of rows and index entries
// in one transaction, which must not spill to the log before it commits.
constexpr int kCacheKiB = 32 * 1024;
// Pages in the write-ahead log after which it is copied back into the
// database (SQLite's own default for the copy it makes on commit).
constexpr int kCheckpointPages = 1000;
// Pages after which a commit copies the log itself (see Checkpointer).
constexpr int kInlinePages = 2 * kCheckpointPages;

// Copies the write-ahead log back into the database on a thread of its own,
// on its own connection, when a commit leaves the log over
// kCheckpointPages. Left to SQLite, the copy runs inside the commit that
// crosses the mark, with two disk syncs, and the clerk whose save happens
// to cross it waits for them (tens of milliseconds on a busy disk). The
// copy is SQLite's passive one, as on commit: it never blocks a reader or a
// writer, and what it cannot copy yet waits for the next commit's request.
class Checkpointer {
 public:
  // `writers` is the storage's writers' mutex; it must outlive this.
  // `start_log` is called with `writers` held once the log has been copied
  // whole and no reader is on it: it makes the write that starts the log
  // over (see Run). It runs on this thread until Stop().
  Checkpointer(std::string path, std::mutex* writers, std::function<void()> start_log)
      : path_(std::move(path)), writers_(writers), start_log_(std::move(start_log)) {}
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;
  ~Checkpointer() { Stop(); }

  // Ends the thread (a copy under way is finished first); commits after it
  // are copied by the commit that takes the log past kInlinePages.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

  // Called by SQLite after each commit, on the committing thread.
  static int OnCommit(void* self, sqlite3* db, const char* name, int pages) {
    static_cast<Checkpointer*>(self)->commits_.fetch_add(1, std::memory_order_relaxed);
    if (pages >= kInlinePages) {
      // The thread has fallen behind (a machine too busy to give it a
      // core): this commit copies, as SQLite's own hook would, so the log
      // stays bounded whatever the scheduling.
      sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    } else if (pages >= kCheckpointPages) {
      static_cast<Checkpointer*>(self)->Request();
    }
    return SQLITE_OK;
  }

 private:
  void Request() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stop_) return;
      wanted_ = true;
      if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
  }

  void Run() {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    // A connection copies only once it has found the database in log mode
    // (which the first statement does); without it, nothing is copied until
    // the last connection closes.
    if (sqlite3_open_v2(path_.c_str(), &db, flags, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      db = nullptr;
    }
    // A restart put off to the next round (see below).
    bool deferred = false;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      wake_.wait(lock, [this] { return wanted_ || stop_; });
      if (stop_) break;
      wanted_ = false;
      lock.unlock();
      if (db != nullptr) {
        // Busy (another process copying) or not all copied: the next
        // commit over the mark asks again.
        int in_log = 0, copied = 0;
        const std::uint64_t commits = commits_.load(std::memory_order_relaxed);
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &in_log, &copied);
        // All copied: the log starts over at the next write, but only if
        // that write began after the copy ended. Saves that follow each
        // other closer than a copy lasts (its two disk syncs) would
        // otherwise keep the log over the mark, and each of their commits
        // would ask for another copy of a few pages with two more syncs.
        // Restarting here settles it at once. It holds this process's
        // writers back while it runs, and only when none is writing, so
        // that none meets the database locked and sleeps in SQLite's busy
        // wait; with no busy handler on this connection it gives up rather
        // than wait for another process's writer or for a reader still on
        // the log.
        //
        // The first write into a log that starts over writes its new header
        // and syncs it to disk before its own pages (a header reordered
        // behind them by the disk could make a power cut corrupt the
        // database). Left to the next save, that sync is the clerk's wait;
        // start_log_ makes that first write here, still holding the
        // writers back, so the saves that follow only append.
        //
        // A commit of this process during the copy left pages the restart
        // would copy first, with the copy's two syncs, while the writers
        // wait: that commit's request copies them in the next round instead,
        // with no writer held back. Only once: saves that keep coming
        // during every copy would otherwise keep the log from starting
        // over, each round copying a few pages with two syncs.
        if (in_log > 0 && copied == in_log) {
          std::unique_lock<std::mutex> writing(*writers_, std::try_to_lock);
          if (writing.owns_lock()) {
            const bool quiet = commits_.load(std::memory_order_relaxed) == commits;
            if (!quiet && !deferred) {
              deferred = true;
            } else if (sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr,
                                                 nullptr) == SQLITE_OK) {
              deferred = false;
              start_log_();
            }
          }
        }
      }
      lock.lock();
    }
    lock.unlock();
    sqlite3_close(db);
  }

  const std::string path_;
  std::mutex* const writers_;
  const std::function<void()> start_log_;
  // Commits of this process's connections (any thread).
  std::atomic<std::uint64_t> commits_{0};
  std::mutex mu_;
  std::condition_variable wake_;
  bool wanted_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// One SQLite connection with its prepared statements. Used by one
// transaction at a time.
class Connection {
 public:
  Connection(const std::string& path, Checkpointer* checkpointer) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string text = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StorageError("cannot open database " + path + ": " + text);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Replaces SQLite's copy on commit (the hook it installs for it).
    sqlite3_wal_hook(db_, &Checkpointer::OnCommit, checkpointer);
    try {
      Run("PRAGMA journal_mode=WAL");
      Run("PRAGMA synchronous=NORMAL");
      Run("PRAGMA cache_size=-" + std::to_string(kCacheKiB));
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }

  // A statement without parameters whose rows, if any, are dropped.
  void Run(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string text = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw StorageError(text + " [" + sql + "]");
    }
  }

  // Writes the database's user version back unchanged, without waiting for
  // another process's writer: a write of one page and nothing else, made
  // for the log to start over (see Checkpointer). False when the database
  // was busy or the write failed; nothing is changed then.
  bool RewriteUserVersion() {
    sqlite3_busy_timeout(db_, 0);
    bool done = false;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
      sqlite3_stmt* read = nullptr;
      std::int64_t version = 0;
      bool read_it = false;
      if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &read, nullptr) == SQLITE_OK &&
          sqlite3_step(read) == SQLITE_ROW) {
        version = sqlite3_column_int64(read, 0);
        read_it = true;
      }
      sqlite3_finalize(read);
      const std::string write = "PRAGMA user_version=" + std::to_string(version);
      done = read_it && sqlite3_exec(db_, write.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
             sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
      if (!done) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return done;
  }

  // A statement of the transaction's frame (BEGIN, COMMIT), kept prepared
  // like the others: parsed once a connection, not once a call.
  void RunPrepared(const std::string& sql) {
    Step(sql, {}, [](Row&) {});
  }

  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params, int* changes) {
    std::vector<Row> rows;
    Step(sql, params, [&](Row& row) {
      rows.push_back(std::move(row));
      row.resize(rows.back().size());
    });
    if (changes) *changes = sqlite3_changes(db_);
    return rows;
  }

  void ForEachRow(const std::string& sql, const std::vector<Value>& params,
                  const std::function<void(const Row&)>& each) {
    Step(sql, params, [&](Row& row) { each(row); });
  }

 private:
  // Runs the statement and hands each row to `each`, which may take its
  // cells: the buffer is filled again for the next row.
  template <class Each>
  void Step(const std::string& sql, const std::vector<Value>& params, Each&& each) {
    sqlite3_stmt* stmt = Prepare(sql);
    Bind(stmt, sql, params);
    const int columns = sqlite3_column_count(stmt);
    Row row(static_cast<std::size_t>(columns));
    for (;;) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        std::string text = sqlite3_errmsg(db_);
        sqlite3_reset(stmt);
        throw StorageError(text + " [" + sql + "]");
      }
      for (int c = 0; c < columns; ++c) row[static_cast<std::size_t>(c)] = Column(stmt, c);
      try {
        each(row);
      } catch (...) {
        sqlite3_reset(stmt);
        throw;
      }
    }
    sqlite3_reset(stmt);
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      throw StorageError(std::string(sqlite3_errmsg(db_)) + " [" + sql + "]");
    }
    cache_.emplace(sql, stmt);
    return stmt;
  }

  // Texts are bound without a copy: `params` outlives the statement's run.
  // Every parameter is bound on every run, so none keeps an earlier value.
  void Bind(sqlite3_stmt* stmt, const std::string& sql, const std::vector<Value>& params) {
    if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt)) {
      throw StorageError("wrong parameter count for [" + sql + "]");
    }
    for (int i = 0; i < static_cast<int>(params.size()); ++i) {
      const Value& v = params[i];
      int rc = SQLITE_OK;
      switch (v.Kind()) {
        case data::VariantKind::Empty:
        case data::VariantKind::Null:
          rc = sqlite3_bind_null(stmt, i + 1);
          break;
        case data::VariantKind::Bool:
        case data::VariantKind::Int:
          rc = sqlite3_bind_int64(stmt, i + 1, v.ToInt64());
          break;
        case data::VariantKind::Double:
          rc = sqlite3_bind_double(stmt, i + 1, v.ToDouble());
          break;
        case data::VariantKind::String: {
          const std::string& text = *v.IfString();
          rc = sqlite3_bind_text(stmt, i + 1, text.data(), static_cast<int>(text.size()),
                                 SQLITE_STATIC);
          break;
        }
        case data::VariantKind::DateTime: {
          const std::string text = v.ToDateTime().ToIso();
          rc = sqlite3_bind_text(stmt, i + 1, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
          break;
        }
        default:
          throw StorageError("a " + std::string(data::KindName(v.Kind())) +
                             " cannot be stored in a column");
      }
      if (rc != SQLITE_OK) throw StorageError(sqlite3_errmsg(db_));
    }
  }

  static Value Column(sqlite3_stmt* stmt, int c) {
    switch (sqlite3_column_type(stmt, c)) {
      case SQLITE_INTEGER:
        return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, c)));
      case SQLITE_FLOAT:
        return Value(sqlite3_column_double(stmt, c));
      case SQLITE_NULL:
        return Value::Null();
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        return Value(std::string(text, sqlite3_column_bytes(stmt, c)));
      }
    }
  }

  sqlite3* db_ = nullptr;
  // By the statement's text: hashed once a look-up, where an ordered map
  // compared long texts that share their first words many times over.
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class SqliteStorage : public Storage {
 public:
  explicit SqliteStorage(std::string path)
      : path_(std::move(path)), checkpointer_(path_, &writers_, [this] { StartLog(); }) {}
  SqliteStorage(const SqliteStorage&) = delete;
  SqliteStorage& operator=(const SqliteStorage&) = delete;
  // The copier's thread calls StartLog, which takes the idle connections:
  // it ends before they go.
  ~SqliteStorage() override { checkpointer_.Stop(); }

  void Transact(TxKind kind, const std::function<void(Session&)>& work) override {
    std::unique_lock<std::mutex> writing(writers_, std::defer_lock);
    if (Writes(kind)) writing.lock();
    std::unique_ptr<Connection> conn = Acquire();
    static const std::string kBeginWrite = "BEGIN IMMEDIATE", kBeginRead = "BEGIN",
                             kCommit = "COMMIT";
    conn->RunPrepared(Writes(kind) ? kBeginWrite : kBeginRead);
    try {
      ConnectionSession<Connection> session(*conn);
      work(session);
      conn->RunPrepared(kCommit);
    } catch (...) {
      try {
        conn->Run("ROLLBACK");
      } catch (const StorageError&) {
        // The connection is in an unknown state: drop it.
        throw;
      }
      Release(std::move(conn));
      throw;
    }
    Release(std::move(conn));
  }

 private:
  std::unique_ptr<Connection> Acquire() {
    {
      MutexLock lock(mu_);
      if (!idle_.empty()) {
        auto conn = std::move(idle_.back());
        idle_.pop_back();
        return conn;
      }
    }
    return std::make_unique<Connection>(path_, &checkpointer_);
  }

  void Release(std::unique_ptr<Connection> conn) {
    MutexLock lock(mu_);
    idle_.push_back(std::move(conn));
  }

  // The write that starts the log over, on the connection the next call
  // takes: a connection whose own commit changed the log keeps its pages in
  // memory, where one that sees another's commit reads them again.
  // REQUIRES: writers_ held. Only when a connection is idle; otherwise the
  // next write starts the log itself, as SQLite does.
  void StartLog() {
    std::unique_ptr<Connection> conn;
    {
      MutexLock lock(mu_);
      if (idle_.empty()) return;
      conn = std::move(idle_.back());
      idle_.pop_back();
    }
    conn->RewriteUserVersion();
    Release(std::move(conn));
  }

  const std::string path_;
  // This process's writers wait here, in turn, rather than in SQLite's busy
  // wait, which polls on a timer and can pass over the writer that waited
  // longest until its timeout runs out (a clerk's save failing with
  // "database is locked" on a busy server). The busy wait is left to other
  // processes on the same file, such as an import beside the server.
  std::mutex writers_;
  // Declared before the connections: they call it on commit, so it outlives
  // them; after the writers' mutex, which its thread takes. Stopped first
  // of all (its thread takes idle connections).
  Checkpointer checkpointer_;
  Mutex mu_;
  std::vector<std::unique_ptr<Connection>> idle_ GUARDED_BY(mu_);
};

}  // namespace

std::string SqliteFileWarning(const std::string& path) {
  std::string open_to_others;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat st {};
    if (::stat((path + suffix).c_str(), &st) != 0) continue;
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) == 0) continue;
    if (!open_to_others.empty()) open_to_others += ", ";
    open_to_others += path + suffix;
  }
  if (open_to_others.empty()) return "";
  return "the database " + open_to_others +
         " may be read by others than its owner, and holds the operators' password hashes "
         "(chmod 600 it)";
}

std::shared_ptr<Storage> OpenSqliteStorage(const std::string& path) {
  // SQLite counts the memory it holds under one lock for the whole process,
  // taken on every allocation of every connection: the server's threads
  // queued on it. Nothing here reads those counts. Only possible before
  // SQLite's first use in the process (refused, and harmless, after it).
  static std::once_flag uncounted;
  std::call_once(uncounted, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  if (path.empty() || path == ":memory:" || path.rfind("file::memory:", 0) == 0) {
    throw StorageError("the server database must be a file: " + path);
  }
  // A new database is made for its owner alone (it holds the operators'
  // password hashes); SQLite gives its journal and write-ahead files the
  // mode of the database file.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  auto storage = std::make_shared<SqliteStorage>(path);
  storage->Transact(TxKind::Write, [](Session& s) { MigrateSchema(s); });
  return storage;
}

}  // namespace dg::server
