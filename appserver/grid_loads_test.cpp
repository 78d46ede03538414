// The loads kept beside the allocations: every write leaves them as the
// allocations sum them, the clerk reads them as free room, an older database
// gets them from what it stores, and a stale one is reported.
#include <gtest/gtest.h>

#include <chrono>

#include "appserver/grade_support.h"
#include "appserver/schema.h"
#include "appserver/grid_activity.h"
#include "appserver/import.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::DateTime;
using data::Variant;
using namespace testing;

class LoadsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    LoadFixture(*db_.storage(), SmallFixture());
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
  }
  void TearDown() override {
    if (db_.storage()) {
      EXPECT_EQ(std::vector<std::string>{}, StaleLoadsOf(*db_.storage()));
    }
  }

  data::CallReply Call(const std::string& method, std::vector<Variant> args) {
    InProcessTransport clerk(object_, "ANA");
    return clerk.Call(kServerName, method, args);
  }
  std::string Failure(const std::string& method, std::vector<Variant> args) {
    try {
      Call(method, std::move(args));
      return "ok";
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }
  std::string Distribute(const std::string& grid, const char* filter = "IDCHECK = 'S'") {
    const Variant items = Call("GetItensExpedicao", {"0001"}).result;
    return Str(Call("DistribuiQuantidades", {items, filter, kKey, grid, "ANA", "0001"}).args[3]);
  }
  // Free weight of V1 and V2 on the day as the item's vehicle list shows it.
  std::string Free(const std::string& grid, const char* day = "2025-06-10") {
    return Column(
        Call("GetVeiculo", {kKey, Variant(DateTime::FromIso(day)), "0001", "P1", "1", grid}).result,
        "VRPESOUTIL");
  }
  // Orders V1 and V2 carry in the grid, and whether they carry `order`.
  std::string Orders(const std::string& grid, const char* order) {
    const Variant v = Call("GetCarroPedido", {order, "0001", "11222333000181", grid}).result;
    return Column(v, "QTPEDIDOS") + "=" + Column(v, "IDMARCADO");
  }
  // The item's vehicle list with `quantity` of it on `vehicle`, none on
  // `emptied` (when given), and the other vehicles as stored.
  Variant Save(const std::string& grid, const char* order, const char* vehicle, double quantity,
               const char* flag = "F", const char* emptied = "") {
    DataPacket p = Call("GetVeiculo",
                        {kKey, Variant(DateTime::FromIso("2025-06-10")), "0001", order, "1", grid})
                       .result.AsPacket();
    for (auto& row : p.rows) {
      const std::string code = Str(row[p.FieldIndex("CDVIATURA")]);
      if (code == emptied) row[p.FieldIndex("QtTranspItGr")] = Variant(0.0);
      if (code != vehicle) continue;
      row[p.FieldIndex("QtTranspItGr")] = Variant(quantity);
      row[p.FieldIndex("IDRETGRADEDISTR")] = Variant(flag);
    }
    return Variant(p);
  }
  std::string Stale() {
    const auto stale = StaleLoadsOf(*db_.storage());
    std::string out;
    for (const std::string& s : stale) out += s + "\n";
    return out;
  }
  void Sql(const std::string& sql) {
    db_.storage()->Transact(TxKind::Write, [&](Session& s) { s.Exec(sql); });
  }

  TempDatabase db_{GetParam()};
  std::shared_ptr<rdmGradeDistribuicao> object_;
};

