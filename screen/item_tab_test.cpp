// Item tab: capacity check, return flag, save with its quantity check.
#include <gtest/gtest.h>

#include "contracts/showavi.h"
#include "data/quantity.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;

const std::vector<std::string> kVeiculoFields = {"CDVIATURA",      "DSTIPOVEIC",   "QtTranspItGr",
                                                 "VRPESOUTIL",     "VRVOLUMEUTIL", "NRPEDIDO",
                                                 "IDRETGRADEDISTR"};

ItemRow Item(double qtde, double peso, double volume) {
  return {{"NRPEDIDO", "000123"}, {"NRITEMPED", "1"},       {"CDFILIAL", "0001"},
          {"QTDEAEXP", qtde},     {"VRPESOBRUTPR", peso},   {"VRVOLMED", volume},
          {"IDCHECK", "S"},       {"CDROTAFILIAL", "RF01"}, {"CDPRODUTO", "PRD"}};
}

class ItemTabTest : public ScreenHarness {
 protected:
  ItemTabTest() { Parametros(""); }
  // Vehicles the next loads answer with: one row per {code, quantity}.
  void Veiculos(const std::vector<std::vector<Variant>>& rows) {
    server.Answer("GetVeiculo", Variant(Table(kVeiculoFields, rows)));
  }
  std::string LastDialog() const { return dialogs.Log().empty() ? "" : dialogs.Log().back(); }
};

TEST_F(ItemTabTest, CapacityCheckRoundsToThreeDecimalsStrictlyWeightFirst) {
  struct Row {
    Variant q0;
    double livre_peso, livre_volume, peso, volume, q;
    const char* erro;
  };
  const char* kPeso = "error: Peso suportado pelo veículo é menor que o peso do produto.";
  const char* kVolume = "error: Volume suportado pelo veículo é menor que o volume do produto.";
  for (const Row& row : {
           Row{10.0, 0, 100, 1, 0, 10, ""},
           Row{10.0, 0, 100, 1, 0, 9.5, ""},
           Row{10.0, 0, 100, 1, 0, 10.001, kPeso},
           Row{Variant(), 2.0004, 100, 1, 0, 2.0006, kPeso},
           Row{Variant(), 2.0004, 100, 1, 0, 2.0004, ""},
           Row{Variant(), -1, 100, 1, 0, 0, kPeso},
           Row{Variant(), 100, 0.5, 1, 0.1, 5, ""},
           Row{Variant(), 100, 0.5, 1, 0.1, 6, kVolume},
           Row{Variant(), 1, 0.5, 1, 0.1, 6, kPeso},
           // A minus typed by mistake is refused before any capacity check.
           Row{Variant(), 100, 100, 1, 0.1, -5, "error: A quantidade não pode ser negativa."},
           Row{10.0, 0, 100, 1, 0, -0.000001, ""},
           // Checked and stored at the precision the server stores: typed
           // beyond it, 0,000025 is 0,00003, whose weight no longer fits.
           Row{Variant(), 0.025, 100, 1000, 0, 0.000025, kPeso},
           Row{Variant(), 100, 100, 1, 0, 1.123456789, ""},
       }) {
    SCOPED_TRACE(std::to_string(row.q) + " free " + std::to_string(row.livre_peso));
    Veiculos({{"V1", "Truck", row.q0, row.livre_peso, row.livre_volume, "000123", "T"},
              {"V2", "Van", 0.0, 0.0, 0.0, "000123", ""}});
    dialogs.ClearLog();
    Launch({Item(10, row.peso, row.volume)}, [&](ui::Form&) {
      auto& s = Screen();
      s.pgcPadrao->SetActivePage(s.tshPadrao);
      s.cdsVeiculo.First();
      s.cdsVeiculo.Edit();
      EXPECT_EQ(s.cdsExp.State(), data::DatasetState::Edit);
      EXPECT_EQ(s.cdsVeiculo.FieldByName("IDRETGRADEDISTR").AsString(), "F");
      s.cdsVeiculo.FieldByName("QtTranspItGr").SetAsFloat(row.q);
      Do([&] { s.cdsVeiculo.Post(); });
      EXPECT_EQ(LastDialog(), row.erro);
      if (*row.erro) {
        EXPECT_EQ(s.cdsVeiculo.State(), data::DatasetState::Edit);
        EXPECT_TRUE(s.dbgPadrao->Focused());
        s.cdsVeiculo.Cancel();
      } else {
        EXPECT_EQ(s.cdsVeiculo.FieldByName("CDROTATRANS").AsString(), "RF01");
        EXPECT_EQ(s.cdsVeiculo.FieldByName("NRGRADEDISTR").AsString(), "17");
        EXPECT_EQ(s.cdsVeiculo.FieldByName("CDOPERLANCGRAD").AsString(), "ANA");
        EXPECT_EQ(s.cdsVeiculo.FieldByName("CDPRODUTO").AsString(), "PRD");
        EXPECT_EQ(s.cdsVeiculo.FieldByName("QtTranspItGr").AsFloat(), data::RoundQuantity(row.q));
      }
      Answers({ui::Answer::Yes});
    });
  }
}

