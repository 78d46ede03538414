#include "appserver/http_connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "data/errors.h"

namespace dg::server {
namespace {

using Clock = std::chrono::steady_clock;

// Set by a handler on the serving thread, read by the connection's loop.
thread_local bool close_after_answer = false;

void Endpoint(const sockaddr_storage& addr, std::string* ip, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(addr);
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    *port = ntohs(a.sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(addr);
    inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    *port = ntohs(a.sin6_port);
  }
  *ip = text;
}

// Milliseconds until `deadline` for poll(), at least 0.
int MillisUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

enum class Wait { kReady, kTimedOut, kStopping };

// Waits until `fd` is ready for `events` (or has hung up), the deadline
// passes, or `stop_fd` turns readable.
Wait WaitFor(int fd, short events, int stop_fd, Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    const int n = ::poll(fds, stop_fd >= 0 ? 2 : 1, MillisUntil(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Wait::kTimedOut;
    if (stop_fd >= 0 && (fds[1].revents & POLLIN)) return Wait::kStopping;
    if (fds[0].revents != 0) return Wait::kReady;
    if (Clock::now() >= deadline) return Wait::kTimedOut;
  }
}

// A complete answer for a connection that is about to be closed.
// REQUIRES: `error` holds no quote or backslash.
std::string CannedAnswer(int status, const char* reason, const std::string& error) {
  const std::string body = "{\"error\":\"" + error + "\"}";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Requests are read and answers written through this stream, over the
// socket itself or a TLS session on it. Every read waits at most until the
// running request's deadline, every write until the running answer's.
class ConnectionStream : public httplib::Stream {
 public:
  ConnectionStream(int fd, int stop_fd, std::string ip, int port, const ConnectionLimits& limits,
                   SSL* ssl)
      : fd_(fd), stop_fd_(stop_fd), ip_(std::move(ip)), port_(port), limits_(limits), ssl_(ssl) {}

  // The TLS handshake, within the deadline of one request; false when it
  // failed (a plain HTTP client, a client that does not trust us), came too
  // late, or the server stops.
  bool Handshake(Clock::time_point deadline) {
    for (;;) {
      ERR_clear_error();
      const int rc = SSL_accept(ssl_);
      if (rc == 1) return true;
      short want = 0;
      switch (SSL_get_error(ssl_, rc)) {
        case SSL_ERROR_WANT_READ:
          want = POLLIN;
          break;
        case SSL_ERROR_WANT_WRITE:
          want = POLLOUT;
          break;
        default:
          return false;
      }
      if (WaitFor(fd_, want, stop_fd_, deadline) != Wait::kReady) return false;
    }
  }

  // Waits for the next request's first byte; false when the connection was
  // idle too long, or the server stops.
  bool WaitForRequest() {
    if (Buffered()) return true;
    return WaitFor(fd_, POLLIN, stop_fd_, Clock::now() + limits_.idle) == Wait::kReady;
  }
  void StartRequest() {
    read_deadline_ = Clock::now() + limits_.request;
    answering_ = false;
  }
  bool timed_out() const { return timed_out_; }

  // Tells a client whose request came too late why it is cut off.
  void SendRequestTimeout() {
    Send(CannedAnswer(
        408, "Request Timeout",
        "the request did not arrive within " + std::to_string(limits_.request.count()) + " ms"));
  }

  // Writes a whole answer within a second, whatever happened before.
  void Send(const std::string& answer) {
    WriteAll(answer.data(), answer.size(), Clock::now() + std::chrono::seconds(1));
  }

  // Ends what the server sends: a TLS session politely, without waiting for
  // the client's reply.
  void Close() {
    if (ssl_ && !broken_) {
      ERR_clear_error();
      SSL_shutdown(ssl_);
    }
  }

  // Ends a connection the server closes while the client may still be
  // sending (a refusal before the body was read, a request cut off): after
  // the answer and the end of what the server sends, what still comes in is
  // read and dropped for a moment, so that the client reads the answer
  // instead of a reset. The moment is long enough for a body of the size
  // limit to arrive over a busy network or loopback on a loaded machine, and
  // short beside the deadline of a request; the connection counts against
  // its address's cap meanwhile. On TLS the records are read through the
  // session, which may have to answer the client while it reads.
  void CloseAfterDraining() {
    Close();
    ::shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char chunk[1 << 14];
    while (Clock::now() < deadline) {
      short want = 0;
      const ssize_t n = Io(true, chunk, sizeof chunk, &want);
      if (n == 0 || n == -2) break;
      if (n == -1 && WaitFor(fd_, want, stop_fd_, deadline) != Wait::kReady) break;
    }
  }

  bool is_readable() const override {
    return Buffered() || WaitFor(fd_, POLLIN, stop_fd_, read_deadline_) == Wait::kReady;
  }
  bool is_writable() const override {
    return !timed_out_ && WaitFor(fd_, POLLOUT, -1, AnswerDeadline()) == Wait::kReady;
  }

  ssize_t read(char* ptr, std::size_t size) override {
    if (begin_ == end_ && !Fill()) return end_of_stream_ ? 0 : -1;
    const std::size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  // The library writes an answer's head and its body apart: they are kept
  // here and leave together (Flush), one write to the socket instead of
  // two, unless the answer is large.
  ssize_t write(const char* ptr, std::size_t size) override {
    // What the library would answer to a request cut off by its deadline
    // is replaced by the 408.
    if (timed_out_) return -1;
    const Clock::time_point deadline = AnswerDeadline();
    if (unsent_.size() + size <= kGatheredAnswer) {
      unsent_.append(ptr, size);
      return static_cast<ssize_t>(size);
    }
    if (!Flush()) return -1;
    return WriteAll(ptr, size, deadline) ? static_cast<ssize_t>(size) : -1;
  }

  // Sends what the library wrote and is still kept here; false when the
  // connection failed or the answer's deadline passed.
  bool Flush() {
    if (unsent_.empty()) return true;
    const bool sent = WriteAll(unsent_.data(), unsent_.size(), AnswerDeadline());
    unsent_.clear();
    return sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = ip_;
    port = port_;
  }
  // Asked once a request; the connection's end does not change.
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    if (!local_known_) {
      local_known_ = true;
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        Endpoint(addr, &local_ip_, &local_port_);
      }
    }
    ip = local_ip_;
    port = local_port_;
  }
  socket_t socket() const override { return fd_; }

 private:
  // Bytes already read from the socket and not handed out yet.
  bool Buffered() const { return begin_ < end_ || (ssl_ && SSL_pending(ssl_) > 0); }

  // The answer's deadline starts with its first byte.
  Clock::time_point AnswerDeadline() const {
    if (!answering_) {
      answering_ = true;
      answer_deadline_ = Clock::now() + limits_.answer;
    }
    return answer_deadline_;
  }

  // One read or write on the socket or the TLS session: the bytes moved,
  // 0 at the end of the stream, -1 with `want` set when it must wait for
  // the socket, -2 when the connection failed.
  ssize_t Io(bool reading, char* data, std::size_t size, short* want) {
    if (!ssl_) {
      for (;;) {
        const ssize_t n = reading ? ::recv(fd_, data, size, MSG_DONTWAIT)
                                  : ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n == 0 && !reading ? -2 : n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -2;
        *want = reading ? POLLIN : POLLOUT;
        return -1;
      }
    }
    ERR_clear_error();
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    const int n = reading ? SSL_read(ssl_, data, chunk) : SSL_write(ssl_, data, chunk);
    if (n > 0) return n;
    switch (SSL_get_error(ssl_, n)) {
      case SSL_ERROR_WANT_READ:
        *want = POLLIN;
        return -1;
      case SSL_ERROR_WANT_WRITE:
        *want = POLLOUT;
        return -1;
      case SSL_ERROR_ZERO_RETURN:
        return reading ? 0 : -2;
      default:
        broken_ = true;  // no shutdown after a failed session
        return -2;
    }
  }

  // Writes all of `data` before the deadline; false when it could not.
  bool WriteAll(const char* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
      short want = 0;
      const ssize_t n = Io(false, const_cast<char*>(data), size, &want);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
      } else if (n == -1) {
        if (WaitFor(fd_, want, -1, deadline) != Wait::kReady) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  bool Fill() {
    begin_ = end_ = 0;
    for (;;) {
      short want = 0;
      const ssize_t n = Io(true, buffer_, sizeof buffer_, &want);
      if (n > 0) {
        end_ = static_cast<std::size_t>(n);
        return true;
      }
      if (n == 0) {
        end_of_stream_ = true;
        return false;
      }
      if (n == -2) return false;
      switch (WaitFor(fd_, want, stop_fd_, read_deadline_)) {
        case Wait::kReady:
          break;
        case Wait::kTimedOut:
          timed_out_ = true;
          return false;
        case Wait::kStopping:
          return false;
      }
    }
  }

  // The most of an answer kept before it is sent: an answer's head and a
  // body of most reads (a large body goes out as the library writes it).
  static constexpr std::size_t kGatheredAnswer = 64 * 1024;

  const int fd_, stop_fd_;
  const std::string ip_;
  const int port_;
  mutable bool local_known_ = false;
  mutable std::string local_ip_;
  mutable int local_port_ = 0;
  std::string unsent_;
  const ConnectionLimits& limits_;
  SSL* const ssl_;  // null: plain
  bool broken_ = false;
  char buffer_[16384];
  std::size_t begin_ = 0, end_ = 0;
  bool end_of_stream_ = false;
  bool timed_out_ = false;
  Clock::time_point read_deadline_ = Clock::now();
  mutable bool answering_ = false;
  mutable Clock::time_point answer_deadline_;
};

}  // namespace

std::string MakeRoomForConnections(int max_connections) {
  const rlim_t needed = static_cast<rlim_t>(max_connections) + kReservedDescriptors;
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return "";
  if (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= needed) return "";
  if (files.rlim_max != RLIM_INFINITY && files.rlim_max < needed) {
    return std::to_string(max_connections) + " connections need " + std::to_string(needed) +
           " open files, and this process may open at most " + std::to_string(files.rlim_max) +
           " (ulimit -Hn)";
  }
  files.rlim_cur = needed;
  if (::setrlimit(RLIMIT_NOFILE, &files) != 0) {
    return std::to_string(max_connections) + " connections need " + std::to_string(needed) +
           " open files: " + std::strerror(errno);
  }
  return "";
}

GuardedHttpServer::GuardedHttpServer(ConnectionLimits limits) : limits_(limits) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) throw Error("cannot create a pipe");
  // Announced in every answer kept open (Keep-Alive: timeout=N), for
  // clients to stop reusing a connection before the server ends it: never
  // more than the real limit, which a whole number of seconds can only
  // round down to (a limit under a second, for tests, is announced as one).
  const auto idle_seconds = std::chrono::floor<std::chrono::seconds>(limits_.idle).count();
  set_keep_alive_timeout(std::max<std::chrono::seconds::rep>(1, idle_seconds));
  set_keep_alive_max_count(static_cast<std::size_t>(std::max(1, limits_.max_requests)));
}

GuardedHttpServer::~GuardedHttpServer() {
  StopServing();
  for (int fd : stop_pipe_) ::close(fd);
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (tls_) SSL_CTX_free(tls_);
}

int GuardedHttpServer::BindAddress(const std::string& host, int port) {
  if (port < 0 || port > 65535) {
    throw Error("the port " + std::to_string(port) + " is outside 1 to 65535");
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0) {
    throw Error("cannot listen on " + host + ":" + service + ": unknown host");
  }
  std::string why = "no address";
  for (addrinfo* a = found; a && listen_fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      listen_fd_ = fd;
    } else {
      why = std::strerror(errno);
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  if (listen_fd_ < 0) throw Error("cannot listen on " + host + ":" + service + ": " + why);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  std::string ip;
  int bound = 0;
  Endpoint(addr, &ip, &bound);
  return bound;
}

void GuardedHttpServer::StartServing() {
  accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void GuardedHttpServer::StopServing() {
  bool first = false;
  {
    // Under the lock, so that no thread parks after the wake-up below.
    std::lock_guard lock(mu_);
    first = !stopping_.exchange(true);
  }
  if (first) {
    const char byte = 0;
    while (::write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  handed_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  // A serving thread touches nothing of the server after it counted itself
  // out: waiting for the count keeps `this` alive for them all.
  std::unique_lock lock(mu_);
  all_closed_.wait(lock, [this] { return open_ == 0 && threads_ == 0; });
}

void GuardedHttpServer::CloseAfterAnswer(httplib::Response& res) {
  res.set_header("Connection", "close");
  close_after_answer = true;
}

int GuardedHttpServer::open_connections() const {
  std::lock_guard lock(mu_);
  return open_;
}

int GuardedHttpServer::serving_threads() const {
  std::lock_guard lock(mu_);
  return threads_;
}

void GuardedHttpServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) break;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: let the connections under way finish first.
      if (errno == EMFILE || errno == ENFILE)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::string ip;
    int port = 0;
    Endpoint(addr, &ip, &port);
    bool over_address_cap = false;
    if (!Admit(ip, &over_address_cap)) {
      const std::string answer =
          CannedAnswer(503, "Service Unavailable", "the server has too many connections");
      ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    Dispatch({fd, std::move(ip), port, over_address_cap});
  }
  ::close(listen_fd_);
  listen_fd_ = -1;
}

void GuardedHttpServer::Dispatch(Accepted c) {
  {
    std::lock_guard lock(mu_);
    if (static_cast<int>(handed_over_.size()) < parked_) {
      handed_over_.push_back(std::move(c));
      handed_.notify_one();
      return;
    }
    ++threads_;
  }
  try {
    std::thread([this, c] { ServingThread(c); }).detach();
  } catch (const std::system_error&) {
    ::close(c.fd);
    Release(c.refuse ? "" : c.address);
    std::lock_guard lock(mu_);
    if (--threads_ == 0) all_closed_.notify_all();
  }
}

void GuardedHttpServer::ServingThread(Accepted c) {
  do {
    Serve(c.fd, c.address, c.port, c.refuse);
  } while (Park(&c));
  std::lock_guard lock(mu_);
  if (--threads_ == 0) all_closed_.notify_all();
}

bool GuardedHttpServer::Park(Accepted* c) {
  std::unique_lock lock(mu_);
  if (stopping_ || parked_ >= kMostParked) return false;
  ++parked_;
  handed_.wait_until(lock, Clock::now() + kParkedFor,
                     [this] { return !handed_over_.empty() || stopping_; });
  --parked_;
  // A connection handed over is taken even when the server stops meanwhile:
  // Serve closes it at once then, and releases it.
  if (handed_over_.empty()) return false;
  *c = std::move(handed_over_.front());
  handed_over_.pop_front();
  return true;
}

bool GuardedHttpServer::Admit(const std::string& address, bool* over_address_cap) {
  std::lock_guard lock(mu_);
  if (open_ >= limits_.max_connections) return false;
  ++open_;
  int& mine = per_address_[address];
  *over_address_cap = mine >= limits_.max_per_address;
  if (*over_address_cap) {
    if (mine == 0) per_address_.erase(address);
  } else {
    ++mine;
  }
  return true;
}

void GuardedHttpServer::Release(const std::string& address) {
  std::lock_guard lock(mu_);
  if (!address.empty()) {
    auto it = per_address_.find(address);
    if (it != per_address_.end() && --it->second <= 0) per_address_.erase(it);
  }
  if (--open_ == 0) all_closed_.notify_all();
}

void GuardedHttpServer::Serve(int fd, const std::string& address, int port, bool refuse) {
  SSL* ssl = nullptr;
  if (tls_) {
    // A client gone mid-answer must not end the process: a TLS write goes
    // through write(), without MSG_NOSIGNAL.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    ssl = SSL_new(tls_);
    if (ssl) SSL_set_fd(ssl, fd);
  }
  {
    ConnectionStream stream(fd, stop_pipe_[0], address, port, limits_, ssl);
    const auto handshake_deadline =
        Clock::now() + (refuse ? std::chrono::milliseconds(1000) : limits_.request);
    if (tls_ && (!ssl || !stream.Handshake(handshake_deadline))) {
      // Nothing can be said to a client that does not speak TLS with us.
    } else {
      // Whether the client may still be sending when the server ends.
      bool unread = refuse;
      if (refuse) {
        stream.Send(CannedAnswer(503, "Service Unavailable",
                                 "too many connections from " + address + " (at most " +
                                     std::to_string(limits_.max_per_address) + ")"));
      } else {
        for (int served = 0; served < limits_.max_requests && !stopping_; ++served) {
          if (!stream.WaitForRequest()) break;
          stream.StartRequest();
          close_after_answer = false;
          bool closed_by_client = false;
          const bool last = served + 1 == limits_.max_requests;
          const bool ok = process_request(stream, last, closed_by_client, nullptr);
          if (stream.timed_out()) {
            stream.SendRequestTimeout();
            unread = true;
            break;
          }
          const bool sent = stream.Flush();
          unread = close_after_answer;
          if (!ok || !sent || closed_by_client || close_after_answer) break;
        }
      }
      if (unread) {
        stream.CloseAfterDraining();
      } else {
        stream.Close();
      }
    }
  }
  if (ssl) SSL_free(ssl);
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  Release(refuse ? "" : address);
}

namespace {

// A server context holding the certificate and its key; throws Error when
// either cannot be used or the key is not the certificate's.
SSL_CTX* NewTlsContext(const std::string& cert_file, const std::string& key_file) {
  auto failure = [](const std::string& what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return Error(what + (code != 0 ? std::string(": ") + text : std::string()));
  };
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) throw failure("cannot set up TLS");
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1) {
    SSL_CTX_free(ctx);
    throw failure("cannot use the certificate " + cert_file);
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(ctx);
    throw failure("cannot use the private key " + key_file);
  }
  if (SSL_CTX_check_private_key(ctx) != 1) {
    SSL_CTX_free(ctx);
    throw failure("the private key " + key_file + " does not belong to the certificate " +
                  cert_file);
  }
  return ctx;
}

}  // namespace

void CheckTlsFiles(const std::string& cert_file, const std::string& key_file) {
  SSL_CTX_free(NewTlsContext(cert_file, key_file));
}

void GuardedHttpServer::UseTls(const std::string& cert_file, const std::string& key_file) {
  SSL_CTX* ctx = NewTlsContext(cert_file, key_file);
  if (tls_) SSL_CTX_free(tls_);
  tls_ = ctx;
}

}  // namespace dg::server
