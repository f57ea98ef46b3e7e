// Timings of the native road on large networks, beyond the exported
// routines' capacities. A measurement, not a test (it is not registered with
// CTest and asserts nothing about time); it reuses the native tests' network
// loader. Run with
//   build/bench/orvek_native_timing
// It prints, per network, the medians (thread CPU time) of the assembly, the factorization,
// one solve and an all-node three-phase fault study, and the fill-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/thread_timing.hpp"
#include "tests/native/native_test_util.hpp"

namespace orvek::test::native {
namespace {

using orvek::bench::MedianSeconds;

class Timing : public testing::TestWithParam<const char *> {};

TEST_P(Timing, NativeRoad) {
  ORVEK_LOAD_NET(t, GetParam());
  Workspace ws;
  const Shunts s1 = GeneratorShunts(t, -5.0f), s0 = GeneratorShunts(t, -10.0f);
  Admittance y1;
  const double assembly = MedianSeconds(7, [&] { y1 = AssembleAdmittance(ws, t.n, t.branches(), s1.view()); });
  FactorSet<Complex> f1;
  const double factor = MedianSeconds(7, [&] { f1 = Factor(ws, y1.triplets); });
  const FactorSet<Complex> f0 = Factor(ws, AssembleAdmittance(ws, t.n, t.zero_branches(), s0.view()).triplets);
  std::vector<Complex> x(static_cast<std::size_t>(t.n));
  const double solve = MedianSeconds(21, [&] { Solve(ws, f1, t.e, x); });
  const int study_runs = t.n > 10000 ? 1 : 3;
  const double study =
      MedianSeconds(study_runs, [&] { (void)FaultStudy(ws, kThreePhase, {f0, f1, f1}, t.ub, t.e); });
  std::printf("%-16s N %6d  NB %6d  NZ %7d  NFAC %8d  fill-in %8lld  peak %8d | assembly %8.3f ms  factor %9.3f ms  "
              "solve %7.3f ms  all-node study %9.3f s (%d run%s)\n",
              GetParam(), t.n, t.nb, y1.triplets.nz(), f1.nfac, static_cast<long long>(FillIn(f1, y1.triplets)),
              f1.peak, assembly * 1e3, factor * 1e3, solve * 1e3, study, study_runs, study_runs > 1 ? "s" : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, Timing, testing::Values("case2383wp", "case9241pegase", "case13659pegase"),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

} // namespace
} // namespace orvek::test::native
