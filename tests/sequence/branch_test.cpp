// Tests of the branch and node quantities: Sg against StruiKV and against
// a double-precision reference, the power balance of every branch, So
// against the row-indexed matrix of a small network (built here) and
// against the branch powers of Sg, J1J2 and EMS with their examples and a
// double reference; untouched entries, aliasing and the rejections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "orvek/orvek.h"
#include "sequence_test_util.hpp"
#include "support/complex.hpp"
#include "tools/casefile/matpower.hpp"

namespace {

using namespace orvek::test::sequence;
using orvek::Complex;

// A meshed network of eight nodes: lines with charging, two transformers
// with unequal end admittances, a parallel pair in both orientations and
// nodal shunts; voltages near 1 at spread angles.
NetworkD SmallNetwork() {
  NetworkD net;
  net.n = 8;
  const std::pair<std::int32_t, std::int32_t> ends[] = {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 7},
                                                        {7, 8}, {8, 1}, {2, 6}, {3, 7}, {7, 3}, {5, 1}};
  Lcg rng(2024);
  for (const auto &[k, m] : ends) {
    BranchD b;
    b.k = k;
    b.m = m;
    b.z = cd{rng.uniform(0.01, 0.05), rng.uniform(0.05, 0.3)};
    const double charging = rng.uniform(0.0, 0.08);
    b.ya = cd{0.0, charging / 2.0};
    b.yb = cd{0.0, charging / 2.0};
    net.branches.push_back(b);
  }
  // Transformer π-equivalents: different admittances at the two ends.
  net.branches[2].ya = cd{0.0, -0.9};
  net.branches[2].yb = cd{0.0, 0.85};
  net.branches[8].ya = cd{0.01, 0.4};
  net.branches[8].yb = cd{-0.01, -0.38};
  net.shunt.assign(8, cd{});
  net.shunt[1] = cd{0.0, 0.19};
  net.shunt[4] = cd{0.05, -0.02};
  return net;
}

std::vector<cd> Voltages(std::int32_t n, std::uint64_t seed) {
  Lcg rng(seed);
  std::vector<cd> v;
  for (std::int32_t i = 1; i <= n; ++i)
    v.push_back(std::polar(rng.uniform(0.94, 1.06), rng.uniform(-0.5, 0.2)));
  return v;
}

Split<kLdNode> HostVoltages(const std::vector<cd> &v) {
  Split<kLdNode> h;
  for (std::size_t i = 0; i < v.size(); ++i) h.set(static_cast<std::int32_t>(i + 1), v[i]);
  return h;
}

struct BranchResults {
  Split<kLdBranch> first, second;
};

BranchResults CallSg(HostBranches &h, std::int32_t nb, const Split<kLdNode> &v, std::int32_t n) {
  BranchResults r;
  Sg(h.z.ptr(), h.ya.ptr(), h.yb.ptr(), h.nodes.data(), &nb, v.ptr(), &n, r.first.ptr(), r.second.ptr());
  return r;
}

BranchResults CallStruiKV(HostBranches &h, std::int32_t nb, const Split<kLdNode> &v, std::int32_t n) {
  BranchResults r;
  StruiKV(&nb, h.z.ptr(), h.ya.ptr(), h.yb.ptr(), h.nodes.data(), &n, v.ptr(), r.first.ptr(), r.second.ptr());
  return r;
}

// ---- Sg and StruiKV ------------------------------------------------------

