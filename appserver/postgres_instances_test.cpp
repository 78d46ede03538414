// Two exp-appserver instances on one PostgreSQL database, clerks spread over
// both (loopback only). Each clerk takes grid numbers and saves 10 kg onto
// vehicle V1 (100 kg), or distributes order P3 (0.2 m3) onto the other
// transporter's only vehicle V9 (3 m3), while the others do the same through
// the other instance. Afterwards: no grid number given twice, exactly as
// many calls accepted as the vehicles hold (10 saves, 15 distributions), no
// vehicle over its capacity, every accepted call's allocation stored and
// every refused one's absent. Skipped without EXP_TEST_PG
// (scripts/pg-test-cluster.sh).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "appserver/grade_support.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// What one call did to one grid.
struct Outcome {
  std::string grid, kind;  // "save" (1 unit of P1/1 on V1) or "distribute" (P3 on V9)
  bool accepted = false;
};

TEST(PostgresInstances, ClerksOnTwoInstancesShareOneDatabaseSafely) {
  TempDatabase db(Backend::Postgres);
  if (!db.storage()) GTEST_SKIP() << db.skip_reason();
  LoadFixture(*db.storage(), SmallFixture());
  ServerProcess first(db.path(), 0), second(db.path(), 0);
  const int ports[] = {first.port(), second.port()};

  constexpr int kClerks = 6, kRounds = 6;
  const Variant day(data::DateTime::FromIso("2025-06-10"));
  std::mutex mu;
  std::vector<Outcome> outcomes;      // GUARDED_BY(mu)
  std::vector<std::string> failures;  // GUARDED_BY(mu)
  std::vector<std::thread> clerks;
  for (int c = 0; c < kClerks; ++c) {
    clerks.emplace_back([&, c] {
      HttpTransport server("127.0.0.1", ports[c % 2]);
      auto call = [&](const char* method, std::vector<Variant> args) {
        return server.Call(kServerName, method, args);
      };
      // A business refusal is an answer; anything else fails the test.
      auto attempt = [&](const std::string& expected_refusal, const auto& body) {
        try {
          body();
          return true;
        } catch (const data::ServerCallError& e) {
          if (e.what() != expected_refusal) {
            std::lock_guard lock(mu);
            failures.push_back(e.what());
          }
          return false;
        }
      };
      try {
        const DataPacket items = call("GetItensExpedicao", {"0001"}).result.AsPacket();
        for (int r = 0; r < kRounds; ++r) {
          Outcome o;
          if ((c + r) % 2 == 0) {
            o.kind = "save";
            o.grid = Str(call("PrxNrGrade", {"0001"}).result);
            o.accepted = attempt(detail::kItemWeightExceeded, [&] {
              DataPacket p =
                  call("GetVeiculo", {kKey, day, "0001", "P1", "1", o.grid}).result.AsPacket();
              for (auto& row : p.rows) {
                if (Str(row[p.FieldIndex("CDVIATURA")]) == "V1") {
                  row[p.FieldIndex("QtTranspItGr")] = Variant(1.0);
                }
              }
              call("SetGrade", {Variant(p), 10.0, 0.1, "0001", o.grid, "ANA"});
            });
          } else {
            o.kind = "distribute";
            DataPacket only_p3 = items;
            for (auto& row : only_p3.rows) {
              const bool p3 = Str(row[only_p3.FieldIndex("NRPEDIDO")]) == "P3";
              row[only_p3.FieldIndex("IDCHECK")] = Variant(p3 ? "S" : "N");
            }
            o.accepted = attempt("@QT_EXCEDE", [&] {
              auto reply = call("DistribuiQuantidades", {Variant(only_p3), "IDCHECK = 'S'",
                                                         "F12345678909", "", "ANA", "0001"});
              o.grid = Str(reply.args[3]);
            });
          }
          std::lock_guard lock(mu);
          outcomes.push_back(o);
        }
      } catch (const std::exception& e) {
        std::lock_guard lock(mu);
        failures.push_back(std::string("clerk: ") + e.what());
      }
    });
  }
  for (auto& t : clerks) t.join();
  EXPECT_EQ(std::vector<std::string>{}, failures);

  auto query = [&](const std::string& sql, const std::vector<Value>& params = {}) {
    std::vector<Row> rows;
    db.storage()->Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql, params); });
    return rows;
  };

  // Grid numbers: every one handed out once, and each stored once.
  std::set<std::string> numbers;
  int given = 0, accepted[2] = {0, 0}, refused[2] = {0, 0};
  for (const Outcome& o : outcomes) {
    if (!o.grid.empty()) {
      ++given;
      numbers.insert(o.grid);
    }
    (o.accepted ? accepted : refused)[o.kind == "save" ? 0 : 1]++;
  }
  EXPECT_EQ(static_cast<std::size_t>(given), numbers.size()) << "a grid number was given twice";
  EXPECT_EQ(kClerks * kRounds, static_cast<int>(outcomes.size()));
  // A refused distribution keeps no grid; a refused save keeps its
  // reserved (empty) one.
  EXPECT_EQ(static_cast<std::int64_t>(given),
            query("SELECT COUNT(*) FROM GRADEDISTR")[0][0].ToInt64());
  // Each vehicle took exactly what it holds, whatever the order of the calls.
  EXPECT_EQ(10, accepted[0]);
  EXPECT_EQ(kClerks * kRounds / 2 - 10, refused[0]);
  EXPECT_EQ(15, accepted[1]);
  EXPECT_EQ(kClerks * kRounds / 2 - 15, refused[1]);

  for (const Row& r :
       query("SELECT a.CDVIATURA, SUM(a.QTTRANSP * a.VRPESOUNIT), SUM(a.QTTRANSP * a.VRVOLUNIT), "
             "MAX(v.QTCAPACIVIAT), MAX(v.VRVOLUMEVIAT) FROM ALOCGRADE a "
             "JOIN VEICULO v ON v.CDVIATURA = a.CDVIATURA WHERE a.DTENTREGA = '2025-06-10' "
             "GROUP BY a.CDVIATURA")) {
    EXPECT_LE(std::round(r[1].ToDouble() * 1000), std::round(r[3].ToDouble() * 1000))
        << "weight on " << Str(r[0]);
    EXPECT_LE(std::round(r[2].ToDouble() * 1000), std::round(r[4].ToDouble() * 1000))
        << "volume on " << Str(r[0]);
  }

  // What each accepted call stored is there, whole; a refused call left
  // nothing.
  for (const Outcome& o : outcomes) {
    if (o.grid.empty()) continue;
    SCOPED_TRACE(o.kind + " " + o.grid);
    const auto rows =
        query("SELECT COUNT(*), COALESCE(SUM(QTTRANSP), 0) FROM ALOCGRADE WHERE NRGRADEDISTR = ?",
              {Value(o.grid)});
    const double want = !o.accepted ? 0 : o.kind == "save" ? 1 : 4;
    EXPECT_EQ(want, rows[0][1].ToDouble());
    if (!o.accepted) {
      EXPECT_EQ(0, rows[0][0].ToInt64());
    }
  }
}

}  // namespace
}  // namespace dg::server
