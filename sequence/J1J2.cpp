// J1J2: change (J1, J2) of the currents a branch of series impedance
// R + jX draws from its first and second end nodes at end voltages E1, E2
// when its ideal ratio at the first end goes from T1 to T2. Its nodal
// matrix is [[Y/T², -Y/T], [-Y/T, Y]]: K1 is the change of the first
// diagonal entry, K2 that of both off-diagonal entries. All inputs are read
// before any output is written. A zero R + jX or ratio gives non-finite
// values.
#include <cstdint>

#include "orvek/orvek.h"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

RatioChange RatioChangeCurrents(float r, float x, float t1, float t2, Complex e1, Complex e2) {
  const Complex y = crecip(Complex{r, x});
  const float p1 = t1 * t1;
  const float p2 = t2 * t2;
  // K1 = Y·(P1 - P2) / (P2·P1) = Y/T2² - Y/T1², part by part.
  const float d1 = p1 - p2, m1 = p2 * p1;
  const Complex k1{(y.re * d1) / m1, (y.im * d1) / m1};
  // K2 = Y·(T2 - T1) / (T2·T1) = Y/T1 - Y/T2, part by part.
  const float d2 = t2 - t1, m2 = t2 * t1;
  const Complex k2{(y.re * d2) / m2, (y.im * d2) / m2};
  const Complex k1e1 = cmul(k1, e1);
  const Complex k2e2 = cmul(k2, e2);
  return {cadd(k2e2, k1e1), cmul(k2, e1)};
}

} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL J1J2(const float *R, const float *X, const float *T1, const float *T2,
                                          const float *E1R, const float *E1I, const float *E2R,
                                          const float *E2I, float *J1R, float *J1I, float *J2R, float *J2I) {
  using namespace orvek;
  using namespace orvek::sequence;
  const RatioChange j = RatioChangeCurrents(*R, *X, *T1, *T2, Complex{*E1R, *E1I}, Complex{*E2R, *E2I});
  *J1R = j.j1.re;
  *J1I = j.j1.im;
  *J2R = j.j2.re;
  *J2I = j.j2.im;
}
