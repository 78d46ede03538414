// The host's connection to a running application server (--server): plain
// HTTP or HTTPS, and the operator's sign-in when the server requires it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

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

// The grids of `branch` that this operator's desktop processes on this
// machine left open when they died (killed, or the machine restarted),
// released on the server so that their vehicles' room is free again.
// Best effort: a server that cannot say (an older one, or one lost) leaves
// them to its release of idle grids, and `log`, when given, is told why.
std::vector<server::OpenGrid> ReleaseAbandonedGrids(server::HttpTransport& http,
                                                    const std::string& branch, std::ostream* log);

// The grids this process holds, released on the server: a desktop stopped
// by the system (shutdown, its session closed) gives their room back at
// once rather than at its next launch. Best effort, as above.
std::vector<server::OpenGrid> ReleaseOwnGrids(server::HttpTransport& http,
                                              const std::string& branch, std::ostream* log);

// When a signed-in operator's session ends while the screen is open (it
// idled out, or an administrator ended it), the server refuses the next
// call before reading it. On the desktop the operator is asked to sign in
// again, as the same operator, and the refused call is made again on the
// new session, which every connection of the host carries from then on.
// Thread-safe; not copyable.
class SessionRenewal {
 public:
  // `signer` signs in again; `operator_code` is the operator of the screen.
  SessionRenewal(std::shared_ptr<server::HttpTransport> signer, std::string server,
                 std::string operator_code, AskSignIn ask);
  SessionRenewal(const SessionRenewal&) = delete;
  SessionRenewal& operator=(const SessionRenewal&) = delete;

  // The session connections carry now.
  std::string token() const;
  // A new session when `stale` is the one connections carry now (asking
  // the operator), else the one they carry. Throws ServerCallError with
  // the server's refusal when the operator gives up or is being asked
  // already, TransportError when the server cannot be reached.
  std::string Renew(const std::string& stale);

 private:
  const std::shared_ptr<server::HttpTransport> signer_;
  const std::string server_, operator_code_;
  const AskSignIn ask_;
  mutable std::mutex mu_;
  std::string token_;    // GUARDED_BY(mu_)
  bool asking_ = false;  // GUARDED_BY(mu_)
};

// A connection whose call refused for an ended session is made once more
// on the session SessionRenewal gives.
class RenewingTransport : public data::CallTransport {
 public:
  RenewingTransport(std::shared_ptr<server::HttpTransport> inner,
                    std::shared_ptr<SessionRenewal> renewal)
      : inner_(std::move(inner)), renewal_(std::move(renewal)) {}
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;

 private:
  std::shared_ptr<server::HttpTransport> inner_;
  std::shared_ptr<SessionRenewal> renewal_;
};

}  // namespace dg::host
