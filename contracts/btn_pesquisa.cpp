#include "contracts/btn_pesquisa.h"

#include "contracts/procurar.h"
#include "contracts/query.h"
#include "data/errors.h"
#include "ui/application.h"

namespace dg::contracts {

void TBtnPesquisa::Click() {
  if (OnBeforePesq) OnBeforePesq(*this);
  data::ClientDataset* dataset = DataSource != nullptr ? DataSource->DataSet() : nullptr;
  if (dataset == nullptr) throw Error("search button " + Name() + " has no dataset to list");
  if (!dataset->Active()) {
    TADOIBQuery* query = TADOIBQuery::OfDataSet(dataset);
    if (query == nullptr)
      throw Error("search button " + Name() + ": " + dataset->Name() + " is closed");
    query->Open();
  }
  if (dataset->IsEmpty()) {
    ui::App().Dlg().Error(EmptyError);
    return;
  }
  if (!PickRecord(*dataset, Title)) return;
  if (Associate != nullptr) {
    for (const auto& f : dataset->Fields()) {
      if (!f->visible) continue;
      Associate->SetText(f->AsString());
      break;
    }
  }
  if (OnAfterPesq) OnAfterPesq(*this);
}

}  // namespace dg::contracts
