// Route tab: delivery order check and write, itinerary deletion, route
// texts and the hand-over to the map module.
#include <gtest/gtest.h>

#include "contracts/showavi.h"
#include "screen/globals.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;
using ui::Answer;

const ItemRow kItem = {{"NRPEDIDO", "000123"},
                       {"NRITEMPED", "1"},
                       {"CDFILIAL", "0001"},
                       {"QTDEAEXP", 10.0},
                       {"IDCHECK", "S"},
                       {"IDTPIJURTRAN", "J"},
                       {"NRINSJURTRAN", "11222333000181"}};

// The modules the screen loaded, each with its array as received.
struct Load {
  std::string module;
  std::string api;  // the text element 0 points to
  std::vector<Variant> args;
};

class RouteTabTest : public ScreenHarness {
 protected:
  RouteTabTest() {
    Parametros("");
    Veiculo("");
    server.Answer("GetEndeFilialProc",
                  Variant(Table({"NRCEPFILI", "ENDERECO"}, {{"13000", "AV. FILIAL, 1"}})));
    server.Answer("GetRetTransp", Variant(Table({"ENDERECO"}, {{"GARAGEM"}})));
    host.loader = [this](const std::string& module, const data::VariantArray& args) {
      const std::int64_t* address = args[0].IfInt();
      loads.push_back({module,
                       address != nullptr && *address != 0
                           ? std::string(reinterpret_cast<const char*>(*address))
                           : std::string(),
                       args.Items()});
    };
  }
  void Veiculo(const char* retorno) {
    server.Answer("GetVeiculo",
                  Variant(Table({"CDVIATURA", "DSTIPOVEIC", "QtTranspItGr", "IDRETGRADEDISTR"},
                                {{"V1", "Truck", 10.0, retorno}})));
  }
  // A route of `n` stops "RUA SÃO k", ordered k when `ordens`.
  static Variant Rota(int n, bool ordens = true, const std::string& primeira = "") {
    std::vector<std::vector<Variant>> rows;
    for (int k = 1; k <= n; ++k) {
      const std::string ordem = k == 1 && !primeira.empty() ? primeira
                                : ordens                    ? std::to_string(k)
                                                            : std::string();
      rows.push_back({"17", "0001", ordem.empty() ? Variant::Null() : Variant(ordem),
                      "C" + std::to_string(k), "C" + std::to_string(k),
                      "Cliente " + std::to_string(k), "V1", "RUA SÃO " + std::to_string(k),
                      "13000"});
    }
    return Variant(Table({"NRGRADEDISTR", "CDFILIAL", "NRORDENTREGRADE", "CODIGO", "CDCLIENTE",
                          "NOME", "CDVIATURA", "ENDERECO", "CEP"},
                         rows));
  }
  // Launches and runs `session` on the route tab with the route loaded.
  void NaRota(const std::function<void(TfrmGradeDistribuicao&)>& session) {
    Launch({kItem}, [&](ui::Form&) {
      auto& s = Screen();
      s.pgcPadrao->SetActivePage(s.tshRota);
      s.pgcPadraoChange(*s.pgcPadrao);
      server.Clear();
      dialogs.ClearLog();
      session(s);
      Answers({Answer::Yes});
    });
  }
  // Each route text field as "count:first piece..last piece", "" when empty.
  static std::string Textos(data::ClientDataset& ds) {
    std::string out;
    for (const char* f : {"STROTA1", "STROTA2", "STROTA3", "STROTA4", "STROTA5"}) {
      const std::string t = ds.FieldByName(f).AsString();
      std::size_t count = 0;
      for (auto at = t.find(" to: "); at != std::string::npos; at = t.find(" to: ", at + 1))
        ++count;
      const auto cut = t.find(" to: ");
      const auto last = t.rfind(" to: ");
      out += std::string(out.empty() ? "" : " | ") +
             (t.empty() ? ""
                        : std::to_string(count) + ":" + t.substr(0, cut) + ".." +
                              (last == std::string::npos ? "" : t.substr(last + 5)));
    }
    return out;
  }
  std::vector<Load> loads;
};

