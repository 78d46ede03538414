#include "ui/user_actions.h"

#include "data/errors.h"

namespace dg::ui {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Done:
      return "done";
    case Outcome::Disabled:
      return "disabled";
    case Outcome::Hidden:
      return "hidden";
    case Outcome::ReadOnly:
      return "read-only";
    case Outcome::NoSuchRow:
      return "no-such-row";
    case Outcome::NoSuchItem:
      return "no-such-item";
  }
  return "done";
}

Outcome UserReach(const Control& control) {
  if (!control.Showing()) return Outcome::Hidden;
  if (!control.IsEnabled()) return Outcome::Disabled;
  return Outcome::Done;
}

bool TypingRefused(const Control& control) { return control.ReadOnly().value_or(true); }

namespace {

// Reachable, then the focus moves there as a click moves it.
Outcome FocusFirst(Control& control) {
  Outcome reach = UserReach(control);
  if (reach != Outcome::Done) return reach;
  if (control.TakesFocus() && !control.Focused()) control.SetFocus();
  return Outcome::Done;
}

// Runs a key handler; false when it swallowed the key (silent abort or 0).
template <typename Key>
bool RunKeyHandler(std::function<void(Control&, Key&)>& handler, Control& sender, Key& key) {
  if (!handler) return key != 0;
  try {
    handler(sender, key);
  } catch (const Abort&) {
    return false;
  }
  return key != 0;
}

}  // namespace

Outcome UserFocus(Control& control) {
  Outcome reach = UserReach(control);
  if (reach != Outcome::Done) return reach;
  if (!control.TakesFocus()) return Outcome::Disabled;
  control.SetFocus();
  return Outcome::Done;
}

Outcome UserType(Control& control, const std::string& text) {
  Outcome reach = UserReach(control);
  if (reach != Outcome::Done) return reach;
  if (TypingRefused(control)) return Outcome::ReadOnly;
  FocusFirst(control);
  if (auto* masked = dynamic_cast<MaskEdit*>(&control)) {
    masked->TypeText(text);
  } else {
    control.SetText(text);
  }
  return Outcome::Done;
}

Outcome UserSelect(ComboBox& combo, int index) {
  Outcome reach = FocusFirst(combo);
  if (reach != Outcome::Done) return reach;
  if (index < -1 || index >= static_cast<int>(combo.items.size())) return Outcome::NoSuchItem;
  const int before = combo.ItemIndex();
  combo.SetItemIndex(index);
  if (combo.ItemIndex() != before && combo.on_change) combo.on_change(combo);
  return Outcome::Done;
}

Outcome UserClick(Control& control) {
  Outcome reach = FocusFirst(control);
  if (reach != Outcome::Done) return reach;
  control.Click();
  return Outcome::Done;
}

Outcome UserSelectTab(PageControl& pages, TabSheet& sheet) {
  if (&sheet.Pages() != &pages) throw Error(sheet.Name() + " is not a page of " + pages.Name());
  Outcome reach = UserReach(pages);
  if (reach != Outcome::Done) return reach;
  if (!sheet.Visible() || !sheet.tab_visible) return Outcome::Hidden;
  if (!sheet.Enabled()) return Outcome::Disabled;
  FocusFirst(pages);
  if (pages.ActivePage() == &sheet) return Outcome::Done;
  bool allow = true;
  if (pages.on_changing) pages.on_changing(pages, allow);
  if (!allow) return Outcome::Done;
  pages.SetActivePage(&sheet);
  if (pages.on_change) pages.on_change(pages);
  return Outcome::Done;
}

Outcome UserClickCell(DataGrid& grid, std::optional<int> row,
                      const std::optional<std::string>& field) {
  Outcome reach = FocusFirst(grid);
  if (reach != Outcome::Done) return reach;
  int column = grid.SelectedIndex();
  if (field) {
    column = grid.ColumnIndexOf(*field);
    if (column < 0) throw Error("grid " + grid.Name() + " shows no column " + *field);
  }
  // Where the focus move loaded the grid, the row may be there only now.
  if (row && (*row < 1 || *row > grid.RowCount())) return Outcome::NoSuchRow;
  if (row) grid.MoveToRow(*row);
  if (column != grid.SelectedIndex()) grid.SetSelectedIndex(column);
  if (grid.on_cell_click && grid.SelectedColumn() != nullptr) {
    grid.on_cell_click(grid, *grid.SelectedColumn());
  }
  return Outcome::Done;
}

Outcome UserEditCell(DataGrid& grid, const std::string& text) {
  Outcome reach = UserReach(grid);
  if (reach != Outcome::Done) return reach;
  if (!grid.CanEditSelected()) return Outcome::ReadOnly;
  FocusFirst(grid);
  // The focus move's handlers may have changed what may be edited.
  return grid.EditCell(text) ? Outcome::Done : Outcome::ReadOnly;
}

Outcome UserKey(Control& control, char key) {
  Outcome reach = FocusFirst(control);
  if (reach != Outcome::Done) return reach;
  Form& form = control.OwnerForm();
  int code = static_cast<unsigned char>(key);
  if (form.key_preview && !RunKeyHandler(form.on_key_down, control, code)) return Outcome::Done;
  if (!RunKeyHandler(control.on_key_down, control, code)) return Outcome::Done;
  if (!RunKeyHandler(control.on_key_press, control, key)) return Outcome::Done;

  if (auto* grid = dynamic_cast<DataGrid*>(&control)) {
    if (key == '\r') {
      grid->PostEdit();
    } else if (key == '\x1b') {
      grid->CancelEdit();
    } else if (static_cast<unsigned char>(key) >= 32 && grid->CanEditSelected() &&
               grid->TakesKey(key)) {
      grid->EditCell(std::string(1, key));
    }
  } else if (auto* edit = dynamic_cast<Edit*>(&control)) {
    if (edit->read_only) return Outcome::Done;
    if (key == '\b') {
      std::string text = edit->Text();
      if (!text.empty()) text.pop_back();
      edit->SetText(text);
    } else if (static_cast<unsigned char>(key) >= 32) {
      if (auto* masked = dynamic_cast<MaskEdit*>(edit)) {
        masked->TypeText(masked->Text() + key);
      } else {
        edit->SetText(edit->Text() + key);
      }
    }
  } else if (dynamic_cast<Button*>(&control) != nullptr && key == '\r') {
    control.Click();
  }
  return Outcome::Done;
}

Outcome UserPost(DataGrid& grid) {
  Outcome reach = FocusFirst(grid);
  if (reach != Outcome::Done) return reach;
  grid.PostEdit();
  return Outcome::Done;
}

Outcome UserClose(Form& form) {
  form.Close();
  return Outcome::Done;
}

}  // namespace dg::ui
