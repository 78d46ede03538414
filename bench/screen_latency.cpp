// Interaction latency: the headless screen driven against the real server,
// in process and over HTTP on loopback, through the actions a clerk repeats
// all day, on generated dispatch days of 100, 1,000 and 10,000 items.
//
//   exp-bench-screen [--samples N] [--items N,N,...] [--calls]
//
// Each action is timed on the wall clock around the user's action as the
// screen receives it (its events and server calls included); p50 and p99 of
// N samples per action (default 200; the panel commit takes a fifth of
// them, a twentieth from 10,000 items on). Beside the wall clock, the CPU
// time the whole process spent on the action (the screen, and the server's
// threads, which run in the same process over HTTP too): on a machine that
// other work shares, the wall clock carries the time the action waited for
// a core, the CPU time does not. The floor is the round trip of a call the
// server refuses at once (an unknown method), over the same transport in
// the same run. --calls also prints the time of each server method the
// screen called.
//
// The launch is timed apart, from the items packet handed to the module to
// the screen ready for the clerk (shown and activated), five times per
// transport.
//
// Actions:
//   item      move to the next item (its vehicles are loaded)
//   vehicle   move to the next vehicle of the item (route, totals,
//             itinerary and inconsistencies of the vehicle are loaded)
//   post      post a vehicle's quantity (capacity check, local)
// The server calls made during each action are counted: the rows of an
// action that made none say it measured the screen alone, not the transport.
//   save      save the item's distribution
//   panel     leave the transporter panel: the whole distribution
//   stop      number a stop on the route tab
//   check     click an order's check box on the order tab (last: it moves
//             orders between vehicles)
//   launch    the items packet to a ready screen (timed apart)
// "refused" counts the actions the screen did not take (a disabled control,
// not timed) and the refusals it showed the clerk (a vehicle without room
// for the order, timed). Any other failure fails the run.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "appserver/fixture.h"
#include "appserver/grade_server.h"
#include "appserver/storage.h"
#include "appserver/transport.h"
#include "bench/bench_util.h"
#include "bench/day_generator.h"
#include "contracts/halvorn.h"
#include "contracts/net_connection.h"
#include "contracts/query.h"
#include "contracts/sqlite_connection.h"
#include "data/item_fields.h"
#include "entry/entry.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "ui/application.h"
#include "ui/user_actions.h"

namespace dg::bench {
namespace {

using data::Variant;
using screen::TfrmGradeDistribuicao;

constexpr const char* kServer = "Exp03200.rdmGradeDistribuicao";

// Runs the session on the screen's modal show, then lets it close (every
// question answered Yes).
class SessionWindows : public ui::WindowSystem {
 public:
  std::function<void(ui::Form&)> session;
  ui::ScriptedDialogs* dialogs = nullptr;

  void ShowModal(ui::Form& form) override {
    form.Activate();
    if (session) session(form);
    for (int i = 0; i < 4 && form.IsOpen(); ++i) {
      dialogs->QueueAnswer(ui::Answer::Yes);
      form.Close();
    }
  }
};

// The launch packet: the fixture's item rows under the item packet fields.
data::DataPacket LaunchPacket(const nlohmann::json& fixture) {
  data::DataPacket packet;
  packet.fields = data::ItemPacketFields();
  for (const nlohmann::json& item : fixture["ITEMPEDIDO"]) {
    std::vector<Variant> cells;
    for (const data::FieldDef& f : packet.fields) {
      auto it = item.find(f.name);
      if (it == item.end()) {
        cells.push_back(Variant::Null());
      } else if (f.type == data::FieldType::Double) {
        cells.push_back(Variant(it->get<double>()));
      } else if (f.type == data::FieldType::DateTime) {
        cells.push_back(Variant(data::DateTime::FromIso(it->get<std::string>())));
      } else {
        cells.push_back(Variant(it->get<std::string>()));
      }
    }
    packet.rows.push_back(std::move(cells));
  }
  return packet;
}

// Passes calls on and keeps the wall time of each, by method (--calls).
class TimingTransport : public data::CallTransport {
 public:
  TimingTransport(std::shared_ptr<data::CallTransport> inner,
                  std::map<std::string, std::vector<double>>* times)
      : inner_(std::move(inner)), times_(times) {}
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override {
    const double start = WallSeconds();
    data::CallReply reply = inner_->Call(server_name, method, args);
    (*times_)[method].push_back(WallSeconds() - start);
    return reply;
  }

