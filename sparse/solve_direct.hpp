// The triangular sweeps of the sparse solve, written once for every caller,
// the direct road, and the choice between it and the marked road
// (SolveFactored) that every solve takes.
//   Inputs: the factor set (N, NFAC, NL, FAC through an accessor, IRFAC,
//   JCFAC, IPVT, JPVT), the right-hand side B, IPATH. Output: X.
//   Work: N values and N integers on the direct road.
// On the direct road: when the counts are valid and
// IPVT and JPVT are permutations of 1..N, the solve raises nothing, and the
// permutations of the right-hand side and of the solution are plain gathers
// and scatters, so the host's right-hand side is gathered straight into the
// work vector and the solution scattered straight into the host's array,
// with the factor values read where the host keeps them. Every operation and
// its order are those of SolveFactored (sparse_solve.hpp), except that the
// forward sweep skips the leading entries of L that can only leave zeros at
// zero: results agree bit for bit (for finite factor values). Accessors are
// 1-based: fac(k), b(i) give values, x(i, v) stores.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <type_traits>

#include "sparse/sparse_traits.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// X(IRFAC(k)) = X(IRFAC(k)) - X(JCFAC(k))*FAC(k), k = first..NL. A run of
// entries of one row keeps that row's value in a register between the
// updates (each update is still rounded as it is made).
template <class T, class Fac>
inline void ForwardWithL(T *x0, std::int32_t lcount, const Fac &fac, const std::int32_t *irfac,
                         const std::int32_t *jcfac, std::int32_t first = 1) {
  using Tr = SparseTraits<T>;
  std::int32_t k = first;
  while (k <= lcount) {
    const std::int32_t r = irfac[k - 1];
    T acc = x0[r - 1];
    for (; k <= lcount && irfac[k - 1] == r; ++k) {
      const std::int32_t c = jcfac[k - 1];
      // A row that reads itself (only in a damaged factor set) reads its
      // current value.
      if (c == r) [[unlikely]]
        x0[r - 1] = acc;
      acc = Tr::sub(acc, Tr::mul(x0[c - 1], fac(k)));
    }
    x0[r - 1] = acc;
  }
}

// Backward with U, k = NL+1..NFAC: the diagonal d of a row group is
// remembered, the other entries update the row, and the group's end divides
// by d. A group without a diagonal (a damaged factor set) takes the d of
// the group before it, or zero.
template <class T, class Fac>
inline void BackwardWithU(T *x0, std::int32_t lcount, std::int32_t nfac, const Fac &fac, const std::int32_t *irfac,
                          const std::int32_t *jcfac) {
  using Tr = SparseTraits<T>;
  T d{};
  std::int32_t k = lcount + 1;
  while (k <= nfac) {
    const std::int32_t r = irfac[k - 1];
    T acc = x0[r - 1];
    for (; k <= nfac && irfac[k - 1] == r; ++k) {
      const std::int32_t c = jcfac[k - 1];
      if (c == r)
        d = fac(k);
      else
        acc = Tr::sub(acc, Tr::mul(x0[c - 1], fac(k)));
    }
    x0[r - 1] = Tr::div(acc, d);
  }
}

// With U' (conjugated for complex values), k = NFAC down to NL+1.
template <class T, class Fac>
inline void TransposedWithU(T *x0, std::int32_t lcount, std::int32_t nfac, const Fac &fac,
                            const std::int32_t *irfac, const std::int32_t *jcfac) {
  using Tr = SparseTraits<T>;
  for (std::int32_t k = nfac; k > lcount; --k) {
    const std::int32_t c = jcfac[k - 1];
    const T f = Tr::transposed(fac(k));
    if (irfac[k - 1] == c)
      x0[c - 1] = Tr::div(x0[c - 1], f);
    else
      x0[c - 1] = Tr::sub(x0[c - 1], Tr::mul(f, x0[irfac[k - 1] - 1]));
  }
}

// With L' (conjugated for complex values), k = NL down to 1.
template <class T, class Fac>
inline void TransposedWithL(T *x0, std::int32_t lcount, const Fac &fac, const std::int32_t *irfac,
                            const std::int32_t *jcfac) {
  using Tr = SparseTraits<T>;
  for (std::int32_t k = lcount; k >= 1; --k)
    x0[jcfac[k - 1] - 1] = Tr::sub(x0[jcfac[k - 1] - 1], Tr::mul(x0[irfac[k - 1] - 1], Tr::transposed(fac(k))));
}

// The first entry of L the forward sweep must make when x0(1..q-1) are all
// +0 (bit for bit) and q is the first that is not: the entries before it
// belong to rows above q and read columns above q, so each computes
// +0 - (±0)·FAC = +0 for finite factor values and leaves x0 as it is. A
// unit right-hand side (a current injected at one node) skips most of L.
template <class T> inline bool IsPositiveZero(T v) {
  if constexpr (std::is_same_v<T, float>)
    return std::bit_cast<std::uint32_t>(v) == 0u;
  else
    return (std::bit_cast<std::uint32_t>(v.re) | std::bit_cast<std::uint32_t>(v.im)) == 0u;
}
template <class T>
inline std::int32_t FirstNeededEntry(const T *x0, std::int32_t n, std::int32_t lcount, const std::int32_t *irfac,
                                     const std::int32_t *jcfac) {
  std::int32_t q = 1;
  while (q <= n && IsPositiveZero(x0[q - 1])) ++q;
  std::int32_t k = 1;
  while (k <= lcount && irfac[k - 1] < q && jcfac[k - 1] < q) ++k;
  return k;
}

