// Matrici_VektoriBX: the two constant real matrices of a fast decoupled
// power flow in the BX scheme, as triplet lists ready for LUR: the first of
// order N - 1 from X/(R^2 + X^2), the second of order NPQ from 1/X with the
// off-nominal ratio T at the first end. Reads Z(5000,2) (R, X), T(5000),
// NODES(5000,2) rows 1..NB; writes IROW1/JCOL1/VAL1(1..NZ1), NZ1 and
// IROW2/JCOL2/VAL2(1..NZ2), NZ2.
// Work storage: this file's branch order.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"
#include "support/counts.hpp"
#include "topology/fast_decoupled.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "Matrici_VektoriBX";
constexpr Message kTooManyBranches{
    1, orvek::frame::kCapacityText<"NB = %(I1) must not exceed {}.", orvek::kMaxBranches>};
constexpr Message kTooManyNodes{
    2, orvek::frame::kCapacityText<
           "N = %(I1) must not exceed {}, the largest node count whose branch keys fit in 32 bits.",
           orvek::kMaxKeyedOrder>};
constexpr Message kNpqOutOfRange{3, "NPQ = %(I1) must lie between 0 and N = %(I2)."};
constexpr Message kNodeOutOfRange{4, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  std::int32_t order_perm[kMaxBranches];
  std::int32_t order_key[kMaxBranches];
  std::int32_t order_skey[kMaxBranches];
};
Storage storage;

bool CheckArguments(ErrorModule &err, std::int32_t n, std::int32_t npq, const std::int32_t *nodes,
                    std::int32_t nb) {
  frame::ArgumentGuard guard(err, kRoutine);
  if (!guard.reject_if(nb > kMaxBranches, kTooManyBranches, {nb})) return guard.passed();
  if (!guard.reject_if(n > kMaxKeyedOrder, kTooManyNodes, {n})) return guard.passed();
  if (!guard.reject_if(npq < 0 || npq > n, kNpqOutOfRange, {npq, n})) return guard.passed();
  guard.end_nodes_in_range(kNodeOutOfRange, nodes, nb, n);
  return guard.passed();
}

} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL Matrici_VektoriBX(const int32_t *N, const int32_t *NPQ, const float *Z,
                                                       const float *T, const int32_t *NODES,
                                                       const int32_t *NB, int32_t *IROW1, int32_t *JCOL1,
                                                       float *VAL1, int32_t *NZ1, int32_t *IROW2,
                                                       int32_t *JCOL2, float *VAL2, int32_t *NZ2) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N, npq = *NPQ, nb = *NB;
  ErrorModule &err = errors();
  if (!CheckArguments(err, n, npq, NODES, nb)) return;
  const std::size_t branches = Size(nb);
  const DecoupledBranches data{
      std::span<const float>(Z, branches), std::span<const float>(Z + kLdBranch, branches),
      std::span<const float>(T, branches), std::span<const std::int32_t>(NODES, branches),
      std::span<const std::int32_t>(NODES + kLdBranch, branches)};
  // The host sizes its lists for L + 2 * (node pairs inside 1..L) entries.
  const std::size_t room1 = static_cast<std::size_t>(n > 1 ? n - 1 : 0) + 2 * branches;
  const std::size_t room2 = static_cast<std::size_t>(npq) + 2 * branches;
  assembly::TripletList<float> first{{IROW1, room1}, {JCOL1, room1}, {VAL1, room1}, 0};
  assembly::TripletList<float> second{{IROW2, room2}, {JCOL2, room2}, {VAL2, room2}, 0};
  const assembly::BranchOrder order{storage.order_perm, storage.order_key, storage.order_skey};
  BuildFastDecoupled(err, n, npq, data, nb, first, second, order);
  *NZ1 = first.nz;
  *NZ2 = second.nz;
}