// Checks Sg and StruiKV on one network: the powers are V·conj(I) of the
// currents, both agree with double references, and every branch balances.
void CheckBranches(const NetworkD &exact, const std::vector<cd> &voltages, double tol) {
  HostBranches h = MakeHostBranches(exact);
  const NetworkD net = RoundedToFloat(exact);
  const Split<kLdNode> v = HostVoltages(voltages);
  const BranchResults se = CallSg(h, h.nb, v, net.n);
  const BranchResults ie = CallStruiKV(h, h.nb, v, net.n);
  for (std::int32_t b = 1; b <= h.nb; ++b) {
    SCOPED_TRACE(testing::Message() << "branch " << b);
    const BranchD &br = net.branches[static_cast<std::size_t>(b - 1)];
    const Complex vk = v.get(br.k), vm = v.get(br.m);
    // One branch-current computation serves both routines.
    EXPECT_TRUE(SameBits(se.first.get(b), orvek::cmul(vk, orvek::cconj(ie.first.get(b)))));
    EXPECT_TRUE(SameBits(se.second.get(b), orvek::cmul(vm, orvek::cconj(ie.second.get(b)))));

    const cd dvk = ToDouble(vk), dvm = ToDouble(vm);
    const cd series = (dvk - dvm) / br.z;
    const cd ie1 = series + dvk * br.ya, ie2 = series - dvm * br.yb;
    const double iscale = std::abs(series) + std::abs(dvk * br.ya) + std::abs(dvm * br.yb);
    EXPECT_LT(std::abs(ToDouble(ie.first.get(b)) - ie1), tol * iscale);
    EXPECT_LT(std::abs(ToDouble(ie.second.get(b)) - ie2), tol * iscale);
    EXPECT_LT(std::abs(ToDouble(se.first.get(b)) - dvk * std::conj(ie1)), 2 * tol * iscale);
    EXPECT_LT(std::abs(ToDouble(se.second.get(b)) - dvm * std::conj(ie2)), 2 * tol * iscale);

    // Power absorbed: series loss plus both shunts.
    const cd absorbed = ToDouble(se.first.get(b)) - ToDouble(se.second.get(b));
    const cd balance =
        br.z * std::norm(series) + std::norm(dvk) * std::conj(br.ya) + std::norm(dvm) * std::conj(br.yb);
    EXPECT_LT(std::abs(absorbed - balance), 4 * tol * iscale);
  }
  EXPECT_TRUE(se.first.untouched_from(h.nb + 1) && se.second.untouched_from(h.nb + 1));
  EXPECT_TRUE(ie.first.untouched_from(h.nb + 1) && ie.second.untouched_from(h.nb + 1));
}

TEST(BranchQuantities, SmallNetworkPowersCurrentsAndBalance) {
  CheckBranches(SmallNetwork(), Voltages(8, 3), 1e-6);
}

TEST(BranchQuantities, EqualEndVoltagesWithoutShuntsCarryNothing) {
  NetworkD net;
  net.n = 2;
  net.branches.push_back({1, 2, cd{0.02, 0.1}, 0.0, 0.0});
  net.shunt.assign(2, cd{});
  HostBranches h = MakeHostBranches(net);
  const Split<kLdNode> v = HostVoltages({cd{0.98, -0.1}, cd{0.98, -0.1}});
  const BranchResults se = CallSg(h, 1, v, 2);
  const BranchResults ie = CallStruiKV(h, 1, v, 2);
  EXPECT_EQ(se.first.get(1), (Complex{0, 0}));
  EXPECT_EQ(se.second.get(1), (Complex{0, 0}));
  EXPECT_EQ(ie.first.get(1), (Complex{0, 0}));
  EXPECT_EQ(ie.second.get(1), (Complex{0, 0}));
}

TEST(BranchQuantities, EqualEndVoltagesLeaveOnlyTheShuntCurrents) {
  HostBranches h;
  h.z.set(1, Complex{0.03f, 0.2f});
  h.ya.set(1, Complex{0.01f, 0.07f});
  h.yb.set(1, Complex{-0.02f, 0.05f});
  h.nodes[0] = 2;
  h.nodes[kLdBranch] = 1;
  const Split<kLdNode> v = HostVoltages({cd{1.01, 0.05}, cd{1.01, 0.05}});
  const BranchResults ie = CallStruiKV(h, 1, v, 2);
  EXPECT_EQ(ie.first.get(1), orvek::cmul(v.get(2), h.ya.get(1)));
  EXPECT_EQ(ie.second.get(1), orvek::cneg(orvek::cmul(v.get(1), h.yb.get(1))));
}

