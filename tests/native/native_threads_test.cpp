// No shared state: two threads with two workspaces run the whole road at
// once (assembly, factorization, fault study, a rejected call, decoupled
// matrices, topology), also solving with one factor set they share, and
// get exactly the results of a single-threaded run. Built with
// -fsanitize=thread this is the data-race check of the native interface:
//   cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo
//         -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
//         -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
//   cmake --build build-tsan --target test_native -j2
//   build-tsan/tests/test_native --gtest_filter='NativeThreads*'
// (a race makes the run report "WARNING: ThreadSanitizer" and exit with 66).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "native_test_util.hpp"

namespace orvek::test::native {
namespace {

struct RoadResult {
  std::vector<Complex> triplets, row_indexed;
  std::vector<Complex> fac;
  std::vector<FaultCurrents> faults;
  std::vector<Complex> shared_solve;
  std::vector<float> decoupled;
  std::vector<std::int32_t> ordering;
  std::string error;
};

bool Same(const RoadResult &a, const RoadResult &b) {
  auto bits = [](const auto &x, const auto &y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof x[0]) == 0;
  };
  return bits(a.triplets, b.triplets) && bits(a.row_indexed, b.row_indexed) && bits(a.fac, b.fac) &&
         bits(a.faults, b.faults) && bits(a.shared_solve, b.shared_solve) && bits(a.decoupled, b.decoupled) &&
         a.ordering == b.ordering && a.error == b.error;
}

RoadResult Road(Workspace &ws, const TestNet &t, const FactorSet<Complex> &shared) {
  RoadResult r;
  const Shunts s1 = GeneratorShunts(t, -5.0f), s0 = GeneratorShunts(t, -10.0f);
  const Admittance y1 = AssembleAdmittance(ws, t.n, t.branches(), s1.view());
  const Admittance y0 = AssembleAdmittance(ws, t.n, t.zero_branches(), s0.view());
  r.triplets = y1.triplets.value;
  r.row_indexed = y1.row_indexed.sa;
  const FactorSet<Complex> f1 = Factor(ws, y1.triplets), f0 = Factor(ws, y0.triplets);
  r.fac = f1.fac;
  r.faults = FaultStudy(ws, kTwoPhaseToEarth, {f0, f1, f1}, t.ub, t.e);
  r.shared_solve = Solve(ws, shared, t.e);
  try {
    AssembleTriplets(ws, t.n, BranchView{});
  } catch (const Error &e) {
    r.error = e.printed();
  }
  const DecoupledMatrices m = FastDecoupledMatrices(ws, t.n, t.n / 2, t.decoupled());
  r.decoupled = m.second.value;
  const Adjacency adj = BuildAdjacency(ws, t.n, t.from, t.to);
  r.ordering = OrderComponents(ws, adj, t.from, t.to).ord;
  return r;
}

TEST(NativeThreads, TwoWorkspacesRunTheRoadAtOnce) {
  ORVEK_LOAD_NET(t, "case300");
  Workspace main_ws;
  const Shunts s2 = GeneratorShunts(t, -4.0f);
  const FactorSet<Complex> shared = Factor(main_ws, AssembleAdmittance(main_ws, t.n, t.branches(), s2.view()).triplets);
  const RoadResult reference = Road(main_ws, t, shared);
  ASSERT_FALSE(reference.error.empty());
  ASSERT_EQ(reference.faults.size(), static_cast<std::size_t>(t.n));

  constexpr int kRounds = 3;
  bool same[2] = {true, true};
  auto worker = [&](int id) {
    Workspace ws;
    for (int round = 0; round < kRounds; ++round) same[id] = Same(Road(ws, t, shared), reference) && same[id];
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_TRUE(same[0]);
  EXPECT_TRUE(same[1]);
}

} // namespace
} // namespace orvek::test::native
