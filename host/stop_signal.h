// A desktop stopped by the system (SIGTERM when the machine shuts down or
// the session closes, SIGHUP when its terminal goes, SIGINT) would leave its
// open grid held on the server, the vehicles' room with it, until the next
// launch on that machine. StopOnSignals catches those signals on a thread of
// its own; the work registered then runs (the grid given back) and the
// program ends with 128 + the signal, as it would have by the signal.
#pragma once

#include <functional>

namespace dg::host {

// Call first thing in main, before any thread starts: the signals are
// blocked in this thread and in every thread started from it after, and
// taken by the stopping thread alone. A program the desktop would start
// inherits them blocked: it must unblock them before it runs (the desktop
// starts none today).
void StopOnSignals();

// What runs on such a signal before the program ends: a stopping work,
// set for the scope of this object (the one set before comes back after).
// The work runs on the stopping thread while the rest of the program goes
// on; what it throws is dropped. Without StopOnSignals it never runs.
class StopWork {
 public:
  explicit StopWork(std::function<void()> work);
  ~StopWork();
  StopWork(const StopWork&) = delete;
  StopWork& operator=(const StopWork&) = delete;

 private:
  std::function<void()> before_;
};

}  // namespace dg::host
