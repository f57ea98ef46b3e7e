/* A C host of ORVEK, built out of tree against an installed library: the
 * fault-study road on two nodes. Node 1 has a generator (susceptance -5),
 * branch 1-2 has Z = j0.5 and end admittances j0.25. MatricaY assembles the
 * matrix, LUC factors it, BSC gives the impedance column of node 2 and
 * NaponiKV the three-phase fault there. By hand: Z(1,2) = j0.256,
 * Z(2,2) = j0.864, so I1 = 1/(j0.864) and V1(1) = 1 - 0.256/0.864.
 * Exits 0 when the library agrees. */
#include <orvek/orvek.h>

#include <math.h>
#include <stdio.h>

/* Host arrays with the library's leading dimensions. */
static float Z[2 * ORVEK_LD_BRANCH], YA[2 * ORVEK_LD_BRANCH], YB[2 * ORVEK_LD_BRANCH];
static int32_t NODES[2 * ORVEK_LD_BRANCH], IROW[ORVEK_LD_NONZERO], JCOL[ORVEK_LD_NONZERO];
static float A[2 * ORVEK_LD_NONZERO], SA[2 * ORVEK_LD_NONZERO];
static int32_t IJA[ORVEK_LD_NONZERO + 1];
static float FAC[2 * ORVEK_LD_FACTOR];
static int32_t IRFAC[3 * ORVEK_LD_NONZERO], JCFAC[3 * ORVEK_LD_NONZERO], IPVT[ORVEK_LD_NODE], JPVT[ORVEK_LD_NODE];
static float B[2 * ORVEK_LD_NODE], X[2 * ORVEK_LD_NODE], E[2 * ORVEK_LD_NODE];
static float Z0[2 * ORVEK_LD_NODE], Z2[2 * ORVEK_LD_NODE];
static float VA[2 * ORVEK_LD_NODE], VB[2 * ORVEK_LD_NODE], VC[2 * ORVEK_LD_NODE], IFS[2 * 3];

int main(void) {
  int32_t N = 2, NB = 1, NSH = 1, NZ, NFAC, NL, IPATH = 1, ITYPE = 1, K = 2, i;
  int32_t KSH[1] = {1}, IPARAM[6] = {0};
  float BSH[1] = {-5.0f}, RPARAM[5] = {0}, UB[2] = {110.0f, 110.0f};

  Z[ORVEK_LD_BRANCH] = 0.5f;                            /* Z(1,2): X of branch 1 */
  YA[ORVEK_LD_BRANCH] = YB[ORVEK_LD_BRANCH] = 0.25f;    /* YA(1,2), YB(1,2)      */
  NODES[0] = 1;
  NODES[ORVEK_LD_BRANCH] = 2;                           /* NODES(1,1), NODES(1,2) */
  MatricaY(BSH, KSH, &NSH, &N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);

  LUC(&N, &NZ, A, IROW, JCOL, IPARAM, RPARAM, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT);
  B[K - 1] = 1.0f; /* unit injection at node K */
  BSC(&N, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, &IPATH, X);

  /* Column K for every sequence network (here the same network three times). */
  for (i = 0; i < N; ++i) {
    Z0[i] = Z2[i] = X[i];
    Z0[ORVEK_LD_NODE + i] = Z2[ORVEK_LD_NODE + i] = X[ORVEK_LD_NODE + i];
    E[i] = 1.0f;
  }
  NaponiKV(&N, &ITYPE, &K, UB, E, Z0, X, Z2, VA, VB, VC, IFS);

  /* IFS(2,1..2) is I1; X now holds V1. */
  printf("NZ = %d, I1 = (%.6f, %.6f), V1(1) = (%.6f, %.6f)\n", (int)NZ, IFS[1], IFS[4], X[0],
         X[ORVEK_LD_NODE]);
  const double i1 = -1.0 / 0.864, v1 = 1.0 - 0.256 / 0.864;
  int ok = NZ == 4 && fabs(IFS[1]) < 1e-5 && fabs(IFS[4] - i1) < 1e-5 && fabs(X[0] - v1) < 1e-5 &&
           fabs(X[ORVEK_LD_NODE]) < 1e-5;
  printf("%s\n", ok ? "C host: agrees with the hand calculation" : "C host: WRONG RESULT");
  return ok ? 0 : 1;
}
