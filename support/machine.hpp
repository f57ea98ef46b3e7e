// Machine constants: unit numbers, integer constants and single-precision
// real constants of the numerical routines.
#pragma once

#include <cstdint>

#include "support/error_module.hpp"

namespace orvek {

// Unit numbers: N = 1..3 returns unit N in nunit; N = -1..-3 sets unit |N|
// (process-wide). The plain forms report through errors().
// A bad index writes three lines through the sink of err and stops.
void UMACH(std::int32_t n, std::int32_t &nunit);
void UMACH(ErrorModule &err, std::int32_t n, std::int32_t &nunit);
// Integer constant N = 1..12 (IMACH(5) is the largest integer); a bad N
// writes three lines through the sink of err and stops (0 when stopping is
// off).
std::int32_t IMACH(std::int32_t n);
std::int32_t IMACH(ErrorModule &err, std::int32_t n);
// Real constant N = 1..8 (AMACH(1) smallest normalized, AMACH(2) largest
// finite); an N outside 1..8 raises a TERMINAL error through err and gives
// the quiet NaN.
float AMACH(ErrorModule &err, std::int32_t n);

} // namespace orvek
