// Machine constants: exact bit patterns, the integer table, settable units,
// and the error texts of UMACH, IMACH and AMACH (captured and in a child).
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "support/machine.hpp"

namespace {

using orvek::AMACH;
using orvek::ErrorModule;
using orvek::IMACH;
using orvek::UMACH;
using orvek::test::ErrorCapture;
using orvek::test::RunInChild;

const std::string kStopLine = "Stop - Program terminated.\n";

TEST(MachineConstants, RealBitPatterns) {
  ErrorModule err;
  const std::uint32_t bits[8] = {0x00800000u, 0x7F7FFFFFu, 0x33800000u, 0x34000000u,
                                 0x3E9A209Bu, 0x7FC00000u, 0x7F800000u, 0xFF800000u};
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(std::bit_cast<std::uint32_t>(AMACH(err, n)), bits[n - 1]) << n;
  // The meanings, checked against the language's own limits.
  EXPECT_EQ(AMACH(err, 1), std::numeric_limits<float>::min());
  EXPECT_EQ(AMACH(err, 2), std::numeric_limits<float>::max());
  EXPECT_EQ(AMACH(err, 3), std::ldexp(1.0f, -24));
  EXPECT_EQ(AMACH(err, 4), std::numeric_limits<float>::epsilon());
  EXPECT_NEAR(AMACH(err, 5), std::log10(2.0), 1e-7);
  EXPECT_TRUE(std::isnan(AMACH(err, 6)));
  EXPECT_EQ(AMACH(err, 7), std::numeric_limits<float>::infinity());
  EXPECT_EQ(AMACH(err, 8), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(err.code_at(1), 0);
}

TEST(MachineConstants, SmallPivotBoundSelection) {
  ErrorModule err;
  const float product = AMACH(err, 1) * AMACH(err, 2);
  EXPECT_GE(product, 1.0f);
  EXPECT_NEAR(product, 4.0f, 1e-6f);
}

TEST(MachineConstants, IntegerTable) {
  const std::int32_t expected[12] = {32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(IMACH(n), expected[n - 1]) << n;
  EXPECT_EQ(IMACH(5), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(IMACH(7), std::numeric_limits<float>::digits);
  EXPECT_EQ(IMACH(10), std::numeric_limits<double>::digits);
}

TEST(MachineConstants, UnitsDefaultAndSet) {
  std::int32_t unit = 0;
  UMACH(1, unit);
  EXPECT_EQ(unit, 5);
  UMACH(2, unit);
  EXPECT_EQ(unit, 6);
  UMACH(3, unit);
  EXPECT_EQ(unit, 6);
  std::int32_t nine = 9;
  UMACH(-2, nine);
  std::int32_t k = 0;
  UMACH(2, k);
  EXPECT_EQ(k, 9);
  UMACH(3, k);
  EXPECT_EQ(k, 6); // the other units are untouched
  std::int32_t six = 6;
  UMACH(-2, six);
  UMACH(2, k);
  EXPECT_EQ(k, 6);
}

TEST(MachineConstantsErrors, UmachBadIndex) {
  ErrorModule err;
  ErrorCapture cap(err);
  std::int32_t unit = 77;
  UMACH(err, 4, unit);
  EXPECT_EQ(cap.take(), "*** TERMINAL ERROR 5 from UMACH.  The absolute\n"
                        "***          value of the index variable must be\n"
                        "***          1, 2, or 3.  IABS(N) = 4\n");
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(unit, 77);
  UMACH(err, -7, unit);
  EXPECT_EQ(cap.take(), "*** TERMINAL ERROR 5 from UMACH.  The absolute\n"
                        "***          value of the index variable must be\n"
                        "***          1, 2, or 3.  IABS(N) = 7\n");
  UMACH(err, 0, unit);
  EXPECT_NE(cap.take().find("IABS(N) = 0\n"), std::string::npos);
  UMACH(err, std::numeric_limits<std::int32_t>::min(), unit);
  EXPECT_NE(cap.take().find("IABS(N) = 2147483648\n"), std::string::npos);
  EXPECT_EQ(cap.stops, 4);
  EXPECT_EQ(err.depth(), 1); // the error stack is not used
  EXPECT_EQ(err.code_at(1), 0);
}

TEST(MachineConstantsErrors, ImachBadIndex) {
  ErrorModule err;
  ErrorCapture cap(err);
  EXPECT_EQ(IMACH(err, 13), 0);
  EXPECT_EQ(cap.take(), "*** TERMINAL ERROR 5 from IMACH.  The argument\n"
                        "***          must be between 1 and 12 inclusive.\n"
                        "***          N = 13\n");
  IMACH(err, -2);
  EXPECT_EQ(cap.take(), "*** TERMINAL ERROR 5 from IMACH.  The argument\n"
                        "***          must be between 1 and 12 inclusive.\n"
                        "***          N = -2\n");
  EXPECT_EQ(cap.stops, 2);
  EXPECT_EQ(err.depth(), 1);
}

TEST(MachineConstantsErrors, AmachBadIndex) {
  ErrorModule err;
  ErrorCapture cap(err);
  const float value = AMACH(err, 9);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(value), 0x7FC00000u);
  EXPECT_EQ(cap.take(), "\n"
                        " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8\n"
                        " ***          inclusive. N = 9\n"
                        "     Here is a traceback of subprogram calls in reverse order:\n"
                        "     Routine name                    Error type  Error code\n"
                        "     ------------                    ----------  ----------\n"
                        "     AMACH                                5           5\n"
                        "     USER                                 0           0\n");
  EXPECT_EQ(cap.stops, 1);
  EXPECT_EQ(err.depth(), 1);
  EXPECT_EQ(err.N1RCD(1), 5);
  EXPECT_EQ(err.last_routine(), "AMACH");
  EXPECT_EQ(err.last_message(), "The argument must be between 1 and 8 inclusive. N = 9");
}

TEST(MachineConstantsErrors, StopsSeenFromOutside) {
  const auto umach = RunInChild([] {
    std::int32_t unit = 0;
    UMACH(-5, unit);
  });
  if (!umach.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(umach.output, "*** TERMINAL ERROR 5 from UMACH.  The absolute\n"
                          "***          value of the index variable must be\n"
                          "***          1, 2, or 3.  IABS(N) = 5\n" +
                              kStopLine);
  EXPECT_EQ(umach.exit_status, 1);

  const auto imach = RunInChild([] { IMACH(0); });
  EXPECT_EQ(imach.output, "*** TERMINAL ERROR 5 from IMACH.  The argument\n"
                          "***          must be between 1 and 12 inclusive.\n"
                          "***          N = 0\n" +
                              kStopLine);
  EXPECT_EQ(imach.exit_status, 1);

  const auto amach = RunInChild([] { AMACH(orvek::errors(), 0); });
  EXPECT_EQ(amach.output, "\n"
                          " *** TERMINAL ERROR 5 from AMACH.  The argument must be between 1 and 8\n"
                          " ***          inclusive. N = 0\n"
                          "     Here is a traceback of subprogram calls in reverse order:\n"
                          "     Routine name                    Error type  Error code\n"
                          "     ------------                    ----------  ----------\n"
                          "     AMACH                                5           5\n"
                          "     USER                                 0           0\n" +
                              kStopLine);
  EXPECT_EQ(amach.exit_status, 1);
}

} // namespace