// True when p(1..n) and q(1..n) each hold every integer 1..n once; mark
// holds n integers. The two vectors are counted in one pass (p in the low
// half of a mark, q in the high half) and every mark must end as one of each.
inline bool ArePermutations(const std::int32_t *p, const std::int32_t *q, std::int32_t n, std::int32_t *mark) {
  constexpr std::int32_t kHalf = 1 << 16;
  if (n >= kHalf) {
    // Counts of one half could carry into the other: one vector at a time.
    for (const std::int32_t *v : {p, q}) {
      for (std::int32_t i = 0; i < n; ++i) mark[i] = 0;
      for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t a = static_cast<std::uint32_t>(v[i]) - 1u;
        if (a >= static_cast<std::uint32_t>(n) || mark[a] != 0) return false;
        mark[a] = 1;
      }
    }
    return true;
  }
  for (std::int32_t i = 0; i < n; ++i) mark[i] = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::uint32_t a = static_cast<std::uint32_t>(p[i]) - 1u;
    const std::uint32_t b = static_cast<std::uint32_t>(q[i]) - 1u;
    if ((a >= static_cast<std::uint32_t>(n)) | (b >= static_cast<std::uint32_t>(n))) return false;
    mark[a] += 1;
    mark[b] += kHalf;
  }
  std::int32_t off = 0;
  for (std::int32_t i = 0; i < n; ++i) off |= mark[i] ^ (kHalf + 1);
  return off == 0;
}

// A factor set as the direct road reads it: fac(k) gives FAC(K), the index
// arrays hold NFAC (IRFAC, JCFAC) and N (IPVT, JPVT) numbers.
template <class Fac> struct FactorReader {
  std::int32_t n, nfac, nl;
  Fac fac;
  const std::int32_t *irfac, *jcfac, *ipvt, *jpvt;
};

// The direct road. Returns false, having done nothing, when a count, the
// path or a permutation vector would make SolveFactored raise an error or
// take its marked in-place permutation on a vector that is not a
// permutation. work holds N values, mark N integers; B may be the array X
// writes into (it is read first).
template <class T, class Fac, class In, class Out>
bool SolveDirect(ErrorModule &err, const FactorReader<Fac> &f, const In &b, std::int32_t ipath, const Out &x,
                 std::span<T> work, std::span<std::int32_t> mark, bool multipliers_required) {
  const std::int32_t n = f.n, nfac = f.nfac, nl = f.nl;
  if (n < 1 || nfac < 1 || (multipliers_required && nl < 1) || (ipath != 1 && ipath != 2)) return false;
  if (!ArePermutations(f.ipvt, f.jpvt, n, mark.data())) return false;
  // The solve's error frame, as on the marked road; nothing is raised in it
  // (nor in the permutations, whose frames would leave no trace).
  const ErrorFrame frame(err, SparseTraits<T>::kSolve);
  const std::int32_t lcount = nl > 0 ? nl : 0;
  T *x0 = work.data();
  if (ipath == 1) {
    for (std::int32_t i = 1; i <= n; ++i) x0[i - 1] = b(f.ipvt[i - 1]);
    ForwardWithL(x0, lcount, f.fac, f.irfac, f.jcfac, FirstNeededEntry(x0, n, lcount, f.irfac, f.jcfac));
    BackwardWithU(x0, lcount, nfac, f.fac, f.irfac, f.jcfac);
    for (std::int32_t i = 1; i <= n; ++i) x(f.jpvt[i - 1], x0[i - 1]);
  } else {
    for (std::int32_t i = 1; i <= n; ++i) x0[i - 1] = b(f.jpvt[i - 1]);
    TransposedWithU(x0, lcount, nfac, f.fac, f.irfac, f.jcfac);
    TransposedWithL(x0, lcount, f.fac, f.irfac, f.jcfac);
    for (std::int32_t i = 1; i <= n; ++i) x(f.ipvt[i - 1], x0[i - 1]);
  }
  return true;
}

// The one choice between the two roads of a solve, taken by every caller
// (BSC, BSR, the native Solve): the direct road when work (N values) and
// mark (N integers) are at hand and the counts, the path and the
// permutations allow it; otherwise marked(), the caller's call of
// SolveFactored (on copies, or on its own writable vectors), which reports
// what is wrong. Returns true when X holds the solution.
template <class T, class Fac, class In, class Out, class Marked>
bool SolveOnChosenRoad(ErrorModule &err, const FactorReader<Fac> &f, const In &b, std::int32_t ipath,
                       const Out &x, std::span<T> work, std::span<std::int32_t> mark,
                       bool multipliers_required, const Marked &marked) {
  const bool room = f.n >= 1 && work.size() >= static_cast<std::size_t>(f.n) &&
                    mark.size() >= static_cast<std::size_t>(f.n);
  if (room && SolveDirect<T>(err, f, b, ipath, x, work, mark, multipliers_required)) return true;
  return marked();
}

} // namespace orvek::sparse
