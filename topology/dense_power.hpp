// The adapter of OdrediPe and OdrediSe: the order check, the copy of the
// dense admittance matrix GR/GI (leading dimension 100) into a routine's own
// interleaved work matrix, and the power injections computed there.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "support/complex.hpp"
#include "topology/dense.hpp"

namespace orvek::topology {

inline constexpr Message kDenseOrderTooLarge{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kDenseOrder>};

// Work storage of one dense power routine.
struct DensePowerWork {
  Complex y[kDenseOrder * kDenseOrder];
  Complex v[kDenseOrder];
  Complex cur[kDenseOrder];
  Complex s[kDenseOrder];
};

inline bool CheckDenseOrder(ErrorModule &err, std::string_view routine, std::int32_t n) {
  frame::ArgumentGuard guard(err, routine);
  guard.reject_if(n > kDenseOrder, kDenseOrderTooLarge, {n});
  return guard.passed();
}

// Copies Y(1..n, 1..n) into work.y with leading dimension n.
inline std::span<const Complex> CopyDenseMatrix(std::int32_t n, const float *gr, const float *gi,
                                                DensePowerWork &work) {
  const frame::Mat<const float, kLdDense> re(gr), im(gi);
  const auto order = static_cast<std::size_t>(n);
  for (std::int32_t k = 1; k <= n; ++k)
    for (std::int32_t i = 1; i <= n; ++i) work.y[(k - 1) * order + (i - 1)] = {re(i, k), im(i, k)};
  return {work.y, order * order};
}

// Checks N, copies Y and runs DensePowerInjections from VM/VA(1..N) into
// storage.v, storage.cur (the currents) and storage.s (the powers). False
// when there is nothing to write (a rejected or non-positive N).
inline bool RunDensePower(std::string_view routine, std::int32_t n, const float *gr, const float *gi,
                          const float *vm, const float *va, DensePowerWork &storage) {
  if (!CheckDenseOrder(errors(), routine, n)) return false;
  if (n < 1) return false;
  const auto nodes = static_cast<std::size_t>(n);
  DensePowerInjections(n, CopyDenseMatrix(n, gr, gi, storage), std::span<const float>(vm, nodes),
                       std::span<const float>(va, nodes), std::span<Complex>(storage.v, nodes),
                       std::span<Complex>(storage.cur, nodes), std::span<Complex>(storage.s, nodes));
  return true;
}

} // namespace orvek::topology
