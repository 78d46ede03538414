#include "screen/frm_grade_distribuicao.h"

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/procurar.h"
#include "contracts/showavi.h"
#include "screen/globals.h"
#include "screen/grade_texts.h"
#include "screen/layout.h"
#include "screen/records.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::CheckResultServ;
using contracts::Consiste::EmptyString;
using data::DatasetState;
using data::FieldType;

TfrmGradeDistribuicao::TfrmGradeDistribuicao() : contracts::TfrmPadraoGrid("frmGradeDistribuicao") {
  SetCaption(kCaption);
  lblCodTela->SetCaption("EXP03200");
  border_style = ui::BorderStyle::Single;
  client_width = 1169;
  client_height = 405;
  left = 7;
  top = 122;

  netGradeDistribuicao.server_name = "Exp03200.rdmGradeDistribuicao";
  netGradeDistribuicao.before_connect = [this](contracts::TNetConnection& c) {
    netGradeDistribuicaoBeforeConnect(c);
  };

  // ---- Datasets and data sources, registered by name.
  struct Source {
    data::DataSource* source;
    const char* name;
    data::ClientDataset* dataset;
  };
  for (const Source& s :
       {Source{&dtsExp, "dtsExp", &cdsExp}, Source{&dtsVeiculo, "dtsVeiculo", &cdsVeiculo},
        Source{&dtsErro, "dtsErro", &cdsErro}, Source{&dtsGPedido, "dtsGPedido", &cdsGPedido},
        Source{&dtscarroped, "dtscarroped", &cdscCarrosPedido},
        Source{&dtsPesqTran, "dtsPesqTran", &qryPesqTran.DataSet()},
        Source{&dtsTipoTransp, "dtsTipoTransp", &qryTipoTransp.DataSet()},
        Source{&dtsGradeRota, "dtsGradeRota", &cdsGradeRota},
        Source{&dtsTotal, "dtsTotal", &cdsTotal},
        Source{&dtsItinerario, "dtsItinerario", &cdsItinerario}}) {
    s.source->name = s.name;
    s.source->SetDataSet(s.dataset);
    RegisterDataSource(*s.source);
  }
  dtsPadrao.SetDataSet(&cdsExp);
  for (data::ClientDataset* ds :
       {&cdsGoogleMap, &cdsExp, &cdsVeiculo, &cdsErro, &cdsGPedido, &cdscCarrosPedido,
        &cdsGradeRota, &cdsVdOrdem, &cdsPedidoGrade, &cdsLocal, &cdsEndeFilialProc, &cdsRetTranSp,
        &cdsPacteRotas, &cdsTotal, &cdsItinerario, &cdsOrdemSugerida, &cdsMapaRota}) {
    RegisterDataSet(*ds);
  }

  cdsGoogleMap.AddField("API", FieldType::String, 300);
  cdsGoogleMap.AddField("IDEXITRANSPDIST", FieldType::String, 1);
  cdsGoogleMap.AddField("NRINSJURTRAN", FieldType::String, 20);
  cdsGoogleMap.AddField("CDTIPTRANS", FieldType::String, 4);
  cdsErro.AddField("CODIGO", FieldType::String, 21);
  cdsErro.AddField("NOME", FieldType::String, 50);
  dtsErro.on_state_change = [this](data::DataSource& s) { dtsErroStateChange(s); };

  // Top to bottom and tab by tab: the order of creation is the order of the
  // controls on the form.
  CreateCommandBar();
  CreateTranspPanel();

  // ---- Pages: "Grade por Pedido", "Grade por Item", "Rota por Grade".
  tshPadrao->SetCaption("Grade por Item");
  tbsPedido = &Add<ui::TabSheet>("tbsPedido", pgcPadrao);
  tbsPedido->SetCaption("Grade por Pedido");
  tbsPedido->SetPageIndex(0);
  tshRota = &Add<ui::TabSheet>("tshRota", pgcPadrao);
  tshRota->SetCaption("Rota por Grade");
  pgcPadrao->on_change = [this](ui::Control& s) { pgcPadraoChange(s); };

  CreateItemTab();
  CreateStatusLine();
  CreateOrderTab();
  CreateRouteTab();

  on_activate = [this](ui::Form& f) { FormActivate(f); };
}

