#include "data/json_text.h"

#include <gtest/gtest.h>

namespace dg::data {
namespace {

using nlohmann::json;

std::string Nested(int levels, const std::string& inner = "1") {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST(JsonText, DepthCountsBracketsOutsideStrings) {
  EXPECT_EQ(0, JsonTextDepth("12"));
  EXPECT_EQ(1, JsonTextDepth("{}"));
  EXPECT_EQ(3, JsonTextDepth(R"({"a": [1, {"b": 2}], "c": []})"));
  // Brackets and escaped quotes inside texts do not count.
  EXPECT_EQ(1, JsonTextDepth(R"(["[[[{{", "\"[[[", "\\"])"));
  EXPECT_EQ(2, JsonTextDepth(R"([["\\\"]"]])"));
}

TEST(JsonText, DepthStopsAtTheFirstPlaceBeyondTheLimit) {
  std::size_t at = 0;
  EXPECT_EQ(4, JsonTextDepth(Nested(100000), 3, &at));
  EXPECT_EQ(3u, at);
  EXPECT_EQ(64, JsonTextDepth(Nested(64)));
}

TEST(JsonText, ParseRefusesDeepTextsAndMalformedOnes) {
  EXPECT_EQ(json::parse(Nested(64)), ParseJson(Nested(64)));
  for (int levels : {65, 100000}) {
    try {
      ParseJson(Nested(levels));
      ADD_FAILURE() << levels << " levels were accepted";
    } catch (const JsonTextError& e) {
      EXPECT_STREQ("nested more than 64 levels deep (at byte 65)", e.what());
    }
  }
  EXPECT_THROW(ParseJson("{\"a\": "), JsonTextError);
  EXPECT_THROW(ParseJson(""), JsonTextError);
}

TEST(JsonText, ValueDepthWalksWithoutRecursion) {
  EXPECT_EQ(0, JsonValueDepth(json(3)));
  EXPECT_EQ(1, JsonValueDepth(json::array()));
  EXPECT_EQ(3, JsonValueDepth(json::parse(R"({"a": [1, {"b": 2}], "c": []})")));
  // Built by the parser, which does not recurse; measuring must not either.
  const json deep = json::parse(Nested(100000));
  EXPECT_EQ(65, JsonValueDepth(deep));
  EXPECT_EQ(100000, JsonValueDepth(deep, 200000));
}

}  // namespace
}  // namespace dg::data
