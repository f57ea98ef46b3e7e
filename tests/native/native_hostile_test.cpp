// Native calls under hostile use: a workspace moved from or used by two
// calls at once, a call that runs out of memory (each an orvek::Error, never
// a crash), and topologies built to be slow for quadratic checks (hundreds
// of thousands of parallel branches, chords and self-loops), whose records
// are checked against the branch table.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/child_process.hpp"
#include "native/native_internal.hpp"
#include "native_test_util.hpp"
#include "topology/ordering.hpp"

namespace orvek::test::native {
namespace {

using Ends = std::vector<std::int32_t>;

// The native layer's own error: routine, code and message of the report.
std::string Described(const Error &e) {
  return e.routine() + " " + std::to_string(e.code()) + " " + e.message();
}

template <class F> std::string ErrorOf(F &&f) {
  try {
    f();
  } catch (const Error &e) {
    return Described(e);
  }
  return "no error";
}

const Ends kFrom{1, 2, 1}, kTo{2, 3, 3};
const std::string kMovedFrom =
    "Workspace 1 The workspace was moved from; assign a Workspace to it before using it again.";
const std::string kInUse =
    "Workspace 2 The workspace is serving another call (on another thread); a workspace "
    "serves one call at a time.";

TEST(NativeHostile, MovedFromWorkspaceIsReportedUntilAssigned) {
  Workspace a;
  Workspace b(std::move(a));
  EXPECT_EQ(ErrorOf([&] { BuildAdjacency(a, 3, kFrom, kTo); }), kMovedFrom);
  Workspace c;
  c = std::move(b);
  EXPECT_EQ(ErrorOf([&] { BuildAdjacency(b, 3, kFrom, kTo); }), kMovedFrom);
  EXPECT_EQ(BuildAdjacency(c, 3, kFrom, kTo).ija.size(), 10u);
  a = Workspace();
  EXPECT_EQ(BuildAdjacency(a, 3, kFrom, kTo).ija.size(), 10u);
}

TEST(NativeHostile, WorkspaceInUseIsReportedAndFreedAfterTheCall) {
  Workspace ws;
  {
    orvek::native::CallScope running(ws, "OrderComponents"); // a call under way
    EXPECT_EQ(ErrorOf([&] { BuildAdjacency(ws, 3, kFrom, kTo); }), kInUse);
  }
  // After a refused call, an error and a success the workspace is free again.
  EXPECT_EQ(ErrorOf([&] { BuildAdjacency(ws, 0, kFrom, kTo); }),
            "BuildAdjacency 1 N = 0 must be at least 1.");
  EXPECT_EQ(BuildAdjacency(ws, 3, kFrom, kTo).ija.size(), 10u);
  EXPECT_EQ(BuildAdjacency(ws, 3, kFrom, kTo).ija.size(), 10u);
}

// Two threads on one workspace: every call gives the right lists or is
// refused as in use; nothing else (no corruption, no other error).
TEST(NativeHostile, OneWorkspaceOnTwoThreads) {
  Workspace ws;
  Ends from, to;
  for (std::int32_t b = 1; b <= 2000; ++b) from.push_back(b % 500 + 1), to.push_back((b * 7) % 500 + 1);
  const std::vector<std::int32_t> expected = BuildAdjacency(ws, 500, from, to).ija;
  std::atomic<int> wrong{0}, refused{0};
  auto run = [&] {
    for (int i = 0; i < 200; ++i) {
      try {
        if (BuildAdjacency(ws, 500, from, to).ija != expected) ++wrong;
      } catch (const Error &e) {
        if (Described(e) == kInUse)
          ++refused;
        else
          ++wrong;
      }
    }
  };
  std::thread t1(run), t2(run);
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0) << refused.load() << " calls refused";
}

#if defined(__SANITIZE_ADDRESS__)
#define ORVEK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVEK_UNDER_ASAN 1
#endif
#endif

// A call that cannot obtain its work storage: run in a child whose address
// space is limited to what it holds plus 64 MB, the lists of four million
// branches need about 250 MB.
TEST(NativeHostile, OutOfMemoryIsAnError) {
#if defined(ORVEK_UNDER_ASAN)
  GTEST_SKIP() << "the address-space limit does not apply under AddressSanitizer";
#elif defined(_WIN32)
  GTEST_SKIP() << "an address-space limit is set through POSIX resource limits";
#else
  const ChildResult child = RunInChild([] {
    const Ends from(4'000'000, 1), to(4'000'000, 2);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (64u << 20);
    const rlimit lim{limit, limit};
    setrlimit(RLIMIT_AS, &lim);
    Workspace ws;
    std::printf("%s", ErrorOf([&] { BuildAdjacency(ws, 2, from, to); }).c_str());
  });
  if (!child.supported) GTEST_SKIP();
  EXPECT_EQ(child.exit_status, 0);
  EXPECT_EQ(child.output, "Memory 1 The call needs more memory than could be obtained (std::bad_alloc).");
#endif
}

// Every node and branch once; tree branch k joins end1[k-1] and k; chord l
// joins the positions of its first and second end nodes; the chords are
// NB - N + NC in all; and the positions equal those of a scan (the first
// matching node of the component).
void ExpectConsistentRecords(std::int32_t n, const Ends &from, const Ends &to, const ComponentOrdering &o) {
  const auto nb = static_cast<std::int32_t>(from.size());
  std::vector<int> seen(static_cast<std::size_t>(n) + 1), used(static_cast<std::size_t>(nb) + 1);
  for (const std::int32_t v : o.ord) ++seen[static_cast<std::size_t>(v)];
  for (const std::int32_t b : o.bl) ++used[static_cast<std::size_t>(b)];
  EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), n);
  EXPECT_EQ(std::count(used.begin() + 1, used.end(), 1), nb);
  std::int64_t chords = 0;
  for (const Component &c : o.components) {
    chords += c.chords();
    const std::size_t nn = c.nodes.size();
    for (std::size_t k = 0; k < c.branches.size(); ++k) {
      const auto b = static_cast<std::size_t>(c.branches[k] - 1);
      const std::int32_t p = c.nodes[static_cast<std::size_t>(c.end1[k])];
      if (k + 1 < nn) {
        const std::int32_t q = c.nodes[k + 1];
        ASSERT_TRUE((p == from[b] && q == to[b]) || (p == to[b] && q == from[b])) << "tree branch " << b + 1;
      } else {
        const std::int32_t q = c.nodes[static_cast<std::size_t>(c.end2[k + 1 - nn])];
        ASSERT_TRUE(p == from[b] && q == to[b]) << "chord " << b + 1;
      }
    }
  }
  EXPECT_EQ(chords, static_cast<std::int64_t>(nb) - n + o.nc());
}

