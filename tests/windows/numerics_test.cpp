// Numerical checks through ORVEK.dll, every call made through the stack
// probe: the worked examples of the routines (exact values), residuals of
// the factor-and-solve road against double-precision products computed
// here, cross-checks between routines, and a stop of the error module seen
// from outside the process.
#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "common/child_process.hpp"
#include "dll_host.hpp"
#include "recipes.hpp"

namespace orvek::windows_test {
namespace {

constexpr int kBr = Workspace::kBr, kNd = Workspace::kNd, kNz = Workspace::kNz, kDn = Workspace::kDn;
using cd = std::complex<double>;

class DllNumerics : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(Dll::Get().module(), nullptr) << Dll::Get().error();
    w_ = std::make_unique<Workspace>();
    w_->Clear();
  }
  Workspace &w() { return *w_; }

  // Two-node network: branch 1-2, Z = j0.5, YA = YB = j0.25.
  void TwoNodes() {
    w().N = 2;
    w().NB = 1;
    w().NODES[0] = 1;
    w().NODES[kBr] = 2;
    w().Z[kBr] = 0.5f;
    w().YA[kBr] = w().YB[kBr] = 0.25f;
  }

  std::unique_ptr<Workspace> w_;
};

TEST_F(DllNumerics, MatricaYTwoNodeExample) {
  TwoNodes();
  Workspace &v = w();
  ORVEK_DLL(MatricaY, v.BSH, v.KSH, &v.NSH, &v.N, v.Z, v.YA, v.YB, v.NODES, &v.NB, v.IROW, v.JCOL, v.A, &v.NZ, v.SA,
            v.IJA);
  ASSERT_EQ(v.NZ, 4);
  const int rows[] = {1, 2, 1, 2}, cols[] = {1, 2, 2, 1};
  const float im[] = {-1.75f, -1.75f, 2.0f, 2.0f};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(v.IROW[k], rows[k]);
    EXPECT_EQ(v.JCOL[k], cols[k]);
    EXPECT_EQ(v.A[k], 0.0f);
    EXPECT_EQ(v.A[kNz + k], im[k]);
  }
  const int ija[] = {4, 5, 6, 2, 1};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(v.IJA[k], ija[k]) << k;
  EXPECT_EQ(v.SA[kNz + 0], -1.75f);
  EXPECT_EQ(v.SA[kNz + 1], -1.75f);
  EXPECT_EQ(v.SA[kNz + 3], 2.0f);
  EXPECT_EQ(v.SA[kNz + 4], 2.0f);
}

TEST_F(DllNumerics, AssemblyVariantsAgree) {
  Workspace &v = w();
  v.LoadNetwork();
  v.NSH = 0;
  AssembleWithShunts(v);
  const std::vector<float> a(v.A, v.A + 2 * kNz);
  const std::vector<std::int32_t> irow(v.IROW, v.IROW + v.NZ), jcol(v.JCOL, v.JCOL + v.NZ);
  const std::vector<std::int32_t> ija(v.IJA, v.IJA + v.NZ + 1);
  const std::int32_t nz = v.NZ;
  EXPECT_EQ(nz, 5 + 2 * 6); // six distinct node pairs, 2-1 parallel to 1-2

  ORVEK_DLL(MatYsa, &v.N, v.Z, v.YA, v.YB, v.NODES, &v.NB, v.IROW, v.JCOL, v.A, &v.NZ, v.SA, v.IJA);
  EXPECT_EQ(v.NZ, nz);
  EXPECT_EQ(std::vector<float>(v.A, v.A + 2 * kNz), a);
  EXPECT_EQ(std::vector<std::int32_t>(v.IJA, v.IJA + nz + 1), ija);

  ORVEK_DLL(MatY, &v.N, v.Z, v.YA, v.YB, v.NODES, &v.NB, v.IROW, v.JCOL, v.A, &v.NZ);
  EXPECT_EQ(v.NZ, nz);
  EXPECT_EQ(std::vector<std::int32_t>(v.IROW, v.IROW + nz), irow);
  EXPECT_EQ(std::vector<std::int32_t>(v.JCOL, v.JCOL + nz), jcol);
  EXPECT_EQ(std::vector<float>(v.A, v.A + 2 * kNz), a);

  for (int b = 0; b < v.NB; ++b) v.ISTAT[b] = 1;
  ORVEK_DLL(MatY_prekin, &v.N, v.Z, v.YA, v.YB, v.NODES, v.ISTAT, &v.NB, v.IROW, v.JCOL, v.A, &v.NZ);
  EXPECT_EQ(v.NZ, nz);
  EXPECT_EQ(std::vector<float>(v.A, v.A + 2 * kNz), a);
}

