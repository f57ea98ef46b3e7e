// The key sort: a quicksort of 32-bit integer keys with a moving pivot
// fraction, an explicit stack and a straight-insertion finish. Callers rely
// on the exact order in which it leaves equal keys.
// Arrays are 0-based here (ia[0] is key 1); ia and ib may be the same array.
#pragma once

#include <cstdint>

#include "support/error_module.hpp"

namespace orvek {

// Sorts ia[0..n) ascending into ib and rearranges iperm the same way.
// n < 1 raises the TERMINAL length error through err.
void SVIGP(ErrorModule &err, std::int32_t n, const std::int32_t *ia, std::int32_t *ib,
           std::int32_t *iperm);
// The same sort of 64-bit keys (the native road's branch keys of networks
// above 46340 nodes); keys that fit 32 bits leave in the same order.
void SVIGPWide(ErrorModule &err, std::int32_t n, const std::int64_t *ia, std::int64_t *ib,
               std::int32_t *iperm);

// The same sort without the companion vector.
void SVIGN(ErrorModule &err, std::int32_t n, const std::int32_t *ia, std::int32_t *ib);

} // namespace orvek
