// Helpers of the sparse solver tests: triplet matrices (random and from real
// networks), factorization and solve through the kernels with a private
// error module, and independent double-precision checks: the layout of a
// factor set, the rebuilt product L*U against A(IPVT, JPVT), and scaled
// residuals of A*x = b, A'*x = b and conj(A)'*x = b.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/error_capture.hpp"
#include "sparse/sparse_factor.hpp"
#include "sparse/sparse_solve.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::test {

using cd = std::complex<double>;
inline cd ToDouble(float v) { return {v, 0.0}; }
inline cd ToDouble(Complex v) { return {v.re, v.im}; }

template <class T> struct TripletMatrix {
  std::int32_t n = 0;
  std::vector<std::int32_t> irow, jcol;
  std::vector<T> a;
  std::int32_t nz() const { return static_cast<std::int32_t>(a.size()); }
  void add(std::int32_t i, std::int32_t j, T v) {
    irow.push_back(i);
    jcol.push_back(j);
    a.push_back(v);
  }
};

template <class T> struct FactorSet {
  std::int32_t nfac = 0, nl = 0;
  std::vector<T> fac;
  std::vector<std::int32_t> irfac, jcfac, ipvt, jpvt;
  std::vector<std::int32_t> iparam = std::vector<std::int32_t>(6, 0);
  std::vector<float> rparam = std::vector<float>(5, 0.0f);
};

// Factors with the defaults (IPARAM(1) = 0) through the driver, into a
// factor set of capacity 3*NZ, with a private error module whose printing
// is captured and whose stops return.
template <class T>
FactorSet<T> Factor(const TripletMatrix<T> &m, ErrorModule &err, std::int32_t capacity = -1) {
  FactorSet<T> f;
  const std::int32_t cap = capacity >= 0 ? capacity : 3 * m.nz();
  f.nfac = cap;
  f.fac.assign(static_cast<std::size_t>(cap), T{});
  f.irfac.assign(static_cast<std::size_t>(cap), -1);
  f.jcfac.assign(static_cast<std::size_t>(cap), -1);
  f.ipvt.assign(static_cast<std::size_t>(m.n), -1);
  f.jpvt.assign(static_cast<std::size_t>(m.n), -1);
  f.nl = -1;
  sparse::FactorTriplets<T>(err, {m.n, m.nz(), m.a, m.irow, m.jcol, f.iparam, f.rparam, f.nfac, f.nl, f.fac,
                                  f.irfac, f.jcfac, f.ipvt, f.jpvt});
  return f;
}

// Solves with the kernel; X is a fresh vector.
template <class T>
std::vector<T> Solve(const FactorSet<T> &f, std::int32_t n, const std::vector<T> &b, std::int32_t ipath,
                     ErrorModule &err) {
  std::vector<T> x(static_cast<std::size_t>(n));
  std::vector<std::int32_t> ipvt = f.ipvt, jpvt = f.jpvt;
  sparse::SolveFactored<T>(err, n, f.nfac, f.nl, f.fac, f.irfac, f.jcfac, ipvt, jpvt, b, ipath, x,
                           f.nl > 0);
  return x;
}

// ---- Layout invariants of a factor set ----------------------------------
template <class T> void ExpectFactorLayout(const FactorSet<T> &f, std::int32_t n) {
  ASSERT_GE(f.nl, 0);
  ASSERT_GE(f.nfac, n);
  ASSERT_LE(f.nl, f.nfac);
  std::set<std::pair<std::int32_t, std::int32_t>> seen;
  for (std::int32_t k = 0; k < f.nfac; ++k) {
    ASSERT_GE(f.irfac[k], 1);
    ASSERT_LE(f.irfac[k], n);
    ASSERT_GE(f.jcfac[k], 1);
    ASSERT_LE(f.jcfac[k], n);
    EXPECT_TRUE(seen.insert({f.irfac[k], f.jcfac[k]}).second) << "position stored twice at entry " << k + 1;
  }
  // L: strictly below the diagonal, rows increasing, from row 2 on.
  for (std::int32_t k = 0; k < f.nl; ++k) {
    EXPECT_GT(f.irfac[k], f.jcfac[k]) << "entry " << k + 1;
    EXPECT_GE(f.irfac[k], 2);
    if (k > 0) {
      EXPECT_GE(f.irfac[k], f.irfac[k - 1]) << "entry " << k + 1;
    }
  }
  // U: on or above the diagonal, one group per row from row N down to 1,
  // each closed by its diagonal and holding no other diagonal.
  std::int32_t expected_row = n;
  for (std::int32_t k = f.nl; k < f.nfac; ++k) {
    EXPECT_LE(f.irfac[k], f.jcfac[k]) << "entry " << k + 1;
    ASSERT_EQ(f.irfac[k], expected_row) << "entry " << k + 1;
    const bool diagonal = f.irfac[k] == f.jcfac[k];
    const bool group_end = k == f.nfac - 1 || f.irfac[k + 1] != f.irfac[k];
    EXPECT_EQ(diagonal, group_end) << "entry " << k + 1;
    if (group_end) --expected_row;
  }
  EXPECT_EQ(expected_row, 0);
  std::vector<std::int32_t> p = f.ipvt, q = f.jpvt;
  std::sort(p.begin(), p.end());
  std::sort(q.begin(), q.end());
  for (std::int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(p[i], i + 1);
    EXPECT_EQ(q[i], i + 1);
  }
}

