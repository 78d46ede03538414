#include "data/json_text.h"

#include <utility>
#include <vector>

namespace dg::data {

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
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw JsonTextError(e.what());
  }
}

}  // namespace dg::data
