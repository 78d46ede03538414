// exp-host as a program: the example sessions end with the documented exit
// status and trace, in process and against exp-appserver over HTTP.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "appserver/testing/tls_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Source(const std::string& path) {
  const char* root = std::getenv("EXP_SOURCE_DIR");
  return std::string(root ? root : EXP_SOURCE_ROOT) + "/" + path;
}

struct HostRunResult {
  int status = -1;
  std::string out, err;
  std::vector<json> trace;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs exp-host with the arguments; its output and trace are read back.
// `trace_to` sends the trace elsewhere (and nothing of it is read back).
HostRunResult Host(std::vector<std::string> args, const std::string& trace_to = "") {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-run-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string out = (dir / "out").string(), err = (dir / "err").string(),
                    trace = trace_to.empty() ? (dir / "trace.jsonl").string() : trace_to;
  args.insert(args.begin(), EXP_HOST_BIN);
  args.push_back("--trace");
  args.push_back(trace);
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  HostRunResult run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(out);
  run.err = Slurp(err);
  std::istringstream lines(trace_to.empty() ? Slurp(trace) : "");
  for (std::string line; std::getline(lines, line);) run.trace.push_back(json::parse(line));
  fs::remove_all(dir);
  return run;
}

HostRunResult Session(const std::string& name, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--script", Source("examples/sessions/" + name + ".json")};
  args.insert(args.end(), more.begin(), more.end());
  return Host(args);
}

int Count(const HostRunResult& run, const std::string& key) {
  int n = 0;
  for (const json& line : run.trace) n += line.contains(key) ? 1 : 0;
  return n;
}

TEST(HostRun, FailedExpectationGivesStatusOneAndTheScriptGoesOn) {
  const HostRunResult run = Session("failed-expect");
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_EQ(4, Count(run, "expect"));
  EXPECT_EQ(3, Count(run, "step"));
  EXPECT_NE(
      run.trace.end(),
      std::find(
          run.trace.begin(), run.trace.end(),
          json({{"expect", "global.stFilial"}, {"ok", false}, {"want", "9999"}, {"got", "0001"}})));
  ASSERT_FALSE(run.trace.empty());
  EXPECT_TRUE(run.trace.back().contains("result"));
  EXPECT_NE(std::string::npos, run.out.find("PboOpcao: false\n"));
}

TEST(HostRun, UnknownControlGivesStatusTwoBeforeAnythingRuns) {
  const HostRunResult run = Session("unknown-control");
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("step 2: unknown control 'xyz'"));
  EXPECT_EQ(std::vector<json>{json({{"failure", "step 2: unknown control 'xyz'"}})}, run.trace);
}

TEST(HostRun, DisabledButtonIsIgnored) {
  const HostRunResult run = Session("disabled-click");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(
      run.trace.end(),
      std::find(run.trace.begin(), run.trace.end(),
                json({{"step", 1}, {"do", {{"click", "sbtExpedir"}}}, {"ignored", "disabled"}})));
}

TEST(HostRun, UnansweredQuestionIsAnsweredNoByDefault) {
  const HostRunResult run = Session("unanswered-question");
  EXPECT_EQ(0, run.status) << run.err;
  std::vector<json> questions;
  for (const json& line : run.trace) {
    if (line.value("dialog", "") == "question") questions.push_back(line);
  }
  ASSERT_EQ(2u, questions.size());
  EXPECT_EQ("no", questions[0]["answer"]);
  EXPECT_EQ(true, questions[0]["default"]);
  // The player's own close at the end answers Yes.
  EXPECT_EQ("yes", questions[1]["answer"]);
  EXPECT_FALSE(questions[1].contains("default"));
}

TEST(HostRun, UnreadableSessionsAndFixturesGiveStatusTwo) {
  HostRunResult run = Host({"--script", Source("examples/sessions/none.json")});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("cannot read the session file"));
  run = Host({"--bogus"});
  EXPECT_EQ(2, run.status);
  // A trace the disk cannot take is not a session that went well.
  run = Host({"--script", Source("examples/sessions/disabled-click.json")}, "/dev/full");
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("cannot write the trace /dev/full")) << run.err;
  // Nor are pictures that could not be written (here a folder stands where
  // the first step's picture goes).
  const fs::path shots = fs::temp_directory_path() / ("exp-host-shots-" + std::to_string(getpid()));
  fs::create_directories(shots / "001-click.png");
  run = Host({"--script", Source("examples/sessions/disabled-click.json"), "--screenshots",
              shots.string()});
  if (run.err.find("needs the Qt view") == std::string::npos) {
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos,
              run.err.find("cannot write the picture " + (shots / "001-click").string() + ".png"))
        << run.err;
  }
  fs::remove_all(shots);
}

