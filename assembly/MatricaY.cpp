// MatricaY: nodal admittance matrix of π-branches and nodal shunt
// susceptances, returned as a triplet list in stamping order (diagonals
// 1..N, then one pair per distinct node pair in ascending key order) and in
// the row-indexed sparse form. Parallel branches are merged by their key.
// Work storage: this file's BothFormsStorage (branch copies, order,
// values, and the conversion to the row-indexed form).
#include <array>

#include "assembly/adapter_support.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::Message;

constexpr std::string_view kName = "MatricaY";
constexpr Message kNRange{
    1, orvek::frame::kCapacityText<"N = %(I1) must lie between 1 and {}.", orvek::kMaxRowIndexedEntries>};
constexpr Message kNbRange{
    2, orvek::frame::kCapacityText<"NB = %(I1) must not exceed {}.", orvek::kMaxBranches>};
constexpr Message kNodeRange{3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
constexpr Message kShuntNode{4, "KSH(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};
constexpr Message kEntries{
    5,
    orvek::frame::kCapacityText<"The matrix needs NZ = %(I1) entries; the row-indexed form holds at most {}.",
                                orvek::kMaxRowIndexedEntries>};

orvek::assembly::BothFormsStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatricaY(const float *BSH, const int32_t *KSH, const int32_t *NSH,
                                              const int32_t *N, const float *Z, const float *YA,
                                              const float *YB, const int32_t *NODES, const int32_t *NB,
                                              int32_t *IROW, int32_t *JCOL, float *A, int32_t *NZ, float *SA,
                                              int32_t *IJA) {
  using namespace orvek;
  using namespace orvek::assembly;
  const std::int32_t n = *N, nsh = *NSH;
  const auto shunt_nodes_in_range = [&](frame::ArgumentGuard &guard) {
    for (std::int32_t k = 1; k <= nsh; ++k) {
      const std::int32_t node = KSH[k - 1];
      if (!guard.reject_if(node < 1 || node > n, kShuntNode, {k, node, n})) return false;
    }
    return true;
  };
  // Forming the spans reads nothing; the stamps read the shunts after their check.
  const std::size_t count = Size(nsh);
  const NodalShunts shunts{nsh, std::span<const float>(BSH, count),
                           std::span<const std::int32_t>(KSH, count)};
  AssembleBothForms(kName, {{kNRange, kNbRange, kNodeRange}, kEntries}, storage,
                    {n, *NB, Z, YA, YB, NODES, nullptr}, shunts, shunt_nodes_in_range,
                    {IROW, JCOL, A, NZ, SA, IJA});
}