TEST_F(RouteTabTest, RouteTextsSplitByTwentyWithReturnLegAndSwappedThirdAndFourth) {
  struct Row {
    int n;
    const char* retorno;
    const char* textos;
  };
  for (const Row& row : {
           Row{20, "", "20:from: av filial  1..rua sao 20 |  |  |  | "},
           Row{21, "F",
               "21:from: av filial  1..av filial  1 | 1:to: rua sao 20..rua sao 21 |  |  | "},
           Row{45, "T",
               "21:from: av filial  1..garagem | 20:to: rua sao 20..rua sao 40 |  | "
               "5:to: rua sao 40..rua sao 45 | "},
           Row{100, "X",
               "20:from: av filial  1..rua sao 20 | 20:to: rua sao 20..rua sao 40 | "
               "20:to: rua sao 60..rua sao 80 | 20:to: rua sao 40..rua sao 60 | "
               "20:to: rua sao 80..rua sao 100"},
       }) {
    SCOPED_TRACE(row.n);
    Veiculo(row.retorno);
    server.Answer("GetGradeRota", Rota(row.n));
    loads.clear();
    NaRota([&](TfrmGradeDistribuicao& s) {
      Do([&] { ui::UserClick(*s.sbtGeraMapa); });
      EXPECT_EQ(failures, std::vector<std::string>{});
      EXPECT_EQ(Textos(s.cdsPacteRotas), row.textos);
      EXPECT_EQ(server.CallsOf("GetRetTransp"),
                std::string(row.retorno) == "T"
                    ? std::vector<std::string>{"GetRetTransp(11222333000181)"}
                    : std::vector<std::string>{});
      EXPECT_EQ(server.Methods(), std::string("GetParametros GetEndeFilialProc GetGradeRota ") +
                                      (std::string(row.retorno) == "T" ? "GetRetTransp " : "") +
                                      "GetTotal GetItinerario GetPontosRota");
      EXPECT_EQ(server.CallsOf("GetTotal").back(), "GetTotal(0001, 17, V1)");
      EXPECT_FALSE(contracts::Showavi::Showing());
    });
    EXPECT_EQ(loads.size(), 1u);
  }
}

TEST_F(RouteTabTest, EachRunAddsARecordAndHandsOverFiveValues) {
  server.Answer("GetParametros",
                Variant(Table({"API", "IDEXITRANSPDIST", "NRINSJURTRAN", "CDTIPTRANS"},
                              {{"http://127.0.0.1:5000", "", "", ""}})));
  server.Answer("GetGradeRota", Rota(3));
  NaRota([&](TfrmGradeDistribuicao& s) {
    Do([&] { ui::UserClick(*s.sbtGeraMapa); });
    server.Answer("GetGradeRota", Rota(2));
    Do([&] { ui::UserClick(*s.sbtGeraMapa); });
    EXPECT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(loads.size(), 2u);
    const Load& last = loads.back();
    EXPECT_EQ(last.module, "EXP03400");
    ASSERT_EQ(last.args.size(), 5u);
    EXPECT_EQ(last.api, "http://127.0.0.1:5000");
    EXPECT_EQ(last.args[1], Variant("G"));
    // The walk for empty orders leaves the route on its last row.
    EXPECT_EQ(last.args[2], Variant("C3"));
    EXPECT_EQ(last.args[3].AsPacket().rows.size(), 3u);
    // Newest first: the second run's texts (two stops) come before the first's.
    const data::DataPacket& textos = last.args[4].AsPacket();
    ASSERT_EQ(textos.rows.size(), 2u);
    EXPECT_EQ(textos.rows[0][0], Variant("from: av filial  1 to: rua sao 1 to: rua sao 2"));
    EXPECT_EQ(textos.rows[1][0],
              Variant("from: av filial  1 to: rua sao 1 to: rua sao 2 to: rua sao 3"));
    EXPECT_EQ(s.cdsPacteRotas.RecordCount(), 2);
  });
}

