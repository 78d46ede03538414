#include "data/filter.h"

#include <cctype>
#include <string_view>

#include "data/names.h"

namespace dg::data {

namespace {

enum class CompareOp { Eq, Ne, Lt, Le, Gt, Ge };

}  // namespace

struct FilterExpression::Node {
  enum class Kind { Term, And, Or } kind = Kind::Term;
  std::string field;
  CompareOp op = CompareOp::Eq;
  std::string literal;
  bool quoted = false;
  int field_index = -1;
  Variant value;  // the literal converted to the field's type
  std::unique_ptr<Node> left, right;
};

namespace {

using FilterNode = FilterExpression::Node;

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
    const std::string reason = why + " at position " + std::to_string(pos_ + 1);
    throw FilterError("invalid filter \"" + text_ + "\": " + reason, reason);
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

FilterExpression::FilterExpression() = default;
FilterExpression::~FilterExpression() = default;
FilterExpression::FilterExpression(FilterExpression&&) noexcept = default;
FilterExpression& FilterExpression::operator=(FilterExpression&&) noexcept = default;

FilterExpression FilterExpression::Parse(const std::string& text) {
  FilterExpression filter;
  if (text.find_first_not_of(" \t") == std::string::npos) return filter;
  filter.root_ = FilterParser(text).Parse();
  filter.bound_ = false;
  return filter;
}

namespace {

void BindNode(
    FilterNode& n,
    const std::function<std::optional<FilterExpression::FieldRef>(const std::string&)>& lookup) {
  if (n.kind != FilterNode::Kind::Term) {
    BindNode(*n.left, lookup);
    BindNode(*n.right, lookup);
    return;
  }
  const std::optional<FilterExpression::FieldRef> field = lookup(n.field);
  if (!field) {
    const std::string reason = "filter field " + n.field + " not found";
    throw FilterError(reason, reason);
  }
  n.field_index = field->index;
  try {
    switch (field->type) {
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
    const std::string reason = "filter value '" + n.literal + "' does not fit field " + n.field;
    throw FilterError(reason, reason);
  }
}

bool Eval(const FilterNode& n, const FilterRow& row) {
  switch (n.kind) {
    case FilterNode::Kind::And:
      return Eval(*n.left, row) && Eval(*n.right, row);
    case FilterNode::Kind::Or:
      return Eval(*n.left, row) || Eval(*n.right, row);
    case FilterNode::Kind::Term:
      break;
  }
  Variant scratch;
  const Variant& cell = row.Cell(n.field_index, scratch);
  const std::string* literal = n.value.IfString();
  if (cell.IsEmptyOrNull()) {
    // No value reads as the empty text; it equals no number or date.
    if (literal != nullptr) return CompareResult(n.op, literal->empty() ? 0 : -1);
    return n.op == CompareOp::Ne;
  }
  if (const std::string* s = cell.IfString(); s != nullptr && literal != nullptr) {
    return CompareResult(n.op, s->compare(*literal) < 0 ? -1 : (*s == *literal ? 0 : 1));
  }
  return CompareResult(n.op,
                       CompareCells(cell.IsNumeric() ? Variant(cell.ToDouble()) : cell, n.value));
}

void CollectFields(const FilterNode& n, std::vector<int>& out) {
  if (n.kind != FilterNode::Kind::Term) {
    CollectFields(*n.left, out);
    CollectFields(*n.right, out);
    return;
  }
  out.push_back(n.field_index);
}

}  // namespace

void FilterExpression::Bind(
    const std::function<std::optional<FieldRef>(const std::string& name)>& lookup) {
  bound_ = false;
  if (root_) BindNode(*root_, lookup);
  bound_ = true;
}

void FilterExpression::Bind(const std::vector<FieldDef>& fields) {
  Bind([&fields](const std::string& name) -> std::optional<FieldRef> {
    // As the dataset finds its fields: the exact name first, then ignoring
    // letter case.
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].name == name) return FieldRef{static_cast<int>(i), fields[i].type};
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (EqualsIgnoringAsciiCase(fields[i].name, name)) {
        return FieldRef{static_cast<int>(i), fields[i].type};
      }
    }
    return std::nullopt;
  });
}

std::vector<int> FilterExpression::FieldIndexes() const {
  std::vector<int> out;
  if (root_) CollectFields(*root_, out);
  return out;
}

bool FilterExpression::Matches(const FilterRow& row) const {
  return root_ == nullptr || Eval(*root_, row);
}

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

}  // namespace dg::data
