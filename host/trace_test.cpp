#include "host/trace.h"

#include <gtest/gtest.h>

#include <sstream>

#include "data/packet.h"

namespace dg::host {
namespace {

using nlohmann::json;

TEST(TraceLines, ValuesAsTheTraceShowsThem) {
  data::DataPacket packet;
  packet.fields = {{"NRPEDIDO", data::FieldType::String, 10},
                   {"QTDEAEXP", data::FieldType::Double}};
  packet.rows = {{data::Variant("1"), data::Variant(2.0)}};
  EXPECT_EQ(R"({"packet":{"fields":["NRPEDIDO","QTDEAEXP"],"rows":1}})",
            TraceValue(data::Variant(packet)).dump());
  EXPECT_EQ(R"("2024-05-01T10:30:00")",
            TraceValue(data::Variant(data::DateTime::FromParts(2024, 5, 1, 10, 30))).dump());
  EXPECT_EQ(R"([1,"a",null,true,2.5])",
            TraceValue(data::Variant(data::VariantArray({data::Variant(1), data::Variant("a"),
                                                         data::Variant::Null(), data::Variant(true),
                                                         data::Variant(2.5)})))
                .dump());
  EXPECT_EQ("null", TraceValue(data::Variant()).dump());
}

TEST(TraceLines, CallsWithReferencesAndFailures) {
  contracts::CallRecord call;
  call.method = "GetVeiculo";
  call.args = {data::Variant("0001"), data::Variant("")};
  call.refs = {{2, data::Variant("000007")}};
  EXPECT_EQ(R"({"args":["0001",""],"call":"GetVeiculo","refs":{"2":"000007"}})",
            CallEvent(call).dump());

  call.method = "DistribuiQuantidades";
  call.failure = "@QT_EXCEDE";
  EXPECT_EQ(R"({"args":["0001",""],"call":"DistribuiQuantidades","failed":"@QT_EXCEDE"})",
            CallEvent(call).dump());
}

TEST(TraceLines, LookupsModulesResultsExpectations) {
  EXPECT_EQ(
      R"({"params":{"NRINSJURTRAN":"45781233000107"},"rows":1,"sql":"qryPesqTran"})",
      QueryEvent({"qryPesqTran", {{"NRINSJURTRAN", data::Variant("45781233000107")}}, 1}).dump());

  const std::string api = "http://127.0.0.1:5000";
  const data::VariantArray handover(
      {data::Variant(static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(api.c_str()))),
       data::Variant("G"), data::Variant("0101")});
  EXPECT_EQ(R"({"args":[{"pointer":"http://127.0.0.1:5000"},"G","0101"],"module":"EXP03400"})",
            ModuleEvent("EXP03400", handover).dump());
  const data::VariantArray no_api({data::Variant(0), data::Variant("G")});
  EXPECT_EQ(R"({"args":[0,"G"],"module":"EXP03400"})", ModuleEvent("EXP03400", no_api).dump());

  HandBack values;
  values.PboOpcao = true;
  values.PNrGradeDistr = "000003";
  values.PstIdFrete = "9";
  EXPECT_EQ(
      R"({"result":{"PNrGradeDistr":"000003","PboOpcao":true,"PstIdFrete":"9","PstNrInsc":"","PstTpTrans":""}})",
      ResultEvent(values).dump());
  EXPECT_EQ(R"({"expect":"cdsVeiculo.count","got":2,"ok":false,"want":3})",
            ExpectEvent("cdsVeiculo.count", false, 3, 2).dump());
}

TEST(TraceWriter, StepLineWaitsForItsFirstEventOrItsOutcome) {
  std::ostringstream out;
  Trace trace(&out);
  trace.BeginStep(1, {{"click", "sbtExpedir"}});
  trace.EndStep(ui::Outcome::Disabled);
  trace.BeginStep(2, {{"click", "sbtSalvar"}});
  trace.Write(FailureEvent("boom"));
  trace.EndStep(ui::Outcome::Done);
  trace.BeginStep(3, {{"focus", "medCdTransp"}});
  trace.EndStep(ui::Outcome::Hidden);
  EXPECT_EQ(
      "{\"do\":{\"click\":\"sbtExpedir\"},\"ignored\":\"disabled\",\"step\":1}\n"
      "{\"do\":{\"click\":\"sbtSalvar\"},\"step\":2}\n"
      "{\"failure\":\"boom\"}\n"
      "{\"do\":{\"focus\":\"medCdTransp\"},\"ignored\":\"hidden\",\"step\":3}\n",
      out.str());
}

TEST(TraceWriter, HeldLinesAreWrittenOnReleaseOrDropped) {
  std::ostringstream out;
  Trace trace(&out);
  trace.Hold();
  trace.Write(FailureEvent("a"));
  EXPECT_EQ("", out.str());
  trace.Release();
  EXPECT_EQ("{\"failure\":\"a\"}\n", out.str());
  trace.Hold();
  trace.Write(FailureEvent("b"));
  trace.Drop();
  trace.Write(FailureEvent("c"));
  EXPECT_EQ("{\"failure\":\"a\"}\n{\"failure\":\"c\"}\n", out.str());
}

TEST(TraceWriter, InvalidUtf8IsReplacedNotFatal) {
  std::ostringstream out;
  Trace trace(&out);
  trace.Write(FailureEvent("bad \xff text"));
  EXPECT_NE(std::string::npos, out.str().find("bad"));
}

}  // namespace
}  // namespace dg::host
