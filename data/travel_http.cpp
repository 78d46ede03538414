// The routing service over HTTP.
#include <httplib.h>

#include "data/errors.h"
#include "data/travel.h"

namespace dg::data {
namespace {

struct Address {
  std::string origin;  // scheme, host and port
  std::string prefix;  // path before the service's own path
};

Address Split(const std::string& base) {
  const std::size_t scheme = base.find("://");
  const std::size_t path = base.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path == std::string::npos) return {base, ""};
  return {base.substr(0, path), base.substr(path)};
}

}  // namespace

ServiceGet HttpServiceGet(const std::string& base, int timeout_ms) {
  return [address = Split(base), timeout_ms](const std::string& path) {
    httplib::Client client(address.origin);
    if (!client.is_valid()) throw Error("endereço inválido");
    const time_t seconds = timeout_ms / 1000;
    const time_t micros = static_cast<time_t>(timeout_ms % 1000) * 1000;
    client.set_connection_timeout(seconds, micros);
    client.set_read_timeout(seconds, micros);
    client.set_write_timeout(seconds, micros);
    const std::string full = address.prefix + path;
    const httplib::Result answer = client.Get(full.c_str());
    if (!answer) throw Error("sem resposta: " + httplib::to_string(answer.error()));
    if (answer->status != 200) throw Error("resposta HTTP " + std::to_string(answer->status));
    return answer->body;
  };
}

}  // namespace dg::data
