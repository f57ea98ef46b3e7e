// Exact outputs of the assembly routines on small networks: the two- and
// three-node networks, parallel and reversed branches, the order of partial
// sums, shunts, isolated nodes, self-loops, opened branches, the spacer
// position, and repeated calls.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "support/complex.hpp"

namespace {

using orvek::Complex;
using orvek::test::Assembled;
using orvek::test::AssembleMatricaY;
using orvek::test::HostNetwork;
using orvek::test::OutputArrays;
using orvek::test::RunMatricaY;
using orvek::test::RunMatY;
using orvek::test::RunMatYPrekin;
using orvek::test::RunMatYsa;
using orvek::test::Triplets;

constexpr Complex kJ(float im) { return {0.0f, im}; }

// Branch 1-2, Z = j0.5 (y = -j2), YA = YB = j0.25.
HostNetwork TwoNode() {
  HostNetwork net;
  net.n = 2;
  net.Add(1, 2, kJ(0.5f), kJ(0.25f), kJ(0.25f));
  return net;
}

// Branches 1-2 (Z = j0.5) and 2-3 (Z = j1), YA = YB = j0.25.
HostNetwork ThreeNode() {
  HostNetwork net;
  net.n = 3;
  net.Add(1, 2, kJ(0.5f), kJ(0.25f), kJ(0.25f));
  net.Add(2, 3, kJ(1.0f), kJ(0.25f), kJ(0.25f));
  return net;
}

void ExpectEntry(const Triplets &t, std::int32_t k, std::int32_t row, std::int32_t col, Complex value) {
  const auto i = static_cast<std::size_t>(k - 1);
  EXPECT_EQ(t.irow[i], row) << "entry " << k;
  EXPECT_EQ(t.jcol[i], col) << "entry " << k;
  EXPECT_EQ(t.a[i].re, value.re) << "entry " << k;
  EXPECT_EQ(t.a[i].im, value.im) << "entry " << k;
}

void ExpectSame(const Triplets &x, const Triplets &y) {
  ASSERT_EQ(x.nz, y.nz);
  EXPECT_EQ(x.irow, y.irow);
  EXPECT_EQ(x.jcol, y.jcol);
  for (std::size_t k = 0; k < x.a.size(); ++k) {
    EXPECT_EQ(x.a[k].re, y.a[k].re) << k;
    EXPECT_EQ(x.a[k].im, y.a[k].im) << k;
  }
}

TEST(MatricaYExamples, TwoNodeNetwork) {
  const Assembled out = AssembleMatricaY(TwoNode());
  ASSERT_EQ(out.t.nz, 4);
  ExpectEntry(out.t, 1, 1, 1, kJ(-1.75f));
  ExpectEntry(out.t, 2, 2, 2, kJ(-1.75f));
  ExpectEntry(out.t, 3, 1, 2, kJ(2.0f));
  ExpectEntry(out.t, 4, 2, 1, kJ(2.0f));
  EXPECT_EQ(out.r.ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
  EXPECT_EQ(out.r.sa[0], kJ(-1.75f));
  EXPECT_EQ(out.r.sa[1], kJ(-1.75f));
  EXPECT_EQ(out.r.sa[2], Complex{}); // the spacer
  EXPECT_EQ(out.r.sa[3], kJ(2.0f));
  EXPECT_EQ(out.r.sa[4], kJ(2.0f));
}

TEST(MatricaYExamples, ParallelReversedBranchMerges) {
  HostNetwork net = TwoNode();
  net.Add(2, 1, kJ(0.5f), kJ(0.25f), kJ(0.25f));
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 4);
  ExpectEntry(out.t, 1, 1, 1, kJ(-3.5f));
  ExpectEntry(out.t, 2, 2, 2, kJ(-3.5f));
  // Two equal keys keep their order in the key sort: branch 1 orients the pair.
  ExpectEntry(out.t, 3, 1, 2, kJ(4.0f));
  ExpectEntry(out.t, 4, 2, 1, kJ(4.0f));
  EXPECT_EQ(out.r.ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
}

TEST(MatricaYExamples, ReversedPairInTenNodes) {
  HostNetwork net;
  net.n = 10;
  net.Add(3, 7, kJ(0.5f), Complex{}, Complex{});
  net.Add(7, 3, kJ(0.25f), Complex{}, Complex{});
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 12);
  ExpectEntry(out.t, 3, 3, 3, kJ(-6.0f));
  ExpectEntry(out.t, 7, 7, 7, kJ(-6.0f));
  ExpectEntry(out.t, 11, 3, 7, kJ(6.0f));
  ExpectEntry(out.t, 12, 7, 3, kJ(6.0f));
  for (std::int32_t k = 1; k <= 10; ++k) {
    if (k != 3 && k != 7) ExpectEntry(out.t, k, k, k, Complex{});
  }
  EXPECT_EQ(out.r.ija[10], 12 + 2);
}

TEST(MatricaYExamples, ShuntChangesOnlyItsDiagonal) {
  HostNetwork net = TwoNode();
  net.AddShunt(2, 0.1f);
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 4);
  ExpectEntry(out.t, 1, 1, 1, kJ(-1.75f));
  // The shunt is added first, then the branch terms.
  ExpectEntry(out.t, 2, 2, 2, kJ(0.1f + -1.75f));
  ExpectEntry(out.t, 3, 1, 2, kJ(2.0f));
  EXPECT_EQ(out.r.sa[1], kJ(0.1f + -1.75f));
}

