#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/frm_padrao_grid.h"
#include "contracts/halvorn.h"
#include "contracts/net_connection.h"
#include "contracts/showavi.h"
#include "ui/application.h"
#include "ui/user_actions.h"

namespace dg::contracts {
namespace {

// A server double: answers from a script and writes back "0001" into the
// first argument and "G42" into the last.
class FakeTransport : public data::CallTransport {
 public:
  std::vector<std::string> calls;
  data::CallReply Call(const std::string& server, const std::string& method,
                       const std::vector<data::Variant>& args) override {
    calls.push_back(server + "." + method);
    if (method == "Fails") throw data::ServerCallError("@QT_EXCEDE");
    if (method == "Short") return {data::Variant(1), {}};
    data::CallReply reply{data::Variant("ok"), args};
    if (!reply.args.empty()) {
      reply.args.front() = data::Variant("0001");
      reply.args.back() = data::Variant("G42");
    }
    return reply;
  }
};

class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest() {
    TNetConnection::SetTransportFactory([this](const std::string& host, int port) {
      connects.push_back(host + ":" + std::to_string(port));
      return transport;
    });
    TNetConnection::Observer() = [this](const CallRecord& r) { records.push_back(r); };
    net.server_name = "Exp03200.rdmGradeDistribuicao";
    net.before_connect = [](TNetConnection& n) {
      n.host = Halvorn::WebURL();
      n.port = Halvorn::WebPort();
    };
    host.url = "10.0.0.5";
    host.port = 8211;
    Halvorn::SetHost(&host);
  }
  ~ConnectionTest() override {
    TNetConnection::SetTransportFactory(nullptr);
    TNetConnection::Observer() = nullptr;
    Halvorn::SetHost(nullptr);
  }

