// The Qt6 desktop view of the headless toolkit: the window system that shows
// a ui::Form as Qt widgets, the dialogs as Qt message boxes, and an
// offscreen render of a form for screenshots.
//
// This header needs no Qt headers: the host can use it without compiling
// against Qt. Everything here runs on the Qt GUI thread, which must be the
// thread of the headless toolkit, and needs the application object
// (EnsureApplication) first.
//
// The view renders state and forwards the user's gestures through
// ui/user_actions.h; it carries no rule of the screens. Failures of the
// handlers that a gesture sets off go to ui::App().HandleException.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/application.h"
#include "ui/form.h"
#include "ui/report.h"
#include "ui/user_input.h"

namespace dg::qtview {

class FormView;

// Creates the process's QApplication when there is none (argc and argv must
// outlive it, as Qt requires), sets the Brazilian locale, the small font the
// screens are laid out for, and loads Qt's own Portuguese translation so
// standard buttons read "Sim" and "Não". Idempotent. Returns whether the
// translation was found.
bool EnsureApplication(int& argc, char** argv);
// Same, for callers with no command line of their own.
bool EnsureApplication();

// Renders the form as it stands (no events fired, nothing shown on screen)
// into a PNG file; works with QT_QPA_PLATFORM=offscreen. False when the
// file cannot be written. REQUIRES: EnsureApplication.
bool RenderFormToPng(const ui::Form& form, const std::string& path);

// Writes the report as a PDF of A4 pages (written beside `path` and renamed
// when complete). Throws dg::Error when the file cannot be written.
// REQUIRES: the GUI thread; creates the application object when there is
// none (set QT_QPA_PLATFORM=offscreen first where there is no display).
void WriteReportPdf(const ui::Report& report, const std::string& path);

// Asks the clerk where to save a file, starting from `suggested`; none when
// the clerk cancels. `filter` as Qt's file dialogs take it ("PDF (*.pdf)").
std::optional<std::string> AskSavePath(const std::string& title, const std::string& suggested,
                                       const std::string& filter);

// The sign-in dialog for a server that requires it: operator code and
// password (not shown as typed), the server's address, and `why` in red
// when a sign-in was refused. None when the operator cancels.
std::optional<std::pair<std::string, std::string>> AskSignIn(const std::string& server,
                                                             const std::string& operator_code,
                                                             const std::string& why);

// Shows forms as Qt windows with a modal loop per form, maps the busy
// cursor to the application's override cursor and the wait animation to a
// small busy indicator. Install with ui::App().SetWindowSystem. Not
// copyable.
class QtWindowSystem : public ui::WindowSystem {
 public:
  QtWindowSystem();
  ~QtWindowSystem() override;
  QtWindowSystem(const QtWindowSystem&) = delete;
  QtWindowSystem& operator=(const QtWindowSystem&) = delete;

  // Runs until the form is closed (Form::IsOpen false). Activates the form
  // once, when it is shown; the application coming back from another
  // program's window does not activate it again.
  void ShowModal(ui::Form& form) override;
  void Repaint(ui::Form& form) override;
  void BusyChanged(bool busy) override;
  void WaitAnimationChanged(int kind) override;

  // Adds a command of the host to the menu bar of the screen's window (the
  // first form shown from now on): the menu's title, the command's caption
  // and shortcut ("Ctrl+Shift+R"; empty for none). It runs as a user
  // gesture does (a failure goes to the application's error report), and the
  // window is refreshed after it.
  void AddCommand(const std::string& menu, const std::string& caption, const std::string& shortcut,
                  std::function<void()> run);

 private:
  void AddCommands(FormView& view);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The dialogs as Qt message boxes over the active window, with the screen's
// texts; questions have the buttons Yes and No (translated). Not copyable.
//
// Test mode: with AnswerAutomatically set, every dialog is really shown and
// then answered by pressing the button the answer names (errors and
// information by pressing OK; lists pick the given row, or none for No).
// Shown() records each dialog as "question: <text> [<button>|<button>] ->
// <answer>", "error: <text> [<button>]", "info: <text> [<button>]",
// "list: <title> (<n> rows) -> <row>|none".
class QtDialogs : public ui::Dialogs {
 public:
  QtDialogs();
  ~QtDialogs() override;
  QtDialogs(const QtDialogs&) = delete;
  QtDialogs& operator=(const QtDialogs&) = delete;

  ui::Answer Question(const std::string& text) override;
  void Error(const std::string& text) override;
  void Info(const std::string& text) override;
  std::optional<int> PickFromList(const ui::ListDialog& list) override;

  void AnswerAutomatically(std::optional<ui::Answer> answer, int list_row = 0);
  const std::vector<std::string>& Shown() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Plays a scripted user's steps on the real Qt window (exp-host
// --through-window): each form opened is shown as the desktop shows it, and
// each step becomes the mouse and key events a clerk gives its widgets (a
// click on the control, the text typed key by key, a click on the tab, on
// the cell, the combo box opened and its item clicked, a menu item's menus
// opened and the item clicked, Enter, the window closed); dialogs are really
// shown and answered by clicking their buttons, a list's row double-clicked.
// The view forwards those events to the headless controls as it forwards a
// clerk's, so the screen sees what it sees on the desktop. A step the user
// cannot do (the control hidden, disabled, read-only) sends nothing and
// returns what the headless action returns.
//
// Works on the offscreen platform. REQUIRES: the application object
// (EnsureApplication). Not copyable; the GUI thread only.
class WindowInput : public ui::UserInput {
 public:
  WindowInput();
  ~WindowInput() override;

  void Opened(ui::Form& form) override;
  void Closed(ui::Form& form) override;
  ui::Outcome Focus(ui::Control& control) override;
  void Activate(ui::Form& form) override;
  ui::Outcome Type(ui::Control& control, const std::string& text) override;
  ui::Outcome Select(ui::ComboBox& combo, int index) override;
  ui::Outcome Click(ui::Control& control) override;
  ui::Outcome SelectTab(ui::PageControl& pages, ui::TabSheet& sheet) override;
  ui::Outcome ClickCell(ui::DataGrid& grid, std::optional<int> row,
                        const std::optional<std::string>& field) override;
  ui::Outcome EditCell(ui::DataGrid& grid, const std::string& text) override;
  ui::Outcome Key(ui::Control& control, char key) override;
  ui::Outcome Post(ui::DataGrid& grid) override;
  ui::Outcome Close(ui::Form& form) override;
  ui::Answer AnswerQuestion(const std::string& text, ui::Answer answer) override;
  void Acknowledge(const std::string& text, bool error) override;
  std::optional<int> PickRow(const ui::ListDialog& list, std::optional<int> row) override;

  // A picture of the window showing `form` as it stands, as PNG; false when
  // the form is not shown or the file cannot be written.
  bool GrabToPng(const ui::Form& form, const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dg::qtview
