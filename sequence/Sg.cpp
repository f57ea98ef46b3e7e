// Sg: complex power S = V·conj(I) at both ends of every π-branch, SE1
// entering at the first end, SE2 leaving at the second, both counted from
// the first end towards the second. Reads Z, YA, YB, NODES (5000,2) rows
// 1..NB and V (1000,2) entries 1..N, all copied before anything is written;
// writes SE1, SE2 entries 1..NB and nothing else. NB <= 0 writes nothing.
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
    const Complex vk = v[branches.node1[b] - 1];
    const Complex vm = v[branches.node2[b] - 1];
    const EndCurrents ie = BranchEndCurrents(vk, vm, branches.z[b], branches.ya[b], branches.yb[b]);
    se1[b] = cmul(vk, cconj(ie.ie1));
    se2[b] = cmul(vm, cconj(ie.ie2));
  }
}

namespace {

constexpr std::string_view kRoutine = "Sg";
constexpr BranchRejections kRejections{
    {1, "NB = %(I1) must not exceed 5000."},
    {2, "N = %(I1) must not exceed 1000."},
    {3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."},
};

Complex work_v[kMaxNodes];
Complex work_z[kMaxBranches];
Complex work_ya[kMaxBranches];
Complex work_yb[kMaxBranches];
Complex work_se1[kMaxBranches];
Complex work_se2[kMaxBranches];

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL Sg(const float *Z, const float *YA, const float *YB,
                                        const int32_t *NODES, const int32_t *NB, const float *V,
                                        const int32_t *N, float *SE1, float *SE2) {
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
  BranchPowers(nb, branches, work_v, work_se1, work_se2);
  CopyOut<kLdBranch>(work_se1, nb, SE1);
  CopyOut<kLdBranch>(work_se2, nb, SE2);
}
