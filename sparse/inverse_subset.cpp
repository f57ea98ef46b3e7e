// The sparse inverse subset: row and column lists of a factor set, the
// refactorization in double along its pivots, the recurrences for the
// inverse on the transposed pattern, and the diagonal of A^-1 from it
// (contract, layouts and work spans in inverse_subset.hpp).
#include "sparse/inverse_subset.hpp"

namespace orvek::sparse {

namespace {

// Running sums: start[0] = 0, start[i] = start[i-1] + count[i-1].
void Starts(std::int32_t n, std::span<const std::int32_t> count, std::span<std::int32_t> start) {
  start[0] = 0;
  for (std::int32_t i = 0; i < n; ++i) start[static_cast<std::size_t>(i) + 1] = start[static_cast<std::size_t>(i)] + count[static_cast<std::size_t>(i)];
}

std::size_t At(std::int32_t one_based) { return static_cast<std::size_t>(one_based - 1); }
std::size_t Z(std::int32_t zero_based) { return static_cast<std::size_t>(zero_based); }

} // namespace

IndexStatus IndexFactors(std::int32_t n, std::int32_t nfac, std::int32_t nl, std::span<const std::int32_t> irfac,
                         std::span<const std::int32_t> jcfac, const FactorIndex &index,
                         std::span<std::int32_t> count) {
  for (std::int32_t e = 0; e < nfac; ++e) {
    const std::int32_t r = irfac[Z(e)], c = jcfac[Z(e)];
    if (e < nl && r <= c) return {IndexStatus::kLowerNotBelow, e + 1, r, c};
    if (e >= nl && r > c) return {IndexStatus::kUpperBelow, e + 1, r, c};
  }
  const auto clear = [&] {
    for (std::int32_t i = 0; i < n; ++i) count[Z(i)] = 0;
  };
  // Rows: all entries, then the L entries of each row.
  clear();
  for (std::int32_t e = 0; e < nfac; ++e) ++count[At(irfac[Z(e)])];
  Starts(n, count, index.row_start);
  clear();
  for (std::int32_t e = 0; e < nl; ++e) ++count[At(irfac[Z(e)])];
  for (std::int32_t i = 0; i < n; ++i) index.row_upper[Z(i)] = index.row_start[Z(i)] + count[Z(i)];
  // Columns: all entries, then the U entries of each column.
  clear();
  for (std::int32_t e = 0; e < nfac; ++e) ++count[At(jcfac[Z(e)])];
  Starts(n, count, index.col_start);
  clear();
  for (std::int32_t e = nl; e < nfac; ++e) ++count[At(jcfac[Z(e)])];
  for (std::int32_t j = 0; j < n; ++j) index.col_lower[Z(j)] = index.col_start[Z(j)] + count[Z(j)];
  // L parts of the columns (entry order), then the L parts of the rows taken
  // column by column (so each row's come in ascending column order), the U
  // parts of the rows (entry order), and the U parts of the columns taken
  // row by row from the last (so each column's come in descending row
  // order). The inverse relies on both orders to stop its scans early.
  for (std::int32_t j = 0; j < n; ++j) count[Z(j)] = index.col_lower[Z(j)];
  for (std::int32_t e = 0; e < nl; ++e) index.col_entry[Z(count[At(jcfac[Z(e)])]++)] = e;
  for (std::int32_t i = 0; i < n; ++i) count[Z(i)] = index.row_start[Z(i)];
  for (std::int32_t j = 0; j < n; ++j)
    for (std::int32_t p = index.col_lower[Z(j)]; p < index.col_start[Z(j) + 1]; ++p) {
      const std::int32_t e = index.col_entry[Z(p)];
      index.row_entry[Z(count[At(irfac[Z(e)])]++)] = e;
    }
  for (std::int32_t i = 0; i < n; ++i) count[Z(i)] = index.row_upper[Z(i)];
  for (std::int32_t e = nl; e < nfac; ++e) index.row_entry[Z(count[At(irfac[Z(e)])]++)] = e;
  for (std::int32_t j = 0; j < n; ++j) count[Z(j)] = index.col_start[Z(j)];
  for (std::int32_t i = n - 1; i >= 0; --i)
    for (std::int32_t p = index.row_upper[Z(i)]; p < index.row_start[Z(i) + 1]; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      index.col_entry[Z(count[At(jcfac[Z(e)])]++)] = e;
    }
  // The diagonal of each row of U (the last one, should a row hold two).
  for (std::int32_t i = 0; i < n; ++i) {
    std::int32_t d = -1;
    for (std::int32_t p = index.row_upper[Z(i)]; p < index.row_start[Z(i) + 1]; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      if (jcfac[Z(e)] == i + 1) d = e;
    }
    if (d < 0) return {IndexStatus::kNoDiagonal, 0, i + 1, i + 1};
    index.diag[Z(i)] = d;
  }
  return {};
}

bool RefactorInDouble(std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                      std::span<const std::int32_t> jcol, std::span<const Complex> value,
                      std::span<const std::int32_t> ipvt, std::span<const std::int32_t> jpvt,
                      std::span<const std::int32_t> jcfac, const FactorIndex &index, const RefactorWork &work,
                      std::span<ComplexD> fac_double) {
  for (std::int32_t i = 1; i <= n; ++i) {
    work.row_pos[At(ipvt[At(i)])] = i;
    work.col_pos[At(jpvt[At(i)])] = i;
  }
  // The triplets of A grouped by their row of M.
  std::span<std::int32_t> cursor = work.mark;
  for (std::int32_t i = 0; i < n; ++i) cursor[Z(i)] = 0;
  for (std::int32_t t = 0; t < nz; ++t) ++cursor[At(work.row_pos[At(irow[Z(t)])])];
  Starts(n, cursor, work.a_start);
  for (std::int32_t i = 0; i < n; ++i) cursor[Z(i)] = work.a_start[Z(i)];
  for (std::int32_t t = 0; t < nz; ++t) work.a_entry[Z(cursor[At(work.row_pos[At(irow[Z(t)])])]++)] = t;

  // mark[c] = i: column c lies in the pattern of row i.
  for (std::int32_t i = 0; i < n; ++i) work.mark[Z(i)] = 0;
  for (std::int32_t i = 1; i <= n; ++i) {
    const std::int32_t first = index.row_start[At(i)], upper = index.row_upper[At(i)], end = index.row_start[Z(i)];
    for (std::int32_t p = first; p < end; ++p) {
      const std::int32_t c = jcfac[Z(index.row_entry[Z(p)])];
      work.w[At(c)] = ComplexD{};
      work.mark[At(c)] = i;
    }
    for (std::int32_t q = work.a_start[At(i)]; q < work.a_start[Z(i)]; ++q) {
      const std::int32_t t = work.a_entry[Z(q)];
      const std::int32_t c = work.col_pos[At(jcol[Z(t)])];
      if (work.mark[At(c)] != i) return false;
      work.w[At(c)] = dadd(work.w[At(c)], Widen(value[Z(t)]));
    }
    // Multipliers in ascending column order, each applying row j of U.
    for (std::int32_t p = first; p < upper; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      const std::int32_t j = jcfac[Z(e)];
      const std::int32_t dj = index.diag[At(j)];
      const ComplexD l = ddiv(work.w[At(j)], fac_double[Z(dj)]);
      fac_double[Z(e)] = l;
      for (std::int32_t q = index.row_upper[At(j)]; q < index.row_start[Z(j)]; ++q) {
        const std::int32_t f = index.row_entry[Z(q)];
        if (f == dj) continue;
        const std::int32_t k = jcfac[Z(f)];
        if (work.mark[At(k)] != i) return false;
        work.w[At(k)] = dsub(work.w[At(k)], dmul(l, fac_double[Z(f)]));
      }
    }
    for (std::int32_t p = upper; p < end; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      fac_double[Z(e)] = work.w[At(jcfac[Z(e)])];
    }
  }
  return true;
}

void InverseOnPattern(std::int32_t n, std::span<const ComplexD> fac, std::span<const std::int32_t> irfac,
                      std::span<const std::int32_t> jcfac, const FactorIndex &index, std::span<ComplexD> w,
                      std::span<std::int32_t> mark, std::span<ComplexD> z) {
  for (std::int32_t i = 0; i < n; ++i) mark[Z(i)] = 0;
  for (ComplexD &v : z) v = ComplexD{};
  // Each scatter gets a stamp of its own, so marks never need clearing.
  std::int32_t stamp = 0;
  for (std::int32_t i = n; i >= 1; --i) {
    const std::int32_t di = index.diag[At(i)];
    const ComplexD d = fac[Z(di)];
    const std::int32_t upper = index.row_upper[At(i)], end = index.row_start[Z(i)];
    const std::int32_t lower = index.col_lower[At(i)], col_end = index.col_start[Z(i)];

    // Z(i,j) for L(j,i) stored: -Σ_k U(i,k)·Z(k,j) / D(i), Z(k,j) held by
    // entry (j,k) of row j.
    ++stamp;
    for (std::int32_t p = upper; p < end; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      if (e == di) continue;
      const std::int32_t k = jcfac[Z(e)];
      w[At(k)] = fac[Z(e)];
      mark[At(k)] = stamp;
    }
    for (std::int32_t p = lower; p < col_end; ++p) {
      const std::int32_t e = index.col_entry[Z(p)];
      const std::int32_t j = irfac[Z(e)];
      // Row j: its U part (columns from j up), then its L part from the
      // highest column down to the first at or below i.
      ComplexD acc{};
      for (std::int32_t q = index.row_upper[At(j)]; q < index.row_start[Z(j)]; ++q) {
        const std::int32_t f = index.row_entry[Z(q)];
        const std::int32_t k = jcfac[Z(f)];
        if (mark[At(k)] == stamp) acc = dadd(acc, dmul(w[At(k)], z[Z(f)]));
      }
      for (std::int32_t q = index.row_upper[At(j)] - 1; q >= index.row_start[At(j)]; --q) {
        const std::int32_t f = index.row_entry[Z(q)];
        const std::int32_t k = jcfac[Z(f)];
        if (k <= i) break;
        if (mark[At(k)] == stamp) acc = dadd(acc, dmul(w[At(k)], z[Z(f)]));
      }
      z[Z(e)] = ddiv(ComplexD{-acc.re, -acc.im}, d);
    }

    // Z(j,i) for U(i,j) stored: -Σ_k Z(j,k)·L(k,i), Z(j,k) held by entry
    // (k,j) of column j.
    ++stamp;
    for (std::int32_t p = lower; p < col_end; ++p) {
      const std::int32_t e = index.col_entry[Z(p)];
      const std::int32_t k = irfac[Z(e)];
      w[At(k)] = fac[Z(e)];
      mark[At(k)] = stamp;
    }
    ComplexD diag_sum{};
    for (std::int32_t p = upper; p < end; ++p) {
      const std::int32_t e = index.row_entry[Z(p)];
      if (e == di) continue;
      const std::int32_t j = jcfac[Z(e)];
      // Column j: its U part from the highest row down to the first at or
      // below i, then its L part (rows below j).
      ComplexD acc{};
      for (std::int32_t q = index.col_start[At(j)]; q < index.col_lower[At(j)]; ++q) {
        const std::int32_t f = index.col_entry[Z(q)];
        const std::int32_t k = irfac[Z(f)];
        if (k <= i) break;
        if (mark[At(k)] == stamp) acc = dadd(acc, dmul(z[Z(f)], w[At(k)]));
      }
      for (std::int32_t q = index.col_lower[At(j)]; q < index.col_start[Z(j)]; ++q) {
        const std::int32_t f = index.col_entry[Z(q)];
        const std::int32_t k = irfac[Z(f)];
        if (mark[At(k)] == stamp) acc = dadd(acc, dmul(z[Z(f)], w[At(k)]));
      }
      z[Z(e)] = ComplexD{-acc.re, -acc.im};
      // Z(i,i) = (1 - Σ_j U(i,j)·Z(j,i)) / D(i), U unscaled here.
      diag_sum = dadd(diag_sum, dmul(fac[Z(e)], z[Z(e)]));
    }
    z[Z(di)] = ddiv(ComplexD{1.0 - diag_sum.re, -diag_sum.im}, d);
  }
}

bool DiagonalOfInverse(std::int32_t pos_in_ipvt, std::int32_t pos_in_jpvt, std::span<const std::int32_t> jcfac,
                       const FactorIndex &index, std::span<const ComplexD> z, ComplexD &out) {
  // A^-1(k,k) = Z(p,q), held by entry (q,p) of row q.
  const std::int32_t q = pos_in_ipvt, p = pos_in_jpvt;
  if (p == q) {
    out = z[Z(index.diag[At(q)])];
    return true;
  }
  for (std::int32_t r = index.row_start[At(q)]; r < index.row_start[Z(q)]; ++r) {
    const std::int32_t e = index.row_entry[Z(r)];
    if (jcfac[Z(e)] == p) {
      out = z[Z(e)];
      return true;
    }
  }
  return false;
}

} // namespace orvek::sparse
