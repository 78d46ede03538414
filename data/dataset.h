// Client dataset: an in-memory table with typed fields, a current record,
// states, events, a change log, an index, a filter and calculated fields.
//
// Not thread-safe: a dataset belongs to the user-interface thread.
// Events are std::function members; "detaching" a handler is saving the
// member, clearing it and restoring it (see HandlerGuard). A handler may throw;
// the failure propagates to whoever caused the event, and the operation that
// fired a *before* event (BeforePost) does not happen.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/packet.h"
#include "data/variant.h"

namespace dg::data {

class ClientDataset;
class DataSource;

// The stored numbers of one double field, read by row id (RecordWalk::Row)
// without a call into the library: what Field::AsFloat answers, 0 for a cell
// without value. Valid while the dataset's records stay as they are.
class NumberColumn {
 public:
  // How a double column marks a cell without value: a NaN no arithmetic
  // produces.
  static constexpr std::uint64_t kNoValueBits = 0x7FF8'DEAD'0000'0001ULL;
  static bool IsNoValue(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits == kNoValueBits;
  }

  double At(int row) const {
    const double d = cells_[row];
    return IsNoValue(d) ? 0 : d;
  }

 private:
  friend class ClientDataset;
  explicit NumberColumn(const double* cells) : cells_(cells) {}
  const double* cells_;
};

// The visible records in index order, as their row ids, for walks that sum
// or search many records: no current record moves and no event fires, so a
// step costs what reading a vector costs. Reads the stored records (a
// record being edited counts as it was before the edit). Valid while the
// dataset's records, index and filter stay as they are.
//
//   const NumberColumn qty = ds.Numbers(ds.FieldByName("QTDEAEXP"));
//   for (RecordWalk w = ds.Walk(); w.Next();) total += qty.At(w.Row());
class RecordWalk {
 public:
  // Moves to the next visible record; false past the last one.
  bool Next() { return ++pos_ < count_; }
  // The row id of the record the walk is on.
  int Row() const { return rows_[pos_]; }

 private:
  friend class ClientDataset;
  RecordWalk(const int* rows, int count) : rows_(rows), count_(count) {}
  const int* rows_;
  int count_;
  int pos_ = -1;
};

enum class DatasetState { Inactive, Browse, Edit, Insert };

// "inactive", "browse", "edit", "insert".
const char* DatasetStateName(DatasetState state);

// A failure in dataset use: unknown field, text too long for its field,
// malformed filter, posting a required field empty, moving while inactive.
class DatasetError : public Error {
 public:
  using Error::Error;
};

// One column of a dataset; reads and writes the current record.
// Owned by its dataset; not copyable.
class Field {
 public:
  Field(ClientDataset* owner, FieldDef def, int index, bool calculated);
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  const std::string& FieldName() const { return def_.name; }
  FieldType DataType() const { return def_.type; }
  int Size() const { return def_.size; }
  const FieldDef& Def() const { return def_; }
  int Index() const { return index_; }
  bool Calculated() const { return calculated_; }
  ClientDataset& DataSet() const { return *owner_; }

  // Presentation.
  std::string display_label;  // empty: titled by the field name
  bool visible = true;
  std::string display_format;  // host numeric pattern, e.g. "#,###0.000"
  std::string edit_format;
  std::string edit_mask;  // e.g. "lll 9999;0; "
  int display_width = 0;  // 0: derived from the size
  bool required = false;
  // Title shown by grids: display_label, or the field name.
  std::string DisplayName() const;

  // Value of the current record. Empty/null is "no value".
  // REQUIRES: the dataset is active and has a current record (for writes:
  // in edit or insert state, else DatasetError).
  Variant Value() const;
  void SetValue(const Variant& value);
  bool IsNull() const;
  std::string AsString() const;  // "" for no value; numbers as plain text
  double AsFloat() const;        // 0 for no value
  DateTime AsDateTime() const;
  void SetAsString(const std::string& text);  // converted to the field's type
  void SetAsFloat(double value);
  void Clear();
  // The value of this field when the current record was loaded or last
  // merged; null for a record inserted locally.
  Variant OldValue() const;

