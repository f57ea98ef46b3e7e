// Tests of the symmetrical-component transforms SimFaz, SimFaz1, FazSim1:
// the run-time a², the exact unit cases, the true division by 3, the round
// trip, a double-precision reference, untouched entries, aliasing and the
// rejection of N beyond the work arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/child_process.hpp"
#include "orvek/orvek.h"
#include "sequence/sequence.hpp"
#include "sequence_test_util.hpp"

namespace {

using namespace orvek::test::sequence;
using orvek::Complex;

// a and a² as single-precision values: -0.5 + j0.8660253882408142 and
// -0.4999999701976776 - j0.8660253882408142 (the square rounded once).
constexpr Complex kAf{-0.5f, 0.8660253882408142f};
constexpr Complex kA2f{-0.4999999701976776f, -0.8660253882408142f};

struct Phases {
  Complex a, b, c;
};

Phases CallSimFaz1(Complex x0, Complex x1, Complex x2) {
  Phases p;
  SimFaz1(&x0.re, &x0.im, &x1.re, &x1.im, &x2.re, &x2.im, &p.a.re, &p.a.im, &p.b.re, &p.b.im, &p.c.re,
          &p.c.im);
  return p;
}

struct Sequences {
  Complex x0, x1, x2;
};

Sequences CallFazSim1(Complex xa, Complex xb, Complex xc) {
  Sequences s;
  FazSim1(&s.x0.re, &s.x0.im, &s.x1.re, &s.x1.im, &s.x2.re, &s.x2.im, &xa.re, &xa.im, &xb.re, &xb.im, &xc.re,
          &xc.im);
  return s;
}

TEST(Rotation, SquareIsFormedAtRunTimeAndIsNotMinusOneHalf) {
  const orvek::sequence::Rotation r = orvek::sequence::MakeRotation();
  EXPECT_TRUE(SameBits(r.a, kAf));
  EXPECT_TRUE(SameBits(r.a2, kA2f));
  EXPECT_NE(r.a2.re, -0.5f);
  EXPECT_EQ(r.a2.re, std::nextafter(-0.5f, 0.0f)); // the neighbour of -0.5 towards zero
}

// ---- SimFaz1 / FazSim1 -------------------------------------------------------

TEST(SimFaz1, ZeroSequenceAloneGivesEqualPhases) {
  const Phases p = CallSimFaz1({1, 0}, {0, 0}, {0, 0});
  for (const Complex x : {p.a, p.b, p.c}) EXPECT_EQ(x, (Complex{1, 0}));
}

TEST(SimFaz1, PositiveSequenceAloneGivesASquaredAndA) {
  const Phases p = CallSimFaz1({0, 0}, {1, 0}, {0, 0});
  EXPECT_EQ(p.a, (Complex{1, 0}));
  EXPECT_EQ(p.b, kA2f);
  EXPECT_EQ(p.c, kAf);
}

TEST(SimFaz1, NegativeSequenceAloneGivesAAndASquared) {
  const Phases p = CallSimFaz1({0, 0}, {0, 0}, {1, 0});
  EXPECT_EQ(p.a, (Complex{1, 0}));
  EXPECT_EQ(p.b, kAf);
  EXPECT_EQ(p.c, kA2f);
}

TEST(FazSim1, EqualPhasesLeaveTheResidualOfASquared) {
  const Sequences s = CallFazSim1({1, 0}, {1, 0}, {1, 0});
  EXPECT_EQ(s.x0, (Complex{1, 0}));
  EXPECT_EQ(s.x2, (Complex{0, 0}));
  // (1 + a) + a² = 0.5 - 0.49999997 = 2^-25, divided by 3.0 (not times 1/3).
  const float residual = std::ldexp(1.0f, -25);
  EXPECT_EQ(s.x1.re, residual / 3.0f);
  EXPECT_NEAR(s.x1.re, 9.9e-9, 0.05e-9);
  EXPECT_EQ(s.x1.im, 0.0f);
}

TEST(FazSim1, DividesByThreeRatherThanMultiplyingByAThird) {
  // 7/3 and 7·(1/3) differ in single precision.
  ASSERT_NE(7.0f / 3.0f, 7.0f * (1.0f / 3.0f));
  const Sequences s = CallFazSim1({7, 0}, {0, 0}, {0, 0});
  EXPECT_EQ(s.x0.re, 7.0f / 3.0f);
  EXPECT_EQ(s.x1.re, 7.0f / 3.0f);
  EXPECT_EQ(s.x2.re, 7.0f / 3.0f);
}

TEST(SimFaz1, AddsInTheOrderOfTheParentheses) {
  // X0 = 1, X1 = X2 = 2^-24. XA = 1 + (2^-24 + 2^-24) = 1 + 2^-23, where
  // (1 + 2^-24) + 2^-24 would stay 1. In XB and XC the two rotated terms sum
  // to -(1 - 2^-25)·2^-24, which rounds to -2^-24, and 1 - 2^-24 is exact;
  // adding them to X0 one at a time would round back to 1 twice.
  const float tiny = std::ldexp(1.0f, -24);
  const Phases p = CallSimFaz1({1, 0}, {tiny, 0}, {tiny, 0});
  EXPECT_EQ(p.a, (Complex{1.0f + 2 * tiny, 0}));
  EXPECT_EQ(p.b, (Complex{1.0f - tiny, 0}));
  EXPECT_EQ(p.c, (Complex{1.0f - tiny, 0}));
}

TEST(FazSim1, AddsInTheOrderOfTheParentheses) {
  // X0 = ((XB + XA) + XC) / 3 with XB = 1, XA = XC = 2^-24: both small
  // terms are lost one at a time, so X0 = 1/3, not (1 + 2^-23)/3.
  const float tiny = std::ldexp(1.0f, -24);
  ASSERT_NE(1.0f / 3.0f, (1.0f + 2 * tiny) / 3.0f);
  const Sequences s = CallFazSim1({tiny, 0}, {1, 0}, {tiny, 0});
  EXPECT_EQ(s.x0.re, 1.0f / 3.0f);
}

TEST(SimFaz1, AgreesWithDoubleReference) {
  Lcg rng(11);
  for (int t = 0; t < 200; ++t) {
    const cd x0 = rng.complex(-2, 2), x1 = rng.complex(-2, 2), x2 = rng.complex(-2, 2);
    const Phases p = CallSimFaz1({float(x0.real()), float(x0.imag())}, {float(x1.real()), float(x1.imag())},
                                 {float(x2.real()), float(x2.imag())});
    const PhaseD ref = SequenceToPhaseD(ToDouble({float(x0.real()), float(x0.imag())}),
                                        ToDouble({float(x1.real()), float(x1.imag())}),
                                        ToDouble({float(x2.real()), float(x2.imag())}));
    // A handful of roundings of values up to 6 in size.
    const double tol = 8 * 6.0 * 6e-8;
    EXPECT_LT(std::abs(ToDouble(p.a) - ref.a), tol);
    EXPECT_LT(std::abs(ToDouble(p.b) - ref.b), tol);
    EXPECT_LT(std::abs(ToDouble(p.c) - ref.c), tol);
  }
}

TEST(SimFaz1, RoundTripThroughFazSim1) {
  Lcg rng(5);
  for (int t = 0; t < 500; ++t) {
    const double scale = std::pow(10.0, rng.uniform(-3, 3));
    const Complex x0{float(rng.uniform(-1, 1) * scale), float(rng.uniform(-1, 1) * scale)};
    const Complex x1{float(rng.uniform(-1, 1) * scale), float(rng.uniform(-1, 1) * scale)};
    const Complex x2{float(rng.uniform(-1, 1) * scale), float(rng.uniform(-1, 1) * scale)};
    const Phases p = CallSimFaz1(x0, x1, x2);
    const Sequences s = CallFazSim1(p.a, p.b, p.c);
    const double largest = std::max({std::abs(ToDouble(x0)), std::abs(ToDouble(x1)), std::abs(ToDouble(x2))});
    EXPECT_LE(std::abs(ToDouble(s.x0) - ToDouble(x0)), 3e-7 * largest);
    EXPECT_LE(std::abs(ToDouble(s.x1) - ToDouble(x1)), 3e-7 * largest);
    EXPECT_LE(std::abs(ToDouble(s.x2) - ToDouble(x2)), 3e-7 * largest);
  }
}

TEST(SimFaz1, OutputsMayBeTheInputVariables) {
  const Complex x0{0.3f, -1.2f}, x1{1.1f, 0.4f}, x2{-0.2f, 0.7f};
  const Phases separate = CallSimFaz1(x0, x1, x2);
  float v[6] = {x0.re, x0.im, x1.re, x1.im, x2.re, x2.im};
  // XA over X2, XB over X0, XC over X1: every output lands on a live input.
  SimFaz1(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[4], &v[5], &v[0], &v[1], &v[2], &v[3]);
  EXPECT_EQ((Complex{v[4], v[5]}), separate.a);
  EXPECT_EQ((Complex{v[0], v[1]}), separate.b);
  EXPECT_EQ((Complex{v[2], v[3]}), separate.c);
}

TEST(FazSim1, OutputsMayBeTheInputVariables) {
  const Complex xa{0.3f, -1.2f}, xb{1.1f, 0.4f}, xc{-0.2f, 0.7f};
  const Sequences separate = CallFazSim1(xa, xb, xc);
  float v[6] = {xa.re, xa.im, xb.re, xb.im, xc.re, xc.im};
  FazSim1(&v[2], &v[3], &v[4], &v[5], &v[0], &v[1], &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  EXPECT_EQ((Complex{v[2], v[3]}), separate.x0);
  EXPECT_EQ((Complex{v[4], v[5]}), separate.x1);
  EXPECT_EQ((Complex{v[0], v[1]}), separate.x2);
}

// ---- SimFaz --------------------------------------------------------------------

struct ArrayCase {
  Split<kLdBranch> x0, x1, x2;
  explicit ArrayCase(std::int32_t n, std::uint64_t seed) {
    Lcg rng(seed);
    for (std::int32_t i = 1; i <= n; ++i) {
      x0.set(i, rng.complex(-3, 3));
      x1.set(i, rng.complex(-3, 3));
      x2.set(i, rng.complex(-3, 3));
    }
  }
};

TEST(SimFaz, EachEntryMatchesSimFaz1AndLaterEntriesStayUntouched) {
  const std::int32_t n = 3;
  const ArrayCase in(n, 17);
  Split<kLdBranch> xa, xb, xc;
  SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());
  for (std::int32_t i = 1; i <= n; ++i) {
    const Phases p = CallSimFaz1(in.x0.get(i), in.x1.get(i), in.x2.get(i));
    EXPECT_TRUE(SameBits(xa.get(i), p.a)) << i;
    EXPECT_TRUE(SameBits(xb.get(i), p.b)) << i;
    EXPECT_TRUE(SameBits(xc.get(i), p.c)) << i;
  }
  EXPECT_TRUE(xa.untouched_from(n + 1));
  EXPECT_TRUE(xb.untouched_from(n + 1));
  EXPECT_TRUE(xc.untouched_from(n + 1));
}

TEST(SimFaz, ZeroAndNegativeCountsWriteNothing) {
  const ArrayCase in(5, 3);
  for (const std::int32_t n : {0, -1, -5000}) {
    Split<kLdBranch> xa, xb, xc;
    SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());
    EXPECT_TRUE(xa.untouched_from(1) && xb.untouched_from(1) && xc.untouched_from(1)) << n;
  }
}

