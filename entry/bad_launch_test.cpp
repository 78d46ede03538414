// Launches the host should never send: every one ends with a clear failure
// the host can report, and an empty item packet opens a working, empty
// screen.
#include <gtest/gtest.h>

#include "entry/entry.h"
#include "screen/globals.h"
#include "screen/testing/screen_harness.h"
#include "ui/application.h"

namespace dg::screen::testing {
namespace {

using data::DataPacket;
using data::Variant;
using data::VariantArray;

using BadLaunchTest = ScreenHarness;

const ItemRow kItem = {{"NRPEDIDO", "000123"}, {"NRITEMPED", "1"},    {"CDFILIAL", "0002"},
                       {"QTDEAEXP", 10.0},     {"VRPESOBRUTPR", 1.5}, {"VRVOLMED", 0.25},
                       {"IDCHECK", "S"},       {"IDPRIOPED", "1"}};

TEST_F(BadLaunchTest, WrongKindsOrAPacketWithoutItemFieldsFailClearly) {
  Parametros("");
  bool flag = false;
  std::string text;
  DataPacket foreign;  // a packet of something else
  foreign.fields = {{"FOO", data::FieldType::String, 10}};
  foreign.rows = {{Variant("bar")}};
  DataPacket mistyped = ItemPacket({kItem});  // QTDEAEXP arrives as text
  for (auto& f : mistyped.fields) {
    if (f.name == "QTDEAEXP") f = {"QTDEAEXP", data::FieldType::String, 20};
  }
  for (auto& row : mistyped.rows) row[mistyped.FieldIndex("QTDEAEXP")] = Variant("dez");

  struct Case {
    const char* what;
    VariantArray launch;
    const char* failure = "";  // when the text matters
  } cases[] = {
      {"items as a text",
       VariantArray({Variant("items"), Variant::RefTo(&flag), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)})},
      {"items missing",
       VariantArray({Variant(), Variant::RefTo(&flag), Variant::RefTo(&text), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text)})},
      {"items as a number",
       VariantArray({Variant(7), Variant::RefTo(&flag), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)})},
      {"a text where the option goes",
       VariantArray({Variant(ItemPacket({kItem})), Variant::RefTo(&text), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)})},
      {"a flag where the grid number goes",
       VariantArray({Variant(ItemPacket({kItem})), Variant::RefTo(&flag), Variant::RefTo(&flag),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)})},
      {"values instead of references",
       VariantArray({Variant(ItemPacket({kItem})), Variant(true), Variant(""), Variant(""),
                     Variant(""), Variant("")})},
      {"a packet of other fields",
       VariantArray({Variant(foreign), Variant::RefTo(&flag), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)}),
       "EXP03200: the item packet has no field NRPEDIDO"},
      {"a quantity as text",
       VariantArray({Variant(mistyped), Variant::RefTo(&flag), Variant::RefTo(&text),
                     Variant::RefTo(&text), Variant::RefTo(&text), Variant::RefTo(&text)})},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      IniProc(c.launch);
      ADD_FAILURE() << "launched";
    } catch (const Error& e) {
      EXPECT_FALSE(std::string(e.what()).empty());
      if (*c.failure) {
        EXPECT_EQ(std::string(c.failure), e.what());
      }
    }
    EXPECT_FALSE(ui::App().Busy());
    EXPECT_FALSE(flag);
  }
  // The module still launches properly afterwards.
  Answers({ui::Answer::Yes});
  bool shown = false;
  Launch({kItem}, [&](ui::Form&) {
    shown = true;
    EXPECT_EQ(1, Screen().cdsExp.RecordCount());
  });
  EXPECT_TRUE(shown);
}

TEST_F(BadLaunchTest, AnEmptyPacketOpensAnEmptyScreenThatCloses) {
  Parametros("");
  Answers({ui::Answer::Yes});
  bool shown = false;
  Launch({}, [&](ui::Form&) {
    shown = true;
    EXPECT_EQ(0, Screen().cdsExp.RecordCount());
    EXPECT_EQ("0001", stFilial);  // the host's branch
  });
  EXPECT_TRUE(shown);
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_FALSE(vars.opcao);
}

}  // namespace
}  // namespace dg::screen::testing
