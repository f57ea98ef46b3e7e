// MultiPodred: breadth-first ordering of the nodes by connected component,
// with tree branches, chords and parent positions.
// Reads IJA(1..IJA(N+1)-1), IBR(N+2..IJA(N+1)-1); writes ORD(1..N),
// PAR at every non-root position, BL(1..NB), CNT(1..NC, 1..2) and NC, where
// NB is half the number of list entries. The lists are checked to be a
// consistent MAUX result before anything is written; the ordering is formed
// in work storage and copied out only when the components fit CNT(1000,2).
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"
#include "topology/ordering.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "MultiPodred";

constexpr Message kNodesTooFew{1, "N = %(I1) must be at least 1."};
constexpr Message kNodesTooMany{
    2, orvek::frame::kCapacityText<
           "N = %(I1) must not exceed {}: with at most {} branches more nodes form more than {} components.",
           orvek::kMaxOrderedNodes, orvek::kMaxBranches, orvek::kMaxComponents>};
constexpr Message kFirstPointer{3, "IJA(1) = %(I1) must equal N + 2 = %(I2)."};
constexpr Message kPointerOrder{4, "IJA(%(I1)) = %(I2) must not be less than IJA(%(I3)) = %(I4)."};
constexpr Message kListsTooLong{
    5, orvek::frame::kCapacityText<
           "The lists hold IJA(N+1) - IJA(1) = %(I1) entries; at most {}, two for each of {} branches, fit.",
           2 * orvek::kMaxBranches, orvek::kMaxBranches>};
constexpr Message kNeighbourOutOfRange{6, "IJA(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kBranchOutOfRange{
    7, "IBR(%(I1)) = %(I2) must lie between 1 and NB = %(I3), half the number of list entries."};
constexpr Message kBranchCount{
    8, "Branch %(I1) occurs %(I2) times in IBR; every branch must occur exactly twice, once at each end."};
constexpr Message kUnmatchedEntry{9, "IJA(%(I1)) = %(I2) with IBR(%(I1)) = %(I3) in the list of node %(I4) "
                                     "has no matching entry in the list "
                                     "of node %(I2)."};
constexpr Message kTooManyComponents{
    10, orvek::frame::kCapacityText<
            "The network of N = %(I1) nodes and NB = %(I2) branches has more than {} components.",
            orvek::kMaxComponents>};

// Work storage: the ordering is formed here first.
// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  std::int32_t ord[kMaxOrderedNodes];
  std::int32_t par[kMaxOrderedNodes];
  std::int32_t bl[kMaxBranches];
  std::int32_t cnt_nodes[kMaxComponents];
  std::int32_t cnt_branches[kMaxComponents];
  std::int32_t pending_chords[kMaxBranches];
  std::int32_t branch_count[kMaxBranches]; // occurrences of each branch in IBR
  // Markers of the ordering (index = node or branch number): without them the
  // membership scans cost seconds for a thousand components of a few nodes.
  std::int32_t node_marks[kMaxOrderedNodes + 1];
  std::int32_t tree_marks[kMaxBranches + 1];
  std::int32_t chord_marks[kMaxBranches + 1];
};
Storage storage;

