// Open grids have an owner and a last activity; idle ones are released, by
// the server on its own or by hand, and the room they held is free again.
#include "appserver/grid_activity.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "appserver/journal.h"
#include "appserver/process_mark.h"
#include "appserver/testing/server_process.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::Variant;
using namespace testing;
using std::chrono::minutes;

std::string Grids(Storage& storage) {
  std::string out;
  for (const OpenGrid& g : ListOpenGrids(storage)) {
    out += g.branch + "/" + g.grid + ":" + g.owner + ":" + std::to_string(g.allocations) + ":" +
           Variant(g.weight).ToString() + " ";
  }
  return out;
}

// Moves a grid's last activity `age` into the past.
void Age(Storage& storage, const std::string& grid, minutes age) {
  const auto then = std::chrono::system_clock::now() - age;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(then.time_since_epoch()).count();
  storage.Transact(TxKind::Write, [&](Session& s) {
    s.Exec("UPDATE GRADEDISTR SET DTHRATIVIDADE = ? WHERE NRGRADEDISTR = ?",
           {Value(data::DateTime::FromMillis(ms).ToIso()), Value(grid)});
  });
}

std::vector<std::string> Journal(Storage& storage) {
  std::vector<std::string> out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r :
         s.Query("SELECT CDOPERADOR, NMMETODO, NRGRADEDISTR FROM GRADELOG WHERE NMMETODO LIKE "
                 "'Libera%' ORDER BY NRGRADEDISTR")) {
      out.push_back(Str(r[0]) + "|" + Str(r[1]) + "|" + Str(r[2]));
    }
  });
  return out;
}

class GridActivityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadFixture(*db_.storage(), SmallFixture());
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
  }
  // Distributes every selected item onto a new grid as `op`; answers the
  // grid, or the failure text.
  std::string Distribute(const std::string& op) {
    InProcessTransport clerk(object_, op);
    try {
      const Variant items = clerk.Call(kServerName, "GetItensExpedicao", {"0001"}).result;
      auto reply = clerk.Call(kServerName, "DistribuiQuantidades",
                              {items, "IDCHECK = 'S'", kKey, "", "", "0001"});
      return Str(reply.args[3]);
    } catch (const data::ServerCallError& e) {
      return e.what();
    }
  }

  TempDatabase db_;
  std::shared_ptr<rdmGradeDistribuicao> object_;
};

