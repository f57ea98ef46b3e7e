// MAUX: adjacency lists with the branch of every neighbour. Exact lists of
// small networks, the order of equal node numbers as the key sort leaves
// them (derived here from the sort itself), pointers that do not depend on
// what IJA held before, and invariants over random networks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "assembly/key_sort.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

using Ends = std::vector<std::pair<std::int32_t, std::int32_t>>;
using List = std::vector<std::pair<std::int32_t, std::int32_t>>;

// Lists as the key sort orders the two rows of every branch: row 2b-1 at the
// first end, row 2b at the second; entries of one node in sorted order.
std::vector<List> ListsBySort(std::int32_t n, const Ends &ends) {
  const auto rows = static_cast<std::int32_t>(2 * ends.size());
  std::vector<std::int32_t> key(rows), perm(rows), nbr(rows), br(rows);
  for (std::size_t b = 0; b < ends.size(); ++b) {
    key[2 * b] = ends[b].first, nbr[2 * b] = ends[b].second;
    key[2 * b + 1] = ends[b].second, nbr[2 * b + 1] = ends[b].first;
    br[2 * b] = br[2 * b + 1] = static_cast<std::int32_t>(b + 1);
  }
  for (std::int32_t j = 0; j < rows; ++j) perm[j] = j + 1;
  ErrorModule err;
  std::vector<std::int32_t> sorted(rows);
  SVIGP(err, rows, key.data(), sorted.data(), perm.data());
  std::vector<List> lists(static_cast<std::size_t>(n + 1));
  for (std::int32_t j = 0; j < rows; ++j) {
    const std::int32_t row = perm[j] - 1;
    lists[key[row]].emplace_back(nbr[row], br[row]);
  }
  return lists;
}

void ExpectListsAsSorted(const Incidence &inc, const Ends &ends) {
  const std::int32_t n = inc.n;
  const auto lists = ListsBySort(n, ends);
  EXPECT_EQ(inc.ija[0], n + 2);
  std::int32_t start = n + 2;
  for (std::int32_t i = 1; i <= n; ++i) {
    EXPECT_EQ(inc.ija[i - 1], start) << "pointer of node " << i;
    EXPECT_EQ(inc.list(i), lists[i]) << "list of node " << i;
    start += static_cast<std::int32_t>(lists[i].size());
  }
  EXPECT_EQ(inc.ija[n], n + 2 + 2 * static_cast<std::int32_t>(ends.size()));
  for (std::int32_t k = 1; k <= n + 1; ++k) EXPECT_EQ(inc.ibr[k - 1], -7) << "IBR(" << k << ") was written";
}

TEST(Maux, ThreeNodeChainGivesTheListsOfTheExample) {
  const Incidence inc = CallMaux(3, {{1, 2}, {2, 3}});
  EXPECT_EQ(std::vector<std::int32_t>(inc.ija.begin(), inc.ija.begin() + 4),
            (std::vector<std::int32_t>{5, 6, 8, 9}));
  EXPECT_EQ(inc.ija[4], 2);
  EXPECT_EQ(inc.ibr[4], 1);
  // Keys (1, 2, 2, 3): the sort leaves the two rows of node 2 in input order.
  EXPECT_EQ(inc.list(2), (List{{1, 1}, {3, 2}}));
  EXPECT_EQ(inc.ija[7], 2);
  EXPECT_EQ(inc.ibr[7], 2);
  ExpectListsAsSorted(inc, {{1, 2}, {2, 3}});
}

TEST(Maux, ParallelBranchesRepeatTheNeighbourInSortOrder) {
  const Ends ends = {{1, 2}, {2, 3}, {3, 4}, {2, 5}, {4, 5}, {1, 3}, {5, 2}};
  const Incidence inc = CallMaux(5, ends);
  ExpectListsAsSorted(inc, ends);
  for (const auto &[node, other] : {std::pair{2, 5}, std::pair{5, 2}}) {
    std::vector<std::int32_t> branches;
    for (const auto &[v, b] : inc.list(node))
      if (v == other) branches.push_back(b);
    std::sort(branches.begin(), branches.end());
    EXPECT_EQ(branches, (std::vector<std::int32_t>{4, 7})) << "list of node " << node;
  }
}

