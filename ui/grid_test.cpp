#include <climits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ui/canvas.h"
#include "ui/form.h"
#include "ui/grid.h"
#include "ui/user_actions.h"

namespace dg::ui {
namespace {

// A grid over three vehicles: NOME, QT, FLAG. FLAG's set-text hook keeps
// only "F" and "T" (case ignored), as a code column does.
class GridTest : public ::testing::Test {
 protected:
  GridTest() {
    ds.AddField("NOME", data::FieldType::String, 20);
    ds.AddField("QT", data::FieldType::Double);
    ds.AddField("FLAG", data::FieldType::String, 1);
    ds.CreateDataSet();
    for (auto [nome, qt] : {std::pair{"Truck", 1.0}, {"Van", 0.0}, {"Bike", 2.0}}) {
      ds.Append();
      ds.FieldByName("NOME").SetAsString(nome);
      ds.FieldByName("QT").SetAsFloat(qt);
      ds.Post();
    }
    ds.First();
    ds.FieldByName("FLAG").on_set_text = [this](data::Field& f, const std::string& text) {
      ++set_text_calls;
      if (text == "f" || text == "F") f.SetAsString("F");
      if (text == "t" || text == "T") f.SetAsString("T");
    };
    ds.after_scroll = [this](data::ClientDataset&) { ++scrolls; };
    source.SetDataSet(&ds);
    grid = &form.Add<DataGrid>("dbgTest");
    grid->SetDataSource(&source);
    grid->AddColumn("NOME").read_only = true;
    grid->AddColumn("QT");
    grid->AddColumn("FLAG");
    other = &form.Add<Edit>("edtOther");
  }

