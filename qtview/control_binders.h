// One binder per kind of headless control: it makes the Qt widget that
// shows the control, connects the widget's user signals to the control
// (interactive views only) and shows the control's own state on it (text,
// items, active page). The kind is looked up once, when the form view makes
// the widget; what every kind shares (geometry, visibility, enabled flag,
// colours, font, hint) is the form view's.
//
// Binders hold no state: one shared instance per kind. The GUI thread only.
#pragma once

#include <QSize>

class QWidget;

namespace dg::ui {
class Control;
}

namespace dg::qtview {

class FormView;

class ControlBinder {
 public:
  virtual ~ControlBinder() = default;
  // The widget for `control` under `parent`. On an interactive view its
  // user signals go to the control through view.Gesture, and are ignored
  // while the view is syncing.
  virtual QWidget* Create(FormView& view, ui::Control& control, QWidget* parent) const = 0;
  // Shows the control's own state on `widget` (made by Create).
  virtual void Sync(FormView& view, ui::Control& control, QWidget* widget) const {}
  // The size of a control the screen left at zero; `hint` is its widget's
  // size hint.
  virtual QSize DefaultSize(const ui::Control& control, QSize hint) const { return {185, 41}; }
  // The width the widget needs to show its text whole in its font (0: the
  // layout's width will do). The view never makes the control narrower
  // than the layout says.
  virtual int ContentWidth(const ui::Control& control, const QWidget& widget) const { return 0; }
  // A tab page: its caption, visibility and enabled flag are its tab's, so
  // the view leaves all of its state to Sync.
  virtual bool IsTabPage() const { return false; }
  // A click moves the headless focus before the widget sees it. Not for
  // the kinds whose widget forwards its clicks itself (grids, buttons).
  virtual bool ClickMovesFocus() const { return true; }
  // The widget forwards its own keys (the grid view).
  virtual bool OwnKeys() const { return false; }
  // The widget paints the control's colour itself (the grid view).
  virtual bool OwnBackground() const { return false; }
};

// The binder of the control's kind; a panel's for kinds without their own.
const ControlBinder& BinderFor(const ui::Control& control);

}  // namespace dg::qtview
