// Clerks on one server or several, over HTTP on loopback: how many clerks
// working at a person's pace the servers hold while every action stays
// fast, and how close the server comes to what the HTTP transport allows.
//
//   exp-bench-load [--clerks N,N,...|--most N] [--seconds S] [--instances 1|2|4]
//                  [--pauseless N] [--workers N] [--db-connections N]
//                  [--db-transactions N]
//
// Each clerk has a transporter of its own (a copy of the generated fleet)
// and a grid of the generated day of 200 items distributed on it; then it
// works through the grid's items with the actions of the latency benchmark
// (an item's vehicles, the save, the order's vehicles, the order off its
// vehicle and back, the stops, a stop numbered, the inconsistencies), one
// call each.
//
// At their own pace (the default): each clerk waits one to three seconds
// (uniform, fixed seed per clerk) after each action before the next. The
// clerks come in steps, 16, 32, 64, 128, 256, 512 and then 256 more at a
// time up to the largest step (--most, default 1536), or those --clerks names;
// each step is measured for S seconds (default 20) after a warm-up of
// three seconds, and the p99 of every action of the step is printed. The
// run stops at the first step whose p99 reaches 50 ms or where a call
// fails: the figure (the knee) is the last step that held. The run is
// bounded by --minutes M (default 10), setup included: no step starts that
// would end after it, and the figure then says the time stopped it. The
// setup distributes a grid per clerk of the largest step over HTTP (a few
// milliseconds each on a quiet machine, ten times that on a loaded one).
//
// After every step, the failing one included, the database is checked
// (load_checks.h): no vehicle over its room, no item carried above what it
// has, every answered write stored once. A breach fails the step.
//
// The clerks are not a thread each: a dispatcher hands each clerk, when its
// pause is over, to a pool of --workers threads (default 128) that make the
// calls on the clerk's own connection. Each step reports how late the
// actions started against their due time (the start lag: the client falling
// behind shows there) and the CPU the client and the servers used, as a
// share of one core.
//
// --pauseless N: first a bare HTTP server of the same library (a child
// process of this program, answering an empty call with "{}") is called
// by N threads without pause for S seconds: the most calls per second the
// transport allows on this machine. Then N clerks call the server without
// pause, first the reads of the session mix alone (reported beside the bare
// server's figure), then the whole mix.
//
// The database is a SQLite file unless EXP_TEST_PG names a PostgreSQL
// cluster (scripts/pg-test-cluster.sh). --instances 2 or 4 starts that
// many servers on the same PostgreSQL database and spreads the clerks over
// them. Each runs its own transactions (--db-connections N, the server's
// own default unless given), or they share --db-transactions N between
// them, each its share. The servers are started with room
// for every clerk's connection (--max-connections, and
// --max-connections-per-address, as a branch's clerks come from addresses
// of their own).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "appserver/fixture.h"
#include "appserver/storage.h"
#include "appserver/storage_postgres.h"
#include "appserver/testing/server_process.h"
#include "appserver/transport.h"
#include "bench/bench_util.h"
#include "bench/clerk_actions.h"
#include "bench/day_generator.h"
#include "bench/load_checks.h"
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

// A vehicle's code of four letters and digits, the width the screen and the
// vehicle packet give it (a longer code is cut, and the save then names a
// vehicle that does not exist): 36^4 vehicles in all.
std::string VehicleCode(std::size_t n) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string code(4, '0');
  for (int i = 3; i >= 0; --i, n /= 36) code[static_cast<std::size_t>(i)] = kDigits[n % 36];
  return code;
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
      vehicle["CDVIATURA"] = VehicleCode(static_cast<std::size_t>(c) * fleet.size() + v);
      vehicle["NRINSJURTRAN"] = Cnpj(c);
      f["VEICULO"].push_back(vehicle);
    }
  }
  return f;
}

using Clock = std::chrono::steady_clock;

// One clerk: its connection, its transporter and its grid's actions (the
// whole mix, and the reads alone), and the writes it made there.
struct Clerk {
  std::unique_ptr<server::HttpTransport> http;
  std::unique_ptr<ClerkCycle> cycle, reads;
  std::string grid;
  GridWrites writes;
  std::mt19937 random;
};

