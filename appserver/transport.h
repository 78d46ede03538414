// Transports of the server object: in process, and HTTP/JSON.
//
// Wire form over HTTP: POST /call with the body
//   {"server": "Exp03200.rdmGradeDistribuicao", "method": "GetVeiculo",
//    "args": [<wire variant>, ...]}
// answers 200 {"result": <wire variant>, "args": [<wire variant>, ...]} or,
// when the call fails, 200 {"error": "text"} (the text unchanged). A body
// that is not such a request gets 400 {"error": "..."}; a body over the size
// limit gets 413. With fixtures allowed, POST /fixture with a fixture object
// reseeds the database (200 {"ok": true}). GET /health answers 200.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "appserver/grade_server.h"
#include "data/rpc.h"

namespace dg::server {

// Runs one call on the server object the way every transport does: checks
// the server name, runs the method, and turns any failure into
// data::ServerCallError with the failure's text unchanged.
data::CallReply DispatchCall(rdmGradeDistribuicao& server, const std::string& server_name,
                             const std::string& method, const std::vector<data::Variant>& args);

// Calls the server object directly. Thread-safe. Copyable (shares the server).
class InProcessTransport : public data::CallTransport {
 public:
  explicit InProcessTransport(std::shared_ptr<rdmGradeDistribuicao> server)
      : server_(std::move(server)) {}
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;

 private:
  std::shared_ptr<rdmGradeDistribuicao> server_;
};

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  bool allow_fixture = false;
  std::size_t max_body_bytes = 32u << 20;
  int keep_alive_seconds = 2;  // an idle connection is closed after this
  int threads = 32;            // connections served at once
};

// Serves a server object over HTTP on a background thread. Not copyable.
class HttpServer {
 public:
  HttpServer(std::shared_ptr<rdmGradeDistribuicao> server, HttpServerOptions options);
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer();  // stops

  // Binds and starts serving; returns the port. Throws Error when the
  // address cannot be bound.
  int Start();
  // Stops accepting and waits for the serving thread (at most about the
  // keep-alive time for idle clients). Idempotent.
  void Stop();
  int port() const { return port_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

struct HttpClientOptions {
  std::chrono::milliseconds connect_timeout{3000};
  std::chrono::milliseconds read_timeout{120000};
};

// Client side of the HTTP transport, for the server connection. Keeps one
// connection alive; thread-safe (calls are serialised). Not copyable.
class HttpTransport : public data::CallTransport {
 public:
  HttpTransport(const std::string& host, int port, HttpClientOptions options = {});
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;
  ~HttpTransport() override;

  // Throws ServerCallError for a failure the server reported (also for a
  // request it refused), TransportError when it could not be reached.
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;
  // Reseeds the server's database (the server must allow fixtures).
  void PostFixture(const nlohmann::json& fixture);

 private:
  nlohmann::json Post(const std::string& path, const std::string& body);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dg::server
