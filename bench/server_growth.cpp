// Cost growth: the time of each server method the screen calls while the
// database's book (the allocations of earlier, dispatched grids) holds
// 1,000, 10,000 and 100,000 stored items, on SQLite and, when EXP_TEST_PG
// names a cluster (scripts/pg-test-cluster.sh), on PostgreSQL.
//
//   exp-bench-growth [--samples N] [--sizes N,N,...]
//
// Each size gets a fresh database: the generated day of 200 items is
// distributed once, that grid is copied as dispatched grids on earlier days
// (each copy with orders of its own) until the book holds the size, and the
// clerk's grid is distributed again on today's day. The methods are called
// in process on that grid, N samples each (default 40; the whole
// distribution a tenth of them), and the median wall time is printed per
// method and size. A single-record method should cost the same whatever the
// book holds (goal: within 2× from the smallest size to the largest).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/grid_loads.h"
#include "appserver/storage.h"
#include "appserver/storage_postgres.h"
#include "appserver/transport.h"
#include "bench/bench_util.h"
#include "bench/clerk_actions.h"
#include "bench/day_generator.h"

namespace dg::bench {
namespace {

using data::Variant;
using server::Session;
using server::TxKind;
using server::Value;

constexpr int kDayItems = 200;
constexpr const char* kTransporter = "J11222333000181";

// A fresh database removed with the object: a SQLite file, or a schema of
// its own on the cluster of EXP_TEST_PG.
class ScratchDatabase {
 public:
  ScratchDatabase(bool postgres, int size) {
    const std::string name = Format("exp_growth_%d_%d", static_cast<int>(::getpid()), size);
    if (postgres) {
      server_ = std::getenv("EXP_TEST_PG");
      schema_ = name;
      server::RunPostgresStatement(server_, "CREATE SCHEMA " + schema_);
      path_ = server_ + (server_.find('?') == std::string::npos ? "?" : "&") +
              "options=-csearch_path%3D" + schema_;
    } else {
      path_ = (std::filesystem::temp_directory_path() / (name + ".db")).string();
      Remove();
    }
    storage_ = server::OpenStorage(path_);
  }
  ~ScratchDatabase() {
    storage_.reset();
    Remove();
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  const std::shared_ptr<server::Storage>& storage() const { return storage_; }

 private:
  void Remove() {
    if (!schema_.empty()) {
      server::RunPostgresStatement(server_, "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
      return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
  }
  std::string path_, server_, schema_;
  std::shared_ptr<server::Storage> storage_;
};

std::vector<server::Row> Query(server::Storage& storage, const std::string& sql,
                               const std::vector<Value>& params = {}) {
  std::vector<server::Row> rows;
  storage.Transact(TxKind::Read, [&](Session& s) { rows = s.Query(sql, params); });
  return rows;
}

std::string Text(const Value& v) { return v.IsEmptyOrNull() ? std::string() : v.ToString(); }

// Copies grid `from` as dispatched grid number `seq` whose items are due
// `day`, with orders named apart from every other copy's.
void CopyGrid(Session& s, const std::string& from, int seq, const std::string& day) {
  const std::string grid = Format("%06d", seq);
  const std::string prefix = Format("H%d-", seq);
  s.Exec(
      "INSERT INTO GRADEDISTR (CDFILIAL, NRGRADEDISTR, NRSEQGRADE, IDSITGRADE, CDOPERLANC, "
      "DTHRABERTURA, CDOPEREXPED, DTHREXPEDICAO) VALUES ('0001', ?, ?, 'E', 'ANA', ?, 'ANA', ?)",
      {Value(grid), Value(static_cast<double>(seq)), Value(day + "T07:00:00"),
       Value(day + "T08:00:00")});
  s.Exec(
      "INSERT INTO ITEMGRADE (CDFILIAL, NRGRADEDISTR, NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, "
      "NMFANTCLIE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, IDPRIOPED, DTENTREGA, DTHRENTGRADE, "
      "CDROTATRANS) SELECT CDFILIAL, ?, CAST(? AS TEXT) || NRPEDIDO, NRITEMPED, CDPRODUTO, "
      "CDCLIENTE, NMFANTCLIE, QTDEAEXP, VRPESOBRUTPR, VRVOLMED, IDPRIOPED, ?, ?, CDROTATRANS "
      "FROM ITEMGRADE WHERE CDFILIAL = '0001' AND NRGRADEDISTR = ?",
      {Value(grid), Value(prefix), Value(day), Value(day + "T00:00:00"), Value(from)});
  s.Exec(
      "INSERT INTO ALOCGRADE (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED, CDPRODUTO, "
      "CDCLIENTE, QTTRANSP, VRPESOUNIT, VRVOLUNIT, IDRETGRADEDISTR, CDROTATRANS, DTENTREGA, "
      "DTHRENTGRADE, CDOPERLANCGRAD, NRORDENTREGRADE) SELECT CDFILIAL, ?, CDVIATURA, "
      "CAST(? AS TEXT) || NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, QTTRANSP, VRPESOUNIT, "
      "VRVOLUNIT, IDRETGRADEDISTR, CDROTATRANS, ?, ?, CDOPERLANCGRAD, NRORDENTREGRADE "
      "FROM ALOCGRADE WHERE CDFILIAL = '0001' AND NRGRADEDISTR = ?",
      {Value(grid), Value(prefix), Value(day), Value(day + "T00:00:00"), Value(from)});
}

// The delivery day `n` days before the generated days.
std::string EarlierDay(int n) {
  const std::int64_t first = data::DateTime::FromIso("2025-06-01").Millis();
  return data::DateTime::FromMillis(first - std::int64_t{n} * 86'400'000).ToIso().substr(0, 10);
}

// Median seconds of each method, by method, for one database.
using Times = std::map<std::string, double>;

struct Method {
  const char* name;
  const char* label;
  bool single_record;
};
const Method kMethods[] = {
    {"GetVeiculo", "GetVeiculo (an item's vehicles)", true},
    {"SetGrade", "SetGrade (save an item's vehicles)", true},
    {"GetCarroPedido", "GetCarroPedido (an order's vehicles)", true},
    {"SetPedidoCarro off", "SetPedidoCarro (an order off its vehicle)", true},
    {"SetPedidoCarro on", "SetPedidoCarro (the order back onto the vehicle)", true},
    {"GetGradeRota", "GetGradeRota (a vehicle's stops)", true},
    {"SetGradeRota", "SetGradeRota (number a stop)", true},
    {"GetErro", "GetErro (a vehicle's inconsistencies)", true},
    {"PrxNrGrade", "PrxNrGrade (a new grid number)", true},
    {"DelGrade", "DelGrade (discard an empty grid)", true},
    {"DistribuiQuantidades", "DistribuiQuantidades (the whole day of 200 items)", false},
};

// Builds the book of `size` stored items and times the methods on the
// clerk's grid; `stored` gets the number of allocations the book holds.
Times Measure(bool postgres, int size, int samples, int* stored) {
  ScratchDatabase db(postgres, size);
  server::Storage& storage = *db.storage();
  const Day day = Generate(kDayItems);
  server::LoadFixture(storage, Fixture(day));
  auto object = std::make_shared<server::rdmGradeDistribuicao>(db.storage());
  server::InProcessTransport clerk(object, "ANA");
  auto call = [&](const char* method, std::vector<Variant> args) {
    return clerk.Call(server::kServerName, method, args);
  };
  const Variant items = call("GetItensExpedicao", {"0001"}).result;
  auto distribute = [&](const std::string& grid) {
    return Text(
        call("DistribuiQuantidades", {items, "IDCHECK = 'S'", kTransporter, grid, "ANA", "0001"})
            .args[3]);
  };

  // The book: copies of one distribution, each on a day of its own.
  const std::string seed = distribute("");
  const int per_grid = static_cast<int>(
      Query(storage, "SELECT COUNT(*) FROM ALOCGRADE WHERE NRGRADEDISTR = ?", {Value(seed)})[0][0]
          .ToInt64());
  const int copies = std::max(1, (size + per_grid / 2) / std::max(1, per_grid));
  storage.Transact(TxKind::Write, [&](Session& s) {
    for (int k = 0; k < copies; ++k) CopyGrid(s, seed, 1000 + k, EarlierDay(k + 1));
    server::detail::RebuildLoads(s);
  });
  call("DelGrade", {"0001", seed});
  *stored = static_cast<int>(Query(storage, "SELECT COUNT(*) FROM ALOCGRADE")[0][0].ToInt64());
  storage.Transact(TxKind::Write, [&](Session& s) {
    if (postgres) s.Exec("ANALYZE");
  });

  // The clerk's grid, and its actions one after the other.
  const std::string grid = distribute("");
  std::map<std::string, std::vector<double>> times;
  ClerkCycle cycle(
      [&](const char* method, std::vector<Variant> args) { return call(method, args); },
      kTransporter, grid, CarriedBy(storage, grid));
  auto timed = [&](const char* method, std::vector<Variant> args) {
    const double start = WallSeconds();
    const data::CallReply reply = call(method, std::move(args));
    times[method].push_back(WallSeconds() - start);
    return reply;
  };
  for (int i = 0; i < samples; ++i) {
    for (int a = 0; a < ClerkCycle::kActions; ++a) {
      bool refused = false;
      const double start = WallSeconds();
      const char* method = cycle.Next(&refused);
      times[method].push_back(WallSeconds() - start);
    }
    const std::string fresh = Text(timed("PrxNrGrade", {"0001"}).result);
    timed("DelGrade", {"0001", fresh});
    if (i % 10 == 0) {
      const double start = WallSeconds();
      distribute(grid);
      times["DistribuiQuantidades"].push_back(WallSeconds() - start);
    }
  }
  Times out;
  for (const auto& [method, t] : times) out[method] = Median(t);
  return out;
}

std::vector<int> ParseSizes(const std::string& text) {
  std::vector<int> sizes;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const int n = std::atoi(text.substr(at, comma - at).c_str());
    if (n > 0) sizes.push_back(n);
    at = comma + 1;
  }
  return sizes;
}

int Main(int argc, char** argv) {
  int samples = 40;
  std::vector<int> sizes = {1000, 10000, 100000};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--samples" && i + 1 < argc) {
      samples = std::max(10, std::atoi(argv[++i]));
    } else if (arg == "--sizes" && i + 1 < argc) {
      sizes = ParseSizes(argv[++i]);
    } else {
      return Usage("exp-bench-growth [--samples N] [--sizes N,N,...]");
    }
  }
  if (sizes.size() < 2) return Usage("exp-bench-growth: --sizes needs two sizes or more");
  const char* pg = std::getenv("EXP_TEST_PG");
  std::vector<bool> backends = {false};
  if (pg && *pg) backends.push_back(true);

