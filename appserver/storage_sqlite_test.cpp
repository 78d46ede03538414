// The SQLite storage's write-ahead log: copied back into the database while
// the writes go on, with nothing of them lost.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
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
  int failures = 0;
  for (int w = 0; w < kWrites; ++w) {
    try {
      storage->Transact(TxKind::Write, [&](Session& s) {
        s.Exec("INSERT INTO LOGTEST (N, TEXTO) VALUES (?, ?)",
               {Variant(static_cast<std::int64_t>(w)), Variant(filler)});
      });
    } catch (const std::exception&) {
      ++failures;
    }
  }
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

}  // namespace
}  // namespace dg::server
