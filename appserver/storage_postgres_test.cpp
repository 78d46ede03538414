// The PostgreSQL storage: statement translation without a database; values,
// transactions, conflict retries, migrations and the look-ups' functions
// against the cluster that EXP_TEST_PG names (skipped without one).
#include "appserver/storage_postgres.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <thread>

#include "appserver/schema.h"
#include "appserver/testing/test_support.h"
#include "contracts/lookup_sql.h"
#include "contracts/postgres_connection.h"

namespace dg::server {
namespace {

using data::Variant;
using namespace testing;

TEST(NumberPlaceholders, NumbersOnlyTheBareQuestionMarks) {
  struct Case {
    std::string sql, want;
    int count;
  } cases[] = {
      {"SELECT 1", "SELECT 1", 0},
      {"SELECT a FROM t WHERE b = ? AND c IN (?, ?)",
       "SELECT a FROM t WHERE b = $1 AND c IN ($2, $3)", 3},
      {"WHERE a = '?' AND b = ?", "WHERE a = '?' AND b = $1", 1},
      {"WHERE a = 'it''s ?' AND b = ?", "WHERE a = 'it''s ?' AND b = $1", 1},
      {"SELECT \"odd?name\" FROM t WHERE x = ?", "SELECT \"odd?name\" FROM t WHERE x = $1", 1},
      {"-- which one?\nSELECT ?", "-- which one?\nSELECT $1", 1},
      {"SELECT ? -- trailing?", "SELECT $1 -- trailing?", 1},
      {"SELECT 5 - ?", "SELECT 5 - $1", 1},
  };
  for (const Case& c : cases) {
    int count = -1;
    EXPECT_EQ(c.want, NumberPlaceholders(c.sql, &count)) << c.sql;
    EXPECT_EQ(c.count, count) << c.sql;
  }
  EXPECT_THROW(NumberPlaceholders("SELECT 'open ?", nullptr), StorageError);
}

TEST(WrittenTable, NamesTheTableOfEachWritingStatement) {
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT INTO ALOCGRADE (CDFILIAL) VALUES (?)", "ALOCGRADE"},
      {"  insert into itemgrade(CDFILIAL) SELECT 1", "ITEMGRADE"},
      {"UPDATE CARGAVEICULO SET QT = ?", "CARGAVEICULO"},
      {"DELETE FROM GRADEDISTR WHERE NRGRADEDISTR = ?", "GRADEDISTR"},
      {"\nDELETE\tFROM\nGRADELOG", "GRADELOG"},
      {"SELECT * FROM ALOCGRADE", ""},
      {"DELETE ALOCGRADE", ""},
      {"INSERT ALOCGRADE VALUES (1)", ""},
      {"UPDATE \"odd name\" SET a = 1", ""},
      {"CREATE TABLE t (a INT)", ""},
      {"", ""},
  };
  for (const auto& [sql, want] : cases) EXPECT_EQ(want, WrittenTable(sql)) << sql;
}

TEST(PostgresStorageChoice, ClassifiesFailures) {
  const std::pair<const char*, RetryClass> failures[] = {
      {"40001", RetryClass::Conflict},  {"40P01", RetryClass::Conflict},
      {"23505", RetryClass::Duplicate}, {"23503", RetryClass::None},
      {"42P01", RetryClass::None},      {"", RetryClass::None}};
  for (const auto& [state, want] : failures) EXPECT_EQ(want, ClassifyFailure(state)) << state;
}

class PostgresStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    db_.storage()->Transact(TxKind::Write, [](Session& s) {
      s.Exec("CREATE TABLE probe (k TEXT PRIMARY KEY, n BIGINT, d DOUBLE PRECISION, t TEXT)");
    });
  }
  std::vector<Row> Rows(const std::string& sql, const std::vector<Value>& params = {}) {
    std::vector<Row> rows;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql, params); });
    return rows;
  }
  // Every row of probe as "k:n:d:t ..." by key.
  std::string Probe() {
    std::string out;
    for (const Row& r : Rows("SELECT k, n, d, t FROM probe ORDER BY k")) {
      for (const Value& v : r) out += (v.IsNull() ? "null" : v.ToString()) + ":";
      out.back() = ' ';
    }
    return out;
  }

  TempDatabase db_{Backend::Postgres};
};

