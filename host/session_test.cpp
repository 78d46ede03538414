#include "host/session.h"

#include <gtest/gtest.h>

#include "ui/grid.h"

namespace dg::host {
namespace {

using nlohmann::json;

json WithSteps(json steps) { return {{"fixture", "demo.json"}, {"steps", std::move(steps)}}; }

std::string ParseFailure(const json& session) {
  try {
    ParseSession(session, "/base");
  } catch (const SessionError& e) {
    return e.what();
  }
  return "parsed";
}

TEST(SessionParse, ReadsEverySection) {
  const Session s = ParseSession(
      {{"fixture", "demo.json"},
       {"host", {{"branch", "0002"}, {"operator", "ANA"}, {"picture", "999"}}},
       {"launch", {{"items", json::array({{{"NRPEDIDO", "1"}}})}, {"relaunch", 2}}},
       {"steps", json::array({{{"type", "medCdTransp"}, {"text", "1"}}, {{"close", true}}})}},
      "/base/examples");
  EXPECT_EQ("/base/examples/demo.json", s.fixture_path);
  EXPECT_EQ("0002", s.branch.value());
  EXPECT_EQ("ANA", s.operator_code.value());
  EXPECT_EQ("999", s.picture.value());
  EXPECT_TRUE(s.launch_items.is_array());
  EXPECT_EQ(2, s.relaunch);
  ASSERT_EQ(2u, s.steps.size());
  EXPECT_EQ(Verb::Type, s.steps[0].verb);
  EXPECT_EQ("medCdTransp", s.steps[0].Target());
  EXPECT_EQ(2, s.steps[1].number);
  EXPECT_EQ("", s.steps[1].Target());
}

TEST(SessionParse, DefaultsLaunchEveryItemOnce) {
  const Session s = ParseSession(WithSteps(json::array()), "");
  EXPECT_EQ(json("all"), s.launch_items);
  EXPECT_EQ(0, s.relaunch);
  EXPECT_FALSE(s.branch.has_value());
}

TEST(SessionParse, RefusesMalformedSessionsNamingWhere) {
  const struct {
    json session;
    const char* error;
  } rows[] = {
      {json::array(), "a session is a JSON object"},
      {{{"fixture", 7}, {"steps", json::array()}}, "\"fixture\" must name the fixture file"},
      {{{"fixture", "f.json"}}, "the session needs \"steps\", an array"},
      {{{"fixture", "f.json"}, {"steps", json::array()}, {"extra", 1}},
       "unknown session key 'extra'"},
      {{{"fixture", "f.json"}, {"steps", json::array()}, {"launch", {{"items", "some"}}}},
       "launch.items must be \"all\", \"ready\" or an array of item rows"},
      {{{"fixture", "f.json"}, {"steps", json::array()}, {"host", {{"branch", 1}}}},
       "host.branch must be a text"},
      {WithSteps({{{"clik", "sbtExpedir"}}}), "step 1: unknown verb 'clik'"},
      {WithSteps({{{"close", true}}, {{"focus", "a"}, {"click", "b"}}}),
       "step 2: more than one verb ('click', 'focus')"},
      {WithSteps({{{"text", "1"}}}), "step 1: no verb"},
      {WithSteps({"focus"}), "step 1: a step is an object with one verb"},
      {WithSteps({{{"type", "medCdTransp"}}}), "step 1: 'type' needs \"text\""},
      {WithSteps({{{"select", "cbbTipoFrete"}}}), "step 1: 'select' needs \"index\""},
      {WithSteps({{{"select", "cbbTipoFrete"}, {"index", "1"}}}),
       "step 1: bad value for \"index\": \"1\""},
      {WithSteps({{{"grid", "dbgPadrao"}, {"row", 0}}}), "step 1: bad value for \"row\": 0"},
      {WithSteps({{{"key", "dbgPadrao"}, {"char", "TT"}}}),
       "step 1: bad value for \"char\": \"TT\""},
      {WithSteps({{{"pick", "btnTransp"}}}), "step 1: 'pick' needs \"where\""},
      {WithSteps({{{"click", ""}}}), "step 1: 'click' needs a name"},
      {WithSteps({{{"close", false}}}), "step 1: 'close' takes true"},
      {WithSteps({{{"answers", {"yes", "talvez"}}}}),
       "step 1: unknown answer \"talvez\" (\"yes\" or \"no\")"},
      {WithSteps({{{"expect", json::object()}}}),
       "step 1: 'expect' takes an object of keys and values"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.error, ParseFailure(row.session)) << row.session.dump();
  }
}

TEST(SessionParse, FaultsAreReadWithTheSession) {
  const Session s = ParseSession({{"fixture", "f.json"},
                                  {"steps", json::array()},
                                  {"faults", {{{"call", "SetGrade"}, {"nth", 1}, {"fail", "x"}}}}},
                                 "");
  ASSERT_EQ(1u, s.faults.size());
  EXPECT_EQ("SetGrade", s.faults[0].call);
  EXPECT_EQ(
      "fault {\"call\":\"SetGrade\"}: says which calls fail with \"nth\" or \"every\"",
      ParseFailure(
          {{"fixture", "f.json"}, {"steps", json::array()}, {"faults", {{{"call", "SetGrade"}}}}}));
}

// Compared as written: a count too large for an int is refused, not cut.
TEST(SessionParse, RelaunchCountUpToTheBound) {
  const auto relaunch = [](const char* count) {
    return json{{"fixture", "f.json"},
                {"steps", json::array()},
                {"launch", {{"relaunch", json::parse(count)}}}};
  };
  EXPECT_EQ(1000, ParseSession(relaunch("1000"), "").relaunch);
  for (const char* count :
       {"-1", "1001", "2147483647", "4294967297", "18446744073709551615", "1.5"}) {
    EXPECT_EQ("launch.relaunch must be a count from 0 to 1000", ParseFailure(relaunch(count)))
        << count;
  }
}

// Step bodies are copied and printed into the trace, which recurses.
TEST(SessionParse, RefusesSessionsNestedTooDeeply) {
  const int levels = 100000;
  const std::string text = R"({"fixture": "f.json", "steps": [{"expect": {"global.stFilial": )" +
                           std::string(levels, '[') + "1" + std::string(levels, ']') + "}}]}";
  try {
    ParseSessionText(text, "", "deep.json");
    ADD_FAILURE() << "accepted";
  } catch (const SessionError& e) {
    EXPECT_STREQ("deep.json: nested more than 64 levels deep (at byte 124)", e.what());
  }
  // A value nested that deep, however it was made, is refused before a step is read.
  EXPECT_EQ("the session nests more than 64 levels deep", ParseFailure(json::parse(text)));
}

TEST(SessionParse, KeyCodes) {
  EXPECT_EQ('T', KeyCode("T").value());
  EXPECT_EQ('\r', KeyCode("Enter").value());
  EXPECT_EQ('\x1b', KeyCode("Escape").value());
  EXPECT_EQ('\b', KeyCode("Backspace").value());
  EXPECT_FALSE(KeyCode("").has_value());
  EXPECT_FALSE(KeyCode("Ctrl").has_value());
}

// A small window with one control of each kind the checks tell apart.
class NamesTest : public ::testing::Test {
 protected:
  NamesTest() {
    form.Add<ui::Edit>("medCdTransp");
    form.Add<ui::ComboBox>("cbbTipoFrete");
    form.Add<ui::Button>("btnOk");
    auto& pages = form.Add<ui::PageControl>("pgcPadrao");
    form.Add<ui::TabSheet>("tshRota", &pages);
    auto& grid = form.Add<ui::DataGrid>("dbgPadrao");
    grid.AddColumn("QTDEAEXP");
    form.RegisterDataSet(items);
  }