TEST_F(RouteTabTest, EmptyApiHandsOverZeroAndAStopWithoutOrderStopsTheCommand) {
  server.Answer("GetParametros",
                Variant(Table({"API", "IDEXITRANSPDIST"}, {{Variant::Null(), ""}})));
  server.Answer("GetGradeRota", Rota(2));
  NaRota([&](TfrmGradeDistribuicao& s) {
    Do([&] { ui::UserClick(*s.sbtGeraMapa); });
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].args[0], Variant(std::int64_t{0}));
  });
  loads.clear();
  server.Answer("GetGradeRota", Rota(3, true, " "));
  NaRota([&](TfrmGradeDistribuicao& s) {
    s.cdsGradeRota.Last();
    Do([&] { ui::UserClick(*s.sbtGeraMapa); });
    EXPECT_EQ(dialogs.Log(),
              std::vector<std::string>{"error: Ordem de entrega deve ser informada."});
    EXPECT_EQ(server.Methods(), "");
    EXPECT_EQ(s.cdsGradeRota.RecNo(), 1);
    EXPECT_EQ(s.dbgGradeRota->SelectedField()->FieldName(), "NRORDENTREGRADE");
    EXPECT_FALSE(s.UpdatesLocked());
    EXPECT_FALSE(s.cdsPacteRotas.Active());
  });
  EXPECT_TRUE(loads.empty());
}

TEST_F(RouteTabTest, OrderPostChecksWritesPerItemAndReloads) {
  const Variant kUsada = Variant(Table({"CODIGO"}, {{"C9"}}));
  const Variant kLivre = Variant(Table({"CODIGO"}));
  struct Row {
    const char* anterior;  // order the first stop had
    const char* digitada;
    Variant vd_ordem;
    const char* dialogo;
    std::vector<std::string> gravacoes;
  };
  for (const Row& row : {
           Row{"", " ", kLivre, "error: Ordem deve ser informada.", {}},
           // The cell takes typing through the field's mask "!999;1; ":
           // letters are refused, a fourth digit is not taken.
           Row{"",
               "1234",
               kLivre,
               "",
               {"SetGradeRota(123, P1, V1, 0001, &'17', 1, A, &'I')",
                "SetGradeRota(123, P1, V1, 0001, &'17', 2, B, &'I')"}},
           Row{"",
               "1A2",
               kLivre,
               "",
               {"SetGradeRota(012, P1, V1, 0001, &'17', 1, A, &'I')",
                "SetGradeRota(012, P1, V1, 0001, &'17', 2, B, &'I')"}},
           Row{"", "2", kUsada, "error: Ordem já cadastrada.", {}},
           // Re-posting the row's own order passes although the server finds
           // it; nothing changed, so nothing is written, the route reloads.
           Row{"002", "2", kUsada, "", {}},
           Row{"002",
               "4",
               kLivre,
               "",
               {"SetGradeRota(004, P1, V1, 0001, &'17', 1, A, &'E')",
                "SetGradeRota(004, P1, V1, 0001, &'17', 2, B, &'E')"}},
           Row{"",
               "7",
               kLivre,
               "",
               {"SetGradeRota(007, P1, V1, 0001, &'17', 1, A, &'I')",
                "SetGradeRota(007, P1, V1, 0001, &'17', 2, B, &'I')"}},
       }) {
    SCOPED_TRACE(std::string(row.anterior) + "->" + row.digitada);
    server.Answer("GetGradeRota", Rota(3, false, row.anterior));
    server.Answer("GetVdOrdem", row.vd_ordem);
    server.Answer("GetItemGrade", Variant(Table({"NRPEDIDO", "NRITEMPED", "CDPRODUTO"},
                                                {{"P1", "1", "A"}, {"P1", "2", "B"}})));
    server.WriteRef("SetGradeRota", 5, Variant("17"));
    stNrGrade = "17";
    NaRota([&](TfrmGradeDistribuicao& s) {
      s.cdsGradeRota.Last();
      s.cdsGradeRota.First();
      ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, 1, "NRORDENTREGRADE"), ui::Outcome::Done);
      ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, row.digitada), ui::Outcome::Done);
      Do([&] { ui::UserPost(*s.dbgGradeRota); });
      EXPECT_EQ(server.CallsOf("SetGradeRota"), row.gravacoes);
      if (*row.dialogo != '\0') {
        EXPECT_EQ(dialogs.Log(), std::vector<std::string>{row.dialogo});
        EXPECT_EQ(s.cdsGradeRota.State(), data::DatasetState::Edit);
        EXPECT_TRUE(s.dbgGradeRota->Focused());
        s.cdsGradeRota.Cancel();
      } else {
        EXPECT_EQ(dialogs.Log(), std::vector<std::string>{});
        if (row.gravacoes.empty()) {
          EXPECT_EQ(server.Methods(), "GetVdOrdem GetGradeRota GetPontosRota");
        } else {
          EXPECT_EQ(server.Methods(),
                    "GetVdOrdem GetItemGrade SetGradeRota SetGradeRota GetGradeRota "
                    "GetPontosRota");
          EXPECT_EQ(server.CallsOf("GetItemGrade").back(),
                    "GetItemGrade(&'0001', &'17', &'V1', C1)");
        }
        EXPECT_EQ(s.cdsGradeRota.State(), data::DatasetState::Browse);
        EXPECT_EQ(s.cdsGradeRota.RecNo(), 1);
        EXPECT_EQ(s.cdsGradeRota.ChangeCount(), 0);
        EXPECT_FALSE(s.UpdatesLocked());
      }
    });
  }
  // Letters only: the mask takes none of them, so the cell is left as it
  // was, as its editor in the window leaves it; posting then asks and
  // writes nothing.
  server.Answer("GetGradeRota", Rota(3, false, ""));
  NaRota([&](TfrmGradeDistribuicao& s) {
    ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, 1, "NRORDENTREGRADE"), ui::Outcome::Done);
    ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, "AB"), ui::Outcome::Done);
    EXPECT_EQ(s.cdsGradeRota.State(), data::DatasetState::Browse);
    Do([&] { ui::UserPost(*s.dbgGradeRota); });
    EXPECT_EQ(dialogs.Log(), std::vector<std::string>{});
    EXPECT_EQ(server.Methods(), "");
  });
}

