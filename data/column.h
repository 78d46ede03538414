// Column storage of the client dataset (internal to data/).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "data/dataset.h"
#include "data/filter.h"
#include "data/variant.h"

namespace dg::data {

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
  // The numbers of a numeric column, by row.
  const double* Numbers() const { return nums_.data(); }
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
  static double NullNumber() {
    double d;
    std::memcpy(&d, &NumberColumn::kNoValueBits, sizeof d);
    return d;
  }
  static bool IsNullNumber(double d) { return NumberColumn::IsNoValue(d); }

  bool numeric_;
  std::vector<Variant> cells_;
  std::vector<double> nums_;
};

}  // namespace dg::data
