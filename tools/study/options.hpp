// Command-line options of orvek-study: the parser and the --help text.
// Defaults are the engine's (engine.hpp). Parse errors are thrown as
// UsageError.
#pragma once

#include "tools/study/engine.hpp"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvek::study {

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class Format { kTable, kCsv, kJson };

struct Options {
  bool case_given = false; // a case path was given (possibly empty, which is an error)
  std::string case_file;
  PowerFlowOptions power_flow;
  FaultOptions faults;
  bool run_faults = true;
  std::optional<long> fault_bus; // study a single bus (number as in the case)
  std::vector<long> fault_buses; // fault levels at these buses only (all when empty)
  bool flat_prefault = false;    // 1.0 per unit pre-fault voltages
  Format format = Format::kTable;
  std::string output_dir;        // empty: standard output
  std::string table;             // the one table to write (required for CSV on standard output)
  bool quiet = false;
  bool progress = false;         // progress on standard error even when it is not a terminal
  bool help = false;
  bool write_case = false;       // print the built-in case file and stop
};

Options ParseOptions(int argc, char **argv);
std::string HelpText();

} // namespace orvek::study
