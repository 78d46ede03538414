// TfrmGradeDistribuicao: the dispatch distribution grid screen.
//
// One class, one source file per tab or panel:
//   frm_grade_distribuicao.cpp  construction, command bar, status line,
//                               lifecycle, commands, page switch
//   transp_panel.cpp            transporter panel: entry, look-ups, commit
//   item_tab.cpp                item and vehicle datasets, totals, allocation
//   order_tab.cpp               orders and vehicles per order
//   route_tab.cpp               route tab "Rota por Grade"
//   save_dispatch.cpp           save, inconsistencies, dispatch hand-off
// Each tab or panel file opens with its Create… function: the fields and
// events of its datasets, then its controls.
//
// Every component is owned by the screen (controls by the form, datasets,
// data sources, queries and the connection as members). Every dataset and
// data source is registered with the form under its name at construction, so
// views and the scripted player find them.
//
// Failures are exceptions (dg::Error, dg::Abort for the silent abort); a
// handler never swallows them, and every lock, detached handler and wait
// animation is restored on every exit path.
//
// Not copyable; the user-interface thread only.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "contracts/btn_pesquisa.h"
#include "contracts/frm_padrao_grid.h"
#include "contracts/net_connection.h"
#include "contracts/number_edit.h"
#include "contracts/query.h"
#include "data/dataset.h"
#include "screen/route_picture.h"
#include "ui/canvas.h"
#include "ui/control.h"
#include "ui/grid.h"

namespace dg::screen {

class TfrmGradeDistribuicao : public contracts::TfrmPadraoGrid {
 public:
  // Builds every component of every tab (the Create… functions below) and
  // wires the events. Connects nothing: Create() runs FormCreate.
  TfrmGradeDistribuicao();
  ~TfrmGradeDistribuicao() override;

  // ---- Connection to "Exp03200.rdmGradeDistribuicao".
  contracts::TNetConnection netGradeDistribuicao{"netGradeDistribuicao"};

  // ---- Datasets and their data sources.
  data::ClientDataset cdsGoogleMap{"cdsGoogleMap"};          // branch parameters
  data::ClientDataset cdsExp{"cdsExp"};                      // items to dispatch
  data::ClientDataset cdsVeiculo{"cdsVeiculo"};              // vehicles of the current item
  data::ClientDataset cdsErro{"cdsErro"};                    // delivery points without address
  data::ClientDataset cdsGPedido{"cdsGPedido"};              // orders of the grid
  data::ClientDataset cdscCarrosPedido{"cdscCarrosPedido"};  // vehicles of the current order
  // Route tab.
  data::ClientDataset cdsGradeRota{"cdsGradeRota"};
  data::ClientDataset cdsVdOrdem{"cdsVdOrdem"};
  data::ClientDataset cdsPedidoGrade{"cdsPedidoGrade"};
  data::ClientDataset cdsLocal{"cdsLocal"};
  data::ClientDataset cdsEndeFilialProc{"cdsEndeFilialProc"};
  data::ClientDataset cdsRetTranSp{"cdsRetTranSp"};
  data::ClientDataset cdsPacteRotas{"cdsPacteRotas"};
  data::ClientDataset cdsTotal{"cdsTotal"};
  data::ClientDataset cdsItinerario{"cdsItinerario"};
  data::ClientDataset cdsOrdemSugerida{"cdsOrdemSugerida"};  // the suggested stop order
  data::ClientDataset cdsMapaRota{"cdsMapaRota"};            // points of the route's picture

  data::DataSource dtsExp;
  data::DataSource dtsVeiculo;
  data::DataSource dtsErro;
  data::DataSource dtsGPedido;
  data::DataSource dtscarroped;
  data::DataSource dtsPesqTran;
  data::DataSource dtsTipoTransp;
  // Route tab.
  data::DataSource dtsGradeRota;
  data::DataSource dtsTotal;
  data::DataSource dtsItinerario;

  // ---- Server calls through netGradeDistribuicao.
  // Calls a method of the server object and checks its result (no result
  // throws); by-reference arguments come back written by the server.
  data::Variant Chama(const char* method, const std::vector<contracts::CallArg>& args);
  // Chama, then the packet returned replaces the dataset's contents.
  void Carrega(data::ClientDataset& target, const char* method,
               const std::vector<contracts::CallArg>& args);

