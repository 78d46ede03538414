// The reads the clerk repeats most (an item's vehicles, an order's vehicles,
// a vehicle's stops, the inconsistencies) answer what the plain statements
// below say: each of those reads is now one statement with its look-ups
// folded in, and these statements are the straightforward form, kept here
// as the reference (the inconsistencies and the order's vehicles as the
// whole packet the earlier statements built, compared byte for byte). On
// the small and the demonstration fixtures, after a distribution, saves,
// numbered stops, turned flags and clients without record, name or address.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "appserver/grade_queries.h"
#include "appserver/grade_support.h"
#include "appserver/testing/test_support.h"
#include "planning/packing.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::DateTime;
using data::Variant;
using namespace testing;
using detail::RouteStops;
using detail::S;
using detail::Stop;

std::string Text(const Value& v) { return v.IsNull() ? "null" : v.ToString(); }

// The inconsistencies as three statements read them: the clients of the
// grid's allocations, the names the items carry (only when a client without
// address has no registered name), the branch's row.
Variant ReferenceErrors(Session& s, const std::string& grid, const std::string& vehicle,
                        const std::string& branch) {
  detail::PacketBuilder p;
  p.Str("CODIGO", 21).Str("NOME", 50);
  if (grid.empty()) return p.Build();
  auto where = [&](const std::string& of) {
    return " WHERE " + of + "CDFILIAL = ? AND " + of + "NRGRADEDISTR = ?" +
           (vehicle.empty() ? "" : " AND " + of + "CDVIATURA = ?");
  };
  std::vector<Value> params = {Value(branch), Value(grid)};
  if (!vehicle.empty()) params.push_back(Value(vehicle));
  auto clients = s.Query(
      "SELECT a.CDCLIENTE, c.NMFANTCLIE, c.ENDERECO FROM (SELECT DISTINCT CDCLIENTE FROM "
      "ALOCGRADE" +
          where("") + ") a LEFT JOIN CLIENTE c ON c.CDCLIENTE = a.CDCLIENTE ORDER BY a.CDCLIENTE",
      params);
  if (clients.empty()) return p.Build();
  auto blank = [](const std::string& text) {
    return text.find_first_not_of(' ') == std::string::npos;
  };
  std::map<std::string, std::string> item_names;
  for (const Row& r : s.Query(std::string("SELECT a.CDCLIENTE, ") + detail::kItemClientName +
                                  " FROM ALOCGRADE a" + where("a.") + " GROUP BY a.CDCLIENTE",
                              params)) {
    item_names[S(r[0])] = S(r[1]);
  }
  auto branch_rows =
      s.Query("SELECT NMFILIAL, ENDERECO FROM FILIAL WHERE CDFILIAL = ?", {Value(branch)});
  if (branch_rows.empty() || blank(S(branch_rows[0][1]))) {
    const std::string name = branch_rows.empty() ? "" : S(branch_rows[0][0]);
    p.Add({Variant(branch), Variant(name.empty() ? "Filial " + branch : name)});
  }
  for (const Row& r : clients) {
    if (S(r[0]).empty() || !blank(S(r[2]))) continue;
    p.Add({Variant(S(r[0])), Variant(S(r[1]).empty() ? item_names[S(r[0])] : S(r[1]))});
  }
  return p.Build();
}

