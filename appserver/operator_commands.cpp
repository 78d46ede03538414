#include "appserver/operator_commands.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <iterator>
#include <optional>

#include "appserver/command_line.h"
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

// The new password: from the descriptor --password-fd names (`fd`, when
// given), or typed twice on the terminal.
std::string NewPassword(const std::optional<std::string>& fd, const std::string& code) {
  if (fd) {
    const std::string& text = *fd;
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

constexpr const char* kUserActions[] = {"add", "passwd", "disable", "list"};

// The words of one action of `user`, defined once for parsing, --help and
// the usage lines.
struct UserLine {
  std::string code, db, branches, password_fd;
  CLI::Option* fd_option = nullptr;
  CommandLine line;
  explicit UserLine(const std::string& action)
      : line("exp-appserver user " + action, action == "add"      ? "Adds an operator."
                                             : action == "passwd" ? "Sets an operator's password; "
                                                                    "its sessions end."
                                             : action == "disable"
                                                 ? "Disables an operator; its sessions end."
                                                 : "Lists the operators.") {
    if (action != "list") {
      line.Word("CODE", &code, "the operator: 1 to 40 letters, digits, '.', '_' or '-'",
                action + " needs the operator's code");
    }
    ExistingDatabaseOption(line, &db);
    line.RefuseAs("exp-appserver user", true);
    if (action == "add") {
      line.Value("--branches", &branches, "0001,0002|*",
                 "the branches the operator works on (*: every branch)");
    }
    if (action == "add" || action == "passwd") {
      fd_option = line.Value("--password-fd", &password_fd, "N",
                             "reads the password as the first line of file descriptor N "
                             "(else it is asked twice on the terminal)");
    }
  }
};

int UserUsage(std::ostream& err, const std::string& why) {
  if (!why.empty()) err << "exp-appserver user: " << why << "\n";
  bool first = true;
  for (const char* action : kUserActions) {
    // One usage line under the other.
    std::string usage = UserLine(action).line.Usage();
    if (!first) usage.replace(0, 6, 6, ' ');
    err << usage;
    first = false;
  }
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
  if (action == "--help" || action == "-h") {
    UserUsage(out, "");
    out << "exp-appserver user ACTION --help: what the action takes\n";
    return 0;
  }
  const bool list = action == "list";
  if (std::find(std::begin(kUserActions), std::end(kUserActions), action) ==
      std::end(kUserActions)) {
    return UserUsage(err, "unknown action " + action.substr(0, 40));
  }
  UserLine a(action);
  if (const auto status = a.line.ReadOrEnd({args.begin() + 1, args.end()}, out, err)) {
    return *status;
  }
  const std::string& code = a.code;
  if (!list && code.empty()) return UserUsage(err, action + " needs the operator's code");
  if (!CheckExistingDatabase(a.db, err)) return 2;
  std::vector<std::string> branches;
  try {
    if (!list) CheckOperatorCode(code);
    if (action == "add") {
      if (a.branches.empty()) return UserUsage(err, "add needs --branches");
      branches = ParseBranchList(a.branches);
    }
  } catch (const Error& e) {
    return UserUsage(err, e.what());
  }
  try {
    auto storage = OpenStorage(a.db);
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
      const std::string password =
          NewPassword(a.fd_option->count() > 0 ? std::optional(a.password_fd) : std::nullopt, code);
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
  std::string db, grid, branch, operator_code, since, limit;
  CommandLine line("exp-appserver journal",
                   "Prints the journal, oldest first: when, operator, method, branch, grid, "
                   "and what happened for a refusal or a sign-in.");
  ExistingDatabaseOption(line, &db);
  line.Value("--grid", &grid, "N", "only this grid's rows");
  line.Value("--branch", &branch, "CODE", "only this branch's rows");
  line.Value("--operator", &operator_code, "CODE", "only this operator's rows");
  line.Value("--since", &since, "YYYY-MM-DD[THH:MM]", "only rows from then on");
  line.Value("--limit", &limit, "N", "at most N rows, the newest when more match");
  if (const auto status = line.ReadOrEnd(args, out, err)) return *status;
  if (!CheckExistingDatabase(db, err)) return 2;
  JournalFilter filter;
  filter.grid = grid.empty() ? "" : GridNumber(grid);
  filter.branch = branch;
  filter.operator_code = operator_code;
  if (!since.empty()) {
    filter.since = JournalDate(since);
    if (filter.since.empty()) {
      err << "exp-appserver: --since needs a date YYYY-MM-DD (optionally THH:MM)\n";
      return 2;
    }
  }
  if (!limit.empty()) {
    if (limit.size() > 7 || limit.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(limit) < 1) {
      err << "exp-appserver: --limit needs a number from 1 up\n";
      return 2;
    }
    filter.limit = std::stoi(limit);
  }
  try {
    const std::vector<JournalRow> rows = ReadJournal(*OpenStorage(db), filter);
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
