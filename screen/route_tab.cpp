// Tab "Rota por Grade": the delivery route of the current vehicle, the
// delivery order per place, the route by map handed to the module EXP03400,
// and the route's totals and itinerary as the server keeps them.
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/showavi.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/layout.h"
#include "screen/records.h"
#include "screen/route_picture.h"
#include "screen/route_texts.h"
#include "screen/subs_caracter.h"
#include "ui/application.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::AllTrim;
using contracts::Consiste::EmptyString;
using contracts::Consiste::MensErro;
using data::ClientDataset;
using data::DatasetState;
using data::FieldType;

namespace {

constexpr const char* kOrdem = "NRORDENTREGRADE";

void CarregaRota(TfrmGradeDistribuicao& f, ClientDataset& target) {
  f.Carrega(target, "GetGradeRota", {ByRef(stGrade), ByRef(stVeiculo), ByRef(stFilial)});
}

// Totals, then itinerary, of the route of the current row of cdsGradeRota.
void CarregaTotais(TfrmGradeDistribuicao& f) {
  const std::string filial = CurrentText(f.cdsGradeRota, "CDFILIAL");
  const std::string grade = CurrentText(f.cdsGradeRota, "NRGRADEDISTR");
  const std::string viatura = CurrentText(f.cdsGradeRota, "CDVIATURA");
  f.Carrega(f.cdsTotal, "GetTotal", {filial, grade, viatura});
  f.Carrega(f.cdsItinerario, "GetItinerario", {filial, grade, viatura});
}

// Selects the order column of the current route row and focuses the grid.
void FocaOrdem(TfrmGradeDistribuicao& f) {
  f.dbgGradeRota->SetSelectedField(kOrdem);
  if (f.dbgGradeRota->CanFocus()) f.dbgGradeRota->SetFocus();
}

}  // namespace

