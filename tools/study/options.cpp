// Parser of the orvek-study command line (see options.hpp).
#include "tools/study/options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace orvek::study {

namespace {

double ParseReal(const std::string &opt, const std::string &text, bool positive) {
  char *end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
    throw UsageError(opt + " needs a number, found \"" + text + "\"");
  if (positive && !(v > 0)) throw UsageError(opt + " must be positive, found " + text);
  return v;
}

long ParseInteger(const std::string &opt, const std::string &text) {
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE)
    throw UsageError(opt + " needs an integer, found \"" + text + "\"");
  return v;
}

std::vector<FaultType> ParseFaults(const std::string &text) {
  std::vector<FaultType> out;
  auto add = [&](FaultType t) {
    for (FaultType o : out)
      if (o == t) return;
    out.push_back(t);
  };
  std::stringstream s(text);
  std::string item;
  while (std::getline(s, item, ',')) {
    if (item == "all") {
      add(FaultType::kThreePhase);
      add(FaultType::kPhasePhase);
      add(FaultType::kPhasePhaseEarth);
      add(FaultType::kPhaseEarth);
    } else if (item == "3ph") add(FaultType::kThreePhase);
    else if (item == "ll") add(FaultType::kPhasePhase);
    else if (item == "llg") add(FaultType::kPhasePhaseEarth);
    else if (item == "slg") add(FaultType::kPhaseEarth);
    else if (item == "none") {
    } else
      throw UsageError("unknown fault type \"" + item + "\" in --fault; use 3ph, ll, llg, slg, all or none");
  }
  return out;
}

// One command-line argument: `--name=value` gives the name and an inline
// value; otherwise a value is the next argument.
class Argument {
public:
  Argument(int argc, char **argv, int &i) : name(argv[i]), argc_(argc), argv_(argv), i_(i) {
    if (name.rfind("--", 0) == 0) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        value_ = name.substr(eq + 1);
        name = name.substr(0, eq);
        inline_value_ = true;
      }
    }
  }
  std::string Next() {
    if (inline_value_) return value_;
    if (i_ + 1 >= argc_) throw UsageError(name + " needs a value");
    return argv_[++i_];
  }
  void NoValue() const {
    if (inline_value_) throw UsageError(name + " takes no value");
  }

  std::string name;

private:
  int argc_;
  char **argv_;
  int &i_;
  std::string value_;
  bool inline_value_ = false;
};

// Each Parse...Option returns false when the argument is not one of its options.
bool ParsePowerFlowOption(Argument &a, Options &o) {
  const std::string &arg = a.name;
  if (arg == "--tol") {
    o.power_flow.tolerance = ParseReal(arg, a.Next(), true);
  } else if (arg == "--max-iter") {
    const long v = ParseInteger(arg, a.Next());
    if (v < 1 || v > 1000000) throw UsageError("--max-iter must lie between 1 and 1000000");
    o.power_flow.max_iterations = static_cast<int>(v);
  } else if (arg == "--flat-start") {
    a.NoValue();
    o.power_flow.flat_start = true;
  } else if (arg == "--q-limits") {
    a.NoValue();
    o.power_flow.q_limits = true;
  } else {
    return false;
  }
  return true;
}

bool ParseFaultOption(Argument &a, Options &o) {
  const std::string &arg = a.name;
  if (arg == "--fault") {
    o.faults.types = ParseFaults(a.Next());
    o.run_faults = !o.faults.types.empty();
  } else if (arg == "--no-faults") {
    a.NoValue();
    o.run_faults = false;
  } else if (arg == "--node") {
    o.fault_bus = ParseInteger(arg, a.Next());
  } else if (arg == "--buses") {
    std::stringstream list(a.Next());
    std::string item;
    while (std::getline(list, item, ',')) o.fault_buses.push_back(ParseInteger(arg, item));
    if (o.fault_buses.empty()) throw UsageError("--buses needs a list of bus numbers");
  } else if (arg == "--refine-faults") {
    a.NoValue();
    o.faults.refine = true;
  } else if (arg == "--flat") {
    a.NoValue();
    o.flat_prefault = true;
  } else {
    return false;
  }
  return true;
}

bool ParseSequenceOption(Argument &a, Options &o) {
  const std::string &arg = a.name;
  if (arg == "--xd") {
    o.faults.xd = ParseReal(arg, a.Next(), true);
  } else if (arg == "--x2") {
    o.faults.x2 = ParseReal(arg, a.Next(), true);
  } else if (arg == "--x0") {
    const std::string v = a.Next();
    if (v == "open") {
      o.faults.x0_open = true;
      o.faults.x0.reset();
    } else {
      o.faults.x0 = ParseReal(arg, v, true);
      o.faults.x0_open = false;
    }
  } else if (arg == "--z0-line") {
    o.faults.line_z0 = ParseReal(arg, a.Next(), true);
  } else if (arg == "--xfmr0") {
    const std::string v = a.Next();
    if (v == "pass") o.faults.transformer0 = Transformer0::kPass;
    else if (v == "block") o.faults.transformer0 = Transformer0::kBlock;
    else throw UsageError("--xfmr0 takes pass or block, found \"" + v + "\"");
  } else {
    return false;
  }
  return true;
}

