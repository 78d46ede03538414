// Transporter panel: validations, panel commit; order tab commands.
#include <gtest/gtest.h>

#include "contracts/showavi.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;
using ui::Answer;

const ItemRow kSel = {{"NRPEDIDO", "000123"},
                      {"NRITEMPED", "1"},
                      {"CDFILIAL", "0001"},
                      {"QTDEAEXP", 4.0},
                      {"IDCHECK", "S"},
                      {"IDTPIJURTRAN", "J"},
                      {"NRINSJURTRAN", "99888777000166"}};
const ItemRow kOutro = {{"NRPEDIDO", "000200"},
                        {"NRITEMPED", "1"},
                        {"CDFILIAL", "0001"},
                        {"QTDEAEXP", 1.0},
                        {"IDCHECK", "X"}};

class PanelTest : public ScreenHarness {
 protected:
  PanelTest() {
    Parametros("S");
    server.Answer("DistribuiQuantidades",
                  Variant(data::VariantArray(
                      {Variant(Table({"CDVIATURA", "DSTIPOVEIC"}, {{"V1", "Truck"}})),
                       Variant(Table({"CODIGO", "NOME"}, {{"C9", "Sem endereço"}}))})));
    server.Answer("GetGradeporPedido", Variant(Table({"NRPEDIDO"}, {{"000123"}})));
    server.Answer("GetCarroPedido", Variant(Table({"IDMARCADO", "CDVIATURA", "DSTIPOVEIC"},
                                                  {{"N", "V1", "Truck"}, {"S", "V2", "Van"}})));
  }
  // Leaves the panel the way a clerk does: from the transport type to the order grid.
  void SaiDoPainel() {
    Do([&] { ui::UserFocus(*Screen().DBGrid1); });
  }
  // Names a registered transporter and type, then leaves the panel.
  void Commita() {
    ui::UserType(*Screen().medCdTransp, "11222333000181");
    ui::UserFocus(*Screen().medTpTransp);
    ui::UserType(*Screen().medTpTransp, "1");
    SaiDoPainel();
  }
};

TEST_F(PanelTest, ValidationsShowMessagesAndKeepTheFocus) {
  struct Row {
    const char* insc;
    const char* tipo;
    const char* dialogo;
    const char* foco;
    const char* mascara;
  };
  for (const Row& row : {
           Row{"", "", "error: Transportadora deve ser informada.", "medCdTransp", ""},
           Row{"11222333000199", "", "error: Transportadora não cadastrada.", "medCdTransp",
               "99.999.999/9999-99;0; "},
           Row{"11222333000181", "", "error: Tipo de transporte deve ser informado.", "medTpTransp",
               "99.999.999/9999-99;0; "},
           Row{"11222333000181", "7", "error: Tipo de trasnporte não cadastrado.", "medTpTransp",
               "99.999.999/9999-99;0; "},
           Row{"12345678909", "2", "", "DBGrid1", "999.999.999-99;0; "},
       }) {
    SCOPED_TRACE(row.insc);
    dialogs.ClearLog();
    failures.clear();
    Launch({kSel, kOutro}, [&](ui::Form& form) {
      auto& s = Screen();
      ui::UserType(*s.medCdTransp, row.insc);
      if (*row.insc) {
        EXPECT_EQ(s.cbbTipoFrete->ItemIndex(), 5);
      }
      Do([&] { ui::UserFocus(*s.medTpTransp); });
      if (form.ActiveControl() == s.medTpTransp) {
        ui::UserType(*s.medTpTransp, row.tipo);
        SaiDoPainel();
      }
      EXPECT_EQ(dialogs.Log().empty() ? "" : dialogs.Log().back(), row.dialogo);
      EXPECT_EQ(form.ActiveControl()->Name(), row.foco);
      EXPECT_EQ(s.medCdTransp->EditMask(), row.mascara);
      if (!*row.dialogo) {
        EXPECT_EQ(s.edtNmTransp->Text(), "João Fretes");
        EXPECT_EQ(s.medTpTransp->Text(), "0002");
        EXPECT_EQ(s.edtTpTransp->Text(), "Fluvial");
        // Entering the inscription again removes the mask.
        ui::UserFocus(*s.medCdTransp);
        EXPECT_EQ(s.medCdTransp->EditMask(), "");
        EXPECT_EQ(s.medTpTransp->Text(), "0002");
      }
      Answers({Answer::Yes});
    });
  }
}