  // ---- Look-ups on the host's database connection.
  contracts::TADOIBQuery qryPesqTran{"qryPesqTran"};
  contracts::TADOIBQuery qryTipoTransp{"qryTipoTransp"};

  // ---- Command bar and menu (besides the base screen's).
  ui::SpeedButton* sbtExpedir = nullptr;
  ui::SpeedButton* sbtInconcistencia = nullptr;
  ui::SpeedButton* sbtGeraMapa = nullptr;
  ui::SpeedButton* sbtSugerirOrdem = nullptr;
  ui::MenuItem* mnuExpedir = nullptr;

  // ---- Transporter panel.
  ui::Panel* panTransp = nullptr;
  ui::Label* lblTransp = nullptr;
  ui::MaskEdit* medCdTransp = nullptr;
  contracts::TBtnPesquisa* btnTransp = nullptr;
  ui::Edit* edtNmTransp = nullptr;
  ui::Label* lblTpTransp = nullptr;
  ui::MaskEdit* medTpTransp = nullptr;
  contracts::TBtnPesquisa* btnTpTransp = nullptr;
  ui::Edit* edtTpTransp = nullptr;
  ui::Label* lblTipoFrete = nullptr;
  ui::ComboBox* cbbTipoFrete = nullptr;

  // ---- Tabs of pgcPadrao, in order: tbsPedido, tshPadrao (base), tshRota.
  ui::TabSheet* tbsPedido = nullptr;
  ui::TabSheet* tshRota = nullptr;

  // ---- Status line (panNavigator).
  ui::Label* lblEntrega = nullptr;
  ui::DBText* DBText1 = nullptr;
  ui::Label* lblTransportadora = nullptr;
  ui::DBText* dbTransportadora = nullptr;

  // ---- Item tab "Grade por Item".
  ui::Panel* panPesoVol = nullptr;
  ui::Label* lblPesoTotal = nullptr;
  contracts::TNumberEdit* nedPesoTotal = nullptr;
  ui::Label* lblVolTotal = nullptr;
  contracts::TNumberEdit* nedVolTotal = nullptr;
  ui::DataGrid* dbgPedExp = nullptr;
  ui::Splitter* Splitter1 = nullptr;
  ui::Image* imgCheck = nullptr;
  ui::Image* imgUncheck = nullptr;

  // ---- Order tab "Grade por Pedido".
  ui::Panel* Panel4 = nullptr;
  ui::DataGrid* DBGrid1 = nullptr;
  ui::Panel* panAlocar = nullptr;
  ui::Label* Label4 = nullptr;
  ui::Edit* Edit1 = nullptr;
  ui::SpeedButton* SpeedButton1 = nullptr;
  ui::Splitter* Splitter5 = nullptr;
  ui::DataGrid* DBGrid2 = nullptr;

  // ---- Route tab "Rota por Grade".
  ui::Panel* panRota = nullptr;  // left panel, width 569
  ui::DataGrid* dbgGradeRota = nullptr;
  ui::Splitter* splRota = nullptr;
  ui::Panel* panItinerario = nullptr;  // right of the splitter
  ui::DBMemo* dbmItinerario = nullptr;
  ui::Splitter* splMapa = nullptr;
  ui::PaintBox* pbxRota = nullptr;  // the route's picture, right of the itinerary
  ui::Panel* panTotais = nullptr;   // bottom strip, height 35
  ui::Label* lblDistancia = nullptr;
  ui::DBEdit* dbeDistancia = nullptr;
  ui::Label* lblTempo = nullptr;
  ui::DBEdit* dbeTempo = nullptr;

  // ==== Handlers. Names are the events they serve.

  // ---- Construction. Each is called once by the constructor, in the order
  // listed: a tab's controls go on the pages the constructor created, and
  // its grids show the fields its datasets defined just before.
  void CreateCommandBar();   // buttons and menu item besides the base screen's
  void CreateTranspPanel();  // look-up fields, then the panel's controls
  void CreateItemTab();      // cdsExp and cdsVeiculo, then tshPadrao's controls
  void CreateStatusLine();   // panNavigator's texts
  void CreateOrderTab();     // cdsGPedido and cdscCarrosPedido, then tbsPedido's
  void CreateRouteTab();     // the route datasets, then tshRota's controls

