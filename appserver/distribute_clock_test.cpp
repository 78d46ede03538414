// The clock of a day on the server: a day without it is planned and printed
// as before; with it, a client no vehicle can reach within its window is
// still carried and named in the inconsistency list, windows that can be met
// are met, the manifest prints the planned times beside each window, and the
// suggested order says which of the clerk's numbers makes a stop late.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using testing::Column;
using testing::Str;

// Branch 0001 at the centre, clients N1..N3 about 10 km north and S1..S3
// about 10 km south (50, 25 and 25 kg on each side), two 100 kg trucks: each
// truck takes one side. `clock` adds to the clients and vehicles by code.
nlohmann::json Day(const std::map<std::string, nlohmann::json>& clock = {}) {
  nlohmann::json f = nlohmann::json::parse(R"({
    "FILIAL": [{"CDFILIAL": "0001", "ENDERECO": "Centro", "LATITUDE": -22.90,
                "LONGITUDE": -47.06}],
    "PARAMETROS": [{"CDFILIAL": "0001", "API": "", "QTMINPARADA": 10}],
    "TRANSPORT": [{"IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181", "NMFANTTRAN": "Rodo"}],
    "VEICULO": [
      {"CDVIATURA": "V1", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 100, "VRVOLUMEVIAT": 10,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"},
      {"CDVIATURA": "V2", "DSTIPOVEIC": "Truck", "QTCAPACIVIAT": 100, "VRVOLUMEVIAT": 10,
       "IDTPIJURTRAN": "J", "NRINSJURTRAN": "11222333000181"}],
    "CLIENTE": [], "ITEMPEDIDO": []
  })");
  struct Client {
    const char* code;
    double latitude, longitude, kg;
  };
  for (const Client& c : {Client{"N1", -22.81, -47.06, 50}, Client{"S1", -22.99, -47.06, 50},
                          Client{"N2", -22.80, -47.05, 25}, Client{"S2", -23.00, -47.05, 25},
                          Client{"N3", -22.80, -47.07, 25}, Client{"S3", -23.00, -47.07, 25}}) {
    f["CLIENTE"].push_back({{"CDCLIENTE", c.code},
                            {"NMFANTCLIE", std::string("Cliente ") + c.code},
                            {"ENDERECO", std::string("Rua ") + c.code},
                            {"LATITUDE", c.latitude},
                            {"LONGITUDE", c.longitude}});
    f["ITEMPEDIDO"].push_back({{"NRPEDIDO", std::string("P") + c.code},
                               {"NRITEMPED", "1"},
                               {"CDFILIAL", "0001"},
                               {"CDCLIENTE", c.code},
                               {"CDPRODUTO", "A"},
                               {"QTDEAEXP", 1},
                               {"VRPESOBRUTPR", c.kg},
                               {"VRVOLMED", 0.1},
                               {"IDCHECK", "S"},
                               {"IDPRIOPED", "1"},
                               {"DTENTPED", "2025-06-10"}});
  }
  for (const char* table : {"CLIENTE", "VEICULO"}) {
    for (auto& row : f[table]) {
      const std::string code = row.contains("CDCLIENTE") ? row["CDCLIENTE"] : row["CDVIATURA"];
      if (const auto it = clock.find(code); it != clock.end()) row.update(it->second);
    }
  }
  return f;
}

const nlohmann::json kEightOClock = {{"HRINICIOJORN", "08:00"}};

