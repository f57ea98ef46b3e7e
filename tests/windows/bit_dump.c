/* Prints the bits of representative results of the library, one value per
 * line ("label index hex"), so that the outputs of the Linux library and of
 * ORVEK.dll can be compared bit for bit. The same source is built on both:
 * on Linux against liborvek.so, on Windows against ORVEK.dll through its
 * import library (so it also shows that the import library links stdcall
 * references). The powers from polar voltages (MNOZI, OdrediPe, OdrediSe)
 * come last. The network is synthetic and deterministic: a ring of NN
 * nodes with chords, parallel branches and off-nominal ratios; its values
 * come from a fixed linear congruential sequence. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "orvek/orvek.h"
#include "bit_dump.h"

#define LDB ORVEK_LD_BRANCH
#define LDN ORVEK_LD_NODE
#define LDZ ORVEK_LD_NONZERO
#define LDF ORVEK_LD_FACTOR
#define LDD ORVEK_LD_DENSE
#define NN 60

static uint32_t seed = 20240611u;
static float Uniform(float lo, float hi) { /* exact: 24 random bits scaled */
  seed = seed * 1664525u + 1013904223u;
  return lo + (hi - lo) * ((float)(seed >> 8) * (1.0f / 16777216.0f));
}

static FILE *out;
static void Bits(const char *label, const float *x, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    uint32_t u;
    memcpy(&u, &x[i], sizeof u);
    fprintf(out, "%s %d %08lx\n", label, i + 1, (unsigned long)u);
  }
}
static void Ints(const char *label, const int32_t *x, int n) {
  int i;
  for (i = 0; i < n; ++i) fprintf(out, "%s %d %ld\n", label, i + 1, (long)x[i]);
}
/* Both columns of a split-complex array of leading dimension ld. */
static void Split(const char *label, const float *x, int ld, int n) {
  char name[64];
  sprintf(name, "%s.re", label);
  Bits(name, x, n);
  sprintf(name, "%s.im", label);
  Bits(name, x + ld, n);
}

/* Network. */
static int32_t N, NB, NSH, NODES[2 * LDB], ISTAT[LDB], KSH[16];
static float Z[2 * LDB], YA[2 * LDB], YB[2 * LDB], T[LDB], BSH[16];
/* Assembly and factors. */
static int32_t IROW[LDZ], JCOL[LDZ], NZ, IJA[LDZ + 1], IPARAM[6], NFAC, NL, IRFAC[LDF], JCFAC[LDF], IPVT[LDN],
    JPVT[LDN], IPATH;
static float A[2 * LDZ], SA[2 * LDZ], RPARAM[5], FAC[2 * LDF], B[2 * LDN], X[2 * LDN];
/* Sequence networks for the fault. */
static float ZS[3][2 * LDB], ZC[3][2 * LDN], E[2 * LDN], UB[LDN], VA[2 * LDN], VB[2 * LDN], VC[2 * LDN], IFS[6];
static float VS[2 * LDN], IE1[2 * LDB], IE2[2 * LDB], SE1[2 * LDB], SE2[2 * LDB];
/* Reductions, fast decoupled matrices, transforms, dense. */
static int32_t IROWR[LDZ], JCOLR[LDZ], NZR, IJAR[LDZ + 1], IOLD[LDN], INEW[LDN + 1], IDROP[LDN];
static float SAR[2 * LDZ], AR_[2 * LDZ];
static int32_t IROW1[LDZ], JCOL1[LDZ], NZ1, IROW2[LDZ], JCOL2[LDZ], NZ2;
static float VAL1[LDZ], VAL2[LDZ], XR[LDN];
static float X0[2 * LDB], X1[2 * LDB], X2[2 * LDB], XA[2 * LDB], XB[2 * LDB], XC[2 * LDB];
static float DR[LDD * LDD], DI[LDD * LDD], VM[LDN], VANG[LDN], S[2 * LDN], P[LDD], Q[LDD], CI[2 * LDD];
static int32_t IJAT[LDB + 1], IBR[LDB + 1], ORD[LDN], CNT[2 * LDN], BL[LDB], PAR[LDN], NC;