TEST_F(DllNumerics, OpenedBranchKeepsOnlyItsEndAdmittances) {
  TwoNodes();
  Workspace &v = w();
  v.ISTAT[0] = 0;
  ORVEK_DLL(MatY_prekin, &v.N, v.Z, v.YA, v.YB, v.NODES, v.ISTAT, &v.NB, v.IROW, v.JCOL, v.A, &v.NZ);
  ASSERT_EQ(v.NZ, 2);
  EXPECT_EQ(v.A[kNz + 0], 0.25f);
  EXPECT_EQ(v.A[kNz + 1], 0.25f);
}

TEST_F(DllNumerics, ReductionsDropTheReferenceNode) {
  Workspace &v = w();
  // Three nodes, branches 1-2 (j0.5) and 2-3 (j1), YA = YB = j0.25.
  v.N = 3;
  v.NB = 2;
  v.NODES[0] = 1, v.NODES[kBr] = 2, v.NODES[1] = 2, v.NODES[kBr + 1] = 3;
  v.Z[kBr] = 0.5f, v.Z[kBr + 1] = 1.0f;
  v.YA[kBr] = v.YB[kBr] = v.YA[kBr + 1] = v.YB[kBr + 1] = 0.25f;
  AssembleWithShunts(v);
  ASSERT_EQ(v.NZ, 7);
  const int ija[] = {5, 6, 8, 9, 2, 3, 1, 2};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(v.IJA[k], ija[k]) << k;
  EXPECT_EQ(v.SA[kNz + 1], -2.5f);

  v.KREF = 3;
  v.NR = 2;
  v.IOLD[0] = 1, v.IOLD[1] = 2, v.INEW[0] = 1, v.INEW[1] = 2;
  ORVEK_DLL(MatricaYR, &v.KREF, v.SA, v.IJA, v.IOLD, v.INEW, &v.NR, v.SAR, v.IJAR, v.IROWR, v.JCOLR, v.AR_, &v.NZR);
  ASSERT_EQ(v.NZR, 4);
  const int ijar[] = {4, 5, 6, 2, 1};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(v.IJAR[k], ijar[k]) << k;
  EXPECT_EQ(v.AR_[kNz + 1], -2.5f); // node 2 keeps the terms of branch 2-3
  const std::vector<float> reduced(v.AR_, v.AR_ + 2 * kNz);
  const std::vector<std::int32_t> rows(v.IROWR, v.IROWR + 4), cols(v.JCOLR, v.JCOLR + 4);

  v.NIN = 3;
  v.IDROP[2] = 1;
  ORVEK_DLL(MatYR, &v.NIN, v.IDROP, v.SA, v.IJA, v.IOLD, v.INEW, &v.NR, v.IROWR, v.JCOLR, v.AR_, &v.NZR);
  ASSERT_EQ(v.NZR, 4);
  EXPECT_EQ(std::vector<std::int32_t>(v.IROWR, v.IROWR + 4), rows);
  EXPECT_EQ(std::vector<std::int32_t>(v.JCOLR, v.JCOLR + 4), cols);
  EXPECT_EQ(std::vector<float>(v.AR_, v.AR_ + 2 * kNz), reduced);
}

// ‖b − A·x‖ / (‖A‖·‖x‖) in double, A from the triplet list.
double ComplexResidual(const Workspace &v, bool conjugate_transpose) {
  std::vector<cd> ax(static_cast<std::size_t>(v.N));
  double norm_a = 0, norm_x = 0, norm_r = 0;
  std::vector<double> row_sums(static_cast<std::size_t>(v.N));
  for (int k = 0; k < v.NZ; ++k) {
    cd a(v.A[k], v.A[kNz + k]);
    int i = v.IROW[k] - 1, j = v.JCOL[k] - 1;
    if (conjugate_transpose) {
      std::swap(i, j);
      a = std::conj(a);
    }
    ax[static_cast<std::size_t>(i)] += a * cd(v.X[j], v.X[kNd + j]);
    row_sums[static_cast<std::size_t>(i)] += std::abs(a);
  }
  for (int i = 0; i < v.N; ++i) {
    norm_a = std::max(norm_a, row_sums[static_cast<std::size_t>(i)]);
    norm_x = std::max(norm_x, std::abs(cd(v.X[i], v.X[kNd + i])));
    norm_r = std::max(norm_r, std::abs(cd(v.B[i], v.B[kNd + i]) - ax[static_cast<std::size_t>(i)]));
  }
  return norm_r / (norm_a * norm_x);
}