void TfrmGradeDistribuicao::CreateRouteTab() {
  // ---- Datasets.
  AddLabelled(cdsGradeRota, "NRGRADEDISTR", FieldType::String, 10, "", "", false);
  AddLabelled(cdsGradeRota, "CDFILIAL", FieldType::String, 4, "", "", false);
  AddLabelled(cdsGradeRota, kOrdem, FieldType::String, 5, "Ordem").edit_mask = "!999;1; ";
  AddLabelled(cdsGradeRota, "CODIGO", FieldType::String, 20, "Local de Entrega");
  AddLabelled(cdsGradeRota, "CDCLIENTE", FieldType::String, 21, "", "", false);
  AddLabelled(cdsGradeRota, "NOME", FieldType::String, 50, "", "", false);
  AddLabelled(cdsGradeRota, "CDVIATURA", FieldType::String, 10, "", "", false);
  AddLabelled(cdsGradeRota, "IDTPIJURCLIE", FieldType::String, 1, "", "", false);
  AddLabelled(cdsGradeRota, "ENDERECO", FieldType::String, 86, "Endereço");
  AddLabelled(cdsGradeRota, "CEP", FieldType::String, 15, "Cep");
  AddLabelled(cdsGradeRota, "IDRETGRADEDISTR", FieldType::String, 1, "", "", false);
  // On a day with a clock, the planned times of each stop beside it.
  for (const auto& [name, size, label] :
       {std::tuple{"HRCHEGADA", 5, "Chegada"}, {"HRSAIDA", 5, "Saída"}, {"JANELA", 30, "Janela"}}) {
    cdsGradeRota.AddCalculatedField(name, FieldType::String, size).display_label = label;
  }
  cdsGradeRota.on_calc_fields = [this](ClientDataset& ds) {
    const auto at = horarios_.find(ds.FieldByName("CODIGO").AsString());
    if (at == horarios_.end()) return;
    ds.FieldByName("HRCHEGADA").SetAsString(at->second.chegada);
    ds.FieldByName("HRSAIDA").SetAsString(at->second.saida);
    ds.FieldByName("JANELA").SetAsString(at->second.janela);
  };
  cdsGradeRota.before_post = [this](ClientDataset& ds) { cdsGradeRotaBeforePost(ds); };
  cdsGradeRota.after_post = [this](ClientDataset& ds) { cdsGradeRotaAfterPost(ds); };
  cdsGradeRota.after_scroll = [this](ClientDataset& ds) { cdsGradeRotaAfterScroll(ds); };
  dtsGradeRota.on_state_change = [this](data::DataSource& s) { dtsGradeRotaStateChange(s); };

  for (const char* name : {"NRPEDIDO", "NRITEMPED", "CDPRODUTO"}) {
    cdsPedidoGrade.AddField(name, FieldType::String, 10);
  }
  cdsLocal.AddField("CEP", FieldType::String, 15);
  cdsLocal.AddField("ENDERECO", FieldType::String, 86);
  cdsEndeFilialProc.AddField("NRCEPFILI", FieldType::String, 15);
  cdsEndeFilialProc.AddField("ENDERECO", FieldType::String, 84);
  cdsRetTranSp.AddField("ENDERECO", FieldType::String, 86);
  for (const char* name : {"STROTA1", "STROTA2", "STROTA3", "STROTA4", "STROTA5"}) {
    cdsPacteRotas.AddField(name, FieldType::Memo);
  }
  cdsTotal.AddField("DISTANCIA", FieldType::String, 10);
  cdsTotal.AddField("TEMPO", FieldType::String, 10);
  cdsItinerario.AddField("NRGRADEDISTR", FieldType::String, 10);
  cdsItinerario.AddField("CDFILIAL", FieldType::String, 4);
  cdsItinerario.AddField("NRPEDIDO", FieldType::String, 10);
  cdsItinerario.AddField("CDVIATURA", FieldType::String, 4);
  cdsItinerario.AddField("DSITINERAGRADE", FieldType::Memo);
  cdsItinerario.AddField("NRITEMPED", FieldType::String, 10);
  cdsItinerario.AddField("CDPRODUTO", FieldType::String, 10);
  cdsItinerario.after_delete = [this](ClientDataset& ds) { cdsItinerarioAfterDelete(ds); };
  for (const char* name : {"CODIGO", "NOME", "ENDERECO", "NRORDENTREGRADE", "NRORDSUGERIDA",
                           "DISTANCIA", "JANELA", "HRCHEGADA", "HRSAIDA"}) {
    cdsOrdemSugerida.AddField(name, FieldType::String, std::string(name) == "ENDERECO" ? 86 : 50);
  }
  cdsOrdemSugerida.AddField("NRMINATRASO", FieldType::Double);
  cdsMapaRota.AddField("TIPO", FieldType::String, 1);
  cdsMapaRota.AddField("NRORDENTREGRADE", FieldType::String, 5);
  cdsMapaRota.AddField("CODIGO", FieldType::String, 21);
  cdsMapaRota.AddField("NOME", FieldType::String, 50);
  cdsMapaRota.AddField("ENDERECO", FieldType::String, 86);
  cdsMapaRota.AddField("CEP", FieldType::String, 15);
  cdsMapaRota.AddField("LATITUDE", FieldType::Double);
  cdsMapaRota.AddField("LONGITUDE", FieldType::Double);
  cdsMapaRota.AddField("TRAJETO", FieldType::Memo);
  cdsMapaRota.AddField("JANELA", FieldType::String, 30);
  cdsMapaRota.AddField("HRCHEGADA", FieldType::String, 5);
  cdsMapaRota.AddField("HRSAIDA", FieldType::String, 5);
  cdsMapaRota.AddField("NRMINATRASO", FieldType::Double);

  // ---- Controls: route grid on the left, itinerary on the right, totals
  // in a strip at the bottom.
  panTotais = &Add<ui::Panel>("panTotais", tshRota);
  panTotais->align = ui::Align::Bottom;
  panTotais->height = 35;
  auto total = [this](const char* label_name, const char* caption, int left, const char* edit_name,
                      const char* field, int width) {
    ui::Label& l = Add<ui::Label>(label_name, panTotais);
    l.SetCaption(caption);
    l.font.bold = true;
    SetBounds(l, left, 11, 0, 13);
    ui::DBEdit& e = Add<ui::DBEdit>(edit_name, panTotais);
    SetBounds(e, left + 100, 7, width, 21);
    e.data_source = &dtsTotal;
    e.data_field = field;
    e.read_only = true;
    return std::pair{&l, &e};
  };
  std::tie(lblDistancia, dbeDistancia) =
      total("lblDistancia", "Distância Total", 8, "dbeDistancia", "DISTANCIA", 53);
  std::tie(lblTempo, dbeTempo) = total("lblTempo", "Tempo Total", 180, "dbeTempo", "TEMPO", 54);

  panRota = &Add<ui::Panel>("panRota", tshRota);
  panRota->align = ui::Align::Left;
  panRota->width = 569;
  dbgGradeRota = &Add<ui::DataGrid>("dbgGradeRota", panRota);
  dbgGradeRota->align = ui::Align::Client;
  dbgGradeRota->color = ui::ColorName::InfoTip;
  dbgGradeRota->options = ui::GridOptions::DataGrid(/*editing=*/true);
  dbgGradeRota->SetDataSource(&dtsGradeRota);
  struct Coluna {
    const char* field;
    int width;
    bool read_only;
  };
  for (const Coluna& c : {Coluna{kOrdem, 36, false}, Coluna{"CODIGO", 180, true},
                          Coluna{"ENDERECO", 223, true}, Coluna{"CEP", 64, true},
                          Coluna{"HRCHEGADA", 52, true}, Coluna{"HRSAIDA", 44, true},
                          Coluna{"JANELA", 90, true}}) {
    ui::GridColumn& col = dbgGradeRota->AddColumn(c.field);
    col.width = c.width;
    col.read_only = c.read_only;
  }
  dbgGradeRota->on_cell_click = [this](ui::Control& s, ui::GridColumn& c) {
    dbgGradeRotaCellClick(s, c);
  };
  dbgGradeRota->on_col_enter = [this](ui::Control&) { cdsGradeRotaAfterScroll(cdsGradeRota); };
  dbgGradeRota->on_draw_column_cell = [this](ui::DataGrid& g, const ui::Rect& r, int col,
                                             ui::GridColumn& c, ui::DrawState st) {
    dbgGradeRotaDrawColumnCell(g, r, col, c, st);
  };

  splRota = &Add<ui::Splitter>("splRota", tshRota);
  splRota->align = ui::Align::Left;
  splRota->width = 4;
  panItinerario = &Add<ui::Panel>("panItinerario", tshRota);
  panItinerario->align = ui::Align::Client;
  // The route's picture on the right, the itinerary between.
  pbxRota = &Add<ui::PaintBox>("pbxRota", panItinerario);
  pbxRota->align = ui::Align::Right;
  pbxRota->width = 380;
  pbxRota->zoomable = true;
  pbxRota->hint = "Roda do mouse: aproximar ou afastar; arrastar: mover; clique duplo: a rota toda";
  pbxRota->on_paint = [this](ui::PaintBox& b, ui::Canvas& c, const ui::Rect& r) {
    pbxRotaPaint(b, c, r);
  };
  pbxRota->on_hint_at = [this](ui::PaintBox&, ui::Point at) {
    return RouteMarkerHint(marcadores_, at);
  };
  splMapa = &Add<ui::Splitter>("splMapa", panItinerario);
  splMapa->align = ui::Align::Right;
  splMapa->width = 4;
  dbmItinerario = &Add<ui::DBMemo>("dbmItinerario", panItinerario);
  dbmItinerario->align = ui::Align::Client;
  dbmItinerario->data_source = &dtsItinerario;
  dbmItinerario->data_field = "DSITINERAGRADE";
  dbmItinerario->read_only = true;
  dbmItinerario->scroll_bars = ui::ScrollBars::Vertical;
}

