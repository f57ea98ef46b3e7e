// Fast decoupled power flow (BX scheme) with double-precision mismatches:
// the host's own double-precision admittance matrix (bus shunts, charging,
// off-nominal ratios and phase shifts) gives the node powers and the
// mismatches; the library's single-precision constant matrices B' (order
// N - 1) and B'' (order NPQ), each factored once per set of bus types, give
// the corrections
//   B' dθ = ΔP/|V|  (all but the reference),  B'' d|V| = ΔQ/|V|  (PQ buses).
// As in the peers' fast decoupled solvers, B' and B'' leave the phase shifts
// out; the mismatches keep them, so the solution is that of the full model.
// The solver numbers the buses PQ first, then PV, then the reference (the
// order the library's matrices need) and renumbers after a PV/PQ switch.
#include "tools/study/engine.hpp"
#include "tools/study/engine_internal.hpp"

#include "orvek/orvek.hpp"

#include <algorithm>
#include <cmath>

namespace orvek::study {

namespace {

using cd = std::complex<double>;
using casefile::BusType;

// Two-port of a branch with tap a = t·e^{jθ} at the first end.
struct TwoPort {
  cd ff, ft, tf, tt;
};
TwoPort BranchTwoPort(const casefile::NetworkBranch &b) {
  const cd ys = 1.0 / cd(b.r, b.x);
  const cd half(0.0, b.b / 2.0);
  const cd a = std::polar(b.ratio, b.shift_deg * kPi / 180.0);
  return {(ys + half) / (b.ratio * b.ratio), -ys / std::conj(a), -ys / a, ys + half};
}

HostMatrix BuildDoubleMatrix(const casefile::Network &net) {
  std::vector<HostMatrix::Entry> e;
  e.reserve(static_cast<std::size_t>(net.n) + 4 * net.branches.size());
  for (std::int32_t i = 0; i < net.n; ++i) e.push_back({i, i, cd(net.gs[i], net.bs[i])});
  for (const casefile::NetworkBranch &b : net.branches) {
    const TwoPort t = BranchTwoPort(b);
    const std::int32_t f = b.from - 1, to = b.to - 1;
    e.push_back({f, f, t.ff});
    e.push_back({f, to, t.ft});
    e.push_back({to, f, t.tf});
    e.push_back({to, to, t.tt});
  }
  return HostMatrix::FromEntries(net.n, std::move(e));
}

void NodePowers(const HostMatrix &y, const std::vector<double> &vm, const std::vector<double> &va,
                std::vector<cd> &v, std::vector<cd> &s) {
  const std::size_t n = vm.size();
  for (std::size_t i = 0; i < n; ++i) v[i] = std::polar(vm[i], va[i]);
  for (std::size_t i = 0; i < n; ++i) {
    cd sum = 0;
    for (std::int32_t k = y.start[i]; k < y.start[i + 1]; ++k) sum += y.val[k] * v[y.col[k]];
    s[i] = v[i] * std::conj(sum);
  }
}

// The library's B' and B'' for one set of bus types, factored.
struct Decoupled {
  std::vector<std::int32_t> order;  // solver position -> node - 1
  std::vector<std::int32_t> pos;    // node - 1 -> solver position
  std::int32_t npq = 0;
  TripletMatrix<float> a1, a2;
  FactorSet<float> first, second;
};

// x = A⁻¹ rhs from the single-precision factors of A, refined `rounds`
// times with residuals rhs - A·x formed in double from A's own values. On
// the large networks the single-precision solve alone leaves corrections
// far enough from B'⁻¹ΔP to slow the iteration (case13659pegase: 244
// iterations unrefined, 79 with one refinement).
void Correction(Workspace &ws, const FactorSet<float> &f, const TripletMatrix<float> &a,
                const std::vector<double> &rhs, std::vector<double> &x, int rounds, std::vector<float> &fb,
                std::vector<float> &fx, std::vector<double> &res) {
  const std::size_t n = static_cast<std::size_t>(a.n);
  const std::span<const float> b(fb.data(), n);
  const std::span<float> out(fx.data(), n);
  for (std::size_t i = 0; i < n; ++i) fb[i] = static_cast<float>(rhs[i]);
  Solve(ws, f, b, out);
  for (std::size_t i = 0; i < n; ++i) x[i] = fx[i];
  for (int k = 0; k < rounds; ++k) {
    for (std::size_t i = 0; i < n; ++i) res[i] = rhs[i];
    for (std::size_t e = 0; e < a.value.size(); ++e)
      res[static_cast<std::size_t>(a.irow[e] - 1)] -= static_cast<double>(a.value[e]) * x[static_cast<std::size_t>(a.jcol[e] - 1)];
    for (std::size_t i = 0; i < n; ++i) fb[i] = static_cast<float>(res[i]);
    Solve(ws, f, b, out);
    for (std::size_t i = 0; i < n; ++i) x[i] += fx[i];
  }
}

Decoupled Factorize(Workspace &ws, const casefile::Network &net, const std::vector<BusType> &type) {
  Decoupled d;
  const std::int32_t n = net.n;
  for (BusType want : {BusType::kPQ, BusType::kPV, BusType::kReference})
    for (std::int32_t i = 0; i < n; ++i)
      if (type[i] == want) d.order.push_back(i);
  d.pos.assign(static_cast<std::size_t>(n), 0);
  for (std::int32_t p = 0; p < n; ++p) d.pos[d.order[p]] = p;
  d.npq = static_cast<std::int32_t>(std::count(type.begin(), type.end(), BusType::kPQ));
  const std::size_t nb = net.branches.size();
  std::vector<std::int32_t> from(nb), to(nb);
  std::vector<float> r(nb), x(nb), t(nb);
  for (std::size_t k = 0; k < nb; ++k) {
    const casefile::NetworkBranch &b = net.branches[k];
    from[k] = d.pos[b.from - 1] + 1;
    to[k] = d.pos[b.to - 1] + 1;
    r[k] = static_cast<float>(b.r);
    x[k] = static_cast<float>(b.x);
    t[k] = static_cast<float>(b.ratio);
  }
  const DecoupledMatrices m = FastDecoupledMatrices(ws, n, d.npq, {from, to, r, x, t});
  auto factor = [&](const TripletMatrix<float> &a, const char *name) {
    return a.n == 0 ? FactorSet<float>{} : FactorWithRoom(ws, a, net.source + ": power-flow matrix " + name);
  };
  d.first = factor(m.first, "B'");
  d.second = factor(m.second, "B''");
  d.a1 = m.first;
  d.a2 = m.second;
  return d;
}

template <class T> FactorSet<T> FactorGrowing(Workspace &ws, const TripletMatrix<T> &a, const std::string &what) {
  FactorSet<T> f;
  for (std::int64_t room = 0;; room = room == 0 ? 6 * static_cast<std::int64_t>(a.nz()) : 2 * room) {
    try {
      f = room == 0 ? Factor(ws, a) : Factor(ws, a, FactorOptions{room});
      break;
    } catch (const Error &e) {
      // Codes 19 to 21 of the elimination: the workspace limit was reached.
      const bool limit = e.code() >= 19 && e.code() <= 21 && e.routine().rfind("L2T", 0) == 0;
      if (!limit || 2 * room > static_cast<std::int64_t>(kMaxRoomFactor) * a.nz()) throw;
    }
  }
  if (!f.complete())
    throw StudyError("the " + what + " is numerically singular (is every bus connected to the reference bus?)");
  return f;
}

struct BusLimits {
  double qmax = 0, qmin = 0; // sums over the bus's generators, per unit
  bool has_generator = false;
};

// What the steps of the power flow share: the network, the double-precision
// admittance matrix, the scheduled powers and reactive limits per bus, the
// result being built and the work vectors of the iteration (v and s hold
// the voltages and node powers last computed).
struct PowerFlowRun {
  PowerFlowRun(const casefile::Network &network, const PowerFlowOptions &options)
      : net(network), o(options), n(network.n), y(BuildDoubleMatrix(network)), psp(Size()), qsp(Size()),
        limits(Size()), bus_state(Size(), LimitState::kWithin), v(Size()), s(Size()), fb(Size()), fx(Size()),
        rhs(Size()), dx(Size()), res(Size()) {}
  std::size_t Size() const { return static_cast<std::size_t>(net.n); }

