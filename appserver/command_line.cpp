#include "appserver/command_line.h"

#include <algorithm>
#include <filesystem>

#include "data/sql_text.h"

namespace dg::server {
namespace {

bool IsVector(const CLI::Option* o) { return o->get_items_expected_max() > 1; }

std::string SynopsisOf(const CLI::App& app, const std::string& name) {
  std::string words, options, lists;
  for (const CLI::Option* o : app.get_options()) {
    if (o == app.get_help_ptr()) continue;
    if (o->get_positional()) {
      // A single word leads ("CODE"), a list ends ("FILE.csv...").
      const std::string word = o->get_name() + (IsVector(o) ? "..." : "");
      (IsVector(o) ? lists : words) += " " + (o->get_required() ? word : "[" + word + "]");
      continue;
    }
    std::string text = o->get_name();
    if (o->get_items_expected_max() > 0) text += " " + o->get_type_name();
    options += " " + (o->get_required() ? text : "[" + text + "]");
  }
  return name + words + options + lists;
}

// "usage: SYNOPSIS", wrapped before 80 columns between options (never
// inside brackets), each further line indented under the first option.
std::string UsageOf(const std::string& synopsis, const std::string& name) {
  std::vector<std::string> parts;
  int depth = 0;
  std::string part;
  for (char c : synopsis.substr(name.size() + (synopsis.size() > name.size() ? 1 : 0))) {
    if (c == ' ' && depth == 0) {
      parts.push_back(part);
      part.clear();
      continue;
    }
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    part += c;
  }
  if (!part.empty()) parts.push_back(part);
  const std::string lead = "usage: " + name;
  const std::string indent(lead.size(), ' ');
  std::string out = lead, line = lead;
  for (const std::string& p : parts) {
    if (line.size() + 1 + p.size() > 79 && line != lead && line != indent) {
      out += "\n" + indent;
      line = indent;
    }
    out += " " + p;
    line += " " + p;
  }
  return out + "\n";
}

// The help's usage line is the synopsis.
class HouseFormatter : public CLI::Formatter {
 public:
  explicit HouseFormatter(std::string name) : name_(std::move(name)) {}
  std::string make_usage(const CLI::App* app, std::string) const override {
    return UsageOf(SynopsisOf(*app, name_), name_);
  }

