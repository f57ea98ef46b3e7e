// Counts and sizes. The library counts in 32-bit integers (the exported
// routines' N, NZ, NFAC); the standard containers and spans in sizes. The
// two conversions between them, and the limits that follow from counting in
// 32 bits, are written here once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace orvek {

// A count as a size; a count of zero or below is an empty extent.
constexpr std::size_t Size(std::int32_t count) {
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// A size as a count, saturated at the largest count (an impossible size is
// then rejected by the count checks rather than wrapped).
constexpr std::int32_t Count(std::size_t size) {
  constexpr auto kLargest = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return size > kLargest ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(size);
}

// The largest order N whose position keys (j-1)*N + i, i and j in 1..N,
// fit a 32-bit integer: N*N must not exceed INT32_MAX.
constexpr std::int32_t LargestKeyedOrder() {
  // The integer square root of INT32_MAX, bit by bit (it is below 2^16).
  std::int64_t n = 0;
  for (std::int64_t bit = std::int64_t{1} << 15; bit > 0; bit >>= 1)
    if ((n + bit) * (n + bit) <= std::numeric_limits<std::int32_t>::max()) n += bit;
  return static_cast<std::int32_t>(n);
}
inline constexpr std::int32_t kMaxKeyedOrder = LargestKeyedOrder();
static_assert(kMaxKeyedOrder == 46340);

} // namespace orvek
