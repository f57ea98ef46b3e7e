// The two studies of orvek-study, run through the exported routines only:
// a fast decoupled power flow (BX scheme) and a solid-fault study in
// symmetrical components. Nodes are numbered PQ first, then PV, then the
// reference node (the power-flow order of the reader); every result is per
// node in that numbering. Errors are thrown as StudyError.
#pragma once

#include "tools/casefile/matpower.hpp"
#include "tools/study/options.hpp"

#include <complex>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvek::study {

class StudyError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Called now and then during long loops: (done, total).
using Progress = std::function<void(int, int)>;

struct PowerFlowResult {
  bool converged = false;
  int iterations = 0;
  double max_dp = 0, max_dq = 0;   // largest mismatch at the end, per unit
  int worst_p_node = 0, worst_q_node = 0;
  std::vector<float> vm, va;       // per node: |V| per unit, angle in radians
  std::vector<float> p, q;         // per node: injected power from the final voltages
  std::vector<float> slack_pq;     // P, Q of the reference node (from So)
  // Rounding of single-precision voltages alone moves a node's power by
  // about 2^-24 |V_i| sum_k |Y_ik| |V_k|; the largest such figure bounds the
  // mismatch the iteration can reach.
  double resolution = 0;
  int resolution_node = 0;
};

PowerFlowResult RunPowerFlow(const casefile::Network &net, const casefile::HostArrays &h, const Options &o);

struct FaultRecord {
  std::int32_t node = 0;
  FaultType type = FaultType::kThreePhase;
  std::complex<float> i0, i1, i2;  // sequence fault currents, per unit
  float ia = 0, ib = 0, ic = 0;    // phase current magnitudes, per unit
  float va = 0, vb = 0, vc = 0;    // phase voltage magnitudes at the fault node, per unit
  float zkk1 = 0;                  // |Z1(K,K)|, per unit
};

// Details of a fault at one node: every node's phase voltages and every
// branch's phase currents at its first end (per unit).
struct FaultDetail {
  FaultType type = FaultType::kThreePhase;
  std::vector<std::complex<float>> vpa, vpb, vpc;   // per node
  std::vector<std::complex<float>> iba, ibb, ibc;   // per branch
};

struct FaultStudy {
  bool per_unit_currents = false;  // some or all base voltages are 0
  std::vector<FaultRecord> records;
  std::vector<FaultDetail> details; // one per fault type, for a single-node study
  std::int32_t detail_node = 0;
};

FaultStudy RunFaults(const casefile::Network &net, const casefile::HostArrays &h, const Options &o,
                     const std::vector<std::complex<float>> &prefault, const std::vector<std::int32_t> &nodes,
                     const Progress &progress);

} // namespace orvek::study
