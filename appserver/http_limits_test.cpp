// What a hostile or careless client can send the HTTP server: request bodies
// built to break the reader, other content types, and connections that send
// nothing or send slowly. The server refuses each clearly and keeps serving
// everyone else.
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using nlohmann::json;
using namespace testing;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class HttpLimitsTest : public SeededHttpTest {
 protected:
  // A normal clerk's call; answers how long it took until it was answered.
  // A call that is not answered within `patience` fails the test.
  milliseconds NormalCall(milliseconds patience = milliseconds(30000)) {
    HttpClientOptions options;
    options.read_timeout = patience;
    HttpTransport client("127.0.0.1", port_, options);
    const auto start = Clock::now();
    try {
      const auto reply = client.Call(kServerName, "GetParametros", {"0001"});
      EXPECT_EQ("S", Column(reply.result, "IDEXITRANSPDIST"));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the call was not answered: " << e.what();
      return milliseconds::max();
    }
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  }
};

// A raw connection to the server from a loopback address of its own
// (127.0.0.N), so that many of them need not share one address's cap.
class RawConnection {
 public:
  RawConnection(const std::string& from, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                 ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    timeval limit{5, 0};  // no read in these tests waits longer
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return connected_; }
  // Not closed by the server (so far as this end knows without waiting).
  bool open() const {
    char byte;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
  }
  bool Send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Everything the server sends until it closes the connection (at most 5 s).
  std::string ReadToEnd() {
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd_, chunk, sizeof chunk, 0)) > 0) out.append(chunk, n);
    return out;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

std::string CallHeader() {
  return "POST /call HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";
}

// The server's answer to a body sent with a content type.
std::pair<int, std::string> Post(int port, const std::string& body,
                                 const std::string& type = "application/json") {
  httplib::Client client("127.0.0.1", port);
  auto res = client.Post("/call", body, type);
  if (!res) return {0, httplib::to_string(res.error())};
  const json answer = json::parse(res->body, nullptr, false);
  return {res->status, answer.is_object() ? answer.value("error", "") : res->body};
}

std::string CallWithArgument(const std::string& argument) {
  return R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "GetParametros", "args": [)" +
         argument + "]}";
}