TEST(BranchQuantities, WithoutShuntsBothEndsCarryTheSeriesCurrent) {
  HostBranches h;
  h.z.set(1, Complex{0.03f, 0.2f});
  h.ya.set(1, Complex{0, 0});
  h.yb.set(1, Complex{0, 0});
  h.nodes[0] = 1;
  h.nodes[kLdBranch] = 3;
  const Split<kLdNode> v = HostVoltages({cd{1.02, 0.0}, cd{7, 7}, cd{0.97, -0.08}});
  const BranchResults ie = CallStruiKV(h, 1, v, 3);
  const Complex series = orvek::cdiv(orvek::csub(v.get(1), v.get(3)), h.z.get(1));
  EXPECT_EQ(ie.first.get(1), series);
  EXPECT_EQ(ie.second.get(1), series);
  const BranchResults se = CallSg(h, 1, v, 3);
  // The loss is the series loss alone.
  const cd loss = ToDouble(h.z.get(1)) * std::norm(ToDouble(series));
  EXPECT_LT(std::abs(ToDouble(se.first.get(1)) - ToDouble(se.second.get(1)) - loss),
            1e-6 * std::abs(loss) + 1e-7);
}

TEST(BranchQuantities, OnlyTheFirstNbEntriesAreWritten) {
  const NetworkD net = SmallNetwork();
  HostBranches h = MakeHostBranches(net);
  const Split<kLdNode> v = HostVoltages(Voltages(8, 4));
  const BranchResults two = CallSg(h, 2, v, 8);
  EXPECT_TRUE(two.first.untouched_from(3) && two.second.untouched_from(3));
  EXPECT_FALSE(two.first.untouched_from(2));
  const BranchResults one = CallStruiKV(h, 1, v, 8);
  EXPECT_TRUE(one.first.untouched_from(2) && one.second.untouched_from(2));
  for (const std::int32_t nb : {0, -1}) {
    const BranchResults none = CallSg(h, nb, v, 8);
    EXPECT_TRUE(none.first.untouched_from(1) && none.second.untouched_from(1));
    const BranchResults nothing = CallStruiKV(h, nb, v, 8);
    EXPECT_TRUE(nothing.first.untouched_from(1) && nothing.second.untouched_from(1));
  }
}

TEST(BranchQuantities, OutputsOverTheBranchArraysGiveTheSameValues) {
  const NetworkD net = SmallNetwork();
  const Split<kLdNode> v = HostVoltages(Voltages(8, 5));
  HostBranches h = MakeHostBranches(net);
  const BranchResults se = CallSg(h, h.nb, v, 8);
  const BranchResults ie = CallStruiKV(h, h.nb, v, 8);
  // SE1 over Z and SE2 over YB: branch b's data must be read before any result is written.
  HostBranches a = MakeHostBranches(net);
  Sg(a.z.ptr(), a.ya.ptr(), a.yb.ptr(), a.nodes.data(), &a.nb, v.ptr(), &net.n, a.z.ptr() + 1, a.yb.ptr());
  HostBranches b = MakeHostBranches(net);
  StruiKV(&b.nb, b.z.ptr(), b.ya.ptr(), b.yb.ptr(), b.nodes.data(), &net.n, v.ptr(), b.ya.ptr(),
          b.z.ptr() + 1);
  for (std::int32_t i = 1; i <= h.nb; ++i) {
    EXPECT_TRUE(SameBits(a.z.data[static_cast<std::size_t>(i)], se.first.get(i).re)) << i;
    EXPECT_TRUE(SameBits(a.z.data[static_cast<std::size_t>(kLdBranch + i)], se.first.get(i).im)) << i;
    EXPECT_TRUE(SameBits(a.yb.get(i), se.second.get(i))) << i;
    EXPECT_TRUE(SameBits(b.ya.get(i), ie.first.get(i))) << i;
    EXPECT_TRUE(SameBits(b.z.data[static_cast<std::size_t>(i)], ie.second.get(i).re)) << i;
  }
}

// ---- Real networks -------------------------------------------------------

