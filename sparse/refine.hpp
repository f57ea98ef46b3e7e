// Mixed-precision iterative refinement: solutions to double accuracy from
// single-precision factors. The residual r = b - op(A)·x is formed in double
// against the matrix's triplets (op(A) = A, or the transpose, conjugated for
// complex values, on the transposed path) and the correction added in
// double. A correction is first the factors' single-precision solve of r
// (scaled by its largest magnitude so that it neither underflows nor
// overflows there). When such corrections stop halving the residual before
// it reaches rounding level (factors whose growth leaves them too far from
// A: their error times the condition of A is not below one), each further
// correction solves op(A)·d = r by flexible GMRES in double, preconditioned
// on the right by the factors' solve, which converges for such factors too.
// The loop ends when the residual no longer falls to half its previous
// size, is zero, or after kMaxRefinements corrections; the best x seen is
// returned. Allocation-free: every vector is the caller's.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "sparse/double_values.hpp"

namespace orvek::sparse {

inline constexpr std::int32_t kMaxRefinements = 30;
// Krylov vectors per flexible GMRES correction.
inline constexpr std::int32_t kKrylovDimension = 20;
// Backward error at which single-precision corrections are deemed enough.
inline constexpr double kRoundingLevel = 1e-15;

// The matrix as its triplets (numbers in 1..N, the caller's contract).
template <class T> struct TripletView {
  std::int32_t n = 0;
  std::span<const std::int32_t> irow, jcol;
  std::span<const T> value;
};

// y = y0 - op(A)·x in double, entry by entry of the triplet list.
template <class T>
void SubtractProduct(const TripletView<T> &a, bool transposed, std::span<const Wide<T>> x,
                     std::span<const Wide<T>> y0, std::span<Wide<T>> y) {
  std::copy(y0.begin(), y0.end(), y.begin());
  for (std::size_t t = 0; t < a.value.size(); ++t) {
    const auto i = static_cast<std::size_t>(a.irow[t] - 1), j = static_cast<std::size_t>(a.jcol[t] - 1);
    const Wide<T> v = Widen(a.value[t]);
    if (transposed)
      y[j] = dsub(y[j], dmul(dconj(v), x[i]));
    else
      y[i] = dsub(y[i], dmul(v, x[j]));
  }
}

// ||op(A)||∞: the largest row sum of magnitudes of op(A); sums holds n values.
template <class T> double NormInf(const TripletView<T> &a, bool transposed, std::span<double> sums) {
  std::fill(sums.begin(), sums.end(), 0.0);
  for (std::size_t t = 0; t < a.value.size(); ++t) {
    const auto i = static_cast<std::size_t>((transposed ? a.jcol[t] : a.irow[t]) - 1);
    sums[i] += dabs(Widen(a.value[t]));
  }
  double m = 0.0;
  for (const double s : sums) m = std::max(m, s);
  return m;
}

// The largest magnitude; NaN when any value is NaN, so that a solution
// spoilt by one is never reported as converged.
template <class V> double MaxMagnitude(std::span<const V> v) {
  double m = 0.0;
  bool nan = false;
  for (const V &x : v) {
    const double a = dabs(x);
    if (a > m)
      m = a;
    else if (a != a)
      nan = true;
  }
  return nan ? std::numeric_limits<double>::quiet_NaN() : m;
}

template <class V> V Dot(std::span<const V> u, std::span<const V> v) {
  V s{};
  for (std::size_t i = 0; i < u.size(); ++i) s = dadd(s, dmul(dconj(u[i]), v[i]));
  return s;
}

template <class T> struct RefineVectors {
  std::span<Wide<T>> x, best, r, zero; // n each (zero: all zeros, read only)
  std::span<T> rhs, correction;        // n each (single precision)
  std::span<double> sums;              // n
  // Flexible GMRES: (kKrylovDimension + 1)·n basis values, kKrylovDimension·n
  // preconditioned ones, and (kKrylovDimension + 1)·(kKrylovDimension + 3)
  // small values (the Hessenberg matrix, the rotations, the right-hand side).
  std::span<Wide<T>> basis, preconditioned, small;
};

struct RefineResult {
  std::int32_t solves = 0; // solves with the factors after the first
  double backward_error = 0.0;
};

namespace detail {

// d ≈ M^-1·v in single precision, M the factors; v scaled by its largest
// magnitude for the single-precision solve.
template <class T, class SolveFn>
void ApplyFactors(std::span<const Wide<T>> v, std::span<Wide<T>> d, const RefineVectors<T> &w, SolveFn &solve) {
  const double scale = MaxMagnitude<Wide<T>>(v);
  if (scale == 0.0) {
    std::fill(d.begin(), d.end(), Wide<T>{});
    return;
  }
  for (std::size_t i = 0; i < v.size(); ++i) w.rhs[i] = Narrow(dscale(1.0 / scale, v[i]));
  solve(std::span<const T>(w.rhs), w.correction);
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = dscale(scale, Widen(w.correction[i]));
}

// One flexible GMRES correction of op(A)·d = r, added to x; returns the
// solves made.
template <class T, class SolveFn>
std::int32_t KrylovCorrection(const TripletView<T> &a, bool transposed, const RefineVectors<T> &w,
                              SolveFn &solve) {
  using V = Wide<T>;
  const std::size_t n = w.x.size();
  constexpr std::size_t m = kKrylovDimension;
  const auto basis = [&](std::size_t j) { return w.basis.subspan(j * n, n); };
  const auto pre = [&](std::size_t j) { return w.preconditioned.subspan(j * n, n); };
  const auto h = [&](std::size_t i, std::size_t j) -> V & { return w.small[j * (m + 1) + i]; };
  const std::span<V> cs = w.small.subspan(m * (m + 1), m), sn = w.small.subspan(m * (m + 2), m),
                     g = w.small.subspan(m * (m + 3), m + 1);
  double beta = 0.0;
  for (const V &v : w.r) beta += dabs(v) * dabs(v);
  beta = std::sqrt(beta);
  if (beta == 0.0 || !std::isfinite(beta)) return 0;
  for (std::size_t i = 0; i < n; ++i) basis(0)[i] = dscale(1.0 / beta, w.r[i]);
  std::fill(g.begin(), g.end(), V{});
  g[0] = FromReal<V>(beta);
  std::size_t k = 0;
  std::int32_t solves = 0;
  for (std::size_t j = 0; j < m; ++j) {
    ApplyFactors<T>(std::span<const V>(basis(j)), pre(j), w, solve);
    ++solves;
    // basis(j + 1) = op(A)·pre(j), orthogonalised (modified Gram-Schmidt).
    const std::span<V> v = basis(j + 1);
    SubtractProduct(a, transposed, std::span<const V>(pre(j)), std::span<const V>(w.zero), v);
    for (V &x : v) x = dscale(-1.0, x);
    for (std::size_t i = 0; i <= j; ++i) {
      const V hij = Dot<V>(std::span<const V>(basis(i)), std::span<const V>(v));
      h(i, j) = hij;
      for (std::size_t p = 0; p < n; ++p) v[p] = dsub(v[p], dmul(hij, basis(i)[p]));
    }
    double norm = 0.0;
    for (const V &x : v) norm += dabs(x) * dabs(x);
    norm = std::sqrt(norm);
    h(j + 1, j) = FromReal<V>(norm);
    if (norm > 0.0)
      for (V &x : v) x = dscale(1.0 / norm, x);
    // Earlier rotations on the new column, then the one that zeroes h(j+1, j):
    // [c s; -conj(s) c] with c real.
    for (std::size_t i = 0; i < j; ++i) {
      const V t = dadd(dmul(cs[i], h(i, j)), dmul(sn[i], h(i + 1, j)));
      h(i + 1, j) = dsub(dmul(cs[i], h(i + 1, j)), dmul(dconj(sn[i]), h(i, j)));
      h(i, j) = t;
    }
    const double a1 = dabs(h(j, j)), rho = std::hypot(a1, norm);
    if (rho == 0.0) break;
    if (a1 == 0.0) {
      cs[j] = V{};
      sn[j] = FromReal<V>(1.0);
      h(j, j) = FromReal<V>(rho);
    } else {
      cs[j] = FromReal<V>(a1 / rho);
      sn[j] = dscale(norm / (rho * a1), h(j, j));
      h(j, j) = dscale(rho / a1, h(j, j)); // keeps the phase of h(j, j)
    }
    g[j + 1] = dmul(dscale(-1.0, dconj(sn[j])), g[j]);
    g[j] = dmul(cs[j], g[j]);
    k = j + 1;
    if (dabs(g[j + 1]) <= 1e-16 * beta || norm == 0.0) break;
  }
  // y from the triangle, then x += Σ y_j·pre(j).
  for (std::size_t i = k; i-- > 0;) {
    V s = g[i];
    for (std::size_t p = i + 1; p < k; ++p) s = dsub(s, dmul(h(i, p), g[p]));
    g[i] = ddiv(s, h(i, i));
  }
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t p = 0; p < n; ++p) w.x[p] = dadd(w.x[p], dmul(g[j], pre(j)[p]));
  return solves;
}

} // namespace detail

