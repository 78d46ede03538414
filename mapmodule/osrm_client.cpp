#include "mapmodule/osrm_client.h"

#include <httplib.h>

#include <charconv>
#include <nlohmann/json.hpp>

#include "data/errors.h"

namespace dg::map {
namespace {

// Locale-independent, as the engine reads them.
std::string Degrees(double value) {
  char buffer[32];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

struct Address {
  std::string origin;  // scheme, host and port
  std::string prefix;  // path before /route
};

Address Split(const std::string& base) {
  const std::size_t scheme = base.find("://");
  const std::size_t path = base.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path == std::string::npos) return {base, ""};
  return {base.substr(0, path), base.substr(path)};
}

}  // namespace

Router OsrmRouter(std::string base, int timeout_ms) {
  return [base = std::move(base), timeout_ms](const Coordinates& points) {
    std::vector<Leg> legs;
    if (points.size() < 2) return legs;
    const Address address = Split(base);
    std::string path = address.prefix + "/route/v1/driving/";
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (i > 0) path += ';';
      path += Degrees(points[i].second) + "," + Degrees(points[i].first);
    }
    path += "?overview=false";

    httplib::Client client(address.origin);
    if (!client.is_valid()) throw Error("endereço inválido");
    const time_t seconds = timeout_ms / 1000;
    const time_t micros = static_cast<time_t>(timeout_ms % 1000) * 1000;
    client.set_connection_timeout(seconds, micros);
    client.set_read_timeout(seconds, micros);
    client.set_write_timeout(seconds, micros);
    const httplib::Result answer = client.Get(path.c_str());
    if (!answer) throw Error("sem resposta: " + httplib::to_string(answer.error()));
    if (answer->status != 200) throw Error("resposta HTTP " + std::to_string(answer->status));
    const nlohmann::json body = nlohmann::json::parse(answer->body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) throw Error("resposta ilegível");
    if (body.value("code", "") != "Ok") throw Error("resposta " + body.value("code", "sem código"));
    const auto routes = body.find("routes");
    if (routes == body.end() || !routes->is_array() || routes->empty() ||
        !(*routes)[0].contains("legs") || !(*routes)[0]["legs"].is_array()) {
      throw Error("resposta sem rota");
    }
    for (const nlohmann::json& leg : (*routes)[0]["legs"]) {
      if (!leg.is_object() || !leg.contains("distance") || !leg["distance"].is_number() ||
          !leg.contains("duration") || !leg["duration"].is_number()) {
        throw Error("trecho sem distância ou duração");
      }
      legs.push_back({leg["distance"].get<double>() / 1000, leg["duration"].get<double>() / 60});
    }
    return legs;
  };
}

}  // namespace dg::map
