#include "ui/grid.h"

#include <algorithm>

#include "data/mask.h"
#include "ui/form.h"
#include "ui/text.h"

namespace dg::ui {

namespace {

bool Editing(const data::ClientDataset* ds) {
  return ds != nullptr &&
         (ds->State() == data::DatasetState::Edit || ds->State() == data::DatasetState::Insert);
}

}  // namespace

// ---- GridColumn

GridColumn::GridColumn(DataGrid& grid, std::string field_name)
    : grid_(grid), field_name_(std::move(field_name)) {}

data::Field* GridColumn::Field() const {
  data::ClientDataset* ds = grid_.DataSet();
  if (ds == nullptr || !ds->Active()) return nullptr;
  return ds->FindField(field_name_);
}

int GridColumn::Index() const {
  const auto& columns = grid_.Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].get() == this) return static_cast<int>(i);
  }
  return -1;
}

std::string GridColumn::Title() const {
  if (!title.empty()) return title;
  // Titles belong to the layout: a dataset not loaded yet still has its
  // field definitions.
  if (data::ClientDataset* ds = grid_.DataSet()) {
    if (const data::Field* f = ds->FindField(field_name_)) return f->DisplayName();
  }
  return field_name_;
}

// ---- DataGrid

DataGrid::DataGrid(Form& form, std::string name, Control* parent)
    : Control(form, std::move(name), parent) {}

DataGrid::~DataGrid() = default;

void DataGrid::SetDataSource(data::DataSource* source) {
  source_ = source;
  editor_mode_ = false;
  typed_.reset();
  Changed();
}

data::ClientDataset* DataGrid::DataSet() const {
  return source_ != nullptr ? source_->DataSet() : nullptr;
}

GridColumn& DataGrid::AddColumn(const std::string& field_name) {
  columns_.push_back(std::make_unique<GridColumn>(*this, field_name));
  return *columns_.back();
}

void DataGrid::RebuildAutoColumns() const {
  std::vector<std::string> names;
  if (data::ClientDataset* ds = DataSet(); ds != nullptr) {
    for (const auto& f : ds->Fields()) {
      if (f->visible) names.push_back(f->FieldName());
    }
  }
  if (names == auto_names_) return;
  auto_names_ = names;
  auto_columns_.clear();
  for (const std::string& n : names) {
    auto_columns_.push_back(std::make_unique<GridColumn>(const_cast<DataGrid&>(*this), n));
  }
}

const std::vector<std::unique_ptr<GridColumn>>& DataGrid::Columns() const {
  if (!columns_.empty()) return columns_;
  RebuildAutoColumns();
  return auto_columns_;
}

GridColumn& DataGrid::Column(int index) const {
  const auto& columns = Columns();
  if (index < 0 || index >= static_cast<int>(columns.size())) {
    throw Error("column " + std::to_string(index) + " outside the " +
                std::to_string(columns.size()) + " columns of " + Name());
  }
  return *columns[static_cast<std::size_t>(index)];
}

int DataGrid::ColumnIndexOf(const std::string& field_name) const {
  const auto& columns = Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoreCase(columns[i]->FieldName(), field_name)) return static_cast<int>(i);
  }
  return -1;
}

void DataGrid::SetSelectedIndex(int index) {
  Column(index);  // range check
  if (index == selected_) return;
  if (on_col_exit) on_col_exit(*this);
  selected_ = index;
  Changed();
  if (on_col_enter) on_col_enter(*this);
}

GridColumn* DataGrid::SelectedColumn() const {
  const auto& columns = Columns();
  if (selected_ < 0 || selected_ >= static_cast<int>(columns.size())) return nullptr;
  return columns[static_cast<std::size_t>(selected_)].get();
}

data::Field* DataGrid::SelectedField() const {
  GridColumn* c = SelectedColumn();
  return c != nullptr ? c->Field() : nullptr;
}

bool DataGrid::SetSelectedField(const std::string& field_name) {
  const int index = ColumnIndexOf(field_name);
  if (index < 0) return false;
  SetSelectedIndex(index);
  return true;
}

