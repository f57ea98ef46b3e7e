// The documented small examples through the native interface: exact values
// of the fault computation, the decoupled matrices, the adjacency lists and
// the ordering, the one-entry factorization, and the fault study with a
// factor set shared between sequences against separate copies.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "native_test_util.hpp"

namespace orvek::test::native {
namespace {

TEST(NativeExamples, SinglePhaseFaultOfEqualSequenceImpedances) {
  Workspace ws;
  const std::vector<Complex> z{{0.0f, 0.1f}}, e{{1.0f, 0.0f}};
  const FaultResult r = Fault(ws, kSinglePhaseToEarth, 1, std::vector<float>{110.0f}, e, z, z, z);
  // I0 = I1 = I2 = 1 / (j0.3) = -j10/3; V1 = 2/3, V2 = V0 = -1/3, VA ~ 0.
  EXPECT_EQ(r.currents.i0, r.currents.i1);
  EXPECT_EQ(r.currents.i2, r.currents.i1);
  EXPECT_NEAR(r.currents.i1.im, -10.0 / 3.0, 1e-5);
  EXPECT_EQ(r.currents.i1.re, 0.0f);
  EXPECT_NEAR(r.v1[0].re, 2.0 / 3.0, 1e-6);
  EXPECT_NEAR(r.v2[0].re, -1.0 / 3.0, 1e-6);
  EXPECT_NEAR(std::hypot(r.va[0].re, r.va[0].im), 0.0, 1e-6);
  EXPECT_NEAR(std::hypot(r.vb[0].re, r.vb[0].im), 1.0, 1e-6);
  EXPECT_NEAR(std::hypot(r.vc[0].re, r.vc[0].im), 1.0, 1e-6);
}

TEST(NativeExamples, DecoupledMatricesOfThreeNodes) {
  Workspace ws;
  const std::vector<std::int32_t> from{1, 2}, to{2, 3};
  const std::vector<float> r{0.0f, 0.0f}, x{0.1f, 0.2f}, t{1.0f, 1.0f};
  const DecoupledMatrices m = FastDecoupledMatrices(ws, 3, 1, {from, to, r, x, t});
  EXPECT_EQ(m.first.irow, (std::vector<std::int32_t>{1, 2, 1, 2}));
  EXPECT_EQ(m.first.jcol, (std::vector<std::int32_t>{1, 2, 2, 1}));
  ASSERT_EQ(m.first.nz(), 4);
  EXPECT_FLOAT_EQ(m.first.value[0], 10.0f);
  EXPECT_FLOAT_EQ(m.first.value[1], 15.0f);
  EXPECT_FLOAT_EQ(m.first.value[2], -10.0f);
  EXPECT_FLOAT_EQ(m.first.value[3], -10.0f);
  ASSERT_EQ(m.second.nz(), 1);
  EXPECT_FLOAT_EQ(m.second.value[0], 10.0f);
  EXPECT_EQ(m.second.n, 1);
}

// Three nodes, branches 1-2 (Z = j0.5) and 2-3 (Z = j1), end admittances
// j0.25: node 3 removed, then also the order of nodes 1 and 2 exchanged.
TEST(NativeExamples, ReductionOfThreeNodes) {
  Workspace ws;
  const std::vector<std::int32_t> from{1, 2}, to{2, 3};
  const std::vector<Complex> z{{0.0f, 0.5f}, {0.0f, 1.0f}}, y{{0.0f, 0.25f}, {0.0f, 0.25f}};
  const RowIndexed m = AssembleAdmittance(ws, 3, {from, to, z, y, y}).row_indexed;
  const Admittance r = ReduceAdmittance(ws, m, 3, std::vector<std::int32_t>{1, 2}, std::vector<std::int32_t>{1, 2, 0});
  EXPECT_EQ(r.row_indexed.ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
  EXPECT_EQ(r.triplets.irow, (std::vector<std::int32_t>{1, 2, 1, 2}));
  EXPECT_EQ(r.triplets.jcol, (std::vector<std::int32_t>{1, 2, 2, 1}));
  EXPECT_EQ(r.triplets.value[0], (Complex{0.0f, -1.75f}));
  EXPECT_EQ(r.triplets.value[1], (Complex{0.0f, -2.5f}));
  EXPECT_EQ(r.triplets.value[2], (Complex{0.0f, 2.0f}));
  const Admittance s = ReduceAdmittance(ws, m, 3, std::vector<std::int32_t>{2, 1}, std::vector<std::int32_t>{2, 1, 0});
  EXPECT_EQ(s.triplets.value[0], (Complex{0.0f, -2.5f}));
  EXPECT_EQ(s.row_indexed.ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
  // The same with node 3 flagged: the triplets of the first reduction.
  const TripletMatrix<Complex> t = ReduceTriplets(ws, m, std::vector<std::int32_t>{0, 0, 1},
                                                  std::vector<std::int32_t>{1, 2}, std::vector<std::int32_t>{1, 2, 0});
  EXPECT_EQ(t.irow, r.triplets.irow);
  EXPECT_EQ(t.jcol, r.triplets.jcol);
  EXPECT_EQ(t.value[3], r.triplets.value[3]);
}

TEST(NativeExamples, AdjacencyAndOrderingOfATriangle) {
  Workspace ws;
  const std::vector<std::int32_t> from{1, 2}, to{2, 3};
  const Adjacency adj = BuildAdjacency(ws, 3, from, to);
  ASSERT_EQ(adj.ija.size(), 8u);
  EXPECT_EQ((std::vector<std::int32_t>(adj.ija.begin(), adj.ija.begin() + 4)), (std::vector<std::int32_t>{5, 6, 8, 9}));
  EXPECT_EQ(adj.ija[4], 2);
  EXPECT_EQ(adj.ibr[4], 1);
  EXPECT_EQ(adj.ija[7], 2);
  EXPECT_EQ(adj.ibr[7], 2);

  const std::vector<std::int32_t> f3{1, 2, 1}, t3{2, 3, 3};
  const Adjacency tri = BuildAdjacency(ws, 3, f3, t3);
  const ComponentOrdering o = OrderComponents(ws, tri, f3, t3);
  ASSERT_EQ(o.nc(), 1);
  EXPECT_EQ(o.cnt_nodes[0], 3);
  EXPECT_EQ(o.cnt_branches[0], 3);
  EXPECT_EQ(o.ord[0], 1);
  EXPECT_EQ(o.bl[2], 2); // the chord
  ASSERT_EQ(o.components[0].chords(), 1);
  // The chord 2-3 joins the positions of nodes 2 and 3.
  const Component &c = o.components[0];
  EXPECT_EQ(c.nodes[static_cast<std::size_t>(c.end1[2])], 2);
  EXPECT_EQ(c.nodes[static_cast<std::size_t>(c.end2[0])], 3);

  // Two components: 1-2 and 3-4.
  const std::vector<std::int32_t> f4{1, 3}, t4{2, 4};
  const ComponentOrdering two = OrderComponents(ws, BuildAdjacency(ws, 4, f4, t4), f4, t4);
  EXPECT_EQ(two.cnt_nodes, (std::vector<std::int32_t>{2, 4}));
  EXPECT_EQ(two.cnt_branches, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(two.ord, (std::vector<std::int32_t>{1, 2, 3, 4}));
}

TEST(NativeExamples, OneEntryFactorization) {
  Workspace ws;
  const FactorSet<float> f = Factor(ws, TripletMatrix<float>{1, {1}, {1}, {4.0f}});
  EXPECT_EQ(f.nl, 0);
  EXPECT_EQ(f.nfac, 1);
  EXPECT_EQ(Solve(ws, f, std::vector<float>{2.0f}), (std::vector<float>{0.5f}));
  // A diagonal complex matrix: each entry divided by its diagonal.
  const FactorSet<Complex> d =
      Factor(ws, TripletMatrix<Complex>{2, {1, 2}, {1, 2}, {{2.0f, 0.0f}, {0.0f, 4.0f}}});
  const std::vector<Complex> x = Solve(ws, d, std::vector<Complex>{{1.0f, 0.0f}, {1.0f, 0.0f}});
  EXPECT_EQ(x[0], (Complex{0.5f, 0.0f}));
  EXPECT_EQ(x[1], (Complex{0.0f, -0.25f}));
}

TEST(NativeExamples, SharedFactorSetsGiveTheSameStudyAsCopies) {
  ORVEK_LOAD_NET(t, "case118");
  Workspace ws;
  const Shunts s1 = GeneratorShunts(t, -5.0f);
  const FactorSet<Complex> f = Factor(ws, AssembleAdmittance(ws, t.n, t.branches(), s1.view()).triplets);
  const FactorSet<Complex> g = f, h = f;
  for (const std::int32_t itype : {1, 3, 4}) {
    const std::vector<FaultCurrents> shared = FaultStudy(ws, itype, {f, f, f}, t.ub, t.e);
    const std::vector<FaultCurrents> copies = FaultStudy(ws, itype, {g, f, h}, t.ub, t.e);
    ASSERT_EQ(shared.size(), copies.size());
    EXPECT_EQ(std::memcmp(shared.data(), copies.data(), shared.size() * sizeof shared[0]), 0) << "type " << itype;
  }
}

} // namespace
} // namespace orvek::test::native
