// The server's request decoder and every method behind it: any POST /call
// body is refused with RequestError, or runs on a temporary database seeded
// with the demonstration data and answers or fails with ServerCallError.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/transport.h"
#include "data/packet.h"

namespace {

std::string DbPath() {
  return (std::filesystem::temp_directory_path() /
          ("call-fuzz-" + std::to_string(::getpid()) + ".db"))
      .string();
}

void RemoveDb() {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(DbPath() + suffix);
}

dg::server::rdmGradeDistribuicao& Server() {
  static std::shared_ptr<dg::server::rdmGradeDistribuicao> server = [] {
    RemoveDb();
    std::atexit(RemoveDb);
    auto storage = dg::server::OpenSqliteStorage(DbPath());
    dg::server::LoadFixtureFile(*storage, EXP_DEMO_FIXTURE);
    return std::make_shared<dg::server::rdmGradeDistribuicao>(storage);
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dg::server::rdmGradeDistribuicao& server = Server();
  dg::server::CallRequest request;
  try {
    request =
        dg::server::DecodeCallRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const dg::server::RequestError&) {
    return 0;
  }
  try {
    const dg::data::CallReply reply =
        dg::server::DispatchCall(server, request.server_name, request.method, request.args);
    // The answer goes back on the wire.
    dg::data::VariantToJson(reply.result);
    for (const auto& a : reply.args) dg::data::VariantToJson(a);
    if (reply.args.size() != request.args.size()) std::abort();
  } catch (const dg::data::ServerCallError&) {
  }
  return 0;
}
