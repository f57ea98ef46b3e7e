// Branch keys in 64 bits: the native calls take networks above 46340 nodes,
// and where 32-bit keys fit, the 64-bit order is the 32-bit order place for
// place (so the native results stay those of the exported routines).
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "assembly/accumulator.hpp"
#include "orvek/orvek.hpp"
#include "support/error_module.hpp"

namespace orvek {
namespace {

struct Ends {
  std::vector<std::int32_t> from, to;
};

// A ring over n nodes with chords (random, or to the third next node when
// `local`), every fifth branch doubled (parallel branches, some named from
// the other end).
Ends RingWithChords(std::int32_t n, std::uint32_t seed, bool local = false) {
  Ends e;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> node(1, n);
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t j = i % n + 1;
    e.from.push_back(i), e.to.push_back(j);
    if (i % 5 == 0) e.from.push_back(j), e.to.push_back(i);
    if (i % 7 == 0) {
      std::int32_t a = local ? i : node(rng), b = local ? (i + 2) % n + 1 : node(rng);
      if (a == b) b = a % n + 1;
      e.from.push_back(a), e.to.push_back(b);
    }
  }
  return e;
}

TEST(WideBranchKeys, SameOrderWhereNarrowKeysFit) {
  for (const std::int32_t n : {7, 1000, 46340}) {
    const Ends e = RingWithChords(n, static_cast<std::uint32_t>(n));
    const std::size_t nb = e.from.size();
    std::vector<std::int32_t> perm32(nb), key32(nb), skey32(nb), perm64(nb), key64(nb), skey64(nb);
    std::vector<std::int64_t> wide(nb), swide(nb);
    ErrorModule err;
    const auto count = static_cast<std::int32_t>(nb);
    assembly::OrderBranches(err, n, count, e.from, e.to, {perm32, key32, skey32});
    assembly::OrderBranches(err, n, count, e.from, e.to, {perm64, key64, skey64, wide, swide});
    EXPECT_EQ(perm64, perm32) << "n = " << n;
    for (std::int32_t l = 0; l < count; ++l) {
      ASSERT_EQ(assembly::MergesWithPrevious(skey64, l), assembly::MergesWithPrevious(skey32, l)) << l;
      ASSERT_EQ(swide[static_cast<std::size_t>(l)], skey32[static_cast<std::size_t>(l)]) << l;
    }
  }
}

// 70 000 nodes: the assembly merges parallel branches (one pair per node
// pair) and every row sums to the shunt-free stamps; the fast decoupled
// matrices and their factors follow.
TEST(WideBranchKeys, SeventyThousandNodes) {
  constexpr std::int32_t n = 70000;
  const Ends e = RingWithChords(n, 1, true);
  const std::size_t nb = e.from.size();
  std::vector<Complex> z(nb, Complex{0.01f, 0.1f}), ya(nb), yb(nb);
  Workspace ws;
  const Admittance y = AssembleAdmittance(ws, n, {e.from, e.to, z, ya, yb});
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (std::size_t b = 0; b < nb; ++b) pairs.emplace_back(std::min(e.from[b], e.to[b]), std::max(e.from[b], e.to[b]));
  std::sort(pairs.begin(), pairs.end());
  const auto distinct = std::unique(pairs.begin(), pairs.end()) - pairs.begin();
  EXPECT_EQ(y.triplets.nz(), n + 2 * distinct);
  // Row sums of a network without shunts vanish (up to rounding).
  std::vector<std::complex<double>> sum(static_cast<std::size_t>(n));
  for (std::int32_t k = 0; k < y.triplets.nz(); ++k)
    sum[static_cast<std::size_t>(y.triplets.irow[static_cast<std::size_t>(k)] - 1)] +=
        std::complex<double>(y.triplets.value[static_cast<std::size_t>(k)].re,
                             y.triplets.value[static_cast<std::size_t>(k)].im);
  for (const auto &s : sum) ASSERT_LT(std::abs(s), 1e-3);

  std::vector<float> r(nb, 0.01f), x(nb, 0.1f), t(nb, 1.0f);
  const DecoupledMatrices m = FastDecoupledMatrices(ws, n, n - 1, {e.from, e.to, r, x, t});
  EXPECT_EQ(m.first.n, n - 1);
  const FactorSet<float> f = Factor(ws, m.first);
  ASSERT_TRUE(f.complete());
  const std::vector<float> ones(static_cast<std::size_t>(n - 1), 1.0f);
  const std::vector<float> sol = Solve(ws, f, ones);
  EXPECT_TRUE(std::isfinite(sol[0]));
}

// The room of a factorization: a larger room than the default gives the
// default's factors where those fit (the study relies on it, retrying with
// more room only after the default's workspace stop); too small a room is
// refused with its message.
TEST(FactorRoom, LargerRoomGivesTheSameFactors) {
  Workspace ws;
  for (const bool local : {true, false}) {
    const Ends e = RingWithChords(2000, 7, local);
    const std::size_t nb = e.from.size();
    std::vector<float> r(nb, 0.01f), x(nb, 0.1f), t(nb, 1.0f);
    const TripletMatrix<float> a = FastDecoupledMatrices(ws, 2000, 1999, {e.from, e.to, r, x, t}).first;
    const FactorSet<float> big = Factor(ws, a, FactorOptions{200 * static_cast<std::int64_t>(a.nz())});
    ASSERT_TRUE(big.complete());
    if (local) {
      // Where the default room suffices, the factors are the same.
      const FactorSet<float> d = Factor(ws, a);
      EXPECT_EQ(d.fac, big.fac);
      EXPECT_EQ(d.irfac, big.irfac);
      EXPECT_EQ(d.jcfac, big.jcfac);
    } else {
      // Random chords fill in beyond the default room.
      try {
        (void)Factor(ws, a);
        ADD_FAILURE() << "the default room should not suffice";
      } catch (const Error &err) {
        EXPECT_EQ(err.code(), 20);
      }
    }
  }
  try {
    const TripletMatrix<float> one{1, {1}, {1}, {2.0f}};
    (void)Factor(ws, one, FactorOptions{1});
    FAIL() << "a room below 3*NZ must be refused";
  } catch (const Error &e) {
    EXPECT_EQ(e.message(), "MAX_ENTRIES = 1 must be at least 3*NZ = 3, and 15*N + 5*MAX_ENTRIES (N = 1) at most "
                           "2147483647.");
  }
}

} // namespace
} // namespace orvek
