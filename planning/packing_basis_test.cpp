#include "planning/packing_basis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "planning/seeded_random.h"

namespace dg::planning {
namespace {

using Dense = std::vector<std::vector<double>>;  // [row][position]

Dense ToDense(const std::vector<SparseColumn>& columns) {
  const std::size_t m = columns.size();
  Dense b(m, std::vector<double>(m, 0));
  for (std::size_t p = 0; p < m; ++p) {
    for (const auto& [r, v] : columns[p]) b[r][p] += v;
  }
  return b;
}

std::vector<double> Times(const Dense& b, const std::vector<double>& v) {
  std::vector<double> out(b.size(), 0);
  for (std::size_t r = 0; r < b.size(); ++r) {
    for (std::size_t p = 0; p < v.size(); ++p) out[r] += b[r][p] * v[p];
  }
  return out;
}

std::vector<double> TransposedTimes(const Dense& b, const std::vector<double>& y) {
  std::vector<double> out(b.size(), 0);
  for (std::size_t r = 0; r < b.size(); ++r) {
    for (std::size_t p = 0; p < y.size(); ++p) out[p] += b[r][p] * y[r];
  }
  return out;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-7) << what << " " << i;
}

// A basis like the relaxation's: stand-ins (one entry), exchanges of one
// kind for the next (two entries, a chain whose inverse is a dense
// triangle) and loads (a few small counts), drawn.
std::vector<SparseColumn> DrawBasis(SeededRandom& random, std::size_t m) {
  std::vector<SparseColumn> columns(m);
  for (std::size_t p = 0; p < m; ++p) {
    const auto r = static_cast<std::uint32_t>(p);
    switch (random.Below(3)) {
      case 0:
        columns[p] = {{r, 1.0}};
        break;
      case 1:
        if (p + 1 < m) {
          columns[p] = {{r + 1, 1.0}, {r, -1.0}};
          break;
        }
        columns[p] = {{r, 1.0}};
        break;
      default:
        columns[p] = {{r, 1.0 + static_cast<double>(random.Below(2))}};
        for (int e = 0; e < 3; ++e) {
          const auto other = static_cast<std::uint32_t>(random.Below(m));
          if (other != r) columns[p].push_back({other, 1.0});
        }
    }
  }
  return columns;
}

std::vector<double> DrawVector(SeededRandom& random, std::size_t m) {
  std::vector<double> v(m);
  for (double& e : v) e = static_cast<double>(random.Below(7)) - 3;
  return v;
}

// Both solves against the basis itself, after factoring and after each of
// a run of replacements (the simplex's pivots), on drawn bases.
TEST(SparseBasis, SolvesMatchTheBasisThroughReplacements) {
  SeededRandom random(11);
  int checked = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const std::size_t m = 5 + random.Below(60);
    std::vector<SparseColumn> columns = DrawBasis(random, m);
    SparseBasis basis;
    std::uint64_t steps = 0;
    if (!basis.Factor(columns, steps)) continue;  // a drawn basis may be singular
    for (int pivot = 0; pivot < 30; ++pivot) {
      const Dense b = ToDense(columns);
      const std::vector<double> a = DrawVector(random, m);
      std::vector<double> x = a;
      basis.Solve(x, steps);
      ExpectNear(Times(b, x), a, "B B^-1 a");
      const std::vector<double> c = DrawVector(random, m);
      std::vector<double> y = c;
      basis.SolveTransposed(y, steps);
      ExpectNear(TransposedTimes(b, y), c, "B^T B^-T c");
      ++checked;
      // Replace a position the new column reaches well enough.
      std::vector<SparseColumn> next = DrawBasis(random, m);
      const SparseColumn& entering = next[random.Below(m)];
      std::vector<double> w(m, 0);
      for (const auto& [r, v] : entering) w[r] += v;
      basis.Solve(w, steps);
      std::size_t position = m;
      for (std::size_t i = 0; i < m; ++i) {
        if (std::abs(w[i]) > 0.5 && (position == m || std::abs(w[i]) > std::abs(w[position])))
          position = i;
      }
      if (position == m) continue;
      ASSERT_TRUE(basis.Replace(position, w, steps));
      columns[position] = entering;
    }
  }
  EXPECT_GT(checked, 300);
}

// A singular basis is refused, and a replacement that would make one is
// refused without changing the basis.
TEST(SparseBasis, RefusesSingularBases) {
  SparseBasis basis;
  std::uint64_t steps = 0;
  EXPECT_FALSE(basis.Factor({{{0, 1.0}, {1, 1.0}}, {{0, 2.0}, {1, 2.0}}}, steps));
  EXPECT_FALSE(basis.Factor({{{0, 1.0}}, {{0, 1.0}}, {{2, 1.0}}}, steps));

  ASSERT_TRUE(basis.Factor({{{0, 1.0}}, {{1, 1.0}}}, steps));
  // The column (1, 0) would stand at position 1 where it has no entry.
  std::vector<double> w = {1.0, 0.0};
  EXPECT_FALSE(basis.Replace(1, w, steps));
  std::vector<double> x = {3.0, 4.0};
  basis.Solve(x, steps);
  ExpectNear(x, {3.0, 4.0}, "unchanged");
}

// The same basis gives the same answers and steps, bit for bit.
TEST(SparseBasis, SameInputSameAnswer) {
  SeededRandom random(5);
  std::vector<SparseColumn> columns;
  do {
    columns = DrawBasis(random, 40);
    SparseBasis probe;
    std::uint64_t s = 0;
    if (probe.Factor(columns, s)) break;
  } while (true);
  const std::vector<double> a = DrawVector(random, 40);
  std::vector<double> first = a, second = a;
  SparseBasis one, two;
  std::uint64_t steps_one = 0, steps_two = 0;
  ASSERT_TRUE(one.Factor(columns, steps_one));
  ASSERT_TRUE(two.Factor(columns, steps_two));
  one.Solve(first, steps_one);
  two.Solve(second, steps_two);
  EXPECT_EQ(first, second);
  EXPECT_EQ(steps_one, steps_two);
}

}  // namespace
}  // namespace dg::planning
