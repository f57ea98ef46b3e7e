// The study engine of orvek-study (library orvek_study_engine): load and
// check a case, solve its power flow, compute fault levels at many buses or
// one fault in detail, and lay the results out as tables. The command line
// (main.cpp) and any other front end use this interface only, so that they
// give the same numbers for the same options. The engine is a host of the
// library's native C++ interface (orvek/orvek.hpp) and of nothing else of it:
// no capacities, any size of network.
//
// Nodes are numbered 1..N in the order of the case's bus table (isolated
// buses left out); per-node vectors are indexed node - 1. Errors (input the
// library cannot take, a singular network) are thrown as StudyError with a
// message that names the bus, branch or value.
#pragma once

#include "tools/casefile/matpower.hpp"

#include <complex>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace orvek::study {

class StudyError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Progress of a long stage: its name, units done and the total.
using Progress = std::function<void(const std::string &stage, long done, long total)>;

// ---- Case -------------------------------------------------------------------

struct StudyCase {
  casefile::Case raw;
  casefile::Network net;          // nodes in bus-table order
  std::vector<std::string> notes; // what the reader left out or changed
};

// Reads and checks a case file; an empty path is an error.
StudyCase LoadCase(const std::string &path);
// The built-in nine-bus network.
StudyCase BuiltinCase();
// Checks parsed tables (bus types, connection to the reference bus, values
// the single-precision routines can take).
StudyCase MakeCase(casefile::Case raw);

// ---- Power flow -----------------------------------------------------------

inline constexpr double kDefaultTolerance = 1e-8;  // per unit on the case's MVA base
inline constexpr int kDefaultMaxIterations = 1000; // fast decoupled iterations (P and Q half each)
inline constexpr int kMaxLimitRounds = 50;         // rounds of PV/PQ switching

struct PowerFlowOptions {
  double tolerance = kDefaultTolerance;
  int max_iterations = kDefaultMaxIterations;
  bool flat_start = false; // |V| = 1 (setpoints at generator buses), angles at the reference's
  bool q_limits = false;   // generator buses switch to PQ at a reactive limit and back
};

enum class LimitState : int { kWithin = 0, kAtMax = 1, kAtMin = -1, kAboveMax = 2, kBelowMin = -2 };

struct PowerFlowResult {
  bool converged = false;
  int iterations = 0;       // all rounds together
  int limit_rounds = 0;     // re-solves after switching
  double max_dp = 0, max_dq = 0; // largest mismatch at the end, per unit
  std::int32_t worst_p_node = 0, worst_q_node = 0;
  std::vector<double> vm, va;    // per node: |V| per unit, angle in radians
  std::vector<std::complex<double>> s; // per node: injected power, per unit
  std::vector<casefile::BusType> type; // per node, after switching
  // Per generator (net.generators): output in per unit and where it stands
  // against its reactive limits.
  std::vector<double> gen_p, gen_q;
  std::vector<LimitState> gen_limit;
  // Per branch (net.branches): complex power entering at each end, per unit.
  std::vector<std::complex<double>> s_from, s_to;
};

PowerFlowResult SolvePowerFlow(const StudyCase &c, const PowerFlowOptions &o, const Progress &progress = {});

// ---- Faults -------------------------------------------------------------------

enum class FaultType : int { kThreePhase = 1, kPhasePhase = 2, kPhasePhaseEarth = 3, kPhaseEarth = 4 };
const char *FaultName(FaultType t); // "3ph", "ll", "llg", "slg"

enum class Transformer0 { kPass, kBlock };

inline constexpr double kDefaultXd = 0.2;             // generator subtransient reactance, machine base
inline constexpr double kDefaultLineZ0Multiple = 3.0; // zero-sequence line impedance / positive

struct FaultOptions {
  std::vector<FaultType> types{FaultType::kThreePhase};
  double xd = kDefaultXd;
  std::optional<double> x2; // default: xd
  std::optional<double> x0; // default: xd
  bool x0_open = false;     // generators ungrounded in the zero sequence
  double line_z0 = kDefaultLineZ0Multiple;
  Transformer0 transformer0 = Transformer0::kPass;
  // Fault levels from each bus's impedance column refined against the
  // host's double-precision network (agreeing with it to about 1e-6; one
  // solve per bus and sequence) instead of the library's all-node fault
  // levels (the single-precision network's impedances to double accuracy;
  // the rounding of the network to single precision moves them by up to
  // 2e-4 on the largest cases).
  bool refine = false;

  double X2() const { return x2 ? *x2 : xd; }
  double X0() const { return x0 ? *x0 : xd; }
};

// One fault at one node, per unit on the MVA base.
struct FaultLevel {
  std::int32_t node = 0;
  FaultType type = FaultType::kThreePhase;
  std::complex<double> i0, i1, i2;  // sequence currents into the fault
  double ia = 0, ib = 0, ic = 0;    // phase current magnitudes
  double va = 0, vb = 0, vc = 0;    // phase voltage magnitudes at the node
  std::complex<double> z0, z1, z2;  // Thevenin sequence impedances at the node
};

// Fault levels at `nodes` (every node when empty) for every type of the
// options, from the pre-fault voltages e (per node).
std::vector<FaultLevel> ComputeFaultLevels(const StudyCase &c, const FaultOptions &o,
                                           const std::vector<std::complex<double>> &e,
                                           const std::vector<std::int32_t> &nodes, const Progress &progress = {});

// One fault in detail: every node's phase voltages, every branch's phase
// currents at its first end (per unit).
struct FaultDetail {
  FaultLevel level;
  std::vector<std::complex<double>> va, vb, vc; // per node
  std::vector<std::complex<double>> ia, ib, ic; // per branch
};
std::vector<FaultDetail> DetailedFault(const StudyCase &c, const FaultOptions &o,
                                       const std::vector<std::complex<double>> &e, std::int32_t node);

// Pre-fault voltages: the power flow's, or 1 per unit at angle 0 (flat).
std::vector<std::complex<double>> PrefaultVoltages(const StudyCase &c, const PowerFlowResult *pf);

// ---- Result tables ----------------------------------------------------------

enum class Kind { kInteger, kReal, kText, kBool };
struct Column {
  std::string name;
  Kind kind = Kind::kReal;
};
// An empty cell (monostate) is a value the case does not give (kA at a bus
// without base voltage, loading of a branch without rating).
using Cell = std::variant<std::monostate, long long, double, std::string, bool>;
struct Table {
  std::string name; // "buses", "branches", ... (file name without .csv)
  std::vector<Column> columns;
  std::vector<std::vector<Cell>> rows;
};

struct StudyRun {
  const StudyCase *c = nullptr;
  PowerFlowOptions pf_options;
  FaultOptions fault_options;
  std::optional<PowerFlowResult> pf;
  bool flat_prefault = false;
  std::vector<FaultLevel> faults;
  std::vector<FaultDetail> details;
  std::vector<std::string> notes;
  double seconds = 0;
};

// summary, notes, buses, branches, generators, faults, and for a detailed
// fault fault_voltages and fault_branches; the same tables in every format.
std::vector<Table> MakeTables(const StudyRun &run);

} // namespace orvek::study
