// Solid faults in symmetrical components through the native interface:
// each sequence network (formed by FormSequenceNetwork, sequence_networks.hpp)
// is assembled and factored once. Per faulted node K a unit injection at K
// solved with each distinct factor set (and refined against the host's
// double-precision matrix) gives the impedance column of K; its diagonal
// entries are the Thevenin impedances, and the library's fault computation
// (Fault), given the node's own entries only, the sequence currents and the
// node's phase voltages. A detailed fault passes the whole columns and takes
// the branch currents of every sequence (BranchCurrents).
//
// In: a checked case, the fault options, the pre-fault voltages per node.
// Out: FaultLevel per node and type, or FaultDetail for one node. Errors:
// StudyError naming the case, the bus, branch or option.
#include "tools/study/engine.hpp"
#include "tools/study/engine_internal.hpp"
#include "tools/study/sequence_networks.hpp"

#include "orvek/orvek.hpp"

#include <algorithm>
#include <cmath>

namespace orvek::study {

namespace {

using cd = std::complex<double>;

Complex ToLibrary(cd v) { return {static_cast<float>(v.real()), static_cast<float>(v.imag())}; }
cd FromLibrary(Complex v) { return {v.re, v.im}; }

// A sequence network with its matrix as assembled by the library
// (conductances added), its factors and its double-precision matrix.
struct FactoredSequence {
  SequenceNetwork net;
  HostMatrix exact;
  TripletMatrix<Complex> matrix;
  FactorSet<Complex> factors;