  // Times by backend, then by size.
  std::map<bool, std::vector<Times>> results;
  std::map<bool, std::vector<int>> stored;
  for (bool postgres : backends) {
    for (int size : sizes) {
      std::fprintf(stderr, "growth: %s, %d stored items...\n", postgres ? "PostgreSQL" : "SQLite",
                   size);
      int count = 0;
      results[postgres].push_back(Measure(postgres, size, samples, &count));
      stored[postgres].push_back(count);
    }
  }

  std::string header = "| method | backend |", rule = "|---|---|";
  for (int size : sizes) {
    header += Format(" %d items |", size);
    rule += "---|";
  }
  std::printf("%s largest over smallest |\n%s---|\n", header.c_str(), rule.c_str());
  for (const Method& m : kMethods) {
    for (bool postgres : backends) {
      const std::vector<Times>& by_size = results[postgres];
      std::string line = Format("| %s | %s |", m.label, postgres ? "PostgreSQL" : "SQLite");
      for (const Times& t : by_size) line += " " + Ms(t.at(m.name)) + " |";
      const double first = by_size.front().at(m.name), last = by_size.back().at(m.name);
      const double ratio = first > 0 ? last / first : 0;
      std::printf("%s %.2f |\n", line.c_str(), ratio);
      if (!m.single_record) continue;
      Row(Format("Cost growth, %s, %s: %d over %d stored items (goal ratio 2)", m.label,
                 postgres ? "PostgreSQL" : "SQLite", stored[postgres].back(),
                 stored[postgres].front()),
          Ms(last), Ms(first), ratio);
    }
  }
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
