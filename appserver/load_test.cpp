// Many clerks at once against one exp-appserver process on loopback.
//
// Sixteen clients (EXP_LOAD_CLIENTS) run clerk sessions on the demonstration
// data for EXP_LOAD_SECONDS seconds (10 by default; a longer run is the same
// test with a larger value): grid number, distribution, a manual save, an
// order allocation, route orders, then discard or dispatch. Afterwards no
// call may have failed other than by a business refusal, no grid number may
// repeat, no vehicle may carry more than its capacity on a delivery day
// across grids, and every dispatched grid must hold what its clerk saved.
// Calls per second and the median and 99th percentile latency are printed.
//
// EXP_LOAD_SECURE=1 runs the same against a server that requires sign-in,
// over TLS: each clerk is an operator of its own who signs in once, and
// every call carries its session. The clerks all sign in before the first
// of them starts working; the time the sign-ins took is printed apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "appserver/grade_support.h"
#include "appserver/operators.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"
#include "appserver/testing/tls_test_support.h"

namespace dg::server {
namespace {

using data::DataPacket;
using data::Variant;
using namespace testing;

// EXP_LOAD_BACKEND=postgres runs the load test on the PostgreSQL cluster of
// EXP_TEST_PG (skipped without one) instead of a SQLite file.
Backend LoadBackend() {
  const char* v = std::getenv("EXP_LOAD_BACKEND");
  return v && std::string(v) == "postgres" ? Backend::Postgres : Backend::Sqlite;
}

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

std::string DemoFixture() {
  const char* root = std::getenv("EXP_SOURCE_DIR");
  return std::string(root ? root : ".") + "/fixtures/demo.json";
}

bool IsBusinessRefusal(const std::string& text) {
  static const std::set<std::string> kRefusals = {"@QT_EXCEDE",
                                                  detail::kItemWeightExceeded,
                                                  detail::kItemVolumeExceeded,
                                                  detail::kOrderWeightExceeded,
                                                  detail::kOrderVolumeExceeded,
                                                  "Ordem já cadastrada."};
  // What is left to dispatch ran out: another clerk dispatched the items.
  static const char* const kLeftRefusals[] = {"A distribuição levaria mais do que resta a expedir:",
                                              "Os veículos levariam mais do que resta a expedir:",
                                              "A alocação levaria mais do que resta a expedir:"};
  for (const char* lead : kLeftRefusals) {
    if (text.rfind(lead, 0) == 0) return true;
  }
  if (text.rfind("A grade ", 0) == 0 &&
      text.find(" não pode ser expedida: levaria mais do que resta a expedir") !=
          std::string::npos) {
    return true;
  }
  return kRefusals.count(text) > 0;
}

// What a finished, dispatched grid must still hold at the end.
struct Dispatched {
  std::string grid;
  std::string moved_order, moved_to;  // the order allocation, when it was accepted
  std::string routed_vehicle;         // every stop of it got an order
};

struct Totals {
  std::mutex mu;
  std::vector<double> latencies_ms;       // GUARDED_BY(mu)
  std::vector<std::string> grid_numbers;  // GUARDED_BY(mu)
  std::vector<std::string> failures;      // GUARDED_BY(mu)
  std::vector<Dispatched> dispatched;     // GUARDED_BY(mu)
  std::atomic<int> refusals{0}, sessions{0};
};

int Col(const DataPacket& p, const char* name) {
  const int i = p.FieldIndex(name);
  if (i < 0) throw Error(std::string("no field ") + name);
  return i;
}

// One clerk: its own connection, its own operator code.
class Clerk {
 public:
  // `password`: sign in as the clerk's operator first (a server that
  // requires it).
  Clerk(int number, int port, Totals& totals, const DataPacket& items,
        std::vector<std::string> transporters, const HttpClientOptions& options = {},
        const std::string& password = "")
      : client_("127.0.0.1", port, options),
        totals_(totals),
        items_(items),
        transporters_(std::move(transporters)),
        operator_("CLERK" + std::to_string(number)),
        random_(number) {
    for (const auto& row : items_.rows) orders_.insert(Str(row[Col(items_, "NRPEDIDO")]));
    if (!password.empty()) client_.SignIn(operator_, password);
  }

