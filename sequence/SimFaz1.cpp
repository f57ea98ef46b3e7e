// SimFaz1: sequence (0, 1, 2) to phase (a, b, c) values of one complex
// quantity passed as twelve real scalars. All six inputs are read before
// any output is written, so outputs may be the same variables as inputs.
#include <cstdint>

#include "orvek/orvek.h"
#include "sequence/sequence.hpp"

extern "C" ORVEK_API void ORVEK_CALL SimFaz1(const float *X0R, const float *X0I, const float *X1R,
                                             const float *X1I, const float *X2R, const float *X2I, float *XAR,
                                             float *XAI, float *XBR, float *XBI, float *XCR, float *XCI) {
  using namespace orvek;
  using namespace orvek::sequence;
  const Complex x0{*X0R, *X0I}, x1{*X1R, *X1I}, x2{*X2R, *X2I};
  const PhaseValues p = SequenceToPhase(MakeRotation(), x0, x1, x2);
  *XAR = p.xa.re;
  *XAI = p.xa.im;
  *XBR = p.xb.re;
  *XBI = p.xb.im;
  *XCR = p.xc.re;
  *XCI = p.xc.im;
}