TEST(SimFaz, FullCapacityIsAccepted) {
  const std::int32_t n = kLdBranch;
  const ArrayCase in(n, 8);
  Split<kLdBranch> xa, xb, xc;
  SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());
  for (const std::int32_t i : {1, 2500, n}) {
    const Phases p = CallSimFaz1(in.x0.get(i), in.x1.get(i), in.x2.get(i));
    EXPECT_TRUE(SameBits(xc.get(i), p.c)) << i;
  }
}

TEST(SimFaz, OutputsOverTheInputsGiveTheSameValues) {
  const std::int32_t n = 40;
  const ArrayCase in(n, 23);
  Split<kLdBranch> xa, xb, xc;
  SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());

  // XA over X0, XB over X1, XC over X2.
  ArrayCase same = in;
  SimFaz(&n, same.x0.ptr(), same.x1.ptr(), same.x2.ptr(), same.x0.ptr(), same.x1.ptr(), same.x2.ptr());
  // Rotated: XA over X1, XB over X2, XC over X0, so a naive entry loop
  // would read an already converted value.
  ArrayCase rotated = in;
  SimFaz(&n, rotated.x0.ptr(), rotated.x1.ptr(), rotated.x2.ptr(), rotated.x1.ptr(), rotated.x2.ptr(),
         rotated.x0.ptr());
  // Shifted: XA one entry further on in X0's storage.
  ArrayCase shifted = in;
  SimFaz(&n, shifted.x0.ptr(), shifted.x1.ptr(), shifted.x2.ptr(), shifted.x0.ptr() + 1, shifted.x1.ptr(),
         shifted.x2.ptr());
  for (std::int32_t i = 1; i <= n; ++i) {
    EXPECT_TRUE(SameBits(same.x0.get(i), xa.get(i)) && SameBits(same.x1.get(i), xb.get(i)) &&
                SameBits(same.x2.get(i), xc.get(i)))
        << i;
    EXPECT_TRUE(SameBits(rotated.x1.get(i), xa.get(i)) && SameBits(rotated.x2.get(i), xb.get(i)) &&
                SameBits(rotated.x0.get(i), xc.get(i)))
        << i;
    EXPECT_TRUE(SameBits(shifted.x0.data[i], xa.get(i).re) &&
                SameBits(shifted.x0.data[kLdBranch + i], xa.get(i).im))
        << i;
  }
}

