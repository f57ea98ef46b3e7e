// StruiKV: current entering every π-branch at its first end (IE1) and
// leaving it at its second end (IE2); the current counterpart of Sg, with
// NB first and N before V. Reads Z, YA, YB, NODES (5000,2) rows 1..NB and
// V (1000,2) entries 1..N, all copied before anything is written; writes
// IE1, IE2 entries 1..NB and nothing else. NB <= 0 writes nothing.
// Work storage: this file's BranchRoutineStorage.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sequence/adapter_support.hpp"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

void BranchCurrents(std::int32_t nb, const BranchData &branches, std::span<const Complex> v,
                    std::span<Complex> ie1, std::span<Complex> ie2) {
  for (std::int32_t b = 0; b < nb; ++b) {
    // IE1 = V(k)·YA + I is the same single addition as I + V(k)·YA.
    const EndCurrents ie = BranchEndCurrents(v[branches.from[b] - 1], v[branches.to[b] - 1], branches.z[b],
                                             branches.ya[b], branches.yb[b]);
    ie1[b] = ie.ie1;
    ie2[b] = ie.ie2;
  }
}

namespace {

constexpr std::string_view kRoutine = "StruiKV";

BranchRoutineStorage storage;

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL StruiKV(const int32_t *NB, const float *Z, const float *YA,
                                             const float *YB, const int32_t *NODES, const int32_t *N,
                                             const float *V, float *IE1, float *IE2) {
  using namespace orvek::sequence;
  RunBranchRoutine(kRoutine, kBranchFlowRejections, storage, BranchCurrents, *NB, *N, Z, YA, YB, NODES, V,
                   IE1, IE2);
}
