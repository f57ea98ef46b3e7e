// Solid faults in symmetrical components through the native interface:
// each sequence network is assembled (AssembleAdmittance; generators as
// nodal susceptances -1/x on the system base, bus conductances added by the
// host to the diagonal entries) and factored once (Factor). Per faulted node
// K a unit injection at K solved with each distinct factor set (and refined
// against the host's double-precision matrix) gives the impedance column of K; its diagonal entries are the Thevenin impedances,
// and the library's fault computation (Fault), given the node's own entries
// only, the sequence currents and the node's phase voltages. A detailed
// fault passes the whole columns and takes the branch currents of every
// sequence (BranchCurrents).
//
// Sequence data (the case files carry none): negative-sequence branches as
// positive; zero-sequence line impedance a multiple of the positive one with
// the same end admittances; transformers pass (Z0 = Z1) or block the zero
// sequence; bus shunts and loads are left out of the zero sequence, loads
// out of every sequence; phase shifts are left out of all three.
#include "tools/study/engine.hpp"
#include "tools/study/engine_internal.hpp"

#include "orvek/orvek.hpp"

#include <algorithm>
#include <cmath>

namespace orvek::study {

namespace {

using cd = std::complex<double>;

Complex ToLibrary(cd v) { return {static_cast<float>(v.real()), static_cast<float>(v.imag())}; }
cd FromLibrary(Complex v) { return {v.re, v.im}; }

struct SequenceNetwork {
  std::vector<std::int32_t> from, to;
  std::vector<Complex> z, ya, yb;
  std::vector<std::int32_t> shunt_node;
  std::vector<float> shunt_b;
  std::vector<float> gs;                  // per node, added to the diagonal
  std::vector<std::int32_t> branch_index; // network branch -> branch here, -1 when left out
  std::vector<HostMatrix::Entry> entries; // the same matrix in double, for the refinement
  HostMatrix exact;
  TripletMatrix<Complex> matrix; // as assembled by the library, conductances added
  FactorSet<Complex> factors;

  BranchView Branches() const { return {from, to, z, ya, yb}; }
};

void AddGenerators(const casefile::Network &net, double x_machine, const char *option, SequenceNetwork &s) {
  for (const casefile::NetworkGenerator &g : net.generators) {
    const double b = -g.mbase / (x_machine * net.base_mva);
    CheckSingleRange(b, net.source + ": generator at bus " + std::to_string(net.bus_of_node[g.node - 1]) + " (line " +
                            std::to_string(g.line) + "): the susceptance -1/x with " + option + " " +
                            Number(x_machine));
    s.shunt_node.push_back(g.node);
    s.shunt_b.push_back(static_cast<float>(b));
    s.entries.push_back({g.node - 1, g.node - 1, cd(0.0, b)});
  }
}

SequenceNetwork BuildSequence(const casefile::Network &net, const FaultOptions &o, int sequence) {
  SequenceNetwork s;
  const bool zero = sequence == 0;
  s.branch_index.assign(net.branches.size(), -1);
  for (std::size_t k = 0; k < net.branches.size(); ++k) {
    const casefile::NetworkBranch &b = net.branches[k];
    cd z = b.z;
    if (zero) {
      if (b.transformer && o.transformer0 == Transformer0::kBlock) continue;
      if (!b.transformer) {
        z *= o.line_z0;
        const std::string what = net.source + ": " + BranchName(net, b) + ": the zero-sequence impedance with --z0-line " +
                                 Number(o.line_z0);
        CheckSingleRange(z.real(), what + " (real part)");
        CheckSingleRange(z.imag(), what + " (imaginary part)");
      }
    }
    s.branch_index[k] = static_cast<std::int32_t>(s.from.size());
    s.from.push_back(b.from);
    s.to.push_back(b.to);
    s.z.push_back(ToLibrary(z));
    s.ya.push_back(ToLibrary(b.ya));
    s.yb.push_back(ToLibrary(b.yb));
    const cd y = 1.0 / z;
    const std::int32_t f = b.from - 1, t = b.to - 1;
    s.entries.insert(s.entries.end(), {{f, f, y + b.ya}, {t, t, y + b.yb}, {f, t, -y}, {t, f, -y}});
  }
  s.gs.assign(static_cast<std::size_t>(net.n), 0.0f);
  if (!zero) {
    for (std::int32_t i = 0; i < net.n; ++i) {
      s.gs[i] = static_cast<float>(net.gs[i]);
      s.entries.push_back({i, i, cd(net.gs[i], net.bs[i])});
      if (net.bs[i] != 0) {
        s.shunt_node.push_back(i + 1);
        s.shunt_b.push_back(static_cast<float>(net.bs[i]));
      }
    }
    AddGenerators(net, sequence == 1 ? o.xd : o.X2(), sequence == 1 || !o.x2 ? "--xd" : "--x2", s);
  } else if (!o.x0_open) {
    AddGenerators(net, o.X0(), o.x0 ? "--x0" : "--xd", s);
  }
  if (zero) {
    // A node without any zero-sequence element would make the matrix singular.
    std::vector<bool> touched(static_cast<std::size_t>(net.n), false);
    for (std::size_t k = 0; k < s.from.size(); ++k) touched[s.from[k] - 1] = touched[s.to[k] - 1] = true;
    for (std::int32_t node : s.shunt_node) touched[node - 1] = true;
    for (std::int32_t i = 0; i < net.n; ++i)
      if (!touched[i])
        throw StudyError(net.source + ": bus " + std::to_string(net.bus_of_node[i]) +
                         " has no zero-sequence connection (transformers block the zero sequence); use --xfmr0 pass");
  }
  return s;
}

void FactorSequence(Workspace &ws, const casefile::Network &net, SequenceNetwork &s, const char *name) {
  Admittance y = AssembleAdmittance(ws, net.n, s.Branches(), {s.shunt_node, s.shunt_b});
  // Entries 1..N of the triplet list are the diagonals of nodes 1..N.
  for (std::int32_t i = 0; i < net.n; ++i) y.triplets.value[i].re += s.gs[i];
  s.factors = FactorWithRoom(ws, y.triplets, net.source + ": " + name + " admittance matrix");
  s.matrix = std::move(y.triplets);
  s.exact = HostMatrix::FromEntries(net.n, std::move(s.entries));
}

struct Sequences {
  SequenceNetwork net[3];
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
    q.net[s] = BuildSequence(net, o, s);
    FactorSequence(ws, net, q.net[s], names[s]);
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
    const SequenceNetwork &sn = q.net[s];
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
    const SequenceNetwork &s0 = q.net[q.same_as[0]], &s1 = q.net[q.same_as[1]], &s2 = q.net[q.same_as[2]];
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
      const SequenceNetwork &sn = q.net[q.same_as[s]];
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
