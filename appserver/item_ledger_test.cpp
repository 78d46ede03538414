// What is left to dispatch of the branch's items: taken from the server's
// records, lowered by each dispatch exactly once, and never exceeded by a
// distribution, a save, an allocation or a dispatch, also with two clerks
// over the same items at once. Each case runs in process and over HTTP, on
// SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <thread>

#include "appserver/journal.h"
#include "appserver/schema.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// The second transporter's one vehicle, V9 (500 kg, 3 m3), takes every
// selected item of the fixture on its own.
constexpr const char* kOtherKey = "F12345678909";

class LedgerTest : public SeededServerTest {
 protected:
  void SetUp() override {
    SeededServerTest::SetUp();
    if (!object_) return;
    ana_ = Transport("ANA");
    bia_ = Transport("BIA");
  }
  void TearDown() override {
    ana_.reset();
    bia_.reset();
    SeededServerTest::TearDown();
  }

  static data::CallReply Call(data::CallTransport& t, const std::string& method,
                              std::vector<Variant> args) {
    return t.Call(kServerName, method, args);
  }
  static std::string Failure(data::CallTransport& t, const std::string& method,
                             std::vector<Variant> args) {
    try {
      t.Call(kServerName, method, args);
      return "ok";
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }
  Variant Ready() { return Call(*ana_, "GetItensExpedicao", {"0001"}).result; }
  // The selected items distributed by `t` over the transporter's vehicles
  // into a new grid; answers its number.
  static std::string Distribute(data::CallTransport& t, const char* key, Variant items,
                                const std::string& op) {
    auto reply = Call(t, "DistribuiQuantidades", {items, "IDCHECK = 'S'", key, "", op, "0001"});
    return Str(reply.args[3]);
  }
  // The item packet with one cell of one item changed.
  static Variant With(Variant items, const char* order, const char* item, const char* field,
                      Variant value) {
    DataPacket p = items.AsPacket();
    for (auto& row : p.rows) {
      if (Str(row[p.FieldIndex("NRPEDIDO")]) == order &&
          Str(row[p.FieldIndex("NRITEMPED")]) == item) {
        row[p.FieldIndex(field)] = value;
      }
    }
    return Variant(p);
  }
  // Each item as "order/item left+dispatched", in key order.
  std::string Ledger() {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const Row& r : s.Query("SELECT NRPEDIDO, NRITEMPED, QTDEAEXP, "
                                  "COALESCE(QTEXPITEMPED, 0) FROM ITEMPEDIDO ORDER BY 1, 2")) {
        out += (out.empty() ? "" : " ") + Str(r[0]) + "/" + Str(r[1]) + " " + Num(r[2]) + "+" +
               Num(r[3]);
      }
    });
    return out;
  }
  static std::string Num(const Value& v) {
    std::ostringstream number;
    number << v.ToDouble();
    return number.str();
  }
  // The invariant a dispatch keeps: each item's dispatched quantity is what
  // the dispatched grids carry of it, counted once. Answers the items where
  // it does not hold.
  std::string Unrecorded() {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const Row& r :
           s.Query("SELECT i.NRPEDIDO, i.NRITEMPED, COALESCE(i.QTEXPITEMPED, 0), "
                   "COALESCE((SELECT SUM(a.QTTRANSP) FROM ALOCGRADE a JOIN GRADEDISTR g ON "
                   "g.CDFILIAL = a.CDFILIAL AND g.NRGRADEDISTR = a.NRGRADEDISTR WHERE "
                   "g.IDSITGRADE = 'E' AND a.CDFILIAL = i.CDFILIAL AND a.NRPEDIDO = i.NRPEDIDO AND "
                   "a.NRITEMPED = i.NRITEMPED), 0) FROM ITEMPEDIDO i ORDER BY 1, 2")) {
        if (std::abs(r[2].ToDouble() - r[3].ToDouble()) > 1e-9) {
          out += Str(r[0]) + "/" + Str(r[1]) + " ";
        }
      }
    });
    return out;
  }

  std::unique_ptr<data::CallTransport> ana_, bia_;
};

INSTANTIATE_TEST_SUITE_P(Transports, LedgerTest, TransportParams(), TransportParamName);

