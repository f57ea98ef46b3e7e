// Prints the bits of the library's results on real networks, one value per
// line ("case label index value"), for the Linux / Windows comparison: the
// host arrays as the case reader builds them (so that a difference in the
// input is told apart from one in the library), then the fault road (MatricaY
// for three sequence networks, LUC, BSC with a unit injection, NaponiKV of
// every type, StruiKV, Sg, SimFaz) and the fast decoupled road
// (Matrici_VektoriBX, LUR, BSR). Built on Linux against liborvek.so and on
// Windows against ORVEK.dll's import library.
//   case_dump <cases folder> <case file>...
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "orvek/orvek.h"
#include "tools/casefile/matpower.hpp"

namespace {

constexpr int kBr = ORVEK_LD_BRANCH, kNd = ORVEK_LD_NODE, kNz = ORVEK_LD_NONZERO, kFac = ORVEK_LD_FACTOR;
std::string current;

void Bits(const char *label, const float *x, int n) {
  for (int i = 0; i < n; ++i) {
    std::uint32_t u;
    std::memcpy(&u, &x[i], sizeof u);
    std::printf("%s %s %d %08lx\n", current.c_str(), label, i + 1, static_cast<unsigned long>(u));
  }
}
void Ints(const char *label, const std::int32_t *x, int n) {
  for (int i = 0; i < n; ++i) std::printf("%s %s %d %ld\n", current.c_str(), label, i + 1, static_cast<long>(x[i]));
}
void Split(const std::string &label, const float *x, int ld, int n) {
  Bits((label + ".re").c_str(), x, n);
  Bits((label + ".im").c_str(), x + ld, n);
}

struct Factors {
  std::int32_t iparam[6] = {}, nfac = 0, nl = 0;
  float rparam[5] = {};
  std::vector<float> fac = std::vector<float>(2 * kFac);
  std::vector<std::int32_t> irfac = std::vector<std::int32_t>(kFac), jcfac = std::vector<std::int32_t>(kFac);
  std::vector<std::int32_t> ipvt = std::vector<std::int32_t>(kNd), jpvt = std::vector<std::int32_t>(kNd);
};

// Column `node` of the impedance matrix of one sequence network: the branch
// impedances scaled by zscale, the end admittances by yscale.
std::vector<float> ImpedanceColumn(const orvek::casefile::HostArrays &h, float zscale, float yscale,
                                   std::int32_t node, const char *label) {
  std::vector<float> z(h.z), ya(h.ya), yb(h.yb);
  for (int b = 0; b < h.nb; ++b) {
    z[b] *= zscale, z[kBr + b] *= zscale;
    ya[b] *= yscale, ya[kBr + b] *= yscale, yb[b] *= yscale, yb[kBr + b] *= yscale;
  }
  std::int32_t n = h.n, nb = h.nb, nsh = h.nsh, nz = 0;
  std::vector<std::int32_t> irow(kNz), jcol(kNz), ija(kNz + 1);
  std::vector<float> a(2 * kNz), sa(2 * kNz);
  MatricaY(h.bsh.data(), h.ksh.data(), &nsh, &n, z.data(), ya.data(), yb.data(), h.nodes.data(), &nb, irow.data(),
           jcol.data(), a.data(), &nz, sa.data(), ija.data());
  const std::string l(label);
  Ints((l + ".NZ").c_str(), &nz, 1);
  Split(l + ".A", a.data(), kNz, nz);
  Ints((l + ".IJA").c_str(), ija.data(), nz + 1);
  Factors f;
  LUC(&n, &nz, a.data(), irow.data(), jcol.data(), f.iparam, f.rparam, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(),
      f.jcfac.data(), f.ipvt.data(), f.jpvt.data());
  Ints((l + ".NFAC").c_str(), &f.nfac, 1);
  Ints((l + ".IPVT").c_str(), f.ipvt.data(), n);
  Split(l + ".FAC", f.fac.data(), kFac, f.nfac);
  Bits((l + ".RPARAM").c_str(), f.rparam, 5);
  std::vector<float> b(2 * kNd, 0.0f), x(2 * kNd);
  b[node - 1] = 1.0f;
  std::int32_t ipath = 1;
  BSC(&n, &f.nfac, &f.nl, f.fac.data(), f.irfac.data(), f.jcfac.data(), f.ipvt.data(), f.jpvt.data(), b.data(),
      &ipath, x.data());
  Split(l + ".Z", x.data(), kNd, n);
  return x;
}

void FaultRoad(const orvek::casefile::HostArrays &h) {
  std::int32_t n = h.n, nb = h.nb;
  Split("in.Z", h.z.data(), kBr, nb);
  Split("in.YA", h.ya.data(), kBr, nb);
  Split("in.YB", h.yb.data(), kBr, nb);
  Ints("in.NODES", h.nodes.data(), nb);
  Ints("in.NODES2", h.nodes.data() + kBr, nb);
  Bits("in.BSH", h.bsh.data(), h.nsh);

  std::int32_t k = (n + 1) / 2;
  std::vector<float> e(2 * kNd), ub(kNd), va(2 * kNd), vb(2 * kNd), vc(2 * kNd), ifs(6);
  for (int i = 0; i < n; ++i) {
    e[i] = 1.0f;
    ub[i] = 110.0f;
  }
  const std::vector<float> column1 = ImpedanceColumn(h, 1.0f, 1.0f, k, "Y1");
  const std::vector<float> column2 = ImpedanceColumn(h, 1.1f, 1.0f, k, "Y2");
  const std::vector<float> column0 = ImpedanceColumn(h, 3.0f, 0.6f, k, "Y0");
  for (std::int32_t type = 1; type <= 4; ++type) {
    std::vector<float> z1(column1), z2(column2), z0(column0);
    NaponiKV(&n, &type, &k, ub.data(), e.data(), z0.data(), z1.data(), z2.data(), va.data(), vb.data(), vc.data(),
             ifs.data());
    const std::string t = "NaponiKV" + std::to_string(type);
    Split(t + ".IFS", ifs.data(), 3, 3);
    Split(t + ".V1", z1.data(), kNd, n);
    Split(t + ".V0", z0.data(), kNd, n);
    Split(t + ".VA", va.data(), kNd, n);
    Split(t + ".VB", vb.data(), kNd, n);
    if (type == 4) {
      std::vector<float> ie1(2 * kBr), ie2(2 * kBr), se1(2 * kBr), se2(2 * kBr);
      StruiKV(&nb, h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &n, z1.data(), ie1.data(), ie2.data());
      Split("StruiKV.IE1", ie1.data(), kBr, nb);
      Split("StruiKV.IE2", ie2.data(), kBr, nb);
      Sg(h.z.data(), h.ya.data(), h.yb.data(), h.nodes.data(), &nb, z1.data(), &n, se1.data(), se2.data());
      Split("Sg.SE1", se1.data(), kBr, nb);
      Split("Sg.SE2", se2.data(), kBr, nb);
      std::vector<float> x0(2 * kBr), x1(2 * kBr), x2(2 * kBr), xa(2 * kBr), xb(2 * kBr), xc(2 * kBr);
      for (int b = 0; b < nb; ++b) {
        x0[b] = 0.1f * ie1[b], x0[kBr + b] = ie2[kBr + b];
        x1[b] = ie1[b], x1[kBr + b] = ie1[kBr + b];
        x2[b] = ie2[b], x2[kBr + b] = -ie2[kBr + b];
      }
      SimFaz(&nb, x0.data(), x1.data(), x2.data(), xa.data(), xb.data(), xc.data());
      Split("SimFaz.XB", xb.data(), kBr, nb);
      Split("SimFaz.XC", xc.data(), kBr, nb);
    }
  }
}

void DecoupledRoad(const orvek::casefile::Network &pf) {
  const orvek::casefile::HostArrays h = orvek::casefile::MakeHostArrays(pf);
  std::int32_t n = h.n, nb = h.nb, npq = pf.npq, nz1 = 0, nz2 = 0;
  Bits("in.ZBX", h.z_bx.data(), nb);
  Bits("in.T", h.t.data(), nb);
  const auto room = static_cast<std::size_t>(n + 2 * nb);
  std::vector<std::int32_t> irow1(room), jcol1(room), irow2(room), jcol2(room);
  std::vector<float> val1(room), val2(room);
  Matrici_VektoriBX(&n, &npq, h.z_bx.data(), h.t.data(), h.nodes.data(), &nb, irow1.data(), jcol1.data(), val1.data(),
                    &nz1, irow2.data(), jcol2.data(), val2.data(), &nz2);
  Bits("BX.VAL1", val1.data(), nz1);
  Bits("BX.VAL2", val2.data(), nz2);
  Ints("BX.IROW2", irow2.data(), nz2);
  const auto solve = [](const char *label, std::int32_t order, std::int32_t nz, std::vector<std::int32_t> &irow,
                        std::vector<std::int32_t> &jcol, std::vector<float> &val) {
    if (order < 1) return;
    Factors f;
    std::vector<float> fac(static_cast<std::size_t>(3 * nz));
    std::vector<std::int32_t> irfac(fac.size()), jcfac(fac.size());
    LUR(&order, &nz, val.data(), irow.data(), jcol.data(), f.iparam, f.rparam, &f.nfac, &f.nl, fac.data(),
        irfac.data(), jcfac.data(), f.ipvt.data(), f.jpvt.data());
    const std::string l(label);
    Bits((l + ".FAC").c_str(), fac.data(), f.nfac);
    std::vector<float> b(static_cast<std::size_t>(order)), x(b.size());
    for (std::int32_t i = 0; i < order; ++i) b[i] = static_cast<float>((i + 1) * 7919 % 10007) / 10007.0f - 0.5f;
    for (std::int32_t ipath = 1; ipath <= 2; ++ipath) {
      BSR(&order, &f.nfac, &f.nl, fac.data(), irfac.data(), jcfac.data(), f.ipvt.data(), f.jpvt.data(), b.data(),
          &ipath, x.data());
      Bits((l + (ipath == 1 ? ".X1" : ".X2")).c_str(), x.data(), order);
    }
  };
  solve("LUR1", n - 1, nz1, irow1, jcol1, val1);
  solve("LUR2", npq, nz2, irow2, jcol2, val2);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: case_dump <cases folder> <case file>...\n");
    return 2;
  }
  int done = 0;
  for (int i = 2; i < argc; ++i) {
    current = argv[i];
    const std::string path = std::string(argv[1]) + "/" + argv[i];
    if (!std::filesystem::exists(path)) {
      std::printf("%s missing\n", argv[i]);
      continue;
    }
    try {
      const orvek::casefile::Case c = orvek::casefile::ReadCase(path);
      FaultRoad(orvek::casefile::MakeHostArrays(orvek::casefile::BuildNetwork(c)));
      DecoupledRoad(orvek::casefile::BuildNetwork(c, orvek::casefile::NodeOrder::kPowerFlow));
      ++done;
    } catch (const orvek::casefile::CaseError &e) {
      std::printf("%s not usable: %s\n", argv[i], e.what());
    }
  }
  std::fprintf(stderr, "case_dump: %d networks\n", done);
  return 0;
}
