// The fault-type codes and the sequence fault currents at a fault node: one
// definition for the native interface and the library's fault kernels.
#pragma once

#include <cstdint>

#include "orvek/complex_value.hpp"

namespace orvek {

// Fault-type codes; any other code is a three-phase fault.
enum FaultType : std::int32_t {
  kThreePhase = 1,
  kPhaseToPhase = 2,
  kTwoPhaseToEarth = 3,
  kSinglePhaseToEarth = 4,
};

// Sequence fault currents at the fault node.
struct FaultCurrents {
  Complex i0, i1, i2;
};

} // namespace orvek