// ---- Route refresh and vehicle context.

void TfrmGradeDistribuicao::VerificarRota() {
  {
    contracts::Showavi::Guard avi(this, 6);
    CarregaRota(*this, cdsGradeRota);
  }
  CarregaMapa();
}

void TfrmGradeDistribuicao::CarregaMapa() {
  if (HasRecord(cdsGradeRota)) {
    Carrega(cdsMapaRota, "GetPontosRota",
            {CurrentText(cdsGradeRota, "CDFILIAL"), CurrentText(cdsGradeRota, "NRGRADEDISTR"),
             CurrentText(cdsGradeRota, "CDVIATURA"), std::string()});
  } else if (cdsMapaRota.Active()) {
    cdsMapaRota.Close();
  }
  CarregaHorarios();
  pbxRota->ResetView();
  pbxRota->Invalidate();
}

void TfrmGradeDistribuicao::CarregaHorarios() {
  horarios_.clear();
  if (cdsMapaRota.Active()) {
    for (RoutePicturePoint& p : RoutePicturePoints(cdsMapaRota.Data())) {
      if (p.kind == 'C') horarios_[p.code] = {p.window, p.arrival, p.departure, p.late_minutes};
    }
  }
  if (cdsGradeRota.Active()) cdsGradeRota.RefreshCalculated();
}

