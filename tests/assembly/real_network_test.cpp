// Real networks: the admittance matrix of every case that fits the
// capacities, assembled by MatricaY from the case reader's host arrays and
// compared entry by entry with a double-precision dense assembly of the same
// data; the row-indexed form against the triplet list; MatY and MatYsa
// against MatricaY without shunts; the reduction of the reference node by
// MatricaYR and MatYR. The largest deviations are printed for the record.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "dense_reference.hpp"
#include "tools/casefile/matpower.hpp"

namespace {

namespace cf = orvek::casefile;
using orvek::test::BuildDenseReference;
using orvek::test::CompareWithReference;
using orvek::test::ExpectRowIndexedMatches;
using orvek::test::HostNetwork;
using orvek::test::OutputArrays;
using orvek::test::ReductionInput;
using orvek::test::Triplets;

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

HostNetwork FromHostArrays(const cf::HostArrays &h) {
  HostNetwork net;
  net.n = h.n;
  net.nb = h.nb;
  net.z = h.z;
  net.ya = h.ya;
  net.yb = h.yb;
  net.nodes = h.nodes;
  net.bsh = h.bsh;
  net.ksh = h.ksh;
  return net;
}

// Relative deviation of the float assembly from the case's own double
// pi-equivalents (input rounding included), scaled by the row's largest entry.
double DeviationFromCaseData(const cf::Network &net, const Triplets &t) {
  const std::int32_t n = net.n;
  std::vector<std::complex<double>> y(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  const auto at = [n](std::int32_t i, std::int32_t k) {
    return static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(k - 1);
  };
  for (std::int32_t i = 1; i <= n; ++i) y[at(i, i)] += std::complex<double>(0.0, net.bs[static_cast<std::size_t>(i - 1)]);
  for (const cf::NetworkBranch &b : net.branches) {
    const std::complex<double> ys = 1.0 / b.z;
    y[at(b.from, b.from)] += ys + b.ya;
    y[at(b.to, b.to)] += ys + b.yb;
    y[at(b.from, b.to)] -= ys;
    y[at(b.to, b.from)] -= ys;
  }
  std::vector<double> row_max(static_cast<std::size_t>(n), 0.0);
  for (std::int32_t i = 1; i <= n; ++i) {
    for (std::int32_t k = 1; k <= n; ++k) row_max[static_cast<std::size_t>(i - 1)] = std::max(row_max[static_cast<std::size_t>(i - 1)], std::abs(y[at(i, k)]));
  }
  double worst = 0.0;
  for (std::int32_t k = 0; k < t.nz; ++k) {
    const auto u = static_cast<std::size_t>(k);
    const std::complex<double> f(t.a[u].re, t.a[u].im);
    worst = std::max(worst, std::abs(f - y[at(t.irow[u], t.jcol[u])]) / row_max[static_cast<std::size_t>(t.irow[u] - 1)]);
  }
  return worst;
}

class RealNetworks : public ::testing::TestWithParam<const char *> {};

TEST_P(RealNetworks, MatricaYAgreesWithDoubleAssembly) {
  const std::string path = CasesDir() + "/" + GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " not found";
  const cf::Network net = cf::BuildNetwork(cf::ReadCase(path));
  const HostNetwork host = FromHostArrays(cf::MakeHostArrays(net));
  ASSERT_EQ(host.n, net.n);

  const OutputArrays o = orvek::test::RunMatricaY(host);
  const Triplets t = o.triplets();
  ASSERT_EQ(t.nz, cf::CountMatrixEntries(net));
  const auto d = CompareWithReference(t, BuildDenseReference(host));
  ExpectRowIndexedMatches(host.n, t, o.row_indexed());
  const double from_case = DeviationFromCaseData(net, t);
  EXPECT_LT(from_case, 1e-5);
  std::printf("[ %s ] N = %d, NB = %d, NZ = %d: max relative error %.3g (%.3g of the rounding bound); "
              "against the case's double data, row-scaled %.3g\n",
              GetParam(), host.n, host.nb, t.nz, d.max_relative, d.max_bound_ratio, from_case);

  // Without shunts the three branch-only forms agree with MatricaY exactly.
  HostNetwork bare = host;
  bare.bsh.clear();
  bare.ksh.clear();
  const OutputArrays plain = orvek::test::RunMatricaY(bare);
  const OutputArrays sa = orvek::test::RunMatYsa(bare);
  const OutputArrays y = orvek::test::RunMatY(bare);
  EXPECT_EQ(plain.irow, sa.irow);
  EXPECT_EQ(plain.irow, y.irow);
  EXPECT_EQ(plain.jcol, y.jcol);
  EXPECT_EQ(plain.a, y.a);
  EXPECT_EQ(plain.a, sa.a);
  EXPECT_EQ(plain.ija, sa.ija);
  EXPECT_EQ(plain.sa, sa.sa);

  // Removing the reference node: MatricaYR and MatYR agree and keep values.
  const std::int32_t kref = net.reference;
  const std::int32_t n = host.n - 1;
  std::vector<std::int32_t> iold, inew(static_cast<std::size_t>(host.n), 0), idrop(static_cast<std::size_t>(host.n), 0);
  for (std::int32_t c = 1; c <= host.n; ++c) {
    if (c == kref) continue;
    iold.push_back(c);
    inew[static_cast<std::size_t>(c - 1)] = static_cast<std::int32_t>(iold.size());
  }
  idrop[static_cast<std::size_t>(kref - 1)] = 1;
  const ReductionInput in = ReductionInput::From(o);
  const OutputArrays r = orvek::test::RunMatricaYR(kref, in, iold, inew, n);
  const OutputArrays ry = orvek::test::RunMatYR(host.n, idrop, in, iold, inew, n);
  EXPECT_EQ(r.nz, ry.nz);
  EXPECT_EQ(r.irow, ry.irow);
  EXPECT_EQ(r.jcol, ry.jcol);
  EXPECT_EQ(r.a, ry.a);
  std::int32_t dropped = 0;
  for (std::int32_t k = host.n; k < t.nz; ++k) {
    if (t.irow[static_cast<std::size_t>(k)] == kref || t.jcol[static_cast<std::size_t>(k)] == kref) ++dropped;
  }
  EXPECT_EQ(r.nz, t.nz - 1 - dropped);
  ExpectRowIndexedMatches(n, r.triplets(), r.row_indexed());
}

INSTANTIATE_TEST_SUITE_P(Cases, RealNetworks,
                         ::testing::Values("case9.m", "case14.m", "case30.m", "case57.m", "case89pegase.m",
                                           "case118.m", "case_ACTIVSg200.m", "case300.m", "case_ACTIVSg500.m"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                           std::string s = info.param;
                           s = s.substr(0, s.size() - 2);
                           std::replace(s.begin(), s.end(), '_', 'x');
                           return s;
                         });

} // namespace
