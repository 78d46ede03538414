#include "qtview/form_view.h"

#include <functional>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "qtview/control_binders.h"
#include "qtview/grid_view.h"
#include "qtview/view_support.h"
#include "ui/layout.h"
#include "ui/user_actions.h"

namespace dg::qtview {

namespace {

constexpr int kDefaultFormWidth = 1000;
constexpr int kDefaultFormHeight = 650;

// Menus are the menu bar's, not widgets of their own.
bool IsMenuKind(const ui::Control& c) {
  return dynamic_cast<const ui::Menu*>(&c) != nullptr ||
         dynamic_cast<const ui::MenuItem*>(&c) != nullptr;
}

// Keeps a form's views informed of dataset changes shown by data-aware
// controls (grids have their own model links).
class SourceLink : public data::DataLink {
 public:
  SourceLink(data::DataSource& source, FormView& view) : source_(source), view_(view) {
    source_.AddLink(this);
  }
  ~SourceLink() override { source_.RemoveLink(this); }
  SourceLink(const SourceLink&) = delete;
  SourceLink& operator=(const SourceLink&) = delete;
  void StateChanged() override { view_.ScheduleRefresh(); }
  void DataChanged() override { view_.ScheduleRefresh(); }
  void LayoutChanged() override { view_.ScheduleRefresh(); }

 private:
  data::DataSource& source_;
  FormView& view_;
};

}  // namespace

FormView::FormView(ui::Form& form, bool interactive, QWidget* parent)
    : QDialog(parent), form_(form), interactive_(interactive) {
  setObjectName(QtText(form.Name()));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  widgets_[&form_] = this;
  controls_[this] = &form_;
  for (ui::Control* child : form_.Children()) {
    if (auto* menu = dynamic_cast<ui::Menu*>(child); menu != nullptr && !menu->popup) {
      BuildMenu(*menu);
    }
  }
  Build(form_, this);
  busy_ = new QProgressBar(this);
  busy_->setRange(0, 0);
  busy_->setTextVisible(false);
  busy_->setFixedSize(120, 12);
  busy_->hide();

  int w = form_.client_width > 0 ? form_.client_width : form_.width;
  int h = form_.client_height > 0 ? form_.client_height : form_.height;
  if (w <= 0) w = kDefaultFormWidth;
  if (h <= 0) h = kDefaultFormHeight;
  if (menu_bar_ != nullptr) h += menu_bar_->sizeHint().height();
  resize(w, h);

  if (interactive_) {
    chained_ = form_.on_control_changed;
    form_.on_control_changed = [this](ui::Control& c) {
      if (chained_) chained_(c);
      ScheduleRefresh();
    };
    std::vector<data::DataSource*> sources;
    for (ui::Control* c : form_.AllControls()) {
      data::DataSource* s = nullptr;
      if (auto* d = dynamic_cast<ui::DataControl*>(c)) s = d->data_source;
      if (auto* n = dynamic_cast<ui::DBNavigator*>(c)) s = n->data_source;
      if (s != nullptr && std::find(sources.begin(), sources.end(), s) == sources.end()) {
        sources.push_back(s);
        links_.push_back(std::make_unique<SourceLink>(*s, *this));
      }
    }
  }
  Refresh();
  // Controls widened to their text may stick out of a window sized for
  // another font: the window grows to show them whole.
  if (const int more = WidthShortfall(); more > 0) resize(width() + more, height());
}

FormView::~FormView() {
  links_.clear();
  if (interactive_) form_.on_control_changed = chained_;
}

QWidget* FormView::WidgetOf(const ui::Control& control) const {
  auto it = widgets_.find(&control);
  return it != widgets_.end() ? it->second : nullptr;
}

QAction* FormView::ActionOf(const ui::Control& item) const {
  for (const auto& [control, action] : actions_) {
    if (control == &item) return action;
  }
  return nullptr;
}

ui::Control* FormView::ControlOf(QObject* object) const {
  for (QObject* o = object; o != nullptr; o = o->parent()) {
    auto it = controls_.find(o);
    if (it != controls_.end()) return it->second;
    if (o == this) break;
  }
  return nullptr;
}

void FormView::Gesture(const std::function<void()>& fn) {
  RunUserAction(fn);
  Refresh();
  if (after_gesture) after_gesture();
}

// ---- Building

void FormView::BuildMenu(ui::Control& menu_control) {
  menu_bar_ = new QMenuBar(this);
  std::function<void(ui::Control&, QMenu*)> add = [&](ui::Control& item, QMenu* into) {
    for (ui::Control* child : item.Children()) {
      auto* mi = dynamic_cast<ui::MenuItem*>(child);
      if (mi == nullptr) continue;
      QString caption = QtText(mi->Caption());
      if (caption.isEmpty()) caption = QtText(mi->Name()).remove(QStringLiteral("mnu"));
      QAction* action = nullptr;
      if (!mi->Children().empty()) {
        QMenu* sub = into != nullptr ? into->addMenu(caption) : menu_bar_->addMenu(caption);
        action = sub->menuAction();
        add(*mi, sub);
      } else {
        action = into != nullptr ? into->addAction(caption) : menu_bar_->addAction(caption);
        if (!mi->shortcut.empty()) action->setShortcut(QKeySequence(QtText(mi->shortcut)));
        if (interactive_) {
          connect(action, &QAction::triggered, this,
                  [this, mi] { Gesture([mi] { ui::UserClick(*mi); }); });
        }
      }
      actions_.emplace_back(mi, action);
    }
  };
  add(menu_control, nullptr);
}

void FormView::Build(ui::Control& parent, QWidget* parent_widget) {
  std::vector<ui::Control*> children = parent.Children();
  if (auto* pages = dynamic_cast<ui::PageControl*>(&parent)) {
    children.assign(pages->Pages().begin(), pages->Pages().end());  // in tab order
  }
  for (ui::Control* child : children) {
    if (IsMenuKind(*child)) continue;
    QWidget* w = CreateWidget(*child, parent_widget);
    if (w == nullptr) continue;
    widgets_[child] = w;
    controls_[w] = child;
    if (interactive_) Watch(w, *child);
    Build(*child, w);
  }
}

QWidget* FormView::CreateWidget(ui::Control& c, QWidget* parent) {
  const ControlBinder& binder = BinderFor(c);
  QWidget* w = binder.Create(*this, c, parent);
  binders_[&c] = &binder;
  w->setObjectName(QtText(c.Name()));
  if (!c.TakesFocus()) w->setFocusPolicy(Qt::NoFocus);
  return w;
}

const ControlBinder& FormView::BinderOf(const ui::Control& control) const {
  auto it = binders_.find(&control);
  return it != binders_.end() ? *it->second : BinderFor(control);
}

QSize FormView::DefaultSize(const ui::Control& control) const {
  const QWidget* w = WidgetOf(control);
  return BinderOf(control).DefaultSize(control, w != nullptr ? w->sizeHint() : QSize(64, 21));
}

void FormView::Watch(QWidget* widget, ui::Control& control) {
  widget->installEventFilter(this);
  if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
    // A click on a tab is a click on the page control (see eventFilter).
    tabs->tabBar()->installEventFilter(this);
  }
  if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
    area->viewport()->installEventFilter(this);
    if (qobject_cast<QTableView*>(widget) == nullptr) controls_[area->viewport()] = &control;
  }
  if (auto* box = qobject_cast<QComboBox*>(widget); box != nullptr && box->lineEdit()) {
    box->lineEdit()->installEventFilter(this);
  }
}