INSTANTIATE_TEST_SUITE_P(Backends, LoadsTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

// V1 takes 100 kg, V2 50 kg. The selected items weigh 90 kg on 2025-06-10:
// P1 40 kg (two items), P2 30 kg, P3 20 kg; P4 10 kg on 2025-06-11.
TEST_P(LoadsTest, EveryWriteLeavesTheRoomTheAllocationsLeave) {
  const std::string a = Distribute("");
  EXPECT_EQ("10,50", Free(a));
  EXPECT_EQ("3,0=S,N", Orders(a, "P3"));
  // Distributing the grid again replaces its load, it does not add to it.
  EXPECT_EQ(a, Distribute(a));
  EXPECT_EQ("10,50", Free(a));
  EXPECT_EQ("", Stale());

  // A save moves P3 (20 kg) to V2; saving the same list again changes
  // nothing.
  EXPECT_EQ("ok",
            Failure("SetGrade", {Save(a, "P3", "V2", 4, "F", "V1"), 5.0, 0.05, "0001", a, "ANA"}));
  EXPECT_EQ("30,30", Free(a));
  EXPECT_EQ("2,1=N,S", Orders(a, "P3"));
  EXPECT_EQ("ok", Failure("SetGrade", {Save(a, "P3", "V1", 0), 5.0, 0.05, "0001", a, "ANA"}));
  EXPECT_EQ("30,30", Free(a));
  EXPECT_EQ("", Stale());

  // Order moves: P1 (40 kg) does not fit what V2 has left and nothing
  // changes; P3 comes off V2, then goes onto V1.
  EXPECT_EQ(detail::kOrderWeightExceeded, Failure("SetPedidoCarro", {"P1", "0001", "V2", a}));
  EXPECT_EQ("30,30", Free(a));
  EXPECT_EQ("ok", Failure("SetPedidoCarro", {"P3", "0001", "V2", a}));
  EXPECT_EQ("30,50", Free(a));
  EXPECT_EQ("2,0=N,N", Orders(a, "P3"));
  EXPECT_EQ("ok", Failure("SetPedidoCarro", {"P3", "0001", "V1", a}));
  EXPECT_EQ("10,50", Free(a));
  EXPECT_EQ(detail::kOrderWeightExceeded, Failure("SetPedidos", {"0001", "V2", a}));
  EXPECT_EQ("ok", Failure("SetPedidos", {"0001", "V1", a}));
  EXPECT_EQ("10,50", Free(a));
  EXPECT_EQ("3,0=S,N", Orders(a, "P3"));
  EXPECT_EQ("", Stale());

  // A second grid loads the same vehicles on the same day, and only that
  // day: P4 goes on 2025-06-11.
  const std::string b = Str(Call("PrxNrGrade", {"0001"}).result);
  EXPECT_EQ("ok", Failure("SetGrade", {Save(b, "P2", "V2", 3), 10.0, 0.1, "0001", b, "ANA"}));
  EXPECT_EQ("10,20", Free(a));
  EXPECT_EQ("10,20", Free(b));
  const std::string c = Distribute("", "IDCHECK = 'X'");
  EXPECT_EQ("90,50", Free(c, "2025-06-11"));
  EXPECT_EQ("10,20", Free(c));

  // A dispatched grid keeps its load, also when discarded by mistake; a
  // discarded grid frees it; so does a grid released by hand or for being
  // idle.
  EXPECT_EQ("ok", Failure("ExpedirGrade", {"0001", a, "ANA"}));
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", a}));
  EXPECT_EQ("10,20", Free(b));
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", b}));
  EXPECT_EQ("10,50", Free(b));
  ReleaseGrid(*db_.storage(), "0001", c, "ADM");
  EXPECT_EQ("100,50", Free(c, "2025-06-11"));
  const std::string d = Distribute("", "IDCHECK = 'X'");
  EXPECT_EQ("90,50", Free(d, "2025-06-11"));
  EXPECT_EQ(1u, ReleaseIdleGrids(*db_.storage(), std::chrono::minutes(1),
                                 std::chrono::system_clock::now() + std::chrono::hours(1))
                    .size());
  EXPECT_EQ("100,50", Free(d, "2025-06-11"));
  EXPECT_EQ("10,50", Free(d));
}

// An order's vehicles: one row per vehicle however many of the order's items
// it carries, with the free room of the order's own delivery day, or of the
// grid's first day for an order the grid does not hold.
TEST_P(LoadsTest, AnOrdersVehiclesShowTheRoomOfItsDay) {
  auto room = [&](const std::string& grid, const char* order) {
    const Variant v = Call("GetCarroPedido", {order, "0001", "11222333000181", grid}).result;
    return Column(v, "CDVIATURA") + " " + Column(v, "IDMARCADO") + " " + Column(v, "VRPESOUTIL");
  };
  const std::string a = Distribute("");
  const std::string c = Distribute("", "IDCHECK = 'X'");
  EXPECT_EQ("V1,V2 S,N 10,100", room(a, "P1"));
  // P4 travels on 2025-06-11 only, in grid c.
  EXPECT_EQ("V1,V2 N,N 10,100", room(a, "P4"));
  EXPECT_EQ("V1,V2 S,N 90,100", room(c, "P4"));
  EXPECT_EQ("V1,V2 N,N 90,100", room(c, "P1"));
}

// A row saved again with its quantity but another return flag changes the
// flag of every row of the vehicle, and keeps the stop the row had.
TEST_P(LoadsTest, ASaveOfTheSameQuantityStillTakesANewFlag) {
  const std::string a = Distribute("");
  EXPECT_EQ("ok", Failure("SetGradeRota", {"3", "P1", "V1", "0001", a, "1", "A", "I"}));
  EXPECT_EQ("ok", Failure("SetGrade", {Save(a, "P1", "V1", 2, "T"), 10.0, 0.1, "0001", a, "ANA"}));
  EXPECT_EQ("T,null", Column(Call("GetVeiculo", {kKey, Variant(DateTime::FromIso("2025-06-10")),
                                                 "0001", "P2", "1", a})
                                 .result,
                             "IDRETGRADEDISTR"));
  const Variant stops = Call("GetGradeRota", {a, "V1", "0001"}).result;
  EXPECT_EQ("3,null,null", Column(stops, "NRORDENTREGRADE"));
  EXPECT_EQ("T,T,T", Column(stops, "IDRETGRADEDISTR"));
}

// The return flag belongs to the vehicle: each save that turns it leaves
// every row of the vehicle with it, a row without a flag (older data)
// among them, and the other vehicles' rows as they were.
TEST_P(LoadsTest, EveryRowOfAVehicleFollowsItsTurnedFlag) {
  const std::string a = Distribute("");
  Sql("UPDATE ALOCGRADE SET IDRETGRADEDISTR = NULL WHERE NRGRADEDISTR = '" + a +
      "' AND CDVIATURA = 'V1' AND NRPEDIDO <> 'P1'");
  auto flags = [&](const char* vehicle) {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      out.clear();
      for (const Row& r : s.Query("SELECT COALESCE(IDRETGRADEDISTR, '-') FROM ALOCGRADE WHERE "
                                  "NRGRADEDISTR = ? AND CDVIATURA = ? ORDER BY NRPEDIDO, NRITEMPED",
                                  {Value(a), Value(vehicle)})) {
        out += r[0].ToString();
      }
    });
    return out;
  };
  const std::string v2 = flags("V2");
  ASSERT_GE(flags("V1").size(), 2u);
  ASSERT_NE(std::string::npos, flags("V1").find('-'));
  for (const char* flag : {"T", "F", "T"}) {
    SCOPED_TRACE(flag);
    EXPECT_EQ("ok",
              Failure("SetGrade", {Save(a, "P1", "V1", 2, flag), 10.0, 0.1, "0001", a, "ANA"}));
    EXPECT_EQ(std::string(flags("V1").size(), flag[0]), flags("V1"));
    EXPECT_EQ(v2, flags("V2"));
  }
}

