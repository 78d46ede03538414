#include "host/player.h"

#include <gtest/gtest.h>

#include <sstream>

#include "data/packet.h"
#include "ui/grid.h"

namespace dg::host {
namespace {

using nlohmann::json;

// A window that asks before closing and saves on a speed button, as the
// screens do, with a dataset for expectations.
class PlayerTest : public ::testing::Test {
 protected:
  PlayerTest() {
    auto& edit = form.Add<ui::Edit>("edtNome");
    edit.on_exit = [this](ui::Control&) { exits++; };
    form.Add<ui::Edit>("edtOutro");
    form.Add<ui::Button>("btnOk").SetEnabled(false);
    auto& save = form.Add<ui::SpeedButton>("sbtSalvar");
    save.on_click = [](ui::Control&) {
      if (ui::App().Dlg().Question("Salvar?") == ui::Answer::Yes) ui::App().Dlg().Info("Salvo");
    };
    auto& fail = form.Add<ui::SpeedButton>("sbtFalha");
    fail.on_click = [](ui::Control&) { throw dg::Error("falhou"); };
    form.on_close = [](ui::Form&, ui::CloseAction& action) {
      if (ui::App().Dlg().Question("Sair?") == ui::Answer::No) action = ui::CloseAction::None;
    };
    form.on_activate = [this](ui::Form&) { activations++; };
    items.AddField("NOME", data::FieldType::String, 20);
    items.AddField("QTDE", data::FieldType::Double);
    data::DataPacket packet;
    packet.fields = {{"NOME", data::FieldType::String, 20}, {"QTDE", data::FieldType::Double}};
    packet.rows = {{data::Variant("Ana"), data::Variant(1.5)},
                   {data::Variant("Bia"), data::Variant::Null()}};
    items.LoadPacket(packet);
    form.RegisterDataSet(items);
    source.SetDataSet(&items);
    form.RegisterDataSource(source);
    form.Add<ui::DataGrid>("dbgTeste").SetDataSource(&source);
    form.Add<ui::ComboBox>("cbbModo").items = {"0 - Um", "1 - Dois"};
  }

  // Plays the steps on the form; returns the trace lines.
  std::vector<json> Play(const json& steps) {
    session = ParseSession({{"fixture", "f.json"}, {"steps", steps}}, "");
    std::ostringstream out;
    Trace trace(&out);
    player =
        std::make_unique<Player>(session, trace, [](const std::string& name, data::Variant* v) {
          if (name != "stNrGrade") return false;
          *v = data::Variant("000042");
          return true;
        });
    ui::ScopedDialogs scoped(player.get(), player.get());
    player->SetCallerVariables(&caller);
    ui::App().on_error_report = [&trace, this](const std::string& text) {
      player->NoteFailure(text);
      trace.Write(FailureEvent(text));
    };
    trace.Hold();
    form.ShowModal();
    ui::App().on_error_report = nullptr;
    std::vector<json> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
  }