TEST(MatricaYExamples, ThreeNodeNetworkRowOrder) {
  const Assembled out = AssembleMatricaY(ThreeNode());
  ASSERT_EQ(out.t.nz, 7);
  ExpectEntry(out.t, 1, 1, 1, kJ(-1.75f));
  ExpectEntry(out.t, 2, 2, 2, kJ(-2.5f));
  ExpectEntry(out.t, 3, 3, 3, kJ(-0.75f));
  ExpectEntry(out.t, 4, 1, 2, kJ(2.0f));
  ExpectEntry(out.t, 5, 2, 1, kJ(2.0f));
  ExpectEntry(out.t, 6, 2, 3, kJ(1.0f));
  ExpectEntry(out.t, 7, 3, 2, kJ(1.0f));
  // Row 2 comes in the order of columns 3, 1, as the row sort leaves it.
  EXPECT_EQ(out.r.ija, (std::vector<std::int32_t>{5, 6, 8, 9, 2, 3, 1, 2}));
  EXPECT_EQ(out.r.sa[4], kJ(2.0f));
  EXPECT_EQ(out.r.sa[5], kJ(1.0f));
  EXPECT_EQ(out.r.sa[6], kJ(2.0f));
  EXPECT_EQ(out.r.sa[7], kJ(1.0f));
}

TEST(MatricaYExamples, SinglePairInThreeNodes) {
  HostNetwork net;
  net.n = 3;
  net.Add(1, 2, kJ(0.5f), Complex{}, Complex{});
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 5);
  EXPECT_EQ(out.r.ija, (std::vector<std::int32_t>{5, 6, 7, 7, 2, 1}));
  EXPECT_EQ(out.r.sa[2], Complex{}); // node 3 untouched, still present
  EXPECT_EQ(out.r.sa[4], kJ(2.0f));
  EXPECT_EQ(out.r.sa[5], kJ(2.0f));
}

TEST(MatricaYExamples, IsolatedNodeKeepsItsShunts) {
  HostNetwork net = TwoNode();
  net.n = 3;
  net.AddShunt(3, 0.5f);
  net.AddShunt(3, 0.25f);
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 5);
  ExpectEntry(out.t, 3, 3, 3, kJ(0.75f));
  EXPECT_EQ(out.r.sa[2], kJ(0.75f));
  EXPECT_EQ(out.r.ija[2], out.r.ija[3]); // row 3 has no off-diagonal entries
}

// Keys in the pattern (high, low, high, low) come out of the key sort with
// permutation (2, 4, 3, 1): the pair of key 5 is oriented as branch 2, the
// pair of key 9 as branch 3, and every sum follows that order.
TEST(MatricaYExamples, SortedOrderFixesOrientationAndSums) {
  HostNetwork net;
  net.n = 3;
  net.Add(3, 2, kJ(0.5f), Complex{}, Complex{3.0f, 0.0f});    // key 9, node 2 gets YB = 3
  net.Add(2, 1, kJ(0.25f), Complex{1e8f, 0.0f}, Complex{});   // key 5, node 2 gets YA = 1e8
  net.Add(2, 3, kJ(2.0f), Complex{-1e8f, 0.0f}, Complex{});   // key 9, node 2 gets YA = -1e8
  net.Add(1, 2, kJ(1.0f), Complex{}, Complex{1.0f, 0.0f});    // key 5, node 2 gets YB = 1
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 7);
  // Sorted order 2, 4, 3, 1: ((1e8 + 1) - 1e8) + 3 = 3 in single precision;
  // the file order would give 1.
  float re2 = 0.0f;
  re2 = re2 + 1e8f;
  re2 = re2 + 1.0f;
  re2 = re2 + -1e8f;
  re2 = re2 + 3.0f;
  ASSERT_EQ(re2, 3.0f);
  EXPECT_EQ(out.t.a[1].re, re2);
  EXPECT_EQ(out.t.a[1].im, -4.0f - 1.0f - 0.5f - 2.0f);
  ExpectEntry(out.t, 4, 2, 1, kJ(4.0f + 1.0f));
  ExpectEntry(out.t, 5, 1, 2, kJ(4.0f + 1.0f));
  ExpectEntry(out.t, 6, 2, 3, kJ(0.5f + 2.0f));
  ExpectEntry(out.t, 7, 3, 2, kJ(0.5f + 2.0f));
}