// The case's per-unit network as a NetworkD (branch π-equivalents and
// nodal shunts gs + jbs), with the file's voltages.
bool LoadCase(const std::string &name, NetworkD &net, std::vector<cd> &v) {
  const std::string path = CasesDir() + "/" + name;
  if (!std::filesystem::exists(path)) return false;
  const orvek::casefile::Network cn = orvek::casefile::BuildNetwork(orvek::casefile::ReadCase(path));
  net.n = cn.n;
  for (const auto &b : cn.branches) net.branches.push_back({b.from, b.to, b.z, b.ya, b.yb});
  for (std::int32_t i = 0; i < cn.n; ++i) {
    const std::size_t x = static_cast<std::size_t>(i);
    net.shunt.push_back(cd{cn.gs[x], cn.bs[x]});
    v.push_back(std::polar(cn.vm_file[x], cn.va_file[x] * std::acos(-1.0) / 180.0));
  }
  return true;
}

TEST(BranchQuantities, RealNetworks) {
  for (const std::string name : {"case14.m", "case118.m", "case300.m"}) {
    SCOPED_TRACE(name);
    NetworkD net;
    std::vector<cd> v;
    if (!LoadCase(name, net, v)) GTEST_SKIP() << "test networks not found in " << CasesDir();
    CheckBranches(net, v, 2e-6);
  }
}

// ---- So ------------------------------------------------------------------

float SoCall(std::int32_t n, std::int32_t k, const Split<kLdNode> &v, const RowIndexed &f, float *si) {
  float sr = kSentinel;
  *si = kSentinel;
  So(&n, &k, v.ptr(), f.sa.ptr(), f.ija.data(), &sr, si);
  return sr;
}

// So at every node of a network against the double product with the
// float-rounded matrix, and against the branch powers of Sg: the injection
// at K is what the branches draw from K plus what its shunt takes.
void CheckNodePowers(const NetworkD &exact, const std::vector<cd> &voltages, double tol) {
  const NetworkD net = RoundedToFloat(exact);
  const std::vector<cd> y = DenseAdmittance(net);
  const RowIndexed f = MakeRowIndexed(y, net.n);
  const Split<kLdNode> v = HostVoltages(voltages);
  HostBranches h = MakeHostBranches(exact);
  const BranchResults se = CallSg(h, h.nb, v, net.n);
  const std::size_t un = static_cast<std::size_t>(net.n);
  for (std::int32_t k = 1; k <= net.n; ++k) {
    SCOPED_TRACE(testing::Message() << "node " << k);
    float si = 0;
    const float sr = SoCall(net.n, k, v, f, &si);
    const cd s{sr, si};
    // Reference: V(K)·conj(Σ Y(K,j)·V(j)) with the stored single values.
    cd current = 0.0;
    double scale = 0.0;
    const auto add = [&](cd yv) {
      current += yv;
      scale += std::abs(yv);
    };
    add(ToDouble(f.sa.get(k)) * ToDouble(v.get(k)));
    for (std::int32_t p = f.ija[static_cast<std::size_t>(k - 1)]; p < f.ija[static_cast<std::size_t>(k)]; ++p)
      add(ToDouble(f.sa.get(p)) * ToDouble(v.get(f.ija[static_cast<std::size_t>(p - 1)])));
    const cd vk = ToDouble(v.get(k));
    EXPECT_LT(std::abs(s - vk * std::conj(current)), tol * scale * std::abs(vk));
    // Row K of the dense matrix gives the same within rounding of its entries.
    cd dense = 0.0;
    for (std::size_t j = 0; j < un; ++j)
      dense +=
          y[j * un + static_cast<std::size_t>(k - 1)] * ToDouble(v.get(static_cast<std::int32_t>(j + 1)));
    EXPECT_LT(std::abs(s - vk * std::conj(dense)), 2 * tol * scale * std::abs(vk));
    // Branch powers drawn from node K plus the shunt's power.
    cd from_branches = std::norm(vk) * std::conj(net.shunt[static_cast<std::size_t>(k - 1)]);
    double bscale = std::abs(from_branches);
    for (std::int32_t b = 1; b <= h.nb; ++b) {
      const BranchD &br = net.branches[static_cast<std::size_t>(b - 1)];
      if (br.k == k)
        from_branches += ToDouble(se.first.get(b)), bscale += std::abs(ToDouble(se.first.get(b)));
      if (br.m == k)
        from_branches -= ToDouble(se.second.get(b)), bscale += std::abs(ToDouble(se.second.get(b)));
    }
    EXPECT_LT(std::abs(s - from_branches), 10 * tol * (scale * std::abs(vk) + bscale));
  }
}

