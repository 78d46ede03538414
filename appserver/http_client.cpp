// The HTTP client of the server object: HttpTransport, one kept connection
// to an exp-appserver, with its sign-in and the clerk's words for each way a
// call can fail.
#include <httplib.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "appserver/transport.h"
#include "data/json_text.h"
#include "data/packet.h"
#include "data/wire_json.h"

namespace dg::server {

using data::CallReply;
using data::ServerCallError;
using data::TransportError;
using data::Variant;
using nlohmann::json;

struct HttpTransport::Impl {
  Impl(const std::string& host, int port, bool tls)
      : client((tls ? "https://" : "http://") +
               (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
               std::to_string(port)),
        where(host + ":" + std::to_string(port)) {}
  // Sends one request with `send` (which runs it on `client`), on the kept
  // connection while the server still keeps it, and once more on a new
  // connection when the kept one failed before the request left whole.
  // REQUIRES: `mu` held.
  httplib::Result Exchange(const std::function<httplib::Result()>& send);

  mutable std::mutex mu;
  httplib::Client client;  // GUARDED_BY(mu)
  int socket = -1;         // GUARDED_BY(mu); the client's latest, open or not
  std::string where;
  httplib::Headers headers;
  // How long the kept connection may still be reused after its last answer,
  // from what the server announced (Keep-Alive: timeout=N); unknown until
  // an answer says it.
  std::optional<std::chrono::milliseconds> reuse_for;  // GUARDED_BY(mu)
  std::chrono::steady_clock::time_point answered_at;   // GUARDED_BY(mu)
};

namespace {
// What went wrong on the way, in the clerk's words.
const char* ClerkCause(httplib::Error error) {
  switch (error) {
    case httplib::Error::Connection:
      return "não aceita conexão (fora do ar ou endereço errado)";
    case httplib::Error::ConnectionTimeout:
      return "não respondeu a tempo à conexão";
    case httplib::Error::Read:
      return "a resposta não chegou (a conexão caiu ou o servidor demorou demais)";
    case httplib::Error::Write:
      return "o pedido não pôde ser enviado (a conexão caiu)";
    case httplib::Error::SSLConnection:
      return "a conexão segura falhou";
    case httplib::Error::SSLServerVerification:
      return "o certificado do servidor não pôde ser verificado (uma autoridade privada pede "
             "--ca ARQUIVO)";
    default:
      return "falha de comunicação";
  }
}

// Why the server at `where` gave no answer, in the clerk's words, with the
// transport's own name of the failure kept for whoever reads the log.
TransportError Unreachable(const std::string& where, httplib::Error error) {
  return TransportError("Servidor de aplicação " + where + " inacessível: " + ClerkCause(error) +
                        " [" + httplib::to_string(error) + "].");
}

// While it lives, a write to a connection the server has reset fails on
// this thread instead of ending the process: a TLS session writes through
// write(), which raises SIGPIPE. A SIGPIPE raised meanwhile is taken off
// the thread before the mask is restored, unless one was already waiting.
class PipeSignalBlocked {
 public:
  PipeSignalBlocked() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~PipeSignalBlocked() {
    sigset_t pending;
    sigpending(&pending);
    if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalBlocked(const PipeSignalBlocked&) = delete;
  PipeSignalBlocked& operator=(const PipeSignalBlocked&) = delete;

 private:
  sigset_t pipe_, previous_;
  bool was_pending_ = false;
};

// A kept connection has nothing to read between answers: when it has, the
// server ended it (a TLS close alert or the end of the stream after the
// server's idle limit, or the server went away). Such a connection is
// closed here so that the next request opens a new one; a TLS session
// would otherwise take the alert's bytes for a live connection and send
// the request into it.
void DropEndedConnection(httplib::Client& client, int socket) {
  if (socket < 0 || client.is_socket_open() == 0) return;
  pollfd p{socket, POLLIN, 0};
  if (::poll(&p, 1, 0) > 0) client.stop();
}

// How long a connection the server keeps for `limit` after an answer is
// reused here: the server's clock starts when it has written the answer,
// this one when the answer has been read, and a request takes a moment to
// arrive; a quarter of the limit, and at least half a second, is left for
// that, so that the server never ends the connection under a request that
// is on its way.
std::chrono::milliseconds ReuseWindow(std::chrono::seconds limit) {
  using std::chrono::milliseconds;
  const milliseconds whole = limit;
  return std::max(milliseconds(0), std::min(whole * 3 / 4, whole - milliseconds(500)));
}

// The idle limit a server announces in an answer ("Keep-Alive: timeout=N,
// max=M"); none when the answer does not say.
std::optional<std::chrono::seconds> AnnouncedIdleLimit(const httplib::Response& res) {
  const std::string value = res.get_header_value("Keep-Alive");
  const std::size_t at = value.find("timeout=");
  if (at == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const long seconds = std::strtol(value.c_str() + at + 8, &end, 10);
  if (end == value.c_str() + at + 8 || seconds < 0) return std::nullopt;
  return std::chrono::seconds(seconds);
}

// The server's answer, read with the same limits as what comes from
// outside; null when it is not JSON (reported by its status instead).
json ReadAnswer(const std::string& body) {
  try {
    return data::ParseJson(body);
  } catch (const data::JsonTextError&) {
    return json();
  }
}
}  // namespace

HttpTransport::HttpTransport(const std::string& host, int port, HttpClientOptions options)
    : impl_(std::make_unique<Impl>(host, port, options.tls)) {
  httplib::Client& c = impl_->client;
  if (options.tls) {
    c.enable_server_certificate_verification(true);
    if (!options.ca_file.empty()) {
      if (!std::filesystem::exists(options.ca_file)) {
        throw Error("there is no certificate authority file " + options.ca_file);
      }
      c.set_ca_cert_path(options.ca_file);
    }
  }
  c.set_keep_alive(true);
  c.set_tcp_nodelay(true);
  // Called on the requesting thread, under `mu`, for each new connection.
  c.set_socket_options([impl = impl_.get()](int socket) { impl->socket = socket; });
  c.set_connection_timeout(options.connect_timeout);
  c.set_read_timeout(options.read_timeout);
  c.set_write_timeout(options.read_timeout);
  std::string secret = options.secret;
  if (const char* env = std::getenv("EXP_SERVER_SECRET"); secret.empty() && env) secret = env;
  if (!secret.empty()) impl_->headers.emplace(kSecretHeader, secret);
  if (!IsValidOperatorCode(options.operator_code)) {
    throw Error("the operator code" + OperatorCodeRule());
  }
  if (!options.operator_code.empty()) {
    impl_->headers.emplace(kOperatorHeader, options.operator_code);
  }
  if (!options.session_token.empty()) {
    impl_->headers.emplace(kSessionHeader, options.session_token);
  }
  if (!IsValidProcessMark(options.process)) {
    throw Error(std::string("the process mark does not fit the header ") + kProcessHeader);
  }
  if (!options.process.empty()) impl_->headers.emplace(kProcessHeader, options.process);
}

std::string HttpTransport::session_token() const {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->headers.find(kSessionHeader);
  return it == impl_->headers.end() ? "" : it->second;
}

void HttpTransport::UseSession(const std::string& token) {
  std::lock_guard lock(impl_->mu);
  impl_->headers.erase(kSessionHeader);
  if (!token.empty()) impl_->headers.emplace(kSessionHeader, token);
}

HttpTransport::~HttpTransport() = default;

httplib::Result HttpTransport::Impl::Exchange(const std::function<httplib::Result()>& send) {
  const PipeSignalBlocked no_pipe_signal;
  DropEndedConnection(client, socket);
  if (client.is_socket_open() != 0 && reuse_for &&
      std::chrono::steady_clock::now() - answered_at >= *reuse_for) {
    client.stop();
  }
  const bool reused = client.is_socket_open() != 0;
  httplib::Result res = send();
  // The server ends a kept connection only between requests (its idle
  // limit, its request limit, its stop), so a request sent just as it does
  // so fails. It is sent again, once and on a new connection, only when it
  // failed while it was being written: the server dispatches a call only
  // after it has read the whole request, header and body, and a connection
  // it has ended delivers no more of it, so none of that request can have
  // run. A request that left whole and got no answer is never sent again:
  // a server that died after running it looks the same from here.
  if (!res && reused && res.error() == httplib::Error::Write) {
    client.stop();
    res = send();
  }
  if (res) {
    answered_at = std::chrono::steady_clock::now();
    if (const auto limit = AnnouncedIdleLimit(*res)) reuse_for = ReuseWindow(*limit);
  }
  return res;
}

std::pair<int, std::string> HttpTransport::Send(const std::string& path, const std::string& body) {
  std::lock_guard lock(impl_->mu);
  auto res = impl_->Exchange(
      [&] { return impl_->client.Post(path, impl_->headers, body, "application/json"); });
  if (!res) throw Unreachable(impl_->where, res.error());
  return {res->status, std::move(res->body)};
}

namespace {
// Puts back into `answered` the arguments the answer left out (`absent`
// names them), as they were `sent`; false when the answer does not match
// the call: another count, or an index out of range, repeated or not whole.
bool RestoreAbsent(const std::vector<Variant>& absent, const std::vector<Variant>& sent,
                   std::vector<Variant>& answered) {
  if (answered.size() != sent.size()) return false;
  std::vector<bool> restored(sent.size(), false);
  for (const Variant& a : absent) {
    if (!a.IsNumeric()) return false;
    const double at = a.ToDouble();
    if (!(at >= 0 && at < static_cast<double>(sent.size())) || at != std::floor(at)) return false;
    const auto i = static_cast<std::size_t>(at);
    if (restored[i]) return false;
    restored[i] = true;
    answered[i] = sent[i];
  }
  return true;
}

// The answer as an object; throws ServerCallError with the server's text
// for a failure it reported, or naming the HTTP status.
json CheckedAnswer(int status, const std::string& body) {
  const json answer = ReadAnswer(body);
  if (answer.is_object() && answer.contains("error") && answer["error"].is_string()) {
    const std::string text = answer["error"].get<std::string>();
    // The connection's own refusals carry the server's technical text; the
    // clerk is told what happened and that trying again is safe (nothing ran).
    if (status == 503) {
      throw data::CallNotRunError("Servidor de aplicação ocupado: tente de novo em instantes [" +
                                  text + "].");
    }
    if (status == 408) {
      throw data::CallNotRunError(
          "O pedido não chegou inteiro ao servidor de aplicação a tempo; tente de novo [" + text +
          "].");
    }
    throw ServerCallError(text);
  }
  if (status != 200 || !answer.is_object()) {
    throw ServerCallError("O servidor de aplicação respondeu HTTP " + std::to_string(status) +
                          " sem dizer o motivo.");
  }
  return answer;
}
}  // namespace

json HttpTransport::Post(const std::string& path, const std::string& body) {
  const auto [status, answer] = Send(path, body);
  return CheckedAnswer(status, answer);
}

CallReply HttpTransport::Call(const std::string& server_name, const std::string& method,
                              const std::vector<Variant>& args) {
  // The document {"server": ..., "method": ..., "args": [...]}, written
  // straight from the values.
  // A packet the method does not replace need not travel back.
  data::WireWriter request;
  request.Raw("{\"answer\":").Text(kAnswerWritten).Raw(",\"args\":").Values(args);
  request.Raw(",\"method\":").Text(method).Raw(",\"server\":").Text(server_name).Raw("}");
  const auto [status, answer_text] = Send("/call", request.Take());
  if (status == 200) {
    // The common answers, read straight into the values.
    CallReply reply;
    std::vector<Variant> absent;
    const data::WireMember leaving_out[] = {{"absent", nullptr, nullptr, &absent},
                                            {"args", nullptr, nullptr, &reply.args},
                                            {"result", nullptr, &reply.result}};
    if (data::TryReadWireObject(answer_text, leaving_out) &&
        RestoreAbsent(absent, args, reply.args)) {
      return reply;
    }
    const data::WireMember members[] = {{"args", nullptr, nullptr, &reply.args},
                                        {"result", nullptr, &reply.result}};
    if (data::TryReadWireObject(answer_text, members) && reply.args.size() == args.size()) {
      return reply;
    }
  }
  const json answer = CheckedAnswer(status, answer_text);
  try {
    CallReply reply;
    reply.result = data::VariantFromJson(answer.at("result"));
    for (const json& a : answer.at("args")) reply.args.push_back(data::VariantFromJson(a));
    std::vector<Variant> absent;
    if (answer.contains("absent")) {
      for (const json& a : answer.at("absent")) absent.push_back(data::VariantFromJson(a));
    }
    if (!RestoreAbsent(absent, args, reply.args)) throw Error("argument count changed");
    return reply;
  } catch (const std::exception& e) {
    throw TransportError("O servidor de aplicação deu uma resposta ilegível [" +
                         std::string(e.what()) + "].");
  }
}

void HttpTransport::PostFixture(const json& fixture, bool discard_dispatched) {
  Post(discard_dispatched ? "/fixture?dispatched=discard" : "/fixture", fixture.dump());
}

std::vector<HeldGrid> HttpTransport::HeldGrids(const std::string& branch) {
  const json answer = Post("/grids/held", json{{"branch", branch}}.dump());
  std::vector<HeldGrid> grids;
  try {
    for (const json& g : answer.at("grids")) {
      grids.push_back({g.at("grid").get<std::string>(), g.at("process").get<std::string>()});
    }
  } catch (const json::exception& e) {
    throw TransportError("O servidor de aplicação deu uma resposta ilegível [" +
                         std::string(e.what()) + "].");
  }
  return grids;
}

std::vector<OpenGrid> HttpTransport::ReleaseHeldGrids(const std::string& branch,
                                                      const std::vector<HeldGrid>& grids) {
  json listed = json::array();
  for (const HeldGrid& g : grids) listed.push_back({{"grid", g.grid}, {"process", g.process}});
  const json answer =
      Post("/grids/held/release", json{{"branch", branch}, {"grids", listed}}.dump());
  std::vector<OpenGrid> released;
  try {
    for (const json& g : answer.at("released")) {
      OpenGrid& r = released.emplace_back();
      r.branch = branch;
      r.grid = g.at("grid").get<std::string>();
      r.opened = g.at("opened").get<std::string>();
      r.last_activity = g.at("last_activity").get<std::string>();
      r.allocations = g.at("allocations").get<int>();
      r.weight = g.at("weight").get<double>();
    }
  } catch (const json::exception& e) {
    throw TransportError("O servidor de aplicação deu uma resposta ilegível [" +
                         std::string(e.what()) + "].");
  }
  return released;
}

bool HttpTransport::ServerRequiresSignIn() {
  std::lock_guard lock(impl_->mu);
  auto res = impl_->Exchange([&] { return impl_->client.Get("/health", impl_->headers); });
  if (!res) throw Unreachable(impl_->where, res.error());
  const json answer = ReadAnswer(res->body);
  if (!answer.is_object() || !answer.contains("signin")) return false;
  return answer["signin"].is_boolean() && answer["signin"].get<bool>();
}

std::vector<std::string> HttpTransport::SignIn(const std::string& operator_code,
                                               const std::string& password) {
  const json answer =
      Post("/signin", json{{"operator", operator_code}, {"password", password}}.dump());
  if (!answer.contains("token") || !answer["token"].is_string()) {
    throw TransportError(
        "O servidor de aplicação deu uma resposta ilegível à entrada do operador [no token].");
  }
  std::lock_guard lock(impl_->mu);
  impl_->headers.erase(kSessionHeader);
  impl_->headers.emplace(kSessionHeader, answer["token"].get<std::string>());
  std::vector<std::string> branches;
  if (answer.contains("branches") && answer["branches"].is_array()) {
    for (const json& b : answer["branches"]) {
      if (b.is_string()) branches.push_back(b.get<std::string>());
    }
  }
  return branches;
}

void HttpTransport::SignOut() {
  try {
    Post("/signout", "{}");
  } catch (const std::exception&) {
  }
  std::lock_guard lock(impl_->mu);
  impl_->headers.erase(kSessionHeader);
}

}  // namespace dg::server
