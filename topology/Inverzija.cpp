// Inverzija: in-place inverse of a dense complex matrix of order N <= 100 by
// Gauss-Jordan exchange without pivoting. AR and AI (leading dimension 100)
// hold the real and the imaginary parts; only rows and columns 1..N are read
// and written. A zero pivot gives IEEE non-finite values.
// Work storage: this file's interleaved copy of the matrix.
#include <cstdint>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "topology/dense.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "Inverzija";
constexpr Message kOrderTooLarge{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kDenseOrder>};

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  Complex matrix[kDenseOrder * kDenseOrder];
};
Storage storage;

} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL Inverzija(float *AR, float *AI, const int32_t *N) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  {
    frame::ArgumentGuard guard(errors(), kRoutine);
    guard.reject_if(n > kDenseOrder, kOrderTooLarge, {n});
    if (!guard.passed()) return;
  }
  if (n < 1) return;
  const frame::Mat<float, kLdDense> ar(AR), ai(AI);
  const auto order = static_cast<std::size_t>(n);
  for (std::int32_t j = 1; j <= n; ++j)
    for (std::int32_t i = 1; i <= n; ++i) storage.matrix[(j - 1) * order + (i - 1)] = {ar(i, j), ai(i, j)};
  InvertDense(n, std::span<Complex>(storage.matrix, order * order));
  for (std::int32_t j = 1; j <= n; ++j) {
    for (std::int32_t i = 1; i <= n; ++i) {
      const Complex c = storage.matrix[(j - 1) * order + (i - 1)];
      ar(i, j) = c.re;
      ai(i, j) = c.im;
    }
  }
}
