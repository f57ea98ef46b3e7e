// Fast decoupled power flow in the BX scheme, driven through the library:
//   MatricaY  -> admittance matrix (row-indexed form) for the node powers;
//   Matrici_VektoriBX -> B' (order N-1, series susceptances) and B'' (order
//   NPQ, 1/X with the ratio at the first end), each factored once with LUR;
//   then alternate half-iterations until both mismatches are below the
//   tolerance:  B' dtheta = dP / |V|  (nodes 1..N-1),  B'' d|V| = dQ / |V|
//   (nodes 1..NPQ), the node powers coming from MNOZI.
// The host adds the bus conductance shunts to the diagonal entries of the
// row-indexed matrix, which the assembly cannot take.
#include "tools/study/study.hpp"
#include "tools/study/study_internal.hpp"

#include "orvek/orvek.h"

#include <algorithm>
#include <cmath>

namespace orvek::study {

void RealFactors::Factor(std::int32_t order, std::vector<std::int32_t> &irow, std::vector<std::int32_t> &jcol,
                         std::vector<float> &val, std::int32_t nz, const char *what) {
  n = order;
  if (n == 0) return;
  const std::size_t room = 3 * static_cast<std::size_t>(nz);
  fac.assign(room, 0.0f);
  irfac.assign(room, 0);
  jcfac.assign(room, 0);
  ipvt.assign(static_cast<std::size_t>(n), 0);
  jpvt.assign(static_cast<std::size_t>(n), 0);
  std::int32_t iparam[6] = {0, 0, 0, 0, 0, 0};
  float rparam[5] = {0, 0, 0, 0, 0};
  LUR(&n, &nz, val.data(), irow.data(), jcol.data(), iparam, rparam, &nfac, &nl, fac.data(), irfac.data(),
      jcfac.data(), ipvt.data(), jpvt.data());
  CheckFactorQuality(rparam, what);
}

void RealFactors::Solve(std::vector<float> &b, std::vector<float> &x) const {
  if (n == 0) return;
  const std::int32_t ipath = 1;
  BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
      x.data());
}

void CheckFactorQuality(const float *rparam, const char *what) {
  // After the singular or growth warning the factor arrays are not
  // rewritten; the smallest pivot and the growth factor tell the host.
  if (!(rparam[4] > kSingularPivot) || !(rparam[3] <= kMaxGrowth))
    throw StudyError(std::string("the ") + what +
                     " is numerically singular (is every part of the network connected to a source?)");
}

AdmittanceMatrix AssembleAdmittance(const casefile::HostArrays &h, const std::vector<float> &bsh,
                                    const std::vector<std::int32_t> &ksh, const std::vector<float> &gsh) {
  AdmittanceMatrix y;
  y.n = h.n;
  y.irow.assign(ORVEK_LD_NONZERO, 0);
  y.jcol.assign(ORVEK_LD_NONZERO, 0);
  y.a.assign(2 * ORVEK_LD_NONZERO, 0.0f);
  y.sa.assign(2 * ORVEK_LD_NONZERO, 0.0f);
  y.ija.assign(ORVEK_LD_NONZERO + 1, 0);
  const std::int32_t nsh = static_cast<std::int32_t>(bsh.size());
  const float no_bsh = 0.0f;
  const std::int32_t no_ksh = 1;
  MatricaY(nsh > 0 ? bsh.data() : &no_bsh, nsh > 0 ? ksh.data() : &no_ksh, &nsh, &y.n, h.z.data(), h.ya.data(),
           h.yb.data(), h.nodes.data(), &h.nb, y.irow.data(), y.jcol.data(), y.a.data(), &y.nz, y.sa.data(),
           y.ija.data());
  // Entries 1..N of both forms are the diagonals of nodes 1..N.
  for (std::int32_t i = 0; i < y.n; ++i) {
    if (gsh[i] == 0.0f) continue;
    y.a[i] += gsh[i];
    y.sa[i] += gsh[i];
  }
  return y;
}