void TfrmGradeDistribuicao::pbxRotaPaint(ui::PaintBox& box, ui::Canvas& canvas,
                                         const ui::Rect& size) {
  marcadores_ = DrawRoutePicture(canvas, size,
                                 cdsMapaRota.Active() ? RoutePicturePoints(cdsMapaRota.Data())
                                                      : std::vector<RoutePicturePoint>{},
                                 {TituloMapa(), box.zoom, box.pan_x, box.pan_y});
}

std::string TfrmGradeDistribuicao::TituloMapa() {
  // An empty route still names the vehicle it was read for, so the clerk
  // sees which vehicle carries nothing rather than a bare "none".
  const std::string veiculo =
      HasRecord(cdsGradeRota) ? CurrentText(cdsGradeRota, "CDVIATURA") : stVeiculo;
  if (veiculo.empty()) return "";
  // The vehicle's description, from the vehicle list without moving it.
  std::string descricao;
  if (cdsVeiculo.Active()) {
    const data::DataPacket& lista = cdsVeiculo.Data();
    const int codigo = lista.FieldIndex("CDVIATURA"), tipo = lista.FieldIndex("DSTIPOVEIC");
    for (const auto& linha : lista.rows) {
      if (codigo < 0 || tipo < 0 || linha[codigo].IsEmptyOrNull()) continue;
      if (linha[codigo].ToString() == veiculo && !linha[tipo].IsEmptyOrNull()) {
        descricao = linha[tipo].ToString();
        break;
      }
    }
  }
  return "Veículo " + veiculo + (descricao.empty() ? "" : " - " + descricao);
}

void TfrmGradeDistribuicao::CarregaContextoVeiculo() {
  stVeiculo = CurrentText(cdsVeiculo, "CDVIATURA");
  stGrade = stNrGrade;
  CarregaRota(*this, cdsGradeRota);
  CarregaTotais(*this);
  {
    contracts::Showavi::Guard avi(this, 6);
    Carrega(cdsErro, "GetErro", {ByRef(stGrade), ByRef(stVeiculo), ByRef(stFilial)});
  }
  sbtInconcistencia->SetEnabled(HasRecord(cdsErro));
  // The picture follows the vehicle: loaded where it shows, else dropped
  // until the route tab loads it again.
  if (pgcPadrao->ActivePage() == tshRota) {
    CarregaMapa();
  } else if (cdsMapaRota.Active()) {
    cdsMapaRota.Close();
    CarregaHorarios();
    pbxRota->Invalidate();
  }
}

TfrmGradeDistribuicao::ContextoAdiado::ContextoAdiado(TfrmGradeDistribuicao& form) : form_(form) {
  form_.contexto_adiado_ = true;
  form_.contexto_pendente_ = false;
}

