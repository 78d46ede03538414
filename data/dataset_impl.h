// The client dataset's private state and storage (internal to data/):
// shared by the source files that implement ClientDataset and Field.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/change_log.h"
#include "data/column.h"
#include "data/dataset.h"
#include "data/filter.h"

namespace dg::data {

// A string field defined or received without a size holds this many characters.
constexpr int kDefaultStringSize = 20;

inline bool IsNumericType(FieldType t) { return t == FieldType::Double || t == FieldType::Integer; }

// Storage: one column of cells per field, rows addressed by a row id that
// never changes while the contents stay loaded. `order` lists the live rows
// in storage order; `view` the visible rows (not deleted, passing the
// filter) in index order; `cur` is a position in `view`.

struct ClientDataset::Impl {
  // A stored row as the filter reads it.
  struct StoredRow : FilterRow {
    StoredRow(const std::vector<Column>& c, int r) : cols(c), row(r) {}
    const Variant& Cell(int index, Variant& scratch) const override {
      return cols[index].Ref(row, scratch);
    }
    const std::vector<Column>& cols;
    int row;
  };

  explicit Impl(ClientDataset* owner) : ds(owner) {}

  ClientDataset* ds;
  std::vector<Column> cols;
  mutable std::vector<Variant> scratch;  // numeric cells handed out by reference
  ChangeLog log;                         // status of every row id
  std::vector<int> order;
  std::vector<int> rank;  // position of each row in `order`, -1 for dead rows
  std::vector<int> view;
  int cur = -1;
  bool bof = true;
  bool eof = true;

  std::vector<Variant> buffer;  // the record in edit or insert state
  int edit_row = -1;
  int insert_before = -1;  // row the inserted record goes before; -1: at the end

  std::string index_text;
  std::vector<int> index_fields;
  bool index_bound = false;
  std::string filter_text;
  FilterExpression filter;
  bool filter_bound = false;
  bool filtered = false;

  int disabled = 0;
  std::vector<DataSource*> sources;

  int read_row = -1;         // row Fields read instead of the current one
  bool calculating = false;  // inside on_calc_fields
  // The current record's calculated fields are computed when first read;
  // calc_row is the row they were last computed for (-1: none).
  int calc_row = -1;

  // ---- Helpers.
  static const Variant& Null() {
    static const Variant kNull = Variant::Null();
    return kNull;
  }
  std::string Named(const std::string& text) const {
    return ds->name_.empty() ? text : "dataset " + ds->name_ + ": " + text;
  }
  void CheckActive() const {
    if (ds->state_ == DatasetState::Inactive) FailClosed();
  }
  [[noreturn, gnu::noinline, gnu::cold]] void FailClosed() const;
  int RowCount() const { return log.RowCount(); }
  int CurrentRow() const {
    return cur >= 0 && cur < static_cast<int>(view.size()) ? view[cur] : -1;
  }

  void NotifyState() {
    const auto copy = sources;
    for (DataSource* s : copy) s->NotifyState();
  }
  void NotifyData() {
    if (disabled > 0) return;
    const auto copy = sources;
    for (DataSource* s : copy) s->NotifyData();
  }
  void NotifyLayout() {
    if (disabled > 0) return;
    const auto copy = sources;
    for (DataSource* s : copy) s->NotifyLayout();
  }
  void SetState(DatasetState state) {
    ds->state_ = state;
    NotifyState();
  }
  void FireScroll() {
    if (ds->after_scroll && !view.empty()) ds->after_scroll(*ds);
  }

  void ResetContents();

  // The stored values of `row` now, for the change log; `row` changes next.
  std::vector<Variant> Before(int row) const;
  void DropDeadRows();
  // After the view was rebuilt: back on `row` when it is still visible, else
  // on the nearest position.
  void StayOn(int row);

  void RebuildRank();

  // Fields used by the index or the filter are looked up when the dataset
  // has its fields; unknown names are an error from then on.
  void BindIndex();
  void BindFilter();
  bool Passes(int row) const {
    return !filtered || filter.Empty() || filter.Matches(StoredRow{cols, row});
  }
  bool FilterUsesCalculated() const;

  bool KeyLess(int a, int b) const {
    for (int f : index_fields) {
      const int c = cols[f].Compare(a, b);
      if (c != 0) return c < 0;
    }
    return false;
  }
  bool KeyOrRankLess(int a, int b) const {
    for (int f : index_fields) {
      const int c = cols[f].Compare(a, b);
      if (c != 0) return c < 0;
    }
    return rank[a] < rank[b];
  }

  void RebuildView();

  // Puts `row` back at its place in the view after its values changed;
  // returns its view position, or -1 when the filter now hides it.
  int Reposition(int row);

  // Runs on_calc_fields for one stored row (calculated cells start null).
  void CalcRow(int row);
  // Same for the record being edited.
  void CalcBuffer();

  // The cell Fields read: the row being read or calculated, the edit
  // buffer, or the current record.
  const Variant& Cell(int f) {
    if (read_row >= 0) return cols[f].Ref(read_row, scratch[f]);
    if (ds->state_ == DatasetState::Edit || ds->state_ == DatasetState::Insert) return buffer[f];
    const int row = CurrentRow();
    if (row < 0) return Null();
    if (row != calc_row && ds->on_calc_fields && ds->fields_[f]->Calculated()) CalcCurrent(row);
    return cols[f].Ref(row, scratch[f]);
  }
  // Fast path of Field::AsFloat: the number in a double cell of the current
  // record; false when the general path must answer.
  // REQUIRES: f is not a calculated field.
  bool NumberAt(int f, double* out) const {
    if (ds->state_ != DatasetState::Browse || read_row >= 0 || !cols[f].Numeric()) return false;
    const int row = CurrentRow();
    return row >= 0 && cols[f].Number(row, out);
  }
  [[gnu::noinline]] void CalcCurrent(int row);

  // Right after a load (no change log yet): stores the rows in index order,
  // so that walking the index reads the columns front to back.
  void ClusterByIndex();

  void GoTo(int pos) {
    cur = pos;
    calc_row = -1;
    NotifyData();
    FireScroll();
  }

  void CheckBrowseMode() {
    CheckActive();
    if (ds->state_ == DatasetState::Edit || ds->state_ == DatasetState::Insert) ds->Post();
  }

  // The value converted to the field's type; texts checked against the size.
  Variant Coerce(const Field& field, const Variant& value) const;
  static void CheckLength(const Field& field, const std::string& text);

  // A packet cell checked against the field it goes into, in the field's type.
  Variant LoadCell(const Field& field, Variant&& cell, std::size_t row_number) const;

  template <typename Packet>
  void Load(Packet&& packet);

  std::vector<Variant> StoredValues(const std::vector<Variant>& all) const;
  std::vector<Variant> RowValues(int row) const;
  std::vector<FieldDef> StoredDefs() const;
  // Stores a new row (logged as inserted); returns its row id.
  int NewRow(std::vector<Variant>& values);
};

}  // namespace dg::data