static void AddBranch(int from, int to) {
  const int b = NB++;
  NODES[b] = from;
  NODES[LDB + b] = to;
  Z[b] = Uniform(0.002f, 0.05f);
  Z[LDB + b] = Uniform(0.02f, 0.4f);
  YA[LDB + b] = YB[LDB + b] = Uniform(0.0f, 0.03f);
  YA[b] = YB[b] = 0.0f;
  T[b] = b % 5 == 0 ? Uniform(0.95f, 1.1f) : 1.0f;
  ISTAT[b] = b % 11 == 7 ? 0 : 1;
}

static void BuildNetwork(void) {
  int i;
  N = NN;
  NB = 0;
  for (i = 1; i <= NN; ++i) AddBranch(i, i % NN + 1);
  for (i = 1; i + 7 <= NN; i += 3) AddBranch(i + 7, i);
  for (i = 2; i <= NN; i += 13) AddBranch(i, i + 1); /* parallel to ring branches */
  NSH = 3;
  KSH[0] = 4;
  BSH[0] = 0.2f;
  KSH[1] = 17;
  BSH[1] = -0.05f;
  KSH[2] = 4;
  BSH[2] = 0.07f;
  for (i = 0; i < NN; ++i) {
    E[i] = Uniform(0.95f, 1.05f);
    E[LDN + i] = Uniform(-0.1f, 0.1f);
    UB[i] = i % 2 ? 110.0f : 220.0f;
    VM[i] = Uniform(0.9f, 1.1f);
    VANG[i] = Uniform(-0.5f, 0.5f);
  }
}

/* Admittance matrix of sequence network s (0, 1, 2), factored; ZC[s] gets
 * the impedance column of node k. */
static void SequenceColumn(int s, int k) {
  int i;
  static float zs[2 * LDB], ya[2 * LDB];
  for (i = 0; i < NB; ++i) {
    const float scale = s == 0 ? 3.0f : s == 2 ? 1.1f : 1.0f;
    zs[i] = Z[i] * scale;
    zs[LDB + i] = Z[LDB + i] * scale;
    ya[i] = YA[i];
    ya[LDB + i] = YA[LDB + i] * (s == 0 ? 0.6f : 1.0f);
  }
  memcpy(ZS[s], zs, sizeof zs);
  MatricaY(BSH, KSH, &NSH, &N, zs, ya, ya, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);
  LUC(&N, &NZ, A, IROW, JCOL, IPARAM, RPARAM, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT);
  memset(B, 0, sizeof B);
  B[k - 1] = 1.0f;
  IPATH = 1;
  BSC(&N, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, &IPATH, ZC[s]);
}

