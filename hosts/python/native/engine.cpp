// Cases and contingency screening over the native C++ API (see
// engine.hpp): the sequence networks of every outage are formed by the
// study engine's FormSequenceNetwork (the branch out of service left out),
// factored once per outage, and FaultLevels gives every node's fault
// levels from the factors. In: a loaded case, outages as branch-table rows
// (0: none), fault options, pre-fault voltages per node. Out: the largest
// phase current per outage, fault type and node; a failure's message.
#include "hosts/python/native/engine.hpp"
#include "tools/study/sequence_networks.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

namespace orvek::pyhost {

namespace {

constexpr double kSqrt3 = 1.7320508075688772;
// A smallest pivot at or below this, or a growth factor above kMaxGrowth,
// marks a factorization that ended with its singular or growth warning
// (the command line's thresholds).
constexpr float kSingularPivot = 1.1e-20f;
constexpr float kMaxGrowth = 1.0e16f;

std::string Singular(const char *what) {
  return std::string("the ") + what + " is numerically singular (is every part of the network connected to a source?)";
}

// The factors of a study's matrix; a factorization the library stops is
// the study's error, with the library's messages behind it.
template <class T> FactorSet<T> FactorOf(Workspace &ws, const TripletMatrix<T> &a, const char *what) {
  try {
    return Factor(ws, a);
  } catch (const Error &e) {
    throw StudyFailure(Singular(what) + ": " + e.message(), e.reports());
  }
}

template <class T> void CheckQuality(const FactorSet<T> &f, const char *what) {
  // After the singular or growth warning the factors are left empty; the
  // smallest pivot and the growth factor tell the host.
  if (!f.complete() || !(f.min_pivot > kSingularPivot) || !(f.growth <= kMaxGrowth))
    throw StudyFailure(Singular(what), f.warnings);
}

// The factors of the three sequence networks; the negative sequence
// shares the positive one's when their generator reactances agree (the
// same matrix factors to the same set).
struct Sequences {
  FactorSet<Complex> factors[3];
  bool negative_is_positive = false;
  const FactorSet<Complex> &Of(int s) const { return s == 2 && negative_is_positive ? factors[1] : factors[s]; }
};

// `branch_out`: index into net.branches of the branch out of service, or -1.
void FactorSequences(Workspace &ws, const casefile::Network &net, const study::FaultOptions &o,
                     std::int32_t branch_out, Sequences &seq) {
  if (o.transformer0 == study::Transformer0::kBlock) {
    bool any_line = false;
    for (std::size_t b = 0; b < net.branches.size(); ++b)
      any_line = any_line || (static_cast<std::int32_t>(b) != branch_out && !net.branches[b].transformer);
    if (!any_line)
      throw StudyFailure("the zero-sequence network has no branch (every branch is a blocking transformer)", {});
  }
  // The screening has always taken the options as given (no range
  // refusal of its own); values outside the single-precision range end in
  // a singular factorization or in the levels they give.
  const auto form = [&](study::Sequence s) {
    return study::FormSequenceNetwork(net, o, s, branch_out, study::RangeCheck::kPass);
  };
  const study::SequenceNetwork zero = form(study::Sequence::kZero), positive = form(study::Sequence::kPositive);
  seq.negative_is_positive = o.X2() == o.xd;
  const study::SequenceNetwork negative =
      seq.negative_is_positive ? study::SequenceNetwork{} : form(study::Sequence::kNegative);
  const study::SequenceNetwork *nets[3] = {&zero, &positive, &negative};
  const char *names[3] = {"zero-sequence admittance matrix", "positive-sequence admittance matrix",
                          "negative-sequence admittance matrix"};
  for (int s = 0; s < 3; ++s) {
    if (s == 2 && seq.negative_is_positive) continue;
    const TripletMatrix<Complex> y = study::AssembleSequence(ws, net.n, *nets[s]);
    seq.factors[s] = FactorOf(ws, y, names[s]);
    CheckQuality(seq.factors[s], names[s]);
  }
}

std::vector<float> BaseVoltages(const casefile::Network &net) {
  // A case without base voltages is studied in per unit with a base of 1
  // so that the fault routine's thresholds do not blank it.
  std::vector<float> ub(static_cast<std::size_t>(net.n), 1.0f);
  if (!PerUnitCurrents(net))
    for (std::int32_t i = 0; i < net.n; ++i) ub[i] = static_cast<float>(net.base_kv[i]);
  return ub;
}

} // namespace

// ---- Cases --------------------------------------------------------------------

std::shared_ptr<LoadedCase> ParseCaseText(std::string text, std::string source) {
  auto c = std::make_shared<LoadedCase>();
  c->table = casefile::ParseCase(text, source);
  c->net = casefile::BuildNetwork(c->table, casefile::NodeOrder::kPowerFlow);
  c->text = std::move(text);
  c->source = std::move(source);
  return c;
}

std::shared_ptr<LoadedCase> ReadCaseFile(const std::string &path) {
  // The reader's own messages for a file that cannot be read.
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    (void)casefile::ReadCase(path); // throws the reader's own message
    throw casefile::CaseError(path + ": cannot open the case file");
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  return ParseCaseText(buf.str(), path);
}

namespace {

// Refuses a branch-table row that is not there.
void CheckBranchRow(const LoadedCase &c, std::int32_t row) {
  if (row < 1 || static_cast<std::size_t>(row) > c.table.branches.size())
    throw casefile::CaseError(c.source + ": branch " + std::to_string(row) + " is not in the branch table (1.." +
                              std::to_string(c.table.branches.size()) + ")");
}

} // namespace

std::shared_ptr<LoadedCase> WithoutBranches(const LoadedCase &c, std::span<const std::int32_t> rows) {
  auto out = std::make_shared<LoadedCase>();
  out->text = c.text;
  out->source = c.source;
  out->table = c.table;
  for (std::int32_t row : rows) {
    CheckBranchRow(c, row);
    out->table.branches[static_cast<std::size_t>(row - 1)].status = 0;
  }
  out->net = casefile::BuildNetwork(out->table, casefile::NodeOrder::kPowerFlow);
  return out;
}

// ---- Faults -------------------------------------------------------------------

bool PerUnitCurrents(const casefile::Network &net) {
  return std::any_of(net.base_kv.begin(), net.base_kv.end(), [](double kv) { return kv <= 0; });
}

double OutputCurrent(const casefile::Network &net, bool per_unit, double pu, std::int32_t node) {
  if (per_unit) return pu;
  return pu * net.base_mva / (kSqrt3 * net.base_kv[static_cast<std::size_t>(node - 1)]);
}

// ---- Contingency screening ------------------------------------------------------

ScreeningBatch ScreenOutages(Workspace &ws, const LoadedCase &base, std::span<const std::int32_t> outages,
                             const study::FaultOptions &o, std::span<const std::complex<float>> prefault_by_node) {
  const casefile::Network &net = base.net;
  const std::size_t buses = static_cast<std::size_t>(net.n), types = o.types.size();
  ScreeningBatch out;
  out.levels.assign(outages.size() * types * buses, std::numeric_limits<double>::quiet_NaN());
  out.failures.resize(outages.size());
  const bool per_unit = PerUnitCurrents(net);
  std::vector<Complex> e(buses);
  for (std::size_t j = 0; j < buses; ++j) e[j] = {prefault_by_node[j].real(), prefault_by_node[j].imag()};
  const std::vector<float> ub = BaseVoltages(net);
  Sequences seq; // reused from outage to outage
  for (std::size_t oi = 0; oi < outages.size(); ++oi) {
    try {
      // Taking a branch out of service changes no bus type, so the network
      // is the base one without that branch (none when the row is already
      // out of service), over the same nodes.
      const std::int32_t row = outages[oi];
      std::int32_t branch_out = -1;
      if (row != 0) {
        CheckBranchRow(base, row);
        for (std::size_t b = 0; b < net.branches.size(); ++b)
          if (net.branches[b].case_index == row - 1) branch_out = static_cast<std::int32_t>(b);
        // The case's last branch: the reader's own "no branch in service".
        if (branch_out >= 0 && net.branches.size() == 1) (void)WithoutBranches(base, {&row, 1});
      }
      FactorSequences(ws, net, o, branch_out, seq);
      // Every node's driving-point impedances from the factors at once.
      const std::vector<NodeFaultLevels> levels =
          FaultLevels(ws, SequenceFactors{seq.Of(0), seq.Of(1), seq.Of(2)}, ub, e);
      for (std::size_t kk = 0; kk < buses; ++kk) {
        const std::int32_t k = static_cast<std::int32_t>(kk + 1);
        for (std::size_t t = 0; t < types; ++t) {
          const PhaseCurrents &p = levels[kk].of(static_cast<FaultType>(o.types[t])).phase;
          const float largest =
              std::max({std::hypot(p.ia.re, p.ia.im), std::hypot(p.ib.re, p.ib.im), std::hypot(p.ic.re, p.ic.im)});
          out.levels[(oi * types + t) * buses + kk] = OutputCurrent(net, per_unit, largest, k);
        }
      }
    } catch (const std::exception &ex) {
      std::fill_n(out.levels.begin() + static_cast<std::ptrdiff_t>(oi * types * buses), types * buses,
                  std::numeric_limits<double>::quiet_NaN());
      out.failures[oi] = ex.what();
    }
  }
  return out;
}

} // namespace orvek::pyhost
