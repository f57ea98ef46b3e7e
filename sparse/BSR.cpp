// BSR: solves A*x = b (IPATH 1) or A'*x = b (IPATH 2) with the factor set of
// LUR, for every order LUR factors. The factor set is checked against N
// before anything is written. The solve needs no work storage of its own:
// X receives B permuted by IPVT (JPVT for IPATH 2), the sweeps run in X, and
// X is permuted back in place. The in-place permutations mark the entries of
// IPVT and JPVT (negated) while they work and restore every one before the
// call returns, so both must be writable memory. A factor set without
// multipliers (NL <= 0) is solved with U and the permutations alone. X may be
// the same array as B.
#include <cstdint>
#include <limits>
#include <span>

#include "frame/argument_guard.hpp"
#include "orvek/orvek.h"
#include "sparse/entry_checks.hpp"
#include "sparse/solve_direct.hpp"
#include "sparse/sparse_solve.hpp"
#include "support/counts.hpp"

namespace {

using orvek::Message;

// Code 1 (an order beyond a static copy of the permutations) is retired.
constexpr Message kBsrRejections[] = {
    {2, "NL = %(I1) must not exceed NFAC = %(I2)."},
    {3, "IRFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
    {4, "JCFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
};

} // namespace

extern "C" ORVEK_API void ORVEK_CALL BSR(const int32_t *N, const int32_t *NFAC, const int32_t *NL, const float *FAC,
                                         const int32_t *IRFAC, const int32_t *JCFAC, const int32_t *IPVT,
                                         const int32_t *JPVT, const float *B, const int32_t *IPATH, float *X) {
  namespace sp = orvek::sparse;
  constexpr std::int32_t kAnyCount = std::numeric_limits<std::int32_t>::max();
  const std::int32_t n = *N, nfac = *NFAC, nl = *NL;
  if (!sp::FactorSetFits(n, nfac, nl, IRFAC, JCFAC, kAnyCount, 0)) {
    orvek::frame::ArgumentGuard guard(orvek::errors(), "BSR");
    sp::CheckFactorSet(guard, {kBsrRejections[0], kBsrRejections[1], kBsrRejections[2]}, n, nfac, nl, IRFAC,
                       JCFAC);
    if (!guard.passed()) return;
  }
  // BSR keeps no work storage of its own (it takes every order), so the
  // choice of road finds no room for the direct road and takes the marked
  // one: the permutation vectors are the host's own; their marks are undone
  // before the solve returns (also after a rejection).
  auto *const ipvt = const_cast<std::int32_t *>(IPVT);
  auto *const jpvt = const_cast<std::int32_t *>(JPVT);
  const std::size_t nc = orvek::Size(n), facc = orvek::Size(nfac);
  const auto fac_at = [FAC](std::int32_t k) { return FAC[k - 1]; };
  const auto b_at = [B](std::int32_t i) { return B[i - 1]; };
  const auto x_set = [X](std::int32_t i, float v) { X[i - 1] = v; };
  const auto marked = [&] {
    return sp::SolveFactored<float>(
        orvek::errors(), n, nfac, nl, std::span<const float>(FAC, facc),
        std::span<const std::int32_t>(IRFAC, facc), std::span<const std::int32_t>(JCFAC, facc),
        std::span<std::int32_t>(ipvt, nc), std::span<std::int32_t>(jpvt, nc), std::span<const float>(B, nc),
        *IPATH, std::span<float>(X, nc), /*multipliers_required=*/nl > 0);
  };
  sp::SolveOnChosenRoad<float>(
      orvek::errors(), sp::FactorReader<decltype(fac_at)>{n, nfac, nl, fac_at, IRFAC, JCFAC, IPVT, JPVT},
      b_at, *IPATH, x_set, std::span<float>(), std::span<std::int32_t>(),
      /*multipliers_required=*/nl > 0, marked);
}
