// Rejections of the solve entry points not exercised elsewhere: BSR and BSC
// with more multipliers than factor entries, BSC with factor rows or
// columns outside 1..N. Each message is
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
  c.push_back({"BSR NL",
               [] {
                 std::vector<float> fac(3, 1.0f), b(2, 1.0f), x(2, kCanary);
                 std::vector<std::int32_t> irfac = {2, 2, 1}, jcfac = {1, 2, 1}, ipvt = {1, 2}, jpvt = {1, 2};
                 std::int32_t n = 2, nfac = 3, nl = 5, ipath = 1;
                 BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(),
                     &ipath, x.data());
                 return AllCanary(x);
               },
               "\n *** TERMINAL ERROR 2 from BSR.  NL = 5 must not exceed NFAC = 3.\n"});
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

// Where the solve itself writes before it checks, the host sees it: the
// permutation copies B into X before its range check rejects IPVT = (0, 3)
// (the sum test passes), and IPVT comes back as it was. LUC with NZ = 0
// sets IPARAM(1) and NFAC = 3*NZ, and the driver applies the defaults,
// before the stop.
TEST(SolveRejections, WritesBeforeTheSolvesOwnChecks) {
  ErrorCapture capture(errors());
  std::vector<float> fac = {0.5f, 1, 1}, b = {7, 8}, x(2, kCanary);
  std::vector<std::int32_t> irfac = {2, 2, 1}, jcfac = {1, 2, 1}, ipvt = {0, 3}, jpvt = {1, 2};
  std::int32_t n = 2, nfac = 3, nl = 1, ipath = 1;
  BSR(&n, &nfac, &nl, fac.data(), irfac.data(), jcfac.data(), ipvt.data(), jpvt.data(), b.data(), &ipath,
      x.data());
  EXPECT_GE(capture.stops, 1);
  capture.stops = 0;
  const std::string text = capture.take();
  EXPECT_NE(text.find("TERMINAL ERROR 3 from PERMU.  IPERMU(1) = 0 is not allowed."), std::string::npos) << text;
  EXPECT_EQ(x, b);
  EXPECT_EQ(ipvt, (std::vector<std::int32_t>{0, 3}));

  std::int32_t nz = 0, iparam[6] = {5, 5, 5, 5, 5, 5}, lu_nfac = -9, lu_nl = -9;
  float rparam[5] = {-1, -1, -1, -1, -1}, a[2 * ORVEK_LD_NONZERO] = {};
  std::vector<std::int32_t> none(1, 0);
  std::vector<float> lu_fac(2 * kLdFactor, kCanary);
  LUC(&n, &nz, a, none.data(), none.data(), iparam, rparam, &lu_nfac, &lu_nl, lu_fac.data(), none.data(),
      none.data(), ipvt.data(), jpvt.data());
  EXPECT_GE(capture.stops, 1);
  EXPECT_NE(capture.take().find("TERMINAL ERROR 7 from LFTZG."), std::string::npos);
  EXPECT_EQ(lu_nfac, 0);
  EXPECT_EQ(lu_nl, -9);
  EXPECT_EQ(iparam[0], 1);
  EXPECT_EQ(rparam[1], 10.0f);
  EXPECT_TRUE(AllCanary(lu_fac));
  errors().E1MES(0, 0, "");
}

} // namespace
