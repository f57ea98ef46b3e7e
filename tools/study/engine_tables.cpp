// The study's results as tables (see engine.hpp): one row per bus, branch,
// generator, fault; powers in MW and Mvar, voltages in per unit (and kV),
// angles in degrees, fault currents in kA at buses with a base voltage and
// in per unit on the MVA base elsewhere (column `unit`). docs/orvek-study.md
// describes every column.
#include "tools/study/engine.hpp"
#include "tools/study/engine_internal.hpp"

#include <cmath>

namespace orvek::study {

namespace {

using cd = std::complex<double>;
constexpr double kRadToDeg = 180.0 / kPi;
constexpr double kSqrt3 = 1.7320508075688772;

Cell Real(double v) { return std::isfinite(v) ? Cell(v) : Cell(); }
Cell Int(long long v) { return Cell(v); }
Cell Text(std::string s) { return Cell(std::move(s)); }
Cell Bool(bool b) { return Cell(b); }

Column R(const char *name) { return {name, Kind::kReal}; }
Column I(const char *name) { return {name, Kind::kInteger}; }
Column T(const char *name) { return {name, Kind::kText}; }
Column B(const char *name) { return {name, Kind::kBool}; }

const char *TypeName(casefile::BusType t) {
  switch (t) {
  case casefile::BusType::kPQ: return "PQ";
  case casefile::BusType::kPV: return "PV";
  case casefile::BusType::kReference: return "REF";
  case casefile::BusType::kIsolated: return "ISO";
  }
  return "?";
}

const char *LimitName(LimitState s) {
  switch (s) {
  case LimitState::kWithin: return "within";
  case LimitState::kAtMax: return "at_qmax";
  case LimitState::kAtMin: return "at_qmin";
  case LimitState::kAboveMax: return "above_qmax";
  case LimitState::kBelowMin: return "below_qmin";
  }
  return "?";
}

double XOverR(cd z) { return z.real() != 0 ? z.imag() / z.real() : NAN; }

struct Units {
  const casefile::Network &net;
  bool KiloAmps(std::int32_t node) const { return net.base_kv[node - 1] > 0; }
  const char *Unit(std::int32_t node) const { return KiloAmps(node) ? "kA" : "pu"; }
  double Current(double pu, std::int32_t node) const {
    return KiloAmps(node) ? pu * net.base_mva / (kSqrt3 * net.base_kv[node - 1]) : pu;
  }
};

Table SummaryTable(const StudyRun &run) {
  const casefile::Network &net = run.c->net;
  const double base = net.base_mva;
  const PowerFlowResult *pf = run.pf ? &*run.pf : nullptr;
  // Totals.
  double pg = 0, qg = 0, pl = 0, ql = 0, ploss = 0, qloss = 0, psh = 0, qsh = 0;
  if (pf) {
    for (std::int32_t i = 0; i < net.n; ++i) {
      pl += net.pd[i];
      ql += net.qd[i];
      const double v2 = pf->vm[i] * pf->vm[i];
      psh += net.gs[i] * v2;
      qsh -= net.bs[i] * v2;
    }
    for (std::size_t g = 0; g < pf->gen_p.size(); ++g) pg += pf->gen_p[g], qg += pf->gen_q[g];
    for (std::size_t b = 0; b < pf->s_from.size(); ++b) {
      ploss += (pf->s_from[b] + pf->s_to[b]).real();
      qloss += (pf->s_from[b] + pf->s_to[b]).imag();
    }
  }
  Table summary{"summary",
                {T("case"), I("buses"), I("branches"), I("generators"), R("base_mva"), B("converged"),
                 I("iterations"), I("limit_rounds"), R("tolerance_pu"), R("max_p_mismatch_pu"),
                 R("max_q_mismatch_pu"), I("worst_p_bus"), I("worst_q_bus"), B("flat_start"), B("q_limits"),
                 R("p_gen_mw"), R("q_gen_mvar"), R("p_load_mw"), R("q_load_mvar"), R("p_shunt_mw"),
                 R("q_shunt_mvar"), R("p_loss_mw"), R("q_loss_mvar"), T("prefault"), I("faults")},
                {}};
  auto bus_or_none = [&](std::int32_t node) { return node > 0 ? Int(net.bus_of_node[node - 1]) : Cell(); };
  summary.rows.push_back(
      {Text(net.source), Int(net.n), Int(net.nb()), Int(static_cast<long long>(net.generators.size())), Real(base),
       pf ? Bool(pf->converged) : Cell(), pf ? Int(pf->iterations) : Cell(), pf ? Int(pf->limit_rounds) : Cell(),
       Real(run.pf_options.tolerance), pf ? Real(pf->max_dp) : Cell(), pf ? Real(pf->max_dq) : Cell(),
       pf ? bus_or_none(pf->worst_p_node) : Cell(), pf ? bus_or_none(pf->worst_q_node) : Cell(),
       Bool(run.pf_options.flat_start), Bool(run.pf_options.q_limits), pf ? Real(pg * base) : Cell(),
       pf ? Real(qg * base) : Cell(), pf ? Real(pl * base) : Cell(), pf ? Real(ql * base) : Cell(),
       pf ? Real(psh * base) : Cell(), pf ? Real(qsh * base) : Cell(), pf ? Real(ploss * base) : Cell(),
       pf ? Real(qloss * base) : Cell(), run.faults.empty() && run.details.empty() ? Cell() : Text(run.flat_prefault ? "flat" : "power_flow"),
       Int(static_cast<long long>(run.faults.size()))});
  return summary;
}

Table BusTable(const casefile::Network &net, const PowerFlowResult &pf) {
  const double base = net.base_mva;
  Table buses{"buses",
              {I("bus"), T("type"), R("vm_pu"), R("vm_kv"), R("va_deg"), R("p_inj_mw"), R("q_inj_mvar"),
               R("p_load_mw"), R("q_load_mvar"), R("p_gen_mw"), R("q_gen_mvar"), R("base_kv")},
              {}};
  // Generation per bus: the generators' outputs (zero at a bus without one).
  std::vector<cd> gen(static_cast<std::size_t>(net.n), 0.0);
  for (std::size_t g = 0; g < net.generators.size(); ++g)
    gen[net.generators[g].node - 1] += cd(pf.gen_p[g], pf.gen_q[g]);
  for (std::int32_t i = 0; i < net.n; ++i) {
    const cd s = pf.s[i];
    buses.rows.push_back({Int(net.bus_of_node[i]), Text(TypeName(pf.type[i])), Real(pf.vm[i]),
                          net.base_kv[i] > 0 ? Real(pf.vm[i] * net.base_kv[i]) : Cell(),
                          Real(pf.va[i] * kRadToDeg), Real(s.real() * base), Real(s.imag() * base),
                          Real(net.pd[i] * base), Real(net.qd[i] * base), Real(gen[i].real() * base),
                          Real(gen[i].imag() * base), Real(net.base_kv[i])});
  }
  return buses;
}

Table BranchTable(const casefile::Network &net, const PowerFlowResult &pf) {
  const double base = net.base_mva;
  Table branches{"branches",
                 {I("branch"), I("from_bus"), I("to_bus"), R("p_from_mw"), R("q_from_mvar"), R("p_to_mw"),
                  R("q_to_mvar"), R("p_loss_mw"), R("q_loss_mvar"), R("s_from_mva"), R("s_to_mva"),
                  R("rate_a_mva"), R("loading_pct")},
                 {}};
  for (std::size_t k = 0; k < net.branches.size(); ++k) {
    const casefile::NetworkBranch &b = net.branches[k];
    const cd sf = pf.s_from[k] * base, st = pf.s_to[k] * base, loss = sf + st;
    const double worst = std::max(std::abs(sf), std::abs(st));
    branches.rows.push_back({Int(b.case_index + 1), Int(net.bus_of_node[b.from - 1]), Int(net.bus_of_node[b.to - 1]),
                             Real(sf.real()), Real(sf.imag()), Real(st.real()), Real(st.imag()), Real(loss.real()),
                             Real(loss.imag()), Real(std::abs(sf)), Real(std::abs(st)),
                             b.rate_a > 0 ? Real(b.rate_a) : Cell(),
                             b.rate_a > 0 ? Real(100.0 * worst / b.rate_a) : Cell()});
  }
  return branches;
}

Table GeneratorTable(const casefile::Network &net, const PowerFlowResult &pf) {
  const double base = net.base_mva;
  Table gens{"generators",
             {I("generator"), I("bus"), R("p_mw"), R("q_mvar"), R("qmin_mvar"), R("qmax_mvar"), R("vg_pu"),
              T("q_limit")},
             {}};
  for (std::size_t g = 0; g < net.generators.size(); ++g) {
    const casefile::NetworkGenerator &gen = net.generators[g];
    gens.rows.push_back({Int(gen.case_index + 1), Int(net.bus_of_node[gen.node - 1]), Real(pf.gen_p[g] * base),
                         Real(pf.gen_q[g] * base), Real(gen.qmin * base), Real(gen.qmax * base), Real(gen.vg),
                         Text(LimitName(pf.gen_limit[g]))});
  }
  return gens;
}

// One fault level per row; the details' levels when the run has details.
Table FaultTable(const StudyRun &run, const Units &u) {
  const casefile::Network &net = u.net;
  const std::vector<Column> level_columns = {
      I("bus"),       T("fault"),     T("unit"),      R("ia"),       R("ib"),        R("ic"),
      R("i0_re_pu"),  R("i0_im_pu"),  R("i1_re_pu"),  R("i1_im_pu"), R("i2_re_pu"),  R("i2_im_pu"),
      R("va_pu"),     R("vb_pu"),     R("vc_pu"),     R("z0_r_pu"),  R("z0_x_pu"),   R("z0_x_r"),
      R("z1_r_pu"),   R("z1_x_pu"),   R("z1_x_r"),    R("z2_r_pu"),  R("z2_x_pu"),   R("z2_x_r")};
  auto level_row = [&](const FaultLevel &f) {
    return std::vector<Cell>{Int(net.bus_of_node[f.node - 1]), Text(FaultName(f.type)), Text(u.Unit(f.node)),
                             Real(u.Current(f.ia, f.node)), Real(u.Current(f.ib, f.node)),
                             Real(u.Current(f.ic, f.node)), Real(f.i0.real()), Real(f.i0.imag()),
                             Real(f.i1.real()), Real(f.i1.imag()), Real(f.i2.real()), Real(f.i2.imag()), Real(f.va),
                             Real(f.vb), Real(f.vc), Real(f.z0.real()), Real(f.z0.imag()), Real(XOverR(f.z0)),
                             Real(f.z1.real()), Real(f.z1.imag()), Real(XOverR(f.z1)), Real(f.z2.real()),
                             Real(f.z2.imag()), Real(XOverR(f.z2))};
  };
  Table faults{"faults", level_columns, {}};
  if (!run.details.empty())
    for (const FaultDetail &d : run.details) faults.rows.push_back(level_row(d.level));
  else
    for (const FaultLevel &f : run.faults) faults.rows.push_back(level_row(f));
  return faults;
}

// The bus voltages and branch currents of each detailed fault.
void AddFaultDetailTables(const StudyRun &run, const Units &u, std::vector<Table> &out) {
  const casefile::Network &net = u.net;
  Table volts{"fault_voltages",
              {T("fault"), I("bus"), R("va_pu"), R("va_deg"), R("vb_pu"), R("vb_deg"), R("vc_pu"), R("vc_deg")},
              {}};
  Table currents{"fault_branches",
                 {T("fault"), I("branch"), I("from_bus"), I("to_bus"), T("unit"), R("ia"), R("ib"), R("ic"),
                  R("ia_deg"), R("ib_deg"), R("ic_deg")},
                 {}};
  for (const FaultDetail &d : run.details) {
    for (std::int32_t i = 0; i < net.n; ++i)
      volts.rows.push_back({Text(FaultName(d.level.type)), Int(net.bus_of_node[i]), Real(std::abs(d.va[i])),
                            Real(std::arg(d.va[i]) * kRadToDeg), Real(std::abs(d.vb[i])),
                            Real(std::arg(d.vb[i]) * kRadToDeg), Real(std::abs(d.vc[i])),
                            Real(std::arg(d.vc[i]) * kRadToDeg)});
    for (std::size_t k = 0; k < net.branches.size(); ++k) {
      const casefile::NetworkBranch &b = net.branches[k];
      currents.rows.push_back({Text(FaultName(d.level.type)), Int(b.case_index + 1), Int(net.bus_of_node[b.from - 1]),
                               Int(net.bus_of_node[b.to - 1]), Text(u.Unit(b.from)),
                               Real(u.Current(std::abs(d.ia[k]), b.from)), Real(u.Current(std::abs(d.ib[k]), b.from)),
                               Real(u.Current(std::abs(d.ic[k]), b.from)), Real(std::arg(d.ia[k]) * kRadToDeg),
                               Real(std::arg(d.ib[k]) * kRadToDeg), Real(std::arg(d.ic[k]) * kRadToDeg)});
    }
  }
  out.push_back(std::move(volts));
  out.push_back(std::move(currents));
}

} // namespace

std::vector<Table> MakeTables(const StudyRun &run) {
  const casefile::Network &net = run.c->net;
  const Units u{net};
  std::vector<Table> out;
  out.push_back(SummaryTable(run));
  Table notes{"notes", {T("note")}, {}};
  for (const std::string &n : run.notes) notes.rows.push_back({Text(n)});
  out.push_back(std::move(notes));
  if (run.pf) {
    out.push_back(BusTable(net, *run.pf));
    out.push_back(BranchTable(net, *run.pf));
    out.push_back(GeneratorTable(net, *run.pf));
  }
  if (!run.faults.empty() || !run.details.empty()) out.push_back(FaultTable(run, u));
  if (!run.details.empty()) AddFaultDetailTables(run, u, out);
  return out;
}

} // namespace orvek::study
