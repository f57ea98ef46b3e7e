// The component records that ZapisiPodredeno keeps in the library's static
// storage: one per connected component, records 1..50. No exported routine
// reads them; tests and the native interface read them through
// StoredComponentRecord.
#pragma once

#include <array>
#include <cstdint>

#include "frame/capacities.hpp"

namespace orvek::topology {

inline constexpr std::int32_t kMaxRecordNodes = 1000;
inline constexpr std::int32_t kMaxRecordBranches = 1000;

// Positions are 0-based within the component (the root is 0). Branch k joins
// positions end1[k-1] and k when it is a tree branch (k <= nn - 1), and
// end1[k-1] and end2[l-1] when it is chord l (k = nn - 1 + l = chp[l-1]).
struct ComponentRecord {
  std::int32_t nn = 0;  // nodes
  std::int32_t nbr = 0; // branches
  std::int32_t nch = 0; // chords, nbr - nn + 1
  std::array<std::int32_t, kMaxRecordNodes> node{};
  std::array<std::int32_t, kMaxRecordBranches> brn{};
  std::array<std::int32_t, kMaxRecordBranches> end1{};
  std::array<std::int32_t, kMaxChordsPerRecord> chp{};
  std::array<std::int32_t, kMaxChordsPerRecord> end2{};
};

// Record g, 1 <= g <= kMaxComponentRecords, as the last call left it.
const ComponentRecord &StoredComponentRecord(std::int32_t g);

} // namespace orvek::topology
