// Single-precision sine, cosine and power, evaluated in double precision and
// rounded once, so that every platform's run-time gives the same bits (the
// float functions of different C run-times round differently in the last
// place). The results are within single-precision rounding of the exact
// values.
#pragma once

#include <cmath>

namespace orvek {

inline float SinF(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
inline float CosF(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
inline float PowF(float x, float y) {
  return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

} // namespace orvek
