// Loading and checking a case (see engine.hpp): everything the library's
// single-precision routines could not take is refused here, before any call,
// with a message naming the bus, branch or value.
#include "tools/study/engine.hpp"
#include "tools/study/engine_internal.hpp"
#include "tools/study/builtin_case.hpp"

#include <cmath>
#include <cstdio>
#include <deque>

namespace orvek::study {

std::string Number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string BranchName(const casefile::Network &net, const casefile::NetworkBranch &b) {
  std::string s = "branch " + std::to_string(b.case_index + 1) + " (bus " + std::to_string(net.bus_of_node[b.from - 1]) +
                  " to bus " + std::to_string(net.bus_of_node[b.to - 1]);
  if (b.line > 0) s += ", line " + std::to_string(b.line);
  return s + ")";
}

void CheckSingleRange(double v, const std::string &what) {
  const double a = std::fabs(v);
  if (v == 0 || (a >= kSmallestMagnitude && a <= kLargestMagnitude)) return;
  throw StudyError(what + " = " + Number(v) + " is outside the range the single-precision routines take (0, or " +
                   Number(kSmallestMagnitude) + " to " + Number(kLargestMagnitude) + " in magnitude)");
}

namespace {

void CheckNetwork(const casefile::Network &net) {
  for (const casefile::NetworkBranch &b : net.branches) {
    const std::string name = BranchName(net, b);
    if (b.x == 0)
      throw StudyError(name + " has x = 0: the fast decoupled power flow needs a non-zero reactance");
    CheckSingleRange(b.r, name + ": r");
    CheckSingleRange(b.x, name + ": x");
    CheckSingleRange(b.b, name + ": b");
    CheckSingleRange(b.ratio, name + ": ratio");
    // What the routines are given: the pi-equivalent, X/(R²+X²) and 1/X.
    for (const auto &[v, part] : {std::pair{b.z, "series impedance"}, std::pair{b.ya, "first-end admittance"},
                                  std::pair{b.yb, "second-end admittance"}}) {
      CheckSingleRange(v.real(), name + ": " + part + " (real part)");
      CheckSingleRange(v.imag(), name + ": " + part + " (imaginary part)");
    }
  }
  for (std::int32_t i = 0; i < net.n; ++i) {
    const std::string name = "bus " + std::to_string(net.bus_of_node[i]);
    CheckSingleRange(net.gs[i], name + ": Gs in per unit");
    CheckSingleRange(net.bs[i], name + ": Bs in per unit");
  }

  // Every node must reach the reference bus through branches in service.
  std::vector<std::vector<std::int32_t>> adj(static_cast<std::size_t>(net.n));
  for (const casefile::NetworkBranch &b : net.branches) {
    adj[b.from - 1].push_back(b.to);
    adj[b.to - 1].push_back(b.from);
  }
  std::vector<bool> seen(static_cast<std::size_t>(net.n), false);
  std::deque<std::int32_t> queue{net.reference};
  seen[net.reference - 1] = true;
  while (!queue.empty()) {
    const std::int32_t u = queue.front();
    queue.pop_front();
    for (std::int32_t v : adj[u - 1])
      if (!seen[v - 1]) {
        seen[v - 1] = true;
        queue.push_back(v);
      }
  }
  for (std::int32_t i = 0; i < net.n; ++i) {
    if (seen[i]) continue;
    const std::string bus = "bus " + std::to_string(net.bus_of_node[i]);
    const std::string ref = std::to_string(net.bus_of_node[net.reference - 1]);
    if (adj[i].empty())
      throw StudyError(bus + " has no branch in service: give it type 4 (isolated) or connect it");
    throw StudyError(bus + " is not connected to the reference bus " + ref +
                     " by branches in service (an island without a reference bus)");
  }
}

} // namespace

StudyCase MakeCase(casefile::Case raw) {
  StudyCase c;
  c.net = casefile::BuildNetwork(raw, casefile::NodeOrder::kFile);
  c.raw = std::move(raw);
  if (c.net.reference == 0) throw StudyError(c.net.source + ": the case has no reference bus (type 3)");
  try {
    CheckNetwork(c.net);
  } catch (const StudyError &e) {
    throw StudyError(c.net.source + ": " + e.what());
  }
  // The phase shifts the reader mentions are part of this power flow.
  for (const std::string &w : c.net.warnings)
    if (w.find("phase shift") == std::string::npos) c.notes.push_back(w);
  return c;
}

StudyCase LoadCase(const std::string &path) {
  if (path.empty()) throw StudyError("the case file name is empty");
  return MakeCase(casefile::ReadCase(path));
}

StudyCase BuiltinCase() { return MakeCase(casefile::ParseCase(kBuiltinCase, std::string(kBuiltinName))); }

const char *FaultName(FaultType t) {
  switch (t) {
  case FaultType::kThreePhase: return "3ph";
  case FaultType::kPhasePhase: return "ll";
  case FaultType::kPhasePhaseEarth: return "llg";
  case FaultType::kPhaseEarth: return "slg";
  }
  return "?";
}

} // namespace orvek::study
