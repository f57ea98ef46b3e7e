// The exported solver entry points LUR, LUC, BSR, BSC through the public
// header: defaults written back, the diagonal-only path, the warning case
// (factors of the matrix passed, always), the rejections of input beyond the
// capacities, and terminal errors in a child process with their exact text.
#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/child_process.hpp"
#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sparse_test_util.hpp"

namespace orvek::test {
namespace {

constexpr float kUnset = -123.0f;
constexpr std::int32_t kUnsetInt = -77;

// A complex host: split-complex arrays with the fixed leading dimensions.
struct ComplexHost {
  std::int32_t n = 0, nz = 0;
  std::vector<float> a = std::vector<float>(2 * kLdNonzero, 0.0f);
  std::vector<std::int32_t> irow, jcol;
  std::vector<std::int32_t> iparam = std::vector<std::int32_t>(6, kUnsetInt);
  std::vector<float> rparam = std::vector<float>(5, kUnset);
  std::int32_t nfac = kUnsetInt, nl = kUnsetInt;
  std::vector<float> fac = std::vector<float>(2 * kLdFactor, kUnset);
  std::vector<std::int32_t> irfac, jcfac, ipvt, jpvt;

  explicit ComplexHost(const TripletMatrix<Complex> &m) : n(m.n), nz(m.nz()), irow(m.irow), jcol(m.jcol) {
    for (std::int32_t k = 0; k < nz; ++k) {
      a[k] = m.a[k].re;
      a[kLdNonzero + k] = m.a[k].im;
    }
    irfac.assign(3 * static_cast<std::size_t>(std::max(nz, 1)), kUnsetInt);
    jcfac = irfac;
    ipvt.assign(static_cast<std::size_t>(std::max(n, 1)), kUnsetInt);
    jpvt = ipvt;
  }
  void factor() {
    LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
  }
  FactorSet<Complex> factors() const {
    FactorSet<Complex> f;
    f.nfac = nfac;
    f.nl = nl;
    for (std::int32_t k = 0; k < nfac; ++k) f.fac.push_back({fac[k], fac[kLdFactor + k]});
    f.irfac.assign(irfac.begin(), irfac.begin() + nfac);
    f.jcfac.assign(jcfac.begin(), jcfac.begin() + nfac);
    f.ipvt = ipvt;
    f.jpvt = jpvt;
    return f;
  }
  // BSC with B and X of leading dimension 1000; X starts as the sentinel.
  std::vector<float> solve(const std::vector<Complex> &rhs, std::int32_t ipath) const {
    std::vector<float> b(2 * kLdNode, 0.0f), x(2 * kLdNode, kUnset);
    for (std::size_t i = 0; i < rhs.size(); ++i) {
      b[i] = rhs[i].re;
      b[kLdNode + i] = rhs[i].im;
    }
    BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    return x;
  }
};

std::vector<Complex> Unsplit(const std::vector<float> &x, std::int32_t n) {
  std::vector<Complex> v;
  for (std::int32_t i = 0; i < n; ++i) v.push_back({x[i], x[kLdNode + i]});
  return v;
}

// Captures the process-wide module's printing and stops while it lives.
struct CaptureGlobal {
  ErrorCapture cap{errors()};
};

TEST(EntryPoints, OrderOneGoesByTheDiagonalPath) {
  std::int32_t n = 1, nz = 1, nfac = kUnsetInt, nl = kUnsetInt;
  float a = 4.0f, fac[3] = {kUnset, kUnset, kUnset};
  std::int32_t irow = 1, jcol = 1, irfac[3], jcfac[3], ipvt = 0, jpvt = 0;
  std::vector<std::int32_t> iparam = {5, 1, 1, 1, 1, 1};
  std::vector<float> rparam = {1, 1, 1, 1, 1};
  LUR(&n, &nz, &a, &irow, &jcol, iparam.data(), rparam.data(), &nfac, &nl, fac, irfac, jcfac, &ipvt, &jpvt);
  EXPECT_EQ(nl, 0);
  EXPECT_EQ(nfac, 1);
  EXPECT_EQ(fac[0], 4.0f);
  // Defaults written back whatever the host passed.
  EXPECT_EQ(iparam, (std::vector<std::int32_t>{1, 3, 3, 1, 0, 0}));
  EXPECT_EQ(rparam[0], 1.0E16f);
  EXPECT_EQ(rparam[1], 10.0f);
  EXPECT_EQ(rparam[2], 0.0f);
  EXPECT_EQ(rparam[4], 4.0f);
  float b = 3.0f, x[2] = {kUnset, kUnset};
  for (std::int32_t ipath : {1, 2}) {
    BSR(&n, &nfac, &nl, fac, irfac, jcfac, &ipvt, &jpvt, &b, &ipath, x);
    EXPECT_EQ(x[0], 3.0f / 4.0f);
    EXPECT_EQ(x[1], kUnset);
  }
}

// The diagonal path divides each B(k) by the diagonal of row k, exactly as
// the complex quotient does; IPATH 2 divides by its conjugate.
TEST(EntryPoints, ComplexDiagonal) {
  TripletMatrix<Complex> m;
  m.n = 3;
  const Complex d[3] = {{2, 1}, {0, -3}, {1.5f, 0.25f}};
  m.add(2, 2, d[1]);
  m.add(1, 1, d[0]);
  m.add(3, 3, d[2]);
  ComplexHost h(m);
  h.factor();
  ASSERT_EQ(h.nl, 0);
  ASSERT_EQ(h.nfac, 3);
  EXPECT_EQ(h.iparam[0], 1);
  EXPECT_EQ(h.iparam[3], 3);
  EXPECT_EQ(h.rparam[3], 1.0f) << "growth";
  const std::vector<Complex> b = {{1, 1}, {-2, 0.5f}, {0.1f, 7}};
  const auto x1 = Unsplit(h.solve(b, 1), 3);
  const auto x2 = Unsplit(h.solve(b, 2), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(x1[k], cdiv(b[k], d[k]));
    EXPECT_EQ(x2[k], cdiv(b[k], cconj(d[k])));
  }
}

// Factor sets without multipliers but with interchanges or more entries
// than N are solved right, and nothing beyond X(N) is written.
TEST(EntryPoints, DiagonalPathWithInterchangesAndTriangles) {
  // [[0, 5], [4, 0]] and the upper triangle [[2, 1, 0], [0, 3, 1], [0, 0, 4]]
  // (column singletons make it factor without multipliers, NFAC = 5).
  std::vector<TripletMatrix<Complex>> ms(2);
  ms[0].n = 2;
  ms[0].add(1, 2, {5, 1});
  ms[0].add(2, 1, {4, -2});
  ms[1].n = 3;
  ms[1].add(1, 1, {2, 0});
  ms[1].add(1, 2, {1, 1});
  ms[1].add(2, 2, {3, 0});
  ms[1].add(2, 3, {1, -1});
  ms[1].add(3, 3, {4, 2});
  for (const auto &m : ms) {
    ComplexHost h(m);
    h.factor();
    ASSERT_EQ(h.nl, 0);
    const auto b = RandomVector<Complex>(m.n, 3);
    for (std::int32_t ipath : {1, 2}) {
      const auto raw = h.solve(b, ipath);
      const auto x = Unsplit(raw, m.n);
      EXPECT_LT(ResidualRatio(m, x, b, ipath), 16.0) << "n " << m.n << " ipath " << ipath;
      for (std::int32_t i = m.n; i < kLdNode; ++i) {
        ASSERT_EQ(raw[i], kUnset) << i;
        ASSERT_EQ(raw[kLdNode + i], kUnset) << i;
      }
    }
    // The real twins.
    TripletMatrix<float> r;
    r.n = m.n;
    for (std::int32_t k = 0; k < m.nz(); ++k) r.add(m.irow[k], m.jcol[k], m.a[k].re + m.a[k].im);
    std::int32_t n = r.n, nz = r.nz(), nfac = 0, nl = 0;
    std::vector<float> fac(3 * nz);
    std::vector<std::int32_t> irfac(3 * nz), jcfac(3 * nz), ipvt(n), jpvt(n), iparam(6, 0);
    std::vector<float> rparam(5);
    LUR(&n, &nz, r.a.data(), r.irow.data(), r.jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
    ASSERT_EQ(nl, 0);
    EXPECT_EQ(nfac, m.nz());
    const auto br = RandomVector<float>(n, 5);
    for (std::int32_t ipath : {1, 2}) {
      std::vector<float> x(n + 4, kUnset);
      BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), br.data(), &ipath,
          x.data());
      for (int i = n; i < n + 4; ++i) EXPECT_EQ(x[i], kUnset);
      x.resize(n);
      EXPECT_LT(ResidualRatio(r, x, br, ipath), 16.0);
    }
  }
}

// The warning case hands the host the factors of the matrix it passed, even
// when an earlier call left other factors in the static storage.
TEST(EntryPoints, WarningCaseCopiesTheFactorsOut) {
  const auto big = RandomMatrix<Complex>(30, 2, Pattern::kSymmetric, 3);
  ComplexHost first(big);
  first.factor();
  ASSERT_GT(first.nfac, 30);
  TripletMatrix<Complex> m;
  m.n = 2;
  m.add(1, 1, {1, 0});
  m.add(1, 2, {0.5f, 0});
  m.add(2, 2, {0, 1e-25f});
  ComplexHost h(m);
  {
    CaptureGlobal g;
    h.factor();
    EXPECT_NE(Flatten(g.cap.text).find(" *** WARNING  ERROR 1 from LFTZG.  The coefficient matrix is numerically singular."),
              std::string::npos)
        << g.cap.text;
    EXPECT_EQ(g.cap.stops, 0);
  }
  EXPECT_EQ(h.nfac, 3);
  EXPECT_EQ(h.nl, 0);
  const auto f = h.factors();
  ExpectFactorLayout(f, 2);
  EXPECT_EQ(ProductError(m, f), 0.0);
  EXPECT_EQ(h.fac[3], kUnset) << "only NFAC entries are written";
  EXPECT_EQ(h.rparam[4], 1e-25f);
}

// ---- Rejections of input beyond the capacities ----------------------------------

TEST(EntryPoints, LucRejectsTooManyTriplets) {
  TripletMatrix<Complex> m;
  m.n = 1;
  m.add(1, 1, {1, 0});
  ComplexHost h(m);
  h.nz = kMaxNonzeros + 1;
  CaptureGlobal g;
  h.factor();
  EXPECT_NE(Flatten(g.cap.text).find("ERROR 1 from LUC.  NZ = 10001 must not exceed 10000."), std::string::npos)
      << g.cap.text;
  EXPECT_EQ(g.cap.stops, 1);
  EXPECT_EQ(h.nfac, kUnsetInt) << "nothing written";
  EXPECT_EQ(h.iparam[0], kUnsetInt);
  EXPECT_EQ(h.ipvt[0], kUnsetInt);
}

TEST(EntryPoints, LurRejectsCountsWhoseFactorCapacityWouldWrap) {
  std::int32_t n = 1, nz = 715827883, nfac = kUnsetInt, nl = kUnsetInt, one = 1, ipvt = kUnsetInt;
  float a = 1, fac = kUnset;
  std::vector<std::int32_t> iparam(6, kUnsetInt);
  std::vector<float> rparam(5, kUnset);
  {
    CaptureGlobal g;
    LUR(&n, &nz, &a, &one, &one, iparam.data(), rparam.data(), &nfac, &nl, &fac, &one, &one, &ipvt, &ipvt);
    EXPECT_NE(Flatten(g.cap.text).find("ERROR 1 from LUR.  NZ = 715827883 must not exceed 715827882."),
              std::string::npos)
        << g.cap.text;
    EXPECT_EQ(nfac, kUnsetInt);
    EXPECT_EQ(iparam[0], kUnsetInt);
  }
  // A count far below zero keeps the count check of the driver.
  nz = std::numeric_limits<std::int32_t>::min();
  {
    CaptureGlobal g;
    LUR(&n, &nz, &a, &one, &one, iparam.data(), rparam.data(), &nfac, &nl, &fac, &one, &one, &ipvt, &ipvt);
    EXPECT_NE(Flatten(g.cap.text).find("ERROR 7 from LFTXG.  The number of nonzeros must be positive, while NZ = "
                                       "-2147483648 is given."),
              std::string::npos)
        << g.cap.text;
    EXPECT_EQ(ipvt, kUnsetInt);
  }
}

TEST(EntryPoints, BscRejectsOrderAndFactorCountBeyondCapacity) {
  std::vector<float> fac(2 * kLdFactor, 1.0f), b(2 * kLdNode, 1.0f), x(2 * kLdNode, kUnset);
  std::vector<std::int32_t> irfac(kMaxFactorEntries + 1, 1), jcfac = irfac, ipvt(kMaxNodes + 1, 1), jpvt = ipvt;
  std::int32_t n = kMaxNodes + 1, nfac = kMaxFactorEntries + 1, nl = 1, ipath = 1;
  CaptureGlobal g;
  BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath, x.data());
  EXPECT_NE(Flatten(g.cap.text).find("ERROR 1 from BSC.  N = 1001 must not exceed 1000."), std::string::npos) << g.cap.text;
  EXPECT_NE(Flatten(g.cap.text).find("ERROR 2 from BSC.  NFAC = 30001 must not exceed 30000."), std::string::npos)
      << g.cap.text;
  EXPECT_EQ(x[0], kUnset);
  EXPECT_EQ(x[kLdNode - 1], kUnset);
}

