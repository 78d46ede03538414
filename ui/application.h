// The process-wide application object: the window system that shows forms,
// the dialogs every question and message goes through, the busy cursor, and
// the handling of failures that reach an event's entry point.
//
// The window system and the dialogs are pluggable (not owned; they must
// outlive their use): the Qt view, the scripted player and tests each set
// their own. The user-interface thread only.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/form.h"

namespace dg::ui {

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Shows the form modally and returns when it is closed (Form::IsOpen()
  // false). The implementation calls Form::Activate when the form becomes
  // active and delivers the user's actions meanwhile.
  virtual void ShowModal(Form& form) = 0;
  // The form asks to be redrawn (Repaint, or the last update lock released).
  virtual void Repaint(Form& form) {}
  // The busy cursor was switched on or off.
  virtual void BusyChanged(bool busy) {}
  // The wait animation over the main window appeared (its kind, above 0) or
  // went away (0).
  virtual void WaitAnimationChanged(int kind) {}
};

enum class Answer { Yes, No };

// One list to pick from (search button, search command). `fields` are the
// dataset's field names of the columns, `columns` their titles, `rows` the
// display texts. Intentionally copyable.
struct ListDialog {
  std::string title;
  std::vector<std::string> fields;
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A confirmation with the buttons Yes and No.
  virtual Answer Question(const std::string& text) = 0;
  virtual void Error(const std::string& text) = 0;
  virtual void Info(const std::string& text) = 0;
  // The 0-based row picked, or none (cancelled).
  virtual std::optional<int> PickFromList(const ListDialog& list) = 0;
};

class Application {
 public:
  Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Null restores the default: a window system that refuses to show a form
  // (Error), and ScriptedDialogs with no answers queued.
  void SetWindowSystem(WindowSystem* windows);
  WindowSystem& Windows();
  void SetDialogs(Dialogs* dialogs);
  Dialogs& Dlg();

  // ---- Busy cursor (nesting). Prefer BusyCursor.
  void BeginBusy();
  void EndBusy();
  bool Busy() const { return busy_depth_ > 0; }

  // Where user events enter: dg::Abort is swallowed silently; any other
  // failure goes to on_error_report when set, otherwise to Dlg().Error.
  // Never throws.
  void HandleException(std::exception_ptr failure) noexcept;
  std::function<void(const std::string& text)> on_error_report;

 private:
  WindowSystem* windows_ = nullptr;
  Dialogs* dialogs_ = nullptr;
  int busy_depth_ = 0;
};

Application& App();

// Busy cursor for the life of the guard.
class BusyCursor {
 public:
  BusyCursor() { App().BeginBusy(); }
  ~BusyCursor() { App().EndBusy(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Sets App()'s dialogs (and optionally window system) for the life of the
// guard and restores the previous ones: for tests and the player.
class ScopedDialogs {
 public:
  explicit ScopedDialogs(Dialogs* dialogs, WindowSystem* windows = nullptr);
  ~ScopedDialogs();
  ScopedDialogs(const ScopedDialogs&) = delete;
  ScopedDialogs& operator=(const ScopedDialogs&) = delete;

 private:
  Dialogs* saved_dialogs_;
  WindowSystem* saved_windows_;
  bool set_windows_;
};

// Dialogs answered from a script: questions take the queued answers in
// order ("No" when none is left), list picks take the queued row picks (none
// when none is left). Every dialog is logged as a compact line:
//   "question: <text> -> yes"  "error: <text>"  "info: <text>"
//   "list: <title> (<n> rows) -> 2"  ("-> none" when nothing was picked)
class ScriptedDialogs : public Dialogs {
 public:
  void QueueAnswer(Answer answer) { answers_.push_back(answer); }
  // A pick is a fixed row or a function choosing one from the list shown.
  using Matcher = std::function<std::optional<int>(const ListDialog&)>;
  void QueuePick(std::optional<int> row);
  void QueuePick(Matcher matcher) { matchers_.push_back(std::move(matcher)); }

  Answer Question(const std::string& text) override;
  void Error(const std::string& text) override;
  void Info(const std::string& text) override;
  std::optional<int> PickFromList(const ListDialog& list) override;

  const std::vector<std::string>& Log() const { return log_; }
  std::string Joined() const;  // lines joined by " | "
  void ClearLog() { log_.clear(); }
  // The last list shown (for checks on titles and rows).
  const std::optional<ListDialog>& LastList() const { return last_list_; }
  // Whether the last question was answered by default (no queued answer).
  bool LastAnswerDefaulted() const { return last_defaulted_; }

 private:
  std::vector<Answer> answers_;
  std::vector<Matcher> matchers_;
  std::vector<std::string> log_;
  std::optional<ListDialog> last_list_;
  bool last_defaulted_ = false;
};

}  // namespace dg::ui