  // Texts: the get-text hook when set, otherwise the value formatted with
  // display_format (display) or edit_format (edit); dates as dd/mm/yyyy.
  std::string DisplayText() const;
  std::string Text() const;
  // Entry of a text as the user typed it: the set-text hook when set,
  // otherwise parsed for the field's type (Brazilian decimal comma accepted)
  // and stored. Throws DatasetError on text that is not a valid value.
  void SetText(const std::string& text);

  // Hooks (detachable). on_get_text(field, display) returns the text;
  // on_set_text(field, text) stores what it decides.
  std::function<std::string(Field&, bool display)> on_get_text;
  std::function<void(Field&, const std::string& text)> on_set_text;

  // Asks the grids showing this field to select its column
  // (DataSource::OnFocusField listeners).
  void FocusControl();

 private:
  friend class ClientDataset;
  ClientDataset* owner_;
  FieldDef def_;
  int index_;
  bool calculated_;
};

// Receives notifications from a dataset: grids and data-aware controls.
class DataLink {
 public:
  virtual ~DataLink() = default;
  virtual void StateChanged() {}
  // The current record or its values changed, or rows were added/removed.
  virtual void DataChanged() {}
  // The whole content or layout changed (load, close, filter, index).
  virtual void LayoutChanged() {}
  virtual void FocusField(Field& field) {}
};

// Connects a dataset to controls, and carries the state-change event.
// Not copyable. The dataset must outlive the source or be detached first.
class DataSource {
 public:
  DataSource() = default;
  explicit DataSource(ClientDataset* dataset) { SetDataSet(dataset); }
  ~DataSource();
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  std::string name;
  ClientDataset* DataSet() const { return dataset_; }
  void SetDataSet(ClientDataset* dataset);
  DatasetState State() const;

  // Fires on every state change of the dataset, loading a packet and
  // closing included.
  std::function<void(DataSource&)> on_state_change;

  void AddLink(DataLink* link);
  void RemoveLink(DataLink* link);

  // Called by the dataset.
  void NotifyState();
  void NotifyData();
  void NotifyLayout();
  void NotifyFocusField(Field& field);

 private:
  ClientDataset* dataset_ = nullptr;
  std::vector<DataLink*> links_;
};

class ClientDataset {
 public:
  explicit ClientDataset(std::string name = {});
  ~ClientDataset();
  ClientDataset(const ClientDataset&) = delete;
  ClientDataset& operator=(const ClientDataset&) = delete;

  const std::string& Name() const { return name_; }

  // ---- Field definitions. Persistent fields are defined before the dataset
  // is opened; loading a packet then binds packet columns to them by name
  // (packet fields without a definition are added). Without definitions the
  // packet's fields are used as they come.
  Field& AddField(const std::string& name, FieldType type, int size = 0, bool required = false);
  // A fixed-length string field of `size` characters: packets carry it so
  // marked; values are kept as given.
  Field& AddFixedField(const std::string& name, int size);
  // A calculated field: not stored in packets, recomputed per record by
  // on_calc_fields.
  Field& AddCalculatedField(const std::string& name, FieldType type, int size = 0);
  Field& FieldByName(std::string_view name);  // DatasetError naming the field when unknown
  const Field& FieldByName(std::string_view name) const;
  Field* FindField(std::string_view name);
  int FieldCount() const;
  Field& FieldAt(int index);
  const std::vector<std::unique_ptr<Field>>& Fields() const { return fields_; }

  // ---- Contents.
  // Opens the dataset empty with the defined fields.
  void CreateDataSet();
  // Replaces the whole contents; the change log is emptied; goes to the first
  // visible record and, when it is not empty, fires after-scroll. Throws
  // PacketError/DatasetError when the packet does not fit the definitions
  // (wrong type of a defined field, text longer than the field).
  void LoadPacket(const DataPacket& packet);
  // Same, taking the rows over without copying them.
  void LoadPacket(DataPacket&& packet);
  // Same, from a variant holding a packet.
  void SetData(const Variant& packet);
  // The whole contents, every record whatever the filter, change log applied,
  // in storage order; calculated fields left out.
  DataPacket Data() const;
  // The change log alone (a Delta packet).
  DataPacket Delta() const;
  bool Active() const;
  void Close();

