// orvek-study: the command line over the study engine (engine.hpp). Reads a
// case file or takes the built-in network, solves the power flow, then the
// fault levels at every bus or one fault in detail, and writes the result
// tables as text, CSV or JSON.
// Exit status: 0 success, 1 input or library error, 2 power flow not
// converged (in every mode; the results are still written), 64 usage error.
#include "tools/study/builtin_case.hpp"
#include "tools/study/engine.hpp"
#include "tools/study/options.hpp"
#include "tools/study/report.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitNotConverged = 2;
constexpr int kExitUsage = 64;
constexpr double kQuietSeconds = 1.0;   // a stage says nothing before this
constexpr double kUpdateSeconds = 0.25; // nor more often than this

using Clock = std::chrono::steady_clock;
using namespace orvek::study;

std::string Shortest(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Progress lines on standard error for stages that last over a second: on
// a terminal one line rewritten in place, elsewhere (with --progress) a
// line per update.
class ProgressLine {
public:
  ProgressLine(bool enabled, bool terminal) : enabled_(enabled), terminal_(terminal) {}
  void Begin(const std::string &stage) {
    stage_ = stage;
    start_ = last_ = Clock::now();
    shown_ = false;
  }
  Progress Callback() {
    return [this](const std::string &what, long done, long total) {
      if (!enabled_ || Since(start_) < kQuietSeconds || Since(last_) < kUpdateSeconds) return;
      last_ = Clock::now();
      std::ostringstream s;
      s << "orvek-study: " << what << ": " << done << " of " << total;
      Show(s.str());
    };
  }
  void End() {
    if (!enabled_ || Since(start_) < kQuietSeconds) return;
    char buf[64];
    std::snprintf(buf, sizeof buf, " done in %.2f s", Since(start_));
    Show("orvek-study: " + stage_ + buf);
    if (terminal_) std::cerr << "\n" << std::flush;
  }

private:
  void Show(const std::string &text) {
    if (terminal_) std::cerr << "\r\033[K" << text << std::flush;
    else std::cerr << text << "\n" << std::flush;
    shown_ = true;
  }
  bool enabled_, terminal_;
  bool shown_ = false;
  std::string stage_;
  Clock::time_point start_, last_;
};

void WriteFile(const std::filesystem::path &path, const std::function<void(std::ostream &)> &write) {
  std::ofstream out(path);
  if (!out) throw std::runtime_error("cannot open " + path.string() + " for writing");
  write(out);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::int32_t NodeOfBus(const orvek::casefile::Network &net, long bus) {
  const auto it = net.node_of_bus.find(static_cast<std::int32_t>(bus));
  if (it == net.node_of_bus.end() || bus != static_cast<std::int32_t>(bus))
    throw StudyError(net.source + ": bus " + std::to_string(bus) + " is not in the network");
  return it->second;
}

// Notes on the power flow's outcome and the generators' reactive limits;
// returns the failure text when it did not converge (empty otherwise).
std::string NotePowerFlow(const Options &o, StudyRun &run) {
  const orvek::casefile::Network &net = run.c->net;
  const PowerFlowResult &pf = *run.pf;
  std::string failure;
  if (!pf.converged) {
    std::ostringstream s;
    s << "the power flow did not converge in " << pf.iterations << " iterations (largest mismatch P " << pf.max_dp
      << " pu at bus " << (pf.worst_p_node ? net.bus_of_node[pf.worst_p_node - 1] : 0) << ", Q " << pf.max_dq
      << " pu at bus " << (pf.worst_q_node ? net.bus_of_node[pf.worst_q_node - 1] : 0) << ")";
    failure = s.str();
    run.notes.push_back(failure + (o.run_faults && !o.flat_prefault ? "; no fault study" : ""));
  }
  std::size_t outside = 0, held = 0;
  for (LimitState l : pf.gen_limit) {
    outside += l == LimitState::kAboveMax || l == LimitState::kBelowMin;
    held += l == LimitState::kAtMax || l == LimitState::kAtMin;
  }
  if (o.power_flow.q_limits)
    run.notes.push_back("reactive limits held: " + std::to_string(held) + " generators at a limit after " +
                        std::to_string(pf.limit_rounds) + " re-solves");
  else if (outside > 0)
    run.notes.push_back(std::to_string(outside) +
                        " generators are outside their reactive limits (q_limit above_qmax or below_qmin in the "
                        "generators table); --q-limits holds them at their limits");
  return failure;
}

// One fault in detail at fault_node (when > 0), else the fault levels at
// fault_nodes (every bus when empty), and the note on the sequence data.
void StudyFaults(const Options &o, const StudyCase &c, std::int32_t fault_node,
                 const std::vector<std::int32_t> &fault_nodes, ProgressLine &progress, StudyRun &run) {
  const std::vector<std::complex<double>> e = PrefaultVoltages(c, o.flat_prefault ? nullptr : &*run.pf);
  progress.Begin("fault levels");
  if (fault_node > 0) run.details = DetailedFault(c, o.faults, e, fault_node);
  else run.faults = ComputeFaultLevels(c, o.faults, e, fault_nodes, progress.Callback());
  progress.End();
  std::ostringstream s;
  s << "sequence data: generators x'' " << o.faults.xd << ", x2 " << o.faults.X2() << ", x0 "
    << (o.faults.x0_open ? std::string("open") : Shortest(o.faults.X0()))
    << " pu on the machine base; branches in the negative sequence as in the positive; line z0 = "
    << o.faults.line_z0 << " z1; transformers "
    << (o.faults.transformer0 == Transformer0::kPass ? "pass" : "block")
    << " the zero sequence; loads left out, bus shunts left out of the zero sequence, phase shifts left out";
  run.notes.push_back(s.str());
}

// The tables asked for (all, or the one --table names).
std::vector<Table> SelectTables(const Options &o, const StudyRun &run) {
  std::vector<Table> tables = MakeTables(run);
  if (!o.table.empty()) {
    std::vector<Table> one;
    for (Table &t : tables)
      if (t.name == o.table) one.push_back(std::move(t));
    if (one.empty()) throw StudyError("this study has no table \"" + o.table + "\"");
    tables = std::move(one);
  }
  return tables;
}

void WriteResults(const Options &o, const std::vector<Table> &tables) {
  if (o.output_dir.empty()) {
    if (o.format == Format::kCsv) WriteCsv(std::cout, tables.front());
    else if (o.format == Format::kJson) WriteJson(std::cout, tables);
    else WriteText(std::cout, tables);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write the results to standard output");
  } else {
    const std::filesystem::path dir(o.output_dir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir)) throw std::runtime_error("cannot make the directory " + o.output_dir);
    if (o.format == Format::kCsv)
      for (const Table &t : tables) WriteFile(dir / (t.name + ".csv"), [&](std::ostream &s) { WriteCsv(s, t); });
    else if (o.format == Format::kJson)
      WriteFile(dir / "study.json", [&](std::ostream &s) { WriteJson(s, tables); });
    else
      WriteFile(dir / "study.txt", [&](std::ostream &s) { WriteText(s, tables); });
  }
}

int Run(int argc, char **argv) {
  Options o;
  try {
    o = ParseOptions(argc, argv);
  } catch (const UsageError &e) {
    std::cerr << "orvek-study: " << e.what() << "\n";
    return kExitUsage;
  }
  if (o.help) {
    std::cout << HelpText();
    return kExitOk;
  }
  if (o.write_case) {
    std::cout << kBuiltinCase;
    return kExitOk;
  }
  const bool terminal = isatty(fileno(stderr)) != 0;
  ProgressLine progress(!o.quiet && (terminal || o.progress), terminal);

  progress.Begin("reading the case");
  const StudyCase c = o.case_given ? LoadCase(o.case_file) : BuiltinCase();
  progress.End();

  StudyRun run;
  run.c = &c;
  run.pf_options = o.power_flow;
  run.fault_options = o.faults;
  run.flat_prefault = o.flat_prefault;
  run.notes = c.notes;

  const std::int32_t fault_node = o.run_faults && o.fault_bus ? NodeOfBus(c.net, *o.fault_bus) : 0;
  std::vector<std::int32_t> fault_nodes;
  for (long bus : o.fault_buses) fault_nodes.push_back(NodeOfBus(c.net, bus));

  progress.Begin("power flow");
  run.pf = SolvePowerFlow(c, o.power_flow, progress.Callback());
  progress.End();
  const std::string failure = NotePowerFlow(o, run);
  if (o.run_faults && (run.pf->converged || o.flat_prefault))
    StudyFaults(o, c, fault_node, fault_nodes, progress, run);

  const std::vector<Table> tables = SelectTables(o, run);
  progress.Begin("writing the results");
  WriteResults(o, tables);
  progress.End();
  if (!run.pf->converged) {
    std::cerr << "orvek-study: " << failure << "\n";
    return kExitNotConverged;
  }
  return kExitOk;
}

} // namespace

int main(int argc, char **argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception &e) {
    std::cerr << "orvek-study: " << e.what() << "\n";
    return kExitError;
  }
}