TEST(So, SmallNetworkAgainstTheMatrixAndTheBranchPowers) {
  CheckNodePowers(SmallNetwork(), Voltages(8, 6), 1e-6);
}

TEST(So, RealNetworks) {
  for (const std::string name : {"case14.m", "case118.m"}) {
    SCOPED_TRACE(name);
    NetworkD net;
    std::vector<cd> v;
    if (!LoadCase(name, net, v)) GTEST_SKIP() << "test networks not found in " << CasesDir();
    CheckNodePowers(net, v, 2e-6);
  }
}

TEST(So, NodeWithoutOffDiagonalEntriesUsesTheDiagonalAlone) {
  // Node 2 of three has an empty row (IJA(2) = IJA(3)); garbage beyond the
  // end pointer is never read.
  RowIndexed f;
  f.sa.set(1, Complex{2.0f, -5.0f});
  f.sa.set(2, Complex{0.3f, -1.7f});
  f.sa.set(3, Complex{1.0f, -4.0f});
  f.sa.set(5, Complex{-1.0f, 4.5f});
  f.sa.set(6, Complex{-1.0f, 4.5f});
  f.ija = {5, 6, 6, 7, 3, 1, 999, -999};
  const Split<kLdNode> v = HostVoltages({cd{1.0, 0.0}, cd{0.97, -0.13}, cd{1.01, 0.02}});
  float si = 0;
  const float sr = SoCall(3, 2, v, f, &si);
  const Complex vk = v.get(2);
  const Complex expected = orvek::cmul(orvek::cconj(orvek::cmul(f.sa.get(2), vk)), vk);
  EXPECT_EQ(sr, expected.re);
  EXPECT_EQ(si, expected.im);
  const cd pure = std::norm(ToDouble(vk)) * std::conj(ToDouble(f.sa.get(2)));
  EXPECT_LT(std::abs(cd{sr, si} - pure), 1e-6 * std::abs(pure));
}

TEST(So, RowOrderDoesNotMatter) {
  const NetworkD net = RoundedToFloat(SmallNetwork());
  const RowIndexed f = MakeRowIndexed(DenseAdmittance(net), net.n);
  RowIndexed reversed = f;
  for (std::int32_t i = 1; i <= net.n; ++i) {
    std::int32_t lo = f.ija[static_cast<std::size_t>(i - 1)], hi = f.ija[static_cast<std::size_t>(i)] - 1;
    for (std::int32_t p = lo, q = hi; p <= hi; ++p, --q) {
      reversed.ija[static_cast<std::size_t>(p - 1)] = f.ija[static_cast<std::size_t>(q - 1)];
      reversed.sa.set(p, f.sa.get(q));
    }
  }
  const Split<kLdNode> v = HostVoltages(Voltages(8, 7));
  for (std::int32_t k = 1; k <= net.n; ++k) {
    float si1 = 0, si2 = 0;
    const float sr1 = SoCall(net.n, k, v, f, &si1), sr2 = SoCall(net.n, k, v, reversed, &si2);
    EXPECT_LT(std::abs(cd{sr1, si1} - cd{sr2, si2}), 1e-5 * (1 + std::abs(cd{sr1, si1}))) << k;
  }
}