// ---- Rebuilt product ------------------------------------------------------
// Largest |L*U - A(IPVT, JPVT)| over all positions, relative to the
// largest (|L|*|U|) entry, in units of the float epsilon.
template <class T> double ProductError(const TripletMatrix<T> &m, const FactorSet<T> &f) {
  const std::int32_t n = m.n;
  const auto idx = [n](std::int32_t i, std::int32_t j) {
    return static_cast<std::size_t>(i - 1) * n + static_cast<std::size_t>(j - 1);
  };
  std::vector<cd> a(static_cast<std::size_t>(n) * n), prod(a.size());
  std::vector<double> mag(a.size());
  std::vector<std::int32_t> pos_row(n + 1), pos_col(n + 1);
  for (std::int32_t i = 1; i <= n; ++i) {
    pos_row[f.ipvt[i - 1]] = i;
    pos_col[f.jpvt[i - 1]] = i;
  }
  for (std::int32_t k = 0; k < m.nz(); ++k) a[idx(pos_row[m.irow[k]], pos_col[m.jcol[k]])] = ToDouble(m.a[k]);
  std::vector<std::vector<std::pair<std::int32_t, cd>>> lcol(n + 1), urow(n + 1);
  for (std::int32_t i = 1; i <= n; ++i) lcol[i].push_back({i, 1.0});
  for (std::int32_t k = 0; k < f.nl; ++k) lcol[f.jcfac[k]].push_back({f.irfac[k], ToDouble(f.fac[k])});
  for (std::int32_t k = f.nl; k < f.nfac; ++k) urow[f.irfac[k]].push_back({f.jcfac[k], ToDouble(f.fac[k])});
  for (std::int32_t k = 1; k <= n; ++k)
    for (const auto &[i, l] : lcol[k])
      for (const auto &[j, u] : urow[k]) {
        prod[idx(i, j)] += l * u;
        mag[idx(i, j)] += std::abs(l) * std::abs(u);
      }
  double worst = 0.0, scale = 0.0;
  for (std::size_t p = 0; p < a.size(); ++p) {
    worst = std::max(worst, std::abs(prod[p] - a[p]));
    scale = std::max(scale, mag[p]);
  }
  return scale == 0.0 ? worst : worst / (scale * std::ldexp(1.0, -24));
}

// ---- Residuals --------------------------------------------------------------
// ||op(A)*x - b||inf / (||A||inf * ||x||inf) in units of the float epsilon;
// ipath 2 uses the transpose, conjugated for complex values.
template <class T>
double ResidualRatio(const TripletMatrix<T> &m, const std::vector<T> &x, const std::vector<T> &b,
                     std::int32_t ipath) {
  const std::int32_t n = m.n;
  std::vector<cd> r(static_cast<std::size_t>(n));
  std::vector<double> row_sum(static_cast<std::size_t>(n));
  for (std::int32_t k = 0; k < m.nz(); ++k) {
    cd v = ToDouble(m.a[k]);
    std::int32_t i = m.irow[k], j = m.jcol[k];
    if (ipath == 2) {
      v = std::conj(v);
      std::swap(i, j);
    }
    r[i - 1] += v * ToDouble(x[j - 1]);
    row_sum[i - 1] += std::abs(v);
  }
  double rn = 0.0, an = 0.0, xn = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    rn = std::max(rn, std::abs(r[i] - ToDouble(b[i])));
    an = std::max(an, row_sum[i]);
    xn = std::max(xn, std::abs(ToDouble(x[i])));
  }
  return rn / (an * xn * std::ldexp(1.0, -24));
}

