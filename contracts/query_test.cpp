#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/btn_pesquisa.h"
#include "contracts/lookup_sql.h"
#include "contracts/procurar.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "ui/application.h"
#include "ui/form.h"
#include "ui/user_actions.h"

namespace dg::contracts {
namespace {

// A temporary database with the two look-up tables.
class LookupTest : public ::testing::Test {
 protected:
  LookupTest()
      : path_(std::filesystem::temp_directory_path() /
              ("lookup_test_" + std::to_string(::getpid()) + ".db")) {
    std::filesystem::remove(path_);
    db_ = std::make_unique<SqliteConnection>(path_.string());
    db_->Execute(
        "CREATE TABLE TRANSPORT (IDTPIJURTRAN TEXT, NRINSJURTRAN TEXT, CDTIPTRANS TEXT,"
        " NMFANTTRAN TEXT);"
        "INSERT INTO TRANSPORT VALUES ('J', '12345678000190', '0001', 'Rápido Sul');"
        "INSERT INTO TRANSPORT VALUES ('F', '12345678901', '0002', 'João Fretes');"
        "INSERT INTO TRANSPORT VALUES ('J', '99888777000166', '0001', 'Norte Cargas');"
        "CREATE TABLE TIPOTRANSP (CDTIPTRANS TEXT, NMTIPTRANS TEXT);"
        "INSERT INTO TIPOTRANSP VALUES ('0002', 'Rodoviário');"
        "INSERT INTO TIPOTRANSP VALUES ('0001', 'Aéreo');");
    SetDefaultDatabase(db_.get());
    lookup::SetPesqTranTexts(tran);
    lookup::SetTipoTranspTexts(tipo);
    TADOIBQuery::Observer() = [this](const QueryRecord& r) {
      std::string line = r.name + "(";
      for (const auto& [name, value] : r.params) line += name + "=" + value.DebugString() + " ";
      trace.push_back(line + ") " + std::to_string(r.rows));
    };
  }
  ~LookupTest() override {
    TADOIBQuery::Observer() = nullptr;
    SetDefaultDatabase(nullptr);
    tran.Close();
    tipo.Close();
    db_.reset();
    std::filesystem::remove(path_);
  }

  std::vector<std::string> Column(TADOIBQuery& q, const char* field) {
    std::vector<std::string> values;
    data::ClientDataset& ds = q.DataSet();
    for (ds.First(); !ds.Eof(); ds.Next()) values.push_back(ds.FieldByName(field).AsString());
    return values;
  }

  std::filesystem::path path_;
  std::unique_ptr<SqliteConnection> db_;
  TADOIBQuery tran{"qryPesqTran"};
  TADOIBQuery tipo{"qryTipoTransp"};
  std::vector<std::string> trace;
};

TEST_F(LookupTest, TransporterLookUpWithAndWithoutParameterValues) {
  struct Case {
    const char* type;  // null: no value
    const char* inscription;
    std::vector<std::string> names;
  } cases[] = {
      {"J", "12345678000190", {"Rápido Sul"}},
      {"F", "12345678000190", {}},  // the type must match too
      {"J", "123", {}},
      {nullptr, nullptr, {"Rápido Sul", "João Fretes", "Norte Cargas"}},
      {"J", nullptr, {"Rápido Sul", "Norte Cargas"}},
      {nullptr, "12345678901", {"João Fretes"}},
      {"J", "' OR '1'='1", {}},  // bound, never spliced
  };
  for (SqlDialect dialect : {SqlDialect::Standard, SqlDialect::Oracle}) {
    SqliteConnection db(path_.string(), dialect);
    tran.connection = &db;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.type ? c.type : "null") + "/" +
                   (c.inscription ? c.inscription : "null"));
      tran.Close();
      if (c.type)
        tran.ParamByName("P_IDTPIJURTRAN").SetAsString(c.type);
      else
        tran.ParamByName("P_IDTPIJURTRAN").Clear();
      if (c.inscription)
        tran.ParamByName("p_nrinsjurtran").SetValue(c.inscription);
      else
        tran.ParamByName("P_NRINSJURTRAN").Clear();
      tran.Open();
      EXPECT_EQ(c.names, Column(tran, "NMFANTTRAN"));
      EXPECT_EQ(c.names.empty(), tran.IsEmpty());
    }
  }
  tran.connection = nullptr;
}

TEST_F(LookupTest, TransportTypeLookUpOrderedByCode) {
  tipo.Open();
  EXPECT_EQ((std::vector<std::string>{"0001", "0002"}), Column(tipo, "CDTIPTRANS"));
  tipo.Close();
  tipo.ParamByName("P_CDTIPTRANS").SetAsString("0002");
  tipo.Open();
  EXPECT_EQ(std::vector<std::string>{"Rodoviário"}, Column(tipo, "NMTIPTRANS"));
  tipo.Open();  // already open: not run again
  tipo.Close();
  tipo.ParamByName("P_CDTIPTRANS").SetAsString("2");
  tipo.Open();
  EXPECT_TRUE(tipo.IsEmpty());
  EXPECT_EQ((std::vector<std::string>{"qryTipoTransp(P_CDTIPTRANS=null ) 2",
                                      "qryTipoTransp(P_CDTIPTRANS=\"0002\" ) 1",
                                      "qryTipoTransp(P_CDTIPTRANS=\"2\" ) 0"}),
            trace);
}

