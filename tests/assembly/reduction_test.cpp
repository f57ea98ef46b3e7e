// Reductions of a row-indexed matrix: MatricaYR on the three-node network
// (identity and swapped numbering), the column sort of a row, the spacer,
// and MatYR with one, two and no flagged nodes.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "support/complex.hpp"

namespace {

using orvek::Complex;
using orvek::test::HostNetwork;
using orvek::test::OutputArrays;
using orvek::test::ReductionInput;
using orvek::test::RunMatricaY;
using orvek::test::RunMatricaYR;
using orvek::test::RunMatYR;
using orvek::test::Triplets;

constexpr Complex kJ(float im) { return {0.0f, im}; }

HostNetwork ThreeNode() {
  HostNetwork net;
  net.n = 3;
  net.Add(1, 2, kJ(0.5f), kJ(0.25f), kJ(0.25f));
  net.Add(2, 3, kJ(1.0f), kJ(0.25f), kJ(0.25f));
  return net;
}

// A row-indexed input written by hand: diag at 1..n, entries given per row.
struct Entry {
  std::int32_t col;
  Complex value;
};
ReductionInput HandMade(const std::vector<Complex> &diag, const std::vector<std::vector<Entry>> &rows) {
  ReductionInput in;
  const auto n = static_cast<std::int32_t>(diag.size());
  std::int32_t pos = n + 1;
  in.ija[0] = n + 2;
  for (std::int32_t i = 1; i <= n; ++i) {
    in.sa[static_cast<std::size_t>(i - 1)] = diag[static_cast<std::size_t>(i - 1)].re;
    in.sa[static_cast<std::size_t>(orvek::kLdNonzero + i - 1)] = diag[static_cast<std::size_t>(i - 1)].im;
    for (const Entry &e : rows[static_cast<std::size_t>(i - 1)]) {
      ++pos;
      in.ija[static_cast<std::size_t>(pos - 1)] = e.col;
      in.sa[static_cast<std::size_t>(pos - 1)] = e.value.re;
      in.sa[static_cast<std::size_t>(orvek::kLdNonzero + pos - 1)] = e.value.im;
    }
    in.ija[static_cast<std::size_t>(i)] = pos + 1;
  }
  return in;
}

void ExpectEntry(const Triplets &t, std::int32_t k, std::int32_t row, std::int32_t col, Complex value) {
  const auto i = static_cast<std::size_t>(k - 1);
  EXPECT_EQ(t.irow[i], row) << "entry " << k;
  EXPECT_EQ(t.jcol[i], col) << "entry " << k;
  EXPECT_EQ(t.a[i], value) << "entry " << k;
}

TEST(MatricaYRExamples, DropsTheReferenceNode) {
  const ReductionInput in = ReductionInput::From(RunMatricaY(ThreeNode()));
  const OutputArrays o = RunMatricaYR(3, in, {1, 2}, {1, 2, -5}, 2);
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, 4);
  ExpectEntry(t, 1, 1, 1, kJ(-1.75f));
  ExpectEntry(t, 2, 2, 2, kJ(-2.5f)); // still holds the terms of branch 2-3
  ExpectEntry(t, 3, 1, 2, kJ(2.0f));
  ExpectEntry(t, 4, 2, 1, kJ(2.0f));
  EXPECT_EQ(o.row_indexed().ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
  EXPECT_EQ(o.row_indexed().sa[2], Complex{});
}

TEST(MatricaYRExamples, SwappedNumberingMovesRowsAndColumns) {
  // Asymmetric off-diagonals so that (1, 2) and (2, 1) can be told apart.
  const ReductionInput in = HandMade({kJ(-1.0f), kJ(-2.0f), kJ(-3.0f)},
                                     {{{2, kJ(12.0f)}}, {{3, kJ(23.0f)}, {1, kJ(21.0f)}}, {{2, kJ(32.0f)}}});
  const OutputArrays o = RunMatricaYR(3, in, {2, 1}, {2, 1, 0}, 2);
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, 4);
  ExpectEntry(t, 1, 1, 1, kJ(-2.0f));
  ExpectEntry(t, 2, 2, 2, kJ(-1.0f));
  ExpectEntry(t, 3, 1, 2, kJ(21.0f)); // old (2, 1)
  ExpectEntry(t, 4, 2, 1, kJ(12.0f)); // old (1, 2)
  EXPECT_EQ(o.row_indexed().ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
}

TEST(MatricaYRExamples, ColumnsOfARowComeOutAscending) {
  // Old row 1 holds columns 5, 2, 4 (and 3, the reference node).
  std::vector<std::vector<Entry>> rows(6);
  rows[0] = {{5, {5.0f, 0.5f}}, {3, {3.0f, 0.3f}}, {2, {2.0f, 0.2f}}, {4, {4.0f, 0.4f}}};
  const ReductionInput in = HandMade(std::vector<Complex>(6, Complex{1.0f, 1.0f}), rows);
  // Keep old nodes 1, 2, 4, 5, 6 with identity-like numbering around node 3.
  const OutputArrays o = RunMatricaYR(3, in, {1, 2, 4, 5, 6}, {1, 2, 0, 3, 4, 5}, 5);
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, 5 + 3);
  ExpectEntry(t, 6, 1, 2, {2.0f, 0.2f});
  ExpectEntry(t, 7, 1, 3, {4.0f, 0.4f});
  ExpectEntry(t, 8, 1, 4, {5.0f, 0.5f});
  const auto r = o.row_indexed();
  EXPECT_EQ(r.ija, (std::vector<std::int32_t>{7, 10, 10, 10, 10, 10, 2, 3, 4}));
}

