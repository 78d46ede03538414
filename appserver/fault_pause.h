// The test hook of exp-appserver: EXP_FAULT_PAUSE="METHOD:PHASE:MS[,...]"
// pauses the write transaction of every call of METHOD for MS milliseconds,
// PHASE "after-write" (its writes done, not yet committed) or
// "after-commit" (committed, not yet answered), printing "pausing METHOD
// PHASE" first, so that a test can stop the process at that moment.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

struct FaultPause {
  std::string method;
  bool after_commit = false;
  std::chrono::milliseconds pause{0};
};

// The items of EXP_FAULT_PAUSE; throws Error for an item it cannot read.
std::vector<FaultPause> ParseFaultPauses(const std::string& text);

// `inner` with the pauses; the method a transaction belongs to is the one
// FaultPauseMethod last named on the same thread (the server's on_call).
std::shared_ptr<Storage> PausingStorage(std::shared_ptr<Storage> inner,
                                        std::vector<FaultPause> pauses);
void FaultPauseMethod(const std::string& method);

}  // namespace dg::server
