// MNOZI: complex power injected at every node, S = V conj(Y V), from an
// admittance matrix in row-indexed sparse form (SA(10000,2), IJA) and polar
// node voltages. Writes S(1..N, 1..2) (leading dimension 1000). The index
// array is checked (pointers ascending from N + 2, at most 10000 positions,
// columns in 1..N) before anything is read through it.
// Work storage: this file's copies of SA and V, and the powers.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "topology/dense.hpp"

namespace orvek::topology {
namespace {

constexpr std::string_view kRoutine = "MNOZI";
constexpr Message kTooManyNodes{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kMaxNodes>};
constexpr Message kFirstPointer{2, "IJA(1) = %(I1) must equal N + 2 = %(I2)."};
constexpr Message kPointerOrder{3, "IJA(%(I1)) = %(I2) must not be less than IJA(%(I3)) = %(I4)."};
constexpr Message kTooManyPositions{
    4, orvek::frame::kCapacityText<"IJA(N+1) - 1 = %(I1) stored positions exceed the {} positions of SA.",
                                   orvek::kMaxNonzeros>};
constexpr Message kColumnOutOfRange{5, "IJA(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  Complex values[kMaxNonzeros];
  Complex voltages[kMaxNodes];
  Complex powers[kMaxNodes]; // the currents first
};
Storage storage;

bool CheckArguments(ErrorModule &err, std::int32_t n, const std::int32_t *ija) {
  frame::ArgumentGuard guard(err, kRoutine);
  auto IJA = [&](std::int32_t k) { return ija[k - 1]; };
  if (!guard.reject_if(n > kMaxNodes, kTooManyNodes, {n})) return guard.passed();
  if (!guard.reject_if(IJA(1) != n + 2, kFirstPointer, {IJA(1), n + 2})) return guard.passed();
  for (std::int32_t i = 1; i <= n; ++i)
    if (!guard.reject_if(IJA(i + 1) < IJA(i), kPointerOrder, {i + 1, IJA(i + 1), i, IJA(i)}))
      return guard.passed();
  if (!guard.reject_if(IJA(n + 1) - 1 > kMaxNonzeros, kTooManyPositions, {IJA(n + 1) - 1}))
    return guard.passed();
  for (std::int32_t k = n + 2; k <= IJA(n + 1) - 1; ++k)
    if (!guard.reject_if(IJA(k) < 1 || IJA(k) > n, kColumnOutOfRange, {k, IJA(k), n})) return guard.passed();
  return guard.passed();
}

} // namespace
} // namespace orvek::topology

extern "C" ORVEK_API void ORVEK_CALL MNOZI(const float *SA, const int32_t *IJA, const float *VM,
                                           const float *VA, float *S, const int32_t *N) {
  using namespace orvek;
  using namespace orvek::topology;
  const std::int32_t n = *N;
  // With N < 1 there is no node: nothing is read or written.
  if (n < 1) return;
  if (!CheckArguments(errors(), n, IJA)) return;
  const std::int32_t positions = IJA[n] - 1;
  const frame::SplitComplexIn<kLdNonzero> sa(SA);
  for (std::int32_t k = 1; k <= positions; ++k) storage.values[k - 1] = sa(k);
  const auto nodes = static_cast<std::size_t>(n);
  SparsePowerProduct(n, std::span<const Complex>(storage.values, static_cast<std::size_t>(positions)),
                     std::span<const std::int32_t>(IJA, static_cast<std::size_t>(positions)),
                     std::span<const float>(VM, nodes), std::span<const float>(VA, nodes),
                     std::span<Complex>(storage.voltages, nodes), std::span<Complex>(storage.powers, nodes));
  const frame::SplitComplexOut<kLdNode> s(S);
  for (std::int32_t i = 1; i <= n; ++i) s.set(i, storage.powers[i - 1]);
}
