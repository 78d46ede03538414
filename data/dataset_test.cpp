#include "data/dataset.h"

#include <gtest/gtest.h>

namespace dg::data {
namespace {

// A small item table: order, item, flag, quantity, unit weight.
DataPacket Items(std::vector<std::vector<Variant>> rows) {
  DataPacket p;
  p.fields = {{"NRPEDIDO", FieldType::String, 10},
              {"NRITEMPED", FieldType::String, 10},
              {"IDCHECK", FieldType::String, 1},
              {"QTDEAEXP", FieldType::Double, 0},
              {"VRPESOBRUTPR", FieldType::Double, 0}};
  p.rows = std::move(rows);
  return p;
}

DataPacket ThreeItems() {
  return Items({{"P2", "1", "S", 2.0, 1.5},
                {"P1", "2", "X", 1.0, Variant::Null()},
                {"P1", "1", "S", 4.0, 0.5}});
}

// The visible records as "order/item" in navigation order.
std::string Walk(ClientDataset& ds, const char* a = "NRPEDIDO", const char* b = "NRITEMPED") {
  std::string out;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    if (!out.empty()) out += " ";
    out += ds.FieldByName(a).AsString() + "/" + ds.FieldByName(b).AsString();
  }
  return out;
}

// Records events and state changes as a compact trace.
struct Recorder : DataLink {
  std::string trace;
  void StateChanged() override { trace += "state "; }
  void DataChanged() override { trace += "data "; }
  void LayoutChanged() override { trace += "layout "; }
};

std::string ChangeLog(const ClientDataset& ds) {
  std::string out;
  for (const auto& c : ds.Delta().changes) {
    if (!out.empty()) out += " ";
    const char* s = c.state == RowState::Inserted   ? "ins"
                    : c.state == RowState::Modified ? "mod"
                                                    : "del";
    out += s;
    out += "(" + (c.old_values.empty()
                      ? std::string("-")
                      : c.old_values[0].ToString() + "," + c.old_values[3].DebugString());
    out +=
        "->" +
        (c.new_values.empty() ? std::string("-")
                              : c.new_values[0].ToString() + "," + c.new_values[3].DebugString()) +
        ")";
  }
  return out;
}

TEST(DatasetTest, LoadFiresAfterScrollOnlyWhenNotEmptyAndNotifiesState) {
  for (bool empty : {false, true}) {
    ClientDataset ds("cdsExp");
    DataSource src(&ds);
    std::string trace;
    src.on_state_change = [&](DataSource& s) {
      trace += std::string("state:") + DatasetStateName(s.State()) + " ";
    };
    ds.after_scroll = [&](ClientDataset& d) {
      trace += "scroll:" + d.FieldByName("NRPEDIDO").AsString() + " ";
    };
    ds.LoadPacket(empty ? Items({}) : ThreeItems());
    EXPECT_EQ(trace, empty ? "state:browse " : "state:browse scroll:P2 ") << empty;
    EXPECT_EQ(ds.RecNo(), empty ? 0 : 1);
    EXPECT_EQ(ds.IsEmpty(), empty);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.Eof(), empty);
    trace.clear();
    ds.Close();
    EXPECT_EQ(trace, "state:inactive ");
  }
}

TEST(DatasetTest, LoadReplacesContentsAndEmptiesTheLog) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(9);
  ds.Post();
  ASSERT_EQ(ds.ChangeCount(), 1);
  ds.LoadPacket(Items({{"P9", "1", "S", 1.0, 1.0}}));
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(Walk(ds), "P9/1");
}

TEST(DatasetTest, NavigationFlags) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Prior();
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 2);
  ds.MoveBy(-5);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 1);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("NRPEDIDO").AsString(), "P1");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
}