  std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
  SimpleHostServices host;
  TNetConnection net{"netGradeDistribuicao"};
  std::vector<std::string> connects;
  std::vector<CallRecord> records;
};

TEST_F(ConnectionTest, ByReferenceArgumentsAreWrittenBackAndObserved) {
  net.Connect();
  EXPECT_EQ(std::vector<std::string>{"10.0.0.5:8211"}, connects);  // address read at connect
  std::string filial = "", grade = "old";
  data::Variant result = net.Call("GetVeiculo", {ByRef(filial), "J123", 2, ByRef(grade)});
  EXPECT_EQ(data::Variant("ok"), result);
  EXPECT_EQ("0001", filial);
  EXPECT_EQ("G42", grade);
  ASSERT_EQ(1u, records.size());
  const CallRecord& r = records[0];
  EXPECT_EQ("GetVeiculo", r.method);
  EXPECT_EQ((std::vector<data::Variant>{"", "J123", 2, "old"}), r.args);  // values sent
  EXPECT_EQ((std::map<int, data::Variant>{{1, "0001"}, {4, "G42"}}), r.refs);
  EXPECT_FALSE(r.failure.has_value());
}

TEST_F(ConnectionTest, FailuresPropagateAfterTheObserverSawThem) {
  std::string filial = "A";
  EXPECT_THROW(net.Call("GetParametros", {ByRef(filial)}), Error);  // not connected
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(transport->calls.empty());
  net.Connect();
  EXPECT_THROW(net.Call("Fails", {ByRef(filial)}), data::ServerCallError);
  EXPECT_EQ("A", filial);  // not written back
  EXPECT_THROW(net.Call("Short", {ByRef(filial)}), data::TransportError);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("@QT_EXCEDE", records[0].failure.value_or(""));
  EXPECT_TRUE(records[1].failure.has_value());
  net.Disconnect();
  EXPECT_FALSE(net.Connected());
  EXPECT_THROW(net.Call("GetParametros", {}), Error);
  TNetConnection::SetTransportFactory(nullptr);
  EXPECT_THROW(net.Connect(), Error);
}

TEST(ShowaviTest, GuardHidesTheAnimationOnEveryPath) {
  std::vector<int> seen;
  Showavi::Observer() = [&](int kind) { seen.push_back(kind); };
  try {
    Showavi::Guard wait(nullptr, 1);
    EXPECT_TRUE(Showavi::Showing());
    EXPECT_EQ(1, Showavi::Kind());
    {
      Showavi::Guard load(nullptr, 6);
      EXPECT_EQ(6, Showavi::Kind());
    }
    EXPECT_TRUE(Showavi::Showing());  // the outer one still runs
    throw Error("server down");
  } catch (const Error&) {
  }
  EXPECT_FALSE(Showavi::Showing());
  EXPECT_EQ(0, Showavi::Kind());
  Showavi::DeactiveShowAvi();  // nothing shown: no effect
  EXPECT_EQ(0, Showavi::Depth());
  Showavi::Observer() = nullptr;
  EXPECT_EQ((std::vector<int>{1, 6, 0}), seen);
}

// The window system is told, so a view can draw the animation without
// reaching into this layer.
TEST(ShowaviTest, WindowSystemSeesTheAnimationComeAndGo) {
  struct Windows : ui::WindowSystem {
    std::vector<int> seen;
    void ShowModal(ui::Form&) override {}
    void WaitAnimationChanged(int kind) override { seen.push_back(kind); }
  } windows;
  ui::ScriptedDialogs dialogs;
  {
    ui::ScopedDialogs scoped(&dialogs, &windows);
    Showavi::Guard wait(nullptr, 1);
    Showavi::Guard load(nullptr, 6);
  }
  Showavi::Guard after(nullptr, 1);  // window system restored: not seen
  EXPECT_EQ((std::vector<int>{1, 6, 0}), windows.seen);
}

// A screen derived from the base grid screen, as the module's screen is.
class Screen : public TfrmPadraoGrid {
 public:
  Screen() : TfrmPadraoGrid("frmScreen") {
    ds.AddField("NOME", data::FieldType::String, 10);
    ds.CreateDataSet();
    ds.Append();
    ds.FieldByName("NOME").SetAsString("A");
    ds.Post();
    dtsPadrao.SetDataSet(&ds);
  }
  void sbtAlterarClick(ui::Control& sender) override {
    log += "edit;";
    TfrmPadraoGrid::sbtAlterarClick(sender);
  }
  std::string log;
  data::ClientDataset ds{"cdsScreen"};
};

// A clerk reads every menu entry: none may be left without a caption.
TEST(BaseScreenTest, EveryMenuItemHasACaption) {
  auto screen = std::make_unique<Screen>();
  screen->Create();
  int items = 0;
  for (ui::Control* c : screen->AllControls()) {
    if (auto* item = dynamic_cast<ui::MenuItem*>(c)) {
      ++items;
      EXPECT_FALSE(item->Caption().empty()) << item->Name();
    }
  }
  EXPECT_GT(items, 3);
  EXPECT_EQ("Operação", screen->mnuOperacao->Caption());
  EXPECT_EQ("Manutenção", screen->mnuManutencao->Caption());
}

TEST(BaseScreenTest, CommandsMirrorTheirMenuItemsAndRunTheOverride) {
  ui::ScriptedDialogs dialogs;
  ui::ScopedDialogs scope(&dialogs);
  auto screen = std::make_unique<Screen>();
  screen->Create();
  EXPECT_EQ(screen->tshPadrao, screen->pgcPadrao->ActivePage());
  for (const char* name :
       {"lblCodTela",    "panMenu",     "sbtProcurar",  "sbtVerificar",  "sbtAjuda",
        "sbtImprimir",   "sbtFechar",   "pgcPadrao",    "tshPadrao",     "panDbgPadrao",
        "scbFolhaDados", "dbgPadrao",   "panNavigator", "dbtNome",       "dbnPadrao",
        "mnuMenu",       "mnuOperacao", "mnuListagem",  "mnuManutencao", "pmnNavegar",
        "sbtConfirmar",  "mnuCancelar", "sbtAlterar"}) {
    EXPECT_NE(nullptr, screen->Find(name)) << name;
  }
  EXPECT_EQ(screen->dtsPadrao.name, "dtsPadrao");
  EXPECT_EQ("", screen->dbtNome->Text());  // no field named yet
  screen->dbtNome->data_field = "NOME";
  EXPECT_EQ("A", screen->dbtNome->Text());

  // Confirm and cancel start disabled; enabling goes through the menu item.
  EXPECT_EQ(ui::Outcome::Disabled, ui::UserClick(*screen->sbtConfirmar));
  for (ui::MenuItem* m : screen->ConfirmCancelCommands())
    TfrmPadraoGrid::SetCommandEnabled(*m, true);
  EXPECT_TRUE(screen->sbtConfirmar->Enabled());
  EXPECT_TRUE(screen->sbtCancelar->Enabled());

  EXPECT_EQ(ui::Outcome::Done, ui::UserClick(*screen->mnuAlterar));
  EXPECT_EQ(data::DatasetState::Edit, screen->ds.State());
  ui::UserClick(*screen->sbtCancelar);
  EXPECT_EQ(data::DatasetState::Browse, screen->ds.State());
  ui::UserClick(*screen->sbtAlterar);
  screen->ds.FieldByName("NOME").SetAsString("B");
  ui::UserClick(*screen->mnuConfirmar);
  EXPECT_EQ(data::DatasetState::Browse, screen->ds.State());
  EXPECT_EQ("B", screen->ds.FieldByName("NOME").AsString());
  EXPECT_EQ("edit;edit;", screen->log);

  // Closing disposes of the screen.
  ui::UserClick(*screen->sbtFechar);
  EXPECT_TRUE(screen->DisposeRequested());
}

}  // namespace
}  // namespace dg::contracts