std::unique_ptr<Clerk> StartClerk(int number, int port, const Variant& items,
                                  server::Storage& storage) {
  auto clerk = std::make_unique<Clerk>();
  clerk->random.seed(static_cast<unsigned>(number + 1));
  server::HttpClientOptions options;
  options.operator_code = Format("CLERK%d", number);
  clerk->http = std::make_unique<server::HttpTransport>("127.0.0.1", port, options);
  server::HttpTransport* http = clerk->http.get();
  auto call = [http](const char* method, std::vector<Variant> args) {
    try {
      return http->Call(server::kServerName, method, args);
    } catch (const data::ServerCallError& e) {
      // The server too busy to take the call, or an HTTP failure: a failed
      // call, not a refusal of the clerk's action.
      const std::string what = e.what();
      if (what.rfind("Servidor de aplicação", 0) == 0 || what.find("HTTP") != std::string::npos) {
        throw std::runtime_error(what);
      }
      throw;
    }
  };
  const std::string key = "J" + Cnpj(number);
  const data::CallReply reply =
      call("DistribuiQuantidades", {items, "IDCHECK = 'S'", key, "", "ANA", "0001"});
  clerk->grid = reply.args[3].ToString();
  const std::vector<Carried> carried = CarriedBy(storage, clerk->grid);
  const auto first = static_cast<std::size_t>(number) * 13;
  clerk->cycle = std::make_unique<ClerkCycle>(call, key, clerk->grid, carried, first);
  clerk->reads = std::make_unique<ClerkCycle>(call, key, clerk->grid, carried, first, true);
  return clerk;
}

// What the actions of a step (or a share of them) took.
struct StepResult {
  std::vector<double> times, lags;
  std::map<std::string, std::vector<double>> by_action;
  int refused = 0, failures = 0;
  std::string first_failure, first_refusal;

  void Add(const StepResult& other) {
    times.insert(times.end(), other.times.begin(), other.times.end());
    lags.insert(lags.end(), other.lags.begin(), other.lags.end());
    for (const auto& [action, t] : other.by_action) {
      by_action[action].insert(by_action[action].end(), t.begin(), t.end());
    }
    refused += other.refused;
    failures += other.failures;
    if (first_failure.empty()) first_failure = other.first_failure;
    if (first_refusal.empty()) first_refusal = other.first_refusal;
  }
  // Each action's count, p50 and p99, to name the ones that set the p99.
  std::string ByAction() const {
    std::string text;
    for (const auto& [action, t] : by_action) {
      text += Format("  %s: %zu, p50 %s, p99 %s\n", action.c_str(), t.size(), Ms(Median(t)).c_str(),
                     Ms(Quantile(t, 0.99)).c_str());
    }
    return text;
  }
};

// Runs the clerk's next action (of the whole mix, or of the reads alone)
// and counts it in `into` when `measured`; counts its write as answered,
// or as unanswered when the call failed.
void Act(Clerk& clerk, bool reads_only, bool measured, StepResult& into) {
  ClerkCycle& cycle = reads_only ? *clerk.reads : *clerk.cycle;
  const std::string method = cycle.NextMethod();
  const bool writes = cycle.NextWrites();
  bool refused = false, failed = false;
  const char* action = method.c_str();
  std::string failure;
  const double t0 = WallSeconds();
  try {
    action = cycle.Next(&refused);
  } catch (const std::exception& e) {
    failed = true;
    failure = clerk.grid + " " + method + ": " + e.what();
  }
  const double took = WallSeconds() - t0;
  if (writes && failed) ++clerk.writes.unanswered[method];
  if (writes && !failed && !refused) ++clerk.writes.answered[method];
  if (!measured) return;
  into.times.push_back(took);
  into.by_action[failed ? "failed" : action].push_back(took);
  into.refused += refused ? 1 : 0;
  if (refused && into.first_refusal.empty()) {
    into.first_refusal = std::string(action) + ": " + cycle.last_refusal();
  }
  if (failed) {
    ++into.failures;
    if (into.first_failure.empty()) into.first_failure = failure;
  }
}

