// MAUX: node-branch adjacency lists of a network, each neighbour with the
// branch that leads to it (index part of the row-indexed sparse form).
// Reads NODES(5000,2) rows 1..NB; writes IJA(1..N+1+2*NB), IBR(N+2..N+1+2*NB).
// NB is limited by the work table (2*NB rows plus a sentinel in 5000).
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"
#include "topology/incidence.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "MAUX";
constexpr Message kTooManyBranches{
    1, orvek::frame::kCapacityText<"NB = %(I1) must not exceed {}.", orvek::kMaxIncidenceBranches>};
constexpr Message kNodeOutOfRange{2, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
constexpr Message kListsTooLong{
    3, orvek::frame::kCapacityText<"N = %(I1) is too large: N + 1 + 2*NB must not exceed {} with NB = %(I2).",
                                   INT32_MAX>};

constexpr std::int32_t kTableRows = kMaxBranches; // 2*NB entry rows and one sentinel row

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  std::int32_t table_node[kTableRows];
  std::int32_t table_neighbour[kTableRows];
  std::int32_t table_branch[kTableRows];
  std::int32_t sort_perm[kTableRows];
  std::int32_t sort_keys[kTableRows];
  std::int32_t sort_temp[kTableRows];
};
Storage storage;

bool CheckArguments(ErrorModule &err, std::int32_t n, const std::int32_t *nodes, std::int32_t nb) {
  frame::ArgumentGuard guard(err, kRoutine);
  if (!guard.reject_if(nb > kMaxIncidenceBranches, kTooManyBranches, {nb})) return guard.passed();
  if (nb >= 1 && static_cast<std::int64_t>(n) + 1 + 2 * static_cast<std::int64_t>(nb) > INT32_MAX) {
    guard.reject_if(true, kListsTooLong, {n, nb});
    return guard.passed();
  }
  guard.end_nodes_in_range(kNodeOutOfRange, nodes, nb, n);
  return guard.passed();
}

} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL MAUX(const int32_t *N, const int32_t *NODES, const int32_t *NB,
                                          int32_t *IJA, int32_t *IBR) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N, nb = *NB;
  ErrorModule &err = errors();
  if (!CheckArguments(err, n, NODES, nb)) return;
  // NB < 1 goes on to the key sort, which reports the length.
  const std::size_t rows = nb >= 1 ? static_cast<std::size_t>(2 * nb) : 0;
  const std::size_t list_end = nb >= 1 ? static_cast<std::size_t>(n) + 1 + rows : 0;
  const IncidenceWork work{{storage.table_node, storage.table_neighbour, storage.table_branch},
                           storage.sort_perm,
                           storage.sort_keys,
                           storage.sort_temp};
  BuildIncidence(err, n, std::span<const std::int32_t>(NODES, nb >= 1 ? nb : 0),
                 std::span<const std::int32_t>(NODES + kLdBranch, nb >= 1 ? nb : 0), nb,
                 std::span<std::int32_t>(IJA, list_end), std::span<std::int32_t>(IBR, list_end), work);
}
