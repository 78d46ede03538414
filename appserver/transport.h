// Transports of the server object: in process, and HTTP/JSON.
//
// Wire form over HTTP: POST /call with the body
//   {"server": "Exp03200.rdmGradeDistribuicao", "method": "GetVeiculo",
//    "args": [<wire variant>, ...]}
// answers 200 {"result": <wire variant>, "args": [<wire variant>, ...]} or,
// when the call fails, 200 {"error": "text"} (the text unchanged). A body
// that is not such a request gets 400 {"error": "..."}, a body over the size
// limit 413, a body of another type than application/json 415. With fixtures allowed, POST /fixture
// with a fixture object reseeds the database (200 {"ok": true}). GET /health answers 200.
//
// Who may call: a server with a shared secret answers 401 {"error": ...} to
// every request but GET /health that does not carry the secret in the header
// X-Exp-Secret, before reading its body. A server listening on any address
// outside loopback must have a secret.
//
// Who calls: the header X-Exp-Operator names the caller's operator for the
// server's journal of writes. A POST /call whose operator is longer than
// kMaxOperatorLength or holds anything but printable ASCII is refused with
// 400 {"error": ...}; a call without the header has no operator.
//
// Sign-in: on a server that requires it (HttpServerOptions::signin), POST
// /signin with {"operator": CODE, "password": TEXT} answers 200 {"token":
// T, "operator": CODE, "branches": [...], "idle_seconds": N}, or 401
// {"error": ...} saying the same whatever was wrong (sessions.h). Every
// POST /call and POST /fixture must then carry the token in the header
// X-Exp-Session (401 otherwise, before the body is read); the operator is
// the session's, X-Exp-Operator is ignored, and the call is held to the
// operator's branches. POST /signout ends the session. GET /health answers
// {"ok": true, "signin": true|false}, so a client knows to ask for a
// password. The shared secret, when set, is checked before all of this:
// it says which machines may talk to the server at all, a session says
// which person does.
//
// Grids a killed desktop left open: a desktop names its process in the
// header X-Exp-Process (below). POST /grids/held with {"branch": B} answers
// 200 {"grids": [{"grid": N, "process": MARK}, ...]}, the open grids of B
// that the caller's operator owns and a desktop process last wrote; the
// desktop judges which of those processes are gone on its own machine and
// POSTs /grids/held/release with {"branch": B, "grids": [the same
// objects]}, which discards each one still open, still the operator's and
// still last written by that process, and answers 200 {"released":
// [{"grid": N, "opened": ..., "last_activity": ..., "allocations": N,
// "weight": KG}, ...]}. Both need an operator (the session's when signed
// in, or X-Exp-Operator) and a branch the session covers (403 otherwise);
// a malformed body gets 400.
//
// TLS: with a certificate and key (HttpServerOptions::tls_cert, tls_key)
// every connection is TLS (1.2 or later) under the same deadlines and
// caps; a plain HTTP client gets no answer. Listening outside loopback
// requires both TLS and sign-in.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json_fwd.hpp>

#include "appserver/connection_limits.h"
#include "appserver/grade_server.h"
#include "appserver/grid_activity.h"
#include "appserver/sessions.h"
#include "data/rpc.h"

namespace dg::server {

// Runs one call on the server object the way every transport does: checks
// the server name, runs the method on behalf of `context`, and turns any
// failure into data::ServerCallError with the failure's text unchanged.
data::CallReply DispatchCall(rdmGradeDistribuicao& server, const std::string& server_name,
                             const std::string& method, const std::vector<data::Variant>& args,
                             const CallContext& context = {});

// A POST /call body that is not a call (answered 400 with what()).
class RequestError : public Error {
 public:
  using Error::Error;
};

// One decoded POST /call body. Intentionally copyable.
// A request's "answer" when the caller wants back only what the method
// wrote: the answer then names in "absent" the packets it leaves out, each
// as it was sent. A server that does not know it answers every argument,
// which such a caller reads as well.
inline constexpr const char* kAnswerWritten = "written";

struct CallRequest {
  std::string server_name;
  std::string method;
  std::vector<data::Variant> args;
  // The caller asked ("answer": "written") for an answer that leaves out
  // the packets it sent and the method did not replace.
  bool written_only = false;
};

// Decodes a POST /call body; throws RequestError.
CallRequest DecodeCallRequest(std::string_view body);

// The header that carries the shared secret.
inline constexpr const char* kSecretHeader = "X-Exp-Secret";

// The header that carries the session token of a signed-in operator.
inline constexpr const char* kSessionHeader = "X-Exp-Session";
inline constexpr const char* kNoSession =
    "Esta chamada não traz sessão: entre com operador e senha.";
inline constexpr const char* kSessionEnded = "Sessão encerrada ou expirada. Entre de novo.";

// The header that carries the caller's operator code.
inline constexpr const char* kOperatorHeader = "X-Exp-Operator";
inline constexpr std::size_t kMaxOperatorLength = 40;

// Whether an operator code may travel: at most kMaxOperatorLength bytes of
// printable ASCII (space to tilde).
bool IsValidOperatorCode(std::string_view code);

// A desktop host over HTTP names its process (ThisProcessMark) in every
// request, as its in-process server names it: the grids it writes keep it,
// so that its next launch on the same machine can give back the room of the
// grids a killed desktop left open. At most kMaxProcessLength bytes of
// printable ASCII; absent for every other caller.
inline constexpr const char* kProcessHeader = "X-Exp-Process";
inline constexpr std::size_t kMaxProcessLength = 512;
bool IsValidProcessMark(std::string_view mark);
// The end of the refusal of an operator code that may not travel, for both
// sides (" must be at most 40 printable characters").
std::string OperatorCodeRule();

// Compares a presented secret with the expected one in time that depends
// only on their lengths, never on where they differ.
bool SecretMatches(std::string_view expected, std::string_view presented);

// Whether a listening address stays on this machine: "localhost", "::1" or
// an IPv4 address in 127.0.0.0/8.
bool IsLoopbackHost(const std::string& host);

// Throws Error when the certificate (chain) or the private key, PEM files,
// cannot be used, or the key is not the certificate's: what HttpServer
// would refuse at start, found before anything else is done
// (http_connections.cpp).
void CheckTlsFiles(const std::string& cert_file, const std::string& key_file);

// Calls the server object directly, on behalf of `operator_code` ("" for
// none). Thread-safe. Copyable (shares the server).
class InProcessTransport : public data::CallTransport {
 public:
  // `process`: see CallContext; the desktop host gives ThisProcessMark().
  explicit InProcessTransport(std::shared_ptr<rdmGradeDistribuicao> server,
                              std::string operator_code = "", std::string process = "")
      : server_(std::move(server)),
        context_{std::move(operator_code), std::nullopt, std::move(process)} {}
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;