TEST_F(ItemTabTest, ReturnFlagTextsAndKeys) {
  Veiculos({{"V1", "Truck", 0.0, 100.0, 100.0, "000123", "T"},
            {"V2", "Van", Variant(), 100.0, 100.0, "000123", ""}});
  Launch({Item(10, 1, 0)}, [&](ui::Form&) {
    auto& s = Screen();
    data::Field& flag = s.cdsVeiculo.FieldByName("IDRETGRADEDISTR");
    EXPECT_EQ(flag.DisplayText(), "Transp.");
    s.cdsVeiculo.Last();
    EXPECT_EQ(flag.DisplayText(), "");
    s.cdsVeiculo.First();
    s.cdsVeiculo.Edit();
    for (auto [texto, esperado] :
         std::vector<std::pair<const char*, const char*>>{{"T", "T"},
                                                          {"filial", "T"},
                                                          {"Filial", "F"},
                                                          {"t", "T"},
                                                          {"x", "T"},
                                                          {"f", "F"},
                                                          {"Transp.", "T"}}) {
      flag.SetText(texto);
      EXPECT_EQ(flag.AsString(), esperado) << texto;
    }
    s.cdsVeiculo.Cancel();

    // Keys in the Retorno column: a quantity of 0 still takes T/F; other
    // keys are swallowed; an empty quantity lets every key through.
    s.pgcPadrao->SetActivePage(s.tshPadrao);
    s.dbgPadrao->SetSelectedField("IDRETGRADEDISTR");
    EXPECT_FALSE(s.dbgPadrao->options.editing);
    char key = 'T';
    s.dbgPadraoKeyPress(*s.dbgPadrao, key);
    EXPECT_EQ(flag.AsString(), "T");
    key = 'x';
    EXPECT_THROW(s.dbgPadraoKeyPress(*s.dbgPadrao, key), Abort);
    s.cdsVeiculo.Cancel();
    s.cdsVeiculo.Last();
    key = 'x';
    EXPECT_NO_THROW(s.dbgPadraoKeyPress(*s.dbgPadrao, key));
    EXPECT_EQ(s.cdsVeiculo.State(), data::DatasetState::Browse);
    Answers({ui::Answer::Yes});
  });
}

TEST_F(ItemTabTest, SaveComparesTheDecimalSumExactly) {
  struct Row {
    double qtde;
    std::vector<double> partes;
    bool salva;
  };
  for (const Row& row :
       {Row{0.3, {0.1, 0.2}, true}, Row{10, {3.333, 3.333, 3.333}, false},
        Row{10, {3.334, 3.333, 3.333}, true}, Row{5, {5, 0, -2}, true}, Row{5, {4.999}, false},
        Row{0, {}, true}, Row{1, {}, false},
        // Five decimals, the precision the server stores: a
        // split it keeps exactly passes, a finer one is
        // judged as the server would store it.
        Row{10, {4.4443, 4.4443, 1.1114}, true}, Row{10, {3.33333, 3.33333, 3.33334}, true},
        Row{10, {3.333333, 3.333333, 3.333334}, false}, Row{1.234567, {0, 1.23457}, true}}) {
    SCOPED_TRACE(row.qtde);
    std::vector<std::vector<Variant>> veiculos;
    for (std::size_t i = 0; i < row.partes.size(); ++i) {
      veiculos.push_back({std::string("V").append(std::to_string(i + 1)), "Truck", row.partes[i],
                          100.0, 100.0, "000123", "F"});
    }
    if (veiculos.empty()) {
      server.Answer("GetVeiculo", Variant(Table({"CDVIATURA"})));
    } else {
      Veiculos(veiculos);
    }
    server.Clear();
    dialogs.ClearLog();
    Launch({Item(row.qtde, 1, 0)}, [&](ui::Form&) {
      auto& s = Screen();
      s.pgcPadrao->SetActivePage(s.tshPadrao);
      if (!s.cdsVeiculo.IsEmpty()) s.cdsVeiculo.Last();
      server.Clear();
      Do([&] { s.Salvar(); });
      EXPECT_EQ(server.CallsOf("SetGrade").size(), row.salva ? 1u : 0u);
      if (row.salva) {
        // The reload moves to the first vehicle and the return to the
        // user's row: the route is loaded once, for the user's vehicle.
        const std::string rota = " GetGradeRota GetTotal GetItinerario GetErro";
        EXPECT_EQ(server.Methods(),
                  "SetGrade GetErro GetVeiculo" + (s.cdsVeiculo.IsEmpty() ? "" : rota));
        // Back on the vehicle the user was on.
        if (!s.cdsVeiculo.IsEmpty()) {
          EXPECT_EQ(s.cdsVeiculo.RecNo(), s.cdsVeiculo.RecordCount());
          const std::string ultimo = "V" + std::to_string(s.cdsVeiculo.RecordCount());
          EXPECT_EQ(server.CallsOf("GetGradeRota"),
                    std::vector<std::string>{"GetGradeRota(&'17', &'" + ultimo + "', &'0001')"});
          EXPECT_EQ(stVeiculo, ultimo);
        }
      } else {
        EXPECT_EQ(dialogs.Log().back(),
                  "error: A quantidade distribuida está diferente da quantidade a ser expedida.");
      }
      EXPECT_FALSE(s.UpdatesLocked());
      EXPECT_FALSE(contracts::Showavi::Showing());
      Answers({ui::Answer::Yes});
    });
  }
}

