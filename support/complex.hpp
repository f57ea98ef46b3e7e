// Exact single-precision complex arithmetic used by every routine.
// Products form each part with double intermediates and round once to float;
// sums are part by part in float; quotients use Smith's method with the
// reciprocal of the scaled denominator; magnitudes are the scaled hypotenuse.
// No other code uses std::complex operators for results that must be exact.
#pragma once

#include <cmath>

#include "orvek/complex_value.hpp" // struct Complex, the interleaved layout

namespace orvek {

inline Complex cadd(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex csub(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex cneg(Complex a) { return {-a.re, -a.im}; }
inline Complex cconj(Complex a) { return {a.re, -a.im}; }

// (p + jq)(r + js) = (pr - qs) + j(qr + ps), each part rounded once.
inline Complex cmul(Complex a, Complex b) {
  const double p = a.re, q = a.im, r = b.re, s = b.im;
  return {static_cast<float>(p * r - q * s), static_cast<float>(q * r + p * s)};
}

// Real scalar times complex: both parts scaled in float.
inline Complex cscale(float t, Complex a) { return {t * a.re, t * a.im}; }

// Smith's quotient a / b. The denominator is scaled by its real part when
// |re| > |im| strictly, else by its imaginary part; the scaled numerator
// parts and the scaled denominator are each formed in double and rounded
// once, and the numerator is multiplied by the float reciprocal of the
// scaled denominator.
inline Complex cdiv(Complex a, Complex b) {
  const double ar = a.re, ai = a.im;
  if (std::fabs(b.re) > std::fabs(b.im)) {
    const float r = b.im / b.re;
    const float den = static_cast<float>(static_cast<double>(b.re) + static_cast<double>(b.im) * r);
    const float t = 1.0f / den;
    const float nr = static_cast<float>(ar + ai * r);
    const float ni = static_cast<float>(ai - ar * r);
    return {nr * t, ni * t};
  }
  const float r = b.re / b.im;
  const float den = static_cast<float>(static_cast<double>(b.re) * r + static_cast<double>(b.im));
  const float t = 1.0f / den;
  const float nr = static_cast<float>(ar * r + ai);
  const float ni = static_cast<float>(ai * r - ar);
  return {nr * t, ni * t};
}

// 1 / b by the same method.
inline Complex crecip(Complex b) { return cdiv(Complex{1.0f, 0.0f}, b); }

// |a| = max * sqrt(1 + (min/max)^2) in float; cannot overflow for finite parts.
inline float cabs(Complex a) {
  const float x = std::fabs(a.re);
  const float y = std::fabs(a.im);
  const float mx = x > y ? x : y;
  const float mn = x > y ? y : x;
  if (mx == 0.0f || std::isinf(mx)) return mx + mn; // 0, inf (or NaN propagates)
  const float q = mn / mx;
  return mx * std::sqrt(1.0f + q * q);
}

} // namespace orvek
