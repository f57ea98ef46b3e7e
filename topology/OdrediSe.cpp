// OdrediSe: current, real and reactive power injected at every node from a
// dense admittance matrix GR + j GI (leading dimension 100, N <= 100) and
// polar node voltages. Writes P(1..N), Q(1..N) and CI(1..N, 1..2) (leading
// dimension 100).
// Work storage: this file's DensePowerWork.
#include <cstdint>

#include "orvek/orvek.h"
#include "topology/dense.hpp"
#include "topology/dense_power.hpp"

namespace orvek::topology {
namespace {
constexpr std::string_view kRoutine = "OdrediSe";
DensePowerWork storage;
} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL OdrediSe(const int32_t *N, const float *GR, const float *GI,
                                              const float *VM, const float *VA, float *P, float *Q,
                                              float *CI) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  if (!RunDensePower(kRoutine, n, GR, GI, VM, VA, storage)) return;
  const frame::SplitComplexOut<kLdDense> ci(CI);
  for (std::int32_t i = 1; i <= n; ++i) {
    ci.set(i, storage.cur[i - 1]);
    P[i - 1] = storage.s[i - 1].re;
    Q[i - 1] = storage.s[i - 1].im;
  }
}
