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
#include "tools/study/study.hpp"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvek::pyhost {

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