// An order's vehicles as two statements read them: the order's delivery day
// (the grid's first day for an order the grid does not hold), then the fleet
// with its load of that day.
Variant ReferenceOrderVehicles(Session& s, const std::string& order, const std::string& branch,
                               const std::string& inscription, const std::string& grid) {
  detail::PacketBuilder p;
  p.Str("IDMARCADO", 1, true)
      .Str("CDVIATURA", 4)
      .Str("DSTIPOVEIC", 50)
      .Dbl("QTCAPACIVIAT")
      .Dbl("VRVOLUMEVIAT")
      .Dbl("VRPESOUTIL")
      .Dbl("VRVOLUMEUTIL")
      .Dbl("QTPEDIDOS");
  auto day_rows = s.Query(
      "SELECT MIN(DTENTREGA) FROM ITEMGRADE WHERE CDFILIAL = ? AND "
      "NRGRADEDISTR = ? AND NRPEDIDO = ?",
      {Value(branch), Value(grid), Value(order)});
  if (day_rows[0][0].IsNull()) {
    day_rows = s.Query(
        "SELECT MIN(DTENTREGA) FROM ITEMGRADE WHERE CDFILIAL = ? AND "
        "NRGRADEDISTR = ?",
        {Value(branch), Value(grid)});
  }
  const std::string day = S(day_rows[0][0]);
  auto percent = [](double part, double whole) {
    return whole > 0 ? planning::Round3(part / whole * 100) : 0;
  };
  for (const Row& v : s.Query("SELECT CDVIATURA, DSTIPOVEIC, QTCAPACIVIAT, VRVOLUMEVIAT FROM "
                              "VEICULO WHERE NRINSJURTRAN = ? ORDER BY CDVIATURA",
                              {Value(inscription)})) {
    const Value code = v[0];
    const auto load = s.Query(
        "SELECT VRPESO, VRVOLUME FROM CARGAVEICULO WHERE CDVIATURA = ? AND "
        "DTENTREGA = ?",
        {code, Value(day)});
    const auto orders = s.Query(
        "SELECT QTPEDIDOS FROM GRADEVEICULO WHERE CDFILIAL = ? AND "
        "NRGRADEDISTR = ? AND CDVIATURA = ?",
        {Value(branch), Value(grid), code});
    const bool carries = !s.Query(
                               "SELECT 1 FROM ALOCGRADE WHERE CDFILIAL = ? AND "
                               "NRGRADEDISTR = ? AND CDVIATURA = ? AND NRPEDIDO = ?",
                               {Value(branch), Value(grid), code, Value(order)})
                              .empty();
    const double weight = detail::D(v[2]), volume = detail::D(v[3]);
    const double used_weight = load.empty() ? 0 : detail::D(load[0][0]);
    const double used_volume = load.empty() ? 0 : detail::D(load[0][1]);
    p.Add({Variant(carries ? "S" : "N"), Variant(S(code)), Variant(S(v[1])), Variant(weight),
           Variant(volume), Variant(percent(weight - used_weight, weight)),
           Variant(percent(volume - used_volume, volume)),
           Variant(orders.empty() ? 0.0 : detail::D(orders[0][0]))});
  }
  return p.Build();
}