TEST_F(LookupTest, QueryFailuresAreClear) {
  EXPECT_THROW(tran.ParamByName("P_NOTHING"), Error);
  SetDefaultDatabase(nullptr);
  EXPECT_THROW(tran.Open(), Error);
  SetDefaultDatabase(db_.get());
  SqliteConnection ib(path_.string(), SqlDialect::Ib);  // PARAM() is not SQLite's
  tran.connection = &ib;
  EXPECT_THROW(tran.Open(), Error);
  EXPECT_FALSE(tran.Active());
  tran.connection = nullptr;
  EXPECT_NE(std::string::npos, tran.SqlFor(SqlDialect::MsSql).find("ISNULL(:P_IDTPIJURTRAN"));
  EXPECT_EQ((std::vector<std::string>{"P_IDTPIJURTRAN", "P_NRINSJURTRAN"}),
            ParseParamNames("SELECT ':X' , a::int FROM T WHERE A = :P_IDTPIJURTRAN AND "
                            "B = :P_NRINSJURTRAN OR C = :p_idtpijurtran"));
}

// The transporter search button of a panel: labels as the panel defines
// them, the type hidden.
class SearchButtonTest : public LookupTest {
 protected:
  SearchButtonTest() {
    data::ClientDataset& ds = tran.DataSet();
    ds.AddField("IDTPIJURTRAN", data::FieldType::String, 1).visible = false;
    ds.AddField("NRINSJURTRAN", data::FieldType::String, 20).display_label = "Inscrição";
    ds.AddField("CDTIPTRANS", data::FieldType::String, 4).display_label = "Tipo de Transporte";
    ds.AddField("NMFANTTRAN", data::FieldType::String, 40).display_label = "Nome";
    source.SetDataSet(&ds);
    edit = &form.Add<ui::MaskEdit>("medCdTransp");
    button = &form.Add<TBtnPesquisa>("btnTransp");
    button->Associate = edit;
    button->Title = "Transportadora";
    button->DataSource = &source;
    button->EmptyError = "Não há transportadora cadastrada.";
    button->OnBeforePesq = [this](ui::Control&) {
      log += "before;";
      tran.Close();
      tran.ParamByName("P_IDTPIJURTRAN").Clear();
      tran.ParamByName("P_NRINSJURTRAN").SetValue(inscription);
    };
    button->OnAfterPesq = [this](ui::Control&) {
      log += "after:" + edit->Text() + "/" + tran.FieldByName("NMFANTTRAN").AsString() + ";";
    };
    edit->on_change = [this](ui::Control&) { log += "change;"; };
  }
  data::DataSource source;
  ui::Form form{"frm"};
  ui::MaskEdit* edit;
  TBtnPesquisa* button;
  data::Variant inscription = data::Variant::Null();
  std::string log;
  ui::ScriptedDialogs dialogs;
  ui::ScopedDialogs scope{&dialogs};
};

TEST_F(SearchButtonTest, ListsOpensAndFillsTheAssociatedEdit) {
  dialogs.QueuePick(1);
  edit->SetFocus();
  EXPECT_EQ(ui::Outcome::Done, ui::UserClick(*button));
  EXPECT_EQ(edit, form.ActiveControl());  // a flat button takes no focus
  EXPECT_EQ("before;change;after:12345678901/João Fretes;", log);
  const ui::ListDialog& list = *dialogs.LastList();
  EXPECT_EQ("Transportadora", list.title);
  EXPECT_EQ((std::vector<std::string>{"Inscrição", "Tipo de Transporte", "Nome"}), list.columns);
  EXPECT_EQ((std::vector<std::string>{"NRINSJURTRAN", "CDTIPTRANS", "NMFANTTRAN"}), list.fields);
  ASSERT_EQ(3u, list.rows.size());
  EXPECT_EQ((std::vector<std::string>{"99888777000166", "0001", "Norte Cargas"}), list.rows[2]);
}

TEST_F(SearchButtonTest, EmptyListShowsTheEmptyErrorAndCancelChangesNothing) {
  inscription = data::Variant("0");
  ui::UserClick(*button);
  EXPECT_EQ("error: Não há transportadora cadastrada.", dialogs.Joined());
  EXPECT_EQ("before;", log);
  inscription = data::Variant::Null();
  log.clear();
  ui::UserClick(*button);  // no pick queued: cancelled
  EXPECT_EQ("before;", log);
  EXPECT_EQ("", edit->Text());
}

TEST_F(SearchButtonTest, ProcuraPositionsTheDatasetOnThePickedRecord) {
  tran.Open();
  int scrolls = 0;
  tran.DataSet().after_scroll = [&](data::ClientDataset&) { ++scrolls; };
  dialogs.QueuePick(2);
  EXPECT_TRUE(Procurar::Procura(tran.DataSet()));
  EXPECT_EQ(3, tran.DataSet().RecNo());
  EXPECT_EQ(1, scrolls);  // listing does not scroll; the pick does
  EXPECT_FALSE(Procurar::Procura(tran.DataSet()));
  EXPECT_EQ(3, tran.DataSet().RecNo());
}

}  // namespace
}  // namespace dg::contracts