bool DataGrid::CanEditSelected() const {
  if (read_only || !options.editing) return false;
  GridColumn* c = SelectedColumn();
  if (c == nullptr || c->read_only) return false;
  data::Field* f = c->Field();
  return f != nullptr && !f->Calculated() && !f->DataSet().IsEmpty();
}

namespace {

// A character of a number cell: digits, signs, and the separators of a
// fraction.
bool NumberChar(data::FieldType type, char key) {
  return (key >= '0' && key <= '9') || key == '-' || key == '+' ||
         (type == data::FieldType::Double && (key == ',' || key == '.'));
}

bool NumberField(const data::Field& f) {
  return f.edit_mask.empty() &&
         (f.DataType() == data::FieldType::Double || f.DataType() == data::FieldType::Integer);
}

}  // namespace

bool DataGrid::TakesKey(char key) const {
  const data::Field* f = SelectedField();
  if (f == nullptr) return true;
  if (NumberField(*f)) return NumberChar(f->DataType(), key);
  if (f->edit_mask.empty()) return true;
  const data::EditMask mask(f->edit_mask);
  return mask.Type(std::string(1, key)) != mask.Type("");
}

bool DataGrid::TakesText(std::string_view text) const {
  const data::Field* f = SelectedField();
  if (f == nullptr) return true;
  if (NumberField(*f)) {
    // Blanks too: a number cell typed blank is emptied.
    return std::all_of(text.begin(), text.end(),
                       [f](char key) { return key == ' ' || NumberChar(f->DataType(), key); });
  }
  if (f->edit_mask.empty()) return true;
  // Each character but a blank must change what the masked edit shows
  // (blanks alone empty the cell).
  const data::EditMask mask(f->edit_mask);
  std::string before = mask.Type("");
  for (std::size_t n = 1; n <= text.size(); ++n) {
    std::string after = mask.Type(text.substr(0, n));
    if (after == before && text[n - 1] != ' ') return false;
    before = std::move(after);
  }
  return true;
}

bool DataGrid::EditorMode() const { return editor_mode_ && Editing(DataSet()); }

namespace {

// Signs and separators alone: what a clerk types first into a number cell
// before its digits ("-", ",", "-,").
bool BegunNumber(const data::Field& f, const std::string& text) {
  const data::FieldType type = f.DataType();
  if (!f.edit_mask.empty() || text.empty() ||
      (type != data::FieldType::Double && type != data::FieldType::Integer)) {
    return false;
  }
  return text.find_first_not_of(type == data::FieldType::Double ? "+-,." : "+-") ==
         std::string::npos;
}

}  // namespace

bool DataGrid::EditCell(const std::string& text) {
  if (!CanEditSelected()) return false;
  data::Field* f = SelectedField();
  data::ClientDataset& ds = f->DataSet();
  // Keys a masked cell refuses, every one of them, leave the cell as it was,
  // as they leave its editor in the window.
  if (!f->edit_mask.empty() && text.find_first_not_of(' ') != std::string::npos) {
    const data::EditMask mask(f->edit_mask);
    if (mask.Type(text) == mask.Type("")) return true;
  }
  if (ds.State() == data::DatasetState::Browse) ds.Edit();
  editor_mode_ = true;
  typed_.reset();
  if (f->edit_mask.empty()) {
    const bool begun = BegunNumber(*f, text);
    if (!begun) f->SetText(text);
    typed_ = Typed{f->FieldName(), text, begun};
  } else {
    // The in-place editor is a masked edit: the field gets what it yields.
    const data::EditMask mask(f->edit_mask);
    f->SetText(mask.Yield(mask.Type(text)));
  }
  Changed();
  return true;
}

std::optional<std::string> DataGrid::EditorText() const {
  const data::Field* f = SelectedField();
  if (!typed_ || !EditorMode() || f == nullptr || f->FieldName() != typed_->field) {
    return std::nullopt;
  }
  return typed_->text;
}

void DataGrid::TakeBegunNumber() {
  const std::optional<Typed> typed = std::exchange(typed_, std::nullopt);
  data::ClientDataset* ds = DataSet();
  if (typed && typed->begun_number && Editing(ds)) {
    ds->FieldByName(typed->field).SetText(typed->text);
  }
}