  ui::Form form{"frmTeste"};
  data::ClientDataset items{"cdsTeste"};
  data::DataSource source;
  HandBack caller;
  Session session;
  std::unique_ptr<Player> player;
  int exits = 0, activations = 0;
};

TEST_F(PlayerTest, PlaysStepsThenClosesAnsweringYes) {
  const auto lines = Play({{{"type", "edtNome"}, {"text", "Ana"}},
                           {{"answers", {"yes"}}},
                           {{"click", "sbtSalvar"}},
                           {{"focus", "edtOutro"}}});
  EXPECT_EQ("Ana", form.Get<ui::Edit>("edtNome").Text());
  EXPECT_EQ(1, exits);
  EXPECT_EQ(1, activations);
  EXPECT_FALSE(form.IsOpen());
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ(json({{"step", 1}, {"do", {{"type", "edtNome"}, {"text", "Ana"}}}}), lines[0]);
  EXPECT_EQ(json({{"dialog", "question"}, {"text", "Salvar?"}, {"answer", "yes"}}), lines[3]);
  EXPECT_EQ(json({{"dialog", "info"}, {"text", "Salvo"}}), lines[4]);
  EXPECT_EQ(4, lines[5]["step"]);
  // The player's own close: no step line, the question answered Yes.
  EXPECT_EQ(json({{"dialog", "question"}, {"text", "Sair?"}, {"answer", "yes"}}), lines[6]);
  EXPECT_FALSE(player->ExpectationFailed());
}

TEST_F(PlayerTest, RefusedActionsAreTracedAsIgnored) {
  const auto lines = Play({{{"click", "btnOk"}}, {{"click", "sbtSalvar"}}});
  EXPECT_EQ(json({{"step", 1}, {"do", {{"click", "btnOk"}}}, {"ignored", "disabled"}}), lines[0]);
  // An unanswered question is answered No by default, and says so.
  EXPECT_EQ(
      json({{"dialog", "question"}, {"text", "Salvar?"}, {"answer", "no"}, {"default", true}}),
      lines[2]);
}

// Numbers too large for the player are not cut down to rows that exist.
TEST_F(PlayerTest, RowsAndItemsTheControlDoesNotHoldAreIgnoredWithTheReason) {
  const json far = json::parse("4294967297");
  const auto lines = Play({{{"grid", "dbgTeste"}, {"row", 3}},
                           {{"grid", "dbgTeste"}, {"row", far}},
                           {{"select", "cbbModo"}, {"index", 2}},
                           {{"select", "cbbModo"}, {"index", far}},
                           {{"grid", "dbgTeste"}, {"row", 2}}});
  const char* reasons[] = {"no-such-row", "no-such-row", "no-such-item", "no-such-item"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(reasons[i], lines.at(i).value("ignored", "")) << i;
  EXPECT_FALSE(lines.at(4).contains("ignored"));
  EXPECT_EQ(-1, form.Get<ui::ComboBox>("cbbModo").ItemIndex());
  EXPECT_EQ(2, items.RecNo());
}

TEST_F(PlayerTest, CloseRefusedKeepsPlayingOnTheSameWindow) {
  const auto lines = Play({{{"close", true}}, {{"expect", {{"edtNome.enabled", true}}}}});
  EXPECT_EQ(json({{"dialog", "question"}, {"text", "Sair?"}, {"answer", "no"}, {"default", true}}),
            lines[1]);
  EXPECT_EQ(json({{"expect", "edtNome.enabled"}, {"ok", true}, {"want", true}, {"got", true}}),
            lines[3]);
}

TEST_F(PlayerTest, ExpectationsReportEachKeyAndGoOn) {
  items.Last();
  const auto lines = Play({{{"expect",
                             {{"cdsTeste.count", 2},
                              {"cdsTeste.NOME", "Bia"},
                              {"cdsTeste.QTDE", nullptr},
                              {"cdsTeste.state", "browse"},
                              {"cdsTeste.rows", {{{"QTDE", 1.5000000000001}}, {{"NOME", "Bia"}}}},
                              {"global.stNrGrade", "000042"},
                              {"edtNome.text", "errado"}}}},
                           {{"type", "edtNome"}, {"text", "x"}}});
  ASSERT_EQ(10u, lines.size());
  int failed = 0;
  for (const json& line : lines) {
    if (line.contains("expect") && !line["ok"].get<bool>()) {
      ++failed;
      EXPECT_EQ("edtNome.text", line["expect"]);
      EXPECT_EQ("", line["got"]);
    }
  }
  EXPECT_EQ(1, failed);
  EXPECT_TRUE(player->ExpectationFailed());
  EXPECT_EQ("x", form.Get<ui::Edit>("edtNome").Text());  // the script went on
}

TEST_F(PlayerTest, RowsMustMatchInNumber) {
  const auto lines = Play({{{"expect", {{"cdsTeste.rows", {{{"NOME", "Ana"}}}}}}}});
  EXPECT_FALSE(lines[1]["ok"].get<bool>());
}

TEST_F(PlayerTest, FailuresOfHandlersReachTheErrorReport) {
  const auto lines = Play({{{"click", "sbtFalha"}}});
  EXPECT_EQ(json({{"failure", "falhou"}}), lines[1]);
}

TEST_F(PlayerTest, UnknownNameRunsNoStepAndWritesNothing) {
  const auto lines = Play({{{"type", "edtNome"}, {"text", "Ana"}}, {{"click", "xyz"}}});
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ("step 2: unknown control 'xyz'", player->Invalid().value_or(""));
  EXPECT_EQ("", form.Get<ui::Edit>("edtNome").Text());
  EXPECT_FALSE(form.IsOpen());
}

TEST_F(PlayerTest, HostStatesAreReadByExpectations) {
  auto& wait = form.Add<ui::SpeedButton>("sbtEspera");
  wait.on_click = [](ui::Control&) { ui::App().Windows().WaitAnimationChanged(6); };
  auto& error = form.Add<ui::SpeedButton>("sbtErro");
  error.on_click = [this](ui::Control&) {
    ui::App().Dlg().Error("Ordem deve ser informada.");
    caller.PNrGradeDistr = "000007";
  };
  const auto lines = Play(
      {{{"expect", {{"host.waiting", false}, {"host.failure", nullptr}, {"host.error", nullptr}}}},
       {{"click", "sbtEspera"}},
       {{"click", "sbtFalha"}},
       {{"click", "sbtErro"}},
       {{"expect",
         {{"host.waiting", true},
          {"host.failure", "falhou"},
          {"host.error", "Ordem deve ser informada."},
          {"host.PNrGradeDistr", "000007"},
          {"host.PboOpcao", false}}}}});
  int expectations = 0;
  for (const json& line : lines) {
    if (!line.contains("expect") || line.contains("step")) continue;
    ++expectations;
    EXPECT_TRUE(line["ok"].get<bool>()) << line.dump();
  }
  EXPECT_EQ(8, expectations);
}

TEST_F(PlayerTest, ActivateStepActivatesAgain) {
  Play({{{"activate", true}}});
  EXPECT_EQ(2, activations);
}

// The delivery points without address, as the inconsistency dialog gets them.
void LoadErrors(data::ClientDataset& errors) {
  errors.AddField("CODIGO", data::FieldType::String, 10);
  errors.AddField("NOME", data::FieldType::String, 40);
  data::DataPacket packet;
  packet.fields = {{"CODIGO", data::FieldType::String, 10}, {"NOME", data::FieldType::String, 40}};
  packet.rows = {{data::Variant("C1"), data::Variant("Sem Endereço")}};
  errors.LoadPacket(packet);
}

TEST_F(PlayerTest, DialogsAboveTheScreenTakeTheNextSteps) {
  ui::Form dialog("frmErro");
  data::ClientDataset errors("cdsErro");
  LoadErrors(errors);
  dialog.RegisterDataSet(errors);
  form.Get<ui::SpeedButton>("sbtSalvar").on_click = [&](ui::Control&) { dialog.ShowModal(); };
  const auto lines = Play({{{"click", "sbtSalvar"}},
                           {{"expect", {{"cdsTeste.count", 2}}}},
                           {{"close", true}},
                           {{"type", "edtNome"}, {"text", "depois"}}});
  EXPECT_EQ(json({{"dialog", "inconsistencies"},
                  {"rows", {{{"CODIGO", "C1"}, {"NOME", "Sem Endereço"}}}}}),
            lines.at(1));
  // The screen's state is read through the dialog.
  EXPECT_TRUE(lines.at(3)["ok"].get<bool>());
  EXPECT_EQ("depois", form.Get<ui::Edit>("edtNome").Text());
}

// The real dialog owns no dataset: its grid shows the screen's list through
// a data source of the dialog.
TEST_F(PlayerTest, InconsistencyRowsComeFromTheDialogsGrid) {
  data::ClientDataset errors("cdsErro");
  LoadErrors(errors);
  ui::Form dialog("frmErro");
  data::DataSource destino;
  destino.name = "dtsDestino";
  dialog.RegisterDataSource(destino);
  dialog.Add<ui::DataGrid>("dbgMensagem").SetDataSource(&destino);
  destino.SetDataSet(&errors);
  form.Get<ui::SpeedButton>("sbtSalvar").on_click = [&](ui::Control&) { dialog.ShowModal(); };
  const auto lines = Play({{{"click", "sbtSalvar"}}, {{"close", true}}});
  EXPECT_EQ(json({{"dialog", "inconsistencies"},
                  {"rows", {{{"CODIGO", "C1"}, {"NOME", "Sem Endereço"}}}}}),
            lines.at(1));
}

TEST_F(PlayerTest, PickChoosesTheMatchingRowOfTheList) {
  std::optional<int> picked;
  form.Get<ui::SpeedButton>("sbtSalvar").on_click = [&](ui::Control&) {
    ui::ListDialog list{"Transportadoras",
                        {"NRINSJURTRAN", "NMFANTTRAN"},
                        {"Inscrição", "Nome"},
                        {{"45.781.233/0001-07", "Rodovale"}, {"12.984.567/0001-29", "Expresso"}}};
    picked = ui::App().Dlg().PickFromList(list);
  };
  const auto lines = Play({{{"pick", "sbtSalvar"}, {"where", {{"NRINSJURTRAN", "12984567000129"}}}},
                           {{"click", "sbtSalvar"}}});
  EXPECT_EQ(
      json({{"dialog", "list"},
            {"title", "Transportadoras"},
            {"rows", 2},
            {"picked", {{"NRINSJURTRAN", "12.984.567/0001-29"}, {"NMFANTTRAN", "Expresso"}}}}),
      lines[1]);
  // A list opened by a plain click picks nothing.
  EXPECT_EQ(nullptr, lines[3]["picked"]);
  EXPECT_FALSE(picked.has_value());
}

}  // namespace
}  // namespace dg::host
