#include "host/expect.h"

#include <cmath>

#include "host/trace.h"
#include "ui/grid.h"
#include "ui/properties.h"

namespace dg::host {

namespace {

using nlohmann::json;

const char* StateName(data::DatasetState state) {
  switch (state) {
    case data::DatasetState::Inactive:
      return "inactive";
    case data::DatasetState::Browse:
      return "browse";
    case data::DatasetState::Edit:
      return "edit";
    case data::DatasetState::Insert:
      return "insert";
  }
  return "?";
}

json FieldValue(const data::Field& field) {
  if (field.IsNull()) return nullptr;
  return TraceValue(field.Value());
}

std::optional<json> DatasetState(const std::vector<std::string>& parts, const json& want,
                                 data::ClientDataset& ds) {
  const std::string& what = parts[1];
  if (parts.size() == 2) {
    if (what == "count") return ds.Active() ? ds.RecordCount() : 0;
    if (what == "state") return StateName(ds.State());
    if (what == "filter") return ds.Filter();
    if (what == "changeCount") return ds.Active() ? ds.ChangeCount() : 0;
    if (what == "rows") {
      json rows = json::array();
      if (!ds.Active()) return rows;
      for (int r = 1; r <= ds.RecordCount(); ++r) {
        const json* asked =
            want.is_array() && r <= static_cast<int>(want.size()) && want[r - 1].is_object()
                ? &want[r - 1]
                : nullptr;
        json row = json::object();
        ds.ReadAt(r, [&] {
          for (const auto& field : ds.Fields()) {
            if (asked == nullptr || asked->contains(field->FieldName())) {
              row[field->FieldName()] = FieldValue(*field);
            }
          }
        });
        rows.push_back(row);
      }
      return rows;
    }
  }
  data::Field* field = ds.FindField(what);
  if (field == nullptr) return std::nullopt;
  if (!ds.Active() || ds.IsEmpty()) return nullptr;
  if (parts.size() == 3) return field->DisplayText();
  return FieldValue(*field);
}

}  // namespace

std::optional<json> ReadState(const std::string& key, const json& want, const ui::Form& form,
                              const GlobalLookup& globals) {
  const std::vector<std::string> parts = SplitKey(key);
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  if (parts[0] == "global") {
    data::Variant value;
    if (parts.size() != 2 || !globals || !globals(parts[1], &value)) return std::nullopt;
    return TraceValue(value);
  }
  if (data::ClientDataset* ds = form.FindDataSet(parts[0])) return DatasetState(parts, want, *ds);
  const ui::Control* control = form.Find(parts[0]);
  if (control == nullptr) return std::nullopt;
  std::optional<data::Variant> value;
  if (parts.size() == 3) {
    const auto* grid = dynamic_cast<const ui::DataGrid*>(control);
    if (grid == nullptr) return std::nullopt;
    const int index = grid->ColumnIndexOf(parts[1]);
    if (index < 0) return std::nullopt;
    value = ui::ReadColumnProperty(grid->Column(index), parts[2]);
  } else {
    value = ui::ReadProperty(*control, parts[1]);
  }
  if (!value) return std::nullopt;
  return TraceValue(*value);
}

bool Matches(const json& want, const json& got) {
  if (want.is_number() && got.is_number()) {
    return std::fabs(want.get<double>() - got.get<double>()) <= 1e-9;
  }
  if (want.is_array() && got.is_array()) {
    if (want.size() != got.size()) return false;
    for (std::size_t i = 0; i < want.size(); ++i) {
      if (!Matches(want[i], got[i])) return false;
    }
    return true;
  }
  if (want.is_object() && got.is_object()) {
    for (const auto& [key, value] : want.items()) {
      if (!got.contains(key) || !Matches(value, got.at(key))) return false;
    }
    return true;
  }
  return want == got;
}

}  // namespace dg::host