// Refines into v.best; solve(rhs, correction) solves with the factors in
// single precision on the same path.
template <class T, class SolveFn>
RefineResult Refine(const TripletView<T> &a, bool transposed, std::span<const Wide<T>> b, const RefineVectors<T> &v,
                    SolveFn &&solve) {
  using V = Wide<T>;
  const double anorm = NormInf(a, transposed, v.sums);
  const double bnorm = MaxMagnitude<V>(b);
  // A zero residual is exact; a NaN anywhere stays NaN.
  const auto backward = [&](double rn, double xn) { return rn == 0.0 ? 0.0 : rn / (anorm * xn + bnorm); };
  std::fill(v.x.begin(), v.x.end(), V{});
  std::fill(v.zero.begin(), v.zero.end(), V{});
  std::copy(b.begin(), b.end(), v.r.begin());
  RefineResult out;
  double best = -1.0, best_x = 0.0;
  bool krylov = false;
  for (std::int32_t step = 0; step <= kMaxRefinements; ++step) {
    if (MaxMagnitude<V>(v.r) == 0.0) break;
    if (krylov) {
      out.solves += detail::KrylovCorrection(a, transposed, v, solve);
    } else {
      if (step > 0) ++out.solves;
      // The correction overwrites r, which is formed anew below.
      detail::ApplyFactors<T>(std::span<const V>(v.r), v.r, v, solve);
      for (std::size_t i = 0; i < v.x.size(); ++i) v.x[i] = dadd(v.x[i], v.r[i]);
    }
    SubtractProduct(a, transposed, std::span<const V>(v.x), b, v.r);
    const double rn = MaxMagnitude<V>(v.r);
    const bool falling = best < 0.0 || rn <= 0.5 * best;
    if (best < 0.0 || rn < best) {
      best = rn;
      best_x = MaxMagnitude<V>(v.x);
      std::copy(v.x.begin(), v.x.end(), v.best.begin());
    }
    if (!(rn > 0.0)) break;
    if (!falling) {
      if (krylov || backward(best, best_x) <= kRoundingLevel) break;
      // Single-precision corrections stalled: continue from the best x.
      krylov = true;
      std::copy(v.best.begin(), v.best.end(), v.x.begin());
      SubtractProduct(a, transposed, std::span<const V>(v.x), b, v.r);
    }
  }
  if (best < 0.0) {
    // b = 0: x = 0 solves it exactly.
    std::fill(v.best.begin(), v.best.end(), V{});
    best = best_x = 0.0;
  }
  out.backward_error = backward(best, best_x);
  return out;
}

} // namespace orvek::sparse
