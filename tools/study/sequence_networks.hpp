// The sequence networks of a case (library orvek_study_engine): the one
// recipe by which the study (engine_faults.cpp) and the Python module's
// contingency screening (hosts/python/native/engine.cpp) form the zero,
// positive and negative sequence networks from a casefile::Network and the
// fault options, optionally with one branch taken out.
//
// In: the network (nodes 1..N in whatever order the caller built it), the
// fault options (generator reactances, zero-sequence line multiple,
// transformer handling). Out: the network as the native API's spans
// (single precision; generators as nodal susceptances -1/x on the system
// base after the bus shunts, bus conductances per node for the host to add
// to the diagonals) and the same matrix in double precision as entries.
// Errors: StudyError with a message naming the bus, branch or option but
// not the case (the caller adds "<source>: " where it wants it).
#pragma once

#include "tools/casefile/matpower.hpp"
#include "tools/study/engine.hpp"

#include "orvek/orvek.hpp"

#include <complex>
#include <cstdint>
#include <vector>

namespace orvek::study {

enum class Sequence : int { kZero = 0, kPositive = 1, kNegative = 2 };

// One entry of a nodal matrix in double precision, 0-based; entries at the
// same position add up.
struct NodalEntry {
  std::int32_t row, col;
  std::complex<double> v;
};

struct SequenceNetwork {
  std::vector<std::int32_t> from, to;
  std::vector<Complex> z, ya, yb;
  std::vector<std::int32_t> shunt_node;
  std::vector<float> shunt_b;
  std::vector<float> gs;                  // per node, added to the diagonal by AssembleSequence
  std::vector<std::int32_t> branch_index; // network branch -> branch here, -1 when left out
  std::vector<NodalEntry> entries;        // the same matrix in double

  BranchView Branches() const { return {from, to, z, ya, yb}; }
};

// The network of `sequence`: in the zero sequence lines carry line_z0 times
// their impedance, transformers pass (or are left out with kBlock), bus
// shunts are left out and generators are grounded unless x0_open; loads
// and phase shifts are left out of every sequence. `branch_out` (index into
// net.branches, or -1) is left out as if out of service. Refuses a node the
// zero sequence leaves without any element and, with kRefuse, generator
// susceptances and zero-sequence line impedances outside the range the
// single-precision routines take (CheckSingleRange).
enum class RangeCheck { kRefuse, kPass };
SequenceNetwork FormSequenceNetwork(const casefile::Network &net, const FaultOptions &o, Sequence sequence,
                                    std::int32_t branch_out = -1, RangeCheck range = RangeCheck::kRefuse);

// The admittance matrix of a sequence network as the library assembles it,
// with the bus conductances added to its diagonal entries (entries 1..N of
// the triplet list).
TripletMatrix<Complex> AssembleSequence(Workspace &ws, std::int32_t n, const SequenceNetwork &s);

} // namespace orvek::study
