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
                "> Parada 1: C3 - Mercado Três · Rua C3, 30\n"
                "P3 | 1 | C |  |  | 4 | 20,000 | 0,200\n"
                "=  |  |  | Total da parada 1 |  |  | 20,000 | 0,200\n"
                "> Parada 2: C1 - Mercado Um · Rua C1, 10 · CEP 1\n"
                "P1 | 1 | A |  |  | 2 | 20,000 | 0,200\n"
                "P1 | 2 | B |  |  | 1 | 20,000 | 0,100\n"
                "=  |  |  | Total da parada 2 |  |  | 40,000 | 0,300\n"
                "> Sem ordem de entrega: C2 - Mercado Dois · Endereço não cadastrado\n"
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
