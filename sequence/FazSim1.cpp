// FazSim1: phase (a, b, c) to sequence (0, 1, 2) values of one complex
// quantity, the inverse of SimFaz1 with the same twelve arguments in the
// same order. All six inputs are read before any output is written.
#include <cstdint>

#include "orvek/orvek.h"
#include "sequence/sequence.hpp"

extern "C" ORVEK_API void ORVEK_CALL FazSim1(float *X0R, float *X0I, float *X1R, float *X1I, float *X2R,
                                             float *X2I, const float *XAR, const float *XAI, const float *XBR,
                                             const float *XBI, const float *XCR, const float *XCI) {
  using namespace orvek;
  using namespace orvek::sequence;
  const Complex xa{*XAR, *XAI}, xb{*XBR, *XBI}, xc{*XCR, *XCI};
  const SequenceValues s = PhaseToSequence(MakeRotation(), xa, xb, xc);
  *X0R = s.x0.re;
  *X0I = s.x0.im;
  *X1R = s.x1.re;
  *X1I = s.x1.im;
  *X2R = s.x2.re;
  *X2I = s.x2.im;
}
