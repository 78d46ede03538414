// Importing CSV files: the sample day, re-imports, and every kind of bad row
// refused with its place while the database stays as it was.
#include "appserver/import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "appserver/schema.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using testing::Backend;
using testing::TempDatabase;

std::string SourceDir() {
  const char* dir = std::getenv("EXP_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

std::vector<CsvFile> SampleFiles() {
  std::vector<CsvFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() + "/examples/import")) {
    if (entry.path().extension() != ".csv") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back(
        {entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(files.begin(), files.end(),
            [](const CsvFile& a, const CsvFile& b) { return a.name < b.name; });
  return files;
}

// Every row of every fixture table, sorted: the database as a clerk sees it.
std::string Dump(Storage& storage) {
  std::vector<std::string> lines;
  storage.Transact(TxKind::Read, [&](Session& s) {
    lines.clear();
    for (const FixtureTable& t : FixtureTables()) {
      std::string sql = "SELECT ";
      for (const ColumnDef& c : t.columns) sql += c.name + ",";
      sql.back() = ' ';
      for (const Row& r : s.Query(sql + "FROM " + t.name)) {
        std::string line = t.name;
        for (const Value& v : r) {
          line += '|';
          line += v.IsEmptyOrNull() ? std::string("~") : v.ToString();
        }
        lines.push_back(line);
      }
    }
  });
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::string Issues(const ImportReport& report) {
  std::string out;
  for (const ImportFileReport& f : report.files) {
    for (const ImportIssue& i : f.issues) out += FormatIssue(f.file, i) + "\n";
  }
  return out;
}

std::string Counts(const ImportReport& report) {
  std::string out;
  for (const ImportFileReport& f : report.files) {
    out += f.table + ":" + std::to_string(f.inserted) + "/" + std::to_string(f.updated) + "/" +
           std::to_string(f.unchanged) + (f.stored ? "" : "-") + " ";
  }
  return out;
}

std::string Query1(Storage& storage, const std::string& sql) {
  std::string out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    out.clear();
    for (const Row& r : s.Query(sql)) {
      for (std::size_t i = 0; i < r.size(); ++i) {
        if (i > 0) out += '|';
        out += r[i].IsEmptyOrNull() ? std::string("~") : r[i].ToString();
      }
      out += '\n';
    }
  });
  return out;
}

// Each case on SQLite and on PostgreSQL, on a database holding the sample day.
class ImportTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
  }
  Storage& storage() { return *db_.storage(); }
  ImportReport Import(const std::vector<CsvFile>& files, bool dry_run = false) {
    ImportOptions options;
    options.dry_run = dry_run;
    return ImportCsv(storage(), files, options);
  }
  void ImportSample() {
    const ImportReport report = Import(SampleFiles());
    ASSERT_TRUE(report.Ok()) << Issues(report);
  }

  TempDatabase db_{GetParam()};
};

