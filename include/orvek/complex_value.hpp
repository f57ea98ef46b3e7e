// The library's complex value: one single-precision pair, real part first,
// exactly as the routines hold complex numbers internally. It carries no
// arithmetic; the library forms every product, quotient and magnitude with
// its own exactly rounded helpers.
#pragma once

namespace orvek {

struct Complex {
  float re = 0.0f;
  float im = 0.0f;
};

inline bool operator==(Complex a, Complex b) { return a.re == b.re && a.im == b.im; }

} // namespace orvek
