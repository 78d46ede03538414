#include "host/server_connection.h"

#include <cstdlib>
#include <fstream>

#include "appserver/process_mark.h"

namespace dg::host {

std::optional<std::string> ScriptedPassword(const Options& o) {
  if (!o.password_file.empty()) {
    std::ifstream in(o.password_file);
    std::string line;
    if (!in || !std::getline(in, line)) {
      throw UsageError("cannot read the password file " + o.password_file);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (const char* env = std::getenv("EXP_PASSWORD"); env && *env) return std::string(env);
  return std::nullopt;
}

std::shared_ptr<server::HttpTransport> ConnectServer(const Options& o, const AskSignIn& ask,
                                                     server::HttpClientOptions* client,
                                                     std::string* operator_code) {
  const auto [host, port] = ParseServerUrl(o.server);
  client->tls = IsHttpsUrl(o.server);
  client->ca_file = o.ca_file;
  client->operator_code = o.operator_code;
  auto http = std::make_shared<server::HttpTransport>(host, port, *client);
  if (!http->ServerRequiresSignIn()) return http;
  const std::optional<std::string> password = ScriptedPassword(o);

  std::string code = o.operator_code, why;
  if (password) {
    http->SignIn(code, *password);
  } else if (!ask) {
    throw UsageError("the server " + o.server +
                     " requires sign-in: give --operator CODE and the password in EXP_PASSWORD "
                     "or --password-file FILE");
  } else {
    std::string shown = o.operator_given ? code : "";
    for (;;) {
      const auto given = ask(o.server, shown, why);
      if (!given) throw SignInCancelled();
      try {
        code = given->first;
        http->SignIn(code, given->second);
        break;
      } catch (const data::ServerCallError& e) {
        why = e.what();
        shown = code;  // refused: the clerk types the password again, not the operator
      }
    }
  }
  client->session_token = http->session_token();
  *operator_code = code;
  return http;
}

namespace {

// The grids this operator's processes on this machine hold that `whose`
// picks, released on the server; best effort, as ReleaseAbandonedGrids.
std::vector<server::OpenGrid> ReleaseHeld(server::HttpTransport& http, const std::string& branch,
                                          const std::function<bool(const std::string&)>& whose,
                                          const char* which, std::ostream* log) {
  try {
    std::vector<server::HeldGrid> held = http.HeldGrids(branch);
    std::erase_if(held, [&](const server::HeldGrid& g) { return !whose(g.process); });
    if (held.empty()) return {};
    return http.ReleaseHeldGrids(branch, held);
  } catch (const std::exception& e) {
    if (log != nullptr) {
      *log << "exp-host: " << which << " were not released (" << e.what() << ")" << std::endl;
    }
    return {};
  }
}

}  // namespace

std::vector<server::OpenGrid> ReleaseAbandonedGrids(server::HttpTransport& http,
                                                    const std::string& branch, std::ostream* log) {
  return ReleaseHeld(http, branch, server::ProcessIsGone,
                     "the grids left open by a session that ended without closing them", log);
}

std::vector<server::OpenGrid> ReleaseOwnGrids(server::HttpTransport& http,
                                              const std::string& branch, std::ostream* log) {
  const std::string& self = server::ThisProcessMark();
  return ReleaseHeld(
      http, branch, [&self](const std::string& process) { return process == self; },
      "the grids of this desktop", log);
}

SessionRenewal::SessionRenewal(std::shared_ptr<server::HttpTransport> signer, std::string server,
                               std::string operator_code, AskSignIn ask)
    : signer_(std::move(signer)),
      server_(std::move(server)),
      operator_code_(std::move(operator_code)),
      ask_(std::move(ask)),
      token_(signer_->session_token()) {}

std::string SessionRenewal::token() const {
  std::lock_guard lock(mu_);
  return token_;
}

std::string SessionRenewal::Renew(const std::string& stale) {
  {
    std::lock_guard lock(mu_);
    if (token_ != stale) return token_;
    // A call made while the dialog is up (its own event loop runs) is
    // refused as the server refused it.
    if (asking_) throw data::ServerCallError(server::kSessionEnded);
    asking_ = true;
  }
  struct Asked {
    SessionRenewal* self;
    ~Asked() {
      std::lock_guard lock(self->mu_);
      self->asking_ = false;
    }
  } asked{this};
  std::string why = server::kSessionEnded;
  for (;;) {
    const auto given = ask_(server_, operator_code_, why);
    if (!given) throw data::ServerCallError(server::kSessionEnded);
    // The screen's work, its open grid included, is the operator's.
    if (given->first != operator_code_) {
      why = "Esta tela é do operador " + operator_code_ + ": entre como " + operator_code_ + ".";
      continue;
    }
    try {
      signer_->SignIn(operator_code_, given->second);
      break;
    } catch (const data::ServerCallError& e) {
      why = e.what();
    }
  }
  std::lock_guard lock(mu_);
  token_ = signer_->session_token();
  return token_;
}

data::CallReply RenewingTransport::Call(const std::string& server_name, const std::string& method,
                                        const std::vector<data::Variant>& args) {
  const std::string carried = inner_->session_token();
  try {
    return inner_->Call(server_name, method, args);
  } catch (const data::ServerCallError& e) {
    // Refused before the server read it: making it again is safe.
    if (std::string(e.what()) != server::kSessionEnded) throw;
  }
  inner_->UseSession(renewal_->Renew(carried));
  return inner_->Call(server_name, method, args);
}

}  // namespace dg::host
