// The look-ups' PostgreSQL connection: parameter numbering without a
// database; binding, cell kinds and failures against the cluster that
// EXP_TEST_PG names (scripts/pg-test-cluster.sh), skipped without one.
#include "contracts/postgres_connection.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/errors.h"

namespace dg::contracts {
namespace {

std::string Join(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

TEST(NumberNamedParams, NumbersByFirstAppearanceAndLeavesTheRestAlone) {
  struct Case {
    std::string sql, want, names;
  } cases[] = {
      {"SELECT 1", "SELECT 1", ""},
      {"a = NVL(:P_A, a) AND b = NVL(:P_B, b)", "a = NVL($1, a) AND b = NVL($2, b)", "P_A,P_B"},
      {"a = :x OR b = :X OR c = :y", "a = $1 OR b = $1 OR c = $2", "X,Y"},
      {"x::text = :v", "x::text = $1", "V"},
      {"':not' = :v AND \"we:ird\" = 1", "':not' = $1 AND \"we:ird\" = 1", "V"},
      {"a = ':' || :v", "a = ':' || $1", "V"},
      {"a = : b", "a = : b", ""},
      {"-- :not\nSELECT :v", "-- :not\nSELECT $1", "V"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(c.want, NumberNamedParams(c.sql, &names)) << c.sql;
    EXPECT_EQ(c.names, Join(names)) << c.sql;
  }
  // A quote never closed is refused as the database's failure, not sent.
  std::vector<std::string> names;
  EXPECT_THROW(NumberNamedParams("a = 'open", &names), Error);
}

// A schema of its own on the test cluster, dropped afterwards.
class PostgresConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* url = std::getenv("EXP_TEST_PG");
    if (!url || !*url)
      GTEST_SKIP() << "EXP_TEST_PG is not set: run under scripts/pg-test-cluster.sh";
    admin_ = std::make_unique<PostgresConnection>(url);
    schema_ = "exp_lookup_" + std::to_string(::getpid());
    admin_->Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_);
    const std::string base = url;
    db_ = std::make_unique<PostgresConnection>(base +
                                               (base.find('?') == std::string::npos ? "?" : "&") +
                                               "options=-csearch_path%3D" + schema_);
    db_->Execute(
        "CREATE TABLE TRANSPORT (IDTPIJURTRAN TEXT, NRINSJURTRAN TEXT, NMFANTTRAN TEXT);"
        "INSERT INTO TRANSPORT VALUES ('J', '12345678000190', 'Rápido Sul'),"
        " ('F', '12345678901', 'João Fretes'), ('J', '99888777000166', 'Norte Cargas')");
  }
  void TearDown() override {
    db_.reset();
    if (admin_) admin_->Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }

  // The first column of every row, "a,b,c"; null as "null".
  std::string Names(const std::string& sql, const QueryParams& params) {
    std::string out;
    for (const auto& row : db_->Run(sql, params).rows) {
      out += (out.empty() ? "" : ",") + (row[0].IsNull() ? "null" : row[0].ToString());
    }
    return out;
  }

  std::unique_ptr<PostgresConnection> admin_, db_;
  std::string schema_;
};

TEST_F(PostgresConnectionTest, BindsParametersByNameNeverSplicingThem) {
  const std::string sql =
      "SELECT NMFANTTRAN FROM TRANSPORT WHERE IDTPIJURTRAN = COALESCE(:P_TIPO, IDTPIJURTRAN) "
      "AND NRINSJURTRAN = COALESCE(:p_ins, NRINSJURTRAN) ORDER BY NMFANTTRAN";
  struct Case {
    QueryParams params;
    std::string want;
  } cases[] = {
      {{}, "João Fretes,Norte Cargas,Rápido Sul"},
      {{{"P_TIPO", data::Variant("J")}}, "Norte Cargas,Rápido Sul"},
      {{{"p_tipo", data::Variant("J")}, {"P_INS", data::Variant("99888777000166")}},
       "Norte Cargas"},
      {{{"P_TIPO", data::Variant::Null()}, {"UNUSED", data::Variant(1)}},
       "João Fretes,Norte Cargas,Rápido Sul"},
      {{{"P_TIPO", data::Variant("J' OR '1'='1")}}, ""},
      {{{"P_INS", data::Variant("12345678901; DROP TABLE TRANSPORT")}}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, Names(sql, c.params));
  EXPECT_EQ("3", Names("SELECT COUNT(*) FROM TRANSPORT", {}));
}

TEST_F(PostgresConnectionTest, CellsComeBackByKindUnderUpperCaseNames) {
  const QueryRows rows = db_->Run(
      "SELECT 7::int AS a, 2.5::float8 AS b, 'Três' AS c, NULL AS d, true AS e, "
      "1.25::numeric AS f, :v::bigint AS g",
      {{"V", data::Variant(42)}});
  ASSERT_EQ(1u, rows.rows.size());
  std::string shape;
  for (std::size_t c = 0; c < rows.columns.size(); ++c) {
    shape += rows.columns[c] + ":" + data::KindName(rows.rows[0][c].Kind()) + "=" +
             (rows.rows[0][c].IsNull() ? "null" : rows.rows[0][c].ToString()) + " ";
  }
  EXPECT_EQ(
      "A:Integer=7 B:Double=2.5 C:String=Três D:Null=null E:Integer=1 F:Double=1.25 "
      "G:Integer=42 ",
      shape);
}

TEST_F(PostgresConnectionTest, FailuresCarryTheDatabasesText) {
  struct Case {
    std::string sql;
    QueryParams params;
    std::string part;
  } cases[] = {
      {"SELECT * FROM NOWHERE", {}, "nowhere"},
      {"SELECT :v::int", {{"V", data::Variant("abc")}}, "invalid input syntax"},
      {"SELECT :v", {{"V", data::Variant(std::string("a\0b", 3))}}, "NUL"},
  };
  for (const Case& c : cases) {
    try {
      db_->Run(c.sql, c.params);
      ADD_FAILURE() << c.sql << " did not fail";
    } catch (const Error& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.part)) << e.what();
      EXPECT_EQ(0u, std::string(e.what()).rfind("A consulta ao banco de dados falhou [", 0))
          << e.what();
    }
  }
  // Still usable after a failure.
  EXPECT_EQ("3", Names("SELECT COUNT(*) FROM TRANSPORT", {}));
  EXPECT_THROW(PostgresConnection("postgresql://postgres@127.0.0.1:1/none?connect_timeout=2"),
               Error);
}

}  // namespace
}  // namespace dg::contracts
