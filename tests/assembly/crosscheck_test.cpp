// Cross-checks between the assembly routines on random networks with many
// parallel and reversed branches: MatY, MatYsa and MatricaY without shunts
// agree exactly; MatY_prekin with every branch in service equals MatY; the
// row-indexed form matches the triplets; every value agrees with a double-
// precision dense assembly; a reordered branch list changes only roundings;
// MatYR with one flagged node equals MatricaYR.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "dense_reference.hpp"

namespace {

using orvek::Complex;
using orvek::test::BuildDenseReference;
using orvek::test::CompareWithReference;
using orvek::test::ExpectRowIndexedMatches;
using orvek::test::HostNetwork;
using orvek::test::OutputArrays;
using orvek::test::ReductionInput;
using orvek::test::RunMatricaY;
using orvek::test::RunMatricaYR;
using orvek::test::RunMatY;
using orvek::test::RunMatYPrekin;
using orvek::test::RunMatYR;
using orvek::test::RunMatYsa;
using orvek::test::Triplets;

HostNetwork RandomNetwork(std::uint32_t seed, std::int32_t n, std::int32_t nb, bool shunts) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<std::int32_t> node(1, n);
  std::uniform_real_distribution<float> r(0.0f, 0.05f), x(0.01f, 0.5f), b(-0.05f, 0.2f);
  HostNetwork net;
  net.n = n;
  std::vector<std::pair<std::int32_t, std::int32_t>> used;
  for (std::int32_t k = 0; k < nb; ++k) {
    std::int32_t i = node(gen), j = node(gen);
    // About a third of the branches repeat an earlier pair, half of those reversed.
    if (!used.empty() && gen() % 3 == 0) {
      const auto p = used[gen() % used.size()];
      i = p.first;
      j = p.second;
      if (gen() % 2) std::swap(i, j);
    }
    while (j == i) j = node(gen);
    used.emplace_back(i, j);
    net.Add(i, j, {r(gen), x(gen)}, {0.0f, b(gen)}, {0.0f, b(gen)});
  }
  if (shunts) {
    for (std::int32_t k = 0; k < n / 3; ++k) net.AddShunt(node(gen), b(gen));
  }
  return net;
}

void ExpectSameTriplets(const Triplets &x, const Triplets &y) {
  ASSERT_EQ(x.nz, y.nz);
  EXPECT_EQ(x.irow, y.irow);
  EXPECT_EQ(x.jcol, y.jcol);
  for (std::size_t k = 0; k < x.a.size(); ++k) EXPECT_EQ(x.a[k], y.a[k]) << k;
}

class RandomNetworks : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(RandomNetworks, BranchOnlyRoutinesAgree) {
  const HostNetwork net = RandomNetwork(GetParam(), 40, 150, false);
  const OutputArrays full = RunMatricaY(net);
  const OutputArrays sa = RunMatYsa(net);
  const Triplets t = full.triplets();
  ExpectSameTriplets(t, RunMatY(net).triplets());
  ExpectSameTriplets(t, sa.triplets());
  ExpectSameTriplets(t, RunMatYPrekin(net, std::vector<std::int32_t>(150, 1)).triplets());
  EXPECT_EQ(full.row_indexed().ija, sa.row_indexed().ija);
  const auto r1 = full.row_indexed().sa, r2 = sa.row_indexed().sa;
  for (std::size_t k = 0; k < r1.size(); ++k) EXPECT_EQ(r1[k], r2[k]) << k;
}

TEST_P(RandomNetworks, AgreeWithDenseReference) {
  const HostNetwork net = RandomNetwork(GetParam(), 60, 200, true);
  const OutputArrays o = RunMatricaY(net);
  const Triplets t = o.triplets();
  (void)CompareWithReference(t, BuildDenseReference(net));
  ExpectRowIndexedMatches(net.n, t, o.row_indexed());
  // Off-diagonal pairs come in ascending key order, (I, J) then (J, I).
  for (std::int32_t k = net.n; k + 1 < t.nz; k += 2) {
    const auto u = static_cast<std::size_t>(k);
    EXPECT_EQ(t.irow[u], t.jcol[u + 1]);
    EXPECT_EQ(t.jcol[u], t.irow[u + 1]);
    if (k + 2 < t.nz) {
      const auto key = [&](std::size_t q) {
        return std::min(t.irow[q], t.jcol[q]) * net.n + std::max(t.irow[q], t.jcol[q]);
      };
      EXPECT_LT(key(u), key(u + 2));
    }
  }
}