TEST_F(PostgresStorageTest, ValuesComeBackAsTheyWent) {
  const double exact = 0.1 + 0.2;
  std::vector<Row> rows;
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    EXPECT_EQ(1, s.Exec("INSERT INTO probe VALUES (?, ?, ?, ?)",
                        {Value("a"), Value(std::int64_t{9007199254740993}), Value(exact),
                         Value("Três ç ? '")}));
    EXPECT_EQ(1, s.Exec("INSERT INTO probe VALUES (?, ?, ?, ?)",
                        {Value("b"), Value::Null(), Value(1e-300), Value("")}));
    EXPECT_EQ(1, s.Exec("INSERT INTO probe (k, t) VALUES (?, ?)",
                        {Value("c"), Value(data::DateTime::FromIso("2025-06-10T08:30:00"))}));
    EXPECT_EQ(2, s.Exec("UPDATE probe SET n = 1 WHERE k <> ?", {Value("a")}));
    rows = s.Query("SELECT n, d, t, n * 2, COUNT(*) OVER () FROM probe ORDER BY k");
  });
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ(data::VariantKind::Int, rows[0][0].Kind());
  EXPECT_EQ(9007199254740993, rows[0][0].ToInt64());
  EXPECT_EQ(data::VariantKind::Double, rows[0][1].Kind());
  EXPECT_EQ(exact, rows[0][1].ToDouble());
  EXPECT_EQ(1e-300, rows[1][1].ToDouble());
  EXPECT_EQ("Três ç ? '", rows[0][2].ToString());
  EXPECT_EQ("", rows[1][2].ToString());
  EXPECT_EQ("2025-06-10T08:30:00", rows[2][2].ToString());
  EXPECT_TRUE(rows[2][1].IsNull());
  EXPECT_EQ(data::VariantKind::Int, rows[2][4].Kind());
  // A text the protocol would cut short is refused, not stored shortened.
  EXPECT_THROW(db_.storage()->Transact(TxKind::Write,
                                       [](Session& s) {
                                         s.Exec("INSERT INTO probe (k) VALUES (?)",
                                                {Value(std::string("x\0y", 3))});
                                       }),
               StorageError);
  EXPECT_THROW(Rows("SELECT k FROM probe WHERE k = ?", {}), StorageError);
  EXPECT_EQ(
      "a:9007199254740993:0.30000000000000004:Três ç ? ' b:1:1e-300: "
      "c:1:null:2025-06-10T08:30:00 ",
      Probe());
}

TEST_F(PostgresStorageTest, TransactionsCommitOrRollBackWhole) {
  EXPECT_THROW(db_.storage()->Transact(TxKind::Write,
                                       [](Session& s) {
                                         s.Exec("INSERT INTO probe (k) VALUES ('gone')");
                                         throw Error("refused by the method");
                                       }),
               Error);
  EXPECT_THROW(db_.storage()->Transact(TxKind::Write,
                                       [](Session& s) {
                                         s.Exec("INSERT INTO probe (k) VALUES ('gone too')");
                                         s.Exec("INSERT INTO nowhere VALUES (1)");
                                       }),
               StorageError);
  // A read transaction cannot write.
  EXPECT_THROW(
      db_.storage()->Transact(TxKind::Read,
                              [](Session& s) { s.Exec("INSERT INTO probe (k) VALUES ('read')"); }),
      StorageError);
  db_.storage()->Transact(TxKind::Write,
                          [](Session& s) { s.Exec("INSERT INTO probe (k) VALUES ('kept')"); });
  EXPECT_EQ("kept:null:null:null ", Probe());
}

