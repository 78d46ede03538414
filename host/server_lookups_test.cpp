// The screen's look-ups answered by the application server: the same rows
// the look-up's own text gives on the server's database, and nothing else
// asked of the server.
#include "host/server_lookups.h"

#include <gtest/gtest.h>

#include "appserver/argument_rules.h"
#include "appserver/grade_server.h"
#include "appserver/testing/test_support.h"
#include "contracts/lookup_sql.h"
#include "contracts/sqlite_connection.h"
#include "ui/text.h"

namespace dg::host {
namespace {

// Counts the calls that reach the server.
class CountingTransport : public data::CallTransport {
 public:
  explicit CountingTransport(std::shared_ptr<data::CallTransport> inner)
      : inner_(std::move(inner)) {}
  data::CallReply Call(const std::string& server, const std::string& method,
                       const std::vector<data::Variant>& args) override {
    ++calls;
    return inner_->Call(server, method, args);
  }
  int calls = 0;

 private:
  std::shared_ptr<data::CallTransport> inner_;
};

class ServerLookupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server::LoadFixture(*db_.storage(), server::testing::SmallFixture());
    transport_ = std::make_shared<CountingTransport>(std::make_shared<server::InProcessTransport>(
        std::make_shared<server::rdmGradeDistribuicao>(db_.storage())));
    contracts::lookup::SetPesqTranTexts(tran_);
    contracts::lookup::SetTipoTranspTexts(tipo_);
  }
  void TearDown() override { contracts::SetDefaultDatabase(nullptr); }

  // The look-up's rows, field by field, run on `db`.
  std::vector<std::string> Rows(contracts::DatabaseConnection& db, contracts::TADOIBQuery& q) {
    contracts::SetDefaultDatabase(&db);
    q.Close();
    q.Open();
    std::vector<std::string> rows;
    data::ClientDataset& ds = q.DataSet();
    for (ds.First(); !ds.Eof(); ds.Next()) {
      std::string row;
      for (const char* f :
           {"IDTPIJURTRAN", "NRINSJURTRAN", "CDTIPTRANS", "NMFANTTRAN", "NMTIPTRANS"}) {
        if (ds.FindField(f) != nullptr) row += ds.FieldByName(f).AsString() + "|";
      }
      rows.push_back(row);
    }
    q.Close();
    return rows;
  }

  server::testing::TempDatabase db_;
  std::shared_ptr<CountingTransport> transport_;
  contracts::TADOIBQuery tran_{"qryPesqTran"};
  contracts::TADOIBQuery tipo_{"qryTipoTransp"};
};

TEST_F(ServerLookupsTest, AnswersAsTheLookUpTextDoesOnTheServersDatabase) {
  ServerLookups remote(transport_);
  contracts::SqliteConnection local(db_.path());
  struct Case {
    const char *type, *inscription;  // null: no value
  } cases[] = {{nullptr, nullptr},
               {"J", "11222333000181"},
               {nullptr, "12345678909"},
               {"F", "11222333000181"},
               {"J", "99999999000191"}};
  for (const Case& c : cases) {
    for (auto [name, value] :
         {std::pair{"P_IDTPIJURTRAN", c.type}, std::pair{"P_NRINSJURTRAN", c.inscription}}) {
      if (value) {
        tran_.ParamByName(name).SetAsString(value);
      } else {
        tran_.ParamByName(name).Clear();
      }
    }
    const std::vector<std::string> expected = Rows(local, tran_);
    EXPECT_EQ(expected, Rows(remote, tran_))
        << (c.type ? c.type : "-") << " " << (c.inscription ? c.inscription : "-");
  }
  for (const char* code : {"0001", "0002"}) {
    tipo_.ParamByName("P_CDTIPTRANS").SetAsString(code);
    EXPECT_EQ(Rows(local, tipo_), Rows(remote, tipo_)) << code;
  }
  tipo_.ParamByName("P_CDTIPTRANS").Clear();
  EXPECT_EQ(1u, Rows(remote, tipo_).size());
}

// What a clerk types into the panel's codes goes to the look-up as it
// stands: a text longer than the column is "não cadastrado", never the
// server's refusal of the argument.
TEST_F(ServerLookupsTest, ATextLongerThanItsColumnMatchesNothing) {
  ServerLookups remote(transport_);
  contracts::SqliteConnection local(db_.path());
  for (const char* field : {"IDTPIJURTRAN", "NRINSJURTRAN", "CDTIPTRANS"}) {
    EXPECT_EQ(static_cast<std::size_t>(server::detail::TextFieldSize(field)),
              LookUpFieldSize(field))
        << field;
  }
  tipo_.ParamByName("P_CDTIPTRANS").SetAsString("0'\";--");
  EXPECT_EQ(Rows(local, tipo_), Rows(remote, tipo_));
  EXPECT_TRUE(Rows(remote, tipo_).empty());
  tran_.ParamByName("P_IDTPIJURTRAN").SetAsString("JJ");
  tran_.ParamByName("P_NRINSJURTRAN").SetAsString("112223330001811122233");
  EXPECT_EQ(Rows(local, tran_), Rows(remote, tran_));
  EXPECT_TRUE(Rows(remote, tran_).empty());
  EXPECT_EQ(0, transport_->calls);
  tipo_.ParamByName("P_CDTIPTRANS").SetAsString("0001");
  EXPECT_EQ(1u, Rows(remote, tipo_).size());
  EXPECT_EQ(1, transport_->calls);
}

TEST_F(ServerLookupsTest, AnyOtherTextIsRefusedWithoutAskingTheServer) {
  ServerLookups remote(transport_);
  EXPECT_THROW(remote.Run("SELECT * FROM OPERADOR", {}), dg::Error);
  EXPECT_THROW(remote.Run(ui::JoinTexts(contracts::lookup::kPesqTranSql, "\n") + " OR 1=1", {}),
               dg::Error);
  EXPECT_EQ(0, transport_->calls);
}

}  // namespace
}  // namespace dg::host
