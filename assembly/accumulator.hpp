// The shared machinery of admittance assembly: the branch order that brings
// parallel branches together, the triplet accumulator with its seeding, the
// four-term branch stamp (complex, and real with a node limit), the row sort
// of a triplet list and the conversion into the row-indexed sparse form.
//
// Conventions of every routine here:
//  - arrays are std::span, indexed from 0: irow[k] describes entry k + 1;
//  - the values stored in them are the host's 1-based numbers: node numbers,
//    branch numbers (perm), positions of the row-indexed form (ija);
//  - work storage is passed in by the caller and never allocated here; every
//    span must hold at least the count it is used with (nb, nz, ...); spans
//    are not bounds-checked, the caller sizes them (capacities are checked
//    by the exported routines only);
//  - errors are reported only through the ErrorModule& (the key sort's
//    length error for a count below 1); with stopping switched off every
//    routine returns cleanly and leaves a consistent result.
//
// Typical composition (the complex assembly):
//   OrderBranches(err, n, nb, from, to, order);          // keys, SVIGP
//   SeedDiagonal(acc, n);                                       // nz = n
//   for (l = 0; l < nb; ++l) {                                  // sorted order
//     b = order.perm[l];  // 1-based branch number
//     StampBranch(from[b-1], to[b-1], acc, yii, yjj, yij, yji,
//                 MergesWithPrevious(order.skey, l));
//   }
//   ConvertToRowIndexed(err, n, acc, conv, ija);                 // optional
//
// The real-valued assembly of the decoupled power-flow matrices uses the
// same OrderBranches/MergesWithPrevious with StampBranchReal(limit, ...)
// into a TripletList<float> seeded with SeedDiagonal(list, limit).
#pragma once

#include <cstdint>
#include <limits>
#include <span>

#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::assembly {

// ---------------------------------------------------------------------------
// Branch order
// ---------------------------------------------------------------------------

// Branch key of end nodes i and j in a network of n nodes:
// min(i, j)·n + max(i, j). Distinct unordered pairs in 1..n have distinct
// keys; the key does not depend on which end is named first. The caller
// keeps n·n + n within 32 bits.
inline std::int32_t BranchKey(std::int32_t n, std::int32_t i, std::int32_t j) {
  const std::int32_t lo = i < j ? i : j;
  const std::int32_t hi = i < j ? j : i;
  return lo * n + hi;
}

// The same key in 64 bits, for any node count of 32-bit node numbers.
inline std::int64_t WideBranchKey(std::int32_t n, std::int32_t i, std::int32_t j) {
  const std::int64_t lo = i < j ? i : j;
  const std::int64_t hi = i < j ? j : i;
  return lo * n + hi;
}

// Work storage of the branch order, each span at least nb long.
struct BranchOrder {
  std::span<std::int32_t> perm; // out: perm[l] = branch number (1-based) at sorted place l + 1
  std::span<std::int32_t> key;  // out: key[b - 1] = branch key of branch b, unsorted
  std::span<std::int32_t> skey; // out: skey[l] = key of the branch at sorted place l + 1
  // Optional 64-bit keys (the native road): when given, the keys are sorted
  // in 64 bits, and key/skey receive instead the rank of each key among the
  // distinct keys (1, 2, ...), which brings parallel branches together in
  // the same places; for node counts whose keys fit 32 bits the places are
  // those of the 32-bit sort.
  std::span<std::int64_t> wide_key = {};
  std::span<std::int64_t> wide_skey = {};
};

// Fills key and perm (perm[b - 1] = b) for branches 1..nb, whose end nodes
// are from[b - 1] and to[b - 1], and sorts them with SVIGP into skey,
// carrying perm. nb < 1 raises the key sort's TERMINAL length error through
// err; with stopping switched off nothing is sorted and the caller's walk
// over 0 places does nothing. With wide keys, as described at BranchOrder.
void OrderBranches(ErrorModule &err, std::int32_t n, std::int32_t nb,
                   std::span<const std::int32_t> from, std::span<const std::int32_t> to,
                   const BranchOrder &order);

