#include <algorithm>

#include "data/dataset.h"

namespace dg::data {

DataSource::~DataSource() { SetDataSet(nullptr); }

void DataSource::SetDataSet(ClientDataset* dataset) {
  if (dataset == dataset_) return;
  ClientDataset* old = dataset_;
  dataset_ = dataset;
  if (old) old->DetachSource(this);
  if (dataset) dataset->AttachSource(this);
}

DatasetState DataSource::State() const {
  return dataset_ ? dataset_->State() : DatasetState::Inactive;
}

void DataSource::AddLink(DataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void DataSource::RemoveLink(DataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void DataSource::NotifyState() {
  if (on_state_change) on_state_change(*this);
  const auto links = links_;
  for (DataLink* l : links) l->StateChanged();
}

void DataSource::NotifyData() {
  const auto links = links_;
  for (DataLink* l : links) l->DataChanged();
}

void DataSource::NotifyLayout() {
  const auto links = links_;
  for (DataLink* l : links) l->LayoutChanged();
}

void DataSource::NotifyFocusField(Field& field) {
  const auto links = links_;
  for (DataLink* l : links) l->FocusField(field);
}

}  // namespace dg::data
