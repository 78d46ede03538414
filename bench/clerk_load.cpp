// Clerks on one server, over HTTP on loopback: how many clerks working at a
// person's pace one exp-appserver holds while every action stays fast.
//
//   exp-bench-load [--clerks N,N,...] [--seconds S] [--instances 1|2]
//                  [--pauseless N]
//
// Each clerk has a transporter of its own (a copy of the generated fleet)
// and a grid of the generated day of 200 items distributed on it; then it
// works through the grid's items with the actions of the latency benchmark
// (an item's vehicles, the save, the order's vehicles, the order off its
// vehicle and back, the stops, a stop numbered, the inconsistencies), one
// call each.
//
// At their own pace (the default): each clerk waits one to three seconds
// (uniform, fixed seed per clerk) before each action. The clerks come in
// steps (16, 32, 64, 96 and 128 by default); each step is measured for S
// seconds (default 30) after a warm-up of three seconds, and the p99 of
// every action of the step is printed; the figure is the most clerks whose
// p99 stays under 50 ms in their step and in every smaller one (a step that
// holds after a smaller one failed says the smaller one met a passing
// condition, such as statistics not yet gathered, not that more clerks fit).
//
// --pauseless N: N clerks call one action after the other without pause
// for S seconds; calls per second and p99.
//
// The database is a SQLite file unless EXP_TEST_PG names a PostgreSQL
// cluster (scripts/pg-test-cluster.sh). --instances 2 starts two servers on
// the same PostgreSQL database and spreads the clerks over them. The
// servers are started with room for every clerk's connection from
// loopback (--max-connections-per-address), as a branch's clerks come from
// addresses of their own.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "appserver/fixture.h"
#include "appserver/storage.h"
#include "appserver/storage_postgres.h"
#include "appserver/testing/server_process.h"
#include "appserver/transport.h"
#include "bench/bench_util.h"
#include "bench/clerk_actions.h"
#include "bench/day_generator.h"
#include "bench/scratch_database.h"