TEST(So, OutOfRangeArgumentsAreRejectedBeforeAnyWrite) {
  const NetworkD net = RoundedToFloat(SmallNetwork());
  const RowIndexed good = MakeRowIndexed(DenseAdmittance(net), 8);
  const Split<kLdNode> v = HostVoltages(Voltages(8, 8));
  const std::int32_t end = good.ija[8];
  const std::int32_t row3 = good.ija[2];
  const std::string e = std::to_string(end);
  struct Bad {
    std::int32_t n, k;
    std::vector<std::pair<std::int32_t, std::int32_t>> changes; // IJA(position) = value
    std::int32_t code;
    std::string message;
  };
  const Bad cases[] = {
      {1001, 1, {}, 1, "N = 1001 must not exceed 1000."},
      {8, 0, {}, 2, "K = 0 must lie between 1 and N = 8."},
      {8, 9, {}, 2, "K = 9 must lie between 1 and N = 8."},
      {0, 1, {}, 2, "K = 1 must lie between 1 and N = 0."},
      {-4, 1, {}, 2, "K = 1 must lie between 1 and N = -4."},
      {8, 3, {{9, 10002}}, 3, "IJA(9) = 10002 must lie between 10 and 10001."},
      {8, 3, {{9, 9}}, 3, "IJA(9) = 9 must lie between 10 and 10001."},
      {8, 3, {{3, 9}}, 4, "IJA(3) = 9 must lie between 10 and " + e + "."},
      {8,
       2,
       {{3, end + 1}},
       4,
       "IJA(3) = " + std::to_string(end + 1) + " must lie between 10 and " + e + "."},
      {8,
       2,
       {{2, end + 1}, {3, end + 2}},
       4,
       "IJA(2) = " + std::to_string(end + 1) + " must lie between 10 and " + e + "."},
      {8, 3, {{row3, 0}}, 5, "IJA(" + std::to_string(row3) + ") = 0 must lie between 1 and N = 8."},
      {8, 3, {{row3 + 1, 9}}, 5, "IJA(" + std::to_string(row3 + 1) + ") = 9 must lie between 1 and N = 8."},
  };
  for (const Bad &b : cases) {
    SCOPED_TRACE(b.message);
    RowIndexed f = good;
    for (const auto &[position, value] : b.changes) f.ija[static_cast<std::size_t>(position - 1)] = value;
    CapturedErrors errors;
    float si = 0;
    const float sr = SoCall(b.n, b.k, v, f, &si);
    EXPECT_EQ(errors.capture.take(), errors.expected("So", b.code, b.message));
    EXPECT_EQ(errors.capture.stops, 1);
    EXPECT_TRUE(SameBits(sr, kSentinel) && SameBits(si, kSentinel));
  }
  // An empty row is never followed, wherever its pointers lie.
  RowIndexed f = good;
  f.ija[1] = 50000;
  f.ija[2] = 50000;
  CapturedErrors errors;
  float si = 0;
  const float sr = SoCall(8, 2, v, f, &si);
  EXPECT_EQ(errors.capture.text, "");
  EXPECT_FALSE(SameBits(sr, kSentinel));
}

// ---- Branch rejections ---------------------------------------------------

void ExpectBranchRejection(std::int32_t nb, std::int32_t n, std::int32_t bad_branch, std::int32_t bad_end,
                           std::int32_t bad_node, std::int32_t code, const std::string &message) {
  const NetworkD net = SmallNetwork();
  const Split<kLdNode> v = HostVoltages(Voltages(8, 9));
  for (const std::string routine : {"Sg", "StruiKV"}) {
    SCOPED_TRACE(routine + ": " + message);
    HostBranches h = MakeHostBranches(net);
    if (bad_branch != 0)
      h.nodes[static_cast<std::size_t>((bad_end - 1) * kLdBranch + bad_branch - 1)] = bad_node;
    CapturedErrors errors;
    const BranchResults r = routine == "Sg" ? CallSg(h, nb, v, n) : CallStruiKV(h, nb, v, n);
    EXPECT_EQ(errors.capture.take(), errors.expected(routine, code, message));
    EXPECT_EQ(errors.capture.stops, 1);
    EXPECT_TRUE(r.first.untouched_from(1) && r.second.untouched_from(1));
  }
}

TEST(BranchQuantities, OutOfRangeCountsAndNodesAreRejectedBeforeAnyWrite) {
  ExpectBranchRejection(5001, 8, 0, 0, 0, 1, "NB = 5001 must not exceed 5000.");
  ExpectBranchRejection(12, 1001, 0, 0, 0, 2, "N = 1001 must not exceed 1000.");
  ExpectBranchRejection(0, 1001, 0, 0, 0, 2, "N = 1001 must not exceed 1000.");
  ExpectBranchRejection(12, 8, 5, 1, 0, 3, "NODES(5, 1) = 0 must lie between 1 and N = 8.");
  ExpectBranchRejection(12, 8, 12, 2, 9, 3, "NODES(12, 2) = 9 must lie between 1 and N = 8.");
  ExpectBranchRejection(12, 8, 3, 2, -2147483647 - 1, 3,
                        "NODES(3, 2) = -2147483648 must lie between 1 and N = 8.");
  ExpectBranchRejection(12, 0, 0, 0, 0, 3, "NODES(1, 1) = 1 must lie between 1 and N = 0.");
  // Only branches 1..NB are checked.
  {
    const NetworkD net = SmallNetwork();
    HostBranches h = MakeHostBranches(net);
    h.nodes[3] = 77;
    CapturedErrors errors;
    const BranchResults r = CallSg(h, 3, HostVoltages(Voltages(8, 9)), 8);
    EXPECT_EQ(errors.capture.text, "");
    EXPECT_FALSE(r.first.untouched_from(3));
  }
}