// A session file written for one test, in a folder of its own removed at
// the end.
class ScratchSession {
 public:
  explicit ScratchSession(const std::string& body) {
    dir_ = fs::temp_directory_path() / ("exp-host-scratch-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(path()) << body;
  }
  ~ScratchSession() { fs::remove_all(dir_); }
  std::string path() const { return (dir_ / "session.json").string(); }
  // Another file beside the session (a fixture it names).
  void Add(const std::string& name, const std::string& body) const {
    std::ofstream(dir_ / name) << body;
  }

 private:
  fs::path dir_;
};

// What would overflow the stack or never end is refused before the screen
// opens: the trace holds only the failure.
TEST(HostRun, SessionsTooDeepOrTooLongGiveStatusTwo) {
  const std::string fixture = "\"fixture\": \"" + Source("fixtures/demo.json") + "\"";
  const int levels = 100000;
  const struct {
    std::string body, message;
  } rows[] = {
      {"{" + fixture + ", \"steps\": [{\"expect\": {\"global.stFilial\": " +
           std::string(levels, '[') + "1" + std::string(levels, ']') + "}}]}",
       "nested more than 64 levels deep"},
      {"{" + fixture + ", \"launch\": {\"relaunch\": 4294967297}, \"steps\": []}",
       "launch.relaunch must be a count from 0 to 1000"},
      {"{" + fixture + ", \"launch\": {\"relaunch\": 2147483647}, \"steps\": []}",
       "launch.relaunch must be a count from 0 to 1000"},
  };
  for (const auto& row : rows) {
    const ScratchSession session(row.body);
    const HostRunResult run = Host({"--script", session.path()});
    EXPECT_EQ(2, run.status) << row.message;
    EXPECT_NE(std::string::npos, run.err.find(row.message)) << run.err;
    ASSERT_EQ(1u, run.trace.size()) << row.message;
    EXPECT_TRUE(run.trace[0].contains("failure"));
  }
}

TEST(HostRun, MalformedFaultEntryGivesStatusTwoNamingIt) {
  const ScratchSession session("{\"fixture\": \"" + Source("fixtures/demo.json") +
                               "\", \"steps\": [], \"faults\": [{\"call\": \"SetGrade\", "
                               "\"nth\": 0, \"fail\": \"x\"}]}");
  const HostRunResult run = Host({"--script", session.path()});
  EXPECT_EQ(2, run.status);
  const std::string message =
      "fault {\"call\":\"SetGrade\",\"fail\":\"x\",\"nth\":0}: \"nth\" counts calls from 1";
  EXPECT_NE(std::string::npos, run.err.find(message)) << run.err;
  EXPECT_EQ(std::vector<json>{json({{"failure", message}})}, run.trace);
}

// An expectation the screen closed for good before never held: the session
// fails, so that a screen that closes when it must stay open is caught.
TEST(HostRun, ExpectationsAfterTheLastCloseFailTheSession) {
  const std::string head = "{\"fixture\": \"" + Source("fixtures/demo.json") +
                           "\", \"steps\": [{\"answers\": [\"yes\"]}, {\"close\": true}, ";
  const ScratchSession expecting(head + "{\"expect\": {\"lblCodTela.text\": \"EXP03200\"}}]}");
  HostRunResult run = Host({"--script", expecting.path()});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("before the last 1 step(s), expectations among them"))
      << run.err;
  ASSERT_FALSE(run.trace.empty());
  EXPECT_TRUE(run.trace.back().contains("result"));

  // Other steps left over are only reported.
  const ScratchSession acting(head + "{\"activate\": true}]}");
  run = Host({"--script", acting.path()});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("before the last 1 step(s)\n")) << run.err;
}

