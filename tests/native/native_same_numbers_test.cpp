// The same numbers: for every test network within the exported routines'
// capacities, native calls and exported routines give bit-identical
// results (assembly in both forms, factor sets, solves, fault currents and
// voltages, branch and node quantities, decoupled matrices, topology).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "native_test_util.hpp"

namespace orvek::test::native {
namespace {

constexpr std::int32_t LDB = ORVEK_LD_BRANCH, LDN = ORVEK_LD_NODE, LDZ = ORVEK_LD_NONZERO, LDF = ORVEK_LD_FACTOR;

const char *const kSmallCases[] = {"case9", "case14", "case30", "case57", "case89pegase", "case118",
                                   "case_ACTIVSg200", "case300", "case_ACTIVSg500"};

template <std::int32_t LD> std::vector<float> Split(std::span<const Complex> v) {
  std::vector<float> s(2 * LD, 0.0f);
  for (std::size_t i = 0; i < v.size(); ++i) {
    s[i] = v[i].re;
    s[LD + i] = v[i].im;
  }
  return s;
}

template <std::int32_t LD> void ExpectSplitEqual(const std::vector<float> &host, std::span<const Complex> v,
                                                 const std::string &what) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    ASSERT_TRUE(SameBits(host[i], v[i].re) && SameBits(host[LD + i], v[i].im))
        << what << " differs at entry " << i + 1;
  }
}

class SameNumbers : public testing::TestWithParam<const char *> {};

TEST_P(SameNumbers, AssemblyInBothForms) {
  ORVEK_LOAD_NET(t, GetParam());
  if (!t.fits) GTEST_SKIP();
  Workspace ws;
  const casefile::HostArrays &h = t.host;
  const Admittance y = AssembleAdmittance(ws, t.n, t.branches(), {h.ksh, h.bsh});
  std::vector<std::int32_t> irow(LDZ), jcol(LDZ), ija(LDZ);
  std::vector<float> a(2 * LDZ), sa(2 * LDZ);
  std::int32_t nz = 0;
  MatricaY(h.bsh.data(), h.ksh.data(), &h.nsh, &h.n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &h.nb,
           irow.data(), jcol.data(), a.data(), &nz, sa.data(), ija.data());
  ASSERT_EQ(nz, y.triplets.nz());
  EXPECT_EQ(std::vector<std::int32_t>(irow.begin(), irow.begin() + nz), y.triplets.irow);
  EXPECT_EQ(std::vector<std::int32_t>(jcol.begin(), jcol.begin() + nz), y.triplets.jcol);
  ExpectSplitEqual<LDZ>(a, y.triplets.value, "A");
  EXPECT_EQ(std::vector<std::int32_t>(ija.begin(), ija.begin() + nz + 1), y.row_indexed.ija);
  ExpectSplitEqual<LDZ>(sa, y.row_indexed.sa, "SA");

  // Triplets only, all in service and with every seventh branch opened.
  const TripletMatrix<Complex> t1 = AssembleTriplets(ws, t.n, t.branches());
  MatY(&h.n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &h.nb, irow.data(), jcol.data(), a.data(), &nz);
  ASSERT_EQ(nz, t1.nz());
  EXPECT_EQ(std::vector<std::int32_t>(irow.begin(), irow.begin() + nz), t1.irow);
  ExpectSplitEqual<LDZ>(a, t1.value, "MatY A");
  std::vector<std::int32_t> status(static_cast<std::size_t>(t.nb), 1);
  for (std::size_t b = 0; b < status.size(); b += 7) status[b] = 0;
  const TripletMatrix<Complex> t2 = AssembleTriplets(ws, t.n, t.branches(), status);
  MatY_prekin(&h.n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), status.data(), &h.nb, irow.data(),
              jcol.data(), a.data(), &nz);
  ASSERT_EQ(nz, t2.nz());
  EXPECT_EQ(std::vector<std::int32_t>(jcol.begin(), jcol.begin() + nz), t2.jcol);
  ExpectSplitEqual<LDZ>(a, t2.value, "MatY_prekin A");
}

