// The key sort: the exact order of the worked examples, invariants over
// random inputs of many lengths and key spreads, in-place sorting, sorted
// input, the length error (captured and seen from outside), and SVIGN.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assembly/key_sort.hpp"
#include "common/child_process.hpp"
#include "common/error_capture.hpp"

namespace {

using orvek::ErrorModule;
using orvek::SVIGN;
using orvek::SVIGP;
using orvek::test::ErrorCapture;
using orvek::test::RunInChild;
using Keys = std::vector<std::int32_t>;

struct Sorted {
  Keys ib;
  Keys iperm;
};

Sorted SortWithIdentity(const Keys &ia) {
  ErrorModule err;
  Sorted out{Keys(ia.size(), -99), Keys(ia.size())};
  std::iota(out.iperm.begin(), out.iperm.end(), 1);
  SVIGP(err, static_cast<std::int32_t>(ia.size()), ia.data(), out.ib.data(), out.iperm.data());
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(err.N1RCD(1), 0);
  return out;
}

// Ascending keys, each taken from IA at the position IPERM names, IPERM a
// permutation of 1..N.
void ExpectValidSort(const Keys &ia, const Sorted &s) {
  const std::size_t n = ia.size();
  ASSERT_EQ(s.ib.size(), n);
  ASSERT_TRUE(std::is_sorted(s.ib.begin(), s.ib.end()));
  std::vector<bool> seen(n + 1, false);
  for (std::size_t k = 0; k < n; ++k) {
    const std::int32_t p = s.iperm[k];
    ASSERT_GE(p, 1);
    ASSERT_LE(p, static_cast<std::int32_t>(n));
    ASSERT_FALSE(seen[static_cast<std::size_t>(p)]) << "position " << p << " twice";
    seen[static_cast<std::size_t>(p)] = true;
    ASSERT_EQ(s.ib[k], ia[static_cast<std::size_t>(p - 1)]);
  }
}

TEST(KeySortExamples, TwoPairs) {
  const Sorted s = SortWithIdentity({2, 1, 2, 1});
  EXPECT_EQ(s.ib, (Keys{1, 1, 2, 2}));
  EXPECT_EQ(s.iperm, (Keys{2, 4, 3, 1}));
}

TEST(KeySortExamples, FiveKeys) {
  const Sorted s = SortWithIdentity({5, 3, 5, 3, 1});
  EXPECT_EQ(s.ib, (Keys{1, 3, 3, 5, 5}));
  EXPECT_EQ(s.iperm, (Keys{5, 2, 4, 3, 1}));
}

TEST(KeySortExamples, OneKeyLeavesThePermutation) {
  ErrorModule err;
  const std::int32_t ia = 17;
  std::int32_t ib = 0;
  std::int32_t iperm = 5;
  SVIGP(err, 1, &ia, &ib, &iperm);
  EXPECT_EQ(ib, 17);
  EXPECT_EQ(iperm, 5);
}

TEST(KeySortExamples, CompanionIsCarriedNotInitialised) {
  // IPERM holds whatever the caller put there; it moves with the keys.
  ErrorModule err;
  const Keys ia = {5, 3, 5, 3, 1};
  Keys ib(5);
  Keys companion = {50, 20, 40, 30, 10};
  SVIGP(err, 5, ia.data(), ib.data(), companion.data());
  EXPECT_EQ(companion, (Keys{10, 20, 30, 40, 50}));
}

Keys RandomKeys(std::mt19937 &rng, std::size_t n, std::int32_t lo, std::int32_t hi) {
  std::uniform_int_distribution<std::int32_t> key(lo, hi);
  Keys ia(n);
  for (auto &k : ia) k = key(rng);
  return ia;
}

TEST(KeySortRandom, ManyLengthsAndSpreads) {
  std::mt19937 rng(4242);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 1; n <= 130; ++n) lengths.push_back(n);
  for (std::size_t n : {255u, 256u, 257u, 1000u, 4097u, 10000u, 12345u, 30000u}) lengths.push_back(n);
  const std::int32_t spreads[][2] = {
      {0, 1},
      {0, 3},
      {-5, 5},
      {0, 1000},
      {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}};
  for (const std::size_t n : lengths) {
    for (const auto &spread : spreads) {
      const Keys ia = RandomKeys(rng, n, spread[0], spread[1]);
      const Keys original = ia;
      const Sorted s = SortWithIdentity(ia);
      ASSERT_EQ(ia, original) << "IA changed";
      ExpectValidSort(ia, s);
      if (testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "n = " << n << ", keys " << spread[0] << ".." << spread[1];
        return;
      }
      // In place: IA and IB the same array give exactly the same result.
      Keys in_place = ia;
      Keys iperm(n);
      std::iota(iperm.begin(), iperm.end(), 1);
      ErrorModule err;
      SVIGP(err, static_cast<std::int32_t>(n), in_place.data(), in_place.data(), iperm.data());
      ASSERT_EQ(in_place, s.ib) << n;
      ASSERT_EQ(iperm, s.iperm) << n;
    }
  }
}

