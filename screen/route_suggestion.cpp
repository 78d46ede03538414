// The suggested stop order of the route tab: the server works out the
// order, the clerk sees it and agrees, and each new number is then typed
// into the route grid, so that it takes the same path as the clerk's own
// typing.
#include <string>
#include <vector>

#include "contracts/consiste.h"
#include "contracts/showavi.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/grade_texts.h"
#include "screen/records.h"
#include "ui/application.h"

namespace dg::screen {

using contracts::Consiste::Ajusta;
using contracts::Consiste::AllTrim;
using contracts::Consiste::EmptyString;

namespace {

constexpr const char* kOrdem = "NRORDENTREGRADE";
constexpr std::size_t kLinhas = 25;  // stops listed in the question

}  // namespace

void TfrmGradeDistribuicao::sbtSugerirOrdemClick(ui::Control&) {
  if (!HasRecord(cdsGradeRota) || Editing(cdsGradeRota)) return;
  {
    contracts::Showavi::Guard avi(this, 6);
    Carrega(cdsOrdemSugerida, "GetOrdemSugerida",
            {CurrentText(cdsGradeRota, "CDFILIAL"), CurrentText(cdsGradeRota, "NRGRADEDISTR"),
             CurrentText(cdsGradeRota, "CDVIATURA")});
  }

  // The stops that get a number: those without one.
  struct Nova {
    std::string codigo, ordem;
  };
  std::vector<Nova> novas;
  std::vector<std::string> linhas;
  std::string percurso;
  // On a route with a clock: the arrival at each stop, and the stops this
  // order (the clerk's numbers kept) brings after their window closed.
  const auto texto = [this](const char* field) {
    data::Field* f = cdsOrdemSugerida.FindField(field);
    return f == nullptr || f->IsNull() ? std::string() : f->AsString();
  };
  std::vector<std::string> atrasos;
  for (cdsOrdemSugerida.First(); HasRecord(cdsOrdemSugerida) && !cdsOrdemSugerida.Eof();
       cdsOrdemSugerida.Next()) {
    const std::string atual = CurrentText(cdsOrdemSugerida, kOrdem);
    const std::string sugerida = CurrentText(cdsOrdemSugerida, "NRORDSUGERIDA");
    percurso = CurrentText(cdsOrdemSugerida, "DISTANCIA");
    const bool nova = EmptyString(atual) && !EmptyString(sugerida);
    if (nova) novas.push_back({CurrentText(cdsOrdemSugerida, "CODIGO"), sugerida});
    const std::string chegada = texto("HRCHEGADA");
    linhas.push_back(Ajusta(nova ? sugerida : atual, 3) + " - " +
                     CurrentText(cdsOrdemSugerida, "NOME") + (nova ? "" : " (mantida)") +
                     (chegada.empty() ? "" : ", chegada " + chegada));
    const std::string atraso = texto("NRMINATRASO");
    if (!atraso.empty() && atraso != "0") {
      atrasos.push_back(kParadaAtrasada + AllTrim(nova ? sugerida : atual) + " (" +
                        CurrentText(cdsOrdemSugerida, "NOME") + ")" + kPassaDaJanela +
                        texto("JANELA") + " em " + atraso + " min.");
    }
  }
  std::string avisos;
  for (const std::string& a : atrasos) avisos += "\n" + a;
  if (novas.empty()) {
    ui::App().Dlg().Info(kOrdemCompleta + avisos);
    return;
  }
  std::string pergunta = kOrdemSugerida + percurso + "):\n";
  for (std::size_t k = 0; k < linhas.size() && k < kLinhas; ++k) pergunta += linhas[k] + "\n";
  if (linhas.size() > kLinhas) {
    pergunta += "... e mais " + std::to_string(linhas.size() - kLinhas) + " locais\n";
  }
  if (!avisos.empty()) pergunta += avisos.substr(1) + "\n";
  pergunta += kGravarOrdem;
  if (ui::App().Dlg().Question(pergunta) != ui::Answer::Yes) return;

  // As typed, one stop after the other: the first post asks about the
  // itinerary, every post is validated, written and reloads the route. A
  // refusal ends the command there, with the row as the refusal left it.
  for (const Nova& n : novas) {
    if (!cdsGradeRota.Locate("CODIGO", {data::Variant(n.codigo)}, false)) continue;
    if (!EmptyString(CurrentText(cdsGradeRota, kOrdem))) continue;  // numbered meanwhile
    cdsGradeRota.Edit();
    cdsGradeRota.FieldByName(kOrdem).SetAsString(n.ordem);
    cdsGradeRota.Post();
  }
}

}  // namespace dg::screen