  data::ClientDataset ds{"cdsTest"};
  data::DataSource source;
  Form form{"frmGrid"};
  DataGrid* grid;
  Edit* other;
  int set_text_calls = 0;
  int scrolls = 0;
};

TEST_F(GridTest, EditingACellGoesThroughSetTextAndPostsOnLeavingTheRow) {
  grid->SetSelectedField("FLAG");
  EXPECT_EQ(Outcome::Done, UserEditCell(*grid, "f"));
  EXPECT_EQ(grid, form.ActiveControl());
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_TRUE(grid->EditorMode());
  EXPECT_EQ("F", ds.FieldByName("FLAG").AsString());
  EXPECT_EQ(1, set_text_calls);
  // A text the hook refuses leaves the value as it was.
  UserEditCell(*grid, "filial");
  EXPECT_EQ("F", ds.FieldByName("FLAG").AsString());

  EXPECT_EQ(Outcome::Done, UserClickCell(*grid, 2, std::nullopt));  // leaving the row posts
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_FALSE(grid->EditorMode());
  EXPECT_EQ(2, ds.RecNo());
  ds.First();
  EXPECT_EQ("F", ds.FieldByName("FLAG").AsString());
}

TEST_F(GridTest, PostAndEnterPostAPendingEdit) {
  grid->SetSelectedField("QT");
  UserEditCell(*grid, "1.234,5");
  EXPECT_DOUBLE_EQ(1234.5, ds.FieldByName("QT").AsFloat());
  EXPECT_EQ(Outcome::Done, UserPost(*grid));
  EXPECT_EQ(data::DatasetState::Browse, ds.State());

  UserEditCell(*grid, "7");
  UserKey(*grid, '\r');
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_DOUBLE_EQ(7, ds.FieldByName("QT").AsFloat());
}

TEST_F(GridTest, FailingPostKeepsTheRowInEditAndTheCursorWhereItWas) {
  ds.before_post = [](data::ClientDataset&) { throw Abort(); };
  grid->SetSelectedField("QT");
  UserEditCell(*grid, "5");
  EXPECT_THROW(UserClickCell(*grid, 3, std::nullopt), Abort);
  EXPECT_EQ(1, ds.RecNo());
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
}

TEST_F(GridTest, EditingRefusedWhereTheGridOrColumnForbidsIt) {
  struct Case {
    const char* name;
    const char* field;
    bool grid_read_only;
    bool editing;
    Outcome outcome;
  } cases[] = {
      {"editable column", "QT", false, true, Outcome::Done},
      {"read-only column", "NOME", false, true, Outcome::ReadOnly},
      {"editing option off", "QT", false, false, Outcome::ReadOnly},
      {"read-only grid", "QT", true, true, Outcome::ReadOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ds.Cancel();
    grid->SetSelectedField(c.field);
    grid->read_only = c.grid_read_only;
    grid->options.editing = c.editing;
    EXPECT_EQ(c.outcome, UserEditCell(*grid, "9"));
    EXPECT_EQ(c.outcome == Outcome::Done ? data::DatasetState::Edit : data::DatasetState::Browse,
              ds.State());
  }
  grid->SetEnabled(false);
  EXPECT_EQ(Outcome::Disabled, UserEditCell(*grid, "9"));
  grid->SetEnabled(true);
  ds.Cancel();
  while (!ds.IsEmpty()) ds.Delete();
  EXPECT_EQ(Outcome::ReadOnly, UserEditCell(*grid, "9"));  // no row to edit, none added
  EXPECT_EQ(0, ds.RecordCount());
}

// A cell with an edit mask is a masked edit: letters are refused where the
// mask wants digits, a digit beyond its positions is not taken, and a key it
// refuses leaves the cell as it was.
TEST_F(GridTest, MaskedCellsTakeWhatTheMaskTakes) {
  data::ClientDataset route("cdsRoute");
  route.AddField("ORDEM", data::FieldType::String, 5).edit_mask = "!999;1; ";
  route.CreateDataSet();
  route.Append();
  route.FieldByName("ORDEM").SetAsString("  7");
  route.Post();
  data::DataSource route_source;
  route_source.SetDataSet(&route);
  DataGrid& g = form.Add<DataGrid>("dbgRoute");
  g.SetDataSource(&route_source);
  g.AddColumn("ORDEM");
  const data::Field& ordem = route.FieldByName("ORDEM");
  for (const auto& [typed, stored] :
       {std::pair{"12", " 12"}, {"1234", "123"}, {"AB", "123"}, {"4x5", " 45"}}) {
    // Keys the mask refuses, all of them, leave the cell as it was.
    ASSERT_EQ(Outcome::Done, UserEditCell(g, typed));
    EXPECT_EQ(stored, ordem.AsString()) << typed;
  }
  // The window's editor holds only what the mask takes, so that what the
  // clerk sees there is what the field gets.
  EXPECT_TRUE(g.TakesText("12"));
  EXPECT_TRUE(g.TakesText(""));
  EXPECT_FALSE(g.TakesText("1234"));
  EXPECT_FALSE(g.TakesText("1;"));
  EXPECT_TRUE(g.TakesText(" 1"));
  route.Cancel();
  EXPECT_EQ(Outcome::Done, UserKey(g, 'A'));
  EXPECT_EQ(data::DatasetState::Browse, route.State());
  EXPECT_EQ("  7", ordem.AsString());
  EXPECT_EQ(Outcome::Done, UserKey(g, '5'));
  EXPECT_EQ("  5", ordem.AsString());
}

// A number cell's editor takes digits, signs and separators: a letter key is
// refused there and leaves the row as it was, where a text cell takes it.
TEST_F(GridTest, NumberCellsRefuseLetterKeys) {
  grid->SetSelectedField("QT");
  for (char key : {'a', 'Z', ' ', '/', '%'}) {
    EXPECT_EQ(Outcome::Done, UserKey(*grid, key)) << key;
    EXPECT_EQ(data::DatasetState::Browse, ds.State()) << key;
    EXPECT_DOUBLE_EQ(1.0, ds.FieldByName("QT").AsFloat()) << key;
  }
  EXPECT_EQ(Outcome::Done, UserKey(*grid, '7'));
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_DOUBLE_EQ(7.0, ds.FieldByName("QT").AsFloat());
  // The open editor: a blank empties the cell, a letter or a semicolon is
  // refused wherever it comes.
  EXPECT_TRUE(grid->TakesText(" "));
  EXPECT_TRUE(grid->TakesText("-1,5"));
  EXPECT_FALSE(grid->TakesText("1;5"));
  EXPECT_FALSE(grid->TakesText("12a"));
  grid->SetSelectedField("FLAG");
  EXPECT_EQ(Outcome::Done, UserKey(*grid, 't'));
  EXPECT_EQ("T", ds.FieldByName("FLAG").AsString());
}

// A sign or separator typed first begins a number: the editor holds it and
// the field keeps its value until the digits come; posting or leaving the
// row with only the beginning hands it to the field, which refuses it.
TEST_F(GridTest, ANumberBegunWithASignOrSeparatorWaitsForItsDigits) {
  grid->SetSelectedField("QT");
  EXPECT_EQ(Outcome::Done, UserKey(*grid, ','));
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_EQ(std::optional<std::string>(","), grid->EditorText());
  EXPECT_DOUBLE_EQ(1.0, ds.FieldByName("QT").AsFloat());
  UserEditCell(*grid, ",5");
  EXPECT_EQ(std::optional<std::string>(",5"), grid->EditorText());
  UserPost(*grid);
  EXPECT_DOUBLE_EQ(0.5, ds.FieldByName("QT").AsFloat());

  UserKey(*grid, '-');
  EXPECT_EQ(std::optional<std::string>("-"), grid->EditorText());
  EXPECT_ANY_THROW(UserPost(*grid));
  EXPECT_DOUBLE_EQ(0.5, ds.FieldByName("QT").AsFloat());
  UserKey(*grid, '+');
  EXPECT_ANY_THROW(UserClickCell(*grid, 2, std::nullopt));
  EXPECT_EQ(1, ds.RecNo());
  EXPECT_DOUBLE_EQ(0.5, ds.FieldByName("QT").AsFloat());

  // The beginning belongs to its column: another column's editor shows its
  // own field, and the post still hands the beginning to the number.
  UserKey(*grid, '-');
  grid->SetSelectedField("FLAG");
  EXPECT_EQ(std::nullopt, grid->EditorText());
  EXPECT_ANY_THROW(UserPost(*grid));
  EXPECT_DOUBLE_EQ(0.5, ds.FieldByName("QT").AsFloat());
}

TEST_F(GridTest, EscapeDropsWhatWasTypedIntoTheRow) {
  grid->SetSelectedField("QT");
  UserKey(*grid, '7');
  UserKey(*grid, ',');  // a number only begun is dropped too
  grid->SetSelectedField("FLAG");
  UserKey(*grid, 'T');
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_EQ(Outcome::Done, UserKey(*grid, '\x1b'));
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  EXPECT_DOUBLE_EQ(1.0, ds.FieldByName("QT").AsFloat());
  EXPECT_EQ(std::nullopt, grid->EditorText());
  UserClickCell(*grid, 2, std::nullopt);  // nothing is posted on the way out
  ds.First();
  EXPECT_DOUBLE_EQ(1.0, ds.FieldByName("QT").AsFloat());

  // An edit the screen began under a grid the clerk cannot edit stays.
  grid->read_only = true;
  ds.Edit();
  ds.FieldByName("QT").SetAsFloat(3);
  UserKey(*grid, '\x1b');
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
}

TEST_F(GridTest, KeyHandlerSwallowsKeysWithTheSilentAbort) {
  std::string seen;
  grid->on_key_press = [&](Control&, char& key) {
    seen += key;
    if (key == 't' || key == 'T') return;
    throw Abort();
  };
  grid->SetSelectedField("FLAG");
  // Swallowed: no edit starts, no failure leaves the action.
  EXPECT_EQ(Outcome::Done, UserKey(*grid, 'x'));
  EXPECT_EQ(data::DatasetState::Browse, ds.State());
  // A key that survives is typed into the editable cell.
  EXPECT_EQ(Outcome::Done, UserKey(*grid, 't'));
  EXPECT_EQ("T", ds.FieldByName("FLAG").AsString());
  EXPECT_EQ("xt", seen);
}

TEST_F(GridTest, SelectingAColumnFiresColumnEventsOnlyOnChange) {
  std::string log;
  grid->on_col_exit = [&](Control&) { log += "-" + grid->SelectedColumn()->FieldName(); };
  grid->on_col_enter = [&](Control&) { log += "+" + grid->SelectedColumn()->FieldName(); };
  std::string clicked;
  grid->on_cell_click = [&](Control&, GridColumn& c) { clicked += c.FieldName() + ";"; };
  UserClickCell(*grid, std::nullopt, std::string("qt"));  // field names ignore case
  UserClickCell(*grid, 3, std::string("QT"));
  EXPECT_EQ("-NOME+QT", log);
  EXPECT_EQ("QT;QT;", clicked);
  EXPECT_EQ(3, grid->CurrentRow());
  EXPECT_THROW(UserClickCell(*grid, std::nullopt, std::string("NOPE")), Error);
  // A row the grid does not show: nothing moves, no click fires.
  for (int row : {4, 0, -1, INT_MAX}) {
    EXPECT_EQ(Outcome::NoSuchRow, UserClickCell(*grid, row, std::string("NOME"))) << row;
  }
  EXPECT_EQ(3, grid->CurrentRow());
  EXPECT_EQ("QT", grid->SelectedColumn()->FieldName());
  EXPECT_EQ("QT;QT;", clicked);
}

TEST_F(GridTest, ColumnsDefaultToTheVisibleFieldsWithTheirLabels) {
  DataGrid& plain = form.Add<DataGrid>("dbgPlain");
  plain.SetDataSource(&source);
  ds.FieldByName("QT").visible = false;
  ds.FieldByName("NOME").display_label = "Nome";
  ASSERT_EQ(2, plain.ColumnCount());
  EXPECT_EQ("Nome", plain.Column(0).Title());
  EXPECT_EQ("FLAG", plain.Column(1).Title());
  EXPECT_EQ(-1, plain.ColumnIndexOf("QT"));
}

// Columns and their titles belong to the layout: they show the field labels
// before the dataset is first loaded, as they will after.
TEST_F(GridTest, TitlesShowTheFieldLabelsBeforeTheDatasetIsLoaded) {
  data::ClientDataset closed("cdsClosed");
  closed.AddField("NRPEDIDO", data::FieldType::String, 10).display_label = "Pedido";
  closed.AddField("PESO", data::FieldType::Double);
  data::DataSource closed_source;
  closed_source.SetDataSet(&closed);
  DataGrid& persistent = form.Add<DataGrid>("dbgPersistent");
  persistent.SetDataSource(&closed_source);
  persistent.AddColumn("NRPEDIDO");
  persistent.AddColumn("PESO");
  persistent.AddColumn("NOPE");
  DataGrid& automatic = form.Add<DataGrid>("dbgAutomatic");
  automatic.SetDataSource(&closed_source);
  ASSERT_FALSE(closed.Active());
  for (DataGrid* g : {&persistent, &automatic}) {
    ASSERT_GE(g->ColumnCount(), 2) << g->Name();
    EXPECT_EQ("Pedido", g->Column(0).Title()) << g->Name();
    EXPECT_EQ("PESO", g->Column(1).Title()) << g->Name();
  }
  EXPECT_EQ("NOPE", persistent.Column(2).Title());
  EXPECT_EQ(0, persistent.RowCount());
}

TEST_F(GridTest, DrawEventsSeeTheRowBeingDrawnWithoutMovingTheCursor) {
  ds.SetRecNo(2);
  scrolls = 0;
  grid->on_draw_column_cell = [](DataGrid& g, const Rect& rect, int, GridColumn& column,
                                 DrawState state) {
    if (column.FieldName() != "NOME") return;
    Canvas& canvas = g.CurrentCanvas();
    canvas.FillRect(rect);
    canvas.TextRect(rect, rect.left + 2, rect.top + 2,
                    column.Field()->AsString() + (g.EditorMode() ? "*" : ""));
    if (state.selected)
      canvas.BrushCopy({rect.left + 1, rect.top, rect.left + 17, rect.bottom}, LoadPicture("check"),
                       {0, 0, 16, rect.Height()}, kOlive);
  };
  struct LayoutCount : data::DataLink {
    int changes = 0;
    void LayoutChanged() override { ++changes; }
  } layout;
  source.AddLink(&layout);
  RecordingCanvas canvas;
  grid->PaintCell(canvas, {0, 18, 60, 36}, 3, 0, DrawState{true, false, false});
  EXPECT_EQ(
      "brush 0,120,215 | fill 0,18,60,36 | text 2,20 [0,18,60,36] Bike | fill 0,18,60,36 | "
      "text 2,20 [0,18,60,36] Bike | copy check 1,18,17,36 <- 0,0,16,18 transparent 128,128,0",
      canvas.Joined());
  EXPECT_EQ(2, ds.RecNo());
  EXPECT_EQ(0, scrolls);
  // A view repaints on a change of layout: a paint that caused one would
  // never end.
  EXPECT_EQ(0, layout.changes);
  source.RemoveLink(&layout);
  EXPECT_THROW(grid->CurrentCanvas(), Error);  // only during a paint

  // While editing, the current row is drawn with the editor flag from its
  // edit buffer, and the other rows as they are stored (a grid that draws
  // a name for a code shows the names on every row), the edit kept.
  grid->SetSelectedField("QT");
  UserEditCell(*grid, "3");
  canvas.Clear();
  grid->PaintCell(canvas, {0, 0, 60, 18}, 2, 0, DrawState{});
  EXPECT_NE(std::string::npos, canvas.Joined().find("Van*"));
  canvas.Clear();
  grid->PaintCell(canvas, {0, 0, 60, 18}, 1, 0, DrawState{});
  EXPECT_NE(std::string::npos, canvas.Joined().find("Truck"));
  EXPECT_EQ(data::DatasetState::Edit, ds.State());
  EXPECT_EQ(2, ds.RecNo());
  EXPECT_EQ(3.0, ds.FieldByName("QT").AsFloat());
}

TEST(PictureTest, BuiltInCheckBoxesOnOlive) {
  Picture check = LoadPicture("check");
  Picture uncheck = LoadPicture("uncheck");
  ASSERT_EQ(16, check.Width());
  ASSERT_EQ(16, uncheck.Height());
  EXPECT_EQ(kOlive, check.Pixel(0, 0));
  int check_black = 0, uncheck_black = 0;
  for (int y = 2; y < 14; ++y) {
    for (int x = 2; x < 14; ++x) {
      check_black += check.Pixel(x, y) == Color{0, 0, 0};
      uncheck_black += uncheck.Pixel(x, y) == Color{0, 0, 0};
    }
  }
  EXPECT_GT(check_black, 0);    // the tick
  EXPECT_EQ(0, uncheck_black);  // an empty box
  EXPECT_THROW(LoadPicture("nothing"), Error);
}

}  // namespace
}  // namespace dg::ui