// A read's BEGIN leaves with its first statement. The read still holds one
// snapshot over all its statements and ends its transaction with the call;
// a read that runs no statement, or fails before or at its first, leaves
// its connection ready for the next transaction of any kind; and a
// connection lost since the last call fails that call at once (no wait for
// results that never come), its successor being served on a new one.
TEST_F(PostgresStorageTest, AReadsBeginSentWithItsFirstStatementKeepsTheReadWhole) {
  auto single = OpenStorage(db_.path(), 1);
  const auto count = [](Session& s) {
    return s.Query("SELECT COUNT(*) FROM probe")[0][0].ToInt64();
  };
  const auto insert = [](Storage& storage, const std::string& key) {
    storage.Transact(TxKind::Write,
                     [&](Session& s) { s.Exec("INSERT INTO probe (k) VALUES (?)", {Value(key)}); });
  };
  single->Transact(TxKind::Read, [&](Session& s) {
    const std::int64_t before = count(s);
    insert(*db_.storage(), "meanwhile");
    EXPECT_EQ(before, count(s));
  });
  EXPECT_EQ(1, Rows("SELECT COUNT(*) FROM probe")[0][0].ToInt64());

  single->Transact(TxKind::Read, [](Session&) {});
  EXPECT_THROW(single->Transact(TxKind::Read, [](Session&) { throw Error("refused at once"); }),
               Error);
  try {
    single->Transact(TxKind::Read, [](Session& s) { s.Query("SELECT k FROM nowhere"); });
    ADD_FAILURE() << "a read of a missing table answered";
  } catch (const StorageError& e) {
    EXPECT_NE(std::string(e.what()).find("SELECT k FROM nowhere"), std::string::npos) << e.what();
  }
  // The next write on the same connection writes, and the next read sees it.
  insert(*single, "after");
  single->Transact(TxKind::Read, [&](Session& s) { EXPECT_EQ(2, count(s)); });

  std::int64_t pid = 0;
  single->Transact(TxKind::Read,
                   [&](Session& s) { pid = s.Query("SELECT pg_backend_pid()")[0][0].ToInt64(); });
  // The session holds no transaction (and no snapshot) once the call is
  // over.
  std::string state;
  for (int i = 0; i < 200 && state != "idle"; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    state = Rows("SELECT state FROM pg_stat_activity WHERE pid = ?", {Value(pid)})[0][0].ToString();
  }
  EXPECT_EQ("idle", state);
  Rows("SELECT pg_terminate_backend(?)", {Value(pid)});
  EXPECT_THROW(single->Transact(TxKind::Read, count), StorageError);
  single->Transact(TxKind::Read, [&](Session& s) { EXPECT_EQ(2, count(s)); });
}

// The connection breaking between the commit and giving the writer lock
// back: the write is in, so the call succeeds (a clerk told otherwise would
// do it twice), and the lock goes with the connection. The break is staged
// by a function that fails in the lock's stead, on that connection's path.
TEST_F(PostgresStorageTest, AWriteCommittedIsReportedDoneThoughItsLockCannotBeGivenBack) {
  EXPECT_NO_THROW(db_.storage()->Transact(TxKind::Write, [](Session& s) {
    s.Exec("INSERT INTO probe (k) VALUES ('in')");
    // In the test's own schema, searched before the system's.
    for (const char* name : {"pg_advisory_unlock", "pg_advisory_unlock_shared"}) {
      s.Exec(std::string("CREATE FUNCTION ") + name +
             "(bigint) RETURNS boolean LANGUAGE plpgsql AS "
             "$$ BEGIN RAISE EXCEPTION 'connection lost'; END $$");
    }
    s.Query(
        "SELECT set_config('search_path', current_setting('search_path') || ', pg_catalog', "
        "false)");
  }));
  EXPECT_EQ("in:null:null:null ", Probe());
  db_.storage()->Transact(TxKind::Write,
                          [](Session& s) { s.Exec("INSERT INTO probe (k) VALUES ('next')"); });
  EXPECT_EQ("in:null:null:null next:null:null:null ", Probe());
}