// CPU seconds (user and system) of this process, and of a child process.
double OwnCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the name: state is the 3rd of the line, utime the 14th.
  std::size_t at = close + 2;
  for (int field = 3; field < 14 && at != std::string::npos; ++field) {
    at = stat.find(' ', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos) return 0;
  char* end = nullptr;
  const double user = std::strtod(stat.c_str() + at, &end);
  const double system = std::strtod(end, nullptr);
  return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The CPU the client and the servers used over a measured window, each as
// a share of one core.
class CpuShare {
 public:
  explicit CpuShare(std::vector<pid_t> servers) : servers_(std::move(servers)) {}
  void Start() {
    wall_ = WallSeconds();
    own_ = OwnCpuSeconds();
    theirs_ = Servers();
  }
  void Stop() {
    const double wall = std::max(1e-9, WallSeconds() - wall_);
    client = (OwnCpuSeconds() - own_) / wall;
    server = (Servers() - theirs_) / wall;
  }
  double client = 0, server = 0;

 private:
  double Servers() const {
    double sum = 0;
    for (pid_t pid : servers_) sum += ProcessCpuSeconds(pid);
    return sum;
  }
  std::vector<pid_t> servers_;
  double wall_ = 0, own_ = 0, theirs_ = 0;
};

// The first `count` clerks at their own pace: warm-up of three seconds,
// then `seconds` measured; each waits one to three seconds after each
// action. A dispatcher thread hands the clerks whose pause is over to
// `workers` threads.
StepResult RunPaced(std::vector<std::unique_ptr<Clerk>>& clerks, int count, int seconds,
                    int workers, CpuShare& cpu) {
  const auto start = Clock::now() + std::chrono::seconds(3);
  const auto end = start + std::chrono::seconds(seconds);
  struct Due {
    Clock::time_point at;
    int clerk;
    bool operator>(const Due& other) const { return at > other.at; }
  };
  std::mutex mu;
  std::condition_variable wake_dispatcher, wake_worker;
  std::priority_queue<Due, std::vector<Due>, std::greater<>> waiting;  // GUARDED_BY(mu)
  std::deque<Due> ready;                                               // GUARDED_BY(mu)
  int live = count;   // clerks with an action still to come; GUARDED_BY(mu)
  bool done = false;  // GUARDED_BY(mu)
  auto pause = [](Clerk& c) {
    std::uniform_real_distribution<double> seconds_between(1.0, 3.0);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(seconds_between(c.random)));
  };
  const auto now = Clock::now();
  for (int c = 0; c < count; ++c) waiting.push({now + pause(*clerks[c]), c});

  std::thread dispatcher([&] {
    std::unique_lock lock(mu);
    while (live > 0) {
      if (waiting.empty()) {
        wake_dispatcher.wait(lock);
        continue;
      }
      const Due next = waiting.top();
      if (next.at > Clock::now()) {
        wake_dispatcher.wait_until(lock, next.at);
        continue;
      }
      waiting.pop();
      ready.push_back(next);
      wake_worker.notify_one();
    }
    done = true;
    wake_worker.notify_all();
  });
  std::vector<StepResult> shares(static_cast<std::size_t>(workers));
  std::vector<std::thread> pool;
  for (int w = 0; w < workers; ++w) {
    pool.emplace_back([&, w] {
      StepResult& mine = shares[static_cast<std::size_t>(w)];
      std::unique_lock lock(mu);
      for (;;) {
        wake_worker.wait(lock, [&] { return done || !ready.empty(); });
        if (ready.empty()) return;
        const Due due = ready.front();
        ready.pop_front();
        lock.unlock();
        Clerk& clerk = *clerks[static_cast<std::size_t>(due.clerk)];
        const auto began = Clock::now();
        const bool measured = began >= start && began < end;
        if (measured) mine.lags.push_back(std::chrono::duration<double>(began - due.at).count());
        Act(clerk, false, measured, mine);
        const auto next = Clock::now() + pause(clerk);
        lock.lock();
        if (next < end) {
          waiting.push({next, due.clerk});
        } else {
          --live;
        }
        wake_dispatcher.notify_one();
      }
    });
  }
  std::this_thread::sleep_until(start);
  cpu.Start();
  std::this_thread::sleep_until(end);
  cpu.Stop();
  dispatcher.join();
  for (auto& t : pool) t.join();
  StepResult result;
  for (const StepResult& share : shares) result.Add(share);
  return result;
}

// The first `count` clerks, a thread each, without pause: a warm-up of one
// second, then `seconds` measured.
StepResult RunPauseless(std::vector<std::unique_ptr<Clerk>>& clerks, int count, int seconds,
                        bool reads_only, CpuShare& cpu) {
  const auto start = Clock::now() + std::chrono::seconds(1);
  const auto end = start + std::chrono::seconds(seconds);
  std::vector<StepResult> shares(static_cast<std::size_t>(count));
  std::vector<std::thread> threads;
  for (int c = 0; c < count; ++c) {
    threads.emplace_back([&, c] {
      for (auto at = Clock::now(); at < end; at = Clock::now()) {
        Act(*clerks[static_cast<std::size_t>(c)], reads_only, at >= start,
            shares[static_cast<std::size_t>(c)]);
      }
    });
  }
  std::this_thread::sleep_until(start);
  cpu.Start();
  std::this_thread::sleep_until(end);
  cpu.Stop();
  for (auto& t : threads) t.join();
  StepResult result;
  for (const StepResult& share : shares) result.Add(share);
  return result;
}

