// Rejected input of the assembly and reduction routines: every message is
// compared as printed, the call writes nothing when stopping is off, and
// with the default settings the process stops with status 1 after the
// message. Also the key sort's length error for NB = 0 and what MatricaY
// returns after it when stopping is off.
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assembly_host.hpp"
#include "common/child_process.hpp"
#include "common/error_capture.hpp"
#include "support/error_module.hpp"

namespace {

using orvek::Complex;
using orvek::errors;
using orvek::test::ErrorCapture;
using orvek::test::HostNetwork;
using orvek::test::kSentinel;
using orvek::test::kSentinelValue;
using orvek::test::OutputArrays;
using orvek::test::ReductionInput;
using orvek::test::RunInChild;
using orvek::test::RunMatricaY;
using orvek::test::RunMatricaYR;
using orvek::test::RunMatY;
using orvek::test::RunMatYPrekin;
using orvek::test::RunMatYR;
using orvek::test::RunMatYsa;

constexpr Complex kJ(float im) { return {0.0f, im}; }

HostNetwork Chain(std::int32_t n, std::int32_t branches) {
  HostNetwork net;
  net.n = n;
  for (std::int32_t b = 1; b <= branches; ++b) net.Add(b, b + 1, kJ(0.5f), kJ(0.25f), kJ(0.25f));
  return net;
}

// The three-node network of the examples in the row-indexed form:
// IJA = (5, 6, 8, 9, 2, 3, 1, 2).
ReductionInput ThreeNodeInput() { return ReductionInput::From(RunMatricaY(Chain(3, 2))); }

// A matrix of nin nodes whose row 1 holds one entry, in column 2, and whose
// other rows are empty.
ReductionInput OneEntryInput(std::int32_t nin) {
  ReductionInput in;
  in.ija[0] = nin + 2;
  for (std::int32_t i = 2; i <= nin + 1; ++i) in.ija[static_cast<std::size_t>(i - 1)] = nin + 3;
  in.ija[static_cast<std::size_t>(nin + 1)] = 2;
  return in;
}

struct Case {
  std::string name;
  std::function<OutputArrays()> call;
  std::string printed; // the message as printed, before the traceback
};

std::string Printed(std::initializer_list<const char *> lines) {
  std::string s = "\n";
  for (const char *line : lines) s += std::string(line) + "\n";
  return s;
}

std::vector<Case> Cases() {
  std::vector<Case> c;
  c.push_back({"MatricaY N", [] { return RunMatricaY(Chain(0, 1)); },
               Printed({" *** TERMINAL ERROR 1 from MatricaY.  N = 0 must lie between 1 and 9999."})});
  c.push_back({"MatricaY NB",
               [] {
                 HostNetwork net = Chain(3, 2);
                 net.nb = 5001;
                 return RunMatricaY(net);
               },
               Printed({" *** TERMINAL ERROR 2 from MatricaY.  NB = 5001 must not exceed 5000."})});
  c.push_back({"MatricaY NODES",
               [] {
                 HostNetwork net = Chain(3, 1);
                 net.Add(2, 4, kJ(1.0f), Complex{}, Complex{});
                 return RunMatricaY(net);
               },
               Printed({" *** TERMINAL ERROR 3 from MatricaY.  NODES(2, 2) = 4 must lie between 1 and N",
                        " ***          = 3."})});
  c.push_back({"MatricaY KSH",
               [] {
                 HostNetwork net = Chain(2, 1);
                 net.AddShunt(1, 0.5f);
                 net.AddShunt(3, 0.5f);
                 return RunMatricaY(net);
               },
               Printed({" *** TERMINAL ERROR 4 from MatricaY.  KSH(2) = 3 must lie between 1 and N = 2."})});
  c.push_back({"MatricaY entries", [] { return RunMatricaY(Chain(9999, 1)); },
               Printed({" *** TERMINAL ERROR 5 from MatricaY.  The matrix needs NZ = 10001 entries; the",
                        " ***          row-indexed form holds at most 9999."})});
  c.push_back({"MatYsa N", [] { return RunMatYsa(Chain(10000, 1)); },
               Printed({" *** TERMINAL ERROR 1 from MatYsa.  N = 10000 must lie between 1 and 9999."})});
  c.push_back({"MatYsa entries", [] { return RunMatYsa(Chain(9998, 2)); },
               Printed({" *** TERMINAL ERROR 4 from MatYsa.  The matrix needs NZ = 10002 entries; the",
                        " ***          row-indexed form holds at most 9999."})});
  c.push_back({"MatY N", [] { return RunMatY(Chain(10001, 1)); },
               Printed({" *** TERMINAL ERROR 1 from MatY.  N = 10001 must lie between 1 and 10000."})});
  c.push_back({"MatY NB",
               [] {
                 HostNetwork net = Chain(3, 2);
                 net.nb = 6000;
                 return RunMatY(net);
               },
               Printed({" *** TERMINAL ERROR 2 from MatY.  NB = 6000 must not exceed 5000."})});
  c.push_back({"MatY entries", [] { return RunMatY(Chain(10000, 1)); },
               Printed({" *** TERMINAL ERROR 4 from MatY.  The matrix needs NZ = 10002 entries; the",
                        " ***          triplet list holds at most 10000."})});
  c.push_back({"MatY_prekin NODES",
               [] {
                 HostNetwork net = Chain(3, 2);
                 net.nodes[0] = -1;
                 return RunMatYPrekin(net, {1, 1});
               },
               Printed({" *** TERMINAL ERROR 3 from MatY_prekin.  NODES(1, 1) = -1 must lie between 1",
                        " ***          and N = 3."})});
  c.push_back({"MatY_prekin entries", [] { return RunMatYPrekin(Chain(9998, 2), {1, 1}); },
               Printed({" *** TERMINAL ERROR 4 from MatY_prekin.  The matrix needs NZ = 10002 entries;",
                        " ***          the triplet list holds at most 10000."})});
  c.push_back({"MatricaYR N", [] { return RunMatricaYR(1, ThreeNodeInput(), {1, 2}, {1, 2, 0}, 9999); },
               Printed({" *** TERMINAL ERROR 1 from MatricaYR.  N = 9999 must lie between 0 and 9998."})});
  c.push_back({"MatricaYR KREF", [] { return RunMatricaYR(0, ThreeNodeInput(), {1, 2}, {1, 2, 0}, 2); },
               Printed({" *** TERMINAL ERROR 8 from MatricaYR.  KREF = 0 must lie between 1 and N + 1 =",
                        " ***          3."})});
  c.push_back({"MatricaYR INEW",
               [] { return RunMatricaYR(3, ThreeNodeInput(), {1, 2}, {1, INT32_MIN, 0}, 2); },
               Printed({" *** TERMINAL ERROR 7 from MatricaYR.  INEW(2) = -2147483648 must lie between",
                        " ***          1 and N = 2."})});
  c.push_back({"MatricaYR end pointer",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[3] = 20000;
                 return RunMatricaYR(3, in, {1, 2}, {1, 2, 0}, 2);
               },
               Printed({" *** TERMINAL ERROR 2 from MatricaYR.  IJA(4) = 20000 must lie between 5 and",
                        " ***          10001."})});
  c.push_back({"MatricaYR IOLD", [] { return RunMatricaYR(3, ThreeNodeInput(), {1, 4}, {1, 2, 0}, 2); },
               Printed({" *** TERMINAL ERROR 3 from MatricaYR.  IOLD(2) = 4 must lie between 1 and 3."})});
  c.push_back({"MatricaYR row pointer",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[1] = 3;
                 return RunMatricaYR(3, in, {1, 2}, {1, 2, 0}, 2);
               },
               Printed({" *** TERMINAL ERROR 4 from MatricaYR.  IJA(2) = 3 must lie between 5 and 9."})});
  c.push_back({"MatricaYR column",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[4] = 7;
                 return RunMatricaYR(3, in, {1, 2}, {1, 2, 0}, 2);
               },
               Printed({" *** TERMINAL ERROR 5 from MatricaYR.  IJA(5) = 7 must lie between 1 and 3."})});
  c.push_back({"MatricaYR entries",
               [] {
                 // Row 1 (one entry) taken 5000 times: 5000 + 5000 entries.
                 return RunMatricaYR(5001, OneEntryInput(5001), std::vector<std::int32_t>(5000, 1),
                                     std::vector<std::int32_t>(5001, 1), 5000);
               },
               Printed({" *** TERMINAL ERROR 6 from MatricaYR.  The matrix needs NZ = 10000 entries;",
                        " ***          the row-indexed form holds at most 9999."})});
  c.push_back({"MatYR NIN", [] { return RunMatYR(0, {0}, ThreeNodeInput(), {1}, {1}, 1); },
               Printed({" *** TERMINAL ERROR 1 from MatYR.  NIN = 0 must lie between 1 and 9999."})});
  c.push_back({"MatYR N", [] { return RunMatYR(3, {0, 0, 0}, ThreeNodeInput(), {1}, {1, 2, 3}, -1); },
               Printed({" *** TERMINAL ERROR 2 from MatYR.  N = -1 must lie between 0 and 9999."})});
  c.push_back({"MatYR INEW", [] { return RunMatYR(3, {0, 0, 0}, ThreeNodeInput(), {1, 2, 3}, {1, 2, 7}, 3); },
               Printed({" *** TERMINAL ERROR 8 from MatYR.  INEW(3) = 7 must lie between 1 and N = 3."})});
  c.push_back({"MatYR end pointer",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[3] = 4;
                 return RunMatYR(3, {0, 0, 0}, in, {1, 2, 3}, {1, 2, 3}, 3);
               },
               Printed({" *** TERMINAL ERROR 3 from MatYR.  IJA(4) = 4 must lie between 5 and 10001."})});
  c.push_back({"MatYR IOLD", [] { return RunMatYR(3, {0, 0, 0}, ThreeNodeInput(), {0, 2, 3}, {1, 2, 3}, 3); },
               Printed({" *** TERMINAL ERROR 4 from MatYR.  IOLD(1) = 0 must lie between 1 and 3."})});
  c.push_back({"MatYR row pointer",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[1] = 3;
                 return RunMatYR(3, {0, 0, 0}, in, {1, 2, 3}, {1, 2, 3}, 3);
               },
               Printed({" *** TERMINAL ERROR 5 from MatYR.  IJA(2) = 3 must lie between 5 and 9."})});
  c.push_back({"MatYR column",
               [] {
                 ReductionInput in = ThreeNodeInput();
                 in.ija[5] = 0;
                 return RunMatYR(3, {0, 0, 0}, in, {1, 2, 3}, {1, 2, 3}, 3);
               },
               Printed({" *** TERMINAL ERROR 6 from MatYR.  IJA(6) = 0 must lie between 1 and 3."})});
  c.push_back({"MatYR entries",
               [] {
                 return RunMatYR(5001, std::vector<std::int32_t>(5001, 0), OneEntryInput(5001),
                                 std::vector<std::int32_t>(5000, 1), std::vector<std::int32_t>(5001, 1), 5000);
               },
               Printed({" *** TERMINAL ERROR 7 from MatYR.  The matrix needs NZ = 10000 entries; the",
                        " ***          row-indexed form holds at most 9999."})});
  return c;
}

