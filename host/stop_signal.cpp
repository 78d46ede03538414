#include "host/stop_signal.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace dg::host {
namespace {

// Never destroyed: the stopping thread may read them while the program
// ends.
std::mutex& WorkLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::function<void()>& Work() {
  static auto* work = new std::function<void()>;
  return *work;
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void StopOnSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
      int signal = 0;
      while (sigwait(&set, &signal) != 0) {
      }
      std::function<void()> work;
      {
        std::lock_guard lock(WorkLock());
        work = Work();
      }
      if (work) {
        try {
          work();
        } catch (...) {
          // The program ends all the same.
        }
      }
      std::_Exit(128 + signal);
    }).detach();
  });
}

StopWork::StopWork(std::function<void()> work) {
  std::lock_guard lock(WorkLock());
  before_ = std::exchange(Work(), std::move(work));
}

StopWork::~StopWork() {
  std::lock_guard lock(WorkLock());
  Work() = std::move(before_);
}

}  // namespace dg::host
