// ZapisiPodredeno: stores the ordering of MultiPodred as component records
// in static storage, adding the positions of both ends of every chord.
// Reads CNT(1..NC, 1..2), ORD, BL, PAR up to CNT(NC, .), and NODES(5000,2) at
// the chords; writes nothing to its arguments. The running totals in CNT are
// checked against the 6000 positions of ORD and PAR and the 5000 of BL
// before anything is read there. Records 1..NC are overwritten,
// records NC+1..50 keep what they held.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"
#include "topology/component_records.hpp"
#include "topology/ordering.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "ZapisiPodredeno";
constexpr Message kTooManyComponents{
    1, orvek::frame::kCapacityText<"NC = %(I1) must not exceed {}.", orvek::kMaxComponentRecords>};
constexpr Message kNodeCount{
    2, orvek::frame::kCapacityText<
           "Component %(I1) has CNT(%(I1), 1) - CNT(%(I2), 1) = %(I3) nodes; it must have between 1 and {}.",
           orvek::topology::kMaxRecordNodes>};
constexpr Message kBranchCount{
    3, orvek::frame::kCapacityText<"Component %(I1) has CNT(%(I1), 2) - CNT(%(I2), 2) = %(I3) branches; it "
                                   "must have between 0 and {}.",
                                   orvek::topology::kMaxRecordBranches>};
constexpr Message kChordCount{
    4, orvek::frame::kCapacityText<"Component %(I1) has %(I2) chords; it must have at most {}.",
                                   orvek::kMaxChordsPerRecord>};
constexpr Message kChordOutOfRange{
    5,
    orvek::frame::kCapacityText<"BL(%(I1)) = %(I2), a chord of component %(I3), must lie between 1 and {}.",
                                orvek::kMaxBranches>};
constexpr Message kNodeTotal{
    6, orvek::frame::kCapacityText<"CNT(%(I1), 1) = %(I2) must not exceed {}, the length of ORD and PAR.",
                                   orvek::kMaxOrderedNodes>};
constexpr Message kBranchTotal{
    7, orvek::frame::kCapacityText<"CNT(%(I1), 2) = %(I2) must not exceed {}, the length of BL.",
                                   orvek::kMaxBranches>};

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  ComponentRecord records[kMaxComponentRecords];
};
Storage storage;

// Node and branch counts of component g from the cumulative counts, wide so
// that no difference of host values can overflow.
struct Span64 {
  std::int64_t s0, b0, nn, nbr;
};
Span64 ComponentSpan(const std::int32_t *cnt, std::int32_t g) {
  const std::int64_t s0 = g > 1 ? cnt[g - 2] : 0;
  const std::int64_t b0 = g > 1 ? cnt[kMaxComponents + g - 2] : 0;
  return {s0, b0, cnt[g - 1] - s0, cnt[kMaxComponents + g - 1] - b0};
}

bool CheckArguments(ErrorModule &err, const std::int32_t *cnt, const std::int32_t *bl, std::int32_t nc) {
  frame::ArgumentGuard guard(err, kRoutine);
  if (!guard.reject_if(nc > kMaxComponentRecords, kTooManyComponents, {nc})) return guard.passed();
  for (std::int32_t g = 1; g <= nc; ++g) {
    const Span64 c = ComponentSpan(cnt, g);
    const auto nn = static_cast<std::int32_t>(c.nn < INT32_MIN   ? INT32_MIN
                                              : c.nn > INT32_MAX ? INT32_MAX
                                                                 : c.nn);
    const auto nbr = static_cast<std::int32_t>(c.nbr < INT32_MIN   ? INT32_MIN
                                               : c.nbr > INT32_MAX ? INT32_MAX
                                                                   : c.nbr);
    if (!guard.reject_if(c.nn < 1 || c.nn > kMaxRecordNodes, kNodeCount, {g, g - 1, nn}))
      return guard.passed();
    // Every component holds at least one node, so checking each running
    // total bounds every position read below.
    if (!guard.reject_if(cnt[g - 1] > kMaxOrderedNodes, kNodeTotal, {g, cnt[g - 1]})) return guard.passed();
    if (!guard.reject_if(c.nbr < 0 || c.nbr > kMaxRecordBranches, kBranchCount, {g, g - 1, nbr}))
      return guard.passed();
    const std::int32_t branch_total = cnt[kMaxComponents + g - 1];
    if (!guard.reject_if(branch_total > kMaxBranches, kBranchTotal, {g, branch_total})) return guard.passed();
    const std::int32_t nch = nbr + 1 - nn;
    if (!guard.reject_if(nch > kMaxChordsPerRecord, kChordCount, {g, nch})) return guard.passed();
    for (std::int32_t l = 1; l <= nch; ++l) {
      const auto k = static_cast<std::int32_t>(c.b0) + nn - 1 + l; // position in BL
      if (!guard.reject_if(bl[k - 1] < 1 || bl[k - 1] > kMaxBranches, kChordOutOfRange, {k, bl[k - 1], g}))
        return guard.passed();
    }
  }
  return guard.passed();
}

} // namespace

const ComponentRecord &StoredComponentRecord(std::int32_t g) {
  return storage.records[g - 1];
}

} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL ZapisiPodredeno(const int32_t *CNT, const int32_t *ORD,
                                                     const int32_t *BL, const int32_t *PAR, const int32_t *NC,
                                                     const int32_t *NODES) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t nc = *NC;
  if (!CheckArguments(errors(), CNT, BL, nc)) return;
  for (std::int32_t g = 1; g <= nc; ++g) {
    const Span64 c = ComponentSpan(CNT, g);
    const auto s0 = static_cast<std::int32_t>(c.s0), b0 = static_cast<std::int32_t>(c.b0);
    const auto nn = static_cast<std::int32_t>(c.nn), nbr = static_cast<std::int32_t>(c.nbr);
    ComponentRecord &r = storage.records[g - 1];
    const ComponentRecordSpans spans{r.nn, r.nbr, r.nch, r.node, r.brn, r.end1, r.chp, r.end2};
    StoreComponent(s0, b0, nn, nbr, std::span<const std::int32_t>(ORD, static_cast<std::size_t>(s0 + nn)),
                   std::span<const std::int32_t>(BL, static_cast<std::size_t>(b0 + nbr)),
                   std::span<const std::int32_t>(PAR, static_cast<std::size_t>(s0 + nn)),
                   std::span<const std::int32_t>(NODES, kLdBranch),
                   std::span<const std::int32_t>(NODES + kLdBranch, kLdBranch), spans);
  }
}
