// Contract and semantics of the server object, run in process and over HTTP.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "appserver/grade_support.h"
#include "appserver/testing/test_support.h"
#include "data/item_fields.h"
#include "data/quantity.h"

namespace dg::server {
namespace {

using data::CallReply;
using data::DataPacket;
using data::DateTime;
using data::Variant;
using data::VariantArray;
using namespace testing;
using detail::kItemVolumeExceeded;
using detail::kItemWeightExceeded;
using detail::kOrderWeightExceeded;

Variant Day(const char* iso) { return Variant(DateTime::FromIso(iso)); }

// Each case runs in process and over HTTP, on SQLite and on PostgreSQL.
class ServerTest : public CallingServerTest {
 protected:
  Variant Result(const std::string& method, std::vector<Variant> args) {
    return Call(method, std::move(args)).result;
  }

  Variant Items() { return Result("GetItensExpedicao", {"0001"}); }
  // Distributes the fixture's selected items into `grid` (a new one when
  // empty); returns the grid number the server left.
  std::string Distribute(const std::string& grid = "", Variant items = {}) {
    if (items.IsEmpty()) items = Items();
    auto reply = Call("DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, grid, "ANA", "0001"});
    return Str(reply.args[3]);
  }
  Variant Vehicles(const std::string& grid, const char* order, const char* item,
                   const char* day = "2025-06-10") {
    return Result("GetVeiculo", {kKey, Day(day), "0001", order, item, grid});
  }
  // cdsVeiculo of the item with QtTranspItGr of `vehicle` set to `quantity`.
  Variant WithQuantity(const std::string& grid, const char* order, const char* item,
                       const std::string& vehicle, Variant quantity) {
    DataPacket p = Vehicles(grid, order, item).AsPacket();
    for (auto& row : p.rows) {
      if (Str(row[p.FieldIndex("CDVIATURA")]) == vehicle)
        row[p.FieldIndex("QtTranspItGr")] = quantity;
    }
    return Variant(p);
  }
  std::string Marks(const std::string& grid, const char* order) {
    Variant v = Result("GetCarroPedido", {order, "0001", "11222333000181", grid});
    return Column(v, "CDVIATURA") + "=" + Column(v, "IDMARCADO");
  }

  // Reseeds the database with the small fixture, some of its order items
  // given another quantity to dispatch and unit weight and volume.
  struct ItemChange {
    const char *order, *item;
    double quantity, unit_weight, unit_volume;
  };
  void ReseedItems(const std::vector<ItemChange>& changes) {
    nlohmann::json fixture = SmallFixture();
    for (auto& row : fixture["ITEMPEDIDO"]) {
      for (const ItemChange& c : changes) {
        if (row["NRPEDIDO"] == c.order && row["NRITEMPED"] == c.item) {
          row["QTDEAEXP"] = c.quantity;
          row["VRPESOBRUTPR"] = c.unit_weight;
          row["VRVOLMED"] = c.unit_volume;
        }
      }
    }
    LoadFixture(*db_.storage(), fixture);
  }
};

INSTANTIATE_TEST_SUITE_P(Transports, ServerTest, TransportParams(), TransportParamName);

TEST_P(ServerTest, RefusesBadCalls) {
  struct Case {
    std::string server, method;
    std::vector<Variant> args;
    std::string want;
  } cases[] = {
      {kServerName,
       "GetVeiculo",
       {kKey, Day("2025-06-10"), "0001", "P1", "1"},
       "GetVeiculo: expected 6 arguments, got 5"},
      {kServerName, "GetParametros", {}, "GetParametros: expected 1 argument, got 0"},
      {kServerName,
       "GetVeiculo",
       {kKey, "10/06/2025", "0001", "P1", "1", ""},
       "GetVeiculo: argument 2 must be a date, got String"},
      {kServerName,
       "SetGrade",
       {"x", 1.0, 1.0, "0001", "", "ANA"},
       "SetGrade: argument 1 must be a data packet, got String"},
      {kServerName,
       "SetGrade",
       {Variant(DataPacket{}), "1", 1.0, "0001", "", "ANA"},
       "SetGrade: argument 2 must be a number, got String"},
      {kServerName, "DelGrade", {"0001", 5}, "DelGrade: argument 2 must be a text, got Integer"},
      {kServerName, "Nada", {}, "unknown method Nada"},
      {"Exp03200.Outro", "GetParametros", {"0001"}, "unknown server Exp03200.Outro"},
      {kServerName,
       "DistribuiQuantidades",
       {Items(), "IDCHECK ~ 'S'", kKey, "", "ANA", "0001"},
       "DistribuiQuantidades: cannot apply the filter \"IDCHECK ~ 'S'\": comparison operator "
       "expected at position 9"},
      {kServerName,
       "DistribuiQuantidades",
       {Items(), "IDCHECK = 'S'", "J999", "", "ANA", "0001"},
       "Transportadora J999 não cadastrada."},
  };
  for (const Case& c : cases) {
    try {
      transport_->Call(c.server, c.method, c.args);
      ADD_FAILURE() << c.method << " did not fail";
    } catch (const data::ServerCallError& e) {
      EXPECT_EQ(c.want, e.what());
    }
  }
  // Still serving.
  EXPECT_EQ("S", Column(Result("GetParametros", {"0001"}), "IDEXITRANSPDIST"));
}

TEST_P(ServerTest, ResultShapesMatchTheScreensDatasets) {
  const std::string grid = Distribute();
  const std::string vehicle =
      "DSTIPOVEIC:string:50 QtTranspItGr:double QTCAPACIVIAT:double CDVIATURA:string:4 "
      "VRVOLUMEVIAT:double VrPesTranspItGr:double VRPESOUTIL:double IDTPIJURTRAN:string:1 "
      "NRINSJURTRAN:string:20 CDFILIAL:string:4 NRPEDIDO:string:10 DTHRENTGRADE:datetime "
      "CDPRODUTO:string:10 NRITEMPED:string:10 VrVolTranspItGr:double VRVOLUMEUTIL:double "
      "IDRETGRADEDISTR:string:1 NRGRADEDISTR:string:10 CDOPERLANCGRAD:string:12 "
      "CDROTATRANS:string:6";
  const std::string erro = "CODIGO:string:21 NOME:string:50";
  const std::string rota =
      "NRGRADEDISTR:string:10 CDFILIAL:string:4 NRORDENTREGRADE:string:5 CODIGO:string:20 "
      "CDCLIENTE:string:21 NOME:string:50 CDVIATURA:string:10 IDTPIJURCLIE:string:1 "
      "ENDERECO:string:86 CEP:string:15 IDRETGRADEDISTR:string:1";
  struct Case {
    std::string method;
    std::vector<Variant> args;
    std::string shape;
  } cases[] = {
      {"GetParametros",
       {"0001"},
       "API:string:300 IDEXITRANSPDIST:string:1 NRINSJURTRAN:string:20 CDTIPTRANS:string:4"},
      {"GetVeiculo", {kKey, Day("2025-06-10"), "0001", "P1", "1", grid}, vehicle},
      {"GetErro", {grid, "", "0001"}, erro},
      {"GetGradeRota", {grid, "V1", "0001"}, rota},
      {"GetVdOrdem",
       {"0001", grid, "V1", "001"},
       "CDFILIAL:string:4 NRGRADEDISTR:string:10 CDVIATURA:string:10 NRORDENTREGRADE:string:5 "
       "CODIGO:string:20"},
      {"GetItemGrade",
       {"0001", grid, "V1", "C1"},
       "NRPEDIDO:string:10 NRITEMPED:string:10 CDPRODUTO:string:10"},
      {"GetTotal", {"0001", grid, "V1"}, "DISTANCIA:string:10 TEMPO:string:10"},
      {"GetItinerario",
       {"0001", grid, "V1"},
       "NRGRADEDISTR:string:10 CDFILIAL:string:4 NRPEDIDO:string:10 CDVIATURA:string:4 "
       "DSITINERAGRADE:memo NRITEMPED:string:10 CDPRODUTO:string:10"},
      {"GetEndeFilialProc", {"0001"}, "NRCEPFILI:string:15 ENDERECO:string:84"},
      {"GetRetTransp", {"11222333000181"}, "ENDERECO:string:86"},
      {"GetGradeporPedido",
       {"0001", grid},
       "NRPEDIDO:string:10 NMFANTCLIE:string:50 PESO:double VRVOLMED:double VRVOLTOTAL:double "
       "VRPESOTOTAL:double"},
      {"GetCarroPedido",
       {"P1", "0001", "11222333000181", grid},
       "IDMARCADO:string:1 CDVIATURA:string:4 DSTIPOVEIC:string:50 QTCAPACIVIAT:double "
       "VRVOLUMEVIAT:double VRPESOUTIL:double VRVOLUMEUTIL:double QTPEDIDOS:double"},
      {"GetPontosRota",
       {"0001", grid, "V1", ""},
       "TIPO:string:1 NRORDENTREGRADE:string:5 CODIGO:string:21 NOME:string:50 "
       "ENDERECO:string:86 CEP:string:15 LATITUDE:double LONGITUDE:double TRAJETO:memo "
       "JANELA:string:30 HRCHEGADA:string:5 HRSAIDA:string:5 NRMINATRASO:double"},
      {"GetOrdemSugerida",
       {"0001", grid, "V1"},
       "CODIGO:string:20 NOME:string:50 ENDERECO:string:86 NRORDENTREGRADE:string:5 "
       "NRORDSUGERIDA:string:5 DISTANCIA:string:10 JANELA:string:30 HRCHEGADA:string:5 "
       "HRSAIDA:string:5 NRMINATRASO:double"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.shape, Shape(Result(c.method, c.args))) << c.method;
  }
  const Variant pair =
      Result("DistribuiQuantidades", {Items(), "IDCHECK = 'S'", kKey, grid, "ANA", "0001"});
  const VariantArray& array = pair.AsArray();
  ASSERT_EQ(0, array.Low());
  ASSERT_EQ(1, array.High());
  EXPECT_EQ(vehicle, Shape(array[0]));
  EXPECT_EQ(erro, Shape(array[1]));
  EXPECT_EQ(data::ItemPacketFields(), Items().AsPacket().fields);
  EXPECT_EQ(5u, Items().AsPacket().rows.size());
  // Methods whose result the screen does not read answer true.
  EXPECT_EQ(Variant(true), Result("DelGrade", {"0001", ""}));
  EXPECT_EQ(Variant(true), Result("SetPedidos", {"0001", "V9", grid}));
}

TEST_P(ServerTest, WritesByReferenceArguments) {
  auto reply = Call("DistribuiQuantidades", {Items(), "IDCHECK = 'S'", kKey, "", "ANA", ""});
  EXPECT_EQ("000001", Str(reply.args[3]));
  EXPECT_EQ("0001", Str(reply.args[5]));
  EXPECT_EQ(kKey, Str(reply.args[2]));

  reply = Call("SetGrade", {WithQuantity("", "P2", "1", "V2", 3.0), 10.0, 0.1, "0001", "", "ANA"});
  EXPECT_EQ("000002", Str(reply.args[4]));
  EXPECT_EQ(Variant("000003"), Result("PrxNrGrade", {"0001"}));
  EXPECT_EQ(Variant("000001"), Result("PrxNrGrade", {"0002"}));
}

TEST_P(ServerTest, EdgesOfTheFirstLaunch) {
  for (const char* branch : {"", "9999"}) {
    const Variant p = Result("GetParametros", {branch});
    EXPECT_EQ(0u, p.AsPacket().rows.size()) << branch;
    EXPECT_EQ(4u, p.AsPacket().fields.size());
  }
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", ""}));
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", "777777"}));
  EXPECT_EQ("", Column(Result("GetErro", {"", "", "0001"}), "CODIGO"));
  EXPECT_EQ("V1,V2", Column(Vehicles("", "P1", "1"), "CDVIATURA"));
}

// The look-ups a desktop without a database of its own asks the server for:
// an empty argument matches any row, punctuation in an inscription is
// ignored, and an unknown key finds nothing.
TEST_P(ServerTest, TransporterAndTransportTypeLookUps) {
  const auto transporters = [&](const char* type, const char* inscription) {
    return Column(Result("GetTransportadora", {type, inscription}), "NMFANTTRAN");
  };
  EXPECT_EQ("Rodo,Zé", transporters("", ""));
  EXPECT_EQ("Rodo", transporters("J", "11.222.333/0001-81"));
  EXPECT_EQ("Rodo", transporters("", "11222333000181"));
  EXPECT_EQ("", transporters("F", "11222333000181"));
  EXPECT_EQ("", transporters("J", "99999999000191"));
  EXPECT_EQ("IDTPIJURTRAN:string:1 NRINSJURTRAN:string:20 CDTIPTRANS:string:4 "
            "NMFANTTRAN:string:40",
            Shape(Result("GetTransportadora", {"", ""})));
  EXPECT_EQ("Rodoviário", Column(Result("GetTipoTransporte", {""}), "NMTIPTRANS"));
  EXPECT_EQ("0001", Column(Result("GetTipoTransporte", {"0001"}), "CDTIPTRANS"));
  EXPECT_EQ("", Column(Result("GetTipoTransporte", {"0002"}), "CDTIPTRANS"));
  EXPECT_NE("ok", Failure("GetTipoTransporte", {"00001"}));
}

TEST_P(ServerTest, DistributionKeepsOrdersWholeAndReportsPointsWithoutAddress) {
  const Variant pair =
      Result("DistribuiQuantidades", {Items(), "IDCHECK = 'S'", kKey, "", "ANA", "0001"});
  // 90 kg and 0.8 m3 fit the larger vehicle V1 alone.
  EXPECT_EQ("V1,V2", Column(pair.AsArray()[0], "CDVIATURA"));
  EXPECT_EQ("2,null", Column(pair.AsArray()[0], "QtTranspItGr"));
  EXPECT_EQ("10,50", Column(pair.AsArray()[0], "VRPESOUTIL"));
  EXPECT_EQ("F,null", Column(pair.AsArray()[0], "IDRETGRADEDISTR"));
  EXPECT_EQ("C2", Column(pair.AsArray()[1], "CODIGO"));
  EXPECT_EQ("Mercado Dois", Column(pair.AsArray()[1], "NOME"));

  const Variant orders = Result("GetGradeporPedido", {"0001", "000001"});
  EXPECT_EQ("P1,P2,P3", Column(orders, "NRPEDIDO"));  // P4 is not selected
  EXPECT_EQ("40,30,20", Column(orders, "VRPESOTOTAL"));
  EXPECT_EQ("0.3,0.3,0.2", Column(orders, "VRVOLTOTAL"));
  for (const char* order : {"P1", "P2", "P3"}) EXPECT_EQ("V1,V2=S,N", Marks("000001", order));
}

TEST_P(ServerTest, QuantityBeyondTheFleetStoresNothing) {
  const std::string grid = Distribute();
  // The branch's records now say 100 units (1000 kg) of P1's first item.
  db_.storage()->Transact(TxKind::Write, [](Session& s) {
    s.Exec("UPDATE ITEMPEDIDO SET QTDEAEXP = 100 WHERE NRPEDIDO = 'P1' AND NRITEMPED = '1'");
  });
  DataPacket items = Items().AsPacket();
  ASSERT_EQ(Variant(100.0), items.rows[0][items.FieldIndex("QTDEAEXP")]);
  EXPECT_EQ("@QT_EXCEDE", Failure("DistribuiQuantidades",
                                  {Variant(items), "IDCHECK = 'S'", kKey, grid, "ANA", "0001"}));
  EXPECT_EQ("P1,P2,P3", Column(Result("GetGradeporPedido", {"0001", grid}), "NRPEDIDO"));
  EXPECT_EQ("V1,V2=S,N", Marks(grid, "P1"));
  EXPECT_EQ("2,null", Column(Vehicles(grid, "P1", "1"), "QtTranspItGr"));
}

TEST_P(ServerTest, FreeCapacityCountsEveryLiveGridOfTheDay) {
  const std::string first = Distribute();
  const std::string second = Str(Result("PrxNrGrade", {"0001"}));
  EXPECT_EQ("10,50", Column(Vehicles(second, "P1", "1"), "VRPESOUTIL"));
  EXPECT_EQ("0.2,2", Column(Vehicles(second, "P1", "1"), "VRVOLUMEUTIL"));
  EXPECT_EQ("100,50", Column(Vehicles(second, "P1", "1", "2025-06-11"), "VRPESOUTIL"));

  // The second grid cannot fit what the first one left no room for.
  EXPECT_EQ("@QT_EXCEDE", Failure("DistribuiQuantidades",
                                  {Items(), "IDCHECK = 'S'", kKey, second, "ANA", "0001"}));
  Result("ExpedirGrade", {"0001", first, "ANA"});
  EXPECT_EQ("10,50", Column(Vehicles(second, "P1", "1"), "VRPESOUTIL"));
  // Discarding a dispatched grid (the next launch's screen still names it)
  // succeeds and changes nothing: its load still counts.
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", first}));
  EXPECT_EQ("10,50", Column(Vehicles(second, "P1", "1"), "VRPESOUTIL"));
  EXPECT_EQ("A grade " + first + " já foi expedida e não pode ser alterada.",
            Failure("SetPedidos", {"0001", "V2", first}));
}

TEST_P(ServerTest, DiscardFreesTheVehicles) {
  const std::string grid = Distribute();
  Result("DelGrade", {"0001", grid});
  EXPECT_EQ("100,50", Column(Vehicles(grid, "P1", "1"), "VRPESOUTIL"));
  EXPECT_EQ("", Column(Result("GetGradeporPedido", {"0001", grid}), "NRPEDIDO"));
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", grid}));
  EXPECT_EQ("A grade " + grid + " foi descartada e não pode ser expedida.",
            Failure("ExpedirGrade", {"0001", grid, "ANA"}));
  EXPECT_EQ("A grade 424242 não existe.", Failure("ExpedirGrade", {"0001", "424242", "ANA"}));
}

// Every write into a grid needs a grid the server handed out, of the branch
// named, and open: a dispatched, a discarded, an unknown grid and another
// branch's are refused by every write method, and nothing is written.
TEST_P(ServerTest, WritesReachOnlyOpenGridsTheServerHandedOut) {
  const std::string dispatched = Distribute();
  const Variant vehicle_rows = WithQuantity(dispatched, "P1", "1", "V1", 1.0);
  Result("ExpedirGrade", {"0001", dispatched, "ANA", "0001", "C"});
  const std::string discarded = Str(Result("PrxNrGrade", {"0001"}));
  Result("DelGrade", {"0001", discarded});
  auto count = [&] {
    std::int64_t n = 0;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const char* table :
           {"GRADEDISTR", "ITEMGRADE", "ALOCGRADE", "ITINERARIO", "TOTALROTA"}) {
        n = n * 1000 + s.Query(std::string("SELECT COUNT(*) FROM ") + table)[0][0].ToInt64();
      }
    });
    return n;
  };
  const std::int64_t before = count();
  const std::string manifest =
      Column(Result("GetRomaneio", {"0001", dispatched}).AsArray()[0], "CDTIPTRANS");

