#include "host/faults.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "appserver/grade_server.h"
#include "host/session.h"
#include "host/trace.h"

namespace dg::host {

namespace {

using nlohmann::json;

// The module the screen runs through the host's loader.
constexpr const char* kMapModule = "EXP03400";

// The entry as written, cut short: it names the entry in a message.
std::string Quoted(const json& entry) {
  std::string text = entry.dump(-1, ' ', false, json::error_handler_t::replace);
  constexpr std::size_t kMax = 120;
  if (text.size() > kMax) text = text.substr(0, kMax) + "...";
  return text;
}

Fault ParseFault(const json& entry) {
  const auto fail = [&](const std::string& what) -> Fault {
    throw SessionError("fault " + Quoted(entry) + ": " + what);
  };
  if (!entry.is_object()) return fail("an entry is an object");
  static const std::set<std::string> kKeys = {"call", "module", "nth", "every",
                                              "fail", "empty",  "lost"};
  for (const auto& [key, value] : entry.items()) {
    if (!kKeys.count(key)) return fail("unknown key '" + key + "'");
  }
  Fault fault;
  const bool call = entry.contains("call"), module = entry.contains("module");
  if (call == module)
    return fail("names a server method (\"call\") or the map module (\"module\")");
  if (call) {
    const json& name = entry.at("call");
    const auto methods = server::rdmGradeDistribuicao::MethodNames();
    if (!name.is_string() ||
        std::find(methods.begin(), methods.end(), name.get<std::string>()) == methods.end()) {
      return fail("unknown server method " + Quoted(name));
    }
    fault.call = name.get<std::string>();
  } else {
    const json& name = entry.at("module");
    if (name != kMapModule) {
      return fail("unknown module " + Quoted(name) + " (the screen runs " + kMapModule + ")");
    }
    fault.module = kMapModule;
  }

  const bool nth = entry.contains("nth"), every = entry.contains("every");
  if (nth == every) return fail("says which calls fail with \"nth\" or \"every\"");
  if (every && entry.at("every") != json(true)) return fail("\"every\" takes true");
  if (nth) {
    // Compared as written, so that no count is cut down to a small one.
    const json& n = entry.at("nth");
    if (!n.is_number_integer() || n.get<double>() < 1) {
      return fail("\"nth\" counts calls from 1");
    }
    fault.nth = n.is_number_unsigned() && n.get<std::uint64_t>() > INT64_MAX
                    ? INT64_MAX
                    : n.get<std::int64_t>();
  }
  fault.every = every;

  const int kinds = entry.contains("fail") + entry.contains("empty") + entry.contains("lost");
  if (kinds != 1) return fail("needs one kind of fault: \"fail\", \"empty\" or \"lost\"");
  if (entry.contains("fail")) {
    const json& text = entry.at("fail");
    if (!text.is_string() || text.get<std::string>().empty()) {
      return fail("\"fail\" takes the failure's text");
    }
    fault.kind = FaultKind::Fail;
    fault.text = text.get<std::string>();
  } else {
    const char* key = entry.contains("empty") ? "empty" : "lost";
    if (entry.at(key) != json(true)) return fail(std::string("\"") + key + "\" takes true");
    if (module) return fail("the map module fails with a text (\"fail\")");
    fault.kind = entry.contains("empty") ? FaultKind::Empty : FaultKind::Lost;
  }
  return fault;
}

}  // namespace

std::vector<Fault> ParseFaults(const json& faults) {
  if (!faults.is_array()) throw SessionError("\"faults\" must be an array");
  std::vector<Fault> out;
  for (const json& entry : faults) out.push_back(ParseFault(entry));
  return out;
}

const Fault* FaultPlan::Hit(bool call, const std::string& name, std::int64_t count) const {
  for (const Fault& f : faults_) {
    if ((call ? f.call : f.module) != name) continue;
    if (f.every || f.nth == count) return &f;
  }
  return nullptr;
}

const Fault* FaultPlan::NextCall(const std::string& method) {
  last_call_hit_ = Hit(true, method, ++calls_[method]);
  return last_call_hit_;
}

const Fault* FaultPlan::NextModuleRun(const std::string& module) {
  return Hit(false, module, ++runs_[module]);
}

data::CallReply FaultyTransport::Call(const std::string& server_name, const std::string& method,
                                      const std::vector<data::Variant>& args) {
  const Fault* fault = plan_->NextCall(method);
  if (fault == nullptr) return inner_->Call(server_name, method, args);
  switch (fault->kind) {
    case FaultKind::Fail:
      throw data::ServerCallError(fault->text);
    case FaultKind::Empty:
      return data::CallReply{data::Variant(), args};
    case FaultKind::Lost:
      break;
  }
  throw data::TransportError(kLostConnection);
}

json TracedCall(const contracts::CallRecord& call, const FaultPlan& plan) {
  json event = CallEvent(call);
  const Fault* fault = plan.LastCallHit();
  if (fault == nullptr) return event;
  if (fault->kind == FaultKind::Empty) {
    event.erase("refs");
    event["failed"] = "";
    event["empty"] = true;
  } else if (fault->kind == FaultKind::Lost) {
    event["lost"] = true;
  }
  return event;
}

}  // namespace dg::host
