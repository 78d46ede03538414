// TNetConnection: the client's connection to one application-server object.
// A call names the method and passes positional arguments; by-reference
// arguments are written back from the reply after the call.
//
// The transport comes from a process-wide factory the host sets; it gets the
// connection's host and port at Connect. Every call, successful or failed,
// passes the process-wide call observer (traces). Not copyable; the
// user-interface thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/rpc.h"
#include "data/variant.h"

namespace dg::contracts {

// One argument of a call: a value, or a reference to a caller's string or
// variant that the reply writes back. Intentionally copyable (references
// are borrowed for the call).
class CallArg {
 public:
  CallArg(data::Variant value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  CallArg(const char* text) : value_(text) {}                 // NOLINT
  CallArg(const std::string& text) : value_(text) {}          // NOLINT
  CallArg(int value) : value_(value) {}                       // NOLINT
  CallArg(double value) : value_(value) {}                    // NOLINT
  CallArg(bool value) : value_(value) {}                      // NOLINT

  static CallArg ByRef(std::string& target);
  static CallArg ByRef(data::Variant& target);

  bool IsRef() const { return string_ref_ != nullptr || variant_ref_ != nullptr; }
  // The value sent: the referenced value for a reference.
  data::Variant Value() const;
  // Writes a reply value back into the reference (a string takes the
  // value's text, "" for empty or null). No effect for a value argument.
  void WriteBack(const data::Variant& value) const;

 private:
  CallArg() = default;
  data::Variant value_;
  std::string* string_ref_ = nullptr;
  data::Variant* variant_ref_ = nullptr;
};

inline CallArg ByRef(std::string& target) { return CallArg::ByRef(target); }
inline CallArg ByRef(data::Variant& target) { return CallArg::ByRef(target); }

// What the observer sees of one call. `refs` holds the by-reference values
// after the call, by 1-based argument position; `failure` the failure text
// when the call failed (then `result` is empty).
struct CallRecord {
  std::string server_name;
  std::string method;
  std::vector<data::Variant> args;
  std::map<int, data::Variant> refs;
  data::Variant result;
  std::optional<std::string> failure;
};

using TransportFactory =
    std::function<std::shared_ptr<data::CallTransport>(const std::string& host, int port)>;

class TNetConnection {
 public:
  explicit TNetConnection(std::string name = {});
  ~TNetConnection();
  TNetConnection(const TNetConnection&) = delete;
  TNetConnection& operator=(const TNetConnection&) = delete;

  std::string name;
  std::string server_name;  // e.g. "Exp03200.rdmGradeDistribuicao"
  std::string host;
  int port = 0;
  // Runs at the start of Connect, before the transport is made (it may set
  // host and port).
  std::function<void(TNetConnection&)> before_connect;

  // Fires before_connect, then makes the transport from the factory for
  // host and port. Error when no factory is set. No effect when connected.
  void Connect();
  void Disconnect();
  bool Connected() const { return transport_ != nullptr; }

  // Calls the method. Error when not connected (naming the method); the
  // transport's ServerCallError / TransportError propagate unchanged after
  // the observer saw them. References are written back only on success.
  data::Variant Call(const std::string& method, const std::vector<CallArg>& args);

  // Process-wide.
  static void SetTransportFactory(TransportFactory factory);
  static std::function<void(const CallRecord&)>& Observer();

 private:
  std::shared_ptr<data::CallTransport> transport_;
};

}  // namespace dg::contracts
