// The server's serving threads outlive their connections, parked for the
// next one: every connection is still served once, answered on its own
// connection, counted and released, and nothing is left behind when the
// server stops.
#include <httplib.h>

#include <dirent.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "appserver/connection_limits.h"
#include "appserver/http_connections.h"

namespace dg::server {
namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++n;
    ::closedir(dir);
  }
  return n;
}

// Polls `done` for a few seconds: the server releases a connection just
// after its client read the answer.
template <typename Done>
bool Eventually(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class HttpThreadsTest : public ::testing::Test {
 protected:
  void Start(ConnectionLimits limits = {}) {
    server_ = std::make_unique<GuardedHttpServer>(limits);
    // Echoes the caller's number, so that an answer given on another
    // connection, or twice, shows.
    server_->Get("/echo", [this](const httplib::Request& req, httplib::Response& res) {
      ++calls_;
      res.set_content(req.get_param_value("n"), "text/plain");
    });
    port_ = server_->BindAddress("127.0.0.1", 0);
    server_->StartServing();
  }

  // One call on a connection of its own; the answer's body, or "failed".
  std::string Echo(int n) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_keep_alive(false);
    auto res = client.Get("/echo?n=" + std::to_string(n));
    return res && res->status == 200 ? res->body : "failed";
  }

  std::unique_ptr<GuardedHttpServer> server_;
  int port_ = 0;
  std::atomic<int> calls_{0};
};

TEST_F(HttpThreadsTest, ShortConnectionsAreEachAnsweredOnceOnTheirOwn) {
  const int before = OpenDescriptors();
  Start();
  // One after another (each closed before the next, so a parked thread
  // takes it), then from several clients at once.
  for (int i = 0; i < 200; ++i) ASSERT_EQ(std::to_string(i), Echo(i)) << i;
  constexpr int kClients = 8, kEach = 100;
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([this, c, &wrong] {
      for (int i = 0; i < kEach; ++i) {
        const int n = 1000 * (c + 1) + i;
        if (Echo(n) != std::to_string(n)) ++wrong;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(200 + kClients * kEach, calls_.load());
  EXPECT_TRUE(Eventually([this] { return server_->open_connections() == 0; }))
      << server_->open_connections() << " connections still counted open";
  // The threads that served wait for more rather than end, a bounded few.
  EXPECT_LE(server_->serving_threads(), GuardedHttpServer::kMostParked);
  EXPECT_GE(server_->serving_threads(), 1);

  // Stopping wakes and ends them; no socket is left open.
  server_->StopServing();
  EXPECT_EQ(0, server_->serving_threads());
  EXPECT_EQ(0, server_->open_connections());
  server_.reset();
  EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(HttpThreadsTest, ParkedThreadsKeepTheAddressCapAndIdleLimit) {
  ConnectionLimits limits;
  limits.idle = std::chrono::milliseconds(300);
  limits.max_per_address = 2;
  Start(limits);
  // The server releases a connection a moment after its answer: waited
  // for, so that each is taken by a parked thread within the cap.
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(std::to_string(i), Echo(i));
    ASSERT_TRUE(Eventually([this] { return server_->open_connections() == 0; }));
  }

  // Connections taken by parked threads still count against the cap: the
  // third from one address is refused while two are held open.
  httplib::Client a("127.0.0.1", port_), b("127.0.0.1", port_), c("127.0.0.1", port_);
  a.set_keep_alive(true);
  b.set_keep_alive(true);
  auto ra = a.Get("/echo?n=1");
  auto rb = b.Get("/echo?n=2");
  ASSERT_TRUE(ra && rb);
  EXPECT_EQ("1", ra->body);
  EXPECT_EQ("2", rb->body);
  auto rc = c.Get("/echo?n=3");
  ASSERT_TRUE(rc);
  EXPECT_EQ(503, rc->status);

  // Held connections are closed once idle, and their threads serve again.
  EXPECT_TRUE(Eventually([this] { return server_->open_connections() == 0; }));
  EXPECT_EQ("4", Echo(4));
}

TEST_F(HttpThreadsTest, StoppingEndsParkedThreadsWithConnectionsOpen) {
  Start();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(std::to_string(i), Echo(i));
  // A connection held open and idle besides the parked threads.
  httplib::Client held("127.0.0.1", port_);
  held.set_keep_alive(true);
  ASSERT_TRUE(held.Get("/echo?n=5"));
  EXPECT_TRUE(Eventually([this] { return server_->open_connections() == 1; }));
  server_->StopServing();
  EXPECT_EQ(0, server_->open_connections());
  EXPECT_EQ(0, server_->serving_threads());
  server_->StopServing();  // again: nothing to do
}

}  // namespace
}  // namespace dg::server
