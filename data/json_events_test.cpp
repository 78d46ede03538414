// The packet reader's own JSON reading: whatever it reads, the library reads
// to the same events; what it leaves, it leaves without a half-read event
// the caller could mistake for a whole text.
#include "data/json_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/packet.h"
#include "data/variant.h"
#include "data/wire_json.h"

namespace dg::data {
namespace {

using nlohmann::json;

// Every event as a compact string: "{ kA s\"x\" u1 }".
class Recorder {
 public:
  std::string log;

  bool null() { return Add("n"); }
  bool boolean(bool v) { return Add(v ? "t" : "f"); }
  bool number_integer(json::number_integer_t v) { return Add("i" + std::to_string(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return Add("u" + std::to_string(v)); }
  bool number_float(json::number_float_t v, const json::string_t&) {
    char text[64];
    std::snprintf(text, sizeof text, "d%a", v);
    return Add(text);
  }
  bool string(json::string_t& v) { return Add("s\"" + v + "\""); }
  bool binary(json::binary_t&) { return Add("binary"); }
  bool key(json::string_t& v) { return Add("k" + v); }
  bool start_object(std::size_t) { return Add("{"); }
  bool start_array(std::size_t) { return Add("["); }
  bool end_object() { return Add("}"); }
  bool end_array() { return Add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    log += " ERROR";
    return false;
  }

 private:
  bool Add(const std::string& event) {
    if (!log.empty()) log += ' ';
    log += event;
    return true;
  }
};

// The library's events, or "" when it refuses the text.
std::string Library(const std::string& text) {
  Recorder r;
  if (!json::sax_parse(text, &r)) return "";
  return r.log;
}

std::string Ours(const std::string& text, bool* read) {
  Recorder r;
  *read = ReadJsonEvents(text, r);
  return r.log;
}

TEST(JsonEvents, ReadsTheCommonFormsToTheLibrarysEvents) {
  // Each must be read, and to the library's events.
  const std::string texts[] = {
      R"({"args":[1,-2,0,-0,2.5,-0.0,1e5,1E-7,5e-324,1.7976931348623157e308],"m":"x"})",
      R"(  [ true , false , null , { } , [ ] , "" ]  )",
      "\t\r\n{\"a\" :\n[\"b\"] }\n",
      R"(["plain","tab\t \"quoted\" back\\slash \/ \b\f\n\r","\u0000\u001f\u00e7\u20ac"])",
      R"(["\ud83d\ude00","\uD834\uDD1E x"])",
      "[\"Rodovi\xc3\xa1rio \xe2\x82\xac \xf0\x9f\x98\x80 \xed\x9f\xbf \xee\x80\x80\"]",
      R"([18446744073709551615,-9223372036854775808,9223372036854775807])",
      R"([0.1,123456789012345678,1e21,100,1.5e+300,-1e-300])",
      R"("lone")",
      R"(17)",
  };
  for (const std::string& text : texts) {
    bool read = false;
    const std::string ours = Ours(text, &read);
    EXPECT_TRUE(read) << text;
    EXPECT_EQ(Library(text), ours) << text;
    EXPECT_NE("", ours) << text;
  }
}

TEST(JsonEvents, LeavesWhatIsNotJsonOrNotItsForm) {
  const std::string texts[] = {
      "", " ", "[1,2", "[1,2,]", "{\"a\":1,}", "{\"a\" 1}", "{\"a\":}", "{1:2}", "[1 2]",
      "{\"a\":1}}", "[1]]", "[1] x", "[01]", "[1.]", "[.5]", "[-]", "[1e]", "[1e+]", "[+1]",
      "[NaN]", "[Infinity]", "[tru]", "[nul]", "[True]", "['a']", "[\"a]",
      "[\"a\\x\"]", "[\"\\u12\"]", "[\"\\u12G4\"]", "[\"\\ud800\"]", "[\"\\ud800x\"]",
      "[\"\\ud800\\u0041\"]", "[\"\\udc00\"]", "[\"tab\tinside\"]", "[\"\x01\"]",
      // Not UTF-8: a lone continuation, an overlong form, a surrogate, past
      // U+10FFFF, a sequence cut short.
      "[\"\x80\"]", "[\"\xc0\xaf\"]", "[\"\xe0\x80\xaf\"]", "[\"\xed\xa0\x80\"]",
      "[\"\xf4\x90\x80\x80\"]", "[\"\xf5\x80\x80\x80\"]", "[\"\xc3\"]", "[\"\xe2\x82\"]",
      // Numbers the library reads as doubles after its integer overflows, or
      // refuses as beyond a double: left to it.
      "[18446744073709551616]", "[-9223372036854775809]", "[1e999]",
      // A byte order mark.
      "\xef\xbb\xbf[1]",
      // Nested beyond the limit.
      std::string(65, '[') + std::string(65, ']')};
  for (const std::string& text : texts) {
    bool read = true;
    Ours(text, &read);
    EXPECT_FALSE(read) << text;
  }
  // Nested to the limit is read.
  bool read = false;
  Ours(std::string(64, '[') + std::string(64, ']'), &read);
  EXPECT_TRUE(read);
}

TEST(JsonEvents, StopsAtTheFirstEventTheHandlerRefuses) {
  struct Refusing : Recorder {
    bool number_unsigned(json::number_unsigned_t v) {
      Recorder::number_unsigned(v);
      return v != 2;
    }
  } r;
  EXPECT_FALSE(ReadJsonEvents(std::string("[1,2,3]"), r));
  EXPECT_EQ("[ u1 u2", r.log);
}

TEST(JsonEvents, NoCutOfAWrittenCallBodyIsReadAsAWholeOne) {
  DataPacket p;
  p.fields = {{"CDVIATURA", FieldType::String, 10},
              {"QtTranspItGr", FieldType::Double},
              {"DTHRENTGRADE", FieldType::DateTime}};
  p.rows = {{Variant("V1"), Variant(2.5), Variant(DateTime::FromParts(2025, 6, 10))},
            {Variant("Caminh\xc3\xa3o \"A\""), Variant::Null(), Variant::Null()}};
  const std::vector<Variant> args = {Variant(p), Variant(10.0), Variant("0001")};
  const std::string body = WireWriter()
                               .Raw("{\"args\":")
                               .Values(args)
                               .Raw(",\"method\":\"SetGrade\",\"server\":\"S\"}")
                               .Take();
  bool read = false;
  EXPECT_EQ(Library(body), Ours(body, &read));
  EXPECT_TRUE(read);
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    Ours(body.substr(0, cut), &read);
    EXPECT_FALSE(read) << body.substr(0, cut);
  }
}

}  // namespace
}  // namespace dg::data