// Reductions of the assembled matrix: the reference node removed with the
// other nodes in reverse order (MatricaYR), and every fifth node removed
// with the rest in their order (MatYR).
TEST_P(SameNumbers, Reductions) {
  ORVEK_LOAD_NET(t, GetParam());
  if (!t.fits) GTEST_SKIP();
  Workspace ws;
  const casefile::HostArrays &h = t.host;
  const RowIndexed y = AssembleAdmittance(ws, t.n, t.branches(), {h.ksh, h.bsh}).row_indexed;
  const std::vector<float> sa = Split<LDZ>(y.sa);
  std::vector<std::int32_t> ija = y.ija;
  ija.resize(LDZ);
  std::vector<std::int32_t> irow(LDZ), jcol(LDZ), ijar(LDZ);
  std::vector<float> a(2 * LDZ), sar(2 * LDZ);
  std::int32_t nz = 0;

  const std::int32_t kref = (t.n + 1) / 2, n = t.n - 1;
  std::vector<std::int32_t> iold, inew(static_cast<std::size_t>(t.n), 0);
  for (std::int32_t c = t.n; c >= 1; --c)
    if (c != kref) {
      iold.push_back(c);
      inew[static_cast<std::size_t>(c - 1)] = static_cast<std::int32_t>(iold.size());
    }
  const Admittance r = ReduceAdmittance(ws, y, kref, iold, inew);
  MatricaYR(&kref, sa.data(), ija.data(), iold.data(), inew.data(), &n, sar.data(), ijar.data(), irow.data(),
            jcol.data(), a.data(), &nz);
  ASSERT_EQ(nz, r.triplets.nz());
  EXPECT_EQ(r.triplets.n, n);
  EXPECT_EQ(std::vector<std::int32_t>(irow.begin(), irow.begin() + nz), r.triplets.irow);
  EXPECT_EQ(std::vector<std::int32_t>(jcol.begin(), jcol.begin() + nz), r.triplets.jcol);
  ExpectSplitEqual<LDZ>(a, r.triplets.value, "MatricaYR A");
  EXPECT_EQ(std::vector<std::int32_t>(ijar.begin(), ijar.begin() + nz + 1), r.row_indexed.ija);
  ExpectSplitEqual<LDZ>(sar, r.row_indexed.sa, "MatricaYR SAR");

  std::vector<std::int32_t> idrop(static_cast<std::size_t>(t.n), 0), kept;
  std::fill(inew.begin(), inew.end(), 0);
  for (std::int32_t c = 1; c <= t.n; ++c) {
    if (c % 5 == 0) {
      idrop[static_cast<std::size_t>(c - 1)] = 1;
      continue;
    }
    kept.push_back(c);
    inew[static_cast<std::size_t>(c - 1)] = static_cast<std::int32_t>(kept.size());
  }
  const std::int32_t nk = static_cast<std::int32_t>(kept.size());
  const TripletMatrix<Complex> d = ReduceTriplets(ws, y, idrop, kept, inew);
  MatYR(&t.n, idrop.data(), sa.data(), ija.data(), kept.data(), inew.data(), &nk, irow.data(), jcol.data(),
        a.data(), &nz);
  ASSERT_EQ(nz, d.nz());
  EXPECT_EQ(std::vector<std::int32_t>(irow.begin(), irow.begin() + nz), d.irow);
  EXPECT_EQ(std::vector<std::int32_t>(jcol.begin(), jcol.begin() + nz), d.jcol);
  ExpectSplitEqual<LDZ>(a, d.value, "MatYR A");
}

