// StruiKV: current entering every π-branch at its first end (IE1) and
// leaving it at its second end (IE2); the current counterpart of Sg, with
// NB first and N before V. Reads Z, YA, YB, NODES (5000,2) rows 1..NB and
// V (1000,2) entries 1..N, all copied before anything is written; writes
// IE1, IE2 entries 1..NB and nothing else. NB <= 0 writes nothing.
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
    const EndCurrents ie = BranchEndCurrents(v[branches.node1[b] - 1], v[branches.node2[b] - 1],
                                             branches.z[b], branches.ya[b], branches.yb[b]);
    ie1[b] = ie.ie1;
    ie2[b] = ie.ie2;
  }
}

namespace {

constexpr std::string_view kRoutine = "StruiKV";
constexpr BranchRejections kRejections{
    {1, "NB = %(I1) must not exceed 5000."},
    {2, "N = %(I1) must not exceed 1000."},
    {3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."},
};

Complex work_v[kMaxNodes];
Complex work_z[kMaxBranches];
Complex work_ya[kMaxBranches];
Complex work_yb[kMaxBranches];
Complex work_ie1[kMaxBranches];
Complex work_ie2[kMaxBranches];

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL StruiKV(const int32_t *NB, const float *Z, const float *YA,
                                             const float *YB, const int32_t *NODES, const int32_t *N,
                                             const float *V, float *IE1, float *IE2) {
  using namespace orvek;
  using namespace orvek::sequence;
  const std::int32_t nb = *NB, n = *N;
  if (!CheckBranchArguments(errors(), kRoutine, kRejections, nb, n, NODES)) return;
  CopyIn<kLdNode>(V, n, work_v);
  if (nb <= 0) return;
  CopyIn<kLdBranch>(Z, nb, work_z);
  CopyIn<kLdBranch>(YA, nb, work_ya);
  CopyIn<kLdBranch>(YB, nb, work_yb);
  const auto count = static_cast<std::size_t>(nb);
  const BranchData branches{
      {work_z, count}, {work_ya, count}, {work_yb, count}, {NODES, count}, {NODES + kLdBranch, count}};
  BranchCurrents(nb, branches, work_v, work_ie1, work_ie2);
  CopyOut<kLdBranch>(work_ie1, nb, IE1);
  CopyOut<kLdBranch>(work_ie2, nb, IE2);
}
