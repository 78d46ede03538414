// GridView: a QTableView over a headless data grid (DatasetModel). The
// headless grid stays the master: clicks, keys and cell edits go to it as
// the user's actions, and SyncFromGrid shows its current row, selected
// column, widths, options and colours. Cells of a grid with a draw handler
// are drawn by the grid (its default drawing, then the handler) on a
// QtCanvas over the view's painter. Pick lists edit in a combo box.
//
// `after_action` runs after every gesture handed to the grid, so the owner
// can bring the rest of the form up to date. The grid must outlive the
// view. Not copyable; the GUI thread only.
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

#include "qtview/dataset_model.h"
#include "ui/grid.h"

namespace dg::qtview {

class GridView : public QTableView {
  Q_OBJECT

 public:
  GridView(ui::DataGrid& grid, std::function<void()> after_action, QWidget* parent = nullptr);
  ~GridView() override;

  ui::DataGrid& Grid() const { return grid_; }
  DatasetModel& Model() const { return *model_; }
  void SyncFromGrid();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  void Act(const std::function<void()>& gesture);
  void MoveTo(int row, int column);
  // The width the column's title and every cell text need in this font; the
  // view shows a column at least this wide, the layout's width otherwise.
  int ContentWidth(int column) const;
  void OpenEditorAfterTyping();

  ui::DataGrid& grid_;
  std::function<void()> after_action_;
  DatasetModel* model_;
  bool syncing_ = false;
  // A key is on its way to the open cell editor from the grid.
  bool forwarding_ = false;
};

// Paints cells (custom-drawn ones through the grid) and edits them with a
// line edit, or an editable combo box for a column with a pick list.
class GridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  explicit GridDelegate(ui::DataGrid& grid, QObject* parent = nullptr)
      : QStyledItemDelegate(parent), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;

 private:
  ui::DataGrid& grid_;
};

}  // namespace dg::qtview