// exp-appserver on a free loopback port, stopped at the end of the test.
class AppServer {
 public:
  explicit AppServer(const std::string& db, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {EXP_APPSERVER_BIN, "--db",        db,
                                     "--listen",        "127.0.0.1:0", "--allow-fixture"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe_fd[2];
    if (pipe(pipe_fd) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipe_fd[1], 1);
      close(pipe_fd[0]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipe_fd[1]);
    std::string line;
    char c;
    while (read(pipe_fd[0], &c, 1) == 1 && c != '\n') line += c;
    close(pipe_fd[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::stoi(line.substr(prefix.size()));
  }
  ~AppServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST(HostRun, PlaysAgainstARunningServerOverHttp) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-http-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    AppServer server((dir / "server.db").string());
    ASSERT_GT(server.Port(), 0);
    const HostRunResult run =
        Session("failed-expect", {"--server", "http://127.0.0.1:" + std::to_string(server.Port()),
                                  "--db", (dir / "host.db").string()});
    EXPECT_EQ(1, run.status) << run.err;
    // The screen's calls went to the server and came back.
    ASSERT_FALSE(run.trace.empty());
    EXPECT_EQ("GetParametros", run.trace.front().value("call", ""));
    EXPECT_TRUE(run.trace.back().contains("result"));
    EXPECT_EQ(4, Count(run, "expect"));
  }
  fs::remove_all(dir);
}

// The whole job as the run command plays it: every expectation holds, the
// map module is loaded, and the dispatch hands back the five values; over
// HTTP the map module reaches the same server as the screen.
TEST(HostRun, DemonstrationSessionDoesTheWholeJobInProcessAndOverHttp) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-demo-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    AppServer server((dir / "server.db").string());
    ASSERT_GT(server.Port(), 0);
    const std::vector<std::vector<std::string>> backends = {
        {},
        {"--server", "http://127.0.0.1:" + std::to_string(server.Port()), "--db",
         (dir / "host.db").string()}};
    for (const auto& backend : backends) {
      std::vector<std::string> args = {"--script", Source("examples/demo-session.json")};
      args.insert(args.end(), backend.begin(), backend.end());
      const HostRunResult run = Host(args);
      SCOPED_TRACE(backend.empty() ? "in process" : "over HTTP");
      EXPECT_EQ(0, run.status) << run.err;
      EXPECT_EQ(1, Count(run, "module"));
      for (const json& line : run.trace) {
        if (line.contains("expect") && !line.contains("step")) {
          EXPECT_TRUE(line.value("ok", false)) << line.dump();
        }
      }
      ASSERT_FALSE(run.trace.empty());
      EXPECT_EQ(json({{"PboOpcao", true},
                      {"PNrGradeDistr", "000001"},
                      {"PstNrInsc", "45781233000107"},
                      {"PstTpTrans", "0001"},
                      {"PstIdFrete", "1"}}),
                run.trace.back().value("result", json()));
      EXPECT_NE(std::string::npos, run.out.find("PboOpcao: true")) << run.out;
    }
  }
  fs::remove_all(dir);
}

// The dispatch is done when the manifest cannot be saved: the clerk reads so
// in Portuguese, with what to check.
TEST(HostRun, AManifestThatCannotBeSavedIsReportedAfterTheDispatch) {
  const fs::path file = fs::temp_directory_path() / ("exp-host-file-" + std::to_string(getpid()));
  std::ofstream(file).put('x');
  // The pictures only tell a build without the view, which prints no manifest.
  const fs::path shots = file.string() + "-shots";
  const HostRunResult run = Session("relaunch-after-dispatch", {"--manifest-dir", file.string(),
                                                                "--screenshots", shots.string()});
  fs::remove(file);
  fs::remove_all(shots);
  if (run.err.find("needs the Qt view") != std::string::npos) {
    GTEST_SKIP() << "this build has no Qt view to print the manifest with";
  }
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("grade 000001 expedida")) << run.out;
  std::vector<std::string> failures;
  for (const json& line : run.trace) {
    if (line.contains("failure")) failures.push_back(line["failure"]);
  }
  ASSERT_EQ(failures.size(), 1u) << run.err;
  EXPECT_EQ(failures[0].rfind("A grade 000001 foi expedida. O romaneio de carga não pôde ser "
                              "gravado em " +
                                  (file / "romaneio-0001-000001.pdf").string() +
                                  ": verifique se a pasta existe e se pode ser gravada. (",
                              0),
            0u)
      << failures[0];
}

