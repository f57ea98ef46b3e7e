// Regressions found by fuzzing the topology road. MultiPodred tested its
// memberships by scanning everything ordered so far, so a network of a
// thousand small components took many seconds (a hang); it now keeps
// marker arrays. The ordering must be exactly the one the literal scans
// give: the exported routine is compared with the kernel run without
// markers, on forests of many components and on random networks with
// parallel branches, chords and isolated nodes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "topology/ordering.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

using Ends = std::vector<std::pair<std::int32_t, std::int32_t>>;

// The ordering by the literal scans (no markers), in the host's layout.
Ordering ScanOrdering(const Incidence &inc, std::int32_t nb) {
  Ordering o;
  std::vector<std::int32_t> ord(static_cast<std::size_t>(inc.n)), par(static_cast<std::size_t>(inc.n), kUntouched),
      bl(static_cast<std::size_t>(nb)), cnt_nodes(1000), cnt_branches(1000), pend(static_cast<std::size_t>(nb) + 1);
  std::int32_t nc = 0;
  const std::size_t list_end = static_cast<std::size_t>(inc.ija[static_cast<std::size_t>(inc.n)] - 1);
  const orvek::topology::OrderingOutput out{ord, par, bl, cnt_nodes, cnt_branches, nc};
  const bool fits = orvek::topology::OrderByComponent(
      inc.n, std::span<const std::int32_t>(inc.ija.data(), list_end),
      std::span<const std::int32_t>(inc.ibr.data(), list_end), out, pend);
  EXPECT_TRUE(fits);
  o.ord = ord, o.par = par, o.bl = bl, o.nc = nc;
  for (std::int32_t g = 0; g < nc; ++g) {
    o.cnt[static_cast<std::size_t>(g)] = cnt_nodes[static_cast<std::size_t>(g)];
    o.cnt[static_cast<std::size_t>(1000 + g)] = cnt_branches[static_cast<std::size_t>(g)];
  }
  return o;
}

void ExpectSameOrdering(std::int32_t n, const Ends &ends) {
  const auto nb = static_cast<std::int32_t>(ends.size());
  const Incidence inc = CallMaux(n, ends);
  const Ordering fast = CallMultiPodred(inc, nb);
  const Ordering scan = ScanOrdering(inc, nb);
  ASSERT_EQ(fast.nc, scan.nc);
  EXPECT_EQ(fast.ord, scan.ord);
  EXPECT_EQ(fast.bl, scan.bl);
  EXPECT_EQ(fast.cnt, scan.cnt);
  // PAR is written everywhere but at the roots, which keep the host's value.
  std::int32_t root = 0;
  for (std::int32_t g = 0; g < fast.nc; ++g) {
    EXPECT_EQ(fast.par[static_cast<std::size_t>(root)], kUntouched) << "root of component " << g + 1;
    const std::int32_t end = fast.cnt[static_cast<std::size_t>(g)];
    for (std::int32_t i = root + 1; i < end; ++i)
      EXPECT_EQ(fast.par[static_cast<std::size_t>(i)], scan.par[static_cast<std::size_t>(i)]) << "position " << i + 1;
    root = end;
  }
}

TEST(MultiPodredRegression, ThousandComponents) {
  // A chain over nodes 1..2500 and 999 isolated nodes: 1000 components, the
  // case that took seconds. Breadth-first from node 1 the chain is ordered
  // as it stands, each isolated node is then a component of its own.
  Ends chain;
  for (std::int32_t b = 1; b <= 2499; ++b) chain.emplace_back(b, b + 1);
  const Incidence inc = CallMaux(3499, chain);
  const Ordering o = CallMultiPodred(inc, 2499);
  ASSERT_EQ(o.nc, 1000);
  for (std::int32_t i = 1; i <= 3499; ++i) EXPECT_EQ(o.ord[static_cast<std::size_t>(i - 1)], i) << i;
  for (std::int32_t b = 1; b <= 2499; ++b) EXPECT_EQ(o.bl[static_cast<std::size_t>(b - 1)], b) << b;
  // The parent of position i (1-based) is the 0-based position i - 2.
  for (std::int32_t i = 2; i <= 2500; ++i) EXPECT_EQ(o.par[static_cast<std::size_t>(i - 1)], i - 2) << i;
  for (std::int32_t i = 2501; i <= 3499; ++i) EXPECT_EQ(o.par[static_cast<std::size_t>(i - 1)], kUntouched) << i;
  EXPECT_EQ(o.par[0], kUntouched);
  for (std::int32_t g = 1; g <= 1000; ++g) {
    EXPECT_EQ(o.cnt[static_cast<std::size_t>(g - 1)], 2500 + g - 1) << g;
    EXPECT_EQ(o.cnt[static_cast<std::size_t>(1000 + g - 1)], 2499) << g;
  }
}

TEST(MultiPodredRegression, ManyComponentsOrderAsTheScansDo) {
  // 200 paths of three nodes (each entered at its middle branch second) and
  // 50 isolated nodes.
  Ends pieces;
  for (std::int32_t g = 0; g < 200; ++g) pieces.emplace_back(3 * g + 1, 3 * g + 2), pieces.emplace_back(3 * g + 3, 3 * g + 2);
  ExpectSameOrdering(600 + 50, pieces);
}

TEST(MultiPodredRegression, RandomNetworksOrderAsTheScansDo) {
  std::mt19937 rng(20261208);
  for (int trial = 0; trial < 40; ++trial) {
    const std::int32_t n = 2 + static_cast<std::int32_t>(rng() % 300);
    const std::int32_t nb = 1 + static_cast<std::int32_t>(rng() % 600);
    Ends ends;
    // Node 1 and node N must end a branch; the rest at random (self-loops,
    // parallel branches and isolated nodes included).
    ends.emplace_back(1, n);
    for (std::int32_t b = 1; b < nb; ++b) {
      const auto i = static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n)) + 1;
      const auto j = rng() % 5 == 0 ? i : static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(n)) + 1;
      ends.emplace_back(i, j);
    }
    SCOPED_TRACE(trial);
    ExpectSameOrdering(n, ends);
  }
}

} // namespace
} // namespace orvek::test::topology
