// Saving the distribution of the current item, the inconsistency list and
// the hand-off of the dispatch data to the host.

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/showavi.h"
#include "data/quantity.h"
#include "dialogs/frm_erro.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/grade_texts.h"
#include "screen/records.h"

namespace dg::screen {

using contracts::ByRef;
using data::DatasetState;

namespace {

// Back to the vehicle the user was on (letter case ignored); stays put when
// it is already current or gone.
void VoltaVeiculo(data::ClientDataset& veiculos, const std::string& codigo) {
  if (!HasRecord(veiculos)) return;
  if (veiculos.FieldByName("CDVIATURA").AsString() == codigo) return;
  veiculos.Locate("CDVIATURA", {data::Variant(codigo)}, true);
}

}  // namespace

void TfrmGradeDistribuicao::Salvar() {
  ui::TabSheet* page = pgcPadrao->ActivePage();
  if (page == tshRota) {
    if (cdsGradeRota.Active() && Editing(cdsGradeRota)) cdsGradeRota.Post();
    return;
  }
  if (page != tshPadrao && page != tbsPedido) return;

  ui::UpdateLock lock(*this);
  const bool veiculos = cdsVeiculo.Active();
  const std::string veiculo = CurrentText(cdsVeiculo, "CDVIATURA");
  if (veiculos && cdsVeiculo.State() == DatasetState::Edit) cdsVeiculo.Post();

  // Read without moving the cursor: no vehicle handling runs for the sum.
  // Quantities compare in whole units of the precision the server stores,
  // so a split of 0,3 into 0,1 and 0,2 matches exactly, while a real
  // remainder (three times 3,33333 against 10) still differs.
  std::int64_t soma = 0;
  const int linhas = veiculos ? cdsVeiculo.RecordCount() : 0;
  for (int linha = 1; linha <= linhas; ++linha) {
    cdsVeiculo.ReadAt(linha, [&] {
      const double qt = cdsVeiculo.FieldByName("QtTranspItGr").AsFloat();
      if (qt > 0) soma += data::QuantityUnits(qt);
    });
  }
  const double qtde = HasRecord(cdsExp) ? cdsExp.FieldByName("QTDEAEXP").AsFloat() : 0.0;
  if (data::QuantityUnits(qtde) != soma) {
    VoltaVeiculo(cdsVeiculo, veiculo);
    lock.Release();
    contracts::Consiste::MensErro(msgPadrao.Msg("QTDE_PED_<>_EXP"), true);
  }

  data::Variant pacote =
      veiculos ? data::Variant(cdsVeiculo.Data()) : data::Variant(data::DataPacket{});
  {
    contracts::Showavi::Guard avi(this, 1);
    Chama("SetGrade", {pacote, cdsExp.FieldByName("VRPESOBRUTPR").AsFloat(),
                       cdsExp.FieldByName("VRVOLMED").AsFloat(), ItemText("CDFILIAL"),
                       ByRef(stNrGrade), contracts::Halvorn::Operador()});
  }
  contracts::Consiste::RefreshGrid(*this);
  {
    contracts::Showavi::Guard avi(this, 6);
    Carrega(cdsErro, "GetErro", {ByRef(stGrade), ByRef(stVeiculo), ByRef(stFilial)});
  }
  if (Editing(cdsExp)) cdsExp.Post();
  // The reload and the way back to the clerk's vehicle each move the
  // vehicle cursor; the context is loaded once, for the vehicle the clerk
  // ends on, which sees the grid as the save left it.
  ContextoAdiado contexto(*this);
  cdsExpAfterScroll(cdsExp);
  dtsExpStateChange(dtsExp);
  VoltaVeiculo(cdsVeiculo, veiculo);
  contexto.Carrega();
}

void TfrmGradeDistribuicao::dtsErroStateChange(data::DataSource&) {
  sbtInconcistencia->SetEnabled(HasRecord(cdsErro));
  // The list belongs to the vehicle now current: the route tab follows it,
  // also when a save ends by going back to a vehicle other than the first.
  if (pgcPadrao->ActivePage() != tshRota) tshRota->SetEnabled(RotaLiberada());
}

void TfrmGradeDistribuicao::sbtInconcistenciaClick(ui::Control&) { CriaInconcistencia(&cdsErro); }

void TfrmGradeDistribuicao::sbtExpedirClick(ui::Control&) {
  if (msgPadrao.ShowMsg("GRAVAR_DADOS", contracts::DialogType::Confirmation,
                        contracts::Buttons::YesNo(), 0) != ui::ModalResult::Yes) {
    return;
  }
  boExpedir = true;
  if (PNrGradeDistr != nullptr) *PNrGradeDistr = stNrGrade;
  if (PboOpcao != nullptr) *PboOpcao = true;
  const bool painel = panTransp->Visible();
  if (PstNrInsc != nullptr) *PstNrInsc = painel ? medCdTransp->Text() : "";
  if (PstTpTrans != nullptr) *PstTpTrans = TpTransDespacho();
  if (PstIdFrete != nullptr) *PstIdFrete = IdFreteDespacho();
  Close();
}

std::string TfrmGradeDistribuicao::TpTransDespacho() const {
  return panTransp->Visible() ? medTpTransp->Text() : "";
}

std::string TfrmGradeDistribuicao::IdFreteDespacho() const {
  return panTransp->Visible() ? FreteCodigo(cbbTipoFrete->ItemIndex()) : "9";
}

}  // namespace dg::screen
