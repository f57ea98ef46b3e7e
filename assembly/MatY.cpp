// MatY: nodal admittance matrix of π-branches alone, triplet list only, in
// stamping order (diagonals 1..N, then one pair per distinct node pair in
// ascending key order).
#include "assembly/adapter_support.hpp"
#include "orvek/orvek.h"

namespace {

using orvek::frame::Rejection;

constexpr std::string_view kName = "MatY";
constexpr Rejection kNRange{1, "N = %(I1) must lie between 1 and 10000."};
constexpr Rejection kNbRange{2, "NB = %(I1) must not exceed 5000."};
constexpr Rejection kNodeRange{3, "NODES(%(I1), %(I2)) = %(I3) must lie between 1 and N = %(I4)."};
constexpr Rejection kEntries{4, "The matrix needs NZ = %(I1) entries; the triplet list holds at most 10000."};

orvek::assembly::BranchStorage g_branches;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatY(const int32_t *N, const float *Z, const float *YA, const float *YB,
                                          const int32_t *NODES, const int32_t *NB, int32_t *IROW,
                                          int32_t *JCOL, float *A, int32_t *NZ) {
  using namespace orvek;
  using namespace orvek::assembly;
  ErrorModule &err = errors();
  const std::int32_t n = *N;
  BranchArrays branches;
  const std::int32_t entries =
      PrepareAssembly(err, kName, {{kNRange, kNbRange, kNodeRange}, kEntries}, kMaxNonzeros, n, *NB, Z, YA,
                      YB, NODES, nullptr, g_branches, branches, NoExtraChecks);
  if (entries < 0) return;
  const BranchOrder order = g_branches.order();

  TripletList<Complex> acc = HostTriplets(IROW, JCOL, g_branches.v, entries);
  StampAdmittance(n, branches, NodalShunts{}, order, acc);
  *NZ = acc.nz;
  WriteSplit<kLdNonzero>(A, g_branches.v, acc.nz);
}
