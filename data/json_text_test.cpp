#include "data/json_text.h"

#include <gtest/gtest.h>

#include <string>

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

std::string Refusal(std::string_view text) {
  try {
    ParseJson(text);
    return "accepted";
  } catch (const JsonTextError& e) {
    return e.what();
  }
}

TEST(JsonText, ParseReadsWhatTheWireCarries) {
  const json j = ParseJson(
      R"( {"server": "S", "args": [null, true, -3, 18446744073709551615, 2.5, "ação",
           {"array": [[1], {}], "low": 0}]} )");
  EXPECT_EQ("S", j["server"]);
  ASSERT_EQ(7u, j["args"].size());
  EXPECT_TRUE(j["args"][0].is_null());
  EXPECT_EQ(-3, j["args"][2].get<int>());
  EXPECT_TRUE(j["args"][3].is_number_unsigned());
  EXPECT_EQ(2.5, j["args"][4].get<double>());
  EXPECT_EQ("ação", j["args"][5]);
  EXPECT_EQ(json::parse(R"({"array": [[1], {}], "low": 0})"), j["args"][6]);
  // At the limit, the same document as the library alone reads.
  const std::string deepest = Nested(kMaxJsonDepth - 1, R"({"a": 1})");
  EXPECT_EQ(json::parse(deepest), ParseJson(deepest));
}

TEST(JsonText, ParseRefusesRepeatedKeys) {
  EXPECT_EQ("the key \"method\" appears twice in one object",
            Refusal(R"({"method": "A", "args": [], "method": "B"})"));
  EXPECT_EQ("the key \"x\" appears twice in one object",
            Refusal(R"({"args": [{"a": 1}, {"x": 1, "x": 1}]})"));
  // The same key in two objects, or in an object and its member, is fine.
  EXPECT_EQ("accepted", Refusal(R"({"x": {"x": 1}, "y": [{"x": 2}, {"x": 3}]})"));
  // A quoted key is cut short.
  const std::string long_key(1000, 'k');
  EXPECT_LT(Refusal("{\"" + long_key + "\": 1, \"" + long_key + "\": 2}").size(), 100u);
}

TEST(JsonText, ParseSaysWhatIsWrongWithoutEchoingTheInput) {
  EXPECT_EQ("the number 1e999 does not fit a double", Refusal(R"({"args": [1e999]})"));
  EXPECT_EQ("the number -2.5E+400 does not fit a double", Refusal("[-2.5E+400]"));
  const std::string digits(400, '9');
  EXPECT_EQ("the number " + digits.substr(0, 40) + "... does not fit a double",
            Refusal("[" + digits + ".0e300]"));
  for (const char* text : {"", "   ", "{", "{\"a\" 1}", "[1,]", "nul", "{} {}", "\"\\x\""}) {
    EXPECT_EQ(0u, Refusal(text).rfind("parse error at line 1, column ", 0))
        << text << ": " << Refusal(text);
  }
  // An unterminated text of a megabyte is not echoed back.
  EXPECT_LT(Refusal("[\"" + std::string(1 << 20, 'a')).size(), 300u);
}

}  // namespace
}  // namespace dg::data