TEST_P(SameNumbers, FactorSolveAndFaultRoad) {
  ORVEK_LOAD_NET(t, GetParam());
  if (!t.fits) GTEST_SKIP();
  const Exports &lib = Exports::Library();
  ORVEK_EXPORT(lib, luc, LUC);
  ORVEK_EXPORT(lib, bsc, BSC);
  Workspace ws;
  const Shunts s1 = GeneratorShunts(t, -5.0f), s2 = GeneratorShunts(t, -4.0f), s0 = GeneratorShunts(t, -10.0f);
  const TripletMatrix<Complex> y1 = AssembleAdmittance(ws, t.n, t.branches(), s1.view()).triplets;
  const TripletMatrix<Complex> y2 = AssembleAdmittance(ws, t.n, t.branches(), s2.view()).triplets;
  const TripletMatrix<Complex> y0 = AssembleAdmittance(ws, t.n, t.zero_branches(), s0.view()).triplets;
  const FactorSet<Complex> f1 = Factor(ws, y1), f2 = Factor(ws, y2), f0 = Factor(ws, y0);

  // LUC on the same triplets: the same factor set, entry by entry.
  struct HostFactors {
    std::int32_t nfac = 0, nl = 0;
    std::vector<float> fac = std::vector<float>(2 * LDF);
    std::vector<std::int32_t> irfac = std::vector<std::int32_t>(LDF), jcfac = std::vector<std::int32_t>(LDF);
    std::vector<std::int32_t> ipvt, jpvt;
  };
  auto host_factor = [&](const TripletMatrix<Complex> &y) {
    HostFactors hf;
    hf.ipvt.resize(static_cast<std::size_t>(t.n));
    hf.jpvt.resize(static_cast<std::size_t>(t.n));
    std::vector<float> a = Split<LDZ>(y.value);
    std::vector<std::int32_t> irow = y.irow, jcol = y.jcol, iparam(6, 0);
    std::vector<float> rparam(5, 0.0f);
    const std::int32_t nz = y.nz();
    luc(&t.n, &nz, a.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &hf.nfac, &hf.nl,
        hf.fac.data(), hf.irfac.data(), hf.jcfac.data(), hf.ipvt.data(), hf.jpvt.data());
    return hf;
  };
  const HostFactors h1 = host_factor(y1), h2 = host_factor(y2), h0 = host_factor(y0);
  ASSERT_EQ(h1.nfac, f1.nfac);
  ASSERT_EQ(h1.nl, f1.nl);
  EXPECT_EQ(h1.ipvt, f1.ipvt);
  EXPECT_EQ(h1.jpvt, f1.jpvt);
  EXPECT_EQ(std::vector<std::int32_t>(h1.irfac.begin(), h1.irfac.begin() + h1.nfac), f1.irfac);
  EXPECT_EQ(std::vector<std::int32_t>(h1.jcfac.begin(), h1.jcfac.begin() + h1.nfac), f1.jcfac);
  ExpectSplitEqual<LDF>(h1.fac, f1.fac, "FAC");

  // The fault road at a sample of nodes: BSC three times, NaponiKV.
  std::vector<std::int32_t> sample;
  for (std::int32_t k = 1; k <= t.n; k += std::max(1, t.n / 12)) sample.push_back(k);
  for (const std::int32_t itype : {1, 2, 3, 4}) {
    const std::vector<FaultCurrents> native = FaultStudy(ws, itype, {f0, f1, f2}, t.ub, t.e, sample);
    for (std::size_t j = 0; j < sample.size(); ++j) {
      const std::int32_t k = sample[j];
      std::vector<Complex> unit(static_cast<std::size_t>(t.n));
      unit[static_cast<std::size_t>(k - 1)] = {1.0f, 0.0f};
      std::vector<float> b = Split<LDN>(unit), zc[3];
      const HostFactors *hs[3] = {&h0, &h1, &h2};
      const std::int32_t ipath = 1;
      for (int s = 0; s < 3; ++s) {
        zc[s].assign(2 * LDN, 0.0f);
        bsc(&t.n, &hs[s]->nfac, &hs[s]->nl, hs[s]->fac.data(), hs[s]->irfac.data(), hs[s]->jcfac.data(),
            hs[s]->ipvt.data(), hs[s]->jpvt.data(), b.data(), &ipath, zc[s].data());
      }
      // The native solve gives the same column.
      const std::vector<Complex> z1 = Solve(ws, f1, unit);
      ExpectSplitEqual<LDN>(zc[1], z1, "BSC column");
      std::vector<float> e = Split<LDN>(t.e), va(2 * LDN), vb(2 * LDN), vc(2 * LDN), ifs(6);
      NaponiKV(&t.n, &itype, &k, t.ub.data(), e.data(), zc[0].data(), zc[1].data(), zc[2].data(), va.data(),
               vb.data(), vc.data(), ifs.data());
      const FaultCurrents &c = native[j];
      ASSERT_TRUE(SameBits(ifs[0], c.i0.re) && SameBits(ifs[3], c.i0.im) && SameBits(ifs[1], c.i1.re) &&
                  SameBits(ifs[4], c.i1.im) && SameBits(ifs[2], c.i2.re) && SameBits(ifs[5], c.i2.im))
          << "fault type " << itype << " at node " << k;
      if (itype == 3 && j == 1) {
        // The single-node form gives the voltages of NaponiKV too.
        const std::vector<Complex> z0 = Solve(ws, f0, unit), z2 = Solve(ws, f2, unit);
        const FaultResult r = Fault(ws, itype, k, t.ub, t.e, z0, z1, z2);
        ExpectSplitEqual<LDN>(zc[1], r.v1, "V1");
        ExpectSplitEqual<LDN>(zc[0], r.v0, "V0");
        ExpectSplitEqual<LDN>(va, r.va, "VA");
        ExpectSplitEqual<LDN>(vc, r.vc, "VC");
      }
    }
  }

  // The conjugate-transposed solve matches BSC with IPATH = 2.
  std::vector<Complex> rhs(static_cast<std::size_t>(t.n));
  for (std::size_t i = 0; i < rhs.size(); ++i) rhs[i] = {1.0f / static_cast<float>(i + 1), 0.5f};
  const std::vector<Complex> xt = Solve(ws, f2, rhs, Path::kTransposed);
  std::vector<float> b = Split<LDN>(rhs), x(2 * LDN);
  const std::int32_t ipath = 2;
  bsc(&t.n, &h2.nfac, &h2.nl, h2.fac.data(), h2.irfac.data(), h2.jcfac.data(), h2.ipvt.data(), h2.jpvt.data(),
      b.data(), &ipath, x.data());
  ExpectSplitEqual<LDN>(x, xt, "BSC IPATH 2");
}

