// MatYsa: nodal admittance matrix of π-branches alone (no nodal shunts), as
// a triplet list in stamping order and in the row-indexed sparse form.
#include "assembly/adapter_support.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::frame::Rejection;

constexpr std::string_view kName = "MatYsa";
constexpr Rejection kNRange{1, "N = %(I1) must lie between 1 and 9999."};
constexpr Rejection kNbRange{2, "NB = %(I1) must not exceed 5000."};
constexpr Rejection kNodeRange{3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
constexpr Rejection kEntries{4,
                             "The matrix needs NZ = %(I1) entries; the row-indexed form holds at most 9999."};

orvek::assembly::BranchStorage g_branches;
orvek::assembly::RowIndexedStorage g_row_indexed;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatYsa(const int32_t *N, const float *Z, const float *YA,
                                            const float *YB, const int32_t *NODES, const int32_t *NB,
                                            int32_t *IROW, int32_t *JCOL, float *A, int32_t *NZ, float *SA,
                                            int32_t *IJA) {
  using namespace orvek;
  using namespace orvek::assembly;
  ErrorModule &err = errors();
  const std::int32_t n = *N;
  BranchArrays branches;
  const std::int32_t entries =
      PrepareAssembly(err, kName, {{kNRange, kNbRange, kNodeRange}, kEntries}, kMaxRowIndexedEntries, n, *NB,
                      Z, YA, YB, NODES, nullptr, g_branches, branches, NoExtraChecks);
  if (entries < 0) return;
  const BranchOrder order = g_branches.order();

  TripletList<Complex> acc = HostTriplets(IROW, JCOL, g_branches.v, entries);
  StampAdmittance(n, branches, NodalShunts{}, order, acc);
  ConvertToRowIndexed(err, n, acc, g_row_indexed.work(), HostSpan(IJA, entries + 1));

  *NZ = acc.nz;
  WriteSplit<kLdNonzero>(A, g_branches.v, acc.nz);
  WriteSplit<kLdNonzero>(SA, g_row_indexed.s, acc.nz + 1);
}