TfrmGradeDistribuicao::ContextoAdiado::~ContextoAdiado() {
  form_.contexto_adiado_ = false;
  form_.contexto_pendente_ = false;
}

void TfrmGradeDistribuicao::ContextoAdiado::Carrega() {
  const bool pendente = form_.contexto_pendente_;
  form_.contexto_adiado_ = false;
  form_.contexto_pendente_ = false;
  if (pendente) form_.CarregaContextoVeiculo();
}

void TfrmGradeDistribuicao::cdsVeiculoAfterScroll(ClientDataset&) {
  if (!Editing(cdsExp)) {
    if (contexto_adiado_) {
      contexto_pendente_ = true;
    } else {
      CarregaContextoVeiculo();
    }
  }
  const data::Field* selected = dbgPadrao->SelectedField();
  if (selected == nullptr || selected->FieldName() != "IDRETGRADEDISTR") {
    dbgPadrao->options.editing = true;
  } else {
    dbgPadrao->options.editing =
        HasRecord(cdsVeiculo) && cdsVeiculo.FieldByName("QtTranspItGr").AsFloat() != 0;
  }
}

// ---- Delivery order.

void TfrmGradeDistribuicao::cdsGradeRotaBeforePost(ClientDataset& dataset) {
  const data::Variant anterior = dataset.FieldByName(kOrdem).OldValue();
  statusData = anterior.IsEmptyOrNull() || EmptyString(anterior.ToString()) ? "I" : "E";
  if (HasRecord(cdsItinerario)) {
    if (msgMensagensPadroes.ShowMsg("Exclui_Iti_Carro", contracts::DialogType::Confirmation,
                                    contracts::Buttons::YesNo(), 0) != ui::ModalResult::Yes) {
      dataset.Cancel();
      dataset.CancelUpdates();
      throw Abort();
    }
    while (HasRecord(cdsItinerario)) cdsItinerario.Delete();
  }
  Vd_Ordem(true);
  if (EmptyString(dataset.FieldByName("CDFILIAL").AsString())) {
    dataset.FieldByName("CDFILIAL").SetAsString(stFilial);
  }
}

void TfrmGradeDistribuicao::Vd_Ordem(bool required) {
  if (!Editing(cdsGradeRota)) return;
  data::Field& ordem = cdsGradeRota.FieldByName(kOrdem);
  const data::Variant old = ordem.OldValue();
  const std::string anterior =
      old.IsEmptyOrNull() || EmptyString(old.ToString()) ? std::string() : old.ToString();
  try {
    const bool vazia = EmptyString(ordem.AsString());
    ordem.SetAsString(contracts::Consiste::Ajusta(ordem.AsString(), 3));
    if (vazia) {
      if (required) MensErro(msgPadrao.Msg("NR_DEVE"), true);
      return;
    }
    Carrega(cdsVdOrdem, "GetVdOrdem",
            {CurrentText(cdsGradeRota, "CDFILIAL"), CurrentText(cdsGradeRota, "NRGRADEDISTR"),
             CurrentText(cdsGradeRota, "CDVIATURA"), ordem.AsString()});
    if (HasRecord(cdsVdOrdem) && ordem.AsString() != anterior) {
      MensErro(msgPadrao.Msg("Ord_ja_Cad"), true);
    }
  } catch (...) {
    FocaOrdem(*this);
    throw;
  }
}