// ---- Events

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (auto* w = qobject_cast<QWidget*>(watched)) {
      if (ui::Control* c = ControlOf(w); c != nullptr && widgets_[c] == w) {
        LayoutChildren(*c, ClientRect(*c));
      }
    }
    return false;
  }
  if (!interactive_ || syncing_) return false;
  ui::Control* c = ControlOf(watched);
  if (c == nullptr || c == &form_) return false;

  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      // A click on an input control moves the headless focus first; when a
      // handler refuses the move, the click goes no further.
      if (!BinderOf(*c).ClickMovesFocus() || !c->TakesFocus() || c->Focused()) {
        return false;
      }
      if (auto* bar = qobject_cast<QTabBar*>(watched)) {
        // Only a tab the clerk can select takes the focus to the page
        // control, before the page changes (as the toolkit's selection).
        const int tab = bar->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (tab < 0 || !bar->isTabEnabled(tab)) return false;
      }
      Gesture([c] { ui::UserFocus(*c); });
      return !c->Focused();
    }
    case QEvent::FocusIn: {
      auto* focus = static_cast<QFocusEvent*>(event);
      if (focus->reason() == Qt::ShortcutFocusReason && c->TakesFocus() && !c->Focused()) {
        Gesture([c] { ui::UserFocus(*c); });
      }
      return false;
    }
    case QEvent::KeyPress: {
      if (BinderOf(*c).OwnKeys()) return false;
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (auto* line = qobject_cast<QLineEdit*>(watched)) emit line->editingFinished();
        Gesture([c] { ui::UserKey(*c, '\r'); });
        return true;
      }
      if (key->key() == Qt::Key_Escape) {
        Gesture([c] { ui::UserKey(*c, '\x1b'); });
        return true;
      }
      // Keys a handler wants to see go through the control's key events;
      // other typing is the edit's own (its text changes are forwarded).
      const bool handled = c->on_key_press || c->on_key_down || form_.key_preview;
      const std::string text = StdText(key->text());
      if (handled && text.size() == 1 && static_cast<unsigned char>(text[0]) >= 32 &&
          qobject_cast<QLineEdit*>(watched) != nullptr) {
        Gesture([c, ch = text[0]] { ui::UserKey(*c, ch); });
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool FormView::focusNextPrevChild(bool next) {
  // Qt moves the focus on its own away from a widget it hides (the page a
  // tab click leaves) or disables: that is no move of the clerk's, and the
  // screen's focus stays where it is (the next refresh shows it). Only Tab
  // and Shift+Tab in a widget the clerk can use move it.
  QWidget* from = focusWidget();
  const bool clerk = from != nullptr && from->isVisible() && from->isEnabled();
  if (!interactive_ || syncing_ || !clerk) return QDialog::focusNextPrevChild(next);
  Gesture([this, next] { form_.SelectNext(next); });
  return true;
}

void FormView::closeEvent(QCloseEvent* event) {
  if (!interactive_ || !form_.IsOpen()) {
    event->accept();
    return;
  }
  Gesture([this] { ui::UserClose(form_); });
  if (form_.IsOpen()) {
    event->ignore();
  } else {
    event->accept();
  }
}

void FormView::reject() {
  // Escape belongs to the controls; the window closes through closeEvent.
  if (!interactive_ || !form_.IsOpen()) QDialog::reject();
}

void FormView::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (menu_bar_ != nullptr) menu_bar_->setGeometry(0, 0, width(), menu_bar_->sizeHint().height());
  LayoutAll();
}