TEST(MatricaYExamples, EndPointerIgnoresWhatTheHostArraysHeld) {
  const OutputArrays o = RunMatricaY(ThreeNode());
  ASSERT_EQ(o.nz, 7);
  EXPECT_EQ(o.ija[3], o.nz + 2);
  EXPECT_EQ(o.ija[8], orvek::test::kSentinel); // nothing written beyond NZ + 1
  EXPECT_EQ(o.irow[7], orvek::test::kSentinel);
  EXPECT_EQ(o.a[7], orvek::test::kSentinelValue);
}

TEST(MatricaYExamples, NoBranchStampedKeepsDiagonalSums) {
  HostNetwork net;
  net.n = 3;
  net.Add(1, 1, kJ(0.5f), kJ(0.25f), kJ(0.125f)); // a self-loop: ends only
  net.AddShunt(2, 1.5f);
  const Assembled out = AssembleMatricaY(net);
  ASSERT_EQ(out.t.nz, 3);
  ExpectEntry(out.t, 1, 1, 1, kJ(0.375f));
  ExpectEntry(out.t, 2, 2, 2, kJ(1.5f));
  ExpectEntry(out.t, 3, 3, 3, Complex{});
  EXPECT_EQ(out.r.ija, (std::vector<std::int32_t>{5, 5, 5, 5}));
}

// A branch whose two ends are the same node adds its end admittances only
// and neither creates nor merges into a pair, wherever it sorts.
TEST(MatricaYExamples, SelfLoopsAddEndAdmittancesOnly) {
  HostNetwork net = ThreeNode();
  net.Add(2, 2, kJ(0.5f), Complex{1.0f, 0.0f}, Complex{0.5f, 0.0f}); // key 8, between 5 and 9
  net.Add(2, 2, kJ(0.1f), Complex{0.25f, 0.0f}, Complex{0.0f, 0.0f});
  const Assembled loops = AssembleMatricaY(net);
  const Assembled plain = AssembleMatricaY(ThreeNode());
  ASSERT_EQ(loops.t.nz, 7);
  EXPECT_EQ(loops.t.irow, plain.t.irow);
  EXPECT_EQ(loops.t.jcol, plain.t.jcol);
  EXPECT_EQ(loops.r.ija, plain.r.ija);
  for (std::size_t k = 0; k < 7; ++k) {
    if (k == 1) continue;
    EXPECT_EQ(loops.t.a[k], plain.t.a[k]) << k;
  }
  // Node 2 in sorted order: branch 1 (key 5), the two loops (key 8), branch 2 (key 9).
  const Complex expected{((0.0f + 1.0f) + 0.5f) + 0.25f, -2.5f};
  EXPECT_EQ(loops.t.a[1], expected);
  EXPECT_EQ(loops.r.sa[1], expected);
}

TEST(MatricaYExamples, SpacerIsZeroAfterALargerCall) {
  // The three-node call assigns position 3 (a diagonal); the two-node call
  // that follows has its spacer there.
  (void)AssembleMatricaY(ThreeNode());
  const Assembled out = AssembleMatricaY(TwoNode());
  EXPECT_EQ(out.r.sa[2], Complex{});

  (void)RunMatYsa(ThreeNode());
  const OutputArrays o = RunMatYsa(TwoNode());
  EXPECT_EQ(OutputArrays::Value(o.sa, 2), Complex{});
}

