// Checks shared by the solve entry points BSR and BSC: a factor set whose
// entry counts or row and column numbers would take the solve outside the
// host's arrays is rejected before anything is written. Counts of zero or
// below are left to the solve's own checks, which touch no array. The
// branch-free range pass also serves the factorization's triplet checks.
#pragma once

#include <cstdint>

#include "frame/argument_guard.hpp"

namespace orvek::sparse {

// The rejections a solve entry point raises for its factor set.
struct FactorSetRejections {
  Message nl_beyond_nfac; // "NL = %(I1) must not exceed NFAC = %(I2)."
  Message row;            // "IRFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."
  Message column;         // "JCFAC(%(I1)) = %(I2) must lie between 1 and N = %(I3)."
};

// True when rows[0..count) and columns[0..count) all lie in 1..N, found in
// one branch-free pass (only a list that fails is walked again to name its
// offences).
inline bool AllInRange(const std::int32_t *rows, const std::int32_t *columns, std::int32_t count,
                       std::int32_t n) {
  const auto span = static_cast<std::uint32_t>(n);
  std::uint32_t outside = 0;
  for (std::int32_t k = 0; k < count; ++k)
    outside |= static_cast<std::uint32_t>(static_cast<std::uint32_t>(rows[k]) - 1u >= span) |
               static_cast<std::uint32_t>(static_cast<std::uint32_t>(columns[k]) - 1u >= span);
  return outside == 0;
}

// True when N and NFAC keep within the capacities (max_nfac 0: no limit
// of its own) and CheckFactorSet would raise nothing: the entry point then
// has nothing to report and need not enter its error frame.
inline bool FactorSetFits(std::int32_t n, std::int32_t nfac, std::int32_t nl, const std::int32_t *irfac,
                          const std::int32_t *jcfac, std::int32_t max_n, std::int32_t max_nfac) {
  if (n > max_n || (max_nfac > 0 && nfac > max_nfac)) return false;
  if (n < 1 || nfac < 1) return true;
  return nl <= nfac && AllInRange(irfac, jcfac, nfac, n);
}

// Runs the checks (first offence of each kind reported); false when one failed.
inline bool CheckFactorSet(frame::ArgumentGuard &guard, const FactorSetRejections &r, std::int32_t n,
                           std::int32_t nfac, std::int32_t nl, const std::int32_t *irfac,
                           const std::int32_t *jcfac) {
  if (n < 1 || nfac < 1) return true;
  bool ok = guard.reject_if(nl > nfac, r.nl_beyond_nfac, {nl, nfac});
  if (AllInRange(irfac, jcfac, nfac, n)) return ok;
  // Only now are the entries walked again to name the first offence of each kind.
  for (std::int32_t k = 0; k < nfac; ++k)
    if (!guard.reject_if(irfac[k] < 1 || irfac[k] > n, r.row, {k + 1, irfac[k], n})) {
      ok = false;
      break;
    }
  for (std::int32_t k = 0; k < nfac; ++k)
    if (!guard.reject_if(jcfac[k] < 1 || jcfac[k] > n, r.column, {k + 1, jcfac[k], n})) {
      ok = false;
      break;
    }
  return ok;
}

} // namespace orvek::sparse