bool ParseOutputOption(Argument &a, Options &o) {
  const std::string &arg = a.name;
  if (arg == "--format") {
    const std::string v = a.Next();
    if (v == "table") o.format = Format::kTable;
    else if (v == "csv") o.format = Format::kCsv;
    else if (v == "json") o.format = Format::kJson;
    else throw UsageError("--format takes table, csv or json, found \"" + v + "\"");
  } else if (arg == "--output" || arg == "-o") {
    o.output_dir = a.Next();
    if (o.output_dir.empty()) throw UsageError(arg + " needs a directory name");
  } else if (arg == "--table") {
    o.table = a.Next();
    if (o.table.empty()) throw UsageError("--table needs a table name");
  } else if (arg == "--quiet" || arg == "-q") {
    a.NoValue();
    o.quiet = true;
  } else if (arg == "--progress") {
    a.NoValue();
    o.progress = true;
  } else {
    return false;
  }
  return true;
}

} // namespace

Options ParseOptions(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    Argument a(argc, argv, i);
    const std::string &arg = a.name;
    if (arg == "--help" || arg == "-h") {
      a.NoValue();
      o.help = true;
    } else if (arg == "--write-case") {
      a.NoValue();
      o.write_case = true;
    } else if (arg == "--case") {
      if (o.case_given) throw UsageError("more than one case file given");
      o.case_file = a.Next();
      o.case_given = true;
    } else if (ParsePowerFlowOption(a, o) || ParseFaultOption(a, o) || ParseSequenceOption(a, o) ||
               ParseOutputOption(a, o)) {
      continue;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      throw UsageError("unknown option " + arg + " (see --help)");
    } else {
      if (o.case_given) throw UsageError("more than one case file given");
      o.case_file = arg;
      o.case_given = true;
    }
  }
  if (o.format == Format::kCsv && o.output_dir.empty() && o.table.empty())
    throw UsageError("CSV on standard output needs --table NAME (or --output DIR for every table)");
  return o;
}

std::string HelpText() {
  std::ostringstream s;
  s << "Usage: orvek-study [CASE.m] [options]\n"
       "\n"
       "Runs a power flow and a fault study through the ORVEK library, on a MATPOWER\n"
       "case file (format version 2) of any size or, without one, on the built-in\n"
       "nine-bus network.\n"
       "\n"
       "Input\n"
       "  CASE.m, --case FILE  case file to study (default: the built-in network)\n"
       "  --write-case         print the built-in network as a case file and stop\n"
       "\n"
       "Power flow (fast decoupled corrections, double-precision mismatches)\n"
       "  --tol X              largest active and reactive mismatch, per unit on the\n"
       "                       case's MVA base (default "
    << kDefaultTolerance
    << ")\n"
       "  --max-iter N         iteration limit (default "
    << kDefaultMaxIterations
    << ")\n"
       "  --flat-start         start from |V| = 1 and the reference angle instead of the\n"
       "                       case's stored voltages\n"
       "  --q-limits           hold generators at their reactive limits (PV to PQ and\n"
       "                       back); off by default\n"
       "\n"
       "Faults\n"
       "  --fault LIST         fault types, comma-separated: 3ph, ll, llg, slg, all or\n"
       "                       none (default 3ph)\n"
       "  --no-faults          power flow only\n"
       "  --node BUS           fault at this bus only (bus number of the case); adds\n"
       "                       the phase voltages of every bus and the branch currents\n"
       "  --buses B1,B2,...    fault levels at these buses only (default: every bus)\n"
       "  --refine-faults      fault levels from impedance columns refined against the\n"
       "                       double-precision network (slower: a solve per bus)\n"
       "  --flat               pre-fault voltages 1.0 per unit instead of the power flow's\n"
       "  --xd X               generator subtransient reactance, per unit on the machine\n"
       "                       base (default "
    << kDefaultXd
    << ")\n"
       "  --x2 X               generator negative-sequence reactance (default: --xd)\n"
       "  --x0 X|open          generator zero-sequence reactance to earth, or open for an\n"
       "                       unearthed neutral (default: --xd)\n"
       "  --z0-line K          zero-sequence series impedance of lines = K times the\n"
       "                       positive-sequence one (default "
    << kDefaultLineZ0Multiple
    << ")\n"
       "  --xfmr0 pass|block   transformers pass the zero sequence with their positive-\n"
       "                       sequence impedance (pass, default) or block it (block)\n"
       "\n"
       "Output\n"
       "  --format F           table (default), csv or json\n"
       "  --output DIR, -o DIR write into DIR: one NAME.csv per table, study.json or\n"
       "                       study.txt\n"
       "  --table NAME         only this table (summary, notes, buses, branches,\n"
       "                       generators, faults, fault_voltages, fault_branches);\n"
       "                       needed for CSV on standard output\n"
       "  --quiet, -q          no progress messages on standard error\n"
       "  --progress           progress messages even when standard error is not a\n"
       "                       terminal\n"
       "  --help, -h           this text\n"
       "\n"
       "Exit status: 0 on success, 1 on an error in the input or the library,\n"
       "2 when the power flow does not converge (the results are written), 64 on a\n"
       "usage error.\n";
  return s.str();
}

} // namespace orvek::study
