// Calls of all 28 routines through ORVEK.dll on the five-node network.
#include "recipes.hpp"

#include "dll_host.hpp"

namespace orvek::windows_test {

namespace {
constexpr int kNd = Workspace::kNd;
constexpr int kDn = Workspace::kDn;
} // namespace

void AssembleWithShunts(Workspace &w) {
  ORVEK_DLL(MatricaY, w.BSH, w.KSH, &w.NSH, &w.N, w.Z, w.YA, w.YB, w.NODES, &w.NB, w.IROW, w.JCOL, w.A, &w.NZ,
            w.SA, w.IJA);
}

void FactorComplex(Workspace &w) {
  AssembleWithShunts(w);
  ORVEK_DLL(LUC, &w.N, &w.NZ, w.A, w.IROW, w.JCOL, w.IPARAM, w.RPARAM, &w.NFAC, &w.NL, w.FAC, w.IRFAC, w.JCFAC,
            w.IPVT, w.JPVT);
}

void ImpedanceColumn(Workspace &w, int node) {
  FactorComplex(w);
  for (int i = 0; i < 2 * kNd; ++i) w.B[i] = 0.0f;
  w.B[node - 1] = 1.0f;
  w.IPATH = 1;
  ORVEK_DLL(BSC, &w.N, &w.NFAC, &w.NL, w.FAC, w.IRFAC, w.JCFAC, w.IPVT, w.JPVT, w.B, &w.IPATH, w.X);
}

void FastDecoupled(Workspace &w) {
  ORVEK_DLL(Matrici_VektoriBX, &w.N, &w.NPQ, w.Z, w.T, w.NODES, &w.NB, w.IROW1, w.JCOL1, w.VAL1, &w.NZ1, w.IROW2,
            w.JCOL2, w.VAL2, &w.NZ2);
}

void Adjacency(Workspace &w) {
  for (int i = 0; i <= w.N; ++i) w.IJAT[i] = 0;
  ORVEK_DLL(MAUX, &w.N, w.NODES, &w.NB, w.IJAT, w.IBR);
}

void Ordering(Workspace &w) {
  Adjacency(w);
  ORVEK_DLL(MultiPodred, &w.N, w.IJAT, w.IBR, w.ORD, w.CNT, w.BL, w.PAR, &w.NC);
}

namespace {

void FillDense(Workspace &w, int n) {
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const float off = 0.1f * static_cast<float>(i + 2 * j + 1);
      w.AR[j * kDn + i] = i == j ? 4.0f + static_cast<float>(i) : off;
      w.AI[j * kDn + i] = i == j ? -8.0f : 0.5f * off;
    }
}

std::vector<Recipe> MakeRecipes() {
  std::vector<Recipe> r;
  r.push_back({"MatricaY", AssembleWithShunts});
  r.push_back({"MatricaYR", [](Workspace &w) {
                 AssembleWithShunts(w);
                 w.KREF = 5;
                 w.NR = 4;
                 for (int i = 0; i < 4; ++i) w.IOLD[i] = 4 - i; // reversed order
                 for (int c = 1; c <= 4; ++c) w.INEW[c - 1] = 5 - c;
                 ORVEK_DLL(MatricaYR, &w.KREF, w.SA, w.IJA, w.IOLD, w.INEW, &w.NR, w.SAR, w.IJAR, w.IROWR, w.JCOLR,
                           w.AR_, &w.NZR);
               }});
  r.push_back({"MatY", [](Workspace &w) {
                 ORVEK_DLL(MatY, &w.N, w.Z, w.YA, w.YB, w.NODES, &w.NB, w.IROW, w.JCOL, w.A, &w.NZ);
               }});
  r.push_back({"MatYR", [](Workspace &w) {
                 AssembleWithShunts(w);
                 w.NIN = 5;
                 w.NR = 3;
                 w.IDROP[1] = 1; // nodes 2 and 5 removed
                 w.IDROP[4] = 1;
                 const int kept[] = {4, 1, 3};
                 for (int i = 0; i < 3; ++i) {
                   w.IOLD[i] = kept[i];
                   w.INEW[kept[i] - 1] = i + 1;
                 }
                 ORVEK_DLL(MatYR, &w.NIN, w.IDROP, w.SA, w.IJA, w.IOLD, w.INEW, &w.NR, w.IROWR, w.JCOLR, w.AR_, &w.NZR);
               }});
  r.push_back({"MatYsa", [](Workspace &w) {
                 ORVEK_DLL(MatYsa, &w.N, w.Z, w.YA, w.YB, w.NODES, &w.NB, w.IROW, w.JCOL, w.A, &w.NZ, w.SA, w.IJA);
               }});
  r.push_back({"MatY_prekin", [](Workspace &w) {
                 ORVEK_DLL(MatY_prekin, &w.N, w.Z, w.YA, w.YB, w.NODES, w.ISTAT, &w.NB, w.IROW, w.JCOL, w.A, &w.NZ);
               }});
  r.push_back({"LUC", FactorComplex});
  r.push_back({"BSC", [](Workspace &w) {
                 FactorComplex(w);
                 for (int i = 0; i < w.N; ++i) {
                   w.B[i] = 0.1f * static_cast<float>(i + 1);
                   w.B[kNd + i] = -0.05f * static_cast<float>(i);
                 }
                 w.IPATH = 2;
                 ORVEK_DLL(BSC, &w.N, &w.NFAC, &w.NL, w.FAC, w.IRFAC, w.JCFAC, w.IPVT, w.JPVT, w.B, &w.IPATH, w.X);
               }});
  r.push_back({"Matrici_VektoriBX", FastDecoupled});
  r.push_back({"LUR", [](Workspace &w) {
                 FastDecoupled(w);
                 w.NR = w.N - 1;
                 ORVEK_DLL(LUR, &w.NR, &w.NZ1, w.VAL1, w.IROW1, w.JCOL1, w.IPARAM, w.RPARAM, &w.NFAC, &w.NL, w.FAC,
                           w.IRFAC, w.JCFAC, w.IPVT, w.JPVT);
               }});
  r.push_back({"BSR", [](Workspace &w) {
                 FastDecoupled(w);
                 w.NR = w.N - 1;
                 ORVEK_DLL(LUR, &w.NR, &w.NZ1, w.VAL1, w.IROW1, w.JCOL1, w.IPARAM, w.RPARAM, &w.NFAC, &w.NL, w.FAC,
                           w.IRFAC, w.JCFAC, w.IPVT, w.JPVT);
                 for (int i = 0; i < w.NR; ++i) w.B[i] = 0.25f - 0.125f * static_cast<float>(i);
                 w.IPATH = 1;
                 ORVEK_DLL(BSR, &w.NR, &w.NFAC, &w.NL, w.FAC, w.IRFAC, w.JCFAC, w.IPVT, w.JPVT, w.B, &w.IPATH, w.X);
               }});
  r.push_back({"SimFaz", [](Workspace &w) {
                 constexpr int kBr = Workspace::kBr;
                 for (int i = 0; i < 5; ++i) {
                   w.X0[i] = 0.1f * static_cast<float>(i);
                   w.X0[kBr + i] = -0.2f;
                   w.X1[i] = 1.0f;
                   w.X1[kBr + i] = 0.01f * static_cast<float>(i);
                   w.X2[i] = -0.3f;
                   w.X2[kBr + i] = 0.4f;
                 }
                 w.NR = 5;
                 ORVEK_DLL(SimFaz, &w.NR, w.X0, w.X1, w.X2, w.XA, w.XB, w.XC);
               }});
  r.push_back({"SimFaz1", [](Workspace &w) {
                 const float in[6] = {0.1f, -0.2f, 1.0f, 0.05f, -0.3f, 0.4f};
                 for (int i = 0; i < 6; ++i) w.s[i] = in[i];
                 float *s = w.s;
                 ORVEK_DLL(SimFaz1, s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6, s + 7, s + 8, s + 9, s + 10, s + 11);
               }});
  r.push_back({"FazSim1", [](Workspace &w) {
                 const float in[6] = {1.0f, 0.0f, -0.5f, -0.8f, -0.5f, 0.8f};
                 for (int i = 0; i < 6; ++i) w.s[6 + i] = in[i];
                 float *s = w.s;
                 ORVEK_DLL(FazSim1, s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6, s + 7, s + 8, s + 9, s + 10, s + 11);
               }});
  r.push_back({"NaponiKV", [](Workspace &w) {
                 ImpedanceColumn(w, 3);
                 for (int i = 0; i < w.N; ++i) {
                   w.Z1[i] = w.Z2[i] = w.X[i];
                   w.Z1[kNd + i] = w.Z2[kNd + i] = w.X[kNd + i];
                   w.Z0[i] = 3.0f * w.X[i];
                   w.Z0[kNd + i] = 3.0f * w.X[kNd + i];
                 }
                 w.ITYPE = 4;
                 w.K = 3;
                 ORVEK_DLL(NaponiKV, &w.N, &w.ITYPE, &w.K, w.UB, w.E, w.Z0, w.Z1, w.Z2, w.VA, w.VB, w.VC, w.IFS);
               }});
  r.push_back({"StruiKV", [](Workspace &w) {
                 ORVEK_DLL(StruiKV, &w.NB, w.Z, w.YA, w.YB, w.NODES, &w.N, w.V, w.IE1, w.IE2);
               }});
  r.push_back({"Sg", [](Workspace &w) {
                 ORVEK_DLL(Sg, w.Z, w.YA, w.YB, w.NODES, &w.NB, w.V, &w.N, w.SE1, w.SE2);
               }});
  r.push_back({"So", [](Workspace &w) {
                 AssembleWithShunts(w);
                 w.K = 2;
                 ORVEK_DLL(So, &w.N, &w.K, w.V, w.SA, w.IJA, &w.s[0], &w.s[1]);
               }});
  r.push_back({"J1J2", [](Workspace &w) {
                 const float in[8] = {0.01f, 0.1f, 1.0f, 1.05f, 1.02f, -0.05f, 0.98f, -0.1f};
                 for (int i = 0; i < 8; ++i) w.s[i] = in[i];
                 float *s = w.s;
                 ORVEK_DLL(J1J2, s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6, s + 7, s + 8, s + 9, s + 10, s + 11);
               }});
  r.push_back({"EMS", [](Workspace &w) {
                 const float in[5] = {1.01f, -0.03f, 0.8f, 0.35f, 0.2f};
                 for (int i = 0; i < 5; ++i) w.s[i] = in[i];
                 float *s = w.s;
                 ORVEK_DLL(EMS, s, s + 1, s + 2, s + 3, s + 4, s + 5, s + 6);
               }});
  r.push_back({"MAUX", Adjacency});
  r.push_back({"MultiPodred", Ordering});
  r.push_back({"ZapisiPodredeno", [](Workspace &w) {
                 Ordering(w);
                 ORVEK_DLL(ZapisiPodredeno, w.CNT, w.ORD, w.BL, w.PAR, &w.NC, w.NODES);
               }});
  r.push_back({"Inverzija", [](Workspace &w) {
                 w.NR = 6;
                 FillDense(w, w.NR);
                 ORVEK_DLL(Inverzija, w.AR, w.AI, &w.NR);
               }});
  r.push_back({"MNOZI", [](Workspace &w) {
                 AssembleWithShunts(w);
                 ORVEK_DLL(MNOZI, w.SA, w.IJA, w.VM, w.VANG, w.S, &w.N);
               }});
  r.push_back({"Paralelno", [](Workspace &w) {
                 const float in[4] = {0.02f, 0.2f, 0.05f, 0.3f};
                 for (int i = 0; i < 4; ++i) w.s[i] = in[i];
                 ORVEK_DLL(Paralelno, &w.s[0], &w.s[2], &w.s[4]);
               }});
  r.push_back({"OdrediPe", [](Workspace &w) {
                 w.NR = 6;
                 FillDense(w, w.NR);
                 ORVEK_DLL(OdrediPe, &w.NR, w.AR, w.AI, w.VM, w.VANG, w.P);
               }});
  r.push_back({"OdrediSe", [](Workspace &w) {
                 w.NR = 6;
                 FillDense(w, w.NR);
                 ORVEK_DLL(OdrediSe, &w.NR, w.AR, w.AI, w.VM, w.VANG, w.P, w.Q, w.CI);
               }});
  return r;
}

} // namespace

const std::vector<Recipe> &Recipes() {
  static const std::vector<Recipe> recipes = MakeRecipes();
  return recipes;
}

} // namespace orvek::windows_test
