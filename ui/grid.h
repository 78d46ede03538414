// Data grid: shows the records of a data source, one row per record the
// dataset lets through (filter and index applied), one column per
// GridColumn. Columns are owned by the grid; the data source is not.
//
// Editing: a cell edit (UserEditCell) puts the dataset into edit state and
// stores the text through the field's set-text; the in-place editor is then
// active (EditorMode) until the row is posted, cancelled or left. Leaving the
// row or pressing Enter posts.
//
// The grid reads its data source on every access and registers no link with
// it, so sources and datasets may be destroyed before the grid (a derived
// form's members go before the controls of its base). To put the focus on a
// field's cell, select its column and focus the grid.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/canvas.h"
#include "ui/control.h"

namespace dg::ui {

class DataGrid;

// Runs fn with the dataset positioned on the 1-based record `rec` without
// after-scroll events and with its controls disabled, then restores the
// current record. A dataset being edited can only visit its current record
// (for another one fn is not run and the result is false); false too for
// an inactive dataset or a record out of range. When the controls are
// enabled again they hear of a change of layout and redraw: a paint reads
// rows with ClientDataset::ReadAt instead.
bool VisitRecord(data::ClientDataset& dataset, int rec, const std::function<void()>& fn);

enum class ButtonStyle { Auto, Ellipsis, None };

// One column of a grid, bound to a field by name. Not copyable.
class GridColumn {
 public:
  GridColumn(DataGrid& grid, std::string field_name);
  GridColumn(const GridColumn&) = delete;
  GridColumn& operator=(const GridColumn&) = delete;

  DataGrid& Grid() const { return grid_; }
  const std::string& FieldName() const { return field_name_; }
  // The bound field of the grid's dataset, or null (inactive, unknown field).
  data::Field* Field() const;
  int Index() const;

  // Title: `title` when set, otherwise the field's display name.
  std::string Title() const;
  std::string title;
  Alignment title_alignment = Alignment::Left;
  Alignment alignment = Alignment::Left;
  int width = 64;
  bool read_only = false;
  bool visible = true;
  std::vector<std::string> pick_list;
  ButtonStyle button_style = ButtonStyle::Auto;

 private:
  DataGrid& grid_;
  std::string field_name_;
};

// Options of a grid.
struct GridOptions {
  bool editing = true;  // the grid-wide editing option
  bool titles = true;
  bool indicator = true;
  bool col_lines = true;
  bool row_lines = true;
  bool tabs = false;
  bool row_select = false;
  bool always_show_selection = false;
  bool confirm_delete = true;
  bool cancel_on_exit = true;
  bool column_resize = true;

  // The module's data grids: titles without the row indicator, column and
  // row lines, Tab leaving the grid, the selected cell shown when the grid
  // has no focus; `editing` as given.
  static GridOptions DataGrid(bool editing) {
    return {.editing = editing,
            .titles = true,
            .indicator = false,
            .tabs = true,
            .always_show_selection = true};
  }
  // A list to read or pick from: titles without the row indicator or lines,
  // Tab leaving the grid, whole rows selected, never edited.
  static GridOptions RowList() {
    return {.editing = false,
            .titles = true,
            .indicator = false,
            .col_lines = false,
            .row_lines = false,
            .tabs = true,
            .row_select = true};
  }
};

struct DrawState {
  bool selected = false;
  bool focused = false;
  bool fixed = false;
  friend bool operator==(const DrawState&, const DrawState&) = default;
};

class DataGrid : public Control {
 public:
  DataGrid(Form& form, std::string name, Control* parent);
  ~DataGrid() override;

  data::DataSource* DataSource() const { return source_; }
  void SetDataSource(data::DataSource* source);
  // The dataset of the source, or null.
  data::ClientDataset* DataSet() const;

  // ---- Columns. Without persistent columns the grid shows every field of
  // the dataset in field order (rebuilt when the layout changes).
  GridColumn& AddColumn(const std::string& field_name);
  const std::vector<std::unique_ptr<GridColumn>>& Columns() const;
  int ColumnCount() const { return static_cast<int>(Columns().size()); }
  // REQUIRES: 0 <= index < ColumnCount(), else Error.
  GridColumn& Column(int index) const;
  // Index of the first column bound to the field (case-insensitive), or -1.
  int ColumnIndexOf(const std::string& field_name) const;