  struct Grid {
    std::string branch, number, refusal;
  };
  const Grid grids[] = {
      {"0001", dispatched, "A grade " + dispatched + " já foi expedida e não pode ser alterada."},
      {"0001", discarded, "A grade " + discarded + " foi descartada e não pode ser alterada."},
      {"0001", "777777", "A grade 777777 não existe."},
      {"0001", "9999999999", "A grade 9999999999 não existe."},
      {"0002", dispatched, "A grade " + dispatched + " não existe."},
  };
  for (const Grid& g : grids) {
    DataPacket delta;
    delta.kind = DataPacket::Kind::Delta;
    for (const char* f :
         {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "NRPEDIDO", "NRITEMPED", "DSITINERAGRADE"}) {
      delta.fields.push_back({f, data::FieldType::String, 10});
    }
    delta.changes.push_back(
        {data::RowState::Inserted, {}, {g.branch, g.number, "V1", "P1", "1", "ADULTERADO"}});
    const std::vector<std::pair<std::string, std::vector<Variant>>> calls = {
        {"SetRotaCalculada", {g.branch, g.number, "V1", "9999 km", "99 h", "ADULTERADO"}},
        {"SetItinerario", {Variant(delta)}},
        {"SetGradeRota", {"  1", "P1", "V1", g.branch, g.number, "1", "", "I"}},
        {"SetPedidoCarro", {"P1", g.branch, "V1", g.number}},
        {"SetPedidos", {g.branch, "V1", g.number}},
        {"SetGrade", {vehicle_rows, 10.0, 0.1, g.branch, g.number, "ANA"}},
        {"DistribuiQuantidades", {Items(), "IDCHECK = 'S'", kKey, g.number, "ANA", g.branch}},
    };
    for (const auto& [method, args] : calls) {
      EXPECT_EQ(g.refusal, Failure(method, args)) << method << " " << g.branch << "/" << g.number;
    }
  }
  EXPECT_EQ(before, count());
  // Made again, the dispatch answers and changes nothing.
  EXPECT_EQ("ok", Failure("ExpedirGrade", {"0001", dispatched, "BIA", "0002", "F"}));
  EXPECT_EQ(manifest,
            Column(Result("GetRomaneio", {"0001", dispatched}).AsArray()[0], "CDTIPTRANS"));
}

