// WindowInput (qtview.h): a scripted user's steps as mouse and key events on
// the real widgets of the forms' views.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <vector>

#include "qtview/form_view.h"
#include "qtview/grid_view.h"
#include "qtview/qtview.h"
#include "qtview/view_support.h"

namespace dg::qtview {

namespace {

// Lets the view catch up: coalesced refreshes, focus moves, repaints.
void Settle() { QCoreApplication::processEvents(); }

void BringToFront(QWidget* window);

void ClickAt(QWidget* widget, QPoint at) {
  BringToFront(widget->window());
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
  Settle();
}

void ClickMiddle(QWidget* widget) { ClickAt(widget, widget->rect().center()); }

// The widget that takes the keys now: a grid's open cell editor, the focus
// widget where it lies in `widget` (a combo box's line), else `widget`.
QWidget* KeyTarget(QWidget* widget) {
  if (auto* grid = qobject_cast<QAbstractItemView*>(widget)) {
    if (QWidget* editor = grid->indexWidget(grid->currentIndex())) return EditorKeyTarget(editor);
  }
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr && (focus == widget || widget->isAncestorOf(focus))) return focus;
  return widget;
}

// The window comes to the front as the clerk's click brings it (a dialog
// that just closed may have left no window active).
void BringToFront(QWidget* window) {
  if (window == nullptr || QApplication::activeWindow() == window) return;
  window->activateWindow();
  Settle();
}

void PressKey(QWidget* widget, char key) {
  QWidget* target = KeyTarget(widget);
  switch (key) {
    case '\r':
      QTest::keyClick(target, Qt::Key_Return);
      break;
    case '\x1b':
      QTest::keyClick(target, Qt::Key_Escape);
      break;
    case '\b':
      QTest::keyClick(target, Qt::Key_Backspace);
      break;
    default:
      QTest::keyClick(target, key);
      break;
  }
  Settle();
}

// Types the text as keys, each to the widget that has the keys by then (the
// first key into a grid opens its cell editor).
void TypeKeys(QWidget* widget, const std::string& text) {
  for (const QChar ch : QtText(text)) {
    QWidget* target = KeyTarget(widget);
    QTest::keyClicks(target, QString(ch));
    Settle();
  }
}

// The menu bar's title clicked, each submenu on the way clicked open, then
// the item. Where the platform shows no menu (the item is not chosen), the
// open menus close and the item is chosen as its shortcut chooses it.
void OpenAndClick(QWidget& window, QAction& action) {
  std::vector<QAction*> path{&action};  // from the item up to the bar's title
  for (QAction* a = &action;;) {
    QMenu* holder = nullptr;
    for (QObject* o : a->associatedObjects()) {
      if (auto* m = qobject_cast<QMenu*>(o)) holder = m;
    }
    if (holder == nullptr) break;
    a = holder->menuAction();
    path.push_back(a);
  }
  auto* bar = window.findChild<QMenuBar*>();
  bool chosen = false;
  const QMetaObject::Connection watch =
      QObject::connect(&action, &QAction::triggered, [&chosen] { chosen = true; });
  if (bar != nullptr && path.size() > 1) {
    QWidget* in = bar;
    for (auto it = path.rbegin(); it != path.rend() && in != nullptr; ++it) {
      const QRect at =
          in == bar ? bar->actionGeometry(*it) : static_cast<QMenu*>(in)->actionGeometry(*it);
      if (at.isEmpty()) break;
      ClickAt(in, at.center());
      QMenu* next = (*it)->menu();
      if (next != nullptr && !next->isVisible() && in != bar) {
        // A submenu opens as the pointer rests on its item, or with Right.
        QTest::mouseMove(in, at.center());
        if (!QTest::qWaitFor([next] { return next->isVisible(); }, 500)) {
          QTest::keyClick(in, Qt::Key_Right);
        }
        Settle();
      }
      in = next;
      if (in != nullptr && !in->isVisible()) break;
    }
  }
  QObject::disconnect(watch);
  if (!chosen) {
    for (QAction* a : path) {
      if (a->menu() != nullptr) a->menu()->hide();
    }
    action.trigger();
  }
  Settle();
}

}  // namespace

struct WindowInput::Impl {
  std::vector<std::unique_ptr<FormView>> views;  // the screen first, its dialogs above it
  QtDialogs dialogs;