// The fixture's items to dispatch, as "order/item left+dispatched".
constexpr const char* kUntouched = "P1/1 2+0 P1/2 1+0 P2/1 3+0 P3/1 4+0 P4/1 1+0";

TEST_P(LedgerTest, ADispatchRecordsWhatItsGridCarriesOnceAndTheReadyListShowsWhatIsLeft) {
  // The screen distributes one unit of P3's four.
  const std::string grid =
      Distribute(*ana_, kKey, With(Ready(), "P3", "1", "QTDEAEXP", 1.0), "ANA");
  EXPECT_EQ(kUntouched, Ledger()) << "an open grid dispatches nothing";
  EXPECT_EQ(Variant(true), Call(*ana_, "ExpedirGrade", {"0001", grid, "ANA", "0001", "1"}).result);
  EXPECT_EQ("P1/1 0+2 P1/2 0+1 P2/1 0+3 P3/1 3+1 P4/1 1+0", Ledger());
  EXPECT_EQ("", Unrecorded());

  // What was dispatched whole is gone from the ready list; P3 comes back
  // with what is left, P4 (not selected) as it was.
  const Variant ready = Ready();
  EXPECT_EQ("P3,P4", Column(ready, "NRPEDIDO"));
  EXPECT_EQ("3,1", Column(ready, "QTDEAEXP"));
  EXPECT_EQ("1,null", Column(ready, "QTEXPITEMPED"));

  // The hand-off repeated (or retried after a lost answer) is answered as
  // done already and changes nothing, not even the freight it names.
  EXPECT_EQ(Variant(false), Call(*ana_, "ExpedirGrade", {"0001", grid, "ANA", "0002", "2"}).result);
  EXPECT_EQ("P1/1 0+2 P1/2 0+1 P2/1 0+3 P3/1 3+1 P4/1 1+0", Ledger());
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    const Row r = s.Query("SELECT CDTIPTRANS, IDTPFRETE FROM GRADEDISTR WHERE NRGRADEDISTR = ?",
                          {Value(grid)})[0];
    EXPECT_EQ("0001/1", Str(r[0]) + "/" + Str(r[1]));
  });

  // The journal names the dispatch with what it recorded.
  JournalFilter filter;
  filter.grid = grid;
  std::vector<std::string> notes;
  for (const JournalRow& r : ReadJournal(*db_.storage(), filter)) {
    if (r.method == "ExpedirGrade") notes.push_back(r.operator_code + ": " + r.note);
  }
  EXPECT_EQ((std::vector<std::string>{"ANA: expedidos 4 itens: P1/1 2; P1/2 1; P2/1 3; P3/1 1",
                                      "ANA: já expedida: nada alterado"}),
            notes);
}

// Two clerks of one branch over the same items: both build, the first
// dispatch wins, the second is refused naming each item and what is left of
// it, and nothing of it is recorded.
TEST_P(LedgerTest, TwoClerksOverTheSameItemsTheFirstDispatchWins) {
  const std::string a = Distribute(*ana_, kKey, Ready(), "ANA");
  const std::string b = Distribute(*bia_, kOtherKey, Ready(), "BIA");
  ASSERT_NE(a, b);

  std::string answers[2];
  {
    std::thread first([&] { answers[0] = Failure(*ana_, "ExpedirGrade", {"0001", a, "ANA"}); });
    std::thread second([&] { answers[1] = Failure(*bia_, "ExpedirGrade", {"0001", b, "BIA"}); });
    first.join();
    second.join();
  }
  const int winner = answers[0] == "ok" ? 0 : 1;
  ASSERT_EQ("ok", answers[winner]) << answers[1 - winner];
  const std::string loser = winner == 0 ? b : a;
  EXPECT_EQ("A grade " + loser +
                " não pode ser expedida: levaria mais do que resta a expedir, pois outra grade "
                "já expediu estes itens: item P1 / 1: restam 0 a expedir, seriam levados 2; item "
                "P1 / 2: restam 0 a expedir, seriam levados 1; item P2 / 1: restam 0 a expedir, "
                "seriam levados 3; item P3 / 1: restam 0 a expedir, seriam levados 4. Nada foi "
                "gravado.",
            answers[1 - winner]);

  // Afterwards: no item dispatched above what it had, every dispatched
  // grid's quantities recorded exactly once, the losing grid still open.
  EXPECT_EQ("P1/1 0+2 P1/2 0+1 P2/1 0+3 P3/1 0+4 P4/1 1+0", Ledger());
  EXPECT_EQ("", Unrecorded());
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    std::string states;
    for (const Row& r :
         s.Query("SELECT NRGRADEDISTR, IDSITGRADE FROM GRADEDISTR ORDER BY NRGRADEDISTR")) {
      states += Str(r[0]) + "=" + Str(r[1]) + " ";
    }
    EXPECT_EQ(winner == 0 ? a + "=E " + b + "=A " : a + "=A " + b + "=E ", states);
  });
}

