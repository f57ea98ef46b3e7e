// Sparse LU factorization P*A*Q = L*U of a matrix given as a triplet list,
// by Gaussian elimination with Markowitz pivoting under a relative threshold.
// Driver (checks, defaults, workspace) -> second level (triplet checks,
// linked storage, copy-out) -> elimination. Arrays are 0-based spans here
// (irow[0] is IROW(1)); row and column numbers inside them stay 1-based.
// The factor set comes out as: entries 1..NL the multipliers of L grouped by
// increasing row, entries NL+1..NFAC the rows of U from row N down to row 1,
// each group closed by its diagonal. Errors go only through the ErrorModule;
// with stopping switched off every routine returns cleanly after an error.
// No capacity is assumed: spans must hold what the counts say (caller's
// contract; only the exported entry points check the library's capacities).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sparse/sparse_traits.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// Obtains the two work arrays of one factorization; returns false when the
// request cannot be met (the default uses operator new with std::nothrow).
// Tests replace it to exercise the allocation-failure path.
using WorkspaceRequest = bool (*)(std::size_t liwk, std::size_t lwk_bytes);

// Driver: NFAC is the factor capacity on entry and the factor count on return.
template <class T>
void FactorTriplets(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const T> a,
                    std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                    std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                    std::span<T> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                    std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt,
                    WorkspaceRequest request = nullptr);

// Second level with caller-supplied work arrays: wk holds LWK values, iwk
// LIWK integers.
template <class T>
void FactorWithWorkspace(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const T> a,
                         std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                         std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac,
                         std::int32_t &nl, std::span<T> fac, std::span<std::int32_t> irfac,
                         std::span<std::int32_t> jcfac, std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt,
                         std::span<T> wk, std::int32_t lwk, std::span<std::int32_t> iwk, std::int32_t liwk);

extern template void FactorTriplets<float>(ErrorModule &, std::int32_t, std::int32_t, std::span<const float>,
                                           std::span<const std::int32_t>, std::span<const std::int32_t>,
                                           std::span<std::int32_t>, std::span<float>, std::int32_t &,
                                           std::int32_t &, std::span<float>, std::span<std::int32_t>,
                                           std::span<std::int32_t>, std::span<std::int32_t>,
                                           std::span<std::int32_t>, WorkspaceRequest);
extern template void FactorTriplets<Complex>(ErrorModule &, std::int32_t, std::int32_t, std::span<const Complex>,
                                             std::span<const std::int32_t>, std::span<const std::int32_t>,
                                             std::span<std::int32_t>, std::span<float>, std::int32_t &,
                                             std::int32_t &, std::span<Complex>, std::span<std::int32_t>,
                                             std::span<std::int32_t>, std::span<std::int32_t>,
                                             std::span<std::int32_t>, WorkspaceRequest);
extern template void FactorWithWorkspace<float>(
    ErrorModule &, std::int32_t, std::int32_t, std::span<const float>, std::span<const std::int32_t>,
    std::span<const std::int32_t>, std::span<std::int32_t>, std::span<float>, std::int32_t &, std::int32_t &,
    std::span<float>, std::span<std::int32_t>, std::span<std::int32_t>, std::span<std::int32_t>,
    std::span<std::int32_t>, std::span<float>, std::int32_t, std::span<std::int32_t>, std::int32_t);
extern template void FactorWithWorkspace<Complex>(
    ErrorModule &, std::int32_t, std::int32_t, std::span<const Complex>, std::span<const std::int32_t>,
    std::span<const std::int32_t>, std::span<std::int32_t>, std::span<float>, std::int32_t &, std::int32_t &,
    std::span<Complex>, std::span<std::int32_t>, std::span<std::int32_t>, std::span<std::int32_t>,
    std::span<std::int32_t>, std::span<Complex>, std::int32_t, std::span<std::int32_t>, std::int32_t);

// The routines under their own names.
inline void LFTXG(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const float> a,
                  std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                  std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                  std::span<float> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                  std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt) {
  FactorTriplets<float>(err, n, nz, a, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt);
}
inline void LFTZG(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const Complex> a,
                  std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                  std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                  std::span<Complex> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                  std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt) {
  FactorTriplets<Complex>(err, n, nz, a, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt);
}
inline void L2TXG(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const float> a,
                  std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                  std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                  std::span<float> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                  std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt, std::span<float> wk,
                  std::int32_t lwk, std::span<std::int32_t> iwk, std::int32_t liwk) {
  FactorWithWorkspace<float>(err, n, nz, a, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt, jpvt,
                             wk, lwk, iwk, liwk);
}
inline void L2TZG(ErrorModule &err, std::int32_t n, std::int32_t nz, std::span<const Complex> a,
                  std::span<const std::int32_t> irow, std::span<const std::int32_t> jcol,
                  std::span<std::int32_t> iparam, std::span<float> rparam, std::int32_t &nfac, std::int32_t &nl,
                  std::span<Complex> fac, std::span<std::int32_t> irfac, std::span<std::int32_t> jcfac,
                  std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt, std::span<Complex> wk,
                  std::int32_t lwk, std::span<std::int32_t> iwk, std::int32_t liwk) {
  FactorWithWorkspace<Complex>(err, n, nz, a, irow, jcol, iparam, rparam, nfac, nl, fac, irfac, jcfac, ipvt,
                               jpvt, wk, lwk, iwk, liwk);
}

} // namespace orvek::sparse