class DistributeWithClock : public ::testing::Test {
 protected:
  void Load(const nlohmann::json& fixture) { LoadFixture(*db_.storage(), fixture); }
  data::Variant Call(const char* method, std::vector<data::Variant> args) {
    return object_.Call(method, args);
  }
  // Distributes every item of branch 0001 into grid_ (a new one the first
  // time); the answer's inconsistency list as "CODE: NAME" lines.
  std::vector<std::string> Distribute() {
    const data::Variant items = Call("GetItensExpedicao", {data::Variant("0001")});
    std::vector<data::Variant> args = {items, "IDCHECK = 'S'", "J11222333000181",
                                       grid_, "ANA",           "0001"};
    const data::Variant answer = object_.Call("DistribuiQuantidades", args);
    grid_ = Str(args[3]);
    std::vector<std::string> listed;
    for (const auto& row : answer.AsArray()[1].AsPacket().rows) {
      listed.push_back(Str(row[0]) + ": " + Str(row[1]));
    }
    return listed;
  }
  // vehicle|client|quantity|stop of every allocation.
  std::string Allocations() {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      out.clear();
      for (const Row& r : s.Query("SELECT CDVIATURA, CDCLIENTE, QTTRANSP, NRORDENTREGRADE FROM "
                                  "ALOCGRADE ORDER BY CDCLIENTE, CDVIATURA")) {
        out += Str(r[0]) + "|" + Str(r[1]) + "|" + Str(r[2]) + "|" + Str(r[3]) + "\n";
      }
    });
    return out;
  }
  std::string VehicleOf(const std::string& client) {
    std::string out;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      out = Str(
          s.Query("SELECT CDVIATURA FROM ALOCGRADE WHERE CDCLIENTE = ?", {Value(client)})[0][0]);
    });
    return out;
  }
  data::VariantArray Manifest() {
    return Call("GetRomaneio", {data::Variant("0001"), data::Variant(grid_)}).AsArray();
  }
  // One field of the manifest's line of `client`.
  std::string LineField(const data::VariantArray& manifest, const std::string& client,
                        const char* field) {
    const data::DataPacket& lines = manifest[2].AsPacket();
    for (const auto& row : lines.rows) {
      if (Str(row[lines.FieldIndex("CDCLIENTE")]) == client) {
        const data::Variant& v = row[lines.FieldIndex(field)];
        return v.IsNumeric() ? std::to_string(static_cast<long>(v.ToDouble())) : Str(v);
      }
    }
    return "<no line of " + client + ">";
  }

  testing::TempDatabase db_;
  rdmGradeDistribuicao object_{db_.storage()};
  std::string grid_;
};

// Unloading times alone constrain nothing: the day is planned by distance,
// no stop gets a number, and nothing prints times.
TEST_F(DistributeWithClock, ADayWithoutWindowsOrWorkingDaysIsPlannedAndPrintedAsBefore) {
  Load(Day({{"N1", {{"QTMINPARADA", 30}}}}));
  EXPECT_EQ(Distribute(), std::vector<std::string>{});
  const std::string allocations = Allocations();
  EXPECT_EQ(allocations.find("|001\n"), std::string::npos) << allocations;
  EXPECT_NE(VehicleOf("N1"), VehicleOf("S1"));
  EXPECT_EQ(VehicleOf("N1"), VehicleOf("N2"));
  const data::VariantArray manifest = Manifest();
  EXPECT_EQ(Column(manifest[1], "HRSAIDA"), "null,null");
  EXPECT_EQ(Column(manifest[2], "HRCHEGADA"), "null,null,null,null,null,null");
}

