// Dense complex inversion, node power products and parallel admittance
// (contracts in dense.hpp): inputs and outputs are the caller's spans, a
// dense matrix column by column with leading dimension n; no work storage of
// its own.
#include "topology/dense.hpp"

#include "support/elementary.hpp"

namespace orvek::topology {

void InvertDense(std::int32_t n, std::span<Complex> c) {
  auto C = [&](std::int32_t i, std::int32_t j) -> Complex & {
    return c[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i - 1)];
  };
  // Gauss-Jordan exchange on pivot k, in place:
  //   1. t = -1 / C(k,k), stored at the pivot;
  //   2. row k (off the pivot) times t;
  //   3. C(i,j) += C(i,k) C(k,j) off row and column k, with the scaled row k
  //      and the column k not yet scaled;
  //   4. column k (off the pivot) times t.
  // After the last pivot C holds -inverse(A).
  for (std::int32_t k = 1; k <= n; ++k) {
    const Complex t = cneg(crecip(C(k, k)));
    C(k, k) = t;
    for (std::int32_t j = 1; j <= n; ++j)
      if (j != k) C(k, j) = cmul(t, C(k, j));
    for (std::int32_t j = 1; j <= n; ++j) {
      if (j == k) continue;
      const Complex ckj = C(k, j);
      for (std::int32_t i = 1; i <= n; ++i)
        if (i != k) C(i, j) = cadd(C(i, j), cmul(C(i, k), ckj));
    }
    for (std::int32_t i = 1; i <= n; ++i)
      if (i != k) C(i, k) = cmul(t, C(i, k));
  }
  for (std::int32_t j = 1; j <= n; ++j)
    for (std::int32_t i = 1; i <= n; ++i) C(i, j) = cneg(C(i, j));
}

void PolarVoltages(std::int32_t n, std::span<const float> vm, std::span<const float> va,
                   std::span<Complex> v) {
  for (std::int32_t i = 0; i < n; ++i) v[i] = {vm[i] * CosF(va[i]), vm[i] * SinF(va[i])};
}

void SparsePowerProduct(std::int32_t n, std::span<const Complex> w, std::span<const std::int32_t> ija,
                        std::span<const float> vm, std::span<const float> va, std::span<Complex> v,
                        std::span<Complex> s) {
  PolarVoltages(n, vm, va, v);
  // Currents, the diagonal term first, then the row's entries in storage order.
  for (std::int32_t i = 1; i <= n; ++i) {
    Complex cur = cmul(w[i - 1], v[i - 1]);
    for (std::int32_t k = ija[i - 1]; k <= ija[i] - 1; ++k)
      cur = cadd(cur, cmul(w[k - 1], v[ija[k - 1] - 1]));
    s[i - 1] = cur;
  }
  // S = V conj(I): Re = Re I Re V + Im I Im V, Im = Im V Re I - Im I Re V.
  for (std::int32_t i = 0; i < n; ++i) s[i] = cmul(v[i], cconj(s[i]));
}

void DensePowerInjections(std::int32_t n, std::span<const Complex> y, std::span<const float> vm,
                          std::span<const float> va, std::span<Complex> v, std::span<Complex> cur,
                          std::span<Complex> s) {
  PolarVoltages(n, vm, va, v);
  const auto ld = static_cast<std::size_t>(n);
  for (std::int32_t i = 0; i < n; ++i) {
    Complex sum{0.0f, 0.0f};
    for (std::int32_t k = 0; k < n; ++k)
      sum = cadd(sum, cmul(y[static_cast<std::size_t>(k) * ld + static_cast<std::size_t>(i)], v[k]));
    cur[i] = sum;
  }
  for (std::int32_t i = 0; i < n; ++i) s[i] = cmul(v[i], cconj(cur[i]));
}

Complex ParallelAdmittance(Complex z1, Complex z2) {
  const Complex product = cmul(z2, z1);
  const Complex sum = cadd(z2, z1);
  return cdiv(sum, product);
}

} // namespace orvek::topology
