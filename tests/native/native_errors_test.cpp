// Errors of native calls: what the exported routine prints and stops on
// comes back as orvek::Error with the same routine, type, code, message and
// printed text; warnings come back in the result; the process-wide error
// state and standard output stay untouched; a workspace serves again after
// an error.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/child_process.hpp"
#include "native_test_util.hpp"
#include "support/error_module.hpp"

namespace orvek::test::native {
namespace {

constexpr std::string_view kStop = "Stop - Program terminated.\n";

// What the exported routine prints before its stop, run in a child.
std::string ExportedPrint(const std::function<void()> &body) {
  const ChildResult child = RunInChild(body);
  if (!child.supported) return {};
  EXPECT_EQ(child.exit_status, 1);
  std::string out = child.output;
  EXPECT_TRUE(out.ends_with(kStop)) << out;
  if (out.ends_with(kStop)) out.resize(out.size() - kStop.size());
  return out;
}

template <class F> Error Catch(F &&f) {
  try {
    f();
  } catch (const Error &e) {
    return e;
  }
  ADD_FAILURE() << "no orvek::Error thrown";
  return Error("none", {}, {});
}

struct TwoNodes {
  std::vector<std::int32_t> from{1}, to{2};
  std::vector<Complex> z{{0.0f, 0.5f}}, ya{{0.0f, 0.25f}}, yb{{0.0f, 0.25f}};
  BranchView view() const { return {from, to, z, ya, yb}; }
};

TEST(NativeErrors, KeySortLengthErrorIsThrownAsTheExportPrintsIt) {
  Workspace ws;
  const std::int32_t before_depth = errors().depth(), before_type = errors().type_at(1);
  testing::internal::CaptureStdout();
  const Error e = Catch([&] { AssembleAdmittance(ws, 2, BranchView{}); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(e.call(), "AssembleAdmittance");
  EXPECT_EQ(e.routine(), "SVIGP");
  EXPECT_EQ(e.type(), kTerminalType);
  EXPECT_EQ(e.code(), 1);
  EXPECT_EQ(e.message(), "The length of vectors IA, IB, and IPERM must be greater than or equal to one.  On input "
                         "the length, N, is given as 0.");
  ASSERT_EQ(e.reports().size(), 1u);
  // The process-wide state the exported routines use is untouched.
  EXPECT_EQ(errors().depth(), before_depth);
  EXPECT_EQ(errors().type_at(1), before_type);

  // The exported routine prints the same text before it stops.
  const std::string printed = ExportedPrint([] {
    std::vector<float> host(2 * ORVEK_LD_BRANCH, 0.0f), big(2 * ORVEK_LD_NONZERO);
    std::vector<std::int32_t> nodes(2 * ORVEK_LD_BRANCH, 1), irow(8), jcol(8), ija(8);
    const std::int32_t nsh = 0, n = 2, nb = 0;
    std::int32_t nz = 0;
    MatricaY(nullptr, nullptr, &nsh, &n, host.data(), host.data(), host.data(), nodes.data(), &nb, irow.data(),
             jcol.data(), big.data(), &nz, big.data(), ija.data());
  });
  if (!printed.empty()) {
    EXPECT_EQ(e.printed(), printed);
  }
  EXPECT_NE(std::string(e.what()).find("TERMINAL error 1 from SVIGP"), std::string::npos) << e.what();
}

TEST(NativeErrors, ArgumentChecksNameTheCallTheArrayAndTheValue) {
  Workspace ws;
  TwoNodes net;
  net.to = {7};
  Error e = Catch([&] { AssembleAdmittance(ws, 2, net.view()); });
  EXPECT_EQ(e.routine(), "AssembleAdmittance");
  EXPECT_EQ(e.code(), 3);
  EXPECT_EQ(e.message(), "TO(1) = 7 must lie between 1 and N = 2.");
  EXPECT_NE(e.printed().find("*** TERMINAL ERROR 3 from AssembleAdmittance."), std::string::npos) << e.printed();

  net.to = {2};
  net.z.push_back({1.0f, 1.0f});
  e = Catch([&] { AssembleTriplets(ws, 2, net.view()); });
  EXPECT_EQ(e.routine(), "AssembleTriplets");
  EXPECT_EQ(e.message(), "Z holds 2 values; it must hold NB = 1, one per branch.");

  e = Catch([&] { Fault(ws, 1, 3, std::vector<float>(2, 1.0f), std::vector<Complex>(2), std::vector<Complex>(2),
                        std::vector<Complex>(2), std::vector<Complex>(2)); });
  EXPECT_EQ(e.routine(), "Fault");
  EXPECT_EQ(e.message(), "K = 3 must lie between 1 and N = 2.");
}

TEST(NativeErrors, WorkspaceServesAgainAfterAnError) {
  Workspace ws;
  TwoNodes net;
  EXPECT_THROW(AssembleAdmittance(ws, 2, BranchView{}), Error);
  const Admittance y = AssembleAdmittance(ws, 2, net.view());
  ASSERT_EQ(y.triplets.nz(), 4);
  // The two-node example: y = (0, -2), diagonals (0, -1.75), pair (0, 2).
  EXPECT_EQ(y.triplets.value[0], (Complex{0.0f, -1.75f}));
  EXPECT_EQ(y.triplets.value[2], (Complex{0.0f, 2.0f}));
  EXPECT_EQ(y.row_indexed.ija, (std::vector<std::int32_t>{4, 5, 6, 2, 1}));
}

TEST(NativeErrors, DuplicateTripletsGiveCode16OfTheSecondLevel) {
  Workspace ws;
  TripletMatrix<Complex> a{2, {1, 2, 1, 1}, {1, 2, 2, 2}, {{1, 0}, {1, 0}, {0.5f, 0}, {0.5f, 0}}};
  const Error e = Catch([&] { Factor(ws, a); });
  EXPECT_EQ(e.routine(), "L2TZG");
  EXPECT_EQ(e.code(), 16);
  EXPECT_EQ(e.message(), "Two values of A are given for IROW = 1 and JCOL = 2.");
  EXPECT_NE(e.printed().find("Here is a traceback of subprogram calls in reverse order:"), std::string::npos);

  const Exports &lib = Exports::Library();
  ORVEK_EXPORT(lib, luc, LUC);
  const std::string printed = ExportedPrint([&] {
    std::vector<float> av(2 * ORVEK_LD_NONZERO), fac(2 * ORVEK_LD_FACTOR);
    for (std::size_t k = 0; k < a.value.size(); ++k) {
      av[k] = a.value[k].re;
      av[ORVEK_LD_NONZERO + k] = a.value[k].im;
    }
    std::vector<std::int32_t> irow = a.irow, jcol = a.jcol, iparam(6), irfac(12), jcfac(12), ipvt(2), jpvt(2);
    std::vector<float> rparam(5);
    const std::int32_t n = 2, nz = 4;
    std::int32_t nfac = 0, nl = 0;
    luc(&n, &nz, av.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
  });
  if (!printed.empty()) {
    EXPECT_EQ(e.printed(), printed);
  }
}

TEST(NativeErrors, EmptyRowsAreAllReportedBeforeTheStop) {
  Workspace ws;
  // Rows 2 and 3 and columns 2 and 3 are empty: four messages, then the stop.
  TripletMatrix<float> a{3, {1}, {1}, {2.0f}};
  const Error e = Catch([&] { Factor(ws, a); });
  ASSERT_EQ(e.reports().size(), 4u);
  EXPECT_EQ(e.code(), 4);
  EXPECT_EQ(e.message(), "An empty row has been found in the coefficient matrix: row number = 2");
  EXPECT_EQ(e.reports()[3].message, "An empty column has been found in the coefficient matrix: column number = 3");
}

// An order the factorization refuses is refused before anything is sized
// for it; a matrix with a million empty rows and columns comes back with
// 200 messages of each kind and one count of the rest; a NaN pivot stops.
TEST(NativeErrors, FactorChecksBeforeItSizesAndBoundsItsMessages) {
  Workspace ws;
  Error e = Catch([&] { Factor(ws, TripletMatrix<float>{INT32_MAX, {1}, {1}, {1.0f}}); });
  EXPECT_EQ(e.routine(), "LFTXG");
  EXPECT_EQ(e.code(), 11);

  e = Catch([&] { Factor(ws, TripletMatrix<Complex>{1000000, {1}, {1}, {{1.0f, 0.0f}}}); });
  ASSERT_EQ(e.reports().size(), 402u);
  EXPECT_EQ(e.reports()[199].message, "An empty row has been found in the coefficient matrix: row number = 201");
  EXPECT_EQ(e.reports()[200].message, "999799 more empty rows are not listed.");
  EXPECT_EQ(e.reports()[200].code, 4);
  EXPECT_EQ(e.reports()[401].message, "999799 more empty columns are not listed.");
  EXPECT_LT(e.printed().size(), 402u * 1024u);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  e = Catch([&] { Factor(ws, TripletMatrix<float>{2, {1, 2}, {1, 2}, {nan, 1.0f}}); });
  EXPECT_EQ(e.routine(), "L5TXG");
  EXPECT_EQ(e.code(), 23);
}

// Reductions check the numbering they are given before they run.
TEST(NativeErrors, ReductionsCheckTheirNumbering) {
  Workspace ws;
  TwoNodes net;
  const RowIndexed y = AssembleAdmittance(ws, 2, net.view()).row_indexed;
  net.from = {1, 2}, net.to = {2, 3}, net.z = {net.z[0], net.z[0]}, net.ya = net.yb = {net.ya[0], net.ya[0]};
  const RowIndexed y3 = AssembleAdmittance(ws, 3, net.view()).row_indexed;
  struct Case {
    std::function<void()> call;
    std::string routine, message;
  };
  const std::vector<std::int32_t> one{1}, both{1, 2};
  const Case cases[] = {
      {[&] { ReduceAdmittance(ws, y, 3, one, both); }, "ReduceAdmittance",
       "KREF = 3 must lie between 1 and the order of the matrix, 2."},
      {[&] { ReduceAdmittance(ws, y3, 3, both, std::vector<std::int32_t>{1, INT32_MIN, 0}); }, "ReduceAdmittance",
       "INEW(2) = -2147483648 must lie between 1 and N = 2."},
      {[&] { ReduceAdmittance(ws, y, 2, both, both); }, "ReduceAdmittance", "IOLD holds 2 values; it must hold 1."},
      {[&] { ReduceTriplets(ws, y, one, one, both); }, "ReduceTriplets", "IDROP holds 1 values; it must hold 2."},
      {[&] { ReduceTriplets(ws, y, std::vector<std::int32_t>{0, 0}, std::vector<std::int32_t>{3}, both); },
       "ReduceTriplets", "IOLD(1) = 3 must lie between 1 and the order of the matrix, 2."},
  };
  for (const Case &c : cases) {
    const Error e = Catch(c.call);
    EXPECT_EQ(e.routine(), c.routine);
    EXPECT_EQ(e.message(), c.message);
  }
  // Order 0: nothing kept.
  const Admittance none = ReduceAdmittance(ws, RowIndexed{1, {3, 3}, {{1.0f, 0.0f}, {}}}, 1, {},
                                           std::vector<std::int32_t>{0});
  EXPECT_EQ(none.triplets.nz(), 0);
  EXPECT_EQ(none.row_indexed.ija, (std::vector<std::int32_t>{2}));
}

TEST(NativeErrors, SingularMatrixWarnsAndLeavesNoFactors) {
  Workspace ws;
  TripletMatrix<float> a{2, {1, 2}, {1, 2}, {1.0e-25f, 1.0f}};
  testing::internal::CaptureStdout();
  const FactorSet<float> f = Factor(ws, a);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_EQ(f.warnings[0].type, kWarningType);
  EXPECT_EQ(f.warnings[0].code, 1);
  EXPECT_EQ(f.warnings[0].message, "The coefficient matrix is numerically singular.");
  EXPECT_FALSE(f.complete());
  EXPECT_EQ(f.min_pivot, 1.0e-25f);
  const Error e = Catch([&] { Solve(ws, f, std::vector<float>{1.0f, 1.0f}); });
  EXPECT_EQ(e.routine(), "Solve");
  EXPECT_EQ(e.code(), 1);
}

TEST(NativeErrors, WarningReportMatchesWhatTheExportPrints) {
  Workspace ws;
  TripletMatrix<Complex> a{2, {1, 2}, {1, 2}, {{1.0e-25f, 0.0f}, {1.0f, 0.0f}}};
  const FactorSet<Complex> f = Factor(ws, a);
  ASSERT_EQ(f.warnings.size(), 1u);
  const Report &w = f.warnings[0];
  EXPECT_EQ(w.routine, "LFTZG");
  const Exports &lib = Exports::Library();
  ORVEK_EXPORT(lib, luc, LUC);
  // The exported routine prints the warning and returns normally.
  const ChildResult child = RunInChild([&] {
    std::vector<float> av(2 * ORVEK_LD_NONZERO), fac(2 * ORVEK_LD_FACTOR), rparam(5);
    av[0] = 1.0e-25f;
    av[1] = 1.0f;
    std::vector<std::int32_t> irow = a.irow, jcol = a.jcol, iparam(6), irfac(6), jcfac(6), ipvt(2), jpvt(2);
    const std::int32_t n = 2, nz = 2;
    std::int32_t nfac = 0, nl = 0;
    luc(&n, &nz, av.data(), irow.data(), jcol.data(), iparam.data(), rparam.data(), &nfac, &nl, fac.data(),
        irfac.data(), jcfac.data(), ipvt.data(), jpvt.data());
  });
  if (!child.supported) GTEST_SKIP();
  EXPECT_EQ(child.exit_status, 0);
  // The message as printed, its continuation lines joined again.
  std::string joined = child.output;
  for (std::size_t at; (at = joined.find("\n ***          ")) != std::string::npos;) joined.replace(at, 15, " ");
  const std::string header = " *** WARNING  ERROR " + std::to_string(w.code) + " from " + w.routine + ".  " + w.message;
  EXPECT_NE(joined.find(header), std::string::npos) << child.output;
}

TEST(NativeErrors, DamagedFactorSetIsRejectedBeforeTheSolve) {
  Workspace ws;
  TripletMatrix<float> a{2, {1, 2, 1, 2}, {1, 2, 2, 1}, {4.0f, 3.0f, 1.0f, 1.0f}};
  FactorSet<float> f = Factor(ws, a);
  ASSERT_TRUE(f.complete());
  f.irfac[0] = 9;
  const Error e = Catch([&] { Solve(ws, f, std::vector<float>{1.0f, 1.0f}); });
  EXPECT_EQ(e.message(), "IRFAC(1) = 9 must lie between 1 and N = 2.");
  f.irfac[0] = 2;
  const Error e2 = Catch([&] { Solve(ws, f, std::vector<float>{1.0f}); });
  EXPECT_EQ(e2.message(), "B holds 1 values; it must hold N = 2.");
}

} // namespace
} // namespace orvek::test::native
