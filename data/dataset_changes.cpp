// The client dataset's change log as its users see it: the delta, undoing
// and accepting the changes, and the old values of the current record.
#include "data/dataset_impl.h"

namespace dg::data {

DataPacket ClientDataset::Delta() const {
  impl_->CheckActive();
  const Impl& m = *impl_;
  DataPacket p;
  p.kind = DataPacket::Kind::Delta;
  p.fields = m.StoredDefs();
  for (int r : m.log.Changes()) {
    RowChange c;
    switch (m.log.Status(r)) {
      case RowStatus::Inserted:
        c.state = RowState::Inserted;
        c.new_values = m.RowValues(r);
        break;
      case RowStatus::Modified:
        c.state = RowState::Modified;
        c.old_values = m.StoredValues(*m.log.Original(r));
        c.new_values = m.RowValues(r);
        break;
      default:
        c.state = RowState::Deleted;
        c.old_values = m.StoredValues(*m.log.Original(r));
        break;
    }
    p.changes.push_back(std::move(c));
  }
  return p;
}

void ClientDataset::CancelUpdates() {
  impl_->CheckActive();
  Cancel();
  Impl& m = *impl_;
  const int current = m.CurrentRow();
  m.log.Undo([&](int row, std::vector<Variant>& before) {
    for (std::size_t f = 0; f < fields_.size(); ++f) m.cols[f].Set(row, std::move(before[f]));
  });
  m.DropDeadRows();
  m.RebuildView();
  m.StayOn(current);
  const int count = static_cast<int>(m.view.size());
  m.bof = m.cur <= 0;
  m.eof = count == 0;
  m.calc_row = -1;
  m.NotifyLayout();
}

void ClientDataset::MergeChangeLog() {
  impl_->CheckActive();
  if (impl_->log.Merge()) impl_->DropDeadRows();
}

int ClientDataset::ChangeCount() const { return impl_->log.Count(); }

Variant ClientDataset::GetOldCell(int field_index) const {
  const Impl& m = *impl_;
  m.CheckActive();
  if (field_index < 0 || field_index >= FieldCount())
    throw DatasetError(m.Named("field index " + std::to_string(field_index) + " out of range"));
  if (state_ == DatasetState::Insert) return Variant::Null();
  const int row = m.read_row >= 0 ? m.read_row : m.CurrentRow();
  if (row < 0) return Variant::Null();
  if (m.log.Status(row) == RowStatus::Inserted) return Variant::Null();
  if (const std::vector<Variant>* before = m.log.Original(row)) return (*before)[field_index];
  return m.cols[field_index].Get(row);
}

}  // namespace dg::data
