// One way to read a command line. Each program and subcommand defines its
// options once on a CommandLine; the same definitions parse the words,
// write --help and the usage line. A refusal is worded as the commands have
// always worded it ("unknown argument --x", "--db needs a value", "--db is
// required"), never in the parser's own words, so that scripts and the
// documentation keep reading the same texts.
//
//   std::string db;
//   bool dry_run = false;
//   CommandLine line("exp-appserver import", "Reads a distributor's CSV files.");
//   line.Value("--db", &db, "FILE", "the database")->required();
//   line.Flag("--dry-run", &dry_run, "checks, stores nothing");
//   switch (line.Read(words)) { ... }
//
// Values are kept as text: each command checks its numbers with its own
// message. An option given twice takes its last value.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

namespace dg::server {

class CommandLine {
 public:
  enum class Outcome { kRun, kHelp, kRefused };

  // `name` as the user types it ("exp-appserver import").
  CommandLine(const std::string& name, const std::string& description);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // "--name VALUE_NAME"; a default already in `*into` is shown by --help.
  // `may_be_empty` false refuses an empty value ("--db needs a value").
  CLI::Option* Value(const std::string& name, std::string* into, const std::string& value_name,
                     const std::string& help, bool may_be_empty = true);
  CLI::Option* Flag(const std::string& name, bool* into, const std::string& help);
  // Words that are no option's ("FILE.csv..."), in the order given. When
  // `missing` is given at least one is required, refused with that text.
  CLI::Option* Words(const std::string& value_name, std::vector<std::string>* into,
                     const std::string& help, const std::string& missing = "");
  // A single word that is no option's ("CODE"); `missing` as for Words.
  CLI::Option* Word(const std::string& value_name, std::string* into, const std::string& help,
                    const std::string& missing = "");

  // The definitions, for what the calls above do not say (a footer, say).
  CLI::App& app() { return app_; }
  // As the user types it ("exp-appserver import").
  const std::string& name() const { return app_.get_name(); }

  // Reads the words after the program's or subcommand's name. kHelp when
  // --help (or -h) is among them; kRefused with why() for anything else
  // the definitions do not take. Read once.
  Outcome Read(const std::vector<std::string>& words);
  // Reads argv[first..argc).
  Outcome Read(int argc, const char* const* argv, int first = 1);
  const std::string& why() const { return why_; }

  // How a refusal reads: "PREFIX: WHY", then the usage line when
  // `with_usage`. By default the prefix is the name, with the usage line.
  void RefuseAs(const std::string& prefix, bool with_usage);
  // Writes the refusal on `err`; answers its exit status, 2.
  int Refuse(std::ostream& err, const std::string& why) const;
  // Read, then what a command does when it does not run: --help written
  // on `out` (status 0), or the refusal (status 2). nullopt: run.
  std::optional<int> ReadOrEnd(const std::vector<std::string>& words, std::ostream& out,
                               std::ostream& err);

  // The full help: description, usage line, every option with its help and
  // default, then the footer.
  std::string Help() const;
  // "NAME --db FILE [--dry-run] FILE.csv...": required options bare,
  // others in brackets, the words last.
  std::string Synopsis() const;
  // "usage: " and the synopsis, wrapped before 80 columns.
  std::string Usage() const;

 private:
  CLI::App app_;
  std::vector<const CLI::Option*> must_have_value_;
  std::vector<std::pair<const CLI::Option*, std::string>> missing_words_;
  // Required, refused with `missing` when absent.
  CLI::Option* Require(CLI::Option* o, const std::string& missing);

  std::string why_;
  std::string refusal_prefix_;
  bool usage_on_refusal_ = true;
};

// The --db option of a command that works on an existing database (grids,
// release-grid, user, journal): required, refused as "exp-appserver: WHY"
// without the usage line.
void ExistingDatabaseOption(CommandLine& line, std::string* db);
// False, saying so on `err`, when `db` is no PostgreSQL address and no file
// is there: these commands never create a database.
bool CheckExistingDatabase(const std::string& db, std::ostream& err);

}  // namespace dg::server
