// Tab "Grade por Pedido": the orders of the grid, the vehicles of the
// current order with their check boxes, and allocating all orders to one
// vehicle.
#include "contracts/consiste.h"
#include "contracts/showavi.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/layout.h"
#include "screen/records.h"
#include "ui/application.h"

namespace dg::screen {

using contracts::ByRef;
using data::FieldType;

namespace {}  // namespace

void TfrmGradeDistribuicao::CreateOrderTab() {
  AddLabelled(cdsGPedido, "NRPEDIDO", FieldType::String, 10, "Pedido").display_width = 12;
  AddLabelled(cdsGPedido, "NMFANTCLIE", FieldType::String, 50, "Cliente").display_width = 30;
  AddLabelled(cdsGPedido, "PESO", FieldType::Double, 0, "Peso Total");
  AddLabelled(cdsGPedido, "VRVOLMED", FieldType::Double, 0, "Volume Total");
  AddLabelled(cdsGPedido, "VRVOLTOTAL", FieldType::Double, 0, "Volume Total", "0.000");
  AddLabelled(cdsGPedido, "VRPESOTOTAL", FieldType::Double, 0, "Peso Total", "0.000");
  cdsGPedido.after_scroll = [this](data::ClientDataset& ds) { cdsGPedidoAfterScroll(ds); };

  cdscCarrosPedido.AddFixedField("IDMARCADO", 1).display_label = "    ";
  AddLabelled(cdscCarrosPedido, "CDVIATURA", FieldType::String, 4, "", "", false);
  AddLabelled(cdscCarrosPedido, "DSTIPOVEIC", FieldType::String, 50, "Veiculo").display_width = 6;
  AddLabelled(cdscCarrosPedido, "QTCAPACIVIAT", FieldType::Double, 0, "Peso Total");
  AddLabelled(cdscCarrosPedido, "VRVOLUMEVIAT", FieldType::Double, 0, "Volume Total");
  AddLabelled(cdscCarrosPedido, "VRPESOUTIL", FieldType::Double, 0, "Peso Livre (%)");
  AddLabelled(cdscCarrosPedido, "VRVOLUMEUTIL", FieldType::Double, 0, "Vol. Livre (%)");
  AddLabelled(cdscCarrosPedido, "QTPEDIDOS", FieldType::Double, 0, "Pedidos");

  // ---- Controls: order grid and the allocate-all strip on the left, the
  // order's vehicles on the right.
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
}

void TfrmGradeDistribuicao::CarregaCarrosPedido() {
  Carrega(cdscCarrosPedido, "GetCarroPedido",
          {CurrentText(cdsGPedido, "NRPEDIDO"), ByRef(stFilial), medCdTransp->Text(),
           ByRef(stNrGrade)});
}

void TfrmGradeDistribuicao::cdsGPedidoAfterScroll(data::ClientDataset&) { CarregaCarrosPedido(); }

void TfrmGradeDistribuicao::DBGrid2DrawColumnCell(ui::DataGrid& sender, const ui::Rect& rect, int,
                                                  ui::GridColumn& column, ui::DrawState) {
  if (!HasRecord(cdscCarrosPedido)) return;
  if (column.FieldName() != "IDMARCADO" || column.Field() == nullptr) return;
  const std::string marca = column.Field()->AsString();
  ui::Picture picture;
  if (marca == "N" || marca.empty()) {
    picture = imgUncheck->picture;
  } else if (marca == "S") {
    picture = imgCheck->picture;
  }
  ui::Canvas& canvas = sender.CurrentCanvas();
  canvas.FillRect(rect);
  if (picture.IsEmpty()) return;
  const ui::Rect dest{rect.left + 1, rect.top, rect.left + 1 + picture.Width(), rect.bottom};
  const ui::Rect source{0, 0, picture.Width(), rect.Height()};
  canvas.BrushCopy(dest, picture, source, ui::kOlive);
}

void TfrmGradeDistribuicao::DBGrid2CellClick(ui::Control&, ui::GridColumn&) {
  if (HasRecord(cdscCarrosPedido)) {
    const std::string veiculo = cdscCarrosPedido.FieldByName("CDVIATURA").AsString();
    const data::Field* selected = DBGrid2->SelectedField();
    if (selected != nullptr && selected->FieldName() == "IDMARCADO") {
      data::Field& marca = cdscCarrosPedido.FieldByName("IDMARCADO");
      cdscCarrosPedido.Edit();
      const std::string atual = marca.AsString();
      marca.SetValue(atual == "N" || atual.empty() ? "S" : "N");
      cdscCarrosPedido.Post();
      Chama("SetPedidoCarro",
            {CurrentText(cdsGPedido, "NRPEDIDO"), ByRef(stFilial), veiculo, ByRef(stNrGrade)});
      ui::UpdateLock lock(*this);
      {
        contracts::Showavi::Guard avi(this, 6);
        CarregaCarrosPedido();
      }
      cdscCarrosPedido.Locate("CDVIATURA", {data::Variant(veiculo)}, true);
    }
  }
  Edit1->SetText(CurrentText(cdscCarrosPedido, "DSTIPOVEIC"));
}

void TfrmGradeDistribuicao::SpeedButton1Click(ui::Control&) {
  if (msgPadrao.ShowMsg("GRAVA_PEDIDOS", contracts::DialogType::Confirmation,
                        contracts::Buttons::YesNo(), 0) != ui::ModalResult::Yes) {
    return;
  }
  Chama("SetPedidos",
        {ByRef(stFilial), CurrentText(cdscCarrosPedido, "CDVIATURA"), ByRef(stNrGrade)});
  ui::App().Dlg().Info(msgPadrao.Msg("SUCESS_pedido"));
  CarregaCarrosPedido();
}

}  // namespace dg::screen
