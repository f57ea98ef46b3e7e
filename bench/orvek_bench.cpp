// Benchmark of the sparse road on every shared network that fits the
// capacities, side by side in one process with the peer solvers on exactly
// the same matrices: ORVEK's MatricaY, LUC, one BSC, the all-node fault road
// (LUC once, then BSC with a unit injection and NaponiKV for every node), the
// fast decoupled matrices (Matrici_VektoriBX, LUR of both, one BSR with each)
// and MNOZI; KLU complex (triplet->CSC, klu_analyze + klu_z_factor,
// klu_z_solve, the same fault road with N solves), KLU real on the fast
// decoupled matrices, SuperLU single complex (cgstrf / cgstrs).
// Times are thread CPU times per call; every benchmark runs in repetitions
// (interleaved at random by default) and the closing table gives the median
// and the min-max of the repetitions in microseconds, with the ratios.
//   orvek_bench [--orvek_table=FILE] [Google Benchmark flags]
// ORVEK_CASES names the folder of the case files (default ../shared/cases).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvek/orvek.h"
#include "tools/casefile/matpower.hpp"

#if ORVEK_BENCH_KLU
#include <klu.h>
#endif
#if ORVEK_BENCH_SUPERLU
#include <slu_cdefs.h>
#endif

namespace {

namespace cf = orvek::casefile;

constexpr std::int32_t kLdNode = ORVEK_LD_NODE;
constexpr std::int32_t kLdNonzero = ORVEK_LD_NONZERO;
constexpr std::int32_t kLdFactor = ORVEK_LD_FACTOR;
constexpr std::int32_t kFaultType = 4; // single-phase-to-earth, the usual study
constexpr int kDefaultRepetitions = 15;
constexpr const char *kDefaultMinTime = "0.02";

// ---- One network with everything the benchmarks read ------------------------
struct FactorSet {
  std::int32_t nfac = 0, nl = 0;
  std::vector<float> fac;
  std::vector<std::int32_t> irfac, jcfac, ipvt, jpvt;