TEST(DatasetTest, OldValuesAfterLoadEditAndInsert) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  Field& qty = ds.FieldByName("QTDEAEXP");
  EXPECT_EQ(qty.OldValue(), Variant(2.0));
  ds.Edit();
  qty.SetAsFloat(7);
  ds.Post();
  EXPECT_EQ(qty.Value(), Variant(7.0));
  EXPECT_EQ(qty.OldValue(), Variant(2.0));
  ds.Edit();
  qty.SetAsFloat(8);  // a second edit keeps the value at load
  ds.Post();
  EXPECT_EQ(qty.OldValue(), Variant(2.0));
  ds.MergeChangeLog();
  EXPECT_EQ(qty.OldValue(), Variant(8.0));
  ds.Append();
  EXPECT_TRUE(qty.OldValue().IsNull());
  ds.FieldByName("NRPEDIDO").SetValue("P3");
  qty.SetAsFloat(1);
  ds.Post();
  EXPECT_TRUE(qty.OldValue().IsNull());
}

TEST(DatasetTest, DeltaAfterEditInsertAndDeleteThenCancelAndMerge) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  const DataPacket loaded = ds.Data();
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(5);
  ds.Post();
  ds.Append();
  ds.FieldByName("NRPEDIDO").SetValue("P7");
  ds.FieldByName("QTDEAEXP").SetAsFloat(1);
  ds.Post();
  ds.Edit();  // an inserted record edited again stays inserted
  ds.FieldByName("QTDEAEXP").SetAsFloat(3);
  ds.Post();
  ds.SetRecNo(2);
  ds.Delete();
  EXPECT_EQ(ChangeLog(ds), "mod(P2,2->P2,5) ins(-->P7,3) del(P1,1->-)");
  EXPECT_EQ(ds.ChangeCount(), 3);

  // An inserted record deleted again vanishes from the log.
  ASSERT_TRUE(ds.Locate("NRPEDIDO", {Variant("P7")}));
  ds.Delete();
  EXPECT_EQ(ChangeLog(ds), "mod(P2,2->P2,5) del(P1,1->-)");

  ds.CancelUpdates();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.Data(), loaded);

  ds.First();
  ds.Delete();
  ds.MergeChangeLog();
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.Data().rows.size(), 2u);
  EXPECT_EQ(ChangeLog(ds), "");
}

TEST(DatasetTest, PostWithoutChangeLogsNothing) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(2);
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST(DatasetTest, EventOrderOfEditPostAndDelete) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  DataSource src(&ds);
  std::string trace;
  src.on_state_change = [&](DataSource& s) {
    trace += std::string(DatasetStateName(s.State())) + " ";
  };
  ds.after_edit = [&](ClientDataset&) { trace += "after_edit "; };
  ds.before_post = [&](ClientDataset&) { trace += "before_post "; };
  ds.after_post = [&](ClientDataset&) { trace += "after_post "; };
  ds.after_delete = [&](ClientDataset&) { trace += "after_delete "; };
  ds.Edit();
  ds.Post();
  ds.Delete();
  EXPECT_EQ(trace, "edit after_edit before_post browse after_post after_delete ");
}

TEST(DatasetTest, BeforePostFailureKeepsTheRecordInEdit) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  ds.before_post = [](ClientDataset& d) {
    if (d.FieldByName("QTDEAEXP").AsFloat() > 10) throw Abort();
  };
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(11);
  EXPECT_THROW(ds.Post(), Abort);
  EXPECT_EQ(ds.State(), DatasetState::Edit);
  EXPECT_EQ(ds.FieldByName("QTDEAEXP").AsFloat(), 11);
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("QTDEAEXP").AsFloat(), 2);
}