TEST_F(DllNumerics, ComplexFactorAndSolveHaveSmallResiduals) {
  Workspace &v = w();
  v.LoadNetwork();
  FactorComplex(v);
  EXPECT_EQ(v.IPARAM[0], 1); // defaults were used and written back
  EXPECT_EQ(v.IPARAM[1], 3);
  EXPECT_EQ(v.RPARAM[1], 10.0f);
  EXPECT_GT(v.NL, 0);
  for (int path = 1; path <= 2; ++path) {
    for (int i = 0; i < v.N; ++i) {
      v.B[i] = 0.3f - 0.1f * static_cast<float>(i);
      v.B[kNd + i] = 0.05f * static_cast<float>(i * i);
    }
    v.IPATH = path;
    ORVEK_DLL(BSC, &v.N, &v.NFAC, &v.NL, v.FAC, v.IRFAC, v.JCFAC, v.IPVT, v.JPVT, v.B, &v.IPATH, v.X);
    EXPECT_LT(ComplexResidual(v, path == 2), 8 * 1.19e-7) << "IPATH = " << path;
  }
}

TEST_F(DllNumerics, FastDecoupledExampleFactorsAndSolves) {
  Workspace &v = w();
  // N = 3, NPQ = 1; branch 1-2 X = 0.1, branch 2-3 X = 0.2.
  v.N = 3;
  v.NPQ = 1;
  v.NB = 2;
  v.NODES[0] = 1, v.NODES[kBr] = 2, v.NODES[1] = 2, v.NODES[kBr + 1] = 3;
  v.Z[kBr] = 0.1f, v.Z[kBr + 1] = 0.2f;
  v.T[0] = v.T[1] = 1.0f;
  FastDecoupled(v);
  ASSERT_EQ(v.NZ1, 4);
  ASSERT_EQ(v.NZ2, 1);
  EXPECT_FLOAT_EQ(v.VAL1[0], 10.0f);
  EXPECT_FLOAT_EQ(v.VAL1[1], 15.0f);
  EXPECT_FLOAT_EQ(v.VAL1[2], -10.0f);
  EXPECT_FLOAT_EQ(v.VAL1[3], -10.0f);
  EXPECT_EQ(v.IROW1[2], 1);
  EXPECT_EQ(v.JCOL1[2], 2);
  EXPECT_FLOAT_EQ(v.VAL2[0], 10.0f);

  v.NR = 2;
  ORVEK_DLL(LUR, &v.NR, &v.NZ1, v.VAL1, v.IROW1, v.JCOL1, v.IPARAM, v.RPARAM, &v.NFAC, &v.NL, v.FAC, v.IRFAC,
            v.JCFAC, v.IPVT, v.JPVT);
  v.B[0] = 1.0f, v.B[1] = 2.0f;
  for (int path = 1; path <= 2; ++path) {
    v.IPATH = path;
    ORVEK_DLL(BSR, &v.NR, &v.NFAC, &v.NL, v.FAC, v.IRFAC, v.JCFAC, v.IPVT, v.JPVT, v.B, &v.IPATH, v.X);
    // [[10, -10], [-10, 15]] x = (1, 2): x = (0.7, 0.6) (symmetric, both paths).
    EXPECT_NEAR(v.X[0], 0.7, 1e-6);
    EXPECT_NEAR(v.X[1], 0.6, 1e-6);
  }
  // The second matrix is 1x1: the diagonal-only path.
  v.NR = 1;
  ORVEK_DLL(LUR, &v.NR, &v.NZ2, v.VAL2, v.IROW2, v.JCOL2, v.IPARAM, v.RPARAM, &v.NFAC, &v.NL, v.FAC, v.IRFAC,
            v.JCFAC, v.IPVT, v.JPVT);
  EXPECT_EQ(v.NL, 0);
  EXPECT_EQ(v.NFAC, 1);
  v.IPATH = 1;
  ORVEK_DLL(BSR, &v.NR, &v.NFAC, &v.NL, v.FAC, v.IRFAC, v.JCFAC, v.IPVT, v.JPVT, v.B, &v.IPATH, v.X);
  EXPECT_EQ(v.X[0], 1.0f / v.VAL2[0]);
}

