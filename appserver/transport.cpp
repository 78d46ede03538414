#include "appserver/transport.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "appserver/branch_scope.h"
#include "appserver/fixture.h"
#include "appserver/http_connections.h"
#include "appserver/operators.h"
#include "data/json_text.h"
#include "data/packet.h"
#include "data/wire_json.h"

namespace dg::server {

using data::CallReply;
using data::ServerCallError;
using data::TransportError;
using data::Variant;
using nlohmann::json;

CallReply DispatchCall(rdmGradeDistribuicao& server, const std::string& server_name,
                       const std::string& method, const std::vector<Variant>& args,
                       const CallContext& context) {
  if (server_name != kServerName) {
    throw ServerCallError("unknown server " + (server_name.size() > 80
                                                   ? server_name.substr(0, 80) + "..."
                                                   : server_name));
  }
  CallReply reply;
  reply.args = args;
  try {
    reply.result = server.Call(method, reply.args, context);
  } catch (const std::exception& e) {
    throw ServerCallError(e.what());
  }
  return reply;
}

CallReply InProcessTransport::Call(const std::string& server_name, const std::string& method,
                                   const std::vector<Variant>& args) {
  return DispatchCall(*server_, server_name, method, args, context_);
}

CallRequest DecodeCallRequest(std::string_view body) {
  {
    // The common form, read straight into the arguments; any other form is
    // read the general way below, which also words the refusals.
    CallRequest out;
    std::string answer;
    const data::WireMember asking[] = {{"answer", &answer},
                                       {"args", nullptr, nullptr, &out.args},
                                       {"method", &out.method},
                                       {"server", &out.server_name}};
    if (data::TryReadWireObject(body, asking) && answer == kAnswerWritten) {
      out.written_only = true;
      return out;
    }
    const data::WireMember members[] = {{"args", nullptr, nullptr, &out.args},
                                        {"method", &out.method},
                                        {"server", &out.server_name}};
    if (data::TryReadWireObject(body, members)) return out;
  }
  json request;
  try {
    request = data::ParseJson(body);
  } catch (const data::JsonTextError& e) {
    throw RequestError(std::string("the request body is refused: ") + e.what());
  }
  if (!request.is_object()) throw RequestError("the request body is not a JSON object");
  auto server_name = request.find("server");
  auto method = request.find("method");
  auto args = request.find("args");
  if (server_name == request.end() || !server_name->is_string() || method == request.end() ||
      !method->is_string() || args == request.end() || !args->is_array()) {
    throw RequestError("the request needs \"server\" and \"method\" texts and an \"args\" array");
  }
  CallRequest out;
  out.server_name = server_name->get<std::string>();
  out.method = method->get<std::string>();
  const auto answer = request.find("answer");
  out.written_only = answer != request.end() && answer->is_string() && *answer == kAnswerWritten;
  try {
    for (const json& a : *args) out.args.push_back(data::VariantFromJson(a));
  } catch (const std::exception& e) {
    throw RequestError(std::string("malformed argument: ") + e.what());
  }
  return out;
}

namespace {
std::string OperatorCodeRule() {
  return " must be at most " + std::to_string(kMaxOperatorLength) + " printable characters";
}
}  // namespace

bool IsValidOperatorCode(std::string_view code) {
  return code.size() <= kMaxOperatorLength &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool SecretMatches(std::string_view expected, std::string_view presented) {
  // Every byte of the longer text is looked at, whatever matched before.
  const std::size_t n = std::max(expected.size(), presented.size());
  unsigned char diff = expected.size() == presented.size() ? 0 : 1;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char e = i < expected.size() ? expected[i] : 0;
    const unsigned char p = i < presented.size() ? presented[i] : 0;
    diff |= static_cast<unsigned char>(e ^ p);
  }
  return diff == 0 && !expected.empty();
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1" || host == "[::1]") return true;
  in_addr address{};
  if (inet_pton(AF_INET, host.c_str(), &address) != 1) return false;
  return (ntohl(address.s_addr) >> 24) == 127;
}

// ---- server ----------------------------------------------------------------

namespace {

void Reply(httplib::Response& res, int status, const json& body) {
  res.status = status;
  // A text cut short inside a character still goes out, mended.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// The packets of a call that come back as they were sent: a packet is
// never changed in place, so the method left one alone when it still holds
// the very packet it was sent.
std::vector<std::size_t> UnwrittenPackets(const std::vector<Variant>& sent,
                                          const std::vector<Variant>& left) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < sent.size() && i < left.size(); ++i) {
    if (sent[i].Kind() == data::VariantKind::Packet &&
        left[i].Kind() == data::VariantKind::Packet && sent[i].PacketPtr() == left[i].PacketPtr()) {
      out.push_back(i);
    }
  }
  return out;
}

// The session of the request being served on this thread, found before its
// body was read.
thread_local std::optional<SessionInfo> request_session;

// Answers POST /call.
void HandleCall(const HttpServerOptions& options, rdmGradeDistribuicao& server,
                const httplib::Request& req, httplib::Response& res) {
  CallContext context{req.get_header_value(kOperatorHeader), std::nullopt, ""};
  if (request_session) {
    context = {request_session->operator_code, request_session->branches, ""};
  } else if (!IsValidOperatorCode(context.operator_code)) {
    return Reply(res, 400,
                 {{"error", std::string("the header ") + kOperatorHeader + OperatorCodeRule()}});
  }
  CallRequest request;
  try {
    request = DecodeCallRequest(req.body);
  } catch (const RequestError& e) {
    return Reply(res, 400, {{"error", e.what()}});
  }
  if (options.on_call) options.on_call(request.method);
  try {
    CallReply reply =
        DispatchCall(server, request.server_name, request.method, request.args, context);
    // Written straight from the values: the same text as the document
    // {"absent": [...], "args": [...], "result": ...} dumps to.
    data::WireWriter answer(data::WireWriter::BadText::Replace);
    answer.Raw("{");
    if (request.written_only) {
      const std::vector<std::size_t> absent = UnwrittenPackets(request.args, reply.args);
      if (!absent.empty()) {
        answer.Raw("\"absent\":[");
        for (std::size_t i = 0; i < absent.size(); ++i) {
          if (i > 0) answer.Raw(",");
          answer.Raw(std::to_string(absent[i]));
          reply.args[absent[i]] = Variant();
        }
        answer.Raw("],");
      }
    }
    answer.Raw("\"args\":").Values(reply.args).Raw(",\"result\":").Value(reply.result).Raw("}");
    res.status = 200;
    res.set_content(answer.Take(), "application/json");
  } catch (const std::exception& e) {
    Reply(res, 200, {{"error", e.what()}});
  }
}

// Answers POST /signin.
void HandleSignIn(SignInService* signin, const httplib::Request& req, httplib::Response& res) {
  if (!signin) return Reply(res, 404, {{"error", "this server does not require sign-in"}});
  json body;
  try {
    body = data::ParseJson(req.body);
  } catch (const data::JsonTextError& e) {
    return Reply(res, 400, {{"error", std::string("the request body is refused: ") + e.what()}});
  }
  if (!body.is_object() || !body.contains("operator") || !body["operator"].is_string() ||
      !body.contains("password") || !body["password"].is_string()) {
    return Reply(res, 400, {{"error", "a sign-in needs \"operator\" and \"password\" texts"}});
  }
  try {
    SessionInfo info;
    const std::string token =
        signin->SignIn(body["operator"].get<std::string>(), body["password"].get<std::string>(),
                       req.remote_addr, &info);
    Reply(res, 200,
          {{"token", token},
           {"operator", info.operator_code},
           {"branches", info.branches},
           {"idle_seconds", signin->settings().idle.count()}});
  } catch (const SignInError& e) {
    Reply(res, 401, {{"error", e.what()}});
  }
}

// "application/json", with or without parameters such as a charset.
bool IsJson(const std::string& content_type) {
  std::string type = content_type.substr(0, content_type.find(';'));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type == "application/json";
}

}  // namespace

