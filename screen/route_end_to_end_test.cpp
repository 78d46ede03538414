// The route by map against the real in-process server and the built map
// module EXP03400, loaded from the library folder as the host loads it.
#ifdef EXP_WITH_APPSERVER

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "appserver/testing/test_support.h"
#include "contracts/consiste.h"
#include "screen/testing/fixture_items.h"
#include "screen/testing/screen_harness.h"
#include "ui/canvas.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;

class RouteEndToEndTest : public ScreenHarness {
 protected:
  RouteEndToEndTest() {
    Load(server::testing::SmallFixture());
    contracts::TNetConnection::SetTransportFactory([this](const std::string&, int) {
      return std::make_shared<server::InProcessTransport>(rdm);
    });
    // The module lies in the library folder beside the test's "bin".
    const auto lib = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
                     "lib" / "libEXP03400.so";
    host.loader = [lib](const std::string& module, const data::VariantArray& args) {
      ASSERT_EQ(module, "EXP03400");
      void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
      ASSERT_NE(handle, nullptr) << dlerror();
      auto entry = reinterpret_cast<void (*)(const data::VariantArray&)>(dlsym(handle, "IniProc"));
      ASSERT_NE(entry, nullptr);
      entry(args);
    };
  }
  // The clerk types the fixture's transporter and leaves the panel, which
  // distributes the items.
  void DistributeForTheTransporter() {
    auto& s = Screen();
    ui::UserType(*s.medCdTransp, "11222333000181");
    Do([&] { ui::UserFocus(*s.medTpTransp); });
    ui::UserType(*s.medTpTransp, "1");
    Do([&] { ui::UserFocus(*s.DBGrid1); });
  }
  // The distribution, then the route tab of the vehicle it leaves current,
  // which may open only when no inconsistency is left.
  void DistributeAndOpenTheRoute() {
    auto& s = Screen();
    DistributeForTheTransporter();
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_FALSE(s.sbtInconcistencia->Enabled());
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshRota), ui::Outcome::Done);
  }
  // A day with a clock: three located clients, C1 receiving from 06:00 to
  // 18:00, every vehicle's day starting at 06:00.
  static nlohmann::json ClockedFixture() {
    nlohmann::json fixture = server::testing::SmallFixture();
    for (int c = 0; c < 3; ++c) {
      fixture["CLIENTE"][c]["ENDERECO"] = "Rua C" + std::to_string(c + 1);
      fixture["CLIENTE"][c]["LATITUDE"] = -22.90 - 0.03 * c;
      fixture["CLIENTE"][c]["LONGITUDE"] = -47.06 - 0.03 * c;
    }
    fixture["CLIENTE"][0]["HRJANELA1"] = "06:00-18:00";
    for (auto& vehicle : fixture["VEICULO"]) vehicle["HRINICIOJORN"] = "06:00";
    return fixture;
  }
  // A fresh database with `fixture`, served from then on.
  void Load(const nlohmann::json& fixture) {
    rdm.reset();
    database = std::make_unique<server::testing::TempDatabase>();
    server::LoadFixture(*database->storage(), fixture);
    rdm = std::make_shared<server::rdmGradeDistribuicao>(database->storage());
  }
  // The fixture's items selected for dispatch, each with the transporter.
  std::vector<ItemRow> Items() {
    std::vector<ItemRow> rows;
    for (ItemRow& row : FixtureItemRows(server::testing::SmallFixture())) {
      if (row["IDCHECK"].ToString() != "S") continue;
      row["IDTPIJURTRAN"] = "J";
      row["NRINSJURTRAN"] = "11222333000181";
      rows.push_back(row);
    }
    return rows;
  }

  std::unique_ptr<server::testing::TempDatabase> database;
  std::shared_ptr<server::rdmGradeDistribuicao> rdm;
};

