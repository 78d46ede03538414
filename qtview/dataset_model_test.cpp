// The table model over a grid, checked by Qt's model tester while the
// dataset changes underneath, and the cell editors of the grid view.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "qtview/dataset_model.h"
#include "qtview/grid_view.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::qtview {
namespace {

// Three order items: NRPEDIDO (read-only column), QTDE (display format with
// thousands, right-aligned), RET (pick list; its get-text hook shows "F" as
// "Filial" and its set-text hook keeps only F and T).
class DatasetModelTest : public ::testing::Test {
 protected:
  DatasetModelTest() {
    ds.AddField("NRPEDIDO", data::FieldType::String, 10).display_label = "Pedido";
    data::Field& qt = ds.AddField("QTDE", data::FieldType::Double);
    qt.display_label = "Qtde.";
    qt.display_format = "#,##0.000";
    data::Field& ret = ds.AddField("RET", data::FieldType::String, 1);
    ret.on_get_text = [](data::Field& f, bool) {
      return f.AsString() == "F" ? std::string("Filial") : f.AsString();
    };
    ret.on_set_text = [](data::Field& f, const std::string& text) {
      if (text == "F" || text == "Filial") f.SetAsString("F");
      if (text == "T") f.SetAsString("T");
    };
    ds.CreateDataSet();
    for (auto [pedido, qtde] : {std::pair{"100", 1234.5}, {"200", 0.25}, {"300", 7.0}}) {
      ds.Append();
      ds.FieldByName("NRPEDIDO").SetAsString(pedido);
      ds.FieldByName("QTDE").SetAsFloat(qtde);
      ds.Post();
    }
    ds.First();
    source.SetDataSet(&ds);
    grid = &form.Add<ui::DataGrid>("dbgItens");
    grid->SetDataSource(&source);
    grid->AddColumn("NRPEDIDO").read_only = true;
    ui::GridColumn& q = grid->AddColumn("QTDE");
    q.alignment = ui::Alignment::Right;
    q.title_alignment = ui::Alignment::Right;
    grid->AddColumn("RET").pick_list = {"Filial", "Transp."};
  }

  // The grid's view shown, on the quantity column.
  void ShowOnQuantity(GridView& view) {
    view.resize(400, 200);
    view.show();
    grid->SetSelectedIndex(1);
    view.SyncFromGrid();
  }

  std::string Cell(const DatasetModel& model, int row, int column, int role = Qt::DisplayRole) {
    return model.data(model.index(row, column), role).toString().toStdString();
  }

