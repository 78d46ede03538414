// Launch, the two modes, activation, closing and dispatch hand-off.
#include <gtest/gtest.h>

#include "contracts/showavi.h"
#include "data/item_fields.h"
#include "entry/entry.h"
#include "screen/globals.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;
using ui::Answer;

const ItemRow kItem1 = {{"NRPEDIDO", "000123"},
                        {"NRITEMPED", "1"},
                        {"CDFILIAL", "0002"},
                        {"DTENTPED", data::DateTime::FromParts(2024, 5, 1)},
                        {"QTDEAEXP", 10.0},
                        {"VRPESOBRUTPR", 1.5},
                        {"VRVOLMED", 0.25},
                        {"IDCHECK", "S"},
                        {"IDPRIOPED", "1"},
                        {"IDTPIJURTRAN", "J"},
                        {"NRINSJURTRAN", "12345678000190"}};
const ItemRow kItem2 = {{"NRPEDIDO", "000124"}, {"NRITEMPED", "2"},    {"CDFILIAL", "0002"},
                        {"QTDEAEXP", 2.0},      {"VRPESOBRUTPR", 3.0}, {"IDCHECK", "X"},
                        {"IDPRIOPED", "1"}};

using LifecycleTest = ScreenHarness;

TEST_F(LifecycleTest, ModeFromParameterDrivesPanelFilterAndActivationCalls) {
  struct Row {
    const char* modo;
    bool painel;
    const char* filtro;
    const char* methods;
  };
  for (const Row& row : {
           // The item with 'X' shows at load; the focus entering the panel discards.
           Row{"S", true, "IDCHECK = 'X'", "GetParametros GetVeiculo GetParametros DelGrade"},
           Row{"", false, "IDCHECK = 'S'",
               "GetParametros GetVeiculo GetParametros PrxNrGrade GetVeiculo"},
           Row{"Q", false, "IDCHECK = 'S'",
               "GetParametros GetVeiculo GetParametros PrxNrGrade GetVeiculo"},
           Row{"N", false, "IDCHECK = 'S'",
               "GetParametros GetVeiculo GetParametros PrxNrGrade GetVeiculo GetGradeporPedido"},
       }) {
    SCOPED_TRACE(row.modo);
    server.Clear();
    Parametros(row.modo);
    Answers({Answer::Yes});
    Launch({kItem1, kItem2}, [&](ui::Form&) {
      EXPECT_EQ(Screen().panTransp->Visible(), row.painel);
      EXPECT_EQ(Screen().lblTransportadora->Visible(), !row.painel);
      EXPECT_EQ(Screen().cdsExp.Filter(), row.filtro);
      EXPECT_EQ(server.Methods(), row.methods);
      if (row.painel) {
        EXPECT_TRUE(Screen().medCdTransp->Focused());
      }
    });
  }
}

TEST_F(LifecycleTest, CreationUsesPreviousBranchActivationTheLaunchOne) {
  Parametros("");
  Answers({Answer::Yes});
  Launch({kItem1}, [](ui::Form&) {});
  EXPECT_EQ(server.CallsOf("GetParametros"),
            (std::vector<std::string>{"GetParametros(&'')", "GetParametros(&'0002')"}));
  EXPECT_EQ(server.CallsOf("GetVeiculo").front(),
            "GetVeiculo(&'J12345678000190', 2024-05-01, 0002, 000123, 1, &'')");
  EXPECT_FALSE(boIdCriado);
  EXPECT_EQ(frmGradeDistribuicao, nullptr);

  // Second launch in the same module load: a new screen, created with the
  // branch the first launch left; an item without branch takes the host's.
  server.Clear();
  ItemRow sem_filial = kItem1;
  sem_filial.erase("CDFILIAL");
  Answers({Answer::Yes});
  Launch({sem_filial}, [](ui::Form&) {});
  EXPECT_EQ(server.CallsOf("GetParametros"),
            (std::vector<std::string>{"GetParametros(&'0002')", "GetParametros(&'0001')"}));
}

