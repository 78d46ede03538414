#include "data/dataset.h"

#include <algorithm>

#include "data/dataset_impl.h"
#include "data/names.h"

namespace dg::data {

const char* DatasetStateName(DatasetState state) {
  switch (state) {
    case DatasetState::Inactive:
      return "inactive";
    case DatasetState::Browse:
      return "browse";
    case DatasetState::Edit:
      return "edit";
    case DatasetState::Insert:
      return "insert";
  }
  return "?";
}

ClientDataset::ClientDataset(std::string name)
    : name_(std::move(name)), impl_(std::make_unique<Impl>(this)) {}

ClientDataset::~ClientDataset() {
  const auto sources = impl_->sources;
  for (DataSource* s : sources) s->SetDataSet(nullptr);
}

Field& ClientDataset::AddField(const std::string& name, FieldType type, int size, bool required) {
  if (state_ != DatasetState::Inactive)
    throw DatasetError(impl_->Named("cannot add field " + name + " to an open dataset"));
  if (name.empty() || FindField(name))
    throw DatasetError(impl_->Named("duplicate or empty field name \"" + name + "\""));
  if (type == FieldType::String && size <= 0) size = kDefaultStringSize;
  FieldDef def{name, type, type == FieldType::String ? size : 0, required, false};
  fields_.push_back(std::make_unique<Field>(this, def, static_cast<int>(fields_.size()), false));
  fields_.back()->required = required;
  impl_->index_bound = impl_->filter_bound = false;
  return *fields_.back();
}

Field& ClientDataset::AddFixedField(const std::string& name, int size) {
  Field& f = AddField(name, FieldType::String, size);
  f.def_.fixed = true;
  return f;
}

Field& ClientDataset::AddCalculatedField(const std::string& name, FieldType type, int size) {
  Field& f = AddField(name, type, size);
  f.calculated_ = true;
  return f;
}

Field* ClientDataset::FindField(std::string_view name) {
  for (const auto& f : fields_)
    if (f->FieldName() == name) return f.get();
  for (const auto& f : fields_)
    if (EqualsIgnoringAsciiCase(f->FieldName(), name)) return f.get();
  return nullptr;
}

Field& ClientDataset::FieldByName(std::string_view name) {
  if (Field* f = FindField(name)) return *f;
  throw DatasetError(impl_->Named("field " + std::string(name) + " not found"));
}

const Field& ClientDataset::FieldByName(std::string_view name) const {
  return const_cast<ClientDataset*>(this)->FieldByName(name);
}

int ClientDataset::FieldCount() const { return static_cast<int>(fields_.size()); }

Field& ClientDataset::FieldAt(int index) {
  if (index < 0 || index >= FieldCount())
    throw DatasetError(impl_->Named("field index " + std::to_string(index) + " out of range"));
  return *fields_[index];
}

void ClientDataset::CreateDataSet() {
  if (fields_.empty()) throw DatasetError(impl_->Named("cannot create a dataset without fields"));
  impl_->ResetContents();
  state_ = DatasetState::Browse;
  impl_->RebuildView();
  impl_->NotifyState();
  impl_->NotifyLayout();
}

void ClientDataset::LoadPacket(const DataPacket& packet) { impl_->Load(packet); }
void ClientDataset::LoadPacket(DataPacket&& packet) { impl_->Load(std::move(packet)); }
void ClientDataset::SetData(const Variant& packet) {
  if (packet.Kind() != VariantKind::Packet)
    throw DatasetError(
        impl_->Named(std::string("a ") + KindName(packet.Kind()) + " value is not a data packet"));
  impl_->Load(packet.AsPacket());
}

DataPacket ClientDataset::Data() const {
  impl_->CheckActive();
  DataPacket p;
  p.kind = DataPacket::Kind::Table;
  p.fields = impl_->StoredDefs();
  p.rows.reserve(impl_->order.size());
  for (int r : impl_->order)
    if (impl_->log.Status(r) != RowStatus::Deleted) p.rows.push_back(impl_->RowValues(r));
  return p;
}

bool ClientDataset::Active() const { return state_ != DatasetState::Inactive; }

void ClientDataset::Close() {
  if (state_ == DatasetState::Inactive) return;
  impl_->ResetContents();
  state_ = DatasetState::Inactive;
  impl_->NotifyState();
  impl_->NotifyLayout();
}

// ---- Navigation.

void ClientDataset::First() {
  impl_->CheckBrowseMode();
  impl_->bof = true;
  impl_->eof = impl_->view.empty();
  if (!impl_->view.empty()) impl_->GoTo(0);
}

void ClientDataset::Last() {
  impl_->CheckBrowseMode();
  impl_->eof = true;
  impl_->bof = impl_->view.empty();
  if (!impl_->view.empty()) impl_->GoTo(static_cast<int>(impl_->view.size()) - 1);
}

void ClientDataset::Next() { MoveBy(1); }
void ClientDataset::Prior() { MoveBy(-1); }

void ClientDataset::MoveBy(int distance) {
  impl_->CheckBrowseMode();
  Impl& m = *impl_;
  const int count = static_cast<int>(m.view.size());
  if (count == 0) {
    m.bof = m.eof = true;
    return;
  }
  if (distance == 0) return;
  if ((distance > 0 && m.eof) || (distance < 0 && m.bof)) return;
  long target = static_cast<long>(m.cur) + distance;
  m.bof = m.eof = false;
  if (target >= count) {
    target = count - 1;
    m.eof = true;
  } else if (target < 0) {
    target = 0;
    m.bof = true;
  }
  if (target != m.cur) m.GoTo(static_cast<int>(target));
}

int ClientDataset::RecNo() const { return impl_->cur + 1; }

void ClientDataset::SetRecNo(int rec_no) {
  impl_->CheckBrowseMode();
  const int count = static_cast<int>(impl_->view.size());
  if (count == 0) return;
  const int pos = std::clamp(rec_no, 1, count) - 1;
  impl_->bof = pos == 0;
  impl_->eof = false;
  impl_->GoTo(pos);
}

int ClientDataset::RecordCount() const { return static_cast<int>(impl_->view.size()); }

RecordWalk ClientDataset::Walk() const {
  impl_->CheckActive();
  return RecordWalk(impl_->view.data(), static_cast<int>(impl_->view.size()));
}

NumberColumn ClientDataset::Numbers(const Field& field) const {
  impl_->CheckActive();
  const int f = field.Index();
  if (&field.DataSet() != this || field.Calculated() || !impl_->cols[f].Numeric()) {
    throw DatasetError(impl_->Named("field " + field.FieldName() +
                                    " is not a stored number field of the dataset"));
  }
  return NumberColumn(impl_->cols[f].Numbers());
}
bool ClientDataset::IsEmpty() const {
  return impl_->view.empty() && state_ != DatasetState::Insert;
}
bool ClientDataset::Eof() const { return impl_->eof; }
bool ClientDataset::Bof() const { return impl_->bof; }

// ---- Editing.

void ClientDataset::Edit() {
  impl_->CheckActive();
  if (state_ == DatasetState::Edit || state_ == DatasetState::Insert) return;
  if (impl_->view.empty()) {
    Insert();
    return;
  }
  impl_->edit_row = impl_->CurrentRow();
  impl_->buffer.resize(fields_.size());
  for (std::size_t f = 0; f < fields_.size(); ++f)
    impl_->buffer[f] = impl_->cols[f].Get(impl_->edit_row);
  impl_->SetState(DatasetState::Edit);
  impl_->CalcBuffer();
  if (after_edit) after_edit(*this);
}

void ClientDataset::Insert() {
  impl_->CheckBrowseMode();
  impl_->insert_before = impl_->CurrentRow();
  impl_->buffer.assign(fields_.size(), Variant::Null());
  impl_->SetState(DatasetState::Insert);
  impl_->CalcBuffer();
  impl_->NotifyData();
}

void ClientDataset::Append() {
  impl_->CheckBrowseMode();
  impl_->insert_before = -1;
  impl_->buffer.assign(fields_.size(), Variant::Null());
  impl_->SetState(DatasetState::Insert);
  impl_->CalcBuffer();
  impl_->NotifyData();
}

void ClientDataset::Post() {
  impl_->CheckActive();
  if (state_ != DatasetState::Edit && state_ != DatasetState::Insert) return;
  if (before_post) before_post(*this);
  if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
    return;  // cancelled by the handler
  Impl& m = *impl_;
  for (const auto& f : fields_)
    if (!f->Calculated() && (f->required || f->Def().required) &&
        m.buffer[f->Index()].IsEmptyOrNull())
      throw DatasetError("field " + f->FieldName() + " must have a value");

  int row;
  if (state_ == DatasetState::Edit) {
    row = m.edit_row;
    bool changed = false;
    for (const auto& f : fields_)
      if (!f->Calculated() && !(m.cols[f->Index()].Get(row) == m.buffer[f->Index()]))
        changed = true;
    if (changed && m.log.NeedsOriginal(row)) m.log.LogModified(row, m.Before(row));
    for (std::size_t f = 0; f < fields_.size(); ++f) m.cols[f].Set(row, std::move(m.buffer[f]));
  } else {
    row = m.NewRow(m.buffer);
    if (m.insert_before >= 0) {
      m.order.insert(m.order.begin() + m.rank[m.insert_before], row);
      m.RebuildRank();
    } else {
      m.order.push_back(row);
      m.rank[row] = static_cast<int>(m.order.size()) - 1;
    }
  }
  m.buffer.clear();
  m.edit_row = m.insert_before = -1;
  const int old_cur = m.cur;
  const int pos = m.Reposition(row);
  const int count = static_cast<int>(m.view.size());
  m.cur = pos >= 0 ? pos : std::min(std::max(old_cur, 0), count - 1);
  m.bof = m.eof = count == 0;
  state_ = DatasetState::Browse;
  m.calc_row = -1;
  m.NotifyState();
  m.NotifyData();
  if (after_post) after_post(*this);
}

void ClientDataset::Cancel() {
  if (state_ != DatasetState::Edit && state_ != DatasetState::Insert) return;
  impl_->buffer.clear();
  impl_->edit_row = impl_->insert_before = -1;
  impl_->SetState(DatasetState::Browse);
  impl_->NotifyData();
}

void ClientDataset::Delete() {
  impl_->CheckActive();
  Impl& m = *impl_;
  if (state_ == DatasetState::Insert) {
    Cancel();
    return;
  }
  if (state_ == DatasetState::Edit) Cancel();
  const int row = m.CurrentRow();
  if (row < 0) throw DatasetError(m.Named("cannot delete from an empty dataset"));
  if (m.log.LogDeleted(row, m.log.NeedsOriginal(row) ? m.Before(row) : std::vector<Variant>())) {
    m.order.erase(m.order.begin() + m.rank[row]);  // an inserted row is gone for good
    m.RebuildRank();
  }
  m.view.erase(m.view.begin() + m.cur);
  const int count = static_cast<int>(m.view.size());
  if (m.cur >= count) m.cur = count - 1;
  m.bof = m.cur <= 0;
  m.eof = count == 0;
  m.calc_row = -1;
  m.NotifyData();
  if (after_delete) after_delete(*this);
  m.FireScroll();
}

// ---- Index and filter.

void ClientDataset::SetIndexFieldNames(const std::string& fields) {
  Impl& m = *impl_;
  const std::string saved = m.index_text;
  m.index_text = fields;
  m.index_bound = false;
  if (state_ == DatasetState::Inactive) {
    m.index_fields.clear();
    return;
  }
  try {
    m.BindIndex();
  } catch (...) {
    m.index_text = saved;
    m.index_bound = false;
    m.BindIndex();
    throw;
  }
  impl_->CheckBrowseMode();
  const int current = m.CurrentRow();
  m.RebuildView();
  m.StayOn(current);
  m.NotifyLayout();
}

const std::string& ClientDataset::IndexFieldNames() const { return impl_->index_text; }

void ClientDataset::SetFilter(const std::string& expression) {
  Impl& m = *impl_;
  FilterExpression parsed;
  try {
    parsed = FilterExpression::Parse(expression);
  } catch (const FilterError& e) {
    throw DatasetError(e.what());
  }
  if (!parsed.Empty() && !fields_.empty()) {
    // Field names are checked now when the fields are known.
    std::swap(m.filter, parsed);
    m.filter_bound = false;
    try {
      m.BindFilter();
    } catch (...) {
      std::swap(m.filter, parsed);
      m.filter_bound = false;
      throw;
    }
  } else {
    m.filter = std::move(parsed);
    m.filter_bound = false;
  }
  m.filter_text = expression;
  if (m.filtered && Active()) {
    m.CheckBrowseMode();
    m.RebuildView();
    m.NotifyLayout();
    First();
  }
}

const std::string& ClientDataset::Filter() const { return impl_->filter_text; }

void ClientDataset::SetFiltered(bool on) {
  Impl& m = *impl_;
  if (m.filtered == on) return;
  if (Active()) m.CheckBrowseMode();
  m.filtered = on;
  if (Active()) {
    m.RebuildView();
    m.NotifyLayout();
    First();
  }
}

bool ClientDataset::Filtered() const { return impl_->filtered; }

// ---- Locate.

bool ClientDataset::Locate(const std::string& fields, const std::vector<Variant>& values,
                           bool case_insensitive) {
  impl_->CheckBrowseMode();
  Impl& m = *impl_;
  const auto names = SplitNames(fields);
  if (names.size() != values.size())
    throw DatasetError(m.Named("locate on " + std::to_string(names.size()) + " fields with " +
                               std::to_string(values.size()) + " values"));
  std::vector<int> idx;
  std::vector<Variant> wanted;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Field& f = FieldByName(names[i]);
    idx.push_back(f.Index());
    Variant v = values[i].IsEmptyOrNull() ? Variant::Null() : values[i];
    if (!v.IsEmptyOrNull()) {
      try {
        switch (f.DataType()) {
          case FieldType::String:
          case FieldType::Memo:
            v = case_insensitive ? Variant(FoldCase(v.ToString())) : Variant(v.ToString());
            break;
          case FieldType::Double:
          case FieldType::Integer:
            v = Variant(v.ToDouble());
            break;
          case FieldType::DateTime:
            v = Variant(v.ToDateTime());
            break;
        }
      } catch (const VariantConversionError&) {
        return false;  // a value of another kind matches no record
      }
    }
    wanted.push_back(std::move(v));
  }
  for (std::size_t pos = 0; pos < m.view.size(); ++pos) {
    const int row = m.view[pos];
    bool match = true;
    for (std::size_t i = 0; i < idx.size() && match; ++i) {
      Variant tmp;
      const Variant& cell = m.cols[idx[i]].Ref(row, tmp);
      const Variant& want = wanted[i];
      if (want.IsEmptyOrNull() || cell.IsEmptyOrNull()) {
        match = want.IsEmptyOrNull() && cell.IsEmptyOrNull();
      } else if (const std::string* s = cell.IfString()) {
        match = case_insensitive ? FoldCase(*s) == *want.IfString() : *s == *want.IfString();
      } else if (cell.IsNumeric()) {
        match = cell.ToDouble() == *want.IfDouble();
      } else {
        match = cell == want;
      }
    }
    if (match) {
      m.bof = pos == 0;
      m.eof = false;
      m.GoTo(static_cast<int>(pos));
      return true;
    }
  }
  return false;
}

