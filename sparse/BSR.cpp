// BSR: solves A*x = b (IPATH 1) or A'*x = b (IPATH 2) with the factor set of
// LUR. The factor set is checked against N before anything is written. When
// IPVT and JPVT are permutations the solve reads B and writes X directly;
// otherwise the permutation vectors are copied into static storage, where
// the solve marks them while it permutes and reports what is wrong. A factor
// set without multipliers (NL <= 0) is solved with U and the permutations
// alone. X may be the same array as B.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sparse/entry_checks.hpp"
#include "sparse/solve_direct.hpp"
#include "sparse/sparse_solve.hpp"

namespace {

using orvek::frame::Rejection;

constexpr Rejection kBsrRejections[] = {
    {1, "N = %(I1) must not exceed 1000."},
    {2, "NL = %(I1) must not exceed NFAC = %(I2)."},
    {3, "IRFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
    {4, "JCFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
};

// Static work storage: the permutation vectors, marked while in use.
std::int32_t g_ipvt[orvek::kMaxNodes];
std::int32_t g_jpvt[orvek::kMaxNodes];
// The solution vector of the direct road.
float g_work[orvek::kMaxNodes];

std::size_t Count(std::int32_t v) { return v > 0 ? static_cast<std::size_t>(v) : 0; }

} // namespace

extern "C" ORVEK_API void ORVEK_CALL BSR(const int32_t *N, const int32_t *NFAC, const int32_t *NL, const float *FAC,
                                         const int32_t *IRFAC, const int32_t *JCFAC, const int32_t *IPVT,
                                         const int32_t *JPVT, const float *B, const int32_t *IPATH, float *X) {
  namespace sp = orvek::sparse;
  const std::int32_t n = *N, nfac = *NFAC, nl = *NL;
  if (!sp::FactorSetFits(n, nfac, nl, IRFAC, JCFAC, orvek::kMaxNodes, 0)) {
    orvek::frame::ArgumentGuard guard(orvek::errors(), "BSR");
    const bool fits = guard.reject_if(n > orvek::kMaxNodes, kBsrRejections[0], {n});
    if (fits) sp::CheckFactorSet(guard, {kBsrRejections[1], kBsrRejections[2], kBsrRejections[3]}, n, nfac, nl,
                                 IRFAC, JCFAC);
    if (!guard.passed()) return;
  }
  // Valid counts and permutations: the solve reads B and writes X directly
  // (B is read in full first, so X may be B).
  {
    const auto fac_at = [FAC](std::int32_t k) { return FAC[k - 1]; };
    const auto b_at = [B](std::int32_t i) { return B[i - 1]; };
    const auto x_set = [X](std::int32_t i, float v) { X[i - 1] = v; };
    if (n <= orvek::kMaxNodes &&
        sp::SolveDirect<float>(orvek::errors(), n, nfac, nl, fac_at, IRFAC, JCFAC, IPVT, JPVT, b_at, *IPATH, x_set,
                               std::span<float>(g_work, Count(n)), std::span<std::int32_t>(g_ipvt, Count(n)),
                               /*multipliers_required=*/nl > 0))
      return;
  }
  // Otherwise the marked road, which reports what is wrong.
  const std::size_t nc = Count(n), facc = Count(nfac);
  for (std::size_t i = 0; i < nc; ++i) {
    g_ipvt[i] = IPVT[i];
    g_jpvt[i] = JPVT[i];
  }
  sp::SolveFactored<float>(orvek::errors(), n, nfac, nl, std::span<const float>(FAC, facc),
                           std::span<const std::int32_t>(IRFAC, facc), std::span<const std::int32_t>(JCFAC, facc),
                           std::span<std::int32_t>(g_ipvt, nc), std::span<std::int32_t>(g_jpvt, nc),
                           std::span<const float>(B, nc), *IPATH, std::span<float>(X, nc),
                           /*multipliers_required=*/nl > 0);
}
