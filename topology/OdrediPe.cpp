// OdrediPe: real power injected at every node, P = Re(V conj(Y V)), from a
// dense admittance matrix GR + j GI (leading dimension 100, N <= 100) and
// polar node voltages. Writes P(1..N).
// Work storage: this file's DensePowerWork.
#include <cstdint>

#include "orvek/orvek.h"
#include "topology/dense.hpp"
#include "topology/dense_power.hpp"

namespace orvek::topology {
namespace {
constexpr std::string_view kRoutine = "OdrediPe";
DensePowerWork storage;
} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL OdrediPe(const int32_t *N, const float *GR, const float *GI,
                                              const float *VM, const float *VA, float *P) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  if (!RunDensePower(kRoutine, n, GR, GI, VM, VA, storage)) return;
  for (std::int32_t i = 0; i < n; ++i) P[i] = storage.s[i].re;
}
