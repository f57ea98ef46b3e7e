// The exact complex arithmetic: products rounded once, Smith's quotient,
// the scaled magnitude, across the float exponent range and at the edges.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "support/complex.hpp"

namespace {

using orvek::Complex;

// Distance in units in the last place between two finite floats.
std::int64_t UlpDistance(float a, float b) {
  auto key = [](float x) {
    std::int32_t i;
    std::memcpy(&i, &x, sizeof i);
    return i < 0 ? static_cast<std::int64_t>(INT32_MIN) - i : static_cast<std::int64_t>(i);
  };
  return std::llabs(key(a) - key(b));
}

float RandomFloat(std::mt19937 &rng, int min_exponent, int max_exponent) {
  std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
  std::uniform_int_distribution<int> exponent(min_exponent, max_exponent);
  std::bernoulli_distribution negative(0.5);
  const float x = std::ldexp(mantissa(rng), exponent(rng));
  return negative(rng) ? -x : x;
}

TEST(ComplexProduct, EachPartIsTheExactValueRoundedOnce) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20000; ++trial) {
    const Complex a{RandomFloat(rng, -60, 60), RandomFloat(rng, -60, 60)};
    const Complex b{RandomFloat(rng, -60, 60), RandomFloat(rng, -60, 60)};
    const Complex p = orvek::cmul(a, b);
    // Products of floats are exact in long double; the difference rounds once there.
    const long double re = static_cast<long double>(a.re) * b.re - static_cast<long double>(a.im) * b.im;
    const long double im = static_cast<long double>(a.im) * b.re + static_cast<long double>(a.re) * b.im;
    EXPECT_LE(UlpDistance(p.re, static_cast<float>(re)), 0) << trial;
    EXPECT_LE(UlpDistance(p.im, static_cast<float>(im)), 0) << trial;
  }
}

TEST(ComplexProduct, SingleRoundingDiffersFromFloatSteps) {
  // (1 + 2^-12 j)(1 + 2^-12 j): the real part 1 - 2^-24 needs the wide
  // intermediate; float steps would give 1 - 2^-24 rounded twice.
  const float e = std::ldexp(1.0f, -12);
  const Complex p = orvek::cmul({1.0f + e, e}, {1.0f - e, e});
  // (1+e)(1-e) - e*e = 1 - 2e^2 exactly.
  EXPECT_EQ(p.re, static_cast<float>(1.0 - 2.0 * static_cast<double>(e) * e));
}

TEST(ComplexQuotient, MatchesTheTrueQuotientAcrossTheExponentRange) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 20000; ++trial) {
    const Complex a{RandomFloat(rng, -100, 100), RandomFloat(rng, -100, 100)};
    const Complex b{RandomFloat(rng, -100, 100), RandomFloat(rng, -100, 100)};
    const Complex q = orvek::cdiv(a, b);
    const long double den = static_cast<long double>(b.re) * b.re + static_cast<long double>(b.im) * b.im;
    const long double re = (static_cast<long double>(a.re) * b.re + static_cast<long double>(a.im) * b.im) / den;
    const long double im = (static_cast<long double>(a.im) * b.re - static_cast<long double>(a.re) * b.im) / den;
    const long double scale = std::sqrt(re * re + im * im);
    // Only quotients whose parts are normal floats are comparable.
    if (scale > 1e37L || std::fabs(re) < 1e-36L || std::fabs(im) < 1e-36L) continue;
    // Componentwise error relative to the quotient's magnitude: a few float epsilons.
    EXPECT_LE(std::fabs(q.re - re), 4 * scale * std::numeric_limits<float>::epsilon()) << trial;
    EXPECT_LE(std::fabs(q.im - im), 4 * scale * std::numeric_limits<float>::epsilon()) << trial;
  }
}

TEST(ComplexQuotient, IdentitiesHold) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 5000; ++trial) {
    const Complex y{RandomFloat(rng, -60, 60), RandomFloat(rng, -60, 60)};
    const Complex one = orvek::cdiv(y, y);
    EXPECT_LE(UlpDistance(one.re, 1.0f), 2) << trial;
    EXPECT_LE(std::fabs(one.im), 2 * std::numeric_limits<float>::epsilon()) << trial;
    const float x = RandomFloat(rng, -120, 120);
    const Complex j = orvek::cdiv({0.0f, x}, {x, 0.0f});
    // The quotient multiplies by the rounded reciprocal 1/x, so j comes
    // back within one unit in the last place, not always exactly.
    EXPECT_EQ(j.re, 0.0f);
    EXPECT_LE(UlpDistance(j.im, 1.0f), 1) << x;
  }
}

TEST(ComplexQuotient, ScalesByTheLargerPartOfTheDenominator) {
  // Denominator parts near the float limits: the naive formula overflows.
  const Complex q = orvek::cdiv({1e38f, 1e38f}, {2e38f, 1e30f});
  EXPECT_TRUE(std::isfinite(q.re));
  EXPECT_NEAR(q.re, 0.5f, 1e-6f);
  EXPECT_NEAR(q.im, 0.5f, 1e-6f);
  // Equal magnitudes take the imaginary-part branch: (1+j)/(1+j) = 1.
  const Complex r = orvek::cdiv({1.0f, 1.0f}, {1.0f, 1.0f});
  EXPECT_EQ(r.re, 1.0f);
  EXPECT_EQ(r.im, 0.0f);
}

TEST(ComplexQuotient, ZeroAndNonFiniteDenominatorsGiveIeeeValues) {
  const Complex by_zero = orvek::cdiv({1.0f, 0.0f}, {0.0f, 0.0f});
  EXPECT_FALSE(std::isfinite(by_zero.re) && std::isfinite(by_zero.im));
  const Complex by_nan = orvek::cdiv({1.0f, 1.0f}, {std::nanf(""), 1.0f});
  EXPECT_TRUE(std::isnan(by_nan.re) || std::isnan(by_nan.im));
  const Complex reciprocal = orvek::crecip({4.0f, 0.0f});
  EXPECT_EQ(reciprocal.re, 0.25f);
  EXPECT_EQ(reciprocal.im, 0.0f);
}

TEST(ComplexMagnitude, ScaledHypotenuseIsAccurateAndDoesNotOverflow) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 20000; ++trial) {
    const Complex a{RandomFloat(rng, -126, 126), RandomFloat(rng, -126, 126)};
    const float m = orvek::cabs(a);
    const long double exact = std::hypot(static_cast<long double>(a.re), static_cast<long double>(a.im));
    if (!std::isfinite(static_cast<float>(exact))) continue;
    EXPECT_LE(UlpDistance(m, static_cast<float>(exact)), 2) << a.re << " " << a.im;
  }
  EXPECT_EQ(orvek::cabs({3.0f, 4.0f}), 5.0f);
  EXPECT_EQ(orvek::cabs({0.0f, 0.0f}), 0.0f);
  EXPECT_EQ(orvek::cabs({-2.0f, 0.0f}), 2.0f);
  EXPECT_TRUE(std::isfinite(orvek::cabs({1e38f, 1e38f})));
  EXPECT_EQ(orvek::cabs({std::numeric_limits<float>::infinity(), 1.0f}), std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(orvek::cabs({std::nanf(""), 1.0f})));
}

} // namespace
