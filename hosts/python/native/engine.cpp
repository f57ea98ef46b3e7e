// Cases and contingency screening over the native C++ API (see
// engine.hpp): the sequence networks are built from the same sequence-data
// options as the study engine's, factored once per outage, and FaultLevels
// gives every node's fault levels from the factors.
#include "hosts/python/native/engine.hpp"

#include "orvek/orvek.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

namespace orvek::pyhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt3 = 1.7320508075688772;
// A smallest pivot at or below this, or a growth factor above kMaxGrowth,
// marks a factorization that ended with its singular or growth warning
// (the command line's thresholds).
constexpr float kSingularPivot = 1.1e-20f;
constexpr float kMaxGrowth = 1.0e16f;
constexpr double kFloatRounding = 5.9604644775390625e-8; // 2^-24

// One network as native spans: the π-branches, nodal susceptance shunts
// (with the generators' where a sequence network adds them) and the
// conductance shunts the host adds to the diagonals.
struct Arrays {
  std::int32_t n = 0;
  std::vector<std::int32_t> from, to;
  std::vector<Complex> z, ya, yb;
  std::vector<float> r, x, t; // as in the file, for the decoupled matrices
  std::vector<std::int32_t> ksh;
  std::vector<float> bsh, gsh;
  std::vector<std::int32_t> branch_index; // network branch -> index here, -1 when left out
  BranchView Branches() const { return {from, to, z, ya, yb}; }
};

Arrays Positive(const casefile::Network &net) {
  const casefile::HostArrays h = casefile::MakeUnboundedArrays(net);
  const std::size_t ld = static_cast<std::size_t>(h.ld);
  Arrays a;
  a.n = net.n;
  for (std::size_t b = 0; b < static_cast<std::size_t>(h.nb); ++b) {
    a.from.push_back(h.nodes[b]);
    a.to.push_back(h.nodes[b + ld]);
    a.z.push_back({h.z[b], h.z[b + ld]});
    a.ya.push_back({h.ya[b], h.ya[b + ld]});
    a.yb.push_back({h.yb[b], h.yb[b + ld]});
    a.r.push_back(h.z_bx[b]);
    a.x.push_back(h.z_bx[b + ld]);
    a.t.push_back(h.t[b]);
    a.branch_index.push_back(static_cast<std::int32_t>(b));
  }
  a.ksh = h.ksh;
  a.bsh = h.bsh;
  a.gsh = h.gsh;
  return a;
}

// Generator admittance 1/(j x) with x on the system base, as a susceptance.
void AddGenerators(const casefile::Network &net, double x_machine, Arrays &a) {
  for (const casefile::NetworkGenerator &g : net.generators) {
    const double x = x_machine * net.base_mva / g.mbase;
    a.bsh.push_back(static_cast<float>(-1.0 / x));
    a.ksh.push_back(g.node);
  }
}

Arrays PositiveLike(const casefile::Network &net, const Arrays &positive, double x_machine) {
  Arrays a = positive;
  AddGenerators(net, x_machine, a);
  return a;
}

Arrays ZeroSequence(const casefile::Network &net, const Arrays &positive, const study::Options &o) {
  Arrays z;
  z.n = net.n;
  z.branch_index.assign(positive.from.size(), -1);
  std::int32_t kept = 0;
  for (std::size_t b = 0; b < positive.from.size(); ++b) {
    const casefile::NetworkBranch &br = net.branches[b];
    if (br.transformer && o.transformer0 == study::Transformer0::kBlock) continue;
    const double k = br.transformer ? 1.0 : o.line_z0;
    z.from.push_back(positive.from[b]);
    z.to.push_back(positive.to[b]);
    z.z.push_back({static_cast<float>(k * br.z.real()), static_cast<float>(k * br.z.imag())});
    z.ya.push_back(positive.ya[b]);
    z.yb.push_back(positive.yb[b]);
    z.branch_index[b] = kept++;
  }
  z.gsh.assign(static_cast<std::size_t>(net.n), 0.0f);
  if (!o.x0_open) AddGenerators(net, o.X0(), z);
  if (kept == 0)
    throw StudyFailure("the zero-sequence network has no branch (every branch is a blocking transformer)", {});
  // A node without any zero-sequence element would make the matrix singular.
  std::vector<bool> touched(static_cast<std::size_t>(net.n), false);
  for (std::int32_t b = 0; b < kept; ++b) {
    touched[z.from[b] - 1] = true;
    touched[z.to[b] - 1] = true;
  }
  for (std::int32_t k : z.ksh) touched[k - 1] = true;
  for (std::int32_t i = 0; i < net.n; ++i)
    if (!touched[i])
      throw StudyFailure("bus " + std::to_string(net.bus_of_node[i]) +
                             " has no zero-sequence connection (transformers block the zero sequence); use --xfmr0 pass",
                         {});
  return z;
}

