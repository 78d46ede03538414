#include "data/dataset.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "data/format.h"

namespace dg::data {
namespace {

// A string field defined or received without a size holds this many characters.
constexpr int kDefaultStringSize = 20;

enum class RowStatus : std::uint8_t { Unchanged, Inserted, Modified, Deleted, Dead };

const Variant& NullCell() {
  static const Variant kNull = Variant::Null();
  return kNull;
}

bool IsNumericType(FieldType t) { return t == FieldType::Double || t == FieldType::Integer; }

std::string Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    std::string name = Trim(std::string_view(text).substr(start, end - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = end + 1;
  }
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Lower-cases ASCII letters and the accented capitals of Latin-1 (UTF-8 "Ã".."Þ").
std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      out[i] = static_cast<char>(std::tolower(c));
    } else if (c == 0xC3 && i + 1 < out.size()) {
      unsigned char n = static_cast<unsigned char>(out[i + 1]);
      if (n >= 0x80 && n <= 0x9E && n != 0x97) out[i + 1] = static_cast<char>(n + 0x20);
      ++i;
    }
  }
  return out;
}

// Orders two cells of one field: no value first, then by value.
int CompareCells(const Variant& a, const Variant& b) {
  const bool an = a.IsEmptyOrNull(), bn = b.IsEmptyOrNull();
  if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
  if (const std::string* sa = a.IfString()) {
    if (const std::string* sb = b.IfString())
      return sa->compare(*sb) < 0 ? -1 : (*sa == *sb ? 0 : 1);
  }
  if (const DateTime* da = a.IfDateTime()) {
    if (const DateTime* db = b.IfDateTime()) return *da < *db ? -1 : (*da == *db ? 0 : 1);
  }
  if (const std::int64_t* ia = a.IfInt()) {
    if (const std::int64_t* ib = b.IfInt()) return *ia < *ib ? -1 : (*ia == *ib ? 0 : 1);
  }
  if (a.IsNumeric() && b.IsNumeric()) {
    const double x = a.ToDouble(), y = b.ToDouble();
    return x < y ? -1 : (x == y ? 0 : 1);
  }
  const std::string x = a.ToString(), y = b.ToString();
  return x < y ? -1 : (x == y ? 0 : 1);
}

// The cells of one field. A double field keeps plain doubles (no value is a
// reserved NaN pattern), which keeps walks over numbers compact; other
// fields keep variants.
class Column {
 public:
  explicit Column(bool numeric = false) : numeric_(numeric) {}

  bool Numeric() const { return numeric_; }
  void Reserve(std::size_t n) { numeric_ ? nums_.reserve(n) : cells_.reserve(n); }
  void AssignNull(std::size_t n) {
    numeric_ ? nums_.assign(n, NullNumber()) : cells_.assign(n, Variant::Null());
  }
  // REQUIRES: `v` is null or, for a numeric column, a double.
  void Push(Variant&& v) {
    if (numeric_)
      nums_.push_back(v.IfDouble() ? *v.IfDouble() : NullNumber());
    else
      cells_.push_back(std::move(v));
  }
  void Set(int row, Variant&& v) {
    if (numeric_)
      nums_[row] = v.IfDouble() ? *v.IfDouble() : NullNumber();
    else
      cells_[row] = std::move(v);
  }
  Variant Get(int row) const {
    if (!numeric_) return cells_[row];
    return IsNullNumber(nums_[row]) ? Variant::Null() : Variant(nums_[row]);
  }
  // The cell, materialised in `scratch` for a numeric column.
  const Variant& Ref(int row, Variant& scratch) const {
    if (!numeric_) return cells_[row];
    scratch = IsNullNumber(nums_[row]) ? Variant::Null() : Variant(nums_[row]);
    return scratch;
  }
  // The number of a numeric column; false when the cell has no value.
  bool Number(int row, double* out) const {
    *out = nums_[row];
    return !IsNullNumber(*out);
  }
  int Compare(int a, int b) const {
    if (!numeric_) return CompareCells(cells_[a], cells_[b]);
    const double x = nums_[a], y = nums_[b];
    const bool xn = IsNullNumber(x), yn = IsNullNumber(y);
    if (xn || yn) return xn == yn ? 0 : (xn ? -1 : 1);
    return x < y ? -1 : (x == y ? 0 : 1);
  }
  // Row i becomes the row that was at perm[i].
  void Permute(const std::vector<int>& perm) {
    if (numeric_) {
      std::vector<double> moved;
      moved.reserve(nums_.size());
      for (int r : perm) moved.push_back(nums_[r]);
      nums_ = std::move(moved);
    } else {
      std::vector<Variant> moved;
      moved.reserve(cells_.size());
      for (int r : perm) moved.push_back(std::move(cells_[r]));
      cells_ = std::move(moved);
    }
  }

