#include "contracts/messages.h"

#include "data/errors.h"
#include "ui/text.h"

namespace dg::contracts {

namespace {

// Puts the text of the line whose key matches into *text; false when none.
bool Find(const std::vector<std::string>& lines, const std::string& key, std::string* text) {
  for (const std::string& line : lines) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    if (ui::EqualsIgnoreCase(std::string_view(line).substr(0, bar), key)) {
      *text = line.substr(bar + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

TMessages::TMessages(std::string name, std::vector<std::string> lines)
    : name_(std::move(name)), lines_(std::move(lines)) {}

bool TMessages::Contains(const std::string& key) const {
  std::string text;
  return Find(lines_, key, &text);
}

std::string TMessages::Msg(const std::string& key) const {
  std::string text;
  if (!Find(lines_, key, &text)) {
    throw Error("message \"" + key + "\" not found in " + name_);
  }
  return text;
}

ui::ModalResult TMessages::ShowMsg(const std::string& key, DialogType type, Buttons buttons,
                                   int help_context) const {
  const std::string text = Msg(key);
  ui::Dialogs& dialogs = ui::App().Dlg();
  if (type == DialogType::Confirmation || buttons.yes || buttons.no) {
    return dialogs.Question(text) == ui::Answer::Yes ? ui::ModalResult::Yes : ui::ModalResult::No;
  }
  if (type == DialogType::Error) {
    dialogs.Error(text);
  } else {
    dialogs.Info(text);
  }
  return ui::ModalResult::Ok;
}

std::vector<std::string> MsgPadraoLines() {
  return {
      "Excl|Confirma exclusão?",
      "SUCESSO|Grade de distribuição cadastrada com sucesso.",
      "PES_EXCED|Peso do pedido excede a capacidade máxima do veículo.",
      "VOL_EXCED|Volume do pedido excede a capacidade máxima do veículo.",
      "QTDE_PED_<>_EXP|A quantidade distribuida está diferente da quantidade a ser expedida.",
      "GRAVAR_DADOS|Os pedidos serão expedidos utilizando os dados informados na grade de "
      "distribuição. Deseja continuar?",
      "CANCELAR_DADOS|Ao sair da tela todos os dados informados na grade serão perdidos. Deseja "
      "continuar ?",
      "Ord_ja_Cad|Ordem já cadastrada.",
      "NR_DEVE|Ordem deve ser informada.",
      "filial|Filial",
      "Transp.|Transp.",
      "indef.|Indef.",
      "defina_o_retorno|Retorno deve ser definido.",
      "TODAS_ORDEM_INF|Ordem de entrega deve ser informada.",
      "TRANSP_NULL|Transportadora deve ser informada.",
      "TRANSP_NAO_CAD|Transportadora não cadastrada.",
      "CDTIPTRANS_NULO|Tipo de transporte deve ser informado.",
      "CD_NAO_CAD|Tipo de trasnporte não cadastrado.",
      "QT_EXCEDE|A quantidade dos produtos excede a capacidade dos veículos disponíveis. Não foi "
      "possível distribuir os produtos nos veículos.",
      "CAPA_PESO_MENOR|Peso suportado pelo veículo é menor que o peso do produto.",
      "CAPA_VOLUME_MENOR|Volume suportado pelo veículo é menor que o volume do produto.",
      "GRAVA_PEDIDOS|Deseja alterar todos os pedidos para que sejam transportados pelo veiculo "
      "selecionado? ",
      "SUCESS_pedido|Todos os Pedidos foram alocados no veiculo com sucesso!",
  };
}

std::vector<std::string> MsgMensagensPadroesLines() {
  return {
      "Excl|Confirma exclusão?",
      "Canc|Cancelar operação?",
      "Exclui_Iti|Esta operação excluirá os itinerários. Deseja continuar?",
      "Exclui_Iti_Carro|Esta operação excluirá o itinerário referente a este veículo. Deseja "
      "continuar?",
  };
}

}  // namespace dg::contracts