// The admittance matrix with the conductance shunts added to the diagonal
// entries of both forms (entries 1..N of each are the diagonals).
Admittance Assemble(Workspace &ws, const Arrays &a) {
  Admittance y = AssembleAdmittance(ws, a.n, a.Branches(), ShuntView{a.ksh, a.bsh});
  for (std::int32_t i = 0; i < a.n; ++i) {
    if (a.gsh[i] == 0.0f) continue;
    y.triplets.value[i].re += a.gsh[i];
    y.row_indexed.sa[i].re += a.gsh[i];
  }
  return y;
}

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

// The three sequence networks and their factors; the negative sequence
// shares the positive one's factors when their generator reactances agree
// (the same matrix factors to the same set).
struct Sequences {
  Arrays net[3];
  FactorSet<Complex> factors[3];
  bool negative_is_positive = false;
  const FactorSet<Complex> &Of(int s) const { return s == 2 && negative_is_positive ? factors[1] : factors[s]; }
};

void FactorSequences(Workspace &ws, const casefile::Network &net, const study::Options &o, Sequences &seq) {
  const Arrays positive = Positive(net);
  seq.net[0] = ZeroSequence(net, positive, o);
  seq.net[1] = PositiveLike(net, positive, o.xd);
  seq.negative_is_positive = o.X2() == o.xd;
  seq.net[2] = seq.negative_is_positive ? Arrays{} : PositiveLike(net, positive, o.X2());
  const char *names[3] = {"zero-sequence admittance matrix", "positive-sequence admittance matrix",
                          "negative-sequence admittance matrix"};
  for (int s = 0; s < 3; ++s) {
    if (s == 2 && seq.negative_is_positive) {
      seq.net[2] = seq.net[1];
      continue;
    }
    const Admittance y = Assemble(ws, seq.net[s]);
    seq.factors[s] = FactorOf(ws, y.triplets, names[s]);
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

std::shared_ptr<LoadedCase> WithoutBranches(const LoadedCase &c, std::span<const std::int32_t> rows) {
  auto out = std::make_shared<LoadedCase>();
  out->text = c.text;
  out->source = c.source;
  out->table = c.table;
  for (std::int32_t row : rows) {
    if (row < 1 || static_cast<std::size_t>(row) > out->table.branches.size())
      throw casefile::CaseError(c.source + ": branch " + std::to_string(row) + " is not in the branch table (1.." +
                                std::to_string(out->table.branches.size()) + ")");
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
                             const study::Options &o, std::span<const std::complex<float>> prefault_by_node) {
  const casefile::Network &bn = base.net;
  const std::size_t buses = static_cast<std::size_t>(bn.n), types = o.faults.size();
  ScreeningBatch out;
  out.levels.assign(outages.size() * types * buses, std::numeric_limits<double>::quiet_NaN());
  out.failures.resize(outages.size());
  const bool per_unit = PerUnitCurrents(bn);
  std::vector<Complex> e(buses);
  for (std::size_t j = 0; j < buses; ++j) e[j] = {prefault_by_node[j].real(), prefault_by_node[j].imag()};
  const std::vector<float> ub = BaseVoltages(bn);
  Sequences seq; // reused from outage to outage
  for (std::size_t oi = 0; oi < outages.size(); ++oi) {
    try {
      const std::int32_t row = outages[oi];
      std::shared_ptr<LoadedCase> changed;
      if (row != 0) changed = WithoutBranches(base, {&row, 1});
      const casefile::Network &net = row != 0 ? changed->net : bn;
      // Taking a branch out changes no bus type, so the node numbers stay.
      if (net.n != bn.n || net.bus_of_node != bn.bus_of_node)
        throw study::StudyError("the outage changes the network's buses");
      FactorSequences(ws, net, o, seq);
      // Every node's driving-point impedances from the factors at once.
      const std::vector<NodeFaultLevels> levels =
          FaultLevels(ws, SequenceFactors{seq.Of(0), seq.Of(1), seq.Of(2)}, ub, e);
      for (std::size_t kk = 0; kk < buses; ++kk) {
        const std::int32_t k = static_cast<std::int32_t>(kk + 1);
        for (std::size_t t = 0; t < types; ++t) {
          const PhaseCurrents &p = levels[kk].of(static_cast<FaultType>(o.faults[t])).phase;
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
