// The client dataset's change log (internal to data/): what happened to
// each stored row since the contents were loaded or the log last merged,
// in the order it happened, with the values a changed row had before.
//
// Rows are the dataset's row ids. The log never reads the cells itself: the
// caller hands over a row's values when the log needs them. Not copyable.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "data/variant.h"

namespace dg::data {

enum class RowStatus : std::uint8_t {
  Unchanged,
  Inserted,  // added locally
  Modified,
  Deleted,  // still stored: the delta carries it, the views skip it
  Dead,     // gone for good: an inserted row deleted, or a change undone
};

class ChangeLog {
 public:
  ChangeLog() = default;
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // `rows` unchanged rows and an empty log.
  void Reset(std::size_t rows);
  int RowCount() const { return static_cast<int>(status_.size()); }
  RowStatus Status(int row) const { return status_[row]; }
  // Logged as inserted, modified or deleted.
  static bool Logged(RowStatus s) {
    return s == RowStatus::Inserted || s == RowStatus::Modified || s == RowStatus::Deleted;
  }
  int Count() const;
  // The logged rows in the order of their first change.
  std::vector<int> Changes() const;

  // A row inserted locally; returns its id (the next row id).
  int AddInserted();
  // Whether the row needs its values kept before it changes (loaded or
  // merged, and not changed since).
  bool NeedsOriginal(int row) const { return status_[row] == RowStatus::Unchanged; }
  // A loaded row changed: `before` are its values at load or merge.
  // REQUIRES: NeedsOriginal(row).
  void LogModified(int row, std::vector<Variant> before);
  // A row deleted. An inserted row becomes dead (returns true); another one
  // is logged as deleted, `before` taken when NeedsOriginal(row).
  bool LogDeleted(int row, std::vector<Variant> before);
  // The values of a modified or deleted row at load or merge; null for any
  // other row.
  const std::vector<Variant>* Original(int row) const;

  // Undoes the whole log: inserted rows die, and `restore(row, values)` puts
  // the values back of every modified or deleted row.
  template <typename Restore>
  void Undo(Restore&& restore) {
    for (int r = 0; r < RowCount(); ++r) {
      if (status_[r] == RowStatus::Inserted) {
        status_[r] = RowStatus::Dead;
      } else if (status_[r] == RowStatus::Modified || status_[r] == RowStatus::Deleted) {
        restore(r, original_.at(r));
        status_[r] = RowStatus::Unchanged;
      }
    }
    original_.clear();
  }
  // Accepts the whole log: deleted rows die, every other live row is
  // unchanged. Returns whether a row died.
  bool Merge();

 private:
  std::vector<RowStatus> status_;
  std::vector<std::uint64_t> sequence_;  // order of the first change; 0: none
  std::unordered_map<int, std::vector<Variant>> original_;
  std::uint64_t next_sequence_ = 1;
};

}  // namespace dg::data