  BranchView Branches() const { return net.Branches(); }
};

struct Sequences {
  FactoredSequence net[3];
  int same_as[3] = {0, 1, 2}; // the network whose factors serve sequence s
};

Sequences Prepare(Workspace &ws, const casefile::Network &net, const FaultOptions &o) {
  Sequences q;
  const char *names[3] = {"zero-sequence", "positive-sequence", "negative-sequence"};
  for (int s = 0; s < 3; ++s) {
    // The negative sequence is the positive one when x2 = x''.
    if (s == 2 && o.X2() == o.xd) {
      q.same_as[2] = 1;
      continue;
    }
    FactoredSequence &f = q.net[s];
    try {
      f.net = FormSequenceNetwork(net, o, static_cast<Sequence>(s));
    } catch (const StudyError &e) {
      throw StudyError(net.source + ": " + e.what());
    }
    f.matrix = AssembleSequence(ws, net.n, f.net);
    f.factors = FactorWithRoom(ws, f.matrix, net.source + ": " + names[s] + " admittance matrix");
    f.exact = HostMatrix::FromEntries(net.n, std::move(f.net.entries));
  }
  return q;
}

std::vector<float> BaseVoltages(const casefile::Network &net) {
  // The fault routine scales its zero thresholds by the base voltage; a bus
  // without one is given 1 so that its results are not blanked.
  std::vector<float> ub(static_cast<std::size_t>(net.n), 1.0f);
  for (std::int32_t i = 0; i < net.n; ++i)
    if (net.base_kv[i] > 0) ub[i] = static_cast<float>(net.base_kv[i]);
  return ub;
}

FaultLevel Level(std::int32_t node, FaultType type, const FaultCurrents &c, Complex va, Complex vb, Complex vc,
                 Complex z0, Complex z1, Complex z2) {
  FaultLevel f;
  f.node = node;
  f.type = type;
  f.i0 = FromLibrary(c.i0);
  f.i1 = FromLibrary(c.i1);
  f.i2 = FromLibrary(c.i2);
  const cd a = std::polar(1.0, 2.0 * kPi / 3.0);
  f.ia = std::abs(f.i0 + f.i1 + f.i2);
  f.ib = std::abs(f.i0 + a * a * f.i1 + a * f.i2);
  f.ic = std::abs(f.i0 + a * f.i1 + a * a * f.i2);
  f.va = std::abs(FromLibrary(va));
  f.vb = std::abs(FromLibrary(vb));
  f.vc = std::abs(FromLibrary(vc));
  f.z0 = FromLibrary(z0);
  f.z1 = FromLibrary(z1);
  f.z2 = FromLibrary(z2);
  return f;
}

// x is refined until the first-order term falls below this fraction of
// Z(k,k) (at most kMaxColumnRefinements times): on case13659pegase the
// stationary form is then within 1e-6 of the double-precision inverse at
// every bus (a looser 1e-4 left 1e-4 at its worst-conditioned buses, where
// the refinement converges slowly).
constexpr double kSettledCorrection = 1e-6;
constexpr int kMaxColumnRefinements = 12;

// Work vectors of the column solves.
struct ColumnWork {
  explicit ColumnWork(std::size_t n) : unit(n), fx(n), fb(n), x(n), r(n), b(n) {}
  std::vector<Complex> unit, fx, fb;
  std::vector<cd> x, r, b;
};

// The impedance columns of node k (1-based) into col[0..2]: the solution
// for a unit injection at k with the single-precision factors, refined
// against the host's double-precision matrix. Rounding the admittances to
// single precision alone moves a driving-point impedance by up to 2e-5
// (case1354pegase) or 1.7e-4 (case13659pegase) relative; the refinement
// brings the results to the double-precision network's. With `full` the
// whole column is refined (kMaxColumnRefinements more solves); otherwise
// only the diagonal entry, from the symmetric matrix's stationary form
//   Z(k,k) ≈ x_k + xᵀ(e_k − Y·x),
// whose error is of the order of the square of x's: where the first-order
// term is large (an ill-conditioned driving point), x is refined first.
void Columns(Workspace &ws, const Sequences &q, std::int32_t k, ColumnWork &w, std::vector<Complex> (&col)[3],
             bool full) {
  const std::size_t kk = static_cast<std::size_t>(k - 1), n = w.x.size();
  w.unit[kk] = Complex{1.0f, 0.0f};
  w.b[kk] = 1.0;
  for (int s = 0; s < 3; ++s) {
    if (q.same_as[s] != s) {
      col[s] = col[q.same_as[s]];
      continue;
    }
    const FactoredSequence &sn = q.net[s];
    Solve(ws, sn.factors, w.unit, w.fx);
    for (std::size_t i = 0; i < n; ++i) w.x[i] = FromLibrary(w.fx[i]);
    for (int step = 0;; ++step) {
      sn.exact.Residual(w.b, w.x, w.r);
      cd delta = 0;
      for (std::size_t i = 0; i < n; ++i) delta += w.x[i] * w.r[i];
      const bool settled = std::abs(delta) <= kSettledCorrection * std::abs(w.x[kk] + delta);
      if (!full && (settled || step == kMaxColumnRefinements)) {
        col[s][kk] = ToLibrary(w.x[kk] + delta);
        break;
      }
      if (full && step == kMaxColumnRefinements) {
        for (std::size_t i = 0; i < n; ++i) col[s][i] = ToLibrary(w.x[i]);
        break;
      }
      for (std::size_t i = 0; i < n; ++i) w.fb[i] = ToLibrary(w.r[i]);
      Solve(ws, sn.factors, w.fb, w.fx);
      for (std::size_t i = 0; i < n; ++i) w.x[i] += FromLibrary(w.fx[i]);
    }
  }
  w.unit[kk] = Complex{};
  w.b[kk] = 0.0;
}

// The library's all-node fault levels: the driving-point impedances of
// every node at once from the sparse inverse subset of the factors, in
// double along their pivots from the assembled matrices. They come with the
// library's FaultLevels; a library without it leaves every study on the
// refined columns (LibraryFaultLevels returns false).
template <class W>
concept HasFaultLevels = requires(W &ws, const SequenceFactors &f, std::span<const float> ub,
                                  std::span<const Complex> e, std::span<const std::int32_t> nodes) {
  FaultLevels(ws, f, ub, e, nodes);
};

template <class W, class Sink>
bool LibraryFaultLevels(W &ws, const Sequences &q, const std::vector<float> &ub, const std::vector<cd> &e,
                        const std::vector<std::int32_t> &nodes, Sink &&sink) {
  if constexpr (HasFaultLevels<W>) {
    const FactoredSequence &s0 = q.net[q.same_as[0]], &s1 = q.net[q.same_as[1]], &s2 = q.net[q.same_as[2]];
    std::vector<Complex> ef(e.size());
    for (std::size_t i = 0; i < e.size(); ++i) ef[i] = ToLibrary(e[i]);
    const SequenceFactors factors{s0.factors, s1.factors, s2.factors};
    const std::span<const float> ubs(ub);
    const std::span<const Complex> es(ef);
    const std::span<const std::int32_t> ns(nodes);
    const auto diag = FaultLevels(ws, factors, ubs, es, ns, {&s0.matrix, &s1.matrix, &s2.matrix});
    for (const auto &d : diag) sink(d.node, d.z0, d.z1, d.z2);
    return true;
  } else {
    (void)ws, (void)q, (void)ub, (void)e, (void)nodes, (void)sink;
    return false;
  }
}

} // namespace

std::vector<FaultLevel> ComputeFaultLevels(const StudyCase &c, const FaultOptions &o,
                                           const std::vector<std::complex<double>> &e,
                                           const std::vector<std::int32_t> &nodes, const Progress &progress) {
  const casefile::Network &net = c.net;
  Workspace ws;
  const Sequences q = Prepare(ws, net, o);
  const std::vector<float> ub = BaseVoltages(net);
  const std::size_t n = static_cast<std::size_t>(net.n);
  const long total = nodes.empty() ? net.n : static_cast<long>(nodes.size());
  std::vector<FaultLevel> out;
  out.reserve(static_cast<std::size_t>(total) * o.types.size());
  // The library's fault computation for node k from its own entries: a
  // one-node call gives exactly the currents and voltages of the full call.
  auto levels_at = [&](std::int32_t k, Complex z0, Complex z1, Complex z2) {
    const std::size_t kk = static_cast<std::size_t>(k - 1);
    const float ubk[1] = {ub[kk]};
    const Complex ek[1] = {ToLibrary(e[kk])}, a0[1] = {z0}, a1[1] = {z1}, a2[1] = {z2};
    for (FaultType type : o.types) {
      const FaultResult r = Fault(ws, static_cast<std::int32_t>(type), 1, ubk, ek, a0, a1, a2);
      out.push_back(Level(k, type, r.currents, r.va[0], r.vb[0], r.vc[0], z0, z1, z2));
    }
  };
  if (!o.refine && LibraryFaultLevels(ws, q, ub, e, nodes, levels_at)) {
    if (progress) progress("fault levels", total, total);
    return out;
  }
  ColumnWork work(n);
  std::vector<Complex> col[3] = {std::vector<Complex>(n), std::vector<Complex>(n), std::vector<Complex>(n)};
  for (long j = 0; j < total; ++j) {
    const std::int32_t k = nodes.empty() ? static_cast<std::int32_t>(j + 1) : nodes[static_cast<std::size_t>(j)];
    Columns(ws, q, k, work, col, false);
    const std::size_t kk = static_cast<std::size_t>(k - 1);
    levels_at(k, col[0][kk], col[1][kk], col[2][kk]);
    if (progress) progress("fault levels", j + 1, total);
  }
  return out;
}

std::vector<FaultDetail> DetailedFault(const StudyCase &c, const FaultOptions &o,
                                       const std::vector<std::complex<double>> &e, std::int32_t node) {
  const casefile::Network &net = c.net;
  Workspace ws;
  const Sequences q = Prepare(ws, net, o);
  const std::vector<float> ub = BaseVoltages(net);
  const std::size_t n = static_cast<std::size_t>(net.n);
  ColumnWork work(n);
  std::vector<Complex> col[3] = {std::vector<Complex>(n), std::vector<Complex>(n), std::vector<Complex>(n)};
  Columns(ws, q, node, work, col, true);
  std::vector<Complex> ef(n);
  for (std::size_t i = 0; i < n; ++i) ef[i] = ToLibrary(e[i]);
  const cd a = std::polar(1.0, 2.0 * kPi / 3.0);
  std::vector<FaultDetail> out;
  for (FaultType type : o.types) {
    const FaultResult r = Fault(ws, static_cast<std::int32_t>(type), node, ub, ef, col[0], col[1], col[2]);
    FaultDetail d;
    const std::size_t kk = static_cast<std::size_t>(node - 1);
    d.level = Level(node, type, r.currents, r.va[kk], r.vb[kk], r.vc[kk], col[0][kk], col[1][kk], col[2][kk]);
    for (std::size_t i = 0; i < n; ++i) {
      d.va.push_back(FromLibrary(r.va[i]));
      d.vb.push_back(FromLibrary(r.vb[i]));
      d.vc.push_back(FromLibrary(r.vc[i]));
    }
    // Sequence currents at the first end of every branch.
    const std::vector<Complex> *v[3] = {&r.v0, &r.v1, &r.v2};
    std::vector<cd> seq[3];
    for (int s = 0; s < 3; ++s) {
      seq[s].assign(net.branches.size(), 0.0);
      const SequenceNetwork &sn = q.net[q.same_as[s]].net;
      if (sn.from.empty()) continue;
      const BranchFlows f = BranchCurrents(ws, sn.Branches(), *v[s]);
      for (std::size_t b = 0; b < net.branches.size(); ++b)
        if (sn.branch_index[b] >= 0) seq[s][b] = FromLibrary(f.first[static_cast<std::size_t>(sn.branch_index[b])]);
    }
    for (std::size_t b = 0; b < net.branches.size(); ++b) {
      d.ia.push_back(seq[0][b] + seq[1][b] + seq[2][b]);
      d.ib.push_back(seq[0][b] + a * a * seq[1][b] + a * seq[2][b]);
      d.ic.push_back(seq[0][b] + a * seq[1][b] + a * a * seq[2][b]);
    }
    out.push_back(std::move(d));
  }
  return out;
}

} // namespace orvek::study
