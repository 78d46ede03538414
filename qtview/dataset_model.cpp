#include "qtview/dataset_model.h"

#include <exception>
#include <optional>
#include <string>

#include "qtview/view_support.h"
#include "ui/application.h"
#include "ui/user_actions.h"

namespace dg::qtview {

DatasetModel::DatasetModel(ui::DataGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
  Relink();
  rows_ = LiveRows();
  titles_ = LiveTitles();
}

DatasetModel::~DatasetModel() {
  if (linked_ != nullptr) linked_->RemoveLink(this);
}

void DatasetModel::Relink() {
  data::DataSource* source = grid_.DataSource();
  if (source == linked_) return;
  if (linked_ != nullptr) linked_->RemoveLink(this);
  linked_ = source;
  if (linked_ != nullptr) linked_->AddLink(this);
}

int DatasetModel::LiveRows() const { return grid_.RowCount(); }

std::vector<QString> DatasetModel::LiveTitles() const {
  std::vector<QString> titles;
  for (const auto& column : grid_.Columns()) titles.push_back(QtText(column->Title()));
  return titles;
}

void DatasetModel::Sync() {
  Relink();
  const int rows = LiveRows();
  std::vector<QString> titles = LiveTitles();
  if (rows != rows_ || titles.size() != titles_.size()) {
    beginResetModel();
    rows_ = rows;
    titles_ = std::move(titles);
    endResetModel();
    return;
  }
  if (titles != titles_) {
    titles_ = std::move(titles);
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(titles_.size()) - 1);
  }
  if (rows_ > 0 && !titles_.empty()) {
    emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(titles_.size()) - 1));
  }
}

void DatasetModel::StateChanged() { Sync(); }
void DatasetModel::DataChanged() { Sync(); }
void DatasetModel::LayoutChanged() {
  beginResetModel();
  rows_ = LiveRows();
  titles_ = LiveTitles();
  endResetModel();
}

int DatasetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int DatasetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(titles_.size());
}

bool DatasetModel::ReadRow(int row, const std::function<void()>& read) const {
  data::ClientDataset* ds = grid_.DataSet();
  if (ds == nullptr || !ds->Active() || row < 0 || row >= ds->RecordCount()) return false;
  try {
    if (row + 1 == ds->RecNo()) {
      read();  // the current record, with a pending edit as typed
    } else {
      ds->ReadAt(row + 1, read);
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= columnCount()) return {};
  if (index.column() >= grid_.ColumnCount()) return {};
  ui::GridColumn& column = grid_.Column(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      data::Field* field = column.Field();
      if (field == nullptr) return {};
      const bool display = role == Qt::DisplayRole;
      if (!display && index.row() + 1 == grid_.CurrentRow() &&
          index.column() == grid_.SelectedIndex()) {
        // The editor goes on from what the clerk typed, not the field's
        // formatted text ("7", not "7,000"; a begun "," is no value yet).
        if (std::optional<std::string> begun = grid_.EditorText()) return QtText(*begun);
      }
      std::string text;
      if (!ReadRow(index.row(), [&] { text = display ? field->DisplayText() : field->Text(); })) {
        return {};
      }
      return QtText(text);
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(QtAlignment(column.alignment) | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return QColor(QtColor(ui::ResolveColor(grid_.color)));
    default:
      return {};
  }
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    if (role == Qt::DisplayRole && section >= 0 && section < rows_) {
      return section + 1 == grid_.CurrentRow() ? QStringLiteral("▸") : QString();
    }
    return {};
  }
  if (section < 0 || section >= columnCount() || section >= grid_.ColumnCount()) return {};
  if (role == Qt::DisplayRole) return titles_[static_cast<std::size_t>(section)];
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(QtAlignment(grid_.Column(section).title_alignment) |
                               Qt::AlignVCenter);
  }
  return {};
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || index.column() >= grid_.ColumnCount()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const ui::GridColumn& column = grid_.Column(index.column());
  const data::Field* field = column.Field();
  if (!grid_.read_only && grid_.options.editing && !column.read_only && field != nullptr &&
      !field->Calculated()) {
    f |= Qt::ItemIsEditable;
  }
  return f;
}

bool DatasetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.row() >= rows_ ||
      index.column() >= grid_.ColumnCount()) {
    return false;
  }
  ui::Outcome outcome = ui::Outcome::ReadOnly;
  RunUserAction([&] {
    const std::string field = grid_.Column(index.column()).FieldName();
    if (grid_.CurrentRow() != index.row() + 1 || grid_.SelectedIndex() != index.column()) {
      ui::UserClickCell(grid_, index.row() + 1, field);
    }
    outcome = ui::UserEditCell(grid_, StdText(value.toString()));
  });
  Sync();
  if (after_user_edit) after_user_edit();
  return outcome == ui::Outcome::Done;
}

}  // namespace dg::qtview
