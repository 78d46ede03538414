// The trace of a scripted session: one JSON object per line, in the order
// things happened (the line shapes are a public interface; see the README's
// "Scripted sessions").
//
// A step's line is written when the step starts doing something visible
// (its first event) or when it ends, so that a step the screen refused
// carries "ignored" with the reason. Lines can be held back (while the
// session is checked against the screen) and then written or dropped.
//
// Not copyable; the user-interface thread only.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/net_connection.h"
#include "contracts/query.h"
#include "data/variant.h"
#include "ui/user_actions.h"

namespace dg::host {

// The five caller variables a launch hands to the screen. Copyable.
struct HandBack {
  bool PboOpcao = false;
  std::string PNrGradeDistr, PstNrInsc, PstTpTrans, PstIdFrete;
};

// ---- Line shapes.
// A value as the trace shows it: a packet as {"packet": {"rows": N,
// "fields": [...]}}, a date-time as ISO text, an array as a JSON array.
nlohmann::json TraceValue(const data::Variant& value);
nlohmann::json CallEvent(const contracts::CallRecord& call);
nlohmann::json QueryEvent(const contracts::QueryRecord& query);
// Element 0, an Int holding the address of a NUL-terminated text, shows
// as {"pointer": "text"} (0 stays 0).
nlohmann::json ModuleEvent(const std::string& module, const data::VariantArray& args);
nlohmann::json ResultEvent(const HandBack& values);
nlohmann::json ExpectEvent(const std::string& key, bool ok, const nlohmann::json& want,
                           const nlohmann::json& got);
nlohmann::json FailureEvent(const std::string& text);

class Trace {
 public:
  // `out` null: nothing is written (the events still count).
  explicit Trace(std::ostream* out) : out_(out) {}
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  void Write(const nlohmann::json& event);

  // The step's line waits for its first event or for EndStep.
  void BeginStep(int number, const nlohmann::json& step);
  // Writes the step's line if still waiting, with "ignored" unless Done.
  void EndStep(ui::Outcome outcome);

  // Keeps lines in memory until Release (written) or Drop (forgotten).
  void Hold() { holding_ = true; }
  void Release();
  void Drop();

 private:
  void Emit(const nlohmann::json& event);
  void FlushStep();

  std::ostream* out_;
  bool holding_ = false;
  std::vector<nlohmann::json> held_;
  nlohmann::json pending_step_;
};

}  // namespace dg::host