void ExpectNothingWritten(const OutputArrays &o) {
  EXPECT_EQ(o.nz, kSentinel);
  EXPECT_EQ(o.irow[0], kSentinel);
  EXPECT_EQ(o.jcol[0], kSentinel);
  EXPECT_EQ(o.ija[0], kSentinel);
  EXPECT_EQ(o.a[0], kSentinelValue);
  EXPECT_EQ(o.sa[0], kSentinelValue);
}

TEST(AssemblyRejections, PrintedAndNothingWritten) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.name);
    ErrorCapture capture(errors());
    const OutputArrays o = c.call();
    EXPECT_EQ(capture.stops, 1);
    const std::string text = capture.take();
    EXPECT_EQ(text.substr(0, c.printed.size()), c.printed);
    EXPECT_NE(text.find("Here is a traceback of subprogram calls in reverse order:"), std::string::npos);
    EXPECT_EQ(errors().depth(), 1);
    ExpectNothingWritten(o);
  }
}

TEST(AssemblyRejections, StopTheProcess) {
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

// Accepted limits: the largest results that still fit, and opened branches
// that do not count.
TEST(AssemblyRejections, LimitsThatFit) {
  EXPECT_EQ(RunMatricaY(Chain(9997, 1)).nz, 9999);
  EXPECT_EQ(RunMatY(Chain(9998, 1)).nz, 10000);
  EXPECT_EQ(RunMatYPrekin(Chain(9998, 2), {1, 0}).nz, 10000);
}

const char *const kSortLength =
    "\n *** TERMINAL ERROR 1 from SVIGP.  The length of vectors IA, IB, and IPERM\n"
    " ***          must be greater than or equal to one.  On input the length, N,\n"
    " ***          is given as 0.\n";

TEST(AssemblyRejections, NoBranchesStopsInTheKeySort) {
  const auto result = RunInChild([] { (void)RunMatricaY(Chain(2, 0)); });
  if (!result.supported) GTEST_SKIP() << "no child processes here";
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.output.substr(0, std::string(kSortLength).size()), kSortLength);
}