// As a clerk reaches the route: the distribution leaves C2 without an
// address on V1, so the route tab stays shut; moving P1's first item and P3
// (clients with addresses) onto V2 and saving opens it for V2.
TEST_F(RouteEndToEndTest, NumberTheStopsRunTheMapAndSeeDistanceTimeAndItinerary) {
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    DistributeForTheTransporter();
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_TRUE(s.sbtInconcistencia->Enabled());
    ASSERT_FALSE(s.tshRota->Enabled());

    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    // Each item wholly onto V2 (the second vehicle row), then confirmed.
    const auto to_v2 = [&](int item_row) {
      Do([&] { ui::UserClickCell(*s.dbgPedExp, item_row, std::nullopt); });
      const std::string qtde = s.cdsExp.FieldByName("QTDEAEXP").AsString();
      for (const auto& cell : {std::pair{1, std::string("0")}, {2, qtde}}) {
        Do([&] { ui::UserClickCell(*s.dbgPadrao, cell.first, "QtTranspItGr"); });
        ASSERT_EQ(ui::UserEditCell(*s.dbgPadrao, cell.second), ui::Outcome::Done);
        Do([&] { ui::UserPost(*s.dbgPadrao); });
      }
      Do([&] { ui::UserClick(*s.sbtConfirmar); });
      ASSERT_EQ(failures, std::vector<std::string>{});
      ASSERT_EQ(s.cdsVeiculo.FieldByName("CDVIATURA").AsString(), "V2");
    };
    to_v2(1);  // P1 / 1, Mercado Um
    to_v2(4);  // P3 / 1, Mercado Três
    EXPECT_FALSE(s.sbtInconcistencia->Enabled());
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshRota), ui::Outcome::Done);
    ASSERT_EQ(stVeiculo, "V2");
    ASSERT_EQ(s.cdsGradeRota.RecordCount(), 2);

    for (int row = 1; row <= 2; ++row) {
      ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, row, "NRORDENTREGRADE"), ui::Outcome::Done);
      ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, std::to_string(row)), ui::Outcome::Done);
      Do([&] { ui::UserPost(*s.dbgGradeRota); });
      ASSERT_EQ(failures, std::vector<std::string>{});
    }
    s.cdsGradeRota.First();
    EXPECT_EQ(s.cdsGradeRota.FieldByName("NRORDENTREGRADE").AsString(), "001");

    ASSERT_TRUE(s.sbtGeraMapa->Enabled());
    Do([&] { ui::UserClick(*s.sbtGeraMapa); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    EXPECT_NE(s.dbeDistancia->Text().find(" km"), std::string::npos) << s.dbeDistancia->Text();
    EXPECT_NE(s.dbeDistancia->Text(), "0,0 km");
    EXPECT_NE(s.dbeTempo->Text().find("min"), std::string::npos);
    const std::string itinerario = s.dbmItinerario->Text();
    EXPECT_NE(itinerario.find("Saída: "), std::string::npos) << itinerario;
    EXPECT_NE(itinerario.find("Mercado Um - Rua C1, 10: "), std::string::npos) << itinerario;
    // C3 has no coordinates: named, not dropped.
    EXPECT_NE(itinerario.find("Mercado Três - Rua C3, 30: não localizado"), std::string::npos)
        << itinerario;
    EXPECT_NE(itinerario.find("Total"), std::string::npos);
  });
}

// A vehicle that carries nothing: the route tab opens on an empty route
// and its picture still names the vehicle, so the clerk sees which one is
// empty (the route follows the vehicle current on the item tab).
TEST_F(RouteEndToEndTest, AnEmptyRouteNamesItsVehicle) {
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    DistributeForTheTransporter();
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    Do([&] { ui::UserClickCell(*s.dbgPadrao, 2, std::nullopt); });
    ASSERT_EQ(s.cdsVeiculo.FieldByName("CDVIATURA").AsString(), "V2");
    ASSERT_EQ(s.cdsVeiculo.FieldByName("QtTranspItGr").AsFloat(), 0);
    ASSERT_TRUE(s.tshRota->Enabled());
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshRota), ui::Outcome::Done);
    ASSERT_EQ(s.cdsGradeRota.RecordCount(), 0);

    ui::RecordingCanvas canvas;
    s.pbxRota->Paint(canvas, {0, 0, 300, 300});
    const std::string drawn = canvas.Joined();
    EXPECT_NE(drawn.find("Nenhum local de entrega"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("Veículo V2"), std::string::npos) << drawn;
  });
}

