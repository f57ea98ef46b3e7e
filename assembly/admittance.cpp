// Admittance assembly over the sorted branch order, and the reduction and
// renumbering of a row-indexed matrix with its columns sorted per row
// (contracts in admittance.hpp; every span and work array is the caller's).
#include "assembly/admittance.hpp"

#include "assembly/key_sort.hpp"

namespace orvek::assembly {

void StampAdmittance(std::int32_t n, const BranchArrays &branches, const NodalShunts &shunts,
                     const BranchOrder &order, TripletList<Complex> &acc) {
  SeedDiagonal(acc, n);
  for (std::int32_t k = 0; k < shunts.nsh; ++k) {
    const std::int32_t node = shunts.ksh[k];
    acc.v[node - 1] = cadd(acc.v[node - 1], Complex{0.0f, shunts.bsh[k]});
  }

  // group_has_pair: the current key group already created its pair, which
  // is then the last pair of the list.
  bool group_has_pair = false;
  for (std::int32_t l = 0; l < branches.nb; ++l) {
    if (!MergesWithPrevious(order.skey, l)) group_has_pair = false;
    const std::int32_t b = order.perm[l] - 1;
    const std::int32_t i = branches.from[b];
    const std::int32_t j = branches.to[b];
    const bool in_service = branches.istat.empty() || branches.istat[b] == 1;
    if (!in_service) {
      StampBranchEnds(i, j, acc, branches.ya[b], branches.yb[b]);
      continue;
    }
    const Complex y = crecip(branches.z[b]);
    StampPiBranch(i, j, acc, branches.ya[b], branches.yb[b], y, group_has_pair);
    if (i != j) group_has_pair = true;
  }
}

std::int32_t CountReducedEntries(const RowIndexedMatrix &in, std::span<const std::int32_t> iold,
                                 std::int32_t n, const ColumnFilter &filter) {
  std::int32_t count = n;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t p = iold[i];
    for (std::int32_t k = in.ija[p - 1]; k < in.ija[p]; ++k) {
      if (filter.keeps(in.ija[k - 1])) ++count;
    }
  }
  return count;
}

void ReduceRowIndexed(ErrorModule &err, const RowIndexedMatrix &in, std::span<const std::int32_t> iold,
                      std::span<const std::int32_t> inew, std::int32_t n, const ColumnFilter &filter,
                      std::span<std::int32_t> ijar, std::span<Complex> w, TripletList<Complex> &out,
                      const ColumnSortWork &work) {
  // Gather the rows in the new order; pos is the last position used.
  std::int32_t pos = n + 1;
  ijar[0] = n + 2;
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t p = iold[i - 1];
    w[i - 1] = in.c[p - 1];
    for (std::int32_t k = in.ija[p - 1]; k < in.ija[p]; ++k) {
      const std::int32_t c = in.ija[k - 1];
      if (!filter.keeps(c)) continue;
      ++pos;
      ijar[pos - 1] = inew[c - 1];
      w[pos - 1] = in.c[k - 1];
    }
    ijar[i] = pos + 1;
  }
  // The spacer carries no entry; written so that equal inputs give equal outputs.
  w[n] = Complex{};

  // Columns ascending within each row, values moved along.
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t s = ijar[i - 1];
    const std::int32_t m = ijar[i] - s;
    if (m < 1) continue;
    for (std::int32_t q = 0; q < m; ++q) {
      work.col[q] = ijar[s - 1 + q];
      work.val[q] = w[s - 1 + q];
      work.perm[q] = q + 1;
    }
    SVIGP(err, m, work.col.data(), work.col.data(), work.perm.data());
    for (std::int32_t q = 0; q < m; ++q) {
      ijar[s - 1 + q] = work.col[q];
      w[s - 1 + q] = work.val[work.perm[q] - 1];
    }
  }

  // Triplets: diagonals first, then row by row.
  SeedDiagonal(out, n);
  for (std::int32_t i = 1; i <= n; ++i) out.v[i - 1] = w[i - 1];
  for (std::int32_t i = 1; i <= n; ++i) {
    for (std::int32_t k = ijar[i - 1]; k < ijar[i]; ++k) {
      out.irow[out.nz] = i;
      out.jcol[out.nz] = ijar[k - 1];
      out.v[out.nz] = w[k - 1];
      ++out.nz;
    }
  }
}

} // namespace orvek::assembly
