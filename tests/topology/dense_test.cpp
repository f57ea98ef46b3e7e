// Inverzija, MNOZI, Paralelno, OdrediPe and OdrediSe: the examples with
// their closed forms, what is read and written (sentinels beyond N), IEEE
// non-finite results for a zero pivot or a zero product, and residuals and
// cross-checks against double-precision references computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "orvek/orvek.h"

namespace {

constexpr int kLd = ORVEK_LD_DENSE;
constexpr float kEps = std::numeric_limits<float>::epsilon();
using cd = std::complex<double>;

struct Dense {
  std::vector<float> re = std::vector<float>(kLd * kLd, 0.0f), im = std::vector<float>(kLd * kLd, 0.0f);
  float &r(int i, int j) { return re[(j - 1) * kLd + (i - 1)]; }
  float &m(int i, int j) { return im[(j - 1) * kLd + (i - 1)]; }
  cd at(int i, int j) const { return {re[(j - 1) * kLd + (i - 1)], im[(j - 1) * kLd + (i - 1)]}; }
};

// Diagonally dominant complex matrix of order n, as network matrices are.
Dense RandomDominant(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  Dense a;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) a.r(i, j) = u(gen), a.m(i, j) = u(gen);
  for (int i = 1; i <= n; ++i) a.r(i, i) += static_cast<float>(n), a.m(i, i) -= static_cast<float>(n);
  return a;
}

// max |A X - I| / (|A| |X| n eps), norms the largest element magnitudes.
double ScaledIdentityResidual(const Dense &a, const Dense &x, int n) {
  double worst = 0, norm_a = 0, norm_x = 0;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      cd sum = 0;
      for (int k = 1; k <= n; ++k) sum += a.at(i, k) * x.at(k, j);
      worst = std::max(worst, std::abs(sum - (i == j ? 1.0 : 0.0)));
      norm_a = std::max(norm_a, std::abs(a.at(i, j)));
      norm_x = std::max(norm_x, std::abs(x.at(i, j)));
    }
  }
  return worst / (norm_a * norm_x * n * kEps);
}

TEST(Inverzija, OrderOneAndTheTwoByTwoExample) {
  Dense a;
  a.r(1, 1) = 2.0f;
  std::int32_t n = 1;
  Inverzija(a.re.data(), a.im.data(), &n);
  EXPECT_EQ(a.r(1, 1), 0.5f);
  EXPECT_EQ(a.m(1, 1), 0.0f);

  Dense b;
  b.r(1, 1) = 4, b.r(1, 2) = 1, b.r(2, 1) = 1, b.r(2, 2) = 3;
  n = 2;
  Inverzija(b.re.data(), b.im.data(), &n);
  EXPECT_FLOAT_EQ(b.r(1, 1), 3.0f / 11.0f);
  EXPECT_FLOAT_EQ(b.r(1, 2), -1.0f / 11.0f);
  EXPECT_FLOAT_EQ(b.r(2, 1), -1.0f / 11.0f);
  EXPECT_FLOAT_EQ(b.r(2, 2), 4.0f / 11.0f);
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) EXPECT_EQ(b.m(i, j), 0.0f);
}

TEST(Inverzija, LeavesEverythingBeyondOrderNUntouched) {
  Dense a = RandomDominant(7, 3);
  for (int j = 1; j <= kLd; ++j)
    for (int i = 1; i <= kLd; ++i)
      if (i > 7 || j > 7) a.r(i, j) = 1234.5f, a.m(i, j) = -6.25f;
  const Dense original = a;
  std::int32_t n = 7;
  Inverzija(a.re.data(), a.im.data(), &n);
  for (int j = 1; j <= kLd; ++j)
    for (int i = 1; i <= kLd; ++i)
      if (i > 7 || j > 7) {
        ASSERT_EQ(a.at(i, j), original.at(i, j)) << i << "," << j;
      }
  EXPECT_LT(ScaledIdentityResidual(original, a, 7), 10.0);
}

TEST(Inverzija, ResidualIsAtSinglePrecisionLevelUpToOrder100) {
  for (const int order : {3, 20, 100}) {
    Dense a = RandomDominant(order, 11u + static_cast<unsigned>(order));
    const Dense original = a;
    std::int32_t n = order;
    Inverzija(a.re.data(), a.im.data(), &n);
    EXPECT_LT(ScaledIdentityResidual(original, a, order), 10.0) << "order " << order;
    // Inverting twice gives the matrix back.
    Inverzija(a.re.data(), a.im.data(), &n);
    double worst = 0;
    for (int i = 1; i <= order; ++i)
      for (int j = 1; j <= order; ++j) worst = std::max(worst, std::abs(a.at(i, j) - original.at(i, j)));
    EXPECT_LT(worst, 1e-4 * order) << "order " << order;
  }
}