// On a day with a clock, each stop of the route grid shows its planned
// arrival and departure and its window; the times follow the stops' order
// and change when the clerk numbers the stops otherwise.
TEST_F(RouteEndToEndTest, EachStopShowsItsPlannedTimes) {
  Load(ClockedFixture());
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    ASSERT_NO_FATAL_FAILURE(DistributeAndOpenTheRoute());
    ASSERT_GE(s.cdsGradeRota.RecordCount(), 2);

    // The stops in the grid's order (by number), each with its times.
    struct Linha {
      std::string cliente, ordem, chegada, saida, janela;
    };
    const auto linhas = [&] {
      std::vector<Linha> out;
      for (s.cdsGradeRota.First(); !s.cdsGradeRota.Eof(); s.cdsGradeRota.Next()) {
        const auto f = [&](const char* n) { return s.cdsGradeRota.FieldByName(n).AsString(); };
        out.push_back({f("CODIGO"), f("NRORDENTREGRADE"), f("HRCHEGADA"), f("HRSAIDA"),
                       f("JANELA")});
      }
      return out;
    };
    const auto em_ordem = [](const std::vector<Linha>& ls) {
      for (std::size_t k = 0; k < ls.size(); ++k) {
        EXPECT_EQ(ls[k].chegada.size(), 5u) << ls[k].cliente << " " << ls[k].chegada;
        EXPECT_LE(ls[k].chegada, ls[k].saida) << ls[k].cliente;
        if (k > 0) {
          EXPECT_LE(ls[k - 1].saida, ls[k].chegada) << ls[k].cliente;
        }
      }
    };
    const std::vector<Linha> antes = linhas();
    em_ordem(antes);
    for (const Linha& l : antes) {
      EXPECT_EQ(l.janela, l.cliente == "C1" ? "06:00-18:00" : "") << l.cliente;
    }
    // The grid shows them as the clerk reads them.
    s.cdsGradeRota.First();
    EXPECT_EQ(s.cdsGradeRota.FieldByName("HRCHEGADA").DisplayText(), antes[0].chegada);

    // The first stop typed last: it is reached later than it was.
    const int ultima = static_cast<int>(antes.size());
    ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, 1, "NRORDENTREGRADE"), ui::Outcome::Done);
    ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, std::to_string(ultima + 1)), ui::Outcome::Done);
    Do([&] { ui::UserPost(*s.dbgGradeRota); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    Do([&] { s.VerificarRota(); });
    const std::vector<Linha> depois = linhas();
    ASSERT_EQ(depois.size(), antes.size());
    em_ordem(depois);
    EXPECT_EQ(depois.back().cliente, antes.front().cliente);
    EXPECT_GT(depois.back().chegada, antes.front().chegada);

    // Another vehicle's route (none here): no times left over.
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    Do([&] { ui::UserClickCell(*s.dbgPadrao, 2, std::nullopt); });
    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshRota), ui::Outcome::Done);
    for (const Linha& l : linhas()) EXPECT_EQ(l.chegada, "") << l.cliente;
  });
}

// A stop the clerk's numbering brings after its windows closed has its
// arrival drawn in red; the others, and the grid's later cells, are drawn
// as before.
TEST_F(RouteEndToEndTest, ALateStopsArrivalStandsOut) {
  Load(ClockedFixture());
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    ASSERT_NO_FATAL_FAILURE(DistributeAndOpenTheRoute());
    ASSERT_GE(s.cdsGradeRota.RecordCount(), 2);
    struct Colours : ui::RecordingCanvas {
      std::vector<ui::ColorName> text;
      void TextRect(const ui::Rect& clip, int x, int y, const std::string& t) override {
        text.push_back(CurrentFont().color);
        RecordingCanvas::TextRect(clip, x, y, t);
      }
    };
    const int chegada = contracts::Consiste::IndiceCol(*s.dbgGradeRota, "HRCHEGADA");
    const auto colour = [&](const std::string& client) {
      EXPECT_TRUE(s.cdsGradeRota.Locate("CODIGO", {Variant(client)}, false)) << client;
      Colours canvas;
      s.dbgGradeRota->PaintCell(canvas, ui::Rect{0, 0, 52, 18}, s.cdsGradeRota.RecNo(), chegada,
                                ui::DrawState{});
      EXPECT_EQ(canvas.CurrentFont().color, ui::ColorName::Default) << "the font was put back";
      return canvas.text.empty() ? ui::ColorName::Default : canvas.text.back();
    };
    s.cdsGradeRota.First();
    const std::string first = s.cdsGradeRota.FieldByName("CODIGO").AsString();
    const std::string arrival = s.cdsGradeRota.FieldByName("HRCHEGADA").AsString();
    ASSERT_EQ(arrival.size(), 5u);
    s.cdsGradeRota.Last();
    const std::string other = s.cdsGradeRota.FieldByName("CODIGO").AsString();
    EXPECT_EQ(colour(first), ui::ColorName::Default);

    // The first stop's window now closes as it is reached; typed last, it
    // is reached later.
    database->storage()->Transact(server::TxKind::Write, [&](server::Session& db) {
      db.Exec("UPDATE CLIENTE SET HRJANELA1 = ? WHERE CDCLIENTE = ?",
              {server::Value("00:00-" + arrival), server::Value(first)});
    });
    const int ultima = s.cdsGradeRota.RecordCount();
    ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, 1, "NRORDENTREGRADE"), ui::Outcome::Done);
    ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, std::to_string(ultima + 1)), ui::Outcome::Done);
    Do([&] { ui::UserPost(*s.dbgGradeRota); });
    Do([&] { s.VerificarRota(); });
    ASSERT_TRUE(s.cdsGradeRota.Locate("CODIGO", {Variant(first)}, false));
    EXPECT_GT(s.cdsGradeRota.FieldByName("HRCHEGADA").AsString(), arrival);
    EXPECT_EQ(colour(first), ui::ColorName::Red);
    EXPECT_EQ(colour(other), ui::ColorName::Default);
  });
}

