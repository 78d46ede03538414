#include "screen/frm_grade_distribuicao.h"

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/lookup_sql.h"
#include "contracts/procurar.h"
#include "contracts/showavi.h"
#include "data/item_fields.h"
#include "entry/globals.h"
#include "screen/grade_texts.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::CheckResultServ;
using contracts::Consiste::EmptyString;
using data::DatasetState;
using data::FieldType;

namespace {

void SetBounds(ui::Control& c, int left, int top, int width, int height) {
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
}

data::Field& AddLabelled(data::ClientDataset& ds, const char* name, FieldType type, int size,
                         const char* label, const char* format = "", bool visible = true) {
  data::Field& f = ds.AddField(name, type, size);
  f.display_label = label;
  f.display_format = format;
  f.visible = visible;
  return f;
}

ui::GridColumn& AddColumn(ui::DataGrid& grid, const char* field, int width = 64,
                          bool read_only = false, bool right_title = false) {
  ui::GridColumn& c = grid.AddColumn(field);
  c.width = width;
  c.read_only = read_only;
  if (right_title) c.title_alignment = ui::Alignment::Right;
  return c;
}

}  // namespace

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
        &cdsPacteRotas, &cdsTotal, &cdsItinerario}) {
    RegisterDataSet(*ds);
  }

  cdsGoogleMap.AddField("API", FieldType::String, 300);
  cdsGoogleMap.AddField("IDEXITRANSPDIST", FieldType::String, 1);
  cdsGoogleMap.AddField("NRINSJURTRAN", FieldType::String, 20);
  cdsGoogleMap.AddField("CDTIPTRANS", FieldType::String, 4);

  // Items: the shared item field list, calculated weight and volume.
  for (const data::ItemFieldSpec& spec : data::ItemFields()) {
    data::Field& f = spec.calculated ? cdsExp.AddCalculatedField(spec.name, spec.type, spec.size)
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

  cdsErro.AddField("CODIGO", FieldType::String, 21);
  cdsErro.AddField("NOME", FieldType::String, 50);
  dtsErro.on_state_change = [this](data::DataSource& s) { dtsErroStateChange(s); };

  AddLabelled(cdsGPedido, "NRPEDIDO", FieldType::String, 10, "Pedido").display_width = 12;
  AddLabelled(cdsGPedido, "NMFANTCLIE", FieldType::String, 50, "Cliente").display_width = 30;
  AddLabelled(cdsGPedido, "PESO", FieldType::Double, 0, "Peso Total");
  AddLabelled(cdsGPedido, "VRVOLMED", FieldType::Double, 0, "Volume Total");
  AddLabelled(cdsGPedido, "VRVOLTOTAL", FieldType::Double, 0, "Volume Total", "0.000");
  AddLabelled(cdsGPedido, "VRPESOTOTAL", FieldType::Double, 0, "Peso Total", "0.000");
  cdsGPedido.after_scroll = [this](data::ClientDataset& ds) { cdsGPedidoAfterScroll(ds); };

  cdscCarrosPedido.AddField("IDMARCADO", FieldType::String, 1).display_label = "    ";
  cdscCarrosPedido.FieldByName("IDMARCADO").Def();
  AddLabelled(cdscCarrosPedido, "CDVIATURA", FieldType::String, 4, "", "", false);
  AddLabelled(cdscCarrosPedido, "DSTIPOVEIC", FieldType::String, 50, "Veiculo").display_width = 6;
  AddLabelled(cdscCarrosPedido, "QTCAPACIVIAT", FieldType::Double, 0, "Peso Total");
  AddLabelled(cdscCarrosPedido, "VRVOLUMEVIAT", FieldType::Double, 0, "Volume Total");
  AddLabelled(cdscCarrosPedido, "VRPESOUTIL", FieldType::Double, 0, "Peso Livre (%)");
  AddLabelled(cdscCarrosPedido, "VRVOLUMEUTIL", FieldType::Double, 0, "Vol. Livre (%)");
  AddLabelled(cdscCarrosPedido, "QTPEDIDOS", FieldType::Double, 0, "Pedidos");

  // ---- Look-ups: result fields in list order, labels as the list shows.
  contracts::lookup::SetPesqTranTexts(qryPesqTran);
  contracts::lookup::SetTipoTranspTexts(qryTipoTransp);
  {
    data::ClientDataset& q = qryPesqTran.DataSet();
    q.AddField("NRINSJURTRAN", FieldType::String, 20, true).display_label = "Inscrição";
    q.AddField("NMFANTTRAN", FieldType::String, 40).display_label = "Nome";
    q.AddField("CDTIPTRANS", FieldType::String, 4).display_label = "Tipo de Transporte";
    q.AddField("IDTPIJURTRAN", FieldType::String, 1, true).visible = false;
    data::ClientDataset& t = qryTipoTransp.DataSet();
    t.AddField("CDTIPTRANS", FieldType::String, 4, true).display_label = "Código";
    t.AddField("NMTIPTRANS", FieldType::String, 40).display_label = "Nome";
  }

  // ---- Command bar and menu.
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
  SetCommandEnabled(*mnuImprimir, false);
  mnuListagem->SetEnabled(false);
  mnuExpedir = &Add<ui::MenuItem>("mnuExpedir", mnuManutencao);
  mnuExpedir->SetCaption(kExpedir);
  mnuExpedir->shortcut = "Ctrl+G";
  mnuExpedir->LinkControl(sbtExpedir);
  mnuExpedir->SetEnabledLinked(false);
  mnuExpedir->on_click = [this](ui::Control& s) { sbtExpedirClick(s); };

  // ---- Transporter panel, under the command bar.
  panTransp = &Add<ui::Panel>("panTransp");
  panTransp->align = ui::Align::Top;
  SetBounds(*panTransp, 0, 41, 1169, 32);
  panTransp->on_enter = [this](ui::Control& s) { panTranspEnter(s); };
  panTransp->on_exit = [this](ui::Control& s) { panTranspExit(s); };
  auto bold_label = [this](const char* name, const char* caption, int left) {
    ui::Label& l = Add<ui::Label>(name, panTransp);
    l.SetCaption(caption);
    l.font.bold = true;
    SetBounds(l, left, 9, 0, 13);
    return &l;
  };
  lblTransp = bold_label("lblTransp", "Transportadora", 8);
  medCdTransp = &Add<ui::MaskEdit>("medCdTransp", panTransp);
  SetBounds(*medCdTransp, 104, 5, 130, 21);
  medCdTransp->color = ui::ColorName::InfoTip;
  medCdTransp->tab_order = 0;
  medCdTransp->on_change = [this](ui::Control& s) { medCdTranspChange(s); };
  medCdTransp->on_enter = [this](ui::Control& s) { medCdTranspEnter(s); };
  medCdTransp->on_exit = [this](ui::Control& s) { medCdTranspExit(s); };
  btnTransp = &Add<contracts::TBtnPesquisa>("btnTransp", panTransp);
  SetBounds(*btnTransp, 236, 5, 23, 22);
  btnTransp->hint = "Pesquisar";
  btnTransp->Associate = medCdTransp;
  btnTransp->Title = "Transportadora";
  btnTransp->DataSource = &dtsPesqTran;
  btnTransp->EmptyError = "Não há transportadora cadastrada.";
  btnTransp->OnBeforePesq = [this](ui::Control& s) { btnTranspBeforePesq(s); };
  btnTransp->OnAfterPesq = [this](ui::Control& s) { btnTranspAfterPesq(s); };
  edtNmTransp = &Add<ui::Edit>("edtNmTransp", panTransp);
  SetBounds(*edtNmTransp, 262, 5, 200, 21);
  edtNmTransp->color = ui::ColorName::ButtonFace;
  edtNmTransp->SetEnabled(false);
  edtNmTransp->tab_stop = false;
  lblTpTransp = bold_label("lblTpTransp", "Tipo Transporte", 472);
  medTpTransp = &Add<ui::MaskEdit>("medTpTransp", panTransp);
  SetBounds(*medTpTransp, 572, 5, 45, 21);
  medTpTransp->color = ui::ColorName::InfoTip;
  medTpTransp->tab_order = 1;
  medTpTransp->on_change = [this](ui::Control& s) { medTpTranspChange(s); };
  medTpTransp->on_exit = [this](ui::Control& s) { medTpTranspExit(s); };
  btnTpTransp = &Add<contracts::TBtnPesquisa>("btnTpTransp", panTransp);
  SetBounds(*btnTpTransp, 619, 5, 23, 22);
  btnTpTransp->hint = "Pesquisar";
  btnTpTransp->Associate = medTpTransp;
  btnTpTransp->Title = "Tipo de Transporte";
  btnTpTransp->DataSource = &dtsTipoTransp;
  btnTpTransp->EmptyError = "Não há tipo de transporte cadastrado.";
  btnTpTransp->OnBeforePesq = [this](ui::Control& s) { btnTpTranspBeforePesq(s); };
  btnTpTransp->OnAfterPesq = [this](ui::Control& s) { btnTpTranspAfterPesq(s); };
  edtTpTransp = &Add<ui::Edit>("edtTpTransp", panTransp);
  SetBounds(*edtTpTransp, 645, 5, 150, 21);
  edtTpTransp->color = ui::ColorName::ButtonFace;
  edtTpTransp->SetEnabled(false);
  edtTpTransp->tab_stop = false;
  lblTipoFrete = bold_label("lblTipoFrete", "Frete", 805);
  cbbTipoFrete = &Add<ui::ComboBox>("cbbTipoFrete", panTransp);
  SetBounds(*cbbTipoFrete, 842, 5, 300, 21);
  cbbTipoFrete->style = ui::ComboStyle::DropDownList;
  cbbTipoFrete->items = FreteItems();
  cbbTipoFrete->tab_order = 2;

  // ---- Pages: "Grade por Pedido", "Grade por Item", "Rota por Grade".
  tshPadrao->SetCaption("Grade por Item");
  tbsPedido = &Add<ui::TabSheet>("tbsPedido", pgcPadrao);
  tbsPedido->SetCaption("Grade por Pedido");
  tbsPedido->SetPageIndex(0);
  tshRota = &Add<ui::TabSheet>("tshRota", pgcPadrao);
  tshRota->SetCaption("Rota por Grade");
  pgcPadrao->on_change = [this](ui::Control& s) { pgcPadraoChange(s); };

  // ---- Item tab: totals strip, item grid, splitter, vehicle grid.
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
  dbgPedExp->options = ui::GridOptions{.editing = false,
                                       .titles = true,
                                       .indicator = true,
                                       .col_lines = true,
                                       .row_lines = true,
                                       .tabs = true,
                                       .row_select = false,
                                       .always_show_selection = true,
                                       .confirm_delete = true,
                                       .cancel_on_exit = true,
                                       .column_resize = true};
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

  // ---- Status line.
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

  // ---- Order tab.
  Panel4 = &Add<ui::Panel>("Panel4", tbsPedido);
  Panel4->align = ui::Align::Left;
  Panel4->width = 481;
  DBGrid1 = &Add<ui::DataGrid>("DBGrid1", Panel4);
  DBGrid1->align = ui::Align::Top;
  DBGrid1->height = 232;
  DBGrid1->read_only = true;
  DBGrid1->SetDataSource(&dtsGPedido);
  AddColumn(*DBGrid1, "NRPEDIDO");
  AddColumn(*DBGrid1, "NMFANTCLIE", 254);
  AddColumn(*DBGrid1, "VRPESOTOTAL");
  AddColumn(*DBGrid1, "VRVOLTOTAL");
  panAlocar = &Add<ui::Panel>("panAlocar", Panel4);
  panAlocar->align = ui::Align::Client;
  Label4 = &Add<ui::Label>("Label4", panAlocar);
  const char* const kAlocarTodos = "Alocar todos os Pedidos no Veiculo";
  Label4->SetCaption(kAlocarTodos);
  Label4->font.bold = true;
  SetBounds(*Label4, 8, 8, 220, 13);
  Edit1 = &Add<ui::Edit>("Edit1", panAlocar);
  SetBounds(*Edit1, 8, 26, 203, 21);
  Edit1->color = ui::ColorName::Menu;
  Edit1->font = ui::Font{.bold = true, .height = 0, .color = ui::ColorName::Blue};
  Edit1->SetEnabled(false);
  SpeedButton1 = &Add<ui::SpeedButton>("SpeedButton1", panAlocar);
  SetBounds(*SpeedButton1, 213, 25, 23, 22);
  // The button has no caption: its hint says what it does, so the view
  // draws it rather than leaving an empty flat square.
  SpeedButton1->hint = kAlocarTodos;
  SpeedButton1->on_click = [this](ui::Control& s) { SpeedButton1Click(s); };
  Splitter5 = &Add<ui::Splitter>("Splitter5", tbsPedido);
  Splitter5->align = ui::Align::Left;
  Splitter5->width = 5;
  DBGrid2 = &Add<ui::DataGrid>("DBGrid2", tbsPedido);
  DBGrid2->align = ui::Align::Client;
  DBGrid2->SetDataSource(&dtscarroped);
  DBGrid2->options.editing = false;
  AddColumn(*DBGrid2, "IDMARCADO", 24);
  AddColumn(*DBGrid2, "DSTIPOVEIC", 93);
  AddColumn(*DBGrid2, "QTCAPACIVIAT");
  AddColumn(*DBGrid2, "VRVOLUMEVIAT", 78);
  AddColumn(*DBGrid2, "VRPESOUTIL", 82);
  AddColumn(*DBGrid2, "VRVOLUMEUTIL", 75);
  AddColumn(*DBGrid2, "VRVOLUMEUTIL");
  AddColumn(*DBGrid2, "QTPEDIDOS", 58);
  for (ui::DataGrid* g : {DBGrid1, DBGrid2}) {
    g->color = ui::ColorName::InfoTip;
    g->options.editing = false;
    g->options.always_show_selection = true;
  }
  DBGrid2->on_draw_column_cell = [this](ui::DataGrid& g, const ui::Rect& r, int c,
                                        ui::GridColumn& col, ui::DrawState st) {
    DBGrid2DrawColumnCell(g, r, c, col, st);
  };
  DBGrid2->on_cell_click = [this](ui::Control& s, ui::GridColumn& c) { DBGrid2CellClick(s, c); };
  DBGrid2->on_col_enter = [this](ui::Control& s) { dbgPadraoColEnter(s); };
  DBGrid2->on_key_press = [this](ui::Control& s, char& key) { dbgPadraoKeyPress(s, key); };
  DBGrid2->on_key_down = [this](ui::Control& s, int& key) { FormKeyDown(s, key); };

  CreateRouteTab();

  on_activate = [this](ui::Form& f) { FormActivate(f); };
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

// ---- Lifecycle.

bool TfrmGradeDistribuicao::ModoPainel() const {
  return cdsGoogleMap.Active() && !cdsGoogleMap.IsEmpty() &&
         cdsGoogleMap.FieldByName("IDEXITRANSPDIST").AsString() == "S";
}

std::string TfrmGradeDistribuicao::Parametro(const char* field) const {
  if (!cdsGoogleMap.Active() || cdsGoogleMap.IsEmpty()) return "";
  return cdsGoogleMap.FieldByName(field).AsString();
}

void TfrmGradeDistribuicao::AplicaParametros() {
  cdsGoogleMap.SetData(
      CheckResultServ(netGradeDistribuicao.Call("GetParametros", {ByRef(stFilial)}), true, 0));
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
    cdsGPedido.SetData(CheckResultServ(
        netGradeDistribuicao.Call("GetGradeporPedido", {ByRef(stFilial), ByRef(stNrGrade)}), true,
        0));
    if (!cdsGPedido.IsEmpty() && !EmptyString(cdsGPedido.FieldByName("NRPEDIDO").AsString())) {
      if (!EmptyString(Parametro("NRINSJURTRAN"))) {
        cdscCarrosPedido.SetData(CheckResultServ(
            netGradeDistribuicao.Call(
                "GetCarroPedido", {cdsGPedido.FieldByName("NRPEDIDO").AsString(), ByRef(stFilial),
                                   Parametro("NRINSJURTRAN"), ByRef(stNrGrade)}),
            true, 0));
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
      CheckResultServ(
          netGradeDistribuicao.Call("DelGrade", {ItemText("CDFILIAL"), ByRef(stNrGrade)}), true, 0);
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
  if (!cdsExp.Active() || cdsExp.IsEmpty()) return "";
  return cdsExp.FieldByName(field).AsString();
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
  if (dataset.State() == DatasetState::Edit || dataset.State() == DatasetState::Insert) {
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
    dtsGradeRotaStateChange(dtsGradeRota);
  } else if (page == tshPadrao) {
    CarregaVeiculos();
  } else if (page == tbsPedido) {
    sbtGeraMapa->SetEnabled(false);
    dtsExpStateChange(dtsExp);
  }
}

}  // namespace dg::screen