  // ---- Lifecycle and commands (frm_grade_distribuicao.cpp).
  void FormCreate(ui::Form& sender) override;
  void FormActivate(ui::Form& sender);
  void FormClose(ui::Form& sender, ui::CloseAction& action) override;
  void netGradeDistribuicaoBeforeConnect(contracts::TNetConnection& sender);
  // Filter of cdsExp: "IDCHECK = 'S'" with true, "IDCHECK = 'X'" with false;
  // the item handling does not run.
  void ExibeExp(bool flag);
  void sbtProcurarClick(ui::Control& sender) override;
  void sbtCancelarClick(ui::Control& sender) override;
  void sbtAlterarClick(ui::Control& sender) override;
  // Item tab: confirms a pending distribution and reloads the item's
  // vehicles; route tab: VerificarRota.
  void sbtVerificarClick(ui::Control& sender) override;
  void pgcPadraoChange(ui::Control& sender);

  // ---- Item and vehicle datasets, totals, allocation (item_tab.cpp).
  void cdsExpCalcFields(data::ClientDataset& dataset);
  void cdsExpAfterScroll(data::ClientDataset& dataset);
  void CalculaPeso();
  void dtsExpStateChange(data::DataSource& sender);
  void dbgPadraoColEnter(ui::Control& sender);
  void dbgPadraoKeyPress(ui::Control& sender, char& key) override;
  void sbtConfirmarClick(ui::Control& sender) override;
  void cdsVeiculoAfterEdit(data::ClientDataset& dataset);
  void cdsVeiculoBeforePost(data::ClientDataset& dataset);
  void Vd_QtdeTransp();

  // ---- Transporter panel (transp_panel.cpp).
  void Vd_Transp(bool required);
  void Vd_TpTrans(bool required);
  void medCdTranspChange(ui::Control& sender);
  void medTpTranspChange(ui::Control& sender);
  void medCdTranspEnter(ui::Control& sender);
  void medCdTranspExit(ui::Control& sender);
  void medTpTranspExit(ui::Control& sender);
  void btnTranspBeforePesq(ui::Control& sender);
  void btnTranspAfterPesq(ui::Control& sender);
  void btnTpTranspBeforePesq(ui::Control& sender);
  void btnTpTranspAfterPesq(ui::Control& sender);
  void panTranspEnter(ui::Control& sender);
  void panTranspExit(ui::Control& sender);
  // The transporter key: the person-type code followed by the inscription,
  // from medCdTransp while panTransp is visible, else from the current item.
  std::string ChaveTransportadora();

  // ---- Save, inconsistencies, dispatch (save_dispatch.cpp).
  void Salvar();
  void sbtInconcistenciaClick(ui::Control& sender);
  void dtsErroStateChange(data::DataSource& sender);
  void sbtExpedirClick(ui::Control& sender);
  // The transport type and freight mode a dispatch would hand back now:
  // the panel's while it shows, else "" and "9".
  std::string TpTransDespacho() const;
  std::string IdFreteDespacho() const;

  // ---- Order tab (order_tab.cpp).
  void cdsGPedidoAfterScroll(data::ClientDataset& dataset);
  void DBGrid2DrawColumnCell(ui::DataGrid& sender, const ui::Rect& rect, int data_col,
                             ui::GridColumn& column, ui::DrawState state);
  void DBGrid2CellClick(ui::Control& sender, ui::GridColumn& column);
  void SpeedButton1Click(ui::Control& sender);