 private:
  static constexpr std::uint64_t kNullBits = 0x7FF8'DEAD'0000'0001ULL;
  static double NullNumber() {
    double d;
    std::memcpy(&d, &kNullBits, sizeof d);
    return d;
  }
  static bool IsNullNumber(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits == kNullBits;
  }

  bool numeric_;
  std::vector<Variant> cells_;
  std::vector<double> nums_;
};

// ---- Filter expressions: FIELD op literal, joined by AND / OR, with
// parentheses; op is one of = <> < <= > >=; literals are 'quoted' (a quote
// doubled inside) or numbers. AND binds tighter than OR.

enum class CompareOp { Eq, Ne, Lt, Le, Gt, Ge };

struct FilterNode {
  enum class Kind { Term, And, Or } kind = Kind::Term;
  std::string field;
  CompareOp op = CompareOp::Eq;
  std::string literal;
  bool quoted = false;
  int field_index = -1;
  Variant value;  // the literal converted to the field's type
  std::unique_ptr<FilterNode> left, right;
};

class FilterParser {
 public:
  explicit FilterParser(const std::string& text) : text_(text) {}

  std::unique_ptr<FilterNode> Parse() {
    auto node = ParseOr();
    SkipBlanks();
    if (pos_ != text_.size()) Fail("unexpected text");
    return node;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw DatasetError("invalid filter \"" + text_ + "\": " + why + " at position " +
                       std::to_string(pos_ + 1));
  }
  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Keyword(const char* word) {
    SkipBlanks();
    const std::size_t n = std::char_traits<char>::length(word);
    if (pos_ + n > text_.size() ||
        !EqualsIgnoringAsciiCase(std::string_view(text_).substr(pos_, n), word))
      return false;
    if (pos_ + n < text_.size()) {
      const unsigned char next = static_cast<unsigned char>(text_[pos_ + n]);
      if (std::isalnum(next) || next == '_') return false;
    }
    pos_ += n;
    return true;
  }
  std::unique_ptr<FilterNode> Join(FilterNode::Kind kind, std::unique_ptr<FilterNode> l,
                                   std::unique_ptr<FilterNode> r) {
    auto node = std::make_unique<FilterNode>();
    node->kind = kind;
    node->left = std::move(l);
    node->right = std::move(r);
    return node;
  }
  std::unique_ptr<FilterNode> ParseOr() {
    auto node = ParseAnd();
    while (Keyword("OR")) node = Join(FilterNode::Kind::Or, std::move(node), ParseAnd());
    return node;
  }
  std::unique_ptr<FilterNode> ParseAnd() {
    auto node = ParsePrimary();
    while (Keyword("AND")) node = Join(FilterNode::Kind::And, std::move(node), ParsePrimary());
    return node;
  }
  std::unique_ptr<FilterNode> ParsePrimary() {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '(') {
      ++pos_;
      auto node = ParseOr();
      SkipBlanks();
      if (pos_ >= text_.size() || text_[pos_] != ')') Fail("missing )");
      ++pos_;
      return node;
    }
    auto node = std::make_unique<FilterNode>();
    node->field = ParseFieldName();
    node->op = ParseOp();
    ParseLiteral(*node);
    return node;
  }
  std::string ParseFieldName() {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '[') {
      const std::size_t end = text_.find(']', pos_);
      if (end == std::string::npos || end == pos_ + 1) Fail("bad field name");
      std::string name = text_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
      return name;
    }
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      ++pos_;
    if (pos_ == start) Fail("field name expected");
    std::string name = text_.substr(start, pos_ - start);
    if (std::isdigit(static_cast<unsigned char>(name[0]))) {
      pos_ = start;
      Fail("field name expected");
    }
    return name;
  }
  CompareOp ParseOp() {
    SkipBlanks();
    auto take = [&](const char* op) {
      const std::size_t n = std::char_traits<char>::length(op);
      if (text_.compare(pos_, n, op) != 0) return false;
      pos_ += n;
      return true;
    };
    if (take("<>")) return CompareOp::Ne;
    if (take("<=")) return CompareOp::Le;
    if (take(">=")) return CompareOp::Ge;
    if (take("=")) return CompareOp::Eq;
    if (take("<")) return CompareOp::Lt;
    if (take(">")) return CompareOp::Gt;
    Fail("comparison operator expected");
  }
  void ParseLiteral(FilterNode& node) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '\'') {
      ++pos_;
      std::string value;
      for (;;) {
        if (pos_ >= text_.size()) Fail("unterminated text literal");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            value += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        value += text_[pos_++];
      }
      node.literal = std::move(value);
      node.quoted = true;
      return;
    }
    const std::size_t start = pos_;
    if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
    while (pos_ < text_.size() &&
           (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.'))
      ++pos_;
    if (pos_ == start || !std::isdigit(static_cast<unsigned char>(text_[pos_ - 1]))) {
      pos_ = start;
      Fail("literal expected");
    }
    node.literal = text_.substr(start, pos_ - start);
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

bool CompareResult(CompareOp op, int c) {
  switch (op) {
    case CompareOp::Eq:
      return c == 0;
    case CompareOp::Ne:
      return c != 0;
    case CompareOp::Lt:
      return c < 0;
    case CompareOp::Le:
      return c <= 0;
    case CompareOp::Gt:
      return c > 0;
    case CompareOp::Ge:
      return c >= 0;
  }
  return false;
}

}  // namespace

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

// ---------------------------------------------------------------------------
// Storage: one column of variants per field, rows addressed by a row id that
// never changes while the contents stay loaded. `order` lists the live rows
// in storage order; `view` the visible rows (not deleted, passing the
// filter) in index order; `cur` is a position in `view`.

struct ClientDataset::Impl {
  explicit Impl(ClientDataset* owner) : ds(owner) {}

  ClientDataset* ds;
  std::vector<Column> cols;
  mutable std::vector<Variant> scratch;  // numeric cells handed out by reference
  std::vector<RowStatus> status;
  std::vector<std::uint64_t> change_seq;
  std::unordered_map<int, std::vector<Variant>> original;  // values at load or merge
  std::vector<int> order;
  std::vector<int> rank;  // position of each row in `order`, -1 for dead rows
  std::vector<int> view;
  int cur = -1;
  bool bof = true;
  bool eof = true;
  std::uint64_t next_seq = 1;

  std::vector<Variant> buffer;  // the record in edit or insert state
  int edit_row = -1;
  int insert_before = -1;  // row the inserted record goes before; -1: at the end

  std::string index_text;
  std::vector<int> index_fields;
  bool index_bound = false;
  std::string filter_text;
  std::unique_ptr<FilterNode> filter;
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
  std::string Named(const std::string& text) const {
    return ds->name_.empty() ? text : "dataset " + ds->name_ + ": " + text;
  }
  void CheckActive() const {
    if (ds->state_ == DatasetState::Inactive) FailClosed();
  }
  [[noreturn, gnu::noinline, gnu::cold]] void FailClosed() const {
    throw DatasetError(Named("cannot perform this operation on a closed dataset"));
  }
  int RowCount() const { return static_cast<int>(status.size()); }
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

  void ResetContents() {
    cols.clear();
    for (const auto& f : ds->fields_) cols.emplace_back(f->DataType() == FieldType::Double);
    scratch.assign(ds->fields_.size(), Variant());
    status.clear();
    change_seq.clear();
    original.clear();
    order.clear();
    rank.clear();
    view.clear();
    buffer.clear();
    cur = -1;
    bof = eof = true;
    edit_row = insert_before = -1;
    next_seq = 1;
  }

  // Keeps the values of `row` at load or merge before its first change.
  void LogFirstChange(int row) {
    std::vector<Variant> before(cols.size());
    for (std::size_t f = 0; f < cols.size(); ++f) before[f] = cols[f].Get(row);
    original[row] = std::move(before);
    change_seq[row] = next_seq++;
  }
  void DropDeadRows() {
    order.erase(std::remove_if(order.begin(), order.end(),
                               [this](int r) { return status[r] == RowStatus::Dead; }),
                order.end());
    RebuildRank();
  }
  // After the view was rebuilt: back on `row` when it is still visible, else
  // on the nearest position.
  void StayOn(int row) {
    const auto it = std::find(view.begin(), view.end(), row);
    const int count = static_cast<int>(view.size());
    cur = it != view.end() ? static_cast<int>(it - view.begin())
                           : (count ? std::clamp(cur, 0, count - 1) : -1);
    calc_row = -1;
  }

  void RebuildRank() {
    rank.assign(status.size(), -1);
    for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<int>(i);
  }

  // Fields used by the index or the filter are looked up when the dataset
  // has its fields; unknown names are an error from then on.
  void BindIndex() {
    if (index_bound) return;
    index_fields.clear();
    for (const auto& name : SplitNames(index_text)) {
      Field* f = ds->FindField(name);
      if (!f) throw DatasetError(Named("index field " + name + " not found"));
      index_fields.push_back(f->Index());
    }
    index_bound = true;
  }
  void BindFilterNode(FilterNode& n) {
    if (n.kind != FilterNode::Kind::Term) {
      BindFilterNode(*n.left);
      BindFilterNode(*n.right);
      return;
    }
    Field* f = ds->FindField(n.field);
    if (!f) throw DatasetError(Named("filter field " + n.field + " not found"));
    n.field_index = f->Index();
    try {
      switch (f->DataType()) {
        case FieldType::String:
        case FieldType::Memo:
          n.value = Variant(n.literal);
          break;
        case FieldType::Double:
        case FieldType::Integer:
          n.value = Variant(Variant(n.literal).ToDouble());
          break;
        case FieldType::DateTime:
          n.value = Variant(Variant(n.literal).ToDateTime());
          break;
      }
    } catch (const VariantConversionError&) {
      throw DatasetError(Named("filter value '" + n.literal + "' does not fit field " + n.field));
    }
  }
  void BindFilter() {
    if (filter_bound) return;
    if (filter) BindFilterNode(*filter);
    filter_bound = true;
  }
  bool Eval(const FilterNode& n, int row) const {
    switch (n.kind) {
      case FilterNode::Kind::And:
        return Eval(*n.left, row) && Eval(*n.right, row);
      case FilterNode::Kind::Or:
        return Eval(*n.left, row) || Eval(*n.right, row);
      case FilterNode::Kind::Term:
        break;
    }
    Variant tmp;
    const Variant& cell = cols[n.field_index].Ref(row, tmp);
    if (cell.IsEmptyOrNull()) {
      // No value reads as the empty text; it equals no number or date.
      if (n.value.IfString()) return CompareResult(n.op, n.value.IfString()->empty() ? 0 : -1);
      return n.op == CompareOp::Ne;
    }
    if (const std::string* s = cell.IfString()) {
      const std::string& lit = *n.value.IfString();
      return CompareResult(n.op, s->compare(lit) < 0 ? -1 : (*s == lit ? 0 : 1));
    }
    return CompareResult(n.op,
                         CompareCells(cell.IsNumeric() ? Variant(cell.ToDouble()) : cell, n.value));
  }
  bool Passes(int row) const { return !filtered || !filter || Eval(*filter, row); }
  bool UsesCalculated(const FilterNode* n) const {
    if (!n) return false;
    if (n->kind != FilterNode::Kind::Term)
      return UsesCalculated(n->left.get()) || UsesCalculated(n->right.get());
    return ds->fields_[n->field_index]->Calculated();
  }

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

  void RebuildView() {
    BindIndex();
    if (filtered) BindFilter();
    bool needs_calc = false;
    for (int f : index_fields) needs_calc = needs_calc || ds->fields_[f]->Calculated();
    if (filtered && UsesCalculated(filter.get())) needs_calc = true;
    if (needs_calc)
      for (int r : order) CalcRow(r);
    view.clear();
    view.reserve(order.size());
    for (int r : order)
      if (status[r] != RowStatus::Deleted && Passes(r)) view.push_back(r);
    if (!index_fields.empty())
      std::stable_sort(view.begin(), view.end(), [this](int a, int b) { return KeyLess(a, b); });
    cur = std::min(cur, static_cast<int>(view.size()) - 1);
    calc_row = -1;
  }

  // Puts `row` back at its place in the view after its values changed;
  // returns its view position, or -1 when the filter now hides it.
  int Reposition(int row) {
    const auto it = std::find(view.begin(), view.end(), row);
    const bool was_visible = it != view.end();
    if (was_visible && index_fields.empty() && (!filtered || !filter))
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

  // Runs on_calc_fields for one stored row (calculated cells start null).
  void CalcRow(int row) {
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
  // Same for the record being edited.
  void CalcBuffer() {
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

  // The cell Fields read: the row being read or calculated, the edit
  // buffer, or the current record.
  const Variant& Cell(int f) {
    if (read_row >= 0) return cols[f].Ref(read_row, scratch[f]);
    if (ds->state_ == DatasetState::Edit || ds->state_ == DatasetState::Insert) return buffer[f];
    const int row = CurrentRow();
    if (row < 0) return NullCell();
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
  [[gnu::noinline]] void CalcCurrent(int row) {
    calc_row = row;
    CalcRow(row);
  }

  // Right after a load (no change log yet): stores the rows in index order,
  // so that walking the index reads the columns front to back.
  void ClusterByIndex() {
    const int n = RowCount();
    std::vector<int> perm(order);
    std::stable_sort(perm.begin(), perm.end(), [this](int a, int b) { return KeyLess(a, b); });
    if (perm == order) return;
    for (auto& col : cols) col.Permute(perm);
    // Stored position i now holds the row that was at perm[i].
    for (int i = 0; i < n; ++i) order[perm[i]] = i;
    RebuildRank();
  }

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
  Variant Coerce(const Field& field, const Variant& value) const {
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
  static void CheckLength(const Field& field, const std::string& text) {
    if (text.size() <= static_cast<std::size_t>(field.Size())) return;
    const std::size_t len = Utf8Length(text);
    if (len > static_cast<std::size_t>(field.Size()))
      throw DatasetError("field " + field.FieldName() + ": text of " + std::to_string(len) +
                         " characters is longer than its size " + std::to_string(field.Size()));
  }

  // A packet cell checked against the field it goes into, in the field's type.
  Variant LoadCell(const Field& field, Variant&& cell, std::size_t row_number) const {
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

  template <typename Packet>
  void Load(Packet&& packet);

  std::vector<Variant> StoredValues(const std::vector<Variant>& all) const {
    std::vector<Variant> out;
    for (const auto& f : ds->fields_)
      if (!f->Calculated()) out.push_back(all[f->Index()]);
    return out;
  }
  std::vector<Variant> RowValues(int row) const {
    std::vector<Variant> out;
    for (const auto& f : ds->fields_)
      if (!f->Calculated()) out.push_back(cols[f->Index()].Get(row));
    return out;
  }
  std::vector<FieldDef> StoredDefs() const {
    std::vector<FieldDef> out;
    for (const auto& f : ds->fields_)
      if (!f->Calculated()) out.push_back(f->Def());
    return out;
  }
  int NewRow(std::vector<Variant>& values) {
    const int row = RowCount();
    for (std::size_t f = 0; f < cols.size(); ++f) cols[f].Push(std::move(values[f]));
    status.push_back(RowStatus::Inserted);
    change_seq.push_back(next_seq++);
    rank.push_back(-1);
    return row;
  }
};

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
  status.assign(nrows, RowStatus::Unchanged);
  change_seq.assign(nrows, 0);
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

// ---------------------------------------------------------------------------
// Field

Field::Field(ClientDataset* owner, FieldDef def, int index, bool calculated)
    : owner_(owner), def_(std::move(def)), index_(index), calculated_(calculated) {}

std::string Field::DisplayName() const { return display_label.empty() ? def_.name : display_label; }

Variant Field::Value() const { return owner_->CellRef(index_); }
void Field::SetValue(const Variant& value) { owner_->SetCell(index_, value); }
bool Field::IsNull() const { return owner_->CellRef(index_).IsEmptyOrNull(); }

std::string Field::AsString() const {
  const Variant& v = owner_->CellRef(index_);
  if (v.IsEmptyOrNull()) return "";
  if (const DateTime* d = v.IfDateTime()) return d->ToBrazilian();
  return v.ToString();
}

namespace {

// Field::AsFloat for everything but a number in a double cell.
[[gnu::noinline]] double FloatOf(const Field& field) {
  const Variant v = field.Value();
  if (v.IsEmptyOrNull()) return 0;
  try {
    return v.ToDouble();
  } catch (const VariantConversionError& e) {
    throw DatasetError("field " + field.FieldName() + ": " + e.what());
  }
}

}  // namespace

double Field::AsFloat() const {
  if (double d; !calculated_ && owner_->impl_->NumberAt(index_, &d)) return d;
  return FloatOf(*this);
}

DateTime Field::AsDateTime() const {
  const Variant& v = owner_->CellRef(index_);
  if (const DateTime* d = v.IfDateTime()) return *d;
  try {
    return v.IsEmptyOrNull() ? Variant().ToDateTime() : v.ToDateTime();
  } catch (const VariantConversionError& e) {
    throw DatasetError("field " + def_.name + ": " + e.what());
  }
}

void Field::SetAsString(const std::string& text) {
  if (def_.type == FieldType::DateTime && !text.empty()) {
    DateTime d;
    if (!DateTime::TryFromIso(text, &d)) {
      try {
        d = DateTime::FromBrazilian(Trim(text));
      } catch (const Error&) {
        throw DatasetError("field " + def_.name + ": \"" + text + "\" is not a valid date");
      }
    }
    SetValue(Variant(d));
    return;
  }
  if (IsNumericType(def_.type) && !text.empty()) {
    const auto number = ParseNumber(text);
    if (!number)
      throw DatasetError("field " + def_.name + ": \"" + text + "\" is not a valid number");
    SetValue(Variant(*number));
    return;
  }
  SetValue(Variant(text));
}

void Field::SetAsFloat(double value) { SetValue(Variant(value)); }
void Field::Clear() { SetValue(Variant::Null()); }
Variant Field::OldValue() const { return owner_->GetOldCell(index_); }

namespace {

// A float without a format shows fifteen significant digits, so that a
// computed 12 × 0.012 reads "0,144", not the binary remainder
// "0,14400000000000002".
double ToShownDigits(double value) {
  if (!std::isfinite(value)) return value;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  double shown = value;
  std::from_chars(buf, res.ptr, shown);
  return shown;
}

std::string FormatCell(const Field& field, const Variant& v, const std::string& pattern) {
  if (v.IsEmptyOrNull()) return "";
  if (const DateTime* d = v.IfDateTime()) return d->ToBrazilian();
  if (const std::int64_t* i = v.IfInt(); i && pattern.empty()) return std::to_string(*i);
  if (v.IsNumeric() && pattern.empty()) return FormatNumber(pattern, ToShownDigits(v.ToDouble()));
  if (v.IsNumeric()) return FormatNumber(pattern, v.ToDouble());
  return v.ToString();
}

}  // namespace

std::string Field::DisplayText() const {
  if (on_get_text) return on_get_text(const_cast<Field&>(*this), true);
  return FormatCell(*this, owner_->CellRef(index_), display_format);
}

std::string Field::Text() const {
  if (on_get_text) return on_get_text(const_cast<Field&>(*this), false);
  return FormatCell(*this, owner_->CellRef(index_),
                    edit_format.empty() ? display_format : edit_format);
}

void Field::SetText(const std::string& text) {
  if (on_set_text) {
    on_set_text(*this, text);
    return;
  }
  if (def_.type == FieldType::Integer && !text.empty()) {
    const auto number = ParseNumber(text);
    if (!number || *number != static_cast<double>(static_cast<std::int64_t>(*number)))
      throw DatasetError("field " + def_.name + ": \"" + text + "\" is not a valid integer");
    SetValue(Variant(static_cast<std::int64_t>(*number)));
    return;
  }
  SetAsString(IsNumericType(def_.type) || def_.type == FieldType::DateTime ? Trim(text) : text);
}

void Field::FocusControl() {
  const auto sources = owner_->impl_->sources;
  for (DataSource* s : sources) s->NotifyFocusField(*this);
}

// ---------------------------------------------------------------------------
// DataSource

DataSource::~DataSource() { SetDataSet(nullptr); }

void DataSource::SetDataSet(ClientDataset* dataset) {
  if (dataset == dataset_) return;
  ClientDataset* old = dataset_;
  dataset_ = dataset;
  if (old) old->DetachSource(this);
  if (dataset) dataset->AttachSource(this);
}

DatasetState DataSource::State() const {
  return dataset_ ? dataset_->State() : DatasetState::Inactive;
}

void DataSource::AddLink(DataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void DataSource::RemoveLink(DataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void DataSource::NotifyState() {
  if (on_state_change) on_state_change(*this);
  const auto links = links_;
  for (DataLink* l : links) l->StateChanged();
}

void DataSource::NotifyData() {
  const auto links = links_;
  for (DataLink* l : links) l->DataChanged();
}

void DataSource::NotifyLayout() {
  const auto links = links_;
  for (DataLink* l : links) l->LayoutChanged();
}

void DataSource::NotifyFocusField(Field& field) {
  const auto links = links_;
  for (DataLink* l : links) l->FocusField(field);
}

// ---------------------------------------------------------------------------
// ClientDataset

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
    if (impl_->status[r] != RowStatus::Deleted) p.rows.push_back(impl_->RowValues(r));
  return p;
}

DataPacket ClientDataset::Delta() const {
  impl_->CheckActive();
  DataPacket p;
  p.kind = DataPacket::Kind::Delta;
  p.fields = impl_->StoredDefs();
  std::vector<int> changed;
  for (int r = 0; r < impl_->RowCount(); ++r) {
    const RowStatus s = impl_->status[r];
    if (s == RowStatus::Inserted || s == RowStatus::Modified || s == RowStatus::Deleted)
      changed.push_back(r);
  }
  std::sort(changed.begin(), changed.end(),
            [this](int a, int b) { return impl_->change_seq[a] < impl_->change_seq[b]; });
  for (int r : changed) {
    RowChange c;
    switch (impl_->status[r]) {
      case RowStatus::Inserted:
        c.state = RowState::Inserted;
        c.new_values = impl_->RowValues(r);
        break;
      case RowStatus::Modified:
        c.state = RowState::Modified;
        c.old_values = impl_->StoredValues(impl_->original.at(r));
        c.new_values = impl_->RowValues(r);
        break;
      default:
        c.state = RowState::Deleted;
        c.old_values = impl_->StoredValues(impl_->original.at(r));
        break;
    }
    p.changes.push_back(std::move(c));
  }
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
    if (changed && m.status[row] == RowStatus::Unchanged) {
      m.LogFirstChange(row);
      m.status[row] = RowStatus::Modified;
    }
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
  if (m.status[row] == RowStatus::Inserted) {
    m.status[row] = RowStatus::Dead;
    m.order.erase(m.order.begin() + m.rank[row]);
    m.RebuildRank();
  } else {
    if (m.status[row] == RowStatus::Unchanged) {
      m.LogFirstChange(row);
    }
    m.status[row] = RowStatus::Deleted;
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

void ClientDataset::CancelUpdates() {
  impl_->CheckActive();
  Cancel();
  Impl& m = *impl_;
  const int current = m.CurrentRow();
  for (int r = 0; r < m.RowCount(); ++r) {
    switch (m.status[r]) {
      case RowStatus::Inserted:
        m.status[r] = RowStatus::Dead;
        break;
      case RowStatus::Modified:
      case RowStatus::Deleted: {
        auto& before = m.original.at(r);
        for (std::size_t f = 0; f < fields_.size(); ++f) m.cols[f].Set(r, std::move(before[f]));
        m.status[r] = RowStatus::Unchanged;
        break;
      }
      default:
        break;
    }
  }
  m.original.clear();
  m.DropDeadRows();
  m.RebuildView();
  m.StayOn(current);
  const int count = static_cast<int>(m.view.size());
  m.bof = m.cur <= 0;
  m.eof = count == 0;
  m.calc_row = -1;
  m.NotifyLayout();
}

void ClientDataset::MergeChangeLog() {
  impl_->CheckActive();
  Impl& m = *impl_;
  bool dropped = false;
  for (int r = 0; r < m.RowCount(); ++r) {
    if (m.status[r] == RowStatus::Deleted) {
      m.status[r] = RowStatus::Dead;
      dropped = true;
    } else if (m.status[r] != RowStatus::Dead) {
      m.status[r] = RowStatus::Unchanged;
    }
    m.change_seq[r] = 0;
  }
  m.original.clear();
  if (dropped) {
    m.DropDeadRows();
  }
}

int ClientDataset::ChangeCount() const {
  int n = 0;
  for (RowStatus s : impl_->status)
    if (s == RowStatus::Inserted || s == RowStatus::Modified || s == RowStatus::Deleted) ++n;
  return n;
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
  std::unique_ptr<FilterNode> parsed;
  if (!Trim(expression).empty()) parsed = FilterParser(expression).Parse();
  if (parsed && !fields_.empty()) {
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

Variant ClientDataset::GetOldCell(int field_index) const {
  const Impl& m = *impl_;
  m.CheckActive();
  if (field_index < 0 || field_index >= FieldCount())
    throw DatasetError(m.Named("field index " + std::to_string(field_index) + " out of range"));
  if (state_ == DatasetState::Insert) return Variant::Null();
  const int row = m.read_row >= 0 ? m.read_row : m.CurrentRow();
  if (row < 0) return Variant::Null();
  if (m.status[row] == RowStatus::Inserted) return Variant::Null();
  if (const auto it = m.original.find(row); it != m.original.end()) return it->second[field_index];
  return m.cols[field_index].Get(row);
}

}  // namespace dg::data
