// exp-appserver: serves the distribution grid's server object over HTTP.
//
//   exp-appserver --db FILE [--listen HOST:PORT] [--fixture FILE] [--allow-fixture]
//
// --fixture seeds a database that holds no data yet; --allow-fixture lets
// clients reseed it with POST /fixture. Prints "listening on HOST:PORT" once
// it serves; stops cleanly on SIGINT and SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/storage.h"
#include "appserver/transport.h"

namespace {

int Usage(const std::string& why) {
  std::cerr << "exp-appserver: " << why << "\n"
            << "usage: exp-appserver --db FILE [--listen 127.0.0.1:PORT] [--fixture FILE] "
               "[--allow-fixture]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string db, fixture, listen = "127.0.0.1:8211";
  bool allow_fixture = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "--db") {
      if (!value(db)) return Usage("--db needs a file");
    } else if (arg == "--listen") {
      if (!value(listen)) return Usage("--listen needs HOST:PORT");
    } else if (arg == "--fixture") {
      if (!value(fixture)) return Usage("--fixture needs a file");
    } else if (arg == "--allow-fixture") {
      allow_fixture = true;
    } else {
      return Usage("unknown argument " + arg);
    }
  }
  if (db.empty()) return Usage("--db is required");
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos) return Usage("--listen needs HOST:PORT");
  dg::server::HttpServerOptions options;
  options.host = listen.substr(0, colon);
  options.allow_fixture = allow_fixture;
  try {
    options.port = std::stoi(listen.substr(colon + 1));
  } catch (const std::exception&) {
    return Usage("bad port in " + listen);
  }

  // Signals are taken by sigwait below; every thread started later inherits
  // the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    auto storage = dg::server::OpenSqliteStorage(db);
    if (!fixture.empty() && dg::server::IsUnseeded(*storage)) {
      dg::server::LoadFixtureFile(*storage, fixture);
    }
    auto object = std::make_shared<dg::server::rdmGradeDistribuicao>(storage);
    dg::server::HttpServer server(object, options);
    const int port = server.Start();
    std::cout << "listening on " << options.host << ":" << port << std::endl;
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server.Stop();
    std::cout << "stopped" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