  // ---- State and navigation over the records the filter lets through,
  // in index order.
  DatasetState State() const { return state_; }
  void First();
  void Last();
  void Next();
  void Prior();
  void MoveBy(int distance);
  int RecNo() const;          // 1-based; 0 when empty
  void SetRecNo(int rec_no);  // 1-based
  int RecordCount() const;    // visible records
  bool IsEmpty() const;
  bool Eof() const;
  bool Bof() const;

  // ---- Editing. Edit/Insert/Append post a pending edit first.
  void Edit();
  void Insert();  // new record before the current one
  void Append();  // new record at the end
  void Post();    // before-post, then store and log, then after-post
  void Cancel();
  // Logs the deletion, then after-delete, then after-scroll when a record
  // remains. Deleting a record inserted locally removes it from the log too.
  void Delete();
  void CancelUpdates();   // discards the whole change log
  void MergeChangeLog();  // accepts it: old values become current values
  int ChangeCount() const;

  // ---- Index: "F1;F2;F3", ascending and case-sensitive; kept while records
  // change. Empty text: storage order.
  void SetIndexFieldNames(const std::string& fields);
  const std::string& IndexFieldNames() const;

  // ---- Filter. Expression "FIELD = 'literal'" (also <>, and AND/OR of such
  // terms); a malformed expression throws DatasetError when it is set.
  void SetFilter(const std::string& expression);
  const std::string& Filter() const;
  void SetFiltered(bool on);
  bool Filtered() const;

  // ---- Locate: moves to the first visible record whose fields equal the
  // values ("A;B"), optionally ignoring case for texts. Returns whether found.
  bool Locate(const std::string& fields, const std::vector<Variant>& values,
              bool case_insensitive = false);

  // ---- Grid-redraw suppression (nesting).
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const;

  // ---- Events (detachable).
  std::function<void(ClientDataset&)> before_post;
  std::function<void(ClientDataset&)> after_post;
  std::function<void(ClientDataset&)> after_scroll;
  std::function<void(ClientDataset&)> after_edit;
  std::function<void(ClientDataset&)> after_delete;
  std::function<void(ClientDataset&)> on_calc_fields;
  // What on_calc_fields reads has changed: the calculated fields are
  // computed again (the record being edited's too) and the controls redraw.
  void RefreshCalculated();

  // Data sources attached to this dataset (DataSource::SetDataSet).
  void AttachSource(DataSource* source);
  void DetachSource(DataSource* source);

  // ---- Reading another record: runs `read` with every Field reading visible
  // record `rec_no` (1-based; calculated fields computed for it), without
  // moving the current record or firing events. For grids drawing rows.
  // Throws DatasetError when rec_no is not a visible record.
  void ReadAt(int rec_no, const std::function<void()>& read);

  // ---- Walking the visible records without moving the current one (see
  // RecordWalk). Numbers throws DatasetError for a field that is not a
  // stored double field of this dataset; both for an inactive dataset.
  RecordWalk Walk() const;
  NumberColumn Numbers(const Field& field) const;

  // ---- Used by Field.
  Variant GetCell(int field_index) const;
  void SetCell(int field_index, const Variant& value);
  Variant GetOldCell(int field_index) const;

 private:
  friend class Field;
  struct Impl;
  const Variant& CellRef(int field_index) const;
  std::string name_;
  std::vector<std::unique_ptr<Field>> fields_;
  DatasetState state_ = DatasetState::Inactive;
  std::unique_ptr<Impl> impl_;
};

// Detaches a handler for the life of the guard and restores it on every exit
// path: HandlerGuard g(cds.after_scroll);
template <typename F>
class HandlerGuard {
 public:
  explicit HandlerGuard(F& slot) : slot_(slot), saved_(std::move(slot)) { slot_ = nullptr; }
  ~HandlerGuard() { slot_ = std::move(saved_); }
  HandlerGuard(const HandlerGuard&) = delete;
  HandlerGuard& operator=(const HandlerGuard&) = delete;

 private:
  F& slot_;
  F saved_;
};

// DisableControls for the life of the guard.
class ControlsGuard {
 public:
  explicit ControlsGuard(ClientDataset& ds) : ds_(ds) { ds_.DisableControls(); }
  ~ControlsGuard() { ds_.EnableControls(); }
  ControlsGuard(const ControlsGuard&) = delete;
  ControlsGuard& operator=(const ControlsGuard&) = delete;

 private:
  ClientDataset& ds_;
};

}  // namespace dg::data