 private:
  std::shared_ptr<data::CallTransport> inner_;
  std::map<std::string, std::vector<double>>* times_;
};

// Server calls made through any transport of the run, counted so that an
// action's rows can say whether it went to the server at all.
long g_server_calls = 0;

class CountingTransport : public data::CallTransport {
 public:
  explicit CountingTransport(std::shared_ptr<data::CallTransport> inner)
      : inner_(std::move(inner)) {}
  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override {
    ++g_server_calls;
    return inner_->Call(server_name, method, args);
  }

 private:
  std::shared_ptr<data::CallTransport> inner_;
};

// CPU time of the whole process, in seconds.
double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Samples {
  std::map<std::string, std::vector<double>> by_action;
  std::map<std::string, std::vector<double>> cpu_by_action;
  std::map<std::string, int> refused;
  std::map<std::string, long> server_calls;  // made during the timed actions
  int failures = 0;
};

// Resets the module's state as a fresh host process has it.
void ResetModule() {
  delete screen::frmGradeDistribuicao;
  screen::frmGradeDistribuicao = nullptr;
  screen::stNrGrade.clear();
  screen::stFilial.clear();
  screen::stGrade.clear();
  screen::stVeiculo.clear();
  screen::statusData.clear();
  screen::boIdCriado = screen::boCalculaPeso = screen::boExpedir = false;
}

// Launches the screen on the items as the host does, with the caller's
// variables of a first launch, and then resets the module.
void RunScreen(const data::DataPacket& items) {
  bool opcao = false;
  std::string nr_grade, nr_insc, tp_trans, id_frete;
  data::VariantArray launch({Variant(items), Variant::RefTo(&opcao), Variant::RefTo(&nr_grade),
                             Variant::RefTo(&nr_insc), Variant::RefTo(&tp_trans),
                             Variant::RefTo(&id_frete)});
  IniProc(launch);
  ResetModule();
}

// One launch of the screen on the day's items; runs every action `samples`
// times (the panel commit `panels` times) and returns the times.
Samples Drive(const data::DataPacket& items, int samples, int panels) {
  Samples out;
  ui::ScriptedDialogs dialogs;
  SessionWindows windows;
  windows.dialogs = &dialogs;
  ui::ScopedDialogs scoped(&dialogs, &windows);
  // A refusal shown to the clerk during a timed action (a vehicle without
  // room for the order) is counted against the action; any other failure
  // is a failure of the run.
  const char* current = nullptr;
  ui::App().on_error_report = [&](const std::string& text) {
    if (current != nullptr) {
      ++out.refused[current];
    } else if (++out.failures <= 3) {
      std::fprintf(stderr, "screen failure: %s\n", text.c_str());
    }
  };
  auto run = [&](const std::function<void()>& action) {
    try {
      action();
    } catch (...) {
      ui::App().HandleException(std::current_exception());
    }
  };
  // An action on a disabled control is not timed, only counted as refused.
  auto timed = [&](const char* name, const std::function<ui::Outcome()>& action) {
    ui::Outcome outcome = ui::Outcome::Done;
    const std::size_t shown = dialogs.Log().size();
    current = name;
    const long calls_before = g_server_calls;
    const double start = WallSeconds(), cpu_start = ProcessSeconds();
    run([&] { outcome = action(); });
    const double seconds = WallSeconds() - start, cpu = ProcessSeconds() - cpu_start;
    current = nullptr;
    out.server_calls[name] += g_server_calls - calls_before;
    for (std::size_t i = shown; i < dialogs.Log().size(); ++i) {
      if (dialogs.Log()[i].rfind("error: ", 0) == 0) ++out.refused[name];
    }
    if (outcome == ui::Outcome::Done) {
      out.by_action[name].push_back(seconds);
      out.cpu_by_action[name].push_back(cpu);
    } else {
      ++out.refused[name];
    }
  };
  auto done = [](const std::function<void()>& action) {
    return [action] {
      action();
      return ui::Outcome::Done;
    };
  };

  windows.session = [&](ui::Form&) {
    TfrmGradeDistribuicao& s = *screen::frmGradeDistribuicao;
    ui::UserType(*s.medCdTransp, "11222333000181");
    ui::UserFocus(*s.medTpTransp);
    ui::UserType(*s.medTpTransp, "1");
    run([&] { ui::UserFocus(*s.DBGrid1); });

    // Leaving the panel: entering it discards the grid, leaving it
    // distributes every item again.
    for (int i = 0; i < panels; ++i) {
      run([&] { ui::UserFocus(*s.medCdTransp); });
      timed("panel", [&] { return ui::UserFocus(*s.DBGrid1); });
    }

    // Item tab: items, vehicles, a quantity posted again and saved.
    run([&] { ui::UserSelectTab(*s.pgcPadrao, *s.tshPadrao); });
    for (int i = 0; i < samples; ++i) {
      timed("item", done([&] {
              if (s.cdsExp.RecNo() < s.cdsExp.RecordCount()) {
                s.cdsExp.Next();
              } else {
                s.cdsExp.First();
              }
            }));
      timed("vehicle", done([&] {
              if (s.cdsVeiculo.RecNo() < s.cdsVeiculo.RecordCount()) {
                s.cdsVeiculo.Next();
              } else {
                s.cdsVeiculo.First();
              }
            }));
      timed("post", done([&] {
              data::Field& qt = s.cdsVeiculo.FieldByName("QtTranspItGr");
              const double q = qt.AsFloat();
              s.cdsVeiculo.Edit();
              qt.SetAsFloat(q);
              s.cdsVeiculo.Post();
            }));
      timed("save", [&] { return ui::UserClick(*s.sbtConfirmar); });
    }

    // Route tab, on a vehicle that carries the current item: each stop
    // numbered by its place in the route, over and over.
    run([&] {
      for (int row = 1; row <= s.cdsVeiculo.RecordCount(); ++row) {
        s.cdsVeiculo.SetRecNo(row);
        if (s.cdsVeiculo.FieldByName("QtTranspItGr").AsFloat() > 0) break;
      }
      ui::UserSelectTab(*s.pgcPadrao, *s.tshRota);
    });
    for (int i = 0; i < samples; ++i) {
      const int stops = s.cdsGradeRota.RecordCount();
      if (stops == 0) break;
      const int stop = 1 + i % stops;
      run([&] { s.cdsGradeRota.SetRecNo(stop); });
      timed("stop", done([&] {
              s.cdsGradeRota.Edit();
              s.cdsGradeRota.FieldByName("NRORDENTREGRADE").SetAsString(std::to_string(stop));
              s.cdsGradeRota.Post();
            }));
    }

    // Order tab, last: the check box of the second vehicle of the current
    // order moves the order, so the items' distributions change.
    run([&] { ui::UserSelectTab(*s.pgcPadrao, *s.tbsPedido); });
    for (int i = 0; i < samples; ++i) {
      if (i % 2 == 0 && s.cdsGPedido.RecordCount() > 1) {
        run([&] {
          if (s.cdsGPedido.RecNo() < s.cdsGPedido.RecordCount()) {
            s.cdsGPedido.Next();
          } else {
            s.cdsGPedido.First();
          }
        });
      }
      const int row = std::min(2, s.cdscCarrosPedido.RecordCount());
      timed("check", [&] { return ui::UserClickCell(*s.DBGrid2, row, "IDMARCADO"); });
    }
  };

  RunScreen(items);
  ui::App().on_error_report = nullptr;
  return out;
}

// Launches the screen on the items and closes it as soon as it is ready;
// returns the wall and CPU time from the items packet to the ready screen.
std::pair<double, double> Launch(const data::DataPacket& items) {
  ui::ScriptedDialogs dialogs;
  SessionWindows windows;
  windows.dialogs = &dialogs;
  ui::ScopedDialogs scoped(&dialogs, &windows);
  double wall = 0, cpu = 0;
  const double start = WallSeconds(), cpu_start = ProcessSeconds();
  windows.session = [&](ui::Form&) {
    wall = WallSeconds() - start;
    cpu = ProcessSeconds() - cpu_start;
  };
  RunScreen(items);
  return {wall, cpu};
}

// Round trips of a call the server refuses at once.
std::vector<double> Floor(data::CallTransport& transport, int samples) {
  std::vector<double> times;
  for (int i = 0; i < samples; ++i) {
    const double start = WallSeconds();
    try {
      transport.Call(kServer, "Nada", {});
    } catch (const data::ServerCallError&) {
    }
    times.push_back(WallSeconds() - start);
  }
  return times;
}

struct Action {
  const char* name;
  const char* label;
  bool single_record;  // goal: 5 ms at p99 over HTTP
};

const Action kActions[] = {
    {"item", "move to another item", true},
    {"vehicle", "move to another vehicle", true},
    {"post", "post a vehicle quantity", true},
    {"save", "save the item", true},
    {"stop", "number a stop", true},
    {"check", "click an order's check box", true},
    {"panel", "leave the transporter panel (whole distribution)", false},
};

// Goals over HTTP: single-record actions 5 ms at p99 from 1,000 items on;
// the panel commit 100 ms at 1,000 items and 0.5 s at 10,000; the launch
// 1 s at 10,000.
double PanelGoal(int count) { return count >= 10000 ? 0.5 : count >= 1000 ? 0.1 : 0; }
double LaunchGoal(int count) { return count >= 10000 ? 1.0 : 0; }

void PrintLine(int count, const char* transport, const char* label, const std::vector<double>& wall,
               const std::vector<double>& cpu, int refused) {
  std::printf("| %d | %s | %s | %s | %s | %s | %s | %zu | %d |\n", count, transport, label,
              Ms(Median(wall)).c_str(), Ms(Quantile(wall, 0.99)).c_str(),
              cpu.empty() ? "-" : Ms(Median(cpu)).c_str(),
              cpu.empty() ? "-" : Ms(Quantile(cpu, 0.99)).c_str(), wall.size(), refused);
}

int Main(int argc, char** argv) {
  int samples = 200;
  bool calls = false;
  std::vector<int> counts = {100, 1000, 10000};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--samples" && i + 1 < argc) {
      samples = std::max(10, std::atoi(argv[++i]));
    } else if (arg == "--items" && i + 1 < argc) {
      counts = ParseCounts(argv[++i]);
    } else if (arg == "--calls") {
      calls = true;
    } else {
      return Usage("exp-bench-screen [--samples N] [--items N,N,...] [--calls]");
    }
  }
  if (counts.empty()) return Usage("exp-bench-screen: --items needs counts above 0");
  contracts::SimpleHostServices host;
  host.branch = "0001";
  host.operator_code = "ANA";
  contracts::Halvorn::SetHost(&host);