// The refusal names the cause the records show: an item lowered in the book
// after the distribution (an import) was dispatched by no other grid.
TEST_P(LedgerTest, ADispatchOverAnItemLoweredInTheBookSaysSo) {
  const std::string grid = Distribute(*ana_, kKey, Ready(), "ANA");
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec("UPDATE ITEMPEDIDO SET QTDEAEXP = 1 WHERE NRPEDIDO = 'P2' AND NRITEMPED = '1'");
  });
  const std::string before = Ledger();
  EXPECT_EQ("A grade " + grid +
                " não pode ser expedida: levaria mais do que resta a expedir, pois a quantidade "
                "a expedir destes itens diminuiu depois da distribuição: item P2 / 1: resta 1 a "
                "expedir, seriam levados 3. Nada foi gravado.",
            Failure(*ana_, "ExpedirGrade", {"0001", grid, "ANA"}));
  EXPECT_EQ(before, Ledger());
}

// After another grid dispatched the items, the open grid can neither carry
// more of them by a save nor by an allocation, and a new distribution of the
// stale list is refused too; each refusal names the item and what is left.
TEST_P(LedgerTest, WritesOverItemsDispatchedMeanwhileAreRefusedNamingTheItem) {
  const Variant stale = Ready();
  const std::string a = Distribute(*ana_, kKey, stale, "ANA");
  // BIA's grid holds only P3's item, so that her saves reach it.
  const std::string b = Distribute(*bia_, kOtherKey, With(stale, "P1", "1", "IDCHECK", "X"), "BIA");
  Call(*ana_, "ExpedirGrade", {"0001", a, "ANA"});
  const std::string before = Ledger();

  DataPacket vehicles =
      Call(*bia_, "GetVeiculo",
           {kOtherKey, Variant(data::DateTime::FromIso("2025-06-10")), "0001", "P3", "1", b})
          .result.AsPacket();
  vehicles.rows[0][vehicles.FieldIndex("QtTranspItGr")] = Variant(2.0);
  EXPECT_EQ(
      "Os veículos levariam mais do que resta a expedir: item P3 / 1: restam 0 a expedir, seriam "
      "levados 2. Nada foi gravado.",
      Failure(*bia_, "SetGrade", {Variant(vehicles), 5.0, 0.05, "0001", b, "BIA"}));
  // Taking P2's order off the vehicle carries less; putting it back, more
  // than is left.
  EXPECT_EQ("ok", Failure(*bia_, "SetPedidoCarro", {"P2", "0001", "V9", b}));
  EXPECT_EQ(
      "A alocação levaria mais do que resta a expedir: item P2 / 1: restam 0 a expedir, seriam "
      "levados 3. Nada foi gravado.",
      Failure(*bia_, "SetPedidoCarro", {"P2", "0001", "V9", b}));
  EXPECT_EQ(
      "A distribuição levaria mais do que resta a expedir: item P1 / 1: restam 0 a expedir, "
      "seriam levados 2; item P1 / 2: restam 0 a expedir, seriam levados 1; item P2 / 1: restam "
      "0 a expedir, seriam levados 3; item P3 / 1: restam 0 a expedir, seriam levados 4. Nada "
      "foi gravado.",
      Failure(*bia_, "DistribuiQuantidades",
              {stale, "IDCHECK = 'S'", kOtherKey, "", "BIA", "0001"}));
  EXPECT_EQ(before, Ledger());
}

