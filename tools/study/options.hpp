// Command-line options of orvek-study: their defaults (named once here),
// the parser and the --help text. Parse errors are thrown as UsageError.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvek::study {

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Fault-type codes of NaponiKV.
enum class FaultType : int { kThreePhase = 1, kPhasePhase = 2, kPhasePhaseEarth = 3, kPhaseEarth = 4 };

const char *FaultName(FaultType t); // "3ph", "ll", "llg", "slg"

enum class Format { kTable, kCsv, kJson };
enum class Transformer0 { kPass, kBlock };

inline constexpr double kDefaultTolerance = 1e-4;   // per unit on the case's MVA base
inline constexpr int kDefaultMaxIterations = 100;   // P and Q half-iterations count as one
inline constexpr double kDefaultXd = 0.2;           // generator subtransient reactance, machine base
inline constexpr double kDefaultLineZ0Multiple = 3.0; // zero-sequence line impedance / positive

struct Options {
  std::string case_file;               // empty: the built-in network
  double tolerance = kDefaultTolerance;
  int max_iterations = kDefaultMaxIterations;
  std::vector<FaultType> faults{FaultType::kThreePhase};
  bool run_faults = true;
  std::optional<long> fault_bus;       // study a single bus (number as in the case)
  bool flat_prefault = false;          // 1.0 per unit pre-fault voltages
  double xd = kDefaultXd;
  std::optional<double> x2;            // default: xd
  std::optional<double> x0;            // default: xd; nullopt with x0_open
  bool x0_open = false;                // generators ungrounded in the zero sequence
  double line_z0 = kDefaultLineZ0Multiple;
  Transformer0 transformer0 = Transformer0::kPass;
  Format format = Format::kTable;
  std::string output_file;             // empty: standard output
  bool quiet = false;
  bool help = false;
  bool write_case = false;             // print the built-in case file and stop

  double X2() const { return x2 ? *x2 : xd; }
  double X0() const { return x0 ? *x0 : xd; }
};

Options ParseOptions(int argc, char **argv);
std::string HelpText();

} // namespace orvek::study
