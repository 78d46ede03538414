// Tab "Grade por Item": the items, the vehicles of the current item, the
// totals and the manual allocation of the item's quantity to vehicles.
#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/showavi.h"
#include "data/item_fields.h"
#include "data/quantity.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/layout.h"
#include "screen/records.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::EmptyString;
using data::DatasetState;
using data::FieldType;

void TfrmGradeDistribuicao::CreateItemTab() {
  // Items: the shared item field list, calculated weight and volume.
  for (const data::ItemFieldSpec& spec : data::ItemFields()) {
    data::Field& f = spec.calculated ? cdsExp.AddCalculatedField(spec.name, spec.type, spec.size)
                     : spec.fixed    ? cdsExp.AddFixedField(spec.name, spec.size)
                                     : cdsExp.AddField(spec.name, spec.type, spec.size);
    f.display_label = spec.label;
    f.display_format = spec.display_format;
    f.edit_format = spec.edit_format;
    f.edit_mask = spec.edit_mask;
    f.visible = spec.visible;
  }
  cdsExp.SetIndexFieldNames("IDPRIOPED;DTENTPED;NRPEDIDO;NRITEMPED");
  cdsExp.on_calc_fields = [this](data::ClientDataset& ds) { cdsExpCalcFields(ds); };
  cdsExp.after_scroll = [this](data::ClientDataset& ds) { cdsExpAfterScroll(ds); };
  cdsExp.FieldByName("NRPEDIDO").on_get_text = [this](data::Field&, bool) {
    return cdsExp.FieldByName("NRPEDIDO").AsString() + " / " +
           cdsExp.FieldByName("NRITEMPED").AsString();
  };
  dtsExp.on_state_change = [this](data::DataSource& s) { dtsExpStateChange(s); };

  // Vehicles of the current item.
  AddLabelled(cdsVeiculo, "DSTIPOVEIC", FieldType::String, 50, "Caminhão");
  AddLabelled(cdsVeiculo, "QtTranspItGr", FieldType::Double, 0, "Qtde. Transp", "0.00000");
  AddLabelled(cdsVeiculo, "QTCAPACIVIAT", FieldType::Double, 0, "Peso Total", "#,###0.000");
  AddLabelled(cdsVeiculo, "CDVIATURA", FieldType::String, 4, "Caminhão", "", false);
  AddLabelled(cdsVeiculo, "VRVOLUMEVIAT", FieldType::Double, 0, "Vol. Total", "#,###0.000");
  AddLabelled(cdsVeiculo, "VrPesTranspItGr", FieldType::Double, 0, "", "", false);
  AddLabelled(cdsVeiculo, "VRPESOUTIL", FieldType::Double, 0, "Peso Livre", "#,###0.000");
  AddLabelled(cdsVeiculo, "IDTPIJURTRAN", FieldType::String, 1, "", "", false);
  AddLabelled(cdsVeiculo, "NRINSJURTRAN", FieldType::String, 20, "", "", false);
  AddLabelled(cdsVeiculo, "CDFILIAL", FieldType::String, 4, "", "", false);
  AddLabelled(cdsVeiculo, "NRPEDIDO", FieldType::String, 10, "", "", false);
  AddLabelled(cdsVeiculo, "DTHRENTGRADE", FieldType::DateTime, 0, "", "", false);
  AddLabelled(cdsVeiculo, "CDPRODUTO", FieldType::String, 10, "", "", false);
  AddLabelled(cdsVeiculo, "NRITEMPED", FieldType::String, 10, "", "", false);
  AddLabelled(cdsVeiculo, "VrVolTranspItGr", FieldType::Double, 0, "", "", false);
  AddLabelled(cdsVeiculo, "VRVOLUMEUTIL", FieldType::Double, 0, "Vol. Livre", "#,###0.000");
  data::Field& retorno =
      AddLabelled(cdsVeiculo, "IDRETGRADEDISTR", FieldType::String, 1, "Retorno");
  AddLabelled(cdsVeiculo, "NRGRADEDISTR", FieldType::String, 10, "", "", false);
  AddLabelled(cdsVeiculo, "CDOPERLANCGRAD", FieldType::String, 12, "", "", false);
  AddLabelled(cdsVeiculo, "CDROTATRANS", FieldType::String, 6, "", "", false);
  retorno.on_get_text = [this](data::Field& f, bool) { return TextoRetorno(f.AsString()); };
  retorno.on_set_text = [this](data::Field& f, const std::string& text) { EntraRetorno(text); };
  cdsVeiculo.after_edit = [this](data::ClientDataset& ds) { cdsVeiculoAfterEdit(ds); };
  cdsVeiculo.before_post = [this](data::ClientDataset& ds) { cdsVeiculoBeforePost(ds); };
  cdsVeiculo.after_scroll = [this](data::ClientDataset& ds) { cdsVeiculoAfterScroll(ds); };

  // ---- Controls: totals strip, item grid, splitter, vehicle grid.
  panPesoVol = &Add<ui::Panel>("panPesoVol", tshPadrao);
  panPesoVol->align = ui::Align::Top;
  SetBounds(*panPesoVol, 0, 0, 1161, 30);
  lblPesoTotal = &Add<ui::Label>("lblPesoTotal", panPesoVol);
  lblPesoTotal->SetCaption("Peso Total");
  SetBounds(*lblPesoTotal, 8, 8, 60, 13);
  nedPesoTotal = &Add<contracts::TNumberEdit>("nedPesoTotal", panPesoVol);
  SetBounds(*nedPesoTotal, 72, 4, 100, 21);
  lblVolTotal = &Add<ui::Label>("lblVolTotal", panPesoVol);
  lblVolTotal->SetCaption("Volume Total");
  SetBounds(*lblVolTotal, 188, 8, 70, 13);
  nedVolTotal = &Add<contracts::TNumberEdit>("nedVolTotal", panPesoVol);
  SetBounds(*nedVolTotal, 262, 4, 100, 21);
  for (contracts::TNumberEdit* n : {nedPesoTotal, nedVolTotal}) {
    n->decimals = 3;
    n->thousands = false;
    n->SetEnabled(false);
  }
  dbgPedExp = &Add<ui::DataGrid>("dbgPedExp", tshPadrao);
  dbgPedExp->align = ui::Align::Left;
  dbgPedExp->width = 482;
  dbgPedExp->color = ui::ColorName::InfoTip;
  dbgPedExp->read_only = true;
  dbgPedExp->options = ui::GridOptions::DataGrid(/*editing=*/false);
  dbgPedExp->SetDataSource(&dtsExp);
  AddColumn(*dbgPedExp, "NRPEDIDO", 144).title = "Pedido / Nr.Item";
  AddColumn(*dbgPedExp, "CDARVPROD", 99);
  AddColumn(*dbgPedExp, "QTDEAEXP", 81, false, true);
  AddColumn(*dbgPedExp, "VRPESOITEM", 68, false, true);
  AddColumn(*dbgPedExp, "VRVOLUMEITEM", 63, false, true);
  Splitter1 = &Add<ui::Splitter>("Splitter1", tshPadrao);
  Splitter1->align = ui::Align::Left;
  Splitter1->width = 4;
  // The base grid area follows the splitter and shows the vehicles.
  panDbgPadrao->align = ui::Align::Client;
  dbgPadrao->SetDataSource(&dtsVeiculo);
  AddColumn(*dbgPadrao, "DSTIPOVEIC", 95, true);
  AddColumn(*dbgPadrao, "QtTranspItGr", 72, false, true);
  AddColumn(*dbgPadrao, "QTCAPACIVIAT", 64, true, true);
  AddColumn(*dbgPadrao, "VRVOLUMEVIAT", 62, true, true);
  AddColumn(*dbgPadrao, "VRPESOUTIL", 70, true, true);
  AddColumn(*dbgPadrao, "VRVOLUMEUTIL", 60, true, true);
  AddColumn(*dbgPadrao, "IDRETGRADEDISTR", 44);
  dbgPadrao->on_col_enter = [this](ui::Control& s) { dbgPadraoColEnter(s); };
  imgCheck = &Add<ui::Image>("imgCheck", tshPadrao);
  imgCheck->picture = ui::LoadPicture("check");
  imgUncheck = &Add<ui::Image>("imgUncheck", tshPadrao);
  imgUncheck->picture = ui::LoadPicture("uncheck");
  for (ui::Image* img : {imgCheck, imgUncheck}) {
    img->SetVisible(false);
    img->transparent = true;
    img->width = img->height = 16;
  }
}

