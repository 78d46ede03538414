#include "host/session.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "data/json_text.h"
#include "ui/grid.h"
#include "ui/properties.h"

namespace dg::host {

namespace {

using nlohmann::json;

struct VerbRule {
  Verb verb;
  const char* name;
  enum class Value { Name, True, Answers, Object } value;
  std::vector<const char*> required;  // further keys with their JSON kind below
};

const std::vector<VerbRule>& Verbs() {
  using V = VerbRule::Value;
  static const std::vector<VerbRule> kVerbs = {
      {Verb::Focus, "focus", V::Name, {}},        {Verb::Activate, "activate", V::True, {}},
      {Verb::Type, "type", V::Name, {"text"}},    {Verb::Select, "select", V::Name, {"index"}},
      {Verb::Click, "click", V::Name, {}},        {Verb::Tab, "tab", V::Name, {}},
      {Verb::Grid, "grid", V::Name, {}},          {Verb::Edit, "edit", V::Name, {"text"}},
      {Verb::Key, "key", V::Name, {"char"}},      {Verb::Post, "post", V::Name, {}},
      {Verb::Pick, "pick", V::Name, {"where"}},   {Verb::Close, "close", V::True, {}},
      {Verb::Answers, "answers", V::Answers, {}}, {Verb::Expect, "expect", V::Object, {}},
  };
  return kVerbs;
}

// Keys a step may carry besides its verb.
const std::set<std::string>& Modifiers() {
  static const std::set<std::string> kModifiers = {"text",   "index", "row",
                                                   "column", "char",  "where"};
  return kModifiers;
}

[[noreturn]] void Fail(int step, const std::string& what) {
  throw SessionError("step " + std::to_string(step) + ": " + what);
}

void CheckModifier(int n, const std::string& key, const json& value) {
  const bool ok = (key == "text" && value.is_string()) ||
                  (key == "index" && value.is_number_integer()) ||
                  // Compared as the number written: a row too large for the
                  // player is one the grid does not show.
                  (key == "row" && value.is_number_integer() && value.get<double>() >= 1) ||
                  (key == "column" && value.is_string()) ||
                  (key == "char" && value.is_string() && KeyCode(value.get<std::string>())) ||
                  (key == "where" && value.is_object() && !value.empty());
  if (!ok) Fail(n, "bad value for \"" + key + "\": " + value.dump());
}

Step ParseStep(int n, const json& body) {
  if (!body.is_object()) Fail(n, "a step is an object with one verb");
  const VerbRule* rule = nullptr;
  for (const auto& [key, value] : body.items()) {
    if (Modifiers().count(key)) {
      CheckModifier(n, key, value);
      continue;
    }
    const VerbRule* found = nullptr;
    for (const VerbRule& v : Verbs()) {
      if (key == v.name) found = &v;
    }
    if (found == nullptr) Fail(n, "unknown verb '" + key + "'");
    if (rule != nullptr)
      Fail(n, "more than one verb ('" + std::string(rule->name) + "', '" + key + "')");
    rule = found;
  }
  if (rule == nullptr) Fail(n, "no verb");
  const json& value = body.at(rule->name);
  using V = VerbRule::Value;
  switch (rule->value) {
    case V::Name:
      if (!value.is_string() || value.get<std::string>().empty()) {
        Fail(n, std::string("'") + rule->name + "' needs a name");
      }
      break;
    case V::True:
      if (value != json(true)) Fail(n, std::string("'") + rule->name + "' takes true");
      break;
    case V::Answers:
      if (!value.is_array()) Fail(n, "'answers' takes an array of \"yes\" and \"no\"");
      for (const json& a : value) {
        if (a != "yes" && a != "no") Fail(n, "unknown answer " + a.dump() + " (\"yes\" or \"no\")");
      }
      break;
    case V::Object:
      if (!value.is_object() || value.empty())
        Fail(n, "'expect' takes an object of keys and values");
      break;
  }
  for (const char* key : rule->required) {
    if (!body.contains(key)) Fail(n, std::string("'") + rule->name + "' needs \"" + key + "\"");
  }
  Step step;
  step.number = n;
  step.verb = rule->verb;
  step.body = body;
  return step;
}

std::optional<std::string> OptText(const json& object, const char* key, const char* where) {
  if (!object.contains(key)) return std::nullopt;
  if (!object.at(key).is_string()) {
    throw SessionError(std::string(where) + "." + key + " must be a text");
  }
  return object.at(key).get<std::string>();
}

bool IsProperty(const std::string& p) {
  static const std::set<std::string> kProperties = {
      "text",      "displayText", "caption",  "hint",       "enabled", "visible",      "focused",
      "itemIndex", "editMask",    "readOnly", "activePage", "value",   "selectedField"};
  return kProperties.count(p) > 0;
}

bool IsColumnProperty(const std::string& p) {
  static const std::set<std::string> kProperties = {"pickList", "buttonStyle", "readOnly", "title",
                                                    "width"};
  return kProperties.count(p) > 0;
}

std::optional<std::string> CheckExpectKey(const std::string& key, const ui::Form& form,
                                          const GlobalLookup& globals) {
  const std::vector<std::string> parts = SplitKey(key);
  if (parts.size() < 2) return "expectation key '" + key + "' needs a name and a property";
  const std::string& head = parts[0];
  if (head == "host") {
    if (parts.size() != 2 || !IsHostState(parts[1])) return "unknown host state '" + key + "'";
    return std::nullopt;
  }
  if (head == "global") {
    data::Variant ignored;
    if (parts.size() != 2 || !globals || !globals(parts[1], &ignored)) {
      return "unknown global '" + key.substr(7) + "'";
    }
    return std::nullopt;
  }
  if (form.FindDataSet(head) != nullptr) {
    // count, state, rows, filter, changeCount or a field (with ".text").
    if (parts.size() > 3 || (parts.size() == 3 && parts[2] != "text")) {
      return "unknown dataset key '" + key + "'";
    }
    return std::nullopt;
  }
  const ui::Control* control = form.Find(head);
  if (control == nullptr) return "unknown control or dataset '" + head + "'";
  if (parts.size() == 3) {
    if (dynamic_cast<const ui::DataGrid*>(control) == nullptr) {
      return "'" + head + "' is not a grid (in '" + key + "')";
    }
    if (!IsColumnProperty(parts[2])) return "unknown column property '" + parts[2] + "'";
    return std::nullopt;
  }
  if (parts.size() != 2 || !IsProperty(parts[1])) {
    return "unknown property '" + key.substr(head.size() + 1) + "' of control '" + head + "'";
  }
  if (!ui::ReadProperty(*control, parts[1])) {
    return "control '" + head + "' has no property '" + parts[1] + "'";
  }
  return std::nullopt;
}

}  // namespace

const char* VerbName(Verb verb) {
  for (const VerbRule& v : Verbs()) {
    if (v.verb == verb) return v.name;
  }
  return "?";
}

std::string Step::Target() const {
  const json& v = Value();
  return v.is_string() ? v.get<std::string>() : std::string();
}

bool IsHostState(const std::string& name) {
  static const std::set<std::string> kStates = {"waiting",    "failure",       "error",
                                                "PboOpcao",   "PNrGradeDistr", "PstNrInsc",
                                                "PstTpTrans", "PstIdFrete"};
  return kStates.count(name) > 0;
}

std::optional<char> KeyCode(const std::string& text) {
  if (text.size() == 1) return text[0];
  if (text == "Enter") return '\r';
  if (text == "Escape") return '\x1b';
  if (text == "Backspace") return '\b';
  if (text == "Tab") return '\t';
  return std::nullopt;
}

std::vector<std::string> SplitKey(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(key);
  while (std::getline(in, part, '.')) parts.push_back(part);
  return parts;
}

Session ParseSession(const json& json, const std::string& base_dir) {
  if (!json.is_object()) throw SessionError("a session is a JSON object");
  // Step bodies are copied, compared and printed into the trace.
  if (data::JsonValueDepth(json) > data::kMaxJsonDepth) {
    throw SessionError("the session nests more than " + std::to_string(data::kMaxJsonDepth) +
                       " levels deep");
  }
  for (const auto& [key, value] : json.items()) {
    if (key != "fixture" && key != "host" && key != "launch" && key != "steps" && key != "faults") {
      throw SessionError("unknown session key '" + key + "'");
    }
  }
  Session session;
  // Without a fixture the session plays on the host's database as it
  // stands (a distributor's own data).
  if (json.contains("fixture")) {
    if (!json.at("fixture").is_string()) {
      throw SessionError("\"fixture\" must name the fixture file");
    }
    const std::filesystem::path fixture = json.at("fixture").get<std::string>();
    session.fixture_path = fixture.is_absolute()
                               ? fixture.string()
                               : (std::filesystem::path(base_dir) / fixture).string();
  }
  if (json.contains("host")) {
    const auto& host = json.at("host");
    if (!host.is_object()) throw SessionError("\"host\" must be an object");
    session.branch = OptText(host, "branch", "host");
    session.operator_code = OptText(host, "operator", "host");
    session.picture = OptText(host, "picture", "host");
  }
  if (json.contains("launch")) {
    const auto& launch = json.at("launch");
    if (!launch.is_object()) throw SessionError("\"launch\" must be an object");
    if (launch.contains("items")) {
      const auto& items = launch.at("items");
      const bool rows = items.is_array() && std::all_of(items.begin(), items.end(),
                                                        [](auto& r) { return r.is_object(); });
      if (items != "all" && items != "ready" && !rows) {
        throw SessionError("launch.items must be \"all\", \"ready\" or an array of item rows");
      }
      session.launch_items = items;
    }
    if (launch.contains("relaunch")) {
      const auto& n = launch.at("relaunch");
      if (!n.is_number_integer() || n.get<double>() < 0 || n.get<double>() > kMaxRelaunch) {
        throw SessionError("launch.relaunch must be a count from 0 to " +
                           std::to_string(kMaxRelaunch));
      }
      session.relaunch = n.get<int>();
    }
  }
  if (!json.contains("steps") || !json.at("steps").is_array()) {
    throw SessionError("the session needs \"steps\", an array");
  }
  int n = 0;
  for (const auto& step : json.at("steps")) session.steps.push_back(ParseStep(++n, step));
  if (json.contains("faults")) session.faults = ParseFaults(json.at("faults"));
  return session;
}

Session ParseSessionText(std::string_view text, const std::string& base_dir,
                         const std::string& name) {
  nlohmann::json json;
  try {
    json = data::ParseJson(text);
  } catch (const data::JsonTextError& e) {
    throw SessionError(name + ": " + e.what());
  }
  return ParseSession(json, base_dir);
}

Session LoadSession(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SessionError("cannot read the session file " + path);
  std::stringstream text;
  text << in.rdbuf();
  return ParseSessionText(text.str(), std::filesystem::path(path).parent_path().string(), path);
}

std::optional<std::string> CheckNames(const Session& session, const ui::Form& form,
                                      const GlobalLookup& globals) {
  for (const Step& step : session.steps) {
    const auto fail = [&](const std::string& what) {
      return "step " + std::to_string(step.number) + ": " + what;
    };
    if (step.verb == Verb::Expect) {
      for (const auto& [key, want] : step.Value().items()) {
        if (auto error = CheckExpectKey(key, form, globals)) return fail(*error);
      }
      continue;
    }
    const std::string name = step.Target();
    if (name.empty()) continue;
    const ui::Control* control = form.Find(name);
    if (step.verb == Verb::Tab) {
      if (dynamic_cast<const ui::TabSheet*>(control) == nullptr) {
        return fail("unknown page '" + name + "'");
      }
      continue;
    }
    if (control == nullptr) return fail("unknown control '" + name + "'");
    const bool grid = dynamic_cast<const ui::DataGrid*>(control) != nullptr;
    if ((step.verb == Verb::Grid || step.verb == Verb::Edit || step.verb == Verb::Post) && !grid) {
      return fail("'" + name + "' is not a grid");
    }
    if (step.verb == Verb::Select && dynamic_cast<const ui::ComboBox*>(control) == nullptr) {
      return fail("'" + name + "' is not a combo box");
    }
    if (step.verb == Verb::Grid && step.body.contains("column") && grid) {
      // A grid without columns of its own shows those of its open dataset;
      // before that its columns are unknown.
      const auto& g = dynamic_cast<const ui::DataGrid&>(*control);
      const std::string column = step.body.at("column").get<std::string>();
      if (g.ColumnCount() > 0 && g.ColumnIndexOf(column) < 0) {
        return fail("unknown column '" + column + "' of grid '" + name + "'");
      }
    }
  }
  return std::nullopt;
}

}  // namespace dg::host