// Distributing a grid again writes only what changed, and leaves what a
// distribution into a new grid leaves: the clerk's stops, flags and moves
// are undone, an item no longer selected goes, one selected again comes
// back.
TEST_P(LoadsTest, DistributingAgainLeavesWhatAFreshDistributionLeaves) {
  // The grid's items and allocations, the grid number left out.
  auto rows = [&](const std::string& grid) {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const char* sql :
           {"SELECT NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, NMFANTCLIE, QTDEAEXP, "
            "VRPESOBRUTPR, VRVOLMED, IDPRIOPED, DTENTREGA, DTHRENTGRADE, CDROTATRANS FROM "
            "ITEMGRADE WHERE NRGRADEDISTR = ? ORDER BY NRPEDIDO, NRITEMPED",
            "SELECT CDVIATURA, NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, QTTRANSP, VRPESOUNIT, "
            "VRVOLUNIT, IDRETGRADEDISTR, CDROTATRANS, DTENTREGA, DTHRENTGRADE, CDOPERLANCGRAD, "
            "NRORDENTREGRADE FROM ALOCGRADE WHERE NRGRADEDISTR = ? "
            "ORDER BY CDVIATURA, NRPEDIDO, NRITEMPED"}) {
        for (const Row& r : s.Query(sql, {Value(grid)})) {
          for (const Value& v : r) out += v.DebugString() + " ";
          out += "\n";
        }
      }
    });
    return out;
  };
  auto without_p3 = [&] {
    DataPacket items = Call("GetItensExpedicao", {"0001"}).result.AsPacket();
    for (auto& row : items.rows) {
      if (Str(row[items.FieldIndex("NRPEDIDO")]) == "P3") {
        row[items.FieldIndex("IDCHECK")] = Variant("N");
      }
    }
    return Variant(items);
  };

  const std::string a = Distribute("");
  const std::string fresh = rows(a);
  EXPECT_NE(std::string::npos, fresh.find("\"P3\""));
  EXPECT_EQ("ok", Failure("SetGradeRota", {"3", "P1", "V1", "0001", a, "1", "A", "I"}));
  EXPECT_EQ("ok",
            Failure("SetGrade", {Save(a, "P3", "V2", 4, "T", "V1"), 5.0, 0.05, "0001", a, "ANA"}));
  EXPECT_NE(fresh, rows(a));
  EXPECT_EQ(a, Distribute(a));
  EXPECT_EQ(fresh, rows(a));
  EXPECT_EQ("10,50", Free(a));
  EXPECT_EQ("3,0=S,N", Orders(a, "P3"));
  EXPECT_EQ("", Stale());

  // P3 (20 kg) left out, then selected again.
  Call("DistribuiQuantidades", {without_p3(), "IDCHECK = 'S'", kKey, a, "ANA", "0001"});
  EXPECT_EQ(std::string::npos, rows(a).find("\"P3\""));
  EXPECT_EQ("30,50", Free(a));
  EXPECT_EQ("2,0=N,N", Orders(a, "P3"));
  EXPECT_EQ("", Stale());
  EXPECT_EQ(a, Distribute(a));
  EXPECT_EQ(fresh, rows(a));

  // A new grid on the same room holds the same rows.
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", a}));
  const std::string b = Distribute("");
  EXPECT_NE(a, b);
  EXPECT_EQ(fresh, rows(b));
}

