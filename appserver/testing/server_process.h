// Test support: exp-appserver as a child process on a loopback port, to be
// killed, restarted and called over HTTP like a real server.
//
// Not copyable. The process is killed (SIGKILL) when the object goes away.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace dg::server::testing {

// exp-appserver of the same build: it lands beside the test binaries.
inline std::string AppServerBinary() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "exp-appserver").string();
}

// A child process whose standard output and error come through one pipe.
class ChildProcess {
 public:
  // Starts `argv` with the current environment plus `env` (a value of
  // nullopt removes the variable). Throws std::runtime_error when it cannot.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::optional<std::string>>& env = {}) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env.count(entry.substr(0, entry.find('=')))) env_text.push_back(entry);
    }
    for (const auto& [name, value] : env) {
      if (value) env_text.push_back(name + "=" + *value);
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env_text) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child dies with the test, even when the test is killed.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(fds[1], 1);
      ::dup2(fds[1], 2);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    const int rc = pid_ > 0 ? 0 : -1;
    ::close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
      ::close(out_);
      throw std::runtime_error("cannot start " + argv[0]);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    Kill();
    ::close(out_);
  }

  // Reads output lines until one starts with `prefix` and returns it; none
  // when the output ends first (the process died) or nothing comes for
  // `quiet_ms` (a guard against a stuck child, not a measurement).
  std::optional<std::string> WaitForLine(const std::string& prefix, int quiet_ms = 60000) {
    for (;;) {
      const auto eol = buffer_.find('\n');
      if (eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        seen_ += line + "\n";
        if (line.rfind(prefix, 0) == 0) return line;
        continue;
      }
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, quiet_ms) <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) {
        if (!buffer_.empty()) seen_ += buffer_;
        buffer_.clear();
        ended_ = true;
        return std::nullopt;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Reads everything the process writes until it exits; its exit status (or
  // 128 + signal). A process that goes quiet without exiting is killed.
  int WaitForExit() {
    WaitForLine("\x01 never printed");
    if (!ended_ && pid_ > 0) ::kill(pid_, SIGKILL);
    return Reap();
  }
  // Every line read so far.
  const std::string& Output() const { return seen_; }
  // What a test prints when it fails while the child still runs: what the
  // child wrote up to now (waiting `quiet_ms` for more) and, per thread, its
  // state and the kernel function it sleeps in, which tells a call stuck on a
  // lock or a socket from one that is working.
  std::string Describe(int quiet_ms = 200) {
    WaitForLine("\x01 never printed", quiet_ms);
    std::string text = "output:\n" + seen_ + buffer_;
    if (pid_ <= 0) return text + "(the process has been reaped)\n";
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    std::error_code error;
    text += "threads (id, state, waiting in):\n";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      auto read = [&](const char* name) {
        std::ifstream in(task.path() / name);
        std::string content;
        std::getline(in, content);
        return content;
      };
      const std::string stat = read("stat");
      const auto close = stat.rfind(')');
      const char state =
          close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
      text += "  " + task.path().filename().string() + " " + state + " " + read("wchan") + "\n";
    }
    return text;
  }
  pid_t pid() const { return pid_; }

  void Signal(int signal_number) {
    if (pid_ > 0) ::kill(pid_, signal_number);
  }
  // Stops the child and returns once it has stopped (a stop signal alone is
  // delivered asynchronously, so a request sent right after it may still be
  // answered).
  void Freeze() {
    if (pid_ <= 0 || ended_) return;
    ::kill(pid_, SIGSTOP);
    int status = 0;
    ::waitpid(pid_, &status, WUNTRACED);
  }
  // SIGKILL and reap; idempotent.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap();
  }

 private:
  int Reap() {
    if (pid_ <= 0) return status_;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  bool ended_ = false;  // the output reached its end
  std::string buffer_, seen_;
};

// exp-appserver serving `db` on 127.0.0.1 (port 0: a free one).
class ServerProcess {
 public:
  ServerProcess(const std::string& db, int port,
                const std::map<std::string, std::optional<std::string>>& env = {},
                std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {AppServerBinary(), "--db", db, "--listen",
                                     "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::map<std::string, std::optional<std::string>> all = {{"EXP_FAULT_PAUSE", std::nullopt},
                                                             {"EXP_SERVER_SECRET", std::nullopt}};
    for (const auto& [k, v] : env) all[k] = v;
    child_ = std::make_unique<ChildProcess>(argv, all);
    const auto line = child_->WaitForLine("listening on ");
    if (!line) throw std::runtime_error("exp-appserver did not start:\n" + child_->Output());
    port_ = std::stoi(line->substr(line->rfind(':') + 1));
  }
  int port() const { return port_; }
  ChildProcess& child() { return *child_; }

 private:
  std::unique_ptr<ChildProcess> child_;
  int port_ = 0;
};

}  // namespace dg::server::testing
