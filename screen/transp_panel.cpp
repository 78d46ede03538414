// Transporter panel: entry and validation of the transporter, the transport
// type and the freight mode, and the distribution set off by leaving it.
#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/showavi.h"
#include "entry/globals.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/grade_texts.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::CheckResultServ;
using contracts::Consiste::EmptyString;
using contracts::Consiste::MensErro;

std::string TfrmGradeDistribuicao::ChaveTransportadora() {
  if (panTransp->Visible()) {
    std::string inscricao = medCdTransp->Text();
    const std::string tipo = contracts::Consiste::Ajusta_Inscricao(inscricao);
    return tipo + inscricao;
  }
  return ItemText("IDTPIJURTRAN") + ItemText("NRINSJURTRAN");
}

void TfrmGradeDistribuicao::Vd_Transp(bool required) {
  const bool vazio = EmptyString(medCdTransp->Text());
  if (Parametro("IDEXITRANSPDIST") != "S") return;
  try {
    if (vazio) {
      if (!required) return;
      MensErro(msgPadrao.Msg("TRANSP_NULL"), true);
    }
    std::string inscricao = medCdTransp->Text();
    const std::string tipo = contracts::Consiste::Ajusta_Inscricao(inscricao);
    {
      data::HandlerGuard no_change(medCdTransp->on_change);
      medCdTransp->SetEditMask(contracts::Consiste::PictPess(tipo));
    }
    qryPesqTran.Close();
    qryPesqTran.ParamByName("P_IDTPIJURTRAN").SetAsString(tipo);
    qryPesqTran.ParamByName("P_NRINSJURTRAN").SetAsString(medCdTransp->Text());
    qryPesqTran.Open();
    if (qryPesqTran.IsEmpty()) MensErro(msgPadrao.Msg("TRANSP_NAO_CAD"), true);
    edtNmTransp->SetText(qryPesqTran.FieldByName("NMFANTTRAN").AsString());
  } catch (...) {
    if (medCdTransp->CanFocus()) medCdTransp->SetFocus();
    throw;
  }
}

void TfrmGradeDistribuicao::Vd_TpTrans(bool required) {
  if (Parametro("IDEXITRANSPDIST") != "S") return;
  medTpTransp->SetText(contracts::Consiste::Ajusta(medTpTransp->Text(), 4));
  try {
    const std::string codigo = medTpTransp->Text();
    if (EmptyString(codigo)) {
      if (!required) return;
      MensErro(msgPadrao.Msg("CDTIPTRANS_NULO"), true);
    }
    qryTipoTransp.Close();
    qryTipoTransp.ParamByName("P_CDTIPTRANS").SetAsString(codigo);
    qryTipoTransp.Open();
    if (qryTipoTransp.IsEmpty()) MensErro(msgPadrao.Msg("CD_NAO_CAD"), true);
    edtTpTransp->SetText(qryTipoTransp.FieldByName("NMTIPTRANS").AsString());
  } catch (...) {
    if (medTpTransp->CanFocus()) medTpTransp->SetFocus();
    throw;
  }
}

void TfrmGradeDistribuicao::medCdTranspChange(ui::Control&) {
  edtNmTransp->Clear();
  medTpTransp->Clear();
  edtTpTransp->Clear();
  cbbTipoFrete->SetItemIndex(kFreteSemOcorrencia);
}

void TfrmGradeDistribuicao::medTpTranspChange(ui::Control&) {
  edtTpTransp->Clear();
  cbbTipoFrete->SetItemIndex(kFreteSemOcorrencia);
}

void TfrmGradeDistribuicao::medCdTranspEnter(ui::Control&) {
  data::HandlerGuard no_change(medCdTransp->on_change);
  medCdTransp->SetEditMask("");
}

void TfrmGradeDistribuicao::medCdTranspExit(ui::Control&) { Vd_Transp(true); }

void TfrmGradeDistribuicao::medTpTranspExit(ui::Control&) { Vd_TpTrans(true); }

void TfrmGradeDistribuicao::btnTranspBeforePesq(ui::Control&) {
  qryPesqTran.Close();
  qryPesqTran.ParamByName("P_IDTPIJURTRAN").Clear();
  qryPesqTran.ParamByName("P_NRINSJURTRAN").Clear();
  qryPesqTran.Open();
}

void TfrmGradeDistribuicao::btnTranspAfterPesq(ui::Control&) {
  medCdTransp->SetText(qryPesqTran.FieldByName("NRINSJURTRAN").AsString());
  edtNmTransp->SetText(qryPesqTran.FieldByName("NMFANTTRAN").AsString());
}

void TfrmGradeDistribuicao::btnTpTranspBeforePesq(ui::Control&) {
  qryTipoTransp.Close();
  qryTipoTransp.ParamByName("P_CDTIPTRANS").Clear();
}

void TfrmGradeDistribuicao::btnTpTranspAfterPesq(ui::Control&) {
  medTpTransp->SetText(qryTipoTransp.FieldByName("CDTIPTRANS").AsString());
  edtTpTransp->SetText(qryTipoTransp.FieldByName("NMTIPTRANS").AsString());
}

// ---- Entering and leaving the panel.

void TfrmGradeDistribuicao::panTranspEnter(ui::Control&) {
  {
    data::HandlerGuard no_scroll(cdsExp.after_scroll);
    CheckResultServ(netGradeDistribuicao.Call("DelGrade", {ItemText("CDFILIAL"), ByRef(stNrGrade)}),
                    true, 0);
    ExibeExp(false);
    cdsVeiculo.Close();
    pgcPadrao->SetActivePage(tbsPedido);
    tshRota->SetEnabled(false);
  }
  boCalculaPeso = true;
  dtsExpStateChange(dtsExp);
}

void TfrmGradeDistribuicao::panTranspExit(ui::Control&) {
  ExibeExp(true);
  CalculaPeso();
  tshRota->SetEnabled(true);
  try {
    std::string chave = ChaveTransportadora();
    contracts::Showavi::Guard avi(this, 1);
    const data::Variant resultado =
        CheckResultServ(netGradeDistribuicao.Call(
                            "DistribuiQuantidades",
                            {data::Variant(cdsExp.Data()), cdsExp.Filter(), ByRef(chave),
                             ByRef(stNrGrade), contracts::Halvorn::Operador(), ByRef(stFilial)}),
                        true, 0);
    const data::VariantArray& pacotes = resultado.AsArray();
    cdsVeiculo.SetData(pacotes.At(pacotes.Low()));
    cdsErro.SetData(pacotes.At(pacotes.Low() + 1));
  } catch (const Error& failure) {
    // A server text "@KEY" names one of the screen's own messages.
    const std::string text = failure.what();
    if (!text.empty() && text.front() == '@') MensErro(msgPadrao.Msg(text.substr(1)), true);
    throw;
  }
  cdsGPedido.SetData(CheckResultServ(
      netGradeDistribuicao.Call("GetGradeporPedido", {ByRef(stFilial), ByRef(stNrGrade)}), true,
      0));
  Edit1->SetText(cdscCarrosPedido.Active() && !cdscCarrosPedido.IsEmpty()
                     ? cdscCarrosPedido.FieldByName("DSTIPOVEIC").AsString()
                     : std::string());
  pgcPadrao->SetActivePage(tbsPedido);
  pgcPadraoChange(*pgcPadrao);
}

}  // namespace dg::screen