TEST(Inverzija, ZeroPivotGivesNonFiniteValuesNotACrash) {
  Dense a;
  a.r(1, 2) = 1, a.r(2, 1) = 1; // invertible, but (1,1) = 0 and there is no pivoting
  std::int32_t n = 2;
  Inverzija(a.re.data(), a.im.data(), &n);
  bool non_finite = false;
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) non_finite |= !std::isfinite(a.r(i, j)) || !std::isfinite(a.m(i, j));
  EXPECT_TRUE(non_finite);
}

// ---- MNOZI -------------------------------------------------------------------

constexpr int kLdValues = ORVEK_LD_NONZERO;
constexpr int kLdNode = ORVEK_LD_NODE;

struct RowIndexed {
  std::vector<float> sa = std::vector<float>(2 * kLdValues, 0.0f);
  std::vector<std::int32_t> ija;
  void set(int k, cd v) {
    sa[k - 1] = static_cast<float>(v.real());
    sa[kLdValues + k - 1] = static_cast<float>(v.imag());
  }
  cd at(int k) const { return {sa[k - 1], sa[kLdValues + k - 1]}; }
};

std::vector<float> CallMnozi(const RowIndexed &y, const std::vector<float> &vm, const std::vector<float> &va,
                             std::int32_t n) {
  std::vector<float> s(2 * kLdNode, -3.0f);
  MNOZI(y.sa.data(), y.ija.data(), vm.data(), va.data(), s.data(), &n);
  return s;
}

// S = V conj(Y V) in double over the stored float matrix and float voltages.
std::vector<cd> ReferencePowers(const RowIndexed &y, const std::vector<float> &vm,
                                const std::vector<float> &va, int n) {
  std::vector<cd> v(n), s(n);
  for (int i = 0; i < n; ++i) v[i] = std::polar<double>(vm[i], va[i]);
  for (int i = 1; i <= n; ++i) {
    cd cur = y.at(i) * v[i - 1];
    for (int k = y.ija[i - 1]; k < y.ija[i]; ++k) cur += y.at(k) * v[y.ija[k - 1] - 1];
    s[i - 1] = v[i - 1] * std::conj(cur);
  }
  return s;
}

TEST(Mnozi, DiagonalOnlyMatrixGivesVmSquaredTimesConjugate) {
  RowIndexed y;
  const int n = 4;
  y.ija.assign(n + 1, n + 2);
  const std::vector<cd> diag = {{1, -2}, {0.5, 3}, {-4, 0.25}, {2, 2}};
  for (int i = 1; i <= n; ++i) y.set(i, diag[i - 1]);
  const std::vector<float> vm = {1.0f, 1.05f, 0.9f, 2.0f}, va = {0.0f, 0.3f, -1.2f, 2.5f};
  const auto s = CallMnozi(y, vm, va, n);
  for (int i = 1; i <= n; ++i) {
    const cd expected = double(vm[i - 1]) * vm[i - 1] * std::conj(cd(y.at(i)));
    EXPECT_NEAR(s[i - 1], expected.real(), 4 * kEps * std::abs(expected)) << i;
    EXPECT_NEAR(s[kLdNode + i - 1], expected.imag(), 4 * kEps * std::abs(expected)) << i;
  }
  EXPECT_EQ(s[n], -3.0f);
  EXPECT_EQ(s[kLdNode + n], -3.0f);
}

TEST(Mnozi, TwoNodesJoinedByOneBranch) {
  RowIndexed y;
  y.ija = {4, 5, 6, 2, 1};
  y.set(1, {0, -10}), y.set(2, {0, -10}), y.set(4, {0, 10}), y.set(5, {0, 10});
  y.set(3, {99, 99}); // the spacer carries no entry
  const float theta = 0.3f;
  const auto s = CallMnozi(y, {1.0f, 1.0f}, {theta, 0.0f}, 2);
  const double t = theta;
  EXPECT_NEAR(s[0], 10 * std::sin(t), 1e-5);
  EXPECT_NEAR(s[kLdNode], 10 * (1 - std::cos(t)), 1e-5);
  EXPECT_NEAR(s[1], -10 * std::sin(t), 1e-5);
  EXPECT_NEAR(s[kLdNode + 1], 10 * (1 - std::cos(t)), 1e-5);
}