PowerFlowResult RunPowerFlow(const casefile::Network &net, const casefile::HostArrays &h, const Options &o) {
  const std::int32_t n = net.n;
  const std::int32_t npq = net.npq;
  const std::int32_t nref = n - 1; // order of B'
  if (net.reference != n) throw StudyError("internal: the reference node must be the last node");

  const AdmittanceMatrix y = AssembleAdmittance(h, h.bsh, h.ksh, h.gsh);

  // B' and B''.
  const std::size_t room = static_cast<std::size_t>(n) + 2 * static_cast<std::size_t>(h.nb);
  std::vector<std::int32_t> irow1(room), jcol1(room), irow2(room), jcol2(room);
  std::vector<float> val1(room), val2(room);
  std::int32_t nz1 = 0, nz2 = 0;
  Matrici_VektoriBX(&n, &npq, h.z_bx.data(), h.t.data(), h.nodes.data(), &h.nb, irow1.data(), jcol1.data(),
                    val1.data(), &nz1, irow2.data(), jcol2.data(), val2.data(), &nz2);
  RealFactors b1, b2;
  b1.Factor(nref, irow1, jcol1, val1, nz1, "power-flow matrix B'");
  b2.Factor(npq, irow2, jcol2, val2, nz2, "power-flow matrix B''");

  // Specified injections and a flat start: PQ nodes at 1 per unit, PV and
  // the reference at their setpoints, every angle at the reference angle.
  std::vector<double> psp(n), qsp(n);
  for (std::int32_t i = 0; i < n; ++i) {
    psp[i] = net.pg[i] - net.pd[i];
    qsp[i] = net.qg[i] - net.qd[i];
  }
  PowerFlowResult r;
  r.vm.assign(n, 1.0f);
  r.va.assign(n, static_cast<float>(net.va_file[n - 1] * kPi / 180.0));
  for (std::int32_t i = npq; i < n; ++i) r.vm[i] = static_cast<float>(net.vm_set[i]);

  std::vector<float> s(2 * ORVEK_LD_NODE, 0.0f);
  auto powers = [&]() { MNOZI(y.sa.data(), y.ija.data(), r.vm.data(), r.va.data(), s.data(), &n); };
  auto mismatch = [&]() {
    r.max_dp = 0;
    r.max_dq = 0;
    for (std::int32_t i = 0; i < nref; ++i) {
      const double d = std::fabs(psp[i] - s[i]);
      if (!(d <= r.max_dp)) {
        r.max_dp = d;
        r.worst_p_node = i + 1;
      }
    }
    for (std::int32_t i = 0; i < npq; ++i) {
      const double d = std::fabs(qsp[i] - s[ORVEK_LD_NODE + i]);
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
    for (std::int32_t i = 0; i < nref; ++i) rhs[i] = static_cast<float>((psp[i] - s[i]) / r.vm[i]);
    b1.Solve(rhs, dx);
    for (std::int32_t i = 0; i < nref; ++i) r.va[i] += dx[i];
    // Reactive half-iteration.
    if (npq > 0) {
      powers();
      for (std::int32_t i = 0; i < npq; ++i)
        rhs[i] = static_cast<float>((qsp[i] - s[ORVEK_LD_NODE + i]) / r.vm[i]);
      b2.Solve(rhs, dx);
      for (std::int32_t i = 0; i < npq; ++i) r.vm[i] += dx[i];
    }
  }

  // Resolution of the computed node powers at the final voltages.
  for (std::int32_t i = 0; i < n - 1; ++i) {
    double sum = std::hypot(y.sa[i], y.sa[i + ORVEK_LD_NONZERO]) * r.vm[i];
    for (std::int32_t k = y.ija[i]; k < y.ija[i + 1]; ++k)
      sum += std::hypot(y.sa[k - 1], y.sa[k - 1 + ORVEK_LD_NONZERO]) * r.vm[y.ija[k - 1] - 1];
    const double res = kFloatRounding * r.vm[i] * sum;
    if (res > r.resolution) {
      r.resolution = res;
      r.resolution_node = i + 1;
    }
  }

  r.p.assign(n, 0.0f);
  r.q.assign(n, 0.0f);
  for (std::int32_t i = 0; i < n; ++i) {
    r.p[i] = s[i];
    r.q[i] = s[ORVEK_LD_NODE + i];
  }
  // The reference node's injection once more through So, from complex voltages.
  std::vector<float> v(2 * ORVEK_LD_NODE, 0.0f);
  for (std::int32_t i = 0; i < n; ++i) {
    v[i] = r.vm[i] * std::cos(r.va[i]);
    v[ORVEK_LD_NODE + i] = r.vm[i] * std::sin(r.va[i]);
  }
  float sr = 0, si = 0;
  const std::int32_t k = n;
  So(&n, &k, v.data(), y.sa.data(), y.ija.data(), &sr, &si);
  r.slack_pq = {sr, si};
  return r;
}

} // namespace orvek::study
