// Studies over the native C++ API (see engine.hpp). The steps and their
// order follow tools/study/power_flow.cpp and tools/study/faults.cpp, with
// each exported routine replaced by the native call over the same kernel:
// MatricaY -> AssembleAdmittance, Matrici_VektoriBX -> FastDecoupledMatrices,
// LUR/LUC -> Factor, BSR/BSC -> Solve, MNOZI -> NodePowers, So -> NodePower,
// NaponiKV -> Fault, StruiKV -> BranchCurrents, SimFaz/SimFaz1 -> SimFaz1
// per value (it keeps no state and cannot fail).
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

Complex SeqToPhase(const Complex &x0, const Complex &x1, const Complex &x2, Complex &pb, Complex &pc) {
  float p[6];
  SimFaz1(&x0.re, &x0.im, &x1.re, &x1.im, &x2.re, &x2.im, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
  pb = {p[2], p[3]};
  pc = {p[4], p[5]};
  return {p[0], p[1]};
}

std::complex<float> Std(const Complex &c) { return {c.re, c.im}; }

// The record of one fault type at node k from the three impedance columns'
// entries at k: the fault routine over the fault node alone gives exactly
// its currents and the fault node's voltages (nothing else enters them).
study::FaultRecord Record(Workspace &ws, study::FaultType type, std::int32_t k, float ub, const Complex &e,
                          const Complex (&zkk)[3]) {
  const std::int32_t itype = static_cast<std::int32_t>(type);
  const FaultResult f = Fault(ws, itype, 1, {&ub, 1}, {&e, 1}, {&zkk[0], 1}, {&zkk[1], 1}, {&zkk[2], 1});
  study::FaultRecord r;
  r.node = k;
  r.type = type;
  r.i0 = Std(f.currents.i0);
  r.i1 = Std(f.currents.i1);
  r.i2 = Std(f.currents.i2);
  Complex pb, pc;
  const Complex pa = SeqToPhase(f.currents.i0, f.currents.i1, f.currents.i2, pb, pc);
  r.ia = std::hypot(pa.re, pa.im);
  r.ib = std::hypot(pb.re, pb.im);
  r.ic = std::hypot(pc.re, pc.im);
  r.va = std::abs(Std(f.va[0]));
  r.vb = std::abs(Std(f.vb[0]));
  r.vc = std::abs(Std(f.vc[0]));
  r.zkk1 = std::abs(Std(zkk[1]));
  return r;
}

// Impedance columns of node k in the three sequence networks.
void Columns(Workspace &ws, const Sequences &seq, std::int32_t k, std::vector<Complex> &rhs,
             std::vector<Complex> (&col)[3]) {
  rhs[static_cast<std::size_t>(k - 1)] = Complex{1.0f, 0.0f};
  for (int s = 0; s < 3; ++s) {
    if (s == 2 && seq.negative_is_positive) {
      col[2] = col[1];
      continue;
    }
    Solve(ws, seq.Of(s), rhs, col[s]);
  }
  rhs[static_cast<std::size_t>(k - 1)] = Complex{};
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

// ---- Power flow ---------------------------------------------------------------

study::PowerFlowResult PowerFlow(Workspace &ws, const casefile::Network &net, const study::Options &o) {
  const std::int32_t n = net.n;
  const std::int32_t npq = net.npq;
  const std::int32_t nref = n - 1; // order of B'
  if (net.reference != n) throw study::StudyError("internal: the reference node must be the last node");

  const Arrays a = Positive(net);
  const Admittance y = Assemble(ws, a);
  const RowIndexed &yr = y.row_indexed;

  const DecoupledMatrices bx = FastDecoupledMatrices(ws, n, npq, DecoupledBranchView{a.from, a.to, a.r, a.x, a.t});
  FactorSet<float> b1, b2;
  if (nref > 0) {
    b1 = FactorOf(ws, bx.first, "power-flow matrix B'");
    CheckQuality(b1, "power-flow matrix B'");
  }
  if (npq > 0) {
    b2 = FactorOf(ws, bx.second, "power-flow matrix B''");
    CheckQuality(b2, "power-flow matrix B''");
  }

  // Specified injections and a flat start: PQ nodes at 1 per unit, PV and
  // the reference at their setpoints, every angle at the reference angle.
  std::vector<double> psp(n), qsp(n);
  for (std::int32_t i = 0; i < n; ++i) {
    psp[i] = net.pg[i] - net.pd[i];
    qsp[i] = net.qg[i] - net.qd[i];
  }
  study::PowerFlowResult r;
  r.vm.assign(n, 1.0f);
  r.va.assign(n, static_cast<float>(net.va_file[n - 1] * kPi / 180.0));
  for (std::int32_t i = npq; i < n; ++i) r.vm[i] = static_cast<float>(net.vm_set[i]);

  std::vector<Complex> s;
  auto powers = [&]() { s = NodePowers(ws, yr, r.vm, r.va); };
  auto mismatch = [&]() {
    r.max_dp = 0;
    r.max_dq = 0;
    for (std::int32_t i = 0; i < nref; ++i) {
      const double d = std::fabs(psp[i] - s[i].re);
      if (!(d <= r.max_dp)) {
        r.max_dp = d;
        r.worst_p_node = i + 1;
      }
    }
    for (std::int32_t i = 0; i < npq; ++i) {
      const double d = std::fabs(qsp[i] - s[i].im);
      if (!(d <= r.max_dq)) {
        r.max_dq = d;
        r.worst_q_node = i + 1;
      }
    }
  };

  std::vector<float> rhs(std::max(nref, 1)), dx(std::max(nref, 1));
  for (int it = 0;; ++it) {
    powers();
    mismatch();
    if (r.max_dp < o.tolerance && r.max_dq < o.tolerance) {
      r.converged = true;
      r.iterations = it;
      break;
    }
    if (it == o.max_iterations || !std::isfinite(r.max_dp) || !std::isfinite(r.max_dq)) {
      r.iterations = it;
      break;
    }
    // Active half-iteration.
    for (std::int32_t i = 0; i < nref; ++i) rhs[i] = static_cast<float>((psp[i] - s[i].re) / r.vm[i]);
    if (nref > 0) Solve(ws, b1, std::span<const float>(rhs.data(), nref), std::span<float>(dx.data(), nref));
    for (std::int32_t i = 0; i < nref; ++i) r.va[i] += dx[i];
    // Reactive half-iteration.
    if (npq > 0) {
      powers();
      for (std::int32_t i = 0; i < npq; ++i) rhs[i] = static_cast<float>((qsp[i] - s[i].im) / r.vm[i]);
      Solve(ws, b2, std::span<const float>(rhs.data(), npq), std::span<float>(dx.data(), npq));
      for (std::int32_t i = 0; i < npq; ++i) r.vm[i] += dx[i];
    }
  }

  // Resolution of the computed node powers at the final voltages.
  for (std::int32_t i = 0; i < n - 1; ++i) {
    double sum = std::hypot(yr.sa[i].re, yr.sa[i].im) * r.vm[i];
    for (std::int32_t k = yr.ija[i]; k < yr.ija[i + 1]; ++k)
      sum += std::hypot(yr.sa[k - 1].re, yr.sa[k - 1].im) * r.vm[yr.ija[k - 1] - 1];
    const double res = kFloatRounding * r.vm[i] * sum;
    if (res > r.resolution) {
      r.resolution = res;
      r.resolution_node = i + 1;
    }
  }

  r.p.assign(n, 0.0f);
  r.q.assign(n, 0.0f);
  for (std::int32_t i = 0; i < n; ++i) {
    r.p[i] = s[i].re;
    r.q[i] = s[i].im;
  }
  // The reference node's injection once more, from complex voltages.
  std::vector<Complex> v(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) v[i] = {r.vm[i] * std::cos(r.va[i]), r.vm[i] * std::sin(r.va[i])};
  const Complex sref = NodePower(ws, yr, n, v);
  r.slack_pq = {sref.re, sref.im};
  return r;
}

// ---- Faults -------------------------------------------------------------------

bool PerUnitCurrents(const casefile::Network &net) {
  return std::any_of(net.base_kv.begin(), net.base_kv.end(), [](double kv) { return kv <= 0; });
}

double OutputCurrent(const casefile::Network &net, bool per_unit, double pu, std::int32_t node) {
  if (per_unit) return pu;
  return pu * net.base_mva / (kSqrt3 * net.base_kv[static_cast<std::size_t>(node - 1)]);
}

std::vector<std::complex<float>> Prefault(const casefile::Network &net, const study::PowerFlowResult *pf) {
  std::vector<std::complex<float>> e(static_cast<std::size_t>(net.n), {1.0f, 0.0f});
  if (pf)
    for (std::int32_t i = 0; i < net.n; ++i)
      e[i] = {pf->vm[i] * std::cos(pf->va[i]), pf->vm[i] * std::sin(pf->va[i])};
  return e;
}

study::FaultStudy Faults(Workspace &ws, const casefile::Network &net, const study::Options &o,
                         std::span<const std::complex<float>> prefault, std::span<const std::int32_t> nodes) {
  const std::int32_t n = net.n;
  study::FaultStudy study;
  Sequences seq;
  FactorSequences(ws, net, o, seq);
  study.per_unit_currents = PerUnitCurrents(net);
  const std::vector<float> ub = BaseVoltages(net);
  std::vector<Complex> e(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) e[i] = {prefault[i].real(), prefault[i].imag()};

  std::vector<Complex> rhs(static_cast<std::size_t>(n)), col[3];
  for (auto &c : col) c.resize(static_cast<std::size_t>(n));
  const bool single = nodes.size() == 1;
  if (single) study.detail_node = nodes[0];
  for (std::int32_t k : nodes) {
    Columns(ws, seq, k, rhs, col);
    const std::size_t kk = static_cast<std::size_t>(k - 1);
    const Complex zkk[3] = {col[0][kk], col[1][kk], col[2][kk]};
    for (study::FaultType type : o.faults) {
      study.records.push_back(Record(ws, type, k, ub[kk], e[kk], zkk));
      if (!single) continue;
      // Every node's voltages, then the sequence currents at the first end
      // of every branch from the sequence voltages.
      const FaultResult f = Fault(ws, static_cast<std::int32_t>(type), k, ub, e, col[0], col[1], col[2]);
      study::FaultDetail d;
      d.type = type;
      for (std::int32_t i = 0; i < n; ++i) {
        d.vpa.push_back(Std(f.va[i]));
        d.vpb.push_back(Std(f.vb[i]));
        d.vpc.push_back(Std(f.vc[i]));
      }
      const std::vector<Complex> *v[3] = {&f.v0, &f.v1, &f.v2};
      std::vector<Complex> ie1[3];
      for (int s = 0; s < 3; ++s) {
        const Arrays &a = seq.net[s];
        const BranchFlows own = BranchCurrents(ws, a.Branches(), *v[s]);
        ie1[s].assign(net.branches.size(), Complex{});
        for (std::size_t b = 0; b < net.branches.size(); ++b)
          if (a.branch_index[b] >= 0) ie1[s][b] = own.first[static_cast<std::size_t>(a.branch_index[b])];
      }
      for (std::size_t b = 0; b < net.branches.size(); ++b) {
        Complex pb, pc;
        const Complex pa = SeqToPhase(ie1[0][b], ie1[1][b], ie1[2][b], pb, pc);
        d.iba.push_back(Std(pa));
        d.ibb.push_back(Std(pb));
        d.ibc.push_back(Std(pc));
      }
      study.details.push_back(std::move(d));
    }
  }
  return study;
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
