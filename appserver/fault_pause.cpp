#include "appserver/fault_pause.h"

#include <cstdlib>
#include <iostream>
#include <thread>

namespace dg::server {
namespace {

thread_local std::string current_method;

// Storage that pauses the transactions of chosen methods (EXP_FAULT_PAUSE).
class Pausing : public Storage {
 public:
  Pausing(std::shared_ptr<Storage> inner, std::vector<FaultPause> pauses)
      : inner_(std::move(inner)), pauses_(std::move(pauses)) {}
  void Transact(TxKind kind, const std::function<void(Session&)>& work) override {
    // A method's own reads before its write (DistribuiQuantidades reads the
    // places first) are not the moment the hook names.
    const bool writes = Writes(kind);
    inner_->Transact(kind, [&](Session& s) {
      work(s);
      if (writes) Pause(false);
    });
    if (writes) Pause(true);
  }

 private:
  void Pause(bool after_commit) const {
    for (const FaultPause& p : pauses_) {
      if (p.method == current_method && p.after_commit == after_commit) {
        std::cout << "pausing " << p.method << (after_commit ? " after-commit" : " after-write")
                  << std::endl;
        std::this_thread::sleep_for(p.pause);
      }
    }
  }
  std::shared_ptr<Storage> inner_;
  std::vector<FaultPause> pauses_;
};

}  // namespace

std::vector<FaultPause> ParseFaultPauses(const std::string& text) {
  std::vector<FaultPause> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const auto c1 = item.find(':'), c2 = item.rfind(':');
    if (c1 == std::string::npos || c1 == c2) throw Error("EXP_FAULT_PAUSE: bad item " + item);
    const std::string phase = item.substr(c1 + 1, c2 - c1 - 1);
    if (phase != "after-write" && phase != "after-commit") {
      throw Error("EXP_FAULT_PAUSE: unknown phase " + phase);
    }
    FaultPause p{item.substr(0, c1), phase == "after-commit",
                 std::chrono::milliseconds(std::atol(item.c_str() + c2 + 1))};
    out.push_back(p);
    start = end + 1;
  }
  return out;
}

std::shared_ptr<Storage> PausingStorage(std::shared_ptr<Storage> inner,
                                        std::vector<FaultPause> pauses) {
  return std::make_shared<Pausing>(std::move(inner), std::move(pauses));
}

void FaultPauseMethod(const std::string& method) { current_method = method; }

}  // namespace dg::server
