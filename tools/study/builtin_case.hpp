// The built-in network of orvek-study, written in the case-file format so
// that it goes through the same reader as any file (and can be written out
// with --write-case for inspection or editing).
#pragma once

#include <string_view>

namespace orvek::study {

// Nine buses at 220 kV and 110 kV: two 220/110 kV transformers (one at an
// off-nominal ratio 0.975), a double-circuit 220 kV line, three generators,
// six loads, a capacitor bank and a conductance shunt.
extern const std::string_view kBuiltinCase;
inline constexpr std::string_view kBuiltinName = "built-in";

} // namespace orvek::study