// Merge flag of sorted place l (0-based): true when the branch at place l
// has the same sorted key as the one at place l - 1, i.e. it is parallel to
// it and its off-diagonal terms go into the pair created last.
inline bool MergesWithPrevious(std::span<const std::int32_t> skey, std::int32_t l) {
  return l >= 1 && skey[l] == skey[l - 1];
}

// Number of off-diagonal pairs an assembly over the sorted order creates:
// the distinct keys of branches with two different end nodes whose status is
// 1 (istat empty: every branch is in service). The stamps then make
// nz = n + 2·pairs.
std::int32_t CountNodePairs(std::span<const std::int32_t> skey, std::span<const std::int32_t> perm,
                            std::int32_t nb, std::span<const std::int32_t> from,
                            std::span<const std::int32_t> to,
                            std::span<const std::int32_t> istat = {});

// ---------------------------------------------------------------------------
// Triplet accumulator
// ---------------------------------------------------------------------------

// A sparse triplet list under construction: entries 1..nz are
// (irow[k], jcol[k], v[k]), k = 0..nz-1. The spans hold the capacity.
template <class T> struct TripletList {
  std::span<std::int32_t> irow;
  std::span<std::int32_t> jcol;
  std::span<T> v;
  std::int32_t nz = 0;
};

// nz = n and entry j (1..n) is the diagonal (j, j) with value zero, so that
// position j is where every diagonal contribution of node j is added.
template <class T> void SeedDiagonal(TripletList<T> &acc, std::int32_t n) {
  for (std::int32_t j = 1; j <= n; ++j) {
    acc.irow[j - 1] = j;
    acc.jcol[j - 1] = j;
    acc.v[j - 1] = T{};
  }
  acc.nz = n < 0 ? 0 : n;
}

namespace detail {
inline Complex Add(Complex a, Complex b) { return cadd(a, b); }
inline float Add(float a, float b) { return a + b; }
} // namespace detail

// The four-term stamp, written once for both value types. Only ends within
// 1..limit take part:
//   a <= limit:            v(a) += daa
//   b <= limit:            v(b) += dbb
//   both, and a != b:      merge ? (add into the last pair)
//                                : (append (a, b), (b, a) with value 0),
//                          then v(nz-1) += oab, v(nz) += oba.
// With merge the off-diagonal terms go into the last two entries whatever
// node pair they hold; the caller's branch order guarantees they are the
// same pair. A branch whose two ends are the same node adds its two
// diagonal terms and creates no off-diagonal entry (that would duplicate
// the diagonal position).
template <class T>
void StampBranchLimited(std::int32_t limit, std::int32_t a, std::int32_t b, TripletList<T> &acc, T daa,
                        T dbb, T oab, T oba, bool merge) {
  const bool a_in = a <= limit;
  const bool b_in = b <= limit;
  if (a_in) acc.v[a - 1] = detail::Add(acc.v[a - 1], daa);
  if (b_in) acc.v[b - 1] = detail::Add(acc.v[b - 1], dbb);
  if (!(a_in && b_in) || a == b) return;
  if (!merge) {
    acc.nz += 2;
    acc.irow[acc.nz - 2] = a;
    acc.jcol[acc.nz - 2] = b;
    acc.irow[acc.nz - 1] = b;
    acc.jcol[acc.nz - 1] = a;
    acc.v[acc.nz - 2] = T{};
    acc.v[acc.nz - 1] = T{};
  }
  acc.v[acc.nz - 2] = detail::Add(acc.v[acc.nz - 2], oab);
  acc.v[acc.nz - 1] = detail::Add(acc.v[acc.nz - 1], oba);
}

// Complex stamp of one branch between nodes i and j (no node limit).
inline void StampBranch(std::int32_t i, std::int32_t j, TripletList<Complex> &acc, Complex yii,
                        Complex yjj, Complex yij, Complex yji, bool merge) {
  StampBranchLimited<Complex>(std::numeric_limits<std::int32_t>::max(), i, j, acc, yii, yjj, yij,
                              yji, merge);
}