void TfrmGradeDistribuicao::cdsExpCalcFields(data::ClientDataset& ds) {
  const double qtde = ds.FieldByName("QTDEAEXP").AsFloat();
  ds.FieldByName("VRPESOITEM").SetAsFloat(qtde * ds.FieldByName("VRPESOBRUTPR").AsFloat());
  ds.FieldByName("VRVOLUMEITEM").SetAsFloat(qtde * ds.FieldByName("VRVOLMED").AsFloat());
}

void TfrmGradeDistribuicao::cdsExpAfterScroll(data::ClientDataset&) { CarregaVeiculos(); }

void TfrmGradeDistribuicao::CarregaVeiculos() {
  contracts::Showavi::Guard avi(this, 6);
  std::string chave = ChaveTransportadora();
  data::Variant entrega;
  if (HasRecord(cdsExp)) entrega = cdsExp.FieldByName("DTENTPED").Value();
  Carrega(cdsVeiculo, "GetVeiculo",
          {ByRef(chave), entrega, ItemText("CDFILIAL"), ItemText("NRPEDIDO"), ItemText("NRITEMPED"),
           ByRef(stNrGrade)});
}

void TfrmGradeDistribuicao::CalculaPeso() {
  if (!boCalculaPeso) return;
  boCalculaPeso = false;
  stNrGrade = netGradeDistribuicao.Call("PrxNrGrade", {ItemText("CDFILIAL")}).ToString();
  if (!cdsExp.Active()) return;
  data::ControlsGuard controls(cdsExp);
  data::HandlerGuard no_scroll(cdsExp.after_scroll);
  // On the first item, a pending edit posted; then the items are summed
  // without moving through them.
  cdsExp.First();
  const data::NumberColumn quantity = cdsExp.Numbers(cdsExp.FieldByName("QTDEAEXP"));
  const data::NumberColumn weight = cdsExp.Numbers(cdsExp.FieldByName("VRPESOBRUTPR"));
  const data::NumberColumn vol = cdsExp.Numbers(cdsExp.FieldByName("VRVOLMED"));
  // Accumulated in extended precision, without intermediate rounding.
  long double peso = 0;
  long double volume = 0;
  for (data::RecordWalk item = cdsExp.Walk(); item.Next();) {
    const long double qtde = quantity.At(item.Row());
    peso += qtde * static_cast<long double>(weight.At(item.Row()));
    volume += qtde * static_cast<long double>(vol.At(item.Row()));
  }
  nedPesoTotal->SetNumber(static_cast<double>(peso));
  nedVolTotal->SetNumber(static_cast<double>(volume));
}