 private:
  std::shared_ptr<rdmGradeDistribuicao> server_;
  CallContext context_;
};

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port; 1 to 65535 otherwise
  bool allow_fixture = false;
  std::size_t max_body_bytes = 32u << 20;
  // Idle connections, deadlines of one request and one answer, connections
  // at once in all and per client address (see http_connections.h).
  ConnectionLimits limits;
  // When not empty, every request but GET /health must carry it
  // (kSecretHeader).
  std::string secret;
  // When set, calls need a session (see above). Required, with TLS, when
  // `host` is not loopback.
  std::shared_ptr<SignInService> signin;
  // PEM files of the server's certificate (its chain after it) and private
  // key; both empty: plain HTTP.
  std::string tls_cert, tls_key;
  // Test hook: runs on the serving thread just before each call reaches the
  // server object, with the method's name.
  std::function<void(const std::string& method)> on_call;
};

// Serves a server object over HTTP on a background thread. Not copyable.
class HttpServer {
 public:
  HttpServer(std::shared_ptr<rdmGradeDistribuicao> server, HttpServerOptions options);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();  // stops

  // Binds and starts serving; returns the port. Throws Error when the port
  // is outside 0 to 65535, the address cannot be bound, the certificate or
  // key cannot be used, or the address is not loopback and TLS or sign-in
  // is missing.
  int Start();
  // Stops accepting, closes idle connections at once and waits until every
  // call under way has been answered. Idempotent.
  void Stop();
  int port() const { return port_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// A lost server is reported within the timeouts: a refused or unanswered
// connection after connect_timeout, a server that stops answering a call
// after read_timeout. Intentionally copyable.
struct HttpClientOptions {
  std::chrono::milliseconds connect_timeout{3000};
  std::chrono::milliseconds read_timeout{120000};
  // Sent with every request; empty: the environment variable
  // EXP_SERVER_SECRET, when set.
  std::string secret;
  // Sent with every call (kOperatorHeader) when not empty; must pass
  // IsValidOperatorCode.
  std::string operator_code;
  // HTTPS: the server's certificate is verified against the system's
  // authorities, or the PEM file `ca_file` (a private authority), and must
  // name the host connected to.
  bool tls = false;
  std::string ca_file;
  // A session already open (another transport's session_token()); empty:
  // none until SignIn.
  std::string session_token;
  // Sent with every request (kProcessHeader) when not empty; must pass
  // IsValidProcessMark.
  std::string process;
};

// Client side of the HTTP transport, for the server connection. Keeps one
// connection alive while the server keeps it (as its answers announce);
// thread-safe (calls are serialised). A call never runs twice: it is sent
// again, once, only when the kept connection failed before the request had
// left whole, so the server cannot have run it; a server lost during a call
// is a TransportError, and whether the call took effect is for the caller
// to find out. Not copyable.
class HttpTransport : public data::CallTransport {
 public:
  // Throws Error for an operator code that fails IsValidOperatorCode.
  HttpTransport(const std::string& host, int port, HttpClientOptions options = {});
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;
  ~HttpTransport() override;

  // Throws ServerCallError for a failure the server reported (also for a
  // request it refused), TransportError when it could not be reached.
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;
  // Reseeds the server's database (the server must allow fixtures). A
  // database that holds dispatched grids is refused unless
  // `discard_dispatched` (POST /fixture?dispatched=discard).
  void PostFixture(const nlohmann::json& fixture, bool discard_dispatched = false);

  // Whether the server requires sign-in (GET /health). Throws
  // TransportError when it cannot be reached.
  bool ServerRequiresSignIn();
  // Signs in; every later call carries the session. Answers the branches
  // the operator may work on. Throws ServerCallError with the server's text
  // when refused.
  std::vector<std::string> SignIn(const std::string& operator_code, const std::string& password);
  // Ends the session, if any (failures ignored).
  void SignOut();
  // The open grids of `branch` that the caller's operator owns and a
  // desktop process last wrote (POST /grids/held).
  std::vector<HeldGrid> HeldGrids(const std::string& branch);
  // Gives back the room of `grids`, each still held by the same process
  // (POST /grids/held/release); answers those released.
  std::vector<OpenGrid> ReleaseHeldGrids(const std::string& branch,
                                         const std::vector<HeldGrid>& grids);
  // The session this transport's calls carry; "" when none.
  std::string session_token() const;
  // Carries another transport's session from now on.
  void UseSession(const std::string& token);

 private:
  // POSTs `body`; answers the HTTP status and the answer's body. Throws
  // TransportError when the server cannot be reached.
  std::pair<int, std::string> Send(const std::string& path, const std::string& body);
  nlohmann::json Post(const std::string& path, const std::string& body);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dg::server