TEST(SimFaz, MoreEntriesThanTheWorkArraysAreRejected) {
  const std::int32_t n = kLdBranch + 1;
  const ArrayCase in(2, 1);
  Split<kLdBranch> xa, xb, xc;
  CapturedErrors errors;
  SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());
  EXPECT_EQ(errors.capture.take(), errors.expected("SimFaz", 1, "N = 5001 must not exceed 5000."));
  EXPECT_EQ(errors.capture.stops, 1);
  EXPECT_TRUE(xa.untouched_from(1) && xb.untouched_from(1) && xc.untouched_from(1));
}

TEST(SimFaz, RejectionStopsTheProcess) {
  // The child inherits the user level of the process as it is now.
  const int user_type = orvek::errors().type_at(1), user_code = orvek::errors().code_at(1);
  const auto child = orvek::test::RunInChild([] {
    const std::int32_t n = 2147483647;
    const ArrayCase in(1, 1);
    Split<kLdBranch> xa, xb, xc;
    SimFaz(&n, in.x0.ptr(), in.x1.ptr(), in.x2.ptr(), xa.ptr(), xb.ptr(), xc.ptr());
    std::fputs("returned\n", stdout);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output,
            TerminalText("SimFaz", 1, "N = 2147483647 must not exceed 5000.", user_type, user_code) +
                "Stop - Program terminated.\n");
  EXPECT_EQ(child.exit_status, 1);
}

} // namespace
