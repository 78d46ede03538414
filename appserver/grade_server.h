// The application-server object of the distribution grid.
//
// Every method the screen, the map module and the host call, dispatched by
// name with positional variant arguments. A method checks its argument count
// and kinds, runs in one storage transaction and answers a non-null result:
// a data packet, for DistribuiQuantidades a variant array (bounds 0..1) of
// two packets, for PrxNrGrade a text, and `true` where the caller reads
// nothing. By-reference arguments are rewritten in place in `args`.
//
// Failures are dg::Error whose text reaches the caller unchanged; a text that
// starts with "@" names a message key of the screen ("@QT_EXCEDE").
//
// Every successful write method also leaves one row in the journal GRADELOG
// (when, operator, method, branch, grid) in its own transaction. The
// operator is the method's own operator argument when it has one and it is
// not empty, otherwise the caller's from the CallContext, otherwise "";
// for a signed-in caller always the session's. A call refused for a branch
// leaves a row with the refusal's text instead.
//
// Refusals are journaled through a RefusalJournal (journal.h), keyed by
// operator, so that a caller's refused calls cannot flood the journal.
//
// Thread-safe: the object holds no state besides its storage and the
// refusal counts, so several transports may call it at once. Not copyable.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appserver/journal.h"
#include "appserver/storage.h"
#include "data/variant.h"

namespace dg::server {

inline constexpr const char* kServerName = "Exp03200.rdmGradeDistribuicao";

// Who makes a call, as the transport knows it, beside the call's arguments.
// Intentionally copyable.
struct CallContext {
  std::string operator_code;  // "" when unknown
  // Set for an operator who signed in: the branches the operator may work
  // on ("*" every one). The operator is then the session's, whatever the
  // caller names in the arguments, and a call that names another branch is
  // refused before it reads or writes anything.
  std::optional<std::vector<std::string>> branches;
  // The live process that holds the caller's work (ThisProcessMark), given
  // by the in-process server of a desktop host; "" for every other caller.
  // A grid keeps the process of its last write (grid_activity.h).
  std::string process;
};

class rdmGradeDistribuicao {
 public:
  explicit rdmGradeDistribuicao(std::shared_ptr<Storage> storage,
                                std::shared_ptr<RefusalJournal> refusals = nullptr);
  rdmGradeDistribuicao(const rdmGradeDistribuicao&) = delete;
  rdmGradeDistribuicao& operator=(const rdmGradeDistribuicao&) = delete;

  // Runs `method`. Throws dg::Error for an unknown method ("unknown method
  // X"), a wrong argument count ("GetVeiculo: expected 6 arguments, got 5"),
  // a wrong argument kind, or a failure of the method itself.
  data::Variant Call(const std::string& method, std::vector<data::Variant>& args,
                     const CallContext& context = {});

  // Names of every method, sorted.
  static std::vector<std::string> MethodNames();

  Storage& storage() const { return *storage_; }

 private:
  std::shared_ptr<Storage> storage_;
  std::shared_ptr<RefusalJournal> refusals_;
};

}  // namespace dg::server