  // After a dialog box: the window under it is the active one again.
  void BackToTop() {
    if (!views.empty()) BringToFront(views.back().get());
  }

  FormView* ViewOf(const ui::Form& form) const {
    for (const auto& v : views) {
      if (&v->Form() == &form) return v.get();
    }
    return nullptr;
  }
  FormView* ViewOf(const ui::Control& control) const {
    return ViewOf(const_cast<ui::Control&>(control).OwnerForm());
  }
  QWidget* WidgetOf(const ui::Control& control) const {
    FormView* view = ViewOf(control);
    return view != nullptr ? view->WidgetOf(control) : nullptr;
  }

  // Moves the focus to the control as a clerk does: a click on it, or, for
  // kinds a click would act on (a grid's cell, a button) or that take no
  // click focus, the keyboard's move to it (as a label's shortcut moves it).
  void FocusOn(ui::Control& control) {
    if (control.Focused() || !control.TakesFocus()) return;
    QWidget* w = WidgetOf(control);
    if (w == nullptr) {
      RunUserAction([&] { ui::UserFocus(control); });
      return;
    }
    BringToFront(w->window());
    const bool clicks =
        qobject_cast<QLineEdit*>(w) != nullptr || qobject_cast<QPlainTextEdit*>(w) != nullptr ||
        (qobject_cast<QComboBox*>(w) != nullptr && static_cast<QComboBox*>(w)->isEditable());
    if (clicks) {
      QWidget* target = w;
      if (auto* box = qobject_cast<QComboBox*>(w)) target = box->lineEdit();
      if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) target = memo->viewport();
      ClickMiddle(target);
      return;
    }
    if (w->hasFocus()) w->clearFocus();
    w->setFocus(Qt::ShortcutFocusReason);
    Settle();
  }
};

WindowInput::WindowInput() : impl_(std::make_unique<Impl>()) {
  EnsureApplication();
  impl_->dialogs.AnswerAutomatically(ui::Answer::No);
}

WindowInput::~WindowInput() = default;

void WindowInput::Opened(ui::Form& form) {
  FormView* parent = impl_->views.empty() ? nullptr : impl_->views.back().get();
  auto view = std::make_unique<FormView>(form, /*interactive=*/true, parent);
  view->show();
  view->raise();
  view->activateWindow();
  Settle();
  view->Refresh();
  impl_->views.push_back(std::move(view));
}

void WindowInput::Closed(ui::Form& form) {
  for (auto it = impl_->views.begin(); it != impl_->views.end(); ++it) {
    if (&(*it)->Form() != &form) continue;
    (*it)->hide();
    impl_->views.erase(it);
    break;
  }
  if (!impl_->views.empty()) {
    impl_->views.back()->activateWindow();
    Settle();
    impl_->views.back()->Refresh();
  }
}

ui::Outcome WindowInput::Focus(ui::Control& control) {
  const ui::Outcome reach = ui::UserReach(control);
  if (reach != ui::Outcome::Done) return reach;
  if (!control.TakesFocus()) return ui::Outcome::Disabled;
  impl_->FocusOn(control);
  if (auto* box = qobject_cast<QComboBox*>(impl_->WidgetOf(control))) box->hidePopup();
  return ui::Outcome::Done;
}

void WindowInput::Activate(ui::Form& form) {
  // Another window takes the activation, then the screen's window again:
  // the view activates the form as the desktop does.
  FormView* view = impl_->ViewOf(form);
  QWidget other;
  other.resize(40, 40);
  other.show();
  other.activateWindow();
  Settle();
  other.hide();
  if (view != nullptr) view->activateWindow();
  Settle();
  RunUserAction([&form] { form.Activate(); });
  if (view != nullptr) view->Refresh();
}

