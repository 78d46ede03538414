// TfrmPadraoGrid: the host's base grid screen. Builds the base components
// (owned by the form, reachable by name and through the members below), the
// command bar with its flat buttons, the main menu whose command items the
// buttons mirror, the page control with its first tab and grid, and the
// status line; and wires every base event to a virtual handler that a
// derived screen overrides and may call explicitly.
//
// Commands: each command is a menu item plus a toolbar button. Enabling is
// set on the menu item (SetCommandEnabled); the button takes its value.
// Clicking either runs the same handler. Command groups (see README.md):
// ConfirmCancel (confirm, cancel), Record (insert, delete: the two further
// commands), Browse (edit, search, verify: the three further commands), and
// the state-switched control dbnPadrao.
//
// Not copyable; the user-interface thread only.
#pragma once

#include <array>
#include <string>

#include "contracts/messages.h"
#include "data/dataset.h"
#include "ui/canvas.h"
#include "ui/control.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::contracts {

// The printer set-up and print dialogs of the base screen: kept as named
// components only; this system prints nothing.
struct PrinterDialog {
  std::string name;
};

class TfrmPadraoGrid : public ui::Form {
 public:
  explicit TfrmPadraoGrid(std::string name);
  ~TfrmPadraoGrid() override;

  // ---- Components (owned by the form).
  ui::Label* lblCodTela;
  ui::Panel* panMenu;
  ui::SpeedButton* sbtConfirmar;
  ui::SpeedButton* sbtCancelar;
  ui::SpeedButton* sbtIncluir;
  ui::SpeedButton* sbtExcluir;
  ui::SpeedButton* sbtAlterar;
  ui::SpeedButton* sbtProcurar;
  ui::SpeedButton* sbtVerificar;
  ui::SpeedButton* sbtImprimir;
  ui::SpeedButton* sbtAjuda;
  ui::SpeedButton* sbtFechar;
  ui::PageControl* pgcPadrao;
  ui::TabSheet* tshPadrao;
  ui::Panel* panDbgPadrao;
  ui::Panel* scbFolhaDados;
  ui::DataGrid* dbgPadrao;
  ui::Panel* panNavigator;
  ui::DBText* dbtNome;
  ui::DBNavigator* dbnPadrao;
  ui::Menu* mnuMenu;
  ui::MenuItem* mnuOperacao;
  ui::MenuItem* mnuListagem;
  ui::MenuItem* mnuManutencao;
  ui::MenuItem* mnuConfirmar;
  ui::MenuItem* mnuCancelar;
  ui::MenuItem* mnuIncluir;
  ui::MenuItem* mnuExcluir;
  ui::MenuItem* mnuAlterar;
  ui::MenuItem* mnuProcurar;
  ui::MenuItem* mnuVerificar;
  ui::MenuItem* mnuImprimir;
  ui::MenuItem* mnuFechar;
  ui::Menu* pmnNavegar;
  data::DataSource dtsPadrao;
  PrinterDialog psdConfigurar{"psdConfigurar"};
  PrinterDialog prdImprimir{"prdImprimir"};
  TMessages msgPadrao;
  TMessages msgMensagensPadroes;

  // ---- Command groups.
  std::array<ui::MenuItem*, 2> ConfirmCancelCommands() const { return {mnuConfirmar, mnuCancelar}; }
  std::array<ui::MenuItem*, 2> RecordCommands() const { return {mnuIncluir, mnuExcluir}; }
  std::array<ui::MenuItem*, 3> BrowseCommands() const {
    return {mnuAlterar, mnuProcurar, mnuVerificar};
  }
  ui::Control* StateControl() const { return dbnPadrao; }
  // Sets the menu item; its button follows.
  static void SetCommandEnabled(ui::MenuItem& command, bool enabled);

  // ---- Base handlers. Each is wired to its event; an override replaces
  // it and calls the base version where its behaviour is still wanted.
  // Creation: shows the first page and gives the base grid its data source.
  virtual void FormCreate(ui::Form& sender);
  // Close: sets the action to Free: the screen is disposed of after its
  // modal show (DisposeRequested).
  virtual void FormClose(ui::Form& sender, ui::CloseAction& action);
  // Key handlers of the base grid: the base accepts every key unchanged
  // (the grid's own handling of Enter then posts, see ui::UserKey).
  virtual void FormKeyDown(ui::Control& sender, int& key);
  virtual void dbgPadraoKeyPress(ui::Control& sender, char& key);
  // Record commands on dtsPadrao's dataset: post, cancel (the pending edit),
  // insert, delete (after the question "Excl"), edit.
  virtual void sbtConfirmarClick(ui::Control& sender);
  virtual void sbtCancelarClick(ui::Control& sender);
  virtual void sbtIncluirClick(ui::Control& sender);
  virtual void sbtExcluirClick(ui::Control& sender);
  virtual void sbtAlterarClick(ui::Control& sender);
  // Search: the search dialog on dtsPadrao's dataset when it is open.
  virtual void sbtProcurarClick(ui::Control& sender);
  // Verify, print and help have no base behaviour of their own.
  virtual void sbtVerificarClick(ui::Control& sender);
  virtual void sbtImprimirClick(ui::Control& sender);
  virtual void sbtAjudaClick(ui::Control& sender);
  // Close command: closes the screen.
  virtual void sbtFecharClick(ui::Control& sender);

 private:
  // The dataset of dtsPadrao when it is open, else null.
  data::ClientDataset* BaseDataSet() const;
};

}  // namespace dg::contracts