  data::ClientDataset ds{"cdsItens"};
  data::DataSource source;
  ui::Form form{"frmItens"};
  ui::DataGrid* grid;
};

TEST_F(DatasetModelTest, ShowsDisplayTextsTitlesAndAlignments) {
  DatasetModel model(*grid);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  ASSERT_EQ(3, model.rowCount());
  ASSERT_EQ(3, model.columnCount());
  struct Case {
    int row, column, role;
    std::string want;
  } cases[] = {
      {0, 0, Qt::DisplayRole, "100"},
      {0, 1, Qt::DisplayRole, "1.234,500"},  // Brazilian separators
      {1, 1, Qt::DisplayRole, "0,250"},
      {1, 1, Qt::EditRole, "0,250"},  // no edit format: the display format
      {2, 0, Qt::DisplayRole, "300"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.want, Cell(model, c.row, c.column, c.role)) << c.row << "," << c.column;
  }
  EXPECT_EQ("Pedido", model.headerData(0, Qt::Horizontal).toString().toStdString());
  EXPECT_EQ("Qtde.", model.headerData(1, Qt::Horizontal).toString().toStdString());
  EXPECT_TRUE(model.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
              Qt::AlignRight);
  EXPECT_TRUE(model.headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
              Qt::AlignLeft);
  EXPECT_TRUE(model.data(model.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() &
              Qt::AlignRight);
  EXPECT_FALSE(model.data(model.index(5, 0)).isValid());  // outside: empty
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
  EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
  grid->options.editing = false;
  EXPECT_FALSE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
}

TEST_F(DatasetModelTest, FollowsRowsAddedRemovedFilteredAndReloaded) {
  DatasetModel model(*grid);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

  ds.Append();
  ds.FieldByName("NRPEDIDO").SetAsString("400");
  ds.Post();
  EXPECT_EQ(4, model.rowCount());
  EXPECT_EQ("400", Cell(model, 3, 0));

  ds.First();
  ds.Delete();
  EXPECT_EQ(3, model.rowCount());
  EXPECT_EQ("200", Cell(model, 0, 0));

  ds.SetFilter("NRPEDIDO = '300'");
  ds.SetFiltered(true);
  EXPECT_EQ(1, model.rowCount());
  EXPECT_EQ("300", Cell(model, 0, 0));

  ds.SetFiltered(false);
  ds.Close();
  EXPECT_EQ(0, model.rowCount());
  EXPECT_EQ(0, model.columnCount() > 0 ? model.rowCount() : 0);
  EXPECT_GE(resets.count(), 3);

  ds.CreateDataSet();
  ds.Append();
  ds.FieldByName("QTDE").SetAsFloat(2);
  ds.Post();
  const int before = static_cast<int>(changes.count());
  ds.Edit();
  ds.FieldByName("QTDE").SetAsFloat(3);
  EXPECT_EQ("3,000", Cell(model, 0, 1));  // a pending edit shows as typed
  EXPECT_GT(changes.count(), before);
}

TEST_F(DatasetModelTest, WritingACellIsTheUsersCellEdit) {
  DatasetModel model(*grid);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  int refreshed = 0;
  model.after_user_edit = [&] { ++refreshed; };

  // Another row: the grid moves there first, as a click does.
  EXPECT_TRUE(model.setData(model.index(1, 1), QStringLiteral("1.000,5")));
  EXPECT_EQ(2, ds.RecNo());
  EXPECT_EQ(1, grid->SelectedIndex());
  EXPECT_EQ(grid, form.ActiveControl());
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_DOUBLE_EQ(1000.5, ds.FieldByName("QTDE").AsFloat());
  EXPECT_EQ("1.000,500", Cell(model, 1, 1));

  // Through the field's set-text: an unknown code is ignored.
  EXPECT_TRUE(model.setData(model.index(1, 2), QStringLiteral("Filial")));
  EXPECT_EQ("F", ds.FieldByName("RET").AsString());
  EXPECT_EQ("Filial", Cell(model, 1, 2));
  EXPECT_TRUE(model.setData(model.index(1, 2), QStringLiteral("x")));
  EXPECT_EQ("F", ds.FieldByName("RET").AsString());

  // A read-only column refuses and changes nothing.
  EXPECT_FALSE(model.setData(model.index(1, 0), QStringLiteral("999")));
  EXPECT_EQ("200", ds.FieldByName("NRPEDIDO").AsString());
  EXPECT_FALSE(model.setData(model.index(1, 1), QStringLiteral("1"), Qt::DisplayRole));
  EXPECT_EQ(4, refreshed);
}

TEST_F(DatasetModelTest, GridEditorsFollowTheColumn) {
  GridView view(*grid, nullptr);
  QAbstractItemDelegate* delegate = view.itemDelegate();
  QStyleOptionViewItem option;
  std::unique_ptr<QWidget> pick(delegate->createEditor(&view, option, view.model()->index(0, 2)));
  auto* combo = qobject_cast<QComboBox*>(pick.get());
  ASSERT_NE(nullptr, combo);
  ASSERT_EQ(2, combo->count());
  EXPECT_EQ("Transp.", combo->itemText(1).toStdString());
  EXPECT_TRUE(combo->isEditable());

  std::unique_ptr<QWidget> plain(delegate->createEditor(&view, option, view.model()->index(0, 1)));
  auto* line = qobject_cast<QLineEdit*>(plain.get());
  ASSERT_NE(nullptr, line);
  delegate->setEditorData(line, view.model()->index(0, 1));
  EXPECT_EQ("1.234,500", line->text().toStdString());
  line->setText(QStringLiteral("10"));
  delegate->setModelData(line, view.model(), view.model()->index(0, 1));
  EXPECT_DOUBLE_EQ(10, ds.FieldByName("QTDE").AsFloat());
  // The view shows the headless grid's current cell.
  view.SyncFromGrid();
  EXPECT_EQ(0, view.currentIndex().row());
  EXPECT_EQ(1, view.currentIndex().column());
}

// A clerk types a quantity into a cell with a display format: the first key
// opens the cell's editor holding just that key, not the field's formatted
// value ("7", never "7,000" to type on after), and a number begun with its
// separator (",5") opens the editor too, though "," is no value yet.
// The record moved from code (a search dialog positions the dataset, a
// refresh reloads it) is the one the clerk sees: the view scrolls to it.
TEST_F(DatasetModelTest, TheViewScrollsToTheRecordMovedFromCode) {
  for (int n = 0; n < 200; ++n) {
    ds.Append();
    ds.FieldByName("NRPEDIDO").SetAsString(std::to_string(1000 + n));
    ds.Post();
  }
  GridView view(*grid, nullptr);
  ShowOnQuantity(view);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const auto shown = [&view] {
    const QRect cell = view.visualRect(view.currentIndex());
    return view.currentIndex().isValid() && view.viewport()->rect().contains(cell);
  };
  for (int rec : {180, 2, 150}) {
    ds.SetRecNo(rec);
    view.SyncFromGrid();
    QCoreApplication::processEvents();
    EXPECT_EQ(rec - 1, view.currentIndex().row());
    EXPECT_TRUE(shown()) << "record " << rec;
  }
}

TEST_F(DatasetModelTest, TypingIntoANumberCellGoesOnFromTheKeysTyped) {
  GridView view(*grid, nullptr);
  ShowOnQuantity(view);
  for (auto [first, next, value] :
       {std::tuple{Qt::Key_Comma, Qt::Key_5, 0.5}, {Qt::Key_7, Qt::Key_5, 75.0}}) {
    view.setFocus();
    QTest::keyClick(&view, first);
    auto* line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
    ASSERT_NE(nullptr, line);
    EXPECT_EQ(1, line->text().size()) << line->text().toStdString();
    QTest::keyClick(line, next);
    QTest::keyClick(line, Qt::Key_Return);
    QCoreApplication::processEvents();  // the editor commits and closes queued
    EXPECT_EQ(data::DatasetState::Browse, ds.State());
    EXPECT_DOUBLE_EQ(value, ds.FieldByName("QTDE").AsFloat());
  }
  // A move out of the open editor takes what was typed there with it.
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_4);
  auto* line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
  ASSERT_NE(nullptr, line);
  QTest::keyClick(line, Qt::Key_2);
  QTest::keyClick(line, Qt::Key_Down);
  QCoreApplication::processEvents();
  EXPECT_EQ(2, ds.RecNo());
  ds.First();
  EXPECT_DOUBLE_EQ(42, ds.FieldByName("QTDE").AsFloat());

  // Escape out of the open editor drops what was typed, the first key too.
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_9);
  line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
  ASSERT_NE(nullptr, line);
  QTest::keyClick(line, Qt::Key_1);
  QTest::keyClick(line, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_DOUBLE_EQ(42, ds.FieldByName("QTDE").AsFloat());
}

// Shift or Ctrl in the open editor (a selection, a capital) is no key of the
// grid's: the editor stays open with what was typed, where before Shift
// closed it and Shift+Home moved to the first column, losing the typing.
// F2 opens the editor on the cell's value, so that a blank typed over it
// clears a number the clerk cannot start with a blank.
TEST_F(DatasetModelTest, TheCellEditorKeepsItsKeys) {
  GridView view(*grid, nullptr);
  ShowOnQuantity(view);
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_7);
  auto* line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
  ASSERT_NE(nullptr, line);
  QTest::keyClick(line, Qt::Key_Home, Qt::ShiftModifier);
  QTest::keyClick(line, Qt::Key_5);
  QTest::keyClick(line, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(1, grid->SelectedIndex());
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_DOUBLE_EQ(5, ds.FieldByName("QTDE").AsFloat());

  QTest::keyClick(&view, Qt::Key_F2);
  line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
  ASSERT_NE(nullptr, line);
  EXPECT_EQ("5,000", line->text().toStdString());
  QTest::keyClick(line, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(line, " ");
  QTest::keyClick(line, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_TRUE(ds.FieldByName("QTDE").IsNull());
}

// Keys that reach the grid itself while its cell editor is open (typed fast
// right after a message closed, before the focus reached the editor) are the
// clerk's typing all the same: they go on in the editor, and Enter posts
// what was typed. Before, the second key closed the editor and opened it
// again on that key alone, and Enter and Escape did nothing at all.
TEST_F(DatasetModelTest, KeysThatMissTheOpenEditorGoOnInIt) {
  GridView view(*grid, nullptr);
  ShowOnQuantity(view);
  // The window not active yet: the editor's focus is only where it will go.
  QCoreApplication::processEvents();
  QApplication::setActiveWindow(nullptr);
  for (auto [last, value] : {std::pair{Qt::Key_Return, 34.0}, {Qt::Key_Escape, 34.0}}) {
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_3);
    ASSERT_NE(nullptr, view.indexWidget(view.currentIndex()));
    view.setFocus();  // the focus left behind on the grid
    QTest::keyClick(&view, Qt::Key_4);
    auto* line = qobject_cast<QLineEdit*>(view.indexWidget(view.currentIndex()));
    ASSERT_NE(nullptr, line);
    EXPECT_EQ("34", line->text().toStdString()) << last;
    view.setFocus();
    QTest::keyClick(&view, last);
    QCoreApplication::processEvents();  // the editor commits and closes queued
    EXPECT_EQ(nullptr, view.indexWidget(view.currentIndex()));
    EXPECT_EQ(data::DatasetState::Browse, ds.State());
    EXPECT_DOUBLE_EQ(value, ds.FieldByName("QTDE").AsFloat());  // Escape keeps the 34 posted
  }
  // A move that misses the editor still takes what was typed with it.
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_8);
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Down);
  QCoreApplication::processEvents();
  EXPECT_EQ(2, ds.RecNo());
  ds.First();
  EXPECT_DOUBLE_EQ(8, ds.FieldByName("QTDE").AsFloat());
}

}  // namespace
}  // namespace dg::qtview
