// The basis of the relaxation over loads (packing_columns.cpp) kept as sparse
// factors: a lower and an upper triangular factor of the basis, computed
// anew now and then, and the pivots since as a file of elementary updates.
//
// The basis's columns (a load: a few kinds of pieces; an exchange of one
// kind for another: two entries; a stand-in: one) are sparse, while its
// inverse is mostly dense (a chain of exchanges alone has a triangle of
// ones for inverse): an explicit inverse costs m^2 per pivot, the factors
// about as many entries as the columns and the updates hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace dg::planning {

// A column of the basis: its nonzero entries, each a row and its value.
using SparseColumn = std::vector<std::pair<std::uint32_t, double>>;

// Copyable; not safe for concurrent use. Positions and rows are both
// counted from 0 to m - 1: column p of the basis is the column at position
// p. Every call adds the entries it looks at to `steps`.
class SparseBasis {
 public:
  // Factors the basis whose column at position p is columns[p], each entry
  // on a row below columns.size(). False when the basis is singular (the
  // factors are then unusable until the next Factor).
  bool Factor(const std::vector<SparseColumn>& columns, std::uint64_t& steps);

  // x (by row) becomes B^-1 x (by position): the combination of the
  // basis's columns that gives x.
  void Solve(std::vector<double>& x, std::uint64_t& steps) const;

  // c (by position) becomes B^-T c (by row): the prices of the rows under
  // which each basic column costs what c says.
  void SolveTransposed(std::vector<double>& c, std::uint64_t& steps) const;

  // Puts at `position` the column a whose Solve is w (w = B^-1 a, by
  // position, taken before the change). False, with nothing changed, when
  // w[position] is too near 0 for the basis to stay regular.
  bool Replace(std::size_t position, const std::vector<double>& w, std::uint64_t& steps);

  // Replacements since the last Factor.
  std::size_t updates() const { return etas_.size(); }
  // Entries the replacements since the last Factor hold.
  std::size_t update_entries() const { return eta_entries_; }

 private:
  struct Eta {
    std::uint32_t position;
    double pivot;
    SparseColumn entries;  // by position, the pivot's own left out
  };

  std::size_t m_ = 0;
  // Step k of the elimination took the column at position position_[k]
  // with its pivot on row row_[k]: lower_[k] holds the multipliers of the
  // rows pivoted later, upper_[k] the entries of that column on the steps
  // before (by step), diagonal_[k] the pivot.
  std::vector<std::uint32_t> position_, row_;
  std::vector<SparseColumn> lower_, upper_;
  std::vector<double> diagonal_;
  std::vector<Eta> etas_;
  std::size_t eta_entries_ = 0;
  mutable std::vector<double> work_;
};

}  // namespace dg::planning
