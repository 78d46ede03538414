// What the loading manifest and the export read of a grid: the server's
// GetRomaneio, the dispatch that records the freight mode, and the CSV of
// the result.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "appserver/data_commands.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::Variant;
using namespace testing;

class ManifestTest : public CallingServerTest {
 protected:
  // Every selected item on V1, stops C3 (1) and C1 (2), C2 left without an
  // order, and a route worked out for V1.
  std::string PlannedGrid() {
    const Variant items = Call("GetItensExpedicao", {"0001"}).result;
    const std::string grid = Str(
        Call("DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, "", "ANA", "0001"}).args[3]);
    Call("SetPedidos", {"0001", "V1", grid});
    for (const auto& [stop, order, item] :
         {std::tuple{"1", "P3", "1"}, {"2", "P1", "1"}, {"2", "P1", "2"}}) {
      Call("SetGradeRota", {stop, order, "V1", "0001", grid, item, "", "I"});
    }
    Call("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "0h35min", "Saída: Filial\nTotal"});
    return grid;
  }
};

TEST_P(ManifestTest, GridVehiclesAndLinesInDeliveryOrder) {
  const std::string grid = PlannedGrid();
  Call("ExpedirGrade", {"0001", grid, "ANA", "0001", "1"});
  const data::VariantArray parts = Call("GetRomaneio", {"0001", grid}).result.AsArray();
  ASSERT_EQ(parts.Count(), 3);
  EXPECT_EQ(Column(parts[0], "NRGRADEDISTR") + " " + Column(parts[0], "IDSITGRADE") + " " +
                Column(parts[0], "CDTIPTRANS") + " " + Column(parts[0], "NMTIPTRANS") + " " +
                Column(parts[0], "IDTPFRETE") + " " + Column(parts[0], "CDOPEREXPED") + " " +
                Column(parts[0], "ENDERECO"),
            grid + " E 0001 Rodoviário 1 ANA Rua A, 1");
  EXPECT_EQ(Column(parts[1], "CDVIATURA"), "V1");
  EXPECT_EQ(Column(parts[1], "NMFANTTRAN") + " " + Column(parts[1], "NRINSJURTRAN"),
            "Rodo 11222333000181");
  // What V1 carries: 2x10 + 1x20 + 3x10 + 4x5 kg; 0.2 + 0.1 + 0.3 + 0.2 m3.
  EXPECT_EQ(Column(parts[1], "VRPESOTOTAL") + " " + Column(parts[1], "VRVOLTOTAL"), "90 0.8");
  EXPECT_EQ(Column(parts[1], "DISTANCIA") + " " + Column(parts[1], "TEMPO"), "12,5 km 0h35min");
  EXPECT_EQ(Column(parts[1], "DSITINERAGRADE"), "Saída: Filial\nTotal");
  EXPECT_EQ(Column(parts[2], "CDCLIENTE"), "C3,C1,C1,C2");
  EXPECT_EQ(Column(parts[2], "NRPEDIDO") + " " + Column(parts[2], "NRITEMPED"),
            "P3,P1,P1,P2 1,1,2,1");
  EXPECT_EQ(Column(parts[2], "VRPESO"), "20,20,20,30");
  EXPECT_EQ(Column(parts[2], "NMFANTCLIE"), "Mercado Três,Mercado Um,Mercado Um,Mercado Dois");
  // The stops come in the order the route tab lists them.
  const Variant route = Call("GetGradeRota", {grid, "V1", "0001"}).result;
  EXPECT_EQ(Column(route, "CODIGO"), "C3,C1,C2");
}

TEST_P(ManifestTest, DispatchWithoutTheFreightModeStillWorks) {
  const std::string grid = PlannedGrid();
  EXPECT_EQ(Failure("ExpedirGrade", {"0001", grid, "ANA"}), "ok");
  const Variant head = Call("GetRomaneio", {"0001", grid}).result.AsArray()[0];
  EXPECT_EQ(Column(head, "IDSITGRADE") + " " + Column(head, "IDTPFRETE"), "E null");
  // The arguments come back as they were sent, three of them.
  EXPECT_EQ(Call("ExpedirGrade", {"0001", grid, "ANA"}).args.size(), 3u);
  EXPECT_EQ(Failure("ExpedirGrade", {"0001", grid}), "ExpedirGrade: expected 5 arguments, got 2");
}

TEST_P(ManifestTest, UnknownAndDiscardedGridsHaveNoManifest) {
  EXPECT_EQ(Failure("GetRomaneio", {"0001", "424242"}), "A grade 424242 não existe.");
  const std::string grid = PlannedGrid();
  Call("DelGrade", {"0001", grid});
  EXPECT_EQ(Failure("GetRomaneio", {"0001", grid}), "A grade " + grid + " foi descartada.");
}

INSTANTIATE_TEST_SUITE_P(Transports, ManifestTest, TransportParams(), TransportParamName);

// The export reads the database directly: once per backend is enough.
class ExportTest : public ManifestTest {};

TEST_P(ExportTest, AllocationsInDeliveryOrderAsBrazilianCsv) {
  const std::string grid = PlannedGrid();
  std::ostringstream out;
  ExportGrid(*db_.storage(), "", grid, out);
  EXPECT_EQ(out.str(),
            "filial;grade;veiculo;ordem_entrega;cliente;pedido;item;produto;quantidade;peso_kg;"
            "volume_m3;janela;chegada;saida\n"
            "0001;" +
                grid +
                ";V1;1;C3;P3;1;C;4;20;0,2;;;\n"
                "0001;" +
                grid +
                ";V1;2;C1;P1;1;A;2;20;0,2;;;\n"
                "0001;" +
                grid +
                ";V1;2;C1;P1;2;B;1;20;0,1;;;\n"
                "0001;" +
                grid + ";V1;;C2;P2;1;A;3;30;0,3;;;\n");
  // With a clock, the located stops get their window and planned times.
  db_.storage()->Transact(TxKind::Write, [](Session& s) {
    s.Exec("UPDATE CLIENTE SET HRJANELA1 = '07:00-08:00' WHERE CDCLIENTE = 'C1'");
    s.Exec("UPDATE VEICULO SET HRINICIOJORN = '06:00'");
  });
  std::ostringstream timed;
  ExportGrid(*db_.storage(), "", grid, timed);
  EXPECT_NE(timed.str().find(";V1;1;C3;P3;1;C;4;20;0,2;;;\n"), std::string::npos) << timed.str();
  EXPECT_NE(timed.str().find(";V1;2;C1;P1;2;B;1;20;0,1;07:00-08:00;07:00;07:00\n"),
            std::string::npos)
      << timed.str();
  EXPECT_THROW(ExportGrid(*db_.storage(), "", "424242", out), Error);
  Call("DelGrade", {"0001", grid});
  EXPECT_THROW(ExportGrid(*db_.storage(), "0001", grid, out), Error);
  EXPECT_EQ(GridNumber("12"), "000012");
  EXPECT_EQ(GridNumber(" 000012 "), "000012");
  EXPECT_EQ(GridNumber("A12"), "A12");
}

// Where the command writes: a pipe or device named by --out stays what it
// is, and a write that fails is no success.
TEST_P(ExportTest, CommandWritesIntoPipesAndReportsWhatItCouldNotWrite) {
  namespace fs = std::filesystem;
  const std::string grid = PlannedGrid();
  const fs::path dir = fs::temp_directory_path() / ("exp-export-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::vector<std::string> args = {"--db", db_.path(), "--grid", grid};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), args.begin(), args.end());
    return more;
  };
  std::ostringstream out, err;

  const std::string pipe = (dir / "erp.pipe").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(ExportCommand(with({"--out", pipe}), out, err), 0) << err.str();
  char buffer[4096];
  const ssize_t got = ::read(reader, buffer, sizeof buffer);
  ::close(reader);
  EXPECT_EQ(std::string(buffer, got > 0 ? got : 0).rfind("filial;grade;veiculo;", 0), 0u);
  EXPECT_TRUE(fs::is_fifo(pipe));
  EXPECT_FALSE(fs::exists(pipe + ".part"));

  err.str("");
  EXPECT_EQ(ExportCommand(with({"--out", dir.string()}), out, err), 2);
  EXPECT_NE(err.str().find("is a folder"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir.string() + ".part"));

  std::ostringstream refusing;  // the standard output on a full disk
  refusing.setstate(std::ios::badbit);
  err.str("");
  EXPECT_EQ(ExportCommand(args, refusing, err), 1);
  EXPECT_NE(err.str().find("cannot write the standard output"), std::string::npos) << err.str();
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Backends, ExportTest,
                         ::testing::Combine(::testing::Values(false),
                                            ::testing::Values(Backend::Sqlite, Backend::Postgres)),
                         TransportParamName);

}  // namespace
}  // namespace dg::server
