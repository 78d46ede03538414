// Procurar: the search dialog over a dataset, and the list built from a
// dataset that the search button shows too.
#pragma once

#include <optional>
#include <string>

#include "data/dataset.h"
#include "ui/application.h"

namespace dg::contracts {

// The dataset's records, in their order, as a list: one column per visible
// field (titled by its display name), cells its display texts. The current
// record is kept and no after-scroll fires. A dataset being edited lists
// only its current record.
ui::ListDialog ListOfDataSet(data::ClientDataset& dataset, const std::string& title);

// Shows the list through App().Dlg() and moves the dataset to the picked
// record (after-scroll fires). Returns the 1-based record picked, or none.
// REQUIRES: the dataset is active.
std::optional<int> PickRecord(data::ClientDataset& dataset, const std::string& title);

namespace Procurar {
// The search command: lets the user pick a record of the dataset and
// positions the dataset on it. Returns whether a record was picked.
bool Procura(data::ClientDataset& dataset);
}  // namespace Procurar

}  // namespace dg::contracts