  void Session() {
    const std::string grid = Str(Call("PrxNrGrade", {"0001"}).result);
    {
      std::lock_guard lock(totals_.mu);
      totals_.grid_numbers.push_back(grid);
    }
    Dispatched record{grid, "", "", ""};
    if (!Distribute(grid) || !ManualSave(grid) || !AllocateOrder(grid, record) ||
        !RouteOrders(grid, record)) {
      Call("DelGrade", {"0001", grid});
      return;
    }
    if (Pick(4) == 0) {
      // Refused when another clerk dispatched some of the same items first.
      if (!Try("ExpedirGrade", {"0001", grid, operator_})) {
        Call("DelGrade", {"0001", grid});
        return;
      }
      std::lock_guard lock(totals_.mu);
      totals_.dispatched.push_back(record);
    } else {
      Call("DelGrade", {"0001", grid});
    }
    ++totals_.sessions;
  }

 private:
  // Throws for anything but an answer; business refusals come back as
  // std::nullopt from Try.
  data::CallReply Call(const std::string& method, std::vector<Variant> args) {
    const auto start = std::chrono::steady_clock::now();
    data::CallReply reply = client_.Call(kServerName, method, args);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::lock_guard lock(totals_.mu);
    totals_.latencies_ms.push_back(took.count());
    return reply;
  }
  std::optional<data::CallReply> Try(const std::string& method, std::vector<Variant> args) {
    try {
      return Call(method, std::move(args));
    } catch (const data::ServerCallError& e) {
      if (!IsBusinessRefusal(e.what())) throw;
      ++totals_.refusals;
      return std::nullopt;
    }
  }
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  // Selects two or three orders and distributes them over a transporter.
  bool Distribute(const std::string& grid) {
    std::vector<std::string> all(orders_.begin(), orders_.end());
    std::shuffle(all.begin(), all.end(), random_);
    const std::set<std::string> chosen(all.begin(), all.begin() + 2 + Pick(2));
    DataPacket items = items_;
    const int order = Col(items, "NRPEDIDO"), check = Col(items, "IDCHECK");
    for (auto& row : items.rows) row[check] = Variant(chosen.count(Str(row[order])) ? "S" : "N");
    key_ = transporters_[Pick(static_cast<int>(transporters_.size()))];
    return Try("DistribuiQuantidades",
               {Variant(items), "IDCHECK = 'S'", key_, grid, operator_, "0001"})
        .has_value();
  }

  // Moves the whole quantity of one allocated item onto another vehicle of
  // the transporter.
  bool ManualSave(const std::string& grid) {
    auto rows = Call("GetGradeporPedido", {"0001", grid}).result.AsPacket().rows;
    if (rows.empty()) return true;
    const std::string order = Str(rows[Pick(static_cast<int>(rows.size()))][0]);
    const auto& item = *std::find_if(items_.rows.begin(), items_.rows.end(), [&](const auto& r) {
      return Str(r[Col(items_, "NRPEDIDO")]) == order;
    });
    const std::string item_no = Str(item[Col(items_, "NRITEMPED")]);
    DataPacket vehicles =
        Call("GetVeiculo", {key_, item[Col(items_, "DTENTPED")], "0001", order, item_no, grid})
            .result.AsPacket();
    if (vehicles.rows.size() < 2) return true;
    const int qty = Col(vehicles, "QtTranspItGr");
    double total = 0;
    for (const auto& r : vehicles.rows) total += r[qty].IsNumeric() ? r[qty].ToDouble() : 0;
    if (total <= 0) return true;
    const int to = Pick(static_cast<int>(vehicles.rows.size()));
    for (int i = 0; i < static_cast<int>(vehicles.rows.size()); ++i) {
      vehicles.rows[i][qty] = Variant(i == to ? total : 0.0);
    }
    return Try("SetGrade", {Variant(vehicles), item[Col(items_, "VRPESOBRUTPR")],
                            item[Col(items_, "VRVOLMED")], "0001", grid, operator_})
        .has_value();
  }

