// LUC: factors a complex sparse matrix given as a triplet list (NZ <= 10000)
// with the default parameters. The split-complex values A(10000,2) are
// copied into interleaved static storage, factored, and the factor values
// copied back into FAC(30000,2); IRFAC and JCFAC hold 3*NZ entries.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "sparse/sparse_factor.hpp"
#include "support/counts.hpp"

namespace {

using orvek::Complex;
using orvek::Message;

constexpr Message kLucRejections[] = {
    {1, "NZ = %(I1) must not exceed 10000."},
};

// Static work storage: the triplet values and the factor values.
Complex g_coefficients[orvek::kMaxNonzeros];
Complex g_factors[orvek::kMaxFactorEntries];

} // namespace

extern "C" ORVEK_API void ORVEK_CALL LUC(const int32_t *N, const int32_t *NZ, const float *A, const int32_t *IROW,
                                         const int32_t *JCOL, int32_t *IPARAM, float *RPARAM, int32_t *NFAC,
                                         int32_t *NL, float *FAC, int32_t *IRFAC, int32_t *JCFAC, int32_t *IPVT,
                                         int32_t *JPVT) {
  namespace sp = orvek::sparse;
  const std::int32_t n = *N, nz = *NZ;
  {
    orvek::frame::ArgumentGuard guard(orvek::errors(), "LUC");
    guard.reject_if(nz > orvek::kMaxNonzeros, kLucRejections[0], {nz});
    if (!guard.passed()) return;
  }
  const orvek::frame::SplitComplexIn<orvek::kLdNonzero> a(A);
  for (std::int32_t k = 1; k <= nz; ++k) g_coefficients[k - 1] = a(k);
  IPARAM[sp::kIparamDefaultsFlag] = 0;
  *NFAC = sp::DefaultFactorCapacity(nz);
  const std::size_t nzc = orvek::Size(nz), facc = orvek::Size(*NFAC), nc = orvek::Size(n);
  sp::FactorTriplets<Complex>(orvek::errors(), {n,
                                                nz,
                                                {g_coefficients, nzc},
                                                {IROW, nzc},
                                                {JCOL, nzc},
                                                {IPARAM, sp::kIparamSize},
                                                {RPARAM, sp::kRparamSize},
                                                *NFAC,
                                                *NL,
                                                {g_factors, facc},
                                                {IRFAC, facc},
                                                {JCFAC, facc},
                                                {IPVT, nc},
                                                {JPVT, nc}});
  const orvek::frame::SplitComplexOut<orvek::kLdFactor> fac(FAC);
  const std::int32_t count = *NFAC <= static_cast<std::int32_t>(facc) ? *NFAC : static_cast<std::int32_t>(facc);
  for (std::int32_t k = 1; k <= count; ++k) fac.set(k, g_factors[k - 1]);
}
