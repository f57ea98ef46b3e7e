// Networks beyond the exported routines' capacities: the fault-study road
// and the fast decoupled road run natively and are compared with
// independent double-precision results: scaled residuals of every solve
// against the factored matrix in double, fault currents at a sample of
// nodes against the admittance matrix assembled independently in double
// and solved by iterative refinement to double accuracy.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "native_test_util.hpp"

namespace orvek::test::native {
namespace {

constexpr double kEps = 5.9604644775390625e-08; // 2^-24, the unit roundoff of single precision
// Scaled residual ||b - A x|| / (||A|| ||x|| eps) of a backward-stable solve
// with threshold pivoting stays a modest multiple of unit roundoff (up to
// about 17 on these networks); the bound leaves room for the growth the
// pivot threshold 10 allows.
constexpr double kResidualBound = 100.0;
// Relative accuracy of single-precision fault currents: the driving-point
// impedance loses about log10(condition) of the seven digits single
// precision carries (up to 7e-5 observed on these networks); at least
// three correct digits and a half must remain.
constexpr double kCurrentTolerance = 5.0e-4;

const char *const kLargeCases[] = {"case1354pegase", "case2383wp", "case9241pegase"};

template <class T> double ScaledResidual(const DoubleMatrix &a, std::span<const T> x, std::span<const T> b) {
  std::vector<cd> xd(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) xd[i] = ToDouble(x[i]);
  const std::vector<cd> ax = a.times(xd);
  double rn = 0, xn = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    rn = std::max(rn, std::abs(ToDouble(b[i]) - ax[i]));
    xn = std::max(xn, std::abs(xd[i]));
  }
  return rn / (a.norm_inf() * xn * kEps);
}

class LargeNetworks : public testing::TestWithParam<const char *> {};

TEST_P(LargeNetworks, FaultStudyRoadAgainstDoubleReference) {
  ORVEK_LOAD_NET(t, GetParam());
  ASSERT_FALSE(t.fits) << "expected a network beyond the capacities";
  Workspace ws;
  const Shunts s1 = GeneratorShunts(t, -5.0f), s0 = GeneratorShunts(t, -10.0f);
  const Admittance y1 = AssembleAdmittance(ws, t.n, t.branches(), s1.view());
  const Admittance y0 = AssembleAdmittance(ws, t.n, t.zero_branches(), s0.view());
  const FactorSet<Complex> f1 = Factor(ws, y1.triplets), f0 = Factor(ws, y0.triplets);
  ASSERT_TRUE(f1.complete() && f0.complete());
  EXPECT_TRUE(f1.warnings.empty());
  EXPECT_GT(f1.nfac, y1.triplets.nz());
  RecordProperty("fill_in", std::to_string(FillIn(f1, y1.triplets)));

  // Residuals of plain and conjugate-transposed solves with the factored matrix.
  const DoubleMatrix a1 = FromTriplets(y1.triplets);
  DoubleMatrix a1h;
  a1h.n = a1.n;
  a1h.rows.resize(a1.rows.size());
  for (std::size_t i = 0; i < a1.rows.size(); ++i)
    for (const auto &[c, v] : a1.rows[i])
      a1h.rows[static_cast<std::size_t>(c - 1)].emplace_back(static_cast<std::int32_t>(i + 1), std::conj(v));
  std::vector<Complex> b(static_cast<std::size_t>(t.n));
  for (std::size_t i = 0; i < b.size(); ++i)
    b[i] = {std::sin(static_cast<float>(i) * 0.37f), std::cos(static_cast<float>(i) * 0.11f)};
  const std::vector<Complex> x = Solve(ws, f1, b), xh = Solve(ws, f1, b, Path::kTransposed);
  EXPECT_LT((ScaledResidual<Complex>(a1, x, b)), kResidualBound);
  EXPECT_LT((ScaledResidual<Complex>(a1h, xh, b)), kResidualBound);

  // Fault currents at a sample of nodes against the double reference.
  std::vector<std::int32_t> sample;
  for (std::int32_t k = 1; k <= t.n; k += t.n / 9) sample.push_back(k);
  const std::vector<FaultCurrents> three = FaultStudy(ws, kThreePhase, {f0, f1, f1}, t.ub, t.e, sample);
  const std::vector<FaultCurrents> single = FaultStudy(ws, kSinglePhaseToEarth, {f0, f1, f1}, t.ub, t.e, sample);
  const DoubleMatrix d1 = AdmittanceInDouble(t.n, t.branches(), s1.view());
  const DoubleMatrix d0 = AdmittanceInDouble(t.n, t.zero_branches(), s0.view());
  for (std::size_t j = 0; j < sample.size(); ++j) {
    const auto k = static_cast<std::size_t>(sample[j] - 1);
    std::vector<cd> unit(static_cast<std::size_t>(t.n), 0.0);
    unit[k] = 1.0;
    double res1 = 0, res0 = 0;
    const cd z1 = RefinedSolve(ws, d1, f1, unit, res1)[k];
    const cd z0 = RefinedSolve(ws, d0, f0, unit, res0)[k];
    ASSERT_LT(res1, 1e-13) << "reference not converged at node " << k + 1;
    ASSERT_LT(res0, 1e-13) << "reference not converged at node " << k + 1;
    const cd e = ToDouble(t.e[k]);
    const cd i1_three = e / z1;
    const cd i1_single = e / (z1 + z1 + z0);
    const cd got3 = ToDouble(three[j].i1), got1 = ToDouble(single[j].i1), got0 = ToDouble(single[j].i0);
    EXPECT_LT(std::abs(got3 - i1_three) / std::abs(i1_three), kCurrentTolerance) << "three-phase at " << k + 1;
    EXPECT_LT(std::abs(got1 - i1_single) / std::abs(i1_single), kCurrentTolerance) << "single-phase at " << k + 1;
    // Single-phase: I0 = I1 = I2 exactly (C0 = C2 = 1).
    EXPECT_EQ(got0, got1);
    EXPECT_EQ(three[j].i0, (Complex{0.0f, 0.0f}));
  }
}

TEST_P(LargeNetworks, FastDecoupledRoadResiduals) {
  auto opt = LoadNet(GetParam(), casefile::NodeOrder::kPowerFlow);
  if (!opt) GTEST_SKIP() << "case not found";
  const TestNet &t = *opt;
  Workspace ws;
  const DecoupledMatrices m = FastDecoupledMatrices(ws, t.n, t.net.npq, t.decoupled());
  ASSERT_EQ(m.first.n, t.n - 1);
  ASSERT_EQ(m.second.n, t.net.npq);
  for (const TripletMatrix<float> *a : {&m.first, &m.second}) {
    const FactorSet<float> f = Factor(ws, *a);
    ASSERT_TRUE(f.complete());
    const DoubleMatrix d = FromTriplets(*a);
    std::vector<float> b(static_cast<std::size_t>(a->n));
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::cos(static_cast<float>(i) * 0.7f);
    // The same solution through b and x as one array.
    std::vector<float> x = Solve(ws, f, b), inplace = b;
    Solve(ws, f, inplace, inplace);
    EXPECT_EQ(x, inplace);
    EXPECT_LT((ScaledResidual<float>(d, x, b)), kResidualBound);
    const std::vector<float> xt = Solve(ws, f, b, Path::kTransposed);
    DoubleMatrix dt;
    dt.n = d.n;
    dt.rows.resize(d.rows.size());
    for (std::size_t i = 0; i < d.rows.size(); ++i)
      for (const auto &[c, v] : d.rows[i]) dt.rows[static_cast<std::size_t>(c - 1)].emplace_back(static_cast<std::int32_t>(i + 1), v);
    EXPECT_LT((ScaledResidual<float>(dt, xt, b)), kResidualBound);
  }
  // The first matrix against an independent double assembly of X/(R²+X²):
  // its row sums vanish except at neighbours of the reference node.
  std::vector<double> diag(static_cast<std::size_t>(t.n), 0.0);
  for (std::size_t b = 0; b < t.from.size(); ++b) {
    const double r = t.r[b], x = t.x[b], g = x / (x * x + r * r);
    diag[static_cast<std::size_t>(t.from[b] - 1)] += g;
    diag[static_cast<std::size_t>(t.to[b] - 1)] += g;
  }
  for (std::int32_t i = 1; i <= m.first.n; ++i) {
    const double got = m.first.value[static_cast<std::size_t>(i - 1)], want = diag[static_cast<std::size_t>(i - 1)];
    ASSERT_NEAR(got, want, 1e-5 * std::abs(want) + 1e-30) << "diagonal " << i;
  }
}

TEST_P(LargeNetworks, TopologyOfTheWholeNetwork) {
  ORVEK_LOAD_NET(t, GetParam());
  Workspace ws;
  const Adjacency adj = BuildAdjacency(ws, t.n, t.from, t.to);
  const ComponentOrdering o = OrderComponents(ws, adj, t.from, t.to);
  // Every node once, every branch once; per component nodes - 1 tree branches.
  std::vector<int> seen(static_cast<std::size_t>(t.n), 0), used(static_cast<std::size_t>(t.nb), 0);
  for (const std::int32_t v : o.ord) ++seen[static_cast<std::size_t>(v - 1)];
  for (const std::int32_t b : o.bl) ++used[static_cast<std::size_t>(b - 1)];
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), t.n);
  EXPECT_EQ(std::count(used.begin(), used.end(), 1), t.nb);
  std::int32_t chords = 0;
  for (const Component &c : o.components) chords += c.chords();
  EXPECT_EQ(chords, t.nb - t.n + o.nc());
  // Tree branch k of a component joins its parent position and position k.
  for (const Component &c : o.components) {
    for (std::size_t k = 1; k < c.nodes.size(); ++k) {
      const std::int32_t b = c.branches[k - 1];
      const std::int32_t u = c.nodes[static_cast<std::size_t>(c.end1[k - 1])], v = c.nodes[k];
      const std::int32_t p = t.from[static_cast<std::size_t>(b - 1)], q = t.to[static_cast<std::size_t>(b - 1)];
      ASSERT_TRUE((u == p && v == q) || (u == q && v == p)) << "tree branch " << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LargeNetworks, testing::ValuesIn(kLargeCases),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

} // namespace
} // namespace orvek::test::native
