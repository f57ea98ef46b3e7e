// Solid-fault study in symmetrical components, driven through the library:
// each sequence network is assembled with MatricaY (generators as nodal
// susceptances -1/x behind their reactance on the system base) and factored
// once with LUC; per faulted node K one BSC solve per network gives the
// impedance column of K, NaponiKV the fault currents and node voltages, and
// SimFaz1 the phase currents. For a single-node study StruiKV gives every
// branch's sequence currents and SimFaz their phase values.
//
// Sequence data (the case files carry none): negative-sequence branches as
// positive; zero-sequence line impedance a multiple of the positive one with
// the same end admittances; transformers pass (Z0 = Z1) or block the zero
// sequence; bus shunts and loads are left out of the zero sequence, loads out
// of every sequence.
#include "tools/study/study.hpp"
#include "tools/study/study_internal.hpp"

#include "orvek/orvek.h"

#include <algorithm>
#include <cmath>

namespace orvek::study {

namespace {

struct ComplexFactors {
  std::int32_t n = 0, nfac = 0, nl = 0;
  std::vector<float> fac;
  std::vector<std::int32_t> irfac, jcfac, ipvt, jpvt;

  void Factor(AdmittanceMatrix &y, const char *what) {
    n = y.n;
    const std::size_t room = 3 * static_cast<std::size_t>(y.nz);
    fac.assign(2 * ORVEK_LD_FACTOR, 0.0f);
    irfac.assign(room, 0);
    jcfac.assign(room, 0);
    ipvt.assign(static_cast<std::size_t>(n), 0);
    jpvt.assign(static_cast<std::size_t>(n), 0);
    std::int32_t iparam[6] = {0, 0, 0, 0, 0, 0};
    float rparam[5] = {0, 0, 0, 0, 0};
    LUC(&n, &y.nz, y.a.data(), y.irow.data(), y.jcol.data(), iparam, rparam, &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
    CheckFactorQuality(rparam, what);
  }

  // Column K of the impedance matrix: the solution for a unit injection at K.
  void Column(std::int32_t k, std::vector<float> &b, std::vector<float> &x) const {
    std::fill(b.begin(), b.end(), 0.0f);
    b[static_cast<std::size_t>(k - 1)] = 1.0f;
    const std::int32_t ipath = 1;
    BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
  }
};

struct SequenceNetwork {
  casefile::HostArrays arrays;
  std::vector<float> bsh, gsh;
  std::vector<std::int32_t> ksh;
  std::vector<std::int32_t> branch_index; // positive-sequence branch -> index here, -1 when left out
  ComplexFactors factors;
};

// Generator admittance 1/(j x) with x on the system base, as a susceptance.
void AddGenerators(const casefile::Network &net, double x_machine, SequenceNetwork &s) {
  for (const casefile::NetworkGenerator &g : net.generators) {
    const double x = x_machine * net.base_mva / g.mbase;
    s.bsh.push_back(static_cast<float>(-1.0 / x));
    s.ksh.push_back(g.node);
  }
}

SequenceNetwork PositiveLike(const casefile::Network &net, const casefile::HostArrays &h, double x_machine) {
  SequenceNetwork s;
  s.arrays = h;
  s.bsh = h.bsh;
  s.ksh = h.ksh;
  s.gsh = h.gsh;
  s.branch_index.resize(static_cast<std::size_t>(h.nb));
  for (std::int32_t b = 0; b < h.nb; ++b) s.branch_index[b] = b;
  AddGenerators(net, x_machine, s);
  return s;
}

SequenceNetwork ZeroSequence(const casefile::Network &net, const casefile::HostArrays &h, const Options &o) {
  SequenceNetwork s;
  casefile::HostArrays &z = s.arrays;
  z = h;
  const std::size_t ld = static_cast<std::size_t>(h.ld);
  std::int32_t kept = 0;
  s.branch_index.assign(static_cast<std::size_t>(h.nb), -1);
  for (std::int32_t b = 0; b < h.nb; ++b) {
    const casefile::NetworkBranch &br = net.branches[b];
    if (br.transformer && o.transformer0 == Transformer0::kBlock) continue;
    const double k = br.transformer ? 1.0 : o.line_z0;
    const std::size_t d = static_cast<std::size_t>(kept);
    z.z[d] = static_cast<float>(k * br.z.real());
    z.z[d + ld] = static_cast<float>(k * br.z.imag());
    for (auto *v : {&z.ya, &z.yb}) {
      const std::vector<float> &src = v == &z.ya ? h.ya : h.yb;
      (*v)[d] = src[b];
      (*v)[d + ld] = src[b + ld];
    }
    z.nodes[d] = h.nodes[b];
    z.nodes[d + ld] = h.nodes[b + ld];
    s.branch_index[b] = kept++;
  }
  z.nb = kept;
  s.gsh.assign(static_cast<std::size_t>(h.n), 0.0f);
  if (!o.x0_open) AddGenerators(net, o.X0(), s);
  if (kept == 0) throw StudyError("the zero-sequence network has no branch (every branch is a blocking transformer)");
  // A node without any zero-sequence element would make the matrix singular.
  std::vector<bool> touched(static_cast<std::size_t>(h.n), false);
  for (std::int32_t b = 0; b < kept; ++b) {
    touched[z.nodes[b] - 1] = true;
    touched[z.nodes[b + ld] - 1] = true;
  }
  for (std::int32_t k : s.ksh) touched[k - 1] = true;
  for (std::int32_t i = 0; i < h.n; ++i)
    if (!touched[i])
      throw StudyError("bus " + std::to_string(net.bus_of_node[i]) +
                       " has no zero-sequence connection (transformers block the zero sequence); use --xfmr0 pass");
  return s;
}

std::complex<float> Split(const std::vector<float> &v, std::size_t i, std::size_t ld) { return {v[i], v[i + ld]}; }

} // namespace

FaultStudy RunFaults(const casefile::Network &net, const casefile::HostArrays &h, const Options &o,
                     const std::vector<std::complex<float>> &prefault, const std::vector<std::int32_t> &nodes,
                     const Progress &progress) {
  const std::int32_t n = net.n;
  FaultStudy study;

  SequenceNetwork seq[3] = {ZeroSequence(net, h, o), PositiveLike(net, h, o.xd), PositiveLike(net, h, o.X2())};
  const char *names[3] = {"zero-sequence admittance matrix", "positive-sequence admittance matrix",
                          "negative-sequence admittance matrix"};
  for (int s = 0; s < 3; ++s) {
    AdmittanceMatrix y = AssembleAdmittance(seq[s].arrays, seq[s].bsh, seq[s].ksh, seq[s].gsh);
    seq[s].factors.Factor(y, names[s]);
  }

  // Base voltages for the zero thresholds; a case without them is studied
  // in per unit with a base of 1 so that the thresholds do not blank it.
  std::vector<float> ub(static_cast<std::size_t>(n), 1.0f);
  study.per_unit_currents = std::any_of(net.base_kv.begin(), net.base_kv.end(), [](double kv) { return kv <= 0; });
  if (!study.per_unit_currents)
    for (std::int32_t i = 0; i < n; ++i) ub[i] = static_cast<float>(net.base_kv[i]);

  const std::size_t ldn = ORVEK_LD_NODE, ldb = ORVEK_LD_BRANCH;
  std::vector<float> e(2 * ldn, 0.0f);
  for (std::int32_t i = 0; i < n; ++i) {
    e[i] = prefault[i].real();
    e[i + ldn] = prefault[i].imag();
  }
  std::vector<float> rhs(2 * ldn), col[3], w[3], vpa(2 * ldn), vpb(2 * ldn), vpc(2 * ldn), ifs(6);
  for (int s = 0; s < 3; ++s) {
    col[s].assign(2 * ldn, 0.0f);
    w[s].assign(2 * ldn, 0.0f);
  }

  const bool single = nodes.size() == 1;
  if (single) study.detail_node = nodes[0];
  int done = 0;
  for (std::int32_t k : nodes) {
    for (int s = 0; s < 3; ++s) seq[s].factors.Column(k, rhs, col[s]);
    for (FaultType type : o.faults) {
      for (int s = 0; s < 3; ++s) w[s] = col[s];
      const std::int32_t itype = static_cast<std::int32_t>(type);
      NaponiKV(&n, &itype, &k, ub.data(), e.data(), w[0].data(), w[1].data(), w[2].data(), vpa.data(), vpb.data(),
               vpc.data(), ifs.data());
      FaultRecord r;
      r.node = k;
      r.type = type;
      r.i0 = {ifs[0], ifs[3]};
      r.i1 = {ifs[1], ifs[4]};
      r.i2 = {ifs[2], ifs[5]};
      float p[6];
      SimFaz1(&ifs[0], &ifs[3], &ifs[1], &ifs[4], &ifs[2], &ifs[5], &p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
      r.ia = std::hypot(p[0], p[1]);
      r.ib = std::hypot(p[2], p[3]);
      r.ic = std::hypot(p[4], p[5]);
      const std::size_t kk = static_cast<std::size_t>(k - 1);
      r.va = std::abs(Split(vpa, kk, ldn));
      r.vb = std::abs(Split(vpb, kk, ldn));
      r.vc = std::abs(Split(vpc, kk, ldn));
      r.zkk1 = std::abs(Split(col[1], kk, ldn));
      study.records.push_back(r);

      if (single) {
        FaultDetail d;
        d.type = type;
        for (std::int32_t i = 0; i < n; ++i) {
          d.vpa.push_back(Split(vpa, static_cast<std::size_t>(i), ldn));
          d.vpb.push_back(Split(vpb, static_cast<std::size_t>(i), ldn));
          d.vpc.push_back(Split(vpc, static_cast<std::size_t>(i), ldn));
        }
        // Sequence currents at the first end of every branch; w[s] now holds
        // the sequence voltages.
        std::vector<float> ie1[3], ie2(2 * ldb);
        for (int s = 0; s < 3; ++s) {
          std::vector<float> own(2 * ldb, 0.0f);
          const casefile::HostArrays &a = seq[s].arrays;
          StruiKV(&a.nb, a.z.data(), a.ya.data(), a.yb.data(), a.nodes.data(), &n, w[s].data(), own.data(),
                  ie2.data());
          ie1[s].assign(2 * ldb, 0.0f);
          for (std::int32_t b = 0; b < h.nb; ++b) {
            const std::int32_t j = seq[s].branch_index[b];
            if (j < 0) continue;
            ie1[s][b] = own[j];
            ie1[s][b + ldb] = own[j + ldb];
          }
        }
        std::vector<float> xa(2 * ldb), xb(2 * ldb), xc(2 * ldb);
        SimFaz(&h.nb, ie1[0].data(), ie1[1].data(), ie1[2].data(), xa.data(), xb.data(), xc.data());
        for (std::int32_t b = 0; b < h.nb; ++b) {
          d.iba.push_back(Split(xa, static_cast<std::size_t>(b), ldb));
          d.ibb.push_back(Split(xb, static_cast<std::size_t>(b), ldb));
          d.ibc.push_back(Split(xc, static_cast<std::size_t>(b), ldb));
        }
        study.details.push_back(std::move(d));
      }
    }
    ++done;
    if (progress) progress(done, static_cast<int>(nodes.size()));
  }
  return study;
}

} // namespace orvek::study
