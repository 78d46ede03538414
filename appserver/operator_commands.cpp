#include "appserver/operator_commands.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iomanip>
#include <map>

#include "appserver/data_commands.h"
#include "appserver/grid_activity.h"
#include "appserver/journal.h"
#include "appserver/operators.h"

namespace dg::server {
namespace {

// Reads one line from `fd`, at most 4 KiB; "" at once at its end.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < 4096) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error("cannot read the password: " + std::string(std::strerror(errno)));
    if (n == 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The terminal with its echo off for as long as this lives.
class QuietTerminal {
 public:
  QuietTerminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0) {
      throw Error("there is no terminal to ask the password on (give it with --password-fd N)");
    }
    if (::tcgetattr(fd_, &saved_) == 0) {
      termios quiet = saved_;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      quiet.c_lflag |= ECHONL;
      restore_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
  }
  ~QuietTerminal() {
    if (restore_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    ::close(fd_);
  }
  QuietTerminal(const QuietTerminal&) = delete;
  QuietTerminal& operator=(const QuietTerminal&) = delete;

  std::string Ask(const std::string& prompt) {
    if (::write(fd_, prompt.data(), prompt.size()) < 0) throw Error("cannot write to the terminal");
    return ReadLine(fd_);
  }

 private:
  int fd_;
  termios saved_{};
  bool restore_ = false;
};

// The new password: from the descriptor, or typed twice on the terminal.
std::string NewPassword(const std::map<std::string, std::string>& options,
                        const std::string& code) {
  if (auto fd = options.find("--password-fd"); fd != options.end()) {
    const std::string& text = fd->second;
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      throw Error("--password-fd needs a file descriptor number");
    }
    return ReadPasswordFromFd(std::stoi(text));
  }
  QuietTerminal terminal;
  const std::string first = terminal.Ask("Senha de " + code + ": ");
  CheckNewPassword(first);
  if (terminal.Ask("Repita a senha: ") != first) throw Error("the two passwords differ");
  return first;
}

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : ",") + w;
  return out;
}

int UserUsage(std::ostream& err, const std::string& why) {
  err << "exp-appserver user: " << why << "\n"
      << "usage: exp-appserver user add CODE --db DB --branches 0001,0002|* [--password-fd N]\n"
         "       exp-appserver user passwd CODE --db DB [--password-fd N]\n"
         "       exp-appserver user disable CODE --db DB\n"
         "       exp-appserver user list --db DB\n";
  return 2;
}

}  // namespace

std::string ReadPasswordFromFd(int fd) {
  if (::fcntl(fd, F_GETFD) < 0) {
    throw Error("the file descriptor " + std::to_string(fd) + " is not open");
  }
  return ReadLine(fd);
}

int UserCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return UserUsage(err, "add, passwd, disable or list?");
  const std::string action = args[0];
  const bool list = action == "list";
  if (!list && action != "add" && action != "passwd" && action != "disable") {
    return UserUsage(err, "unknown action " + action.substr(0, 40));
  }
  if (!list && (args.size() < 2 || args[1].rfind("--", 0) == 0)) {
    return UserUsage(err, action + " needs the operator's code");
  }
  const std::string code = list ? "" : args[1];
  std::vector<std::string> known = {"--db"};
  if (action == "add") known.push_back("--branches");
  if (action == "add" || action == "passwd") known.push_back("--password-fd");
  std::map<std::string, std::string> options;
  if (!ReadCommandOptions({args.begin() + (list ? 1 : 2), args.end()}, known, &options, err)) {
    return 2;
  }
  std::vector<std::string> branches;
  try {
    if (!list) CheckOperatorCode(code);
    if (action == "add") {
      if (options["--branches"].empty()) return UserUsage(err, "add needs --branches");
      branches = ParseBranchList(options["--branches"]);
    }
  } catch (const Error& e) {
    return UserUsage(err, e.what());
  }
  try {
    auto storage = OpenStorage(options["--db"]);
    if (list) {
      const std::vector<OperatorInfo> operators = ListOperators(*storage);
      if (operators.empty()) out << "no operators\n";
      for (const OperatorInfo& o : operators) {
        out << std::left << std::setw(20) << o.code << std::setw(10)
            << (o.active ? "active" : "disabled") << std::setw(24) << Joined(o.branches)
            << "password set " << o.password_changed << "\n";
      }
    } else if (action == "disable") {
      DisableOperator(*storage, code);
      out << "operator " << code << " disabled; its sessions ended\n";
    } else {
      const std::string password = NewPassword(options, code);
      if (action == "add") {
        AddOperator(*storage, code, password, branches);
        out << "operator " << code << " added for " << Joined(branches) << "\n";
      } else {
        SetOperatorPassword(*storage, code, password);
        out << "password of " << code << " changed; its sessions ended\n";
      }
    }
  } catch (const std::exception& e) {
    err << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

int JournalCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::map<std::string, std::string> options;
  if (!ReadCommandOptions(args, {"--db", "--grid", "--branch", "--operator", "--since", "--limit"},
                          &options, err)) {
    return 2;
  }
  JournalFilter filter;
  filter.grid = options["--grid"].empty() ? "" : GridNumber(options["--grid"]);
  filter.branch = options["--branch"];
  filter.operator_code = options["--operator"];
  if (!options["--since"].empty()) {
    filter.since = JournalDate(options["--since"]);
    if (filter.since.empty()) {
      err << "exp-appserver: --since needs a date YYYY-MM-DD (optionally THH:MM)\n";
      return 2;
    }
  }
  if (const std::string& limit = options["--limit"]; !limit.empty()) {
    if (limit.size() > 7 || limit.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(limit) < 1) {
      err << "exp-appserver: --limit needs a number from 1 up\n";
      return 2;
    }
    filter.limit = std::stoi(limit);
  }
  try {
    const std::vector<JournalRow> rows = ReadJournal(*OpenStorage(options["--db"]), filter);
    if (rows.empty()) out << "no journal rows\n";
    for (const JournalRow& r : rows) {
      out << Printable(r.when) << "  " << std::left << std::setw(14)
          << (r.operator_code.empty() ? "-" : Printable(r.operator_code)) << std::setw(22)
          << Printable(r.method) << std::setw(6) << (r.branch.empty() ? "-" : Printable(r.branch))
          << std::setw(8) << (r.grid.empty() ? "-" : Printable(r.grid)) << Printable(r.note)
          << "\n";
    }
  } catch (const std::exception& e) {
    err << "exp-appserver: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace dg::server
