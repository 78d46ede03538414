// The session-script reader: any text is read as a session or refused with
// SessionError, never a crash (deep nesting included).
#include <cstdint>
#include <string_view>

#include "host/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const dg::host::Session session = dg::host::ParseSessionText(text, "/base", "input");
    for (const dg::host::Step& step : session.steps) {
      step.Target();
      if (step.verb == dg::host::Verb::Key && step.Value().is_string()) {
        dg::host::KeyCode(step.Value().get<std::string>());
      }
      if (step.verb == dg::host::Verb::Expect && step.Value().is_object()) {
        for (const auto& [key, want] : step.Value().items()) {
          dg::host::SplitKey(key);
          (void)want.dump();  // as the trace prints it
        }
      }
    }
  } catch (const dg::Error&) {
  }
  return 0;
}
