// Tests of NaponiKV: the fault-type table (unknown codes as three-phase),
// the single-phase example to the last bit, the code-3 formulas, the zero
// thresholds on both sides of 0.003 (with products that single rounding
// would move across it), the current scale 100 / (UB(K) / 1.7320508), a
// full network whose impedance columns come from a double-precision dense
// inverse, aliasing, untouched entries and the rejections.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "orvek/orvek.h"
#include "sequence_test_util.hpp"

namespace {

using namespace orvek::test::sequence;
using orvek::Complex;

constexpr float kThreshold = 0.003f;
constexpr float kSqrt3f = 1.7320508f;

// One call of NaponiKV with host arrays; every output starts as sentinel.
struct FaultCall {
  std::int32_t n = 0, k = 1, itype = 1;
  std::vector<float> ub = std::vector<float>(kLdNode, 0.0f);
  Split<kLdNode> e, z0, z1, z2, va, vb, vc;
  float ifs[6] = {kSentinel, kSentinel, kSentinel, kSentinel, kSentinel, kSentinel};

  void run() {
    NaponiKV(&n, &itype, &k, ub.data(), e.ptr(), z0.ptr(), z1.ptr(), z2.ptr(), va.ptr(), vb.ptr(), vc.ptr(),
             ifs);
  }
  Complex i0() const { return {ifs[0], ifs[3]}; }
  Complex i1() const { return {ifs[1], ifs[4]}; }
  Complex i2() const { return {ifs[2], ifs[5]}; }
};

// A fault case with pseudo-random impedance columns (driving points with a
// dominant positive reactance) and pre-fault voltages near 1.
FaultCall RandomCase(std::int32_t n, std::int32_t k, std::int32_t itype, std::uint64_t seed) {
  FaultCall c;
  c.n = n;
  c.k = k;
  c.itype = itype;
  Lcg rng(seed);
  for (std::int32_t i = 1; i <= n; ++i) {
    const double share = i == k ? 1.0 : rng.uniform(0.2, 0.9);
    c.z1.set(i, share * cd{rng.uniform(0.005, 0.02), rng.uniform(0.08, 0.15)});
    c.z2.set(i, share * cd{rng.uniform(0.005, 0.02), rng.uniform(0.09, 0.16)});
    c.z0.set(i, share * cd{rng.uniform(0.01, 0.05), rng.uniform(0.2, 0.4)});
    c.e.set(i, std::polar(rng.uniform(0.95, 1.05), rng.uniform(-0.3, 0.1)));
    c.ub[i - 1] = i % 2 == 0 ? 110.0f : 220.0f;
  }
  return c;
}

// ---- Double-precision reference of one fault -----------------------------

struct FaultRef {
  cd i0, i1, i2;
  std::vector<cd> v0, v1, v2, va, vb, vc;
  // Smallest relative distance of |x|·scale from the threshold over all
  // values compared, so that a test can make sure no value sits on it.
  double margin = 1e300;
};

FaultRef Reference(std::int32_t n, std::int32_t k, std::int32_t itype, const std::vector<double> &ub,
                   const std::vector<cd> &e, const std::vector<cd> &z0, const std::vector<cd> &z1,
                   const std::vector<cd> &z2) {
  const auto at = [](const std::vector<cd> &x, std::int32_t i) { return x[static_cast<std::size_t>(i - 1)]; };
  const cd z0k = at(z0, k), z2k = at(z2, k);
  cd zf = 0.0, c2 = 0.0, c0 = 0.0;
  if (itype == 2) {
    zf = z2k;
    c2 = -1.0;
  } else if (itype == 3) {
    zf = z0k * z2k / (z0k + z2k);
    c2 = -z0k / (z0k + z2k);
    c0 = -z2k / (z0k + z2k);
  } else if (itype == 4) {
    zf = z0k + z2k;
    c2 = c0 = 1.0;
  }
  FaultRef r;
  auto zeroed = [&r](cd x, double scale) {
    const double p = std::abs(x) * scale;
    if (p > 0) r.margin = std::min(r.margin, std::abs(p - kThreshold) / kThreshold);
    return p < kThreshold ? cd{} : x;
  };
  const cd i1 = at(e, k) / (at(z1, k) + zf);
  const double ci = 100.0 * std::sqrt(3.0) / ub[static_cast<std::size_t>(k - 1)];
  r.i1 = zeroed(i1, ci);
  r.i2 = zeroed(c2 * i1, ci);
  r.i0 = zeroed(c0 * i1, ci);
  for (std::int32_t i = 1; i <= n; ++i) {
    const double u = ub[static_cast<std::size_t>(i - 1)];
    const cd v1 = zeroed(at(e, i) - at(z1, i) * r.i1, u);
    const cd v2 = zeroed(-at(z2, i) * r.i2, u);
    const cd v0 = zeroed(-at(z0, i) * r.i0, u);
    const PhaseD p = SequenceToPhaseD(v0, v1, v2);
    r.v0.push_back(v0);
    r.v1.push_back(v1);
    r.v2.push_back(v2);
    r.va.push_back(p.a);
    r.vb.push_back(p.b);
    r.vc.push_back(p.c);
  }
  return r;
}

// Reference from the single-precision inputs of a call.
FaultRef Reference(const FaultCall &c) {
  std::vector<double> ub;
  std::vector<cd> e, z0, z1, z2;
  for (std::int32_t i = 1; i <= c.n; ++i) {
    ub.push_back(c.ub[static_cast<std::size_t>(i - 1)]);
    e.push_back(ToDouble(c.e.get(i)));
    z0.push_back(ToDouble(c.z0.get(i)));
    z1.push_back(ToDouble(c.z1.get(i)));
    z2.push_back(ToDouble(c.z2.get(i)));
  }
  return Reference(c.n, c.k, c.itype, ub, e, z0, z1, z2);
}

// Compares every output of a finished call with the reference.
void ExpectMatches(const FaultCall &c, const FaultRef &r, double tol) {
  ASSERT_GT(r.margin, 1e-3) << "a value sits on the threshold; choose other data";
  const double itol = tol * (1.0 + std::abs(r.i1));
  EXPECT_LT(std::abs(ToDouble(c.i0()) - r.i0), itol);
  EXPECT_LT(std::abs(ToDouble(c.i1()) - r.i1), itol);
  EXPECT_LT(std::abs(ToDouble(c.i2()) - r.i2), itol);
  for (std::int32_t i = 1; i <= c.n; ++i) {
    const std::size_t x = static_cast<std::size_t>(i - 1);
    EXPECT_LT(std::abs(ToDouble(c.z0.get(i)) - r.v0[x]), tol) << "V0 node " << i;
    EXPECT_LT(std::abs(ToDouble(c.z1.get(i)) - r.v1[x]), tol) << "V1 node " << i;
    EXPECT_LT(std::abs(ToDouble(c.z2.get(i)) - r.v2[x]), tol) << "V2 node " << i;
    EXPECT_LT(std::abs(ToDouble(c.va.get(i)) - r.va[x]), tol) << "VA node " << i;
    EXPECT_LT(std::abs(ToDouble(c.vb.get(i)) - r.vb[x]), tol) << "VB node " << i;
    EXPECT_LT(std::abs(ToDouble(c.vc.get(i)) - r.vc[x]), tol) << "VC node " << i;
    // A zeroed reference value is exactly zero in the result too.
    if (r.v0[x] == 0.0) {
      EXPECT_EQ(c.z0.get(i), (Complex{0, 0})) << i;
    }
    if (r.v2[x] == 0.0) {
      EXPECT_EQ(c.z2.get(i), (Complex{0, 0})) << i;
    }
  }
}

void ExpectUntouchedAbove(const FaultCall &c) {
  for (const auto *x : {&c.z0, &c.z1, &c.z2, &c.e, &c.va, &c.vb, &c.vc})
    EXPECT_TRUE(x->untouched_from(c.n + 1));
}

// ---- The single-phase example -------------------------------------------

TEST(NaponiKV, SinglePhaseToEarthExampleToTheLastBit) {
  FaultCall c;
  c.n = 1;
  c.k = 1;
  c.itype = 4;
  c.ub[0] = 110.0f;
  c.e.set(1, Complex{1.0f, 0.0f});
  for (auto *z : {&c.z0, &c.z1, &c.z2}) z->set(1, Complex{0.0f, 0.1f});
  c.run();
  // ZF = j0.2, Z1 + ZF = j0.3 (0.30000001192092896); Smith: I1 = -j/0.3 with
  // the reciprocal 3.3333332538604736; C2 = C0 = 1.
  const Complex i{0.0f, -3.3333332538604736f};
  EXPECT_EQ(c.i0(), i);
  EXPECT_EQ(c.i1(), i);
  EXPECT_EQ(c.i2(), i);
  // Z·I = 0.1·3.3333333 rounded once: 0.3333333432674408.
  EXPECT_EQ(c.z1.get(1), (Complex{0.6666666269302368f, 0.0f}));
  EXPECT_EQ(c.z2.get(1), (Complex{-0.3333333432674408f, 0.0f}));
  EXPECT_EQ(c.z0.get(1), (Complex{-0.3333333432674408f, 0.0f}));
  // VA keeps only the single-precision residue -2^-24.
  EXPECT_EQ(c.va.get(1), (Complex{-5.960464477539063e-08f, 0.0f}));
  EXPECT_EQ(c.vb.get(1), (Complex{-0.4999999403953552f, -0.8660253286361694f}));
  EXPECT_EQ(c.vc.get(1), (Complex{-0.5f, 0.8660253286361694f}));
  EXPECT_NEAR(std::abs(ToDouble(c.vb.get(1))), 1.0, 1e-6);
  EXPECT_NEAR(std::abs(ToDouble(c.vc.get(1))), 1.0, 1e-6);
  ExpectUntouchedAbove(c);
}

// ---- Fault-type table ----------------------------------------------------

TEST(NaponiKV, EveryFaultCodeAgreesWithDoubleReference) {
  for (const std::int32_t itype : {1, 2, 3, 4}) {
    for (const std::int32_t k : {1, 4, 7}) {
      FaultCall c = RandomCase(7, k, itype, 100 + 10 * itype + k);
      const FaultRef r = Reference(c);
      c.run();
      SCOPED_TRACE(testing::Message() << "ITYPE " << itype << " K " << k);
      ExpectMatches(c, r, 2e-6);
      ExpectUntouchedAbove(c);
    }
  }
}

TEST(NaponiKV, UnknownCodesGiveTheThreePhaseResultBitForBit) {
  FaultCall three = RandomCase(5, 2, 1, 9);
  three.run();
  for (const std::int32_t itype : {0, 5, -1, 2147483647, -2147483647 - 1}) {
    FaultCall c = RandomCase(5, 2, itype, 9);
    c.run();
    EXPECT_EQ(c.ifs[0], 0.0f);
    for (int j = 0; j < 6; ++j) EXPECT_TRUE(SameBits(c.ifs[j], three.ifs[j])) << itype;
    EXPECT_EQ(c.z1.data, three.z1.data) << itype;
    EXPECT_EQ(c.vb.data, three.vb.data) << itype;
  }
}

TEST(NaponiKV, ThreePhaseHasOnlyPositiveSequence) {
  FaultCall c = RandomCase(6, 3, 1, 31);
  c.run();
  EXPECT_EQ(c.i0(), (Complex{0, 0}));
  EXPECT_EQ(c.i2(), (Complex{0, 0}));
  const orvek::Complex a{-0.5f, 0.8660254f};
  const orvek::Complex a2 = orvek::cmul(a, a);
  for (std::int32_t i = 1; i <= c.n; ++i) {
    EXPECT_EQ(c.z0.get(i), (Complex{0, 0}));
    EXPECT_EQ(c.z2.get(i), (Complex{0, 0}));
    const Complex v1 = c.z1.get(i);
    EXPECT_EQ(c.va.get(i), v1);
    EXPECT_EQ(c.vb.get(i), orvek::cmul(a2, v1));
    EXPECT_EQ(c.vc.get(i), orvek::cmul(a, v1));
  }
  // The fault node collapses to zero in every phase (residue below the threshold).
  EXPECT_EQ(c.z1.get(3), (Complex{0, 0}));
  EXPECT_EQ(c.va.get(3), (Complex{0, 0}));
}

TEST(NaponiKV, PhaseToPhaseHasOppositeSequenceCurrents) {
  FaultCall c = RandomCase(6, 5, 2, 41);
  c.run();
  EXPECT_EQ(c.i0(), (Complex{0, 0}));
  EXPECT_EQ(c.i2().re, -c.i1().re);
  EXPECT_EQ(c.i2().im, -c.i1().im);
  for (std::int32_t i = 1; i <= c.n; ++i) EXPECT_EQ(c.z0.get(i), (Complex{0, 0})) << i;
  // Phases b and c meet at the fault node.
  EXPECT_LT(std::abs(ToDouble(c.vb.get(5)) - ToDouble(c.vc.get(5))), 2e-6);
}

TEST(NaponiKV, TwoPhaseToEarthWithEqualZeroAndNegativeImpedances) {
  FaultCall c = RandomCase(4, 2, 3, 51);
  c.z0.set(2, c.z2.get(2));
  c.run();
  // C2 = C0 = -1/2: both from the same quotient, so equal bit for bit.
  EXPECT_TRUE(SameBits(c.i2(), c.i0()));
  EXPECT_LT(std::abs(ToDouble(c.i2()) + 0.5 * ToDouble(c.i1())), 1e-6 * std::abs(ToDouble(c.i1())));
  // I1 = E / (Z1 + Z2/2), from the inputs (the call wrote over the columns).
  const FaultCall in = RandomCase(4, 2, 3, 51);
  const cd expected = ToDouble(in.e.get(2)) / (ToDouble(in.z1.get(2)) + ToDouble(in.z2.get(2)) / 2.0);
  EXPECT_LT(std::abs(ToDouble(c.i1()) - expected), 2e-6 * std::abs(expected));
  // Phases b and c are earthed at the fault node.
  EXPECT_LT(std::abs(ToDouble(c.vb.get(2))), 2e-6);
  EXPECT_LT(std::abs(ToDouble(c.vc.get(2))), 2e-6);
}

TEST(NaponiKV, TwoPhaseToEarthFormsEveryQuotientAsWritten) {
  // Z0K = 1, Z2K = -0.5: D = 0.5, ZF = -1, C2 = -2, C0 = 1, all exact; with
  // Z1K = 2 the divisor is 1, so I1 = E(K) exactly and I2 = -2·E(K).
  FaultCall c;
  c.n = 2;
  c.k = 1;
  c.itype = 3;
  c.ub[0] = c.ub[1] = 1.0f;
  c.z0.set(1, Complex{1.0f, 0.0f});
  c.z2.set(1, Complex{-0.5f, 0.0f});
  c.z1.set(1, Complex{2.0f, 0.0f});
  c.e.set(1, Complex{0.75f, -0.25f});
  c.z0.set(2, Complex{0.5f, 0.0f});
  c.z1.set(2, Complex{0.25f, 0.0f});
  c.z2.set(2, Complex{1.0f, 0.0f});
  c.e.set(2, Complex{1.0f, 0.0f});
  c.run();
  EXPECT_EQ(c.i1(), (Complex{0.75f, -0.25f}));
  EXPECT_EQ(c.i2(), (Complex{-1.5f, 0.5f}));
  EXPECT_EQ(c.i0(), (Complex{0.75f, -0.25f}));
  // Node 2: V1 = 1 - 0.25·I1, V2 = -(1·I2), V0 = -(0.5·I0).
  EXPECT_EQ(c.z1.get(2), (Complex{0.8125f, 0.0625f}));
  EXPECT_EQ(c.z2.get(2), (Complex{1.5f, -0.5f}));
  EXPECT_EQ(c.z0.get(2), (Complex{-0.375f, 0.125f}));
}

// ---- Zero thresholds -----------------------------------------------------

// A case whose node 2 has zero impedances, so that V1(2) = E(2) exactly
// and V2(2) = V0(2) = 0, with UB(2) = scale.
FaultCall VoltageThresholdCase(float magnitude, float scale) {
  FaultCall c;
  c.n = 2;
  c.k = 1;
  c.itype = 1;
  c.ub[0] = 110.0f;
  c.ub[1] = scale;
  c.z1.set(1, Complex{0.0f, 0.2f});
  c.z0.set(1, Complex{0.0f, 0.3f});
  c.z2.set(1, Complex{0.0f, 0.2f});
  c.e.set(1, Complex{1.0f, 0.0f});
  for (auto *z : {&c.z0, &c.z1, &c.z2}) z->set(2, Complex{0.0f, 0.0f});
  c.e.set(2, Complex{magnitude, 0.0f});
  return c;
}

TEST(NaponiKV, VoltageThresholdJustBelowAndExactlyAt) {
  struct Probe {
    float magnitude, scale;
    bool kept;
  };
  const Probe probes[] = {
      {kThreshold, 1.0f, true},                               // exactly at
      {std::nextafter(kThreshold, 0.0f), 1.0f, false},        // one ulp below
      {kThreshold / 2.0f, 2.0f, true},                        // exactly at, scaled
      {std::nextafter(kThreshold / 2.0f, 0.0f), 2.0f, false}, // below, scaled
      {std::nextafter(kThreshold, 1.0f), 1.0f, true},         // above
  };
  for (const Probe &p : probes) {
    ASSERT_EQ(double(p.magnitude) * double(p.scale) >= double(kThreshold), p.kept);
    FaultCall c = VoltageThresholdCase(p.magnitude, p.scale);
    c.run();
    EXPECT_EQ(c.z1.get(2), p.kept ? (Complex{p.magnitude, 0.0f}) : (Complex{0.0f, 0.0f}))
        << p.magnitude << " x " << p.scale;
    EXPECT_EQ(c.va.get(2).re, p.kept ? p.magnitude : 0.0f);
  }
}

TEST(NaponiKV, VoltageThresholdComparesTheUnroundedProduct) {
  // A magnitude and a base whose exact product lies below 0.003 but would
  // round up onto it in single precision.
  float found = 0.0f, scale = 0.0f;
  for (const float s : {3.0f, 5.0f, 7.0f, 11.0f, 13.0f, 1.1f, 1.3f, 2.7f, 9.1f}) {
    float x = static_cast<float>(kThreshold / double(s));
    while (double(x) * s >= kThreshold) x = std::nextafter(x, 0.0f);
    while (double(std::nextafter(x, 1.0f)) * s < kThreshold) x = std::nextafter(x, 1.0f);
    if (static_cast<float>(double(x) * s) >= kThreshold) {
      found = x;
      scale = s;
      break;
    }
  }
  ASSERT_NE(found, 0.0f) << "no product that rounds onto the threshold";
  FaultCall lost = VoltageThresholdCase(found, scale);
  lost.run();
  EXPECT_EQ(lost.z1.get(2), (Complex{0.0f, 0.0f})) << found << " x " << scale;
  // The next magnitude up reaches the threshold and stays.
  const float next = std::nextafter(found, 1.0f);
  ASSERT_GE(double(next) * scale, double(kThreshold));
  FaultCall kept = VoltageThresholdCase(next, scale);
  kept.run();
  EXPECT_EQ(kept.z1.get(2), (Complex{next, 0.0f}));
}

// A three-phase case with Z1(K) = 1, so that I1 = E(K) = (magnitude, 0)
// exactly; UB(K) = base.
FaultCall CurrentThresholdCase(float magnitude, float base) {
  FaultCall c;
  c.n = 2;
  c.k = 2;
  c.itype = 1;
  c.ub[0] = c.ub[1] = base;
  c.z1.set(2, Complex{1.0f, 0.0f});
  c.z0.set(2, Complex{1.0f, 0.0f});
  c.z2.set(2, Complex{1.0f, 0.0f});
  c.e.set(2, Complex{magnitude, 0.0f});
  c.z1.set(1, Complex{0.5f, 0.0f});
  c.z0.set(1, Complex{0.5f, 0.0f});
  c.z2.set(1, Complex{0.5f, 0.0f});
  c.e.set(1, Complex{1.0f, 0.0f});
  return c;
}

// The current scale as the library forms it, and the same quantity in the
// other order of operations, which rounds differently for some UB.
float CurrentScale(float ub) {
  return 100.0f / (ub / kSqrt3f);
}
float OtherOrderScale(float ub) {
  return (100.0f * kSqrt3f) / ub;
}

// Smallest magnitude whose exact product with ci reaches the threshold.
float SmallestKept(float ci) {
  float x = static_cast<float>(kThreshold / double(ci));
  while (double(x) * ci < kThreshold) x = std::nextafter(x, 1.0f);
  while (double(std::nextafter(x, 0.0f)) * ci >= kThreshold) x = std::nextafter(x, 0.0f);
  return x;
}

TEST(NaponiKV, CurrentScaleIsFormedInItsOwnOrderAndComparedUnrounded) {
  // Find a base voltage where the two orders give different scales and the
  // smallest current kept under the right one is lost under the other.
  float base = 0.0f, at = 0.0f;
  for (float ub = 100.0f; ub < 140.0f && base == 0.0f; ub += 0.37f) {
    const float ci = CurrentScale(ub), other = OtherOrderScale(ub);
    if (ci == other) continue;
    const float x = SmallestKept(ci);
    const bool other_differs =
        other < ci ? double(x) * other < kThreshold : double(std::nextafter(x, 0.0f)) * other >= kThreshold;
    if (other_differs) {
      base = ub;
      at = x;
    }
  }
  ASSERT_NE(base, 0.0f) << "no base voltage separates the two orders";

  FaultCall kept = CurrentThresholdCase(at, base);
  kept.run();
  EXPECT_EQ(kept.i1(), (Complex{at, 0.0f})) << "UB(K) = " << base;

  FaultCall lost = CurrentThresholdCase(std::nextafter(at, 0.0f), base);
  lost.run();
  EXPECT_EQ(lost.i1(), (Complex{0.0f, 0.0f})) << "UB(K) = " << base;
  // With I1 = 0 only the pre-fault voltages remain.
  EXPECT_EQ(lost.z1.get(1), (Complex{1.0f, 0.0f}));
}

TEST(NaponiKV, SequenceCurrentsComeFromTheUnthresholdedPositiveCurrent) {
  // Code 3 with C2 = -2, C0 = 1 and I1 = E(K) just below the threshold:
  // I1 and I0 vanish, I2 = -2·I1 is large enough to stay.
  const float base = 110.0f;
  const float x = std::nextafter(SmallestKept(CurrentScale(base)), 0.0f);
  FaultCall c;
  c.n = 2;
  c.k = 1;
  c.itype = 3;
  c.ub[0] = c.ub[1] = base;
  c.z0.set(1, Complex{1.0f, 0.0f});
  c.z2.set(1, Complex{-0.5f, 0.0f});
  c.z1.set(1, Complex{2.0f, 0.0f});
  c.e.set(1, Complex{x, 0.0f});
  c.z0.set(2, Complex{0.5f, 0.0f});
  c.z1.set(2, Complex{0.5f, 0.0f});
  c.z2.set(2, Complex{0.5f, 0.0f});
  c.e.set(2, Complex{1.0f, 0.0f});
  c.run();
  EXPECT_EQ(c.i1(), (Complex{0.0f, 0.0f}));
  EXPECT_EQ(c.i0(), (Complex{0.0f, 0.0f}));
  EXPECT_EQ(c.i2().re, -2.0f * x);
  EXPECT_EQ(c.z1.get(2), (Complex{1.0f, 0.0f}));
  EXPECT_EQ(c.z2.get(2).re, x); // -(0.5·(-2x))
}

TEST(NaponiKV, TinyPreFaultVoltageLeavesNoFaultCurrent) {
  FaultCall c = RandomCase(5, 3, 4, 61);
  c.e.set(3, Complex{1e-6f, 0.0f});
  c.e.set(5, Complex{1e-6f, 0.0f}); // below its own voltage threshold too
  c.run();
  for (int j = 0; j < 6; ++j) EXPECT_EQ(c.ifs[j], 0.0f) << j;
  const FaultCall in = RandomCase(5, 3, 4, 61);
  for (std::int32_t i = 1; i <= c.n; ++i) {
    const Complex e = i == 3 || i == 5 ? Complex{1e-6f, 0.0f} : in.e.get(i);
    const bool kept = double(std::abs(ToDouble(e))) * in.ub[static_cast<std::size_t>(i - 1)] >= kThreshold;
    EXPECT_EQ(c.z1.get(i), (kept ? e : Complex{0.0f, 0.0f})) << i;
    EXPECT_EQ(c.z2.get(i), (Complex{0, 0})) << i;
    EXPECT_EQ(c.z0.get(i), (Complex{0, 0})) << i;
  }
}

TEST(NaponiKV, BaseVoltagesActOnlyThroughTheThresholds) {
  for (const std::int32_t itype : {1, 2, 3, 4}) {
    FaultCall once = RandomCase(6, 2, itype, 71 + itype);
    FaultCall twice = once;
    for (float &u : twice.ub) u *= 2.0f;
    once.run();
    twice.run();
    EXPECT_EQ(once.z0.data, twice.z0.data) << itype;
    EXPECT_EQ(once.z1.data, twice.z1.data) << itype;
    EXPECT_EQ(once.vc.data, twice.vc.data) << itype;
    for (int j = 0; j < 6; ++j) EXPECT_TRUE(SameBits(once.ifs[j], twice.ifs[j])) << itype;
  }
}

TEST(NaponiKV, NodeWithZeroBaseVoltageGetsZeroVoltages) {
  FaultCall c = RandomCase(4, 1, 4, 81);
  c.ub[2] = 0.0f;
  c.run();
  for (const auto *x : {&c.z0, &c.z1, &c.z2, &c.va, &c.vb, &c.vc}) EXPECT_EQ(x->get(3), (Complex{0, 0}));
  EXPECT_NE(c.z1.get(2), (Complex{0, 0}));
}

// ---- Aliasing ------------------------------------------------------------

TEST(NaponiKV, PhaseOutputsOverThePreFaultVoltagesGiveTheSameValues) {
  FaultCall separate = RandomCase(6, 4, 4, 91);
  FaultCall same = separate;
  separate.run();
  // VA in E's storage: E(i) must be read before VA(i) is written.
  NaponiKV(&same.n, &same.itype, &same.k, same.ub.data(), same.e.ptr(), same.z0.ptr(), same.z1.ptr(),
           same.z2.ptr(), same.e.ptr(), same.vb.ptr(), same.vc.ptr(), same.ifs);
  EXPECT_EQ(same.e.data, separate.va.data);
  EXPECT_EQ(same.vb.data, separate.vb.data);
  EXPECT_EQ(same.z1.data, separate.z1.data);
}

// ---- A full network ------------------------------------------------------

// Six nodes, eight branches (one pair parallel), generators at nodes 1 and
// 4, loads as admittances; the three sequence networks differ in their
// branch impedances, charging and earthing.
NetworkD SequenceNetwork(int sequence) {
  NetworkD net;
  net.n = 6;
  const std::pair<std::int32_t, std::int32_t> ends[] = {{1, 2}, {2, 3}, {3, 4}, {4, 5},
                                                        {5, 6}, {6, 1}, {2, 5}, {4, 3}};
  Lcg rng(1000 + static_cast<std::uint64_t>(sequence == 2 ? 1 : sequence));
  const double zscale = sequence == 0 ? 3.0 : 1.0;
  const double bscale = sequence == 0 ? 0.6 : 1.0;
  for (const auto &[k, m] : ends) {
    BranchD b;
    b.k = k;
    b.m = m;
    b.z = zscale * cd{rng.uniform(0.01, 0.04), rng.uniform(0.08, 0.25)};
    const double charging = bscale * rng.uniform(0.01, 0.06);
    b.ya = cd{0.0, charging / 2.0};
    b.yb = cd{0.0, charging / 2.0};
    if (sequence == 2) b.z *= cd{1.0, 0.05}; // slightly different negative sequence
    net.branches.push_back(b);
  }
  net.shunt.assign(6, cd{});
  const double xg = sequence == 1 ? 0.15 : sequence == 2 ? 0.18 : 0.08;
  net.shunt[0] = 1.0 / cd{0.002, xg};
  net.shunt[3] = 1.0 / cd{0.003, xg * 1.2};
  if (sequence != 0) {
    net.shunt[2] = cd{0.6, -0.2};
    net.shunt[5] = cd{0.4, -0.1};
  }
  return net;
}

TEST(NaponiKV, FullNetworkAgainstDoubleDenseInverse) {
  const std::int32_t n = 6;
  std::vector<std::vector<cd>> zbus;
  for (int s = 0; s < 3; ++s) zbus.push_back(InverseD(DenseAdmittance(SequenceNetwork(s)), n));
  // The inverse really inverts: Y·Z = I to double precision.
  for (int s = 0; s < 3; ++s) {
    const std::vector<cd> y = DenseAdmittance(SequenceNetwork(s));
    for (std::int32_t i = 0; i < n; ++i)
      for (std::int32_t j = 0; j < n; ++j) {
        cd sum = 0.0;
        for (std::int32_t l = 0; l < n; ++l) sum += y[l * n + i] * zbus[s][j * n + l];
        ASSERT_LT(std::abs(sum - (i == j ? 1.0 : 0.0)), 1e-12);
      }
  }
  std::vector<cd> e;
  std::vector<double> ub;
  for (std::int32_t i = 1; i <= n; ++i) {
    e.push_back(std::polar(1.0 + 0.01 * i, -0.02 * i));
    ub.push_back(i <= 3 ? 110.0 : 220.0);
  }
  for (const std::int32_t itype : {1, 2, 3, 4}) {
    for (std::int32_t k = 1; k <= n; ++k) {
      SCOPED_TRACE(testing::Message() << "ITYPE " << itype << " K " << k);
      FaultCall c;
      c.n = n;
      c.k = k;
      c.itype = itype;
      std::vector<cd> col[3];
      for (int s = 0; s < 3; ++s)
        for (std::int32_t i = 1; i <= n; ++i) col[s].push_back(zbus[s][(k - 1) * n + (i - 1)]);
      for (std::int32_t i = 1; i <= n; ++i) {
        const std::size_t x = static_cast<std::size_t>(i - 1);
        c.z0.set(i, col[0][x]);
        c.z1.set(i, col[1][x]);
        c.z2.set(i, col[2][x]);
        c.e.set(i, e[x]);
        c.ub[x] = static_cast<float>(ub[x]);
      }
      c.run();
      // Against the fault computed wholly in double from the exact columns.
      const FaultRef r = Reference(n, k, itype, ub, e, col[0], col[1], col[2]);
      ExpectMatches(c, r, 2e-6);
      ExpectUntouchedAbove(c);
      // Conditions at the fault node.
      const cd va = ToDouble(c.va.get(k)), vb = ToDouble(c.vb.get(k)), vc = ToDouble(c.vc.get(k));
      if (itype == 1) {
        EXPECT_LT(std::abs(va) + std::abs(vb) + std::abs(vc), 1e-6);
      }
      if (itype == 2) {
        EXPECT_LT(std::abs(vb - vc), 2e-6);
      }
      if (itype == 3) {
        EXPECT_LT(std::abs(vb) + std::abs(vc), 4e-6);
      }
      if (itype == 4) {
        EXPECT_LT(std::abs(va), 2e-6);
      }
    }
  }
}

// ---- Rejections ----------------------------------------------------------

TEST(NaponiKV, OutOfRangeCountsAndNodesAreRejectedBeforeAnyWrite) {
  struct Bad {
    std::int32_t n, k, code;
    std::string message;
  };
  const Bad cases[] = {
      {1001, 1, 1, "N = 1001 must not exceed 1000."},   {5, 0, 2, "K = 0 must lie between 1 and N = 5."},
      {5, 6, 2, "K = 6 must lie between 1 and N = 5."}, {5, -3, 2, "K = -3 must lie between 1 and N = 5."},
      {0, 1, 2, "K = 1 must lie between 1 and N = 0."}, {-2, 1, 2, "K = 1 must lie between 1 and N = -2."},
  };
  for (const Bad &b : cases) {
    FaultCall c = RandomCase(5, 1, 4, 3);
    const FaultCall before = c;
    c.n = b.n;
    c.k = b.k;
    CapturedErrors errors;
    c.run();
    EXPECT_EQ(errors.capture.take(), errors.expected("NaponiKV", b.code, b.message));
    EXPECT_EQ(errors.capture.stops, 1);
    EXPECT_EQ(c.z0.data, before.z0.data);
    EXPECT_EQ(c.z1.data, before.z1.data);
    EXPECT_EQ(c.z2.data, before.z2.data);
    EXPECT_TRUE(c.va.untouched_from(1) && c.vb.untouched_from(1) && c.vc.untouched_from(1));
    for (const float x : c.ifs) EXPECT_TRUE(SameBits(x, kSentinel));
  }
}

TEST(NaponiKV, FullCapacityIsAccepted) {
  FaultCall c = RandomCase(kLdNode, kLdNode, 2, 7);
  const FaultRef r = Reference(c);
  c.run();
  ExpectMatches(c, r, 2e-6);
}

} // namespace
