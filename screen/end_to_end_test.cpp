// The whole flow against the real in-process application server on a
// temporary SQLite database: launch, panel commit, a manual correction, a
// save, an order allocation and the dispatch.
#ifdef EXP_WITH_APPSERVER

#include <gtest/gtest.h>

#include "appserver/test_support.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "screen/testing/fixture_items.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;

class EndToEndTest : public ScreenHarness {
 protected:
  EndToEndTest() {
    server::LoadFixture(*database.storage(), server::testing::SmallFixture());
    rdm = std::make_shared<server::rdmGradeDistribuicao>(database.storage());
    contracts::TNetConnection::SetTransportFactory([this](const std::string&, int) {
      return std::make_shared<server::InProcessTransport>(rdm);
    });
    lookups = std::make_unique<contracts::SqliteConnection>(database.path());
    contracts::SetDefaultDatabase(lookups.get());
  }
  ~EndToEndTest() override { contracts::SetDefaultDatabase(nullptr); }

  server::testing::TempDatabase database;
  std::shared_ptr<server::rdmGradeDistribuicao> rdm;
  std::unique_ptr<contracts::SqliteConnection> lookups;
};

TEST_F(EndToEndTest, LaunchCommitCorrectSaveAllocateDispatch) {
  std::string grade;
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form& form) {
    auto& s = Screen();
    ui::UserType(*s.medCdTransp, "11222333000181");
    ui::UserFocus(*s.medTpTransp);
    ui::UserType(*s.medTpTransp, "1");
    Do([&] { ui::UserFocus(*s.DBGrid1); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(s.edtNmTransp->Text(), "Rodo");
    ASSERT_FALSE(stNrGrade.empty());
    grade = stNrGrade;
    ASSERT_GT(s.cdsGPedido.RecordCount(), 0);

    // Manual correction on the item tab: the whole quantity on one vehicle.
    Do([&] { ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao); });
    ASSERT_EQ(s.pgcPadrao->ActivePage(), s.tshPadrao);
    ASSERT_GT(s.cdsVeiculo.RecordCount(), 0);
    const double qtde = s.cdsExp.FieldByName("QTDEAEXP").AsFloat();
    const std::string pedido = s.cdsExp.FieldByName("NRPEDIDO").AsString();
    for (s.cdsVeiculo.First(); !s.cdsVeiculo.Eof(); s.cdsVeiculo.Next()) {
      s.cdsVeiculo.Edit();
      s.cdsVeiculo.FieldByName("QtTranspItGr").SetAsFloat(s.cdsVeiculo.RecNo() == 1 ? qtde : 0);
      Do([&] { s.cdsVeiculo.Post(); });
    }
    ASSERT_EQ(failures, std::vector<std::string>{});
    s.cdsVeiculo.First();
    const std::string veiculo = s.cdsVeiculo.FieldByName("CDVIATURA").AsString();
    Do([&] { ui::UserClick(*s.sbtConfirmar); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(s.cdsExp.State(), data::DatasetState::Browse);
    s.cdsVeiculo.Locate("CDVIATURA", {Variant(veiculo)});
    EXPECT_DOUBLE_EQ(s.cdsVeiculo.FieldByName("QtTranspItGr").AsFloat(), qtde);
    ASSERT_EQ(s.cdsExp.FieldByName("NRPEDIDO").AsString(), pedido);

    // Order tab: put the current order on the second vehicle.
    Do([&] { ui::UserSelectTab(*s.pgcPadrao, *s.tbsPedido); });
    ASSERT_GT(s.cdscCarrosPedido.RecordCount(), 1);
    Do([&] { ui::UserClickCell(*s.DBGrid2, 2, "IDMARCADO"); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(s.cdscCarrosPedido.RecNo(), 2);
    EXPECT_EQ(s.cdscCarrosPedido.FieldByName("IDMARCADO").AsString(), "S");

    dialogs.QueueAnswer(ui::Answer::Yes);
    Do([&] { ui::UserClick(*s.sbtExpedir); });
    EXPECT_FALSE(form.IsOpen());
  });
  ASSERT_EQ(failures, std::vector<std::string>{});
  EXPECT_EQ(vars.Print(), "true '" + grade + "' '11222333000181' '0001' '9'");

  // What the server keeps: the grid's orders and the marks of the first one.
  std::vector<Variant> args = {Variant("0001"), Variant(grade)};
  const Variant pedidos = rdm->Call("GetGradeporPedido", args);
  EXPECT_GT(pedidos.AsPacket().RowCount(), 0u);
  const std::string primeiro = server::testing::Column(pedidos, "NRPEDIDO").substr(0, 2);
  std::vector<Variant> carro = {Variant(primeiro), Variant("0001"), Variant("11222333000181"),
                                Variant(grade)};
  EXPECT_NE(server::testing::Column(rdm->Call("GetCarroPedido", carro), "IDMARCADO").find('S'),
            std::string::npos);
}

}  // namespace
}  // namespace dg::screen::testing

#endif  // EXP_WITH_APPSERVER
