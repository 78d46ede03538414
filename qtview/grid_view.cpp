#include "qtview/grid_view.h"

#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QValidator>

#include "qtview/qt_canvas.h"
#include "qtview/view_support.h"
#include "ui/user_actions.h"

namespace dg::qtview {

namespace {

constexpr int kRowHeight = 18;

// Keeps a cell's line edit to what the cell takes (its mask, or the
// characters of a number): a refused key leaves the editor as it was, so the
// text shown is the text the field gets.
class CellKeys : public QValidator {
 public:
  CellKeys(const ui::DataGrid& grid, QObject* parent) : QValidator(parent), grid_(grid) {}
  State validate(QString& input, int& /*pos*/) const override {
    return grid_.TakesText(StdText(input)) ? Acceptable : Invalid;
  }

 private:
  const ui::DataGrid& grid_;
};

}  // namespace

// ---- GridView

GridView::GridView(ui::DataGrid& grid, std::function<void()> after_action, QWidget* parent)
    : QTableView(parent), grid_(grid), after_action_(std::move(after_action)) {
  model_ = new DatasetModel(grid_, this);
  model_->after_user_edit = [this] {
    if (after_action_) after_action_();
  };
  setModel(model_);
  setItemDelegate(new GridDelegate(grid_, this));
  setEditTriggers(QAbstractItemView::NoEditTriggers);  // editors open on typing
  setTabKeyNavigation(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setWordWrap(false);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  verticalHeader()->setMinimumSectionSize(kRowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(8);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  SyncFromGrid();
}

GridView::~GridView() = default;

void GridView::SyncFromGrid() {
  syncing_ = true;
  model_->Sync();
  QFont titles = QtFont(grid_.title_font, font());
  if (horizontalHeader()->font() != titles) horizontalHeader()->setFont(titles);
  const auto& columns = grid_.Columns();
  for (int i = 0; i < static_cast<int>(columns.size()) && i < model_->columnCount(); ++i) {
    const ui::GridColumn& column = *columns[static_cast<std::size_t>(i)];
    setColumnWidth(i, std::max(column.width, ContentWidth(i)));
    setColumnHidden(i, !column.visible);
  }
  const ui::GridOptions& o = grid_.options;
  horizontalHeader()->setVisible(o.titles);
  verticalHeader()->setVisible(o.indicator);
  verticalHeader()->setFixedWidth(o.indicator ? 14 : 0);
  horizontalHeader()->setSectionsMovable(false);
  horizontalHeader()->setSectionResizeMode(o.column_resize ? QHeaderView::Interactive
                                                           : QHeaderView::Fixed);
  setShowGrid(o.col_lines || o.row_lines);
  setSelectionBehavior(o.row_select ? QAbstractItemView::SelectRows
                                    : QAbstractItemView::SelectItems);
  QPalette p = palette();
  p.setColor(QPalette::Base, QtColor(ui::ResolveColor(grid_.color)));
  setPalette(p);

  const int row = grid_.CurrentRow() - 1;
  const int column = grid_.SelectedIndex();
  const QModelIndex want = model_->index(row, column);
  if (want.isValid()) {
    if (currentIndex() != want) setCurrentIndex(want);
  } else {
    clearSelection();
  }
  model_->headerDataChanged(Qt::Vertical, 0, std::max(0, model_->rowCount() - 1));
  syncing_ = false;
}

int GridView::ContentWidth(int column) const {
  // What the cell painting needs for each text (its margins included), and
  // the grid line.
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  int widest = horizontalHeader()->sectionSizeHint(column);
  for (int row = 0; row < model_->rowCount(); ++row) {
    const QModelIndex index = model_->index(row, column);
    widest = std::max(widest, itemDelegateForIndex(index)->sizeHint(option, index).width() + 1);
  }
  return widest;
}

void GridView::Act(const std::function<void()>& gesture) {
  RunUserAction(gesture);
  if (after_action_) after_action_();
}

void GridView::MoveTo(int row, int column) {
  // Keyboard moves: the focus first, as a click moves it, then the row (a
  // pending edit is posted) and the column; no cell click.
  Act([&] {
    if (ui::UserFocus(grid_) != ui::Outcome::Done) return;
    const int rows = grid_.RowCount();
    if (rows > 0) grid_.MoveToRow(std::clamp(row, 1, rows));
    if (column >= 0 && column < grid_.ColumnCount() && column != grid_.SelectedIndex()) {
      grid_.SetSelectedIndex(column);
    }
  });
}

void GridView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (!index.isValid() || event->button() != Qt::LeftButton) {
    Act([&] { ui::UserFocus(grid_); });
    return;
  }
  const std::string field = grid_.Column(index.column()).FieldName();
  Act([&] { ui::UserClickCell(grid_, index.row() + 1, field); });
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && index == currentIndex() && grid_.CanEditSelected()) edit(index);
}

void GridView::OpenEditorAfterTyping() {
  if (!grid_.EditorMode()) return;
  const QModelIndex index = currentIndex();
  if (!index.isValid()) return;
  edit(index);
  if (auto* line = qobject_cast<QLineEdit*>(indexWidget(index))) line->deselect();
}

void GridView::keyPressEvent(QKeyEvent* event) {
  if (QWidget* editor = indexWidget(currentIndex());
      editor != nullptr && state() == QAbstractItemView::EditingState && !forwarding_) {
    // A key that reaches the grid itself while its cell editor is open was
    // typed before the focus got to the editor (keys typed fast just after
    // a message closed): it is the clerk's typing all the same and goes on
    // in the editor, which takes the focus. A key the editor passes back
    // comes here again and is handled below.
    QWidget* focus = QApplication::focusWidget();
    if (focus != editor && !editor->isAncestorOf(focus)) {
      QWidget* target = EditorKeyTarget(editor);
      editor->setFocus(Qt::OtherFocusReason);
      forwarding_ = true;
      QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                     event->isAutoRepeat(), static_cast<quint16>(event->count()));
      QCoreApplication::sendEvent(target, &copy);
      forwarding_ = false;
      event->accept();
      return;
    }
  }
  if (state() == QAbstractItemView::EditingState) {
    // Shift, Ctrl, Alt pressed on their own in the editor (the clerk about
    // to type a capital or select the text) leave it open.
    switch (event->key()) {
      case Qt::Key_Shift:
      case Qt::Key_Control:
      case Qt::Key_Alt:
      case Qt::Key_AltGr:
      case Qt::Key_Meta:
        event->accept();
        return;
      default:
        break;
    }
    // A key the open cell editor passed on. Enter and Escape: the delegate
    // commits or reverts the editor and closes it (closeEditor below), which
    // posts or cancels; acting here as well would post the field before the
    // editor's text reached it. A move: the editor's text goes to the cell
    // first, then the move posts it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Escape) {
      event->accept();
      return;
    }
    if (QWidget* editor = indexWidget(currentIndex())) {
      commitData(editor);
      QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }
  const int row = grid_.CurrentRow();
  const int column = grid_.SelectedIndex();
  const int page = std::max(1, viewport()->height() / kRowHeight - 1);
  switch (event->key()) {
    case Qt::Key_Up:
      MoveTo(row - 1, column);
      return;
    case Qt::Key_Down:
      MoveTo(row + 1, column);
      return;
    case Qt::Key_PageUp:
      MoveTo(row - page, column);
      return;
    case Qt::Key_PageDown:
      MoveTo(row + page, column);
      return;
    case Qt::Key_Left:
      MoveTo(row, column - 1);
      return;
    case Qt::Key_Right:
      MoveTo(row, column + 1);
      return;
    case Qt::Key_Home:
      MoveTo(event->modifiers() & Qt::ControlModifier ? 1 : row, 0);
      return;
    case Qt::Key_End:
      MoveTo(event->modifiers() & Qt::ControlModifier ? grid_.RowCount() : row,
             grid_.ColumnCount() - 1);
      return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
      const int next = column + (event->key() == Qt::Key_Tab ? 1 : -1);
      if (grid_.options.tabs && next >= 0 && next < grid_.ColumnCount()) {
        MoveTo(row, next);
        return;
      }
      QTableView::keyPressEvent(event);  // on to the form's tab order
      return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Act([&] { ui::UserKey(grid_, '\r'); });
      return;
    case Qt::Key_Escape:
      Act([&] { ui::UserKey(grid_, '\x1b'); });
      return;
    case Qt::Key_Backspace:
      Act([&] { ui::UserKey(grid_, '\b'); });
      return;
    case Qt::Key_F2:
      // The cell's editor opens, as on a double click: the way to type what
      // the cell does not take as its first key (a blank to clear it).
      if (state() != QAbstractItemView::EditingState && grid_.Focused() &&
          grid_.CanEditSelected() && currentIndex().isValid()) {
        edit(currentIndex());
      }
      return;
    default:
      break;
  }
  const QString typed = event->text();
  if (typed.isEmpty() || !typed.at(0).isPrint()) {
    QTableView::keyPressEvent(event);
    return;
  }
  const std::string text = StdText(typed);
  Act([&] {
    if (text.size() == 1) {
      ui::UserKey(grid_, text[0]);
    } else {
      ui::UserEditCell(grid_, text);  // a character beyond ASCII: typed as the cell's text
    }
  });
  OpenEditorAfterTyping();
}