TEST(KeySortRandom, StructuredInputs) {
  for (const std::size_t n : {12u, 13u, 24u, 100u, 1000u, 10000u}) {
    std::vector<Keys> inputs;
    Keys ascending(n), descending(n), organ(n), saw(n), equal(n, 7);
    for (std::size_t k = 0; k < n; ++k) {
      ascending[k] = static_cast<std::int32_t>(k);
      descending[k] = static_cast<std::int32_t>(n - k);
      organ[k] = static_cast<std::int32_t>(std::min(k, n - 1 - k));
      saw[k] = static_cast<std::int32_t>(k % 10);
    }
    for (const Keys &ia : {ascending, descending, organ, saw, equal}) {
      const Sorted s = SortWithIdentity(ia);
      ExpectValidSort(ia, s);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(KeySortRandom, SortedInputComesOutUnchanged) {
  std::mt19937 rng(99);
  for (const std::size_t n : {1u, 2u, 11u, 12u, 13u, 50u, 777u, 10000u}) {
    // All keys distinct: IB and IPERM unchanged.
    Keys distinct(n);
    std::int32_t key = -1000;
    for (auto &k : distinct) k = (key += 1 + static_cast<std::int32_t>(rng() % 5));
    const Sorted s = SortWithIdentity(distinct);
    EXPECT_EQ(s.ib, distinct) << n;
    Keys identity(n);
    std::iota(identity.begin(), identity.end(), 1);
    EXPECT_EQ(s.iperm, identity) << n;
    // With repeated keys: IB unchanged.
    Keys repeated = RandomKeys(rng, n, 0, 9);
    std::sort(repeated.begin(), repeated.end());
    const Sorted r = SortWithIdentity(repeated);
    EXPECT_EQ(r.ib, repeated) << n;
    ExpectValidSort(repeated, r);
  }
}

TEST(KeySortWithoutCompanion, SameKeysAsSvigp) {
  std::mt19937 rng(5);
  for (const std::size_t n : {1u, 2u, 5u, 12u, 31u, 500u, 10001u}) {
    for (const std::int32_t hi : {2, 50, 1 << 30}) {
      const Keys ia = RandomKeys(rng, n, 0, hi);
      const Sorted s = SortWithIdentity(ia);
      Keys ib(n);
      ErrorModule err;
      SVIGN(err, static_cast<std::int32_t>(n), ia.data(), ib.data());
      EXPECT_EQ(ib, s.ib);
      Keys in_place = ia;
      SVIGN(err, static_cast<std::int32_t>(n), in_place.data(), in_place.data());
      EXPECT_EQ(in_place, s.ib);
      EXPECT_EQ(err.depth(), 1);
    }
  }
}

TEST(KeySortErrors, LengthErrorWithStoppingOff) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.set_stop(orvek::kTerminal, false);
  Keys ib = {11, 12};
  Keys iperm = {21, 22};
  const Keys ia = {1, 2};
  SVIGP(err, -3, ia.data(), ib.data(), iperm.data());
  EXPECT_EQ(cap.take(), "\n"
                        " *** TERMINAL ERROR 1 from SVIGP.  The length of vectors IA, IB, and IPERM\n"
                        " ***          must be greater than or equal to one.  On input the length, N,\n"
                        " ***          is given as -3.\n"
                        "     Here is a traceback of subprogram calls in reverse order:\n"
                        "     Routine name                    Error type  Error code\n"
                        "     ------------                    ----------  ----------\n"
                        "     SVIGP                                5           1\n"
                        "     USER                                 0           0\n");
  EXPECT_EQ(cap.stops, 0);
  EXPECT_EQ(ib, (Keys{11, 12}));
  EXPECT_EQ(iperm, (Keys{21, 22}));
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(err.N1RCD(1), 1);
  EXPECT_EQ(err.last_routine(), "SVIGP");
  EXPECT_EQ(err.last_type(), orvek::kTerminal);

  SVIGN(err, 0, ia.data(), ib.data());
  EXPECT_EQ(cap.take(), "\n"
                        " *** TERMINAL ERROR 1 from SVIGN.  The length of vector IA must be greater\n"
                        " ***          than or equal to one.  On input the length, N, is given as 0.\n"
                        "     Here is a traceback of subprogram calls in reverse order:\n"
                        "     Routine name                    Error type  Error code\n"
                        "     ------------                    ----------  ----------\n"
                        "     SVIGN                                5           1\n"
                        "     USER                                 5           1\n");
  EXPECT_EQ(ib, (Keys{11, 12}));
  EXPECT_EQ(err.depth(), 1);
}

TEST(KeySortErrors, LengthErrorCalledInternally) {
  ErrorModule err;
  ErrorCapture cap(err);
  err.E1PSH("MatricaY");
  SVIGP(err, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(cap.stops, 1);
  EXPECT_NE(cap.text.find("     SVIGP                                5           1    (Called internally)\n"
                          "     MatricaY                             0           0\n"),
            std::string::npos)
      << cap.text;
  err.E1POP("MatricaY");
}

TEST(KeySortErrors, LengthErrorStopsTheProcess) {
  const auto child = RunInChild([] {
    std::int32_t ia = 0, ib = 0, iperm = 0;
    SVIGP(orvek::errors(), 0, &ia, &ib, &iperm);
  });
  if (!child.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(child.output, "\n"
                          " *** TERMINAL ERROR 1 from SVIGP.  The length of vectors IA, IB, and IPERM\n"
                          " ***          must be greater than or equal to one.  On input the length, N,\n"
                          " ***          is given as 0.\n"
                          "     Here is a traceback of subprogram calls in reverse order:\n"
                          "     Routine name                    Error type  Error code\n"
                          "     ------------                    ----------  ----------\n"
                          "     SVIGP                                5           1\n"
                          "     USER                                 0           0\n"
                          "Stop - Program terminated.\n");
  EXPECT_EQ(child.exit_status, 1);
}

} // namespace