TEST(Mnozi, AnyOrderWithinARowAgreesWithTheDoubleProduct) {
  // A ring of 30 nodes with chords, entries of each row in descending column.
  const int n = 30;
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<std::vector<int>> cols(n + 1);
  for (int i = 1; i <= n; ++i) {
    const int j = i % n + 1, c = (i + 7) % n + 1;
    for (const int other : {j, c}) {
      if (std::find(cols[i].begin(), cols[i].end(), other) == cols[i].end()) cols[i].push_back(other);
      if (std::find(cols[other].begin(), cols[other].end(), i) == cols[other].end()) cols[other].push_back(i);
    }
  }
  RowIndexed y;
  y.ija.assign(n + 1, 0);
  int pos = n + 2;
  std::vector<std::int32_t> columns;
  for (int i = 1; i <= n; ++i) {
    std::sort(cols[i].rbegin(), cols[i].rend());
    y.ija[i - 1] = pos;
    for (const int c : cols[i]) {
      y.ija.push_back(0);
      columns.push_back(c);
      y.set(pos, {u(gen), -10 + u(gen)});
      ++pos;
    }
    y.set(i, {2 + u(gen), 20 + u(gen)});
  }
  y.ija[n] = pos;
  y.ija.resize(pos - 1);
  for (int k = n + 2; k < pos; ++k) y.ija[k - 1] = columns[k - n - 2];
  std::vector<float> vm(n), va(n);
  for (int i = 0; i < n; ++i)
    vm[i] = 1.0f + 0.05f * static_cast<float>(u(gen)), va[i] = 0.3f * static_cast<float>(u(gen));
  const auto s = CallMnozi(y, vm, va, n);
  const auto ref = ReferencePowers(y, vm, va, n);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(s[i], ref[i].real(), 64 * kEps * 30) << i;
    EXPECT_NEAR(s[kLdNode + i], ref[i].imag(), 64 * kEps * 30) << i;
  }
}

// ---- Paralelno ----------------------------------------------------------------

std::complex<float> CallParalelno(std::complex<float> z1, std::complex<float> z2) {
  const float a[2] = {z1.real(), z1.imag()}, b[2] = {z2.real(), z2.imag()};
  float zp[2] = {-1, -1};
  Paralelno(a, b, zp);
  return {zp[0], zp[1]};
}

TEST(Paralelno, ExamplesAndTheSumOfReciprocals) {
  EXPECT_EQ(CallParalelno({2, 0}, {2, 0}), std::complex<float>(1, 0));
  EXPECT_EQ(CallParalelno({0, 1}, {0, -1}), std::complex<float>(0, 0));
  for (const auto &[z1, z2] :
       {std::pair<cd, cd>{{1, 2}, {3, -1}}, std::pair<cd, cd>{{0.01, 0.1}, {0.02, 0.3}},
        std::pair<cd, cd>{{1e3, -2e3}, {5e-3, 7e-3}}}) {
    const std::complex<float> got = CallParalelno(std::complex<float>(z1), std::complex<float>(z2));
    const cd expected = 1.0 / z1 + 1.0 / z2;
    EXPECT_LT(std::abs(cd(got) - expected), 4 * kEps * std::abs(expected)) << z1 << " " << z2;
  }
}

TEST(Paralelno, ZeroProductGivesNonFiniteValues) {
  const std::complex<float> zp = CallParalelno({0, 0}, {1, 1});
  EXPECT_FALSE(std::isfinite(zp.real()) && std::isfinite(zp.imag()));
}

// ---- OdrediPe / OdrediSe --------------------------------------------------------

struct Powers {
  std::vector<float> p, q, ci, p_only;
};

// Both routines over the same data; everything beyond n carries NaN on
// input, so any read beyond n would show in the results.
Powers CallDensePowers(Dense y, std::vector<float> vm, std::vector<float> va, std::int32_t n) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int j = 1; j <= kLd; ++j)
    for (int i = 1; i <= kLd; ++i)
      if (i > n || j > n) y.r(i, j) = nan, y.m(i, j) = nan;
  vm.resize(kLd, nan);
  va.resize(kLd, nan);
  Powers out;
  out.p.assign(kLd, -5.0f);
  out.q.assign(kLd, -5.0f);
  out.ci.assign(2 * kLd, -5.0f);
  out.p_only.assign(kLd, -5.0f);
  OdrediSe(&n, y.re.data(), y.im.data(), vm.data(), va.data(), out.p.data(), out.q.data(), out.ci.data());
  OdrediPe(&n, y.re.data(), y.im.data(), vm.data(), va.data(), out.p_only.data());
  for (int i = n; i < kLd; ++i) {
    EXPECT_EQ(out.p[i], -5.0f);
    EXPECT_EQ(out.q[i], -5.0f);
    EXPECT_EQ(out.ci[i], -5.0f);
    EXPECT_EQ(out.ci[kLd + i], -5.0f);
    EXPECT_EQ(out.p_only[i], -5.0f);
  }
  for (int i = 0; i < n; ++i)
    EXPECT_EQ(out.p_only[i], out.p[i]) << "OdrediPe and OdrediSe differ at " << i + 1;
  return out;
}