// ---- Controls.

void ClientDataset::DisableControls() { ++impl_->disabled; }

void ClientDataset::EnableControls() {
  if (impl_->disabled == 0) return;
  if (--impl_->disabled == 0) impl_->NotifyLayout();
}

void ClientDataset::RefreshCalculated() {
  impl_->calc_row = -1;
  if (state_ == DatasetState::Edit || state_ == DatasetState::Insert) impl_->CalcBuffer();
  impl_->NotifyData();
}

bool ClientDataset::ControlsDisabled() const { return impl_->disabled > 0; }

void ClientDataset::AttachSource(DataSource* source) {
  auto& s = impl_->sources;
  if (std::find(s.begin(), s.end(), source) == s.end()) s.push_back(source);
  if (source->DataSet() != this) source->SetDataSet(this);
}

void ClientDataset::DetachSource(DataSource* source) {
  auto& s = impl_->sources;
  s.erase(std::remove(s.begin(), s.end(), source), s.end());
  if (source->DataSet() == this) source->SetDataSet(nullptr);
}

void ClientDataset::ReadAt(int rec_no, const std::function<void()>& read) {
  impl_->CheckActive();
  Impl& m = *impl_;
  if (rec_no < 1 || rec_no > static_cast<int>(m.view.size()))
    throw DatasetError(m.Named("record " + std::to_string(rec_no) + " does not exist"));
  if ((state_ == DatasetState::Edit || state_ == DatasetState::Insert) && rec_no - 1 == m.cur) {
    read();  // the record being edited reads from its edit buffer
    return;
  }
  const int row = m.view[rec_no - 1];
  m.CalcRow(row);
  const int saved = m.read_row;
  m.read_row = row;
  struct Restore {
    Impl* impl;
    int row;
    ~Restore() { impl->read_row = row; }
  } restore{&m, saved};
  read();
}

