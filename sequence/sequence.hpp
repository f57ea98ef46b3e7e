// Sequence and fault quantities: the symmetrical-component transforms, the
// solid-fault computation at one node, the π-branch end currents and
// powers, the node power from the row-indexed form, the ratio-change
// currents and the source voltage behind a reactance.
//
// Conventions of every kernel here:
//  - complex values are interleaved Complex, all arithmetic goes through
//    support/complex.hpp, partial sums are formed in the order written;
//  - spans are indexed from 0 (entry i of the host is element i - 1); node
//    numbers stored in them stay the host's 1-based numbers;
//  - kernels never check counts, node numbers or divisors (the exported
//    routines do, against the capacities); a zero divisor gives IEEE
//    infinities or NaNs; every span holds at least the count it is used with;
//  - inputs are the caller's work copies; where a kernel says so, an output
//    span may be the same storage as an input span.
#pragma once

#include <cstdint>
#include <span>

#include "orvek/fault_values.hpp"
#include "support/complex.hpp"

namespace orvek::sequence {

// ---------------------------------------------------------------------------
// Rotation operator
// ---------------------------------------------------------------------------

// a = -0.5 + j0.8660254 and its square. a² is formed at run time as the
// exact product a·a (rounded once per part): -0.49999997 - j0.8660254, whose
// real part is not -0.5. Every transform uses this a², never a literal.
struct Rotation {
  Complex a;
  Complex a2;
};

inline constexpr float kRotationRe = -0.5f;
inline constexpr float kRotationIm = 0.8660254f;

inline Rotation MakeRotation() {
  const Complex a{kRotationRe, kRotationIm};
  return {a, cmul(a, a)};
}

// ---------------------------------------------------------------------------
// Symmetrical components
// ---------------------------------------------------------------------------

struct PhaseValues {
  Complex xa, xb, xc;
};

struct SequenceValues {
  Complex x0, x1, x2;
};

// Sequence (0, 1, 2) to phase (a, b, c), no scaling factor:
//   XA = X0 + (X2 + X1)
//   XB = X0 + (a·X2 + a²·X1)
//   XC = X0 + (a²·X2 + a·X1)
// The one copy of these formulas: SimFaz, SimFaz1 and NaponiKV use it.
inline PhaseValues SequenceToPhase(const Rotation &r, Complex x0, Complex x1, Complex x2) {
  return {cadd(x0, cadd(x2, x1)), cadd(x0, cadd(cmul(r.a, x2), cmul(r.a2, x1))),
          cadd(x0, cadd(cmul(r.a2, x2), cmul(r.a, x1)))};
}

// Phase to sequence, each sum divided by 3.0 part by part (a true division):
//   X0 = ((XB + XA) + XC) / 3
//   X1 = ((XA + a·XB) + a²·XC) / 3
//   X2 = ((a²·XB + XA) + a·XC) / 3
inline constexpr float kThree = 3.0f;

inline Complex DivideByThree(Complex x) {
  return {x.re / kThree, x.im / kThree};
}

inline SequenceValues PhaseToSequence(const Rotation &r, Complex xa, Complex xb, Complex xc) {
  return {DivideByThree(cadd(cadd(xb, xa), xc)), DivideByThree(cadd(cadd(xa, cmul(r.a, xb)), cmul(r.a2, xc))),
          DivideByThree(cadd(cadd(cmul(r.a2, xb), xa), cmul(r.a, xc)))};
}

// Entries 0..n-1: (x0, x1, x2)[i] becomes (xa, xb, xc)[i], in place. All
// three values of entry i are read before any is written.
void SequenceToPhaseInPlace(std::int32_t n, std::span<Complex> x0_to_xa, std::span<Complex> x1_to_xb,
                            std::span<Complex> x2_to_xc);

// ---------------------------------------------------------------------------
// Branch end currents and powers
// ---------------------------------------------------------------------------

// π-branch between first end k and second end m:
//   I   = (V(k) - V(m)) / Z             series current from k towards m
//   IE1 = I + V(k)·YA                   entering the branch at k
//   IE2 = I - V(m)·YB                   leaving the branch into m
// The one copy of these formulas: Sg and StruiKV use it.
struct EndCurrents {
  Complex ie1, ie2;
};

inline EndCurrents BranchEndCurrents(Complex vk, Complex vm, Complex z, Complex ya, Complex yb) {
  const Complex series = cdiv(csub(vk, vm), z);
  return {cadd(series, cmul(vk, ya)), csub(series, cmul(vm, yb))};
}

// Branch data of nb branches, each span at least nb long; from/to hold
// the 1-based end nodes, every one indexing v.
struct BranchData {
  std::span<const Complex> z, ya, yb;
  std::span<const std::int32_t> from, to;
};

// IE1 and IE2 of branches 0..nb-1 from the node voltages v. nb <= 0 writes
// nothing.
void BranchCurrents(std::int32_t nb, const BranchData &branches, std::span<const Complex> v,
                    std::span<Complex> ie1, std::span<Complex> ie2);

// SE1 = V(k)·conj(IE1), SE2 = V(m)·conj(IE2) of branches 0..nb-1. nb <= 0
// writes nothing.
void BranchPowers(std::int32_t nb, const BranchData &branches, std::span<const Complex> v,
                  std::span<Complex> se1, std::span<Complex> se2);

// ---------------------------------------------------------------------------
// Node power from the row-indexed form
// ---------------------------------------------------------------------------

// S = V(K)·conj(Y(K,K)·V(K) + Σ V(IJA(p))·SA(p)), the sum over
// p = IJA(K)..IJA(K+1)-1 ascending. sa holds positions 1..IJA(N+1)-1 of the
// value array, ija the index array (1-based contents); the caller keeps the
// row's positions and columns in range.
Complex NodePower(std::int32_t k, std::span<const Complex> v, std::span<const Complex> sa,
                  std::span<const std::int32_t> ija);

// ---------------------------------------------------------------------------
// Ratio change and source voltage
// ---------------------------------------------------------------------------

// Change (J1, J2) of the currents a branch of series impedance R + jX draws
// from its ends when its ideal ratio at the first end goes from T1 to T2:
// the change of [[Y/T², -Y/T], [-Y/T, Y]] applied to (E1, E2).
struct RatioChange {
  Complex j1, j2;
};

RatioChange RatioChangeCurrents(float r, float x, float t1, float t2, Complex e1, Complex e2);

// E = V + jX·conj(S / V): the source voltage behind the series reactance X.
Complex SourceVoltage(Complex v, Complex s, float x);

// ---------------------------------------------------------------------------
// Solid fault at one node
// ---------------------------------------------------------------------------

// FaultType (any other code is treated as three-phase) and FaultCurrents
// are the native interface's, from orvek/fault_values.hpp.

// √3, the current-scale numerator and the zero threshold, as single values.
inline constexpr float kSqrt3 = 1.7320508f;
inline constexpr float kCurrentScale = 100.0f;
inline constexpr float kZeroThreshold = 0.003f;

// |x|·scale < 0.003, the product formed exactly in double (two floats
// multiply exactly there) and never rounded to single first.
inline bool BelowZeroThreshold(Complex x, float scale) {
  return static_cast<double>(cabs(x)) * static_cast<double>(scale) < static_cast<double>(kZeroThreshold);
}

// Storage of one fault computation over nodes 1..n (spans at least n long).
// z0/z1/z2 hold on entry the impedance columns to the fault node and on
// return the sequence voltages V0/V1/V2; e the pre-fault voltages, ub the
// base voltages (thresholds only); va/vb/vc receive the phase voltages. The
// outputs may be the same storage as e: entry i of every input is read
// before entry i of any output is written, and e(k) before the node loop.
struct FaultNetwork {
  std::span<const float> ub;
  std::span<const Complex> e;
  std::span<Complex> z0, z1, z2;
  std::span<Complex> va, vb, vc;
};

// The sequence fault currents alone, from the fault node's base voltage,
// pre-fault voltage and driving-point impedances: I1 = E(K)/(Z1(K,K) + ZF),
// I2 = C2·I1, I0 = C0·I1, each zeroed below the threshold. SolidFault
// forms its currents here; the fault levels of every node use it too.
FaultCurrents FaultNodeCurrents(std::int32_t itype, float ubk, Complex ek, Complex z0k, Complex z1k, Complex z2k);

// Solid fault of type itype at node k (1..n, the caller's contract).
FaultCurrents SolidFault(std::int32_t n, std::int32_t itype, std::int32_t k, const FaultNetwork &net);

} // namespace orvek::sequence