void FormView::ShowBusyIndicator(bool on) {
  busy_->move(width() - busy_->width() - 8, height() - busy_->height() - 8);
  busy_->raise();
  busy_->setVisible(on);
  if (on) busy_->repaint();
}

// ---- Layout

// What the toolkit's layout asks of the widgets.
class FormView::Measures final : public ui::LayoutMeasures {
 public:
  explicit Measures(const FormView& view) : view_(view) {}
  bool Shown(const ui::Control& c) const override { return view_.WidgetOf(c) != nullptr; }
  ui::Size DefaultSize(const ui::Control& c) const override {
    const QSize size = view_.DefaultSize(c);
    return {size.width(), size.height()};
  }
  int ContentWidth(const ui::Control& c) const override {
    const QWidget* w = view_.WidgetOf(c);
    return w != nullptr ? view_.BinderOf(c).ContentWidth(c, *w) : 0;
  }
  bool IsTabPage(const ui::Control& c) const override { return view_.BinderOf(c).IsTabPage(); }
  int DefaultFormWidth() const override { return kDefaultFormWidth; }

 private:
  const FormView& view_;
};

QRect FormView::ClientRect(const ui::Control& control) const {
  QWidget* w = WidgetOf(control);
  if (w == nullptr) return {};
  if (&control == &form_) {
    const int top = menu_bar_ != nullptr ? menu_bar_->sizeHint().height() : 0;
    return QRect(0, top, width(), height() - top);
  }
  if (auto* frame = qobject_cast<QFrame*>(w)) return frame->contentsRect();
  return w->rect();
}

void FormView::LayoutAll() { LayoutChildren(form_, ClientRect(form_)); }

int FormView::WidthShortfall() const {
  // Whether the control's width follows the window's.
  const std::function<bool(const ui::Control*)> follows = [&](const ui::Control* c) {
    if (c == nullptr || c == &form_) return true;
    const bool stretches = c->align == ui::Align::Top || c->align == ui::Align::Bottom ||
                           c->align == ui::Align::Client;
    return stretches && follows(c->Parent());
  };
  constexpr int kMargin = 4;
  int shortfall = 0;
  for (ui::Control* c : form_.AllControls()) {
    QWidget* w = WidgetOf(*c);
    // Tab pages are placed by their page control.
    if (c->align != ui::Align::None || w == nullptr || !c->Showing() || BinderOf(*c).IsTabPage() ||
        w->parentWidget() == nullptr || !follows(c->Parent())) {
      continue;
    }
    const int room = w->parentWidget()->contentsRect().right();
    shortfall = std::max(shortfall, w->geometry().right() + kMargin - room);
  }
  return shortfall;
}

int FormView::DesignWidth(const ui::Control& c) const {
  return ui::DesignWidth(c, Measures(*this));
}