TEST(DatasetTest, IndexOnSeveralKeysIsStableAndKeptWhileRecordsChange) {
  ClientDataset ds;
  ds.SetIndexFieldNames("NRPEDIDO;NRITEMPED");
  ds.LoadPacket(Items({{"P2", "1", "S", 1.0, 0.0},
                       {"P1", "2", "S", 2.0, 0.0},
                       {"p1", "1", "S", 3.0, 0.0},  // lower case sorts after upper case
                       {"P1", "1", "S", 4.0, 0.0},
                       {"P1", "1", "X", 5.0, 0.0},  // equal keys keep storage order
                       {Variant::Null(), "1", "S", 6.0, 0.0}}));
  EXPECT_EQ(Walk(ds, "QTDEAEXP", "IDCHECK"), "6/S 4/S 5/X 2/S 1/S 3/S");

  // A posted record moves to its sorted place and stays current.
  ASSERT_TRUE(ds.Locate("QTDEAEXP", {Variant(1.0)}));
  ds.Edit();
  ds.FieldByName("NRPEDIDO").SetValue("P0");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("QTDEAEXP").AsFloat(), 1);
  EXPECT_EQ(ds.RecNo(), 2);
  ds.Append();
  ds.FieldByName("NRPEDIDO").SetValue("P1");
  ds.FieldByName("NRITEMPED").SetValue("1");
  ds.FieldByName("QTDEAEXP").SetAsFloat(7);
  ds.Post();
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_EQ(Walk(ds, "QTDEAEXP", "IDCHECK"), "6/S 1/S 4/S 5/X 7/ 2/S 3/S");

  ds.SetIndexFieldNames("");
  EXPECT_EQ(Walk(ds, "QTDEAEXP", "IDCHECK"), "1/S 2/S 3/S 4/S 5/X 6/S 7/");
  EXPECT_THROW(ds.SetIndexFieldNames("NRPEDIDO;NOPE"), DatasetError);
  EXPECT_EQ(ds.IndexFieldNames(), "");
}

TEST(DatasetTest, FilterSwitchingAndExpressions) {
  ClientDataset ds;
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  ds.LoadPacket(ThreeItems());
  EXPECT_EQ(Walk(ds), "P2/1 P1/1");
  EXPECT_EQ(ds.RecordCount(), 2);

  int scrolls = 0;
  ds.after_scroll = [&](ClientDataset&) { ++scrolls; };
  ds.SetFilter("IDCHECK = 'X'");
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(Walk(ds), "P1/2");
  ds.SetFilter("IDCHECK = 'Z'");
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_TRUE(ds.FieldByName("NRPEDIDO").IsNull());
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.Data().rows.size(), 3u);  // the whole contents whatever the filter

  struct Case {
    const char* expression;
    const char* visible;
  } cases[] = {
      {"IDCHECK <> 'S'", "P1/2"},
      {"idcheck = 'S' and NRPEDIDO = 'P1'", "P1/1"},
      {"NRPEDIDO = 'P2' OR NRITEMPED = '2' AND IDCHECK = 'X'", "P2/1 P1/2"},
      {"(NRPEDIDO = 'P2' OR NRITEMPED = '2') AND IDCHECK = 'S'", "P2/1"},
      {"QTDEAEXP >= 2", "P2/1 P1/1"},
      {"VRPESOBRUTPR = 0.5", "P1/1"},
      {"[NRPEDIDO]='P1'", "P1/2 P1/1"},
      {"", "P2/1 P1/2 P1/1"},
  };
  ds.SetFiltered(true);
  for (const auto& c : cases) {
    ds.SetFilter(c.expression);
    EXPECT_EQ(Walk(ds), c.visible) << c.expression;
  }
}

TEST(DatasetTest, FilterLiteralWithDoubledQuote) {
  ClientDataset ds;
  ds.LoadPacket(Items({{"D'AVILA", "1", "S", 1.0, 1.0}, {"DAVILA", "1", "S", 1.0, 1.0}}));
  ds.SetFilter("NRPEDIDO = 'D''AVILA'");
  ds.SetFiltered(true);
  EXPECT_EQ(Walk(ds), "D'AVILA/1");
}

