// Host-side arrays for calling every routine of ORVEK.dll, with the leading
// dimensions of the export table, and a small meshed test network (five
// nodes, seven branches including a parallel pair and an off-nominal ratio,
// two nodal shunts). Arrays are 0-based here; X(i,c) of the library is
// x[(c-1)*LD + i-1].
#pragma once

#include <cstdint>
#include <cstring>

#include "orvek/orvek.h"

namespace orvek::windows_test {

struct Workspace {
  static constexpr int kBr = ORVEK_LD_BRANCH, kNd = ORVEK_LD_NODE, kNz = ORVEK_LD_NONZERO;
  static constexpr int kFac = ORVEK_LD_FACTOR, kDn = ORVEK_LD_DENSE;

  // Branch data.
  std::int32_t N, NB, NSH, NPQ;
  float Z[2 * kBr], YA[2 * kBr], YB[2 * kBr], T[kBr];
  std::int32_t NODES[2 * kBr], ISTAT[kBr];
  float BSH[16];
  std::int32_t KSH[16];
  // Triplet list and row-indexed form.
  std::int32_t IROW[kNz], JCOL[kNz], NZ;
  float A[2 * kNz], SA[2 * kNz];
  std::int32_t IJA[kNz + 1];
  // Reduction.
  std::int32_t KREF, NIN, NR, IOLD[kNd], INEW[kNd + 1], IDROP[kNd];
  float SAR[2 * kNz], AR_[2 * kNz];
  std::int32_t IJAR[kNz + 1], IROWR[kNz], JCOLR[kNz], NZR;
  // Factors and solves.
  std::int32_t IPARAM[6], NFAC, NL, IRFAC[kFac], JCFAC[kFac], IPVT[kNd], JPVT[kNd], IPATH;
  float RPARAM[5], FAC[2 * kFac], B[2 * kNd], X[2 * kNd];
  // Fast decoupled matrices.
  std::int32_t IROW1[kNz], JCOL1[kNz], NZ1, IROW2[kNz], JCOL2[kNz], NZ2;
  float VAL1[kNz], VAL2[kNz];
  // Sequence quantities (per node, LD 1000; SimFaz uses LD 5000).
  std::int32_t ITYPE, K;
  float UB[kNd], E[2 * kNd], Z0[2 * kNd], Z1[2 * kNd], Z2[2 * kNd], VA[2 * kNd], VB[2 * kNd], VC[2 * kNd];
  float IFS[6], V[2 * kNd], SE1[2 * kBr], SE2[2 * kBr], IE1[2 * kBr], IE2[2 * kBr];
  float X0[2 * kBr], X1[2 * kBr], X2[2 * kBr], XA[2 * kBr], XB[2 * kBr], XC[2 * kBr];
  float s[24]; // scalar arguments of SimFaz1, FazSim1, J1J2, EMS, So, Paralelno
  // Topology.
  std::int32_t IJAT[kBr + 1], IBR[kBr + 1], ORD[kNd], CNT[2 * kNd], BL[kBr], PAR[kNd], NC;
  // Dense matrices and polar voltages.
  float AR[kDn * kDn], AI[kDn * kDn], VM[kNd], VANG[kNd], S[2 * kNd], P[kDn], Q[kDn], CI[2 * kDn];

  void Clear() { std::memset(static_cast<void *>(this), 0, sizeof *this); }

  // The five-node network; node 5 is the reference node of the fast
  // decoupled matrices, nodes 1..3 their second matrix.
  void LoadNetwork() {
    struct Branch {
      int from, to;
      float r, x, b;
    };
    static constexpr Branch kBranches[] = {
        {1, 2, 0.01f, 0.10f, 0.020f}, {2, 3, 0.02f, 0.20f, 0.030f}, {3, 4, 0.01f, 0.15f, 0.010f},
        {4, 5, 0.03f, 0.30f, 0.040f}, {5, 1, 0.02f, 0.25f, 0.020f}, {2, 4, 0.05f, 0.40f, 0.000f},
        {2, 1, 0.02f, 0.12f, 0.010f},
    };
    N = 5;
    NB = 7;
    NPQ = 3;
    for (int b = 0; b < NB; ++b) {
      const Branch &br = kBranches[b];
      NODES[b] = br.from;
      NODES[kBr + b] = br.to;
      Z[b] = br.r;
      Z[kBr + b] = br.x;
      YA[kBr + b] = br.b / 2;
      YB[kBr + b] = br.b / 2;
      T[b] = 1.0f;
      ISTAT[b] = 1;
    }
    T[2] = 1.05f;   // ratio at node 3 of branch 3-4
    ISTAT[5] = 0;   // branch 2-4 opened (MatY_prekin only)
    NSH = 2;
    KSH[0] = 3;
    BSH[0] = 0.05f;
    KSH[1] = 5;
    BSH[1] = -0.02f;
    for (int i = 0; i < N; ++i) {
      VM[i] = 1.0f + 0.01f * static_cast<float>(i);
      VANG[i] = -0.02f * static_cast<float>(i);
      E[i] = 1.0f;
      E[kNd + i] = 0.0f;
      UB[i] = 110.0f;
      V[i] = 1.0f - 0.01f * static_cast<float>(i);
      V[kNd + i] = -0.005f * static_cast<float>(i);
    }
  }
};

} // namespace orvek::windows_test