// Checks that the lists are what MAUX gives for some branch table over nodes
// 1..N; returns NB (half the entries) through nb.
bool CheckLists(frame::ArgumentGuard &guard, std::int32_t n, const std::int32_t *ija, const std::int32_t *ibr,
                std::int32_t &nb) {
  auto IJA = [&](std::int64_t k) { return ija[k - 1]; };
  auto IBR = [&](std::int64_t k) { return ibr[k - 1]; };
  if (!guard.reject_if(n < 1, kNodesTooFew, {n})) return false;
  if (!guard.reject_if(n > kMaxOrderedNodes, kNodesTooMany, {n})) return false;
  if (!guard.reject_if(IJA(1) != n + 2, kFirstPointer, {IJA(1), n + 2})) return false;
  for (std::int32_t i = 1; i <= n; ++i)
    if (!guard.reject_if(IJA(i + 1) < IJA(i), kPointerOrder, {i + 1, IJA(i + 1), i, IJA(i)})) return false;
  const std::int32_t entries = IJA(n + 1) - IJA(1);
  if (!guard.reject_if(entries > 2 * kMaxBranches, kListsTooLong, {entries})) return false;
  nb = entries / 2;
  const std::int32_t first = n + 2, last = IJA(n + 1) - 1;
  for (std::int32_t k = first; k <= last; ++k)
    if (!guard.reject_if(IJA(k) < 1 || IJA(k) > n, kNeighbourOutOfRange, {k, IJA(k), n})) return false;
  for (std::int32_t b = 1; b <= nb; ++b) storage.branch_count[b - 1] = 0;
  for (std::int32_t k = first; k <= last; ++k) {
    if (!guard.reject_if(IBR(k) < 1 || IBR(k) > nb, kBranchOutOfRange, {k, IBR(k), nb})) return false;
    ++storage.branch_count[IBR(k) - 1];
  }
  for (std::int32_t b = 1; b <= nb; ++b)
    if (!guard.reject_if(storage.branch_count[b - 1] != 2, kBranchCount, {b, storage.branch_count[b - 1]}))
      return false;
  // Every entry u -> v of branch b has its partner v -> u of branch b at
  // another position (for a self-loop, the other entry in the same list).
  for (std::int32_t u = 1; u <= n; ++u) {
    for (std::int32_t k = IJA(u); k < IJA(u + 1); ++k) {
      const std::int32_t v = IJA(k), b = IBR(k);
      bool matched = false;
      for (std::int32_t h = IJA(v); h < IJA(v + 1) && !matched; ++h)
        matched = h != k && IJA(h) == u && IBR(h) == b;
      if (!guard.reject_if(!matched, kUnmatchedEntry, {k, v, b, u})) return false;
    }
  }
  return guard.reject_if(n > kMaxComponents + nb, kTooManyComponents, {n, nb});
}

} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL MultiPodred(const int32_t *N, const int32_t *IJA, const int32_t *IBR,
                                                 int32_t *ORD, int32_t *CNT, int32_t *BL, int32_t *PAR,
                                                 int32_t *NC) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  frame::ArgumentGuard guard(errors(), kRoutine);
  std::int32_t nb = 0;
  if (!CheckLists(guard, n, IJA, IBR, nb)) {
    guard.passed();
    return;
  }
  const auto list_end = static_cast<std::size_t>(IJA[n] - 1);
  std::int32_t nc = 0;
  const OrderingOutput out{std::span<std::int32_t>(storage.ord, static_cast<std::size_t>(n)),
                           std::span<std::int32_t>(storage.par, static_cast<std::size_t>(n)),
                           std::span<std::int32_t>(storage.bl, static_cast<std::size_t>(nb)),
                           storage.cnt_nodes,
                           storage.cnt_branches,
                           nc};
  const OrderingMarks marks{std::span<std::int32_t>(storage.node_marks, static_cast<std::size_t>(n) + 1),
                            std::span<std::int32_t>(storage.tree_marks, static_cast<std::size_t>(nb) + 1),
                            std::span<std::int32_t>(storage.chord_marks, static_cast<std::size_t>(nb) + 1)};
  const bool fits =
      OrderByComponent(n, std::span<const std::int32_t>(IJA, list_end),
                       std::span<const std::int32_t>(IBR, list_end), out, storage.pending_chords, &marks);
  if (!guard.reject_if(!fits, kTooManyComponents, {n, nb}) || !guard.passed()) return;

  // Copy out; PAR keeps the host's values at the root of every component.
  const std::int32_t listed = storage.cnt_branches[nc - 1];
  for (std::int32_t i = 0; i < n; ++i) ORD[i] = storage.ord[i];
  for (std::int32_t k = 0; k < listed; ++k) BL[k] = storage.bl[k];
  std::int32_t root = 0; // 0-based position of the current component's root
  for (std::int32_t g = 1; g <= nc; ++g) {
    for (std::int32_t i = root + 1; i < storage.cnt_nodes[g - 1]; ++i) PAR[i] = storage.par[i];
    root = storage.cnt_nodes[g - 1];
    CNT[g - 1] = storage.cnt_nodes[g - 1];
    CNT[kMaxComponents + g - 1] = storage.cnt_branches[g - 1];
  }
  *NC = nc;
}
