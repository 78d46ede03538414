// Filter expressions over the rows of a table: comparisons FIELD op literal
// joined by AND and OR, with parentheses. op is one of = <> < <= > >=;
// FIELD is a name or [a bracketed name]; a literal is 'quoted text' (a
// quote doubled inside) or a number. AND binds tighter than OR; keywords
// in any letter case.
//
// One parser serves the client dataset's filter and the server's reading
// of the filter texts the screen sends. Intentionally movable, not copyable.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/packet.h"
#include "data/variant.h"

namespace dg::data {

// A filter that cannot be used. what() is the whole message for the
// dataset; Reason() alone ("comparison operator expected at position 9",
// "filter field NOPE not found") for callers that word their own.
class FilterError : public Error {
 public:
  FilterError(const std::string& message, std::string reason)
      : Error(message), reason_(std::move(reason)) {}
  const std::string& Reason() const { return reason_; }

 private:
  std::string reason_;
};

// Reads the cells of one row for Matches.
class FilterRow {
 public:
  virtual ~FilterRow() = default;
  // The row's cell of field `index`; may be built in `scratch`.
  virtual const Variant& Cell(int index, Variant& scratch) const = 0;
};

class FilterExpression {
 public:
  struct Node;
  // A field a filter names, as the table defines it.
  struct FieldRef {
    int index = -1;
    FieldType type = FieldType::String;
  };

  // The empty filter: lets every row through.
  FilterExpression();
  ~FilterExpression();
  FilterExpression(FilterExpression&&) noexcept;
  FilterExpression& operator=(FilterExpression&&) noexcept;

  // Blank text gives the empty filter. Throws FilterError on malformed text.
  static FilterExpression Parse(const std::string& text);

  bool Empty() const { return root_ == nullptr; }

  // Looks the field names up and converts each literal to its field's type.
  // `lookup` answers none for an unknown name. Throws FilterError for an
  // unknown field or a literal that does not fit its field; the filter is
  // then left unbound.
  void Bind(const std::function<std::optional<FieldRef>(const std::string& name)>& lookup);
  // Binds to the fields of a packet, found as the dataset finds its own:
  // by the exact name, else ignoring ASCII letter case.
  void Bind(const std::vector<FieldDef>& fields);
  bool Bound() const { return bound_; }

  // The field indexes the filter reads (REQUIRES: Bound()).
  std::vector<int> FieldIndexes() const;

  // Whether the row passes. No value reads as the empty text; it equals no
  // number or date. REQUIRES: Bound().
  bool Matches(const FilterRow& row) const;

 private:
  std::unique_ptr<Node> root_;
  bool bound_ = true;
};

// Orders two cells of one field: no value first, then by value (texts by
// their bytes, numbers by value whatever their kind, dates by time).
int CompareCells(const Variant& a, const Variant& b);

}  // namespace dg::data