// Real stamp with node limit l: ends above l are left out (their diagonal
// and the pair). The list is seeded with SeedDiagonal(list, l).
inline void StampBranchReal(std::int32_t l, std::int32_t a, std::int32_t b, TripletList<float> &acc,
                            float da, float db, float oab, float oba, bool merge) {
  StampBranchLimited<float>(l, a, b, acc, da, db, oab, oba, merge);
}

// The π-branch stamp of the admittance assembly, with series admittance y
// and end admittances ya (first end) and yb (second end):
//   Y(i,i) += ya + y,  Y(j,j) += yb + y,  Y(i,j) += -y,  Y(j,i) += -y.
// A branch with i == j carries only its end admittances (ya, then yb) to the
// node: its series element closes on itself and adds nothing.
inline void StampPiBranch(std::int32_t i, std::int32_t j, TripletList<Complex> &acc, Complex ya,
                          Complex yb, Complex y, bool merge) {
  if (i == j) {
    acc.v[i - 1] = cadd(acc.v[i - 1], ya);
    acc.v[i - 1] = cadd(acc.v[i - 1], yb);
    return;
  }
  const Complex minus_y = cneg(y);
  StampBranch(i, j, acc, cadd(ya, y), cadd(yb, y), minus_y, minus_y, merge);
}

// End admittances only (an opened branch): Y(i,i) += ya, Y(j,j) += yb.
inline void StampBranchEnds(std::int32_t i, std::int32_t j, TripletList<Complex> &acc, Complex ya,
                            Complex yb) {
  acc.v[i - 1] = cadd(acc.v[i - 1], ya);
  acc.v[j - 1] = cadd(acc.v[j - 1], yb);
}

// ---------------------------------------------------------------------------
// Row sort and row-indexed form
// ---------------------------------------------------------------------------

// Work storage of the row sort, each span at least nz long.
template <class T> struct RowSortWork {
  std::span<std::int32_t> perm;
  std::span<std::int32_t> jcol; // gathered columns
  std::span<T> v;               // gathered values
};

// Sorts entries 1..nz by row with SVIGP in place (rows ascending) and moves
// the columns and values along. Entries of one row keep the relative order
// the key sort leaves; they are not ordered by column.
template <class T>
void SortTripletsByRow(ErrorModule &err, std::span<std::int32_t> irow, std::span<std::int32_t> jcol,
                       std::span<T> v, std::int32_t nz, const RowSortWork<T> &work);

// Work storage of the conversion: save copies and the row-indexed values s,
// each at least nz + 1 long.
template <class T> struct RowIndexedWork {
  std::span<std::int32_t> save_irow;
  std::span<std::int32_t> save_jcol;
  std::span<T> save_v;
  RowSortWork<T> sort;
  std::span<T> s; // out: s[k - 1] = value at position k of the row-indexed form
};

// Converts the accumulator (diagonals at 1..n, nz >= n) into the row-indexed
// form: ija[0] = n + 2, ija[i - 1] the first off-diagonal position of row i,
// ija[n] = nz + 2, positions n + 2..nz + 1 hold the columns in ija and the
// values in s, rows in the order the row sort leaves. s[n] (the spacer) is
// set to zero. The accumulator comes back unchanged (in stamping order).
template <class T>
void ConvertToRowIndexed(ErrorModule &err, std::int32_t n, TripletList<T> &acc,
                         const RowIndexedWork<T> &work, std::span<std::int32_t> ija);

extern template void SortTripletsByRow<Complex>(ErrorModule &, std::span<std::int32_t>,
                                                std::span<std::int32_t>, std::span<Complex>,
                                                std::int32_t, const RowSortWork<Complex> &);
extern template void SortTripletsByRow<float>(ErrorModule &, std::span<std::int32_t>,
                                              std::span<std::int32_t>, std::span<float>,
                                              std::int32_t, const RowSortWork<float> &);
extern template void ConvertToRowIndexed<Complex>(ErrorModule &, std::int32_t, TripletList<Complex> &,
                                                  const RowIndexedWork<Complex> &,
                                                  std::span<std::int32_t>);
extern template void ConvertToRowIndexed<float>(ErrorModule &, std::int32_t, TripletList<float> &,
                                                const RowIndexedWork<float> &,
                                                std::span<std::int32_t>);

} // namespace orvek::assembly
