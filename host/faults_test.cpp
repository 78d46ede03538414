#include "host/faults.h"

#include <gtest/gtest.h>

#include "host/session.h"

namespace dg::host {
namespace {

using nlohmann::json;

std::string FaultsFailure(const json& faults) {
  try {
    ParseFaults(faults);
  } catch (const SessionError& e) {
    return e.what();
  }
  return "parsed";
}

TEST(Faults, ReadsEachKindOfEntry) {
  const std::vector<Fault> f = ParseFaults(json::parse(R"([
      {"call": "SetGrade", "nth": 2, "fail": "@QT_EXCEDE"},
      {"call": "GetErro", "every": true, "empty": true},
      {"call": "DistribuiQuantidades", "nth": 1, "lost": true},
      {"module": "EXP03400", "nth": 1, "fail": "texto"}])"));
  ASSERT_EQ(4u, f.size());
  EXPECT_EQ("SetGrade", f[0].call);
  EXPECT_EQ(2, f[0].nth);
  EXPECT_EQ(FaultKind::Fail, f[0].kind);
  EXPECT_EQ("@QT_EXCEDE", f[0].text);
  EXPECT_TRUE(f[1].every);
  EXPECT_EQ(FaultKind::Empty, f[1].kind);
  EXPECT_EQ(FaultKind::Lost, f[2].kind);
  EXPECT_EQ("EXP03400", f[3].module);
  EXPECT_EQ("", f[3].call);
}

TEST(Faults, RefusesMalformedEntriesNamingThem) {
  const struct {
    const char* faults;
    const char* error;
  } rows[] = {
      {R"({"call": "SetGrade"})", "\"faults\" must be an array"},
      {R"([3])", "fault 3: an entry is an object"},
      {R"([{"nth": 1, "fail": "x"}])",
       "fault {\"fail\":\"x\",\"nth\":1}: names a server method (\"call\") or the map module "
       "(\"module\")"},
      {R"([{"call": "SetGrade", "module": "EXP03400", "nth": 1, "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"module\":\"EXP03400\",\"nth\":1}: names a "
       "server method (\"call\") or the map module (\"module\")"},
      {R"([{"call": "SetGrades", "nth": 1, "fail": "x"}])",
       "fault {\"call\":\"SetGrades\",\"fail\":\"x\",\"nth\":1}: unknown server method "
       "\"SetGrades\""},
      {R"([{"module": "EXP03200", "nth": 1, "fail": "x"}])",
       "fault {\"fail\":\"x\",\"module\":\"EXP03200\",\"nth\":1}: unknown module \"EXP03200\" "
       "(the screen runs EXP03400)"},
      {R"([{"call": "SetGrade", "nth": 0, "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"nth\":0}: \"nth\" counts calls from 1"},
      {R"([{"call": "SetGrade", "nth": -4294967295, "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"nth\":-4294967295}: \"nth\" counts calls "
       "from 1"},
      {R"([{"call": "SetGrade", "nth": "1", "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"nth\":\"1\"}: \"nth\" counts calls from 1"},
      {R"([{"call": "SetGrade", "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\"}: says which calls fail with \"nth\" or "
       "\"every\""},
      {R"([{"call": "SetGrade", "nth": 1, "every": true, "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"every\":true,\"fail\":\"x\",\"nth\":1}: says which calls "
       "fail with \"nth\" or \"every\""},
      {R"([{"call": "SetGrade", "every": false, "fail": "x"}])",
       "fault {\"call\":\"SetGrade\",\"every\":false,\"fail\":\"x\"}: \"every\" takes true"},
      {R"([{"call": "SetGrade", "nth": 1}])",
       "fault {\"call\":\"SetGrade\",\"nth\":1}: needs one kind of fault: \"fail\", \"empty\" or "
       "\"lost\""},
      {R"([{"call": "SetGrade", "nth": 1, "fail": "x", "lost": true}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"lost\":true,\"nth\":1}: needs one kind of "
       "fault: \"fail\", \"empty\" or \"lost\""},
      {R"([{"call": "SetGrade", "nth": 1, "fail": ""}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"\",\"nth\":1}: \"fail\" takes the failure's text"},
      {R"([{"call": "SetGrade", "nth": 1, "empty": 1}])",
       "fault {\"call\":\"SetGrade\",\"empty\":1,\"nth\":1}: \"empty\" takes true"},
      {R"([{"module": "EXP03400", "nth": 1, "lost": true}])",
       "fault {\"lost\":true,\"module\":\"EXP03400\",\"nth\":1}: the map module fails with a text "
       "(\"fail\")"},
      {R"([{"call": "SetGrade", "nth": 1, "fail": "x", "when": "later"}])",
       "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"nth\":1,\"when\":\"later\"}: unknown key "
       "'when'"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.error, FaultsFailure(json::parse(row.faults)));
  // A long entry is cut short in the message.
  const std::string long_text(500, 'x');
  const std::string error =
      FaultsFailure({{{"call", "SetGrade"}, {"nth", 0}, {"fail", long_text}}});
  EXPECT_LT(error.size(), 200u) << error;
  EXPECT_NE(std::string::npos, error.find("...: \"nth\" counts calls from 1")) << error;
}

// Counts each method on its own, from the first call, and the module's runs
// apart from the calls; the first entry that matches a call decides.
TEST(Faults, PlanCountsCallsPerMethod) {
  FaultPlan plan(ParseFaults(json::parse(R"([
      {"call": "SetGrade", "nth": 2, "fail": "a"},
      {"call": "SetGrade", "every": true, "fail": "b"},
      {"call": "GetErro", "nth": 1, "empty": true},
      {"module": "EXP03400", "nth": 2, "fail": "m"}])")));
  std::string seen;
  for (const char* method : {"GetErro", "GetVeiculo", "SetGrade", "GetErro", "SetGrade"}) {
    const Fault* f = plan.NextCall(method);
    seen += std::string(method) + "=" + (f ? (f->text.empty() ? "empty" : f->text) : "-") + " ";
    EXPECT_EQ(f, plan.LastCallHit());
  }
  EXPECT_EQ("GetErro=empty GetVeiculo=- SetGrade=b GetErro=- SetGrade=a ", seen);
  EXPECT_EQ(nullptr, plan.NextModuleRun("EXP03400"));
  EXPECT_EQ("m", plan.NextModuleRun("EXP03400")->text);
  EXPECT_EQ(nullptr, plan.NextModuleRun("EXP03400"));
  EXPECT_EQ(nullptr, plan.NextCall("GetVeiculo"));
  EXPECT_EQ(nullptr, plan.LastCallHit());
}

// Answers each call with its method's name and counts what reached it.
class Echo : public data::CallTransport {
 public:
  data::CallReply Call(const std::string&, const std::string& method,
                       const std::vector<data::Variant>& args) override {
    reached += method + " ";
    std::vector<data::Variant> back = args;
    if (!back.empty()) back.back() = data::Variant("changed");
    return {data::Variant(method), back};
  }
  std::string reached;
};

TEST(Faults, FaultedCallsNeverReachTheServer) {
  auto echo = std::make_shared<Echo>();
  auto plan = std::make_shared<FaultPlan>(ParseFaults(json::parse(R"([
      {"call": "SetGrade", "nth": 1, "fail": "@QT_EXCEDE"},
      {"call": "GetErro", "nth": 1, "empty": true},
      {"call": "DelGrade", "nth": 1, "lost": true}])")));
  FaultyTransport transport(echo, plan);
  const std::vector<data::Variant> args = {data::Variant("0001"), data::Variant("000001")};
  try {
    transport.Call("srv", "SetGrade", args);
    ADD_FAILURE() << "SetGrade went through";
  } catch (const data::ServerCallError& e) {
    EXPECT_STREQ("@QT_EXCEDE", e.what());
  }
  const data::CallReply empty = transport.Call("srv", "GetErro", args);
  EXPECT_TRUE(empty.result.IsEmptyOrNull());
  ASSERT_EQ(2u, empty.args.size());
  EXPECT_EQ("000001", empty.args[1].ToString());  // as sent: nothing written back
  try {
    transport.Call("srv", "DelGrade", args);
    ADD_FAILURE() << "DelGrade went through";
  } catch (const data::TransportError& e) {
    EXPECT_STREQ(kLostConnection, e.what());
  }
  EXPECT_EQ("", echo->reached);
  EXPECT_EQ("SetGrade", transport.Call("srv", "SetGrade", args).result.ToString());
  EXPECT_EQ("SetGrade ", echo->reached);
}

TEST(Faults, FaultedCallsAreTracedAsCallFailures) {
  FaultPlan plan(ParseFaults(json::parse(R"([
      {"call": "GetErro", "nth": 1, "empty": true},
      {"call": "DelGrade", "nth": 1, "lost": true},
      {"call": "SetGrade", "nth": 1, "fail": "x"}])")));
  contracts::CallRecord call;
  call.args = {data::Variant("000001")};
  call.refs = {{1, data::Variant("000001")}};

  call.method = "GetErro";
  plan.NextCall(call.method);
  EXPECT_EQ(json({{"call", "GetErro"}, {"args", {"000001"}}, {"failed", ""}, {"empty", true}}),
            TracedCall(call, plan));

  call.method = "DelGrade";
  call.failure = kLostConnection;
  plan.NextCall(call.method);
  EXPECT_EQ(json({{"call", "DelGrade"},
                  {"args", {"000001"}},
                  {"failed", kLostConnection},
                  {"lost", true}}),
            TracedCall(call, plan));

  call.method = "SetGrade";
  call.failure = "x";
  plan.NextCall(call.method);
  EXPECT_EQ(json({{"call", "SetGrade"}, {"args", {"000001"}}, {"failed", "x"}}),
            TracedCall(call, plan));

  // A call the plan let through is an ordinary server-call line.
  call.failure.reset();
  plan.NextCall(call.method);
  EXPECT_EQ(json({{"call", "SetGrade"}, {"args", {"000001"}}, {"refs", {{"1", "000001"}}}}),
            TracedCall(call, plan));
}

}  // namespace
}  // namespace dg::host