TEST(Maux, SelfLoopGivesTwoEntriesAtItsNode) {
  const Ends ends = {{1, 2}, {2, 2}, {2, 3}};
  const Incidence inc = CallMaux(3, ends);
  ExpectListsAsSorted(inc, ends);
  const List l2 = inc.list(2);
  EXPECT_EQ(std::count(l2.begin(), l2.end(), std::pair<std::int32_t, std::int32_t>{2, 2}), 2);
  EXPECT_EQ(l2.size(), 4u);
}

TEST(Maux, NodesThatEndNoBranchGetEmptyListsWhereverTheyLie) {
  // Middle node 3 of five, node 1 and node N without branches.
  for (const auto &[n, ends] :
       {std::pair<std::int32_t, Ends>{5, {{1, 2}, {2, 4}, {4, 5}}},
        std::pair<std::int32_t, Ends>{4, {{2, 3}, {3, 4}}},
        std::pair<std::int32_t, Ends>{4, {{1, 2}, {2, 3}}}, std::pair<std::int32_t, Ends>{6, {{3, 4}}}}) {
    SCOPED_TRACE(n);
    const Incidence zeroed = CallMaux(n, ends, 0);
    ExpectListsAsSorted(zeroed, ends);
    // Stale pointers on entry change nothing.
    const Incidence stale = CallMaux(n, ends, 777);
    EXPECT_EQ(stale.ija, zeroed.ija);
    EXPECT_EQ(stale.ibr, zeroed.ibr);
  }
  const Incidence first_empty = CallMaux(4, {{2, 3}, {3, 4}});
  EXPECT_EQ(first_empty.ija[0], 6);
  EXPECT_EQ(first_empty.ija[1], 6);
  const Incidence last_empty = CallMaux(4, {{1, 2}, {2, 3}});
  EXPECT_EQ(std::vector<std::int32_t>(last_empty.ija.begin(), last_empty.ija.begin() + 5),
            (std::vector<std::int32_t>{6, 7, 9, 10, 10}));
}

TEST(Maux, SwappedEndsGiveTheSameListsAsSets) {
  const Ends ends = {{1, 2}, {2, 3}, {3, 1}, {3, 4}, {4, 1}, {2, 4}};
  Ends swapped = ends;
  std::swap(swapped[2].first, swapped[2].second);
  std::swap(swapped[4].first, swapped[4].second);
  const Incidence a = CallMaux(4, ends), b = CallMaux(4, swapped);
  EXPECT_EQ(std::vector<std::int32_t>(a.ija.begin(), a.ija.begin() + 5),
            std::vector<std::int32_t>(b.ija.begin(), b.ija.begin() + 5));
  for (std::int32_t i = 1; i <= 4; ++i) {
    List la = a.list(i), lb = b.list(i);
    std::sort(la.begin(), la.end());
    std::sort(lb.begin(), lb.end());
    EXPECT_EQ(la, lb) << "node " << i;
  }
}

TEST(Maux, RandomNetworksHoldEveryBranchOnceFromEachEnd) {
  std::mt19937 gen(20240611);
  for (int trial = 0; trial < 40; ++trial) {
    const std::int32_t n = 2 + static_cast<std::int32_t>(gen() % 60);
    const std::int32_t nb = 1 + static_cast<std::int32_t>(gen() % 2499);
    Ends ends;
    for (std::int32_t b = 0; b < nb; ++b) {
      // A few hubs make long runs of equal keys for the sort.
      const auto pick = [&]() {
        return 1 + static_cast<std::int32_t>(gen() % 4 == 0 ? gen() % 3 : gen() % n);
      };
      ends.emplace_back(pick(), pick());
    }
    SCOPED_TRACE(trial);
    const Incidence inc = CallMaux(n, ends, static_cast<std::int32_t>(gen() % 3));
    ExpectListsAsSorted(inc, ends);
  }
}

TEST(Maux, LargestBranchCountFillsTheWorkTable) {
  Ends ends;
  for (std::int32_t b = 0; b < 2499; ++b) ends.emplace_back(1 + b % 50, 1 + (b * 7 + 3) % 50);
  ExpectListsAsSorted(CallMaux(50, ends), ends);
}

} // namespace
} // namespace orvek::test::topology
