// Every text argument is bounded by its field, and a refused call writes
// nothing: no grid, no journal row, no growth of the database.
#include "appserver/argument_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

int Rows(Storage& storage, const char* table) {
  int n = 0;
  storage.Transact(TxKind::Read, [&](Session& s) {
    n = static_cast<int>(s.Query(std::string("SELECT * FROM ") + table).size());
  });
  return n;
}

// The argument count each method takes, from its refusal of none.
int ArgumentCount(rdmGradeDistribuicao& object, const std::string& method) {
  std::vector<Variant> none;
  try {
    object.Call(method, none);
  } catch (const Error& e) {
    std::smatch m;
    const std::string text = e.what();
    if (std::regex_search(text, m, std::regex(R"(expected (\d+) arguments?)"))) {
      return std::stoi(m[1]);
    }
  }
  return 0;
}

TEST(ArgumentRules, EveryArgumentOfEveryMethodNamesItsField) {
  TempDatabase db;
  rdmGradeDistribuicao object(db.storage());
  for (const std::string& method : object.MethodNames()) {
    EXPECT_EQ(ArgumentCount(object, method), detail::ArgumentFields(method).size()) << method;
  }
}

TEST(ArgumentRules, LongTextsAreRefusedBeforeAnythingIsWritten) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  rdmGradeDistribuicao object(db.storage());
  std::vector<Variant> branch = {"0001"};
  const DataPacket items = object.Call("GetItensExpedicao", branch).AsPacket();
  DataPacket long_name = items;
  long_name.fields[long_name.FieldIndex("NMFANTCLIE")].size = 100;
  long_name.rows[0][long_name.FieldIndex("NMFANTCLIE")] = Variant(std::string(51, 'n'));
  DataPacket itinerary;
  itinerary.kind = DataPacket::Kind::Delta;
  for (const char* name : {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "NRPEDIDO", "NRITEMPED"}) {
    itinerary.fields.push_back({name, data::FieldType::String, 10});
  }
  itinerary.fields.push_back({"DSITINERAGRADE", data::FieldType::Memo, 0});
  itinerary.changes.push_back(
      {data::RowState::Inserted,
       {},
       {"0001", "000001", "V1", "P1", "1", std::string((1 << 20) + 1, 'i')}});
  const std::string huge(30 << 20, 'x');
  struct Case {
    std::string method;
    std::vector<Variant> args;
    std::string want;
  } cases[] = {
      {"DelGrade",
       {huge, "000001"},
       "DelGrade: argument 1 (CDFILIAL) holds at most 4 characters, got 31457280"},
      {"DelGrade",
       {"0001", "00000000001"},
       "DelGrade: argument 2 (NRGRADEDISTR) holds at most 10 characters, got 11"},
      // Characters, not bytes: five of them in six bytes.
      {"PrxNrGrade",
       {"çãoçã"},
       "PrxNrGrade: argument 1 (CDFILIAL) holds at most 4 characters, got 5"},
      {"GetVeiculo",
       {"J" + std::string(21, '1'), Variant(), "0001", "P1", "1", ""},
       "GetVeiculo: argument 1 (TRANSPORTADORA) holds at most 21 characters, got 22"},
      {"DistribuiQuantidades",
       {Variant(items), std::string(4097, ' '), kKey, "", "ANA", "0001"},
       "DistribuiQuantidades: argument 2 (FILTRO) holds at most 4096 characters, got 4097"},
      {"DistribuiQuantidades",
       {Variant(items), "IDCHECK = 'S'", kKey, "", std::string(41, 'o'), "0001"},
       "DistribuiQuantidades: argument 5 (CDOPERADOR) holds at most 40 characters, got 41"},
      {"DistribuiQuantidades",
       {Variant(long_name), "IDCHECK = 'S'", kKey, "", "ANA", "0001"},
       "DistribuiQuantidades: argument 1, row 1 field NMFANTCLIE holds at most 50 characters, "
       "got 51"},
      {"SetGradeRota",
       {"1", "P1", "V1", "0001", "000001", "1", "A", "IE"},
       "SetGradeRota: argument 8 (STATUS) holds at most 1 characters, got 2"},
      {"SetRotaCalculada",
       {"0001", "000001", "V1", "100000,0 km", "1h00min", "x"},
       "SetRotaCalculada: argument 4 (DISTANCIA) holds at most 10 characters, got 11"},
      {"SetRotaCalculada",
       {"0001", "000001", "V1", "1,0 km", "1h00min", std::string((1 << 20) + 1, 'i')},
       "SetRotaCalculada: argument 6 (DSITINERAGRADE) holds at most 1048576 characters, got "
       "1048577"},
      {"SetItinerario",
       {Variant(itinerary)},
       "SetItinerario: argument 1, change 1 field DSITINERAGRADE holds at most 1048576 "
       "characters, got 1048577"},
  };
  const auto size_before = std::filesystem::file_size(db.path());
  for (const Case& c : cases) {
    std::vector<Variant> args = c.args;
    try {
      object.Call(c.method, args);
      ADD_FAILURE() << c.want;
    } catch (const Error& e) {
      EXPECT_EQ(c.want, e.what());
    }
  }
  EXPECT_EQ(0, Rows(*db.storage(), "GRADELOG"));
  EXPECT_EQ(0, Rows(*db.storage(), "GRADEDISTR"));
  EXPECT_LT(std::filesystem::file_size(db.path()), size_before + (1 << 20));

  // At the limits, the same calls go through.
  std::vector<Variant> grid = {"çãoç"};
  EXPECT_EQ("000001", object.Call("PrxNrGrade", grid).ToString());
  std::vector<Variant> route = {"çãoç",       "000001",     "V1",
                                "99999,9 km", "9999h59min", std::string(1 << 20, 'i')};
  EXPECT_EQ(Variant(true), object.Call("SetRotaCalculada", route));
}

// Over HTTP the same refusal comes back as the call's failure.
TEST(ArgumentRules, ALongTextOverHttpIsRefusedAndJournalsNothing) {
  TempDatabase db;
  LoadFixture(*db.storage(), SmallFixture());
  auto object = std::make_shared<rdmGradeDistribuicao>(db.storage());
  HttpServer server(object, HttpServerOptions{});
  HttpTransport client("127.0.0.1", server.Start());
  try {
    client.Call(kServerName, "DelGrade", {std::string(1 << 20, 'b'), ""});
    ADD_FAILURE() << "a megabyte branch was taken";
  } catch (const data::ServerCallError& e) {
    EXPECT_STREQ("DelGrade: argument 1 (CDFILIAL) holds at most 4 characters, got 1048576",
                 e.what());
  }
  EXPECT_EQ(0, Rows(*db.storage(), "GRADELOG"));
}

}  // namespace
}  // namespace dg::server
