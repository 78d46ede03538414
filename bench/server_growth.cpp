// Cost growth: the time of each server method the screen calls while the
// database's book (the allocations of earlier, dispatched grids) holds
// 1,000, 10,000 and 100,000 stored items, on SQLite and, when EXP_TEST_PG
// names a cluster (scripts/pg-test-cluster.sh), on PostgreSQL.
//
//   exp-bench-growth [--samples N] [--sizes N,N,...] [--day-items N] [--statements]
//
// Each size gets a fresh database: the generated day of 200 items (or N) is
// distributed once, that grid is copied as dispatched grids on earlier days
// (each copy with orders of its own) until the book holds the size, and the
// clerk's grid is distributed again on today's day. The methods are called
// in process on that grid, N samples each (default 40; the whole
// distribution a tenth of them), and the median wall time is printed per
// method and size. A single-record method should cost the same whatever the
// book holds (goal: within 2× from the smallest size to the largest).
//
// --statements also prints, per method, the median time of each statement
// it ran at each size, and the database's plan of the statement at the
// largest size: where a method grows, the statement that grows and why.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
#include "bench/scratch_database.h"
#include "bench/statement_times.h"

namespace dg::bench {
namespace {

using data::Variant;
using server::Session;
using server::TxKind;
using server::Value;

constexpr const char* kTransporter = "J11222333000181";

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

// One statement of a method at one size: median seconds, runs per call, and
// the database's plan.
struct StatementFigure {
  double median = 0, per_call = 0;
  std::vector<std::string> plan;
};
// By method, then by statement text.
using StatementFigures = std::map<std::string, std::map<std::string, StatementFigure>>;

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
    {"DistribuiQuantidades", "DistribuiQuantidades (the clerk's whole day)", false},
};

// Builds the book of `size` stored items and times the methods on the
// clerk's grid; `stored` gets the number of allocations the book holds.
// With `statements`, the methods' statements are timed and planned too.
Times Measure(bool postgres, int size, int day_items, int samples, int* stored,
              StatementFigures* statements) {
  ScratchDatabase db(postgres, Format("exp_growth_%d", size));
  server::Storage& storage = *db.storage();
  const Day day = Generate(day_items);
  server::LoadFixture(storage, Fixture(day));
  auto timing = std::make_shared<StatementTimes>(db.storage(), postgres);
  auto object = std::make_shared<server::rdmGradeDistribuicao>(timing);
  server::InProcessTransport clerk(object, "ANA");
  bool measuring = false;
  std::map<std::string, int> calls;
  auto call = [&](const char* method, std::vector<Variant> args) {
    if (measuring && statements) {
      timing->SetLabel(method);
      ++calls[method];
    }
    data::CallReply reply = clerk.Call(server::kServerName, method, args);
    timing->SetLabel("");
    return reply;
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
  measuring = true;
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
  measuring = false;
  Times out;
  for (const auto& [method, t] : times) out[method] = Median(t);
  if (statements) {
    for (auto& [method, by_sql] : timing->Take()) {
      for (auto& [sql, st] : by_sql) {
        StatementFigure& f = (*statements)[method][sql];
        f.median = Median(st.seconds);
        f.per_call = static_cast<double>(st.seconds.size()) / std::max(1, calls[method]);
        f.plan = timing->Plan(sql, st.params);
      }
    }
  }
  return out;
}

// Per method, each statement's median at every size and its plan at the
// smallest size, then at each size where the plan changed.
void PrintStatements(const std::vector<int>& sizes, bool postgres,
                     const std::vector<StatementFigures>& by_size) {
  std::printf("\n## Statements, %s\n", postgres ? "PostgreSQL" : "SQLite");
  for (const auto& [method, by_sql] : by_size.back()) {
    std::printf("\n### %s\n", method.c_str());
    for (const auto& [sql, last] : by_sql) {
      std::string line;
      double first = 0;
      for (std::size_t k = 0; k < sizes.size(); ++k) {
        const auto m = by_size[k].find(method);
        const StatementFigure* f = nullptr;
        if (m != by_size[k].end() && m->second.count(sql)) f = &m->second.at(sql);
        if (k == 0 && f) first = f->median;
        line += Format(" %s at %d;", f ? Ms(f->median).c_str() : "-", sizes[k]);
      }
      std::printf("\n-%s ×%.1f per call, growth %.2f\n  %s\n", line.c_str(), last.per_call,
                  first > 0 ? last.median / first : 0, sql.c_str());
      const std::vector<std::string>* shown = nullptr;
      for (std::size_t k = 0; k < sizes.size(); ++k) {
        const auto m = by_size[k].find(method);
        if (m == by_size[k].end() || !m->second.count(sql)) continue;
        const std::vector<std::string>& plan = m->second.at(sql).plan;
        if (shown && *shown == plan) continue;
        shown = &plan;
        for (const std::string& step : plan) {
          std::printf("    plan at %d: %s\n", sizes[k], step.c_str());
        }
      }
    }
  }
}

int Main(int argc, char** argv) {
  int samples = 40, day_items = 200;
  bool statements = false;
  std::vector<int> sizes = {1000, 10000, 100000};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--samples" && i + 1 < argc) {
      samples = std::max(10, std::atoi(argv[++i]));
    } else if (arg == "--sizes" && i + 1 < argc) {
      sizes = ParseCounts(argv[++i]);
    } else if (arg == "--day-items" && i + 1 < argc) {
      day_items = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--statements") {
      statements = true;
    } else {
      return Usage(
          "exp-bench-growth [--samples N] [--sizes N,N,...] [--day-items N] [--statements]");
    }
  }
  if (sizes.size() < 2) return Usage("exp-bench-growth: --sizes needs two sizes or more");
  const char* pg = std::getenv("EXP_TEST_PG");
  std::vector<bool> backends = {false};
  if (pg && *pg) backends.push_back(true);

  // Times by backend, then by size.
  std::map<bool, std::vector<Times>> results;
  std::map<bool, std::vector<int>> stored;
  std::map<bool, std::vector<StatementFigures>> statement_figures;
  for (bool postgres : backends) {
    for (int size : sizes) {
      std::fprintf(stderr, "growth: %s, %d stored items...\n", postgres ? "PostgreSQL" : "SQLite",
                   size);
      int count = 0;
      StatementFigures figures;
      results[postgres].push_back(
          Measure(postgres, size, day_items, samples, &count, statements ? &figures : nullptr));
      stored[postgres].push_back(count);
      statement_figures[postgres].push_back(std::move(figures));
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
  if (statements) {
    for (bool postgres : backends) PrintStatements(sizes, postgres, statement_figures[postgres]);
  }
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
