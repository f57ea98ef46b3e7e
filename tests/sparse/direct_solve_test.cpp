// The direct road of BSC and BSR (right-hand side gathered, solution
// scattered straight into the host's arrays) against the kernel's marked
// road (copies, in-place cycle permutation): bit for bit on random factor
// sets of both paths, with X the same array as B, and on damaged factor sets
// whose permutations are still valid (a multiplier in its own row's column,
// a U group without its diagonal), where both roads must keep the same
// arithmetic; and the fallback to the marked road for a vector that passes
// the sum test without being a permutation.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "common/error_capture.hpp"
#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sparse_test_util.hpp"

namespace orvek::test {
namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool SameBits(Complex a, Complex b) { return SameBits(a.re, b.re) && SameBits(a.im, b.im); }

// BSC with a factor set held as kernel vectors; X written over B when
// in_place is set.
std::vector<Complex> CallBsc(const FactorSet<Complex> &f, std::int32_t n, const std::vector<Complex> &b,
                             std::int32_t ipath, bool in_place) {
  std::vector<float> fac(2 * kLdFactor), bb(2 * kLdNode), x(2 * kLdNode);
  for (std::int32_t k = 0; k < f.nfac; ++k) {
    fac[k] = f.fac[k].re;
    fac[kLdFactor + k] = f.fac[k].im;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    bb[i] = b[i].re;
    bb[kLdNode + i] = b[i].im;
  }
  float *out = in_place ? bb.data() : x.data();
  BSC(&n, &f.nfac, &f.nl, fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data(), bb.data(),
      &ipath, out);
  std::vector<Complex> r(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) r[i] = {out[i], out[kLdNode + i]};
  return r;
}

std::vector<float> CallBsr(const FactorSet<float> &f, std::int32_t n, const std::vector<float> &b,
                           std::int32_t ipath, bool in_place) {
  std::vector<float> bb = b, x(b.size());
  float *out = in_place ? bb.data() : x.data();
  BSR(&n, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data(), bb.data(),
      &ipath, out);
  return std::vector<float>(out, out + n);
}

template <class T> void ExpectSameBits(const std::vector<T> &a, const std::vector<T> &b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) EXPECT_TRUE(SameBits(a[i], b[i])) << "entry " << i + 1;
}

TEST(DirectSolve, ComplexMatchesTheMarkedRoadBitForBit) {
  ErrorModule err;
  ErrorCapture quiet(err);
  ErrorCapture shown(errors());
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const auto m = RandomMatrix<Complex>(20 + 7 * static_cast<std::int32_t>(seed), 2,
                                         seed % 2 ? Pattern::kSymmetric : Pattern::kUnsymmetric, seed);
    const auto f = Factor(m, err);
    ASSERT_GT(f.nl, 0) << quiet.take();
    const auto b = RandomVector<Complex>(m.n, 100 + seed);
    for (std::int32_t ipath = 1; ipath <= 2; ++ipath) {
      const auto marked = Solve(f, m.n, b, ipath, err);
      ExpectSameBits(CallBsc(f, m.n, b, ipath, false), marked);
      ExpectSameBits(CallBsc(f, m.n, b, ipath, true), marked);
    }
    // Unit right-hand sides (the forward sweep skips its zero prefix), and
    // one whose leading entries are -0 (which the prefix must not take).
    for (std::int32_t k = 1; k <= m.n; ++k) {
      std::vector<Complex> unit(static_cast<std::size_t>(m.n), Complex{0.0f, 0.0f});
      unit[k - 1] = {1.0f, 0.0f};
      ExpectSameBits(CallBsc(f, m.n, unit, 1, false), Solve(f, m.n, unit, 1, err));
      if (k > 1) unit[0] = {-0.0f, 0.0f};
      ExpectSameBits(CallBsc(f, m.n, unit, 1, true), Solve(f, m.n, unit, 1, err));
    }
  }
  EXPECT_EQ(shown.take(), "");
}

TEST(DirectSolve, RealMatchesTheMarkedRoadBitForBit) {
  ErrorModule err;
  ErrorCapture quiet(err);
  ErrorCapture shown(errors());
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const auto m = RandomMatrix<float>(18 + 7 * static_cast<std::int32_t>(seed), 2,
                                       seed % 2 ? Pattern::kUnsymmetric : Pattern::kSymmetric, seed);
    const auto f = Factor(m, err);
    ASSERT_GT(f.nl, 0) << quiet.take();
    const auto b = RandomVector<float>(m.n, 200 + seed);
    for (std::int32_t ipath = 1; ipath <= 2; ++ipath) {
      const auto marked = Solve(f, m.n, b, ipath, err);
      ExpectSameBits(CallBsr(f, m.n, b, ipath, false), marked);
      ExpectSameBits(CallBsr(f, m.n, b, ipath, true), marked);
    }
  }
  EXPECT_EQ(shown.take(), "");
}

// A factor set of order 3 with valid permutations but a damaged layout: the
// multiplier (2, 2) reads its own row, and row 2's U group has no diagonal
// (it divides by the diagonal of the group before it).
FactorSet<Complex> DamagedFactors() {
  FactorSet<Complex> f;
  f.nl = 2;
  f.fac = {{0.5f, 0.25f}, {-0.75f, 0.125f}, {4.0f, -1.0f}, {0.3f, 0.7f}, {1.5f, 0.5f}, {2.0f, 1.0f}};
  f.irfac = {2, 2, 3, 2, 1, 1};
  f.jcfac = {1, 2, 3, 3, 3, 1};
  f.nfac = static_cast<std::int32_t>(f.fac.size());
  f.ipvt = {2, 3, 1};
  f.jpvt = {3, 1, 2};
  return f;
}

TEST(DirectSolve, DamagedFactorSetKeepsTheMarkedRoadsArithmetic) {
  ErrorModule err;
  ErrorCapture quiet(err);
  ErrorCapture shown(errors());
  const FactorSet<Complex> f = DamagedFactors();
  const std::vector<Complex> b = {{1.0f, -2.0f}, {0.5f, 3.0f}, {-1.25f, 0.75f}};
  for (std::int32_t ipath = 1; ipath <= 2; ++ipath)
    ExpectSameBits(CallBsc(f, 3, b, ipath, false), Solve(f, 3, b, ipath, err));
  for (std::size_t k = 0; k < 3; ++k) {
    std::vector<Complex> unit(3, Complex{0.0f, 0.0f});
    unit[k] = {1.0f, 0.0f};
    ExpectSameBits(CallBsc(f, 3, unit, 1, false), Solve(f, 3, unit, 1, err));
  }
  EXPECT_EQ(shown.take(), "");
}

// IPVT (2, 2, 2) passes the sum test for N = 3 but is no permutation: BSC
// takes the marked road, which solves with it exactly as the kernel does.
TEST(DirectSolve, NoPermutationTakesTheMarkedRoad) {
  ErrorModule err;
  ErrorCapture quiet(err);
  ErrorCapture shown(errors());
  FactorSet<Complex> f = DamagedFactors();
  f.ipvt = {2, 2, 2};
  const std::vector<Complex> b = {{1.0f, -2.0f}, {0.5f, 3.0f}, {-1.25f, 0.75f}};
  ExpectSameBits(CallBsc(f, 3, b, 1, false), Solve(f, 3, b, 1, err));
  EXPECT_EQ(quiet.take(), "");
  EXPECT_EQ(shown.take(), "");
}

} // namespace
} // namespace orvek::test
