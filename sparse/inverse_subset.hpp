// The inverse of a factored matrix on the pattern of its factors (the
// sparse inverse subset), and from it the diagonal of A^-1, without a solve
// per column. For P·A·Q = M = L·D·U (L, U unit triangular, D the pivots)
// Z = M^-1 satisfies, from the last row up,
//   Z(i,j) = -Σ_{k>i} U(i,k)·Z(k,j)           j > i, L(j,i) stored
//   Z(j,i) = -Σ_{k>i} Z(j,k)·L(k,i)           j > i, U(i,j) stored
//   Z(i,i) = 1/D(i) - Σ_{k>i} U(i,k)·Z(k,i)
// Every Z(k,j) these sums read has (j,k) in the pattern of L + U, because
// the elimination that produced the factors creates that fill; so Z is
// computed exactly on the transposed pattern of the factors. A^-1(k,k) is
// Z(p,q) with JPVT(p) = k and IPVT(q) = k; it lies in the subset because
// M(q,p) = A(k,k) is in the pattern.
//
// Layouts: the factor set of the factorization (entries 1..NL the
// multipliers of L, then the rows of U, every row of U holding its
// diagonal), held 0-based in spans with 1-based row and column numbers.
// Values are double: either the single-precision factors widened, or the
// matrix refactored in double along the factor set's pivot order and
// pattern (RefactorInDouble). Every routine here is allocation-free: the
// caller supplies the work spans (sizes below); nothing is checked beyond
// what the status results report, and row and column numbers in 1..N are
// the caller's contract.
#pragma once

#include <cstdint>
#include <span>

#include "sparse/double_values.hpp"
#include "support/complex.hpp"

namespace orvek::sparse {

// Row and column lists of a factor set's entries (0-based entry numbers).
// Row i holds its L entries in ascending column order from row_start[i-1],
// then its U entries from row_upper[i-1] to row_start[i]; column j holds
// its U entries in descending row order from col_start[j-1], then its L
// entries from col_lower[j-1] to col_start[j]. diag[i-1] is the entry of
// U(i,i).
struct FactorIndex {
  std::span<std::int32_t> row_start; // n + 1
  std::span<std::int32_t> row_upper; // n
  std::span<std::int32_t> row_entry; // nfac
  std::span<std::int32_t> col_start; // n + 1
  std::span<std::int32_t> col_lower; // n
  std::span<std::int32_t> col_entry; // nfac
  std::span<std::int32_t> diag;      // n
};

// What IndexFactors found wrong with the factor set's shape.
struct IndexStatus {
  enum Kind : std::int32_t {
    kGood = 0,
    kLowerNotBelow = 1, // an entry of L on or above the diagonal (entry = its 1-based number)
    kUpperBelow = 2,    // an entry of U below the diagonal
    kNoDiagonal = 3,    // a row of U without its diagonal (row = its number)
  };
  Kind kind = kGood;
  std::int32_t entry = 0, row = 0, column = 0;
};

// Builds the lists; count holds n integers of work.
IndexStatus IndexFactors(std::int32_t n, std::int32_t nfac, std::int32_t nl, std::span<const std::int32_t> irfac,
                         std::span<const std::int32_t> jcfac, const FactorIndex &index,
                         std::span<std::int32_t> count);

// The factor values of a matrix A (triplets irow/jcol/value, nz entries,
// numbers in 1..N) refactored in double along the pivots IPVT/JPVT and the
// pattern of the factor set: row by row, each row of M = P·A·Q scattered
// into w, updated by the earlier rows of U its multipliers name in
// ascending column order, and gathered into the pattern. Returns false
// (fac_double unfinished) when an entry of A or an update falls outside
// the pattern, i.e. A is not the matrix the factor set was computed from.
// Work: w n values, mark n integers, row_pos n integers (the inverse of
// IPVT), col_pos n integers (the inverse of JPVT), a_start n + 1 integers,
// a_entry nz integers.
struct RefactorWork {
  std::span<ComplexD> w;
  std::span<std::int32_t> mark, row_pos, col_pos, a_start, a_entry;
};
bool RefactorInDouble(std::int32_t n, std::int32_t nz, std::span<const std::int32_t> irow,
                      std::span<const std::int32_t> jcol, std::span<const Complex> value,
                      std::span<const std::int32_t> ipvt, std::span<const std::int32_t> jpvt,
                      std::span<const std::int32_t> jcfac, const FactorIndex &index, const RefactorWork &work,
                      std::span<ComplexD> fac_double);

// Z on the transposed pattern: z[e] = Z(JCFAC(e), IRFAC(e)) for every
// entry e. Work: w n values, mark n integers.
void InverseOnPattern(std::int32_t n, std::span<const ComplexD> fac, std::span<const std::int32_t> irfac,
                      std::span<const std::int32_t> jcfac, const FactorIndex &index, std::span<ComplexD> w,
                      std::span<std::int32_t> mark, std::span<ComplexD> z);

// A^-1(k,k) of node k from Z; false when it lies outside the pattern (the
// matrix had no entry at (k,k)). pos_in_ipvt/pos_in_jpvt are the 1-based
// positions of k in IPVT and JPVT.
bool DiagonalOfInverse(std::int32_t pos_in_ipvt, std::int32_t pos_in_jpvt, std::span<const std::int32_t> jcfac,
                       const FactorIndex &index, std::span<const ComplexD> z, ComplexD &out);

} // namespace orvek::sparse