// ---- J1J2 ----------------------------------------------------------------

struct Changes {
  Complex j1, j2;
};

Changes CallJ1J2(float r, float x, float t1, float t2, Complex e1, Complex e2) {
  Changes c;
  J1J2(&r, &x, &t1, &t2, &e1.re, &e1.im, &e2.re, &e2.im, &c.j1.re, &c.j1.im, &c.j2.re, &c.j2.im);
  return c;
}

TEST(J1J2, ExampleOfAPureReactance) {
  // Y = -j, K1 = j0.75, K2 = -j0.5.
  const Changes c = CallJ1J2(0.0f, 1.0f, 1.0f, 2.0f, {1.0f, 0.0f}, {0.0f, 0.0f});
  EXPECT_EQ(c.j1, (Complex{0.0f, 0.75f}));
  EXPECT_EQ(c.j2, (Complex{0.0f, -0.5f}));
  // With E2 = 1 too: J1 = K1 + K2 = j0.25.
  const Changes both = CallJ1J2(0.0f, 1.0f, 1.0f, 2.0f, {1.0f, 0.0f}, {1.0f, 0.0f});
  EXPECT_EQ(both.j1, (Complex{0.0f, 0.25f}));
}

TEST(J1J2, SingleRoundingOfEveryStep) {
  // Evaluated step by step in single precision: Y = 1/(0.02 + j0.15) by
  // Smith's method, P1 = 0.95², P2 = 1.05², K1 and K2 part by part, then
  // J1 = K2·E2 + K1·E1 and J2 = K2·E1.
  const Changes c = CallJ1J2(0.02f, 0.15f, 0.95f, 1.05f, {1.01f, -0.12f}, {0.97f, 0.05f});
  EXPECT_EQ(c.j1, (Complex{0.09845121204853058f, 0.7182642817497253f}));
  EXPECT_EQ(c.j2, (Complex{0.009631059132516384f, -0.6737364530563354f}));
}

TEST(J1J2, UnchangedRatioGivesNoChange) {
  const Changes c = CallJ1J2(0.02f, 0.15f, 1.05f, 1.05f, {1.0f, 0.1f}, {0.97f, -0.05f});
  EXPECT_EQ(c.j1, (Complex{0, 0}));
  EXPECT_EQ(c.j2, (Complex{0, 0}));
}

TEST(J1J2, AgreesWithTheChangeOfTheBranchMatrix) {
  Lcg rng(77);
  for (int t = 0; t < 300; ++t) {
    const float r = float(rng.uniform(0.0, 0.05)), x = float(rng.uniform(0.02, 0.4));
    const float t1 = float(rng.uniform(0.85, 1.15));
    float t2 = float(rng.uniform(0.85, 1.15));
    if (std::abs(t2 - t1) < 0.01f) t2 = t1 + 0.02f;
    const Complex e1{float(rng.uniform(0.9, 1.1)), float(rng.uniform(-0.3, 0.3))};
    const Complex e2{float(rng.uniform(0.9, 1.1)), float(rng.uniform(-0.3, 0.3))};
    const Changes c = CallJ1J2(r, x, t1, t2, e1, e2);
    // The branch matrix [[Y/T², -Y/T], [-Y/T, Y]] before and after, in double.
    const cd y = 1.0 / cd{r, x};
    const auto m11 = [&](double tr) { return y / (tr * tr); };
    const auto m12 = [&](double tr) { return -y / tr; };
    const cd d11 = m11(t2) - m11(t1), d12 = m12(t2) - m12(t1);
    const cd j1 = d11 * ToDouble(e1) + d12 * ToDouble(e2);
    const cd j2 = d12 * ToDouble(e1);
    const double scale = std::abs(y) * (std::abs(ToDouble(e1)) + std::abs(ToDouble(e2)));
    EXPECT_LT(std::abs(ToDouble(c.j1) - j1), 2e-6 * scale) << t;
    EXPECT_LT(std::abs(ToDouble(c.j2) - j2), 2e-6 * scale) << t;
  }
}