void GridView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTableView::closeEditor(editor, hint);
  if (hint == QAbstractItemDelegate::SubmitModelCache) {
    Act([&] { ui::UserKey(grid_, '\r'); });
  } else if (hint == QAbstractItemDelegate::RevertModelCache) {
    Act([&] { ui::UserKey(grid_, '\x1b'); });
  }
  setFocus(Qt::OtherFocusReason);
}

// ---- GridDelegate

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
  const int row = index.row() + 1;
  if (!grid_.on_draw_column_cell) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // The grid draws this cell itself: Qt's default painting must not leave
  // the value's text under the picture, so the text is cleared first.
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  opt.text.clear();
  const QWidget* widget = option.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

  const QRect r = option.rect;
  ui::DrawState state;
  state.selected = row == grid_.CurrentRow() &&
                   (index.column() == grid_.SelectedIndex() || grid_.options.row_select) &&
                   (grid_.Focused() || grid_.options.always_show_selection);
  state.focused = state.selected && grid_.Focused();
  painter->save();
  painter->setClipRect(r);
  QtCanvas canvas(*painter, option.font);
  try {
    grid_.PaintCell(canvas, ui::Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}, row,
                    index.column(), state);
  } catch (...) {
    // A drawing handler's failure cannot be reported from inside a paint;
    // the cell keeps what was drawn so far.
  }
  painter->restore();
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  if (index.column() < grid_.ColumnCount()) {
    const ui::GridColumn& column = grid_.Column(index.column());
    if (!column.pick_list.empty()) {
      auto* combo = new QComboBox(parent);
      combo->setEditable(true);
      for (const std::string& item : column.pick_list) combo->addItem(QtText(item));
      return combo;
    }
  }
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setValidator(new CellKeys(grid_, line));
  return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  const QString text = index.data(Qt::EditRole).toString();
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    combo->setEditText(text);
  } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    // A value the cell would not take as typed (stored by other means) is
    // edited freely: the editor must not trap the clerk in it.
    if (line->validator() != nullptr && !grid_.TakesText(StdText(text))) {
      line->setValidator(nullptr);
    }
    line->setText(text);
    line->setCursorPosition(static_cast<int>(text.size()));
  } else {
    QStyledItemDelegate::setEditorData(editor, index);
  }
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
  QString text;
  if (auto* combo = qobject_cast<QComboBox*>(editor)) {
    text = combo->currentText();
  } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    text = line->text();
  } else {
    QStyledItemDelegate::setModelData(editor, model, index);
    return;
  }
  if (text == index.data(Qt::EditRole).toString()) return;  // nothing typed
  model->setData(index, text, Qt::EditRole);
}

}  // namespace dg::qtview
