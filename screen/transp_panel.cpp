// Transporter panel: entry and validation of the transporter, the transport
// type and the freight mode, and the distribution set off by leaving it.
#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "contracts/lookup_sql.h"
#include "contracts/showavi.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "screen/grade_texts.h"
#include "screen/layout.h"
#include "screen/records.h"

namespace dg::screen {

using contracts::ByRef;
using contracts::Consiste::EmptyString;
using contracts::Consiste::MensErro;
using data::FieldType;

void TfrmGradeDistribuicao::CreateTranspPanel() {
  // ---- Look-ups: result fields in list order, labels as the list shows.
  contracts::lookup::SetPesqTranTexts(qryPesqTran);
  contracts::lookup::SetTipoTranspTexts(qryTipoTransp);
  {
    data::ClientDataset& q = qryPesqTran.DataSet();
    q.AddField("NRINSJURTRAN", FieldType::String, 20, true).display_label = "Inscrição";
    q.AddField("NMFANTTRAN", FieldType::String, 40).display_label = "Nome";
    q.AddField("CDTIPTRANS", FieldType::String, 4).display_label = "Tipo de Transporte";
    q.AddField("IDTPIJURTRAN", FieldType::String, 1, true).visible = false;
    data::ClientDataset& t = qryTipoTransp.DataSet();
    t.AddField("CDTIPTRANS", FieldType::String, 4, true).display_label = "Código";
    t.AddField("NMTIPTRANS", FieldType::String, 40).display_label = "Nome";
  }

  // ---- Controls, under the command bar.
  panTransp = &Add<ui::Panel>("panTransp");
  panTransp->align = ui::Align::Top;
  SetBounds(*panTransp, 0, 41, 1169, 32);
  panTransp->on_enter = [this](ui::Control& s) { panTranspEnter(s); };
  panTransp->on_exit = [this](ui::Control& s) { panTranspExit(s); };
  auto bold_label = [this](const char* name, const char* caption, int left) {
    ui::Label& l = Add<ui::Label>(name, panTransp);
    l.SetCaption(caption);
    l.font.bold = true;
    SetBounds(l, left, 9, 0, 13);
    return &l;
  };
  lblTransp = bold_label("lblTransp", "Transportadora", 8);
  medCdTransp = &Add<ui::MaskEdit>("medCdTransp", panTransp);
  SetBounds(*medCdTransp, 104, 5, 130, 21);
  medCdTransp->color = ui::ColorName::InfoTip;
  medCdTransp->tab_order = 0;
  medCdTransp->on_change = [this](ui::Control& s) { medCdTranspChange(s); };
  medCdTransp->on_enter = [this](ui::Control& s) { medCdTranspEnter(s); };
  medCdTransp->on_exit = [this](ui::Control& s) { medCdTranspExit(s); };
  btnTransp = &Add<contracts::TBtnPesquisa>("btnTransp", panTransp);
  SetBounds(*btnTransp, 236, 5, 23, 22);
  btnTransp->hint = "Pesquisar";
  btnTransp->Associate = medCdTransp;
  btnTransp->Title = "Transportadora";
  btnTransp->DataSource = &dtsPesqTran;
  btnTransp->EmptyError = "Não há transportadora cadastrada.";
  btnTransp->OnBeforePesq = [this](ui::Control& s) { btnTranspBeforePesq(s); };
  btnTransp->OnAfterPesq = [this](ui::Control& s) { btnTranspAfterPesq(s); };
  edtNmTransp = &Add<ui::Edit>("edtNmTransp", panTransp);
  SetBounds(*edtNmTransp, 262, 5, 200, 21);
  edtNmTransp->color = ui::ColorName::ButtonFace;
  edtNmTransp->SetEnabled(false);
  edtNmTransp->tab_stop = false;
  lblTpTransp = bold_label("lblTpTransp", "Tipo Transporte", 472);
  medTpTransp = &Add<ui::MaskEdit>("medTpTransp", panTransp);
  SetBounds(*medTpTransp, 572, 5, 45, 21);
  medTpTransp->color = ui::ColorName::InfoTip;
  medTpTransp->tab_order = 1;
  medTpTransp->on_change = [this](ui::Control& s) { medTpTranspChange(s); };
  medTpTransp->on_exit = [this](ui::Control& s) { medTpTranspExit(s); };
  btnTpTransp = &Add<contracts::TBtnPesquisa>("btnTpTransp", panTransp);
  SetBounds(*btnTpTransp, 619, 5, 23, 22);
  btnTpTransp->hint = "Pesquisar";
  btnTpTransp->Associate = medTpTransp;
  btnTpTransp->Title = "Tipo de Transporte";
  btnTpTransp->DataSource = &dtsTipoTransp;
  btnTpTransp->EmptyError = "Não há tipo de transporte cadastrado.";
  btnTpTransp->OnBeforePesq = [this](ui::Control& s) { btnTpTranspBeforePesq(s); };
  btnTpTransp->OnAfterPesq = [this](ui::Control& s) { btnTpTranspAfterPesq(s); };
  edtTpTransp = &Add<ui::Edit>("edtTpTransp", panTransp);
  SetBounds(*edtTpTransp, 645, 5, 150, 21);
  edtTpTransp->color = ui::ColorName::ButtonFace;
  edtTpTransp->SetEnabled(false);
  edtTpTransp->tab_stop = false;
  lblTipoFrete = bold_label("lblTipoFrete", "Frete", 805);
  cbbTipoFrete = &Add<ui::ComboBox>("cbbTipoFrete", panTransp);
  SetBounds(*cbbTipoFrete, 842, 5, 300, 21);
  cbbTipoFrete->style = ui::ComboStyle::DropDownList;
  cbbTipoFrete->items = FreteItems();
  cbbTipoFrete->tab_order = 2;
}

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
    Chama("DelGrade", {DiscardBranch(), ByRef(stNrGrade)});
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
        Chama("DistribuiQuantidades",
              {data::Variant(cdsExp.Data()), cdsExp.Filter(), ByRef(chave), ByRef(stNrGrade),
               contracts::Halvorn::Operador(), ByRef(stFilial)});
    const data::VariantArray& pacotes = resultado.AsArray();
    cdsVeiculo.SetData(pacotes.At(pacotes.Low()));
    cdsErro.SetData(pacotes.At(pacotes.Low() + 1));
  } catch (const Error& failure) {
    // A server text "@KEY" names one of the screen's own messages.
    const std::string text = failure.what();
    if (!text.empty() && text.front() == '@') MensErro(msgPadrao.Msg(text.substr(1)), true);
    throw;
  }
  Carrega(cdsGPedido, "GetGradeporPedido", {ByRef(stFilial), ByRef(stNrGrade)});
  Edit1->SetText(CurrentText(cdscCarrosPedido, "DSTIPOVEIC"));
  pgcPadrao->SetActivePage(tbsPedido);
  pgcPadraoChange(*pgcPadrao);
}

}  // namespace dg::screen