  // Puts one whole order on a vehicle it does not travel on yet.
  bool AllocateOrder(const std::string& grid, Dispatched& record) {
    auto orders = Call("GetGradeporPedido", {"0001", grid}).result.AsPacket().rows;
    if (orders.empty()) return true;
    const std::string order = Str(orders[Pick(static_cast<int>(orders.size()))][0]);
    const DataPacket cars =
        Call("GetCarroPedido", {order, "0001", key_.substr(1), grid}).result.AsPacket();
    std::vector<std::string> free;
    for (const auto& r : cars.rows) {
      if (Str(r[Col(cars, "IDMARCADO")]) == "N") free.push_back(Str(r[Col(cars, "CDVIATURA")]));
    }
    if (free.empty()) return true;
    const std::string vehicle = free[Pick(static_cast<int>(free.size()))];
    if (!Try("SetPedidoCarro", {order, "0001", vehicle, grid})) return Pick(2) == 0;
    record.moved_order = order;
    record.moved_to = vehicle;
    return true;
  }

  // Numbers the stops of one loaded vehicle 1, 2, 3...
  bool RouteOrders(const std::string& grid, Dispatched& record) {
    DataPacket vehicles =
        Call("GetCarroPedido", {"", "0001", key_.substr(1), grid}).result.AsPacket();
    std::vector<std::string> loaded;
    for (const auto& r : vehicles.rows) {
      if (r[Col(vehicles, "QTPEDIDOS")].ToDouble() > 0)
        loaded.push_back(Str(r[Col(vehicles, "CDVIATURA")]));
    }
    if (loaded.empty()) return true;
    const std::string vehicle = loaded[Pick(static_cast<int>(loaded.size()))];
    const DataPacket stops = Call("GetGradeRota", {grid, vehicle, "0001"}).result.AsPacket();
    int number = 0;
    for (const auto& stop : stops.rows) {
      const std::string client = Str(stop[Col(stops, "CDCLIENTE")]);
      ++number;
      const Variant items = Call("GetItemGrade", {"0001", grid, vehicle, client}).result;
      for (const auto& it : items.AsPacket().rows) {
        Call("SetGradeRota",
             {std::to_string(number), it[0], vehicle, "0001", grid, it[1], it[2], "I"});
      }
    }
    record.routed_vehicle = vehicle;
    return true;
  }