  // Room for LUC/LUR: `values` reals of factor values, `entries` index
  // pairs, n pivots.
  void Allocate(std::size_t values, std::size_t entries, std::int32_t n) {
    fac.assign(values, 0.0f);
    irfac.assign(entries, 0);
    jcfac.assign(entries, 0);
    ipvt.assign(static_cast<std::size_t>(n), 0);
    jpvt.assign(static_cast<std::size_t>(n), 0);
  }
  // LUC's room on the exported road: FAC(30000,2) and three index pairs per
  // matrix entry.
  void AllocateComplex(std::int32_t n, std::int32_t nz) {
    Allocate(2 * static_cast<std::size_t>(kLdFactor), 3 * static_cast<std::size_t>(nz), n);
  }
};

// LUC with the default parameters into f's room.
void FactorComplex(std::int32_t n, std::int32_t nz, const std::vector<float> &a, const std::vector<std::int32_t> &irow,
                   const std::vector<std::int32_t> &jcol, FactorSet &f) {
  std::int32_t iparam[6] = {};
  float rparam[5] = {};
  LUC(&n, &nz, a.data(), irow.data(), jcol.data(), iparam, rparam, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(),
      f.jcfac.data(), f.ipvt.data(), f.jpvt.data());
}

struct RealList {
  std::int32_t order = 0, nz = 0;
  std::vector<std::int32_t> irow, jcol;
  std::vector<float> val;
  FactorSet f;
};

struct Network {
  std::string name;
  cf::HostArrays h;  // file order: MatricaY, LUC, BSC, fault road, MNOZI
  cf::HostArrays pf; // power-flow order (PQ, PV, reference last): Matrici_VektoriBX
  std::int32_t npq = 0;
  // MatricaY's outputs.
  std::int32_t nz = 0;
  std::vector<std::int32_t> irow, jcol, ija;
  std::vector<float> a, sa;
  FactorSet f;              // LUC's factor set
  std::vector<float> b;     // B(1000,2): a right-hand side with every entry different
  std::vector<float> ub, e; // base voltages, pre-fault voltages E(1000,2)
  std::vector<float> vm, va; // file voltages for MNOZI (radians)
  RealList bx[2];           // the two fast decoupled matrices with their LUR factors
};

// B(1000,2) of the network as the peers take it: n interleaved complex values.
template <class T> std::vector<T> InterleavedRhs(const Network &net) {
  const std::int32_t n = net.h.n;
  std::vector<T> rhs(2 * static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    rhs[2 * i] = net.b[i];
    rhs[2 * i + 1] = net.b[kLdNode + i];
  }
  return rhs;
}

std::string CasesDir() {
  if (const char *env = std::getenv("ORVEK_CASES")) return env;
  return ORVEK_CASES_DIR;
}

void Factor(const std::int32_t n, std::int32_t nz, const std::vector<float> &a, const std::vector<std::int32_t> &irow,
            const std::vector<std::int32_t> &jcol, FactorSet &f) {
  f.AllocateComplex(n, nz);
  FactorComplex(n, nz, a, irow, jcol, f);
}

// LUR of m with the default parameters into f's room.
void FactorRealInto(const RealList &m, FactorSet &f) {
  std::int32_t iparam[6] = {};
  float rparam[5] = {};
  LUR(&m.order, &m.nz, m.val.data(), m.irow.data(), m.jcol.data(), iparam, rparam, &f.nfac, &f.nl, f.fac.data(),
      f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data());
}

void FactorReal(RealList &m) {
  const auto size = 3 * static_cast<std::size_t>(m.nz);
  m.f.Allocate(size, size, m.order);
  FactorRealInto(m, m.f);
}

// Reads a case and prepares it; false when it does not fit the capacities.
bool Load(const std::filesystem::path &path, Network &net) {
  try {
    const cf::Case c = cf::ReadCase(path.string());
    const cf::Network file = cf::BuildNetwork(c);
    const cf::Network flow = cf::BuildNetwork(c, cf::NodeOrder::kPowerFlow);
    net.h = cf::MakeHostArrays(file);
    net.pf = cf::MakeHostArrays(flow);
    net.npq = flow.npq;
    net.name = path.stem().string();
    const std::int32_t n = net.h.n;
    net.ub.assign(static_cast<std::size_t>(n), 1.0f);
    net.e.assign(2 * kLdNode, 0.0f);
    net.vm.assign(static_cast<std::size_t>(n), 1.0f);
    net.va.assign(static_cast<std::size_t>(n), 0.0f);
    for (std::int32_t i = 0; i < n; ++i) {
      const double kv = file.base_kv[i];
      net.ub[i] = kv > 0 ? static_cast<float>(kv) : 1.0f;
      const double rad = file.va_file[i] * M_PI / 180.0;
      net.vm[i] = static_cast<float>(file.vm_file[i]);
      net.va[i] = static_cast<float>(rad);
      net.e[i] = static_cast<float>(file.vm_file[i] * std::cos(rad));
      net.e[kLdNode + i] = static_cast<float>(file.vm_file[i] * std::sin(rad));
    }
  } catch (const cf::CaseError &) {
    return false;
  }
  const cf::HostArrays &h = net.h;
  std::int32_t n = h.n, nb = h.nb, nsh = h.nsh;
  net.irow.assign(kLdNonzero, 0);
  net.jcol.assign(kLdNonzero, 0);
  net.ija.assign(kLdNonzero + 1, 0);
  net.a.assign(2 * kLdNonzero, 0.0f);
  net.sa.assign(2 * kLdNonzero, 0.0f);
  MatricaY(h.bsh.data(), h.ksh.data(), &nsh, &n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &nb,
           net.irow.data(), net.jcol.data(), net.a.data(), &net.nz, net.sa.data(), net.ija.data());
  Factor(n, net.nz, net.a, net.irow, net.jcol, net.f);
  net.b.assign(2 * kLdNode, 0.0f);
  for (std::int32_t i = 0; i < n; ++i) {
    net.b[i] = std::sin(0.37f * static_cast<float>(i + 1));
    net.b[kLdNode + i] = std::cos(0.11f * static_cast<float>(i + 1));
  }

  const cf::HostArrays &p = net.pf;
  std::int32_t pn = p.n, pnb = p.nb, npq = net.npq;
  const auto room = static_cast<std::size_t>(pn + 2 * pnb);
  for (RealList &m : net.bx) {
    m.irow.assign(room, 0);
    m.jcol.assign(room, 0);
    m.val.assign(room, 0.0f);
  }
  Matrici_VektoriBX(&pn, &npq, p.z_bx.data(), p.t.data(), p.nodes.data(), &pnb, net.bx[0].irow.data(),
                    net.bx[0].jcol.data(), net.bx[0].val.data(), &net.bx[0].nz, net.bx[1].irow.data(),
                    net.bx[1].jcol.data(), net.bx[1].val.data(), &net.bx[1].nz);
  net.bx[0].order = pn - 1;
  net.bx[1].order = npq;
  for (RealList &m : net.bx)
    if (m.order > 0) FactorReal(m);
  return true;
}

// ---- Triplet -> compressed column, for the peers ----------------------------
// Two counting passes (by row, then by column) leave the row indices of
// every column ascending. Values are converted to the peer's scalar on the
// way; the buffers are sized once, outside the timed region.
struct Csc {
  int n = 0, nz = 0;
  std::vector<int> ap, ai, rp, rj, count;
  std::vector<double> ax, rx; // interleaved (re, im) for complex, plain for real
  std::vector<float> fx, frx; // single-precision complex, interleaved
  void size(int order, int entries) {
    n = order;
    nz = entries;
    ap.assign(static_cast<std::size_t>(n) + 1, 0);
    rp.assign(static_cast<std::size_t>(n) + 1, 0);
    count.assign(static_cast<std::size_t>(n) + 1, 0);
    ai.assign(static_cast<std::size_t>(nz), 0);
    rj.assign(static_cast<std::size_t>(nz), 0);
    ax.assign(2 * static_cast<std::size_t>(nz), 0.0);
    rx.assign(2 * static_cast<std::size_t>(nz), 0.0);
    fx.assign(2 * static_cast<std::size_t>(nz), 0.0f);
    frx.assign(2 * static_cast<std::size_t>(nz), 0.0f);
  }
  // Scalar: 1 real double, 2 complex double, 3 complex float (split input).
  template <int Kind>
  void convert(const std::int32_t *irow, const std::int32_t *jcol, const float *re, const float *im) {
    std::fill(rp.begin(), rp.end(), 0);
    for (int k = 0; k < nz; ++k) ++rp[irow[k]];
    for (int i = 0; i < n; ++i) rp[i + 1] += rp[i];
    for (int i = 0; i < n; ++i) count[i] = rp[i];
    for (int k = 0; k < nz; ++k) {
      const int q = count[irow[k] - 1]++;
      rj[q] = jcol[k] - 1;
      if constexpr (Kind == 1) rx[q] = re[k];
      if constexpr (Kind == 2) {
        rx[2 * q] = re[k];
        rx[2 * q + 1] = im[k];
      }
      if constexpr (Kind == 3) {
        frx[2 * q] = re[k];
        frx[2 * q + 1] = im[k];
      }
    }
    std::fill(ap.begin(), ap.end(), 0);
    for (int k = 0; k < nz; ++k) ++ap[rj[k] + 1];
    for (int j = 0; j < n; ++j) ap[j + 1] += ap[j];
    for (int j = 0; j < n; ++j) count[j] = ap[j];
    for (int i = 0; i < n; ++i)
      for (int q = rp[i]; q < rp[i + 1]; ++q) {
        const int p = count[rj[q]]++;
        ai[p] = i;
        if constexpr (Kind == 1) ax[p] = rx[q];
        if constexpr (Kind == 2) {
          ax[2 * p] = rx[2 * q];
          ax[2 * p + 1] = rx[2 * q + 1];
        }
        if constexpr (Kind == 3) {
          fx[2 * p] = frx[2 * q];
          fx[2 * p + 1] = frx[2 * q + 1];
        }
      }
  }
};

// ---- ORVEK benchmarks --------------------------------------------------------
void OrvekMatricaY(benchmark::State &state, Network *net) {
  const cf::HostArrays &h = net->h;
  std::int32_t n = h.n, nb = h.nb, nsh = h.nsh, nz = 0;
  std::vector<std::int32_t> irow(kLdNonzero), jcol(kLdNonzero), ija(kLdNonzero + 1);
  std::vector<float> a(2 * kLdNonzero), sa(2 * kLdNonzero);
  for (auto _ : state) {
    MatricaY(h.bsh.data(), h.ksh.data(), &nsh, &n, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &nb,
             irow.data(), jcol.data(), a.data(), &nz, sa.data(), ija.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
}

void OrvekLuc(benchmark::State &state, Network *net) {
  const std::int32_t n = net->h.n, nz = net->nz;
  FactorSet f;
  f.AllocateComplex(n, nz);
  for (auto _ : state) {
    FactorComplex(n, nz, net->a, net->irow, net->jcol, f);
    benchmark::DoNotOptimize(f.fac.data());
    benchmark::ClobberMemory();
  }
}

void OrvekBsc(benchmark::State &state, Network *net) {
  const FactorSet &f = net->f;
  std::int32_t n = net->h.n, ipath = 1;
  std::vector<float> x(2 * kLdNode);
  for (auto _ : state) {
    BSC(&n, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data(),
        net->b.data(), &ipath, x.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}

// Sequence columns for NaponiKV: the positive-sequence column stands for all
// three sequence networks (one matrix is factored on both roads).
struct FaultBuffers {
  std::vector<float> z0, z1, z2, va, vb, vc, ifs;
  FaultBuffers()
      : z0(2 * kLdNode), z1(2 * kLdNode), z2(2 * kLdNode), va(2 * kLdNode), vb(2 * kLdNode), vc(2 * kLdNode),
        ifs(6) {}
  void fan_out(std::int32_t n) {
    std::memcpy(z0.data(), z1.data(), sizeof(float) * static_cast<std::size_t>(n));
    std::memcpy(z0.data() + kLdNode, z1.data() + kLdNode, sizeof(float) * static_cast<std::size_t>(n));
    std::memcpy(z2.data(), z1.data(), sizeof(float) * static_cast<std::size_t>(n));
    std::memcpy(z2.data() + kLdNode, z1.data() + kLdNode, sizeof(float) * static_cast<std::size_t>(n));
  }
  void fault(Network *net, std::int32_t k) {
    std::int32_t n = net->h.n, type = kFaultType;
    NaponiKV(&n, &type, &k, net->ub.data(), net->e.data(), z0.data(), z1.data(), z2.data(), va.data(), vb.data(),
             vc.data(), ifs.data());
  }
};

void OrvekFaultRoad(benchmark::State &state, Network *net) {
  std::int32_t n = net->h.n, nz = net->nz, ipath = 1;
  FactorSet f;
  f.AllocateComplex(n, nz);
  std::vector<float> b(2 * kLdNode, 0.0f);
  FaultBuffers fb;
  for (auto _ : state) {
    FactorComplex(n, nz, net->a, net->irow, net->jcol, f);
    for (std::int32_t k = 1; k <= n; ++k) {
      b[k - 1] = 1.0f;
      BSC(&n, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data(), b.data(),
          &ipath, fb.z1.data());
      b[k - 1] = 0.0f;
      fb.fan_out(n);
      fb.fault(net, k);
    }
    benchmark::DoNotOptimize(fb.va.data());
    benchmark::ClobberMemory();
  }
}

void OrvekDecoupledAssemblyAndFactor(benchmark::State &state, Network *net) {
  const cf::HostArrays &p = net->pf;
  std::int32_t n = p.n, nb = p.nb, npq = net->npq;
  RealList m[2];
  const auto room = static_cast<std::size_t>(n + 2 * nb);
  for (RealList &l : m) {
    l.irow.assign(room, 0);
    l.jcol.assign(room, 0);
    l.val.assign(room, 0.0f);
    l.f.Allocate(3 * room, 3 * room, n);
  }
  m[0].order = n - 1;
  m[1].order = npq;
  for (auto _ : state) {
    Matrici_VektoriBX(&n, &npq, p.z_bx.data(), p.t.data(), p.nodes.data(), &nb, m[0].irow.data(), m[0].jcol.data(),
                      m[0].val.data(), &m[0].nz, m[1].irow.data(), m[1].jcol.data(), m[1].val.data(), &m[1].nz);
    for (RealList &l : m)
      if (l.order > 0) FactorRealInto(l, l.f);
    benchmark::DoNotOptimize(m[1].f.fac.data());
    benchmark::ClobberMemory();
  }
}

void OrvekLurBoth(benchmark::State &state, Network *net) {
  FactorSet out[2];
  for (int q = 0; q < 2; ++q) out[q] = net->bx[q].f;
  for (auto _ : state) {
    for (int q = 0; q < 2; ++q)
      if (net->bx[q].order > 0) FactorRealInto(net->bx[q], out[q]);
    benchmark::DoNotOptimize(out[1].fac.data());
    benchmark::ClobberMemory();
  }
}

void OrvekBsrBoth(benchmark::State &state, Network *net) {
  std::vector<float> b(kLdNode), x(kLdNode);
  for (std::int32_t i = 0; i < kLdNode; ++i) b[i] = std::sin(0.37f * static_cast<float>(i + 1));
  std::int32_t ipath = 1;
  for (auto _ : state) {
    for (RealList &l : net->bx)
      if (l.order > 0)
        BSR(&l.order, &l.f.nfac, &l.f.nl, l.f.fac.data(), l.f.irfac.data(), l.f.jcfac.data(), l.f.ipvt.data(),
            l.f.jpvt.data(), b.data(), &ipath, x.data());
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}

void OrvekMnozi(benchmark::State &state, Network *net) {
  std::int32_t n = net->h.n;
  std::vector<float> s(2 * kLdNode);
  for (auto _ : state) {
    MNOZI(net->sa.data(), net->ija.data(), net->vm.data(), net->va.data(), s.data(), &n);
    benchmark::DoNotOptimize(s.data());
    benchmark::ClobberMemory();
  }
}

// ---- KLU ------------------------------------------------------------------------
#if ORVEK_BENCH_KLU
struct KluRun {
  klu_common common;
  klu_symbolic *symbolic = nullptr;
  klu_numeric *numeric = nullptr;
  KluRun() { klu_defaults(&common); }
  ~KluRun() { release(); }
  KluRun(const KluRun &) = delete;
  KluRun &operator=(const KluRun &) = delete;
  void release() {
    if (numeric != nullptr) klu_free_numeric(&numeric, &common);
    if (symbolic != nullptr) klu_free_symbolic(&symbolic, &common);
  }
  // Triplets -> CSC, analysis, factorization (complex when Complex).
  template <bool Complex> bool factor(Csc &m, const std::int32_t *irow, const std::int32_t *jcol, const float *re,
                                      const float *im) {
    m.convert<Complex ? 2 : 1>(irow, jcol, re, im);
    symbolic = klu_analyze(m.n, m.ap.data(), m.ai.data(), &common);
    if (symbolic == nullptr) return false;
    numeric = Complex ? klu_z_factor(m.ap.data(), m.ai.data(), m.ax.data(), symbolic, &common)
                      : klu_factor(m.ap.data(), m.ai.data(), m.ax.data(), symbolic, &common);
    return numeric != nullptr;
  }
};

void KluFactor(benchmark::State &state, Network *net) {
  Csc m;
  m.size(net->h.n, net->nz);
  for (auto _ : state) {
    KluRun k;
    if (!k.factor<true>(m, net->irow.data(), net->jcol.data(), net->a.data(), net->a.data() + kLdNonzero)) {
      state.SkipWithError("KLU factorization failed");
      break;
    }
    benchmark::DoNotOptimize(k.numeric);
  }
}

void KluSolve(benchmark::State &state, Network *net) {
  Csc m;
  m.size(net->h.n, net->nz);
  KluRun k;
  if (!k.factor<true>(m, net->irow.data(), net->jcol.data(), net->a.data(), net->a.data() + kLdNonzero)) {
    state.SkipWithError("KLU factorization failed");
    return;
  }
  const std::int32_t n = net->h.n;
  const std::vector<double> rhs = InterleavedRhs<double>(*net);
  std::vector<double> x(rhs.size());
  for (auto _ : state) {
    std::memcpy(x.data(), rhs.data(), sizeof(double) * rhs.size());
    klu_z_solve(k.symbolic, k.numeric, n, 1, x.data(), &k.common);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}

void KluFaultRoad(benchmark::State &state, Network *net) {
  Csc m;
  const std::int32_t n = net->h.n;
  m.size(n, net->nz);
  std::vector<double> x(2 * static_cast<std::size_t>(n));
  FaultBuffers fb;
  for (auto _ : state) {
    KluRun k;
    if (!k.factor<true>(m, net->irow.data(), net->jcol.data(), net->a.data(), net->a.data() + kLdNonzero)) {
      state.SkipWithError("KLU factorization failed");
      break;
    }
    for (std::int32_t node = 1; node <= n; ++node) {
      std::fill(x.begin(), x.end(), 0.0);
      x[2 * (node - 1)] = 1.0;
      klu_z_solve(k.symbolic, k.numeric, n, 1, x.data(), &k.common);
      for (std::int32_t i = 0; i < n; ++i) {
        fb.z1[i] = static_cast<float>(x[2 * i]);
        fb.z1[kLdNode + i] = static_cast<float>(x[2 * i + 1]);
      }
      fb.fan_out(n);
      fb.fault(net, node);
    }
    benchmark::DoNotOptimize(fb.va.data());
    benchmark::ClobberMemory();
  }
}

void KluRealFactorBoth(benchmark::State &state, Network *net) {
  Csc m[2];
  for (int q = 0; q < 2; ++q) m[q].size(net->bx[q].order, net->bx[q].nz);
  for (auto _ : state) {
    for (int q = 0; q < 2; ++q) {
      RealList &l = net->bx[q];
      if (l.order <= 0) continue;
      KluRun k;
      if (!k.factor<false>(m[q], l.irow.data(), l.jcol.data(), l.val.data(), nullptr)) {
        state.SkipWithError("KLU factorization failed");
        return;
      }
      benchmark::DoNotOptimize(k.numeric);
    }
  }
}

void KluRealSolveBoth(benchmark::State &state, Network *net) {
  Csc m[2];
  KluRun k[2];
  std::vector<double> rhs(kLdNode), x(kLdNode);
  for (std::int32_t i = 0; i < kLdNode; ++i) rhs[i] = std::sin(0.37f * static_cast<float>(i + 1));
  for (int q = 0; q < 2; ++q) {
    RealList &l = net->bx[q];
    if (l.order <= 0) continue;
    m[q].size(l.order, l.nz);
    if (!k[q].factor<false>(m[q], l.irow.data(), l.jcol.data(), l.val.data(), nullptr)) {
      state.SkipWithError("KLU factorization failed");
      return;
    }
  }
  for (auto _ : state) {
    for (int q = 0; q < 2; ++q) {
      const RealList &l = net->bx[q];
      if (l.order <= 0) continue;
      std::memcpy(x.data(), rhs.data(), sizeof(double) * static_cast<std::size_t>(l.order));
      klu_solve(k[q].symbolic, k[q].numeric, l.order, 1, x.data(), &k[q].common);
    }
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
#endif

// ---- SuperLU --------------------------------------------------------------------
#if ORVEK_BENCH_SUPERLU
struct SluRun {
  superlu_options_t options;
  SuperLUStat_t stat;
  SuperMatrix a{}, ac{}, l{}, u{};
  GlobalLU_t glu{};
  std::vector<int> perm_c, perm_r, etree;
  bool have_a = false, have_ac = false, have_lu = false;
  explicit SluRun(int n) : perm_c(static_cast<std::size_t>(n)), perm_r(perm_c.size()), etree(perm_c.size()) {
    set_default_options(&options);
    StatInit(&stat);
  }
  ~SluRun() {
    if (have_lu) {
      Destroy_SuperNode_Matrix(&l);
      Destroy_CompCol_Matrix(&u);
    }
    if (have_ac) Destroy_CompCol_Permuted(&ac);
    if (have_a) Destroy_SuperMatrix_Store(&a);
    StatFree(&stat);
  }
  SluRun(const SluRun &) = delete;
  SluRun &operator=(const SluRun &) = delete;
  // Triplets -> CSC, column ordering (COLAMD, the default), factorization.
  bool factor(Csc &m, const std::int32_t *irow, const std::int32_t *jcol, const float *re, const float *im) {
    m.convert<3>(irow, jcol, re, im);
    cCreate_CompCol_Matrix(&a, m.n, m.n, m.nz, reinterpret_cast<::complex *>(m.fx.data()), m.ai.data(),
                           m.ap.data(), SLU_NC, SLU_C, SLU_GE);
    have_a = true;
    get_perm_c(options.ColPerm, &a, perm_c.data());
    sp_preorder(&options, &a, perm_c.data(), etree.data(), &ac);
    have_ac = true;
    int info = 0;
    cgstrf(&options, &ac, sp_ienv(2), sp_ienv(1), etree.data(), nullptr, 0, perm_c.data(), perm_r.data(), &l, &u,
           &glu, &stat, &info);
    have_lu = info == 0;
    return have_lu;
  }
  void solve(std::vector<float> &x, int n) {
    SuperMatrix b;
    cCreate_Dense_Matrix(&b, n, 1, reinterpret_cast<::complex *>(x.data()), n, SLU_DN, SLU_C, SLU_GE);
    int info = 0;
    cgstrs(NOTRANS, &l, &u, perm_c.data(), perm_r.data(), &b, &stat, &info);
    Destroy_SuperMatrix_Store(&b);
  }
};

void SluFactor(benchmark::State &state, Network *net) {
  Csc m;
  m.size(net->h.n, net->nz);
  for (auto _ : state) {
    SluRun s(net->h.n);
    if (!s.factor(m, net->irow.data(), net->jcol.data(), net->a.data(), net->a.data() + kLdNonzero)) {
      state.SkipWithError("SuperLU factorization failed");
      break;
    }
    benchmark::DoNotOptimize(s.l.Store);
  }
}

void SluSolve(benchmark::State &state, Network *net) {
  Csc m;
  const std::int32_t n = net->h.n;
  m.size(n, net->nz);
  SluRun s(n);
  if (!s.factor(m, net->irow.data(), net->jcol.data(), net->a.data(), net->a.data() + kLdNonzero)) {
    state.SkipWithError("SuperLU factorization failed");
    return;
  }
  const std::vector<float> rhs = InterleavedRhs<float>(*net);
  std::vector<float> x(rhs.size());
  for (auto _ : state) {
    std::memcpy(x.data(), rhs.data(), sizeof(float) * rhs.size());
    s.solve(x, n);
    benchmark::DoNotOptimize(x.data());
    benchmark::ClobberMemory();
  }
}
#endif

// ---- Agreement of the solutions on the same matrix ---------------------------
// Largest difference between ORVEK's solution and a peer's, relative to the
// largest entry of the peer's; printed with the table as a check that both
// solve the same system.
struct Agreement {
  double klu = -1, superlu = -1;
};

Agreement Agree(Network &net) {
  Agreement out;
  const std::int32_t n = net.h.n;
  std::int32_t ipath = 1;
  std::vector<float> x(2 * kLdNode);
  BSC(&n, &net.f.nfac, &net.f.nl, net.f.fac.data(), net.f.irfac.data(), net.f.jcfac.data(), net.f.ipvt.data(),
      net.f.jpvt.data(), net.b.data(), &ipath, x.data());
  const auto compare = [&](const auto &y) {
    double diff = 0, big = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      diff = std::max(diff, std::hypot(double(x[i]) - double(y[2 * i]), double(x[kLdNode + i]) - double(y[2 * i + 1])));
      big = std::max(big, std::hypot(double(y[2 * i]), double(y[2 * i + 1])));
    }
    return big > 0 ? diff / big : diff;
  };
  static_cast<void>(compare);  // unused when the benchmark is built without peers
#if ORVEK_BENCH_KLU
  {
    Csc m;
    m.size(n, net.nz);
    KluRun k;
    if (k.factor<true>(m, net.irow.data(), net.jcol.data(), net.a.data(), net.a.data() + kLdNonzero)) {
      std::vector<double> y(2 * static_cast<std::size_t>(n));
      for (std::int32_t i = 0; i < n; ++i) {
        y[2 * i] = net.b[i];
        y[2 * i + 1] = net.b[kLdNode + i];
      }
      klu_z_solve(k.symbolic, k.numeric, n, 1, y.data(), &k.common);
      out.klu = compare(y);
    }
  }
#endif
#if ORVEK_BENCH_SUPERLU
  {
    Csc m;
    m.size(n, net.nz);
    SluRun s(n);
    if (s.factor(m, net.irow.data(), net.jcol.data(), net.a.data(), net.a.data() + kLdNonzero)) {
      std::vector<float> y(2 * static_cast<std::size_t>(n));
      for (std::int32_t i = 0; i < n; ++i) {
        y[2 * i] = net.b[i];
        y[2 * i + 1] = net.b[kLdNode + i];
      }
      s.solve(y, n);
      out.superlu = compare(y);
    }
  }
#endif
  return out;
}

// ---- Collection of the repetitions and the table ------------------------------
struct Stats {
  double median = 0, min = 0, max = 0;
  int count = 0;
};

class TableReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, std::vector<double>> times; // name -> CPU µs per call, one per repetition

  void ReportRuns(const std::vector<Run> &runs) override {
    std::vector<Run> shown;
    for (const Run &r : runs) {
      if (r.run_type == Run::RT_Iteration) {
        if (!r.error_occurred) times[r.run_name.str()].push_back(r.GetAdjustedCPUTime());
        if (r.repetitions <= 1) shown.push_back(r);
      } else if (r.aggregate_name == "median") {
        shown.push_back(r);
      }
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  Stats stats(const std::string &name) const {
    Stats s;
    const auto it = times.find(name);
    if (it == times.end() || it->second.empty()) return s;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size();
    s.median = m % 2 == 1 ? v[m / 2] : 0.5 * (v[m / 2 - 1] + v[m / 2]);
    s.min = v.front();
    s.max = v.back();
    s.count = static_cast<int>(m);
    return s;
  }
};

std::string Cell(const Stats &s) {
  if (s.count == 0) return "—";
  char buf[96];
  const auto fmt = [](double v) { return v >= 1000 ? "%.0f" : v >= 100 ? "%.1f" : "%.2f"; };
  char f[64];
  std::snprintf(f, sizeof f, "%s (%s–%s)", fmt(s.median), fmt(s.min), fmt(s.max));
  std::snprintf(buf, sizeof buf, f, s.median, s.min, s.max);
  return buf;
}

std::string Ratio(const Stats &a, const Stats &b, double target) {
  if (a.count == 0 || b.count == 0 || b.median <= 0) return "—";
  const double r = a.median / b.median;
  char buf[64];
  if (target > 0)
    std::snprintf(buf, sizeof buf, "%.2f (target ≤ %.1f: %s)", r, target, r <= target ? "met" : "missed");
  else
    std::snprintf(buf, sizeof buf, "%.2f", r);
  return buf;
}

std::string Table(const std::vector<std::unique_ptr<Network>> &nets, const TableReporter &rep,
                  const std::map<std::string, Agreement> &agree) {
  std::ostringstream o;
  for (const auto &np : nets) {
    const Network &net = *np;
    const std::string p = net.name + "/";
    if (rep.stats(p + "ORVEK/LUC").count == 0 && rep.stats(p + "ORVEK/MatricaY").count == 0) continue;
    const auto S = [&](const std::string &what) { return rep.stats(p + what); };
    o << "### " << net.name << " (N = " << net.h.n << ", NB = " << net.h.nb << ", NZ = " << net.nz
      << ", NFAC = " << net.f.nfac << "; fast decoupled orders " << net.bx[0].order << " and " << net.bx[1].order
      << ")\n\n";
    o << "| step | ORVEK µs, median (min–max) | peer | peer µs, median (min–max) | ratio ORVEK / peer |\n";
    o << "|---|---|---|---|---|\n";
    o << "| factor: `LUC` | " << Cell(S("ORVEK/LUC")) << " | KLU triplet→CSC + analyze + z_factor | "
      << Cell(S("KLU/factor")) << " | " << Ratio(S("ORVEK/LUC"), S("KLU/factor"), 0.8) << " |\n";
    o << "| one solve: `BSC` | " << Cell(S("ORVEK/BSC")) << " | klu_z_solve | " << Cell(S("KLU/solve")) << " | "
      << Ratio(S("ORVEK/BSC"), S("KLU/solve"), 1.0) << " |\n";
    o << "| fault road: `LUC`, then " << net.h.n << " × (`BSC` + `NaponiKV`) | " << Cell(S("ORVEK/fault_road"))
      << " | KLU factor, then " << net.h.n << " × (klu_z_solve + `NaponiKV`) | " << Cell(S("KLU/fault_road"))
      << " | " << Ratio(S("ORVEK/fault_road"), S("KLU/fault_road"), 1.0) << " |\n";
    o << "| assembly: `MatricaY` | " << Cell(S("ORVEK/MatricaY")) << " | ORVEK `LUC` | " << Cell(S("ORVEK/LUC"))
      << " | " << Ratio(S("ORVEK/MatricaY"), S("ORVEK/LUC"), 0.5) << " |\n";
    o << "| fast decoupled: `LUR` of both | " << Cell(S("ORVEK/LUR_both")) << " | KLU real, both | "
      << Cell(S("KLU/real_factor_both")) << " | " << Ratio(S("ORVEK/LUR_both"), S("KLU/real_factor_both"), 0)
      << " |\n";
    o << "| fast decoupled: `Matrici_VektoriBX` + `LUR` of both | " << Cell(S("ORVEK/BX_and_LUR")) << " | | | |\n";
    o << "| fast decoupled: one `BSR` with each | " << Cell(S("ORVEK/BSR_both")) << " | klu_solve with each | "
      << Cell(S("KLU/real_solve_both")) << " | " << Ratio(S("ORVEK/BSR_both"), S("KLU/real_solve_both"), 0)
      << " |\n";
    o << "| node powers: `MNOZI` | " << Cell(S("ORVEK/MNOZI")) << " | | | |\n";
    o << "| SuperLU single complex: CSC + COLAMD + cgstrf | | | " << Cell(S("SuperLU/factor")) << " | "
      << "ORVEK / SuperLU " << Ratio(S("ORVEK/LUC"), S("SuperLU/factor"), 0) << "; SuperLU / KLU "
      << Ratio(S("SuperLU/factor"), S("KLU/factor"), 0) << " |\n";
    o << "| SuperLU single complex: cgstrs | | | " << Cell(S("SuperLU/solve")) << " | ORVEK / SuperLU "
      << Ratio(S("ORVEK/BSC"), S("SuperLU/solve"), 0) << " |\n";
    const auto it = agree.find(net.name);
    if (it != agree.end()) {
      char buf[160];
      std::snprintf(buf, sizeof buf,
                    "\nSame system solved: max |x_ORVEK − x_peer| / max |x_peer| = %.1e (KLU), %.1e (SuperLU).\n",
                    it->second.klu, it->second.superlu);
      o << buf;
    }
    o << "\n";
  }
  return o.str();
}

using Body = void (*)(benchmark::State &, Network *);

void Register(const std::string &name, Body body, Network *net) {
  benchmark::RegisterBenchmark(name.c_str(), [body, net](benchmark::State &s) { body(s, net); })
      ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char **argv) {
  std::string table_path;
  std::vector<char *> args;
  std::string reps = "--benchmark_repetitions=" + std::to_string(kDefaultRepetitions);
  std::string min_time = std::string("--benchmark_min_time=") + kDefaultMinTime;
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(argv[0]);
  args.push_back(reps.data());
  args.push_back(min_time.data());
  args.push_back(interleave.data());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--orvek_table=", 0) == 0)
      table_path = a.substr(std::strlen("--orvek_table="));
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  // Every case file of the folder that fits the capacities, smallest first.
  std::vector<std::unique_ptr<Network>> nets;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(CasesDir(), ec)) {
    if (entry.path().extension() != ".m") continue;
    auto net = std::make_unique<Network>();
    if (Load(entry.path(), *net))
      nets.push_back(std::move(net));
    else
      std::fprintf(stderr, "orvek_bench: %s does not fit the capacities, left out\n",
                   entry.path().filename().string().c_str());
  }
  if (nets.empty()) {
    std::fprintf(stderr, "orvek_bench: no case file that fits in %s\n", CasesDir().c_str());
    return 1;
  }
  std::sort(nets.begin(), nets.end(), [](const auto &a, const auto &b) { return a->h.n < b->h.n; });

  std::map<std::string, Agreement> agree;
  for (const auto &np : nets) {
    Network *net = np.get();
    const std::string p = net->name + "/";
    agree[net->name] = Agree(*net);
    Register(p + "ORVEK/MatricaY", OrvekMatricaY, net);
    Register(p + "ORVEK/LUC", OrvekLuc, net);
    Register(p + "ORVEK/BSC", OrvekBsc, net);
    Register(p + "ORVEK/fault_road", OrvekFaultRoad, net);
    Register(p + "ORVEK/BX_and_LUR", OrvekDecoupledAssemblyAndFactor, net);
    Register(p + "ORVEK/LUR_both", OrvekLurBoth, net);
    Register(p + "ORVEK/BSR_both", OrvekBsrBoth, net);
    Register(p + "ORVEK/MNOZI", OrvekMnozi, net);
#if ORVEK_BENCH_KLU
    Register(p + "KLU/factor", KluFactor, net);
    Register(p + "KLU/solve", KluSolve, net);
    Register(p + "KLU/fault_road", KluFaultRoad, net);
    Register(p + "KLU/real_factor_both", KluRealFactorBoth, net);
    Register(p + "KLU/real_solve_both", KluRealSolveBoth, net);
#endif
#if ORVEK_BENCH_SUPERLU
    Register(p + "SuperLU/factor", SluFactor, net);
    Register(p + "SuperLU/solve", SluSolve, net);
#endif
  }

  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::string table = Table(nets, reporter, agree);
  std::printf("\n%s", table.c_str());
  if (!table_path.empty()) {
    std::ofstream out(table_path);
    out << table;
    if (!out) {
      std::fprintf(stderr, "orvek_bench: cannot write %s\n", table_path.c_str());
      return 1;
    }
  }
  benchmark::Shutdown();
  return 0;
}
