// The one command-line reader every program and command uses: what it
// accepts, and that a refusal reads in the house's words.
#include "appserver/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "appserver/data_commands.h"
#include "appserver/grid_activity.h"
#include "appserver/operator_commands.h"

namespace dg::server {
namespace {

struct Example {
  std::string db, limit = "30";
  bool dry_run = false;
  std::vector<std::string> files;
  CommandLine line{"exp-test run", "Runs a test."};
  Example() {
    line.Value("--db", &db, "FILE", "the database", false)->required();
    line.Value("--limit", &limit, "N", "at most N");
    line.Flag("--dry-run", &dry_run, "stores nothing");
    line.Words("FILE.csv", &files, "the files", "name a file");
  }
};

std::string Refusal(const std::vector<std::string>& words) {
  Example e;
  if (e.line.Read(words) != CommandLine::Outcome::kRefused) return "accepted";
  return e.line.why();
}

TEST(CommandLine, ReadsOptionsFlagsAndWordsInAnyOrder) {
  Example e;
  ASSERT_EQ(e.line.Read({"a.csv", "--db", "x.db", "--dry-run", "b.csv", "--limit=5"}),
            CommandLine::Outcome::kRun);
  EXPECT_EQ(e.db, "x.db");
  EXPECT_EQ(e.limit, "5");
  EXPECT_TRUE(e.dry_run);
  EXPECT_EQ(e.files, (std::vector<std::string>{"a.csv", "b.csv"}));

  // Given twice, the last value holds; a value may begin with a dash (a
  // negative number is refused by the command with its own message).
  Example twice;
  ASSERT_EQ(twice.line.Read({"--db", "a.db", "--db", "b.db", "--limit", "-1", "c.csv"}),
            CommandLine::Outcome::kRun);
  EXPECT_EQ(twice.db, "b.db");
  EXPECT_EQ(twice.limit, "-1");
  EXPECT_EQ(twice.files, std::vector<std::string>{"c.csv"});
}

TEST(CommandLine, RefusesInTheHouseWords) {
  EXPECT_EQ(Refusal({"--db", "x.db", "--bogus"}), "unknown argument --bogus");
  EXPECT_EQ(Refusal({"--db", "x.db", "-x"}), "unknown argument -x");
  // An unknown option is named before anything missing.
  EXPECT_EQ(Refusal({"--bogus", "1"}), "unknown argument --bogus");
  EXPECT_EQ(Refusal({"--db"}), "--db needs a value");
  EXPECT_EQ(Refusal({"a.csv", "--db", "x.db", "--limit"}), "--limit needs a value");
  EXPECT_EQ(Refusal({"a.csv", "--db", ""}), "--db needs a value");
  EXPECT_EQ(Refusal({"a.csv"}), "--db is required");
  EXPECT_EQ(Refusal({"--db", "x.db"}), "name a file");
  EXPECT_EQ(Refusal({"--db", "x.db", "--dry-run=maybe"}), "--dry-run takes no value");
}

TEST(CommandLine, HelpAndUsageComeFromTheDefinitions) {
  Example e;
  EXPECT_EQ(e.line.Synopsis(), "exp-test run --db FILE [--limit N] [--dry-run] FILE.csv...");
  e.line.app().get_option("FILE.csv")->required(false);
  EXPECT_EQ(e.line.Synopsis(), "exp-test run --db FILE [--limit N] [--dry-run] [FILE.csv...]");
  std::ostringstream out, err;
  EXPECT_EQ(e.line.ReadOrEnd({"--help"}, out, err), 0);
  EXPECT_EQ(err.str(), "");
  const std::string help = out.str();
  for (const char* part : {"Runs a test.", "usage: exp-test run --db FILE", "--limit N",
                           "at most N", "30", "--dry-run", "stores nothing", "-h,--help"}) {
    EXPECT_NE(help.find(part), std::string::npos) << part << " in\n" << help;
  }

  Example refused;
  std::ostringstream out2, err2;
  EXPECT_EQ(refused.line.ReadOrEnd({"--db"}, out2, err2), 2);
  EXPECT_EQ(out2.str(), "");
  EXPECT_EQ(err2.str(),
            "exp-test run: --db needs a value\n"
            "usage: exp-test run --db FILE [--limit N] [--dry-run] FILE.csv...\n");

  Example plain;
  plain.line.RefuseAs("exp-test", false);
  std::ostringstream out3, err3;
  EXPECT_FALSE(plain.line.ReadOrEnd({"--db", "x.db", "a.csv"}, out3, err3).has_value());
  EXPECT_EQ(plain.line.Refuse(err3, "no such grid"), 2);
  EXPECT_EQ(err3.str(), "exp-test: no such grid\n");
}

// Each command's --help names every option its manual documents, and ends
// with status 0 before any database is looked for; a word it does not take
// is refused with status 2 in the same words everywhere.
TEST(CommandLine, EveryCommandHelpsAndRefusesAlike) {
  using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
  const struct {
    Command run;
    std::vector<std::string> words;  // before --help
    std::vector<std::string> options;
  } commands[] = {
      {ImportCommand, {}, {"--db", "--dry-run", "--accept-large-changes", "FILE.csv"}},
      {ExportCommand, {}, {"--db", "--grid", "--items", "--branch", "--out"}},
      {GridsCommand, {}, {"--db"}},
      {ReleaseGridCommand, {}, {"--db", "--grid", "--branch", "--operator"}},
      {UserCommand, {"add"}, {"CODE", "--db", "--branches", "--password-fd"}},
      {UserCommand, {"passwd"}, {"CODE", "--db", "--password-fd"}},
      {UserCommand, {"disable"}, {"CODE", "--db"}},
      {UserCommand, {"list"}, {"--db"}},
      {UserCommand,
       {},
       {"user add CODE --db", "user passwd CODE", "user disable", "user list --db"}},
      {JournalCommand, {}, {"--db", "--grid", "--branch", "--operator", "--since", "--limit"}},
  };
  for (const auto& c : commands) {
    std::vector<std::string> words = c.words;
    words.push_back("--help");
    std::ostringstream out, err;
    EXPECT_EQ(c.run(words, out, err), 0) << err.str();
    for (const std::string& option : c.options) {
      EXPECT_NE(out.str().find(option), std::string::npos) << option << " in\n" << out.str();
    }
    if (c.words.empty() && c.run == UserCommand) continue;
    words.back() = "--bogus";
    std::ostringstream out2, err2;
    EXPECT_EQ(c.run(words, out2, err2), 2);
    EXPECT_NE(err2.str().find(": unknown argument --bogus\n"), std::string::npos) << err2.str();
  }
  // A word a command cannot do without is refused in the command's words.
  std::ostringstream out, err;
  EXPECT_EQ(ImportCommand({"--db", "x.db"}, out, err), 2);
  EXPECT_EQ(err.str().rfind("exp-appserver import: name at least one CSV file\n", 0), 0u)
      << err.str();
  err.str("");
  EXPECT_EQ(UserCommand({"passwd", "--db", "x.db"}, out, err), 2);
  EXPECT_EQ(err.str(),
            "exp-appserver user: passwd needs the operator's code\n"
            "usage: exp-appserver user passwd CODE --db FILE|postgresql://...\n"
            "                                 [--password-fd N]\n");
}

}  // namespace
}  // namespace dg::server
