// NaponiKV: solid fault of type ITYPE at node K by symmetrical components.
// Reads the impedance columns Z0, Z1, Z2 (1000,2) to node K, the pre-fault
// voltages E (1000,2) and the base voltages UB entries 1..N; writes the
// sequence fault currents IFS(3,2) (rows I0, I1, I2), the sequence node
// voltages over Z0, Z1, Z2 and the phase voltages VA, VB, VC, entries 1..N
// only. Currents and voltages whose magnitude times the base falls below
// 0.003 are set to zero; nothing else is scaled.
// Work storage: this file's copies of E and Z0/Z1/Z2, and VA/VB/VC.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "sequence/adapter_support.hpp"
#include "sequence/sequence.hpp"

namespace orvek::sequence {
namespace {

// How the sequence networks connect at the fault node: ZF in series with
// the positive-sequence driving-point impedance, C2 = I2/I1, C0 = I0/I1.
struct FaultConnection {
  Complex zf, c2, c0;
};

FaultConnection ConnectionOf(std::int32_t itype, Complex z0k, Complex z2k) {
  const Complex zero{0.0f, 0.0f}, one{1.0f, 0.0f}, minus_one{-1.0f, 0.0f};
  switch (itype) {
  case kPhaseToPhase:
    return {z2k, minus_one, zero};
  case kTwoPhaseToEarth: {
    const Complex d = cadd(z0k, z2k);
    return {cdiv(cmul(z0k, z2k), d), cneg(cdiv(z0k, d)), cneg(cdiv(z2k, d))};
  }
  case kSinglePhaseToEarth:
    return {cadd(z0k, z2k), one, one};
  default: // three-phase, and every unknown code
    return {zero, zero, zero};
  }
}

Complex ZeroBelowThreshold(Complex x, float scale) {
  return BelowZeroThreshold(x, scale) ? Complex{} : x;
}

} // namespace

FaultCurrents FaultNodeCurrents(std::int32_t itype, float ubk, Complex ek, Complex z0k, Complex z1k,
                                Complex z2k) {
  const FaultConnection c = ConnectionOf(itype, z0k, z2k);
  FaultCurrents f;
  f.i1 = cdiv(ek, cadd(z1k, c.zf));
  f.i2 = cmul(c.c2, f.i1);
  f.i0 = cmul(c.c0, f.i1);
  // 100·√3/UB(K), formed as 100 / (UB(K) / √3) in that order.
  const float ci = kCurrentScale / (ubk / kSqrt3);
  f.i1 = ZeroBelowThreshold(f.i1, ci);
  f.i2 = ZeroBelowThreshold(f.i2, ci);
  f.i0 = ZeroBelowThreshold(f.i0, ci);
  return f;
}

FaultCurrents SolidFault(std::int32_t n, std::int32_t itype, std::int32_t k, const FaultNetwork &net) {
  const Rotation r = MakeRotation();
  const FaultCurrents f =
      FaultNodeCurrents(itype, net.ub[k - 1], net.e[k - 1], net.z0[k - 1], net.z1[k - 1], net.z2[k - 1]);

  for (std::int32_t i = 0; i < n; ++i) {
    const float ub = net.ub[i];
    Complex v1 = csub(net.e[i], cmul(net.z1[i], f.i1));
    Complex v2 = cneg(cmul(net.z2[i], f.i2));
    Complex v0 = cneg(cmul(net.z0[i], f.i0));
    v1 = ZeroBelowThreshold(v1, ub);
    v2 = ZeroBelowThreshold(v2, ub);
    v0 = ZeroBelowThreshold(v0, ub);
    const PhaseValues p = SequenceToPhase(r, v0, v1, v2);
    net.z0[i] = v0;
    net.z1[i] = v1;
    net.z2[i] = v2;
    net.va[i] = p.xa;
    net.vb[i] = p.xb;
    net.vc[i] = p.xc;
  }
  return f;
}

namespace {

constexpr std::string_view kRoutine = "NaponiKV";
constexpr Message kTooManyNodes{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kMaxNodes>};
constexpr Message kFaultNodeOutOfRange{2, "K = %(I1) must lie between 1 and N = %(I2)."};

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  Complex e[kMaxNodes];
  Complex z0[kMaxNodes];
  Complex z1[kMaxNodes];
  Complex z2[kMaxNodes];
  Complex va[kMaxNodes];
  Complex vb[kMaxNodes];
  Complex vc[kMaxNodes];
};
Storage storage;

// N <= 0 leaves no valid fault node, so it is rejected through K.
bool CheckArguments(ErrorModule &err, std::int32_t n, std::int32_t k) {
  frame::ArgumentGuard guard(err, kRoutine);
  if (!guard.reject_if(n > kMaxNodes, kTooManyNodes, {n})) return guard.passed();
  guard.reject_if(k < 1 || k > n, kFaultNodeOutOfRange, {k, n});
  return guard.passed();
}

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL NaponiKV(const int32_t *N, const int32_t *ITYPE, const int32_t *K,
                                              const float *UB, const float *E, float *Z0, float *Z1,
                                              float *Z2, float *VA, float *VB, float *VC, float *IFS) {
  using namespace orvek;
  using namespace orvek::sequence;
  const std::int32_t n = *N, itype = *ITYPE, k = *K;
  if (!CheckArguments(errors(), n, k)) return;
  CopyIn<kLdNode>(Z0, n, storage.z0);
  CopyIn<kLdNode>(Z1, n, storage.z1);
  CopyIn<kLdNode>(Z2, n, storage.z2);
  CopyIn<kLdNode>(E, n, storage.e);
  const auto count = static_cast<std::size_t>(n);
  const FaultNetwork net{{UB, count},         {storage.e, count},  {storage.z0, count}, {storage.z1, count},
                         {storage.z2, count}, {storage.va, count}, {storage.vb, count}, {storage.vc, count}};
  const FaultCurrents f = SolidFault(n, itype, k, net);

  const frame::SplitComplexOut<kFaultCurrentRows> ifs(IFS);
  ifs.set(1, f.i0);
  ifs.set(2, f.i1);
  ifs.set(3, f.i2);
  CopyOut<kLdNode>(storage.z0, n, Z0);
  CopyOut<kLdNode>(storage.z1, n, Z1);
  CopyOut<kLdNode>(storage.z2, n, Z2);
  CopyOut<kLdNode>(storage.va, n, VA);
  CopyOut<kLdNode>(storage.vb, n, VB);
  CopyOut<kLdNode>(storage.vc, n, VC);
}