TEST_F(ItemTabTest, SaveFailureReleasesLockAndAnimation) {
  Veiculos({{"V1", "Truck", 10.0, 100.0, 100.0, "000123", "F"}});
  Launch({Item(10, 1, 0)}, [&](ui::Form&) {
    auto& s = Screen();
    s.pgcPadrao->SetActivePage(s.tshPadrao);
    server.FailOnce("SetGrade", "gravação recusada");
    server.Clear();
    Do([&] { s.Salvar(); });
    EXPECT_EQ(failures, std::vector<std::string>{"gravação recusada"});
    EXPECT_FALSE(s.UpdatesLocked());
    EXPECT_FALSE(contracts::Showavi::Showing());
    EXPECT_TRUE(server.CallsOf("GetErro").empty());
    Answers({ui::Answer::Yes});
  });
}

// A save whose vehicle context fails to load reports the failure; the
// next vehicle move loads its context again, at once.
TEST_F(ItemTabTest, FailedContextLoadOfASaveHoldsNothingBack) {
  Veiculos({{"V1", "Truck", 10.0, 100.0, 100.0, "000123", "F"},
            {"V2", "Van", 0.0, 100.0, 100.0, "000123", "F"}});
  Launch({Item(10, 1, 0)}, [&](ui::Form&) {
    auto& s = Screen();
    s.pgcPadrao->SetActivePage(s.tshPadrao);
    s.cdsVeiculo.Last();
    server.FailOnce("GetGradeRota", "rota indisponível");
    server.Clear();
    Do([&] { s.Salvar(); });
    EXPECT_EQ(failures, std::vector<std::string>{"rota indisponível"});
    EXPECT_EQ(server.Methods(), "SetGrade GetErro GetVeiculo GetGradeRota");
    EXPECT_FALSE(s.UpdatesLocked());
    server.Clear();
    s.cdsVeiculo.First();
    EXPECT_EQ(server.Methods(), "GetGradeRota GetTotal GetItinerario GetErro");
    EXPECT_EQ(stVeiculo, "V1");
    Answers({ui::Answer::Yes});
  });
}

TEST_F(ItemTabTest, TotalsComputedOnceUntilRearmed) {
  server.AnswerOnce("PrxNrGrade", Variant("17"));
  server.Answer("PrxNrGrade", Variant("18"));
  ItemRow x = Item(100, 9, 9);
  x["IDCHECK"] = "X";
  Launch({Item(0.1, 3, 0.5), Item(0.2, 3, 0.5), x}, [&](ui::Form&) {
    auto& s = Screen();
    EXPECT_DOUBLE_EQ(s.nedPesoTotal->Value(), 0.9);
    EXPECT_DOUBLE_EQ(s.nedVolTotal->Value(), 0.15);
    EXPECT_EQ(stNrGrade, "17");
    s.CalculaPeso();
    EXPECT_EQ(stNrGrade, "17");
    boCalculaPeso = true;
    s.CalculaPeso();
    EXPECT_EQ(stNrGrade, "18");
    EXPECT_EQ(s.cdsExp.RecNo(), 1);
    Answers({ui::Answer::Yes});
  });
}

}  // namespace
}  // namespace dg::screen::testing
