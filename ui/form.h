// Form: a window of controls. Owns its controls, finds them by name, keeps
// the input focus (one active control), shows itself modally through the
// application's window system, and closes with an action a handler may
// refuse.
//
// Focus manager. FocusControl moves the focus and fires, in this order: the
// old control's exit, the exit of every container that is left (innermost
// first), the enter of every container that is entered (outermost first),
// the new control's enter. A control that contains the other one is neither
// left nor entered. While these handlers run, ActiveControl() is already the
// control that receives the focus. A focus request made by a handler during
// the move (a validation putting the focus back) sets the active control at
// once, without events, and ends the move after that handler. A handler's
// failure stops the move and propagates; after a failing exit handler the
// active control is where the handler put it, or the old control when it
// put it nowhere. Moves from code and from the user take this same path.
//
// Not copyable; the user-interface thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "data/dataset.h"
#include "data/errors.h"
#include "ui/control.h"

namespace dg::ui {

enum class CloseAction { None, Hide, Free, Minimize };
enum class ModalResult { None, Ok, Cancel, Yes, No };
enum class WindowState { Normal, Minimized, Maximized };
enum class BorderStyle { Sizeable, Single, Dialog, None };
enum class Position { Designed, ScreenCenter, MainFormCenter };

class Form : public Control {
 public:
  explicit Form(std::string name);
  ~Form() override;

  bool TakesFocus() const override { return false; }

  // ---- Controls. Add creates a control owned by this form; `parent` null
  // means the form itself. Throws Error when the name is taken.
  template <typename T, typename... Args>
  T& Add(const std::string& name, Control* parent = nullptr, Args&&... args) {
    static_assert(std::is_base_of_v<Control, T>);
    CheckNewName(name);
    auto control =
        std::make_unique<T>(*this, name, parent ? parent : this, std::forward<Args>(args)...);
    T& ref = *control;
    Adopt(std::move(control));
    return ref;
  }
  // Null when no control has that name.
  Control* Find(const std::string& name) const;
  // Throws Error when the name is unknown or names another kind.
  template <typename T>
  T& Get(const std::string& name) const {
    Control* c = Find(name);
    if (c == nullptr) ThrowUnknown(name);
    T* t = dynamic_cast<T*>(c);
    if (t == nullptr) ThrowWrongKind(name);
    return *t;
  }
  // Every control, in creation order.
  std::vector<Control*> AllControls() const;

  // ---- Datasets and data sources the form uses, by name (not owned; they
  // must outlive the form or be removed first). Data sources register
  // under their `name`, datasets under Name().
  void RegisterDataSet(data::ClientDataset& dataset);
  void RegisterDataSource(data::DataSource& source);
  data::ClientDataset* FindDataSet(const std::string& name) const;
  data::DataSource* FindDataSource(const std::string& name) const;
  std::vector<data::ClientDataset*> DataSets() const;

  // ---- Focus.
  Control* ActiveControl() const { return active_; }
  // Moves the focus (see the file comment). Throws Error when the control
  // cannot take the focus (hidden, disabled, or a kind that takes none).
  void FocusControl(Control& control);
  // Moves the focus to the next (or previous) tab stop in tab order.
  void SelectNext(bool forward = true);

  // ---- Window.
  Position position = Position::Designed;
  BorderStyle border_style = BorderStyle::Sizeable;
  WindowState window_state = WindowState::Normal;
  int client_width = 0, client_height = 0;
  bool key_preview = false;

  // ---- Lifecycle.
  // Fires on_create; the code that builds the form calls it once, last.
  void Create();
  // Fires on_activate (the window system calls it when the form becomes
  // the active window).
  void Activate();
  // Shows the form through App().Windows() and returns when it is closed.
  ModalResult ShowModal();
  bool IsOpen() const { return open_; }
  // Asks the form to close: on_close runs with the action Hide (a handler
  // may change it; None keeps the form open). A failure of the handler
  // propagates and the form stays open.
  void Close();
  ModalResult GetModalResult() const { return modal_result_; }
  // Stores the result and, when it is not None, closes the form; a refused
  // close resets it to None.
  void SetModalResult(ModalResult result);
  // The close action was Free: the owner disposes of the form after its
  // modal show returns.
  bool DisposeRequested() const { return dispose_requested_; }

  // Redraws now, unless updates are locked; counts the repaints.
  void Repaint();
  int RepaintCount() const { return repaint_count_; }

  // ---- Window-update lock (nesting). Drawing resumes, with a repaint,
  // when the last lock is released. Prefer UpdateLock.
  void LockUpdates();
  void UnlockUpdates();
  bool UpdatesLocked() const { return lock_depth_ > 0; }
  int LockDepth() const { return lock_depth_; }

  // ---- Events.
  std::function<void(Form&)> on_create;
  std::function<void(Form&)> on_activate;
  std::function<void(Form&, CloseAction&)> on_close;

  // Called after any control's property changed (for views). Optional.
  std::function<void(Control&)> on_control_changed;

 private:
  friend class Control;
  void CheckNewName(const std::string& name) const;
  void Adopt(std::unique_ptr<Control> control);
  [[noreturn]] void ThrowUnknown(const std::string& name) const;
  [[noreturn]] void ThrowWrongKind(const std::string& name) const;
  void Forget(Control& control);

  std::vector<std::unique_ptr<Control>> owned_;
  std::map<std::string, Control*> by_name_;
  std::map<std::string, data::ClientDataset*> datasets_;
  std::map<std::string, data::DataSource*> sources_;
  Control* active_ = nullptr;
  int moving_ = 0;
  bool redirected_ = false;
  bool open_ = false;
  bool dispose_requested_ = false;
  ModalResult modal_result_ = ModalResult::None;
  int repaint_count_ = 0;
  int lock_depth_ = 0;
};

// Locks a form's updates for the life of the guard, released on every path.
class UpdateLock {
 public:
  explicit UpdateLock(Form& form) : form_(&form) { form_->LockUpdates(); }
  ~UpdateLock() { Release(); }
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;

  // Releases the lock now rather than at the end of the scope (a message is
  // to be shown over the form); later calls do nothing.
  void Release() {
    if (form_ == nullptr) return;
    form_->UnlockUpdates();
    form_ = nullptr;
  }

 private:
  Form* form_;
};

}  // namespace dg::ui
