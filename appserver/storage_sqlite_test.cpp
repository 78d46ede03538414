// The SQLite storage's write-ahead log: copied back into the database while
// the writes go on, with nothing of them lost; started over off the writers'
// path; nothing committed lost when the process dies during either.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {
namespace {

using data::Variant;

class SqliteLogTest : public ::testing::Test {
 protected:
  SqliteLogTest() {
    path_ = (std::filesystem::temp_directory_path() /
             ("exp-log-test-" + std::to_string(::getpid()) + ".db"))
                .string();
    Remove();
  }
  ~SqliteLogTest() override { Remove(); }

  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
  }

  // The log's checkpoint sequence number and salts: they change each time
  // the log starts over, and only then.
  std::string LogGeneration() const {
    std::ifstream wal(path_ + "-wal", std::ios::binary);
    std::string bytes(12, '\0');
    wal.seekg(12);
    if (!wal.read(bytes.data(), 12)) return "";
    return bytes;
  }

  // Writes rows `from` to `to` of LOGTEST, one a transaction, as a clerk's
  // saves come; answers how many failed.
  static int WriteRows(Storage& storage, int from, int to, const std::string& filler) {
    int failures = 0;
    for (int w = from; w < to; ++w) {
      try {
        storage.Transact(TxKind::Write, [&](Session& s) {
          s.Exec("INSERT INTO LOGTEST (N, TEXTO) VALUES (?, ?)",
                 {Variant(static_cast<std::int64_t>(w)), Variant(filler)});
        });
      } catch (const std::exception&) {
        ++failures;
      }
    }
    return failures;
  }