// Grid numbers come from the server alone and never leave the field: once
// a branch has had its last number, no new grid is made, saying so.
TEST_P(ServerTest, GridNumbersNeverLeaveTheirField) {
  EXPECT_EQ("A grade 9999999999 não existe.",
            Failure("SetGrade", {WithQuantity("", "P2", "1", "V2", 3.0), 10.0, 0.1, "0001",
                                 "9999999999", "ANA"}));
  EXPECT_EQ("ok", Failure("DelGrade", {"0001", "9999999999"}));
  EXPECT_EQ(Variant("000001"), Result("PrxNrGrade", {"0001"}));

  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec(
        "INSERT INTO GRADEDISTR (CDFILIAL, NRGRADEDISTR, NRSEQGRADE, IDSITGRADE) "
        "VALUES ('0001', '9999999999', 9999999999, 'C')",
        {});
  });
  const std::string exhausted =
      "A filial 0001 não tem mais números de grade: a última é 9999999999.";
  EXPECT_EQ(exhausted, Failure("PrxNrGrade", {"0001"}));
  EXPECT_EQ(exhausted,
            Failure("DistribuiQuantidades", {Items(), "IDCHECK = 'S'", kKey, "", "ANA", "0001"}));
  EXPECT_EQ(Variant("000001"), Result("PrxNrGrade", {"0002"})) << "other branches go on";
}

