// Paralelno: admittance of two impedances in parallel, (Z1 + Z2)/(Z1 Z2),
// by Smith's division. Each complex scalar is two consecutive reals (real
// part first). Z1 Z2 = 0 gives IEEE non-finite values.
#include "orvek/orvek.h"
#include "topology/dense.hpp"

extern "C" ORVEK_API void ORVEK_CALL Paralelno(const float *Z1, const float *Z2, float *ZP) {
  using namespace orvek;
  const Complex zp = topology::ParallelAdmittance({Z1[0], Z1[1]}, {Z2[0], Z2[1]});
  ZP[0] = zp.re;
  ZP[1] = zp.im;
}