// The clerk types the inscription as the documents print it: punctuation on
// the mask's literals is taken as them and a leading blank is refused, so
// the transporter is found; entering and leaving again changes nothing.
TEST_F(PanelTest, PunctuatedInscriptionsAreTakenAsTheMaskTakesThem) {
  struct Row {
    const char* typed;
    const char* shown;
    const char* key;
    const char* name;
  };
  for (const Row& row : {
           Row{"11.222.333/0001-81", "11.222.333/0001-81", "J11222333000181", "Rápido Sul"},
           Row{" 11.222.333/0001-81", "11.222.333/0001-81", "J11222333000181", "Rápido Sul"},
           Row{"123.456.789-09", "123.456.789-09", "F12345678909", "João Fretes"},
           Row{" 123.456.789-09 ", "123.456.789-09", "F12345678909", "João Fretes"},
       }) {
    SCOPED_TRACE(row.typed);
    dialogs.ClearLog();
    failures.clear();
    Launch({kSel, kOutro}, [&](ui::Form&) {
      auto& s = Screen();
      const auto taken = [&] {
        EXPECT_EQ(dialogs.Log(), std::vector<std::string>{});
        EXPECT_EQ(s.medCdTransp->DisplayText(), row.shown);
        EXPECT_EQ(s.ChaveTransportadora(), row.key);
        EXPECT_EQ(s.edtNmTransp->Text(), row.name);
      };
      ui::UserType(*s.medCdTransp, row.typed);
      Do([&] { ui::UserFocus(*s.medTpTransp); });
      taken();
      ui::UserType(*s.medTpTransp, "1");
      // Back in the field the clerk sees the bare digits; leaving again
      // keeps the person type and finds the same transporter.
      Do([&] { ui::UserFocus(*s.medCdTransp); });
      EXPECT_EQ(s.medCdTransp->DisplayText(), std::string(row.key).substr(1));
      Do([&] { ui::UserFocus(*s.medTpTransp); });
      taken();
      EXPECT_EQ(failures, std::vector<std::string>{});
      Answers({Answer::Yes});
    });
  }
}

TEST_F(PanelTest, CommitSendsWholePacketWithFilterAndShowsOrders) {
  Launch({kSel, kOutro}, [&](ui::Form& form) {
    auto& s = Screen();
    EXPECT_EQ(s.cdsExp.Filter(), "IDCHECK = 'X'");
    EXPECT_FALSE(s.tshRota->Enabled());
    ui::UserType(*s.medCdTransp, "11222333000181");
    ui::UserFocus(*s.medTpTransp);
    ui::UserType(*s.medTpTransp, "1");
    server.Clear();
    SaiDoPainel();
    EXPECT_EQ(failures, std::vector<std::string>{});
    EXPECT_EQ(server.Calls(),
              (std::vector<std::string>{
                  "PrxNrGrade(0001)",
                  "DistribuiQuantidades(packet(2), IDCHECK = 'S', &'J11222333000181', &'17', ANA, "
                  "&'0001')",
                  // Loading the vehicles loads the first vehicle's route.
                  "GetGradeRota(&'17', &'V1', &'0001')", "GetTotal('', '', '')",
                  "GetItinerario('', '', '')", "GetErro(&'17', &'V1', &'0001')",
                  "GetGradeporPedido(&'0001', &'17')",
                  "GetCarroPedido(000123, &'0001', 11222333000181, &'17')"}));
    EXPECT_EQ(s.cdsVeiculo.RecordCount(), 1);
    EXPECT_TRUE(s.sbtInconcistencia->Enabled());
    EXPECT_EQ(s.Edit1->Text(), "Truck");
    EXPECT_EQ(s.pgcPadrao->ActivePage(), s.tbsPedido);
    // Pending inconsistencies keep the route tab off.
    EXPECT_FALSE(s.tshRota->Enabled());
    EXPECT_FALSE(contracts::Showavi::Showing());

    // Entering the panel again discards the grid under its number.
    server.Clear();
    ui::UserFocus(*s.medCdTransp);
    EXPECT_EQ(server.Calls(), std::vector<std::string>{"DelGrade(0001, &'17')"});
    EXPECT_FALSE(s.cdsVeiculo.Active());
    EXPECT_FALSE(s.tshRota->Enabled());
    EXPECT_TRUE(boCalculaPeso);
    Answers({Answer::Yes});
  });
}

// An activation puts the focus in the panel with the item list empty (its
// filter shows no item): the grid is discarded under the branch the
// distribution returned, not under an empty one the server knows no grid
// of (the grid would stay open, holding its vehicles, and the next
// distribution find them full). Closing from there does the same.
TEST_F(PanelTest, AGridIsDiscardedUnderItsBranchWithNoItemShown) {
  Launch({kSel}, [&](ui::Form& form) {
    auto& s = Screen();
    Commita();
    ASSERT_FALSE(s.cdsVeiculo.IsEmpty());
    server.Clear();
    form.Activate();
    EXPECT_EQ(s.cdsExp.RecordCount(), 0);
    std::vector<std::string> discards;
    for (const std::string& call : server.Calls()) {
      if (call.rfind("DelGrade", 0) == 0) discards.push_back(call);
    }
    EXPECT_EQ(discards, std::vector<std::string>{"DelGrade(0001, &'17')"});
    Answers({Answer::Yes});
  });
}