TEST(MatricaYRExamples, SpacerIsZeroAfterALargerCall) {
  const ReductionInput four = HandMade({kJ(1.0f), kJ(2.0f), kJ(3.0f), kJ(4.0f)}, {{}, {}, {}, {}});
  (void)RunMatricaYR(4, four, {1, 2, 3}, {1, 2, 3, 0}, 3); // writes W(3) as a diagonal
  const ReductionInput three = HandMade({kJ(1.0f), kJ(2.0f), kJ(3.0f)}, {{}, {}, {}});
  const OutputArrays o = RunMatricaYR(3, three, {1, 2}, {1, 2, 0}, 2);
  EXPECT_EQ(o.nz, 2);
  EXPECT_EQ(o.row_indexed().sa[2], Complex{});
}

TEST(MatYRExamples, OneFlaggedNodeEqualsMatricaYR) {
  const ReductionInput in = ReductionInput::From(RunMatricaY(ThreeNode()));
  for (const auto &iold : {std::vector<std::int32_t>{1, 3}, std::vector<std::int32_t>{3, 1}}) {
    std::vector<std::int32_t> inew(3, 0);
    inew[static_cast<std::size_t>(iold[0] - 1)] = 1;
    inew[static_cast<std::size_t>(iold[1] - 1)] = 2;
    const Triplets x = RunMatricaYR(2, in, iold, inew, 2).triplets();
    const Triplets y = RunMatYR(3, {0, 1, 0}, in, iold, inew, 2).triplets();
    ASSERT_EQ(x.nz, y.nz);
    EXPECT_EQ(x.irow, y.irow);
    EXPECT_EQ(x.jcol, y.jcol);
    for (std::size_t k = 0; k < x.a.size(); ++k) EXPECT_EQ(x.a[k], y.a[k]) << k;
  }
}

TEST(MatYRExamples, TwoFlaggedNodesLeaveNoTrace) {
  HostNetwork net = ThreeNode();
  net.n = 5;
  net.Add(3, 4, kJ(0.5f), Complex{}, Complex{});
  net.Add(4, 5, kJ(0.5f), Complex{}, Complex{});
  net.Add(5, 1, kJ(0.5f), Complex{}, Complex{});
  const OutputArrays full = RunMatricaY(net);
  const ReductionInput in = ReductionInput::From(full);
  // Remove nodes 2 and 4; new nodes 1, 2, 3 are old 5, 1, 3.
  const Triplets t = RunMatYR(5, {0, 1, 0, 1, 0}, in, {5, 1, 3}, {2, 0, 3, 0, 1}, 3).triplets();
  // Old pairs kept: 1-5 only (2-x and 4-x go): NZ = 3 + 2.
  ASSERT_EQ(t.nz, 5);
  ExpectEntry(t, 4, 1, 2, kJ(2.0f));
  ExpectEntry(t, 5, 2, 1, kJ(2.0f));
  for (std::int32_t k = 1; k <= 3; ++k) EXPECT_EQ(t.irow[static_cast<std::size_t>(k - 1)], k);
  const Triplets f = full.triplets();
  EXPECT_EQ(t.a[0], f.a[4]); // new 1 = old 5
  EXPECT_EQ(t.a[1], f.a[0]); // new 2 = old 1
  EXPECT_EQ(t.a[2], f.a[2]); // new 3 = old 3
}

TEST(MatYRExamples, NoFlagsSortsEachRow) {
  const OutputArrays full = RunMatricaY(ThreeNode());
  const ReductionInput in = ReductionInput::From(full);
  const Triplets t = RunMatYR(3, {0, 0, 0}, in, {1, 2, 3}, {1, 2, 3}, 3).triplets();
  ASSERT_EQ(t.nz, 7);
  // Row 2 held columns 3, 1; now 1, 3.
  ExpectEntry(t, 4, 1, 2, kJ(2.0f));
  ExpectEntry(t, 5, 2, 1, kJ(2.0f));
  ExpectEntry(t, 6, 2, 3, kJ(1.0f));
  ExpectEntry(t, 7, 3, 2, kJ(1.0f));
}

} // namespace
