// The solve kernels and the permutation: checks and their messages, the
// permutation in both directions, and factor-then-solve on random real and
// complex matrices against double-precision residuals for both paths.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sparse_test_util.hpp"

namespace orvek::test {
namespace {

using sparse::PermuteVector;
using sparse::SolveFactored;

struct Quiet {
  ErrorModule err;
  ErrorCapture cap{err};
};

// ---- Permutation ----------------------------------------------------------------

TEST(Permute, BothDirectionsAndTheVectorIsKept) {
  const std::vector<float> x = {10, 20, 30, 40, 50};
  std::vector<std::int32_t> p = {3, 5, 1, 2, 4};
  const auto original = p;
  Quiet q;
  std::vector<float> y(5);
  ASSERT_TRUE(PermuteVector<float>(q.err, 5, x, p, 1, y));
  EXPECT_EQ(y, (std::vector<float>{30, 50, 10, 20, 40}));
  EXPECT_EQ(p, original);
  ASSERT_TRUE(PermuteVector<float>(q.err, 5, x, p, 2, y));
  EXPECT_EQ(y, (std::vector<float>{30, 40, 10, 50, 20}));
  EXPECT_EQ(p, original);
  // In place, complex.
  std::vector<Complex> z = {{1, -1}, {2, -2}, {3, -3}, {4, -4}, {5, -5}};
  ASSERT_TRUE(PermuteVector<Complex>(q.err, 5, z, p, 1, z));
  EXPECT_EQ(z[0], (Complex{3, -3}));
  EXPECT_EQ(z[1], (Complex{5, -5}));
  EXPECT_EQ(z[4], (Complex{4, -4}));
  ASSERT_TRUE(PermuteVector<Complex>(q.err, 5, z, p, 2, z));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(z[i], (Complex{float(i + 1), -float(i + 1)})) << "round trip";
  EXPECT_EQ(q.err.last_code(), 0);
}

TEST(Permute, RandomRoundTrips) {
  std::mt19937 g(3);
  for (std::int32_t n : {2, 3, 17, 256}) {
    std::vector<std::int32_t> p(n);
    for (std::int32_t i = 0; i < n; ++i) p[i] = i + 1;
    std::shuffle(p.begin(), p.end(), g);
    std::vector<float> x(n), y(n);
    for (std::int32_t i = 0; i < n; ++i) x[i] = float(i * 7 + 1);
    Quiet q;
    ASSERT_TRUE(PermuteVector<float>(q.err, n, x, p, 1, y));
    for (std::int32_t i = 0; i < n; ++i) EXPECT_EQ(y[i], x[p[i] - 1]);
    ASSERT_TRUE(PermuteVector<float>(q.err, n, y, p, 2, y));
    EXPECT_EQ(y, x);
  }
}

TEST(Permute, RangeCheckReportsEveryEntry) {
  Quiet q;
  std::vector<std::int32_t> p = {1, 0, 4, 2};
  const auto original = p;
  std::vector<float> x = {1, 2, 3, 4}, y(4, -1.0f);
  EXPECT_FALSE(PermuteVector<float>(q.err, 4, x, p, 1, y));
  EXPECT_NE(Flatten(q.cap.text).find("IPERMU(2) = 0 is not allowed.  It must be between 1 and N = 4."), std::string::npos)
      << q.cap.text;
  EXPECT_EQ(q.err.last_code(), 3);
  EXPECT_EQ(q.err.last_routine(), "PERMU");
  EXPECT_EQ(p, original) << "marks are taken off after a failed check";
  // Order one needs no permutation: the vector is copied.
  std::vector<std::int32_t> one = {9};
  Quiet q1;
  EXPECT_TRUE(PermuteVector<float>(q1.err, 1, x, one, 1, y));
  EXPECT_EQ(y[0], 1.0f);
}

TEST(Permute, LengthAndPath) {
  Quiet q;
  std::vector<std::int32_t> p = {1, 2};
  std::vector<Complex> x(2), y(2);
  EXPECT_FALSE(PermuteVector<Complex>(q.err, 0, x, p, 3, y));
  EXPECT_NE(Flatten(q.cap.text).find("The length of the arrays X and XPERMU must be positive while N = 0 is given."),
            std::string::npos);
  EXPECT_EQ(q.err.last_message(), "IPATH must be equal to 1 or 2 while a value of 3 is given.");
  EXPECT_EQ(q.err.last_routine(), "L11ZG");
}

// ---- Solve checks ----------------------------------------------------------------

TEST(SolveChecks, CountsAndPathInOrder) {
  Quiet q;
  std::vector<float> none;
  std::vector<std::int32_t> inone;
  SolveFactored<float>(q.err, 0, 0, 0, none, inone, inone, inone, inone, none, 7, none);
  const std::string t = Flatten(q.cap.text);
  const auto a = t.find("1 from LFSXG.  The order of system of equations must be positive, while N = 0");
  const auto b = t.find("2 from LFSXG.  The number of nonzeros in FAC must be");
  const auto c = t.find("3 from LFSXG.  The number of nonzeros in L must be");
  ASSERT_NE(a, std::string::npos) << t;
  ASSERT_NE(b, std::string::npos) << t;
  ASSERT_NE(c, std::string::npos) << t;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_EQ(q.err.last_message(), "The path indicator must be equal to 1 or 2 while IPATH = 7 is given.");
}

TEST(SolveChecks, NoMultipliersRejected) {
  Quiet q;
  std::vector<float> fac = {2}, b = {4}, x = {-1};
  std::vector<std::int32_t> r = {1}, c = {1}, p = {1}, s = {1};
  SolveFactored<float>(q.err, 1, 1, 0, fac, r, c, p, s, b, 1, x);
  EXPECT_EQ(q.err.last_code(), 3);
  EXPECT_EQ(q.err.last_message(), "The number of nonzeros in L must be positive, while NL = 0 is given.");
  EXPECT_EQ(x[0], -1.0f) << "no solution after an error";
}

// Only the sums are tested: (1,1,3) fails them, (1,1,4) passes them and is
// rejected by the permutation's range check.
TEST(SolveChecks, PermutationSums) {
  // L = [1 0 0; 0.5 1 0; 0 0 1], U = I.
  std::vector<float> fac = {0.5f, 1, 1, 1}, b = {1, 2, 3}, x(3);
  std::vector<std::int32_t> r = {2, 3, 2, 1}, c = {1, 3, 2, 1}, good = {1, 2, 3};
  {
    Quiet q;
    std::vector<std::int32_t> p = {1, 1, 3}, s = good;
    SolveFactored<float>(q.err, 3, 4, 1, fac, r, c, p, s, b, 1, x);
    EXPECT_EQ(q.err.last_code(), 5);
    EXPECT_EQ(q.err.last_message(), "The array IPVT does not contain the integers from 1 to N.");
  }
  {
    Quiet q;
    std::vector<std::int32_t> p = good, s = {3, 3, 1};
    SolveFactored<float>(q.err, 3, 4, 1, fac, r, c, p, s, b, 2, x);
    EXPECT_EQ(q.err.last_code(), 6);
    EXPECT_EQ(q.err.last_message(), "The array JPVT does not contain the integers from 1 to N.");
  }
  {
    Quiet q;
    std::vector<std::int32_t> p = {1, 1, 4}, s = good;
    SolveFactored<float>(q.err, 3, 4, 1, fac, r, c, p, s, b, 1, x);
    EXPECT_EQ(q.err.last_code(), 3);
    EXPECT_EQ(q.err.last_routine(), "PERMU");
    EXPECT_EQ(q.err.last_message(), "IPERMU(3) = 4 is not allowed.  It must be between 1 and N = 3.");
    EXPECT_EQ(q.err.code_at(2), 3) << "the error reaches LFSXG's caller";
  }
  {
    // The sum is formed in single precision: 6 - 1 - (2^25 + 3) rounds to
    // -2^25, which -2^25 + 1 (rounded to -2^25) cancels. The vector passes
    // the sum test and the permutation's range check rejects it.
    Quiet q;
    std::vector<std::int32_t> p = {1, (1 << 25) + 3, -(1 << 25) + 1}, s = good;
    SolveFactored<float>(q.err, 3, 4, 1, fac, r, c, p, s, b, 1, x);
    EXPECT_EQ(q.err.last_code(), 3);
    EXPECT_EQ(q.err.last_routine(), "PERMU");
    EXPECT_NE(Flatten(q.cap.text).find("IPERMU(2) = 33554435 is not allowed."), std::string::npos);
    EXPECT_EQ(q.err.last_message(), "IPERMU(3) = -33554431 is not allowed.  It must be between 1 and N = 3.");
  }
  {
    Quiet q;
    std::vector<std::int32_t> p = good, s = good;
    ASSERT_TRUE(SolveFactored<float>(q.err, 3, 4, 1, fac, r, c, p, s, b, 1, x));
    EXPECT_EQ(x, (std::vector<float>{1, 1.5f, 3}));
  }
}

// From order 4097 on, the single-precision sum of a permutation can round
// to a remainder other than zero (6000 in ascending order leaves 783, in
// descending order -103): a permutation still passes.
TEST(SolveChecks, LargePermutationsPassTheSumTest) {
  const std::int32_t n = 6000;
  std::vector<float> fac(n), b(n), x(n);
  std::vector<std::int32_t> r(n), c(n), up(n), down(n);
  for (std::int32_t k = 0; k < n; ++k) {
    r[k] = c[k] = n - k; // U = diag(2) for rows N..1
    fac[k] = 2.0f;
    b[k] = float(k + 1);
    up[k] = k + 1;
    down[k] = n - k;
  }
  Quiet q;
  ASSERT_TRUE(SolveFactored<float>(q.err, n, n, 0, fac, r, c, up, down, b, 1, x, false)) << q.cap.text;
  for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(x[n - 1 - i], b[i] / 2.0f) << i;
}

// ---- Factor and solve ----------------------------------------------------------

struct Case {
  std::int32_t n;
  int per_row;
  Pattern pattern;
};

const Case kCases[] = {{1, 0, Pattern::kSymmetric},     {2, 1, Pattern::kZeroDiagonal}, {5, 2, Pattern::kSymmetric},
                       {30, 2, Pattern::kUnsymmetric},  {30, 2, Pattern::kZeroDiagonal},
                       {120, 2, Pattern::kSymmetric},   {200, 1, Pattern::kUnsymmetric},
                       {200, 1, Pattern::kZeroDiagonal}, {400, 2, Pattern::kSymmetric}};

template <class T> void FactorAndSolve(const Case &c, unsigned seed) {
  SCOPED_TRACE("n = " + std::to_string(c.n) + ", pattern " + std::to_string(int(c.pattern)) + ", seed " +
               std::to_string(seed));
  const auto m = RandomMatrix<T>(c.n, c.per_row, c.pattern, seed);
  Quiet q;
  FactorSet<T> f;
  // Room for fill beyond the default 3*NZ, so any random matrix fits.
  const std::int32_t cap = std::max(3 * m.nz(), c.n * c.n);
  f.iparam = {1, 3, 3, 0, 15 * c.n + 5 * cap, 0};
  f.rparam = {1.0E16f, 10.0f, 0.0f, 0, 0};
  f.nfac = cap;
  f.fac.resize(cap);
  f.irfac.resize(cap);
  f.jcfac.resize(cap);
  f.ipvt.resize(c.n);
  f.jpvt.resize(c.n);
  sparse::FactorTriplets<T>(q.err, {m.n, m.nz(), m.a, m.irow, m.jcol, f.iparam, f.rparam, f.nfac, f.nl, f.fac,
                                    f.irfac, f.jcfac, f.ipvt, f.jpvt});
  ASSERT_EQ(q.err.last_code(), 0) << q.cap.text;
  ExpectFactorLayout(f, m.n);
  EXPECT_LT(ProductError(m, f), 64.0);
  EXPECT_EQ(f.iparam[3], f.nfac) << "no dropping: the peak is the final count";
  const auto b = RandomVector<T>(c.n, seed + 100);
  for (const std::int32_t ipath : {1, 2}) {
    const auto x = Solve(f, m.n, b, ipath, q.err);
    ASSERT_EQ(q.err.last_code(), 0) << q.cap.text;
    EXPECT_LT(FactorResidualRatio(m, f, x, b, ipath), 16.0) << "ipath " << ipath;
    EXPECT_LT(ResidualRatio(m, x, b, ipath), (4.0 * c.n + 64.0) * std::max(1.0f, f.rparam[3])) << "ipath " << ipath;
  }
}

TEST(FactorAndSolve, RandomReal) {
  unsigned seed = 1;
  for (const auto &c : kCases) FactorAndSolve<float>(c, seed++);
}

TEST(FactorAndSolve, RandomComplex) {
  unsigned seed = 50;
  for (const auto &c : kCases) FactorAndSolve<Complex>(c, seed++);
}

// IPATH 2 of a complex matrix is the conjugate transpose: the solution does
// not satisfy the plain transpose.
TEST(FactorAndSolve, ComplexTransposeIsConjugated) {
  const auto m = RandomMatrix<Complex>(20, 2, Pattern::kUnsymmetric, 9);
  Quiet q;
  const auto f = Factor(m, q.err);
  ASSERT_EQ(q.err.last_code(), 0);
  const auto b = RandomVector<Complex>(20, 4);
  const auto x = Solve(f, 20, b, 2, q.err);
  EXPECT_LT(ResidualRatio(m, x, b, 2), 100.0);
  TripletMatrix<Complex> conj = m;
  for (auto &v : conj.a) v = cconj(v);
  EXPECT_GT(ResidualRatio(conj, x, b, 2), 1e4) << "conj(A)' x = b, so A' x differs";
}

TEST(FactorAndSolve, RightHandSideMayBeTheSolution) {
  const auto m = RandomMatrix<float>(50, 2, Pattern::kZeroDiagonal, 21);
  Quiet q;
  const auto f = Factor(m, q.err);
  ASSERT_EQ(q.err.last_code(), 0);
  const auto b = RandomVector<float>(50, 8);
  for (const std::int32_t ipath : {1, 2}) {
    const auto x = Solve(f, 50, b, ipath, q.err);
    std::vector<float> y = b;
    std::vector<std::int32_t> ipvt = f.ipvt, jpvt = f.jpvt;
    ASSERT_TRUE(SolveFactored<float>(q.err, 50, f.nfac, f.nl, f.fac, f.irfac, f.jcfac, ipvt, jpvt, y, ipath, y));
    EXPECT_EQ(y, x);
    EXPECT_EQ(ipvt, f.ipvt);
    EXPECT_EQ(jpvt, f.jpvt);
  }
}

// Without multipliers the solve uses U and both permutations; with the
// anti-diagonal [[0, 5], [4, 0]] that needs the interchange.
TEST(FactorAndSolve, NoMultipliersWithInterchanges) {
  TripletMatrix<float> m;
  m.n = 2;
  m.add(1, 2, 5);
  m.add(2, 1, 4);
  Quiet q;
  const auto f = Factor(m, q.err);
  ASSERT_EQ(f.nl, 0);
  const std::vector<float> b = {5, 12}, c = {8, 5};
  std::vector<float> x(2);
  std::vector<std::int32_t> ipvt = f.ipvt, jpvt = f.jpvt;
  // A x = b: 5*x2 = 5, 4*x1 = 12.
  ASSERT_TRUE(SolveFactored<float>(q.err, 2, f.nfac, f.nl, f.fac, f.irfac, f.jcfac, ipvt, jpvt, b, 1, x, false));
  EXPECT_EQ(x, (std::vector<float>{3, 1}));
  // A' x = c: 4*x2 = 8, 5*x1 = 5.
  ASSERT_TRUE(SolveFactored<float>(q.err, 2, f.nfac, f.nl, f.fac, f.irfac, f.jcfac, ipvt, jpvt, c, 2, x, false));
  EXPECT_EQ(x, (std::vector<float>{1, 2}));
}

} // namespace
} // namespace orvek::test
