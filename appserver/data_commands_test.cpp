// The import and export commands as a user types them: arguments checked
// before the database is touched, the report, the progress of a large file.
#include "appserver/data_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

namespace fs = std::filesystem;

class DataCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("exp-commands-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  int Import(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return ImportCommand(args, out_, err_);
  }
  int Export(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return ExportCommand(args, out_, err_);
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(DataCommandsTest, BadArgumentsStopBeforeTheDatabaseIsMade) {
  const std::string db = (dir_ / "sub" / "new.db").string();
  const std::string good = Write("t.csv", "tipo_transporte;nome\n1;Rodoviário\n");
  struct Case {
    std::vector<std::string> args;
    const char* why;
  } cases[] = {
      {{"--db", db}, "name at least one CSV file"},
      {{good}, "--db is required"},
      {{"--db", db, (dir_ / "missing.csv").string()}, "cannot read"},
      {{"--db", db, dir_.string()}, "cannot read"},
      {{"--db", db, "--fast", good}, "unknown argument --fast"},
      {{"--db"}, "--db needs a value"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Import(c.args), 2) << c.why;
    EXPECT_NE(err_.str().find(c.why), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("usage: exp-appserver import"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(db));
  EXPECT_EQ(Export({"--db", db, "--grid", "1"}), 2);
  EXPECT_NE(err_.str().find("no database"), std::string::npos) << err_.str();
  EXPECT_EQ(Export({"--db", db}), 2);
  EXPECT_NE(err_.str().find("--grid or --items is required"), std::string::npos) << err_.str();
  EXPECT_EQ(Export({"--db", db, "--grid", "1", "--out", (dir_ / "no" / "x.csv").string()}), 2);
  EXPECT_FALSE(fs::exists(db));
}

TEST_F(DataCommandsTest, ReportsEachFileAndEveryProblem) {
  const std::string db = (dir_ / "sub" / "day.db").string();
  const std::string types = Write("tipos.csv", "tipo_transporte;nome\n1;Rodoviário\n2;Expresso\n");
  const std::string bad = Write("transp.csv", "cnpj_cpf;nome\n11.222.333/0001-82;Rodo\n;Sem\n");
  EXPECT_EQ(Import({"--db", db, types, bad}), 1);
  EXPECT_EQ(out_.str(),
            types + ": tipos_transporte, 2 linhas: 2 inseridas, 0 atualizadas, 0 sem mudança\n" +
                bad + ": transportadoras, 2 linhas: recusado, nada do arquivo foi gravado " +
                "(2 problemas)\n" + bad +
                ":2:1: cnpj_cpf: CNPJ 11.222.333/0001-82 com dígitos verificadores errados\n" +
                bad + ":3:1: cnpj_cpf: chave em branco\n");
  EXPECT_EQ(Import({"--db", db, "--dry-run", types}), 0);
  EXPECT_EQ(out_.str(),
            types +
                ": tipos_transporte, 2 linhas: 0 seriam inseridas, 0 seriam "
                "atualizadas, 2 sem mudança\nsimulação (--dry-run): nada foi gravado\n");
}

// A dry run on a database not made yet (a mistyped name, say) checks the
// files against an empty one and leaves no file or folder behind.
TEST_F(DataCommandsTest, DryRunOnANewDatabaseMakesNoFile) {
  const std::string db = (dir_ / "new" / "day.db").string();
  const std::string types = Write("tipos.csv", "tipo_transporte;nome\n1;Rodoviário\n");
  EXPECT_EQ(Import({"--db", db, "--dry-run", types}), 0);
  EXPECT_EQ(out_.str(),
            types +
                ": tipos_transporte, 1 linha: 1 seriam inseridas, 0 seriam "
                "atualizadas, 0 sem mudança\nsimulação (--dry-run): nada foi gravado\n");
  EXPECT_FALSE(fs::exists(dir_ / "new"));
}

TEST_F(DataCommandsTest, ALargeFileShowsItsProgress) {
  std::string text = "tipo_transporte;nome\n";
  for (int i = 1; i <= 2500; ++i) text += std::to_string(i) + ";Tipo " + std::to_string(i) + "\n";
  const std::string file = Write("tipos.csv", text);
  auto storage = OpenStorage((dir_ / "day.db").string());
  std::ostringstream out, err;
  EXPECT_EQ(ImportFiles(*storage, {file}, false, out, err, /*progress_in_place=*/false), 0);
  const std::string progress = err.str();
  EXPECT_NE(progress.find(file + ": checking 10% (250 of 2500)\n"), std::string::npos) << progress;
  EXPECT_NE(progress.find(file + ": checking 100% (2500 of 2500)\n"), std::string::npos);
  EXPECT_NE(progress.find(file + ": storing 50% (1250 of 2500)\n"), std::string::npos);
  EXPECT_EQ(std::count(progress.begin(), progress.end(), '\n'), 22);  // 0% to 100% by tens, twice
  // A terminal gets one line, rewritten.
  std::ostringstream terminal;
  ImportFiles(*storage, {file}, true, out, terminal, /*progress_in_place=*/true);
  EXPECT_EQ(terminal.str().find('\n'), std::string::npos);
  EXPECT_NE(terminal.str().find("\r" + file + ": checking 57% (1425 of 2500)"), std::string::npos);
}

}  // namespace
}  // namespace dg::server