void FormView::DragSplitter(const ui::Control& splitter, int dx) {
  const ui::Control* parent = splitter.Parent();
  QWidget* bar = WidgetOf(splitter);
  if (parent == nullptr || bar == nullptr || dx == 0) return;
  // The control the splitter divides from the rest: beside it, on its side.
  for (const ui::Control* k : parent->Children()) {
    QWidget* w = WidgetOf(*k);
    if (k == &splitter || k->align != splitter.align || w == nullptr || !w->isVisible()) continue;
    const QRect g = w->geometry();
    const bool left = k->align == ui::Align::Left && g.right() + 1 == bar->geometry().left();
    const bool right = k->align == ui::Align::Right && g.left() == bar->geometry().right() + 1;
    if (!left && !right) continue;
    const int room = ClientRect(*parent).width();
    if (room <= 0) return;
    const int width = ui::ClampSideWidth(g.width() + (left ? dx : -dx), room);
    shares_[k] = static_cast<double>(width) / room;
    LayoutChildren(*parent, ClientRect(*parent));
    return;
  }
}

std::map<std::string, double> FormView::SplitterShares() const {
  std::map<std::string, double> shares;
  for (const auto& [control, share] : shares_) shares[control->Name()] = share;
  return shares;
}

void FormView::SetSplitterShares(const std::map<std::string, double>& shares) {
  for (const auto& [name, share] : shares) {
    const ui::Control* c = form_.Find(name);
    if (c != nullptr && share > 0 && share < 1 && ui::BesideSplitter(*c)) shares_[c] = share;
  }
  LayoutAll();
}

void FormView::LayoutChildren(const ui::Control& parent, QRect client) {
  if (dynamic_cast<const ui::PageControl*>(&parent) != nullptr) {
    // The tab widget places the pages; each page lays itself out when resized.
    for (ui::Control* sheet : parent.Children()) LayoutChildren(*sheet, ClientRect(*sheet));
    return;
  }
  const ui::Rect room{client.left(), client.top(), client.right() + 1, client.bottom() + 1};
  for (const ui::Placement& p : ui::LayoutChildren(parent, room, Measures(*this), shares_)) {
    WidgetOf(*p.control)->setGeometry(p.rect.left, p.rect.top, p.rect.Width(), p.rect.Height());
    LayoutChildren(*p.control, ClientRect(*p.control));
  }
}

// ---- Refresh

void FormView::ScheduleRefresh() {
  if (refresh_pending_) return;
  refresh_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    refresh_pending_ = false;
    Refresh();
  });
}

void FormView::Refresh() {
  const bool was = syncing_;
  syncing_ = true;
  setUpdatesEnabled(!form_.UpdatesLocked());
  setWindowTitle(QtText(form_.Caption()));
  for (const auto& [control, widget] : widgets_) {
    if (control != &form_) Sync(*const_cast<ui::Control*>(control), widget);
  }
  for (const auto& [item, action] : actions_) {
    action->setEnabled(item->Enabled());
    action->setVisible(item->Visible());
  }
  LayoutAll();
  if (interactive_) SyncFocus();
  syncing_ = was;
  if (updatesEnabled()) update();
}

void FormView::SyncFocus() {
  ui::Control* active = form_.ActiveControl();
  if (active == nullptr) return;
  QWidget* w = WidgetOf(*active);
  // The page control's keys are its tab bar's, not a control's on the page.
  if (auto* tabs = qobject_cast<QTabWidget*>(w)) w = tabs->tabBar();
  if (w == nullptr || QApplication::focusWidget() == w ||
      w->isAncestorOf(QApplication::focusWidget()))
    return;
  if (w->isVisible() && w->isEnabled()) w->setFocus(Qt::OtherFocusReason);
}

void FormView::Sync(ui::Control& c, QWidget* w) {
  const ControlBinder& binder = BinderOf(c);
  if (!binder.IsTabPage()) {
    if (w->isVisibleTo(w->parentWidget()) != c.Visible()) w->setVisible(c.Visible());
    if (w->isEnabled() != c.Enabled()) w->setEnabled(c.Enabled());
    w->setToolTip(QtText(c.hint));

    const QFont font = QtFont(c.font, QApplication::font());
    if (w->font() != font) w->setFont(font);
    QPalette p = w->palette();
    if (c.font.color != ui::ColorName::Default) {
      const QColor ink = QtColor(ui::ResolveColor(c.font.color));
      p.setColor(QPalette::WindowText, ink);
      p.setColor(QPalette::Text, ink);
    }
    if (c.color != ui::ColorName::Default && !binder.OwnBackground()) {
      const QColor back = QtColor(ui::ResolveColor(c.color));
      p.setColor(QPalette::Window, back);
      p.setColor(QPalette::Base, back);
      w->setAutoFillBackground(true);
    }
    w->setPalette(p);
  }
  binder.Sync(*this, c, w);
}

}  // namespace dg::qtview
