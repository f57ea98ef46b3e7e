// Kernels of the admittance assembly and of the reduction of a row-indexed
// admittance matrix, composed from the machinery in accumulator.hpp.
// Spans are 0-based with 1-based numbers stored in them; work storage is the
// caller's; node numbers, pointers and sizes are validated by the caller.
//
// π-branch b between first end i and second end j, y = 1 / (R + jX):
//   Y(i,i) += YA + y,  Y(j,j) += YB + y,  Y(i,j) = Y(j,i) += -y.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "assembly/accumulator.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::assembly {

// Branch arrays of branches 1..nb, interleaved complex.
struct BranchArrays {
  std::int32_t nb = 0;
  std::span<const std::int32_t> from;   // first end node
  std::span<const std::int32_t> to;     // second end node
  std::span<const Complex> z;           // series impedance R + jX
  std::span<const Complex> ya;          // admittance at the first end
  std::span<const Complex> yb;          // admittance at the second end
  std::span<const std::int32_t> istat;  // empty: all in service; else 1 = in service, other = opened
};

// Nodal shunt susceptances bsh[k] at nodes ksh[k], k = 0..nsh-1.
struct NodalShunts {
  std::int32_t nsh = 0;
  std::span<const float> bsh;
  std::span<const std::int32_t> ksh;
};

// Seeds acc with the n diagonals, adds the shunts (in index order, as
// (0, BSH) on the diagonal), then stamps the branches in the sorted order
// left by OrderBranches. A branch in service is stamped in full; an opened
// one adds only its end admittances. A pair of off-diagonal entries is
// merged into when an earlier branch of the same key in sorted order was
// stamped in full (with all branches in service this is the plain rule
// "same key as the previous place").
void StampAdmittance(std::int32_t n, const BranchArrays &branches, const NodalShunts &shunts,
                     const BranchOrder &order, TripletList<Complex> &acc);

// Where an assembly writes: the triplet list, its spans sized by the caller
// to the entries counted, and, when ija is given (entries + 1 elements), the
// row-indexed form with its conversion work (values in conversion.s).
struct AssemblyOutput {
  TripletList<Complex> triplets;
  std::span<std::int32_t> ija = {};
  RowIndexedWork<Complex> conversion = {};
};

// No branches: the key sort's length error, raised where the caller's
// checks place it (the exported routines before their checks, the native
// calls after theirs); the recipe below then orders nothing.
inline void RaiseNoBranches(ErrorModule &err, std::int32_t n, std::int32_t nb, const BranchOrder &order) {
  OrderBranches(err, n, nb, {}, {}, order);
}

// The assembly of the nodal admittance matrix, the one recipe of the
// exported routines and the native calls: orders the branches (when there
// are any), counts the entries the stamps create (n + 2 per distinct node
// pair in service), asks size_output(entries) for the output
// (std::optional<AssemblyOutput>; empty when the caller refuses that size,
// and then nothing is written), stamps the branches and the shunts and, when
// asked, converts to the row-indexed form. Returns the entries stamped, or
// -1 when refused. Work storage: the branch order (nb long) and the
// conversion work, both the caller's.
template <class SizeOutput>
std::int32_t AssembleAdmittanceMatrix(ErrorModule &err, std::int32_t n, const BranchArrays &branches,
                                      const NodalShunts &shunts, const BranchOrder &order,
                                      SizeOutput &&size_output) {
  if (branches.nb > 0) OrderBranches(err, n, branches.nb, branches.from, branches.to, order);
  const std::int32_t entries =
      n + 2 * CountNodePairs(order.skey, order.perm, branches.nb, branches.from, branches.to, branches.istat);
  std::optional<AssemblyOutput> out = size_output(entries);
  if (!out) return -1;
  StampAdmittance(n, branches, shunts, order, out->triplets);
  if (!out->ija.empty()) ConvertToRowIndexed(err, n, out->triplets, out->conversion, out->ija);
  return out->triplets.nz;
}

// Which old columns a reduction drops: either the single column kref, or
// every column c with idrop[c - 1] != 0.
struct ColumnFilter {
  bool by_flags = false;
  std::span<const std::int32_t> idrop;
  std::int32_t kref = 0;
  static ColumnFilter Reference(std::int32_t kref) { return {false, {}, kref}; }
  static ColumnFilter Flags(std::span<const std::int32_t> idrop) { return {true, idrop, 0}; }
  bool keeps(std::int32_t c) const { return by_flags ? idrop[c - 1] == 0 : c != kref; }
};

// A row-indexed input matrix: index array ija and its values c
// (interleaved, positions 1..ija[n_in] - 1).
struct RowIndexedMatrix {
  std::int32_t n_in = 0;
  std::span<const std::int32_t> ija;
  std::span<const Complex> c;
};

// Work storage of the column sort of one row, each at least the longest row.
struct ColumnSortWork {
  std::span<std::int32_t> col;
  std::span<Complex> val;
  std::span<std::int32_t> perm;
};

// Number of entries the reduction keeps: n diagonals plus the kept entries
// of the rows iold[0..n). The pointers and columns must be valid.
std::int32_t CountReducedEntries(const RowIndexedMatrix &in, std::span<const std::int32_t> iold,
                                 std::int32_t n, const ColumnFilter &filter);

// Gathers rows iold[0..n) of the input in that order (diagonal first, then
// the kept off-diagonals renumbered through inew), sorts each row's columns
// ascending with the key sort, and writes the reduced matrix of order n into
// ijar/w (row-indexed form, w[n] the spacer, set to zero) and the triplet
// list out (diagonals of new nodes 1..n, then the off-diagonals row by row).
void ReduceRowIndexed(ErrorModule &err, const RowIndexedMatrix &in, std::span<const std::int32_t> iold,
                      std::span<const std::int32_t> inew, std::int32_t n, const ColumnFilter &filter,
                      std::span<std::int32_t> ijar, std::span<Complex> w, TripletList<Complex> &out,
                      const ColumnSortWork &work);

} // namespace orvek::assembly