void TfrmGradeDistribuicao::CreateCommandBar() {
  auto speed = [this](const char* name, const char* hint,
                      void (TfrmGradeDistribuicao::*h)(ui::Control&)) {
    ui::SpeedButton& b = Add<ui::SpeedButton>(name, panMenu);
    b.hint = hint;
    b.SetEnabled(false);
    b.on_click = [this, h](ui::Control& s) { (this->*h)(s); };
    return &b;
  };
  sbtExpedir = speed("sbtExpedir", kExpedir, &TfrmGradeDistribuicao::sbtExpedirClick);
  sbtInconcistencia = speed("sbtInconcistencia", "Inconcistências para Rota",
                            &TfrmGradeDistribuicao::sbtInconcistenciaClick);
  sbtGeraMapa = speed("sbtGeraMapa", "Rota por Mapa", &TfrmGradeDistribuicao::sbtGeraMapaClick);
  sbtSugerirOrdem =
      speed("sbtSugerirOrdem", kSugerirOrdem, &TfrmGradeDistribuicao::sbtSugerirOrdemClick);
  SetCommandEnabled(*mnuImprimir, false);
  mnuListagem->SetEnabled(false);
  mnuExpedir = &Add<ui::MenuItem>("mnuExpedir", mnuManutencao);
  mnuExpedir->SetCaption(kExpedir);
  mnuExpedir->shortcut = "Ctrl+G";
  mnuExpedir->LinkControl(sbtExpedir);
  mnuExpedir->SetEnabledLinked(false);
  mnuExpedir->on_click = [this](ui::Control& s) { sbtExpedirClick(s); };
}

void TfrmGradeDistribuicao::CreateStatusLine() {
  dbtNome->data_field = "NMFANTCLIE";
  lblEntrega = &Add<ui::Label>("lblEntrega", panNavigator);
  lblEntrega->SetCaption("Entrega: ");
  DBText1 = &Add<ui::DBText>("DBText1", panNavigator);
  DBText1->data_source = &dtsPadrao;
  DBText1->data_field = "DTENTPED";
  lblTransportadora = &Add<ui::Label>("lblTransportadora", panNavigator);
  lblTransportadora->SetCaption("Tranportadora:");
  dbTransportadora = &Add<ui::DBText>("dbTransportadora", panNavigator);
  dbTransportadora->data_source = &dtsPadrao;
  dbTransportadora->data_field = "NMFANTTRAN";
}

TfrmGradeDistribuicao::~TfrmGradeDistribuicao() {
  // Datasets go before the controls of the base: no event may reach them.
  for (data::ClientDataset* ds : DataSets()) {
    ds->after_scroll = nullptr;
    ds->before_post = nullptr;
    ds->after_post = nullptr;
    ds->after_edit = nullptr;
    ds->after_delete = nullptr;
  }
  for (data::DataSource* s : {&dtsExp, &dtsVeiculo, &dtsErro, &dtsGPedido, &dtscarroped,
                              &dtsGradeRota, &dtsTotal, &dtsItinerario, &dtsPadrao}) {
    s->on_state_change = nullptr;
  }
}

// ---- Connection.

void TfrmGradeDistribuicao::netGradeDistribuicaoBeforeConnect(contracts::TNetConnection& sender) {
  sender.host = contracts::Halvorn::WebURL();
  sender.port = contracts::Halvorn::WebPort();
}

// ---- Server calls.

data::Variant TfrmGradeDistribuicao::Chama(const char* method,
                                           const std::vector<contracts::CallArg>& args) {
  return CheckResultServ(netGradeDistribuicao.Call(method, args), true, 0);
}