// A link planted in --manifest-dir under the next manifest's name is not
// written through: the file it points to is left as it was, and the clerk
// is told.
TEST(HostRun, AManifestIsNotWrittenThroughALinkItWasNotGiven) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-link-" + std::to_string(getpid()));
  fs::create_directories(dir / "m");
  const fs::path victim = dir / "victim.txt";
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, dir / "m" / "romaneio-0001-000001.pdf");
  const fs::path shots = dir / "shots";
  const HostRunResult run =
      Session("relaunch-after-dispatch",
              {"--manifest-dir", (dir / "m").string(), "--screenshots", shots.string()});
  std::ifstream in(victim);
  const std::string kept((std::istreambuf_iterator<char>(in)), {});
  fs::remove_all(dir);
  if (run.err.find("needs the Qt view") != std::string::npos) {
    GTEST_SKIP() << "this build has no Qt view to print the manifest with";
  }
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("keep me", kept);
  std::string failures;
  for (const json& line : run.trace) {
    if (line.contains("failure")) failures += line["failure"].get<std::string>();
  }
  EXPECT_NE(std::string::npos, failures.find("esse nome é um atalho (link)")) << failures;
}

// Signed in over TLS: the demonstration plays as an operator of every
// branch; the host refuses a certificate it cannot verify, a server that
// asks for a password it was not given, and a wrong password.
TEST(HostRun, DemonstrationSessionSignedInOverTls) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-tls-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    dg::server::testing::TestCertificates certificates;
    const std::string db = (dir / "server.db").string();
    AppServer server(
        db, {"--signin", "--tls-cert", certificates.cert(), "--tls-key", certificates.key()});
    ASSERT_GT(server.Port(), 0);
    const std::string password = (dir / "senha").string(), wrong = (dir / "errada").string();
    std::ofstream(password) << "senha do despacho\n";
    std::ofstream(wrong) << "senha de outro\n";
    ASSERT_EQ(0, std::system((std::string(EXP_APPSERVER_BIN) + " user add ZE --db " + db +
                              " --branches '*' --password-fd 3 3<" + password + " >/dev/null")
                                 .c_str()));
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port());
    auto play = [&](std::vector<std::string> more) {
      std::vector<std::string> args = {"--script", Source("examples/demo-session.json"),
                                       "--db",     (dir / "host.db").string(),
                                       "--server", url};
      args.insert(args.end(), more.begin(), more.end());
      return Host(args);
    };
    ::unsetenv("EXP_PASSWORD");
    const HostRunResult ok =
        play({"--ca", certificates.ca(), "--operator", "ZE", "--password-file", password});
    EXPECT_EQ(0, ok.status) << ok.err;
    ASSERT_FALSE(ok.trace.empty());
    EXPECT_EQ("000001", ok.trace.back().value("result", json()).value("PNrGradeDistr", ""));

    const HostRunResult unverified = play({"--operator", "ZE", "--password-file", password});
    EXPECT_EQ(2, unverified.status);
    EXPECT_NE(std::string::npos, unverified.err.find("certificado")) << unverified.err;
    const HostRunResult no_password = play({"--ca", certificates.ca(), "--operator", "ZE"});
    EXPECT_EQ(2, no_password.status);
    EXPECT_NE(std::string::npos, no_password.err.find("requires sign-in")) << no_password.err;
    const HostRunResult refused =
        play({"--ca", certificates.ca(), "--operator", "ZE", "--password-file", wrong});
    EXPECT_EQ(2, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("Operador ou senha inválidos.")) << refused.err;
  }
  fs::remove_all(dir);
}