class ReadAnswersTest : public ::testing::TestWithParam<std::tuple<const char*, Backend>> {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    const std::string fixture = std::get<0>(GetParam());
    if (fixture == "demo") {
      const char* root = std::getenv("EXP_SOURCE_DIR");
      LoadFixtureFile(*db_.storage(), std::string(root ? root : ".") + "/fixtures/demo.json");
    } else {
      LoadFixture(*db_.storage(), SmallFixture());
    }
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      const Row r = s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN FROM VEICULO "
                            "ORDER BY CDVIATURA")[0];
      transporter_ = S(r[0]) + S(r[1]);
    });
    std::vector<Variant> args = {Call("GetItensExpedicao", {"0001"}), "IDCHECK = 'S'",
                                 transporter_, "", "ANA", "0001"};
    object_->Call("DistribuiQuantidades", args);
    grid_ = Str(args[3]);
  }

  Variant Call(const std::string& method, std::vector<Variant> args) {
    return object_->Call(method, args);
  }

  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params) {
    std::vector<Row> rows;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql, params); });
    return rows;
  }

  // The grid in the shapes a day's work leaves: one stop numbered on every
  // vehicle, every other vehicle's flag turned, a client without record
  // (named by the items), one with a blank name, one without address.
  void Disorder() {
    int n = 0;
    for (const Row& r : Query("SELECT CDVIATURA, MIN(NRPEDIDO), MIN(NRITEMPED) FROM ALOCGRADE "
                              "WHERE NRGRADEDISTR = ? GROUP BY CDVIATURA ORDER BY CDVIATURA",
                              {Value(grid_)})) {
      Call("SetGradeRota", {std::to_string(++n % 3 + 1), S(r[1]), S(r[0]), "0001", grid_,
                            S(r[2]), "A", "I"});
      if (n % 2 == 0) continue;
      db_.storage()->Transact(TxKind::Write, [&](Session& s) {
        detail::SetVehicleFlag(s, "0001", grid_, S(r[0]), "T");
      });
    }
    const std::vector<Row> clients =
        Query("SELECT DISTINCT CDCLIENTE FROM ALOCGRADE WHERE NRGRADEDISTR = ? ORDER BY CDCLIENTE",
              {Value(grid_)});
    ASSERT_GE(clients.size(), 3u);
    db_.storage()->Transact(TxKind::Write, [&](Session& s) {
      s.Exec("DELETE FROM CLIENTE WHERE CDCLIENTE = ?", {clients[0][0]});
      s.Exec("UPDATE ITEMGRADE SET NMFANTCLIE = 'Empório' WHERE CDCLIENTE = ?", {clients[0][0]});
      s.Exec("UPDATE CLIENTE SET NMFANTCLIE = '' WHERE CDCLIENTE = ?", {clients[1][0]});
      s.Exec("UPDATE CLIENTE SET ENDERECO = NULL, LATITUDE = NULL WHERE CDCLIENTE = ?",
             {clients[2][0]});
    });
  }

  std::vector<std::string> Fleet() {
    std::vector<std::string> out;
    for (const Row& r : Query("SELECT CDVIATURA FROM VEICULO WHERE IDTPIJURTRAN = ? AND "
                              "NRINSJURTRAN = ? ORDER BY CDVIATURA",
                              {Value(transporter_.substr(0, 1)), Value(transporter_.substr(1))})) {
      out.push_back(S(r[0]));
    }
    return out;
  }

  // The vehicle's stops as the statement per allocation row says them.
  std::string ReferenceStops(const std::string& vehicle) {
    std::map<std::string, std::string> by_client;
    for (const Row& r : Query(
             std::string("SELECT a.CDCLIENTE, MIN(a.NRORDENTREGRADE), MAX(a.IDRETGRADEDISTR), "
                         "MAX(c.NMFANTCLIE), ") +
                 detail::kItemClientName +
                 ", MAX(c.IDTPIJURCLIE), MAX(c.ENDERECO), MAX(c.CEP), MAX(c.LATITUDE), "
                 "MAX(c.LONGITUDE) FROM ALOCGRADE a LEFT JOIN CLIENTE c ON "
                 "c.CDCLIENTE = a.CDCLIENTE WHERE a.CDFILIAL = ? AND a.NRGRADEDISTR = ? AND "
                 "a.CDVIATURA = ? GROUP BY a.CDCLIENTE",
             {Value("0001"), Value(grid_), Value(vehicle)})) {
      const std::string name = S(r[3]).empty() ? S(r[4]) : S(r[3]);
      by_client[S(r[0])] = S(r[0]) + "|" + S(r[1]) + "|" + name + "|" + S(r[5]) + "|" + S(r[6]) +
                           "|" + S(r[7]) + "|" + S(r[2]) + "|" + Text(r[8]) + "|" + Text(r[9]);
    }
    std::ostringstream out;
    for (const auto& [client, line] : by_client) out << line << "\n";
    return out.str();
  }

  std::string Stops(const std::string& vehicle) {
    std::map<std::string, std::string> by_client;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const Stop& st : RouteStops(s, "0001", grid_, vehicle)) {
        by_client[st.client] = st.client + "|" + st.order + "|" + st.name + "|" +
                               st.person_type + "|" + st.address + "|" + st.zip + "|" + st.flag +
                               "|" + Text(st.latitude) + "|" + Text(st.longitude);
      }
    });
    std::ostringstream out;
    for (const auto& [client, line] : by_client) out << line << "\n";
    return out.str();
  }

  TempDatabase db_{std::get<1>(GetParam())};
  std::shared_ptr<rdmGradeDistribuicao> object_;
  std::string transporter_, grid_;
};

INSTANTIATE_TEST_SUITE_P(FixturesAndDatabases, ReadAnswersTest,
                         ::testing::Combine(::testing::Values("small", "demo"),
                                            ::testing::Values(Backend::Sqlite, Backend::Postgres)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) +
                                  BackendName(std::get<1>(info.param));
                         });

TEST_P(ReadAnswersTest, EveryVehiclesStopsAsThePlainStatementSaysThem) {
  Disorder();
  for (const std::string& vehicle : Fleet()) {
    EXPECT_EQ(ReferenceStops(vehicle), Stops(vehicle)) << vehicle;
  }
  // Numbered stops come first, by number: the order the route tab shows.
  for (const std::string& vehicle : Fleet()) {
    std::vector<std::string> numbered;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const Stop& st : RouteStops(s, "0001", grid_, vehicle)) {
        if (!st.order.empty()) numbered.push_back(st.order);
      }
    });
    EXPECT_TRUE(std::is_sorted(numbered.begin(), numbered.end())) << vehicle;
  }
}