TEST_P(SameNumbers, BranchAndNodeQuantities) {
  ORVEK_LOAD_NET(t, GetParam());
  if (!t.fits) GTEST_SKIP();
  Workspace ws;
  const casefile::HostArrays &h = t.host;
  const std::vector<float> v = Split<LDN>(t.e);
  const BranchFlows cur = BranchCurrents(ws, t.branches(), t.e);
  const BranchFlows pow = BranchPowers(ws, t.branches(), t.e);
  std::vector<float> o1(2 * LDB), o2(2 * LDB);
  StruiKV(&h.nb, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &h.n, v.data(), o1.data(), o2.data());
  ExpectSplitEqual<LDB>(o1, cur.first, "IE1");
  ExpectSplitEqual<LDB>(o2, cur.second, "IE2");
  Sg(h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &h.nb, v.data(), &h.n, o1.data(), o2.data());
  ExpectSplitEqual<LDB>(o1, pow.first, "SE1");
  ExpectSplitEqual<LDB>(o2, pow.second, "SE2");

  const Admittance y = AssembleAdmittance(ws, t.n, t.branches(), {h.ksh, h.bsh});
  const std::vector<float> sa = Split<LDZ>(y.row_indexed.sa);
  std::vector<std::int32_t> ija = y.row_indexed.ija;
  std::vector<float> vm(static_cast<std::size_t>(t.n)), va(static_cast<std::size_t>(t.n)), s(2 * LDN);
  for (std::size_t i = 0; i < vm.size(); ++i) {
    vm[i] = static_cast<float>(t.net.vm_file[i]);
    va[i] = static_cast<float>(t.net.va_file[i] * 3.14159265358979323846 / 180.0);
  }
  const std::vector<Complex> sn = NodePowers(ws, y.row_indexed, vm, va);
  MNOZI(sa.data(), ija.data(), vm.data(), va.data(), s.data(), &t.n);
  ExpectSplitEqual<LDN>(s, sn, "MNOZI S");
  for (std::int32_t k = 1; k <= t.n; k += 7) {
    float sr = 0, si = 0;
    So(&t.n, &k, v.data(), sa.data(), ija.data(), &sr, &si);
    const Complex p = NodePower(ws, y.row_indexed, k, t.e);
    ASSERT_TRUE(SameBits(sr, p.re) && SameBits(si, p.im)) << "So at node " << k;
  }
}

