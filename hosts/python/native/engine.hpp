// The studies of orvek-study for the Python module, run through the native
// C++ API: the case reader's network laid out as native spans, the fast
// decoupled power flow, the fault study (every bus or one bus in detail)
// and the fault levels of contingency screening. Options, results and
// messages are those of the command line (tools/study), and so are the
// numbers, bit for bit: the native calls run the exported routines'
// kernels. Every function takes the caller's Workspace, so calls on
// different threads with different workspaces run at once.
//
// This is the one place that knows how a study is driven; when the study
// becomes a library of its own, these functions forward to it.
#pragma once

#include "orvek/orvek.hpp"
#include "tools/casefile/matpower.hpp"

#include <complex>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvek::pyhost {

// The command line's options, results and errors, as tools/study/options.hpp
// and tools/study/study.hpp state them (held here so that this module
// builds on its own while the study becomes a library).
namespace study {

class StudyError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class FaultType : int { kThreePhase = 1, kPhasePhase = 2, kPhasePhaseEarth = 3, kPhaseEarth = 4 };
enum class Transformer0 { kPass, kBlock };

struct Options {
  double tolerance = 1e-4;   // per unit on the case's MVA base
  int max_iterations = 100;  // P and Q half-iterations count as one
  std::vector<FaultType> faults{FaultType::kThreePhase};
  bool flat_prefault = false;
  double xd = 0.2;           // generator subtransient reactance, machine base
  std::optional<double> x2;  // default: xd
  std::optional<double> x0;  // default: xd; nullopt with x0_open
  bool x0_open = false;      // generators ungrounded in the zero sequence
  double line_z0 = 3.0;      // zero-sequence line impedance / positive
  Transformer0 transformer0 = Transformer0::kPass;

  double X2() const { return x2 ? *x2 : xd; }
  double X0() const { return x0 ? *x0 : xd; }
};

struct PowerFlowResult {
  bool converged = false;
  int iterations = 0;
  double max_dp = 0, max_dq = 0; // largest mismatch at the end, per unit
  int worst_p_node = 0, worst_q_node = 0;
  std::vector<float> vm, va;     // per node: |V| per unit, angle in radians
  std::vector<float> p, q;       // per node: injected power from the final voltages
  std::vector<float> slack_pq;   // P, Q of the reference node
  double resolution = 0;         // single-precision resolution of the node powers
  int resolution_node = 0;
};

struct FaultRecord {
  std::int32_t node = 0;
  FaultType type = FaultType::kThreePhase;
  std::complex<float> i0, i1, i2; // sequence fault currents, per unit
  float ia = 0, ib = 0, ic = 0;   // phase current magnitudes, per unit
  float va = 0, vb = 0, vc = 0;   // phase voltage magnitudes at the fault node, per unit
  float zkk1 = 0;                 // |Z1(K,K)|, per unit
};

struct FaultDetail {
  FaultType type = FaultType::kThreePhase;
  std::vector<std::complex<float>> vpa, vpb, vpc; // per node
  std::vector<std::complex<float>> iba, ibb, ibc; // per branch
};

struct FaultStudy {
  bool per_unit_currents = false; // some or all base voltages are 0
  std::vector<FaultRecord> records;
  std::vector<FaultDetail> details; // one per fault type, for a single-node study
  std::int32_t detail_node = 0;
};

} // namespace study

// A case as read: the text (so that it can be sent elsewhere and read
// again), its tables and its network in power-flow node order.
struct LoadedCase {
  std::string text;
  std::string source;
  casefile::Case table;
  casefile::Network net;
};

std::shared_ptr<LoadedCase> ReadCaseFile(const std::string &path);
std::shared_ptr<LoadedCase> ParseCaseText(std::string text, std::string source);
// The case with the branch-table rows `rows` (1-based) out of service.
std::shared_ptr<LoadedCase> WithoutBranches(const LoadedCase &c, std::span<const std::int32_t> rows);

// Thrown for what makes a study impossible (a singular sequence network, a
// node without a zero-sequence path); `reports` are the library's warnings
// behind it, when there are any.
class StudyFailure : public study::StudyError {
public:
  StudyFailure(const std::string &what, std::vector<Report> reports)
      : study::StudyError(what), reports_(std::move(reports)) {}
  const std::vector<Report> &reports() const noexcept { return reports_; }

private:
  std::vector<Report> reports_;
};

study::PowerFlowResult PowerFlow(Workspace &ws, const casefile::Network &net, const study::Options &o);

// The fault study of the command line at `nodes`; for a single node with
// details (every node's phase voltages, every branch's phase currents).
study::FaultStudy Faults(Workspace &ws, const casefile::Network &net, const study::Options &o,
                         std::span<const std::complex<float>> prefault, std::span<const std::int32_t> nodes);

// Pre-fault voltages: the power flow's (polar to rectangular as the command
// line forms them) or 1.0 per unit.
std::vector<std::complex<float>> Prefault(const casefile::Network &net, const study::PowerFlowResult *pf);

// A current magnitude in the command line's output unit at a node: kA at
// the node's base voltage, or per unit when the case lacks base voltages.
bool PerUnitCurrents(const casefile::Network &net);
double OutputCurrent(const casefile::Network &net, bool per_unit, double pu, std::int32_t node);

// Contingency screening: for every outage (a branch-table row taken out;
// 0 for the network as it is) the largest phase current of each fault type
// at every bus, in output units, from the fault levels of every node at
// once (FaultLevels: the driving-point impedances from the factors, not a
// solve per node; they agree with the solved columns' within the
// single-precision factors' rounding). Element
// [(o * types + t) * buses + j] belongs to outage o, fault type t and the
// base network's node j + 1. One workspace and one set of factors serve the
// whole batch. An outage the study cannot run (a disconnected network) is
// left NaN and its message is returned in failures[o].
struct ScreeningBatch {
  std::vector<double> levels;
  std::vector<std::string> failures;
};
ScreeningBatch ScreenOutages(Workspace &ws, const LoadedCase &base, std::span<const std::int32_t> outages,
                             const study::Options &o, std::span<const std::complex<float>> prefault_by_node);

} // namespace orvek::pyhost
