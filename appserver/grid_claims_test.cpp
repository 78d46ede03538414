// Writes of grids side by side on PostgreSQL: a save held open before its
// commit while another write runs. Writes of different grids and vehicles
// pass each other without the database refusing either; two saves filling
// one vehicle's day, or two dispatches of the same items, take turns, so
// the second sees the first. Skipped without EXP_TEST_PG
// (scripts/pg-test-cluster.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <thread>

#include "appserver/grade_support.h"
#include "appserver/grid_activity.h"
#include "appserver/storage_postgres.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// Runs `hold` inside every write of the thread that set it, after the work
// and before the commit.
thread_local std::function<void(Session&)>* hold_here = nullptr;

class HoldingStorage : public Storage {
 public:
  explicit HoldingStorage(std::shared_ptr<Storage> inner) : inner_(std::move(inner)) {}
  void Transact(TxKind kind, const std::function<void(Session&)>& work) override {
    inner_->Transact(kind, [&](Session& s) {
      work(s);
      if (Writes(kind) && hold_here) (*hold_here)(s);
    });
  }

 private:
  std::shared_ptr<Storage> inner_;
};

class GridClaimsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    LoadFixture(*db_.storage(), SmallFixture());
    object_ = std::make_shared<rdmGradeDistribuicao>(
        std::make_shared<HoldingStorage>(db_.storage()));
  }
  void TearDown() override {
    if (db_.storage()) {
      EXPECT_EQ(std::vector<std::string>{}, StaleLoadsOf(*db_.storage()));
    }
  }

  data::CallReply Call(const std::string& method, std::vector<Variant> args) {
    InProcessTransport transport(object_, "");
    return transport.Call(kServerName, method, args);
  }
  // The refusal of a call, or "ok".
  std::string Outcome(const std::string& method, std::vector<Variant> args) {
    try {
      Call(method, std::move(args));
      return "ok";
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }
  std::string NewGrid() { return Str(Call("PrxNrGrade", {"0001"}).result); }

  // The save of `quantity` of an item of 2025-06-10 on `vehicle` in `grid`.
  std::vector<Variant> Save(const std::string& grid, const std::string& order,
                            const std::string& vehicle, double quantity) {
    const Variant day(data::DateTime::FromIso("2025-06-10"));
    DataPacket p = Call("GetVeiculo", {kKey, day, "0001", order, "1", grid}).result.AsPacket();
    for (auto& row : p.rows) {
      if (Str(row[p.FieldIndex("CDVIATURA")]) == vehicle) {
        row[p.FieldIndex("QtTranspItGr")] = Variant(quantity);
      }
    }
    return {Variant(p), 10.0, 0.1, "0001", grid, "ANA"};
  }

  std::vector<Row> Rows(const std::string& sql, const std::vector<Value>& params = {}) {
    std::vector<Row> rows;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql, params); });
    return rows;
  }

  // Calls `first` with its write held open until `second`, run meanwhile on
  // another thread, has finished or waits for the first; then lets the
  // first commit. Answers both outcomes, and whether the second waited.
  struct Overlap {
    std::string first, second;
    bool second_waited = false;
  };
  Overlap Overlapping(const std::string& method, std::vector<Variant> args,
                      const std::function<std::string()>& second_call) {
    Overlap out;
    std::future<std::string> second;
    bool held = false;
    std::function<void(Session&)> hold = [&](Session& s) {
      if (held) return;  // a run again is not held
      held = true;
      const std::int64_t me = s.Query("SELECT pg_backend_pid()")[0][0].ToInt64();
      second = std::async(std::launch::async, second_call);
      // A guard against a test that hangs, not a measure: the second call
      // ends or waits within moments.
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (std::chrono::steady_clock::now() < give_up) {
        if (second.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready) return;
        if (Rows("SELECT COUNT(*) FROM pg_stat_activity WHERE ? = ANY(pg_blocking_pids(pid))",
                 {Value(me)})[0][0]
                .ToInt64() > 0) {
          out.second_waited = true;
          return;
        }
      }
      ADD_FAILURE() << "the second call neither ended nor waited";
    };
    hold_here = &hold;
    out.first = Outcome(method, std::move(args));
    hold_here = nullptr;
    out.second = second.valid() ? second.get() : "never ran";
    return out;
  }
  Overlap Overlapping(const std::string& method, const std::vector<Variant>& args,
                      const std::string& second_method, const std::vector<Variant>& second_args) {
    return Overlapping(method, args, [&] { return Outcome(second_method, second_args); });
  }

  TempDatabase db_{Backend::Postgres};
  std::shared_ptr<rdmGradeDistribuicao> object_;
};

