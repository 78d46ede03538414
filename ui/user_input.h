// How a player performs a scripted user's steps. UserInput itself performs
// them on the headless controls (ui/user_actions.h) and answers dialogs as
// told; a view that shows the forms overrides it to turn each step into the
// mouse and key events a clerk gives its widgets (the Qt view's
// qtview::WindowInput). Either way each action returns what the headless
// action returns: Disabled, Hidden, ReadOnly... where the user cannot do it.
//
// Opened and Closed bracket the time a form is shown: every action between
// them names a control of the form opened last and not yet closed.
// Intentionally not copyable; the user-interface thread only.
#pragma once

#include <optional>
#include <string>

#include "ui/application.h"
#include "ui/control.h"
#include "ui/form.h"
#include "ui/grid.h"
#include "ui/user_actions.h"

namespace dg::ui {

class UserInput {
 public:
  UserInput() = default;
  virtual ~UserInput() = default;
  UserInput(const UserInput&) = delete;
  UserInput& operator=(const UserInput&) = delete;

  // The form is shown (before its activation) / its modal run ended.
  virtual void Opened(Form& form) {}
  virtual void Closed(Form& form) {}

  virtual Outcome Focus(Control& control) { return UserFocus(control); }
  // The form becomes the active window again.
  virtual void Activate(Form& form) { form.Activate(); }
  virtual Outcome Type(Control& control, const std::string& text) {
    return UserType(control, text);
  }
  virtual Outcome Select(ComboBox& combo, int index) { return UserSelect(combo, index); }
  virtual Outcome Click(Control& control) { return UserClick(control); }
  virtual Outcome SelectTab(PageControl& pages, TabSheet& sheet) {
    return UserSelectTab(pages, sheet);
  }
  virtual Outcome ClickCell(DataGrid& grid, std::optional<int> row,
                            const std::optional<std::string>& field) {
    return UserClickCell(grid, row, field);
  }
  virtual Outcome EditCell(DataGrid& grid, const std::string& text) {
    return UserEditCell(grid, text);
  }
  virtual Outcome Key(Control& control, char key) { return UserKey(control, key); }
  virtual Outcome Post(DataGrid& grid) { return UserPost(grid); }
  virtual Outcome Close(Form& form) { return UserClose(form); }

  // A dialog the player answers: the answer it decided (a question's
  // button, the list's row or none) goes in, the answer the dialog gave
  // comes back.
  virtual Answer AnswerQuestion(const std::string& text, Answer answer) { return answer; }
  // An error (`error` true) or information the user acknowledges.
  virtual void Acknowledge(const std::string& text, bool error) {}
  virtual std::optional<int> PickRow(const ListDialog& list, std::optional<int> row) { return row; }
};

}  // namespace dg::ui
