// Solve with a factor set of the sparse LU factorization, and the vector
// permutation it uses. IPATH 1 solves A*x = b; IPATH 2 the transpose (the
// conjugate transpose for complex values). Arrays are 0-based spans; index
// values in them stay 1-based. B and X may be the same array. IPVT and JPVT
// are marked (negated) while a vector is permuted and restored on return, so
// they must be writable. Row and column numbers of the factor entries must
// lie in 1..N (caller's contract; the exported entry points check them).
#pragma once

#include <cstdint>
#include <span>

#include "sparse/sparse_traits.hpp"
#include "support/complex.hpp"
#include "support/error_module.hpp"

namespace orvek::sparse {

// XPERMU(I) = X(IPERMU(I)) for IPATH 1, XPERMU(IPERMU(I)) = X(I) for IPATH 2.
// Returns true when the permutation was carried out.
template <class T>
bool PermuteVector(ErrorModule &err, std::int32_t n, std::span<const T> x, std::span<std::int32_t> ipermu,
                   std::int32_t ipath, std::span<T> xpermu);

// The solve. With multipliers_required false a factor set without
// multipliers (NL <= 0) is accepted and solved with U alone. Returns true
// when X holds the solution.
template <class T>
bool SolveFactored(ErrorModule &err, std::int32_t n, std::int32_t nfac, std::int32_t nl, std::span<const T> fac,
                   std::span<const std::int32_t> irfac, std::span<const std::int32_t> jcfac,
                   std::span<std::int32_t> ipvt, std::span<std::int32_t> jpvt, std::span<const T> b,
                   std::int32_t ipath, std::span<T> x, bool multipliers_required = true);

extern template bool PermuteVector<float>(ErrorModule &, std::int32_t, std::span<const float>,
                                          std::span<std::int32_t>, std::int32_t, std::span<float>);
extern template bool PermuteVector<Complex>(ErrorModule &, std::int32_t, std::span<const Complex>,
                                            std::span<std::int32_t>, std::int32_t, std::span<Complex>);
extern template bool SolveFactored<float>(ErrorModule &, std::int32_t, std::int32_t, std::int32_t,
                                          std::span<const float>, std::span<const std::int32_t>,
                                          std::span<const std::int32_t>, std::span<std::int32_t>,
                                          std::span<std::int32_t>, std::span<const float>, std::int32_t,
                                          std::span<float>, bool);
extern template bool SolveFactored<Complex>(ErrorModule &, std::int32_t, std::int32_t, std::int32_t,
                                            std::span<const Complex>, std::span<const std::int32_t>,
                                            std::span<const std::int32_t>, std::span<std::int32_t>,
                                            std::span<std::int32_t>, std::span<const Complex>, std::int32_t,
                                            std::span<Complex>, bool);

} // namespace orvek::sparse