TEST_P(RandomNetworks, OpenedBranchesAgreeWithDenseReference) {
  const HostNetwork net = RandomNetwork(GetParam(), 30, 120, false);
  std::mt19937 gen(GetParam() + 7);
  std::vector<std::int32_t> istat(120);
  for (auto &s : istat) s = static_cast<std::int32_t>(gen() % 3); // 0, 1, 2
  (void)CompareWithReference(RunMatYPrekin(net, istat).triplets(), BuildDenseReference(net, istat));
}

TEST_P(RandomNetworks, ReorderedBranchesChangeOnlyRoundings) {
  const HostNetwork net = RandomNetwork(GetParam(), 30, 100, false);
  std::vector<std::int32_t> order(100);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(GetParam()));
  HostNetwork shuffled;
  shuffled.n = net.n;
  for (const std::int32_t b : order) {
    const auto u = static_cast<std::size_t>(b);
    const std::size_t w = u + orvek::kLdBranch;
    shuffled.Add(net.nodes[u], net.nodes[w], {net.z[u], net.z[w]}, {net.ya[u], net.ya[w]}, {net.yb[u], net.yb[w]});
  }
  const Triplets x = RunMatY(net).triplets(), y = RunMatY(shuffled).triplets();
  ASSERT_EQ(x.nz, y.nz);
  for (std::int32_t k = 0; k < x.nz; ++k) {
    const auto u = static_cast<std::size_t>(k);
    // Same position set in the same key order; a pair may swap orientation.
    const std::set<std::int32_t> px{x.irow[u], x.jcol[u]}, py{y.irow[u], y.jcol[u]};
    EXPECT_EQ(px, py) << k;
    // Both entries of a pair hold the same sum, so orientation does not matter.
    EXPECT_NEAR(x.a[u].re, y.a[u].re, 1e-4f * (1.0f + std::abs(x.a[u].re)));
    EXPECT_NEAR(x.a[u].im, y.a[u].im, 1e-4f * (1.0f + std::abs(x.a[u].im)));
  }
}

TEST_P(RandomNetworks, ReductionsAgree) {
  const HostNetwork net = RandomNetwork(GetParam(), 25, 80, true);
  const ReductionInput in = ReductionInput::From(RunMatricaY(net));
  const std::int32_t kref = 1 + static_cast<std::int32_t>(GetParam() % 25);
  std::vector<std::int32_t> iold;
  for (std::int32_t c = 1; c <= 25; ++c) {
    if (c != kref) iold.push_back(c);
  }
  std::shuffle(iold.begin(), iold.end(), std::mt19937(GetParam() + 1));
  std::vector<std::int32_t> inew(25, 0), idrop(25, 0);
  for (std::size_t i = 0; i < iold.size(); ++i) inew[static_cast<std::size_t>(iold[i] - 1)] = static_cast<std::int32_t>(i + 1);
  idrop[static_cast<std::size_t>(kref - 1)] = 1;
  const OutputArrays r = RunMatricaYR(kref, in, iold, inew, 24);
  const Triplets x = r.triplets();
  ExpectSameTriplets(x, RunMatYR(25, idrop, in, iold, inew, 24).triplets());
  ExpectRowIndexedMatches(24, x, r.row_indexed());
  // Columns ascend within each row; values are the input's, renumbered.
  const Triplets full = RunMatricaY(net).triplets();
  for (std::int32_t k = 24; k < x.nz; ++k) {
    const auto u = static_cast<std::size_t>(k);
    if (k > 24 && x.irow[u] == x.irow[u - 1]) {
      EXPECT_LT(x.jcol[u - 1], x.jcol[u]);
    }
    const std::int32_t oi = iold[static_cast<std::size_t>(x.irow[u] - 1)];
    const std::int32_t oc = iold[static_cast<std::size_t>(x.jcol[u] - 1)];
    bool found = false;
    for (std::int32_t q = 0; q < full.nz; ++q) {
      const auto w = static_cast<std::size_t>(q);
      if (full.irow[w] == oi && full.jcol[w] == oc) {
        EXPECT_EQ(full.a[w], x.a[u]);
        found = true;
      }
    }
    EXPECT_TRUE(found);
  }
  for (std::int32_t i = 1; i <= 24; ++i) {
    EXPECT_EQ(x.a[static_cast<std::size_t>(i - 1)], full.a[static_cast<std::size_t>(iold[static_cast<std::size_t>(i - 1)] - 1)]);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomNetworks, ::testing::Values(1u, 2u, 3u, 17u, 99u));

} // namespace