  std::optional<std::string> Check(const json& steps) {
    const Session s = ParseSession(WithSteps(steps), "");
    return CheckNames(s, form, [](const std::string& name, data::Variant* out) {
      if (name != "stNrGrade") return false;
      *out = data::Variant("000001");
      return true;
    });
  }

  ui::Form form{"frmTeste"};
  data::ClientDataset items{"cdsExp"};
};

TEST_F(NamesTest, AcceptsKnownNames) {
  EXPECT_EQ(std::nullopt, Check({{{"type", "medCdTransp"}, {"text", "1"}},
                                 {{"select", "cbbTipoFrete"}, {"index", 0}},
                                 {{"tab", "tshRota"}},
                                 {{"grid", "dbgPadrao"}, {"row", 1}, {"column", "QTDEAEXP"}},
                                 {{"expect",
                                   {{"medCdTransp.text", ""},
                                    {"cdsExp.count", 0},
                                    {"cdsExp.QTDEAEXP.text", ""},
                                    {"dbgPadrao.QTDEAEXP.pickList", json::array()},
                                    {"global.stNrGrade", "000001"},
                                    {"host.waiting", false},
                                    {"host.PNrGradeDistr", ""}}}}}));
}

TEST_F(NamesTest, NamesTheFirstUnknownNameAndItsStep) {
  const struct {
    json step;
    const char* error;
  } rows[] = {
      {{{"click", "xyz"}}, "step 2: unknown control 'xyz'"},
      {{{"tab", "medCdTransp"}}, "step 2: unknown page 'medCdTransp'"},
      {{{"select", "medCdTransp"}, {"index", 0}}, "step 2: 'medCdTransp' is not a combo box"},
      {{{"edit", "btnOk"}, {"text", "1"}}, "step 2: 'btnOk' is not a grid"},
      {{{"grid", "dbgPadrao"}, {"column", "NADA"}},
       "step 2: unknown column 'NADA' of grid 'dbgPadrao'"},
      {{{"expect", {{"cdsNada.count", 1}}}}, "step 2: unknown control or dataset 'cdsNada'"},
      {{{"expect", {{"global.stNada", 1}}}}, "step 2: unknown global 'stNada'"},
      {{{"expect", {{"host.espera", 1}}}}, "step 2: unknown host state 'host.espera'"},
      {{{"expect", {{"host.failure.text", 1}}}}, "step 2: unknown host state 'host.failure.text'"},
      {{{"expect", {{"medCdTransp.colour", 1}}}},
       "step 2: unknown property 'colour' of control 'medCdTransp'"},
      {{{"expect", {{"btnOk.itemIndex", 1}}}},
       "step 2: control 'btnOk' has no property 'itemIndex'"},
      {{{"expect", {{"cdsExp.QTDEAEXP.value", 1}}}},
       "step 2: unknown dataset key 'cdsExp.QTDEAEXP.value'"},
      {{{"expect", {{"medCdTransp.text.x", 1}}}},
       "step 2: 'medCdTransp' is not a grid (in 'medCdTransp.text.x')"},
      {{{"expect", {{"cdsExp", 1}}}},
       "step 2: expectation key 'cdsExp' needs a name and a property"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.error, Check({{{"focus", "medCdTransp"}}, row.step}).value_or("accepted"))
        << row.step.dump();
  }
}

}  // namespace
}  // namespace dg::host