bool TfrmGradeDistribuicao::FocoNoPainelTransp() const {
  const ui::Control* focused = ActiveControl();
  return focused != nullptr &&
         (focused == medCdTransp || focused == medTpTransp || focused == cbbTipoFrete);
}

bool TfrmGradeDistribuicao::RotaLiberada() const {
  return !sbtInconcistencia->Enabled() && cdsExp.State() == DatasetState::Browse &&
         !FocoNoPainelTransp();
}

void TfrmGradeDistribuicao::dtsExpStateChange(data::DataSource&) {
  const DatasetState s = cdsExp.State();
  const bool browse = s == DatasetState::Browse;
  const bool editing = Editing(cdsExp);
  const bool vazio = cdsExp.IsEmpty();
  const bool painel = FocoNoPainelTransp();
  for (ui::MenuItem* m : ConfirmCancelCommands()) SetCommandEnabled(*m, editing);
  for (ui::MenuItem* m : RecordCommands()) SetCommandEnabled(*m, false);
  for (ui::MenuItem* m : BrowseCommands()) SetCommandEnabled(*m, browse && !vazio);
  tshRota->SetEnabled(RotaLiberada());
  sbtExpedir->SetEnabled(browse && !vazio && !painel);
  mnuExpedir->SetEnabledLinked(sbtExpedir->Enabled());
  StateControl()->SetEnabled(browse);
  dbgPedExp->SetEnabled(browse);
  sbtGeraMapa->SetEnabled(false);
  sbtSugerirOrdem->SetEnabled(false);
  dbgPadrao->Column(contracts::Consiste::IndiceCol(*dbgPadrao, "IDRETGRADEDISTR")).button_style =
      vazio ? ui::ButtonStyle::None : ui::ButtonStyle::Auto;
  dbgPadraoColEnter(*dbgPadrao);
}

void TfrmGradeDistribuicao::dbgPadraoColEnter(ui::Control&) {
  const data::Field* selected = dbgPadrao->SelectedField();
  const bool ativo = HasRecord(cdsVeiculo);
  if (selected != nullptr && selected->FieldName() == "IDRETGRADEDISTR") {
    dbgPadrao->options.editing = ativo && cdsVeiculo.FieldByName("QtTranspItGr").AsFloat() != 0;
  } else {
    dbgPadrao->options.editing = ativo && !cdsVeiculo.FieldByName("DSTIPOVEIC").AsString().empty();
  }
}

void TfrmGradeDistribuicao::dbgPadraoKeyPress(ui::Control& sender, char& key) {
  TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
  const data::Field* selected = dbgPadrao->SelectedField();
  if (!HasRecord(cdsVeiculo) || selected == nullptr || selected->FieldName() != "IDRETGRADEDISTR" ||
      EmptyString(cdsVeiculo.FieldByName("QtTranspItGr").AsString())) {
    return;
  }
  if (key == 't' || key == 'T') {
    GravaRetorno("T");
  } else if (key == 'f' || key == 'F') {
    GravaRetorno("F");
  } else {
    throw Abort();
  }
}

std::string TfrmGradeDistribuicao::TextoRetorno(const std::string& stored) const {
  if (stored == "F") return msgPadrao.Msg("Filial");
  if (stored == "T") return msgPadrao.Msg("Transp.");
  return "";
}

