// Double-precision values beside the library's single-precision ones: the
// residuals of refined solves and the inverse on the pattern of the factors
// are formed in double. ComplexD is a plain pair with the textbook formulas
// (no exact-rounding contract: these values never replace a result that the
// single-precision routines define bit for bit). WideOf<T> names the double
// counterpart of a factor value type.
#pragma once

#include <cmath>
#include <type_traits>

#include "support/complex.hpp"

namespace orvek::sparse {

struct ComplexD {
  double re = 0.0;
  double im = 0.0;
};

inline ComplexD dadd(ComplexD a, ComplexD b) { return {a.re + b.re, a.im + b.im}; }
inline ComplexD dsub(ComplexD a, ComplexD b) { return {a.re - b.re, a.im - b.im}; }
inline ComplexD dmul(ComplexD a, ComplexD b) { return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im}; }
inline ComplexD dconj(ComplexD a) { return {a.re, -a.im}; }
// Smith's quotient, scaled by the larger part of the denominator.
inline ComplexD ddiv(ComplexD a, ComplexD b) {
  if (std::fabs(b.re) > std::fabs(b.im)) {
    const double r = b.im / b.re, den = b.re + b.im * r;
    return {(a.re + a.im * r) / den, (a.im - a.re * r) / den};
  }
  const double r = b.re / b.im, den = b.re * r + b.im;
  return {(a.re * r + a.im) / den, (a.im * r - a.re) / den};
}
inline double dabs(ComplexD a) { return std::hypot(a.re, a.im); }
inline double dabs(double a) { return std::fabs(a); }
inline ComplexD Widen(Complex a) { return {a.re, a.im}; }
inline double Widen(float a) { return a; }
// Nearest single-precision value, part by part.
inline Complex Narrow(ComplexD a) { return {static_cast<float>(a.re), static_cast<float>(a.im)}; }
inline float Narrow(double a) { return static_cast<float>(a); }

// Double arithmetic on the wide values of both kinds.
inline double dadd(double a, double b) { return a + b; }
inline double dsub(double a, double b) { return a - b; }
inline double dmul(double a, double b) { return a * b; }
inline double dconj(double a) { return a; }
inline double ddiv(double a, double b) { return a / b; }
inline ComplexD dscale(double t, ComplexD a) { return {t * a.re, t * a.im}; }
inline double dscale(double t, double a) { return t * a; }
// A real number as a wide value of either kind.
template <class V> V FromReal(double a) {
  if constexpr (std::is_same_v<V, double>)
    return a;
  else
    return V{a, 0.0};
}

template <class T> struct WideOf;
template <> struct WideOf<float> {
  using type = double;
};
template <> struct WideOf<Complex> {
  using type = ComplexD;
};
template <class T> using Wide = typename WideOf<T>::type;

} // namespace orvek::sparse
