// The relaxation's basis as sparse factors: see packing_basis.h.
#include "planning/packing_basis.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <queue>

namespace dg::planning {
namespace {

// Entries below this are dropped from the factors and the updates.
constexpr double kDrop = 1e-13;
// A pivot below this (in magnitude) makes the basis singular.
constexpr double kSingular = 1e-9;
// Among the rows of a column, a pivot at least this share of the largest
// entry may be taken; the sparsest such row is.
constexpr double kThreshold = 0.1;
// A step of the elimination put in order (a heap of the steps due) counts
// as this many: it costs about as much as that many entries.
constexpr std::uint64_t kQueueSteps = 8;
// A replacement whose pivot is below this keeps the basis as it was.
constexpr double kLeastReplacePivot = 1e-9;

}  // namespace

bool SparseBasis::Factor(const std::vector<SparseColumn>& columns, std::uint64_t& steps) {
  const std::size_t m = columns.size();
  m_ = m;
  etas_.clear();
  eta_entries_ = 0;
  position_.assign(m, 0);
  row_.assign(m, 0);
  // The factors' columns keep their memory from one factoring to the next.
  lower_.resize(m);
  upper_.resize(m);
  for (std::size_t k = 0; k < m; ++k) lower_[k].clear(), upper_[k].clear();
  diagonal_.assign(m, 0);
  work_.assign(m, 0);
  // Rows with fewer entries first as pivots, columns with fewer entries
  // first as steps: the stand-ins and exchanges then take their rows before
  // the loads, and the factors stay about as sparse as the basis.
  std::vector<std::uint32_t> row_count(m, 0);
  for (const SparseColumn& c : columns) {
    for (const auto& [r, v] : c) ++row_count[r];
    steps += c.size();
  }
  std::vector<std::uint32_t> order(m);
  std::iota(order.begin(), order.end(), 0U);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return columns[a].size() < columns[b].size();
  });
  std::vector<std::int64_t> step_of_row(m, -1);
  std::vector<std::size_t> stamp(m, m);  // the step that last touched the row
  std::vector<std::uint32_t> touched;
  std::priority_queue<std::uint32_t, std::vector<std::uint32_t>, std::greater<>> due;
  std::vector<double>& x = work_;
  for (std::size_t j = 0; j < m; ++j) {
    const std::uint32_t p = order[j];
    touched.clear();
    // A row already pivoted, when first touched, names its step for the
    // elimination below.
    auto touch = [&](std::uint32_t r) {
      if (stamp[r] == j) return;
      stamp[r] = j;
      touched.push_back(r);
      x[r] = 0;
      if (step_of_row[r] >= 0) {
        due.push(static_cast<std::uint32_t>(step_of_row[r]));
        steps += kQueueSteps;
      }
    };
    for (const auto& [r, v] : columns[p]) {
      touch(r);
      x[r] += v;
    }
    // The earlier steps whose rows the column reaches, in order: their
    // multipliers reach only rows pivoted after them.
    while (!due.empty()) {
      const std::uint32_t k = due.top();
      due.pop();
      const std::uint32_t r = row_[k];
      ++steps;
      if (x[r] == 0) continue;
      const double xr = x[r];
      upper_[j].push_back({k, xr});
      steps += lower_[k].size();
      for (const auto& [i, l] : lower_[k]) {
        touch(i);
        x[i] -= l * xr;
      }
    }
    double largest = 0;
    for (std::uint32_t i : touched) {
      if (step_of_row[i] < 0) largest = std::max(largest, std::abs(x[i]));
    }
    steps += touched.size();
    if (largest < kSingular) return false;
    std::int64_t pivot = -1;
    for (std::uint32_t i : touched) {
      if (step_of_row[i] >= 0 || std::abs(x[i]) < kThreshold * largest) continue;
      if (pivot < 0 || row_count[i] < row_count[static_cast<std::size_t>(pivot)] ||
          (row_count[i] == row_count[static_cast<std::size_t>(pivot)] &&
           i < static_cast<std::uint32_t>(pivot)))
        pivot = i;
    }
    const auto pr = static_cast<std::uint32_t>(pivot);
    const double d = x[pr];
    position_[j] = p;
    row_[j] = pr;
    diagonal_[j] = d;
    step_of_row[pr] = static_cast<std::int64_t>(j);
    for (std::uint32_t i : touched) {
      if (step_of_row[i] >= 0 || std::abs(x[i]) < kDrop) continue;
      lower_[j].push_back({i, x[i] / d});
    }
  }
  std::fill(x.begin(), x.end(), 0.0);
  return true;
}

void SparseBasis::Solve(std::vector<double>& x, std::uint64_t& steps) const {
  const std::size_t m = m_;
  // L z = x, z kept on the pivot rows.
  for (std::size_t k = 0; k < m; ++k) {
    const double xr = x[row_[k]];
    if (xr == 0) continue;
    steps += lower_[k].size();
    for (const auto& [i, l] : lower_[k]) x[i] -= l * xr;
  }
  // U v = z, by step.
  std::vector<double>& z = work_;
  for (std::size_t k = 0; k < m; ++k) z[k] = x[row_[k]];
  for (std::size_t j = m; j-- > 0;) {
    const double v = z[j] / diagonal_[j];
    z[j] = v;
    if (v == 0) continue;
    steps += upper_[j].size();
    for (const auto& [k, u] : upper_[j]) z[k] -= u * v;
  }
  for (std::size_t j = 0; j < m; ++j) x[position_[j]] = z[j];
  steps += 3 * m;
  // The replacements since, in order.
  for (const Eta& e : etas_) {
    const double v = x[e.position] / e.pivot;
    x[e.position] = v;
    if (v == 0) continue;
    steps += e.entries.size();
    for (const auto& [i, w] : e.entries) x[i] -= w * v;
  }
}

void SparseBasis::SolveTransposed(std::vector<double>& c, std::uint64_t& steps) const {
  const std::size_t m = m_;
  // The replacements, last first.
  for (auto e = etas_.rbegin(); e != etas_.rend(); ++e) {
    double v = c[e->position];
    steps += e->entries.size();
    for (const auto& [i, w] : e->entries) v -= c[i] * w;
    c[e->position] = v / e->pivot;
  }
  // U^T t = c, by step.
  std::vector<double>& t = work_;
  for (std::size_t j = 0; j < m; ++j) {
    double v = c[position_[j]];
    steps += upper_[j].size();
    for (const auto& [k, u] : upper_[j]) v -= u * t[k];
    t[j] = v / diagonal_[j];
  }
  // L^T y = t, the last step first.
  for (std::size_t k = m; k-- > 0;) {
    double v = t[k];
    steps += lower_[k].size();
    for (const auto& [i, l] : lower_[k]) v -= l * c[i];
    c[row_[k]] = v;
  }
  steps += 2 * m;
}

bool SparseBasis::Replace(std::size_t position, const std::vector<double>& w,
                          std::uint64_t& steps) {
  if (position >= m_ || std::abs(w[position]) < kLeastReplacePivot) return false;
  Eta e{static_cast<std::uint32_t>(position), w[position], {}};
  for (std::size_t i = 0; i < m_; ++i) {
    if (i != position && std::abs(w[i]) >= kDrop) e.entries.push_back({static_cast<std::uint32_t>(i), w[i]});
  }
  steps += m_;
  eta_entries_ += e.entries.size();
  etas_.push_back(std::move(e));
  return true;
}

}  // namespace dg::planning
