// Dispatch days of 100, 1,000 and 10,000 order items on a transporter's mixed
// fleet: the packing alone and the whole server method DistribuiQuantidades
// on a temporary SQLite database.
//
//   exp-bench-dispatch [--runs N] [--windows-only]
//
// A day is generated from a fixed seed: orders of 1 to 8 items, each item
// with a quantity, a unit weight and a unit volume, a priority and one of
// three delivery dates; the fleet mixes four vehicle sizes and has about one
// and a half times the room the day needs. Reported per size: vehicles used
// against the lower bound for this fleet (per delivery date, the packing's
// own VehicleLowerBound over the orders as whole loads: the room of the
// largest vehicles first, the pieces that fit no vehicle together, and the
// pieces too large to share one), the answer being optimal where it meets
// the bound (the vehicles counted by the independent checker, bench/check,
// on each date's packing: a packing it refuses is printed and counted);
// orders split across vehicles and how many of them a
// whole-order packing could have avoided (the order fits the largest
// vehicle); the medians of the packing's CPU time and of the server
// method's wall and CPU time (it plans by place too), into a new grid and
// again into the same grid; and the CPU time of the by-place step alone.
// The packing and the by-place step are compared with the server method's
// CPU time, like with like. Then the distribution the server stored against
// the one it stores by weight alone (the same day with a branch without
// coordinates), each judged by the independent checker (every quantity
// stored, no vehicle over its room): vehicles, and the kilometres of all routes (each vehicle
// from the branch through its stops in the best order the stop-order search
// finds, and back; distances estimated from the coordinates as the server
// estimates them).
// For 10,000 items, the same day again with a clock (receiving windows on
// three clients in four, working days, loading and unloading times): the
// server method into a new grid beside the day without windows, and the
// vehicles it uses. `--windows-only` runs that windowed day alone (no
// reference beside it), the quick way while working on the routing with the
// clock.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/storage.h"
#include "bench/bench_util.h"
#include "bench/check/check.h"
#include "bench/day_generator.h"
#include "data/travel.h"
#include "planning/packing.h"
#include "planning/place_distribution.h"