TEST_F(RouteTabTest, ChangingAnOrderAsksBeforeDeletingTheItineraryRowByRow) {
  const Variant itinerario = Variant(Table({"NRGRADEDISTR", "CDFILIAL", "NRPEDIDO", "CDVIATURA",
                                            "DSITINERAGRADE", "NRITEMPED", "CDPRODUTO"},
                                           {{"17", "0001", "P1", "V1", "Rota", "1", "A"},
                                            {"17", "0001", "P1", "V1", "Rota", "2", "B"},
                                            {"17", "0001", "P2", "V1", "Rota", "1", "A"}}));
  for (Answer resposta : {Answer::No, Answer::Yes}) {
    const bool sim = resposta == Answer::Yes;
    SCOPED_TRACE(sim ? "yes" : "no");
    server.Answer("GetGradeRota", Rota(2, true, "005"));
    server.Answer("GetItinerario", itinerario);
    server.Answer("GetItemGrade",
                  Variant(Table({"NRPEDIDO", "NRITEMPED", "CDPRODUTO"}, {{"P1", "1", "A"}})));
    NaRota([&](TfrmGradeDistribuicao& s) {
      // The route tab was opened: the vehicle load brought the itinerary.
      s.cdsItinerario.SetData(itinerario);
      ui::UserClickCell(*s.dbgGradeRota, 1, "NRORDENTREGRADE");
      ui::UserEditCell(*s.dbgGradeRota, "9");
      Answers({resposta});
      Do([&] { ui::UserPost(*s.dbgGradeRota); });
      EXPECT_EQ(dialogs.Log(),
                std::vector<std::string>{"question: Esta operação excluirá o itinerário referente "
                                         "a este veículo. Deseja continuar? -> " +
                                         std::string(sim ? "yes" : "no")});
      if (sim) {
        EXPECT_EQ(server.Methods(),
                  "SetItinerario SetItinerario SetItinerario GetVdOrdem GetItemGrade "
                  "SetGradeRota GetGradeRota GetPontosRota");
        for (const auto& call : server.CallsOf("SetItinerario")) {
          EXPECT_EQ(call, "SetItinerario(packet(1))");
        }
        EXPECT_EQ(s.cdsItinerario.RecordCount(), 0);
        EXPECT_EQ(server.CallsOf("SetGradeRota").back(),
                  "SetGradeRota(009, P1, V1, 0001, &'17', 1, A, &'E')");
      } else {
        EXPECT_EQ(server.Methods(), "");
        EXPECT_EQ(s.cdsGradeRota.FieldByName("NRORDENTREGRADE").AsString(), "005");
        EXPECT_EQ(s.cdsGradeRota.State(), data::DatasetState::Browse);
        EXPECT_EQ(s.cdsItinerario.RecordCount(), 3);
      }
    });
  }
}

}  // namespace
}  // namespace dg::screen::testing