TEST(OdrediSe, OneNodeClosedForms) {
  Dense y;
  const float g = 2.0f, b = -5.0f, m = 1.1f, theta = 0.4f;
  y.r(1, 1) = g, y.m(1, 1) = b;
  const Powers out = CallDensePowers(y, {m}, {theta}, 1);
  const double dm = m, dt = theta;
  EXPECT_NEAR(out.p[0], dm * dm * g, 1e-5);
  EXPECT_NEAR(out.q[0], -dm * dm * b, 1e-5);
  EXPECT_NEAR(out.ci[0], dm * (g * std::cos(dt) - b * std::sin(dt)), 1e-5);
  EXPECT_NEAR(out.ci[kLd], dm * (g * std::sin(dt) + b * std::cos(dt)), 1e-5);
}

TEST(OdrediSe, LosslessNetworkAtZeroAnglesCarriesNoRealPower) {
  Dense y = RandomDominant(12, 9);
  for (int j = 1; j <= 12; ++j)
    for (int i = 1; i <= 12; ++i) y.r(i, j) = 0.0f;
  std::vector<float> vm(12);
  for (int i = 0; i < 12; ++i) vm[i] = 0.95f + 0.01f * static_cast<float>(i);
  const Powers out = CallDensePowers(y, vm, std::vector<float>(12, 0.0f), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out.p[i], 0.0f) << i;
}

TEST(OdrediSe, TwoNodeExampleMatchesMnozi) {
  Dense y;
  y.m(1, 1) = -10, y.m(1, 2) = 10, y.m(2, 1) = 10, y.m(2, 2) = -10;
  const float theta = -0.7f;
  const Powers out = CallDensePowers(y, {1.0f, 1.0f}, {theta, 0.0f}, 2);
  const double t = theta;
  EXPECT_NEAR(out.p[0], 10 * std::sin(t), 1e-5);
  EXPECT_NEAR(out.p[1], -10 * std::sin(t), 1e-5);
  EXPECT_NEAR(out.q[0], 10 * (1 - std::cos(t)), 1e-5);
  EXPECT_NEAR(out.q[1], 10 * (1 - std::cos(t)), 1e-5);

  RowIndexed sparse;
  sparse.ija = {4, 5, 6, 2, 1};
  sparse.set(1, {0, -10}), sparse.set(2, {0, -10}), sparse.set(4, {0, 10}), sparse.set(5, {0, 10});
  const auto s = CallMnozi(sparse, {1.0f, 1.0f}, {theta, 0.0f}, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(s[i], out.p[i], 4e-6);
    EXPECT_NEAR(s[kLdNode + i], out.q[i], 4e-6);
  }
}

TEST(OdrediSe, CurrentsAndPowersAgreeWithTheDoubleProduct) {
  const int n = 100;
  const Dense y = RandomDominant(n, 21);
  std::mt19937 gen(4);
  std::uniform_real_distribution<float> u(-1, 1);
  std::vector<float> vm(n), va(n);
  for (int i = 0; i < n; ++i) vm[i] = 1.0f + 0.05f * u(gen), va[i] = 0.5f * u(gen);
  const Powers out = CallDensePowers(y, vm, va, n);
  for (int i = 1; i <= n; ++i) {
    cd cur = 0;
    double scale = 0;
    for (int k = 1; k <= n; ++k) {
      cur += y.at(i, k) * std::polar<double>(vm[k - 1], va[k - 1]);
      scale += std::abs(y.at(i, k)) * vm[k - 1];
    }
    const cd s = std::polar<double>(vm[i - 1], va[i - 1]) * std::conj(cur);
    const double tol = 8 * kEps * scale * 2;
    EXPECT_NEAR(out.ci[i - 1], cur.real(), tol) << i;
    EXPECT_NEAR(out.ci[kLd + i - 1], cur.imag(), tol) << i;
    EXPECT_NEAR(out.p[i - 1], s.real(), tol * 2) << i;
    EXPECT_NEAR(out.q[i - 1], s.imag(), tol * 2) << i;
  }
}

} // namespace