namespace dg::bench {
namespace {

struct Quality {
  int vehicles = 0, bound = 0, split = 0, avoidable = 0;
  int refused = 0;           // delivery dates whose packing the independent check refused
  double place_seconds = 0;  // the by-place step alone, CPU
};

// The branch (place 0) and the clients, in the order of the day's map, and
// each item's place.
planning::PlaceMap DayPlaces(const Day& day, std::vector<std::size_t>& item_place) {
  data::GeoPath points = {{day.branch.latitude, day.branch.longitude}};
  std::map<std::string, std::size_t> index;
  for (const auto& [client, at] : day.client_at) {
    index[client] = points.size();
    points.push_back({at.latitude, at.longitude});
  }
  item_place.clear();
  for (const std::string& c : day.client) item_place.push_back(index.at(c));
  const data::TravelMatrix m =
      data::TravelSource(data::TravelSettings{}, nullptr).EstimatedMatrix(points);
  return {points.size(), m.km};
}

// The lower bound of one delivery date's packing on the fleet: the orders as
// whole loads, as the packing keeps them. An order that fits no vehicle
// whole is split by the packing, so it counts as its items, and an item
// that fits no vehicle as its units: the bound holds for any packing the
// server can answer.
std::size_t DateBound(const std::vector<PackItem>& items, const std::vector<PackVehicle>& fleet) {
  auto fits = [&](double w, double v) {
    return std::any_of(fleet.begin(), fleet.end(), [&](const PackVehicle& f) {
      return planning::FitsWithin(w, f.free_weight) && planning::FitsWithin(v, f.free_volume);
    });
  };
  std::map<std::string, planning::PackPiece> order_load;
  for (const PackItem& it : items) {
    order_load[it.order].weight += it.unit_weight * it.quantity;
    order_load[it.order].volume += it.unit_volume * it.quantity;
  }
  std::vector<planning::PackPiece> pieces;
  for (const auto& [order, load] : order_load) {
    if (fits(load.weight, load.volume)) pieces.push_back(load);
  }
  for (const PackItem& it : items) {
    const planning::PackPiece& load = order_load[it.order];
    if (fits(load.weight, load.volume)) continue;
    if (fits(it.unit_weight * it.quantity, it.unit_volume * it.quantity)) {
      pieces.push_back({it.unit_weight * it.quantity, it.unit_volume * it.quantity});
      continue;
    }
    for (double left = it.quantity; left > 0; left -= 1) {
      const double q = std::min(1.0, left);
      pieces.push_back({it.unit_weight * q, it.unit_volume * q});
    }
  }
  return planning::VehicleLowerBound(pieces, fleet);
}

// The independent check of one delivery date's packing: the date's items
// and the fleet written to a file in the checker's format, which it re-reads
// to recompute every vehicle's load and the quantities placed.
check::Verdict JudgeDate(const std::vector<PackItem>& items, const std::vector<PackVehicle>& fleet,
                         const std::vector<check::Placed>& answer) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("exp-bench-dispatch-" + std::to_string(::getpid()) + "-date.txt");
  {
    std::FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return {false, "cannot write " + file.string()};
    std::fprintf(out, "vehicles %zu\n", fleet.size());
    for (const PackVehicle& v : fleet)
      std::fprintf(out, "%.17g %.17g\n", v.free_weight, v.free_volume);
    std::fprintf(out, "items %zu\n", items.size());
    for (const PackItem& it : items) {
      std::fprintf(out, "%.17g %.17g %.17g %s\n", it.unit_weight, it.unit_volume, it.quantity,
                   it.order.c_str());
    }
    std::fclose(out);
  }
  check::Verdict v = check::CheckFleetPacking(file.string(), answer);
  std::filesystem::remove(file);
  return v;
}

// Packs each delivery date on the whole fleet, as the server does.
Quality PackDay(const Day& day, double* seconds) {
  Quality q;
  std::map<std::string, std::vector<std::size_t>> by_date;
  for (std::size_t i = 0; i < day.items.size(); ++i) by_date[day.items[i].date].push_back(i);
  double max_weight = 0, max_volume = 0;
  for (const PackVehicle& v : day.fleet) {
    max_weight = std::max(max_weight, v.free_weight);
    max_volume = std::max(max_volume, v.free_volume);
  }
  std::vector<std::size_t> day_place;
  const planning::PlaceMap map = DayPlaces(day, day_place);
  double spent = 0;
  for (const auto& [date, indexes] : by_date) {
    std::vector<PackItem> items;
    std::vector<std::size_t> place;
    for (std::size_t i : indexes) {
      items.push_back(day.items[i]);
      place.push_back(day_place[i]);
    }
    const double start = ThreadSeconds();
    const planning::PackResult r = planning::PackItems(items, day.fleet);
    spent += ThreadSeconds() - start;
    if (!r.complete) {
      std::fprintf(stderr, "the generated day does not fit its fleet\n");
      std::exit(1);
    }
    std::vector<check::Placed> answer;
    for (const auto& a : r.allocations) answer.push_back({a.item, a.vehicle, a.quantity});
    const check::Verdict judged = JudgeDate(items, day.fleet, answer);
    if (!judged.ok) {
      std::printf("refused: %zu items, date %s: %s\n", day.items.size(), date.c_str(),
                  judged.reason.c_str());
      ++q.refused;
    }
    const double place_start = ThreadSeconds();
    planning::PlanByPlace(items, day.fleet, r, place, map);
    q.place_seconds += ThreadSeconds() - place_start;
    std::map<std::string, std::set<std::size_t>> vehicles_of;
    std::map<std::string, std::pair<double, double>> load_of;
    for (const auto& a : r.allocations) {
      vehicles_of[items[a.item].order].insert(a.vehicle);
    }
    for (const PackItem& it : items) {
      load_of[it.order].first += it.unit_weight * it.quantity;
      load_of[it.order].second += it.unit_volume * it.quantity;
    }
    q.vehicles += static_cast<int>(judged.vehicles);  // as the check counted them
    q.bound += static_cast<int>(DateBound(items, day.fleet));
    for (const auto& [order, vehicles] : vehicles_of) {
      if (vehicles.size() < 2) continue;
      ++q.split;
      const auto& [w, v] = load_of[order];
      q.avoidable += planning::FitsWithin(w, max_weight) && planning::FitsWithin(v, max_volume);
    }
  }
  if (seconds) *seconds = spent;
  return q;
}

// What the server method did with a day: the medians of its wall time and
// of the calling thread's CPU time (the server object in process does all
// its work, SQLite's too, on that thread), into a new grid (every row
// written) and again into the same grid (only the rows that differ), and
// the distribution it stored: vehicles summed over the delivery dates, and
// route kilometres measured as PackDay measures them.
struct ServerRun {
  double first_wall = 0, first_cpu = 0;
  double wall = 0, cpu = 0;
  int vehicles = 0;
  double km = 0;
  int refused = 0;  // delivery dates whose stored distribution the independent check refused
};

// The independent check of the distribution the server stored into `grid`:
// per delivery date, the stored quantities of each item on each vehicle
// against the day's items and the fleet's room (the grid is the only one,
// so the whole room was free). A refused date is printed and counted.
int JudgeStored(const Day& day, server::Session& s, const std::string& grid, const char* what) {
  std::map<std::pair<std::string, std::string>, std::size_t> item_of;  // (order, line) -> item
  std::map<std::string, int> line;
  for (std::size_t i = 0; i < day.items.size(); ++i)
    item_of[{day.items[i].order, std::to_string(++line[day.items[i].order])}] = i;
  std::map<std::string, std::vector<std::size_t>> items_of_date;
  std::vector<std::size_t> local(day.items.size());
  for (std::size_t i = 0; i < day.items.size(); ++i) {
    auto& list = items_of_date[day.items[i].date];
    local[i] = list.size();
    list.push_back(i);
  }
  std::map<std::string, std::vector<check::Placed>> answer;
  for (const server::Row& r : s.Query(
           "SELECT NRPEDIDO, NRITEMPED, CDVIATURA, QTTRANSP FROM ALOCGRADE WHERE NRGRADEDISTR = ?",
           {data::Variant(grid)})) {
    const auto it = item_of.find({r[0].ToString(), r[1].ToString()});
    const std::string vehicle = r[2].ToString();
    if (it == item_of.end() || vehicle.size() < 2 || vehicle[0] != 'V') {
      std::printf("refused: %zu items, %s: a stored row names no item or vehicle of the day\n",
                  day.items.size(), what);
      return 1;
    }
    answer[day.items[it->second].date].push_back(
        {local[it->second], static_cast<std::size_t>(std::stoul(vehicle.substr(1))),
         r[3].ToDouble()});
  }
  int refused = 0;
  for (const auto& [date, indexes] : items_of_date) {
    std::vector<PackItem> items;
    for (std::size_t i : indexes) items.push_back(day.items[i]);
    const check::Verdict v = JudgeDate(items, day.fleet, answer[date]);
    if (!v.ok) {
      std::printf("refused: %zu items, %s, date %s: %s\n", day.items.size(), what, date.c_str(),
                  v.reason.c_str());
      ++refused;
    }
  }
  return refused;
}

// DistribuiQuantidades `runs` times into a new grid (the previous one
// discarded before each, untimed, so every run finds the same free room),
// then `runs` times again into the last of them, on a temporary SQLite
// database. Without `by_place` the branch has no coordinates, so the server
// distributes by weight and volume alone.
// With `windows` the day has a clock: every vehicle works from 06:00 to
// 18:00, the branch loads for 30 minutes and unloads for 10 minutes a stop
// and 5 a tonne, and the clients receive in one of three windows (or at any
// time), so DistribuiQuantidades plans with the windows.
ServerRun RunServer(const Day& day, int runs, bool by_place, bool windows = false) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("exp-bench-dispatch-" + std::to_string(::getpid()) + ".db"))
                               .string();
  auto remove = [&] {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  };
  remove();
  ServerRun run;
  {
    auto storage = server::OpenSqliteStorage(path);
    nlohmann::json fixture = Fixture(day);
    if (!by_place) {
      fixture["FILIAL"][0].erase("LATITUDE");
      fixture["FILIAL"][0].erase("LONGITUDE");
    }
    if (windows) {
      for (auto& p : fixture["PARAMETROS"]) {
        p["QTMINCARGA"] = 30;
        p["QTMINPARADA"] = 10;
        p["QTMINTONELADA"] = 5;
      }
      for (auto& v : fixture["VEICULO"]) {
        v["HRINICIOJORN"] = "06:00";
        v["HRFIMJORN"] = "18:00";
      }
      const char* const kWindows[] = {"07:00-11:00", "08:00-12:00", "13:00-17:00", nullptr};
      std::size_t k = 0;
      for (auto& c : fixture["CLIENTE"]) {
        if (const char* w = kWindows[k++ % 4]) c["HRJANELA1"] = w;
      }
    }
    server::LoadFixture(*storage, fixture);
    server::rdmGradeDistribuicao object(storage);
    std::vector<data::Variant> ask = {data::Variant("0001")};
    const data::Variant items = object.Call("GetItensExpedicao", ask);
    std::string grid;
    // Returns the wall and CPU seconds of one call into `grid` ("" a new one).
    auto distribute = [&]() {
      std::vector<data::Variant> args = {items,
                                         data::Variant("IDCHECK = 'S'"),
                                         data::Variant("J11222333000181"),
                                         data::Variant(grid),
                                         data::Variant("ANA"),
                                         data::Variant("0001")};
      const double start = WallSeconds(), cpu_start = ThreadSeconds();
      object.Call("DistribuiQuantidades", args);
      const std::pair<double, double> spent{WallSeconds() - start, ThreadSeconds() - cpu_start};
      grid = args[3].ToString();
      return spent;
    };
    std::vector<double> samples, cpu_samples;
    for (int r = 0; r < runs; ++r) {
      if (!grid.empty()) {
        std::vector<data::Variant> discard = {data::Variant("0001"), data::Variant(grid)};
        object.Call("DelGrade", discard);
        grid.clear();
      }
      const auto [wall, cpu] = distribute();
      samples.push_back(wall);
      cpu_samples.push_back(cpu);
    }
    run.first_wall = Median(samples);
    run.first_cpu = Median(cpu_samples);
    samples.clear();
    cpu_samples.clear();
    for (int r = 0; r < runs; ++r) {
      const auto [wall, cpu] = distribute();
      samples.push_back(wall);
      cpu_samples.push_back(cpu);
    }
    run.wall = Median(samples);
    run.cpu = Median(cpu_samples);

    // Each stored allocation as an item of its own at its client's place.
    std::vector<std::size_t> unused;
    const planning::PlaceMap map = DayPlaces(day, unused);
    std::map<std::string, std::size_t> place_of;
    std::size_t next = 1;  // in DayPlaces' order, after the branch
    for (const auto& [client, at] : day.client_at) place_of[client] = next++;
    std::map<std::string, std::map<std::string, std::size_t>> vehicle_index;  // by date
    std::map<std::string, std::pair<planning::PackResult, std::vector<std::size_t>>> by_date;
    storage->Transact(server::TxKind::Read, [&](server::Session& s) {
      for (const server::Row& r :
           s.Query("SELECT DTENTREGA, CDVIATURA, CDCLIENTE FROM ALOCGRADE WHERE NRGRADEDISTR = ?",
                   {data::Variant(grid)})) {
        const std::string date = r[0].ToString();
        auto& [plan, place] = by_date[date];
        auto& vehicles = vehicle_index[date];
        const std::size_t v = vehicles.emplace(r[1].ToString(), vehicles.size()).first->second;
        plan.allocations.push_back({place.size(), v, 1});
        place.push_back(place_of.at(r[2].ToString()));
      }
      run.refused = JudgeStored(day, s, grid, by_place ? "stored by place" : "stored by weight");
    });
    for (const auto& [date, plan] : by_date) {
      run.vehicles += static_cast<int>(vehicle_index[date].size());
      run.km += planning::RoutesKm(plan.first, plan.second, map);
    }
  }
  remove();
  return run;
}