  std::printf(
      "| items | transport | action | p50 | p99 | CPU p50 | CPU p99 | samples | refused |\n"
      "|---|---|---|---|---|---|---|---|---|\n");
  int failures = 0;
  for (int count : counts) {
    const nlohmann::json fixture = Fixture(Generate(count));
    const data::DataPacket items = LaunchPacket(fixture);
    const int panels = std::max(3, count >= 10000 ? samples / 20 : samples / 5);
    const std::string name =
        Format("exp-bench-screen-%d-%d.db", static_cast<int>(::getpid()), count);
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    auto remove = [&] {
      for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    };
    remove();
    {
      auto storage = server::OpenSqliteStorage(path);
      server::LoadFixture(*storage, fixture);
      auto rdm = std::make_shared<server::rdmGradeDistribuicao>(storage);
      // The host's look-ups (transporters, transport types) read the same file.
      contracts::SqliteConnection lookups(path);
      contracts::SetDefaultDatabase(&lookups);
      server::HttpServer http(rdm, {});
      const int port = http.Start();

      for (const bool over_http : {false, true}) {
        const char* transport = over_http ? "HTTP" : "in process";
        auto make_transport = [&]() -> std::shared_ptr<data::CallTransport> {
          if (over_http) return std::make_shared<server::HttpTransport>("127.0.0.1", port);
          return std::make_shared<server::InProcessTransport>(rdm);
        };
        std::map<std::string, std::vector<double>> call_times;
        contracts::TNetConnection::SetTransportFactory([&](const std::string&, int) {
          std::shared_ptr<data::CallTransport> t = make_transport();
          if (calls) t = std::make_shared<TimingTransport>(std::move(t), &call_times);
          return std::make_shared<CountingTransport>(std::move(t));
        });
        std::vector<double> launch_wall, launch_cpu;
        for (int i = 0; i < 5; ++i) {
          const auto [wall, cpu] = Launch(items);
          launch_wall.push_back(wall);
          launch_cpu.push_back(cpu);
        }
        call_times.clear();
        const Samples s = Drive(items, samples, panels);
        for (const auto& [method, times] : call_times) {
          std::fprintf(stderr, "%d items, %s: %s x%zu, p50 %s, p99 %s\n", count,
                       over_http ? "HTTP" : "in process", method.c_str(), times.size(),
                       Ms(Median(times)).c_str(), Ms(Quantile(times, 0.99)).c_str());
        }
        failures += s.failures;
        const std::vector<double> floor = Floor(*make_transport(), samples);
        PrintLine(count, transport, "empty call (floor)", floor, {}, 0);
        PrintLine(count, transport, "launch: items packet to a ready screen", launch_wall,
                  launch_cpu, 0);
        if (over_http) {
          Row(Format("Latency over HTTP, %d items: empty call, p50 (the floor)", count),
              Ms(Median(floor)), "", 0);
          const double p50 = Median(launch_wall), goal = LaunchGoal(count);
          if (goal > 0) {
            Row(Format("Launch over HTTP, %d items: items packet to a ready screen, p50 (goal %s)",
                       count, Ms(goal).c_str()),
                Ms(p50), Ms(goal), p50 / goal);
          }
        }
        for (const Action& a : kActions) {
          auto it = s.by_action.find(a.name);
          const int refused = s.refused.count(a.name) ? s.refused.at(a.name) : 0;
          if (it == s.by_action.end()) {
            std::printf("| %d | %s | %s | - | - | - | - | 0 | %d |\n", count, transport, a.label,
                        refused);
            continue;
          }
          PrintLine(count, transport, a.label, it->second, s.cpu_by_action.at(a.name), refused);
          if (!over_http) continue;
          const double p99 = Quantile(it->second, 0.99);
          const double cpu99 = Quantile(s.cpu_by_action.at(a.name), 0.99);
          const double goal = a.single_record ? (count >= 1000 ? 0.005 : 0) : PanelGoal(count);
          // An action that made no server call in any sample measured the
          // screen alone, not the transport: its rows say so.
          const bool local = s.server_calls.count(a.name) && s.server_calls.at(a.name) == 0;
          const std::string label =
              local ? std::string(a.label) + " (on the screen alone: no server call)" : a.label;
          const char* latency =
              local ? "Latency of the screen connected over HTTP" : "Latency over HTTP";
          const char* cpu = local ? "CPU of the screen connected over HTTP" : "CPU over HTTP";
          if (goal > 0) {
            Row(Format("%s, %d items: %s, p99 (goal %s)", latency, count, label.c_str(),
                       Ms(goal).c_str()),
                Ms(p99), Ms(goal), p99 / goal);
            Row(Format("%s, %d items: %s, p99 (goal %s)", cpu, count, label.c_str(),
                       Ms(goal).c_str()),
                Ms(cpu99), Ms(goal), cpu99 / goal);
          } else {
            Row(Format("%s, %d items: %s, p99", latency, count, label.c_str()), Ms(p99), "", 0);
          }
        }
      }
      contracts::TNetConnection::SetTransportFactory(nullptr);
      contracts::SetDefaultDatabase(nullptr);
      http.Stop();
    }
    remove();
  }
  contracts::Halvorn::SetHost(nullptr);
  std::printf("\nScreen failures during the run: %d\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace dg::bench

int main(int argc, char** argv) { return dg::bench::Main(argc, argv); }
