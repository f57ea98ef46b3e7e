// The marked road of the solve (LFSXG, LFSZG) with the factors
// P*A*Q = L*U, and the in-place vector permutation (PERMU, L11ZG).
//   Inputs: N, NFAC, NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, IPATH.
//   Output: X (B permuted into X, the sweeps run in X, X permuted back).
//   Work:   none; IPVT and JPVT are marked while a vector is permuted and
//           restored before the call returns.
// Forward with L (entries 1..NL), backward with U (row groups from row N
// down, each group's diagonal last); the transposed path walks the same
// arrays backwards. One template for real and complex values.
#include "sparse/sparse_solve.hpp"

#include "sparse/solve_direct.hpp"

#include <cstdint>
#include <utility>

namespace orvek::sparse {

namespace {

constexpr Message kPermuteLength{
    1, "The length of the arrays X and XPERMU must be positive while N = %(I1) is given."};
constexpr Message kPermutePath{2, "IPATH must be equal to 1 or 2 while a value of %(I1) is given."};
constexpr Message kPermuteEntry{3, "IPERMU(%(I1)) = %(I3) is not allowed.  It must be between 1 and N = %(I2)."};

constexpr Message kSolveOrder{1, "The order of system of equations must be positive, while N = %(I1) is given."};
constexpr Message kSolveNfac{2, "The number of nonzeros in FAC must be positive, while NFAC = %(I1) is given."};
constexpr Message kSolveNl{3, "The number of nonzeros in L must be positive, while NL = %(I1) is given."};
constexpr Message kSolvePath{4, "The path indicator must be equal to 1 or 2 while IPATH = %(I1) is given."};
constexpr Message kSolveIpvt{5, "The array IPVT does not contain the integers from 1 to N."};
constexpr Message kSolveJpvt{6, "The array JPVT does not contain the integers from 1 to N."};

constexpr std::int32_t kPathDirect = 1;
constexpr std::int32_t kPathTransposed = 2;

// The sum test of a permutation vector: S = N(N+1)/2 as a real, every
// entry subtracted from it in single precision, in order; a remainder other
// than zero fails. Rounding may hide a wrong sum (its entries then meet the
// permutation's range check), but it must not fail a permutation: where the
// partial sums leave the integers a float holds exactly (orders above
// 4096), a vector of numbers in 1..N whose exact sum is S passes.
bool SumTestFails(std::span<const std::int32_t> v, std::int32_t n) {
  const std::int64_t s = static_cast<std::int64_t>(n) * (static_cast<std::int64_t>(n) + 1) / 2;
  float remainder = static_cast<float>(s);
  std::int64_t exact = s;
  bool in_range = true;
  for (const std::int32_t e : v) {
    remainder -= static_cast<float>(e);
    exact -= e;
    in_range = in_range && e >= 1 && e <= n;
  }
  return remainder != 0.0f && !(in_range && exact == 0);
}

} // namespace

template <class T>
bool PermuteVector(ErrorModule &err, std::int32_t n, std::span<const T> x, std::span<std::int32_t> ipermu,
                   std::int32_t ipath, std::span<T> xpermu) {
  const ErrorFrame frame(err, SparseTraits<T>::kPermute);
  if (n <= 0) Raise(err, kTerminal, kPermuteLength, {n});
  if (ipath != kPathDirect && ipath != kPathTransposed) Raise(err, kTerminal, kPermutePath, {ipath});
  for (std::int32_t i = 0; i < n; ++i) xpermu[i] = x[i];
  if (n == 1) return err.N1RCD(0) == 0;
  // Valid entries are marked unvisited by negating them.
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t v = ipermu[i];
    if (v < 1 || v > n)
      Raise(err, kTerminal, kPermuteEntry, {i + 1, n, v});
    else
      ipermu[i] = -v;
  }
  if (err.N1RCD(0) != 0) {
    // The marks are taken off again: the caller's vector is never left changed.
    for (std::int32_t i = 0; i < n; ++i)
      if (ipermu[i] < 0) ipermu[i] = -ipermu[i];
    return false;
  }
  // Cycle by cycle with one temporary; visiting an entry restores its sign.
  // A vector that is not a permutation (only its sum was tested) ends a
  // cycle at the first visited entry, so the loop always terminates.
  auto at = [&](std::int32_t i) -> std::int32_t & { return ipermu[i - 1]; };
  auto v = [&](std::int32_t i) -> T & { return xpermu[i - 1]; };
  for (std::int32_t i = 1; i <= n; ++i) {
    if (at(i) > 0) continue;
    T t = v(i);
    std::int32_t j = i;
    if (ipath == kPathDirect) {
      for (;;) {
        const std::int32_t k = -at(j);
        at(j) = k;
        if (k == i) {
          v(j) = t;
          break;
        }
        v(j) = v(k);
        if (at(k) > 0) break;
        j = k;
      }
    } else {
      for (;;) {
        const std::int32_t k = -at(j);
        at(j) = k;
        if (k == i) {
          v(i) = t;
          break;
        }
        std::swap(t, v(k));
        if (at(k) > 0) break;
        j = k;
      }
    }
  }
  return true;
}