TEST(EntryPoints, SolveRejectsFactorEntriesOutsideTheOrder) {
  // A valid factor set of order 2 (L(2,1) = 0.5, U = I) with one entry damaged.
  std::vector<float> fac = {0.5f, 1, 1}, b = {1, 1}, x = {kUnset, kUnset, kUnset};
  std::vector<std::int32_t> irfac = {2, 2, 1}, jcfac = {1, 2, 1}, ipvt = {1, 2}, jpvt = {1, 2};
  std::int32_t n = 2, nfac = 3, nl = 1, ipath = 1;
  {
    CaptureGlobal g;
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    EXPECT_EQ(g.cap.text, "") << "a sound factor set passes";
    EXPECT_EQ(x, (std::vector<float>{1, 0.5f, kUnset}));
  }
  x = {kUnset, kUnset, kUnset};
  irfac[1] = 3;
  {
    CaptureGlobal g;
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    EXPECT_NE(Flatten(g.cap.text).find("ERROR 3 from BSR.  IRFAC(2) = 3 must lie between 1 and N = 2."), std::string::npos)
        << g.cap.text;
    EXPECT_EQ(x[0], kUnset);
  }
  irfac[1] = 2;
  jcfac[2] = 0;
  nl = 4;
  {
    CaptureGlobal g;
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    EXPECT_NE(Flatten(g.cap.text).find("ERROR 2 from BSR.  NL = 4 must not exceed NFAC = 3."), std::string::npos);
    EXPECT_NE(Flatten(g.cap.text).find("ERROR 4 from BSR.  JCFAC(3) = 0 must lie between 1 and N = 2."), std::string::npos);
    EXPECT_EQ(x[0], kUnset);
  }
}

