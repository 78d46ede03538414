#include <string>

#include <gtest/gtest.h>

#include "contracts/consiste.h"
#include "contracts/messages.h"
#include "ui/application.h"
#include "ui/control.h"

namespace dg::contracts {
namespace {

TEST(ConsisteTest, RoundDecIsDecimalCorrectHalfAwayFromZero) {
  struct Case {
    double value;
    int decimals;
    double want;
  } cases[] = {
      {2.0005, 3, 2.001},  // the double is 2.000499999...
      {-2.0005, 3, -2.001},     {2.0004, 3, 2.0}, {1.0015, 3, 1.002}, {0.1 + 0.2, 3, 0.3},
      {1234.5675, 3, 1234.568}, {2.5, 0, 3.0},    {0.0, 3, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(c.want, Consiste::RoundDec(c.value, c.decimals))
        << c.value << " to " << c.decimals;
  }
}

TEST(ConsisteTest, AjustaPadsDigitCodesToTheWidth) {
  struct Case {
    const char* text;
    int width;
    const char* want;
  } cases[] = {
      {"1", 4, "0001"},   {"1", 3, "001"},     {"12", 4, "0012"},
      {" 7 ", 4, "0007"}, {"1234", 4, "1234"}, {"12345", 4, "12345"},  // longer: left as it is
      {"", 4, ""},        {"   ", 4, ""},      {"A1", 4, "A1"},        // not digits: trimmed only
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.want, Consiste::Ajusta(c.text, c.width)) << "'" << c.text << "' " << c.width;
  }
}

TEST(ConsisteTest, InscriptionTypeAndMaskYieldTheBareDigits) {
  struct Case {
    const char* typed;
    const char* code;
    const char* adjusted;
    const char* shown_with_mask;
  } cases[] = {
      {"12345678000190", "J", "12345678000190", "12.345.678/0001-90"},
      {"12.345.678/0001-90", "J", "12345678000190", "12.345.678/0001-90"},
      {"12345678901", "F", "12345678901", "123.456.789-01"},
      {"123.456.789-01", "F", "12345678901", "123.456.789-01"},
      // Another length: unchanged, reported as a legal person.
      {"123", "J", "123", nullptr},
      {"123456789012345", "J", "123456789012345", nullptr},
      {"", "J", "", nullptr},
      {"ABC12345678901", "J", "ABC12345678901", nullptr},
  };
  ui::Form form("frm");
  auto& med = form.Add<ui::MaskEdit>("medCdTransp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    std::string inscription = c.typed;
    EXPECT_EQ(c.code, Consiste::Ajusta_Inscricao(inscription));
    EXPECT_EQ(c.adjusted, inscription);
    if (c.shown_with_mask == nullptr) continue;
    // The edit holding the bare digits, once masked, shows the inscription
    // formatted and still yields the bare digits.
    med.SetEditMask("");
    med.SetText(inscription);
    med.SetEditMask(Consiste::PictPess(c.code));
    EXPECT_EQ(c.shown_with_mask, med.DisplayText());
    EXPECT_EQ(c.adjusted, med.Text());
  }
  EXPECT_EQ("", Consiste::PictPess("X"));
}

TEST(ConsisteTest, BlankTexts) {
  EXPECT_TRUE(Consiste::EmptyString(""));
  EXPECT_TRUE(Consiste::EmptyString(" \t "));
  EXPECT_FALSE(Consiste::EmptyString(" 0 "));
  EXPECT_EQ("a b", Consiste::AllTrim("  a b \r\n"));
  EXPECT_EQ("", Consiste::AllTrim("   "));
}

TEST(ConsisteTest, CheckResultServRejectsAnEmptyAnswer) {
  EXPECT_THROW(Consiste::CheckResultServ(data::Variant(), true, 0), Error);
  EXPECT_THROW(Consiste::CheckResultServ(data::Variant::Null(), true, 0), Error);
  EXPECT_EQ(data::Variant(5), Consiste::CheckResultServ(data::Variant(5), true, 0));
  data::DataPacket packet;
  packet.fields.push_back({"A", data::FieldType::String, 1});
  EXPECT_EQ(data::Variant(packet), Consiste::CheckResultServ(data::Variant(packet), true, 0));
}

TEST(ConsisteTest, MensErroShowsTheTextThenAbortsSilently) {
  ui::ScriptedDialogs dialogs;
  ui::ScopedDialogs scope(&dialogs);
  EXPECT_THROW(Consiste::MensErro("Transportadora deve ser informada.", true), Abort);
  Consiste::MensErro("only shown", false);
  EXPECT_EQ("error: Transportadora deve ser informada. | error: only shown", dialogs.Joined());
}

TEST(ConsisteTest, IndiceColFindsTheColumnOrNamesWhatIsMissing) {
  ui::Form form("frm");
  auto& grid = form.Add<ui::DataGrid>("dbgPadrao");
  grid.AddColumn("DSTIPOVEIC");
  grid.AddColumn("IDRETGRADEDISTR");
  EXPECT_EQ(1, Consiste::IndiceCol(grid, "IDRETGRADEDISTR"));
  EXPECT_EQ(1, Consiste::IndiceCol(grid, "idretgradedistr"));
  try {
    Consiste::IndiceCol(grid, "CODIGO");
    FAIL() << "no column";
  } catch (const Error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("CODIGO"));
    EXPECT_NE(std::string::npos, std::string(e.what()).find("dbgPadrao"));
  }
}

TEST(MessagesTest, KeysIgnoreLetterCase) {
  TMessages msg("msgPadrao", MsgPadraoLines());
  TMessages std_msg("msgMensagensPadroes", MsgMensagensPadroesLines());
  struct Case {
    const TMessages* table;
    const char* key;
    const char* text;
  } cases[] = {
      {&msg, "Filial", "Filial"},  // stored as "filial"
      {&msg, "TRANSP.", "Transp."},
      {&msg, "transp_nao_cad", "Transportadora não cadastrada."},
      {&msg, "QTDE_PED_<>_EXP",
       "A quantidade distribuida está diferente da quantidade a ser expedida."},
      {&msg, "CD_NAO_CAD", "Tipo de trasnporte não cadastrado."},
      {&msg, "GRAVA_PEDIDOS",
       "Deseja alterar todos os pedidos para que sejam transportados pelo veiculo selecionado? "},
      {&msg, "CANCELAR_DADOS",
       "Ao sair da tela todos os dados informados na grade serão perdidos. Deseja continuar ?"},
      {&std_msg, "Exclui_Iti_carro",
       "Esta operação excluirá o itinerário referente a este veículo. Deseja continuar?"},
      {&std_msg, "CANC", "Cancelar operação?"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.table->Msg(c.key)) << c.key;
  EXPECT_EQ(23u, msg.Lines().size());
  EXPECT_EQ(4u, std_msg.Lines().size());
}

TEST(MessagesTest, UnknownKeyIsAnErrorNamingIt) {
  TMessages msg("msgPadrao", MsgPadraoLines());
  try {
    msg.Msg("NO_SUCH_KEY");
    FAIL() << "unknown key";
  } catch (const Error& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("NO_SUCH_KEY"));
    EXPECT_NE(std::string::npos, std::string(e.what()).find("msgPadrao"));
  }
  EXPECT_FALSE(msg.Contains("Transp"));  // no prefix match
}

TEST(MessagesTest, ShowMsgAsksYesOrNoThroughTheDialogs) {
  ui::ScriptedDialogs dialogs;
  ui::ScopedDialogs scope(&dialogs);
  TMessages msg("msgMensagensPadroes", MsgMensagensPadroesLines());
  dialogs.QueueAnswer(ui::Answer::Yes);
  EXPECT_EQ(ui::ModalResult::Yes,
            msg.ShowMsg("Exclui_Iti", DialogType::Confirmation, Buttons::YesNo(), 0));
  EXPECT_EQ(ui::ModalResult::No,
            msg.ShowMsg("Excl", DialogType::Confirmation, Buttons::YesNo(), 0));
  EXPECT_EQ(
      "question: Esta operação excluirá os itinerários. Deseja continuar? -> yes | "
      "question: Confirma exclusão? -> no",
      dialogs.Joined());
}

}  // namespace
}  // namespace dg::contracts
