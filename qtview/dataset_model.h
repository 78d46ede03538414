// DatasetModel: a table model over a headless data grid: one row per record
// the grid shows (filter and index applied), one column per grid column.
//
// Display texts are the fields' display texts (display formats, get-text
// hooks); the edit role is the field's edit text. Writing a cell is the
// user's cell edit (ui::UserEditCell on the grid, which stores the text
// through the field's set-text); the write first moves the grid to that row
// and column as a click does. Titles are the columns' titles with their
// alignment.
//
// The model follows the dataset through a link on the grid's data source
// and announces every change (a reset when rows or columns come or go,
// dataChanged otherwise). Sync() re-reads the grid (a new data source or
// columns); call it after the grid was changed from code. The grid and its
// data source must outlive the model, or the source must be changed on the
// grid and Sync() called first. Not copyable; the GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <vector>

#include "data/dataset.h"
#include "ui/grid.h"

namespace dg::qtview {

class DatasetModel : public QAbstractTableModel, private data::DataLink {
  Q_OBJECT

 public:
  explicit DatasetModel(ui::DataGrid& grid, QObject* parent = nullptr);
  ~DatasetModel() override;

  ui::DataGrid& Grid() const { return grid_; }
  // Re-reads columns and row count; resets when they changed.
  void Sync();
  // Called after a cell write was handed to the grid (with its outcome), so
  // the view can refresh the rest of the form.
  std::function<void()> after_user_edit;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

 private:
  void StateChanged() override;
  void DataChanged() override;
  void LayoutChanged() override;
  void Relink();
  int LiveRows() const;
  std::vector<QString> LiveTitles() const;
  // Runs read() with the fields on the record of `row` (0-based); false
  // when the row cannot be read now.
  bool ReadRow(int row, const std::function<void()>& read) const;

  ui::DataGrid& grid_;
  data::DataSource* linked_ = nullptr;
  int rows_ = 0;
  std::vector<QString> titles_;
};

}  // namespace dg::qtview