  // ---- Selection. Changing the selected column fires on_col_exit and then
  // on_col_enter.
  int SelectedIndex() const { return selected_; }
  void SetSelectedIndex(int index);
  GridColumn* SelectedColumn() const;
  data::Field* SelectedField() const;
  // Selects the column of the field; false when no column shows it.
  bool SetSelectedField(const std::string& field_name);

  // Font of the column titles (the cells use the control's font).
  Font title_font;

  // ---- Editing.
  GridOptions options;
  bool read_only = false;
  // Whether a cell of the selected column may be edited now: grid not
  // read-only, editing option on, column not read-only, field present and
  // stored, a current record (the user never adds rows through a grid).
  bool CanEditSelected() const;
  // The in-place editor is active: a cell was edited and the dataset is
  // still in edit or insert state.
  bool EditorMode() const;
  // Edits the selected cell of the current row as the user does: a field
  // with an edit mask takes the text as a masked edit takes typing
  // (data::EditMask::Type), refusing what its positions do not accept.
  // Returns false (and changes nothing) when CanEditSelected() is false.
  // The in-place editor then holds the text as typed (EditorText). A
  // number cell's text that is only signs and separators ("-", ",") is the
  // start of a number, not one yet: the field keeps its value until more
  // is typed or the edit is posted.
  bool EditCell(const std::string& text);
  // The text typed into the in-place editor of the selected cell, which it
  // goes on from (not the field's formatted text: "7" stays "7", not
  // "7,000"); nullopt when nothing was typed there or the field has a mask.
  std::optional<std::string> EditorText() const;
  // Whether the selected cell's editor takes the typed key: its field's edit
  // mask decides where it has one, a number field takes digits, signs and
  // separators only. A key it refuses leaves the cell be.
  bool TakesKey(char key) const;
  // Whether the open editor of the selected cell may hold `text`: a masked
  // cell refuses a character its next position does not accept and any
  // beyond its last position; a number cell takes its keys; blanks alone
  // empty either. The window's editor keeps to it, so that what
  // the clerk sees in the cell is what the field gets.
  bool TakesText(std::string_view text) const;
  // Posts a pending edit of the dataset (edit or insert state). A number
  // begun but never completed reaches the field first, which refuses it.
  void PostEdit();
  // Drops a pending edit of the dataset (edit or insert state), whatever was
  // typed into the row and a number only begun, as Escape does.
  void CancelEdit();

  // ---- Rows: 1-based among the records shown.
  int RowCount() const;
  int CurrentRow() const;  // 0 when empty or inactive
  // Moves to the row, posting a pending edit first. REQUIRES: a valid row.
  void MoveToRow(int row);
  // Display text of a cell of the current record ("" without a field).
  std::string CellText(int column) const;

  // ---- Drawing. PaintCell draws one data cell of `row`: the grid's own
  // drawing, then on_draw_column_cell. Canvas() is the canvas of the paint
  // in progress (Error outside one).
  void PaintCell(Canvas& canvas, const Rect& rect, int row, int column, DrawState state);
  // The grid's own drawing of a cell of the current record: fill with the
  // grid colour (highlight when selected), then the text 2 pixels in from
  // the left and top edges, clipped (right-aligned and centred texts are
  // placed at an average character width of 7 pixels).
  void DefaultDrawColumnCell(const Rect& rect, int column, DrawState state);
  Canvas& CurrentCanvas() const;

  // ---- Events (besides Control's key press and key down).
  std::function<void(Control&)> on_col_enter;
  std::function<void(Control&)> on_col_exit;
  std::function<void(Control&, GridColumn&)> on_cell_click;
  std::function<void(DataGrid&, const Rect&, int data_col, GridColumn&, DrawState)>
      on_draw_column_cell;

 private:
  void RebuildAutoColumns() const;

  data::DataSource* source_ = nullptr;
  std::vector<std::unique_ptr<GridColumn>> columns_;
  mutable std::vector<std::unique_ptr<GridColumn>> auto_columns_;
  mutable std::vector<std::string> auto_names_;
  int selected_ = 0;
  bool editor_mode_ = false;
  // What was typed into the in-place editor, for which field, and whether
  // it is a number only begun (not yet given to the field).
  struct Typed {
    std::string field;
    std::string text;
    bool begun_number = false;
  };
  std::optional<Typed> typed_;
  // Hands a begun number to its field (which refuses it) before a post.
  void TakeBegunNumber();
  Canvas* canvas_ = nullptr;
};

}  // namespace dg::ui