TEST_F(LifecycleTest, CloseAnsweredNoStaysOpenYesDiscardsWithItemBranch) {
  Parametros("");
  server.WriteRef("GetVeiculo", 6, Variant("55"));
  vars.nr_insc = "keep";
  Launch({kItem1}, [&](ui::Form& form) {
    server.Clear();
    Answers({Answer::No});
    ui::UserClose(form);
    EXPECT_TRUE(form.IsOpen());
    EXPECT_EQ(server.Methods(), "");
    EXPECT_EQ(dialogs.Log().back(),
              "question: Ao sair da tela todos os dados informados na grade serão perdidos. "
              "Deseja continuar ? -> no");
    stFilial = "9999";
    Answers({Answer::Yes});
    ui::UserClose(form);
    EXPECT_FALSE(form.IsOpen());
  });
  EXPECT_EQ(server.Calls(), (std::vector<std::string>{"DelGrade(0002, &'55')"}));
  EXPECT_EQ(vars.Print(), "false '' 'keep' '' ''");
  EXPECT_EQ(stNrGrade, "");
}

TEST_F(LifecycleTest, DelGradeFailureKeepsTheScreenOpenAndVariablesUntouched) {
  Parametros("");
  vars.nr_grade = "orig";
  Launch({kItem1}, [&](ui::Form& form) {
    server.FailOnce("DelGrade", "servidor fora");
    Answers({Answer::Yes});
    Do([&] { ui::UserClose(form); });
    EXPECT_TRUE(form.IsOpen());
    EXPECT_EQ(failures, std::vector<std::string>{"servidor fora"});
    EXPECT_FALSE(contracts::Showavi::Showing());
    EXPECT_TRUE(Screen().netGradeDistribuicao.Connected());
  });
  EXPECT_EQ(vars.nr_grade, "");
}

TEST_F(LifecycleTest, DispatchWritesCallerVariablesInBothModesAndClosesWithoutDiscard) {
  struct Row {
    const char* modo;
    int frete;
    const char* esperado;
  };
  for (const Row& row :
       {Row{"", 2, "true '17' '' '' '9'"}, Row{"S", -1, "true '17' '11222333000181' '0001' '9'"},
        Row{"S", 3, "true '17' '11222333000181' '0001' '3'"}}) {
    SCOPED_TRACE(row.modo);
    vars = CallerVars{};
    Parametros(row.modo, "11222333000181", "1");
    server.Clear();
    std::string antes;  // what a check copy of the manifest reads before the dispatch
    Launch({kItem1}, [&](ui::Form& form) {
      auto& s = Screen();
      s.cbbTipoFrete->SetItemIndex(row.frete);
      Variant tipo, frete;
      ASSERT_TRUE(EXP03200_Global("TpTransDespacho", &tipo));
      ASSERT_TRUE(EXP03200_Global("IdFreteDespacho", &frete));
      antes = "'" + tipo.ToString() + "' '" + frete.ToString() + "'";
      server.Clear();
      Answers({Answer::No});
      s.sbtExpedirClick(*s.sbtExpedir);
      EXPECT_TRUE(form.IsOpen());
      EXPECT_FALSE(boExpedir);
      Answers({Answer::Yes});
      s.sbtExpedirClick(*s.sbtExpedir);
      EXPECT_FALSE(form.IsOpen());
    });
    EXPECT_EQ(vars.Print(), row.esperado);
    EXPECT_TRUE(std::string(row.esperado).ends_with(antes)) << antes;
    EXPECT_EQ(server.Methods(), "");
  }
}

TEST_F(LifecycleTest, EveryActivationAppendsThePickListEntriesAgain) {
  Parametros("S");
  Launch({kItem1}, [&](ui::Form& form) {
    form.Activate();
    const auto& coluna = Screen().dbgPadrao->Column(6);
    EXPECT_EQ(coluna.pick_list,
              (std::vector<std::string>{"Filial", "Transp.", "Filial", "Transp."}));
    EXPECT_TRUE(boCalculaPeso);
  });
}

