// BSC: solves A*x = b (IPATH 1) or conj(A)'*x = b (IPATH 2) with the factor
// set of LUC (N <= 1000, NFAC <= 30000). The factor set is checked against N
// before anything is written. When IPVT and JPVT are permutations the solve
// reads FAC(30000,2) and B(1000,2) in place and writes X(1000,2) directly;
// otherwise factor values, right-hand side and the permutation vectors are
// copied into static storage, where the marked permutation reports what is
// wrong. A factor set without multipliers (NL <= 0) is solved with U and the
// permutations alone. X may be the same array as B.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "sparse/entry_checks.hpp"
#include "sparse/solve_direct.hpp"
#include "sparse/sparse_solve.hpp"
#include "support/counts.hpp"

namespace {

using orvek::Complex;
using orvek::Message;

constexpr Message kBscRejections[] = {
    {1, "N = %(I1) must not exceed 1000."},
    {2, "NFAC = %(I1) must not exceed 30000."},
    {3, "NL = %(I1) must not exceed NFAC = %(I2)."},
    {4, "IRFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
    {5, "JCFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."},
};

// Static work storage.
Complex g_factors[orvek::kMaxFactorEntries];
Complex g_rhs[orvek::kMaxNodes];
Complex g_solution[orvek::kMaxNodes];
std::int32_t g_ipvt[orvek::kMaxNodes];
std::int32_t g_jpvt[orvek::kMaxNodes];

} // namespace

extern "C" ORVEK_API void ORVEK_CALL BSC(const int32_t *N, const int32_t *NFAC, const int32_t *NL, const float *FAC,
                                         const int32_t *IRFAC, const int32_t *JCFAC, const int32_t *IPVT,
                                         const int32_t *JPVT, const float *B, const int32_t *IPATH, float *X) {
  namespace sp = orvek::sparse;
  const std::int32_t n = *N, nfac = *NFAC, nl = *NL;
  if (!sp::FactorSetFits(n, nfac, nl, IRFAC, JCFAC, orvek::kMaxNodes, orvek::kMaxFactorEntries)) {
    orvek::frame::ArgumentGuard guard(orvek::errors(), "BSC");
    bool fits = guard.reject_if(n > orvek::kMaxNodes, kBscRejections[0], {n});
    fits = guard.reject_if(nfac > orvek::kMaxFactorEntries, kBscRejections[1], {nfac}) && fits;
    if (fits) sp::CheckFactorSet(guard, {kBscRejections[2], kBscRejections[3], kBscRejections[4]}, n, nfac, nl,
                                 IRFAC, JCFAC);
    if (!guard.passed()) return;
  }
  // Valid counts and permutations: the factor values and the right-hand side
  // are read where the host keeps them and the solution is written straight
  // into X (B is read in full first, so X may be B). Otherwise the marked
  // road with copies, which reports what is wrong.
  const orvek::frame::SplitComplexIn<orvek::kLdFactor> fac(FAC);
  const orvek::frame::SplitComplexIn<orvek::kLdNode> b(B);
  const orvek::frame::SplitComplexOut<orvek::kLdNode> x(X);
  const auto fac_at = [&fac](std::int32_t k) { return fac(k); };
  const auto b_at = [&b](std::int32_t i) { return b(i); };
  const auto x_set = [&x](std::int32_t i, Complex v) { x.set(i, v); };
  const auto marked = [&] {
    const std::size_t nc = orvek::Size(n), facc = orvek::Size(nfac);
    for (std::int32_t k = 1; k <= nfac; ++k) g_factors[k - 1] = fac(k);
    for (std::int32_t i = 1; i <= n; ++i) {
      g_rhs[i - 1] = b(i);
      g_ipvt[i - 1] = IPVT[i - 1];
      g_jpvt[i - 1] = JPVT[i - 1];
    }
    if (!sp::SolveFactored<Complex>(orvek::errors(), n, nfac, nl, std::span<const Complex>(g_factors, facc),
                                    std::span<const std::int32_t>(IRFAC, facc),
                                    std::span<const std::int32_t>(JCFAC, facc),
                                    std::span<std::int32_t>(g_ipvt, nc), std::span<std::int32_t>(g_jpvt, nc),
                                    std::span<const Complex>(g_rhs, nc), *IPATH,
                                    std::span<Complex>(g_solution, nc), /*multipliers_required=*/nl > 0))
      return false;
    for (std::int32_t i = 1; i <= n; ++i) x.set(i, g_solution[i - 1]);
    return true;
  };
  sp::SolveOnChosenRoad<Complex>(
      orvek::errors(), sp::FactorReader<decltype(fac_at)>{n, nfac, nl, fac_at, IRFAC, JCFAC, IPVT, JPVT},
      b_at, *IPATH, x_set, std::span<Complex>(g_solution), std::span<std::int32_t>(g_ipvt),
      /*multipliers_required=*/nl > 0, marked);
}
