// Server faults a session plays (the session's "faults" key), to show what
// the screen does when the server fails and to replay a failure a clerk met.
// Each fault names a server method or the map module and which of its calls
// (or runs) fail: the nth since the session started, counted across
// launches and connections, or every one. A faulted call fails on this side
// of the transport, so the server behind it never sees it.
//
// The plan and the transports it wraps: the user-interface thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/net_connection.h"
#include "data/rpc.h"

namespace dg::host {

// How a faulted call fails: the server raises `text`; the server answers an
// empty result; the connection is lost before the call reaches the server.
enum class FaultKind { Fail, Empty, Lost };

// One entry of "faults". Intentionally copyable.
struct Fault {
  std::string call;      // a server method; empty for a module fault
  std::string module;    // "EXP03400"; empty for a call fault
  std::int64_t nth = 0;  // 1-based; 0 when `every`
  bool every = false;
  FaultKind kind = FaultKind::Fail;
  std::string text;  // what the server raises (Fail)
};

// Reads the session's "faults" array. SessionError quoting the entry
// ("fault {...}: ...") for an entry that names no method or module, an unknown
// one, more than one kind of fault or none, an nth below 1, or a key it
// does not know.
std::vector<Fault> ParseFaults(const nlohmann::json& faults);

class FaultPlan {
 public:
  explicit FaultPlan(std::vector<Fault> faults) : faults_(std::move(faults)) {}
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  bool Empty() const { return faults_.empty(); }
  // Counts one more call of `method`; the first fault that hits it, if any.
  // LastCallHit() then tells until the next call.
  const Fault* NextCall(const std::string& method);
  // Counts one more run of `module`; the fault that hits it, if any.
  const Fault* NextModuleRun(const std::string& module);
  const Fault* LastCallHit() const { return last_call_hit_; }

 private:
  const Fault* Hit(bool call, const std::string& name, std::int64_t count) const;

  std::vector<Fault> faults_;
  std::map<std::string, std::int64_t> calls_, runs_;
  const Fault* last_call_hit_ = nullptr;
};

// The transport failure of a lost connection, the same over every transport
// so that a session's expectations hold in process and over HTTP.
inline constexpr const char* kLostConnection =
    "the application server cannot be reached: connection lost";

// A transport whose calls go through the plan first: a faulted call raises
// the fault's text (ServerCallError), answers an empty result with the
// arguments as sent, or raises kLostConnection (TransportError); the others
// go on to `inner`.
class FaultyTransport : public data::CallTransport {
 public:
  FaultyTransport(std::shared_ptr<data::CallTransport> inner, std::shared_ptr<FaultPlan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}
  FaultyTransport(const FaultyTransport&) = delete;
  FaultyTransport& operator=(const FaultyTransport&) = delete;

  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;

 private:
  std::shared_ptr<data::CallTransport> inner_;
  std::shared_ptr<FaultPlan> plan_;
};

// The trace line of a call that the plan may have hit: a faulted call is a
// call-failure line ("failed", with "empty": true or "lost": true by its
// kind), never a server-call line.
nlohmann::json TracedCall(const contracts::CallRecord& call, const FaultPlan& plan);

}  // namespace dg::host
