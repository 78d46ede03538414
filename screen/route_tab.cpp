// temporary: replaced by the route tab
//
// Empty definitions of the route tab's members so the module builds until
// the route tab lands.
#include "screen/frm_grade_distribuicao.h"

namespace dg::screen {

void TfrmGradeDistribuicao::CreateRouteTab() {}
void TfrmGradeDistribuicao::VerificarRota() {}
void TfrmGradeDistribuicao::cdsVeiculoAfterScroll(data::ClientDataset&) {}
void TfrmGradeDistribuicao::cdsGradeRotaBeforePost(data::ClientDataset&) {}
void TfrmGradeDistribuicao::Vd_Ordem(bool) {}
void TfrmGradeDistribuicao::cdsGradeRotaAfterPost(data::ClientDataset&) {}
void TfrmGradeDistribuicao::cdsGradeRotaAfterScroll(data::ClientDataset&) {}
void TfrmGradeDistribuicao::dbgGradeRotaCellClick(ui::Control&, ui::GridColumn&) {}
void TfrmGradeDistribuicao::dtsGradeRotaStateChange(data::DataSource&) {}
void TfrmGradeDistribuicao::dbgGradeRotaDrawColumnCell(ui::DataGrid&, const ui::Rect&, int,
                                                       ui::GridColumn&, ui::DrawState) {}
void TfrmGradeDistribuicao::sbtGeraMapaClick(ui::Control&) {}
void TfrmGradeDistribuicao::cdsItinerarioAfterDelete(data::ClientDataset&) {}

}  // namespace dg::screen