// The sessions that play server faults, each pinning what the screen does
// when one kind of call fails: their expectations hold in process and over
// HTTP, where the fault is made on the host's side of the connection, so
// the server stays up and answers the calls that follow.
TEST(HostRun, FaultSessionsHoldInProcessAndOverHttp) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-faults-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Source("examples/sessions"))) {
    const std::string name = entry.path().stem().string();
    if (name.rfind("fault-", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 9u);
  {
    AppServer server((dir / "server.db").string());
    ASSERT_GT(server.Port(), 0);
    const std::vector<std::string> http = {"--server",
                                           "http://127.0.0.1:" + std::to_string(server.Port()),
                                           "--db", (dir / "host.db").string()};
    for (const std::string& name : names) {
      for (const bool over_http : {false, true}) {
        SCOPED_TRACE(name + (over_http ? " over HTTP" : " in process"));
        const HostRunResult run = Session(name, over_http ? http : std::vector<std::string>{});
        EXPECT_EQ(0, run.status) << run.err;
        std::string faulted;  // what the faults did, as the trace shows it
        for (const json& line : run.trace) {
          if (line.contains("expect") && !line.contains("step")) {
            EXPECT_TRUE(line.value("ok", false)) << line.dump();
          }
          if (!line.contains("failed")) continue;
          EXPECT_FALSE(line.contains("refs")) << line.dump();
          faulted += line.value("call", line.value("module", "?"));
          if (line.value("empty", false)) faulted += "(empty)";
          if (line.value("lost", false)) faulted += "(lost)";
          faulted += " ";
        }
        const std::map<std::string, std::string> expected = {
            {"fault-close-discard", "DelGrade "},
            {"fault-dispatch", "ExpedirGrade "},
            {"fault-distribution", "DistribuiQuantidades DistribuiQuantidades "},
            {"fault-map-module", "EXP03400 "},
            {"fault-panel-delgrade", "DelGrade "},
            {"fault-route-lookup", "GetGradeRota(empty) GetVdOrdem "},
            {"fault-save", "SetGrade "},
            {"fault-save-lost", "SetGrade(lost) "},
            {"fault-vehicle-load", "GetVeiculo "},
        };
        if (expected.count(name)) {
          EXPECT_EQ(expected.at(name), faulted);
        }
        if (name == "fault-dispatch") {
          EXPECT_EQ(std::string::npos, run.out.find("expedida")) << run.out;
        }
      }
    }

    // A fixture nested too deeply is refused before anything is sent.
    const int levels = 100000;
    const ScratchSession deep("{\"fixture\": \"deep.json\", \"steps\": []}");
    deep.Add("deep.json", "{\"VEICULO\": [{\"CDVIATURA\": " + std::string(levels, '[') + "1" +
                              std::string(levels, ']') + "}]}");
    std::vector<std::string> args = {"--script", deep.path()};
    args.insert(args.end(), http.begin(), http.end());
    const HostRunResult run = Host(args);
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("nested more than 64 levels deep")) << run.err;
  }
  fs::remove_all(dir);
}

// The route tab's suggested order: answered No nothing is written, answered
// Yes the stop the clerk numbered keeps its number, the other takes the free
// one; once all are numbered the command only says so. In process and over
// HTTP alike.
TEST(HostRun, RouteSuggestionSessionInProcessAndOverHttp) {
  const fs::path dir = fs::temp_directory_path() / ("exp-host-order-" + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    AppServer server((dir / "server.db").string());
    ASSERT_GT(server.Port(), 0);
    for (const std::vector<std::string>& backend :
         {std::vector<std::string>{},
          std::vector<std::string>{"--server", "http://127.0.0.1:" + std::to_string(server.Port()),
                                   "--db", (dir / "host.db").string()}}) {
      SCOPED_TRACE(backend.empty() ? "in process" : "over HTTP");
      const HostRunResult run = Session("route-suggestion", backend);
      EXPECT_EQ(0, run.status) << run.err;
      std::vector<std::string> dialogs;
      for (const json& line : run.trace) {
        if (line.contains("expect") && !line.contains("step")) {
          EXPECT_TRUE(line.value("ok", false)) << line.dump();
        }
        if (line.contains("dialog")) dialogs.push_back(line.value("answer", line["dialog"]));
      }
      // No, Yes, the note that every stop has its number, and the close.
      EXPECT_EQ(dialogs, (std::vector<std::string>{"no", "yes", "info", "yes"}));
      EXPECT_EQ(1, Count(run, "module"));
    }
  }
  fs::remove_all(dir);
}

}  // namespace