TEST_F(DllNumerics, TransformsExamples) {
  float s[12] = {0, 0, 1, 0, 0, 0};
  ORVEK_DLL(SimFaz1, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7], &s[8], &s[9], &s[10], &s[11]);
  EXPECT_EQ(s[6], 1.0f);
  EXPECT_EQ(s[7], 0.0f);
  EXPECT_EQ(s[8], -0.4999999701976776f); // a², formed at run time
  EXPECT_EQ(s[9], -0.8660254f);
  EXPECT_EQ(s[10], -0.5f); // a
  EXPECT_EQ(s[11], 0.8660254f);

  float p[12] = {0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0};
  ORVEK_DLL(FazSim1, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], &p[7], &p[8], &p[9], &p[10], &p[11]);
  EXPECT_EQ(p[0], 1.0f);
  EXPECT_EQ(p[1], 0.0f);
  EXPECT_EQ(p[2], (0.5f + -0.4999999701976776f) / 3.0f);
  EXPECT_EQ(p[3], 0.0f);
  EXPECT_EQ(p[4], 0.0f);

  Workspace &v = w();
  for (int i = 0; i < 2 * kBr; ++i) v.XA[i] = v.XB[i] = v.XC[i] = 7.0f;
  for (int i = 0; i < 3; ++i) v.X0[i] = 1.0f;
  v.NR = 3;
  ORVEK_DLL(SimFaz, &v.NR, v.X0, v.X1, v.X2, v.XA, v.XB, v.XC);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(v.XA[i], 1.0f);
    EXPECT_EQ(v.XB[i], 1.0f);
    EXPECT_EQ(v.XC[kBr + i], 0.0f);
  }
  EXPECT_EQ(v.XA[3], 7.0f); // entries beyond N untouched
  EXPECT_EQ(v.XC[kBr + 3], 7.0f);
}

TEST_F(DllNumerics, SingleLineFaultExample) {
  Workspace &v = w();
  v.N = 1;
  v.ITYPE = 4;
  v.K = 1;
  v.UB[0] = 110.0f;
  v.E[0] = 1.0f;
  v.Z0[kNd] = v.Z1[kNd] = v.Z2[kNd] = 0.1f;
  ORVEK_DLL(NaponiKV, &v.N, &v.ITYPE, &v.K, v.UB, v.E, v.Z0, v.Z1, v.Z2, v.VA, v.VB, v.VC, v.IFS);
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(v.IFS[r], 0.0, 1e-6);
    EXPECT_NEAR(v.IFS[3 + r], -10.0 / 3, 1e-5);
  }
  EXPECT_NEAR(v.Z1[0], 2.0 / 3, 1e-6);
  EXPECT_NEAR(v.Z2[0], -1.0 / 3, 1e-6);
  EXPECT_NEAR(v.Z0[0], -1.0 / 3, 1e-6);
  EXPECT_NEAR(std::hypot(v.VA[0], v.VA[kNd]), 0.0, 1e-6);
  EXPECT_NEAR(std::hypot(v.VB[0], v.VB[kNd]), 1.0, 1e-6);
  EXPECT_NEAR(std::hypot(v.VC[0], v.VC[kNd]), 1.0, 1e-6);
}

TEST_F(DllNumerics, FaultVoltagesFromSolvedColumns) {
  Workspace &v = w();
  v.LoadNetwork();
  ImpedanceColumn(v, 3);
  for (int i = 0; i < v.N; ++i) {
    v.Z0[i] = v.Z1[i] = v.Z2[i] = v.X[i];
    v.Z0[kNd + i] = v.Z1[kNd + i] = v.Z2[kNd + i] = v.X[kNd + i];
  }
  const cd z33(v.X[2], v.X[kNd + 2]);
  v.ITYPE = 1;
  v.K = 3;
  ORVEK_DLL(NaponiKV, &v.N, &v.ITYPE, &v.K, v.UB, v.E, v.Z0, v.Z1, v.Z2, v.VA, v.VB, v.VC, v.IFS);
  // Three-phase fault: I1 = E(K)/Z(K,K), the faulted node's voltage vanishes.
  const cd i1 = cd(1.0, 0.0) / z33;
  EXPECT_NEAR(v.IFS[1], i1.real(), 1e-5 * std::abs(i1));
  EXPECT_NEAR(v.IFS[4], i1.imag(), 1e-5 * std::abs(i1));
  EXPECT_EQ(v.IFS[0], 0.0f);
  EXPECT_EQ(v.IFS[2], 0.0f);
  EXPECT_NEAR(std::hypot(v.Z1[2], v.Z1[kNd + 2]), 0.0, 1e-6);
  for (int i = 0; i < v.N; ++i) {
    EXPECT_EQ(v.VA[i], v.Z1[i]);
    EXPECT_EQ(v.VA[kNd + i], v.Z1[kNd + i]);
  }
}

