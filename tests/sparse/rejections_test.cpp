// Rejections of the solve entry points not exercised elsewhere: BSR with an
// order beyond its work storage, BSC with more multipliers than factor
// entries and with factor rows or columns outside 1..N. Each message is
// compared as printed (in-process with the stop intercepted, and from a
// child process that really stops with status 1), and the whole of the
// host's X(1000,2) / X(N) must still hold the canary afterwards.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "orvek/orvek.h"
#include "support/error_module.hpp"

namespace {

using orvek::errors;
using orvek::test::ErrorCapture;
using orvek::test::RunInChild;

constexpr std::int32_t kLdFactor = ORVEK_LD_FACTOR, kLdNode = ORVEK_LD_NODE;
constexpr float kCanary = -321.5f;

// A sound complex factor set of order 2 (L(2,1) = 0.5, U = I) in the host
// layout, X filled with the canary.
struct ComplexSolve {
  std::vector<float> fac = std::vector<float>(2 * kLdFactor, 0.0f);
  std::vector<float> b = std::vector<float>(2 * kLdNode, 1.0f);
  std::vector<float> x = std::vector<float>(2 * kLdNode, kCanary);
  std::vector<std::int32_t> irfac = {2, 2, 1}, jcfac = {1, 2, 1}, ipvt = {1, 2}, jpvt = {1, 2};
  std::int32_t n = 2, nfac = 3, nl = 1, ipath = 1;
  ComplexSolve() { fac[0] = 0.5f, fac[1] = 1.0f, fac[2] = 1.0f; }
  void call() {
    BSC(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
        x.data());
  }
};

struct Case {
  std::string name;
  std::function<bool()> call; // true when every output position still holds the canary
  std::string printed;        // the message as printed, before the traceback
};

bool AllCanary(const std::vector<float> &x) {
  return std::all_of(x.begin(), x.end(), [](float v) { return v == kCanary; });
}

std::vector<Case> Cases() {
  std::vector<Case> c;
  c.push_back({"BSR N",
               [] {
                 // Host arrays as a host of order 1001 declares them.
                 const std::int32_t order = kLdNode + 1;
                 std::vector<float> fac(3, 1.0f), b(order, 1.0f), x(order, kCanary);
                 std::vector<std::int32_t> irfac(3, 1), jcfac(3, 1), ipvt(order, 1), jpvt(order, 1);
                 std::int32_t n = order, nfac = 3, nl = 1, ipath = 1;
                 BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(),
                     &ipath, x.data());
                 return AllCanary(x);
               },
               "\n *** TERMINAL ERROR 1 from BSR.  N = 1001 must not exceed 1000.\n"});
  c.push_back({"BSC NL",
               [] {
                 ComplexSolve s;
                 s.nl = 4;
                 s.call();
                 return AllCanary(s.x);
               },
               "\n *** TERMINAL ERROR 3 from BSC.  NL = 4 must not exceed NFAC = 3.\n"});
  c.push_back({"BSC IRFAC",
               [] {
                 ComplexSolve s;
                 s.irfac[1] = 3;
                 s.call();
                 return AllCanary(s.x);
               },
               "\n *** TERMINAL ERROR 4 from BSC.  IRFAC(2) = 3 must lie between 1 and N = 2.\n"});
  c.push_back({"BSC JCFAC",
               [] {
                 ComplexSolve s;
                 s.jcfac[2] = 0;
                 s.call();
                 return AllCanary(s.x);
               },
               "\n *** TERMINAL ERROR 5 from BSC.  JCFAC(3) = 0 must lie between 1 and N = 2.\n"});
  return c;
}

TEST(SolveRejections, SoundFactorSetPasses) {
  // The factor set the cases damage solves cleanly: x = (1, 0.5).
  ErrorCapture capture(errors());
  ComplexSolve s;
  s.call();
  EXPECT_EQ(capture.take(), "");
  EXPECT_EQ(s.x[0], 1.0f);
  EXPECT_EQ(s.x[1], 0.5f);
  EXPECT_EQ(s.x[2], kCanary);
}

TEST(SolveRejections, PrintedAndNothingWritten) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.name);
    ErrorCapture capture(errors());
    EXPECT_TRUE(c.call()) << "X written";
    EXPECT_EQ(capture.stops, 1);
    const std::string text = capture.take();
    EXPECT_EQ(text.substr(0, c.printed.size()), c.printed);
    const std::string traceback = "     Here is a traceback of subprogram calls in reverse order:\n";
    EXPECT_EQ(text.substr(c.printed.size(), traceback.size()), traceback);
    EXPECT_EQ(errors().depth(), 1);
  }
  // Leave the user level as a fresh process has it (type 0, code 0): tests
  // that print a traceback show it.
  errors().E1MES(0, 0, "");
}

TEST(SolveRejections, StopTheProcess) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.name);
    const auto result = RunInChild([&c] { (void)c.call(); });
    if (!result.supported) GTEST_SKIP() << "no child processes here";
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.output.substr(0, c.printed.size()), c.printed);
    const std::string stop = "Stop - Program terminated.\n";
    ASSERT_GE(result.output.size(), stop.size());
    EXPECT_EQ(result.output.substr(result.output.size() - stop.size()), stop);
  }
}

} // namespace
