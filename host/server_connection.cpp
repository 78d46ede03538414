#include "host/server_connection.h"

#include <cstdlib>
#include <fstream>

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
    for (;;) {
      const auto given = ask(o.server, o.operator_given ? code : "", why);
      if (!given) throw SignInCancelled();
      try {
        code = given->first;
        http->SignIn(code, given->second);
        break;
      } catch (const data::ServerCallError& e) {
        why = e.what();
      }
    }
  }
  client->session_token = http->session_token();
  *operator_code = code;
  return http;
}

}  // namespace dg::host