void TfrmGradeDistribuicao::EntraRetorno(const std::string& text) {
  if (text == msgPadrao.Msg("Filial") || text == "f" || text == "F") {
    GravaRetorno("F");
  } else if (text == msgPadrao.Msg("Transp.") || text == "t" || text == "T") {
    GravaRetorno("T");
  }
}

void TfrmGradeDistribuicao::GravaRetorno(const char* flag) {
  if (!Editing(cdsVeiculo)) cdsVeiculo.Edit();
  cdsVeiculo.FieldByName("IDRETGRADEDISTR").SetValue(flag);
}

void TfrmGradeDistribuicao::sbtConfirmarClick(ui::Control&) {
  ui::TabSheet* page = pgcPadrao->ActivePage();
  if (page == tshPadrao || page == tbsPedido) {
    if (!HasRecord(cdsItinerario)) {
      Salvar();
    } else if (msgMensagensPadroes.ShowMsg("Exclui_Iti", contracts::DialogType::Confirmation,
                                           contracts::Buttons::YesNo(),
                                           0) == ui::ModalResult::Yes) {
      Salvar();
    } else {
      CancelaAlteracoes(cdsVeiculo);
      CancelaAlteracoes(cdsExp);
    }
  } else if (page == tshRota) {
    Salvar();
  }
  CarregaCarrosPedido();
}

// ---- Manual allocation.

void TfrmGradeDistribuicao::cdsVeiculoAfterEdit(data::ClientDataset& ds) {
  if (cdsExp.State() == DatasetState::Browse && !cdsExp.IsEmpty()) cdsExp.Edit();
  ds.FieldByName("IDRETGRADEDISTR").SetValue("F");
}

void TfrmGradeDistribuicao::Vd_QtdeTransp() {
  if (!Editing(cdsVeiculo)) return;
  try {
    const double p = cdsExp.FieldByName("VRPESOBRUTPR").AsFloat();
    const double v = cdsExp.FieldByName("VRVOLMED").AsFloat();
    const data::Field& qt = cdsVeiculo.FieldByName("QtTranspItGr");
    // The quantity as the server will store it: checked at that precision,
    // and never below zero (a vehicle cannot carry less than nothing).
    const double q = data::RoundQuantity(qt.AsFloat());
    if (q < 0) contracts::Consiste::MensErro("A quantidade não pode ser negativa.", true);
    // What the row carried when it was loaded; the free room still counts it.
    double q0 = 0;
    if (cdsVeiculo.State() == DatasetState::Edit) {
      const data::Variant antes = qt.OldValue();
      if (!antes.IsEmptyOrNull()) q0 = antes.ToDouble();
    }
    // The server checks a save by the same rule, so what passes here is stored.
    const double livre_peso = cdsVeiculo.FieldByName("VRPESOUTIL").AsFloat();
    const double livre_volume = cdsVeiculo.FieldByName("VRVOLUMEUTIL").AsFloat();
    if (!data::LoadFits(q * p, livre_peso, p * q0)) {
      contracts::Consiste::MensErro(msgPadrao.Msg("CAPA_PESO_MENOR"), true);
    }
    if (!data::LoadFits(q * v, livre_volume, v * q0)) {
      contracts::Consiste::MensErro(msgPadrao.Msg("CAPA_VOLUME_MENOR"), true);
    }
  } catch (...) {
    if (dbgPadrao->CanFocus()) dbgPadrao->SetFocus();
    cdsExp.FieldByName("QTDEAEXP").FocusControl();
    throw;
  }
}

void TfrmGradeDistribuicao::cdsVeiculoBeforePost(data::ClientDataset& ds) {
  Vd_QtdeTransp();
  data::Field& qt = ds.FieldByName("QtTranspItGr");
  if (!qt.IsNull()) qt.SetAsFloat(data::RoundQuantity(qt.AsFloat()));
  for (const char* field : {"CDFILIAL", "NRPEDIDO", "NRITEMPED", "CDPRODUTO"}) {
    ds.FieldByName(field).SetValue(cdsExp.FieldByName(field).Value());
  }
  const std::string rota = cdsExp.FieldByName("CDROTATRANSPED").AsString();
  ds.FieldByName("CDROTATRANS")
      .SetValue(EmptyString(rota) ? cdsExp.FieldByName("CDROTAFILIAL").Value()
                                  : data::Variant(rota));
  ds.FieldByName("DTHRENTGRADE").SetValue(cdsExp.FieldByName("DTENTPED").Value());
  ds.FieldByName("NRGRADEDISTR").SetValue(stNrGrade);
  ds.FieldByName("CDOPERLANCGRAD").SetValue(contracts::Halvorn::Operador());
}

}  // namespace dg::screen
