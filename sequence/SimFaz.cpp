// SimFaz: sequence (0, 1, 2) to phase (a, b, c) values of entries 1..N.
// Reads X0, X1, X2 (5000,2) entries 1..N, all of them copied before any
// output is written, so XA, XB, XC may be the same storage as the inputs;
// writes XA, XB, XC entries 1..N and nothing else. N <= 0 writes nothing.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "orvek/orvek.h"
#include "sequence/adapter_support.hpp"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

void SequenceToPhaseInPlace(std::int32_t n, std::span<Complex> x0_to_xa, std::span<Complex> x1_to_xb,
                            std::span<Complex> x2_to_xc) {
  const Rotation r = MakeRotation();
  for (std::int32_t i = 0; i < n; ++i) {
    const PhaseValues p = SequenceToPhase(r, x0_to_xa[i], x1_to_xb[i], x2_to_xc[i]);
    x0_to_xa[i] = p.xa;
    x1_to_xb[i] = p.xb;
    x2_to_xc[i] = p.xc;
  }
}

namespace {

constexpr std::string_view kRoutine = "SimFaz";
constexpr Message kTooManyEntries{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kMaxBranches>};

// One work array per sequence; each becomes the matching phase in place.
// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  Complex work0[kMaxBranches];
  Complex work1[kMaxBranches];
  Complex work2[kMaxBranches];
};
Storage storage;

bool CheckArguments(ErrorModule &err, std::int32_t n) {
  frame::ArgumentGuard guard(err, kRoutine);
  guard.reject_if(n > kMaxBranches, kTooManyEntries, {n});
  return guard.passed();
}

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL SimFaz(const int32_t *N, const float *X0, const float *X1,
                                            const float *X2, float *XA, float *XB, float *XC) {
  using namespace orvek;
  using namespace orvek::sequence;
  const std::int32_t n = *N;
  if (!CheckArguments(errors(), n)) return;
  if (n <= 0) return;
  CopyIn<kLdBranch>(X0, n, storage.work0);
  CopyIn<kLdBranch>(X1, n, storage.work1);
  CopyIn<kLdBranch>(X2, n, storage.work2);
  SequenceToPhaseInPlace(n, storage.work0, storage.work1, storage.work2);
  CopyOut<kLdBranch>(storage.work0, n, XA);
  CopyOut<kLdBranch>(storage.work1, n, XB);
  CopyOut<kLdBranch>(storage.work2, n, XC);
}
