// The route by map against the real in-process server and the built map
// module EXP03400, loaded from the library folder as the host loads it.
#ifdef EXP_WITH_APPSERVER

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "appserver/test_support.h"
#include "screen/testing/fixture_items.h"
#include "screen/testing/screen_harness.h"
#include "ui/user_actions.h"

namespace dg::screen::testing {
namespace {

using data::Variant;

class RouteEndToEndTest : public ScreenHarness {
 protected:
  RouteEndToEndTest() {
    server::LoadFixture(*database.storage(), server::testing::SmallFixture());
    rdm = std::make_shared<server::rdmGradeDistribuicao>(database.storage());
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

  server::testing::TempDatabase database;
  std::shared_ptr<server::rdmGradeDistribuicao> rdm;
};

// As a clerk reaches the route: the distribution leaves C2 without an
// address on V1, so the route tab stays shut; moving P1's first item and P3
// (clients with addresses) onto V2 and saving opens it for V2.
TEST_F(RouteEndToEndTest, NumberTheStopsRunTheMapAndSeeDistanceTimeAndItinerary) {
  Launch(Items(), [&](ui::Form&) {
    auto& s = Screen();
    ui::UserType(*s.medCdTransp, "11222333000181");
    Do([&] { ui::UserFocus(*s.medTpTransp); });
    ui::UserType(*s.medTpTransp, "1");
    Do([&] { ui::UserFocus(*s.DBGrid1); });
    ASSERT_EQ(failures, std::vector<std::string>{});
    ASSERT_TRUE(s.sbtInconcistencia->Enabled());
    ASSERT_FALSE(s.tshRota->Enabled());

    ASSERT_EQ(ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao), ui::Outcome::Done);
    // Each item wholly onto V2 (the second vehicle row), then confirmed.
    const auto to_v2 = [&](int item_row) {
      Do([&] { ui::UserClickCell(*s.dbgPedExp, item_row, std::nullopt); });
      const std::string qtde = s.cdsExp.FieldByName("QTDEAEXP").AsString();
      for (const auto& [row, text] : {std::pair{1, std::string("0")}, {2, qtde}}) {
        Do([&] { ui::UserClickCell(*s.dbgPadrao, row, "QtTranspItGr"); });
        ASSERT_EQ(ui::UserEditCell(*s.dbgPadrao, text), ui::Outcome::Done);
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

}  // namespace
}  // namespace dg::screen::testing

#endif  // EXP_WITH_APPSERVER
