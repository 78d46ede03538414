// The in-process transport, the call decoding both sides share, and the HTTP
// server; the HTTP client is http_client.cpp.
#include "appserver/transport.h"

#include <httplib.h>

#include <arpa/inet.h>

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

std::string OperatorCodeRule() {
  return " must be at most " + std::to_string(kMaxOperatorLength) + " printable characters";
}

bool IsValidOperatorCode(std::string_view code) {
  return code.size() <= kMaxOperatorLength &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool IsValidProcessMark(std::string_view mark) {
  return mark.size() <= kMaxProcessLength &&
         std::all_of(mark.begin(), mark.end(), [](char c) { return c >= ' ' && c <= '~'; });
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

std::string ProcessHeaderRule() {
  return std::string("the header ") + kProcessHeader + " must be at most " +
         std::to_string(kMaxProcessLength) + " printable characters";
}

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
  context.process = req.get_header_value(kProcessHeader);
  if (!IsValidProcessMark(context.process)) {
    return Reply(res, 400, {{"error", ProcessHeaderRule()}});
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
    // The text moves into the answer (set_content would copy it).
    res.body = answer.Take();
    res.set_header("Content-Type", "application/json");
  } catch (const std::exception& e) {
    Reply(res, 200, {{"error", e.what()}});
  }
}

// The branch and operator of a request on the grids a desktop process
// holds, or the refusal already in `res`.
struct HeldRequest {
  std::string branch, operator_code;
  json body;
};
std::optional<HeldRequest> ReadHeldRequest(const httplib::Request& req, httplib::Response& res) {
  HeldRequest out;
  try {
    out.body = data::ParseJson(req.body);
  } catch (const data::JsonTextError& e) {
    Reply(res, 400, {{"error", std::string("the request body is refused: ") + e.what()}});
    return std::nullopt;
  }
  const auto branch = out.body.is_object() ? out.body.find("branch") : out.body.end();
  if (!out.body.is_object() || branch == out.body.end() || !branch->is_string() ||
      branch->get_ref<const std::string&>().empty()) {
    Reply(res, 400, {{"error", "the request needs a \"branch\" text"}});
    return std::nullopt;
  }
  out.branch = branch->get<std::string>();
  out.operator_code =
      request_session ? request_session->operator_code : req.get_header_value(kOperatorHeader);
  if (out.operator_code.empty() || !IsValidOperatorCode(out.operator_code)) {
    Reply(res, 400,
          {{"error", std::string("the header ") + kOperatorHeader + " must name the operator"}});
    return std::nullopt;
  }
  if (request_session && !CoversBranch(request_session->branches, out.branch)) {
    Reply(res, 403, {{"error", detail::NoAccessText(out.branch)}});
    return std::nullopt;
  }
  return out;
}

// Answers POST /grids/held.
void HandleHeldGrids(Storage& storage, const httplib::Request& req, httplib::Response& res) {
  const std::optional<HeldRequest> request = ReadHeldRequest(req, res);
  if (!request) return;
  json grids = json::array();
  for (const HeldGrid& g : ProcessHeldGrids(storage, request->branch, request->operator_code)) {
    grids.push_back({{"grid", g.grid}, {"process", g.process}});
  }
  Reply(res, 200, {{"grids", std::move(grids)}});
}

// The list "grids" of a release, nullopt when it is not a list of objects
// that each name a grid and a process that may travel.
std::optional<std::vector<HeldGrid>> HeldList(const json& body) {
  const auto listed = body.find("grids");
  // More than a desktop can have left open: one claim each, in one write.
  constexpr std::size_t kMostGrids = 1000;
  if (listed == body.end() || !listed->is_array() || listed->size() > kMostGrids) {
    return std::nullopt;
  }
  std::vector<HeldGrid> grids;
  for (const json& g : *listed) {
    const auto grid = g.is_object() ? g.find("grid") : g.end();
    const auto process = g.is_object() ? g.find("process") : g.end();
    if (grid == g.end() || process == g.end() || !grid->is_string() || !process->is_string()) {
      return std::nullopt;
    }
    grids.push_back({grid->get<std::string>(), process->get<std::string>()});
    if (grids.back().grid.empty() || grids.back().process.empty() ||
        !IsValidProcessMark(grids.back().process)) {
      return std::nullopt;
    }
  }
  return grids;
}

// Answers POST /grids/held/release.
void HandleReleaseHeldGrids(Storage& storage, const httplib::Request& req,
                            httplib::Response& res) {
  const std::optional<HeldRequest> request = ReadHeldRequest(req, res);
  if (!request) return;
  const std::optional<std::vector<HeldGrid>> grids = HeldList(request->body);
  if (!grids) {
    return Reply(res, 400, {{"error", "the request needs \"grids\": a list of at most 1000 "
                                      "objects with the texts \"grid\" and \"process\""}});
  }
  json released = json::array();
  for (const OpenGrid& g :
       ReleaseHeldGrids(storage, request->branch, request->operator_code, *grids)) {
    released.push_back({{"grid", g.grid},
                        {"opened", g.opened},
                        {"last_activity", g.last_activity},
                        {"allocations", g.allocations},
                        {"weight", g.weight}});
  }
  Reply(res, 200, {{"released", std::move(released)}});
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
        (req.path == "/call" || req.path == "/fixture" || req.path.starts_with("/grids/"))) {
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
  http.Post("/grids/held", [impl](const httplib::Request& req, httplib::Response& res) {
    HandleHeldGrids(impl->server->storage(), req, res);
  });
  http.Post("/grids/held/release", [impl](const httplib::Request& req, httplib::Response& res) {
    HandleReleaseHeldGrids(impl->server->storage(), req, res);
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

}  // namespace dg::server
