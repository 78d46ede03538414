// A distributor's own day from a clean start, as the README tells it: the
// sample CSV files imported into a new database, the screen played on them
// (transporter, distribution, delivery order, route, dispatch), the loading
// manifest printed after the dispatch and on demand, read back from the PDF
// and checked against what the server holds; then the result exported. On
// SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "appserver/grade_server.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "data/format.h"
#include "qtview/testing/pdf_text.h"

namespace dg::host {
namespace {

using qtview::testing::PdfPages;

namespace fs = std::filesystem;
using server::testing::Backend;
using server::testing::ChildProcess;
using server::testing::TempDatabase;

std::string Source(const std::string& path) {
  const char* root = std::getenv("EXP_SOURCE_DIR");
  return std::string(root ? root : EXP_SOURCE_ROOT) + "/" + path;
}

struct Ran {
  int status;
  std::string output;
};

Ran RunProgram(std::vector<std::string> argv) {
  ChildProcess child(argv);
  const int status = child.WaitForExit();
  return {status, child.Output()};
}

std::vector<std::string> SampleFiles() {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(Source("examples/import"))) {
    if (e.path().extension() == ".csv") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Kg(double v) { return data::FormatNumber("#,##0.000", v); }

// Checks the manifest against the server: each vehicle that carries
// something has its pages, its stops in the order the route tab lists
// them, each stop's total and the vehicle's total weight and volume.
void CheckManifest(const std::string& pdf, server::Storage& storage, const std::string& grid) {
  SCOPED_TRACE(pdf);
  const auto pages = PdfPages(pdf);
  if (!pages) GTEST_SKIP() << "pdftotext is not installed (poppler-utils)";
  struct Load {
    double weight = 0, volume = 0;
    std::map<std::string, double> by_client;
  };
  std::map<std::string, Load> loads;
  storage.Transact(server::TxKind::Read, [&](server::Session& s) {
    loads.clear();
    for (const server::Row& r :
         s.Query("SELECT CDVIATURA, CDCLIENTE, QTTRANSP * VRPESOUNIT, QTTRANSP * VRVOLUNIT "
                 "FROM ALOCGRADE WHERE CDFILIAL = '0001' AND NRGRADEDISTR = ?",
                 {server::Value(grid)})) {
      Load& l = loads[r[0].ToString()];
      l.weight += r[2].ToDouble();
      l.volume += r[3].ToDouble();
      l.by_client[r[1].ToString()] += r[2].ToDouble();
    }
  });
  ASSERT_FALSE(loads.empty());
  server::rdmGradeDistribuicao object(std::shared_ptr<server::Storage>(&storage, [](auto*) {}));
  for (const auto& [vehicle, load] : loads) {
    SCOPED_TRACE("vehicle " + vehicle);
    std::string text;
    for (const std::string& page : *pages) {
      if (page.find("Veículo " + vehicle + " - ") != std::string::npos) text += page;
    }
    ASSERT_FALSE(text.empty());
    std::vector<data::Variant> args = {grid, vehicle, "0001"};
    const data::DataPacket route = object.Call("GetGradeRota", args).AsPacket();
    std::size_t at = text.find("Entregas");
    int numbered = 0;
    for (const auto& row : route.rows) {
      const std::string code = row[route.FieldIndex("CODIGO")].ToString();
      const std::string stop = row[route.FieldIndex("NRORDENTREGRADE")].IsEmptyOrNull()
                                   ? "Sem ordem de entrega: "
                                   : "Parada " + std::to_string(++numbered) + ": ";
      const std::size_t found =
          text.find(stop + code + " - " + row[route.FieldIndex("NOME")].ToString(), at);
      ASSERT_NE(found, std::string::npos) << stop << code << " after " << at;
      // The stop's total comes before the next stop.
      const std::size_t total = text.find("Total da ", found);
      ASSERT_NE(total, std::string::npos);
      const std::string total_line = text.substr(total, text.find('\n', total) - total);
      EXPECT_NE(total_line.find(Kg(data::RoundDecimal(load.by_client.at(code), 3))),
                std::string::npos)
          << total_line;
      at = found + 1;
    }
    const std::size_t weights = text.find("Peso (kg)", text.find("Totais do veículo"));
    ASSERT_NE(weights, std::string::npos);
    const std::string weight_line = text.substr(weights, text.find('\n', weights) - weights);
    EXPECT_NE(weight_line.find(Kg(data::RoundDecimal(load.weight, 3))), std::string::npos)
        << weight_line;
    const std::size_t volumes = text.find("Volume (m³)", weights);
    const std::string volume_line = text.substr(volumes, text.find('\n', volumes) - volumes);
    EXPECT_NE(volume_line.find(Kg(data::RoundDecimal(load.volume, 3))), std::string::npos)
        << volume_line;
  }
}

class DayTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    dir_ = fs::temp_directory_path() / ("exp-day-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  TempDatabase db_{GetParam()};
  fs::path dir_;
};

TEST_P(DayTest, ImportDistributeDispatchPrintExport) {
  std::vector<std::string> import = {EXP_APPSERVER_BIN, "import", "--db", db_.path()};
  for (const std::string& f : SampleFiles()) import.push_back(f);
  const Ran imported = RunProgram(import);
  ASSERT_EQ(imported.status, 0) << imported.output;
  EXPECT_NE(imported.output.find("itens, 40 linhas: 40 inseridas"), std::string::npos)
      << imported.output;

  const Ran day = RunProgram({EXP_HOST_BIN, "--script", Source("examples/import/day-session.json"),
                              "--trace", (dir_ / "trace.jsonl").string(), "--db", db_.path(),
                              "--manifest-dir", dir_.string()});
  ASSERT_EQ(day.status, 0) << day.output;
  EXPECT_NE(day.output.find("grade 000001 expedida\n"), std::string::npos) << day.output;
  const std::string after_dispatch = (dir_ / "romaneio-0001-000001.pdf").string();
  const bool printing =
      day.output.find("romaneio de carga: " + after_dispatch) != std::string::npos;

  const std::string on_demand = (dir_ / "pedido.pdf").string();
  const Ran printed =
      RunProgram({EXP_HOST_BIN, "--db", db_.path(), "--manifest", "1", "--out", on_demand});
  if (!printing) {
    EXPECT_NE(printed.output.find("needs the Qt view"), std::string::npos) << printed.output;
  } else {
    ASSERT_EQ(printed.status, 0) << printed.output;
    CheckManifest(after_dispatch, *db_.storage(), "000001");
    // Each vehicle's pages on their own, beside the whole grid's.
    std::vector<std::string> vehicles;
    db_.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
      for (const server::Row& r : s.Query("SELECT DISTINCT CDVIATURA FROM ALOCGRADE WHERE "
                                          "NRGRADEDISTR = '000001' ORDER BY CDVIATURA")) {
        vehicles.push_back(server::testing::Str(r[0]));
      }
    });
    EXPECT_EQ(vehicles.size(), 2u);
    for (const std::string& vehicle : vehicles) {
      const std::string one = (dir_ / ("romaneio-0001-000001-" + vehicle + ".pdf")).string();
      EXPECT_NE(day.output.find("romaneio de carga do veículo " + vehicle + ": " + one),
                std::string::npos)
          << day.output;
      EXPECT_TRUE(fs::exists(one)) << one;
    }
    CheckManifest(on_demand, *db_.storage(), "000001");

    // Through a link or to the standard output, as to a printer's pipe: the
    // link stays a link, and the PDF ends as a PDF ends.
    const fs::path real = dir_ / "real.pdf", link = dir_ / "link.pdf", piped = dir_ / "out.pdf";
    std::ofstream(real).put('\n');
    fs::create_symlink(real, link);
    ASSERT_EQ(
        RunProgram({EXP_HOST_BIN, "--db", db_.path(), "--manifest", "1", "--out", link.string()})
            .status,
        0);
    EXPECT_TRUE(fs::is_symlink(link));
    CheckManifest(real.string(), *db_.storage(), "000001");
    const Ran to_stdout = RunProgram(
        {"/bin/sh", "-c", "exec \"$0\" --db \"$1\" --manifest 1 --out /proc/self/fd/1 > \"$2\"",
         EXP_HOST_BIN, db_.path(), piped.string()});
    ASSERT_EQ(to_stdout.status, 0) << to_stdout.output;
    EXPECT_NE(to_stdout.output.find("romaneio de carga: /proc/self/fd/1"), std::string::npos);
    std::ifstream pdf(piped, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(pdf)), {});
    EXPECT_EQ(bytes.rfind("%PDF-", 0), 0u);
    EXPECT_EQ(bytes.find("romaneio de carga"), std::string::npos);
    CheckManifest(piped.string(), *db_.storage(), "000001");
  }

