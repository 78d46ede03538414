// Tab "Grade por Pedido": the orders of the grid, the vehicles of the
// current order with their check boxes, and allocating all orders to one
// vehicle.
#include "contracts/consiste.h"
#include "contracts/showavi.h"
#include "entry/globals.h"
#include "screen/frm_grade_distribuicao.h"
#include "ui/application.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::CheckResultServ;

namespace {

std::string TextoAtual(const data::ClientDataset& ds, const char* field) {
  return ds.Active() && !ds.IsEmpty() ? ds.FieldByName(field).AsString() : std::string();
}

}  // namespace

void TfrmGradeDistribuicao::CarregaCarrosPedido() {
  cdscCarrosPedido.SetData(
      CheckResultServ(netGradeDistribuicao.Call(
                          "GetCarroPedido", {TextoAtual(cdsGPedido, "NRPEDIDO"), ByRef(stFilial),
                                             medCdTransp->Text(), ByRef(stNrGrade)}),
                      true, 0));
}

void TfrmGradeDistribuicao::cdsGPedidoAfterScroll(data::ClientDataset&) { CarregaCarrosPedido(); }

void TfrmGradeDistribuicao::DBGrid2DrawColumnCell(ui::DataGrid& sender, const ui::Rect& rect, int,
                                                  ui::GridColumn& column, ui::DrawState) {
  if (!cdscCarrosPedido.Active() || cdscCarrosPedido.IsEmpty()) return;
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
  if (cdscCarrosPedido.Active() && !cdscCarrosPedido.IsEmpty()) {
    const std::string veiculo = cdscCarrosPedido.FieldByName("CDVIATURA").AsString();
    const data::Field* selected = DBGrid2->SelectedField();
    if (selected != nullptr && selected->FieldName() == "IDMARCADO") {
      data::Field& marca = cdscCarrosPedido.FieldByName("IDMARCADO");
      cdscCarrosPedido.Edit();
      const std::string atual = marca.AsString();
      marca.SetValue(atual == "N" || atual.empty() ? "S" : "N");
      cdscCarrosPedido.Post();
      CheckResultServ(
          netGradeDistribuicao.Call("SetPedidoCarro", {TextoAtual(cdsGPedido, "NRPEDIDO"),
                                                       ByRef(stFilial), veiculo, ByRef(stNrGrade)}),
          true, 0);
      ui::UpdateLock lock(*this);
      {
        contracts::Showavi::Guard avi(this, 6);
        CarregaCarrosPedido();
      }
      cdscCarrosPedido.Locate("CDVIATURA", {data::Variant(veiculo)}, true);
    }
  }
  Edit1->SetText(TextoAtual(cdscCarrosPedido, "DSTIPOVEIC"));
}

void TfrmGradeDistribuicao::SpeedButton1Click(ui::Control&) {
  if (msgPadrao.ShowMsg("GRAVA_PEDIDOS", contracts::DialogType::Confirmation,
                        contracts::Buttons::YesNo(), 0) != ui::ModalResult::Yes) {
    return;
  }
  CheckResultServ(netGradeDistribuicao.Call(
                      "SetPedidos", {ByRef(stFilial), TextoAtual(cdscCarrosPedido, "CDVIATURA"),
                                     ByRef(stNrGrade)}),
                  true, 0);
  ui::App().Dlg().Info(msgPadrao.Msg("SUCESS_pedido"));
  CarregaCarrosPedido();
}

}  // namespace dg::screen