struct HardTopology {
  const char *name;
  std::int32_t n;
  Ends from, to;
};

HardTopology Parallel() { // 300 000 branches between nodes 1 and 2
  return {"parallel", 2, Ends(300'000, 1), Ends(300'000, 2)};
}

HardTopology RingWithChords() { // a ring, 120 000 chords across it, self-loops, an island
  HardTopology t{"ring", 40'000, {}, {}};
  for (std::int32_t i = 1; i < 39'990; ++i) t.from.push_back(i), t.to.push_back(i + 1);
  for (std::int32_t i = 0; i < 120'000; ++i)
    t.from.push_back(i % 39'990 + 1), t.to.push_back((i * 7919) % 39'990 + 1);
  for (std::int32_t i = 0; i < 1000; ++i) t.from.push_back(39'995), t.to.push_back(39'995);
  for (std::int32_t i = 39'991; i < 40'000; ++i) t.from.push_back(i), t.to.push_back(i + 1);
  return t;
}

TEST(NativeHostile, LargeParallelAndChordedTopologies) {
  for (const HardTopology &t : {Parallel(), RingWithChords()}) {
    SCOPED_TRACE(t.name);
    Workspace ws;
    const Adjacency adj = BuildAdjacency(ws, t.n, t.from, t.to);
    const ComponentOrdering o = OrderComponents(ws, adj, t.from, t.to);
    ExpectConsistentRecords(t.n, t.from, t.to, o);
  }
  const HardTopology p = Parallel();
  Workspace ws;
  const ComponentOrdering o = OrderComponents(ws, BuildAdjacency(ws, p.n, p.from, p.to), p.from, p.to);
  ASSERT_EQ(o.nc(), 1);
  EXPECT_EQ(o.ord, (Ends{1, 2}));
  EXPECT_EQ(o.components[0].chords(), 299'999);
}

// The index of positions gives what the scan of the component's nodes gives,
// on islands with parallel branches, self-loops and chords.
TEST(NativeHostile, RecordPositionsEqualTheScan) {
  const std::int32_t n = 300;
  Ends from, to;
  for (std::int32_t i = 0; i < 900; ++i) {
    const std::int32_t u = (i * 37) % n + 1, island = (u - 1) / 60 * 60;
    from.push_back(u), to.push_back(i % 9 == 0 ? u : island + (i * 13) % 60 + 1);
  }
  Workspace ws;
  const ComponentOrdering o = OrderComponents(ws, BuildAdjacency(ws, n, from, to), from, to);
  ExpectConsistentRecords(n, from, to, o);
  std::int32_t s0 = 0, b0 = 0;
  for (std::int32_t g = 1; g <= o.nc(); ++g) {
    const Component &c = o.components[static_cast<std::size_t>(g - 1)];
    const auto nn = static_cast<std::int32_t>(c.nodes.size()),
               nbr = static_cast<std::int32_t>(c.branches.size());
    Component scan = c;
    std::vector<std::int32_t> chp(static_cast<std::size_t>(c.chords()));
    std::int32_t a = 0, b = 0, d = 0;
    orvek::topology::StoreComponent(s0, b0, nn, nbr, o.ord, o.bl, o.par, from, to,
                                    {a, b, d, scan.nodes, scan.branches, scan.end1, chp, scan.end2});
    EXPECT_EQ(scan.end1, c.end1) << "component " << g;
    EXPECT_EQ(scan.end2, c.end2) << "component " << g;
    s0 += nn, b0 += nbr;
  }
  EXPECT_GT(o.nc(), 1);
}

} // namespace
} // namespace orvek::test::native