TEST_P(ImportTest, SampleDayThenTheSameFilesAgainChangeNothing) {
  const ImportReport first = Import(SampleFiles());
  EXPECT_EQ(Issues(first), "");
  EXPECT_EQ(Counts(first),
            "clientes:14/0/0 filiais:1/0/0 itens:40/0/0 tipos_transporte:3/0/0 "
            "transportadoras:2/0/0 veiculos:4/0/0 ");
  const std::string stored = Dump(storage());
  const ImportReport again = Import(SampleFiles());
  EXPECT_EQ(Counts(again),
            "clientes:0/0/14 filiais:0/0/1 itens:0/0/40 tipos_transporte:0/0/3 "
            "transportadoras:0/0/2 veiculos:0/0/4 ");
  EXPECT_EQ(Dump(storage()), stored);

  // After a dispatch, the same files again leave what was dispatched
  // dispatched: an item the grids took whole stays at nothing to dispatch,
  // one taken in part keeps what is left.
  storage().Transact(TxKind::Write, [](Session& s) {
    s.Exec(
        "UPDATE ITEMPEDIDO SET QTEXPITEMPED = 4, QTDEAEXP = 6 WHERE NRPEDIDO = '410151' AND "
        "NRITEMPED = '001'");
    s.Exec(
        "UPDATE ITEMPEDIDO SET QTEXPITEMPED = QTDEAEXP, QTDEAEXP = 0 WHERE NRPEDIDO = "
        "'410152'");
  });
  const std::string dispatched = Dump(storage());
  EXPECT_EQ(Counts(Import(SampleFiles())),
            "clientes:0/0/14 filiais:0/0/1 itens:0/0/40 tipos_transporte:0/0/3 "
            "transportadoras:0/0/2 veiculos:0/0/4 ");
  EXPECT_EQ(Dump(storage()), dispatched);

  // What the files' formats leave to the reader: Windows-1252 accents,
  // decimal commas and points, formatted inscriptions, codes and CEPs.
  EXPECT_EQ(Query1(storage(), "SELECT NMFILIAL, NRCEPFILI, LATITUDE FROM FILIAL"),
            "Filial Ribeirão Preto|14096-350|-21.1964\n");
  EXPECT_EQ(Query1(storage(), "SELECT CDFILIAL, NRINSJURTRAN, CDTIPTRANS FROM PARAMETROS"),
            "0001|27415836000103|0001\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT IDTPIJURTRAN, NRINSJURTRAN FROM TRANSPORT "
                   "ORDER BY NRINSJURTRAN"),
            "J|27415836000103\nF|31852760435\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT CDVIATURA, QTCAPACIVIAT, VRVOLUMEVIAT, IDTPIJURTRAN "
                   "FROM VEICULO WHERE CDVIATURA IN ('1001', '2001') ORDER BY 1"),
            "1001|3000|16.5|J\n2001|650|3.2|F\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT IDTPIJURCLIE, NRINSJURCLIE FROM CLIENTE "
                   "WHERE CDCLIENTE = '003009'"),
            "F|21533890706\n");
  // An item takes its client's names, the ready flag, its product as the
  // shown code, and its gross weight.
  EXPECT_EQ(Query1(storage(),
                   "SELECT NMFANTCLIE, IDCHECK, CDARVPROD, QTITEMPED, PESOBRUTO, "
                   "DTENTPED FROM ITEMPEDIDO WHERE NRPEDIDO = '410151' AND "
                   "NRITEMPED = '001'"),
            "Supermercado Vale Verde|S|000207|10|126|2025-07-15T00:00:00\n");
}

TEST_P(ImportTest, UpdatesOnlyTheColumnsAFileHas) {
  ImportSample();
  const ImportReport report = Import({{"c.csv",
                                       "Cliente;Nome Fantasia\n"
                                       "003001;Vale Verde Express\n"
                                       "003002;Empório São Sebastião\n"}});
  EXPECT_EQ(Counts(report), "clientes:0/1/1 ");
  EXPECT_EQ(Query1(storage(),
                   "SELECT NMFANTCLIE, CEP, NRINSJURCLIE FROM CLIENTE "
                   "WHERE CDCLIENTE = '003001'"),
            "Vale Verde Express|14020-260|30110000000105\n");
}