struct HttpServer::Impl {
  explicit Impl(const ConnectionLimits& limits) : http(limits) {}
  std::shared_ptr<rdmGradeDistribuicao> server;
  HttpServerOptions options;
  GuardedHttpServer http;
};

HttpServer::HttpServer(std::shared_ptr<rdmGradeDistribuicao> server, HttpServerOptions options)
    : impl_(std::make_unique<Impl>(options.limits)) {
  impl_->server = std::move(server);
  impl_->options = std::move(options);
  GuardedHttpServer& http = impl_->http;
  http.set_payload_max_length(impl_->options.max_body_bytes);

  Impl* impl = impl_.get();
  // Refused before the body is read, so a caller without the secret cannot
  // make the server hold a large body either; the unread body ends the
  // connection.
  http.set_pre_routing_handler([impl](const httplib::Request& req, httplib::Response& res) {
    const std::string& secret = impl->options.secret;
    if (req.method == "GET" && req.path == "/health") {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    if (!secret.empty() && !SecretMatches(secret, req.get_header_value(kSecretHeader))) {
      Reply(res, 401, {{"error", "this server needs its shared secret"}});
      GuardedHttpServer::CloseAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    request_session.reset();
    if (impl->options.signin && req.method == "POST" &&
        (req.path == "/call" || req.path == "/fixture")) {
      const std::string token = req.get_header_value(kSessionHeader);
      if (!token.empty()) request_session = impl->options.signin->Resolve(token);
      if (!request_session) {
        Reply(res, 401, {{"error", token.empty() ? kNoSession : kSessionEnded}});
        GuardedHttpServer::CloseAfterAnswer(res);
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (req.method == "POST" && !IsJson(req.get_header_value("Content-Type"))) {
      std::string type = req.get_header_value("Content-Type").substr(0, 80);
      Reply(res, 415,
            {{"error", "the request body must be application/json, not " +
                           (type.empty() ? std::string("untyped") : type)}});
      GuardedHttpServer::CloseAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::size_t limit = impl->options.max_body_bytes;
    if (req.get_header_value<std::uint64_t>("Content-Length") > limit) {
      Reply(res, 413,
            {{"error", "the request body is larger than " + std::to_string(limit) + " bytes"}});
      GuardedHttpServer::CloseAfterAnswer(res);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http.Post("/call", [impl](const httplib::Request& req, httplib::Response& res) {
    HandleCall(impl->options, *impl->server, req, res);
  });
  http.Post("/fixture", [impl](const httplib::Request& req, httplib::Response& res) {
    if (!impl->options.allow_fixture) {
      return Reply(res, 403, {{"error", "this server does not accept fixtures"}});
    }
    // Reseeding replaces every branch's data.
    if (request_session && !CoversBranch(request_session->branches, kEveryBranch)) {
      return Reply(res, 403, {{"error", detail::NoAccessText(kEveryBranch)}});
    }
    json fixture;
    try {
      fixture = data::ParseJson(req.body);
    } catch (const data::JsonTextError& e) {
      return Reply(res, 400, {{"error", std::string("the fixture is not JSON: ") + e.what()}});
    }
    // The caller's operator, as for a call; the session's when signed in.
    std::string op =
        request_session ? request_session->operator_code : req.get_header_value(kOperatorHeader);
    if (!IsValidOperatorCode(op)) op = "?";
    try {
      ReseedForCaller(impl->server->storage(), fixture, op,
                      req.get_param_value("dispatched") == "discard");
    } catch (const std::exception& e) {
      return Reply(res, 400, {{"error", e.what()}});
    }
    Reply(res, 200, {{"ok", true}});
  });
  http.Post("/signin", [impl](const httplib::Request& req, httplib::Response& res) {
    HandleSignIn(impl->options.signin.get(), req, res);
  });
  http.Post("/signout", [impl](const httplib::Request& req, httplib::Response& res) {
    if (impl->options.signin) impl->options.signin->SignOut(req.get_header_value(kSessionHeader));
    Reply(res, 200, {{"ok", true}});
  });
  http.Get("/health", [impl](const httplib::Request&, httplib::Response& res) {
    Reply(res, 200, {{"ok", true}, {"signin", impl->options.signin != nullptr}});
  });
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string text = "internal failure";
        try {
          if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          text = e.what();
        } catch (...) {
        }
        Reply(res, 500, {{"error", text}});
      });
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Start() {
  const auto& o = impl_->options;
  const bool tls = !o.tls_cert.empty() || !o.tls_key.empty();
  if (!IsLoopbackHost(o.host) && (!tls || !o.signin)) {
    throw Error("listening on " + o.host + " outside loopback needs TLS and sign-in");
  }
  if (tls) {
    if (o.tls_cert.empty() || o.tls_key.empty()) throw Error("TLS needs a certificate and a key");
    impl_->http.UseTls(o.tls_cert, o.tls_key);
  }
  port_ = impl_->http.BindAddress(o.host, o.port);
  impl_->http.StartServing();
  return port_;
}

void HttpServer::Stop() { impl_->http.StopServing(); }

// ---- client ----------------------------------------------------------------

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
      throw ServerCallError("Servidor de aplicação ocupado: tente de novo em instantes [" + text +
                            "].");
    }
    if (status == 408) {
      throw ServerCallError(
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
