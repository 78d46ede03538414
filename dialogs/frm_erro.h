// TfrmErro: the modal dialog "Atenção" that lists the delivery points
// without a delivery address, and its factory CriaInconcistencia.
//
// The dialog only displays the dataset it is given (every field, in field
// order); it makes no server call. Every call of the factory creates a fresh
// dialog and disposes of it when it closes. Not copyable; the user-interface
// thread only.
#pragma once

#include "data/dataset.h"
#include "dialogs/export.h"
#include "ui/canvas.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::screen {

class TfrmErro : public ui::Form {
 public:
  TfrmErro();
  ~TfrmErro() override;

  data::DataSource dtsDestino;

  ui::Panel* panInforma = nullptr;
  ui::Image* imgErroOri = nullptr;
  ui::Memo* memInforma = nullptr;
  ui::DataGrid* dbgMensagem = nullptr;
  ui::Panel* panBotoes = nullptr;
  ui::Button* btnOK = nullptr;

  void btnOKClick(ui::Control& sender);
  // Enter (13) presses btnOK; other keys go on to the controls.
  void FormKeyDown(ui::Control& sender, int& key);
  void FormActivate(ui::Form& sender);
  // The dialog is disposed of once its modal show has ended.
  void FormClose(ui::Form& sender, ui::CloseAction& action);
};

// The dialog last created; null when none is showing.
extern TfrmErro* frmErro;

}  // namespace dg::screen

// Shows `dataset` (not owned; REQUIRES: outlives the call) in a new modal
// dialog and returns when the dialog has closed.
extern "C" EXP03200_EXPORT void CriaInconcistencia(dg::data::ClientDataset* dataset);
