// MultiPodred and ZapisiPodredeno: the orderings of the examples (radial,
// meshed, two islands, an isolated node, parallel branches), an independent
// breadth-first reference with visited flags over random networks, and the
// component records checked against the branch table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "topology/component_records.hpp"
#include "topology/ordering.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

using Ends = std::vector<std::pair<std::int32_t, std::int32_t>>;
using orvek::topology::ComponentRecord;
using orvek::topology::StoredComponentRecord;

struct Reference {
  std::vector<std::int32_t> ord, par, bl; // par[i] for position i (-1 at roots)
  std::vector<std::int32_t> cnt_nodes, cnt_branches;
};

// Breadth-first forest with visited flags: the same visits as the routine's
// linear scans, reached independently.
Reference ReferenceOrdering(const Incidence &inc) {
  const std::int32_t n = inc.n;
  Reference r;
  std::vector<bool> visited(static_cast<std::size_t>(n + 1), false);
  std::int32_t root = 1;
  while (root != 0) {
    const auto s0 = static_cast<std::int32_t>(r.ord.size());
    std::vector<std::int32_t> tree, chords;
    std::set<std::int32_t> seen;
    r.ord.push_back(root);
    r.par.push_back(-1);
    visited[root] = true;
    for (auto q = static_cast<std::size_t>(s0); q < r.ord.size(); ++q) {
      for (const auto &[v, br] : inc.list(r.ord[q])) {
        if (!visited[v]) {
          visited[v] = true;
          r.ord.push_back(v);
          r.par.push_back(static_cast<std::int32_t>(q) - s0);
          tree.push_back(br);
          seen.insert(br);
        } else if (seen.insert(br).second) {
          chords.push_back(br);
        }
      }
    }
    r.bl.insert(r.bl.end(), tree.begin(), tree.end());
    r.bl.insert(r.bl.end(), chords.begin(), chords.end());
    r.cnt_nodes.push_back(static_cast<std::int32_t>(r.ord.size()));
    r.cnt_branches.push_back(static_cast<std::int32_t>(r.bl.size()));
    root = 0;
    for (std::int32_t c = 1; c <= n && root == 0; ++c)
      if (!visited[c]) root = c;
  }
  return r;
}

void ExpectAsReference(const Incidence &inc, const Ordering &o) {
  const Reference r = ReferenceOrdering(inc);
  ASSERT_EQ(o.nc, static_cast<std::int32_t>(r.cnt_nodes.size()));
  EXPECT_EQ(o.ord, r.ord);
  EXPECT_EQ(std::vector<std::int32_t>(o.bl.begin(), o.bl.begin() + r.bl.size()), r.bl);
  for (std::size_t i = 0; i < r.par.size(); ++i)
    EXPECT_EQ(o.par[i], r.par[i] < 0 ? kUntouched : r.par[i]) << "PAR(" << i + 1 << ")";
  for (std::int32_t g = 1; g <= o.nc; ++g) {
    EXPECT_EQ(o.cnt_nodes(g), r.cnt_nodes[g - 1]);
    EXPECT_EQ(o.cnt_branches(g), r.cnt_branches[g - 1]);
  }
  EXPECT_EQ(o.cnt[o.nc], kUntouched) << "CNT beyond NC was written";
}

void StoreRecords(const Ordering &o, const std::vector<std::int32_t> &nodes) {
  ZapisiPodredeno(o.cnt.data(), o.ord.data(), o.bl.data(), o.par.data(), &o.nc, nodes.data());
}

// Every branch of a record joins the positions the record gives it.
void ExpectRecordsMatchBranches(const Ordering &o, const Ends &ends) {
  for (std::int32_t g = 1; g <= o.nc; ++g) {
    SCOPED_TRACE(g);
    const ComponentRecord &rec = StoredComponentRecord(g);
    const std::int32_t s0 = o.cnt_nodes(g - 1), b0 = o.cnt_branches(g - 1);
    ASSERT_EQ(rec.nn, o.cnt_nodes(g) - s0);
    ASSERT_EQ(rec.nbr, o.cnt_branches(g) - b0);
    ASSERT_EQ(rec.nch, rec.nbr - rec.nn + 1);
    for (std::int32_t k = 1; k <= rec.nn; ++k) EXPECT_EQ(rec.node[k - 1], o.ord[s0 + k - 1]);
    for (std::int32_t k = 1; k <= rec.nbr; ++k) EXPECT_EQ(rec.brn[k - 1], o.bl[b0 + k - 1]);
    for (std::int32_t k = 1; k <= rec.nn - 1; ++k) {
      const auto &[a, b] = ends[rec.brn[k - 1] - 1];
      const std::int32_t parent = rec.node[rec.end1[k - 1]], child = rec.node[k];
      EXPECT_LT(rec.end1[k - 1], k);
      EXPECT_TRUE((a == parent && b == child) || (a == child && b == parent)) << "tree branch " << k;
    }
    for (std::int32_t l = 1; l <= rec.nch; ++l) {
      const std::int32_t k = rec.nn - 1 + l;
      EXPECT_EQ(rec.chp[l - 1], k);
      const auto &[a, b] = ends[rec.brn[k - 1] - 1];
      EXPECT_EQ(rec.node[rec.end1[k - 1]], a) << "chord " << l;
      EXPECT_EQ(rec.node[rec.end2[l - 1]], b) << "chord " << l;
    }
  }
}