// The trucks start at 08:00 and N1 receives from 06:00 to 07:00: no vehicle
// can make it. N1 is still carried, on its side's truck, and listed with its
// window and planned arrival; the manifest prints the times; distributing
// again gives the same plan.
TEST_F(DistributeWithClock, AWindowNoVehicleCanMeetIsListedAndTheOrderStillCarried) {
  Load(Day({{"V1", kEightOClock}, {"V2", kEightOClock}, {"N1", {{"HRJANELA1", "06:00-07:00"}}}}));
  const std::vector<std::string> listed = Distribute();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].rfind("N1: janela 06:00-07:00, chegada 08:", 0), 0u) << listed[0];

  const std::string allocations = Allocations();
  EXPECT_EQ(std::count(allocations.begin(), allocations.end(), '\n'), 6) << allocations;
  EXPECT_EQ(allocations.find("||"), std::string::npos) << "every stop numbered\n" << allocations;
  // Numbered as the clerk's typed numbers are stored, so that both read
  // alike in the route grid.
  EXPECT_NE(allocations.find("|001\n"), std::string::npos) << allocations;
  EXPECT_EQ(allocations.find("|0|"), std::string::npos) << allocations;
  EXPECT_EQ(Distribute(), listed);
  EXPECT_EQ(Allocations(), allocations);

  const data::VariantArray manifest = Manifest();
  EXPECT_EQ(Column(manifest[1], "HRSAIDA"), "08:00,08:00");
  EXPECT_EQ(LineField(manifest, "N1", "DSJANELA"), "06:00-07:00");
  EXPECT_EQ(LineField(manifest, "N1", "HRCHEGADA").substr(0, 3), "08:");
  EXPECT_GT(std::stol(LineField(manifest, "N1", "NRMINATRASO")), 60);
  EXPECT_EQ(LineField(manifest, "N2", "DSJANELA"), "");
  EXPECT_EQ(LineField(manifest, "N2", "NRMINATRASO"), "0");
  // Each stop's departure is its arrival and ten minutes of unloading (the
  // branch's default), and the truck is back after its last stop.
  EXPECT_LT(LineField(manifest, "N2", "HRCHEGADA"), LineField(manifest, "N2", "HRSAIDA"));
  const std::string back = Column(manifest[1], "HRRETORNO");
  EXPECT_EQ(back.size(), 11u) << back;
}

// Windows that a plan can keep are kept: S2 opens at 09:00, so its truck
// waits and unloads after nine; nothing is listed.
TEST_F(DistributeWithClock, WindowsThatCanBeMetAreMet) {
  Load(Day({{"V1", kEightOClock},
            {"V2", kEightOClock},
            {"N1", {{"HRJANELA1", "08:00-08:40"}}},
            {"S1", {{"HRJANELA1", "08:00-08:40"}}},
            {"S2", {{"HRJANELA1", "09:00-10:00"}, {"HRJANELA2", "13:00-17:00"}}}}));
  EXPECT_EQ(Distribute(), std::vector<std::string>{});
  const data::VariantArray manifest = Manifest();
  EXPECT_EQ(Column(manifest[2], "NRMINATRASO"), "0,0,0,0,0,0");
  EXPECT_EQ(LineField(manifest, "S2", "DSJANELA"), "09:00-10:00 e 13:00-17:00");
  EXPECT_GE(LineField(manifest, "S2", "HRSAIDA"), "09:10");
  EXPECT_LE(LineField(manifest, "N1", "HRCHEGADA"), "08:40");
  EXPECT_LE(LineField(manifest, "S1", "HRCHEGADA"), "08:40");
}

// The clerk numbers N1 third on its truck: the suggestion keeps the number
// and says by how many minutes N1 then misses its window; the stops it
// numbers itself are on time.
TEST_F(DistributeWithClock, TheSuggestedOrderSaysWhichNumberedStopIsLateAndByHowMuch) {
  Load(Day({{"V1", kEightOClock}, {"V2", kEightOClock}, {"N1", {{"HRJANELA1", "08:00-08:30"}}}}));
  EXPECT_EQ(Distribute(), std::vector<std::string>{});
  const std::string truck = VehicleOf("N1");
  db_.storage()->Transact(TxKind::Write, [&](Session& s) {
    s.Exec(
        "UPDATE ALOCGRADE SET NRORDENTREGRADE = CASE CDCLIENTE WHEN 'N1' THEN '3' ELSE NULL "
        "END WHERE CDVIATURA = ?",
        {Value(truck)});
  });
  const data::Variant suggested =
      Call("GetOrdemSugerida", {data::Variant("0001"), data::Variant(grid_), data::Variant(truck)});
  const std::string clients = Column(suggested, "CODIGO");
  const std::string late = Column(suggested, "NRMINATRASO");
  EXPECT_EQ(Column(suggested, "NRORDSUGERIDA"), "1,2,3");
  ASSERT_EQ(clients.substr(6), "N1") << clients;
  EXPECT_EQ(late.substr(0, 4), "0,0,") << late;
  EXPECT_GT(std::stod(late.substr(4)), 0) << late;
  EXPECT_EQ(Column(suggested, "JANELA"), "null,null,08:00-08:30");
}

}  // namespace
}  // namespace dg::server
