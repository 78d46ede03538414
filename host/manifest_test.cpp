// The loading manifest as a reader takes it in: what each vehicle's pages
// say, in order, built from the server's answer for a planned grid.
#include "host/manifest.h"

#include <gtest/gtest.h>

#include "appserver/testing/test_support.h"

namespace dg::host {
namespace {

using data::Variant;
using server::testing::kKey;
using server::testing::Str;

class ManifestReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server::LoadFixture(*db_.storage(), server::testing::SmallFixture());
    transport_ = std::make_unique<server::InProcessTransport>(
        std::make_shared<server::rdmGradeDistribuicao>(db_.storage()), "ANA");
  }
  data::CallReply Call(const std::string& method, std::vector<Variant> args) {
    return transport_->Call(server::kServerName, method, args);
  }
  std::string Distribute(const std::string& key) {
    const Variant items = Call("GetItensExpedicao", {"0001"}).result;
    return Str(
        Call("DistribuiQuantidades", {items, "IDCHECK = 'S'", key, "", "ANA", "0001"}).args[3]);
  }
  std::string Text(const std::string& grid) {
    return ui::ReportText(
        ManifestReport(Call("GetRomaneio", {"0001", grid}).result, "01/07/2025 08:00"));
  }

  server::testing::TempDatabase db_;
  std::unique_ptr<data::CallTransport> transport_;
};

TEST_F(ManifestReportTest, StopsInDeliveryOrderWithTheirItemsAndTotals) {
  const std::string grid = Distribute(kKey);
  Call("SetPedidos", {"0001", "V1", grid});
  for (const auto& [stop, order, item] :
       {std::tuple{"1", "P3", "1"}, {"2", "P1", "1"}, {"2", "P1", "2"}}) {
    Call("SetGradeRota", {stop, order, "V1", "0001", grid, item, "", "I"});
  }
  EXPECT_EQ(Text(grid),
            "== Romaneio de Carga · Grade " + grid +
                " · Veículo V1 - Truck\n"
                "Filial: 0001\n"
                "Endereço da filial: Rua A, 1 · CEP 13015-081\n"
                "Grade: " +
                grid +
                "\n"
                "Situação: Aberta, ainda não expedida (conferência)\n"
                "Data de entrega: 10/06/2025\n"
                "Emissão: 01/07/2025 08:00\n"
                "# Transporte\n"
                "Transportadora: Rodo\n"
                "CNPJ: 11.222.333/0001-81\n"
                "Tipo de transporte: Não informado\n"
                "Frete: Não informado\n"
                "Veículo: V1 - Truck\n"
                "Capacidade: 100,000 kg · 1,000 m³\n"
                "# Entregas\n"
                "Pedido | Item | Produto | Descrição | Un. | Quantidade | Peso (kg) | Volume (m³)\n"
                "> Parada 1: C3 - Mercado Três · Rua C3, 30 · Entrega 10/06/2025\n"
                "P3 | 1 | C |  |  | 4 | 20,000 | 0,200\n"
                "=  |  |  | Total da parada 1 |  |  | 20,000 | 0,200\n"
                "> Parada 2: C1 - Mercado Um · Rua C1, 10 · CEP 1 · Entrega 10/06/2025\n"
                "P1 | 1 | A |  |  | 2 | 20,000 | 0,200\n"
                "P1 | 2 | B |  |  | 1 | 20,000 | 0,100\n"
                "=  |  |  | Total da parada 2 |  |  | 40,000 | 0,300\n"
                "> Sem ordem de entrega: C2 - Mercado Dois · Endereço não cadastrado · Entrega "
                "10/06/2025\n"
                "P2 | 1 | A |  |  | 3 | 30,000 | 0,300\n"
                "=  |  |  | Total da entrega sem ordem |  |  | 30,000 | 0,300\n"
                "# Totais do veículo\n"
                " | Carregado | Capacidade | Livre | Ocupação\n"
                "Peso (kg) | 90,000 | 100,000 | 10,000 | 90,0%\n"
                "Volume (m³) | 0,800 | 1,000 | 0,200 | 80,0%\n"
                "Paradas: 3\n"
                "Pedidos: 3\n"
                "# Rota\n"
                "Distância: Não calculada\n"
                "Tempo: Não calculado\n"
                "Itinerário não calculado: use \"Rota por Mapa\" na grade.\n"
                "\nConferente: ______________________________    "
                "Motorista: ______________________________\n");
}

// A route with a clock prints each located stop's window beside its planned
// arrival and departure (ten minutes of unloading), and the driver's start
// and return; a stop without coordinates has no times.
TEST_F(ManifestReportTest, PlannedTimesBesideTheWindowAndTheDriversStartAndReturn) {
  const std::string grid = Distribute(kKey);
  db_.storage()->Transact(server::TxKind::Write, [](server::Session& s) {
    s.Exec("UPDATE CLIENTE SET HRJANELA1 = '07:00-08:00' WHERE CDCLIENTE = 'C1'");
    s.Exec("UPDATE VEICULO SET HRINICIOJORN = '06:00'");
    s.Exec("UPDATE PARAMETROS SET QTMINPARADA = 10");
  });
  const std::string text = Text(grid);
  EXPECT_NE(text.find("Mercado Um · Rua C1, 10 · CEP 1 · Entrega 10/06/2025 · Janela "
                      "07:00-08:00 · Chegada 07:00 · Saída 07:10\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Mercado Dois · Endereço não cadastrado · Entrega 10/06/2025\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Saída da filial: 06:5"), std::string::npos) << text;
  EXPECT_NE(text.find("Retorno à filial: 07:1"), std::string::npos) << text;
}

