#include "bench/load_checks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/transport.h"
#include "bench/clerk_actions.h"
#include "bench/day_generator.h"
#include "bench/scratch_database.h"

namespace dg::bench {
namespace {

using data::Variant;
using server::Value;

// A generated day distributed on one grid, with a few writes answered on it.
class LoadChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    server::LoadFixture(*db_.storage(), Fixture(Generate(40)));
    auto object = std::make_shared<server::rdmGradeDistribuicao>(db_.storage());
    clerk_ = std::make_unique<server::InProcessTransport>(object, "ANA");
    const Variant items = Call("GetItensExpedicao", {"0001"}).result;
    const std::string transporter = Fixture(Generate(40))["TRANSPORT"][0]["NRINSJURTRAN"];
    grid_ =
        Call("DistribuiQuantidades", {items, "IDCHECK = 'S'", "J" + transporter, "", "ANA", "0001"})
            .args[3]
            .ToString();
    carried_ = CarriedBy(*db_.storage(), grid_);
    ASSERT_FALSE(carried_.empty());
    const Carried& c = carried_.front();
    // The order off its vehicle and back, and a stop numbered.
    Call("SetPedidoCarro", {c.order, "0001", c.vehicle, grid_});
    Call("SetPedidoCarro", {c.order, "0001", c.vehicle, grid_});
    Call("SetGradeRota", {"1", c.order, c.vehicle, "0001", grid_, c.item, "A", "I"});
    writes_[grid_].answered = {{"SetPedidoCarro", 2}, {"SetGradeRota", 1}};
  }

  data::CallReply Call(const char* method, std::vector<Variant> args) {
    return clerk_->Call(server::kServerName, method, args);
  }
  void Exec(const std::string& sql, const std::vector<Value>& params = {}) {
    db_.storage()->Transact(server::TxKind::Write,
                            [&](server::Session& s) { s.Exec(sql, params); });
  }
  std::vector<std::string> Problems() { return CheckNothingLost(*db_.storage(), writes_); }

  ScratchDatabase db_{false, "exp_load_checks"};
  std::unique_ptr<server::InProcessTransport> clerk_;
  std::string grid_;
  std::vector<Carried> carried_;
  std::map<std::string, GridWrites> writes_;
};

// Matches when one of the problems holds `part`.
::testing::AssertionResult Names(const std::vector<std::string>& problems,
                                 const std::string& part) {
  for (const std::string& p : problems) {
    if (p.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  }
  std::string all;
  for (const std::string& p : problems) all += "\n  " + p;
  return ::testing::AssertionFailure() << "no problem names \"" << part << "\":" << all;
}

TEST_F(LoadChecks, HoldAfterAnsweredWrites) { EXPECT_EQ(std::vector<std::string>{}, Problems()); }

TEST_F(LoadChecks, FindAWriteStoredTwiceOrLost) {
  // The journal row of a write that ran twice (a call sent again after
  // its answer was lost).
  Exec(
      "INSERT INTO GRADELOG (DTHRLOG, CDOPERADOR, NMMETODO, CDFILIAL, NRGRADEDISTR) VALUES "
      "('2025-06-10T10:00:00', 'ANA', 'SetGradeRota', '0001', ?)",
      {Value(grid_)});
  EXPECT_TRUE(Names(Problems(), "1 SetGradeRota answered (and 0 unanswered), 2 stored"));
  // A call that failed on the way may have been stored: no breach.
  writes_[grid_].unanswered["SetGradeRota"] = 1;
  EXPECT_EQ(std::vector<std::string>{}, Problems());
  // An answered write that is not there.
  writes_[grid_].answered["SetGrade"] = 1;
  EXPECT_TRUE(Names(Problems(), "1 SetGrade answered, 0 stored (a write lost)"));
}

TEST_F(LoadChecks, FindAVehicleOverItsRoomAndAnItemCarriedTwice) {
  const Carried& c = carried_.front();
  Exec("UPDATE VEICULO SET QTCAPACIVIAT = 0.001 WHERE CDVIATURA = ?", {Value(c.vehicle)});
  // Once per day the vehicle carries something, and nothing else.
  std::vector<std::string> problems = Problems();
  ASSERT_FALSE(problems.empty());
  for (const std::string& p : problems) {
    EXPECT_EQ(0u, p.find("vehicle " + c.vehicle + " on ")) << p;
  }

  // The item's quantity on its vehicle written twice over.
  Exec("UPDATE VEICULO SET QTCAPACIVIAT = 1000000, VRVOLUMEVIAT = 1000000");
  Exec(
      "UPDATE ALOCGRADE SET QTTRANSP = 2 * QTTRANSP WHERE NRGRADEDISTR = ? AND NRPEDIDO = ? AND "
      "NRITEMPED = ? AND CDVIATURA = ?",
      {Value(grid_), Value(c.order), Value(c.item), Value(c.vehicle)});
  problems = Problems();
  ASSERT_EQ(1u, problems.size());
  EXPECT_TRUE(Names(problems, "grid " + grid_ + " carries"));
  EXPECT_TRUE(Names(problems, "of item " + c.order + " / " + c.item));
}

}  // namespace
}  // namespace dg::bench
