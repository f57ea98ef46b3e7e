// What the Python module needs beyond the study engine (tools/study/
// engine.hpp, which runs power_flow, fault_levels and fault_detail): cases
// kept with their text (so that they pickle and travel to Dask workers),
// branch outages, and the contingency screening of every node's fault
// levels through the native C++ API's FaultLevels, with factor storage
// reused from outage to outage. The sequence networks are the study
// engine's (FormSequenceNetwork, tools/study/sequence_networks.hpp), so the
// screening and the study form them alike. Every function takes the caller's
// Workspace, so calls on different threads with different workspaces run
// at once.
#pragma once

#include "orvek/orvek.hpp"
#include "tools/casefile/matpower.hpp"
#include "tools/study/engine.hpp"

#include <complex>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvek::pyhost {

// The options of the Python layer's studies (orvek.study.options): the
// study engine's fault options (the sequence data and the fault types, as
// `types`) with the power flow's tolerance and iteration limit and the
// choice of flat pre-fault voltages.
struct Options : study::FaultOptions {
  double tolerance = 1e-4;   // per unit on the case's MVA base
  int max_iterations = 100;  // P and Q half-iterations count as one
  bool flat_prefault = false;
};

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
                             const study::FaultOptions &o, std::span<const std::complex<float>> prefault_by_node);

} // namespace orvek::pyhost