// The work runs again from the start when the database refuses it for a
// conflict, even when the work turned the failure into another exception.
TEST_F(PostgresStorageTest, ConflictsRunTheWorkAgainFromAFreshTransaction) {
  const std::string conflict =
      "DO $$ BEGIN RAISE EXCEPTION 'conflict' USING ERRCODE = '40001'; END $$";
  struct Case {
    const char* name;
    int fail_runs;      // runs that end in the conflict
    bool translate;     // the work rethrows the failure as a plain Error
    std::string probe;  // rows after the call
    int runs;
    bool throws;
  } cases[] = {
      {"once", 1, false, "k1:2:null:null ", 2, false},
      {"translated", 2, true, "k2:3:null:null ", 3, false},
      {"for ever", 1000, false, "", 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db_.storage()->Transact(TxKind::Write, [](Session& s) { s.Exec("DELETE FROM probe"); });
    int runs = 0;
    bool threw = false;
    try {
      db_.storage()->Transact(TxKind::Write, [&](Session& s) {
        ++runs;
        s.Exec("INSERT INTO probe (k, n) VALUES (?, ?)",
               {Value(std::string("k") + std::to_string(c.fail_runs)), Value(runs)});
        if (runs > c.fail_runs) return;
        try {
          s.Exec(conflict);
        } catch (const StorageError& e) {
          if (c.translate) throw Error(std::string("wrapped: ") + e.what());
          throw;
        }
      });
    } catch (const StorageError&) {
      threw = true;
    }
    EXPECT_EQ(c.throws, threw);
    EXPECT_EQ(c.runs, runs);
    EXPECT_EQ(c.probe, Probe());
  }
  // A method's own refusal is final.
  int runs = 0;
  EXPECT_THROW(db_.storage()->Transact(TxKind::Write,
                                       [&](Session&) {
                                         ++runs;
                                         throw Error("Ordem já cadastrada.");
                                       }),
               Error);
  EXPECT_EQ(1, runs);
}

// Whatever a write's end (committed, refused by the method, run again after
// a conflict, run alone after several, refused for good), the connection it
// goes back to the pool with holds no lock of the writers' or of a claim:
// one left behind would stop every writer that runs alone, on every
// instance. (The pool hands out the connection given back last.)
TEST_F(PostgresStorageTest, WritesOfEveryKindAndEndGiveBackTheirLocks) {
  const std::string conflict =
      "DO $$ BEGIN RAISE EXCEPTION 'conflict' USING ERRCODE = '40001'; END $$";
  auto held = [&] {
    return Rows("SELECT COUNT(*) FROM pg_locks WHERE locktype = 'advisory' AND pid = "
                "pg_backend_pid()")[0][0]
        .ToInt64();
  };
  struct Case {
    const char* name;
    TxKind kind;
    int fail_runs;  // runs refused for a conflict; 1000: every one
    bool refuse;    // the method refuses on its last run
  } cases[] = {
      {"claimed, committed", TxKind::ClaimedWrite, 0, false},
      {"claimed, refused by the method", TxKind::ClaimedWrite, 0, true},
      {"claimed, a conflict", TxKind::ClaimedWrite, 1, false},
      {"claimed, alone after conflicts", TxKind::ClaimedWrite, 4, false},
      {"claimed, refused for good", TxKind::ClaimedWrite, 1000, false},
      {"serialisable, committed", TxKind::Write, 0, false},
      {"serialisable, alone after conflicts", TxKind::Write, 4, false},
      {"serialisable, refused for good", TxKind::Write, 1000, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int runs = 0;
    const std::string key = "k" + std::to_string(++n);
    try {
      db_.storage()->Transact(c.kind, [&](Session& s) {
        ++runs;
        s.Claim("grid 0001/" + key);
        s.Exec("INSERT INTO probe (k) VALUES (?)", {Value(key)});
        if (runs <= c.fail_runs) s.Exec(conflict);
        if (c.refuse) throw Error("refused by the method");
      });
    } catch (const Error&) {
    }
    EXPECT_EQ(0, held());
    const bool stored = c.fail_runs < 1000 && !c.refuse;
    EXPECT_EQ(stored ? 1 : 0,
              Rows("SELECT COUNT(*) FROM probe WHERE k = ?", {Value(key)})[0][0].ToInt64());
  }
}

// A table is analysed right after the committed writes that grew it by
// enough rows, outside the write's transaction; rows of a rolled-back
// write, or of a run the database refused and that ran again, count once
// or not at all, and the write itself is never affected.
TEST_F(PostgresStorageTest, TablesGrownByCommittedWritesAreAnalysedAfterTheCommit) {
  auto insert = [&](int from, int count) {
    return "INSERT INTO probe (k) SELECT 'k' || g FROM generate_series(" + std::to_string(from) +
           ", " + std::to_string(from + count - 1) + ") g";
  };
  auto analyses = [&] {
    const std::vector<Row> rows =
        Rows("SELECT analyze_count FROM pg_stat_user_tables WHERE relid = to_regclass('probe')");
    return rows.empty() ? -1 : static_cast<int>(rows[0][0].ToInt64());
  };
  auto held = [&] {
    return static_cast<long long>(
        Rows("SELECT reltuples FROM pg_class WHERE oid = to_regclass('probe')")[0][0].ToDouble());
  };
  auto write = [&](int from, int count) {
    db_.storage()->Transact(TxKind::Write, [&](Session& s) { s.Exec(insert(from, count)); });
  };
  write(1, 300);
  EXPECT_EQ(0, analyses());
  // Rolled back: its rows do not count.
  EXPECT_THROW(db_.storage()->Transact(TxKind::Write,
                                       [&](Session& s) {
                                         s.Exec(insert(1000, 600));
                                         throw Error("refused by the method");
                                       }),
               Error);
  EXPECT_EQ(0, analyses());
  // Refused once for a conflict and run again: its rows count once.
  int runs = 0;
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec(insert(301, 150));
    if (++runs == 1) s.Exec("DO $$ BEGIN RAISE EXCEPTION 'c' USING ERRCODE = '40001'; END $$");
  });
  EXPECT_EQ(2, runs);
  EXPECT_EQ(0, analyses());
  // 550 rows committed since the table was made: analysed before the call
  // returns, and the rows are all there.
  write(451, 100);
  EXPECT_EQ(1, analyses());
  EXPECT_EQ(550, held());
  EXPECT_EQ("550", Rows("SELECT COUNT(*) FROM probe")[0][0].ToString());
  // Not again until it has doubled once more.
  write(551, 500);
  EXPECT_EQ(1, analyses());
  write(1051, 50);
  EXPECT_EQ(2, analyses());
  EXPECT_EQ(1100, held());
  // Rows written again or deleted do not grow the table: a write that
  // rewrites every row, however often, is not followed by an analysis.
  for (int i = 0; i < 3; ++i) {
    db_.storage()->Transact(TxKind::Write, [&](Session& s) {
      EXPECT_EQ(1100, s.Exec("UPDATE probe SET k = k || 'x'"));
    });
  }
  db_.storage()->Transact(TxKind::Write,
                          [&](Session& s) { s.Exec("DELETE FROM probe WHERE k LIKE 'k1%'"); });
  EXPECT_EQ(2, analyses());
}

