// The shared machinery on its own: the branch key, the branch order and its
// merge flag, seeding, the complex and the real stamp (node limit, merge,
// self-loop), the pair count, the row sort and the row-indexed conversion
// (layout, restoration of the accumulator, spacer).
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "assembly/accumulator.hpp"
#include "support/error_module.hpp"

namespace {

using orvek::Complex;
using orvek::ErrorModule;
using namespace orvek::assembly;

struct ComplexList {
  std::vector<std::int32_t> irow = std::vector<std::int32_t>(64, -1);
  std::vector<std::int32_t> jcol = std::vector<std::int32_t>(64, -1);
  std::vector<Complex> v = std::vector<Complex>(64, Complex{-1.0f, -1.0f});
  TripletList<Complex> list() { return {irow, jcol, v, 0}; }
};

struct RealList {
  std::vector<std::int32_t> irow = std::vector<std::int32_t>(64, -1);
  std::vector<std::int32_t> jcol = std::vector<std::int32_t>(64, -1);
  std::vector<float> v = std::vector<float>(64, -1.0f);
  TripletList<float> list() { return {irow, jcol, v, 0}; }
};

TEST(BranchKey, IndependentOfOrientation) {
  EXPECT_EQ(BranchKey(10, 3, 7), 37);
  EXPECT_EQ(BranchKey(10, 7, 3), 37);
  EXPECT_EQ(BranchKey(3, 1, 2), 5);
  EXPECT_EQ(BranchKey(3, 2, 3), 9);
}

TEST(BranchOrder, SortsKeysCarryingBranchNumbers) {
  ErrorModule err;
  // Keys 9, 5, 9, 5 (the pattern 2, 1, 2, 1 of the key sort): places 2, 4, 3, 1.
  const std::vector<std::int32_t> first{3, 2, 2, 1}, second{2, 1, 3, 2};
  std::vector<std::int32_t> perm(4), key(4), skey(4);
  OrderBranches(err, 3, 4, first, second, {perm, key, skey});
  EXPECT_EQ(key, (std::vector<std::int32_t>{9, 5, 9, 5}));
  EXPECT_EQ(skey, (std::vector<std::int32_t>{5, 5, 9, 9}));
  EXPECT_EQ(perm, (std::vector<std::int32_t>{2, 4, 3, 1}));
  EXPECT_FALSE(MergesWithPrevious(skey, 0));
  EXPECT_TRUE(MergesWithPrevious(skey, 1));
  EXPECT_FALSE(MergesWithPrevious(skey, 2));
  EXPECT_TRUE(MergesWithPrevious(skey, 3));
  EXPECT_EQ(CountNodePairs(skey, perm, 4, first, second), 2);
  // With branches 2 and 4 opened, key 5 has no pair.
  EXPECT_EQ(CountNodePairs(skey, perm, 4, first, second, std::vector<std::int32_t>{1, 0, 1, 3}), 1);
}

TEST(BranchOrder, NoBranchesReportsTheLengthError) {
  ErrorModule err;
  err.set_print(orvek::kTerminal, false);
  err.set_stop(orvek::kTerminal, false);
  std::vector<std::int32_t> perm(1, -3), key(1, -3), skey(1, -3);
  OrderBranches(err, 3, 0, {}, {}, {perm, key, skey});
  EXPECT_EQ(err.last_code(), 1);
  EXPECT_EQ(err.last_routine(), "SVIGP");
  EXPECT_EQ(perm[0], -3);
  EXPECT_EQ(CountNodePairs(skey, perm, 0, {}, {}), 0);
}

TEST(StampBranch, CreatesThenMergesPairs) {
  ComplexList s;
  TripletList<Complex> acc = s.list();
  SeedDiagonal(acc, 3);
  EXPECT_EQ(acc.nz, 3);
  for (std::int32_t j = 1; j <= 3; ++j) {
    EXPECT_EQ(s.irow[static_cast<std::size_t>(j - 1)], j);
    EXPECT_EQ(s.v[static_cast<std::size_t>(j - 1)], Complex{});
  }
  StampBranch(1, 2, acc, {1, 0}, {2, 0}, {3, 0}, {4, 0}, false);
  StampBranch(2, 1, acc, {10, 0}, {20, 0}, {30, 0}, {40, 0}, true); // into the last pair as it stands
  StampBranch(3, 2, acc, {0, 1}, {0, 2}, {0, 3}, {0, 4}, false);
  ASSERT_EQ(acc.nz, 7);
  EXPECT_EQ(s.v[0], (Complex{1 + 20, 0}));
  EXPECT_EQ(s.v[1], (Complex{2 + 10, 2}));
  EXPECT_EQ(s.v[2], (Complex{0, 1}));
  EXPECT_EQ(s.irow[3], 1);
  EXPECT_EQ(s.jcol[3], 2);
  EXPECT_EQ(s.v[3], (Complex{3 + 30, 0}));
  EXPECT_EQ(s.v[4], (Complex{4 + 40, 0}));
  EXPECT_EQ(s.irow[5], 3);
  EXPECT_EQ(s.jcol[5], 2);
  EXPECT_EQ(s.irow[6], 2);
  EXPECT_EQ(s.jcol[6], 3);
  EXPECT_EQ(s.v[7].re, -1.0f); // nothing beyond NZ
}

TEST(StampBranch, SelfLoopAddsDiagonalTermsOnly) {
  ComplexList s;
  TripletList<Complex> acc = s.list();
  SeedDiagonal(acc, 2);
  StampBranch(2, 2, acc, {1, 0}, {2, 0}, {5, 0}, {6, 0}, false);
  StampBranch(2, 2, acc, {1, 0}, {2, 0}, {5, 0}, {6, 0}, true);
  EXPECT_EQ(acc.nz, 2);
  EXPECT_EQ(s.v[1], (Complex{6, 0}));
  StampPiBranch(1, 1, acc, {0, 0.5f}, {0, 0.25f}, {0, -8}, false);
  EXPECT_EQ(s.v[0], (Complex{0, 0.75f}));
  EXPECT_EQ(acc.nz, 2);
}

TEST(StampBranch, PiBranchTerms) {
  ComplexList s;
  TripletList<Complex> acc = s.list();
  SeedDiagonal(acc, 2);
  StampPiBranch(1, 2, acc, {0, 0.25f}, {0, 0.5f}, {1, -2}, false);
  EXPECT_EQ(s.v[0], (Complex{1, -1.75f}));
  EXPECT_EQ(s.v[1], (Complex{1, -1.5f}));
  EXPECT_EQ(s.v[2], (Complex{-1, 2}));
  EXPECT_EQ(s.v[3], (Complex{-1, 2}));
  StampBranchEnds(2, 1, acc, {0, 1}, {0, 2});
  EXPECT_EQ(s.v[1], (Complex{1, -0.5f}));
  EXPECT_EQ(s.v[0], (Complex{1, 0.25f}));
  EXPECT_EQ(acc.nz, 4);
}

// N = 3, L = 2: branch 1-2 with g = 10 and branch 2-3 with g = 5 give
// (1,1) = 10, (2,2) = 15, (1,2) = (2,1) = -10; node 3 is left out.
TEST(StampBranchReal, NodeLimitLeavesOutEndsAbove) {
  RealList s;
  TripletList<float> acc = s.list();
  SeedDiagonal(acc, 2);
  StampBranchReal(2, 1, 2, acc, 10, 10, -10, -10, false);
  StampBranchReal(2, 2, 3, acc, 5, 5, -5, -5, false);
  ASSERT_EQ(acc.nz, 4);
  EXPECT_EQ(s.v[0], 10.0f);
  EXPECT_EQ(s.v[1], 15.0f);
  EXPECT_EQ(s.v[2], -10.0f);
  EXPECT_EQ(s.v[3], -10.0f);
  EXPECT_EQ(s.v[4], -1.0f);

  RealList t;
  TripletList<float> one = t.list();
  SeedDiagonal(one, 1);
  StampBranchReal(1, 1, 2, one, 10, 10, -10, -10, false);
  StampBranchReal(1, 2, 3, one, 5, 5, -5, -5, false);
  EXPECT_EQ(one.nz, 1);
  EXPECT_EQ(t.v[0], 10.0f);
  EXPECT_EQ(t.v[1], -1.0f);
}

TEST(StampBranchReal, ParallelBranchesMerge) {
  RealList s;
  TripletList<float> acc = s.list();
  SeedDiagonal(acc, 2);
  StampBranchReal(2, 1, 2, acc, 5, 5, -5, -5, false);
  StampBranchReal(2, 2, 1, acc, 5, 5, -5, -5, true);
  ASSERT_EQ(acc.nz, 4);
  EXPECT_EQ(s.v[0], 10.0f);
  EXPECT_EQ(s.v[2], -10.0f);
  EXPECT_EQ(s.irow[2], 1);
  EXPECT_EQ(s.jcol[2], 2);
}

// The three-node network's accumulator: diagonals, (1,2), (2,1), (2,3), (3,2).
struct Accumulated {
  std::vector<std::int32_t> irow{1, 2, 3, 1, 2, 2, 3};
  std::vector<std::int32_t> jcol{1, 2, 3, 2, 1, 3, 2};
  std::vector<Complex> v{{1, 0}, {2, 0}, {3, 0}, {12, 0}, {21, 0}, {23, 0}, {32, 0}};
};

struct ConversionStorage {
  std::vector<std::int32_t> si = std::vector<std::int32_t>(16), sj = std::vector<std::int32_t>(16);
  std::vector<Complex> sv = std::vector<Complex>(16);
  std::vector<std::int32_t> pp = std::vector<std::int32_t>(16), pj = std::vector<std::int32_t>(16);
  std::vector<Complex> pv = std::vector<Complex>(16);
  std::vector<Complex> s = std::vector<Complex>(16, Complex{7, 7});
  RowIndexedWork<Complex> work() { return {si, sj, sv, {pp, pj, pv}, s}; }
};

TEST(SortTripletsByRow, RowsAscendingEntriesMovedAlong) {
  ErrorModule err;
  Accumulated a;
  std::vector<std::int32_t> perm(7), cols(7);
  std::vector<Complex> vals(7);
  SortTripletsByRow<Complex>(err, a.irow, a.jcol, a.v, 7, {perm, cols, vals});
  EXPECT_EQ(a.irow, (std::vector<std::int32_t>{1, 1, 2, 2, 2, 3, 3}));
  // Each entry kept its own column and value. Traced through the key sort:
  // former positions 1, 4, 6, 2, 5, 3, 7, so row 2 comes as columns 3, 2, 1.
  for (std::size_t k = 0; k < 7; ++k) {
    const float expected = a.irow[k] == a.jcol[k] ? float(a.irow[k]) : float(10 * a.irow[k] + a.jcol[k]);
    EXPECT_EQ(a.v[k].re, expected) << k;
  }
  EXPECT_EQ(a.jcol, (std::vector<std::int32_t>{1, 2, 3, 2, 1, 3, 2}));
  EXPECT_EQ(perm, (std::vector<std::int32_t>{1, 4, 6, 2, 5, 3, 7}));
}

TEST(ConvertToRowIndexed, LayoutAndRestoredAccumulator) {
  ErrorModule err;
  Accumulated a;
  const Accumulated before;
  ConversionStorage st;
  std::vector<std::int32_t> ija(8, -5);
  TripletList<Complex> acc{a.irow, a.jcol, a.v, 7};
  ConvertToRowIndexed<Complex>(err, 3, acc, st.work(), ija);
  EXPECT_EQ(ija, (std::vector<std::int32_t>{5, 6, 8, 9, 2, 3, 1, 2}));
  const std::vector<float> s_re{1, 2, 3, 0, 12, 23, 21, 32};
  for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(st.s[k].re, s_re[k]) << k;
  EXPECT_EQ(st.s[3], Complex{}); // the spacer, whatever it held
  EXPECT_EQ(acc.nz, 7);
  EXPECT_EQ(a.irow, before.irow);
  EXPECT_EQ(a.jcol, before.jcol);
  for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(a.v[k], before.v[k]);
}

TEST(ConvertToRowIndexed, SinglePair) {
  ErrorModule err;
  std::vector<std::int32_t> irow{1, 2, 3, 1, 2}, jcol{1, 2, 3, 2, 1};
  std::vector<Complex> v{{1, 0}, {2, 0}, {3, 0}, {12, 0}, {21, 0}};
  ConversionStorage st;
  std::vector<std::int32_t> ija(6, -5);
  TripletList<Complex> acc{irow, jcol, v, 5};
  ConvertToRowIndexed<Complex>(err, 3, acc, st.work(), ija);
  EXPECT_EQ(ija, (std::vector<std::int32_t>{5, 6, 7, 7, 2, 1}));
  EXPECT_EQ(st.s[4].re, 12.0f);
  EXPECT_EQ(st.s[5].re, 21.0f);
}

TEST(ConvertToRowIndexed, RealValues) {
  ErrorModule err;
  std::vector<std::int32_t> irow{1, 2, 1, 2}, jcol{1, 2, 2, 1};
  std::vector<float> v{1, 2, 12, 21};
  std::vector<std::int32_t> si(4), sj(4), pp(4), pj(4), ija(5);
  std::vector<float> sv(4), pv(4), s(5, 9.0f);
  TripletList<float> acc{irow, jcol, v, 4};
  ConvertToRowIndexed<float>(err, 2, acc, {si, sj, sv, {pp, pj, pv}, s}, ija);
  EXPECT_EQ(ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
  EXPECT_EQ(s, (std::vector<float>{1, 2, 0, 12, 21}));
}

} // namespace