// Componentwise backward error of a solve with the factors: the largest
// |op(A)*x - b|(i) / (op(|L|*|U|)*|x|)(i), in units of the float epsilon,
// in the permuted order of the factors. A sound forward and backward
// substitution keeps it below a small multiple of the entries per row.
template <class T>
double FactorResidualRatio(const TripletMatrix<T> &m, const FactorSet<T> &f, const std::vector<T> &x,
                           const std::vector<T> &b, std::int32_t ipath) {
  const std::int32_t n = m.n;
  std::vector<cd> r(static_cast<std::size_t>(n) + 1);
  for (std::int32_t k = 0; k < m.nz(); ++k) {
    cd v = ToDouble(m.a[k]);
    std::int32_t i = m.irow[k], j = m.jcol[k];
    if (ipath == 2) {
      v = std::conj(v);
      std::swap(i, j);
    }
    r[i] += v * ToDouble(x[j - 1]);
  }
  for (std::int32_t i = 1; i <= n; ++i) r[i] -= ToDouble(b[i - 1]);
  // Permuted |x| and the two triangular magnitudes.
  const std::vector<std::int32_t> &in = ipath == 1 ? f.jpvt : f.ipvt;
  const std::vector<std::int32_t> &out = ipath == 1 ? f.ipvt : f.jpvt;
  std::vector<double> y(static_cast<std::size_t>(n) + 1), z(static_cast<std::size_t>(n) + 1);
  for (std::int32_t i = 1; i <= n; ++i) y[i] = std::abs(ToDouble(x[in[i - 1] - 1]));
  // ipath 1: |L| (|U| y); ipath 2: |U|' (|L|' y).
  auto apply = [&](std::int32_t from, std::int32_t to, bool transposed, bool unit, const std::vector<double> &v) {
    std::vector<double> w(v.size());
    if (unit) w = v;
    for (std::int32_t k = from; k < to; ++k) {
      std::int32_t i = f.irfac[k], j = f.jcfac[k];
      if (transposed) std::swap(i, j);
      w[i] += std::abs(ToDouble(f.fac[k])) * v[j];
    }
    return w;
  };
  if (ipath == 1)
    z = apply(0, f.nl, false, true, apply(f.nl, f.nfac, false, false, y));
  else
    z = apply(f.nl, f.nfac, true, false, apply(0, f.nl, true, true, y));
  double worst = 0.0;
  for (std::int32_t i = 1; i <= n; ++i) {
    const double res = std::abs(r[out[i - 1]]);
    if (res == 0.0) continue;
    worst = std::max(worst, res / (z[i] * std::ldexp(1.0, -24)));
  }
  return worst;
}

// Printed text with every continuation line joined to the line before by
// one blank, so that a message can be found whatever its line breaks.
inline std::string Flatten(const std::string &text) {
  static const std::string kNext = "\n ***          ";
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, kNext.size(), kNext) == 0) {
      flat += ' ';
      i += kNext.size() - 1;
    } else {
      flat += text[i];
    }
  }
  return flat;
}

// ---- Matrices -----------------------------------------------------------------
inline float RandomValue(std::mt19937 &g) {
  // Magnitudes between 0.1 and 10 of either sign, exactly representable steps.
  const int k = static_cast<int>(g() % 199) - 99;
  const float v = static_cast<float>(k == 0 ? 1 : k) / 10.0f;
  return v;
}
template <class T> T RandomEntry(std::mt19937 &g);
template <> inline float RandomEntry<float>(std::mt19937 &g) { return RandomValue(g); }
template <> inline Complex RandomEntry<Complex>(std::mt19937 &g) { return {RandomValue(g), RandomValue(g)}; }

enum class Pattern { kSymmetric, kUnsymmetric, kZeroDiagonal };

// A random sparse matrix of order n with about `per_row` off-diagonal
// entries per row. Symmetric patterns carry a diagonal; the others keep the
// matrix structurally nonsingular through a random permutation's entries.
// Diagonal dominance keeps it well conditioned unless zero diagonals are
// asked for.
template <class T> TripletMatrix<T> RandomMatrix(std::int32_t n, int per_row, Pattern pattern, unsigned seed) {
  std::mt19937 g(seed);
  std::set<std::pair<std::int32_t, std::int32_t>> pos;
  TripletMatrix<T> m;
  m.n = n;
  std::vector<std::int32_t> perm(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) perm[i] = i + 1;
  std::shuffle(perm.begin(), perm.end(), g);
  std::vector<double> row_abs(static_cast<std::size_t>(n) + 1);
  auto put = [&](std::int32_t i, std::int32_t j) {
    if (!pos.insert({i, j}).second) return;
    const T v = RandomEntry<T>(g);
    m.add(i, j, v);
    row_abs[i] += std::abs(ToDouble(v));
  };
  for (std::int32_t i = 1; i <= n; ++i) {
    for (int t = 0; t < per_row; ++t) {
      const auto j = static_cast<std::int32_t>(g() % n) + 1;
      if (j == i) continue;
      put(i, j);
      if (pattern == Pattern::kSymmetric) put(j, i);
    }
    if (pattern == Pattern::kZeroDiagonal) put(i, perm[i - 1]);
  }
  if (pattern != Pattern::kZeroDiagonal) {
    // Diagonals last, dominant over their row.
    for (std::int32_t i = 1; i <= n; ++i) {
      if (pos.count({i, i})) continue;
      const float d = static_cast<float>(row_abs[i] + 1.0);
      if constexpr (std::is_same_v<T, float>)
        m.add(i, i, (i % 2) ? d : -d);
      else
        m.add(i, i, Complex{d, 0.5f * d});
      pos.insert({i, i});
    }
  }
  // Shuffle the triplet order: the factorization must not rely on it.
  std::vector<std::size_t> order(m.a.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), g);
  TripletMatrix<T> out;
  out.n = n;
  for (const std::size_t k : order) out.add(m.irow[k], m.jcol[k], m.a[k]);
  return out;
}

template <class T> std::vector<T> RandomVector(std::int32_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::vector<T> b(static_cast<std::size_t>(n));
  for (auto &v : b) v = RandomEntry<T>(g);
  return b;
}

} // namespace orvek::test
