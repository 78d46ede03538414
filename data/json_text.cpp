#include "data/json_text.h"

#include <utility>
#include <vector>

namespace dg::data {
namespace {

using nlohmann::json;

// At most this many characters of the input are quoted in a refusal.
constexpr std::size_t kQuoted = 40;

std::string Quote(std::string_view text) {
  if (text.size() <= kQuoted) return std::string(text);
  return std::string(text.substr(0, kQuoted)) + "...";
}

// Builds the document from the parser's events without recursion (the
// text's nesting is already bounded), and stops the parse at the first
// repeated key.
class Builder {
 public:
  bool null() { return Add(json(nullptr)); }
  bool boolean(bool value) { return Add(json(value)); }
  bool number_integer(json::number_integer_t value) { return Add(json(value)); }
  bool number_unsigned(json::number_unsigned_t value) { return Add(json(value)); }
  bool number_float(json::number_float_t value, const json::string_t&) { return Add(json(value)); }
  bool string(json::string_t& value) { return Add(json(std::move(value))); }
  bool binary(json::binary_t&) { return Fail("binary values are not JSON text"); }

  bool start_object(std::size_t) { return Open(json::object()); }
  bool start_array(std::size_t) { return Open(json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(json::string_t& name) {
    if (open_.back()->contains(name)) {
      return Fail("the key \"" + Quote(name) + "\" appears twice in one object");
    }
    key_ = std::move(name);
    return true;
  }

  bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& e) {
    if (e.id == 406) return Fail("the number " + Quote(token) + " does not fit a double");
    // The library's text names the line, column and expectation; its last
    // token may be a whole string, so only the start of it is kept.
    std::string what = e.what();
    if (const auto close = what.find("] "); close != std::string::npos) what.erase(0, close + 2);
    if (what.size() > 160) what = what.substr(0, 160) + "...";
    return Fail(what);
  }

  json& root() { return root_; }
  const std::string& error() const { return error_; }

 private:
  // Places a value in the open container (or as the document) and answers
  // where it now lives.
  json* Place(json&& value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    return &(parent[key_] = std::move(value));
  }

  bool Add(json&& value) {
    Place(std::move(value));
    return true;
  }

  // The containers still open are never moved: an array only grows while
  // the container last opened in it is already closed.
  bool Open(json&& container) {
    open_.push_back(Place(std::move(container)));
    return true;
  }

  bool Close() {
    open_.pop_back();
    return true;
  }

  bool Fail(std::string text) {
    if (error_.empty()) error_ = std::move(text);
    return false;
  }

  json root_;
  std::vector<json*> open_;
  std::string key_;
  std::string error_;
};

}  // namespace

int JsonTextDepth(std::string_view text, int limit, std::size_t* at) {
  int depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) {
        if (at != nullptr) *at = i;
        return limit + 1;
      }
      if (depth > deepest) deepest = depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

int JsonValueDepth(const nlohmann::json& value, int limit) {
  // Each entry: a container and its depth; children are pushed, not recursed.
  std::vector<std::pair<const nlohmann::json*, int>> pending = {{&value, 0}};
  int deepest = 0;
  while (!pending.empty()) {
    const auto [node, above] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    const int depth = above + 1;
    if (depth > limit) return limit + 1;
    if (depth > deepest) deepest = depth;
    for (const auto& child : *node) {
      if (child.is_structured()) pending.emplace_back(&child, depth);
    }
  }
  return deepest;
}

nlohmann::json ParseJson(std::string_view text, int max_depth) {
  std::size_t at = 0;
  if (JsonTextDepth(text, max_depth, &at) > max_depth) {
    throw JsonTextError("nested more than " + std::to_string(max_depth) + " levels deep (at byte " +
                        std::to_string(at + 1) + ")");
  }
  Builder builder;
  if (!json::sax_parse(text.begin(), text.end(), &builder)) {
    throw JsonTextError(builder.error().empty() ? "malformed JSON text" : builder.error());
  }
  return std::move(builder.root());
}

}  // namespace dg::data
