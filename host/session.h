// A scripted session: the fixture to seed, what the host services answer,
// the launch, and the user's steps in order (the format is a public
// interface; see the README's "Scripted sessions").
//
// Reading a session checks its shape (known verbs, the keys each verb needs,
// answer words); CheckNames then checks every name a step uses against the
// open screen before the first step runs. Both report "step N: ..." so the
// author can find the line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/errors.h"
#include "data/variant.h"
#include "host/faults.h"
#include "ui/form.h"

namespace dg::host {

// A session that cannot be read or names something unknown (exit status 2).
class SessionError : public Error {
 public:
  using Error::Error;
};

enum class Verb {
  Focus,
  Activate,
  Type,
  Select,
  Click,
  Tab,
  Grid,
  Edit,
  Key,
  Post,
  Pick,
  Close,
  Answers,
  Expect
};

// The verb's name in a session file ("focus", "type", ...).
const char* VerbName(Verb verb);

// One step. `body` is the step object as written. Intentionally copyable.
struct Step {
  int number = 0;  // 1-based
  Verb verb = Verb::Focus;
  nlohmann::json body;
  // The value of the verb's key (a control name, true, an array, an object).
  const nlohmann::json& Value() const { return body.at(VerbName(verb)); }
  // The control, page or grid the step names ("" for activate, close,
  // answers and expect).
  std::string Target() const;
};

// The most launches a session may add after the first (launch.relaunch).
inline constexpr int kMaxRelaunch = 1000;

// Intentionally copyable.
struct Session {
  // Resolved against the session file's folder; empty: the session plays
  // on the host's database as it stands.
  std::string fixture_path;
  std::optional<std::string> branch, operator_code, picture;
  // "all" (read once), "ready" (read again at each launch), or an array of
  // item rows keyed by item field names.
  nlohmann::json launch_items = "all";
  int relaunch = 0;
  std::vector<Step> steps;
  std::vector<Fault> faults;
};

// Throws SessionError naming what is wrong and where; also for a session
// nested deeper than data::kMaxJsonDepth.
Session ParseSession(const nlohmann::json& json, const std::string& base_dir);
// The same from the file's text; `name` names the file in messages.
Session ParseSessionText(std::string_view text, const std::string& base_dir,
                         const std::string& name);
Session LoadSession(const std::string& path);

// Answers whether the loaded module has a global of that name.
using GlobalLookup = std::function<bool(const std::string& name, data::Variant* out)>;

// The first name a step uses that the screen does not know ("step 4:
// unknown control 'xyz'"), or none. Controls, pages and datasets are looked
// up on `form`; globals through `globals`. Fields of datasets are not
// checked (most datasets take their fields from the server's packets).
std::optional<std::string> CheckNames(const Session& session, const ui::Form& form,
                                      const GlobalLookup& globals);

// Whether `name` is one of the host's own states an expectation can read as
// "host.NAME": "waiting" (the wait animation shows), "failure" (the last
// failure that reached the host's error report, null before any), "error"
// (the last error message shown, null before any), and the five caller
// variables of the running launch ("PboOpcao", "PNrGradeDistr", ...).
bool IsHostState(const std::string& name);

// The key code of a step's "char": one character, or "Enter", "Escape",
// "Backspace", "Tab". None for anything else.
std::optional<char> KeyCode(const std::string& text);

// The parts of an expectation key: "cdsExp.count" -> {"cdsExp", "count"}.
std::vector<std::string> SplitKey(const std::string& key);

}  // namespace dg::host
