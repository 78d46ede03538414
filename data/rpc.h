// The call path between a client and the application server: a late-bound
// call of a method by name with positional variant arguments, some of which
// the server may write back (by-reference arguments).
//
// The client side (the server connection of the host framework) and the
// server side (in-process and HTTP transports) both speak this interface, so
// neither depends on the other.
#pragma once

#include <string>
#include <vector>

#include "data/variant.h"

namespace dg::data {

// A failure the server reported. what() is the server's text unchanged
// ("@QT_EXCEDE" names a message key of the screen).
class ServerCallError : public Error {
 public:
  using Error::Error;
};

// A call the server turned away before running it (too busy, or the request
// did not arrive whole in time): nothing ran, and making it again is safe.
class CallNotRunError : public ServerCallError {
 public:
  using ServerCallError::ServerCallError;
};

// The server could not be reached or stopped answering (connect or read
// timeout, connection lost, malformed answer).
class TransportError : public Error {
 public:
  using Error::Error;
};

// What a call returns: the method's result, and every argument as the
// server left it (same count and order as sent; the caller copies back the
// by-reference ones).
struct CallReply {
  Variant result;
  std::vector<Variant> args;
};

// Carries one call to a server object. Implementations say whether they may
// be used from several threads at once.
class CallTransport {
 public:
  virtual ~CallTransport() = default;
  // Throws ServerCallError for a failure the server reported, TransportError
  // when the server could not be reached.
  virtual CallReply Call(const std::string& server_name, const std::string& method,
                         const std::vector<Variant>& args) = 0;
};

}  // namespace dg::data
