// The factorization kernels: pivot choice and tie-breaks on hand-derived
// cases, the factor layout, defaults, every argument, structure and
// workspace error with its code and text, and the quality warnings.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sparse_test_util.hpp"

namespace orvek::test {
namespace {

using sparse::FactorTriplets;
using sparse::FactorWithWorkspace;

// A private module: printing captured, stops return to the caller.
struct Quiet {
  ErrorModule err;
  ErrorCapture cap{err};
};

TripletMatrix<float> Build(std::int32_t n, std::initializer_list<std::tuple<int, int, float>> entries) {
  TripletMatrix<float> m;
  m.n = n;
  for (const auto &[i, j, v] : entries) m.add(i, j, v);
  return m;
}

// Collects the (code, message) pairs of everything printed.
std::vector<std::string> PrintedHeads(const std::string &text) {
  std::vector<std::string> heads;
  const std::regex head(R"( \*\*\* (WARNING |TERMINAL) ERROR (\d+) from (\w+)\.)");
  for (std::sregex_iterator it(text.begin(), text.end(), head), end; it != end; ++it)
    heads.push_back((*it)[1].str() + (*it)[2].str() + " " + (*it)[3].str());
  return heads;
}

// ---- Pivot order ------------------------------------------------------------

// Pattern (values in brackets):
//   row 1: (1,1)[2] (1,2)[1]
//   row 2: (2,1)[1] (2,3)[3] (2,4)[1]
//   row 3: (3,2)[1] (3,3)[4] (3,4)[2]
//   row 4: (4,1)[1] (4,2)[3]
// Counts: rows 2,3,3,2; columns 3,3,2,2; no column singleton.
// Step 1 candidates: rows 1 and 4 (row bucket 2, rows first on equal
// levels), then column 3 (column bucket 2). Every entry of rows 1 and 4
// costs (2-1)*(3-1) = 2 in a column of 3 entries; column 3's entries cost
// (3-1)*(2-1) = 2 in a column of 2 entries, so they win on the column count;
// (3,3) is first in column 3's list (inserted last) and (2,3) only ties it.
// Pivot (3,3): IPVT = (3,2,1,4), JPVT = (3,2,1,4).
// Step 2: the old column 4 is left with one entry (row 2): a column
// singleton, pivot (2,2) after moving column 4 to 2: JPVT = (3,4,1,2).
// Step 3: rows 3 and 4 (bucket 2 in the order 3, 4), all four costs 1 in
// columns of 2; the first entry of row 3's list, old (1,2), now column 4,
// stays: JPVT = (3,4,2,1).
TEST(FactorPivotOrder, EqualCostGoesToTheColumnWithFewerEntries) {
  const auto m = Build(4, {{1, 1, 2}, {1, 2, 1}, {2, 1, 1}, {2, 3, 3}, {2, 4, 1}, {3, 2, 1}, {3, 3, 4},
                           {3, 4, 2}, {4, 1, 1}, {4, 2, 3}});
  Quiet q;
  const auto f = Factor(m, q.err);
  ASSERT_EQ(q.err.last_code(), 0) << q.cap.text;
  EXPECT_EQ(f.ipvt, (std::vector<std::int32_t>{3, 2, 1, 4}));
  EXPECT_EQ(f.jpvt, (std::vector<std::int32_t>{3, 4, 2, 1}));
  ExpectFactorLayout(f, m.n);
  EXPECT_LT(ProductError(m, f), 8.0);
  // One fill-in, at step 1: NFAC = NZ + 1, peak the same.
  EXPECT_EQ(f.nfac, m.nz() + 1);
  EXPECT_EQ(f.iparam[3], m.nz() + 1);
}

// Diagonal pivots of a diagonal matrix need no interchange; its factor set
// holds the diagonals for rows N..1.
TEST(FactorPivotOrder, DiagonalMatrixKeepsItsOrder) {
  const auto m = Build(4, {{3, 3, 3}, {1, 1, 1}, {4, 4, -4}, {2, 2, 2}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(f.nl, 0);
  EXPECT_EQ(f.nfac, 4);
  EXPECT_EQ(f.ipvt, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(f.jpvt, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<std::int32_t>(f.irfac.begin(), f.irfac.begin() + 4), (std::vector<std::int32_t>{4, 3, 2, 1}));
  EXPECT_EQ(std::vector<float>(f.fac.begin(), f.fac.begin() + 4), (std::vector<float>{-4, 3, 2, 1}));
}

TEST(FactorPivotOrder, OrderOneHasNoEliminationStep) {
  const auto m = Build(1, {{1, 1, -2.5f}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(f.nl, 0);
  EXPECT_EQ(f.nfac, 1);
  EXPECT_EQ(f.fac[0], -2.5f);
  EXPECT_EQ(f.irfac[0], 1);
  EXPECT_EQ(f.jcfac[0], 1);
  EXPECT_EQ(f.rparam[4], 2.5f);
  EXPECT_EQ(f.iparam[3], 1);
}

// The 2x2 matrix [[0, a], [b, 0]] needs a row or column interchange; the
// two column singletons are taken in bucket order (column 1 first).
TEST(FactorPivotOrder, AntiDiagonalInterchanges) {
  const auto m = Build(2, {{1, 2, 5}, {2, 1, 4}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(f.nl, 0);
  EXPECT_EQ(f.nfac, 2);
  EXPECT_EQ(f.ipvt, (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(f.jpvt, (std::vector<std::int32_t>{1, 2}));
  ExpectFactorLayout(f, 2);
  EXPECT_EQ(ProductError(m, f), 0.0);
}

// The threshold keeps a small entry from being a pivot even where it is the
// cheapest: in [[0.01, 1], [1, 1]] (all costs 1) row 1 is the first
// candidate and 0.01 < 1/10 fails, so (1,2) is taken.
TEST(FactorPivotOrder, ThresholdRejectsSmallEntries) {
  const auto m = Build(2, {{1, 1, 0.01f}, {1, 2, 1}, {2, 1, 1}, {2, 2, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(f.ipvt, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(f.jpvt, (std::vector<std::int32_t>{2, 1}));
  EXPECT_LT(ProductError(m, f), 2.0);
}

// The same matrix in another triplet order may pick other pivots among
// equal candidates; the factors stay valid either way.
TEST(FactorPivotOrder, TripletOrderOnlyChangesTies) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    auto m = RandomMatrix<float>(40, 2, Pattern::kSymmetric, 7);
    std::mt19937 g(seed);
    std::vector<std::size_t> order(m.a.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), g);
    TripletMatrix<float> r;
    r.n = m.n;
    for (auto k : order) r.add(m.irow[k], m.jcol[k], m.a[k]);
    Quiet q;
    const auto f = Factor(r, q.err);
    ExpectFactorLayout(f, r.n);
    EXPECT_LT(ProductError(r, f), 64.0);
  }
}

// ---- Parameters ---------------------------------------------------------------

TEST(FactorParameters, DefaultsReplaceWhateverWasPassed) {
  const auto m = Build(2, {{1, 1, 1}, {2, 2, 1}, {1, 2, 0.5f}});
  for (const bool complex_values : {false, true}) {
    Quiet q;
    std::vector<std::int32_t> iparam = {0, 7, -3, 99, 5, 42};
    std::vector<float> rparam = {-1.0f, 0.25f, 0.9f, 77.0f, 66.0f};
    std::int32_t nfac = 9, nl = -1;
    std::vector<std::int32_t> irfac(9), jcfac(9), ipvt(2), jpvt(2);
    if (complex_values) {
      std::vector<Complex> a = {{1, 0}, {1, 0}, {0.5f, 0}}, fac(9);
      FactorTriplets<Complex>(
          q.err, {2, 3, a, m.irow, m.jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt});
    } else {
      std::vector<float> fac(9);
      FactorTriplets<float>(
          q.err, {2, 3, m.a, m.irow, m.jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt});
    }
    EXPECT_EQ(iparam[0], 1);
    EXPECT_EQ(iparam[1], 3);
    EXPECT_EQ(iparam[2], 3);
    EXPECT_EQ(iparam[4], 0);
    EXPECT_EQ(iparam[5], 0);
    EXPECT_EQ(rparam[0], 1.0E16f);
    EXPECT_EQ(rparam[1], 10.0f);
    EXPECT_EQ(rparam[2], 0.0f);
    // Statistics of this matrix: 3 entries at most, |U| <= 1, pivots 1.
    EXPECT_EQ(iparam[3], 3);
    EXPECT_EQ(rparam[3], 1.0f);
    EXPECT_EQ(rparam[4], 1.0f);
    EXPECT_EQ(nfac, 3);
    EXPECT_EQ(nl, 0);
  }
}

TEST(FactorParameters, ComplexDefaultsClearTheStatistics) {
  std::vector<std::int32_t> ip = {0, 0, 0, 5, 0, 0}, iq = ip;
  std::vector<float> rp = {0, 0, 0, 2, 3}, rq = rp;
  sparse::SetSparseDefaults(ip, rp);
  sparse::SetSparseDefaultsComplex(iq, rq);
  EXPECT_EQ(ip[3], 5);
  EXPECT_EQ(rp[3], 2.0f);
  EXPECT_EQ(rp[4], 3.0f);
  EXPECT_EQ(iq[3], 0);
  EXPECT_EQ(rq[3], 0.0f);
  EXPECT_EQ(rq[4], 0.0f);
}

// Dropping: multipliers of magnitude at most RPARAM(3) are discarded.
TEST(FactorParameters, DropToleranceDiscardsSmallMultipliers) {
  auto m = RandomMatrix<float>(60, 3, Pattern::kSymmetric, 11);
  Quiet q;
  FactorSet<float> kept = Factor(m, q.err);
  FactorSet<float> f;
  f.iparam = {1, 3, 3, 0, 0, 0};
  f.rparam = {1.0E16f, 10.0f, 0.05f, 0, 0};
  f.nfac = 3 * m.nz();
  f.fac.resize(f.nfac);
  f.irfac.resize(f.nfac);
  f.jcfac.resize(f.nfac);
  f.ipvt.resize(m.n);
  f.jpvt.resize(m.n);
  FactorTriplets<float>(q.err, {m.n, m.nz(), m.a, m.irow, m.jcol, f.iparam, f.rparam, f.nfac, f.nl, f.fac,
                                f.irfac, f.jcfac, f.ipvt, f.jpvt});
  ASSERT_EQ(q.err.last_code(), 0) << q.cap.text;
  ExpectFactorLayout(f, m.n);
  EXPECT_LT(f.nl, kept.nl);
  for (std::int32_t k = 0; k < f.nl; ++k) EXPECT_GT(std::fabs(f.fac[k]), 0.05f);
}

// With RPARAM(3) = 0 a fill-in of value 0.0 is kept: [[1,1,0],[1,1,1],[0,1,1]]
// eliminated from (1,1) cancels (2,2) to exactly 0 and then needs a pivot.
TEST(FactorParameters, ZeroValuedEntriesAreKept) {
  const auto m = Build(3, {{1, 1, 1}, {1, 2, 2}, {2, 1, 1}, {2, 2, 2}, {2, 3, 1}, {3, 2, 1}, {3, 3, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  ExpectFactorLayout(f, 3);
  EXPECT_EQ(f.nfac, m.nz());
  EXPECT_LT(ProductError(m, f), 8.0);
}

// ---- Driver errors ----------------------------------------------------------

TEST(FactorErrors, OrderAndCountMustBePositive) {
  for (const bool complex_values : {false, true}) {
    Quiet q;
    std::vector<std::int32_t> iparam(6, 0), none;
    std::vector<float> rparam(5, 0.0f);
    std::int32_t nfac = 0, nl = 0;
    if (complex_values) {
      std::vector<Complex> nothing;
      FactorTriplets<Complex>(
          q.err, {0, -2, nothing, none, none, iparam, rparam, nfac, nl, nothing, none, none, none, none});
    } else {
      std::vector<float> nothing;
      FactorTriplets<float>(
          q.err, {0, -2, nothing, none, none, iparam, rparam, nfac, nl, nothing, none, none, none, none});
    }
    const std::string routine = complex_values ? "LFTZG" : "LFTXG";
    EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"TERMINAL6 " + routine, "TERMINAL7 " + routine}));
    EXPECT_NE(Flatten(q.cap.text).find(complex_values
                                  ? "The order of the matrix must be positive, while N = 0 is given."
                                  : "The order of system of equations must be positive, while N = 0 is given."),
              std::string::npos);
    EXPECT_EQ(q.err.last_message(), "The number of nonzeros must be positive, while NZ = -2 is given.");
    EXPECT_EQ(iparam[0], 1) << "the defaults are applied before the workspace checks";
  }
}

TEST(FactorErrors, WorkspaceBeyondTheLargestInteger) {
  Quiet q;
  std::vector<std::int32_t> iparam(6, 0), none;
  std::vector<float> rparam(5, 0.0f), nothing;
  std::int32_t nfac = 0, nl = 0;
  FactorTriplets<float>(q.err, {1000, 500000000, nothing, none, none, iparam, rparam, nfac, nl, nothing, none,
                                none, none, none});
  EXPECT_EQ(q.err.last_code(), 11);
  EXPECT_EQ(q.err.last_routine(), "LFTXG");
  EXPECT_EQ(q.err.last_message(), "The minimum amount of workspace 15*N+5*NZ = 2.500015E+09 exceeds the maximum "
                                  "integer IMACH(5) = 2.1474836E+09.");
}

TEST(FactorErrors, WorkspaceLimitBelowTheMinimum) {
  const auto m = Build(2, {{1, 1, 1}, {2, 2, 1}});
  Quiet q;
  FactorSet<Complex> f;
  f.iparam = {1, 3, 3, 0, 41, 0};
  f.rparam = {1e16f, 10, 0, 0, 0};
  std::vector<Complex> a = {{1, 0}, {1, 0}}, fac(6);
  std::vector<std::int32_t> irfac(6), jcfac(6), ipvt(2), jpvt(2);
  std::int32_t nfac = 6, nl = 0;
  FactorTriplets<Complex>(
      q.err, {2, 2, a, m.irow, m.jcol, f.iparam, f.rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt});
  EXPECT_EQ(q.err.last_code(), 8);
  EXPECT_EQ(q.err.last_message(), "The nonzero workspace limit in IPARAM(5) = 41 must exceed 15*N+6*NZ = 42.");
}

bool Refuse(std::size_t, std::size_t) { return false; }

TEST(FactorErrors, WorkspaceRequestFails) {
  const auto m = Build(2, {{1, 1, 1}, {2, 2, 1}});
  for (const std::int32_t limit : {0, 100}) {
    Quiet q;
    std::vector<std::int32_t> iparam = {1, 3, 3, 0, limit, 0};
    std::vector<float> rparam = {1e16f, 10, 0, 0, 0};
    std::vector<float> fac(6, -1.0f);
    std::vector<std::int32_t> irfac(6, -1), jcfac(6, -1), ipvt(2, -1), jpvt(2, -1);
    std::int32_t nfac = 6, nl = -7;
    FactorTriplets<float>(
        q.err, {2, 2, m.a, m.irow, m.jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt}, &Refuse);
    if (limit == 0) {
      EXPECT_EQ(q.err.last_code(), 9);
      EXPECT_EQ(q.err.last_message(),
                "The required storage cannot be allocated.  The workspace request failed based on MAXNZ = 3*NZ, "
                "where NZ=2, is given. Solutions may be to remove workstation tools or increase virtual memory.");
    } else {
      EXPECT_EQ(q.err.last_code(), 10);
      EXPECT_EQ(q.err.last_message(),
                "The required storage cannot be allocated.  The workspace request failed based on IPARAM(5) = 100. "
                "Solutions may be to remove workstation tools or increase virtual memory.");
    }
    EXPECT_EQ(nfac, 6);
    EXPECT_EQ(nl, -7);
    EXPECT_EQ(ipvt[0], -1);
  }
}

// A request whose slots cannot be addressed with 32-bit integers fails like
// a refused one, before anything is read.
TEST(FactorErrors, UnaddressableWorkspaceFails) {
  Quiet q;
  std::vector<std::int32_t> iparam(6, 0), none;
  std::vector<float> rparam(5, 0.0f), nothing;
  std::int32_t nfac = 0, nl = 0;
  FactorTriplets<float>(
      q.err, {1, 400000000, nothing, none, none, iparam, rparam, nfac, nl, nothing, none, none, none, none});
  EXPECT_EQ(q.err.last_code(), 9);
  EXPECT_NE(q.err.last_message().find("NZ=400000000"), std::string::npos);
}

// ---- Triplet checks -----------------------------------------------------------

TEST(FactorErrors, EveryOutOfRangeEntryIsReported) {
  const auto m = Build(3, {{1, 1, 1}, {0, 2, 1}, {4, 3, 1}, {2, 9, 1}, {3, 3, 1}, {-5, -1, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  const std::string &t = q.cap.text;
  const char *expected[] = {
      "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(2) = 0.",
      "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(3) = 4.",
      "IROW must satisfy 1 .LE. IROW(I) .LE. N, I = 1, ..., N, but IROW(6) = -5.",
      "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(4) = 9.",
      "JCOL must satisfy 1 .LE. JCOL(I) .LE. N, I = 1, ..., N, but JCOL(6) = -1.",
  };
  EXPECT_EQ(PrintedHeads(t), (std::vector<std::string>{"TERMINAL14 L2TXG", "TERMINAL14 L2TXG", "TERMINAL14 L2TXG",
                                                       "TERMINAL15 L2TXG", "TERMINAL15 L2TXG"}));
  const std::string flat = Flatten(t);
  for (const char *e : expected) EXPECT_NE(flat.find(e), std::string::npos) << e << "\n" << t;
  EXPECT_EQ(f.nl, -1) << "nothing is written";
  EXPECT_EQ(f.ipvt[0], -1);
  EXPECT_GE(q.cap.stops, 1);
}

TEST(FactorErrors, DuplicatesNameRowAndColumn) {
  const auto m = Build(3, {{1, 1, 1}, {2, 3, 1}, {2, 2, 1}, {3, 3, 1}, {2, 3, 5}, {3, 1, 1}, {3, 1, 2}});
  Quiet q;
  Factor(m, q.err);
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"TERMINAL16 L2TXG", "TERMINAL16 L2TXG"}));
  // Sorted by position, column by column: (3,1) first, then (2,3).
  const auto first = Flatten(q.cap.text).find("Two values of A are given for IROW = 3 and JCOL = 1.");
  const auto second = Flatten(q.cap.text).find("Two values of A are given for IROW = 2 and JCOL = 3.");
  ASSERT_NE(first, std::string::npos) << q.cap.text;
  ASSERT_NE(second, std::string::npos) << q.cap.text;
  EXPECT_LT(first, second);
}

// Duplicates among the valid entries are reported after the range errors;
// an entry out of range forms no position (3 in row 3 of column 1 would
// share its key with (1, 2)).
TEST(FactorErrors, DuplicatesBesideOutOfRangeEntries) {
  const auto m = Build(2, {{1, 1, 1}, {1, 1, 2}, {2, 2, 1}, {3, 1, 1}, {2, 1, 1}, {1, 2, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"TERMINAL14 L2TXG", "TERMINAL16 L2TXG"}));
  EXPECT_EQ(q.err.last_message(), "Two values of A are given for IROW = 1 and JCOL = 1.");
  EXPECT_EQ(f.ipvt[0], -1);
}

// A check loop lists 200 offences of one kind, then one message with the
// number of those it does not list, then the stop.
TEST(FactorErrors, FloodsAreBounded) {
  struct Flood {
    const char *name;
    TripletMatrix<float> m;
    std::string kind;    // the printed head of each message
    std::string closing; // the last message
  };
  std::vector<Flood> floods;
  {
    // Order 1000 with one entry: 999 empty rows and 999 empty columns.
    Flood f{"empty", Build(1000, {{1, 1, 1}}), "TERMINAL4 L2TXG", "799 more empty columns are not listed."};
    floods.push_back(f);
  }
  {
    Flood f{"range", Build(3, {}), "TERMINAL14 L2TXG", "50 more JCOL values out of range are not listed."};
    for (int k = 0; k < 250; ++k) f.m.add(4, 5, 1.0f);
    floods.push_back(f);
  }
  {
    Flood f{"duplicates", Build(2, {}), "TERMINAL16 L2TXG", "1 more positions given twice are not listed."};
    for (int k = 0; k < 202; ++k) f.m.add(1, 2, 1.0f);
    floods.push_back(f);
  }
  for (const Flood &flood : floods) {
    SCOPED_TRACE(flood.name);
    Quiet q;
    Factor(flood.m, q.err);
    const std::vector<std::string> heads = PrintedHeads(q.cap.text);
    ASSERT_FALSE(heads.empty());
    EXPECT_EQ(std::count(heads.begin(), heads.end(), flood.kind), 201);
    EXPECT_EQ(q.err.last_message(), flood.closing);
    EXPECT_LE(heads.size(), 402u);
  }
  // The closing message of the first kind, between the two lists.
  Quiet q;
  Factor(floods[0].m, q.err);
  const std::string flat = Flatten(q.cap.text);
  const auto rows = flat.find("799 more empty rows are not listed.");
  ASSERT_NE(rows, std::string::npos);
  EXPECT_EQ(flat.find("row number = 202"), std::string::npos);
  EXPECT_LT(flat.find("row number = 201"), rows);
  EXPECT_LT(rows, flat.find("column number = 2"));
}

// Orders too large for 32-bit position keys still find their duplicates.
TEST(FactorErrors, DuplicatesInAVeryLargeOrder) {
  const std::int32_t n = 50000;
  TripletMatrix<float> m;
  m.n = n;
  for (std::int32_t i = 1; i <= n; ++i) m.add(i, n + 1 - i, 1.0f);
  m.add(n, n - 3, 2.0f);
  m.add(n, 1, 3.0f);
  Quiet q;
  Factor(m, q.err);
  EXPECT_EQ(q.err.last_code(), 16);
  EXPECT_EQ(q.err.last_message(), "Two values of A are given for IROW = 50000 and JCOL = 1.");
}

TEST(FactorErrors, EmptyRowsAndColumns) {
  // Row 2 and columns 3 and 4 hold nothing.
  const auto m = Build(4, {{1, 1, 1}, {3, 2, 1}, {4, 1, 1}, {1, 2, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(PrintedHeads(q.cap.text),
            (std::vector<std::string>{"TERMINAL4 L2TXG", "TERMINAL5 L2TXG", "TERMINAL5 L2TXG"}));
  EXPECT_NE(Flatten(q.cap.text).find("An empty row has been found in the coefficient matrix: row number = 2"),
            std::string::npos);
  EXPECT_NE(Flatten(q.cap.text).find("column number = 3"), std::string::npos);
  EXPECT_NE(Flatten(q.cap.text).find("column number = 4"), std::string::npos);
  EXPECT_EQ(f.ipvt[0], -1);
}

// ---- Elimination findings -------------------------------------------------------

TEST(FactorFindings, ZeroPivotStops) {
  // Row 1 is all zeros: its first entry passes the threshold 0 >= 0/10.
  const auto m = Build(2, {{1, 1, 0}, {1, 2, 0}, {2, 1, 1}, {2, 2, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"TERMINAL23 L5TXG"}));
  EXPECT_EQ(q.err.last_message(), "Factorization stopped after 1 rows, because the value selected as pivot is within "
                                  "two orders of magnitude of causing underflow or the reciprocal causing overflow.");
  EXPECT_EQ(f.rparam[4], 0.0f);
  EXPECT_EQ(f.nl, -1) << "no factors after a terminal error";
}

TEST(FactorFindings, ZeroLastPivotStopsAtRowN) {
  const auto m = Build(2, {{1, 1, 1}, {2, 2, 0}});
  Quiet q;
  Factor(m, q.err);
  EXPECT_EQ(q.err.last_code(), 23);
  EXPECT_NE(q.err.last_message().find("stopped after 2 rows"), std::string::npos);
}

TEST(FactorFindings, StructurallySingularColumnStops) {
  // Columns 2 and 3 hold entries of row 3 only.
  const auto m = Build(3, {{1, 1, 1}, {2, 1, 1}, {3, 2, 1}, {3, 3, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(q.err.last_code(), 23);
  EXPECT_NE(q.err.last_message().find("stopped after 1 rows"), std::string::npos);
  EXPECT_EQ(f.rparam[4], 0.0f);
}

TEST(FactorFindings, StructurallySingularRowStops) {
  // Rows 1 and 2 hold entries of column 1 only; no column singleton.
  const auto m = Build(4, {{1, 1, 1}, {2, 1, 1}, {3, 2, 1}, {3, 3, 1}, {3, 4, 1}, {4, 2, 1}, {4, 3, 2}, {4, 4, 1}});
  Quiet q;
  Factor(m, q.err);
  EXPECT_EQ(q.err.last_code(), 23);
  EXPECT_NE(q.err.last_message().find("stopped after 1 rows"), std::string::npos);
}

// A NaN pivot is a zero pivot, also where it is a column singleton taken
// without the threshold test (first or last pivot, real or complex).
TEST(FactorFindings, NanPivotStops) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TripletMatrix<float> cases[] = {Build(2, {{1, 1, nan}, {2, 2, nan}}), Build(2, {{1, 1, 1}, {2, 2, nan}}),
                                        Build(2, {{1, 1, nan}, {1, 2, 1}, {2, 2, 1}})};
  const char *stopped[] = {"stopped after 1 rows", "stopped after 2 rows", "stopped after 1 rows"};
  for (std::size_t c = 0; c < std::size(cases); ++c) {
    SCOPED_TRACE(c);
    Quiet q;
    const auto f = Factor(cases[c], q.err);
    EXPECT_EQ(q.err.last_code(), 23);
    EXPECT_NE(q.err.last_message().find(stopped[c]), std::string::npos) << q.err.last_message();
    EXPECT_EQ(f.rparam[4], 0.0f);
    EXPECT_EQ(f.nl, -1) << "no factors";
    TripletMatrix<Complex> z;
    z.n = cases[c].n;
    for (std::int32_t k = 0; k < cases[c].nz(); ++k) z.add(cases[c].irow[k], cases[c].jcol[k], {cases[c].a[k], 0});
    Quiet qz;
    Factor(z, qz.err);
    EXPECT_EQ(qz.err.last_code(), 23);
  }
}

// A smallest pivot of 1e-25 lies between the two bounds: the warning is
// printed when the driver returns and the factors are copied out.
TEST(FactorFindings, NumericallySingularWarningKeepsTheFactors) {
  const auto m = Build(2, {{1, 1, 1}, {2, 2, 1e-25f}, {1, 2, 1}});
  Quiet q;
  const auto f = Factor(m, q.err);
  // Raised by the elimination, printed under the driver as it returns.
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"WARNING 1 LFTXG"}));
  EXPECT_EQ(q.cap.stops, 0);
  EXPECT_EQ(f.rparam[4], 1e-25f);
  EXPECT_EQ(f.nfac, 3);
  EXPECT_EQ(f.nl, 0);
  ExpectFactorLayout(f, 2);
  EXPECT_EQ(ProductError(m, f), 0.0);
}

TEST(FactorFindings, GrowthWarning) {
  // Columns only. Column 1 lists (1,1) = 0.1 first (inserted last); it
  // passes the threshold 1/10 and ties (2,1) on cost and column count, so it
  // is the pivot: the multiplier is 10 and U(2,2) = 1 - 1*10 = -9, growth 9.
  const auto m = Build(2, {{2, 1, 1}, {1, 1, 0.1f}, {1, 2, 1}, {2, 2, 1}});
  Quiet q;
  FactorSet<float> f;
  f.iparam = {1, 2, 3, 0, 0, 0};
  f.rparam = {5.0f, 10, 0, 0, 0};
  f.nfac = 12;
  f.fac.resize(12);
  f.irfac.resize(12);
  f.jcfac.resize(12);
  f.ipvt.resize(2);
  f.jpvt.resize(2);
  FactorTriplets<float>(q.err, {2, 4, m.a, m.irow, m.jcol, f.iparam, f.rparam, f.nfac, f.nl, f.fac, f.irfac,
                                f.jcfac, f.ipvt, f.jpvt});
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"WARNING 2 LFTXG"}));
  EXPECT_EQ(q.err.last_message(), "The growth factor, 9.0E+00, exceeds 5.0E+00 = RPARAM(1).");
  EXPECT_EQ(f.rparam[3], 9.0f);
  EXPECT_EQ(f.rparam[4], 0.1f);
  EXPECT_EQ(f.ipvt, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(f.nfac, 4) << "factors copied out after the warning";
  EXPECT_EQ(f.nl, 1);
  EXPECT_EQ(f.fac[0], 10.0f);
  ExpectFactorLayout(f, 2);
}

// ---- Workspace ----------------------------------------------------------------

// The 4-cycle 1-2-3-4-1 with diagonals: eliminating any node joins its two
// neighbours, two fill-ins; the remaining 3x3 is full.
TripletMatrix<float> Cycle4() {
  return Build(4, {{1, 1, 4}, {1, 2, 1}, {1, 4, 1}, {2, 1, 1}, {2, 2, 4}, {2, 3, 1}, {3, 2, 1}, {3, 3, 4},
                   {3, 4, 1}, {4, 1, 1}, {4, 3, 1}, {4, 4, 4}});
}

struct DirectResult {
  std::int32_t code;
  std::string message;
  std::int32_t nfac;
};

DirectResult DirectCall(const TripletMatrix<float> &m, std::int32_t lwk, std::int32_t liwk) {
  Quiet q;
  std::vector<std::int32_t> iparam(6, 0);
  std::vector<float> rparam(5, 0.0f);
  std::int32_t nfac = 3 * m.nz(), nl = 0;
  std::vector<float> fac(nfac), wk(lwk);
  std::vector<std::int32_t> irfac(nfac), jcfac(nfac), ipvt(m.n), jpvt(m.n), iwk(liwk);
  FactorWithWorkspace<float>(
      q.err, {m.n, m.nz(), m.a, m.irow, m.jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt}, wk,
      lwk, iwk, liwk);
  std::int32_t hold = -1;
  q.err.L15XG(0, hold);
  EXPECT_EQ(hold, 0) << "the direct call clears its mark";
  return {q.err.last_code(), q.err.last_message(), nfac};
}

TEST(FactorWorkspace, DirectCallUsesSlotOneLast) {
  const auto m = Cycle4();
  const std::int32_t liwk = 15 * 4 + 4 * 14;
  // Slots 2..13 hold the triplets, slot 14 the first fill-in, slot 1 the
  // second: 14 slots are exactly enough.
  const auto ok = DirectCall(m, 14, liwk);
  EXPECT_EQ(ok.code, 0) << ok.message;
  EXPECT_EQ(ok.nfac, 14);
  const auto short1 = DirectCall(m, 13, liwk);
  EXPECT_EQ(short1.code, 19);
  EXPECT_EQ(short1.message, "Factorization from row 1 to row 1 reached the workspace limit of MAXNZ = 13 based on "
                            "LWK = 13 and LIWK = 116, where MAXNZ = MIN0(LWK, (LIWK-15*N)/4). Set LWK and LIWK "
                            "larger as appropriate.");
}

TEST(FactorWorkspace, DirectCallChecksItsArrays) {
  const auto m = Cycle4();
  const auto r = DirectCall(m, 11, 15 * 4 + 4 * 12 - 1);
  EXPECT_EQ(r.code, 18);
  EXPECT_EQ(r.message, "The value of LIWK = 107 must be greater than 15*N+4*NZ = 108.");
  Quiet q;
  std::vector<std::int32_t> iparam(6, 0);
  std::vector<float> rparam(5, 0.0f);
  std::int32_t nfac = 36, nl = 0;
  std::vector<float> fac(36), wk(11);
  std::vector<std::int32_t> irfac(36), jcfac(36), ipvt(4), jpvt(4), iwk(108);
  FactorWithWorkspace<float>(
      q.err, {4, 12, m.a, m.irow, m.jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt}, wk, 11,
      iwk, 108);
  EXPECT_EQ(q.err.last_code(), 17);
  EXPECT_EQ(q.err.last_message(), "The value of LWK = 11 must be greater than NZ = 12.");
  EXPECT_EQ(iparam[0], 0) << "no defaults after a failed check";
}

TEST(FactorWorkspace, SecondLevelOrderAndCount) {
  Quiet q;
  std::vector<std::int32_t> iparam(6, 0), none;
  std::vector<Complex> nothing;
  std::vector<float> rparam(5, 0.0f);
  std::int32_t nfac = 0, nl = 0;
  FactorWithWorkspace<Complex>(
      q.err, {-1, 0, nothing, none, none, iparam, rparam, nfac, nl, nothing, none, none, none, none}, nothing,
      0, none, 0);
  EXPECT_EQ(PrintedHeads(q.cap.text), (std::vector<std::string>{"TERMINAL22 L2TZG", "TERMINAL12 L2TZG"}));
  EXPECT_NE(Flatten(q.cap.text).find("The order of system of equations must be positive while N = -1 is given."),
            std::string::npos);
  EXPECT_EQ(q.err.last_message(), "The number of nonzeros must be positive while NZ = 0 is given.");
}

// A random matrix of order 300 fills far beyond 3*NZ: the default limit
// stops it with code 20, naming 15*N+5*NZ (real) or 15*N+6*NZ (complex).
TEST(FactorWorkspace, DefaultLimitReached) {
  const auto m = RandomMatrix<float>(300, 3, Pattern::kUnsymmetric, 5);
  Quiet q;
  const auto f = Factor(m, q.err);
  EXPECT_EQ(q.err.last_code(), 20);
  EXPECT_EQ(q.err.last_routine(), "L2TXG");
  const std::regex text(R"(Factorization from row 1 to row (\d+) reached the default workspace limit based on N and )"
                        R"(MAXNZ = 3\*NZ\.  Please set IPARAM\(5\) larger than the default, which is )"
                        R"(15\*N\+5\*MAXNZ = (\d+)\.)");
  std::smatch hit;
  ASSERT_TRUE(std::regex_match(q.err.last_message(), hit, text)) << q.err.last_message();
  EXPECT_LT(std::stoi(hit[1]), 300);
  EXPECT_EQ(std::stoi(hit[2]), 15 * 300 + 5 * m.nz());
  EXPECT_EQ(f.nl, -1);

  const auto c = RandomMatrix<Complex>(300, 3, Pattern::kUnsymmetric, 5);
  Quiet qc;
  Factor(c, qc.err);
  EXPECT_EQ(qc.err.last_code(), 20);
  EXPECT_NE(qc.err.last_message().find("15*N+6*MAXNZ = " + std::to_string(15 * 300 + 6 * c.nz()) + "."),
            std::string::npos);

  // A limit set in IPARAM(5) gives code 21 instead; a larger one succeeds.
  for (const std::int32_t limit : {15 * 300 + 5 * m.nz() + 10, 15 * 300 + 5 * 60 * m.nz()}) {
    Quiet ql;
    FactorSet<float> g;
    g.iparam = {1, 3, 3, 0, limit, 0};
    g.rparam = {1e16f, 10, 0, 0, 0};
    g.nfac = 60 * m.nz();
    g.fac.resize(g.nfac);
    g.irfac.resize(g.nfac);
    g.jcfac.resize(g.nfac);
    g.ipvt.resize(300);
    g.jpvt.resize(300);
    FactorTriplets<float>(ql.err, {300, m.nz(), m.a, m.irow, m.jcol, g.iparam, g.rparam, g.nfac, g.nl, g.fac,
                                   g.irfac, g.jcfac, g.ipvt, g.jpvt});
    if (limit < 15 * 300 + 5 * 60 * m.nz()) {
      EXPECT_EQ(ql.err.last_code(), 21);
      EXPECT_NE(ql.err.last_message().find("based on IPARAM(5) = " + std::to_string(limit) + ". Set IPARAM(5) larger."),
                std::string::npos);
    } else {
      ASSERT_EQ(ql.err.last_code(), 0) << ql.err.last_message();
      ExpectFactorLayout(g, 300);
      EXPECT_GT(g.nfac, 3 * m.nz());
      EXPECT_EQ(g.iparam[3], g.nfac) << "no dropping: the peak is the final count";
      EXPECT_LT(ProductError(m, g), 4096.0);
    }
  }
}

TEST(FactorWorkspace, FactorCapacityTooSmall) {
  const auto m = Cycle4();
  Quiet q;
  const auto f = Factor(m, q.err, 13);
  EXPECT_EQ(q.err.last_code(), 23);
  EXPECT_EQ(q.err.last_routine(), "L2TXG");
  EXPECT_EQ(q.err.last_message(), "The value of NFAC = 13 is too small to store the factors. Set NFAC to at least  14.");
  EXPECT_EQ(f.nfac, 13);
}

} // namespace
} // namespace orvek::test
