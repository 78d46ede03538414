// FormView: the Qt widgets of one headless form. Builds a widget for every
// control at the form's positions and sizes (aligned controls take their
// side of the parent, as the toolkit's forms are designed), and Refresh()
// shows the headless state: captions, texts, enabled and visible flags,
// colours, fonts, the active page, grids, the focused control, the update
// lock.
//
// Interactive views forward the user's gestures (clicks, typing, tab
// changes, focus moves by mouse and Tab, keys, closing) through
// ui/user_actions.h and refresh after each; the headless focus is the
// master, so a handler that refuses a move keeps the Qt focus where the
// screen put it. Render-only views forward nothing and fire no event.
//
// The form, its controls and data sources must outlive the view. The view
// chains itself into the form's on_control_changed and restores the
// previous handler when it goes. Not copyable; the GUI thread only.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "ui/form.h"

class QMenuBar;
class QProgressBar;

namespace dg::qtview {

class ControlBinder;

class FormView : public QDialog {
  Q_OBJECT

 public:
  FormView(ui::Form& form, bool interactive, QWidget* parent = nullptr);
  ~FormView() override;

  ui::Form& Form() const { return form_; }
  // Brings every widget up to date with the headless state, now.
  void Refresh();
  // Refresh at the next turn of the event loop (coalesced).
  void ScheduleRefresh();
  // The widget showing a control, or null (menus, popup menus).
  QWidget* WidgetOf(const ui::Control& control) const;
  // The menu bar's action of a menu item, or null.
  QAction* ActionOf(const ui::Control& item) const;
  // Shows or hides the small busy indicator of the wait animation.
  void ShowBusyIndicator(bool on);
  // Runs after every forwarded gesture, after the refresh (the modal loop
  // ends when the form has closed).
  std::function<void()> after_gesture;

  // ---- For the control binders (qtview/control_binders.h).
  bool Interactive() const { return interactive_; }
  // Refresh is writing the headless state into the widgets: the signals the
  // widgets send meanwhile are not the user's.
  bool Syncing() const { return syncing_; }
  void SetSyncing(bool on) { syncing_ = on; }
  // Runs a user gesture (ui/user_actions.h), then refreshes and tells
  // after_gesture.
  void Gesture(const std::function<void()>& fn);

  // ---- Room. A control aligned to a side beside a splitter keeps its
  // share of its parent's width as the window grows (at least its designed
  // width); the clerk sets the share by dragging the splitter.
  // Moves the splitter by `dx` pixels: the control it divides grows or
  // shrinks by as much, within its parent.
  void DragSplitter(const ui::Control& splitter, int dx);
  // The shares the clerk set, by control name, and setting them back.
  std::map<std::string, double> SplitterShares() const;
  void SetSplitterShares(const std::map<std::string, double>& shares);
  // The width the control has at the form's designed size, by its
  // alignment (what the controls aligned beside it leave).
  int DesignWidth(const ui::Control& control) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class Measures;
  void Build(ui::Control& parent, QWidget* parent_widget);
  QWidget* CreateWidget(ui::Control& control, QWidget* parent_widget);
  void BuildMenu(ui::Control& menu_control);
  void Watch(QWidget* widget, ui::Control& control);
  void Sync(ui::Control& control, QWidget* widget);
  const ControlBinder& BinderOf(const ui::Control& control) const;
  // The size of a control the screen left at zero.
  QSize DefaultSize(const ui::Control& control) const;
  // Places the children by the toolkit's layout (ui/layout.h), then theirs.
  void LayoutChildren(const ui::Control& parent, QRect client);
  QRect ClientRect(const ui::Control& control) const;
  void LayoutAll();
  // How much wider the window must be for every control placed by
  // coordinates to show whole (0 when it fits).
  int WidthShortfall() const;
  void SyncFocus();
  ui::Control* ControlOf(QObject* object) const;

  ui::Form& form_;
  bool interactive_;
  std::map<const ui::Control*, QWidget*> widgets_;
  std::map<const QObject*, ui::Control*> controls_;
  std::vector<std::pair<ui::Control*, QAction*>> actions_;
  std::map<const ui::Control*, const ControlBinder*> binders_;
  QMenuBar* menu_bar_ = nullptr;
  QProgressBar* busy_ = nullptr;
  std::vector<std::unique_ptr<data::DataLink>> links_;
  std::function<void(ui::Control&)> chained_;
  bool syncing_ = false;
  bool refresh_pending_ = false;
  std::map<const ui::Control*, double> shares_;  // set by the clerk
};

}  // namespace dg::qtview