// B and X may be the same host array.
TEST(EntryPoints, SolutionOverTheRightHandSide) {
  const auto m = RandomMatrix<Complex>(25, 2, Pattern::kUnsymmetric, 17);
  ComplexHost h(m);
  h.factor();
  const auto rhs = RandomVector<Complex>(25, 2);
  for (std::int32_t ipath : {1, 2}) {
    const auto x = h.solve(rhs, ipath);
    std::vector<float> bx(2 * kLdNode, 0.0f);
    for (int i = 0; i < 25; ++i) {
      bx[i] = rhs[i].re;
      bx[kLdNode + i] = rhs[i].im;
    }
    BSC(&h.n, &h.nfac, &h.nl, h.fac.data(), h.irfac.data(), h.jcfac.data(), h.ipvt.data(), h.jpvt.data(), bx.data(),
        &ipath, bx.data());
    for (int i = 0; i < 25; ++i) {
      EXPECT_EQ(bx[i], x[i]);
      EXPECT_EQ(bx[kLdNode + i], x[kLdNode + i]);
    }
  }
}

// ---- Terminal errors stop the process with their exact text -----------------------

TEST(EntryPoints, DuplicateStopsWithTraceback) {
  const auto result = RunInChild([] {
    std::int32_t n = 2, nz = 3, nfac = 0, nl = 0;
    std::vector<float> a(2 * kLdNonzero, 1.0f), fac(2 * kLdFactor);
    std::vector<std::int32_t> irow = {1, 2, 2}, jcol = {1, 1, 1}, irfac(9), jcfac(9), ipvt(2), jpvt(2), iparam(6);
    std::vector<float> rparam(5);
    LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
    std::printf("returned\n");
  });
  if (!result.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(result.exit_status, 1);
  // The user level shows what earlier calls of this process left there.
  const std::string output = std::regex_replace(result.output, std::regex("\n     USER +-?\\d+ +-?\\d+\n"),
                                                "\n     USER                                 0           0\n");
  EXPECT_EQ(output, "\n"
                           " *** TERMINAL ERROR 16 from L2TZG.  Two values of A are given for IROW = 2 and\n"
                           " ***          JCOL = 1.\n"
                           "     Here is a traceback of subprogram calls in reverse order:\n"
                           "     Routine name                    Error type  Error code\n"
                           "     ------------                    ----------  ----------\n"
                           "     L2TZG                                5          16    (Called internally)\n"
                           "     LFTZG                                0           0\n"
                           "     USER                                 0           0\n"
                           "Stop - Program terminated.\n");
}

TEST(EntryPoints, ZeroPivotStops) {
  const auto result = RunInChild([] {
    std::int32_t n = 2, nz = 2, nfac = 0, nl = 0;
    std::vector<float> a = {1, 0}, fac(6);
    std::vector<std::int32_t> irow = {1, 2}, jcol = {1, 2}, irfac(6), jcfac(6), ipvt(2), jpvt(2), iparam(6);
    std::vector<float> rparam(5);
    LUR(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
    std::printf("returned\n");
  });
  if (!result.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output.rfind("\n *** TERMINAL ERROR 23 from L5TXG.  Factorization stopped after 2 rows,", 0), 0u)
      << result.output;
  EXPECT_EQ(result.output.find("returned"), std::string::npos);
  EXPECT_NE(result.output.find("     L5TXG                                5          23    (Called internally)\n"
                               "     L2TXG                                0           0    (Called internally)\n"
                               "     LFTXG                                0           0\n"),
            std::string::npos)
      << result.output;
}

TEST(EntryPoints, NoMultipliersRejectedByTheSolveOnly) {
  // NL = 0 goes by the diagonal path of BSR, while LFSXG itself refuses it.
  std::int32_t n = 1, nfac = 1, nl = 0, ipath = 1;
  float fac = 2, b = 1, x = 0;
  std::int32_t ir = 1, jc = 1, p = 1, q = 1;
  CaptureGlobal g;
  BSR(&n, &nfac, &nl, &fac, &ir, &jc, &p, &q, &b, &ipath, &x);
  EXPECT_EQ(g.cap.text, "");
  EXPECT_EQ(x, 0.5f);
}

} // namespace
} // namespace orvek::test
