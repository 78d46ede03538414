#include "data/change_log.h"

#include <algorithm>

namespace dg::data {

void ChangeLog::Reset(std::size_t rows) {
  status_.assign(rows, RowStatus::Unchanged);
  sequence_.assign(rows, 0);
  original_.clear();
  next_sequence_ = 1;
}

int ChangeLog::Count() const {
  return static_cast<int>(std::count_if(status_.begin(), status_.end(), Logged));
}

std::vector<int> ChangeLog::Changes() const {
  std::vector<int> changed;
  for (int r = 0; r < RowCount(); ++r) {
    if (Logged(status_[r])) changed.push_back(r);
  }
  std::sort(changed.begin(), changed.end(),
            [this](int a, int b) { return sequence_[a] < sequence_[b]; });
  return changed;
}

int ChangeLog::AddInserted() {
  status_.push_back(RowStatus::Inserted);
  sequence_.push_back(next_sequence_++);
  return RowCount() - 1;
}

void ChangeLog::LogModified(int row, std::vector<Variant> before) {
  original_[row] = std::move(before);
  sequence_[row] = next_sequence_++;
  status_[row] = RowStatus::Modified;
}

bool ChangeLog::LogDeleted(int row, std::vector<Variant> before) {
  if (status_[row] == RowStatus::Inserted) {
    status_[row] = RowStatus::Dead;
    return true;
  }
  if (status_[row] == RowStatus::Unchanged) {
    original_[row] = std::move(before);
    sequence_[row] = next_sequence_++;
  }
  status_[row] = RowStatus::Deleted;
  return false;
}

const std::vector<Variant>* ChangeLog::Original(int row) const {
  const auto it = original_.find(row);
  return it != original_.end() ? &it->second : nullptr;
}

bool ChangeLog::Merge() {
  bool died = false;
  for (int r = 0; r < RowCount(); ++r) {
    if (status_[r] == RowStatus::Deleted) {
      status_[r] = RowStatus::Dead;
      died = true;
    } else if (status_[r] != RowStatus::Dead) {
      status_[r] = RowStatus::Unchanged;
    }
    sequence_[r] = 0;
  }
  original_.clear();
  return died;
}

}  // namespace dg::data