TEST(MatricaYExamples, RepeatedCallsAgree) {
  const HostNetwork net = ThreeNode();
  const Assembled first = AssembleMatricaY(net);
  (void)AssembleMatricaY(TwoNode());
  (void)RunMatY(TwoNode());
  const Assembled second = AssembleMatricaY(net);
  ExpectSame(first.t, second.t);
  EXPECT_EQ(first.r.ija, second.r.ija);
  for (std::size_t k = 0; k < first.r.sa.size(); ++k) EXPECT_EQ(first.r.sa[k], second.r.sa[k]) << k;
}

TEST(MatYsaExamples, TwoNodeNetworkBothForms) {
  const OutputArrays o = RunMatYsa(TwoNode());
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, 4);
  ExpectEntry(t, 1, 1, 1, kJ(-1.75f));
  ExpectEntry(t, 2, 2, 2, kJ(-1.75f));
  ExpectEntry(t, 3, 1, 2, kJ(2.0f));
  ExpectEntry(t, 4, 2, 1, kJ(2.0f));
  EXPECT_EQ(o.row_indexed().ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
}

TEST(MatYPrekinExamples, OpenedBranchKeepsItsEnds) {
  const OutputArrays o = RunMatYPrekin(TwoNode(), {0});
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, 2);
  ExpectEntry(t, 1, 1, 1, kJ(0.25f));
  ExpectEntry(t, 2, 2, 2, kJ(0.25f));
}

TEST(MatYPrekinExamples, OtherStatusesActAsOpened) {
  for (const std::int32_t status : {2, -1, 0}) {
    const Triplets t = RunMatYPrekin(TwoNode(), {status}).triplets();
    ASSERT_EQ(t.nz, 2) << status;
    ExpectEntry(t, 1, 1, 1, kJ(0.25f));
  }
}

// Branch 1: 1-2, Z = j0.5 (y = -j2); branch 2: 2-1, Z = j0.25 (y = -j4);
// end admittances j0.25 and j0.125.
HostNetwork OpenedPair() {
  HostNetwork net;
  net.n = 2;
  net.Add(1, 2, kJ(0.5f), kJ(0.25f), kJ(0.125f));
  net.Add(2, 1, kJ(0.25f), kJ(0.25f), kJ(0.125f));
  return net;
}

TEST(MatYPrekinExamples, FirstOpenedSecondInService) {
  const Triplets t = RunMatYPrekin(OpenedPair(), {0, 1}).triplets();
  ASSERT_EQ(t.nz, 4);
  // Node 1: YA of branch 1, then YB + y of branch 2; node 2: YB of 1, YA + y of 2.
  ExpectEntry(t, 1, 1, 1, kJ(0.25f + (0.125f + -4.0f)));
  ExpectEntry(t, 2, 2, 2, kJ(0.125f + (0.25f + -4.0f)));
  // The pair is created by the branch in service, in its orientation.
  ExpectEntry(t, 3, 2, 1, kJ(4.0f));
  ExpectEntry(t, 4, 1, 2, kJ(4.0f));
}

TEST(MatYPrekinExamples, FirstInServiceSecondOpened) {
  const Triplets t = RunMatYPrekin(OpenedPair(), {1, 0}).triplets();
  ASSERT_EQ(t.nz, 4);
  ExpectEntry(t, 1, 1, 1, kJ((0.25f + -2.0f) + 0.125f));
  ExpectEntry(t, 2, 2, 2, kJ((0.125f + -2.0f) + 0.25f));
  ExpectEntry(t, 3, 1, 2, kJ(2.0f));
  ExpectEntry(t, 4, 2, 1, kJ(2.0f));
}

TEST(MatYPrekinExamples, OpenedBetweenTwoInServiceMergesIntoTheirPair) {
  HostNetwork net = OpenedPair();
  net.Add(1, 2, kJ(1.0f), Complex{}, Complex{}); // y = -j1
  const Triplets t = RunMatYPrekin(net, {1, 0, 1}).triplets();
  ASSERT_EQ(t.nz, 4);
  ExpectEntry(t, 3, 1, 2, kJ(2.0f + 1.0f));
  ExpectEntry(t, 4, 2, 1, kJ(2.0f + 1.0f));
}

TEST(MatYPrekinExamples, AllOpenedLeavesDiagonalsOnly) {
  const Triplets t = RunMatYPrekin(ThreeNode(), {0, 5}).triplets();
  ASSERT_EQ(t.nz, 3);
  ExpectEntry(t, 2, 2, 2, kJ(0.5f));
}

} // namespace