TEST_F(HttpLimitsTest, BodiesBuiltToBreakTheReaderAreRefusedClearly) {
  Start();
  std::string deep;
  for (int i = 0; i < 100'000; ++i) deep += "[";
  const std::string refused = "the request body is refused: ";
  struct Case {
    std::string body, type;
    int status;
    std::string error;
  } cases[] = {
      // Nested far beyond the reader's limit: refused while it is read.
      {CallWithArgument("{\"x\":" + deep + std::string(100'000, ']') + "}"), "application/json",
       400, refused + "nested more than 64 levels deep (at byte 147)"},
      {CallWithArgument(deep), "application/json", 400,
       refused + "nested more than 64 levels deep (at byte 143)"},
      // Within it, an unknown object is named by its keys, never printed.
      {CallWithArgument("{\"x\":" + std::string(60, '[') + std::string(60, ']') + "}"),
       "application/json", 400, "malformed argument: invalid value: unknown object {\"x\"}"},
      {R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "GetParametros",
           "args": ["0001"], "method": "DelGrade"})",
       "application/json", 400, refused + "the key \"method\" appears twice in one object"},
      {CallWithArgument("1e999"), "application/json", 400,
       refused + "the number 1e999 does not fit a double"},
      {"not json", "application/json", 400,
       refused + "parse error at line 1, column 2: syntax error while parsing value - invalid "
                 "literal; last read: 'no'"},
      // Other content types are refused whatever their size.
      {CallWithArgument("\"" + std::string(20'000, 'a') + "\""), "text/plain", 415,
       "the request body must be application/json, not text/plain"},
      {"a=" + std::string(20'000, 'b'), "application/x-www-form-urlencoded", 415,
       "the request body must be application/json, not application/x-www-form-urlencoded"},
      {CallWithArgument("\"0001\""), "Application/JSON; charset=utf-8", 200, ""},
  };
  for (const Case& c : cases) {
    const auto [status, error] = Post(port_, c.body, c.type);
    EXPECT_EQ(c.status, status) << c.error;
    EXPECT_EQ(c.error, error);
  }
  NormalCall();
}

// A refusal before the body is read still reaches a client that is in the
// middle of sending a large body, and the connection ends after it.
TEST_F(HttpLimitsTest, RefusalsOfLargeBodiesReachTheClient) {
  HttpServerOptions options;
  options.max_body_bytes = 1 << 20;
  Start(options);
  const std::string large = CallWithArgument("\"" + std::string(8 << 20, 'a') + "\"");
  EXPECT_EQ(std::make_pair(413, std::string("the request body is larger than 1048576 bytes")),
            Post(port_, large));
  EXPECT_EQ(std::make_pair(415, std::string("the request body must be application/json, not "
                                            "text/plain")),
            Post(port_, large, "text/plain"));
  NormalCall();
}

// Many clients that connect and send nothing, and many that send a request
// one byte at a time, take nothing from a clerk's call. The idle ones are
// kept here for longer than the server usually keeps them, so that every one
// of them is still open while the clerk calls.
TEST_F(HttpLimitsTest, IdleAndTricklingConnectionsDoNotDelayACall) {
  HttpServerOptions options;
  options.limits.idle = milliseconds(60000);
  Start(options);
  constexpr int kIdle = 200, kTrickling = 50, kAddresses = 25;
  auto address = [](int i) { return "127.0.0." + std::to_string(10 + i % kAddresses); };
  std::vector<std::unique_ptr<RawConnection>> idle, trickling;
  for (int i = 0; i < kIdle; ++i)
    idle.push_back(std::make_unique<RawConnection>(address(i), port_));
  for (int i = 0; i < kTrickling; ++i) {
    trickling.push_back(std::make_unique<RawConnection>(address(i), port_));
    ASSERT_TRUE(trickling.back()->Send("POST /call HTTP/1.1\r\n"));
  }
  for (const auto& c : idle) ASSERT_TRUE(c->connected());
  std::atomic<bool> done = false;
  std::thread trickle([&] {
    while (!done) {
      for (const auto& c : trickling) c->Send("X");
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  // A server that makes calls wait behind the held connections keeps every
  // call waiting (the clerk gives up after 10 s); on a machine busy with
  // other work a single call may be slow for reasons of its own, so the
  // quickest of a few is the one that must come within a second.
  milliseconds quickest = milliseconds::max();
  for (int i = 0; i < 5; ++i) quickest = std::min(quickest, NormalCall(milliseconds(10000)));
  done = true;
  trickle.join();
  EXPECT_LT(quickest, milliseconds(1000));
  int open = 0;
  for (const auto& c : idle) open += c->open();
  for (const auto& c : trickling) open += c->open();
  EXPECT_EQ(kIdle + kTrickling, open) << "the calls were made while these were open";
}

TEST_F(HttpLimitsTest, IdleAndSlowRequestsAreCutAtTheirDeadlines) {
  HttpServerOptions options;
  options.limits.idle = milliseconds(300);
  options.limits.request = milliseconds(800);
  Start(options);
  const auto start = Clock::now();
  RawConnection idle("127.0.0.2", port_);
  EXPECT_EQ("", idle.ReadToEnd());  // closed by the server, not by the 5 s read limit
  EXPECT_LT(Clock::now() - start, milliseconds(3000));

  // A byte every 50 ms keeps every single read short, but not the request.
  RawConnection slow("127.0.0.3", port_);
  std::string answer;
  std::thread reader([&] { answer = slow.ReadToEnd(); });
  const std::string request = CallHeader() + "Content-Length: 200\r\n\r\n" + std::string(200, ' ');
  for (char c : request) {
    if (!slow.Send(std::string(1, c))) break;
    std::this_thread::sleep_for(milliseconds(50));
    if (Clock::now() - start > milliseconds(4000)) break;
  }
  reader.join();
  EXPECT_EQ(0u, answer.find("HTTP/1.1 408 Request Timeout\r\n")) << answer;
  EXPECT_NE(std::string::npos, answer.find("the request did not arrive within 800 ms"));
  NormalCall();
}

TEST_F(HttpLimitsTest, ConnectionsPerAddressAndInAllAreCapped) {
  HttpServerOptions options;
  options.limits.max_per_address = 4;
  options.limits.max_connections = 12;
  Start(options);
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 4; ++i) held.push_back(std::make_unique<RawConnection>("127.0.0.2", port_));
  RawConnection fifth("127.0.0.2", port_);
  fifth.Send(CallHeader() + "Content-Length: 2\r\n\r\n{}");
  const std::string refusal = fifth.ReadToEnd();
  EXPECT_EQ(0u, refusal.find("HTTP/1.1 503 Service Unavailable\r\n")) << refusal;
  EXPECT_NE(std::string::npos, refusal.find("too many connections from 127.0.0.2 (at most 4)"));
  NormalCall();  // another address is served meanwhile

  // Twelve in all: the next one is closed at once.
  for (int i = 0; i < 8; ++i) held.push_back(std::make_unique<RawConnection>("127.0.0.3", port_));
  RawConnection over("127.0.0.4", port_);
  EXPECT_NE(std::string::npos, over.ReadToEnd().find("the server has too many connections"));

  // Once they are gone, the address is served again.
  held.clear();
  std::string answer;
  for (int i = 0; i < 50 && answer.find("HTTP/1.1 200 OK") != 0; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
    RawConnection again("127.0.0.2", port_);
    again.Send(CallHeader() + "Connection: close\r\nContent-Length: " +
               std::to_string(CallWithArgument("\"0001\"").size()) + "\r\n\r\n" +
               CallWithArgument("\"0001\""));
    answer = again.ReadToEnd();
  }
  EXPECT_EQ(0u, answer.find("HTTP/1.1 200 OK")) << answer;
}

}  // namespace
}  // namespace dg::server
