// Sparse LU factorization P*A*Q = L*U of an N x N matrix given as NZ
// triplets (A, IROW, JCOL), by Gaussian elimination with Markowitz pivoting
// under a relative threshold.
//   Inputs:  N, NZ, the triplets, IPARAM/RPARAM (IPARAM(1) = 0 applies the
//            defaults), NFAC the capacity of FAC, IRFAC, JCFAC.
//   Outputs: NFAC the factor count and NL the multiplier count; FAC, IRFAC,
//            JCFAC: entries 1..NL the multipliers of L grouped by increasing
//            row, entries NL+1..NFAC the rows of U from row N down to row 1,
//            each group closed by its diagonal; IPVT, JPVT the row and column
//            permutations; IPARAM(4), RPARAM(4..5) the statistics.
//   Work:    the driver obtains WK (MAXNZ values) and IWK (15*N + 4*MAXNZ
//            integers) in one block; the second level takes them from the caller.
// Arrays are 0-based spans here (irow[0] is IROW(1)); row and column numbers
// inside them stay 1-based. Errors go only through the ErrorModule; with
// stopping switched off every routine returns cleanly after an error. No
// capacity is assumed: spans must hold what the counts say (caller's
// contract; only the exported entry points check the library's capacities).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sparse/sparse_traits.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// The arrays and counts of one factorization, as the routines name them.
// NFAC is the factor capacity on entry and the factor count on return; NFAC
// and NL are the caller's own variables.
template <class T> struct FactorArrays {
  std::int32_t n;
  std::int32_t nz;
  std::span<const T> a;
  std::span<const std::int32_t> irow, jcol;
  std::span<std::int32_t> iparam;
  std::span<float> rparam;
  std::int32_t &nfac;
  std::int32_t &nl;
  std::span<T> fac;
  std::span<std::int32_t> irfac, jcfac, ipvt, jpvt;
};

// Obtains the two work arrays of one factorization; returns false when the
// request cannot be met (the default uses operator new with std::nothrow).
// Tests replace it to exercise the allocation-failure path.
using WorkspaceRequest = bool (*)(std::size_t liwk, std::size_t lwk_bytes);

// The driver (LFTXG, LFTZG): checks, defaults, workspace.
template <class T>
void FactorTriplets(ErrorModule &err, const FactorArrays<T> &f, WorkspaceRequest request = nullptr);

// The second level (L2TXG, L2TZG) with caller-supplied work arrays: wk holds
// LWK values, iwk LIWK integers.
template <class T>
void FactorWithWorkspace(ErrorModule &err, const FactorArrays<T> &f, std::span<T> wk, std::int32_t lwk,
                         std::span<std::int32_t> iwk, std::int32_t liwk);

extern template void FactorTriplets<float>(ErrorModule &, const FactorArrays<float> &, WorkspaceRequest);
extern template void FactorTriplets<Complex>(ErrorModule &, const FactorArrays<Complex> &, WorkspaceRequest);
extern template void FactorWithWorkspace<float>(ErrorModule &, const FactorArrays<float> &, std::span<float>,
                                                std::int32_t, std::span<std::int32_t>, std::int32_t);
extern template void FactorWithWorkspace<Complex>(ErrorModule &, const FactorArrays<Complex> &,
                                                  std::span<Complex>, std::int32_t, std::span<std::int32_t>,
                                                  std::int32_t);

} // namespace orvek::sparse
