// So: complex power injected at node K, S = V(K)·conj(row K of Y times V),
// from the row-indexed sparse form SA (10000,2) / IJA of order N. Reads
// V (1000,2) entries 1..N and SA positions 1..IJA(N+1)-1, both copied
// before the sum; the row's entries may come in any column order.
// Work storage: this file's copies of V and SA.
#include <cstdint>
#include <span>

#include "frame/argument_guard.hpp"
#include "frame/capacities.hpp"
#include "frame/capacity_text.hpp"
#include "frame/views.hpp"
#include "orvek/orvek.h"
#include "sequence/adapter_support.hpp"
#include "sequence/sequence.hpp"

namespace orvek::sequence {

Complex NodePower(std::int32_t k, std::span<const Complex> v, std::span<const Complex> sa,
                  std::span<const std::int32_t> ija) {
  const Complex vk = v[k - 1];
  Complex acc = cmul(sa[k - 1], vk);
  // p < IJA(K+1), not p <= IJA(K+1) - 1: the same positions, and no overflow
  // for a pointer of -2147483648 (an empty row the checks let through).
  for (std::int32_t p = ija[k - 1]; p < ija[k]; ++p) acc = cadd(acc, cmul(v[ija[p - 1] - 1], sa[p - 1]));
  return cmul(cconj(acc), vk);
}

namespace {

constexpr std::string_view kRoutine = "So";
constexpr Message kTooManyNodes{
    1, orvek::frame::kCapacityText<"N = %(I1) must not exceed {}.", orvek::kMaxNodes>};
constexpr Message kNodeOutOfRange{2, "K = %(I1) must lie between 1 and N = %(I2)."};
constexpr Message kEndPointerOutOfRange{
    3, orvek::frame::kCapacityText<"IJA(%(I1)) = %(I2) must lie between %(I3) and {}.",
                                   orvek::kMaxNonzeros + 1>};
constexpr Message kRowPointerOutOfRange{4, "IJA(%(I1)) = %(I2) must lie between %(I3) and %(I4)."};
constexpr Message kColumnOutOfRange{5, "IJA(%(I1)) = %(I2) must lie between 1 and N = %(I3)."};

// The end pointer may be one past the last value position.
constexpr std::int32_t kMaxEndPointer = kMaxNonzeros + 1;

// This routine's static work storage (the one pattern: frame/capacities.hpp).
struct Storage {
  Complex v[kMaxNodes];
  Complex sa[kMaxNonzeros];
};
Storage storage;

// Every position the sum reads lies among the positions copied, N+2 ..
// IJA(N+1)-1, within the value capacity, and every column it uses is a node.
bool CheckArguments(ErrorModule &err, std::int32_t n, std::int32_t k, const std::int32_t *ija_host) {
  frame::ArgumentGuard guard(err, kRoutine);
  if (!guard.reject_if(n > kMaxNodes, kTooManyNodes, {n})) return guard.passed();
  if (!guard.reject_if(k < 1 || k > n, kNodeOutOfRange, {k, n})) return guard.passed();
  const frame::Vec1<const std::int32_t> ija(ija_host);
  const std::int32_t first_off = n + 2;
  const std::int32_t end = ija(n + 1);
  if (!guard.reject_if(end < first_off || end > kMaxEndPointer, kEndPointerOutOfRange,
                       {n + 1, end, first_off}))
    return guard.passed();
  const std::int32_t lo = ija(k), hi = ija(k + 1);
  if (hi <= lo) return guard.passed(); // no off-diagonal entry is read
  if (!guard.reject_if(lo < first_off || lo > end, kRowPointerOutOfRange, {k, lo, first_off, end}))
    return guard.passed();
  if (!guard.reject_if(hi > end, kRowPointerOutOfRange, {k + 1, hi, first_off, end})) return guard.passed();
  for (std::int32_t p = lo; p < hi; ++p) {
    const std::int32_t column = ija(p);
    if (!guard.reject_if(column < 1 || column > n, kColumnOutOfRange, {p, column, n})) return guard.passed();
  }
  return guard.passed();
}

} // namespace
} // namespace orvek::sequence

extern "C" ORVEK_API void ORVEK_CALL So(const int32_t *N, const int32_t *K, const float *V, const float *SA,
                                        const int32_t *IJA, float *SR, float *SI) {
  using namespace orvek;
  using namespace orvek::sequence;
  const std::int32_t n = *N, k = *K;
  if (!CheckArguments(errors(), n, k, IJA)) return;
  const std::int32_t used = IJA[n] - 1; // positions 1..IJA(N+1)-1
  CopyIn<kLdNode>(V, n, storage.v);
  CopyIn<kLdNonzero>(SA, used, storage.sa);
  const Complex s = NodePower(k, storage.v, {storage.sa, static_cast<std::size_t>(used)},
                              {IJA, static_cast<std::size_t>(used)});
  *SR = s.re;
  *SI = s.im;
}