// With no branches the key sort's length error comes first, whatever N is;
// the routine's own check of N follows when stopping is off, and nothing is
// written.
TEST(AssemblyRejections, NoBranchesBeforeTheOrder) {
  const std::function<OutputArrays()> calls[] = {
      [] { return RunMatricaY(Chain(-1, 0)); }, [] { return RunMatYsa(Chain(0, 0)); },
      [] { return RunMatY(Chain(20000, 0)); }, [] { return RunMatYPrekin(Chain(-7, 0), {}); }};
  const char *const own[] = {"MatricaY.  N = -1", "MatYsa.  N = 0", "MatY.  N = 20000", "MatY_prekin.  N = -7"};
  for (std::size_t k = 0; k < std::size(calls); ++k) {
    SCOPED_TRACE(own[k]);
    {
      ErrorCapture capture(errors());
      const OutputArrays o = calls[k]();
      const std::string text = capture.take();
      EXPECT_EQ(text.substr(0, std::string(kSortLength).size()), kSortLength);
      EXPECT_NE(text.find(std::string("TERMINAL ERROR 1 from ") + own[k]), std::string::npos) << text;
      ExpectNothingWritten(o);
    }
    const auto result = RunInChild([&] { (void)calls[k](); });
    if (!result.supported) continue;
    EXPECT_EQ(result.output.substr(0, std::string(kSortLength).size()), kSortLength);
    EXPECT_EQ(result.exit_status, 1);
  }
  errors().E1MES(0, 0, "");
}