// The suggested order on the real server: C3 keeps the number the clerk
// typed, C1 and C2 take the free ones; answered No, nothing is written.
TEST_F(RouteEndToEndTest, SuggestedOrderKeepsTheTypedNumberAndWritesOnlyOnYes) {
  nlohmann::json fixture = server::testing::SmallFixture();
  fixture["CLIENTE"][1]["ENDERECO"] = "Rua C2, 20";
  fixture["CLIENTE"][1]["LATITUDE"] = -22.95;
  fixture["CLIENTE"][1]["LONGITUDE"] = -47.12;
  fixture["CLIENTE"][2]["LATITUDE"] = -22.93;
  fixture["CLIENTE"][2]["LONGITUDE"] = -47.09;
  Load(fixture);
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    // Every client has an address: the route is open for V1, which takes all.
    ASSERT_NO_FATAL_FAILURE(DistributeAndOpenTheRoute());
    ASSERT_EQ(s.cdsGradeRota.RecordCount(), 3);
    auto ordens = [&] {
      std::map<std::string, std::string> by_client;
      for (s.cdsGradeRota.First(); !s.cdsGradeRota.Eof(); s.cdsGradeRota.Next()) {
        by_client[s.cdsGradeRota.FieldByName("CODIGO").AsString()] =
            s.cdsGradeRota.FieldByName("NRORDENTREGRADE").AsString();
      }
      return by_client;
    };
    ASSERT_TRUE(s.cdsGradeRota.Locate("CODIGO", {Variant("C3")}, false));
    const int row = s.cdsGradeRota.RecNo();
    ASSERT_EQ(ui::UserClickCell(*s.dbgGradeRota, row, "NRORDENTREGRADE"), ui::Outcome::Done);
    ASSERT_EQ(ui::UserEditCell(*s.dbgGradeRota, "2"), ui::Outcome::Done);
    Do([&] { ui::UserPost(*s.dbgGradeRota); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    const auto typed = ordens();
    ASSERT_EQ(typed.at("C3"), "002");
    ASSERT_EQ(typed.at("C1"), "");

    // No: the question lists the stops, nothing is written.
    ASSERT_TRUE(s.sbtSugerirOrdem->Enabled());
    dialogs.ClearLog();
    Answers({ui::Answer::No});
    Do([&] { ui::UserClick(*s.sbtSugerirOrdem); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(dialogs.Log().size(), 1u);
    EXPECT_NE(dialogs.Log()[0].find("(mantida)"), std::string::npos) << dialogs.Log()[0];
    EXPECT_NE(dialogs.Log()[0].find("Mercado Dois"), std::string::npos);
    Do([&] { s.VerificarRota(); });
    EXPECT_EQ(ordens(), typed);

    // Yes: C3 keeps 2, C1 and C2 take 1 and 3.
    Answers({ui::Answer::Yes, ui::Answer::Yes, ui::Answer::Yes});
    Do([&] { ui::UserClick(*s.sbtSugerirOrdem); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    Do([&] { s.VerificarRota(); });
    const auto suggested = ordens();
    EXPECT_EQ(suggested.at("C3"), "002");
    EXPECT_EQ(std::set<std::string>({suggested.at("C1"), suggested.at("C2")}),
              std::set<std::string>({"001", "003"}));
    EXPECT_EQ(s.cdsGradeRota.State(), data::DatasetState::Browse);

    // Every stop numbered: the command says so and writes nothing.
    dialogs.ClearLog();
    Do([&] { ui::UserClick(*s.sbtSugerirOrdem); });
    EXPECT_EQ(dialogs.Log().size(), 1u);
    EXPECT_EQ(dialogs.Log()[0].rfind("info: ", 0), 0u) << dialogs.Joined();
    EXPECT_EQ(ordens(), suggested);

    // The picture: branch, the three numbered stops, legs, scale and north.
    ui::RecordingCanvas canvas;
    s.pbxRota->Paint(canvas, {0, 0, 300, 300});
    const std::string drawn = canvas.Joined();
    EXPECT_NE(drawn.find("Filial"), std::string::npos) << drawn;
    for (const char* label : {" 1 |", " 2 |", " 3 |", " N"}) {
      EXPECT_NE(drawn.find(label), std::string::npos) << label << " in " << drawn;
    }
    EXPECT_EQ(drawn.find("Sem localização"), std::string::npos);
    // It names the vehicle it shows.
    EXPECT_NE(drawn.find("Veículo " + s.cdsGradeRota.FieldByName("CDVIATURA").AsString()),
              std::string::npos)
        << drawn;
  });
}

}  // namespace
}  // namespace dg::screen::testing

#endif  // EXP_WITH_APPSERVER
