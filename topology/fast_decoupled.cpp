// Fast decoupled power-flow matrices over the shared branch order (contract
// in fast_decoupled.hpp): from the branch ends, R, X and ratios, the two real
// triplet lists, sized by the caller; work storage: the branch order.
#include "topology/fast_decoupled.hpp"

#include "support/elementary.hpp"

namespace orvek::topology {

void BuildFastDecoupled(ErrorModule &err, std::int32_t n, std::int32_t npq, const DecoupledBranches &branches,
                        std::int32_t nb, assembly::TripletList<float> &first,
                        assembly::TripletList<float> &second, const assembly::BranchOrder &order) {
  assembly::OrderBranches(err, n, nb, branches.from, branches.to, order);
  assembly::SeedDiagonal(first, n - 1);
  assembly::SeedDiagonal(second, npq);
  for (std::int32_t l = 0; l < nb; ++l) {
    const bool merge = assembly::MergesWithPrevious(order.skey, l);
    const std::int32_t b = order.perm[l];
    const std::int32_t a = branches.from[b - 1], bb = branches.to[b - 1];
    const float r = branches.r[b - 1], x = branches.x[b - 1], t = branches.t[b - 1];
    // Series susceptance without ratio: the squares as real powers.
    const float g = x / (PowF(x, 2.0f) + PowF(r, 2.0f));
    assembly::StampBranchReal(n - 1, a, bb, first, g, g, -g, -g, merge);
    // 1/X with the ratio at the first end.
    const float y = 1.0f / x;
    const float off = -(y / t);
    assembly::StampBranchReal(npq, a, bb, second, y / PowF(t, 2.0f), y, off, off, merge);
  }
}

} // namespace orvek::topology