TEST_F(GridActivityTest, TheFirstWriterOwnsAGridAndEveryWriteIsActivity) {
  InProcessTransport ana(object_, "ANA"), beto(object_, "BETO");
  const std::string grid = Str(ana.Call(kServerName, "PrxNrGrade", {"0001"}).result);
  EXPECT_EQ("0001/000001:ANA:0:0 ", Grids(*db_.storage()));
  Age(*db_.storage(), grid, minutes(300));
  const std::string aged = ListOpenGrids(*db_.storage())[0].last_activity;
  const Variant items = beto.Call(kServerName, "GetItensExpedicao", {"0001"}).result;
  beto.Call(kServerName, "DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, grid, "", "0001"});
  const OpenGrid after = ListOpenGrids(*db_.storage())[0];
  EXPECT_EQ("ANA", after.owner);
  EXPECT_GT(after.last_activity, aged);
  EXPECT_EQ(4, after.allocations);
  EXPECT_EQ(90.0, after.weight);

  // A read is no activity; dispatched and discarded grids are not open.
  Age(*db_.storage(), grid, minutes(300));
  beto.Call(kServerName, "GetGradeporPedido", {"0001", grid});
  EXPECT_EQ(aged.substr(0, 16), ListOpenGrids(*db_.storage())[0].last_activity.substr(0, 16));
  beto.Call(kServerName, "ExpedirGrade", {"0001", grid, "BETO"});
  const std::string other = Str(beto.Call(kServerName, "PrxNrGrade", {"0001"}).result);
  beto.Call(kServerName, "DelGrade", {"0001", other});
  EXPECT_EQ("", Grids(*db_.storage()));
}

// A distribution whose answer was lost leaves a grid nobody knows; once it
// has been idle long enough it is released and the same distribution fits.
TEST_F(GridActivityTest, AnIdleGridIsReleasedAndItsRoomIsFreeAgain) {
  const std::string lost = Distribute("ANA");
  EXPECT_EQ("@QT_EXCEDE", Distribute("ANA"));
  const std::string busy =
      Str(InProcessTransport(object_).Call(kServerName, "PrxNrGrade", {"0001"}).result);

  // Idle, but not for long enough.
  Age(*db_.storage(), lost, minutes(200));
  EXPECT_TRUE(ReleaseIdleGrids(*db_.storage(), minutes(240)).empty());
  Age(*db_.storage(), lost, minutes(241));
  const std::vector<OpenGrid> released = ReleaseIdleGrids(*db_.storage(), minutes(240));
  ASSERT_EQ(1u, released.size());
  EXPECT_EQ(lost, released[0].grid);
  EXPECT_EQ("ANA", released[0].owner);
  EXPECT_EQ(std::vector<std::string>{"|LiberaGradeOciosa|" + lost}, Journal(*db_.storage()));
  EXPECT_EQ("0001/" + busy + "::0:0 ", Grids(*db_.storage()));

  const std::string retried = Distribute("ANA");
  EXPECT_EQ(6u, retried.size()) << retried;
  // The released grid stays discarded: its clerk cannot write to it again.
  InProcessTransport ana(object_, "ANA");
  try {
    ana.Call(kServerName, "SetPedidos", {"0001", "V1", lost});
    ADD_FAILURE() << "wrote to a released grid";
  } catch (const data::ServerCallError& e) {
    EXPECT_EQ("A grade " + lost + " foi descartada e não pode ser alterada.",
              std::string(e.what()));
  }
}

// This process's mark with part `index` (0 machine, 1 host, 2 boot,
// 3 process id, 4 start time) replaced.
std::string MarkWith(std::size_t index, const std::string& part) {
  std::vector<std::string> parts;
  std::istringstream in(ThisProcessMark());
  for (std::string p; std::getline(in, p, '|');) parts.push_back(p);
  parts.at(index) = part;
  std::string mark;
  for (std::size_t i = 0; i < parts.size(); ++i) mark += (i ? "|" : "") + parts[i];
  return mark;
}

TEST(ProcessMark, OnlyAProcessOfThisMachineThatNoLongerRunsIsGone) {
  if (ThisProcessMark().empty()) GTEST_SKIP() << "this machine does not tell its processes";
  EXPECT_FALSE(ProcessIsGone(ThisProcessMark()));
  // A process that ended, its id reused by another, a boot that is over.
  // Ended is ended before its parent reaps it: a desktop killed a moment
  // before the next launch may still be listed, as this child is until the
  // wait below.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  const std::string stat_path = "/proc/" + std::to_string(child) + "/stat";
  std::string stat;
  for (int tries = 0; tries < 10'000 && stat.find(") Z ") == std::string::npos; ++tries) {
    std::ifstream in(stat_path);
    std::getline(in, stat);
  }
  ASSERT_NE(std::string::npos, stat.find(") Z ")) << stat;
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string start;
  for (int i = 3; i <= 22; ++i) fields >> start;
  std::string mark = MarkWith(3, std::to_string(child));
  mark = mark.substr(0, mark.rfind('|') + 1) + start;
  EXPECT_TRUE(ProcessIsGone(mark));
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(ProcessIsGone(MarkWith(3, std::to_string(child))));
  EXPECT_TRUE(ProcessIsGone(MarkWith(4, "1")));
  EXPECT_TRUE(ProcessIsGone(MarkWith(2, "another-boot")));
  // Another machine's, or one that cannot be read, is never judged gone.
  EXPECT_FALSE(ProcessIsGone(MarkWith(1, "other-host")));
  EXPECT_FALSE(ProcessIsGone(MarkWith(0, "other-machine")));
  EXPECT_FALSE(ProcessIsGone(MarkWith(3, "../self")));
  EXPECT_FALSE(ProcessIsGone(""));
  EXPECT_FALSE(ProcessIsGone("a|b|c"));
  EXPECT_FALSE(ProcessIsGone(ThisProcessMark() + "|1"));
}

// A desktop killed with its grid open: the same operator's next launch on
// the branch gets the room back; what another operator, another branch, a
// networked clerk or a live process holds stays open.
TEST_F(GridActivityTest, AGridADeadDesktopLeftIsReleasedAtTheNextLaunchOfItsOperator) {
  const std::string dead = "machine|host|boot|12|34";
  const auto gone = [&](const std::string& mark) { return mark == dead; };
  InProcessTransport killed(object_, "ANA", dead);
  const Variant items = killed.Call(kServerName, "GetItensExpedicao", {"0001"}).result;
  const std::string left = Str(
      killed
          .Call(kServerName, "DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, "", "", "0001"})
          .args[3]);
  EXPECT_EQ("@QT_EXCEDE", Distribute("ANA"));
  const auto open = [&](InProcessTransport& t, const char* branch) {
    return Str(t.Call(kServerName, "PrxNrGrade", {branch}).result);
  };
  InProcessTransport beto_killed(object_, "BETO", dead), networked(object_, "ANA"),
      live(object_, "ANA", "machine|host|boot|56|78");
  const std::string betos = open(beto_killed, "0001"), other_branch = open(killed, "0002"),
                    unmarked = open(networked, "0001"), taken_up = open(killed, "0001");
  live.Call(kServerName, "SetPedidos", {"0001", "V1", taken_up});

  const std::vector<OpenGrid> released = ReleaseAbandonedGrids(*db_.storage(), "0001", "ANA", gone);
  ASSERT_EQ(1u, released.size());
  EXPECT_EQ(left, released[0].grid);
  EXPECT_EQ(4, released[0].allocations);
  EXPECT_EQ(std::vector<std::string>{"ANA|LiberaGradeAbandonada|" + left}, Journal(*db_.storage()));
  EXPECT_EQ("0001/" + betos + ":BETO:0:0 0001/" + unmarked + ":ANA:0:0 0001/" + taken_up +
                ":ANA:0:0 0002/" + other_branch + ":ANA:0:0 ",
            Grids(*db_.storage()));
  EXPECT_EQ(6u, Distribute("ANA").size()) << "the room came back";
  EXPECT_TRUE(ReleaseAbandonedGrids(*db_.storage(), "0001", "ANA", gone).empty());

  EXPECT_EQ(
      "A grade 000001, deixada aberta por uma sessão anterior que terminou sem fechá-la, "
      "foi descartada e os veículos dela estão livres de novo.",
      ReleasedGridsText(released));
  EXPECT_EQ(0u, ReleasedGridsText({released[0], released[0], released[0]})
                    .find("As grades 000001, 000001 e 000001, deixadas abertas"));
}

// Over the network the desktop names its process too: its next launch
// lists what its operator's dead processes hold, judges them on its own
// machine and gets back only what is still theirs.
TEST_F(GridActivityTest, OverHttpADesktopGetsBackWhatItsDeadProcessHeld) {
  HttpServer server(object_, HttpServerOptions{});
  const int port = server.Start();
  const auto client = [&](const std::string& op, const std::string& process) {
    HttpClientOptions options;
    options.operator_code = op;
    options.process = process;
    return std::make_unique<HttpTransport>("127.0.0.1", port, options);
  };
  const std::string dead = "machine|host|boot|12|34", live = "machine|host|boot|56|78";
  auto killed = client("ANA", dead), beto = client("BETO", dead), unmarked = client("ANA", ""),
       other = client("ANA", live);
  const Variant items = killed->Call(kServerName, "GetItensExpedicao", {"0001"}).result;
  const std::string left = Str(
      killed
          ->Call(kServerName, "DistribuiQuantidades", {items, "IDCHECK = 'S'", kKey, "", "", "0001"})
          .args[3]);
  const auto open = [](HttpTransport& t) {
    return Str(t.Call(kServerName, "PrxNrGrade", {"0001"}).result);
  };
  open(*beto);
  open(*unmarked);
  const std::string taken_up = open(*killed);
  other->Call(kServerName, "SetPedidos", {"0001", "V1", taken_up});

  const std::vector<HeldGrid> held = unmarked->HeldGrids("0001");
  ASSERT_EQ(2u, held.size());
  EXPECT_EQ(left + "|" + dead + " " + taken_up + "|" + live,
            held[0].grid + "|" + held[0].process + " " + held[1].grid + "|" + held[1].process);
  EXPECT_TRUE(unmarked->HeldGrids("0002").empty());

  // Another operator, or a process that no longer holds the grid, gets
  // nothing back.
  EXPECT_TRUE(beto->ReleaseHeldGrids("0001", {{left, dead}}).empty());
  const std::vector<OpenGrid> released =
      unmarked->ReleaseHeldGrids("0001", {{taken_up, dead}, {left, dead}});
  ASSERT_EQ(1u, released.size());
  EXPECT_EQ(left, released[0].grid);
  EXPECT_EQ(4, released[0].allocations);
  EXPECT_EQ(std::vector<std::string>{"ANA|LiberaGradeAbandonada|" + left}, Journal(*db_.storage()));
  EXPECT_EQ(3u, ListOpenGrids(*db_.storage()).size());
  EXPECT_EQ(6u, Distribute("ANA").size()) << "the room came back";

  // What a caller may not send is refused before anything is read.
  httplib::Client raw("127.0.0.1", port);
  const httplib::Headers ana = {{kOperatorHeader, "ANA"}};
  const std::string call =
      R"({"server": "Exp03200.rdmGradeDistribuicao", "method": "PrxNrGrade", "args": ["0001"]})";
  struct Case {
    std::string path, body;
    httplib::Headers headers;
    int status;
  };
  const std::vector<Case> cases = {
      {"/call", call, {{kOperatorHeader, "ANA"}, {kProcessHeader, std::string(513, 'p')}}, 400},
      {"/call", call, {{kOperatorHeader, "ANA"}, {kProcessHeader, "a\x01"
                                                                   "b"}},
       400},
      {"/grids/held", R"({"branch": "0001"})", {}, 400},
      {"/grids/held", R"({"branch": ""})", ana, 400},
      {"/grids/held", R"(["0001"])", ana, 400},
      {"/grids/held", "{", ana, 400},
      {"/grids/held/release", R"({"branch": "0001"})", ana, 400},
      {"/grids/held/release", R"({"branch": "0001", "grids": [{"grid": "000002"}]})", ana, 400},
      {"/grids/held/release", R"({"branch": "0001", "grids": [{"grid": 2, "process": "x"}]})",
       ana, 400},
      {"/grids/held/release",
       R"({"branch": "0001", "grids": [{"grid": "000002", "process": "x\u0001"}]})", ana, 400},
  };
  for (const Case& c : cases) {
    auto res = raw.Post(c.path, c.headers, c.body, "application/json");
    ASSERT_TRUE(res) << c.path << " " << c.body;
    EXPECT_EQ(c.status, res->status) << c.path << " " << c.body << " " << res->body;
  }
  EXPECT_EQ(4u, ListOpenGrids(*db_.storage()).size()) << "no refused call opened a grid";
  HttpClientOptions too_long;
  too_long.process = std::string(kMaxProcessLength + 1, 'p');
  EXPECT_THROW(HttpTransport("127.0.0.1", port, too_long), Error);
}

TEST_F(GridActivityTest, AGridIsReleasedByHandOnlyWhenOpen) {
  const std::string grid = Distribute("ANA");
  EXPECT_THROW(ReleaseGrid(*db_.storage(), "0001", "424242", "ADM"), Error);
  ReleaseGrid(*db_.storage(), "", grid, "ADM");
  EXPECT_EQ(std::vector<std::string>{"ADM|LiberaGrade|" + grid}, Journal(*db_.storage()));
  EXPECT_EQ("", Grids(*db_.storage()));
  try {
    ReleaseGrid(*db_.storage(), "0001", grid, "ADM");
    ADD_FAILURE() << "released a discarded grid";
  } catch (const Error& e) {
    EXPECT_EQ("Não há grade aberta " + grid + " na filial 0001.", std::string(e.what()));
  }
}

// The commands of exp-appserver, on the database a server uses.
TEST_F(GridActivityTest, ServerProgramListsAndReleasesOpenGrids) {
  const std::string grid = Distribute("ANA");
  auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), AppServerBinary());
    ChildProcess child(args);
    const int status = child.WaitForExit();
    return std::to_string(status) + " " + child.Output();
  };
  const std::string listed = run({"grids", "--db", db_.path()});
  EXPECT_EQ(0u, listed.find("0 branch")) << listed;
  EXPECT_NE(std::string::npos, listed.find("0001    000001      ANA")) << listed;
  EXPECT_NE(std::string::npos, listed.find("90.000")) << listed;

  EXPECT_EQ("0 released grid 000001\n",
            run({"release-grid", "--db", db_.path(), "--grid", "1", "--operator", "ADM"}));
  EXPECT_EQ("0 no open grids\n", run({"grids", "--db", db_.path()}));
  EXPECT_EQ("1 exp-appserver: Não há grade aberta 000001.\n",
            run({"release-grid", "--db", db_.path(), "--grid", "1"}));

  // Bad arguments are refused before any database is opened or made.
  const std::string missing = db_.path() + ".none";
  EXPECT_EQ("2 exp-appserver: there is no database " + missing + "\n",
            run({"grids", "--db", missing}));
  EXPECT_EQ("2 exp-appserver: --grid is required\n", run({"release-grid", "--db", db_.path()}));
  EXPECT_EQ("2 exp-appserver: unknown argument --bogus\n",
            run({"grids", "--db", db_.path(), "--bogus", "x"}));
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// What a caller without sign-in stored is listed without the terminal
// obeying it: no escape sequence, no row broken in two.
TEST_F(GridActivityTest, ListingsPrintStoredControlCharactersAsQuestionMarks) {
  Distribute("AN\x1b]0;x\x07\x1b[2J\nB\xc2\x9b");
  for (const char* command : {"grids", "journal"}) {
    ChildProcess child({AppServerBinary(), command, "--db", db_.path()});
    EXPECT_EQ(child.WaitForExit(), 0);
    const std::string listed = child.Output();
    EXPECT_EQ(listed.find('\x1b'), std::string::npos) << command;
    EXPECT_EQ(listed.find("\xc2\x9b"), std::string::npos) << command;
    EXPECT_NE(listed.find("AN?]0;x??[2J?B?"), std::string::npos) << command << ": " << listed;
    EXPECT_EQ(listed.find("\nB"), std::string::npos) << command << ": " << listed;
  }
  EXPECT_EQ(Printable("Ação 1"), "Ação 1");
}

}  // namespace
}  // namespace dg::server
