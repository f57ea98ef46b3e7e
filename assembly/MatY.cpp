// MatY: nodal admittance matrix of π-branches alone, triplet list only, in
// stamping order (diagonals 1..N, then one pair per distinct node pair in
// ascending key order).
// Work storage: this file's BranchStorage (branch copies, order, values).
#include "assembly/adapter_support.hpp"
#include "orvek/orvek.h"

namespace {

orvek::assembly::BranchStorage storage;

} // namespace

extern "C" ORVEK_API void ORVEK_CALL MatY(const int32_t *N, const float *Z, const float *YA, const float *YB,
                                          const int32_t *NODES, const int32_t *NB, int32_t *IROW,
                                          int32_t *JCOL, float *A, int32_t *NZ) {
  orvek::assembly::AssembleTripletList("MatY", storage, {*N, *NB, Z, YA, YB, NODES, nullptr}, IROW, JCOL, A,
                                       NZ);
}
