#include "ui/properties.h"

#include "ui/form.h"

namespace dg::ui {

const char* ButtonStyleName(ButtonStyle style) {
  switch (style) {
    case ButtonStyle::Auto:
      return "auto";
    case ButtonStyle::Ellipsis:
      return "ellipsis";
    case ButtonStyle::None:
      return "none";
  }
  return "auto";
}

std::optional<data::Variant> ReadProperty(const Control& control, const std::string& property) {
  using data::Variant;
  if (property == "text") return Variant(control.Text());
  if (property == "displayText") return Variant(control.DisplayText());
  if (property == "caption") return Variant(control.Caption());
  if (property == "hint") return Variant(control.hint);
  if (property == "enabled") return Variant(control.Enabled());
  if (property == "visible") return Variant(control.Visible());
  if (property == "focused") return Variant(control.Focused());
  if (property == "itemIndex") {
    if (auto* c = dynamic_cast<const ComboBox*>(&control)) return Variant(c->ItemIndex());
  } else if (property == "editMask") {
    if (auto* m = dynamic_cast<const MaskEdit*>(&control)) return Variant(m->EditMask());
  } else if (property == "readOnly") {
    if (auto* g = dynamic_cast<const DataGrid*>(&control)) {
      return Variant(g->read_only || !g->options.editing);
    }
    if (const std::optional<bool> read_only = control.ReadOnly()) return Variant(*read_only);
  } else if (property == "activePage") {
    if (auto* p = dynamic_cast<const PageControl*>(&control)) {
      return Variant(p->ActivePage() ? p->ActivePage()->Name() : std::string());
    }
  } else if (property == "value") {
    if (auto* n = dynamic_cast<const NumberBox*>(&control)) return Variant(n->Value());
  } else if (property == "selectedField") {
    if (auto* g = dynamic_cast<const DataGrid*>(&control)) {
      GridColumn* c = g->SelectedColumn();
      return Variant(c ? c->FieldName() : std::string());
    }
  }
  return std::nullopt;
}

std::optional<data::Variant> ReadColumnProperty(const GridColumn& column,
                                                const std::string& property) {
  using data::Variant;
  if (property == "pickList") {
    std::vector<Variant> items(column.pick_list.begin(), column.pick_list.end());
    return Variant(data::VariantArray(std::move(items)));
  }
  if (property == "buttonStyle") return Variant(ButtonStyleName(column.button_style));
  if (property == "readOnly") return Variant(column.read_only);
  if (property == "title") return Variant(column.Title());
  if (property == "width") return Variant(column.width);
  return std::nullopt;
}

}  // namespace dg::ui
