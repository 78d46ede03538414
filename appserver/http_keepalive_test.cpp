// The client's kept connection against a server that ends it: a request
// cut off by the end is sent again on a new connection only when it cannot
// have run, a connection is not reused once the server may end it, and the
// server announces no longer a limit than it keeps.
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using std::chrono::milliseconds;

// A peer on loopback that plays a server's part by hand, one connection
// after the other. It reads little into its socket, so that a large
// request stays in the client's writes until the peer takes it.
class ScriptedPeer {
 public:
  ScriptedPeer() {
    const auto listener = testing::ListenOnLoopback(8, 4096);
    listener_ = listener.fd;
    port_ = listener.port;
  }
  ~ScriptedPeer() {
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

  // Runs `script` on a thread of its own; Join() waits for it.
  void Run(std::function<void(ScriptedPeer&)> script) {
    thread_ = std::thread([this, script = std::move(script)] { script(*this); });
  }
  void Join() { thread_.join(); }

  // The next connection, waited for at most 5 s; -1 when none came.
  int Accept() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return -1;
    return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  // Whether a connection waits to be accepted (without waiting).
  bool ConnectionWaiting() const {
    pollfd p{listener_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

  // One whole request, header and body; "" when the connection ended first.
  static std::string ReadRequest(int fd) {
    std::string in;
    std::size_t need = std::string::npos;
    char chunk[65536];
    while (in.size() < need) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return "";
      in.append(chunk, static_cast<std::size_t>(n));
      const std::size_t end = in.find("\r\n\r\n");
      if (need == std::string::npos && end != std::string::npos) {
        const std::size_t at = in.find("Content-Length: ");
        const std::size_t body = at == std::string::npos || at > end ? 0 : std::atol(&in[at + 16]);
        need = end + 4 + body;
      }
    }
    return in;
  }
  // Waits until the first bytes of a request have come in (at most 5 s).
  static bool RequestStarted(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 5000) > 0;
  }
  // Answers a call with one argument back, keeping the connection.
  static void AnswerCall(int fd, const std::string& keep_alive = "") {
    const std::string body = R"({"result":"ok","args":["back"]})";
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n";
    if (!keep_alive.empty()) answer += "Keep-Alive: " + keep_alive + "\r\n";
    answer += "\r\n" + body;
    ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

std::string Call(HttpTransport& client, const std::string& argument) {
  return client.Call(kServerName, "GravaGrade", {argument}).result.ToString();
}

// A request larger than the client's socket and the peer's can hold, so it
// is still being written when the peer ends the connection.
std::string LargeArgument() { return std::string(8u << 20, 'x'); }

// The server ends a kept connection at its idle limit just as the next
// request starts on it: the request never reached it whole, so it is sent
// again on a new connection and runs there once.
TEST(KeptConnection, ARequestCutOffWhileWrittenOnAKeptConnectionRunsOnceOnANewOne) {
  ScriptedPeer peer;
  std::string second_request;
  peer.Run([&](ScriptedPeer& p) {
    const int kept = p.Accept();
    ScriptedPeer::ReadRequest(kept);
    ScriptedPeer::AnswerCall(kept);
    ScriptedPeer::RequestStarted(kept);
    ::close(kept);  // unread bytes: the client's writes meet a reset
    const int fresh = p.Accept();
    second_request = ScriptedPeer::ReadRequest(fresh);
    ScriptedPeer::AnswerCall(fresh);
    ::close(fresh);
  });
  HttpTransport client("127.0.0.1", peer.port());
  EXPECT_EQ("ok", Call(client, "first"));
  const std::string large = LargeArgument();
  EXPECT_EQ("ok", Call(client, large));
  peer.Join();
  EXPECT_NE(std::string::npos, second_request.find(large)) << "the whole call, on the new one";
  EXPECT_FALSE(peer.ConnectionWaiting()) << "sent twice in all, not more";
}

// Failures after which the call may have run, or that no kept connection
// explains, are reported and the call is not sent again.
TEST(KeptConnection, ACallThatMayHaveRunOrFailedOnANewConnectionIsNotSentAgain) {
  {
    SCOPED_TRACE("read whole on a kept connection, then no answer");
    ScriptedPeer peer;
    peer.Run([](ScriptedPeer& p) {
      const int fd = p.Accept();
      ScriptedPeer::ReadRequest(fd);
      ScriptedPeer::AnswerCall(fd);
      ScriptedPeer::ReadRequest(fd);
      ::close(fd);  // as a server that died while running the call
    });
    HttpTransport client("127.0.0.1", peer.port());
    EXPECT_EQ("ok", Call(client, "first"));
    EXPECT_THROW(Call(client, "second"), data::TransportError);
    peer.Join();
    EXPECT_FALSE(peer.ConnectionWaiting());
  }
  {
    SCOPED_TRACE("cut off while written on a new connection");
    ScriptedPeer peer;
    peer.Run([](ScriptedPeer& p) {
      const int fd = p.Accept();
      ScriptedPeer::RequestStarted(fd);
      ::close(fd);
    });
    HttpTransport client("127.0.0.1", peer.port());
    EXPECT_THROW(Call(client, LargeArgument()), data::TransportError);
    peer.Join();
    EXPECT_FALSE(peer.ConnectionWaiting());
  }
}

// A connection is reused shortly after an answer, and not once the server
// may be about to end it at the idle limit its answers announce.
TEST(KeptConnection, AConnectionIsNotReusedNearTheIdleLimitTheServerAnnounced) {
  ScriptedPeer peer;
  int connections = 0;
  peer.Run([&](ScriptedPeer& p) {
    for (int fd; connections < 2 && (fd = p.Accept()) >= 0; ::close(fd)) {
      ++connections;
      while (!ScriptedPeer::ReadRequest(fd).empty()) {
        ScriptedPeer::AnswerCall(fd, "timeout=2, max=100");
      }
    }
  });
  auto client = std::make_unique<HttpTransport>("127.0.0.1", peer.port());
  Call(*client, "first");
  Call(*client, "at once");
  std::this_thread::sleep_for(milliseconds(1600));  // within 2 s, past three quarters
  Call(*client, "late");
  client.reset();  // ends the last connection
  peer.Join();
  EXPECT_EQ(2, connections);
  EXPECT_FALSE(peer.ConnectionWaiting());
}

// Clients go by the announced idle limit, so it may round down, never up.
TEST(KeptConnection, TheServerAnnouncesNoLongerAnIdleLimitThanItKeeps) {
  testing::TempDatabase db;
  for (const auto& [idle, announced] :
       {std::pair{1999, "timeout=1"}, std::pair{2000, "timeout=2"}, std::pair{300, "timeout=1"}}) {
    HttpServerOptions options;
    options.limits.idle = milliseconds(idle);
    HttpServer server(std::make_shared<rdmGradeDistribuicao>(db.storage()), options);
    httplib::Client client("127.0.0.1", server.Start());
    client.set_keep_alive(true);
    const auto res = client.Get("/health");
    ASSERT_TRUE(res);
    EXPECT_EQ(0u, res->get_header_value("Keep-Alive").find(announced)) << idle << " ms";
  }
}

}  // namespace
}  // namespace dg::server
