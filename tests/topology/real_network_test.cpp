// The topology and dense routines on the test networks that fit the
// capacities: adjacency lists holding every branch twice, a spanning forest
// whose components agree with a union-find count, component records that
// match the branch table, node powers of MNOZI and OdrediSe against each
// other and a double-precision S = V conj(Y V) on the same float matrix,
// the dense inverse of small admittance matrices, and both fast decoupled
// matrices against a double-precision assembly. Networks come from
// ORVEK_CASES (or the shared case directory); absent files are skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "assembly/key_sort.hpp"
#include "sparse/sparse_factor.hpp"
#include "support/error_module.hpp"
#include "tools/casefile/matpower.hpp"
#include "topology/component_records.hpp"
#include "topology_test_util.hpp"

namespace orvek::test::topology {
namespace {

namespace cf = orvek::casefile;
using cd = std::complex<double>;
constexpr double kEps = std::numeric_limits<float>::epsilon();

struct LoadedCase {
  cf::Network net;
  cf::HostArrays host;
};

std::optional<LoadedCase> Load(const std::string &name, cf::NodeOrder order) {
  const std::string path = CasesDir() + "/" + name;
  if (!std::filesystem::exists(path)) return std::nullopt;
  LoadedCase c;
  c.net = cf::BuildNetwork(cf::ReadCase(path), order);
  c.host = cf::MakeHostArrays(c.net);
  return c;
}

#define LOAD_OR_SKIP(var, name, order)                                                                       \
  const std::optional<LoadedCase> var##_opt = Load(name, order);                                             \
  if (!var##_opt) GTEST_SKIP() << name << " not found in " << CasesDir();                                    \
  const LoadedCase &var = *var##_opt

std::int32_t From(const LoadedCase &c, std::int32_t b) {
  return c.host.nodes[b - 1];
}
std::int32_t To(const LoadedCase &c, std::int32_t b) {
  return c.host.nodes[kLdBranch + b - 1];
}

std::int32_t UnionFindComponents(const LoadedCase &c) {
  std::vector<std::int32_t> up(static_cast<std::size_t>(c.net.n + 1));
  std::iota(up.begin(), up.end(), 0);
  auto root = [&](std::int32_t v) {
    while (up[v] != v) v = up[v] = up[up[v]];
    return v;
  };
  std::int32_t components = c.net.n;
  for (std::int32_t b = 1; b <= c.net.nb(); ++b) {
    const std::int32_t a = root(From(c, b)), d = root(To(c, b));
    if (a != d) up[a] = d, --components;
  }
  return components;
}

class RealNetwork : public ::testing::TestWithParam<const char *> {};

TEST_P(RealNetwork, IncidenceOrderingAndRecords) {
  LOAD_OR_SKIP(c, GetParam(), cf::NodeOrder::kFile);
  const std::int32_t n = c.net.n, nb = c.net.nb();
  ASSERT_LE(nb, 2499);
  Incidence inc;
  inc.n = n;
  inc.ija.assign(static_cast<std::size_t>(n + 1 + 2 * nb), 0);
  inc.ibr.assign(inc.ija.size(), 0);
  MAUX(&n, c.host.nodes.data(), &nb, inc.ija.data(), inc.ibr.data());

  // Every branch exactly once in the list of each of its ends.
  std::vector<int> seen_from(static_cast<std::size_t>(nb + 1), 0), seen_to(seen_from);
  for (std::int32_t i = 1; i <= n; ++i) {
    ASSERT_LE(inc.ija[i - 1], inc.ija[i]);
    for (const auto &[v, b] : inc.list(i)) {
      ASSERT_GE(b, 1);
      ASSERT_LE(b, nb);
      if (i == From(c, b) && v == To(c, b) && seen_from[b] == 0) {
        ++seen_from[b];
      } else {
        EXPECT_TRUE(i == To(c, b) && v == From(c, b)) << "branch " << b << " at node " << i;
        ++seen_to[b];
      }
    }
  }
  for (std::int32_t b = 1; b <= nb; ++b) EXPECT_TRUE(seen_from[b] == 1 && seen_to[b] == 1) << "branch " << b;
  EXPECT_EQ(inc.ija[n], n + 2 + 2 * nb);

  const Ordering o = CallMultiPodred(inc, nb);
  EXPECT_EQ(o.nc, UnionFindComponents(c));
  if (o.nc == 1) {
    EXPECT_EQ(o.cnt_nodes(1), n);
    EXPECT_EQ(o.cnt_branches(1), nb);
  }
  std::vector<std::int32_t> sorted_ord = o.ord, sorted_bl = o.bl;
  std::sort(sorted_ord.begin(), sorted_ord.end());
  std::sort(sorted_bl.begin(), sorted_bl.end());
  std::vector<std::int32_t> all_nodes(static_cast<std::size_t>(n)),
      all_branches(static_cast<std::size_t>(nb));
  std::iota(all_nodes.begin(), all_nodes.end(), 1);
  std::iota(all_branches.begin(), all_branches.end(), 1);
  EXPECT_EQ(sorted_ord, all_nodes);
  EXPECT_EQ(sorted_bl, all_branches);

  ASSERT_LE(o.nc, 50);
  ZapisiPodredeno(o.cnt.data(), o.ord.data(), o.bl.data(), o.par.data(), &o.nc, c.host.nodes.data());
  for (std::int32_t g = 1; g <= o.nc; ++g) {
    const auto &rec = orvek::topology::StoredComponentRecord(g);
    const std::int32_t s0 = o.cnt_nodes(g - 1);
    ASSERT_EQ(rec.nn, o.cnt_nodes(g) - s0);
    EXPECT_EQ(rec.nch, rec.nbr - rec.nn + 1);
    // Tree branch t reached position t from an earlier position.
    for (std::int32_t t = 1; t <= rec.nn - 1; ++t) {
      EXPECT_EQ(rec.end1[t - 1], o.par[s0 + t]);
      ASSERT_LT(rec.end1[t - 1], t);
      const std::int32_t b = rec.brn[t - 1], p = rec.node[rec.end1[t - 1]], q = rec.node[t];
      EXPECT_TRUE((From(c, b) == p && To(c, b) == q) || (From(c, b) == q && To(c, b) == p)) << "tree " << t;
    }
    for (std::int32_t l = 1; l <= rec.nch; ++l) {
      const std::int32_t k = rec.chp[l - 1], b = rec.brn[k - 1];
      EXPECT_EQ(rec.node[rec.end1[k - 1]], From(c, b));
      EXPECT_EQ(rec.node[rec.end2[l - 1]], To(c, b));
    }
  }
}

// The admittance matrix of the network with its shunts, rounded to float.
std::map<std::pair<std::int32_t, std::int32_t>, std::complex<float>> AdmittanceMatrix(const LoadedCase &c) {
  std::map<std::pair<std::int32_t, std::int32_t>, cd> y;
  for (std::int32_t i = 1; i <= c.net.n; ++i) y[{i, i}] += cd(c.net.gs[i - 1], c.net.bs[i - 1]);
  for (const cf::NetworkBranch &b : c.net.branches) {
    const cd ys = 1.0 / b.z;
    y[{b.from, b.from}] += b.ya + ys;
    y[{b.to, b.to}] += b.yb + ys;
    if (b.from == b.to) continue;
    y[{b.from, b.to}] -= ys;
    y[{b.to, b.from}] -= ys;
  }
  std::map<std::pair<std::int32_t, std::int32_t>, std::complex<float>> out;
  for (const auto &[pos, v] : y) out[pos] = std::complex<float>(v);
  return out;
}

TEST_P(RealNetwork, PowersOfMnoziOdrediSeAndADoubleProductAgree) {
  LOAD_OR_SKIP(c, GetParam(), cf::NodeOrder::kFile);
  const std::int32_t n = c.net.n;
  const auto y = AdmittanceMatrix(c);
  std::vector<float> vm(static_cast<std::size_t>(n)), va(vm.size());
  for (std::int32_t i = 0; i < n; ++i) {
    vm[i] = static_cast<float>(c.net.vm_file[i]);
    va[i] = static_cast<float>(c.net.va_file[i] * std::acos(-1.0) / 180.0);
  }
  // Row-indexed form, diagonals first, rows in ascending column.
  std::vector<float> sa(2 * ORVEK_LD_NONZERO, 0.0f);
  std::vector<std::int32_t> ija(static_cast<std::size_t>(n + 1), 0);
  auto put = [&](std::int32_t k, std::complex<float> v) {
    sa[k - 1] = v.real();
    sa[ORVEK_LD_NONZERO + k - 1] = v.imag();
  };
  std::int32_t pos = n + 2, row = 0;
  for (const auto &[rc, v] : y) {
    while (row < rc.first) ija[row++] = pos;
    if (rc.first == rc.second) {
      put(rc.first, v);
    } else {
      ija.push_back(rc.second);
      put(pos++, v);
    }
  }
  while (row <= n) ija[row++] = pos;
  ASSERT_LE(pos - 1, ORVEK_LD_NONZERO);
  std::vector<float> s(2 * ORVEK_LD_NODE, 0.0f);
  MNOZI(sa.data(), ija.data(), vm.data(), va.data(), s.data(), &n);

  std::vector<cd> v(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) v[i] = std::polar<double>(vm[i], va[i]);
  std::vector<cd> cur(v.size(), 0.0);
  std::vector<double> scale(v.size(), 0.0);
  for (const auto &[rc, yv] : y) {
    cur[rc.first - 1] += cd(yv) * v[rc.second - 1];
    scale[rc.first - 1] += std::abs(cd(yv)) * vm[rc.second - 1];
  }
  std::vector<float> p(static_cast<std::size_t>(n)), q(p.size()), ci(2 * ORVEK_LD_DENSE);
  const bool dense = n <= ORVEK_LD_DENSE;
  if (dense) {
    std::vector<float> gr(ORVEK_LD_DENSE * ORVEK_LD_DENSE, 0.0f), gi(gr.size(), 0.0f);
    for (const auto &[rc, yv] : y) {
      gr[(rc.second - 1) * ORVEK_LD_DENSE + rc.first - 1] = yv.real();
      gi[(rc.second - 1) * ORVEK_LD_DENSE + rc.first - 1] = yv.imag();
    }
    OdrediSe(&n, gr.data(), gi.data(), vm.data(), va.data(), p.data(), q.data(), ci.data());
  }
  for (std::int32_t i = 0; i < n; ++i) {
    const cd ref = v[i] * std::conj(cur[i]);
    // A sum of row-length products, each within a few float roundings.
    const double tol = 16 * kEps * scale[i] * vm[i];
    EXPECT_NEAR(s[i], ref.real(), tol) << "MNOZI P at node " << i + 1;
    EXPECT_NEAR(s[ORVEK_LD_NODE + i], ref.imag(), tol) << "MNOZI Q at node " << i + 1;
    if (dense) {
      EXPECT_NEAR(p[i], ref.real(), tol) << "OdrediSe P at node " << i + 1;
      EXPECT_NEAR(q[i], ref.imag(), tol) << "OdrediSe Q at node " << i + 1;
      EXPECT_NEAR(p[i], s[i], 2 * tol);
      EXPECT_NEAR(q[i], s[ORVEK_LD_NODE + i], 2 * tol);
      EXPECT_NEAR(ci[i], cur[i].real(), 16 * kEps * scale[i]);
      EXPECT_NEAR(ci[ORVEK_LD_DENSE + i], cur[i].imag(), 16 * kEps * scale[i]);
    }
  }
}

// Both lists are valid triplet lists for the factorization: LUR factors
// them (or, with room for more fill than LUR's 3*NZ, the factorization
// kernel) and BSR solves with the factors to a small scaled residual,
// leaving the permutation vectors as they were.
void FastDecoupledRoad(const LoadedCase &c, std::int32_t fill = sparse::kDefaultFillFactor) {
  const std::int32_t n = c.net.n, npq = c.net.npq, nb = c.net.nb();
  const auto room = static_cast<std::size_t>(n + 2 * nb);
  std::vector<std::int32_t> irow1(room), jcol1(room), irow2(room), jcol2(room);
  std::vector<float> val1(room), val2(room);
  std::int32_t nz1 = 0, nz2 = 0;
  Matrici_VektoriBX(&n, &npq, c.host.z_bx.data(), c.host.t.data(), c.host.nodes.data(), &nb, irow1.data(),
                    jcol1.data(), val1.data(), &nz1, irow2.data(), jcol2.data(), val2.data(), &nz2);
  const auto solve = [fill](std::int32_t order, std::int32_t nz, const std::vector<std::int32_t> &irow,
                            const std::vector<std::int32_t> &jcol, const std::vector<float> &val) {
    if (order < 1) return;
    std::int32_t iparam[6] = {}, nfac = 0, nl = 0, ipath = 1;
    float rparam[5] = {};
    const auto fsize = static_cast<std::size_t>(fill * nz);
    std::vector<float> fac(fsize);
    std::vector<std::int32_t> irfac(fsize), jcfac(fsize), ipvt(static_cast<std::size_t>(order)),
        jpvt(ipvt.size());
    if (fill == sparse::kDefaultFillFactor) {
      LUR(&order, &nz, val.data(), irow.data(), jcol.data(), iparam, rparam, &nfac, &nl, fac.data(),
          irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
    } else {
      sparse::SetSparseDefaults(iparam, rparam);
      iparam[sparse::kIparamWorkspace] = 15 * order + sparse::kWorkspaceDivisor * fill * nz;
      nfac = fill * nz;
      sparse::FactorTriplets<float>(
          errors(), {order, nz, val, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt});
    }
    std::vector<float> b(ipvt.size()), x(ipvt.size());
    for (std::int32_t i = 0; i < order; ++i) b[i] = std::sin(0.37f * static_cast<float>(i + 1));
    const std::vector<std::int32_t> ipvt_in = ipvt, jpvt_in = jpvt;
    BSR(&order, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(),
        &ipath, x.data());
    EXPECT_EQ(ipvt, ipvt_in);
    EXPECT_EQ(jpvt, jpvt_in);
    std::vector<double> r(b.begin(), b.end());
    double norm_a = 0, norm_x = 0, norm_r = 0;
    for (std::int32_t k = 0; k < nz; ++k) {
      r[irow[k] - 1] -= double(val[k]) * x[jcol[k] - 1];
      norm_a = std::max(norm_a, std::abs(double(val[k])));
    }
    for (std::int32_t i = 0; i < order; ++i)
      norm_x = std::max(norm_x, std::abs(double(x[i]))), norm_r = std::max(norm_r, std::abs(r[i]));
    EXPECT_LT(norm_r / (norm_a * norm_x * order * kEps), 1.0) << "order " << order;
  };
  solve(n - 1, nz1, irow1, jcol1, val1);
  solve(npq, nz2, irow2, jcol2, val2);
}

TEST_P(RealNetwork, FastDecoupledMatricesFactorAndSolve) {
  LOAD_OR_SKIP(c, GetParam(), cf::NodeOrder::kPowerFlow);
  FastDecoupledRoad(c);
}

// Networks beyond the node capacity of the other routines take the fast
// decoupled road through the exported routines all the same. Both matrices
// of case_ACTIVSg2000 fill beyond LUR's 3*NZ (it stops with code 20);
// they are factored with room for 6*NZ and solved by BSR.
struct LargeCase {
  const char *name;
  std::int32_t fill;
};
class LargeNetwork : public ::testing::TestWithParam<LargeCase> {};

TEST_P(LargeNetwork, FastDecoupledMatricesFactorAndSolve) {
  const std::string path = CasesDir() + "/" + GetParam().name;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << GetParam().name << " not found in " << CasesDir();
  LoadedCase c;
  c.net = cf::BuildNetwork(cf::ReadCase(path), cf::NodeOrder::kPowerFlow);
  ASSERT_GT(c.net.n, ORVEK_LD_NODE);
  ASSERT_LE(c.net.nb(), kLdBranch);
  // The branch arrays of Matrici_VektoriBX, laid out with its leading dimension.
  const cf::HostArrays tight = cf::MakeUnboundedArrays(c.net);
  const auto relay = [&](const auto &from, int columns) {
    std::remove_cvref_t<decltype(from)> to(static_cast<std::size_t>(columns) * kLdBranch);
    for (int col = 0; col < columns; ++col)
      std::copy_n(from.begin() + col * tight.ld, c.net.nb(), to.begin() + col * kLdBranch);
    return to;
  };
  c.host.z_bx = relay(tight.z_bx, 2);
  c.host.t = relay(tight.t, 1);
  c.host.nodes = relay(tight.nodes, 2);
  FastDecoupledRoad(c, GetParam().fill);
}

class SmallNetwork : public ::testing::TestWithParam<const char *> {};

TEST_P(SmallNetwork, DenseInverseOfTheAdmittanceMatrix) {
  LOAD_OR_SKIP(c, GetParam(), cf::NodeOrder::kFile);
  const std::int32_t n = c.net.n;
  const auto y = AdmittanceMatrix(c);
  constexpr int ld = ORVEK_LD_DENSE;
  std::vector<float> ar(ld * ld, 0.0f), ai(ld * ld, 0.0f);
  for (const auto &[rc, v] : y) {
    ar[(rc.second - 1) * ld + rc.first - 1] = v.real();
    ai[(rc.second - 1) * ld + rc.first - 1] = v.imag();
  }
  std::vector<float> xr = ar, xi = ai;
  Inverzija(xr.data(), xi.data(), &n);
  double worst = 0, norm_a = 0, norm_x = 0;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      cd sum = 0;
      for (int k = 1; k <= n; ++k)
        sum += cd(ar[(k - 1) * ld + i - 1], ai[(k - 1) * ld + i - 1]) *
               cd(xr[(j - 1) * ld + k - 1], xi[(j - 1) * ld + k - 1]);
      worst = std::max(worst, std::abs(sum - (i == j ? 1.0 : 0.0)));
      norm_a = std::max(norm_a, std::abs(cd(ar[(j - 1) * ld + i - 1], ai[(j - 1) * ld + i - 1])));
      norm_x = std::max(norm_x, std::abs(cd(xr[(j - 1) * ld + i - 1], xi[(j - 1) * ld + i - 1])));
    }
  }
  EXPECT_LT(worst / (norm_a * norm_x * n * kEps), 5.0) << "max |A X - I| = " << worst;
}

TEST_P(RealNetwork, FastDecoupledMatricesEqualADoubleAssembly) {
  LOAD_OR_SKIP(c, GetParam(), cf::NodeOrder::kPowerFlow);
  const std::int32_t n = c.net.n, npq = c.net.npq, nb = c.net.nb();
  ASSERT_EQ(c.net.reference, n);
  std::vector<std::int32_t> irow1(static_cast<std::size_t>(n + 2 * nb)), jcol1(irow1.size()),
      irow2(irow1.size()), jcol2(irow1.size());
  std::vector<float> val1(irow1.size()), val2(irow1.size());
  std::int32_t nz1 = 0, nz2 = 0;
  Matrici_VektoriBX(&n, &npq, c.host.z_bx.data(), c.host.t.data(), c.host.nodes.data(), &nb, irow1.data(),
                    jcol1.data(), val1.data(), &nz1, irow2.data(), jcol2.data(), val2.data(), &nz2);

  using Matrix = std::map<std::pair<std::int32_t, std::int32_t>, double>;
  Matrix b1, b2;
  for (std::int32_t i = 1; i < n; ++i) b1[{i, i}] = 0;
  for (std::int32_t i = 1; i <= npq; ++i) b2[{i, i}] = 0;
  for (std::int32_t b = 1; b <= nb; ++b) {
    const std::int32_t p = From(c, b), q = To(c, b);
    const double r = c.host.z_bx[b - 1], x = c.host.z_bx[kLdBranch + b - 1], t = c.host.t[b - 1];
    const double g = x / (x * x + r * r);
    if (p < n) b1[{p, p}] += g;
    if (q < n) b1[{q, q}] += g;
    if (p < n && q < n && p != q) b1[{p, q}] -= g, b1[{q, p}] -= g;
    if (p <= npq) b2[{p, p}] += 1 / (x * t * t);
    if (q <= npq) b2[{q, q}] += 1 / x;
    if (p <= npq && q <= npq && p != q) b2[{p, q}] -= 1 / (x * t), b2[{q, p}] -= 1 / (x * t);
  }
  const auto check = [&](const Matrix &ref, std::int32_t l, std::int32_t nz,
                         const std::vector<std::int32_t> &irow, const std::vector<std::int32_t> &jcol,
                         const std::vector<float> &val) {
    ASSERT_EQ(nz, static_cast<std::int32_t>(ref.size()));
    std::int32_t last_key = 0;
    for (std::int32_t k = 1; k <= nz; ++k) {
      const std::int32_t i = irow[k - 1], j = jcol[k - 1];
      if (k <= l) {
        EXPECT_TRUE(i == k && j == k) << "diagonal " << k;
      } else if ((k - l) % 2 == 1) {
        // Pairs in ascending branch key, (A, B) then (B, A).
        const std::int32_t key = std::min(i, j) * n + std::max(i, j);
        EXPECT_GT(key, last_key) << "entry " << k;
        last_key = key;
        EXPECT_TRUE(irow[k] == j && jcol[k] == i) << "entry " << k + 1;
      }
      const auto it = ref.find({i, j});
      ASSERT_NE(it, ref.end()) << "(" << i << ", " << j << ")";
      // Sums of a few terms, each within a few float roundings.
      EXPECT_NEAR(val[k - 1], it->second, 1e-5 * std::max(1.0, std::abs(it->second)))
          << "(" << i << ", " << j << ")";
    }
  };
  check(b1, n - 1, nz1, irow1, jcol1, val1);
  check(b2, npq, nz2, irow2, jcol2, val2);
}

std::string CaseName(const ::testing::TestParamInfo<const char *> &info) {
  std::string name = info.param;
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '_', 'x');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, SmallNetwork,
                         ::testing::Values("case9.m", "case14.m", "case30.m", "case57.m", "case89pegase.m"),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(Cases, LargeNetwork,
                         ::testing::Values(LargeCase{"case_ACTIVSg2000.m", 6},
                                           LargeCase{"case2383wp.m", sparse::kDefaultFillFactor}),
                         [](const ::testing::TestParamInfo<LargeCase> &info) {
                           return CaseName({info.param.name, info.index});
                         });

INSTANTIATE_TEST_SUITE_P(Cases, RealNetwork,
                         ::testing::Values("case9.m", "case14.m", "case30.m", "case57.m", "case89pegase.m",
                                           "case118.m", "case_ACTIVSg200.m", "case300.m",
                                           "case_ACTIVSg500.m"),
                         CaseName);

} // namespace
} // namespace orvek::test::topology
