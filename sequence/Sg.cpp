// Sg: complex power S = V·conj(I) at both ends of every π-branch, SE1
// entering at the first end, SE2 leaving at the second, both counted from
// the first end towards the second. Reads Z, YA, YB, NODES (5000,2) rows
// 1..NB and V (1000,2) entries 1..N, all copied before anything is written;
// writes SE1, SE2 entries 1..NB and nothing else. NB <= 0 writes nothing.
// Work storage: this file's BranchRoutineStorage.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "orvek/orvek.h"
#include "sequence/adapter_support.hpp"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

void BranchPowers(std::int32_t nb, const BranchData &branches, std::span<const Complex> v,
                  std::span<Complex> se1, std::span<Complex> se2) {
  for (std::int32_t b = 0; b < nb; ++b) {
    const Complex vk = v[branches.from[b] - 1];
    const Complex vm = v[branches.to[b] - 1];
    const EndCurrents ie = BranchEndCurrents(vk, vm, branches.z[b], branches.ya[b], branches.yb[b]);
    se1[b] = cmul(vk, cconj(ie.ie1));
    se2[b] = cmul(vm, cconj(ie.ie2));
  }
}

namespace {

constexpr std::string_view kRoutine = "Sg";

BranchRoutineStorage storage;

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL Sg(const float *Z, const float *YA, const float *YB,
                                        const int32_t *NODES, const int32_t *NB, const float *V,
                                        const int32_t *N, float *SE1, float *SE2) {
  using namespace orvek::sequence;
  RunBranchRoutine(kRoutine, kBranchFlowRejections, storage, BranchPowers, *NB, *N, Z, YA, YB, NODES, V, SE1,
                   SE2);
}