void TfrmGradeDistribuicao::Carrega(data::ClientDataset& target, const char* method,
                                    const std::vector<contracts::CallArg>& args) {
  target.SetData(Chama(method, args));
}

// ---- Lifecycle.

bool TfrmGradeDistribuicao::ModoPainel() const {
  return HasRecord(cdsGoogleMap) && cdsGoogleMap.FieldByName("IDEXITRANSPDIST").AsString() == "S";
}

std::string TfrmGradeDistribuicao::Parametro(const char* field) const {
  return CurrentText(cdsGoogleMap, field);
}

void TfrmGradeDistribuicao::AplicaParametros() {
  Carrega(cdsGoogleMap, "GetParametros", {ByRef(stFilial)});
  cdsGoogleMap.First();
  const bool painel = ModoPainel();
  panTransp->SetVisible(painel);
  lblTransportadora->SetVisible(!painel);
  dbTransportadora->SetVisible(!painel);
  ExibeExp(!panTransp->Visible());
  cdsExp.FieldByName("CDARVPROD").edit_mask = contracts::Halvorn::DBPict(0);
  boCalculaPeso = true;
  if (!EmptyString(Parametro("NRINSJURTRAN"))) {
    medCdTransp->SetText(Parametro("NRINSJURTRAN"));
    medCdTranspExit(*medCdTransp);
    medTpTransp->SetText(Parametro("CDTIPTRANS"));
    medTpTranspExit(*medTpTransp);
  }
}

void TfrmGradeDistribuicao::FormCreate(ui::Form& sender) {
  TfrmPadraoGrid::FormCreate(sender);
  pgcPadrao->SetActivePage(tbsPedido);
  netGradeDistribuicao.Connect();
  boExpedir = false;
  AplicaParametros();
}

void TfrmGradeDistribuicao::FormActivate(ui::Form& sender) {
  AplicaParametros();
  Repaint();
  if (panTransp->Visible()) {
    if (medCdTransp->CanFocus()) medCdTransp->SetFocus();
  } else {
    CalculaPeso();
    cdsExpAfterScroll(cdsExp);
  }
  ui::GridColumn& retorno =
      dbgPadrao->Column(contracts::Consiste::IndiceCol(*dbgPadrao, "IDRETGRADEDISTR"));
  retorno.pick_list.push_back(msgPadrao.Msg("Filial"));
  retorno.pick_list.push_back(msgPadrao.Msg("Transp."));
  if (Parametro("IDEXITRANSPDIST") == "N") {
    Carrega(cdsGPedido, "GetGradeporPedido", {ByRef(stFilial), ByRef(stNrGrade)});
    if (!cdsGPedido.IsEmpty() && !EmptyString(cdsGPedido.FieldByName("NRPEDIDO").AsString())) {
      if (!EmptyString(Parametro("NRINSJURTRAN"))) {
        Carrega(cdscCarrosPedido, "GetCarroPedido",
                {cdsGPedido.FieldByName("NRPEDIDO").AsString(), ByRef(stFilial),
                 Parametro("NRINSJURTRAN"), ByRef(stNrGrade)});
      }
      panTranspExit(*panTransp);
    }
  }
}

void TfrmGradeDistribuicao::FormClose(ui::Form& sender, ui::CloseAction& action) {
  if (!boExpedir) {
    if (msgPadrao.ShowMsg("CANCELAR_DADOS", contracts::DialogType::Confirmation,
                          contracts::Buttons::YesNo(), 0) != ui::ModalResult::Yes) {
      action = ui::CloseAction::None;
      return;
    }
    {
      contracts::Showavi::Guard avi(this, 1);
      Chama("DelGrade", {DiscardBranch(), ByRef(stNrGrade)});
    }
    if (PboOpcao != nullptr) *PboOpcao = false;
    stNrGrade.clear();
    if (PNrGradeDistr != nullptr) *PNrGradeDistr = stNrGrade;
  }
  netGradeDistribuicao.Disconnect();
  boIdCriado = false;
  TfrmPadraoGrid::FormClose(sender, action);
}

