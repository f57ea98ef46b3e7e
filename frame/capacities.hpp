// Capacities and fixed leading dimensions of the exported routines.
// Every static work array of an exported routine is sized by one of these;
// host arrays are addressed with them as leading dimensions.
//
// Static work storage, one pattern: each exported routine's file keeps all
// of it in one object named `storage` in its unnamed namespace, of a struct
// of its own (`struct Storage`) or of one shared with routines of the same
// kind (assembly::BranchStorage, sequence::BranchRoutineStorage, ...). It is
// private to the routine: no two routines share work arrays.
#pragma once

#include <cstdint>

namespace orvek {

inline constexpr std::int32_t kMaxBranches = 5000;          // per-branch arrays
inline constexpr std::int32_t kMaxNodes = 1000;             // per-node arrays
inline constexpr std::int32_t kMaxNonzeros = 10000;         // triplet / row-indexed values
inline constexpr std::int32_t kMaxFactorEntries = 30000;    // 3 x kMaxNonzeros
inline constexpr std::int32_t kDenseOrder = 100;            // dense complex matrices
inline constexpr std::int32_t kMaxRowIndexedEntries = 9999; // row-indexed form uses one spare position
inline constexpr std::int32_t kMaxIncidenceBranches = 2499; // MAUX work table: 2*NB + sentinel <= 5000
inline constexpr std::int32_t kMaxComponents = 1000;        // rows of CNT
// Each component of s nodes holds at least s - 1 branches, so at most
// kMaxComponents components hold at most this many nodes: the length of the
// ordering arrays ORD and PAR.
inline constexpr std::int32_t kMaxOrderedNodes = kMaxComponents + kMaxBranches;
inline constexpr std::int32_t kMaxComponentRecords = 50; // component records kept by ZapisiPodredeno
inline constexpr std::int32_t kMaxChordsPerRecord = 150;
inline constexpr std::int32_t kFaultCurrentRows = 3; // IFS(3,2)

// Leading dimensions, named by the kind of array.
inline constexpr std::int32_t kLdBranch = kMaxBranches;
inline constexpr std::int32_t kLdNode = kMaxNodes;
inline constexpr std::int32_t kLdNonzero = kMaxNonzeros;
inline constexpr std::int32_t kLdFactor = kMaxFactorEntries;
inline constexpr std::int32_t kLdDense = kDenseOrder;

} // namespace orvek