TEST_P(ServerTest, SetGradeStoresRemovesAndRechecksCapacity) {
  // Items whose own weights reach each limit: P2/1 of 10 kg, P1/2 bulky,
  // P3/1 light and many.
  ReseedItems({{"P2", "1", 10, 10, 0.1}, {"P1", "2", 2, 1, 0.6}, {"P3", "1", 500, 0.1, 0.001}});
  const std::string grid = Str(Result("PrxNrGrade", {"0001"}));
  struct Step {
    const char *order, *item, *vehicle;
    Variant quantity;
    std::string want_failure, want_quantities, want_free_weight;
  } steps[] = {
      {"P2", "1", "V2", 3.0, "ok", "null,3", "100,20"},
      {"P2", "1", "V2", 6.0, kItemWeightExceeded, "null,3", "100,20"},
      {"P1", "2", "V1", 2.0, kItemVolumeExceeded, "null,null", "100,20"},
      {"P2", "1", "V2", 0.0, "ok", "null,null", "100,50"},
      {"P3", "1", "V2", 500.0, "ok", "null,500", "100,0"},  // 50 kg exactly
      {"P3", "1", "V2", Variant(), "ok", "null,null", "100,50"},
      {"P2", "1", "V1", 10.0, "ok", "10,null", "0,50"},
      {"P2", "1", "V1", Variant(), "ok", "null,null", "100,50"},
  };
  for (const Step& s : steps) {
    // The unit weight and volume left empty stand for the item's own.
    EXPECT_EQ(s.want_failure,
              Failure("SetGrade", {WithQuantity(grid, s.order, s.item, s.vehicle, s.quantity),
                                   Variant(), Variant(), "0001", grid, "ANA"}))
        << s.order << " " << s.vehicle << " " << s.quantity.DebugString();
    const Variant after = Vehicles(grid, s.order, s.item);
    EXPECT_EQ(s.want_quantities, Column(after, "QtTranspItGr"));
    EXPECT_EQ(s.want_free_weight, Column(after, "VRPESOUTIL"));
  }
}

