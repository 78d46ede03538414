#include <algorithm>

#include "data/dataset_impl.h"
#include "data/names.h"

namespace dg::data {

[[noreturn]] void ClientDataset::Impl::FailClosed() const {
  throw DatasetError(Named("cannot perform this operation on a closed dataset"));
}

void ClientDataset::Impl::ResetContents() {
  cols.clear();
  for (const auto& f : ds->fields_) cols.emplace_back(f->DataType() == FieldType::Double);
  scratch.assign(ds->fields_.size(), Variant());
  log.Reset(0);
  order.clear();
  rank.clear();
  view.clear();
  buffer.clear();
  cur = -1;
  bof = eof = true;
  edit_row = insert_before = -1;
}

std::vector<Variant> ClientDataset::Impl::Before(int row) const {
  std::vector<Variant> before(cols.size());
  for (std::size_t f = 0; f < cols.size(); ++f) before[f] = cols[f].Get(row);
  return before;
}

void ClientDataset::Impl::DropDeadRows() {
  order.erase(std::remove_if(order.begin(), order.end(),
                             [this](int r) { return log.Status(r) == RowStatus::Dead; }),
              order.end());
  RebuildRank();
}

void ClientDataset::Impl::StayOn(int row) {
  const auto it = std::find(view.begin(), view.end(), row);
  const int count = static_cast<int>(view.size());
  cur = it != view.end() ? static_cast<int>(it - view.begin())
                         : (count ? std::clamp(cur, 0, count - 1) : -1);
  calc_row = -1;
}

void ClientDataset::Impl::RebuildRank() {
  rank.assign(RowCount(), -1);
  for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<int>(i);
}

void ClientDataset::Impl::BindIndex() {
  if (index_bound) return;
  index_fields.clear();
  for (const auto& name : SplitNames(index_text)) {
    Field* f = ds->FindField(name);
    if (!f) throw DatasetError(Named("index field " + name + " not found"));
    index_fields.push_back(f->Index());
  }
  index_bound = true;
}

void ClientDataset::Impl::BindFilter() {
  if (filter_bound) return;
  try {
    filter.Bind([this](const std::string& name) -> std::optional<FilterExpression::FieldRef> {
      const Field* f = ds->FindField(name);
      if (f == nullptr) return std::nullopt;
      return FilterExpression::FieldRef{f->Index(), f->DataType()};
    });
  } catch (const FilterError& e) {
    throw DatasetError(Named(e.Reason()));
  }
  filter_bound = true;
}

bool ClientDataset::Impl::FilterUsesCalculated() const {
  for (int f : filter.FieldIndexes()) {
    if (ds->fields_[f]->Calculated()) return true;
  }
  return false;
}

void ClientDataset::Impl::RebuildView() {
  BindIndex();
  if (filtered) BindFilter();
  bool needs_calc = false;
  for (int f : index_fields) needs_calc = needs_calc || ds->fields_[f]->Calculated();
  if (filtered && FilterUsesCalculated()) needs_calc = true;
  if (needs_calc)
    for (int r : order) CalcRow(r);
  view.clear();
  view.reserve(order.size());
  for (int r : order)
    if (log.Status(r) != RowStatus::Deleted && Passes(r)) view.push_back(r);
  if (!index_fields.empty())
    std::stable_sort(view.begin(), view.end(), [this](int a, int b) { return KeyLess(a, b); });
  cur = std::min(cur, static_cast<int>(view.size()) - 1);
  calc_row = -1;
}

int ClientDataset::Impl::Reposition(int row) {
  const auto it = std::find(view.begin(), view.end(), row);
  const bool was_visible = it != view.end();
  if (was_visible && index_fields.empty() && (!filtered || filter.Empty()))
    return static_cast<int>(it - view.begin());
  if (was_visible) view.erase(it);
  if (!Passes(row)) return -1;
  std::vector<int>::iterator pos;
  if (!index_fields.empty())
    pos = std::lower_bound(view.begin(), view.end(), row,
                           [this](int a, int b) { return KeyOrRankLess(a, b); });
  else
    pos = std::lower_bound(view.begin(), view.end(), row,
                           [this](int a, int b) { return rank[a] < rank[b]; });
  const auto inserted = view.insert(pos, row);
  return static_cast<int>(inserted - view.begin());
}

void ClientDataset::Impl::CalcRow(int row) {
  if (row < 0 || !ds->on_calc_fields) return;
  bool any = false;
  for (const auto& f : ds->fields_)
    if (f->Calculated()) {
      cols[f->Index()].Set(row, Variant::Null());
      any = true;
    }
  if (!any) return;
  const int saved_row = read_row;
  const bool saved_calc = calculating;
  read_row = row;
  calculating = true;
  struct Restore {
    Impl* impl;
    int row;
    bool calc;
    ~Restore() {
      impl->read_row = row;
      impl->calculating = calc;
    }
  } restore{this, saved_row, saved_calc};
  ds->on_calc_fields(*ds);
}

void ClientDataset::Impl::CalcBuffer() {
  if (!ds->on_calc_fields || calculating) return;
  for (const auto& f : ds->fields_)
    if (f->Calculated()) buffer[f->Index()] = Variant::Null();
  calculating = true;
  struct Restore {
    bool* flag;
    ~Restore() { *flag = false; }
  } restore{&calculating};
  ds->on_calc_fields(*ds);
}

void ClientDataset::Impl::CalcCurrent(int row) {
  calc_row = row;
  CalcRow(row);
}

void ClientDataset::Impl::ClusterByIndex() {
  const int n = RowCount();
  std::vector<int> perm(order);
  std::stable_sort(perm.begin(), perm.end(), [this](int a, int b) { return KeyLess(a, b); });
  if (perm == order) return;
  for (auto& col : cols) col.Permute(perm);
  // Stored position i now holds the row that was at perm[i].
  for (int i = 0; i < n; ++i) order[perm[i]] = i;
  RebuildRank();
}

Variant ClientDataset::Impl::Coerce(const Field& field, const Variant& value) const {
  if (value.IsEmptyOrNull()) return Variant::Null();
  if (const std::string* s = value.IfString(); s && s->empty()) return Variant::Null();
  try {
    switch (field.DataType()) {
      case FieldType::String:
      case FieldType::Memo: {
        std::string text =
            value.IfDateTime() ? value.IfDateTime()->ToBrazilian() : value.ToString();
        if (field.DataType() == FieldType::String) CheckLength(field, text);
        return Variant(std::move(text));
      }
      case FieldType::Double:
        return Variant(value.ToDouble());
      case FieldType::Integer:
        return Variant(value.ToInt64());
      case FieldType::DateTime:
        return Variant(value.ToDateTime());
    }
  } catch (const VariantConversionError& e) {
    throw DatasetError("field " + field.FieldName() + ": " + e.what());
  }
  return Variant::Null();
}

void ClientDataset::Impl::CheckLength(const Field& field, const std::string& text) {
  if (text.size() <= static_cast<std::size_t>(field.Size())) return;
  const std::size_t len = Utf8Length(text);
  if (len > static_cast<std::size_t>(field.Size()))
    throw DatasetError("field " + field.FieldName() + ": text of " + std::to_string(len) +
                       " characters is longer than its size " + std::to_string(field.Size()));
}

Variant ClientDataset::Impl::LoadCell(const Field& field, Variant&& cell,
                                      std::size_t row_number) const {
  if (cell.IsEmptyOrNull()) return Variant::Null();
  switch (field.DataType()) {
    case FieldType::String:
    case FieldType::Memo:
      if (const std::string* s = cell.IfString()) {
        if (field.DataType() == FieldType::String) CheckLength(field, *s);
        return std::move(cell);
      }
      break;
    case FieldType::Double:
      if (cell.IfDouble()) return std::move(cell);
      if (const std::int64_t* i = cell.IfInt()) return Variant(static_cast<double>(*i));
      break;
    case FieldType::Integer:
      if (cell.IfInt()) return std::move(cell);
      if (const double* d = cell.IfDouble();
          d && *d == static_cast<double>(static_cast<std::int64_t>(*d)))
        return Variant(static_cast<std::int64_t>(*d));
      break;
    case FieldType::DateTime:
      if (cell.IfDateTime()) return std::move(cell);
      break;
  }
  throw DatasetError(Named("row " + std::to_string(row_number) + ": a " + KindName(cell.Kind()) +
                           " value does not fit the " + FieldTypeName(field.DataType()) +
                           " field " + field.FieldName()));
}

std::vector<Variant> ClientDataset::Impl::StoredValues(const std::vector<Variant>& all) const {
  std::vector<Variant> out;
  for (const auto& f : ds->fields_)
    if (!f->Calculated()) out.push_back(all[f->Index()]);
  return out;
}

std::vector<Variant> ClientDataset::Impl::RowValues(int row) const {
  std::vector<Variant> out;
  out.reserve(ds->fields_.size());
  for (const auto& f : ds->fields_)
    if (!f->Calculated()) out.push_back(cols[f->Index()].Get(row));
  return out;
}

std::vector<FieldDef> ClientDataset::Impl::StoredDefs() const {
  std::vector<FieldDef> out;
  for (const auto& f : ds->fields_)
    if (!f->Calculated()) out.push_back(f->Def());
  return out;
}

int ClientDataset::Impl::NewRow(std::vector<Variant>& values) {
  for (std::size_t f = 0; f < cols.size(); ++f) cols[f].Push(std::move(values[f]));
  rank.push_back(-1);
  return log.AddInserted();
}

template <typename Packet>
void ClientDataset::Impl::Load(Packet&& packet) {
  constexpr bool kMove = !std::is_const_v<std::remove_reference_t<Packet>>;
  if (packet.kind != DataPacket::Kind::Table)
    throw DatasetError(Named("a change log cannot be loaded as the contents"));

  // Bind packet columns to fields by name; fields the packet brings are
  // added once the whole packet has been checked.
  const std::size_t nfields = packet.fields.size();
  std::vector<std::unique_ptr<Field>> added;
  std::vector<Field*> target(nfields);
  for (std::size_t i = 0; i < nfields; ++i) {
    const FieldDef& def = packet.fields[i];
    Field* f = ds->FindField(def.name);
    for (const auto& a : added)
      if (!f && a->FieldName() == def.name) f = a.get();
    if (!f) {
      FieldDef d = def;
      if (d.type == FieldType::String && d.size <= 0) d.size = kDefaultStringSize;
      added.push_back(std::make_unique<Field>(
          ds, d, static_cast<int>(ds->fields_.size() + added.size()), false));
      f = added.back().get();
    } else if (f->Calculated()) {
      throw DatasetError(Named("field " + def.name + " is calculated and cannot be loaded"));
    } else if (f->DataType() != def.type &&
               !(IsNumericType(f->DataType()) && IsNumericType(def.type)) &&
               !(f->DataType() == FieldType::Memo && def.type == FieldType::String)) {
      throw DatasetError(Named("field " + def.name + " is " + FieldTypeName(f->DataType()) +
                               " but the packet holds " + FieldTypeName(def.type)));
    }
    target[i] = f;
  }

  const std::size_t total_fields = ds->fields_.size() + added.size();
  const std::size_t nrows = packet.rows.size();
  std::vector<Column> new_cols;
  for (const auto& f : ds->fields_) new_cols.emplace_back(f->DataType() == FieldType::Double);
  for (const auto& f : added) new_cols.emplace_back(f->DataType() == FieldType::Double);
  for (auto& c : new_cols) c.Reserve(nrows);
  std::vector<bool> filled(total_fields, false);
  for (Field* f : target) filled[f->Index()] = true;
  for (std::size_t r = 0; r < nrows; ++r) {
    auto& row = packet.rows[r];
    if (row.size() != nfields)
      throw DatasetError(Named("row " + std::to_string(r + 1) + " has " +
                               std::to_string(row.size()) + " cells for " +
                               std::to_string(nfields) + " fields"));
    for (std::size_t i = 0; i < nfields; ++i) {
      Variant cell = kMove ? std::move(row[i]) : Variant(row[i]);
      new_cols[target[i]->Index()].Push(LoadCell(*target[i], std::move(cell), r + 1));
    }
  }
  for (std::size_t f = 0; f < total_fields; ++f)
    if (!filled[f]) new_cols[f].AssignNull(nrows);

  for (auto& a : added) ds->fields_.push_back(std::move(a));
  if (!added.empty()) index_bound = filter_bound = false;
  BindIndex();  // unknown index or filter fields fail before the contents change
  if (filtered) BindFilter();
  ResetContents();
  cols = std::move(new_cols);
  scratch.assign(cols.size(), Variant());
  log.Reset(nrows);
  order.resize(nrows);
  for (std::size_t r = 0; r < nrows; ++r) order[r] = static_cast<int>(r);
  RebuildRank();
  ds->state_ = DatasetState::Browse;
  if (!index_fields.empty()) ClusterByIndex();
  RebuildView();
  cur = view.empty() ? -1 : 0;
  bof = true;
  eof = view.empty();
  calc_row = -1;
  NotifyState();
  NotifyLayout();
  FireScroll();
}

// The two ways a packet is loaded: copied, and taken over.
template void ClientDataset::Impl::Load<const DataPacket&>(const DataPacket& packet);
template void ClientDataset::Impl::Load<DataPacket>(DataPacket&& packet);

}  // namespace dg::data
