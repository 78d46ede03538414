// The user's actions: the only way a view (the Qt view, the scripted player)
// acts on the headless controls. Each checks what a real user could do, moves
// the focus as a click does, and then does what the user's gesture does.
//
// A handler's failure propagates out of the action; the caller hands it to
// App().HandleException (which swallows the silent abort). An action that
// cannot be done changes nothing and says why.
//
// Focus as a click moves it: type, select, grid, edit, key and post first
// move the focus to their control when it does not have it; a tab selection
// moves it to the page control; a click on a button moves it there, a click
// on a flat speed button or a menu item leaves it where it is.
#pragma once

#include <optional>
#include <string>

#include "ui/control.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::ui {

enum class Outcome { Done, Disabled, Hidden, ReadOnly, NoSuchRow, NoSuchItem };

// "done", "disabled", "hidden", "read-only", "no-such-row", "no-such-item".
const char* OutcomeName(Outcome outcome);

// Whether the user can reach the control at all: Hidden when it is not
// showing, Disabled when it or a parent is disabled, Done otherwise. Changes
// nothing.
Outcome UserReach(const Control& control);
// Whether typing into the control is refused (a read-only control, a
// drop-down list, a kind that takes no text).
bool TypingRefused(const Control& control);

// Hidden when the control is not showing, Disabled when it or a parent is
// disabled, Done otherwise. A kind that takes no focus: Disabled.
Outcome UserFocus(Control& control);
// Replaces the text of an edit, masked edit (through its mask), memo,
// number box, data-aware edit or free-text combo box; change events fire.
// ReadOnly for a read-only control or a drop-down list.
Outcome UserType(Control& control, const std::string& text);
// Selects an item (index -1: none); on_change fires when it differs.
// NoSuchItem, after the focus move, for an index the combo does not hold.
Outcome UserSelect(ComboBox& combo, int index);
// Presses a button, speed button, menu item (or any clickable control).
Outcome UserClick(Control& control);
// Selects a tab: the focus goes to the page control, then on_changing may
// keep the page, else the page changes and on_change fires. Disabled for a
// disabled or hidden sheet (nothing happens, not even the focus move).
Outcome UserSelectTab(PageControl& pages, TabSheet& sheet);
// Clicks a cell: row 1-based among the rows shown (none: stay on the
// current row; moving posts a pending edit first), column by field name
// (none: keep the selected column). Fires on_cell_click with the column.
// NoSuchRow, after the focus move, for a row the grid does not show (as a
// click below the last row); Error for a field it does not show.
Outcome UserClickCell(DataGrid& grid, std::optional<int> row,
                      const std::optional<std::string>& field);
// Types a text into the selected cell, through the field's edit mask.
// ReadOnly when the grid, its editing option or the column forbids it.
Outcome UserEditCell(DataGrid& grid, const std::string& text);
// Presses a character key in the control: the form's key-down (when it
// previews keys), the control's key-down, then its key-press (a dg::Abort
// from a handler swallows the key: the outcome is still Done). A key that
// survives: Enter (13) posts a grid's pending edit or clicks a focused
// button; a printable character is typed into an edit (appended) or, when
// the selected grid cell may be edited and its mask takes the key, into the
// cell (replacing it);
// backspace (8) removes an edit's last character.
Outcome UserKey(Control& control, char key);
// Leaves the row / presses Enter in a grid: posts a pending edit.
Outcome UserPost(DataGrid& grid);
// Closes the window as the user does (the close handler may refuse).
Outcome UserClose(Form& form);

}  // namespace dg::ui
