#include "contracts/frm_padrao_grid.h"

#include "contracts/procurar.h"
#include "ui/application.h"

namespace dg::contracts {

namespace {

using Handler = void (TfrmPadraoGrid::*)(ui::Control&);

}  // namespace

TfrmPadraoGrid::TfrmPadraoGrid(std::string name)
    : ui::Form(std::move(name)),
      msgPadrao("msgPadrao", MsgPadraoLines()),
      msgMensagensPadroes("msgMensagensPadroes", MsgMensagensPadroesLines()) {
  dtsPadrao.name = "dtsPadrao";
  RegisterDataSource(dtsPadrao);

  lblCodTela = &Add<ui::Label>("lblCodTela");
  panMenu = &Add<ui::Panel>("panMenu");
  panMenu->align = ui::Align::Top;

  mnuMenu = &Add<ui::Menu>("mnuMenu");
  mnuOperacao = &Add<ui::MenuItem>("mnuOperacao", mnuMenu);
  mnuOperacao->SetCaption("Operação");
  mnuListagem = &Add<ui::MenuItem>("mnuListagem", mnuOperacao);
  mnuListagem->SetCaption("Listagem");
  mnuManutencao = &Add<ui::MenuItem>("mnuManutencao", mnuOperacao);
  mnuManutencao->SetCaption("Manutenção");
  pmnNavegar = &Add<ui::Menu>("pmnNavegar");
  pmnNavegar->popup = true;

  // Each command: a flat button on the command bar mirroring a menu item;
  // both run the same virtual handler.
  auto command = [this](const char* button, const char* item, const char* caption, Handler h,
                        ui::SpeedButton** b, ui::MenuItem** m) {
    *b = &Add<ui::SpeedButton>(button, panMenu);
    (*b)->hint = caption;
    *m = &Add<ui::MenuItem>(item, mnuManutencao);
    (*m)->SetCaption(caption);
    (*m)->LinkControl(*b);
    auto run = [this, h](ui::Control& sender) { (this->*h)(sender); };
    (*b)->on_click = run;
    (*m)->on_click = run;
  };
  command("sbtConfirmar", "mnuConfirmar", "Confirmar", &TfrmPadraoGrid::sbtConfirmarClick,
          &sbtConfirmar, &mnuConfirmar);
  command("sbtCancelar", "mnuCancelar", "Cancelar", &TfrmPadraoGrid::sbtCancelarClick, &sbtCancelar,
          &mnuCancelar);
  command("sbtIncluir", "mnuIncluir", "Incluir", &TfrmPadraoGrid::sbtIncluirClick, &sbtIncluir,
          &mnuIncluir);
  command("sbtExcluir", "mnuExcluir", "Excluir", &TfrmPadraoGrid::sbtExcluirClick, &sbtExcluir,
          &mnuExcluir);
  command("sbtAlterar", "mnuAlterar", "Alterar", &TfrmPadraoGrid::sbtAlterarClick, &sbtAlterar,
          &mnuAlterar);
  command("sbtProcurar", "mnuProcurar", "Procurar", &TfrmPadraoGrid::sbtProcurarClick, &sbtProcurar,
          &mnuProcurar);
  command("sbtVerificar", "mnuVerificar", "Verificar", &TfrmPadraoGrid::sbtVerificarClick,
          &sbtVerificar, &mnuVerificar);
  command("sbtImprimir", "mnuImprimir", "Imprimir", &TfrmPadraoGrid::sbtImprimirClick, &sbtImprimir,
          &mnuImprimir);
  command("sbtFechar", "mnuFechar", "Fechar", &TfrmPadraoGrid::sbtFecharClick, &sbtFechar,
          &mnuFechar);
  sbtAjuda = &Add<ui::SpeedButton>("sbtAjuda", panMenu);
  sbtAjuda->hint = "Ajuda";
  sbtAjuda->on_click = [this](ui::Control& sender) { sbtAjudaClick(sender); };
  // Record commands start disabled until a state rule enables them.
  for (ui::MenuItem* m : ConfirmCancelCommands()) SetCommandEnabled(*m, false);
  for (ui::MenuItem* m : RecordCommands()) SetCommandEnabled(*m, false);

  pgcPadrao = &Add<ui::PageControl>("pgcPadrao");
  pgcPadrao->align = ui::Align::Client;
  tshPadrao = &Add<ui::TabSheet>("tshPadrao", pgcPadrao);
  panDbgPadrao = &Add<ui::Panel>("panDbgPadrao", tshPadrao);
  panDbgPadrao->align = ui::Align::Client;
  scbFolhaDados = &Add<ui::Panel>("scbFolhaDados", panDbgPadrao);
  scbFolhaDados->align = ui::Align::Client;
  scbFolhaDados->border = false;
  dbgPadrao = &Add<ui::DataGrid>("dbgPadrao", scbFolhaDados);
  dbgPadrao->align = ui::Align::Client;
  dbgPadrao->SetDataSource(&dtsPadrao);
  dbgPadrao->on_key_press = [this](ui::Control& sender, char& key) {
    dbgPadraoKeyPress(sender, key);
  };
  dbgPadrao->on_key_down = [this](ui::Control& sender, int& key) { FormKeyDown(sender, key); };

  panNavigator = &Add<ui::Panel>("panNavigator");
  panNavigator->align = ui::Align::Bottom;
  dbtNome = &Add<ui::DBText>("dbtNome", panNavigator);
  dbtNome->data_source = &dtsPadrao;
  dbnPadrao = &Add<ui::DBNavigator>("dbnPadrao", panNavigator);
  dbnPadrao->data_source = &dtsPadrao;

  on_create = [this](ui::Form& sender) { FormCreate(sender); };
  on_close = [this](ui::Form& sender, ui::CloseAction& action) { FormClose(sender, action); };
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

void TfrmPadraoGrid::SetCommandEnabled(ui::MenuItem& command, bool enabled) {
  command.SetEnabledLinked(enabled);
}

data::ClientDataset* TfrmPadraoGrid::BaseDataSet() const {
  data::ClientDataset* ds = dtsPadrao.DataSet();
  return ds != nullptr && ds->Active() ? ds : nullptr;
}

void TfrmPadraoGrid::FormCreate(ui::Form& sender) {
  if (!pgcPadrao->Pages().empty()) pgcPadrao->SetActivePage(pgcPadrao->Pages().front());
}

void TfrmPadraoGrid::FormClose(ui::Form& sender, ui::CloseAction& action) {
  action = ui::CloseAction::Free;
}

void TfrmPadraoGrid::FormKeyDown(ui::Control& sender, int& key) {}

void TfrmPadraoGrid::dbgPadraoKeyPress(ui::Control& sender, char& key) {}

void TfrmPadraoGrid::sbtConfirmarClick(ui::Control& sender) {
  data::ClientDataset* ds = BaseDataSet();
  if (ds != nullptr &&
      (ds->State() == data::DatasetState::Edit || ds->State() == data::DatasetState::Insert)) {
    ds->Post();
  }
}

void TfrmPadraoGrid::sbtCancelarClick(ui::Control& sender) {
  data::ClientDataset* ds = BaseDataSet();
  if (ds != nullptr &&
      (ds->State() == data::DatasetState::Edit || ds->State() == data::DatasetState::Insert)) {
    ds->Cancel();
  }
}

void TfrmPadraoGrid::sbtIncluirClick(ui::Control& sender) {
  if (data::ClientDataset* ds = BaseDataSet()) ds->Insert();
}

void TfrmPadraoGrid::sbtExcluirClick(ui::Control& sender) {
  data::ClientDataset* ds = BaseDataSet();
  if (ds == nullptr || ds->IsEmpty()) return;
  if (msgMensagensPadroes.ShowMsg("Excl", DialogType::Confirmation, Buttons::YesNo(), 0) ==
      ui::ModalResult::Yes) {
    ds->Delete();
  }
}

void TfrmPadraoGrid::sbtAlterarClick(ui::Control& sender) {
  data::ClientDataset* ds = BaseDataSet();
  if (ds != nullptr && !ds->IsEmpty()) ds->Edit();
}

void TfrmPadraoGrid::sbtProcurarClick(ui::Control& sender) {
  if (data::ClientDataset* ds = BaseDataSet()) Procurar::Procura(*ds);
}

void TfrmPadraoGrid::sbtVerificarClick(ui::Control& sender) {}

void TfrmPadraoGrid::sbtImprimirClick(ui::Control& sender) {}

void TfrmPadraoGrid::sbtAjudaClick(ui::Control& sender) {}

void TfrmPadraoGrid::sbtFecharClick(ui::Control& sender) { Close(); }

}  // namespace dg::contracts
