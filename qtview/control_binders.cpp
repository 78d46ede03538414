#include "qtview/control_binders.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "qtview/form_view.h"
#include "qtview/grid_view.h"
#include "qtview/qt_canvas.h"
#include "qtview/view_support.h"
#include "ui/grid.h"
#include "ui/user_actions.h"

namespace dg::qtview {

namespace {

// Sets a line's text when it differs; the caret stays where the clerk is
// typing.
void SetLine(QLineEdit* line, const std::string& text) {
  const QString want = QtText(text);
  if (line->text() == want) return;
  const int pos = line->cursorPosition();
  line->setText(want);
  if (line->hasFocus()) line->setCursorPosition(std::min(pos, static_cast<int>(want.size())));
}

class GridBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    return new GridView(
        static_cast<ui::DataGrid&>(c),
        [&view] {
          view.Refresh();
          if (view.after_gesture) view.after_gesture();
        },
        parent);
  }
  void Sync(FormView&, ui::Control&, QWidget* w) const override {
    static_cast<GridView*>(w)->SyncFromGrid();
  }
  QSize DefaultSize(const ui::Control&, QSize) const override { return {320, 120}; }
  bool ClickMovesFocus() const override { return false; }
  bool OwnKeys() const override { return true; }
  bool OwnBackground() const override { return true; }
};

class PagesBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* pages = static_cast<ui::PageControl*>(&c);
    auto* tabs = new QTabWidget(parent);
    if (view.Interactive()) {
      QObject::connect(tabs, &QTabWidget::currentChanged, &view, [&view, pages](int index) {
        if (view.Syncing() || index < 0 || index >= static_cast<int>(pages->Pages().size())) {
          return;
        }
        ui::TabSheet* sheet = pages->Pages()[static_cast<std::size_t>(index)];
        if (sheet == pages->ActivePage()) return;
        RunUserAction([&] { ui::UserSelectTab(*pages, *sheet); });
        // The tab bar is still switching: show the headless page afterwards.
        view.ScheduleRefresh();
        if (view.after_gesture) view.after_gesture();
      });
    }
    return tabs;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto* tabs = static_cast<QTabWidget*>(w);
    const int index = static_cast<ui::PageControl&>(c).ActivePageIndex();
    if (index >= 0 && tabs->currentIndex() != index) tabs->setCurrentIndex(index);
  }
};

class TabSheetBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* page = new QWidget();
    if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
      const bool was = view.Syncing();
      view.SetSyncing(true);  // adding the first tab is no user's switch
      tabs->addTab(page, QtText(c.Caption()));
      view.SetSyncing(was);
    }
    page->installEventFilter(&view);  // lays its controls out when resized
    return page;
  }
  void Sync(FormView& view, ui::Control& c, QWidget* w) const override {
    auto& sheet = static_cast<ui::TabSheet&>(c);
    auto* tabs = qobject_cast<QTabWidget*>(view.WidgetOf(sheet.Pages()));
    int index = tabs != nullptr ? tabs->indexOf(w) : -1;
    if (index >= 0 && index != sheet.PageIndex() && sheet.PageIndex() >= 0 &&
        sheet.PageIndex() < tabs->count()) {
      tabs->tabBar()->moveTab(index, sheet.PageIndex());  // the sheets were reordered
      index = sheet.PageIndex();
    }
    if (index >= 0) {
      tabs->setTabText(index, QtText(sheet.Caption()));
      tabs->setTabVisible(index, sheet.Visible() && sheet.tab_visible);
      tabs->setTabEnabled(index, sheet.Enabled());
    }
  }
  bool IsTabPage() const override { return true; }
};

// Memo and DBMemo.
class MemoBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* memo = new QPlainTextEdit(parent);
    memo->setTabChangesFocus(true);
    if (view.Interactive()) {
      QObject::connect(memo, &QPlainTextEdit::textChanged, &view, [&view, memo, &c] {
        if (view.Syncing()) return;
        const std::string text = StdText(memo->toPlainText());
        view.Gesture([&] { ui::UserType(c, text); });
      });
    }
    return memo;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto* memo = static_cast<QPlainTextEdit*>(w);
    const QString want = QtText(c.Text());
    if (memo->toPlainText() != want) memo->setPlainText(want);
    const auto* m = dynamic_cast<const ui::Memo*>(&c);
    const auto* d = dynamic_cast<const ui::DBEdit*>(&c);
    memo->setReadOnly((m != nullptr && m->read_only) || (d != nullptr && d->read_only));
    ui::ScrollBars bars = ui::ScrollBars::None;
    if (m != nullptr) bars = m->scroll_bars;
    if (const auto* dm = dynamic_cast<const ui::DBMemo*>(&c)) bars = dm->scroll_bars;
    const bool vertical = bars == ui::ScrollBars::Vertical || bars == ui::ScrollBars::Both;
    const bool horizontal = bars == ui::ScrollBars::Horizontal || bars == ui::ScrollBars::Both;
    memo->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    memo->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  }
  QSize DefaultSize(const ui::Control&, QSize) const override { return {185, 89}; }
};

