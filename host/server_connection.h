// The host's connection to a running application server (--server): plain
// HTTP or HTTPS, and the operator's sign-in when the server requires it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "appserver/transport.h"
#include "host/host.h"

namespace dg::host {

// The operator gave up signing in (a UsageError: nothing ran).
class SignInCancelled : public UsageError {
 public:
  SignInCancelled() : UsageError("sign-in cancelled") {}
};

// Asks the operator for code and password (the desktop's sign-in dialog):
// the server's address, the code to suggest, and why it asks again (empty
// the first time). None when the operator gives up.
using AskSignIn = std::function<std::optional<std::pair<std::string, std::string>>(
    const std::string& server, const std::string& operator_code, const std::string& why)>;

// The password for a scripted run: the first line of --password-file, else
// the environment variable EXP_PASSWORD; none when neither is given.
// Throws UsageError when the file cannot be read.
std::optional<std::string> ScriptedPassword(const Options& o);

// Connects to o.server. When the server requires sign-in, signs in as o.operator_code with the
// scripted password, else asks through `ask` until the server accepts or the operator gives up.
// `client` comes back as every further connection to the server must be
// made (the same session). The operator who signed in goes to
// `*operator_code`. Throws UsageError when sign-in is needed and there is
// no way to get a password, SignInCancelled when the operator gave up;
// ServerCallError when
// the server refused the scripted password; TransportError when the
// server cannot be reached or its certificate cannot be verified.
std::shared_ptr<server::HttpTransport> ConnectServer(const Options& o, const AskSignIn& ask,
                                                     server::HttpClientOptions* client,
                                                     std::string* operator_code);

}  // namespace dg::host
