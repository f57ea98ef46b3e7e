// Fault levels at every node against the road every peer takes: ORVEK's
// factorization plus the whole diagonal of the inverse (FaultLevels, the
// matrix refactored in double along the factor set's pivots) against KLU's
// factorization plus N solves with unit right-hand sides, on the same
// matrices in one process; and one native Solve against one klu_z_solve.
// A measurement, not a test. Per network it prints exactly
//   fault-levels CASE n=N orvek_ms=T klu_nsolve_ms=T ratio=R max_rel_err=E solve_ratio=S
// (max_rel_err: the largest relative difference of the diagonal against
// KLU's N-solve diagonal; solve_ratio: one Solve over one klu_z_solve), and
//   fault-levels-sequences CASE n=N levels_ms=T with_factors_ms=T
// for all four fault types over the three sequence networks (zero; positive
// and negative sharing one factor set), without and with the two
// factorizations. Times are medians of thread CPU time. Without KLU the KLU
// figures print as nan.
//   build/bench/orvek_fault_levels [CASE ...]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "bench/thread_timing.hpp"
#include "tests/native/native_test_util.hpp"

#if ORVEK_BENCH_KLU
#include <klu.h>
#endif

namespace {

using namespace orvek;
using orvek::test::native::LoadNet;
using orvek::test::native::TestNet;

using orvek::bench::MedianSeconds;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

#if ORVEK_BENCH_KLU
// The triplets as compressed columns in double complex.
struct Csc {
  int n = 0;
  std::vector<int> ap, ai;
  std::vector<double> ax;
  explicit Csc(const TripletMatrix<Complex> &a) : n(a.n), ap(static_cast<std::size_t>(a.n) + 1, 0) {
    const std::size_t nz = a.value.size();
    for (std::size_t k = 0; k < nz; ++k) ++ap[static_cast<std::size_t>(a.jcol[k])];
    for (int j = 0; j < n; ++j) ap[static_cast<std::size_t>(j) + 1] += ap[static_cast<std::size_t>(j)];
    std::vector<int> next(ap.begin(), ap.end() - 1);
    ai.resize(nz);
    ax.resize(2 * nz);
    for (std::size_t k = 0; k < nz; ++k) {
      const auto p = static_cast<std::size_t>(next[static_cast<std::size_t>(a.jcol[k] - 1)]++);
      ai[p] = a.irow[k] - 1;
      ax[2 * p] = a.value[k].re;
      ax[2 * p + 1] = a.value[k].im;
    }
  }
};

struct Klu {
  klu_common common;
  klu_symbolic *symbolic = nullptr;
  klu_numeric *numeric = nullptr;
  explicit Klu(Csc &m) {
    klu_defaults(&common);
    symbolic = klu_analyze(m.n, m.ap.data(), m.ai.data(), &common);
    numeric = klu_z_factor(m.ap.data(), m.ai.data(), m.ax.data(), symbolic, &common);
  }
  ~Klu() {
    klu_free_numeric(&numeric, &common);
    klu_free_symbolic(&symbolic, &common);
  }
  Klu(const Klu &) = delete;
  Klu &operator=(const Klu &) = delete;
};
#endif

void Run(const std::string &name) {
  auto loaded = LoadNet(name);
  if (!loaded) {
    std::printf("# %s: case file not found\n", name.c_str());
    return;
  }
  const TestNet &t = *loaded;
  Workspace ws;
  const Admittance y1 =
      AssembleAdmittance(ws, t.n, t.branches(), orvek::test::native::GeneratorShunts(t, -5.0f).view());
  const Admittance y0 =
      AssembleAdmittance(ws, t.n, t.zero_branches(), orvek::test::native::GeneratorShunts(t, -10.0f).view());
  FactorSet<Complex> f1, f0;
  try {
    f1 = Factor(ws, y1.triplets);
    f0 = Factor(ws, y0.triplets);
  } catch (const Error &e) {
    std::printf("# %s: not factored: %s\n", name.c_str(), e.what());
    return;
  }
  const bool large = t.n > 5000;
  const int runs = large ? 5 : 9;
  const SequenceMatrices one{&y1.triplets, &y1.triplets, &y1.triplets};

  // ORVEK: factorization plus the whole diagonal.
  std::vector<NodeFaultLevels> levels;
  const double orvek_s = MedianSeconds(runs, [&] {
    const FactorSet<Complex> f = Factor(ws, y1.triplets);
    levels = FaultLevels(ws, {f, f, f}, t.ub, t.e, {}, one);
  });

  // The three sequence networks, all four fault types.
  const SequenceMatrices three{&y0.triplets, &y1.triplets, &y1.triplets};
  const double levels_s = MedianSeconds(runs, [&] { levels = FaultLevels(ws, {f0, f1, f1}, t.ub, t.e, {}, three); });
  const double with_factors_s = MedianSeconds(runs, [&] {
    const FactorSet<Complex> g1 = Factor(ws, y1.triplets), g0 = Factor(ws, y0.triplets);
    levels = FaultLevels(ws, {g0, g1, g1}, t.ub, t.e, {}, three);
  });

  double klu_s = kNan, solve_ratio = kNan, max_rel = kNan;
#if ORVEK_BENCH_KLU
  // The solve comparison's right-hand side and round count (only against KLU).
  const auto n = static_cast<std::size_t>(t.n);
  std::vector<Complex> b(n), x(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = {std::cos(0.37f * static_cast<float>(i)), 0.5f};
  const int reps = large ? 50 : 500;
  Csc m(y1.triplets);
  std::vector<double> diag(2 * n), col(2 * n);
  klu_s = MedianSeconds(large ? 1 : 3, [&] {
    Klu k(m);
    for (std::size_t j = 0; j < n; ++j) {
      std::fill(col.begin(), col.end(), 0.0);
      col[2 * j] = 1.0;
      klu_z_solve(k.symbolic, k.numeric, m.n, 1, col.data(), &k.common);
      diag[2 * j] = col[2 * j];
      diag[2 * j + 1] = col[2 * j + 1];
    }
  });
  const std::vector<NodeFaultLevels> one_levels = FaultLevels(ws, {f1, f1, f1}, t.ub, t.e, {}, one);
  max_rel = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const double re = diag[2 * j], im = diag[2 * j + 1];
    const double dr = one_levels[j].z1.re - re, di = one_levels[j].z1.im - im;
    max_rel = std::max(max_rel, std::hypot(dr, di) / std::hypot(re, im));
  }
  {
    // One native Solve against one klu_z_solve (with the copy of the
    // right-hand side into its solve vector), timed in alternation so that
    // both see the same load; the median of the per-round ratios.
    Klu k(m);
    std::vector<double> xb(2 * n), ratios;
    for (int round = 0; round < 3 * runs; ++round) {
      const double native = MedianSeconds(1, [&] {
        for (int r = 0; r < reps; ++r) Solve(ws, f1, b, x);
      });
      const double peer = MedianSeconds(1, [&] {
        for (int r = 0; r < reps; ++r) {
          for (std::size_t i = 0; i < n; ++i) xb[2 * i] = b[i].re, xb[2 * i + 1] = b[i].im;
          klu_z_solve(k.symbolic, k.numeric, m.n, 1, xb.data(), &k.common);
        }
      });
      ratios.push_back(native / peer);
    }
    std::sort(ratios.begin(), ratios.end());
    solve_ratio = ratios[ratios.size() / 2];
  }
#endif
  std::printf("fault-levels %s n=%d orvek_ms=%.3f klu_nsolve_ms=%.3f ratio=%.4f max_rel_err=%.2e solve_ratio=%.3f\n",
              name.c_str(), t.n, 1e3 * orvek_s, 1e3 * klu_s, orvek_s / klu_s, max_rel, solve_ratio);
  std::printf("fault-levels-sequences %s n=%d levels_ms=%.3f with_factors_ms=%.3f\n", name.c_str(), t.n,
              1e3 * levels_s, 1e3 * with_factors_s);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> cases(argv + 1, argv + argc);
  if (cases.empty())
    cases = {"case9",          "case14",         "case30",          "case57",  "case89pegase",
             "case118",        "case_ACTIVSg200", "case300",        "case_ACTIVSg500", "case1354pegase",
             "case2383wp",     "case9241pegase", "case_ACTIVSg10k", "case13659pegase"};
  for (const std::string &c : cases) Run(c);
  return 0;
}
