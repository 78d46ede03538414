// What the screen's handlers ask of a dataset's current record.
#pragma once

#include <string>

#include "data/dataset.h"

namespace dg::screen {

// In edit or insert state: a record is being changed.
inline bool Editing(const data::ClientDataset& ds) {
  return ds.State() == data::DatasetState::Edit || ds.State() == data::DatasetState::Insert;
}

// Open with a current record (a record being inserted counts).
inline bool HasRecord(const data::ClientDataset& ds) { return ds.Active() && !ds.IsEmpty(); }

// A field of the current record as text; "" when there is no record.
inline std::string CurrentText(const data::ClientDataset& ds, const char* field) {
  return HasRecord(ds) ? ds.FieldByName(field).AsString() : std::string();
}

}  // namespace dg::screen