// Imported vehicles and items change capacities and unit weights; the loads
// keep what the allocations carry, the free room follows the new capacity.
TEST_P(LoadsTest, AnImportLeavesTheLoadsAsTheAllocationsSumThem) {
  const std::string a = Distribute("");
  const ImportReport report = ImportCsv(
      *db_.storage(), {{"veiculos.csv",
                        "veiculo;descricao;capacidade_kg;volume_m3;transportadora\n"
                        "V1;Truck;200;1;11222333000181\n"},
                       {"itens.csv",
                        "filial;pedido;item;cliente;produto;quantidade;peso_unitario_kg;"
                        "volume_unitario_m3;entrega\n0001;P3;1;C3;C;4;50;0,05;10/06/2025\n"}});
  std::string issues;
  for (const ImportFileReport& f : report.files) {
    for (const ImportIssue& i : f.issues) issues += FormatIssue(f.file, i) + "\n";
  }
  ASSERT_TRUE(report.Ok()) << issues;
  EXPECT_EQ("110,50", Free(a));
  EXPECT_EQ("", Stale());
}

// A database written before the loads were kept gets them from its
// allocations when it is opened.
TEST_P(LoadsTest, AnOlderDatabaseGetsItsLoadsFromItsAllocations) {
  const std::string a = Distribute("");
  EXPECT_EQ("ok",
            Failure("SetGrade", {Save(a, "P3", "V2", 4, "F", "V1"), 5.0, 0.05, "0001", a, "ANA"}));
  const std::string discarded = Str(Call("PrxNrGrade", {"0001"}).result);
  Call("DelGrade", {"0001", discarded});
  // Back to the schema before the loads (version 6), with what later
  // versions added.
  const int before = 6;
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    for (const char* sql :
         {"DROP TABLE CARGAVEICULO", "DROP TABLE GRADEVEICULO", "DROP INDEX ALOCGRADE_ITEM",
          "DROP INDEX ITEMGRADE_DIA", "DROP INDEX GRADEDISTR_SEQ", "DROP INDEX GRADEDISTR_SITUACAO",
          "DROP INDEX TRANSPORT_INSCRICAO", "ALTER TABLE GRADEDISTR DROP COLUMN DSPROCESSO",
          "DROP INDEX ALOCGRADE_CLIENTE"}) {
      s.Exec(sql);
    }
    for (const auto& [table, column] : ColumnsAddedAfter(before)) {
      s.Exec("ALTER TABLE " + table + " DROP COLUMN " + column);
    }
    s.Exec("DELETE FROM schema_version WHERE version > ?", {Value(before)});
  });
  object_.reset();
  object_ = std::make_shared<rdmGradeDistribuicao>(OpenStorage(db_.path()));
  EXPECT_EQ("30,30", Free(a));
  EXPECT_EQ("2,1=N,S", Orders(a, "P3"));
  EXPECT_EQ("", Stale());
}

