// LUR: factors a real sparse matrix given as a triplet list with the
// default parameters: M = A(IPVT, JPVT) = L*U into the host's factor arrays
// FAC, IRFAC, JCFAC (each 3*NZ entries). The host's arrays are used in
// place; the work arrays are the driver's own block (sparse_factor.hpp).
#include <cstdint>
#include <limits>
#include <span>

#include "frame/argument_guard.hpp"
#include "orvek/orvek.h"
#include "sparse/sparse_factor.hpp"
#include "support/counts.hpp"

namespace {

using orvek::Message;

// The factor capacity 3*NZ must be a 32-bit count.
constexpr std::int32_t kMaxTriplets = std::numeric_limits<std::int32_t>::max() / orvek::sparse::kDefaultFillFactor;

constexpr Message kLurRejections[] = {
    {1, "NZ = %(I1) must not exceed 715827882."},
};
static_assert(kMaxTriplets == 715827882);

} // namespace

extern "C" ORVEK_API void ORVEK_CALL LUR(const int32_t *N, const int32_t *NZ, const float *A, const int32_t *IROW,
                                         const int32_t *JCOL, int32_t *IPARAM, float *RPARAM, int32_t *NFAC,
                                         int32_t *NL, float *FAC, int32_t *IRFAC, int32_t *JCFAC, int32_t *IPVT,
                                         int32_t *JPVT) {
  namespace sp = orvek::sparse;
  const std::int32_t n = *N, nz = *NZ;
  {
    orvek::frame::ArgumentGuard guard(orvek::errors(), "LUR");
    guard.reject_if(nz > kMaxTriplets, kLurRejections[0], {nz});
    if (!guard.passed()) return;
  }
  IPARAM[sp::kIparamDefaultsFlag] = 0;
  *NFAC = sp::DefaultFactorCapacity(nz);
  const std::size_t nzc = orvek::Size(nz), facc = orvek::Size(*NFAC), nc = orvek::Size(n);
  sp::FactorTriplets<float>(orvek::errors(), {n,
                                              nz,
                                              {A, nzc},
                                              {IROW, nzc},
                                              {JCOL, nzc},
                                              {IPARAM, sp::kIparamSize},
                                              {RPARAM, sp::kRparamSize},
                                              *NFAC,
                                              *NL,
                                              {FAC, facc},
                                              {IRFAC, facc},
                                              {JCFAC, facc},
                                              {IPVT, nc},
                                              {JPVT, nc}});
}