int Main(int argc, char** argv) {
  int runs = 5;
  bool windows_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--windows-only") {
      windows_only = true;
    } else {
      return Usage("exp-bench-dispatch [--runs N] [--windows-only]");
    }
  }
  if (windows_only) {
    const Day day = Generate(10000);
    const ServerRun timed = RunServer(day, runs, true, true);
    Row("Dispatch day, 10000 items with windows: DistribuiQuantidades into a new grid, CPU "
        "(goal 1 s)",
        Ms(timed.first_cpu), "1000 ms", timed.first_cpu / 1.0);
    Row("Dispatch day, 10000 items with windows: vehicles", std::to_string(timed.vehicles), "",
        0);
    Row("Dispatch day, 10000 items with windows: route km", Format("%.1f km", timed.km), "", 0);
    Row("Dispatch day, 10000 items with windows: delivery dates whose stored distribution the "
        "independent check refused (goal 0)",
        std::to_string(timed.refused), "0", timed.refused);
    return 0;
  }
  std::printf(
      "| items | orders | vehicles | lower bound | orders split | avoidable splits | "
      "packing (median) | DistribuiQuantidades into a new grid (median) | again into the same "
      "grid (median) |\n|---|---|---|---|---|---|---|---|---|\n");
  for (int count : {100, 1000, 10000}) {
    const Day day = Generate(count);
    std::vector<double> pack_times, place_times;
    Quality q;
    for (int r = 0; r < runs; ++r) {
      double seconds = 0;
      q = PackDay(day, &seconds);
      pack_times.push_back(seconds);
      place_times.push_back(q.place_seconds);
    }
    const ServerRun by_place = RunServer(day, runs, true);
    const ServerRun by_weight = RunServer(day, 1, false);
    // The same day with receiving windows and working days.
    const ServerRun timed = count == 10000 ? RunServer(day, runs, true, true) : ServerRun{};
    const double server_time = by_place.wall, server_cpu = by_place.cpu;
    std::set<std::string> orders;
    for (const PackItem& it : day.items) orders.insert(it.order);
    std::printf("| %d | %zu | %d | %d | %d | %d | %s | %s | %s |\n", count, orders.size(),
                q.vehicles, q.bound, q.split, q.avoidable, Ms(Median(pack_times)).c_str(),
                Ms(by_place.first_wall).c_str(), Ms(server_time).c_str());
    const std::string size = Format("%d items", count);
    Row("Dispatch day, " + size + ": vehicles used (reference: lower bound for this fleet)",
        std::to_string(q.vehicles) + (q.vehicles == q.bound && q.refused == 0 ? ", optimal" : ""),
        std::to_string(q.bound), q.bound ? static_cast<double>(q.vehicles) / q.bound : 0);
    Row("Dispatch day, " + size +
            ": delivery dates whose packing the independent check refused (goal 0)",
        std::to_string(q.refused), "0", q.refused);
    Row("Dispatch day, " + size +
            ": delivery dates whose stored distribution the independent check refused, by place "
            "and by weight alone (goal 0)",
        std::to_string(by_place.refused + by_weight.refused), "0",
        by_place.refused + by_weight.refused);
    Row("Dispatch day, " + size + ": avoidable order splits (goal 0)", std::to_string(q.avoidable),
        "0", q.avoidable);
    if (count == 10000) {
      Row("Dispatch day, " + size + ": DistribuiQuantidades into a new grid (goal 0.5 s)",
          Ms(by_place.first_wall), "500 ms", by_place.first_wall / 0.5);
      Row("Dispatch day, " + size + ": DistribuiQuantidades into a new grid, CPU (goal 0.5 s)",
          Ms(by_place.first_cpu), "500 ms", by_place.first_cpu / 0.5);
      Row("Dispatch day, " + size + ": DistribuiQuantidades again into the same grid (goal 0.5 s)",
          Ms(server_time), "500 ms", server_time / 0.5);
      Row("Dispatch day, " + size +
              ": DistribuiQuantidades again into the same grid, CPU (goal 0.5 s)",
          Ms(server_cpu), "500 ms", server_cpu / 0.5);
      Row("Dispatch day, " + size +
              " with windows: DistribuiQuantidades into a new grid (goal 1 s; reference: "
              "without windows)",
          Ms(timed.first_wall), Ms(by_place.first_wall), timed.first_wall / 1.0);
      Row("Dispatch day, " + size +
              " with windows: DistribuiQuantidades into a new grid, CPU (goal 1 s; reference: "
              "without windows)",
          Ms(timed.first_cpu), Ms(by_place.first_cpu), timed.first_cpu / 1.0);
      Row("Dispatch day, " + size + " with windows: vehicles (reference: without windows)",
          std::to_string(timed.vehicles), std::to_string(by_place.vehicles),
          by_place.vehicles ? static_cast<double>(timed.vehicles) / by_place.vehicles : 0);
    } else {
      Row("Dispatch day, " + size + ": DistribuiQuantidades into a new grid",
          Ms(by_place.first_wall), "", 0);
      Row("Dispatch day, " + size + ": DistribuiQuantidades again into the same grid",
          Ms(server_time), "", 0);
    }
    Row("Dispatch day, " + size +
            ": packing alone, CPU (reference: this project's server method again into the same "
            "grid, CPU)",
        Ms(Median(pack_times)), Ms(server_cpu),
        server_cpu > 0 ? Median(pack_times) / server_cpu : 0);
    Row("Dispatch day, " + size +
            ": vehicles by place (reference: this project's distribution by weight alone)",
        std::to_string(by_place.vehicles), std::to_string(by_weight.vehicles),
        by_weight.vehicles ? static_cast<double>(by_place.vehicles) / by_weight.vehicles : 0);
    Row("Dispatch day, " + size +
            ": route km by place (reference: this project's distribution by weight alone)",
        Format("%.1f km", by_place.km), Format("%.1f km", by_weight.km),
        by_weight.km > 0 ? by_place.km / by_weight.km : 0);
    Row("Dispatch day, " + size +
            ": by-place step alone, CPU (reference: this project's server method again into the "
            "same grid, CPU)",
        Ms(Median(place_times)), Ms(server_cpu),
        server_cpu > 0 ? Median(place_times) / server_cpu : 0);
  }
  return 0;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