// Writers that read the highest number and write the next, on two
// instances of the storage: every one succeeds in the end, none takes a
// number twice.
TEST_F(PostgresStorageTest, WritersNumberingAtOnceNeverTakeANumberTwice) {
  constexpr int kThreads = 6, kEach = 8;
  auto other = OpenStorage(db_.path());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Storage& storage = t % 2 ? *other : *db_.storage();
      for (int i = 0; i < kEach; ++i) {
        try {
          storage.Transact(TxKind::Write, [&](Session& s) {
            auto top = s.Query("SELECT MAX(n) FROM probe");
            const std::int64_t next = top[0][0].IsNull() ? 1 : top[0][0].ToInt64() + 1;
            s.Exec("INSERT INTO probe (k, n) VALUES (?, ?)",
                   {Value("n" + std::to_string(next)), Value(next)});
          });
        } catch (const std::exception&) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  auto rows = Rows("SELECT COUNT(*), COUNT(DISTINCT n), MAX(n) FROM probe");
  EXPECT_EQ(kThreads * kEach, rows[0][0].ToInt64());
  EXPECT_EQ(kThreads * kEach, rows[0][1].ToInt64());
  EXPECT_EQ(kThreads * kEach, rows[0][2].ToInt64());
}

// A server runs at most its connections' worth of transactions at once;
// the callers beyond wait their turn, and every one of them is served, of
// every kind, also when a connection breaks under a transaction while
// others wait for it (its place goes to a new connection).
TEST_F(PostgresStorageTest, CallsBeyondTheConnectionsWaitTheirTurnAndAreAllServed) {
  constexpr int kConnections = 2, kThreads = 8, kEach = 6;
  auto storage = OpenStorage(db_.path(), kConnections);
  std::atomic<int> in_flight{0}, most{0}, failures{0};
  const auto counted = [&](Session& s, const std::function<void(Session&)>& work) {
    const int now = ++in_flight;
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    work(s);
    --in_flight;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string key = "t" + std::to_string(t) + "." + std::to_string(i);
        const TxKind kind = i % 3 == 0 ? TxKind::Write : TxKind::ClaimedWrite;
        try {
          storage->Transact(kind, [&](Session& s) {
            counted(s, [&](Session& s2) {
              s2.Exec("INSERT INTO probe (k, n) VALUES (?, ?)", {Value(key), Value(t)});
            });
          });
          storage->Transact(TxKind::Read, [&](Session& s) {
            counted(s, [&](Session& s2) {
              if (s2.Query("SELECT n FROM probe WHERE k = ?", {Value(key)}).size() != 1) {
                ++failures;
              }
            });
          });
        } catch (const std::exception&) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_LE(most.load(), kConnections);
  EXPECT_EQ(kThreads * kEach, Rows("SELECT COUNT(*) FROM probe")[0][0].ToInt64());

  // One connection, held by a transaction whose connection breaks while
  // three more calls wait for it: the break fails that call alone.
  auto single = OpenStorage(db_.path(), 1);
  std::latch holding(1), others_started(3);
  std::thread breaking([&] {
    EXPECT_THROW(single->Transact(TxKind::ClaimedWrite,
                                  [&](Session& s) {
                                    holding.count_down();
                                    others_started.wait();
                                    // Gives the others time to queue; they
                                    // are served whether they did or not.
                                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                    s.Query("SELECT pg_terminate_backend(pg_backend_pid())");
                                  }),
                 StorageError);
  });
  holding.wait();
  std::vector<std::thread> waiting;
  for (int w = 0; w < 3; ++w) {
    waiting.emplace_back([&, w] {
      others_started.count_down();
      single->Transact(TxKind::ClaimedWrite, [&](Session& s) {
        s.Exec("INSERT INTO probe (k) VALUES (?)", {Value("after break " + std::to_string(w))});
      });
    });
  }
  breaking.join();
  for (auto& th : waiting) th.join();
  EXPECT_EQ(3, Rows("SELECT COUNT(*) FROM probe WHERE k LIKE 'after break %'")[0][0].ToInt64());
}

// Servers sharing the database's transactions take their share as they
// come and go: alone the whole number, with others the nearest part (at
// least one). A share that became smaller closes the connections beyond it
// and bounds the transactions in flight at once; a server gone gives its
// part back. Storages with a number of their own (the fixture's) are not
// counted.
TEST_F(PostgresStorageTest, ServersSharingTheDatabaseTakeTheirShareAsTheyComeAndGo) {
  const DbConnections shared{4, true, 0};  // counted again before every transaction
  auto a = OpenStorage(db_.path(), shared);
  ASSERT_EQ(4, PostgresTransactionsAtOnce(*a));
  const auto sessions = [&](const std::string& name) {
    return Rows("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = ?", {Value(name)})
        .at(0)
        .at(0)
        .ToInt64();
  };
  // A session closed ends in its backend a moment later.
  const auto sessions_settle_at = [&](const std::string& name, long long want) {
    long long now = sessions(name);
    for (int wait = 0; wait < 500 && now != want; ++wait, now = sessions(name)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return now;
  };
  // Alone, four transactions run at once on four connections.
  {
    std::latch all_in(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        a->Transact(TxKind::Read, [&](Session& s) {
          s.Query("SELECT 1");
          all_in.arrive_and_wait();
        });
      });
    }
    for (auto& th : threads) th.join();
  }
  EXPECT_EQ(4, sessions(PostgresSessionName(*a)));

  auto b = OpenStorage(db_.path(), shared);
  EXPECT_EQ(2, PostgresTransactionsAtOnce(*b));  // a and b
  auto c = OpenStorage(db_.path(), shared);
  EXPECT_EQ(1, PostgresTransactionsAtOnce(*c));  // 4 / 3, rounded
  ASSERT_NE(PostgresSessionName(*a), PostgresSessionName(*b));

  // a counts again at its next transaction and keeps one connection.
  a->Transact(TxKind::Read, [](Session& s) { s.Query("SELECT 1"); });
  EXPECT_EQ(1, PostgresTransactionsAtOnce(*a));
  EXPECT_EQ(1, sessions_settle_at(PostgresSessionName(*a), 1));

  // Its callers then run one at a time, and every write is stored.
  std::atomic<int> in_flight{0}, most{0}, failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) {
        try {
          a->Transact(TxKind::ClaimedWrite, [&](Session& s) {
            const int now = ++in_flight;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            s.Exec("INSERT INTO probe (k, n) VALUES (?, ?)",
                   {Value("share " + std::to_string(t) + "." + std::to_string(i)), Value(t)});
            --in_flight;
          });
        } catch (const std::exception&) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(1, most.load());
  EXPECT_EQ(24, Rows("SELECT COUNT(*) FROM probe WHERE k LIKE 'share %'")[0][0].ToInt64());

  // b and c stop; once their sessions have ended, a takes the whole number
  // again and callers waiting for it are served.
  const std::string gone_b = PostgresSessionName(*b), gone_c = PostgresSessionName(*c);
  b.reset();
  c.reset();
  ASSERT_EQ(0, sessions_settle_at(gone_b, 0) + sessions_settle_at(gone_c, 0));
  a->Transact(TxKind::Read, [](Session& s) { s.Query("SELECT 1"); });
  EXPECT_EQ(4, PostgresTransactionsAtOnce(*a));
}

// Two instances check the room left and fill it at the same moment (both
// have read before either writes): one of them must see the other's row
// when it runs again, so the room is never overfilled.
TEST_F(PostgresStorageTest, TwoWritersCheckingTheSameRoomFillItOnce) {
  auto other = OpenStorage(db_.path());
  std::latch both_read(2);
  std::atomic<int> runs{0};
  auto fill = [&](Storage& storage, const char* key) {
    bool first = true;
    storage.Transact(TxKind::Write, [&](Session& s) {
      ++runs;
      const bool room = s.Query("SELECT COUNT(*) FROM probe")[0][0].ToInt64() == 0;
      if (first) {
        first = false;
        both_read.arrive_and_wait();
      }
      if (room) s.Exec("INSERT INTO probe (k) VALUES (?)", {Value(key)});
    });
  };
  std::thread a([&] { fill(*db_.storage(), "a"); });
  std::thread b([&] { fill(*other, "b"); });
  a.join();
  b.join();
  EXPECT_EQ(1, Rows("SELECT COUNT(*) FROM probe")[0][0].ToInt64());
  EXPECT_LE(3, runs.load());  // one of them at least ran again
}

TEST_F(PostgresStorageTest, InstancesStartingTogetherMigrateOnce) {
  TempDatabase fresh(Backend::Postgres);
  // `fresh` is migrated; two more instances open it at once, and a schema
  // of a newer build is refused.
  std::vector<std::thread> threads;
  std::atomic<int> opened{0};
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      if (OpenStorage(fresh.path())) ++opened;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(3, opened.load());
  fresh.storage()->Transact(TxKind::Write, [](Session& s) {
    EXPECT_EQ(CurrentSchemaVersion(),
              s.Query("SELECT COUNT(*) FROM schema_version")[0][0].ToInt32());
    s.Exec("INSERT INTO schema_version (version) VALUES (?)", {Value(CurrentSchemaVersion() + 1)});
  });
  EXPECT_THROW(OpenStorage(fresh.path()), StorageError);
}

TEST_F(PostgresStorageTest, ItemsKeepTheirTableOrderAndTextsSortByteWise) {
  nlohmann::json fixture = SmallFixture();
  // Inserted out of key order; "a" after "B" byte-wise, before it by many
  // locales.
  fixture["VEICULO"].push_back({{"CDVIATURA", "a1"},
                                {"QTCAPACIVIAT", 1},
                                {"VRVOLUMEVIAT", 1},
                                {"IDTPIJURTRAN", "J"},
                                {"NRINSJURTRAN", "11222333000181"}});
  fixture["VEICULO"].push_back({{"CDVIATURA", "B1"},
                                {"QTCAPACIVIAT", 1},
                                {"VRVOLUMEVIAT", 1},
                                {"IDTPIJURTRAN", "J"},
                                {"NRINSJURTRAN", "11222333000181"}});
  std::swap(fixture["ITEMPEDIDO"][0], fixture["ITEMPEDIDO"][3]);
  LoadFixture(*db_.storage(), fixture);
  rdmGradeDistribuicao object(db_.storage());
  std::vector<Variant> args = {"0001"};
  EXPECT_EQ("P3,P1,P2,P1,P4", Column(object.Call("GetItensExpedicao", args), "NRPEDIDO"));
  args = {kKey, Variant(data::DateTime::FromIso("2025-06-10")), "0001", "P1", "1", ""};
  EXPECT_EQ("B1,V1,V2,a1", Column(object.Call("GetVeiculo", args), "CDVIATURA"));
}

// The host's look-ups run their texts unchanged on the server's schema.
TEST_F(PostgresStorageTest, TheLookUpTextsRunOnTheServersSchema) {
  LoadFixture(*db_.storage(), SmallFixture());
  contracts::PostgresConnection connection(db_.path());
  contracts::TADOIBQuery tran("qryPesqTran"), tipo("qryTipoTransp");
  contracts::lookup::SetPesqTranTexts(tran);
  contracts::lookup::SetTipoTranspTexts(tipo);
  tran.connection = tipo.connection = &connection;
  auto column = [](contracts::TADOIBQuery& q, const char* field) {
    std::string out;
    data::ClientDataset& ds = q.DataSet();
    for (ds.First(); !ds.Eof(); ds.Next()) {
      out += (out.empty() ? "" : ",") + ds.FieldByName(field).AsString();
    }
    q.Close();
    return out;
  };
  struct Case {
    const char* type;
    const char* inscription;
    std::string want;
  } cases[] = {
      {nullptr, nullptr, "11222333000181,12345678909"},
      {"J", nullptr, "11222333000181"},
      {nullptr, "12345678909", "12345678909"},
      {"J", "12345678909", ""},
      {"J' OR '1'='1", nullptr, ""},
  };
  for (const Case& c : cases) {
    if (c.type)
      tran.ParamByName("P_IDTPIJURTRAN").SetAsString(c.type);
    else
      tran.ParamByName("P_IDTPIJURTRAN").Clear();
    if (c.inscription)
      tran.ParamByName("P_NRINSJURTRAN").SetAsString(c.inscription);
    else
      tran.ParamByName("P_NRINSJURTRAN").Clear();
    tran.Open();
    std::string got = column(tran, "NRINSJURTRAN");
    EXPECT_EQ(c.want, got);
  }
  tipo.ParamByName("P_CDTIPTRANS").Clear();
  tipo.Open();
  EXPECT_EQ("Rodoviário", column(tipo, "NMTIPTRANS"));
  tipo.ParamByName("P_CDTIPTRANS").SetAsString("9999");
  tipo.Open();
  EXPECT_EQ("", column(tipo, "NMTIPTRANS"));
}

}  // namespace
}  // namespace dg::server