void TfrmGradeDistribuicao::cdsGradeRotaAfterPost(ClientDataset& dataset) {
  ui::UpdateLock lock(*this);
  const std::string viatura = CurrentText(dataset, "CDVIATURA");
  if (dataset.ChangeCount() > 0) {
    try {
      Carrega(cdsPedidoGrade, "GetItemGrade",
              {ByRef(stFilial), ByRef(stGrade), ByRef(stVeiculo), CurrentText(dataset, "CODIGO")});
      for (cdsPedidoGrade.First(); HasRecord(cdsPedidoGrade) && !cdsPedidoGrade.Eof();
           cdsPedidoGrade.Next()) {
        Chama("SetGradeRota",
              {CurrentText(dataset, kOrdem), CurrentText(cdsPedidoGrade, "NRPEDIDO"),
               CurrentText(cdsVeiculo, "CDVIATURA"), CurrentText(dataset, "CDFILIAL"),
               ByRef(stNrGrade), CurrentText(cdsPedidoGrade, "NRITEMPED"),
               CurrentText(cdsPedidoGrade, "CDPRODUTO"), ByRef(statusData)});
      }
    } catch (...) {
      dataset.CancelUpdates();
      throw;
    }
  }
  sbtVerificarClick(*sbtVerificar);
  dataset.Locate("CDVIATURA", {data::Variant(viatura)}, true);
}

// ---- Grid behaviour and commands.

void TfrmGradeDistribuicao::cdsGradeRotaAfterScroll(ClientDataset&) {
  const data::Field* selected = dbgGradeRota->SelectedField();
  dbgGradeRota->read_only = selected == nullptr || selected->FieldName() != kOrdem;
}

void TfrmGradeDistribuicao::dbgGradeRotaCellClick(ui::Control&, ui::GridColumn&) {
  cdsGradeRotaAfterScroll(cdsGradeRota);
}

void TfrmGradeDistribuicao::dtsGradeRotaStateChange(data::DataSource&) {
  const DatasetState s = cdsGradeRota.State();
  const bool browse = s == DatasetState::Browse;
  const bool vazio = !HasRecord(cdsGradeRota);
  const bool codigo = !EmptyString(CurrentText(cdsGradeRota, "CODIGO"));
  if (pgcPadrao->ActivePage() == tshRota) {
    for (ui::MenuItem* m : ConfirmCancelCommands())
      SetCommandEnabled(*m, Editing(cdsGradeRota) && codigo);
    for (ui::MenuItem* m : RecordCommands()) SetCommandEnabled(*m, false);
    tshPadrao->SetEnabled(browse || s == DatasetState::Inactive);
    for (ui::MenuItem* m : BrowseCommands()) SetCommandEnabled(*m, browse && !vazio);
    sbtExpedir->SetEnabled(browse && !FocoNoPainelTransp());
    mnuExpedir->SetEnabledLinked(sbtExpedir->Enabled());
    sbtGeraMapa->SetEnabled(browse && !vazio);
    sbtSugerirOrdem->SetEnabled(browse && !vazio);
  } else {
    sbtGeraMapa->SetEnabled(false);
    sbtSugerirOrdem->SetEnabled(false);
  }
  dbgGradeRota->options.editing = codigo;
}

void TfrmGradeDistribuicao::dbgGradeRotaDrawColumnCell(ui::DataGrid& sender, const ui::Rect& rect,
                                                       int data_col, ui::GridColumn& column,
                                                       ui::DrawState state) {
  if (!HasRecord(cdsGradeRota) || column.Field() == nullptr) return;
  if (data_col == contracts::Consiste::IndiceCol(sender, "HRCHEGADA")) {
    // An arrival after the stop's windows closed stands out.
    const auto at = horarios_.find(cdsGradeRota.FieldByName("CODIGO").AsString());
    if (at == horarios_.end() || at->second.atraso <= 0) return;
    ui::Canvas& canvas = sender.CurrentCanvas();
    const ui::Font before = canvas.CurrentFont();
    ui::Font font = before;
    font.bold = true;
    if (!state.selected) font.color = ui::ColorName::Red;
    canvas.SetFont(font);
    canvas.FillRect(rect);
    canvas.TextRect(rect, rect.left + 2, rect.top + 2, column.Field()->DisplayText());
    canvas.SetFont(before);
    return;
  }
  if (data_col != contracts::Consiste::IndiceCol(sender, "CODIGO")) return;
  const std::string codigo = cdsGradeRota.FieldByName("CODIGO").AsString();
  std::string texto = AllTrim(column.Field()->DisplayText());
  if (!EmptyString(codigo)) texto = cdsGradeRota.FieldByName("NOME").AsString();
  if (cdsGradeRota.State() == DatasetState::Browse && state.selected && !state.focused &&
      !state.fixed && sender.EditorMode()) {
    texto = codigo;
  }
  ui::Canvas& canvas = sender.CurrentCanvas();
  canvas.FillRect(rect);
  canvas.TextRect(rect, rect.left + 2, rect.top + 2, texto);
}

