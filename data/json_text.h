// JSON read from outside (session scripts, fixtures, request bodies, data
// packets): its nesting is bounded before anything else touches it. The JSON
// library copies, prints and compares values recursively, so a value nested
// some ten thousand levels deep would exhaust the stack wherever it is next
// copied or printed; the limit is far above what any file of this system
// nests. The reader also refuses what would otherwise be read silently
// wrong: a key named twice in one object, a number no double can hold.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "data/errors.h"

namespace dg::data {

// Levels of arrays and objects a JSON text or value may nest (the outermost
// counts as one).
inline constexpr int kMaxJsonDepth = 64;

// A JSON text that is malformed, nested too deeply or ambiguous. what() says
// which, and where ("nested more than 64 levels deep (at byte 65)"); quoted
// input is cut short, never echoed whole.
class JsonTextError : public Error {
 public:
  using Error::Error;
};

// The deepest nesting of arrays and objects in `text`, counting brackets
// outside strings, without parsing; stops at the first place deeper than
// `limit` and returns limit + 1 with that byte's offset in `*at` (when given).
int JsonTextDepth(std::string_view text, int limit = kMaxJsonDepth, std::size_t* at = nullptr);

// The deepest nesting of arrays and objects in `value` (a scalar is 0),
// walked without recursion; stops counting at `limit` + 1.
int JsonValueDepth(const nlohmann::json& value, int limit = kMaxJsonDepth);

// Parses one JSON document (surrounding blanks allowed), refusing it with
// JsonTextError when it nests deeper than `max_depth` (before it is parsed),
// is not JSON ("parse error at line L, column C: ..."), names one key twice
// in an object ("the key \"method\" appears twice in one object") or holds
// a number beyond a double ("the number 1e999 does not fit a double").
nlohmann::json ParseJson(std::string_view text, int max_depth = kMaxJsonDepth);

}  // namespace dg::data