TEST_P(SameNumbers, DecoupledMatricesAndTopology) {
  ORVEK_LOAD_NET(t, GetParam());
  if (!t.fits) GTEST_SKIP();
  Workspace ws;
  const casefile::HostArrays &h = t.host;
  const std::int32_t npq = t.net.npq;
  const DecoupledMatrices m = FastDecoupledMatrices(ws, t.n, npq, t.decoupled());
  std::vector<std::int32_t> r1(LDZ), c1(LDZ), r2(LDZ), c2(LDZ);
  std::vector<float> v1(LDZ), v2(LDZ);
  std::int32_t nz1 = 0, nz2 = 0;
  Matrici_VektoriBX(&h.n, &npq, h.z_bx.data(), h.t.data(), h.nodes.data(), &h.nb, r1.data(), c1.data(), v1.data(),
                    &nz1, r2.data(), c2.data(), v2.data(), &nz2);
  ASSERT_EQ(nz1, m.first.nz());
  ASSERT_EQ(nz2, m.second.nz());
  EXPECT_EQ(std::vector<std::int32_t>(r1.begin(), r1.begin() + nz1), m.first.irow);
  EXPECT_EQ(std::vector<std::int32_t>(c2.begin(), c2.begin() + nz2), m.second.jcol);
  for (std::int32_t k = 0; k < nz1; ++k) ASSERT_TRUE(SameBits(v1[static_cast<std::size_t>(k)], m.first.value[static_cast<std::size_t>(k)]));
  for (std::int32_t k = 0; k < nz2; ++k) ASSERT_TRUE(SameBits(v2[static_cast<std::size_t>(k)], m.second.value[static_cast<std::size_t>(k)]));

  if (t.nb > 2499) return; // MAUX's work table
  const Adjacency adj = BuildAdjacency(ws, t.n, t.from, t.to);
  const std::size_t len = static_cast<std::size_t>(t.n + 1 + 2 * t.nb);
  std::vector<std::int32_t> ija(len, 0), ibr(len, 0);
  MAUX(&h.n, h.nodes.data(), &h.nb, ija.data(), ibr.data());
  EXPECT_EQ(ija, adj.ija);
  EXPECT_EQ(std::vector<std::int32_t>(ibr.begin() + t.n + 1, ibr.end()),
            std::vector<std::int32_t>(adj.ibr.begin() + t.n + 1, adj.ibr.end()));
  const ComponentOrdering o = OrderComponents(ws, adj, t.from, t.to);
  std::vector<std::int32_t> ord(static_cast<std::size_t>(t.n)), par(static_cast<std::size_t>(t.n), 0),
      bl(static_cast<std::size_t>(t.nb)), cnt(2 * 1000);
  std::int32_t nc = 0;
  MultiPodred(&h.n, ija.data(), ibr.data(), ord.data(), cnt.data(), bl.data(), par.data(), &nc);
  ASSERT_EQ(nc, o.nc());
  EXPECT_EQ(ord, o.ord);
  EXPECT_EQ(par, o.par);
  EXPECT_EQ(bl, o.bl);
  for (std::int32_t g = 1; g <= nc; ++g) {
    EXPECT_EQ(cnt[static_cast<std::size_t>(g - 1)], o.cnt_nodes[static_cast<std::size_t>(g - 1)]);
    EXPECT_EQ(cnt[static_cast<std::size_t>(1000 + g - 1)], o.cnt_branches[static_cast<std::size_t>(g - 1)]);
  }
  // Every component record: chords join the positions of their end nodes.
  for (const Component &c : o.components) {
    const auto nn = static_cast<std::int32_t>(c.nodes.size());
    for (std::int32_t l = 1; l <= c.chords(); ++l) {
      const std::int32_t b = c.branches[static_cast<std::size_t>(nn - 2 + l)];
      EXPECT_EQ(c.nodes[static_cast<std::size_t>(c.end1[static_cast<std::size_t>(nn - 2 + l)])],
                t.from[static_cast<std::size_t>(b - 1)]);
      EXPECT_EQ(c.nodes[static_cast<std::size_t>(c.end2[static_cast<std::size_t>(l - 1)])],
                t.to[static_cast<std::size_t>(b - 1)]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SameNumbers, testing::ValuesIn(kSmallCases),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

} // namespace
} // namespace orvek::test::native
