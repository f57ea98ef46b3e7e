// EMS: source voltage E behind a series reactance X from the terminal
// voltage V and the complex power S delivered at the terminal:
// I = conj(S / V), E = V + jX·I. All inputs are read before any output is
// written. V = 0 gives non-finite values.
#include <cstdint>

#include "orvek/orvek.h"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

Complex SourceVoltage(Complex v, Complex s, float x) {
  const Complex current = cconj(cdiv(s, v));
  // A full complex product with (0 + jX): ER = VR - X·Im(I), EI = VI + X·Re(I).
  return cadd(v, cmul(Complex{0.0f, x}, current));
}

} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL EMS(const float *VR, const float *VI, const float *SR, const float *SI,
                                         const float *X, float *ER, float *EI) {
  using namespace orvek;
  using namespace orvek::sequence;
  const Complex e = SourceVoltage(Complex{*VR, *VI}, Complex{*SR, *SI}, *X);
  *ER = e.re;
  *EI = e.im;
}
