// The screen against an exp-appserver process that dies in the middle of a
// write (the save, the panel commit): the clerk sees the failure, what was
// typed stays on the screen, and the same action goes through once the
// server is back.
#ifdef EXP_WITH_APPSERVER

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "screen/testing/fixture_items.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;
using server::testing::ServerProcess;

class ServerFaultTest : public ScreenHarness {
 protected:
  ServerFaultTest() {
    server::LoadFixture(*database.storage(), server::testing::SmallFixture());
    contracts::TNetConnection::SetTransportFactory([this](const std::string&, int) {
      return std::make_shared<server::HttpTransport>("127.0.0.1", port);
    });
    lookups = std::make_unique<contracts::SqliteConnection>(database.path());
    contracts::SetDefaultDatabase(lookups.get());
  }
  ~ServerFaultTest() override { contracts::SetDefaultDatabase(nullptr); }

  // Quantities of the current item per vehicle, as "V1=2 V2=0" (none is 0).
  std::string Typed() {
    std::string out;
    auto& v = Screen().cdsVeiculo;
    for (v.First(); !v.Eof(); v.Next()) {
      out += v.FieldByName("CDVIATURA").AsString() + "=" +
             std::to_string(v.FieldByName("QtTranspItGr").AsFloat()) + " ";
    }
    return out;
  }

  // Allocations the database holds for the grid, as "V1:P1/1=2 ...".
  std::string Stored(const std::string& grid) {
    std::string out;
    database.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
      for (const auto& r : s.Query("SELECT CDVIATURA, NRPEDIDO, NRITEMPED, QTTRANSP FROM "
                                   "ALOCGRADE WHERE NRGRADEDISTR = ? ORDER BY 1, 2, 3",
                                   {server::Value(grid)})) {
        out += server::testing::Str(r[0]) + ":" + server::testing::Str(r[1]) + "/" +
               server::testing::Str(r[2]) + "=" + r[3].ToString() + " ";
      }
    });
    return out;
  }

  // Allocations of every grid.
  std::size_t AllocationCount() {
    std::size_t n = 0;
    database.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
      n = s.Query("SELECT * FROM ALOCGRADE").size();
    });
    return n;
  }

  // The server, pausing `method` in the middle of its write.
  std::unique_ptr<ServerProcess> StartPausing(const std::string& method) {
    auto process =
        std::make_unique<ServerProcess>(database.path(), 0,
                                        std::map<std::string, std::optional<std::string>>{
                                            {"EXP_FAULT_PAUSE", method + ":after-write:600000"}});
    port = process->port();
    return process;
  }
  // Runs the clerk's action while the server is killed as soon as it pauses.
  void KilledDuring(ServerProcess& process, const std::function<void()>& action) {
    std::thread killer([&] {
      if (process.child().WaitForLine("pausing ")) process.child().Kill();
    });
    Do(action);
    killer.join();
  }
  void TypeTransporter() {
    ui::UserType(*Screen().medCdTransp, "11222333000181");
    ui::UserFocus(*Screen().medTpTransp);
    ui::UserType(*Screen().medTpTransp, "1");
  }

  server::testing::TempDatabase database;
  std::unique_ptr<contracts::SqliteConnection> lookups;
  int port = 0;
};

TEST_F(ServerFaultTest, SaveDuringAServerCrashReportsKeepsTheTypedQuantitiesAndSucceedsLater) {
  auto process = StartPausing("SetGrade");
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form&) {
    auto& s = Screen();
    TypeTransporter();
    Do([&] { ui::UserFocus(*s.DBGrid1); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    const std::string grid = stNrGrade;
    ASSERT_FALSE(grid.empty());

    Do([&] { ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao); });
    ASSERT_GT(s.cdsVeiculo.RecordCount(), 1);
    // The whole quantity of the item on the last vehicle.
    const double quantity = s.cdsExp.FieldByName("QTDEAEXP").AsFloat();
    const int last = s.cdsVeiculo.RecordCount();
    for (s.cdsVeiculo.First(); !s.cdsVeiculo.Eof(); s.cdsVeiculo.Next()) {
      s.cdsVeiculo.Edit();
      s.cdsVeiculo.FieldByName("QtTranspItGr")
          .SetAsFloat(s.cdsVeiculo.RecNo() == last ? quantity : 0);
      Do([&] { s.cdsVeiculo.Post(); });
    }
    ASSERT_EQ(failures, std::vector<std::string>{});
    const std::string typed = Typed();
    const std::string before = Stored(grid);

    // The server dies while it saves.
    KilledDuring(*process, [&] { ui::UserClick(*s.sbtConfirmar); });
    ASSERT_EQ(1u, failures.size());
    EXPECT_NE(std::string::npos, failures[0].find("127.0.0.1")) << failures[0];
    EXPECT_EQ(typed, Typed());
    EXPECT_EQ(before, Stored(grid));

    // Back on the same port, the same click saves.
    failures.clear();
    process = std::make_unique<ServerProcess>(database.path(), port);
    Do([&] { ui::UserClick(*s.sbtConfirmar); });
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(typed, Typed());
    EXPECT_NE(before, Stored(grid));
  });
}

TEST_F(ServerFaultTest, PanelCommitDuringAServerCrashReportsKeepsTheTransporterAndSucceedsLater) {
  auto process = StartPausing("DistribuiQuantidades");
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form&) {
    auto& s = Screen();
    TypeTransporter();
    KilledDuring(*process, [&] { ui::UserFocus(*s.DBGrid1); });
    ASSERT_EQ(1u, failures.size());
    EXPECT_NE(std::string::npos, failures[0].find("127.0.0.1")) << failures[0];
    EXPECT_EQ("11222333000181", s.medCdTransp->Text());
    EXPECT_EQ(0u, AllocationCount());

    failures.clear();
    process = std::make_unique<ServerProcess>(database.path(), port);
    Do([&] { ui::UserFocus(*s.medTpTransp); });
    Do([&] { ui::UserFocus(*s.DBGrid1); });
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ("11222333000181", s.medCdTransp->Text());
    EXPECT_FALSE(stNrGrade.empty());
    EXPECT_NE("", Stored(stNrGrade));
    EXPECT_GT(AllocationCount(), 0u);
  });
}

}  // namespace
}  // namespace dg::screen::testing

#endif  // EXP_WITH_APPSERVER