TEST_F(DllNumerics, BranchCurrentsAndPowersAgree) {
  Workspace &v = w();
  v.LoadNetwork();
  ORVEK_DLL(StruiKV, &v.NB, v.Z, v.YA, v.YB, v.NODES, &v.N, v.V, v.IE1, v.IE2);
  ORVEK_DLL(Sg, v.Z, v.YA, v.YB, v.NODES, &v.NB, v.V, &v.N, v.SE1, v.SE2);
  for (int b = 0; b < v.NB; ++b) {
    const int k = v.NODES[b] - 1, m = v.NODES[kBr + b] - 1;
    const cd vk(v.V[k], v.V[kNd + k]), vm(v.V[m], v.V[kNd + m]);
    const cd s1 = vk * std::conj(cd(v.IE1[b], v.IE1[kBr + b]));
    const cd s2 = vm * std::conj(cd(v.IE2[b], v.IE2[kBr + b]));
    EXPECT_NEAR(v.SE1[b], s1.real(), 1e-5 * std::abs(s1) + 1e-6) << b;
    EXPECT_NEAR(v.SE1[kBr + b], s1.imag(), 1e-5 * std::abs(s1) + 1e-6) << b;
    EXPECT_NEAR(v.SE2[b], s2.real(), 1e-5 * std::abs(s2) + 1e-6) << b;
    EXPECT_NEAR(v.SE2[kBr + b], s2.imag(), 1e-5 * std::abs(s2) + 1e-6) << b;
  }
  EXPECT_EQ(v.SE1[v.NB], 0.0f); // nothing beyond NB
}

TEST_F(DllNumerics, ScalarRoutinesExamples) {
  float j[12] = {0.0f, 1.0f, 1.0f, 2.0f, 1.0f, 0.0f, 0.0f, 0.0f};
  ORVEK_DLL(J1J2, &j[0], &j[1], &j[2], &j[3], &j[4], &j[5], &j[6], &j[7], &j[8], &j[9], &j[10], &j[11]);
  EXPECT_EQ(j[8], 0.0f);
  EXPECT_EQ(j[9], 0.75f);
  EXPECT_EQ(j[10], 0.0f);
  EXPECT_EQ(j[11], -0.5f);

  float e[7] = {1.0f, 0.0f, 1.0f, 0.0f, 0.5f};
  ORVEK_DLL(EMS, &e[0], &e[1], &e[2], &e[3], &e[4], &e[5], &e[6]);
  EXPECT_EQ(e[5], 1.0f);
  EXPECT_EQ(e[6], 0.5f);

  float z1[2] = {2.0f, 0.0f}, z2[2] = {2.0f, 0.0f}, zp[2] = {9, 9};
  ORVEK_DLL(Paralelno, z1, z2, zp);
  EXPECT_EQ(zp[0], 1.0f);
  EXPECT_EQ(zp[1], 0.0f);
}

