// Dense complex inversion, node power products and parallel admittance, in
// single precision through the exact complex helpers. Dense matrices are
// column-major with leading dimension n (element (i, k) at (k-1)*n + i-1);
// voltages come as magnitude and angle (radians), V = VM cos VA + j VM sin VA
// with the float sine and cosine. Nothing here checks counts or divisors: a
// zero pivot or a zero product gives IEEE non-finite values.
#pragma once

#include <cstdint>
#include <span>

#include "support/complex.hpp"

namespace orvek::topology {

// In-place Gauss-Jordan inverse of the n x n matrix c, no pivoting.
void InvertDense(std::int32_t n, std::span<Complex> c);

// V(i) from magnitude and angle, i = 1..n.
void PolarVoltages(std::int32_t n, std::span<const float> vm, std::span<const float> va,
                   std::span<Complex> v);

// S = V conj(Y V) for the row-indexed matrix w/ija of order n (w(1..n) the
// diagonal, the off-diagonal entries of row i at ija(i)..ija(i+1)-1 with
// columns ija(k)); v gets the voltages, s the powers (the currents first).
void SparsePowerProduct(std::int32_t n, std::span<const Complex> w, std::span<const std::int32_t> ija,
                        std::span<const float> vm, std::span<const float> va, std::span<Complex> v,
                        std::span<Complex> s);

// I = Y V and S = V conj(I) for the dense n x n matrix y; cur gets the
// currents, s the powers.
void DensePowerInjections(std::int32_t n, std::span<const Complex> y, std::span<const float> vm,
                          std::span<const float> va, std::span<Complex> v, std::span<Complex> cur,
                          std::span<Complex> s);

// (Z1 + Z2) / (Z1 Z2), the admittance of two impedances in parallel.
Complex ParallelAdmittance(Complex z1, Complex z2);

} // namespace orvek::topology