  const Ran exported = RunProgram({EXP_APPSERVER_BIN, "export", "--db", db_.path(), "--grid", "1"});
  ASSERT_EQ(exported.status, 0) << exported.output;
  EXPECT_EQ(exported.output.rfind(
                "filial;grade;veiculo;ordem_entrega;cliente;pedido;item;produto;quantidade;", 0),
            0u)
      << exported.output;
  int allocations = 0;
  db_.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
    allocations = s.Query("SELECT COUNT(*) FROM ALOCGRADE")[0][0].ToInt32();
  });
  EXPECT_EQ(std::count(exported.output.begin(), exported.output.end(), '\n'), allocations + 1);

  // Per item: what was ordered, dispatched and left, and the grid that
  // dispatched it, as the database holds it after the day's dispatch.
  const Ran items = RunProgram({EXP_APPSERVER_BIN, "export", "--db", db_.path(), "--items"});
  ASSERT_EQ(items.status, 0) << items.output;
  std::string expected =
      "filial;pedido;item;produto;quantidade_pedida;quantidade_expedida;quantidade_a_expedir;"
      "grade;quantidade_na_grade;operador;expedida_em\n";
  db_.storage()->Transact(server::TxKind::Read, [&](server::Session& s) {
    const auto number = [](const server::Value& v) {
      return data::FormatNumber("", v.IsEmptyOrNull() ? 0.0 : v.ToDouble());
    };
    const auto text = [](const server::Value& v) { return server::testing::Str(v); };
    for (const server::Row& r :
         s.Query("SELECT i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED, i.CDPRODUTO, i.QTITEMPED, "
                 "i.QTEXPITEMPED, i.QTDEAEXP, (SELECT SUM(a.QTTRANSP) FROM ALOCGRADE a WHERE "
                 "a.NRGRADEDISTR = '000001' AND a.NRPEDIDO = i.NRPEDIDO AND a.NRITEMPED = "
                 "i.NRITEMPED), g.CDOPEREXPED, g.DTHREXPEDICAO FROM ITEMPEDIDO i, GRADEDISTR g "
                 "WHERE g.NRGRADEDISTR = '000001' ORDER BY i.CDFILIAL, i.NRPEDIDO, i.NRITEMPED")) {
      const bool dispatched = !r[7].IsNull();
      // Every item is recorded with what the grid carried of it, once.
      EXPECT_EQ(number(r[5]), dispatched ? number(r[7]) : "0") << text(r[1]);
      EXPECT_EQ(r[4].ToDouble(), r[5].ToDouble() + r[6].ToDouble()) << text(r[1]);
      expected +=
          text(r[0]) + ";" + text(r[1]) + ";" + text(r[2]) + ";" + text(r[3]) + ";" + number(r[4]) +
          ";" + number(r[5]) + ";" + number(r[6]) + ";" +
          (dispatched ? "000001;" + number(r[7]) + ";" + text(r[8]) + ";" + text(r[9]).substr(0, 19)
                      : ";;;") +
          "\n";
    }
  });
  EXPECT_EQ(expected, items.output);

  // A grid that does not exist has no manifest, and says so.
  const Ran missing = RunProgram(
      {EXP_HOST_BIN, "--db", db_.path(), "--manifest", "7", "--out", (dir_ / "x.pdf").string()});
  EXPECT_EQ(missing.status, 2);
  if (printing) {
    EXPECT_NE(missing.output.find("A grade 000007 não existe."), std::string::npos)
        << missing.output;
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.pdf"));
}

INSTANTIATE_TEST_SUITE_P(Backends, DayTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return server::testing::BackendName(info.param); });

}  // namespace
}  // namespace dg::host
