// The admittance matrices of real networks (the cases that fit the
// capacities), assembled by MatricaY, factored by LUC and solved by BSC for
// both paths; the real susceptance matrix through LUR and BSR. Checked
// against double-precision residuals and the rebuilt product, with the
// layout of every factor set.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sparse_test_util.hpp"
#include "tools/casefile/matpower.hpp"

namespace orvek::test {
namespace {

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

// The admittance matrix of a case as MatricaY assembles it.
TripletMatrix<Complex> Admittance(const std::string &file) {
  const auto net = casefile::BuildNetwork(casefile::ReadCase(CasesDir() + "/" + file));
  const auto h = casefile::MakeHostArrays(net);
  std::vector<std::int32_t> irow(kMaxNonzeros), jcol(kMaxNonzeros), ija(kMaxNonzeros + 1);
  std::vector<float> a(2 * kLdNonzero), sa(2 * kLdNonzero);
  std::int32_t nz = 0, n = h.n, nb = h.nb, nsh = h.nsh;
  MatricaY(h.bsh.data(), h.ksh.data(), &nsh, &n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &nb,
           irow.data(), jcol.data(), a.data(), &nz, sa.data(), ija.data());
  TripletMatrix<Complex> m;
  m.n = n;
  for (std::int32_t k = 0; k < nz; ++k) m.add(irow[k], jcol[k], {a[k], a[kLdNonzero + k]});
  return m;
}

class Networks : public ::testing::TestWithParam<const char *> {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(CasesDir() + "/" + GetParam())) GTEST_SKIP() << "no case " << GetParam();
  }
};

TEST_P(Networks, ComplexAdmittanceFactorsAndSolves) {
  const auto m = Admittance(GetParam());
  ASSERT_GT(m.nz(), m.n);
  std::int32_t n = m.n, nz = m.nz(), nfac = 0, nl = 0;
  std::vector<float> a(2 * kLdNonzero), fac(2 * kLdFactor);
  for (std::int32_t k = 0; k < nz; ++k) {
    a[k] = m.a[k].re;
    a[kLdNonzero + k] = m.a[k].im;
  }
  std::vector<std::int32_t> irow = m.irow, jcol = m.jcol, irfac(3 * nz), jcfac(3 * nz), ipvt(n), jpvt(n),
                            iparam(6, 0);
  std::vector<float> rparam(5);
  LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
      irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
  FactorSet<Complex> f;
  f.nfac = nfac;
  f.nl = nl;
  for (std::int32_t k = 0; k < nfac; ++k) f.fac.push_back({fac[k], fac[kLdFactor + k]});
  f.irfac.assign(irfac.begin(), irfac.begin() + nfac);
  f.jcfac.assign(jcfac.begin(), jcfac.begin() + nfac);
  f.ipvt = ipvt;
  f.jpvt = jpvt;
  ExpectFactorLayout(f, n);
  EXPECT_LT(ProductError(m, f), 64.0);
  EXPECT_EQ(iparam[3], nfac) << "peak";
  for (std::int32_t ipath : {1, 2}) {
    // A unit current injected at each of a few nodes, and a random vector.
    for (std::int32_t node : {1, n / 2 + 1, n}) {
      std::vector<float> b(2 * kLdNode, 0.0f), x(2 * kLdNode, -1.0f);
      b[node - 1] = 1.0f;
      BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
          x.data());
      std::vector<Complex> xc, bc;
      for (std::int32_t i = 0; i < n; ++i) {
        xc.push_back({x[i], x[kLdNode + i]});
        bc.push_back({b[i], b[kLdNode + i]});
      }
      EXPECT_LT(FactorResidualRatio(m, f, xc, bc, ipath), 16.0) << "node " << node << " ipath " << ipath;
      EXPECT_LT(ResidualRatio(m, xc, bc, ipath), 64.0 * std::max(1.0f, rparam[3]))
          << "node " << node << " ipath " << ipath;
    }
  }
}

TEST_P(Networks, RealSusceptanceFactorsAndSolves) {
  const auto c = Admittance(GetParam());
  TripletMatrix<float> m;
  m.n = c.n;
  for (std::int32_t k = 0; k < c.nz(); ++k) m.add(c.irow[k], c.jcol[k], -c.a[k].im);
  std::int32_t n = m.n, nz = m.nz(), nfac = 0, nl = 0;
  std::vector<float> fac(3 * nz);
  std::vector<std::int32_t> irfac(3 * nz), jcfac(3 * nz), ipvt(n), jpvt(n), iparam(6, 0);
  std::vector<float> rparam(5);
  LUR(&n, &nz, m.a.data(), m.irow.data(), m.jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
      irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
  FactorSet<float> f;
  f.nfac = nfac;
  f.nl = nl;
  f.fac.assign(fac.begin(), fac.begin() + nfac);
  f.irfac.assign(irfac.begin(), irfac.begin() + nfac);
  f.jcfac.assign(jcfac.begin(), jcfac.begin() + nfac);
  f.ipvt = ipvt;
  f.jpvt = jpvt;
  ExpectFactorLayout(f, n);
  EXPECT_LT(ProductError(m, f), 64.0);
  const auto b = RandomVector<float>(n, 12);
  for (std::int32_t ipath : {1, 2}) {
    std::vector<float> x(n);
    BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
    EXPECT_LT(FactorResidualRatio(m, f, x, b, ipath), 16.0) << "ipath " << ipath;
    EXPECT_LT(ResidualRatio(m, x, b, ipath), 64.0 * std::max(1.0f, rparam[3])) << "ipath " << ipath;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Networks,
                         ::testing::Values("case9.m", "case14.m", "case30.m", "case57.m", "case89pegase.m",
                                           "case118.m", "case_ACTIVSg200.m", "case300.m", "case_ACTIVSg500.m"),
                         [](const auto &info) {
                           std::string s = info.param;
                           s = s.substr(0, s.find('.'));
                           for (auto &ch : s)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return s;
                         });

} // namespace
} // namespace orvek::test
