// The journal of writes: every successful write call names its operator.
#include <gtest/gtest.h>
#include <httplib.h>

#include <functional>
#include <tuple>

#include "appserver/journal.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// One journal row, as "operator|method|branch|grid".
using JournalRows = std::vector<std::string>;

JournalRows Journal(Storage& storage, const std::string& method) {
  JournalRows rows;
  storage.Transact(TxKind::Read, [&](Session& s) {
    rows.clear();
    for (const Row& r : s.Query("SELECT CDOPERADOR, NMMETODO, CDFILIAL, NRGRADEDISTR "
                                "FROM GRADELOG WHERE NMMETODO = ?",
                                {Value(method)})) {
      rows.push_back(Str(r[0]) + "|" + Str(r[1]) + "|" + Str(r[2]) + "|" + Str(r[3]));
    }
  });
  return rows;
}

// Each case runs in process and over HTTP, on SQLite and on PostgreSQL.
class JournalTest : public SeededServerTest {};

INSTANTIATE_TEST_SUITE_P(Transports, JournalTest, TransportParams(), TransportParamName);

TEST_P(JournalTest, EveryWriteRecordsItsOperator) {
  auto transport = Transport("CAIO");
  auto call = [&](const std::string& method, std::vector<Variant> args) {
    return transport->Call(kServerName, method, args);
  };
  const std::string spare = Str(call("PrxNrGrade", {"0001"}).result);
  const Variant items = call("GetItensExpedicao", {"0001"}).result;
  const std::string grid =
      Str(call("DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, "", "ANA", "0001"}).args[3]);
  ASSERT_FALSE(grid.empty());
  // A refused write leaves no journal row.
  EXPECT_THROW(call("SetPedidos", {"0001", "", grid}), data::ServerCallError);

  struct Case {
    const char* method;
    std::function<std::vector<Variant>()> args;
    std::string row;  // the journal row it leaves
  };
  const std::string g = "|0001|" + grid;
  const std::vector<Case> cases = {
      {"SetGradeRota",
       [&] { return std::vector<Variant>{"  1", "P1", "V1", "0001", grid, "1", "", "I"}; },
       "CAIO|SetGradeRota" + g},
      {"SetRotaCalculada",
       [&] { return std::vector<Variant>{"0001", grid, "V1", "12,5 km", "00:35", "Siga"}; },
       "CAIO|SetRotaCalculada" + g},
      {"SetItinerario",
       [&] {
         const DataPacket itinerary = call("GetItinerario", {"0001", grid, "V1"}).result.AsPacket();
         DataPacket delta;
         delta.kind = DataPacket::Kind::Delta;
         delta.fields = itinerary.fields;
         delta.changes.push_back({data::RowState::Deleted, itinerary.rows.at(0), {}});
         return std::vector<Variant>{Variant(delta)};
       },
       "CAIO|SetItinerario" + g},
      {"SetPedidoCarro",
       [&] {
         return std::vector<Variant>{"P3", "0001", "V2", grid};
       },
       "CAIO|SetPedidoCarro" + g},
      {"SetPedidos",
       [&] {
         return std::vector<Variant>{"0001", "V1", grid};
       },
       "CAIO|SetPedidos" + g},
      {"SetGrade",
       [&] {
         const Variant vehicles =
             call("GetVeiculo",
                  {kKey, Variant(data::DateTime::FromIso("2025-06-10")), "0001", "P1", "1", grid})
                 .result;
         return std::vector<Variant>{vehicles, 10.0, 0.1, "0001", grid, "BETO"};
       },
       "BETO|SetGrade" + g},
      {"DelGrade",
       [&] {
         return std::vector<Variant>{"0001", spare};
       },
       "CAIO|DelGrade|0001|" + spare},
      // An empty operator argument leaves the caller's.
      {"ExpedirGrade",
       [&] {
         return std::vector<Variant>{"0001", grid, ""};
       },
       "CAIO|ExpedirGrade" + g},
  };
  for (const Case& c : cases) call(c.method, c.args());

  EXPECT_EQ(JournalRows{"CAIO|PrxNrGrade|0001|" + spare}, Journal(*db_.storage(), "PrxNrGrade"));
  EXPECT_EQ(JournalRows{"ANA|DistribuiQuantidades" + g},
            Journal(*db_.storage(), "DistribuiQuantidades"));
  for (const Case& c : cases) {
    EXPECT_EQ(JournalRows{c.row}, Journal(*db_.storage(), c.method)) << c.method;
  }
  // Reads leave nothing.
  EXPECT_TRUE(Journal(*db_.storage(), "GetItinerario").empty());
}

TEST_P(JournalTest, CallerWithoutOperatorIsRecordedEmpty) {
  const std::string grid = Str(Transport("")->Call(kServerName, "PrxNrGrade", {"0001"}).result);
  EXPECT_EQ(JournalRows{"|PrxNrGrade|0001|" + grid}, Journal(*db_.storage(), "PrxNrGrade"));
}

TEST(OperatorHeader, OnlyShortPrintableCodesTravel) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  auto object = std::make_shared<rdmGradeDistribuicao>(db.storage());
  HttpServer server(object, HttpServerOptions{});
  const int port = server.Start();
  const std::string body =
      R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "PrxNrGrade", "args": ["0001"]})";
  const std::string longest(kMaxOperatorLength, 'O');
  struct Case {
    std::string op;
    int status;
  };
  const std::vector<Case> cases = {
      {longest, 200},
      {longest + "O", 400},
      {"A\x01"
       "B",
       400},
      {"A\x7f", 400},
      {"José", 400},
  };
  httplib::Client raw("127.0.0.1", port);
  for (const Case& c : cases) {
    auto res = raw.Post("/call", {{kOperatorHeader, c.op}}, body, "application/json");
    ASSERT_TRUE(res) << c.op;
    EXPECT_EQ(c.status, res->status) << c.op;
    EXPECT_EQ(c.status == 200, IsValidOperatorCode(c.op)) << c.op;
  }
  // Only the accepted call was run and journalled.
  const JournalRows rows = Journal(*db.storage(), "PrxNrGrade");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(longest + "|PrxNrGrade", rows[0].substr(0, longest.size() + 11));

  HttpClientOptions too_long;
  too_long.operator_code = longest + "O";
  EXPECT_THROW(HttpTransport("127.0.0.1", port, too_long), Error);
}