// Each bad file holds a good row first: the whole file must be refused.
TEST_P(ImportTest, EveryBadRowIsReportedAndNothingOfItsFileIsStored) {
  ImportSample();
  const std::string before = Dump(storage());
  struct Case {
    const char* name;
    const char* text;
    const char* issues;
  } cases[] = {
      {"missing key", "cliente;nome_fantasia\n003001;Novo Nome\n;Sem Código\n",
       "f.csv:3:1: cliente: chave em branco\n"},
      {"number",
       "veiculo;descricao;capacidade_kg;volume_m3;transportadora\n"
       "1001;VUC;3100;16;27415836000103\n1002;Toco;6.000,5,1;30;27415836000103\n",
       "f.csv:3:3: capacidade_kg: \"6.000,5,1\" não é um número\n"},
      {"date",
       "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
       "volume_unitario_m3;entrega\n"
       "0001;410151;001;003001;000207;11;12,6;0,022;15/07/2025\n"
       "0001;410151;002;003001;000205;40;10,4;0,025;31/02/2025\n",
       "f.csv:3:9: entrega: \"31/02/2025\" não é uma data (dd/mm/aaaa ou aaaa-mm-dd)\n"},
      {"CNPJ", "cnpj_cpf;nome\n27.415.836/0001-03;Trans RP\n11.222.333/0001-82;Rodo\n",
       "f.csv:3:1: cnpj_cpf: CNPJ 11.222.333/0001-82 com dígitos verificadores errados\n"},
      {"CPF",
       "cliente;cnpj_cpf;nome_fantasia\n003001;30.110.000/0001-05;Vale\n"
       "003099;529.982.247-26;Zé\n",
       "f.csv:3:2: cnpj_cpf: CPF 529.982.247-26 com dígitos verificadores errados\n"},
      {"no transporter",
       "veiculo;descricao;capacidade_kg;volume_m3;transportadora\n"
       "1001;VUC;3100;16;27415836000103\n1009;Van;900;5;\n",
       "f.csv:3:5: transportadora: o veículo não tem transportadora\n"},
      {"unknown transporter",
       "veiculo;descricao;capacidade_kg;volume_m3;transportadora\n"
       "1001;VUC;3100;16;27415836000103\n"
       "1009;Van;900;5;11.222.333/0001-81\n",
       "f.csv:3:5: transportadora: transportadora 11.222.333/0001-81 não cadastrada\n"},
      {"amount the server would refuse",
       "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
       "volume_unitario_m3;entrega\n"
       "0001;410151;001;003001;000207;11;12,6;0,022;15/07/2025\n"
       "0001;410151;002;003001;000205;99999999999999999999;-10,4;0,025;15/07/2025\n",
       "f.csv:3:6: quantidade: \"99999999999999999999\" deve estar entre 0 e 1000000000000\n"
       "f.csv:3:7: peso_unitario_kg: \"-10,4\" não pode ser negativo\n"},
      {"unknown client",
       "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
       "volume_unitario_m3;entrega\n"
       "0001;410151;001;003001;000207;11;12,6;0,022;15/07/2025\n"
       "0001;410999;001;009999;000205;4;10,4;0,025;15/07/2025\n",
       "f.csv:3:4: cliente: cliente 009999 não cadastrado\n"},
      {"repeated key", "tipo_transporte;nome\n1;Rodoviário\n0001;Outro\n",
       "f.csv:3: repete a chave da linha 2\n"},
      {"range and person type",
       "cnpj_cpf;tipo_pessoa;nome;latitude\n27415836000103;J;Trans;-21,1\n"
       "31852760435;J;José;95\n",
       "f.csv:3:1: cnpj_cpf: CNPJ 00.031.852/7604-35 com dígitos verificadores errados\n"
       "f.csv:3:4: latitude: \"95\" deve estar entre -90 e 90\n"},
      {"cells past the header", "tipo_transporte;nome\n1;Rodoviário;x\n",
       "f.csv:2:3: mais células do que o cabeçalho tem colunas\n"},
      {"selecionado beyond S and X",
       "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
       "volume_unitario_m3;entrega;selecionado\n"
       "0001;410151;001;003001;000207;11;12,6;0,022;15/07/2025;x\n"
       "0001;410151;002;003001;000205;40;10,4;0,025;15/07/2025;Q\n",
       "f.csv:3:10: selecionado: \"Q\" deve ser S (pronto) ou X (retido)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ImportReport report = Import({{"f.csv", c.text}});
    EXPECT_EQ(Issues(report), c.issues);
    EXPECT_FALSE(report.files[0].stored);
    EXPECT_EQ(Dump(storage()), before);
  }
}

TEST_P(ImportTest, HeaderProblems) {
  const ImportReport report = Import({
      {"a.csv", "codigo;nome\n1;x\n"},
      {"b.csv", "cliente;nome_fantasia;telefone;cliente\n1;x;;1\n"},
      {"c.csv", "veiculo;descricao\nV1;Van\n"},
      {"d.csv", ""},
  });
  const std::string issues = Issues(report);
  EXPECT_NE(issues.find("a.csv:1: o cabeçalho não nomeia nenhuma tabela conhecida; cada tabela "
                        "é nomeada pelas suas colunas-chave (tipos_transporte: tipo_transporte; "
                        "transportadoras: cnpj_cpf;"),
            std::string::npos)
      << issues;
  EXPECT_NE(issues.find("b.csv:1:3: telefone: coluna \"telefone\" desconhecida em clientes "
                        "(conhecidas: cliente, cnpj_cpf, tipo_pessoa, nome_fantasia,"),
            std::string::npos)
      << issues;
  EXPECT_NE(issues.find("b.csv:1:4: cliente: a coluna cliente aparece duas vezes (também na "
                        "célula 1)\n"),
            std::string::npos)
      << issues;
  EXPECT_NE(issues.find("c.csv:1: falta a coluna obrigatória capacidade_kg\n"), std::string::npos)
      << issues;
  EXPECT_NE(issues.find("d.csv: o arquivo está vazio"), std::string::npos) << issues;
  EXPECT_EQ(Query1(storage(), "SELECT COUNT(*) FROM CLIENTE"), "0\n");
}

TEST_P(ImportTest, AGoodFileIsStoredBesideARefusedOne) {
  const std::vector<CsvFile> sample = SampleFiles();
  std::vector<CsvFile> files;
  for (const CsvFile& f : sample) {
    if (f.name == "itens.csv") continue;
    files.push_back(f);
  }
  files.push_back({"itens.csv",
                   "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
                   "volume_unitario_m3;entrega\n"
                   "0001;1;001;003001;A;1;1;1;15/07/2025\n0002;2;001;003001;A;1;1;1;15/07/2025\n"});
  const ImportReport report = Import(files);
  EXPECT_EQ(Issues(report), "itens.csv:3:1: filial: filial 0002 não cadastrada\n");
  EXPECT_EQ(Query1(storage(), "SELECT COUNT(*) FROM CLIENTE"), "14\n");
  EXPECT_EQ(Query1(storage(), "SELECT COUNT(*) FROM ITEMPEDIDO"), "0\n");
}

// One bad CPF refuses the transporters file: its line is the one cause
// reported as such, first; the vehicles, the branch that names a
// transporter of that file and every item of that branch say they depend on
// it instead of calling their references unknown.
TEST_P(ImportTest, RowsThatFailOnlyBecauseOfARefusedFileSaySo) {
  std::vector<CsvFile> files = SampleFiles();
  for (CsvFile& f : files) {
    if (f.name != "transportadoras.csv") continue;
    const auto at = f.bytes.find("318.527.604-35");
    ASSERT_NE(at, std::string::npos);
    f.bytes.replace(at, 14, "318.527.604-36");
  }
  const ImportReport report = Import(files);
  std::vector<std::string> causes, dependent;
  for (std::size_t i : report.order) {
    for (const ImportIssue& issue : report.files[i].issues) {
      (issue.depends_on.empty() ? causes : dependent)
          .push_back(FormatIssue(report.files[i].file, issue));
    }
  }
  EXPECT_EQ(causes, std::vector<std::string>{"transportadoras.csv:3:1: cnpj_cpf: CPF "
                                             "318.527.604-36 com dígitos verificadores errados"});
  ASSERT_EQ(dependent.size(), 1u + 4u + 40u);
  EXPECT_EQ(dependent[0],
            "filiais.csv:2:8: transportadora_padrao: depende da linha 2 de transportadoras.csv, "
            "arquivo recusado (transportadora 27.415.836/0001-03)");
  EXPECT_EQ(dependent[1],
            "veiculos.csv:2:5: transportadora: depende da linha 2 de transportadoras.csv, "
            "arquivo recusado (transportadora 27.415.836/0001-03)");
  EXPECT_EQ(dependent[4],
            "veiculos.csv:5:5: transportadora: não há transportadora 318.527.604-35 "
            "(transportadoras.csv foi recusado)");
  EXPECT_EQ(dependent[5],
            "itens.csv:2:1: filial: depende da linha 2 de filiais.csv, arquivo recusado (filial "
            "0001)");
  EXPECT_EQ(Counts(report).find("clientes:14/0/0 "), 0u) << Counts(report);
}

// A 50 MB cell is quoted by its first characters; a row of a million cells
// past the header lists a hundred problems and counts the rest.
TEST_P(ImportTest, ReportsStayShortWhateverTheInput) {
  const std::string big(50u << 20, 'x');
  std::string wide = "tipo_transporte;nome\n1;Rodoviário";
  for (int i = 0; i < 1'000'000; ++i) wide += ";x";
  wide += "\n";
  const ImportReport report = Import({
      {"a.csv", "cliente;nome_fantasia;cep\n1;Um;" + big + "\n"},
      {"b.csv", wide},
  });
  const std::string issues = Issues(report);
  EXPECT_LT(issues.size(), 20'000u);
  EXPECT_NE(issues.find("a.csv:2:3: cep: \"" + std::string(40, 'x') +
                        "…\" (52428800 bytes) não é um "
                        "CEP (8 dígitos)\n"),
            std::string::npos)
      << issues.substr(0, 400);
  ASSERT_EQ(report.files[1].issues.size(), 100u);
  EXPECT_EQ(report.files[1].unlisted, 1'000'000 - 100);
}

// A vehicle's capacity is never imported below what open and dispatched
// grids carry on it, and a change of more than ten times needs saying so.
TEST_P(ImportTest, CapacitiesNeverFallBelowWhatGridsCarry) {
  ImportSample();
  storage().Transact(TxKind::Write, [](Session& s) {
    s.Exec(
        "INSERT INTO CARGAVEICULO (CDVIATURA, DTENTREGA, VRPESO, VRVOLUME) VALUES "
        "('1003', '2025-07-15', 9940.5, 20)");
  });
  const std::string header = "veiculo;descricao;capacidade_kg;volume_m3;transportadora\n";
  const std::string tonnes = header + "1003;Truck MB Atego 2426;12;45;27415836000103\n";
  EXPECT_EQ(Issues(Import({{"v.csv", tonnes}})),
            "v.csv:2:3: capacidade_kg: 12 é menos do que as grades abertas e expedidas já levam "
            "neste veículo (9940,5 kg em 15/07/2025)\n");
  ImportOptions accept;
  accept.accept_large_changes = true;
  EXPECT_FALSE(ImportCsv(storage(), {{"v.csv", tonnes}}, accept).Ok()) << "never below the load";

  const std::string larger = header + "1003;Truck MB Atego 2426;150000;45;27415836000103\n";
  EXPECT_EQ(Issues(Import({{"v.csv", larger}})),
            "v.csv:2:3: capacidade_kg: passa de 12000 para 150000 kg, mais de dez vezes: confira "
            "a unidade; se estiver certo, importe com --accept-large-changes\n");
  EXPECT_TRUE(ImportCsv(storage(), {{"v.csv", larger}}, accept).Ok());
  EXPECT_EQ(Query1(storage(), "SELECT QTCAPACIVIAT FROM VEICULO WHERE CDVIATURA = '1003'"),
            "150000\n");
}

// The clock of a day: windows and times are stored in one form whatever
// the file wrote, read back the same on either storage, and a window or a
// working day that cannot be is refused on its line with nothing stored.
TEST_P(ImportTest, ReceivingWindowsAndWorkingDaysAreCheckedAndReadBackTheSame) {
  ImportSample();
  const ImportReport good = Import({
      {"c.csv",
       "cliente;nome_fantasia;janela_1;janela_2;descarga_min_parada;descarga_min_tonelada\n"
       "003001;Vale Verde;7:00 - 11:00;13h00 a 17h;15;4,5\n"
       "003002;Empório;06:30–09:00;;;\n"},
      {"v.csv",
       "veiculo;descricao;capacidade_kg;volume_m3;transportadora;inicio_jornada;fim_jornada;"
       "jornada_max_horas\n"
       "1001;VUC;3000;16,5;27415836000103;6:00;18:00;9,5\n"},
      {"f.csv",
       "filial;nome;carga_min;descarga_min_parada;descarga_min_tonelada;pausa_apos_horas;"
       "pausa_min\n"
       "0001;Filial Ribeirão Preto;40;10;3;5,5;30\n"},
      {"t.csv",
       "tipo_transporte;nome;velocidade_urbana_kmh;velocidade_rodovia_kmh\n"
       "1;Rodoviário Próprio;25;70\n"},
  });
  ASSERT_EQ(Issues(good), "");
  EXPECT_EQ(Query1(storage(),
                   "SELECT CDCLIENTE, HRJANELA1, HRJANELA2, QTMINPARADA, QTMINTONELADA FROM "
                   "CLIENTE WHERE CDCLIENTE IN ('003001', '003002') ORDER BY 1"),
            "003001|07:00-11:00|13:00-17:00|15|4.5\n003002|06:30-09:00|~|~|~\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT HRINICIOJORN, HRFIMJORN, QTHORASJORN FROM VEICULO "
                   "WHERE CDVIATURA = '1001'"),
            "06:00|18:00|9.5\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT QTMINCARGA, QTMINPARADA, QTMINTONELADA, QTHORASDIRECAO, QTMINPAUSA "
                   "FROM PARAMETROS"),
            "40|10|3|5.5|30\n");
  EXPECT_EQ(Query1(storage(),
                   "SELECT VRVELURBANA, VRVELRODOVIA FROM TIPOTRANSP WHERE CDTIPTRANS = '0001'"),
            "25|70\n");

  const std::string before = Dump(storage());
  const std::string clients =
      "cliente;nome_fantasia;janela_1;janela_2\n003003;Nove;08:00-10:00;\n";
  const std::string vehicles =
      "veiculo;descricao;capacidade_kg;volume_m3;transportadora;inicio_jornada;fim_jornada\n"
      "1002;Toco;6000;30;27415836000103;05:00;15:00\n";
  struct Case {
    const char* name;
    std::string text;
    const char* issues;
  } cases[] = {
      {"hours past the day", clients + "003004;Pão;25:00-26:00;\n",
       "f.csv:3:3: janela_1: \"25:00-26:00\" não é uma janela (hh:mm-hh:mm)\n"},
      {"close before open", clients + "003004;Pão;10:00-07:00;\n",
       "f.csv:3:3: janela_1: \"10:00-07:00\" fecha antes de abrir\n"},
      {"minutes past the hour and a lone number", clients + "003004;Pão;07:75-09:00;8\n",
       "f.csv:3:3: janela_1: \"07:75-09:00\" não é uma janela (hh:mm-hh:mm)\n"
       "f.csv:3:4: janela_2: \"8\" não é uma janela (hh:mm-hh:mm)\n"},
      {"second window inside the first", clients + "003004;Pão;07:00-11:00;10:00-12:00\n",
       "f.csv:3:4: janela_2: 10:00-12:00 começa antes de a janela_1 (07:00-11:00) fechar\n"},
      {"second window alone", clients + "003004;Pão;;13:00-17:00\n",
       "f.csv:3:4: janela_2: a janela_2 precisa de uma janela_1 antes dela\n"},
      {"working day that ends before it starts",
       vehicles + "1003;Truck;12000;45;27415836000103;18:00;06:00\n",
       "f.csv:3:7: fim_jornada: 06:00 não é depois do início da jornada (18:00)\n"},
      {"a time that is no time", vehicles + "1003;Truck;12000;45;27415836000103;24:30;\n",
       "f.csv:3:6: inicio_jornada: \"24:30\" não é uma hora (hh:mm, de 00:00 a 24:00)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ImportReport report = Import({{"f.csv", c.text}});
    EXPECT_EQ(Issues(report), c.issues);
    EXPECT_FALSE(report.files[0].stored);
    EXPECT_EQ(Dump(storage()), before);
  }
}

// The demonstration day with windows (examples/import/janelas/ over the
// sample day) imports whole, and its distribution keeps every window and
// working day: nothing is listed late.
TEST_P(ImportTest, TheDemonstrationDayWithWindowsPlansWithoutALateStop) {
  ImportSample();
  std::vector<CsvFile> clock;
  for (const auto& entry :
       std::filesystem::directory_iterator(SourceDir() + "/examples/import/janelas")) {
    std::ifstream in(entry.path(), std::ios::binary);
    clock.push_back(
        {entry.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
  }
  ASSERT_EQ(clock.size(), 4u);
  const ImportReport report = Import(clock);
  ASSERT_TRUE(report.Ok()) << Issues(report);
  EXPECT_EQ(Query1(storage(), "SELECT COUNT(*) FROM CLIENTE WHERE HRJANELA1 IS NOT NULL"), "12\n");

  rdmGradeDistribuicao object(db_.storage());
  std::vector<data::Variant> ask = {data::Variant("0001")};
  const data::Variant items = object.Call("GetItensExpedicao", ask);
  std::vector<data::Variant> args = {items, "IDCHECK = 'S'", "J27415836000103", "", "ANA", "0001"};
  const data::Variant answer = object.Call("DistribuiQuantidades", args);
  EXPECT_EQ(answer.AsArray()[1].AsPacket().rows.size(), 0u);
  // Every stop has its number in the plan's order.
  EXPECT_EQ(Query1(storage(), "SELECT COUNT(*) FROM ALOCGRADE WHERE NRORDENTREGRADE IS NULL OR "
                              "NRORDENTREGRADE = ''"),
            "0\n");
}

TEST_P(ImportTest, DryRunChecksAcrossFilesAndStoresNothing) {
  // Vehicles come before their transporters in the list: tables are taken
  // in the order of what they refer to.
  std::vector<CsvFile> files = SampleFiles();
  std::reverse(files.begin(), files.end());
  const ImportReport report = Import(files, /*dry_run=*/true);
  EXPECT_EQ(Issues(report), "");
  EXPECT_EQ(Counts(report),
            "veiculos:4/0/0- transportadoras:2/0/0- tipos_transporte:3/0/0- itens:40/0/0- "
            "filiais:1/0/0- clientes:14/0/0- ");
  EXPECT_EQ(Dump(storage()), "");
}

TEST_P(ImportTest, ZerosASpreadsheetDropped) {
  const ImportReport report = Import({
      {"t.csv", "cnpj_cpf;tipo_pessoa;nome\n191;J;Banco\n"},
      {"f.csv", "filial;nome;cep\n1;Filial Um;1310100\n"},
  });
  EXPECT_EQ(Issues(report), "");
  EXPECT_EQ(Query1(storage(), "SELECT IDTPIJURTRAN, NRINSJURTRAN FROM TRANSPORT"),
            "J|00000000000191\n");
  EXPECT_EQ(Query1(storage(), "SELECT CDFILIAL, NRCEPFILI FROM FILIAL"), "0001|01310-100\n");
  // A new branch gets its parameters, the transporter typed on the screen.
  EXPECT_EQ(Query1(storage(), "SELECT CDFILIAL, IDEXITRANSPDIST FROM PARAMETROS"), "0001|S\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testing::BackendName(info.param); });

}  // namespace
}  // namespace dg::server
