// Filter expressions of the client dataset: any text is refused with
// DatasetError when set, or filters a loaded dataset without failing.
#include <cstdint>
#include <string>

#include "data/dataset.h"

namespace {

dg::data::ClientDataset& Dataset() {
  static dg::data::ClientDataset* ds = [] {
    auto* d = new dg::data::ClientDataset("cdsExp");
    d->AddField("IDCHECK", dg::data::FieldType::String, 1);
    d->AddField("NRPEDIDO", dg::data::FieldType::String, 10);
    d->AddField("QTDEAEXP", dg::data::FieldType::Double);
    d->AddField("NRSEQ", dg::data::FieldType::Integer);
    d->AddField("DTENTPED", dg::data::FieldType::DateTime);
    d->CreateDataSet();
    const char* checks[] = {"S", "N", ""};
    for (int i = 0; i < 6; ++i) {
      d->Append();
      d->FieldByName("IDCHECK").SetAsString(checks[i % 3]);
      d->FieldByName("NRPEDIDO").SetAsString("P" + std::to_string(i));
      d->FieldByName("QTDEAEXP").SetAsFloat(i * 1.5);
      d->FieldByName("NRSEQ").SetAsString(std::to_string(i));
      d->Post();
    }
    return d;
  }();
  return *ds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dg::data::ClientDataset& ds = Dataset();
  const std::string expression(reinterpret_cast<const char*>(data), size);
  try {
    ds.SetFilter(expression);
    ds.SetFiltered(true);
    for (ds.First(); !ds.Eof(); ds.Next()) ds.FieldByName("NRPEDIDO").AsString();
  } catch (const dg::data::DatasetError&) {
  }
  ds.SetFiltered(false);
  ds.SetFilter("");
  return 0;
}