// The distribution takes what an item is from the server's records: a
// weight or volume the caller sends is not believed, an item the branch
// does not hold and a quantity above what is left are refused by name.
TEST_P(LedgerTest, TheDistributionTakesItemsFromTheRecordsAndRefusesWhatTheyDoNotHold) {
  const Variant ready = Ready();
  const std::string grid = Distribute(
      *ana_, kKey, With(With(ready, "P1", "1", "VRPESOBRUTPR", 0.0), "P1", "1", "VRVOLMED", 0.0),
      "ANA");
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    const Row r = s.Query(
        "SELECT SUM(QTTRANSP), MAX(VRPESOUNIT), MAX(VRVOLUNIT) FROM ALOCGRADE WHERE "
        "NRGRADEDISTR = ? AND NRPEDIDO = 'P1' AND NRITEMPED = '1'",
        {Value(grid)})[0];
    EXPECT_EQ("2 10 0.1", Num(r[0]) + " " + Num(r[1]) + " " + Num(r[2]));
  });

  EXPECT_EQ(
      "A distribuição levaria mais do que resta a expedir: item P1 / 1: restam 2 a expedir, "
      "seriam levados 1.000.000.000.000. Nada foi gravado.",
      Failure(
          *ana_, "DistribuiQuantidades",
          {With(ready, "P1", "1", "QTDEAEXP", 1e12), "IDCHECK = 'S'", kKey, grid, "ANA", "0001"}));
  Variant invented = With(ready, "P1", "1", "NRPEDIDO", "INVENTADO");
  invented = With(invented, "INVENTADO", "1", "NRITEMPED", "001");
  EXPECT_EQ(
      "A distribuição não pode ser feita: o item INVENTADO / 001 não está entre os itens a "
      "expedir da filial. Nada foi gravado.",
      Failure(*ana_, "DistribuiQuantidades",
              {invented, "IDCHECK = 'S'", kKey, grid, "ANA", "0001"}));
  // Another branch's call does not reach this branch's items.
  EXPECT_NE("ok", Failure(*ana_, "DistribuiQuantidades",
                          {ready, "IDCHECK = 'S'", kKey, "", "ANA", "0002"}));
}

// A database whose grids were dispatched before dispatches recorded their
// quantities gets them recorded once when the server opens it.
TEST_P(LedgerTest, GridsDispatchedBeforeTheUpgradeAreRecordedOnce) {
  const std::string a = Distribute(*ana_, kKey, With(Ready(), "P3", "1", "QTDEAEXP", 1.0), "ANA");
  Call(*ana_, "ExpedirGrade", {"0001", a, "ANA"});
  // As an older server left it: the grid dispatched, the items untouched.
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec(
        "UPDATE ITEMPEDIDO SET QTEXPITEMPED = NULL, QTDEAEXP = 2 WHERE NRPEDIDO = 'P1' AND "
        "NRITEMPED = '1'");
    s.Exec(
        "UPDATE ITEMPEDIDO SET QTEXPITEMPED = NULL, QTDEAEXP = 1 WHERE NRPEDIDO = 'P1' AND "
        "NRITEMPED = '2'");
    s.Exec("UPDATE ITEMPEDIDO SET QTEXPITEMPED = NULL, QTDEAEXP = 3 WHERE NRPEDIDO = 'P2'");
    s.Exec("UPDATE ITEMPEDIDO SET QTEXPITEMPED = NULL, QTDEAEXP = 4 WHERE NRPEDIDO = 'P3'");
    // Without the columns of the later versions, which come back empty.
    for (const auto& [table, column] : ColumnsAddedAfter(8)) {
      s.Exec("ALTER TABLE " + table + " DROP COLUMN " + column);
    }
    s.Exec("DROP INDEX ALOCGRADE_CLIENTE");
    s.Exec("DELETE FROM schema_version WHERE version > 8");
  });
  for (int open = 0; open < 2; ++open) {
    ana_.reset();
    bia_.reset();
    object_.reset();
    object_ = std::make_shared<rdmGradeDistribuicao>(OpenStorage(db_.path()));
    EXPECT_EQ("P1/1 0+2 P1/2 0+1 P2/1 0+3 P3/1 3+1 P4/1 1+0", Ledger());
  }
}

}  // namespace
}  // namespace dg::server