TEST(DatasetTest, MalformedFilterIsAClearErrorAndKeepsThePreviousOne) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  const char* bad[] = {
      "IDCHECK = 'S",
      "IDCHECK 'S'",
      "= 'S'",
      "IDCHECK = 'S' AND",
      "(IDCHECK = 'S'",
      "IDCHECK = 'S')",
      "IDCHECK = 'S' XOR A = 'B'",
      "NOPE = 'S'",
      "QTDEAEXP = 'abc'",
      "IDCHECK = S",
  };
  for (const char* expression : bad) {
    try {
      ds.SetFilter(expression);
      ADD_FAILURE() << "accepted: " << expression;
    } catch (const DatasetError& e) {
      EXPECT_NE(std::string(e.what()).find("filter"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ds.Filter(), "IDCHECK = 'S'");
    EXPECT_EQ(ds.RecordCount(), 2) << expression;
  }
}

// The record walk reads what field access reads, in the same order, without
// moving the current record; it refuses columns it cannot read inline.
TEST(DatasetTest, RecordWalkReadsTheVisibleRecordsLikeFieldAccess) {
  ClientDataset ds("cdsExp");
  ds.SetIndexFieldNames("NRPEDIDO;NRITEMPED");
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  ds.LoadPacket(Items({{"P2", "1", "S", 2.0, 1.5},
                       {"P1", "2", "X", 1.0, 9.0},
                       {"P1", "1", "S", 4.0, Variant::Null()},
                       {"P0", "3", "S", 0.5, 2.0}}));
  ds.Last();
  auto walked = [&] {
    const NumberColumn qty = ds.Numbers(ds.FieldByName("QTDEAEXP"));
    const NumberColumn weight = ds.Numbers(ds.FieldByName("VRPESOBRUTPR"));
    std::string out;
    for (RecordWalk w = ds.Walk(); w.Next();) {
      out +=
          Variant(qty.At(w.Row())).ToString() + "x" + Variant(weight.At(w.Row())).ToString() + " ";
    }
    return out;
  };
  // Index order, the filtered-out record left out, a cell without value as 0.
  EXPECT_EQ(walked(), "0.5x2 4x0 2x1.5 ");
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(ds.FieldByName("NRPEDIDO").AsString(), "P2");

  // A posted change and a new record are read; the filter switched off
  // shows the hidden one.
  ds.First();
  ds.Edit();
  ds.FieldByName("QTDEAEXP").SetAsFloat(8);
  ds.Post();
  ds.Append();
  ds.FieldByName("NRPEDIDO").SetValue("P3");
  ds.FieldByName("IDCHECK").SetValue("S");
  ds.FieldByName("QTDEAEXP").SetAsFloat(1);
  ds.Post();
  EXPECT_EQ(walked(), "8x2 4x0 2x1.5 1x0 ");
  ds.SetFiltered(false);
  EXPECT_EQ(walked(), "8x2 4x0 1x9 2x1.5 1x0 ");

  EXPECT_THROW(ds.Numbers(ds.FieldByName("NRPEDIDO")), DatasetError);
  ClientDataset other;
  Field& calc = other.AddCalculatedField("VRPESOITEM", FieldType::Double);
  other.LoadPacket(ThreeItems());
  EXPECT_THROW(other.Numbers(calc), DatasetError);
  EXPECT_THROW(ds.Numbers(other.FieldByName("QTDEAEXP")), DatasetError);
  other.Close();
  EXPECT_THROW(other.Walk(), DatasetError);
}

TEST(DatasetTest, CalculatedFieldsWithEmptyInputs) {
  ClientDataset ds;
  ds.AddField("NRPEDIDO", FieldType::String, 10);
  ds.AddField("QTDEAEXP", FieldType::Double);
  ds.AddField("VRPESOBRUTPR", FieldType::Double);
  Field& weight = ds.AddCalculatedField("VRPESOITEM", FieldType::Double);
  int calls = 0;
  ds.on_calc_fields = [&](ClientDataset& d) {
    ++calls;
    EXPECT_TRUE(d.FieldByName("VRPESOITEM").IsNull());  // starts null for each record
    d.FieldByName("VRPESOITEM")
        .SetAsFloat(d.FieldByName("QTDEAEXP").AsFloat() * d.FieldByName("VRPESOBRUTPR").AsFloat());
  };
  ds.LoadPacket(ThreeItems());  // binds by name; packet fields not defined are added
  EXPECT_EQ(ds.FieldCount(), 6);
  EXPECT_EQ(weight.AsFloat(), 3.0);
  ds.Next();
  EXPECT_EQ(weight.AsFloat(), 0.0);  // empty unit weight counts as 0
  EXPECT_FALSE(weight.IsNull());
  ds.Edit();
  ds.FieldByName("VRPESOBRUTPR").SetAsFloat(2);
  EXPECT_EQ(weight.AsFloat(), 2.0);
  ds.Post();
  EXPECT_EQ(weight.AsFloat(), 2.0);
  std::vector<double> seen;
  for (int r = 1; r <= ds.RecordCount(); ++r)
    ds.ReadAt(r, [&] { seen.push_back(weight.AsFloat()); });
  EXPECT_EQ(seen, (std::vector<double>{3.0, 2.0, 2.0}));
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_GT(calls, 0);
  for (const auto& f : ds.Data().fields) EXPECT_NE(f.name, "VRPESOITEM");
  EXPECT_THROW(weight.SetAsFloat(1), DatasetError);  // only the calculate event writes it

  // What the event reads from outside the record changes: the current
  // record keeps its computed value until told, then computes it again, in
  // browse and while being edited.
  double factor = 1;
  ds.on_calc_fields = [&](ClientDataset& d) {
    d.FieldByName("VRPESOITEM")
        .SetAsFloat(factor * d.FieldByName("QTDEAEXP").AsFloat() *
                    d.FieldByName("VRPESOBRUTPR").AsFloat());
  };
  ds.First();
  EXPECT_EQ(weight.AsFloat(), 3.0);
  factor = 10;
  EXPECT_EQ(weight.AsFloat(), 3.0);
  ds.RefreshCalculated();
  EXPECT_EQ(weight.AsFloat(), 30.0);
  ds.Edit();
  factor = 100;
  ds.RefreshCalculated();
  EXPECT_EQ(weight.AsFloat(), 300.0);
  ds.Cancel();
}

TEST(DatasetTest, LocateIgnoringCase) {
  ClientDataset ds;
  ds.LoadPacket(Items(
      {{"abc", "1", "S", 1.0, 0.0}, {"ÁGUA", "2", "S", 2.0, 0.0}, {"ABC", "3", "S", 3.0, 0.0}}));
  struct Case {
    std::vector<Variant> values;
    bool ignore_case;
    int rec_no;  // 0: not found
  } cases[] = {
      {{"ABC", "1"}, false, 0}, {{"ABC", "3"}, false, 3},  {{"ABC", "1"}, true, 1},
      {{"água", "2"}, true, 2}, {{"água", "2"}, false, 0}, {{"abc", Variant::Null()}, true, 0},
  };
  for (const auto& c : cases) {
    ds.First();
    EXPECT_EQ(ds.Locate("NRPEDIDO;NRITEMPED", c.values, c.ignore_case), c.rec_no != 0);
    EXPECT_EQ(ds.RecNo(), c.rec_no ? c.rec_no : 1);
  }
  EXPECT_TRUE(ds.Locate("QTDEAEXP", {Variant(2)}));
  EXPECT_THROW(ds.Locate("NRPEDIDO;NRITEMPED", {Variant("x")}), DatasetError);
}

TEST(DatasetTest, TextLongerThanTheFieldIsAnError) {
  ClientDataset ds;
  ds.AddField("NRPEDIDO", FieldType::String, 10);
  ds.AddField("DSNOTA", FieldType::String);  // no size: 20 characters
  ds.CreateDataSet();
  ds.Append();
  try {
    ds.FieldByName("NRPEDIDO").SetValue("123456789012");
    ADD_FAILURE();
  } catch (const DatasetError& e) {
    EXPECT_STREQ(e.what(), "field NRPEDIDO: text of 12 characters is longer than its size 10");
  }
  EXPECT_TRUE(ds.FieldByName("NRPEDIDO").IsNull());
  ds.FieldByName("NRPEDIDO").SetValue("ÇÇÇÇÇÇÇÇÇÇ");  // characters, not bytes
  EXPECT_EQ(ds.FieldByName("DSNOTA").Size(), 20);
  EXPECT_THROW(ds.FieldByName("DSNOTA").SetValue(std::string(21, 'x')), DatasetError);
  ds.Post();

  ClientDataset loaded;
  loaded.AddField("NRPEDIDO", FieldType::String, 1);
  EXPECT_THROW(loaded.LoadPacket(ThreeItems()), DatasetError);
}

TEST(DatasetTest, UnknownIndexOrFilterFieldFailsTheLoad) {
  for (bool by_index : {true, false}) {
    ClientDataset ds;  // no fields yet: the names are checked at the load
    if (by_index) {
      ds.SetIndexFieldNames("NRPEDIDO;NOPE");
    } else {
      ds.SetFilter("NOPE = 'S'");
      ds.SetFiltered(true);
    }
    EXPECT_THROW(ds.LoadPacket(ThreeItems()), DatasetError) << by_index;
    EXPECT_FALSE(ds.Active());
  }
}

TEST(DatasetTest, LoadChecksThePacketAgainstTheFields) {
  struct Case {
    const char* name;
    std::function<void(ClientDataset&, DataPacket&)> setup;
    const char* message;
  } cases[] = {
      {"long text", [](ClientDataset& d, DataPacket& p) { p.rows[0][0] = Variant("12345678901"); },
       "field NRPEDIDO: text of 11 characters is longer than its size 10"},
      {"wrong arity", [](ClientDataset& d, DataPacket& p) { p.rows[1].pop_back(); },
       "row 2 has 4 cells for 5 fields"},
      {"wrong kind", [](ClientDataset& d, DataPacket& p) { p.rows[2][3] = Variant("x"); },
       "row 3: a String value does not fit the double field QTDEAEXP"},
      {"defined type",
       [](ClientDataset& d, DataPacket& p) { d.AddField("IDCHECK", FieldType::DateTime); },
       "field IDCHECK is datetime but the packet holds string"},
      {"delta", [](ClientDataset& d, DataPacket& p) { p.kind = DataPacket::Kind::Delta; },
       "change log"},
  };
  for (const auto& c : cases) {
    ClientDataset ds("cdsExp");
    DataPacket p = ThreeItems();
    c.setup(ds, p);
    try {
      ds.LoadPacket(p);
      ADD_FAILURE() << c.name;
    } catch (const DatasetError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
    EXPECT_FALSE(ds.Active()) << c.name;
  }
}

TEST(DatasetTest, TextEntryAndDisplay) {
  ClientDataset ds;
  ds.AddField("QTDEAEXP", FieldType::Double);
  ds.AddField("DTENTPED", FieldType::DateTime);
  ds.AddField("NRITEM", FieldType::Integer);
  ds.CreateDataSet();
  Field& qty = ds.FieldByName("QTDEAEXP");
  Field& date = ds.FieldByName("DTENTPED");
  qty.display_format = "#,##0.000";
  ds.Append();
  qty.SetText("1.234,5");
  date.SetText("05/03/2024");
  ds.FieldByName("NRITEM").SetText("12");
  EXPECT_EQ(qty.AsFloat(), 1234.5);
  EXPECT_EQ(qty.DisplayText(), "1.234,500");
  EXPECT_EQ(qty.Text(), "1.234,500");
  EXPECT_EQ(date.DisplayText(), "05/03/2024");
  EXPECT_EQ(date.AsDateTime(), DateTime::FromParts(2024, 3, 5));
  EXPECT_THROW(qty.SetText("1,2,3"), DatasetError);
  EXPECT_THROW(date.SetText("31/02/2024"), DatasetError);
  EXPECT_THROW(ds.FieldByName("NRITEM").SetText("1,5"), DatasetError);
  qty.SetText("");
  EXPECT_TRUE(qty.IsNull());
  EXPECT_EQ(qty.DisplayText(), "");

  qty.on_get_text = [](Field& f, bool display) { return display ? "shown" : "edited"; };
  EXPECT_EQ(qty.DisplayText(), "shown");
  EXPECT_EQ(qty.Text(), "edited");
}

// The clerk reads why a typed text was refused, in the screen's language, by
// the column's title; a pasted page is not echoed whole; the value stays.
TEST(DatasetTest, RefusedTextsSayWhatWasWantedAndKeepTheValue) {
  ClientDataset ds;
  ds.AddField("QTDEAEXP", FieldType::Double);
  ds.AddField("DTENTPED", FieldType::DateTime);
  ds.AddField("NRITEM", FieldType::Integer);
  ds.CreateDataSet();
  ds.FieldByName("QTDEAEXP").display_label = "Qtde. a expedir";
  ds.Append();
  ds.FieldByName("QTDEAEXP").SetText("2,5");
  auto message = [&](const char* field, const std::string& text) {
    try {
      ds.FieldByName(field).SetText(text);
    } catch (const DatasetError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message("QTDEAEXP", "1.2,3"), "Qtde. a expedir: \"1.2,3\" não é um número válido.");
  EXPECT_EQ(message("NRITEM", "1,5"), "NRITEM: \"1,5\" não é um número inteiro.");
  EXPECT_EQ(message("DTENTPED", "31/02/2024"), "DTENTPED: \"31/02/2024\" não é uma data válida.");
  const std::string pasted =
      message("QTDEAEXP", std::string(39, 'x') + "ção" + std::string(5000, 'y'));
  EXPECT_EQ(pasted, "Qtde. a expedir: \"" + std::string(39, 'x') + "ç…\" não é um número válido.");
  EXPECT_EQ(ds.FieldByName("QTDEAEXP").AsFloat(), 2.5);
}

// A float without a display format shows fifteen significant digits: the
// binary remainder of a computed value never reaches the clerk, and the
// stored value keeps every digit.
TEST(DatasetTest, UnformattedFloatsShowFifteenDigits) {
  ClientDataset ds;
  ds.AddField("VRVOLUMEITEM", FieldType::Double);
  ds.CreateDataSet();
  Field& volume = ds.FieldByName("VRVOLUMEITEM");
  const struct {
    double value;
    const char* shown;
  } cases[] = {
      {12 * 0.012, "0,144"},
      {0.1 + 0.2, "0,3"},
      {-0.1, "-0,1"},
      {1234.5, "1234,5"},
      {123456789.123456, "123456789,123456"},
      {1e20, "100000000000000000000"},
      {0.000125, "0,000125"},
      {2.0 / 3, "0,666666666666667"},
  };
  ds.Append();
  for (const auto& c : cases) {
    volume.SetAsFloat(c.value);
    EXPECT_EQ(c.shown, volume.DisplayText()) << c.value;
    EXPECT_EQ(c.shown, volume.Text()) << c.value;
    EXPECT_EQ(c.value, volume.AsFloat());
  }
}

TEST(DatasetTest, ControlsDisabledNestAndEndWithOneLayoutChange) {
  ClientDataset ds;
  ds.LoadPacket(ThreeItems());
  DataSource src(&ds);
  Recorder rec;
  src.AddLink(&rec);
  ds.DisableControls();
  ds.DisableControls();
  ds.Next();
  ds.EnableControls();
  ds.Next();
  EXPECT_EQ(rec.trace, "");
  ds.EnableControls();
  EXPECT_EQ(rec.trace, "layout ");
  rec.trace.clear();
  ds.Edit();
  EXPECT_EQ(rec.trace, "state ");
  src.RemoveLink(&rec);
}

TEST(DatasetTest, WritesOutsideEditAndClosedUseAreErrors) {
  ClientDataset ds;
  EXPECT_THROW(ds.First(), DatasetError);
  ds.LoadPacket(ThreeItems());
  EXPECT_THROW(ds.FieldByName("QTDEAEXP").SetAsFloat(1), DatasetError);
  EXPECT_THROW(ds.FieldByName("NOPE"), DatasetError);
  EXPECT_EQ(ds.FindField("qtdeaexp"), &ds.FieldByName("QTDEAEXP"));
  ds.Close();
  EXPECT_THROW(ds.FieldByName("QTDEAEXP").Value(), DatasetError);
}

TEST(DatasetTest, DataSourceOutlivingItsDatasetIsDetached) {
  DataSource src;
  {
    ClientDataset ds;
    src.SetDataSet(&ds);
    EXPECT_EQ(src.DataSet(), &ds);
  }
  EXPECT_EQ(src.DataSet(), nullptr);
  EXPECT_EQ(src.State(), DatasetState::Inactive);
}

}  // namespace
}  // namespace dg::data