TEST_F(GridClaimsTest, SavesOfDifferentGridsAndVehiclesPassEachOtherUnrefused) {
  const std::string a = NewGrid(), b = NewGrid();
  const auto save_a = Save(a, "P1", "V1", 1), save_b = Save(b, "P2", "V2", 2);
  const long long refused_before = PostgresRefusedRuns();
  const Overlap o = Overlapping("SetGrade", save_a, "SetGrade", save_b);
  EXPECT_EQ("ok", o.first);
  EXPECT_EQ("ok", o.second);
  EXPECT_FALSE(o.second_waited) << "the save of another grid waited for the first";
  EXPECT_EQ(refused_before, PostgresRefusedRuns()) << "the database refused a run of a save";
  EXPECT_EQ(3, Rows("SELECT SUM(QTTRANSP) FROM ALOCGRADE")[0][0].ToDouble());
  // Both grids' activity was stamped, each by its own write.
  EXPECT_EQ(2, Rows("SELECT COUNT(*) FROM GRADELOG WHERE NMMETODO = 'SetGrade'")[0][0].ToInt64());
  EXPECT_EQ(0, Rows("SELECT COUNT(*) FROM GRADEDISTR WHERE DTHRATIVIDADE IS NULL")[0][0].ToInt64());
}

// V2 holds 50 kg; each save loads 30 kg of P2/1 on it for the same day, each
// in its own grid: alone each fits, together they do not.
TEST_F(GridClaimsTest, TwoSavesFillingOneVehicleDayTakeTurnsAndNeverOverloadIt) {
  for (const bool other_instance : {false, true}) {
    SCOPED_TRACE(other_instance ? "the second on another instance" : "one instance");
    const std::string a = NewGrid(), b = NewGrid();
    const auto save_a = Save(a, "P2", "V2", 3), save_b = Save(b, "P2", "V2", 3);
    // Another instance: a server object on a storage of its own.
    auto other = std::make_shared<rdmGradeDistribuicao>(OpenStorage(db_.path()));
    const Overlap o = Overlapping("SetGrade", save_a, [&] {
      if (!other_instance) return Outcome("SetGrade", save_b);
      try {
        InProcessTransport(other, "").Call(kServerName, "SetGrade", save_b);
        return std::string("ok");
      } catch (const data::ServerCallError& e) {
        return std::string(e.what());
      }
    });
    EXPECT_EQ("ok", o.first);
    EXPECT_EQ(detail::kItemWeightExceeded, o.second);
    EXPECT_TRUE(o.second_waited);
    const auto load = Rows(
        "SELECT VRPESO FROM CARGAVEICULO WHERE CDVIATURA = 'V2' AND DTENTREGA = '2025-06-10'");
    ASSERT_EQ(1u, load.size());
    EXPECT_EQ(30, std::round(load[0][0].ToDouble()));
    EXPECT_EQ("ok", Outcome("DelGrade", {"0001", a}));
    EXPECT_EQ("ok", Outcome("DelGrade", {"0001", b}));
  }
}

// Two grids carry all that is left of P2/1; dispatched at once, the first
// takes it and the second is refused, never both.
TEST_F(GridClaimsTest, TwoDispatchesOfTheSameItemsTakeTurns) {
  const std::string a = NewGrid(), b = NewGrid();
  ASSERT_EQ("ok", Outcome("SetGrade", Save(a, "P2", "V1", 3)));
  ASSERT_EQ("ok", Outcome("SetGrade", Save(b, "P2", "V2", 3)));
  const Overlap o = Overlapping("ExpedirGrade", {"0001", a, "ANA"}, "ExpedirGrade",
                                {"0001", b, "ANA"});
  EXPECT_EQ("ok", o.first);
  EXPECT_NE(std::string::npos, o.second.find("não pode ser expedida")) << o.second;
  EXPECT_TRUE(o.second_waited);
  const auto item = Rows(
      "SELECT QTDEAEXP, QTEXPITEMPED FROM ITEMPEDIDO WHERE NRPEDIDO = 'P2' AND NRITEMPED = '1'");
  EXPECT_EQ(0, item[0][0].ToDouble());
  EXPECT_EQ(3, item[0][1].ToDouble());
}

// A grid released as idle while its clerk saves into it: the release waits
// for the save, and the save was activity, so the grid stays open.
TEST_F(GridClaimsTest, AnIdleReleaseWaitsForTheGridsWriteAndSeesItsActivity) {
  const std::string a = NewGrid();
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec("UPDATE GRADEDISTR SET DTHRATIVIDADE = '2000-01-01T00:00:00.000' WHERE NRGRADEDISTR = ?",
           {Value(a)});
  });
  const Overlap o = Overlapping("SetGrade", Save(a, "P1", "V1", 1), [&] {
    return std::to_string(ReleaseIdleGrids(*db_.storage(), std::chrono::minutes(60)).size());
  });
  EXPECT_EQ("ok", o.first);
  EXPECT_EQ("0", o.second) << "grids released";
  EXPECT_TRUE(o.second_waited);
  EXPECT_EQ("A", Str(Rows("SELECT IDSITGRADE FROM GRADEDISTR WHERE NRGRADEDISTR = ?",
                          {Value(a)})[0][0]));
  EXPECT_EQ(1, Rows("SELECT SUM(QTTRANSP) FROM ALOCGRADE")[0][0].ToDouble());
}

}  // namespace
}  // namespace dg::server