// The datasets define their fields as the packets carry them (fixed-length
// codes included), and the item grid has exactly the options its layout
// lists: no row indicator, no editing.
TEST_F(LifecycleTest, FieldDefinitionsAndItemGridOptionsAreTheLayouts) {
  Parametros("S");
  Launch({kItem1}, [&](ui::Form&) {
    auto& s = Screen();
    std::vector<data::FieldDef> itens;
    for (const auto& f : s.cdsExp.Fields()) {
      if (!f->Calculated()) itens.push_back(f->Def());
    }
    EXPECT_EQ(itens, data::ItemPacketFields());
    const data::Field& marcado = s.cdscCarrosPedido.FieldByName("IDMARCADO");
    EXPECT_EQ(marcado.Def(),
              (data::FieldDef{"IDMARCADO", data::FieldType::String, 1, false, true}));
    EXPECT_EQ(marcado.DisplayName(), "    ");
    const ui::GridOptions& o = s.dbgPedExp->options;
    EXPECT_FALSE(o.indicator);
    EXPECT_FALSE(o.editing);
    EXPECT_FALSE(o.row_select);
    EXPECT_TRUE(o.titles && o.column_resize && o.col_lines && o.row_lines && o.tabs &&
                o.always_show_selection && o.confirm_delete && o.cancel_on_exit);
    Answers({Answer::Yes});
  });
}

TEST_F(LifecycleTest, ModeNLoadsOrdersAndCommitsOnlyWhenOrdersExist) {
  struct Row {
    const char* insc;
    bool pedidos;
    const char* tail;
  };
  for (const Row& row :
       // Loading the orders loads the first order's vehicles; the totals were
       // already computed by this activation, so no new grid number.
       {Row{"", false, "GetGradeporPedido"},
        Row{"", true, "GetGradeporPedido GetCarroPedido DistribuiQuantidades GetGradeporPedido"},
        Row{"11222333000181", true,
            "GetGradeporPedido GetCarroPedido GetCarroPedido DistribuiQuantidades "
            "GetGradeporPedido"}}) {
    SCOPED_TRACE(std::string(row.insc) + (row.pedidos ? " orders" : ""));
    Parametros("N", row.insc, "0001");
    server.Answer("GetGradeporPedido",
                  Variant(row.pedidos ? Table({"NRPEDIDO"}, {{"000123"}}) : Table({"NRPEDIDO"})));
    server.Answer(
        "DistribuiQuantidades",
        Variant(data::VariantArray({Variant(Table({"CDVIATURA"})), Variant(Table({"CODIGO"}))})));
    Launch({kItem1}, [&](ui::Form&) {
      server.Clear();
      Screen().FormActivate(Screen());
      std::string methods = server.Methods();
      // Drop what the activation does before the order tab.
      methods = methods.substr(methods.find("GetGradeporPedido"));
      EXPECT_EQ(methods.substr(0, std::string(row.tail).size()), row.tail);
    });
  }
}

TEST_F(LifecycleTest, LaunchArrayChecks) {
  data::VariantArray curto({Variant(ItemPacket({kItem1})), Variant::RefTo(&vars.opcao)});
  EXPECT_THROW(IniProc(curto), data::VariantIndexError);
  EXPECT_FALSE(boIdCriado);
  EXPECT_TRUE(server.Calls().empty());

  Parametros("");
  data::VariantArray errado({Variant(ItemPacket({kItem1})), Variant("1"),
                             Variant::RefTo(&vars.nr_grade), Variant::RefTo(&vars.nr_insc),
                             Variant::RefTo(&vars.tp_trans), Variant::RefTo(&vars.id_frete)});
  EXPECT_THROW(IniProc(errado), data::VariantConversionError);
  EXPECT_TRUE(boIdCriado);
  EXPECT_FALSE(ui::App().Busy());
  // The next launch shows the same screen without creating it again.
  server.Clear();
  TfrmGradeDistribuicao* antes = frmGradeDistribuicao;
  Launch({kItem1}, [&](ui::Form& form) { EXPECT_EQ(&form, antes); });
  EXPECT_EQ(server.CallsOf("GetParametros").size(), 1u);
}

TEST_F(LifecycleTest, GlobalsByName) {
  stNrGrade = "42";
  boExpedir = true;
  Variant v;
  ASSERT_TRUE(EXP03200_Global("stNrGrade", &v));
  EXPECT_EQ(v, Variant("42"));
  ASSERT_TRUE(EXP03200_Global("boExpedir", &v));
  EXPECT_EQ(v, Variant(true));
  EXPECT_FALSE(EXP03200_Global("PboOpcao", &v));
  EXPECT_EQ(EXP03200_Screen(), nullptr);
}

}  // namespace
}  // namespace dg::screen::testing