namespace dg::bench {
namespace {

using data::Variant;

constexpr int kDayItems = 200;
constexpr double kGoal = 0.050;

// A valid CNPJ for a clerk's transporter: eight digits of its own, the
// branch number 0001 and the two check digits.
std::string Cnpj(int clerk) {
  std::string d = Format("%08d0001", 50000000 + clerk);
  for (int round = 0; round < 2; ++round) {
    int sum = 0;
    int weight = static_cast<int>(d.size()) - 7;
    for (char c : d) {
      sum += (c - '0') * weight;
      weight = weight == 2 ? 9 : weight - 1;
    }
    const int check = 11 - sum % 11;
    d += static_cast<char>('0' + (check >= 10 ? 0 : check));
  }
  return d;
}

// The generated day with one transporter and fleet per clerk.
nlohmann::json ClerksFixture(int clerks) {
  nlohmann::json f = Fixture(Generate(kDayItems));
  const nlohmann::json transporter = f["TRANSPORT"][0];
  const nlohmann::json fleet = f["VEICULO"];
  f["TRANSPORT"] = nlohmann::json::array();
  f["VEICULO"] = nlohmann::json::array();
  for (int c = 0; c < clerks; ++c) {
    nlohmann::json t = transporter;
    t["NRINSJURTRAN"] = Cnpj(c);
    f["TRANSPORT"].push_back(t);
    for (std::size_t v = 0; v < fleet.size(); ++v) {
      nlohmann::json vehicle = fleet[v];
      vehicle["CDVIATURA"] = Format("%03d%03zu", c, v);
      vehicle["NRINSJURTRAN"] = Cnpj(c);
      f["VEICULO"].push_back(vehicle);
    }
  }
  return f;
}

// One clerk: its connection, its transporter and its grid's actions.
struct Clerk {
  std::unique_ptr<server::HttpTransport> http;
  std::unique_ptr<ClerkCycle> cycle;
};

std::unique_ptr<Clerk> StartClerk(int number, int port, const Variant& items,
                                  server::Storage& storage) {
  auto clerk = std::make_unique<Clerk>();
  server::HttpClientOptions options;
  options.operator_code = Format("CLERK%d", number);
  clerk->http = std::make_unique<server::HttpTransport>("127.0.0.1", port, options);
  server::HttpTransport* http = clerk->http.get();
  auto call = [http](const char* method, std::vector<Variant> args) {
    return http->Call(server::kServerName, method, args);
  };
  const std::string key = "J" + Cnpj(number);
  const data::CallReply reply =
      call("DistribuiQuantidades", {items, "IDCHECK = 'S'", key, "", "ANA", "0001"});
  const std::string grid = reply.args[3].ToString();
  clerk->cycle = std::make_unique<ClerkCycle>(call, key, grid, CarriedBy(storage, grid),
                                              static_cast<std::size_t>(number) * 13);
  return clerk;
}

struct StepResult {
  std::size_t calls = 0;
  int refused = 0;
  int failures = 0;
  double p99 = 0, seconds = 0;
  std::string first_failure;
  // Each action's p50 and p99, to name the ones that set the step's p99.
  std::string by_action;
};

// Runs `count` clerks for the warm-up and `seconds`; with `pace` each waits
// one to three seconds before each action.
StepResult RunStep(std::vector<std::unique_ptr<Clerk>>& clerks, int count, int seconds, bool pace) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now() + std::chrono::seconds(pace ? 3 : 1);
  const auto end = start + std::chrono::seconds(seconds);
  std::mutex mu;
  std::vector<double> times;
  std::map<std::string, std::vector<double>> by_action;
  StepResult result;
  std::vector<std::thread> threads;
  for (int c = 0; c < count; ++c) {
    threads.emplace_back([&, c] {
      std::mt19937 random(static_cast<unsigned>(c + 1));
      std::uniform_real_distribution<double> pause(1.0, 3.0);
      std::vector<double> mine;
      std::map<std::string, std::vector<double>> mine_by_action;
      int refused = 0, failures = 0;
      std::string failure;
      while (true) {
        if (pace) {
          std::this_thread::sleep_for(std::chrono::duration<double>(pause(random)));
        }
        const auto at = Clock::now();
        if (at >= end) break;
        bool was_refused = false;
        const double t0 = WallSeconds();
        const char* action = "failed";
        try {
          action = clerks[c]->cycle->Next(&was_refused);
        } catch (const std::exception& e) {
          ++failures;
          if (failure.empty()) failure = e.what();
        }
        const double took = WallSeconds() - t0;
        if (at < start) continue;
        mine.push_back(took);
        mine_by_action[action].push_back(took);
        refused += was_refused ? 1 : 0;
      }
      std::lock_guard lock(mu);
      times.insert(times.end(), mine.begin(), mine.end());
      for (const auto& [action, t] : mine_by_action) {
        by_action[action].insert(by_action[action].end(), t.begin(), t.end());
      }
      result.refused += refused;
      result.failures += failures;
      if (result.first_failure.empty()) result.first_failure = failure;
    });
  }
  for (auto& t : threads) t.join();
  result.calls = times.size();
  result.p99 = Quantile(times, 0.99);
  result.seconds = seconds;
  for (const auto& [action, t] : by_action) {
    result.by_action += Format("  %s: %zu, p50 %s, p99 %s\n", action.c_str(), t.size(),
                               Ms(Median(t)).c_str(), Ms(Quantile(t, 0.99)).c_str());
  }
  return result;
}

int Main(int argc, char** argv) {
  std::vector<int> steps = {16, 32, 64, 96, 128};
  int seconds = 30, instances = 1, pauseless = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--clerks" && i + 1 < argc) {
      steps = ParseCounts(argv[++i]);
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--instances" && i + 1 < argc) {
      instances = std::atoi(argv[++i]);
    } else if (arg == "--pauseless" && i + 1 < argc) {
      pauseless = std::atoi(argv[++i]);
    } else {
      return Usage(
          "exp-bench-load [--clerks N,N,...] [--seconds S] [--instances 1|2] [--pauseless N]");
    }
  }
  const char* pg = std::getenv("EXP_TEST_PG");
  const bool postgres = pg && *pg;
  if (steps.empty() || (instances != 1 && instances != 2) || pauseless < 0) {
    return Usage("exp-bench-load: clerks above 0, one or two instances");
  }
  if (instances == 2 && !postgres) {
    return Usage("exp-bench-load: two instances share a PostgreSQL database (EXP_TEST_PG)");
  }
  const int most = pauseless > 0 ? pauseless : *std::max_element(steps.begin(), steps.end());
  const char* backend = postgres ? "PostgreSQL" : "SQLite";

  ScratchDatabase db(postgres, "exp_load");
  server::LoadFixture(*db.storage(), ClerksFixture(most));
  std::vector<std::unique_ptr<server::testing::ServerProcess>> servers;
  for (int i = 0; i < instances; ++i) {
    servers.push_back(std::make_unique<server::testing::ServerProcess>(
        db.path(), 0, std::map<std::string, std::optional<std::string>>{},
        std::vector<std::string>{"--max-connections-per-address", std::to_string(most + 16)}));
  }
  server::HttpTransport setup("127.0.0.1", servers[0]->port());
  const Variant items = setup.Call(server::kServerName, "GetItensExpedicao", {"0001"}).result;
  std::fprintf(stderr, "load: %s, %d server(s), %d clerks distributing their grids...\n", backend,
               instances, most);
  std::vector<std::unique_ptr<Clerk>> clerks;
  for (int c = 0; c < most; ++c) {
    clerks.push_back(StartClerk(c, servers[c % instances]->port(), items, *db.storage()));
  }

  int failures = 0;
  if (pauseless > 0) {
    const StepResult r = RunStep(clerks, pauseless, seconds, false);
    const double rate = static_cast<double>(r.calls) / r.seconds;
    std::printf("| %s | %d | %d clerks without pause | %zu | %.0f | %s | %d | %d |\n", backend,
                instances, pauseless, r.calls, rate, Ms(r.p99).c_str(), r.refused, r.failures);
    std::fprintf(stderr, "%s", r.by_action.c_str());
    Row(Format("Load, %d clerks without pause, %s, %d server(s): calls per second (reference: "
               "1,060 before, on the session mix of the load test)",
               pauseless, backend, instances),
        Format("%.0f", rate), "1060", rate / 1060);
    Row(Format("Load, %d clerks without pause, %s, %d server(s): p99", pauseless, backend,
               instances),
        Ms(r.p99), "", 0);
    if (r.failures > 0) std::fprintf(stderr, "failure: %s\n", r.first_failure.c_str());
    return r.failures > 0 ? 1 : 0;
  }

  std::sort(steps.begin(), steps.end());
  int held = 0;
  bool every_step_held = true;
  for (int count : steps) {
    std::fprintf(stderr, "load: %d clerks at their own pace for %d s...\n", count, seconds);
    const StepResult r = RunStep(clerks, count, seconds, true);
    std::printf("| %s | %d | %d clerks, an action every 1-3 s | %zu | %.0f | %s | %d | %d |\n",
                backend, instances, count, r.calls, static_cast<double>(r.calls) / r.seconds,
                Ms(r.p99).c_str(), r.refused, r.failures);
    std::fprintf(stderr, "%s", r.by_action.c_str());
    failures += r.failures;
    if (r.failures > 0) std::fprintf(stderr, "failure: %s\n", r.first_failure.c_str());
    every_step_held = every_step_held && r.failures == 0 && r.p99 < kGoal;
    if (every_step_held) held = count;
  }
  Row(Format("Load at the clerks' pace, %s, %d server(s): most clerks with every action's p99 "
             "under 50 ms in their step and every smaller one (goal 64)",
             backend, instances),
      Format("%d", held), "64", held / 64.0);
  return failures > 0 ? 1 : 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