  // ---- Route tab (route_tab.cpp).
  // The route tab's part of the verify command: reloads cdsGradeRota for
  // stGrade and stVeiculo.
  void VerificarRota();
  void cdsVeiculoAfterScroll(data::ClientDataset& dataset);
  void cdsGradeRotaBeforePost(data::ClientDataset& dataset);
  void Vd_Ordem(bool required);
  void cdsGradeRotaAfterPost(data::ClientDataset& dataset);
  void cdsGradeRotaAfterScroll(data::ClientDataset& dataset);
  void dbgGradeRotaCellClick(ui::Control& sender, ui::GridColumn& column);
  void dtsGradeRotaStateChange(data::DataSource& sender);
  void dbgGradeRotaDrawColumnCell(ui::DataGrid& sender, const ui::Rect& rect, int data_col,
                                  ui::GridColumn& column, ui::DrawState state);
  void sbtGeraMapaClick(ui::Control& sender);
  void cdsItinerarioAfterDelete(data::ClientDataset& dataset);
  // The points of the current vehicle's route (GetPontosRota) into
  // cdsMapaRota, and the picture drawn again.
  void CarregaMapa();
  void pbxRotaPaint(ui::PaintBox& sender, ui::Canvas& canvas, const ui::Rect& size);
  // "Veículo 1003 - Truck": the vehicle whose route the picture shows.
  std::string TituloMapa();

  // ---- Suggested stop order (route_suggestion.cpp).
  // Asks the server for the order of the current vehicle's stops that makes
  // its route shortest (the stops already numbered keep their numbers),
  // shows it and, on Yes, types each new number into the route grid as the
  // clerk would: every rule of a typed order applies (itinerary question,
  // validation, write, reload).
  void sbtSugerirOrdemClick(ui::Control& sender);

 private:
  // Whether the focus is on medCdTransp, medTpTransp or cbbTipoFrete.
  bool FocoNoPainelTransp() const;
  // The route tab may open: the current vehicle has no inconsistencies, the
  // items are browsed and the focus is not in the transporter panel.
  bool RotaLiberada() const;
  // IDEXITRANSPDIST is "S": the transporter is entered on the panel.
  bool ModoPainel() const;
  // A field of the first parameter record ("" when there is none).
  std::string Parametro(const char* field) const;
  // A field of the current item as text ("" when there is no item).
  std::string ItemText(const char* field) const;
  // The branch of the grid being discarded: the current item's, or, where
  // the item list shows none (the transporter panel's filter after an
  // activation), the grid's own branch as the distribution returned it, so
  // that the server really discards it and frees its vehicles.
  std::string DiscardBranch() const;
  // Discards the pending edit and the change log of an open dataset.
  static void CancelaAlteracoes(data::ClientDataset& dataset);
  // Return flag: text shown for a stored value, and entry of a text.
  std::string TextoRetorno(const std::string& stored) const;
  void EntraRetorno(const std::string& text);
  // Puts cdsVeiculo in edit state (if it is not) and stores the flag.
  void GravaRetorno(const char* flag);
  // Applies the branch parameters (creation and activation).
  void AplicaParametros();
  // GetCarroPedido for the current order into cdscCarrosPedido.
  void CarregaCarrosPedido();
  // GetVeiculo for the current item into cdsVeiculo, behind the wait
  // animation of kind 6.
  void CarregaVeiculos();
  // The current vehicle's context: stVeiculo and stGrade, its route,
  // totals, itinerary and inconsistencies, and the route's picture.
  void CarregaContextoVeiculo();

  // Holds the vehicle context back while one action moves the vehicle
  // cursor more than once (the save reloads the vehicles, which puts the
  // cursor on the first, then goes back to the clerk's): Carrega() loads it
  // once, for the vehicle current by then, if any move asked for it. Left
  // without Carrega() (a failure on the way), nothing more is loaded.
  class ContextoAdiado {
   public:
    explicit ContextoAdiado(TfrmGradeDistribuicao& form);
    ~ContextoAdiado();
    ContextoAdiado(const ContextoAdiado&) = delete;
    ContextoAdiado& operator=(const ContextoAdiado&) = delete;
    void Carrega();

   private:
    TfrmGradeDistribuicao& form_;
  };
  bool contexto_adiado_ = false;
  bool contexto_pendente_ = false;
  // The route picture's markers as last drawn, for the names over them.
  std::vector<RouteMarker> marcadores_;
  // The planned window, arrival and departure of each stop of the route
  // shown (from the picture's points, by client code), which the route
  // grid's calculated columns read, and the minutes it is late by (its
  // arrival is drawn in red then).
  struct HorarioParada {
    std::string janela, chegada, saida;
    double atraso = 0;
  };
  std::map<std::string, HorarioParada> horarios_;
  void CarregaHorarios();
};

}  // namespace dg::screen
