// How long and how many connections the HTTP server keeps (see
// http_connections.h for what each limit does). Intentionally copyable.
#pragma once

#include <chrono>

namespace dg::server {

struct ConnectionLimits {
  std::chrono::milliseconds idle{2000};      // before and between requests
  std::chrono::milliseconds request{30000};  // header and body of one request
  std::chrono::milliseconds answer{30000};   // writing one answer
  int max_connections = 512;
  int max_per_address = 32;
  int max_requests = 1000;  // per connection, then it is closed
};

}  // namespace dg::server
