// The server's connections: accepted and served here, in front of the HTTP
// library's request reading, routing and answer writing.
//
// The library alone serves a fixed number of connections at once and times
// out each read on its own, so a few clients that send a byte every few
// seconds, or many that connect and send nothing, hold every serving thread.
// Here each connection has a thread of its own and lives under limits that
// no client can stretch (a thread whose connection closed waits a few
// seconds, parked, to serve the next accepted one instead of ending: clerks
// reconnect often, and starting a thread costs more than serving a call):
//
//  - a connection waits at most `idle` for its first request and between
//    requests, then is closed;
//  - one request, header and body together, must arrive within `request`
//    of its first byte; a late one is answered 408 and the connection
//    closed;
//  - one answer must be written within `answer`, or the connection is
//    closed;
//  - at most `max_per_address` connections from one client address are open
//    at once (503 beyond that), and at most `max_connections` in all (the
//    ones beyond are closed at once).
//
// The stream a request is read from is this file's own, over the socket or
// a TLS session on it (OpenSSL, on the same non-blocking socket): the
// handshake must end within the deadline of one request, and the reads and
// writes of the session keep the deadlines above. The library reads
// requests and writes answers through either.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "appserver/connection_limits.h"

struct ssl_ctx_st;

namespace dg::server {

// Descriptors a server keeps beside its connections: the listening socket,
// the database's files or connections, the log, pipes.
constexpr int kReservedDescriptors = 64;

// Makes sure the process may open `max_connections` connections beside its
// other descriptors (kReservedDescriptors): raises its limit of open files
// up to the system's ceiling when needed. Answers "" when there is room,
// else what stops it (for the usage message).
std::string MakeRoomForConnections(int max_connections);

// An httplib::Server (register handlers on it as usual) that accepts and
// serves its connections itself. Not copyable.
class GuardedHttpServer : public httplib::Server {
 public:
  // At most this many serving threads wait, parked, for the next accepted
  // connection, each at most kParkedFor; the others end with their
  // connection.
  static constexpr int kMostParked = 32;
  static constexpr std::chrono::seconds kParkedFor{5};

  explicit GuardedHttpServer(ConnectionLimits limits);
  ~GuardedHttpServer() override;  // stops

  // Binds HOST:PORT (port 0: any free port) and answers the port. Throws
  // dg::Error when the address cannot be bound.
  int BindAddress(const std::string& host, int port);
  // Serves TLS from now on with this certificate (chain) and private key,
  // PEM files. Throws dg::Error saying what is wrong with them.
  // REQUIRES: before StartServing().
  void UseTls(const std::string& cert_file, const std::string& key_file);
  // Accepts and serves on background threads until Stop().
  void StartServing();
  // Stops accepting, closes idle connections and those still sending a
  // request, waits until every call under way has been answered, and ends
  // the parked serving threads. Idempotent.
  void StopServing();

  // For a handler that answers without reading the body: the connection is
  // closed once the answer is written (says so in the answer, too).
  static void CloseAfterAnswer(httplib::Response& res);

  // Connections open now.
  int open_connections() const;
  // Serving threads alive now, parked or serving.
  int serving_threads() const;

 private:
  // An accepted connection, counted by Admit, not served yet.
  struct Accepted {
    int fd;
    std::string address;
    int port;
    bool refuse;  // over its address's cap: answered 503
  };

  void AcceptLoop();
  // Gives `c` to a parked thread, else to a new one; closes and releases it
  // when no thread can be started.
  void Dispatch(Accepted c);
  // A serving thread: serves `c`, then the connections handed to it while
  // parked, until none comes in time or the server stops.
  void ServingThread(Accepted c);
  // Parks the calling thread until a connection is handed to it (true, in
  // `*c`), kParkedFor passes or the server stops (false).
  bool Park(Accepted* c);
  // Counts a new connection; false when its address or the server is full.
  bool Admit(const std::string& address, bool* over_address_cap);
  void Serve(int fd, const std::string& address, int port, bool refuse);
  void Release(const std::string& address);

  const ConnectionLimits limits_;
  ssl_ctx_st* tls_ = nullptr;  // null: plain HTTP
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};  // readable once stopping
  std::atomic<bool> stopping_{false};
  std::thread accept_thread_;

  mutable std::mutex mu_;
  std::condition_variable all_closed_;  // open_ or threads_ reached 0
  std::condition_variable handed_;     // handed_over_ grew, or stopping
  int open_ = 0;                            // GUARDED_BY(mu_)
  std::map<std::string, int> per_address_;  // GUARDED_BY(mu_)
  int threads_ = 0;                         // GUARDED_BY(mu_) serving threads alive
  int parked_ = 0;                          // GUARDED_BY(mu_)
  // Connections handed to parked threads and not taken yet: never more
  // than parked_.
  std::deque<Accepted> handed_over_;  // GUARDED_BY(mu_)
};

}  // namespace dg::server