TEST_F(ManifestReportTest, DispatchedGridOfATransporterWithACpf) {
  const std::string grid = Distribute("F12345678909");
  Call("ExpedirGrade", {"0001", grid, "ANA", "0001", "3"});
  const std::string text = Text(grid);
  EXPECT_NE(text.find("CPF: 123.456.789-09\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Tipo de transporte: 0001 - Rodoviário\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Frete: 3 - Transporte Próprio por Conta do Remetente\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Situação: Expedida em "), std::string::npos) << text;
  EXPECT_NE(text.find(" por ANA\n"), std::string::npos) << text;
}

// One vehicle's manifest is that vehicle's pages of the whole grid's, under
// a title that names it; a vehicle the grid does not load is refused.
TEST_F(ManifestReportTest, EachVehiclesPagesPrintOnTheirOwn) {
  const std::string grid = Distribute(kKey);
  const Variant romaneio = Call("GetRomaneio", {"0001", grid}).result;
  const std::vector<std::string> vehicles = ManifestVehicles(romaneio);
  ASSERT_FALSE(vehicles.empty());
  const ui::Report whole = ManifestReport(romaneio, "01/07/2025 08:00");
  ASSERT_EQ(whole.sections.size(), vehicles.size());
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    const ui::Report one = ManifestReport(romaneio, "01/07/2025 08:00", vehicles[v]);
    ASSERT_EQ(one.sections.size(), 1u);
    ui::Report expected = whole;
    expected.sections = {whole.sections[v]};
    EXPECT_EQ(ui::ReportText(expected), ui::ReportText(one));
    EXPECT_EQ(one.title, whole.title + " - Veículo " + vehicles[v]);
    EXPECT_EQ(ManifestFileName("0001", grid, vehicles[v]),
              "romaneio-0001-" + grid + "-" + vehicles[v] + ".pdf");
  }
  try {
    ManifestReport(romaneio, "", "V9");
    ADD_FAILURE() << "V9 carries nothing in the grid";
  } catch (const Error& e) {
    EXPECT_EQ(std::string("A grade ") + grid + " não leva carga no veículo V9.", e.what());
  }
}

// The check copy of a grid still open prints what the clerk chose on the
// screen, and each stop's own delivery days; a dispatched grid prints what
// the dispatch recorded.
TEST_F(ManifestReportTest, ACheckCopyPrintsTheChoicesMadeAndEachStopsDays) {
  const Variant items = Call("GetItensExpedicao", {"0001"}).result;
  const std::string grid =
      Str(Call("DistribuiQuantidades", {items, "IDCHECK <> ''", kKey, "", "ANA", "0001"}).args[3]);
  Call("SetPedidos", {"0001", "V1", grid});
  for (const auto& [stop, order, item] :
       {std::tuple{"1", "P4", "1"}, {"1", "P1", "1"}, {"1", "P1", "2"}, {"2", "P2", "1"}}) {
    Call("SetGradeRota", {stop, order, "V1", "0001", grid, item, "", "I"});
  }
  const auto check_copy = [&](const char* type, const char* freight) {
    return ui::ReportText(ManifestReport(Call("GetRomaneio", {"0001", grid, type, freight}).result,
                                         "01/07/2025 08:00"));
  };
  std::string text = check_copy("0001", "1");
  for (const char* line :
       {"Data de entrega: 10/06/2025, 11/06/2025\n", "Tipo de transporte: 0001 - Rodoviário\n",
        "Frete: 1 - Contratação do Frete por Conta do Destinatário (FOB)\n",
        "> Parada 1: C1 - Mercado Um · Rua C1, 10 · CEP 1 · Entrega 10/06/2025, 11/06/2025\n",
        "> Parada 2: C2 - Mercado Dois · Endereço não cadastrado · Entrega 10/06/2025\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  // Nothing chosen yet: said so.
  text = check_copy("", "");
  EXPECT_NE(text.find("Tipo de transporte: Não informado\n"), std::string::npos) << text;

  Call("ExpedirGrade", {"0001", grid, "ANA", "0001", "3"});
  text = check_copy("0002", "1");
  EXPECT_NE(text.find("Frete: 3 - Transporte Próprio por Conta do Remetente\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Tipo de transporte: 0001 - Rodoviário\n"), std::string::npos) << text;
}

TEST_F(ManifestReportTest, AGridWithNothingOnItsVehiclesSaysSo) {
  const std::string grid = Str(Call("PrxNrGrade", {"0001"}).result);
  const std::string text = Text(grid);
  EXPECT_NE(text.find("Nenhum veículo carrega itens nesta grade."), std::string::npos) << text;
  EXPECT_EQ(ManifestFileName("0001", grid), "romaneio-0001-" + grid + ".pdf");
  EXPECT_EQ(FreightModeText("9"), "9 - Sem Ocorrência de Transporte");
  EXPECT_THROW(ManifestReport(Variant("not an answer"), ""), Error);
}

}  // namespace
}  // namespace dg::host
