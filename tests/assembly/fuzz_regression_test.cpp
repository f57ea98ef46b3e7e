// Regressions found by fuzzing the assembly family. MatricaYR formed N + 1
// before checking N, so N = 2147483647 overflowed (undefined behaviour,
// reported by the undefined-behaviour sanitizer) before the rejection; now
// the rejection comes first and the whole of every output array is left as
// the host filled it, in-process with the stop intercepted and as a real
// stop in a child process.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "support/error_module.hpp"

namespace {

using orvek::errors;
using orvek::test::ErrorCapture;
using orvek::test::kSentinel;
using orvek::test::kSentinelValue;
using orvek::test::OutputArrays;
using orvek::test::ReductionInput;
using orvek::test::RunInChild;
using orvek::test::RunMatricaYR;

constexpr std::int32_t kLargestN = 2147483647;
const std::string kPrinted = "\n *** TERMINAL ERROR 1 from MatricaYR.  N = 2147483647 must lie between 0 and\n"
                             " ***          9998.\n";

bool All(const std::vector<std::int32_t> &v, std::int32_t x) {
  return std::all_of(v.begin(), v.end(), [x](std::int32_t e) { return e == x; });
}
bool All(const std::vector<float> &v, float x) {
  return std::all_of(v.begin(), v.end(), [x](float e) { return e == x; });
}

OutputArrays ReduceLargestN() {
  // Row-indexed input of one node with its diagonal only: IJA = (3, 3).
  ReductionInput in;
  in.ija[0] = 3, in.ija[1] = 3;
  return RunMatricaYR(1, in, {1}, {1}, kLargestN);
}

TEST(MatricaYRRegression, LargestNIsRejectedBeforeAnythingIsFormed) {
  ErrorCapture capture(errors());
  const OutputArrays o = ReduceLargestN();
  EXPECT_EQ(capture.stops, 1);
  const std::string text = capture.take();
  EXPECT_EQ(text.substr(0, kPrinted.size()), kPrinted);
  EXPECT_EQ(errors().depth(), 1);
  EXPECT_EQ(o.nz, kSentinel);
  EXPECT_TRUE(All(o.irow, kSentinel));
  EXPECT_TRUE(All(o.jcol, kSentinel));
  EXPECT_TRUE(All(o.ija, kSentinel));
  EXPECT_TRUE(All(o.a, kSentinelValue));
  EXPECT_TRUE(All(o.sa, kSentinelValue));
  // Leave the user level as a fresh process has it (type 0, code 0): tests
  // that print a traceback show it.
  errors().E1MES(0, 0, "");
}

TEST(MatricaYRRegression, LargestNStopsTheProcess) {
  const auto result = RunInChild([] { (void)ReduceLargestN(); });
  if (!result.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output.substr(0, kPrinted.size()), kPrinted);
  const std::string stop = "Stop - Program terminated.\n";
  ASSERT_GE(result.output.size(), stop.size());
  EXPECT_EQ(result.output.substr(result.output.size() - stop.size()), stop);
}

} // namespace
