// The journal of who did what (GRADELOG): one row per successful write, per
// call refused for a branch the operator may not touch, per sign-in and
// sign-out, and per failed sign-in.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

// One journal row. Intentionally copyable.
struct JournalRow {
  std::string when;  // YYYY-MM-DDTHH:MM:SS
  std::string operator_code, method, branch, grid;
  std::string note;  // empty for a write that was done; else what happened
};

// Which rows to read: every condition that is set must hold. Intentionally
// copyable.
struct JournalFilter {
  std::string grid;           // six-digit grid number; "" any
  std::string branch;         // "" any
  std::string operator_code;  // "" any
  std::string since;          // rows at or after this YYYY-MM-DD[THH:MM:SS]; "" any
  // Only rows of these branches (rows of no branch, such as sign-ins, are
  // left out); nullopt: every branch.
  std::optional<std::vector<std::string>> only_branches;
  int limit = 10000;  // the newest rows when more match
};

// Adds a row stamped now, inside the caller's transaction.
void AppendJournal(Session& s, const std::string& operator_code, const std::string& method,
                   const std::string& branch, const std::string& grid,
                   const std::string& note = "");

// Adds a row stamped now in a transaction of its own.
void AppendJournal(Storage& storage, const std::string& operator_code, const std::string& method,
                   const std::string& branch, const std::string& grid, const std::string& note);

// Journals refusals without letting a caller flood the journal: the first
// `per_minute` refusals of one key (an operator's refused calls, an
// address's refused sign-ins) in a minute of the clock are journaled one by
// one; the rest of that minute are counted, and the count is added to the
// key's next row ("e mais N recusas iguais antes desta, não registradas uma
// a uma"). Counts live in the process. Thread-safe. Not copyable.
class RefusalJournal {
 public:
  // `clock`: seconds since the epoch (tests move it); the system clock when
  // empty.
  explicit RefusalJournal(int per_minute = 30, std::function<std::int64_t()> clock = {});
  RefusalJournal(const RefusalJournal&) = delete;
  RefusalJournal& operator=(const RefusalJournal&) = delete;

  // Journals the refusal in a transaction of its own, or counts it.
  void Append(Storage& storage, const std::string& key, const std::string& operator_code,
              const std::string& method, const std::string& branch, const std::string& grid,
              const std::string& note);

 private:
  struct Count {
    std::int64_t minute = 0;
    int written = 0;        // rows of this minute
    std::int64_t held = 0;  // refusals not journaled since the key's last row
  };
  const int per_minute_;
  const std::function<std::int64_t()> clock_;
  std::mutex mu_;
  std::map<std::string, Count> counts_;  // GUARDED_BY(mu_)
};

// The rows the filter lets through, oldest first.
std::vector<JournalRow> ReadJournal(Storage& storage, const JournalFilter& filter);
// The same inside the caller's transaction.
std::vector<JournalRow> ReadJournal(Session& s, const JournalFilter& filter);

// Deletes the rows older than `days` days; answers how many went.
// REQUIRES: days > 0.
int PurgeJournal(Storage& storage, int days);

// Deletes journal rows older than `days` days at once and then every hour,
// on a thread of its own, until it goes away; `report` gets a line for
// each purge that removed rows, and for a failure. Not copyable.
class JournalPruner {
 public:
  JournalPruner(std::shared_ptr<Storage> storage, int days,
                std::function<void(const std::string&)> report);
  JournalPruner(const JournalPruner&) = delete;
  JournalPruner& operator=(const JournalPruner&) = delete;
  ~JournalPruner();

 private:
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;  // GUARDED_BY(mu_)
  std::thread thread_;
};

// A stored text as the administrator's listings print it: control
// characters, which a caller without sign-in may have stored (as an
// operator code), become '?', so that no row moves the terminal's cursor,
// retitles its window or breaks into two lines.
std::string Printable(const std::string& text);

// Whether a text is a date YYYY-MM-DD, optionally with THH:MM[:SS] (or a
// blank instead of the T); answers it in the journal's form, "" when it is
// not one.
std::string JournalDate(const std::string& text);

}  // namespace dg::server
