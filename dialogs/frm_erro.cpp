#include "dialogs/frm_erro.h"

#include <memory>

#include "ui/control.h"

namespace dg::screen {

TfrmErro* frmErro = nullptr;

TfrmErro::TfrmErro() : ui::Form("frmErro") {
  SetCaption("Atenção");
  border_style = ui::BorderStyle::Dialog;
  position = ui::Position::ScreenCenter;
  client_width = 728;
  client_height = 223;
  font.height = 11;
  key_preview = true;
  dtsDestino.name = "dtsDestino";
  RegisterDataSource(dtsDestino);

  panInforma = &Add<ui::Panel>("panInforma");
  panInforma->align = ui::Align::Top;
  panInforma->height = 52;
  panInforma->SetEnabled(false);
  imgErroOri = &Add<ui::Image>("imgErroOri", panInforma);
  imgErroOri->picture = ui::LoadPicture("warning");
  imgErroOri->transparent = true;
  imgErroOri->left = 5;
  imgErroOri->top = 9;
  imgErroOri->width = 37;
  imgErroOri->height = 38;
  memInforma = &Add<ui::Memo>("memInforma", panInforma);
  memInforma->left = 55;
  memInforma->top = 12;
  memInforma->width = 640;
  memInforma->height = 32;
  memInforma->read_only = true;
  memInforma->border = false;
  memInforma->color = ui::ColorName::ButtonFace;
  memInforma->tab_stop = false;
  memInforma->font.height = 13;
  memInforma->SetLines(
      {"Não é possivel gerar rota pois os seguintes clientes/filiais não "
       "possuem endereço de entrega.",
       " "});

  panBotoes = &Add<ui::Panel>("panBotoes");
  panBotoes->align = ui::Align::Bottom;
  panBotoes->height = 38;
  btnOK = &Add<ui::Button>("btnOK", panBotoes);
  btnOK->SetCaption("&OK");
  btnOK->left = 315;
  btnOK->top = 8;
  btnOK->width = 75;
  btnOK->height = 25;
  btnOK->on_click = [this](ui::Control& s) { btnOKClick(s); };

  dbgMensagem = &Add<ui::DataGrid>("dbgMensagem");
  dbgMensagem->align = ui::Align::Client;
  dbgMensagem->color = ui::ColorName::ButtonFace;
  dbgMensagem->options = ui::GridOptions::RowList();
  dbgMensagem->title_font.bold = true;
  dbgMensagem->SetDataSource(&dtsDestino);
  dbgMensagem->tab_order = 0;

  on_key_down = [this](ui::Control& s, int& key) { FormKeyDown(s, key); };
  on_activate = [this](ui::Form& f) { FormActivate(f); };
  on_close = [this](ui::Form& f, ui::CloseAction& a) { FormClose(f, a); };
}

TfrmErro::~TfrmErro() = default;

void TfrmErro::btnOKClick(ui::Control&) { Close(); }

void TfrmErro::FormKeyDown(ui::Control&, int& key) {
  if (key != 13) return;
  key = 0;
  btnOK->Click();
}

void TfrmErro::FormActivate(ui::Form&) { Repaint(); }

void TfrmErro::FormClose(ui::Form&, ui::CloseAction& action) { action = ui::CloseAction::Free; }

}  // namespace dg::screen

extern "C" void CriaInconcistencia(dg::data::ClientDataset* dataset) {
  auto dialog = std::make_unique<dg::screen::TfrmErro>();
  dg::screen::frmErro = dialog.get();
  struct Forget {
    ~Forget() { dg::screen::frmErro = nullptr; }
  } forget;
  dialog->Create();
  dialog->dtsDestino.SetDataSet(dataset);
  dialog->ShowModal();
  dialog->dtsDestino.SetDataSet(nullptr);
}