// Each item's vehicles carry the item's own allocation on the vehicle that
// holds it and nothing on the others; each order's vehicles are marked
// exactly where an allocation of the order is.
TEST_P(ReadAnswersTest, ItemAndOrderVehiclesMatchTheAllocations) {
  Disorder();
  const std::vector<Row> items =
      Query("SELECT DISTINCT NRPEDIDO, NRITEMPED, DTENTREGA FROM ITEMGRADE WHERE "
            "NRGRADEDISTR = ? ORDER BY NRPEDIDO, NRITEMPED",
            {Value(grid_)});
  ASSERT_FALSE(items.empty());
  std::set<std::string> orders;
  for (const Row& item : items) {
    orders.insert(S(item[0]));
    const DataPacket p =
        Call("GetVeiculo", {transporter_, Variant(DateTime::FromIso(S(item[2]))), "0001",
                            S(item[0]), S(item[1]), grid_})
            .AsPacket();
    const Row stored = Query("SELECT CDPRODUTO, CDROTATRANS FROM ITEMGRADE WHERE CDFILIAL = "
                             "'0001' AND NRGRADEDISTR = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
                             {Value(grid_), item[0], item[1]})[0];
    std::map<std::string, Row> carried;
    for (const Row& r :
         Query("SELECT CDVIATURA, QTTRANSP, IDRETGRADEDISTR, CDOPERLANCGRAD, CDROTATRANS "
               "FROM ALOCGRADE "
               "WHERE CDFILIAL = '0001' AND NRGRADEDISTR = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
               {Value(grid_), item[0], item[1]})) {
      carried[S(r[0])] = r;
    }
    ASSERT_EQ(Fleet().size(), p.rows.size());
    std::size_t seen = 0;
    for (const auto& row : p.rows) {
      const std::string code = Str(row[p.FieldIndex("CDVIATURA")]);
      const auto at = carried.find(code);
      const std::string what = S(item[0]) + "/" + S(item[1]) + " " + code;
      EXPECT_EQ(S(stored[0]), Str(row[p.FieldIndex("CDPRODUTO")])) << what;
      const std::string route =
          at != carried.end() && !S(at->second[4]).empty() ? S(at->second[4]) : S(stored[1]);
      EXPECT_EQ(route, Str(row[p.FieldIndex("CDROTATRANS")])) << what;
      if (at == carried.end()) {
        EXPECT_TRUE(row[p.FieldIndex("QtTranspItGr")].IsEmptyOrNull()) << what;
        EXPECT_TRUE(row[p.FieldIndex("CDOPERLANCGRAD")].IsEmptyOrNull()) << what;
        continue;
      }
      ++seen;
      EXPECT_DOUBLE_EQ(at->second[1].ToDouble(), row[p.FieldIndex("QtTranspItGr")].ToDouble())
          << what;
      EXPECT_EQ(S(at->second[2]), Str(row[p.FieldIndex("IDRETGRADEDISTR")])) << what;
      EXPECT_EQ(S(at->second[3]), Str(row[p.FieldIndex("CDOPERLANCGRAD")])) << what;
    }
    EXPECT_EQ(carried.size(), seen) << S(item[0]) << "/" << S(item[1]);
  }
  // An item the grid does not hold is named as the branch's items hold it
  // (the small fixture leaves one out of the distribution).
  for (const Row& outside :
       Query("SELECT NRPEDIDO, NRITEMPED, CDPRODUTO FROM ITEMPEDIDO WHERE NOT EXISTS (SELECT 1 "
             "FROM ITEMGRADE i WHERE i.NRPEDIDO = ITEMPEDIDO.NRPEDIDO AND i.NRITEMPED = "
             "ITEMPEDIDO.NRITEMPED)",
             {})) {
    const DataPacket loose =
        Call("GetVeiculo", {transporter_, Variant(DateTime::FromIso("2025-06-10")), "0001",
                            S(outside[0]), S(outside[1]), grid_})
            .AsPacket();
    ASSERT_EQ(Fleet().size(), loose.rows.size());
    for (const auto& row : loose.rows) {
      EXPECT_EQ(S(outside[2]), Str(row[loose.FieldIndex("CDPRODUTO")]));
      EXPECT_TRUE(row[loose.FieldIndex("QtTranspItGr")].IsEmptyOrNull());
    }
  }

  for (const std::string& order : orders) {
    std::set<std::string> expected;
    for (const Row& r : Query("SELECT CDVIATURA FROM ALOCGRADE WHERE CDFILIAL = '0001' AND "
                              "NRGRADEDISTR = ? AND NRPEDIDO = ?",
                              {Value(grid_), Value(order)})) {
      expected.insert(S(r[0]));
    }
    const DataPacket p =
        Call("GetCarroPedido", {order, "0001", transporter_.substr(1), grid_}).AsPacket();
    std::set<std::string> marked;
    for (const auto& row : p.rows) {
      if (Str(row[p.FieldIndex("IDMARCADO")]) == "S") {
        marked.insert(Str(row[p.FieldIndex("CDVIATURA")]));
      } else {
        EXPECT_EQ("N", Str(row[p.FieldIndex("IDMARCADO")])) << order;
      }
    }
    EXPECT_EQ(expected, marked) << order;
  }
}