// Field and number entry is taken when the clerk leaves the box or presses
// Enter: a half-typed number is not a value yet.
QLineEdit* CreateCommittingLine(FormView& view, ui::Control& c, QWidget* parent) {
  auto* line = new QLineEdit(parent);
  if (view.Interactive()) {
    QObject::connect(line, &QLineEdit::editingFinished, &view, [&view, line, &c] {
      if (view.Syncing() || !line->isModified()) return;
      line->setModified(false);
      const std::string text = StdText(line->text());
      view.Gesture([&] { ui::UserType(c, text); });
    });
  }
  return line;
}

class LineBinder : public ControlBinder {
 public:
  QSize DefaultSize(const ui::Control&, QSize) const override { return {121, 21}; }
};

class DBEditBinder : public LineBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    return CreateCommittingLine(view, c, parent);
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto& db = static_cast<ui::DBEdit&>(c);
    auto* line = static_cast<QLineEdit*>(w);
    SetLine(line, line->hasFocus() ? db.Text() : db.DisplayText());
    line->setReadOnly(db.read_only || db.BoundField() == nullptr);
  }
};

class NumberBoxBinder : public LineBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    QLineEdit* line = CreateCommittingLine(view, c, parent);
    line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return line;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto& number = static_cast<ui::NumberBox&>(c);
    auto* line = static_cast<QLineEdit*>(w);
    if (!line->isModified()) SetLine(line, number.Text());
    line->setReadOnly(number.read_only);
  }
};

// Edit and MaskEdit: every keystroke goes to the control.
class EditBinder : public LineBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* line = new QLineEdit(parent);
    if (view.Interactive()) {
      QObject::connect(line, &QLineEdit::textEdited, &view, [&view, &c](const QString& text) {
        const std::string typed = StdText(text);
        view.Gesture([&] { ui::UserType(c, typed); });
      });
    }
    return line;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto& edit = static_cast<ui::Edit&>(c);
    auto* line = static_cast<QLineEdit*>(w);
    SetLine(line, edit.DisplayText());
    line->setReadOnly(edit.read_only);
    line->setMaxLength(edit.max_length > 0 ? edit.max_length : 32767);
  }
};

class ComboBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* combo = static_cast<ui::ComboBox*>(&c);
    auto* box = new QComboBox(parent);
    box->setEditable(combo->style == ui::ComboStyle::DropDown);
    if (view.Interactive()) {
      QObject::connect(box, qOverload<int>(&QComboBox::activated), &view,
                       [&view, combo](int i) { view.Gesture([&] { ui::UserSelect(*combo, i); }); });
      if (box->isEditable()) {
        QObject::connect(box->lineEdit(), &QLineEdit::textEdited, &view,
                         [&view, combo](const QString& t) {
                           const std::string typed = StdText(t);
                           view.Gesture([&] { ui::UserType(*combo, typed); });
                         });
      }
    }
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
  }
  int ContentWidth(const ui::Control&, const QWidget& w) const override {
    return static_cast<const QComboBox&>(w).sizeHint().width();
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto& combo = static_cast<ui::ComboBox&>(c);
    auto* box = static_cast<QComboBox*>(w);
    QStringList items;
    for (const std::string& item : combo.items) items << QtText(item);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
    if (items != shown) {
      box->clear();
      box->addItems(items);
    }
    if (box->currentIndex() != combo.ItemIndex()) box->setCurrentIndex(combo.ItemIndex());
    if (box->isEditable() && box->currentText() != QtText(combo.Text())) {
      box->setEditText(QtText(combo.Text()));
    }
  }
  QSize DefaultSize(const ui::Control&, QSize) const override { return {145, 21}; }
};

// Connects a button's clicks to the control.
template <typename Button>
void ForwardClicks(FormView& view, Button* button, ui::Control& c) {
  if (!view.Interactive()) return;
  QObject::connect(button, &Button::clicked, &view,
                   [&view, &c] { view.Gesture([&] { ui::UserClick(c); }); });
}

class SpeedButtonBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ForwardClicks(view, button, c);
    return button;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    // A button without caption shows its hint, or an ellipsis where the
    // hint does not fit (the small search buttons).
    auto* tool = static_cast<QToolButton*>(w);
    QString text = QtText(c.Caption().empty() ? c.hint : c.Caption());
    if (c.Caption().empty() && c.width > 0 &&
        tool->fontMetrics().horizontalAdvance(text) + 8 > c.width) {
      text = QStringLiteral("…");
    }
    tool->setText(text);
  }
  QSize DefaultSize(const ui::Control&, QSize hint) const override {
    return {std::max(hint.width(), 25), 25};
  }
  bool ClickMovesFocus() const override { return false; }
};

class ButtonBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* button = new QPushButton(parent);
    button->setAutoDefault(false);
    ForwardClicks(view, button, c);
    return button;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    static_cast<QPushButton*>(w)->setText(QtText(c.Caption()));
  }
  QSize DefaultSize(const ui::Control&, QSize hint) const override {
    return {std::max(hint.width(), 75), 25};
  }
  bool ClickMovesFocus() const override { return false; }
};

// Label and DBText.
class LabelBinder : public ControlBinder {
 public:
  QWidget* Create(FormView&, ui::Control&, QWidget* parent) const override {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
  }
  void Sync(FormView&, ui::Control& c, QWidget* w) const override {
    auto* label = static_cast<QLabel*>(w);
    const QString want = QtText(c.Text());
    if (label->text() != want) label->setText(want);
  }
  QSize DefaultSize(const ui::Control&, QSize hint) const override {
    return {hint.width(), std::max(hint.height(), 13)};
  }
};

class ImageBinder : public ControlBinder {
 public:
  QWidget* Create(FormView&, ui::Control& c, QWidget* parent) const override {
    const auto& image = static_cast<const ui::Image&>(c);
    auto* label = new QLabel(parent);
    label->setPixmap(QPixmap::fromImage(PictureImage(image.picture)));
    label->setScaledContents(image.stretch);
    return label;
  }
  QSize DefaultSize(const ui::Control& c, QSize) const override {
    const auto& image = static_cast<const ui::Image&>(c);
    return {image.picture.Width(), image.picture.Height()};
  }
};

// A paint box: the control draws itself on a canvas over the widget's
// painter, whenever the widget is painted.
class PaintBoxWidget : public QWidget {
 public:
  PaintBoxWidget(ui::PaintBox& box, bool interactive, QWidget* parent)
      : QWidget(parent), box_(box), interactive_(interactive && box.zoomable) {
    if (interactive_) setCursor(Qt::OpenHandCursor);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QtCanvas canvas(painter, font());
    box_.Paint(canvas, Size());
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ToolTip) {
      const auto* help = static_cast<QHelpEvent*>(e);
      const std::string text = box_.HintAt({help->pos().x(), help->pos().y()});
      if (text.empty()) {
        QToolTip::hideText();
      } else {
        QToolTip::showText(help->globalPos(), QtText(text), this);
      }
      return true;
    }
    return QWidget::event(e);
  }
  // The wheel zooms about the cursor, a drag moves the picture, a double
  // click shows it whole.
  void wheelEvent(QWheelEvent* e) override {
    if (!interactive_ || e->angleDelta().y() == 0) return QWidget::wheelEvent(e);
    const QPoint at = e->position().toPoint();
    box_.ZoomAt(std::pow(1.25, e->angleDelta().y() / 120.0), at.x(), at.y(), Size());
    update();
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (!interactive_ || e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    drag_ = e->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!drag_) return QWidget::mouseMoveEvent(e);
    const QPoint at = e->position().toPoint();
    box_.pan_x += at.x() - drag_->x();
    box_.pan_y += at.y() - drag_->y();
    drag_ = at;
    update();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (!drag_) return QWidget::mouseReleaseEvent(e);
    drag_.reset();
    setCursor(Qt::OpenHandCursor);
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    if (!interactive_) return QWidget::mouseDoubleClickEvent(e);
    box_.ResetView();
    update();
  }

 private:
  ui::Rect Size() const { return {0, 0, width(), height()}; }
  ui::PaintBox& box_;
  bool interactive_;
  std::optional<QPoint> drag_;
};

class PaintBoxBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    return new PaintBoxWidget(static_cast<ui::PaintBox&>(c), view.Interactive(), parent);
  }
  void Sync(FormView&, ui::Control&, QWidget* w) const override {
    w->setToolTip(QString());  // the box names what is under the cursor
    w->update();
  }
  QSize DefaultSize(const ui::Control&, QSize) const override { return {240, 240}; }
};

class NavigatorBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    auto* nav = static_cast<ui::DBNavigator*>(&c);
    auto* bar = new QWidget(parent);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    using Move = void (data::ClientDataset::*)();
    const std::pair<const char*, Move> moves[] = {{"|◀", &data::ClientDataset::First},
                                                  {"◀", &data::ClientDataset::Prior},
                                                  {"▶", &data::ClientDataset::Next},
                                                  {"▶|", &data::ClientDataset::Last}};
    for (const auto& [glyph, move] : moves) {
      auto* b = new QToolButton(bar);
      b->setText(QString::fromUtf8(glyph));
      b->setFocusPolicy(Qt::NoFocus);
      b->setFixedSize(25, 23);
      row->addWidget(b);
      if (view.Interactive()) {
        QObject::connect(b, &QToolButton::clicked, &view, [&view, nav, m = move] {
          view.Gesture([&] {
            data::ClientDataset* ds = nav->data_source ? nav->data_source->DataSet() : nullptr;
            if (ds != nullptr && ds->Active()) (ds->*m)();
          });
        });
      }
    }
    return bar;
  }
  QSize DefaultSize(const ui::Control&, QSize hint) const override { return {hint.width(), 25}; }
};

// A splitter the clerk drags: the control beside it grows or shrinks.
class SplitterWidget : public QFrame {
 public:
  SplitterWidget(FormView& view, const ui::Control& splitter, QWidget* parent)
      : QFrame(parent), view_(view), splitter_(splitter) {
    setFrameShape(QFrame::NoFrame);
    const bool across = splitter.align == ui::Align::Top || splitter.align == ui::Align::Bottom;
    if (view.Interactive() && !across) setCursor(Qt::SplitHCursor);
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (!view_.Interactive() || e->button() != Qt::LeftButton) return QFrame::mousePressEvent(e);
    from_ = e->globalPosition().toPoint().x();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!from_) return QFrame::mouseMoveEvent(e);
    const int x = e->globalPosition().toPoint().x();
    view_.DragSplitter(splitter_, x - *from_);
    from_ = x;
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (!from_) return QFrame::mouseReleaseEvent(e);
    from_.reset();
  }

 private:
  FormView& view_;
  const ui::Control& splitter_;
  std::optional<int> from_;
};

class SplitterBinder : public ControlBinder {
 public:
  QWidget* Create(FormView& view, ui::Control& c, QWidget* parent) const override {
    return new SplitterWidget(view, c, parent);
  }
  QSize DefaultSize(const ui::Control&, QSize) const override { return {4, 4}; }
};

// Panels, and any kind without a binder of its own.
class PanelBinder : public ControlBinder {
 public:
  QWidget* Create(FormView&, ui::Control& c, QWidget* parent) const override {
    auto* frame = new QFrame(parent);
    const auto* panel = dynamic_cast<const ui::Panel*>(&c);
    frame->setFrameShape(panel != nullptr && panel->border ? QFrame::StyledPanel : QFrame::NoFrame);
    frame->setAutoFillBackground(true);  // a panel hides what lies beneath it
    return frame;
  }
};

template <typename T>
bool Is(const ui::Control& c) {
  return dynamic_cast<const T*>(&c) != nullptr;
}

}  // namespace

const ControlBinder& BinderFor(const ui::Control& c) {
  static const GridBinder grid;
  static const PagesBinder pages;
  static const TabSheetBinder sheet;
  static const MemoBinder memo;
  static const DBEditBinder db_edit;
  static const NumberBoxBinder number;
  static const EditBinder edit;
  static const ComboBinder combo;
  static const SpeedButtonBinder speed;
  static const ButtonBinder button;
  static const LabelBinder label;
  static const ImageBinder image;
  static const PaintBoxBinder paint_box;
  static const NavigatorBinder navigator;
  static const SplitterBinder splitter;
  static const PanelBinder panel;
  // Derived kinds before their bases: a DBMemo is a DBEdit.
  if (Is<ui::DataGrid>(c)) return grid;
  if (Is<ui::PageControl>(c)) return pages;
  if (Is<ui::TabSheet>(c)) return sheet;
  if (Is<ui::DBMemo>(c) || Is<ui::Memo>(c)) return memo;
  if (Is<ui::DBEdit>(c)) return db_edit;
  if (Is<ui::NumberBox>(c)) return number;
  if (Is<ui::Edit>(c)) return edit;
  if (Is<ui::ComboBox>(c)) return combo;
  if (Is<ui::SpeedButton>(c)) return speed;
  if (Is<ui::Button>(c)) return button;
  if (Is<ui::Label>(c) || Is<ui::DBText>(c)) return label;
  if (Is<ui::Image>(c)) return image;
  if (Is<ui::PaintBox>(c)) return paint_box;
  if (Is<ui::DBNavigator>(c)) return navigator;
  if (Is<ui::Splitter>(c)) return splitter;
  return panel;
}

}  // namespace dg::qtview
