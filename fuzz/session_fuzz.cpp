// The session-script reader: any text is read as a session or refused with
// SessionError (or a JSON parse failure), never a crash.
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "host/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded()) return 0;
  try {
    const dg::host::Session session = dg::host::ParseSession(json, "/base");
    for (const dg::host::Step& step : session.steps) {
      step.Target();
      if (step.verb == dg::host::Verb::Key && step.Value().is_string()) {
        dg::host::KeyCode(step.Value().get<std::string>());
      }
      if (step.verb == dg::host::Verb::Expect && step.Value().is_object()) {
        for (const auto& [key, want] : step.Value().items()) dg::host::SplitKey(key);
      }
    }
  } catch (const dg::Error&) {
  }
  return 0;
}