TEST(J1J2, OutputsMayBeTheInputVariables) {
  const Changes separate = CallJ1J2(0.01f, 0.2f, 0.95f, 1.05f, {1.0f, -0.1f}, {0.98f, 0.03f});
  float a[8] = {0.01f, 0.2f, 0.95f, 1.05f, 1.0f, -0.1f, 0.98f, 0.03f};
  J1J2(&a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7], &a[6], &a[7], &a[0], &a[1]);
  EXPECT_EQ((Complex{a[6], a[7]}), separate.j1);
  EXPECT_EQ((Complex{a[0], a[1]}), separate.j2);
}

// ---- EMS -----------------------------------------------------------------

Complex CallEMS(Complex v, Complex s, float x) {
  Complex e{kSentinel, kSentinel};
  EMS(&v.re, &v.im, &s.re, &s.im, &x, &e.re, &e.im);
  return e;
}

TEST(EMS, Examples) {
  EXPECT_EQ(CallEMS({1.0f, 0.0f}, {1.0f, 0.0f}, 0.5f), (Complex{1.0f, 0.5f}));
  EXPECT_EQ(CallEMS({1.03f, -0.2f}, {0.0f, 0.0f}, 0.3f), (Complex{1.03f, -0.2f}));
}

TEST(EMS, SingleRoundingOfEveryStep) {
  // I = conj(S / V) by Smith's method, E = V + (0 + j0.27)·I, each step
  // rounded once to single precision.
  EXPECT_EQ(CallEMS({1.02f, -0.07f}, {0.83f, 0.31f}, 0.27f),
            (Complex{1.1166813373565674f, 0.14307090640068054f}));
}

TEST(EMS, SourceDeliversThePowerThroughTheReactance) {
  Lcg rng(99);
  for (int t = 0; t < 300; ++t) {
    const Complex v{float(rng.uniform(0.9, 1.1)), float(rng.uniform(-0.4, 0.4))};
    const Complex s{float(rng.uniform(-2, 2)), float(rng.uniform(-1, 1))};
    const float x = float(rng.uniform(0.05, 0.4));
    const Complex e = CallEMS(v, s, x);
    const cd i = std::conj(ToDouble(s) / ToDouble(v));
    const cd expected = ToDouble(v) + cd{0.0, x} * i;
    EXPECT_LT(std::abs(ToDouble(e) - expected), 4e-7 * (std::abs(ToDouble(v)) + x * std::abs(i)));
    // The current through the reactance carries S at the terminal.
    const cd through = (ToDouble(e) - ToDouble(v)) / cd{0.0, x};
    EXPECT_LT(std::abs(ToDouble(v) * std::conj(through) - ToDouble(s)), 2e-5 * (1 + std::abs(ToDouble(s))));
  }
}

TEST(EMS, OutputsMayBeTheInputVariables) {
  const Complex separate = CallEMS({0.99f, 0.1f}, {0.8f, 0.3f}, 0.25f);
  float a[5] = {0.99f, 0.1f, 0.8f, 0.3f, 0.25f};
  EMS(&a[0], &a[1], &a[2], &a[3], &a[4], &a[4], &a[0]);
  EXPECT_EQ(a[4], separate.re);
  EXPECT_EQ(a[0], separate.im);
}

TEST(EMS, ZeroVoltageGivesNonFiniteValuesNotACrash) {
  const Complex e = CallEMS({0.0f, 0.0f}, {1.0f, 0.5f}, 0.2f);
  EXPECT_FALSE(std::isfinite(e.re) && std::isfinite(e.im));
}

} // namespace