// The inconsistencies (of each vehicle and of the whole grid) and each
// order's vehicles (an order of the grid, one the grid does not hold, a grid
// without items) are the very packets the plain statements build, through
// the clients' and the branch's cases: no record, a blank name, no address,
// the branch with an address, without one, without a name, without a row.
TEST_P(ReadAnswersTest, ErrorsAndOrderVehiclesAreThePlainStatementsPacketsToTheByte) {
  Disorder();
  const std::vector<Row> orders =
      Query("SELECT DISTINCT NRPEDIDO FROM ITEMGRADE WHERE NRGRADEDISTR = ? ORDER BY NRPEDIDO",
            {Value(grid_)});
  ASSERT_FALSE(orders.empty());
  const std::string inscription = transporter_.substr(1);
  int listed = 0;
  auto compare = [&](const std::string& state) {
    std::vector<std::string> vehicles = Fleet();
    vehicles.push_back("");
    for (const std::string& vehicle : vehicles) {
      const Variant answer = Call("GetErro", {grid_, vehicle, "0001"});
      Variant reference;
      db_.storage()->Transact(TxKind::Read, [&](Session& s) {
        reference = ReferenceErrors(s, grid_, vehicle, "0001");
      });
      EXPECT_EQ(data::EncodePacket(reference.AsPacket()), data::EncodePacket(answer.AsPacket()))
          << state << ", vehicle '" << vehicle << "'";
      listed += static_cast<int>(answer.AsPacket().rows.size());
    }
    std::vector<std::pair<std::string, std::string>> asked;
    for (const Row& r : orders) asked.emplace_back(S(r[0]), grid_);
    asked.emplace_back("999999", grid_);
    asked.emplace_back(S(orders[0][0]), "999999");
    for (const auto& pair : asked) {
      const std::string& order = pair.first;
      const std::string& grid = pair.second;
      const Variant answer = Call("GetCarroPedido", {order, "0001", inscription, grid});
      Variant reference;
      db_.storage()->Transact(TxKind::Read, [&](Session& s) {
        reference = ReferenceOrderVehicles(s, order, "0001", inscription, grid);
      });
      EXPECT_EQ(data::EncodePacket(reference.AsPacket()), data::EncodePacket(answer.AsPacket()))
          << state << ", order " << order << " of grid " << grid;
    }
  };
  compare("branch with an address");
  EXPECT_GT(listed, 0);
  const std::vector<Row> clients =
      Query("SELECT DISTINCT CDCLIENTE FROM ALOCGRADE WHERE NRGRADEDISTR = ? ORDER BY CDCLIENTE",
            {Value(grid_)});
  auto write = [&](const std::string& sql, const std::vector<Value>& params) {
    db_.storage()->Transact(TxKind::Write, [&](Session& s) { s.Exec(sql, params); });
  };
  // The client with a blank name loses its address too (blanks only): its
  // name comes from the items.
  write("UPDATE CLIENTE SET ENDERECO = '   ' WHERE CDCLIENTE = ?", {clients[1][0]});
  write("UPDATE FILIAL SET ENDERECO = '  ' WHERE CDFILIAL = '0001'", {});
  listed = 0;
  compare("branch with a blank address");
  EXPECT_GT(listed, 0);
  write("UPDATE FILIAL SET NMFILIAL = NULL, ENDERECO = NULL WHERE CDFILIAL = '0001'", {});
  compare("branch without name or address");
  write("DELETE FROM FILIAL WHERE CDFILIAL = '0001'", {});
  compare("branch without a row");
}

}  // namespace
}  // namespace dg::server
