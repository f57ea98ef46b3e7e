// Shared pieces of the study engine's stages (not part of its interface):
// numbers and names for messages, the single-precision range check, the
// host's double-precision matrix that solutions are refined against, and
// factoring with room that grows when the elimination runs out of it.
#pragma once

#include "tools/study/engine.hpp"
#include "tools/study/sequence_networks.hpp"

#include "orvek/orvek.hpp"

#include <complex>
#include <string>
#include <vector>

namespace orvek::study {

inline constexpr double kPi = 3.14159265358979323846;
// Magnitudes the single-precision routines are given: their squares and
// products of two stay within single precision's normal range.
inline constexpr double kSmallestMagnitude = 1e-12;
inline constexpr double kLargestMagnitude = 1e12;
// Margin beyond a reactive limit (per unit) before a generator counts as
// outside it, and of the voltage before a bus held at a limit returns.
inline constexpr double kLimitSlack = 1e-6;
// Refinements of each fast decoupled correction (see engine_power_flow.cpp).
inline constexpr int kRefinements = 1;

std::string Number(double v); // %.6g
std::string BranchName(const casefile::Network &net, const casefile::NetworkBranch &b);
// Throws StudyError "<what> = v is outside the range ..." unless v is 0 or
// within [kSmallestMagnitude, kLargestMagnitude] in magnitude.
void CheckSingleRange(double v, const std::string &what);

// A complex matrix in double precision, compressed rows: the host's own
// network model, against which the single-precision results are refined.
struct HostMatrix {
  using Entry = NodalEntry;
  std::vector<std::int32_t> start, col; // start: n + 1 pointers
  std::vector<std::complex<double>> val;
  // Sums entries at the same position.
  static HostMatrix FromEntries(std::int32_t n, std::vector<Entry> entries);
  // out = b - A·x
  void Residual(const std::vector<std::complex<double>> &b, const std::vector<std::complex<double>> &x,
                std::vector<std::complex<double>> &out) const;
};

// Factor with the default room; when the elimination needs more (the
// workspace-limit stop), again with twice the room, up to kMaxRoomFactor
// times the triplets. Throws StudyError naming `what` when the matrix is
// numerically singular.
inline constexpr int kMaxRoomFactor = 96;
FactorSet<float> FactorWithRoom(Workspace &ws, const TripletMatrix<float> &a, const std::string &what);
FactorSet<Complex> FactorWithRoom(Workspace &ws, const TripletMatrix<Complex> &a, const std::string &what);

} // namespace orvek::study