// The journal read back through the method, filtered, oldest first; old
// rows pruned.
TEST_P(JournalTest, TheJournalReadsBackFilteredAndOldRowsArePruned) {
  auto ana = Transport("ANA"), bia = Transport("BIA");
  const std::string first = Str(ana->Call(kServerName, "PrxNrGrade", {"0001"}).result);
  const std::string second = Str(bia->Call(kServerName, "PrxNrGrade", {"0001"}).result);
  ana->Call(kServerName, "DelGrade", {"0001", first});
  auto read = [&](const std::string& grid, const std::string& op, const std::string& since) {
    const Variant rows = ana->Call(kServerName, "GetGradeLog", {"0001", grid, op, since}).result;
    return Column(rows, "CDOPERADOR") + " " + Column(rows, "NMMETODO");
  };
  EXPECT_EQ("ANA,BIA,ANA PrxNrGrade,PrxNrGrade,DelGrade", read("", "", ""));
  EXPECT_EQ("ANA,ANA PrxNrGrade,DelGrade", read("", "ANA", ""));
  EXPECT_EQ("BIA PrxNrGrade", read(second, "", "2000-01-01"));
  EXPECT_EQ(" ", read("", "", "2999-01-01"));
  EXPECT_THROW(read("", "", "01/02/2025"), data::ServerCallError);

  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec(
        "INSERT INTO GRADELOG (DTHRLOG, CDOPERADOR, NMMETODO, CDFILIAL, NRGRADEDISTR) "
        "VALUES ('2001-01-01T00:00:00', 'VELHO', 'DelGrade', '0001', '000009')");
  });
  EXPECT_EQ(
      "VELHO,ANA,BIA,ANA",
      Column(ana->Call(kServerName, "GetGradeLog", {"0001", "", "", ""}).result, "CDOPERADOR"));
  EXPECT_EQ(1, PurgeJournal(*db_.storage(), 30));
  EXPECT_EQ(
      "ANA,BIA,ANA",
      Column(ana->Call(kServerName, "GetGradeLog", {"0001", "", "", ""}).result, "CDOPERADOR"));
}

TEST(JournalDates, SinceTakesADayOrADayAndTime) {
  EXPECT_EQ("2025-06-10T00:00:00", JournalDate("2025-06-10"));
  EXPECT_EQ("2025-06-10T08:30:00", JournalDate("2025-06-10T08:30"));
  EXPECT_EQ("2025-06-10T08:30:15", JournalDate("2025-06-10 08:30:15"));
  for (const char* bad : {"", "10/06/2025", "2025-13-01", "2025-06-10T24:00", "2025-06-10T08",
                          " 2025-06-10", "2025-06-10x", "+025-06-10"}) {
    EXPECT_EQ("", JournalDate(bad)) << bad;
  }
}

}  // namespace
}  // namespace dg::server
