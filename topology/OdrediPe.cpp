// OdrediPe: real power injected at every node, P = Re(V conj(Y V)), from a
// dense admittance matrix GR + j GI (leading dimension 100, N <= 100) and
// polar node voltages. Writes P(1..N).
#include <cstdint>

#include "orvek/orvek.h"
#include "topology/dense.hpp"
#include "topology/dense_power.hpp"

namespace orvek::topology {
namespace {
constexpr std::string_view kRoutine = "OdrediPe";
DensePowerWork work;
} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL OdrediPe(const int32_t *N, const float *GR, const float *GI,
                                              const float *VM, const float *VA, float *P) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  if (!CheckDenseOrder(errors(), kRoutine, n)) return;
  if (n < 1) return;
  const auto nodes = static_cast<std::size_t>(n);
  DensePowerInjections(n, CopyDenseMatrix(n, GR, GI, work), std::span<const float>(VM, nodes),
                       std::span<const float>(VA, nodes), std::span<Complex>(work.v, nodes),
                       std::span<Complex>(work.cur, nodes), std::span<Complex>(work.s, nodes));
  for (std::int32_t i = 0; i < n; ++i) P[i] = work.s[i].re;
}