ui::Outcome WindowInput::Type(ui::Control& control, const std::string& text) {
  const ui::Outcome reach = ui::UserReach(control);
  if (reach != ui::Outcome::Done) return reach;
  if (ui::TypingRefused(control)) return ui::Outcome::ReadOnly;
  QWidget* w = impl_->WidgetOf(control);
  QLineEdit* line = qobject_cast<QLineEdit*>(w);
  if (auto* box = qobject_cast<QComboBox*>(w)) line = box->lineEdit();
  auto* memo = qobject_cast<QPlainTextEdit*>(w);
  if (line == nullptr && memo == nullptr) return ui::UserType(control, text);
  impl_->FocusOn(control);
  if (!control.Focused()) return ui::Outcome::Done;  // a handler kept the focus elsewhere
  // The text selected, then typed over key by key.
  QWidget* keys = line != nullptr ? static_cast<QWidget*>(line) : memo;
  QTest::keyClick(keys, Qt::Key_A, Qt::ControlModifier);
  if (text.empty()) QTest::keyClick(keys, Qt::Key_Delete);
  Settle();
  TypeKeys(keys, text);
  // A line that takes its value when the clerk leaves it takes it now, as
  // the next step's click elsewhere would.
  if (line != nullptr && line->isModified()) emit line->editingFinished();
  Settle();
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::Select(ui::ComboBox& combo, int index) {
  const ui::Outcome reach = ui::UserReach(combo);
  if (reach != ui::Outcome::Done) return reach;
  auto* box = qobject_cast<QComboBox*>(impl_->WidgetOf(combo));
  if (box == nullptr || index < 0) return ui::UserSelect(combo, index);
  // The combo box opened with a click; the focus moves there first.
  ClickMiddle(box);
  if (!combo.Focused() && combo.TakesFocus()) {
    box->hidePopup();
    Settle();
    return ui::Outcome::Done;  // a handler kept the focus elsewhere
  }
  if (!box->view()->isVisible()) {
    box->showPopup();
    Settle();
  }
  if (index >= box->count()) {
    QTest::keyClick(box->view(), Qt::Key_Escape);
    box->hidePopup();
    Settle();
    return ui::Outcome::NoSuchItem;
  }
  QAbstractItemView* list = box->view();
  const QModelIndex item = list->model()->index(index, box->modelColumn(), list->rootIndex());
  list->scrollTo(item);
  Settle();
  // The list takes a release only once the press that opened it is over:
  // a press and release on the item, as a clerk's click.
  const QPoint at = list->visualRect(item).center();
  QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier, at, 300);
  QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, at, 50);
  Settle();
  if (list->isVisible()) {
    // The platform kept the list open: Enter on the item picks it.
    list->setCurrentIndex(item);
    QTest::keyClick(list, Qt::Key_Return);
    Settle();
  }
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::Click(ui::Control& control) {
  const ui::Outcome reach = ui::UserReach(control);
  if (reach != ui::Outcome::Done) return reach;
  if (dynamic_cast<ui::MenuItem*>(&control) != nullptr) {
    FormView* view = impl_->ViewOf(control);
    QAction* action = view != nullptr ? view->ActionOf(control) : nullptr;
    if (action == nullptr || !action->isEnabled()) return ui::UserClick(control);
    OpenAndClick(*view, *action);
    return ui::Outcome::Done;
  }
  auto* button = qobject_cast<QAbstractButton*>(impl_->WidgetOf(control));
  if (button == nullptr) return ui::UserClick(control);
  ClickMiddle(button);
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::SelectTab(ui::PageControl& pages, ui::TabSheet& sheet) {
  if (&sheet.Pages() != &pages) return ui::UserSelectTab(pages, sheet);
  const ui::Outcome reach = ui::UserReach(pages);
  if (reach != ui::Outcome::Done) return reach;
  if (!sheet.Visible() || !sheet.tab_visible) return ui::Outcome::Hidden;
  if (!sheet.Enabled()) return ui::Outcome::Disabled;
  auto* tabs = qobject_cast<QTabWidget*>(impl_->WidgetOf(pages));
  QWidget* page = impl_->WidgetOf(sheet);
  const int index = tabs != nullptr && page != nullptr ? tabs->indexOf(page) : -1;
  if (index < 0) return ui::UserSelectTab(pages, sheet);
  QTabBar* bar = tabs->tabBar();
  ClickAt(bar, bar->tabRect(index).center());
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::ClickCell(ui::DataGrid& grid, std::optional<int> row,
                                   const std::optional<std::string>& field) {
  const ui::Outcome reach = ui::UserReach(grid);
  if (reach != ui::Outcome::Done) return reach;
  auto* view = qobject_cast<GridView*>(impl_->WidgetOf(grid));
  if (view == nullptr) return ui::UserClickCell(grid, row, field);
  const auto there = [&] {
    const int r = row.value_or(grid.CurrentRow());
    return r >= 1 && r <= grid.RowCount();
  };
  // A grid that fills only when the focus enters it: the clerk's click
  // lands on the cell once it is there.
  if (!there() && !grid.Focused()) impl_->FocusOn(grid);
  int column = grid.SelectedIndex();
  if (field) {
    column = grid.ColumnIndexOf(*field);
    if (column < 0) throw Error("grid " + grid.Name() + " shows no column " + *field);
  }
  if (!there()) {
    if (row) return ui::Outcome::NoSuchRow;
    return ui::UserClickCell(grid, row, field);  // no row to click on
  }
  const QModelIndex index = view->Model().index(row.value_or(grid.CurrentRow()) - 1, column);
  view->scrollTo(index);
  Settle();
  const QRect cell = view->visualRect(index);
  if (!cell.isValid() || !view->viewport()->rect().intersects(cell)) {
    return ui::UserClickCell(grid, row, field);  // a hidden column
  }
  ClickAt(view->viewport(), cell.center());
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::EditCell(ui::DataGrid& grid, const std::string& text) {
  const ui::Outcome reach = ui::UserReach(grid);
  if (reach != ui::Outcome::Done) return reach;
  if (!grid.CanEditSelected()) return ui::Outcome::ReadOnly;
  auto* view = qobject_cast<GridView*>(impl_->WidgetOf(grid));
  if (view == nullptr) return ui::UserEditCell(grid, text);
  impl_->FocusOn(grid);
  if (!grid.CanEditSelected()) return ui::Outcome::ReadOnly;
  QWidget* editor = view->indexWidget(view->currentIndex());
  const auto first = static_cast<unsigned char>(text.empty() ? 0 : text[0]);
  if (editor == nullptr && first != 0 && first < 0x80 && !grid.TakesKey(static_cast<char>(first))) {
    // A first key the cell refuses: the clerk opens the cell's editor first.
    QTest::keyClick(view, Qt::Key_F2);
    Settle();
    editor = view->indexWidget(view->currentIndex());
  }
  if (editor != nullptr) {
    // The cell's text is typed over, not added to.
    QTest::keyClick(KeyTarget(view), Qt::Key_A, Qt::ControlModifier);
    Settle();
  }
  TypeKeys(view, text);
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::Key(ui::Control& control, char key) {
  const ui::Outcome reach = ui::UserReach(control);
  if (reach != ui::Outcome::Done) return reach;
  QWidget* w = impl_->WidgetOf(control);
  if (w == nullptr) return ui::UserKey(control, key);
  impl_->FocusOn(control);
  PressKey(w, key);
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::Post(ui::DataGrid& grid) {
  const ui::Outcome reach = ui::UserReach(grid);
  if (reach != ui::Outcome::Done) return reach;
  QWidget* w = impl_->WidgetOf(grid);
  if (w == nullptr) return ui::UserPost(grid);
  impl_->FocusOn(grid);
  PressKey(w, '\r');
  return ui::Outcome::Done;
}

ui::Outcome WindowInput::Close(ui::Form& form) {
  FormView* view = impl_->ViewOf(form);
  if (view == nullptr) return ui::UserClose(form);
  view->close();  // the window's close button
  Settle();
  return ui::Outcome::Done;
}

ui::Answer WindowInput::AnswerQuestion(const std::string& text, ui::Answer answer) {
  impl_->dialogs.AnswerAutomatically(answer);
  const ui::Answer given = impl_->dialogs.Question(text);
  impl_->BackToTop();
  return given;
}

void WindowInput::Acknowledge(const std::string& text, bool error) {
  impl_->dialogs.AnswerAutomatically(ui::Answer::Yes);
  if (error) {
    impl_->dialogs.Error(text);
  } else {
    impl_->dialogs.Info(text);
  }
  impl_->BackToTop();
}

std::optional<int> WindowInput::PickRow(const ui::ListDialog& list, std::optional<int> row) {
  impl_->dialogs.AnswerAutomatically(row ? ui::Answer::Yes : ui::Answer::No, row.value_or(-1));
  const std::optional<int> picked = impl_->dialogs.PickFromList(list);
  impl_->BackToTop();
  return picked;
}

bool WindowInput::GrabToPng(const ui::Form& form, const std::string& path) const {
  FormView* view = impl_->ViewOf(form);
  if (view == nullptr) return false;
  Settle();
  const QPixmap picture = view->grab();
  return !picture.isNull() && picture.save(QtText(path), "PNG");
}

}  // namespace dg::qtview