  // Waits (up to a minute, so that a fault fails rather than hangs) until
  // the log's generation differs from `before`; true if it did.
  bool LogStartsOverFrom(const std::string& before) const {
    for (int i = 0; i < 6000; ++i) {
      if (LogGeneration() != before) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string path_;
};

// Writes of about 40 MB in all, in transactions of about 0.5 MB. The log is
// copied back on the way and starts over, so it stays far below what was
// written (a log never copied would hold all of it); every row is there,
// read by another storage on the same file, also after the first closes.
TEST_F(SqliteLogTest, TheLogIsCopiedBackWhileWritingAndNoRowIsLost) {
  constexpr int kTransactions = 80, kRows = 50;
  const std::string filler(10'000, 'x');
  {
    auto storage = OpenSqliteStorage(path_);
    storage->Transact(TxKind::Write, [](Session& s) {
      s.Exec("CREATE TABLE LOGTEST (N INTEGER PRIMARY KEY, TEXTO TEXT NOT NULL)", {});
    });
    auto reader = OpenSqliteStorage(path_);
    for (int t = 0; t < kTransactions; ++t) {
      storage->Transact(TxKind::Write, [&](Session& s) {
        for (int r = 0; r < kRows; ++r) {
          s.Exec("INSERT INTO LOGTEST (N, TEXTO) VALUES (?, ?)",
                 {Variant(static_cast<std::int64_t>(t * kRows + r)), Variant(filler)});
        }
      });
      // A reader between the writes, as the clerks' reads come between
      // their saves.
      reader->Transact(TxKind::Read, [&](Session& s) {
        const auto rows = s.Query("SELECT COUNT(*) FROM LOGTEST", {});
        ASSERT_EQ(rows[0][0].ToInt64(), (t + 1) * kRows);
      });
    }
    const auto written = static_cast<std::uintmax_t>(kTransactions) * kRows * filler.size();
    EXPECT_LT(std::filesystem::file_size(path_ + "-wal"), written / 2);
  }
  auto again = OpenSqliteStorage(path_);
  again->Transact(TxKind::Read, [&](Session& s) {
    const auto rows = s.Query("SELECT COUNT(*), SUM(LENGTH(TEXTO)) FROM LOGTEST", {});
    EXPECT_EQ(rows[0][0].ToInt64(), kTransactions * kRows);
    EXPECT_EQ(rows[0][1].ToInt64(),
              static_cast<std::int64_t>(kTransactions) * kRows *
                  static_cast<std::int64_t>(filler.size()));
  });
}

// Small writes one after the other, as a clerk's saves come, with another
// thread reading all the while: the log crosses the mark several times, is
// copied back and starts over under the readers. No write may fail or wait
// out the busy limit (a restart that waited for the readers while holding
// the writers back would), no reader may see rows go missing, and every
// row written is there at the end.
TEST_F(SqliteLogTest, SmallWritesWithReadersBetweenCopyAndRestartLosingNothing) {
  constexpr int kWrites = 1500;
  const std::string filler(3'000, 'y');
  auto storage = OpenSqliteStorage(path_);
  storage->Transact(TxKind::Write, [](Session& s) {
    s.Exec("CREATE TABLE LOGTEST (N INTEGER PRIMARY KEY, TEXTO TEXT NOT NULL)", {});
  });
  auto reader = OpenSqliteStorage(path_);
  std::atomic<bool> done{false};
  std::atomic<int> went_back{0}, reads{0};
  std::thread reading([&] {
    std::int64_t last = 0;
    while (!done.load()) {
      reader->Transact(TxKind::Read, [&](Session& s) {
        const std::int64_t now = s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64();
        if (now < last) ++went_back;
        last = now;
      });
      ++reads;
    }
  });
  const int failures = WriteRows(*storage, 0, kWrites, filler);
  done = true;
  reading.join();
  EXPECT_EQ(0, failures);
  EXPECT_EQ(0, went_back.load());
  EXPECT_GT(reads.load(), 0);
  auto again = OpenSqliteStorage(path_);
  again->Transact(TxKind::Read, [&](Session& s) {
    const auto rows = s.Query("SELECT COUNT(*), SUM(LENGTH(TEXTO)) FROM LOGTEST", {});
    EXPECT_EQ(kWrites, rows[0][0].ToInt64());
    EXPECT_EQ(static_cast<std::int64_t>(kWrites) * static_cast<std::int64_t>(filler.size()),
              rows[0][1].ToInt64());
  });
}

// Once the log has been copied back whole, it starts over on the copier's
// thread, with no write of the caller's: the sync of its new header is not
// the next save's. The write that starts it keeps the database's user
// version; a save after it is read back by another storage at once, and by
// a new one after both close.
TEST_F(SqliteLogTest, TheLogStartsOverBeforeTheNextSaveAndTheSaveIsReadBackElsewhere) {
  const std::string filler(3'000, 'z');
  {
    auto storage = OpenSqliteStorage(path_);
    storage->Transact(TxKind::Write, [](Session& s) {
      s.Exec("CREATE TABLE LOGTEST (N INTEGER PRIMARY KEY, TEXTO TEXT NOT NULL)", {});
      s.Exec("PRAGMA user_version=7", {});
    });
    // One write that takes the log past the copy's mark of 1,000 pages
    // (not past twice that, where the commit copies it itself), and then
    // nothing.
    storage->Transact(TxKind::Write, [&](Session& s) {
      for (int w = 0; w < 1200; ++w) {
        s.Exec("INSERT INTO LOGTEST (N, TEXTO) VALUES (?, ?)",
               {Variant(static_cast<std::int64_t>(w)), Variant(filler)});
      }
    });
    const std::string written = LogGeneration();
    ASSERT_FALSE(written.empty());
    ASSERT_TRUE(LogStartsOverFrom(written));
    const std::string restarted = LogGeneration();
    storage->Transact(TxKind::Write, [&](Session& s) {
      s.Exec("UPDATE LOGTEST SET TEXTO = 'saved' WHERE N = 5", {});
    });
    // The save appended to the log the copier started; it did not start it.
    EXPECT_EQ(restarted, LogGeneration());
    auto other = OpenSqliteStorage(path_);
    other->Transact(TxKind::Read, [&](Session& s) {
      EXPECT_EQ("saved", s.Query("SELECT TEXTO FROM LOGTEST WHERE N = 5", {})[0][0].ToString());
      EXPECT_EQ(1200, s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64());
      EXPECT_EQ(7, s.Query("PRAGMA user_version", {})[0][0].ToInt64());
    });
  }
  auto again = OpenSqliteStorage(path_);
  again->Transact(TxKind::Read, [&](Session& s) {
    EXPECT_EQ("saved", s.Query("SELECT TEXTO FROM LOGTEST WHERE N = 5", {})[0][0].ToString());
    EXPECT_EQ(1200, s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64());
    EXPECT_EQ("ok", s.Query("PRAGMA integrity_check", {})[0][0].ToString());
  });
}

// A reader that holds an old state of the database keeps the log from being
// copied whole: the writes go on meanwhile, none fails, and the log is not
// started over under the reader. Once it ends, the log starts over and
// every row is there.
TEST_F(SqliteLogTest, SavesWhileAReaderHoldsTheLogAreKeptAndTheLogStartsOverAfterIt) {
  const std::string filler(3'000, 'r');
  auto storage = OpenSqliteStorage(path_);
  storage->Transact(TxKind::Write, [](Session& s) {
    s.Exec("CREATE TABLE LOGTEST (N INTEGER PRIMARY KEY, TEXTO TEXT NOT NULL)", {});
  });
  auto reader = OpenSqliteStorage(path_);
  std::atomic<bool> reading{false}, release{false};
  std::int64_t seen = -1, seen_at_end = -1;
  std::thread holder([&] {
    reader->Transact(TxKind::Read, [&](Session& s) {
      seen = s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64();
      reading = true;
      while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      seen_at_end = s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64();
    });
  });
  while (!reading.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto write_rows = [&](int from, int to) { return WriteRows(*storage, from, to, filler); };
  const std::string before = LogGeneration();
  EXPECT_EQ(0, write_rows(0, 1500));
  EXPECT_EQ(before, LogGeneration());
  release = true;
  holder.join();
  // The reader saw one state of the database from its start to its end.
  EXPECT_EQ(0, seen);
  EXPECT_EQ(0, seen_at_end);
  // The next copy may now take the log whole.
  EXPECT_EQ(0, write_rows(1500, 1600));
  EXPECT_TRUE(LogStartsOverFrom(before));
  reader->Transact(TxKind::Read, [&](Session& s) {
    EXPECT_EQ(1600, s.Query("SELECT COUNT(*) FROM LOGTEST", {})[0][0].ToInt64());
  });
}

// A process that writes one row a transaction is killed while its log is
// being copied back and started over, several times at different points:
// every row it had committed (and said so) is there after each kill, the
// database is whole, and the next process goes on writing.
TEST_F(SqliteLogTest, KilledWhileTheLogIsCopiedAndStartedOverLosesNothingCommitted) {
  const std::string filler(3'000, 'k');
  {
    auto storage = OpenSqliteStorage(path_);
    storage->Transact(TxKind::Write, [](Session& s) {
      s.Exec("CREATE TABLE LOGTEST (N INTEGER PRIMARY KEY, TEXTO TEXT NOT NULL)", {});
    });
  }
  std::int64_t committed = 0;
  for (const int rows : {1100, 1700, 2300}) {
    int pipe_fds[2];
    ASSERT_EQ(0, ::pipe(pipe_fds));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipe_fds[0]);
      try {
        auto storage = OpenSqliteStorage(path_);
        for (std::int64_t n = committed;; ++n) {
          storage->Transact(TxKind::Write, [&](Session& s) {
            s.Exec("INSERT INTO LOGTEST (N, TEXTO) VALUES (?, ?)", {Variant(n), Variant(filler)});
          });
          // Told only once committed.
          if (::write(pipe_fds[1], &n, sizeof n) != sizeof n) ::_exit(3);
        }
      } catch (...) {
        ::_exit(2);
      }
    }
    ::close(pipe_fds[1]);
    std::int64_t last = -1, n = 0;
    // Killed once this round's rows have been committed: the copies of
    // the log run all the while, so the moment falls anywhere in them.
    while (::read(pipe_fds[0], &n, sizeof n) == sizeof n) {
      last = n;
      if (last - committed + 1 >= rows) break;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    // What it reported before the kill and was not read yet.
    while (::read(pipe_fds[0], &n, sizeof n) == sizeof n) last = n;
    ::close(pipe_fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;
    ASSERT_GE(last, committed);
    auto storage = OpenSqliteStorage(path_);
    storage->Transact(TxKind::Read, [&](Session& s) {
      EXPECT_EQ("ok", s.Query("PRAGMA integrity_check", {})[0][0].ToString());
      const auto rows_now = s.Query("SELECT COUNT(*), MAX(N), SUM(LENGTH(TEXTO)) FROM LOGTEST", {});
      const std::int64_t count = rows_now[0][0].ToInt64();
      // What was committed is there; at most the row being written when the
      // kill came is there too.
      EXPECT_GE(count, last + 1);
      EXPECT_LE(count, last + 2);
      EXPECT_EQ(count - 1, rows_now[0][1].ToInt64());
      EXPECT_EQ(count * static_cast<std::int64_t>(filler.size()), rows_now[0][2].ToInt64());
      committed = count;
    });
  }
}

}  // namespace
}  // namespace dg::server