  HttpTransport client_;
  Totals& totals_;
  const DataPacket& items_;
  std::vector<std::string> transporters_;
  std::set<std::string> orders_;
  std::string operator_, key_;
  std::mt19937 random_;
};

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!db_.storage()) GTEST_SKIP() << db_.skip_reason();
    LoadFixtureFile(*db_.storage(), DemoFixture());
    db_.storage()->Transact(TxKind::Read, [&](Session& s) {
      for (const Row& r : s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN FROM TRANSPORT")) {
        transporters_.push_back(Str(r[0]) + Str(r[1]));
      }
    });
    std::vector<std::string> extra;
    if (EnvInt("EXP_LOAD_SECURE", 0) != 0) {
      certificates_.emplace();
      for (int c = 1; c <= EnvInt("EXP_LOAD_CLIENTS", 16); ++c) {
        AddOperator(*db_.storage(), "CLERK" + std::to_string(c), kClerkPassword, {"0001"});
      }
      extra = {"--signin", "--tls-cert", certificates_->cert(), "--tls-key", certificates_->key()};
      client_.tls = true;
      client_.ca_file = certificates_->ca();
      password_ = kClerkPassword;
    }
    server_ = std::make_unique<ServerProcess>(
        db_.path(), 0, std::map<std::string, std::optional<std::string>>{}, extra);
  }

  // A failed step shows what the server was doing: a clerk's call that got
  // no answer is otherwise only a read timeout on the clerk's side.
  void TearDown() override {
    if (HasFailure() && server_) {
      std::cerr << "exp-appserver at the failure, " << server_->child().Describe();
    }
  }

  static constexpr const char* kClerkPassword = "senha do balcao";

  // Rows of a query on the server's database, as text.
  std::vector<Row> Query(const std::string& sql) {
    std::vector<Row> rows;
    db_.storage()->Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql); });
    return rows;
  }

  TempDatabase db_{LoadBackend()};
  std::vector<std::string> transporters_;
  std::optional<TestCertificates> certificates_;
  HttpClientOptions client_;  // how the clerks connect
  std::string password_;      // empty: no sign-in
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(LoadTest, ConcurrentClerksLoseNothingAndNeverOverloadAVehicle) {
  const int clients = EnvInt("EXP_LOAD_CLIENTS", 16);
  const int seconds = EnvInt("EXP_LOAD_SECONDS", 10);
  const int max_sessions = EnvInt("EXP_LOAD_MAX_SESSIONS", 2000);  // per clerk
  HttpTransport setup("127.0.0.1", server_->port(), client_);
  if (!password_.empty()) setup.SignIn("CLERK1", password_);
  const DataPacket items = setup.Call(kServerName, "GetItensExpedicao", {"0001"}).result.AsPacket();

  // Every clerk signs in (when the server requires it) before any of them
  // starts working, so that the sign-ins' cost is timed apart from the
  // calls'.
  Totals totals;
  using Clock = std::chrono::steady_clock;
  std::latch signed_in(clients);
  Clock::time_point start, deadline;
  std::once_flag started;
  const auto signin_start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      std::optional<Clerk> clerk;
      try {
        clerk.emplace(c + 1, server_->port(), totals, items, transporters_, client_, password_);
      } catch (const std::exception& e) {
        std::lock_guard lock(totals.mu);
        totals.failures.push_back("clerk " + std::to_string(c + 1) + " signing in: " + e.what());
      }
      signed_in.arrive_and_wait();
      std::call_once(started, [&] {
        start = Clock::now();
        deadline = start + std::chrono::seconds(seconds);
      });
      try {
        for (int n = 0; clerk && n < max_sessions && Clock::now() < deadline; ++n) {
          clerk->Session();
        }
      } catch (const std::exception& e) {
        std::lock_guard lock(totals.mu);
        totals.failures.push_back("clerk " + std::to_string(c + 1) + ": " + e.what());
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::chrono::duration<double> signing_in = start - signin_start;
  const std::chrono::duration<double> elapsed = Clock::now() - start;

  EXPECT_EQ(std::vector<std::string>{}, totals.failures);
  EXPECT_GT(totals.sessions.load(), 0);

  const std::set<std::string> unique(totals.grid_numbers.begin(), totals.grid_numbers.end());
  EXPECT_EQ(totals.grid_numbers.size(), unique.size()) << "a grid number was given twice";
  EXPECT_EQ(totals.grid_numbers.size(), Query("SELECT * FROM GRADEDISTR").size());
  // The loads kept per vehicle and grid followed every concurrent write.
  EXPECT_EQ(std::vector<std::string>{}, StaleLoadsOf(*db_.storage()));

  // Open and dispatched grids together, per vehicle and delivery day.
  for (const Row& r :
       Query("SELECT a.CDVIATURA, a.DTENTREGA, SUM(a.QTTRANSP * a.VRPESOUNIT), "
             "SUM(a.QTTRANSP * a.VRVOLUNIT), MAX(v.QTCAPACIVIAT), MAX(v.VRVOLUMEVIAT) "
             "FROM ALOCGRADE a JOIN GRADEDISTR g ON g.CDFILIAL = a.CDFILIAL AND "
             "g.NRGRADEDISTR = a.NRGRADEDISTR AND g.IDSITGRADE IN ('A', 'E') "
             "JOIN VEICULO v ON v.CDVIATURA = a.CDVIATURA GROUP BY a.CDVIATURA, a.DTENTREGA")) {
    EXPECT_LE(std::round(r[2].ToDouble() * 1000), std::round(r[4].ToDouble() * 1000))
        << "weight on " << Str(r[0]) << " " << Str(r[1]);
    EXPECT_LE(std::round(r[3].ToDouble() * 1000), std::round(r[5].ToDouble() * 1000))
        << "volume on " << Str(r[0]) << " " << Str(r[1]);
  }

  // No item was dispatched above what it had, and what each dispatched grid
  // carries is recorded on the item exactly once.
  for (const Row& r :
       Query("SELECT i.NRPEDIDO, i.NRITEMPED, i.QTITEMPED, i.QTEXPITEMPED, i.QTDEAEXP, "
             "COALESCE((SELECT SUM(a.QTTRANSP) FROM ALOCGRADE a JOIN GRADEDISTR g ON "
             "g.CDFILIAL = a.CDFILIAL AND g.NRGRADEDISTR = a.NRGRADEDISTR WHERE "
             "g.IDSITGRADE = 'E' AND a.CDFILIAL = i.CDFILIAL AND a.NRPEDIDO = i.NRPEDIDO AND "
             "a.NRITEMPED = i.NRITEMPED), 0) FROM ITEMPEDIDO i")) {
    SCOPED_TRACE("item " + Str(r[0]) + " / " + Str(r[1]));
    EXPECT_NEAR(r[3].ToDouble(), r[5].ToDouble(), 1e-9);
    EXPECT_NEAR(r[2].ToDouble(), r[3].ToDouble() + r[4].ToDouble(), 1e-9);
    EXPECT_GE(r[4].ToDouble(), 0);
  }

  // Every dispatched grid carries each of its items whole, the accepted
  // order allocation, and the route orders its clerk gave.
  for (const Dispatched& d : totals.dispatched) {
    SCOPED_TRACE("grid " + d.grid);
    const std::string grid = "'" + d.grid + "'";
    EXPECT_EQ(0u,
              Query("SELECT i.NRPEDIDO FROM ITEMGRADE i WHERE i.NRGRADEDISTR = " + grid +
                    " AND i.QTDEAEXP > 0 AND ABS(i.QTDEAEXP - (SELECT COALESCE(SUM(a.QTTRANSP), 0) "
                    "FROM ALOCGRADE a WHERE a.CDFILIAL = i.CDFILIAL AND a.NRGRADEDISTR = "
                    "i.NRGRADEDISTR AND a.NRPEDIDO = i.NRPEDIDO AND a.NRITEMPED = i.NRITEMPED)) "
                    "> 0.0005")
                  .size());
    EXPECT_EQ("E",
              Str(Query("SELECT IDSITGRADE FROM GRADEDISTR WHERE NRGRADEDISTR = " + grid)[0][0]));
    if (!d.moved_order.empty()) {
      EXPECT_EQ(0u,
                Query("SELECT 1 FROM ALOCGRADE WHERE NRGRADEDISTR = " + grid + " AND NRPEDIDO = '" +
                      d.moved_order + "' AND CDVIATURA <> '" + d.moved_to + "'")
                    .size());
    }
    if (!d.routed_vehicle.empty()) {
      EXPECT_EQ(0u, Query("SELECT 1 FROM ALOCGRADE WHERE NRGRADEDISTR = " + grid +
                          " AND CDVIATURA = '" + d.routed_vehicle + "' AND NRORDENTREGRADE IS NULL")
                        .size());
    }
  }

  std::vector<double> lat = totals.latencies_ms;
  std::sort(lat.begin(), lat.end());
  const double p99 = lat.empty() ? 0 : lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
  const double p50 = lat.empty() ? 0 : lat[lat.size() / 2];
  std::cout << "load" << (password_.empty() ? "" : " (signed in, TLS)") << ": " << clients
            << " clerks, " << totals.sessions.load() << " sessions, " << lat.size() << " calls in "
            << elapsed.count() << " s = " << static_cast<int>(lat.size() / elapsed.count())
            << " calls/s, p50 " << p50 << " ms, p99 " << p99 << " ms, business refusals "
            << totals.refusals.load() << ", dispatched " << totals.dispatched.size();
  if (!password_.empty())
    std::cout << "; " << clients << " sign-ins took " << signing_in.count() << " s";
  std::cout << std::endl;
}

// Two clerks put an order each on the same vehicle at the same moment; the
// vehicle takes one of them: one call succeeds, the other is refused with
// the capacity message, every time.
TEST(Contention, TwoClerksAllocatingTheSameVehicleGetOneYesAndOneNo) {
  TempDatabase db;
  nlohmann::json fixture = SmallFixture();
  // V1 takes 100 kg; orders P1 (40 kg) and P3 (20 kg) become 60 kg each.
  fixture["ITEMPEDIDO"][3]["QTDEAEXP"] = 12;
  fixture["ITEMPEDIDO"][1]["QTDEAEXP"] = 2;
  LoadFixture(*db.storage(), fixture);
  rdmGradeDistribuicao object(db.storage());
  std::vector<Variant> grids;
  for (const char* order : {"P1", "P3"}) {
    std::vector<Variant> next = {"0001"};
    grids.push_back(object.Call("PrxNrGrade", next));
    std::vector<Variant> items_args = {"0001"};
    DataPacket items = object.Call("GetItensExpedicao", items_args).AsPacket();
    for (auto& row : items.rows) {
      row[items.FieldIndex("IDCHECK")] =
          Variant(Str(row[items.FieldIndex("NRPEDIDO")]) == order ? "S" : "N");
    }
    std::vector<Variant> args = {Variant(items), "IDCHECK = 'S'", kKey,
                                 grids.back(),   "ANA",           "0001"};
    object.Call("DistribuiQuantidades", args);
  }
  ServerProcess server(db.path(), 0);
  HttpTransport first("127.0.0.1", server.port()), second("127.0.0.1", server.port());
  // Off V1 first, wherever the distribution put them.
  auto take_off = [&](const char* order, const Variant& grid) {
    bool on_v1 = false;
    db.storage()->Transact(TxKind::Read, [&](Session& s) {
      on_v1 = !s.Query("SELECT 1 FROM ALOCGRADE WHERE NRPEDIDO = ? AND CDVIATURA = 'V1'",
                       {Value(order)})
                   .empty();
    });
    std::vector<Variant> args = {order, "0001", "V1", grid};
    if (on_v1) object.Call("SetPedidoCarro", args);
  };
  for (int round = 0; round < 10; ++round) {
    take_off("P1", grids[0]);
    take_off("P3", grids[1]);
    std::latch go(2);
    std::string answers[2];
    auto allocate = [&](HttpTransport& client, const char* order, const Variant& grid,
                        std::string& answer) {
      go.arrive_and_wait();
      try {
        client.Call(kServerName, "SetPedidoCarro", {order, "0001", "V1", grid});
        answer = "ok";
      } catch (const data::ServerCallError& e) {
        answer = e.what();
      }
    };
    std::thread a([&] { allocate(first, "P1", grids[0], answers[0]); });
    std::thread b([&] { allocate(second, "P3", grids[1], answers[1]); });
    a.join();
    b.join();
    std::multiset<std::string> got(answers, answers + 2);
    EXPECT_EQ((std::multiset<std::string>{"ok", detail::kOrderWeightExceeded}), got)
        << "round " << round;
    EXPECT_EQ(std::vector<std::string>{}, StaleLoadsOf(*db.storage())) << "round " << round;
  }
}

}  // namespace
}  // namespace dg::server