 private:
  std::string name_;
};

// "--db: 1 required TEXT missing": the option a value is missing after.
std::string MissingValueOption(const std::string& what) {
  const auto colon = what.find(": ");
  if (colon == std::string::npos || what.find(" required ", colon) == std::string::npos ||
      what.size() < 8 || what.compare(what.size() - 8, 8, " missing") != 0) {
    return "";
  }
  return what.substr(0, colon);
}

}  // namespace

CommandLine::CommandLine(const std::string& name, const std::string& description)
    : app_(description, name), refusal_prefix_(name) {
  app_.formatter(std::make_shared<HouseFormatter>(name));
  // Unknown words are collected and refused in the house's words below.
  app_.allow_extras();
  app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app_.get_help_ptr()->description("prints this help and ends");
}

CLI::Option* CommandLine::Value(const std::string& name, std::string* into,
                                const std::string& value_name, const std::string& help,
                                bool may_be_empty) {
  CLI::Option* o = app_.add_option(name, *into, help)->type_name(value_name);
  if (!into->empty()) o->default_str(*into);
  if (!may_be_empty) must_have_value_.push_back(o);
  return o;
}

CLI::Option* CommandLine::Flag(const std::string& name, bool* into, const std::string& help) {
  return app_.add_flag(name, *into, help);
}

CLI::Option* CommandLine::Words(const std::string& value_name, std::vector<std::string>* into,
                                const std::string& help, const std::string& missing) {
  // A word's name is its value's: the help shows no type beside it.
  return Require(app_.add_option(value_name, *into, help)
                     ->type_name("")
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
                 missing);
}

CLI::Option* CommandLine::Word(const std::string& value_name, std::string* into,
                               const std::string& help, const std::string& missing) {
  return Require(app_.add_option(value_name, *into, help)->type_name(""), missing);
}

CLI::Option* CommandLine::Require(CLI::Option* o, const std::string& missing) {
  if (!missing.empty()) {
    o->required();
    missing_words_.emplace_back(o, missing);
  }
  return o;
}

CommandLine::Outcome CommandLine::Read(const std::vector<std::string>& words) {
  // A flag takes no value ("--dry-run=yes"); the parser would say it in
  // its own words.
  for (const std::string& word : words) {
    if (word == "--") break;
    const auto equals = word.find('=');
    if (word.rfind("--", 0) != 0 || equals == std::string::npos) continue;
    const CLI::Option* o = app_.get_option_no_throw(word.substr(0, equals));
    if (o != nullptr && o->get_items_expected_max() == 0) {
      why_ = word.substr(0, equals) + " takes no value";
      return Outcome::kRefused;
    }
  }
  // The parser takes the words last first.
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return Outcome::kHelp;
  } catch (const CLI::CallForAllHelp&) {
    return Outcome::kHelp;
  } catch (const CLI::ParseError& e) {
    // A word nobody takes is named first, as it always was; then a value
    // missing after its option; anything else in the parser's words.
    if (const auto extra = app_.remaining(); !extra.empty()) {
      why_ = "unknown argument " + extra.front();
    } else if (const std::string option = MissingValueOption(e.what()); !option.empty()) {
      why_ = option + " needs a value";
    } else {
      why_ = e.what();
      for (const auto& [o, missing] : missing_words_) {
        if (o->count() == 0 && why_ == o->get_name() + " is required") why_ = missing;
      }
    }
    return Outcome::kRefused;
  }
  if (const auto extra = app_.remaining(); !extra.empty()) {
    why_ = "unknown argument " + extra.front();
    return Outcome::kRefused;
  }
  for (const CLI::Option* o : must_have_value_) {
    const auto& given = o->results();
    if (o->count() > 0 &&
        std::any_of(given.begin(), given.end(), [](const std::string& v) { return v.empty(); })) {
      why_ = o->get_name() + " needs a value";
      return Outcome::kRefused;
    }
  }
  return Outcome::kRun;
}

CommandLine::Outcome CommandLine::Read(int argc, const char* const* argv, int first) {
  return Read(std::vector<std::string>(argv + std::min(first, argc), argv + argc));
}

void CommandLine::RefuseAs(const std::string& prefix, bool with_usage) {
  refusal_prefix_ = prefix;
  usage_on_refusal_ = with_usage;
}

int CommandLine::Refuse(std::ostream& err, const std::string& why) const {
  err << refusal_prefix_ << ": " << why << "\n";
  if (usage_on_refusal_) err << Usage();
  return 2;
}

std::optional<int> CommandLine::ReadOrEnd(const std::vector<std::string>& words, std::ostream& out,
                                          std::ostream& err) {
  switch (Read(words)) {
    case Outcome::kHelp:
      out << Help();
      return 0;
    case Outcome::kRefused:
      return Refuse(err, why_);
    case Outcome::kRun:
      break;
  }
  return std::nullopt;
}

std::string CommandLine::Help() const { return app_.help(); }

std::string CommandLine::Usage() const { return UsageOf(Synopsis(), app_.get_name()); }

std::string CommandLine::Synopsis() const { return SynopsisOf(app_, app_.get_name()); }

void ExistingDatabaseOption(CommandLine& line, std::string* db) {
  line.Value("--db", db, "FILE|postgresql://...", "the database, which must exist", false)
      ->required();
  line.RefuseAs("exp-appserver", false);
}

bool CheckExistingDatabase(const std::string& db, std::ostream& err) {
  if (!data::IsPostgresUrl(db) && !std::filesystem::exists(db)) {
    err << "exp-appserver: there is no database " << db << "\n";
    return false;
  }
  return true;
}

}  // namespace dg::server
