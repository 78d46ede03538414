#include "contracts/procurar.h"

#include "data/errors.h"
#include "ui/grid.h"

namespace dg::contracts {

ui::ListDialog ListOfDataSet(data::ClientDataset& dataset, const std::string& title) {
  ui::ListDialog list;
  list.title = title;
  std::vector<data::Field*> shown;
  for (const auto& f : dataset.Fields()) {
    if (!f->visible) continue;
    shown.push_back(f.get());
    list.fields.push_back(f->FieldName());
    list.columns.push_back(f->DisplayName());
  }
  if (!dataset.Active()) return list;
  for (int rec = 1; rec <= dataset.RecordCount(); ++rec) {
    ui::VisitRecord(dataset, rec, [&] {
      std::vector<std::string> row;
      for (data::Field* f : shown) row.push_back(f->DisplayText());
      list.rows.push_back(std::move(row));
    });
  }
  return list;
}

std::optional<int> PickRecord(data::ClientDataset& dataset, const std::string& title) {
  if (!dataset.Active()) throw Error("dataset " + dataset.Name() + " is not open");
  std::optional<int> row = ui::App().Dlg().PickFromList(ListOfDataSet(dataset, title));
  if (!row) return std::nullopt;
  dataset.SetRecNo(*row + 1);
  return *row + 1;
}

namespace Procurar {

bool Procura(data::ClientDataset& dataset) { return PickRecord(dataset, "Procurar").has_value(); }

}  // namespace Procurar
}  // namespace dg::contracts
