// Fixed texts of the distribution grid screen and the freight modes.
#pragma once

#include <string>
#include <vector>

namespace dg::screen {

inline constexpr const char* kCaption = "Grade de Distribuição";
inline constexpr const char* kExpedir = "Gerar Nota de Expedição";
inline constexpr const char* kSugerirOrdem = "Sugerir Ordem";
// The suggested stop order: the question's first and last lines, and the
// note when every stop has its number already.
inline constexpr const char* kOrdemSugerida = "Ordem de entrega sugerida (percurso de ";
inline constexpr const char* kGravarOrdem = "Deseja gravar esta ordem?";
inline constexpr const char* kOrdemCompleta =
    "Todos os locais de entrega deste veículo já têm ordem.";
// A stop this order reaches after its receiving window closed: "Atenção: a
// parada 3 (Mercado Vale) passa da janela 07:00-10:00 em 25 min."
inline constexpr const char* kParadaAtrasada = "Atenção: a parada ";
inline constexpr const char* kPassaDaJanela = " passa da janela ";

// Items of cbbTipoFrete, by index; index 5 is the reset value.
inline const std::vector<std::string>& FreteItems() {
  static const std::vector<std::string> kItems = {
      "0 - Contratação do Frete por Conta do Remetente (CIF)",
      "1 - Contratação do Frete por Conta do Destinatário (FOB)",
      "2 - Contratação do Frete por Conta de Terceiros",
      "3 - Transporte Próprio por Conta do Remetente",
      "4 - Transporte Próprio por Conta do Destinatário",
      "9 - Sem Ocorrência de Transporte",
  };
  return kItems;
}
inline constexpr int kFreteSemOcorrencia = 5;

// The freight code handed to the host for a selected index (-1: none).
inline std::string FreteCodigo(int index) {
  if (index >= 0 && index < kFreteSemOcorrencia)
    return std::string(1, static_cast<char>('0' + index));
  return "9";
}

}  // namespace dg::screen
