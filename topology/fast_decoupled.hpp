// The two constant matrices of a fast decoupled power flow (BX scheme) as
// real triplet lists: diagonals 1..L first, then one (A, B), (B, A) pair per
// node pair inside 1..L in ascending branch key, parallel branches merged by
// the assembly's branch order.
//   first  (L = N - 1):  g = X / (X^2 + R^2);  (A,A) += g, (B,B) += g,
//                        (A,B) += -g, (B,A) += -g;
//   second (L = NPQ):    (A,A) += (1/X)/T^2, (B,B) += 1/X,
//                        (A,B) += -(1/X)/T, (B,A) += -(1/X)/T;
// with T the off-nominal ratio at the first end A. X = 0 or T = 0 is not
// guarded (IEEE values).
#pragma once

#include <cstdint>
#include <span>

#include "assembly/accumulator.hpp"
#include "support/error_module.hpp"

namespace orvek::topology {

// Branch data of NB branches, index b - 1 for branch b.
struct DecoupledBranches {
  std::span<const float> r;
  std::span<const float> x;
  std::span<const float> t;
  std::span<const std::int32_t> from;
  std::span<const std::int32_t> to;
};

// Builds both lists (their spans must hold L + 2 * pairs entries). End nodes
// lie in 1..N, N * N + N fits in 32 bits and 0 <= NPQ <= N (the caller's
// contract). NB < 1 raises the key sort's length error; with stopping off
// both lists then hold their zero diagonals only.
void BuildFastDecoupled(ErrorModule &err, std::int32_t n, std::int32_t npq, const DecoupledBranches &branches,
                        std::int32_t nb, assembly::TripletList<float> &first,
                        assembly::TripletList<float> &second, const assembly::BranchOrder &order);

} // namespace orvek::topology