  const casefile::Network &net;
  const PowerFlowOptions &o;
  const std::int32_t n;
  Workspace ws;
  const HostMatrix y;
  PowerFlowResult r;
  std::vector<double> psp, qsp;
  std::vector<BusLimits> limits;
  std::vector<LimitState> bus_state;
  std::vector<cd> v, s;
  std::vector<float> fb, fx;
  std::vector<double> rhs, dx, res;
};

// Starting voltages, scheduled powers and each bus's reactive limits.
void StartPowerFlow(PowerFlowRun &run) {
  const casefile::Network &net = run.net;
  PowerFlowResult &r = run.r;
  r.type = net.type;
  r.vm.assign(run.Size(), 1.0);
  r.va.assign(run.Size(), 0.0);
  const double va_ref = net.va_file[net.reference - 1] * kPi / 180.0;
  for (std::int32_t i = 0; i < run.n; ++i) {
    const bool held = net.type[i] != BusType::kPQ;
    r.vm[i] = held ? net.vm_set[i] : (run.o.flat_start ? 1.0 : net.vm_file[i]);
    r.va[i] = run.o.flat_start ? va_ref : net.va_file[i] * kPi / 180.0;
  }
  for (std::int32_t i = 0; i < run.n; ++i) {
    run.psp[i] = net.pg[i] - net.pd[i];
    run.qsp[i] = net.qg[i] - net.qd[i];
  }
  for (const casefile::NetworkGenerator &g : net.generators) {
    BusLimits &l = run.limits[g.node - 1];
    l.qmax += g.qmax;
    l.qmin += g.qmin;
    l.has_generator = true;
  }
}

// The node powers at the present voltages and the largest mismatches.
void Mismatches(PowerFlowRun &run, const Decoupled &d) {
  PowerFlowResult &r = run.r;
  NodePowers(run.y, r.vm, r.va, run.v, run.s);
  r.max_dp = r.max_dq = 0;
  r.worst_p_node = r.worst_q_node = 0;
  for (std::int32_t p = 0; p < run.n - 1; ++p) {
    const std::int32_t i = d.order[p];
    const double dp = std::fabs(run.psp[i] - run.s[i].real());
    if (!(dp <= r.max_dp)) r.max_dp = dp, r.worst_p_node = i + 1;
    if (p < d.npq) {
      const double dq = std::fabs(run.qsp[i] - run.s[i].imag());
      if (!(dq <= r.max_dq)) r.max_dq = dq, r.worst_q_node = i + 1;
    }
  }
}

// Iterates with one set of bus types until the mismatches are within the
// tolerance (r.converged) or the iterations run out or diverge.
void IterateWithTypes(PowerFlowRun &run, const Decoupled &d, const Progress &progress) {
  PowerFlowResult &r = run.r;
  const std::int32_t nref = run.n - 1;
  r.converged = false;
  for (int it = 0;; ++it) {
    Mismatches(run, d);
    if (r.max_dp < run.o.tolerance && r.max_dq < run.o.tolerance) {
      r.converged = true;
      break;
    }
    if (r.iterations >= run.o.max_iterations || !std::isfinite(r.max_dp) || !std::isfinite(r.max_dq)) break;
    ++r.iterations;
    if (progress) progress("power flow", r.iterations, run.o.max_iterations);
    for (std::int32_t p = 0; p < nref; ++p) {
      const std::int32_t i = d.order[p];
      run.rhs[p] = (run.psp[i] - run.s[i].real()) / r.vm[i];
    }
    Correction(run.ws, d.first, d.a1, run.rhs, run.dx, kRefinements, run.fb, run.fx, run.res);
    for (std::int32_t p = 0; p < nref; ++p) r.va[d.order[p]] += run.dx[p];
    if (d.npq == 0) continue;
    NodePowers(run.y, r.vm, r.va, run.v, run.s);
    for (std::int32_t p = 0; p < d.npq; ++p) {
      const std::int32_t i = d.order[p];
      run.rhs[p] = (run.qsp[i] - run.s[i].imag()) / r.vm[i];
    }
    Correction(run.ws, d.second, d.a2, run.rhs, run.dx, kRefinements, run.fb, run.fx, run.res);
    for (std::int32_t p = 0; p < d.npq; ++p) r.vm[d.order[p]] += run.dx[p];
  }
}

// Reactive limits: a generator bus beyond a limit is held at it as a PQ
// bus; a bus held at a limit returns to its setpoint when its voltage
// is on the side of the setpoint that the limit no longer forces.
// Returns whether any bus changed type.
bool ApplyReactiveLimits(PowerFlowRun &run) {
  const casefile::Network &net = run.net;
  PowerFlowResult &r = run.r;
  std::vector<LimitState> &bus_state = run.bus_state;
  bool changed = false;
  for (std::int32_t i = 0; i < run.n; ++i) {
    const BusLimits &limit = run.limits[i];
    if (!limit.has_generator || net.type[i] != BusType::kPV) continue;
    const double qgen = run.s[i].imag() + net.qd[i];
    if (r.type[i] == BusType::kPV) {
      if (qgen > limit.qmax + kLimitSlack) {
        r.type[i] = BusType::kPQ, bus_state[i] = LimitState::kAtMax, run.qsp[i] = limit.qmax - net.qd[i];
        changed = true;
      } else if (qgen < limit.qmin - kLimitSlack) {
        r.type[i] = BusType::kPQ, bus_state[i] = LimitState::kAtMin, run.qsp[i] = limit.qmin - net.qd[i];
        changed = true;
      }
    } else if ((bus_state[i] == LimitState::kAtMax && r.vm[i] > net.vm_set[i] + kLimitSlack) ||
               (bus_state[i] == LimitState::kAtMin && r.vm[i] < net.vm_set[i] - kLimitSlack)) {
      r.type[i] = BusType::kPV, bus_state[i] = LimitState::kWithin, run.qsp[i] = net.qg[i] - net.qd[i];
      r.vm[i] = net.vm_set[i];
      changed = true;
    }
  }
  return changed;
}

// The generators' outputs at bus i, whose generators are gens.
void ShareBusGeneration(PowerFlowRun &run, std::int32_t i, const std::vector<std::size_t> &gens) {
  const casefile::Network &net = run.net;
  PowerFlowResult &r = run.r;
  const double pbus = run.s[i].real() + net.pd[i], qbus = run.s[i].imag() + net.qd[i];
  // Active power as scheduled (the mismatch is within the tolerance); the
  // reference bus's first generator takes the balance.
  double prest = pbus;
  for (std::size_t k = 1; k < gens.size(); ++k) prest -= net.generators[gens[k]].pg;
  for (std::size_t k = 0; k < gens.size(); ++k)
    r.gen_p[gens[k]] = (k == 0 && net.type[i] == BusType::kReference) ? prest : net.generators[gens[k]].pg;
  // Reactive power shared in proportion to the generators' ranges where
  // they are all finite and not all zero, equally otherwise.
  double range = 0, qmin = 0;
  bool finite = true;
  for (std::size_t g : gens) {
    const casefile::NetworkGenerator &gen = net.generators[g];
    finite = finite && std::isfinite(gen.qmax) && std::isfinite(gen.qmin);
    range += gen.qmax - gen.qmin;
    qmin += gen.qmin;
  }
  const LimitState held = run.bus_state[i];
  for (std::size_t g : gens) {
    const casefile::NetworkGenerator &gen = net.generators[g];
    r.gen_q[g] = finite && range > 0 ? gen.qmin + (qbus - qmin) * (gen.qmax - gen.qmin) / range
                                     : qbus / static_cast<double>(gens.size());
    if (held != LimitState::kWithin) r.gen_limit[g] = held;
    else if (r.gen_q[g] > gen.qmax + kLimitSlack) r.gen_limit[g] = LimitState::kAboveMax;
    else if (r.gen_q[g] < gen.qmin - kLimitSlack) r.gen_limit[g] = LimitState::kBelowMin;
  }
}

// Final powers, generator outputs and branch flows.
void FinishPowerFlow(PowerFlowRun &run) {
  const casefile::Network &net = run.net;
  PowerFlowResult &r = run.r;
  NodePowers(run.y, r.vm, r.va, run.v, run.s);
  r.s = run.s;
  const std::size_t ng = net.generators.size();
  r.gen_p.assign(ng, 0.0);
  r.gen_q.assign(ng, 0.0);
  r.gen_limit.assign(ng, LimitState::kWithin);
  std::vector<std::vector<std::size_t>> at_bus(run.Size());
  for (std::size_t g = 0; g < ng; ++g) at_bus[net.generators[g].node - 1].push_back(g);
  for (std::int32_t i = 0; i < run.n; ++i)
    if (!at_bus[i].empty()) ShareBusGeneration(run, i, at_bus[i]);
  r.s_from.resize(net.branches.size());
  r.s_to.resize(net.branches.size());
  for (std::size_t k = 0; k < net.branches.size(); ++k) {
    const casefile::NetworkBranch &b = net.branches[k];
    const TwoPort t = BranchTwoPort(b);
    const cd vf = run.v[b.from - 1], vt = run.v[b.to - 1];
    r.s_from[k] = vf * std::conj(t.ff * vf + t.ft * vt);
    r.s_to[k] = vt * std::conj(t.tf * vf + t.tt * vt);
  }
}

} // namespace

PowerFlowResult SolvePowerFlow(const StudyCase &c, const PowerFlowOptions &o, const Progress &progress) {
  PowerFlowRun run(c.net, o);
  StartPowerFlow(run);
  for (int round = 0;; ++round) {
    const Decoupled d = Factorize(run.ws, run.net, run.r.type);
    IterateWithTypes(run, d, progress);
    if (!run.r.converged || !o.q_limits) break;
    if (!ApplyReactiveLimits(run)) break;
    if (round + 1 >= kMaxLimitRounds) {
      run.r.converged = false;
      break;
    }
    ++run.r.limit_rounds;
  }
  FinishPowerFlow(run);
  return std::move(run.r);
}

HostMatrix HostMatrix::FromEntries(std::int32_t n, std::vector<Entry> e) {
  std::stable_sort(e.begin(), e.end(),
                   [](const Entry &a, const Entry &b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
  HostMatrix y;
  y.start.assign(static_cast<std::size_t>(n) + 1, 0);
  for (std::size_t k = 0; k < e.size(); ++k) {
    if (k > 0 && e[k].row == e[k - 1].row && e[k].col == e[k - 1].col) {
      y.val.back() += e[k].v;
      continue;
    }
    y.col.push_back(e[k].col);
    y.val.push_back(e[k].v);
    ++y.start[static_cast<std::size_t>(e[k].row) + 1];
  }
  for (std::int32_t i = 0; i < n; ++i) y.start[i + 1] += y.start[i];
  return y;
}

void HostMatrix::Residual(const std::vector<cd> &b, const std::vector<cd> &x, std::vector<cd> &out) const {
  const std::size_t n = start.size() - 1;
  for (std::size_t i = 0; i < n; ++i) {
    cd sum = b[i];
    for (std::int32_t k = start[i]; k < start[i + 1]; ++k) sum -= val[k] * x[col[k]];
    out[i] = sum;
  }
}

FactorSet<float> FactorWithRoom(Workspace &ws, const TripletMatrix<float> &a, const std::string &what) {
  return FactorGrowing(ws, a, what);
}
FactorSet<Complex> FactorWithRoom(Workspace &ws, const TripletMatrix<Complex> &a, const std::string &what) {
  return FactorGrowing(ws, a, what);
}

std::vector<std::complex<double>> PrefaultVoltages(const StudyCase &c, const PowerFlowResult *pf) {
  std::vector<std::complex<double>> e(static_cast<std::size_t>(c.net.n), 1.0);
  if (pf != nullptr)
    for (std::int32_t i = 0; i < c.net.n; ++i) e[i] = std::polar(pf->vm[i], pf->va[i]);
  return e;
}

} // namespace orvek::study