template <class T>
bool SolveFactored(ErrorModule &err, std::int32_t n, std::int32_t nfac, std::int32_t nl, std::span<const T> fac,
                   std::span<const std::int32_t> irfac, std::span<const std::int32_t> jcfac,
                   std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt, std::span<const T> b,
                   std::int32_t ipath, std::span<T> x, bool multipliers_required) {
  const ErrorFrame frame(err, SparseTraits<T>::kSolve);
  if (n < 1) Raise(err, kTerminal, kSolveOrder, {n});
  if (nfac < 1) Raise(err, kTerminal, kSolveNfac, {nfac});
  if (multipliers_required && nl < 1) Raise(err, kTerminal, kSolveNl, {nl});
  if (ipath != kPathDirect && ipath != kPathTransposed) Raise(err, kTerminal, kSolvePath, {ipath});
  if (err.N1RCD(0) == 0) {
    const auto order = static_cast<std::size_t>(n);
    if (SumTestFails(ipvt.first(order), n)) Raise(err, kTerminal, kSolveIpvt);
    if (SumTestFails(jpvt.first(order), n)) Raise(err, kTerminal, kSolveJpvt);
  }
  if (err.N1RCD(0) != 0) return false;
  const std::int32_t lcount = nl > 0 ? nl : 0;
  const std::span<const T> xs(x.data(), x.size());
  const auto f = [&fac](std::int32_t k) { return fac[k - 1]; };
  if (ipath == kPathDirect) {
    if (PermuteVector<T>(err, n, b, ipvt, 1, x)) {
      ForwardWithL(x.data(), lcount, f, irfac.data(), jcfac.data());
      BackwardWithU(x.data(), lcount, nfac, f, irfac.data(), jcfac.data());
      PermuteVector<T>(err, n, xs, jpvt, 2, x);
    }
  } else {
    if (PermuteVector<T>(err, n, b, jpvt, 1, x)) {
      TransposedWithU(x.data(), lcount, nfac, f, irfac.data(), jcfac.data());
      TransposedWithL(x.data(), lcount, f, irfac.data(), jcfac.data());
      PermuteVector<T>(err, n, xs, ipvt, 2, x);
    }
  }
  return err.N1RCD(0) == 0;
}

template bool PermuteVector<float>(ErrorModule &, std::int32_t, std::span<const float>, std::span<std::int32_t>,
                                   std::int32_t, std::span<float>);
template bool PermuteVector<Complex>(ErrorModule &, std::int32_t, std::span<const Complex>,
                                     std::span<std::int32_t>, std::int32_t, std::span<Complex>);
template bool SolveFactored<float>(ErrorModule &, std::int32_t, std::int32_t, std::int32_t, std::span<const float>,
                                   std::span<const std::int32_t>, std::span<const std::int32_t>,
                                   std::span<std::int32_t>, std::span<std::int32_t>, std::span<const float>,
                                   std::int32_t, std::span<float>, bool);
template bool SolveFactored<Complex>(ErrorModule &, std::int32_t, std::int32_t, std::int32_t,
                                     std::span<const Complex>, std::span<const std::int32_t>,
                                     std::span<const std::int32_t>, std::span<std::int32_t>,
                                     std::span<std::int32_t>, std::span<const Complex>, std::int32_t,
                                     std::span<Complex>, bool);

} // namespace orvek::sparse