// What a save stores is what another connection to the database reads
// back: a quantity moved from one vehicle to another, then a row saved
// again unchanged beside one that changes, each read by a server of its
// own on the same database.
TEST_P(ServerTest, ASavedEditIsWhatAnotherConnectionReadsBack) {
  const std::string grid = Distribute();  // P3/1: 4 units, on V1
  auto read_back = [&] {
    rdmGradeDistribuicao other(OpenStorage(db_.path()));
    std::vector<Variant> args = {kKey, Day("2025-06-10"), "0001", "P3", "1", grid};
    const Variant vehicles = other.Call("GetVeiculo", args);
    return Column(vehicles, "CDVIATURA") + " " + Column(vehicles, "QtTranspItGr") + " " +
           Column(vehicles, "VRPESOUTIL");
  };
  ASSERT_EQ("V1,V2 4,null 10,50", read_back());
  DataPacket moved = Vehicles(grid, "P3", "1").AsPacket();
  moved.rows[0][moved.FieldIndex("QtTranspItGr")] = Variant(1.0);
  moved.rows[1][moved.FieldIndex("QtTranspItGr")] = Variant(3.0);
  EXPECT_EQ("ok", Failure("SetGrade", {Variant(moved), 5.0, 0.05, "0001", grid, "ANA"}));
  EXPECT_EQ("V1,V2 1,3 25,35", read_back());
  DataPacket again = Vehicles(grid, "P3", "1").AsPacket();
  again.rows[1][again.FieldIndex("QtTranspItGr")] = Variant(2.5);
  again.rows[0][again.FieldIndex("QtTranspItGr")] = Variant(1.5);
  EXPECT_EQ("ok", Failure("SetGrade", {Variant(again), 5.0, 0.05, "0001", grid, "ANA"}));
  EXPECT_EQ("V1,V2 1.5,2.5 22.5,37.5", read_back());
  EXPECT_EQ(read_back(), Column(Vehicles(grid, "P3", "1"), "CDVIATURA") + " " +
                             Column(Vehicles(grid, "P3", "1"), "QtTranspItGr") + " " +
                             Column(Vehicles(grid, "P3", "1"), "VRPESOUTIL"));
}