// ---- Route by map.

void TfrmGradeDistribuicao::sbtGeraMapaClick(ui::Control&) {
  bool sem_ordem = false;
  {
    ui::UpdateLock lock(*this);
    for (cdsGradeRota.First(); HasRecord(cdsGradeRota) && !cdsGradeRota.Eof();
         cdsGradeRota.Next()) {
      if (EmptyString(CurrentText(cdsGradeRota, kOrdem))) {
        sem_ordem = true;
        break;
      }
    }
  }
  if (sem_ordem) {
    FocaOrdem(*this);
    MensErro(msgPadrao.Msg("TODAS_ORDEM_INF"), true);
  }

  {
    contracts::Showavi::Guard avi(this, 6);
    Carrega(cdsGoogleMap, "GetParametros", {ByRef(stFilial)});
    Carrega(cdsEndeFilialProc, "GetEndeFilialProc", {ByRef(stFilial)});
  }
  CarregaRota(*this, cdsLocal);

  std::vector<std::string> paradas;
  for (cdsLocal.First(); HasRecord(cdsLocal) && !cdsLocal.Eof(); cdsLocal.Next()) {
    paradas.push_back(cdsLocal.FieldByName("ENDERECO").AsString());
  }
  const std::string filial = CurrentText(cdsEndeFilialProc, "ENDERECO");
  std::optional<std::string> retorno;
  const std::string flag = CurrentText(cdsVeiculo, "IDRETGRADEDISTR");
  if (flag == "T") {
    Carrega(cdsRetTranSp, "GetRetTransp", {ItemText("NRINSJURTRAN")});
    retorno = CurrentText(cdsRetTranSp, "ENDERECO");
  } else if (flag == "F") {
    retorno = filial;
  }
  RouteTexts r = BuildRouteTexts(filial, paradas, retorno);
  for (std::string& texto : r) texto = SubsCaracter(texto);

  if (!cdsPacteRotas.Active()) cdsPacteRotas.CreateDataSet();
  cdsPacteRotas.Insert();
  // Stops 41 to 60 are kept in STROTA4 and stops 61 to 80 in STROTA3.
  const char* const kCampos[] = {"STROTA1", "STROTA2", "STROTA4", "STROTA3", "STROTA5"};
  for (std::size_t i = 0; i < r.size(); ++i)
    cdsPacteRotas.FieldByName(kCampos[i]).SetAsString(r[i]);
  cdsPacteRotas.Post();

  // The module reads the API text in place: `api` outlives the call.
  const std::string api = cdsGoogleMap.Active() ? Parametro("API") : std::string();
  const std::int64_t endereco =
      api.empty() ? 0 : static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(api.c_str()));
  const data::VariantArray entrega({data::Variant(endereco), data::Variant("G"),
                                    data::Variant(CurrentText(cdsGradeRota, "CODIGO")),
                                    data::Variant(cdsGradeRota.Data()),
                                    data::Variant(cdsPacteRotas.Data())});
  contracts::Halvorn::LoadBPL("EXP03400", entrega);

  CarregaTotais(*this);
  CarregaMapa();
  if (dbgGradeRota->CanFocus()) dbgGradeRota->SetFocus();
}

void TfrmGradeDistribuicao::cdsItinerarioAfterDelete(ClientDataset& dataset) {
  if (dataset.ChangeCount() == 0) return;
  Chama("SetItinerario", {data::Variant(dataset.Delta())});
  dataset.MergeChangeLog();
}

}  // namespace dg::screen