TEST_F(PanelTest, ServerMessageKeyShownOtherFailuresPassed) {
  struct Row {
    const char* falha;
    const char* dialogo;
    const char* relatado;
  };
  for (const Row& row :
       {Row{"@QT_EXCEDE",
            "error: A quantidade dos produtos excede a capacidade dos veículos disponíveis. Não "
            "foi possível distribuir os produtos nos veículos.",
            nullptr},
        Row{"QT_EXCEDE", nullptr, "QT_EXCEDE"}}) {
    SCOPED_TRACE(row.falha);
    dialogs.ClearLog();
    failures.clear();
    Launch({kSel}, [&](ui::Form&) {
      auto& s = Screen();
      ui::UserType(*s.medCdTransp, "11222333000181");
      ui::UserFocus(*s.medTpTransp);
      ui::UserType(*s.medTpTransp, "1");
      s.Edit1->SetText("antes");
      server.Clear();
      server.FailOnce("DistribuiQuantidades", row.falha);
      SaiDoPainel();
      if (row.dialogo) {
        EXPECT_EQ(dialogs.Log().back(), row.dialogo);
      }
      EXPECT_EQ(failures.size(), row.relatado ? 1u : 0u);
      EXPECT_EQ(server.Methods(), "PrxNrGrade DistribuiQuantidades");
      EXPECT_EQ(s.Edit1->Text(), "antes");
      EXPECT_FALSE(contracts::Showavi::Showing());
      Answers({Answer::Yes});
    });
  }
}

TEST_F(PanelTest, OrderTabClickAllocatesAndReturnsToTheClickedVehicle) {
  Launch({kSel}, [&](ui::Form&) {
    auto& s = Screen();
    Commita();
    // The server lists the vehicles in another order after the click.
    server.AnswerOnce("GetCarroPedido", Variant(Table({"IDMARCADO", "CDVIATURA", "DSTIPOVEIC"},
                                                      {{"N", "V2", "Van"}, {"S", "V1", "Truck"}})));
    server.Clear();
    ui::UserClickCell(*s.DBGrid2, 1, "IDMARCADO");
    EXPECT_EQ(server.Calls(),
              (std::vector<std::string>{"SetPedidoCarro(000123, &'0001', V1, &'17')",
                                        "GetCarroPedido(000123, &'0001', 11222333000181, &'17')"}));
    EXPECT_EQ(s.cdscCarrosPedido.FieldByName("CDVIATURA").AsString(), "V1");
    EXPECT_EQ(s.cdscCarrosPedido.FieldByName("IDMARCADO").AsString(), "S");
    EXPECT_EQ(s.Edit1->Text(), "Truck");
    EXPECT_FALSE(s.UpdatesLocked());

    // Drawing: ticked box, empty box, left-aligned on the cell.
    ui::RecordingCanvas canvas;
    s.DBGrid2->PaintCell(canvas, ui::Rect{0, 0, 24, 18}, 2, 0, ui::DrawState{});
    EXPECT_NE(canvas.Joined().find("copy check 1,0,17,18 <- 0,0,16,18"), std::string::npos)
        << canvas.Joined();

    // Allocate all: No sends nothing; Yes sends the current vehicle.
    server.Clear();
    Answers({Answer::No});
    s.SpeedButton1Click(*s.SpeedButton1);
    EXPECT_EQ(server.Methods(), "");
    Answers({Answer::Yes});
    s.SpeedButton1Click(*s.SpeedButton1);
    EXPECT_EQ(server.Calls(),
              (std::vector<std::string>{"SetPedidos(&'0001', V1, &'17')",
                                        "GetCarroPedido(000123, &'0001', 11222333000181, &'17')"}));
    EXPECT_EQ(dialogs.Log().back(),
              "info: Todos os Pedidos foram alocados no veiculo com sucesso!");
    Answers({Answer::Yes});
  });
}

TEST_F(PanelTest, PageSwitchToItemTabSendsThePanelTransporter) {
  Launch({kSel}, [&](ui::Form&) {
    auto& s = Screen();
    Commita();
    server.Clear();
    ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao);
    ui::UserSelectTab(*s.pgcPadrao, *s.tbsPedido);
    ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao);
    EXPECT_EQ(server.CallsOf("GetVeiculo"),
              (std::vector<std::string>(
                  2, "GetVeiculo(&'J11222333000181', '', 0001, 000123, 1, &'17')")));
    EXPECT_FALSE(s.sbtGeraMapa->Enabled());
    Answers({Answer::Yes});
  });
}

}  // namespace
}  // namespace dg::screen::testing