TEST_F(DllNumerics, DenseInverseAndPowers) {
  Workspace &v = w();
  v.NR = 2;
  v.AR[0] = 4.0f, v.AR[1] = 1.0f, v.AR[kDn] = 1.0f, v.AR[kDn + 1] = 3.0f;
  v.AR[2] = 5.0f; // outside the 2x2 block: untouched
  ORVEK_DLL(Inverzija, v.AR, v.AI, &v.NR);
  EXPECT_NEAR(v.AR[0], 3.0 / 11, 1e-7);
  EXPECT_NEAR(v.AR[1], -1.0 / 11, 1e-7);
  EXPECT_NEAR(v.AR[kDn], -1.0 / 11, 1e-7);
  EXPECT_NEAR(v.AR[kDn + 1], 4.0 / 11, 1e-7);
  EXPECT_EQ(v.AR[2], 5.0f);

  // Two nodes joined by -j10: P = (10 sin θ, -10 sin θ), Q = 10 (1 - cos θ).
  const float theta = 0.1f;
  for (int i = 0; i < 2 * kDn; ++i) v.AR[i] = v.AI[i] = 0.0f;
  v.AI[0] = v.AI[kDn + 1] = -10.0f;
  v.AI[1] = v.AI[kDn] = 10.0f;
  v.VM[0] = v.VM[1] = 1.0f;
  v.VANG[0] = theta, v.VANG[1] = 0.0f;
  ORVEK_DLL(OdrediSe, &v.NR, v.AR, v.AI, v.VM, v.VANG, v.P, v.Q, v.CI);
  EXPECT_NEAR(v.P[0], 10 * std::sin(0.1), 1e-5);
  EXPECT_NEAR(v.P[1], -10 * std::sin(0.1), 1e-5);
  EXPECT_NEAR(v.Q[0], 10 * (1 - std::cos(0.1)), 1e-5);
  EXPECT_NEAR(v.Q[1], 10 * (1 - std::cos(0.1)), 1e-5);
  const float p0 = v.P[0], p1 = v.P[1];
  ORVEK_DLL(OdrediPe, &v.NR, v.AR, v.AI, v.VM, v.VANG, v.P);
  EXPECT_EQ(v.P[0], p0);
  EXPECT_EQ(v.P[1], p1);

  // The same network in row-indexed form through MNOZI.
  v.SA[kNz + 0] = v.SA[kNz + 1] = -10.0f;
  v.SA[kNz + 3] = v.SA[kNz + 4] = 10.0f;
  const int ija[] = {4, 5, 6, 2, 1};
  for (int k = 0; k < 5; ++k) v.IJA[k] = ija[k];
  ORVEK_DLL(MNOZI, v.SA, v.IJA, v.VM, v.VANG, v.S, &v.NR);
  EXPECT_NEAR(v.S[0], 10 * std::sin(0.1), 1e-5);
  EXPECT_NEAR(v.S[kNd + 0], 10 * (1 - std::cos(0.1)), 1e-5);
  EXPECT_NEAR(v.S[1], -10 * std::sin(0.1), 1e-5);

  // So for node 1 of the same matrix, voltages in rectangular form.
  v.V[0] = std::cos(theta), v.V[kNd] = std::sin(theta), v.V[1] = 1.0f;
  v.K = 1;
  float sr = 0, si = 0;
  ORVEK_DLL(So, &v.NR, &v.K, v.V, v.SA, v.IJA, &sr, &si);
  EXPECT_NEAR(sr, 10 * std::sin(0.1), 1e-5);
  EXPECT_NEAR(si, 10 * (1 - std::cos(0.1)), 1e-5);
}

TEST_F(DllNumerics, TopologyExamples) {
  Workspace &v = w();
  // Triangle 1-2, 2-3, 1-3.
  v.N = 3;
  v.NB = 3;
  v.NODES[0] = 1, v.NODES[kBr] = 2, v.NODES[1] = 2, v.NODES[kBr + 1] = 3, v.NODES[2] = 1, v.NODES[kBr + 2] = 3;
  Ordering(v);
  EXPECT_EQ(v.IJAT[0], 5);
  EXPECT_EQ(v.IJAT[3], 11);
  EXPECT_EQ(v.NC, 1);
  EXPECT_EQ(v.ORD[0], 1);
  EXPECT_EQ(v.CNT[0], 3);
  EXPECT_EQ(v.CNT[kNd], 3);
  EXPECT_EQ(v.BL[2], 2); // the chord
  ORVEK_DLL(ZapisiPodredeno, v.CNT, v.ORD, v.BL, v.PAR, &v.NC, v.NODES);
}

// A terminal error inside the DLL prints its message on the process's
// standard output (the C run-time the host shares with the DLL) and ends the
// process with status 1.
TEST_F(DllNumerics, KeySortLengthErrorStopsTheHost) {
  const auto child = orvek::test::RunInChild([] {
    auto v = std::make_unique<Workspace>();
    v->Clear();
    v->N = 2;
    v->NB = 0;
    ORVEK_DLL(MatY, &v->N, v->Z, v->YA, v->YB, v->NODES, &v->NB, v->IROW, v->JCOL, v->A, &v->NZ);
  });
  ASSERT_TRUE(child.supported);
  EXPECT_EQ(child.exit_status, 1);
  const std::string message = "\n *** TERMINAL ERROR 1 from SVIGP.  The length of vectors IA, IB, and IPERM\n"
                              " ***          must be greater than or equal to one.  On input the length, N,\n"
                              " ***          is given as 0.\n";
  const std::string stop = "Stop - Program terminated.\n";
  EXPECT_EQ(child.output.substr(0, message.size()), message);
  ASSERT_GE(child.output.size(), stop.size());
  EXPECT_EQ(child.output.substr(child.output.size() - stop.size()), stop);
}

} // namespace
} // namespace orvek::windows_test