// The check itself: a load or a vehicle row that no longer matches the
// allocations is named.
TEST_P(LoadsTest, AStaleLoadIsReported) {
  const std::string a = Distribute("");
  ASSERT_EQ("", Stale());
  Sql("UPDATE CARGAVEICULO SET VRPESO = VRPESO + 0.001 WHERE CDVIATURA = 'V1'");
  EXPECT_EQ("CARGAVEICULO V1 2025-06-10: 90.001 kg, 0.8 m3 stored, 90 kg, 0.8 m3 allocated\n",
            Stale());
  Sql("DELETE FROM CARGAVEICULO");
  EXPECT_EQ("CARGAVEICULO V1 2025-06-10: 0 kg, 0 m3 stored, 90 kg, 0.8 m3 allocated\n", Stale());
  Call("DelGrade", {"0001", a});
  EXPECT_EQ("", Stale());
  Distribute("");
  Sql("UPDATE GRADEVEICULO SET QTPEDIDOS = 2");
  EXPECT_NE(std::string::npos, Stale().find(": flag/orders F/2 stored, F/3 allocated"));
  Sql("DELETE FROM GRADEVEICULO");
  EXPECT_NE(std::string::npos, Stale().find(": flag/orders none stored, F/3 allocated"));
  // Allocations written around the server: the rebuild brings every row
  // back to what they sum.
  Sql("UPDATE ALOCGRADE SET QTTRANSP = QTTRANSP * 2");
  Sql("UPDATE CARGAVEICULO SET VRVOLUME = 7");
  ASSERT_NE("", Stale());
  db_.storage()->Transact(TxKind::Write, [](Session& s) { detail::RebuildLoads(s); });
  EXPECT_EQ("", Stale());
}

}  // namespace
}  // namespace dg::server