Ordering Order(std::int32_t n, const Ends &ends, Incidence *inc_out = nullptr) {
  const Incidence inc = CallMaux(n, ends);
  Ordering o = CallMultiPodred(inc, static_cast<std::int32_t>(ends.size()));
  ExpectAsReference(inc, o);
  if (inc_out) *inc_out = inc;
  return o;
}

TEST(MultiPodred, RadialNetworkIsOneTreeWithoutChords) {
  const Ends ends = {{1, 2}, {2, 3}, {2, 4}, {4, 5}, {5, 6}, {1, 7}};
  const Ordering o = Order(7, ends);
  EXPECT_EQ(o.nc, 1);
  EXPECT_EQ(o.cnt_nodes(1), 7);
  EXPECT_EQ(o.cnt_branches(1), 6);
  StoreRecords(o, NodesTable(ends));
  EXPECT_EQ(StoredComponentRecord(1).nch, 0);
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, TriangleHasOneChordAfterTheTreeBranchesOfNodeOne) {
  const Ends ends = {{1, 2}, {2, 3}, {1, 3}};
  Incidence inc;
  const Ordering o = Order(3, ends, &inc);
  ASSERT_EQ(o.nc, 1);
  EXPECT_EQ(o.ord[0], 1);
  const auto list1 = inc.list(1);
  ASSERT_EQ(list1.size(), 2u);
  EXPECT_EQ(o.ord[1], list1[0].first);
  EXPECT_EQ(o.ord[2], list1[1].first);
  EXPECT_EQ(o.bl[0], list1[0].second);
  EXPECT_EQ(o.bl[1], list1[1].second);
  EXPECT_EQ(o.bl[2], 2);
  EXPECT_EQ(o.par[1], 0);
  EXPECT_EQ(o.par[2], 0);
  EXPECT_EQ(o.par[0], kUntouched);
  EXPECT_EQ(o.cnt_nodes(1), 3);
  EXPECT_EQ(o.cnt_branches(1), 3);

  StoreRecords(o, NodesTable(ends));
  const ComponentRecord &rec = StoredComponentRecord(1);
  EXPECT_EQ(rec.nch, 1);
  EXPECT_EQ(rec.chp[0], 3);
  const auto position = [&](std::int32_t node) {
    return static_cast<std::int32_t>(std::find(o.ord.begin(), o.ord.end(), node) - o.ord.begin());
  };
  EXPECT_EQ(rec.end1[2], position(2));
  EXPECT_EQ(rec.end2[0], position(3));
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, TwoIslandsAreTwoComponents) {
  const Ends ends = {{1, 2}, {3, 4}};
  const Ordering o = Order(4, ends);
  EXPECT_EQ(o.nc, 2);
  EXPECT_EQ(o.ord, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(o.cnt_nodes(1), 2);
  EXPECT_EQ(o.cnt_branches(1), 1);
  EXPECT_EQ(o.cnt_nodes(2), 4);
  EXPECT_EQ(o.cnt_branches(2), 2);
  EXPECT_EQ(o.bl, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(o.par, (std::vector<std::int32_t>{kUntouched, 0, kUntouched, 0}));
  StoreRecords(o, NodesTable(ends));
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, IsolatedNodeFormsItsOwnComponent) {
  const Ends ends = {{1, 2}, {2, 4}};
  const Ordering o = Order(4, ends);
  EXPECT_EQ(o.nc, 2);
  EXPECT_EQ(o.ord, (std::vector<std::int32_t>{1, 2, 4, 3}));
  EXPECT_EQ(o.cnt_nodes(1), 3);
  EXPECT_EQ(o.cnt_branches(1), 2);
  EXPECT_EQ(o.cnt_nodes(2), 4);
  EXPECT_EQ(o.cnt_branches(2), 2);
  StoreRecords(o, NodesTable(ends));
  EXPECT_EQ(StoredComponentRecord(2).nn, 1);
  EXPECT_EQ(StoredComponentRecord(2).nbr, 0);
  EXPECT_EQ(StoredComponentRecord(2).nch, 0);
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, FirstParallelBranchInTheListIsTheTreeBranch) {
  const Ends ends = {{2, 3}, {3, 4}, {4, 5}, {3, 5}, {1, 2}, {2, 1}};
  Incidence inc;
  const Ordering o = Order(5, ends, &inc);
  const auto list1 = inc.list(1);
  ASSERT_EQ(list1.size(), 2u);
  EXPECT_EQ(o.ord[1], 2);
  EXPECT_EQ(o.bl[0], list1[0].second);
  // The other parallel branch is a chord: it is among the last NB - NN + 1.
  const std::int32_t other = list1[1].second;
  EXPECT_NE(std::find(o.bl.begin() + 4, o.bl.end(), other), o.bl.end());
  StoreRecords(o, NodesTable(ends));
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, SelfLoopIsAChord) {
  const Ends ends = {{1, 2}, {2, 2}, {2, 3}};
  const Ordering o = Order(3, ends);
  EXPECT_EQ(o.bl[2], 2);
  StoreRecords(o, NodesTable(ends));
  const ComponentRecord &rec = StoredComponentRecord(1);
  EXPECT_EQ(rec.nch, 1);
  EXPECT_EQ(rec.end1[2], rec.end2[0]);
  ExpectRecordsMatchBranches(o, ends);
}

TEST(MultiPodred, RandomNetworksMatchTheReferenceForest) {
  std::mt19937 gen(7);
  for (int trial = 0; trial < 60; ++trial) {
    const std::int32_t n = 1 + static_cast<std::int32_t>(gen() % 80);
    const std::int32_t nb = 1 + static_cast<std::int32_t>(gen() % 120);
    Ends ends;
    for (std::int32_t b = 0; b < nb; ++b) {
      // Sparse: many islands and isolated nodes.
      const std::int32_t a = 1 + static_cast<std::int32_t>(gen() % n);
      const std::int32_t c = gen() % 5 == 0 ? a : 1 + static_cast<std::int32_t>(gen() % n);
      ends.emplace_back(a, c);
    }
    SCOPED_TRACE(trial);
    const Ordering o = Order(n, ends);
    EXPECT_EQ(o.cnt_nodes(o.nc), n);
    EXPECT_EQ(o.cnt_branches(o.nc), nb);
    if (o.nc <= 50) {
      StoreRecords(o, NodesTable(ends));
      ExpectRecordsMatchBranches(o, ends);
    }
  }
}

TEST(ZapisiPodredeno, RecordsBeyondNcKeepTheirContents) {
  const Ends many = {{1, 2}, {3, 4}, {5, 6}};
  const Ordering three = Order(6, many);
  ASSERT_EQ(three.nc, 3);
  StoreRecords(three, NodesTable(many));
  const ComponentRecord before = StoredComponentRecord(3);
  const Ends one = {{1, 2}, {2, 3}, {3, 1}};
  const Ordering single = Order(3, one);
  StoreRecords(single, NodesTable(one));
  EXPECT_EQ(StoredComponentRecord(1).nn, 3);
  EXPECT_EQ(StoredComponentRecord(3).nn, before.nn);
  EXPECT_EQ(StoredComponentRecord(3).node, before.node);
  EXPECT_EQ(StoredComponentRecord(3).brn, before.brn);
}

TEST(ZapisiPodredeno, ChordEndOutsideItsComponentIsMarked) {
  // The ordering of a triangle stored against a branch table whose chord
  // (branch 2) names node 7, which is not in the component.
  const Ends ends = {{1, 2}, {2, 3}, {1, 3}};
  const Ordering o = Order(3, ends);
  StoreRecords(o, NodesTable({{1, 2}, {2, 7}, {1, 3}}));
  const ComponentRecord &rec = StoredComponentRecord(1);
  ASSERT_EQ(rec.nch, 1);
  EXPECT_EQ(rec.node[rec.end1[2]], 2);
  EXPECT_EQ(rec.end2[0], orvek::topology::kNotInComponent);
}

TEST(ZapisiPodredeno, FiftyComponentsFillEveryRecord) {
  Ends ends;
  for (std::int32_t g = 0; g < 50; ++g) ends.emplace_back(2 * g + 1, 2 * g + 2);
  const Ordering o = Order(100, ends);
  ASSERT_EQ(o.nc, 50);
  StoreRecords(o, NodesTable(ends));
  ExpectRecordsMatchBranches(o, ends);
  EXPECT_EQ(StoredComponentRecord(50).node[0], 99);
}

} // namespace
} // namespace orvek::test::topology