void TfrmGradeDistribuicao::ExibeExp(bool flag) {
  data::HandlerGuard guard(cdsExp.after_scroll);
  cdsExp.SetFiltered(false);
  cdsExp.SetFilter(flag ? "IDCHECK = 'S'" : "IDCHECK = 'X'");
  cdsExp.SetFiltered(true);
}

std::string TfrmGradeDistribuicao::ItemText(const char* field) const {
  return CurrentText(cdsExp, field);
}

std::string TfrmGradeDistribuicao::DiscardBranch() const {
  std::string branch = ItemText("CDFILIAL");
  return branch.empty() ? stFilial : branch;
}

// ---- Commands.

void TfrmGradeDistribuicao::sbtProcurarClick(ui::Control& sender) {
  data::DataSource* source = nullptr;
  if (dbgPedExp->Focused()) {
    source = &dtsPadrao;
  } else if (dbgPadrao->Focused()) {
    source = &dtsVeiculo;
  } else if (dbgGradeRota != nullptr && dbgGradeRota->Focused()) {
    source = &dtsGradeRota;
  } else {
    return;
  }
  if (source->DataSet() != nullptr && source->DataSet()->Active()) {
    contracts::Procurar::Procura(*source->DataSet());
  }
}

void TfrmGradeDistribuicao::sbtCancelarClick(ui::Control& sender) {
  if (dbgGradeRota != nullptr && ActiveControl() == dbgGradeRota) {
    if (cdsGradeRota.Active()) CancelaAlteracoes(cdsGradeRota);
    return;
  }
  CancelaAlteracoes(cdsVeiculo);
  TfrmPadraoGrid::sbtCancelarClick(sender);
}

void TfrmGradeDistribuicao::sbtAlterarClick(ui::Control& sender) {
  if (pgcPadrao->ActivePage() == tshRota) {
    if (dbgGradeRota != nullptr && ActiveControl() == dbgGradeRota && cdsGradeRota.Active()) {
      cdsGradeRota.Edit();
    }
    return;
  }
  TfrmPadraoGrid::sbtAlterarClick(sender);
}

void TfrmGradeDistribuicao::CancelaAlteracoes(data::ClientDataset& dataset) {
  if (!dataset.Active()) return;
  if (Editing(dataset)) {
    dataset.Cancel();
  }
  dataset.CancelUpdates();
}

void TfrmGradeDistribuicao::sbtVerificarClick(ui::Control& sender) {
  if (pgcPadrao->ActivePage() == tshPadrao) {
    {
      std::optional<ui::UpdateLock> lock;
      if (sbtInconcistencia->Enabled()) {
        lock.emplace(*this);
        cdsVeiculo.Edit();
        sbtConfirmarClick(*sbtConfirmar);
      }
    }
    cdsExpAfterScroll(cdsExp);
  }
  if (pgcPadrao->ActivePage() == tshRota) VerificarRota();
}

// ---- Page switching.

void TfrmGradeDistribuicao::pgcPadraoChange(ui::Control& sender) {
  ui::TabSheet* page = pgcPadrao->ActivePage();
  if (page == tshRota) {
    sbtVerificarClick(*sbtVerificar);
    sbtGeraMapa->SetEnabled(dtsGradeRota.State() == DatasetState::Browse &&
                            !cdsGradeRota.IsEmpty());
    sbtSugerirOrdem->SetEnabled(sbtGeraMapa->Enabled());
    dtsGradeRotaStateChange(dtsGradeRota);
  } else if (page == tshPadrao) {
    CarregaVeiculos();
  } else if (page == tbsPedido) {
    sbtGeraMapa->SetEnabled(false);
    sbtSugerirOrdem->SetEnabled(false);
    dtsExpStateChange(dtsExp);
  }
}

}  // namespace dg::screen