void orvek_bit_dump(FILE *stream) {
  int i, s, type;
  int32_t K, N1, NPQ, NIN, NR, ITYPE;
  float sc[16];
  out = stream;
  seed = 20240611u;
  BuildNetwork();

  /* ---- Assembly ---- */
  MatricaY(BSH, KSH, &NSH, &N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);
  Ints("MatricaY.NZ", &NZ, 1);
  Ints("MatricaY.IROW", IROW, NZ);
  Ints("MatricaY.JCOL", JCOL, NZ);
  Split("MatricaY.A", A, LDZ, NZ);
  Ints("MatricaY.IJA", IJA, NZ + 1);
  Split("MatricaY.SA", SA, LDZ, N);
  Split("MatricaY.SAoff", SA + N + 1, LDZ, NZ - N);

  /* Reference node N removed, the others renumbered in reverse. */
  K = N;
  NR = N - 1;
  for (i = 1; i <= NR; ++i) {
    IOLD[i - 1] = N - i;
    INEW[N - i - 1] = i;
  }
  MatricaYR(&K, SA, IJA, IOLD, INEW, &NR, SAR, IJAR, IROWR, JCOLR, AR_, &NZR);
  Ints("MatricaYR.NZ", &NZR, 1);
  Ints("MatricaYR.IJAR", IJAR, NZR + 1);
  Ints("MatricaYR.IROW", IROWR, NZR);
  Ints("MatricaYR.JCOL", JCOLR, NZR);
  Split("MatricaYR.A", AR_, LDZ, NZR);

  NIN = N;
  memset(IDROP, 0, sizeof IDROP);
  IDROP[2] = IDROP[9] = IDROP[N - 1] = 1;
  NR = 0;
  for (i = 1; i <= N; ++i)
    if (!IDROP[i - 1]) {
      IOLD[NR] = i;
      INEW[i - 1] = ++NR;
    }
  MatYR(&NIN, IDROP, SA, IJA, IOLD, INEW, &NR, IROWR, JCOLR, AR_, &NZR);
  Ints("MatYR.NZ", &NZR, 1);
  Ints("MatYR.IROW", IROWR, NZR);
  Ints("MatYR.JCOL", JCOLR, NZR);
  Split("MatYR.A", AR_, LDZ, NZR);

  MatYsa(&N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);
  Ints("MatYsa.NZ", &NZ, 1);
  Split("MatYsa.A", A, LDZ, NZ);
  Ints("MatYsa.IJA", IJA, NZ + 1);
  Split("MatYsa.SAoff", SA + N + 1, LDZ, NZ - N);
  MatY(&N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ);
  Ints("MatY.NZ", &NZ, 1);
  Split("MatY.A", A, LDZ, NZ);
  MatY_prekin(&N, Z, YA, YB, NODES, ISTAT, &NB, IROW, JCOL, A, &NZ);
  Ints("MatY_prekin.NZ", &NZ, 1);
  Ints("MatY_prekin.IROW", IROW, NZ);
  Split("MatY_prekin.A", A, LDZ, NZ);

  /* ---- Complex factorization and solves ---- */
  MatricaY(BSH, KSH, &NSH, &N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);
  LUC(&N, &NZ, A, IROW, JCOL, IPARAM, RPARAM, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT);
  Ints("LUC.NFAC", &NFAC, 1);
  Ints("LUC.NL", &NL, 1);
  Ints("LUC.IPARAM", IPARAM, 6);
  Bits("LUC.RPARAM", RPARAM, 5);
  Ints("LUC.IRFAC", IRFAC, NFAC);
  Ints("LUC.JCFAC", JCFAC, NFAC);
  Ints("LUC.IPVT", IPVT, N);
  Ints("LUC.JPVT", JPVT, N);
  Split("LUC.FAC", FAC, LDF, NFAC);
  for (IPATH = 1; IPATH <= 2; ++IPATH) {
    for (i = 0; i < N; ++i) {
      B[i] = Uniform(-1.0f, 1.0f);
      B[LDN + i] = Uniform(-1.0f, 1.0f);
    }
    BSC(&N, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, &IPATH, X);
    Split(IPATH == 1 ? "BSC.X1" : "BSC.X2", X, LDN, N);
  }

  /* ---- Fast decoupled matrices, real factorization and solves ---- */
  NPQ = 2 * N / 3;
  Matrici_VektoriBX(&N, &NPQ, Z, T, NODES, &NB, IROW1, JCOL1, VAL1, &NZ1, IROW2, JCOL2, VAL2, &NZ2);
  Ints("BX.NZ1", &NZ1, 1);
  Ints("BX.IROW1", IROW1, NZ1);
  Ints("BX.JCOL1", JCOL1, NZ1);
  Bits("BX.VAL1", VAL1, NZ1);
  Ints("BX.NZ2", &NZ2, 1);
  Ints("BX.IROW2", IROW2, NZ2);
  Ints("BX.JCOL2", JCOL2, NZ2);
  Bits("BX.VAL2", VAL2, NZ2);
  N1 = N - 1;
  LUR(&N1, &NZ1, VAL1, IROW1, JCOL1, IPARAM, RPARAM, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT);
  Ints("LUR1.NFAC", &NFAC, 1);
  Bits("LUR1.FAC", FAC, NFAC);
  Ints("LUR1.IPVT", IPVT, N1);
  for (i = 0; i < N1; ++i) B[i] = Uniform(-0.5f, 0.5f);
  for (IPATH = 1; IPATH <= 2; ++IPATH) {
    BSR(&N1, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, &IPATH, XR);
    Bits(IPATH == 1 ? "BSR1.X1" : "BSR1.X2", XR, N1);
  }
  LUR(&NPQ, &NZ2, VAL2, IROW2, JCOL2, IPARAM, RPARAM, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT);
  Ints("LUR2.NFAC", &NFAC, 1);
  Bits("LUR2.FAC", FAC, NFAC);
  Bits("LUR2.RPARAM", RPARAM, 5);
  IPATH = 1;
  BSR(&NPQ, &NFAC, &NL, FAC, IRFAC, JCFAC, IPVT, JPVT, B, &IPATH, XR);
  Bits("BSR2.X", XR, NPQ);

  /* ---- Fault at a node, every type; branch currents and powers ---- */
  K = 23;
  for (type = 1; type <= 4; ++type) {
    char label[32];
    for (s = 0; s < 3; ++s) SequenceColumn(s, K);
    ITYPE = type;
    NaponiKV(&N, &ITYPE, &K, UB, E, ZC[0], ZC[1], ZC[2], VA, VB, VC, IFS);
    sprintf(label, "NaponiKV%d.IFS", type);
    Split(label, IFS, 3, 3);
    sprintf(label, "NaponiKV%d.V0", type);
    Split(label, ZC[0], LDN, N);
    sprintf(label, "NaponiKV%d.V1", type);
    Split(label, ZC[1], LDN, N);
    sprintf(label, "NaponiKV%d.V2", type);
    Split(label, ZC[2], LDN, N);
    sprintf(label, "NaponiKV%d.VA", type);
    Split(label, VA, LDN, N);
    sprintf(label, "NaponiKV%d.VB", type);
    Split(label, VB, LDN, N);
    sprintf(label, "NaponiKV%d.VC", type);
    Split(label, VC, LDN, N);
  }
  memcpy(VS, ZC[1], sizeof VS);
  StruiKV(&NB, ZS[1], YA, YB, NODES, &N, VS, IE1, IE2);
  Split("StruiKV.IE1", IE1, LDB, NB);
  Split("StruiKV.IE2", IE2, LDB, NB);
  Sg(ZS[1], YA, YB, NODES, &NB, VS, &N, SE1, SE2);
  Split("Sg.SE1", SE1, LDB, NB);
  Split("Sg.SE2", SE2, LDB, NB);
  MatricaY(BSH, KSH, &NSH, &N, Z, YA, YB, NODES, &NB, IROW, JCOL, A, &NZ, SA, IJA);
  for (K = 1; K <= N; K += 7) {
    So(&N, &K, VS, SA, IJA, &sc[0], &sc[1]);
    Bits("So", sc, 2);
  }

  /* ---- Transforms ---- */
  for (i = 0; i < NB; ++i) {
    X0[i] = IE1[i] * 0.3f;
    X0[LDB + i] = IE2[LDB + i];
    X1[i] = IE1[i];
    X1[LDB + i] = IE1[LDB + i];
    X2[i] = IE2[i];
    X2[LDB + i] = -IE2[LDB + i];
  }
  SimFaz(&NB, X0, X1, X2, XA, XB, XC);
  Split("SimFaz.XA", XA, LDB, NB);
  Split("SimFaz.XB", XB, LDB, NB);
  Split("SimFaz.XC", XC, LDB, NB);
  for (i = 0; i < 20; ++i) {
    float in[6], out[6], back[6];
    for (s = 0; s < 6; ++s) in[s] = Uniform(-2.0f, 2.0f);
    SimFaz1(&in[0], &in[1], &in[2], &in[3], &in[4], &in[5], &out[0], &out[1], &out[2], &out[3], &out[4], &out[5]);
    FazSim1(&back[0], &back[1], &back[2], &back[3], &back[4], &back[5], &out[0], &out[1], &out[2], &out[3], &out[4],
            &out[5]);
    Bits("SimFaz1", out, 6);
    Bits("FazSim1", back, 6);
  }

  /* ---- Scalars, dense inversion, topology ---- */
  for (i = 0; i < 10; ++i) {
    float r = Uniform(0.001f, 0.05f), x = Uniform(0.05f, 0.5f), t1 = Uniform(0.9f, 1.1f), t2 = Uniform(0.9f, 1.1f);
    float e1r = Uniform(0.9f, 1.1f), e1i = Uniform(-0.2f, 0.2f), e2r = Uniform(0.9f, 1.1f), e2i = Uniform(-0.2f, 0.2f);
    float sr = Uniform(-1.0f, 1.0f), si = Uniform(-1.0f, 1.0f);
    float z1[2], z2[2];
    J1J2(&r, &x, &t1, &t2, &e1r, &e1i, &e2r, &e2i, &sc[0], &sc[1], &sc[2], &sc[3]);
    EMS(&e1r, &e1i, &sr, &si, &x, &sc[4], &sc[5]);
    z1[0] = r;
    z1[1] = x;
    z2[0] = t1 - 0.5f;
    z2[1] = e2i;
    Paralelno(z1, z2, &sc[6]);
    Bits("J1J2.EMS.Paralelno", sc, 8);
  }
  NR = 40;
  for (i = 0; i < NR; ++i)
    for (s = 0; s < NR; ++s) {
      DR[s * LDD + i] = i == s ? Uniform(8.0f, 12.0f) : Uniform(-0.2f, 0.2f);
      DI[s * LDD + i] = i == s ? Uniform(-20.0f, -10.0f) : Uniform(-0.1f, 0.1f);
    }
  Inverzija(DR, DI, &NR);
  for (s = 0; s < NR; ++s) {
    Bits("Inverzija.R", DR + s * LDD, NR);
    Bits("Inverzija.I", DI + s * LDD, NR);
  }
  memset(IJAT, 0, sizeof IJAT);
  MAUX(&N, NODES, &NB, IJAT, IBR);
  Ints("MAUX.IJA", IJAT, N + 1 + 2 * NB);
  Ints("MAUX.IBR", IBR + N + 1, 2 * NB);
  MultiPodred(&N, IJAT, IBR, ORD, CNT, BL, PAR, &NC);
  Ints("MultiPodred.NC", &NC, 1);
  Ints("MultiPodred.ORD", ORD, N);
  Ints("MultiPodred.BL", BL, NB);
  Ints("MultiPodred.PAR", PAR + 1, N - 1);

  /* ---- Powers from polar voltages (sine and cosine of the run-time) ---- */
  MNOZI(SA, IJA, VM, VANG, S, &N);
  Split("MNOZI.S", S, LDN, N);
  NR = 30;
  for (i = 0; i < NR; ++i)
    for (s = 0; s < NR; ++s) {
      DR[s * LDD + i] = Uniform(-1.0f, 1.0f);
      DI[s * LDD + i] = Uniform(-10.0f, 10.0f);
    }
  OdrediPe(&NR, DR, DI, VM, VANG, P);
  Bits("OdrediPe.P", P, NR);
  OdrediSe(&NR, DR, DI, VM, VANG, P, Q, CI);
  Bits("OdrediSe.P", P, NR);
  Bits("OdrediSe.Q", Q, NR);
  Split("OdrediSe.CI", CI, LDD, NR);
  fflush(out);
}

#ifndef ORVEK_BIT_DUMP_NO_MAIN
int main(void) {
  orvek_bit_dump(stdout);
  return 0;
}
#endif
