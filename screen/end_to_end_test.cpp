// The whole flow against the real in-process application server on a
// temporary SQLite database: launch, panel commit, a manual correction, a
// save, an order allocation and the dispatch; and what the screen shows of
// a vehicle after each clerk action, against what the server answers then.
#ifdef EXP_WITH_APPSERVER

#include <gtest/gtest.h>

#include "appserver/storage.h"
#include "appserver/testing/test_support.h"
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

  // The clerk types the fixture's transporter and leaves the panel, which
  // distributes the items.
  void DistributeForTheTransporter() {
    auto& s = Screen();
    ui::UserType(*s.medCdTransp, "11222333000181");
    ui::UserFocus(*s.medTpTransp);
    ui::UserType(*s.medTpTransp, "1");
    Do([&] { ui::UserFocus(*s.DBGrid1); });
  }

  server::testing::TempDatabase database;
  std::shared_ptr<server::rdmGradeDistribuicao> rdm;
  std::unique_ptr<contracts::SqliteConnection> lookups;
};

TEST_F(EndToEndTest, LaunchCommitCorrectSaveAllocateDispatch) {
  std::string grade;
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form& form) {
    auto& s = Screen();
    DistributeForTheTransporter();
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

// The vehicle context the clerk sees (the item's vehicles with their free
// room, the current vehicle's route, totals, itinerary and inconsistencies,
// the order's vehicles) against what the server answers right after each
// action: a save on the first vehicle and on another one, an item move and
// an order's check box. A context loaded for the wrong vehicle, or left as
// it was before the action, differs.

// The named fields of every row, in the packet's order.
std::string Text(const data::DataPacket& packet, const std::vector<std::string>& fields) {
  std::string out;
  for (const auto& row : packet.rows) {
    for (const std::string& name : fields) {
      const int at = packet.FieldIndex(name);
      out += name + "=" + (at < 0 || row[at].IsEmptyOrNull() ? "-" : row[at].ToString()) + " ";
    }
    out += "\n";
  }
  return out;
}

std::string Text(const data::ClientDataset& dataset, const std::vector<std::string>& fields) {
  return dataset.Active() ? Text(dataset.Data(), fields) : std::string();
}

// The end-to-end screen with the server's answers at hand.
class VehicleContextTest : public EndToEndTest {
 protected:
  data::DataPacket Ask(const char* method, std::vector<Variant> args) {
    return rdm->Call(method, args).AsPacket();
  }

  // Everything the screen shows of the current item and vehicle is what
  // the server answers now.
  void ExpectFresh() {
    auto& s = Screen();
    const std::string grade = stNrGrade;
    const std::string veiculo = s.cdsVeiculo.FieldByName("CDVIATURA").AsString();
    ASSERT_FALSE(veiculo.empty());
    const std::vector<std::string> veiculos = {"CDVIATURA", "QtTranspItGr", "VRPESOUTIL",
                                               "VRVOLUMEUTIL", "IDRETGRADEDISTR"};
    EXPECT_EQ(Text(s.cdsVeiculo, veiculos),
              Text(Ask("GetVeiculo",
                       {Variant(server::testing::kKey), s.cdsExp.FieldByName("DTENTPED").Value(),
                        Variant("0001"), s.cdsExp.FieldByName("NRPEDIDO").Value(),
                        s.cdsExp.FieldByName("NRITEMPED").Value(), Variant(grade)}),
                   veiculos));
    EXPECT_EQ(stVeiculo, veiculo);
    EXPECT_EQ(stGrade, grade);
    const std::vector<Variant> chave = {Variant(grade), Variant(veiculo), Variant("0001")};
    const std::vector<std::string> rota = {"CDVIATURA", "CODIGO", "NRORDENTREGRADE"};
    EXPECT_EQ(Text(s.cdsGradeRota, rota), Text(Ask("GetGradeRota", chave), rota));
    EXPECT_EQ(Text(s.cdsErro, {"CODIGO", "NOME"}), Text(Ask("GetErro", chave), {"CODIGO", "NOME"}));
    EXPECT_EQ(s.sbtInconcistencia->Enabled(), !s.cdsErro.IsEmpty());
    // Totals and itinerary follow the route's first row.
    const std::vector<Variant> trajeto =
        s.cdsGradeRota.IsEmpty()
            ? std::vector<Variant>{Variant(""), Variant(""), Variant("")}
            : std::vector<Variant>{Variant("0001"), Variant(grade), Variant(veiculo)};
    EXPECT_EQ(Text(s.cdsTotal, {"DISTANCIA", "TEMPO"}),
              Text(Ask("GetTotal", trajeto), {"DISTANCIA", "TEMPO"}));
    EXPECT_EQ(Text(s.cdsItinerario, {"CDVIATURA", "DSITINERAGRADE"}),
              Text(Ask("GetItinerario", trajeto), {"CDVIATURA", "DSITINERAGRADE"}));
  }

  // The order tab's vehicles of the current order are the server's.
  void ExpectOrderVehiclesFresh() {
    auto& s = Screen();
    const std::vector<std::string> campos = {"CDVIATURA", "IDMARCADO", "VRPESOUTIL", "VRVOLUMEUTIL",
                                             "QTPEDIDOS"};
    EXPECT_EQ(Text(s.cdscCarrosPedido, campos),
              Text(Ask("GetCarroPedido",
                       {s.cdsGPedido.FieldByName("NRPEDIDO").Value(), Variant("0001"),
                        Variant(s.medCdTransp->Text()), Variant(std::string(stNrGrade))}),
                   campos));
  }

  // The current item's whole quantity onto the vehicle of `row` (the
  // others to 0), then confirmed with `current` the clerk's vehicle row.
  void MoveItemTo(int row, int current) {
    auto& s = Screen();
    const std::string qtde = s.cdsExp.FieldByName("QTDEAEXP").AsString();
    for (int r = 1; r <= s.cdsVeiculo.RecordCount(); ++r) {
      Do([&] { ui::UserClickCell(*s.dbgPadrao, r, "QtTranspItGr"); });
      ASSERT_EQ(ui::UserEditCell(*s.dbgPadrao, r == row ? qtde : "0"), ui::Outcome::Done);
      Do([&] { ui::UserPost(*s.dbgPadrao); });
    }
    Do([&] { ui::UserClickCell(*s.dbgPadrao, current, "QtTranspItGr"); });
    Answers({ui::Answer::Yes});  // the itinerary goes
    Do([&] { ui::UserClick(*s.sbtConfirmar); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(s.cdsVeiculo.RecNo(), current);
  }
};

TEST_F(VehicleContextTest, SavesMovesAndCheckBoxesLeaveNothingStale) {
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form&) {
    auto& s = Screen();
    DistributeForTheTransporter();
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    ASSERT_EQ(s.cdsVeiculo.RecordCount(), 2);  // V1, V2
    ExpectFresh();

    // Saved on V2, the second vehicle: the reload passes over V1 and comes
    // back; what shows is V2's as the save left it (its route has the
    // item's client, its room is less).
    const std::string livre_antes = Text(s.cdsVeiculo, {"CDVIATURA", "VRPESOUTIL"});
    MoveItemTo(2, 2);
    EXPECT_EQ(stVeiculo, "V2");
    EXPECT_TRUE(s.cdsGradeRota.Locate("CODIGO", {Variant("C1")}, false));
    EXPECT_NE(Text(s.cdsVeiculo, {"CDVIATURA", "VRPESOUTIL"}), livre_antes);
    ExpectFresh();
    ExpectOrderVehiclesFresh();

    // V2 shown with a worked-out route; saved again on V2, its totals and
    // itinerary are gone.
    std::vector<Variant> rota = {
        Variant("0001"),   Variant(std::string(stNrGrade)), Variant("V2"), Variant("12,3 km"),
        Variant("45 min"), Variant("Saída: filial"),        Variant("")};
    rdm->Call("SetRotaCalculada", rota);
    Do([&] { ui::UserClickCell(*s.dbgPadrao, 1, "QtTranspItGr"); });
    Do([&] { ui::UserClickCell(*s.dbgPadrao, 2, "QtTranspItGr"); });
    ASSERT_EQ(stVeiculo, "V2");
    ASSERT_FALSE(s.cdsItinerario.IsEmpty());
    ASSERT_FALSE(s.cdsTotal.IsEmpty());
    MoveItemTo(2, 2);
    EXPECT_TRUE(s.cdsItinerario.IsEmpty());
    EXPECT_TRUE(s.cdsTotal.IsEmpty());
    ExpectFresh();

    // Saved on V1, the first vehicle: one move only.
    MoveItemTo(1, 1);
    EXPECT_EQ(stVeiculo, "V1");
    ExpectFresh();

    // Another item: its vehicles and the first vehicle's context.
    Do([&] { ui::UserClickCell(*s.dbgPedExp, 3, std::nullopt); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    ExpectFresh();

    // An order's check box moves the order: the order's vehicles are
    // reloaded at once, the item's when the item tab shows again.
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tbsPedido), ui::Outcome::Done);
    ASSERT_GT(s.cdscCarrosPedido.RecordCount(), 1);
    const std::string marcas = Text(s.cdscCarrosPedido, {"IDMARCADO", "VRPESOUTIL"});
    Do([&] { ui::UserClickCell(*s.DBGrid2, 2, "IDMARCADO"); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    EXPECT_NE(Text(s.cdscCarrosPedido, {"IDMARCADO", "VRPESOUTIL"}), marcas);
    ExpectOrderVehiclesFresh();
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    ExpectFresh();
    Answers({ui::Answer::Yes});
  });
  EXPECT_EQ(failures, std::vector<std::string>{});
}

// Every field of every row, in the packet's order.
std::string AllFields(const data::DataPacket& packet) {
  std::vector<std::string> names;
  for (const data::FieldDef& f : packet.fields) names.push_back(f.name);
  return Text(packet, names);
}

// A save stores exactly what the clerk edited: another connection to the
// same database reads it back, and the item's vehicle list the screen shows
// after the save is, field for field, what a fresh load from that other
// connection answers (also the rows of the vehicles that carry none of the
// item, and after a save that changes nothing).
TEST_F(VehicleContextTest, ASaveIsReadBackByAnotherConnectionAsTheScreenShowsIt) {
  auto other = std::make_shared<server::rdmGradeDistribuicao>(
      server::OpenSqliteStorage(database.path()));
  Launch(FixtureItemRows(server::testing::SmallFixture()), [&](ui::Form&) {
    auto& s = Screen();
    DistributeForTheTransporter();
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    ASSERT_EQ(s.cdsVeiculo.RecordCount(), 2);
    const std::string qtde = s.cdsExp.FieldByName("QTDEAEXP").AsString();
    auto fresh = [&] {
      std::vector<Variant> args = {
          Variant(server::testing::kKey), s.cdsExp.FieldByName("DTENTPED").Value(),
          Variant("0001"),                s.cdsExp.FieldByName("NRPEDIDO").Value(),
          s.cdsExp.FieldByName("NRITEMPED").Value(), Variant(std::string(stNrGrade))};
      return other->Call("GetVeiculo", args).AsPacket();
    };
    auto carried = [&](const data::DataPacket& packet, const std::string& vehicle) {
      const int code = packet.FieldIndex("CDVIATURA"), qt = packet.FieldIndex("QtTranspItGr");
      for (const auto& row : packet.rows) {
        if (row[code].ToString() == vehicle) {
          return row[qt].IsEmptyOrNull() ? std::string("-") : row[qt].ToString();
        }
      }
      return std::string("no row");
    };

    for (const int row : {2, 1, 1}) {  // onto V2, back onto V1, then unchanged
      const std::string quem = row == 1 ? "V1" : "V2", outro = row == 1 ? "V2" : "V1";
      MoveItemTo(row, row);
      const data::DataPacket lido = fresh();
      EXPECT_EQ(carried(lido, quem), qtde) << quem;
      EXPECT_EQ(carried(lido, outro), "-") << outro;
      EXPECT_EQ(AllFields(s.cdsVeiculo.Data()), AllFields(lido)) << quem;
    }
    Answers({ui::Answer::Yes});
  });
  EXPECT_EQ(failures, std::vector<std::string>{});
}

}  // namespace
}  // namespace dg::screen::testing

#endif  // EXP_WITH_APPSERVER