void DataGrid::PostEdit() {
  data::ClientDataset* ds = DataSet();
  TakeBegunNumber();
  if (Editing(ds)) ds->Post();
  editor_mode_ = false;
  Changed();
}

void DataGrid::CancelEdit() {
  data::ClientDataset* ds = DataSet();
  typed_.reset();
  // A grid the clerk cannot edit leaves an edit the screen began alone.
  if (Editing(ds) && !read_only && options.editing) ds->Cancel();
  editor_mode_ = false;
  Changed();
}

int DataGrid::RowCount() const {
  data::ClientDataset* ds = DataSet();
  return ds != nullptr && ds->Active() ? ds->RecordCount() : 0;
}

int DataGrid::CurrentRow() const {
  data::ClientDataset* ds = DataSet();
  return ds != nullptr && ds->Active() ? ds->RecNo() : 0;
}

void DataGrid::MoveToRow(int row) {
  if (row < 1 || row > RowCount()) {
    throw Error("row " + std::to_string(row) + " outside the " + std::to_string(RowCount()) +
                " rows of " + Name());
  }
  data::ClientDataset* ds = DataSet();
  if (row == ds->RecNo() && !ds->IsEmpty()) return;
  TakeBegunNumber();
  if (Editing(ds)) ds->Post();
  editor_mode_ = false;
  ds->SetRecNo(row);
  Changed();
}

bool VisitRecord(data::ClientDataset& dataset, int rec, const std::function<void()>& fn) {
  if (!dataset.Active() || rec < 1 || rec > dataset.RecordCount()) return false;
  const int current = dataset.RecNo();
  if (rec == current) {
    fn();
    return true;
  }
  if (Editing(&dataset)) return false;
  data::ControlsGuard controls(dataset);
  data::HandlerGuard scroll(dataset.after_scroll);
  struct Restore {
    data::ClientDataset& ds;
    int rec;
    ~Restore() { ds.SetRecNo(rec); }
  } restore{dataset, current};
  dataset.SetRecNo(rec);
  fn();
  return true;
}

std::string DataGrid::CellText(int column) const {
  data::Field* f = Column(column).Field();
  if (f == nullptr || f->DataSet().IsEmpty()) return {};
  return f->DisplayText();
}

Canvas& DataGrid::CurrentCanvas() const {
  if (canvas_ == nullptr) throw Error("grid " + Name() + " is not being painted");
  return *canvas_;
}

void DataGrid::PaintCell(Canvas& canvas, const Rect& rect, int row, int column, DrawState state) {
  Canvas* saved = canvas_;
  canvas_ = &canvas;
  struct Reset {
    Canvas*& slot;
    Canvas* saved;
    ~Reset() { slot = saved; }
  } reset{canvas_, saved};
  data::ClientDataset* ds = DataSet();
  if (ds == nullptr || !ds->Active() || row < 1 || row > ds->RecordCount()) return;
  // The row is read for display: the cursor stays where it is and the
  // dataset's controls hear of no move, so the other rows draw as they are
  // stored while the current one is being edited. Moving there and back, as a visit
  // does, ends by telling them the layout changed, and the view then
  // paints the grid again, which moves again: a paint that never ends.
  ds->ReadAt(row, [&] {
    DefaultDrawColumnCell(rect, column, state);
    if (on_draw_column_cell) on_draw_column_cell(*this, rect, column, Column(column), state);
  });
}

void DataGrid::DefaultDrawColumnCell(const Rect& rect, int column, DrawState state) {
  Canvas& canvas = CurrentCanvas();
  GridColumn& col = Column(column);
  canvas.SetBrushColor(ResolveColor(state.selected && !state.fixed ? ColorName::Highlight : color));
  canvas.FillRect(rect);
  const std::string text = CellText(column);
  int x = rect.left + 2;
  if (col.alignment == Alignment::Right) {
    x = rect.right - 2 - static_cast<int>(data::Utf8Length(text)) * 7;
  } else if (col.alignment == Alignment::Center) {
    x = rect.left + (rect.Width() - static_cast<int>(data::Utf8Length(text)) * 7) / 2;
  }
  canvas.TextRect(rect, x, rect.top + 2, text);
}

}  // namespace dg::ui
