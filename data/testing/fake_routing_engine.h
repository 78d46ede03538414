// For tests: a routing engine on a loopback port, answering each GET from
// the test's own reply and remembering the paths it was asked.
#pragma once

#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dg::data::testing {

// A routing engine on a loopback port, answering from `reply`.
class FakeEngine {
 public:
  explicit FakeEngine(std::function<void(const httplib::Request&, httplib::Response&)> reply) {
    server_.Get(R"(/.*)", [this, reply](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.push_back(req.path);
      }
      reply(req, res);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only ends a server that is already running.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~FakeEngine() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Paths() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> paths_;
};

}  // namespace dg::data::testing
