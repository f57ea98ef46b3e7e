// MatY_prekin: nodal admittance matrix of π-branches with a status each;
// an opened branch (status other than 1) keeps only its end admittances.
// Triplet list only, in stamping order.
// Work storage: this file's BranchStorage (branch copies, order, values).
#include "assembly/adapter_support.hpp"
#include "orvek/orvek.h"

namespace {

orvek::assembly::BranchStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatY_prekin(const int32_t *N, const float *Z, const float *YA,
                                                 const float *YB, const int32_t *NODES, const int32_t *ISTAT,
                                                 const int32_t *NB, int32_t *IROW, int32_t *JCOL, float *A,
                                                 int32_t *NZ) {
  orvek::assembly::AssembleTripletList("MatY_prekin", storage, {*N, *NB, Z, YA, YB, NODES, ISTAT}, IROW, JCOL,
                                       A, NZ);
}
