// LUR: factors a real sparse matrix given as a triplet list with the
// default parameters: M = A(IPVT, JPVT) = L*U into the host's factor arrays
// FAC, IRFAC, JCFAC (each 3*NZ entries). The host's arrays are used in place.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>

#include "frame/argument_guard.hpp"
#include "orvek/orvek.h"
#include "sparse/sparse_factor.hpp"

namespace {

using orvek::Message;

// The factor capacity 3*NZ must be a 32-bit count.
constexpr std::int32_t kMaxTriplets = std::numeric_limits<std::int32_t>::max() / orvek::sparse::kDefaultFillFactor;

constexpr Message kLurRejections[] = {
    {1, "NZ = %(I1) must not exceed 715827882."},
};
static_assert(kMaxTriplets == 715827882);

std::size_t Count(std::int64_t v) { return v > 0 ? static_cast<std::size_t>(v) : 0; }

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
  // 3*NZ, held at the smallest integer for counts so negative that it would wrap.
  *NFAC = static_cast<std::int32_t>(std::max<std::int64_t>(static_cast<std::int64_t>(sp::kDefaultFillFactor) * nz,
                                                           std::numeric_limits<std::int32_t>::min()));
  const std::size_t nzc = Count(nz), facc = Count(*NFAC), nc = Count(n);
  sp::LFTXG(orvek::errors(), n, nz, std::span<const float>(A, nzc), std::span<const std::int32_t>(IROW, nzc),
            std::span<const std::int32_t>(JCOL, nzc), std::span<std::int32_t>(IPARAM, sp::kIparamSize),
            std::span<float>(RPARAM, sp::kRparamSize), *NFAC, *NL, std::span<float>(FAC, facc),
            std::span<std::int32_t>(IRFAC, facc), std::span<std::int32_t>(JCFAC, facc),
            std::span<std::int32_t>(IPVT, nc), std::span<std::int32_t>(JPVT, nc));
}
