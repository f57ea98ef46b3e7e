// MatYsa: nodal admittance matrix of π-branches alone (no nodal shunts), as
// a triplet list in stamping order and in the row-indexed sparse form.
// Work storage: this file's BothFormsStorage (branch copies, order,
// values, and the conversion to the row-indexed form).
#include "assembly/adapter_support.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::Message;

constexpr std::string_view kName = "MatYsa";
constexpr Message kNRange{
    1, orvek::frame::kCapacityText<"N = %(I1) must lie between 1 and {}.", orvek::kMaxRowIndexedEntries>};
constexpr Message kNbRange{
    2, orvek::frame::kCapacityText<"NB = %(I1) must not exceed {}.", orvek::kMaxBranches>};
constexpr Message kNodeRange{3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
constexpr Message kEntries{
    4,
    orvek::frame::kCapacityText<"The matrix needs NZ = %(I1) entries; the row-indexed form holds at most {}.",
                                orvek::kMaxRowIndexedEntries>};

orvek::assembly::BothFormsStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatYsa(const int32_t *N, const float *Z, const float *YA,
                                            const float *YB, const int32_t *NODES, const int32_t *NB,
                                            int32_t *IROW, int32_t *JCOL, float *A, int32_t *NZ, float *SA,
                                            int32_t *IJA) {
  using namespace orvek::assembly;
  AssembleBothForms(kName, {{kNRange, kNbRange, kNodeRange}, kEntries}, storage,
                    {*N, *NB, Z, YA, YB, NODES, nullptr}, NodalShunts{}, NoExtraChecks,
                    {IROW, JCOL, A, NZ, SA, IJA});
}
