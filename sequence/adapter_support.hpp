// Layout conversion and argument checks shared by the exported routines of
// this folder. CopyIn/CopyOut move entries 1..n between a host split-complex
// array X(LD, 2) and interleaved work storage (n <= 0 moves nothing; the
// caller has checked n against the work storage). The branch checks are
// those of Sg and StruiKV, which read the same branch arrays; each routine
// keeps its own rejection table.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "sequence/sequence.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::sequence {

template <std::int32_t LD> void CopyIn(const float *host, std::int32_t n, std::span<Complex> work) {
  const frame::SplitComplexIn<LD> x(host);
  for (std::int32_t i = 1; i <= n; ++i) work[i - 1] = x(i);
}

template <std::int32_t LD> void CopyOut(std::span<const Complex> work, std::int32_t n, float *host) {
  const frame::SplitComplexOut<LD> x(host);
  for (std::int32_t i = 1; i <= n; ++i) x.set(i, work[i - 1]);
}

// Rejections of a routine that computes branch flows from NB branches and N
// node voltages (NB is checked before N; the network checks of assembly/
// check N first and name their table NetworkRejections).
struct BranchFlowRejections {
  Message too_many_branches; // I1 = NB
  Message too_many_nodes;    // I1 = N
  Message node_out_of_range; // I1 = branch, I2 = end, I3 = node, I4 = N
};

// The rejection table of Sg and StruiKV, which check the same arguments.
inline constexpr BranchFlowRejections kBranchFlowRejections{
    {1, frame::kCapacityText<"NB = %(I1) must not exceed {}.", kMaxBranches>},
    {2, frame::kCapacityText<"N = %(I1) must not exceed {}.", kMaxNodes>},
    {3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."},
};

// NB within the branch capacity, N within the node capacity, and, for
// branches 1..NB (first ends, then second ends), every end
// node in 1..N. Stops at the first offence. NB <= 0 checks no node.
inline bool CheckBranchArguments(ErrorModule &err, std::string_view routine,
                                 const BranchFlowRejections &table, std::int32_t nb, std::int32_t n,
                                 const std::int32_t *nodes) {
  frame::ArgumentGuard guard(err, routine);
  if (!guard.reject_if(nb > kMaxBranches, table.too_many_branches, {nb})) return guard.passed();
  if (!guard.reject_if(n > kMaxNodes, table.too_many_nodes, {n})) return guard.passed();
  guard.end_nodes_in_range(table.node_out_of_range, nodes, nb, n);
  return guard.passed();
}

// Static work storage of a per-branch routine: its copies of the node
// voltages and of the branch data, and its two per-branch results.
struct BranchRoutineStorage {
  Complex v[kMaxNodes];
  Complex z[kMaxBranches];
  Complex ya[kMaxBranches];
  Complex yb[kMaxBranches];
  Complex out1[kMaxBranches];
  Complex out2[kMaxBranches];
};

using BranchKernel = void (*)(std::int32_t nb, const BranchData &branches, std::span<const Complex> v,
                              std::span<Complex> out1, std::span<Complex> out2);

// The adapter of Sg and StruiKV: checks, copies V(1..N) and branches 1..NB,
// runs the kernel and writes its two results for branches 1..NB. NB <= 0
// writes nothing.
inline void RunBranchRoutine(std::string_view routine, const BranchFlowRejections &table,
                             BranchRoutineStorage &st, BranchKernel kernel, std::int32_t nb, std::int32_t n,
                             const float *z, const float *ya, const float *yb, const std::int32_t *nodes,
                             const float *v, float *out1, float *out2) {
  if (!CheckBranchArguments(errors(), routine, table, nb, n, nodes)) return;
  CopyIn<kLdNode>(v, n, st.v);
  if (nb <= 0) return;
  CopyIn<kLdBranch>(z, nb, st.z);
  CopyIn<kLdBranch>(ya, nb, st.ya);
  CopyIn<kLdBranch>(yb, nb, st.yb);
  const auto count = static_cast<std::size_t>(nb);
  const BranchData branches{
      {st.z, count}, {st.ya, count}, {st.yb, count}, {nodes, count}, {nodes + kLdBranch, count}};
  kernel(nb, branches, std::span<const Complex>(st.v), std::span<Complex>(st.out1),
         std::span<Complex>(st.out2));
  CopyOut<kLdBranch>(st.out1, nb, out1);
  CopyOut<kLdBranch>(st.out2, nb, out2);
}

} // namespace orvek::sequence