// Quantities keep five decimals in storage and in the distribution: what the
// screen accepts is stored as typed, and a split saves again unchanged.
TEST_P(ServerTest, QuantitiesKeepFiveDecimalsThroughSaveAndDistribution) {
  // P3 weighs nothing here, so that it may go anywhere.
  ReseedItems({{"P1", "1", 10.4443, 10, 0.1}, {"P3", "1", 4, 0, 0}});
  DataPacket items = Items().AsPacket();
  const int order = items.FieldIndex("NRPEDIDO");
  std::erase_if(items.rows, [&](const auto& row) {
    return Str(row[order]) != "P1" && Str(row[order]) != "P3";
  });
  // 104,443 kg: ten units fill V1, the four-decimal remainder goes to V2.
  const std::string grid = Distribute("", Variant(items));
  EXPECT_EQ("10,0.4443", Column(Vehicles(grid, "P1", "1"), "QtTranspItGr"));

  const Variant split = WithQuantity(grid, "P3", "1", "V1", 1.11115);
  DataPacket both = split.AsPacket();
  both.rows[1][both.FieldIndex("QtTranspItGr")] = Variant(2.88885);
  EXPECT_EQ("ok", Failure("SetGrade", {Variant(both), 0.0, 0.0, "0001", grid, "ANA"}));
  const Variant stored = Vehicles(grid, "P3", "1");
  EXPECT_EQ("1.11115,2.88885", Column(stored, "QtTranspItGr"));
  EXPECT_EQ("ok", Failure("SetGrade", {stored, 0.0, 0.0, "0001", grid, "ANA"}));
  EXPECT_EQ("1.11115,2.88885", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr"));
  // Finer than five decimals is stored rounded half away from zero.
  EXPECT_EQ("ok", Failure("SetGrade", {WithQuantity(grid, "P3", "1", "V1", 1.111115), 0.0, 0.0,
                                       "0001", grid, "ANA"}));
  EXPECT_EQ("1.11112,2.88885", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr"));
}

// A save is checked by the rule the screen checked its rows with, on the free
// weight the vehicle list answers: what one accepts, the other accepts, also
// at the fourth decimal where rounding the whole load would judge otherwise.
TEST_P(ServerTest, SaveChecksEachRowByTheScreensRule) {
  ReseedItems({{"P2", "1", 1, 0.0004, 0}, {"P1", "1", 1, 0.0006, 0}, {"P3", "1", 100.0004, 1, 0}});
  const std::string grid = Str(Result("PrxNrGrade", {"0001"}));
  auto save = [&](const char* order, double quantity, double unit_weight) {
    return Failure("SetGrade", {WithQuantity(grid, order, "1", "V1", quantity), unit_weight, 0.0,
                                "0001", grid, "ANA"});
  };
  ASSERT_EQ("ok", save("P2", 1, 0.0004));
  EXPECT_EQ("99.9996,50", Column(Vehicles(grid, "P3", "1"), "VRPESOUTIL"));
  // 100,0004 kg where 99,9996 kg are free: both round to 100,000.
  ASSERT_TRUE(data::LoadFits(100.0004, 99.9996, 0));
  EXPECT_EQ("ok", save("P3", 100.0004, 1));
  EXPECT_EQ("ok", save("P3", 0, 1));

  ASSERT_EQ("ok", save("P2", 0, 0.0004));
  ASSERT_EQ("ok", save("P1", 1, 0.0006));
  // 99,9996 kg rounds to 100,000 against 99,999 free.
  ASSERT_FALSE(data::LoadFits(99.9996, 99.9994, 0));
  EXPECT_EQ(kItemWeightExceeded, save("P3", 99.9996, 1));
  EXPECT_EQ("null,null", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr"));
}

// The save's look-up of its rows' vehicles in the transporter's fleet: each
// code is flagged where it stands, a code given twice in both places, and a
// code of another fleet or in other letters is not the fleet's.
TEST_P(ServerTest, FleetLookUpFlagsEachCodeWhereItStands) {
  const detail::Transporter rodo{"J", "11222333000181"};
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    EXPECT_EQ((std::vector<bool>{true, false, false, true, true, false, false}),
              detail::InFleet(s, rodo, {"V2", "v1", "V9", "V1", "V2", "", "V10"}));
    EXPECT_EQ(std::vector<bool>{}, detail::InFleet(s, rodo, {}));
    EXPECT_EQ((std::vector<bool>{false}), detail::InFleet(s, {"J", "99"}, {"V1"}));
  });
}

// A row naming a vehicle outside the transporter's fleet is looked up on its
// own: a known vehicle of another fleet carrying nothing changes nothing.
TEST_P(ServerTest, SaveAcceptsAKnownVehicleOutsideTheFleetCarryingNothing) {
  const std::string grid = Distribute();  // P3/1: 4 units of 5 kg, on V1
  DataPacket p = Vehicles(grid, "P3", "1").AsPacket();
  p.rows[1][p.FieldIndex("CDVIATURA")] = Variant("V9");
  EXPECT_EQ("ok", Failure("SetGrade", {Variant(p), 5.0, 0.05, "0001", grid, "ANA"}));
  EXPECT_EQ("4,null", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr"));
}

// A save may only say of its item what the grid stored: the rows are checked
// against the item as the distribution left it, and a refused save changes
// nothing.
TEST_P(ServerTest, SaveIsCheckedAgainstTheStoredItem) {
  const std::string grid = Distribute();  // P3/1: 4 units of 5 kg, on V1
  auto rows = [&](std::function<void(DataPacket&)> change) {
    DataPacket p = Vehicles(grid, "P3", "1").AsPacket();
    change(p);
    return Variant(p);
  };
  auto cell = [](DataPacket& p, int row, const char* field, Variant value) {
    p.rows[row][p.FieldIndex(field)] = std::move(value);
  };
  const std::string item = "SetGrade: item P3 / 1: ";
  struct Case {
    std::string name;
    Variant packet, unit_weight, unit_volume;
    std::string want;
  } cases[] = {
      {"no weight for many units",
       rows([&](DataPacket& p) { cell(p, 1, "QtTranspItGr", Variant(100000.0)); }), 0.0, 0.05,
       item + "the unit weight is 0, the item's is 5"},
      {"another volume", rows([](DataPacket&) {}), 5.0, 0.5,
       item + "the unit volume is 0.5, the item's is 0.05"},
      {"more than the item holds",
       rows([&](DataPacket& p) { cell(p, 1, "QtTranspItGr", Variant(5.0)); }), 5.0, 0.05,
       "SetGrade: the vehicles would carry 9,00000 of item P3 / 1, more than its 4,00000 to "
       "dispatch"},
      {"another delivery day", rows([&](DataPacket& p) {
         cell(p, 0, "DTHRENTGRADE", Variant(data::DateTime::FromIso("1999-01-01")));
       }),
       5.0, 0.05, item + "vehicle V1 names the delivery day 1999-01-01, the item's is 2025-06-10"},
      {"another delivery day on a later row", rows([&](DataPacket& p) {
         cell(p, 1, "DTHRENTGRADE", Variant(data::DateTime::FromIso("1999-01-01")));
       }),
       5.0, 0.05, item + "vehicle V2 names the delivery day 1999-01-01, the item's is 2025-06-10"},
      {"an unknown vehicle carrying nothing",
       rows([&](DataPacket& p) { cell(p, 1, "CDVIATURA", Variant("V7")); }), 5.0, 0.05,
       "Veículo V7 não cadastrado."},
      {"an unknown vehicle carrying the item", rows([&](DataPacket& p) {
         cell(p, 0, "QtTranspItGr", Variant(3.0));
         cell(p, 1, "CDVIATURA", Variant("V7"));
         cell(p, 1, "QtTranspItGr", Variant(1.0));
       }),
       5.0, 0.05, "Veículo V7 não cadastrado."},
      {"an unknown vehicle that sorts before the fleet's",
       rows([&](DataPacket& p) { cell(p, 0, "CDVIATURA", Variant("A0")); }), 5.0, 0.05,
       "Veículo A0 não cadastrado."},
      {"a vehicle of the fleet in other letters",
       rows([&](DataPacket& p) { cell(p, 1, "CDVIATURA", Variant("v2")); }), 5.0, 0.05,
       "Veículo v2 não cadastrado."},
      {"another product", rows([&](DataPacket& p) { cell(p, 0, "CDPRODUTO", Variant("ZZ")); }), 5.0,
       0.05, item + "vehicle V1 names product ZZ, the item's is C"},
      {"a quantity beyond any dispatch",
       rows([&](DataPacket& p) { cell(p, 1, "QtTranspItGr", Variant(1e306)); }), 5.0, 0.05,
       "SetGrade: the quantity of vehicle V2 must be a number from 0 to 1000000000000, got "
       "1e+306"},
      {"a negative quantity",
       rows([&](DataPacket& p) { cell(p, 1, "QtTranspItGr", Variant(-1.0)); }), 5.0, 0.05,
       "SetGrade: the quantity of vehicle V2 must be a number from 0 to 1000000000000, got -1"},
      {"a negative unit weight", rows([](DataPacket&) {}), -5.0, 0.05,
       "SetGrade: argument 2 (VRPESOBRUTPR) must be a number from 0 to 1000000000000, got -5"},
      {"two items", rows([&](DataPacket& p) {
         cell(p, 1, "NRPEDIDO", Variant("P2"));
         cell(p, 1, "QtTranspItGr", Variant(1.0));
       }),
       5.0, 0.05, "SetGrade: the vehicle rows name two order items, P3 / 1 and P2 / 1"},
      {"an unknown item", rows([&](DataPacket& p) {
         for (std::size_t r = 0; r < p.rows.size(); ++r) cell(p, r, "NRITEMPED", Variant("9"));
       }),
       5.0, 0.05,
       "SetGrade: the order item P3 / 9 is neither in grid " + grid +
           " nor among the items of branch 0001"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.want,
              Failure("SetGrade", {c.packet, c.unit_weight, c.unit_volume, "0001", grid, "ANA"}))
        << c.name;
    EXPECT_EQ("4,null", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr")) << c.name;
  }
  // Empty unit weight and volume stand for the item's own; the item may be
  // split as it holds.
  const Variant split = rows([&](DataPacket& p) {
    cell(p, 0, "QtTranspItGr", Variant(1.5));
    cell(p, 1, "QtTranspItGr", Variant(2.5));
  });
  EXPECT_EQ("ok", Failure("SetGrade", {split, Variant(), Variant(), "0001", grid, "ANA"}));
  const Variant stored = Vehicles(grid, "P3", "1");
  EXPECT_EQ("1.5,2.5", Column(stored, "QtTranspItGr"));
  EXPECT_EQ("7.5,12.5", Column(stored, "VrPesTranspItGr"));
}

// The distribution refuses amounts no dispatch has, naming the item.
TEST_P(ServerTest, DistributionRefusesNegativeAndHugeAmounts) {
  struct Case {
    const char* field;
    double value;
    std::string want;
  } cases[] = {
      {"QTDEAEXP", -1, "QTDEAEXP must be a number from 0 to 1000000000000, got -1"},
      {"QTDEAEXP", 1e306, "QTDEAEXP must be a number from 0 to 1000000000000, got 1e+306"},
      {"VRPESOBRUTPR", -10, "VRPESOBRUTPR must be a number from 0 to 1000000000000, got -10"},
      {"VRVOLMED", 1e13, "VRVOLMED must be a number from 0 to 1000000000000, got 10000000000000"},
  };
  for (const Case& c : cases) {
    DataPacket items = Items().AsPacket();
    items.rows[0][items.FieldIndex(c.field)] = Variant(c.value);
    EXPECT_EQ("DistribuiQuantidades: item P1 / 1 " + c.want,
              Failure("DistribuiQuantidades",
                      {Variant(items), "IDCHECK = 'S'", kKey, "", "ANA", "0001"}));
  }
  EXPECT_EQ("", Column(Result("GetGradeporPedido", {"0001", "000001"}), "NRPEDIDO"));
}

TEST_P(ServerTest, ReturnFlagBelongsToTheVehicle) {
  const std::string grid = Distribute();
  DataPacket p = Vehicles(grid, "P1", "1").AsPacket();
  p.rows[0][p.FieldIndex("IDRETGRADEDISTR")] = Variant("T");
  Result("SetGrade", {Variant(p), 10.0, 0.1, "0001", grid, "ANA"});
  EXPECT_EQ("T,null", Column(Vehicles(grid, "P3", "1"), "IDRETGRADEDISTR"));
  const Variant points = Result("GetPontosRota", {"0001", grid, "V1", ""});
  EXPECT_EQ("F,C,C,C,R", Column(points, "TIPO"));
  EXPECT_EQ("Rod. B, km 2", Str(points.AsPacket().rows.back()[4]));

  // The route texts name the return point by its plain address; that point
  // wins over the flag, so the route goes back where the screen says.
  auto named = [&](const char* address) {
    const DataPacket p = Result("GetPontosRota", {"0001", grid, "V1", address}).AsPacket();
    const auto& r = p.rows.back();
    return Str(r[0]) + " " + Str(r[2]) + " " + Str(r[3]) + " " + Str(r[4]) + " " +
           (r[6].IsNull() ? "unplaced" : "placed");
  };
  EXPECT_EQ("R 0001 Filial 0001 Rua A, 1 placed", named("rua a  1"));
  EXPECT_EQ("R J11222333000181 Rodo Rod. B, km 2 placed", named("rod b  km 2"));
  EXPECT_EQ("R  Ponto de retorno rua sem cadastro unplaced", named("rua sem cadastro"));
}

TEST_P(ServerTest, SetPedidoCarroToggles) {
  const std::string grid = Distribute();
  Result("SetPedidoCarro", {"P3", "0001", "V2", grid});
  EXPECT_EQ("V1,V2=N,S", Marks(grid, "P3"));
  EXPECT_EQ("2,1",
            Column(Result("GetCarroPedido", {"P3", "0001", "11222333000181", grid}), "QTPEDIDOS"));
  EXPECT_EQ("null,4", Column(Vehicles(grid, "P3", "1"), "QtTranspItGr"));
  Result("SetPedidoCarro", {"P3", "0001", "V2", grid});
  EXPECT_EQ("V1,V2=N,N", Marks(grid, "P3"));
  Result("SetPedidoCarro", {"P3", "0001", "V1", grid});
  EXPECT_EQ("V1,V2=S,N", Marks(grid, "P3"));
  // Free weight in percent: V1 carries 90 of 100 kg, V2 nothing.
  EXPECT_EQ("10,100",
            Column(Result("GetCarroPedido", {"P3", "0001", "11222333000181", grid}), "VRPESOUTIL"));

  // 90 kg cannot all go on V2 (50 kg): nothing moves.
  EXPECT_EQ(kOrderWeightExceeded, Failure("SetPedidos", {"0001", "V2", grid}));
  EXPECT_EQ("V1,V2=S,N", Marks(grid, "P1"));
  EXPECT_EQ("Nenhum veículo selecionado.", Failure("SetPedidos", {"0001", "", grid}));
  EXPECT_EQ("O pedido P9 não pertence à grade " + grid + ".",
            Failure("SetPedidoCarro", {"P9", "0001", "V1", grid}));
}

TEST_P(ServerTest, RouteOrdersItemsAndItinerary) {
  const std::string grid = Distribute();
  EXPECT_EQ("C1,C2,C3", Column(Result("GetGradeRota", {grid, "V1", "0001"}), "CODIGO"));
  auto order = [&](const char* stop, const char* ord, const char* item, const char* status) {
    return Failure("SetGradeRota", {stop, ord, "V1", "0001", grid, item, "", status});
  };
  EXPECT_EQ("ok", order("  2", "P1", "1", "I"));
  EXPECT_EQ("ok", order("  2", "P1", "2", "I"));
  EXPECT_EQ("ok", order("  1", "P3", "1", "I"));
  EXPECT_EQ("Ordem já cadastrada.", order("001", "P2", "1", "I"));
  EXPECT_EQ("SetGradeRota: the row status must be \"I\" or \"E\", got \"X\"",
            order("  3", "P2", "1", "X"));
  const Variant route = Result("GetGradeRota", {grid, "V1", "0001"});
  EXPECT_EQ("C3,C1,C2", Column(route, "CODIGO"));
  EXPECT_EQ("  1,  2,null", Column(route, "NRORDENTREGRADE"));
  EXPECT_EQ("Mercado Três,Mercado Um,Mercado Dois", Column(route, "NOME"));
  EXPECT_EQ("Rua C3, 30,Rua C1, 10,null", Column(route, "ENDERECO"));
  EXPECT_EQ(grid + "," + grid + "," + grid, Column(route, "NRGRADEDISTR"));
  EXPECT_EQ("V1,V1,V1", Column(route, "CDVIATURA"));
  EXPECT_EQ("C3", Column(Result("GetVdOrdem", {"0001", grid, "V1", "001"}), "CODIGO"));
  EXPECT_EQ("", Column(Result("GetVdOrdem", {"0001", grid, "V1", "  3"}), "CODIGO"));
  EXPECT_EQ("1,2", Column(Result("GetItemGrade", {"0001", grid, "V1", "C1"}), "NRITEMPED"));
  EXPECT_EQ("C2", Column(Result("GetErro", {grid, "V1", "0001"}), "CODIGO"));
  EXPECT_EQ("", Column(Result("GetErro", {grid, "V2", "0001"}), "CODIGO"));
  EXPECT_EQ("F,C,C,C,R", Column(Result("GetPontosRota", {"0001", grid, "V1", ""}), "TIPO"));
  EXPECT_EQ("0001,C3,C1,C2,0001",
            Column(Result("GetPontosRota", {"0001", grid, "V1", ""}), "CODIGO"));

  Result("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "00:35", "Siga pela Rua A"});
  EXPECT_EQ("12,5 km", Column(Result("GetTotal", {"0001", grid, "V1"}), "DISTANCIA"));
  // The itinerary is stored once for the vehicle, not once per item it
  // carries: a call writes what it was sent, once.
  const std::string text(200'000, 'x');
  Result("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "00:35", text});
  Result("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "00:35", "Siga pela Rua A"});
  const Variant itinerary = Result("GetItinerario", {"0001", grid, "V1"});
  EXPECT_EQ("null", Column(itinerary, "NRPEDIDO")) << "one row, of no item";
  EXPECT_EQ("Siga pela Rua A", Column(itinerary, "DSITINERAGRADE"));
  Result("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "00:35", text});
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    const Row r = s.Query("SELECT COUNT(*), SUM(LENGTH(DSITINERAGRADE)) FROM ITINERARIO")[0];
    EXPECT_EQ(1, r[0].ToInt64());
    EXPECT_EQ(200'000, r[1].ToInt64());
  });

  DataPacket delta;
  delta.kind = DataPacket::Kind::Delta;
  delta.fields = itinerary.AsPacket().fields;
  delta.changes.push_back({data::RowState::Deleted, itinerary.AsPacket().rows[0], {}});
  Result("SetItinerario", {Variant(delta)});
  EXPECT_EQ(0u, Result("GetItinerario", {"0001", grid, "V1"}).AsPacket().rows.size());
  EXPECT_EQ("SetItinerario: a change log was expected, got a table",
            Failure("SetItinerario", {itinerary}));

  // Changing the allocations makes the stored routes obsolete.
  Result("SetRotaCalculada", {"0001", grid, "V1", "12,5 km", "00:35", "Siga pela Rua A"});
  Result("SetPedidoCarro", {"P3", "0001", "V2", grid});
  EXPECT_EQ(0u, Result("GetItinerario", {"0001", grid, "V1"}).AsPacket().rows.size());
  EXPECT_EQ("", Column(Result("GetTotal", {"0001", grid, "V1"}), "DISTANCIA"));
}

// A client without a record of its own is named as the grid's items name it,
// on the route tab and among the inconsistencies, whole grid or one vehicle.
TEST_P(ServerTest, AClientWithoutRecordIsNamedByTheGridsItems) {
  const std::string grid = Distribute();
  db_.storage()->Transact(TxKind::Write, [](Session& s) {
    s.Exec("DELETE FROM CLIENTE WHERE CDCLIENTE = 'C2'");
    s.Exec("UPDATE ITEMGRADE SET NMFANTCLIE = 'Empório Dois' WHERE CDCLIENTE = 'C2'");
  });
  const Variant route = Result("GetGradeRota", {grid, "V1", "0001"});
  EXPECT_EQ("C1,C2,C3", Column(route, "CODIGO"));
  EXPECT_EQ("Mercado Um,Empório Dois,Mercado Três", Column(route, "NOME"));
  for (const char* vehicle : {"", "V1"}) {
    const Variant errors = Result("GetErro", {grid, vehicle, "0001"});
    EXPECT_EQ("C2", Column(errors, "CODIGO")) << vehicle;
    EXPECT_EQ("Empório Dois", Column(errors, "NOME")) << vehicle;
  }
}

TEST_P(ServerTest, ManyClientsAtOnceGetDistinctNumbersAndLoseNoRow) {
  constexpr int kThreads = 6, kRounds = 5;
  std::vector<std::vector<std::string>> numbers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each client has its own connection, as each screen does.
      const std::unique_ptr<data::CallTransport> own = Transport();
      for (int r = 0; r < kRounds; ++r) {
        std::vector<Variant> args = {"0001"};
        const std::string grid = Str(own->Call(kServerName, "PrxNrGrade", args).result);
        numbers[t].push_back(grid);
        std::vector<Variant> vehicles = {
            "F12345678909", Day("2025-06-10"), "0001", "P3", "1", grid};
        DataPacket p = own->Call(kServerName, "GetVeiculo", vehicles).result.AsPacket();
        p.rows[0][p.FieldIndex("QtTranspItGr")] = Variant(1.0);
        std::vector<Variant> set = {Variant(p), 5.0, 0.05, "0001", grid, "ANA"};
        own->Call(kServerName, "SetGrade", set);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> distinct;
  for (const auto& list : numbers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(static_cast<std::size_t>(kThreads * kRounds), distinct.size());
  // Every stored row counts against V9: 30 rows of 5 kg.
  const Variant v9 =
      Result("GetVeiculo", {"F12345678909", Day("2025-06-10"), "0001", "P3", "1", ""});
  EXPECT_EQ("350", Column(v9, "VRPESOUTIL"));
}

}  // namespace
}  // namespace dg::server