// The bare server of the reference: the same HTTP library answering every
// POST /call with "{}", a thread for each of up to `threads` connections
// kept open, as the server keeps them. Prints "listening on HOST:PORT".
int BareServer(int threads) {
  httplib::Server http;
  http.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<std::size_t>(threads));
  };
  http.set_keep_alive_max_count(1000);
  http.set_tcp_nodelay(true);
  http.Post("/call", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{}", "application/json");
  });
  const int port = http.bind_to_any_port("127.0.0.1");
  if (port <= 0) return 1;
  std::printf("listening on 127.0.0.1:%d\n", port);
  std::fflush(stdout);
  return http.listen_after_bind() ? 0 : 1;
}

// Calls per second of `count` threads calling the bare server without
// pause on connections kept open (warm-up one second, `seconds` measured).
double BareCallsPerSecond(int count, int seconds) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  server::testing::ChildProcess bare({self, "--bare-server", std::to_string(count + 4)});
  const auto line = bare.WaitForLine("listening on ");
  if (!line) throw std::runtime_error("the bare server did not start:\n" + bare.Output());
  const int port = std::stoi(line->substr(line->rfind(':') + 1));
  const auto start = Clock::now() + std::chrono::seconds(1);
  const auto end = start + std::chrono::seconds(seconds);
  std::vector<long> calls(static_cast<std::size_t>(count), 0);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < count; ++c) {
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (auto at = Clock::now(); at < end; at = Clock::now()) {
        auto res = client.Post("/call", "{}", "application/json");
        // The server ends a kept connection after its most requests, and a
        // call sent just then fails: it is sent again once on a new
        // connection, as the desktop's client does with the real server.
        if (!res) {
          client.stop();
          res = client.Post("/call", "{}", "application/json");
        }
        if (!res || res->status != 200) {
          ++failed;
        } else if (at >= start) {
          ++calls[static_cast<std::size_t>(c)];
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  if (failed > 0)
    throw std::runtime_error(Format("the bare server failed %d calls", failed.load()));
  long sum = 0;
  for (long n : calls) sum += n;
  return static_cast<double>(sum) / seconds;
}

// The steps of the knee's search: 16, 32, 64, 128, 256, 512, then 256
// more at a time, up to `most` (itself the last step).
std::vector<int> StepsUpTo(int most) {
  std::vector<int> steps;
  for (int n = 16; n < most; n = n < 512 ? n * 2 : n + 256) steps.push_back(n);
  steps.push_back(most);
  return steps;
}

void PrintStep(const char* backend, int instances, const std::string& clerks, const StepResult& r,
               int seconds, const CpuShare& cpu, const std::vector<std::string>& problems) {
  std::printf("| %s | %d | %s | %zu | %.0f | %s | %d | %d | %s | %.0f %% | %.0f %% | %s |\n",
              backend, instances, clerks.c_str(), r.times.size(),
              static_cast<double>(r.times.size()) / seconds, Ms(Quantile(r.times, 0.99)).c_str(),
              r.refused, r.failures, r.lags.empty() ? "-" : Ms(Quantile(r.lags, 0.99)).c_str(),
              100 * cpu.client, 100 * cpu.server,
              problems.empty() ? "hold" : Format("%zu breaches", problems.size()).c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "%s", r.ByAction().c_str());
  if (r.failures > 0) std::fprintf(stderr, "failure: %s\n", r.first_failure.c_str());
  if (r.refused > 0) std::fprintf(stderr, "refusal: %s\n", r.first_refusal.c_str());
  for (std::size_t i = 0; i < problems.size() && i < 10; ++i) {
    std::fprintf(stderr, "breach: %s\n", problems[i].c_str());
  }
}

std::vector<std::string> Check(server::Storage& storage,
                               const std::vector<std::unique_ptr<Clerk>>& clerks) {
  std::map<std::string, GridWrites> writes;
  for (const auto& c : clerks) writes[c->grid] = c->writes;
  return CheckNothingLost(storage, writes);
}

int Main(int argc, char** argv) {
  std::vector<int> steps;
  int seconds = 20, instances = 1, pauseless = 0, most = 1536, workers = 128, minutes = 10;
  std::string db_connections, db_transactions;  // the servers' defaults unless given
  const double began = WallSeconds();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bare-server" && i + 1 < argc) {
      return BareServer(std::max(1, std::atoi(argv[++i])));
    } else if (arg == "--clerks" && i + 1 < argc) {
      steps = ParseCounts(argv[++i]);
      if (steps.empty()) return Usage("exp-bench-load: --clerks needs numbers above 0");
    } else if (arg == "--most" && i + 1 < argc) {
      most = std::atoi(argv[++i]);
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--instances" && i + 1 < argc) {
      instances = std::atoi(argv[++i]);
    } else if (arg == "--pauseless" && i + 1 < argc) {
      pauseless = std::atoi(argv[++i]);
    } else if (arg == "--workers" && i + 1 < argc) {
      workers = std::atoi(argv[++i]);
    } else if (arg == "--minutes" && i + 1 < argc) {
      minutes = std::atoi(argv[++i]);
    } else if (arg == "--db-connections" && i + 1 < argc) {
      db_connections = argv[++i];
    } else if (arg == "--db-transactions" && i + 1 < argc) {
      db_transactions = argv[++i];
    } else {
      return Usage(
          "exp-bench-load [--clerks N,N,...|--most N] [--seconds S] [--instances 1|2|4] "
          "[--pauseless N] [--workers N] [--minutes M] [--db-connections N] "
          "[--db-transactions N]");
    }
  }
  const char* pg = std::getenv("EXP_TEST_PG");
  const bool postgres = pg && *pg;
  if (most < 1 || pauseless < 0 || workers < 1 || minutes < 1 ||
      (instances != 1 && instances != 2 && instances != 4)) {
    return Usage("exp-bench-load: clerks, workers and minutes above 0; one, two or four instances");
  }
  if (instances > 1 && !postgres) {
    return Usage("exp-bench-load: several instances share a PostgreSQL database (EXP_TEST_PG)");
  }
  if (steps.empty()) steps = StepsUpTo(most);
  std::sort(steps.begin(), steps.end());
  const int clerk_count = pauseless > 0 ? pauseless : steps.back();
  const char* backend = postgres ? "PostgreSQL" : "SQLite";

  // The transport's own limit first, before any server of ours runs.
  double bare = 0;
  if (pauseless > 0) {
    std::fprintf(stderr, "load: a bare HTTP server, %d threads without pause...\n", pauseless);
    bare = BareCallsPerSecond(pauseless, seconds);
  }

  ScratchDatabase db(postgres, "exp_load");
  server::LoadFixture(*db.storage(), ClerksFixture(clerk_count));
  std::vector<std::unique_ptr<server::testing::ServerProcess>> servers;
  std::vector<pid_t> pids;
  std::vector<std::string> server_args{"--max-connections-per-address",
                                       std::to_string(clerk_count + 16), "--max-connections",
                                       std::to_string(clerk_count + 64)};
  if (!db_connections.empty()) {
    server_args.insert(server_args.end(), {"--db-connections", db_connections});
  }
  if (!db_transactions.empty()) {
    server_args.insert(server_args.end(), {"--db-transactions", db_transactions});
  }
  for (int i = 0; i < instances; ++i) {
    servers.push_back(std::make_unique<server::testing::ServerProcess>(
        db.path(), 0, std::map<std::string, std::optional<std::string>>{}, server_args));
    pids.push_back(servers.back()->child().pid());
  }
  server::HttpTransport setup("127.0.0.1", servers[0]->port());
  const Variant items = setup.Call(server::kServerName, "GetItensExpedicao", {"0001"}).result;
  std::fprintf(stderr, "load: %s, %d server(s), %d clerks distributing their grids...\n", backend,
               instances, clerk_count);
  // Four at a time: the distributions' HTTP and JSON overlap the writes.
  std::vector<std::unique_ptr<Clerk>> clerks(static_cast<std::size_t>(clerk_count));
  {
    std::atomic<int> next{0};
    std::mutex mu;
    std::string failure;
    std::vector<std::thread> starters;
    for (int t = 0; t < 4; ++t) {
      starters.emplace_back([&] {
        for (int c = next++; c < clerk_count; c = next++) {
          try {
            clerks[static_cast<std::size_t>(c)] = StartClerk(
                c, servers[static_cast<std::size_t>(c % instances)]->port(), items, *db.storage());
          } catch (const std::exception& e) {
            std::lock_guard lock(mu);
            if (failure.empty()) failure = Format("clerk %d: %s", c, e.what());
            next = clerk_count;
          }
        }
      });
    }
    for (auto& t : starters) t.join();
    if (!failure.empty())
      throw std::runtime_error("a clerk's grid was not distributed: " + failure);
  }
  CpuShare cpu(pids);

  if (pauseless > 0) {
    std::fprintf(stderr, "load: %d clerks without pause, the reads...\n", pauseless);
    const StepResult reads = RunPauseless(clerks, pauseless, seconds, true, cpu);
    const std::vector<std::string> read_problems = Check(*db.storage(), clerks);
    PrintStep(backend, instances, Format("%d clerks without pause, reads", pauseless), reads,
              seconds, cpu, read_problems);
    const CpuShare reads_cpu = cpu;
    std::fprintf(stderr, "load: %d clerks without pause, the whole mix...\n", pauseless);
    const StepResult mix = RunPauseless(clerks, pauseless, seconds, false, cpu);
    const std::vector<std::string> problems = Check(*db.storage(), clerks);
    PrintStep(backend, instances, Format("%d clerks without pause, whole mix", pauseless), mix,
              seconds, cpu, problems);
    std::printf(
        "| bare HTTP server (empty call) | 1 | %d threads without pause | %.0f | %.0f | - "
        "| 0 | 0 | - | - | - | - |\n",
        pauseless, bare * seconds, bare);
    const double rate = static_cast<double>(reads.times.size()) / seconds;
    Row(Format("Load, %d clerks without pause, %s, %d server(s): calls per second, the session "
               "mix's reads (reference: a bare HTTP server of the same library answering an "
               "empty call; goal ratio 0.5)",
               pauseless, backend, instances),
        Format("%.0f", rate), Format("%.0f", bare), rate / bare);
    Row(Format("Load, %d clerks without pause, %s, %d server(s): the reads' p99, server CPU "
               "%.0f %% and client CPU %.0f %% of one core",
               pauseless, backend, instances, 100 * reads_cpu.server, 100 * reads_cpu.client),
        Ms(Quantile(reads.times, 0.99)), "", 0);
    Row(Format("Load, %d clerks without pause, %s, %d server(s): calls per second, the whole "
               "session mix (p99 %s)",
               pauseless, backend, instances, Ms(Quantile(mix.times, 0.99)).c_str()),
        Format("%.0f", static_cast<double>(mix.times.size()) / seconds), "", 0);
    const bool failed =
        reads.failures + mix.failures > 0 || !read_problems.empty() || !problems.empty();
    return failed ? 1 : 0;
  }

  int held = 0;
  bool breached = false;
  std::string stopped = "the largest step held";
  for (int count : steps) {
    // A step takes its seconds, the warm-up and the checks' few seconds.
    if (WallSeconds() - began + seconds + 8 > minutes * 60.0) {
      stopped = Format("the run's %d minutes, before %d", minutes, count);
      break;
    }
    std::fprintf(stderr, "load: %d clerks at their own pace for %d s...\n", count, seconds);
    const StepResult r = RunPaced(clerks, count, seconds, std::min(workers, count), cpu);
    const std::vector<std::string> problems = Check(*db.storage(), clerks);
    PrintStep(backend, instances, Format("%d clerks, an action every 1-3 s", count), r, seconds,
              cpu, problems);
    const double p99 = Quantile(r.times, 0.99);
    breached = breached || !problems.empty();
    if (r.failures > 0 || p99 >= kGoal || !problems.empty()) {
      stopped = r.failures > 0      ? Format("%d failed calls at %d", r.failures, count)
                : !problems.empty() ? Format("database breaches at %d", count)
                                    : Format("p99 %s at %d", Ms(p99).c_str(), count);
      break;
    }
    held = count;
  }
  Row(Format("Load at the clerks' pace, %s, %d server(s): most clerks with every action's p99 "
             "under 50 ms, no failed call and the database whole (goal 1000 on one server; "
             "stopped by: %s)",
             backend, instances, stopped.c_str()),
      Format("%d", held), "1000", held / 1000.0);
  return breached ? 1 : 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