// ---- Cells.

const Variant& ClientDataset::CellRef(int field_index) const {
  impl_->CheckActive();
  return impl_->Cell(field_index);
}

Variant ClientDataset::GetCell(int field_index) const {
  if (field_index < 0 || field_index >= FieldCount())
    throw DatasetError(
        impl_->Named("field index " + std::to_string(field_index) + " out of range"));
  return CellRef(field_index);
}

void ClientDataset::SetCell(int field_index, const Variant& value) {
  Impl& m = *impl_;
  m.CheckActive();
  const Field& field = FieldAt(field_index);
  if (m.calculating) {
    if (!field.Calculated())
      throw DatasetError(
          m.Named("field " + field.FieldName() + " cannot be changed while calculating"));
    Variant v = m.Coerce(field, value);
    if (m.read_row >= 0)
      m.cols[field_index].Set(m.read_row, std::move(v));
    else
      m.buffer[field_index] = std::move(v);
    return;
  }
  if (m.read_row >= 0) throw DatasetError(m.Named("a record read for display cannot be changed"));
  if (state_ != DatasetState::Edit && state_ != DatasetState::Insert)
    throw DatasetError(m.Named("not in edit or insert mode"));
  m.buffer[field_index] = m.Coerce(field, value);
  if (!field.Calculated()) m.CalcBuffer();
  m.NotifyData();
}

}  // namespace dg::data