// Reducing a matrix of one node to order 0 keeps nothing: NZ = 0,
// IJAR(1) = 2, and SAR(1) the empty spacer.
TEST(AssemblyRejections, ReductionToOrderZero) {
  ReductionInput in;
  in.ija[0] = 3, in.ija[1] = 3;
  in.sa[0] = 4.0f;
  const OutputArrays r = RunMatricaYR(1, in, {}, {0}, 0);
  EXPECT_EQ(r.nz, 0);
  EXPECT_EQ(r.ija[0], 2);
  EXPECT_EQ(r.ija[1], kSentinel);
  EXPECT_EQ(r.sa[0], 0.0f);
  EXPECT_EQ(r.irow[0], kSentinel);
  const OutputArrays t = RunMatYR(1, {1}, in, {}, {0}, 0);
  EXPECT_EQ(t.nz, 0);
  EXPECT_EQ(t.irow[0], kSentinel);
}

TEST(AssemblyRejections, NoBranchesWithStoppingOffGivesTheShunts) {
  ErrorCapture capture(errors());
  HostNetwork net = Chain(2, 0);
  net.AddShunt(2, 0.5f);
  const OutputArrays o = RunMatricaY(net);
  EXPECT_EQ(capture.stops, 1);
  EXPECT_EQ(capture.take().substr(0, std::string(kSortLength).size()), kSortLength);
  ASSERT_EQ(o.nz, 2);
  EXPECT_EQ(OutputArrays::Value(o.a, 0), Complex{});
  EXPECT_EQ(OutputArrays::Value(o.a, 1), kJ(0.5f));
  EXPECT_EQ(o.row_indexed().ija, (std::vector<std::int32_t>{4, 4, 4}));
  EXPECT_EQ(errors().depth(), 1);

  const OutputArrays y = RunMatY(Chain(3, 0));
  EXPECT_EQ(y.nz, 3);
}

} // namespace
