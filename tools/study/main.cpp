// orvek-study: power-flow and fault studies of a network through the ORVEK
// library, a host like any other (it sees only orvek/orvek.h). Reads a case
// file or uses the built-in network, runs the fast decoupled power flow, then
// the fault study at every bus or at one, and writes a table, CSV or JSON.
// Exit status: 0 success, 1 input or library error, 2 power flow not
// converged, 64 usage error.
#include "tools/casefile/matpower.hpp"
#include "tools/study/builtin_case.hpp"
#include "tools/study/options.hpp"
#include "tools/study/report.hpp"
#include "tools/study/study.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitNotConverged = 2;
constexpr int kExitUsage = 64;
constexpr double kProgressAfterSeconds = 0.5; // quiet for studies shorter than this

using Clock = std::chrono::steady_clock;

std::string Sci(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1e", v);
  return buf;
}

std::string Num(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

int Run(int argc, char **argv) {
  using namespace orvek;
  using namespace orvek::study;
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

  const auto start = Clock::now();
  const bool tty = isatty(fileno(stderr)) != 0;
  auto progress_line = [&](const std::string &text, bool final) {
    if (o.quiet) return;
    if (std::chrono::duration<double>(Clock::now() - start).count() < kProgressAfterSeconds && !final) return;
    if (tty) std::cerr << "\r" << text << (final ? "\n" : "") << std::flush;
    else if (final) std::cerr << text << "\n";
  };

  casefile::Case c = o.case_file.empty() ? casefile::ParseCase(kBuiltinCase, std::string(kBuiltinName))
                                         : casefile::ReadCase(o.case_file);
  const casefile::Network net = casefile::BuildNetwork(c, casefile::NodeOrder::kPowerFlow);
  const casefile::HostArrays h = casefile::MakeHostArrays(net);

  Report rep;
  rep.net = &net;
  rep.tolerance = o.tolerance;
  rep.flat_prefault = o.flat_prefault;
  for (const casefile::CaseBus &b : c.buses) {
    const auto it = net.node_of_bus.find(b.number);
    if (it != net.node_of_bus.end()) rep.file_order.push_back(it->second);
  }
  for (const std::string &w : net.warnings) {
    rep.notes.push_back(w);
    if (w.find("phase shift") != std::string::npos && !o.quiet) std::cerr << "orvek-study: warning: " << w << "\n";
  }
  rep.notes.push_back("reactive power limits of the generators are ignored: PV buses hold their voltage setpoint");

  std::vector<std::int32_t> fault_nodes;
  if (o.run_faults) {
    if (o.fault_bus) {
      const auto it = net.node_of_bus.find(static_cast<std::int32_t>(*o.fault_bus));
      if (it == net.node_of_bus.end() || *o.fault_bus != static_cast<std::int32_t>(*o.fault_bus))
        throw casefile::CaseError(net.source + ": bus " + std::to_string(*o.fault_bus) + " is not in the network");
      fault_nodes.push_back(it->second);
    } else {
      fault_nodes = rep.file_order;
    }
  }

  rep.pf = RunPowerFlow(net, h, o);
  const bool converged = rep.pf->converged;
  if (rep.pf->resolution > o.tolerance)
    rep.notes.push_back("the tolerance " + Sci(o.tolerance) +
                        " pu is below the single-precision resolution of the node powers (about " +
                        Sci(rep.pf->resolution) + " pu at bus " +
                        std::to_string(net.bus_of_node[rep.pf->resolution_node - 1]) +
                        "): the iteration ends below it only when the rounding happens to allow; "
                        "a larger --tol makes the study robust");
  std::string failure;
  if (!converged) {
    std::ostringstream s;
    s << "the power flow did not converge in " << rep.pf->iterations << " iterations (largest mismatch P "
      << rep.pf->max_dp << " pu at bus " << (rep.pf->worst_p_node ? net.bus_of_node[rep.pf->worst_p_node - 1] : 0)
      << ", Q " << rep.pf->max_dq << " pu)";
    if (rep.pf->resolution > o.tolerance)
      s << "; the single-precision resolution of the node powers is about " << Sci(rep.pf->resolution)
        << " pu, above the tolerance: try --tol " << Sci(2 * rep.pf->resolution);
    failure = s.str();
    rep.notes.push_back(failure + (o.flat_prefault || fault_nodes.empty() ? "" : "; no fault study"));
    if (!o.flat_prefault) fault_nodes.clear();
  }

  if (!fault_nodes.empty()) {
    std::vector<std::complex<float>> prefault(static_cast<std::size_t>(net.n), {1.0f, 0.0f});
    if (!o.flat_prefault)
      for (std::int32_t i = 0; i < net.n; ++i)
        prefault[i] = {rep.pf->vm[i] * std::cos(rep.pf->va[i]), rep.pf->vm[i] * std::sin(rep.pf->va[i])};
    const Progress progress = [&](int done, int total) {
      if (done % 10 == 0 || done == total)
        progress_line("orvek-study: faults at " + std::to_string(done) + " of " + std::to_string(total) + " buses",
                      false);
    };
    rep.faults = RunFaults(net, h, o, prefault, fault_nodes, progress);
    if (rep.faults->per_unit_currents)
      rep.notes.push_back("the case gives no base voltage (baseKV 0) for some buses: fault currents are in per unit "
                          "on the MVA base, and the fault routine is given a base of 1");
    rep.notes.push_back("sequence data: generators x'' " + Num(o.xd) + ", x2 " + Num(o.X2()) + ", x0 " +
                        (o.x0_open ? std::string("open") : Num(o.X0())) +
                        " pu on the machine base; branches in the negative sequence as in the positive; "
                        "line z0 = " + Num(o.line_z0) + " z1; transformers " +
                        (o.transformer0 == Transformer0::kPass ? "pass" : "block") +
                        " the zero sequence; loads left out, bus shunts left out of the zero sequence");
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (std::chrono::duration<double>(Clock::now() - start).count() >= kProgressAfterSeconds) {
    std::ostringstream s;
    s.precision(3);
    s << "orvek-study: done in " << seconds << " s";
    progress_line(s.str(), true);
  }

  if (o.output_file.empty()) {
    WriteReport(std::cout, rep, o.format);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write the results to standard output");
  } else {
    std::ofstream out(o.output_file);
    if (!out) throw std::runtime_error("cannot open " + o.output_file + " for writing");
    WriteReport(out, rep, o.format);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + o.output_file);
  }
  if (!converged) {
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
